#include "request/RequestDispatch.h"

#include "util/MyStrUtils.h"

#include <QScopeGuard>

namespace {

bool hasRow(const std::vector<HeaderEntry>& rows, const QByteArray& name)
{
    for (const HeaderEntry& row : rows) {
        if (SameTextAnsiLower(row.name, name))
            return true;
    }
    return false;
}

} // namespace

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
        if (!hasRow(in.headers, "Content-Type"))
            http->setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
        http->setRequestHeader("Content-Length", QByteArray::number(in.data.size()));
        http->send(in.data);
    }
    return sent;
}
