// The large-text view driven as a user drives it: keys, wheel, mouse, the
// scroll bar, search and the clipboard, read back through the view's own
// positions (byte offsets into its UTF-8 text).

#include "results/LargeTextView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

QByteArray u8(const char16_t* text)
{
    return QString::fromUtf16(text).toUtf8();
}

// Short lines "line 0\n", "line 1\n" ...; the start of line i.
QByteArray numberedLines(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "line " + QByteArray::number(i) + '\n';
    return text;
}

qint64 lineStart(const QByteArray& text, int line)
{
    qint64 at = 0;
    for (int i = 0; i < line; ++i)
        at = text.indexOf('\n', at) + 1;
    return at;
}

} // namespace

class TestLargeTextView : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void textIsKeptAndShownExactly_data();
    void textIsKeptAndShownExactly();
    void controlCharactersAreVisibleAndCopiedAsThemselves();
    void wrapsAtTheWidthAndFollowsResizeAndFont();
    void scrollBarReachesBothEndsOfAHugeLine();
    void linesAreTheSameWalkedDownAndUp();
    void keysWheelAndBarArrowsMoveByLines_data();
    void keysWheelAndBarArrowsMoveByLines();
    void mouseSelectsAndDragsBelowTheView();
    void paintsInThePalettesColours();
    void search_data();
    void search();
    void tripleClickSelectsTheLine_data();
    void tripleClickSelectsTheLine();
    void zoomIsTheViewsOwn_data();
    void zoomIsTheViewsOwn();
    void screenReadersGetCharactersLinesAndWords_data();
    void screenReadersGetCharactersLinesAndWords();

private:
    void show(const QByteArray& text);
    void clickAt(qint64 position, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void moveMouse(const QPoint& to); // the left button held
    int lineTop(qint64 position) const { return m_view->cursorRect(position).top(); }

    std::unique_ptr<LargeTextView> m_view;
};

void TestLargeTextView::init()
{
    m_view = std::make_unique<LargeTextView>();
    m_view->resize(400, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestLargeTextView::cleanup()
{
    m_view.reset();
}

void TestLargeTextView::show(const QByteArray& text)
{
    m_view->setUtf8(text);
    m_view->viewport()->repaint();
}

void TestLargeTextView::clickAt(qint64 position, Qt::KeyboardModifiers modifiers)
{
    const QRect r = m_view->cursorRect(position);
    QVERIFY2(r.isValid(), "position not on screen");
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, modifiers, r.center());
}

void TestLargeTextView::moveMouse(const QPoint& to)
{
    QMouseEvent move(QEvent::MouseMove, to, m_view->viewport()->mapToGlobal(to), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_view->viewport(), &move);
}

void TestLargeTextView::textIsKeptAndShownExactly_data()
{
    // The text, and the start of each line as shown (one line each here).
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<qint64>>("lineStarts");
    QTest::newRow("LF") << QByteArray("ab\ncd\n") << QList<qint64>{0, 3, 6};
    QTest::newRow("CR LF is one line end") << QByteArray("ab\r\ncd") << QList<qint64>{0, 4};
    QTest::newRow("a lone CR ends a line")
        << QByteArray("ab\rcd\r\r\nx") << QList<qint64>{0, 3, 6, 8};
    QTest::newRow("tab and NUL do not end it") << QByteArray("a\tb\0c", 5) << QList<qint64>{0};
    QTest::newRow("not UTF-8") << QByteArray("a\xff\xfe\xc3(z\n1") << QList<qint64>{0, 7};
    QTest::newRow("Chinese and emoji") << u8(u"中文 😀 é\n二") << QList<qint64>{0, 15};
    QTest::newRow("empty") << QByteArray() << QList<qint64>{0};
}

void TestLargeTextView::textIsKeptAndShownExactly()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<qint64>, lineStarts);
    show(text);
    QVERIFY(m_view->utf8().constData() == text.constData() || text.isEmpty()); // not copied
    QCOMPARE(m_view->text(), QString::fromUtf8(text));
    m_view->selectAll();
    QCOMPARE(m_view->selectionEnd(), text.size());
    QCOMPARE(m_view->selectedText(), QString::fromUtf8(text));

    // Every byte of a line sits on that line's row, and each line on the
    // row right below the one before.
    const qreal rowHeight = QFontMetricsF(m_view->font()).lineSpacing();
    for (int i = 0; i < lineStarts.size(); ++i) {
        const qint64 end = i + 1 < lineStarts.size() ? lineStarts[i + 1] : text.size() + 1;
        for (qint64 at = lineStarts[i]; at < end; ++at)
            QCOMPARE(lineTop(std::min<qint64>(at, text.size())), lineTop(lineStarts[i]));
        if (i > 0) {
            const int step = lineTop(lineStarts[i]) - lineTop(lineStarts[i - 1]);
            QVERIFY2(step > 0 && step < 1.5 * rowHeight, qPrintable(QString::number(step)));
        }
    }
    // What follows a tab starts at a tab stop, every 80 pixels.
    for (qint64 at = text.indexOf('\t'); at >= 0; at = text.indexOf('\t', at + 1))
        QCOMPARE((m_view->cursorRect(at + 1).x() - m_view->cursorRect(0).x()) % 80, 0);
}

