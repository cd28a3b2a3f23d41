// The four result views and the browser cookie tools, driven on the real
// main window with the real Qt WebEngine (offscreen), a loopback server that
// records what the browser sends, and a real tinyproxy.

#include "PageViewTest.h"
#include "app/untFrmMain.h"
#include "headers/HeaderList.h"
#include "results/BrowserModule.h"
#include "results/HtmlToText.h"
#include "results/LargeTextView.h"
#include "results/WebBrowser.h"
#include "support/LoopbackServer.h"
#include "support/ProxyFixture.h"
#include "support/ScriptedPrompter.h"
#include "util/AnsiCodec.h"
#include "support/TestHelpers.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray cp936(const char* utf8)
{
    return AnsiCodec::fromUnicode(QString::fromUtf8(utf8));
}

int proxiedCount(const ProxyFixture& proxy, const QByteArray& path)
{
    int n = 0;
    for (const QByteArray& line : proxy.requestLines()) {
        if (line.contains(path + " HTTP/"))
            ++n;
    }
    return n;
}

} // namespace

class TestResultViews : public PageViewTest
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void toolsMenuIsShown();
    void emptyUrlOnlyHidesTheBrowser();
    void htmlAndPlainTextSwitchWithoutNewRequest();
    void offlinePageSendsFirstAndShowsTheText();
    void offlinePageOfTwentyMegabytes();
    void originalPageGetCarriesRowsAndCookies();
    void originalPagePost_data();
    void originalPagePost();
    void originalPageWithoutCharsetReadsAsTheHtmlView();
    void failedOriginalPageIsNotReportedAsLoaded();
    void credentialRowsStayWithTheirSiteOnRedirect();
    void sendHidesTheBrowserWhichCoversTheMemo();
    void browserCoversTheMemoAfterEveryChange();
    void closingTheWindowEndsTheWait();
    void clearCookiesReachesOnlyOurProfileAndPauses();
    void deleteCurrentSiteCookies();
    void originalPageThroughProxyWithBasicAuth();
    void proxySwitchTakesEffectOnTheNextLoad();
    void wrongProxyPasswordDoesNotLoop();

private:
    QByteArray proxiedUrl(const QByteArray& path) const;
    WebBrowser* startedBrowser();
};

void TestResultViews::init()
{
    openWindow();
}

void TestResultViews::cleanup()
{
    closeWindow();
}

// The engine starts its cookie store with the first page; until then cookies
// given to it wait.
WebBrowser* TestResultViews::startedBrowser()
{
    WebBrowser* wb = m_win->browser();
    wb->Navigate("about:blank");
    if (!wb->waitForReadyState(WebBrowser::READYSTATE_COMPLETE, 10000))
        qWarning("about:blank did not load");
    return wb;
}

// Chromium never sends a loopback address through a proxy taken from the
// application proxy (a command-line bypass list does not reach those
// settings), and 0.0.0.0 does not count as loopback there; the kernel still
// delivers it to this host, where the loopback server listens.
QByteArray TestResultViews::proxiedUrl(const QByteArray& path) const
{
    return "http://0.0.0.0:" + QByteArray::number(m_server->port()) + path;
}

void TestResultViews::toolsMenuIsShown()
{
    auto* tools = child<QMenu>(m_win.get(), "mniTools");
    QVERIFY(tools->menuAction()->isVisible());
    QStringList items;
    for (QAction* a : tools->actions())
        items << a->text();
    QCOMPARE(items,
             (QStringList{QStringLiteral("删除当前站Cookie"), QStringLiteral("清除IE所有Cookie")}));
    // The engine is not started until a page view needs it.
    QVERIFY(!m_win->existingBrowser());
}

void TestResultViews::emptyUrlOnlyHidesTheBrowser()
{
    m_server->route("/e", ScriptedResponse::ok("<p>e</p>"));
    typeUrl(m_server->url("/e"));
    choose(2); // makes and shows the browser
    QVERIFY(m_win->existingBrowser()->widget()->isVisible());
    const int requests = m_server->requestCount();

    typeUrl("");
    m_win->setPanelText(1, QStringLiteral("before"));
    for (int view : {0, 1, 2, 3}) {
        choose(view);
        QVERIFY(!m_win->existingBrowser()->widget()->isVisible());
        QCOMPARE(m_win->panelText(1), QStringLiteral("before"));
    }
    QCOMPARE(m_server->requestCount(), requests);
    QCOMPARE(memo(), QStringLiteral("<p>e</p>"));
}

