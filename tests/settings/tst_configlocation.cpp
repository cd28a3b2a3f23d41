// Where the settings and the header list live: beside a portable copy's
// executable, or in the user's configuration folder for an installed one,
// and how an installed copy's first start carries an earlier pair over.

#include "settings/ConfigLocation.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>

namespace {

// The permission bits as the system holds them.
int modeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Restores an environment variable when the test ends, however it ends.
class EnvGuard
{
public:
    explicit EnvGuard(const char* name)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    void set(const QByteArray& value) const
    {
        if (value == "<unset>")
            qunsetenv(m_name);
        else
            qputenv(m_name, value);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace

class TestConfigLocation : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void locate_data();
    void locate();
    void systemFolders_data();
    void systemFolders();
    void configHomeFromEnvironment_data();
    void configHomeFromEnvironment();
    void factsFromTheFolders();

    void createsFolderForOwnerOnly();
    void carriesOverEarlierFiles_data();
    void carriesOverEarlierFiles();
    void portableCopyTouchesNothing();
    void folderThatCannotBeMadeIsNamed();
    void unreadableEarlierFileIsNamedAndRetried();
    void failedCopyLeavesNoPartialFile();

private:
    // An installed copy at <tmp>/prefix/bin/reqlark with its configuration
    // folder at <tmp>/cfg/reqlark.
    ConfigLocation installedLayout() const;
    QString path(const QString& relative) const { return m_tmp->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_tmp;
};

void TestConfigLocation::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
}

void TestConfigLocation::cleanup()
{
    m_tmp.reset();
}

ConfigLocation TestConfigLocation::installedLayout() const
{
    ConfigFacts facts;
    facts.executablePath = path(QStringLiteral("prefix/bin/reqlark"));
    facts.configHome = path(QStringLiteral("cfg"));
    facts.besideMenuEntry = true;
    QDir().mkpath(path(QStringLiteral("prefix/bin")));
    return LocateConfig(facts);
}

void TestConfigLocation::locate_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QString>("prefix"); // the prefix the program was built for
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("menuEntry");
    QTest::addColumn<QString>("settings"); // the headers file is "Headers.dat" beside it
    QTest::addColumn<bool>("installed");

