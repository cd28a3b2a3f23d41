// A paste of 1, 10 and 50 MB of JSON into the data field, by its double-click
// gesture (the clipboard's text replaces the field's) and by Ctrl+V, up to
// the window painted again; and the peak memory of that paste in a fresh
// process, against the size of the text (UTF-8). The reference in the same
// run is one copy of the same text (what taking it from the clipboard costs
// at least); for 1 MB also a plain QLineEdit's clear() and insert(), the
// path the field took before.
//
//   bench_paste            runs every case, each in a fresh process
//   bench_paste <MB> <way> one case: way is "dblclick", "keys" or "qlineedit"

#include "app/untFrmMain.h"
#include "support/ScriptedPrompter.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

long kilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Minified JSON: one line, mostly ASCII, some Chinese.
QString json(int megabytes)
{
    const QString item = QStringLiteral("{\"id\":12345,\"name\":\"名字\",\"tags\":[\"a\",\"b\"]},");
    QString text = QStringLiteral("[");
    const qsizetype bytes = qsizetype(megabytes) * 1000 * 1000;
    text.reserve(bytes);
    const qsizetype itemBytes = item.toUtf8().size();
    for (qsizetype made = 1; made + itemBytes < bytes; made += itemBytes)
        text += item;
    text.back() = QLatin1Char(']');
    return text;
}

int runCase(int megabytes, const QString& way)
{
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    TFrmMain::Environment env;
    env.prompter = &prompter;
    env.executablePath = QDir(dir.path()).filePath(QStringLiteral("reqlark"));
    TFrmMain window(env);
    window.show();
    QTest::qWaitForWindowExposed(&window);
    auto* field = window.findChild<QLineEdit*>(QStringLiteral("edtData"));
    QLineEdit plain;
    plain.setMaxLength(INT_MAX);
    plain.show();
    QApplication::processEvents();

    // Everything from here counts: the text as the clipboard hands it over
    // (UTF-16) and whatever the field makes of it.
    const long before = kilobytes("VmRSS:");
    const QString text = json(megabytes);
    const double utf8 = double(text.toUtf8().size());
    QElapsedTimer clock;
    clock.start();
    if (way == QLatin1String("dblclick")) {
        prompter.clipboard = text;
        QTest::mouseDClick(field, Qt::LeftButton);
        window.repaint();
    } else if (way == QLatin1String("keys")) {
        QGuiApplication::clipboard()->setText(text);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        window.repaint();
    } else {
        plain.clear();
        plain.insert(text);
        plain.repaint();
    }
    QApplication::processEvents();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    const long peak = kilobytes("VmHWM:") - before;
    // The reference: one copy of the text.
    clock.restart();
    QString copy = text;
    copy.detach();
    const double copyMs = double(clock.nsecsElapsed()) / 1e6;
    const qsizetype got =
        way == QLatin1String("qlineedit") ? plain.text().size() : field->text().size();
    std::printf(
        "%3d MB %-9s %9.1f ms (copy %6.2f ms, %7.1fx)  peak +%7.1f MB (%4.1fx the text)%s\n",
        megabytes, qPrintable(way), ms, copyMs, ms / copyMs, double(peak) / 1024,
        double(peak) * 1024 / utf8, got == text.size() ? "" : "  TEXT LOST");
    return got == text.size() ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3)
        return runCase(QByteArray(argv[1]).toInt(), QString::fromLatin1(argv[2]));
    int failures = 0;
    const QList<QPair<int, const char*>> cases{{1, "qlineedit"}, {1, "dblclick"}, {1, "keys"},
                                               {10, "dblclick"}, {10, "keys"},    {50, "dblclick"},
                                               {50, "keys"}};
    for (const auto& [megabytes, way] : cases) {
        QProcess one;
        one.setProcessChannelMode(QProcess::ForwardedChannels);
        one.start(QCoreApplication::applicationFilePath(),
                  {QString::number(megabytes), QString::fromLatin1(way)});
        if (!one.waitForFinished(300000) || one.exitCode() != 0)
            ++failures;
    }
    std::printf("target: 10 MB in under a second and under 10x the text in memory\n");
    return failures == 0 ? 0 : 1;
}
