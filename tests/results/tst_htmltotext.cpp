// The plain-text view's conversion. Expected texts are those of Chromium's
// document.body.innerText (Qt WebEngine) for the same markup, which has no
// style sheet and no script.

#include "results/HtmlToText.h"
#include "util/AnsiCodec.h"

#include <QTest>

namespace {

// Test texts are written in UTF-8 here; the routine takes and gives code
// page 936, as the program holds them.
QByteArray cp936(const char* utf8)
{
    return AnsiCodec::fromUnicode(QString::fromUtf8(utf8));
}

QString shown(const QByteArray& ansi)
{
    return AnsiCodec::toUnicode(ansi);
}

} // namespace

class TestHtmlToText : public QObject
{
    Q_OBJECT
private slots:
    void emptyInput();
    void layout_data();
    void layout();
    void leftOut_data();
    void leftOut();
    void charactersAndEntities_data();
    void charactersAndEntities();
    void utf8Text_data();
    void utf8Text();
    void asBrowsersShowIt_data();
    void asBrowsersShowIt();
    void realisticPortalPage();
    void deepNestingNeitherCrashesNorLosesText();
    void invalidBytesDoNotStopTheRest();
    void largeTableKeepsEveryRow();
};

void TestHtmlToText::emptyInput()
{
    QVERIFY(HtmlToText(QByteArray()).isEmpty());
    QVERIFY(HtmlToText("").isEmpty());
    // Markup without visible text gives empty text, not line breaks.
    QCOMPARE(HtmlToText("<html><head><title>t</title></head><body><div><p></p></div></body>"),
             QByteArray());
}

void TestHtmlToText::layout_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QString>("expected");

    QTest::newRow("paragraphs get a blank line")
        << cp936("<p>第一段</p><p>第二段</p>") << QStringLiteral("第一段\n\n第二段");
    QTest::newRow("br breaks, two br leave an empty line")
        << cp936("a<br>b<br><br>c") << QStringLiteral("a\nb\n\nc");
    QTest::newRow("white space collapses across inline elements")
        << cp936("  a \n\t b  <b> c </b>  <i>d</i> ") << QStringLiteral("a b c d");
    QTest::newRow("blocks inside inline text")
        << cp936("x<div>y</div>z<span> w</span>") << QStringLiteral("x\ny\nz w");
    QTest::newRow("headings and list items on lines of their own")
        << cp936("<h1>新闻  中心</h1><ul><li>一</li><li>二 <a href=#>链接</a></li></ul>")
        << QStringLiteral("新闻 中心\n一\n二 链接");
    QTest::newRow("nested lists") << cp936("<ol><li>a<ul><li>b</li></ul></li><li>c</li></ol>")
                                  << QStringLiteral("a\nb\nc");
    QTest::newRow("table cells by tabs, rows by lines, caption first")
        << cp936("<table><caption>价格表</caption><thead><tr><th>名称</th><th>价格</th></tr>"
                 "</thead>\n<tbody>\n <tr><td> 苹果 </td><td>5元</td></tr>\n <tr><td>香蕉</td>\n"
                 "  <td>3元</td></tr>\n</tbody></table><p>表后</p>")
        << QStringLiteral("价格表\n名称\t价格\n苹果\t5元\n香蕉\t3元\n\n表后");
    QTest::newRow("table nested in a cell")
        << cp936("<table><tr><td>x<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr>"
                 "</table></td><td>y</td></tr></table>")
        << QStringLiteral("x\n1\t2\n3\n\ty");
    QTest::newRow("empty cells keep their tabs")
        << cp936("<table><tr><td></td><td>b</td><td></td></tr></table>") << QStringLiteral("\tb\t");
    QTest::newRow("pre keeps blanks and line breaks")
        << cp936("<p>前</p><pre>\n  缩进    保留\n第二行\ttab\n</pre><div>后 面</div>")
        << QStringLiteral("前\n\n  缩进    保留\n第二行\ttab\n\n后 面");
    QTest::newRow("inline markup inside pre")
        << cp936("<pre>a  <b>b  </b>c</pre>") << QStringLiteral("a  b  c");
    QTest::newRow("unclosed paragraphs and a div")
        << cp936("<p>a<p>b<div>c") << QStringLiteral("a\n\nb\n\nc");
    QTest::newRow("definition list, blockquote, hr")
        << cp936("<dl><dt>术语</dt><dd>定义</dd></dl><hr><blockquote>引用<p>段落</p></blockquote>")
        << QStringLiteral("术语\n定义\n引用\n\n段落");
    QTest::newRow("text after the closing html tag still shows")
        << cp936("<html><body>in</body></html>after") << QStringLiteral("inafter");
    QTest::newRow("closed details show their summary only")
        << cp936("<details><summary>摘要</summary>细节</details>"
                 "<details open><summary>开</summary>内容</details>")
        << QStringLiteral("摘要\n开\n内容");
    QTest::newRow("a frameset page has no text")
        << cp936("<frameset><frame src=a></frameset>") << QString();
}

