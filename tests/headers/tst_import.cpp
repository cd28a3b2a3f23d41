// Parsing of copied header blocks and of the value presets, without a
// clipboard or a window.

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
