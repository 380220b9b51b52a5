#pragma once

#include <QString>

// Who made a delivery attempt: the `source` column of the log table. The
// `method` column holds the send-task kinds (TSendKind, delivery/sendtasks.h).
enum : int {
    lsZipAndDeliver = 1,
    lsQuickSend = 2,
};

// Writes one row of the delivery log on the global DB, stamped with the
// universal time. Database failures pass out to the caller.
void SaveLog(bool bSuccess, int iSource, int iFileCount, int iMethod, const QString &sFileName,
             const QString &sDestination);

// The codes as the log viewer shows them; empty for unknown codes.
QString SuccessText(int iSuccess); // 1 "Yes", otherwise empty
QString SourceText(int iSource); // "ZipAndDeliver", "QuickSend"
QString MethodText(int iMethod); // "Email", "File", "FTP"
