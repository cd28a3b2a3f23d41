// The converter against the C library's iconv, the system's definition of the
// code pages: every character of the Basic Multilingual Plane is written, and
// every single byte and lead/trail pair is read, as iconv's code page 936
// writes and reads it, and where code page 936 has nothing, as its GB18030
// does.

#include "util/AnsiCodec.h"

#include <QTest>

#include <iconv.h>

namespace {

// iconv's conversion of `in` whole; "?" when it refuses any of it.
QByteArray viaIconv(const char* to, const char* from, const QByteArray& in)
{
    const iconv_t cd = iconv_open(to, from);
    char out[8];
    char* inPtr = const_cast<char*>(in.constData());
    char* outPtr = out;
    size_t inLeft = size_t(in.size()), outLeft = sizeof out;
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) && inLeft == 0;
    iconv_close(cd);
    return ok ? QByteArray(out, qsizetype(sizeof out - outLeft)) : QByteArray("?");
}

} // namespace

class TestCodePage : public QObject
{
    Q_OBJECT
private slots:
    void everyCharacterAndSequenceAsIconv();
};

void TestCodePage::everyCharacterAndSequenceAsIconv()
{
    int written = 0;
    for (char32_t cp = 1; cp < 0x10000; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const char16_t unit = char16_t(cp);
        const QByteArray utf16(reinterpret_cast<const char*>(&unit), 2);
        QByteArray expected = viaIconv("CP936", "UTF-16LE", utf16);
        written += expected != "?";
        if (expected == "?") {
            expected = viaIconv("GB18030", "UTF-16LE", utf16);
            // The one exception: a pair code page 936 reads as another character.
            if (expected.size() == 2 && viaIconv("UTF-16LE", "CP936", expected) != "?")
                expected = "?";
        }
        QCOMPARE(AnsiCodec::fromUnicode(QString(QChar(unit))), expected);
    }
    QVERIFY2(written > 21000, qPrintable(QString::number(written)));

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
        QByteArray unit = viaIconv("UTF-16LE", "CP936", bytes);
        // GB18030's own pairs count for characters code page 936 has nowhere
        // else (so that every text reads back as the same bytes).
        if (unit == "?" && bytes.size() == 2) {
            unit = viaIconv("UTF-16LE", "GB18030", bytes);
            if (unit != "?" && viaIconv("CP936", "UTF-16LE", unit) != "?")
                unit = "?";
        }
        const QString ours = AnsiCodec::toUnicode(bytes);
        // What iconv refuses reads as the replacement character first.
        if (unit == "?")
            QVERIFY2(ours.startsWith(QChar(0xFFFD)), bytes.toHex().constData());
        else
            QCOMPARE(ours, QString::fromUtf16(reinterpret_cast<const char16_t*>(unit.constData()),
                                              unit.size() / 2));
    }
}

QTEST_APPLESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
