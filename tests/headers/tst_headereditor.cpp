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
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

using ByteList = QList<QByteArray>;

template <class T> T* child(QWidget* window, const char* name)
{
    T* w = window->findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

// The editor's controls, found by their names.
struct Controls
{
    explicit Controls(QWidget* e)
        : mmoHeaderValue(child<QPlainTextEdit>(e, "mmoHeaderValue")),
          edtHeaderName(child<QLineEdit>(e, "edtHeaderName")),
          cbbHeaderNames(child<QComboBox>(e, "cbbHeaderNames")),
          cbbHeaderOptions(child<QComboBox>(e, "cbbHeaderOptions")),
          btnEdit(child<QPushButton>(e, "btnEdit")), btnCancle(child<QPushButton>(e, "btnCancle")),
          chkHeaderLowerCase(child<QCheckBox>(e, "chkHeaderLowerCase")),
          lblHeaderName(child<QLabel>(e, "lblHeaderName")),
          lblHeaderValue(child<QLabel>(e, "lblHeaderValue"))
    {
    }
    QPlainTextEdit* mmoHeaderValue;
    QLineEdit* edtHeaderName;
    QComboBox* cbbHeaderNames;
    QComboBox* cbbHeaderOptions;
    QPushButton* btnEdit;
    QPushButton* btnCancle;
    QCheckBox* chkHeaderLowerCase;
    QLabel* lblHeaderName;
    QLabel* lblHeaderValue;
};

ByteList rowsOf(const HeaderList* list)
{
    ByteList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->name(i) << list->value(i);
    return out;
}

QStringList itemsOf(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
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
    void takesTheInterfaceFontAndFollowsAnchors();
    void presets_data();
    void presets();
    void lowerCaseBox();
    void addConfirms_data();
    void addConfirms();
    void emptyNameKeepsEditorOpen();
    void twoEditorsConfirmTheSameName();
    void editRewritesItsRow();
    void editedRowGoneMeanwhile_data();
    void editedRowGoneMeanwhile();
    void valueStaysOneLine();
    void cancelAndCloseRelease();
    void importBrowserBlock();
    void importEmptyClipboard();

private:
    TFrmHeader* open(const char* action);
    TFrmHeader* openAdd() { return open("mniAddReqHeader"); }
    // Key presses carrying the characters, Chinese ones included.
    void type(QWidget* w, const QString& text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    void confirm(TFrmHeader* e) { QTest::mouseClick(Controls(e).btnEdit, Qt::LeftButton); }

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
    // A double-click on the empty list opens the editor in add mode.
    auto* list = m_win->findChild<QTableView*>(QStringLiteral("lvwHeaders"));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    const QList<TFrmHeader*> editors = m_win->findChildren<TFrmHeader*>();
    QCOMPARE(editors.size(), 1);
    TFrmHeader* e = editors.first();
    const Controls f(e);
    QVERIFY(e->isWindow());
    QVERIFY(e->isVisible());
    QVERIFY(!e->isModal());
    QCOMPARE(e->size(), QSize(503, 308));
    QCOMPARE(e->windowTitle(), QStringLiteral("添加头部字段"));
    QCOMPARE(f.btnEdit->text(), QStringLiteral("添加"));
    QCOMPARE(f.btnCancle->text(), QStringLiteral("返回"));
    QCOMPARE(f.chkHeaderLowerCase->text(), QStringLiteral("字段名小写"));
    QVERIFY(!f.chkHeaderLowerCase->isChecked());
    QCOMPARE(f.lblHeaderName->text(), QStringLiteral("头部字段名"));
    QCOMPARE(f.lblHeaderValue->text(), QStringLiteral("头部字段值"));
    QCOMPARE(f.mmoHeaderValue->toolTip(), QStringLiteral("双击快速粘贴"));
    QVERIFY(f.edtHeaderName->isEnabled());
    QVERIFY(f.cbbHeaderNames->isVisible());
    QVERIFY(!f.cbbHeaderOptions->isVisible());
    QVERIFY(f.edtHeaderName->text().isEmpty());
    QVERIFY(f.mmoHeaderValue->toPlainText().isEmpty());

    const QString names = QStringLiteral(
        "Accept,Accept-Encoding,Accept-Language,Authority,Authorization,Content-Length,"
        "Content-Type,Cookie,Dnt,Method,Origin,Path,Referer,Scheme,User-Agent,X-Requested-With");
    QCOMPARE(itemsOf(f.cbbHeaderNames), names.split(QLatin1Char(',')));
    QCOMPARE(f.cbbHeaderNames->currentIndex(), -1);

    // Tab order starts at the value memo, which holds the focus.
    QCOMPARE(e->focusWidget(), f.mmoHeaderValue);
    QVERIFY(QTest::qWaitForWindowExposed(e));
    e->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), e);
    QCOMPARE(QApplication::focusWidget(), f.mmoHeaderValue);
    const QList<QWidget*> order{f.edtHeaderName, f.cbbHeaderNames,     f.btnEdit,
                                f.btnCancle,     f.chkHeaderLowerCase, f.cbbHeaderOptions};
    QWidget* w = f.mmoHeaderValue;
    for (QWidget* expected : order) {
        do
            w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !order.contains(w));
        QCOMPARE(w, expected);
    }
}

