#include "app/Startup.h"

#include "settings/ConfigLocation.h"
#include "util/ProgramResources.h"

#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QIcon>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include <malloc.h>
#include <memory>
#include <unistd.h>

namespace Startup {

QString missingDisplayReason()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return {};
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    return QStringLiteral(
        "Reqlark needs a graphical display, and none was found (neither DISPLAY nor "
        "WAYLAND_DISPLAY is set).\n"
        "Start it from a desktop session, over ssh with X forwarding (ssh -X), or under a "
        "virtual display: xvfb-run -a ./build/reqlark");
}

void prepareBrowserEngine()
{
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

void configureApplication()
{
    QApplication::setApplicationName(QStringLiteral("Reqlark"));
    loadQtTranslations();
}

bool loadQtTranslations()
{
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    // Well under a millisecond of the start.
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(translator.release());
}

namespace {

// The icon costs a PNG decoder and Qt's MIME database (2 ms); on X11 it is
// set on the window that is already mapped, which the window manager follows.
class IconAfterFirstPaint : public QObject
{
public:
    explicit IconAfterFirstPaint(QWidget& window) : QObject(&window)
    {
        window.installEventFilter(this);
        QTimer::singleShot(500, this, &IconAfterFirstPaint::setIcon);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, &IconAfterFirstPaint::setIcon);
        }
        return false;
    }

private:
    void setIcon()
    {
        if (m_done)
            return;
        m_done = true;
        QApplication::setWindowIcon(
            QIcon(ProgramResources::pathOf(QStringLiteral("REQLARK"), QStringLiteral("ICON"))));
        deleteLater();
    }

    bool m_done = false;
};

} // namespace

void showMainWindow(QWidget& window)
{
    new IconAfterFirstPaint(window);
    window.show();
}

QString settingsFolder()
{
    return LocateConfig(CurrentConfigFacts(QCoreApplication::applicationFilePath())).folder;
}

void tuneAllocator()
{
    // Blocks up to 256 MB come from the heap and stay there when freed; up
    // to 256 MB of free heap is kept rather than returned.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    // One heap for every thread: a body the transfer thread receives then
    // comes from it too. A thread's own arena cannot hold a block of more
    // than 64 MB, so a large body would get pages of its own, fresh (and
    // faulted in one by one) at every request, where the heap's block of the
    // last body is reused; that tripled the time of a 100 MB response.
    mallopt(M_ARENA_MAX, 1);
}

} // namespace Startup