void TestHtmlToText::layout()
{
    QFETCH(QByteArray, html);
    QFETCH(QString, expected);
    QCOMPARE(shown(HtmlToText(html)), expected);
}

void TestHtmlToText::leftOut_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QString>("expected");

    QTest::newRow("head, title, style, script")
        << cp936("<html><head><title>标题</title><style>p{color:red}</style>"
                 "<script>var x = \"<p>no</p>\";</script></head><body>正文</body></html>")
        << QStringLiteral("正文");
    QTest::newRow("scripts in the body do not run")
        << cp936("<body>a<script>document.write('x')</script>b</body>") << QStringLiteral("ab");
    QTest::newRow("template and noscript")
        << cp936("<template><p>模板</p></template>可见<noscript>无脚本</noscript>")
        << QStringLiteral("可见");
    QTest::newRow("hidden attribute")
        << cp936("<p hidden>隐藏</p><div>显示</div>") << QStringLiteral("显示");
    QTest::newRow("inline display none, any case and spacing")
        << cp936("<div style=\"color:red; display : none\">x</div><span style=\"DISPLAY:None;\">y"
                 "</span><i style=\"display:none !important\">z</i>可见")
        << QStringLiteral("可见");
    QTest::newRow("display values other than none are shown")
        << cp936("<span style=\"display:nonesuch\">a</span><span style=\"table-display:none\">b"
                 "</span><span style=\"display:inline\">c</span>")
        << QStringLiteral("abc");
    QTest::newRow("iframe, video and canvas fallback")
        << cp936("<iframe>框架</iframe><video>视频</video><canvas>画布</canvas>留下")
        << QStringLiteral("留下");
    QTest::newRow("comments") << cp936("a<!-- 注释 -->b") << QStringLiteral("ab");
}

void TestHtmlToText::leftOut()
{
    QFETCH(QByteArray, html);
    QFETCH(QString, expected);
    QCOMPARE(shown(HtmlToText(html)), expected);
}

void TestHtmlToText::charactersAndEntities_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QByteArray>("expected"); // code page 936 bytes

    QTest::newRow("named and numeric entities")
        << cp936("&lt;a&gt; &amp; &quot;q&quot; &#20013;&#x6587; &hellip;&mdash;")
        << cp936("<a> & \"q\" 中文 …—");
    QTest::newRow("no-break spaces become blanks and do not collapse")
        << cp936("a&nbsp;&nbsp;b") << QByteArray("a  b");
    QTest::newRow("characters code page 936 lacks take their GB18030 form")
        << cp936("x&#x1F600;y&#x0E01;z") << QByteArray("x\x94\x39\xFC\x36y\x81\x32\xCE\x39z");
    QTest::newRow("Chinese text passes through")
        << cp936("<p>据中央气象台消息，今天白天北京晴转多云。</p>")
        << cp936("据中央气象台消息，今天白天北京晴转多云。");
    QTest::newRow("tags in text are not tags")
        << cp936("<xmp><b>粗</b></xmp>") << cp936("<b>粗</b>");
}

void TestHtmlToText::charactersAndEntities()
{
    QFETCH(QByteArray, html);
    QFETCH(QByteArray, expected);
    QCOMPARE(HtmlToText(html), expected);
}

