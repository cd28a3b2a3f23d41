#include "app/Startup.h"

#include <QByteArray>

#include <malloc.h>
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

void tuneAllocator()
{
    // Blocks up to 256 MB come from the heap and stay there when freed; up
    // to 256 MB of free heap is kept rather than returned.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

} // namespace Startup
