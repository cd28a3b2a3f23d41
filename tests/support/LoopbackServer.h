#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

// One request exactly as it arrived on the wire.
struct RecordedRequest
{
    QByteArray requestLine; // without CR LF
    QByteArray method;
    QByteArray target;
    QByteArray version;
    // Header lines in arrival order, raw (without CR LF), and the same split
    // into name and value (value without surrounding blanks and tabs).
    QList<QByteArray> headerLines;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray head; // request line and headers up to and including the blank line
    QByteArray body; // payload after removing any chunk framing
    QByteArray raw;  // every byte of the request, framing included
    bool chunked = false;
    bool complete = true; // false when the client hung up before the body was in
    int connectionIndex = -1;

    QByteArray path() const; // target up to '?'
    // Header lookups ignore the case of the name.
    int headerCount(const QByteArray& name) const;
    QByteArray header(const QByteArray& name) const; // first value, empty if absent
    QList<QByteArray> headerNames() const;
};

// A scripted reply: steps run in order on the connection. After the last
// step the connection stays open for the next request unless the script ends
// with close() or stall(-1).
class ScriptedResponse
{
public:
    ScriptedResponse& send(const QByteArray& bytes);
    // `count` bytes of LoopbackServer::patternBytes starting at offset 0,
    // generated while sending (never held in memory as a whole).
    ScriptedResponse& sendPattern(qint64 count);
    // The same pattern in chunked framing, `chunkSize` bytes a chunk, with
    // the terminating zero chunk.
    ScriptedResponse& sendChunkedPattern(qint64 count, qint64 chunkSize);
    // Waits `ms` milliseconds; -1 waits until the server shuts down.
    ScriptedResponse& stall(int ms);
    // Drops the connection at this point.
    ScriptedResponse& close();

    // A complete response with Content-Length. `headers` are raw lines
    // without CR LF, sent in the given order before Content-Length.
    static ScriptedResponse withBody(int status, const QByteArray& reason,
                                     const QList<QByteArray>& headers, const QByteArray& body);
    static ScriptedResponse ok(const QByteArray& body,
                               const QByteArray& contentType = "text/plain");
    static ScriptedResponse redirect(int status, const QByteArray& location,
                                     const QByteArray& body = {});
    // Status line and header lines (raw, without CR LF) plus the blank line.
    static ScriptedResponse headOnly(const QByteArray& statusLine,
                                     const QList<QByteArray>& headers);
    // 200 with a Content-Length of `size` and the pattern as body.
    static ScriptedResponse patternBody(qint64 size);

    struct Step
    {
        enum Kind
        {
            Send,
            Pattern,
            ChunkedPattern,
            Stall,
            Close
        } kind;
        QByteArray bytes;
        qint64 count = 0;
        qint64 chunkSize = 0;
        int ms = 0;
    };
    const std::vector<Step>& steps() const { return m_steps; }

private:
    std::vector<Step> m_steps;
};

// An HTTP/1.1 server on 127.0.0.1 (free port) for tests and benchmarks. Each
// connection is served by its own thread, so a client blocking in its own
// thread can talk to it. Every request is recorded as it arrived; replies are
// scripted. The destructor stops everything, also a connection stalled on
// purpose or a client that stopped reading.
class LoopbackServer
{
public:
    struct TlsFiles
    {
        QString certFile; // PEM, may hold the chain
        QString keyFile;  // PEM
    };

    LoopbackServer();
    explicit LoopbackServer(const TlsFiles& tls);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    quint16 port() const { return m_port; }
    bool isTls() const { return m_sslCtx != nullptr; }
    // "http://127.0.0.1:port" + path (https when TLS is on).
    QByteArray url(const QByteArray& path = "/") const;
    // Same, with "localhost" as the host name.
    QByteArray localhostUrl(const QByteArray& path = "/") const;

    // Reply selection: the queue first (each entry used once), then the
    // handler, then a route on the exact target, then on the path; else 404.
    void enqueue(const ScriptedResponse& response);
    void route(const QByteArray& pathOrTarget, const ScriptedResponse& response);
    using Handler = std::function<std::optional<ScriptedResponse>(const RecordedRequest&)>;
    void setHandler(Handler handler);

    std::vector<RecordedRequest> requests() const;
    int requestCount() const;
    int connectionCount() const;         // connections accepted so far
    RecordedRequest lastRequest() const; // empty when none arrived
    void clearRequests();
    // Blocks until `count` requests were recorded or `timeoutMs` passed.
    bool waitForRequests(int count, int timeoutMs) const;

    // The body pattern: a fixed sequence of printable bytes, periodic.
    static QByteArray patternBytes(qint64 offset, qint64 count);
    // Whether `data` equals the pattern bytes at `offset` (fast, no copy).
    static bool matchesPattern(qint64 offset, const char* data, qint64 size);

private:
    void start();
    void acceptLoop();
    void serveConnection(int fd, int index);
    ScriptedResponse pickResponse(const RecordedRequest& request);
    void closeFd(int fd);

    quint16 m_port = 0;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    SSL_CTX* m_sslCtx = nullptr;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_recorded;
    std::vector<std::thread> m_connectionThreads;
    std::set<int> m_openFds;
    std::vector<RecordedRequest> m_requests;
    std::deque<ScriptedResponse> m_queue;
    std::map<QByteArray, ScriptedResponse> m_routes;
    Handler m_handler;
    int m_connections = 0;
};
