// Quick-input gestures and fonts of the main window.

#include "app/untFrmMain.h"

#include "ui_untFrmMain.h"

#include <QKeyEvent>

bool TFrmMain::edtUrlKeyDown(QKeyEvent*)
{
    return false;
}

void TFrmMain::edtUrlDblClick() {}

void TFrmMain::edtDataDblClick() {}

void TFrmMain::mmoHtmlDblClick() {}

bool TFrmMain::mmoHtmlKeyDown(QKeyEvent*)
{
    return false;
}

void TFrmMain::mniFontUIClick() {}

void TFrmMain::mniFontHTMLClick() {}

void TFrmMain::applyInterfaceFont(const QFont& font, const QColor& color)
{
    setFont(font);
    UiFontColor = color;
}

void TFrmMain::applyHtmlFont(const QFont& font, const QColor& color)
{
    ui->mmoHtml->setFont(font);
    HtmlFontColor = color;
}