void TestHtmlToText::utf8Text_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray bad = "\xEF\xBF\xBD"; // U+FFFD
    QTest::newRow("every character kept, no-break spaces too")
        << QStringLiteral("<p>a&nbsp;&nbsp;b &#x1F600; 한국어 café</p>").toUtf8()
        << QStringLiteral("a\u00A0\u00A0b 😀 한국어 café").toUtf8();
    // Bytes 0xFF, a reference past U+10FFFF without its ';', control bytes and
    // a NUL. Chromium keeps the control characters, which the parser shows as
    // U+FFFD too.
    QTest::newRow("bytes that are not UTF-8 and a reference out of range")
        << QByteArray::fromBase64(
               "PHA+Jmx0O3RhZ/9ndDsXJmH/////////////////////////////////////////////////////////"
               "////bXA7ICY4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4ODg4"
               "ODg4ODg4ODg4ODg4ODg4ODgmI3g4ODg4ODg4ODgBAQEBAQEBAQEBAQEBAQGXAAEBAQEBAQEBAQEBAQEB"
               "AQEBAQEBAQEBOwEBAQFvcHk7IOS4reaWhzwvcD4=")
        << "<tag" + bad + "gt;" + bad + "&a" + bad.repeated(46) + "mp; &" + QByteArray(69, '8') +
               bad.repeated(40) + ";" + bad.repeated(4) + "opy; 中文";
    QTest::newRow("references out of range do not cut the text short; in xmp they are text")
        << QByteArray("<p>a&#x80000000;b&#4294967361;c&#X0000000000041;</p>"
                      "<xmp>&#x80000000;</xmp>")
        << "a" + bad + "b" + bad + "cA\n\n&#x80000000;";
}

void TestHtmlToText::utf8Text()
{
    QFETCH(QByteArray, html);
    QFETCH(QByteArray, expected);
    QCOMPARE(HtmlToTextUtf8(html), expected);
}