void TestResultViews::htmlAndPlainTextSwitchWithoutNewRequest()
{
    const QByteArray page = QStringLiteral("<html><body><h1>标题</h1><p>正文 <b>粗体</b></p>"
                                           "<table><tr><td>甲</td><td>乙</td></tr></table>"
                                           "</body></html>")
                                .toUtf8();
    m_server->route("/p", ScriptedResponse::ok(page, "text/html; charset=utf-8"));
    typeUrl(m_server->url("/p"));
    choose(1); // nothing held yet: sends first
    QCOMPARE(requestsFor(*m_server, "/p").size(), 1);
    QCOMPARE(m_win->panelText(1), QStringLiteral("纯文本"));
    QCOMPARE(memo(), QStringLiteral("标题\n\n正文 粗体\n\n甲\t乙"));

    choose(0);
    QCOMPARE(memo(), QString::fromUtf8(page));
    QCOMPARE(m_win->panelText(1), QStringLiteral("HTML"));

    // Another URL typed: the held response is shown again, nothing is sent.
    typeUrl(m_server->url("/other"));
    choose(1);
    QCOMPARE(memo(), QStringLiteral("标题\n\n正文 粗体\n\n甲\t乙"));
    choose(0);
    QCOMPARE(memo(), QString::fromUtf8(page));
    QCOMPARE(m_server->requestCount(), 1);
    QVERIFY(!m_win->existingBrowser());
}

void TestResultViews::offlinePageSendsFirstAndShowsTheText()
{
    const QByteArray page = QStringLiteral("<html><head><title>t</title></head><body>"
                                           "<h1>离线网页 한국어 😀</h1><p>段落 \"one\" \\ &amp; two</p>"
                                           "<script>document.body.setAttribute('data-ran', '1');"
                                           "</script></body></html>")
                                .toUtf8();
    m_server->route("/off", ScriptedResponse::ok(page, "text/html; charset=utf-8"));
    typeUrl(m_server->url("/off"));
    choose(2);

    QCOMPARE(requestsFor(*m_server, "/off").size(), 1);
    // The memo holds the source; the selector and panel 1 name the page shown.
    QCOMPARE(views()->currentIndex(), 2);
    QCOMPARE(m_win->panelText(1), QStringLiteral("离线网页"));
    QCOMPARE(memo(), QString::fromUtf8(page));

    WebBrowser* wb = m_win->existingBrowser();
    QVERIFY(wb && wb->widget()->isVisible());
    QCOMPARE(m_win->panelText(2), QStringLiteral("离线网页加载完毕"));
    QCOMPARE(wb->LocationURL(), QByteArray("about:blank"));
    QCOMPARE(runJs(QStringLiteral("document.body.innerText")).toString(),
             QStringLiteral("离线网页 한국어 😀\n\n段落 \"one\" \\ & two"));
    // The page's own script ran, and the document was left open.
    QCOMPARE(runJs(QStringLiteral("document.body.getAttribute('data-ran')")).toString(),
             QStringLiteral("1"));
    QCOMPARE(runJs(QStringLiteral("document.readyState")).toString(), QStringLiteral("loading"));
    // The blank page completing does not overwrite the progress text.
    QTest::qWait(300);
    QCOMPARE(m_win->panelText(2), QStringLiteral("离线网页加载完毕"));

    // A second choice writes the held text again without a request.
    choose(2);
    QCOMPARE(requestsFor(*m_server, "/off").size(), 1);
    QCOMPARE(runJs(QStringLiteral("document.getElementsByTagName('h1').length")).toInt(), 1);
}

