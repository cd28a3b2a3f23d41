#pragma once

#include "request/untXmlHttp.h"

#include <QString>
#include <QStringList>

// The HTTP components are built on libcurl and OpenSSL, whose two dozen
// libraries would otherwise load before main() in every start although only
// a request needs them. They live in a module of their own
// (libreqlark_http.so) that the first CreateHttpComponent loads; the module
// is then kept for the rest of the process.
//
// The module is looked for, in order: at the path in the environment
// variable REQLARK_HTTP_MODULE when it is set (tests and benchmarks point it
// at their build), beside the executable (a build tree), and in the library
// folder of an installed copy (<prefix>/lib/.../reqlark/).

// What the module offers.
class HttpComponentFactory
{
public:
    virtual ~HttpComponentFactory() = default;
    // The component for one of the three ProgIDs (as spelt in untXmlHttp.h);
    // null for any other.
    virtual std::unique_ptr<HttpComponent> create(const QByteArray& progId,
                                                  const HttpComponentConfig& config) = 0;
};

// The module's one exported function, looked up by this name. It answers
// null when the caller was built against another version of the classes
// above or of those in untXmlHttp.h. Bump the version with every change to
// them.
constexpr int kHttpModuleInterface = 3;
#define REQLARK_HTTP_ENTRY "reqlarkHttpComponents"
using HttpModuleEntry = HttpComponentFactory* (*)(int interfaceVersion);

class HttpModule
{
public:
    // The factory, loading the module first when needed. Throws ReqlarkError
    // naming the module's file and the reason when it cannot be loaded; a
    // later call tries again. Safe to call from any thread.
    static HttpComponentFactory& factory();

    // The factory when the module is loaded already, else null.
    static HttpComponentFactory* loadedFactory();

    // The files tried for a program at `executablePath`, in order.
    static QStringList candidates(const QString& executablePath);

    static const char* const kPathVariable;
};
