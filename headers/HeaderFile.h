#pragma once

#include "headers/HeaderList.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The header list file ("Headers.dat" beside the executable): one line
// name=value per row in code page 936 bytes, every line ended by CR LF, the
// lines in ascending order of name and then value under CompareTextIgnoreCase
// (so X comes before X-B and X1), lines that compare equal written once (the
// earliest row's). Nothing is escaped or quoted.

// The file's bytes for `rows`. A line break inside a name or value (CR LF, CR
// or LF) is written as one blank, as HTTP folds a header continued on a new
// line, so it cannot split the row into two nor lose the text after it.
QByteArray FormatHeaderFile(const std::vector<HeaderEntry>& rows);

// The rows the bytes hold, in file order. Lines end at CR LF, CR or LF; a
// final line break gives no extra line. A row's name is the text before the
// line's first "=", its value the text after it, so a value may hold "=". A
// line without "=" gives a row with an empty name whose value is the whole
// line, so its text is not lost.
std::vector<HeaderEntry> ParseHeaderFile(const QByteArray& bytes);

// The rows of the file at `path`; nothing when there is no file. A file that
// cannot be read, or is too large to be a header list (over
// kMaxHeaderFileSize bytes), throws ReqlarkError naming the path and reason.
std::optional<std::vector<HeaderEntry>> ReadHeaderFile(const QString& path);
constexpr qint64 kMaxHeaderFileSize = 64 * 1024 * 1024;

// Replaces the file at `path` with `rows` as a whole: a crash or a full disk
// leaves the previous file, never half of a new one. A new file is readable by
// its owner only, as its rows may hold cookies and credentials. No rows
// deletes the file; a deletion that fails is ignored. A file that cannot be
// written throws ReqlarkError naming the path and the reason.
void WriteHeaderFile(const QString& path, const std::vector<HeaderEntry>& rows);

// The list's side of the file.

// Appends the rows of the file at `path` to `list` directly, without the
// repeated-name test. Every row is read before the first one is added, so a
// file that cannot be read (ReqlarkError) leaves the list as it was.
void LoadHeaderRows(HeaderList& list, const QString& path);

// Writes the rows of `list` to the file at `path`. When the file's rows never
// reached the list at this start (`fileWasRead` false), an empty list says
// nothing about them and leaves the file alone, and rows added since go in
// beside the file's own.
void SaveHeaderRows(const HeaderList& list, const QString& path, bool fileWasRead);
