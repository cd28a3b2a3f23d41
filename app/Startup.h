#pragma once

#include <QString>

class QWidget;

// What main() checks before it creates the application object.
namespace Startup {

// Why no window can be shown here (no X11 or Wayland display and no other Qt
// platform chosen), or an empty text when one can.
QString missingDisplayReason();

// Chromium's sandbox cannot start for root; the embedded browser then runs
// without it. Must run before the application object is created. Nothing of
// the engine is loaded here: the browser module comes with the first page
// view (results/BrowserModule.h).
void prepareBrowserEngine();

// What the program sets on the application object before it makes the
// window: its name, and Qt's own texts in Chinese.
void configureApplication();

// Qt's own dialogs and context menus (font, colour and file dialogs, the
// standard buttons, the edit menus) speak the interface's language, which is
// always Chinese: Debian's Qt translations. Without them installed the
// program starts all the same, with those texts in English. Returns whether
// the translations were found.
bool loadQtTranslations();

// Shows the main window; the program's icon follows once the window has
// painted (or half a second has passed): reading it is the costliest step
// of the start that the first paint does not need.
void showMainWindow(QWidget& window);

// The folder that holds the settings file and the header list file of the
// running executable (settings/ConfigLocation.h).
QString settingsFolder();

// Keeps freed memory for reuse instead of handing each large block back to
// the system: every response of many megabytes otherwise pays again for
// fresh, zeroed pages (a third of the time to show it, measured here).
void tuneAllocator();

} // namespace Startup
