#include "deliverylog.h"

#include "core/globals.h"
#include "core/sqlite.h"
#include "core/winutils.h"
#include "delivery/sendtasks.h"

void SaveLog(bool bSuccess, int iSource, int iFileCount, int iMethod, const QString &sFileName,
             const QString &sDestination)
{
    DB->Exec(QStringLiteral("INSERT INTO log (id, success, source, filename, files, method, destination, "
                            "modified) VALUES (NULL, ?, ?, ?, ?, ?, ?, DATETIME('NOW'))"),
             { bSuccess ? 1 : 0, iSource, sFileName, iFileCount, iMethod, sDestination });
}

QString SuccessText(int iSuccess)
{
    return iSuccess == 1 ? QStringLiteral("Yes") : QString();
}

QString SourceText(int iSource)
{
    switch (iSource) {
    case lsZipAndDeliver:
        return QStringLiteral("ZipAndDeliver");
    case lsQuickSend:
        return QStringLiteral("QuickSend");
    default:
        return QString();
    }
}

QString MethodText(int iMethod)
{
    switch (iMethod) {
    case skEmail:
        return QStringLiteral("Email");
    case skFile:
        return QStringLiteral("File");
    case skFTP:
        return QStringLiteral("FTP");
    default:
        return QString();
    }
}
