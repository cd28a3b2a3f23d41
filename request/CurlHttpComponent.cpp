// The HTTP request components, on libcurl's easy interface. One class serves
// all three ProgIDs; a profile says what each of them accepts. Built into the
// HTTP module (request/HttpModule.h), the only part of the program that links
// libcurl and OpenSSL.

#include "request/HttpModule.h"
#include "request/untXmlHttp.h"

#include "request/FormatByteSize.h"
#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"
#include "util/Prefault.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older kernels refuse it harmlessly
#endif

#include <QSet>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
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

constexpr int kMaxRedirects = 10;
constexpr long kReceiveBufferBytes = 100 * 1024;
constexpr qint64 kLargeHeaderBlockBytes = 100 * 1024;
// How long the transfer sleeps at most when nothing happens on its
// connection: the idle limit is checked this often. A cancel wakes it at once.
constexpr int kPollMs = 250;
// A body of unknown length has its pages mapped this far ahead of the data,
// not for the whole of a grown buffer, so that what is resident stays close
// to the body.
constexpr qint64 kPrefaultAheadBytes = 8 * 1024 * 1024;
// Past this, a body of unknown length gets a block of at least
// kOwnMappingBytes: the allocator maps a block that large on its own, and
// then grows it by remapping its pages instead of copying them into a new
// block (old and new would both take memory). Only the part written, and
// mapped ahead, becomes memory.
constexpr qint64 kSmallBodyBytes = 4 * 1024 * 1024;
constexpr qint64 kOwnMappingBytes = 96 * 1024 * 1024;

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
// become UTF-8 and are percent-encoded, as are blanks and control characters;
// escapes already in it stay as they are; the host goes in its IDNA form.
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
    static const char hex[] = "0123456789ABCDEF";
    const auto escaped = [](const QByteArray& part) {
        QByteArray out;
        out.reserve(part.size());
        for (const char ch : part) {
            const auto c = static_cast<unsigned char>(ch);
            if (c <= 0x20 || c >= 0x7F) {
                out.append('%');
                out.append(hex[c >> 4]);
                out.append(hex[c & 0xF]);
            } else {
                out.append(char(c));
            }
        }
        return out;
    };
    // The host of an international domain name goes in its IDNA (punycode)
    // form, as browsers send it and as name servers know it.
    const QByteArray authority = utf8.mid(authorityStart, pathStart - authorityStart);
    const qsizetype at = authority.lastIndexOf('@');
    const QByteArray userInfo = at < 0 ? QByteArray() : authority.left(at + 1);
    QByteArray host = authority.mid(at + 1);
    QByteArray port;
    if (!host.startsWith('[')) {
        const qsizetype colon = host.lastIndexOf(':');
        if (colon >= 0) {
            port = host.mid(colon);
            host.truncate(colon);
        }
        if (std::any_of(host.begin(), host.end(), [](char c) { return c & 0x80; })) {
            const QByteArray ace = QUrl::toAce(QString::fromUtf8(host));
            if (!ace.isEmpty())
                host = ace;
        }
    }
    return utf8.left(authorityStart) + escaped(userInfo) + escaped(host) + port +
           escaped(utf8.mid(pathStart));
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

