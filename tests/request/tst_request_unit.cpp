#include "request/FormatByteSize.h"
#include "request/HttpModule.h"
#include "request/ResponseDetails.h"
#include "request/UTF8Unit.h"
#include "request/untXmlHttp.h"
#include "util/ProgramModule.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestRequestUnit : public QObject
{
    Q_OBJECT
private slots:
    void isUtf8_data();
    void isUtf8();
    void isUtf8StopsAtFirstMisfitInLongText();
    void decodeConvertsOnlyUtf8();
    void formatByteSize_data();
    void formatByteSize();
    void transferTimes_data();
    void transferTimes();
    void extractSetCookies_data();
    void extractSetCookies();
    void mergeCookies_data();
    void mergeCookies();
    void mergeCookieBounds_data();
    void mergeCookieBounds();
    void workedExampleEndToEnd();
    void componentsComeFromTheModule();
};

void TestRequestUnit::isUtf8_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("utf8");

    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("pure ascii") << QByteArray("<html>hello</html>") << false;
    QTest::newRow("chinese utf-8") << QByteArray("\xE4\xB8\xAD\xE6\x96\x87") << true;
    QTest::newRow("code page 936 bytes") << QByteArray("\xD6\xD0\xCE\xC4") << false;
    QTest::newRow("ascii with 0x80") << QByteArray("ab\200cd") << true;
    QTest::newRow("ascii with 0x81") << QByteArray("ab\201cd") << false;
    QTest::newRow("ends after a lead byte") << QByteArray("abc\xE4") << false;
    QTest::newRow("ends inside a sequence") << QByteArray("abc\xE4\xB8") << false;
    QTest::newRow("FE lead with four continuations") << QByteArray("\xFE\x80\x80\x80\x80") << true;
    QTest::newRow("FF lead with three continuations") << QByteArray("\xFF\x80\x80\x80") << false;
    QTest::newRow("FC lead with five continuations")
        << QByteArray("\xFC\x80\x80\x80\x80\x80") << true;
    QTest::newRow("overlong C0 passes") << QByteArray("\xC0\xAF") << true;
    QTest::newRow("encoded surrogate passes") << QByteArray("\xED\xA0\x80") << true;
    QTest::newRow("four-byte emoji") << QByteArray("\xF0\x9F\x98\x80") << true;
    QTest::newRow("lead followed by ascii") << QByteArray("\303a") << false;
    QTest::newRow("nul bytes are ascii") << QByteArray("\0\xC3\xA9", 3) << true;
    QTest::newRow("third byte of a three-byte sequence is ASCII") << QByteArray("\xE4\xB8"
                                                                                "a")
                                                                  << false;
    QTest::newRow("third byte of a three-byte sequence is a lead") << QByteArray("\xE4\xB8\xF0"
                                                                                 "abc")
                                                                   << false;
    QTest::newRow("second byte of a three-byte sequence is ASCII") << QByteArray("\xE4"
                                                                                 "a\xAD")
                                                                   << false;
}

void TestRequestUnit::isUtf8()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, utf8);
    QCOMPARE(IsUTF8Encoded(text), utf8);
    // The pointer form reads nothing past its size, where a continuation
    // byte would complete a sequence cut short.
    const QByteArray followed = text + '\x80';
    QCOMPARE(IsUTF8Encoded(followed.constData(), size_t(text.size())), utf8);
}

void TestRequestUnit::isUtf8StopsAtFirstMisfitInLongText()
{
    QByteArray text;
    for (int i = 0; i < 100000; ++i)
        text += "\xE4\xB8\xAD<p>";
    QVERIFY(IsUTF8Encoded(text));
    text[text.size() / 2] = '\xB0'; // a stray continuation byte in the middle
    QVERIFY(!IsUTF8Encoded(text));
}

void TestRequestUnit::decodeConvertsOnlyUtf8()
{
    QCOMPARE(DecodeUtf8IfEncoded("\xE4\xB8\xAD\xE6\x96\x87"), QByteArray("\xD6\xD0\xCE\xC4"));
    QCOMPARE(DecodeUtf8IfEncoded("\xD6\xD0\xCE\xC4"), QByteArray("\xD6\xD0\xCE\xC4"));
    QCOMPARE(DecodeUtf8IfEncoded("plain"), QByteArray("plain"));
    // An emoji among Chinese text keeps its four-byte form; the rest converts
    // normally.
    QCOMPARE(DecodeUtf8IfEncoded("\xE4\xB8\xAD\xF0\x9F\x98\x80\xE6\x96\x87"),
             QByteArray("\xD6\xD0\x94\x39\xFC\x36\xCE\xC4"));
    // A lone 0x80 passes detection; it is not a character and becomes '?'.
    QCOMPARE(DecodeUtf8IfEncoded("a\200b"), QByteArray("a?b"));
    // So does an encoded surrogate, as one unit.
    QCOMPARE(DecodeUtf8IfEncoded("a\xED\xA0\x80z"), QByteArray("a?z"));
}

