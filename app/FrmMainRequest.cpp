// Sending the request from the main window's inputs and distributing the
// response to the memos, the status bar and the header list, or into a file.

#include "app/untFrmMain.h"

#include "app/StatusPanels.h"
#include "headers/CookieRow.h"
#include "headers/HeaderList.h"
#include "request/BodyCharset.h"
#include "request/FormatByteSize.h"
#include "request/RequestDispatch.h"
#include "request/UTF8Unit.h"
#include "request/untXmlHttp.h"
#include "results/HtmlToText.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/InputGuard.h"
#include "util/MyStrUtils.h"
#include "util/Prompter.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

// The decoded body of every response, for whoever listens; off unless
// enabled (QT_LOGGING_RULES="reqlark.response.body.debug=true"), so a large
// body costs nothing otherwise.
Q_LOGGING_CATEGORY(lcResponseBody, "reqlark.response.body", QtInfoMsg)

namespace {

// The save dialog's filter as the window design gives it: description and
// patterns alternate, separated by "|".
const char kSaveFilter[] = "文本文件(*.txt)|*.txt|网页文件(*.html;*.html)|*.html;*.htm|"
                           "Json文本(*.Json)|*.json|压缩文件(*.zip;*.rar)|*.zip;*.rar|"
                           "其它文件(*.*)|*.*";

QStringList qtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out.append(parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return out;
}

QByteArray ansi(const QString& text)
{
    return AnsiCodec::fromUnicode(text);
}

QString sizeText(qint64 bytes)
{
    return QString::fromLatin1(FormatByteSize(bytes).trimmed());
}

} // namespace

// The stretch of a request during which the window waits for it: the user's
// input is dropped (Esc cancels), closing is put off until it ends, and the
// status bar follows the body as it arrives.
class TFrmMain::RequestScope
{
public:
    explicit RequestScope(TFrmMain* window)
        : m_window(window), m_input([window] { window->cancelRequest(); })
    {
        m_window->m_request = this;
        m_window->m_statusBar->setToolTip(QStringLiteral("按Esc键取消请求"));
        m_progress.setInterval(100); // at most ten refreshes a second
        QObject::connect(&m_progress, &QTimer::timeout, [this] { showProgress(); });
    }

    ~RequestScope()
    {
        // Clicks and keys the window system delivered while the response
        // was being shown go with the request, instead of acting afterwards.
        m_input.dropPendingInput();
        m_window->m_statusBar->setToolTip(QString());
        m_window->m_request = nullptr;
        if (m_window->m_closeAfterRequest) {
            m_window->m_closeAfterRequest = false;
            QMetaObject::invokeMethod(m_window, &QWidget::close, Qt::QueuedConnection);
        }
    }

    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;

    // Sends while panel 2 shows `progressText` followed by what has arrived;
    // afterwards the text alone again, or that the request was cancelled.
    SentRequest send(const RequestInputs& in, const QString& progressText)
    {
        m_progressText = progressText;
        m_progress.start();
        try {
            SentRequest sent = SendRequest(in, m_window->m_env.http, &m_running);
            // Esc while the last bytes went to disk: the download is not
            // kept either.
            if (m_running.cancelRequested())
                throw HttpCancelled(QStringLiteral("请求已取消"));
            endProgress(progressText);
            return sent;
        } catch (const HttpCancelled&) {
            endProgress(QStringLiteral("请求已取消"));
            throw;
        } catch (...) {
            endProgress(progressText);
            throw;
        }
    }

    void cancel() { m_running.cancel(); }

private:
    void showProgress()
    {
        const qint64 received = m_running.received();
        const qint64 expected = m_running.expected();
        QString text = m_progressText;
        if (received > 0 || expected >= 0) {
            text += QLatin1Char(' ') + sizeText(received);
            if (expected >= 0)
                text += QStringLiteral(" / ") + sizeText(expected);
        } else {
            // Nothing has come yet: the moment a user wonders how to stop.
            text += QStringLiteral("（按Esc取消）");
        }
        m_window->setPanelText(2, text);
    }

    void endProgress(const QString& text)
    {
        m_progress.stop();
        m_window->setPanelText(2, text);
    }

    TFrmMain* m_window;
    InputGuard m_input;
    RunningRequest m_running;
    QTimer m_progress;
    QString m_progressText;
};

void TFrmMain::cancelRequest()
{
    if (m_request)
        m_request->cancel();
}

