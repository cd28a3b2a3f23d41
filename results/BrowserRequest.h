#pragma once

#include "util/MyStrUtils.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>
#include <QUrl>

class HeaderList;

// What the embedded browser is given for the original page.

using HeaderLine = QPair<QByteArray, QByteArray>;

// The header rows as "name: value" lines (trimmed, CR LF between, an empty
// line at the end). Rows with an empty part are left out, and so are rows
// holding a CR, LF or NUL inside, which would add lines of their own.
QByteArray BrowserHeaderBlock(const HeaderList& rows);

// The lines of a block that may go on the wire: token names, values without
// CR, LF or NUL, and no framing headers (the browser frames the body).
QList<HeaderLine> BrowserHeaderLines(const QByteArray& block);

// The address the browser loads for `url` (code page 936), as an address bar
// takes it: characters beyond ASCII become UTF-8 escapes, escapes already in
// the text keep their meaning (in the normal form: capital hex digits, an
// escaped letter or digit as itself), and only a '%' that starts no escape
// becomes %25. Text without a scheme is taken as http.
QUrl BrowserUrl(const QByteArray& url);

// The referrer a browser gives a request for `target` when a Referer row
// names `referrer`: the whole address (without fragment and user info) when
// both are of one origin, only the origin ("scheme://host[:port]/") when they
// are not, and nothing from https to http or for a value that is no http(s)
// address. The engine refuses a request whose referrer says more than that.
QByteArray BrowserReferrer(const QByteArray& referrer, const QUrl& target);

// A Cookie row's value split at "; " (SplitString), each piece ending in ';'.
ByteList CookiePieces(const QByteArray& cookieValue);

// One piece as a cookie: name before the first '=', value up to the first
// ';'. Not ok without a name or with a control character in it.
struct CookiePair
{
    QByteArray name;
    QByteArray value;
    bool ok = false;
};
CookiePair ParseCookiePiece(const QByteArray& piece);

// "server:port" or "[v6]:port"; a missing or unusable port is 80.
bool SplitProxyAddress(const QByteArray& address, QString* host, quint16* port);

// A double-quoted JavaScript literal of exactly `text`.
QString JsStringLiteral(QStringView text);
