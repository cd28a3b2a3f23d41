// The header editor and the clipboard import driven through the real main
// window: popup items, typing, picking from the lists, clicking.

#include "app/untFrmMain.h"
#include "headers/HeaderList.h"
#include "headers/untFrmHeader.h"
#include "support/ScriptedPrompter.h"
#include "util/AnsiCodec.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

using ByteList = QList<QByteArray>;

// The editor's controls, found by their names.
struct Controls
{
    template <class T> static T* get(QWidget* e, const char* name)
    {
        T* w = e->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    explicit Controls(QWidget* e)
        : value(get<QPlainTextEdit>(e, "mmoHeaderValue")), name(get<QLineEdit>(e, "edtHeaderName")),
          names(get<QComboBox>(e, "cbbHeaderNames")),
          options(get<QComboBox>(e, "cbbHeaderOptions")), edit(get<QPushButton>(e, "btnEdit")),
          cancel(get<QPushButton>(e, "btnCancle")), lower(get<QCheckBox>(e, "chkHeaderLowerCase"))
    {
    }
    QPlainTextEdit* value;
    QLineEdit* name;
    QComboBox* names;
    QComboBox* options;
    QPushButton* edit;
    QPushButton* cancel;
    QCheckBox* lower;
};

ByteList rowsOf(const HeaderList* list)
{
    ByteList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->name(i) << list->value(i);
    return out;
}

// Key presses carrying the characters, Chinese ones included.
void type(QWidget* w, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void click(QWidget* w)
{
    QTest::mouseClick(w, Qt::LeftButton);
}

// Opens the combo box's list and clicks the item, as a user picks it.
void pick(QComboBox* box, const QString& text)
{
    const int i = box->findText(text);
    QVERIFY2(i >= 0, qPrintable(text));
    box->showPopup();
    QAbstractItemView* view = box->view();
    QTRY_VERIFY(view->isVisible());
    const QModelIndex index = view->model()->index(i, 0);
    view->scrollTo(index);
    // The list ignores a release that comes too soon after it opened.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    QTRY_VERIFY(!view->isVisible());
}

} // namespace

class TestHeaderEditor : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void addModeDesign();
    void presets_data();
    void presets();
    void lowerCaseBox();
    void addConfirms_data();
    void addConfirms();
    void refusedAdds();
    void editRewritesItsRow();
    void editedRowGoneMeanwhile();
    void valueStaysOneLine();
    void importBrowserBlock();

private:
    TFrmHeader* open(const char* action);
    TFrmHeader* openAdd() { return open("mniAddReqHeader"); }
    QTableView* list() const { return m_win->findChild<QTableView*>(QStringLiteral("lvwHeaders")); }

    std::unique_ptr<QTemporaryDir> m_tmp;
    ScriptedPrompter m_prompter;
    std::unique_ptr<TFrmMain> m_win;
    HeaderList* m_rows = nullptr;
};

void TestHeaderEditor::init()
{
    m_prompter = ScriptedPrompter();
    m_tmp = std::make_unique<QTemporaryDir>();
    TFrmMain::Environment env;
    env.prompter = &m_prompter;
    env.executablePath = QDir(m_tmp->path()).filePath(QStringLiteral("reqlark"));
    m_win = std::make_unique<TFrmMain>(env);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win.get()));
    m_rows = m_win->headerList();
}

void TestHeaderEditor::cleanup()
{
    m_win.reset();
    m_tmp.reset();
}

TFrmHeader* TestHeaderEditor::open(const char* action)
{
    const QList<TFrmHeader*> before = m_win->findChildren<TFrmHeader*>();
    m_win->findChild<QAction*>(QLatin1String(action))->trigger();
    for (TFrmHeader* e : m_win->findChildren<TFrmHeader*>()) {
        if (!before.contains(e))
            return e;
    }
    return nullptr;
}

