#pragma once

// Small pieces most test programs need.

#include "util/ReqlarkError.h"

#include <QFile>
#include <QObject>
#include <QTest>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

// The control of that object name; a missing one ends the test at once.
template <class T> T* child(QObject* parent, const char* name)
{
    T* w = parent->findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

// A bound in milliseconds for a check that something stays quick. It holds
// the program's own code, which the sanitizer build runs several times
// slower, so there the bound is wider.
constexpr qint64 quickBoundMs(qint64 ms)
{
#ifdef __SANITIZE_ADDRESS__
    return ms * 4;
#else
    return ms;
#endif
}

// The file's bytes; empty when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The permission bits of a file or folder; -1 when it is not there.
inline int fileMode(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// The message of the ReqlarkError `call` throws; empty when it throws none.
inline QString errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const ReqlarkError& e) {
        return e.message();
    }
    return QString();
}

// Files larger than `bytes` cannot be written while this lives, as on a full
// disk; SIGXFSZ is ignored so that the write fails with EFBIG instead of
// ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};
