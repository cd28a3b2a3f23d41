#pragma once

#include <QByteArray>
#include <QString>

// Resources carried by the program, found by name and type the way the
// original resource lookup finds them: letter case does not matter
// ("HelpFile" finds HELPFILE).
namespace ProgramResources {

// The Qt resource path of a resource, or an empty text when there is none.
QString pathOf(const QString& name, const QString& type);

// The bytes of a resource; throws ReqlarkError when it does not exist.
QByteArray load(const QString& name, const QString& type);

} // namespace ProgramResources
