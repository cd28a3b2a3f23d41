#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"

#include <QTest>

Q_DECLARE_METATYPE(ByteList)

class TestUtil : public QObject
{
    Q_OBJECT
private slots:
    void splitString_data();
    void splitString();
    void joinRange_data();
    void joinRange();
    void joinRangeAbsentList();
    void lowerCaseFoldsOnlyAsciiCapitals();
    void trimRemovesBlanksAndControls_data();
    void trimRemovesBlanksAndControls();
    void compareIgnoresCaseOnly();
    void compareCodePage936_data();
    void compareCodePage936();
    void codecRoundTripsChinese();
    void codecReplacesWhatCannotConvert();
    void codecLongText();
};

void TestUtil::splitString_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("delimiter");
    QTest::addColumn<ByteList>("expected");

    QTest::newRow("empty text") << QByteArray() << QByteArray("; ") << ByteList{};
    QTest::newRow("no delimiter") << QByteArray("abc") << QByteArray(";") << ByteList{"abc"};
    QTest::newRow("empty pieces kept")
        << QByteArray(";a;;b") << QByteArray(";") << ByteList{"", "a", "", "b"};
    QTest::newRow("delimiter at the end gives no piece")
        << QByteArray("a; b; ") << QByteArray("; ") << ByteList{"a", "b"};
    QTest::newRow("only a delimiter") << QByteArray("; ") << QByteArray("; ") << ByteList{""};
    QTest::newRow("two-byte delimiter is matched whole")
        << QByteArray("a;b; c") << QByteArray("; ") << ByteList{"a;b", "c"};
    QTest::newRow("overlapping delimiter found first")
        << QByteArray("a===b") << QByteArray("==") << ByteList{"a", "=b"};
    QTest::newRow("lines CR LF, CR and LF")
        << QByteArray("a\r\nb\rc\nd") << QByteArray() << ByteList{"a", "b", "c", "d"};
    QTest::newRow("final line break gives no extra line")
        << QByteArray("a\r\n") << QByteArray() << ByteList{"a"};
    QTest::newRow("empty lines inside are kept")
        << QByteArray("a\n\n\r\nb") << QByteArray() << ByteList{"a", "", "", "b"};
    QTest::newRow("a single line break is one empty line")
        << QByteArray("\r\n") << QByteArray() << ByteList{""};
    QTest::newRow("LF CR is two breaks")
        << QByteArray("a\n\rb") << QByteArray() << ByteList{"a", "", "b"};
}

void TestUtil::splitString()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, delimiter);
    QFETCH(ByteList, expected);
    QCOMPARE(SplitString(text, delimiter), expected);
}

void TestUtil::joinRange_data()
{
    QTest::addColumn<ByteList>("list");
    QTest::addColumn<quint32>("from");
    QTest::addColumn<quint32>("to");
    QTest::addColumn<QByteArray>("expected");

    const ByteList abc{"a", "b", "c"};
    QTest::newRow("whole list") << abc << 0u << 2u << QByteArray("abc");
    QTest::newRow("middle") << abc << 1u << 1u << QByteArray("b");
    QTest::newRow("to beyond the end") << abc << 1u << 99u << QByteArray("bc");
    QTest::newRow("to below from becomes last") << abc << 1u << 0u << QByteArray("bc");
    QTest::newRow("from beyond the end becomes last") << abc << 7u << 9u << QByteArray("c");
    QTest::newRow("huge unsigned positions") << abc << 0u << 0xFFFFFFFFu << QByteArray("abc");
    QTest::newRow("empty list") << ByteList{} << 0u << 0u << QByteArray();
}

void TestUtil::joinRange()
{
    QFETCH(ByteList, list);
    QFETCH(quint32, from);
    QFETCH(quint32, to);
    QFETCH(QByteArray, expected);
    QCOMPARE(JoinRange(list, from, to), expected);
}

void TestUtil::joinRangeAbsentList()
{
    QCOMPARE(JoinRange(static_cast<const ByteList*>(nullptr), 0, 3), QByteArray());
}

