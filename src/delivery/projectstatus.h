#pragma once

#include "delivery/deliverylog.h"
#include "projects/projectlist.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class TProject;

// What the main window shows of a project, found on a worker thread.
struct TProjectStatus
{
    int iProjectID = 0;
    std::unique_ptr<TProject> oProject; // parsed, made on the worker from the project's row
    int iSendTasks = 0;
    TLastDelivery oLast;
};

// Results handed over together.
struct TProjectStatusBatch
{
    std::vector<TProjectStatus> lItems;
};

// Parses projects (a fresh object per row, through a database connection of
// the worker's own) and reads their send task counts and last deliveries, one
// after the other on a worker thread. Results are handed over in batches, a
// few dozen milliseconds of work each, so that thousands of projects fill in
// while the window stays responsive. A project that cannot be read (a
// database failure) is left out of the results.
class TProjectStatusJob : public QObject
{
    Q_OBJECT

public:
    explicit TProjectStatusJob(QObject *parent = nullptr);
    // Waits for the workers, which stop at their next project.
    ~TProjectStatusJob() override;

    // Starts on the rows, in their order, over the database file sDatabase; a
    // job still running is stopped and forgotten.
    void Start(const QString &sDatabase, std::vector<TProjectRow> lRows);
    void Cancel();
    bool Busy() const { return FBusy; }

Q_SIGNALS:
    // The batch's projects are the receiver's to take.
    void found(const std::shared_ptr<TProjectStatusBatch> &oBatch);
    // Every row of the latest Start was reported.
    void finished();

private:
    quint64 FGeneration = 0;
    bool FBusy = false;
    std::shared_ptr<std::atomic_bool> FStop;
    // Threads of our own rather than the pool's: a pooled thread takes its
    // work through locks the thread checker cannot see. Each is joined once
    // its end is reported, before its results are freed.
    struct TWorker
    {
        quint64 Id = 0;
        std::thread Thread;
    };
    std::vector<TWorker> FWorkers;
    quint64 FLastWorker = 0;
    void JoinWorker(quint64 iId);
};
