#include "extras/untFrmNote.h"

#include "extras/VersionUnit.h"
#include "request/UTF8Unit.h"
#include "ui_untFrmNote.h"
#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"
#include "util/ProgramResources.h"

#include <QGridLayout>

namespace {

QByteArray joinLines(const ByteList& lines)
{
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line + "\r\n";
    return text;
}

} // namespace

TfrmNote::TfrmNote(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmNote>())
{
    ui->setupUi(this);
    // Close and maximize boxes, no minimize box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    FormCreate();
}

TfrmNote::~TfrmNote() = default;

void TfrmNote::FormCreate()
{
    const QString designFace = QStringLiteral("微软雅黑");
    const QString fallbackFace = QStringLiteral("宋体");
    QFont memoFont = ui->Memo1->font();
    if (!IsFontInstalled(designFace) && IsFontInstalled(fallbackFace)) {
        QFont own = font();
        own.setFamily(fallbackFace);
        own.setPointSize(11);
        setFont(own);
        memoFont.setFamily(fallbackFace);
    }
    memoFont.setPointSize(11);
    ui->Memo1->setFont(memoFont);
    QPalette black = ui->Memo1->palette();
    black.setColor(QPalette::Text, Qt::black);
    ui->Memo1->setPalette(black);

    // The pane keeps its design distances to all four sides (5, 1, 1, 10 at
    // the design size), so it grows and shrinks with the window.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(5, 1, width() - 5 - ui->Memo1->width(),
                               height() - 1 - ui->Memo1->height());
    layout->addWidget(ui->Memo1, 0, 0);
}

QByteArray TfrmNote::ResourceTextForDisplay(const QByteArray& bytes)
{
    QByteArray text = joinLines(SplitString(bytes, QByteArray()));
    if (IsUTF8Encoded(text))
        text = joinLines(SplitString(AnsiCodec::utf8ToAnsi(text), QByteArray()));
    return text;
}

void TfrmNote::ShowResourceText(const QString& name, const QString& type)
{
    const QByteArray text = ResourceTextForDisplay(ProgramResources::load(name, type));
    ui->Memo1->setPlainText(AnsiCodec::toUnicode(text));
}
