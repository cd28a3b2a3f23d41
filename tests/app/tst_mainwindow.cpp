// The main window driven as a user drives it: type, click, read what the
// loopback server received and what the window shows.

#include "app/StatusPanels.h"
#include "app/untFrmMain.h"
#include "headers/HeaderList.h"
#include "results/LargeTextView.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

namespace {

QByteArray header(const RecordedRequest& r, const char* name)
{
    return r.header(name);
}

// An address on a loopback port nobody listens on.
QByteArray closedUrl()
{
    const quint16 port = LoopbackServer().port();
    return "http://127.0.0.1:" + QByteArray::number(port) + "/x";
}

// The top panel's controls, then those of the group box with the buttons, at
// their places in the window design (the header list 8 pixels lower, so that
// it no longer covers the data field).
const std::pair<const char*, QRect> kTopDesign[] = {
    {"lblUrl", QRect(2, 12, 28, 19)},      {"Label1", QRect(2, 43, 28, 19)},
    {"lblHeaders", QRect(9, 100, 18, 60)}, {"edtUrl", QRect(32, 8, 586, 27)},
    {"edtData", QRect(32, 40, 586, 27)},   {"lvwHeaders", QRect(32, 72, 586, 124)},
    {"grpBtns", QRect(621, 0, 265, 201)}};
const std::pair<const char*, QRect> kGroupDesign[] = {
    {"cbbComponent", QRect(6, 8, 251, 27)},      {"cbbMethod", QRect(6, 40, 105, 27)},
    {"btnSaveToFile", QRect(134, 40, 105, 31)},  {"cbbResultType", QRect(6, 76, 105, 27)},
    {"btnSendReqest", QRect(138, 80, 111, 105)}, {"chkGetRespCookie", QRect(6, 110, 107, 17)},
    {"chkUseProxy", QRect(6, 138, 91, 17)}};

// Answers each request with the head of a long body (setting a cookie), then
// a byte a second, and hangs up after five. It runs on the test's thread,
// whose event loop turns while the window waits for a request.
class TrickleServer : public QTcpServer
{
public:
    TrickleServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::disconnected, [this] { hungUp = true; });
                connect(socket, &QTcpSocket::readyRead, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nSet-Cookie: sid=new\r\n"
                                  "Content-Length: 100000\r\n\r\npartial");
                    auto* trickle = new QTimer(socket);
                    connect(trickle, &QTimer::timeout, [socket, sent = 0]() mutable {
                        socket->write("x");
                        if (++sent == 5)
                            socket->close();
                    });
                    trickle->start(1000);
                });
            }
        });
    }
    QByteArray url() const
    {
        return "http://127.0.0.1:" + QByteArray::number(serverPort()) + "/slow";
    }

    int connections = 0;
    bool hungUp = false;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void designState();
    void statusPanelsShareTheWidth();
    void getShowsBodyHeadersAndPanels();
    void utf8BodyIsConverted();
    void memoShowsTheBodysOwnCharacters_data();
    void memoShowsTheBodysOwnCharacters();
    void postSendsRowsDataAndLengths();
    void postWithContentTypeRowAndLengthRow();
    void getIgnoresData();
    void emptyUrlSendsNothing();
    void acceptEncodingQuestion();
    void pageViewFallsBackToHtml();
    void cookieRowCreatedAndMerged();
    void noSetCookieLeavesListAlone();
    void responseWithoutBodyShowsItsStatus_data();
    void responseWithoutBodyShowsItsStatus();
    void emptyBodyShowsZeroBytes();
    void unreachableHostShowsErrorAndWindowStaysUsable();
    void stallingServerEndsWithError();
    void downloadWritesFileAndKeepsMemos();
    void downloadCancelledSendsNothing();
    void cutDownloadLeavesPreviousFile();
    void downloadTargetNotWritable();
    void downloadOfNoBodyKeepsTheFile();
    void headerListGestures();
    void downloadShowsErrorStatus();
    void topPanelFitsTheFont_data();
    void topPanelFitsTheFont();
    void windowLivesWhileRequestWaits();
    void inputDuringRequestIsDropped_data();
    void inputDuringRequestIsDropped();
    void escCancelsRequest_data();
    void escCancelsRequest();
    void closingDuringRequestSavesAndCloses();
    void curlImportSendsTheBrowsersRequest();
    void hopView_data();
    void hopView();
    void bodyReadInAChosenCharset();

private:
    void openWindow();
    void send();
    // Runs `action` `ms` milliseconds from now (while a request waits),
    // unless the window is gone by then.
    void during(int ms, const std::function<void()>& action)
    {
        QTimer::singleShot(ms, m_win.get(), action);
    }
    void typeUrl(const QByteArray& url);
    QString memo() const { return child<LargeTextView>(m_win.get(), "mmoHtml")->text(); }
    QString headersMemo() const
    {
        return child<QPlainTextEdit>(m_win.get(), "mmoRespHeaders")->toPlainText();
    }
    // The context menu of a control, as the Menu key opens it.
    QMenu* openContextMenu(QWidget* control)
    {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                control->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(control, &event);
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QDir m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<TFrmMain> m_win;
    TFrmMain::Environment m_env;
};

void TestMainWindow::init()
{
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = QDir(m_tmp->path());
    m_server = std::make_unique<LoopbackServer>();
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.http.connectTimeoutMs = 3000;
    env.http.idleTimeoutMs = 1500;
    env.executablePath = m_dir.filePath(QStringLiteral("reqlark"));
    m_env = env;
    openWindow();
}

void TestMainWindow::openWindow()
{
    m_win.reset();
    m_win = std::make_unique<TFrmMain>(m_env);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win.get()));
}

void TestMainWindow::cleanup()
{
    m_win.reset();
    m_server.reset();
    m_tmp.reset();
}

void TestMainWindow::typeUrl(const QByteArray& url)
{
    auto* edit = child<QLineEdit>(m_win.get(), "edtUrl");
    edit->clear();
    QTest::keyClicks(edit, QString::fromLatin1(url));
}

void TestMainWindow::send()
{
    QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSendReqest"), Qt::LeftButton);
}

