// The code page 936 converter against the C library's iconv, the system's
// definition of the code page: every character of the Basic Multilingual
// Plane is written, and every single byte and lead/trail pair is read, as
// iconv writes and reads it.

#include "util/AnsiCodec.h"

#include <QTest>

#include <iconv.h>

namespace {

// iconv's conversion of `in` whole, or nothing when it refuses any of it.
std::optional<QByteArray> viaIconv(iconv_t cd, const QByteArray& in)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char out[8];
    char* inPtr = const_cast<char*>(in.constData());
    size_t inLeft = size_t(in.size());
    char* outPtr = out;
    size_t outLeft = sizeof out;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
        return std::nullopt;
    return QByteArray(out, qsizetype(sizeof out - outLeft));
}

QByteArray utf16(char16_t unit)
{
    return QByteArray(reinterpret_cast<const char*>(&unit), 2);
}

} // namespace

class TestCodePage : public QObject
{
    Q_OBJECT
private slots:
    void writesEveryCharacterAsIconv();
    void readsEverySequenceAsIconv();
};

void TestCodePage::writesEveryCharacterAsIconv()
{
    const iconv_t cd = iconv_open("CP936", "UTF-16LE");
    QVERIFY(cd != reinterpret_cast<iconv_t>(-1));
    int mapped = 0;
    for (char32_t cp = 1; cp < 0x10000; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const std::optional<QByteArray> expected = viaIconv(cd, utf16(char16_t(cp)));
        const QByteArray ours = AnsiCodec::fromUnicode(QString(QChar(char16_t(cp))));
        if (ours != expected.value_or(QByteArray("?")))
            QFAIL(qPrintable(QStringLiteral("U+%1 written as %2, iconv writes %3")
                                 .arg(uint(cp), 4, 16, QLatin1Char('0'))
                                 .arg(QString::fromLatin1(ours.toHex()),
                                      QString::fromLatin1(expected.value_or("(nothing)").toHex()))));
        mapped += expected ? 1 : 0;
    }
    iconv_close(cd);
    QVERIFY2(mapped > 21000, qPrintable(QString::number(mapped)));
}

void TestCodePage::readsEverySequenceAsIconv()
{
    const iconv_t cd = iconv_open("UTF-16LE", "CP936");
    QVERIFY(cd != reinterpret_cast<iconv_t>(-1));
    QList<QByteArray> sequences;
    for (int b = 1; b < 0x100; ++b)
        sequences.append(QByteArray(1, char(b)));
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const char pair[2] = {char(lead), char(trail)};
            sequences.append(QByteArray(pair, 2));
        }
    }
    for (const QByteArray& bytes : sequences) {
        const std::optional<QByteArray> unit = viaIconv(cd, bytes);
        // A lead byte alone, an unused byte or a refused pair reads as one
        // replacement character each, as the converter promises.
        const bool single = bytes.size() == 1;
        const QString expected =
            unit ? QString(QChar(*reinterpret_cast<const char16_t*>(unit->constData())))
                 : QString(single ? 1 : 0, QChar(0xFFFD));
        const QString ours = AnsiCodec::toUnicode(bytes);
        if (unit ? ours != expected : !ours.startsWith(QChar(0xFFFD)))
            QFAIL(qPrintable(QStringLiteral("%1 read as %2")
                                 .arg(QString::fromLatin1(bytes.toHex()), ours)));
    }
    iconv_close(cd);
}

QTEST_APPLESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
