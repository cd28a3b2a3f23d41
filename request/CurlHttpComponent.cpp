// The HTTP request components, on libcurl's easy interface. One class serves
// all three ProgIDs; a profile says what each of them accepts.

#include "request/untXmlHttp.h"

#include "request/FormatByteSize.h"
#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"
#include "util/Prefault.h"

#include <QElapsedTimer>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct HttpComponentProfile
{
    const char* progId;
    bool acceptsProxy;
    bool acceptsProxyCredentials;
    bool honoursCertOption;
};

// XMLHTTP takes neither a proxy nor credentials; WinHTTP takes the proxy but
// is never given credentials; only ServerXMLHTTP has option 2.
const HttpComponentProfile kProfiles[] = {
    {kProgIdServerXmlHttp, true, true, true},
    {kProgIdXmlHttp, false, false, false},
    {kProgIdWinHttp, true, false, false},
};

constexpr long kMaxRedirects = 10;
constexpr long kReceiveBufferBytes = 100 * 1024;
constexpr qint64 kLargeHeaderBlockBytes = 100 * 1024;

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString shown(const QByteArray& ansi)
{
    return AnsiCodec::toUnicode(ansi);
}

// The scheme of a URL, lower-cased, or empty when it names none.
QByteArray schemeOf(const QByteArray& url)
{
    const qsizetype colon = url.indexOf("://");
    if (colon <= 0)
        return {};
    const QByteArray scheme = url.left(colon);
    for (char c : scheme) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!ok)
            return {};
    }
    return AnsiLowerCase(scheme);
}

// The address as a browser's address bar sends it: characters beyond ASCII
// (code page 936 text) become UTF-8 and are percent-encoded after the host
// part, as are blanks and control characters. The host part stays as text so
// that international domain names still resolve.
QByteArray wireUrl(const QByteArray& url)
{
    QByteArray utf8 = AnsiCodec::toUnicode(url).toUtf8();
    const qsizetype schemeEnd = utf8.indexOf("://");
    qsizetype pathStart = utf8.size();
    const qsizetype authorityStart = schemeEnd >= 0 ? schemeEnd + 3 : 0;
    for (qsizetype i = authorityStart; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '/' || c == '?' || c == '#') {
            pathStart = i;
            break;
        }
    }
    QByteArray out = utf8.left(pathStart);
    static const char hex[] = "0123456789ABCDEF";
    for (qsizetype i = pathStart; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c <= 0x20 || c >= 0x7F) {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0xF]);
        } else {
            out.append(char(c));
        }
    }
    return out;
}

// "host" or "host:port" of a URL as sent; empty when it names no host.
QString hostOf(const QByteArray& url)
{
    const QUrl parsed = QUrl::fromEncoded(url.contains("://") ? url : "http://" + url);
    if (parsed.host().isEmpty())
        return {};
    return parsed.port() > 0 ? parsed.host() + QLatin1Char(':') + QString::number(parsed.port())
                             : parsed.host();
}

QByteArray normalizedMethod(const QByteArray& method)
{
    static const char* const standard[] = {"DELETE", "GET", "HEAD", "OPTIONS", "POST", "PUT"};
    for (const char* m : standard) {
        if (SameTextAnsiLower(method, QByteArray(m)))
            return QByteArray(m);
    }
    return method;
}

// Accepts a server certificate whose only fault is its validity dates.
int verifyIgnoringDates(int preverified, X509_STORE_CTX* store)
{
    if (preverified)
        return 1;
    const int error = X509_STORE_CTX_get_error(store);
    if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    return 0;
}

CURLcode installDateTolerantVerify(CURL*, void* sslContext, void*)
{
    SSL_CTX_set_verify(static_cast<SSL_CTX*>(sslContext), SSL_VERIFY_PEER, verifyIgnoringDates);
    return CURLE_OK;
}

void prefault(QByteArray& buffer)
{
    PrefaultBuffer(buffer.data(), size_t(buffer.capacity()));
}

struct CurlHandle
{
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    ~CurlHandle()
    {
        curl_slist_free_all(headers);
        if (easy)
            curl_easy_cleanup(easy);
    }
};

class CurlHttpComponent final : public HttpComponent
{
public:
    CurlHttpComponent(const HttpComponentProfile& profile, const HttpComponentConfig& config)
        : m_profile(profile), m_config(config)
    {
    }

