#pragma once

#include "request/DownloadSink.h"
#include "request/untXmlHttp.h"
#include "util/HeaderEntry.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// One request as the main window's inputs describe it, sent through the
// chosen component. No widget is involved: the caller reads its controls into
// RequestInputs, and what comes back is the component after its send.

struct RequestInputs
{
    QByteArray url;           // trimmed; never empty here
    QByteArray method;        // the method caption lower-cased: "get", "post"; empty: none chosen
    QByteArray data;          // the data field as typed (code page 936)
    QByteArray componentKind; // the component caption lower-cased ("serverxmlhttp" ...)
    std::vector<HeaderEntry> headers; // the header rows in list order

    // The proxy, used when ticked and the address is not empty.
    bool useProxy = false;
    QByteArray proxyAddress; // "server:port"
    QByteArray proxyUserName;
    QByteArray proxyPassword;

    // Download to a file: the body goes into this file instead of memory.
    QString downloadPath;
};

// What a send leaves: the component, to read the response from, and in
// download mode the file the body went into, to commit once all is well.
struct SentRequest
{
    std::unique_ptr<HttpComponent> http;
    std::unique_ptr<DownloadSink> download;
};

// A send under way as its caller sees it while the send waits (in an event
// handler run meanwhile, see untXmlHttp.h): what has arrived, and a way to
// stop it. Used on the caller's thread only.
class RunningRequest
{
public:
    // Stops the send under way, or the next one before it connects: it
    // throws HttpCancelled, and a download file it began is removed.
    void cancel();
    bool cancelRequested() const { return m_cancelled; }
    // Body bytes of the final response so far, and its announced length
    // (-1 when not known yet or not given); 0 and -1 while no send runs.
    qint64 received() const;
    qint64 expected() const;

private:
    friend SentRequest SendRequest(const RequestInputs&, const HttpComponentConfig&,
                                   RunningRequest*);
    HttpComponent* m_http = nullptr; // while its send runs
    bool m_cancelled = false;
};

// Creates the component for the kind, opens it, gives it the proxy (every
// kind but XMLHTTP; credentials to ServerXMLHTTP only), every row with a name
// and a value (HTTP/2 pseudo-header rows such as ":authority" excepted),
// option 2 = 8192 for ServerXMLHTTP, and for anything but GET a Content-Type
// unless a row has one and always a Content-Length of the data's bytes; then
// sends, into a new download file when a path is given. Returns no component,
// having sent nothing, when no method was chosen or no component exists for
// the kind. A failing call throws HttpError; a download file that cannot be
// created throws ReqlarkError before anything is sent. `running`, when
// given, follows the send while it waits and can cancel it.
SentRequest SendRequest(const RequestInputs& in, const HttpComponentConfig& config,
                        RunningRequest* running = nullptr);
