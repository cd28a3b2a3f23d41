// One window per settings folder: the built program, started as a portable
// copy in a folder this test holds with the program's own guard, asks the
// test's window to the front and ends; on another folder, or over a lock whose
// process is gone, it starts as usual.

#include "app/SingleInstance.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void secondStart_data();
    void secondStart();
};

void TestSingleInstance::secondStart_data()
{
    QTest::addColumn<QString>("held");    // "window", "stale lock" or "" (nothing)
    QTest::addColumn<bool>("sameFolder"); // the second start's folder is the held one
    QTest::addColumn<bool>("ends");       // the second start ends by itself
    QTest::newRow("same folder: raises the window and ends") << "window" << true << true;
    QTest::newRow("another folder: starts") << "window" << false << false;
    QTest::newRow("lock of a process that is gone: starts") << "stale lock" << true << false;
}

void TestSingleInstance::secondStart()
{
    QFETCH(QString, held);
    QFETCH(bool, sameFolder);
    QFETCH(bool, ends);
    QTemporaryDir first;
    QTemporaryDir other;
    QWidget window;
    SingleInstance guard(first.path());
    QSignalSpy raised(&guard, &SingleInstance::raiseRequested);
    if (held == QLatin1String("window")) {
        QCOMPARE(guard.claim(), SingleInstance::Outcome::First);
        guard.setWindow(&window);
    } else {
        // What a crashed process leaves: a lock naming a process that is gone.
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId(); // 0 once it has ended
        QVERIFY(gone.waitForFinished());
        writeAll(SingleInstance::lockPathFor(first.path()),
                 QByteArray::number(pid) + "\nreqlark\n" + QSysInfo::machineHostName().toUtf8() +
                     "\n");
    }

    const QString folder = sameFolder ? first.path() : other.path();
    const QString exe = QDir(folder).filePath(QStringLiteral("reqlark"));
    QVERIFY(QFile::copy(QStringLiteral(REQLARK_EXECUTABLE), exe));
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    second.start(exe, {});
    QVERIFY(second.waitForStarted());
    if (ends) {
        // Answered by the event loop of this process, which runs meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(raised.size(), 1);
        QVERIFY(window.isVisible());
    } else {
        // It holds its folder now: its own lock, held by a live process.
        QLockFile lock(SingleInstance::lockPathFor(folder));
        QTRY_VERIFY_WITH_TIMEOUT(!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError,
                                 10000);
        QVERIFY(second.state() == QProcess::Running);
        QCOMPARE(raised.size(), 0);
        second.kill();
        second.waitForFinished();
    }
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