    void open(const QByteArray& method, const QByteArray& url, bool async,
              const QByteArray& user, const QByteArray& password) override
    {
        if (async)
            throw HttpError(QStringLiteral("Asynchronous requests are not supported"));
        if (!IsHttpToken(method))
            throw HttpError(QStringLiteral("\"%1\" is not a valid request method").arg(shown(method)));
        if (url.isEmpty())
            throw HttpError(QStringLiteral("The address to request is empty"));
        if (HoldsLineBreakOrNul(url))
            throw HttpError(QStringLiteral("The address \"%1\" holds a line break").arg(shown(url)));
        const QByteArray scheme = schemeOf(url);
        if (!scheme.isEmpty() && scheme != "http" && scheme != "https") {
            throw HttpError(QStringLiteral("Cannot request \"%1\": only http and https addresses "
                                           "are supported")
                                .arg(shown(url)));
        }
        // A component may be opened again; nothing of an earlier request stays.
        m_headers.clear();
        m_proxy.clear();
        m_proxyUser.clear();
        m_proxyPassword.clear();
        m_ignoreCertDates = false;
        m_done = false;
        m_method = normalizedMethod(method);
        m_url = url;
        m_user = user;
        m_password = password;
        m_opened = true;
    }

    void setProxy(int setting, const QByteArray& address) override
    {
        requireOpen("setProxy");
        if (!m_profile.acceptsProxy)
            return;
        if (setting != kProxySettingNamedServer) {
            m_proxy.clear();
            return;
        }
        if (TrimBytes(address).isEmpty())
            throw HttpError(QStringLiteral("The proxy server address is empty"));
        if (HoldsLineBreakOrNul(address)) {
            throw HttpError(
                QStringLiteral("The proxy address \"%1\" holds a line break").arg(shown(address)));
        }
        m_proxy = address;
    }

    void setProxyCredentials(const QByteArray& user, const QByteArray& password) override
    {
        requireOpen("setProxyCredentials");
        if (!m_profile.acceptsProxyCredentials)
            return;
        m_proxyUser = user;
        m_proxyPassword = password;
    }

    void setRequestHeader(const QByteArray& name, const QByteArray& value) override
    {
        requireOpen("setRequestHeader");
        if (!IsHttpToken(name)) {
            throw HttpError(QStringLiteral("\"%1\" is not a valid request header name; the "
                                           "request was not sent")
                                .arg(shown(name)));
        }
        if (HoldsLineBreakOrNul(value)) {
            throw HttpError(QStringLiteral("The value of the request header \"%1\" holds a line "
                                           "break or a NUL byte; the request was not sent")
                                .arg(shown(name)));
        }
        for (auto& header : m_headers) {
            if (SameTextAnsiLower(header.first, name)) {
                header.second = value;
                return;
            }
        }
        m_headers.emplace_back(name, value);
    }

    void setOption(int option, int value) override
    {
        requireOpen("setOption");
        if (m_profile.honoursCertOption && option == kOptionIgnoreServerCertErrors)
            m_ignoreCertDates = (value & kIgnoreCertDateInvalid) != 0;
    }

    void setResponseBodySink(ResponseBodySink* sink) override { m_sink = sink; }

    void send(const QByteArray& body) override;

    std::optional<QByteArray> responseBody() const override
    {
        if (!m_done || !m_hasBody || m_sink)
            return std::nullopt;
        return m_body;
    }
    QByteArray getAllResponseHeaders() const override
    {
        requireDone("getAllResponseHeaders");
        return m_headerLines.join("\r\n");
    }
    int status() const override
    {
        requireDone("status");
        return m_status;
    }
    QByteArray statusText() const override
    {
        requireDone("statusText");
        return m_statusText;
    }
    bool hasResponseBody() const override { return m_done && m_hasBody; }
    qint64 bodyBytesReceived() const override { return m_received; }

private:
    void requireOpen(const char* call) const
    {
        if (!m_opened) {
            throw HttpError(
                QStringLiteral("%1 was called before open").arg(QLatin1String(call)));
        }
    }
    void requireDone(const char* call) const
    {
        if (!m_done) {
            throw HttpError(QStringLiteral("%1 was called before a response arrived")
                                .arg(QLatin1String(call)));
        }
    }

