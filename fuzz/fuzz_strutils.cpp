// The shared string routines: SplitString, JoinRange, the byte-wise letter
// folding of name lookup and the comparison that sorting relies on.
// Input: delimiter, NUL, from, NUL, to (decimal), NUL, text.

#include "FuzzSupport.h"

#include "util/MyStrUtils.h"

namespace {

quint32 position(const std::string& decimal)
{
    quint64 n = 0;
    for (char c : decimal) {
        if (c >= '0' && c <= '9')
            n = n * 10 + quint64(c - '0');
    }
    return quint32(n); // wraps: huge positions are as welcome as small ones
}

std::string referenceJoinRange(const std::vector<std::string>& list, quint32 from, quint32 to)
{
    if (list.empty())
        return {};
    const quint32 last = quint32(list.size() - 1);
    from = std::min(from, last);
    if (to > last || to < from)
        to = last;
    std::string out;
    for (quint32 i = from; i <= to; ++i)
        out += list[i];
    return out;
}

int sign(int x)
{
    return (x > 0) - (x < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> in = fuzz::parts(data, size, 4);
    const std::string &delimiter = in[0], &text = in[3];
    const quint32 from = position(in[1]), to = position(in[2]);

    const ByteList pieces = SplitString(fuzz::qba(text), fuzz::qba(delimiter));
    std::vector<std::string> got;
    for (const QByteArray& p : pieces)
        got.push_back(fuzz::str(p));

    if (delimiter.empty()) {
        FUZZ_CHECK(got == fuzz::lines(text));
        for (const std::string& line : got)
            FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    } else {
        FUZZ_CHECK(got == fuzz::splitAt(text, delimiter));
        // Joined with the delimiter, the pieces give the text back, less a
        // delimiter that ended it.
        const std::string back = fuzz::joined(got, delimiter);
        const bool endsWithCut =
            !got.empty() && back.size() + delimiter.size() == text.size() && text != back;
        FUZZ_CHECK_EQ(endsWithCut ? back + delimiter : back, text);
        for (size_t i = 0; i < got.size(); ++i) {
            // Every cut is at the first occurrence: no piece holds the delimiter,
            // and none starts inside a piece and its delimiter.
            FUZZ_CHECK(got[i].find(delimiter) == std::string::npos);
            if (i + 1 < got.size() || endsWithCut)
                FUZZ_CHECK((got[i] + delimiter).find(delimiter) == got[i].size());
        }
        if (!got.empty() && !endsWithCut)
            FUZZ_CHECK(!got.back().empty());
    }

    const std::string range = referenceJoinRange(got, from, to);
    FUZZ_CHECK_EQ(JoinRange(pieces, from, to), range);
    FUZZ_CHECK_EQ(JoinRange(&pieces, from, to), range);
    FUZZ_CHECK(JoinRange(nullptr, from, to).isEmpty());

    // Folding touches 'A'..'Z' only, also as the second byte of a character;
    // the sorting comparison reads double-byte characters whole and is a
    // consistent order.
    const QByteArray a = fuzz::qba(text), b = fuzz::qba(delimiter);
    FUZZ_CHECK_EQ(AnsiLowerCase(a), fuzz::folded(text));
    const int ab = CompareTextIgnoreCase(a, b);
    FUZZ_CHECK(sign(ab) == fuzz::compareLocale(text, delimiter));
    FUZZ_CHECK(sign(CompareTextIgnoreCase(b, a)) == -sign(ab));
    FUZZ_CHECK(SameTextAnsiLower(a, b) == (fuzz::folded(text) == fuzz::folded(delimiter)));
    if (ab == 0)
        FUZZ_CHECK(SameTextAnsiLower(a, b));

    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    FUZZ_CHECK_EQ(TrimBytes(a), text.substr(begin, end - begin));
    return 0;
}
