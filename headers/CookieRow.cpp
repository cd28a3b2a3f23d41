#include "headers/CookieRow.h"

#include "headers/HeaderList.h"
#include "request/untXmlHttp.h"

void MergeIntoCookieRow(HeaderList& list, const QByteArray& collected)
{
    if (collected.isEmpty())
        return;
    int row = list.IndexOfReqHeader("cookie");
    QByteArray old;
    if (row < 0) {
        list.AddReqHeader("Cookie", QByteArray());
        row = list.count() - 1;
    } else {
        old = list.value(row);
    }
    list.setValue(row, MergeCookies(collected, old));
}