    const QString cfgIni = QStringLiteral("/home/u/.config/reqlark/reqlark.ini");
    const QString local = QStringLiteral("/usr/local");
    // Portable copies keep the pair beside the executable.
    QTest::newRow("build folder") << "/home/u/src/reqlark/build/reqlark" << local << true << false
                                  << "/home/u/src/reqlark/build/reqlark.ini" << false;
    QTest::newRow("user's own folder") << "/home/u/tools/rq/reqlark" << local << true << false
                                       << "/home/u/tools/rq/reqlark.ini" << false;
    QTest::newRow("scratch folder")
        << "/tmp/x/tester.exe" << local << true << false << "/tmp/x/tester.ini" << false;
    QTest::newRow("name like a system folder") << "/usrlocal/bin/reqlark" << local << true << false
                                               << "/usrlocal/bin/reqlark.ini" << false;
    QTest::newRow("beside the built prefix")
        << "/home/u/apps/libexec/reqlark"
        << "/home/u/apps" << true << false << "/home/u/apps/libexec/reqlark.ini" << false;
    QTest::newRow("no prefix known")
        << "/bin2/reqlark" << QString() << true << false << "/bin2/reqlark.ini" << false;
    // Installed copies keep it in the configuration folder, also where the
    // system folder is writable (root).
    QTest::newRow("/usr/bin, writable")
        << "/usr/bin/reqlark" << local << true << false << cfgIni << true;
    QTest::newRow("/usr/local/bin")
        << "/usr/local/bin/reqlark" << local << true << false << cfgIni << true;
    QTest::newRow("/opt") << "/opt/reqlark/reqlark" << local << true << false << cfgIni << true;
    QTest::newRow("root folder") << "/reqlark" << local << true << false << cfgIni << true;
    QTest::newRow("other name") << "/usr/bin/tester.exe" << local << true << false
                                << QStringLiteral("/home/u/.config/reqlark/tester.ini") << true;
    QTest::newRow("built prefix") << "/home/u/apps/bin/reqlark"
                                  << "/home/u/apps" << true << false << cfgIni << true;
    QTest::newRow("built prefix, trailing slash")
        << "/home/u/apps/bin/reqlark"
        << "/home/u/apps/" << true << false << cfgIni << true;
    QTest::newRow("beside its menu entry")
        << "/home/u/.local/bin/reqlark" << local << true << true << cfgIni << true;
    QTest::newRow("folder not writable")
        << "/home/u/shared/reqlark" << local << false << false << cfgIni << true;
}

void TestConfigLocation::locate()
{
    QFETCH(QString, exe);
    QFETCH(QString, prefix);
    QFETCH(bool, writable);
    QFETCH(bool, menuEntry);
    QFETCH(QString, settings);
    QFETCH(bool, installed);

    ConfigFacts facts;
    facts.executablePath = exe;
    facts.installPrefix = prefix;
    facts.configHome = QStringLiteral("/home/u/.config");
    facts.folderWritable = writable;
    facts.besideMenuEntry = menuEntry;
    const ConfigLocation at = LocateConfig(facts);

    QCOMPARE(at.installed, installed);
    QCOMPARE(at.settingsFile, settings);
    QCOMPARE(at.folder, QFileInfo(settings).path());
    QCOMPARE(at.headersFile, QFileInfo(settings).path() + QStringLiteral("/Headers.dat"));
    const QString besideSettings =
        QFileInfo(exe).path() + QLatin1Char('/') + QFileInfo(settings).fileName();
    QCOMPARE(at.earlierSettingsFile, installed ? besideSettings : QString());
    QCOMPARE(at.earlierHeadersFile,
             installed ? QFileInfo(exe).path() + QStringLiteral("/Headers.dat") : QString());
}

void TestConfigLocation::systemFolders_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("system");
    QTest::newRow("/") << "/" << true;
    QTest::newRow("/usr") << "/usr" << true;
    QTest::newRow("/usr/") << "/usr/" << true;
    QTest::newRow("/usr/local/bin") << "/usr/local/bin" << true;
    QTest::newRow("/bin") << "/bin" << true;
    QTest::newRow("/sbin") << "/sbin" << true;
    QTest::newRow("/lib64/x") << "/lib64/x" << true;
    QTest::newRow("/opt/app/bin") << "/opt/app/bin" << true;
    QTest::newRow("/snap/bin") << "/snap/bin" << true;
    QTest::newRow("/etc") << "/etc" << true;
    QTest::newRow("/usr/../home/u") << "/usr/../home/u" << false;
    QTest::newRow("/usrx") << "/usrx" << false;
    QTest::newRow("/optional") << "/optional" << false;
    QTest::newRow("/home/u/usr/bin") << "/home/u/usr/bin" << false;
    QTest::newRow("/tmp") << "/tmp" << false;
    QTest::newRow("/var/tmp/x") << "/var/tmp/x" << false;
    QTest::newRow("/root") << "/root" << false;
}

void TestConfigLocation::systemFolders()
{
    QFETCH(QString, folder);
    QFETCH(bool, system);
    QCOMPARE(IsSystemFolder(folder), system);
}

void TestConfigLocation::configHomeFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("expected");
    QTest::newRow("XDG_CONFIG_HOME")
        << QByteArray("/srv/cfg/") << QByteArray("/home/u") << "/srv/cfg";
    QTest::newRow("unset") << QByteArray("<unset>") << QByteArray("/home/u") << "/home/u/.config";
    QTest::newRow("empty") << QByteArray("") << QByteArray("/home/u") << "/home/u/.config";
    QTest::newRow("relative is ignored")
        << QByteArray("cfg") << QByteArray("/home/u") << "/home/u/.config";
}

void TestConfigLocation::configHomeFromEnvironment()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(QString, expected);
    const EnvGuard xdgGuard("XDG_CONFIG_HOME");
    const EnvGuard homeGuard("HOME");
    xdgGuard.set(xdg);
    homeGuard.set(home);
    QCOMPARE(CurrentConfigFacts(path(QStringLiteral("reqlark"))).configHome, expected);
}

