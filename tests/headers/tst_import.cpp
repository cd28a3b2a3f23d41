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

QStringList utf8(std::initializer_list<const char*> texts)
{
    QStringList out;
    for (const char* t : texts)
        out << QString::fromUtf8(t);
    return out;
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
    // Empty: no curl command. Refused: the reason alone. Else the URL, the
    // method, the data if any and the rows as "name: value".
    QTest::addColumn<QStringList>("request");

    const auto refused = [](const char* why) {
        return QStringList{QStringLiteral("无法导入这条 curl 命令：") + QString::fromUtf8(why)};
    };

    QTest::newRow("Chromium bash, GET with -b")
        << text(R"(curl 'https://example.com/search?q=%E4%B8%AD&f\[0\]=1' \
  -H 'accept: text/html,application/xhtml+xml,*/*;q=0.8' \
  -H 'accept-language: zh-CN,zh;q=0.9' \
  -b 'sid=abc123; theme=dark' \
  -H 'sec-ch-ua: "Chromium";v="124", "Not-A.Brand";v="99"' \
  -H 'user-agent: Mozilla/5.0 (X11; Linux x86_64) Chrome/124.0.0.0 Safari/537.36' \
  --compressed)")
        << utf8({"https://example.com/search?q=%E4%B8%AD&f[0]=1", "GET",
                 "accept: text/html,application/xhtml+xml,*/*;q=0.8",
                 "accept-language: zh-CN,zh;q=0.9", "Cookie: sid=abc123; theme=dark",
                 R"(sec-ch-ua: "Chromium";v="124", "Not-A.Brand";v="99")",
                 "user-agent: Mozilla/5.0 (X11; Linux x86_64) Chrome/124.0.0.0 Safari/537.36"});
    QTest::newRow("Chromium bash, $'...' data")
        << text(R"(curl 'https://example.com/api/note' \
  -H 'content-type: application/json' \
  -H 'x-note: a: b' \
  -H 'x-empty;' \
  --data-raw $'{"text":"it\'s 张三\u0021","path":"C:\\\\tmp","tab":"a\u0009b"}' \
  --compressed)")
        << utf8({"https://example.com/api/note", "POST",
                 "{\"text\":\"it's 张三!\",\"path\":\"C:\\\\tmp\",\"tab\":\"a\tb\"}",
                 "content-type: application/json", "x-note: a: b", "x-empty: "});
    QTest::newRow("Chromium bash, PUT") << text(R"(curl 'https://example.com/item/7' \
  -X 'PUT' \
  -H 'content-type: application/json' \
  --data-raw '{"n":1}')") << refused("请求方法是 PUT，这里只能发送 GET 和 POST");
    QTest::newRow("Chromium cmd, form with ^ escapes, CR LF")
        << text(R"(curl ^"https://example.com/login?next=^%^2Fhome^" ^
  -H ^"accept: */*^" ^
  -H ^"content-type: application/x-www-form-urlencoded; charset=UTF-8^" ^
  -b ^"sid=abc123; theme=dark^" ^
  -H ^"sec-ch-ua: ^\^"Chromium^\^";v=^\^"124^\^"^" ^
  --data-raw ^"user=^%^E5^%^BC^%^A0^&pass=p^%^40ss^&note=a^^b^" ^
  --compressed)")
               .replace(QLatin1String("\n"), QLatin1String("\r\n"))
        << utf8({"https://example.com/login?next=%2Fhome", "POST",
                 "user=%E5%BC%A0&pass=p%40ss&note=a^b", "accept: */*",
                 "content-type: application/x-www-form-urlencoded; charset=UTF-8",
                 "Cookie: sid=abc123; theme=dark", R"(sec-ch-ua: "Chromium";v="124")"});
    QTest::newRow("Chromium cmd, line break and backslashes in the data")
        << text(R"(curl ^"https://example.com/api^" ^
  -H ^"content-type: application/json^" ^
  --data-raw ^"^{^\^"msg^\^":^\^"^第^一^行^

^第^二^行^\^",^\^"dir^\^":^\^"C:^\^\^\^\temp^\^"^}^" ^
  --compressed)")
        << utf8({"https://example.com/api", "POST",
                 "{\"msg\":\"第一行\n第二行\",\"dir\":\"C:\\\\temp\"}",
                 "content-type: application/json"});
    QTest::newRow("Firefox POSIX, Cookie header")
        << text("curl 'https://example.com/login' --compressed -H 'User-Agent: Mozilla/5.0 (X11; "
                "Linux x86_64; rv:125.0) Gecko/20100101 Firefox/125.0' -H 'Accept: */*' -H "
                "'Content-Type: application/x-www-form-urlencoded' -H 'Origin: "
                "https://example.com' -H 'Cookie: sid=abc123; theme=dark' --data-raw "
                "'user=zhang&pass=p%40ss'")
        << utf8({"https://example.com/login", "POST", "user=zhang&pass=p%40ss",
                 "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:125.0) Gecko/20100101 "
                 "Firefox/125.0",
                 "Accept: */*", "Content-Type: application/x-www-form-urlencoded",
                 "Origin: https://example.com", "Cookie: sid=abc123; theme=dark"});
    QTest::newRow("Firefox POSIX, \\u and \\x escapes, --globoff")
        << text(
               R"(curl 'https://example.com/list?ids[]=1&ids[]=2' --globoff -H $'X-Mood: \ud83d\ude00' --data-raw $'{"name":"\u5f20\u4e09","city":"Z\xfcrich","q":"it\'s"}')")
        << utf8({"https://example.com/list?ids[]=1&ids[]=2", "POST",
                 R"({"name":"张三","city":"Zürich","q":"it's"})", "X-Mood: 😀"});
    QTest::newRow("Firefox Windows, curl.exe")
        << text(
               R"(curl.exe "https://example.com/api/items?sort=name" -H "Accept: application/json" -H "X-Trace: a|b^c" -H "Cookie: sid=abc123; theme=dark" --data-raw "{""name"":""张三"",""rate"":""50"%""",""cost"":""`$5"",""dir"":""C:\\tmp""}")")
        << utf8({"https://example.com/api/items?sort=name", "POST",
                 R"({"name":"张三","rate":"50%","cost":"$5","dir":"C:\tmp"})",
                 "Accept: application/json", "X-Trace: a|b^c", "Cookie: sid=abc123; theme=dark"});
    QTest::newRow("Firefox Windows, a line break in the data")
        << text("curl.exe \"https://example.com/up\" -H \"Content-Type: text/plain\" --data-raw "
                "\"line 1\"^\r\n\r\n\"line 2\"")
        << utf8({"https://example.com/up", "POST", "line 1\r\nline 2", "Content-Type: text/plain"});
    QTest::newRow("Firefox Windows, DELETE")
        << text(R"(curl.exe "https://example.com/item/7" -X DELETE -H "Accept: */*")")
        << refused("请求方法是 DELETE，这里只能发送 GET 和 POST");
    // Written by hand: letters together, attached arguments, -G, and the
    // options that stand for header rows.
    QTest::newRow("-G, letters together, -A -e -u")
        << text("curl -sSLk -G 'https://example.com/s?x=1' --data-urlencode 'q=张 三' -d n=2 "
                "-A 'UA/1' -e 'https://r.example/;auto' -u user:pw -H'X-A: 1'")
        << utf8({"https://example.com/s?x=1&q=%E5%BC%A0%20%E4%B8%89&n=2", "GET", "User-Agent: UA/1",
                 "Referer: https://r.example/", "Authorization: Basic dXNlcjpwdw==", "X-A: 1"});
    QTest::newRow("-XPOST joined, data options joined with &")
        << text("curl -XPOST https://example.com/ -d a=1 --data-binary b=2 --data-raw @c")
        << utf8({"https://example.com/", "POST", "a=1&b=2&@c"});
    QTest::newRow("data from a file") << text("curl 'https://example.com/' -d @body.json")
                                      << refused("选项 -d 要从文件读取内容，这里无法读取");
    QTest::newRow("two commands")
        << text("curl 'https://example.com/a' -H 'A: 1' ;\ncurl 'https://example.com/b'")
        << refused("引号外的“;”后面还有一条命令，一次只能导入一条");
    QTest::newRow("a quote left open")
        << text("curl 'https://example.com/ -H 'A: 1'") << refused("引号没有配对");
    QTest::newRow("a header block is no command")
        << text("Host: example.com\r\ncurl: 7.88") << QStringList();
}

void TestImport::curlCommand()
{
    QFETCH(QString, command);
    QFETCH(QStringList, request);
    const std::optional<CurlRequest> parsed = ParseCurlCommand(command);
    QCOMPARE(parsed.has_value(), !request.isEmpty());
    if (!parsed)
        return;
    // Refused, nothing else is set.
    QStringList got{parsed->refusal, parsed->url, parsed->method, parsed->data};
    got.removeAll(QString());
    for (const HeaderEntry& row : parsed->headers) {
        QVERIFY2(!row.name.contains(": "), row.name.constData());
        got << AnsiCodec::toUnicode(row.name + ": " + row.value);
    }
    QCOMPARE(got, request);
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