void TestHeaderEditor::addModeDesign()
{
    m_win->applyInterfaceFont(QFont(QStringLiteral("DejaVu Serif"), 17), QColor(0, 0, 160));
    // A double-click on the empty list opens the editor in add mode.
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    const QList<TFrmHeader*> editors = m_win->findChildren<TFrmHeader*>();
    QCOMPARE(editors.size(), 1);
    QPointer<TFrmHeader> e = editors.first();
    const Controls f(e);
    QVERIFY(e->isWindow() && e->isVisible() && !e->isModal());
    QCOMPARE(e->size(), QSize(503, 308));
    QCOMPARE(e->windowTitle(), QStringLiteral("添加头部字段"));
    QCOMPARE(f.edit->text(), QStringLiteral("添加"));
    QCOMPARE(f.cancel->text(), QStringLiteral("返回"));
    QVERIFY(!f.lower->isChecked());
    QVERIFY(f.name->isEnabled() && f.names->isVisible() && !f.options->isVisible());
    QCOMPARE(f.value->toolTip(), QStringLiteral("双击快速粘贴"));
    QCOMPARE(f.names->count(), 16);
    QCOMPARE(f.names->itemText(0), QStringLiteral("Accept"));
    QCOMPARE(f.names->itemText(15), QStringLiteral("X-Requested-With"));
    QCOMPARE(f.names->currentIndex(), -1);
    // The main window's current font, down to the controls.
    QCOMPARE(f.value->font().pointSize(), 17);
    QCOMPARE(f.edit->font().family(), m_win->font().family());
    QCOMPARE(f.name->palette().color(QPalette::Text), QColor(0, 0, 160));

    // Tab order starts at the value memo, which holds the focus.
    QVERIFY(QTest::qWaitForWindowExposed(e));
    e->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), e.data());
    QCOMPARE(QApplication::focusWidget(), f.value);
    const QList<QWidget*> order{f.name, f.names, f.edit, f.cancel, f.lower, f.options};
    QWidget* w = f.value;
    for (QWidget* expected : order) {
        do
            w = w->nextInFocusChain();
        while (!order.contains(w));
        QCOMPARE(w, expected);
    }

    // Anchors: the memo grows both ways, the buttons keep to their corners.
    f.options->show();
    e->resize(603, 408);
    QTRY_COMPARE(e->size(), QSize(603, 408));
    QCOMPARE(f.value->geometry(), QRect(8, 104, 589, 221));
    QCOMPARE(f.edit->geometry(), QRect(56, 345, 105, 41));
    QCOMPARE(f.cancel->geometry(), QRect(396, 345, 105, 41));
    QCOMPARE(f.options->geometry(), QRect(78, 72, 519, 27));

    // "返回" closes and releases the editor, adding nothing.
    type(f.name, QStringLiteral("X-Never"));
    click(f.cancel);
    QTRY_VERIFY(e.isNull());
    QCOMPARE(m_rows->count(), 0);
}

void TestHeaderEditor::presets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("choice");

    QTest::newRow("typed lower case")
        << QStringLiteral("content-type") << 8 << QStringLiteral("application/json");
    QTest::newRow("User-Agent")
        << QStringLiteral("User-Agent") << 12
        << QStringLiteral("Opera/9.80 (Windows NT 6.1; U; zh-cn) Presto/2.9.168 Version/11.50");
    QTest::newRow("no presets") << QStringLiteral("Cookie") << 0 << QString();
    QTest::newRow("trailing blank") << QStringLiteral("Content-Type ") << 0 << QString();
}

void TestHeaderEditor::presets()
{
    QFETCH(QString, name);
    QFETCH(int, count);
    QFETCH(QString, choice);

    const Controls f(openAdd());
    type(f.value, QStringLiteral("typed"));
    type(f.name, name);
    QCOMPARE(f.options->isVisible(), count > 0);
    QCOMPARE(f.options->count(), count);
    if (count == 0)
        return;
    QCOMPARE(f.options->currentIndex(), -1);
    pick(f.options, choice);
    QCOMPARE(f.value->toPlainText(), choice);
    f.name->clear();
    QVERIFY(!f.options->isVisible());
}

