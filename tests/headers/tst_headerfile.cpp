// The header list file: its byte format, parsing, and reading and writing
// real files, including damaged ones and writes that fail.

#include "headers/HeaderFile.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"
#include "util/ReqlarkError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using Rows = std::vector<HeaderEntry>;
Q_DECLARE_METATYPE(Rows)

namespace {

QByteArray gbk(const char* utf8)
{
    return AnsiCodec::fromUnicode(QString::fromUtf8(utf8));
}

QByteArray describe(const Rows& rows)
{
    QByteArray out;
    for (const HeaderEntry& r : rows)
        out += "[" + r.name + "|" + r.value + "]";
    return out;
}

} // namespace

class TestHeaderFile : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void format_data();
    void format();
    void parse_data();
    void parse();

    void readAbsentFile();
    void writeAndReadFile();
    void emptyListDeletesFile();
    void failedDeletionIsIgnored();
    void newFileIsOwnerOnly();
    void cannotCreate();
    void failedWriteLeavesOldFile();
    void unreadableFile();
    void tooLargeFile();
    void damagedFilesLoadFast_data();
    void damagedFilesLoadFast();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("Headers.dat")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestHeaderFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestHeaderFile::format_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("sorted ignoring case")
        << Rows{{"User-Agent", "rq/1"}, {"Accept", "*/*"}, {"cookie", "a=1"}}
        << QByteArray("Accept=*/*\r\ncookie=a=1\r\nUser-Agent=rq/1\r\n");
    QTest::newRow("equal lines once, earliest wins")
        << Rows{{"X-A", "One"}, {"B", "2"}, {"x-a", "one"}, {"X-A", "ONE"}}
        << QByteArray("B=2\r\nX-A=One\r\n");
    QTest::newRow("same name, other value stays")
        << Rows{{"X", "1"}, {"X", "2"}} << QByteArray("X=1\r\nX=2\r\n");
    QTest::newRow("blanks kept") << Rows{{" N ", " v "}} << QByteArray(" N = v \r\n");
    QTest::newRow("empty name and value") << Rows{{"", ""}} << QByteArray("=\r\n");
    QTest::newRow("value holds =")
        << Rows{{"Cookie", "a=1; b=2"}} << QByteArray("Cookie=a=1; b=2\r\n");
    QTest::newRow("line breaks folded to one blank")
        << Rows{{"X-Long", "first\r\nsecond\nthird\rfourth"}}
        << QByteArray("X-Long=first second third fourth\r\n");
    QTest::newRow("line break in a name") << Rows{{"A\nB", "v"}} << QByteArray("A B=v\r\n");
    QTest::newRow("code page 936 as is")
        << Rows{{"X-Name", gbk("中文值")}} << "X-Name=" + gbk("中文值") + "\r\n";
    QTest::newRow("prefix sorts first")
        << Rows{{"Ab", "1"}, {"A", "1"}} << QByteArray("A=1\r\nAb=1\r\n");
    QTest::newRow("a name before the longer names it begins")
        << Rows{{"X1", "c"}, {"x-b", "b"}, {"X", "a"}} << QByteArray("X=a\r\nx-b=b\r\nX1=c\r\n");
    QTest::newRow("same name: by value, case ignored")
        << Rows{{"x", "b"}, {"X", "A"}, {"X-", ""}} << QByteArray("X=A\r\nx=b\r\nX-=\r\n");
    QTest::newRow("ASCII before code page 936")
        << Rows{{gbk("中"), "1"}, {"z", "1"}} << "z=1\r\n" + gbk("中") + "=1\r\n";
    // B0 41 and B0 61 are two different characters, not one letter in two cases.
    QTest::newRow("trail bytes are not letters")
        << Rows{{"K", "\xB0\x61"}, {"K", "\xB0\x41"}, {"k", "\xB0\x61"}}
        << QByteArray("K=\xB0\x41\r\nK=\xB0\x61\r\n");
    QTest::newRow("no rows") << Rows{} << QByteArray();
}

