#pragma once

#include <QString>

// Where the settings file and the header list file live.
//
// A copy run from its build folder, or from any other folder its user may
// write that is not a system folder, keeps both beside its executable, so that
// the folder can be moved or copied with its settings (a portable copy).
// An installed copy keeps them in the user's configuration folder,
// $XDG_CONFIG_HOME/reqlark (~/.config/reqlark when that is unset), and never
// writes into a system folder, also when run as root. A copy counts as
// installed when its executable lies
// - in a system folder: "/" or under /bin, /boot, /etc, /lib*, /opt, /sbin,
//   /snap or /usr, where no program keeps data of its own, whoever runs it;
// - in <prefix>/bin of the prefix the program was built for,
// - in <prefix>/bin beside the menu entry the install step puts into
//   <prefix>/share/applications (an install into another prefix, ~/.local
//   for one), or
// - in an existing folder its user may not write.

// What the decision depends on, read from the system by CurrentConfigFacts.
struct ConfigFacts
{
    QString executablePath;       // absolute, links resolved
    QString installPrefix;        // the prefix the program was built for
    QString configHome;           // absolute: $XDG_CONFIG_HOME or ~/.config
    bool folderWritable = true;   // the user may write the executable's folder
    bool besideMenuEntry = false; // <prefix>/bin holds it, <prefix>/share/applications its entry
};

struct ConfigLocation
{
    bool installed = false;
    QString folder; // holds both files
    QString settingsFile;
    QString headersFile;
    // An installed copy's files beside its executable, left there by an
    // earlier portable use; the first start carries them over.
    QString earlierSettingsFile;
    QString earlierHeadersFile;
};

ConfigFacts CurrentConfigFacts(const QString& executablePath);
ConfigLocation LocateConfig(const ConfigFacts& facts);

// For an installed copy: makes its configuration folder (each missing folder
// readable by its owner only) and, while that holds no settings file yet,
// copies an earlier pair from beside the executable into it; a file already
// there is kept, and the earlier files are never deleted. The header list
// goes first, so that the settings file marks a finished carry-over; after a
// failure the next start tries again. Throws ReqlarkError naming the folder
// or file and the reason. Does nothing for a portable copy.
void PrepareConfigFolder(const ConfigLocation& location);
