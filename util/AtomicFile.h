#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

// A file replaced as a whole: the bytes go into a new file beside it, which
// takes the old one's place only in commit(). A crash, a full disk or a
// cancelled write leaves the old file as it was and no new file behind.
// Writes are unbuffered: a buffered write that fails while QSaveFile commits
// goes unnoticed, and it would rename a cut file into place.
class AtomicFile
{
public:
    explicit AtomicFile(const QString& path) : m_file(path) {}

    bool open() { return m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    // Readable and writable by the owner only.
    bool restrictToOwner()
    {
        return m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    bool write(const char* data, qint64 size) { return m_file.write(data, size) == size; }
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // The new file's descriptor, to put its bytes onto the disk ahead of
    // commit (which then has little left to wait for).
    int handle() const { return m_file.handle(); }
    // False when the file could not take the old one's place; the old file
    // then stays.
    bool commit() { return m_file.commit(); }
    void cancel() { m_file.cancelWriting(); }
    QString errorString() const { return m_file.errorString(); }

private:
    QSaveFile m_file;
};
