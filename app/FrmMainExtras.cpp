// Help, About and the browser cookie tools of the main window. The cookie
// tools act on the embedded browser's own profile only, never on a browser of
// the user.

#include "app/untFrmMain.h"

#include "extras/untFrmAbout.h"
#include "extras/untFrmNote.h"
#include "results/BrowserModule.h"
#include "results/WebBrowser.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/InputGuard.h"
#include "util/MyStrUtils.h"
#include "util/Prompter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>

void TFrmMain::mniClearIECookiesClick()
{
    if (TrimBytes(AnsiCodec::fromUnicode(ui->edtUrl->text())).isEmpty())
        return;
    BrowserModule::engine(); // reports a missing browser module
    if (WebBrowser* wb = existingBrowser())
        wb->clearCookies();
    // The pause gives the cookie store time to finish before the caller
    // sets cookies again. The window is drawn meanwhile; what the user does
    // in that second starts nothing.
    const InputGuard hold;
    QEventLoop pause;
    QTimer::singleShot(1000, &pause, &QEventLoop::quit);
    pause.exec();
}

void TFrmMain::mniDelCurrCookieClick()
{
    const QByteArray url = TrimBytes(AnsiCodec::fromUnicode(ui->edtUrl->text()));
    if (url.isEmpty())
        return;
    BrowserModule::engine(); // reports a missing browser module
    const int deleted = existingBrowser() ? existingBrowser()->deleteCookiesFor(url) : 0;
    const QString host = QUrl::fromUserInput(AnsiCodec::toUnicode(url)).host();
    m_prompter->showMessage(QStringLiteral("已删除 %1 的Cookie %2 个").arg(host).arg(deleted));
}

void TFrmMain::mniHelpClick()
{
    TfrmNote note(this);
    note.ShowResourceText(QStringLiteral("HelpFile"), QStringLiteral("TXT"));
    note.setWindowTitle(QStringLiteral("使用帮助"));
    note.exec();
}

void TFrmMain::mniAboutClick()
{
    TfrmAbout about(this);
    about.exec();
}
