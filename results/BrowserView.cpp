#include "results/BrowserView.h"

#include "results/BrowserRequest.h"
#include "util/AnsiCodec.h"
#include "util/ReqlarkError.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

#include <algorithm>
#include <memory>

namespace {

struct ProxyCredentials
{
    QByteArray user;
    QByteArray password;
};

ProxyCredentials& proxyCredentials()
{
    static ProxyCredentials credentials;
    return credentials;
}

int defaultPort(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

// Pieces of a large document go over one by one: a single script of tens of
// megabytes is more than the browser's message channel wants to carry.
constexpr qsizetype kWriteChunk = qsizetype(1) << 20;

bool isCredentialHeader(const QByteArray& name)
{
    return SameTextAnsiLower(name, "Authorization") || SameTextAnsiLower(name, "Cookie") ||
           SameTextAnsiLower(name, "Proxy-Authorization");
}

} // namespace

// Puts the header lines on the first request of a navigation: lines given
// with the request itself are partly replaced by the engine (Accept among
// them). The engine keeps them on redirects.
class BrowserHeaderInterceptor : public QWebEngineUrlRequestInterceptor
{
public:
    void arm(const QList<HeaderLine>& lines)
    {
        const QMutexLocker lock(&m_mutex);
        m_lines = lines;
        m_armed = true;
    }

    void disarm()
    {
        const QMutexLocker lock(&m_mutex);
        m_armed = false;
        m_lines.clear();
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_armed || info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
            return;
        m_armed = false;
        for (const HeaderLine& line : m_lines)
            info.setHttpHeader(line.first, line.second);
    }

private:
    QMutex m_mutex;
    QList<HeaderLine> m_lines;
    bool m_armed = false;
};

// Lets the view decide on redirects before the engine follows them.
class BrowserPage : public QWebEnginePage
{
public:
    using Decide = std::function<bool(const QUrl&, NavigationType, bool)>;
    BrowserPage(QWebEngineProfile* profile, Decide decide)
        : QWebEnginePage(profile), m_decide(std::move(decide))
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return m_decide(url, type, isMainFrame);
    }

private:
    Decide m_decide;
};

BrowserView::BrowserView(QWidget* parent) : QWebEngineView(parent)
{
    createPage();
    if (QWidget* top = window(); top && top != this) {
        m_watchedWindow = top;
        top->installEventFilter(this);
    }
}

BrowserView::~BrowserView()
{
    delete m_page;
    delete m_profile;
    delete m_interceptor;
}

void BrowserView::createPage()
{
    QWebEngineProfile* oldProfile = m_profile;
    QWebEnginePage* oldPage = m_page;
    BrowserHeaderInterceptor* oldInterceptor = m_interceptor;

    m_profile = new QWebEngineProfile();
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    // A page that declares no charset is read as UTF-8; the engine's own
    // detection still recognises code page 936 and other legacy sets where
    // the bytes are not UTF-8 (it never guesses UTF-8 itself, and would
    // otherwise read such a page as windows-1252).
    m_profile->settings()->setDefaultTextEncoding(QStringLiteral("UTF-8"));
    m_interceptor = new BrowserHeaderInterceptor();
    m_profile->setUrlRequestInterceptor(m_interceptor);
    m_profileProxy = QNetworkProxy::applicationProxy();

    QWebEngineCookieStore* store = m_profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie& c) { m_cookies.insert(cookieKey(c), c); });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie& c) { m_cookies.remove(cookieKey(c)); });
    m_cookies.clear();

    m_page = new BrowserPage(
        m_profile, [this](const QUrl& url, QWebEnginePage::NavigationType type, bool mainFrame) {
            return acceptNavigation(url, type, mainFrame);
        });
    connect(m_page, &QWebEnginePage::loadingChanged, this, &BrowserView::onLoadingChanged);
    connect(m_page, &QWebEnginePage::proxyAuthenticationRequired, this,
            &BrowserView::onProxyAuthentication);
    setPage(m_page);

    delete oldPage;
    delete oldProfile;
    delete oldInterceptor;

    ++m_pageSerial;
    m_navigationStarted = true;
    m_clearHistory = false;
    setReadyState(READYSTATE_UNINITIALIZED);
}

