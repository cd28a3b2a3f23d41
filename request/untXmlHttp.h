#pragma once

#include "util/ReqlarkError.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QList>

#include <functional>
#include <memory>
#include <optional>

// The HTTP request components. A component carries exactly one request:
// open, set proxy / headers / options, send (blocking until the whole
// response is in), then read status, headers and body. Three components
// exist, chosen by ProgID; they differ only in what they accept (see
// HttpComponentProfile in the implementation).
//
// send returns only when the response is in or the request failed, but on
// the thread of the application object it does not hold that thread: the
// transfer runs on a thread of its own while send waits in a local event
// loop, so windows paint, timers run and events are delivered meanwhile
// (keeping the user's input away from the windows is the caller's business,
// see util/InputGuard.h). Elsewhere, or without an application object, send
// does the transfer itself. Either way the sink and the component's state are
// used by one thread at a time.
//
// Redirects (301, 302, 303, 307, 308) are followed, at most 10, to http and
// https only. A cookie that a response of the chain sets is sent on its later
// hops under the usual domain, path, secure and expiry rules; none is kept
// from one send to the next. The Cookie header set by the caller goes as
// given on the first request; on later requests to the same origin it goes in
// the same Cookie line as the chain's cookies, without the cookies whose names
// a response from that host has set meanwhile. Authorization, Cookie and Host
// headers and the credentials of open() never go to another origin.

inline constexpr const char* kProgIdServerXmlHttp = "MSXML2.ServerXMLHTTP";
inline constexpr const char* kProgIdXmlHttp = "MSXML2.XMLHTTP";
inline constexpr const char* kProgIdWinHttp = "WinHttp.WinHttpRequest.5.1";

// Option 2 of ServerXMLHTTP: which server certificate errors to ignore.
inline constexpr int kOptionIgnoreServerCertErrors = 2;
// Value 0x2000: accept a certificate whose validity dates do not cover today.
inline constexpr int kIgnoreCertDateInvalid = 8192;
// setProxy setting 2: use the named proxy server.
inline constexpr int kProxySettingNamedServer = 2;

// Raised by every component call that fails. The text says what failed, for
// which host and why.
class HttpError : public ReqlarkError
{
public:
    using ReqlarkError::ReqlarkError;
};

// Raised by a send that was cancelled: its connection is closed, nothing of
// the response is kept and a sink got no more bytes.
class HttpCancelled : public HttpError
{
public:
    using HttpError::HttpError;
};

// Receives the response body as it arrives instead of the component keeping
// it in memory (download to a file). `write` may throw a ReqlarkError to stop
// the transfer; `send` then rethrows that error unchanged. Both calls come
// from the thread that does the transfer, which need not be send's caller.
class ResponseBodySink
{
public:
    virtual ~ResponseBodySink() = default;
    // Called when the final response's headers are in, before its first body
    // byte; `expectedSize` is its Content-Length or -1. Redirect and
    // authentication responses never reach the sink.
    virtual void begin(qint64 expectedSize) = 0;
    virtual void write(const char* data, size_t size) = 0;
    // The whole body is in (it was begun): the place for slow work that
    // must not hold send's caller, such as getting a file onto the disk. May
    // throw like write.
    virtual void end() {}
};

// Where the time of one request of a send went, as the transfer measured it:
// microseconds from the start of that request to the end of each step. A
// step that did not happen is 0: the connect and the TLS handshake of a
// request that goes over the connection of an earlier one, the handshake of
// plain http.
struct HttpHopTiming
{
    qint64 nameLookup = 0;
    qint64 connect = 0;
    qint64 tlsHandshake = 0;
    qint64 firstByte = 0; // the first byte of the response
    qint64 total = 0;
    qint64 bytesPerSecond = 0; // of the response's body, over the whole request
};

struct HttpComponentConfig
{
    // Time allowed to establish the connection, and the longest silence
    // (no byte sent or received) before a transfer is given up.
    int connectTimeoutMs = 60000;
    int idleTimeoutMs = 30000;
    // Certificate authorities trusted for https. Empty: the system's store.
    QByteArray caFile;
    // Largest body kept in memory. A larger body fails with a clear error;
    // a sink has no limit.
    qint64 maxBodyBytes = qint64(2) * 1024 * 1024 * 1024;
};

class HttpComponent
{
public:
    virtual ~HttpComponent() = default;

