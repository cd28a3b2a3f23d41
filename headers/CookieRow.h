#pragma once

#include <QByteArray>

class HeaderList;

// The Cookie row kept in step with the server: the cookies collected from a
// response's Set-Cookie lines (ExtractSetCookies' text) are merged into the
// value of the first row named "cookie" (any case); without such a row a row
// "Cookie" is appended first, through AddReqHeader. Nothing collected,
// nothing changes: no row is made.
void MergeIntoCookieRow(HeaderList& list, const QByteArray& collected);