void TestRequestUnit::formatByteSize_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("0") << qint64(0) << QByteArray("0 Byte");
    QTest::newRow("1023") << qint64(1023) << QByteArray("1023 Byte");
    QTest::newRow("1024") << qint64(1024) << QByteArray("1.00 KB ");
    QTest::newRow("1536") << qint64(1536) << QByteArray("1.50 KB ");
    QTest::newRow("1048575") << qint64(1048575) << QByteArray("1024.00 KB ");
    QTest::newRow("1048576") << qint64(1048576) << QByteArray("1.00 MB ");
    QTest::newRow("1073741823") << qint64(1073741823) << QByteArray("1024.00 MB ");
    QTest::newRow("1073741824") << qint64(1073741824) << QByteArray("1.00 GB ");
    QTest::newRow("5 TB") << qint64(5) * 1024 * 1024 * 1024 * 1024 << QByteArray("5120.00 GB ");
}

void TestRequestUnit::formatByteSize()
{
    QFETCH(qint64, size);
    QFETCH(QByteArray, text);
    QCOMPARE(FormatByteSize(size), text);
}

Q_DECLARE_METATYPE(QList<HttpHopTiming>)

void TestRequestUnit::transferTimes_data()
{
    QTest::addColumn<QList<HttpHopTiming>>("hops");
    QTest::addColumn<QString>("text");
    QTest::newRow("no request") << QList<HttpHopTiming>{} << QString();
    QTest::newRow("one http request")
        << QList<HttpHopTiming>{{100, 300, 0, 1300, 2300, 2048}}
        << QStringLiteral("域名解析 0.10 毫秒\n连接 0.20 毫秒\n等待首字节 1.00 毫秒\n接收 1.00 "
                          "毫秒\n总计 2.30 毫秒\n速率 2.00 KB/s");
    // The second request goes over the first one's connection; the rate is
    // the final body's.
    QTest::newRow("https with a redirect")
        << QList<HttpHopTiming>{{50, 150, 20150, 30150, 30200, 0},
                                {10, 20, 40, 1040, 1501040, 1048576}}
        << QStringLiteral("2 次请求（含 1 次跳转）合计：\n域名解析 0.06 毫秒\n连接 0.11 毫秒\nTLS "
                          "握手 20.0 毫秒\n等待首字节 11.0 毫秒\n接收 1.50 秒\n总计 1.53 秒\n速率 "
                          "1.00 MB/s");
}

void TestRequestUnit::transferTimes()
{
    QFETCH(QList<HttpHopTiming>, hops);
    QFETCH(QString, text);
    QCOMPARE(TransferTimesText(hops), text);
}

