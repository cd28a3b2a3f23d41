#include "request/BodyCharset.h"

#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"

#include <QStringDecoder>

#include <uchardet/uchardet.h>

#include <cstring>
#include <memory>
#include <type_traits>

namespace {

// Browsers look for a <meta> declaration within this many bytes.
constexpr qsizetype kPrescanBytes = 1024;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

QByteArray trimmedLower(QByteArray text)
{
    return AnsiLowerCase(TrimBytes(text));
}

// The value of a charset parameter in a Content-Type value, or in the
// content attribute of a <meta http-equiv>: "charset", optional blanks, "=",
// optional blanks, then a quoted text or the bytes up to a blank or ";".
QByteArray charsetParameter(const QByteArray& value)
{
    const QByteArray lowered = AnsiLowerCase(value);
    qsizetype at = 0;
    for (;;) {
        at = lowered.indexOf("charset", at);
        if (at < 0)
            return QByteArray();
        at += 7;
        qsizetype p = at;
        while (p < value.size() && isSpace(value[p]))
            ++p;
        if (p >= value.size() || value[p] != '=')
            continue;
        ++p;
        while (p < value.size() && isSpace(value[p]))
            ++p;
        if (p >= value.size())
            return QByteArray();
        const char quote = value[p];
        if (quote == '"' || quote == '\'') {
            const qsizetype close = value.indexOf(quote, p + 1);
            return close < 0 ? QByteArray() : trimmedLower(value.mid(p + 1, close - p - 1));
        }
        qsizetype end = p;
        while (end < value.size() && !isSpace(value[end]) && value[end] != ';')
            ++end;
        return trimmedLower(value.mid(p, end - p));
    }
}

QByteArray headerCharset(const QByteArray& headers)
{
    QByteArray charset;
    bool found = false;
    for (const QByteArray& line : SplitString(headers, QByteArray())) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || !SameTextAnsiLower(TrimBytes(line.left(colon)), "content-type"))
            continue;
        // The last Content-Type line is the one that counts.
        charset = charsetParameter(line.mid(colon + 1));
        found = true;
    }
    return found ? charset : QByteArray();
}

// Reads the attributes of a tag from the prescan window, lower-cased, as
// browsers do before a page is parsed.
class AttributeReader
{
public:
    AttributeReader(const char* data, qsizetype size, qsizetype& at)
        : m_data(data), m_size(size), m_at(at)
    {
    }

    // False at the end of the tag or of the window.
    bool next(QByteArray& name, QByteArray& value)
    {
        name.clear();
        value.clear();
        while (m_at < m_size && (isSpace(m_data[m_at]) || m_data[m_at] == '/'))
            ++m_at;
        if (m_at >= m_size || m_data[m_at] == '>')
            return false;
        for (;; ++m_at) {
            if (m_at >= m_size)
                return false;
            const char c = m_data[m_at];
            if (c == '=' && !name.isEmpty()) {
                ++m_at;
                return readValue(value);
            }
            if (isSpace(c))
                break;
            if (c == '/' || c == '>')
                return true;
            name += lower(c);
        }
        while (m_at < m_size && isSpace(m_data[m_at]))
            ++m_at;
        if (m_at >= m_size)
            return false;
        if (m_data[m_at] != '=')
            return true;
        ++m_at;
        return readValue(value);
    }

private:
    bool readValue(QByteArray& value)
    {
        while (m_at < m_size && isSpace(m_data[m_at]))
            ++m_at;
        if (m_at >= m_size)
            return false;
        const char quote = m_data[m_at];
        if (quote == '"' || quote == '\'') {
            for (++m_at; m_at < m_size; ++m_at) {
                if (m_data[m_at] == quote) {
                    ++m_at;
                    return true;
                }
                value += lower(m_data[m_at]);
            }
            return false;
        }
        if (quote == '>')
            return true;
        for (; m_at < m_size; ++m_at) {
            const char c = m_data[m_at];
            if (isSpace(c) || c == '>')
                return true;
            value += lower(c);
        }
        return false;
    }

    const char* m_data;
    qsizetype m_size;
    qsizetype& m_at;
};

// The charset of one <meta> tag, read from just after "<meta"; empty when the
// tag declares none.
QByteArray metaCharset(const char* data, qsizetype size, qsizetype& at)
{
    AttributeReader attributes(data, size, at);
    QByteArray name, value, charset;
    QList<QByteArray> seen;
    bool gotPragma = false;
    enum { Unknown, Needed, NotNeeded } pragma = Unknown;
    while (attributes.next(name, value)) {
        if (seen.contains(name))
            continue;
        seen.append(name);
        if (name == "http-equiv") {
            gotPragma = gotPragma || value == "content-type";
        } else if (name == "content") {
            if (charset.isEmpty()) {
                charset = charsetParameter(value);
                if (!charset.isEmpty())
                    pragma = Needed;
            }
        } else if (name == "charset") {
            charset = trimmedLower(value);
            pragma = NotNeeded;
        }
    }
    if (pragma == Unknown || (pragma == Needed && !gotPragma))
        return QByteArray();
    // A page cannot declare itself UTF-16 from inside: it is ASCII-compatible
    // to have been read this far.
    if (charset == "utf-16" || charset == "utf-16le" || charset == "utf-16be")
        return "utf-8";
    return charset;
}

