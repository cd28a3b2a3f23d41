// The main window of an installed copy with its files in the user's
// configuration folder.

#include "app/untFrmMain.h"
#include "headers/HeaderList.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestConfigWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void installedCopyKeepsItsFilesInTheConfigFolder();
    void configFolderThatCannotBeMadeIsReported();

private:
    TFrmMain* open();
    QString path(const QString& relative) const { return m_tmp->filePath(relative); }
    QStringList besideExecutable() const
    {
        return QDir(path(QStringLiteral("prefix/bin"))).entryList(QDir::Files | QDir::Hidden);
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QByteArray m_oldConfigHome;
    ScriptedPrompter m_prompter;
    std::unique_ptr<TFrmMain> m_win;
};

void TestConfigWindow::init()
{
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    // The layout an install into any prefix leaves: the program in bin, its
    // menu entry in share/applications.
    QVERIFY(QDir().mkpath(path(QStringLiteral("prefix/bin"))));
    QVERIFY(QDir().mkpath(path(QStringLiteral("prefix/share/applications"))));
    writeAll(path(QStringLiteral("prefix/share/applications/reqlark.desktop")),
             "[Desktop Entry]\n");
    m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("cfg"))));
}

void TestConfigWindow::cleanup()
{
    m_win.reset();
    qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
    m_tmp.reset();
}

TFrmMain* TestConfigWindow::open()
{
    m_win.reset();
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.executablePath = path(QStringLiteral("prefix/bin/reqlark"));
    m_win = std::make_unique<TFrmMain>(env);
    return m_win.get();
}

void TestConfigWindow::installedCopyKeepsItsFilesInTheConfigFolder()
{
    const QByteArray earlierIni = "[History]\r\nURL=http://old.example/\r\n";
    writeAll(path(QStringLiteral("prefix/bin/reqlark.ini")), earlierIni);
    writeAll(path(QStringLiteral("prefix/bin/Headers.dat")), "Accept=*/*\r\n");

    TFrmMain* w = open();
    QCOMPARE(child<QLineEdit>(w, "edtUrl")->text(), QStringLiteral("http://old.example/"));
    QCOMPARE(w->headerList()->count(), 1);
    QCOMPARE(w->headerList()->name(0), QByteArray("Accept"));

    child<QLineEdit>(w, "edtUrl")->setText(QStringLiteral("http://new.example/"));
    w->headerList()->append("X-New", "1");
    QVERIFY(w->close());
    m_win.reset();
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(readAll(path(QStringLiteral("cfg/reqlark/reqlark.ini")))
                .contains("URL=http://new.example/"));
    QVERIFY(readAll(path(QStringLiteral("cfg/reqlark/Headers.dat"))).contains("X-New=1"));
    // The earlier pair is left as it was, and nothing new joins it.
    QCOMPARE(readAll(path(QStringLiteral("prefix/bin/reqlark.ini"))), earlierIni);
    QCOMPARE(readAll(path(QStringLiteral("prefix/bin/Headers.dat"))), QByteArray("Accept=*/*\r\n"));
    QCOMPARE(besideExecutable(),
             (QStringList{QStringLiteral("Headers.dat"), QStringLiteral("reqlark.ini")}));

    // The next start reads the configuration folder, not the earlier pair.
    w = open();
    QCOMPARE(child<QLineEdit>(w, "edtUrl")->text(), QStringLiteral("http://new.example/"));
    QCOMPARE(w->headerList()->count(), 2);
}

void TestConfigWindow::configFolderThatCannotBeMadeIsReported()
{
    writeAll(path(QStringLiteral("plainfile")), "x");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("plainfile/cfg"))));
    const QString folder = path(QStringLiteral("plainfile/cfg/reqlark"));

    TFrmMain* w = open();
    QCOMPARE(m_prompter.errors, QStringList{QStringLiteral("无法创建文件夹 %1：%2 不是文件夹.")
                                                .arg(folder, path(QStringLiteral("plainfile")))});
    child<QLineEdit>(w, "edtUrl")->setText(QStringLiteral("http://kept.example/"));
    QVERIFY(w->close());
    QCOMPARE(m_prompter.errors.size(), 2);
    QCOMPARE(m_prompter.errors[1],
             QStringLiteral("Unable to write to %1/reqlark.ini.").arg(folder));
    // Never written around into the executable's folder.
    QVERIFY(besideExecutable().isEmpty());
}

QTEST_MAIN(TestConfigWindow)
#include "tst_configwindow.moc"
