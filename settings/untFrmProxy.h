#pragma once

#include "settings/SettingsStore.h"
#include "util/ReqlarkError.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class TFrmProxy;
}

// The proxy dialog "代理服务器": server, port, user name and password of
// section Options. It opens its own handle on the settings file, shows the
// stored values and writes them back unchanged on "保存"; "取消" and the close
// box write nothing. Nothing typed is validated.
class TFrmProxy final : public QDialog
{
    Q_OBJECT
public:
    // The dialog stays open after a failed write.
    using Guard = ErrorGuard;

    TFrmProxy(const QString& settingsPath, Guard guard, QWidget* parent = nullptr);
    ~TFrmProxy() override;

    Ui::TFrmProxy* form() const { return ui.get(); }

    void btnSaveClick();
    void btnCancelClick();

private:
    void FormCreate();

    std::unique_ptr<Ui::TFrmProxy> ui;
    SettingsStore m_settings;
    Guard m_guard;
};
