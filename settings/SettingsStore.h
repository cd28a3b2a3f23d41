#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The settings file: an INI file beside the executable with the sections
// "History" and "Options". It behaves like the private-profile calls it
// stands in for: nothing is cached, so every read looks at the file as it is
// now and every write has reached the disk when the call returns. Several
// stores may be open on the same file (the main window and the proxy dialog
// each hold one) and always see each other's writes.
//
// Keys and values are code page 936 byte strings. Reading a value:
// - section and key names match without regard to the case of 'A'..'Z';
// - blanks before and after the value are removed, then one pair of single or
//   double quotation marks enclosing the whole value;
// - an absent file, section or key gives the default.
// Writing a value that would not read back unchanged (blanks at either end,
// or enclosing quotation marks of its own) puts it inside one pair of double
// quotation marks, so every value written comes back byte for byte. A line
// break cannot be held on one INI line: each one (CR LF, CR or LF) is written
// as a single blank instead of starting a line that would read as a key.
//
// A write replaces the file as a whole (written beside it, then renamed over
// it), so a crash or a full disk leaves either the old or the new file, never
// half of one; the file is readable and writable by its owner only, as it
// may hold a proxy password. A write that fails throws ReqlarkError
// "Unable to write to <path>"; a file that exists but cannot be read throws
// "Unable to read <path>: <reason>".
class SettingsStore
{
public:
    explicit SettingsStore(const QString& path);

    const QString& path() const { return m_path; }

    QByteArray readString(const QByteArray& section, const QByteArray& key,
                          const QByteArray& defaultValue = QByteArray()) const;
    // The value as a whole decimal number (optional sign, digits, nothing
    // else). An absent key gives `defaultValue`; any other text throws
    // ReqlarkError, which the settings load treats as a damaged file.
    int readInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const;

    void writeString(const QByteArray& section, const QByteArray& key, const QByteArray& value);
    void writeInteger(const QByteArray& section, const QByteArray& key, int value);

    // Deletes the file; false when it still exists afterwards.
    bool remove();

    // Where the executable at `executablePath` keeps its settings: the
    // extension of the file name replaced by "ini", or ".ini" appended when
    // the name has none (".../reqlark" keeps ".../reqlark.ini").
    static QString settingsPathFor(const QString& executablePath);
    // The header list file beside the executable.
    static QString headersPathFor(const QString& executablePath);

    // The strict decimal conversion the settings use; nothing when `text`
    // is not a whole number within the range of int.
    static std::optional<int> toInteger(const QByteArray& text);

private:
    QString m_path;
};

// The proxy values the request engine and the browser use, formed from the
// four proxy keys of section "Options".
struct ProxySettings
{
    QByteArray address; // "server:port"; empty when no server is stored
    QByteArray userName;
    QByteArray password;
};

// Server "10.0.0.1" and an empty port give "10.0.0.1:80"; any other port is
// used as stored, also one that is no number, so that the request fails with
// an error that shows what was typed. An empty server gives an empty address:
// the proxy is not used.
QByteArray FormProxyAddress(const QByteArray& server, const QByteArray& port);
ProxySettings ReadProxySettings(const SettingsStore& store);
