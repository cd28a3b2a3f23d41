// Browser cookie tools of the main window.

#include "app/untFrmMain.h"

void TFrmMain::mniClearIECookiesClick() {}

void TFrmMain::mniDelCurrCookieClick() {}
