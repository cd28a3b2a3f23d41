// Parsing of copied header blocks and of the value presets, without a
// clipboard or a window.

#include "headers/CurlCommand.h"
#include "headers/ImportReqHeaders.h"
#include "support/ScriptedPrompter.h"
#include "util/AnsiCodec.h"

#include <QTest>

Q_DECLARE_METATYPE(ByteList)

namespace {

// Name and value of each entry, one after the other, so a table row can
// state the expected headers as one list.
ByteList flatten(const QList<HeaderEntry>& headers)
{
    ByteList out;
    for (const HeaderEntry& h : headers)
        out << h.name << h.value;
    return out;
}

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

ByteList rowsOf(const HeaderList& list)
{
    ByteList out;
    for (int i = 0; i < list.count(); ++i)
        out << list.name(i) << list.value(i);
    return out;
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void importReportsRepeatsAndKeepsExistingRows();
    void curlCommand_data();
    void curlCommand();
    void presetLinesAreData();
};

void TestImport::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<ByteList>("expected");

    QTest::newRow("empty text") << QByteArray() << ByteList{};
    QTest::newRow("typical CR LF block")
        << QByteArray("GET /a?b=1 HTTP/1.1\r\nHost: example.com\r\n"
                      "Referer: http://example.com:8080/x\r\nX-Odd: a: b: c\r\n\r\n")
        << ByteList{"Host",  "example.com", "Referer", "http://example.com:8080/x",
                    "X-Odd", "a: b: c"};
    QTest::newRow("colon-blank anywhere rules every line")
        << QByteArray("A:1\r\nB: 2") << ByteList{"B", "2"};
    QTest::newRow("without colon-blank the first colon splits")
        << QByteArray("Referer:http://h:8080/p\r\nA:1")
        << ByteList{"Referer", "http://h:8080/p", "A", "1"};
    QTest::newRow("pseudo-header keeps its colon with colon-blank")
        << QByteArray(":authority: example.com") << ByteList{":authority", "example.com"};
    QTest::newRow("pseudo-header loses its colon with colon alone")
        << QByteArray(":authority:example.com") << ByteList{"authority", "example.com"};
    QTest::newRow("name and separator only is skipped")
        << QByteArray("X-Empty: \r\nY: 1") << ByteList{"Y", "1"};
    QTest::newRow("separator then value gives an empty name")
        << QByteArray(": value") << ByteList{"", "value"};
    QTest::newRow("leading separator with more pieces")
        << QByteArray(": a: b: c") << ByteList{"a", "b: c"};
    QTest::newRow("separator at the line end is dropped")
        << QByteArray("X: a: ") << ByteList{"X", "a"};
    QTest::newRow("blanks are kept")
        << QByteArray("Name : v\r\nX:  two") << ByteList{"Name ", "v", "X", " two"};
    QTest::newRow("LF line ends") << QByteArray("Host: a\nAccept: */*\n")
                                  << ByteList{"Host", "a", "Accept", "*/*"};
    QTest::newRow("lone CR line ends")
        << QByteArray("Host: a\rAccept: b") << ByteList{"Host", "a", "Accept", "b"};
    QTest::newRow("code page 936 bytes pass unchanged")
        << QByteArray("X-Name: \xD6\xD0\xCE\xC4") << ByteList{"X-Name", "\xD6\xD0\xCE\xC4"};
}

void TestImport::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(ByteList, expected);
    QCOMPARE(flatten(ParseReqHeaders(text)), expected);
}