QUrl BrowserView::toUrl(const QByteArray& url)
{
    return QUrl::fromUserInput(AnsiCodec::toUnicode(url));
}

QString BrowserView::cookieKey(const QNetworkCookie& cookie)
{
    return QString::fromLatin1(cookie.name().toPercentEncoding()) + QLatin1Char('\n') +
           cookie.domain() + QLatin1Char('\n') + cookie.path();
}

void BrowserView::setReadyState(int state)
{
    m_readyState = state;
    emit readyStateChanged(state);
}

void BrowserView::beginNavigation()
{
    ++m_navigationSerial;
    m_redirectPending = false;
    m_navigationStarted = false;
    m_proxyAnswers = 0;
    m_clearHistory = false;
    m_lastLoadFailed = false;
    m_lastLoadError.clear();
    setReadyState(READYSTATE_LOADING);
}

void BrowserView::Navigate(const QByteArray& url)
{
    m_interceptor->disarm();
    m_navigationUrl = QUrl();
    m_navigationLines.clear();
    beginNavigation();
    m_page->load(toUrl(url));
}

void BrowserView::Navigate2(const QByteArray& url, int flags, const QByteArray& /*targetFrame*/,
                            const std::optional<QByteArray>& postData, const QByteArray& headers)
{
    const QUrl target = toUrl(url);
    if (target.isEmpty() || !target.isValid()) {
        throw ReqlarkError(QStringLiteral("The browser cannot open \"%1\": it is not a valid "
                                          "address")
                               .arg(AnsiCodec::toUnicode(url)));
    }
    QList<HeaderLine> lines = BrowserHeaderLines(headers);
    QWebEngineHttpRequest request(target, postData ? QWebEngineHttpRequest::Post
                                                   : QWebEngineHttpRequest::Get);
    if (postData) {
        request.setPostData(*postData);
        // The data is sent as a form, as the request components send it,
        // unless the header rows say otherwise.
        const bool typed = std::any_of(lines.cbegin(), lines.cend(), [](const HeaderLine& l) {
            return SameTextAnsiLower(l.first, "Content-Type");
        });
        if (!typed)
            lines.append(HeaderLine("Content-Type", "application/x-www-form-urlencoded"));
    }

    beginNavigation();
    // The profile keeps no HTTP cache at all, which covers the cache flags.
    m_clearHistory = (flags & navNoHistory) != 0;
    m_navigationUrl = target;
    m_navigationLines = lines;
    m_interceptor->arm(lines);
    m_page->load(request);
}

bool BrowserView::acceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type,
                                   bool mainFrame)
{
    if (type != QWebEnginePage::NavigationTypeRedirect || !mainFrame || m_navigationUrl.isEmpty() ||
        sameOrigin(url, m_navigationUrl))
        return true;
    if (std::none_of(m_navigationLines.cbegin(), m_navigationLines.cend(),
                     [](const HeaderLine& l) { return isCredentialHeader(l.first); }))
        return true;
    // The engine would take the credential rows along to another site. The
    // redirect is followed afresh without them, as the request components
    // follow it.
    m_redirectPending = true;
    const quint64 navigation = m_navigationSerial;
    QMetaObject::invokeMethod(
        this,
        [this, url, navigation] {
            if (navigation == m_navigationSerial)
                followWithoutCredentials(url);
        },
        Qt::QueuedConnection);
    return false;
}

void BrowserView::followWithoutCredentials(const QUrl& url)
{
    QList<HeaderLine> lines;
    for (const HeaderLine& line : qAsConst(m_navigationLines)) {
        if (!isCredentialHeader(line.first) && !SameTextAnsiLower(line.first, "Content-Type"))
            lines.append(line);
    }
    const bool clearHistory = m_clearHistory;
    beginNavigation();
    m_clearHistory = clearHistory;
    m_navigationUrl = url;
    m_navigationLines = lines;
    m_interceptor->arm(lines);
    m_page->load(QWebEngineHttpRequest(url));
}

