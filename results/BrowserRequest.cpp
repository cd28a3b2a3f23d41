#include "results/BrowserRequest.h"

#include "headers/HeaderList.h"
#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isWebScheme(const QString& scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

QByteArray BrowserHeaderBlock(const HeaderList& rows)
{
    QByteArray block;
    for (int row = 0; row < rows.count(); ++row) {
        const QByteArray name = TrimBytes(rows.name(row));
        const QByteArray value = TrimBytes(rows.value(row));
        if (name.isEmpty() || value.isEmpty())
            continue;
        if (HoldsLineBreakOrNul(name) || HoldsLineBreakOrNul(value))
            continue;
        if (!block.isEmpty())
            block += "\r\n";
        block += name + ": " + value;
    }
    if (!block.isEmpty())
        block += "\r\n\r\n";
    return block;
}

QList<HeaderLine> BrowserHeaderLines(const QByteArray& block)
{
    QList<HeaderLine> lines;
    for (const QByteArray& line : block.split('\n')) {
        QByteArray text = line;
        if (text.endsWith('\r'))
            text.chop(1);
        if (text.isEmpty() || HoldsLineBreakOrNul(text))
            continue;
        const qsizetype colon = text.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = text.left(colon);
        const QByteArray value = TrimBytes(text.mid(colon + 1));
        if (!IsHttpToken(name))
            continue;
        if (SameTextAnsiLower(name, "Content-Length") ||
            SameTextAnsiLower(name, "Transfer-Encoding"))
            continue;
        lines.append(HeaderLine(name, value));
    }
    return lines;
}

QUrl BrowserUrl(const QByteArray& url)
{
    // Qt's tolerant parsing takes every '%' for a literal one as soon as one
    // of them starts no escape; escaping the lone ones first keeps the rest.
    const QString text = AnsiCodec::toUnicode(url);
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' &&
            !(i + 2 < text.size() && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2])))
            escaped += QLatin1String("%25");
        else
            escaped += text[i];
    }
    return QUrl::fromUserInput(escaped);
}

QByteArray BrowserReferrer(const QByteArray& referrer, const QUrl& target)
{
    QUrl from(AnsiCodec::toUnicode(TrimBytes(referrer)), QUrl::TolerantMode);
    const QString scheme = from.scheme().toLower();
    if (!from.isValid() || !isWebScheme(scheme) || from.host().isEmpty())
        return QByteArray();
    const QString targetScheme = target.scheme().toLower();
    if (scheme == QLatin1String("https") && targetScheme == QLatin1String("http"))
        return QByteArray();
    from.setFragment(QString());
    from.setUserInfo(QString());
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    const int targetDefault = targetScheme == QLatin1String("https") ? 443 : 80;
    const bool sameOrigin = scheme == targetScheme &&
                            from.host().compare(target.host(), Qt::CaseInsensitive) == 0 &&
                            from.port(defaultPort) == target.port(targetDefault);
    if (sameOrigin)
        return from.toEncoded();
    QUrl origin;
    origin.setScheme(scheme);
    origin.setHost(from.host());
    if (from.port(defaultPort) != defaultPort)
        origin.setPort(from.port());
    origin.setPath(QStringLiteral("/"));
    return origin.toEncoded();
}

ByteList CookiePieces(const QByteArray& cookieValue)
{
    ByteList pieces = SplitString(cookieValue, "; ");
    for (QByteArray& piece : pieces) {
        if (!piece.endsWith(';'))
            piece += ';';
    }
    return pieces;
}

CookiePair ParseCookiePiece(const QByteArray& piece)
{
    CookiePair cookie;
    const qsizetype semicolon = piece.indexOf(';');
    const QByteArray pair = semicolon < 0 ? piece : piece.left(semicolon);
    const qsizetype equals = pair.indexOf('=');
    cookie.name = TrimBytes(equals < 0 ? pair : pair.left(equals));
    cookie.value = equals < 0 ? QByteArray() : TrimBytes(pair.mid(equals + 1));
    cookie.ok = !cookie.name.isEmpty();
    for (const QByteArray* part : {&cookie.name, &cookie.value}) {
        for (char c : *part) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7F)
                cookie.ok = false;
        }
    }
    return cookie;
}

bool SplitProxyAddress(const QByteArray& address, QString* host, quint16* port)
{
    const QByteArray text = TrimBytes(address);
    QByteArray hostPart = text;
    QByteArray portPart;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        if (close < 0)
            return false;
        hostPart = text.mid(1, close - 1);
        if (text.mid(close + 1).startsWith(':'))
            portPart = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(':');
        if (colon >= 0) {
            hostPart = text.left(colon);
            portPart = text.mid(colon + 1);
        }
    }
    if (hostPart.isEmpty())
        return false;
    bool ok = false;
    const uint number = portPart.toUInt(&ok);
    *host = QString::fromLatin1(hostPart);
    *port = ok && number > 0 && number <= 65535 ? quint16(number) : quint16(80);
    return true;
}

QString JsStringLiteral(QStringView text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8 + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        default:
            // Other controls and the two line separators JavaScript source
            // would end a line at; lone surrogates keep their code unit.
            if (u < 0x20 || u == 0x2028 || u == 0x2029 || c.isSurrogate()) {
                out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
            } else {
                out += c;
            }
        }
    }
    out += QLatin1Char('"');
    return out;
}
