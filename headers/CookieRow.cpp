#include "headers/CookieRow.h"

#include "headers/HeaderList.h"
#include "request/untXmlHttp.h"

int MergeIntoCookieRow(HeaderList& list, const QByteArray& collected)
{
    if (collected.isEmpty())
        return 0;
    int row = list.IndexOfReqHeader("cookie");
    const QByteArray old = row < 0 ? QByteArray() : list.value(row);
    int refused = 0;
    const QByteArray merged = MergeCookies(collected, old, &refused);
    // Only deletions, or nothing that fits: no row is made for it.
    if (row < 0 && merged.isEmpty())
        return refused;
    if (row < 0) {
        list.AddReqHeader("Cookie", QByteArray());
        row = list.count() - 1;
    }
    list.setValue(row, merged);
    return refused;
}
