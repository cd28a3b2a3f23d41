#include "util/ProgramModule.h"

#include "util/ReqlarkError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

ProgramModule::ProgramModule(const char* pathVariable, const QString& fileName, const QString& kind,
                             const QString& failure)
    : m_pathVariable(pathVariable), m_fileName(fileName), m_kind(kind), m_failure(failure)
{
}

QStringList ProgramModule::candidates(const QString& executablePath) const
{
    const QString given = qEnvironmentVariable(m_pathVariable);
    if (!given.isEmpty())
        return {given};
    const QDir folder = QFileInfo(executablePath).absoluteDir();
    const QString installed = QStringLiteral(REQLARK_MODULE_DIR_FROM_BIN "/") + m_fileName;
    return {folder.filePath(m_fileName), QDir::cleanPath(folder.filePath(installed))};
}

QString ProgramModule::executablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QString ProgramModule::find() const
{
    const QStringList tried = candidates(executablePath());
    for (const QString& candidate : tried) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    fail(QStringLiteral("找不到它的模块（找过 %1）").arg(tried.join(QStringLiteral(" 和 "))));
}

void* ProgramModule::open(const QString& path, const char* entry) const
{
    // Never closed: the module's libraries may register with Qt or keep
    // process-wide state as they load, and its objects live on in callers.
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        fail(QStringLiteral("无法加载它的模块 %1（%2）")
                 .arg(path, QString::fromLocal8Bit(dlerror())));
    }
    dlerror();
    void* address = dlsym(handle, entry);
    if (!address) {
        const char* reason = dlerror();
        fail(QStringLiteral("%1 不是本程序的%2（%3）")
                 .arg(path, m_kind,
                      reason ? QString::fromLocal8Bit(reason) : QString::fromLatin1(entry)));
    }
    return address;
}

void ProgramModule::fail(const QString& reason) const
{
    throw ReqlarkError(m_failure + reason);
}

void ProgramModule::failVersion(const QString& path) const
{
    fail(QStringLiteral("它的模块 %1 属于本程序的另一个版本").arg(path));
}
