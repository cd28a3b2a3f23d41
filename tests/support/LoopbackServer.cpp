#include "tests/support/LoopbackServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

// Period of the body pattern; the send buffer holds a whole number of periods
// so any offset maps onto it without copying.
constexpr qint64 kPatternPeriod = 61;
constexpr qint64 kPatternBufferBytes = kPatternPeriod * 16 * 1024; // about 1 MB
constexpr qsizetype kMaxRequestHead = 16 * 1024 * 1024;

char patternByteAt(qint64 offset)
{
    static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxy";
    static_assert(sizeof(alphabet) - 1 == kPatternPeriod);
    return alphabet[offset % kPatternPeriod];
}

const QByteArray& patternBuffer()
{
    static const QByteArray buffer = [] {
        QByteArray b(kPatternBufferBytes + kPatternPeriod, Qt::Uninitialized);
        for (qsizetype i = 0; i < b.size(); ++i)
            b[i] = patternByteAt(i);
        return b;
    }();
    return buffer;
}

[[noreturn]] void failSetup(const char* what)
{
    throw std::runtime_error(std::string("LoopbackServer: ") + what + ": " + std::strerror(errno));
}

std::string sslErrors()
{
    std::string text;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty())
            text += "; ";
        text += buf;
    }
    return text;
}

// One accepted connection, plain or TLS. Reads wait on the socket and the
// server's wake pipe together, so shutting down never waits for a client.
class Connection
{
public:
    Connection(int fd, SSL* ssl, int wakeFd, const std::atomic<bool>& stopping)
        : m_fd(fd), m_ssl(ssl), m_wakeFd(wakeFd), m_stopping(stopping)
    {
    }
    ~Connection()
    {
        if (m_ssl)
            SSL_free(m_ssl);
    }

    bool handshake()
    {
        if (!m_ssl)
            return true;
        SSL_set_fd(m_ssl, m_fd);
        return SSL_accept(m_ssl) == 1;
    }

    // Up to `max` bytes; 0 at end of stream, shutdown or error.
    qsizetype read(char* out, qsizetype max)
    {
        if (!(m_ssl && SSL_pending(m_ssl) > 0) && !waitReadable(-1))
            return 0;
        if (m_ssl) {
            const int n = SSL_read(m_ssl, out, int(std::min<qsizetype>(max, 1 << 30)));
            return n > 0 ? n : 0;
        }
        for (;;) {
            const ssize_t n = ::recv(m_fd, out, size_t(max), 0);
            if (n < 0 && errno == EINTR)
                continue;
            return n > 0 ? n : 0;
        }
    }

    bool write(const char* data, qsizetype size)
    {
        while (size > 0) {
            if (m_stopping)
                return false;
            qsizetype n;
            if (m_ssl) {
                const int r = SSL_write(m_ssl, data, int(std::min<qsizetype>(size, 1 << 20)));
                n = r > 0 ? r : -1;
            } else {
                const ssize_t r = ::send(m_fd, data, size_t(size), MSG_NOSIGNAL);
                if (r < 0 && errno == EINTR)
                    continue;
                n = r;
            }
            if (n <= 0)
                return false;
            data += n;
            size -= n;
        }
        return true;
    }

    // Sleeps, waking early when the server stops; false when it stopped.
    bool pause(int ms)
    {
        pollfd p{m_wakeFd, POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (m_stopping)
                return false;
            int wait = -1;
            if (ms >= 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0)
                    return true;
                wait = int(left);
            }
            ::poll(&p, 1, wait);
        }
    }

private:
    bool waitReadable(int ms)
    {
        pollfd p[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        for (;;) {
            if (m_stopping)
                return false;
            const int r = ::poll(p, 2, ms);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0 || m_stopping)
                return false;
            if (p[0].revents)
                return true;
        }
    }

    int m_fd;
    SSL* m_ssl;
    int m_wakeFd;
    const std::atomic<bool>& m_stopping;
};

// Reads requests off a connection, keeping bytes that arrived beyond one
// request for the next.
class RequestReader
{
public:
    explicit RequestReader(Connection& connection) : m_connection(connection) {}

