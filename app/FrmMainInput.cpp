// Quick-input gestures and fonts of the main window.

#include "app/untFrmMain.h"

#include "app/LongLineEdit.h"
#include "app/StatusPanels.h"
#include "settings/SettingsStore.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/Prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <functional>
#include <utility>

// The search of the HTML memo: non-modal, kept while the window lives so
// that F3 can repeat the last search.
class TFindDialog : public QDialog
{
public:
    explicit TFindDialog(QWidget* parent) : QDialog(parent)
    {
        setObjectName(QStringLiteral("FindDialog1"));
        setWindowTitle(QStringLiteral("查找"));
        setModal(false);

        edtFindText = new QLineEdit(this);
        edtFindText->setObjectName(QStringLiteral("edtFindText"));
        auto* label = new QLabel(QStringLiteral("查找内容(&N):"), this);
        label->setBuddy(edtFindText);
        chkMatchCase = new QCheckBox(QStringLiteral("区分大小写(&C)"), this);
        chkMatchCase->setObjectName(QStringLiteral("chkMatchCase"));
        chkMatchCase->setChecked(true);
        auto* direction = new QGroupBox(QStringLiteral("方向"), this);
        rbUp = new QRadioButton(QStringLiteral("向上(&U)"), direction);
        rbUp->setObjectName(QStringLiteral("rbUp"));
        rbDown = new QRadioButton(QStringLiteral("向下(&D)"), direction);
        rbDown->setObjectName(QStringLiteral("rbDown"));
        rbDown->setChecked(true);
        auto* directionLayout = new QHBoxLayout(direction);
        directionLayout->addWidget(rbUp);
        directionLayout->addWidget(rbDown);
        btnFindNext = new QPushButton(QStringLiteral("查找下一个(&F)"), this);
        btnFindNext->setObjectName(QStringLiteral("btnFindNext"));
        btnFindNext->setDefault(true);
        btnFindNext->setEnabled(false);
        auto* cancel = new QPushButton(QStringLiteral("取消"), this);

        auto* grid = new QGridLayout(this);
        grid->addWidget(label, 0, 0);
        grid->addWidget(edtFindText, 0, 1, 1, 2);
        grid->addWidget(chkMatchCase, 1, 0, 1, 2);
        grid->addWidget(direction, 1, 2);
        auto* buttons = new QVBoxLayout;
        buttons->addWidget(btnFindNext);
        buttons->addWidget(cancel);
        buttons->addStretch();
        grid->addLayout(buttons, 0, 3, 2, 1);

        connect(edtFindText, &QLineEdit::textChanged, this,
                [this](const QString& text) { btnFindNext->setEnabled(!text.isEmpty()); });
        connect(cancel, &QPushButton::clicked, this, &QDialog::hide);
    }

    QLineEdit* edtFindText;
    QCheckBox* chkMatchCase;
    QRadioButton* rbUp;
    QRadioButton* rbDown;
    QPushButton* btnFindNext;
};

namespace {

// Qt fills the attributes a widget's font leaves open from its parent; a
// control with a font of its own must not take the window's bold or italic.
QFont ownFont(QFont font)
{
    font.setResolveMask(QFont::AllPropertiesResolved);
    return font;
}

const QPalette::ColorRole kTextRoles[] = {QPalette::WindowText, QPalette::ButtonText,
                                          QPalette::Text};

// The text colours the desktop gives `widget`, in every colour group.
void takeDesktopTextColours(QWidget* widget)
{
    const QPalette desktop = QApplication::palette(widget);
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : kTextRoles) {
        for (QPalette::ColorGroup group :
             {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setColor(group, role, desktop.color(group, role));
    }
    widget->setPalette(palette);
}

// Follows the desktop's palette while the program runs: a change of theme
// reaches every control by itself, except the colours set on purpose, which
// are set again over the new palette.
class ThemeFollower : public QObject
{
public:
    ThemeFollower(QWidget* window, std::function<void()> reapply)
        : QObject(window), m_reapply(std::move(reapply))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ApplicationPaletteChange)
            m_reapply();
        return false;
    }

private:
    std::function<void()> m_reapply;
};

