#include "headers/HeaderFile.h"

#include "util/AtomicFile.h"
#include "util/MyStrUtils.h"
#include "util/ReqlarkError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// Lines go by name first and then by value, so that a name comes before every
// longer name that begins with it (X, X-B, X1), as a list sorted by name
// reads. Every line written holds the "=" after its name.
int compareLines(const QByteArray& a, const QByteArray& b)
{
    const qsizetype ea = a.indexOf('=');
    const qsizetype eb = b.indexOf('=');
    const int byName = CompareTextIgnoreCase(QByteArray::fromRawData(a.constData(), ea),
                                             QByteArray::fromRawData(b.constData(), eb));
    if (byName != 0)
        return byName;
    return CompareTextIgnoreCase(
        QByteArray::fromRawData(a.constData() + ea + 1, a.size() - ea - 1),
        QByteArray::fromRawData(b.constData() + eb + 1, b.size() - eb - 1));
}

} // namespace

QByteArray FormatHeaderFile(const std::vector<HeaderEntry>& rows)
{
    std::vector<QByteArray> lines;
    lines.reserve(rows.size());
    for (const HeaderEntry& row : rows)
        lines.push_back(FoldLineBreaks(row.name) + '=' + FoldLineBreaks(row.value));

    // A stable sort keeps equal lines in row order, so the first of a run of
    // equal lines is the earliest row's.
    std::vector<size_t> order(lines.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return compareLines(lines[a], lines[b]) < 0; });

    qsizetype total = 0;
    for (const QByteArray& line : lines)
        total += line.size() + 2;
    QByteArray out;
    out.reserve(total);
    const QByteArray* previous = nullptr;
    for (size_t i : order) {
        if (previous && compareLines(*previous, lines[i]) == 0)
            continue;
        out += lines[i];
        out += "\r\n";
        previous = &lines[i];
    }
    return out;
}

std::vector<HeaderEntry> ParseHeaderFile(const QByteArray& bytes)
{
    // One pass straight into the rows: a file of many short lines makes
    // every extra copy of a line count.
    const char* const begin = bytes.constData();
    const char* const end = begin + bytes.size();
    std::vector<HeaderEntry> rows;
    rows.reserve(size_t(bytes.count('\n') + 1));
    for (const char* line = begin; line < end;) {
        const char* eol = line;
        while (eol < end && *eol != '\n' && *eol != '\r')
            ++eol;
        const auto* eq = static_cast<const char*>(memchr(line, '=', size_t(eol - line)));
        if (eq)
            rows.push_back(
                HeaderEntry{QByteArray(line, eq - line), QByteArray(eq + 1, eol - eq - 1)});
        else
            rows.push_back(HeaderEntry{QByteArray(), QByteArray(line, eol - line)});
        line = eol;
        if (line < end)
            line += (*line == '\r' && line + 1 < end && line[1] == '\n') ? 2 : 1;
    }
    return rows;
}

std::optional<std::vector<HeaderEntry>> ReadHeaderFile(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    const QString refusal = ReadRefusal(path);
    if (!refusal.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        throw ReqlarkError(
            QStringLiteral("无法打开文件“%1”：%2")
                .arg(shownPath(path), refusal.isEmpty() ? file.errorString() : refusal));
    }
    if (file.size() > kMaxHeaderFileSize) {
        throw ReqlarkError(
            QStringLiteral("无法读取文件“%1”：它有 %2 字节，超过请求头列表文件的上限（%3 字节）")
                .arg(shownPath(path))
                .arg(file.size())
                .arg(kMaxHeaderFileSize));
    }
    // One byte more than the size found tells a file that grew meanwhile.
    const QByteArray bytes = file.read(file.size() + 1);
    if (file.error() != QFileDevice::NoError) {
        throw ReqlarkError(
            QStringLiteral("无法读取文件“%1”：%2").arg(shownPath(path), file.errorString()));
    }
    if (bytes.size() > kMaxHeaderFileSize) { // grew while being read, or not a regular file
        throw ReqlarkError(QStringLiteral("无法读取文件“%1”：它大于请求头列表文件的上限（%2 字节）")
                               .arg(shownPath(path))
                               .arg(kMaxHeaderFileSize));
    }
    return ParseHeaderFile(bytes);
}

void WriteHeaderFile(const QString& path, const std::vector<HeaderEntry>& rows)
{
    if (rows.empty()) {
        QFile::remove(path);
        return;
    }
    const QByteArray bytes = FormatHeaderFile(rows);
    const bool isNew = !QFileInfo::exists(path);
    AtomicFile out(path);
    if (!out.open()) {
        throw ReqlarkError(
            QStringLiteral("无法创建文件“%1”：%2").arg(shownPath(path), out.errorString()));
    }
    if (isNew)
        out.restrictToOwner();
    if (!out.write(bytes) || !out.commit()) {
        const QString why = out.errorString();
        out.cancel();
        throw ReqlarkError(QStringLiteral("无法写入文件“%1”：%2").arg(shownPath(path), why));
    }
}

void LoadHeaderRows(HeaderList& list, const QString& path)
{
    const std::optional<std::vector<HeaderEntry>> rows = ReadHeaderFile(path);
    if (!rows)
        return;
    for (const HeaderEntry& row : *rows)
        list.append(row.name, row.value);
}

void SaveHeaderRows(const HeaderList& list, const QString& path, bool fileWasRead)
{
    std::vector<HeaderEntry> rows;
    if (!fileWasRead) {
        if (list.count() == 0)
            return;
        if (std::optional<std::vector<HeaderEntry>> kept = ReadHeaderFile(path))
            rows = std::move(*kept);
    }
    rows.reserve(rows.size() + size_t(list.count()));
    for (int row = 0; row < list.count(); ++row)
        rows.push_back(list.at(row));
    WriteHeaderFile(path, rows);
}