    // False when the connection ended before a request line arrived.
    bool next(RecordedRequest& request)
    {
        qsizetype headEnd;
        while ((headEnd = m_pending.indexOf("\r\n\r\n")) < 0) {
            if (m_pending.size() > kMaxRequestHead || !fill())
                return false;
        }
        request.head = m_pending.left(headEnd + 4);
        m_pending.remove(0, headEnd + 4);
        request.raw = request.head;
        parseHead(request);

        const QByteArray transferEncoding = request.header("transfer-encoding").toLower();
        if (transferEncoding.contains("chunked")) {
            request.chunked = true;
            request.complete = readChunked(request);
        } else if (request.headerCount("content-length") > 0) {
            bool ok = false;
            const qint64 length = request.header("content-length").trimmed().toLongLong(&ok);
            if (ok && length > 0)
                request.complete = readExactly(request, length);
        }
        return true;
    }

private:
    bool fill()
    {
        char buf[64 * 1024];
        const qsizetype n = m_connection.read(buf, sizeof buf);
        if (n <= 0)
            return false;
        m_pending.append(buf, n);
        return true;
    }

    bool readExactly(RecordedRequest& request, qint64 length)
    {
        while (m_pending.size() < length) {
            if (!fill()) {
                request.body += m_pending;
                request.raw += m_pending;
                m_pending.clear();
                return false;
            }
        }
        request.body += m_pending.left(length);
        request.raw += m_pending.left(length);
        m_pending.remove(0, length);
        return true;
    }

    bool readLine(RecordedRequest& request, QByteArray& line)
    {
        qsizetype end;
        while ((end = m_pending.indexOf("\r\n")) < 0) {
            if (!fill())
                return false;
        }
        line = m_pending.left(end);
        request.raw += m_pending.left(end + 2);
        m_pending.remove(0, end + 2);
        return true;
    }

    bool readChunked(RecordedRequest& request)
    {
        for (;;) {
            QByteArray sizeLine;
            if (!readLine(request, sizeLine))
                return false;
            const qsizetype semi = sizeLine.indexOf(';');
            bool ok = false;
            const qint64 size =
                sizeLine.left(semi < 0 ? sizeLine.size() : semi).trimmed().toLongLong(&ok, 16);
            if (!ok)
                return false;
            if (size == 0) {
                // Trailer lines up to the blank line.
                QByteArray trailer;
                do {
                    if (!readLine(request, trailer))
                        return false;
                } while (!trailer.isEmpty());
                return true;
            }
            while (m_pending.size() < size + 2) {
                if (!fill())
                    return false;
            }
            request.body += m_pending.left(size);
            request.raw += m_pending.left(size + 2);
            m_pending.remove(0, size + 2);
        }
    }

    static void parseHead(RecordedRequest& request)
    {
        QList<QByteArray> lines = request.head.left(request.head.size() - 4).split('\n');
        for (QByteArray& line : lines) {
            if (line.endsWith('\r'))
                line.chop(1);
        }
        request.requestLine = lines.value(0);
        const QList<QByteArray> parts = request.requestLine.split(' ');
        request.method = parts.value(0);
        request.target = parts.value(1);
        request.version = parts.value(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray& line = lines[i];
            request.headerLines.append(line);
            const qsizetype colon = line.indexOf(':');
            if (colon < 0)
                request.headers.append({line, QByteArray()});
            else
                request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
    }

    Connection& m_connection;
    QByteArray m_pending;
};

} // namespace

// ---------------------------------------------------------------------------

QByteArray RecordedRequest::path() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

int RecordedRequest::headerCount(const QByteArray& name) const
{
    int n = 0;
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            ++n;
    }
    return n;
}

