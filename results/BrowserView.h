#pragma once

#include <QByteArray>
#include <QHash>
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <optional>

class BrowserHeaderInterceptor;
class QAuthenticator;
class QWebEngineLoadingInfo;
class QWebEngineProfile;

// The embedded web browser of the main window (wb1). Its own off-the-record
// profile stands in for the system's cookie store and internet settings, so
// clearing it never touches a browser of the user. Texts are code page 936.
class BrowserView : public QWebEngineView
{
    Q_OBJECT
public:
    enum ReadyStateValue
    {
        READYSTATE_UNINITIALIZED = 0,
        READYSTATE_LOADING = 1,
        READYSTATE_LOADED = 2,
        READYSTATE_INTERACTIVE = 3,
        READYSTATE_COMPLETE = 4,
    };
    enum NavigateFlag
    {
        navNoHistory = 2,
        navNoReadFromCache = 4,
        navNoWriteToCache = 8,
    };

    explicit BrowserView(QWidget* parent = nullptr);
    ~BrowserView() override;

    void Navigate(const QByteArray& url);
    // Post data present, even empty, makes a POST. There are no frames to
    // target. Throws ReqlarkError for an address that is no URL.
    void Navigate2(const QByteArray& url, int flags, const QByteArray& targetFrame,
                   const std::optional<QByteArray>& postData, const QByteArray& headers);
    int ReadyState() const { return m_readyState; }
    // The address of the document shown; empty before the first navigation.
    QByteArray LocationURL() const;
    // Whether the last navigation ended on the browser's error page.
    bool lastLoadFailed() const { return m_lastLoadFailed; }
    QString lastLoadError() const { return m_lastLoadError; }

    // Processes events until the state is reached (true), the time is up or
    // the window is being closed.
    bool waitForReadyState(int state, int timeoutMs);

    // Appends `text`, whole, to the current document and leaves it open;
    // waits like waitForReadyState until the browser has taken it all.
    bool write(const QByteArray& text, int timeoutMs);

    void setCookie(const QByteArray& url, const QByteArray& piece);
    void clearCookies();
    // Deletes the cookies that would be sent to `url`'s host; returns how many.
    int deleteCookiesFor(const QByteArray& url);
    QList<QNetworkCookie> cookies() const { return m_cookies.values(); }

    // The process-wide proxy ("server:port"; empty: direct).
    static void setApplicationProxy(const QByteArray& address);
    // Makes a changed proxy count from the next navigation on; the profile
    // then starts afresh, without cookies.
    void adoptApplicationProxy();
    // Process-wide too; given once per navigation when the proxy asks.
    static void setProxyCredentials(const QByteArray& user, const QByteArray& password);

    QWebEngineProfile* profile() const { return m_profile; }

    void showInFront();
    void hideBehind();

signals:
    void documentComplete();
    void readyStateChanged(int state);
    void writeFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createPage();
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void onProxyAuthentication(const QUrl& url, QAuthenticator* authenticator,
                               const QString& proxyHost);
    bool acceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool mainFrame);
    void followWithoutCredentials(const QUrl& url);
    void setReadyState(int state);
    void beginNavigation();
    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    static QUrl toUrl(const QByteArray& url);
    static QString cookieKey(const QNetworkCookie& cookie);

    QWebEngineProfile* m_profile = nullptr;
    QWebEnginePage* m_page = nullptr;
    BrowserHeaderInterceptor* m_interceptor = nullptr;
    QNetworkProxy m_profileProxy; // the application proxy the profile started with
    QHash<QString, QNetworkCookie> m_cookies;
    int m_readyState = READYSTATE_UNINITIALIZED;
    bool m_navigationStarted = true; // the last navigation asked for has begun
    bool m_clearHistory = false;
    bool m_redirectPending = false;
    quint64 m_navigationSerial = 0;
    QUrl m_navigationUrl; // of the navigation whose header rows are in use
    QList<QPair<QByteArray, QByteArray>> m_navigationLines;
    bool m_lastLoadFailed = false;
    QString m_lastLoadError;
    int m_proxyAnswers = 0;
    quint64 m_pageSerial = 0; // changes whenever the page is replaced
    bool m_closing = false;
    QObject* m_watchedWindow = nullptr;
};
