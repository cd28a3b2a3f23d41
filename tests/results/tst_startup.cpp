// Start-up does only what the first paint needs: the browser engine, OpenGL,
// libcurl and OpenSSL come with the first use that needs them, and a module
// that cannot be used is reported while the rest keeps working. Offscreen and
// on an X server (xcb).

#include "app/Startup.h"
#include "app/untFrmMain.h"
#include "request/HttpModule.h"
#include "results/BrowserModule.h"
#include "results/LargeTextView.h"
#include "results/WebBrowser.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Paths of the shared objects mapped into a process whose file names match.
QStringList mapped(const QRegularExpression& name, const QString& process = QStringLiteral("self"))
{
    QStringList found;
    for (const QByteArray& line :
         readAll(QStringLiteral("/proc/%1/maps").arg(process)).split('\n')) {
        const QString path = QString::fromLocal8Bit(line.mid(qMax(0, line.indexOf('/'))));
        if (path.startsWith(QLatin1Char('/')) && !found.contains(path) &&
            name.match(QFileInfo(path).fileName()).hasMatch())
            found.append(path);
    }
    return found;
}

const QRegularExpression kWidgets(QStringLiteral("^libQt6Widgets\\.so"));
// The engine, and the parts of Qt it brings (Qt Quick, QML, Qt's OpenGL).
const QRegularExpression kEngine(QStringLiteral("^libQt6(WebEngine|Quick|Qml|OpenGL)"));
// An OpenGL implementation: the vendor libraries behind the dispatchers,
// Mesa's drivers and their compiler, Qt's GL integration plugins. The
// dispatchers themselves (libGLX, libOpenGL, libEGL, libGLdispatch) are
// linked by Qt GUI and mapped by every Qt program; they cost next to nothing.
const QRegularExpression kOpenGL(QStringLiteral(
    "^lib(GLX_|EGL_|gbm|glapi|vulkan|LLVM)|_dri\\.so|-(glx|egl)-integration|^libGL\\.so"));

// libcurl and the libraries only it brings, OpenSSL among them.
const QRegularExpression kHttp(
    QStringLiteral("^lib(curl|ssl|crypto|nghttp2|ssh2|rtmp|psl|ldap|lber|gnutls)(-[0-9.]+)?\\.so"));
// The same without OpenSSL, which this test's own HTTPS server links.
const QRegularExpression
    kCurl(QStringLiteral("^lib(curl|nghttp2|ssh2|rtmp|psl|ldap|lber|gnutls)(-[0-9.]+)?\\.so"));

// User and system CPU time of a process, in clock ticks; -1 when it is gone.
long long cpuTicks(qint64 pid)
{
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return stat.isEmpty() ? -1 : fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void iconFollowsTheFirstPaint();
    void startedProgramMapsNoEngineNorOpenGL();
    // Before any other send or page view of this process: a module, once
    // loaded, stays.
    void unusableModuleIsReported_data();
    void unusableModuleIsReported();
    void moduleOfBuildAndInstalledCopyIsFound();
    void firstPageViewLoadsTheModule();

private:
    void choose(int view);
    void typeUrl(const QByteArray& url);
    void send() { QTest::mouseClick(child<QWidget>(m_win.get(), "btnSendReqest"), Qt::LeftButton); }
    QString memo() const { return child<LargeTextView>(m_win.get(), "mmoHtml")->text(); }

    QString m_module;     // the browser module of this build
    QString m_httpModule; // the HTTP module of this build
    ScriptedPrompter m_prompter;
    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<TFrmMain> m_win;
};

void TestStartup::initTestCase()
{
    // The build's modules come in the variables the program reads; each case
    // sets them as it needs.
    m_module = qEnvironmentVariable(BrowserModule::kPathVariable);
    QVERIFY2(QFileInfo(m_module).isFile(), qPrintable(m_module));
    m_httpModule = qEnvironmentVariable(HttpModule::kPathVariable);
    QVERIFY2(QFileInfo(m_httpModule).isFile(), qPrintable(m_httpModule));
}

void TestStartup::init()
{
    qunsetenv(BrowserModule::kPathVariable);
    qputenv(HttpModule::kPathVariable, QFile::encodeName(m_httpModule));
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<LoopbackServer>();
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.executablePath = QDir(m_tmp->path()).filePath(QStringLiteral("reqlark"));
    m_win = std::make_unique<TFrmMain>(env);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win.get()));
}

void TestStartup::cleanup()
{
    m_win.reset();
    m_server.reset();
    m_tmp.reset();
}

