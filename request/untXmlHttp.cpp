#include "request/untXmlHttp.h"

#include "util/MyStrUtils.h"

#include <algorithm>
#include <vector>

namespace {

bool isCookieAttributeName(const QByteArray& name)
{
    const QByteArray lower = AnsiLowerCase(name);
    return lower == "expires" || lower == "path" || lower == "domain" || lower == "secure" ||
           lower == "max-age";
}

} // namespace

QByteArray ExtractSetCookies(const QByteArray& headerText)
{
    static const QByteArray prefix = "set-cookie: ";
    QByteArray result;
    for (const QByteArray& line : SplitString(headerText, "\r\n")) {
        if (!SameTextAnsiLower(line.left(prefix.size()), prefix))
            continue;
        for (const QByteArray& piece : SplitString(line.mid(prefix.size()), "; ")) {
            const ByteList parts = SplitString(piece, "=");
            // Attributes without "=" (HttpOnly, Secure) and cookies without a
            // value ("a=") give fewer than two parts.
            if (parts.size() < 2 || isCookieAttributeName(parts.first()))
                continue;
            QByteArray cookie = piece;
            if (!cookie.endsWith(';'))
                cookie.append(';');
            if (result.isEmpty())
                result = cookie;
            else
                result.append(' ').append(cookie);
        }
    }
    return result;
}

QByteArray MergeCookies(const QByteArray& collected, const QByteArray& oldValue)
{
    QByteArray fresh = collected;
    if (!fresh.isEmpty() && !fresh.endsWith(';'))
        fresh.append(';');
    const QByteArray combined = fresh.isEmpty() ? oldValue : fresh + ' ' + oldValue;
    if (combined.isEmpty())
        return {};

    // Sorted, case-insensitively unique entries; of two equal entries the
    // first one (the collected cookie) stays.
    ByteList entries;
    const auto less = [](const QByteArray& a, const QByteArray& b) {
        return CompareTextIgnoreCase(a, b) < 0;
    };
    for (const QByteArray& piece : SplitString(combined, "; ")) {
        if (piece.isEmpty())
            continue;
        QByteArray entry = piece;
        if (!entry.endsWith(';'))
            entry.append(';');
        entry.append(' ');
        const auto at = std::lower_bound(entries.begin(), entries.end(), entry, less);
        if (at != entries.end() && CompareTextIgnoreCase(*at, entry) == 0)
            continue;
        entries.insert(at, entry);
    }

    QByteArray result = JoinRange(entries, 0, quint32(entries.size() - 1));
    if (result.endsWith(' '))
        result.chop(1);
    if (result.endsWith(';'))
        result.chop(1);
    return result;
}

QByteArray ProgIdForComponentCaption(const QByteArray& caption)
{
    const QByteArray key = AnsiLowerCase(caption);
    if (key == "serverxmlhttp")
        return kProgIdServerXmlHttp;
    if (key == "xmlhttp")
        return kProgIdXmlHttp;
    if (key == "winhttp")
        return kProgIdWinHttp;
    return {};
}
