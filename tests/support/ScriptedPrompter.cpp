#include "support/ScriptedPrompter.h"

#include <QTest>

void ScriptedPrompter::showMessage(const QString& text)
{
    messages.append(text);
}

bool ScriptedPrompter::askYesNo(const QString& caption, const QString& text)
{
    questions.append({caption, text});
    if (yesNoAnswers.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected question: ") + text), __FILE__,
                     __LINE__);
        return false;
    }
    return yesNoAnswers.dequeue();
}

void ScriptedPrompter::showError(const QString& text)
{
    errors.append(text);
}

std::optional<QString> ScriptedPrompter::askSaveFileName(const SaveRequest& request)
{
    saveRequests.append(request);
    if (saveAnswers.isEmpty()) {
        QTest::qFail("unexpected save dialog", __FILE__, __LINE__);
        return std::nullopt;
    }
    return saveAnswers.dequeue();
}

std::optional<Prompter::FontChoice> ScriptedPrompter::askFont(const FontChoice& initial)
{
    fontRequests.append(initial);
    if (fontAnswers.isEmpty()) {
        QTest::qFail("unexpected font dialog", __FILE__, __LINE__);
        return std::nullopt;
    }
    return fontAnswers.dequeue();
}
