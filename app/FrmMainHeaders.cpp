// The user's own operations on the header list: popup items, double-click,
// the Delete key.

#include "app/untFrmMain.h"

#include "headers/HeaderList.h"
#include "ui_untFrmMain.h"

#include <QItemSelectionModel>
#include <QKeyEvent>

int TFrmMain::selectedHeaderRow() const
{
    const QModelIndexList rows = ui->lvwHeaders->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TFrmMain::mniDelReqHeaderClick()
{
    const int row = selectedHeaderRow();
    if (row >= 0)
        m_headers->removeAt(row);
}

void TFrmMain::mniDelReqHeaderClearClick()
{
    m_headers->clear();
}

void TFrmMain::lvwHeadersDblClick()
{
    // Through the menu items themselves, so the two always agree.
    if (selectedHeaderRow() >= 0)
        ui->mniEditReqHeader->trigger();
    else
        ui->mniAddReqHeader->trigger();
}

bool TFrmMain::lvwHeadersKeyDown(QKeyEvent* event)
{
    // Delete with any Shift, Ctrl or Alt state deletes the selected row.
    if (event->key() != Qt::Key_Delete)
        return false;
    ui->mniDelReqHeader->trigger();
    return true;
}
