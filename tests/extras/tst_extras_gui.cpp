// Quick input, fonts, help and About, driven through the real main window as
// a user drives it; prompts are answered by the scripted prompter.

#include "app/QtPrompter.h"
#include "app/Startup.h"
#include "app/untFrmMain.h"
#include "extras/VersionUnit.h"
#include "extras/untFrmAbout.h"
#include "extras/untFrmNote.h"
#include "results/LargeTextView.h"
#include "settings/SettingsStore.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs `action` on the first modal window other than `except` once it is up,
// so a test can look into a dialog that blocks in exec(). Gives up after 5 s.
void onNextModal(const std::function<void(QWidget*)>& action, QWidget* except = nullptr)
{
    auto* timer = new QTimer;
    const QDeadlineTimer deadline(5000);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if ((modal && modal != except) || deadline.hasExpired()) {
            timer->stop();
            timer->deleteLater();
            if (modal && modal != except)
                action(modal);
        }
    });
    timer->start(10);
}

} // namespace

class TestExtrasGui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void enterInUrlSends_data();
    void enterInUrlSends();
    void doubleClickPastes_data();
    void doubleClickPastes();
    void htmlMemoCopyAndFind();

    void htmlFontSurvivesRestart();
    void interfaceFontSparesOwnFontsAndDropsStyleAtRestart();
    void cancelledFontWritesNothing_data();
    void cancelledFontWritesNothing();
    void unwritableInstallFolder();
    void fontDialogOffersEffectsAndColour();
    void fontDialogOpensOnTheFaceInUse_data();
    void fontDialogOpensOnTheFaceInUse();
    void qtTextsInChineseOwnBoxesKeepTheirButtons();

    void helpWindow();
    void resourceTextForDisplay_data();
    void resourceTextForDisplay();
    void aboutBox();

private:
    // With `realDialogs` the window asks through the desktop's dialogs.
    void openWindow(const QString& executablePath, bool realDialogs = false);
    void sendFromUrl(const QByteArray& body);
    QByteArray settingsFileBytes() const;

    std::unique_ptr<QTemporaryDir> m_tmp;
    ScriptedPrompter m_prompter;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<TFrmMain> m_win;
    QString m_exe;
};

void TestExtrasGui::initTestCase()
{
    // As the program starts: Qt's own texts in Chinese.
    Startup::configureApplication();
}

void TestExtrasGui::init()
{
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<LoopbackServer>();
    m_exe = m_tmp->filePath(QStringLiteral("reqlark"));
    openWindow(m_exe);
}

void TestExtrasGui::cleanup()
{
    m_win.reset();
    m_server.reset();
    m_tmp.reset();
}

void TestExtrasGui::openWindow(const QString& executablePath, bool realDialogs)
{
    m_win.reset();
    TFrmMain::Environment env;
    env.prompter = realDialogs ? nullptr : &m_prompter;
    env.http.connectTimeoutMs = 3000;
    env.http.idleTimeoutMs = 3000;
    env.executablePath = executablePath;
    m_win = std::make_unique<TFrmMain>(env);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win.get()));
}

void TestExtrasGui::sendFromUrl(const QByteArray& body)
{
    m_server->enqueue(ScriptedResponse::ok(body));
    auto* url = child<QLineEdit>(m_win.get(), "edtUrl");
    url->setText(QString::fromLatin1(m_server->url("/page")));
    QTest::keyClick(url, Qt::Key_Return);
}

QByteArray TestExtrasGui::settingsFileBytes() const
{
    QFile file(m_win->SettingsFilePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

void TestExtrasGui::enterInUrlSends_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("sends");
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
    QTest::newRow("Shift+Enter") << int(Qt::Key_Return) << int(Qt::ShiftModifier) << true;
    QTest::newRow("Ctrl+Enter") << int(Qt::Key_Return) << int(Qt::ControlModifier) << true;
    QTest::newRow("Alt+Enter") << int(Qt::Key_Return) << int(Qt::AltModifier) << true;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
    QTest::newRow("a letter") << int(Qt::Key_A) << int(Qt::NoModifier) << false;
}

void TestExtrasGui::enterInUrlSends()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, sends);
    m_server->enqueue(ScriptedResponse::ok("<p>sent</p>"));
    auto* url = child<QLineEdit>(m_win.get(), "edtUrl");
    url->setText(QString::fromLatin1(m_server->url("/enter")));
    url->setFocus();
    QTest::keyClick(url, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_server->requestCount(), sends ? 1 : 0);
    const QString memo = child<LargeTextView>(m_win.get(), "mmoHtml")->text();
    QCOMPARE(memo, sends ? QStringLiteral("<p>sent</p>") : QString());
    if (sends)
        QCOMPARE(m_server->lastRequest().path(), QByteArray("/enter"));
}

