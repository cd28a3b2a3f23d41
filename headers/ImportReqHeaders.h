#pragma once

#include "headers/HeaderList.h"
#include "util/MyStrUtils.h"

#include <QByteArray>
#include <QList>

// Header text that comes from outside the list: blocks of request headers
// copied from a browser, and the value presets of the header editor. Plain
// routines on code page 936 byte strings, so that they run without a
// clipboard or a window.

// The headers of a copied block, in the order of its lines. The separator is
// ": " when that pair occurs anywhere in the text, ":" otherwise. A line ends
// at CR LF, CR or LF. A line that gives fewer than two pieces is skipped; the
// name is the first piece (the second when the line begins with the
// separator and has more pieces), the value the rest of the line joined with
// the separator. Nothing is trimmed.
QList<HeaderEntry> ParseReqHeaders(const QByteArray& text);

// Adds the headers of `text` through AddReqHeader, one call per header, so a
// name already present is reported and skipped.
void ImportReqHeaders(HeaderList& list, const QByteArray& text);

// A text as one header line: its lines joined with a blank, empty lines
// (including a final line break) dropped. Other blanks stay as they are.
QByteArray JoinValueLines(const QByteArray& text);

// The preset lines ("name=value") of a HeaderOptions text; lines that are
// UTF-8 are converted to code page 936, the others kept as they are.
ByteList ParseHeaderOptions(const QByteArray& resourceText);

// The preset values for a header name, in the order of the lines: every line
// whose name (the text before its first "=") equals `name` with 'A'..'Z'
// folded. A line without "=" never matches.
ByteList HeaderPresetsFor(const ByteList& optionLines, const QByteArray& name);