void TestHeaderEditor::lowerCaseBox()
{
    const Controls f(openAdd());
    click(f.lower);
    pick(f.names, QStringLiteral("Cookie"));
    QCOMPARE(f.name->text(), QStringLiteral("cookie"));
    // Typing is left alone; picking lowers, and shows the presets of the name.
    type(f.name, QStringLiteral("-X"));
    QCOMPARE(f.name->text(), QStringLiteral("cookie-X"));
    pick(f.names, QStringLiteral("Content-Type"));
    QCOMPARE(f.name->text(), QStringLiteral("content-type"));
    QCOMPARE(f.options->count(), 8);
    // Unticking leaves the lower case; ticking again lowers what was typed.
    click(f.lower);
    QCOMPARE(f.name->text(), QStringLiteral("content-type"));
    f.name->clear();
    type(f.name, QStringLiteral("X-中-Token"));
    click(f.lower);
    QCOMPARE(f.name->text(), QStringLiteral("x-中-token"));
}

void TestHeaderEditor::addConfirms_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("empty value") << QStringLiteral("X-Empty") << QString();
    QTest::newRow("Chinese value") << QStringLiteral("X-Name") << QStringLiteral("中文 值");
    QTest::newRow("untrimmed") << QStringLiteral("  ") << QStringLiteral(" v ");
}

void TestHeaderEditor::addConfirms()
{
    QFETCH(QString, name);
    QFETCH(QString, value);

    m_rows->append("Accept", "*/*");
    QPointer<TFrmHeader> e = openAdd();
    type(Controls(e).name, name);
    type(Controls(e).value, value);
    click(Controls(e).edit);
    QVERIFY(m_prompter.messages.isEmpty());
    QCOMPARE(rowsOf(m_rows), (ByteList{"Accept", "*/*", AnsiCodec::fromUnicode(name),
                                       AnsiCodec::fromUnicode(value)}));
    QTRY_VERIFY(e.isNull());
}

void TestHeaderEditor::refusedAdds()
{
    // Empty name: a message, and the editor stays open with its value.
    QPointer<TFrmHeader> empty = openAdd();
    type(Controls(empty).value, QStringLiteral("kept"));
    click(Controls(empty).edit);
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段名不能为空")});
    QCOMPARE(m_rows->count(), 0);
    QTest::qWait(20);
    QVERIFY(empty && empty->isVisible());

    // Two editors open at once confirm the same name: the second is refused
    // and closes.
    QPointer<TFrmHeader> first = openAdd();
    QPointer<TFrmHeader> second = openAdd();
    type(Controls(first).name, QStringLiteral("X-Dup"));
    type(Controls(first).value, QStringLiteral("one"));
    type(Controls(second).name, QStringLiteral("x-dup"));
    type(Controls(second).value, QStringLiteral("two"));
    click(Controls(first).edit);
    click(Controls(second).edit);
    QCOMPARE(m_prompter.messages.last(), QStringLiteral("字段 x-dup 已存在"));
    QCOMPARE(rowsOf(m_rows), (ByteList{"X-Dup", "one"}));
    QTRY_VERIFY(first.isNull() && second.isNull());
    QVERIFY(empty);
}

void TestHeaderEditor::editRewritesItsRow()
{
    m_rows->append("Accept", "*/*");
    m_rows->append("Content-Type", "text/html");
    m_rows->append("X-Last", "z");
    list()->selectRow(1);
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {},
                       list()->visualRect(m_rows->index(1, 1)).center());
    QCOMPARE(m_win->findChildren<TFrmHeader*>().size(), 1);
    QPointer<TFrmHeader> e = m_win->findChild<TFrmHeader*>();
    const Controls f(e);

    QCOMPARE(e->windowTitle(), QStringLiteral("头部字段编辑"));
    QCOMPARE(f.edit->text(), QStringLiteral("修改"));
    QCOMPARE(f.name->text(), QStringLiteral("Content-Type"));
    QCOMPARE(f.value->toPlainText(), QStringLiteral("text/html"));
    QVERIFY(!f.name->isEnabled() && !f.names->isVisible());
    QCOMPARE(f.options->count(), 8); // the row's presets at once
    QVERIFY(f.options->isVisible());

    click(f.lower);
    pick(f.options, QStringLiteral("application/json"));
    click(f.edit);
    QCOMPARE(rowsOf(m_rows),
             (ByteList{"Accept", "*/*", "content-type", "application/json", "X-Last", "z"}));
    QTRY_VERIFY(e.isNull());

    list()->clearSelection();
    QCOMPARE(open("mniEditReqHeader"), nullptr);
}

