// Start-up of the main window against a bare Qt Widgets window showing one
// line of Chinese text (bench_startup_bare, a program that links Qt Widgets
// only), each started afresh as a process of its own, alternately, in the
// same run: the moments from spawn to the first paint on screen, and the
// resident memory once idle. Then the first page view ("离线网页") of a
// started window, apart: its time and the memory with the engine loaded.
// On the offscreen platform and on an X server (xcb): the one of DISPLAY, or
// an Xvfb the benchmark starts when there is none and Xvfb is installed.
//
//   bench_startup [runs]       (default 9; page views: 5)

#include "StartupProbe.h"
#include "app/Startup.h"
#include "app/untFrmMain.h"
#include "results/BrowserModule.h"
#include "util/AnsiCodec.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A news-list page of about `bytes`, as portals serve, in code page 936.
QByteArray chinesePage(int bytes)
{
    static const char* const words[] = {"新闻", "中国", "经济", "发展", "科技", "网络", "市场",
                                        "国际", "体育", "文化", "教育", "健康", "政策", "数据"};
    QString html =
        QStringLiteral("<!DOCTYPE html><html><head><title>新闻中心</title></head><body>");
    quint32 seed = 12345;
    for (int item = 1; html.size() * 2 < bytes; ++item) {
        html += QStringLiteral("<div><a href=\"/news/%1.html\">").arg(item);
        for (int w = 0; w < 20; ++w) {
            seed = seed * 1103515245 + 12345;
            html += QString::fromUtf8(words[(seed >> 16) % 14]);
        }
        html += QStringLiteral("</a><span>2026-12-08</span></div>\n");
    }
    html += QStringLiteral("</body></html>");
    return AnsiCodec::fromUnicode(html);
}

