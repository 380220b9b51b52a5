#pragma once

#include "core/job.h"
#include "delivery/deliveryrun.h"

#include <QList>
#include <QPointer>
#include <functional>

class TProject;
class TProgressList;

// "Zip and deliver" as a background job: TDeliveryRun over the projects on
// the job's thread. The progress list stays with the owner (the delivery
// window and the command line bind to it); each line the run adds there is
// replayed on it in order, counter lines included. finished() ends the job.
//
// The projects are read on the job's thread: they must stay alive and must
// not be changed (no reparse, no edit) until finished() or the job's
// destruction. Abort() keeps the run's meaning: the running project finishes
// its tasks, then the run stops. Destroying the job mid-run also aborts the
// running transfer, and waits for the thread.
//
// No expiry check runs while a delivery job runs: Run() lets a running check
// stop first (its transfer is cancelled) and starts the thread when it ended.
class TDeliveryJob : public TJob
{
    Q_OBJECT

public:
    TDeliveryJob(const QList<TProject *> &listProjects, TProgressList &oProgress, QObject *parent = nullptr);
    ~TDeliveryJob() override;

    // Starts the run (at once, or once a running expiry check has ended).
    void Run();
    // False while the run may go on; true once the stop was requested and
    // after the run.
    bool CanClose() const { return AbortRequested() || Ended(); }
    // What the run did; valid after finished().
    const TRunResult &Result() const { return FResult; }

    // Called on the job's thread before each project with its index, before
    // the stop request is looked at. For tests that need a fixed point.
    std::function<void(int iIndex)> OnBeforeProject;

Q_SIGNALS:
    // The archive engine failed in a way the user must see (message box in
    // the window, standard error on the command line).
    void attendedError(const QString &sMessage);
    // CanClose() changed.
    void stateChanged();
    // The run is over (also after an error that escaped it: ErrorText()).
    void finished(const TRunResult &result);

public Q_SLOTS:
    // Requests the stop (the running project still finishes).
    void Abort() override;

protected:
    void Execute() override;
    void Completed() override;

private:
    void Launch();

    QList<TProject *> FProjectList;
    TProgressList &FProgress;
    TRunResult FResult;
    TRunResult FThreadResult; // written on the job's thread, read after the join
    bool FCounted = false;
};
