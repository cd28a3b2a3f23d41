// Result views and the embedded browser of the main window.

#include "app/untFrmMain.h"

void TFrmMain::cbbResultTypeClick() {}

void TFrmMain::OpenOriginalPage() {}

QByteArray TFrmMain::BuildBrowserHeaders() const
{
    return {};
}

void TFrmMain::SetBrowserCookies() {}

void TFrmMain::SetBrowserProxy(const QByteArray&) {}

void TFrmMain::SetBrowserProxyCredentials(const QByteArray&, const QByteArray&) {}

void TFrmMain::wb1DocumentComplete() {}

BrowserView* TFrmMain::browser()
{
    return m_wb1;
}

void TFrmMain::showBrowser() {}

void TFrmMain::hideBrowser() {}

void TFrmMain::placeBrowser() {}