QByteArray prescanCharset(const QByteArray& body)
{
    const char* data = body.constData();
    const qsizetype size = qMin(body.size(), kPrescanBytes);
    const auto startsWith = [&](qsizetype at, const char* text) {
        const qsizetype n = qsizetype(std::strlen(text));
        if (at + n > size)
            return false;
        for (qsizetype i = 0; i < n; ++i) {
            if (lower(data[at + i]) != text[i])
                return false;
        }
        return true;
    };
    qsizetype at = 0;
    while (at < size) {
        if (data[at] != '<') {
            ++at;
            continue;
        }
        if (startsWith(at, "<!--")) {
            // The hyphens of "<!--" may be those of its "-->".
            const qsizetype end = body.left(size).indexOf("-->", at + 2);
            if (end < 0)
                return QByteArray();
            at = end + 3;
        } else if (startsWith(at, "<meta") && at + 5 < size &&
                   (isSpace(data[at + 5]) || data[at + 5] == '/')) {
            at += 5;
            const QByteArray charset = metaCharset(data, size, at);
            if (!charset.isEmpty())
                return charset;
        } else if (at + 1 < size &&
                   (isAsciiLetter(data[at + 1]) ||
                    (data[at + 1] == '/' && at + 2 < size && isAsciiLetter(data[at + 2])))) {
            // Another tag: its attributes are passed over whole, so that a
            // "<meta" inside one of their values does not count.
            at += 1;
            while (at < size && !isSpace(data[at]) && data[at] != '>')
                ++at;
            QByteArray name, value;
            AttributeReader attributes(data, size, at);
            while (attributes.next(name, value)) {
            }
        } else if (startsWith(at, "<!") || startsWith(at, "</") || startsWith(at, "<?")) {
            const qsizetype end = body.left(size).indexOf('>', at);
            if (end < 0)
                return QByteArray();
            at = end + 1;
        } else {
            ++at;
        }
    }
    return QByteArray();
}

bool isAscii(const QByteArray& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const unsigned char* const end = p + text.size();
    for (; end - p >= 8; p += 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; p < end; ++p) {
        if (*p >= 0x80)
            return false;
    }
    return true;
}

bool isCodePage936Label(const QByteArray& label)
{
    static const char* const labels[] = {"gbk", "gb2312", "x-gbk", "cp936", "windows-936",
                                         "chinese", "csgb2312", "csiso58gb231280", "gb_2312",
                                         "gb_2312-80", "iso-ir-58", "ms936"};
    for (const char* known : labels) {
        if (label == known)
            return true;
    }
    return false;
}

// Browsers read every label of the Latin-1 family, and plain ASCII, as
// windows-1252, which gives 0x80..0x9F their printable characters.
QByteArray decoderName(const QByteArray& label)
{
    static const char* const latin1[] = {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1",
                                         "l1", "us-ascii", "ascii", "ansi_x3.4-1968", "cp1252",
                                         "cp819", "csisolatin1", "ibm819", "iso-ir-100",
                                         "iso88591", "iso_8859-1:1987", "x-cp1252"};
    for (const char* known : latin1) {
        if (label == known)
            return "windows-1252";
    }
    return label;
}

QByteArray decodeToUtf8(const QByteArray& body, QStringDecoder& decoder)
{
    return QString(decoder.decode(body)).toUtf8();
}

// Whether the set reads text of ASCII bytes as those characters. UTF-16 and
// UTF-32 do not, nor do the 7-bit sets (ISO-2022-JP and -KR, HZ, UTF-7),
// whose escapes and shifts turn ASCII bytes into other characters.
bool readsAsciiAsItself(const QByteArray& name)
{
    QByteArray probe = "\t\r\n\x1B$B\x1B$)C\x0E\x0F\x1B(B~{~}+AGE-";
    for (char c = ' '; c < 0x7F; ++c)
        probe += c;
    QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless);
    return QString(decoder.decode(probe)) == QLatin1String(probe);
}

// The detector has seen enough of a page's characters well before this; a
// larger body only costs time.
constexpr qsizetype kDetectionBytes = 256 * 1024;

// Sets the detector names that hold East Asian text or Unicode: what it says
// of those is taken as it is.
bool isMultiByteSet(const QByteArray& name)
{
    static const char* const sets[] = {
        "gb18030",  "big5",        "euc-tw",      "shift_jis",   "euc-jp",     "euc-kr", "uhc",
        "johab",    "iso-2022-jp", "iso-2022-kr", "iso-2022-cn", "hz-gb-2312", "utf-8",  "utf-16",
        "utf-16le", "utf-16be",    "utf-32",      "utf-32le",    "utf-32be"};
    for (const char* set : sets) {
        if (name == set)
            return true;
    }
    return false;
}