void TestHeaderFile::format()
{
    QFETCH(Rows, rows);
    QFETCH(QByteArray, bytes);
    QCOMPARE(FormatHeaderFile(rows), bytes);
}

void TestHeaderFile::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Rows>("rows");
    QTest::newRow("zero bytes") << QByteArray() << Rows{};
    QTest::newRow("one empty line") << QByteArray("\r\n") << Rows{{"", ""}};
    QTest::newRow("CR LF lines") << QByteArray("A=1\r\nB=2\r\n") << Rows{{"A", "1"}, {"B", "2"}};
    QTest::newRow("LF and CR lines")
        << QByteArray("A=1\nB=2\rC=3") << Rows{{"A", "1"}, {"B", "2"}, {"C", "3"}};
    QTest::newRow("first = splits")
        << QByteArray("Cookie=a=1; b=2\r\n") << Rows{{"Cookie", "a=1; b=2"}};
    QTest::newRow("line without = keeps its text")
        << QByteArray("no equals sign\r\n") << Rows{{"", "no equals sign"}};
    QTest::newRow("blanks kept") << QByteArray("  N  =  v  \r\n") << Rows{{"  N  ", "  v  "}};
    QTest::newRow("file order, not sorted")
        << QByteArray("Z=1\r\nA=2\r\n") << Rows{{"Z", "1"}, {"A", "2"}};
    QTest::newRow("repeated names each their own value")
        << QByteArray("X=1\r\nX=2\r\n") << Rows{{"X", "1"}, {"X", "2"}};
    QTest::newRow("blank lines are rows")
        << QByteArray("A=1\r\n\r\nB=2\r\n") << Rows{{"A", "1"}, {"", ""}, {"B", "2"}};
}

void TestHeaderFile::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Rows, rows);
    QCOMPARE(describe(ParseHeaderFile(bytes)), describe(rows));
}

void TestHeaderFile::readAbsentFile()
{
    QVERIFY(!ReadHeaderFile(path()).has_value());
    writeAll(path(), QByteArray());
    const auto rows = ReadHeaderFile(path());
    QVERIFY(rows.has_value());
    QVERIFY(rows->empty());
}

void TestHeaderFile::writeAndReadFile()
{
    WriteHeaderFile(path(), Rows{{"b", "2"}, {"A", "1"}});
    QCOMPARE(readAll(path()), QByteArray("A=1\r\nb=2\r\n"));
    // Replaced whole, not appended to.
    WriteHeaderFile(path(), Rows{{"C", "3"}});
    QCOMPARE(readAll(path()), QByteArray("C=3\r\n"));
    QCOMPARE(describe(*ReadHeaderFile(path())), QByteArray("[C|3]"));
}

void TestHeaderFile::emptyListDeletesFile()
{
    writeAll(path(), "A=1\r\n");
    WriteHeaderFile(path(), Rows{});
    QVERIFY(!QFile::exists(path()));
    WriteHeaderFile(path(), Rows{}); // nothing there: no error
}

void TestHeaderFile::failedDeletionIsIgnored()
{
    // A folder with something in it cannot be deleted as a file.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Headers.dat/inner")));
    QCOMPARE(errorOf([&] { WriteHeaderFile(path(), Rows{}); }), QString());
    QVERIFY(QFileInfo(path()).isDir());
}

