// The HTTP components against a real loopback server, a real tinyproxy and
// certificates made at run time: every claim is checked on the wire.

#include "request/untXmlHttp.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ProxyFixture.h"
#include "tests/support/TestCerts.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <exception>
#include <memory>
#include <optional>

Q_DECLARE_METATYPE(ScriptedResponse)

namespace {

// The HttpError text of `call`, or nothing when it succeeded. Any other
// exception escapes and fails the test.
template <class Call> std::optional<QString> httpErrorOf(Call&& call)
{
    try {
        call();
    } catch (const HttpError& e) {
        return e.message();
    }
    return std::nullopt;
}

std::unique_ptr<HttpComponent> makeComponent(const char* progId = kProgIdServerXmlHttp,
                                             const HttpComponentConfig& config = {})
{
    auto c = CreateHttpComponent(progId, config);
    if (!c)
        qFatal("no component for %s", progId);
    return c;
}

HttpComponentConfig shortTimeouts()
{
    HttpComponentConfig config;
    config.connectTimeoutMs = 1500;
    config.idleTimeoutMs = 1500;
    return config;
}

// A loopback port nobody listens on (bound, then released).
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// A loopback port whose listener never accepts and whose queue is full: a
// connection to it is neither made nor refused. Its sockets go into `held`;
// 0 when the queue never filled.
quint16 unansweredPort(std::vector<int>& held)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    held.push_back(listener);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener, 0) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    for (int i = 0; i < 16; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        held.push_back(filler);
        ::connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        pollfd made{filler, POLLOUT, 0};
        if (::poll(&made, 1, 200) == 0) // this one waits, and so will the next
            return ntohs(addr.sin_port);
    }
    return 0;
}

QByteArray binaryBytes()
{
    QByteArray b;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 256; ++i)
            b.append(char(i));
    }
    b.append("\r\n\r\n0\r\n\r\n");
    return b;
}

// "Name: value" rows as the header list holds them.
void setHeaderRows(HttpComponent& c, const QByteArrayList& rows)
{
    for (const QByteArray& row : rows) {
        const qsizetype colon = row.indexOf(':');
        c.setRequestHeader(row.left(colon), row.mid(colon + 1).trimmed());
    }
}

// The cookies of a request's one Cookie line, sorted: the order among the
// chain's cookies is the cookie engine's (longest path first).
QByteArrayList sortedCookies(const RecordedRequest& r)
{
    QByteArrayList pieces = r.header("Cookie").split(';');
    for (QByteArray& piece : pieces)
        piece = piece.trimmed();
    pieces.removeAll(QByteArray());
    std::sort(pieces.begin(), pieces.end());
    return pieces;
}

QByteArrayList lowerNames(const RecordedRequest& r)
{
    QByteArrayList names;
    for (const QByteArray& n : r.headerNames())
        names.append(n.toLower());
    return names;
}

class RecordingSink : public ResponseBodySink
{
public:
    int begins = 0;
    qint64 expected = -2;
    qint64 bytes = 0;
    int writes = 0;
    bool writeBeforeBegin = false;
    bool checkPattern = false; // compare with the server's pattern instead of keeping
    bool patternOk = true;
    QByteArray kept;
    int throwAtWrite = 0;

    void begin(qint64 expectedSize) override
    {
        ++begins;
        expected = expectedSize;
    }
    void write(const char* data, size_t size) override
    {
        if (begins == 0)
            writeBeforeBegin = true;
        if (++writes == throwAtWrite)
            throw ReqlarkError(
                QStringLiteral("Cannot write /tmp/out.bin: No space left on device"));
        if (checkPattern)
            patternOk = patternOk && LoopbackServer::matchesPattern(bytes, data, qint64(size));
        else
            kept.append(data, qsizetype(size));
        bytes += qint64(size);
    }
};

} // namespace

class TestHttpComponent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void requestOnTheWire_data();
    void requestOnTheWire();
    void headersGoOutInOrderOnce();
    void redirectedPostKeepsOrDropsBody_data();
    void redirectedPostKeepsOrDropsBody();

    void responseParts_data();
    void responseParts();
    void finalResponseAfterRedirects();
    void cookiesFollowTheRedirectChain();
    void whichRedirectsAreFollowed_data();
    void whichRedirectsAreFollowed();
    void redirectLimit_data();
    void redirectLimit();
    void statusLinesAndTimesOfEachRequest_data();
    void statusLinesAndTimesOfEachRequest();
    void onlyHttpAndHttps_data();
    void onlyHttpAndHttps();
    void basicAuthRoundTrip();

    void proxy_data();
    void proxy();
    void onlyTheProxySetIsUsed_data();
    void onlyTheProxySetIsUsed();
    void proxyRefusesTheTunnel();

    void tls_data();
    void tls();

    void silenceFailsInTime_data();
    void silenceFailsInTime();
    void slowButSteadyServerIsNotCutOff();
    void unreachableFailsClearly_data();
    void unreachableFailsClearly();

    void badHeaderRefused_data();
    void badHeaderRefused();
    void badServerReply_data();
    void badServerReply();

    void sinkReceivesBody_data();
    void sinkReceivesBody();
    void sinkErrorStopsTransfer();
    void interimResponsesNeverReachSink();

    void bodyLimit_data();
    void bodyLimit();
    void largeBodyByteExact_data();
    void largeBodyByteExact();

    void factory_data();
    void factory();
    void componentCaption_data();
    void componentCaption();

private:
    QTemporaryDir m_certDir;
    std::unique_ptr<TestCerts> m_certs;
    std::unique_ptr<ProxyFixture> m_openProxy;
    std::unique_ptr<ProxyFixture> m_authProxy;
    std::unique_ptr<LoopbackServer> m_elsewhere; // another origin on the same host
};

static const QByteArray kProxyUser = "alice";
static const QByteArray kProxyPassword = "s3cret-42";

void TestHttpComponent::initTestCase()
{
    QVERIFY(m_certDir.isValid());
    try {
        m_certs = std::make_unique<TestCerts>(m_certDir.path());
    } catch (const std::exception& e) {
        QFAIL(e.what());
    }
    m_openProxy = std::make_unique<ProxyFixture>();
    m_authProxy =
        std::make_unique<ProxyFixture>(ProxyFixture::Credentials{kProxyUser, kProxyPassword});
    // It asks for credentials, which only a leak would bring.
    m_elsewhere = std::make_unique<LoopbackServer>();
    m_elsewhere->setHandler([](const RecordedRequest&) -> std::optional<ScriptedResponse> {
        return ScriptedResponse::withBody(401, "Unauthorized",
                                          {"WWW-Authenticate: Basic realm=\"x\""}, "arrived");
    });
}

void TestHttpComponent::cleanupTestCase()
{
    m_openProxy.reset();
    m_authProxy.reset();
    m_elsewhere.reset();
}

// ---------------------------------------------------------------------------
// What goes out

void TestHttpComponent::requestOnTheWire_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArrayList>("rows");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("wireMethod");
    QTest::addColumn<QByteArray>("wireTarget");
    QTest::addColumn<QByteArray>("wireBody");
    QTest::addColumn<QByteArray>("contentLength"); // empty: must be absent
    QTest::addColumn<QByteArray>("contentType");   // empty: must be absent

    const QByteArray form = "application/x-www-form-urlencoded";
    const QByteArray big = LoopbackServer::patternBytes(0, 2 * 1024 * 1024 + 17);
    QTest::newRow("get lower-case")
        << QByteArray("get") << QByteArray("/a/b?x=1&y=2") << QByteArrayList{} << QByteArray()
        << QByteArray("GET") << QByteArray("/a/b?x=1&y=2") << QByteArray() << QByteArray()
        << QByteArray();
    QTest::newRow("GET never carries a body")
        << QByteArray("GET") << QByteArray("/g") << QByteArrayList{"Content-Length: 7"}
        << QByteArray("ignored") << QByteArray("GET") << QByteArray("/g") << QByteArray()
        << QByteArray() << QByteArray();
    QTest::newRow("post lower-case with form")
        << QByteArray("post") << QByteArray("/p") << QByteArrayList{"Content-Type: " + form}
        << QByteArray("a=1&b=%E4") << QByteArray("POST") << QByteArray("/p")
        << QByteArray("a=1&b=%E4") << QByteArray("9") << form;
    QTest::newRow("POST empty body") << QByteArray("POST") << QByteArray("/p") << QByteArrayList{}
                                     << QByteArray() << QByteArray("POST") << QByteArray("/p")
                                     << QByteArray() << QByteArray("0") << QByteArray();
    QTest::newRow("Content-Length row is corrected")
        << QByteArray("POST") << QByteArray("/p") << QByteArrayList{"Content-Length: 999"}
        << QByteArray("hello") << QByteArray("POST") << QByteArray("/p") << QByteArray("hello")
        << QByteArray("5") << QByteArray();
    QTest::newRow("Content-Length set twice")
        << QByteArray("POST") << QByteArray("/p")
        << QByteArrayList{"Content-Length: 1", "X-Mid: m", "content-length: 12"}
        << QByteArray("hello world!!") << QByteArray("POST") << QByteArray("/p")
        << QByteArray("hello world!!") << QByteArray("13") << QByteArray();
    QTest::newRow("Content-Length row, empty body")
        << QByteArray("POST") << QByteArray("/p") << QByteArrayList{"Content-Length: 10"}
        << QByteArray() << QByteArray("POST") << QByteArray("/p") << QByteArray() << QByteArray("0")
        << QByteArray();
    QTest::newRow("binary body") << QByteArray("POST") << QByteArray("/bin")
                                 << QByteArrayList{"Content-Type: application/octet-stream"}
                                 << binaryBytes() << QByteArray("POST") << QByteArray("/bin")
                                 << binaryBytes() << QByteArray::number(binaryBytes().size())
                                 << QByteArray("application/octet-stream");
    QTest::newRow("2 MB body without Expect")
        << QByteArray("POST") << QByteArray("/big") << QByteArrayList{} << big << QByteArray("POST")
        << QByteArray("/big") << big << QByteArray::number(big.size()) << QByteArray();
    QTest::newRow("put") << QByteArray("put") << QByteArray("/r/1") << QByteArrayList{}
                         << QByteArray("{\"a\":1}") << QByteArray("PUT") << QByteArray("/r/1")
                         << QByteArray("{\"a\":1}") << QByteArray("7") << QByteArray();
    QTest::newRow("delete") << QByteArray("Delete") << QByteArray("/r/1") << QByteArrayList{}
                            << QByteArray() << QByteArray("DELETE") << QByteArray("/r/1")
                            << QByteArray() << QByteArray("0") << QByteArray();
    QTest::newRow("head") << QByteArray("head") << QByteArray("/h") << QByteArrayList{}
                          << QByteArray("x") << QByteArray("HEAD") << QByteArray("/h")
                          << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("fragment stays home")
        << QByteArray("GET") << QByteArray("/f?q=1#part") << QByteArrayList{} << QByteArray()
        << QByteArray("GET") << QByteArray("/f?q=1") << QByteArray() << QByteArray()
        << QByteArray();
    // "中文" in code page 936 goes out as UTF-8, percent-encoded, like a browser's address bar.
    QTest::newRow("code page 936 path")
        << QByteArray("GET") << QByteArray("/\xD6\xD0\xCE\xC4?q=a b") << QByteArrayList{}
        << QByteArray() << QByteArray("GET") << QByteArray("/%E4%B8%AD%E6%96%87?q=a%20b")
        << QByteArray() << QByteArray() << QByteArray();
}

