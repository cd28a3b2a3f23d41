#pragma once

#include <QByteArray>

// How a response body becomes the characters the result views show. The
// program's own copy of the body (LastResponseText) stays code page 936; what
// is shown is the body's own characters, as a browser would read them.

// The character set the response declares, lower-cased: the charset
// parameter of the last Content-Type line of `responseHeaders`, else the one a
// <meta charset> or <meta http-equiv="Content-Type"> names within the first
// 1024 bytes of `body` (read as browsers read them before parsing). Empty when
// neither declares one.
QByteArray DeclaredCharset(const QByteArray& responseHeaders, const QByteArray& body);

// The body as UTF-8 text: a body with a byte order mark is read by the mark;
// one that is well-formed UTF-8 is itself (shared, not copied), unless it is
// all ASCII bytes and declared in a set that reads those as other characters
// (UTF-16, ISO-2022-JP, UTF-7, HZ); otherwise the declared character set
// decodes it when it is one this system knows (the Latin-1 family read as
// windows-1252, as browsers do). A body that declares none is read in the
// set uchardet recognises in it (Big5, Shift_JIS, EUC-JP, EUC-KR,
// windows-1252...), and in code page 936 when that is what it recognises,
// when it recognises none, when a short text reads as Chinese as well, or
// when the declared set is one this system does not know. Bytes that are
// invalid in the chosen set show as U+FFFD.
QByteArray BodyToUtf8(const QByteArray& body, const QByteArray& declaredCharset);
// The same for a caller that knows already whether the body is well-formed
// UTF-8.
QByteArray BodyToUtf8(const QByteArray& body, const QByteArray& declaredCharset, bool validUtf8);