void TestConfigLocation::factsFromTheFolders()
{
    QDir().mkpath(path(QStringLiteral("p/bin")));
    QDir().mkpath(path(QStringLiteral("p/sbin")));
    QDir().mkpath(path(QStringLiteral("p/share/applications")));
    const QString exe = path(QStringLiteral("p/bin/reqlark"));
    writeAll(exe, "x");

    ConfigFacts facts = CurrentConfigFacts(exe);
    QCOMPARE(facts.executablePath, QFileInfo(exe).canonicalFilePath());
    // The prefix this build was configured with, links resolved.
    const QFileInfo builtPrefix(QStringLiteral(REQLARK_TEST_INSTALL_PREFIX));
    QCOMPARE(facts.installPrefix, builtPrefix.exists() ? builtPrefix.canonicalFilePath()
                                                       : QDir::cleanPath(builtPrefix.filePath()));
    QVERIFY(facts.folderWritable);
    QVERIFY(!facts.besideMenuEntry); // no menu entry yet

    writeAll(path(QStringLiteral("p/share/applications/reqlark.desktop")), "[Desktop Entry]\n");
    QVERIFY(CurrentConfigFacts(exe).besideMenuEntry);
    // The entry marks <prefix>/bin only.
    QVERIFY(!CurrentConfigFacts(path(QStringLiteral("p/sbin/reqlark"))).besideMenuEntry);

    // A link to the program is judged where the program is.
    QVERIFY(QFile::link(exe, path(QStringLiteral("link"))));
    facts = CurrentConfigFacts(path(QStringLiteral("link")));
    QCOMPARE(facts.executablePath, QFileInfo(exe).canonicalFilePath());
    QVERIFY(facts.besideMenuEntry);

    QVERIFY(IsWritableFolder(m_tmp->path()));
    QVERIFY(!IsWritableFolder(path(QStringLiteral("missing"))));
}

void TestConfigLocation::createsFolderForOwnerOnly()
{
    const ConfigLocation at = installedLayout();
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("cfg")))); // the parent is missing too
    PrepareConfigFolder(at);
    QVERIFY(QFileInfo(at.folder).isDir());
    QCOMPARE(modeOf(at.folder), 0700);
    QCOMPARE(modeOf(path(QStringLiteral("cfg"))), 0700);
    QVERIFY(QDir(at.folder).isEmpty());

    // An existing folder is used as it is.
    PrepareConfigFolder(at);
    QVERIFY(QDir(at.folder).isEmpty());
}

void TestConfigLocation::carriesOverEarlierFiles_data()
{
    // What is beside the executable and in the configuration folder before
    // the start ("-" for no file), and what the folder holds afterwards.
    QTest::addColumn<QByteArray>("besideIni");
    QTest::addColumn<QByteArray>("besideHeaders");
    QTest::addColumn<QByteArray>("configIni");
    QTest::addColumn<QByteArray>("configHeaders");
    QTest::addColumn<QByteArray>("expectedIni");
    QTest::addColumn<QByteArray>("expectedHeaders");

    const QByteArray ini = "[History]\r\nURL=http://old/\r\n";
    const QByteArray headers = "Accept=*/*\r\n";
    QTest::newRow("pair") << ini << headers << QByteArray("-") << QByteArray("-") << ini << headers;
    QTest::newRow("settings only")
        << ini << QByteArray("-") << QByteArray("-") << QByteArray("-") << ini << QByteArray("-");
    QTest::newRow("header list only") << QByteArray("-") << headers << QByteArray("-")
                                      << QByteArray("-") << QByteArray("-") << headers;
    QTest::newRow("nothing beside") << QByteArray("-") << QByteArray("-") << QByteArray("-")
                                    << QByteArray("-") << QByteArray("-") << QByteArray("-");
    // The settings file marks a finished carry-over: a header list the user
    // emptied since (its file deleted) does not come back.
    QTest::newRow("settings there")
        << ini << headers << QByteArray("[History]\r\nURL=new\r\n") << QByteArray("-")
        << QByteArray("[History]\r\nURL=new\r\n") << QByteArray("-");
    // A header list carried before the settings copy failed is kept.
    QTest::newRow("header list there")
        << ini << headers << QByteArray("-") << QByteArray("Mine=1\r\n") << ini
        << QByteArray("Mine=1\r\n");
    QTest::newRow("empty files") << QByteArray() << QByteArray() << QByteArray("-")
                                 << QByteArray("-") << QByteArray() << QByteArray();
}

