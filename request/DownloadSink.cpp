#include "request/DownloadSink.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <unistd.h>

DownloadSink::DownloadSink(const QString& path) : m_path(path), m_file(path)
{
    if (!m_file.open()) {
        throw ReqlarkError(QStringLiteral("无法创建文件“%1”：%2")
                               .arg(QDir::toNativeSeparators(path), m_file.errorString()));
    }
}

void DownloadSink::write(const char* data, size_t size)
{
    if (!m_file.write(data, qint64(size)))
        throw writeError();
}

void DownloadSink::end()
{
    if (::fdatasync(m_file.handle()) != 0) {
        throw ReqlarkError(QStringLiteral("无法写入文件“%1”：%2")
                               .arg(QDir::toNativeSeparators(m_path),
                                    QString::fromLocal8Bit(std::strerror(errno))));
    }
}

void DownloadSink::commit()
{
    if (!m_file.commit())
        throw writeError();
}

ReqlarkError DownloadSink::writeError() const
{
    return ReqlarkError(QStringLiteral("无法写入文件“%1”：%2")
                            .arg(QDir::toNativeSeparators(m_path), m_file.errorString()));
}
