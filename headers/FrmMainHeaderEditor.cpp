// Opening the header editor and importing headers from the clipboard.

#include "app/untFrmMain.h"

#include "headers/ImportReqHeaders.h"
#include "headers/untFrmHeader.h"
#include "ui_untFrmHeader.h"
#include "util/AnsiCodec.h"
#include "util/Prompter.h"

void TFrmMain::mniAddReqHeaderClick()
{
    auto* editor = new TFrmHeader(this);
    editor->setWindowTitle(QStringLiteral("添加头部字段"));
    editor->form()->btnEdit->setText(QStringLiteral("添加"));
    editor->show();
}

void TFrmMain::mniEditReqHeaderClick()
{
    const int row = selectedHeaderRow();
    if (row < 0)
        return;
    auto* editor = new TFrmHeader(this);
    editor->SetEditItem(row);
    editor->show();
}

void TFrmMain::mniReqHeaderImportFromClipbrdClick()
{
    ImportReqHeaders(*m_headers, AnsiCodec::fromUnicode(m_prompter->clipboardText()));
}
