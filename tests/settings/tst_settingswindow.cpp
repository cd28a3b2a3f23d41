// The settings file and the header list file as the user meets them: the
// real main window is created on an executable path in a temporary folder,
// used, closed, and created again on the same path.

#include "app/untFrmMain.h"
#include "headers/HeaderList.h"
#include "results/LargeTextView.h"
#include "settings/SettingsStore.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"
#include "util/ProgramResources.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The picture as the indicator shows it (through a pixmap, like the window).
QImage globe(const char* name)
{
    return QPixmap(ProgramResources::pathOf(QLatin1String(name), QStringLiteral("BITMAP")))
        .toImage();
}

QImage shown(const QLabel* label)
{
    return label->pixmap().toImage();
}

QByteArray rowsOf(const HeaderList* list)
{
    QByteArray out;
    for (int i = 0; i < list->count(); ++i)
        out += "[" + list->name(i) + "|" + list->value(i) + "]";
    return out;
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void defaultsWithoutFile();
    void everythingSurvivesRestart();
    void badNumberStopsTheLoad_data();
    void badNumberStopsTheLoad();
    void rowsAddedAfterFailedLoadJoinTheFile();
    void positionOutsideListIsNoFailure();
    void useProxyFlag_data();
    void useProxyFlag();
    void maximizedCloseStoresDesignSize();
    void fontsRestored();
    void emptyListDeletesHeaderFile();
    void lineBreakInValueStaysOneRow();
    void unreadableHeaderFileKeepsSettings();
    void writeFailureAtCloseIsReportedAndWindowCloses();
    void tenMegabyteFilesLoadQuickly_data();
    void tenMegabyteFilesLoadQuickly();

private:
    TFrmMain* open();
    void closeWindow();
    QString ini() const { return m_dir.filePath(QStringLiteral("reqlark.ini")); }
    QString headers() const { return m_dir.filePath(QStringLiteral("Headers.dat")); }
    template <class T> T* c(const char* name) { return child<T>(m_win.get(), name); }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QDir m_dir;
    QString m_exe;
    ScriptedPrompter m_prompter;
    std::unique_ptr<TFrmMain> m_win;
};

void TestSettingsWindow::init()
{
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_dir = QDir(m_tmp->path());
    m_exe = m_dir.filePath(QStringLiteral("reqlark"));
}

void TestSettingsWindow::cleanup()
{
    m_win.reset();
    m_tmp.reset();
}

TFrmMain* TestSettingsWindow::open()
{
    m_win.reset();
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.executablePath = m_exe;
    m_win = std::make_unique<TFrmMain>(env);
    return m_win.get();
}

void TestSettingsWindow::closeWindow()
{
    m_win->close();
    m_win.reset();
}

void TestSettingsWindow::defaultsWithoutFile()
{
    TFrmMain* w = open();
    QCOMPARE(w->SettingsFilePath, ini());
    QCOMPARE(w->HeadersFilePath, headers());
    QVERIFY(!QFile::exists(ini())); // reading creates nothing
    QCOMPARE(w->size(), QSize(900, 700));
    QVERIFY(c<QLineEdit>("edtUrl")->text().isEmpty());
    QVERIFY(c<QLineEdit>("edtData")->text().isEmpty());
    QCOMPARE(c<QComboBox>("cbbMethod")->currentText(), QStringLiteral("GET"));
    QCOMPARE(c<QComboBox>("cbbComponent")->currentText(), QStringLiteral("ServerXMLHTTP"));
    QCOMPARE(c<QComboBox>("cbbResultType")->currentText(), QStringLiteral("HTML"));
    QCOMPARE(w->font().family(), QStringLiteral("微软雅黑"));
    QCOMPARE(w->font().pointSize(), 10);
    QCOMPARE(w->UiFontCharset, 134);
    const QFont html = c<LargeTextView>("mmoHtml")->font();
    QCOMPARE(html.family(), QStringLiteral("微软雅黑"));
    QCOMPARE(html.pointSize(), 10);
    QCOMPARE(w->HtmlFontCharset, 134);
    QCOMPARE(w->HtmlFontColor, QColor(Qt::black));
    QVERIFY(!c<QCheckBox>("chkUseProxy")->isChecked());
    QCOMPARE(shown(w->imgStaBar), globe("BMP_EARTHGY"));
    QVERIFY(w->ProxyAddress.isEmpty() && w->ProxyUserName.isEmpty());
    QCOMPARE(w->headerList()->count(), 0);
    QVERIFY(m_prompter.errors.isEmpty());

    // The first close creates the file with the window's state.
    closeWindow();
    QCOMPARE(readAll(ini()), QByteArray("[History]\r\nURL=\r\nPSData=\r\nMethod=0\r\n"
                                        "HttpComponent=0\r\nWindowWidth=900\r\n"
                                        "WindowHeight=700\r\n\r\n[Options]\r\nUseProxy=False\r\n"));
    QVERIFY(!QFile::exists(headers())); // an empty list writes no file
}