void TestHeaderEditor::takesTheInterfaceFontAndFollowsAnchors()
{
    QFont chosen(QStringLiteral("DejaVu Serif"), 17);
    m_win->applyInterfaceFont(chosen, Qt::black);
    TFrmHeader* e = openAdd();
    QCOMPARE(e->font().pointSize(), 17);
    QCOMPARE(e->font().family(), m_win->font().family());
    QCOMPARE(Controls(e).mmoHeaderValue->font().pointSize(), 17);
    QCOMPARE(Controls(e).btnEdit->font().pointSize(), 17);

    const Controls f(e);
    f.cbbHeaderOptions->show(); // measured where the presets stand when shown
    e->resize(603, 408);
    QTRY_COMPARE(e->size(), QSize(603, 408));
    QCOMPARE(f.mmoHeaderValue->geometry(), QRect(8, 104, 589, 221));
    QCOMPARE(f.btnEdit->geometry(), QRect(56, 345, 105, 41));
    QCOMPARE(f.btnCancle->geometry(), QRect(396, 345, 105, 41));
    QCOMPARE(f.cbbHeaderOptions->geometry(), QRect(78, 72, 519, 27));
    QCOMPARE(f.edtHeaderName->geometry(), QRect(8, 32, 281, 27));
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

    TFrmHeader* e = openAdd();
    const Controls f(e);
    type(f.mmoHeaderValue, QStringLiteral("typed"));
    type(f.edtHeaderName, name);
    QCOMPARE(f.cbbHeaderOptions->isVisible(), count > 0);
    QCOMPARE(f.cbbHeaderOptions->count(), count);
    if (count == 0)
        return;
    QCOMPARE(f.cbbHeaderOptions->currentIndex(), -1);
    pick(f.cbbHeaderOptions, choice);
    QCOMPARE(f.mmoHeaderValue->toPlainText(), choice);

    // Another name in the same editor replaces the presets or hides them.
    f.edtHeaderName->clear();
    QVERIFY(!f.cbbHeaderOptions->isVisible());
    QCOMPARE(f.cbbHeaderOptions->count(), 0);
}

void TestHeaderEditor::lowerCaseBox()
{
    TFrmHeader* e = openAdd();
    const Controls f(e);
    QTest::mouseClick(f.chkHeaderLowerCase, Qt::LeftButton);
    QVERIFY(f.chkHeaderLowerCase->isChecked());
    pick(f.cbbHeaderNames, QStringLiteral("Cookie"));
    QCOMPARE(f.edtHeaderName->text(), QStringLiteral("cookie"));
    QVERIFY(!f.cbbHeaderOptions->isVisible());

    // The box does not act on typing, only on picking or ticking.
    type(f.edtHeaderName, QStringLiteral("-X"));
    QCOMPARE(f.edtHeaderName->text(), QStringLiteral("cookie-X"));
    pick(f.cbbHeaderNames, QStringLiteral("Content-Type"));
    QCOMPARE(f.edtHeaderName->text(), QStringLiteral("content-type"));
    QCOMPARE(f.cbbHeaderOptions->count(), 8);

    // Unticking leaves the lower case; ticking again lowers what was typed.
    QTest::mouseClick(f.chkHeaderLowerCase, Qt::LeftButton);
    QCOMPARE(f.edtHeaderName->text(), QStringLiteral("content-type"));
    f.edtHeaderName->clear();
    type(f.edtHeaderName, QStringLiteral("X-中-Token"));
    QTest::mouseClick(f.chkHeaderLowerCase, Qt::LeftButton);
    QCOMPARE(f.edtHeaderName->text(), QStringLiteral("x-中-token"));
}

void TestHeaderEditor::addConfirms_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("name and value") << QStringLiteral("X-Token") << QStringLiteral("abc def");
    QTest::newRow("empty value") << QStringLiteral("X-Empty") << QString();
    QTest::newRow("Chinese value") << QStringLiteral("X-Name") << QStringLiteral("中文 值");
    QTest::newRow("name of blanks") << QStringLiteral("  ") << QStringLiteral("v");
    QTest::newRow("untrimmed") << QStringLiteral(" X ") << QStringLiteral(" v ");
}

