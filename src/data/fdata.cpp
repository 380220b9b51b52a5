#include "data/fdata.h"

#include "core/globals.h"
#include "core/productinfo.h"
#include "core/regutils.h"
#include "core/runtempdir.h"
#include "core/schema.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "core/sqlite.h"
#include "core/threaddb.h"
#include "diagnostics/diaglog.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

TFData *FData = nullptr;

namespace {
const QString kWhere = QStringLiteral("TFData");
} // namespace

TFData::TFData(QObject *parent)
    : QObject(parent)
{
    tmExpire = new QTimer(this);
    tmExpire->setObjectName(QStringLiteral("tmExpire"));
    tmExpire->setInterval(30000);
    connect(tmExpire, &QTimer::timeout, this, &TFData::tmExpireTimer);
    tmExpire->start();
    try {
        DataModuleCreate();
    } catch (...) {
        // The destructor will not run: close the database and end the
        // logger thread here, so that nothing is left half-open.
        tmExpire->stop();
        DataModuleDestroy();
        throw;
    }
}

TFData::~TFData()
{
    tmExpire->stop();
    // Helpers hung on the data module (the expiry check) may run jobs that
    // use the database and the logger: they go first, joining their jobs.
    const QList<QObject *> helpers = findChildren<QObject *>(Qt::FindDirectChildrenOnly);
    for (QObject *helper : helpers) {
        if (helper != tmExpire)
            delete helper;
    }
    DataModuleDestroy();
    if (FData == this)
        FData = nullptr;
}

void TFData::DataModuleCreate()
{
    const QString sFlags = GetLogFlags();
    const QString sNotes = CurrentUserName() + QStringLiteral(": ") + CurrentComputerName();
    DiagLog = new TDiagLog(AppDataDir, sFlags, sNotes);
    DiagLog->Log(kWhere, QStringLiteral("DataModuleCreate"), lwInfo);
    // Made private before SQLite creates it: the database holds passwords,
    // and its journal files take the database file's mode.
    const QString sDatabase = AppDataDir + QStringLiteral("bundlewick.sqlite");
    CreatePrivateFile(sDatabase);
    for (const char *suffix : { "-journal", "-wal", "-shm" })
        MakePrivateFile(sDatabase + QLatin1String(suffix));
    DB = new TSQLiteDatabase(sDatabase);
    // Jobs open connections of their own to this file.
    ShareConnection(*DB);
    UpdateSchema();
    PruneLog();
    DeleteDownloadedFile();
}

void TFData::DataModuleDestroy()
{
    delete DB;
    DB = nullptr;
    if (!DiagLog)
        return;
    DiagLog->Log(kWhere, QStringLiteral("DataModuleDestroy"), lwInfo);
    // The writer drains what is queued before it ends: no wait needed.
    DiagLog->Terminate();
    DiagLog->WaitFor();
    delete DiagLog;
    DiagLog = nullptr;
}

void TFData::UpdateSchema()
{
    int iOldVersion = 0;
    int iNewVersion = 0;
    if (TUpdateCheck::UpdateDatabase(*DB, iOldVersion, iNewVersion))
        DiagLog->LogFmt(kWhere, QStringLiteral("Database updated from version %d to %d"),
                        { iOldVersion, iNewVersion }, lwInfo);
}

void TFData::PruneLog()
{
    const int iDays = Setting::LogDays.Get();
    DB->Exec(QStringLiteral("DELETE FROM log WHERE modified < DATETIME('NOW', ?)"),
             { QStringLiteral("-%1 DAYS").arg(iDays) });
}

QString TFData::DownloadDir()
{
    return AppDataDir.isEmpty() ? QString() : AppDataDir + QStringLiteral("download/");
}

namespace {

// True when sFile names an entry inside sDir (at any depth), judged by the
// real folders: "..", symlinked folders and look-alike prefixes do not pass.
// The entry itself is not resolved, so a symlink there is removed, never
// its target.
bool InsideFolder(const QString &sFile, const QString &sDir)
{
    const QFileInfo file(sFile);
    if (sDir.isEmpty() || !file.isAbsolute())
        return false;
    const QString sName = file.fileName();
    if (sName.isEmpty() || sName == QLatin1String(".") || sName == QLatin1String(".."))
        return false;
    const QString sRealDir = QFileInfo(sDir).canonicalFilePath();
    const QString sRealParent = QFileInfo(file.path()).canonicalFilePath();
    if (sRealDir.isEmpty() || sRealParent.isEmpty())
        return false;
    return sRealParent == sRealDir || sRealParent.startsWith(sRealDir + QLatin1Char('/'));
}

} // namespace

void TFData::DeleteDownloadedFile()
{
    if (!Params)
        return;
    const QString sFile = Param::DownloadFile.Get();
    if (sFile.isEmpty())
        return;
    const QFileInfo info(sFile);
    const bool bOurs = InsideFolder(sFile, DownloadDir()) && (info.isSymLink() || !info.isDir());
    if (!bOurs) {
        // Not a file the update download made: never delete it, and forget it.
        Param::DownloadFile.Set(QString());
        return;
    }
    // A file still in use stays, and so does its name: the next start tries again.
    if ((info.exists() || info.isSymLink()) && QFile::remove(sFile))
        Param::DownloadFile.Set(QString());
}

QString TFData::GetLogFlags()
{
    if (FLogFlags.isEmpty()) {
        const bool bVerbose = Param::VerboseDebugging.Get();
        FLogFlags = bVerbose ? QStringLiteral("information,sql,verbose") : QStringLiteral("information");
        // One run only: verbose logging grows the log fast.
        Param::VerboseDebugging.Set(false);
    }
    return FLogFlags;
}

QString TFData::ShortAppVersion(const QString &sVersion)
{
    const int iZero = sVersion.indexOf(QStringLiteral(".0"));
    if (iZero >= 0)
        return sVersion.left(iZero) + QStringLiteral(" BETA");
    const int iFirst = sVersion.indexOf(QLatin1Char('.'));
    const int iSecond = iFirst < 0 ? -1 : sVersion.indexOf(QLatin1Char('.'), iFirst + 1);
    return iSecond < 0 ? sVersion : sVersion.left(iSecond);
}

void TFData::tmExpireTimer()
{
    // The checker keeps to one check at a time and waits for deliveries.
    if (OnExpire)
        OnExpire();
}
