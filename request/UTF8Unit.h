#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Whether a byte string is UTF-8 holding at least one byte of 0x80 or above,
// judged by the lead and continuation pattern alone (overlong forms and
// surrogates pass). One pass, no allocation, stops at the first misfit.
bool IsUTF8Encoded(const char* data, size_t size);
bool IsUTF8Encoded(const QByteArray& text);

// The text as the program holds it: converted from UTF-8 to code page 936 when
// IsUTF8Encoded accepts it, otherwise unchanged.
QByteArray DecodeUtf8IfEncoded(const QByteArray& text);
