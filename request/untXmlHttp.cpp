#include "request/untXmlHttp.h"

#include "util/MyStrUtils.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// The attributes a Set-Cookie line may carry; none of them is a cookie.
bool isCookieAttributeName(const QByteArray& name)
{
    static const char* const attributes[] = {"expires",  "path",        "domain",
                                             "secure",   "max-age",     "samesite",
                                             "priority", "partitioned", "httponly"};
    const QByteArray lower = AnsiLowerCase(name);
    for (const char* attribute : attributes) {
        if (lower == attribute)
            return true;
    }
    return false;
}

bool holdsControlByte(const QByteArray& text)
{
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            return true;
    }
    return false;
}

// A cookie date as servers write it ("Wed, 21 Oct 2015 07:28:00 GMT",
// "Thu, 01-Jan-1970 00:00:01 GMT" and the like), read leniently as browsers
// do: the first time, day, month and year found among the tokens. Nothing
// when one of them is missing or out of range.
std::optional<QDateTime> parseCookieDate(const QByteArray& text)
{
    static const char months[] = "janfebmaraprmayjunjulaugsepoctnovdec";
    int hour = -1, minute = 0, second = 0, day = -1, month = -1, year = -1;
    for (const QByteArray& token : text.split(' ')) {
        for (const QByteArray& part : token.split('-')) {
            const QByteArray t = part.trimmed().toLower();
            if (t.isEmpty())
                continue;
            if (hour < 0 && t.count(':') == 2) {
                const QByteArrayList hms = t.split(':');
                bool ok[3];
                hour = hms[0].toInt(&ok[0]);
                minute = hms[1].toInt(&ok[1]);
                second = hms[2].left(2).toInt(&ok[2]);
                if (!ok[0] || !ok[1] || !ok[2])
                    hour = -2;
                continue;
            }
            bool numeric = false;
            const int n = t.toInt(&numeric);
            if (numeric && day < 0 && t.size() <= 2) {
                day = n;
            } else if (numeric && year < 0 && t.size() >= 2 && t.size() <= 4) {
                year = n < 70 && t.size() == 2 ? 2000 + n : (n < 100 ? 1900 + n : n);
            } else if (month < 0 && t.size() >= 3) {
                const char* at = std::strstr(months, t.left(3).constData());
                if (at && (at - months) % 3 == 0)
                    month = int(at - months) / 3 + 1;
            }
        }
    }
    if (hour < 0 || day < 1 || month < 1 || year < 1601)
        return std::nullopt;
    const QDateTime when(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    if (!when.isValid())
        return std::nullopt;
    return when;
}

// Whether a Set-Cookie line's attributes delete its cookies: Max-Age zero or
// less, or (without Max-Age) an expiry date in the past.
bool lineDeletes(const ByteList& pieces, const QDateTime& now)
{
    std::optional<bool> byMaxAge;
    bool expired = false;
    for (const QByteArray& piece : pieces) {
        const qsizetype eq = piece.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray name = AnsiLowerCase(TrimBytes(piece.left(eq)));
        const QByteArray value = TrimBytes(piece.mid(eq + 1));
        if (name == "max-age") {
            bool ok = false;
            const qlonglong seconds = value.toLongLong(&ok);
            if (ok)
                byMaxAge = seconds <= 0;
        } else if (name == "expires") {
            const std::optional<QDateTime> when = parseCookieDate(value);
            expired = when && *when < now;
        }
    }
    return byMaxAge.value_or(expired);
}

// One "name=value;" entry of a Cookie row or of the collected text.
QByteArray entryName(const QByteArray& entry)
{
    const qsizetype eq = entry.indexOf('=');
    return eq < 0 ? entry : entry.left(eq);
}

} // namespace

QByteArray ExtractSetCookies(const QByteArray& headerText, const QDateTime& now)
{
    static const QByteArray prefix = "set-cookie: ";
    QByteArray result;
    for (const QByteArray& line : SplitString(headerText, "\r\n")) {
        if (!SameTextAnsiLower(line.left(prefix.size()), prefix))
            continue;
        const ByteList pieces = SplitString(line.mid(prefix.size()), "; ");
        const bool deletes = lineDeletes(pieces, now);
        for (const QByteArray& piece : pieces) {
            const qsizetype eq = piece.indexOf('=');
            // Attributes without "=" (HttpOnly, Secure) are no cookies; nor
            // is anything a later request could not carry.
            if (eq < 0 || isCookieAttributeName(piece.left(eq)) || holdsControlByte(piece))
                continue;
            QByteArray cookie = piece;
            if (cookie.endsWith(';'))
                cookie.chop(1);
            // A cookie the server deletes comes out with an empty value: the
            // merge then takes it out of the row.
            if (deletes || cookie.size() == eq + 1)
                cookie.truncate(eq + 1);
            cookie.append(';');
            if (result.isEmpty())
                result = cookie;
            else
                result.append(' ').append(cookie);
        }
    }
    return result;
}

QByteArray MergeCookies(const QByteArray& collected, const QByteArray& oldValue, int* refused)
{
    if (refused)
        *refused = 0;
    const auto entriesOf = [](const QByteArray& text) {
        ByteList entries;
        for (const QByteArray& piece : SplitString(text, "; ")) {
            if (piece.isEmpty())
                continue;
            entries.append(piece.endsWith(';') ? piece : piece + ';');
        }
        return entries;
    };

    // The row's own entries stay as the user has them, each once.
    ByteList row;
    for (const QByteArray& entry : entriesOf(oldValue)) {
        const bool seen = std::any_of(row.begin(), row.end(), [&](const QByteArray& e) {
            return CompareTextIgnoreCase(e, entry) == 0;
        });
        if (!seen)
            row.append(entry);
    }
    const auto sizeOf = [](const ByteList& entries) {
        qsizetype size = 0;
        for (const QByteArray& e : entries)
            size += e.size() + 1;
        return entries.isEmpty() ? 0 : size - 2;
    };

    // The server's cookies in the order it set them: a new value takes the
    // place of every entry of that name, an empty one (a deleted cookie)
    // leaves none, and nothing is added past the bounds of a Cookie line.
    for (const QByteArray& cookie : entriesOf(collected)) {
        const QByteArray name = entryName(cookie);
        ByteList next;
        for (const QByteArray& entry : row) {
            if (CompareTextIgnoreCase(entryName(entry), name) != 0)
                next.append(entry);
        }
        const bool deleted = cookie.size() == name.size() + 2; // "name=;"
        const bool isNew = next.size() == row.size();
        if (!deleted) {
            next.append(cookie);
            const qsizetype size = sizeOf(next);
            const bool fits = isNew ? next.size() <= kMaxRowCookies && size <= kMaxRowCookieBytes
                                    : size <= std::max(kMaxRowCookieBytes, sizeOf(row));
            if (!fits) {
                if (refused)
                    ++*refused;
                continue;
            }
        }
        row = std::move(next);
    }

    // Sorted as the entries of a row are, each with the blank that follows it.
    std::sort(row.begin(), row.end(), [](const QByteArray& a, const QByteArray& b) {
        return CompareTextIgnoreCase(a + ' ', b + ' ') < 0;
    });
    QByteArray result = row.join(' ');
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
