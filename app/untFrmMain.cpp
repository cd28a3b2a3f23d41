#include "app/untFrmMain.h"

TFrmMain::TFrmMain(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Http测试工具 Reqlark v"));
    resize(900, 700);
}
