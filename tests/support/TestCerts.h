#pragma once

#include <QString>

// Certificates made at test time for a TLS loopback server on 127.0.0.1.
// Construction writes PEM files into `directory` (a QTemporaryDir the caller
// keeps alive); failures throw std::runtime_error with OpenSSL's reason.
class TestCerts
{
public:
    struct ServerCert
    {
        QString certFile; // the server certificate alone
        QString keyFile;
    };

    explicit TestCerts(const QString& directory);

    // The CA to trust (HttpComponentConfig::caFile).
    QString caFile() const { return m_caFile; }
    // A second CA nobody trusts.
    QString untrustedCaFile() const { return m_untrustedCaFile; }

    // All for IP:127.0.0.1 and DNS:localhost unless noted, issued by caFile().
    const ServerCert& valid() const { return m_valid; }
    const ServerCert& expired() const { return m_expired; }         // not-after in the past
    const ServerCert& notYetValid() const { return m_notYetValid; } // not-before in the future
    const ServerCert& wrongHost() const { return m_wrongHost; }     // only DNS:wrong.example
    const ServerCert& untrusted() const { return m_untrusted; }     // issued by the untrusted CA
    // Valid dates and names, but both expired and for the wrong host, to prove
    // that ignoring date errors does not also ignore the name.
    const ServerCert& expiredWrongHost() const { return m_expiredWrongHost; }

private:
    QString m_caFile;
    QString m_untrustedCaFile;
    ServerCert m_valid;
    ServerCert m_expired;
    ServerCert m_notYetValid;
    ServerCert m_wrongHost;
    ServerCert m_untrusted;
    ServerCert m_expiredWrongHost;
};
