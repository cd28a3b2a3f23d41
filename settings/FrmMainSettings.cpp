// Settings file, proxy values and the proxy indicator of the main window.

#include "app/untFrmMain.h"

#include "ui_untFrmMain.h"
#include "util/ProgramResources.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>

void TFrmMain::openSettings()
{
    const QString exe = m_env.executablePath.isEmpty() ? QCoreApplication::applicationFilePath()
                                                       : m_env.executablePath;
    SettingsFilePath = exe + QStringLiteral(".ini");
    HeadersFilePath = QFileInfo(exe).absolutePath() + QStringLiteral("/Headers.dat");
    LoadSettings();
}

void TFrmMain::LoadSettings()
{
    ui->cbbResultType->setCurrentIndex(0);
}

void TFrmMain::SaveSettings() {}

void TFrmMain::LoadProxySettings() {}

void TFrmMain::chkUseProxyClick()
{
    const QString name = ui->chkUseProxy->isChecked() ? QStringLiteral("BMP_EARTHGN")
                                                      : QStringLiteral("BMP_EARTHGY");
    imgStaBar->setPixmap(QPixmap(ProgramResources::pathOf(name, QStringLiteral("BITMAP"))));
}

void TFrmMain::mniProxyClick() {}
