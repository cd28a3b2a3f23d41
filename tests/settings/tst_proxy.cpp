// The proxy: the dialog "代理服务器" opened from the real main window's menu,
// the values the window forms from it, the globe in the status bar, and
// requests sent from the window through a real tinyproxy, with and without
// Basic authentication.

#include "app/untFrmMain.h"
#include "results/LargeTextView.h"
#include "settings/SettingsStore.h"
#include "settings/untFrmProxy.h"
#include "support/LoopbackServer.h"
#include "support/ProxyFixture.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"
#include "util/ProgramResources.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QImage globe(const char* name)
{
    return QPixmap(ProgramResources::pathOf(QLatin1String(name), QStringLiteral("BITMAP")))
        .toImage();
}

const QByteArray kUser = "proxyuser";
const QByteArray kPassword = "s3cret-42";

} // namespace

class TestProxy : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void dialogLayout();
    void saveFormsProxyValues_data();
    void saveFormsProxyValues();
    void clearedServerEndsProxyAtOnce();
    void cancelWritesNothing_data();
    void cancelWritesNothing();
    void failedSaveKeepsDialogOpen();
    void globeFollowsTheTick();

    void requestThroughProxy_data();
    void requestThroughProxy();
    void dialogValuesUsedByNextRequest();

private:
    TFrmMain* open();
    // Triggers the menu item and, once the modal dialog is up, runs `act` on it.
    bool runProxyDialog(const std::function<void(TFrmProxy*)>& act);
    void fill(TFrmProxy* dialog, const QString& server, const QString& port, const QString& user,
              const QString& password);
    QString ini() const { return m_dir.filePath(QStringLiteral("reqlark.ini")); }

    std::unique_ptr<ProxyFixture> m_openProxy;
    std::unique_ptr<ProxyFixture> m_authProxy;
    std::unique_ptr<QTemporaryDir> m_tmp;
    QDir m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<TFrmMain> m_win;
};

void TestProxy::initTestCase()
{
    m_openProxy = std::make_unique<ProxyFixture>();
    m_authProxy = std::make_unique<ProxyFixture>(ProxyFixture::Credentials{kUser, kPassword});
}

void TestProxy::cleanupTestCase()
{
    m_openProxy.reset();
    m_authProxy.reset();
}

void TestProxy::init()
{
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_dir = QDir(m_tmp->path());
}

void TestProxy::cleanup()
{
    m_win.reset();
    m_tmp.reset();
}

TFrmMain* TestProxy::open()
{
    m_win.reset();
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.http.connectTimeoutMs = 3000;
    env.http.idleTimeoutMs = 3000;
    env.executablePath = m_dir.filePath(QStringLiteral("reqlark"));
    m_win = std::make_unique<TFrmMain>(env);
    m_win->show();
    if (!QTest::qWaitForWindowExposed(m_win.get()))
        qWarning("main window not exposed");
    return m_win.get();
}

bool TestProxy::runProxyDialog(const std::function<void(TFrmProxy*)>& act)
{
    bool found = false;
    int attempts = 0;
    std::function<void()> poll = [&] {
        if (auto* dialog = qobject_cast<TFrmProxy*>(QApplication::activeModalWidget())) {
            found = true;
            act(dialog);
            return;
        }
        if (++attempts < 500)
            QTimer::singleShot(10, poll);
    };
    QTimer::singleShot(0, poll);
    child<QAction>(m_win.get(), "mniProxy")->trigger();
    return found;
}

void TestProxy::fill(TFrmProxy* dialog, const QString& server, const QString& port,
                     const QString& user, const QString& password)
{
    child<QLineEdit>(dialog, "edtProxyServer")->setText(server);
    child<QLineEdit>(dialog, "edtProxyPort")->setText(port);
    child<QLineEdit>(dialog, "edtProxyUser")->setText(user);
    child<QLineEdit>(dialog, "edtProxyPwd")->setText(password);
}

