#pragma once

#include "app/TopPanelLayout.h"
#include "request/untXmlHttp.h"

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QList>
#include <QMainWindow>

#include <functional>
#include <memory>

class Anchors;
class BrowserPane;
struct CurlRequest;
class HeaderList;
class Prompter;
class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
struct RequestInputs;
class SettingsStore;
class StatusPanels;
class TFrmHeader;
class WebBrowser;

namespace Ui {
class TFrmMain;
}

// What a test (or an installed copy) may set instead of the defaults.
struct FrmMainEnvironment
{
    Prompter* prompter = nullptr; // null: the standard Qt dialogs
    HttpComponentConfig http;     // time-outs and CA store of the components
    QString executablePath;       // empty: the running executable
};

// The main window. It owns every piece of state: the controls, the header
// rows, the settings file handle and the fields below. Handlers carry the
// names of the events they serve and run inside one guard that turns an
// escaping error into the error box.
//
// The handlers are grouped by subsystem in app/FrmMain<Subsystem>.cpp. What
// they need from a subsystem is a class or routine of that subsystem's folder
// that knows nothing of this window (the request built from the inputs, the
// header rows and their file, the browser over the HTML pane, the settings
// store); nothing outside app/ includes this header or the window's form.
class TFrmMain : public QMainWindow
{
    Q_OBJECT
public:
    using Environment = FrmMainEnvironment;

    explicit TFrmMain(Environment environment = Environment(), QWidget* parent = nullptr);
    ~TFrmMain() override;

    Ui::TFrmMain* form() const { return ui.get(); }
    HeaderList* headerList() const { return m_headers; }
    Prompter* prompter() const { return m_prompter; }
    StatusPanels* statusBar1() const { return m_statusBar; }
    const Environment& environment() const { return m_env; }

    // Fields other parts of the program read and write directly.
    QByteArray LastResponseText; // decoded text of the last body (code page 936)
    QString SaveTargetPath;      // set only while a download-to-file runs
    QByteArray ProxyAddress;     // "server:port", empty for none
    QByteArray ProxyUserName;
    QByteArray ProxyPassword;
    QString SettingsFilePath;
    QString HeadersFilePath;

    // Header rows, looked up by name with 'A'..'Z' folded.
    int IndexOfReqHeader(const QByteArray& name) const;
    bool AddReqHeader(const QByteArray& name, const QByteArray& value);
    void DelReqHeaderByName(const QByteArray& name);

    // Status bar panel text.
    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;

    // Runs `handler`; an error escaping it is shown in the error box and
    // everything done before the error stays done.
    void guarded(const std::function<void()>& handler);

    // Request dispatch (app/FrmMainRequest.cpp).
    void btnSendReqestClick();
    void btnSaveToFileClick();
    // Whether a request is under way: from the moment the window shows that
    // it is loading until the response is shown. Meanwhile the user's input
    // is dropped, Esc cancels the request and closing the window waits for
    // the cancelled request to end.
    bool requestRunning() const { return m_request != nullptr; }
    void cancelRequest();

    // Header list gestures, editor, import and file (app/FrmMainHeaders.cpp).
    void mniAddReqHeaderClick();
    void mniEditReqHeaderClick();
    void mniDelReqHeaderClick();
    void mniDelReqHeaderClearClick();
    void mniReqHeaderImportFromClipbrdClick();
    // A curl command fills the URL, the method and the data, and adds its
    // rows as the import adds them; a command that cannot be taken is told.
    void importCurlCommand(const CurlRequest& request);
    void lvwHeadersDblClick();
    bool lvwHeadersKeyDown(QKeyEvent* event);
    int selectedHeaderRow() const;

    // Settings and proxy (app/FrmMainSettings.cpp).
    void LoadSettings();
    void SaveSettings();
    void LoadProxySettings();
    void LoadReqHeaderFile();
    void SaveReqHeaderFile();
    void chkUseProxyClick();
    void mniProxyClick();

    // Result views and the browser (app/FrmMainResults.cpp).
    void cbbResultTypeClick();
    void OpenOriginalPage();
    QByteArray BuildBrowserHeaders() const;
    void SetBrowserCookies();
    void SetBrowserProxy(const QByteArray& address);
    void SetBrowserProxyCredentials(const QByteArray& user, const QByteArray& password);
    void wb1DocumentComplete();
    WebBrowser* browser(); // created on first use
    WebBrowser* existingBrowser() const;
    void showBrowser();
    void hideBrowser();
    void placeBrowser();

    // Browser cookie tools, help and About (app/FrmMainExtras.cpp).
    void mniClearIECookiesClick();
    void mniDelCurrCookieClick();

    // Quick input and fonts (app/FrmMainInput.cpp).
    bool edtUrlKeyDown(QKeyEvent* event);
    void edtUrlDblClick();
    void edtDataDblClick();
    void mmoHtmlDblClick();
    bool mmoHtmlKeyDown(QKeyEvent* event);
    // The one place where a body becomes LastResponseText and the HTML
    // memo's text (app/FrmMainRequest.cpp); the memo then shows that text,
    // or the plain text of the page.
    void takeResponseBody(const QByteArray& body, const QByteArray& headers);
    // The request the window's inputs describe (request/RequestDispatch.h).
    RequestInputs requestInputs() const;
    void offerToDeleteAcceptEncoding();
    // The Cookie row merged with what the response set; how many cookies did
    // not fit.
    int syncCookieRow(const HttpComponent& http);
    void showResponseInMemo(bool plainText);
    // The characters of LastResponseText as the views show them, in UTF-8.
    QByteArray responseTextUtf8() const;