void TestMainWindow::designState()
{
    QVERIFY(m_win->windowTitle().startsWith(QStringLiteral("Http测试工具 Reqlark v")));
    auto* component = child<QComboBox>(m_win.get(), "cbbComponent");
    QCOMPARE(component->count(), 3);
    QCOMPARE(component->itemText(0), QStringLiteral("ServerXMLHTTP"));
    QCOMPARE(component->itemText(2), QStringLiteral("WinHTTP"));
    auto* view = child<QComboBox>(m_win.get(), "cbbResultType");
    QStringList views;
    for (int i = 0; i < view->count(); ++i)
        views << view->itemText(i);
    QCOMPARE(views, (QStringList{QStringLiteral("HTML"), QStringLiteral("纯文本"),
                                 QStringLiteral("离线网页"), QStringLiteral("原始网页")}));
    QCOMPARE(view->currentIndex(), 0);
    QCOMPARE(child<QPushButton>(m_win.get(), "btnSendReqest")->text(), QStringLiteral("获取HTML"));
    QCOMPARE(child<QPushButton>(m_win.get(), "btnSaveToFile")->text(),
             QStringLiteral("保存到文件"));
    QCOMPARE(child<QLineEdit>(m_win.get(), "edtUrl")->toolTip(),
             QStringLiteral("双击粘贴,按回车发送请求"));
    QVERIFY(!child<QCheckBox>(m_win.get(), "chkGetRespCookie")->isChecked());

    // The popup menu of the header list: five items in order, none disabled.
    auto* popup = child<QMenu>(m_win.get(), "pmLvwHeaders");
    QStringList items;
    for (QAction* a : popup->actions()) {
        items << a->text();
        QVERIFY(a->isEnabled());
    }
    QCOMPARE(items,
             (QStringList{QStringLiteral("添加"), QStringLiteral("编辑"), QStringLiteral("删除"),
                          QStringLiteral("清空"), QStringLiteral("从剪贴板导入")}));
    // The tools menu is shown after the main menu.
    auto* tools = child<QMenu>(m_win.get(), "mniTools");
    QVERIFY(tools->menuAction()->isVisible());
    QCOMPARE(tools->title(), QStringLiteral("工具(&T)"));
    QCOMPARE(tools->actions().size(), 2);

    // Panel 0 carries the proxy indicator, 18 x 18 at 5, 2.
    auto* globe = child<QLabel>(m_win.get(), "imgStaBar");
    QCOMPARE(globe->geometry(), QRect(5, 2, 18, 18));
    QVERIFY(!globe->pixmap().isNull());
    for (int i = 0; i < 5; ++i)
        QVERIFY(m_win->panelText(i).isEmpty());
}

void TestMainWindow::statusPanelsShareTheWidth()
{
    for (int width : {900, 1013, 640}) {
        m_win->resize(width, 600);
        QTRY_COMPARE(m_win->width(), width);
        StatusPanels* bar = m_win->statusBar1();
        QCOMPARE(bar->panelWidth(0), 50);
        for (int i = 1; i < 5; ++i)
            QCOMPARE(bar->panelWidth(i), (width - 50) / 4);
    }
}

void TestMainWindow::getShowsBodyHeadersAndPanels()
{
    m_server->route("/page",
                    ScriptedResponse::withBody(200, "OK", {"Content-Type: text/html", "X-Test: 1"},
                                               "<html>hello</html>"));
    typeUrl("  " + m_server->url("/page?q=1") + " ");
    send();

    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest r = m_server->lastRequest();
    QCOMPARE(r.method, QByteArray("GET"));
    QCOMPARE(r.target, QByteArray("/page?q=1"));
    QVERIFY(r.body.isEmpty());
    QVERIFY(header(r, "Content-Length").isEmpty());

    QCOMPARE(memo(), QStringLiteral("<html>hello</html>"));
    QVERIFY(headersMemo().startsWith(QStringLiteral("Content-Type: text/html\nX-Test: 1")));
    QCOMPARE(m_win->LastResponseText, QByteArray("<html>hello</html>"));
    QCOMPARE(m_win->panelText(1), QStringLiteral("HTML"));
    QCOMPARE(m_win->panelText(2), QStringLiteral("Html加载完成"));
    QCOMPARE(m_win->panelText(3), QStringLiteral("200 OK"));
    QCOMPARE(m_win->panelText(4), QStringLiteral("18 Byte"));
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestMainWindow::utf8BodyIsConverted()
{
    const QByteArray utf8 = QStringLiteral("<p>中文网页</p>").toUtf8();
    m_server->route("/cn", ScriptedResponse::ok(utf8, "text/html; charset=utf-8"));
    typeUrl(m_server->url("/cn"));
    send();
    QCOMPARE(memo(), QStringLiteral("<p>中文网页</p>"));
    QCOMPARE(m_win->LastResponseText, AnsiCodec::fromUnicode(QStringLiteral("<p>中文网页</p>")));
    // The size is that of the body as it arrived.
    QCOMPARE(m_win->panelText(4), QStringLiteral("%1 Byte").arg(utf8.size()));
}

void TestMainWindow::memoShowsTheBodysOwnCharacters_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("plain");   // the plain-text view
    QTest::addColumn<QByteArray>("kept"); // LastResponseText
    const QByteArray html = "text/html";
    const QString beyond = QStringLiteral("<p>中文 😀 한국어</p>");
    QTest::newRow("UTF-8 beyond code page 936")
        << beyond.toUtf8() << html << beyond << QStringLiteral("中文 😀 한국어")
        << AnsiCodec::fromUnicode(beyond);
    const QString chinese = QStringLiteral("<p>中文网页</p>");
    QTest::newRow("code page 936, nothing declared")
        << AnsiCodec::fromUnicode(chinese) << html << chinese << QStringLiteral("中文网页")
        << AnsiCodec::fromUnicode(chinese);
    QTest::newRow("ASCII") << QByteArray("<b>plain</b>") << html << QStringLiteral("<b>plain</b>")
                           << QStringLiteral("plain") << QByteArray("<b>plain</b>");
    const QByteArray latin1 = "<p>caf\xE9 \x93ok\x94</p>";
    QTest::newRow("ISO-8859-1 declared by Content-Type")
        << latin1 << QByteArray("text/html; charset=ISO-8859-1")
        << QStringLiteral("<p>café “ok”</p>") << QStringLiteral("café “ok”") << latin1;
    // Loose enough for LastResponseText's UTF-8 rule, but no UTF-8 to show.
    QTest::newRow("a stray 0x80 in a windows-1252 page")
        << QByteArray("<p>price \x80 5</p>") << QByteArray("text/html; charset=windows-1252")
        << QStringLiteral("<p>price € 5</p>") << QStringLiteral("price € 5")
        << QByteArray("<p>price ? 5</p>");
    const QByteArray sjis = "<meta charset=\"Shift_JIS\"><p>\x93\xfa\x96\x7b</p>";
    QTest::newRow("Shift_JIS declared by meta")
        << sjis << html << QStringLiteral("<meta charset=\"Shift_JIS\"><p>日本</p>")
        << QStringLiteral("日本") << sjis;
}