void TestProxy::dialogLayout()
{
    TFrmProxy dialog(ini(), [](const std::function<void()>& f) { f(); });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("代理服务器"));
    QCOMPARE(dialog.size(), QSize(415, 331));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize()); // fixed border
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(
        !(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(dialog.font().family(), QStringLiteral("微软雅黑"));
    QCOMPARE(dialog.font().pointSize(), 10);

    const struct
    {
        const char* name;
        QString text;
        QPoint at;
    } labels[] = {
        {"lbl1", QStringLiteral("只支持http代理"), {112, 2}},
        {"lblProxyServer", QStringLiteral("服务器"), {22, 33}},
        {"lblProxyPort", QStringLiteral("端口"), {22, 75}},
        {"lblProxylUser", QStringLiteral("用户名"), {22, 117}},
        {"lblProxyPwd", QStringLiteral("密码"), {22, 159}},
        {"lblTips", QStringLiteral("代理用户名和密码功能未经测试，不知道是否有用"), {32, 210}},
    };
    for (const auto& l : labels) {
        auto* label = child<QLabel>(&dialog, l.name);
        QCOMPARE(label->text(), l.text);
        QCOMPARE(label->pos(), l.at);
    }
    auto* lbl1 = child<QLabel>(&dialog, "lbl1");
    QCOMPARE(lbl1->palette().color(lbl1->foregroundRole()), QColor(0, 0, 255));

    const QString hint = QStringLiteral("用户名和密码为可选项，如无密码请留空");
    const struct
    {
        const char* name;
        QRect place;
        QString toolTip;
    } edits[] = {
        {"edtProxyServer", {96, 29, 185, 27}, QString()},
        {"edtProxyPort", {96, 71, 185, 27}, QString()},
        {"edtProxyUser", {96, 113, 185, 27}, hint},
        {"edtProxyPwd", {96, 155, 185, 27}, hint},
    };
    for (const auto& e : edits) {
        auto* edit = child<QLineEdit>(&dialog, e.name);
        QCOMPARE(edit->geometry(), e.place);
        QCOMPARE(edit->toolTip(), e.toolTip);
    }
    auto* pwd = child<QLineEdit>(&dialog, "edtProxyPwd");
    QCOMPARE(pwd->echoMode(), QLineEdit::Password);
    QCOMPARE(pwd->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, pwd),
             int('*'));
    QCOMPARE(child<QPushButton>(&dialog, "btnSave")->geometry(), QRect(64, 258, 105, 41));
    QCOMPARE(child<QPushButton>(&dialog, "btnSave")->text(), QStringLiteral("保存"));
    QCOMPARE(child<QPushButton>(&dialog, "btnCancel")->geometry(), QRect(240, 258, 105, 41));
    QCOMPARE(child<QPushButton>(&dialog, "btnCancel")->text(), QStringLiteral("取消"));

    // Tab runs server, port, "保存", "取消", user name, password.
    QStringList order;
    QWidget* w = child<QLineEdit>(&dialog, "edtProxyServer");
    for (int i = 0; i < 6; ++i) {
        order << w->objectName();
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus));
    }
    QCOMPARE(order, (QStringList{QStringLiteral("edtProxyServer"), QStringLiteral("edtProxyPort"),
                                 QStringLiteral("btnSave"), QStringLiteral("btnCancel"),
                                 QStringLiteral("edtProxyUser"), QStringLiteral("edtProxyPwd")}));
}

void TestProxy::saveFormsProxyValues_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("empty port is 80") << "10.0.0.1"
                                      << ""
                                      << ""
                                      << "" << QByteArray("10.0.0.1:80");
    QTest::newRow("server and port") << "192.168.0.8"
                                     << "8080"
                                     << "alice"
                                     << "p@ss word" << QByteArray("192.168.0.8:8080");
    QTest::newRow("nothing trimmed") << " h "
                                     << " 81 "
                                     << " u "
                                     << " p " << QByteArray(" h : 81 ");
    QTest::newRow("no server, no address") << ""
                                           << "8080"
                                           << "u"
                                           << "p" << QByteArray();
    QTest::newRow("chinese password")
        << "h"
        << "1" << QString::fromUtf8("用户") << QString::fromUtf8("密码") << QByteArray("h:1");
}

void TestProxy::saveFormsProxyValues()
{
    QFETCH(QString, server);
    QFETCH(QString, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, address);
    TFrmMain* w = open();
    QVERIFY(runProxyDialog([&](TFrmProxy* d) {
        fill(d, server, port, user, password);
        QTest::mouseClick(child<QPushButton>(d, "btnSave"), Qt::LeftButton);
    }));
    QVERIFY(m_prompter.errors.isEmpty());
    QCOMPARE(w->ProxyAddress, address);
    QCOMPARE(w->ProxyUserName, AnsiCodec::fromUnicode(user));
    QCOMPARE(w->ProxyPassword, AnsiCodec::fromUnicode(password));
    // The dialog never touches the tick.
    QVERIFY(!child<QCheckBox>(w, "chkUseProxy")->isChecked());

    // Stored in plain text and read again at the next start.
    QVERIFY(readAll(ini()).contains("ProxyPwd="));
    m_win->close();
    w = open();
    QCOMPARE(w->ProxyAddress, address);
    QCOMPARE(w->ProxyPassword, AnsiCodec::fromUnicode(password));
    QStringList seen;
    QVERIFY(runProxyDialog([&](TFrmProxy* d) {
        for (const char* name : {"edtProxyServer", "edtProxyPort", "edtProxyUser", "edtProxyPwd"})
            seen << child<QLineEdit>(d, name)->text();
        QTest::mouseClick(child<QPushButton>(d, "btnCancel"), Qt::LeftButton);
    }));
    QCOMPARE(seen, (QStringList{server, port, user, password}));
}