void BrowserView::onLoadingChanged(const QWebEngineLoadingInfo& info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        m_navigationStarted = true;
        m_proxyAnswers = 0;
        if (m_readyState != READYSTATE_LOADING)
            setReadyState(READYSTATE_LOADING);
        return;
    }
    // The end of a navigation that the one asked for last has replaced, or
    // of one whose redirect is followed afresh.
    if (!m_navigationStarted || m_redirectPending)
        return;
    m_interceptor->disarm();
    m_navigationUrl = QUrl();
    m_lastLoadFailed = info.status() == QWebEngineLoadingInfo::LoadFailedStatus;
    m_lastLoadError = m_lastLoadFailed ? info.errorString() : QString();
    if (m_clearHistory) {
        m_page->history()->clear();
        m_clearHistory = false;
    }
    setReadyState(READYSTATE_COMPLETE);
    emit documentComplete();
}

void BrowserView::onProxyAuthentication(const QUrl&, QAuthenticator* authenticator, const QString&)
{
    // Asked again within one navigation: the proxy refused what it got, and
    // answering once more would only repeat that.
    const ProxyCredentials& credentials = proxyCredentials();
    if (credentials.user.isEmpty() || m_proxyAnswers > 0)
        return;
    ++m_proxyAnswers;
    authenticator->setUser(AnsiCodec::toUnicode(credentials.user));
    authenticator->setPassword(AnsiCodec::toUnicode(credentials.password));
}

QByteArray BrowserView::LocationURL() const
{
    const QUrl url = m_page->url();
    return url.isEmpty() ? QByteArray() : AnsiCodec::fromUnicode(url.toString());
}

bool BrowserView::waitFor(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    if (m_closing)
        return false;
    QPointer<BrowserView> self(this);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (m_closing || done())
            loop.quit();
    };
    connect(this, &BrowserView::readyStateChanged, &loop, check);
    connect(this, &BrowserView::writeFinished, &loop, check);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    limit.start(timeoutMs);
    loop.exec();
    return self && done();
}

bool BrowserView::waitForReadyState(int state, int timeoutMs)
{
    return waitFor([this, state] { return m_readyState >= state; }, timeoutMs);
}

bool BrowserView::write(const QString& document, int timeoutMs)
{
    const quint64 serial = m_pageSerial;
    auto finished = std::make_shared<bool>(false);
    QPointer<BrowserView> self(this);
    const auto onDone = [self, serial, finished](const QVariant&) {
        *finished = true;
        if (self && self->m_pageSerial == serial)
            emit self->writeFinished();
    };

    // Scripts run in a world of their own, so nothing in the page can see or
    // disturb the pieces while they are collected.
    const quint32 world = QWebEngineScript::ApplicationWorld;
    if (document.size() <= kWriteChunk) {
        m_page->runJavaScript(QStringLiteral("document.write(%1);").arg(JsStringLiteral(document)),
                              world, onDone);
    } else {
        for (qsizetype at = 0; at < document.size(); at += kWriteChunk) {
            const QStringView piece = QStringView(document).mid(at, kWriteChunk);
            m_page->runJavaScript(QStringLiteral("(window.__reqlarkPieces = "
                                                 "window.__reqlarkPieces || []).push(%1);")
                                      .arg(JsStringLiteral(piece)),
                                  world);
        }
        m_page->runJavaScript(QStringLiteral("(function () { var p = window.__reqlarkPieces || [];"
                                             " delete window.__reqlarkPieces;"
                                             " document.write(p.join('')); })();"),
                              world, onDone);
    }
    return waitFor([this, serial, finished] { return *finished || m_pageSerial != serial; },
                   timeoutMs) &&
           *finished && m_pageSerial == serial;
}

