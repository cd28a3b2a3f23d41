#include "results/CertificateTrust.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

template <class T, void (*Free)(T*)> struct Deleter
{
    void operator()(T* p) const { Free(p); }
};
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using Context = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;

void freeChain(STACK_OF(X509) * chain)
{
    sk_X509_pop_free(chain, X509_free);
}
using Chain = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeChain>>;

Cert fromDer(const QByteArray& der)
{
    const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    return Cert(d2i_X509(nullptr, &p, long(der.size())));
}

QString unusable()
{
    return QStringLiteral("无法检查服务器证书");
}

} // namespace

QString ChainRejection(const QList<QByteArray>& derChain, const QString& host,
                       const QByteArray& caFile)
{
    if (derChain.isEmpty() || host.isEmpty())
        return unusable();
    const Store store(X509_STORE_new());
    if (!store)
        return unusable();
    // The default paths follow SSL_CERT_FILE and SSL_CERT_DIR as well.
    const int loaded = caFile.isEmpty()
                           ? X509_STORE_set_default_paths(store.get())
                           : X509_STORE_load_locations(store.get(), caFile.constData(), nullptr);
    if (loaded != 1)
        return QStringLiteral("无法读取受信任的证书颁发机构（%1）")
            .arg(QString::fromLocal8Bit(caFile));

    const Cert leaf = fromDer(derChain.first());
    const Chain intermediates(sk_X509_new_null());
    if (!leaf || !intermediates)
        return unusable();
    for (qsizetype i = 1; i < derChain.size(); ++i) {
        Cert cert = fromDer(derChain[i]);
        if (!cert || !sk_X509_push(intermediates.get(), cert.get()))
            return unusable();
        cert.release();
    }

    const Context context(X509_STORE_CTX_new());
    if (!context ||
        X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), intermediates.get()) != 1)
        return unusable();
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    const QByteArray name = host.toUtf8();
    // An address is matched against the certificate's IP entries, a name
    // against its DNS entries.
    if (X509_VERIFY_PARAM_set1_ip_asc(param, name.constData()) != 1 &&
        X509_VERIFY_PARAM_set1_host(param, name.constData(), size_t(name.size())) != 1)
        return unusable();
    if (X509_verify_cert(context.get()) == 1)
        return QString();

    const int error = X509_STORE_CTX_get_error(context.get());
    QString what;
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        what = QStringLiteral("服务器证书已过期或尚未生效");
        break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        what = QStringLiteral("服务器证书与网址的主机不符");
        break;
    default:
        what = QStringLiteral("服务器证书的颁发机构不受信任");
    }
    return QStringLiteral("%1（%2）")
        .arg(what, QString::fromUtf8(X509_verify_cert_error_string(error)));
}
