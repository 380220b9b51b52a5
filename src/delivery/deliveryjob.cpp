#include "delivery/deliveryjob.h"

#include "core/progress.h"
#include "delivery/deliverygate.h"

#include <QMetaObject>
#include <vector>

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
        EndDelivery();
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
        EndDelivery();
    }
    Q_EMIT stateChanged();
    Q_EMIT finished(FResult);
}