void TestProxy::clearedServerEndsProxyAtOnce()
{
    writeAll(ini(), "[Options]\r\nProxyServer=10.0.0.1\r\nProxyPort=8080\r\n");
    TFrmMain* w = open();
    QCOMPARE(w->ProxyAddress, QByteArray("10.0.0.1:8080"));
    QVERIFY(runProxyDialog([&](TFrmProxy* d) {
        child<QLineEdit>(d, "edtProxyServer")->clear();
        QTest::mouseClick(child<QPushButton>(d, "btnSave"), Qt::LeftButton);
    }));
    QVERIFY(w->ProxyAddress.isEmpty());
}

void TestProxy::cancelWritesNothing_data()
{
    QTest::addColumn<QByteArray>("how");
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("取消, no file") << QByteArray("cancel") << false;
    QTest::newRow("取消, file") << QByteArray("cancel") << true;
    QTest::newRow("close box") << QByteArray("close") << true;
    QTest::newRow("Escape") << QByteArray("escape") << true;
}

void TestProxy::cancelWritesNothing()
{
    QFETCH(QByteArray, how);
    QFETCH(bool, fileExists);
    const QByteArray before = "[Options]\r\nProxyServer=old\r\nProxyPort=1\r\n";
    if (fileExists)
        writeAll(ini(), before);
    TFrmMain* w = open();
    const QByteArray address = w->ProxyAddress;
    bool closed = false;
    QVERIFY(runProxyDialog([&](TFrmProxy* d) {
        fill(d, QStringLiteral("new"), QStringLiteral("2"), QStringLiteral("u"),
             QStringLiteral("p"));
        if (how == "cancel")
            QTest::mouseClick(child<QPushButton>(d, "btnCancel"), Qt::LeftButton);
        else if (how == "close")
            d->close();
        else
            QTest::keyClick(child<QLineEdit>(d, "edtProxyPort"), Qt::Key_Escape);
        closed = !d->isVisible();
    }));
    QVERIFY(closed);
    QCOMPARE(QFile::exists(ini()), fileExists);
    if (fileExists)
        QCOMPARE(readAll(ini()), before);
    QCOMPARE(w->ProxyAddress, address);
    QVERIFY(w->ProxyUserName.isEmpty());
}

void TestProxy::failedSaveKeepsDialogOpen()
{
    // The executable's folder sits inside a plain file: nothing can be
    // written there, whoever runs the test.
    writeAll(m_dir.filePath(QStringLiteral("plainfile")), "x");
    m_dir = QDir(m_dir.filePath(QStringLiteral("plainfile/bin")));
    open();
    bool stillOpen = false;
    QVERIFY(runProxyDialog([&](TFrmProxy* d) {
        fill(d, QStringLiteral("h"), QStringLiteral("1"), QString(), QString());
        QTest::mouseClick(child<QPushButton>(d, "btnSave"), Qt::LeftButton);
        stillOpen = d->isVisible();
        d->reject();
    }));
    QVERIFY(stillOpen);
    QCOMPARE(m_prompter.errors,
             QStringList{QStringLiteral("Unable to write to ") + ini() + QLatin1Char('.')});
}

void TestProxy::globeFollowsTheTick()
{
    TFrmMain* w = open();
    auto* box = child<QCheckBox>(w, "chkUseProxy");
    QCOMPARE(w->imgStaBar->pixmap().toImage(), globe("BMP_EARTHGY"));
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QCOMPARE(w->imgStaBar->pixmap().toImage(), globe("BMP_EARTHGN"));
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QCOMPARE(w->imgStaBar->pixmap().toImage(), globe("BMP_EARTHGY"));
}

void TestProxy::requestThroughProxy_data()
{
    QTest::addColumn<int>("component"); // 0 ServerXMLHTTP, 1 XMLHTTP, 2 WinHTTP
    QTest::addColumn<bool>("authProxy");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("serverStored");
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<int>("status");

    const QByteArray none;
    QTest::newRow("ServerXMLHTTP") << 0 << false << none << none << true << true << true << 200;
    QTest::newRow("WinHTTP") << 2 << false << none << none << true << true << true << 200;
    QTest::newRow("XMLHTTP never") << 1 << false << none << none << true << true << false << 200;
    QTest::newRow("unticked") << 0 << false << none << none << false << true << false << 200;
    QTest::newRow("ticked, no server")
        << 0 << false << none << none << true << false << false << 200;
    QTest::newRow("ServerXMLHTTP, Basic")
        << 0 << true << kUser << kPassword << true << true << true << 200;
    // tinyproxy answers 401, not 407, to credentials it does not accept.
    QTest::newRow("ServerXMLHTTP, wrong password")
        << 0 << true << kUser << QByteArray("nope") << true << true << true << 401;
    QTest::newRow("ServerXMLHTTP, password alone")
        << 0 << true << none << kPassword << true << true << true << 407;
    QTest::newRow("WinHTTP gives no credentials")
        << 2 << true << kUser << kPassword << true << true << true << 407;
    QTest::newRow("XMLHTTP, Basic proxy not used")
        << 1 << true << kUser << kPassword << true << true << false << 200;
}