void TestExtrasGui::doubleClickPastes_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("URL from clipboard")
        << QByteArray("edtUrl") << QStringLiteral("http://127.0.0.1:1/x");
    QTest::newRow("URL, clipboard without text") << QByteArray("edtUrl") << QString();
    QTest::newRow("data, blanks kept") << QByteArray("edtData") << QStringLiteral(" a=1&b=中文 ");
}

void TestExtrasGui::doubleClickPastes()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, clipboard);
    auto* edit = child<QLineEdit>(m_win.get(), field.constData());
    edit->setText(QStringLiteral("old text that must go"));
    m_prompter.clipboard = clipboard;
    QTest::mouseDClick(edit, Qt::LeftButton, Qt::NoModifier, edit->rect().center());
    QCOMPARE(edit->text(), clipboard);
    QCOMPARE(m_server->requestCount(), 0); // pasting never sends
}

void TestExtrasGui::htmlMemoCopyAndFind()
{
    sendFromUrl("Alpha beta ALPHA alpha\n<p>second</p>");
    auto* memo = child<LargeTextView>(m_win.get(), "mmoHtml");
    QTest::mouseDClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QCOMPARE(m_prompter.clipboard, QStringLiteral("Alpha beta ALPHA alpha\n<p>second</p>"));

    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_F, Qt::ControlModifier);
    auto* dialog = m_win->findChild<QDialog*>(QStringLiteral("FindDialog1"));
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    auto* matchCase = child<QCheckBox>(dialog, "chkMatchCase");
    QVERIFY(matchCase->isChecked());
    QVERIFY(child<QRadioButton>(dialog, "rbDown")->isChecked());

    // Down, case matched: only the last word fits.
    child<QLineEdit>(dialog, "edtFindText")->setText(QStringLiteral("alpha"));
    QTest::mouseClick(child<QPushButton>(dialog, "btnFindNext"), Qt::LeftButton);
    QCOMPARE(memo->selectionStart(), 17);
    QCOMPARE(memo->selectedText(), QStringLiteral("alpha"));
    QVERIFY(m_prompter.messages.isEmpty());
    QTest::keyClick(memo, Qt::Key_F3);
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("找不到“alpha”")});

    // Case ignored, from the start: F3 walks every match, Shift+F3 goes back.
    matchCase->setChecked(false);
    memo->setSelection(0, 0);
    QTest::keyClick(memo, Qt::Key_F3);
    QCOMPARE(memo->selectionStart(), 0);
    QTest::keyClick(memo, Qt::Key_F3);
    QCOMPARE(memo->selectionStart(), 11);
    QCOMPARE(memo->selectedText(), QStringLiteral("ALPHA"));
    QTest::keyClick(memo, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(memo->selectionStart(), 0);
    QCOMPARE(m_prompter.messages.size(), 1);
}

void TestExtrasGui::htmlFontSurvivesRestart()
{
    auto* memo = child<LargeTextView>(m_win.get(), "mmoHtml");
    const QFont windowFont = m_win->font();
    const QFont memoBefore = memo->font();
    QFont chosen(QStringLiteral("WenQuanYi Micro Hei"), 12);
    m_prompter.fontAnswers.enqueue(Prompter::FontChoice{chosen, QColor(255, 0, 0)});
    m_win->findChild<QAction*>(QStringLiteral("mniFontHTML"))->trigger();

    // The dialog was preset with the memo's own font and black.
    QCOMPARE(m_prompter.fontRequests.size(), 1);
    QCOMPARE(m_prompter.fontRequests[0].font, memoBefore);
    QCOMPARE(m_prompter.fontRequests[0].color, QColor(Qt::black));
    QCOMPARE(memo->font().pointSize(), 12);
    QCOMPARE(memo->palette().color(QPalette::Text), QColor(255, 0, 0));
    QCOMPARE(m_win->font(), windowFont); // the window keeps its font

    // Written at once, not at close.
    const SettingsStore ini(m_win->SettingsFilePath);
    QCOMPARE(ini.readString("Options", "HTMLFontName"), QByteArray("WenQuanYi Micro Hei"));
    QCOMPARE(ini.readString("Options", "HTMLFontsize"), QByteArray("12"));
    QCOMPARE(ini.readString("Options", "HTMLFontColor"), QByteArray("255"));
    QCOMPARE(ini.readString("Options", "HTMLFontChartset"), QByteArray("134"));
    QCOMPARE(ini.readString("Options", "FontName", "<none>"), QByteArray("<none>"));

    openWindow(m_exe);
    memo = child<LargeTextView>(m_win.get(), "mmoHtml");
    QCOMPARE(memo->font().pointSize(), 12);
    QCOMPARE(memo->font().family(), QStringLiteral("WenQuanYi Micro Hei"));
    QCOMPARE(memo->palette().color(QPalette::Text), QColor(255, 0, 0));
    QCOMPARE(m_win->HtmlFontColor, QColor(255, 0, 0));
}

