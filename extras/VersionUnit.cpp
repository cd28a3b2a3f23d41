#include "extras/VersionUnit.h"

#include "util/AnsiCodec.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>

#include <array>
#include <cctype>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <string_view>
#include <vector>

namespace {

// The record layout is written by one template for both the record compiled
// into the program (evaluated by the compiler) and records built at run time,
// so the two can never drift apart.
struct EntryView
{
    std::string_view key;
    std::string_view value;
};

struct TableView
{
    std::string_view translation;
    const EntryView* entries;
    std::size_t count;
};

struct RecordView
{
    std::array<quint32, 13> fixed;
    const TableView* tables;
    std::size_t count;
};

// Stored inverted: a plain copy here would be one more marker hit in the
// executable besides the record itself.
constexpr std::array<unsigned char, 16> kMarkerInverted = {
    0x76, 0xAD, 0xAE, 0xB3, 0xB4, 0xD2, 0xA9, 0xBA,
    0xAD, 0xAC, 0xB6, 0xB0, 0xB1, 0xF2, 0xF5, 0xE5}; // "\x89RQLK-VERSION\r\n\x1a"
constexpr std::size_t kMarkerSize = kMarkerInverted.size();
constexpr quint32 kMaxPayload = 1u << 20;

struct CountSink
{
    std::size_t size = 0;
    constexpr void put(unsigned char) { ++size; }
};

template <std::size_t N> struct ArraySink
{
    std::array<unsigned char, N> data{};
    std::size_t pos = 0;
    constexpr void put(unsigned char c) { data[pos++] = c; }
};

struct ByteArraySink
{
    QByteArray data;
    void put(unsigned char c) { data.append(static_cast<char>(c)); }
};

// FNV-1a over the payload: cheap, and enough to tell a record from chance.
constexpr quint32 kFnvOffset = 2166136261u;
constexpr quint32 kFnvPrime = 16777619u;

template <class Sink> struct ChecksumSink
{
    Sink& out;
    quint32 hash = kFnvOffset;
    constexpr void put(unsigned char c)
    {
        hash = (hash ^ c) * kFnvPrime;
        out.put(c);
    }
};

template <class Sink> constexpr void put32(Sink& out, quint32 v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.put(static_cast<unsigned char>((v >> shift) & 0xFF));
}

template <class Sink> constexpr void putText(Sink& out, std::string_view text)
{
    put32(out, static_cast<quint32>(text.size()));
    for (char c : text)
        out.put(static_cast<unsigned char>(c));
}

template <class Sink> constexpr void writePayload(Sink& out, const RecordView& r)
{
    for (quint32 word : r.fixed)
        put32(out, word);
    put32(out, static_cast<quint32>(r.count));
    for (std::size_t t = 0; t < r.count; ++t) {
        const TableView& table = r.tables[t];
        putText(out, table.translation);
        put32(out, static_cast<quint32>(table.count));
        for (std::size_t e = 0; e < table.count; ++e) {
            putText(out, table.entries[e].key);
            putText(out, table.entries[e].value);
        }
    }
}

template <class Sink> constexpr void writeRecord(Sink& out, const RecordView& r)
{
    for (unsigned char c : kMarkerInverted)
        out.put(static_cast<unsigned char>(~c));
    CountSink counter;
    writePayload(counter, r);
    put32(out, static_cast<quint32>(counter.size));
    ChecksumSink<Sink> payload{out};
    writePayload(payload, r);
    put32(out, payload.hash);
}

constexpr std::size_t recordSize(const RecordView& r)
{
    CountSink counter;
    writeRecord(counter, r);
    return counter.size;
}

template <std::size_t N> constexpr std::array<unsigned char, N> buildRecord(const RecordView& r)
{
    ArraySink<N> sink;
    writeRecord(sink, r);
    return sink.data;
}

// kRecordVersion and kRecordStrings, generated from the project's version
// and the texts set in extras/CMakeLists.txt.
#include "ReqlarkVersionRecord.inc"

constexpr TableView kOwnTables[] = {
    {"080403A8", kRecordStrings, std::size(kRecordStrings)},
};

constexpr quint32 kOwnVersionMS = kRecordVersion[0] << 16 | kRecordVersion[1];
constexpr quint32 kOwnVersionLS = kRecordVersion[2] << 16 | kRecordVersion[3];

constexpr RecordView kOwnRecord = {{kFixedFileInfoSignature, 0x00010000, kOwnVersionMS,
                                    kOwnVersionLS, kOwnVersionMS, kOwnVersionLS, 0x3F, 0, 0,
                                    1 /* an application */, 0, 0, 0},
                                   kOwnTables,
                                   std::size(kOwnTables)};

#if defined(__has_attribute)
#if __has_attribute(retain)
#define REQLARK_KEEP __attribute__((used, retain))
#endif
#endif
#ifndef REQLARK_KEEP
#define REQLARK_KEEP __attribute__((used))
#endif

// Kept even when nothing refers to it and the linker collects unused
// sections: the record is read from the file, never through this symbol.
REQLARK_KEEP constexpr std::array<unsigned char, recordSize(kOwnRecord)> kEmbeddedRecord =
    buildRecord<recordSize(kOwnRecord)>(kOwnRecord);

// ---- reading ----

class Cursor
{
public:
    explicit Cursor(QByteArrayView data) : m_data(data) {}

