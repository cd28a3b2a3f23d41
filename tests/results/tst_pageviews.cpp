// The page views on pages that go wrong or ask much: failures, the memory
// bound, page dialogs, what the page's request carries, undeclared charsets
// and the main window's native window. Real Qt WebEngine and tinyproxy.

#include "PageViewTest.h"
#include "headers/HeaderList.h"
#include "support/ProxyFixture.h"
#include "support/TestCerts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QStringEncoder>
#include <QTimer>
#include <QWindow>

#include <csignal>

Q_DECLARE_METATYPE(TestCerts::ServerCert)

namespace {

QDialog* openPageDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("PageDialog") && w->isVisible())
            return static_cast<QDialog*>(w);
    }
    return nullptr;
}

} // namespace

class TestPageViews : public PageViewTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { openWindow(m_certs->caFile().toLocal8Bit()); }
    void cleanup() { closeWindow(); }

    void pageEndsAreReported_data();
    void pageEndsAreReported();
    void pageDialogsCanBeBlocked();
    void closingWorksWhileADialogIsUp();
    void pageRequest_data();
    void pageRequest();
    void proxyCredentialChangesCountAtOnce();
    void trustAsTheRequestViews_data();
    void trustAsTheRequestViews();
    void undeclaredCharsetInEveryView();
    void windowKeepsItsNativeWindow();

private:
    QTemporaryDir m_certDir;
    std::unique_ptr<TestCerts> m_certs;
};

void TestPageViews::initTestCase()
{
    m_certs = std::make_unique<TestCerts>(m_certDir.path());
    BrowserModule::engine().setMemoryLimit(qint64(400) << 20);
}

void TestPageViews::pageEndsAreReported_data()
{
    QTest::addColumn<int>("view");
    // The text held for the offline page, the body served for the original.
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<bool>("bomb");   // served deflated: 8 KB that expand a thousand times
    QTest::addColumn<bool>("killed"); // the renderer killed once the page shows
    QTest::addColumn<QString>("shown");

    // A million elements fit in a renderer, but not in the limit set here.
    const QByteArray heavy = QByteArray("<b>x</b>").repeated(1 << 20);
    const QString overLimit = QStringLiteral("网页占用的内存超过了上限 400.00 MB，已被停止");
    QTest::newRow("offline page over the memory limit while written")
        << 2 << heavy << false << false << QStringLiteral("离线网页加载失败：") + overLimit;
    QTest::newRow("original page, a decompression bomb")
        << 3 << heavy << true << false << QStringLiteral("原始网页加载失败：") + overLimit;
    QTest::newRow("original page whose renderer is killed")
        << 3 << QByteArray("<p>shown</p>") << false << true
        << QStringLiteral("原始网页加载失败：网页的渲染进程被终止了（信号 %1）").arg(SIGKILL);
}

void TestPageViews::pageEndsAreReported()
{
    QFETCH(int, view);
    QFETCH(QByteArray, page);
    QFETCH(bool, bomb);
    QFETCH(bool, killed);
    QFETCH(QString, shown);
    m_win->LastResponseText = "<p>stale</p>";
    typeUrl(m_server->url("/page"));
    choose(2);
    QCOMPARE(m_win->panelText(2), QStringLiteral("离线网页加载完毕"));

    m_win->LastResponseText = page;
    m_server->route("/page",
                    bomb ? ScriptedResponse::withBody(
                               200, "OK", {"Content-Type: text/html", "Content-Encoding: deflate"},
                               qCompress(page, 9).mid(4)) // without Qt's length
                         : ScriptedResponse::ok(page, "text/html"));
    choose(view);
    WebBrowser* wb = m_win->existingBrowser();
    if (killed) {
        QTRY_COMPARE(m_win->panelText(2), QStringLiteral("原始网页加载完毕"));
        ::kill(pid_t(wb->rendererPid()), SIGKILL);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_win->panelText(2), shown, 30000);
    // A blank page in a new renderer takes the place of the one that ended,
    // and the views go on working.
    QTRY_COMPARE(runJs(QStringLiteral("document.body.innerHTML")).toString(), QString());
    QCOMPARE(wb->LocationURL(), QByteArray("about:blank"));
    m_win->LastResponseText = "<p>again</p>";
    choose(2);
    QCOMPARE(m_win->panelText(2), QStringLiteral("离线网页加载完毕"));
    QCOMPARE(runJs(QStringLiteral("document.body.innerText")).toString(), QStringLiteral("again"));
}

