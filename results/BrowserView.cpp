#include "results/BrowserView.h"

#include "request/FormatByteSize.h"
#include "results/BrowserRequest.h"
#include "results/CertificateTrust.h"
#include "results/PageDialog.h"
#include "util/AnsiCodec.h"
#include "util/ReqlarkError.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QQuickWidget>
#include <QSslCertificate>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

struct EngineSettings
{
    QByteArray proxyUser;
    QByteArray proxyPassword;
    QByteArray caFile;
    qint64 memoryLimit = 0; // 0: the default
};

EngineSettings& engineSettings()
{
    static EngineSettings settings;
    return settings;
}

QByteArray credentialsKey()
{
    const EngineSettings& s = engineSettings();
    return s.proxyUser + '\0' + s.proxyPassword;
}

// The lesser of 3 GB and half the machine's memory: beyond what pages need
// (20 MB of Chinese paragraphs written as the offline page took up to 1.8 GB
// here once laid out), and the rest of the machine keeps room to work.
qint64 defaultMemoryLimit()
{
    constexpr qint64 kCeiling = qint64(3) << 30;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return kCeiling;
    for (const QByteArray& line : meminfo.readAll().split('\n')) {
        if (!line.startsWith("MemTotal:"))
            continue;
        const qint64 kilobytes = line.mid(9).trimmed().split(' ').value(0).toLongLong();
        if (kilobytes > 0)
            return std::min(kCeiling, kilobytes * 1024 / 2);
    }
    return kCeiling;
}

// Resident memory of a process, 0 when it cannot be read.
qint64 residentBytes(qint64 pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * qint64(sysconf(_SC_PAGESIZE));
}

// How often the renderer's memory is looked at. A page that grows fast (a
// gzip bomb of markup grew its renderer by some 80 MB a second here) is
// stopped within a few dozen megabytes of the limit.
constexpr int kMemoryWatchMs = 200;

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

// Time allowed for the blank page that replaces a page whose renderer ended.
constexpr int kBlankPageMs = 10000;

// Pieces of a large document go over one by one: a single script of tens of
// megabytes is more than the browser's message channel wants to carry.
constexpr qsizetype kWriteChunk = qsizetype(1) << 20;

bool isCredentialHeader(const QByteArray& name)
{
    return SameTextAnsiLower(name, "Authorization") || SameTextAnsiLower(name, "Cookie") ||
           SameTextAnsiLower(name, "Proxy-Authorization");
}

// Why a load failed, in words, with the engine's own name of the error.
QString loadFailure(const QWebEngineLoadingInfo& info)
{
    static const struct
    {
        int code;
        const char* text;
    } known[] = {
        {-7, "连接超时"},
        {-20, "请求被浏览器拦截"},
        {-100, "连接被服务器关闭"},
        {-101, "连接被重置"},
        {-102, "服务器拒绝连接"},
        {-105, "无法解析服务器的名称"},
        {-109, "无法访问服务器的地址"},
        {-111, "无法通过代理服务器建立隧道"},
        {-118, "连接超时"},
        {-127, "代理服务器要求身份验证"},
        {-130, "无法连接到代理服务器"},
        {-200, "服务器证书与网址的主机不符"},
        {-201, "服务器证书已过期或尚未生效"},
        {-202, "服务器证书的颁发机构不受信任"},
        {-310, "重定向次数过多"},
        {-320, "服务器的响应无效"},
        {-324, "服务器没有返回任何数据"},
    };
    const QString name = info.errorString();
    for (const auto& entry : known) {
        if (entry.code == info.errorCode() &&
            info.errorDomain() != QWebEngineLoadingInfo::HttpErrorDomain)
            return QStringLiteral("%1（%2）").arg(QString::fromUtf8(entry.text), name);
    }
    return name.isEmpty() ? QStringLiteral("错误 %1").arg(info.errorCode()) : name;
}

QString originText(const QUrl& origin)
{
    if (origin.host().isEmpty())
        return QString();
    return origin.port() > 0 ? origin.host() + QLatin1Char(':') + QString::number(origin.port())
                             : origin.host();
}

} // namespace