void TestStartup::choose(int view)
{
    auto* views = child<QComboBox>(m_win.get(), "cbbResultType");
    views->setCurrentIndex(view);
    emit views->activated(view);
}

void TestStartup::typeUrl(const QByteArray& url)
{
    child<QLineEdit>(m_win.get(), "edtUrl")->setText(AnsiCodec::toUnicode(url));
}

void TestStartup::iconFollowsTheFirstPaint()
{
    QWidget window;
    window.resize(300, 200);
    QVERIFY(QApplication::windowIcon().isNull());
    Startup::showMainWindow(window);
    QVERIFY(QApplication::windowIcon().isNull());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(!QApplication::windowIcon().isNull());
    QVERIFY(QApplication::windowIcon().availableSizes().contains(QSize(128, 128)));
}

void TestStartup::startedProgramMapsNoEngineNorOpenGL()
{
    // The program itself, started as a user starts it, on this platform: a
    // portable copy of its own, so that no other test's copy holds its folder.
    const QString exe = QDir(m_tmp->path()).filePath(QStringLiteral("started/reqlark"));
    QVERIFY(QDir().mkpath(QFileInfo(exe).path()));
    QVERIFY(QFile::exists(exe) || QFile::copy(QStringLiteral(REQLARK_BUILD_DIR "/reqlark"), exe));
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(exe, {});
    QVERIFY(program.waitForStarted(10000));
    const QString pid = QString::number(program.processId());
    const QRegularExpression platform(QStringLiteral("^libq(xcb|offscreen)\\.so"));
    // Up once its platform plugin is loaded and it has used no CPU for half
    // a second: it then waits in its event loop with the window shown.
    int calm = 0;
    long long ticks = -1;
    for (int wait = 0; wait < 300 && calm < 5; ++wait) {
        QTest::qWait(100);
        const long long now = cpuTicks(program.processId());
        QVERIFY2(now >= 0, "the program ended before its window was up");
        calm = now == ticks && !mapped(platform, pid).isEmpty() ? calm + 1 : 0;
        ticks = now;
    }
    const QStringList loaded = mapped(kEngine, pid) + mapped(kOpenGL, pid) + mapped(kHttp, pid);
    QCOMPARE(mapped(kWidgets, pid).size(), 1); // the map is read at all
    program.kill();
    program.waitForFinished(10000);
    QCOMPARE(calm, 5);
    QCOMPARE(loaded, QStringList());
}

void TestStartup::unusableModuleIsReported_data()
{
    QTest::addColumn<bool>("http"); // the HTTP module, else the browser's
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("reason");
    const QString libz = mapped(QRegularExpression(QStringLiteral("^libz\\.so"))).value(0);
    // The HTTP rows first: the browser rows send.
    for (const bool http : {true, false}) {
        const char* kind = http ? "HTTP" : "browser";
        QTest::addRow("%s, missing", kind)
            << http << QStringLiteral("missing/module.so") << QStringLiteral("找不到它的模块");
        QTest::addRow("%s, not a library", kind)
            << http << QStringLiteral("text.so")
            << QStringLiteral("无法加载它的模块 .*（.*invalid ELF header");
        // A library of the system without the entry point.
        QTest::addRow("%s, another library", kind)
            << http << libz
            << (http ? QStringLiteral("不是本程序的HTTP 模块（.*reqlarkHttpComponents")
                     : QStringLiteral("不是本程序的浏览器模块（.*reqlarkBrowserEngine"));
    }
}

