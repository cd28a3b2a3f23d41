#pragma once

#include "util/Prompter.h"

#include <QList>
#include <QQueue>

// Answers prompts from queues filled by the test and records everything shown.
// A question that finds its queue empty fails the test, so an unexpected
// prompt never passes unnoticed.
class ScriptedPrompter : public Prompter
{
public:
    struct Question
    {
        QString caption;
        QString text;
    };

    // Scripted answers, consumed in order.
    QQueue<bool> yesNoAnswers;
    QQueue<std::optional<QString>> saveAnswers;
    QQueue<std::optional<FontChoice>> fontAnswers;
    QString clipboard;

    // What was shown.
    QStringList messages;
    QStringList errors;
    QList<Question> questions;
    QList<SaveRequest> saveRequests;
    QList<FontChoice> fontRequests;

    void showMessage(const QString& text) override;
    bool askYesNo(const QString& caption, const QString& text) override;
    void showError(const QString& text) override;
    std::optional<QString> askSaveFileName(const SaveRequest& request) override;
    std::optional<FontChoice> askFont(const FontChoice& initial) override;
    QString clipboardText() override { return clipboard; }
    void setClipboardText(const QString& text) override { clipboard = text; }
};
