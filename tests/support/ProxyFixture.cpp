#include "tests/support/ProxyFixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port the kernel just handed out and took back. Another process may grab
// it before tinyproxy does; start() then tries again with a new one.
quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

ProxyFixture::ProxyFixture()
{
    start(nullptr);
}

ProxyFixture::ProxyFixture(const Credentials& basicAuth)
{
    start(&basicAuth);
}

ProxyFixture::~ProxyFixture()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
}

bool ProxyFixture::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_error.isEmpty();
}

QByteArray ProxyFixture::address() const
{
    return "127.0.0.1:" + QByteArray::number(m_port);
}

QString ProxyFixture::logFile() const
{
    return m_dir.filePath(QStringLiteral("tinyproxy.log"));
}

QList<QByteArray> ProxyFixture::requestLines() const
{
    // tinyproxy writes each log line with one write(), so a line is never
    // seen half-written.
    QList<QByteArray> lines;
    static const QByteArray marker = "]: Request (file descriptor ";
    for (const QByteArray& line : readFile(logFile()).split('\n')) {
        const qsizetype at = line.indexOf(marker);
        if (at < 0)
            continue;
        const qsizetype colon = line.indexOf("): ", at);
        if (colon > 0)
            lines.append(line.mid(colon + 3).trimmed());
    }
    return lines;
}

int ProxyFixture::forwardedCount() const
{
    return int(readFile(logFile()).count("opensock: opening connection to "));
}

void ProxyFixture::start(const Credentials* basicAuth)
{
    if (!QFileInfo(QLatin1String(kProgram)).isExecutable()) {
        m_error = QStringLiteral("%1 is not installed; the proxy tests need it "
                                 "(apt-get install tinyproxy)")
                      .arg(QLatin1String(kProgram));
        return;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory for tinyproxy: %1")
                      .arg(m_dir.errorString());
        return;
    }
    QString why;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (tryStart(basicAuth, why))
            return;
    }
    m_error = QStringLiteral("tinyproxy did not start: %1").arg(why);
}

bool ProxyFixture::tryStart(const Credentials* basicAuth, QString& why)
{
    m_port = freeLoopbackPort();
    if (m_port == 0) {
        why = QStringLiteral("no free loopback port");
        return false;
    }
    QFile::remove(logFile());
    // Run as whoever we are: as root tinyproxy only warns that no User is
    // set, and switching to another user would lose access to this directory.
    QByteArray config;
    config += "Port " + QByteArray::number(m_port) + "\n";
    config += "Listen 127.0.0.1\n";
    config += "Timeout 30\n";
    config += "Allow 127.0.0.1\n";
    config += "MaxClients 20\n";
    config += "LogLevel Info\n";
    config += "LogFile \"" + logFile().toLocal8Bit() + "\"\n";
    if (basicAuth)
        config += "BasicAuth " + basicAuth->user + ' ' + basicAuth->password + "\n";
    const QString configPath = m_dir.filePath(QStringLiteral("tinyproxy.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config) < 0) {
        why = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    file.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(QLatin1String(kProgram));
    m_process->setArguments({QStringLiteral("-d"), QStringLiteral("-c"), configPath});
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.filePath(QStringLiteral("tinyproxy.out")));
    m_process->start();
    if (!m_process->waitForStarted(5000)) {
        why = QStringLiteral("cannot run %1: %2")
                  .arg(QLatin1String(kProgram), m_process->errorString());
        m_process.reset();
        return false;
    }
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (m_process->state() != QProcess::Running || m_process->waitForFinished(0)) {
            why = QStringLiteral("tinyproxy exited at once (port %1): %2 %3")
                      .arg(m_port)
                      .arg(QString::fromLocal8Bit(
                          readFile(m_dir.filePath(QStringLiteral("tinyproxy.out")))))
                      .arg(QString::fromLocal8Bit(readFile(logFile()).right(2000)));
            m_process.reset();
            return false;
        }
        if (accepts(m_port))
            return true;
        QThread::msleep(20);
    }
    why = QStringLiteral("tinyproxy did not accept connections on port %1 within 5 s").arg(m_port);
    m_process->kill();
    m_process->waitForFinished(3000);
    m_process.reset();
    return false;
}