void TestUtil::lowerCaseFoldsOnlyAsciiCapitals()
{
    QCOMPARE(AnsiLowerCase("Accept-ENCODING"), QByteArray("accept-encoding"));
    // A capital letter as the second byte of a double-byte character is folded
    // too; bytes above 0x7F are never changed.
    QCOMPARE(AnsiLowerCase("\xB0\x41\xC4\xD1"), QByteArray("\xB0\x61\xC4\xD1"));
    QVERIFY(SameTextAnsiLower("ACCEPT", "accept"));
    QVERIFY(!SameTextAnsiLower("Accept ", "Accept"));
    // Fullwidth capital A (A3 C1) and small a (A3 E1) are different names.
    QVERIFY(!SameTextAnsiLower("\xA3\xC1", "\xA3\xE1"));
}

void TestUtil::trimRemovesBlanksAndControls_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("blanks") << QByteArray("  a b  ") << QByteArray("a b");
    QTest::newRow("controls") << QByteArray("\t\r\n\x01x\x1f") << QByteArray("x");
    QTest::newRow("only blanks") << QByteArray(" \t ") << QByteArray();
    QTest::newRow("high bytes stay") << QByteArray(" \xA1\xA1 ") << QByteArray("\xA1\xA1");
    QTest::newRow("nul bytes") << QByteArray("\0a\0", 3) << QByteArray("a");
}

void TestUtil::trimRemovesBlanksAndControls()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(TrimBytes(text), expected);
}

void TestUtil::compareIgnoresCaseOnly()
{
    QCOMPARE(CompareTextIgnoreCase("SID=1", "sid=1"), 0);
    QVERIFY(CompareTextIgnoreCase("Accept", "cookie") < 0);
    QVERIFY(CompareTextIgnoreCase("cookie", "User-Agent") < 0);
    QVERIFY(CompareTextIgnoreCase("a", "ab") < 0);
    QVERIFY(CompareTextIgnoreCase("b", "AB") > 0);
}

void TestUtil::compareCodePage936_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("order"); // sign of the comparison of a with b

    QTest::newRow("Chinese after ASCII") << QByteArray("\xB0\xA1") << QByteArray("z") << 1;
    QTest::newRow("high bytes by unsigned value")
        << QByteArray("a\x80") << QByteArray("a\x7F") << 1;
    QTest::newRow("0xFF last") << QByteArray("\xFF") << QByteArray("\xFE\xFE") << 1;
    QTest::newRow("trail byte A is no letter")
        << QByteArray("k=\xB0\x41;") << QByteArray("k=\xB0\x61;") << -1;
    QTest::newRow("same character") << QByteArray("\xB0\x41x") << QByteArray("\xB0\x41X") << 0;
    QTest::newRow("letter after a whole character folds")
        << QByteArray("\xB0\xB0\x41") << QByteArray("\xB0\xB0\x61") << 0;
    QTest::newRow("0xFF leads nothing") << QByteArray("\xFF"
                                                      "A")
                                        << QByteArray("\xFF"
                                                      "a")
                                        << 0;
    QTest::newRow("lead at the end") << QByteArray("ab\xB0") << QByteArray("AB\xB0") << 0;
    QTest::newRow("prefix first") << QByteArray("\xB0\x41") << QByteArray("\xB0\x41\x41") << -1;
}

void TestUtil::compareCodePage936()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, order);
    const auto sign = [](int x) { return (x > 0) - (x < 0); };
    QCOMPARE(sign(CompareTextIgnoreCase(a, b)), order);
    QCOMPARE(sign(CompareTextIgnoreCase(b, a)), -order);
}

