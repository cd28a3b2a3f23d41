#include "headers/ImportReqHeaders.h"

#include "request/UTF8Unit.h"

QList<HeaderEntry> ParseReqHeaders(const QByteArray& text)
{
    QList<HeaderEntry> headers;
    if (text.isEmpty())
        return headers;
    const QByteArray separator = text.contains(": ") ? QByteArray(": ") : QByteArray(":");
    // Any line end counts: what browsers put on a Linux clipboard ends its
    // lines with LF alone, and a CR LF-only split would turn the whole block
    // into one row whose value holds the line breaks.
    for (const QByteArray& line : SplitString(text, QByteArray())) {
        const ByteList pieces = SplitString(line, separator);
        const qsizetype n = pieces.size();
        if (n < 2)
            continue;
        if (n == 2)
            headers.append({pieces[0], pieces[1]});
        else if (!pieces[0].isEmpty())
            headers.append({pieces[0], pieces.mid(1).join(separator)});
        else
            headers.append({pieces[1], pieces.mid(2).join(separator)});
    }
    return headers;
}

void ImportReqHeaders(HeaderList& list, const QByteArray& text)
{
    for (const HeaderEntry& header : ParseReqHeaders(text))
        list.AddReqHeader(header.name, header.value);
}

QByteArray JoinValueLines(const QByteArray& text)
{
    if (!text.contains('\r') && !text.contains('\n'))
        return text;
    QByteArray out;
    for (const QByteArray& line : SplitString(text, QByteArray())) {
        if (line.isEmpty())
            continue;
        if (!out.isEmpty())
            out.append(' ');
        out.append(line);
    }
    return out;
}

ByteList ParseHeaderOptions(const QByteArray& resourceText)
{
    ByteList lines = SplitString(resourceText, QByteArray());
    for (QByteArray& line : lines)
        line = DecodeUtf8IfEncoded(line);
    return lines;
}

ByteList HeaderPresetsFor(const ByteList& optionLines, const QByteArray& name)
{
    ByteList values;
    for (const QByteArray& line : optionLines) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        if (SameTextAnsiLower(line.left(eq), name))
            values.append(line.mid(eq + 1));
    }
    return values;
}