// Opens the context menu of the control with the focus, as the Menu key does:
// at the caret or the current item, else at the control's top-left corner.
void openContextMenuOfFocus(QWidget* window)
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != window || !focus->isEnabled())
        return;
    QPoint at = focus->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
    if (!focus->rect().contains(at))
        at = QPoint(2, 2);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, focus->mapToGlobal(at),
                            Qt::NoModifier);
    QApplication::sendEvent(focus, &event);
}

int pointSizeOf(const QFont& font, const QWidget* widget)
{
    if (font.pointSizeF() > 0)
        return qRound(font.pointSizeF());
    if (font.pixelSize() > 0)
        return qRound(font.pixelSize() * 72.0 / widget->logicalDpiY());
    return 10;
}

// Red in the lowest byte, then green, then blue, as the settings file keeps it.
int colourNumber(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return rgb.red() | rgb.green() << 8 | rgb.blue() << 16;
}

void replaceWithClipboard(QLineEdit* edit, Prompter* prompter)
{
    // One step that undo takes back, of any length.
    static_cast<LongLineEdit*>(edit)->replaceAll(prompter->clipboardText());
}

} // namespace

bool TFrmMain::edtUrlKeyDown(QKeyEvent* event)
{
    // Main keyboard or keypad Enter, whatever modifiers are held.
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    ui->btnSendReqest->click();
    return true;
}

void TFrmMain::edtUrlDblClick()
{
    replaceWithClipboard(ui->edtUrl, m_prompter);
}

void TFrmMain::edtDataDblClick()
{
    replaceWithClipboard(ui->edtData, m_prompter);
}

void TFrmMain::mmoHtmlDblClick()
{
    m_prompter->setClipboardText(ui->mmoHtml->text());
}

bool TFrmMain::mmoHtmlKeyDown(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Find)) {
        showFindDialog();
        return true;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_F3 &&
        (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
        // Shift+F3 searches against the chosen direction.
        findInHtml(modifiers == Qt::ShiftModifier);
        return true;
    }
    return false;
}

void TFrmMain::showFindDialog()
{
    if (!FindDialog1) {
        FindDialog1 = new TFindDialog(this);
        connect(FindDialog1->btnFindNext, &QPushButton::clicked, this,
                [this] { guarded([this] { findInHtml(false); }); });
    }
    // A short selection on one line is the likely thing to look for.
    const LargeTextView* memo = ui->mmoHtml;
    if (memo->hasSelection() && memo->selectionEnd() - memo->selectionStart() <= 1024) {
        const QString selected = memo->selectedText();
        if (!selected.contains(QLatin1Char('\n')) && !selected.contains(QLatin1Char('\r')))
            FindDialog1->edtFindText->setText(selected);
    }
    FindDialog1->show();
    FindDialog1->raise();
    FindDialog1->activateWindow();
    FindDialog1->edtFindText->setFocus();
    FindDialog1->edtFindText->selectAll();
}

void TFrmMain::findInHtml(bool reverse)
{
    if (!FindDialog1 || FindDialog1->edtFindText->text().isEmpty()) {
        showFindDialog();
        return;
    }
    const QString text = FindDialog1->edtFindText->text();
    QTextDocument::FindFlags flags;
    if (FindDialog1->chkMatchCase->isChecked())
        flags |= QTextDocument::FindCaseSensitively;
    if (FindDialog1->rbUp->isChecked() != reverse)
        flags |= QTextDocument::FindBackward;
    if (!ui->mmoHtml->find(text, flags))
        m_prompter->showMessage(QStringLiteral("找不到“%1”").arg(text));
}

void TFrmMain::mniFontUIClick()
{
    // The dialog shows the colour the labels have: the desktop's until one
    // is chosen. Confirming that colour unchanged chooses none.
    const QColor shown = m_uiColorChosen ? UiFontColor : palette().color(QPalette::WindowText);
    const std::optional<Prompter::FontChoice> choice = m_prompter->askFont({font(), shown});
    if (!choice)
        return;
    applyInterfaceFont(choice->font,
                       m_uiColorChosen || choice->color != shown ? choice->color : QColor());
    if (!Settings)
        return;
    Settings->writeString("Options", "FontName", AnsiCodec::fromUnicode(choice->font.family()));
    Settings->writeInteger("Options", "Fontsize", pointSizeOf(choice->font, this));
    Settings->writeInteger("Options", "FontChartset", UiFontCharset);
}