// The pages of a buffer that grows, from `from` to `to`, mapped in one go.
// Huge pages are asked for on the whole block, never on a part: a hint on a
// part splits the block's mapping, and the allocator, unable to remap a split
// block, would grow it by copying.
void mapAhead(QByteArray& buffer, qint64 from, qint64 to, bool grown)
{
    constexpr qint64 kWorthIt = 256 * 1024;
    static const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto data = reinterpret_cast<std::uintptr_t>(buffer.data());
    if (grown && buffer.capacity() >= kWorthIt) {
        const std::uintptr_t start = data & ~(page - 1);
        const std::uintptr_t end =
            (data + std::uintptr_t(buffer.capacity()) + page - 1) & ~(page - 1);
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
    if (to - from < kWorthIt)
        return;
    const std::uintptr_t first = (data + std::uintptr_t(from) + page - 1) & ~(page - 1);
    const std::uintptr_t last = (data + std::uintptr_t(to)) & ~(page - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
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

HttpHopTiming timingOf(CURL* easy, bool secure)
{
    const auto point = [easy](CURLINFO info) {
        curl_off_t value = 0;
        curl_easy_getinfo(easy, info, &value);
        return qint64(value);
    };
    HttpHopTiming timing;
    timing.nameLookup = point(CURLINFO_NAMELOOKUP_TIME_T);
    timing.connect = point(CURLINFO_CONNECT_TIME_T);
    // Only https has a handshake to time.
    timing.tlsHandshake = secure ? point(CURLINFO_APPCONNECT_TIME_T) : 0;
    timing.firstByte = point(CURLINFO_STARTTRANSFER_TIME_T);
    timing.total = point(CURLINFO_TOTAL_TIME_T);
    timing.bytesPerSecond = point(CURLINFO_SPEED_DOWNLOAD_T);
    return timing;
}

// The statuses a browser follows; others (300, 304, 305) are final even with
// a Location.
bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// `location` taken relative to `base`, as libcurl itself resolves it; empty
// when it is no URL at all. Any scheme is kept, so that the caller can name it.
QByteArray resolveLocation(const QByteArray& base, const QByteArray& location)
{
    CURLU* url = curl_url();
    if (!url)
        return {};
    QByteArray resolved;
    const unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE | CURLU_ALLOW_SPACE;
    char* text = nullptr;
    if (curl_url_set(url, CURLUPART_URL, base.constData(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.constData(), flags) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
        resolved = text;
    }
    curl_free(text);
    curl_url_cleanup(url);
    return resolved;
}

// Scheme, host and port of a URL as sent: where the caller's Authorization,
// Cookie and Host rows may go.
struct Origin
{
    QString scheme;
    QString host;
    int port = -1;
    bool operator==(const Origin& o) const
    {
        return scheme == o.scheme && host == o.host && port == o.port;
    }
};

Origin originOf(const QByteArray& url)
{
    const QUrl parsed = QUrl::fromEncoded(url.contains("://") ? url : "http://" + url);
    const QString scheme = parsed.scheme().toLower();
    return {scheme, parsed.host().toLower(),
            parsed.port(scheme == QLatin1String("https") ? 443 : 80)};
}

// The name of the cookie a "Set-Cookie:" header line sets (or deletes, which
// is setting it too); empty for any other line.
QByteArray setCookieName(const QByteArray& line)
{
    static const QByteArray prefix = "set-cookie:";
    if (!SameTextAnsiLower(line.left(prefix.size()), prefix))
        return {};
    const qsizetype semicolon = line.indexOf(';');
    const QByteArray pair = line.mid(prefix.size(), semicolon < 0 ? -1 : semicolon - prefix.size());
    const qsizetype eq = pair.indexOf('=');
    return eq < 0 ? QByteArray() : pair.left(eq).trimmed();
}

// The caller's Cookie row without the cookies named in `superseded`; the row
// as given when none of them is in it.
QByteArray cookieRowWithout(const QByteArray& row, const QSet<QByteArray>& superseded)
{
    if (superseded.isEmpty())
        return row;
    QByteArrayList kept;
    bool dropped = false;
    for (const QByteArray& piece : row.split(';')) {
        const QByteArray cookie = piece.trimmed();
        const qsizetype eq = cookie.indexOf('=');
        if (eq > 0 && superseded.contains(cookie.left(eq).trimmed())) {
            dropped = true;
            continue;
        }
        if (!cookie.isEmpty())
            kept.append(cookie);
    }
    return dropped ? kept.join("; ") : row;
}

// One request of a send: the first, or one that follows a redirect.
struct Hop
{
    QByteArray url; // as sent
    QByteArray method;
    bool carriesBody = false;
    bool follows = false;    // a redirect led here
    bool sameOrigin = true;  // as the first request: the caller's credentials go along
    bool onFirstHost = true; // where the caller's Cookie row belongs
};

class CurlHttpComponent final : public HttpComponent
{
public:
    CurlHttpComponent(const HttpComponentProfile& profile, const HttpComponentConfig& config)
        : m_profile(profile), m_config(config)
    {
    }

    void open(const QByteArray& method, const QByteArray& url, bool async, const QByteArray& user,
              const QByteArray& password) override
    {
        if (async)
            throw HttpError(QStringLiteral("不支持异步请求"));
        if (!IsHttpToken(method))
            throw HttpError(QStringLiteral("“%1”不是有效的请求方法").arg(shown(method)));
        if (url.isEmpty())
            throw HttpError(QStringLiteral("请求的网址为空"));
        if (HoldsLineBreakOrNul(url))
            throw HttpError(QStringLiteral("网址“%1”中有换行符").arg(shown(url)));
        const QByteArray scheme = schemeOf(url);
        if (!scheme.isEmpty() && scheme != "http" && scheme != "https") {
            throw HttpError(
                QStringLiteral("无法请求“%1”：只支持 http 和 https 网址").arg(shown(url)));
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
            throw HttpError(QStringLiteral("代理服务器地址为空"));
        if (HoldsLineBreakOrNul(address)) {
            throw HttpError(QStringLiteral("代理服务器地址“%1”中有换行符").arg(shown(address)));
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
            throw HttpError(
                QStringLiteral("“%1”不是有效的请求头字段名，请求未发送").arg(shown(name)));
        }
        if (HoldsLineBreakOrNul(value)) {
            throw HttpError(QStringLiteral("请求头字段“%1”的值中有换行符或 NUL 字节，请求未发送")
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
    QByteArrayList responseHeaderChain() const override
    {
        requireDone("responseHeaderChain");
        return m_chain;
    }
    QByteArrayList responseStatusChain() const override
    {
        requireDone("responseStatusChain");
        return m_statusChain;
    }
    QList<HttpHopTiming> responseTimings() const override
    {
        requireDone("responseTimings");
        return m_timings;
    }
    bool hasResponseBody() const override { return m_done && m_hasBody; }
    qint64 bodyBytesReceived() const override { return m_received; }
    qint64 expectedBodySize() const override { return m_expected; }

    void cancel() override
    {
        const std::lock_guard<std::mutex> lock(m_multiMutex);
        m_cancelRequested = true;
        if (m_multi)
            curl_multi_wakeup(m_multi);
    }

private:
    void requireOpen(const char* call) const
    {
        if (!m_opened) {
            throw HttpError(QStringLiteral("调用 %1 之前没有调用 open").arg(QLatin1String(call)));
        }
    }
    void requireDone(const char* call) const
    {
        if (!m_done) {
            throw HttpError(QStringLiteral("响应到达之前调用了 %1").arg(QLatin1String(call)));
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

    void runTransfer(const std::function<void()>& work);
    void transfer(const QByteArray& body);
    void configureTransfer(CURL* easy, char* errorBuffer);
    void configureHop(CurlHandle& handle, const Hop& hop, const QByteArray& payload);
    void performHop(CURL* easy, const char* errorBuffer);
    CURLcode perform(CURL* easy);
    void releaseMulti();
    [[noreturn]] static void throwCancelled();
    Hop nextHop(const Hop& from, const Origin& first) const;
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
    bool m_headerBlockKept = false; // of the response being received
    QByteArrayList m_chain;         // header blocks of every response so far
    QByteArrayList m_statusChain;   // and their status lines
    QByteArray m_statusLine;        // of the response being received
    QList<HttpHopTiming> m_timings; // of every request so far
    QByteArray m_location;          // of the response being received
    QByteArray m_hopUrl;            // of the request being made
    QByteArray m_redirectTarget;    // where the response received sends us
    bool m_redirectBodyCut = false; // we stopped reading a redirect's body
    bool m_hopOnFirstHost = true;
    long m_connectCode = 0; // of the proxy's last answer to CONNECT
    QSet<QByteArray> m_cookiesSetByFirstHost;
    QByteArray m_body;
    bool m_hasBody = false;
    bool m_bodyBegun = false;
    // Read by other threads while the transfer runs.
    std::atomic<qint64> m_received{0};
    std::atomic<qint64> m_expected{-1};
    std::atomic<bool> m_cancelRequested{false};
    std::mutex m_multiMutex; // guards m_multi against a cancel from another thread
    CURLM* m_multi = nullptr;
    qint64 m_prefaulted = 0;       // bytes of m_body whose pages are mapped
    bool m_hintWholeBlock = false; // a block reserved for a known length, not yet hinted
    curl_off_t m_lastProgress = -1;
    QElapsedTimer m_idle;
    bool m_connected = false;
    bool m_idleTimedOut = false;
    bool m_bodyTooLarge = false;
    std::exception_ptr m_sinkError;
    QByteArray m_contentLength; // of the response being received
    bool m_chunked = false;     // of the response being received
    bool m_headersComplete = false;
    QString m_badReply; // why the reply was refused, when we refused it
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
        // A proxy's answer to CONNECT (https through a proxy) is known as such
        // once the next response starts: libcurl then holds its status.
        long connectCode = 0;
        curl_easy_getinfo(c->m_easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (connectCode != c->m_connectCode) {
            c->m_connectCode = connectCode;
            if (c->m_headerBlockKept && !c->m_chain.isEmpty()) {
                c->m_chain.removeLast();
                c->m_statusChain.removeLast();
            }
        }
        // A new response (after a redirect, an authentication round or an
        // interim 1xx): only the last one counts.
        c->m_headerLines.clear();
        c->m_statusText.clear();
        c->m_status = 0;
        c->m_contentLength.clear();
        c->m_chunked = false;
        c->m_headersComplete = false;
        c->m_headerBlockKept = false;
        c->m_location.clear();
        c->m_redirectTarget.clear();
        c->m_statusLine = line;
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
                c->m_badReply =
                    QStringLiteral("它给出了两个不同的 Content-Length（%1 和 %2）")
                        .arg(QString::fromLatin1(c->m_contentLength), QString::fromLatin1(value));
                return 0;
            }
            c->m_contentLength = value;
        }
        static const QByteArray encodingName = "transfer-encoding:";
        if (SameTextAnsiLower(line.left(encodingName.size()), encodingName) &&
            AnsiLowerCase(line).contains("chunked"))
            c->m_chunked = true;
        static const QByteArray locationName = "location:";
        if (c->m_location.isEmpty() &&
            SameTextAnsiLower(line.left(locationName.size()), locationName))
            c->m_location = line.mid(locationName.size()).trimmed();
        if (c->m_hopOnFirstHost) {
            const QByteArray cookie = setCookieName(line);
            if (!cookie.isEmpty())
                c->m_cookiesSetByFirstHost.insert(cookie);
        }
        c->m_headerLines.append(line);
    } else {
        c->m_headersComplete = true;
        // Interim 1xx responses are no part of the chain; trailers after a
        // chunked body end with a blank line too but start no new block.
        if (!c->m_headerBlockKept && c->m_status >= 200) {
            c->m_headerBlockKept = true;
            c->m_chain.append(c->m_headerLines.join("\r\n"));
            c->m_statusChain.append(c->m_statusLine);
            if (isRedirectStatus(c->m_status) && !c->m_location.isEmpty())
                c->m_redirectTarget = resolveLocation(c->m_hopUrl, c->m_location);
        }
    }
    c->m_headerBytes += qint64(n);
    return n;
}

size_t CurlHttpComponent::onBody(char* data, size_t size, size_t count, void* self)
{
    auto* c = static_cast<CurlHttpComponent*>(self);
    const size_t n = size * count;
    if (c->m_cancelRequested)
        return 0; // not a byte more into a sink that is being thrown away
    if (!c->m_redirectTarget.isEmpty()) {
        // The body of a redirect we follow is not shown. One that lasts until
        // the server closes is not waited for either.
        if (c->m_contentLength.isEmpty() && !c->m_chunked) {
            c->m_redirectBodyCut = true;
            return 0;
        }
        return n;
    }
    try {
        if (!c->m_bodyBegun) {
            c->m_bodyBegun = true;
            curl_off_t expected = -1;
            curl_easy_getinfo(c->m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
            c->m_expected = expected < 0 ? -1 : qint64(expected);
            if (c->m_sink) {
                c->m_sink->begin(expected);
            } else if (expected > 0) {
                if (expected > c->m_config.maxBodyBytes) {
                    c->m_bodyTooLarge = true;
                    return 0;
                }
                // Reserved once, and its pages mapped a stretch ahead of the
                // data below, as they fill: mapping all of them before the
                // first byte would hold the transfer up for as long.
                c->m_body.reserve(qsizetype(expected));
                c->m_prefaulted = 0;
                c->m_hintWholeBlock = true;
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
            bool grown = false;
            if (needed > c->m_body.capacity()) {
                // A body of unknown length grows in place: the allocator
                // moves a large block by remapping its pages rather than
                // copying them, so the old and the new buffer never both
                // take memory.
                const char* before = c->m_body.constData();
                qint64 capacity =
                    std::max<qint64>({needed, qint64(c->m_body.capacity()) * 3 / 2, 64 * 1024});
                if (capacity > kSmallBodyBytes)
                    capacity = std::max(capacity, kOwnMappingBytes);
                c->m_body.reserve(qsizetype(std::min(capacity, c->m_config.maxBodyBytes)));
                if (c->m_body.constData() != before)
                    c->m_prefaulted = std::min<qint64>(c->m_prefaulted, c->m_body.size());
                grown = true;
            }
            if (needed > c->m_prefaulted) {
                // Mapped a stretch at a time, not all of a grown block:
                // touching the pages one by one as they fill costs more than
                // the transfer itself.
                const qint64 end =
                    std::min<qint64>(c->m_body.capacity(), needed + kPrefaultAheadBytes);
                mapAhead(c->m_body, c->m_prefaulted, end, grown || c->m_hintWholeBlock);
                c->m_hintWholeBlock = false;
                c->m_prefaulted = end;
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
    if (c->m_cancelRequested)
        return 1;
    if (!c->m_connected) {
        // Until the connection stands, the connect time-out applies. A TLS
        // handshake is silence like any other: libcurl notes the connect
        // time only after it, but counts the connection once it is made.
        curl_off_t connectTime = 0;
        long connections = 0;
        curl_easy_getinfo(c->m_easy, CURLINFO_CONNECT_TIME_T, &connectTime);
        curl_easy_getinfo(c->m_easy, CURLINFO_NUM_CONNECTS, &connections);
        if (connectTime == 0 && connections == 0)
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
    m_done = false;
    if (m_cancelRequested)
        throwCancelled();

    // One multi handle for the whole send: the hops of a redirect chain
    // share its connections, and a cancel can wake it from any thread.
    CURLM* multi = curl_multi_init();
    if (!multi)
        throw HttpError(QStringLiteral("HTTP 库无法开始请求"));
    {
        const std::lock_guard<std::mutex> lock(m_multiMutex);
        m_multi = multi;
    }
    try {
        runTransfer([this, &body] { transfer(body); });
    } catch (...) {
        releaseMulti();
        throw;
    }
    releaseMulti();
}

void CurlHttpComponent::releaseMulti()
{
    CURLM* multi = nullptr;
    {
        const std::lock_guard<std::mutex> lock(m_multiMutex);
        std::swap(multi, m_multi);
    }
    // Closes every connection the send kept open.
    if (multi)
        curl_multi_cleanup(multi);
}

void CurlHttpComponent::runTransfer(const std::function<void()>& work)
{
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    // The caller's thread runs the windows: it waits in an event loop of its
    // own while another thread does the transfer.
    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // Only the application's quitting ends the wait early; the transfer
    // stops with it.
    if (!finished)
        cancel();
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

void CurlHttpComponent::throwCancelled()
{
    throw HttpCancelled(QStringLiteral("请求已取消"));
}

CURLcode CurlHttpComponent::perform(CURL* easy)
{
    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK)
        throw HttpError(QStringLiteral("HTTP 库无法开始请求"));
    CURLcode result = CURLE_OK;
    bool finished = false;
    while (!finished && !m_cancelRequested) {
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                result = message->data.result;
                finished = true;
            }
        }
        if (!finished)
            curl_multi_poll(m_multi, nullptr, 0, kPollMs, nullptr);
    }
    // A transfer taken out before its end has its connection closed.
    curl_multi_remove_handle(m_multi, easy);
    if (m_cancelRequested)
        throwCancelled();
    return result;
}

void CurlHttpComponent::transfer(const QByteArray& body)
{
    // A handle of its own for each send: the cookies a chain of redirects
    // sets live in it and go with it.
    CurlHandle handle;
    handle.easy = curl_easy_init();
    if (!handle.easy)
        throw HttpError(QStringLiteral("HTTP 库无法开始请求"));
    CURL* easy = handle.easy;
    m_chain.clear();
    m_statusChain.clear();
    m_timings.clear();
    m_cookiesSetByFirstHost.clear();
    m_body.clear();
    m_prefaulted = 0;
    m_received = 0;
    m_expected = -1;
    m_bodyBegun = false;
    m_bodyTooLarge = false;
    m_sinkError = nullptr;

    char errorBuffer[CURL_ERROR_SIZE] = {};
    configureTransfer(easy, errorBuffer);

    // Like the browser components, GET and HEAD never carry a body. The
    // payload outlives every hop: libcurl reads it where it lies.
    const bool bodiless = m_method == "GET" || m_method == "HEAD";
    const QByteArray payload = bodiless ? QByteArray() : body;
    Hop hop;
    // An address typed without a scheme is http, for the request and as the
    // base its redirects are resolved against.
    hop.url = wireUrl(schemeOf(m_url).isEmpty() ? "http://" + m_url : m_url);
    hop.method = m_method;
    hop.carriesBody = !bodiless;
    const Origin first = originOf(hop.url);
    for (int redirects = 0;; ++redirects) {
        configureHop(handle, hop, payload);
        performHop(easy, errorBuffer);
        m_timings.append(timingOf(easy, schemeOf(hop.url) == "https"));
        if (m_redirectTarget.isEmpty())
            break;
        if (redirects == kMaxRedirects) {
            throw HttpError(QStringLiteral("%1 重定向超过 %2 次，已放弃请求")
                                .arg(hostForMessages(easy))
                                .arg(kMaxRedirects));
        }
        const QByteArray scheme = schemeOf(m_redirectTarget);
        if (scheme != "http" && scheme != "https") {
            throw HttpError(
                QStringLiteral("无法跟随从 %1 到“%2”的重定向：只支持 http 和 https 网址")
                    .arg(hostForMessages(easy), QString::fromUtf8(m_redirectTarget)));
        }
        hop = nextHop(hop, first);
    }

    long responseCode = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &responseCode);
    // A proxy that refuses the tunnel to an https address answers in its
    // own name: its status is the one there is.
    if (responseCode == 0)
        curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &responseCode);
    m_status = int(responseCode);
    const bool noBody = hop.method == "HEAD" || (m_status >= 100 && m_status < 200) ||
                        m_status == 204 || m_status == 304;
    m_hasBody = !noBody;
    // A body of unknown length grew by halves; what it did not fill goes
    // back now rather than staying for as long as the body is shown.
    if (m_body.capacity() - m_body.size() > m_body.size() / 8)
        m_body.squeeze();
    if (m_hasBody && m_sink && !m_bodyBegun) {
        m_bodyBegun = true;
        m_sink->begin(0);
    }
    if (m_hasBody && m_sink)
        m_sink->end();
    m_done = true;
}

void CurlHttpComponent::configureTransfer(CURL* easy, char* errorBuffer)
{
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A cancel during a name lookup must not wait for the resolver's thread,
    // which a dead name server keeps for its whole time-out.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_config.connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // The body is handed over exactly as the server sent it.
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/5.0 (compatible; Reqlark/1.1)");
    // Redirects are followed here, hop by hop, so that each hop gets the
    // caller's rows that belong to its origin. The cookie engine, on and
    // empty, keeps what the hops set for the later hops of this send.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");

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
    if (!m_proxy.isEmpty()) {
        const QByteArray proxyUrl =
            m_proxy.contains("://") ? m_proxy : QByteArray("http://") + m_proxy;
        curl_easy_setopt(easy, CURLOPT_PROXY, proxyUrl.constData());
        if (!m_proxyUser.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, m_proxyUser.constData());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, m_proxyPassword.constData());
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, long(CURLAUTH_ANY));
        }
    } else {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }
}

void CurlHttpComponent::configureHop(CurlHandle& handle, const Hop& hop, const QByteArray& payload)
{
    CURL* easy = handle.easy;
    m_hopUrl = hop.url;
    m_hopOnFirstHost = hop.onFirstHost;
    curl_easy_setopt(easy, CURLOPT_URL, hop.url.constData());

    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
    const bool postLike = hop.method != "GET" && hop.method != "HEAD";
    if (hop.method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (hop.method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        const QByteArray& sent = hop.carriesBody ? payload : QByteArray();
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(sent.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, hop.carriesBody ? payload.constData() : "");
        if (hop.method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, hop.method.constData());
    }

    // The caller's credentials go to the first origin only, as with the
    // Authorization, Cookie and Host rows below.
    if (hop.sameOrigin && !m_user.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, m_user.constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, m_password.constData());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_ANY));
    } else {
        curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
    }

    // The headers in the order set; libcurl's own Content-Type and Expect are
    // not added. A Content-Length row is left to libcurl, which always sends
    // the true size: a value typed by the user would make the server wait or
    // cut the body, and a row of ours would still go out on the bodiless GET
    // that a 301/302/303 turns a POST into, where the server then waits for
    // a body that never comes.
    // The Cookie row goes as given on the first request. After a redirect
    // back to its origin it joins the cookies the chain set, in libcurl's one
    // Cookie line, less the cookies a response from that host has set since:
    // the server's newer value wins and no name goes twice.
    bool contentTypeSet = false;
    QByteArray cookieRow;
    std::vector<QByteArray> lines;
    lines.reserve(m_headers.size() + 2);
    for (const auto& [name, value] : m_headers) {
        if (SameTextAnsiLower(name, "content-length"))
            continue;
        const bool isCookie = SameTextAnsiLower(name, "cookie");
        if (!hop.sameOrigin && (isCookie || SameTextAnsiLower(name, "authorization") ||
                                SameTextAnsiLower(name, "host")))
            continue;
        if (isCookie && hop.follows) {
            cookieRow = cookieRowWithout(value, m_cookiesSetByFirstHost);
            continue;
        }
        if (SameTextAnsiLower(name, "content-type"))
            contentTypeSet = true;
        // "Name;" is libcurl's way of sending a header with an empty value.
        // A value of blanks only must go that way too: libcurl reads
        // "Name:  " as "do not send Name" and would drop the row silently.
        lines.push_back(value.trimmed().isEmpty() ? name + ';' : name + ": " + value);
    }
    if (postLike && !contentTypeSet)
        lines.push_back("Content-Type:");
    lines.push_back("Expect:");
    curl_slist* list = nullptr;
    for (const QByteArray& line : lines) {
        curl_slist* grown = curl_slist_append(list, line.constData());
        if (!grown) {
            curl_slist_free_all(list);
            throw HttpError(QStringLiteral("准备请求头时内存不足"));
        }
        list = grown;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_slist_free_all(handle.headers);
    handle.headers = list;
    const QByteArray cookies = cookieRow.trimmed();
    curl_easy_setopt(easy, CURLOPT_COOKIE, cookies.isEmpty() ? nullptr : cookies.constData());
}

void CurlHttpComponent::performHop(CURL* easy, const char* errorBuffer)
{
    m_headerLines.clear();
    m_statusText.clear();
    m_status = 0;
    m_contentLength.clear();
    m_chunked = false;
    m_headersComplete = false;
    m_headerBlockKept = false;
    m_location.clear();
    m_redirectTarget.clear();
    m_redirectBodyCut = false;
    m_connectCode = 0;
    m_badReply.clear();
    m_headerBytes = 0;
    m_lastProgress = -1;
    m_connected = false;
    m_idleTimedOut = false;
    m_idle.start();

    m_easy = easy;
    CURLcode code = CURLE_OK;
    try {
        code = perform(easy);
    } catch (...) {
        m_easy = nullptr;
        throw;
    }
    m_easy = nullptr;
    // Where a redirect goes is known from its headers; what becomes of its
    // body (cut by us, or by the server closing) does not matter.
    const bool redirectBodyLost = !m_redirectTarget.isEmpty() && m_headersComplete &&
                                  ((code == CURLE_WRITE_ERROR && m_redirectBodyCut) ||
                                   code == CURLE_RECV_ERROR || code == CURLE_PARTIAL_FILE);
    // A server or proxy refusing a request (407 from tinyproxy, 401, 413...)
    // often closes without reading the body we sent; the kernel then ends the
    // connection with a reset instead of an orderly close. When the refusal's
    // body runs up to the close, that reset is its end: keep the response
    // rather than report a broken connection and hide the status.
    const bool refusalEndedByReset = code == CURLE_RECV_ERROR && m_headersComplete &&
                                     m_status >= 400 && m_contentLength.isEmpty() && !m_chunked &&
                                     !m_sinkError && !m_bodyTooLarge;
    if (code != CURLE_OK && !refusalEndedByReset && !redirectBodyLost)
        fail(easy, code, errorBuffer);
    // libcurl takes a connection closed in the middle of the header block
    // for the end of a response without body; it is a broken reply.
    if (!m_headersComplete) {
        throw HttpError(QStringLiteral("与 %1 的连接在响应完整到达之前断开（断在响应头中）")
                            .arg(hostForMessages(easy)));
    }
}

Hop CurlHttpComponent::nextHop(const Hop& from, const Origin& first) const
{
    Hop next;
    next.url = m_redirectTarget;
    next.follows = true;
    const Origin origin = originOf(next.url);
    next.sameOrigin = origin == first;
    next.onFirstHost = origin.host == first.host;
    // As browsers do: 303 asks for the new place with GET, and 301/302 turn
    // a POST into a GET; 307/308 repeat the request as it was.
    const bool toGet = (m_status == 303 && from.method != "HEAD") ||
                       ((m_status == 301 || m_status == 302) && from.method == "POST");
    next.method = toGet ? QByteArray("GET") : from.method;
    next.carriesBody = toGet ? false : from.carriesBody;
    return next;
}

void CurlHttpComponent::fail(CURL* easy, CURLcode code, const char* errorBuffer)
{
    if (m_sinkError)
        std::rethrow_exception(m_sinkError);
    const QString host = hostForMessages(easy);
    const QString detail =
        QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    if (m_idleTimedOut) {
        throw HttpError(QStringLiteral("%1 已有 %2 秒没有发来数据，已放弃请求")
                            .arg(host)
                            .arg(m_config.idleTimeoutMs / 1000.0));
    }
    if (m_bodyTooLarge) {
        throw HttpError(
            QStringLiteral("%1 的响应大于内存中能保存的 %2，请用“保存到文件”下载")
                .arg(host, QString::fromLatin1(FormatByteSize(m_config.maxBodyBytes).trimmed())));
    }
    if (!m_badReply.isEmpty()) {
        throw HttpError(QStringLiteral("%1 发回的不是有效的 HTTP 响应：%2").arg(host, m_badReply));
    }
    // libcurl gives up on a header block of about 300 KB; say so rather than
    // blaming the connection.
    if (!m_bodyBegun && m_headerBytes > kLargeHeaderBlockBytes &&
        (code == CURLE_RECV_ERROR || code == CURLE_WEIRD_SERVER_REPLY ||
         code == CURLE_OUT_OF_MEMORY)) {
        throw HttpError(
            QStringLiteral("%1 发回的响应头超过能接受的大小（已收到 %2）：%3")
                .arg(host, QString::fromLatin1(FormatByteSize(m_headerBytes).trimmed()), detail));
    }
    // A proxy that refuses the tunnel to an https address after it was
    // given credentials ends the request in its own name.
    long connectCode = 0;
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (!m_proxy.isEmpty() && connectCode >= 400) {
        if (connectCode == 407) {
            throw HttpError(QStringLiteral("代理服务器 %1 拒绝了代理认证（407），没有建立到 %2 "
                                           "的连接：请检查代理用户名和密码")
                                .arg(shown(m_proxy), host));
        }
        throw HttpError(QStringLiteral("代理服务器 %1 拒绝建立到 %2 的连接（%3）")
                            .arg(shown(m_proxy), host)
                            .arg(connectCode));
    }
    long osErrno = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
    const QString reason = osErrno ? QString::fromLocal8Bit(std::strerror(int(osErrno))) : detail;
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: {
        // libcurl uses this code both for an address of another scheme and
        // for a reply without an HTTP status line (HTTP/0.9, a bad version).
        char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        const QByteArray target = effective ? QByteArray(effective) : m_url;
        const QByteArray scheme = schemeOf(target);
        if (scheme == "http" || scheme == "https") {
            throw HttpError(QStringLiteral("%1 发回的不是有效的 HTTP 响应：%2").arg(host, detail));
        }
        throw HttpError(QStringLiteral("无法请求“%1”：只支持 http 和 https 网址")
                            .arg(QString::fromUtf8(target)));
    }
    case CURLE_URL_MALFORMAT:
        throw HttpError(QStringLiteral("网址“%1”无效（%2）").arg(shown(m_url), detail));
    case CURLE_COULDNT_RESOLVE_HOST:
        throw HttpError(QStringLiteral("找不到服务器 %1：无法解析这个名称").arg(host));
    case CURLE_COULDNT_RESOLVE_PROXY:
        throw HttpError(
            QStringLiteral("找不到代理服务器 %1：无法解析这个名称").arg(shown(m_proxy)));
    case CURLE_COULDNT_CONNECT:
        if (!m_proxy.isEmpty())
            throw HttpError(
                QStringLiteral("无法连接到代理服务器 %1：%2").arg(shown(m_proxy), reason));
        throw HttpError(QStringLiteral("无法连接到 %1：%2").arg(host, reason));
    case CURLE_OPERATION_TIMEDOUT:
        throw HttpError(QStringLiteral("连接 %1 超时（%2 秒）")
                            .arg(host)
                            .arg(m_config.connectTimeoutMs / 1000.0));
    case CURLE_PEER_FAILED_VERIFICATION:
        throw HttpError(QStringLiteral("%1 的证书无效：%2").arg(host, detail));
    case CURLE_SSL_CONNECT_ERROR:
        throw HttpError(QStringLiteral("与 %1 的安全连接失败：%2").arg(host, detail));
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        throw HttpError(
            QStringLiteral("与 %1 的连接在响应完整到达之前断开（已收到正文 %2 字节）：%3")
                .arg(host)
                .arg(m_received)
                .arg(detail));
    case CURLE_SEND_ERROR:
        throw HttpError(QStringLiteral("向 %1 发送请求失败：%2").arg(host, reason));
    case CURLE_WEIRD_SERVER_REPLY:
        throw HttpError(QStringLiteral("%1 发回的不是有效的 HTTP 响应：%2").arg(host, detail));
    default:
        throw HttpError(QStringLiteral("对 %1 的请求失败：%2").arg(host, detail));
    }
}

class CurlComponentFactory final : public HttpComponentFactory
{
public:
    std::unique_ptr<HttpComponent> create(const QByteArray& progId,
                                          const HttpComponentConfig& config) override
    {
        for (const auto& profile : kProfiles) {
            if (SameTextAnsiLower(progId, QByteArray(profile.progId)))
                return std::make_unique<CurlHttpComponent>(profile, config);
        }
        return nullptr;
    }
};

} // namespace

extern "C" Q_DECL_EXPORT HttpComponentFactory* reqlarkHttpComponents(int interfaceVersion)
{
    static CurlComponentFactory factory;
    return interfaceVersion == kHttpModuleInterface ? &factory : nullptr;
}
