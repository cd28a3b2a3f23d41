// Settings file, proxy values and the proxy indicator of the main window.

#include "app/untFrmMain.h"

#include "settings/ConfigLocation.h"
#include "settings/SettingsStore.h"
#include "settings/untFrmProxy.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"
#include "util/ProgramResources.h"
#include "util/ReqlarkError.h"

#include <QCoreApplication>
#include <QLabel>

#include <exception>

namespace {

const char kHistory[] = "History";
const char kOptions[] = "Options";

QByteArray defaultFace()
{
    return AnsiCodec::fromUnicode(QStringLiteral("微软雅黑"));
}

QString text(const QByteArray& ansi)
{
    return AnsiCodec::toUnicode(ansi);
}

// A stored colour: red in the lowest byte, then green, then blue.
QColor colorFromNumber(int number)
{
    const auto bits = quint32(number);
    return QColor(int(bits & 0xFF), int((bits >> 8) & 0xFF), int((bits >> 16) & 0xFF));
}

void setPointSize(QFont& font, int points)
{
    if (points > 0) // the font engine refuses the rest; the size then stays
        font.setPointSize(points);
}

// A key written by an INI line never holds a line break, so this default
// tells an absent key from every stored value.
const QByteArray kAbsent = QByteArrayLiteral("\n");

} // namespace

void TFrmMain::openSettings()
{
    const QString exe = m_env.executablePath.isEmpty() ? QCoreApplication::applicationFilePath()
                                                       : m_env.executablePath;
    const ConfigLocation where = LocateConfig(CurrentConfigFacts(exe));
    SettingsFilePath = where.settingsFile;
    HeadersFilePath = where.headersFile;
    attachDesktopIntegration();
    // A folder that cannot be made or an earlier pair that cannot be carried
    // over is told; the start goes on with what there is.
    guarded([&where] { PrepareConfigFolder(where); });
    Settings = std::make_shared<SettingsStore>(SettingsFilePath);

    // As designed the lists have no selection; the load gives them one, and a
    // load that stops early leaves the rest as designed.
    ui->cbbMethod->setCurrentIndex(-1);
    ui->cbbComponent->setCurrentIndex(-1);
    ui->cbbResultType->setCurrentIndex(-1);
    try {
        LoadSettings();
    } catch (const std::exception&) {
        // A damaged file: the next close writes a fresh one from what the
        // window shows. The header list file was not read and stays as it is.
        Settings->remove();
    }
}

void TFrmMain::LoadSettings()
{
    const SettingsStore& ini = *Settings;

    ui->edtUrl->setText(text(ini.readString(kHistory, "URL")));
    ui->edtData->setText(text(ini.readString(kHistory, "PSData")));
    ui->cbbMethod->setCurrentIndex(ini.readInteger(kHistory, "Method", 0));
    ui->cbbComponent->setCurrentIndex(ini.readInteger(kHistory, "HttpComponent", 0));
    resize(ini.readInteger(kHistory, "WindowWidth", 900), height());
    resize(width(), ini.readInteger(kHistory, "WindowHeight", 700));

    // Each font property takes effect as it is read, so a bad size still
    // leaves the face that was read before it.
    QFont uiFont = font();
    uiFont.setFamily(text(ini.readString(kOptions, "FontName", defaultFace())));
    applyInterfaceFont(uiFont, QColor());
    setPointSize(uiFont, ini.readInteger(kOptions, "Fontsize", 10));
    applyInterfaceFont(uiFont, QColor());
    UiFontCharset = ini.readInteger(kOptions, "FontChartset", 134);

    QFont htmlFont = ui->mmoHtml->font();
    htmlFont.setFamily(text(ini.readString(kOptions, "HTMLFontName", defaultFace())));
    applyHtmlFont(htmlFont, QColor());
    setPointSize(htmlFont, ini.readInteger(kOptions, "HTMLFontsize", 10));
    applyHtmlFont(htmlFont, QColor());
    // Only the font command writes the colour: without the key the user never
    // chose one, and the memo keeps the desktop's text colour (a stored 0
    // is a chosen black).
    const int colour = ini.readInteger(kOptions, "HTMLFontColor", 0);
    if (ini.readString(kOptions, "HTMLFontColor", kAbsent) != kAbsent)
        applyHtmlFont(htmlFont, colorFromNumber(colour));
    HtmlFontCharset = ini.readInteger(kOptions, "HTMLFontChartset", 134);

    // Ticking runs chkUseProxyClick, so a stored "True" shows the green globe.
    if (AnsiLowerCase(ini.readString(kOptions, "UseProxy", "false")) == "true")
        ui->chkUseProxy->setChecked(true);

    ui->cbbResultType->setCurrentIndex(0);
    LoadProxySettings();
    // A header list file that cannot be read costs this run its rows, not
    // the settings, which were sound: deleting them would lose the proxy and
    // font keys, which only their own commands write. The file stays as it
    // is and the close does not write over it.
    try {
        LoadReqHeaderFile();
    } catch (const ReqlarkError&) {
    }
}

void TFrmMain::SaveSettings()
{
    if (!Settings)
        return;
    SettingsStore& ini = *Settings;
    ini.writeString(kHistory, "URL", AnsiCodec::fromUnicode(ui->edtUrl->text()));
    ini.writeString(kHistory, "PSData", AnsiCodec::fromUnicode(ui->edtData->text()));
    ini.writeInteger(kHistory, "Method", ui->cbbMethod->currentIndex());
    ini.writeInteger(kHistory, "HttpComponent", ui->cbbComponent->currentIndex());
    ini.writeString(kOptions, "UseProxy", ui->chkUseProxy->isChecked() ? "True" : "False");
    // The size the window had before it was maximized is not kept.
    if (isMaximized()) {
        ini.writeString(kHistory, "WindowWidth", "900");
        ini.writeString(kHistory, "WindowHeight", "700");
    } else {
        ini.writeInteger(kHistory, "WindowWidth", width());
        ini.writeInteger(kHistory, "WindowHeight", height());
    }
    SaveReqHeaderFile();
}

void TFrmMain::LoadProxySettings()
{
    // A server cleared in the dialog ends the use of the proxy at once.
    const ProxySettings proxy = ReadProxySettings(*Settings);
    ProxyAddress = proxy.address;
    ProxyUserName = proxy.userName;
    ProxyPassword = proxy.password;
    describeProxyIndicator();
}

void TFrmMain::chkUseProxyClick()
{
    const QString name = ui->chkUseProxy->isChecked() ? QStringLiteral("BMP_EARTHGN")
                                                      : QStringLiteral("BMP_EARTHGY");
    imgStaBar->setPixmap(QPixmap(ProgramResources::pathOf(name, QStringLiteral("BITMAP"))));
    describeProxyIndicator();
}

void TFrmMain::mniProxyClick()
{
    TFrmProxy dialog(
        SettingsFilePath, [this](const std::function<void()>& step) { guarded(step); }, this);
    dialog.exec();
    // However the dialog was closed.
    LoadProxySettings();
}
