#include "settings/SettingsStore.h"

#include "util/AtomicFile.h"
#include "util/MyStrUtils.h"
#include "util/ReqlarkError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

struct Span
{
    qsizetype begin = 0;
    qsizetype end = 0;
};

Span trimmed(const char* p, Span s)
{
    while (s.begin < s.end && isBlank(p[s.begin]))
        ++s.begin;
    while (s.end > s.begin && isBlank(p[s.end - 1]))
        --s.end;
    return s;
}

bool sameName(const char* p, Span s, const QByteArray& name)
{
    return s.end - s.begin == name.size() &&
           SameTextAnsiLower(QByteArray::fromRawData(p + s.begin, s.end - s.begin), name);
}

// Where a key stands in the file, or where it would go.
struct Location
{
    bool sectionFound = false;
    bool keyFound = false;
    Span value;                    // raw text after the key's "=" (key found)
    qsizetype insertAt = 0;        // just after the section's last non-blank line
    bool insertNeedsBreak = false; // that line ends the file without a line break
};

// Walks the lines (ending at CR LF, CR or LF) once. Only the first section of
// a name counts, and in it the first line naming the key, as the reader of the
// original platform does; reads and writes agree on that.
Location locate(const char* p, qsizetype n, const QByteArray& section, const QByteArray& key)
{
    Location at;
    bool inSection = false;
    qsizetype pos = 0;
    // The next LF and CR at or after `pos`, each searched again only once
    // passed, so a file of CR-only or LF-only lines is still read in one pass.
    qsizetype nextLf = -1;
    qsizetype nextCr = -1;
    const auto find = [p, n](qsizetype from, char c) {
        const void* hit = memchr(p + from, c, size_t(n - from));
        return hit ? static_cast<const char*>(hit) - p : n;
    };
    while (pos < n) {
        if (nextLf < pos)
            nextLf = find(pos, '\n');
        if (nextCr < pos)
            nextCr = find(pos, '\r');
        const qsizetype eol = std::min(nextLf, nextCr);
        qsizetype next = eol;
        if (next < n)
            next += (p[next] == '\r' && next + 1 < n && p[next + 1] == '\n') ? 2 : 1;

        const Span line = trimmed(p, {pos, eol});
        if (line.begin < line.end && p[line.begin] == '[') {
            if (inSection)
                return at; // the section ended without the key
            const char* close = nullptr;
            for (qsizetype i = line.end - 1; i > line.begin; --i) {
                if (p[i] == ']') {
                    close = p + i;
                    break;
                }
            }
            const Span name = trimmed(p, {line.begin + 1, close ? qsizetype(close - p) : line.end});
            if (sameName(p, name, section)) {
                inSection = true;
                at.sectionFound = true;
                at.insertAt = next;
                at.insertNeedsBreak = next == eol;
            }
        } else if (inSection && line.begin < line.end) {
            at.insertAt = next;
            at.insertNeedsBreak = next == eol;
            const char* eq = static_cast<const char*>(
                memchr(p + line.begin, '=', size_t(line.end - line.begin)));
            if (eq) {
                const qsizetype eqPos = eq - p;
                if (sameName(p, trimmed(p, {line.begin, eqPos}), key)) {
                    at.keyFound = true;
                    at.value = {eqPos + 1, eol};
                    return at;
                }
            }
        }
        pos = next;
    }
    return at;
}

// The text a value is written as, so that the reading rules give it back.
QByteArray encodeValue(const QByteArray& value)
{
    const QByteArray v = FoldLineBreaks(value);
    const bool wouldChange =
        !v.isEmpty() && (isBlank(v.front()) || isBlank(v.back()) ||
                         (v.size() >= 2 && isQuote(v.front()) && v.back() == v.front()));
    return wouldChange ? '"' + v + '"' : v;
}

// The file's bytes, without a copy where the system allows it. An absent
// file reads as empty.
class FileView
{
public:
    explicit FileView(const QString& path) : m_file(path)
    {
        if (!m_file.exists())
            return;
        // A pipe would hold the window until someone writes into it.
        if (const QString refusal = ReadRefusal(path); !refusal.isEmpty()) {
            throw ReqlarkError(QStringLiteral("无法读取设置文件 %1：%2")
                                   .arg(QDir::toNativeSeparators(path), refusal));
        }
        if (!m_file.open(QIODevice::ReadOnly)) {
            throw ReqlarkError(QStringLiteral("无法读取设置文件 %1：%2")
                                   .arg(QDir::toNativeSeparators(path), m_file.errorString()));
        }
        const qint64 size = m_file.size();
        if (size > 0) {
            if (uchar* mapped = m_file.map(0, size)) {
                m_data = reinterpret_cast<const char*>(mapped);
                m_size = size;
                return;
            }
        }
        // Not mappable (a pipe, a special file): read it.
        m_copy = m_file.readAll();
        if (m_file.error() != QFileDevice::NoError) {
            throw ReqlarkError(QStringLiteral("无法读取设置文件 %1：%2")
                                   .arg(QDir::toNativeSeparators(path), m_file.errorString()));
        }
        m_data = m_copy.constData();
        m_size = m_copy.size();
    }

