#include "request/BodyCharset.h"
#include "request/UTF8Unit.h"

#include <QStringEncoder>
#include <QTest>

class TestBodyCharset : public QObject
{
    Q_OBJECT
private slots:
    void declared_data();
    void declared();
    void decoded_data();
    void decoded();
    void utf8AndAsciiBodiesAreNotCopied();
};

void TestBodyCharset::declared_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("charset");

    const QByteArray none;
    QTest::newRow("content-type parameter")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=ISO-8859-1\r\n") << none
        << QByteArray("iso-8859-1");
    QTest::newRow("quoted, blanks around the equals sign, any case of the name")
        << QByteArray("content-TYPE: text/html;Charset = \"Shift_JIS\" ;x=1") << none
        << QByteArray("shift_jis");
    QTest::newRow("the last content-type counts")
        << QByteArray("Content-Type: text/html; charset=gbk\r\nContent-Type: text/plain") << none
        << QByteArray();
    QTest::newRow("header wins over meta")
        << QByteArray("Content-Type: text/html; charset=euc-kr")
        << QByteArray("<meta charset=utf-8>") << QByteArray("euc-kr");
    QTest::newRow("meta charset, no header") << QByteArray("Content-Type: text/html")
                                             << QByteArray("<html><head><META CHARSET='Big5'>")
                                             << QByteArray("big5");
    QTest::newRow("meta http-equiv")
        << none
        << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">")
        << QByteArray("windows-1251");
    QTest::newRow("content first, http-equiv after")
        << none << QByteArray("<meta content='text/html;charset=koi8-r' http-equiv=content-type>")
        << QByteArray("koi8-r");
    QTest::newRow("content without http-equiv does not count")
        << none << QByteArray("<meta name=x content='text/html; charset=koi8-r'>") << QByteArray();
    QTest::newRow("inside a comment does not count")
        << none << QByteArray("<!-- <meta charset=big5> --><p>x") << QByteArray();
    QTest::newRow("inside another tag's attribute does not count")
        << none << QByteArray("<a title='<meta charset=big5>'>x</a><meta charset=euc-jp>")
        << QByteArray("euc-jp");
    QTest::newRow("utf-16 from inside means utf-8")
        << none << QByteArray("<meta charset=utf-16le>") << QByteArray("utf-8");
    QTest::newRow("beyond the first 1024 bytes")
        << none << QByteArray(1100, ' ') + "<meta charset=big5>" << QByteArray();
    QTest::newRow("meta without a charset") << none << QByteArray("<meta name=viewport>")
                                            << QByteArray();
}

void TestBodyCharset::declared()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, charset);
    QCOMPARE(DeclaredCharset(headers, body), charset);
}

