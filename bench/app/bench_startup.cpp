// Time from process start to the first painted window: the main window
// against a bare Qt Widgets window, both started afresh in the same run, and
// the peak memory of the main window's process before the browser is used.
//
//   bench_startup [runs]      (default 9; runs on the offscreen platform
//                              unless QT_QPA_PLATFORM is set)

#include "app/untFrmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Reports on stdout the moment the window first paints, then quits.
class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("painted %ld\n", peakRssKb());
            std::fflush(stdout);
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};

int child(int argc, char* argv[], bool mainWindow)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Reqlark"));
    FirstPaint watcher;
    std::unique_ptr<QWidget> window;
    if (mainWindow) {
        // Settings beside a throwaway executable path, so no real file is read.
        QTemporaryDir dir;
        TFrmMain::Environment env;
        env.executablePath = dir.filePath(QStringLiteral("reqlark"));
        window = std::make_unique<TFrmMain>(env);
    } else {
        window = std::make_unique<QWidget>();
        window->resize(900, 700);
    }
    window->installEventFilter(&watcher);
    window->show();
    return app.exec();
}

struct Run
{
    double ms;
    long peakKb;
};

Run startOnce(const QString& self, const char* mode)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    p.start(self, {QString::fromLatin1(mode)});
    if (!p.waitForReadyRead(30000)) {
        std::fprintf(stderr, "child %s did not paint\n", mode);
        std::exit(1);
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    const QByteArray line = p.readLine();
    p.waitForFinished(30000);
    return {ms, line.split(' ').value(1).trimmed().toLong()};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--main") == 0)
        return child(argc, argv, true);
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0)
        return child(argc, argv, false);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
    const QString self = QCoreApplication::applicationFilePath();
    startOnce(self, "--bare"); // warm the file cache for both
    startOnce(self, "--main");
    std::vector<double> bare, main;
    long mainPeak = 0;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(startOnce(self, "--bare").ms);
        const Run m = startOnce(self, "--main");
        main.push_back(m.ms);
        mainPeak = std::max(mainPeak, m.peakKb);
    }
    const double b = median(bare), m = median(main);
    std::printf("start-up to first paint (median of %d, platform %s)\n", runs,
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("  bare Qt Widgets window: %8.1f ms\n", b);
    std::printf("  main window:            %8.1f ms   ratio %.2fx (target <= 2x)\n", m, m / b);
    std::printf("  main window peak memory before the browser is used: %.1f MB (target < 90 MB)\n",
                mainPeak / 1024.0);
    return 0;
}