void TestImport::importReportsRepeatsAndKeepsExistingRows()
{
    ScriptedPrompter prompter;
    HeaderList list;
    list.setPrompter(&prompter);
    list.append("cookie", "old=1");

    const QByteArray block = "Host: example.com\nCookie: new=2\nAccept: */*\n";
    ImportReqHeaders(list, block);
    QCOMPARE(prompter.messages, QStringList{QStringLiteral("字段 Cookie 已存在")});
    QCOMPARE(rowsOf(list), (ByteList{"cookie", "old=1", "Host", "example.com", "Accept", "*/*"}));

    // A second import repeats every name: one message each, in line order.
    prompter.messages.clear();
    ImportReqHeaders(list, block);
    QCOMPARE(prompter.messages,
             (QStringList{QStringLiteral("字段 Host 已存在"), QStringLiteral("字段 Cookie 已存在"),
                          QStringLiteral("字段 Accept 已存在")}));
    QCOMPARE(list.count(), 3);

    ImportReqHeaders(list, QByteArray());
    QCOMPARE(prompter.messages.size(), 3);
}

// Requests as the browsers' "Copy as cURL" writes them: Chromium's bash and
// cmd forms, Firefox's POSIX form and its Windows form for curl.exe.
void TestImport::curlCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("isCurl");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("data");
    QTest::addColumn<ByteList>("rows"); // name, value, name, value... in UTF-8

    const QString none;
    const QString get = QStringLiteral("GET"), post = QStringLiteral("POST");
    const auto refused = [](const char* why) {
        return QStringLiteral("无法导入这条 curl 命令：") + QString::fromUtf8(why);
    };

    QTest::newRow("Chromium bash, GET with -b")
        << text(R"(curl 'https://example.com/search?q=%E4%B8%AD&f\[0\]=1' \
  -H 'accept: text/html,application/xhtml+xml,*/*;q=0.8' \
  -H 'accept-language: zh-CN,zh;q=0.9' \
  -b 'sid=abc123; theme=dark' \
  -H 'sec-ch-ua: "Chromium";v="124", "Not-A.Brand";v="99"' \
  -H 'user-agent: Mozilla/5.0 (X11; Linux x86_64) Chrome/124.0.0.0 Safari/537.36' \
  --compressed)")
        << true << none << QStringLiteral("https://example.com/search?q=%E4%B8%AD&f[0]=1") << get
        << none
        << ByteList{
               "accept",          "text/html,application/xhtml+xml,*/*;q=0.8",
               "accept-language", "zh-CN,zh;q=0.9",
               "Cookie",          "sid=abc123; theme=dark",
               "sec-ch-ua",       "\"Chromium\";v=\"124\", \"Not-A.Brand\";v=\"99\"",
               "user-agent",      "Mozilla/5.0 (X11; Linux x86_64) Chrome/124.0.0.0 Safari/537.36"};
    QTest::newRow("Chromium bash, $'...' data")
        << text(R"(curl 'https://example.com/api/note' \
  -H 'content-type: application/json' \
  -H 'x-note: a: b' \
  -H 'x-empty;' \
  --data-raw $'{"text":"it\'s 张三\u0021","path":"C:\\\\tmp","tab":"a\u0009b"}' \
  --compressed)")
        << true << none << QStringLiteral("https://example.com/api/note") << post
        << text("{\"text\":\"it's 张三!\",\"path\":\"C:\\\\tmp\",\"tab\":\"a\tb\"}")
        << ByteList{"content-type", "application/json", "x-note", "a: b", "x-empty", ""};
    QTest::newRow("Chromium bash, PUT") << text(R"(curl 'https://example.com/item/7' \
  -X 'PUT' \
  -H 'content-type: application/json' \
  --data-raw '{"n":1}')") << true << refused("请求方法是 PUT，这里只能发送 GET 和 POST")
                                        << none << none << none << ByteList{};
    QTest::newRow("Chromium cmd, form with ^ escapes, CR LF")
        << text(R"(curl ^"https://example.com/login?next=^%^2Fhome^" ^
  -H ^"accept: */*^" ^
  -H ^"content-type: application/x-www-form-urlencoded; charset=UTF-8^" ^
  -b ^"sid=abc123; theme=dark^" ^
  -H ^"sec-ch-ua: ^\^"Chromium^\^";v=^\^"124^\^"^" ^
  --data-raw ^"user=^%^E5^%^BC^%^A0^&pass=p^%^40ss^&note=a^^b^" ^
  --compressed)")
               .replace(QLatin1String("\n"), QLatin1String("\r\n"))
        << true << none << QStringLiteral("https://example.com/login?next=%2Fhome") << post
        << QStringLiteral("user=%E5%BC%A0&pass=p%40ss&note=a^b")
        << ByteList{"accept",       "*/*",
                    "content-type", "application/x-www-form-urlencoded; charset=UTF-8",
                    "Cookie",       "sid=abc123; theme=dark",
                    "sec-ch-ua",    "\"Chromium\";v=\"124\""};
    QTest::newRow("Chromium cmd, line break and backslashes in the data")
        << text(R"(curl ^"https://example.com/api^" ^
  -H ^"content-type: application/json^" ^
  --data-raw ^"^{^\^"msg^\^":^\^"^第^一^行^

^第^二^行^\^",^\^"dir^\^":^\^"C:^\^\^\^\temp^\^"^}^" ^
  --compressed)")
        << true << none << QStringLiteral("https://example.com/api") << post
        << text("{\"msg\":\"第一行\n第二行\",\"dir\":\"C:\\\\temp\"}")
        << ByteList{"content-type", "application/json"};
    QTest::newRow("Firefox POSIX, Cookie header")
        << text("curl 'https://example.com/login' --compressed -H 'User-Agent: Mozilla/5.0 (X11; "
                "Linux x86_64; rv:125.0) Gecko/20100101 Firefox/125.0' -H 'Accept: */*' -H "
                "'Content-Type: application/x-www-form-urlencoded' -H 'Origin: "
                "https://example.com' -H 'Cookie: sid=abc123; theme=dark' --data-raw "
                "'user=zhang&pass=p%40ss'")
        << true << none << QStringLiteral("https://example.com/login") << post
        << QStringLiteral("user=zhang&pass=p%40ss")
        << ByteList{"User-Agent",
                    "Mozilla/5.0 (X11; Linux x86_64; rv:125.0) Gecko/20100101 Firefox/125.0",
                    "Accept",
                    "*/*",
                    "Content-Type",
                    "application/x-www-form-urlencoded",
                    "Origin",
                    "https://example.com",
                    "Cookie",
                    "sid=abc123; theme=dark"};
    QTest::newRow("Firefox POSIX, \\u and \\x escapes, --globoff")
        << text(
               R"(curl 'https://example.com/list?ids[]=1&ids[]=2' --globoff -H $'X-Mood: \ud83d\ude00' --data-raw $'{"name":"\u5f20\u4e09","city":"Z\xfcrich","q":"it\'s"}')")
        << true << none << QStringLiteral("https://example.com/list?ids[]=1&ids[]=2") << post
        << text("{\"name\":\"张三\",\"city\":\"Zürich\",\"q\":\"it's\"}")
        << ByteList{"X-Mood", "😀"};
    QTest::newRow("Firefox Windows, curl.exe")
        << text(
               R"(curl.exe "https://example.com/api/items?sort=name" -H "Accept: application/json" -H "X-Trace: a|b^c" -H "Cookie: sid=abc123; theme=dark" --data-raw "{""name"":""张三"",""rate"":""50"%""",""cost"":""`$5"",""dir"":""C:\\tmp""}")")
        << true << none << QStringLiteral("https://example.com/api/items?sort=name") << post
        << text(R"({"name":"张三","rate":"50%","cost":"$5","dir":"C:\tmp"})")
        << ByteList{"Accept", "application/json", "X-Trace",
                    "a|b^c",  "Cookie",           "sid=abc123; theme=dark"};
    QTest::newRow("Firefox Windows, a line break in the data")
        << text("curl.exe \"https://example.com/up\" -H \"Content-Type: text/plain\" --data-raw "
                "\"line 1\"^\r\n\r\n\"line 2\"")
        << true << none << QStringLiteral("https://example.com/up") << post
        << QStringLiteral("line 1\r\nline 2") << ByteList{"Content-Type", "text/plain"};
    QTest::newRow("Firefox Windows, DELETE")
        << text(R"(curl.exe "https://example.com/item/7" -X DELETE -H "Accept: */*")") << true
        << refused("请求方法是 DELETE，这里只能发送 GET 和 POST") << none << none << none
        << ByteList{};
    // Written by hand: letters together, attached arguments, -G, and the
    // options that stand for header rows.
    QTest::newRow("-G, letters together, -A -e -u")
        << text("curl -sSLk -G 'https://example.com/s?x=1' --data-urlencode 'q=张 三' -d n=2 "
                "-A 'UA/1' -e 'https://r.example/;auto' -u user:pw -H'X-A: 1'")
        << true << none << QStringLiteral("https://example.com/s?x=1&q=%E5%BC%A0%20%E4%B8%89&n=2")
        << get << none
        << ByteList{"User-Agent",         "UA/1", "Referer", "https://r.example/", "Authorization",
                    "Basic dXNlcjpwdw==", "X-A",  "1"};
    QTest::newRow("-XPOST joined, data options joined with &")
        << text("curl -XPOST https://example.com/ -d a=1 --data-binary b=2 --data-raw @c") << true
        << none << QStringLiteral("https://example.com/") << post << QStringLiteral("a=1&b=2&@c")
        << ByteList{};
    QTest::newRow("data from a file")
        << text("curl 'https://example.com/' -d @body.json") << true
        << refused("选项 -d 要从文件读取内容，这里无法读取") << none << none << none << ByteList{};
    QTest::newRow("two commands")
        << text("curl 'https://example.com/a' -H 'A: 1' ;\ncurl 'https://example.com/b'") << true
        << refused("引号外的“;”后面还有一条命令，一次只能导入一条") << none << none << none
        << ByteList{};
    QTest::newRow("a quote left open")
        << text("curl 'https://example.com/ -H 'A: 1'") << true << refused("引号没有配对") << none
        << none << none << ByteList{};
    QTest::newRow("a header block is no command")
        << text("Host: example.com\r\ncurl: 7.88") << false << none << none << none << none
        << ByteList{};
}

void TestImport::curlCommand()
{
    QFETCH(QString, command);
    QFETCH(bool, isCurl);
    QFETCH(QString, refusal);
    QFETCH(QString, url);
    QFETCH(QString, method);
    QFETCH(QString, data);
    QFETCH(ByteList, rows);

    const std::optional<CurlRequest> request = ParseCurlCommand(command);
    QCOMPARE(request.has_value(), isCurl);
    if (!request)
        return;
    QCOMPARE(request->refusal, refusal);
    QCOMPARE(request->url, url);
    QCOMPARE(request->method, method);
    QCOMPARE(request->data, data);
    ByteList expected;
    for (const QByteArray& each : rows)
        expected << AnsiCodec::fromUnicode(QString::fromUtf8(each));
    QCOMPARE(flatten(request->headers), expected);
}

void TestImport::presetLinesAreData()
{
    // A line added to the text is a preset; UTF-8 lines arrive in code page
    // 936; only the first "=" divides; lines without "=" never match.
    const QByteArray text = QByteArray("X-Lang=") + QStringLiteral("中文").toUtf8() +
                            "\r\nno equals sign\nX-Query=a=b\rX-Lang=en\r\n\r\n";
    const ByteList lines = ParseHeaderOptions(text);
    QCOMPARE(HeaderPresetsFor(lines, "x-lang"),
             (ByteList{AnsiCodec::fromUnicode(QStringLiteral("中文")), "en"}));
    QCOMPARE(HeaderPresetsFor(lines, "X-QUERY"), ByteList{"a=b"});
    QVERIFY(HeaderPresetsFor(lines, "").isEmpty());
    QVERIFY(HeaderPresetsFor(lines, "no equals sign").isEmpty());
}

QTEST_APPLESS_MAIN(TestImport)
#include "tst_import.moc"
