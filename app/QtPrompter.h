#pragma once

#include "util/Prompter.h"

class QWidget;

// The desktop prompter: standard Qt message boxes and dialogs, the system
// clipboard.
class QtPrompter final : public Prompter
{
public:
    explicit QtPrompter(QWidget* owner) : m_owner(owner) {}

    void showMessage(const QString& text) override;
    bool askYesNo(const QString& caption, const QString& text) override;
    void showError(const QString& text) override;
    std::optional<QString> askSaveFileName(const SaveRequest& request) override;
    std::optional<FontChoice> askFont(const FontChoice& initial) override;
    QString clipboardText() override;
    void setClipboardText(const QString& text) override;

private:
    QWidget* m_owner;
};
