#include "headers/CurlCommand.h"

#include "util/AnsiCodec.h"

#include <QHash>
#include <QStringList>
#include <QUrl>

#include <cstring>
#include <utility>

namespace {

// The words a shell hands curl, or why the text cannot be read as a command.
struct Words
{
    QStringList args;
    QString error;
};

bool isLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || isLineBreak(c);
}

// The length of the line break (CR LF, LF or a lone CR) at `at`; 0 when there
// is none.
qsizetype lineBreakAt(const QString& text, qsizetype at)
{
    if (at >= text.size())
        return 0;
    if (text[at] == u'\r')
        return at + 1 < text.size() && text[at + 1] == u'\n' ? 2 : 1;
    return text[at] == u'\n' ? 1 : 0;
}

Words unbalancedQuotes()
{
    return {{}, QStringLiteral("引号没有配对")};
}

// An operator outside quotes ends the command; what follows it is another.
bool endsCommand(const QString& text, qsizetype at, Words& out)
{
    if (!QStringView(text).mid(at + 1).trimmed().isEmpty()) {
        out.error = QStringLiteral("引号外的“%1”后面还有一条命令，一次只能导入一条").arg(text[at]);
    }
    return true;
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int value = 99;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value < base ? value : -1;
}

// Up to `most` digits of `base` from `at`, which moves past them.
uint readDigits(const QString& text, qsizetype& at, int base, int most, int* count)
{
    uint value = 0;
    *count = 0;
    while (*count < most && at < text.size()) {
        const int digit = digitValue(text[at], base);
        if (digit < 0)
            break;
        value = value * uint(base) + uint(digit);
        ++*count;
        ++at;
    }
    return value;
}

// The character of a one-letter escape of $'...' (\n, \t...); 0 for none.
char16_t simpleEscape(char16_t e)
{
    static const char letters[] = "abeEfnrtv\\'\"?";
    static const char values[] = "\a\b\x1B\x1B\f\n\r\t\v\\'\"?";
    const char* found = e < 0x80 && e != 0 ? std::strchr(letters, char(e)) : nullptr;
    return found ? char16_t(values[found - letters]) : 0;
}

// The inside of a $'...' word from `at` (just after its quote) into `word`,
// as bash reads it; the position after the closing quote, or -1 when there is
// none. \x and octal escapes give bytes: a run of them is read as UTF-8 when
// it is well-formed, else each byte as the character of that number, which is
// what a browser that writes é as \xe9 means.
qsizetype readAnsiCQuoted(const QString& text, qsizetype at, QString& word)
{
    QByteArray bytes;
    const auto flush = [&] {
        if (bytes.isEmpty())
            return;
        word += bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
        bytes.clear();
    };
    const qsizetype n = text.size();
    while (at < n) {
        const QChar c = text[at];
        if (c == u'\'') {
            flush();
            return at + 1;
        }
        if (c != u'\\' || at + 1 >= n) {
            flush();
            word += c;
            ++at;
            continue;
        }
        const char16_t e = text[at + 1].unicode();
        at += 2;
        int count = 0;
        if (e == u'x' || (e >= u'0' && e <= u'7')) {
            if (e != u'x')
                --at;
            const uint value = readDigits(text, at, e == u'x' ? 16 : 8, e == u'x' ? 2 : 3, &count);
            if (count > 0) {
                bytes += char(value & 0xFF);
                continue;
            }
        } else if (e == u'u' || e == u'U') {
            const uint value = readDigits(text, at, 16, e == u'u' ? 4 : 8, &count);
            flush();
            if (count > 0) {
                // Halves of a surrogate pair, written one escape each, pair
                // up again here.
                if (value <= 0xFFFF) {
                    word += QChar(char16_t(value));
                } else if (value <= 0x10FFFF) {
                    const char32_t point = value;
                    word += QString::fromUcs4(&point, 1);
                }
                continue;
            }
        } else if (e == u'c' && at < n) {
            flush();
            word += QChar(char16_t(text[at].unicode() & 0x1F));
            ++at;
            continue;
        } else if (const char16_t plain = simpleEscape(e)) {
            flush();
            word += QChar(plain);
            continue;
        }
        flush();
        word += QChar(u'\\');
        word += QChar(e);
    }
    return -1;
}