void TestRequestUnit::extractSetCookies_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("cookies");

    QTest::newRow("none") << QByteArray("Content-Type: text/html\r\nServer: x") << QByteArray();
    QTest::newRow("worked example")
        << QByteArray("Server: x\r\nSet-Cookie: sid=xyz; path=/; HttpOnly\r\n"
                      "set-cookie: token=t1; Max-Age=60; Path=/\r\nX: y")
        << QByteArray("sid=xyz; token=t1;");
    QTest::newRow("no blank after the colon is not recognised")
        << QByteArray("Set-Cookie:a=1") << QByteArray();
    QTest::newRow("capital header name") << QByteArray("SET-COOKIE: a=1") << QByteArray("a=1;");
    QTest::newRow("empty value deletes, a=b=c kept whole")
        << QByteArray("Set-Cookie: a=; b=c=d") << QByteArray("a=; b=c=d;");
    QTest::newRow("attributes dropped in any case")
        << QByteArray("Set-Cookie: x=1; Path=/; PATH=/; path=/; DOMAIN=a; Expires=Wed, 21 Oct "
                      "2015 07:28:00 GMT; Secure; max-age=3; HttpOnly")
        << QByteArray("x=1;");
    QTest::newRow("SameSite, Priority, Partitioned are attributes")
        << QByteArray("Set-Cookie: x=1; SameSite=Lax; Priority=High; Partitioned=1")
        << QByteArray("x=1;");
    QTest::newRow("deleted by Max-Age, which wins over Expires")
        << QByteArray("Set-Cookie: a=1; Max-Age=0; Expires=Wed, 21 Oct 2099 07:28:00 GMT")
        << QByteArray("a=;");
    QTest::newRow("deleted by a past expiry date")
        << QByteArray("Set-Cookie: a=1; expires=Thu, 01-Jan-1970 00:00:01 GMT\r\n"
                      "Set-Cookie: b=2; Expires=Wed, 21 Oct 2099 07:28:00 GMT")
        << QByteArray("a=; b=2;");
    QTest::newRow("a control byte is not taken")
        << QByteArray("Set-Cookie: a=1\r2; b=\x01; c=3") << QByteArray("c=3;");
    QTest::newRow("semicolon without blank is taken whole")
        << QByteArray("Set-Cookie: sid=1;path=/") << QByteArray("sid=1;path=/;");
    QTest::newRow("empty rest") << QByteArray("Set-Cookie: \r\nSet-Cookie: ") << QByteArray();
    QTest::newRow("only LF line ends: one line, its LF no cookie")
        << QByteArray("Set-Cookie: a=1\nSet-Cookie: b=2") << QByteArray();
    QTest::newRow("several lines in order")
        << QByteArray("Set-Cookie: b=2\r\nSet-Cookie: a=1;\r\n") << QByteArray("b=2; a=1;");
    QTest::newRow("secure with a value is still an attribute")
        << QByteArray("Set-Cookie: secure=1; k=v") << QByteArray("k=v;");
}

void TestRequestUnit::extractSetCookies()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, cookies);
    QCOMPARE(ExtractSetCookies(headers), cookies);
}

void TestRequestUnit::mergeCookies_data()
{
    QTest::addColumn<QByteArray>("collected");
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("merged");

    QTest::newRow("worked example: a new value replaces the old")
        << QByteArray("sid=xyz; token=t1;") << QByteArray("sid=abc; lang=en")
        << QByteArray("lang=en; sid=xyz; token=t1");
    QTest::newRow("the last of a chain wins")
        << QByteArray("sid=1; SID=2;") << QByteArray("sid=0") << QByteArray("SID=2");
    QTest::newRow("a deleted cookie leaves the row")
        << QByteArray("a=; c=3;") << QByteArray("a=1; b=2") << QByteArray("b=2; c=3");
    QTest::newRow("old entries re-sorted")
        << QByteArray("c=3") << QByteArray("b=1; a=2") << QByteArray("a=2; b=1; c=3");
    QTest::newRow("same cookie in another case kept once, spelt as collected")
        << QByteArray("SID=ABC;") << QByteArray("sid=abc; x=1") << QByteArray("SID=ABC; x=1");
    QTest::newRow("inner semicolon without blank is one entry")
        << QByteArray("c=3;") << QByteArray("a=1;b=2") << QByteArray("a=1;b=2; c=3");
    QTest::newRow("no old value") << QByteArray("b=2; a=1;") << QByteArray()
                                  << QByteArray("a=1; b=2");
    QTest::newRow("nothing collected")
        << QByteArray() << QByteArray("b=1; a=1") << QByteArray("a=1; b=1");
    QTest::newRow("both empty") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("empty pieces skipped")
        << QByteArray("a=1;") << QByteArray("; ; b=2") << QByteArray("a=1; b=2");
    QTest::newRow("duplicates within the collected text")
        << QByteArray("a=1; a=1;") << QByteArray() << QByteArray("a=1");
    // B0 41 and B0 61 are two characters, not one letter in two cases.
    QTest::newRow("code page 936 names differing in a trail byte")
        << QByteArray("\xB0\x41=1;") << QByteArray("\xB0\x61=2")
        << QByteArray("\xB0\x41=1; \xB0\x61=2");
    QTest::newRow("letters after a double-byte character still fold")
        << QByteArray("\xD6\xD0X=1;") << QByteArray("\xD6\xD0x=2") << QByteArray("\xD6\xD0X=1");
    QTest::newRow("code page 936 sorts after ASCII")
        << QByteArray("\xD6\xD0=1;") << QByteArray("z=2") << QByteArray("z=2; \xD6\xD0=1");
}

void TestRequestUnit::mergeCookies()
{
    QFETCH(QByteArray, collected);
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, merged);
    QCOMPARE(MergeCookies(collected, old), merged);
}