void TestHttpComponent::requestOnTheWire()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArrayList, rows);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, wireMethod);
    QFETCH(QByteArray, wireTarget);
    QFETCH(QByteArray, wireBody);
    QFETCH(QByteArray, contentLength);
    QFETCH(QByteArray, contentType);

    LoopbackServer server;
    server.setHandler([](const RecordedRequest&) { return ScriptedResponse::ok("done"); });
    auto c = makeComponent();
    c->open(method, server.url(path), false, {}, {});
    setHeaderRows(*c, rows);
    c->send(body);
    QCOMPARE(c->status(), 200);

    QCOMPARE(server.requestCount(), 1);
    const RecordedRequest r = server.lastRequest();
    QCOMPARE(r.method, wireMethod);
    QCOMPARE(r.target, wireTarget);
    QCOMPARE(r.version, QByteArray("HTTP/1.1"));
    QVERIFY(r.complete);
    QCOMPARE(r.headerCount("Transfer-Encoding"), 0);
    QCOMPARE(r.body.size(), wireBody.size());
    QVERIFY(r.body == wireBody);
    // Nothing but the head and the body: no stray bytes after the body.
    QVERIFY(r.raw == r.head + wireBody);
    QCOMPARE(r.headerCount("Content-Length"), contentLength.isEmpty() ? 0 : 1);
    QCOMPARE(r.header("Content-Length"), contentLength);
    QCOMPARE(r.headerCount("Content-Type"), contentType.isEmpty() ? 0 : 1);
    QCOMPARE(r.header("Content-Type"), contentType);
    QCOMPARE(r.headerCount("Expect"), 0);
    QCOMPARE(r.headerCount("Host"), 1);
    QCOMPARE(r.header("Host"), "127.0.0.1:" + QByteArray::number(server.port()));
}

void TestHttpComponent::headersGoOutInOrderOnce()
{
    LoopbackServer server;
    server.setHandler([](const RecordedRequest&) { return ScriptedResponse::ok("done"); });
    auto c = makeComponent();
    c->open("POST", server.url("/order"), false, {}, {});
    c->setRequestHeader("X-First", "1");
    c->setRequestHeader("Accept", "text/html");
    c->setRequestHeader("User-Agent", "Probe/2.0 (test)");
    c->setRequestHeader("X-Empty", "");
    c->setRequestHeader("Cookie", "a=b; c=d");
    c->setRequestHeader("X-Blank", "  ");
    c->setRequestHeader("X-Repeat", "old");
    c->setRequestHeader("X-Last", "z z");
    c->setRequestHeader("x-repeat", "new"); // replaces the earlier row in its place
    c->send("k=v");

    RecordedRequest r = server.lastRequest();
    const QByteArrayList ours = {"x-first", "accept",  "user-agent", "x-empty",
                                 "cookie",  "x-blank", "x-repeat",   "x-last"};
    QByteArrayList seen;
    for (const QByteArray& name : lowerNames(r)) {
        if (ours.contains(name))
            seen.append(name);
    }
    QCOMPARE(seen, ours);
    QCOMPARE(r.header("X-Repeat"), QByteArray("new"));
    QCOMPARE(r.header("User-Agent"), QByteArray("Probe/2.0 (test)"));
    QCOMPARE(r.header("Accept"), QByteArray("text/html"));
    QCOMPARE(r.header("Cookie"), QByteArray("a=b; c=d"));
    QCOMPARE(r.header("X-Last"), QByteArray("z z"));
    QCOMPARE(r.header("X-Empty"), QByteArray());
    QCOMPARE(r.header("X-Blank"), QByteArray());
    QCOMPARE(r.body, QByteArray("k=v"));

    // Opening again starts from nothing: none of the rows above go out.
    c->open("GET", server.url("/again"), false, {}, {});
    c->send({});
    r = server.lastRequest();
    QCOMPARE(r.target, QByteArray("/again"));
    for (const char* name : {"X-First", "X-Empty", "Cookie", "X-Repeat", "X-Last"})
        QVERIFY2(r.headerCount(name) == 0, name);
    QVERIFY(r.header("User-Agent") != "Probe/2.0 (test)");
    QCOMPARE(r.headerCount("User-Agent"), 1);
}

void TestHttpComponent::redirectedPostKeepsOrDropsBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("followMethod");
    QTest::addColumn<bool>("bodyKept");
    QTest::newRow("301") << 301 << QByteArray("GET") << false;
    QTest::newRow("302") << 302 << QByteArray("GET") << false;
    QTest::newRow("303") << 303 << QByteArray("GET") << false;
    QTest::newRow("307") << 307 << QByteArray("POST") << true;
    QTest::newRow("308") << 308 << QByteArray("POST") << true;
}

void TestHttpComponent::redirectedPostKeepsOrDropsBody()
{
    QFETCH(int, status);
    QFETCH(QByteArray, followMethod);
    QFETCH(bool, bodyKept);

    LoopbackServer server;
    server.route("/form", ScriptedResponse::redirect(status, "/landing", "see /landing"));
    server.route("/landing", ScriptedResponse::ok("landed"));
    auto c = makeComponent(kProgIdServerXmlHttp, shortTimeouts());
    c->open("POST", server.url("/form"), false, {}, {});
    // A Content-Length row, as a header list imported from a browser holds.
    c->setRequestHeader("Content-Length", "11");
    c->setRequestHeader("X-Keep", "yes");
    const std::optional<QString> error = httpErrorOf([&] { c->send("name=value!"); });
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QCOMPARE(c->status(), 200);
    QCOMPARE(*c->responseBody(), QByteArray("landed"));

    const std::vector<RecordedRequest> requests = server.requests();
    QCOMPARE(int(requests.size()), 2);
    QCOMPARE(requests[0].body, QByteArray("name=value!"));
    const RecordedRequest& follow = requests[1];
    QCOMPARE(follow.target, QByteArray("/landing"));
    QCOMPARE(follow.method, followMethod);
    QCOMPARE(follow.header("X-Keep"), QByteArray("yes"));
    QVERIFY(follow.complete);
    if (bodyKept) {
        QCOMPARE(follow.body, QByteArray("name=value!"));
        QCOMPARE(follow.header("Content-Length"), QByteArray("11"));
    } else {
        QVERIFY(follow.body.isEmpty());
        QCOMPARE(follow.headerCount("Content-Length"), 0);
        QVERIFY(follow.raw == follow.head);
    }
}

// ---------------------------------------------------------------------------
// What comes back