// Whether `sample` reads as Chinese text in code page 936: well-formed, with
// at least four in five of its characters among the frequent ones (the
// punctuation rows and the first level of GB2312). Short Chinese texts are
// what the detector mistakes for a single-byte set; text of a single-byte
// set read as code page 936 is mostly characters of the rarer rows.
bool readsAsChineseText(const QByteArray& sample)
{
    const auto* p = reinterpret_cast<const unsigned char*>(sample.constData());
    const qsizetype n = sample.size();
    qsizetype characters = 0;
    qsizetype frequent = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char lead = p[i];
        if (lead < 0x80)
            continue;
        if (i + 1 == n)
            break; // cut off by the end of the sample
        const unsigned char trail = p[i + 1];
        if (lead == 0x80 || lead == 0xFF || trail < 0x40 || trail == 0x7F || trail == 0xFF)
            return false;
        ++characters;
        if (lead >= 0xA1 && lead <= 0xD7 && trail >= 0xA1)
            ++frequent;
        ++i;
    }
    return characters > 0 && frequent * 5 >= characters * 4;
}

// Whether the text holds characters in GB18030's four-byte form, which code
// page 936 does not have.
bool holdsFourByteForms(const QByteArray& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (p[i] < 0x81)
            continue;
        if (p[i + 1] >= 0x30 && p[i + 1] <= 0x39)
            return true;
        ++i;
    }
    return false;
}

// The character set uchardet recognises in a body that declares none,
// lower-cased; empty when it recognises none, or when the body reads as
// Chinese text as well as in the single-byte set it names.
QByteArray detectedCharset(const QByteArray& body)
{
    const QByteArray sample = body.left(kDetectionBytes);
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
        uchardet_new(), uchardet_delete);
    if (!detector ||
        uchardet_handle_data(detector.get(), sample.constData(), size_t(sample.size())) != 0)
        return QByteArray();
    uchardet_data_end(detector.get());
    const QByteArray name = AnsiLowerCase(QByteArray(uchardet_get_charset(detector.get())));
    if (name.isEmpty() || (!isMultiByteSet(name) && readsAsChineseText(sample)))
        return QByteArray();
    // The detector's name for the Korean superset of EUC-KR.
    return name == "uhc" ? QByteArray("windows-949") : name;
}

} // namespace

QByteArray DeclaredCharset(const QByteArray& responseHeaders, const QByteArray& body)
{
    const QByteArray declared = headerCharset(responseHeaders);
    return declared.isEmpty() ? prescanCharset(body) : declared;
}

QByteArray BodyToUtf8(const QByteArray& body, const QByteArray& declaredCharset)
{
    return BodyToUtf8(body, declaredCharset, body.isValidUtf8());
}

QByteArray BodyToUtf8(const QByteArray& body, const QByteArray& declaredCharset, bool validUtf8)
{
    // A byte order mark says more than any declaration, as browsers read it.
    if (body.startsWith("\xFE\xFF") || body.startsWith("\xFF\xFE")) {
        QStringDecoder byMark(QStringDecoder::Utf16, QStringDecoder::Flag::Stateless);
        return decodeToUtf8(body, byMark);
    }
    const QByteArray label = trimmedLower(declaredCharset);
    const QByteArray name =
        label.isEmpty() || isCodePage936Label(label) ? QByteArray() : decoderName(label);
    QStringDecoder decoder;
    if (!name.isEmpty())
        decoder = QStringDecoder(name.constData(), QStringDecoder::Flag::Stateless);
    // ASCII bytes are well-formed UTF-8, and plain text in most sets; in the
    // others only the declaration tells what they are.
    const bool asciiIsText = !decoder.isValid() || readsAsciiAsItself(name);
    if (!asciiIsText && isAscii(body))
        return decodeToUtf8(body, decoder);
    if (validUtf8)
        return body;
    if (body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(body).toUtf8();
    if (decoder.isValid())
        return asciiIsText && isAscii(body) ? body : decodeToUtf8(body, decoder);
    // Nothing declared: the detector's reading, else code page 936 (also for
    // GB18030 text that keeps to the characters code page 936 has, which
    // this program reads as the system did).
    if (label.isEmpty() && !isAscii(body)) {
        const QByteArray detected = decoderName(detectedCharset(body));
        if (!detected.isEmpty() && (detected != "gb18030" || holdsFourByteForms(body))) {
            QStringDecoder byDetection(detected.constData(), QStringDecoder::Flag::Stateless);
            if (byDetection.isValid())
                return decodeToUtf8(body, byDetection);
        }
    }
    return AnsiCodec::ansiToUtf8(body);
}
