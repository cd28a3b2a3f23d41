#include "extras/untFrmAbout.h"

#include "extras/VersionUnit.h"
#include "ui_untFrmAbout.h"
#include "util/AnsiCodec.h"
#include "util/ProgramResources.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QPixmap>

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmAbout>())
{
    ui->setupUi(this);
    // A fixed border with the close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());
    loadPicture();
    FormCreate();
}

TfrmAbout::~TfrmAbout() = default;

void TfrmAbout::FormCreate()
{
    // Black text as designed, whatever the desktop's colours; the blue and
    // grey labels keep their own.
    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    setPalette(black);
    TFileVersionInfo info;
    ReadFileVersionInfo(QCoreApplication::applicationFilePath(), info);
    const QString title = QCoreApplication::applicationName();
    const QString version = GetAppVersion();
    setWindowTitle(QStringLiteral("关于 ") + title + QStringLiteral(" v") + version);
    ui->lblTitle->setText(title);
    ui->lblAuthor->setText(AnsiCodec::toUnicode(info.CompanyName));
    ui->lblVersion->setText(QStringLiteral("版本:  ") + version);
}

void TfrmAbout::loadPicture()
{
    // Decoded by the JPEG image plugin by name, so a missing plugin shows as
    // a missing picture rather than some other decoder's guess.
    QImageReader reader(ProgramResources::pathOf(QStringLiteral("ABOUT"), QStringLiteral("JPEG")),
                        "jpeg");
    const QImage picture = reader.read();
    if (picture.isNull()) {
        qWarning("The About picture could not be decoded: %s", qPrintable(reader.errorString()));
        return;
    }
    ui->Image1->setPixmap(QPixmap::fromImage(picture));
    ui->Image1->resize(picture.size());
}
