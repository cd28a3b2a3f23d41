// The version record: written by the build into every executable that links
// the core, found again by scanning files, read under either translation.

#include "extras/VersionUnit.h"
#include "util/AnsiCodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

VersionRecord makeRecord(quint32 ms, quint32 ls, const QList<VersionStringTable>& tables)
{
    VersionRecord r;
    r.fixed.Signature = kFixedFileInfoSignature;
    r.fixed.StrucVersion = 0x00010000;
    r.fixed.FileVersionMS = ms;
    r.fixed.FileVersionLS = ls;
    r.fixed.ProductVersionMS = ms;
    r.fixed.ProductVersionLS = ls;
    r.fixed.FileType = 1;
    r.fixed.FileDateLS = 0xDEADBEEF; // every word must come back, not just the versions
    r.tables = tables;
    return r;
}

QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

QByteArray gbk(const char* utf8)
{
    return AnsiCodec::fromUnicode(QString::fromUtf8(utf8));
}

} // namespace

Q_DECLARE_METATYPE(VersionStringTable)

class TestVersionUnit : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void readsStringTables_data();
    void readsStringTables();
    void filesWithoutRecord_data();
    void filesWithoutRecord();
    void damagedRecordsAreSkipped_data();
    void damagedRecordsAreSkipped();
    void runningExecutableCarriesTheBuildRecord();
    void isFontInstalled_data();
    void isFontInstalled();

private:
    QString writeFile(const QString& name, const QByteArray& bytes);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestVersionUnit::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestVersionUnit::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestVersionUnit::readsStringTables_data()
{
    QTest::addColumn<QList<VersionStringTable>>("tables");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("company");
    QTest::addColumn<QByteArray>("product");
    QTest::addColumn<QByteArray>("localPort");

    QTest::newRow("only 040904E4")
        << QList<VersionStringTable>{{"040904E4",
                                      {{"CompanyName", "Acme Ltd"}, {"ProductName", "Widget"}}}}
        << true << QByteArray("Acme Ltd") << QByteArray("Widget") << QByteArray("66500");
    QTest::newRow("040904E4 with its own port")
        << QList<VersionStringTable>{{"040904E4", {{"CompanyName", "Acme"}, {"LocalPort", "8080"}}}}
        << true << QByteArray("Acme") << QByteArray() << QByteArray("8080");
    QTest::newRow("080403A8 wins over 040904E4")
        << QList<VersionStringTable>{{"040904E4",
                                      {{"CompanyName", "English"}, {"ProductName", "E"}}},
                                     {"080403A8",
                                      {{"CompanyName", "\xE5\xBC\x80\xE5\x8F\x91\xE7\xBB\x84"},
                                       {"ProductName", "C"}}}}
        << true << gbk("开发组") << QByteArray("C") << QByteArray("66500");
    // The table is chosen by CompanyName alone: every other text then comes
    // from that same table, even where the other one has it.
    QTest::newRow("080403A8 without CompanyName")
        << QList<VersionStringTable>{{"080403A8", {{"ProductName", "Chinese"}, {"LocalPort", "1"}}},
                                     {"040904E4", {{"CompanyName", "Acme"}}}}
        << true << QByteArray("Acme") << QByteArray() << QByteArray("66500");
    QTest::newRow("no CompanyName anywhere")
        << QList<VersionStringTable>{{"040904E4", {{"ProductName", "Widget"}}}} << false
        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("only another translation")
        << QList<VersionStringTable>{{"041104B0", {{"CompanyName", "Other"}}}} << false
        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("no tables") << QList<VersionStringTable>{} << false << QByteArray()
                               << QByteArray() << QByteArray();
}

void TestVersionUnit::readsStringTables()
{
    QFETCH(QList<VersionStringTable>, tables);
    QFETCH(bool, found);
    QFETCH(QByteArray, company);
    QFETCH(QByteArray, product);
    QFETCH(QByteArray, localPort);

    const VersionRecord record = makeRecord(0x00030004, 0x00050006, tables);
    const QString path = writeFile(QStringLiteral("tool.exe"),
                                   noise(1000, 3) + EncodeVersionRecord(record) + noise(10, 4));
    TFileVersionInfo info;
    info.Comments = "stale text from an earlier read";
    QCOMPARE(ReadFileVersionInfo(path, info), found);
    // The fixed part is filled whenever the file has a record at all.
    QVERIFY(info.FixedInfo == record.fixed);
    QCOMPARE(info.CompanyName, company);
    QCOMPARE(info.ProductName, product);
    QCOMPARE(info.LocalPort, localPort);
    QCOMPARE(info.Comments, QByteArray());
    QCOMPARE(GetFileVersionText(path), QStringLiteral("3.4.5"));
}

void TestVersionUnit::filesWithoutRecord_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("plain bytes") << QStringLiteral("plain");
    QTest::newRow("missing file") << QStringLiteral("missing");
    QTest::newRow("endless device") << QStringLiteral("device");
}

