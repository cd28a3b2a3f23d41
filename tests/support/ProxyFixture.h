#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

// A real tinyproxy forward proxy on a free loopback port, allowing only
// 127.0.0.1, optionally asking for Basic authentication. Started by the
// constructor, stopped and reaped by the destructor.
//
// A missing or failing tinyproxy is reported, never hidden: check
// isRunning() and show error() (QVERIFY2(proxy.isRunning(), ...)).
class ProxyFixture
{
public:
    struct Credentials
    {
        QByteArray user;
        QByteArray password;
    };

    ProxyFixture(); // no authentication
    explicit ProxyFixture(const Credentials& basicAuth);
    ~ProxyFixture();
    ProxyFixture(const ProxyFixture&) = delete;
    ProxyFixture& operator=(const ProxyFixture&) = delete;

    bool isRunning() const;
    QString error() const { return m_error; }

    quint16 port() const { return m_port; }
    QByteArray address() const; // "127.0.0.1:port", as setProxy takes it

    // The request lines tinyproxy logged ("GET http://... HTTP/1.1"), one per
    // request it received, whether it forwarded it or answered 407.
    QList<QByteArray> requestLines() const;
    int requestCount() const { return int(requestLines().size()); }
    // Connections tinyproxy opened to a server on a client's behalf: requests
    // it refused (407) are not among them.
    int forwardedCount() const;
    QString logFile() const;

    static constexpr const char* kProgram = "/usr/bin/tinyproxy";

private:
    void start(const Credentials* basicAuth);
    bool tryStart(const Credentials* basicAuth, QString& why);

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};