QByteArray RecordedRequest::header(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QList<QByteArray> RecordedRequest::headerNames() const
{
    QList<QByteArray> names;
    for (const auto& h : headers)
        names.append(h.first);
    return names;
}

// ---------------------------------------------------------------------------

ScriptedResponse& ScriptedResponse::send(const QByteArray& bytes)
{
    Step s{Step::Send, bytes};
    m_steps.push_back(s);
    return *this;
}

ScriptedResponse& ScriptedResponse::sendPattern(qint64 count)
{
    Step s{Step::Pattern, {}};
    s.count = count;
    m_steps.push_back(s);
    return *this;
}

ScriptedResponse& ScriptedResponse::sendChunkedPattern(qint64 count, qint64 chunkSize)
{
    Step s{Step::ChunkedPattern, {}};
    s.count = count;
    s.chunkSize = chunkSize > 0 ? chunkSize : 1;
    m_steps.push_back(s);
    return *this;
}

ScriptedResponse& ScriptedResponse::stall(int ms)
{
    Step s{Step::Stall, {}};
    s.ms = ms;
    m_steps.push_back(s);
    return *this;
}

ScriptedResponse& ScriptedResponse::close()
{
    m_steps.push_back(Step{Step::Close, {}});
    return *this;
}

ScriptedResponse ScriptedResponse::headOnly(const QByteArray& statusLine,
                                            const QList<QByteArray>& headers)
{
    QByteArray head = statusLine + "\r\n";
    for (const QByteArray& h : headers)
        head += h + "\r\n";
    head += "\r\n";
    ScriptedResponse r;
    r.send(head);
    return r;
}

ScriptedResponse ScriptedResponse::withBody(int status, const QByteArray& reason,
                                            const QList<QByteArray>& headers,
                                            const QByteArray& body)
{
    QList<QByteArray> all = headers;
    all.append("Content-Length: " + QByteArray::number(body.size()));
    ScriptedResponse r = headOnly("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason, all);
    if (!body.isEmpty())
        r.send(body);
    return r;
}

ScriptedResponse ScriptedResponse::ok(const QByteArray& body, const QByteArray& contentType)
{
    return withBody(200, "OK", {"Content-Type: " + contentType}, body);
}

ScriptedResponse ScriptedResponse::redirect(int status, const QByteArray& location,
                                            const QByteArray& body)
{
    return withBody(status, "Moved", {"Location: " + location}, body);
}

ScriptedResponse ScriptedResponse::patternBody(qint64 size)
{
    ScriptedResponse r =
        headOnly("HTTP/1.1 200 OK", {"Content-Type: application/octet-stream",
                                     "Content-Length: " + QByteArray::number(size)});
    r.sendPattern(size);
    return r;
}

// ---------------------------------------------------------------------------

LoopbackServer::LoopbackServer()
{
    start();
}

LoopbackServer::LoopbackServer(const TlsFiles& tls)
{
    m_sslCtx = SSL_CTX_new(TLS_server_method());
    if (!m_sslCtx)
        throw std::runtime_error("LoopbackServer: SSL_CTX_new failed: " + sslErrors());
    const QByteArray cert = tls.certFile.toLocal8Bit();
    const QByteArray key = tls.keyFile.toLocal8Bit();
    if (SSL_CTX_use_certificate_chain_file(m_sslCtx, cert.constData()) != 1 ||
        SSL_CTX_use_PrivateKey_file(m_sslCtx, key.constData(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(m_sslCtx) != 1) {
        const std::string why = sslErrors();
        SSL_CTX_free(m_sslCtx);
        m_sslCtx = nullptr;
        throw std::runtime_error("LoopbackServer: cannot load " + cert.toStdString() + " / " +
                                 key.toStdString() + ": " + why);
    }
    start();
}

void LoopbackServer::start()
{
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0)
        failSetup("pipe");
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        failSetup("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        failSetup("bind");
    if (::listen(m_listenFd, 64) != 0)
        failSetup("listen");
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    patternBuffer();
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer()
{
    m_stopping = true;
    if (m_wakePipe[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] const ssize_t n = ::write(m_wakePipe[1], &c, 1);
    }
    {
        // A thread blocked in send() to a client that stopped reading
        // returns once its socket is shut down.
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_connectionThreads);
    }
    for (std::thread& t : threads)
        t.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    for (int fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
    }
    if (m_sslCtx)
        SSL_CTX_free(m_sslCtx);
}

QByteArray LoopbackServer::url(const QByteArray& path) const
{
    return QByteArray(isTls() ? "https" : "http") + "://127.0.0.1:" + QByteArray::number(m_port) +
           path;
}

QByteArray LoopbackServer::localhostUrl(const QByteArray& path) const
{
    return QByteArray(isTls() ? "https" : "http") + "://localhost:" + QByteArray::number(m_port) +
           path;
}

void LoopbackServer::enqueue(const ScriptedResponse& response)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(response);
}

void LoopbackServer::route(const QByteArray& pathOrTarget, const ScriptedResponse& response)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[pathOrTarget] = response;
}

void LoopbackServer::setHandler(Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

std::vector<RecordedRequest> LoopbackServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int LoopbackServer::requestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_requests.size());
}

int LoopbackServer::connectionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections;
}

RecordedRequest LoopbackServer::lastRequest() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.empty() ? RecordedRequest{} : m_requests.back();
}

void LoopbackServer::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

bool LoopbackServer::waitForRequests(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_recorded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return int(m_requests.size()) >= count; });
}

