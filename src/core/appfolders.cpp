#include "core/appfolders.h"

#include "core/winutils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kFolder = QStringLiteral("bundlewick");
const QString kLegacyFolder = QStringLiteral("orro{}/Bundlewick");

QString ConfigHome()
{
    const QString env = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env))
        return QDir::cleanPath(env);
    return QDir::homePath() + QStringLiteral("/.config");
}

QString Clean(const QString &sFolder)
{
    return QDir::cleanPath(sFolder);
}

// Copies the tree; false at the first entry that could not be copied.
bool CopyTree(const QString &sFrom, const QString &sTo)
{
    if (!QDir().mkpath(sTo))
        return false;
    const QDir from(sFrom);
    const QFileInfoList entries
        = from.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : entries) {
        const QString sTarget = sTo + QLatin1Char('/') + info.fileName();
        if (info.isSymLink()) {
            if (!QFile::link(info.symLinkTarget(), sTarget))
                return false;
        } else if (info.isDir()) {
            if (!CopyTree(info.filePath(), sTarget))
                return false;
        } else if (!QFile::copy(info.filePath(), sTarget)) {
            return false;
        }
    }
    return true;
}

} // namespace

QString AppDataFolder()
{
    return SpecialFolder(CSIDL_APPDATA) + QLatin1Char('/') + kFolder + QLatin1Char('/');
}

QString AppConfigFolder()
{
    return ConfigHome() + QLatin1Char('/') + kFolder + QLatin1Char('/');
}

QString ParamsFileName()
{
    return AppConfigFolder() + QStringLiteral("params.conf");
}

QString LegacyDataFolder()
{
    return SpecialFolder(CSIDL_APPDATA) + QLatin1Char('/') + kLegacyFolder + QLatin1Char('/');
}

QString LegacyConfigFolder()
{
    return ConfigHome() + QLatin1Char('/') + kLegacyFolder + QLatin1Char('/');
}

TFolderMove MoveLegacyFolder(const QString &sOldFolder, const QString &sNewFolder)
{
    const QString sOld = Clean(sOldFolder);
    const QString sNew = Clean(sNewFolder);
    const QFileInfo oldInfo(sOld);
    if (!oldInfo.isDir() || oldInfo.isSymLink())
        return TFolderMove::Nothing;
    if (QFileInfo::exists(sNew) || QFileInfo(sNew).isSymLink())
        return TFolderMove::KeptNew;
    const QString sParent = QFileInfo(sNew).absolutePath();
    if (!QDir().mkpath(sParent))
        return TFolderMove::Failed;
    if (!QDir().rename(sOld, sNew)) {
        // Another file system: copy, and drop the old tree only when all of
        // it arrived.
        if (!CopyTree(sOld, sNew)) {
            QDir(sNew).removeRecursively();
            return TFolderMove::Failed;
        }
        if (!QDir(sOld).removeRecursively())
            return TFolderMove::Moved; // what is left of the old tree stays; the copy is whole
    }
    // The vendor folder above the old one, when it is empty now.
    QDir().rmdir(QFileInfo(sOld).absolutePath());
    return TFolderMove::Moved;
}

void MoveLegacyFolders()
{
    MoveLegacyFolder(LegacyDataFolder(), AppDataFolder());
    MoveLegacyFolder(LegacyConfigFolder(), AppConfigFolder());
}