void BrowserView::setCookie(const QByteArray& url, const QByteArray& piece)
{
    const CookiePair pair = ParseCookiePiece(piece);
    if (!pair.ok)
        return;
    m_profile->cookieStore()->setCookie(QNetworkCookie(pair.name, pair.value), toUrl(url));
}

QList<WebBrowser::Cookie> BrowserView::cookies() const
{
    QList<Cookie> all;
    for (const QNetworkCookie& c : m_cookies)
        all.append(Cookie{c.name(), c.value(), c.domain(), c.path()});
    return all;
}

void BrowserView::clearCookies()
{
    m_profile->cookieStore()->deleteAllCookies();
}

int BrowserView::deleteCookiesFor(const QByteArray& url)
{
    const QString host = toUrl(url).host().toLower();
    if (host.isEmpty())
        return 0;
    int deleted = 0;
    const QList<QNetworkCookie> all = m_cookies.values();
    for (const QNetworkCookie& cookie : all) {
        QString domain = cookie.domain().toLower();
        if (domain.startsWith(QLatin1Char('.')))
            domain.remove(0, 1);
        if (domain.isEmpty() || (host != domain && !host.endsWith(QLatin1Char('.') + domain)))
            continue;
        QUrl origin;
        origin.setScheme(cookie.isSecure() ? QStringLiteral("https") : QStringLiteral("http"));
        origin.setHost(domain);
        origin.setPath(cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path());
        m_profile->cookieStore()->deleteCookie(cookie, origin);
        ++deleted;
    }
    return deleted;
}

void BrowserView::setApplicationProxy(const QByteArray& address)
{
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    QString host;
    quint16 port = 0;
    if (!address.isEmpty() && SplitProxyAddress(address, &host, &port))
        proxy = QNetworkProxy(QNetworkProxy::HttpProxy, host, port);
    QNetworkProxy::setApplicationProxy(proxy);
}

void BrowserView::adoptApplicationProxy()
{
    // The engine reads the application proxy lazily: a request made after a
    // change may still go the old way. A new profile starts from the proxy
    // in force, so the next navigation surely takes the new one.
    if (QNetworkProxy::applicationProxy() != m_profileProxy)
        createPage();
}

void BrowserView::setProxyCredentials(const QByteArray& user, const QByteArray& password)
{
    proxyCredentials() = ProxyCredentials{user, password};
}

void BrowserView::showInFront()
{
    show();
    raise();
}

void BrowserView::hideBehind()
{
    hide();
    lower();
}

QMetaObject::Connection BrowserView::onDocumentComplete(QObject* context,
                                                        std::function<void()> handler)
{
    return connect(this, &BrowserView::documentComplete, context, std::move(handler));
}

void BrowserView::runJavaScript(const QString& script, std::function<void(const QVariant&)> result)
{
    m_page->runJavaScript(script, std::move(result));
}

bool BrowserView::canGoBack() const
{
    return m_page->history()->canGoBack();
}

bool BrowserView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow) {
        if (event->type() == QEvent::Close) {
            // Waits end so that closing is never held up by the browser.
            m_closing = true;
            emit readyStateChanged(m_readyState);
        } else if (event->type() == QEvent::Show) {
            m_closing = false;
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}

namespace {

class ViewEngine final : public BrowserEngine
{
public:
    WebBrowser* createBrowser(QWidget* parent) override { return new BrowserView(parent); }
    void setApplicationProxy(const QByteArray& address) override
    {
        BrowserView::setApplicationProxy(address);
    }
    void setProxyCredentials(const QByteArray& user, const QByteArray& password) override
    {
        BrowserView::setProxyCredentials(user, password);
    }
};

} // namespace

extern "C" Q_DECL_EXPORT BrowserEngine* reqlarkBrowserEngine(int interfaceVersion)
{
    static ViewEngine engine;
    return interfaceVersion == kBrowserModuleInterface ? &engine : nullptr;
}
