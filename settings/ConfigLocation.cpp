#include "settings/ConfigLocation.h"

#include "settings/SettingsStore.h"
#include "util/AtomicFile.h"
#include "util/ReqlarkError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef REQLARK_INSTALL_PREFIX
#define REQLARK_INSTALL_PREFIX ""
#endif

namespace {

const char kFolderName[] = "reqlark";
const char kMenuEntry[] = "share/applications/reqlark.desktop";

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return home;
    // Without HOME, Qt's answer would be "/", a system folder.
    if (const passwd* user = getpwuid(getuid()); user && user->pw_dir && *user->pw_dir)
        return QString::fromLocal8Bit(user->pw_dir);
    return home;
}

QString configHome()
{
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::cleanPath(homeFolder() + QStringLiteral("/.config"));
}

QString canonicalOrClean(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

// Creates `folder` and each missing folder above it, readable by the owner
// only, as the base directory rules ask for folders they make. Returns the
// reason it failed, or nothing.
QString makeFolders(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.isDir())
        return {};
    if (info.exists() || info.isSymLink())
        return QStringLiteral("%1 不是文件夹").arg(native(folder));
    const QString parent = info.absolutePath();
    if (parent != folder) {
        const QString reason = makeFolders(parent);
        if (!reason.isEmpty())
            return reason;
    }
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return reasonOf(errno);
    // The umask may have taken more than the group's and others' bits.
    ::chmod(name.constData(), 0700);
    return {};
}

// Copies `from` to `to` unless `from` is absent or `to` exists already. The
// copy appears whole or not at all, readable by its owner only like every
// file the program writes there.
void carryOver(const QString& from, const QString& to)
{
    if (!QFileInfo::exists(from) || QFileInfo::exists(to))
        return;
    QFile in(from);
    QByteArray bytes;
    if (in.open(QIODevice::ReadOnly))
        bytes = in.readAll();
    if (!in.isOpen() || in.error() != QFileDevice::NoError) {
        throw ReqlarkError(QStringLiteral("无法迁移 %1：%2").arg(native(from), in.errorString()));
    }
    AtomicFile out(to);
    if (!out.open() || !out.restrictToOwner() || !out.write(bytes) || !out.commit()) {
        const QString reason = out.errorString();
        out.cancel();
        throw ReqlarkError(
            QStringLiteral("无法把 %1 迁移到 %2：%3").arg(native(from), native(to), reason));
    }
}

// Folders of the system's own software (see the header).
bool isSystemFolder(const QString& folder)
{
    static const char* const roots[] = {"/bin",    "/boot", "/etc",  "/lib",  "/lib32", "/lib64",
                                        "/libx32", "/opt",  "/sbin", "/snap", "/usr"};
    const QString path = QDir::cleanPath(folder);
    if (path == QLatin1String("/"))
        return true;
    for (const char* root : roots) {
        const QLatin1String r(root);
        if (path == r || (path.startsWith(r) && path.at(r.size()) == QLatin1Char('/')))
            return true;
    }
    return false;
}

// Whether the running process may create files in `folder`.
bool isWritableFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    // AT_EACCESS: the rights the process has, not those of whoever started it.
    return ::faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

} // namespace

ConfigFacts CurrentConfigFacts(const QString& executablePath)
{
    ConfigFacts facts;
    facts.executablePath = canonicalOrClean(executablePath);
    const QString prefix = QStringLiteral(REQLARK_INSTALL_PREFIX);
    facts.installPrefix = prefix.isEmpty() ? prefix : canonicalOrClean(prefix);
    facts.configHome = configHome();
    const QFileInfo exe(facts.executablePath);
    // A folder that does not exist (only a test names such a path) tells
    // nothing about an installation: the copy stays portable, and its writes
    // fail there and are reported.
    facts.folderWritable =
        !QFileInfo(exe.absolutePath()).isDir() || isWritableFolder(exe.absolutePath());
    const QDir folder = exe.absoluteDir();
    facts.besideMenuEntry = folder.dirName() == QLatin1String("bin") &&
                            QFileInfo::exists(folder.absoluteFilePath(QStringLiteral("../") +
                                                                      QLatin1String(kMenuEntry)));
    return facts;
}

ConfigLocation LocateConfig(const ConfigFacts& facts)
{
    ConfigLocation at;
    const QString exeFolder = QDir::cleanPath(QFileInfo(facts.executablePath).absolutePath());
    const QString besideSettings = SettingsStore::settingsPathFor(facts.executablePath);
    const QString besideHeaders = SettingsStore::headersPathFor(facts.executablePath);

    const bool inBuiltPrefix =
        !facts.installPrefix.isEmpty() &&
        exeFolder == QDir::cleanPath(facts.installPrefix + QStringLiteral("/bin"));
    at.installed = isSystemFolder(exeFolder) || inBuiltPrefix || facts.besideMenuEntry ||
                   !facts.folderWritable;
    if (!at.installed) {
        at.folder = exeFolder;
        at.settingsFile = besideSettings;
        at.headersFile = besideHeaders;
        return at;
    }
    at.folder = QDir::cleanPath(facts.configHome + QLatin1Char('/') + QLatin1String(kFolderName));
    at.settingsFile = at.folder + QLatin1Char('/') + QFileInfo(besideSettings).fileName();
    at.headersFile = at.folder + QLatin1Char('/') + QFileInfo(besideHeaders).fileName();
    at.earlierSettingsFile = besideSettings;
    at.earlierHeadersFile = besideHeaders;
    return at;
}

void PrepareConfigFolder(const ConfigLocation& location)
{
    if (!location.installed)
        return;
    const QString reason = makeFolders(location.folder);
    if (!reason.isEmpty()) {
        throw ReqlarkError(
            QStringLiteral("无法创建文件夹 %1：%2").arg(native(location.folder), reason));
    }
    if (QFileInfo::exists(location.settingsFile))
        return;
    carryOver(location.earlierHeadersFile, location.headersFile);
    carryOver(location.earlierSettingsFile, location.settingsFile);
}