void TestMainWindow::memoShowsTheBodysOwnCharacters()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, shown);
    QFETCH(QString, plain);
    QFETCH(QByteArray, kept);
    m_server->route("/b", ScriptedResponse::ok(body, contentType));
    typeUrl(m_server->url("/b"));
    send();
    QCOMPARE(memo(), shown);
    QCOMPARE(m_win->LastResponseText, kept);
    // ASCII: one copy of the body serves both.
    const char* memoBytes = child<LargeTextView>(m_win.get(), "mmoHtml")->utf8().constData();
    QCOMPARE(memoBytes == m_win->LastResponseText.constData(), kept == shown.toUtf8());

    // Plain text and back to HTML: the same characters again, no request;
    // also after a request that fails.
    auto* view = child<QComboBox>(m_win.get(), "cbbResultType");
    view->setCurrentIndex(1);
    emit view->activated(1);
    QCOMPARE(memo(), plain);
    view->setCurrentIndex(0);
    emit view->activated(0);
    QCOMPARE(memo(), shown);
    QCOMPARE(m_server->requestCount(), 1);
    typeUrl(closedUrl());
    send();
    QCOMPARE(m_prompter.errors.size(), 1);
    emit view->activated(0);
    QCOMPARE(memo(), shown);
}

void TestMainWindow::postSendsRowsDataAndLengths()
{
    m_server->route("/form", ScriptedResponse::ok("done"));
    HeaderList* rows = m_win->headerList();
    rows->append("X-First", "1");
    rows->append("X-Empty", "");
    rows->append(":authority", "example.com");
    rows->append("", "no name");
    rows->append("X-Last", "z");
    typeUrl(m_server->url("/form"));
    child<QComboBox>(m_win.get(), "cbbMethod")->setCurrentIndex(1);
    child<QLineEdit>(m_win.get(), "edtData")->setText(QStringLiteral("a=1&b=中文"));
    send();

    const RecordedRequest r = m_server->lastRequest();
    QCOMPARE(r.method, QByteArray("POST"));
    const QByteArray ansiData = "a=1&b=\xD6\xD0\xCE\xC4";
    QCOMPARE(r.body, ansiData);
    QCOMPARE(header(r, "Content-Length"), QByteArray::number(ansiData.size()));
    QCOMPARE(header(r, "Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(r.headerCount("X-Empty"), 0);
    QCOMPARE(r.headerCount(":authority"), 0);
    const QList<QByteArray> names = r.headerNames();
    QVERIFY(names.indexOf("X-First") < names.indexOf("X-Last"));
    QVERIFY(names.indexOf("X-Last") < names.indexOf("Content-Type"));
    QCOMPARE(memo(), QStringLiteral("done"));
}

void TestMainWindow::postWithContentTypeRowAndLengthRow()
{
    m_server->route("/json", ScriptedResponse::ok("{}"));
    m_win->headerList()->append("content-TYPE", "application/json");
    m_win->headerList()->append("Content-Length", "999");
    typeUrl(m_server->url("/json"));
    child<QComboBox>(m_win.get(), "cbbMethod")->setCurrentIndex(1);
    send();
    const RecordedRequest r = m_server->lastRequest();
    QCOMPARE(r.headerCount("Content-Type"), 1);
    QCOMPARE(header(r, "Content-Type"), QByteArray("application/json"));
    QCOMPARE(r.headerCount("Content-Length"), 1);
    QCOMPARE(header(r, "Content-Length"), QByteArray("0"));
    QVERIFY(r.body.isEmpty());
}

void TestMainWindow::getIgnoresData()
{
    m_server->route("/g", ScriptedResponse::ok("x"));
    typeUrl(m_server->url("/g"));
    child<QLineEdit>(m_win.get(), "edtData")->setText(QStringLiteral("ignored=1"));
    send();
    const RecordedRequest r = m_server->lastRequest();
    QVERIFY(r.body.isEmpty());
    QCOMPARE(r.headerCount("Content-Type"), 0);
    QCOMPARE(r.headerCount("Content-Length"), 0);
}

void TestMainWindow::emptyUrlSendsNothing()
{
    child<LargeTextView>(m_win.get(), "mmoHtml")->setText(QStringLiteral("old"));
    m_win->LastResponseText = "kept";
    typeUrl("   ");
    send();
    QCOMPARE(m_server->requestCount(), 0);
    QVERIFY(memo().isEmpty());
    QVERIFY(headersMemo().isEmpty());
    QCOMPARE(m_win->panelText(2), QStringLiteral("正在加载html"));
    QCOMPARE(m_win->LastResponseText, QByteArray("kept"));
}

void TestMainWindow::acceptEncodingQuestion()
{
    m_server->route("/ae", ScriptedResponse::ok("x"));
    m_win->headerList()->append("Accept-Encoding", "gzip");
    typeUrl(m_server->url("/ae"));

    m_prompter.yesNoAnswers.enqueue(false);
    send();
    QCOMPARE(m_prompter.questions.size(), 1);
    QCOMPARE(m_prompter.questions[0].caption, QStringLiteral("提示"));
    QCOMPARE(
        m_prompter.questions[0].text,
        QStringLiteral("设置Accept-Encoding字段可能无法得到正确返回结果\r\n是否需要删除该字段?"));
    QCOMPARE(header(m_server->lastRequest(), "Accept-Encoding"), QByteArray("gzip"));

    m_prompter.yesNoAnswers.enqueue(true);
    send();
    QCOMPARE(m_prompter.questions.size(), 2);
    QCOMPARE(m_server->lastRequest().headerCount("Accept-Encoding"), 0);
    QCOMPARE(m_win->IndexOfReqHeader("accept-encoding"), -1);

    send(); // no row, no question
    QCOMPARE(m_prompter.questions.size(), 2);
}

void TestMainWindow::pageViewFallsBackToHtml()
{
    m_server->route("/v", ScriptedResponse::ok("<b>v</b>"));
    typeUrl(m_server->url("/v"));
    auto* view = child<QComboBox>(m_win.get(), "cbbResultType");
    for (int page : {2, 3}) {
        view->setCurrentIndex(page);
        send();
        QCOMPARE(view->currentIndex(), 0);
        QCOMPARE(m_win->panelText(1), QStringLiteral("HTML"));
        QCOMPARE(memo(), QStringLiteral("<b>v</b>"));
    }
    // Plain text stays selected and shows the text while the full response is kept.
    view->setCurrentIndex(1);
    send();
    QCOMPARE(view->currentIndex(), 1);
    QCOMPARE(m_win->panelText(1), QStringLiteral("纯文本"));
    QCOMPARE(m_win->LastResponseText, QByteArray("<b>v</b>"));
}

void TestMainWindow::cookieRowCreatedAndMerged()
{
    m_server->route("/login",
                    ScriptedResponse::withBody(200, "OK",
                                               {"Set-Cookie: sid=xyz; path=/; HttpOnly",
                                                "set-cookie: token=t1; Max-Age=60; Path=/"},
                                               "ok"));
    child<QCheckBox>(m_win.get(), "chkGetRespCookie")->setChecked(true);
    m_win->headerList()->append("Accept", "*/*");
    typeUrl(m_server->url("/login"));
    send();
    HeaderList* rows = m_win->headerList();
    QCOMPARE(rows->count(), 2);
    QCOMPARE(rows->name(1), QByteArray("Cookie"));
    QCOMPARE(rows->value(1), QByteArray("sid=xyz; token=t1"));

    // The next request sends the row back, and a new cookie is merged in.
    rows->setValue(1, "sid=abc; lang=en");
    send();
    QCOMPARE(header(m_server->lastRequest(), "Cookie"), QByteArray("sid=abc; lang=en"));
    QCOMPARE(rows->value(1), QByteArray("lang=en; sid=xyz; token=t1"));

    // Each response of a redirect chain gives its cookies; the headers shown
    // are the final response's.
    m_server->route("/hop", ScriptedResponse::withBody(
                                302, "Found", {"Set-Cookie: hop=1", "Location: /home"}, {}));
    m_server->route("/home", ScriptedResponse::withBody(
                                 200, "OK", {"Set-Cookie: seen=1", "X-Home: yes"}, "welcome"));
    typeUrl(m_server->url("/hop"));
    send();
    QVERIFY(headersMemo().startsWith(QStringLiteral("Set-Cookie: seen=1\nX-Home: yes")));
    QCOMPARE(rows->value(1), QByteArray("hop=1; lang=en; seen=1; sid=xyz; token=t1"));
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestMainWindow::noSetCookieLeavesListAlone()
{
    m_server->route("/plain", ScriptedResponse::ok("x"));
    child<QCheckBox>(m_win.get(), "chkGetRespCookie")->setChecked(true);
    typeUrl(m_server->url("/plain"));
    send();
    QCOMPARE(m_win->headerList()->count(), 0);
    // Unticked: cookies are not taken.
    m_server->route("/c", ScriptedResponse::withBody(200, "OK", {"Set-Cookie: a=1"}, "x"));
    child<QCheckBox>(m_win.get(), "chkGetRespCookie")->setChecked(false);
    typeUrl(m_server->url("/c"));
    send();
    QCOMPARE(m_win->headerList()->count(), 0);
}

void TestMainWindow::responseWithoutBodyShowsItsStatus_data()
{
    QTest::addColumn<QByteArray>("statusLine");
    QTest::newRow("204") << QByteArray("HTTP/1.1 204 No Content");
    QTest::newRow("304") << QByteArray("HTTP/1.1 304 Not Modified");
}

void TestMainWindow::responseWithoutBodyShowsItsStatus()
{
    QFETCH(QByteArray, statusLine);
    m_server->route("/big", ScriptedResponse::ok(QByteArray(2048, 'x')));
    m_server->route("/none", ScriptedResponse::headOnly(statusLine, {"X-Seen: yes"}));
    typeUrl(m_server->url("/big"));
    send();
    typeUrl(m_server->url("/none"));
    send();
    QCOMPARE(m_win->panelText(2), QStringLiteral("Html加载完成"));
    QCOMPARE(m_win->panelText(3).toLatin1(), statusLine.mid(9));
    QCOMPARE(m_win->panelText(4), QStringLiteral("0 Byte"));
    QVERIFY(headersMemo().startsWith(QStringLiteral("X-Seen: yes")));
    QVERIFY(memo().isEmpty());
    QVERIFY(m_win->LastResponseText.isEmpty());
}

void TestMainWindow::emptyBodyShowsZeroBytes()
{
    m_win->LastResponseText = "previous";
    m_server->route("/zero", ScriptedResponse::withBody(200, "OK", {"X-A: 1"}, QByteArray()));
    typeUrl(m_server->url("/zero"));
    send();
    QCOMPARE(m_win->panelText(4), QStringLiteral("0 Byte"));
    QCOMPARE(m_win->panelText(3), QStringLiteral("200 OK"));
    QVERIFY(m_win->LastResponseText.isEmpty());
    QVERIFY(headersMemo().contains(QStringLiteral("X-A: 1")));
}

void TestMainWindow::unreachableHostShowsErrorAndWindowStaysUsable()
{
    typeUrl(closedUrl());
    send();
    QCOMPARE(m_prompter.errors.size(), 1);
    const QString error = m_prompter.errors.first();
    QVERIFY2(error.contains(QStringLiteral("127.0.0.1")), qPrintable(error));
    QVERIFY2(error.endsWith(QLatin1Char('.')), qPrintable(error));
    QCOMPARE(m_win->panelText(2), QStringLiteral("正在加载html"));

    // The window still works.
    m_server->route("/after", ScriptedResponse::ok("fine"));
    typeUrl(m_server->url("/after"));
    send();
    QCOMPARE(memo(), QStringLiteral("fine"));
    QCOMPARE(m_prompter.errors.size(), 1);
}

void TestMainWindow::stallingServerEndsWithError()
{
    ScriptedResponse stall;
    stall.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial").stall(-1);
    m_server->route("/stall", stall);
    typeUrl(m_server->url("/stall"));
    QElapsedTimer timer;
    timer.start();
    send();
    QVERIFY(timer.elapsed() < 15000);
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY(m_win->LastResponseText.isEmpty());
    QVERIFY(m_win->panelText(3).isEmpty());
}

void TestMainWindow::downloadWritesFileAndKeepsMemos()
{
    const QByteArray body = LoopbackServer::patternBytes(0, 300000);
    m_server->route("/file", ScriptedResponse::patternBody(body.size()));
    child<LargeTextView>(m_win.get(), "mmoHtml")->setText(QStringLiteral("memo stays"));
    m_win->LastResponseText = "kept";
    m_win->setPanelText(3, QStringLiteral("old status"));
    const QString target = m_dir.filePath(QStringLiteral("out.bin"));
    m_prompter.saveAnswers.enqueue(target);
    typeUrl(m_server->url("/file"));
    QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSaveToFile"), Qt::LeftButton);

    QCOMPARE(m_prompter.saveRequests.size(), 1);
    const Prompter::SaveRequest& dialog = m_prompter.saveRequests.first();
    QCOMPARE(dialog.defaultSuffix, QStringLiteral("txt"));
    QCOMPARE(dialog.nameFilters.size(), 5);
    QCOMPARE(dialog.nameFilters.first(), QStringLiteral("文本文件(*.txt) (*.txt)"));
    QCOMPARE(dialog.nameFilters[1], QStringLiteral("网页文件(*.html;*.html) (*.html *.htm)"));
    QVERIFY(dialog.confirmOverwrite);

    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), body);
    QCOMPARE(m_win->panelText(2), QStringLiteral("文件保存完成"));
    QCOMPARE(m_win->panelText(3), QStringLiteral("200 OK"));
    QCOMPARE(m_win->panelText(4), QStringLiteral("292.97 KB "));
    QCOMPARE(memo(), QStringLiteral("memo stays"));
    QCOMPARE(m_win->LastResponseText, QByteArray("kept"));
    QVERIFY(m_win->SaveTargetPath.isEmpty());
    QCOMPARE(QDir(m_dir.absolutePath()).entryList(QDir::Files),
             QStringList{QStringLiteral("out.bin")});
}

void TestMainWindow::downloadCancelledSendsNothing()
{
    m_prompter.saveAnswers.enqueue(std::nullopt);
    typeUrl(m_server->url("/file"));
    QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSaveToFile"), Qt::LeftButton);
    QCOMPARE(m_server->requestCount(), 0);
    QVERIFY(m_win->SaveTargetPath.isEmpty());
}

void TestMainWindow::cutDownloadLeavesPreviousFile()
{
    const QString target = m_dir.filePath(QStringLiteral("keep.txt"));
    {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("previous content");
    }
    ScriptedResponse cut;
    cut.send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n")
        .send(QByteArray(5000, 'x'))
        .close();
    m_server->route("/cut", cut);
    m_prompter.saveAnswers.enqueue(target);
    typeUrl(m_server->url("/cut"));
    QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSaveToFile"), Qt::LeftButton);

    QCOMPARE(m_prompter.errors.size(), 1);
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("previous content"));
    QCOMPARE(QDir(m_dir.absolutePath()).entryList(QDir::Files),
             QStringList{QStringLiteral("keep.txt")});
    QVERIFY(m_win->SaveTargetPath.isEmpty());
    QCOMPARE(m_win->panelText(2), QStringLiteral("正在从网址下载到文件"));
}

