#include "extras/VersionUnit.h"

// The version record reader arrives with the About box; until then the
// executable reports no version.
QString GetAppVersion()
{
    return {};
}
