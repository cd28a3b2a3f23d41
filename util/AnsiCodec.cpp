#include "util/AnsiCodec.h"

#include "util/Prefault.h"
#include "util/ReqlarkError.h"
#include "util/Utf8Sequence.h"

#include <QSysInfo>

#include <array>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Code page 936 is stateless and maps at most two bytes to one character of
// the Basic Multilingual Plane, so the whole of it fits in two tables. They
// are filled once from iconv itself (the system's definition of the code
// page); the conversions then run at memory speed instead of iconv's
// 150 MB/s, which matters for bodies of many megabytes.

namespace {

constexpr char16_t kReplacement = 0xFFFD;

struct Encoded
{
    quint16 code; // below 0x100 a single byte, otherwise lead << 8 | trail
};

// A character the code page cannot hold: written in its GB18030 form.
constexpr Encoded kUnmappable = {0xFFFF};

struct Cp936Tables
{
    // Unicode BMP -> code page 936.
    std::array<Encoded, 0x10000> encode{};
    // Single bytes -> Unicode (0 for a lead byte or an unused byte; 0x00 is
    // handled before the lookup) and lead/trail pairs -> Unicode (0 = invalid).
    std::array<char16_t, 0x100> single{};
    std::array<char16_t, 0x10000> pair{};
};

class Iconv
{
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) {
            throw ReqlarkError(
                QStringLiteral("系统无法把文本从 %1 转换为 %2：缺少 C 库的 iconv 模块")
                    .arg(QLatin1String(from), QLatin1String(to)));
        }
    }
    ~Iconv() { iconv_close(m_cd); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts `in` whole; returns the number of output bytes, or -1 when
    // iconv refuses any of it.
    int convert(const char* in, size_t inSize, char* out, size_t outSize)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in);
        char* outPtr = out;
        size_t outLeft = outSize;
        if (iconv(m_cd, &inPtr, &inSize, &outPtr, &outLeft) == size_t(-1) || inSize != 0)
            return -1;
        return int(outSize - outLeft);
    }

    // Converts what iconv takes of `in`, up to the first sequence it
    // refuses; returns the input and output bytes used.
    std::pair<size_t, size_t> convertPrefix(const char* in, size_t inSize, char* out,
                                            size_t outSize)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in);
        char* outPtr = out;
        size_t outLeft = outSize;
        iconv(m_cd, &inPtr, &inSize, &outPtr, &outLeft);
        return {size_t(inPtr - in), outSize - outLeft};
    }

private:
    iconv_t m_cd;
};

const char* utf16Name()
{
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
}

std::unique_ptr<Cp936Tables> buildTables()
{
    auto t = std::make_unique<Cp936Tables>();
    Iconv fromAnsi(utf16Name(), "CP936");
    for (int b = 1; b < 0x100; ++b) {
        const char in = char(b);
        char16_t unit;
        if (fromAnsi.convert(&in, 1, reinterpret_cast<char*>(&unit), 2) == 2)
            t->single[size_t(b)] = unit;
    }
    // Every lead/trail pair in one row: iconv stops at each pair it refuses,
    // which is skipped, so 2,400 calls read what took 24,000 one by one.
    std::vector<char> pairs;
    std::vector<quint16> codes;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            pairs.insert(pairs.end(), {char(lead), char(trail)});
            codes.push_back(quint16(lead << 8 | trail));
        }
    }
    std::vector<char16_t> units(codes.size());
    size_t next = 0;
    while (next < codes.size()) {
        const auto [in, out] =
            fromAnsi.convertPrefix(pairs.data() + 2 * next, 2 * (codes.size() - next),
                                   reinterpret_cast<char*>(units.data()), 2 * units.size());
        if (in != out || in % 2 != 0)
            break; // not one character per pair: the rest goes one by one below
        for (size_t i = 0; i < in / 2; ++i)
            t->pair[codes[next + i]] = units[i];
        next += in / 2 + 1;
    }
    for (; next < codes.size(); ++next) {
        char16_t unit;
        if (fromAnsi.convert(pairs.data() + 2 * next, 2, reinterpret_cast<char*>(&unit), 2) == 2)
            t->pair[codes[next]] = unit;
    }
    // The code page is one to one: every character it holds is written as
    // the one byte sequence that reads back as it. So the encoding table is
    // the decoding one turned round, which spares 63,000 calls of iconv at
    // start-up (tests/util/tst_codepage.cpp holds it to iconv's own encoding).
    t->encode.fill(kUnmappable);
    t->encode[0] = {0};
    for (int code = 0x8140; code < 0x10000; ++code) {
        if (const char16_t unit = t->pair[size_t(code)])
            t->encode[unit] = {quint16(code)};
    }
    for (int b = 1; b < 0x100; ++b) {
        if (const char16_t unit = t->single[size_t(b)])
            t->encode[unit] = {quint16(b)};
    }
    return t;
}

