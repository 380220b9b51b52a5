#pragma once

#include <QString>

// Who made a delivery attempt: the `source` column of the log table. The
// `method` column holds the send-task kinds (TSendKind, delivery/sendtasks.h).
enum : int {
    lsZipAndDeliver = 1,
    lsQuickSend = 2,
};

// Writes one row of the delivery log on the global DB, stamped with the
// universal time; sReason is why a failed attempt failed (its failure line),
// stored in the `log` column. Database failures pass out to the caller.
void SaveLog(bool bSuccess, int iSource, int iFileCount, int iMethod, const QString &sFileName,
             const QString &sDestination, const QString &sReason = QString());

// The codes as the log viewer shows them; empty for unknown codes.
QString SuccessText(int iSuccess); // 1 "Yes", otherwise "No"
QString SourceText(int iSource); // "ZipAndDeliver", "QuickSend"
QString MethodText(int iMethod); // "Email", "File", "FTP"

// The newest "Zip and deliver" attempt of a project, found by its archive
// names (the log keeps no project id): sArchivePrefix is the name up to the
// version, "MyTool_". Older titles and other projects whose names merely
// begin alike are not taken.
struct TLastDelivery
{
    bool bFound = false;
    bool bSuccess = false;
    QString sModified; // "yyyy-mm-dd hh:mm:ss", universal time
};
TLastDelivery LastDelivery(const QString &sArchivePrefix);