// The inside of a "..." word from `at` into `word`: a backslash quotes only
// $, `, ", \ and a line break (which it removes).
qsizetype readPosixDoubleQuoted(const QString& text, qsizetype at, QString& word)
{
    while (at < text.size()) {
        const QChar c = text[at];
        if (c == u'"')
            return at + 1;
        if (c == u'\\') {
            if (const qsizetype lineBreak = lineBreakAt(text, at + 1)) {
                at += 1 + lineBreak;
                continue;
            }
            const QChar e = at + 1 < text.size() ? text[at + 1] : QChar();
            if (e == u'$' || e == u'`' || e == u'"' || e == u'\\') {
                word += e;
                at += 2;
                continue;
            }
        }
        word += c;
        ++at;
    }
    return -1;
}

// The words of a command as a POSIX shell splits it. Nothing is expanded.
Words posixWords(const QString& text)
{
    Words out;
    QString word;
    bool inWord = false;
    const auto endWord = [&] {
        if (inWord)
            out.args.append(word);
        word.clear();
        inWord = false;
    };
    const qsizetype n = text.size();
    qsizetype at = 0;
    while (at < n) {
        const QChar c = text[at];
        if (isBlank(c)) {
            endWord();
            ++at;
        } else if (c == u'\\') {
            // Before a line break it joins the lines; before anything else it
            // takes that character as it is.
            if (const qsizetype lineBreak = lineBreakAt(text, at + 1)) {
                at += 1 + lineBreak;
                continue;
            }
            if (at + 1 < n)
                word += text[at + 1];
            inWord = true;
            at += 2;
        } else if (c == u'\'') {
            const qsizetype close = text.indexOf(u'\'', at + 1);
            if (close < 0)
                return unbalancedQuotes();
            word += QStringView(text).mid(at + 1, close - at - 1);
            inWord = true;
            at = close + 1;
        } else if (c == u'$' && at + 1 < n && text[at + 1] == u'\'') {
            at = readAnsiCQuoted(text, at + 2, word);
            if (at < 0)
                return unbalancedQuotes();
            inWord = true;
        } else if (c == u'"') {
            at = readPosixDoubleQuoted(text, at + 1, word);
            if (at < 0)
                return unbalancedQuotes();
            inWord = true;
        } else if (c == u';' || c == u'&' || c == u'|') {
            endsCommand(text, at, out);
            break;
        } else {
            word += c;
            inWord = true;
            ++at;
        }
    }
    endWord();
    return out;
}

// What cmd hands a program: outside double quotes ^ takes the next character
// as it is, and ^ before a line break continues the command on the next line,
// whose first character is taken as it is (a line break too: that is how a
// line break gets into a value). A line break without ^ would end the
// command; here it is a blank.
QString cmdLine(const QString& text, Words& out)
{
    QString line;
    bool quoted = false;
    const qsizetype n = text.size();
    qsizetype at = 0;
    while (at < n) {
        const QChar c = text[at];
        if (c == u'"') {
            quoted = !quoted;
            line += c;
            ++at;
        } else if (!quoted && c == u'^') {
            if (const qsizetype lineBreak = lineBreakAt(text, at + 1)) {
                at += 1 + lineBreak;
                const qsizetype taken = lineBreakAt(text, at);
                line += text.mid(at, taken);
                at += taken;
                continue;
            }
            if (at + 1 < n)
                line += text[at + 1];
            at += 2;
        } else if (!quoted && (c == u'&' || c == u'|')) {
            endsCommand(text, at, out);
            break;
        } else {
            line += !quoted && isLineBreak(c) ? QChar(u' ') : c;
            ++at;
        }
    }
    return line;
}

// The words of a Windows command line as the C runtime splits it: blanks
// outside double quotes separate; "" inside quotes is a quote; \" is a quote
// and \\ a backslash (the browsers double every backslash). With
// `powerShell`, `` and `$ are ` and $ as well.
Words windowsWords(const QString& line, bool powerShell)
{
    Words out;
    QString word;
    bool inWord = false;
    bool quoted = false;
    const qsizetype n = line.size();
    qsizetype at = 0;
    while (at < n) {
        const QChar c = line[at];
        const QChar next = at + 1 < n ? line[at + 1] : QChar();
        if (!quoted && (c == u' ' || c == u'\t')) {
            if (inWord)
                out.args.append(word);
            word.clear();
            inWord = false;
            ++at;
            continue;
        }
        inWord = true;
        if ((c == u'\\' && (next == u'\\' || next == u'"')) ||
            (powerShell && c == u'`' && (next == u'`' || next == u'$'))) {
            word += next;
            at += 2;
        } else if (c == u'"' && quoted && next == u'"') {
            word += c;
            at += 2;
        } else if (c == u'"') {
            quoted = !quoted;
            ++at;
        } else {
            word += c;
            ++at;
        }
    }
    if (quoted)
        return unbalancedQuotes();
    if (inWord)
        out.args.append(word);
    return out;
}

