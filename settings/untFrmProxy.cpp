#include "settings/untFrmProxy.h"

#include "ui_untFrmProxy.h"
#include "util/AnsiCodec.h"

namespace {

const char kOptions[] = "Options";

} // namespace

TFrmProxy::TFrmProxy(const QString& settingsPath, Guard guard, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TFrmProxy>()), m_settings(settingsPath),
      m_guard(std::move(guard))
{
    ui->setupUi(this);
    // A fixed single border with the close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(415, 331);

    connect(ui->btnSave, &QPushButton::clicked, this,
            [this] { m_guard([this] { btnSaveClick(); }); });
    connect(ui->btnCancel, &QPushButton::clicked, this,
            [this] { m_guard([this] { btnCancelClick(); }); });
    m_guard([this] { FormCreate(); });
}

TFrmProxy::~TFrmProxy() = default;

void TFrmProxy::FormCreate()
{
    const auto show = [this](QLineEdit* edit, const char* key) {
        edit->setText(AnsiCodec::toUnicode(m_settings.readString(kOptions, key)));
    };
    show(ui->edtProxyServer, "ProxyServer");
    show(ui->edtProxyPort, "ProxyPort");
    show(ui->edtProxyUser, "ProxyUser");
    show(ui->edtProxyPwd, "ProxyPwd");
}

void TFrmProxy::btnSaveClick()
{
    const auto store = [this](const char* key, const QLineEdit* edit) {
        m_settings.writeString(kOptions, key, AnsiCodec::fromUnicode(edit->text()));
    };
    store("ProxyServer", ui->edtProxyServer);
    store("ProxyPort", ui->edtProxyPort);
    store("ProxyUser", ui->edtProxyUser);
    store("ProxyPwd", ui->edtProxyPwd);
    accept();
}

void TFrmProxy::btnCancelClick()
{
    reject();
}
