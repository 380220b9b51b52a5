#pragma once

#include "archive/archivebuilder.h"
#include "delivery/channels.h"

#include <QList>
#include <QString>
#include <atomic>
#include <exception>
#include <functional>

class TProject;
class TProgressList;
class TSendTask;

// What a run did, for the front ends' summaries and exit statuses.
struct TRunResult
{
    int iDelivered = 0; // projects that ended with "  Success"
    int iFailed = 0; // projects that ended with "!  Fail"
    bool bStopped = false; // a project without files or send tasks ended the run
    bool bAborted = false; // the stop was requested before every project was done
    // Records of deliveries (log rows, send dates, expiry rows) that could
    // not be written: the database stayed locked, or refused them.
    int iUnrecorded = 0;
    // SSH host keys (unknown or changed) that stopped uploads, each once:
    // the delivery window offers them; the command line only reports.
    QList<TSshHostKey> listHostKeys;

    // Every project handed over was delivered.
    bool Succeeded() const { return iFailed == 0 && !bStopped && !bAborted && iUnrecorded == 0; }
};

// "Zip and deliver" without widgets: processes projects one after another,
// building their archives, carrying out every send task, logging each attempt
// and marking fully delivered projects with a new send date. Everything is
// reported as lines of the progress list, of which the delivery window and
// the command line are views. Runs on one thread, a delivery job's
// (delivery/deliveryjob.h) or a test's.
class TDeliveryRun
{
public:
    explicit TDeliveryRun(TProgressList &oProgress);
    ~TDeliveryRun();
    TDeliveryRun(const TDeliveryRun &) = delete;
    TDeliveryRun &operator=(const TDeliveryRun &) = delete;

    // Processes the projects in order (not owned, already parsed) until one
    // fails CheckProject or the stop is requested; then writes the records
    // an abort left waiting for the database, sets FCanClose and adds
    // "Generation complete.". An error that escapes a project (a full
    // disk, a database failure) becomes the lines "!  Error: <text>" and
    // "!  Fail" of that project, which counts as failed; its temporary
    // archives are removed and the run goes on with the next project.
    TRunResult Run(const QList<TProject *> &listProjects);

    // True when the project has files and send tasks; otherwise adds its
    // title and the reasons as failure lines.
    bool CheckProject(const TProject &oProject);
    // Builds and sends one project; true when every task succeeded. A task
    // of a kind the program does not know adds a "!" line and fails; so does
    // one whose transfer could not start (a database or disk failure before
    // it), and the project's other tasks still run. The log rows and the
    // send date wait out another program's lock on the database
    // (TDeliveryRecords): a delivery that happened is never reported failed.
    bool DeliverProject(const TProject &oProject);

    // Requests the stop: the running project finishes all its tasks first.
    void Abort();
    // False while the run may go on; true after Abort and at the end.
    bool CanClose() const { return FCanClose; }

    // Called whenever CanClose changes, for the window's buttons.
    std::function<void()> OnStateChanged;
    // Called before each project with its index, before the stop is looked at.
    std::function<void(int iIndex)> OnBeforeProject;

    // Flags set from other threads: pStop acts like Abort (the running
    // project still finishes) and ends a wait for the database; pCancel also
    // ends the running transfer and skips the project's remaining tasks.
    // Either may be null.
    void SetStopFlags(const std::atomic<bool> *pStop, const std::atomic<bool> *pCancel);

    TArchiveBuilder &Builder() { return FBuilder; }
    TDeliveryChannels &Channels() { return FChannels; }

private:
    // One task through its channel; true when it was delivered. An error
    // before or during the transfer (nothing delivered then: the writes
    // after a delivery do not throw) fails the task with an "!  Error:" line.
    bool RunTask(const TSendTask &oTask, const QString &sTitle, const QString &sVersion,
                 const QString &sArchive, const QString &sArchiveName);
    void TaskError(const std::exception_ptr &error);
    // The delivery log row of one attempt and the send date of a delivered
    // project, through the channels' records (never lost to a lock).
    void RecordAttempt(bool bSuccess, int iFileCount, int iKind, const QString &sArchiveName,
                       const QString &sDestination, const QString &sReason);
    void RecordSendDate(int iProjectID, const QString &sTitle);
    void SetCanClose();
    void ProjectError(const TProject &oProject, const std::exception_ptr &error);
    bool StopRequested() const { return FStop && FStop->load(std::memory_order_acquire); }
    bool Cancelled() const { return FCancel && FCancel->load(std::memory_order_acquire); }

    TProgressList &FProgress;
    TArchiveBuilder FBuilder;
    TDeliveryChannels FChannels;
    TArchiveNames FNames; // the names given out in this run
    bool FCanClose = false;
    bool FTitleShown = false; // the running project's title line is out
    const std::atomic<bool> *FStop = nullptr;
    const std::atomic<bool> *FCancel = nullptr;
};
