// The settings store against real files in a temporary folder: the reading
// rules, what a write leaves in the file, failures and damaged files.

#include "settings/SettingsStore.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"
#include "util/ReqlarkError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Permissions without the "user" flags, which repeat the owner's for the
// owner.
QFileDevice::Permissions modeOf(const QString& path)
{
    return QFile::permissions(path) &
           ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

QByteArray gbk(const char* utf8)
{
    return AnsiCodec::fromUnicode(QString::fromUtf8(utf8));
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void settingsPath_data();
    void settingsPath();

    void readingRules_data();
    void readingRules();
    void valuesComeBackUnchanged_data();
    void valuesComeBackUnchanged();
    void writtenForm_data();
    void writtenForm();
    void writeKeepsTheRestOfTheFile();
    void lineBreakCannotInjectAKey();
    void everyCallSeesTheFile();

    void integers_data();
    void integers();

    void ownerOnlyPermissions();
    void writeToImpossiblePlace();
    void failedWriteLeavesOldFile();
    void unreadableFile();

    void damagedFilesReadFast_data();
    void damagedFilesReadFast();

    void proxyAddress_data();
    void proxyAddress();
    void proxySettingsFromFile();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("reqlark.ini")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSettingsStore::settingsPath_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("headers");
    QTest::newRow("no extension") << "/opt/rq/reqlark"
                                  << "/opt/rq/reqlark.ini"
                                  << "/opt/rq/Headers.dat";
    QTest::newRow("exe") << "/opt/rq/tester.exe"
                         << "/opt/rq/tester.ini"
                         << "/opt/rq/Headers.dat";
    QTest::newRow("dot in folder only") << "/a.b/reqlark"
                                        << "/a.b/reqlark.ini"
                                        << "/a.b/Headers.dat";
    QTest::newRow("hidden name") << "/a/.reqlark"
                                 << "/a/.reqlark.ini"
                                 << "/a/Headers.dat";
}

void TestSettingsStore::settingsPath()
{
    QFETCH(QString, exe);
    QFETCH(QString, ini);
    QFETCH(QString, headers);
    QCOMPARE(SettingsStore::settingsPathFor(exe), ini);
    QCOMPARE(SettingsStore::headersPathFor(exe), headers);
}

void TestSettingsStore::readingRules_data()
{
    QTest::addColumn<QByteArray>("file"); // "<absent>" for no file
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected"); // default is "DEF"

    const QByteArray h = "[History]\r\n";
    QTest::newRow("no file") << QByteArray("<absent>") << QByteArray("History") << QByteArray("URL")
                             << QByteArray("DEF");
    QTest::newRow("plain") << h + "URL=abc\r\n"
                           << QByteArray("History") << QByteArray("URL") << QByteArray("abc");
    QTest::newRow("names ignore case")
        << QByteArray("[hIsToRy]\r\nurl=abc\r\n") << QByteArray("HISTORY") << QByteArray("Url")
        << QByteArray("abc");
    QTest::newRow("blanks trimmed")
        << h + "  URL \t=  \t abc d \t \r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("abc d");
    QTest::newRow("double quotes")
        << h + "URL= \"a b\" \r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("a b");
    QTest::newRow("single quotes")
        << h + "URL='a b'\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("a b");
    QTest::newRow("one pair only")
        << h + "URL=\"\"a\"\"\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("\"a\"");
    QTest::newRow("mixed quotes stay")
        << h + "URL=\"a'\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("\"a'");
    QTest::newRow("empty quotes") << h + "URL=\"\"\r\n"
                                  << QByteArray("History") << QByteArray("URL") << QByteArray("");
    QTest::newRow("empty value is no default")
        << h + "URL=\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("");
    QTest::newRow("value holds =")
        << h + "URL=a=b==c\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("a=b==c");
    QTest::newRow("other section") << QByteArray("[Options]\r\nURL=x\r\n") << QByteArray("History")
                                   << QByteArray("URL") << QByteArray("DEF");
    QTest::newRow("key of the next section")
        << QByteArray("[History]\r\nA=1\r\n[Options]\r\nURL=x\r\n") << QByteArray("History")
        << QByteArray("URL") << QByteArray("DEF");
    QTest::newRow("before any section")
        << QByteArray("URL=x\r\n[History]\r\n") << QByteArray("History") << QByteArray("URL")
        << QByteArray("DEF");
    QTest::newRow("first of two") << h + "URL=one\r\nURL=two\r\n"
                                  << QByteArray("History") << QByteArray("URL")
                                  << QByteArray("one");
    QTest::newRow("line without = is no key")
        << h + "URL\r\nURL=x\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("x");
    QTest::newRow("LF and CR line ends")
        << QByteArray("[History]\nA=1\rURL=x\n") << QByteArray("History") << QByteArray("URL")
        << QByteArray("x");
    QTest::newRow("no final line break")
        << h + "URL=x" << QByteArray("History") << QByteArray("URL") << QByteArray("x");
    QTest::newRow("longer than 2047")
        << h + "URL=" + QByteArray(5000, 'u') + "\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray(5000, 'u');
    QTest::newRow("code page 936 bytes")
        << h + "URL=" + gbk("网址") + "\r\n"
        << QByteArray("History") << QByteArray("URL") << gbk("网址");
    QTest::newRow("invalid code page 936 bytes kept")
        << h + "URL=\x81\xff\x80\r\n"
        << QByteArray("History") << QByteArray("URL") << QByteArray("\x81\xff\x80");
}

