#include "delivery/deliverylog.h"

#include "core/globals.h"
#include "core/sqlite.h"
#include "delivery/sendtasks.h"

void SaveLog(bool bSuccess, int iSource, int iFileCount, int iMethod, const QString &sFileName,
             const QString &sDestination, const QString &sReason)
{
    DB->Exec(QStringLiteral("INSERT INTO log (id, success, source, filename, files, method, destination, "
                            "modified, log) VALUES (NULL, ?, ?, ?, ?, ?, ?, DATETIME('NOW'), ?)"),
             { bSuccess ? 1 : 0, iSource, sFileName, iFileCount, iMethod, sDestination,
               bSuccess ? QString() : sReason });
}

QString SuccessText(int iSuccess)
{
    return iSuccess == 1 ? QStringLiteral("Yes") : QStringLiteral("No");
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

TLastDelivery LastDelivery(const QString &sArchivePrefix)
{
    TLastDelivery last;
    if (sArchivePrefix.isEmpty())
        return last;
    // "_" and "%" in a title are LIKE wildcards: escape them, then check the
    // rest of the name, which is the version (or time) and ".zip".
    QString sPattern = sArchivePrefix;
    sPattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    sPattern.replace(QLatin1Char('%'), QLatin1String("\\%"));
    sPattern.replace(QLatin1Char('_'), QLatin1String("\\_"));
    auto table = DB->Query(QStringLiteral("SELECT success, modified, filename FROM log WHERE source = ? "
                                          "AND filename LIKE ? ESCAPE '\\' ORDER BY id DESC"),
                           { int(lsZipAndDeliver), sPattern + QLatin1Char('%') });
    for (; table && !table->Eof(); table->Next()) {
        const QString sName = table->FieldAsString(2);
        // LIKE ignores case; "MyTool_X_1.0.zip" belongs to "MyTool_X".
        if (!sName.startsWith(sArchivePrefix) || sName.mid(sArchivePrefix.size()).contains(QLatin1Char('_')))
            continue;
        last.bFound = true;
        last.bSuccess = table->FieldAsInteger(0) == 1;
        last.sModified = table->FieldAsString(1);
        break;
    }
    return last;
}