    // What the window shows of a response beside its body
    // (app/FrmMainResponse.cpp). The response headers pane shows the final
    // response, or with "显示全部跳转" ticked every response of the last
    // request's redirect chain; null empties it.
    void showResponseHeaders(const HttpComponent* http);
    void mniShowAllHopsClick();
    // Where the time of the last request went, under the pointer on status
    // panels 3 and 4.
    void showTransferTimes(const QList<HttpHopTiming>& hops);
    // Reads the body held in `charset` for the HTML and plain-text views
    // (empty: as it was read when it arrived); LastResponseText stays.
    void readBodyInCharset(const QByteArray& charset);
    const QByteArray& bodyCharset() const { return m_bodyCharset; }

    void mniFontUIClick();
    void mniFontHTMLClick();
    void applyInterfaceFont(const QFont& font, const QColor& color);
    void applyHtmlFont(const QFont& font, const QColor& color);

    void mniHelpClick();
    void mniAboutClick();

    // Font state kept beside the fonts themselves (character sets have no
    // meaning to the font engine here but are stored and written back).
    int UiFontCharset = 134;
    int HtmlFontCharset = 134;
    QColor UiFontColor = Qt::black;
    QColor HtmlFontColor = Qt::black;

protected:
    void closeEvent(QCloseEvent* event) override;   // FormClose
    void resizeEvent(QResizeEvent* event) override; // FormResize
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormResize();
    void pnlBotResize();
    void bindHandlers();
    void placeProxyIndicator();
    void openSettings();
    // Gives the top panel's controls the room their texts need at the
    // interface font in use (app/TopPanelLayout.h).
    void fitTopPanelToFont();

    Environment m_env;
    std::unique_ptr<Ui::TFrmMain> ui;
    std::unique_ptr<Prompter> m_ownPrompter;
    Prompter* m_prompter = nullptr;
    HeaderList* m_headers = nullptr;
    StatusPanels* m_statusBar = nullptr;
    QMenu* m_pmLvwHeaders = nullptr;
    QList<QIcon> m_ilMenuIcons;
    BrowserPane* m_browserPane = nullptr; // the browser wb1 over mmoHtml
    Anchors* m_topAnchors = nullptr;
    TopPanelLayout::Controls m_topControls;
    TopPanelLayout::Design m_topDesign;
    int m_topPanelHeight = 0; // the height the last fit gave the top panel

    // Members of each subsystem, kept in its own block (edited by that
    // subsystem only).
    // --- settings and proxy ---
    // --- header editor and import ---
    TFrmHeader* newHeaderEditor();
    // A press on empty space of the header list clears the selection before
    // the double-click it may begin arrives; the row it cleared is kept so
    // that the double-click edits that row.
    void noteHeaderListPress(const class QMouseEvent* event);
    void restoreHeaderRowClearedBy(quint64 doubleClickTime);
    struct ClearedHeaderRow
    {
        quint64 rowId = 0; // HeaderList::RowId; 0: none
        quint64 time = 0;
    } m_clearedHeaderRow;
    // --- request dispatch ---
    class RequestScope;
    RequestScope* m_request = nullptr;
    bool m_closeAfterRequest = false;
    // --- response details ---
    void attachResponseDetails();
    void addBodyCharsetMenu(QMenu* menu);
    bool holdsResponseBody() const;
    QAction* mniShowAllHops = nullptr;
    QByteArray m_finalResponseHeaders;
    QByteArray m_responseHops;
    // The last body as it arrived and the headers that came with it, to read
    // it again in a charset the user chooses (empty: the automatic one).
    QByteArray m_responseBody;
    QByteArray m_responseBodyHeaders;
    QByteArray m_bodyCharset;
    // --- result views and browser ---
    // --- quick input, fonts, help and about ---
    void showFindDialog();
    void findInHtml(bool reverse);            // reverse: against the dialog's direction
    class TFindDialog* FindDialog1 = nullptr; // created by the first Ctrl+F in mmoHtml
    // UTF-8 of the body as the HTML memo shows it, and the LastResponseText
    // it goes with: a UTF-8 body keeps characters code page 936 lacks.
    QByteArray m_htmlMemoText;
    QByteArray m_htmlMemoTextOf;
    // A colour is applied only once the user has chosen one with a font
    // command; until then the window and the memo follow the desktop's
    // palette, also when it changes while the program runs.
    bool m_uiColorChosen = false;
    bool m_htmlColorChosen = false;
    void applyChosenColours();
    // The desktop's side of the window: Shift+F10, the palette followed while
    // running, the proxy globe's description (app/FrmMainInput.cpp).
    void attachDesktopIntegration();
    void describeProxyIndicator();

public:
    // Owned by the settings code; shared_ptr so that this header needs only
    // the declaration.
    std::shared_ptr<SettingsStore> Settings;
    bool HeaderFileWasRead = false;
    QLabel* imgStaBar = nullptr;
};
