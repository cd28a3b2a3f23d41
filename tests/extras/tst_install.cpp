// cmake --install into a scratch prefix: the program, its menu entry, its
// icons, software-centre data and copyright land where a desktop finds them;
// the installed copy starts, keeps its files in the user's configuration
// folder and carries over the pair an earlier use left beside it.

#include "extras/VersionUnit.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The value of `key` in the [Desktop Entry] group, string escapes undone.
QString desktopValue(const QString& entry, const QString& key)
{
    for (const QString& line : entry.split(QLatin1Char('\n'))) {
        if (!line.startsWith(key + QLatin1Char('=')))
            continue;
        const QString raw = line.mid(key.size() + 1);
        QString value;
        for (int i = 0; i < raw.size(); ++i) {
            if (raw[i] == QLatin1Char('\\') && i + 1 < raw.size()) {
                const QChar next = raw[++i];
                value += next == QLatin1Char('s')   ? QStringLiteral(" ")
                         : next == QLatin1Char('n') ? QStringLiteral("\n")
                         : next == QLatin1Char('t') ? QStringLiteral("\t")
                                                    : QString(next);
            } else {
                value += raw[i];
            }
        }
        return value;
    }
    return {};
}

// The program named by an Exec value: a quoted first argument with its
// quoting escapes undone, or the text up to the first blank; "%%" is "%".
QString execProgram(const QString& exec)
{
    QString program;
    if (exec.startsWith(QLatin1Char('"'))) {
        for (int i = 1; i < exec.size() && exec[i] != QLatin1Char('"'); ++i) {
            if (exec[i] == QLatin1Char('\\') && i + 1 < exec.size())
                ++i;
            program += exec[i];
        }
    } else {
        program = exec.section(QLatin1Char(' '), 0, 0);
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void installedLayout();
};

void TestInstall::installedLayout()
{
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    // Blanks and a dollar sign make the menu entry quote the program's path.
    const QString prefix = scratch.filePath(QStringLiteral("my apps $HOME 100%"));

    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(REQLARK_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(REQLARK_BUILD_DIR),
                   QStringLiteral("--prefix"), prefix, QStringLiteral("--strip")});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());

    const QString program = prefix + QStringLiteral("/bin/reqlark");
    const QFileInfo programInfo(program);
    QVERIFY(programInfo.isFile());
    QVERIFY(programInfo.isExecutable());
    // Stripping keeps the version record.
    QCOMPARE(GetFileVersionText(program), QStringLiteral("1.1.0"));

    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QImage icon(prefix +
                          QStringLiteral("/share/icons/hicolor/%1x%1/apps/reqlark.png").arg(size));
        QCOMPARE(icon.size(), QSize(size, size));
    }
    const QByteArray component =
        readAll(prefix + QStringLiteral("/share/metainfo/org.reqlark.Reqlark.metainfo.xml"));
    QVERIFY(component.contains("<launchable type=\"desktop-id\">reqlark.desktop</launchable>"));
    QVERIFY(component.contains("<release version=\"" REQLARK_VERSION_TEXT "\""));
    QVERIFY(!readAll(prefix + QStringLiteral("/share/doc/reqlark/copyright")).isEmpty());

    QFile desktop(prefix + QStringLiteral("/share/applications/reqlark.desktop"));
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(desktop.readAll());
    QVERIFY(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QCOMPARE(desktopValue(entry, QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(desktopValue(entry, QStringLiteral("Name")), QStringLiteral("Reqlark"));
    QCOMPARE(desktopValue(entry, QStringLiteral("Icon")), QStringLiteral("reqlark"));
    QCOMPARE(entry.count(QStringLiteral("\nExec=")), 1);
    QCOMPARE(execProgram(desktopValue(entry, QStringLiteral("Exec"))), program);

    // A pair an earlier, portable use left beside the program.
    const QByteArray ini = "[History]\r\nURL=http://earlier.example/\r\n";
    writeAll(prefix + QStringLiteral("/bin/reqlark.ini"), ini);
    writeAll(prefix + QStringLiteral("/bin/Headers.dat"), "Accept=*/*\r\n");
    const QString config = scratch.filePath(QStringLiteral("home/.config/reqlark"));

    // The installed copy starts and keeps running until it is ended.
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    env.insert(QStringLiteral("HOME"), scratch.filePath(QStringLiteral("home")));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(program, {});
    QVERIFY(run.waitForStarted(10000));
    QVERIFY2(!run.waitForFinished(3000), run.readAll().constData());
    run.kill();
    QVERIFY(run.waitForFinished(10000));

    // Its start carried the pair into ~/.config/reqlark, readable by the
    // user only, and left the originals as they were.
    QCOMPARE(fileMode(config), 0700);
    QCOMPARE(readAll(config + QStringLiteral("/reqlark.ini")), ini);
    QCOMPARE(fileMode(config + QStringLiteral("/reqlark.ini")), 0600);
    QCOMPARE(readAll(config + QStringLiteral("/Headers.dat")), QByteArray("Accept=*/*\r\n"));
    QCOMPARE(readAll(prefix + QStringLiteral("/bin/reqlark.ini")), ini);
    QCOMPARE(QDir(prefix + QStringLiteral("/bin")).entryList(QDir::Files),
             (QStringList{QStringLiteral("Headers.dat"), QStringLiteral("reqlark"),
                          QStringLiteral("reqlark.ini")}));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