void TestMainWindow::downloadTargetNotWritable()
{
    m_server->route("/f", ScriptedResponse::ok("data"));
    const QString target = m_dir.filePath(QStringLiteral("missing-folder/out.txt"));
    m_prompter.saveAnswers.enqueue(target);
    typeUrl(m_server->url("/f"));
    QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSaveToFile"), Qt::LeftButton);
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors.first().contains(target), qPrintable(m_prompter.errors.first()));
    QVERIFY(m_win->SaveTargetPath.isEmpty());
    QVERIFY(!QFile::exists(target));
}

void TestMainWindow::downloadOfNoBodyKeepsTheFile()
{
    m_server->route("/nobody", ScriptedResponse::headOnly("HTTP/1.1 304 Not Modified", {}));
    const QString target = m_dir.filePath(QStringLiteral("kept.txt"));
    writeAll(target, "earlier");
    m_prompter.saveAnswers.enqueue(target);
    typeUrl(m_server->url("/nobody"));
    QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSaveToFile"), Qt::LeftButton);
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(readAll(target), QByteArray("earlier"));
    QCOMPARE(QDir(m_dir.absolutePath()).entryList(QDir::Files).size(), 1);
    QCOMPARE(m_win->panelText(2), QStringLiteral("没有正文，文件未改动"));
    QCOMPARE(m_win->panelText(3), QStringLiteral("304 Not Modified"));
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestMainWindow::headerListGestures()
{
    HeaderList* rows = m_win->headerList();
    auto* list = child<QTableView>(m_win.get(), "lvwHeaders");
    auto* add = m_win->findChild<QAction*>(QStringLiteral("mniAddReqHeader"));
    auto* edit = m_win->findChild<QAction*>(QStringLiteral("mniEditReqHeader"));
    QSignalSpy adds(add, &QAction::triggered);
    QSignalSpy edits(edit, &QAction::triggered);

    // Double-click on an empty list means "add".
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(adds.count(), 1);
    QCOMPARE(edits.count(), 0);

    rows->append("A", "1");
    rows->append("B", "2");
    rows->append("C", "3");
    // Delete with nothing selected does nothing.
    m_win->findChild<QAction*>(QStringLiteral("mniDelReqHeader"))->trigger();
    QCOMPARE(rows->count(), 3);

    list->selectRow(1);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualRect(rows->index(1, 1)).center());
    QCOMPARE(edits.count(), 1);
    QCOMPARE(m_win->selectedHeaderRow(), 1);

    // Below the rows, through the window so that the view gets the whole
    // sequence a real double-click makes (press, release, press, double-click,
    // release): the selected row is edited; after a click there has cleared
    // the selection, a double-click adds.
    const QRect last = list->visualRect(rows->index(2, 0));
    const QPoint below(last.center().x(), last.bottom() + last.height() / 2);
    QVERIFY(list->viewport()->rect().contains(below) && !list->indexAt(below).isValid());
    const QPoint at = list->viewport()->mapTo(m_win.get(), below);
    QTest::mouseDClick(m_win->windowHandle(), Qt::LeftButton, {}, at);
    QCOMPARE(edits.count(), 2);
    QCOMPARE(adds.count(), 1);
    QCOMPARE(m_win->selectedHeaderRow(), 1);
    QTest::mouseClick(m_win->windowHandle(), Qt::LeftButton, {}, at);
    QCOMPARE(m_win->selectedHeaderRow(), -1);
    QTest::mouseDClick(m_win->windowHandle(), Qt::LeftButton, {}, at);
    QCOMPARE(adds.count(), 2);
    QCOMPARE(edits.count(), 2);

    // Delete with Shift held deletes the selected row like Delete alone.
    list->setFocus();
    list->selectRow(1);
    QTest::keyClick(list, Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(rows->count(), 2);
    QCOMPARE(rows->name(1), QByteArray("C"));

    m_win->findChild<QAction*>(QStringLiteral("mniDelReqHeaderClear"))->trigger();
    QCOMPARE(rows->count(), 0);
    m_win->findChild<QAction*>(QStringLiteral("mniDelReqHeaderClear"))->trigger();
    QCOMPARE(rows->count(), 0);
}

void TestMainWindow::downloadShowsErrorStatus()
{
    // The error page arrives after a redirect: the status is the final one.
    m_server->route("/report", ScriptedResponse::redirect(302, "/report.pdf"));
    m_server->route("/report.pdf",
                    ScriptedResponse::withBody(404, "Not Found", {}, "<h1>404</h1>"));
    const QString target = m_dir.filePath(QStringLiteral("report.pdf"));
    m_prompter.saveAnswers.enqueue(target);
    typeUrl(m_server->url("/report"));
    QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSaveToFile"), Qt::LeftButton);
    QCOMPARE(readAll(target), QByteArray("<h1>404</h1>"));
    QCOMPARE(m_win->panelText(2), QStringLiteral("文件保存完成"));
    QCOMPARE(m_win->panelText(3), QStringLiteral("404 Not Found"));
}

void TestMainWindow::topPanelFitsTheFont_data()
{
    QTest::addColumn<QList<int>>("sizes"); // chosen one after the other
    QTest::newRow("8 pt") << QList<int>{8};
    QTest::newRow("10 pt") << QList<int>{10};
    QTest::newRow("20 pt") << QList<int>{20};
    QTest::newRow("10 pt after 20") << QList<int>{20, 10};
}

void TestMainWindow::topPanelFitsTheFont()
{
    QFETCH(QList<int>, sizes);
    for (int points : sizes) {
        QFont font = m_win->font();
        font.setPointSize(points);
        m_prompter.fontAnswers.enqueue(Prompter::FontChoice{font, m_win->UiFontColor});
        m_win->findChild<QAction*>(QStringLiteral("mniFontUI"))->trigger();
    }
    for (bool restarted : {false, true}) { // and as the next start restores it
        if (restarted) {
            m_win->close();
            openWindow();
        }
        m_win->resize(884, 700); // the top panel's design width
        auto* top = child<QWidget>(m_win.get(), "pnlTop");
        QTRY_COMPARE(top->width(), 884);
        QCOMPARE(child<QLineEdit>(m_win.get(), "edtUrl")->font().pointSize(), sizes.last());
        for (const auto* controls : {&kTopDesign, &kGroupDesign}) {
            for (const auto& [name, design] : *controls) {
                const QWidget* w = child<QWidget>(m_win.get(), name);
                const QRect at = w->geometry();
                QString where;
                QDebug(&where) << name << at;
                // The room of a label's, list's or button's text, of a line in
                // an edit; the check boxes keep the design font.
                QSize need = w->inherits("QAbstractScrollArea") || w->inherits("QGroupBox")
                                 ? QSize()
                                 : w->sizeHint();
                if (w->inherits("QLineEdit"))
                    need.setWidth(0);
                if (w->inherits("QCheckBox"))
                    need.setHeight(0);
                QVERIFY2(at.width() >= need.width() && at.height() >= need.height(),
                         qPrintable(where));
                // Whole in the panel (the group box 2 pixels over, as designed).
                QVERIFY2(w->inherits("QGroupBox") ||
                             top->rect().contains(QRect(w->mapTo(top, QPoint()), w->size())),
                         qPrintable(where));
                for (const auto& [other, unused] : *controls)
                    QVERIFY2(
                        other == name ||
                            !child<QWidget>(m_win.get(), other)->geometry().intersects(at),
                        qPrintable(where + QLatin1String(" overlaps ") + QLatin1String(other)));
                QVERIFY2(sizes.last() != 10 || at == design, qPrintable(where));
            }
        }
        QVERIFY(sizes.last() != 10 || top->height() == 200);
        auto* list = child<QTableView>(m_win.get(), "lvwHeaders");
        QVERIFY(list->verticalHeader()->defaultSectionSize() >= list->fontMetrics().height() + 2);
        // The status bar's 22 pixels keep a font whose line they hold.
        QVERIFY(m_win->statusBar1()->fontMetrics().height() + 4 <= m_win->statusBar1()->height());
    }
}

void TestMainWindow::windowLivesWhileRequestWaits()
{
    ScriptedResponse slow;
    slow.stall(600)
        .send("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + QByteArray(1000, 'a'))
        .stall(1200)
        .send(QByteArray(2000, 'b'));
    m_server->route("/slow", slow);
    typeUrl(m_server->url("/slow"));

    // A timer and the painting of a resized window, counted until the body
    // begins to arrive; the status bar sampled before and after.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    child<LargeTextView>(m_win.get(), "mmoHtml")->viewport()->installEventFilter(&counter);
    QString beforeBody, tip, whileArriving;
    int ticksWaiting = 0, paintsWaiting = 0;
    during(300, [&] {
        beforeBody = m_win->panelText(2);
        tip = m_win->statusBar1()->toolTip();
        m_win->resize(m_win->width() + 40, m_win->height() + 30);
    });
    during(1300, [&] {
        whileArriving = m_win->panelText(2);
        ticksWaiting = ticks;
        paintsWaiting = counter.paints;
    });
    send();

    QVERIFY2(ticksWaiting >= 20, qPrintable(QString::number(ticksWaiting)));
    QVERIFY(paintsWaiting > 0);
    QCOMPARE(beforeBody, QStringLiteral("正在加载html（按Esc取消）"));
    QCOMPARE(tip, QStringLiteral("按Esc键取消请求"));
    QCOMPARE(whileArriving, QStringLiteral("正在加载html 1000 Byte / 2.93 KB"));
    // The texts of the end are the usual ones.
    QCOMPARE(m_win->panelText(2), QStringLiteral("Html加载完成"));
    QCOMPARE(memo(), QString::fromLatin1(QByteArray(1000, 'a') + QByteArray(2000, 'b')));
    QVERIFY(m_win->statusBar1()->toolTip().isEmpty());
}

void TestMainWindow::inputDuringRequestIsDropped_data()
{
    // What the user does at the request's second 0.3, on a control (none: the
    // window): a click, a double-click or keys. None of it may act, then or
    // after the response.
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("gesture");
    QTest::newRow("click on 获取HTML") << QByteArray("btnSendReqest") << QStringLiteral("click");
    QTest::newRow("Enter in the URL") << QByteArray("edtUrl") << QStringLiteral("Return");
    QTest::newRow("click on 保存到文件") << QByteArray("btnSaveToFile") << QStringLiteral("click");
    QTest::newRow("Delete in the header list") << QByteArray("lvwHeaders") << QStringLiteral("Del");
    QTest::newRow("view chosen with the keyboard")
        << QByteArray("cbbResultType") << QStringLiteral("Down");
    QTest::newRow("menu by its key") << QByteArray() << QStringLiteral("Alt+M");
    QTest::newRow("URL field double-clicked") << QByteArray("edtUrl") << QStringLiteral("dclick");
}

void TestMainWindow::inputDuringRequestIsDropped()
{
    QFETCH(QByteArray, control);
    QFETCH(QString, gesture);
    ScriptedResponse slow;
    slow.stall(1000).send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone");
    m_server->route("/slow", slow);
    m_server->route("/other", ScriptedResponse::ok("other"));
    m_win->headerList()->append("X-Row", "1");
    child<QTableView>(m_win.get(), "lvwHeaders")->selectRow(0);
    m_prompter.clipboard = QString::fromLatin1(m_server->url("/other"));
    m_prompter.saveAnswers.enqueue(m_dir.filePath(QStringLiteral("never.txt")));
    typeUrl(m_server->url("/slow"));
    child<QLineEdit>(m_win.get(), "edtUrl")->setFocus();

    during(300, [&] {
        QWidget* target =
            control.isEmpty() ? m_win.get() : child<QWidget>(m_win.get(), control.constData());
        if (gesture == QLatin1String("click"))
            QTest::mouseClick(target, Qt::LeftButton);
        else if (gesture == QLatin1String("dclick"))
            QTest::mouseDClick(target, Qt::LeftButton);
        else
            QTest::keySequence(target, QKeySequence(gesture));
    });
    send();
    QTest::qWait(300); // nothing is played back later either

    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(memo(), QStringLiteral("done"));
    QCOMPARE(m_win->panelText(2), QStringLiteral("Html加载完成"));
    QCOMPARE(child<QLineEdit>(m_win.get(), "edtUrl")->text(),
             QString::fromLatin1(m_server->url("/slow")));
    QCOMPARE(m_win->headerList()->count(), 1);
    QCOMPARE(child<QComboBox>(m_win.get(), "cbbResultType")->currentIndex(), 0);
    QVERIFY(m_prompter.saveRequests.isEmpty());
    QVERIFY(!QApplication::activePopupWidget());
    QVERIFY(!m_win->requestRunning());
}

void TestMainWindow::escCancelsRequest_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<QByteArray>("focus"); // where Esc is pressed
    QTest::newRow("in the URL field") << false << QByteArray("edtUrl");
    QTest::newRow("in the HTML memo") << false << QByteArray("mmoHtml");
    QTest::newRow("download, in the header list") << true << QByteArray("lvwHeaders");
}

void TestMainWindow::escCancelsRequest()
{
    QFETCH(bool, download);
    QFETCH(QByteArray, focus);
    TrickleServer server;
    child<QCheckBox>(m_win.get(), "chkGetRespCookie")->setChecked(true);
    m_win->LastResponseText = "kept";
    m_win->setPanelText(4, QStringLiteral("1 Byte"));
    const QString target = m_dir.filePath(QStringLiteral("old.txt"));
    writeAll(target, "old content");
    typeUrl(server.url());

    QElapsedTimer sinceEsc;
    during(400, [&] {
        sinceEsc.start();
        QTest::keyClick(child<QWidget>(m_win.get(), focus.constData()), Qt::Key_Escape);
    });
    if (download) {
        m_prompter.saveAnswers.enqueue(target);
        QTest::mouseClick(child<QPushButton>(m_win.get(), "btnSaveToFile"), Qt::LeftButton);
    } else {
        send();
    }

    QCOMPARE(server.connections, 1);
    QTRY_VERIFY(server.hungUp);
    QVERIFY2(sinceEsc.elapsed() < 1000, qPrintable(QString::number(sinceEsc.elapsed())));
    QCOMPARE(m_win->panelText(2), QStringLiteral("请求已取消"));
    QVERIFY(m_prompter.errors.isEmpty());
    QCOMPARE(m_win->LastResponseText, QByteArray("kept"));
    QVERIFY(m_win->panelText(3).isEmpty());
    QCOMPARE(m_win->panelText(4), QStringLiteral("1 Byte"));
    QCOMPARE(m_win->headerList()->count(), 0); // no cookie merged
    QVERIFY(memo().isEmpty());
    QVERIFY(headersMemo().isEmpty());
    QCOMPARE(readAll(target), QByteArray("old content"));
    QCOMPARE(m_dir.entryList(QDir::Files), QStringList{QStringLiteral("old.txt")});
    QVERIFY(m_win->SaveTargetPath.isEmpty());
}

void TestMainWindow::closingDuringRequestSavesAndCloses()
{
    TrickleServer server;
    m_win->headerList()->append("X-Kept", "1");
    typeUrl(server.url());
    during(400, [&] { m_win->close(); });
    send();
    QTRY_VERIFY(!m_win->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(server.hungUp, 1000);
    QVERIFY(readAll(m_win->SettingsFilePath).contains("URL=" + server.url()));
    QCOMPARE(readAll(m_win->HeadersFilePath), QByteArray("X-Kept=1\r\n"));
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestMainWindow::curlImportSendsTheBrowsersRequest()
{
    m_server->route("/api/note", ScriptedResponse::ok("saved"));
    m_win->headerList()->append("Accept", "text/plain");
    const QString url = QString::fromLatin1(m_server->url("/api/note"));
    m_prompter.clipboard = QString::fromUtf8(R"(curl '%1' \
  -H 'accept: */*' \
  -H 'content-type: application/json' \
  -b 'sid=abc; lang=zh' \
  --data-raw $'{"msg":"张三\u0021"}' \
  --compressed)")
                               .arg(url);
    auto* import = m_win->findChild<QAction*>(QStringLiteral("mniReqHeaderImportFromClipbrd"));
    import->trigger();
    // The row already there is reported and stays.
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段 accept 已存在")});
    send();
    const RecordedRequest r = m_server->lastRequest();
    QCOMPARE(r.method + ' ' + r.body, QStringLiteral("POST {\"msg\":\"张三!\"}").toUtf8());
    QCOMPARE(header(r, "Cookie"), QByteArray("sid=abc; lang=zh"));
    QCOMPARE(header(r, "Accept"), QByteArray("text/plain"));
    QCOMPARE(header(r, "Content-Type"), QByteArray("application/json"));

    // A method the window cannot send is told, and nothing changes.
    m_prompter.messages.clear();
    m_prompter.clipboard = QStringLiteral("curl 'http://127.0.0.1:1/x' -X 'DELETE'");
    import->trigger();
    QCOMPARE(m_prompter.messages,
             QStringList{QStringLiteral(
                 "无法导入这条 curl 命令：请求方法是 DELETE，这里只能发送 GET 和 POST")});
    QCOMPARE(child<QLineEdit>(m_win.get(), "edtUrl")->text(), url);
    QCOMPARE(m_win->headerList()->count(), 3);
}

void TestMainWindow::hopView_data()
{
    QTest::addColumn<QList<QByteArray>>("responses"); // at /a, /b, /c
    QTest::addColumn<QString>("allHops");
    QTest::addColumn<QString>("finalHeaders");

    const QByteArray found = "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\nok";
    QTest::newRow("a login's redirect sets the cookie")
        << QList<QByteArray>{"HTTP/1.1 302 Found\r\nSet-Cookie: sid=1; Path=/\r\nLocation: "
                             "/b\r\nContent-Length: 0\r\n\r\n",
                             found}
        << QStringLiteral("HTTP/1.1 302 Found\nSet-Cookie: sid=1; Path=/\nLocation: "
                          "/b\nContent-Length: 0\n\nHTTP/1.1 200 OK\nX-A: 1\nContent-Length: 2")
        << QStringLiteral("X-A: 1\nContent-Length: 2");
    QTest::newRow("two redirects to a missing page")
        << QList<QByteArray>{"HTTP/1.1 301 Moved Permanently\r\nLocation: /b\r\nContent-Length: "
                             "0\r\n\r\n",
                             "HTTP/1.1 307 Temporary Redirect\r\nLocation: /c\r\nContent-Length: "
                             "0\r\n\r\n",
                             "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"}
        << QStringLiteral("HTTP/1.1 301 Moved Permanently\nLocation: /b\nContent-Length: "
                          "0\n\nHTTP/1.1 307 Temporary Redirect\nLocation: /c\nContent-Length: "
                          "0\n\nHTTP/1.0 404 Not Found\nContent-Length: 0")
        << QStringLiteral("Content-Length: 0");
}

void TestMainWindow::hopView()
{
    QFETCH(QList<QByteArray>, responses);
    QFETCH(QString, allHops);
    QFETCH(QString, finalHeaders);
    const char* const paths[] = {"/a", "/b", "/c"};
    for (int i = 0; i < responses.size(); ++i)
        m_server->route(paths[i], ScriptedResponse().send(responses[i]));
    typeUrl(m_server->url("/a"));
    send();
    QCOMPARE(headersMemo(), finalHeaders);
    // Where the time went, under the pointer on the status and size panels.
    StatusPanels* bar = m_win->statusBar1();
    const QString times = bar->detail(3);
    QVERIFY2(times.startsWith(QStringLiteral("%1 次请求（含 %2 次跳转）合计：\n")
                                  .arg(responses.size())
                                  .arg(responses.size() - 1)),
             qPrintable(times));
    QCOMPARE(bar->detail(4), times);
    QCOMPARE(child<QLabel>(bar, "StatusPanel3")->toolTip(), times);

    // The pane's context menu offers every hop.
    auto* allHopsItem = m_win->findChild<QAction*>(QStringLiteral("mniShowAllHops"));
    QMenu* menu = openContextMenu(child<QPlainTextEdit>(m_win.get(), "mmoRespHeaders"));
    QVERIFY(menu && menu->actions().contains(allHopsItem));
    QCOMPARE(allHopsItem->text(), QStringLiteral("显示全部跳转"));
    menu->close();
    allHopsItem->trigger();
    QCOMPARE(headersMemo(), allHops);
    // The choice holds for the next request, until it is taken back.
    send();
    QCOMPARE(headersMemo(), allHops);
    allHopsItem->trigger();
    QCOMPARE(headersMemo(), finalHeaders);

    // A request that fails drops the times of the one before.
    typeUrl(closedUrl());
    send();
    QVERIFY(bar->detail(3).isEmpty() && bar->detail(4).isEmpty());
}

void TestMainWindow::bodyReadInAChosenCharset()
{
    // A Big5 page that says it is GBK.
    const QString page = QStringLiteral("<p>繁體中文測試</p>");
    const QByteArray body = QStringEncoder("Big5").encode(page);
    m_server->route("/tw", ScriptedResponse::ok(body, "text/html; charset=gbk"));
    typeUrl(m_server->url("/tw"));
    send();
    const QString misread = memo();
    QVERIFY(misread != page);

    auto* memoView = child<LargeTextView>(m_win.get(), "mmoHtml");
    const auto choose = [&](const QString& item) {
        QMenu* menu = openContextMenu(memoView);
        QVERIFY(menu);
        auto* charsets = menu->findChild<QMenu*>(QStringLiteral("pmBodyCharset"));
        QVERIFY(charsets && charsets->isEnabled());
        const QList<QAction*> items = charsets->actions();
        QCOMPARE(items.first()->text(), QStringLiteral("自动"));
        for (QAction* action : items) {
            if (action->text() == item)
                action->trigger();
        }
        menu->close();
    };
    choose(QStringLiteral("Big5"));
    QCOMPARE(memo(), page);
    QCOMPARE(m_win->LastResponseText, body);
    choose(QStringLiteral("自动"));
    QCOMPARE(memo(), misread);

    // The plain-text view reads the same way.
    auto* view = child<QComboBox>(m_win.get(), "cbbResultType");
    view->setCurrentIndex(1);
    emit view->activated(1);
    choose(QStringLiteral("Big5"));
    QCOMPARE(memo(), QStringLiteral("繁體中文測試"));
    view->setCurrentIndex(0);
    emit view->activated(0);
    QCOMPARE(memo(), page);

    // The next body is read automatically again.
    send();
    QCOMPARE(memo(), misread);
    QVERIFY(m_win->bodyCharset().isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