void TestPageViews::pageDialogsCanBeBlocked()
{
    // Every dialog answered with 确定; the second one blocks the rest.
    m_server->route("/d", ScriptedResponse::ok("<script>document.title = [prompt('m0', 'd0'),"
                                               " confirm('m1'), alert('m2'), confirm('m3'),"
                                               " prompt('m4', 'd4')].join('|');</script>",
                                               "text/html"));
    typeUrl(m_server->url("/d"));
    QStringList seen; // each dialog's message, and whether it offered to block
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        QDialog* dialog = openPageDialog();
        if (!dialog)
            return;
        auto* block = dialog->findChild<QCheckBox*>(QStringLiteral("blockDialogs"));
        seen << child<QLabel>(dialog, "message")->text() +
                    (block ? QStringLiteral("+") : QString());
        if (block)
            block->setChecked(true);
        dialog->accept();
    });
    answer.start(50);
    choose(3);
    QTRY_COMPARE(runJs(QStringLiteral("document.title")).toString(),
                 QStringLiteral("d0|true||false|"));
    QCOMPARE(seen, (QStringList{QStringLiteral("m0"), QStringLiteral("m1+")}));
}

void TestPageViews::closingWorksWhileADialogIsUp()
{
    m_server->route("/again",
                    ScriptedResponse::ok("<script>for (;;) alert('again');</script>", "text/html"));
    typeUrl(m_server->url("/again"));
    bool sendIgnored = false;
    QTimer poll;
    poll.start(100);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!openPageDialog())
            return;
        poll.stop();
        // The window takes no input meanwhile: the page's call is still on
        // the stack.
        const int requests = m_server->requestCount();
        QTest::mouseClick(child<QWidget>(m_win.get(), "btnSendReqest"), Qt::LeftButton);
        sendIgnored = m_server->requestCount() == requests;
        m_win->close();
    });
    // Should the close leave the dialog up, the test still ends, and fails.
    QTimer::singleShot(8000, this, [] {
        if (QDialog* dialog = openPageDialog())
            dialog->reject();
    });
    QElapsedTimer timer;
    timer.start();
    choose(3);
    QVERIFY2(timer.elapsed() < 6000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(sendIgnored);
    QVERIFY(!m_win->isVisible());
    QVERIFY(!openPageDialog());
}

void TestPageViews::pageRequest_data()
{
    QTest::addColumn<QByteArray>("typed"); // after the server's address
    QTest::addColumn<QByteArray>("referer");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("sent"); // the Referer the server sees; empty: none

    QTest::newRow("escapes kept, a lone % escaped")
        << QByteArray("/r?a=%E4%B8%AD&d=100%") << QByteArray()
        << QByteArray("/r?a=%E4%B8%AD&d=100%25") << QByteArray();
    QTest::newRow("Referer of another site: its origin")
        << QByteArray("/r") << QByteArray("http://other.example/list?id=7") << QByteArray("/r")
        << QByteArray("http://other.example/");
}

void TestPageViews::pageRequest()
{
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, referer);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, sent);
    m_server->route("/r", ScriptedResponse::ok("<p>r</p>", "text/html"));
    if (!referer.isEmpty())
        m_win->headerList()->append("Referer", referer);
    typeUrl(m_server->url("") + typed);
    choose(3);
    QTRY_COMPARE(m_win->panelText(2), QStringLiteral("原始网页加载完毕"));
    const RecordedRequest r = requestsFor(*m_server, "/r").value(0);
    QCOMPARE(r.target, target);
    QCOMPARE(r.header("Referer"), sent);
    QCOMPARE(r.headerCount("Referer"), sent.isEmpty() ? 0 : 1);
}

void TestPageViews::proxyCredentialChangesCountAtOnce()
{
    ProxyFixture proxy(ProxyFixture::Credentials{"user", "secret"});
    QVERIFY2(proxy.isRunning(), qPrintable(proxy.error()));
    m_win->ProxyAddress = proxy.address();
    child<QCheckBox>(m_win.get(), "chkUseProxy")->setChecked(true);
    // The engine keeps credentials a proxy accepted and sends them unasked.
    const struct
    {
        QByteArray user, password;
        bool loads;
    } steps[] = {{"user", "secret", true},
                 {"user", "wrong", false},
                 {"user", "secret", true},
                 {"", "", false}};
    int step = 0;
    for (const auto& [user, password, loads] : steps) {
        const QByteArray path = "/c" + QByteArray::number(++step);
        m_server->route(path, ScriptedResponse::ok("<p>c</p>", "text/html"));
        m_win->ProxyUserName = user;
        m_win->ProxyPassword = password;
        // 0.0.0.0: Chromium sends no loopback address through a proxy.
        typeUrl("http://0.0.0.0:" + QByteArray::number(m_server->port()) + path);
        choose(3);
        QTRY_VERIFY(m_win->panelText(2) != QStringLiteral("正在打开原始网址"));
        QCOMPARE(m_win->panelText(2).startsWith(QStringLiteral("原始网页加载完毕")), loads);
        QCOMPARE(requestsFor(*m_server, path).size(), loads ? 1 : 0);
    }
}