void TestHeaderEditor::addConfirms()
{
    QFETCH(QString, name);
    QFETCH(QString, value);

    m_rows->append("Accept", "*/*");
    QPointer<TFrmHeader> e = openAdd();
    type(Controls(e).edtHeaderName, name);
    type(Controls(e).mmoHeaderValue, value);
    confirm(e);
    QVERIFY(m_prompter.messages.isEmpty());
    QCOMPARE(rowsOf(m_rows), (ByteList{"Accept", "*/*", AnsiCodec::fromUnicode(name),
                                       AnsiCodec::fromUnicode(value)}));
    QTRY_VERIFY(e.isNull());
}

void TestHeaderEditor::emptyNameKeepsEditorOpen()
{
    QPointer<TFrmHeader> e = openAdd();
    type(Controls(e).mmoHeaderValue, QStringLiteral("kept"));
    confirm(e);
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段名不能为空")});
    QCOMPARE(m_rows->count(), 0);
    QTest::qWait(20);
    QVERIFY(!e.isNull());
    QVERIFY(e->isVisible());
    QCOMPARE(Controls(e).mmoHeaderValue->toPlainText(), QStringLiteral("kept"));
}

void TestHeaderEditor::twoEditorsConfirmTheSameName()
{
    QPointer<TFrmHeader> first = openAdd();
    QPointer<TFrmHeader> second = openAdd();
    QVERIFY(first != second);
    QVERIFY(first->isVisible() && second->isVisible());
    type(Controls(first).edtHeaderName, QStringLiteral("X-Dup"));
    type(Controls(first).mmoHeaderValue, QStringLiteral("one"));
    type(Controls(second).edtHeaderName, QStringLiteral("x-dup"));
    type(Controls(second).mmoHeaderValue, QStringLiteral("two"));

    confirm(first);
    QVERIFY(m_prompter.messages.isEmpty());
    confirm(second);
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段 x-dup 已存在")});
    QCOMPARE(rowsOf(m_rows), (ByteList{"X-Dup", "one"}));
    QTRY_VERIFY(first.isNull() && second.isNull());
}

void TestHeaderEditor::editRewritesItsRow()
{
    m_rows->append("Accept", "*/*");
    m_rows->append("Content-Type", "text/html");
    m_rows->append("X-Last", "z");
    auto* list = m_win->findChild<QTableView*>(QStringLiteral("lvwHeaders"));
    list->selectRow(1);
    const QList<TFrmHeader*> before = m_win->findChildren<TFrmHeader*>();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualRect(m_rows->index(1, 1)).center());
    QList<TFrmHeader*> now = m_win->findChildren<TFrmHeader*>();
    QCOMPARE(now.size(), before.size() + 1);
    QPointer<TFrmHeader> e = now.last();
    const Controls f(e);

    QCOMPARE(e->windowTitle(), QStringLiteral("头部字段编辑"));
    QCOMPARE(f.btnEdit->text(), QStringLiteral("修改"));
    QCOMPARE(f.edtHeaderName->text(), QStringLiteral("Content-Type"));
    QCOMPARE(f.mmoHeaderValue->toPlainText(), QStringLiteral("text/html"));
    QVERIFY(!f.edtHeaderName->isEnabled());
    QVERIFY(!f.cbbHeaderNames->isVisible());
    QVERIFY(f.cbbHeaderOptions->isVisible()); // presets of the row's name at once
    QCOMPARE(f.cbbHeaderOptions->count(), 8);

    QTest::mouseClick(f.chkHeaderLowerCase, Qt::LeftButton);
    pick(f.cbbHeaderOptions, QStringLiteral("application/json"));
    confirm(e);
    QCOMPARE(rowsOf(m_rows),
             (ByteList{"Accept", "*/*", "content-type", "application/json", "X-Last", "z"}));
    QVERIFY(m_prompter.messages.isEmpty());
    QTRY_VERIFY(e.isNull());

    // Edit with nothing selected opens nothing.
    list->clearSelection();
    QCOMPARE(open("mniEditReqHeader"), nullptr);
}

void TestHeaderEditor::editedRowGoneMeanwhile_data()
{
    QTest::addColumn<bool>("clearAll");
    QTest::newRow("row deleted") << false;
    QTest::newRow("list cleared") << true;
}

void TestHeaderEditor::editedRowGoneMeanwhile()
{
    QFETCH(bool, clearAll);
    m_rows->append("A", "1");
    m_rows->append("B", "2");
    m_rows->append("C", "3");
    auto* list = m_win->findChild<QTableView*>(QStringLiteral("lvwHeaders"));
    list->selectRow(1);
    QPointer<TFrmHeader> e = open("mniEditReqHeader");
    QVERIFY(e);

    if (clearAll) {
        m_win->findChild<QAction*>(QStringLiteral("mniDelReqHeaderClear"))->trigger();
    } else {
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Delete);
    }
    // A new row of the same name is another row, not the one being edited.
    QVERIFY(m_rows->AddReqHeader("B", "fresh"));
    const ByteList rowsBefore = rowsOf(m_rows);

    Controls(e).mmoHeaderValue->selectAll();
    type(Controls(e).mmoHeaderValue, QStringLiteral("edited"));
    confirm(e);
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段 B 已不在列表中，修改未保存")});
    QCOMPARE(rowsOf(m_rows), rowsBefore);
    QTest::qWait(20);
    QVERIFY(!e.isNull());
    QCOMPARE(Controls(e).mmoHeaderValue->toPlainText(), QStringLiteral("edited"));
}