void TestProxy::requestThroughProxy()
{
    QFETCH(int, component);
    QFETCH(bool, authProxy);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(bool, ticked);
    QFETCH(bool, serverStored);
    QFETCH(bool, viaProxy);
    QFETCH(int, status);

    ProxyFixture& proxy = authProxy ? *m_authProxy : *m_openProxy;
    QVERIFY2(proxy.isRunning(), qPrintable(proxy.error()));
    LoopbackServer server;
    server.setHandler(
        [](const RecordedRequest& r) { return ScriptedResponse::ok("got " + r.path()); });
    const QByteArray url = server.url("/via");

    QByteArray file = "[History]\r\nURL=" + url +
                      "\r\nHttpComponent=" + QByteArray::number(component) +
                      "\r\n[Options]\r\nUseProxy=" + (ticked ? "True" : "False") +
                      "\r\nProxyPort=" + QByteArray::number(proxy.port()) +
                      "\r\nProxyUser=" + user + "\r\nProxyPwd=" + password + "\r\n";
    if (serverStored)
        file += "ProxyServer=127.0.0.1\r\n";
    writeAll(ini(), file);

    TFrmMain* w = open();
    const int before = proxy.requestCount();
    QTest::mouseClick(child<QPushButton>(w, "btnSendReqest"), Qt::LeftButton);
    QVERIFY2(m_prompter.errors.isEmpty(), qPrintable(m_prompter.errors.join(QLatin1Char('\n'))));

    const QList<QByteArray> lines = proxy.requestLines().mid(before);
    if (viaProxy)
        QVERIFY2(lines.contains("GET " + url + " HTTP/1.1"), lines.join('\n').constData());
    else
        QVERIFY2(lines.isEmpty(), lines.join('\n').constData());
    QVERIFY2(w->panelText(3).startsWith(QString::number(status) + QLatin1Char(' ')),
             qPrintable(w->panelText(3)));
    if (status == 200) {
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(server.lastRequest().header("Via").contains("tinyproxy"), viaProxy);
        QCOMPARE(child<LargeTextView>(w, "mmoHtml")->text(),
                 QString::fromLatin1("got " + server.lastRequest().path()));
    } else {
        QCOMPARE(server.requestCount(), 0);
    }
}

void TestProxy::dialogValuesUsedByNextRequest()
{
    QVERIFY2(m_authProxy->isRunning(), qPrintable(m_authProxy->error()));
    LoopbackServer server;
    server.setHandler([](const RecordedRequest&) { return ScriptedResponse::ok("fine"); });
    TFrmMain* w = open();
    child<QLineEdit>(w, "edtUrl")->setText(QString::fromLatin1(server.url("/x")));
    QTest::mouseClick(child<QCheckBox>(w, "chkUseProxy"), Qt::LeftButton);

    // Values are read at each request: first without credentials, then with.
    QVERIFY(runProxyDialog([&](TFrmProxy* d) {
        fill(d, QStringLiteral("127.0.0.1"), QString::number(m_authProxy->port()), QString(),
             QString());
        QTest::mouseClick(child<QPushButton>(d, "btnSave"), Qt::LeftButton);
    }));
    QTest::mouseClick(child<QPushButton>(w, "btnSendReqest"), Qt::LeftButton);
    QVERIFY2(w->panelText(3).startsWith(QStringLiteral("407")), qPrintable(w->panelText(3)));
    QCOMPARE(server.requestCount(), 0);

    QVERIFY(runProxyDialog([&](TFrmProxy* d) {
        child<QLineEdit>(d, "edtProxyUser")->setText(QString::fromLatin1(kUser));
        child<QLineEdit>(d, "edtProxyPwd")->setText(QString::fromLatin1(kPassword));
        QTest::mouseClick(child<QPushButton>(d, "btnSave"), Qt::LeftButton);
    }));
    QTest::mouseClick(child<QPushButton>(w, "btnSendReqest"), Qt::LeftButton);
    QCOMPARE(w->panelText(3), QStringLiteral("200 OK"));
    QCOMPARE(server.requestCount(), 1);
    QVERIFY(server.lastRequest().header("Via").contains("tinyproxy"));
}

QTEST_MAIN(TestProxy)
#include "tst_proxy.moc"