void TestVersionUnit::filesWithoutRecord()
{
    QFETCH(QString, kind);
    QString path;
    if (kind == QLatin1String("plain"))
        path = writeFile(QStringLiteral("plain.exe"), noise(100000, 5));
    else if (kind == QLatin1String("missing"))
        path = m_dir->filePath(QStringLiteral("nothing-here.exe"));
    else
        path = QStringLiteral("/dev/zero"); // would never end if it were read

    TFileVersionInfo info;
    QVERIFY(!ReadFileVersionInfo(path, info));
    QVERIFY(info.FixedInfo == TFixedFileInfo());
    QCOMPARE(info.CompanyName, QByteArray());
    QCOMPARE(info.LocalPort, QByteArray());
    QCOMPARE(GetFileVersionText(path), QString());
}

void TestVersionUnit::damagedRecordsAreSkipped_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("found");

    const QByteArray good = EncodeVersionRecord(
        makeRecord(0x00070008, 0x00090000, {{"040904E4", {{"CompanyName", "Good"}}}}));
    const QByteArray marker = good.left(16);

    QByteArray flipped = good;
    flipped[good.size() - 10] = char(flipped[good.size() - 10] ^ 0x01);
    QByteArray hugeLength = good;
    hugeLength[16 + 3] = char(0x7F);

    QTest::newRow("checksum broken") << flipped << false;
    QTest::newRow("length beyond the file") << hugeLength << false;
    QTest::newRow("cut short") << good.left(good.size() - 1) << false;
    QTest::newRow("stray marker before the record")
        << marker + noise(64, 7) + marker + QByteArray(40, '\0') + good << true;
    QTest::newRow("damaged copy before a good one") << flipped + good << true;
}

void TestVersionUnit::damagedRecordsAreSkipped()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, found);
    const QString path = writeFile(QStringLiteral("d.exe"), data);
    TFileVersionInfo info;
    QCOMPARE(ReadFileVersionInfo(path, info), found);
    QCOMPARE(info.CompanyName, found ? QByteArray("Good") : QByteArray());
    QCOMPARE(GetFileVersionText(path), found ? QStringLiteral("7.8.9") : QString());
}

void TestVersionUnit::runningExecutableCarriesTheBuildRecord()
{
    const QString self = QCoreApplication::applicationFilePath();
    QCOMPARE(GetAppVersion(), QStringLiteral("1.1.0"));

    QElapsedTimer clock;
    clock.start();
    TFileVersionInfo info;
    QVERIFY(ReadFileVersionInfo(self, info));
    qInfo("reading the record of %s (%lld bytes) took %lld ms", qPrintable(self),
          QFileInfo(self).size(), clock.elapsed());
    QVERIFY2(clock.elapsed() < 2000, "scanning the executable must stay quick");

    QCOMPARE(info.FixedInfo.FileVersionMS, 0x00010001u);
    QCOMPARE(info.FixedInfo.FileVersionLS, 0x0000000Au);
    QCOMPARE(info.FileVersion, QByteArray("1.1.0.10"));
    QCOMPARE(info.LocalPort, QByteArray("66500"));

    // The one in the file is the one compiled in, under 080403A8 with the
    // eleven entries in their order.
    const std::optional<VersionRecord> embedded = FindVersionRecord(EmbeddedVersionRecord());
    QVERIFY(embedded);
    QCOMPARE(embedded->tables.size(), 1);
    QCOMPARE(embedded->tables[0].translation, QByteArray("080403A8"));
    QByteArrayList keys;
    for (const auto& entry : embedded->tables[0].entries) {
        keys << entry.first;
        QVERIFY2(!entry.second.isEmpty(), entry.first.constData());
    }
    QCOMPARE(keys, (QByteArrayList{"CompanyName", "FileDescription", "FileVersion", "InternalName",
                                   "LegalCopyright", "LegalTrademarks", "OriginalFilename",
                                   "ProductName", "ProductVersion", "Comments", "SpecialBuild"}));
    QCOMPARE(info.CompanyName, AnsiCodec::utf8ToAnsi(*embedded->value("080403A8", "CompanyName")));
}

void TestVersionUnit::isFontInstalled_data()
{
    QTest::addColumn<QString>("face");
    QTest::addColumn<bool>("installed");
    QTest::newRow("as listed") << QStringLiteral("WenQuanYi Micro Hei") << true;
    QTest::newRow("other letter case") << QStringLiteral("wenquanyi MICRO hei") << true;
    QTest::newRow("unknown face") << QStringLiteral("No Such Face 12345") << false;
}

void TestVersionUnit::isFontInstalled()
{
    QFETCH(QString, face);
    QFETCH(bool, installed);
    QVERIFY2(QFontDatabase::families().contains(QStringLiteral("WenQuanYi Micro Hei")),
             "fonts-wqy-microhei must be installed");
    QCOMPARE(IsFontInstalled(face), installed);
}

QTEST_MAIN(TestVersionUnit)
#include "tst_versionunit.moc"
