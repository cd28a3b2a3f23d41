#pragma once

#include <QByteArray>

// A byte count as shown in the status bar: "%.2f GB ", "%.2f MB ", "%.2f KB "
// (each with a trailing blank) or the whole number followed by " Byte".
QByteArray FormatByteSize(qint64 size);