void TestPageViews::trustAsTheRequestViews_data()
{
    QTest::addColumn<TestCerts::ServerCert>("cert");
    QTest::addColumn<QString>("reason"); // empty: the page loads

    QTest::newRow("issued by the trusted authority") << m_certs->valid() << QString();
    QTest::newRow("issued by an authority nobody trusts")
        << m_certs->untrusted()
        << QStringLiteral("服务器证书的颁发机构不受信任（unable to get local issuer certificate）");
    QTest::newRow("expired") << m_certs->expired()
                             << QStringLiteral(
                                    "服务器证书已过期或尚未生效（certificate has expired）");
    QTest::newRow("for another host")
        << m_certs->wrongHost()
        << QStringLiteral("服务器证书与网址的主机不符（IP address mismatch）");
}

void TestPageViews::trustAsTheRequestViews()
{
    QFETCH(TestCerts::ServerCert, cert);
    QFETCH(QString, reason);
    LoopbackServer tls(LoopbackServer::TlsFiles{cert.certFile, cert.keyFile});
    tls.route("/s", ScriptedResponse::ok("<p>secure</p>", "text/html"));
    typeUrl(tls.url("/s"));
    choose(3);
    const QString shown = reason.isEmpty() ? QStringLiteral("原始网页加载完毕")
                                           : QStringLiteral("原始网页加载失败：") + reason;
    QTRY_COMPARE(m_win->panelText(2), shown);
    QCOMPARE(requestsFor(tls, "/s").size(), reason.isEmpty() ? 1 : 0);
    // Too long for its panel: the whole text is under the pointer.
    if (!reason.isEmpty())
        QCOMPARE(child<QLabel>(m_win.get(), "StatusPanel2")->toolTip(), shown);
}

void TestPageViews::undeclaredCharsetInEveryView()
{
    const QString text =
        QStringLiteral("今日はとても良い天気ですね。このウェブサイトでは最新のニュー"
                       "スや天気予報、スポーツの結果をお届けします。");
    const QString html = QStringLiteral("<html><body><p>%1</p></body></html>").arg(text);
    QStringEncoder shiftJis("Shift_JIS");
    m_server->route("/sjis", ScriptedResponse::ok(shiftJis.encode(html), "text/html"));
    typeUrl(m_server->url("/sjis"));
    choose(2); // sends first: the HTML view's text, then the offline page
    QCOMPARE(memo(), html);
    QCOMPARE(runJs(QStringLiteral("document.body.innerText")).toString(), text);
    choose(1);
    QCOMPARE(memo(), text);
}

void TestPageViews::windowKeepsItsNativeWindow()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (ctest runs this on Xvfb as tst_pageviews_xcb)");
    m_server->route("/w", ScriptedResponse::ok("<body style='background: #3366cc'>", "text/html"));
    typeUrl(m_server->url("/w"));
    const WId before = m_win->winId();
    choose(2);
    QCOMPARE(m_win->winId(), before);
    QCOMPARE(m_win->windowHandle()->surfaceType(), QSurface::RasterSurface);

    // What the screen shows at the middle of the HTML pane and of the
    // response headers pane.
    const auto colourAt = [this](const char* pane) {
        QWidget* w = child<QWidget>(m_win.get(), pane);
        const QPoint at = w->mapToGlobal(w->rect().center());
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, at.x(), at.y(), 1, 1)
            .toImage()
            .pixelColor(0, 0);
    };
    QTRY_COMPARE(colourAt("mmoHtml"), QColor(0x33, 0x66, 0xcc));
    const QColor headers =
        child<QWidget>(m_win.get(), "mmoRespHeaders")->palette().color(QPalette::Base);
    QCOMPARE(colourAt("mmoRespHeaders"), headers);
    choose(0);
    QTRY_VERIFY(colourAt("mmoHtml") != QColor(0x33, 0x66, 0xcc));
    QCOMPARE(m_win->winId(), before);
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestPageViews test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pageviews.moc"