void TestSettingsStore::readingRules()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    if (file != "<absent>")
        writeAll(path(), file);
    const SettingsStore store(path());
    QCOMPARE(store.readString(section, key, "DEF"), expected);
}

void TestSettingsStore::valuesComeBackUnchanged_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain") << QByteArray("http://h/p?a=1");
    QTest::newRow("leading blanks") << QByteArray("  lead");
    QTest::newRow("trailing blank and tab") << QByteArray("trail \t");
    QTest::newRow("only blanks") << QByteArray("   ");
    QTest::newRow("enclosing double quotes") << QByteArray("\"quoted\"");
    QTest::newRow("enclosing single quotes") << QByteArray("'q'");
    QTest::newRow("two quotes") << QByteArray("\"\"");
    QTest::newRow("quote inside") << QByteArray("a\"b'c");
    QTest::newRow("blanks and quotes") << QByteArray(" \"both\" ");
    QTest::newRow("looks like a section") << QByteArray("[Options]");
    QTest::newRow("looks like a key") << QByteArray("UseProxy=True");
    QTest::newRow("semicolon") << QByteArray(";not a comment");
    QTest::newRow("3000 bytes") << QByteArray(3000, 'd');
    QTest::newRow("chinese") << gbk("代理服务器 密码");
    QTest::newRow("NUL and high bytes") << QByteArray("a\0b\xfe\x81", 5);
}

void TestSettingsStore::valuesComeBackUnchanged()
{
    QFETCH(QByteArray, value);
    SettingsStore store(path());
    store.writeString("Options", "Other", "keep");
    store.writeString("History", "PSData", value);
    store.writeString("History", "After", "x");
    const SettingsStore other(path());
    QCOMPARE(other.readString("History", "PSData", "DEF"), value);
    // Written twice: the second write finds and replaces the first.
    store.writeString("History", "PSData", value + "2");
    QCOMPARE(other.readString("History", "PSData", "DEF"), value + "2");
    QCOMPARE(other.readString("Options", "Other"), QByteArray("keep"));
    QCOMPARE(other.readString("History", "After"), QByteArray("x"));
}

