#include "util/AnsiCodec.h"

#include "util/ReqlarkError.h"

#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

const char* utf16Name()
{
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
}

// One conversion descriptor per direction and thread, opened on first use and
// reset before each conversion; opening iconv costs more than converting a
// short text.
class Converter
{
public:
    Converter(const char* to, const char* from)
    {
        m_cd = iconv_open(to, from);
        if (m_cd == reinterpret_cast<iconv_t>(-1)) {
            throw ReqlarkError(QStringLiteral("The system cannot convert text from %1 to %2: "
                                              "the C library's iconv modules are missing")
                                   .arg(QLatin1String(from), QLatin1String(to)));
        }
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    iconv_t reset()
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        return m_cd;
    }

private:
    iconv_t m_cd;
};

Converter& utf8ToAnsiConverter()
{
    thread_local Converter c("CP936", "UTF-8");
    return c;
}

Converter& ansiToUtf16Converter()
{
    thread_local Converter c(utf16Name(), "CP936");
    return c;
}

Converter& utf16ToAnsiConverter()
{
    thread_local Converter c("CP936", utf16Name());
    return c;
}

// Length of the UTF-8 unit that iconv refused at `p`: the lead byte and the
// continuation bytes that follow it, up to the count the lead promises. A lone
// continuation byte is a unit of one. Replacing a whole unit by one '?' keeps
// the output no longer than the input.
size_t refusedUtf8Unit(const unsigned char* p, size_t left)
{
    const unsigned char c = p[0];
    size_t want = 0;
    if (c >= 0xC0 && c <= 0xDF)
        want = 1;
    else if (c >= 0xE0 && c <= 0xEF)
        want = 2;
    else if (c >= 0xF0 && c <= 0xF7)
        want = 3;
    else if ((c >= 0xF8 && c <= 0xFB) || c >= 0xFE)
        want = 4;
    else if (c >= 0xFC && c <= 0xFD)
        want = 5;
    size_t len = 1;
    while (want > 0 && len < left && (p[len] & 0xC0) == 0x80) {
        ++len;
        --want;
    }
    return len;
}

} // namespace

namespace AnsiCodec {

QByteArray utf8ToAnsi(const QByteArray& utf8)
{
    if (utf8.isEmpty())
        return {};
    iconv_t cd = utf8ToAnsiConverter().reset();
    // Code page 936 needs at most as many bytes as UTF-8 for every character
    // it holds, and one '?' replaces each refused unit, so the input size is
    // always enough.
    QByteArray out(utf8.size(), Qt::Uninitialized);
    char* in = const_cast<char*>(utf8.constData());
    size_t inLeft = size_t(utf8.size());
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        if (errno == E2BIG) {
            // Not reachable for code page 936; grow anyway rather than lose text.
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() + qsizetype(inLeft) + 16);
            outPtr = out.data() + used;
            outLeft = size_t(out.size() - used);
            continue;
        }
        // EILSEQ (a character the code page lacks, or a malformed sequence) or
        // EINVAL (the text ends inside a sequence): one '?' for the unit.
        const size_t skip = refusedUtf8Unit(reinterpret_cast<unsigned char*>(in), inLeft);
        in += skip;
        inLeft -= skip;
        if (outLeft == 0) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() + 16);
            outPtr = out.data() + used;
            outLeft = size_t(out.size() - used);
        }
        *outPtr++ = '?';
        --outLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.truncate(outPtr - out.data());
    return out;
}

QString toUnicode(const QByteArray& ansi)
{
    if (ansi.isEmpty())
        return {};
    iconv_t cd = ansiToUtf16Converter().reset();
    // Every byte gives at most one UTF-16 unit.
    QString out(ansi.size(), Qt::Uninitialized);
    char* in = const_cast<char*>(ansi.constData());
    size_t inLeft = size_t(ansi.size());
    char* outPtr = reinterpret_cast<char*>(out.data());
    size_t outLeft = size_t(out.size()) * 2;
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        if (errno == E2BIG) // cannot happen: one unit per byte at most
            break;
        // A byte that starts no valid sequence: show U+FFFD and go on after it.
        ++in;
        --inLeft;
        const char16_t replacement = 0xFFFD;
        memcpy(outPtr, &replacement, 2);
        outPtr += 2;
        outLeft -= 2;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.truncate((outPtr - reinterpret_cast<char*>(out.data())) / 2);
    return out;
}

QByteArray fromUnicode(const QString& text)
{
    if (text.isEmpty())
        return {};
    iconv_t cd = utf16ToAnsiConverter().reset();
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char* in = reinterpret_cast<char*>(const_cast<QChar*>(text.constData()));
    size_t inLeft = size_t(text.size()) * 2;
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        if (errno == E2BIG)
            break;
        // A character the code page lacks (a surrogate pair is one character).
        char16_t unit;
        memcpy(&unit, in, 2);
        size_t skip = 2;
        if (unit >= 0xD800 && unit <= 0xDBFF && inLeft >= 4) {
            char16_t next;
            memcpy(&next, in + 2, 2);
            if (next >= 0xDC00 && next <= 0xDFFF)
                skip = 4;
        }
        in += skip;
        inLeft -= skip;
        *outPtr++ = '?';
        --outLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.truncate(outPtr - out.data());
    return out;
}

} // namespace AnsiCodec
