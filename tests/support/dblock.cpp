#include "support/dblock.h"

#include "core/sqlite.h"

namespace bwtest {

DatabaseLock::DatabaseLock(const QString &sFile)
{
    std::promise<QString> locked;
    std::future<QString> lockedResult = locked.get_future();
    std::shared_future<void> release = FRelease.get_future().share();
    FThread = std::thread([sFile, release, locked = std::move(locked)]() mutable {
        try {
            TSQLiteDatabase other(sFile);
            other.SetTimeout(10000);
            other.ExecSQL(QStringLiteral("BEGIN EXCLUSIVE"));
            locked.set_value(QString());
            release.wait();
            other.ExecSQL(QStringLiteral("COMMIT"));
        } catch (const std::exception &e) {
            locked.set_value(QString::fromUtf8(e.what()));
        }
    });
    FError = lockedResult.get();
}

DatabaseLock::~DatabaseLock()
{
    releaseNow();
}

void DatabaseLock::release()
{
    std::call_once(FOnce, [this] { FRelease.set_value(); });
}

void DatabaseLock::releaseNow()
{
    release();
    if (FThread.joinable())
        FThread.join();
}

} // namespace bwtest