void TestLargeTextView::controlCharactersAreVisibleAndCopiedAsThemselves()
{
    const QByteArray text("a\001b\000c\177d\te", 9);
    // Each control character is drawn as its caret notation (selected, it
    // takes the colours of the text), so it is seen, and the text after it
    // follows on the same line.
    const auto drawn = [this](const QByteArray& shown) {
        show(shown);
        m_view->selectAll();
        return m_view->viewport()->grab().toImage();
    };
    QCOMPARE(drawn(text), drawn("a^Ab^@c^?d\te"));
    show(text);
    QCOMPARE(lineTop(8), lineTop(0));
    QVERIFY(m_view->cursorRect(9).x() > m_view->cursorRect(8).x());

    // Copied as the bytes they are, by the keys and by the context menu.
    const QString copied = QString::fromLatin1(text.constData(), 9);
    QTest::keyClick(m_view.get(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    QGuiApplication::clipboard()->clear();
    m_view->setSelection(0, 0);
    std::unique_ptr<QMenu> menu(m_view->createContextMenu(nullptr));
    QCOMPARE(menu->actions().size(), 2);
    QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("复制(&C)"));
    QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("全选(&A)"));
    QVERIFY(!menu->actions().at(0)->isEnabled());
    menu->actions().at(1)->trigger();
    QCOMPARE(m_view->selectedText(), copied);
    menu.reset(m_view->createContextMenu(nullptr));
    QVERIFY(menu->actions().at(0)->isEnabled());
    menu->actions().at(0)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
}

void TestLargeTextView::wrapsAtTheWidthAndFollowsResizeAndFont()
{
    QByteArray words;
    for (int i = 0; i < 60; ++i)
        words += "word" + QByteArray::number(i) + ' ';
    show(words);
    const qint64 last = words.size() - 1;
    const int narrowRows = lineTop(last) - lineTop(0);
    QVERIFY(narrowRows > 0);
    QVERIFY(!m_view->horizontalScrollBar()->isVisible());
    QVERIFY(m_view->verticalScrollBar()->isVisible());
    // Words are not split: every row starts with "word".
    for (qint64 at = 1; at < words.size(); ++at) {
        if (lineTop(at) != lineTop(at - 1))
            QCOMPARE(words.mid(at, 4), QByteArray("word"));
    }

    m_view->resize(800, 300);
    QTRY_VERIFY(lineTop(last) - lineTop(0) < narrowRows);
    const int wideTop = lineTop(200);
    QFont larger = m_view->font();
    larger.setPointSizeF(larger.pointSizeF() * 2);
    m_view->setFont(larger);
    QVERIFY(m_view->cursorRect(200).isValid());
    QVERIFY(lineTop(200) > wideTop);
    m_view->setSelection(last, last);
    m_view->ensurePositionVisible(last);
    QVERIFY(m_view->isPositionVisible(last));
}