    QString hostForMessages(CURL* easy) const
    {
        char* effective = nullptr;
        if (easy && curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
            effective) {
            const QString host = hostOf(QByteArray(effective));
            if (!host.isEmpty())
                return host;
        }
        const QString host = hostOf(wireUrl(m_url));
        return host.isEmpty() ? shown(m_url) : host;
    }

    [[noreturn]] void fail(CURL* easy, CURLcode code, const char* errorBuffer);

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow);

    HttpComponentProfile m_profile;
    HttpComponentConfig m_config;

    bool m_opened = false;
    QByteArray m_method;
    QByteArray m_url;
    QByteArray m_user;
    QByteArray m_password;
    std::vector<std::pair<QByteArray, QByteArray>> m_headers;
    QByteArray m_proxy;
    QByteArray m_proxyUser;
    QByteArray m_proxyPassword;
    bool m_ignoreCertDates = false;
    ResponseBodySink* m_sink = nullptr;

    // Transfer state.
    CURL* m_easy = nullptr;
    bool m_done = false;
    int m_status = 0;
    QByteArray m_statusText;
    QByteArrayList m_headerLines;
    QByteArray m_body;
    bool m_hasBody = false;
    bool m_bodyBegun = false;
    qint64 m_received = 0;
    curl_off_t m_lastProgress = -1;
    QElapsedTimer m_idle;
    bool m_connected = false;
    bool m_idleTimedOut = false;
    bool m_bodyTooLarge = false;
    std::exception_ptr m_sinkError;
    QByteArray m_contentLength; // of the response being received
    bool m_chunked = false;     // of the response being received
    bool m_headersComplete = false;
    QString m_badReply;         // why the reply was refused, when we refused it
    qint64 m_headerBytes = 0;
};

size_t CurlHttpComponent::onHeader(char* data, size_t size, size_t count, void* self)
{
    auto* c = static_cast<CurlHttpComponent*>(self);
    const size_t n = size * count;
    QByteArray line(data, qsizetype(n));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        // A new response (after a redirect, an authentication round or an
        // interim 1xx): only the last one counts.
        c->m_headerLines.clear();
        c->m_statusText.clear();
        c->m_status = 0;
        c->m_contentLength.clear();
        c->m_chunked = false;
        c->m_headersComplete = false;
        const qsizetype sp1 = line.indexOf(' ');
        if (sp1 > 0) {
            const qsizetype sp2 = line.indexOf(' ', sp1 + 1);
            const QByteArray code = line.mid(sp1 + 1, sp2 < 0 ? -1 : sp2 - sp1 - 1);
            c->m_status = code.toInt();
            if (sp2 > 0)
                c->m_statusText = line.mid(sp2 + 1);
        }
    } else if (!line.isEmpty()) {
        // Two different lengths leave the body's end open to either reading;
        // libcurl would silently take one of them.
        static const QByteArray lengthName = "content-length:";
        if (line.size() > lengthName.size() &&
            SameTextAnsiLower(line.left(lengthName.size()), lengthName)) {
            const QByteArray value = TrimBytes(line.mid(lengthName.size()));
            if (!c->m_contentLength.isEmpty() && value != c->m_contentLength) {
                c->m_badReply = QStringLiteral("it gave two different Content-Length values "
                                               "(%1 and %2)")
                                    .arg(QString::fromLatin1(c->m_contentLength),
                                         QString::fromLatin1(value));
                return 0;
            }
            c->m_contentLength = value;
        }
        static const QByteArray encodingName = "transfer-encoding:";
        if (SameTextAnsiLower(line.left(encodingName.size()), encodingName) &&
            AnsiLowerCase(line).contains("chunked"))
            c->m_chunked = true;
        c->m_headerLines.append(line);
    } else {
        c->m_headersComplete = true;
    }
    c->m_headerBytes += qint64(n);
    return n;
}

