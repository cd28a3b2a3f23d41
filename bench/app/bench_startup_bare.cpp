// The reference of bench_startup: the least a Qt Widgets program does to
// show a window of the main window's size with one line of Chinese text. It
// links Qt Widgets only.

#include "StartupProbe.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char* argv[])
{
    StartupProbe::mark("main");
    QApplication app(argc, argv);
    StartupProbe::mark("application");
    QWidget window;
    window.resize(900, 700);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(
        new QLabel(QStringLiteral("Http测试工具：手工编写、发送 HTTP 请求并查看响应")));
    StartupProbe::mark("window");
    StartupProbe::FirstPaint painted(&window, [] { StartupProbe::reportIdleMemoryAndQuit(500); });
    window.show();
    StartupProbe::mark("shown");
    return app.exec();
}
