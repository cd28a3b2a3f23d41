// The main window as a desktop meets it: the palette of a light or dark theme
// (and a change of theme while it runs), Shift+F10 for the context menu of
// the focused control, long pastes into the two fields. Runs on the
// offscreen platform and again on a Wayland compositor where one can start.

#include "app/LongLineEdit.h"
#include "app/untFrmMain.h"
#include "results/LargeTextView.h"
#include "settings/SettingsStore.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A light theme, or a dark one as desktops give it: light text on rgb(36, 36, 36).
QPalette theme(bool dark)
{
    QPalette p;
    p.setColor(QPalette::Window, dark ? QColor(53, 53, 53) : QColor(239, 239, 239));
    p.setColor(QPalette::Base, dark ? QColor(36, 36, 36) : QColor(Qt::white));
    if (dark)
        p.setColor(QPalette::Button, QColor(53, 53, 53));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(role, dark ? QColor(230, 230, 230) : QColor(Qt::black));
    return p;
}

QColor textOf(const QWidget* w, QPalette::ColorRole role = QPalette::Text)
{
    return w->palette().color(role);
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void coloursFollowTheDesktop_data();
    void coloursFollowTheDesktop();
    void fontCommandStoresOnlyAChosenColour_data();
    void fontCommandStoresOnlyAChosenColour();
    void shiftF10OpensTheFocusedControlsMenu_data();
    void shiftF10OpensTheFocusedControlsMenu();
    void longPasteIsWholeAndUndoable_data();
    void longPasteIsWholeAndUndoable();
    void windowShowsOnThePlatformAsked();

private:
    TFrmMain* open();
    QString ini() const { return QDir(m_tmp->path()).filePath(QStringLiteral("reqlark.ini")); }
    template <class T> T* c(const char* name) { return child<T>(m_win.get(), name); }

    QPalette m_original;
    std::unique_ptr<QTemporaryDir> m_tmp;
    ScriptedPrompter m_prompter;
    std::unique_ptr<TFrmMain> m_win;
};

void TestDesktop::initTestCase()
{
    m_original = QApplication::palette();
}

void TestDesktop::init()
{
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
}

void TestDesktop::cleanup()
{
    m_win.reset();
    m_tmp.reset();
    QApplication::setPalette(m_original);
}

TFrmMain* TestDesktop::open()
{
    m_win.reset();
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.executablePath = QDir(m_tmp->path()).filePath(QStringLiteral("reqlark"));
    m_win = std::make_unique<TFrmMain>(env);
    return m_win.get();
}

void TestDesktop::coloursFollowTheDesktop_data()
{
    QTest::addColumn<QByteArray>("file");   // settings file; empty: none
    QTest::addColumn<bool>("darkAtStart");  // else light
    QTest::addColumn<bool>("switchTheme");  // to the other one while open
    QTest::addColumn<QColor>("memoColour"); // invalid: the theme's text colour

    QTest::newRow("light, never chosen") << QByteArray() << false << false << QColor();
    QTest::newRow("dark, never chosen") << QByteArray() << true << false << QColor();
    QTest::newRow("light to dark while open") << QByteArray() << false << true << QColor();
    QTest::newRow("dark to light while open") << QByteArray() << true << true << QColor();
    QTest::newRow("fonts stored, no colour")
        << QByteArray("[Options]\r\nHTMLFontName=DejaVu Sans\r\nHTMLFontsize=12\r\n") << true
        << false << QColor();
    QTest::newRow("red chosen, theme changes")
        << QByteArray("[Options]\r\nHTMLFontColor=255\r\n") << false << true << QColor(255, 0, 0);
    QTest::newRow("black chosen (a stored 0)")
        << QByteArray("[Options]\r\nHTMLFontColor=0\r\n") << true << false << QColor(0, 0, 0);
}

void TestDesktop::coloursFollowTheDesktop()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, darkAtStart);
    QFETCH(bool, switchTheme);
    QFETCH(QColor, memoColour);
    if (!file.isEmpty())
        writeAll(ini(), file);
    QApplication::setPalette(theme(darkAtStart));
    open()->show();
    if (switchTheme)
        QApplication::setPalette(theme(!darkAtStart));
    // A new palette reaches the widgets through the event loop.
    QApplication::processEvents();
    const QPalette theme = QApplication::palette();

    auto* memo = c<LargeTextView>("mmoHtml");
    QCOMPARE(textOf(memo), memoColour.isValid() ? memoColour : theme.color(QPalette::Text));
    QCOMPARE(memo->palette().color(QPalette::Base), theme.color(QPalette::Base));
    QCOMPARE(textOf(c<QLineEdit>("edtUrl")), theme.color(QPalette::Text));
    QCOMPARE(textOf(c<QLabel>("lblUrl"), QPalette::WindowText), theme.color(QPalette::WindowText));
    QCOMPARE(textOf(c<QCheckBox>("chkUseProxy"), QPalette::WindowText),
             theme.color(QPalette::WindowText));
    QCOMPARE(textOf(c<QPlainTextEdit>("mmoRespHeaders")), theme.color(QPalette::Text));
    // What the file holds is not touched by a start.
    QCOMPARE(readAll(ini()), file);
}

