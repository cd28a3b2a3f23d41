// Result views and the embedded browser of the main window.

#include "app/untFrmMain.h"

#include "headers/HeaderList.h"
#include "results/BrowserPane.h"
#include "results/BrowserRequest.h"
#include "results/WebBrowser.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/InputGuard.h"
#include "util/MyStrUtils.h"

#include <optional>

namespace {

QByteArray ansi(const QString& text)
{
    return AnsiCodec::fromUnicode(text);
}

} // namespace

void TFrmMain::cbbResultTypeClick()
{
    // The waits for the browser and the cookie store run the event loop; the
    // user's clicks and keys meanwhile start nothing (a page's own dialogs
    // still take theirs).
    const InputGuard hold;
    hideBrowser();
    const int view = ui->cbbResultType->currentIndex();
    if (ui->edtUrl->text().isEmpty())
        return;
    setPanelText(1, ui->cbbResultType->currentText());

    // The view is the one taken above even when a send puts the selector
    // back to HTML.
    if (view == 0) {
        if (LastResponseText.isEmpty())
            btnSendReqestClick();
        showResponseInMemo(false);
    }
    if (view == 1) {
        if (LastResponseText.isEmpty())
            btnSendReqestClick();
        showResponseInMemo(true);
    }
    if (view == 2) {
        if (LastResponseText.isEmpty()) {
            btnSendReqestClick();
            // The send put the selector back to HTML; the page is what shows.
            ui->cbbResultType->setCurrentIndex(view);
            setPanelText(1, ui->cbbResultType->currentText());
        }
        browser(); // a browser module that cannot be loaded is told before anything else
        setPanelText(2, QStringLiteral("正在加载离线网页"));
        // The page gets the body's own characters, as the HTML view shows them.
        const bool written = m_browserPane->writeDocument(responseTextUtf8());
        const QString failure = written ? QString() : existingBrowser()->lastLoadError();
        // Nothing is said while the window closes.
        if (written || !failure.isEmpty()) {
            showBrowser();
            setPanelText(2, written ? QStringLiteral("离线网页加载完毕")
                                    : QStringLiteral("离线网页加载失败：%1").arg(failure));
        }
        ui->mniClearIECookies->trigger();
    }
    if (view == 3) {
        SetBrowserCookies();
        if (!ProxyAddress.isEmpty() && ui->chkUseProxy->isChecked())
            SetBrowserProxy(ProxyAddress);
        else
            SetBrowserProxy(QByteArray());
        // Credentials removed in the proxy dialog are not used any more either.
        if (!ProxyUserName.isEmpty())
            SetBrowserProxyCredentials(ProxyUserName, ProxyPassword);
        else
            m_browserPane->setProxyCredentials(QByteArray(), QByteArray());
        ui->mniClearIECookies->trigger();
        OpenOriginalPage();
    }
}

void TFrmMain::OpenOriginalPage()
{
    browser()->Navigate("about:blank");
    setPanelText(2, QStringLiteral("正在打开原始网址"));
    setPanelText(3, QString());
    const QByteArray url = ansi(ui->edtUrl->text());
    if (url.isEmpty())
        return;
    std::optional<QByteArray> postData;
    if (ui->cbbMethod->currentIndex() == 1)
        postData = ansi(ui->edtData->text());
    const QByteArray headers = BuildBrowserHeaders();
    // The page trusts the authorities the request components trust.
    m_browserPane->setCaFile(m_env.http.caFile);
    SetBrowserCookies();
    m_browserPane->openPage(url, postData, headers);
    showBrowser();
}

QByteArray TFrmMain::BuildBrowserHeaders() const
{
    return BrowserHeaderBlock(*m_headers);
}

void TFrmMain::SetBrowserCookies()
{
    const int row = IndexOfReqHeader("Cookie");
    const QByteArray url = TrimBytes(ansi(ui->edtUrl->text()));
    if (url.isEmpty() || row < 0)
        return;
    m_browserPane->setCookies(url, m_headers->value(row));
}

void TFrmMain::SetBrowserProxy(const QByteArray& address)
{
    m_browserPane->setProxy(address);
}

void TFrmMain::SetBrowserProxyCredentials(const QByteArray& user, const QByteArray& password)
{
    if (user.isEmpty())
        return;
    m_browserPane->setProxyCredentials(user, password);
}

void TFrmMain::wb1DocumentComplete()
{
    WebBrowser* wb = existingBrowser();
    if (!wb)
        return;
    // A page that could not be loaded, or whose renderer ended, is reported
    // as failed whatever address the browser shows now (a page without a
    // renderer is replaced by a blank one).
    const BrowserPane::PageKind page = m_browserPane->pageKind();
    if (wb->lastLoadFailed() && page != BrowserPane::NoPage) {
        setPanelText(2, (page == BrowserPane::OfflinePage ? QStringLiteral("离线网页加载失败：%1")
                                                          : QStringLiteral("原始网页加载失败：%1"))
                            .arg(wb->lastLoadError()));
        return;
    }
    const QByteArray location = wb->LocationURL();
    if (location.isEmpty() || location == "about:blank")
        return;
    setPanelText(2, QStringLiteral("原始网页加载完毕"));
}

WebBrowser* TFrmMain::browser()
{
    return m_browserPane->browser();
}

WebBrowser* TFrmMain::existingBrowser() const
{
    return m_browserPane->existing();
}

void TFrmMain::showBrowser()
{
    m_browserPane->show();
}

void TFrmMain::hideBrowser()
{
    m_browserPane->hide();
}

void TFrmMain::placeBrowser()
{
    m_browserPane->place();
}