void TestBodyCharset::decoded_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<QString>("shown");

    QTest::newRow("utf-8 whatever is declared")
        << QByteArray("caf\xC3\xA9 \xED\x95\x9C \xF0\x9F\x98\x80") << QByteArray("gbk")
        << QStringLiteral("café 한 😀");
    QTest::newRow("iso-8859-1 is read as windows-1252")
        << QByteArray("caf\xE9 \x80 \x93x\x94") << QByteArray("iso-8859-1")
        << QStringLiteral("café € “x”");
    QTest::newRow("code page 936 when nothing is declared")
        << QByteArray("\xD6\xD0\xCE\xC4") << QByteArray() << QStringLiteral("中文");
    QTest::newRow("code page 936 for a gb2312 label")
        << QByteArray("\xD6\xD0\xCE\xC4") << QByteArray("GB2312") << QStringLiteral("中文");
    QTest::newRow("a gb2312 label reads what only GBK has")
        << QByteArray("\x81\x40") << QByteArray("gb2312") << QStringLiteral("丂");
    QTest::newRow("code page 936 for an unknown charset")
        << QByteArray("\xD6\xD0\xCE\xC4") << QByteArray("x-no-such-set") << QStringLiteral("中文");
    QTest::newRow("shift_jis") << QByteArray("\x93\xfa\x96\x7b") << QByteArray("shift_jis")
                               << QStringLiteral("日本");
    QTest::newRow("euc-kr") << QByteArray("\xc7\xd1\xb1\xb9") << QByteArray("euc-kr")
                            << QStringLiteral("한국");
    QTest::newRow("utf-16 by its byte order mark")
        << QByteArray("\xFF\xFE" "a\0\x2D\x4E", 6) << QByteArray() << QStringLiteral("a中");
    QTest::newRow("utf-16 big-endian by its byte order mark")
        << QByteArray("\xFE\xFF\0a\x4E\x2D", 6) << QByteArray("gbk") << QStringLiteral("a中");
    // ASCII bytes, and so well-formed UTF-8, that the declared set reads otherwise.
    QTest::newRow("utf-16le without a byte order mark, ASCII text")
        << QByteArray("<\0p\0>\0", 6) << QByteArray("utf-16le") << QStringLiteral("<p>");
    QTest::newRow("iso-2022-jp") << QByteArray("\x1B$BF|K\\\x1B(B") << QByteArray("iso-2022-jp")
                                 << QStringLiteral("日本");
    QTest::newRow("hz-gb-2312") << QByteArray("~{VPND~}") << QByteArray("hz-gb-2312")
                                << QStringLiteral("中文");
    QTest::newRow("utf-7") << QByteArray("+Ti1lhw-") << QByteArray("utf-7")
                           << QStringLiteral("中文");
    QTest::newRow("a stray 0x80 is no UTF-8: the declared set reads it")
        << QByteArray("price \x80 5") << QByteArray("windows-1252") << QStringLiteral("price € 5");
    QTest::newRow("UTF-8 byte order mark wins over the declaration")
        << QByteArray("\xEF\xBB\xBF" "caf\xC3\xA9 \xFF") << QByteArray("gbk")
        << QStringLiteral("café \uFFFD");
    QTest::newRow("declared utf-8, invalid bytes shown as replacements")
        << QByteArray("a\xFF" "b") << QByteArray("utf-8") << QStringLiteral("a\uFFFDb");

    // Pages that declare no charset, in the set they are written in.
    const auto undeclared = [](const char* charset, const QString& text, const char* row) {
        const QString page = QStringLiteral("<html><head><title>t</title></head><body><p>%1</p>"
                                            "</body></html>")
                                 .arg(text);
        QStringEncoder encoder(charset);
        const QByteArray body = encoder.encode(page);
        QVERIFY(encoder.isValid() && !encoder.hasError());
        QTest::newRow(row) << body << QByteArray() << page;
    };
    const QString zh =
        QStringLiteral("今天天气很好，我们一起去公园散步吧。这个网站提供最新的新闻、天气预报"
                       "和体育比赛结果。请输入您的用户名和密码，然后点击登录按钮。");
    undeclared("GBK", zh, "undeclared GBK");
    undeclared("GB18030", zh + QStringLiteral("😀"), "undeclared GB18030, a character GBK lacks");
    undeclared("GBK", QStringLiteral("参数错误"),
               "a short Chinese text is not taken for a single-byte set");
    undeclared(
        "Big5",
        QStringLiteral("今天天氣很好，我們一起去公園散步吧。這個網站提供最新的新聞、天氣預報和"
                       "體育比賽結果。請輸入您的使用者名稱和密碼，然後點擊登入按鈕。"),
        "undeclared Big5");
    const QString ja =
        QStringLiteral("今日はとても良い天気ですね。このウェブサイトでは最新のニュースや天気"
                       "予報、スポーツの結果をお届けします。ログインボタンを押してください。");
    undeclared("Shift_JIS", ja, "undeclared Shift_JIS");
    undeclared("EUC-JP", ja, "undeclared EUC-JP");
    undeclared(
        "EUC-KR",
        QStringLiteral("오늘은 날씨가 정말 좋네요. 이 웹사이트에서는 최신 뉴스와 일기 예보, 스포츠 "
                       "경기 결과를 제공합니다. 사용자 이름과 비밀번호를 입력한 후 로그인 버튼을 "
                       "누르세요."),
        "undeclared EUC-KR");
    undeclared("windows-1252",
               QStringLiteral("Aujourd'hui, il fait très beau ; allons nous promener – à prix "
                              "réduits, « Connexion ». Bitte drücken Sie „Anmelden“. Größe und "
                              "Qualität."),
               "undeclared windows-1252");
}

void TestBodyCharset::decoded()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, charset);
    QFETCH(QString, shown);
    QCOMPARE(QString::fromUtf8(BodyToUtf8(body, charset)), shown);
    // As the program asks, which takes ASCII for no UTF-8.
    const bool wellFormed = IsUTF8Encoded(body) && body.isValidUtf8();
    QCOMPARE(QString::fromUtf8(BodyToUtf8(body, charset, wellFormed)), shown);
}

void TestBodyCharset::utf8AndAsciiBodiesAreNotCopied()
{
    const QByteArray utf8 = QByteArray("<p>\xE4\xB8\xAD</p>").repeated(1000);
    QVERIFY(BodyToUtf8(utf8, "iso-8859-1").constData() == utf8.constData());
    // ASCII is no UTF-8 to the program, so it reaches the declared set.
    const QByteArray ascii = QByteArray("<p>plain</p>").repeated(1000);
    QVERIFY(BodyToUtf8(ascii, "windows-1251", false).constData() == ascii.constData());
    QVERIFY(BodyToUtf8(ascii, QByteArray(), false).constData() == ascii.constData());
}

QTEST_APPLESS_MAIN(TestBodyCharset)
#include "tst_bodycharset.moc"
