#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// Long work (a delivery run, an expiry check, a connection test) off the
// user-interface thread. The object lives on the thread that creates it, the
// owner; Start() runs Execute() on a thread of its own, which gets its own
// connection to the main database (DB is per thread; the owner's DB names
// the file). What the work reports reaches the owner through Post(), in
// order; ended() comes last, after the thread was joined.
//
// Abort() asks the work to stop at its next safe point (what that is, the
// job decides); Cancel() also makes running transfers fail at once. The
// destructor cancels and joins, so a job never outlives its owner.
// Everything but the work itself is for the owner thread only.
class TJob : public QObject
{
    Q_OBJECT

public:
    explicit TJob(QObject *parent = nullptr);
    // Cancels and joins. Derived classes call Stop() in their own destructor
    // first: their members are gone by the time this one runs.
    ~TJob() override;
    TJob(const TJob &) = delete;
    TJob &operator=(const TJob &) = delete;

    // Starts the thread; false when the job runs or already ran.
    bool Start();
    // From Start() until ended() is emitted.
    bool Running() const { return FRunning; }
    bool Ended() const { return FEnded; }

    virtual void Abort();
    void Cancel();
    // Readable from any thread, the work's own included.
    bool AbortRequested() const { return FAbort.load(std::memory_order_acquire); }
    bool Cancelled() const { return FCancel.load(std::memory_order_acquire); }
    const std::atomic<bool> &AbortFlag() const { return FAbort; }
    // For network clients, whose transfers poll it.
    const std::atomic<bool> &CancelFlag() const { return FCancel; }

    // The text of the error that escaped Execute(); empty when none did.
    const QString &ErrorText() const { return FError; }

    // Cancels the work and waits for its thread (no reports follow).
    void Stop();

Q_SIGNALS:
    // The work is over and its thread joined; ErrorText() tells of a failure.
    void ended();
    // Wakes the owner thread for the next report of Post().
    void postedWork(QPrivateSignal);

protected:
    // The work, on the job's thread. May throw: the error ends the job and
    // becomes ErrorText().
    virtual void Execute() = 0;
    // On the owner thread, after the join and before ended().
    virtual void Completed() { }
    // Runs fn on the owner thread, after everything posted before it.
    void Post(std::function<void()> fn);

private:
    void ThreadMain(const QString &sDatabase);
    void RunPosted();
    void Finish(const QString &sError);

    std::thread FThread;
    std::atomic<bool> FAbort { false };
    std::atomic<bool> FCancel { false };
    bool FRunning = false;
    bool FEnded = false;
    QString FError;
    // The reports on their way to the owner; on the heap, so that jobs that
    // follow one another at the same address never share its lock.
    struct TPostQueue;
    std::unique_ptr<TPostQueue> FPost;
};
