// The header list file beside the executable.

#include "app/untFrmMain.h"

void TFrmMain::LoadReqHeaderFile() {}

void TFrmMain::SaveReqHeaderFile() {}
