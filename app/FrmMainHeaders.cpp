// The user's own operations on the header list: popup items, double-click,
// the Delete key.

#include "app/untFrmMain.h"

#include "headers/HeaderList.h"
#include "ui_untFrmMain.h"

#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleHints>

#include <utility>

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

void TFrmMain::noteHeaderListPress(const QMouseEvent* event)
{
    const int row = selectedHeaderRow();
    if (row < 0)
        return; // a second press keeps what the first one cleared
    if (ui->lvwHeaders->indexAt(event->position().toPoint()).isValid())
        m_clearedHeaderRow = {};
    else
        m_clearedHeaderRow = {m_headers->idAt(row), event->timestamp()};
}

void TFrmMain::restoreHeaderRowClearedBy(quint64 doubleClickTime)
{
    const ClearedHeaderRow cleared = std::exchange(m_clearedHeaderRow, {});
    if (cleared.rowId == 0 || selectedHeaderRow() >= 0)
        return;
    // Only the press that began this double-click counts, not an earlier
    // click that cleared the selection on purpose.
    const auto interval = quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    if (doubleClickTime - cleared.time > interval)
        return;
    const int row = m_headers->rowOfId(cleared.rowId);
    if (row >= 0)
        ui->lvwHeaders->selectRow(row);
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
