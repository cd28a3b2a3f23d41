#include "request/FormatByteSize.h"

#include <cstdio>

QByteArray FormatByteSize(qint64 size)
{
    char text[64];
    if (size / 1073741824 > 0)
        std::snprintf(text, sizeof text, "%.2f GB ", double(size) / 1073741824.0);
    else if (size / 1048576 > 0)
        std::snprintf(text, sizeof text, "%.2f MB ", double(size) / 1048576.0);
    else if (size / 1024 > 0)
        std::snprintf(text, sizeof text, "%.2f KB ", double(size) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%lld Byte", static_cast<long long>(size));
    return QByteArray(text);
}
