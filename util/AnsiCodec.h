#pragma once

#include <QByteArray>
#include <QString>

// Conversions between the program's byte strings and the rest of the world.
// The byte strings are "the ANSI code page": GB18030, whose bytes are code
// page 936's for every character code page 936 holds (0x80 stays the euro
// sign) and which has a form of its own for every other character, so
// nothing typed becomes '?' and files written as code page 936 read back byte
// for byte. This is the only place that talks to iconv.
namespace AnsiCodec {

// Widget text -> the ANSI code page. Only a lone surrogate (no character)
// becomes '?'.
QByteArray fromUnicode(const QString& text);

// The ANSI code page -> widget text. A byte sequence that is valid in neither
// code page 936 nor GB18030 shows as U+FFFD; the rest of the text converts
// normally.
QString toUnicode(const QByteArray& ansi);

// UTF-8 -> the ANSI code page. Every well-formed sequence of one to four bytes
// becomes its character; malformed sequences become '?'. The result is no
// longer than the input except for characters whose four-byte form stands for
// three UTF-8 bytes. `wellFormed` tells whether every byte belonged to a
// well-formed sequence.
QByteArray utf8ToAnsi(const QByteArray& utf8, bool* wellFormed = nullptr);

// The ANSI code page -> UTF-8, with the characters toUnicode gives. A text of
// ASCII bytes only is returned itself (shared, not copied).
QByteArray ansiToUtf8(const QByteArray& ansi);

} // namespace AnsiCodec