// Puts the header lines on the first request of a navigation: lines given
// with the request itself are partly replaced by the engine (Accept among
// them, and a Referer is dropped). The engine keeps them on redirects.
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
        for (const HeaderLine& line : m_lines) {
            if (!SameTextAnsiLower(line.first, "Referer")) {
                info.setHttpHeader(line.first, line.second);
                continue;
            }
            // The engine takes a Referer set here for the request's referrer
            // and cancels the request when it says more than its referrer
            // policy lets a browser send to this address.
            const QByteArray referrer = BrowserReferrer(line.second, info.requestUrl());
            if (!referrer.isEmpty())
                info.setHttpHeader("Referer", referrer);
        }
    }

private:
    QMutex m_mutex;
    QList<HeaderLine> m_lines;
    bool m_armed = false;
};

// The view's page: it lets the view decide on redirects before the engine
// follows them, and asks the page's dialogs. A dialog waits in an event loop
// of its own inside the engine's call, so the page (and its profile) must
// outlive that call even when the view lets go of it meanwhile.
class BrowserPage : public QWebEnginePage
{
public:
    using Decide = std::function<bool(const QUrl&, NavigationType, bool)>;
    BrowserPage(QWebEngineProfile* profile, BrowserView* view, Decide decide)
        : QWebEnginePage(profile), m_view(view), m_decide(std::move(decide))
    {
    }

    // A new document: its dialogs are counted afresh and may show again.
    void resetDialogs()
    {
        m_dialogsShown = 0;
        m_dialogsBlocked = false;
    }

    void closeDialog()
    {
        if (m_openDialog)
            m_openDialog->reject();
    }

    // Deletes the page, `profile` and `interceptor` now, or when the dialog
    // being asked returns.
    void retire(QWebEngineProfile* profile, QWebEngineUrlRequestInterceptor* interceptor)
    {
        m_view = nullptr;
        if (m_dialogDepth == 0) {
            delete this;
            delete profile;
            delete interceptor;
            return;
        }
        m_retiredProfile = profile;
        m_retiredInterceptor = interceptor;
        closeDialog();
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return m_view ? m_decide(url, type, isMainFrame) : false;
    }

    void javaScriptAlert(const QUrl& origin, const QString& message) override
    {
        ask(PageDialog::Alert, origin, message, QString(), nullptr);
    }

    bool javaScriptConfirm(const QUrl& origin, const QString& message) override
    {
        return ask(PageDialog::Confirm, origin, message, QString(), nullptr);
    }

    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& defaultValue,
                          QString* result) override
    {
        return ask(PageDialog::Prompt, origin, message, defaultValue, result);
    }

private:
    bool ask(PageDialog::Kind kind, const QUrl& origin, const QString& message,
             const QString& defaultText, QString* result)
    {
        // A blocked page's dialogs, and any while the window closes, end at
        // once as if cancelled.
        if (!m_view || m_view->closing() || m_dialogsBlocked)
            return false;
        ++m_dialogsShown;
        QPointer<PageDialog> dialog =
            new PageDialog(m_view->outerWindow(), kind, originText(origin), message, defaultText,
                           m_dialogsShown > 1);
        m_openDialog = dialog;
        ++m_dialogDepth;
        const bool accepted = dialog->ask();
        --m_dialogDepth;
        m_openDialog = nullptr;
        if (dialog) {
            if (dialog->blockRequested())
                m_dialogsBlocked = true;
            if (accepted && result)
                *result = dialog->text();
            delete dialog;
        }
        if (!m_view && m_dialogDepth == 0) {
            // Retired meanwhile: gone once the engine's call has returned.
            QWebEngineProfile* profile = m_retiredProfile;
            QWebEngineUrlRequestInterceptor* interceptor = m_retiredInterceptor;
            QTimer::singleShot(0, qApp, [this, profile, interceptor] {
                delete this;
                delete profile;
                delete interceptor;
            });
        }
        return accepted;
    }

    BrowserView* m_view;
    Decide m_decide;
    int m_dialogsShown = 0;
    bool m_dialogsBlocked = false;
    int m_dialogDepth = 0;
    QPointer<PageDialog> m_openDialog;
    QWebEngineProfile* m_retiredProfile = nullptr;
    QWebEngineUrlRequestInterceptor* m_retiredInterceptor = nullptr;
};

