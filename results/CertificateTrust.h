#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Why a server's certificate chain (the server's own certificate first, each
// in DER) is not to be trusted for `host` (a name or an IP address), in words
// for the user with OpenSSL's own; empty when it verifies against the
// certificate authorities in `caFile` (PEM), or against the system's store
// when `caFile` is empty: the store OpenSSL and so the request components
// use. Names, validity dates and the server purpose are all checked.
QString ChainRejection(const QList<QByteArray>& derChain, const QString& host,
                       const QByteArray& caFile);
