// Faults injected under the real main window: a disk that fills up during the
// download and the settings writes (a file size limit), a server that drops
// the connection mid-body, a body larger than the memory allowed. Each must
// end in its error box and leave the earlier files as they were.

#include "app/untFrmMain.h"
#include "headers/HeaderList.h"
#include "results/LargeTextView.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void diskFullDuringDownload();
    void diskFullWhenSettingsAreSaved();
    void dropMidBodyKeepsPreviousResponse();
    void bodyLargerThanAllowedMemory();

private:
    std::unique_ptr<TFrmMain> window(qint64 maxBodyBytes = qint64(2) << 30);
    QStringList files() const { return QDir(m_tmp->path()).entryList(QDir::Files); }
    void clickSend(TFrmMain* w)
    {
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("btnSendReqest")),
                          Qt::LeftButton);
    }
    void setUrl(TFrmMain* w, const QByteArray& url)
    {
        w->findChild<QLineEdit*>(QStringLiteral("edtUrl"))->setText(QString::fromLatin1(url));
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<LoopbackServer> m_server;
    ScriptedPrompter m_prompter;
};

void TestFaults::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<LoopbackServer>();
    m_prompter = ScriptedPrompter();
}

void TestFaults::cleanup()
{
    m_server.reset();
    m_tmp.reset();
}

std::unique_ptr<TFrmMain> TestFaults::window(qint64 maxBodyBytes)
{
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.executablePath = m_tmp->filePath(QStringLiteral("reqlark"));
    env.http.idleTimeoutMs = 3000;
    env.http.maxBodyBytes = maxBodyBytes;
    auto w = std::make_unique<TFrmMain>(env);
    w->show();
    return w;
}

void TestFaults::diskFullDuringDownload()
{
    auto w = window();
    const QString target = m_tmp->filePath(QStringLiteral("body.bin"));
    writeAll(target, "the earlier download");
    m_server->route("/big", ScriptedResponse::patternBody(4 * 1024 * 1024));
    setUrl(w.get(), m_server->url("/big"));
    m_prompter.saveAnswers.enqueue(target);
    {
        FileSizeLimit limit(512 * 1024);
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("btnSaveToFile")),
                          Qt::LeftButton);
    }
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors.first().contains(QStringLiteral("无法写入文件")) &&
                 m_prompter.errors.first().contains(target),
             qPrintable(m_prompter.errors.first()));
    QCOMPARE(readAll(target), QByteArray("the earlier download"));
    QCOMPARE(files(), QStringList{QStringLiteral("body.bin")}); // no temporary file left
    QVERIFY(w->SaveTargetPath.isEmpty());

    // With room again the same download goes through whole.
    m_prompter.saveAnswers.enqueue(target);
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("btnSaveToFile")), Qt::LeftButton);
    QCOMPARE(m_prompter.errors.size(), 1);
    QCOMPARE(readAll(target), LoopbackServer::patternBytes(0, 4 * 1024 * 1024));
}

void TestFaults::diskFullWhenSettingsAreSaved()
{
    const QString ini = m_tmp->filePath(QStringLiteral("reqlark.ini"));
    const QString dat = m_tmp->filePath(QStringLiteral("Headers.dat"));
    {
        auto w = window();
        setUrl(w.get(), "http://first.example/");
        w->headerList()->append("Accept", "text/html");
        w->close();
    }
    QVERIFY(m_prompter.errors.isEmpty());
    const QByteArray savedIni = readAll(ini);
    const QByteArray savedDat = readAll(dat);
    QVERIFY(savedIni.contains("first.example"));
    QCOMPARE(savedDat, QByteArray("Accept=text/html\r\n"));

    {
        auto w = window();
        // Values long enough that the new files cannot fit under the limit.
        setUrl(w.get(), "http://second.example/" + QByteArray(64 * 1024, 'x'));
        w->headerList()->append("Cookie", QByteArray(64 * 1024, 'c'));
        FileSizeLimit limit(16 * 1024);
        w->close();
        QVERIFY(!w->isVisible()); // the window still closes
    }
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors.first().startsWith(QStringLiteral("Unable to write to")),
             qPrintable(m_prompter.errors.first()));
    QCOMPARE(readAll(ini), savedIni);
    QCOMPARE(readAll(dat), savedDat);
    QCOMPARE(files(), (QStringList{QStringLiteral("Headers.dat"), QStringLiteral("reqlark.ini")}));
}

void TestFaults::dropMidBodyKeepsPreviousResponse()
{
    auto w = window();
    m_server->route("/good", ScriptedResponse::ok("<p>first</p>"));
    ScriptedResponse cut;
    cut.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<p>sec").close();
    m_server->route("/cut", cut);
    setUrl(w.get(), m_server->url("/good"));
    clickSend(w.get());
    QCOMPARE(w->LastResponseText, QByteArray("<p>first</p>"));

    setUrl(w.get(), m_server->url("/cut"));
    clickSend(w.get());
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors.first().contains(QStringLiteral("在响应完整到达之前断开")),
             qPrintable(m_prompter.errors.first()));
    // Nothing of the cut body is taken for a response.
    QCOMPARE(w->LastResponseText, QByteArray("<p>first</p>"));
    QVERIFY(w->findChild<LargeTextView*>(QStringLiteral("mmoHtml"))->text().isEmpty());
    QVERIFY(w->panelText(3).isEmpty());
}

void TestFaults::bodyLargerThanAllowedMemory()
{
    auto w = window(1024 * 1024);
    m_server->route("/huge", ScriptedResponse::patternBody(3 * 1024 * 1024));
    setUrl(w.get(), m_server->url("/huge"));
    clickSend(w.get());
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors.first().contains(QStringLiteral("保存到文件")),
             qPrintable(m_prompter.errors.first()));
    QVERIFY(w->LastResponseText.isEmpty());

    // The download has no such limit.
    const QString target = m_tmp->filePath(QStringLiteral("huge.bin"));
    m_prompter.saveAnswers.enqueue(target);
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("btnSaveToFile")), Qt::LeftButton);
    QCOMPARE(m_prompter.errors.size(), 1);
    QCOMPARE(QFileInfo(target).size(), qint64(3 * 1024 * 1024));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
