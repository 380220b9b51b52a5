#include "projects/wineprefix.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <pwd.h>
#include <unistd.h>

namespace {

QString LoginName()
{
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return {};
}

} // namespace

TWinePrefix::TWinePrefix()
    : TWinePrefix(qEnvironmentVariableIsEmpty("WINEPREFIX") ? QDir::homePath() + QStringLiteral("/.wine")
                                                            : qEnvironmentVariable("WINEPREFIX"))
{ }

TWinePrefix::TWinePrefix(const QString &sRoot)
    : FRoot(QDir::cleanPath(QDir(sRoot).absolutePath()))
{ }

bool TWinePrefix::Exists() const
{
    return QFileInfo(FRoot).isDir();
}

QString TWinePrefix::SystemRegistryFile() const
{
    return ResolvePath(FRoot, QStringLiteral("system.reg"));
}

QString TWinePrefix::FindEntry(const QString &sFolder, const QString &sName)
{
    if (sName.isEmpty())
        return {};
    if (QFileInfo::exists(sFolder + u'/' + sName))
        return sName;
    const QStringList entries = QDir(sFolder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        if (entry.compare(sName, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return {};
}

QString TWinePrefix::ResolvePath(const QString &sFolder, const QString &sRelative)
{
    QStringList parts;
    QString sWin = sRelative;
    sWin.replace(u'/', u'\\');
    for (const QString &part : sWin.split(u'\\', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts += part;
    }
    QString sPath = sFolder;
    bool bOnDisk = true;
    for (const QString &part : std::as_const(parts)) {
        QString sName = bOnDisk ? FindEntry(sPath, part) : QString();
        if (sName.isEmpty()) {
            bOnDisk = false;
            sName = part;
        }
        if (!sPath.endsWith(u'/'))
            sPath += u'/';
        sPath += sName;
    }
    return QDir::cleanPath(sPath);
}

QString TWinePrefix::UserName() const
{
    const QString sUsers = ResolvePath(FRoot, QStringLiteral("drive_c/users"));
    const QStringList entries = QDir(sUsers).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    QStringList candidates;
    for (const QString &entry : entries) {
        if (entry.compare(QLatin1String("Public"), Qt::CaseInsensitive) != 0)
            candidates += entry;
    }
    const QString sLogin = LoginName();
    for (const QString &sWanted : { qEnvironmentVariable("USER"), sLogin }) {
        if (!sWanted.isEmpty() && candidates.contains(sWanted))
            return sWanted;
    }
    if (!candidates.isEmpty())
        return candidates.first();
    // No profile yet: the one Wine would make.
    const QString sUser = qEnvironmentVariable("USER");
    return sUser.isEmpty() ? sLogin : sUser;
}

QString TWinePrefix::UserDir() const
{
    return ResolvePath(FRoot, QStringLiteral("drive_c/users/") + UserName());
}

QString TWinePrefix::FirstExisting(const QString &sBase, std::initializer_list<const char *> candidates) const
{
    for (const char *candidate : candidates) {
        const QString sPath = ResolvePath(sBase, QString::fromLatin1(candidate));
        if (QFileInfo(sPath).isDir())
            return sPath;
    }
    return ResolvePath(sBase, QString::fromLatin1(*candidates.begin()));
}

QString TWinePrefix::RoamingDir() const
{
    return FirstExisting(UserDir(), { "AppData/Roaming", "Application Data" });
}

QString TWinePrefix::DocumentsDir() const
{
    return FirstExisting(UserDir(), { "Documents", "My Documents" });
}

QString TWinePrefix::DriveRoot(QChar cLetter) const
{
    const QString sDevices = FRoot + QStringLiteral("/dosdevices");
    const QString sLink = FindEntry(sDevices, QString(cLetter.toLower()) + u':');
    if (!sLink.isEmpty()) {
        const QFileInfo fi(sDevices + u'/' + sLink);
        return QDir::cleanPath(fi.isSymLink() ? fi.symLinkTarget() : fi.absoluteFilePath());
    }
    if (cLetter.toLower() == u'c')
        return FRoot + QStringLiteral("/drive_c");
    return {};
}

QString TWinePrefix::MapPath(const QString &sWinPath) const
{
    const auto isSep = [](QChar c) { return c == u'\\' || c == u'/'; };
    if (sWinPath.size() >= 2 && sWinPath.at(1) == u':' && sWinPath.at(0).isLetter()
        && sWinPath.at(0).unicode() < 128 && (sWinPath.size() == 2 || isSep(sWinPath.at(2)))) {
        const QString sRoot = DriveRoot(sWinPath.at(0));
        return sRoot.isEmpty() ? QString() : ResolvePath(sRoot, sWinPath.mid(2));
    }
    // "\folder" is on the current drive; "\\server\share" is out of reach.
    if (!sWinPath.isEmpty() && isSep(sWinPath.at(0)) && !(sWinPath.size() > 1 && isSep(sWinPath.at(1)))) {
        const QString sRoot = DriveRoot(u'c');
        return sRoot.isEmpty() ? QString() : ResolvePath(sRoot, sWinPath);
    }
    return {};
}