void TestSettingsStore::writtenForm_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("plain as is") << QByteArray("abc") << QByteArray("URL=abc");
    QTest::newRow("empty") << QByteArray() << QByteArray("URL=");
    QTest::newRow("lone quote as is") << QByteArray("\"abc") << QByteArray("URL=\"abc");
    QTest::newRow("blank quoted") << QByteArray(" abc") << QByteArray("URL=\" abc\"");
    QTest::newRow("quotes quoted") << QByteArray("'a'") << QByteArray("URL=\"'a'\"");
    QTest::newRow("line breaks as blanks")
        << QByteArray("a\r\nb\nc\rd") << QByteArray("URL=a b c d");
}

void TestSettingsStore::writtenForm()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, line);
    SettingsStore store(path());
    store.writeString("History", "URL", value);
    QCOMPARE(readAll(path()), "[History]\r\n" + line + "\r\n");
}

void TestSettingsStore::writeKeepsTheRestOfTheFile()
{
    // Comments, unknown keys, odd spacing and LF-only lines of a file edited
    // by hand survive every write; only the written key's value changes.
    const QByteArray original = "; my settings\n"
                                "[History]\n"
                                "URL = old \n"
                                "Unknown=1\n"
                                "\n"
                                "[Options]\r\n"
                                "FontName=Arial\r\n"
                                "\r\n"
                                "[Extra]\r\n"
                                "z=9";
    writeAll(path(), original);
    SettingsStore store(path());

    store.writeString("History", "URL", "new");
    QByteArray expected = original;
    expected.replace("URL = old \n", "URL =new\n");
    QCOMPARE(readAll(path()), expected);

    // A new key goes after the last line of its section, before blank lines.
    store.writeString("Options", "UseProxy", "True");
    expected.replace("FontName=Arial\r\n", "FontName=Arial\r\nUseProxy=True\r\n");
    QCOMPARE(readAll(path()), expected);

    // The last section has no final line break: one is added first.
    store.writeString("Extra", "y", "8");
    expected += "\r\ny=8\r\n";
    QCOMPARE(readAll(path()), expected);

    // A new section goes at the end.
    store.writeString("New", "k", "v");
    expected += "\r\n[New]\r\nk=v\r\n";
    QCOMPARE(readAll(path()), expected);
}

void TestSettingsStore::lineBreakCannotInjectAKey()
{
    SettingsStore store(path());
    store.writeString("Options", "ProxyServer", "good");
    store.writeString("History", "URL",
                      "http://h/\r\n[Options]\r\nProxyServer=evil\nUseProxy=True");
    QCOMPARE(store.readString("Options", "ProxyServer"), QByteArray("good"));
    QCOMPARE(store.readString("Options", "UseProxy", "DEF"), QByteArray("DEF"));
    QCOMPARE(store.readString("History", "URL"),
             QByteArray("http://h/ [Options] ProxyServer=evil UseProxy=True"));
    // Two sections of one key each, a blank line between them.
    QCOMPARE(readAll(path()).count('\n'), 5);
}

void TestSettingsStore::everyCallSeesTheFile()
{
    SettingsStore window(path());
    SettingsStore dialog(path());
    QCOMPARE(window.readString("Options", "ProxyPort", "none"), QByteArray("none"));
    QVERIFY(!QFile::exists(path())); // reading creates nothing
    dialog.writeString("Options", "ProxyPort", "8080");
    QCOMPARE(window.readString("Options", "ProxyPort"), QByteArray("8080"));
    // A change made behind the store's back is seen by the next read.
    writeAll(path(), "[Options]\r\nProxyPort=3128\r\n");
    QCOMPARE(window.readString("Options", "ProxyPort"), QByteArray("3128"));
    QFile::remove(path());
    QCOMPARE(window.readString("Options", "ProxyPort", "gone"), QByteArray("gone"));
}

