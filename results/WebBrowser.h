#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

class QObject;
class QWidget;

// The embedded web browser (wb1) as the main window drives it. The browser
// engine and everything that touches it live in a module of their own that
// BrowserModule loads on first use, so a started window has loaded neither
// the engine nor OpenGL. Nothing here may need the engine's headers.
// Texts are code page 936.
class WebBrowser
{
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

    // A cookie of the browser's own store.
    struct Cookie
    {
        QByteArray name;
        QByteArray value;
        QString domain;
        QString path;
    };

    virtual ~WebBrowser() = default;

    // The browser's widget; it belongs to the parent it was made for.
    virtual QWidget* widget() = 0;

    virtual void Navigate(const QByteArray& url) = 0;
    // Post data present, even empty, makes a POST. There are no frames to
    // target. Throws ReqlarkError for an address that is no URL.
    virtual void Navigate2(const QByteArray& url, int flags, const QByteArray& targetFrame,
                           const std::optional<QByteArray>& postData,
                           const QByteArray& headers) = 0;
    virtual int ReadyState() const = 0;
    // The address of the document shown; empty before the first navigation.
    virtual QByteArray LocationURL() const = 0;
    // Whether the page shown failed since the last navigation asked for (its
    // load failed, its renderer ended, it went past the memory limit or a
    // document written into it did not arrive whole), and why, in words for
    // the user. A page whose renderer ended is replaced by a blank one.
    virtual bool lastLoadFailed() const = 0;
    virtual QString lastLoadError() const = 0;

    // Processes events until the state is reached (true), the time is up or
    // the window is being closed.
    virtual bool waitForReadyState(int state, int timeoutMs) = 0;
    // Appends `text` (the document's own characters), whole, to the current
    // document and leaves it open; waits like waitForReadyState until the
    // browser has taken it all. False when it did not (the reason is then
    // lastLoadError(), unless the time ran out or the window is closing).
    virtual bool write(const QString& text, int timeoutMs) = 0;

    virtual void setCookie(const QByteArray& url, const QByteArray& piece) = 0;
    virtual void clearCookies() = 0;
    // Deletes the cookies that would be sent to `url`'s host; returns how many.
    virtual int deleteCookiesFor(const QByteArray& url) = 0;
    virtual QList<Cookie> cookies() const = 0;

    // Makes a changed application proxy or changed proxy credentials count
    // from the next navigation on; the browser then starts afresh, without
    // cookies and without the credentials the proxy accepted before.
    virtual void adoptProxySettings() = 0;

    virtual void showInFront() = 0;
    virtual void hideBehind() = 0;

    // Calls `handler` in `context`'s thread whenever a document completes,
    // until `context` is destroyed or the connection is broken.
    virtual QMetaObject::Connection onDocumentComplete(QObject* context,
                                                       std::function<void()> handler) = 0;

    // For tests and diagnostics: a script's result in the page, whether the
    // history holds a page to go back to, and the process id of the page's
    // renderer (0 while it has none).
    virtual void runJavaScript(const QString& script,
                               std::function<void(const QVariant&)> result) = 0;
    virtual bool canGoBack() const = 0;
    virtual qint64 rendererPid() const = 0;
};

// What the module offers: browsers, and the settings the engine shares
// between them for the whole process.
class BrowserEngine
{
public:
    virtual ~BrowserEngine() = default;
    virtual WebBrowser* createBrowser(QWidget* parent) = 0;
    // The process-wide proxy ("server:port"; empty: direct).
    virtual void setApplicationProxy(const QByteArray& address) = 0;
    // Process-wide too; given once per navigation when the proxy asks.
    virtual void setProxyCredentials(const QByteArray& user, const QByteArray& password) = 0;
    // The certificate authorities a server certificate the engine does not
    // know may chain to (a PEM file); empty: the system's store, the one the
    // request components trust.
    virtual void setCaFile(const QByteArray& path) = 0;
    // The resident memory a page's renderer may take before the page is
    // stopped; 0 restores the default, the lesser of 3 GB and half the
    // machine's memory.
    virtual void setMemoryLimit(qint64 bytes) = 0;
    virtual qint64 memoryLimit() const = 0;
};

// The module's one exported function, looked up by this name. It answers
// null when the caller was built against another version of the classes
// above. Bump the version with every change to them.
constexpr int kBrowserModuleInterface = 3;
#define REQLARK_BROWSER_ENTRY "reqlarkBrowserEngine"
using BrowserEngineEntry = BrowserEngine* (*)(int interfaceVersion);