void TestHeaderEditor::editedRowGoneMeanwhile()
{
    m_rows->append("A", "1");
    m_rows->append("B", "2");
    m_rows->append("C", "3");
    list()->selectRow(1);
    QPointer<TFrmHeader> e = open("mniEditReqHeader");
    QVERIFY(e);

    // Row B goes; C takes its position and a new B is another row.
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_Delete);
    QVERIFY(m_rows->AddReqHeader("B", "fresh"));

    Controls(e).value->selectAll();
    type(Controls(e).value, QStringLiteral("edited"));
    click(Controls(e).edit);
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段 B 已不在列表中，修改未保存")});
    QCOMPARE(rowsOf(m_rows), (ByteList{"A", "1", "C", "3", "B", "fresh"}));
    QTest::qWait(20);
    QVERIFY(e);
    QCOMPARE(Controls(e).value->toPlainText(), QStringLiteral("edited"));
}

void TestHeaderEditor::valueStaysOneLine()
{
    const Controls f(openAdd());

    // Double-click replaces the value with the clipboard's text, lines joined.
    type(f.value, QStringLiteral("old"));
    m_prompter.clipboard = QStringLiteral("sid=1;\r\n  theme=dark\n\n中文\n");
    QTest::mouseDClick(f.value->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(f.value->toPlainText(), QStringLiteral("sid=1;   theme=dark 中文"));
    m_prompter.clipboard.clear();
    QTest::mouseDClick(f.value->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(f.value->toPlainText().isEmpty());

    // Enter starts no new line; text pasted with line breaks is joined on confirm.
    type(f.value, QStringLiteral("a"));
    QTest::keyClick(f.value, Qt::Key_Return);
    QTest::keyClick(f.value, Qt::Key_Enter);
    type(f.value, QStringLiteral("b"));
    QCOMPARE(f.value->toPlainText(), QStringLiteral("ab"));
    f.value->insertPlainText(QStringLiteral("\r\nc\nd\n"));
    type(f.name, QStringLiteral("X-Multi"));
    click(f.edit);
    QCOMPARE(rowsOf(m_rows), (ByteList{"X-Multi", "ab c d"}));
}

void TestHeaderEditor::importBrowserBlock()
{
    m_rows->append("Cookie", "keep=1");
    // Request headers as a browser's developer tools copy them on Linux.
    m_prompter.clipboard = QStringLiteral(
        ":authority: example.com\n"
        ":method: GET\n"
        ":path: /search?q=a:b\n"
        "accept: text/html,application/xhtml+xml,*/*;q=0.8\n"
        "cookie: sid=abc; theme=dark\n"
        "referer: https://example.com/\n"
        "user-agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko)\n"
        "x-note: 中文\n");
    m_win->findChild<QAction*>(QStringLiteral("mniReqHeaderImportFromClipbrd"))->trigger();

    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段 cookie 已存在")});
    QCOMPARE(rowsOf(m_rows),
             (ByteList{"Cookie", "keep=1", ":authority", "example.com", ":method", "GET", ":path",
                       "/search?q=a:b", "accept", "text/html,application/xhtml+xml,*/*;q=0.8",
                       "referer", "https://example.com/", "user-agent",
                       "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko)",
                       "x-note", "\xD6\xD0\xCE\xC4"}));
}

QTEST_MAIN(TestHeaderEditor)
#include "tst_headereditor.moc"
