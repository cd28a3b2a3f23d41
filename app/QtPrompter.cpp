#include "app/QtPrompter.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QScreen>

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

} // namespace

void QtPrompter::showMessage(const QString& text)
{
    // Centred on the screen, as the notices are not tied to a window.
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    centreOnScreen(&box);
    box.exec();
}

bool QtPrompter::askYesNo(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No,
                    m_owner);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompter::showError(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, m_owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::optional<QString> QtPrompter::askSaveFileName(const SaveRequest& request)
{
    QFileDialog dialog(m_owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
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
    // Qt's font dialog offers face, size, style, underline and strike-out;
    // the colour stays as it was.
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial.font, m_owner);
    if (!ok)
        return std::nullopt;
    return FontChoice{font, initial.color};
}

QString QtPrompter::clipboardText()
{
    return QGuiApplication::clipboard()->text();
}

void QtPrompter::setClipboardText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
}
