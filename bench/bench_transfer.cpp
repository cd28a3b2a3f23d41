// How fast, and with how much memory, a component fetches a large body from
// a loopback server, compared with the curl command line tool on the same
// server in the same run; then how the user-interface thread fares while it
// waits for a send (the longest gap between the ticks of a 10 ms timer), and
// how soon Esc closes the connection of a request.
//
// Sends are made as the window makes them: from the thread of a (GUI)
// application object, which waits in an event loop while the transfer runs.
//
//   bench_transfer            runs the whole comparison
//   bench_transfer --fetch URL SIZE
//                             (internal) one component fetch in a fresh process,
//                             so that its peak memory can be read from outside

#include "request/DownloadSink.h"
#include "request/HttpModule.h"
#include "request/untXmlHttp.h"
#include "tests/support/LoopbackServer.h"
#include "util/InputGuard.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRepetitions = 5;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One component fetch; the body's size proves it arrived whole.
bool fetchWithComponent(const QByteArray& url, qint64 expectedSize)
{
    try {
        auto c = CreateHttpComponent(kProgIdServerXmlHttp);
        c->open("GET", url, false, {}, {});
        c->send({});
        const std::optional<QByteArray> body = c->responseBody();
        return c->status() == 200 && body && body->size() == expectedSize;
    } catch (const HttpError& e) {
        std::fprintf(stderr, "fetch failed: %s\n", e.what());
        return false;
    }
}

// Runs argv; returns its standard output, or nothing on failure. `maxRssKb`
// receives the child's peak resident size.
std::optional<std::string> runChild(const std::vector<std::string>& args, long* maxRssKb = nullptr)
{
    // Everything the child needs is made before fork: the server's threads
    // may hold the allocator's locks at that moment.
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (maxRssKb)
        *maxRssKb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}

std::string selfPath()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string("bench_transfer");
}

int childFetch(int argc, char** argv)
{
    // The same way as the window: with an application object, on its thread.
    QCoreApplication app(argc, argv);
    return fetchWithComponent(QByteArray(argv[2]), std::atoll(argv[3])) ? 0 : 1;
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The longest time between two ticks of a 10 ms timer on this thread while
// `work` runs, in ms.
double longestTimerGap(const std::function<void()>& work)
{
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticks;
    ticks.setInterval(10);
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    ticks.start();
    work();
    ticks.stop();
    longest = std::max(longest, clock.nsecsElapsed() - last);
    return longest / 1e6;
}

// A server that answers one request at a time with a large announced body
// that it sends a byte a second, and notes when the client closes.
class TrickleServer
{
public:
    TrickleServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listen, 4) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::fprintf(stderr, "the trickle server cannot listen\n");
            std::exit(1);
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~TrickleServer()
    {
        m_stopping = true;
        m_thread.join();
        ::close(m_listen);
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(m_port) + "/slow"; }
    // When the last client closed its connection (steady clock, ns), 0 if not yet.
    qint64 closedAt() const { return m_closedAt; }
    void reset() { m_closedAt = 0; }

private:
    void serve()
    {
        while (!m_stopping) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                continue;
            static const char head[] = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nab";
            if (::send(fd, head, sizeof head - 1, MSG_NOSIGNAL) < 0) {
                ::close(fd);
                continue;
            }
            qint64 nextByte = nowNs() + 1000000000;
            for (;;) {
                pollfd c{fd, POLLIN | POLLRDHUP, 0};
                const int ready = ::poll(&c, 1, 1);
                const qint64 now = nowNs();
                if (ready > 0) {
                    char buffer[4096];
                    if (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0 ||
                        (c.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
                        m_closedAt = now;
                        break;
                    }
                }
                if (m_stopping)
                    break;
                if (now >= nextByte) {
                    ::send(fd, "c", 1, MSG_NOSIGNAL);
                    nextByte = now + 1000000000;
                }
            }
            ::close(fd);
        }
    }

    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<qint64> m_closedAt{0};
};