const Cp936Tables& tables()
{
    static std::once_flag once;
    static std::unique_ptr<Cp936Tables> built;
    std::call_once(once, [] { built = buildTables(); });
    return *built;
}

// GB18030 is code page 936 with a form for every other character: the same
// bytes for every character code page 936 holds, four bytes (or a pair code
// page 936 leaves unused) for the rest. Those forms are rare in the program's
// text, so they go through iconv one character at a time rather than through
// tables that every start would have to build.
class Gb18030
{
public:
    // The GB18030 bytes of `cp` into `out` (room for four); 0 when there is
    // none, or when it is a pair code page 936 reads as another character.
    static int encode(char32_t cp, char* out)
    {
        char16_t units[2];
        size_t count = 1;
        if (cp >= 0x10000) {
            units[0] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            units[1] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            count = 2;
        } else {
            units[0] = char16_t(cp);
        }
        const std::lock_guard<std::mutex> lock(instance().m_mutex);
        const int n =
            instance().m_encoder.convert(reinterpret_cast<const char*>(units), 2 * count, out, 4);
        if (n == 2 && tables().pair[size_t(quint8(out[0])) << 8 | quint8(out[1])])
            return 0;
        return n == 2 || n == 4 ? n : 0;
    }

    // The character of the GB18030 sequence at `p` that code page 936 does
    // not read: its length (2 or 4) and `cp`, or 0.
    static int decode(const unsigned char* p, size_t left, char32_t& cp)
    {
        if (left < 2 || p[0] < 0x81 || p[0] > 0xFE)
            return 0;
        size_t size = 2;
        if (p[1] >= 0x30 && p[1] <= 0x39) {
            if (left < 4 || p[2] < 0x81 || p[2] > 0xFE || p[3] < 0x30 || p[3] > 0x39)
                return 0;
            size = 4;
        }
        char16_t units[2];
        int n;
        {
            const std::lock_guard<std::mutex> lock(instance().m_mutex);
            n = instance().m_decoder.convert(reinterpret_cast<const char*>(p), size,
                                             reinterpret_cast<char*>(units), sizeof units);
        }
        if (n == 2 && (units[0] < 0xD800 || units[0] > 0xDFFF))
            cp = units[0];
        else if (n == 4 && units[0] >= 0xD800 && units[0] <= 0xDBFF)
            cp = 0x10000 + (char32_t(units[0] - 0xD800) << 10) + (units[1] - 0xDC00);
        else
            return 0;
        // A character code page 936 writes otherwise would not be written
        // back as these bytes.
        if (cp < 0x10000 && tables().encode[cp].code != kUnmappable.code)
            return 0;
        return int(size);
    }

private:
    Gb18030() : m_encoder("GB18030", utf16Name()), m_decoder(utf16Name(), "GB18030") {}
    static Gb18030& instance()
    {
        static Gb18030 converters;
        return converters;
    }

    std::mutex m_mutex;
    Iconv m_encoder;
    Iconv m_decoder;
};

// Length of a UTF-8 unit that is refused: the lead byte and the continuation
// bytes that follow it, up to the count the lead promises. A lone
// continuation byte is a unit of one. One '?' replaces the whole unit, which
// keeps the output no longer than the input.
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
    while (want > 0 && len < left && IsUtf8Continuation(p[len])) {
        ++len;
        --want;
    }
    return len;
}

inline Encoded encoded(const Cp936Tables& t, char32_t cp)
{
    return cp < 0x10000 ? t.encode[cp] : kUnmappable;
}

