// Help and About commands of the main window.

#include "app/untFrmMain.h"
#include "extras/untFrmAbout.h"
#include "extras/untFrmNote.h"

void TFrmMain::mniHelpClick()
{
    TfrmNote note(this);
    note.ShowResourceText(QStringLiteral("HelpFile"), QStringLiteral("TXT"));
    note.setWindowTitle(QStringLiteral("使用帮助"));
    note.exec();
}

void TFrmMain::mniAboutClick()
{
    TfrmAbout about(this);
    about.exec();
}