void TestHttpComponent::responseParts_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<ScriptedResponse>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("statusText");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<bool>("hasBody");
    QTest::addColumn<QByteArray>("body");

    using R = ScriptedResponse;
    QTest::newRow("200 with body")
        << QByteArray("GET")
        << R::withBody(200, "OK", {"Content-Type: text/html; charset=gbk", "X-Trace: a b  c"},
                       "hello")
        << 200 << QByteArray("OK")
        << QByteArray("Content-Type: text/html; charset=gbk\r\nX-Trace: a b  c\r\n"
                      "Content-Length: 5")
        << true << QByteArray("hello");
    QTest::newRow("Content-Length 0 is an empty body")
        << QByteArray("GET") << R::withBody(200, "OK", {}, {}) << 200 << QByteArray("OK")
        << QByteArray("Content-Length: 0") << true << QByteArray("");
    QTest::newRow("204 has no body")
        << QByteArray("POST") << R::headOnly("HTTP/1.1 204 No Content", {"X-A: 1"}) << 204
        << QByteArray("No Content") << QByteArray("X-A: 1") << false << QByteArray();
    QTest::newRow("304 has no body")
        << QByteArray("GET") << R::headOnly("HTTP/1.1 304 Not Modified", {"ETag: \"v1\""}) << 304
        << QByteArray("Not Modified") << QByteArray("ETag: \"v1\"") << false << QByteArray();
    QTest::newRow("HEAD has no body")
        << QByteArray("HEAD") << R::headOnly("HTTP/1.1 200 OK", {"Content-Length: 1234"}) << 200
        << QByteArray("OK") << QByteArray("Content-Length: 1234") << false << QByteArray();
    QTest::newRow("chunked") << QByteArray("GET")
                             << R::headOnly("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"})
                                    .send("5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\n\r\n")
                             << 200 << QByteArray("OK") << QByteArray("Transfer-Encoding: chunked")
                             << true << QByteArray("hello, world");
    QTest::newRow("body up to the close")
        << QByteArray("GET")
        << R::headOnly("HTTP/1.1 200 OK", {"Connection: close"}).send("all of it").close() << 200
        << QByteArray("OK") << QByteArray("Connection: close") << true << QByteArray("all of it");
    QTest::newRow("binary body") << QByteArray("GET") << R::withBody(200, "OK", {}, binaryBytes())
                                 << 200 << QByteArray("OK")
                                 << "Content-Length: " + QByteArray::number(binaryBytes().size())
                                 << true << binaryBytes();
    QTest::newRow("reason with blanks")
        << QByteArray("GET") << R::withBody(404, "Not Found Here", {}, "nope") << 404
        << QByteArray("Not Found Here") << QByteArray("Content-Length: 4") << true
        << QByteArray("nope");
    QTest::newRow("no reason phrase")
        << QByteArray("GET") << R().send("HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok") << 200
        << QByteArray() << QByteArray("Content-Length: 2") << true << QByteArray("ok");
    QTest::newRow("HTTP/1.0 reply")
        << QByteArray("GET") << R().send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok").close()
        << 200 << QByteArray("OK") << QByteArray("Content-Length: 2") << true << QByteArray("ok");
    QTest::newRow("interim 100 then 200")
        << QByteArray("POST")
        << R().send("HTTP/1.1 100 Continue\r\nX-Interim: yes\r\n\r\n"
                    "HTTP/1.1 201 Created\r\nLocation: /x\r\nContent-Length: 1\r\n\r\n!")
        << 201 << QByteArray("Created") << QByteArray("Location: /x\r\nContent-Length: 1") << true
        << QByteArray("!");
    QTest::newRow("500 is a reply, not an error")
        << QByteArray("GET") << R::withBody(500, "Internal Server Error", {}, "trace") << 500
        << QByteArray("Internal Server Error") << QByteArray("Content-Length: 5") << true
        << QByteArray("trace");
    const QList<QByteArray> cookies = {
        "Set-Cookie: a=1; Path=/; HttpOnly",
        "Set-Cookie: =novalue",
        "Set-Cookie: b=",
        "Set-Cookie: c=\"q;u\"; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=-1",
        "Set-Cookie: \xD6\xD0=\xCE\xC4; Domain=.127.0.0.1",
        "set-cookie:nospace=1",
        "Set-Cookie: " + QByteArray(3000, 'z') + "=long",
        "X-Spaces:   padded   ",
    };
    QTest::newRow("odd Set-Cookie lines pass through")
        << QByteArray("GET") << R::withBody(200, "OK", cookies, "c") << 200 << QByteArray("OK")
        << cookies.join("\r\n") + "\r\nContent-Length: 1" << true << QByteArray("c");
}

void TestHttpComponent::responseParts()
{
    QFETCH(QByteArray, method);
    QFETCH(ScriptedResponse, reply);
    QFETCH(int, status);
    QFETCH(QByteArray, statusText);
    QFETCH(QByteArray, headers);
    QFETCH(bool, hasBody);
    QFETCH(QByteArray, body);

    LoopbackServer server;
    server.enqueue(reply);
    auto c = makeComponent(kProgIdServerXmlHttp, shortTimeouts());
    c->open(method, server.url("/reply"), false, {}, {});
    const std::optional<QString> error = httpErrorOf([&] { c->send("x"); });
    QVERIFY2(!error, qPrintable(error.value_or(QString())));

    QCOMPARE(c->status(), status);
    QCOMPARE(c->statusText(), statusText);
    QCOMPARE(c->getAllResponseHeaders(), headers);
    QCOMPARE(c->hasResponseBody(), hasBody);
    const std::optional<QByteArray> got = c->responseBody();
    QCOMPARE(got.has_value(), hasBody);
    if (hasBody) {
        QVERIFY(*got == body);
        QCOMPARE(c->bodyBytesReceived(), qint64(body.size()));
    }
}

void TestHttpComponent::finalResponseAfterRedirects()
{
    LoopbackServer server;
    server.route("/start", ScriptedResponse::withBody(
                               302, "Found",
                               {"Location: /middle?from=start", "Set-Cookie: hop=1", "X-Hop: 1"},
                               "first hop body"));
    server.route("/middle", ScriptedResponse::withBody(
                                301, "Moved Permanently",
                                {"Location: " + server.url("/final"), "X-Hop: 2"}, "second"));
    server.route("/final", ScriptedResponse::withBody(
                               200, "Fine", {"Content-Type: text/plain", "X-Final: yes"}, "end"));
    auto c = makeComponent();
    c->open("GET", server.url("/start"), false, {}, {});
    c->send({});

    QCOMPARE(c->status(), 200);
    QCOMPARE(c->statusText(), QByteArray("Fine"));
    QCOMPARE(c->getAllResponseHeaders(),
             QByteArray("Content-Type: text/plain\r\nX-Final: yes\r\nContent-Length: 3"));
    QCOMPARE(*c->responseBody(), QByteArray("end"));
    QCOMPARE(c->bodyBytesReceived(), qint64(3));

    QByteArrayList targets;
    for (const RecordedRequest& r : server.requests())
        targets.append(r.target);
    QCOMPARE(targets, (QByteArrayList{"/start", "/middle?from=start", "/final"}));
}

void TestHttpComponent::cookiesFollowTheRedirectChain()
{
    // Names under .localhost reach the loopback server, so that hosts and a
    // domain of two labels can be told apart.
    LoopbackServer server;
    const QByteArray port = QByteArray::number(server.port());
    const QByteArray local = "http://login.example.localhost:" + port;
    using R = ScriptedResponse;
    server.route("/login", R::withBody(302, "Found",
                                       {"Set-Cookie: sid=s1; Path=/; HttpOnly",
                                        "Set-Cookie: area=a1; Path=/app",
                                        "Set-Cookie: wide=w1; Domain=example.localhost; Path=/",
                                        "Set-Cookie: old=o1; Expires=Thu, 01 Jan 1970 00:00:00 GMT",
                                        "Location: /app/home"},
                                       "moved"));
    server.route("/app/home",
                 R::withBody(302, "Found", {"Location: " + server.url("/app/ip")}, {}));
    server.route("/app/ip", R::withBody(302, "Found",
                                        {"Set-Cookie: ip=i1; Path=/",
                                         "Location: http://app.example.localhost:" + port + "/sub"},
                                        {}));
    // A Secure cookie from a plain http origin is refused.
    server.route("/sub", R::withBody(303, "See Other",
                                     {"Set-Cookie: sec=x; Secure; Domain=example.localhost; Path=/",
                                      "Set-Cookie: fromsub=f1; Domain=example.localhost; Path=/",
                                      "Location: " + local + "/final"},
                                     {}));
    server.route("/final", R::withBody(200, "OK", {"Set-Cookie: last=l1"}, "welcome"));

    auto c = makeComponent();
    c->open("GET", local + "/login", false, {}, {});
    c->setRequestHeader("Authorization", "Bearer t0k");
    c->send({});
    QCOMPARE(*c->responseBody(), QByteArray("welcome"));
    const std::vector<RecordedRequest> r = server.requests();
    QCOMPARE(int(r.size()), 5);
    const auto cookies = [&](int i) { return sortedCookies(r[size_t(i)]); };
    QCOMPARE(r[0].headerCount("Cookie"), 0);
    // Host-only, Path=/app and domain cookies; not the expired one.
    QCOMPARE(cookies(1), (QByteArrayList{"area=a1", "sid=s1", "wide=w1"}));
    // 127.0.0.1: another host, so none of them, nor the Authorization row.
    QCOMPARE(r[2].headerCount("Cookie") + r[2].headerCount("Authorization"), 0);
    // Another host of the domain gets the domain's cookie only.
    QCOMPARE(cookies(3), (QByteArrayList{"wide=w1"}));
    // Back on the first host, at another path.
    QCOMPARE(cookies(4), (QByteArrayList{"fromsub=f1", "sid=s1", "wide=w1"}));
    QCOMPARE(r[4].header("Authorization"), QByteArray("Bearer t0k"));
    for (const RecordedRequest& each : r)
        QVERIFY2(each.headerCount("Cookie") <= 1, each.head.constData());

    // Every response's headers in order, the final ones last.
    const QByteArrayList chain = c->responseHeaderChain();
    QCOMPARE(chain.size(), 5);
    QCOMPARE(chain[4], c->getAllResponseHeaders());
    QCOMPARE(ExtractSetCookies(chain.join("\r\n")),
             QByteArray("sid=s1; area=a1; wide=w1; old=; ip=i1; sec=x; fromsub=f1; last=l1;"));

    // Nothing carries over to the next send: neither the chain's cookies nor
    // what they superseded of the Cookie row.
    server.route("/again", R::redirect(302, "/final"));
    c->open("GET", local + "/again", false, {}, {});
    c->setRequestHeader("Cookie", "sid=mine; area=mine");
    c->send({});
    QCOMPARE(server.lastRequest().target, QByteArray("/final"));
    QCOMPARE(server.lastRequest().header("Cookie"), QByteArray("sid=mine; area=mine"));
    QCOMPARE(c->responseHeaderChain().size(), 2);
}

