// Cookie collection from response headers and the merge into the Cookie row.
// Input: header text, NUL, old Cookie value.

#include "FuzzSupport.h"

#include "request/untXmlHttp.h"

namespace {

using fuzz::compareLocale;
using fuzz::splitAt;

bool isAttributeName(const std::string& name)
{
    const std::string n = fuzz::folded(name);
    return n == "expires" || n == "path" || n == "domain" || n == "secure" || n == "max-age";
}

std::string referenceExtract(const std::string& headerText)
{
    static const std::string prefix = "set-cookie: ";
    std::string result;
    for (const std::string& line : splitAt(headerText, "\r\n")) {
        if (line.size() < prefix.size() || fuzz::folded(line.substr(0, prefix.size())) != prefix)
            continue;
        for (const std::string& piece : splitAt(line.substr(prefix.size()), "; ")) {
            const size_t eq = piece.find('=');
            if (eq == std::string::npos)
                continue;
            // "a=" splits into one part only: one "=" and nothing after it.
            if (eq + 1 == piece.size() && piece.find('=', eq + 1) == std::string::npos)
                continue;
            if (isAttributeName(piece.substr(0, eq)))
                continue;
            const std::string cookie = piece.back() == ';' ? piece : piece + ';';
            result += result.empty() ? cookie : ' ' + cookie;
        }
    }
    return result;
}

// Entries as the merge forms them ("name=value; "), in order of appearance.
std::vector<std::string> entriesOf(const std::string& collected, const std::string& oldValue)
{
    std::string fresh = collected;
    if (!fresh.empty() && fresh.back() != ';')
        fresh += ';';
    const std::string combined = fresh.empty() ? oldValue : fresh + ' ' + oldValue;
    std::vector<std::string> entries;
    for (const std::string& piece : splitAt(combined, "; ")) {
        if (!piece.empty())
            entries.push_back((piece.back() == ';' ? piece : piece + ';') + ' ');
    }
    return entries;
}

std::string referenceMerge(const std::string& collected, const std::string& oldValue)
{
    std::vector<std::string> kept;
    for (const std::string& entry : entriesOf(collected, oldValue)) {
        const bool seen = std::any_of(kept.begin(), kept.end(), [&](const std::string& k) {
            return compareLocale(k, entry) == 0;
        });
        if (!seen)
            kept.push_back(entry);
    }
    std::sort(kept.begin(), kept.end(),
              [](const std::string& a, const std::string& b) { return compareLocale(a, b) < 0; });
    std::string result = fuzz::joined(kept, {});
    if (!result.empty() && result.back() == ' ')
        result.pop_back();
    if (!result.empty() && result.back() == ';')
        result.pop_back();
    return result;
}

// Checks the merged text on its own: every entry ends at a "; " once the
// stripped end is put back, and the entries stand in strictly ascending order
// under the collation, so none is there twice.
void checkSortedAndUnique(const std::string& merged, const std::string& collected,
                          const std::string& oldValue)
{
    // Empty: nothing was given, or only a lone ";", which the stripped end
    // swallows whole.
    if (merged.empty())
        return;
    const std::string text = merged + "; ";
    std::vector<std::string> entries;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("; ", start);
        FUZZ_CHECK(end != std::string::npos);
        entries.push_back(text.substr(start, end + 2 - start));
        start = end + 2;
    }
    for (size_t i = 1; i < entries.size(); ++i)
        FUZZ_CHECK(compareLocale(entries[i - 1], entries[i]) < 0);

    // Nothing lost and nothing invented: the same entries, up to letter case.
    const std::vector<std::string> given = entriesOf(collected, oldValue);
    for (const std::string& e : entries) {
        FUZZ_CHECK(
            std::any_of(given.begin(), given.end(), [&](const std::string& g) { return g == e; }));
    }
    for (const std::string& g : given) {
        FUZZ_CHECK(std::any_of(entries.begin(), entries.end(),
                               [&](const std::string& e) { return compareLocale(e, g) == 0; }));
    }
}

void checkMerge(const std::string& collected, const std::string& oldValue)
{
    const std::string merged = fuzz::str(MergeCookies(fuzz::qba(collected), fuzz::qba(oldValue)));
    FUZZ_CHECK_EQ(merged, referenceMerge(collected, oldValue));
    checkSortedAndUnique(merged, collected, oldValue);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> in = fuzz::parts(data, size, 2);
    const std::string& headerText = in[0];
    const std::string& oldValue = in[1];

    const std::string collected = fuzz::str(ExtractSetCookies(fuzz::qba(headerText)));
    FUZZ_CHECK_EQ(collected, referenceExtract(headerText));

    checkMerge(collected, oldValue);
    checkMerge(headerText, oldValue);
    return 0;
}
