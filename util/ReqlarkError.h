#pragma once

#include <QString>

#include <functional>
#include <stdexcept>

// The one error type that leaves a routine with something to tell the user.
// The text says what failed, on which thing (host, file path) and why; the
// caller decides how to show it (the main window's guard shows the error box).
class ReqlarkError : public std::runtime_error
{
public:
    explicit ReqlarkError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};

// Runs a handler so that an error escaping it is shown to the user, and
// everything the handler did before the error stays done. The main window
// owns the one real guard; windows and dialogs it opens are handed it.
using ErrorGuard = std::function<void(const std::function<void()>&)>;