void TestHttpComponent::whichRedirectsAreFollowed_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<ScriptedResponse>("reply");  // at /dir/start; elsewhere "arrived"
    QTest::addColumn<QByteArray>("cookieRow");    // empty: none
    QTest::addColumn<QByteArray>("follow");       // method, target and body of the next request
    QTest::addColumn<QByteArray>("followCookie"); // its Cookie line

    using R = ScriptedResponse;
    const auto moved = [](int status, const QByteArray& setCookie, const QByteArray& location) {
        QList<QByteArray> headers;
        if (!setCookie.isEmpty())
            headers.append("Set-Cookie: " + setCookie);
        if (!location.isEmpty())
            headers.append("Location: " + location);
        return R::withBody(status, "Moved", headers, "moved");
    };
    const QByteArray get = "GET", put = "PUT", post = "POST", head = "HEAD", none;
    QTest::newRow("PUT 301 stays PUT")
        << put << moved(301, none, "/next") << none << QByteArray("PUT /next payload") << none;
    QTest::newRow("PUT 303 becomes GET")
        << put << moved(303, none, "/next") << none << QByteArray("GET /next ") << none;
    QTest::newRow("HEAD 303 stays HEAD")
        << head << R::headOnly("HTTP/1.1 303 See Other", {"Location: /next", "Content-Length: 5"})
        << none << QByteArray("HEAD /next ") << none;
    QTest::newRow("relative to the folder, blank encoded")
        << get << moved(302, none, "b c?x=1") << none << QByteArray("GET /dir/b%20c?x=1 ") << none;
    QTest::newRow("300 is final") << get << moved(300, none, "/next") << none << none << none;
    QTest::newRow("302 without Location is final")
        << get << moved(302, none, none) << none << none << none;
    // Typed without "http://", as most addresses are.
    QTest::newRow("address without a scheme")
        << get << moved(301, none, "/next") << none << QByteArray("GET /next ") << none;
    // Its body, lasting until the server closes, is not waited for.
    QTest::newRow("redirect body up to the close")
        << get << R().send("HTTP/1.1 302 Found\r\nLocation: /next\r\n\r\nstill coming").stall(-1)
        << none << QByteArray("GET /next ") << none;
    // The user's Cookie row, and what the redirect sets (for /dir).
    QTest::newRow("no cookie set: the row as given")
        << post << moved(302, none, "next") << QByteArray("a=1;b=2;  c=3")
        << QByteArray("GET /dir/next ") << QByteArray("a=1;b=2;  c=3");
    QTest::newRow("the server's value replaces the row's")
        << post << moved(307, "sid=new; Path=/", "next") << QByteArray("sid=old; lang=zh")
        << QByteArray("POST /dir/next payload") << QByteArray("sid=new; lang=zh");
    QTest::newRow("a cookie the server deletes is gone")
        << post << moved(303, "sid=; Max-Age=0", "next") << QByteArray("sid=old; lang=zh")
        << QByteArray("GET /dir/next ") << QByteArray("lang=zh");
    QTest::newRow("names are case-sensitive")
        << post << moved(301, "sid=new", "next") << QByteArray("SID=old")
        << QByteArray("GET /dir/next ") << QByteArray("sid=new; SID=old");
    // The same host on another port is another origin: the rows and the
    // credentials that belong to the first stay there.
    QTest::newRow("another port") << get << moved(302, none, m_elsewhere->url("/next"))
                                  << QByteArray("a=1") << QByteArray("GET /next ") << none;
}

void TestHttpComponent::whichRedirectsAreFollowed()
{
    QFETCH(QByteArray, method);
    QFETCH(ScriptedResponse, reply);
    QFETCH(QByteArray, cookieRow);
    QFETCH(QByteArray, follow);
    QFETCH(QByteArray, followCookie);

    LoopbackServer server;
    server.route("/dir/start", reply);
    server.setHandler([](const RecordedRequest& r) -> std::optional<ScriptedResponse> {
        if (r.path() == "/dir/start")
            return std::nullopt;
        return ScriptedResponse::ok("arrived");
    });
    m_elsewhere->clearRequests();
    auto c = makeComponent(kProgIdServerXmlHttp, shortTimeouts());
    QByteArray url = server.url("/dir/start");
    if (QByteArray(QTest::currentDataTag()) == "address without a scheme")
        url.remove(0, url.indexOf("://") + 3);
    const QByteArray host = "127.0.0.1:" + QByteArray::number(server.port());
    c->open(method, url, false, "user", "pw");
    c->setRequestHeader("Accept", "*/*");
    if (!cookieRow.isEmpty())
        c->setRequestHeader("Cookie", cookieRow);
    c->setRequestHeader("Authorization", "Bearer t0k");
    c->setRequestHeader("Host", host);
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> error = httpErrorOf([&] { c->send("payload"); });
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QVERIFY(timer.elapsed() < 1000); // well under the 1.5 s of silence that gives up
    std::vector<RecordedRequest> r = server.requests();
    const std::vector<RecordedRequest> elsewhere = m_elsewhere->requests();
    r.insert(r.end(), elsewhere.begin(), elsewhere.end());
    QCOMPARE(int(r.size()), follow.isEmpty() ? 1 : 2);
    const QByteArray body = follow.isEmpty() ? "moved" : "arrived";
    QCOMPARE(c->responseBody().value_or(QByteArray()), method == "HEAD" ? QByteArray() : body);
    QCOMPARE(c->responseHeaderChain().size(), int(r.size()));
    // The row as given, in its place among the rows.
    QCOMPARE(r[0].header("Cookie"), cookieRow);
    if (!cookieRow.isEmpty())
        QCOMPARE(lowerNames(r[0]).indexOf("cookie"), lowerNames(r[0]).indexOf("accept") + 1);
    if (!follow.isEmpty()) {
        QCOMPARE(r[1].method + ' ' + r[1].target + ' ' + r[1].body, follow);
        QCOMPARE(r[1].headerCount("Cookie"), followCookie.isEmpty() ? 0 : 1);
        QCOMPARE(r[1].header("Cookie"), followCookie);
        QCOMPARE(r[1].header("Authorization"), elsewhere.empty() ? "Bearer t0k" : QByteArray());
        const quint16 reached = elsewhere.empty() ? server.port() : m_elsewhere->port();
        QCOMPARE(r[1].header("Host"), "127.0.0.1:" + QByteArray::number(reached));
    }
}

void TestHttpComponent::statusLinesAndTimesOfEachRequest_data()
{
    QTest::addColumn<bool>("tls");
    QTest::newRow("http") << false;
    QTest::newRow("https") << true;
}

void TestHttpComponent::statusLinesAndTimesOfEachRequest()
{
    QFETCH(bool, tls);
    const auto server = tls ? std::make_unique<LoopbackServer>(LoopbackServer::TlsFiles{
                                  m_certs->valid().certFile, m_certs->valid().keyFile})
                            : std::make_unique<LoopbackServer>();
    server->route("/a", ScriptedResponse::redirect(302, "/b"));
    server->route("/b", ScriptedResponse().send("HTTP/1.1 404 Not Here\r\nContent-Length: "
                                                "4\r\n\r\ngone"));
    HttpComponentConfig config = shortTimeouts();
    config.caFile = m_certs->caFile().toLocal8Bit();
    auto c = makeComponent(kProgIdServerXmlHttp, config);
    c->open("GET", server->url("/a"), false, {}, {});
    c->send({});
    QCOMPARE(c->responseStatusChain(),
             (QByteArrayList{"HTTP/1.1 302 Moved", "HTTP/1.1 404 Not Here"}));
    const QList<HttpHopTiming> times = c->responseTimings();
    QCOMPARE(times.size(), 2);
    for (const HttpHopTiming& t : times) {
        QVERIFY(t.nameLookup > 0 && std::max(t.connect, t.tlsHandshake) <= t.firstByte);
        QVERIFY(t.firstByte > 0 && t.firstByte <= t.total);
    }
    // The first request connects (and shakes hands); the second uses its
    // connection again.
    QVERIFY(times.first().connect >= times.first().nameLookup);
    QCOMPARE(times.first().tlsHandshake > times.first().connect, tls);
    QCOMPARE(server->connectionCount(), 1);
    QCOMPARE(times.last().connect + times.last().tlsHandshake, 0);
    QVERIFY(times.last().bytesPerSecond > 0);
}

void TestHttpComponent::redirectLimit_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("10 redirects are followed") << 10 << true;
    QTest::newRow("11 redirects are refused") << 11 << false;
}

void TestHttpComponent::redirectLimit()
{
    QFETCH(int, hops);
    QFETCH(bool, succeeds);

    LoopbackServer server;
    server.setHandler([](const RecordedRequest& r) -> std::optional<ScriptedResponse> {
        const int left = r.path().mid(5).toInt(); // "/hop/N"
        if (left == 0)
            return ScriptedResponse::ok("arrived");
        return ScriptedResponse::redirect(302, "/hop/" + QByteArray::number(left - 1));
    });
    auto c = makeComponent();
    c->open("GET", server.url("/hop/" + QByteArray::number(hops)), false, {}, {});
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QCOMPARE(server.requestCount(), 11);
    if (succeeds) {
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
        QCOMPARE(*c->responseBody(), QByteArray("arrived"));
        QCOMPARE(server.lastRequest().target, QByteArray("/hop/0"));
    } else {
        QVERIFY(error);
        QVERIFY2(error->contains(QStringLiteral("超过 10 次")), qPrintable(*error));
        QVERIFY2(error->contains(QLatin1String("127.0.0.1")), qPrintable(*error));
    }
}

