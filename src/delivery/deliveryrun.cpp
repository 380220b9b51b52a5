#include "delivery/deliveryrun.h"

#include "core/daycount.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "core/progress.h"
#include "delivery/deliverylog.h"
#include "delivery/sendtask.h"
#include "delivery/sendtasks.h"
#include "diagnostics/diaglog.h"
#include "projects/project.h"
#include "projects/projectstore.h"

#include <QDir>
#include <QFile>
#include <vector>

namespace {

const QString kWhere = QStringLiteral("TfrmGenerate");

// Removes the project's code archive and manifest when the project is done,
// also when an error leaves it early.
class TTempArchives
{
public:
    TTempArchives() = default;
    ~TTempArchives()
    {
        if (!sCodeZip.isEmpty())
            QFile::remove(sCodeZip);
        if (!sManifest.isEmpty())
            QFile::remove(sManifest);
    }
    TTempArchives(const TTempArchives &) = delete;
    TTempArchives &operator=(const TTempArchives &) = delete;

    QString sCodeZip;
    QString sManifest;
};

// Tells the places archives land apart, for names unique within a run: the
// folder, the FTP server and its directory, or the recipients.
QString DestinationKey(const TSendTask &oTask)
{
    QString sPlace = oTask.Destination().trimmed();
    if (oTask.Kind == skFile)
        sPlace = QDir::cleanPath(QDir::fromNativeSeparators(sPlace));
    else if (oTask.Kind == skFTP)
        sPlace += QLatin1Char('\n') + QDir::cleanPath(oTask.Param(SendParam::FTPDirectory).trimmed());
    return QString::number(oTask.Kind) + QLatin1Char('\n') + sPlace;
}

} // namespace

TDeliveryRun::TDeliveryRun(TProgressList &oProgress)
    : FProgress(oProgress)
    , FBuilder(oProgress)
    , FChannels(oProgress)
{ }

TDeliveryRun::~TDeliveryRun() = default;

void TDeliveryRun::Abort()
{
    SetCanClose();
}

void TDeliveryRun::SetStopFlags(const std::atomic<bool> *pStop, const std::atomic<bool> *pCancel)
{
    FStop = pStop;
    FCancel = pCancel;
    FChannels.SetCancelFlag(pCancel);
    FChannels.Records().SetStopFlags(pStop, pCancel);
}

void TDeliveryRun::SetCanClose()
{
    if (FCanClose)
        return;
    FCanClose = true;
    if (OnStateChanged)
        OnStateChanged();
}

TRunResult TDeliveryRun::Run(const QList<TProject *> &listProjects)
{
    TRunResult result;
    FNames = TArchiveNames();
    qsizetype i = 0;
    for (; i < listProjects.size(); ++i) {
        if (OnBeforeProject)
            OnBeforeProject(int(i));
        if (FCanClose || StopRequested())
            break;
        const TProject &oProject = *listProjects.at(i);
        bool bDelivered = false;
        FTitleShown = false;
        try {
            if (!CheckProject(oProject)) {
                result.bStopped = true;
                break;
            }
            bDelivered = DeliverProject(oProject);
        } catch (...) {
            // A full disk, a database failure: this project fails, the next
            // ones are still tried, and the run ends as usual.
            ProjectError(oProject, std::current_exception());
        }
        if (bDelivered)
            ++result.iDelivered;
        else
            ++result.iFailed;
        FProgress.AddProgress(QStringLiteral(" "));
    }
    result.bAborted = !result.bStopped && i < listProjects.size();
    result.listHostKeys = FChannels.HostKeyProblems();
    // Records an abort left waiting for the database get their last chance.
    result.iUnrecorded = FChannels.Records().Finish();
    SetCanClose();
    FProgress.AddProgress(QStringLiteral("Generation complete."));
    return result;
}

void TDeliveryRun::ProjectError(const TProject &oProject, const std::exception_ptr &error)
{
    QString sText = ExceptionText(error).simplified();
    if (sText.isEmpty())
        sText = QStringLiteral("Unknown error");
    if (!FTitleShown)
        FProgress.AddProgress(oProject.Title());
    FProgress.AddProgressFmt(QStringLiteral("!  Error: %s"), { sText });
    FProgress.AddProgress(QStringLiteral("!  Fail"));
    if (DiagLog)
        DiagLog->LogFmt(kWhere, QStringLiteral("Delivery of %s failed: %s"), { oProject.Title(), sText },
                        lwError);
}