void TestExtrasGui::interfaceFontSparesOwnFontsAndDropsStyleAtRestart()
{
    auto* memo = child<LargeTextView>(m_win.get(), "mmoHtml");
    auto* proxy = child<QCheckBox>(m_win.get(), "chkUseProxy");
    auto* cookie = child<QCheckBox>(m_win.get(), "chkGetRespCookie");
    auto* url = child<QLineEdit>(m_win.get(), "edtUrl");
    const QFont memoFont = memo->font();
    const QFont boxFont = proxy->font();

    QFont chosen(QStringLiteral("WenQuanYi Micro Hei"), 13);
    chosen.setBold(true);
    chosen.setItalic(true);
    m_prompter.fontAnswers.enqueue(Prompter::FontChoice{chosen, QColor(0, 0, 200)});
    m_win->findChild<QAction*>(QStringLiteral("mniFontUI"))->trigger();

    QVERIFY(m_win->font().bold());
    QVERIFY(url->font().bold());
    QCOMPARE(url->font().pointSize(), 13);
    QCOMPARE(child<QLabel>(m_win.get(), "lblUrl")->palette().color(QPalette::WindowText),
             QColor(0, 0, 200));
    for (QCheckBox* box : {proxy, cookie}) {
        QVERIFY(!box->font().bold());
        QVERIFY(!box->font().italic());
        QCOMPARE(box->font().pointSize(), boxFont.pointSize());
        QVERIFY(box->palette().color(QPalette::WindowText) != QColor(0, 0, 200));
    }
    QVERIFY(!memo->font().bold());
    QCOMPARE(memo->font().pointSize(), memoFont.pointSize());

    const SettingsStore ini(m_win->SettingsFilePath);
    QCOMPARE(ini.readString("Options", "FontName"), QByteArray("WenQuanYi Micro Hei"));
    QCOMPARE(ini.readString("Options", "Fontsize"), QByteArray("13"));
    QCOMPARE(ini.readString("Options", "FontChartset"), QByteArray("134"));
    QCOMPARE(ini.readString("Options", "HTMLFontsize", "<none>"), QByteArray("<none>"));

    openWindow(m_exe);
    QCOMPARE(m_win->font().pointSize(), 13);
    QCOMPARE(m_win->font().family(), QStringLiteral("WenQuanYi Micro Hei"));
    QVERIFY(!m_win->font().bold());
    QVERIFY(!m_win->font().italic());
}

void TestExtrasGui::cancelledFontWritesNothing_data()
{
    QTest::addColumn<QByteArray>("menu");
    QTest::newRow("interface font") << QByteArray("mniFontUI");
    QTest::newRow("HTML memo font") << QByteArray("mniFontHTML");
}

