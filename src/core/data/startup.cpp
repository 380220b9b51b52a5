#include "core/data/startup.h"

#include "core/appfolders.h"
#include "core/data/fdata.h"
#include "core/globals.h"
#include "core/regutils.h"
#include "core/winutils.h"
#include "diagnostics/orrolog.h"

#include <QDir>
#include <sqlite3.h>

void ProcessInit()
{
    sqlite3_initialize();
    InitTempFiles();
    DB = nullptr;
    DiagLog = nullptr;
    Params = nullptr;
    MoveLegacyFolders();
    AppDataDir = AppDataFolder();
    QDir().mkpath(AppDataDir);
    Params = new TParams(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"), ParamsFileName());
}

void ProcessFinal(const std::function<void()> &destroyForms)
{
    delete Params;
    Params = nullptr;
    AppDataDir.clear();
    DeleteTempFiles();
    if (destroyForms)
        destroyForms();
    delete FData;
    FData = nullptr;
    sqlite3_shutdown();
}

TSingleInstance::TSingleInstance(const QString &sLockFile)
    : FLock(sLockFile)
{
    // Held for the whole run, so it never grows stale by age; only a lock
    // whose process is gone counts as stale.
    FLock.setStaleLockTime(0);
    FHeld = FLock.tryLock(0);
}

TSingleInstance::~TSingleInstance()
{
    Release();
}

void TSingleInstance::Release()
{
    if (FHeld)
        FLock.unlock();
    FHeld = false;
}

QString TSingleInstance::DefaultLockFile()
{
    return AppDataDir + QStringLiteral("bundlewick.lock");
}