void TFrmMain::mniFontHTMLClick()
{
    // As for the window font: the memo's colour is the desktop's until one is
    // chosen, and only a chosen colour is applied and stored, so that a new
    // size alone does not fix the text colour of today's theme for good.
    const QColor shown =
        m_htmlColorChosen ? HtmlFontColor : ui->mmoHtml->palette().color(QPalette::Text);
    const std::optional<Prompter::FontChoice> choice =
        m_prompter->askFont({ui->mmoHtml->font(), shown});
    if (!choice)
        return;
    const bool colourChosen = m_htmlColorChosen || choice->color != shown;
    applyHtmlFont(choice->font, colourChosen ? choice->color : QColor());
    if (!Settings)
        return;
    Settings->writeString("Options", "HTMLFontName", AnsiCodec::fromUnicode(choice->font.family()));
    Settings->writeInteger("Options", "HTMLFontsize", pointSizeOf(choice->font, this));
    if (colourChosen)
        Settings->writeInteger("Options", "HTMLFontColor", colourNumber(choice->color));
    Settings->writeInteger("Options", "HTMLFontChartset", HtmlFontCharset);
}

void TFrmMain::applyInterfaceFont(const QFont& font, const QColor& color)
{
    // The two check boxes, the HTML memo and the status bar (whose 22 pixels
    // hold a line of the design font only) keep their fonts; everything else
    // follows the window.
    for (QWidget* own :
         {static_cast<QWidget*>(ui->chkGetRespCookie), static_cast<QWidget*>(ui->chkUseProxy),
          static_cast<QWidget*>(ui->mmoHtml), static_cast<QWidget*>(m_statusBar)})
        own->setFont(ownFont(own->font()));
    setFont(font);
    // An invalid colour chooses none: the desktop's text colours stay.
    if (color.isValid()) {
        m_uiColorChosen = true;
        UiFontColor = color;
        applyChosenColours();
    }
}

void TFrmMain::applyHtmlFont(const QFont& font, const QColor& color)
{
    ui->mmoHtml->setFont(ownFont(font));
    if (color.isValid()) {
        m_htmlColorChosen = true;
        HtmlFontColor = color;
        applyChosenColours();
    }
}

void TFrmMain::applyChosenColours()
{
    if (m_uiColorChosen) {
        QPalette palette = this->palette();
        for (QPalette::ColorRole role : kTextRoles)
            palette.setColor(role, UiFontColor);
        setPalette(palette);
        // The controls with fonts of their own keep the desktop's colours too.
        for (QWidget* own :
             {static_cast<QWidget*>(ui->chkGetRespCookie), static_cast<QWidget*>(ui->chkUseProxy),
              static_cast<QWidget*>(ui->mmoHtml), static_cast<QWidget*>(m_statusBar)})
            takeDesktopTextColours(own);
    }
    if (m_htmlColorChosen) {
        QPalette palette = ui->mmoHtml->palette();
        palette.setColor(QPalette::Text, HtmlFontColor);
        ui->mmoHtml->setPalette(palette);
    }
}

void TFrmMain::attachDesktopIntegration()
{
    new ThemeFollower(this, [this] { applyChosenColours(); });
    // The Menu key opens a control's context menu through Qt; Shift+F10 is
    // the other key desktops give it.
    auto* contextKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    contextKey->setContext(Qt::WindowShortcut);
    connect(contextKey, &QShortcut::activated, this, [this] { openContextMenuOfFocus(this); });
    describeProxyIndicator();
}

void TFrmMain::describeProxyIndicator()
{
    if (!imgStaBar)
        return;
    const bool on = ui->chkUseProxy->isChecked();
    const QString name = on ? QStringLiteral("正在使用代理") : QStringLiteral("未使用代理");
    QString description = name;
    if (on) {
        description += ProxyAddress.isEmpty()
                           ? QStringLiteral("（未设置代理服务器）")
                           : QStringLiteral("：") + AnsiCodec::toUnicode(ProxyAddress);
    }
    imgStaBar->setAccessibleName(name);
    imgStaBar->setAccessibleDescription(description);
    imgStaBar->setToolTip(description);
}
