#pragma once

#include "core/exceptions.h"
#include "projects/wineprefix.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

// No Delphi installation, or its IDE options file is missing.
class EDelphiError : public Exception
{
    using Exception::Exception;
};

// Finds a unit in the library and browsing folders of the newest Delphi
// installation of the Wine prefix. One shared instance serves the program: it
// reads the registry and the IDE options file once and remembers every
// answer found.
class TLibraryDelphi
{
public:
    struct TLibFolder
    {
        QString sFolder; // Linux path as spelled on disk
        int iFlag = 0; // 1: inside the installation
    };

    // Reads the installation; raises EDelphiError.
    TLibraryDelphi();
    TLibraryDelphi(const TLibraryDelphi &) = delete;
    TLibraryDelphi &operator=(const TLibraryDelphi &) = delete;

    // "bds" for a unit of the installation, the path of its ".pas" or ".dcu"
    // in another library folder, or empty when no folder holds it. Creates
    // the shared instance on first use; raises EDelphiError while that fails.
    static QString Execute(const QString &sAtom);
    // Drops the shared instance, so that the next lookup reads the
    // installation again (a new WINEPREFIX, for example).
    static void Reset();

    QString Lookup(const QString &sAtom);

    const QString &BDS() const { return FBDS; }
    const QString &Path() const { return FPath; }
    const QList<TLibFolder> &LibList() const { return FLibList; }

private:
    struct TFolderIndex
    {
        QDateTime dtModified;
        QDateTime dtListed;
        QHash<QString, QString> names; // lower-case name -> name on disk
    };

    QString FBDS;
    QHash<QString, QString> FFileList; // lower-case unit name -> answer
    QList<TLibFolder> FLibList;
    QString FPath;
    TWinePrefix FPrefix;
    QHash<QString, TFolderIndex> FIndex;

    void AddTag(const QString &sText, const QString &sTag);
    void AddFolder(const QString &sFolder);
    QString FindFile(const QString &sFolder, const QString &sName);
};
