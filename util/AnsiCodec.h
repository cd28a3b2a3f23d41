#pragma once

#include <QByteArray>
#include <QString>

// Conversions between the program's byte strings (code page 936) and the rest
// of the world. This is the only place that talks to iconv.
namespace AnsiCodec {

// Widget text -> code page 936. A character the code page cannot hold becomes '?'.
QByteArray fromUnicode(const QString& text);

// Code page 936 -> widget text. A byte sequence that is not valid code page 936
// shows as U+FFFD; the rest of the text converts normally.
QString toUnicode(const QByteArray& ansi);

// UTF-8 -> code page 936. Every well-formed sequence of one to four bytes
// becomes its character; characters the code page cannot hold, and malformed
// sequences, become '?'. The result is never longer than the input.
// `wellFormed` tells whether every byte belonged to a well-formed sequence.
QByteArray utf8ToAnsi(const QByteArray& utf8, bool* wellFormed = nullptr);

// Code page 936 -> UTF-8, with the characters toUnicode gives. A text of
// ASCII bytes only is returned itself (shared, not copied).
QByteArray ansiToUtf8(const QByteArray& ansi);

} // namespace AnsiCodec
