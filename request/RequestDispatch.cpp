#include "request/RequestDispatch.h"

#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"

#include <QScopeGuard>
#include <QStringEncoder>

namespace {

// The value of the first row named `name`, or nothing.
const HeaderEntry* firstRow(const std::vector<HeaderEntry>& rows, const QByteArray& name)
{
    for (const HeaderEntry& row : rows) {
        if (SameTextAnsiLower(row.name, name))
            return &row;
    }
    return nullptr;
}

} // namespace

QByteArray EncodeRequestData(const QByteArray& data, const QByteArray& contentType)
{
    const QByteArrayList parts = contentType.split(';');
    const QByteArray mediaType = AnsiLowerCase(TrimBytes(parts.first()));
    QByteArray charset;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = TrimBytes(parts[i]);
        if (SameTextAnsiLower(parameter.left(8), "charset=")) {
            charset = AnsiLowerCase(TrimBytes(parameter.mid(8)));
            if (charset.size() >= 2 && charset.startsWith('"') && charset.endsWith('"'))
                charset = charset.mid(1, charset.size() - 2);
            break;
        }
    }
    // JSON has no charset parameter of its own: it is UTF-8.
    if (charset.isEmpty() && (mediaType == "application/json" || mediaType.endsWith("+json")))
        charset = "utf-8";
    // The program's own text is GB18030, which GBK and GB2312 servers read.
    static const char* const ansiNames[] = {"gb18030", "gbk",   "gb2312",
                                            "cp936",   "x-gbk", "windows-936"};
    if (charset.isEmpty() || std::any_of(std::begin(ansiNames), std::end(ansiNames),
                                         [&](const char* n) { return charset == n; }))
        return data;
    if (charset == "utf-8" || charset == "utf8")
        return AnsiCodec::ansiToUtf8(data);
    QStringEncoder encoder(charset.constData());
    if (!encoder.isValid())
        return data; // a charset nobody knows: the text as typed
    return encoder.encode(AnsiCodec::toUnicode(data));
}

void RunningRequest::cancel()
{
    m_cancelled = true;
    if (m_http)
        m_http->cancel();
}

qint64 RunningRequest::received() const
{
    return m_http ? m_http->bodyBytesReceived() : 0;
}

qint64 RunningRequest::expected() const
{
    return m_http ? m_http->expectedBodySize() : -1;
}

SentRequest SendRequest(const RequestInputs& in, const HttpComponentConfig& config,
                        RunningRequest* running)
{
    // No method or no component chosen (a stored position outside the
    // lists): nothing can be sent, as when a component cannot be created.
    SentRequest sent;
    if (in.method.isEmpty())
        return sent;
    sent.http = CreateHttpComponent(ProgIdForComponentCaption(in.componentKind), config);
    if (!sent.http)
        return sent;
    HttpComponent* http = sent.http.get();

    http->open(in.method, in.url, false, QByteArray(), QByteArray());

    if (in.useProxy && !in.proxyAddress.isEmpty() && in.componentKind != "xmlhttp") {
        http->setProxy(kProxySettingNamedServer, in.proxyAddress);
        if (!in.proxyUserName.isEmpty() && in.componentKind == "serverxmlhttp")
            http->setProxyCredentials(in.proxyUserName, in.proxyPassword);
    }

    // Pseudo-header rows (":authority" and the like, pasted from a browser's
    // tools) are no valid header line in HTTP/1.1.
    for (const HeaderEntry& header : in.headers) {
        if (header.name.isEmpty() || header.value.isEmpty() || header.name.startsWith(':'))
            continue;
        http->setRequestHeader(header.name, header.value);
    }

    if (in.componentKind == "serverxmlhttp")
        http->setOption(kOptionIgnoreServerCertErrors, kIgnoreCertDateInvalid);

    if (!in.downloadPath.isEmpty()) {
        sent.download = std::make_unique<DownloadSink>(in.downloadPath);
        http->setResponseBodySink(sent.download.get());
    }

    if (running) {
        if (running->m_cancelled)
            http->cancel();
        running->m_http = http;
    }
    const auto unwatch = qScopeGuard([running] {
        if (running)
            running->m_http = nullptr;
    });

    if (in.method == "get") {
        http->send(QByteArray());
    } else {
        const HeaderEntry* type = firstRow(in.headers, "Content-Type");
        if (!type)
            http->setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
        const QByteArray body = EncodeRequestData(in.data, type ? type->value : QByteArray());
        http->setRequestHeader("Content-Length", QByteArray::number(body.size()));
        http->send(body);
    }
    return sent;
}