bool TDeliveryRun::CheckProject(const TProject &oProject)
{
    const bool bNoFiles = oProject.FileCount() <= 0;
    const bool bNoTasks = TProjectStore::SendTaskCount(oProject.ProjectID()) == 0;
    if (!bNoFiles && !bNoTasks)
        return true;
    FProgress.AddProgress(oProject.Title());
    if (bNoFiles)
        FProgress.AddProgress(QStringLiteral("!  This project has no files"));
    if (bNoTasks)
        FProgress.AddProgress(QStringLiteral("!  This project has no send methods\r\n"));
    return false;
}

bool TDeliveryRun::DeliverProject(const TProject &oProject)
{
    FTitleShown = false;
    FProgress.AddProgress(oProject.Title());
    FTitleShown = true;

    bool bAllSucceeded = true;
    {
        TTempArchives temp;
        const QString sVersion = FBuilder.ProjectVersion(oProject);
        const QString sArchiveName = TArchiveBuilder::ArchiveName(oProject, sVersion);
        QString sRoot;
        temp.sCodeZip = FBuilder.BuildCodeZip(oProject, sRoot);
        temp.sManifest = FBuilder.WriteReadMe(oProject, sRoot, sVersion);

        // Read the tasks first: the channels run other statements while they wait.
        std::vector<TSendTask> tasks = TSendTask::LoadProject(oProject.ProjectID(), false);

        for (TSendTask &task : tasks) {
            if (Cancelled()) {
                bAllSucceeded = false;
                break;
            }
            if (TSendTask::DestinationParam(task.Kind).isEmpty()) {
                // Nothing was sent: never report it as delivered. No log row
                // either, as the log knows no such method.
                FProgress.AddProgressFmt(QStringLiteral("!  Unknown send method %d: nothing sent"),
                                         { task.Kind });
                if (DiagLog)
                    DiagLog->LogFmt(kWhere, QStringLiteral("Unknown send method %d in send task id=%d"),
                                    { task.Kind, task.ID }, lwError);
                bAllSucceeded = false;
                continue;
            }
            // Read before the transfer: after a delivery only writes follow,
            // and those wait out another program's lock.
            const int iFirstLine = FProgress.Count();
            QString sDestination;
            QString sName = sArchiveName;
            bool bSuccess = false;
            try {
                task.LoadParams();
                sDestination = task.Destination();
                sName = FNames.Claim(DestinationKey(task), sArchiveName);
                const QString sArchive = FBuilder.BuildDeliveryZip(temp.sManifest, task.ZipPassword,
                                                                   temp.sCodeZip, task.Encryption());
                bSuccess = RunTask(task, oProject.Title(), sVersion, sArchive, sName);
            } catch (...) {
                TaskError(std::current_exception());
            }
            RecordAttempt(bSuccess, oProject.FileCount(), task.Kind, sName, sDestination,
                          FProgress.FailureSince(iFirstLine));
            bAllSucceeded = bAllSucceeded && bSuccess;
        }
    } // the code archive and the manifest go here

    if (bAllSucceeded)
        RecordSendDate(oProject.ProjectID(), oProject.Title());
    FProgress.AddProgress(bAllSucceeded ? QStringLiteral("  Success") : QStringLiteral("!  Fail"));
    return bAllSucceeded;
}

bool TDeliveryRun::RunTask(const TSendTask &oTask, const QString &sTitle, const QString &sVersion,
                           const QString &sArchive, const QString &sArchiveName)
{
    if (oTask.Kind == skEmail)
        return FChannels.EmailTask(oTask, sTitle, sVersion, sArchive, sArchiveName);
    if (oTask.Kind == skFile)
        return FChannels.SendAsFile(oTask, sArchive, sArchiveName);
    return FChannels.SendAsFTP(oTask, sArchive, sArchiveName);
}

void TDeliveryRun::TaskError(const std::exception_ptr &error)
{
    QString sText = ExceptionText(error).simplified();
    if (sText.isEmpty())
        sText = QStringLiteral("Unknown error");
    FProgress.AddProgressFmt(QStringLiteral("!  Error: %s"), { sText });
    if (DiagLog)
        DiagLog->LogFmt(kWhere, QStringLiteral("Send task failed: %s"), { sText }, lwError);
}

void TDeliveryRun::RecordAttempt(bool bSuccess, int iFileCount, int iKind, const QString &sArchiveName,
                                 const QString &sDestination, const QString &sReason)
{
    FChannels.Records().Write(
        QStringLiteral("the log row of %1 to %2").arg(sArchiveName, sDestination.simplified()),
        [=] { SaveLog(bSuccess, lsZipAndDeliver, iFileCount, iKind, sArchiveName, sDestination, sReason); });
}

void TDeliveryRun::RecordSendDate(int iProjectID, const QString &sTitle)
{
    const double dNow = NowDays();
    FChannels.Records().Write(QStringLiteral("the send date of %1").arg(sTitle),
                              [=] { TProjectStore::SetSendDate(iProjectID, dNow); });
}
