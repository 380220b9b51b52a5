#include "core/job.h"

#include "core/exceptions.h"
#include "core/globals.h"
#include "core/sqlite.h"
#include "core/threaddb.h"

#include <deque>
#include <mutex>

struct TJob::TPostQueue
{
    std::mutex Mutex;
    std::deque<std::function<void()>> Items; // guarded by Mutex
};

TJob::TJob(QObject *parent)
    : QObject(parent)
    , FPost(std::make_unique<TPostQueue>())
{
    connect(this, &TJob::postedWork, this, &TJob::RunPosted, Qt::QueuedConnection);
}

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
    // The reports travel through our own locked queue, and the queued signal
    // only wakes the owner: that way every hand-over between the threads is
    // one the thread checkers can see.
    {
        const std::lock_guard lock(FPost->Mutex);
        FPost->Items.push_back(std::move(fn));
    }
    Q_EMIT postedWork(QPrivateSignal());
}

void TJob::RunPosted()
{
    // One report per wake-up, as one was posted per wake-up: a report may
    // end with the owner deleting this job.
    std::function<void()> fn;
    {
        const std::lock_guard lock(FPost->Mutex);
        if (FPost->Items.empty())
            return;
        fn = std::move(FPost->Items.front());
        FPost->Items.pop_front();
    }
    fn();
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
