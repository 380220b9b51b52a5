#pragma once

#include "delivery/zipengine.h"

#include <QString>
#include <QStringList>
#include <functional>

class TProject;
class TProgressList;

// Builds what a delivery sends for one project: the inner archive "code.zip"
// of the project's sources, the manifest "readme.htm", and per send task the
// delivery archive holding both ("code.zip" under the task's password). The
// delivery run owns one and calls, per project: ProjectVersion, ArchiveName,
// BuildCodeZip, WriteReadMe, then BuildDeliveryZip for every task.
//
// Progress lines and ZIP failures go to the progress list; ZIP failures are
// also logged (source "TfrmGenerate"). A failed archive never stops the run:
// the returned paths are valid names and later steps fail on their own.
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
    // "/" and control characters become "_", at most 200 bytes of UTF-8
    // (the title is shortened, never cutting a character).
    static QString ArchiveName(const TProject &oProject, const QString &sVersion);
    // The deepest folder (with its trailing "/") that holds every path,
    // compared exactly (names differing in case are different folders);
    // empty for an empty list or paths without a common folder.
    static QString CommonRoot(const QStringList &oPaths);

    // Writes RunTempDir() + "code.zip" with every file of the project, named by
    // its path relative to the common root (returned in sRoot). Missing files
    // are skipped with a "!" line each. Returns the archive's path.
    QString BuildCodeZip(const TProject &oProject, QString &sRoot);
    // Writes the manifest to RunTempDir() + "readme.htm"; returns its path.
    QString WriteReadMe(const TProject &oProject, const QString &sRoot, const QString &sVersion);
    // Writes a new TempFileName(".zip") holding "code.zip" (stored, encrypted
    // with sPassword unless it is empty) and the manifest (never encrypted).
    // Returns its path, also after a failure.
    QString BuildDeliveryZip(const QString &sManifest, const QString &sPassword, const QString &sCodeZip);

    // "!  Error: %s" with the engine's message, and the diagnostics entry.
    void ZipError();

    // "Bundlewick version " + AppVersion().
    static QString ArchiveComment();

    TZipEngine &Engine() { return oZip; }

    // Shows an engine failure to the user before ZipError reports it (a
    // message box in the window, stderr on the command line). May be unset.
    std::function<void(const QString &sMessage)> OnAttendedError;

private:
    // Runs the engine; the text of an error it raised, empty when none.
    QString RunAdd();
    void ReportZipError(const QString &sMessage);

    TZipEngine oZip;
    TProgressList &FProgress;
};
