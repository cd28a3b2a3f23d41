// HtmlToText against a bare gumbo parse of the same page, on 1 MB and 10 MB
// of Chinese portal-style HTML in code page 936. Prints MB/s and the ratio
// measured in the same run; exits non-zero when the text extraction is slower
// than 15 MB/s or more than 1.5 times the bare parse.
//
// The bare parse is gumbo_parse on the UTF-8 form of the page with the
// options HtmlToText uses: its arena (kept warm between runs as in the
// program) and no tree tear-down, as the arena frees the tree at once.
// HtmlToText's time also covers the code page conversions in and out and the
// text walk.

#include "results/GumboArena.h"
#include "results/HtmlToText.h"
#include "util/AnsiCodec.h"

#include <QElapsedTimer>
#include <QString>

#include <gumbo.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

namespace {

const char* const kPhrases[] = {
    "据中央气象台消息，今天白天北京晴转多云，北风二三级。",
    "国家统计局今日发布数据显示，前三季度国内生产总值同比增长百分之五点二。",
    "记者从市交通委获悉，地铁十九号线北段将于年底开通试运营。",
    "专家提醒，冬季气温较低，老人和儿童应注意防寒保暖，合理安排户外活动。",
    "本届博览会共吸引来自六十多个国家和地区的一千二百余家企业参展。",
    "该项目总投资约三十亿元，建成后可新增就业岗位两千余个。",
    "Reqlark 测试页面 version 1.1 &amp; more &lt;tags&gt; &quot;quoted&quot;",
};

class PageWriter
{
public:
    explicit PageWriter(unsigned seed) : m_rng(seed) {}

    QString page(qsizetype targetBytes)
    {
        QString s;
        s.reserve(targetBytes + 4096);
        s += QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"gbk\">"
            "<title>某某网 - 新闻中心</title>\n"
            "<link rel=\"stylesheet\" href=\"/css/main.css\">\n"
            "<style>body{font:14px/1.6 \"微软雅黑\"}.nav li{float:left}</style>\n"
            "<script>var _hmt=_hmt||[];(function(){var a=1;if(a<2){a++;}})();</script>\n"
            "</head>\n<body>\n<div id=\"header\"><ul class=\"nav\">"
            "<li><a href=\"/\">首页</a></li><li><a href=\"/news\">新闻</a></li>"
            "<li><a href=\"/tech\">科技</a></li><li><a href=\"/about\">关于我们</a></li>"
            "</ul></div>\n<div id=\"main\">\n");
        // Layout cost grows with the approximate size of the text in code
        // page 936 (two bytes a Chinese character).
        auto ansiSize = [&s] { return s.size() * 3 / 2; };
        int article = 0;
        while (ansiSize() < targetBytes) {
            ++article;
            s += QStringLiteral("<div class=\"article\" id=\"a%1\">\n<h2 class=\"title\">"
                                "<a href=\"/news/%1.html\">第%1条新闻：")
                     .arg(article);
            s += phrase();
            s += QStringLiteral("</a></h2>\n<div class=\"meta\"><span>2023-12-07 10:%1</span>"
                                "&nbsp;&nbsp;<span>来源：某某网</span></div>\n")
                     .arg(article % 60, 2, 10, QLatin1Char('0'));
            const int paragraphs = 3 + int(m_rng() % 5);
            for (int p = 0; p < paragraphs; ++p) {
                s += QStringLiteral("<p>　　");
                const int sentences = 2 + int(m_rng() % 4);
                for (int k = 0; k < sentences; ++k) {
                    if (m_rng() % 4 == 0)
                        s += QStringLiteral("<strong>") + phrase() + QStringLiteral("</strong>");
                    else
                        s += phrase();
                }
                s += QStringLiteral("</p>\n");
            }
            if (article % 3 == 0) {
                s += QStringLiteral("<table class=\"data\"><tr><th>日期</th><th>指标</th>"
                                    "<th>数值</th></tr>\n");
                for (int r = 0; r < 4; ++r)
                    s += QStringLiteral("<tr><td>12月%1日</td><td>成交量</td><td>%2</td></tr>\n")
                             .arg(r + 1)
                             .arg(m_rng() % 100000);
                s += QStringLiteral("</table>\n");
            }
            if (article % 4 == 0) {
                s += QStringLiteral("<ul class=\"related\">");
                for (int r = 0; r < 3; ++r)
                    s += QStringLiteral("<li><a href=\"/n/%1\">相关阅读：").arg(m_rng() % 9999) +
                         phrase() + QStringLiteral("</a></li>");
                s += QStringLiteral("</ul>\n");
            }
            if (article % 5 == 0)
                s += QStringLiteral("<script>document.getElementById('a%1').className+=' x';"
                                    "</script>\n")
                         .arg(article);
            s += QStringLiteral("</div>\n");
        }
        s += QStringLiteral("</div>\n<div id=\"footer\">Copyright &copy; 2023 某某网 版权所有"
                            "<br>京ICP备00000000号</div>\n</body></html>\n");
        return s;
    }

private:
    QString phrase()
    {
        return QString::fromUtf8(kPhrases[m_rng() % (sizeof kPhrases / sizeof *kPhrases)]);
    }

    std::mt19937 m_rng;
};

// Best of `runs` timings of each, taken in turns so that a busy spell of the
// machine hits both alike.
template <class A, class B> std::pair<double, double> bestSeconds(int runs, A a, B b)
{
    double bestA = 1e9;
    double bestB = 1e9;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        t.start();
        a();
        bestA = std::min(bestA, double(t.nsecsElapsed()) / 1e9);
        t.start();
        b();
        bestB = std::min(bestB, double(t.nsecsElapsed()) / 1e9);
    }
    return {bestA, bestB};
}

} // namespace

int main()
{
    const double kMinMBps = 15.0;
    const double kMaxRatio = 1.5;
    bool ok = true;
    std::printf("%-6s %10s %10s %12s %12s %8s\n", "size", "bare s", "text s", "bare MB/s",
                "text MB/s", "ratio");
    for (const qsizetype target : {qsizetype(1) << 20, qsizetype(10) << 20}) {
        const QByteArray ansi = AnsiCodec::fromUnicode(PageWriter(7).page(target));
        const QByteArray utf8 = AnsiCodec::toUnicode(ansi).toUtf8();
        const double mb = double(ansi.size()) / (1 << 20);
        const int runs = target > (qsizetype(4) << 20) ? 5 : 15;

        qsizetype textSize = 0;
        size_t nodes = 0;
        const auto [bare, text] = bestSeconds(
            runs,
            [&] {
                GumboArena arena;
                GumboOptions options = kGumboDefaultOptions;
                arena.install(options);
                options.max_errors = 0;
                const GumboOutput* out =
                    gumbo_parse_with_options(&options, utf8.constData(), size_t(utf8.size()));
                // Something of the tree is used, so the parse cannot be dropped.
                nodes += out->root->v.element.children.length;
            },
            [&] { textSize = HtmlToText(ansi).size(); });
        if (nodes == 0)
            ok = false;

        const double ratio = text / bare;
        std::printf("%5.1fM %10.3f %10.3f %12.1f %12.1f %8.2f   (%lld bytes of text)\n", mb, bare,
                    text, mb / bare, mb / text, ratio, static_cast<long long>(textSize));
        if (mb / text < kMinMBps || ratio > kMaxRatio || textSize == 0)
            ok = false;
    }
    std::printf("%s: HtmlToText at least %.0f MB/s and at most %.1fx the bare parse\n",
                ok ? "PASS" : "FAIL", kMinMBps, kMaxRatio);
    return ok ? 0 : 1;
}
