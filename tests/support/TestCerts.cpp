#include "tests/support/TestCerts.h"

#include <QDir>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using PKeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 60 * 60;

[[noreturn]] void fail(const std::string& what)
{
    std::string reason;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        reason += reason.empty() ? "" : "; ";
        reason += buf;
    }
    throw std::runtime_error("TestCerts: " + what + (reason.empty() ? "" : ": " + reason));
}

PKeyPtr newKey()
{
    // P-256 keys take microseconds to make; RSA would slow every test start.
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key)
        fail("cannot generate an EC key");
    return PKeyPtr(key, EVP_PKEY_free);
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        fail(std::string("cannot make extension ") + OBJ_nid2sn(nid) + "=" + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

struct Issuer
{
    X509* cert; // null: self-signed
    EVP_PKEY* key;
};

// `notBefore`/`notAfter` are offsets in seconds from now.
X509Ptr makeCert(const char* commonName, EVP_PKEY* key, const Issuer& issuer, bool isCa,
                 const char* subjectAltName, long notBefore, long notAfter, long serial)
{
    X509Ptr cert(X509_new(), X509_free);
    if (!cert)
        fail("X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), notAfter);
    X509_set_pubkey(cert.get(), key);

    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Reqlark tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* issuerCert = issuer.cert ? issuer.cert : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert));

    addExtension(cert.get(), issuerCert, NID_subject_key_identifier, "hash");
    addExtension(cert.get(), issuerCert, NID_authority_key_identifier, "keyid:always");
    if (isCa) {
        addExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert.get(), issuerCert, NID_key_usage, "critical,digitalSignature");
        addExtension(cert.get(), issuerCert, NID_ext_key_usage, "serverAuth");
        addExtension(cert.get(), issuerCert, NID_subject_alt_name, subjectAltName);
    }
    if (X509_sign(cert.get(), issuer.key, EVP_sha256()) <= 0)
        fail(std::string("cannot sign the certificate for ") + commonName);
    return cert;
}

void writePem(const QString& path, const std::function<int(FILE*)>& write)
{
    const QByteArray native = QDir::toNativeSeparators(path).toLocal8Bit();
    FILE* f = std::fopen(native.constData(), "wb");
    if (!f)
        fail("cannot create " + native.toStdString());
    const int ok = write(f);
    if (std::fclose(f) != 0 || ok != 1)
        fail("cannot write " + native.toStdString());
}

void writeCert(const QString& path, X509* cert)
{
    writePem(path, [cert](FILE* f) { return PEM_write_X509(f, cert); });
}

void writeKey(const QString& path, EVP_PKEY* key)
{
    writePem(path, [key](FILE* f) {
        return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

} // namespace

TestCerts::TestCerts(const QString& directory)
{
    const QDir dir(directory);
    const char* const local = "IP:127.0.0.1,DNS:localhost";

    PKeyPtr caKey = newKey();
    X509Ptr ca = makeCert("Reqlark Test CA", caKey.get(), {nullptr, caKey.get()}, true, nullptr,
                          -kDay, 365 * kDay, 1);
    PKeyPtr otherCaKey = newKey();
    X509Ptr otherCa = makeCert("Reqlark Untrusted CA", otherCaKey.get(),
                               {nullptr, otherCaKey.get()}, true, nullptr, -kDay, 365 * kDay, 1);
    m_caFile = dir.filePath(QStringLiteral("ca.pem"));
    m_untrustedCaFile = dir.filePath(QStringLiteral("untrusted-ca.pem"));
    writeCert(m_caFile, ca.get());
    writeCert(m_untrustedCaFile, otherCa.get());

    struct Plan
    {
        ServerCert* out;
        const char* fileStem;
        const char* san;
        long notBefore;
        long notAfter;
        bool byUntrusted;
    };
    const Plan plans[] = {
        {&m_valid, "valid", local, -kDay, 30 * kDay, false},
        {&m_expired, "expired", local, -30 * kDay, -kDay, false},
        {&m_notYetValid, "not-yet-valid", local, kDay, 30 * kDay, false},
        {&m_wrongHost, "wrong-host", "DNS:wrong.example", -kDay, 30 * kDay, false},
        {&m_untrusted, "untrusted", local, -kDay, 30 * kDay, true},
        {&m_expiredWrongHost, "expired-wrong-host", "DNS:wrong.example", -30 * kDay, -kDay, false},
    };
    long serial = 100;
    for (const Plan& plan : plans) {
        PKeyPtr key = newKey();
        const Issuer issuer = plan.byUntrusted ? Issuer{otherCa.get(), otherCaKey.get()}
                                               : Issuer{ca.get(), caKey.get()};
        X509Ptr cert = makeCert(plan.fileStem, key.get(), issuer, false, plan.san, plan.notBefore,
                                plan.notAfter, ++serial);
        plan.out->certFile = dir.filePath(QLatin1String(plan.fileStem) + QStringLiteral(".pem"));
        plan.out->keyFile = dir.filePath(QLatin1String(plan.fileStem) + QStringLiteral("-key.pem"));
        writeCert(plan.out->certFile, cert.get());
        writeKey(plan.out->keyFile, key.get());
    }
}
