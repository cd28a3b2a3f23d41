// The header list of the main window: the user's own operations on it (popup
// items, double-click, the Delete key), its editor, the clipboard import and
// the header list file.

#include "app/untFrmMain.h"

#include "headers/CurlCommand.h"
#include "headers/HeaderFile.h"
#include "headers/HeaderList.h"
#include "headers/ImportReqHeaders.h"
#include "headers/untFrmHeader.h"
#include "ui_untFrmHeader.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/Prompter.h"

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

TFrmHeader* TFrmMain::newHeaderEditor()
{
    return new TFrmHeader(
        m_headers, m_prompter, [this](const std::function<void()>& step) { guarded(step); }, this);
}

void TFrmMain::mniAddReqHeaderClick()
{
    TFrmHeader* editor = newHeaderEditor();
    editor->setWindowTitle(QStringLiteral("添加头部字段"));
    editor->form()->btnEdit->setText(QStringLiteral("添加"));
    editor->show();
}

void TFrmMain::mniEditReqHeaderClick()
{
    const int row = selectedHeaderRow();
    if (row < 0)
        return;
    TFrmHeader* editor = newHeaderEditor();
    editor->SetEditItem(row);
    editor->show();
}

void TFrmMain::mniReqHeaderImportFromClipbrdClick()
{
    // What browsers copy as a curl command carries the whole request; any
    // other text is a block of headers.
    const QString text = m_prompter->clipboardText();
    if (const std::optional<CurlRequest> curl = ParseCurlCommand(text))
        importCurlCommand(*curl);
    else
        ImportReqHeaders(*m_headers, AnsiCodec::fromUnicode(text));
}

void TFrmMain::importCurlCommand(const CurlRequest& request)
{
    if (!request.refusal.isEmpty()) {
        m_prompter->showMessage(request.refusal);
        return;
    }
    // Each as one step that undo takes back.
    ui->edtUrl->replaceAll(request.url);
    ui->cbbMethod->setCurrentIndex(ui->cbbMethod->findText(request.method));
    ui->edtData->replaceAll(request.data);
    for (const HeaderEntry& row : request.headers)
        AddReqHeader(row.name, row.value);
}

// Read once at start as the last step of the settings load, written once at
// close.
void TFrmMain::LoadReqHeaderFile()
{
    HeaderFileWasRead = false;
    LoadHeaderRows(*m_headers, HeadersFilePath);
    HeaderFileWasRead = true;
}

void TFrmMain::SaveReqHeaderFile()
{
    SaveHeaderRows(*m_headers, HeadersFilePath, HeaderFileWasRead);
}
