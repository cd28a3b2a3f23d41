// What the original page hands the browser: header block, cookie pieces,
// proxy address, address, referrer, and the script text the offline page is
// written with.

#include "headers/HeaderList.h"
#include "results/BrowserRequest.h"

#include <QTest>

Q_DECLARE_METATYPE(ByteList)
Q_DECLARE_METATYPE(QList<HeaderLine>)

class TestBrowserRequest : public QObject
{
    Q_OBJECT
private slots:
    void headerBlock_data();
    void headerBlock();
    void headerLines_data();
    void headerLines();
    void cookiePieces_data();
    void cookiePieces();
    void cookiePiece_data();
    void cookiePiece();
    void proxyAddress_data();
    void proxyAddress();
    void jsStringLiteral_data();
    void jsStringLiteral();
    void browserUrl_data();
    void browserUrl();
    void browserReferrer_data();
    void browserReferrer();
};

void TestBrowserRequest::headerBlock_data()
{
    QTest::addColumn<ByteList>("rows"); // name, value, name, value...
    QTest::addColumn<QByteArray>("block");

    QTest::newRow("two rows, trimmed, closed by an empty line")
        << ByteList{"Accept", "text/html", "X-A", " 1 "}
        << QByteArray("Accept: text/html\r\nX-A: 1\r\n\r\n");
    QTest::newRow("no usable row gives nothing")
        << ByteList{"", "v", "X-Empty", "  ", "\t", "x"} << QByteArray();
    QTest::newRow("rows with an empty part are skipped, the rest joined")
        << ByteList{"X-Empty", "", "A", "1", "", "orphan", "B", "2"}
        << QByteArray("A: 1\r\nB: 2\r\n\r\n");
    QTest::newRow("control characters at the ends are trimmed")
        << ByteList{"\x01Name\x1f", "\r\nvalue\t"} << QByteArray("Name: value\r\n\r\n");
    QTest::newRow("a line break inside a row cannot add a header")
        << ByteList{"X-Bad", "a\r\nX-Injected: 1",  "X-Bad2\nX-I", "v",
                    "X-Nul", QByteArray("a\0b", 3), "X-Good",      "ok"}
        << QByteArray("X-Good: ok\r\n\r\n");
    QTest::newRow("code page 936 bytes pass unchanged")
        << ByteList{"X-City", "\xB1\xB1\xBE\xA9"} << QByteArray("X-City: \xB1\xB1\xBE\xA9\r\n\r\n");
}

void TestBrowserRequest::headerBlock()
{
    QFETCH(ByteList, rows);
    QFETCH(QByteArray, block);
    HeaderList list;
    for (qsizetype i = 0; i + 1 < rows.size(); i += 2)
        list.append(rows[i], rows[i + 1]);
    QCOMPARE(BrowserHeaderBlock(list), block);
}

void TestBrowserRequest::headerLines_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QList<HeaderLine>>("lines");

    QTest::newRow("a block as the header rows make it")
        << QByteArray("Accept: text/html\r\nX-A: 1\r\n\r\n")
        << QList<HeaderLine>{{"Accept", "text/html"}, {"X-A", "1"}};
    QTest::newRow("bare LF lines and blanks around the value")
        << QByteArray("A:  x \nB:y") << QList<HeaderLine>{{"A", "x"}, {"B", "y"}};
    QTest::newRow("names that are no tokens are dropped")
        << QByteArray(":authority: h\r\nBad Name: v\r\nno colon\r\n: v\r\nOk: 1\r\n")
        << QList<HeaderLine>{{"Ok", "1"}};
    QTest::newRow("a stray CR inside a line drops it")
        << QByteArray("X-A: a\rX-B: b\r\nX-C: c\r\n") << QList<HeaderLine>{{"X-C", "c"}};
    QTest::newRow("framing headers are the browser's own")
        << QByteArray("Content-Length: 999\r\ntransfer-encoding: chunked\r\nContent-Type: a/b\r\n")
        << QList<HeaderLine>{{"Content-Type", "a/b"}};
    QTest::newRow("a colon in the value stays") << QByteArray("Referer: http://h:81/x\r\n")
                                                << QList<HeaderLine>{{"Referer", "http://h:81/x"}};
}