void TestDesktop::fontCommandStoresOnlyAChosenColour_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("changeColour");
    QTest::addColumn<QByteArray>("stored"); // HTMLFontColor afterwards; "-" for none
    QTest::newRow("dark theme, colour left") << true << false << QByteArray("-");
    QTest::newRow("light theme, colour left") << false << false << QByteArray("-");
    QTest::newRow("dark theme, blue chosen") << true << true << QByteArray("16711680");
}

void TestDesktop::fontCommandStoresOnlyAChosenColour()
{
    QFETCH(bool, dark);
    QFETCH(bool, changeColour);
    QFETCH(QByteArray, stored);
    QApplication::setPalette(theme(dark));
    open();
    auto* memo = c<LargeTextView>("mmoHtml");
    QFont bigger = memo->font();
    bigger.setPointSize(14);
    // The dialog opens on the colour the memo shows; the script answers with
    // that or with blue.
    const QColor themeText = QApplication::palette().color(QPalette::Text);
    m_prompter.fontAnswers.enqueue(
        Prompter::FontChoice{bigger, changeColour ? QColor(0, 0, 255) : themeText});
    m_win->findChild<QAction*>(QStringLiteral("mniFontHTML"))->trigger();
    QCOMPARE(m_prompter.fontRequests.value(0).color, themeText);

    const SettingsStore settings(ini());
    QCOMPARE(settings.readString("Options", "HTMLFontColor", "-"), stored);
    QCOMPARE(settings.readString("Options", "HTMLFontsize"), QByteArray("14"));
    // A theme change afterwards: a colour left as it was follows it.
    QApplication::setPalette(theme(!dark));
    QApplication::processEvents();
    QCOMPARE(textOf(memo),
             changeColour ? QColor(0, 0, 255) : QApplication::palette().color(QPalette::Text));
}

void TestDesktop::shiftF10OpensTheFocusedControlsMenu_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("item"); // an item the menu holds
    QTest::newRow("URL field") << QStringLiteral("edtUrl") << QString();
    QTest::newRow("data field") << QStringLiteral("edtData") << QString();
    QTest::newRow("header list") << QStringLiteral("lvwHeaders") << QStringLiteral("添加");
    QTest::newRow("HTML pane") << QStringLiteral("mmoHtml") << QStringLiteral("全选(&A)");
    QTest::newRow("response headers") << QStringLiteral("mmoRespHeaders") << QString();
}

void TestDesktop::shiftF10OpensTheFocusedControlsMenu()
{
    QFETCH(QString, control);
    QFETCH(QString, item);
    open()->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win.get()));
    m_win->activateWindow();
    QWidget* widget = c<QWidget>(control.toLatin1().constData());
    widget->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), widget);
    QVERIFY(!QApplication::activePopupWidget());

    QTest::keyClick(widget, Qt::Key_F10, Qt::ShiftModifier);

    QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << action->text();
    QVERIFY2(item.isEmpty() ? !texts.isEmpty() : texts.contains(item),
             qPrintable(texts.join(QLatin1Char('|'))));
    menu->close();
}

void TestDesktop::longPasteIsWholeAndUndoable_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("characters");
    QTest::addColumn<bool>("byKeys"); // Ctrl+V; else the double-click gesture
    QTest::newRow("data, 10 MB, double-click") << QStringLiteral("edtData") << 10000000 << false;
    QTest::newRow("URL, 10 MB, Ctrl+V") << QStringLiteral("edtUrl") << 10000000 << true;
    QTest::newRow("data, short, double-click") << QStringLiteral("edtData") << 100 << false;
}

void TestDesktop::longPasteIsWholeAndUndoable()
{
    QFETCH(QString, field);
    QFETCH(int, characters);
    QFETCH(bool, byKeys);
    open()->show();
    auto* edit = m_win->findChild<LongLineEdit*>(field);
    QVERIFY(edit);
    edit->setText(QStringLiteral("old"));
    QString pasted(characters, QLatin1Char('x'));
    pasted.replace(0, 8, QStringLiteral("{\"a\":\"中"));
    if (byKeys) {
        QGuiApplication::clipboard()->setText(pasted);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    } else {
        m_prompter.clipboard = pasted;
        QTest::mouseDClick(edit, Qt::LeftButton);
    }
    QVERIFY(edit->text() == pasted);
    QCOMPARE(edit->isShortened(), characters > LongLineEdit::kLongText);
    if (edit->isShortened())
        QVERIFY(edit->shortenedView().startsWith(QStringLiteral("{\"a\":\"中xx")));
    edit->repaint(); // painting a long text must not lay all of it out

    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("old"));
    QVERIFY(!edit->isShortened());
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(edit->text().size(), pasted.size());

    // Cut takes it out whole, Chinese input stays on.
    QGuiApplication::clipboard()->clear();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    QVERIFY(QGuiApplication::clipboard()->text() == pasted);
    QVERIFY(edit->text().isEmpty());
    QCOMPARE(edit->inputMethodHints(), Qt::ImhNone);
}

void TestDesktop::windowShowsOnThePlatformAsked()
{
    // Natively on Wayland when asked for it, not through XWayland.
    open()->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win.get()));
    QCOMPARE(QGuiApplication::platformName(), qEnvironmentVariable("QT_QPA_PLATFORM"));
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
