#include "results/PageDialog.h"

#include "util/InputGuard.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

PageDialog::PageDialog(QWidget* parent, Kind kind, const QString& origin, const QString& message,
                       const QString& defaultText, bool offerBlock)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("PageDialog"));
    setWindowTitle(QStringLiteral("网页消息"));
    auto* layout = new QVBoxLayout(this);

    auto* heading = new QLabel(origin.isEmpty() ? QStringLiteral("此网页显示：")
                                                : QStringLiteral("%1 显示：").arg(origin),
                               this);
    heading->setTextFormat(Qt::PlainText);
    layout->addWidget(heading);

    auto* text = new QLabel(message, this);
    text->setObjectName(QStringLiteral("message"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setMinimumWidth(360);
    layout->addWidget(text);

    if (kind == Prompt) {
        m_edit = new QLineEdit(defaultText, this);
        m_edit->setObjectName(QStringLiteral("answer"));
        layout->addWidget(m_edit);
    }
    if (offerBlock) {
        m_block = new QCheckBox(QStringLiteral("阻止此页面再显示对话框"), this);
        m_block->setObjectName(QStringLiteral("blockDialogs"));
        layout->addWidget(m_block);
    }

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole)->setDefault(true);
    if (kind != Alert)
        buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString PageDialog::text() const
{
    return m_edit ? m_edit->text() : QString();
}

bool PageDialog::blockRequested() const
{
    return m_block && m_block->isChecked();
}

bool PageDialog::ask()
{
    // A modal dialog would keep the window behind from being closed (the
    // window system's close request is not delivered to a blocked window),
    // and a page can ask again and again. So the dialog stays modeless and
    // the input gate keeps the rest of the program still instead.
    QPointer<PageDialog> self(this);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    const InputGate gate(this);
    // A request or a page the window waits for drops the user's input; the
    // dialog is answered before that wait can end.
    InputGuard::allowInput(this);
    InputGuard::allowInput(windowHandle());
    show();
    InputGuard::allowInput(windowHandle());
    raise();
    activateWindow();
    loop.exec();
    return self && result() == QDialog::Accepted;
}

InputGate::InputGate(QWidget* allowed) : m_allowed(allowed)
{
    qApp->installEventFilter(this);
}

InputGate::~InputGate()
{
    qApp->removeEventFilter(this);
}

bool InputGate::eventFilter(QObject* watched, QEvent* event)
{
    if (!InputGuard::isUserInput(event))
        return false;
    QWidget* widget = nullptr;
    if (watched->isWidgetType()) {
        widget = static_cast<QWidget*>(watched);
    } else if (watched->isWindowType()) {
        const auto* window = static_cast<QWindow*>(watched);
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->windowHandle() == window)
                widget = top;
        }
    }
    // The dialog's own popups (a text field's menu) are windows of their own.
    for (; widget; widget = widget->parentWidget()) {
        if (widget == m_allowed)
            return false;
    }
    // A key taken as a shortcut somewhere else would still act.
    if (event->type() == QEvent::ShortcutOverride)
        event->accept();
    return true;
}
