#pragma once

#include "util/HeaderEntry.h"

#include <QList>
#include <QString>

#include <optional>

// A request copied from a browser's developer tools as a curl command, read
// back into what the main window holds: the URL, the method, the data and the
// header rows.
struct CurlRequest
{
    QString url;
    QString method; // "GET" or "POST"
    QString data;   // the data options' texts joined with "&", as curl sends them
    // The -H rows, then the cookies of -b as one Cookie row, in the order of
    // the command (-A and -e give User-Agent and Referer rows, -u an
    // Authorization row); code page 936.
    QList<HeaderEntry> headers;
    // Why the command cannot be taken as it is (another method, a file to
    // read, an option that changes the request and has no place here); when
    // set, nothing else is.
    QString refusal;
};

// The request of `text` when it is a curl command: a text that begins with
// the word "curl" or "curl.exe". Read as a POSIX shell reads it (single
// quotes, $'...' with its escapes, double quotes with backslash escapes,
// backslash line continuations), or as Windows reads it: cmd's ^ escapes and
// ^ line continuations (the form "curl ^"..."), double quotes with "" and \"
// inside, and for "curl.exe" also PowerShell's `` and `$. Line breaks between
// the options are blanks. Options that only steer curl itself (--compressed,
// -i, -L, -k, -s, -o and the like) are passed over. No value for any other
// text.
std::optional<CurlRequest> ParseCurlCommand(const QString& text);
