#include "request/ResponseDetails.h"

#include "request/FormatByteSize.h"
#include "util/ReqlarkError.h"

#include <QStringDecoder>

#include <algorithm>

namespace {

QString duration(qint64 microseconds)
{
    if (microseconds >= 1000000)
        return QString::number(microseconds / 1e6, 'f', 2) + QStringLiteral(" 秒");
    const int decimals = microseconds < 10000 ? 2 : 1;
    return QString::number(microseconds / 1e3, 'f', decimals) + QStringLiteral(" 毫秒");
}

} // namespace

QByteArray ResponseChainText(const QByteArrayList& statusLines, const QByteArrayList& headerBlocks)
{
    QByteArray text;
    for (qsizetype i = 0; i < headerBlocks.size(); ++i) {
        if (i > 0)
            text += "\r\n\r\n";
        text += statusLines.value(i);
        if (!headerBlocks[i].isEmpty())
            text += "\r\n" + headerBlocks[i];
    }
    return text;
}

QString TransferTimesText(const QList<HttpHopTiming>& hops)
{
    if (hops.isEmpty())
        return QString();
    // libcurl gives the moment each step ended; a step's time is the
    // stretch since the one before it.
    qint64 lookup = 0, connect = 0, handshake = 0, wait = 0, receive = 0, total = 0;
    bool secure = false;
    for (const HttpHopTiming& hop : hops) {
        lookup += hop.nameLookup;
        connect += std::max<qint64>(0, hop.connect - hop.nameLookup);
        if (hop.tlsHandshake > 0) {
            secure = true;
            handshake += std::max<qint64>(0, hop.tlsHandshake - hop.connect);
        }
        const qint64 ready = std::max({hop.nameLookup, hop.connect, hop.tlsHandshake});
        wait += std::max<qint64>(0, hop.firstByte - ready);
        receive += std::max<qint64>(0, hop.total - hop.firstByte);
        total += hop.total;
    }
    QStringList lines;
    if (hops.size() > 1) {
        lines << QStringLiteral("%1 次请求（含 %2 次跳转）合计：")
                     .arg(hops.size())
                     .arg(hops.size() - 1);
    }
    lines << QStringLiteral("域名解析 ") + duration(lookup);
    lines << QStringLiteral("连接 ") + duration(connect);
    if (secure)
        lines << QStringLiteral("TLS 握手 ") + duration(handshake);
    lines << QStringLiteral("等待首字节 ") + duration(wait);
    lines << QStringLiteral("接收 ") + duration(receive);
    lines << QStringLiteral("总计 ") + duration(total);
    lines << QStringLiteral("速率 ") +
                 QString::fromLatin1(FormatByteSize(hops.last().bytesPerSecond).trimmed()) +
                 QStringLiteral("/s");
    return lines.join(QLatin1Char('\n'));
}

const QByteArrayList& OfferedCharsets()
{
    static const QByteArrayList names = {"UTF-8",    "GB18030",      "Big5",       "Shift_JIS",
                                         "EUC-JP",   "ISO-2022-JP",  "EUC-KR",     "windows-1251",
                                         "KOI8-R",   "windows-1252", "ISO-8859-1", "ISO-8859-2",
                                         "UTF-16LE", "UTF-16BE"};
    return names;
}

QByteArray BodyToUtf8In(const QByteArray& body, const QByteArray& charset)
{
    // Well-formed UTF-8 read as UTF-8 is itself: shared, not copied.
    if (charset.compare("UTF-8", Qt::CaseInsensitive) == 0 && body.isValidUtf8() &&
        !body.startsWith("\xEF\xBB\xBF"))
        return body;
    QStringDecoder decoder(charset.constData());
    if (!decoder.isValid()) {
        throw ReqlarkError(QStringLiteral("无法按字符集 %1 读取正文：系统不支持这个字符集")
                               .arg(QString::fromLatin1(charset)));
    }
    return QString(decoder.decode(body)).toUtf8();
}