void TestSettingsStore::integers_data()
{
    QTest::addColumn<QByteArray>("stored"); // "<absent>": key missing
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("expected");
    QTest::newRow("absent gives default") << QByteArray("<absent>") << true << 77;
    QTest::newRow("negative") << QByteArray("-1") << true << -1;
    QTest::newRow("plus sign") << QByteArray("+5") << true << 5;
    QTest::newRow("blanks trimmed") << QByteArray("  900 ") << true << 900;
    QTest::newRow("quoted") << QByteArray("\"12\"") << true << 12;
    QTest::newRow("int max") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("letters") << QByteArray("abc") << false << 0;
    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("fraction") << QByteArray("1.5") << false << 0;
    QTest::newRow("hex") << QByteArray("0x10") << false << 0;
    QTest::newRow("trailing letters") << QByteArray("12abc") << false << 0;
    QTest::newRow("too large") << QByteArray("2147483648") << false << 0;
}

void TestSettingsStore::integers()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, valid);
    QFETCH(int, expected);
    SettingsStore store(path());
    store.writeString("History", "Other", "1");
    if (stored != "<absent>")
        writeAll(path(), "[History]\r\nMethod=" + stored + "\r\n");
    int got = -12345;
    const QString error = errorOf([&] { got = store.readInteger("History", "Method", 77); });
    if (valid) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(got, expected);
    } else {
        QVERIFY(!error.isEmpty());
        QCOMPARE(got, -12345);
    }
}

void TestSettingsStore::ownerOnlyPermissions()
{
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    SettingsStore store(path());
    store.writeString("Options", "ProxyPwd", "secret");
    QCOMPARE(modeOf(path()), ownerOnly);

    // A mode the user gave the file is theirs: a write keeps it.
    const auto shared = ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(path(), shared));
    store.writeString("Options", "ProxyPwd", "secret2");
    QCOMPARE(modeOf(path()), shared);
}

void TestSettingsStore::writeToImpossiblePlace()
{
    // A folder that cannot exist: its parent is a plain file. This fails for
    // every user, root included.
    const QString blocker = m_dir->filePath(QStringLiteral("plainfile"));
    writeAll(blocker, "x");
    const QString ini = blocker + QStringLiteral("/reqlark.ini");
    SettingsStore store(ini);
    QCOMPARE(store.readString("History", "URL", "DEF"), QByteArray("DEF"));
    QCOMPARE(errorOf([&] { store.writeString("History", "URL", "x"); }),
             QStringLiteral("Unable to write to ") + ini);
}

void TestSettingsStore::failedWriteLeavesOldFile()
{
    QByteArray original = "[History]\r\nURL=" + QByteArray(3000, 'o') + "\r\n";
    writeAll(path(), original);
    SettingsStore store(path());
    QString error;
    {
        FileSizeLimit limit(4096); // the disk fills up at 4 KB
        QVERIFY(limit.ok());
        error = errorOf([&] { store.writeString("History", "PSData", QByteArray(8000, 'n')); });
    }
    QCOMPARE(error, QStringLiteral("Unable to write to ") + path());
    QCOMPARE(readAll(path()), original);
    // No half-written temporary file is left beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("reqlark.ini")});
}

void TestSettingsStore::unreadableFile()
{
    // A folder where the file should be: it exists but cannot be read as one.
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("reqlark.ini")));
    SettingsStore store(path());
    const QString readError = errorOf([&] { store.readString("History", "URL"); });
    QVERIFY2(readError.startsWith(QStringLiteral("无法读取设置文件 ") + path()),
             qPrintable(readError));
    QCOMPARE(errorOf([&] { store.writeString("History", "URL", "x"); }),
             QStringLiteral("Unable to write to ") + path());
    QVERIFY(QFileInfo(path()).isDir());
}