// Marks the moment the browser is first shown over the memo, with the page
// written into it.
class BrowserShown : public QObject
{
public:
    explicit BrowserShown(QWidget* panel) { panel->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ChildAdded) {
            QObject* added = static_cast<QChildEvent*>(event)->child();
            if (added->isWidgetType())
                added->installEventFilter(this);
        } else if (event->type() == QEvent::Show && !m_seen &&
                   watched->objectName() == QLatin1String("wb1")) {
            m_seen = true;
            StartupProbe::mark("page_shown");
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

// The main window started as app/main.cpp starts it; with `pageView` the
// offline page of a held response is chosen once the window has painted.
int mainWindowChild(int argc, char* argv[], bool pageView)
{
    StartupProbe::mark("main");
    Startup::prepareBrowserEngine();
    Startup::tuneAllocator();
    QApplication app(argc, argv);
    Startup::configureApplication();
    StartupProbe::mark("application");

    // Settings beside a throwaway executable path, so no real file is read
    // or written.
    QTemporaryDir dir;
    TFrmMain::Environment env;
    env.executablePath = dir.filePath(QStringLiteral("reqlark"));
    TFrmMain window(env);
    StartupProbe::mark("window");

    BrowserShown shown(window.findChild<QWidget*>(QStringLiteral("pnlBot")));
    StartupProbe::FirstPaint painted(&window, [&] {
        if (!pageView) {
            StartupProbe::reportIdleMemoryAndQuit(500);
            return;
        }
        QTimer::singleShot(0, &window, [&] {
            window.LastResponseText = chinesePage(200 * 1024);
            window.findChild<QLineEdit*>(QStringLiteral("edtUrl"))
                ->setText(QStringLiteral("http://127.0.0.1:9/page"));
            auto* views = window.findChild<QComboBox*>(QStringLiteral("cbbResultType"));
            StartupProbe::mark("page_chosen");
            views->setCurrentIndex(2);
            emit views->activated(2); // returns after the cookie clearing's one-second pause
            StartupProbe::reportIdleMemoryAndQuit(1000);
        });
    });
    Startup::showMainWindow(window);
    StartupProbe::mark("shown");
    return app.exec();
}

struct Run
{
    QMap<QByteArray, double> ms;    // stage -> milliseconds from spawn
    QMap<QByteArray, double> cpuMs; // stage -> CPU milliseconds used by then
    double ownMb = 0;
    double treeMb = 0;
};

Run startOnce(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardErrorFile(QProcess::nullDevice());
    const long long spawn = StartupProbe::monotonicNs();
    p.start(program, args);
    Run run;
    bool done = false;
    while (!done && p.waitForReadyRead(60000)) {
        while (p.canReadLine()) {
            const QList<QByteArray> f = p.readLine().trimmed().split(' ');
            if (f.value(0) == "stage") {
                run.ms[f.value(1)] = (f.value(2).toLongLong() - spawn) / 1e6;
                run.cpuMs[f.value(1)] = f.value(3).toLongLong() / 1e3;
            }
            if (f.value(0) == "rss") {
                run.ownMb = f.value(1).toLong() / 1024.0;
                run.treeMb = f.value(2).toLong() / 1024.0;
                done = true;
            }
        }
    }
    if (!done || !p.waitForFinished(30000)) {
        std::fprintf(stderr, "%s %s did not report and exit\n", qPrintable(program),
                     qPrintable(args.join(QLatin1Char(' '))));
        p.kill();
        p.waitForFinished();
        std::exit(1);
    }
    return run;
}

struct Figure
{
    double median, low, high;
};

Figure figure(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

Figure stage(const std::vector<Run>& runs, const char* name, bool cpu = false)
{
    std::vector<double> v;
    for (const Run& r : runs)
        v.push_back(cpu ? r.cpuMs.value(name) : r.ms.value(name));
    return figure(v);
}

void printRow(const char* label, const Figure& bare, const Figure& main, const char* unit)
{
    std::printf("  %-28s %7.1f %-2s [%5.1f-%5.1f]   %7.1f %-2s [%5.1f-%5.1f]\n", label, bare.median,
                unit, bare.low, bare.high, main.median, unit, main.low, main.high);
}

void measure(const QString& platform, const QProcessEnvironment& env, int runs, int pageRuns)
{
    const QString dir = QCoreApplication::applicationDirPath();
    const QString bare = dir + QStringLiteral("/bench_startup_bare");
    const QString self = QCoreApplication::applicationFilePath();
    // Warms the file cache for both.
    startOnce(bare, {}, env);
    startOnce(self, {QStringLiteral("--main")}, env);

    std::vector<Run> bareRuns, mainRuns, pageRunsDone;
    for (int i = 0; i < runs; ++i) {
        bareRuns.push_back(startOnce(bare, {}, env));
        mainRuns.push_back(startOnce(self, {QStringLiteral("--main")}, env));
    }
    for (int i = 0; i < pageRuns; ++i)
        pageRunsDone.push_back(startOnce(self, {QStringLiteral("--page")}, env));

    std::printf("\n== %s: median of %d fresh processes each [lowest-highest]\n",
                qPrintable(platform), runs);
    std::printf("  %-28s %-24s   %s\n", "ms from spawn", "bare window", "main window");
    printRow("main() entered", stage(bareRuns, "main"), stage(mainRuns, "main"), "ms");
    printRow("application object made", stage(bareRuns, "application"),
             stage(mainRuns, "application"), "ms");
    printRow("window built", stage(bareRuns, "window"), stage(mainRuns, "window"), "ms");
    printRow("window shown", stage(bareRuns, "shown"), stage(mainRuns, "shown"), "ms");
    const Figure bareTime = stage(bareRuns, "painted"), mainTime = stage(mainRuns, "painted");
    printRow("first paint on screen", bareTime, mainTime, "ms");
    const Figure bareCpu = stage(bareRuns, "painted", true),
                 mainCpu = stage(mainRuns, "painted", true);
    printRow("CPU time used by then", bareCpu, mainCpu, "ms");
    std::vector<double> bareMem, mainMem;
    for (const Run& r : bareRuns)
        bareMem.push_back(r.ownMb);
    for (const Run& r : mainRuns)
        mainMem.push_back(r.ownMb);
    const Figure bareRss = figure(bareMem), mainRss = figure(mainMem);
    printRow("resident memory once idle", bareRss, mainRss, "MB");
    std::printf("  time   %.2fx the bare window (target <= 1.5x); CPU time %.2fx\n",
                mainTime.median / bareTime.median, mainCpu.median / bareCpu.median);
    std::printf("  memory %.2fx the bare window (target <= 2x)\n", mainRss.median / bareRss.median);

    if (pageRunsDone.empty())
        return;
    std::vector<double> pageMs, pageOwn, pageTree;
    for (const Run& r : pageRunsDone) {
        pageMs.push_back(r.ms.value("page_shown") - r.ms.value("page_chosen"));
        pageOwn.push_back(r.ownMb);
        pageTree.push_back(r.treeMb);
    }
    const Figure t = figure(pageMs), own = figure(pageOwn), tree = figure(pageTree);
    std::printf(
        "  first page view (\"离线网页\" of a 200 KB page, median of %zu started windows):\n",
        pageRunsDone.size());
    std::printf("    chosen to shown with the page written: %.0f ms [%.0f-%.0f]"
                " (the one-second cookie pause after it not counted)\n",
                t.median, t.low, t.high);
    std::printf("    resident once idle: %.1f MB [%.1f-%.1f] in the process, %.1f MB [%.1f-%.1f]"
                " with the engine's helper processes\n",
                own.median, own.low, own.high, tree.median, tree.low, tree.high);
}

// An X server for the xcb measurements: DISPLAY's, or an Xvfb of our own.
QString xDisplay(QProcess& xvfb)
{
    const QString display = qEnvironmentVariable("DISPLAY");
    if (!display.isEmpty())
        return display;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (program.isEmpty())
        return QString();
    for (int n = 90; n < 200; ++n) {
        if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
            QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            continue;
        xvfb.start(program, {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                             QStringLiteral("0"), QStringLiteral("1920x1080x24"),
                             QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        for (int wait = 0; wait < 100; ++wait) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                return QStringLiteral(":%1").arg(n);
            if (xvfb.waitForFinished(50))
                break;
        }
        xvfb.kill();
        xvfb.waitForFinished();
    }
    return QString();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--main") == 0)
        return mainWindowChild(argc, argv, false);
    if (argc > 1 && std::strcmp(argv[1], "--page") == 0)
        return mainWindowChild(argc, argv, true);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
    const int pageRuns = 5;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QString::fromLatin1(BrowserModule::kPathVariable))) {
        env.insert(QString::fromLatin1(BrowserModule::kPathVariable),
                   QStringLiteral(REQLARK_BROWSER_MODULE_PATH));
    }
    if (geteuid() == 0)
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    std::printf("start-up: main window against a bare Qt Widgets window, both started afresh\n");

    QProcessEnvironment offscreen = env;
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    offscreen.remove(QStringLiteral("DISPLAY"));
    offscreen.remove(QStringLiteral("WAYLAND_DISPLAY"));
    measure(QStringLiteral("offscreen"), offscreen, runs, pageRuns);

    QProcess xvfb;
    const QString display = xDisplay(xvfb);
    if (display.isEmpty()) {
        std::printf("\n== xcb: skipped, no X display and no Xvfb to start\n");
        return 0;
    }
    QProcessEnvironment x11 = env;
    x11.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    x11.insert(QStringLiteral("DISPLAY"), display);
    measure(QStringLiteral("xcb on X server ") + display +
                (xvfb.state() == QProcess::Running ? QStringLiteral(" (Xvfb started here)")
                                                   : QString()),
            x11, runs, pageRuns);
    if (xvfb.state() == QProcess::Running) {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }
    return 0;
}
