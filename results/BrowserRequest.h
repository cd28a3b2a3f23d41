#pragma once

#include "util/MyStrUtils.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>

class HeaderList;

// What the embedded browser is given for the original page, prepared without
// any widget: the header block, the cookies of the Cookie row, the proxy.

using HeaderLine = QPair<QByteArray, QByteArray>;

// The header rows as one block: each row's name and value with blanks and
// control characters trimmed at both ends, "name: value" lines joined by
// CR LF and closed by an empty line; rows with an empty name or value are
// left out, and so are rows whose name or value holds a CR, LF or NUL inside
// (they would add header lines of their own). No usable row gives "".
QByteArray BrowserHeaderBlock(const HeaderList& rows);

// The lines of a header block that may go on the wire: "name: value" with a
// name made of token characters and a value without CR, LF or NUL. Lines that
// are not, and the framing headers Content-Length and Transfer-Encoding
// (the browser frames the body itself), are dropped.
QList<HeaderLine> BrowserHeaderLines(const QByteArray& block);

// The pieces of a Cookie row's value as they are stored: split at every
// "; ", an empty piece before a separator kept, the piece after the last
// separator only when it is not empty, and each piece ending in ';'.
ByteList CookiePieces(const QByteArray& cookieValue);

// One stored piece as a cookie: the name before the first '=', the value up
// to the first ';' (attributes are not given in a Cookie row). A piece
// without '=' is a cookie with that name and an empty value. `ok` is false
// for a piece with no name, or one holding a control character (a CR or LF
// would split the Cookie line).
struct CookiePair
{
    QByteArray name;
    QByteArray value;
    bool ok = false;
};
CookiePair ParseCookiePiece(const QByteArray& piece);

// "server:port" (or "[v6]:port") as host and port; a missing or unusable port
// is the HTTP default 80. False for an address with no host.
bool SplitProxyAddress(const QByteArray& address, QString* host, quint16* port);

// `text` as a double-quoted JavaScript string literal that evaluates to the
// same UTF-16 text.
QString JsStringLiteral(QStringView text);
