#pragma once

#include <QDateTime>
#include <QString>
#include <thread>

class TZipEngine;

// What a serious error leaves behind, in AppDataDir:
//
// - "data.zip", the data report: the main database, "current.sqlite" and a
//   text with the user's notes, the version and the parameters. It holds the
//   user's passwords in clear text, so it stays on this computer (mode 0600)
//   and is never uploaded.
// - "BugReport.zip", the error report: the error text, the version and a
//   stack trace, nothing else. It is uploaded by FTP when a report server is
//   configured (the parameter "Report server", none by default) and deleted
//   once delivered.

QString DataReportFile(); // AppDataDir + "data.zip"
QString BugReportFile(); // AppDataDir + "BugReport.zip"

// "3.05pm Wednesday 15 February 2012".
QString ReportTimeText(const QDateTime &when);

// The text of "data.txt": the notes (only when they are not blank), the
// VERSION block and the REGISTRY block with the parameter lines of
// sParamList, leaving out window positions ("frm...") and "Main Tab" lines.
// Lines end with CR LF.
QString DataReportText(const QString &sNotes, const QString &sVersion, const QDateTime &compiled,
                       const QString &sParamList);

// The remote name of an uploaded error report: "Bug_<version>_<user>_<time>.zip"
// with the version up to its first blank and its dots made "-", the user name
// without blanks and characters file names cannot hold, the local time as
// "yyyyMMdd-hhmmss".
QString BugReportRemoteName(const QString &sVersion, const QString &sUser, const QDateTime &now);

// The calling thread's stack, one frame a line, innermost first.
QString StackTraceText();

// Writes "BugReport.zip" with the one entry "BugReport.txt". False (and the
// reason logged) when it could not be written.
bool SaveBugReport(const QString &sError, const QString &sStackTrace);

// Builds the data report and uploads a pending error report.
class TReportSender
{
public:
    TReportSender() = default;
    // Waits for a running upload.
    ~TReportSender();
    TReportSender(const TReportSender &) = delete;
    TReportSender &operator=(const TReportSender &) = delete;

    // bSave: builds "data.zip" with sMessage as the user's notes (the main
    // database should be closed meanwhile, see ReportZip). bSend: starts the
    // upload of "BugReport.zip" on a thread of its own.
    void Execute(bool bSave, bool bSend, TZipEngine &oZip, const QString &sMessage);

    // The data report; false when packing failed (logged, never raised).
    static bool SaveReport(TZipEngine &oZip, const QString &sMessage);

    // Whether a report server is configured.
    static bool UploadConfigured();
    // Starts the upload when a server is configured and "BugReport.zip"
    // exists; false when nothing was started.
    bool StartUpload();
    // Waits for the upload to end; true when it ran and delivered the report.
    bool WaitForUpload();

private:
    std::thread FThread;
    bool FDelivered = false;
};

// The serious-error path's data report: closes the main database, builds
// "data.zip", and opens the database again whatever happened (when it was
// open before).
void ReportZip(const QString &sMessage);
