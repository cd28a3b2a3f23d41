#pragma once

#include <QByteArray>

class HeaderList;

// The Cookie row kept in step with the server: the cookies collected from a
// response's Set-Cookie lines (ExtractSetCookies' text) are merged into the
// value of the first row named "cookie" (any case); without such a row a row
// "Cookie" is appended first, through AddReqHeader, when there is a cookie to
// put in it. Nothing collected, nothing changes. Returns how many cookies did
// not fit into the row (MergeCookies' bounds).
int MergeIntoCookieRow(HeaderList& list, const QByteArray& collected);
