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

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Reqlark"));

    TFrmMain window;
    window.show();
    return app.exec();
}