void TestLargeTextView::scrollBarReachesBothEndsOfAHugeLine()
{
    // Minified JSON on a single line, with some Chinese.
    QByteArray text = "[";
    for (int i = 0; text.size() < 3 << 20; ++i)
        text += "{\"id\":" + QByteArray::number(i) + ",\"name\":\"" + u8(u"名字") + "\"},";
    show(text);
    QScrollBar* bar = m_view->verticalScrollBar();
    QTest::keyClick(m_view.get(), Qt::Key_End, Qt::ControlModifier);
    QVERIFY(m_view->isPositionVisible(text.size() - 1));
    QCOMPARE(bar->value(), bar->maximum());
    QTest::keyClick(m_view.get(), Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(m_view->topPosition(), 0);
    QCOMPARE(bar->value(), 0);

    // Dragging the thumb moves through the text in order, without jumps
    // larger than a few lines' worth of bytes.
    qint64 before = 0;
    for (int step = 1; step <= 20; ++step) {
        bar->setValue(int(qint64(bar->maximum()) * step / 20));
        // The bar stays where it was put, not where the top was before.
        QVERIFY(qAbs(bar->value() - qint64(bar->maximum()) * step / 20) < 8192);
        const qint64 top = m_view->topPosition();
        QVERIFY(top > before);
        QVERIFY(qAbs(top - qint64(bar->maximum()) * step / 20) < 8192);
        before = top;
    }
    QVERIFY(m_view->isPositionVisible(text.size() - 1));
    bar->setValue(0);
    QVERIFY(m_view->isPositionVisible(0));

    // With no room for a line there is no page to move by.
    m_view->resize(m_view->width(), 2);
    QTest::keyClick(m_view.get(), Qt::Key_PageDown);
    QCOMPARE(m_view->topPosition(), 0);
}

void TestLargeTextView::linesAreTheSameWalkedDownAndUp()
{
    // Long lines with and without blanks, Chinese, short lines, CR, CR LF.
    QRandomGenerator random(20261208);
    QByteArray text;
    const QByteArray pieces[] = {"word ", "x", u8(u"中文"), "\r", "\r\n", "\n", "{\"a\":1},"};
    while (text.size() < 120000) {
        const QByteArray& piece = pieces[random.bounded(7)];
        text += piece.repeated(
            piece.endsWith('\n') || piece == "\r" ? 1 : int(random.bounded(1, 3000)));
    }
    show(text);
    std::vector<qint64> down{m_view->topPosition()};
    for (;;) {
        QTest::keyClick(m_view.get(), Qt::Key_Down);
        if (m_view->topPosition() == down.back())
            break;
        QVERIFY(m_view->topPosition() > down.back());
        down.push_back(m_view->topPosition());
    }
    QCOMPARE(m_view->verticalScrollBar()->value(), m_view->verticalScrollBar()->maximum());
    QVERIFY(m_view->isPositionVisible(text.size()));
    std::vector<qint64> up{down.back()};
    while (m_view->topPosition() > 0) {
        QTest::keyClick(m_view.get(), Qt::Key_Up);
        up.push_back(m_view->topPosition());
    }
    std::reverse(up.begin(), up.end());
    QCOMPARE(up, down);
    // Any position inside a line brings that line to the top.
    for (size_t i = 0; i + 1 < down.size(); i += 7) {
        const qint64 inside = down[i] + random.bounded(down[i + 1] - down[i]);
        m_view->scrollToPosition(inside);
        QCOMPARE(m_view->topPosition(), down[i]);
    }

    // A new text opens at its start, with nothing selected.
    QVERIFY(m_view->topPosition() > 0);
    m_view->selectAll();
    show(numberedLines(5000));
    QCOMPARE(m_view->topPosition(), 0);
    QVERIFY(!m_view->hasSelection());

    // Emptied, nothing is left to select or scroll.
    m_view->selectAll();
    m_view->clear();
    m_view->viewport()->repaint();
    QVERIFY(m_view->text().isEmpty());
    QVERIFY(!m_view->hasSelection());
    QCOMPARE(m_view->verticalScrollBar()->maximum(), 0);
    QTest::keyClick(m_view.get(), Qt::Key_PageDown);
    QCOMPARE(m_view->topPosition(), 0);
}

void TestLargeTextView::keysWheelAndBarArrowsMoveByLines_data()
{
    // Starting with line 50 at the top: what comes to the top. -1 stands
    // for "the first line that was not wholly shown", -2 for "a page up",
    // -3 for "the last page, down to the empty line after the last line
    // end"; a key by its name in a key sequence.
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<int>("topLine");
    QTest::newRow("Down") << QStringLiteral("Down") << 51;
    QTest::newRow("Up") << QStringLiteral("Up") << 49;
    QTest::newRow("wheel down one notch") << QStringLiteral("wheel-") << 50 + 3;
    QTest::newRow("wheel up one notch") << QStringLiteral("wheel+") << 50 - 3;
    QTest::newRow("wheel over the bar") << QStringLiteral("wheel-bar") << 50 + 3;
    QTest::newRow("bar arrow down") << QStringLiteral("bar+") << 51;
    QTest::newRow("bar arrow up") << QStringLiteral("bar-") << 49;
    QTest::newRow("PageDown") << QStringLiteral("PgDown") << -1;
    QTest::newRow("PageUp") << QStringLiteral("PgUp") << -2;
    QTest::newRow("End") << QStringLiteral("End") << -3;
}

void TestLargeTextView::keysWheelAndBarArrowsMoveByLines()
{
    QFETCH(QString, gesture);
    QFETCH(int, topLine);
    QApplication::setWheelScrollLines(3);
    const QByteArray text = numberedLines(1000);
    show(text);
    m_view->scrollToPosition(lineStart(text, 50));
    QCOMPARE(m_view->topPosition(), lineStart(text, 50));
    int firstHidden = 50;
    while (m_view->isPositionVisible(lineStart(text, firstHidden)))
        ++firstHidden;
    const int rows = firstHidden - 50;
    QVERIFY(rows > 5);

    const QPoint middle = m_view->viewport()->rect().center();
    if (gesture.startsWith(QLatin1String("wheel"))) {
        QWidget* under = gesture.endsWith(QLatin1String("bar"))
                             ? static_cast<QWidget*>(m_view->verticalScrollBar())
                             : m_view->viewport();
        QWheelEvent wheel(middle, under->mapToGlobal(middle), QPoint(),
                          QPoint(0, gesture.endsWith(QLatin1Char('+')) ? 120 : -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(under, &wheel);
    } else if (gesture.startsWith(QLatin1String("bar"))) {
        m_view->verticalScrollBar()->triggerAction(gesture.endsWith(QLatin1Char('+'))
                                                       ? QAbstractSlider::SliderSingleStepAdd
                                                       : QAbstractSlider::SliderSingleStepSub);
    } else {
        QTest::keySequence(m_view.get(), QKeySequence(gesture));
    }
    if (topLine == -1)
        topLine = firstHidden;
    if (topLine == -2)
        topLine = 50 - rows;
    if (topLine == -3)
        topLine = 1000 - rows + 1;
    QCOMPARE(m_view->topPosition(), lineStart(text, topLine));
    QCOMPARE(m_view->verticalScrollBar()->value(), int(lineStart(text, topLine)));
}

void TestLargeTextView::mouseSelectsAndDragsBelowTheView()
{
    const QByteArray text = "first line\nsecond words here\nthird\n" + numberedLines(500);
    show(text);
    // Press on one line, drag to the next.
    const QPoint to = m_view->cursorRect(17).center();
    QTest::mousePress(m_view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      m_view->cursorRect(6).center());
    moveMouse(to);
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    QCOMPARE(m_view->selectionStart(), 6);
    QCOMPARE(m_view->selectionEnd(), 17);
    QCOMPARE(m_view->selectedText(), QStringLiteral("line\nsecond"));

    // Shift+click moves the end, the start stays.
    clickAt(31, Qt::ShiftModifier);
    QCOMPARE(m_view->selectedText(), QStringLiteral("line\nsecond words here\nth"));
    // A click alone selects nothing; a double click a word.
    clickAt(13);
    QVERIFY(!m_view->hasSelection());
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier,
                       m_view->cursorRect(20).center());
    QCOMPARE(m_view->selectedText(), QStringLiteral("words"));

    // Held below the view, the drag scrolls and extends the selection
    // until the button is let go.
    QTest::mousePress(m_view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      m_view->cursorRect(2).center());
    const QPoint below(20, m_view->viewport()->height() + 40);
    moveMouse(below);
    QTRY_VERIFY(m_view->topPosition() > lineStart(text, 20));
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, below);
    const qint64 top = m_view->topPosition();
    QTest::qWait(150);
    QCOMPARE(m_view->topPosition(), top);
    QCOMPARE(m_view->selectionStart(), 2);
    QVERIFY(m_view->selectionEnd() > top); // down to the last line shown
}

void TestLargeTextView::paintsInThePalettesColours()
{
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Text, QColor(255, 0, 0));
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(0, 0, 200));
    palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0, 200, 0));
    m_view->setPalette(palette);
    QFont big = m_view->font();
    big.setPointSize(28);
    big.setBold(true);
    m_view->setFont(big);
    show("MMMM          b");
    m_view->setSelection(5, 12);
    // The selection keeps the active colour when the focus goes elsewhere.
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(!m_view->isActiveWindow());
    const QImage shot = m_view->viewport()->grab().toImage();
    QCOMPARE(QColor(shot.pixel(m_view->cursorRect(8).center())), QColor(0, 0, 200));
    QCOMPARE(QColor(shot.pixel(m_view->cursorRect(13).center() + QPoint(2, 0))),
             m_view->palette().color(QPalette::Inactive, QPalette::Base));
    int red = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red += c.red() > 240 && c.green() < 15 && c.blue() < 15;
        }
    }
    QVERIFY2(red > 50, qPrintable(QString::number(red)));
}