void TestUtil::codecRoundTripsChinese()
{
    const QByteArray ansi("\xD6\xD0\xCE\xC4"); // 中文
    QCOMPARE(AnsiCodec::toUnicode(ansi), QStringLiteral("中文"));
    QCOMPARE(AnsiCodec::fromUnicode(QStringLiteral("中文 abc")),
             QByteArray("\xD6\xD0\xCE\xC4 abc"));
    QCOMPARE(AnsiCodec::utf8ToAnsi("\xE4\xB8\xAD\xE6\x96\x87"), ansi);
    QCOMPARE(AnsiCodec::toUnicode(QByteArray()), QString());
    QCOMPARE(AnsiCodec::fromUnicode(QString()), QByteArray());
    QCOMPARE(AnsiCodec::ansiToUtf8(ansi + " abc"), QByteArray("\xE4\xB8\xAD\xE6\x96\x87 abc"));
    // ASCII needs no conversion and is not copied.
    const QByteArray ascii("plain text, longer than eight bytes");
    QVERIFY(AnsiCodec::ansiToUtf8(ascii).constData() == ascii.constData());
}

void TestUtil::codecReplacesWhatCannotConvert()
{
    // A character code page 936 lacks takes its GB18030 form, an emoji (a
    // surrogate pair) as one character, and reads back; a lone surrogate is
    // no character and gives '?'.
    const QString beyond = QStringLiteral("a\U0001F600b\uD55C");
    QCOMPARE(AnsiCodec::fromUnicode(beyond), QByteArray("a\x94\x39\xFC\x36"
                                                        "b\x83\x36\x84\x33"));
    QCOMPARE(AnsiCodec::toUnicode(AnsiCodec::fromUnicode(beyond)), beyond);
    QCOMPARE(AnsiCodec::ansiToUtf8(AnsiCodec::fromUnicode(beyond)), beyond.toUtf8());
    QCOMPARE(AnsiCodec::fromUnicode(QString(QChar(0xD800)) + QLatin1Char('x')), QByteArray("?x"));
    // A two-byte character code page 936 lacks takes four bytes: twice its UTF-8.
    const QString cyrillic(100000, QChar(0x400));
    QCOMPARE(AnsiCodec::toUnicode(AnsiCodec::utf8ToAnsi(cyrillic.toUtf8())), cyrillic);
    // Invalid code page 936: a lead byte at the very end, and 0xFF.
    QCOMPARE(AnsiCodec::toUnicode("ab\xD6"), QStringLiteral("ab\uFFFD"));
    QCOMPARE(AnsiCodec::toUnicode("\377a\xD6\xD0"), QStringLiteral("\uFFFDa中"));
    QCOMPARE(AnsiCodec::ansiToUtf8("\377a\xD6\xD0\x80\xD6"),
             QStringLiteral("\uFFFDa中€\uFFFD").toUtf8());
    // Malformed UTF-8 inside otherwise good text: the rest still converts.
    QCOMPARE(AnsiCodec::utf8ToAnsi("\xE4\xB8\xAD\x80\xE6\x96\x87"),
             QByteArray("\xD6\xD0?\xCE\xC4"));
    QCOMPARE(AnsiCodec::utf8ToAnsi("\xE4\xB8\xAD\xF0\x9F\x98\x80\xE6\x96\x87\xED\x95\x9C"),
             QByteArray("\xD6\xD0\x94\x39\xFC\x36\xCE\xC4\x83\x36\x84\x33"));
    QCOMPARE(AnsiCodec::utf8ToAnsi("ab\xE4\xB8"), QByteArray("ab?"));
    QCOMPARE(AnsiCodec::utf8ToAnsi("\xFE\x80\x80\x80\x80z"), QByteArray("?z"));
}

void TestUtil::codecLongText()
{
    // Past any fixed internal buffer: 3 MB of mixed text converts whole.
    QString text;
    for (int i = 0; i < 200000; ++i)
        text += QStringLiteral("网页abc");
    const QByteArray ansi = AnsiCodec::fromUnicode(text);
    QCOMPARE(ansi.size(), qsizetype(200000) * 7);
    QCOMPARE(AnsiCodec::toUnicode(ansi), text);
    QCOMPARE(AnsiCodec::utf8ToAnsi(text.toUtf8()), ansi);
    QCOMPARE(AnsiCodec::ansiToUtf8(ansi), text.toUtf8());
}

QTEST_APPLESS_MAIN(TestUtil)
#include "tst_util.moc"