    // method: "get", "post" (any case; standard methods go out in capitals);
    // only synchronous use (async == false) is supported.
    virtual void open(const QByteArray& method, const QByteArray& url, bool async,
                      const QByteArray& user, const QByteArray& password) = 0;
    // setting 2 with "host:port" selects a named proxy server.
    virtual void setProxy(int setting, const QByteArray& address) = 0;
    virtual void setProxyCredentials(const QByteArray& user, const QByteArray& password) = 0;
    // A header set again replaces the earlier value in its place.
    virtual void setRequestHeader(const QByteArray& name, const QByteArray& value) = 0;
    virtual void setOption(int option, int value) = 0;
    virtual void send(const QByteArray& body) = 0;

    // The body bytes of the final response; an empty array for a body of no
    // bytes; no value when the response carries no body at all (1xx, 204,
    // 304, a HEAD request) or when the body went to a sink.
    virtual std::optional<QByteArray> responseBody() const = 0;
    // Header lines of the final response as received, without the status
    // line, joined by CR LF.
    virtual QByteArray getAllResponseHeaders() const = 0;
    virtual int status() const = 0;
    virtual QByteArray statusText() const = 0;

    // Not among the classic members: stream the body into `sink` (which must
    // outlive send) instead of keeping it.
    virtual void setResponseBodySink(ResponseBodySink* sink) = 0;
    // The header lines of every response the send received, in order: each
    // redirect and authentication round, the final response last, each block
    // as getAllResponseHeaders gives the final one. Interim 1xx responses are
    // left out.
    virtual QByteArrayList responseHeaderChain() const = 0;
    // The status line of each of those responses as it arrived ("HTTP/1.1
    // 302 Found"), in the same order.
    virtual QByteArrayList responseStatusChain() const = 0;
    // One entry per request the send made: the first, then one for each
    // redirect followed.
    virtual QList<HttpHopTiming> responseTimings() const = 0;
    // Whether the final response carried a body (possibly of no bytes), and
    // how many body bytes arrived; meaningful with or without a sink.
    virtual bool hasResponseBody() const = 0;
    virtual qint64 bodyBytesReceived() const = 0;

    // Not among the classic members either. While send waits, these may be
    // called from any thread, also from an event handler that runs during
    // the wait. The final response's Content-Length once its body begins,
    // else -1.
    virtual qint64 expectedBodySize() const = 0;
    // Stops the send under way at once: its connection is closed and send
    // throws HttpCancelled. A component cancelled before its send throws
    // there without connecting.
    virtual void cancel() = 0;
};

// Creates the component for a ProgID (matched without regard to case); an
// unknown ProgID creates nothing. The first component of a process loads the
// HTTP module (request/HttpModule.h); when that cannot be loaded, a known
// ProgID raises ReqlarkError naming the module's file and the reason.
std::unique_ptr<HttpComponent> CreateHttpComponent(const QByteArray& progId,
                                                   const HttpComponentConfig& config = {});

// The ProgID for a component caption as shown in the component list
// ("ServerXMLHTTP", "XMLHTTP", "WinHTTP"), compared after lower-casing; empty
// for anything else.
QByteArray ProgIdForComponentCaption(const QByteArray& caption);

// Cookies of all "Set-Cookie: " lines of a response header text, in order,
// each ended by ";" and separated by one blank; empty when there are none.
// Attributes (Path, SameSite, HttpOnly...) are never cookies, and a cookie
// holding a control byte is not taken. A cookie the server deletes (an empty
// value, Max-Age zero or less, an expiry date in the past) comes out as its
// name and "=" alone; `now` decides what is past.
QByteArray ExtractSetCookies(const QByteArray& headerText,
                             const QDateTime& now = QDateTime::currentDateTimeUtc());

// The bounds of a Cookie row, as clients keep them for one site.
inline constexpr qsizetype kMaxRowCookies = 150;
inline constexpr qsizetype kMaxRowCookieBytes = 8192;

// An old Cookie value with the collected cookies applied in order: a cookie
// takes the place of the row's entries of the same name (names compared
// without regard to case), a deleted one leaves the row, and a cookie that
// would take the row past kMaxRowCookies entries or kMaxRowCookieBytes bytes
// is not added (counted in `refused`). The entries come out sorted without
// regard to case, each once, joined by "; ".
QByteArray MergeCookies(const QByteArray& collected, const QByteArray& oldValue,
                        int* refused = nullptr);
