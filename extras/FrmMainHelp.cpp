// Help and About commands of the main window.

#include "app/untFrmMain.h"

void TFrmMain::mniHelpClick() {}

void TFrmMain::mniAboutClick() {}