// The words after the program's name when `text` is a curl command.
std::optional<Words> curlWords(const QString& text)
{
    const QString command = text.trimmed();
    qsizetype end = 0;
    while (end < command.size() && !isBlank(command[end]))
        ++end;
    const QString program = command.left(end);
    const bool exe = program.compare(QLatin1String("curl.exe"), Qt::CaseInsensitive) == 0;
    if (!exe && program.compare(QLatin1String("curl"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QString rest = command.mid(end);
    // The cmd form quotes every argument with ^" (one browser's), or goes on
    // to its next line with ^ (anyone's).
    const QString firstLine = rest.left(rest.indexOf(u'\n')).trimmed();
    const bool caretQuotes = rest.trimmed().startsWith(QLatin1String("^\""));
    if (!exe && !caretQuotes && !firstLine.endsWith(u'^'))
        return posixWords(rest);
    Words cmd;
    const QString line = cmdLine(rest, cmd);
    if (!cmd.error.isEmpty())
        return cmd;
    // "curl.exe" without ^" is written for PowerShell as well as cmd.
    return windowsWords(line, exe && !rest.contains(QLatin1String("^\"")));
}

// What an option does here.
enum class Take
{
    Flag,    // steers curl only, no argument
    Skip,    // steers curl only, one argument
    Refuse,  // a request this window cannot hold; one argument
    Method,  // -X
    Header,  // -H
    Cookie,  // -b
    Data,    // -d and the like: "@file" reads a file
    DataRaw, // --data-raw: taken as it is
    DataUrlencode,
    Json,
    Url,
    UserAgent,
    Referer,
    User,
    Head,
    Get,
    Globoff,
};

bool takesArgument(Take take)
{
    return take != Take::Flag && take != Take::Head && take != Take::Get && take != Take::Globoff;
}

// What each option does, by its long name.
const QHash<QString, Take>& longOptions()
{
    static const QHash<QString, Take> options = [] {
        const std::pair<Take, const char*> groups[] = {
            {Take::Method, "request"},
            {Take::Header, "header"},
            {Take::Cookie, "cookie"},
            {Take::Data, "data data-ascii data-binary"},
            {Take::DataRaw, "data-raw"},
            {Take::DataUrlencode, "data-urlencode"},
            {Take::Json, "json"},
            {Take::Url, "url"},
            {Take::UserAgent, "user-agent"},
            {Take::Referer, "referer"},
            {Take::User, "user"},
            {Take::Head, "head"},
            {Take::Get, "get"},
            {Take::Globoff, "globoff"},
            {Take::Flag, "compressed include location location-trusted insecure silent show-error "
                         "verbose fail fail-with-body http1.0 http1.1 http2 http2-prior-knowledge "
                         "http3 no-buffer path-as-is ipv4 ipv6 progress-bar no-progress-meter "
                         "tlsv1.2 tlsv1.3 raw no-keepalive remote-name remote-header-name "
                         "junk-session-cookies"},
            {Take::Skip, "output max-time connect-timeout max-redirs retry retry-delay "
                         "retry-max-time write-out cacert capath cert key resolve proxy noproxy "
                         "proxy-user cookie-jar dump-header limit-rate trace trace-ascii stderr"},
            {Take::Refuse, "form form-string upload-file range config"},
        };
        QHash<QString, Take> byName;
        for (const auto& [take, names] : groups) {
            for (const QString& name : QString::fromLatin1(names).split(u' '))
                byName.insert(QStringLiteral("--") + name, take);
        }
        return byName;
    }();
    return options;
}

// The long name of a one-letter option; empty for a letter curl does not
// know.
QString longNameOf(QChar letter)
{
    static const QHash<QChar, QString> names = [] {
        // Each letter, then its long name.
        const char* const pairs =
            "X request H header b cookie d data A user-agent e referer u user I head G get "
            "g globoff i include L location k insecure s silent S show-error v verbose f fail "
            "N no-buffer 4 ipv4 6 ipv6 0 http1.0 # progress-bar O remote-name "
            "J remote-header-name j junk-session-cookies o output m max-time w write-out "
            "x proxy U proxy-user c cookie-jar D dump-header E cert F form T upload-file "
            "r range K config";
        const QStringList words = QString::fromLatin1(pairs).split(u' ');
        QHash<QChar, QString> byLetter;
        for (qsizetype i = 0; i + 1 < words.size(); i += 2)
            byLetter.insert(words[i][0], QStringLiteral("--") + words[i + 1]);
        return byLetter;
    }();
    return names.value(letter);
}

// The command's options as they arrive, before the method is decided.
struct Command
{
    QString url;
    int urls = 0;
    QString method; // as -X gives it
    bool head = false;
    bool get = false;
    bool globoff = false;
    QStringList data;
    QList<std::pair<QString, QString>> rows;
    qsizetype cookieRow = -1;
    QString error;

    bool fail(const QString& why)
    {
        error = why;
        return false;
    }
    bool failFromFile(const QString& option)
    {
        return fail(QStringLiteral("选项 %1 要从文件读取内容，这里无法读取").arg(option));
    }
};

bool takeHeaderLine(Command& c, const QString& option, const QString& line)
{
    if (line.startsWith(u'@'))
        return c.failFromFile(option);
    // A pseudo-header (":authority: ...") keeps its leading colon.
    const qsizetype colon = line.indexOf(u':', line.startsWith(u':') ? 1 : 0);
    if (colon < 0) {
        // "Name;" is how curl is told to send a header with no value.
        if (line.size() > 1 && line.endsWith(u';')) {
            c.rows.append({line.chopped(1), QString()});
            return true;
        }
        return c.fail(QStringLiteral("请求头“%1”中没有冒号").arg(line));
    }
    qsizetype start = colon + 1;
    while (start < line.size() && (line[start] == u' ' || line[start] == u'\t'))
        ++start;
    // "Name:" with nothing after it only keeps curl from sending a header of
    // its own: no row.
    if (start < line.size())
        c.rows.append({line.left(colon), line.mid(start)});
    return true;
}

bool takeOption(Command& c, Take take, const QString& option, const QString& value)
{
    switch (take) {
    case Take::Method:
        c.method = value;
        return true;
    case Take::Header:
        return takeHeaderLine(c, option, value);
    case Take::Cookie:
        // Without "=" curl reads a cookie file of that name.
        if (!value.contains(u'='))
            return c.fail(QStringLiteral("选项 %1 给出的是 Cookie 文件“%2”，这里无法读取")
                              .arg(option, value));
        if (c.cookieRow < 0) {
            c.cookieRow = c.rows.size();
            c.rows.append({QStringLiteral("Cookie"), value});
        } else {
            c.rows[c.cookieRow].second += QStringLiteral("; ") + value;
        }
        return true;
    case Take::Data:
    case Take::Json:
        if (value.startsWith(u'@'))
            return c.failFromFile(option);
        c.data << value;
        if (take == Take::Json) {
            c.rows.append({QStringLiteral("Content-Type"), QStringLiteral("application/json")});
            c.rows.append({QStringLiteral("Accept"), QStringLiteral("application/json")});
        }
        return true;
    case Take::DataRaw:
        c.data << value;
        return true;
    case Take::DataUrlencode: {
        // "content", "=content" or "name=content"; "@file" and "name@file"
        // read a file.
        qsizetype separator = value.indexOf(u'=');
        if (separator < 0 && value.contains(u'@'))
            return c.failFromFile(option);
        const QString name = separator > 0 ? value.left(separator) : QString();
        const QString encoded =
            QString::fromLatin1(QUrl::toPercentEncoding(value.mid(separator + 1)));
        c.data << (name.isEmpty() ? encoded : name + u'=' + encoded);
        return true;
    }
    case Take::Url:
        c.url = value;
        ++c.urls;
        return true;
    case Take::UserAgent:
        c.rows.append({QStringLiteral("User-Agent"), value});
        return true;
    case Take::Referer: {
        const QString automatic = QStringLiteral(";auto");
        c.rows.append({QStringLiteral("Referer"),
                       value.endsWith(automatic) ? value.chopped(automatic.size()) : value});
        return true;
    }
    case Take::User:
        // Without a password curl would ask for one.
        if (!value.contains(u':'))
            return c.fail(QStringLiteral("选项 %1 没有给出密码").arg(option));
        c.rows.append({QStringLiteral("Authorization"),
                       QStringLiteral("Basic ") + QString::fromLatin1(value.toUtf8().toBase64())});
        return true;
    case Take::Refuse:
        return c.fail(QStringLiteral("这里无法发出带选项 %1 的请求").arg(option));
    case Take::Head:
        c.head = true;
        return true;
    case Take::Get:
        c.get = true;
        return true;
    case Take::Globoff:
        c.globoff = true;
        return true;
    case Take::Flag:
    case Take::Skip:
        return true;
    }
    return true;
}

// Reads the words into `c`; false with c.error set when they cannot be taken.
bool readOptions(Command& c, const QStringList& args)
{
    const auto missing = [&](const QString& option) {
        return c.fail(QStringLiteral("选项 %1 后面缺少内容").arg(option));
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            const auto found = longOptions().constFind(arg);
            if (found == longOptions().constEnd())
                return c.fail(QStringLiteral("不认识选项 %1").arg(arg));
            if (!takesArgument(*found)) {
                takeOption(c, *found, arg, QString());
                continue;
            }
            if (i + 1 >= args.size())
                return missing(arg);
            if (!takeOption(c, *found, arg, args[++i]))
                return false;
            continue;
        }
        if (!arg.startsWith(u'-') || arg.size() < 2) {
            c.url = arg;
            ++c.urls;
            continue;
        }
        // Letters may stand together ("-sSL"); the first that takes an
        // argument takes the rest of the word ("-XPOST"), or the next word.
        for (qsizetype k = 1; k < arg.size(); ++k) {
            const QString option = QStringLiteral("-") + arg[k];
            const QString longName = longNameOf(arg[k]);
            if (longName.isEmpty())
                return c.fail(QStringLiteral("不认识选项 %1").arg(option));
            const Take take = longOptions().value(longName);
            if (!takesArgument(take)) {
                takeOption(c, take, option, QString());
                continue;
            }
            QString value;
            if (k + 1 < arg.size())
                value = arg.mid(k + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return missing(option);
            if (!takeOption(c, take, option, value))
                return false;
            break;
        }
    }
    return true;
}

// The request of the options, or the refusal.
CurlRequest requestOf(Command& c)
{
    CurlRequest request;
    const auto refuse = [&request](const QString& why) {
        request.refusal = QStringLiteral("无法导入这条 curl 命令：") + why;
        return request;
    };
    if (!c.error.isEmpty())
        return refuse(c.error);
    if (c.urls == 0)
        return refuse(QStringLiteral("命令中没有网址"));
    if (c.urls > 1)
        return refuse(QStringLiteral("命令中有不止一个网址"));

    QString method = c.method.toUpper();
    if (method.isEmpty() && c.head)
        method = QStringLiteral("HEAD");
    if (method.isEmpty())
        method = c.get || c.data.isEmpty() ? QStringLiteral("GET") : QStringLiteral("POST");
    if (method != QLatin1String("GET") && method != QLatin1String("POST")) {
        return refuse(QStringLiteral("请求方法是 %1，这里只能发送 GET 和 POST")
                          .arg(c.method.isEmpty() ? method : c.method));
    }
    request.method = method;

    request.url = c.url;
    // Unless told otherwise curl reads [] and {} as ranges and lists; the
    // browsers escape them.
    if (!c.globoff) {
        for (const char* escaped : {"\\[", "\\]", "\\{", "\\}"})
            request.url.replace(QLatin1String(escaped), QString(QLatin1Char(escaped[1])));
    }
    const QString data = c.data.join(u'&');
    if (c.get) {
        // -G sends the data as the query.
        if (!c.data.isEmpty())
            request.url += (request.url.contains(u'?') ? u'&' : u'?') + data;
    } else {
        request.data = data;
    }
    for (const auto& [name, value] : c.rows)
        request.headers.append({AnsiCodec::fromUnicode(name), AnsiCodec::fromUnicode(value)});
    return request;
}

} // namespace

std::optional<CurlRequest> ParseCurlCommand(const QString& text)
{
    const std::optional<Words> words = curlWords(text);
    if (!words)
        return std::nullopt;
    Command command;
    if (!words->error.isEmpty())
        command.error = words->error;
    else
        readOptions(command, words->args);
    return requestOf(command);
}