// Esc pressed on a window while a request to the trickle server waits, as
// the main window's input guard sees it; returns ms from the key to the
// server seeing the connection closed, or -1.
double cancelLatency(TrickleServer& server, QWindow& window)
{
    server.reset();
    auto c = CreateHttpComponent(kProgIdServerXmlHttp);
    InputGuard guard([&] { c->cancel(); });
    qint64 pressedAt = 0;
    QTimer::singleShot(300, &window, [&] {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        pressedAt = nowNs();
        QCoreApplication::sendEvent(&window, &esc);
    });
    c->open("GET", server.url(), false, {}, {});
    try {
        c->send({});
        std::fprintf(stderr, "the request was not cancelled\n");
        return -1;
    } catch (const HttpCancelled&) {
    }
    QElapsedTimer wait;
    wait.start();
    while (!server.closedAt() && wait.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return server.closedAt() && pressedAt ? (server.closedAt() - pressedAt) / 1e6 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    // The components come from the build's module; the fetching children
    // inherit the path.
    if (qEnvironmentVariableIsEmpty(HttpModule::kPathVariable))
        qputenv(HttpModule::kPathVariable, REQLARK_HTTP_MODULE_PATH);
    if (argc == 4 && std::strcmp(argv[1], "--fetch") == 0)
        return childFetch(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    LoopbackServer server;
    struct Case
    {
        const char* label;
        qint64 size;
        bool chunked;
        const char* path;
    };
    // The chunked row shows a body of unknown length, which the component
    // cannot reserve for in advance.
    const Case cases[] = {{"1 MB", qint64(1) << 20, false, "/body/1m"},
                          {"10 MB", qint64(10) << 20, false, "/body/10m"},
                          {"100 MB", qint64(100) << 20, false, "/body/100m"},
                          {"100 MB chunked", qint64(100) << 20, true, "/chunked/100m"}};
    for (const Case& c : cases) {
        server.route(c.path, c.chunked ? ScriptedResponse::headOnly("HTTP/1.1 200 OK",
                                                                    {"Transfer-Encoding: chunked"})
                                             .sendChunkedPattern(c.size, 256 * 1024)
                                       : ScriptedResponse::patternBody(c.size));
    }
    server.route("/body/1", ScriptedResponse::patternBody(1));
    const qint64 downloadSize = qint64(1) << 30;
    server.route("/body/1g", ScriptedResponse::patternBody(downloadSize));

    const std::string self = selfPath();
    std::printf("Loopback transfer: ServerXMLHTTP component (send + responseBody, in process,\n"
                "sent from the application's thread as the window sends) against\n"
                "`curl -s -o /dev/null` on the same server; median of %d runs each.\n"
                "curl's time is its own %%{time_total} (the transfer, without starting the\n"
                "program), so both sides time the same work.\n\n",
                kRepetitions);

    // Peak memory: a fresh process of this program does one fetch; the kernel
    // reports its resident high-water mark (wait4 ru_maxrss). The same
    // process fetching a 1-byte body gives the base cost (code, Qt, libcurl,
    // OpenSSL), which is subtracted.
    long baseRssKb = 0;
    if (!runChild({self, "--fetch", server.url("/body/1").toStdString(), "1"}, &baseRssKb)) {
        std::fprintf(stderr, "the baseline fetch failed\n");
        return 1;
    }

    std::printf("%-15s %12s %12s %8s %8s   %14s %10s\n", "body", "component ms", "curl ms", "ratio",
                "target", "peak extra MB", "x body");
    bool allMet = true;
    for (const Case& c : cases) {
        const QByteArray url = server.url(c.path);
        // Warm both sides up once: page cache, pattern buffer, libraries.
        fetchWithComponent(url, c.size);
        const std::vector<std::string> curlArgs = {
            "curl", "-s", "-o", "/dev/null", "-w", "%{time_total}", url.toStdString()};
        runChild(curlArgs);

        std::vector<double> ours;
        std::vector<double> theirs;
        for (int i = 0; i < kRepetitions; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (!fetchWithComponent(url, c.size)) {
                std::fprintf(stderr, "component fetch of %s failed\n", c.label);
                return 1;
            }
            ours.push_back(timer.nsecsElapsed() / 1e6);

            const std::optional<std::string> out = runChild(curlArgs);
            if (!out) {
                std::fprintf(stderr, "curl failed on %s (is curl installed?)\n", c.label);
                return 1;
            }
            theirs.push_back(std::atof(out->c_str()) * 1000.0);
        }
        const double ourMs = median(ours);
        const double curlMs = median(theirs);
        const double ratio = ourMs / curlMs;

        long rssKb = 0;
        if (!runChild({self, "--fetch", url.toStdString(), std::to_string(c.size)}, &rssKb)) {
            std::fprintf(stderr, "memory run of %s failed\n", c.label);
            return 1;
        }
        const double extraMb = double(rssKb - baseRssKb) / 1024.0;
        const double memoryRatio = double(rssKb - baseRssKb) * 1024.0 / double(c.size);

        const bool timeTarget = c.size >= (qint64(100) << 20);
        const double memoryLimit = c.chunked ? 1.5 : 1.1;
        std::printf("%-15s %12.1f %12.1f %7.2fx %8s   %14.1f %9.2fx\n", c.label, ourMs, curlMs,
                    ratio, timeTarget ? "<=1.5x" : "-", extraMb, memoryRatio);
        if (timeTarget && ratio > 1.5)
            allMet = false;
        if (memoryRatio > memoryLimit)
            allMet = false;
    }
    std::printf("\nbase process peak (1-byte fetch): %.1f MB, subtracted above\n",
                baseRssKb / 1024.0);
    std::printf("targets (100 MB time <= 1.5x curl with or without a length; peak memory\n"
                "<= 1.1x the body with a length, <= 1.5x chunked): %s\n\n",
                allMet ? "met" : "MISSED");

    // The user-interface thread while it waits: the display of the body is
    // no part of these, only the send.
    std::printf("Longest gap between the ticks of a 10 ms timer on the waiting thread\n");
    bool responsive = true;
    double worstGap = 0;
    for (int i = 0; i < 3; ++i) {
        const double gap = longestTimerGap(
            [&] { fetchWithComponent(server.url("/body/100m"), qint64(100) << 20); });
        worstGap = std::max(worstGap, gap);
    }
    std::printf("  100 MB into memory (worst of 3):  %6.1f ms\n", worstGap);
    responsive = responsive && worstGap <= 50;

    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("download.bin"));
    bool downloaded = false;
    QElapsedTimer downloadTime;
    downloadTime.start();
    const double downloadGap = longestTimerGap([&] {
        try {
            auto c = CreateHttpComponent(kProgIdServerXmlHttp);
            DownloadSink sink(target);
            c->setResponseBodySink(&sink);
            c->open("GET", server.url("/body/1g"), false, {}, {});
            c->send({});
            sink.commit();
            downloaded = c->bodyBytesReceived() == downloadSize;
        } catch (const ReqlarkError& e) {
            std::fprintf(stderr, "download failed: %s\n", e.what());
        }
    });
    const double downloadMs = downloadTime.nsecsElapsed() / 1e6;
    downloaded = downloaded && QFileInfo(target).size() == downloadSize;
    QFile::remove(target);
    if (!downloaded) {
        std::fprintf(stderr, "the 1 GB download failed\n");
        return 1;
    }
    std::printf(
        "  1 GB download to a file:          %6.1f ms (the download took %.0f ms, %.0f MB/s)\n",
        downloadGap, downloadMs, 1024.0 / (downloadMs / 1000.0));
    responsive = responsive && downloadGap <= 50;

    TrickleServer trickle;
    QWindow window;
    std::vector<double> latencies;
    for (int i = 0; i < kRepetitions; ++i) {
        const double ms = cancelLatency(trickle, window);
        if (ms < 0) {
            std::fprintf(stderr, "cancelling failed\n");
            return 1;
        }
        latencies.push_back(ms);
    }
    const double worstCancel = *std::max_element(latencies.begin(), latencies.end());
    std::printf("\nEsc to the connection closed (server side), %d requests: median %.2f ms, "
                "worst %.2f ms\n",
                kRepetitions, median(latencies), worstCancel);
    responsive = responsive && worstCancel <= 100;
    std::printf("targets (timer gap <= 50 ms, cancel <= 100 ms): %s\n",
                responsive ? "met" : "MISSED");
    return 0;
}