void TestHtmlToText::asBrowsersShowIt_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QString>("expected");

    // Replaced elements: boxes on the line with no text of their own.
    QTest::newRow("blanks beside images and controls stay")
        << cp936("<p> <img> a <input> b <canvas>画布</canvas> c <iframe>框</iframe>"
                 " <meter>m</meter> </p><img> d")
        << QStringLiteral(" a  b  c  \n\n d");
    QTest::newRow("textarea shows nothing, a block one a line")
        << cp936("a<textarea>文本</textarea>b <textarea><b>粗</b></textarea>"
                 " c<textarea style='display:block'>t</textarea>d")
        << QStringLiteral("ab  c\nd");
    QTest::newRow("buttons, audio with controls, embed with a source")
        << cp936("a <button></button> b<button> x </button>c <audio>音</audio>"
                 " d <audio controls>音</audio> e <embed> f <embed src=x.swf>"
                 " g")
        << QStringLiteral("a  bxc d  e f  g");
    // What of a select and of SVG is text.
    QTest::newRow("options on lines of their own, a select's own text not")
        << cp936("a <select>杂<optgroup label=g>组<option>一</option></optgroup>"
                 "<option hidden>二</option></select> b")
        << QStringLiteral("a \n一\n二\n b");
    QTest::newRow("svg: text elements only, each on a line")
        << cp936("<p>x <svg>散<title>标题</title><desc>描述</desc><metadata>"
                 "m</metadata><text>  t   u </text><text>v<tspan>w</tspan>"
                 "</text></svg> y</p>")
        << QStringLiteral("x \nt u\nvw\n y");
    QTest::newRow("svg: hidden and not shown")
        << cp936("a<svg><g style='visibility:hidden'><text>t</text><text visibility='visible'>"
                 "w</text></g><text display='none'>n</text><switch><text>"
                 "1</text><text>2</text></switch></svg>b<svg style='display:none'>"
                 "<text>z</text></svg>")
        << QStringLiteral("a\nw\n1\nb");
    QTest::newRow("svg foreignObject holds HTML")
        << cp936("a<svg><foreignObject><span>s1</span> <span>s2</span></foreignObject>"
                 "</svg>b")
        << QStringLiteral("a\ns1 s2\nb");
    // The display property of the style attribute.
    QTest::newRow("block, list-item, inline")
        << cp936("a<span style='display:block'>x</span>b<span style='display:list-item'>"
                 "y</span><div style='display:inline'>z</div>")
        << QStringLiteral("a\nx\nb\ny\nz");
    QTest::newRow("a block inside an inline-block")
        << cp936("a <span style='display:inline-block'><div>x</div></span>"
                 " b")
        << QStringLiteral("a \nx\n b");
    QTest::newRow("table values")
        << cp936("<div style='display:table'><div style='display:table-row'>"
                 "<div style='display:table-cell'>1</div> <div style='display:table-cell'>"
                 "2</div></div><div style='display:table-row'><div style='display:table-cell'>"
                 "3</div></div></div><div style='display:table-caption'>"
                 "标题</div><div style='display:table-column'>列</div>x")
        << QStringLiteral("1\t2\n3\n标题\nx");
    QTest::newRow("display wins over the hidden attribute")
        << cp936("<div hidden style='display:block'>显示</div><div hidden>"
                 "隐藏</div>")
        << QStringLiteral("显示");
    QTest::newRow("the later declaration wins unless the earlier is important; comments; case")
        << cp936("<div style='display:block;display:none'>x</div>"
                 "<div style='display:block !important; display:none'>y</div>"
                 "<div style='display:none!important;display:block'>z</div>"
                 "<div style='/*display:block*/DISPLAY : None'>c</div>w")
        << QStringLiteral("y\nw");
    QTest::newRow("a paragraph keeps its blank lines when inline")
        << cp936("a<p style='display:inline'>p</p>b <p style='display:inline'>"
                 "q</p> c")
        << QStringLiteral("a\n\np\n\nb \n\nq\n\n c");
    // The visibility property: hidden text takes its room but shows nothing.
    QTest::newRow("hidden text and images keep their room")
        << cp936("a <span style='visibility:hidden'>x</span> b <img style='visibility:hidden'>"
                 " c <span style='visibility:hidden'> x </span> d")
        << QStringLiteral("a  b  c d");
    QTest::newRow("visible children of hidden elements; hidden blocks add no line")
        << cp936("<div style='visibility:hidden'>x<span style='visibility:visible'>"
                 "y</span>z<p style='visibility:visible'>p</p></div>w<div>"
                 "a<div style='visibility:collapse'>x</div>b</div>")
        << QStringLiteral("y\n\np\n\nw\nab");
    QTest::newRow("hidden cells and rows")
        << cp936(
               "<table><tr><td>a</td><td style='visibility:hidden'>b</td>"
               "<td>c</td><td style='visibility:hidden'>d</td></tr><tr style='visibility:collapse'>"
               "<td>e</td><td style='visibility:visible'>f</td></tr><tr>"
               "<td>g</td></tr></table>")
        << QStringLiteral("a\tc\t\nfg");
    QTest::newRow("a hidden line break")
        << cp936("a <br style='visibility:hidden'> b") << QStringLiteral("ab");
    // The white-space property.
    QTest::newRow("pre, pre-wrap, nowrap")
        << cp936("<div style='white-space:pre'>  a  b  </div><div style='white-space:pre-wrap'>"
                 "  c\n  d\te  </div><div style='white-space:nowrap'>  f   g  </div>")
        << QStringLiteral("  a  b  \n  c\n  d\te  \nf g");
    QTest::newRow("pre-line")
        << cp936("<div style='white-space:pre-line'>  a  \n   b  c \n\n\nd</div>"
                 "x<span style='white-space:pre-line'>e\nf</span>y")
        << QStringLiteral("a\nb c\n\n\nd\nxe\nfy");
    QTest::newRow("inherited and overridden")
        << cp936("<div style='white-space:pre'>x<span style='white-space:normal'>"
                 "  y  </span>z<div>  w</div></div><pre style='white-space:normal'>"
                 "  a   b </pre>")
        << QStringLiteral("x y z\n  w\na b");
    QTest::newRow("a table in pre without doctype: the cells collapse")
        << cp936("<pre><table><tr><td> q </td></tr></table></pre>") << QStringLiteral("q");
}

