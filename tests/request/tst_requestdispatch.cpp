// The request built from the window's inputs, sent without a window: what
// reaches the loopback server.

#include "request/RequestDispatch.h"
#include "tests/support/LoopbackServer.h"
#include "util/AnsiCodec.h"

#include <QTest>

class TestRequestDispatch : public QObject
{
    Q_OBJECT
private slots:
    void whatIsSent_data();
    void whatIsSent();
    void textOnTheWire_data();
    void textOnTheWire();
};

void TestRequestDispatch::whatIsSent_data()
{
    // A stored position outside the method or component list; the window's
    // own tests send everything else through this routine.
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("kind");
    QTest::newRow("no method chosen") << QByteArray() << QByteArray("serverxmlhttp");
    QTest::newRow("unknown component") << QByteArray("get") << QByteArray("other");
}

void TestRequestDispatch::whatIsSent()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, kind);
    LoopbackServer server;
    RequestInputs in;
    in.url = server.url("/r");
    in.method = method;
    in.componentKind = kind;
    QVERIFY(!SendRequest(in, {}).http);
    QCOMPARE(server.requestCount(), 0);
}

// Text outside code page 936 in the data and the address, as servers expect it.
void TestRequestDispatch::textOnTheWire_data()
{
    QTest::addColumn<QString>("address"); // after the server's "http://127.0.0.1:port"
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QByteArray>("target"); // as the request line names it
    QTest::addColumn<QByteArray>("body");

    const QString json = QStringLiteral("{\"名字\":\"张三\",\"emoji\":\"😀\"}");
    QTest::newRow("JSON declared UTF-8")
        << QStringLiteral("/j") << QByteArray("application/json; charset=utf-8") << json
        << QByteArray("/j") << json.toUtf8();
    QTest::newRow("JSON without a charset")
        << QStringLiteral("/j") << QByteArray("application/vnd.api+json") << json
        << QByteArray("/j") << json.toUtf8();
    QTest::newRow("a declared Big5")
        << QStringLiteral("/b") << QByteArray("text/plain; Charset=\"Big5\"")
        << QStringLiteral("繁體") << QByteArray("/b") << QByteArray("\xC1\x63\xC5\xE9");
    QTest::newRow("a form, as typed")
        << QStringLiteral("/f") << QByteArray() << QStringLiteral("中=😀") << QByteArray("/f")
        << QByteArray("\xD6\xD0=\x94\x39\xFC\x36");
    QTest::newRow("query beyond code page 936")
        << QStringLiteral("/k?q=한국어&e=😀") << QByteArray() << QString()
        << QByteArray("/k?q=%ED%95%9C%EA%B5%AD%EC%96%B4&e=%F0%9F%98%80") << QByteArray();
    QTest::newRow("escapes kept, a lone % too")
        << QStringLiteral("/中?a=%E4%B8%AD&d=100%") << QByteArray() << QString()
        << QByteArray("/%E4%B8%AD?a=%E4%B8%AD&d=100%") << QByteArray();
    // Through the server as a proxy, which sees the whole address.
    QTest::newRow("international domain name")
        << QStringLiteral("http://例子.测试/p") << QByteArray() << QString()
        << QByteArray("http://xn--fsqu00a.xn--0zwm56d/p") << QByteArray();
}

void TestRequestDispatch::textOnTheWire()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, data);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);

    LoopbackServer server;
    server.setHandler([](const RecordedRequest&) {
        return std::optional<ScriptedResponse>(ScriptedResponse::ok("done"));
    });
    RequestInputs in;
    const bool viaProxy = address.startsWith(QLatin1String("http:"));
    in.url = AnsiCodec::fromUnicode(address);
    if (viaProxy) {
        in.useProxy = true;
        in.proxyAddress = "127.0.0.1:" + QByteArray::number(server.port());
    } else {
        in.url.prepend(server.url(""));
    }
    in.method = data.isEmpty() ? "get" : "post";
    in.componentKind = "serverxmlhttp";
    if (!contentType.isEmpty())
        in.headers = {{"Content-Type", contentType}};
    in.data = AnsiCodec::fromUnicode(data);
    SendRequest(in, {});
    const RecordedRequest r = server.lastRequest();
    QCOMPARE(r.target, target);
    QCOMPARE(r.body, body);
    if (!data.isEmpty())
        QCOMPARE(r.header("Content-Length"), QByteArray::number(body.size()));
}

QTEST_GUILESS_MAIN(TestRequestDispatch)
#include "tst_requestdispatch.moc"
