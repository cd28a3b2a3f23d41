#include "util/ProgramResources.h"

#include "util/ReqlarkError.h"

#include <QFile>

namespace ProgramResources {

QString pathOf(const QString& name, const QString& type)
{
    const QString path =
        QStringLiteral(":/res/") + type.toUpper() + QLatin1Char('/') + name.toUpper();
    return QFile::exists(path) ? path : QString();
}

QByteArray load(const QString& name, const QString& type)
{
    const QString path = pathOf(name, type);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        throw ReqlarkError(QStringLiteral("缺少程序资源 %1（类型 %2）").arg(name, type));
    }
    return file.readAll();
}

} // namespace ProgramResources