void TestExtrasGui::cancelledFontWritesNothing()
{
    QFETCH(QByteArray, menu);
    // A settings file with content of its own, which must stay byte for byte.
    SettingsStore(m_win->SettingsFilePath).writeString("History", "URL", "http://keep/");
    const QByteArray before = settingsFileBytes();
    const QFont windowFont = m_win->font();
    const QFont memoFont = child<LargeTextView>(m_win.get(), "mmoHtml")->font();

    m_prompter.fontAnswers.enqueue(std::nullopt);
    m_win->findChild<QAction*>(QLatin1String(menu))->trigger();
    QCOMPARE(m_prompter.fontRequests.size(), 1);
    QCOMPARE(settingsFileBytes(), before);
    QCOMPARE(m_win->font(), windowFont);
    QCOMPARE(child<LargeTextView>(m_win.get(), "mmoHtml")->font(), memoFont);
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestExtrasGui::unwritableInstallFolder()
{
    // An installed copy whose folder cannot be written to: here the folder's
    // parent is a regular file, so nothing can ever be created in it (root
    // included).
    QFile blocker(m_tmp->filePath(QStringLiteral("not-a-folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString exe = blocker.fileName() + QStringLiteral("/bin/reqlark");
    openWindow(exe);
    QVERIFY(m_prompter.errors.isEmpty()); // starts without a word

    // It works: a request goes out and its answer is shown.
    sendFromUrl("still works");
    QCOMPARE(child<LargeTextView>(m_win.get(), "mmoHtml")->text(), QStringLiteral("still works"));

    // A font command applies the font and reports the failed write.
    m_prompter.fontAnswers.enqueue(
        Prompter::FontChoice{QFont(QStringLiteral("WenQuanYi Micro Hei"), 14), Qt::black});
    m_win->findChild<QAction*>(QStringLiteral("mniFontHTML"))->trigger();
    QCOMPARE(child<LargeTextView>(m_win.get(), "mmoHtml")->font().pointSize(), 14);
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors[0].startsWith(QStringLiteral("Unable to write to ")),
             qPrintable(m_prompter.errors[0]));
    QVERIFY(m_prompter.errors[0].contains(m_win->SettingsFilePath));

    // Closing reports the failed write once more and still closes.
    QVERIFY(m_win->close());
    QVERIFY(!m_win->isVisible());
    QCOMPARE(m_prompter.errors.size(), 2);
    QVERIFY(m_prompter.errors[1].startsWith(QStringLiteral("Unable to write to ")));
}

void TestExtrasGui::fontDialogOffersEffectsAndColour()
{
    QWidget owner;
    QtPrompter prompter(&owner);
    QFont initial(QStringLiteral("WenQuanYi Micro Hei"), 11);
    initial.setUnderline(true);
    initial.setStrikeOut(true);

    // Cancel gives nothing.
    onNextModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    QVERIFY(!prompter.askFont({initial, Qt::black}));

    // Confirm: the preset effects come back, the size and the colour as chosen.
    QFont presented;
    onNextModal([&](QWidget* dialog) {
        auto* fonts = dialog->findChild<QFontDialog*>();
        QVERIFY(fonts);
        presented = fonts->currentFont();
        QFont bigger = presented;
        bigger.setPointSize(16);
        fonts->setCurrentFont(bigger);
        onNextModal(
            [](QWidget* colours) {
                auto* picker = qobject_cast<QColorDialog*>(colours);
                QVERIFY(picker);
                picker->setCurrentColor(QColor(0, 160, 0));
                picker->accept();
            },
            dialog);
        QTest::mouseClick(child<QPushButton>(dialog, "btnFontColor"), Qt::LeftButton);
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    const std::optional<Prompter::FontChoice> choice = prompter.askFont({initial, Qt::black});
    QVERIFY(presented.underline());
    QVERIFY(presented.strikeOut());
    QCOMPARE(presented.pointSize(), 11);
    QVERIFY(choice);
    QCOMPARE(choice->font.pointSize(), 16);
    QVERIFY(choice->font.underline());
    QVERIFY(choice->font.strikeOut());
    QCOMPARE(choice->color, QColor(0, 160, 0));
}

void TestExtrasGui::fontDialogOpensOnTheFaceInUse_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("pick"); // picked in one of the dialog's lists, if anything
    QTest::addColumn<QString>("storedFace");
    QTest::addColumn<int>("storedSize");
    const QString face = QStringLiteral("微软雅黑");
    QTest::newRow("interface, OK alone") << QStringLiteral("mniFontUI") << QString() << face << 10;
    QTest::newRow("interface, 14 pt")
        << QStringLiteral("mniFontUI") << QStringLiteral("14") << face << 14;
    QTest::newRow("HTML memo, OK alone")
        << QStringLiteral("mniFontHTML") << QString() << face << 10;
    QTest::newRow("HTML memo, a face")
        << QStringLiteral("mniFontHTML") << QStringLiteral("DejaVu Sans")
        << QStringLiteral("DejaVu Sans") << 10;
}

void TestExtrasGui::fontDialogOpensOnTheFaceInUse()
{
    QFETCH(QString, menu);
    QFETCH(QString, pick);
    QFETCH(QString, storedFace);
    QFETCH(int, storedSize);
    openWindow(m_exe, true);
    auto* memo = child<LargeTextView>(m_win.get(), "mmoHtml");
    const bool html = menu == QLatin1String("mniFontHTML");
    const QFont before = html ? memo->font() : m_win->font();
    const QFont other = html ? m_win->font() : memo->font();
    QFont shown;
    QString sample;
    onNextModal([&](QWidget* dialog) {
        auto* fonts = dialog->findChild<QFontDialog*>();
        shown = fonts->currentFont();
        sample = child<QLineEdit>(dialog, "qt_fontDialog_sampleEdit")->text();
        for (QListView* list : fonts->findChildren<QListView*>()) {
            QAbstractItemModel* items = list->model();
            for (const QModelIndex& item :
                 items->match(items->index(0, 0), Qt::DisplayRole, pick, 1, Qt::MatchExactly))
                list->setCurrentIndex(item);
        }
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
    });
    m_win->findChild<QAction*>(menu)->trigger();

    // The stand-in of "微软雅黑" is the face shown, with a Chinese sample.
    QCOMPARE(shown.family(), QStringLiteral("WenQuanYi Micro Hei"));
    QCOMPARE(shown.pointSize(), 10);
    QVERIFY2(sample.contains(QStringLiteral("中文")), qPrintable(sample));
    const SettingsStore ini(m_win->SettingsFilePath);
    const QByteArray keys = html ? "HTML" : "";
    QCOMPARE(AnsiCodec::toUnicode(ini.readString("Options", keys + "FontName")), storedFace);
    QCOMPARE(ini.readString("Options", keys + "Fontsize"), QByteArray::number(storedSize));
    const QFont chosen = html ? memo->font() : m_win->font();
    QCOMPARE(chosen.family(), storedFace);
    QCOMPARE(chosen.pointSize(), storedSize);
    QVERIFY(!pick.isEmpty() || chosen == before); // OK alone: exactly as it was
    QCOMPARE(html ? m_win->font() : memo->font(), other);
}

void TestExtrasGui::qtTextsInChineseOwnBoxesKeepTheirButtons()
{
    QDialogButtonBox standard(QDialogButtonBox::Cancel);
    QCOMPARE(standard.buttons().first()->text(), QStringLiteral("取消"));
    QCOMPARE(QCoreApplication::translate("QFontDialog", "&Font"), QStringLiteral("字体(&F)"));
    QtPrompter prompter(m_win.get());
    QStringList buttons;
    for (const std::function<void()>& ask : std::initializer_list<std::function<void()>>{
             [&] { prompter.showMessage(QStringLiteral("字段名不能为空")); },
             [&] { prompter.askYesNo(QStringLiteral("提示"), QStringLiteral("是否删除?")); },
             [&] { prompter.showError(QStringLiteral("Unable to write to x.")); }}) {
        onNextModal([&](QWidget* box) {
            for (QAbstractButton* b : static_cast<QMessageBox*>(box)->buttons())
                buttons << b->text();
            box->close();
        });
        ask();
    }
    QCOMPARE(buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("&Yes"),
                                   QStringLiteral("&No"), QStringLiteral("OK")}));
}

void TestExtrasGui::helpWindow()
{
    QFile source(QStringLiteral(":/res/TXT/HELPFILE"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QStringList expected = QString::fromUtf8(source.readAll()).split(QStringLiteral("\r\n"));
    QCOMPARE(expected.size(), 26);

    QString caption;
    QStringList lines;
    bool readOnly = false;
    int pointSize = 0;
    QColor memoColor;
    Qt::WindowFlags flags;
    QSize memoGrowth;
    onNextModal([&](QWidget* modal) {
        auto* note = qobject_cast<TfrmNote*>(modal);
        QVERIFY(note);
        caption = note->windowTitle();
        auto* memo = child<QPlainTextEdit>(note, "Memo1");
        lines = memo->toPlainText().split(QLatin1Char('\n'));
        readOnly = memo->isReadOnly();
        pointSize = memo->font().pointSize();
        memoColor = memo->palette().color(QPalette::Text);
        flags = note->windowFlags();
        const QSize before = memo->size();
        note->resize(note->size() + QSize(120, 80));
        QApplication::processEvents();
        memoGrowth = memo->size() - before;
        note->close();
    });
    m_win->findChild<QAction*>(QStringLiteral("mniHelp"))->trigger();

    QCOMPARE(caption, QStringLiteral("使用帮助"));
    // Each of the 26 lines ends with a line break, so one empty piece follows.
    QCOMPARE(lines.size(), 27);
    QCOMPARE(lines.last(), QString());
    lines.removeLast();
    QCOMPARE(lines.first(), QStringLiteral("使用帮助："));
    QCOMPARE(lines, expected);
    QVERIFY(readOnly);
    QCOMPARE(pointSize, 11);
    QCOMPARE(memoColor, QColor(Qt::black));
    QVERIFY(flags & Qt::WindowMaximizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QCOMPARE(memoGrowth, QSize(120, 80));
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(!m_win->findChild<TfrmNote*>()); // destroyed when it closed
}

void TestExtrasGui::resourceTextForDisplay_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("CR LF lines") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n");
    QTest::newRow("mixed line ends") << QByteArray("a\nb\rc\r\n") << QByteArray("a\r\nb\r\nc\r\n");
    QTest::newRow("blank lines kept")
        << QByteArray("a\r\n\r\n  \r\nb") << QByteArray("a\r\n\r\n  \r\nb\r\n");
    QTest::newRow("UTF-8 converted") << QByteArray("\xE4\xB8\xAD\xE6\x96\x87\nx")
                                     << AnsiCodec::fromUnicode(QStringLiteral("中文\r\nx\r\n"));
    QTest::newRow("code page 936 kept")
        << QByteArray("\xD6\xD0\xCE\xC4\n") << QByteArray("\xD6\xD0\xCE\xC4\r\n");
}

void TestExtrasGui::resourceTextForDisplay()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, shown);
    QCOMPARE(TfrmNote::ResourceTextForDisplay(bytes), shown);
}

void TestExtrasGui::aboutBox()
{
    QVERIFY2(QImageReader::supportedImageFormats().contains("jpeg"),
             "Qt's JPEG image plugin (libqjpeg, libjpeg) is missing");

    TFileVersionInfo info;
    QVERIFY(ReadFileVersionInfo(QCoreApplication::applicationFilePath(), info));
    QVERIFY(!info.CompanyName.isEmpty());

    QString caption;
    QMap<QString, QString> texts;
    QImage picture;
    QColor versionColor;
    QRect pictureGeometry;
    QSize size;
    bool fixed = false;
    onNextModal([&](QWidget* modal) {
        auto* about = qobject_cast<TfrmAbout*>(modal);
        QVERIFY(about);
        caption = about->windowTitle();
        for (const char* name : {"lblTitle", "Label2", "lblAuthor", "lblVersion", "Label1"})
            texts[QLatin1String(name)] = child<QLabel>(about, name)->text();
        versionColor = child<QLabel>(about, "lblVersion")->palette().color(QPalette::WindowText);
        auto* image = child<QLabel>(about, "Image1");
        picture = image->pixmap().toImage();
        pictureGeometry = image->geometry();
        size = about->size();
        fixed = about->minimumSize() == about->maximumSize();
        about->close();
    });
    m_win->findChild<QAction*>(QStringLiteral("mniAbout"))->trigger();

    QCOMPARE(caption, QStringLiteral("关于 Reqlark v1.1.0"));
    QCOMPARE(texts[QStringLiteral("lblTitle")], QStringLiteral("Reqlark"));
    QCOMPARE(texts[QStringLiteral("Label2")], QStringLiteral("作者:"));
    QCOMPARE(texts[QStringLiteral("lblAuthor")], AnsiCodec::toUnicode(info.CompanyName));
    QCOMPARE(texts[QStringLiteral("lblVersion")], QStringLiteral("版本:  1.1.0"));
    QCOMPARE(texts[QStringLiteral("Label1")], QStringLiteral("编程不易，打赏随意"));
    QVERIFY2(!picture.isNull(), "the About picture was not decoded");
    QCOMPARE(picture.size(), QSize(128, 128));
    QCOMPARE(pictureGeometry, QRect(248, 32, 128, 128));
    // A real picture, not a blank: its corner and its middle differ.
    QVERIFY(picture.pixelColor(2, 2) != picture.pixelColor(64, 80));
    QCOMPARE(size, QSize(414, 234));
    QCOMPARE(versionColor, QColor(Qt::black));
    QVERIFY(fixed);
}

QTEST_MAIN(TestExtrasGui)
#include "tst_extras_gui.moc"
