// The header list file: reading arbitrary bytes, and rows saved then read back.
// Input: the file's bytes; the same bytes cut at NUL into name, value, name,
// value... give rows to save.

#include "FuzzSupport.h"

#include "headers/HeaderFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

namespace {

using Rows = std::vector<HeaderEntry>;

// A line's name is the text before its first "=" (none: an empty name, and
// the whole line is the value, so no text is lost).
HeaderEntry rowOfLine(const std::string& line)
{
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
        return {QByteArray(), fuzz::qba(line)};
    return {fuzz::qba(line.substr(0, eq)), fuzz::qba(line.substr(eq + 1))};
}

Rows referenceParse(const std::string& bytes)
{
    Rows rows;
    for (const std::string& line : fuzz::lines(bytes))
        rows.push_back(rowOfLine(line));
    return rows;
}

std::string foldBreaks(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

// Name (before the first "=") first, then value, under the collation.
bool lineBefore(const std::string& a, const std::string& b)
{
    const size_t ea = a.find('='), eb = b.find('=');
    const int byName = fuzz::compareLocale(a.substr(0, ea), b.substr(0, eb));
    if (byName != 0)
        return byName < 0;
    return fuzz::compareLocale(a.substr(ea + 1), b.substr(eb + 1)) < 0;
}

// What a saved list holds: one line per row (a line break inside a name or
// value written as a blank), sorted by name and then value, the earliest of
// equal lines kept.
std::vector<std::string> savedLines(const Rows& rows)
{
    std::vector<std::string> lines;
    for (const HeaderEntry& row : rows) {
        const std::string line =
            foldBreaks(fuzz::str(row.name)) + '=' + foldBreaks(fuzz::str(row.value));
        const bool seen = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return fuzz::compareLocale(l, line) == 0;
        });
        if (!seen)
            lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end(), lineBefore);
    // No two lines are equal, so name-then-value is a strict order on them.
    for (size_t i = 1; i < lines.size(); ++i)
        FUZZ_CHECK(lineBefore(lines[i - 1], lines[i]) && !lineBefore(lines[i], lines[i - 1]));
    return lines;
}

// A row comes back unchanged exactly when its name holds no "=" and neither
// name nor value holds a line break.
bool representable(const HeaderEntry& row)
{
    return !row.name.contains('=') && !row.name.contains('\r') && !row.name.contains('\n') &&
           !row.value.contains('\r') && !row.value.contains('\n');
}

bool sameRows(const Rows& a, const Rows& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto& x, auto& y) {
               return x.name == y.name && x.value == y.value;
           });
}

void checkSaved(const Rows& rows, const QString& path, bool throughFile)
{
    const QByteArray formatted = FormatHeaderFile(rows);
    const std::vector<std::string> lines = savedLines(rows);
    std::string expectedBytes;
    for (const std::string& line : lines)
        expectedBytes += line + "\r\n";
    FUZZ_CHECK_EQ(formatted, expectedBytes);

    const Rows back = ParseHeaderFile(formatted);
    Rows expected;
    for (const std::string& line : lines)
        expected.push_back(rowOfLine(line));
    FUZZ_CHECK(sameRows(back, expected));

    // Every representable row is among the rows read back, unchanged, unless
    // an earlier row gave a line equal to its own up to letter case.
    for (const HeaderEntry& row : rows) {
        if (!representable(row))
            continue;
        const std::string line = fuzz::str(row.name + '=' + row.value);
        const auto at = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return fuzz::compareLocale(l, line) == 0;
        });
        FUZZ_CHECK(at != lines.end());
        if (*at == line) {
            const HeaderEntry& got = back[size_t(at - lines.begin())];
            FUZZ_CHECK(got.name == row.name && got.value == row.value);
        }
    }

    if (!throughFile)
        return;
    // Through the file: no rows delete it.
    WriteHeaderFile(path, rows);
    const std::optional<Rows> read = ReadHeaderFile(path);
    if (rows.empty()) {
        FUZZ_CHECK(!read && !QFileInfo::exists(path));
    } else {
        FUZZ_CHECK(read && sameRows(*read, back));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir scratch;
    FUZZ_CHECK(scratch.isValid());
    const QString path = scratch.filePath(QStringLiteral("Headers.dat"));

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const Rows parsed = ParseHeaderFile(fuzz::qba(bytes));
    FUZZ_CHECK(sameRows(parsed, referenceParse(bytes)));

    // Reading a file sets aside a buffer of the largest size a header list
    // may have, which is slow under ASan; the bytes-level reader sees every
    // input and a fixed share of them also goes through a real file.
    const bool throughFile = qHash(fuzz::qba(bytes)) % 256 == 0;
    if (throughFile) {
        {
            QFile f(path);
            FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            FUZZ_CHECK(f.write(fuzz::qba(bytes)) == qint64(bytes.size()));
        }
        const std::optional<Rows> fromFile = ReadHeaderFile(path);
        FUZZ_CHECK(fromFile && sameRows(*fromFile, parsed));
    }

    // Rows read from any file are all representable, so they survive a save.
    checkSaved(parsed, path, throughFile);

    Rows cut;
    const std::vector<std::string> fields = fuzz::splitAt(bytes, std::string(1, '\0'));
    for (size_t i = 0; i < fields.size(); i += 2)
        cut.push_back(
            {fuzz::qba(fields[i]), i + 1 < fields.size() ? fuzz::qba(fields[i + 1]) : ""});
    checkSaved(cut, path, throughFile);
    QFile::remove(path);
    return 0;
}