    const char* data() const { return m_data; }
    qsizetype size() const { return m_size; }

private:
    QFile m_file;
    QByteArray m_copy;
    const char* m_data = "";
    qsizetype m_size = 0;
};

} // namespace

SettingsStore::SettingsStore(const QString& path) : m_path(path) {}

QByteArray SettingsStore::readString(const QByteArray& section, const QByteArray& key,
                                     const QByteArray& defaultValue) const
{
    const FileView file(m_path);
    const char* p = file.data();
    const Location at = locate(p, file.size(), section, key);
    if (!at.keyFound)
        return defaultValue;
    Span v = trimmed(p, at.value);
    if (v.end - v.begin >= 2 && isQuote(p[v.begin]) && p[v.end - 1] == p[v.begin]) {
        ++v.begin;
        --v.end;
    }
    return QByteArray(p + v.begin, v.end - v.begin);
}

int SettingsStore::readInteger(const QByteArray& section, const QByteArray& key,
                               int defaultValue) const
{
    const QByteArray text = readString(section, key, QByteArray::number(defaultValue));
    if (const std::optional<int> number = toInteger(text))
        return *number;
    throw ReqlarkError(QStringLiteral("“%1”不是有效的整数（%4 中的 %2/%3）")
                           .arg(QString::fromLatin1(text.left(64)), QString::fromLatin1(section),
                                QString::fromLatin1(key), QDir::toNativeSeparators(m_path)));
}

void SettingsStore::writeString(const QByteArray& section, const QByteArray& key,
                                const QByteArray& value)
{
    const auto unableToWrite = [this] {
        return ReqlarkError(
            QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(m_path)));
    };

    QByteArray line;
    std::optional<FileView> file;
    try {
        file.emplace(m_path);
    } catch (const ReqlarkError&) {
        // Rewriting a file we cannot read would lose every other key.
        throw unableToWrite();
    }
    const char* p = file->data();
    const qsizetype n = file->size();
    const Location at = locate(p, n, section, key);

    // The file as three pieces: what stays before, the new text, what stays after.
    qsizetype keepBefore = n;
    qsizetype resumeAt = n;
    if (at.keyFound) {
        keepBefore = at.value.begin;
        resumeAt = at.value.end;
        line = encodeValue(value);
    } else if (at.sectionFound) {
        keepBefore = resumeAt = at.insertAt;
        if (at.insertNeedsBreak)
            line += "\r\n";
        line += key + '=' + encodeValue(value) + "\r\n";
    } else {
        if (n > 0) {
            if (p[n - 1] != '\n' && p[n - 1] != '\r')
                line += "\r\n";
            line += "\r\n";
        }
        line += '[' + section + "]\r\n" + key + '=' + encodeValue(value) + "\r\n";
    }

    AtomicFile out(m_path);
    bool ok = out.open();
    ok = ok && out.restrictToOwner(); // it may hold a proxy password
    ok = ok && out.write(p, keepBefore);
    ok = ok && out.write(line);
    ok = ok && out.write(p + resumeAt, n - resumeAt);
    if (!ok) {
        out.cancel(); // the old file stays as it was
        throw unableToWrite();
    }
    file.reset(); // unmap before the rename replaces the file
    if (!out.commit())
        throw unableToWrite();
}

void SettingsStore::writeInteger(const QByteArray& section, const QByteArray& key, int value)
{
    writeString(section, key, QByteArray::number(value));
}

bool SettingsStore::remove()
{
    QFile::remove(m_path);
    return !QFileInfo::exists(m_path);
}

QString SettingsStore::settingsPathFor(const QString& executablePath)
{
    const QFileInfo exe(executablePath);
    const QString name = exe.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    return exe.absolutePath() + QLatin1Char('/') + base + QStringLiteral(".ini");
}

QString SettingsStore::headersPathFor(const QString& executablePath)
{
    return QFileInfo(executablePath).absolutePath() + QStringLiteral("/Headers.dat");
}

std::optional<int> SettingsStore::toInteger(const QByteArray& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > qint64(1) << 31)
            return std::nullopt;
    }
    const qint64 number = negative ? -magnitude : magnitude;
    if (number > std::numeric_limits<int>::max() || number < std::numeric_limits<int>::min())
        return std::nullopt;
    return int(number);
}

QByteArray FormProxyAddress(const QByteArray& server, const QByteArray& port)
{
    if (server.isEmpty())
        return {};
    return server + ':' + (port.isEmpty() ? QByteArray("80") : port);
}

ProxySettings ReadProxySettings(const SettingsStore& store)
{
    ProxySettings proxy;
    const QByteArray server = store.readString("Options", "ProxyServer");
    const QByteArray port = store.readString("Options", "ProxyPort");
    proxy.address = FormProxyAddress(server, port);
    proxy.userName = store.readString("Options", "ProxyUser");
    proxy.password = store.readString("Options", "ProxyPwd");
    return proxy;
}
