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

// Keeps freed memory for reuse instead of handing each large block back to
// the system: every response of many megabytes otherwise pays again for
// fresh, zeroed pages (a third of the time to show it, measured here).
void tuneAllocator();

} // namespace Startup
