// Speed of UTF-8 detection and of the UTF-8 -> code page 936 conversion on
// 100 MB of Chinese HTML, against memchr / memcpy over the same buffer in the
// same run.

#include "request/UTF8Unit.h"
#include "util/AnsiCodec.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr qsizetype kTextBytes = 100 * 1024 * 1024;
constexpr int kRepetitions = 5;

// Frequent characters of Chinese web text.
const char kCommonHanzi[] = "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会"
                            "可主发年动同工也能下过子说"
                            "产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起"
                            "小物现实加量都两体制机当使"
                            "点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样"
                            "与关各重新线内数正心反你明"
                            "看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代"
                            "想已通并提直题党程展五果料"
                            "象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将"
                            "组见计别她手角期根论运农指"
                            "几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七"
                            "海口东导器压志世金增争济阶"
                            "油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花带安场身车"
                            "例真务具万每目至达走积示议"
                            "声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段"
                            "研界拉林律叫且究观越织装影";
const char* const kPunctuation[] = {"，", "。", "、", "：", "“", "”", "！", "？", "（", "）"};
const char* const kAscii[] = {"HTTP", "2024", "Reqlark", "GB2312", "iPhone", "100%", "OK"};

struct Rng
{
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 11);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// Markup and Chinese text in the proportions of a news page: tags, class
// names and links in ASCII, paragraphs of 3-byte characters with full-width
// punctuation and the odd Latin word or number.
QByteArray chineseHtml(qsizetype size)
{
    std::vector<QByteArray> hanzi;
    const QString all = QString::fromUtf8(kCommonHanzi);
    for (QChar ch : all)
        hanzi.push_back(QString(ch).toUtf8());

    QByteArray html;
    html.reserve(size + 4096);
    html += "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
            "<title>新闻中心</title></head><body>\n";
    Rng rng;
    int item = 0;
    while (html.size() < size) {
        ++item;
        html += "<div class=\"news-item\" id=\"n" + QByteArray::number(item) +
                "\"><a href=\"/article/" + QByteArray::number(rng.next() % 1000000) +
                ".html\" target=\"_blank\">";
        for (uint32_t i = 0, n = 8 + rng.below(14); i < n; ++i)
            html += hanzi[rng.below(uint32_t(hanzi.size()))];
        html += "</a>\n<p class=\"summary\">";
        for (uint32_t i = 0, n = 60 + rng.below(200); i < n; ++i) {
            const uint32_t roll = rng.below(100);
            if (roll < 8)
                html += kPunctuation[rng.below(10)];
            else if (roll < 10)
                html += QByteArray(" ") + kAscii[rng.below(7)] + ' ';
            else
                html += hanzi[rng.below(uint32_t(hanzi.size()))];
        }
        html += "</p><span class=\"time\">2024-05-" + QByteArray::number(10 + rng.below(20)) +
                "</span></div>\n";
    }
    html.truncate(size);
    // Cut at a character boundary so the whole buffer stays valid UTF-8.
    while (!html.isEmpty() && (uchar(html.back()) & 0xC0) == 0x80)
        html.chop(1);
    if (!html.isEmpty() && uchar(html.back()) >= 0xC0)
        html.chop(1);
    return html;
}

struct Timing
{
    double median;
    double best;
};

template <class Work> Timing timeIt(Work&& work)
{
    std::vector<double> times;
    for (int i = 0; i < kRepetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e9);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

} // namespace

int main()
{
    const QByteArray html = chineseHtml(kTextBytes);
    qsizetype high = 0;
    for (char c : html)
        high += uchar(c) >= 0x80;
    const double mb = html.size() / (1024.0 * 1024.0);
    const double gb = html.size() / 1e9;
    std::printf("input: %.1f MB of generated Chinese UTF-8 HTML (%.0f%% of bytes >= 0x80); "
                "median of %d runs\n\n",
                mb, 100.0 * double(high) / double(html.size()), kRepetitions);

    // Detection against memchr for a byte that never occurs (one full scan).
    volatile bool detected = false;
    const Timing detect =
        timeIt([&] { detected = IsUTF8Encoded(html.constData(), size_t(html.size())); });
    volatile const void* found = nullptr;
    const Timing scan =
        timeIt([&] { found = std::memchr(html.constData(), 0x01, size_t(html.size())); });
    if (!detected || found) {
        std::fprintf(stderr, "IsUTF8Encoded rejected valid UTF-8, or the input holds 0x01\n");
        return 1;
    }
    std::printf("IsUTF8Encoded       %7.2f GB/s (best %.2f)   memchr %6.2f GB/s   ratio: %.1fx "
                "memchr's time   target >= 1 GB/s: %s\n",
                gb / detect.median, gb / detect.best, gb / scan.median, detect.median / scan.median,
                gb / detect.median >= 1.0 ? "met" : "MISSED");

    // Conversion against memcpy into a buffer of the same size.
    QByteArray ansi;
    const Timing convert = timeIt([&] { ansi = AnsiCodec::utf8ToAnsi(html); });
    QByteArray copy(html.size(), Qt::Uninitialized);
    const Timing copying =
        timeIt([&] { std::memcpy(copy.data(), html.constData(), size_t(html.size())); });
    // The conversion must really have happened: same text, fewer bytes.
    qsizetype probe = 1024 * 1024;
    while ((uchar(html[probe]) & 0xC0) == 0x80) // start of a character
        --probe;
    const QByteArray head = html.left(probe);
    const QByteArray headAnsi = AnsiCodec::utf8ToAnsi(head);
    if (ansi.isEmpty() || ansi.size() >= html.size() || ansi.contains('?') ||
        AnsiCodec::toUnicode(headAnsi) != QString::fromUtf8(head)) {
        std::fprintf(stderr, "the UTF-8 -> CP936 conversion gave a wrong result\n");
        return 1;
    }
    std::printf("utf8ToAnsi (CP936)  %7.1f MB/s (best %.1f)   memcpy %6.1f MB/s   ratio: %.1fx "
                "memcpy's time   (%.1f MB in, %.1f MB out)\n",
                mb / convert.median, mb / convert.best, mb / copying.median,
                convert.median / copying.median, mb, ansi.size() / (1024.0 * 1024.0));
    return 0;
}