void TestLargeTextView::search_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("from");  // the caret before the search
    QTest::addColumn<int>("found"); // -1: none
    const int cased = QTextDocument::FindCaseSensitively, back = QTextDocument::FindBackward;
    const QByteArray abc = "Alpha beta ALPHA alpha";
    const QString alpha = QStringLiteral("alpha");
    QTest::newRow("case matched") << abc << alpha << cased << 0 << 17;
    QTest::newRow("case ignored") << abc << alpha << 0 << 1 << 11;
    QTest::newRow("backward") << abc << alpha << back << 11 << 0;
    QTest::newRow("past the last") << abc << alpha << cased << 18 << -1;
    QTest::newRow("before the first")
        << abc << QStringLiteral("Alpha") << (cased | back) << 0 << -1;
    const QByteArray kelvin = u8(u"ok \u212A!");
    QTest::newRow("Kelvin sign folds to k") << kelvin << QStringLiteral("k") << 0 << 2 << 3;
    QTest::newRow("Kelvin sign is no k with case")
        << kelvin << QStringLiteral("k") << cased << 2 << -1;
    QTest::newRow("long s folds to s") << u8(u"\u017Ftop") << QStringLiteral("STOP") << 0 << 0 << 0;
    QTest::newRow("Greek ignores case")
        << u8(u"abc ΑΒΓ αβγ") << QStringLiteral("αβγ") << back << 11 << 4;
    QTest::newRow("Chinese") << u8(u"中文网页 中文") << QStringLiteral("中文") << 0 << 3 << 13;
    // Matches across the seams of the megabyte chunks the search reads.
    const int mb = 1 << 20;
    const QByteArray seam = QByteArray(mb - 3, 'x') + u8(u"NeedleΑΒΓ") + QByteArray(mb, 'y');
    for (const int matchCase : {cased, 0}) {
        QTest::addRow("seam forward, match case %d", matchCase != 0)
            << seam << QStringLiteral("Needle") << matchCase << 0 << mb - 3;
        QTest::addRow("seam backward, match case %d", matchCase != 0)
            << seam << QStringLiteral("Needle") << (matchCase | back) << 2 * mb << mb - 3;
    }
    QTest::newRow("seam forward, folded") << seam << QStringLiteral("edleαβγ") << 0 << 0 << mb - 1;
    QTest::newRow("seam backward, folded")
        << seam << QStringLiteral("dleαβγ") << back << 2 * mb + 2 << mb;
}