// The code page 936 bytes of `cp`, else its GB18030 form, else '?'.
inline char* putAnsi(const Encoded& e, char32_t cp, char* out)
{
    if (e.code == kUnmappable.code) {
        const int n = Gb18030::encode(cp, out);
        if (n == 0)
            *out++ = '?';
        return out + n;
    }
    if (e.code < 0x100) {
        *out++ = char(e.code);
    } else {
        *out++ = char(e.code >> 8);
        *out++ = char(e.code & 0xFF);
    }
    return out;
}

// UTF-8 to code page 936 into `o`; returns the end of the output. `refused`
// is set when a byte belonged to no well-formed sequence.
// UTF-8 to code page 936 into `o`, which ends at `oEnd`; returns where the
// input stopped, `end` once all of it is in, and moves `o` past what it wrote.
// `refused` is set when a byte belonged to no well-formed sequence. Only a
// four-byte form can take more room than its input; the conversion stops
// before one when what is left of the input might then not fit.
const unsigned char* convertUtf8(const unsigned char* p, const unsigned char* const end, char*& o,
                                 const char* const oEnd, bool& refused)
{
    const Cp936Tables& t = tables();
    while (p < end) {
        // Runs of ASCII (the markup), eight bytes at a time.
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            std::memcpy(o, p, 8);
            o += 8;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            *o++ = char(c);
            ++p;
            continue;
        }
        char32_t cp = 0;
        size_t n = 0;
        if ((c & 0xF0) == 0xE0 && end - p >= 3 && IsUtf8Continuation(p[1]) &&
            IsUtf8Continuation(p[2])) {
            // The three-byte sequences of Chinese text, without the general decoder.
            cp = char32_t(c & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF))
                n = 3;
        } else {
            n = Utf8SequenceAt(p, size_t(end - p), cp);
        }
        if (n == 0) {
            refused = true;
            p += refusedUtf8Unit(p, size_t(end - p));
            *o++ = '?';
            continue;
        }
        const Encoded e = encoded(t, cp);
        if (e.code == kUnmappable.code && oEnd - o < (end - p - qsizetype(n)) + 4)
            return p;
        p += n;
        o = putAnsi(e, cp, o);
    }
    return p;
}

} // namespace

namespace AnsiCodec {

QByteArray utf8ToAnsi(const QByteArray& utf8, bool* wellFormed)
{
    if (wellFormed)
        *wellFormed = true;
    if (utf8.isEmpty())
        return {};
    bool refused = false;
    // Every character code page 936 holds needs at most as many bytes as in
    // UTF-8, and one '?' replaces each refused unit, so the buffer is the
    // input's size: the heap's reused block of the last body, already in
    // memory. Only the four-byte forms of characters code page 936 lacks may
    // need more; the buffer then grows.
    QByteArray out(utf8.size() + 4, Qt::Uninitialized);
    PrefaultBuffer(out.data(), size_t(out.size()));
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.constData());
    const unsigned char* const end = p + utf8.size();
    qsizetype written = 0;
    for (;;) {
        char* o = out.data() + written;
        p = convertUtf8(p, end, o, out.constData() + out.size(), refused);
        written = o - out.constData();
        if (p == end)
            break;
        out.resize(out.size() + std::max<qsizetype>(out.size() / 4, 64 * 1024));
    }
    out.truncate(written);
    if (wellFormed)
        *wellFormed = !refused;
    // What the truncation left over goes back to the system (Chinese text
    // takes a third less room than in UTF-8).
    if (out.size() < out.capacity() - out.capacity() / 8)
        out.squeeze();
    return out;
}

