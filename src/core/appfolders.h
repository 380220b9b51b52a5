#pragma once

#include <QString>

// Where the program keeps its files, by the XDG convention: the data folder
// "$XDG_DATA_HOME/bundlewick/" (database, diagnostics, lock) and the
// configuration folder "$XDG_CONFIG_HOME/bundlewick/" (the parameter store).
// Earlier versions used "orro{}/Bundlewick" under both; those folders are
// moved once, on the first start that finds them.

// Both end with "/".
QString AppDataFolder();
QString AppConfigFolder();
// The parameter store's file in AppConfigFolder().
QString ParamsFileName();
// The folders of earlier versions, ending with "/".
QString LegacyDataFolder();
QString LegacyConfigFolder();

enum class TFolderMove {
    Nothing, // no old folder
    Moved, // the old folder is now the new one
    KeptNew, // both exist: the new one stays in use, the old one untouched
    Failed, // the old folder could not be moved; it is untouched
};

// Moves sOld to sNew when sOld exists and sNew does not: renamed when
// possible, else copied and the old folder removed only once every file was
// copied (a partial copy is removed again). An emptied parent folder of sOld
// is removed too.
TFolderMove MoveLegacyFolder(const QString &sOld, const QString &sNew);
// Both moves; a failure leaves the old folder for the next start.
void MoveLegacyFolders();