size_t CurlHttpComponent::onBody(char* data, size_t size, size_t count, void* self)
{
    auto* c = static_cast<CurlHttpComponent*>(self);
    const size_t n = size * count;
    try {
        if (!c->m_bodyBegun) {
            c->m_bodyBegun = true;
            curl_off_t expected = -1;
            curl_easy_getinfo(c->m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
            if (c->m_sink) {
                c->m_sink->begin(expected);
            } else if (expected > 0) {
                if (expected > c->m_config.maxBodyBytes) {
                    c->m_bodyTooLarge = true;
                    return 0;
                }
                // Reserving once avoids the page faults of a growing buffer,
                // which cost far more than the transfer itself.
                c->m_body.reserve(qsizetype(expected));
                prefault(c->m_body);
            }
        }
        if (c->m_sink) {
            c->m_sink->write(data, n);
        } else {
            const qint64 needed = c->m_body.size() + qint64(n);
            if (needed > c->m_config.maxBodyBytes) {
                c->m_bodyTooLarge = true;
                return 0;
            }
            if (needed > c->m_body.capacity()) {
                // A body of unknown length. Growing in place would copy into
                // pages that fault one by one; copy into a premapped buffer
                // instead. Growing by half keeps the peak (old plus new
                // buffer) under 2.5 times the body.
                QByteArray grown;
                grown.reserve(qsizetype(std::min<qint64>(
                    std::max<qint64>({needed, qint64(c->m_body.capacity()) * 3 / 2, 64 * 1024}),
                    c->m_config.maxBodyBytes)));
                prefault(grown);
                grown.append(c->m_body.constData(), c->m_body.size());
                c->m_body.swap(grown);
            }
            c->m_body.append(data, qsizetype(n));
        }
    } catch (...) {
        c->m_sinkError = std::current_exception();
        return 0;
    }
    c->m_received += qint64(n);
    return n;
}

int CurlHttpComponent::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t,
                                  curl_off_t ulNow)
{
    auto* c = static_cast<CurlHttpComponent*>(self);
    if (!c->m_connected) {
        // Until the connection stands, the connect time-out applies.
        curl_off_t connectTime = 0;
        curl_easy_getinfo(c->m_easy, CURLINFO_CONNECT_TIME_T, &connectTime);
        if (connectTime == 0)
            return 0;
        c->m_connected = true;
        c->m_idle.restart();
    }
    const curl_off_t progress = dlNow + ulNow;
    if (progress != c->m_lastProgress) {
        c->m_lastProgress = progress;
        c->m_idle.restart();
        return 0;
    }
    if (c->m_idle.elapsed() > c->m_config.idleTimeoutMs) {
        c->m_idleTimedOut = true;
        return 1;
    }
    return 0;
}

