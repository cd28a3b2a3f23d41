#include "app/Startup.h"
#include "app/untFrmMain.h"
#include "util/ProgramResources.h"

#include <QApplication>
#include <QIcon>

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
    QApplication::setApplicationName(QStringLiteral("Reqlark"));
    QApplication::setWindowIcon(
        QIcon(ProgramResources::pathOf(QStringLiteral("REQLARK"), QStringLiteral("ICON"))));

    TFrmMain window;
    window.show();
    return app.exec();
}
