#pragma once

#include <QDialog>
#include <QObject>
#include <QString>

class QCheckBox;
class QLineEdit;

// A page's alert, confirm or prompt. From the second of a page on it offers
// to block that page's further dialogs.
class PageDialog : public QDialog
{
    Q_OBJECT
public:
    enum Kind
    {
        Alert,
        Confirm,
        Prompt,
    };

    PageDialog(QWidget* parent, Kind kind, const QString& origin, const QString& message,
               const QString& defaultText, bool offerBlock);

    QString text() const;
    bool blockRequested() const;

    // Shows the dialog and waits for its answer without making it modal: the
    // window behind takes no input meanwhile but can still be closed, which
    // rejects the dialog. True when it was accepted.
    bool ask();

private:
    QLineEdit* m_edit = nullptr;
    QCheckBox* m_block = nullptr;
};

// While it lives, user input (keys, mouse, wheel, touch, context menus) goes
// to the windows of `allowed` only; window-system requests such as closing
// still reach every window.
class InputGate : public QObject
{
public:
    explicit InputGate(QWidget* allowed);
    ~InputGate() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_allowed;
};