void TestHtmlToText::asBrowsersShowIt()
{
    QFETCH(QByteArray, html);
    QFETCH(QString, expected);
    QCOMPARE(shown(HtmlToText(html)), expected);
}

void TestHtmlToText::realisticPortalPage()
{
    const QByteArray page = cp936(R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="gbk"><title>某某网 - 首页</title>
<link rel="stylesheet" href="a.css"><script src="a.js"></script>
<script>window.dataLayer=[];function f(){return 1<2}</script></head>
<body class="home">
<div id="header"><div class="logo"><a href="/"><img src="logo.png" alt="某某网"></a></div>
<ul class="nav"><li><a href="/">首页</a></li><li><a href="/news">新闻</a></li></ul></div>
<div id="main">
 <div class="article">
  <h1 class="title">北京今日天气：晴转多云，气温 -3℃~8℃</h1>
  <div class="meta"><span>2023-12-07 10:20</span>&nbsp;&nbsp;<span>来源：<a href="#">某某网</a></span></div>
  <div class="content">
   <p>　　据中央气象台消息，今天白天北京<strong>晴转多云</strong>，北风二三级。</p>
   <p>　　明天：多云，最高气温 6℃。</p>
   <table class="data"><tr><th>日期</th><th>天气</th><th>气温</th></tr>
    <tr><td>12月7日</td><td>晴</td><td>-3~8℃</td></tr>
    <tr><td>12月8日</td><td>多云</td><td>-2~6℃</td></tr></table>
  </div>
 </div>
 <div class="sidebar"><h3>热门文章</h3><ol><li><a href="#">文章一</a></li><li><a href="#">文章二</a></li></ol></div>
</div>
<div id="footer">版权所有 | <a href="#">联系我们</a><br>京ICP备00000000号</div>
<script>var _hmt = _hmt || [];</script>
</body></html>
)");
    const QString expected = QStringLiteral(
        "首页\n新闻\n北京今日天气：晴转多云，气温 -3℃~8℃\n2023-12-07 10:20  来源：某某网\n\n"
        "　　据中央气象台消息，今天白天北京晴转多云，北风二三级。\n\n　　明天：多云，最高气温 "
        "6℃。\n\n"
        "日期\t天气\t气温\n12月7日\t晴\t-3~8℃\n12月8日\t多云\t-2~6℃\n热门文章\n文章一\n文章二\n"
        "版权所有 | 联系我们\n京ICP备00000000号");
    QCOMPARE(shown(HtmlToText(page)), expected);
}

void TestHtmlToText::deepNestingNeitherCrashesNorLosesText()
{
    // A page nested this deep used to overflow the stack while the parse tree
    // was freed.
    QByteArray html;
    for (int i = 0; i < 300000; ++i)
        html += "<span>";
    html += cp936("深处");
    QCOMPARE(shown(HtmlToText(html)), QStringLiteral("深处"));
}

void TestHtmlToText::invalidBytesDoNotStopTheRest()
{
    // 0xFF is no lead byte in code page 936; a NUL byte is dropped by the parser.
    const QByteArray html =
        cp936("<p>前</p>") + QByteArray("\xFF\xFF", 2) + QByteArray("a\0b", 3) + cp936("<p>后</p>");
    const QString text = shown(HtmlToText(html));
    QVERIFY2(text.startsWith(QStringLiteral("前\n\n")), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("\n\n后")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1Char('a')) && text.contains(QLatin1Char('b')), qPrintable(text));
}

void TestHtmlToText::largeTableKeepsEveryRow()
{
    QByteArray html = "<table>";
    for (int r = 0; r < 20000; ++r)
        html += "<tr><td>" + QByteArray::number(r) + "</td><td>" + cp936("值") + "</td></tr>";
    html += "</table>";
    const QList<QByteArray> lines = HtmlToText(html).split('\n');
    QCOMPARE(lines.size(), 20000);
    QCOMPARE(lines.first(), QByteArray("0\t") + cp936("值"));
    QCOMPARE(lines.last(), QByteArray("19999\t") + cp936("值"));
}

QTEST_GUILESS_MAIN(TestHtmlToText)
#include "tst_htmltotext.moc"