void TestBrowserRequest::headerLines()
{
    QFETCH(QByteArray, block);
    QFETCH(QList<HeaderLine>, lines);
    QCOMPARE(BrowserHeaderLines(block), lines);
}

void TestBrowserRequest::cookiePieces_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<ByteList>("pieces");

    QTest::newRow("two cookies") << QByteArray("a=1; b=2") << ByteList{"a=1;", "b=2;"};
    QTest::newRow("separator at the end gives no piece")
        << QByteArray("a=1; b=2; ") << ByteList{"a=1;", "b=2;"};
    QTest::newRow("split where \"; \" is, a piece ending in ';' is kept")
        << QByteArray("a=1;; b=2") << ByteList{"a=1;", "b=2;"};
    QTest::newRow("an empty piece between separators becomes ';'")
        << QByteArray("a=1; ; b=2") << ByteList{"a=1;", ";", "b=2;"};
    QTest::newRow("';' without a blank does not split")
        << QByteArray("a=1;b=2") << ByteList{"a=1;b=2;"};
    QTest::newRow("empty value") << QByteArray() << ByteList{};
}

void TestBrowserRequest::cookiePieces()
{
    QFETCH(QByteArray, value);
    QFETCH(ByteList, pieces);
    QCOMPARE(CookiePieces(value), pieces);
}

void TestBrowserRequest::cookiePiece_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("ok");

    QTest::newRow("name and value")
        << QByteArray("sid=abc;") << QByteArray("sid") << QByteArray("abc") << true;
    QTest::newRow("value holding '='")
        << QByteArray("t=a=b==;") << QByteArray("t") << QByteArray("a=b==") << true;
    QTest::newRow("text after ';' is no part of the value")
        << QByteArray("a=1;;") << QByteArray("a") << QByteArray("1") << true;
    QTest::newRow("no '=': a name without value")
        << QByteArray("flag;") << QByteArray("flag") << QByteArray() << true;
    QTest::newRow("empty piece") << QByteArray(";") << QByteArray() << QByteArray() << false;
    QTest::newRow("no name") << QByteArray("=v;") << QByteArray() << QByteArray("v") << false;
    QTest::newRow("line break in the value")
        << QByteArray("a=1\r\nSet-Cookie: x=1;") << QByteArray("a")
        << QByteArray("1\r\nSet-Cookie: x=1") << false;
    QTest::newRow("code page 936 value")
        << QByteArray("city=\xB1\xB1\xBE\xA9;") << QByteArray("city")
        << QByteArray("\xB1\xB1\xBE\xA9") << true;
}

void TestBrowserRequest::cookiePiece()
{
    QFETCH(QByteArray, piece);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(bool, ok);
    const CookiePair pair = ParseCookiePiece(piece);
    QCOMPARE(pair.ok, ok);
    // A refused piece still says what it read, so a refusal for the wrong
    // reason shows.
    QCOMPARE(pair.name, name);
    QCOMPARE(pair.value, value);
}

void TestBrowserRequest::proxyAddress_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("host and port")
        << QByteArray("proxy.example:3128") << true << QStringLiteral("proxy.example") << 3128;
    QTest::newRow("blanks around")
        << QByteArray(" 10.0.0.1:8080 ") << true << QStringLiteral("10.0.0.1") << 8080;
    QTest::newRow("no port: HTTP default")
        << QByteArray("proxy") << true << QStringLiteral("proxy") << 80;
    QTest::newRow("port out of range")
        << QByteArray("proxy:70000") << true << QStringLiteral("proxy") << 80;
    QTest::newRow("IPv6 in brackets")
        << QByteArray("[::1]:8888") << true << QStringLiteral("::1") << 8888;
    QTest::newRow("no host") << QByteArray(":8080") << false << QString() << 0;
    QTest::newRow("unclosed bracket") << QByteArray("[::1:8080") << false << QString() << 0;
}