void TestHttpComponent::onlyHttpAndHttps_data()
{
    QTest::addColumn<QByteArray>("url");      // "PORT" stands for the server's port
    QTest::addColumn<QByteArray>("redirect"); // empty: the URL is opened directly
    QTest::newRow("file URL") << QByteArray("file:///etc/passwd") << QByteArray();
    QTest::newRow("gopher URL") << QByteArray("gopher://127.0.0.1:PORT/1") << QByteArray();
    QTest::newRow("ftp URL") << QByteArray("ftp://127.0.0.1:PORT/x") << QByteArray();
    QTest::newRow("FILE in capitals") << QByteArray("FILE:///etc/passwd") << QByteArray();
    QTest::newRow("redirect to file") << QByteArray() << QByteArray("file:///etc/passwd");
    QTest::newRow("redirect to ftp on the same port")
        << QByteArray() << QByteArray("ftp://127.0.0.1:PORT/pub/x");
    QTest::newRow("redirect to gopher") << QByteArray() << QByteArray("gopher://127.0.0.1:PORT/");
}

void TestHttpComponent::onlyHttpAndHttps()
{
    QFETCH(QByteArray, url);
    QFETCH(QByteArray, redirect);

    LoopbackServer server;
    const QByteArray port = QByteArray::number(server.port());
    url.replace("PORT", port);
    redirect.replace("PORT", port);
    if (!redirect.isEmpty()) {
        server.route("/go", ScriptedResponse::redirect(302, redirect));
        url = server.url("/go");
    }
    auto c = makeComponent();
    const std::optional<QString> error = httpErrorOf([&] {
        c->open("GET", url, false, {}, {});
        c->send({});
    });
    QVERIFY(error);
    QVERIFY2(error->contains(QStringLiteral("只支持 http 和 https")), qPrintable(*error));
    const QByteArray named = redirect.isEmpty() ? url : redirect;
    QVERIFY2(error->contains(QString::fromLatin1(named)), qPrintable(*error));
    if (redirect.isEmpty()) {
        QCOMPARE(server.connectionCount(), 0);
    } else {
        QVERIFY2(error->contains(QStringLiteral("从 127.0.0.1:") + QLatin1String(port)),
                 qPrintable(*error));
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(server.requestCount(), 1);
    }
}

void TestHttpComponent::basicAuthRoundTrip()
{
    LoopbackServer server;
    server.setHandler([](const RecordedRequest& r) -> std::optional<ScriptedResponse> {
        if (r.header("Authorization") != "Basic " + QByteArray("user:pa ss").toBase64()) {
            return ScriptedResponse::withBody(
                401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"t\""}, "LOGIN PAGE");
        }
        return ScriptedResponse::ok("secret");
    });
    auto c = makeComponent();
    RecordingSink sink;
    c->setResponseBodySink(&sink);
    c->open("GET", server.url("/private"), false, "user", "pa ss");
    c->send({});
    QCOMPARE(c->status(), 200);
    QCOMPARE(c->getAllResponseHeaders(),
             QByteArray("Content-Type: text/plain\r\nContent-Length: 6"));
    QCOMPARE(sink.kept, QByteArray("secret"));
    QCOMPARE(sink.begins, 1);
    QVERIFY(server.requestCount() >= 1);
    QCOMPARE(server.lastRequest().header("Authorization"),
             "Basic " + QByteArray("user:pa ss").toBase64());
}

// ---------------------------------------------------------------------------
// Proxies

void TestHttpComponent::proxy_data()
{
    QTest::addColumn<QByteArray>("progId");
    QTest::addColumn<bool>("authProxy");
    QTest::addColumn<QByteArray>("user"); // empty: setProxyCredentials not called
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("viaProxy");

    const QByteArray sxh = kProgIdServerXmlHttp;
    const QByteArray win = kProgIdWinHttp;
    const QByteArray xml = kProgIdXmlHttp;
    QTest::newRow("ServerXMLHTTP, open proxy")
        << sxh << false << QByteArray() << QByteArray() << 200 << true;
    QTest::newRow("ServerXMLHTTP, right credentials")
        << sxh << true << kProxyUser << kProxyPassword << 200 << true;
    // tinyproxy 1.11 refuses a wrong password with 401 rather than 407;
    // either way the refusal must come back as the status, not as an error.
    QTest::newRow("ServerXMLHTTP, wrong password")
        << sxh << true << kProxyUser << QByteArray("wrong") << 401 << true;
    QTest::newRow("ServerXMLHTTP, no credentials")
        << sxh << true << QByteArray() << QByteArray() << 407 << true;
    QTest::newRow("WinHTTP, open proxy")
        << win << false << QByteArray() << QByteArray() << 200 << true;
    QTest::newRow("WinHTTP ignores credentials")
        << win << true << kProxyUser << kProxyPassword << 407 << true;
    QTest::newRow("XMLHTTP ignores the proxy")
        << xml << false << QByteArray() << QByteArray() << 200 << false;
    QTest::newRow("XMLHTTP ignores the auth proxy")
        << xml << true << kProxyUser << kProxyPassword << 200 << false;
}

void TestHttpComponent::proxy()
{
    QFETCH(QByteArray, progId);
    QFETCH(bool, authProxy);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(int, status);
    QFETCH(bool, viaProxy);

    ProxyFixture& proxy = authProxy ? *m_authProxy : *m_openProxy;
    QVERIFY2(proxy.isRunning(), qPrintable(proxy.error()));

    LoopbackServer server;
    server.setHandler(
        [](const RecordedRequest& r) { return ScriptedResponse::ok("got " + r.body); });
    const QByteArray path = "/through/" + QByteArray(QTest::currentDataTag()).toPercentEncoding();
    const QByteArray url = server.url(path);
    const QByteArray payload = "payload of " + QByteArray(QTest::currentDataTag());
    const int proxiedBefore = proxy.requestCount();
    const int forwardedBefore = proxy.forwardedCount();

    auto c = makeComponent(progId.constData(), shortTimeouts());
    c->open("POST", url, false, {}, {});
    c->setProxy(kProxySettingNamedServer, proxy.address());
    if (!user.isEmpty())
        c->setProxyCredentials(user, password);
    const std::optional<QString> error = httpErrorOf([&] { c->send(payload); });
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QCOMPARE(c->status(), status);

    const QByteArray proxiedLine = "POST " + url + " HTTP/1.1";
    const QList<QByteArray> lines = proxy.requestLines().mid(proxiedBefore);
    if (viaProxy) {
        QVERIFY2(lines.contains(proxiedLine), lines.join('\n').constData());
    } else {
        QVERIFY2(lines.isEmpty(), lines.join('\n').constData());
    }
    QCOMPARE(proxy.forwardedCount() - forwardedBefore, viaProxy && status == 200 ? 1 : 0);
    if (status == 200) {
        QCOMPARE(server.requestCount(), 1);
        const RecordedRequest r = server.lastRequest();
        QCOMPARE(r.body, payload);
        // tinyproxy marks what it forwards.
        QCOMPARE(r.header("Via").contains("tinyproxy"), viaProxy);
        QCOMPARE(*c->responseBody(), "got " + payload);
    } else {
        QCOMPARE(server.requestCount(), 0);
        QVERIFY2(c->getAllResponseHeaders().contains("Server: tinyproxy"),
                 c->getAllResponseHeaders().constData());
    }
}

void TestHttpComponent::onlyTheProxySetIsUsed_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("authProxy");
    QTest::addColumn<QByteArray>("user");        // empty: no credentials given
    QTest::addColumn<QByteArray>("environment"); // "DEAD": a proxy nobody listens on
    QTest::addColumn<bool>("proxySet");
    QTest::addColumn<int>("status");

    const QByteArray none;
    QTest::newRow("https, open proxy") << true << false << none << none << true << 200;
    QTest::newRow("https, credentials") << true << true << kProxyUser << none << true << 200;
    // A refused tunnel shows the proxy's status.
    QTest::newRow("https, no credentials") << true << true << none << none << true << 407;
    QTest::newRow("no_proxy=*, a proxy set")
        << false << false << none << QByteArray("no_proxy=*") << true << 200;
    QTest::newRow("NO_PROXY naming the host, a proxy set")
        << false << false << none << QByteArray("NO_PROXY=localhost,127.0.0.1") << true << 200;
    QTest::newRow("http_proxy, no proxy set")
        << false << false << none << QByteArray("http_proxy=http://DEAD") << false << 200;
}