// What the window around sees of the browser: a plain widget holding the
// browser's own native window. The engine draws through OpenGL, and a window
// that gets such a widget among its children is made anew with an OpenGL
// surface: a new native window (or Wayland surface) that flashes and loses
// its place among the desktop's windows. The browser is a window of its own
// instead, embedded here, and the main window keeps drawing as it did.
class BrowserFrame : public QWidget
{
public:
    BrowserFrame(QWidget* parent, QWidget* browser) : QWidget(parent), m_browser(browser)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(QWidget::createWindowContainer(browser->windowHandle(), this));
    }

    // The browser goes first: the container would otherwise delete its
    // native window under it.
    ~BrowserFrame() override { delete m_browser; }

private:
    QWidget* m_browser;
};

BrowserView::BrowserView(QWidget* parent) : QWebEngineView(static_cast<QWidget*>(nullptr))
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    // The engine's drawing widget comes with the first page and would make
    // this window anew with an OpenGL surface, out of its container. A
    // hidden widget of the same kind makes it so from the start.
    (new QQuickWidget(this))->hide();
    create();
    m_frame = new BrowserFrame(parent, this);
    m_memoryWatch.setInterval(kMemoryWatchMs);
    connect(&m_memoryWatch, &QTimer::timeout, this, &BrowserView::checkRendererMemory);
    createPage();
    if (QWidget* top = m_frame->window(); top && top != m_frame) {
        m_watchedWindow = top;
        top->installEventFilter(this);
    }
}

BrowserView::~BrowserView()
{
    m_page->retire(m_profile, m_interceptor);
}

QWidget* BrowserView::outerWindow() const
{
    return m_frame->window();
}

void BrowserView::createPage()
{
    BrowserPage* oldPage = m_page;
    QWebEngineProfile* oldProfile = m_profile;
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
    m_profileCredentials = credentialsKey();

    QWebEngineCookieStore* store = m_profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie& c) { m_cookies.insert(cookieKey(c), c); });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie& c) { m_cookies.remove(cookieKey(c)); });
    m_cookies.clear();

    m_page =
        new BrowserPage(m_profile, this,
                        [this](const QUrl& url, QWebEnginePage::NavigationType type,
                               bool mainFrame) { return acceptNavigation(url, type, mainFrame); });
    connect(m_page, &QWebEnginePage::loadingChanged, this, &BrowserView::onLoadingChanged);
    connect(m_page, &QWebEnginePage::proxyAuthenticationRequired, this,
            &BrowserView::onProxyAuthentication);
    connect(m_page, &QWebEnginePage::certificateError, this, &BrowserView::onCertificateError);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, &BrowserView::onRendererEnded);
    setPage(m_page);

    if (oldPage) {
        oldPage->disconnect(this);
        oldPage->retire(oldProfile, oldInterceptor);
    }

    ++m_pageSerial;
    m_navigationStarted = true;
    m_clearHistory = false;
    m_pageFailure.clear();
    setReadyState(READYSTATE_UNINITIALIZED);
}

QUrl BrowserView::toUrl(const QByteArray& url)
{
    return BrowserUrl(url);
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
    m_certificateRejection.clear();
    m_pageFailure.clear();
    m_page->resetDialogs();
    m_memoryWatch.start();
    setReadyState(READYSTATE_LOADING);
}

bool BrowserView::lastLoadFailed() const
{
    return m_lastLoadFailed || !m_pageFailure.isEmpty();
}

