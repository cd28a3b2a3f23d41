// Import of copied request headers into a header list, the joining of a
// pasted value's lines, and a copied curl command. Input: the copied text.

#include "FuzzSupport.h"

#include "headers/CurlCommand.h"
#include "headers/HeaderList.h"
#include "headers/ImportReqHeaders.h"

#include <QRegularExpression>

namespace {

struct Row
{
    std::string name;
    std::string value;
};

// The import rule: one separator for the whole text, lines ending at CR LF,
// CR or LF, the name before the first separator (or between the first two
// when the line starts with one), the value the rest joined back together.
std::vector<Row> referenceParse(const std::string& text)
{
    std::vector<Row> rows;
    if (text.empty())
        return rows;
    const std::string separator = text.find(": ") != std::string::npos ? ": " : ":";
    for (const std::string& line : fuzz::lines(text)) {
        std::vector<std::string> pieces = fuzz::splitAt(line, separator);
        if (pieces.size() < 2)
            continue;
        const size_t nameAt = pieces.size() > 2 && pieces[0].empty() ? 1 : 0;
        const std::vector<std::string> rest(pieces.begin() + long(nameAt) + 1, pieces.end());
        rows.push_back({pieces[nameAt], fuzz::joined(rest, separator)});
    }
    return rows;
}

std::string referenceJoinValueLines(const std::string& text)
{
    std::vector<std::string> kept;
    for (const std::string& line : fuzz::lines(text)) {
        if (!line.empty())
            kept.push_back(line);
    }
    if (text.find_first_of("\r\n") == std::string::npos)
        return text;
    return fuzz::joined(kept, " ");
}

void checkRows(const HeaderList& list, const std::vector<Row>& expected)
{
    FUZZ_CHECK(size_t(list.count()) == expected.size());
    for (int i = 0; i < list.count(); ++i) {
        FUZZ_CHECK_EQ(list.name(i), expected[size_t(i)].name);
        FUZZ_CHECK_EQ(list.value(i), expected[size_t(i)].value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::vector<Row> parsed = referenceParse(text);
    const QList<HeaderEntry> got = ParseReqHeaders(fuzz::qba(text));
    FUZZ_CHECK(size_t(got.size()) == parsed.size());
    for (size_t i = 0; i < parsed.size(); ++i) {
        FUZZ_CHECK_EQ(got[qsizetype(i)].name, parsed[i].name);
        FUZZ_CHECK_EQ(got[qsizetype(i)].value, parsed[i].value);
    }

    // The first header of each name (letters folded) becomes a row; without a
    // prompter a repeated name is skipped silently.
    std::vector<Row> expected;
    for (const Row& row : parsed) {
        const bool present = std::any_of(expected.begin(), expected.end(), [&](const Row& e) {
            return fuzz::folded(e.name) == fuzz::folded(row.name);
        });
        if (!present)
            expected.push_back(row);
    }
    HeaderList list;
    ImportReqHeaders(list, fuzz::qba(text));
    checkRows(list, expected);
    ImportReqHeaders(list, fuzz::qba(text));
    checkRows(list, expected);

    const QByteArray oneLine = JoinValueLines(fuzz::qba(text));
    FUZZ_CHECK(!oneLine.contains('\r') && !oneLine.contains('\n'));
    FUZZ_CHECK_EQ(oneLine, referenceJoinValueLines(text));

    // A curl command is taken for a text that begins with the program's name
    // only, and then whole (GET or POST) or not at all.
    const QString copied = QString::fromUtf8(fuzz::qba(text));
    const std::optional<CurlRequest> curl = ParseCurlCommand(copied);
    static const QRegularExpression blank(QStringLiteral("[ \t\r\n]"));
    const QString program = copied.trimmed().section(blank, 0, 0);
    const bool named = program.compare(QLatin1String("curl"), Qt::CaseInsensitive) == 0 ||
                       program.compare(QLatin1String("curl.exe"), Qt::CaseInsensitive) == 0;
    FUZZ_CHECK(curl.has_value() == named);
    if (curl && curl->refusal.isEmpty())
        FUZZ_CHECK(curl->method == QLatin1String("GET") || curl->method == QLatin1String("POST"));
    if (curl && !curl->refusal.isEmpty()) {
        FUZZ_CHECK(curl->url.isEmpty() && curl->method.isEmpty() && curl->data.isEmpty() &&
                   curl->headers.isEmpty());
    }
    return 0;
}