void TestHttpComponent::onlyTheProxySetIsUsed()
{
    QFETCH(bool, tls);
    QFETCH(bool, authProxy);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, environment);
    QFETCH(bool, proxySet);
    QFETCH(int, status);
    ProxyFixture& proxy = authProxy ? *m_authProxy : *m_openProxy;
    QVERIFY2(proxy.isRunning(), qPrintable(proxy.error()));

    const QByteArray name = environment.left(environment.indexOf('='));
    const std::optional<QByteArray> old =
        qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
    const auto restore = qScopeGuard([&] { old ? qputenv(name, *old) : qunsetenv(name); });
    if (!environment.isEmpty()) {
        qputenv(name, environment.mid(name.size() + 1)
                          .replace("DEAD", "127.0.0.1:" + QByteArray::number(closedPort())));
    }

    const auto server = tls ? std::make_unique<LoopbackServer>(LoopbackServer::TlsFiles{
                                  m_certs->valid().certFile, m_certs->valid().keyFile})
                            : std::make_unique<LoopbackServer>();
    server->route("/p", ScriptedResponse::withBody(200, "OK", {"Set-Cookie: a=1"}, "body"));
    HttpComponentConfig config = shortTimeouts();
    config.caFile = m_certs->caFile().toLocal8Bit();
    const int proxiedBefore = proxy.requestCount();
    auto c = makeComponent(kProgIdServerXmlHttp, config);
    c->open("GET", server->url("/p"), false, {}, {});
    if (proxySet)
        c->setProxy(kProxySettingNamedServer, proxy.address());
    if (!user.isEmpty())
        c->setProxyCredentials(user, kProxyPassword);
    c->send({});
    QCOMPARE(c->status(), status);
    QCOMPARE(server->requestCount(), status == 200 ? 1 : 0);
    QCOMPARE(proxy.requestCount() > proxiedBefore, proxySet);
    if (!tls)
        QCOMPARE(server->lastRequest().header("Via").contains("tinyproxy"), proxySet);
    // The proxy's answers to CONNECT are no responses of the chain, unless
    // its refusal is all there is.
    const QByteArrayList chain = c->responseHeaderChain();
    QCOMPARE(chain, QByteArrayList{c->getAllResponseHeaders()});
    QCOMPARE(chain.first().contains("Set-Cookie: a=1"), status == 200);
    // Nor are their status lines.
    const QByteArrayList statusLines = c->responseStatusChain();
    QCOMPARE(statusLines.size(), 1);
    QCOMPARE(statusLines.first().split(' ').value(1), QByteArray::number(status));
    if (status == 200)
        QCOMPARE(statusLines.first(), QByteArray("HTTP/1.1 200 OK"));
}

// A proxy that keeps refusing the credentials it was given for a tunnel to
// an https address: the error names the proxy and its refusal, not the target.
void TestHttpComponent::proxyRefusesTheTunnel()
{
    LoopbackServer proxy;
    proxy.setHandler([](const RecordedRequest&) {
        return std::optional<ScriptedResponse>(ScriptedResponse::withBody(
            407, "Proxy Authentication Required", {"Proxy-Authenticate: Basic realm=\"p\""}, {}));
    });
    const QByteArray address = "127.0.0.1:" + QByteArray::number(proxy.port());
    auto c = makeComponent(kProgIdServerXmlHttp, shortTimeouts());
    c->open("GET", "https://127.0.0.1:" + QByteArray::number(closedPort()) + "/x", false, {}, {});
    c->setProxy(kProxySettingNamedServer, address);
    c->setProxyCredentials(kProxyUser, "wrong");
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QVERIFY(error);
    QVERIFY2(error->startsWith(QStringLiteral("代理服务器 %1 拒绝了代理认证（407）")
                                   .arg(QString::fromLatin1(address))),
             qPrintable(*error));
    QCOMPARE(proxy.lastRequest().header("Proxy-Authorization"),
             "Basic " + (kProxyUser + ":wrong").toBase64());
}

// ---------------------------------------------------------------------------
// TLS

void TestHttpComponent::tls_data()
{
    QTest::addColumn<QByteArray>("progId");
    QTest::addColumn<QString>("cert");
    QTest::addColumn<int>("option2"); // -1: not set
    QTest::addColumn<bool>("viaLocalhost");
    QTest::addColumn<bool>("succeeds");

    const QByteArray sxh = kProgIdServerXmlHttp;
    const QByteArray win = kProgIdWinHttp;
    const QByteArray xml = kProgIdXmlHttp;
    const QString valid = QStringLiteral("valid");
    const QString expired = QStringLiteral("expired");
    const QString future = QStringLiteral("notYetValid");
    QTest::newRow("valid") << sxh << valid << -1 << false << true;
    QTest::newRow("valid by name") << sxh << valid << -1 << true << true;
    QTest::newRow("valid, option set") << sxh << valid << kIgnoreCertDateInvalid << false << true;
    QTest::newRow("valid, WinHTTP") << win << valid << -1 << false << true;
    QTest::newRow("valid, XMLHTTP") << xml << valid << -1 << true << true;
    QTest::newRow("expired") << sxh << expired << -1 << false << false;
    QTest::newRow("expired, option 8192")
        << sxh << expired << kIgnoreCertDateInvalid << false << true;
    QTest::newRow("expired, all flags 13056") << sxh << expired << 13056 << false << true;
    QTest::newRow("expired, other flags 4352") << sxh << expired << 4352 << false << false;
    QTest::newRow("not yet valid") << sxh << future << -1 << false << false;
    QTest::newRow("not yet valid, option 8192")
        << sxh << future << kIgnoreCertDateInvalid << true << true;
    QTest::newRow("wrong host, option 8192")
        << sxh << QStringLiteral("wrongHost") << kIgnoreCertDateInvalid << false << false;
    QTest::newRow("wrong host by name, option 13056")
        << sxh << QStringLiteral("wrongHost") << 13056 << true << false;
    QTest::newRow("untrusted issuer, option 8192")
        << sxh << QStringLiteral("untrusted") << kIgnoreCertDateInvalid << false << false;
    QTest::newRow("untrusted issuer, option 13056")
        << sxh << QStringLiteral("untrusted") << 13056 << false << false;
    QTest::newRow("expired and wrong host, option 8192")
        << sxh << QStringLiteral("expiredWrongHost") << kIgnoreCertDateInvalid << false << false;
    QTest::newRow("expired, WinHTTP ignores option")
        << win << expired << kIgnoreCertDateInvalid << false << false;
    QTest::newRow("expired, XMLHTTP ignores option")
        << xml << expired << kIgnoreCertDateInvalid << false << false;
}

void TestHttpComponent::tls()
{
    QFETCH(QByteArray, progId);
    QFETCH(QString, cert);
    QFETCH(int, option2);
    QFETCH(bool, viaLocalhost);
    QFETCH(bool, succeeds);

    const TestCerts& certs = *m_certs;
    const TestCerts::ServerCert& chosen =
        cert == QLatin1String("valid")         ? certs.valid()
        : cert == QLatin1String("expired")     ? certs.expired()
        : cert == QLatin1String("notYetValid") ? certs.notYetValid()
        : cert == QLatin1String("wrongHost")   ? certs.wrongHost()
        : cert == QLatin1String("untrusted")   ? certs.untrusted()
                                               : certs.expiredWrongHost();
    LoopbackServer server(LoopbackServer::TlsFiles{chosen.certFile, chosen.keyFile});
    server.route("/secure", ScriptedResponse::ok("over tls"));

    HttpComponentConfig config = shortTimeouts();
    config.caFile = certs.caFile().toLocal8Bit();
    auto c = makeComponent(progId.constData(), config);
    const QByteArray url = viaLocalhost ? server.localhostUrl("/secure") : server.url("/secure");
    c->open("GET", url, false, {}, {});
    if (option2 >= 0)
        c->setOption(kOptionIgnoreServerCertErrors, option2);
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    if (succeeds) {
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
        QCOMPARE(c->status(), 200);
        QCOMPARE(*c->responseBody(), QByteArray("over tls"));
        QCOMPARE(server.requestCount(), 1);
    } else {
        QVERIFY(error);
        QVERIFY2(error->contains(QStringLiteral("证书")),
                 qPrintable(*error));
        QVERIFY2(
            error->contains(viaLocalhost ? QLatin1String("localhost") : QLatin1String("127.0.0.1")),
            qPrintable(*error));
        // The request itself never left the client.
        QCOMPARE(server.requestCount(), 0);
    }
}

// ---------------------------------------------------------------------------
// Dead and broken servers

void TestHttpComponent::silenceFailsInTime_data()
{
    QTest::addColumn<ScriptedResponse>("reply");
    QTest::addColumn<bool>("tlsToPlainServer");
    QTest::addColumn<qint64>("bodyBytes");
    QTest::newRow("stall before any byte") << ScriptedResponse().stall(-1) << false << qint64(0);
    QTest::newRow("stall after the headers")
        << ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Content-Length: 100"}).stall(-1) << false
        << qint64(0);
    QTest::newRow("stall in the middle of the body")
        << ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Content-Length: 1000"})
               .send(QByteArray(400, 'b'))
               .stall(-1)
        << false << qint64(400);
    QTest::newRow("stall in the middle of the headers")
        << ScriptedResponse().send("HTTP/1.1 200 OK\r\nX-Half: ").stall(-1) << false << qint64(0);
    // The plain server waits for a request end that the TLS greeting never has.
    QTest::newRow("no TLS handshake answer") << ScriptedResponse() << true << qint64(0);
}

void TestHttpComponent::silenceFailsInTime()
{
    QFETCH(ScriptedResponse, reply);
    QFETCH(bool, tlsToPlainServer);
    QFETCH(qint64, bodyBytes);

    LoopbackServer server;
    server.route("/slow", reply);
    // The connect limit far from the silence limit: the wait and the message
    // tell which one applied.
    HttpComponentConfig config = shortTimeouts();
    config.connectTimeoutMs = 20000;
    auto c = makeComponent(kProgIdServerXmlHttp, config);
    QByteArray url = server.url("/slow");
    if (tlsToPlainServer)
        url.replace("http://", "https://");
    c->open("GET", url, false, {}, {});
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    const qint64 elapsed = timer.elapsed();
    QVERIFY(error);
    QVERIFY2(error->contains(QStringLiteral("127.0.0.1:%1").arg(server.port())),
             qPrintable(*error));
    QVERIFY2(error->contains(QStringLiteral("1.5 秒")), qPrintable(*error));
    // It waited for the silence, and not much longer.
    QVERIFY2(elapsed >= 1400 && elapsed < 6000, QByteArray::number(elapsed).constData());
    QCOMPARE(c->bodyBytesReceived(), bodyBytes);
}

