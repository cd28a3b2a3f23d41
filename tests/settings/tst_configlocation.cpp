// Where the settings and the header list live, and how an installed copy's
// first start carries an earlier pair over.

#include "settings/ConfigLocation.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestConfigLocation : public QObject
{
    Q_OBJECT
private slots:
    void locate_data();
    void locate();
    void factsFromTheSystem();
    void carriesOverEarlierFiles_data();
    void carriesOverEarlierFiles();
    void failedCopyLeavesNoPartialFile();

private:
    // An installed copy at <tmp>/prefix/bin/reqlark, configuration in <tmp>/cfg/reqlark.
    ConfigLocation installedLayout(const QTemporaryDir& tmp) const
    {
        ConfigFacts facts;
        facts.executablePath = tmp.filePath(QStringLiteral("prefix/bin/reqlark"));
        facts.configHome = tmp.filePath(QStringLiteral("cfg"));
        facts.besideMenuEntry = true;
        QDir().mkpath(tmp.filePath(QStringLiteral("prefix/bin")));
        return LocateConfig(facts);
    }
};

void TestConfigLocation::locate_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QString>("prefix"); // the prefix the program was built for
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("menuEntry");
    QTest::addColumn<QString>("settings"); // "Headers.dat" goes beside it

    const QString cfg = QStringLiteral("/home/u/.config/reqlark/reqlark.ini");
    const QString local = QStringLiteral("/usr/local");
    QTest::newRow("build folder") << "/home/u/src/build/reqlark" << local << true << false
                                  << "/home/u/src/build/reqlark.ini";
    QTest::newRow("other name") << "/tmp/x/tester.exe" << local << true << false
                                << "/tmp/x/tester.ini";
    QTest::newRow("looks like /usr")
        << "/usrlocal/bin/reqlark" << local << true << false << "/usrlocal/bin/reqlark.ini";
    QTest::newRow("beside the built prefix's bin")
        << "/home/u/apps/libexec/reqlark"
        << "/home/u/apps" << true << false << "/home/u/apps/libexec/reqlark.ini";
    // Installed: also where root may write the system folder.
    QTest::newRow("/usr/bin") << "/usr/bin/reqlark" << local << true << false << cfg;
    QTest::newRow("/opt") << "/opt/rq/reqlark" << local << true << false << cfg;
    QTest::newRow("/") << "/reqlark" << local << true << false << cfg;
    QTest::newRow("built prefix") << "/home/u/apps/bin/reqlark"
                                  << "/home/u/apps/" << true << false << cfg;
    QTest::newRow("beside its menu entry")
        << "/home/u/.local/bin/reqlark" << local << true << true << cfg;
    QTest::newRow("folder not writable") << "/home/u/ro/reqlark" << local << false << false << cfg;
}

void TestConfigLocation::locate()
{
    QFETCH(QString, exe);
    QFETCH(QString, prefix);
    QFETCH(bool, writable);
    QFETCH(bool, menuEntry);
    QFETCH(QString, settings);

    ConfigFacts facts{exe, prefix, QStringLiteral("/home/u/.config"), writable, menuEntry};
    const ConfigLocation at = LocateConfig(facts);
    const QString exeFolder = QFileInfo(exe).path();
    const bool installed = !settings.startsWith(exeFolder + QLatin1Char('/'));
    QCOMPARE(at.installed, installed);
    QCOMPARE(at.settingsFile, settings);
    QCOMPARE(at.headersFile, QFileInfo(settings).path() + QStringLiteral("/Headers.dat"));
    QCOMPARE(at.earlierSettingsFile,
             installed ? exeFolder + QStringLiteral("/reqlark.ini") : QString());
}

void TestConfigLocation::factsFromTheSystem()
{
    // The configuration home: XDG_CONFIG_HOME when it is absolute, else
    // ~/.config.
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME"), oldHome = qgetenv("HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_CONFIG_HOME", oldXdg);
        qputenv("HOME", oldHome);
    });
    qputenv("HOME", "/home/u");
    for (const auto& [xdg, home] : {std::pair{"/srv/cfg/", "/srv/cfg"},
                                    {"", "/home/u/.config"},
                                    {"cfg", "/home/u/.config"}}) {
        qputenv("XDG_CONFIG_HOME", xdg);
        QCOMPARE(CurrentConfigFacts(QStringLiteral("/tmp/reqlark")).configHome,
                 QLatin1String(home));
    }

    QTemporaryDir tmp;
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("p/bin"))));
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("p/share/applications"))));
    const QString exe = tmp.filePath(QStringLiteral("p/bin/reqlark"));
    writeAll(exe, "x");
    QVERIFY(QFile::link(exe, tmp.filePath(QStringLiteral("link"))));

    ConfigFacts facts = CurrentConfigFacts(exe);
    const QFileInfo builtPrefix(QStringLiteral(REQLARK_TEST_INSTALL_PREFIX));
    QCOMPARE(facts.installPrefix, builtPrefix.exists() ? builtPrefix.canonicalFilePath()
                                                       : QDir::cleanPath(builtPrefix.filePath()));
    QVERIFY(facts.folderWritable);
    QVERIFY(!facts.besideMenuEntry);

    writeAll(tmp.filePath(QStringLiteral("p/share/applications/reqlark.desktop")), "");
    // A link to the program is judged where the program is.
    facts = CurrentConfigFacts(tmp.filePath(QStringLiteral("link")));
    QCOMPARE(facts.executablePath, QFileInfo(exe).canonicalFilePath());
    QVERIFY(facts.besideMenuEntry);
}

