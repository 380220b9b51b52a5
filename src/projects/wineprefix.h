#pragma once

#include <QString>
#include <initializer_list>

// The Windows folders of a Wine prefix as Linux paths. Windows paths are
// case-insensitive, so every path part is matched without regard to case when
// its exact spelling does not exist on disk; answers use the spelling on disk.
class TWinePrefix
{
public:
    // $WINEPREFIX, or ~/.wine when it is not set.
    TWinePrefix();
    explicit TWinePrefix(const QString &sRoot);

    // Absolute, normalised, without a trailing slash.
    const QString &Root() const { return FRoot; }
    bool Exists() const;
    QString SystemRegistryFile() const;

    // The Windows user of the prefix: the folder under drive_c/users other
    // than "Public", preferably the one named like the current user.
    QString UserName() const;
    QString UserDir() const;
    // Roaming application data ("AppData/Roaming", older prefixes
    // "Application Data") and documents ("Documents" or "My Documents").
    QString RoamingDir() const;
    QString DocumentsDir() const;

    // A Windows path ("C:\...", "c:/...", "\..." for drive C) as a Linux path
    // in the prefix; empty when it names no drive of the prefix (UNC paths,
    // relative paths, unknown drive letters).
    QString MapPath(const QString &sWinPath) const;

    // sFolder joined with the Windows relative path sRelative ("\" or "/"
    // separated, "." and ".." resolved without climbing above sFolder), each
    // part spelled as on disk where a match exists.
    static QString ResolvePath(const QString &sFolder, const QString &sRelative);
    // The on-disk name in sFolder equal to sName, exactly or else without
    // regard to case; empty when there is none.
    static QString FindEntry(const QString &sFolder, const QString &sName);

private:
    QString FRoot;
    QString DriveRoot(QChar cLetter) const;
    QString FirstExisting(const QString &sBase, std::initializer_list<const char *> candidates) const;
};
