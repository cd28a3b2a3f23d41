// Result views and the embedded browser of the main window.

#include "app/untFrmMain.h"

#include "headers/HeaderList.h"
#include "results/BrowserModule.h"
#include "results/BrowserRequest.h"
#include "results/WebBrowser.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"

#include <optional>

namespace {

// Time limits of the waits for the browser. When one is reached the browser
// is shown with whatever it has and goes on loading; the status bar keeps the
// progress text until the page reports completion.
constexpr int kBlankPageWaitMs = 10000;
constexpr int kOriginalPageWaitMs = 30000;

int writeWaitMs(qsizetype bytes)
{
    return 30000 + int(bytes >> 20) * 2000;
}

QByteArray ansi(const QString& text)
{
    return AnsiCodec::fromUnicode(text);
}

} // namespace

void TFrmMain::cbbResultTypeClick()
{
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
        WebBrowser* wb = browser();
        setPanelText(2, QStringLiteral("正在加载离线网页"));
        wb->Navigate("about:blank");
        wb->waitForReadyState(WebBrowser::READYSTATE_INTERACTIVE, kBlankPageWaitMs);
        // The page gets the body's own characters, as the HTML view shows them.
        const QByteArray text = responseTextUtf8();
        const bool written = wb->write(QString::fromUtf8(text), writeWaitMs(text.size()));
        showBrowser();
        if (written)
            setPanelText(2, QStringLiteral("离线网页加载完毕"));
        ui->mniClearIECookies->trigger();
    }
    if (view == 3) {
        SetBrowserCookies();
        if (!ProxyAddress.isEmpty() && ui->chkUseProxy->isChecked())
            SetBrowserProxy(ProxyAddress);
        else
            SetBrowserProxy(QByteArray());
        if (!ProxyUserName.isEmpty())
            SetBrowserProxyCredentials(ProxyUserName, ProxyPassword);
        ui->mniClearIECookies->trigger();
        OpenOriginalPage();
    }
}

void TFrmMain::OpenOriginalPage()
{
    WebBrowser* wb = browser();
    wb->Navigate("about:blank");
    setPanelText(2, QStringLiteral("正在打开原始网址"));
    setPanelText(3, QString());
    const QByteArray url = ansi(ui->edtUrl->text());
    if (url.isEmpty())
        return;
    std::optional<QByteArray> postData;
    if (ui->cbbMethod->currentIndex() == 1)
        postData = ansi(ui->edtData->text());
    const QByteArray headers = BuildBrowserHeaders();
    SetBrowserCookies();
    wb->Navigate2(url,
                  WebBrowser::navNoHistory | WebBrowser::navNoReadFromCache |
                      WebBrowser::navNoWriteToCache,
                  QByteArray(), postData, headers);
    wb->waitForReadyState(WebBrowser::READYSTATE_INTERACTIVE, kOriginalPageWaitMs);
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
    WebBrowser* wb = browser();
    for (const QByteArray& piece : CookiePieces(m_headers->value(row)))
        wb->setCookie(url, piece);
}

void TFrmMain::SetBrowserProxy(const QByteArray& address)
{
    BrowserModule::engine().setApplicationProxy(address);
    if (m_wb1)
        m_wb1->adoptApplicationProxy();
}

void TFrmMain::SetBrowserProxyCredentials(const QByteArray& user, const QByteArray& password)
{
    if (user.isEmpty())
        return;
    BrowserModule::engine().setProxyCredentials(user, password);
}

void TFrmMain::wb1DocumentComplete()
{
    const QByteArray location = m_wb1 ? m_wb1->LocationURL() : QByteArray();
    if (location.isEmpty() || location == "about:blank")
        return;
    // A page that could not be loaded is not reported as loaded.
    if (m_wb1->lastLoadFailed())
        setPanelText(2, QStringLiteral("原始网页加载失败：%1").arg(m_wb1->lastLoadError()));
    else
        setPanelText(2, QStringLiteral("原始网页加载完毕"));
}

WebBrowser* TFrmMain::browser()
{
    if (!m_wb1) {
        // Made on first use, from the browser module, so that start-up loads
        // neither the engine nor OpenGL.
        m_wb1 = BrowserModule::engine().createBrowser(ui->pnlBot);
        m_wb1->widget()->setObjectName(QStringLiteral("wb1"));
        m_wb1->hideBehind();
        placeBrowser();
        m_wb1->onDocumentComplete(this, [this] { guarded([this] { wb1DocumentComplete(); }); });
    }
    return m_wb1;
}

void TFrmMain::showBrowser()
{
    browser()->showInFront();
}

void TFrmMain::hideBrowser()
{
    if (m_wb1)
        m_wb1->hideBehind();
}

void TFrmMain::placeBrowser()
{
    if (m_wb1)
        m_wb1->widget()->setGeometry(
            QRect(ui->mmoHtml->mapTo(ui->pnlBot, QPoint(0, 0)), ui->mmoHtml->size()));
}