QString BrowserView::lastLoadError() const
{
    return m_pageFailure.isEmpty() ? m_lastLoadError : m_pageFailure;
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
        throw ReqlarkError(QStringLiteral("浏览器无法打开“%1”：这不是有效的网址")
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
        m_memoryWatch.start();
        m_navigationStarted = true;
        m_proxyAnswers = 0;
        m_page->resetDialogs();
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
    m_lastLoadError = m_lastLoadFailed ? loadFailure(info) : QString();
    // A certificate refused here: the check's own finding says more.
    if (m_lastLoadFailed && info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain &&
        !m_certificateRejection.isEmpty())
        m_lastLoadError = m_certificateRejection;
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
    const EngineSettings& settings = engineSettings();
    if (settings.proxyUser.isEmpty() || m_proxyAnswers > 0)
        return;
    ++m_proxyAnswers;
    authenticator->setUser(AnsiCodec::toUnicode(settings.proxyUser));
    authenticator->setPassword(AnsiCodec::toUnicode(settings.proxyPassword));
}

void BrowserView::onCertificateError(const QWebEngineCertificateError& error)
{
    // The engine trusts its own list of authorities; the request components
    // trust the system's store. A chain that the system's store (or the
    // configured file) vouches for is accepted, with the name and the dates
    // checked again here; every other fault stays fatal.
    // The engine's own reason stays when the authority is not the fault.
    QWebEngineCertificateError answer(error);
    if (error.type() != QWebEngineCertificateError::CertificateAuthorityInvalid) {
        answer.rejectCertificate();
        return;
    }
    QList<QByteArray> chain;
    for (const QSslCertificate& certificate : error.certificateChain())
        chain.append(certificate.toDer());
    m_certificateRejection = ChainRejection(chain, error.url().host(), engineSettings().caFile);
    if (m_certificateRejection.isEmpty())
        answer.acceptCertificate();
    else
        answer.rejectCertificate();
}

void BrowserView::checkRendererMemory()
{
    const qint64 pid = m_page->renderProcessPid();
    if (pid <= 0) {
        // Watched again from the next page on.
        m_memoryWatch.stop();
        return;
    }
    if (pid == m_stoppedPid)
        return;
    const qint64 limit = memoryLimit();
    if (residentBytes(pid) <= limit)
        return;
    // Stopping the load would leave what the page has taken in place, and a
    // renderer busy with a page that large may not even get to it.
    m_stoppedPid = pid;
    m_stopReason = QStringLiteral("网页占用的内存超过了上限 %1，已被停止")
                       .arg(QString::fromLatin1(FormatByteSize(limit).trimmed()));
    ::kill(pid_t(pid), SIGKILL);
}

void BrowserView::onRendererEnded(QWebEnginePage::RenderProcessTerminationStatus status,
                                  int exitCode)
{
    QString reason;
    if (m_stoppedPid != 0 && !m_stopReason.isEmpty()) {
        reason = m_stopReason;
    } else {
        switch (status) {
        case QWebEnginePage::NormalTerminationStatus:
            return;
        case QWebEnginePage::AbnormalTerminationStatus:
            reason = QStringLiteral("网页的渲染进程异常退出（退出码 %1）").arg(exitCode);
            break;
        case QWebEnginePage::CrashedTerminationStatus:
            reason =
                QStringLiteral("网页的渲染进程崩溃了（退出码 %1），例如内存不足").arg(exitCode);
            break;
        case QWebEnginePage::KilledTerminationStatus:
            reason = QStringLiteral("网页的渲染进程被终止了（信号 %1）").arg(exitCode);
            break;
        }
    }
    m_stoppedPid = 0;
    m_stopReason.clear();
    failPage(reason);
}

void BrowserView::failPage(const QString& reason)
{
    m_pageFailure = reason;
    m_interceptor->disarm();
    m_navigationUrl = QUrl();
    m_redirectPending = false;
    // Without a renderer the view would go on showing the page's last
    // picture; a blank page takes its place, in a renderer of its own. Waits
    // end, and the failure is reported, once it is in.
    setReadyState(READYSTATE_LOADING);
    const quint64 navigation = m_navigationSerial;
    QMetaObject::invokeMethod(
        this,
        [this, navigation] {
            if (navigation == m_navigationSerial)
                m_page->load(QUrl(QStringLiteral("about:blank")));
        },
        Qt::QueuedConnection);
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
    const quint64 navigation = m_navigationSerial;
    // The length the page took, or -1 while the script has not answered.
    auto written = std::make_shared<qint64>(-1);
    QPointer<BrowserView> self(this);
    const auto onDone = [self, serial, written](const QVariant& result) {
        bool ok = false;
        const qint64 length = result.toLongLong(&ok);
        *written = ok ? length : -2;
        if (self && self->m_pageSerial == serial)
            emit self->writeFinished();
    };

    // Scripts run in a world of their own, so nothing in the page can see or
    // disturb the pieces while they are collected.
    const quint32 world = QWebEngineScript::ApplicationWorld;
    if (document.size() <= kWriteChunk) {
        m_page->runJavaScript(
            QStringLiteral("(function (s) { document.write(s); return s.length; })(%1);")
                .arg(JsStringLiteral(document)),
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
                                             " var s = p.join(''); p = null;"
                                             " document.write(s); return s.length; })();"),
                              world, onDone);
    }
    const auto ended = [this, serial, navigation] {
        return m_pageSerial != serial || m_navigationSerial != navigation ||
               !m_pageFailure.isEmpty();
    };
    waitFor([&] { return *written != -1 || ended(); }, timeoutMs);
    if (!self || m_closing)
        return false;
    if (ended()) {
        if (m_pageSerial == serial && m_navigationSerial == navigation)
            waitForReadyState(READYSTATE_COMPLETE, kBlankPageMs);
        return false;
    }
    // The renderer can die in the write or give up on it; only a document
    // that arrived whole counts as written.
    if (*written == -1) {
        m_pageFailure = QStringLiteral("网页未能在 %1 秒内写完").arg(timeoutMs / 1000);
        return false;
    }
    if (*written != document.size()) {
        m_pageFailure = QStringLiteral("网页只写入了 %1 个字符中的 %2 个")
                            .arg(document.size())
                            .arg(std::max<qint64>(*written, 0));
        return false;
    }
    return true;
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

void BrowserView::adoptProxySettings()
{
    // The engine reads the application proxy lazily: a request made after a
    // change may still go the old way. And it keeps the credentials a proxy
    // accepted for the rest of the profile's life, sending them before it is
    // asked. A new profile starts from the proxy and credentials in force.
    if (QNetworkProxy::applicationProxy() != m_profileProxy ||
        credentialsKey() != m_profileCredentials)
        createPage();
}

void BrowserView::setProxyCredentials(const QByteArray& user, const QByteArray& password)
{
    engineSettings().proxyUser = user;
    engineSettings().proxyPassword = password;
}

void BrowserView::setCaFile(const QByteArray& path)
{
    engineSettings().caFile = path;
}

void BrowserView::setMemoryLimit(qint64 bytes)
{
    engineSettings().memoryLimit = bytes;
}

qint64 BrowserView::memoryLimit()
{
    static const qint64 fallback = defaultMemoryLimit();
    const qint64 set = engineSettings().memoryLimit;
    return set > 0 ? set : fallback;
}

void BrowserView::showInFront()
{
    m_frame->show();
    m_frame->raise();
}

void BrowserView::hideBehind()
{
    m_frame->hide();
    m_frame->lower();
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

qint64 BrowserView::rendererPid() const
{
    return m_page->renderProcessPid();
}

bool BrowserView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow) {
        if (event->type() == QEvent::Close) {
            // Waits and page dialogs end so that closing is never held up by
            // the browser.
            m_closing = true;
            m_page->closeDialog();
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
    void setCaFile(const QByteArray& path) override { BrowserView::setCaFile(path); }
    void setMemoryLimit(qint64 bytes) override { BrowserView::setMemoryLimit(bytes); }
    qint64 memoryLimit() const override { return BrowserView::memoryLimit(); }
};

} // namespace

extern "C" Q_DECL_EXPORT BrowserEngine* reqlarkBrowserEngine(int interfaceVersion)
{
    static ViewEngine engine;
    return interfaceVersion == kBrowserModuleInterface ? &engine : nullptr;
}
