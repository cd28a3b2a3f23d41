#pragma once

// What a measured child of bench_startup reports on stdout, one line each:
//   stage <name> <ns> <us>  a moment of its start-up on the system's
//                       monotonic clock, which the parent shares, and the CPU
//                       time it has used by then
//   rss <kB> <kB>       resident memory of the process, and of it with the
//                       helper processes it started, once idle a while
// The child quits after the last line. Qt Widgets only, so that the bare
// reference program can use it too.

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace StartupProbe {

inline long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// CPU time of the process so far, all threads: what contention on a busy
// machine does not stretch as it stretches the wall time.
inline long long cpuUs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

inline void mark(const char* stage)
{
    std::printf("stage %s %lld %lld\n", stage, monotonicNs(), cpuUs());
    std::fflush(stdout);
}

inline QByteArray procFile(qint64 pid, const char* name)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline long rssKb(qint64 pid)
{
    for (const QByteArray& line : procFile(pid, "status").split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

// The process and all its descendants (the browser engine's helpers). Pages
// shared between them are counted once per process, as a system monitor does.
inline long treeRssKb(qint64 root)
{
    long total = rssKb(root);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == root)
            continue;
        const QByteArray stat = procFile(pid, "stat");
        const int name = stat.lastIndexOf(')');
        if (name >= 0 && stat.mid(name + 2).split(' ').value(1).toLongLong() == root)
            total += treeRssKb(pid);
    }
    return total;
}

inline void reportIdleMemoryAndQuit(int idleMs)
{
    QTimer::singleShot(idleMs, qApp, [] {
        std::printf("rss %ld %ld\n", rssKb(getpid()), treeRssKb(getpid()));
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
}

// Marks "painted" once the window's first paint has reached the screen (the
// backing store is flushed right after the paint events of one update), then
// runs `next`.
class FirstPaint : public QObject
{
public:
    FirstPaint(QWidget* window, std::function<void()> next)
        : m_window(window), m_next(std::move(next))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, this, [this] {
                mark("painted");
                m_next();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_window;
    std::function<void()> m_next;
    bool m_seen = false;
};

} // namespace StartupProbe
