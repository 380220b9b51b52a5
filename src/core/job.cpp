#include "core/job.h"

#include "core/exceptions.h"
#include "core/globals.h"
#include "core/sqlite.h"
#include "core/threaddb.h"

#include <QMetaObject>

TJob::TJob(QObject *parent)
    : QObject(parent)
{ }

TJob::~TJob()
{
    Stop();
}

bool TJob::Start()
{
    if (FRunning || FEnded)
        return false;
    // The owner's connection names the file; the job opens its own.
    const QString sDatabase = DB ? DatabaseFileName(*DB) : QString();
    FRunning = true;
    FThread = std::thread([this, sDatabase] { ThreadMain(sDatabase); });
    return true;
}

void TJob::Abort()
{
    FAbort.store(true, std::memory_order_release);
}

void TJob::Cancel()
{
    FAbort.store(true, std::memory_order_release);
    FCancel.store(true, std::memory_order_release);
}

void TJob::Stop()
{
    if (!FThread.joinable())
        return;
    Cancel();
    FThread.join();
    // The work's last reports die with their receiver or are dropped by Finish.
    FRunning = false;
    FEnded = true;
}

void TJob::Post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void TJob::ThreadMain(const QString &sDatabase)
{
    QString sError;
    // Nothing leaves the thread as an exception.
    try {
        const TThreadDatabase db(sDatabase);
        Execute();
    } catch (...) {
        sError = ExceptionText(std::current_exception());
        if (sError.isEmpty())
            sError = QStringLiteral("Unknown error");
    }
    Post([this, sError] { Finish(sError); });
}

void TJob::Finish(const QString &sError)
{
    if (FThread.joinable())
        FThread.join();
    if (!FRunning)
        return; // stopped meanwhile
    FRunning = false;
    FEnded = true;
    FError = sError;
    Completed();
    Q_EMIT ended();
}
