#pragma once

// Shared by the libFuzzer targets: property checks that stop the run, the
// split of one input into several texts, and plain std::string versions of
// the byte rules (letter folding, splitting) that the references are built
// from. The references never call the routines they are checking.

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

inline std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline std::string str(const QByteArray& bytes)
{
    return std::string(bytes.constData(), size_t(bytes.size()));
}

inline QByteArray qba(const std::string& bytes)
{
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// A property that does not hold is a finding like a crash: libFuzzer keeps the
// input that led here as a crash file, and the message says what failed.
[[noreturn]] inline void fail(const char* file, int line, const char* what, const std::string& got,
                              const std::string& expected)
{
    std::fprintf(stderr, "\n%s:%d: property violated: %s\n", file, line, what);
    if (!got.empty() || !expected.empty()) {
        std::fprintf(stderr, "  got      (hex): %s\n", hex(got).c_str());
        std::fprintf(stderr, "  expected (hex): %s\n", hex(expected).c_str());
    }
    std::fflush(stderr);
    std::abort();
}

// The input as `count` texts separated by NUL bytes; the last text takes the
// rest, NUL bytes included. Missing texts are empty.
inline std::vector<std::string> parts(const uint8_t* data, size_t size, size_t count)
{
    std::vector<std::string> out(count);
    const char* p = reinterpret_cast<const char*>(data);
    const char* const end = p + size;
    for (size_t i = 0; i < count; ++i) {
        const char* stop = i + 1 < count ? std::find(p, end, '\0') : end;
        out[i].assign(p, stop);
        p = stop == end ? end : stop + 1;
    }
    return out;
}

inline char foldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline std::string folded(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), foldAscii);
    return s;
}

// The documented collation: the text is read as code page 936 characters (a
// lead byte 0x81..0xFE with a trail byte 0x40..0xFE other than 0x7F is one
// character, kept as it is); 'A'..'Z' standing alone fold to 'a'..'z'; the
// results compare byte by byte as unsigned values, a proper prefix first.
inline std::string collationKey(const std::string& s)
{
    std::string key;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const bool pair = c >= 0x81 && c <= 0xFE && i + 1 < s.size() &&
                          static_cast<unsigned char>(s[i + 1]) >= 0x40 &&
                          static_cast<unsigned char>(s[i + 1]) != 0x7F &&
                          static_cast<unsigned char>(s[i + 1]) != 0xFF;
        if (pair) {
            key += s.substr(i, 2);
            i += 2;
        } else {
            key += foldAscii(s[i]);
            ++i;
        }
    }
    return key;
}

inline int compareLocale(const std::string& a, const std::string& b)
{
    const std::string x = collationKey(a), y = collationKey(b);
    const size_t n = std::min(x.size(), y.size());
    for (size_t i = 0; i < n; ++i) {
        const auto p = static_cast<unsigned char>(x[i]);
        const auto q = static_cast<unsigned char>(y[i]);
        if (p != q)
            return p < q ? -1 : 1;
    }
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

// Pieces between occurrences of a non-empty delimiter, searched left to right;
// the remainder after the last one counts only when it is not empty.
inline std::vector<std::string> splitAt(const std::string& text, const std::string& delimiter)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t hit; (hit = text.find(delimiter, start)) != std::string::npos;) {
        pieces.push_back(text.substr(start, hit - start));
        start = hit + delimiter.size();
    }
    if (start < text.size())
        pieces.push_back(text.substr(start));
    return pieces;
}

// Lines ending at CR LF, CR or LF; a final line break gives no extra line.
inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::string current;
    bool open = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out.push_back(current);
            current.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            current += c;
            open = true;
        }
    }
    if (open)
        out.push_back(current);
    return out;
}

inline std::string joined(const std::vector<std::string>& pieces, const std::string& separator)
{
    std::string out;
    for (size_t i = 0; i < pieces.size(); ++i)
        out += (i ? separator : std::string()) + pieces[i];
    return out;
}

} // namespace fuzz

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fuzz::fail(__FILE__, __LINE__, #cond, {}, {});                                       \
    } while (0)

#define FUZZ_CHECK_EQ(got, expected)                                                               \
    do {                                                                                           \
        const std::string got_ = ::fuzz::toStd(got);                                               \
        const std::string expected_ = ::fuzz::toStd(expected);                                     \
        if (got_ != expected_)                                                                     \
            ::fuzz::fail(__FILE__, __LINE__, #got " == " #expected, got_, expected_);              \
    } while (0)

namespace fuzz {
inline std::string toStd(const std::string& s)
{
    return s;
}
inline std::string toStd(const QByteArray& s)
{
    return str(s);
}
} // namespace fuzz