void TestHttpComponent::slowButSteadyServerIsNotCutOff()
{
    // Bytes keep coming, each within the 1.5 s silence limit, for longer
    // than the limit in total.
    ScriptedResponse reply = ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Content-Length: 5"});
    for (const char* piece : {"a", "b", "c", "d", "e"})
        reply.stall(600).send(piece);
    LoopbackServer server;
    server.route("/drip", reply);
    auto c = makeComponent(kProgIdServerXmlHttp, shortTimeouts());
    c->open("GET", server.url("/drip"), false, {}, {});
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QVERIFY(timer.elapsed() >= 2500);
    QCOMPARE(*c->responseBody(), QByteArray("abcde"));
}

void TestHttpComponent::unreachableFailsClearly_data()
{
    QTest::addColumn<bool>("throughProxy");
    QTest::addColumn<bool>("refused"); // else the connection is never made
    QTest::newRow("closed port") << false << true;
    QTest::newRow("closed proxy port") << true << true;
    QTest::newRow("port that never answers") << false << false;
}

void TestHttpComponent::unreachableFailsClearly()
{
    QFETCH(bool, throughProxy);
    QFETCH(bool, refused);
    std::vector<int> held;
    const auto release = qScopeGuard([&] {
        for (const int fd : held)
            ::close(fd);
    });
    const quint16 port = refused ? closedPort() : unansweredPort(held);
    QVERIFY(port);
    const QByteArray address = "127.0.0.1:" + QByteArray::number(port);
    // The silence limit far from the connect limit, as with the silence.
    HttpComponentConfig config;
    config.connectTimeoutMs = 300;
    config.idleTimeoutMs = 20000;
    auto c = makeComponent(kProgIdServerXmlHttp, config);
    LoopbackServer server;
    c->open("GET", throughProxy ? server.url("/x") : "http://" + address + "/x", false, {}, {});
    if (throughProxy)
        c->setProxy(kProxySettingNamedServer, address);
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QVERIFY(error);
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY2(error->contains(QString::fromLatin1(address)), qPrintable(*error));
    if (refused) {
        QVERIFY2(error->contains(QStringLiteral("无法连接到")), qPrintable(*error));
        QVERIFY2(error->contains(QLatin1String("refused")), qPrintable(*error));
    } else {
        QVERIFY2(error->endsWith(QStringLiteral("超时（0.3 秒）")), qPrintable(*error));
    }
    QCOMPARE(error->contains(QStringLiteral("代理服务器")), throughProxy);
    QCOMPARE(server.connectionCount(), 0);
}

void TestHttpComponent::badHeaderRefused_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("pseudo-header name") << QByteArray(":authority") << QByteArray("evil");
    QTest::newRow("blank in name") << QByteArray("a b") << QByteArray("1");
    QTest::newRow("empty name") << QByteArray() << QByteArray("1");
    QTest::newRow("colon in name") << QByteArray("X-A:") << QByteArray("1");
    QTest::newRow("CR LF in name") << QByteArray("X-A\r\nInjected") << QByteArray("1");
    QTest::newRow("NUL in name") << QByteArray("X-A\0Injected", 12) << QByteArray("1");
    QTest::newRow("code page 936 name") << QByteArray("\xD6\xD0") << QByteArray("1");
    QTest::newRow("CR LF in value") << QByteArray("X-A") << QByteArray("1\r\nInjected: 1");
    QTest::newRow("LF in value") << QByteArray("X-A") << QByteArray("1\nInjected: 1");
    QTest::newRow("CR in value") << QByteArray("X-A") << QByteArray("1\rInjected: 1");
    QTest::newRow("NUL in value") << QByteArray("X-A") << QByteArray("1\0Injected: 1", 13);
}

void TestHttpComponent::badHeaderRefused()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);

    LoopbackServer server;
    server.setHandler([](const RecordedRequest&) { return ScriptedResponse::ok("ok"); });
    auto c = makeComponent();
    c->open("POST", server.url("/h"), false, {}, {});
    c->setRequestHeader("X-Before", "1");
    const std::optional<QString> error = httpErrorOf([&] { c->setRequestHeader(name, value); });
    QVERIFY(error);
    QVERIFY2(error->contains(QStringLiteral("请求未发送")), qPrintable(*error));
    QCOMPARE(server.connectionCount(), 0);

    // Even a caller that goes on regardless sends nothing of the refused row.
    c->setRequestHeader("X-After", "2");
    c->send("body");
    const RecordedRequest r = server.lastRequest();
    QVERIFY2(!r.raw.contains("Injected") && !r.raw.contains("evil"), r.raw.constData());
    QCOMPARE(r.header("X-Before"), QByteArray("1"));
    QCOMPARE(r.header("X-After"), QByteArray("2"));
    QCOMPARE(r.headerCount("X-A"), 0);
    QCOMPARE(r.body, QByteArray("body"));
}

void TestHttpComponent::badServerReply_data()
{
    QTest::addColumn<ScriptedResponse>("reply");
    QTest::addColumn<QString>("reason"); // part of the message

    QByteArray hugeHead;
    for (int i = 0; hugeHead.size() < 1024 * 1024; ++i)
        hugeHead += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(60, 'v') + "\r\n";
    const QString brokeOff = QStringLiteral("在响应完整到达之前断开");
    const QString invalid = QStringLiteral("不是有效的 HTTP 响应");
    QTest::newRow("body shorter than Content-Length")
        << ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Content-Length: 1000"})
               .sendPattern(400)
               .close()
        << QStringLiteral("已收到正文 400 字节");
    QTest::newRow("chunked body dropped")
        << ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"})
               .send("10\r\n0123456789abcdef\r\n20\r\nonly part")
               .close()
        << brokeOff;
    QTest::newRow("closed before any response") << ScriptedResponse().close() << brokeOff;
    QTest::newRow("closed in the headers")
        << ScriptedResponse().send("HTTP/1.1 200 OK\r\nContent-Le").close() << brokeOff;
    QTest::newRow("huge header block")
        << ScriptedResponse().send("HTTP/1.1 200 OK\r\n" + hugeHead + "Content-Length: 2\r\n\r\nok")
        << QStringLiteral("响应头");
    QTest::newRow("not HTTP at all")
        << ScriptedResponse().send("SSH-2.0-OpenSSH_9.2\r\n\r\n").close() << invalid;
    QTest::newRow("bad status line")
        << ScriptedResponse().send("HTTP/1.1 abc OK\r\nContent-Length: 0\r\n\r\n") << invalid;
    QTest::newRow("negative Content-Length")
        << ScriptedResponse().send("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc").close()
        << invalid;
    QTest::newRow("two different Content-Length values")
        << ScriptedResponse()
               .send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nabcdef")
               .close()
        << QStringLiteral("两个不同的 Content-Length");
}

void TestHttpComponent::badServerReply()
{
    QFETCH(ScriptedResponse, reply);
    QFETCH(QString, reason);

    LoopbackServer server;
    server.route("/bad", reply);
    auto c = makeComponent(kProgIdServerXmlHttp, shortTimeouts());
    c->open("GET", server.url("/bad"), false, {}, {});
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QVERIFY(error);
    QVERIFY2(timer.elapsed() < 1400, "failed by time-out instead of at once");
    QVERIFY2(error->contains(reason), qPrintable(*error));
    QVERIFY2(error->contains(QStringLiteral("127.0.0.1:%1").arg(server.port())),
             qPrintable(*error));
    QCOMPARE(c->responseBody(), std::nullopt);
    QVERIFY(!c->hasResponseBody());
}

// ---------------------------------------------------------------------------
// Streaming into a sink

void TestHttpComponent::sinkReceivesBody_data()
{
    QTest::addColumn<ScriptedResponse>("reply");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("expectedSize"); // what begin() is told
    QTest::addColumn<bool>("hasBody");

    const qint64 mb20 = 20 * 1024 * 1024;
    QTest::newRow("20 MB with Content-Length")
        << ScriptedResponse::patternBody(mb20) << mb20 << mb20 << true;
    QTest::newRow("20 MB chunked")
        << ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"})
               .sendChunkedPattern(mb20, 300000)
        << mb20 << qint64(-1) << true;
    QTest::newRow("Content-Length 0")
        << ScriptedResponse::withBody(200, "OK", {}, {}) << qint64(0) << qint64(0) << true;
    QTest::newRow("204") << ScriptedResponse::headOnly("HTTP/1.1 204 No Content", {}) << qint64(0)
                         << qint64(-2) << false;
    // Larger than any in-memory body may be: the sink has no limit.
    const qint64 overTwoGb = qint64(2) * 1024 * 1024 * 1024 + 4097;
    QTest::newRow("over 2 GB") << ScriptedResponse::patternBody(overTwoGb) << overTwoGb << overTwoGb
                               << true;
}

void TestHttpComponent::sinkReceivesBody()
{
    QFETCH(ScriptedResponse, reply);
    QFETCH(qint64, size);
    QFETCH(qint64, expectedSize);
    QFETCH(bool, hasBody);

    LoopbackServer server;
    server.route("/file", reply);
    HttpComponentConfig config = shortTimeouts();
    config.maxBodyBytes = 1024 * 1024; // far below the body: the sink is not limited
    auto c = makeComponent(kProgIdServerXmlHttp, config);
    RecordingSink sink;
    sink.checkPattern = true;
    c->setResponseBodySink(&sink);
    c->open("GET", server.url("/file"), false, {}, {});
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QVERIFY2(!error, qPrintable(error.value_or(QString())));

    QCOMPARE(c->status(), hasBody ? 200 : 204);
    QCOMPARE(sink.begins, hasBody ? 1 : 0);
    QCOMPARE(sink.expected, expectedSize);
    QVERIFY(!sink.writeBeforeBegin);
    QCOMPARE(sink.bytes, size);
    QVERIFY(sink.patternOk);
    QCOMPARE(c->responseBody(), std::nullopt);
    QCOMPARE(c->hasResponseBody(), hasBody);
    QCOMPARE(c->bodyBytesReceived(), size);
}