void TestConfigLocation::carriesOverEarlierFiles_data()
{
    // Beside the executable and in the configuration folder before the
    // start ("-": no file), and the configuration folder afterwards.
    QTest::addColumn<QByteArray>("besideIni");
    QTest::addColumn<QByteArray>("besideHeaders");
    QTest::addColumn<QByteArray>("configIni");
    QTest::addColumn<QByteArray>("configHeaders");
    QTest::addColumn<QByteArray>("expectedIni");
    QTest::addColumn<QByteArray>("expectedHeaders");

    const QByteArray ini = "[History]\r\nURL=http://old/\r\n";
    const QByteArray hdr = "Accept=*/*\r\n";
    const QByteArray none = "-";
    QTest::newRow("pair") << ini << hdr << none << none << ini << hdr;
    QTest::newRow("settings only") << ini << none << none << none << ini << none;
    QTest::newRow("nothing beside") << none << none << none << none << none << none;
    // The settings file marks a finished carry-over: a header list emptied
    // since (its file deleted) does not come back.
    QTest::newRow("settings there")
        << ini << hdr << QByteArray("URL=new") << none << QByteArray("URL=new") << none;
    // A header list carried before the settings copy failed is kept.
    QTest::newRow("header list there")
        << ini << hdr << none << QByteArray("Mine=1") << ini << QByteArray("Mine=1");
}

void TestConfigLocation::carriesOverEarlierFiles()
{
    QFETCH(QByteArray, besideIni);
    QFETCH(QByteArray, besideHeaders);
    QFETCH(QByteArray, configIni);
    QFETCH(QByteArray, configHeaders);
    QFETCH(QByteArray, expectedIni);
    QFETCH(QByteArray, expectedHeaders);

    QTemporaryDir tmp;
    const ConfigLocation at = installedLayout(tmp);
    const auto put = [](const QString& file, const QByteArray& bytes) {
        if (bytes != "-")
            writeAll(file, bytes);
    };
    const auto holds = [](const QString& file) {
        return QFileInfo::exists(file) ? readAll(file) : QByteArray("-");
    };
    put(at.earlierSettingsFile, besideIni);
    put(at.earlierHeadersFile, besideHeaders);
    if (configIni != "-" || configHeaders != "-")
        QDir().mkpath(at.folder);
    put(at.settingsFile, configIni);
    put(at.headersFile, configHeaders);

    {
        // A umask that takes the owner's bits as well leaves the modes below.
        const mode_t umaskBefore = ::umask(0277);
        const auto restore = qScopeGuard([&] { ::umask(umaskBefore); });
        PrepareConfigFolder(at);
    }
    if (configIni == "-" && configHeaders == "-") { // made by this start, its parent too
        QCOMPARE(fileMode(at.folder), 0700);
        QCOMPARE(fileMode(tmp.filePath(QStringLiteral("cfg"))), 0700);
    }
    QCOMPARE(holds(at.settingsFile), expectedIni);
    QCOMPARE(holds(at.headersFile), expectedHeaders);
    if (configIni == "-" && expectedIni != "-")
        QCOMPARE(fileMode(at.settingsFile), 0600); // may hold the proxy password
    // The earlier files stay where they were, unchanged.
    QCOMPARE(holds(at.earlierSettingsFile), besideIni);
    QCOMPARE(holds(at.earlierHeadersFile), besideHeaders);
}

void TestConfigLocation::failedCopyLeavesNoPartialFile()
{
    QTemporaryDir tmp;
    const ConfigLocation at = installedLayout(tmp);
    const QByteArray big(64 * 1024, 'h');
    writeAll(at.earlierHeadersFile, big);
    writeAll(at.earlierSettingsFile, "[History]\r\n");
    QString error;
    {
        const FileSizeLimit limit(4096); // as a full disk would
        QVERIFY(limit.ok());
        error = errorOf([&] { PrepareConfigFolder(at); });
    }
    QVERIFY2(
        error.startsWith(
            QStringLiteral("无法把 %1 迁移到 %2：").arg(at.earlierHeadersFile, at.headersFile)),
        qPrintable(error));
    // Neither a cut header list nor a settings file that would stop a retry.
    QVERIFY(QDir(at.folder).entryList(QDir::Files | QDir::Hidden).isEmpty());

    PrepareConfigFolder(at); // the next start
    QCOMPARE(readAll(at.headersFile), big);
    QCOMPARE(readAll(at.settingsFile), QByteArray("[History]\r\n"));
}

QTEST_GUILESS_MAIN(TestConfigLocation)
#include "tst_configlocation.moc"