void TestHeaderEditor::valueStaysOneLine()
{
    QPointer<TFrmHeader> e = openAdd();
    QPlainTextEdit* memo = Controls(e).mmoHeaderValue;

    // Double-click replaces the value with the clipboard's text, lines joined.
    type(memo, QStringLiteral("old"));
    m_prompter.clipboard = QStringLiteral("sid=1;\r\n  theme=dark\n\n中文\n");
    QTest::mouseDClick(memo->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(memo->toPlainText(), QStringLiteral("sid=1;   theme=dark 中文"));
    m_prompter.clipboard.clear();
    QTest::mouseDClick(memo->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(memo->toPlainText().isEmpty());

    // Enter starts no new line; text pasted with line breaks is joined on confirm.
    type(memo, QStringLiteral("a"));
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClick(memo, Qt::Key_Enter);
    type(memo, QStringLiteral("b"));
    QCOMPARE(memo->toPlainText(), QStringLiteral("ab"));
    memo->insertPlainText(QStringLiteral("\r\nc\nd\n"));
    type(Controls(e).edtHeaderName, QStringLiteral("X-Multi"));
    confirm(e);
    QCOMPARE(rowsOf(m_rows), (ByteList{"X-Multi", "ab c d"}));
}

void TestHeaderEditor::cancelAndCloseRelease()
{
    m_rows->append("A", "1");
    QPointer<TFrmHeader> byButton = openAdd();
    type(Controls(byButton).edtHeaderName, QStringLiteral("X-Never"));
    QTest::mouseClick(Controls(byButton).btnCancle, Qt::LeftButton);
    QTRY_VERIFY(byButton.isNull());

    auto* list = m_win->findChild<QTableView*>(QStringLiteral("lvwHeaders"));
    list->selectRow(0);
    QPointer<TFrmHeader> byCloseBox = open("mniEditReqHeader");
    Controls(byCloseBox).mmoHeaderValue->selectAll();
    type(Controls(byCloseBox).mmoHeaderValue, QStringLiteral("changed"));
    QVERIFY(byCloseBox->close());
    QTRY_VERIFY(byCloseBox.isNull());
    QCOMPARE(rowsOf(m_rows), (ByteList{"A", "1"}));
    QVERIFY(m_win->isVisible());
}

void TestHeaderEditor::importBrowserBlock()
{
    m_rows->append("Cookie", "keep=1");
    // Request headers as a browser's developer tools copy them on Linux.
    m_prompter.clipboard = QStringLiteral(
        ":authority: example.com\n"
        ":method: GET\n"
        ":path: /search?q=a:b\n"
        ":scheme: https\n"
        "accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\n"
        "accept-language: zh-CN,zh;q=0.9,en;q=0.8\n"
        "cookie: sid=abc; theme=dark\n"
        "referer: https://example.com/\n"
        "user-agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/120.0.0.0 Safari/537.36\n"
        "x-note: 中文\n");
    m_win->findChild<QAction*>(QStringLiteral("mniReqHeaderImportFromClipbrd"))->trigger();

    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段 cookie 已存在")});
    QCOMPARE(rowsOf(m_rows),
             (ByteList{"Cookie",
                       "keep=1",
                       ":authority",
                       "example.com",
                       ":method",
                       "GET",
                       ":path",
                       "/search?q=a:b",
                       ":scheme",
                       "https",
                       "accept",
                       "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
                       "accept-language",
                       "zh-CN,zh;q=0.9,en;q=0.8",
                       "referer",
                       "https://example.com/",
                       "user-agent",
                       "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                       "Chrome/120.0.0.0 Safari/537.36",
                       "x-note",
                       "\xD6\xD0\xCE\xC4"}));
}

void TestHeaderEditor::importEmptyClipboard()
{
    m_rows->append("A", "1");
    m_prompter.clipboard.clear();
    m_win->findChild<QAction*>(QStringLiteral("mniReqHeaderImportFromClipbrd"))->trigger();
    QCOMPARE(rowsOf(m_rows), (ByteList{"A", "1"}));
    QVERIFY(m_prompter.messages.isEmpty());
    QVERIFY(m_prompter.errors.isEmpty());
}

QTEST_MAIN(TestHeaderEditor)
#include "tst_headereditor.moc"