void CurlHttpComponent::send(const QByteArray& body)
{
    requireOpen("send");
    initCurlOnce();

    CurlHandle handle;
    handle.easy = curl_easy_init();
    if (!handle.easy)
        throw HttpError(QStringLiteral("The HTTP library could not start a request"));
    CURL* easy = handle.easy;
    m_easy = easy;
    m_done = false;
    m_headerLines.clear();
    m_body.clear();
    m_received = 0;
    m_bodyBegun = false;
    m_connected = false;
    m_idleTimedOut = false;
    m_bodyTooLarge = false;
    m_sinkError = nullptr;
    m_contentLength.clear();
    m_chunked = false;
    m_headersComplete = false;
    m_badReply.clear();
    m_headerBytes = 0;
    m_lastProgress = -1;
    m_idle.start();

    const QByteArray url = wireUrl(m_url);
    const bool isGet = m_method == "GET";
    const bool isHead = m_method == "HEAD";
    // Like the browser components, GET and HEAD never carry a body.
    const QByteArray payload = (isGet || isHead) ? QByteArray() : body;
    const bool hasPayloadMethod = !(isGet || isHead);

    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_config.connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // The body is handed over exactly as the server sent it.
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/5.0 (compatible; Reqlark/1.1)");

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlHttpComponent::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlHttpComponent::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlHttpComponent::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);

    if (!m_config.caFile.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, m_config.caFile.constData());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    if (m_ignoreCertDates)
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &installDateTolerantVerify);

    // No proxy unless one was set: proxy variables of the environment are
    // not a setting of this program, and no_proxy / NO_PROXY must not let a
    // request bypass the proxy the user chose.
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    QByteArray proxyUrl;
    if (!m_proxy.isEmpty()) {
        proxyUrl = m_proxy.contains("://") ? m_proxy : QByteArray("http://") + m_proxy;
        curl_easy_setopt(easy, CURLOPT_PROXY, proxyUrl.constData());
        if (!m_proxyUser.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, m_proxyUser.constData());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, m_proxyPassword.constData());
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, long(CURLAUTH_ANY));
        }
    } else {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }
    if (!m_user.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, m_user.constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, m_password.constData());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_ANY));
    }

    if (isGet) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (isHead) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(payload.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, payload.constData());
        if (m_method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_method.constData());
    }

    // The headers in the order set; libcurl's own Content-Type and Expect are
    // not added. A Content-Length row is left to libcurl, which always sends
    // the true size: a value typed by the user would make the server wait or
    // cut the body, and a row of ours would still go out on the bodiless GET
    // that a 301/302/303 turns a POST into, where the server then waits for
    // a body that never comes.
    bool contentTypeSet = false;
    std::vector<QByteArray> lines;
    lines.reserve(m_headers.size() + 2);
    for (const auto& [name, value] : m_headers) {
        if (SameTextAnsiLower(name, "content-length"))
            continue;
        if (SameTextAnsiLower(name, "content-type"))
            contentTypeSet = true;
        // "Name;" is libcurl's way of sending a header with an empty value.
        // A value of blanks only must go that way too: libcurl reads
        // "Name:  " as "do not send Name" and would drop the row silently.
        lines.push_back(value.trimmed().isEmpty() ? name + ';' : name + ": " + value);
    }
    if (hasPayloadMethod && !contentTypeSet)
        lines.push_back("Content-Type:");
    lines.push_back("Expect:");
    for (const QByteArray& line : lines) {
        curl_slist* grown = curl_slist_append(handle.headers, line.constData());
        if (!grown)
            throw HttpError(QStringLiteral("Out of memory while preparing the request headers"));
        handle.headers = grown;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, handle.headers);

    const CURLcode code = curl_easy_perform(easy);
    m_easy = nullptr;
    // A server or proxy refusing a request (407 from tinyproxy, 401, 413...)
    // often closes without reading the body we sent; the kernel then ends the
    // connection with a reset instead of an orderly close. When the refusal's
    // body runs up to the close, that reset is its end: keep the response
    // rather than report a broken connection and hide the status.
    const bool refusalEndedByReset = code == CURLE_RECV_ERROR && m_headersComplete &&
                                     m_status >= 400 && m_contentLength.isEmpty() &&
                                     !m_chunked && !m_sinkError && !m_bodyTooLarge;
    if (code != CURLE_OK && !refusalEndedByReset)
        fail(easy, code, errorBuffer);
    // libcurl takes a connection closed in the middle of the header block
    // for the end of a response without body; it is a broken reply.
    if (!m_headersComplete) {
        throw HttpError(QStringLiteral("The connection to %1 broke off before the whole "
                                       "response arrived (it ended inside the response "
                                       "headers)")
                            .arg(hostForMessages(easy)));
    }

    long responseCode = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &responseCode);
    m_status = int(responseCode);
    const bool bodiless =
        isHead || (m_status >= 100 && m_status < 200) || m_status == 204 || m_status == 304;
    m_hasBody = !bodiless;
    if (m_hasBody && m_sink && !m_bodyBegun) {
        m_bodyBegun = true;
        m_sink->begin(0);
    }
    m_done = true;
}

