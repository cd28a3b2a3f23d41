// The settings file and the header list file where their names are symbolic
// links, or not plain files at all: a link is written through only into a
// regular file of the user running the program, and a write changes nothing
// about a file but its bytes.

#include "headers/HeaderFile.h"
#include "settings/SettingsStore.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Place
{
    OwnFile,    // a regular file of the running user
    OthersFile, // a regular file of another user (needs root to make)
    SystemFile, // root's own file in a system folder (root only)
    Folder,
    Fifo,
    Nowhere, // a link that leads to no file
};

} // namespace

class TestFileLinks : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void writeThroughLink_data();
    void writeThroughLink();
    void existingFileKeepsModeAndGroup_data();
    void existingFileKeepsModeAndGroup();
    void pipeIsNotRead_data();
    void pipeIsNotRead();

private:
    // The place a link would lead to, made in the temporary folder (or, for
    // a system file, under /run); empty when this user cannot make it.
    QString makePlace(Place place);
    // Writes the file named `name` in the folder through its own code (the
    // settings store or the header list file): a line with "127.0.0.1".
    QString write(const QString& name, const QString& path);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryFile> m_systemFile;
};

void TestFileLinks::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestFileLinks::cleanup()
{
    m_systemFile.reset();
    m_dir.reset();
}

QString TestFileLinks::makePlace(Place place)
{
    const QString at = m_dir->filePath(QStringLiteral("elsewhere"));
    switch (place) {
    case Place::OwnFile:
    case Place::OthersFile:
        writeAll(at, "[Keep]\r\nme=1\r\n");
        ::chmod(QFile::encodeName(at).constData(), 0640);
        if (place == Place::OthersFile) {
            if (::geteuid() != 0)
                return QString();
            if (::chown(QFile::encodeName(at).constData(), 65534, 65534) != 0)
                return QString();
        }
        return at;
    case Place::SystemFile:
        if (::geteuid() != 0)
            return QString();
        m_systemFile = std::make_unique<QTemporaryFile>(QStringLiteral("/run/reqlark-link-XXXXXX"));
        if (!m_systemFile->open())
            return QString();
        m_systemFile->write("[Keep]\r\nme=1\r\n");
        m_systemFile->close();
        return m_systemFile->fileName();
    case Place::Folder:
        QDir().mkpath(at);
        return at;
    case Place::Fifo:
        return ::mkfifo(QFile::encodeName(at).constData(), 0600) == 0 ? at : QString();
    case Place::Nowhere:
        return at;
    }
    return QString();
}

QString TestFileLinks::write(const QString& name, const QString& path)
{
    if (name == QLatin1String("reqlark.ini")) {
        SettingsStore store(path);
        return errorOf([&] { store.writeString("History", "URL", "http://127.0.0.1/"); });
    }
    return errorOf([&] { WriteHeaderFile(path, {{"Referer", "http://127.0.0.1/"}}); });
}

void TestFileLinks::writeThroughLink_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("placeNumber");
    QTest::addColumn<bool>("written");
    for (const char* name : {"reqlark.ini", "Headers.dat"}) {
        const auto row = [name](const char* what) -> QTestData& {
            return QTest::addRow("%s, %s", name, what) << QString::fromLatin1(name);
        };
        row("own file") << int(Place::OwnFile) << true;
        row("file of another user") << int(Place::OthersFile) << false;
        row("root's file in a system folder") << int(Place::SystemFile) << false;
        row("folder") << int(Place::Folder) << false;
        row("pipe") << int(Place::Fifo) << false;
        row("nowhere") << int(Place::Nowhere) << false;
    }
}

void TestFileLinks::writeThroughLink()
{
    QFETCH(QString, name);
    QFETCH(int, placeNumber);
    QFETCH(bool, written);
    const auto place = Place(placeNumber);
    const QString target = makePlace(place);
    if (target.isEmpty())
        QSKIP("only root can make this place here");
    const QFileInfo before(target);
    const QByteArray bytesBefore = before.isFile() ? readAll(target) : QByteArray();
    const int modeBefore = fileMode(target);
    const QString link = m_dir->filePath(name);
    QVERIFY(QFile::link(target, link));

    const QString error = write(name, link);

    // The link itself stays a link in every case.
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(target).absoluteFilePath());
    QVERIFY2(error.isEmpty() == written, qPrintable(error));
    QCOMPARE(fileMode(target), modeBefore);
    if (before.isFile())
        QVERIFY(written ? readAll(target).contains("127.0.0.1") : readAll(target) == bytesBefore);
    QCOMPARE(QFileInfo::exists(target), place != Place::Nowhere);
    // No temporary file is left beside either.
    const QStringList left = QDir(m_dir->path()).entryList(QDir::Files | QDir::System);
    for (const QString& file : left)
        QVERIFY2(!file.contains(QLatin1Char('.')) || file == name, qPrintable(file));
}

void TestFileLinks::existingFileKeepsModeAndGroup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");
    for (const char* name : {"reqlark.ini", "Headers.dat"}) {
        QTest::addRow("%s 0640", name) << QString::fromLatin1(name) << 0640;
        QTest::addRow("%s 0664", name) << QString::fromLatin1(name) << 0664;
        QTest::addRow("%s 0400", name) << QString::fromLatin1(name) << 0400;
    }
}

void TestFileLinks::existingFileKeepsModeAndGroup()
{
    QFETCH(QString, name);
    QFETCH(int, mode);
    const QString path = m_dir->filePath(name);
    writeAll(path, "[Keep]\r\n");
    const QByteArray native = QFile::encodeName(path);
    QCOMPARE(::chmod(native.constData(), mode_t(mode)), 0);
    // Another group (and, for root, another owner) than the writer's own.
    const bool root = ::geteuid() == 0;
    if (root)
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    const auto owners = [&] {
        const QFileInfo file(path);
        return std::pair(file.ownerId(), file.groupId());
    };
    const auto before = owners();

    const mode_t oldMask = ::umask(022);
    const QString error = write(name, path);
    ::umask(oldMask);

    // A read-only file may be refused, as before, but never loosened.
    QVERIFY2(error.isEmpty() != (mode == 0400 && !root), qPrintable(error));
    QCOMPARE(fileMode(path), mode);
    QCOMPARE(owners(), before);
}

void TestFileLinks::pipeIsNotRead_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("settings file") << QStringLiteral("reqlark.ini");
    QTest::newRow("header list file") << QStringLiteral("Headers.dat");
}

void TestFileLinks::pipeIsNotRead()
{
    // Opening a pipe for reading waits for a writer: the start would hang.
    QFETCH(QString, name);
    const QString path = m_dir->filePath(name);
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const QString error = name == QLatin1String("reqlark.ini")
                              ? errorOf([&] { SettingsStore(path).readString("History", "URL"); })
                              : errorOf([&] { ReadHeaderFile(path); });
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestFileLinks)
#include "tst_filelinks.moc"