void TestBrowserRequest::proxyAddress()
{
    QFETCH(QByteArray, address);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    QFETCH(int, port);
    QString gotHost;
    quint16 gotPort = 0;
    QCOMPARE(SplitProxyAddress(address, &gotHost, &gotPort), ok);
    if (ok) {
        QCOMPARE(gotHost, host);
        QCOMPARE(int(gotPort), port);
    }
}

void TestBrowserRequest::jsStringLiteral_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("literal");

    QTest::newRow("plain") << QStringLiteral("<p>中文</p>") << QStringLiteral("\"<p>中文</p>\"");
    QTest::newRow("quotes and backslashes")
        << QStringLiteral("a\"b\\c'd") << QStringLiteral("\"a\\\"b\\\\c'd\"");
    QTest::newRow("line breaks and controls")
        << QStringLiteral("a\r\nb\tc") + QChar(0) << QStringLiteral("\"a\\r\\nb\\u0009c\\u0000\"");
    QTest::newRow("JavaScript line separators")
        << QString(QChar(0x2028)) + QChar(0x2029) << QStringLiteral("\"\\u2028\\u2029\"");
    QTest::newRow("a lone surrogate keeps its code unit")
        << QString(QChar(0xD83D)) << QStringLiteral("\"\\ud83d\"");
}

void TestBrowserRequest::jsStringLiteral()
{
    QFETCH(QString, text);
    QFETCH(QString, literal);
    QCOMPARE(JsStringLiteral(text), literal);
}

void TestBrowserRequest::browserUrl_data()
{
    QTest::addColumn<QByteArray>("typed"); // code page 936
    QTest::addColumn<QByteArray>("loaded");

    QTest::newRow("escapes kept, a lone % escaped")
        << QByteArray("http://h/p?a=%E4%B8%AD&d=100%&e=%zz&f=%4")
        << QByteArray("http://h/p?a=%E4%B8%AD&d=100%25&e=%25zz&f=%254");
    // Equivalent forms (RFC 3986, 6.2.2): the engine gets addresses normalised.
    QTest::newRow("escapes in the path keep their meaning, in capitals")
        << QByteArray("http://h/a%2Fb/%e4%b8%ad") << QByteArray("http://h/a%2Fb/%E4%B8%AD");
}

void TestBrowserRequest::browserUrl()
{
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, loaded);
    QCOMPARE(BrowserUrl(typed).toEncoded(), loaded);
}

void TestBrowserRequest::browserReferrer_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("referrer");

    const QString page = QStringLiteral("http://127.0.0.1:8080/page");
    QTest::newRow("same origin: the whole address, without fragment and user")
        << QByteArray(" http://u:p@127.0.0.1:8080/from?q=1#part ") << page
        << QByteArray("http://127.0.0.1:8080/from?q=1");
    QTest::newRow("another site: its origin") << QByteArray("http://other.example/list?id=7")
                                              << page << QByteArray("http://other.example/");
    QTest::newRow("another port is another origin")
        << QByteArray("http://127.0.0.1:9090/x") << page << QByteArray("http://127.0.0.1:9090/");
    QTest::newRow("the default port is left out")
        << QByteArray("https://other.example:443/a") << QStringLiteral("https://h/")
        << QByteArray("https://other.example/");
    QTest::newRow("https to http: none")
        << QByteArray("https://127.0.0.1:8080/from") << page << QByteArray();
    QTest::newRow("http to https: the origin")
        << QByteArray("http://h/a") << QStringLiteral("https://h/b") << QByteArray("http://h/");
    QTest::newRow("not a web address: none") << QByteArray("ftp://h/file") << page << QByteArray();
}

void TestBrowserRequest::browserReferrer()
{
    QFETCH(QByteArray, row);
    QFETCH(QString, target);
    QFETCH(QByteArray, referrer);
    QCOMPARE(BrowserReferrer(row, QUrl(target)), referrer);
}

QTEST_GUILESS_MAIN(TestBrowserRequest)
#include "tst_browserrequest.moc"
