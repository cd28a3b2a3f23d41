#include "headers/untFrmHeader.h"

#include "headers/ImportReqHeaders.h"
#include "ui_untFrmHeader.h"
#include "util/Anchors.h"
#include "util/AnsiCodec.h"
#include "util/ProgramResources.h"
#include "util/Prompter.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPointer>

#include <utility>

namespace {

const QString kAddCaption = QStringLiteral("添加");

} // namespace

TFrmHeader::TFrmHeader(HeaderList* rows, Prompter* prompter, ErrorGuard guard, QWidget* owner)
    : QWidget(owner, Qt::Window), m_rows(rows), m_prompter(prompter), m_guard(std::move(guard)),
      ui(std::make_unique<Ui::TFrmHeader>())
{
    // FormCreate: the presets first, so that a missing resource leaves no
    // half-built window behind.
    FHeaderOptionList = ParseHeaderOptions(
        ProgramResources::load(QStringLiteral("HeaderOptions"), QStringLiteral("TXT")));

    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The owner's interface font as a whole, its colour included.
    setFont(owner->font());
    setPalette(owner->palette());
    ui->cbbHeaderNames->setCurrentIndex(-1);
    ui->cbbHeaderOptions->hide();

    auto* anchors = new Anchors(this, QSize(503, 308));
    anchors->add(ui->mmoHeaderValue, Anchors::All);
    anchors->add(ui->btnEdit, Anchors::Left | Anchors::Bottom);
    anchors->add(ui->btnCancle, Anchors::Right | Anchors::Bottom);
    anchors->add(ui->cbbHeaderOptions, Anchors::Left | Anchors::Top | Anchors::Right);

    bindHandlers();
    ui->mmoHeaderValue->setFocus();
    move(owner->frameGeometry().center() - rect().center());
}

TFrmHeader::~TFrmHeader() = default;

void TFrmHeader::bindHandlers()
{
    const auto guard = [this](void (TFrmHeader::*handler)()) {
        return [this, handler] { m_guard([=] { (this->*handler)(); }); };
    };
    connect(ui->edtHeaderName, &QLineEdit::textChanged, this,
            guard(&TFrmHeader::edtHeaderNameChange));
    connect(ui->cbbHeaderNames, &QComboBox::activated, this,
            guard(&TFrmHeader::cbbHeaderNamesClick));
    connect(ui->chkHeaderLowerCase, &QCheckBox::toggled, this,
            guard(&TFrmHeader::chkHeaderLowerCaseClick));
    connect(ui->cbbHeaderOptions, &QComboBox::activated, this,
            guard(&TFrmHeader::cbbHeaderOptionsClick));
    connect(ui->btnEdit, &QPushButton::clicked, this, guard(&TFrmHeader::btnEditClick));
    connect(ui->btnCancle, &QPushButton::clicked, this, guard(&TFrmHeader::btnCancleClick));
    ui->mmoHeaderValue->installEventFilter(this);
    ui->mmoHeaderValue->viewport()->installEventFilter(this);
}

bool TFrmHeader::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->mmoHeaderValue && event->type() == QEvent::KeyPress) {
        // A value is one header line: Enter never starts a new one.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    } else if (watched == ui->mmoHeaderValue->viewport() &&
               event->type() == QEvent::MouseButtonDblClick) {
        m_guard([this] { mmoHeaderValueDblClick(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QByteArray TFrmHeader::nameText() const
{
    return JoinValueLines(AnsiCodec::fromUnicode(ui->edtHeaderName->text()));
}

QByteArray TFrmHeader::valueText() const
{
    // The memo's own line separators would otherwise reach the code page as '?'.
    QString text = ui->mmoHeaderValue->toPlainText();
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return JoinValueLines(AnsiCodec::fromUnicode(text));
}

void TFrmHeader::setNameText(const QByteArray& name)
{
    ui->edtHeaderName->setText(AnsiCodec::toUnicode(name));
}

void TFrmHeader::setValueText(const QByteArray& value)
{
    ui->mmoHeaderValue->setPlainText(AnsiCodec::toUnicode(value));
}

void TFrmHeader::SetEditItem(int row)
{
    FEditItem = m_rows->idAt(row);
    setNameText(m_rows->name(row));
    setValueText(m_rows->value(row));
    setWindowTitle(QStringLiteral("头部字段编辑"));
    ui->btnEdit->setText(QStringLiteral("修改"));
    ui->edtHeaderName->setEnabled(false);
    ui->cbbHeaderNames->hide();
}

void TFrmHeader::edtHeaderNameChange()
{
    QComboBox* options = ui->cbbHeaderOptions;
    options->hide();
    options->clear();
    const ByteList presets = HeaderPresetsFor(FHeaderOptionList, nameText());
    if (presets.isEmpty())
        return;
    for (const QByteArray& value : presets)
        options->addItem(AnsiCodec::toUnicode(value));
    options->setCurrentIndex(-1);
    options->show();
}

void TFrmHeader::cbbHeaderNamesClick()
{
    setNameText(AnsiCodec::fromUnicode(ui->cbbHeaderNames->currentText()));
    if (ui->chkHeaderLowerCase->isChecked())
        setNameText(AnsiLowerCase(nameText()));
}

void TFrmHeader::chkHeaderLowerCaseClick()
{
    if (ui->chkHeaderLowerCase->isChecked())
        setNameText(AnsiLowerCase(nameText()));
}

void TFrmHeader::cbbHeaderOptionsClick()
{
    setValueText(AnsiCodec::fromUnicode(ui->cbbHeaderOptions->currentText()));
}

void TFrmHeader::mmoHeaderValueDblClick()
{
    ui->mmoHeaderValue->clear();
    const QByteArray pasted = AnsiCodec::fromUnicode(m_prompter->clipboardText());
    setValueText(JoinValueLines(pasted));
}

void TFrmHeader::btnEditClick()
{
    const QByteArray name = nameText();
    const QByteArray value = valueText();
    if (ui->btnEdit->text() == kAddCaption) {
        if (name.isEmpty()) {
            m_prompter->showMessage(QStringLiteral("字段名不能为空"));
            return;
        }
        // The exists message is modal; the editor closes whatever it says.
        QPointer<TFrmHeader> self(this);
        m_rows->AddReqHeader(name, value);
        if (self)
            close();
        return;
    }

    const int row = FEditItem ? m_rows->rowOfId(*FEditItem) : -1;
    if (row < 0) {
        // The row was deleted while the editor was open. The editor stays
        // open so that the typed value is not lost.
        m_prompter->showMessage(QStringLiteral("字段 ") + AnsiCodec::toUnicode(name) +
                                QStringLiteral(" 已不在列表中，修改未保存"));
        return;
    }
    m_rows->setName(row, name);
    m_rows->setValue(row, value);
    close();
}

void TFrmHeader::btnCancleClick()
{
    close();
}