void TestHttpComponent::sinkErrorStopsTransfer()
{
    const qint64 size = qint64(1024) * 1024 * 1024;
    LoopbackServer server;
    server.route("/file", ScriptedResponse::patternBody(size));
    auto c = makeComponent();
    RecordingSink sink;
    sink.checkPattern = true;
    sink.throwAtWrite = 3;
    c->setResponseBodySink(&sink);
    c->open("GET", server.url("/file"), false, {}, {});
    QElapsedTimer timer;
    timer.start();
    try {
        c->send({});
        QFAIL("send succeeded although the sink failed");
    } catch (const ReqlarkError& e) {
        QVERIFY2(dynamic_cast<const HttpError*>(&e) == nullptr, qPrintable(e.message()));
        QCOMPARE(e.message(), QStringLiteral("Cannot write /tmp/out.bin: No space left on device"));
    }
    // Stopped at once, not after reading the whole gigabyte.
    QVERIFY(timer.elapsed() < 2000);
    QCOMPARE(sink.writes, 3);
    QVERIFY(c->bodyBytesReceived() < size / 100);
    QCOMPARE(c->bodyBytesReceived(), sink.bytes);
}

void TestHttpComponent::interimResponsesNeverReachSink()
{
    LoopbackServer server;
    server.route("/old",
                 ScriptedResponse::withBody(302, "Found", {"Location: /new"}, "REDIRECT BODY"));
    server.route(
        "/new", ScriptedResponse().send("HTTP/1.1 100 Continue\r\n\r\n"
                                        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nfinal body"));
    auto c = makeComponent();
    RecordingSink sink;
    c->setResponseBodySink(&sink);
    c->open("POST", server.url("/old"), false, {}, {});
    c->send("data");
    QCOMPARE(c->status(), 200);
    QCOMPARE(sink.begins, 1);
    QCOMPARE(sink.expected, qint64(10));
    QCOMPARE(sink.kept, QByteArray("final body"));
    QCOMPARE(c->bodyBytesReceived(), qint64(10));
    QCOMPARE(server.requestCount(), 2);
}

// ---------------------------------------------------------------------------
// Size limit of bodies kept in memory

void TestHttpComponent::bodyLimit_data()
{
    QTest::addColumn<ScriptedResponse>("reply");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("succeeds");

    using R = ScriptedResponse;
    QTest::newRow("exactly the limit") << R::patternBody(1000) << qint64(1000) << true;
    QTest::newRow("one byte over, with length") << R::patternBody(1001) << qint64(1000) << false;
    QTest::newRow("one byte over, chunked")
        << R::headOnly("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"})
               .sendChunkedPattern(1001, 100)
        << qint64(1000) << false;
    QTest::newRow("one byte over, up to the close")
        << R::headOnly("HTTP/1.1 200 OK", {"Connection: close"}).sendPattern(1001).close()
        << qint64(1000) << false;
    // Refused from its length alone: nothing near 3 GB is ever allocated.
    const qint64 threeGb = qint64(3) * 1024 * 1024 * 1024;
    QTest::newRow("3 GB against the default limit")
        << R::patternBody(threeGb) << HttpComponentConfig().maxBodyBytes << false;
}

void TestHttpComponent::bodyLimit()
{
    QFETCH(ScriptedResponse, reply);
    QFETCH(qint64, limit);
    QFETCH(bool, succeeds);

    LoopbackServer server;
    server.route("/big", reply);
    HttpComponentConfig config = shortTimeouts();
    config.maxBodyBytes = limit;
    auto c = makeComponent(kProgIdServerXmlHttp, config);
    c->open("GET", server.url("/big"), false, {}, {});
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QVERIFY(timer.elapsed() < 3000);
    if (succeeds) {
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
        QCOMPARE(c->responseBody()->size(), limit);
    } else {
        QVERIFY(error);
        QVERIFY2(error->contains(QStringLiteral("大于")), qPrintable(*error));
        QVERIFY2(error->contains(QStringLiteral("127.0.0.1:%1").arg(server.port())),
                 qPrintable(*error));
        const QString limitText =
            limit == 1000 ? QStringLiteral("1000 Byte") : QStringLiteral("2.00 GB");
        QVERIFY2(error->contains(limitText), qPrintable(*error));
    }
}

void TestHttpComponent::largeBodyByteExact_data()
{
    QTest::addColumn<ScriptedResponse>("reply");
    QTest::addColumn<qint64>("size");
    const qint64 mb100 = 100 * 1024 * 1024 + 13;
    const qint64 mb30 = 30 * 1024 * 1024 + 7;
    QTest::newRow("100 MB with length") << ScriptedResponse::patternBody(mb100) << mb100;
    // Without a length the buffer grows while the body arrives.
    QTest::newRow("30 MB chunked")
        << ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"})
               .sendChunkedPattern(mb30, 70001)
        << mb30;
    QTest::newRow("30 MB up to the close")
        << ScriptedResponse::headOnly("HTTP/1.1 200 OK", {"Connection: close"})
               .sendPattern(mb30)
               .close()
        << mb30;
}

void TestHttpComponent::largeBodyByteExact()
{
    QFETCH(ScriptedResponse, reply);
    QFETCH(qint64, size);
    LoopbackServer server;
    server.route("/huge", reply);
    auto c = makeComponent();
    c->open("GET", server.url("/huge"), false, {}, {});
    c->send({});
    const std::optional<QByteArray> body = c->responseBody();
    QVERIFY(body);
    QCOMPARE(body->size(), size);
    QVERIFY(LoopbackServer::matchesPattern(0, body->constData(), body->size()));
}

// ---------------------------------------------------------------------------
// Factory

void TestHttpComponent::factory_data()
{
    QTest::addColumn<QByteArray>("progId");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("takesProxy");
    QTest::newRow("ServerXMLHTTP") << QByteArray(kProgIdServerXmlHttp) << true << true;
    QTest::newRow("serverxmlhttp lower") << QByteArray("msxml2.serverxmlhttp") << true << true;
    QTest::newRow("XMLHTTP") << QByteArray(kProgIdXmlHttp) << true << false;
    QTest::newRow("XMLHTTP capitals") << QByteArray("MSXML2.XMLHTTP") << true << false;
    QTest::newRow("WinHTTP mixed case") << QByteArray("winhttp.WINHTTPREQUEST.5.1") << true << true;
    QTest::newRow("versioned ProgID") << QByteArray("MSXML2.XMLHTTP.6.0") << false << false;
    QTest::newRow("caption, not a ProgID") << QByteArray("ServerXMLHTTP") << false << false;
    QTest::newRow("leading blank") << QByteArray(" MSXML2.XMLHTTP") << false << false;
    QTest::newRow("empty") << QByteArray() << false << false;
}

void TestHttpComponent::factory()
{
    QFETCH(QByteArray, progId);
    QFETCH(bool, exists);
    QFETCH(bool, takesProxy);

    auto c = CreateHttpComponent(progId, shortTimeouts());
    QCOMPARE(c != nullptr, exists);
    if (!c)
        return;
    // Which profile it got shows in whether a dead proxy matters.
    LoopbackServer server;
    server.route("/p", ScriptedResponse::ok("direct"));
    c->open("GET", server.url("/p"), false, {}, {});
    c->setProxy(kProxySettingNamedServer, "127.0.0.1:" + QByteArray::number(closedPort()));
    const std::optional<QString> error = httpErrorOf([&] { c->send({}); });
    QCOMPARE(bool(error), takesProxy);
    QCOMPARE(server.requestCount(), takesProxy ? 0 : 1);
}

void TestHttpComponent::componentCaption_data()
{
    QTest::addColumn<QByteArray>("caption");
    QTest::addColumn<QByteArray>("progId");
    QTest::newRow("ServerXMLHTTP")
        << QByteArray("ServerXMLHTTP") << QByteArray(kProgIdServerXmlHttp);
    QTest::newRow("SERVERXMLHTTP")
        << QByteArray("SERVERXMLHTTP") << QByteArray(kProgIdServerXmlHttp);
    QTest::newRow("XMLHTTP") << QByteArray("XMLHTTP") << QByteArray(kProgIdXmlHttp);
    QTest::newRow("xmlhttp") << QByteArray("xmlhttp") << QByteArray(kProgIdXmlHttp);
    QTest::newRow("WinHTTP") << QByteArray("WinHTTP") << QByteArray(kProgIdWinHttp);
    QTest::newRow("trailing blank") << QByteArray("WinHTTP ") << QByteArray();
    QTest::newRow("ProgID is not a caption") << QByteArray(kProgIdXmlHttp) << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestHttpComponent::componentCaption()
{
    QFETCH(QByteArray, caption);
    QFETCH(QByteArray, progId);
    const QByteArray got = ProgIdForComponentCaption(caption);
    QCOMPARE(got, progId);
    // Every caption's ProgID makes a component.
    QCOMPARE(CreateHttpComponent(got) != nullptr, !progId.isEmpty());
}

QTEST_GUILESS_MAIN(TestHttpComponent)
#include "tst_httpcomponent.moc"
