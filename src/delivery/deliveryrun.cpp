#include "delivery/deliveryrun.h"

#include "core/daycount.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/sqlite.h"
#include "delivery/deliverylog.h"
#include "delivery/sendtask.h"
#include "delivery/sendtasks.h"
#include "diagnostics/diaglog.h"
#include "projects/project.h"

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

struct TSendRow
{
    int iID = 0;
    int iKind = 0;
    QString sPassword;
};

// The send parameter that names where a task of this kind delivers to (the
// log's destination); empty for kinds the run does not know.
QString DestinationParam(int iKind)
{
    switch (iKind) {
    case skEmail:
        return QStringLiteral("EmailRecipient");
    case skFile:
        return QStringLiteral("FileFolder");
    case skFTP:
        return QStringLiteral("FTPHost");
    default:
        return QString();
    }
}

// Tells the places archives land apart, for names unique within a run: the
// folder, the FTP server and its directory, or the recipients.
QString DestinationKey(int iSendID, int iKind, const QString &sDestination)
{
    QString sPlace = sDestination.trimmed();
    if (iKind == skFile)
        sPlace = QDir::cleanPath(QDir::fromNativeSeparators(sPlace));
    else if (iKind == skFTP)
        sPlace
            += QLatin1Char('\n') + QDir::cleanPath(GetSendParam(iSendID, SendParam::FTPDirectory).trimmed());
    return QString::number(iKind) + QLatin1Char('\n') + sPlace;
}

} // namespace

int SendTaskCount(int iProjectID)
{
    return int(
        DB->QueryInteger(QStringLiteral("SELECT COUNT(id) FROM send WHERE id_projects = ?"), { iProjectID }));
}

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
    const bool bNoTasks = SendTaskCount(oProject.ProjectID()) == 0;
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
        std::vector<TSendRow> tasks;
        {
            auto table
                = DB->Query(QStringLiteral("SELECT id, type, zippassword FROM send WHERE id_projects = ?"),
                            { oProject.ProjectID() });
            for (; table && !table->Eof(); table->Next())
                tasks.push_back({ int(table->FieldAsInteger(0)), int(table->FieldAsInteger(1)),
                                  table->FieldAsString(2) });
        }

        for (const TSendRow &task : tasks) {
            if (Cancelled()) {
                bAllSucceeded = false;
                break;
            }
            const QString sDestParam = DestinationParam(task.iKind);
            if (sDestParam.isEmpty()) {
                // Nothing was sent: never report it as delivered. No log row
                // either, as the log knows no such method.
                FProgress.AddProgressFmt(QStringLiteral("!  Unknown send method %d: nothing sent"),
                                         { task.iKind });
                if (DiagLog)
                    DiagLog->LogFmt(kWhere, QStringLiteral("Unknown send method %d in send task id=%d"),
                                    { task.iKind, task.iID }, lwError);
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
                sDestination = GetSendParam(task.iID, sDestParam);
                sName = FNames.Claim(DestinationKey(task.iID, task.iKind, sDestination), sArchiveName);
                const QString sArchive = FBuilder.BuildDeliveryZip(
                    temp.sManifest, task.sPassword, temp.sCodeZip, SendTaskEncryption(task.iID));
                bSuccess = RunTask(task.iID, task.iKind, oProject.Title(), sVersion, sArchive, sName);
            } catch (...) {
                TaskError(std::current_exception());
            }
            RecordAttempt(bSuccess, oProject.FileCount(), task.iKind, sName, sDestination,
                          FProgress.FailureSince(iFirstLine));
            bAllSucceeded = bAllSucceeded && bSuccess;
        }
    } // the code archive and the manifest go here

    if (bAllSucceeded)
        RecordSendDate(oProject.ProjectID(), oProject.Title());
    FProgress.AddProgress(bAllSucceeded ? QStringLiteral("  Success") : QStringLiteral("!  Fail"));
    return bAllSucceeded;
}

bool TDeliveryRun::RunTask(int iSendID, int iKind, const QString &sTitle, const QString &sVersion,
                           const QString &sArchive, const QString &sArchiveName)
{
    if (iKind == skEmail)
        return FChannels.EmailTask(iSendID, sTitle, sVersion, sArchive, sArchiveName);
    if (iKind == skFile)
        return FChannels.SendAsFile(iSendID, sArchive, sArchiveName);
    return FChannels.SendAsFTP(iSendID, sArchive, sArchiveName);
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
    FChannels.Records().Write(QStringLiteral("the send date of %1").arg(sTitle), [=] {
        DB->Exec(QStringLiteral("UPDATE projects SET senddate = ? WHERE id = ?"), { dNow, iProjectID });
    });
}