QByteArray ansiToUtf8(const QByteArray& ansi)
{
    const auto* p = reinterpret_cast<const unsigned char*>(ansi.constData());
    const unsigned char* const end = p + ansi.size();
    const unsigned char* high = p;
    while (end - high >= 8) {
        quint64 word;
        std::memcpy(&word, high, 8);
        if (word & 0x8080808080808080ULL)
            break;
        high += 8;
    }
    while (high < end && *high < 0x80)
        ++high;
    if (high == end)
        return ansi;

    const Cp936Tables& t = tables();
    // A byte gives at most three bytes of UTF-8 (U+FFFD, or the euro sign of
    // 0x80), a four-byte GB18030 form at most four; pages of the buffer that
    // are never written cost nothing.
    QByteArray out(ansi.size() * 3, Qt::Uninitialized);
    const qsizetype prefix = high - p;
    std::memcpy(out.data(), p, size_t(prefix));
    char* o = out.data() + prefix;
    const auto put = [&o](char32_t unit) {
        if (unit < 0x80) {
            *o++ = char(unit);
            return;
        }
        if (unit < 0x800) {
            *o++ = char(0xC0 | unit >> 6);
        } else if (unit < 0x10000) {
            *o++ = char(0xE0 | unit >> 12);
            *o++ = char(0x80 | (unit >> 6 & 0x3F));
        } else {
            *o++ = char(0xF0 | unit >> 18);
            *o++ = char(0x80 | (unit >> 12 & 0x3F));
            *o++ = char(0x80 | (unit >> 6 & 0x3F));
        }
        *o++ = char(0x80 | (unit & 0x3F));
    };
    p = high;
    while (p < end) {
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            std::memcpy(o, p, 8);
            o += 8;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned char c = *p++;
        if (c < 0x80) {
            *o++ = char(c);
        } else if (const char16_t one = t.single[c]) {
            put(one);
        } else if (p < end && t.pair[size_t(c) << 8 | *p]) {
            put(t.pair[size_t(c) << 8 | *p]);
            ++p;
        } else if (char32_t cp; const int n = Gb18030::decode(p - 1, size_t(end - p + 1), cp)) {
            put(cp);
            p += n - 1;
        } else {
            put(kReplacement);
        }
    }
    out.truncate(o - out.constData());
    out.squeeze();
    return out;
}

QString toUnicode(const QByteArray& ansi)
{
    if (ansi.isEmpty())
        return {};
    const Cp936Tables& t = tables();
    // Every byte gives at most one UTF-16 unit (four bytes at most two).
    QString out(ansi.size(), Qt::Uninitialized);
    PrefaultBuffer(out.data(), size_t(out.size()) * 2);
    const auto* p = reinterpret_cast<const unsigned char*>(ansi.constData());
    const unsigned char* const end = p + ansi.size();
    auto* o = reinterpret_cast<char16_t*>(out.data());
    while (p < end) {
        const unsigned char c = *p++;
        if (c < 0x80) {
            *o++ = c;
            continue;
        }
        if (const char16_t one = t.single[c]) {
            *o++ = one;
            continue;
        }
        // A lead byte: with a valid trail the pair is one character; a byte
        // that starts no valid sequence shows as U+FFFD and the next byte is
        // read afresh.
        if (p < end) {
            if (const char16_t two = t.pair[size_t(c) << 8 | *p]) {
                *o++ = two;
                ++p;
                continue;
            }
        }
        if (char32_t cp; const int n = Gb18030::decode(p - 1, size_t(end - p + 1), cp)) {
            if (cp >= 0x10000) {
                *o++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
                *o++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                *o++ = char16_t(cp);
            }
            p += n - 1;
            continue;
        }
        *o++ = kReplacement;
    }
    out.truncate(o - reinterpret_cast<const char16_t*>(out.constData()));
    return out;
}

QByteArray fromUnicode(const QString& text)
{
    if (text.isEmpty())
        return {};
    const Cp936Tables& t = tables();
    // Four bytes at most for a character of one unit (its GB18030 form).
    QByteArray out(text.size() * 4, Qt::Uninitialized);
    const auto* p = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = p + text.size();
    char* o = out.data();
    while (p < end) {
        const char16_t unit = *p++;
        if (unit < 0x80) {
            *o++ = char(unit);
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            // A character beyond the BMP (a surrogate pair is one character)
            // has a four-byte form; a lone surrogate is no character.
            if (unit <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
                const char32_t cp = 0x10000 + (char32_t(unit - 0xD800) << 10) + (*p++ - 0xDC00);
                o = putAnsi(kUnmappable, cp, o);
            } else {
                *o++ = '?';
            }
            continue;
        }
        o = putAnsi(t.encode[unit], unit, o);
    }
    out.truncate(o - out.constData());
    if (out.size() < out.capacity() / 2)
        out.squeeze();
    return out;
}

} // namespace AnsiCodec