void TestStartup::unusableModuleIsReported()
{
    QFETCH(bool, http);
    QFETCH(QString, module);
    QFETCH(QString, reason);
    const QString path = QDir(m_tmp->path()).filePath(module);
    writeAll(QDir(m_tmp->path()).filePath(QStringLiteral("text.so")),
             QByteArray("not a module\n").repeated(20));
    qputenv(http ? HttpModule::kPathVariable : BrowserModule::kPathVariable,
            QFile::encodeName(path));

    m_server->route("/u", ScriptedResponse::ok("<p>u</p>"));
    typeUrl(m_server->url("/u"));
    using Uses = QList<std::function<void()>>;
    // The text view sends when no response is held.
    const Uses uses =
        http ? Uses{[this] { send(); }, [this] { choose(1); }}
             : Uses{
                   [this] { choose(2); },
                   [this] { choose(3); },
                   [this] { child<QAction>(m_win.get(), "mniDelCurrCookie")->trigger(); },
                   [this] { child<QAction>(m_win.get(), "mniClearIECookies")->trigger(); },
               };
    const QString failure =
        http ? QStringLiteral("无法发送请求：") : QStringLiteral("无法启动浏览器：");
    const QRegularExpression expected(reason);
    for (const auto& use : uses) {
        m_prompter.errors.clear();
        use();
        QCOMPARE(m_prompter.errors.size(), 1);
        const QString error = m_prompter.errors.first();
        QVERIFY2(error.startsWith(failure) && error.contains(path) &&
                     expected.match(error).hasMatch(),
                 qPrintable(error));
        QVERIFY(!m_win->existingBrowser());
        QVERIFY(m_prompter.messages.isEmpty());
    }
    QVERIFY(!BrowserModule::loadedEngine());
    QCOMPARE(mapped(kEngine), QStringList());
    if (http) {
        QCOMPARE(m_server->requestCount(), 0);
        QCOMPARE(memo(), QString());
        QVERIFY(!HttpModule::loadedFactory());
        QCOMPARE(mapped(kCurl), QStringList());
        return;
    }

    // Everything else works: the offline page's send came through the
    // build's HTTP module, and the text views show the response.
    QVERIFY(HttpModule::loadedFactory());
    QCOMPARE(mapped(QRegularExpression(QStringLiteral("^libreqlark_http\\.so$"))),
             QStringList{QFileInfo(m_httpModule).canonicalFilePath()});
    QVERIFY(!mapped(QRegularExpression(QStringLiteral("^libcurl\\.so"))).isEmpty());
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(memo(), QStringLiteral("<p>u</p>"));
    choose(1);
    QCOMPARE(memo(), QStringLiteral("u"));
    QVERIFY(!m_win->panelText(2).contains(QStringLiteral("离线网页")));
    send();
    QCOMPARE(m_server->requestCount(), 2);
    QCOMPARE(m_prompter.errors.size(), 1);
}

void TestStartup::moduleOfBuildAndInstalledCopyIsFound()
{
    // A build puts the module beside the program, where it is looked for first.
    const QString program = QFileInfo(m_module).dir().filePath(QStringLiteral("reqlark"));
    QCOMPARE(BrowserModule::candidates(program).first(), m_module);

    // An installed copy finds it in its library folder, reached from bin/.
    QTemporaryDir scratch;
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(REQLARK_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(REQLARK_BUILD_DIR),
                   QStringLiteral("--prefix"), scratch.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    const QStringList tried = BrowserModule::candidates(scratch.filePath(QStringLiteral("bin/x")));
    QCOMPARE(tried.size(), 2);
    QVERIFY(!QFileInfo::exists(tried[0]));
    QVERIFY2(tried[1].startsWith(scratch.filePath(QStringLiteral("lib/"))), qPrintable(tried[1]));
    QCOMPARE(QFileInfo(tried[1]).size(), QFileInfo(m_module).size());
    // The HTTP module beside it, and the build's beside the program too.
    qunsetenv(HttpModule::kPathVariable);
    const QStringList http = HttpModule::candidates(scratch.filePath(QStringLiteral("bin/x")));
    QCOMPARE(http.size(), 2);
    QCOMPARE(QFileInfo(http[1]).dir(), QFileInfo(tried[1]).dir());
    QCOMPARE(QFileInfo(http[1]).size(), QFileInfo(m_httpModule).size());
    QCOMPARE(HttpModule::candidates(program).first(), m_httpModule);

    // A path given in the environment is the only one tried.
    qputenv(BrowserModule::kPathVariable, "/elsewhere/x.so");
    QCOMPARE(BrowserModule::candidates(program), QStringList{QStringLiteral("/elsewhere/x.so")});
}

void TestStartup::firstPageViewLoadsTheModule()
{
    qputenv(BrowserModule::kPathVariable, QFile::encodeName(m_module));
    m_server->route("/page", ScriptedResponse::ok("<html><body><h1>第一页</h1></body></html>",
                                                  "text/html; charset=utf-8"));
    typeUrl(m_server->url("/page"));
    choose(2);
    QCOMPARE(m_prompter.errors, QStringList());
    WebBrowser* wb = m_win->existingBrowser();
    QVERIFY(wb && wb->widget()->isVisible());
    QCOMPARE(m_win->panelText(2), QStringLiteral("离线网页加载完毕"));

    QString text;
    wb->runJavaScript(QStringLiteral("document.body.innerText"),
                      [&](const QVariant& v) { text = v.toString(); });
    QTRY_COMPARE_WITH_TIMEOUT(text, QStringLiteral("第一页"), 30000);

    // The map read above sees what the module brought.
    QVERIFY(!mapped(kEngine).isEmpty());
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        QVERIFY(!mapped(kOpenGL).isEmpty());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