    bool read32(quint32& v)
    {
        if (m_data.size() - m_pos < 4)
            return false;
        v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(m_data[m_pos + i]);
        m_pos += 4;
        return true;
    }

    bool readText(QByteArray& text)
    {
        quint32 size = 0;
        if (!read32(size) || quint64(m_data.size() - m_pos) < size)
            return false;
        text = m_data.sliced(m_pos, size).toByteArray();
        m_pos += size;
        return true;
    }

    bool atEnd() const { return m_pos == m_data.size(); }

private:
    QByteArrayView m_data;
    qsizetype m_pos = 0;
};

bool isTranslation(const QByteArray& text)
{
    if (text.size() != 8)
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

bool isKey(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

quint32 checksum(QByteArrayView bytes)
{
    quint32 hash = kFnvOffset;
    for (char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return hash;
}

// `data` starts right after a marker.
std::optional<VersionRecord> parseRecord(QByteArrayView data)
{
    Cursor head(data);
    quint32 payloadSize = 0;
    if (!head.read32(payloadSize) || payloadSize > kMaxPayload ||
        quint64(data.size()) < 8ull + payloadSize)
        return std::nullopt;
    const QByteArrayView payload = data.sliced(4, payloadSize);
    Cursor tail(data.sliced(4 + payloadSize, 4));
    quint32 storedSum = 0;
    if (!tail.read32(storedSum) || storedSum != checksum(payload))
        return std::nullopt;

    Cursor in(payload);
    VersionRecord record;
    std::array<quint32, 13> words{};
    for (quint32& w : words) {
        if (!in.read32(w))
            return std::nullopt;
    }
    TFixedFileInfo& f = record.fixed;
    f = {words[0], words[1], words[2], words[3],  words[4],  words[5], words[6],
         words[7], words[8], words[9], words[10], words[11], words[12]};
    if (f.Signature != kFixedFileInfoSignature)
        return std::nullopt;

    quint32 tables = 0;
    if (!in.read32(tables) || tables > payloadSize)
        return std::nullopt;
    for (quint32 t = 0; t < tables; ++t) {
        VersionStringTable table;
        quint32 entries = 0;
        if (!in.readText(table.translation) || !isTranslation(table.translation) ||
            !in.read32(entries) || entries > payloadSize)
            return std::nullopt;
        for (quint32 e = 0; e < entries; ++e) {
            QByteArray key;
            QByteArray value;
            if (!in.readText(key) || !isKey(key) || !in.readText(value))
                return std::nullopt;
            table.entries.append({key, value});
        }
        record.tables.append(table);
    }
    if (!in.atEnd())
        return std::nullopt;
    return record;
}

std::array<char, kMarkerSize> marker()
{
    std::array<char, kMarkerSize> bytes{};
    for (std::size_t i = 0; i < kMarkerSize; ++i)
        bytes[i] = static_cast<char>(~kMarkerInverted[i]);
    return bytes;
}

std::optional<VersionRecord> readRecordOf(const QString& path)
{
    // Only regular files: a device or a pipe would be read without end.
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return std::nullopt;
    if (const uchar* mapped = file.map(0, file.size())) {
        auto record =
            FindVersionRecord(QByteArrayView(reinterpret_cast<const char*>(mapped), file.size()));
        file.unmap(const_cast<uchar*>(mapped));
        return record;
    }
    return FindVersionRecord(file.readAll());
}

QByteArray ansiText(const QByteArray& utf8)
{
    return AnsiCodec::utf8ToAnsi(utf8);
}

} // namespace

bool operator==(const TFixedFileInfo& a, const TFixedFileInfo& b)
{
    return a.Signature == b.Signature && a.StrucVersion == b.StrucVersion &&
           a.FileVersionMS == b.FileVersionMS && a.FileVersionLS == b.FileVersionLS &&
           a.ProductVersionMS == b.ProductVersionMS && a.ProductVersionLS == b.ProductVersionLS &&
           a.FileFlagsMask == b.FileFlagsMask && a.FileFlags == b.FileFlags &&
           a.FileOS == b.FileOS && a.FileType == b.FileType && a.FileSubtype == b.FileSubtype &&
           a.FileDateMS == b.FileDateMS && a.FileDateLS == b.FileDateLS;
}

std::optional<QByteArray> VersionRecord::value(const QByteArray& translation,
                                               const QByteArray& key) const
{
    for (const VersionStringTable& table : tables) {
        if (table.translation.compare(translation, Qt::CaseInsensitive) != 0)
            continue;
        for (const auto& entry : table.entries) {
            if (entry.first.compare(key, Qt::CaseInsensitive) == 0)
                return entry.second;
        }
    }
    return std::nullopt;
}

QByteArray EncodeVersionRecord(const VersionRecord& record)
{
    const TFixedFileInfo& f = record.fixed;
    std::vector<std::vector<EntryView>> entries;
    std::vector<TableView> tables;
    entries.reserve(record.tables.size());
    for (const VersionStringTable& table : record.tables) {
        std::vector<EntryView>& list = entries.emplace_back();
        for (const auto& entry : table.entries) {
            list.push_back({std::string_view(entry.first.constData(), entry.first.size()),
                            std::string_view(entry.second.constData(), entry.second.size())});
        }
        tables.push_back({std::string_view(table.translation.constData(), table.translation.size()),
                          list.data(), list.size()});
    }
    const RecordView view = {{f.Signature, f.StrucVersion, f.FileVersionMS, f.FileVersionLS,
                              f.ProductVersionMS, f.ProductVersionLS, f.FileFlagsMask, f.FileFlags,
                              f.FileOS, f.FileType, f.FileSubtype, f.FileDateMS, f.FileDateLS},
                             tables.data(),
                             tables.size()};
    ByteArraySink sink;
    writeRecord(sink, view);
    return sink.data;
}

std::optional<VersionRecord> FindVersionRecord(QByteArrayView data)
{
    const std::array<char, kMarkerSize> bytes = marker();
    const QByteArrayView needle(bytes.data(), qsizetype(bytes.size()));
    for (qsizetype at = data.indexOf(needle); at >= 0; at = data.indexOf(needle, at + 1)) {
        if (auto record = parseRecord(data.sliced(at + needle.size())))
            return record;
    }
    return std::nullopt;
}

QByteArrayView EmbeddedVersionRecord()
{
    return QByteArrayView(reinterpret_cast<const char*>(kEmbeddedRecord.data()),
                          qsizetype(kEmbeddedRecord.size()));
}

bool ReadFileVersionInfo(const QString& path, TFileVersionInfo& info)
{
    info = TFileVersionInfo();
    const std::optional<VersionRecord> record = readRecordOf(path);
    if (!record)
        return false;
    info.FixedInfo = record->fixed;

    QByteArray translation = "080403A8";
    std::optional<QByteArray> company = record->value(translation, "CompanyName");
    if (!company) {
        translation = "040904E4";
        company = record->value(translation, "CompanyName");
    }
    if (!company)
        return false;
    info.CompanyName = ansiText(*company);

    const std::pair<const char*, QByteArray TFileVersionInfo::*> texts[] = {
        {"FileDescription", &TFileVersionInfo::FileDescription},
        {"FileVersion", &TFileVersionInfo::FileVersion},
        {"InternalName", &TFileVersionInfo::InternalName},
        {"LegalCopyright", &TFileVersionInfo::LegalCopyright},
        {"LegalTrademarks", &TFileVersionInfo::LegalTrademarks},
        {"OriginalFilename", &TFileVersionInfo::OriginalFilename},
        {"ProductName", &TFileVersionInfo::ProductName},
        {"ProductVersion", &TFileVersionInfo::ProductVersion},
        {"Comments", &TFileVersionInfo::Comments},
    };
    for (const auto& [key, field] : texts) {
        if (const std::optional<QByteArray> text = record->value(translation, key))
            info.*field = ansiText(*text);
    }
    const std::optional<QByteArray> port = record->value(translation, "LocalPort");
    info.LocalPort = port ? ansiText(*port) : QByteArray("66500");
    return true;
}

QString GetFileVersionText(const QString& path)
{
    const std::optional<VersionRecord> record = readRecordOf(path);
    if (!record)
        return {};
    const TFixedFileInfo& f = record->fixed;
    return QStringLiteral("%1.%2.%3")
        .arg(f.FileVersionMS >> 16)
        .arg(f.FileVersionMS & 0xFFFF)
        .arg(f.FileVersionLS >> 16);
}

QString GetAppVersion()
{
    return GetFileVersionText(QCoreApplication::applicationFilePath());
}

bool IsFontInstalled(const QString& faceName)
{
    const QString wanted = faceName.trimmed();
    if (wanted.isEmpty())
        return false;
    for (const QString& family : QFontDatabase::families()) {
        // A family offered by several foundries is listed as "Name [Foundry]".
        const qsizetype bracket = family.indexOf(QLatin1String(" ["));
        const QString bare = bracket > 0 ? family.left(bracket) : family;
        if (family.compare(wanted, Qt::CaseInsensitive) == 0 ||
            bare.compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
