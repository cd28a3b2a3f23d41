// The version record: written by the build into every executable that links
// the core, found again by scanning files, read under either translation.

#include "extras/VersionUnit.h"
#include "util/AnsiCodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Entries = QList<QPair<QByteArray, QByteArray>>;

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

    void recordSurvivesEncodingInsideOtherBytes();
    void readsStringTables_data();
    void readsStringTables();
    void versionText_data();
    void versionText();
    void filesWithoutRecord_data();
    void filesWithoutRecord();
    void damagedRecordsAreSkipped_data();
    void damagedRecordsAreSkipped();
    void mutatedRecordsNeverReadOutOfBounds();
    void runningExecutableCarriesTheBuildRecord();
    void strippedExecutableKeepsTheRecord();
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

void TestVersionUnit::recordSurvivesEncodingInsideOtherBytes()
{
    const VersionRecord in = makeRecord(0x00020003, 0x00040005,
                                        {{"040904E4",
                                          {{"CompanyName", "Acme"},
                                           {"Comments", QByteArray()},
                                           {"ProductName", "Gadget \xE4\xB8\xAD"}}},
                                         {"080403A8", {{"CompanyName", "\xE7\x94\xB2"}}}});
    const QByteArray data = noise(4096, 1) + EncodeVersionRecord(in) + noise(777, 2);
    const std::optional<VersionRecord> out = FindVersionRecord(data);
    QVERIFY(out);
    QVERIFY(out->fixed == in.fixed);
    QCOMPARE(out->tables.size(), 2);
    QCOMPARE(out->tables[0].translation, QByteArray("040904E4"));
    QCOMPARE(out->tables[0].entries, in.tables[0].entries);
    QCOMPARE(out->tables[1].entries, in.tables[1].entries);
    QCOMPARE(out->value("040904e4", "productname"), QByteArray("Gadget \xE4\xB8\xAD"));
    QVERIFY(!out->value("040904E4", "LegalTrademarks"));
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
    QTest::newRow("names in other letter case")
        << QList<VersionStringTable>{{"080403a8", {{"COMPANYNAME", "Acme"}, {"productname", "P"}}}}
        << true << QByteArray("Acme") << QByteArray("P") << QByteArray("66500");
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

void TestVersionUnit::versionText_data()
{
    QTest::addColumn<quint32>("ms");
    QTest::addColumn<quint32>("ls");
    QTest::addColumn<QString>("text");
    QTest::newRow("build number left out") << 0x00010001u << 0x0000000Au << QStringLiteral("1.1.0");
    QTest::newRow("largest numbers")
        << 0xFFFFFFFFu << 0xFFFF0000u << QStringLiteral("65535.65535.65535");
    QTest::newRow("all zero") << 0u << 0u << QStringLiteral("0.0.0");
}

void TestVersionUnit::versionText()
{
    QFETCH(quint32, ms);
    QFETCH(quint32, ls);
    QFETCH(QString, text);
    const QString path =
        writeFile(QStringLiteral("v.bin"), EncodeVersionRecord(makeRecord(ms, ls, {})));
    QCOMPARE(GetFileVersionText(path), text);
}

void TestVersionUnit::filesWithoutRecord_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("plain bytes") << QStringLiteral("plain");
    QTest::newRow("empty file") << QStringLiteral("empty");
    QTest::newRow("missing file") << QStringLiteral("missing");
    QTest::newRow("folder") << QStringLiteral("folder");
    QTest::newRow("endless device") << QStringLiteral("device");
}

void TestVersionUnit::filesWithoutRecord()
{
    QFETCH(QString, kind);
    QString path;
    if (kind == QLatin1String("plain"))
        path = writeFile(QStringLiteral("plain.exe"), noise(100000, 5));
    else if (kind == QLatin1String("empty"))
        path = writeFile(QStringLiteral("empty.exe"), QByteArray());
    else if (kind == QLatin1String("missing"))
        path = m_dir->filePath(QStringLiteral("nothing-here.exe"));
    else if (kind == QLatin1String("folder"))
        path = m_dir->path();
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
    QByteArray badSignature = good;
    badSignature[16 + 4] = char(badSignature[16 + 4] ^ 0xFF);
    QByteArray hugeLength = good;
    hugeLength[16 + 3] = char(0x7F);

    QTest::newRow("checksum broken") << flipped << false;
    QTest::newRow("signature broken") << badSignature << false;
    QTest::newRow("length beyond the file") << hugeLength << false;
    QTest::newRow("cut short") << good.left(good.size() - 1) << false;
    QTest::newRow("marker alone at the end") << noise(50, 6) + marker << false;
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

void TestVersionUnit::mutatedRecordsNeverReadOutOfBounds()
{
    // Any file may be handed to the reader; damaged records must be refused
    // or read, never read past their end (ASan builds check the bytes).
    const QByteArray good = EncodeVersionRecord(makeRecord(
        0x00010002, 0x00030004,
        {{"080403A8", {{"CompanyName", "A"}, {"ProductName", "BB"}}}, {"040904E4", {}}}));
    QRandomGenerator gen(42);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = good;
        const int flips = 1 + int(gen.bounded(4));
        for (int i = 0; i < flips; ++i) {
            const int at = 16 + int(gen.bounded(bytes.size() - 16));
            bytes[at] = char(gen.bounded(256));
        }
        bytes.truncate(16 + int(gen.bounded(bytes.size() - 15)));
        // A copy of exactly the remaining size, so any overrun leaves the buffer.
        const QByteArray exact(bytes.constData(), bytes.size());
        if (!FindVersionRecord(exact))
            ++refused;
    }
    QVERIFY(refused > 2900);
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

    QCOMPARE(info.FixedInfo.Signature, kFixedFileInfoSignature);
    QCOMPARE(info.FixedInfo.FileVersionMS, 0x00010001u);
    QCOMPARE(info.FixedInfo.FileVersionLS, 0x0000000Au);
    QVERIFY(!info.CompanyName.isEmpty());
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

void TestVersionUnit::strippedExecutableKeepsTheRecord()
{
    const QString strip = QStandardPaths::findExecutable(QStringLiteral("strip"));
    if (strip.isEmpty())
        QSKIP("binutils' strip is not installed");
    const QString copy = m_dir->filePath(QStringLiteral("stripped"));
    QProcess process;
    process.start(strip, {QStringLiteral("--strip-all"), QStringLiteral("-o"), copy,
                          QCoreApplication::applicationFilePath()});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(QFileInfo(copy).size() < QFileInfo(QCoreApplication::applicationFilePath()).size());
    QCOMPARE(GetFileVersionText(copy), QStringLiteral("1.1.0"));
}

void TestVersionUnit::isFontInstalled_data()
{
    QTest::addColumn<QString>("face");
    QTest::addColumn<bool>("installed");
    QTest::newRow("as listed") << QStringLiteral("WenQuanYi Micro Hei") << true;
    QTest::newRow("other letter case") << QStringLiteral("wenquanyi MICRO hei") << true;
    QTest::newRow("unknown face") << QStringLiteral("No Such Face 12345") << false;
    QTest::newRow("part of a name") << QStringLiteral("WenQuanYi") << false;
    QTest::newRow("empty") << QString() << false;
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
