#include "request/UTF8Unit.h"

#include "util/AnsiCodec.h"

#include <cstring>

namespace {

// Continuation bytes promised by the lead bytes 0xC0..0xFF. 0xFE and 0xFF
// lead like 0xF8..0xFB.
constexpr unsigned char kContinuations[64] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 4, 4};

inline bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

} // namespace

bool IsUTF8Encoded(const char* data, size_t size)
{
    if (size == 0)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* const end = p + size;
    bool high = false;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            // Runs of ASCII, eight bytes at a time.
            ++p;
            while (end - p >= 8) {
                quint64 word;
                std::memcpy(&word, p, 8);
                if (word & 0x8080808080808080ULL)
                    break;
                p += 8;
            }
            continue;
        }
        high = true;
        if (c >= 0xE0 && c <= 0xEF) {
            // The three-byte sequences of Chinese text, checked in one go.
            if (end - p < 3)
                return false;
            quint16 pair;
            std::memcpy(&pair, p + 1, 2);
            if ((pair & 0xC0C0) != 0x8080)
                return false;
            p += 3;
            continue;
        }
        ++p;
        if (c == 0x80) // counts as a single byte
            continue;
        if (c <= 0xBF)
            return false;
        // Any other lead byte: its whole sequence is checked at once. A text
        // that ends inside the sequence is not UTF-8 either.
        const unsigned k = kContinuations[c - 0xC0];
        if (size_t(end - p) < k)
            return false;
        switch (k) {
        case 5:
            if (!isContinuation(p[4]))
                return false;
            [[fallthrough]];
        case 4:
            if (!isContinuation(p[3]))
                return false;
            [[fallthrough]];
        case 3:
            if (!isContinuation(p[2]))
                return false;
            [[fallthrough]];
        case 2:
            if (!isContinuation(p[1]))
                return false;
            [[fallthrough]];
        default:
            if (!isContinuation(p[0]))
                return false;
        }
        p += k;
    }
    return high;
}

bool IsUTF8Encoded(const QByteArray& text)
{
    return IsUTF8Encoded(text.constData(), size_t(text.size()));
}

QByteArray DecodeUtf8IfEncoded(const QByteArray& text)
{
    return IsUTF8Encoded(text) ? AnsiCodec::utf8ToAnsi(text) : text;
}
