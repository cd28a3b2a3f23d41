// UTF-8 detection and the code page 936 conversions on arbitrary bytes.

#include "FuzzSupport.h"

#include "request/UTF8Unit.h"
#include "util/AnsiCodec.h"

#include <QString>

#include <optional>

namespace {

// The detection rule written out byte by byte, with the pending count and the
// high-byte flag, so that the word-at-a-time scan of the program has a plain
// model to agree with.
bool referenceIsUtf8(const std::string& text)
{
    if (text.empty())
        return false;
    int pending = 0;
    bool high = false;
    for (unsigned char c : text) {
        if (c >= 0x80)
            high = true;
        if (pending > 0) {
            if ((c & 0xC0) != 0x80)
                return false;
            --pending;
            continue;
        }
        if (c <= 0x80)
            pending = 0;
        else if (c <= 0xBF)
            return false;
        else if (c <= 0xDF)
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
            pending = 4;
    }
    return pending == 0 && high;
}

// The characters of strictly well-formed UTF-8 (no overlong form, surrogate or
// value above U+10FFFF); nothing for any other text.
std::optional<std::vector<char32_t>> strictCharacters(const std::string& text)
{
    std::vector<char32_t> out;
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t n = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (c < 0x80) {
            n = 1, cp = c;
        } else if (c >= 0xC0 && c <= 0xDF) {
            n = 2, cp = c & 0x1F, min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3, cp = c & 0x0F, min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF7) {
            n = 4, cp = c & 0x07, min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + n > text.size())
            return std::nullopt;
        for (size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return std::nullopt;
            cp = cp << 6 | (t & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        out.push_back(cp);
        i += n;
    }
    return out;
}

qsizetype characterCount(const QString& s)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < s.size(); ++i, ++count) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
            ++i;
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const QByteArray in = fuzz::qba(bytes);

    const bool isUtf8 = IsUTF8Encoded(in);
    FUZZ_CHECK(isUtf8 == referenceIsUtf8(bytes));
    FUZZ_CHECK(IsUTF8Encoded(reinterpret_cast<const char*>(data), size) == isUtf8);

    bool wellFormed = false;
    const QByteArray ansi = AnsiCodec::utf8ToAnsi(in, &wellFormed);
    const QString shown = AnsiCodec::toUnicode(ansi);
    // Only four-byte forms of two- and three-byte characters take more room.
    FUZZ_CHECK(ansi.size() <= 2 * in.size());
    FUZZ_CHECK(shown.size() <= in.size());
    FUZZ_CHECK_EQ(AnsiCodec::utf8ToAnsi(in), ansi);
    FUZZ_CHECK(wellFormed == strictCharacters(bytes).has_value());
    FUZZ_CHECK_EQ(DecodeUtf8IfEncoded(in), isUtf8 ? ansi : in);

    // Well-formed UTF-8: every character shown as itself, as the widget text
    // of the same characters converts.
    if (wellFormed)
        FUZZ_CHECK(shown == AnsiCodec::toUnicode(AnsiCodec::fromUnicode(QString::fromUtf8(in))));

    // The same bytes read as the ANSI code page: at most one unit per byte, and
    // text without undecodable bytes converts back to exactly the same bytes.
    const QString wide = AnsiCodec::toUnicode(in);
    FUZZ_CHECK(wide.size() <= in.size());
    if (!wide.contains(QChar(0xFFFD)))
        FUZZ_CHECK_EQ(AnsiCodec::fromUnicode(wide), in);

    // The bytes as UTF-16 units (lone surrogates included): every character
    // gives at most four bytes, and reads back as itself (a lone surrogate,
    // which is no character, as '?').
    const QString units(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const QByteArray narrowed = AnsiCodec::fromUnicode(units);
    FUZZ_CHECK(narrowed.size() <= 4 * characterCount(units));
    // A character whose only form code page 936 reads as another one is
    // written as '?' as well.
    QString expected;
    for (qsizetype i = 0; i < units.size(); ++i) {
        const qsizetype n =
            units[i].isHighSurrogate() && i + 1 < units.size() && units[i + 1].isLowSurrogate() ? 2
                                                                                                : 1;
        const QString character = units.mid(i, n);
        i += n - 1;
        const bool lost = character[0].isSurrogate() && n == 1;
        expected +=
            lost || AnsiCodec::fromUnicode(character) == "?" ? QStringLiteral("?") : character;
    }
    FUZZ_CHECK(AnsiCodec::toUnicode(narrowed) == expected);
    return 0;
}
