#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Plain Unix sockets rather than Qt Network's, which would bring a dozen
// libraries (Kerberos, libproxy) into every start for a few bytes.

namespace {

const char kRaise[] = "raise\n";
const char kRaised[] = "raised\n";
constexpr int kAnswerWait = 3000; // milliseconds

// The abstract socket address of a server name (its first byte is NUL).
socklen_t addressOf(const QString& name, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray bytes = name.toLatin1();
    const size_t n = std::min(size_t(bytes.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, bytes.constData(), n);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + n);
}

bool sameUser(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), m_folder(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()))
{
}

SingleInstance::~SingleInstance()
{
    if (m_listener >= 0)
        ::close(m_listener);
}

QString SingleInstance::lockPathFor(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("reqlark.lock"));
}

QString SingleInstance::serverNameFor(const QString& folder)
{
    // Named after the folder and the user: the same folder reached by
    // another user's copy is theirs to guard.
    const QByteArray key =
        QFile::encodeName(QDir::cleanPath(QFileInfo(folder).absoluteFilePath())) + '\0' +
        QByteArray::number(uint(::geteuid()));
    return QStringLiteral("reqlark-") +
           QString::fromLatin1(
               QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
}

QString SingleInstance::busyMessage(const QString& folder)
{
    return QStringLiteral("Reqlark 已在运行，并使用同一个设置文件夹：\n%1\n\n"
                          "一个设置文件夹只能由一个窗口使用，以免两个窗口互相覆盖设置和请求头。"
                          "请切换到已打开的窗口。")
        .arg(QDir::toNativeSeparators(folder));
}

SingleInstance::Outcome SingleInstance::claim()
{
    // An installed copy's folder may not exist yet; it is made readable by
    // its owner only, as the settings code makes it.
    if (!QFileInfo::exists(m_folder)) {
        if (!QDir().mkpath(m_folder))
            return Outcome::Unlocked;
        QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner);
    }
    m_lock = std::make_unique<QLockFile>(lockPathFor(m_folder));
    // Stale only when its process is gone, however long a window stays open.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        const QLockFile::LockError error = m_lock->error();
        m_lock.reset();
        // A folder that takes no file cannot be written at close either.
        return error == QLockFile::LockFailedError ? askHolder() : Outcome::Unlocked;
    }
    sockaddr_un address;
    const socklen_t length = addressOf(serverNameFor(m_folder), address);
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener >= 0 &&
        (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
         ::listen(m_listener, 4) != 0)) {
        // Still held by a process that is ending: the lock is ours, and a
        // later start that cannot be answered says so.
        ::close(m_listener);
        m_listener = -1;
    }
    if (m_listener >= 0) {
        m_notifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SingleInstance::answer);
    }
    return Outcome::First;
}

SingleInstance::Outcome SingleInstance::askHolder() const
{
    sockaddr_un address;
    const socklen_t length = addressOf(serverNameFor(m_folder), address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Outcome::Busy;
    Outcome outcome = Outcome::Busy;
    // A window too busy to accept (its queue full) must not hold this start
    // for good: a local socket's connect waits at most the send time-out.
    const timeval limit{kAnswerWait / 1000, (kAnswerWait % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::send(fd, kRaise, sizeof kRaise - 1, MSG_NOSIGNAL) == ssize_t(sizeof kRaise - 1)) {
        QByteArray reply;
        pollfd wait{fd, POLLIN, 0};
        while (!reply.contains('\n') && ::poll(&wait, 1, kAnswerWait) > 0) {
            char buffer[64];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            reply.append(buffer, got);
        }
        if (reply == kRaised)
            outcome = Outcome::Raised;
    }
    ::close(fd);
    return outcome;
}

void SingleInstance::answer()
{
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    // Only a start of the same user may bring the window forward; the
    // request is a few bytes, sent at once.
    QByteArray request;
    pollfd wait{fd, POLLIN, 0};
    while (sameUser(fd) && !request.contains('\n') && request.size() < 64 &&
           ::poll(&wait, 1, kAnswerWait) > 0) {
        char buffer[64];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, got);
    }
    if (request == kRaise) {
        if (m_window) {
            if (m_window->isMinimized())
                m_window->showNormal();
            m_window->show();
            m_window->raise();
            m_window->activateWindow();
        }
        emit raiseRequested();
        ::send(fd, kRaised, sizeof kRaised - 1, MSG_NOSIGNAL);
    }
    ::close(fd);
}
