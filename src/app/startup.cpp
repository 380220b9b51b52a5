#include "app/startup.h"

#include "core/appfolders.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "core/regutils.h"
#include "core/runtempdir.h"
#include "core/winutils.h"
#include "data/fdata.h"
#include "delivery/retention.h"
#include "diagnostics/diaglog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

void ProcessInit()
{
    sqlite3_initialize();
    InitTempFiles();
    DB = nullptr;
    DiagLog = nullptr;
    Params = nullptr;
    MoveLegacyFolders();
    AppDataDir = AppDataFolder();
    try {
        // The folder holds the database with its stored passwords.
        MakePrivateDir(AppDataDir);
    } catch (const Exception &) {
        // Reported where it matters: the lock file or the database cannot be made.
    }
    MakeDataFilesPrivate();
    Params = new TParams(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"), ParamsFileName());
    // Working files of runs that were killed or crashed.
    RemoveStaleRunDirs();
    InstallRunTempDirCleanup();
}

void MakeDataFilesPrivate()
{
    if (AppDataDir.isEmpty())
        return;
    const QStringList files
        = QDir(AppDataDir).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &file : files)
        MakePrivateFile(AppDataDir + file);
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
    RemoveRunTempDir();
}

TSingleInstance::TSingleInstance(const QString &sLockFile)
    : FLock(sLockFile)
{
    // Held for the whole run, so it never grows stale by age; only a lock
    // whose process is gone counts as stale.
    FLock.setStaleLockTime(0);
    FHeld = FLock.tryLock(0);
    if (FHeld)
        MakePrivateFile(sLockFile);
    else if (FLock.error() != QLockFile::LockFailedError)
        FError = CreateFailure(sLockFile);
}

QString TSingleInstance::CreateFailure(const QString &sLockFile)
{
    // QLockFile does not say why; try the same steps to find the system's reason.
    const QFileInfo info(sLockFile);
    const QString sDir = info.absolutePath();
    const QByteArray dir = QFile::encodeName(sDir);
    struct stat st;
    if (::stat(dir.constData(), &st) != 0) {
        const int error = errno;
        return QStringLiteral("Cannot create the lock file \"%1\": the folder \"%2\" is missing (%3).")
            .arg(sLockFile, sDir, QString::fromLocal8Bit(std::strerror(error)));
    }
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("Cannot create the lock file \"%1\": \"%2\" is not a folder.")
            .arg(sLockFile, sDir);
    QByteArray probe = dir + "/.bundlewick-probe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        // A full disk may still allow an empty file.
        if (::write(fd, "probe\n", 6) != 6)
            error = errno ? errno : ENOSPC;
        ::close(fd);
        ::unlink(probe.constData());
    }
    if (error == 0 && info.isDir())
        return QStringLiteral("Cannot create the lock file \"%1\": a folder of that name is in the way.")
            .arg(sLockFile);
    return QStringLiteral("Cannot create the lock file \"%1\": %2.")
        .arg(sLockFile,
             error ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("unknown error"));
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

int RunProgram(TFrontEnd &frontEnd, int &argc, char **argv)
{
    try {
        ProcessInit();
    } catch (...) {
        frontEnd.InitFailed(ExceptionText(std::current_exception()));
        ProcessFinal();
        return 1;
    }
    const std::unique_ptr<QCoreApplication> app = frontEnd.CreateApplication(argc, argv);
    int iResult = 1;
    TSingleInstance instance(TSingleInstance::DefaultLockFile());
    if (instance.CreateFailed()) {
        frontEnd.LockFailed(instance.ErrorText());
        ProcessFinal();
        return 1;
    }
    if (!instance.IsFirst()) {
        iResult = frontEnd.AlreadyRunning();
        ProcessFinal();
        return iResult;
    }
    try {
        FData = new TFData();
        InstallExpiryChecker(*FData);
        iResult = frontEnd.Run();
    } catch (...) {
        iResult = frontEnd.Failed(std::current_exception());
    }
    instance.Release();
    ProcessFinal([&frontEnd] { frontEnd.DestroyForms(); });
    return iResult;
}
