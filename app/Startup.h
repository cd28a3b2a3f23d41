#pragma once

#include <QString>

// What main() checks before it creates the application object.
namespace Startup {

// Why no window can be shown here (no X11 or Wayland display and no other Qt
// platform chosen), or an empty text when one can.
QString missingDisplayReason();

// Chromium's sandbox cannot start for root; the embedded browser then runs
// without it. Must run before the application object is created.
void prepareBrowserEngine();

} // namespace Startup
