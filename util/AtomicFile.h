#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <sys/types.h>

// Where a write to `path` may go, and what the file there is. A symbolic
// link is followed only to a regular file of the user running the program (a
// dotfile manager's link into the user's own files): the target is written
// and the link stays. Anything else a link may lead to (a file of another
// user, a folder, a device, a pipe, a link that leads nowhere, and for root
// a file in one of the system's folders) is refused, as is a path that is
// itself not a regular file; `refusal` then says why and nothing is written.
struct WriteTarget
{
    QString path; // the file to replace: `path` itself, or a link's target
    bool exists = false;
    mode_t mode = 0; // permission bits of the existing file
    uid_t owner = 0;
    gid_t group = 0;
    QString refusal; // empty when the write may go ahead
};
WriteTarget ResolveWriteTarget(const QString& path);

// Why the file at `path` (links followed) must not be read as a file: a pipe
// or a device would block or never end. Empty for a regular file and for a
// path where nothing is.
QString ReadRefusal(const QString& path);

// A file replaced as a whole: the bytes go into a new file beside it, which
// takes the old one's place only in commit(). A crash, a full disk or a
// cancelled write leaves the old file as it was and no new file behind.
// The place is checked by ResolveWriteTarget first. The new file keeps the
// mode and group of the file it replaces (and its owner, when root writes
// it), so a save changes nothing about a file but its bytes.
// Writes are unbuffered: a buffered write that fails while QSaveFile commits
// goes unnoticed, and it would rename a cut file into place.
class AtomicFile
{
public:
    explicit AtomicFile(const QString& path) : m_path(path) {}

    bool open();
    // A file this write creates is readable and writable by its owner only;
    // an existing file keeps the mode it has.
    bool restrictToOwner();
    bool write(const char* data, qint64 size) { return m_file.write(data, size) == size; }
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // The new file's descriptor, to put its bytes onto the disk ahead of
    // commit (which then has little left to wait for).
    int handle() const { return m_file.handle(); }
    // False when the file could not take the old one's place; the old file
    // then stays.
    bool commit() { return m_file.commit(); }
    void cancel()
    {
        if (m_file.isOpen())
            m_file.cancelWriting();
    }
    QString errorString() const { return m_refusal.isEmpty() ? m_file.errorString() : m_refusal; }

private:
    QString m_path;
    WriteTarget m_target;
    QString m_refusal;
    QSaveFile m_file;
};
