#include "results/BrowserPane.h"

#include "results/BrowserModule.h"
#include "results/BrowserRequest.h"
#include "results/WebBrowser.h"

#include <QEvent>
#include <QWidget>

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

} // namespace

BrowserPane::BrowserPane(QWidget* pane, QWidget* container)
    : QObject(container), m_pane(pane), m_container(container)
{
    // A drag of the splitter between the memos moves or sizes the pane alone.
    m_pane->installEventFilter(this);
}

bool BrowserPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pane && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        place();
    return QObject::eventFilter(watched, event);
}

WebBrowser* BrowserPane::browser()
{
    if (!m_browser) {
        // Made on first use, from the browser module, so that start-up loads
        // neither the engine nor OpenGL.
        m_browser = BrowserModule::engine().createBrowser(m_container);
        m_browser->widget()->setObjectName(QStringLiteral("wb1"));
        m_browser->hideBehind();
        place();
        m_browser->onDocumentComplete(this, [this] { emit documentComplete(); });
    }
    return m_browser;
}

void BrowserPane::show()
{
    browser()->showInFront();
}

void BrowserPane::hide()
{
    if (m_browser)
        m_browser->hideBehind();
}

void BrowserPane::place()
{
    if (m_browser)
        m_browser->widget()->setGeometry(
            QRect(m_pane->mapTo(m_container, QPoint(0, 0)), m_pane->size()));
}

bool BrowserPane::writeDocument(const QByteArray& utf8)
{
    WebBrowser* wb = browser();
    m_pageKind = OfflinePage;
    wb->Navigate("about:blank");
    wb->waitForReadyState(WebBrowser::READYSTATE_INTERACTIVE, kBlankPageWaitMs);
    return wb->write(QString::fromUtf8(utf8), writeWaitMs(utf8.size()));
}

void BrowserPane::openPage(const QByteArray& url, const std::optional<QByteArray>& postData,
                           const QByteArray& headers)
{
    WebBrowser* wb = browser();
    m_pageKind = OriginalPage;
    wb->Navigate2(url,
                  WebBrowser::navNoHistory | WebBrowser::navNoReadFromCache |
                      WebBrowser::navNoWriteToCache,
                  QByteArray(), postData, headers);
    wb->waitForReadyState(WebBrowser::READYSTATE_INTERACTIVE, kOriginalPageWaitMs);
}

void BrowserPane::setCookies(const QByteArray& url, const QByteArray& cookieRow)
{
    WebBrowser* wb = browser();
    for (const QByteArray& piece : CookiePieces(cookieRow))
        wb->setCookie(url, piece);
}

void BrowserPane::setProxy(const QByteArray& address)
{
    BrowserModule::engine().setApplicationProxy(address);
    if (m_browser)
        m_browser->adoptProxySettings();
}

void BrowserPane::setProxyCredentials(const QByteArray& user, const QByteArray& password)
{
    BrowserModule::engine().setProxyCredentials(user, password);
    if (m_browser)
        m_browser->adoptProxySettings();
}

void BrowserPane::setCaFile(const QByteArray& path)
{
    BrowserModule::engine().setCaFile(path);
}
