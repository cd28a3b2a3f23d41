#include "app/QtPrompter.h"

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <utility>

namespace {

QString applicationTitle()
{
    return QCoreApplication::applicationName();
}

void centreOnScreen(QWidget* box)
{
    box->adjustSize();
    if (const QScreen* screen = box->screen())
        box->move(screen->availableGeometry().center() - box->rect().center());
}

// The program's own boxes keep their buttons as they always read, whatever
// language Qt's standard texts are in.
void keepButtonTexts(QMessageBox& box)
{
    const std::pair<QMessageBox::StandardButton, const char*> texts[] = {
        {QMessageBox::Ok, "OK"}, {QMessageBox::Yes, "&Yes"}, {QMessageBox::No, "&No"}};
    for (const auto& [which, text] : texts) {
        if (QAbstractButton* button = box.button(which))
            button->setText(QString::fromLatin1(text));
    }
}

// The face the font engine draws a font with: for a name that exists here
// only as a substitute ("微软雅黑" drawn with WenQuanYi Micro Hei) or not at
// all, the face that stands in for it.
QFont withFaceInUse(QFont font)
{
    font.setFamily(QFontInfo(font).family());
    return font;
}

// What the user chose, as changes to the font the dialog was opened on:
// whatever was left as the dialog showed it keeps its value from before, so
// that OK without a change gives back the same font, face name included, and
// a new size does not turn "微软雅黑" into the name of its stand-in.
QFont applyChanges(QFont font, const QFont& shown, const QFont& chosen)
{
    if (chosen.family() != shown.family())
        font.setFamily(chosen.family());
    if (chosen.styleName() != shown.styleName() || chosen.weight() != shown.weight() ||
        chosen.style() != shown.style()) {
        font.setStyleName(chosen.styleName());
        font.setWeight(chosen.weight());
        font.setStyle(chosen.style());
    }
    if (chosen.pointSizeF() != shown.pointSizeF())
        font.setPointSizeF(chosen.pointSizeF());
    if (chosen.underline() != shown.underline())
        font.setUnderline(chosen.underline());
    if (chosen.strikeOut() != shown.strikeOut())
        font.setStrikeOut(chosen.strikeOut());
    return font;
}

// Qt's font dialog (face, style, size, underline, strike-out) with a colour
// choice under it, confirmed or cancelled as one.
class FontEffectsDialog : public QDialog
{
public:
    FontEffectsDialog(const QFont& font, const QColor& color, QWidget* parent)
        : QDialog(parent), m_initial(font), m_color(color.isValid() ? color : QColor(Qt::black))
    {
        setObjectName(QStringLiteral("dlgFont1"));
        setWindowTitle(QStringLiteral("字体"));
        m_fontDialog = new QFontDialog(this);
        m_fontDialog->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
        m_fontDialog->setWindowFlags(Qt::Widget);
        // The dialog knows only the faces installed here; given a name it
        // lacks, it would show (and give back) its first face instead.
        m_fontDialog->setCurrentFont(withFaceInUse(font));
        m_shown = m_fontDialog->currentFont();
        if (auto* sample =
                m_fontDialog->findChild<QLineEdit*>(QStringLiteral("qt_fontDialog_sampleEdit")))
            sample->setText(QStringLiteral("AaBbYyZz 中文字体示例"));
        // Enter or Escape inside the embedded dialog ends the whole choice.
        connect(m_fontDialog, &QDialog::accepted, this, &QDialog::accept);
        connect(m_fontDialog, &QDialog::rejected, this, &QDialog::reject);

        m_colorButton = new QPushButton(QStringLiteral("颜色(&C)..."), this);
        m_colorButton->setObjectName(QStringLiteral("btnFontColor"));
        connect(m_colorButton, &QPushButton::clicked, this, &FontEffectsDialog::chooseColor);
        auto* colorRow = new QHBoxLayout;
        colorRow->addWidget(new QLabel(QStringLiteral("颜色:"), this));
        colorRow->addWidget(m_colorButton);
        colorRow->addStretch();

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_fontDialog);
        layout->addLayout(colorRow);
        layout->addWidget(buttons);
        showColor();
    }

    QFont selectedFont() const
    {
        return applyChanges(m_initial, m_shown, m_fontDialog->currentFont());
    }
    QColor selectedColor() const { return m_color; }
    void setSelectedColor(const QColor& color)
    {
        m_color = color;
        showColor();
    }

private:
    void chooseColor()
    {
        const QColor chosen = QColorDialog::getColor(m_color, this, QStringLiteral("颜色"));
        if (chosen.isValid())
            setSelectedColor(chosen);
    }

    void showColor()
    {
        QPixmap swatch(24, 14);
        swatch.fill(m_color);
        QPainter(&swatch).drawRect(swatch.rect().adjusted(0, 0, -1, -1));
        m_colorButton->setIcon(QIcon(swatch));
        // The dialog's own sample line shows the colour too, when Qt names it.
        if (auto* sample =
                m_fontDialog->findChild<QLineEdit*>(QStringLiteral("qt_fontDialog_sampleEdit"))) {
            QPalette palette = sample->palette();
            palette.setColor(QPalette::Text, m_color);
            sample->setPalette(palette);
        }
    }

    QFont m_initial;
    QFont m_shown; // as the dialog showed it when it opened
    QFontDialog* m_fontDialog;
    QPushButton* m_colorButton;
    QColor m_color;
};

} // namespace

void QtPrompter::showMessage(const QString& text)
{
    // Centred on the screen, as the notices are not tied to a window.
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    keepButtonTexts(box);
    centreOnScreen(&box);
    box.exec();
}

bool QtPrompter::askYesNo(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No,
                    m_owner);
    box.setTextFormat(Qt::PlainText);
    keepButtonTexts(box);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompter::showError(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, m_owner);
    box.setTextFormat(Qt::PlainText);
    keepButtonTexts(box);
    box.exec();
}

std::optional<QString> QtPrompter::askSaveFileName(const SaveRequest& request)
{
    QFileDialog dialog(m_owner);
    dialog.setObjectName(QStringLiteral("dlgSave1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The filter list shows the designed names alone, not the patterns again.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.nameFilters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<Prompter::FontChoice> QtPrompter::askFont(const FontChoice& initial)
{
    FontEffectsDialog dialog(initial.font, initial.color, m_owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return FontChoice{dialog.selectedFont(), dialog.selectedColor()};
}

QString QtPrompter::clipboardText()
{
    return QGuiApplication::clipboard()->text();
}

void QtPrompter::setClipboardText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
}
