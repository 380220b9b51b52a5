#include "projects/librarydelphi.h"

#include "core/textfiles.h"
#include "projects/wineregistry.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <memory>
#include <mutex>

namespace {

// Installations known to the program, oldest first; the newest present wins.
// clang-format off
const char *const DelphiKeys[] = {
    "\\Borland\\Delphi\\5.0",
    "\\Borland\\Delphi\\6.0",
    "\\Borland\\Delphi\\7.0",
    "\\Borland\\BDS\\2.0",
    "\\Borland\\BDS\\3.0",
    "\\Borland\\BDS\\4.0",
    "\\Borland\\BDS\\5.0",
    "\\CodeGear\\BDS\\6.0",
    "\\CodeGear\\BDS\\7.0",
    "\\Embarcadero\\BDS\\8.0",
};
// clang-format on

std::unique_ptr<TLibraryDelphi> &SharedLibrary()
{
    static std::unique_ptr<TLibraryDelphi> instance;
    return instance;
}

// The main window parses on a worker while the window itself may parse a
// project the user opened: one lookup at a time.
std::mutex &LibraryLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

TLibraryDelphi::TLibraryDelphi()
{
    const QString sNotInstalled = QStringLiteral("Delphi is not installed on this computer");
    TWineRegistry registry;
    if (!FPrefix.Exists() || !registry.LoadFromFile(FPrefix.SystemRegistryFile()))
        throw EDelphiError(sNotInstalled);

    // A 32-bit program on a 64-bit prefix sees Software\Wow6432Node first.
    QStringList views;
    if (registry.IsWin64())
        views += QStringLiteral("Software\\Wow6432Node");
    views += QStringLiteral("Software");
    QString sKey;
    for (int i = int(std::size(DelphiKeys)) - 1; i >= 0 && sKey.isEmpty(); --i) {
        for (const QString &sView : std::as_const(views)) {
            if (registry.KeyExists(sView + QLatin1String(DelphiKeys[i]))) {
                FPath = QLatin1String(DelphiKeys[i]);
                sKey = sView + FPath;
                break;
            }
        }
    }
    if (sKey.isEmpty())
        throw EDelphiError(sNotInstalled);
    if (!registry.ReadString(sKey, QStringLiteral("RootDir"), FBDS))
        FBDS.clear();

    if (FBDS.isEmpty())
        return;
    const QString sOptions
        = TWinePrefix::ResolvePath(FPrefix.RoamingDir(), FPath + QStringLiteral("\\EnvOptions.proj"));
    if (!QFileInfo(sOptions).isFile())
        throw EDelphiError(QStringLiteral("The required file \"%1\" doesn't exist.").arg(sOptions));
    const QString sText = LoadTextFile(sOptions);
    AddTag(sText, QStringLiteral("Win32LibraryPath"));
    AddTag(sText, QStringLiteral("Win32BrowsingPath"));
}

void TLibraryDelphi::AddTag(const QString &sText, const QString &sTag)
{
    const QString sOpen = u'<' + sTag + u'>';
    const qsizetype iOpen = sText.indexOf(sOpen);
    if (iOpen < 0)
        return;
    QString sFolders = sText.mid(iOpen + sOpen.size());
    const qsizetype iClose = sFolders.indexOf(QStringLiteral("</") + sTag + u'>');
    if (iClose >= 0)
        sFolders.truncate(iClose);
    for (const QString &sFolder : sFolders.split(u';'))
        AddFolder(sFolder);
}

void TLibraryDelphi::AddFolder(const QString &sFolder)
{
    QString sWin = sFolder;
    // All three stand for the installation root here.
    for (const char *var : { "$(BDS)", "$(BDSUSERDIR)", "$(BDSCOMMONDIR)" })
        sWin.replace(QLatin1String(var), FBDS);

    QString sPath;
    const QLatin1String home("$(HOMEPATH)");
    const qsizetype iHome = sWin.indexOf(home);
    if (iHome >= 0) {
        sWin = sWin.mid(iHome + home.size());
        sPath = TWinePrefix::ResolvePath(QFileInfo(FPrefix.DocumentsDir()).path(), sWin);
    } else {
        sPath = FPrefix.MapPath(sWin);
    }
    if (sPath.isEmpty() || !QFileInfo(sPath).isDir())
        return;
    // Mapped paths carry the on-disk spelling, so spelling variants of one
    // Windows folder meet here.
    for (const TLibFolder &folder : std::as_const(FLibList)) {
        if (folder.sFolder == sPath)
            return;
    }
    FLibList += TLibFolder { sPath, sWin.contains(FBDS) ? 1 : 0 };
}

QString TLibraryDelphi::FindFile(const QString &sFolder, const QString &sName)
{
    const QString sExact = sFolder + u'/' + sName;
    if (QFileInfo(sExact).isFile())
        return sExact;

    // Other spellings come from a listing kept while the folder is unchanged.
    // File systems stamp folders with a coarse clock, so a listing taken soon
    // after a change may miss a later change with the same stamp: such a
    // listing is not trusted.
    const QDateTime dtModified = QFileInfo(sFolder).lastModified();
    TFolderIndex &index = FIndex[sFolder];
    if (!index.dtModified.isValid() || index.dtModified != dtModified
        || index.dtModified.msecsTo(index.dtListed) < 2000) {
        index.names.clear();
        const QStringList entries
            = QDir(sFolder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        for (const QString &entry : entries) {
            const QString sLower = entry.toLower();
            if (!index.names.contains(sLower)) // sorted, so the choice is stable
                index.names.insert(sLower, entry);
        }
        index.dtModified = dtModified;
        index.dtListed = QDateTime::currentDateTimeUtc();
    }
    const auto it = index.names.constFind(sName.toLower());
    if (it == index.names.cend())
        return {};
    const QString sPath = sFolder + u'/' + *it;
    return QFileInfo(sPath).isFile() ? sPath : QString();
}

QString TLibraryDelphi::Lookup(const QString &sAtom)
{
    // A unit name is never a path: keep lookups inside the library folders.
    if (sAtom.isEmpty() || sAtom.contains(u'/') || sAtom.contains(u'\\') || sAtom.contains(u':')
        || sAtom.contains(QChar(0)))
        return {};
    const QString sKey = sAtom.toLower();
    const auto cached = FFileList.constFind(sKey);
    if (cached != FFileList.cend())
        return *cached;

    QString sAnswer;
    for (const char *ext : { ".pas", ".dcu" }) {
        for (const TLibFolder &folder : std::as_const(FLibList)) {
            const QString sFile = FindFile(folder.sFolder, sAtom + QLatin1String(ext));
            if (!sFile.isEmpty()) {
                sAnswer = folder.iFlag == 1 ? QStringLiteral("bds") : sFile;
                break;
            }
        }
        if (!sAnswer.isEmpty())
            break;
    }
    if (!sAnswer.isEmpty())
        FFileList.insert(sKey, sAnswer);
    return sAnswer;
}

QString TLibraryDelphi::Execute(const QString &sAtom)
{
    const std::lock_guard<std::mutex> guard(LibraryLock());
    std::unique_ptr<TLibraryDelphi> &instance = SharedLibrary();
    if (!instance)
        instance = std::make_unique<TLibraryDelphi>();
    return instance->Lookup(sAtom);
}

void TLibraryDelphi::Reset()
{
    const std::lock_guard<std::mutex> guard(LibraryLock());
    SharedLibrary().reset();
}
