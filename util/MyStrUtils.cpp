#include "util/MyStrUtils.h"

#include <algorithm>
#include <cstring>

namespace {

inline char lowerByte(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

ByteList splitLines(const QByteArray& text)
{
    ByteList lines;
    const char* p = text.constData();
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = p[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == '\r' && i + 1 < n && p[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

} // namespace

ByteList SplitString(const QByteArray& text, const QByteArray& delimiter)
{
    if (delimiter.isEmpty())
        return splitLines(text);
    ByteList pieces;
    qsizetype start = 0;
    for (;;) {
        const qsizetype hit = text.indexOf(delimiter, start);
        if (hit < 0)
            break;
        pieces.append(text.mid(start, hit - start));
        start = hit + delimiter.size();
    }
    if (start < text.size())
        pieces.append(text.mid(start));
    return pieces;
}

QByteArray JoinRange(const ByteList& list, quint32 from, quint32 to)
{
    if (list.isEmpty())
        return {};
    const quint32 last = quint32(list.size() - 1);
    if (from > last)
        from = last;
    if (to > last || to < from)
        to = last;
    qsizetype total = 0;
    for (quint32 i = from; i <= to; ++i)
        total += list[qsizetype(i)].size();
    QByteArray out;
    out.reserve(total);
    for (quint32 i = from; i <= to; ++i)
        out.append(list[qsizetype(i)]);
    return out;
}

QByteArray JoinRange(const ByteList* list, quint32 from, quint32 to)
{
    return list ? JoinRange(*list, from, to) : QByteArray();
}

QByteArray AnsiLowerCase(QByteArray text)
{
    char* p = text.data();
    for (qsizetype i = 0, n = text.size(); i < n; ++i)
        p[i] = lowerByte(p[i]);
    return text;
}

bool SameTextAnsiLower(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    const char* pa = a.constData();
    const char* pb = b.constData();
    for (qsizetype i = 0, n = a.size(); i < n; ++i) {
        if (lowerByte(pa[i]) != lowerByte(pb[i]))
            return false;
    }
    return true;
}

QByteArray TrimBytes(const QByteArray& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

namespace {

// Code page 936: a lead byte 0x81..0xFE and the byte after it are one
// character. (A byte that cannot be a trail, below 0x40, 0x7F or 0xFF, is no
// letter and no lead either, so taking it as a trail changes nothing.)
inline bool isLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

} // namespace

int CompareTextIgnoreCase(const QByteArray& a, const QByteArray& b)
{
    // Each text keeps its own reading of where its double-byte characters
    // are, so that "\xB0\x41" (one character) never meets "\xB0\x61" as equal.
    const auto* pa = reinterpret_cast<const unsigned char*>(a.constData());
    const auto* pb = reinterpret_cast<const unsigned char*>(b.constData());
    const qsizetype na = a.size();
    const qsizetype nb = b.size();
    const qsizetype n = std::min(na, nb);
    bool trailA = false;
    bool trailB = false;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char ca =
            trailA ? pa[i] : static_cast<unsigned char>(lowerByte(char(pa[i])));
        const unsigned char cb =
            trailB ? pb[i] : static_cast<unsigned char>(lowerByte(char(pb[i])));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        trailA = !trailA && isLeadByte(pa[i]);
        trailB = !trailB && isLeadByte(pb[i]);
    }
    if (na == nb)
        return 0;
    return na < nb ? -1 : 1;
}

bool IsHttpToken(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && (c == 0 || !std::strchr("!#$%&'*+-.^_`|~", c)))
            return false;
    }
    return true;
}

QByteArray FoldLineBreaks(const QByteArray& text)
{
    if (!text.contains('\r') && !text.contains('\n'))
        return text;
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out.append(' ');
        } else {
            out.append(c);
        }
    }
    return out;
}

bool HoldsLineBreakOrNul(const QByteArray& text)
{
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
}