void TestConfigLocation::carriesOverEarlierFiles()
{
    QFETCH(QByteArray, besideIni);
    QFETCH(QByteArray, besideHeaders);
    QFETCH(QByteArray, configIni);
    QFETCH(QByteArray, configHeaders);
    QFETCH(QByteArray, expectedIni);
    QFETCH(QByteArray, expectedHeaders);

    const ConfigLocation at = installedLayout();
    const auto put = [](const QString& file, const QByteArray& bytes) {
        if (bytes != "-")
            writeAll(file, bytes);
    };
    const auto holds = [](const QString& file) {
        return QFileInfo::exists(file) ? readAll(file) : QByteArray("-");
    };
    put(at.earlierSettingsFile, besideIni);
    put(at.earlierHeadersFile, besideHeaders);
    QDir().mkpath(at.folder);
    put(at.settingsFile, configIni);
    put(at.headersFile, configHeaders);

    PrepareConfigFolder(at);
    QCOMPARE(holds(at.settingsFile), expectedIni);
    QCOMPARE(holds(at.headersFile), expectedHeaders);
    // A carried file is readable by its owner only, like the ones the program writes.
    if (configIni == "-" && expectedIni != "-")
        QCOMPARE(modeOf(at.settingsFile), 0600);
    if (configHeaders == "-" && expectedHeaders != "-")
        QCOMPARE(modeOf(at.headersFile), 0600);
    // The earlier files stay where they were, unchanged.
    QCOMPARE(holds(at.earlierSettingsFile), besideIni);
    QCOMPARE(holds(at.earlierHeadersFile), besideHeaders);
    QCOMPARE(QDir(at.folder).entryList(QDir::Files | QDir::Hidden).size(),
             int(expectedIni != "-") + int(expectedHeaders != "-"));
}

void TestConfigLocation::portableCopyTouchesNothing()
{
    ConfigFacts facts;
    facts.executablePath = path(QStringLiteral("reqlark"));
    facts.configHome = path(QStringLiteral("cfg"));
    writeAll(path(QStringLiteral("reqlark.ini")), "[History]\r\n");
    const ConfigLocation at = LocateConfig(facts);
    QVERIFY(!at.installed);
    PrepareConfigFolder(at);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("cfg"))));
}

void TestConfigLocation::folderThatCannotBeMadeIsNamed()
{
    writeAll(path(QStringLiteral("plainfile")), "x");
    ConfigFacts facts;
    facts.executablePath = path(QStringLiteral("prefix/bin/reqlark"));
    facts.configHome = path(QStringLiteral("plainfile/cfg"));
    facts.besideMenuEntry = true;
    const ConfigLocation at = LocateConfig(facts);
    const QString error = errorOf([&] { PrepareConfigFolder(at); });
    QCOMPARE(error, QStringLiteral("Unable to create folder %1: %2 is not a folder")
                        .arg(at.folder, path(QStringLiteral("plainfile"))));
    QVERIFY(!QFileInfo(at.folder).exists());
}

void TestConfigLocation::unreadableEarlierFileIsNamedAndRetried()
{
    const ConfigLocation at = installedLayout();
    writeAll(at.earlierHeadersFile, "A=1\r\n");
    // A folder where the settings file should be: it exists and cannot be read.
    QVERIFY(QDir().mkpath(at.earlierSettingsFile));

    for (int start = 0; start < 2; ++start) {
        const QString error = errorOf([&] { PrepareConfigFolder(at); });
        QVERIFY2(error.startsWith(QStringLiteral("Unable to carry over ") + at.earlierSettingsFile +
                                  QStringLiteral(": ")),
                 qPrintable(error));
        QVERIFY(!QFileInfo::exists(at.settingsFile));
        QCOMPARE(readAll(at.headersFile), QByteArray("A=1\r\n"));
    }
    // Once the file can be read, the next start finishes the carry-over.
    QVERIFY(QDir().rmdir(at.earlierSettingsFile));
    writeAll(at.earlierSettingsFile, "[History]\r\n");
    QCOMPARE(errorOf([&] { PrepareConfigFolder(at); }), QString());
    QCOMPARE(readAll(at.settingsFile), QByteArray("[History]\r\n"));
}

void TestConfigLocation::failedCopyLeavesNoPartialFile()
{
    const ConfigLocation at = installedLayout();
    const QByteArray big(64 * 1024, 'h');
    writeAll(at.earlierHeadersFile, big);
    writeAll(at.earlierSettingsFile, "[History]\r\n");
    QString error;
    {
        const FileSizeLimit limit(4096); // as a full disk would
        QVERIFY(limit.ok());
        error = errorOf([&] { PrepareConfigFolder(at); });
    }
    QVERIFY2(error.startsWith(QStringLiteral("Unable to carry over ") + at.earlierHeadersFile +
                              QStringLiteral(" to ") + at.headersFile + QStringLiteral(": ")),
             qPrintable(error));
    // Neither a cut header list nor a settings file that would stop the retry.
    QVERIFY(QDir(at.folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(readAll(at.earlierHeadersFile), big);

    PrepareConfigFolder(at);
    QCOMPARE(readAll(at.headersFile), big);
    QCOMPARE(readAll(at.settingsFile), QByteArray("[History]\r\n"));
}

QTEST_GUILESS_MAIN(TestConfigLocation)
#include "tst_configlocation.moc"