void TestRequestUnit::mergeCookieBounds_data()
{
    QTest::addColumn<QByteArray>("collected");
    QTest::addColumn<int>("cookies"); // in the old row: c000=v; c001=v ...
    QTest::addColumn<int>("valueBytes");
    QTest::addColumn<int>("refused");
    QTest::addColumn<int>("cookiesAfter");

    QTest::newRow("a 151st cookie") << QByteArray("new=1;") << 150 << 1 << 1 << 150;
    QTest::newRow("a new value at 150") << QByteArray("c007=2;") << 150 << 1 << 0 << 150;
    QTest::newRow("a deletion at 150") << QByteArray("c007=; new=1;") << 150 << 1 << 0 << 150;
    QTest::newRow("past 8 KB") << QByteArray("new=1; c000=" + QByteArray(8192, 'x') + ';') << 100
                               << 75 << 2 << 100;
}

void TestRequestUnit::mergeCookieBounds()
{
    QFETCH(QByteArray, collected);
    QFETCH(int, cookies);
    QFETCH(int, valueBytes);
    QFETCH(int, refused);
    QFETCH(int, cookiesAfter);
    QByteArrayList row;
    for (int i = 0; i < cookies; ++i)
        row.append(QByteArray("c") + QByteArray::number(i).rightJustified(3, '0') + '=' +
                   QByteArray(valueBytes, 'v'));
    int refusedNow = -1;
    const QByteArray merged = MergeCookies(collected, row.join("; "), &refusedNow);
    QCOMPARE(refusedNow, refused);
    QCOMPARE(merged.count("; ") + 1, cookiesAfter);
    QVERIFY(merged.size() <= qMax<qsizetype>(kMaxRowCookieBytes, row.join("; ").size()));
}

void TestRequestUnit::workedExampleEndToEnd()
{
    const QByteArray headers = "Date: today\r\nSet-Cookie: sid=xyz; path=/; HttpOnly\r\n"
                               "set-cookie: token=t1; Max-Age=60; Path=/";
    QCOMPARE(MergeCookies(ExtractSetCookies(headers), "sid=abc; lang=en"),
             QByteArray("lang=en; sid=xyz; token=t1"));
    // Merging the result again with the same cookies changes nothing.
    QCOMPARE(MergeCookies(ExtractSetCookies(headers), "lang=en; sid=xyz; token=t1"),
             QByteArray("lang=en; sid=xyz; token=t1"));
}

// Runs without an application object, as a command-line tool would.
void TestRequestUnit::componentsComeFromTheModule()
{
    const QByteArray module = qgetenv(HttpModule::kPathVariable);
    QVERIFY2(QFileInfo(QFile::decodeName(module)).isFile(), module.constData());
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("libreqlark_http.so"));
    qputenv(HttpModule::kPathVariable, QFile::encodeName(missing));

    // An unknown ProgID creates nothing and needs no module.
    QVERIFY(!CreateHttpComponent("MSXML2.XMLHTTP.6.0"));
    QVERIFY(!CreateHttpComponent(QByteArray()));
    // A known one names the file that is missing, and so does every later
    // try; without the variable, every place it was looked for.
    for (const bool variable : {true, false}) {
        if (!variable)
            qunsetenv(HttpModule::kPathVariable);
        const QStringList places = variable
                                       ? QStringList{missing}
                                       : HttpModule::candidates(ProgramModule::executablePath());
        QCOMPARE(places.size(), variable ? 1 : 2);
        try {
            CreateHttpComponent(kProgIdWinHttp);
            QFAIL("created a component without its module");
        } catch (const ReqlarkError& e) {
            QCOMPARE(e.message(), QStringLiteral("无法发送请求：找不到它的模块（找过 %1）")
                                      .arg(places.join(QStringLiteral(" 和 "))));
        }
    }
    QVERIFY(!HttpModule::loadedFactory());

    qputenv(HttpModule::kPathVariable, module);
    QVERIFY(CreateHttpComponent("winhttp.winhttprequest.5.1"));
    HttpComponentFactory* loaded = HttpModule::loadedFactory();
    QVERIFY(loaded);
    QVERIFY(!loaded->create("Unknown.ProgID", {}));
    // Loaded once for the process: the variable is not read again.
    qputenv(HttpModule::kPathVariable, QFile::encodeName(missing));
    QVERIFY(CreateHttpComponent(kProgIdServerXmlHttp));
    QCOMPARE(&HttpModule::factory(), loaded);

    qputenv(HttpModule::kPathVariable, module);
}

QTEST_APPLESS_MAIN(TestRequestUnit)
#include "tst_request_unit.moc"
