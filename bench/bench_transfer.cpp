// How fast, and with how much memory, a component fetches a large body from
// a loopback server, compared with the curl command line tool on the same
// server in the same run.
//
//   bench_transfer            runs the whole comparison
//   bench_transfer --fetch URL SIZE
//                             (internal) one component fetch in a fresh process,
//                             so that its peak memory can be read from outside

#include "request/HttpModule.h"
#include "request/untXmlHttp.h"
#include "tests/support/LoopbackServer.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

int childFetch(const char* url, const char* size)
{
    return fetchWithComponent(QByteArray(url), std::atoll(size)) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    // The components come from the build's module; the fetching children
    // inherit the path.
    if (qEnvironmentVariableIsEmpty(HttpModule::kPathVariable))
        qputenv(HttpModule::kPathVariable, REQLARK_HTTP_MODULE_PATH);
    if (argc == 4 && std::strcmp(argv[1], "--fetch") == 0)
        return childFetch(argv[2], argv[3]);

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

    const std::string self = selfPath();
    std::printf("Loopback transfer: ServerXMLHTTP component (send + responseBody, in process)\n"
                "against `curl -s -o /dev/null` on the same server; median of %d runs each.\n"
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

        const bool timeTarget = c.size >= (qint64(100) << 20) && !c.chunked;
        std::printf("%-15s %12.1f %12.1f %7.2fx %8s   %14.1f %9.2fx\n", c.label, ourMs, curlMs,
                    ratio, timeTarget ? "<=1.5x" : "-", extraMb, memoryRatio);
        if (timeTarget && ratio > 1.5)
            allMet = false;
        if (memoryRatio >= 2.5)
            allMet = false;
    }
    std::printf("\nbase process peak (1-byte fetch): %.1f MB, subtracted above\n",
                baseRssKb / 1024.0);
    std::printf("targets (100 MB time <= 1.5x curl, peak memory < 2.5x body): %s\n",
                allMet ? "met" : "MISSED");
    return 0;
}