void TestSettingsWindow::everythingSurvivesRestart()
{
    // What users type that the reading rules would change, what the original
    // format would cut, and characters code page 936 lacks.
    const QString url = QStringLiteral("  http://例子.测试/路径?k=한국어😀&q=") +
                        QString(3000, QLatin1Char('u')) + QStringLiteral(" ");
    const QString data = QStringLiteral("\"a=1&b=Ж☃\"");

    TFrmMain* w = open();
    c<QLineEdit>("edtUrl")->setText(url);
    c<QLineEdit>("edtData")->setText(data);
    c<QComboBox>("cbbMethod")->setCurrentIndex(1);
    c<QComboBox>("cbbComponent")->setCurrentIndex(2);
    c<QComboBox>("cbbResultType")->setCurrentIndex(1);
    c<QCheckBox>("chkUseProxy")->setChecked(true);
    w->resize(1013, 655);
    w->headerList()->append("User-Agent", "rq/1.0");
    w->headerList()->append("Accept", "*/*");
    w->headerList()->append("cookie", "sid=a=b; x=1");
    w->headerList()->append(" Padded ", " value ");
    w->headerList()->append("X-Name", AnsiCodec::fromUnicode(QStringLiteral("김철수")));
    closeWindow();
    QVERIFY(m_prompter.errors.isEmpty());

    const QByteArray file = readAll(ini());
    for (const char* line : {"Method=1\r\n", "HttpComponent=2\r\n", "WindowWidth=1013\r\n",
                             "WindowHeight=655\r\n", "UseProxy=True\r\n"})
        QVERIFY2(file.contains(line), line);
    QVERIFY(file.contains("PSData=\"\"a=1&b=\xA7\xA8\x81\x37\xA3\x30\"\"\r\n"));
    QCOMPARE(
        readAll(headers()),
        QByteArray(
            " Padded = value \r\nAccept=*/*\r\ncookie=sid=a=b; x=1\r\n"
            "User-Agent=rq/1.0\r\nX-Name=\x82\x38\x8B\x31\x83\x34\xA0\x37\x83\x32\x8F\x31\r\n"));

    w = open();
    QCOMPARE(c<QLineEdit>("edtUrl")->text(), url);
    QCOMPARE(c<QLineEdit>("edtData")->text(), data);
    QCOMPARE(c<QComboBox>("cbbMethod")->currentIndex(), 1);
    QCOMPARE(c<QComboBox>("cbbComponent")->currentIndex(), 2);
    QCOMPARE(c<QComboBox>("cbbResultType")->currentIndex(), 0); // never stored
    QVERIFY(c<QCheckBox>("chkUseProxy")->isChecked());
    QCOMPARE(shown(w->imgStaBar), globe("BMP_EARTHGN"));
    QCOMPARE(w->size(), QSize(1013, 655));
    QCOMPARE(rowsOf(w->headerList()),
             QByteArray("[ Padded | value ][Accept|*/*]"
                        "[cookie|sid=a=b; x=1][User-Agent|rq/1.0]"
                        "[X-Name|\x82\x38\x8B\x31\x83\x34\xA0\x37\x83\x32\x8F\x31]"));
}