void TestResultViews::offlinePageOfTwentyMegabytes()
{
    // Far beyond the 2 MB a data URL can carry.
    QByteArray page = cp936("<html><body><p id=\"start\">开始</p><div>");
    const QByteArray line =
        cp936("<p>第二十兆测试内容，包含中文、\"引号\"、\\反斜杠\\ 和 &amp; 实体。</p>\n");
    int lines = 0;
    for (; page.size() < (20 << 20); ++lines)
        page += line;
    page += cp936("</div><p id=\"end\">结束</p></body></html>");
    m_win->LastResponseText = page;
    typeUrl(m_server->url("/unused"));

    QElapsedTimer timer;
    timer.start();
    choose(2);
    qInfo("20 MB offline page written in %lld ms", static_cast<long long>(timer.elapsed()));
    QCOMPARE(m_win->panelText(2), QStringLiteral("离线网页加载完毕"));
    QCOMPARE(m_server->requestCount(), 0);
    const QStringList seen =
        runJs(QStringLiteral("[document.getElementById('start').textContent,"
                             " document.getElementById('end').textContent,"
                             " String(document.querySelectorAll('body > div > p').length)]"))
            .toStringList();
    QCOMPARE(seen,
             (QStringList{QStringLiteral("开始"), QStringLiteral("结束"), QString::number(lines)}));
}

void TestResultViews::originalPageGetCarriesRowsAndCookies()
{
    m_server->route("/orig", ScriptedResponse::ok("<p>original</p>", "text/html"));
    HeaderList* rows = m_win->headerList();
    rows->append("Accept", "text/html");
    rows->append("X-A", " 1 ");
    rows->append("X-Empty", "");
    rows->append("X-Bad", "a\r\nX-Injected: 1");
    rows->append("X-City", cp936("北京"));
    rows->append("Cookie", "a=1; b=2; ");
    child<QLineEdit>(m_win.get(), "edtData")->setText(QStringLiteral("ignored=1"));
    m_win->LastResponseText = "held";
    m_win->setPanelText(3, QStringLiteral("200 OK"));
    typeUrl(m_server->url("/orig?q=1"));
    choose(3);

    QTRY_COMPARE(requestsFor(*m_server, "/orig").size(), 1);
    const RecordedRequest r = requestsFor(*m_server, "/orig").first();
    QCOMPARE(r.method, QByteArray("GET"));
    QCOMPARE(r.target, QByteArray("/orig?q=1"));
    QCOMPARE(r.header("Accept"), QByteArray("text/html"));
    QCOMPARE(r.header("X-A"), QByteArray("1"));
    QCOMPARE(r.header("X-City"), cp936("北京"));
    QCOMPARE(r.headerCount("X-Empty"), 0);
    QCOMPARE(r.headerCount("X-Bad"), 0);
    QCOMPARE(r.headerCount("X-Injected"), 0);
    QCOMPARE(r.header("Cookie"), QByteArray("a=1; b=2"));
    QVERIFY(r.body.isEmpty());

    WebBrowser* wb = m_win->existingBrowser();
    QVERIFY(wb->widget()->isVisible());
    QTRY_COMPARE(m_win->panelText(2), QStringLiteral("原始网页加载完毕"));
    QVERIFY(m_win->panelText(3).isEmpty());
    QCOMPARE(m_win->LastResponseText, QByteArray("held"));
    QCOMPARE(runJs(QStringLiteral("document.body.innerText")).toString(),
             QStringLiteral("original"));
    // No history is kept of the navigation.
    QVERIFY(!wb->canGoBack());
}

void TestResultViews::originalPagePost_data()
{
    QTest::addColumn<QByteArray>("typeRow");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expectedType");

    QTest::newRow("form by default")
        << QByteArray() << cp936("x=1&y=中文") << QByteArray("application/x-www-form-urlencoded");
    QTest::newRow("the row's type wins")
        << QByteArray("application/json") << QByteArray("{\"a\":1}")
        << QByteArray("application/json");
    QTest::newRow("empty data is still a POST")
        << QByteArray() << QByteArray() << QByteArray("application/x-www-form-urlencoded");
}

