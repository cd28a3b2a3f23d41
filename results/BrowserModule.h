#pragma once

#include <QString>
#include <QStringList>

class BrowserEngine;

// Loads the browser module on first use and keeps it for the rest of the
// process (the engine cannot be unloaded once started).
//
// The module is looked for, in order: at the path in the environment
// variable REQLARK_BROWSER_MODULE when it is set (tests and benchmarks point
// it at their build), beside the executable (a build tree), and in the
// library folder of an installed copy (<prefix>/lib/.../reqlark/).
class BrowserModule
{
public:
    // The engine, loading the module first when needed. Throws ReqlarkError
    // naming the module's file and the reason when it cannot be loaded; a
    // later call tries again.
    static BrowserEngine& engine();

    // The engine when the module is loaded already, else null.
    static BrowserEngine* loadedEngine();

    // The files tried for a program at `executablePath`, in order.
    static QStringList candidates(const QString& executablePath);

    static const char* const kPathVariable;
};
