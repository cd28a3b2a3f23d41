#include "results/BrowserModule.h"

#include "results/WebBrowser.h"
#include "util/ProgramModule.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QSurfaceFormat>

// Qt's setter of the context that every OpenGL context it makes shares with
// (exported by Qt GUI, declared only in its private headers).
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

const char* const BrowserModule::kPathVariable = "REQLARK_BROWSER_MODULE";

namespace {

BrowserEngine* g_engine = nullptr;
QOpenGLContext* g_shareContext = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void deleteShareContext()
{
    if (QOpenGLContext::globalShareContext() == g_shareContext)
        qt_gl_set_global_share_context(nullptr);
    delete g_shareContext;
    g_shareContext = nullptr;
}

// Qt warns about any change of this attribute once the application object
// exists; here the late change is the point, and the warning would mislead.
void dropLateShareWarning(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && text.contains(QLatin1String("AA_ShareOpenGLContexts")))
        return;
    g_previousHandler(type, context, text);
}

// The engine draws through OpenGL contexts that share with Qt's global one.
// Qt makes that context while the application object is built when
// Qt::AA_ShareOpenGLContexts is set before, which would load the OpenGL
// driver into every start (a third of the start-up time and tens of MB under
// X11). It is made here instead, before the engine's library loads; the
// library then finds everything as if it had been set at start.
void shareOpenGLContexts()
{
    if (QOpenGLContext::globalShareContext())
        return;
    g_shareContext = new QOpenGLContext;
    g_shareContext->setFormat(QSurfaceFormat::defaultFormat());
    // Fails without OpenGL (the offscreen platform, no display); the engine
    // then draws in software.
    g_shareContext->create();
    qt_gl_set_global_share_context(g_shareContext);
    qAddPostRoutine(deleteShareContext);

    g_previousHandler = qInstallMessageHandler(dropLateShareWarning);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qInstallMessageHandler(g_previousHandler);
}

const ProgramModule& browserModule()
{
    static const ProgramModule module(
        BrowserModule::kPathVariable, QStringLiteral(REQLARK_BROWSER_MODULE_FILE),
        QStringLiteral("浏览器模块"), QStringLiteral("无法启动浏览器："));
    return module;
}

} // namespace

QStringList BrowserModule::candidates(const QString& executablePath)
{
    return browserModule().candidates(executablePath);
}

BrowserEngine* BrowserModule::loadedEngine()
{
    return g_engine;
}

BrowserEngine& BrowserModule::engine()
{
    if (g_engine)
        return *g_engine;

    const ProgramModule& module = browserModule();
    const QString path = module.find();
    shareOpenGLContexts();
    // The engine describes its OpenGL set-up on the terminal at every start;
    // QT_LOGGING_RULES can still ask for it.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    // The engine's libraries register with Qt as they load: the module is
    // never closed.
    const auto entry =
        reinterpret_cast<BrowserEngineEntry>(module.open(path, REQLARK_BROWSER_ENTRY));
    BrowserEngine* engine = entry(kBrowserModuleInterface);
    if (!engine)
        module.failVersion(path);
    g_engine = engine;
    return *g_engine;
}