void TestResultViews::originalPagePost()
{
    QFETCH(QByteArray, typeRow);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expectedType);
    m_server->route("/post", ScriptedResponse::ok("<p>posted</p>", "text/html"));
    if (!typeRow.isEmpty())
        m_win->headerList()->append("content-type", typeRow);
    m_win->headerList()->append("Content-Length", "999"); // the browser frames the body
    child<QComboBox>(m_win.get(), "cbbMethod")->setCurrentIndex(1);
    child<QLineEdit>(m_win.get(), "edtData")->setText(AnsiCodec::toUnicode(data));
    typeUrl(m_server->url("/post"));
    choose(3);

    QTRY_COMPARE(requestsFor(*m_server, "/post").size(), 1);
    const RecordedRequest r = requestsFor(*m_server, "/post").first();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.body, data);
    QCOMPARE(r.header("Content-Length"), QByteArray::number(data.size()));
    QCOMPARE(r.headerCount("Content-Type"), 1);
    QCOMPARE(r.header("Content-Type"), expectedType);
}

void TestResultViews::originalPageWithoutCharsetReadsAsTheHtmlView()
{
    // Pages that declare no charset: UTF-8 where the bytes are UTF-8, code
    // page 936 where they are not, never windows-1252.
    const QString text = QStringLiteral("中文网页，这里是一些汉字。");
    const QByteArray ascii = QByteArray("<p>plain ascii text first</p>").repeated(200);
    m_server->route("/u", ScriptedResponse::ok(ascii + "<p>" + text.toUtf8() + "</p>", "text/html"));
    m_server->route("/g", ScriptedResponse::ok(ascii + "<p>" + AnsiCodec::fromUnicode(text) + "</p>", "text/html"));
    for (const char* path : {"/u", "/g"}) {
        typeUrl(m_server->url(path));
        choose(3);
        QTRY_COMPARE(m_win->panelText(2), QStringLiteral("原始网页加载完毕"));
        QVERIFY2(runJs(QStringLiteral("document.body.innerText")).toString().endsWith(text), path);
    }
}

void TestResultViews::failedOriginalPageIsNotReportedAsLoaded()
{
    quint16 closedPort;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    typeUrl("http://127.0.0.1:" + QByteArray::number(closedPort) + "/x");
    choose(3);
    QTRY_VERIFY2(m_win->panelText(2).startsWith(QStringLiteral("原始网页加载失败：")),
                 qPrintable(m_win->panelText(2)));
    QVERIFY(m_win->existingBrowser()->widget()->isVisible());
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestResultViews::credentialRowsStayWithTheirSiteOnRedirect()
{
    m_server->route("/here", ScriptedResponse::redirect(302, m_server->url("/same")));
    m_server->route("/same", ScriptedResponse::redirect(302, m_server->localhostUrl("/away")));
    m_server->route("/away", ScriptedResponse::ok("<p>away</p>", "text/html"));
    m_win->headerList()->append("X-Secret", "s3");
    m_win->headerList()->append("Authorization", "Basic dTpw");
    typeUrl(m_server->url("/here"));
    choose(3);
    QTRY_COMPARE(requestsFor(*m_server, "/away").size(), 1);
    for (const char* path : {"/here", "/same"}) {
        const RecordedRequest r = requestsFor(*m_server, path).value(0);
        QCOMPARE(r.header("X-Secret"), QByteArray("s3"));
        QCOMPARE(r.header("Authorization"), QByteArray("Basic dTpw"));
    }
    // Another host (localhost is not 127.0.0.1 to the browser) gets the rows
    // but not the credentials, as with the request components.
    const RecordedRequest away = requestsFor(*m_server, "/away").first();
    QCOMPARE(away.header("X-Secret"), QByteArray("s3"));
    QCOMPARE(away.headerCount("Authorization"), 0);
    QTRY_COMPARE(m_win->panelText(2), QStringLiteral("原始网页加载完毕"));
    QCOMPARE(m_win->existingBrowser()->LocationURL(), m_server->localhostUrl("/away"));
}

void TestResultViews::sendHidesTheBrowserWhichCoversTheMemo()
{
    m_server->route("/s", ScriptedResponse::ok("<p>s</p>", "text/html"));
    typeUrl(m_server->url("/s"));
    choose(3);
    WebBrowser* wb = m_win->existingBrowser();
    auto* html = child<LargeTextView>(m_win.get(), "mmoHtml");
    QVERIFY(wb->widget()->isVisible());
    QCOMPARE(wb->widget()->geometry(), QRect(QPoint(0, 0), html->size()));
    m_win->resize(m_win->width() + 120, m_win->height() + 40);
    QTRY_COMPARE(wb->widget()->geometry(), QRect(QPoint(0, 0), html->size()));

    QTest::mouseClick(child<QWidget>(m_win.get(), "btnSendReqest"), Qt::LeftButton);
    QVERIFY(!wb->widget()->isVisible());
    QCOMPARE(views()->currentIndex(), 0);
    QCOMPARE(memo(), QStringLiteral("<p>s</p>"));
}

void TestResultViews::browserCoversTheMemoAfterEveryChange()
{
    m_server->route("/c", ScriptedResponse::ok("<p>c</p>", "text/html"));
    typeUrl(m_server->url("/c"));
    choose(2);
    QWidget* wb = m_win->existingBrowser()->widget();
    auto* html = child<LargeTextView>(m_win.get(), "mmoHtml");
    const QSize before = html->size();
    // Splitter handles dragged as the mouse does it: the memos', then the panels'.
    for (const auto& [splitter, by] : {std::pair{"splBLR", QPoint(-150, 0)},
                                       {"splBLR", QPoint(220, 0)},
                                       {"splVertical", QPoint(0, 60)}}) {
        QWidget* handle = child<QSplitter>(m_win.get(), splitter)->handle(1);
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint());
        QMouseEvent move(QEvent::MouseMove, QPointF(by), handle->mapToGlobal(by), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &move);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, by);
        QCOMPARE(wb->geometry(), QRect(html->mapTo(wb->parentWidget(), QPoint()), html->size()));
    }
    QVERIFY(html->width() > before.width() + 50 && html->height() < before.height() - 50);
    m_win->resize(m_win->width() - 90, m_win->height() + 50);
    QTRY_COMPARE(wb->geometry(), QRect(QPoint(), html->size()));
    QVERIFY(wb->isVisible());
}

