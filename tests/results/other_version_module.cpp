// Stands for the browser module of another version of the program: its
// entry point has no engine for the interface version this build asks for.

#include "results/WebBrowser.h"

extern "C" Q_DECL_EXPORT BrowserEngine* reqlarkBrowserEngine(int /*interfaceVersion*/)
{
    return nullptr;
}