void TestSettingsWindow::badNumberStopsTheLoad_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("listsApplied");
    QTest::addColumn<bool>("sizeApplied");
    QTest::addColumn<bool>("faceApplied");
    QTest::newRow("Method x") << QByteArray("Method") << QByteArray("x") << false << false << false;
    QTest::newRow("WindowWidth abc")
        << QByteArray("WindowWidth") << QByteArray("abc") << true << false << false;
    // The face is read, and shown, before the size that fails.
    QTest::newRow("Fontsize 10.5")
        << QByteArray("Fontsize") << QByteArray("10.5") << true << true << true;
    QTest::newRow("HTMLFontColor red")
        << QByteArray("HTMLFontColor") << QByteArray("red") << true << true << true;
}

void TestSettingsWindow::badNumberStopsTheLoad()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(bool, listsApplied);
    QFETCH(bool, sizeApplied);
    QFETCH(bool, faceApplied);

    QByteArray file = "[History]\r\nURL=http://h/\r\nPSData=d=1\r\nMethod=1\r\nHttpComponent=2\r\n"
                      "WindowWidth=1000\r\nWindowHeight=600\r\n"
                      "[Options]\r\nFontName=DejaVu Sans\r\nFontsize=14\r\nFontChartset=0\r\n"
                      "HTMLFontColor=255\r\nUseProxy=True\r\nProxyServer=10.0.0.1\r\n";
    file.replace(key + "=", key + "=" + value + "\r\nX" + key + "=");
    writeAll(ini(), file);
    const QByteArray headerFile = "X-Kept=1\r\nX-Too=2\r\n";
    writeAll(headers(), headerFile);

    TFrmMain* w = open();
    QVERIFY(!QFile::exists(ini()));
    QVERIFY(m_prompter.errors.isEmpty()); // no message at start
    QCOMPARE(c<QLineEdit>("edtUrl")->text(), QStringLiteral("http://h/"));
    QCOMPARE(c<QLineEdit>("edtData")->text(), QStringLiteral("d=1"));
    QCOMPARE(c<QComboBox>("cbbMethod")->currentIndex(), listsApplied ? 1 : -1);
    QCOMPARE(c<QComboBox>("cbbComponent")->currentIndex(), listsApplied ? 2 : -1);
    QCOMPARE(w->size(), sizeApplied ? QSize(1000, 600) : QSize(900, 700));
    QCOMPARE(w->font().family(),
             faceApplied ? QStringLiteral("DejaVu Sans") : QStringLiteral("微软雅黑"));
    QCOMPARE(w->font().pointSize(), sizeApplied && key != "Fontsize" ? 14 : 10);
    // Everything after the failing key keeps its designed state.
    QCOMPARE(c<QComboBox>("cbbResultType")->currentIndex(), -1);
    QVERIFY(!c<QCheckBox>("chkUseProxy")->isChecked());
    QCOMPARE(shown(w->imgStaBar), globe("BMP_EARTHGY"));
    QVERIFY(w->ProxyAddress.isEmpty());
    QCOMPARE(w->headerList()->count(), 0);

    // The close writes a fresh file from the window and leaves the header
    // list file, which was never read, as it was.
    closeWindow();
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(readAll(ini()).contains("URL=http://h/\r\n"));
    QCOMPARE(readAll(headers()), headerFile);
    w = open();
    QCOMPARE(w->headerList()->count(), 2);
}

void TestSettingsWindow::rowsAddedAfterFailedLoadJoinTheFile()
{
    writeAll(ini(), "[History]\r\nMethod=x\r\n");
    writeAll(headers(), "X-Old=1\r\nB=2\r\n");
    TFrmMain* w = open();
    QCOMPARE(w->headerList()->count(), 0);
    w->headerList()->append("A-New", "3");
    w->headerList()->append("x-old", "1"); // equal to a line of the file
    closeWindow();
    QCOMPARE(readAll(headers()), QByteArray("A-New=3\r\nB=2\r\nX-Old=1\r\n"));
}

