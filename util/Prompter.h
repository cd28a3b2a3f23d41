#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <optional>

// Everything that asks the user something or shows a box goes through this
// interface, owned by the main window. The desktop implementation uses the
// standard Qt dialogs and the clipboard; tests install a scripted one that
// answers from a queue and records what was shown.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // A plain notice: caption the application title, no icon, the one button
    // "OK", centred on the screen. Returns when the user has dismissed it.
    virtual void showMessage(const QString& text) = 0;

    // A yes/no question with the given caption and no icon; true for Yes.
    virtual bool askYesNo(const QString& caption, const QString& text) = 0;

    // The default error box: caption the application title, error icon, OK.
    // `text` is shown as given (the caller has applied the full-stop rule).
    virtual void showError(const QString& text) = 0;

    struct SaveRequest
    {
        QString defaultSuffix;   // without the dot, e.g. "txt"
        QStringList nameFilters; // Qt filter strings, first one selected
        bool confirmOverwrite = true;
    };
    // The save dialog; an empty optional when the user cancelled.
    virtual std::optional<QString> askSaveFileName(const SaveRequest& request) = 0;

    struct FontChoice
    {
        QFont font;
        QColor color;
    };
    // The font dialog with effects (underline, strike-out, colour), preset
    // with `initial`; an empty optional when the user cancelled.
    virtual std::optional<FontChoice> askFont(const FontChoice& initial) = 0;

    // The clipboard's text; empty when it holds no text.
    virtual QString clipboardText() = 0;
    virtual void setClipboardText(const QString& text) = 0;
};