void TestHeaderFile::newFileIsOwnerOnly()
{
    WriteHeaderFile(path(), Rows{{"Cookie", "sid=secret"}});
    const auto mode = QFile::permissions(path()) &
                      ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    QCOMPARE(mode, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestHeaderFile::cannotCreate()
{
    // The folder cannot exist: its parent is a plain file (fails for root too).
    const QString blocker = m_dir->filePath(QStringLiteral("plainfile"));
    writeAll(blocker, "x");
    const QString target = blocker + QStringLiteral("/Headers.dat");
    const QString error = errorOf([&] { WriteHeaderFile(target, Rows{{"A", "1"}}); });
    QVERIFY2(error.startsWith(QStringLiteral("无法创建文件“") + target + QStringLiteral("”：")),
             qPrintable(error));
    QVERIFY(error.size() > target.size() + 10); // the system's reason follows
}

void TestHeaderFile::failedWriteLeavesOldFile()
{
    const QByteArray original = "Old=" + QByteArray(2000, 'o') + "\r\n";
    writeAll(path(), original);
    QString error;
    {
        FileSizeLimit limit(4096); // the disk fills up at 4 KB
        QVERIFY(limit.ok());
        error = errorOf([&] { WriteHeaderFile(path(), Rows{{"New", QByteArray(9000, 'n')}}); });
    }

    QVERIFY2(error.startsWith(QStringLiteral("无法写入文件“") + path() + QStringLiteral("”：")),
             qPrintable(error));
    QCOMPARE(readAll(path()), original);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("Headers.dat")});
}

void TestHeaderFile::unreadableFile()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Headers.dat")));
    const QString error = errorOf([&] { ReadHeaderFile(path()); });
    QVERIFY2(error.startsWith(QStringLiteral("无法打开文件“") + path()), qPrintable(error));
}

void TestHeaderFile::tooLargeFile()
{
    QFile f(path());
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(kMaxHeaderFileSize + 1)); // sparse: costs no disk space
    f.close();
    const QString error = errorOf([&] { ReadHeaderFile(path()); });
    QVERIFY2(error.startsWith(QStringLiteral("无法读取文件“") + path()), qPrintable(error));
    QVERIFY(error.contains(QString::number(kMaxHeaderFileSize + 1)));
}

void TestHeaderFile::damagedFilesLoadFast_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<int>("rowCount");
    QTest::newRow("one 10 MB line") << QByteArray("line") << 1;
    QTest::newRow("invalid code page 936") << QByteArray("invalid") << 1;
    QTest::newRow("lines of 2 MB") << QByteArray("megabyte lines") << 5;
    QTest::newRow("binary") << QByteArray("binary") << -1;
    QTest::newRow("short lines") << QByteArray("short lines") << 10 * 1024 * 1024 / 40;
}

void TestHeaderFile::damagedFilesLoadFast()
{
    QFETCH(QByteArray, kind);
    QFETCH(int, rowCount);
    const qsizetype size = 10 * 1024 * 1024;
    QByteArray bytes(size, 'v');
    if (kind == "invalid") {
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char(0x81 + (i % 2) * 0x7E);
    } else if (kind == "megabyte lines") {
        for (qsizetype i = 2 * 1024 * 1024 - 1; i < size; i += 2 * 1024 * 1024)
            bytes[i] = '\n';
    } else if (kind == "binary") {
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    } else if (kind == "short lines") {
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = (i % 40 == 38) ? '\r' : (i % 40 == 39) ? '\n' : (i % 40 == 5 ? '=' : 'h');
    }
    writeAll(path(), bytes);

    QElapsedTimer timer;
    timer.start();
    const auto rows = ReadHeaderFile(path());
    const qint64 elapsed = timer.elapsed();
    qInfo("reading a 10 MB %s file: %lld ms, %zu rows", kind.constData(), elapsed, rows->size());
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
    if (rowCount >= 0)
        QCOMPARE(int(rows->size()), rowCount);
    // Nothing is lost: every line comes back whole in its row.
    const ByteList lines = SplitString(bytes, QByteArray());
    QCOMPARE(qsizetype(rows->size()), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const HeaderEntry& r = (*rows)[size_t(i)];
        const QByteArray back = lines[i].contains('=') ? r.name + '=' + r.value : r.value;
        QVERIFY2(back == lines[i], qPrintable(QStringLiteral("line %1").arg(i)));
    }
}

QTEST_APPLESS_MAIN(TestHeaderFile)
#include "tst_headerfile.moc"
