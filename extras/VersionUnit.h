#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The fixed part of a version record: thirteen 32-bit words in the order the
// platform's fixed file information has them.
struct TFixedFileInfo
{
    quint32 Signature = 0; // 0xFEEF04BD in every valid record
    quint32 StrucVersion = 0;
    quint32 FileVersionMS = 0; // major << 16 | minor
    quint32 FileVersionLS = 0; // release << 16 | build
    quint32 ProductVersionMS = 0;
    quint32 ProductVersionLS = 0;
    quint32 FileFlagsMask = 0;
    quint32 FileFlags = 0;
    quint32 FileOS = 0;
    quint32 FileType = 0;
    quint32 FileSubtype = 0;
    quint32 FileDateMS = 0;
    quint32 FileDateLS = 0;

    friend bool operator==(const TFixedFileInfo& a, const TFixedFileInfo& b);
};

constexpr quint32 kFixedFileInfoSignature = 0xFEEF04BD;

// What ReadFileVersionInfo takes from a file's version record. The texts are
// code page 936 byte strings; an entry the record lacks stays empty, except
// LocalPort, which then holds "66500".
struct TFileVersionInfo
{
    TFixedFileInfo FixedInfo;
    QByteArray CompanyName;
    QByteArray FileDescription;
    QByteArray FileVersion;
    QByteArray InternalName;
    QByteArray LegalCopyright;
    QByteArray LegalTrademarks;
    QByteArray OriginalFilename;
    QByteArray ProductName;
    QByteArray ProductVersion;
    QByteArray Comments;
    QByteArray LocalPort;
};

// A version record as it is laid out in a file. Each string table is keyed by
// its translation ("080403A8": Chinese (PRC), code page 936; "040904E4": US
// English, code page 1252); keys are ASCII, values UTF-8.
struct VersionStringTable
{
    QByteArray translation;
    QList<QPair<QByteArray, QByteArray>> entries;
};

struct VersionRecord
{
    TFixedFileInfo fixed;
    QList<VersionStringTable> tables;

    // The value of `key` in the table of `translation` (both matched without
    // regard to letter case); nothing when the table or the entry is absent.
    std::optional<QByteArray> value(const QByteArray& translation, const QByteArray& key) const;
};

// The bytes of a record, as the build embeds them in the executable: a marker,
// the length, the fixed words, the tables and a checksum, all little-endian.
// Any file that carries these bytes anywhere carries a version record.
QByteArray EncodeVersionRecord(const VersionRecord& record);

// The first intact record in `data`. Marker hits whose length, structure or
// checksum do not hold are skipped, so stray marker bytes never yield a record.
std::optional<VersionRecord> FindVersionRecord(QByteArrayView data);

// The record compiled into this program (generated from the project version).
QByteArrayView EmbeddedVersionRecord();

// Fills `info` from the record of the file at `path`, taking the strings from
// the 080403A8 table, or else from the 040904E4 table. False when the file has
// no record (the record then stays empty) or neither table holds
// "CompanyName" (the fixed part is then filled, the texts stay empty).
bool ReadFileVersionInfo(const QString& path, TFileVersionInfo& info);

// The file version of the file at `path` as "major.minor.release", or empty
// text when the file carries no version record.
QString GetFileVersionText(const QString& path);

// The same for the running executable.
QString GetAppVersion();

// Whether the font database knows a family of that name, letter case ignored.
bool IsFontInstalled(const QString& faceName);