void TestSettingsStore::damagedFilesReadFast_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QByteArray>("method"); // read from the section that comes last
    QTest::newRow("binary") << QByteArray("binary") << QByteArray("1");
    // The first [History] section holds the long line "URL..." without "="
    // and no Method; only the first of two sections of a name is read.
    QTest::newRow("one 10 MB line") << QByteArray("line") << QByteArray("DEF");
    QTest::newRow("invalid code page 936") << QByteArray("invalid") << QByteArray("1");
    QTest::newRow("many short lines") << QByteArray("lines") << QByteArray("1");
    QTest::newRow("CR-only lines") << QByteArray("cr lines") << QByteArray("1");
    QTest::newRow("many sections") << QByteArray("sections") << QByteArray("1");
}

void TestSettingsStore::damagedFilesReadFast()
{
    QFETCH(QByteArray, kind);
    QFETCH(QByteArray, method);
    const qsizetype size = 10 * 1024 * 1024;
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(42);
    if (kind == "binary") {
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    } else if (kind == "line") {
        bytes.fill('a');
        bytes.replace(0, 14, "[History]\r\nURL");
    } else if (kind == "invalid") {
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char(0x81 + (i % 2) * 0x7E); // lead bytes followed by 0xFF
    } else if (kind == "lines" || kind == "cr lines") {
        const char lineEnd = kind == "lines" ? '\n' : '\r';
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = (i % 20 == 19) ? lineEnd : char('a' + i % 7);
    } else {
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = (i % 20 == 19) ? '\n' : (i % 20 == 0 ? '[' : 'S');
    }
    bytes += "\n[History]\nMethod=1\n";
    writeAll(path(), bytes);

    SettingsStore store(path());
    QElapsedTimer timer;
    timer.start();
    // As many reads as one start of the program makes.
    for (int i = 0; i < 22; ++i)
        store.readString("Options", "HTMLFontName", "DEF");
    const qint64 elapsed = timer.elapsed();
    qInfo("22 reads of a 10 MB %s file: %lld ms", kind.constData(), elapsed);
    QVERIFY2(elapsed < quickBoundMs(1000), qPrintable(QString::number(elapsed)));

    QCOMPARE(store.readString("History", "Method", "DEF"), method);
    // A write keeps every byte that was there.
    store.writeString("Options", "UseProxy", "True");
    QCOMPARE(store.readString("Options", "UseProxy"), QByteArray("True"));
    QVERIFY(readAll(path()).startsWith(bytes));
}

void TestSettingsStore::proxyAddress_data()
{
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("empty port is 80")
        << QByteArray("10.0.0.1") << QByteArray() << QByteArray("10.0.0.1:80");
    QTest::newRow("port as stored")
        << QByteArray("192.168.0.8") << QByteArray("8080") << QByteArray("192.168.0.8:8080");
    QTest::newRow("no range check")
        << QByteArray("h") << QByteArray("99999") << QByteArray("h:99999");
    QTest::newRow("leading zeros kept")
        << QByteArray("h") << QByteArray("0080") << QByteArray("h:0080");
    QTest::newRow("not a number kept as typed")
        << QByteArray("h") << QByteArray("80a") << QByteArray("h:80a");
    QTest::newRow("no server, no proxy") << QByteArray() << QByteArray("8080") << QByteArray();
}

void TestSettingsStore::proxyAddress()
{
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, port);
    QFETCH(QByteArray, address);
    QCOMPARE(FormProxyAddress(server, port), address);
}

void TestSettingsStore::proxySettingsFromFile()
{
    SettingsStore store(path());
    ProxySettings none = ReadProxySettings(store);
    QVERIFY(none.address.isEmpty() && none.userName.isEmpty() && none.password.isEmpty());

    writeAll(path(), "[options]\r\nproxyserver=proxy.lan\r\nProxyPort=3128\r\n"
                     "ProxyUser=\" alice \"\r\nProxyPwd=p=w\"d\r\n");
    const ProxySettings proxy = ReadProxySettings(store);
    QCOMPARE(proxy.address, QByteArray("proxy.lan:3128"));
    QCOMPARE(proxy.userName, QByteArray(" alice "));
    QCOMPARE(proxy.password, QByteArray("p=w\"d"));
}

QTEST_APPLESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
