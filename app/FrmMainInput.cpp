// Quick-input gestures and fonts of the main window.

#include "app/untFrmMain.h"

#include "app/StatusPanels.h"
#include "settings/SettingsStore.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/Prompter.h"

#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

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

void keepOwnFontAndColours(QWidget* widget)
{
    widget->setFont(ownFont(widget->font()));
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(role, palette.color(role));
    widget->setPalette(palette);
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
    // Through clear() and insert() so that undo brings the old text back.
    edit->clear();
    edit->insert(prompter->clipboardText());
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
    const std::optional<Prompter::FontChoice> choice = m_prompter->askFont({font(), UiFontColor});
    if (!choice)
        return;
    applyInterfaceFont(choice->font, choice->color);
    if (!Settings)
        return;
    Settings->writeString("Options", "FontName", AnsiCodec::fromUnicode(choice->font.family()));
    Settings->writeInteger("Options", "Fontsize", pointSizeOf(choice->font, this));
    Settings->writeInteger("Options", "FontChartset", UiFontCharset);
}

void TFrmMain::mniFontHTMLClick()
{
    const std::optional<Prompter::FontChoice> choice =
        m_prompter->askFont({ui->mmoHtml->font(), HtmlFontColor});
    if (!choice)
        return;
    applyHtmlFont(choice->font, choice->color);
    if (!Settings)
        return;
    Settings->writeString("Options", "HTMLFontName", AnsiCodec::fromUnicode(choice->font.family()));
    Settings->writeInteger("Options", "HTMLFontsize", pointSizeOf(choice->font, this));
    Settings->writeInteger("Options", "HTMLFontColor", colourNumber(choice->color));
    Settings->writeInteger("Options", "HTMLFontChartset", HtmlFontCharset);
}

void TFrmMain::applyInterfaceFont(const QFont& font, const QColor& color)
{
    // The two check boxes, the HTML memo and the status bar (whose 22 pixels
    // hold a line of the design font only) keep what they have; everything
    // else follows the window.
    for (QWidget* own :
         {static_cast<QWidget*>(ui->chkGetRespCookie), static_cast<QWidget*>(ui->chkUseProxy),
          static_cast<QWidget*>(ui->mmoHtml), static_cast<QWidget*>(m_statusBar)})
        keepOwnFontAndColours(own);
    setFont(font);
    // Only a colour the user changed is applied, so that until then the
    // desktop's own text colours (a dark theme, say) stay as they are.
    if (color != UiFontColor) {
        QPalette palette = this->palette();
        for (QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            palette.setColor(role, color);
        setPalette(palette);
    }
    UiFontColor = color;
}

void TFrmMain::applyHtmlFont(const QFont& font, const QColor& color)
{
    ui->mmoHtml->setFont(ownFont(font));
    QPalette palette = ui->mmoHtml->palette();
    palette.setColor(QPalette::Text, color);
    ui->mmoHtml->setPalette(palette);
    HtmlFontColor = color;
}