void TestResultViews::closingTheWindowEndsTheWait()
{
    m_server->route("/stall", ScriptedResponse().stall(-1));
    typeUrl(m_server->url("/stall"));
    QTimer::singleShot(2500, m_win.get(), [this] { m_win->close(); });
    QElapsedTimer timer;
    timer.start();
    choose(3);
    // Well before the 30 s limit: the close ended the wait.
    QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!m_win->isVisible());
}

void TestResultViews::clearCookiesReachesOnlyOurProfileAndPauses()
{
    typeUrl(m_server->url("/c"));
    WebBrowser* wb = startedBrowser();
    wb->setCookie(m_server->url("/c"), "k=v;");
    QTRY_COMPARE(wb->cookies().size(), 1);

    QElapsedTimer timer;
    timer.start();
    child<QAction>(m_win.get(), "mniClearIECookies")->trigger();
    QVERIFY(timer.elapsed() >= 1000);
    QTRY_VERIFY(wb->cookies().isEmpty());

    // A URL of blanks: nothing is cleared and there is no pause.
    wb->setCookie(m_server->url("/c"), "k=v;");
    QTRY_COMPARE(wb->cookies().size(), 1);
    typeUrl("   ");
    timer.restart();
    child<QAction>(m_win.get(), "mniClearIECookies")->trigger();
    QVERIFY(timer.elapsed() < 500);
    QTest::qWait(200);
    QCOMPARE(wb->cookies().size(), 1);
}

void TestResultViews::deleteCurrentSiteCookies()
{
    WebBrowser* wb = startedBrowser();
    wb->setCookie(m_server->url("/"), "here=1;");
    wb->setCookie(m_server->url("/dir/page"), "deep=2;");
    wb->setCookie(m_server->localhostUrl("/"), "elsewhere=3;");
    QTRY_COMPARE(wb->cookies().size(), 3);

    typeUrl(" " + m_server->url("/any") + " ");
    child<QAction>(m_win.get(), "mniDelCurrCookie")->trigger();
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("已删除 127.0.0.1 的Cookie 2 个")});
    QTRY_COMPARE(wb->cookies().size(), 1);
    QCOMPARE(wb->cookies().first().name, QByteArray("elsewhere"));

    typeUrl("");
    child<QAction>(m_win.get(), "mniDelCurrCookie")->trigger();
    QCOMPARE(m_prompter.messages.size(), 1);
}