void TestLargeTextView::search()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, needle);
    QFETCH(int, flags);
    QFETCH(int, from);
    QFETCH(int, found);
    show(text);
    m_view->setSelection(from, from);
    QCOMPARE(m_view->find(needle, QTextDocument::FindFlags(flags)), found >= 0);
    // Nothing changes when there is no match.
    QCOMPARE(m_view->selectionStart(), qint64(found >= 0 ? found : from));
    if (found >= 0) {
        QCOMPARE(m_view->selectedText().compare(needle, Qt::CaseInsensitive), 0);
        QVERIFY(m_view->isPositionVisible(found));
    }
}

QTEST_MAIN(TestLargeTextView)
#include "tst_largetextview.moc"

void TestLargeTextView::tripleClickSelectsTheLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("click");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end"); // with the line end
    QTest::newRow("middle line") << QByteArray("one\ntwo words\nthree") << qint64(6) << qint64(4)
                                 << qint64(14);
    QTest::newRow("CR LF line end")
        << QByteArray("a b\r\nc d\r\n") << qint64(1) << qint64(0) << qint64(5);
    QTest::newRow("last line, no end")
        << QByteArray("x\nlast line") << qint64(4) << qint64(2) << qint64(11);
    // A line wrapped over many rows is selected whole.
    QTest::newRow("wrapped line") << QByteArray(QByteArray(3000, 'w').replace(100, 1, " ") + "\nz")
                                  << qint64(10) << qint64(0) << qint64(3001);
}

