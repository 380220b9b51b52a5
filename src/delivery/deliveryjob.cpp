#include "delivery/deliveryjob.h"

#include "delivery/progress.h"
#include "delivery/retention.h"

#include <QMetaObject>
#include <vector>

namespace {

// Owner (UI) thread only.
int g_deliveries = 0;

struct TWaiter
{
    QPointer<QObject> context;
    std::function<void()> fn;
};
std::vector<TWaiter> g_waiters;

void DeliveryEnded()
{
    if (--g_deliveries > 0)
        return;
    std::vector<TWaiter> waiters;
    waiters.swap(g_waiters);
    for (TWaiter &waiter : waiters) {
        if (waiter.context)
            QMetaObject::invokeMethod(waiter.context.data(), std::move(waiter.fn), Qt::QueuedConnection);
    }
}

} // namespace

int RunningDeliveries()
{
    return g_deliveries;
}

void BeginDelivery(TJob *context, std::function<void()> fnLaunch)
{
    ++g_deliveries;
    // An expiry check must not overlap a delivery: it stops at once (its
    // transfer is cancelled, it runs again after the delivery).
    if (TJob *expiry = RunningExpiryCheck()) {
        expiry->Cancel();
        QObject::connect(expiry, &TJob::ended, context, fnLaunch, Qt::SingleShotConnection);
        QObject::connect(expiry, &QObject::destroyed, context, fnLaunch, Qt::SingleShotConnection);
        return;
    }
    fnLaunch();
}

void EndDelivery()
{
    DeliveryEnded();
}

void WhenNoDelivery(QObject *context, std::function<void()> fn)
{
    if (g_deliveries == 0)
        QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
    else
        g_waiters.push_back(TWaiter { context, std::move(fn) });
}

TDeliveryJob::TDeliveryJob(const QList<TProject *> &listProjects, TProgressList &oProgress, QObject *parent)
    : TJob(parent)
    , FProjectList(listProjects)
    , FProgress(oProgress)
{ }

TDeliveryJob::~TDeliveryJob()
{
    Stop();
    if (FCounted) {
        FCounted = false;
        DeliveryEnded();
    }
}

void TDeliveryJob::Run()
{
    if (FCounted || Running() || Ended())
        return;
    FCounted = true;
    BeginDelivery(this, [this] { Launch(); });
}

void TDeliveryJob::Launch()
{
    if (!Running() && !Ended())
        Start();
}

void TDeliveryJob::Abort()
{
    if (AbortRequested())
        return;
    TJob::Abort();
    Q_EMIT stateChanged();
}

void TDeliveryJob::Execute()
{
    // The run reports to a list of this thread; every change is replayed on
    // the owner's list, where the views are.
    TProgressList progress;
    ForwardLines(progress,
                 [this](const TProgressLine &line) { Post([this, line] { FProgress.AddLine(line); }); });

    TDeliveryRun run(progress);
    run.SetStopFlags(&AbortFlag(), &CancelFlag());
    run.OnBeforeProject = OnBeforeProject;
    run.Builder().OnAttendedError
        = [this](const QString &sMessage) { Post([this, sMessage] { Q_EMIT attendedError(sMessage); }); };
    FThreadResult = run.Run(FProjectList);
}

void TDeliveryJob::Completed()
{
    FResult = FThreadResult;
    if (!ErrorText().isEmpty())
        FResult.bStopped = true; // an error ended the run: it did not succeed
    if (FCounted) {
        FCounted = false;
        DeliveryEnded();
    }
    Q_EMIT stateChanged();
    Q_EMIT finished(FResult);
}
