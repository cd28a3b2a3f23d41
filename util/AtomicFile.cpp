#include "util/AtomicFile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString fromNative(const char* path)
{
    return QFile::decodeName(QByteArray(path));
}

// Folders whose files belong to the system even where root owns them.
bool inSystemFolder(const QByteArray& path)
{
    static const char* const roots[] = {"/bin",   "/boot",   "/dev", "/etc",  "/lib", "/lib32",
                                        "/lib64", "/libx32", "/opt", "/proc", "/run", "/sbin",
                                        "/snap",  "/srv",    "/sys", "/usr",  "/var"};
    for (const char* root : roots) {
        const size_t n = std::strlen(root);
        if (path.startsWith(root) && (size_t(path.size()) == n || path.at(qsizetype(n)) == '/'))
            return true;
    }
    return false;
}

} // namespace

WriteTarget ResolveWriteTarget(const QString& path)
{
    WriteTarget t;
    t.path = path;
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) != 0) {
        if (errno != ENOENT)
            t.refusal = QString::fromLocal8Bit(std::strerror(errno));
        return t; // a new file
    }
    if (S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        struct stat target;
        if (!::realpath(name.constData(), resolved) || ::stat(resolved, &target) != 0) {
            t.refusal = QStringLiteral("它是指向不存在的文件的符号链接，不经链接写入");
            return t;
        }
        const uid_t me = ::geteuid();
        if (!S_ISREG(target.st_mode)) {
            t.refusal = QStringLiteral("它是指向非普通文件的符号链接（%1），不经链接写入")
                            .arg(fromNative(resolved));
        } else if (target.st_uid != me) {
            t.refusal = QStringLiteral("它是指向其他用户的文件的符号链接（%1），不经链接写入")
                            .arg(fromNative(resolved));
        } else if (me == 0 && inSystemFolder(QByteArray(resolved))) {
            t.refusal = QStringLiteral("它是指向系统文件夹中的文件的符号链接（%1），不经链接写入")
                            .arg(fromNative(resolved));
        }
        if (!t.refusal.isEmpty())
            return t;
        t.path = fromNative(resolved);
        st = target;
    } else if (!S_ISREG(st.st_mode)) {
        t.refusal = QStringLiteral("它不是普通文件");
        return t;
    }
    t.exists = true;
    t.mode = st.st_mode & 07777;
    t.owner = st.st_uid;
    t.group = st.st_gid;
    return t;
}

QString ReadRefusal(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    return S_ISDIR(st.st_mode) ? QStringLiteral("它是文件夹") : QStringLiteral("它不是普通文件");
}

bool AtomicFile::open()
{
    m_target = ResolveWriteTarget(m_path);
    m_refusal = m_target.refusal;
    if (!m_refusal.isEmpty())
        return false;
    // The resolved place, so that the save does not follow the link again.
    m_file.setFileName(m_target.path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (m_target.exists) {
        // The new file is made under the umask and belongs to whoever runs
        // the program; the file it replaces had its own mode and group.
        const int fd = m_file.handle();
        const bool root = ::geteuid() == 0;
        if (::fchown(fd, root ? m_target.owner : uid_t(-1), m_target.group) != 0) {
            // Not a member of the file's group: the user's own group it is.
        }
        if (::fchmod(fd, m_target.mode) != 0) {
            m_refusal = QString::fromLocal8Bit(std::strerror(errno));
            m_file.cancelWriting();
            return false;
        }
    }
    return true;
}

bool AtomicFile::restrictToOwner()
{
    if (m_target.exists)
        return true;
    return m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
