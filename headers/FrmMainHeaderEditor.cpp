// Opening the header editor and importing headers from the clipboard.

#include "app/untFrmMain.h"

void TFrmMain::mniAddReqHeaderClick() {}

void TFrmMain::mniEditReqHeaderClick() {}

void TFrmMain::mniReqHeaderImportFromClipbrdClick() {}