void TFrmMain::btnSendReqestClick()
{
    // Never a second request inside the first (only code could ask for one:
    // the user's input is dropped while a request runs).
    if (requestRunning())
        return;

    offerToDeleteAcceptEncoding();

    // A page view goes back to HTML; the view handler runs only on the
    // user's own choice, so it does not run here.
    const int view = ui->cbbResultType->currentIndex();
    if (view == 2 || view == 3)
        ui->cbbResultType->setCurrentIndex(0);
    setPanelText(1, ui->cbbResultType->currentText());
    hideBrowser();
    setPanelText(3, QString());
    showTransferTimes({});

    RequestScope request(this);
    const bool download = !SaveTargetPath.isEmpty();
    const QString progress =
        download ? QStringLiteral("正在从网址下载到文件") : QStringLiteral("正在加载html");
    if (!download) {
        ui->mmoHtml->clear();
        showResponseHeaders(nullptr);
    }
    setPanelText(2, progress);
    // Once, so that the emptied memos, the progress text and, after the save
    // dialog, the window under it are painted before the request starts.
    QCoreApplication::processEvents();

    const RequestInputs in = requestInputs();
    if (in.url.isEmpty())
        return;
    SentRequest sent = request.send(in, progress);
    std::unique_ptr<HttpComponent>& http = sent.http;
    if (!http)
        return; // nothing sent: nothing else changes
    // A response without a body (204, 304) is shown as one whose body is empty.
    const qint64 size = http->bodyBytesReceived();
    const QString statusLine = QString::number(http->status()) + QLatin1Char(' ') +
                               AnsiCodec::toUnicode(http->statusText());
    const QList<HttpHopTiming> timings = http->responseTimings();

    if (download) {
        // A response without a body (304 Not Modified, 204) has nothing to
        // put in place of the file the user has.
        const bool bodyless = !http->hasResponseBody();
        if (!bodyless)
            sent.download->commit();
        SaveTargetPath.clear();
        setPanelText(2, bodyless ? QStringLiteral("没有正文，文件未改动")
                                 : QStringLiteral("文件保存完成"));
        // A saved 404 or 500 page must not pass for the file asked for.
        setPanelText(3, statusLine);
    } else {
        showResponseHeaders(http.get());
        takeResponseBody(http->responseBody().value_or(QByteArray()),
                         http->getAllResponseHeaders());
        showResponseInMemo(ui->cbbResultType->currentIndex() == 1);
        const int refused = ui->chkGetRespCookie->isChecked() ? syncCookieRow(*http) : 0;
        qCDebug(lcResponseBody).noquote() << AnsiCodec::toUnicode(LastResponseText);
        setPanelText(2, refused == 0 ? QStringLiteral("Html加载完成")
                                     : QStringLiteral("Html加载完成，Cookie 行已满，%1 个 Cookie "
                                                      "未加入")
                                           .arg(refused));
        setPanelText(3, statusLine);
        http.reset();
    }
    setPanelText(4, QString::fromLatin1(FormatByteSize(size)));
    showTransferTimes(timings);
}

void TFrmMain::offerToDeleteAcceptEncoding()
{
    // Before every request while the row exists.
    if (IndexOfReqHeader("Accept-Encoding") >= 0 &&
        m_prompter->askYesNo(QStringLiteral("提示"),
                             QStringLiteral("设置Accept-Encoding字段可能无法得到正确返回结果"
                                            "\r\n是否需要删除该字段?")))
        DelReqHeaderByName("Accept-Encoding");
}

int TFrmMain::syncCookieRow(const HttpComponent& http)
{
    // Every response of a redirect chain, in order: a login sets its cookies
    // on the 302 it answers with.
    return MergeIntoCookieRow(*m_headers,
                              ExtractSetCookies(http.responseHeaderChain().join("\r\n")));
}

RequestInputs TFrmMain::requestInputs() const
{
    RequestInputs in;
    in.url = TrimBytes(ansi(ui->edtUrl->text()));
    in.method = AnsiLowerCase(ansi(ui->cbbMethod->currentText()));
    in.data = ansi(ui->edtData->text());
    in.componentKind = AnsiLowerCase(ansi(ui->cbbComponent->currentText()));
    for (int row = 0; row < m_headers->count(); ++row)
        in.headers.push_back(m_headers->at(row));
    in.useProxy = ui->chkUseProxy->isChecked();
    in.proxyAddress = ProxyAddress;
    in.proxyUserName = ProxyUserName;
    in.proxyPassword = ProxyPassword;
    in.downloadPath = SaveTargetPath;
    return in;
}

void TFrmMain::takeResponseBody(const QByteArray& body, const QByteArray& headers)
{
    // LastResponseText is code page 936 (converted when the body is UTF-8);
    // the views show the body's own characters. They take a body as UTF-8
    // only when all of it is well-formed: IsUTF8Encoded lets stray bytes
    // such as 0x80 pass, and those belong to the declared charset. The two
    // stay together until the next body arrives, so a failed request changes
    // neither.
    bool wellFormed = false;
    if (IsUTF8Encoded(body))
        LastResponseText = AnsiCodec::utf8ToAnsi(body, &wellFormed);
    else
        LastResponseText = body;
    m_htmlMemoText = BodyToUtf8(body, DeclaredCharset(headers, body), wellFormed);
    m_htmlMemoTextOf = LastResponseText;
    // Kept to be read again in a charset the user chooses; every new body is
    // read automatically first.
    m_responseBody = body;
    m_responseBodyHeaders = headers;
    m_bodyCharset.clear();
}

QByteArray TFrmMain::responseTextUtf8() const
{
    // LastResponseText set from elsewhere has no text of its own yet.
    const bool same = m_htmlMemoTextOf.constData() == LastResponseText.constData() &&
                      m_htmlMemoTextOf.size() == LastResponseText.size();
    return same ? m_htmlMemoText : AnsiCodec::ansiToUtf8(LastResponseText);
}

void TFrmMain::showResponseInMemo(bool plainText)
{
    const QByteArray text = responseTextUtf8();
    ui->mmoHtml->setUtf8(plainText ? HtmlToTextUtf8(text) : text);
}

void TFrmMain::btnSaveToFileClick()
{
    Prompter::SaveRequest request;
    request.defaultSuffix = QStringLiteral("txt");
    request.nameFilters = qtNameFilters(QString::fromUtf8(kSaveFilter));
    request.confirmOverwrite = true;
    if (const std::optional<QString> path = m_prompter->askSaveFileName(request))
        SaveTargetPath = *path;
    if (!SaveTargetPath.isEmpty())
        ui->btnSendReqest->click();
    // Emptied whether the request succeeded, stopped early or failed.
    SaveTargetPath.clear();
}
