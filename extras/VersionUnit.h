#pragma once

#include <QString>

// The running executable's file version as "major.minor.release", or empty
// text when it carries no version record.
QString GetAppVersion();
