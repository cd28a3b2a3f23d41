#pragma once

#include <QByteArray>
#include <QList>

// String routines shared by every subsystem. All texts are byte strings in code
// page 936; "lower-casing" folds the bytes 'A'..'Z' only, wherever they stand
// (also as the second byte of a double-byte character), and "trimming" removes
// the bytes 0x00..0x20 at both ends.

using ByteList = QList<QByteArray>;

// Splits `text` at every occurrence of `delimiter`. An empty piece before the
// first delimiter or between two delimiters is kept; the remainder after the
// last delimiter is kept only when it is not empty. With an empty delimiter the
// text is split into lines ending at CR LF, CR or LF (a final line break gives
// no extra line).
ByteList SplitString(const QByteArray& text, const QByteArray& delimiter);

// Concatenation, without separator, of the items `from` to `to` inclusive.
// A `from` beyond the last item becomes the last item; a `to` beyond the last
// item, or below `from`, becomes the last item. An empty list gives "".
QByteArray JoinRange(const ByteList& list, quint32 from, quint32 to);
QByteArray JoinRange(const ByteList* list, quint32 from, quint32 to);

QByteArray AnsiLowerCase(QByteArray text);
bool SameTextAnsiLower(const QByteArray& a, const QByteArray& b);

QByteArray TrimBytes(const QByteArray& text);

// Case-insensitive ordering used for sorted cookie and header-file lines:
// 'A'..'Z' compare as 'a'..'z', every other byte by its unsigned value, and a
// double-byte character of code page 936 counts whole, so its trail byte is
// never taken for a letter. A text sorts before the longer texts it begins.
// Returns <0, 0 or >0.
int CompareTextIgnoreCase(const QByteArray& a, const QByteArray& b);

// Whether `text` is an HTTP token (a method or a header name): one or more of
// the letters, digits and !#$%&'*+-.^_`|~.
bool IsHttpToken(const QByteArray& text);

// Each line break (CR LF, CR or LF) replaced by one blank: a value that must
// stay on one line keeps all of its text.
QByteArray FoldLineBreaks(const QByteArray& text);

// Whether `text` holds CR, LF or NUL, which no header line may carry.
bool HoldsLineBreakOrNul(const QByteArray& text);