void TestSettingsWindow::positionOutsideListIsNoFailure()
{
    writeAll(ini(), "[History]\r\nMethod=7\r\nHttpComponent=-1\r\nWindowWidth=950\r\n");
    TFrmMain* w = open();
    QVERIFY(QFile::exists(ini()));
    QCOMPARE(c<QComboBox>("cbbMethod")->currentIndex(), -1);
    QCOMPARE(c<QComboBox>("cbbComponent")->currentIndex(), -1);
    QCOMPARE(w->width(), 950);
    QCOMPARE(c<QComboBox>("cbbResultType")->currentIndex(), 0);
    closeWindow();
    QVERIFY(readAll(ini()).contains("Method=-1\r\nHttpComponent=-1\r\n"));
}

void TestSettingsWindow::useProxyFlag_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("TRUE") << QByteArray("TRUE") << true;
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("True") << QByteArray("True") << true;
    QTest::newRow("quoted, blanks") << QByteArray(" \"tRuE\" ") << true;
    QTest::newRow("1") << QByteArray("1") << false;
    QTest::newRow("yes") << QByteArray("yes") << false;
    QTest::newRow("False") << QByteArray("False") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("true!") << QByteArray("true!") << false;
}

void TestSettingsWindow::useProxyFlag()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, ticked);
    writeAll(ini(), "[Options]\r\nUseProxy=" + stored + "\r\n");
    TFrmMain* w = open();
    QCOMPARE(c<QCheckBox>("chkUseProxy")->isChecked(), ticked);
    QCOMPARE(shown(w->imgStaBar), globe(ticked ? "BMP_EARTHGN" : "BMP_EARTHGY"));
    // What a screen reader says of the globe.
    QCOMPARE(w->imgStaBar->accessibleName(),
             ticked ? QStringLiteral("正在使用代理") : QStringLiteral("未使用代理"));
    closeWindow();
    QVERIFY(readAll(ini()).contains(ticked ? "UseProxy=True\r\n" : "UseProxy=False\r\n"));
}

void TestSettingsWindow::maximizedCloseStoresDesignSize()
{
    TFrmMain* w = open();
    w->resize(640, 480);
    w->showMaximized();
    QTRY_VERIFY(w->isMaximized());
    closeWindow();
    QVERIFY(readAll(ini()).contains("WindowWidth=900\r\nWindowHeight=700\r\n"));
    w = open();
    QCOMPARE(w->size(), QSize(900, 700));
    QVERIFY(!w->isMaximized());
}