QByteArray LoopbackServer::patternBytes(qint64 offset, qint64 count)
{
    QByteArray out(count, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        out[i] = patternByteAt(offset + i);
    return out;
}

bool LoopbackServer::matchesPattern(qint64 offset, const char* data, qint64 size)
{
    const QByteArray& pattern = patternBuffer();
    while (size > 0) {
        const qint64 part = std::min<qint64>(size, kPatternBufferBytes);
        if (std::memcmp(data, pattern.constData() + offset % kPatternPeriod, size_t(part)) != 0)
            return false;
        data += part;
        offset += part;
        size -= part;
    }
    return true;
}

void LoopbackServer::acceptLoop()
{
    // OpenSSL writes with write(), not send(MSG_NOSIGNAL): a client that hangs
    // up mid-handshake would kill the test process. Connection threads
    // inherit this mask; the rest of the process is left alone.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
    while (!m_stopping) {
        const int r = ::poll(p, 2, -1);
        if (m_stopping)
            break;
        if (r <= 0 || !(p[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            ::close(fd);
            break;
        }
        m_openFds.insert(fd);
        const int index = m_connections++;
        m_connectionThreads.emplace_back([this, fd, index] { serveConnection(fd, index); });
    }
}

void LoopbackServer::closeFd(int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openFds.erase(fd);
    ::close(fd);
}

ScriptedResponse LoopbackServer::pickResponse(const RecordedRequest& request)
{
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_queue.empty()) {
            ScriptedResponse r = m_queue.front();
            m_queue.pop_front();
            return r;
        }
        handler = m_handler;
    }
    if (handler) {
        if (std::optional<ScriptedResponse> r = handler(request))
            return *r;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_routes.find(request.target);
    if (it == m_routes.end())
        it = m_routes.find(request.path());
    if (it != m_routes.end())
        return it->second;
    return ScriptedResponse::withBody(404, "Not Found", {"Content-Type: text/plain"},
                                      "no route for " + request.target);
}

void LoopbackServer::serveConnection(int fd, int index)
{
    SSL* ssl = nullptr;
    if (m_sslCtx)
        ssl = SSL_new(m_sslCtx);
    {
        Connection connection(fd, ssl, m_wakePipe[0], m_stopping);
        if (connection.handshake()) {
            RequestReader reader(connection);
            bool open = true;
            while (open && !m_stopping) {
                RecordedRequest request;
                request.connectionIndex = index;
                if (!reader.next(request))
                    break;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_requests.push_back(request);
                }
                m_recorded.notify_all();
                if (!request.complete)
                    break;

                const ScriptedResponse response = pickResponse(request);
                const QByteArray& pattern = patternBuffer();
                for (const ScriptedResponse::Step& step : response.steps()) {
                    using Step = ScriptedResponse::Step;
                    switch (step.kind) {
                    case Step::Send:
                        open = connection.write(step.bytes.constData(), step.bytes.size());
                        break;
                    case Step::Pattern:
                    case Step::ChunkedPattern: {
                        const bool chunked = step.kind == Step::ChunkedPattern;
                        qint64 offset = 0;
                        while (open && offset < step.count) {
                            qint64 piece =
                                std::min<qint64>(step.count - offset,
                                                 chunked ? step.chunkSize : kPatternBufferBytes);
                            if (chunked) {
                                const QByteArray size = QByteArray::number(piece, 16) + "\r\n";
                                open = connection.write(size.constData(), size.size());
                            }
                            // A chunk may be larger than the buffer: send it in parts.
                            qint64 sent = 0;
                            while (open && sent < piece) {
                                const qint64 part =
                                    std::min<qint64>(piece - sent, kPatternBufferBytes);
                                open = connection.write(
                                    pattern.constData() + (offset + sent) % kPatternPeriod, part);
                                sent += part;
                            }
                            if (open && chunked)
                                open = connection.write("\r\n", 2);
                            offset += piece;
                        }
                        if (open && chunked)
                            open = connection.write("0\r\n\r\n", 5);
                        break;
                    }
                    case Step::Stall:
                        if (!connection.pause(step.ms))
                            open = false;
                        if (step.ms < 0)
                            open = false;
                        break;
                    case Step::Close:
                        open = false;
                        break;
                    }
                    if (!open)
                        break;
                }
                if (request.header("connection").toLower() == "close")
                    open = false;
            }
        }
        if (ssl && !m_stopping)
            SSL_shutdown(ssl);
    }
    closeFd(fd);
}
