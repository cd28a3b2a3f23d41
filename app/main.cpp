#include "app/Startup.h"
#include "app/untFrmMain.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    const QString noDisplay = Startup::missingDisplayReason();
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "%s\n", noDisplay.toLocal8Bit().constData());
        return 2;
    }
    Startup::prepareBrowserEngine();
    Startup::tuneAllocator();

    QApplication app(argc, argv);
    Startup::configureApplication();

    TFrmMain window;
    Startup::showMainWindow(window);
    return app.exec();
}