void TestSettingsWindow::fontsRestored()
{
    writeAll(ini(), "[Options]\r\nFontName=DejaVu Serif\r\nFontsize=13\r\nFontChartset=0\r\n"
                    "HTMLFontName=DejaVu Sans Mono\r\nHTMLFontsize=12\r\n"
                    "HTMLFontColor=255\r\nHTMLFontChartset=1\r\n");
    TFrmMain* w = open();
    QCOMPARE(w->font().family(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(w->font().pointSize(), 13);
    QCOMPARE(w->UiFontCharset, 0);
    QCOMPARE(c<QLineEdit>("edtUrl")->font().family(), QStringLiteral("DejaVu Serif"));
    const QFont html = c<LargeTextView>("mmoHtml")->font();
    QCOMPARE(html.family(), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(html.pointSize(), 12);
    QCOMPARE(w->HtmlFontColor, QColor(255, 0, 0));
    QCOMPARE(w->HtmlFontCharset, 1);
    // Blue is the third byte of the stored number.
    closeWindow();
    writeAll(ini(), "[Options]\r\nHTMLFontColor=16711680\r\n");
    w = open();
    QCOMPARE(w->HtmlFontColor, QColor(0, 0, 255));
}

void TestSettingsWindow::emptyListDeletesHeaderFile()
{
    writeAll(headers(), "A=1\r\n");
    TFrmMain* w = open();
    QCOMPARE(w->headerList()->count(), 1);
    w->headerList()->clear();
    closeWindow();
    QVERIFY(!QFile::exists(headers()));
    QCOMPARE(open()->headerList()->count(), 0);
}

void TestSettingsWindow::lineBreakInValueStaysOneRow()
{
    TFrmMain* w = open();
    w->headerList()->append("X-Note", "first line\r\nsecond line");
    w->headerList()->append("Y", "1");
    closeWindow();
    QCOMPARE(readAll(headers()), QByteArray("X-Note=first line second line\r\nY=1\r\n"));
    w = open();
    QCOMPARE(rowsOf(w->headerList()), QByteArray("[X-Note|first line second line][Y|1]"));
}

void TestSettingsWindow::unreadableHeaderFileKeepsSettings()
{
    // A folder stands where the header list file should be.
    QVERIFY(m_dir.mkdir(QStringLiteral("Headers.dat")));
    writeAll(ini(), "[History]\r\nURL=http://kept/\r\n[Options]\r\nProxyServer=10.0.0.9\r\n");
    TFrmMain* w = open();
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(QFile::exists(ini())); // the settings themselves were sound
    QCOMPARE(w->ProxyAddress, QByteArray("10.0.0.9:80"));
    QCOMPARE(w->headerList()->count(), 0);
    closeWindow();
    QVERIFY(m_prompter.errors.isEmpty()); // nothing to save, nothing touched
    QVERIFY(readAll(ini()).contains("ProxyServer=10.0.0.9"));

    // Rows added in such a run cannot join a file that cannot be read: the
    // user is told, and nothing is replaced.
    w = open();
    w->headerList()->append("A", "1");
    closeWindow();
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors[0].startsWith(QStringLiteral("无法打开文件“") + headers()),
             qPrintable(m_prompter.errors[0]));
    QVERIFY(QFileInfo(headers()).isDir());
}

void TestSettingsWindow::writeFailureAtCloseIsReportedAndWindowCloses()
{
    // The executable's folder cannot exist: its parent is a plain file, so
    // nothing can be written there, whoever runs the test.
    const QString blocker = m_dir.filePath(QStringLiteral("plainfile"));
    writeAll(blocker, "x");
    m_exe = blocker + QStringLiteral("/bin/reqlark");
    TFrmMain* w = open();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->headerList()->append("A", "1");
    QVERIFY(w->close());
    QVERIFY(!w->isVisible());
    QCOMPARE(m_prompter.errors, QStringList{QStringLiteral("Unable to write to ") + blocker +
                                            QStringLiteral("/bin/reqlark.ini.")});
}

void TestSettingsWindow::tenMegabyteFilesLoadQuickly_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("kind");
    QTest::newRow("settings, binary junk") << QByteArray("settings") << QByteArray("junk");
    QTest::newRow("settings, one line") << QByteArray("settings") << QByteArray("one line");
    QTest::newRow("headers, short lines") << QByteArray("headers") << QByteArray("short");
    QTest::newRow("headers, 2 MB lines") << QByteArray("headers") << QByteArray("long");
    QTest::newRow("headers, binary junk") << QByteArray("headers") << QByteArray("junk");
}

void TestSettingsWindow::tenMegabyteFilesLoadQuickly()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, kind);
    const qsizetype size = 10 * 1024 * 1024;
    QByteArray bytes(size, 'h');
    if (kind == "junk") {
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char((i * 7919) % 251);
    } else if (kind == "short") { // 262144 rows of 40 bytes
        for (qsizetype i = 38; i < size; i += 40) {
            bytes[i] = '\r';
            bytes[i + 1] = '\n';
            bytes[i - 30] = '=';
        }
    } else if (kind == "long") {
        for (qsizetype i = 2 * 1024 * 1024 - 1; i < size; i += 2 * 1024 * 1024)
            bytes[i] = '\n';
    }
    if (file == "settings") {
        writeAll(ini(), bytes + "\r\n[History]\r\nWindowWidth=1001\r\n");
    } else {
        writeAll(ini(), "[History]\r\nWindowWidth=1001\r\n");
        writeAll(headers(), bytes);
    }

    QElapsedTimer timer;
    timer.start();
    TFrmMain* w = open();
    const qint64 loaded = timer.elapsed();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const qint64 shown = timer.elapsed();
    qInfo("window created in %lld ms, shown in %lld ms, %d rows", loaded, shown,
          w->headerList()->count());
    QCOMPARE(w->width(), 1001);
    if (file == "headers") {
        QVERIFY(w->headerList()->count() > 0);
        QVERIFY(QFile::exists(ini()));
    }
    // Shown, not only loaded: a cell laying out megabytes would freeze the
    // first paint.
    QVERIFY2(shown < quickBoundMs(1000), qPrintable(QString::number(shown)));
}

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
