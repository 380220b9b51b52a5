#pragma once

#include "archive/zipengine.h"
#include "core/exceptions.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class TProject;
struct TFileItem;
class TProgressList;

// An archive that could not be built: the engine's message. Nothing can be
// delivered without it, so it ends the project (the delivery run turns it
// into "!  Error: <message>" and "!  Fail").
class EZipError : public Exception
{
    using Exception::Exception;
};

// Builds what a delivery sends for one project: the inner archive "code.zip"
// of the project's sources, the manifest "readme.htm", and per send task the
// delivery archive holding both ("code.zip" under the task's password). The
// delivery run owns one and calls, per project: ProjectVersion, ArchiveName,
// BuildCodeZip, WriteReadMe, then BuildDeliveryZip for every task.
//
// Progress lines go to the progress list. A ZIP failure is shown to the user
// (OnAttendedError), logged (source "TfrmGenerate") and raised as EZipError,
// which ends the project at its first error; the run goes on with the next.
class TArchiveBuilder
{
public:
    explicit TArchiveBuilder(TProgressList &oProgress);
    TArchiveBuilder(const TArchiveBuilder &) = delete;
    TArchiveBuilder &operator=(const TArchiveBuilder &) = delete;

    // "major.minor.release" of the Delphi project's program file (the project
    // file with ".exe" instead of its extension), otherwise the local time as
    // "yyyymmdd-hhnnss".
    QString ProjectVersion(const TProject &oProject) const;
    // Title without blanks + "_" + version + ".zip", made a safe file name:
    // "/" and control characters become "_", so does a leading ".", at most
    // 200 bytes of UTF-8 (the title is shortened, never cutting a character).
    static QString ArchiveName(const TProject &oProject, const QString &sVersion);
    // The deepest folder (with its trailing "/") that holds every item's
    // path, compared exactly (names differing in case are different
    // folders); empty for an empty list or paths without a common folder.
    static QString CommonRoot(const QList<TFileItem> &lItems);

    // Writes RunTempDir() + "code.zip" with every file of the project, named by
    // its path relative to the common root (returned in sRoot). Missing files
    // are skipped with a "!" line each. Returns the archive's path; raises
    // EZipError when it cannot be written.
    QString BuildCodeZip(const TProject &oProject, QString &sRoot);
    // Writes the manifest to RunTempDir() + "readme.htm"; returns its path.
    QString WriteReadMe(const TProject &oProject, const QString &sRoot, const QString &sVersion);
    // Writes a new TempFileName(".zip") holding "code.zip" (stored, encrypted
    // with sPassword as eEncryption says unless the password is empty) and the
    // manifest (never encrypted). Returns its path; raises EZipError when it
    // cannot be written or a part is missing (no archive is left then).
    QString BuildDeliveryZip(const QString &sManifest, const QString &sPassword, const QString &sCodeZip,
                             TZipEncryption eEncryption = TZipEncryption::Traditional);

    // "Bundlewick version " + AppVersion().
    static QString ArchiveComment();

    TZipEngine &Engine() { return oZip; }

    // Shows an engine failure to the user before it is raised (a
    // message box in the window, stderr on the command line). May be unset.
    std::function<void(const QString &sMessage)> OnAttendedError;

private:
    // Runs the engine; the text of an error it raised, empty when none.
    QString RunAdd();
    // The diagnostics entry "GenerateZip error: %s", then EZipError.
    [[noreturn]] void ZipFailed(const QString &sMessage);

    TZipEngine oZip;
    TProgressList &FProgress;
};

// The archive names given out in one delivery run, by destination: the
// first archive for a destination keeps its name, the next ones of the same
// name get "-2", "-3", ... before ".zip", so that no archive of the run
// replaces another one (projects whose titles differ only in blanks share
// a name).
class TArchiveNames
{
public:
    // The name to deliver sName under at sDestination (any text that
    // tells destinations apart), taken for the rest of the run.
    QString Claim(const QString &sDestination, const QString &sName);

private:
    QSet<QString> FUsed;
};
