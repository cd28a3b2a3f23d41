#pragma once

#include "results/WebBrowser.h"

#include <QByteArray>
#include <QHash>
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <optional>

class BrowserHeaderInterceptor;
class BrowserPage;
class QAuthenticator;
class QWebEngineCertificateError;
class QWebEngineLoadingInfo;
class QWebEngineProfile;

// The embedded web browser of the main window (wb1), built into the browser
// module only. Its own off-the-record profile stands in for the system's
// cookie store and internet settings, so clearing it never touches a browser
// of the user. Texts are code page 936.
class BrowserView : public QWebEngineView, public WebBrowser
{
    Q_OBJECT
public:
    explicit BrowserView(QWidget* parent = nullptr);
    ~BrowserView() override;

    // The frame the window around places; the view itself is a native
    // window of its own inside it.
    QWidget* widget() override { return m_frame; }
    QWidget* outerWindow() const;
    void Navigate(const QByteArray& url) override;
    void Navigate2(const QByteArray& url, int flags, const QByteArray& targetFrame,
                   const std::optional<QByteArray>& postData, const QByteArray& headers) override;
    int ReadyState() const override { return m_readyState; }
    QByteArray LocationURL() const override;
    bool lastLoadFailed() const override;
    QString lastLoadError() const override;
    bool waitForReadyState(int state, int timeoutMs) override;
    bool write(const QString& document, int timeoutMs) override;

    void setCookie(const QByteArray& url, const QByteArray& piece) override;
    void clearCookies() override;
    int deleteCookiesFor(const QByteArray& url) override;
    QList<Cookie> cookies() const override;

    static void setApplicationProxy(const QByteArray& address);
    void adoptProxySettings() override;
    static void setProxyCredentials(const QByteArray& user, const QByteArray& password);
    static void setCaFile(const QByteArray& path);
    static void setMemoryLimit(qint64 bytes);
    static qint64 memoryLimit();

    QWebEngineProfile* profile() const { return m_profile; }
    bool closing() const { return m_closing; }

    void showInFront() override;
    void hideBehind() override;

    QMetaObject::Connection onDocumentComplete(QObject* context,
                                               std::function<void()> handler) override;
    void runJavaScript(const QString& script, std::function<void(const QVariant&)> result) override;
    bool canGoBack() const override;
    qint64 rendererPid() const override;

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
    void onCertificateError(const QWebEngineCertificateError& error);
    void onRendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    void checkRendererMemory();
    void failPage(const QString& reason);
    bool acceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool mainFrame);
    void followWithoutCredentials(const QUrl& url);
    void setReadyState(int state);
    void beginNavigation();
    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    static QUrl toUrl(const QByteArray& url);
    static QString cookieKey(const QNetworkCookie& cookie);

    QWidget* m_frame = nullptr;
    QWebEngineProfile* m_profile = nullptr;
    BrowserPage* m_page = nullptr;
    BrowserHeaderInterceptor* m_interceptor = nullptr;
    QNetworkProxy m_profileProxy;    // the application proxy the profile started with
    QByteArray m_profileCredentials; // and the proxy credentials
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
    // Why the page shown since the last navigation asked for ended or was
    // stopped; survives the blank page that replaces it.
    QString m_pageFailure;
    QString m_certificateRejection; // why a certificate was refused in this navigation
    QTimer m_memoryWatch;
    qint64 m_stoppedPid = 0; // the renderer stopped for its memory, and why
    QString m_stopReason;
    int m_proxyAnswers = 0;
    quint64 m_pageSerial = 0; // changes whenever the page is replaced
    bool m_closing = false;
    QObject* m_watchedWindow = nullptr;
};