void CurlHttpComponent::fail(CURL* easy, CURLcode code, const char* errorBuffer)
{
    if (m_sinkError)
        std::rethrow_exception(m_sinkError);
    const QString host = hostForMessages(easy);
    const QString detail =
        QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    if (m_idleTimedOut) {
        throw HttpError(QStringLiteral("No data came from %1 for %2 seconds; the request was "
                                       "given up")
                            .arg(host)
                            .arg(m_config.idleTimeoutMs / 1000.0));
    }
    if (m_bodyTooLarge) {
        throw HttpError(QStringLiteral("The response from %1 is larger than the %2 that can be "
                                       "held in memory; use 保存到文件 to download it")
                            .arg(host, QString::fromLatin1(
                                           FormatByteSize(m_config.maxBodyBytes).trimmed())));
    }
    if (!m_badReply.isEmpty()) {
        throw HttpError(
            QStringLiteral("%1 sent a reply that is not valid HTTP: %2").arg(host, m_badReply));
    }
    // libcurl gives up on a header block of about 300 KB; say so rather than
    // blaming the connection.
    if (!m_bodyBegun && m_headerBytes > kLargeHeaderBlockBytes &&
        (code == CURLE_RECV_ERROR || code == CURLE_WEIRD_SERVER_REPLY ||
         code == CURLE_OUT_OF_MEMORY)) {
        throw HttpError(QStringLiteral("%1 sent more response headers than can be accepted "
                                       "(%2 received): %3")
                            .arg(host, QString::fromLatin1(FormatByteSize(m_headerBytes).trimmed()),
                                 detail));
    }
    long osErrno = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
    const QString reason = osErrno ? QString::fromLocal8Bit(std::strerror(int(osErrno))) : detail;
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: {
        // libcurl uses this code both for a redirect to another scheme and
        // for a reply without an HTTP status line (HTTP/0.9, a bad version).
        char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        const QByteArray target = effective ? QByteArray(effective) : m_url;
        const QByteArray scheme = schemeOf(target);
        if (scheme == "http" || scheme == "https") {
            throw HttpError(
                QStringLiteral("%1 sent a reply that is not valid HTTP: %2").arg(host, detail));
        }
        throw HttpError(QStringLiteral("Cannot follow the redirect from %1 to \"%2\": only http "
                                       "and https addresses are supported")
                            .arg(hostOf(wireUrl(m_url)), QString::fromUtf8(target)));
    }
    case CURLE_URL_MALFORMAT:
        throw HttpError(QStringLiteral("The address \"%1\" is not a valid URL (%2)")
                            .arg(shown(m_url), detail));
    case CURLE_COULDNT_RESOLVE_HOST:
        throw HttpError(
            QStringLiteral("Cannot find the server %1: its name could not be resolved").arg(host));
    case CURLE_COULDNT_RESOLVE_PROXY:
        throw HttpError(QStringLiteral("Cannot find the proxy server %1: its name could not be "
                                       "resolved")
                            .arg(shown(m_proxy)));
    case CURLE_COULDNT_CONNECT:
        throw HttpError(QStringLiteral("Cannot connect to %1: %2")
                            .arg(m_proxy.isEmpty() ? host
                                                   : QStringLiteral("the proxy server ") +
                                                         shown(m_proxy),
                                 reason));
    case CURLE_OPERATION_TIMEDOUT:
        throw HttpError(QStringLiteral("Connecting to %1 timed out after %2 seconds")
                            .arg(host)
                            .arg(m_config.connectTimeoutMs / 1000.0));
    case CURLE_TOO_MANY_REDIRECTS:
        throw HttpError(QStringLiteral("%1 redirected more than %2 times; the request was "
                                       "given up")
                            .arg(host)
                            .arg(kMaxRedirects));
    case CURLE_PEER_FAILED_VERIFICATION:
        throw HttpError(QStringLiteral("The certificate of %1 is not valid: %2").arg(host, detail));
    case CURLE_SSL_CONNECT_ERROR:
        throw HttpError(QStringLiteral("The secure connection to %1 failed: %2").arg(host, detail));
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        throw HttpError(QStringLiteral("The connection to %1 broke off before the whole response "
                                       "arrived (%2 body bytes received): %3")
                            .arg(host)
                            .arg(m_received)
                            .arg(detail));
    case CURLE_SEND_ERROR:
        throw HttpError(QStringLiteral("Sending the request to %1 failed: %2").arg(host, reason));
    case CURLE_WEIRD_SERVER_REPLY:
        throw HttpError(
            QStringLiteral("%1 sent a reply that is not valid HTTP: %2").arg(host, detail));
    default:
        throw HttpError(QStringLiteral("The request to %1 failed: %2").arg(host, detail));
    }
}

} // namespace

std::unique_ptr<HttpComponent> CreateHttpComponent(const QByteArray& progId,
                                                   const HttpComponentConfig& config)
{
    for (const auto& profile : kProfiles) {
        if (SameTextAnsiLower(progId, QByteArray(profile.progId)))
            return std::make_unique<CurlHttpComponent>(profile, config);
    }
    return nullptr;
}

QByteArray ProgIdForComponentCaption(const QByteArray& caption)
{
    const QByteArray key = AnsiLowerCase(caption);
    if (key == "serverxmlhttp")
        return kProgIdServerXmlHttp;
    if (key == "xmlhttp")
        return kProgIdXmlHttp;
    if (key == "winhttp")
        return kProgIdWinHttp;
    return {};
}
