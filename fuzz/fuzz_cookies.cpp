// Cookie collection from response headers and the merge into the Cookie row.
// Input: header text, NUL, old Cookie value.

#include "FuzzSupport.h"

#include "request/untXmlHttp.h"

namespace {

using fuzz::compareLocale;
using fuzz::splitAt;

bool isAttributeName(const std::string& name)
{
    static const char* const attributes[] = {"expires",  "path",        "domain",
                                             "secure",   "max-age",     "samesite",
                                             "priority", "partitioned", "httponly"};
    const std::string n = fuzz::folded(name);
    return std::any_of(std::begin(attributes), std::end(attributes),
                       [&](const char* a) { return n == a; });
}

bool holdsControl(const std::string& s)
{
    return std::any_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F;
    });
}

std::string nameOf(const std::string& entry)
{
    const size_t eq = entry.find('=');
    return eq == std::string::npos ? entry : entry.substr(0, eq);
}

// The collected text as the pieces of the Set-Cookie lines it came from: in
// order, each a piece of a line ("name=value;") or its deletion ("name=;"),
// never an attribute, never with a control byte.
void checkExtract(const std::string& headerText, const std::string& collected)
{
    static const std::string prefix = "set-cookie: ";
    std::vector<std::string> pieces;
    for (const std::string& line : splitAt(headerText, "\r\n")) {
        if (line.size() < prefix.size() || fuzz::folded(line.substr(0, prefix.size())) != prefix)
            continue;
        for (const std::string& piece : splitAt(line.substr(prefix.size()), "; ")) {
            const size_t eq = piece.find('=');
            if (eq != std::string::npos && !isAttributeName(piece.substr(0, eq)) &&
                !holdsControl(piece))
                pieces.push_back(piece.back() == ';' ? piece : piece + ';');
        }
    }
    const std::vector<std::string> out =
        collected.empty() ? std::vector<std::string>{} : splitAt(collected + ' ', "; ");
    FUZZ_CHECK(out.size() == pieces.size());
    for (size_t i = 0; i < out.size(); ++i) {
        const std::string cookie = out[i] + ';';
        const std::string deleted = nameOf(pieces[i]) + "=;";
        FUZZ_CHECK(cookie == pieces[i] || cookie == deleted);
    }
}

std::vector<std::string> entriesOf(const std::string& text)
{
    std::vector<std::string> entries;
    for (const std::string& piece : splitAt(text, "; ")) {
        if (!piece.empty())
            entries.push_back(piece.back() == ';' ? piece : piece + ';');
    }
    return entries;
}

// The merged row: ascending and unique under the collation; every entry the
// row's own or a collected one; with nothing refused, each name the server
// set holds its last value (none once deleted) and every other entry stays;
// within the bounds whenever the old row was.
void checkMerge(const std::string& collected, const std::string& oldValue)
{
    int refused = -1;
    const std::string merged =
        fuzz::str(MergeCookies(fuzz::qba(collected), fuzz::qba(oldValue), &refused));
    FUZZ_CHECK(refused >= 0);
    // Each "; " of the row ends an entry whose ";" it holds; the row's last
    // entry lost its ";" at the end.
    std::vector<std::string> out;
    if (!merged.empty()) {
        for (const std::string& piece : splitAt(merged + "; ", "; "))
            out.push_back(piece + ';');
    }
    for (size_t i = 1; i < out.size(); ++i)
        FUZZ_CHECK(compareLocale(out[i - 1] + ' ', out[i] + ' ') < 0);

    const std::vector<std::string> fresh = entriesOf(collected), old = entriesOf(oldValue);
    const auto sameName = [](const std::string& a, const std::string& b) {
        return compareLocale(nameOf(a), nameOf(b)) == 0;
    };
    for (const std::string& e : out) {
        FUZZ_CHECK(std::find(old.begin(), old.end(), e) != old.end() ||
                   std::find(fresh.begin(), fresh.end(), e) != fresh.end());
    }
    if (refused == 0) {
        for (const std::string& o : old) {
            const bool set = std::any_of(fresh.begin(), fresh.end(),
                                         [&](const std::string& f) { return sameName(f, o); });
            // A lone ";" is no cookie: at the row's end it is stripped.
            if (!set && o != ";") {
                FUZZ_CHECK(std::any_of(out.begin(), out.end(), [&](const std::string& e) {
                    return compareLocale(e, o) == 0;
                }));
            }
        }
        for (auto f = fresh.rbegin(); f != fresh.rend(); ++f) {
            if (std::any_of(fresh.rbegin(), f,
                            [&](const std::string& g) { return sameName(g, *f); }))
                continue; // a later value of the name counts
            if (*f == ";")
                continue;
            const bool deleted = f->size() == nameOf(*f).size() + 2;
            const auto named = std::count_if(out.begin(), out.end(),
                                             [&](const std::string& e) { return sameName(e, *f); });
            FUZZ_CHECK(named == (deleted ? 0 : 1));
        }
    }
    if (old.size() <= size_t(kMaxRowCookies) && oldValue.size() <= size_t(kMaxRowCookieBytes)) {
        FUZZ_CHECK(out.size() <= size_t(kMaxRowCookies));
        FUZZ_CHECK(merged.size() <= size_t(kMaxRowCookieBytes));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> in = fuzz::parts(data, size, 2);
    const std::string& headerText = in[0];
    const std::string& oldValue = in[1];

    // A fixed present, so that an input takes the same way on any day.
    static const QDateTime now(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
    const std::string collected = fuzz::str(ExtractSetCookies(fuzz::qba(headerText), now));
    checkExtract(headerText, collected);
    checkMerge(collected, oldValue);
    checkMerge(headerText, oldValue);
    return 0;
}
