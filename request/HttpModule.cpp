#include "request/HttpModule.h"

#include "util/MyStrUtils.h"
#include "util/ProgramModule.h"

#include <atomic>
#include <mutex>

const char* const HttpModule::kPathVariable = "REQLARK_HTTP_MODULE";

namespace {

std::atomic<HttpComponentFactory*> g_factory{nullptr};
std::mutex g_loading;

const ProgramModule& httpModule()
{
    static const ProgramModule module(
        HttpModule::kPathVariable, QStringLiteral(REQLARK_HTTP_MODULE_FILE),
        QStringLiteral("HTTP 模块"), QStringLiteral("无法发送请求："));
    return module;
}

} // namespace

QStringList HttpModule::candidates(const QString& executablePath)
{
    return httpModule().candidates(executablePath);
}

HttpComponentFactory* HttpModule::loadedFactory()
{
    return g_factory.load();
}

HttpComponentFactory& HttpModule::factory()
{
    if (HttpComponentFactory* loaded = g_factory.load())
        return *loaded;
    const std::lock_guard<std::mutex> lock(g_loading);
    if (HttpComponentFactory* loaded = g_factory.load())
        return *loaded;

    const ProgramModule& module = httpModule();
    const QString path = module.find();
    const auto entry = reinterpret_cast<HttpModuleEntry>(module.open(path, REQLARK_HTTP_ENTRY));
    HttpComponentFactory* factory = entry(kHttpModuleInterface);
    if (!factory)
        module.failVersion(path);
    g_factory.store(factory);
    return *factory;
}

std::unique_ptr<HttpComponent> CreateHttpComponent(const QByteArray& progId,
                                                   const HttpComponentConfig& config)
{
    // An unknown ProgID creates nothing, as before; only a known one needs
    // the module, so only then can its absence be an error.
    for (const char* known : {kProgIdServerXmlHttp, kProgIdXmlHttp, kProgIdWinHttp}) {
        if (SameTextAnsiLower(progId, QByteArray(known)))
            return HttpModule::factory().create(QByteArray(known), config);
    }
    return nullptr;
}
