// A large UTF-8 Chinese HTML response, from the send button to the text shown
// in the HTML memo, against QPlainTextEdit::setPlainText of the same text in
// a memo of the same size, measured in the same run. Then a 50 MB response
// must be shown without failing.
//
//   bench_display [megabytes]     (default 10)

#include "app/Startup.h"
#include "app/untFrmMain.h"
#include "request/UTF8Unit.h"
#include "request/untXmlHttp.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedPrompter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// News-list style page: short tagged lines of Chinese text, as portals serve.
QByteArray chineseHtml(qint64 bytes)
{
    static const char* const words[] = {"新闻", "中国", "经济", "发展", "科技", "网络", "市场",
                                        "国际", "体育", "文化", "教育", "健康", "政策", "数据",
                                        "城市", "企业", "公司", "报道", "记者", "今天"};
    QByteArray html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>新闻中心"
                      "</title></head>\n<body>\n";
    quint32 seed = 12345;
    int item = 0;
    while (html.size() < bytes) {
        html += "<div class=\"item\"><a href=\"/news/" + QByteArray::number(++item) +
                ".html\">";
        for (int w = 0; w < 12; ++w) {
            seed = seed * 1103515245 + 12345;
            html += words[(seed >> 16) % 20];
        }
        html += "</a><span class=\"date\">2026-12-07</span><p>";
        for (int w = 0; w < 30; ++w) {
            seed = seed * 1103515245 + 12345;
            html += words[(seed >> 16) % 20];
            if (w % 7 == 6)
                html += "，";
        }
        html += "。</p></div>\n";
    }
    html += "</body></html>\n";
    return html;
}

template <class T> T* child(QWidget* w, const char* name)
{
    return w->findChild<T*>(QLatin1String(name));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Startup::tuneAllocator(); // as the program does
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Reqlark"));
    const int megabytes = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    LoopbackServer server;
    const QByteArray page = chineseHtml(qint64(megabytes) * 1024 * 1024);
    server.route("/page", ScriptedResponse::ok(page, "text/html; charset=utf-8"));

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    TFrmMain::Environment env;
    env.prompter = &prompter;
    env.executablePath = dir.filePath(QStringLiteral("reqlark"));
    TFrmMain window(env);
    window.show();
    child<QLineEdit>(&window, "edtUrl")->setText(QString::fromLatin1(server.url("/page")));
    auto* send = child<QPushButton>(&window, "btnSendReqest");
    auto* memo = child<QPlainTextEdit>(&window, "mmoHtml");

    // The reference memo is set up as the HTML memo is.
    QPlainTextEdit reference;
    reference.setFont(memo->font());
    reference.setLineWrapMode(memo->lineWrapMode());
    reference.setReadOnly(true);
    reference.setUndoRedoEnabled(false);
    reference.setVerticalScrollBarPolicy(memo->verticalScrollBarPolicy());
    reference.setHorizontalScrollBarPolicy(memo->horizontalScrollBarPolicy());
    reference.resize(memo->size());
    reference.show();
    const QString text = QString::fromUtf8(page);

    // Several rounds, so that the median shows a request as it usually runs,
    // not the first one that finds the heap still small.
    constexpr int kRuns = 7;
    std::vector<double> sendMs, refMs;
    for (int i = 0; i < kRuns; ++i) {
        reference.clear();
        QElapsedTimer t;
        t.start();
        reference.setPlainText(text);
        refMs.push_back(t.nsecsElapsed() / 1e6);

        QElapsedTimer s;
        s.start();
        send->click();
        sendMs.push_back(s.nsecsElapsed() / 1e6);
        if (!prompter.errors.isEmpty() || memo->document()->characterCount() < text.size()) {
            std::fprintf(stderr, "the response was not shown: %s\n",
                         qPrintable(prompter.errors.value(0)));
            return 1;
        }
    }
    const double r = median(refMs), s = median(sendMs);
    std::printf("%d MB UTF-8 Chinese HTML (median of %d)\n", megabytes, kRuns);
    std::printf("  setPlainText alone:        %8.1f ms\n", r);
    std::printf("  send button to text shown: %8.1f ms   ratio %.2fx (target <= 1.5x)\n", s, s / r);
    std::printf("  first round of the process (the heap still growing): %.1f ms, ratio %.2fx\n",
                sendMs.front(), sendMs.front() / refMs.front());

    // Where the time goes, stage by stage, for the same page.
    {
        QElapsedTimer t;
        t.start();
        auto http = CreateHttpComponent(kProgIdServerXmlHttp);
        http->open("get", server.url("/page"), false, {}, {});
        http->send({});
        const QByteArray body = *http->responseBody();
        const double fetch = t.nsecsElapsed() / 1e6;
        t.restart();
        const bool utf8 = IsUTF8Encoded(body);
        const double detect = t.nsecsElapsed() / 1e6;
        t.restart();
        QString shown;
        const QByteArray ansi = DecodeUtf8IfEncoded(body, &shown);
        const double decode = t.nsecsElapsed() / 1e6;
        t.restart();
        memo->clear();
        const double clear = t.nsecsElapsed() / 1e6;
        t.restart();
        memo->setPlainText(shown);
        const double show = t.nsecsElapsed() / 1e6;
        std::printf("  stages: fetch %.1f ms, detect %.1f ms (%s), decode %.1f ms, clear the memo "
                    "%.1f ms, show %.1f ms\n",
                    fetch, detect, utf8 ? "UTF-8" : "not UTF-8", decode, clear, show);
    }

    // 50 MB must be shown, however long it takes.
    const QByteArray big = chineseHtml(qint64(50) * 1024 * 1024);
    server.route("/big", ScriptedResponse::ok(big, "text/html; charset=utf-8"));
    child<QLineEdit>(&window, "edtUrl")->setText(QString::fromLatin1(server.url("/big")));
    QElapsedTimer b;
    b.start();
    send->click();
    const bool shown = prompter.errors.isEmpty() &&
                       memo->document()->characterCount() >= QString::fromUtf8(big).size();
    std::printf("  50 MB response: %s in %.1f s\n", shown ? "shown" : "NOT SHOWN",
                b.nsecsElapsed() / 1e9);
    return shown ? 0 : 1;
}