void TestResultViews::originalPageThroughProxyWithBasicAuth()
{
    ProxyFixture proxy(ProxyFixture::Credentials{"user", "secret"});
    QVERIFY2(proxy.isRunning(), qPrintable(proxy.error()));
    m_server->route("/via", ScriptedResponse::ok("<p>via proxy</p>", "text/html"));
    m_win->ProxyAddress = proxy.address();
    m_win->ProxyUserName = "user";
    m_win->ProxyPassword = "secret";
    child<QCheckBox>(m_win.get(), "chkUseProxy")->setChecked(true);
    m_win->headerList()->append("Cookie", "sid=42");
    typeUrl(proxiedUrl("/via"));
    choose(3);

    QTRY_COMPARE(requestsFor(*m_server, "/via").size(), 1);
    const RecordedRequest r = requestsFor(*m_server, "/via").first();
    QCOMPARE(r.header("Cookie"), QByteArray("sid=42"));
    QVERIFY(r.header("Via").contains("tinyproxy"));
    QVERIFY(proxiedCount(proxy, "/via") >= 1);
    QTRY_COMPARE(m_win->panelText(2), QStringLiteral("原始网页加载完毕"));
    QCOMPARE(runJs(QStringLiteral("document.body.innerText")).toString(),
             QStringLiteral("via proxy"));
}

void TestResultViews::proxySwitchTakesEffectOnTheNextLoad()
{
    ProxyFixture proxy;
    QVERIFY2(proxy.isRunning(), qPrintable(proxy.error()));
    for (const char* path : {"/p1", "/p2", "/p3", "/p4"})
        m_server->route(path, ScriptedResponse::ok("<p>x</p>", "text/html"));
    m_win->ProxyAddress = proxy.address();
    auto* useProxy = child<QCheckBox>(m_win.get(), "chkUseProxy");

    // Each load follows the switch as it was set just before it, although
    // the engine itself takes a changed proxy only after its next request.
    const QList<QPair<QByteArray, bool>> loads = {
        {"/p1", true}, {"/p2", false}, {"/p3", true}, {"/p4", false}};
    for (const auto& [path, viaProxy] : loads) {
        useProxy->setChecked(viaProxy);
        typeUrl(proxiedUrl(path));
        choose(3);
        QTRY_COMPARE(requestsFor(*m_server, path).size(), 1);
        const RecordedRequest r = requestsFor(*m_server, path).first();
        QCOMPARE(r.header("Via").contains("tinyproxy"), viaProxy);
        QCOMPARE(proxiedCount(proxy, path), viaProxy ? 1 : 0);
    }
}

void TestResultViews::wrongProxyPasswordDoesNotLoop()
{
    ProxyFixture proxy(ProxyFixture::Credentials{"user", "secret"});
    QVERIFY2(proxy.isRunning(), qPrintable(proxy.error()));
    m_server->route("/denied", ScriptedResponse::ok("<p>x</p>", "text/html"));
    m_win->ProxyAddress = proxy.address();
    m_win->ProxyUserName = "user";
    m_win->ProxyPassword = "wrong";
    child<QCheckBox>(m_win.get(), "chkUseProxy")->setChecked(true);
    typeUrl(proxiedUrl("/denied"));

    QElapsedTimer timer;
    timer.start();
    choose(3);
    QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
    // The engine gives up after a bounded number of tries with the refused
    // credentials and reports the page as failed.
    QTRY_VERIFY2(m_win->panelText(2).startsWith(QStringLiteral("原始网页加载失败：")),
                 qPrintable(m_win->panelText(2)));
    const int attempts = proxiedCount(proxy, "/denied");
    QTest::qWait(1000);
    QCOMPARE(proxiedCount(proxy, "/denied"), attempts);
    QVERIFY(requestsFor(*m_server, "/denied").isEmpty());
    QVERIFY(m_prompter.errors.isEmpty());
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestResultViews test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resultviews.moc"