void TestLargeTextView::tripleClickSelectsTheLine()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, click);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    show(text);
    const QPoint at = m_view->cursorRect(click).center() + QPoint(1, 0);
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mousePress(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(m_view->selectionStart(), start);
    QCOMPARE(m_view->selectionEnd(), end);
}

void TestLargeTextView::zoomIsTheViewsOwn_data()
{
    QTest::addColumn<QString>("gesture"); // keys in a key sequence, or the wheel with Ctrl
    QTest::addColumn<int>("zoom");
    QTest::newRow("Ctrl+plus") << QStringLiteral("Ctrl++") << 1;
    QTest::newRow("Ctrl+= (plus unshifted)") << QStringLiteral("Ctrl+=") << 1;
    QTest::newRow("Ctrl+minus") << QStringLiteral("Ctrl+-") << -1;
    QTest::newRow("Ctrl+wheel away") << QStringLiteral("wheel 240") << 2;
    QTest::newRow("Ctrl+wheel toward") << QStringLiteral("wheel -240") << -2;
    QTest::newRow("Ctrl+0 after plus") << QStringLiteral("Ctrl++, Ctrl+0") << 0;
}

void TestLargeTextView::zoomIsTheViewsOwn()
{
    QFETCH(QString, gesture);
    QFETCH(int, zoom);
    const QByteArray text = numberedLines(200);
    show(text);
    const QFont font = m_view->font();
    const int lineHeight = lineTop(lineStart(text, 1)) - lineTop(0);
    if (gesture.startsWith(QLatin1String("wheel "))) {
        const QPoint at(20, 20);
        QWheelEvent event(at, m_view->viewport()->mapToGlobal(at), QPoint(),
                          QPoint(0, gesture.mid(6).toInt()), Qt::NoButton, Qt::ControlModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_view->viewport(), &event);
    } else {
        QTest::keySequence(m_view.get(), QKeySequence(gesture));
    }
    QCOMPARE(m_view->zoom(), zoom);
    QCOMPARE(m_view->topPosition(), qint64(0)); // the wheel zoomed, it did not scroll
    QCOMPARE(m_view->font(), font);             // what the font command presets and stores
    QCOMPARE(m_view->shownFont().pointSizeF(), font.pointSizeF() + zoom);
    m_view->viewport()->repaint();
    const int zoomedHeight = lineTop(lineStart(text, 1)) - lineTop(0);
    QCOMPARE((zoomedHeight > lineHeight) - (zoomedHeight < lineHeight), (zoom > 0) - (zoom < 0));
}

