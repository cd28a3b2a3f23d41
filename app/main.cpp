#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "app/untFrmMain.h"

#include <QApplication>
#include <QMessageBox>

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

    // One window per settings folder: a second start brings the first to the
    // front and ends before it reads anything.
    const QString folder = Startup::settingsFolder();
    SingleInstance guard(folder);
    switch (guard.claim()) {
    case SingleInstance::Outcome::Raised:
        return 0;
    case SingleInstance::Outcome::Busy:
        QMessageBox::information(nullptr, QApplication::applicationName(),
                                 SingleInstance::busyMessage(folder));
        return 1;
    case SingleInstance::Outcome::First:
    case SingleInstance::Outcome::Unlocked:
        break;
    }

    TFrmMain window;
    guard.setWindow(&window);
    Startup::showMainWindow(window);
    return app.exec();
}
