// The main window for tst_accessibility.py, its files in a temporary folder
// and a known text in the HTML pane. Prints "ready" once shown and ends when
// its standard input closes.

#include "app/untFrmMain.h"
#include "results/LargeTextView.h"
#include "support/ScriptedPrompter.h"

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("reqlark-a11y-host"));
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    TFrmMain::Environment env;
    env.prompter = &prompter;
    env.executablePath = QDir(dir.path()).filePath(QStringLiteral("reqlark"));
    TFrmMain window(env);
    auto* memo = window.findChild<LargeTextView*>(QStringLiteral("mmoHtml"));
    // Chinese, a character beyond the BMP, a control character, CR LF, a lone CR.
    memo->setUtf8(QByteArrayLiteral("<html>\r\n"
                                    "第一行 hello world\n"
                                    "emoji \xF0\x9F\x98\x80 after\x01tab\there\r"
                                    "last line"));
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        return 1;
    memo->setFocus();
    memo->setSelection(0, 6);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char c;
        if (::read(STDIN_FILENO, &c, 1) <= 0)
            app.quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
