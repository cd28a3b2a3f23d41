// The request built from the window's inputs, sent without a window: what
// reaches the loopback server for each combination of method, component,
// header rows and data.

#include "request/RequestDispatch.h"
#include "tests/support/LoopbackServer.h"

#include <QTest>

using Rows = std::vector<HeaderEntry>;
Q_DECLARE_METATYPE(Rows)

class TestRequestDispatch : public QObject
{
    Q_OBJECT
private slots:
    void whatIsSent_data();
    void whatIsSent();
};

void TestRequestDispatch::whatIsSent_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>(
        "wire"); // method, Content-Type, Content-Length, body; empty: nothing sent

    const Rows plain{{"X-A", "1"}, {"X-Empty", ""}, {"", "v"}, {":authority", "h"}};
    QTest::newRow("get ignores the data") << QByteArray("get") << QByteArray("serverxmlhttp")
                                          << plain << QByteArray("a=1") << QByteArray("GET|||");
    QTest::newRow("post gets the form type and the length")
        << QByteArray("post") << QByteArray("winhttp") << plain << QByteArray("a=1")
        << QByteArray("POST|application/x-www-form-urlencoded|3|a=1");
    QTest::newRow("a Content-Type row of any case wins")
        << QByteArray("post") << QByteArray("xmlhttp") << Rows{{"content-TYPE", "text/plain"}}
        << QByteArray() << QByteArray("POST|text/plain|0|");
    QTest::newRow("no method chosen")
        << QByteArray() << QByteArray("serverxmlhttp") << plain << QByteArray() << QByteArray();
    QTest::newRow("unknown component")
        << QByteArray("get") << QByteArray("other") << plain << QByteArray() << QByteArray();
}

void TestRequestDispatch::whatIsSent()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, kind);
    QFETCH(Rows, rows);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);

    LoopbackServer server;
    server.route("/r", ScriptedResponse::ok("done"));
    RequestInputs in;
    in.url = server.url("/r");
    in.method = method;
    in.componentKind = kind;
    in.headers = rows;
    in.data = data;
    const SentRequest sent = SendRequest(in, {});
    QCOMPARE(bool(sent.http), !wire.isEmpty());
    if (wire.isEmpty()) {
        QCOMPARE(server.requestCount(), 0);
        return;
    }
    const RecordedRequest r = server.lastRequest();
    QCOMPARE(r.method + '|' + r.header("Content-Type") + '|' + r.header("Content-Length") + '|' +
                 r.body,
             wire);
    // Only rows with a name and a value go, and never a pseudo-header.
    QByteArrayList rowsSent;
    for (const QByteArray& name : r.headerNames()) {
        for (const HeaderEntry& row : rows)
            if (row.name == name || name.startsWith(':'))
                rowsSent.append(name);
    }
    QCOMPARE(rowsSent, rows.size() == 1 ? QByteArrayList{rows[0].name} : QByteArrayList{"X-A"});
}

QTEST_GUILESS_MAIN(TestRequestDispatch)
#include "tst_requestdispatch.moc"