void TestLargeTextView::screenReadersGetCharactersLinesAndWords_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("characters"); // what a screen reader is given
    const char16_t* lines = u"中文 😀 é\r\nsecond line\rafter a lone CR";
    QTest::newRow("Chinese, emoji, CR LF, CR") << u8(lines) << QString::fromUtf16(lines);
    QTest::newRow("controls are themselves")
        << QByteArray("a\0b\x01\tc\x7f", 7) << QString::fromLatin1("a\0b\x01\tc\x7f", 7);
    QTest::newRow("a byte that is not UTF-8 is one U+FFFD")
        << QByteArray("a\xff\xc3(z") << QString::fromUtf16(u"a\uFFFD\uFFFD(z");
    // Checkpoints every 64 KB: a text of many, with characters of every
    // width across them.
    QByteArray big;
    QString bigCharacters;
    for (int i = 0; big.size() < 600000; ++i) {
        const QString line = QStringLiteral("第%1行 word 😀 é\n").arg(i);
        big += line.toUtf8();
        bigCharacters += line;
    }
    QTest::newRow("600 KB") << big << bigCharacters;
}

void TestLargeTextView::screenReadersGetCharactersLinesAndWords()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, characters);
    show(text);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(m_view.get());
    QVERIFY(iface && iface->textInterface());
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QVERIFY(iface->state().readOnly && iface->state().multiLine);
    QAccessibleTextInterface* t = iface->textInterface();
    // Offsets from the end first, so that the index is built by a late query.
    const int n = int(characters.size());
    // Where lines start: after LF, after CR LF, after a lone CR.
    QList<int> starts{0};
    for (int i = 0; i < n; ++i) {
        const QChar c = characters.at(i);
        if (c == QLatin1Char('\n') ||
            (c == QLatin1Char('\r') && (i + 1 == n || characters.at(i + 1) != QLatin1Char('\n'))))
            starts << i + 1;
    }
    QList<int> offsets{n, n - 1, n / 2, 1, 0};
    QRandomGenerator random(7);
    for (int i = 0; i < 40; ++i)
        offsets << int(random.bounded(n + 1));
    for (int at : offsets) {
        const int to = std::min(n, at + 9);
        // Half a surrogate pair counts as the whole character's start.
        const auto whole = [&](int u) {
            return u > 0 && u < n && characters.at(u).isLowSurrogate() ? u - 1 : u;
        };
        QCOMPARE(t->text(at, to), characters.mid(whole(at), whole(to) - whole(at)));
        int start = -1, end = -1;
        const QString line = t->textAtOffset(at, QAccessible::LineBoundary, &start, &end);
        // The line holding `at` runs from the last line start at or before it.
        QCOMPARE(start, int(*std::prev(std::upper_bound(starts.begin(), starts.end(), at))));
        QCOMPARE(line, characters.mid(start, end - start));
    }
    QCOMPARE(t->characterCount(), n);
    // Selection and caret, both ways.
    t->setSelection(0, 1, 3);
    QCOMPARE(m_view->selectedText(), characters.mid(1, 2));
    int from = -1, to = -1;
    t->selection(0, &from, &to);
    QCOMPARE(QList<int>({from, to, t->cursorPosition()}), QList<int>({1, 3, 3}));
}
