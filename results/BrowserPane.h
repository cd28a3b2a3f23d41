#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QWidget;
class WebBrowser;

// The embedded browser over the HTML pane: made on first use from the browser
// module, placed over the pane whenever the pane or its container moves or
// changes size, shown in front of the pane or hidden behind it. It offers
// what the page views do with it: a page written from text, a page loaded
// from its address with header lines and post data, the cookies of a Cookie
// row and the proxy. It knows nothing of the window around it.
class BrowserPane : public QObject
{
    Q_OBJECT
public:
    // `pane` is the widget the browser covers; the browser is made a child of
    // `container`, which holds the pane.
    BrowserPane(QWidget* pane, QWidget* container);

    // The page view the browser was last given.
    enum PageKind
    {
        NoPage,
        OfflinePage,  // a page written from text
        OriginalPage, // a page loaded from its address
    };
    PageKind pageKind() const { return m_pageKind; }

    // The browser, made (and the module loaded) on first use. Throws
    // ReqlarkError naming the module's file when it cannot be loaded.
    WebBrowser* browser();
    // The browser when it was made already, else null.
    WebBrowser* existing() const { return m_browser; }

    void show();  // in front of the pane (making the browser if need be)
    void hide();  // behind the pane; nothing is made for it
    void place(); // over the pane, exactly

    // A blank page, then `utf8` (the document's own characters) written into
    // it whole. True when the browser took all of it in time; otherwise the
    // browser's lastLoadError() says why (empty while the window closes).
    bool writeDocument(const QByteArray& utf8);
    // Loads `url` with the navigation flags of the original page, `headers`
    // (a block of "name: value" lines) and, when present, `postData`; waits
    // until the page can be used or its time is up.
    void openPage(const QByteArray& url, const std::optional<QByteArray>& postData,
                  const QByteArray& headers);
    // Each "; "-separated piece of a Cookie row, stored for `url`.
    void setCookies(const QByteArray& url, const QByteArray& cookieRow);
    // The process-wide proxy of the browser ("server:port"; empty: direct) and
    // its credentials (an empty user: none). Each change counts from the next
    // page on.
    void setProxy(const QByteArray& address);
    void setProxyCredentials(const QByteArray& user, const QByteArray& password);
    // The certificate authorities the browser trusts besides its own (a PEM
    // file; empty: the system's store), as the request components do.
    void setCaFile(const QByteArray& path);

signals:
    // The browser completed a document (any one, blank pages included), or
    // the page shown ended: its renderer died or was stopped.
    void documentComplete();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_pane;
    QWidget* m_container;
    WebBrowser* m_browser = nullptr;
    PageKind m_pageKind = NoPage;
};
