#include "request/UTF8Unit.h"

#include "util/AnsiCodec.h"

bool IsUTF8Encoded(const char* data, size_t size)
{
    if (size == 0)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* const end = p + size;
    unsigned pending = 0;
    bool high = false;
    while (p < end) {
        const unsigned char c = *p++;
        if (c >= 0x80)
            high = true;
        if (pending > 0) {
            if ((c & 0xC0) != 0x80)
                return false;
            --pending;
            continue;
        }
        if (c <= 0x80) // 0x80 counts as a single byte
            continue;
        if (c <= 0xBF)
            return false;
        if (c <= 0xDF)
            pending = 1;
        else if (c <= 0xEF)
            pending = 2;
        else if (c <= 0xF7)
            pending = 3;
        else if (c <= 0xFB)
            pending = 4;
        else if (c <= 0xFD)
            pending = 5;
        else
            pending = 4; // 0xFE and 0xFF lead like 0xF8..0xFB
    }
    return pending == 0 && high;
}

bool IsUTF8Encoded(const QByteArray& text)
{
    return IsUTF8Encoded(text.constData(), size_t(text.size()));
}

QByteArray DecodeUtf8IfEncoded(const QByteArray& text)
{
    return IsUTF8Encoded(text) ? AnsiCodec::utf8ToAnsi(text) : text;
}
