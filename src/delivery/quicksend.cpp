#include "delivery/quicksend.h"

#include "archive/archivebuilder.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "core/winutils.h"
#include "delivery/connection.h"
#include "delivery/deliverygate.h"
#include "delivery/deliverylog.h"
#include "delivery/retention.h"
#include "delivery/s3staging.h"
#include "delivery/sendtask.h"
#include "diagnostics/diaglog.h"
#include "projects/projectstore.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace {

const QString kWhere = QStringLiteral("TfrmQuickSend");
const QString kFilesZip = QStringLiteral("files.zip");

// Removes a working file of the send when it goes out of scope.
struct TRemoveFile
{
    QString sPath;
    ~TRemoveFile()
    {
        if (!sPath.isEmpty())
            QFile::remove(sPath);
    }
};

} // namespace

QString TQuickSendOrder::Destination() const
{
    switch (Page) {
    case skEmail:
        return Recipient;
    case skFile:
        return Folder;
    case skFTP:
        return FTPHost;
    default:
        return QStringLiteral("unknown");
    }
}

// --- QuickSend ------------------------------------------------------------

QString QuickSend::CleanName(const QString &sName)
{
    QString s = sName;
    for (QChar &c : s) {
        const char16_t u = c.unicode();
        const bool bKeep = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z')
            || u == u'_' || u == u'-' || u == u'.';
        if (!bKeep)
            c = QLatin1Char('_');
    }
    return s;
}

QString QuickSend::DisplayName(const QString &sPath)
{
    return sPath.mid(sPath.lastIndexOf(QLatin1Char('/')) + 1);
}

QStringList QuickSend::EntryNames(const QStringList &oFiles)
{
    QStringList names;
    QHash<QString, QString> byPath; // a path listed again keeps its name
    QSet<QString> used; // lower-case names taken so far
    for (const QString &sPath : oFiles) {
        if (const auto it = byPath.constFind(sPath); it != byPath.cend()) {
            names.append(*it);
            continue;
        }
        const QString sBare = DisplayName(sPath);
        QString sName = sBare;
        if (used.contains(sName.toLower())) {
            // "notes.txt" becomes "notes (2).txt"; a leading dot is no extension.
            const qsizetype dot = sBare.lastIndexOf(QLatin1Char('.'));
            const QString sStem = dot > 0 ? sBare.left(dot) : sBare;
            const QString sExt = dot > 0 ? sBare.mid(dot) : QString();
            for (int i = 2; used.contains(sName.toLower()); ++i)
                sName = QStringLiteral("%1 (%2)%3").arg(sStem).arg(i).arg(sExt);
        }
        used.insert(sName.toLower());
        byPath.insert(sPath, sName);
        names.append(sName);
    }
    return names;
}

QString QuickSend::WhyNotReady(const TQuickSendOrder &oOrder, bool bRecipientPicked)
{
    if (oOrder.Files.isEmpty())
        return QStringLiteral("Tick a file to send");
    // An empty name would deliver a hidden ".zip".
    if (oOrder.Zipped() && oOrder.ZipName.trimmed().isEmpty())
        return QStringLiteral("Enter an archive name");
    switch (oOrder.Page) {
    case skEmail:
        if (!EmailAvailable())
            return QStringLiteral("Set up SMTP in Settings");
        if (!IsValidEmail(oOrder.Recipient) && !bRecipientPicked)
            return oOrder.Recipient.trimmed().isEmpty() ? QStringLiteral("Enter a recipient")
                                                        : QStringLiteral("Enter a valid email address");
        if (oOrder.Subject.isEmpty())
            return QStringLiteral("Enter a subject");
        if (oOrder.Message.isEmpty())
            return QStringLiteral("Enter a message");
        return QString();
    case skFile:
        if (oOrder.Folder.isEmpty())
            return QStringLiteral("Choose a folder");
        if (!QFileInfo(oOrder.Folder).isDir())
            return QStringLiteral("The folder does not exist");
        return QString();
    case skFTP:
        if (oOrder.FTPHost.trimmed().isEmpty())
            return QStringLiteral("Enter an FTP host");
        return QString();
    default:
        return QStringLiteral("Choose a send method");
    }
}

bool QuickSend::Ready(const TQuickSendOrder &oOrder, bool bRecipientPicked)
{
    return WhyNotReady(oOrder, bRecipientPicked).isEmpty();
}

QList<TQuickSuggestion> QuickSend::Suggestions(const QString &sParam, const QString &sText)
{
    QList<TQuickSuggestion> list;
    QSet<QString> seen;
    for (const auto &[iSendID, sStored] : TSendTask::FindParam(sParam, sText)) {
        const QString sValue = sStored.trimmed();
        // LIKE takes "_" and "%" in the typed text as wildcards: keep only
        // values that really contain it.
        if (sValue.isEmpty() || !sValue.contains(sText.trimmed(), Qt::CaseInsensitive))
            continue;
        if (seen.contains(sValue.toLower()))
            continue;
        seen.insert(sValue.toLower());
        list.append(TQuickSuggestion { sValue, iSendID });
    }
    return list;
}

namespace {

// The picked task as stored; an empty one when it is gone.
TSendTask Suggested(int iSendID)
{
    return TSendTask::Load(iSendID).value_or(TSendTask());
}

} // namespace

TQuickRecipientPick QuickSend::PickRecipient(int iSendID)
{
    const TSendTask task = Suggested(iSendID);
    TQuickRecipientPick pick;
    pick.ZipPassword = task.ZipPassword;
    pick.ZipEncryption = task.Encryption();
    pick.UseStaging = task.UsesStagingFTP();
    pick.Retention = task.RetentionIndex(1);
    return pick;
}

TQuickHostPick QuickSend::PickHost(int iSendID)
{
    const TSendTask task = Suggested(iSendID);
    TQuickHostPick pick;
    pick.Directory = task.Param(SendParam::FTPDirectory);
    pick.Login = task.Param(SendParam::FTPLogin);
    pick.Password = task.Param(SendParam::FTPPassword);
    pick.ZipPassword = task.ZipPassword;
    pick.ZipEncryption = task.Encryption();
    return pick;
}

QString QuickSend::PasswordSource(int iSendID)
{
    const int iProject = Suggested(iSendID).ProjectID;
    const QString sTitle = iProject > 0 ? TProjectStore::Title(iProject) : QString();
    if (sTitle.isEmpty())
        return QStringLiteral("Password from an earlier quick send");
    return QStringLiteral("Password from the task of \u201c%1\u201d").arg(sTitle);
}

bool QuickSend::Remember(const TQuickSendOrder &oOrder)
{
    const bool bEmail = oOrder.Page == skEmail;
    if (!bEmail && oOrder.Page != skFTP)
        return false;
    const QString sName = bEmail ? SendParam::EmailRecipient : SendParam::FTPHost;
    const QString sValue = bEmail ? oOrder.Recipient : oOrder.FTPHost;
    if (TSendTask::ParamStored(sName, sValue))
        return false;
    TSendTask entry(0, bEmail ? skEmail : skFTP);
    entry.ZipPassword = oOrder.ZipPassword;
    if (bEmail) {
        entry.SetParam(SendParam::EmailRecipient, oOrder.Recipient);
    } else {
        entry.SetParam(SendParam::FTPHost, oOrder.FTPHost);
        entry.SetParam(SendParam::FTPDirectory, oOrder.FTPDirectory);
        entry.SetParam(SendParam::FTPLogin, oOrder.FTPLogin);
        entry.SetParam(SendParam::FTPPassword, oOrder.FTPPassword);
    }
    entry.SetEncryption(oOrder.ZipEncryption);
    entry.Save();
    return true;
}

// --- TQuickSender ---------------------------------------------------------

TQuickSender::TQuickSender(const TQuickSendOrder &oOrder, TProgressList &oProgress)
    : FOrder(oOrder)
    , FProgress(oProgress)
    , FChannels(oProgress)
{
    TChannelStyle style;
    style.Where = kWhere;
    style.SMTPError = QStringLiteral("SMTPRequestDone error: %s");
    style.CounterIndent.clear();
    style.ThrottleEmail = false;
    FChannels.SetStyle(style);
}

void TQuickSender::SetCancelFlag(const std::atomic<bool> *pCancel)
{
    FChannels.SetCancelFlag(pCancel);
    FChannels.Records().SetStopFlags(nullptr, pCancel);
}

void TQuickSender::Diag(const QString &sFormat, std::initializer_list<TFmtArg> args, int iWhy) const
{
    if (DiagLog)
        DiagLog->LogFmt(kWhere, sFormat, args, iWhy);
}

bool TQuickSender::Run()
{
    // The archives made here go once the file went out (or did not).
    TRemoveFile filesZip, archive;
    bool bSuccess = false;
    const QStringList &files = FOrder.Files;
    if (files.size() == 1 && !FOrder.Zip) {
        FOutputFile = files.first();
        FDeliverFile = QuickSend::CleanName(QuickSend::DisplayName(files.first()));
        bSuccess = true;
    } else {
        FDeliverFile = QuickSend::CleanName(FOrder.ZipName) + QStringLiteral(".zip");
        QString sInner = files.size() == 1 ? files.first() : BuildFilesZip();
        filesZip.sPath = files.size() == 1 ? QString() : sInner;
        if (!sInner.isEmpty()) {
            const QString sEntry = files.size() == 1 ? QuickSend::DisplayName(sInner) : kFilesZip;
            FOutputFile = SingleFileArchive(sInner, sEntry);
            archive.sPath = FOutputFile;
        }
        // A failed archive is not sent: the recipient would get less than
        // was chosen.
        bSuccess = !FOutputFile.isEmpty();
    }

    if (bSuccess) {
        switch (FOrder.Page) {
        case skEmail:
            bSuccess = SendEmail();
            break;
        case skFile:
            bSuccess = SendFile();
            break;
        case skFTP:
            bSuccess = SendFTP();
            break;
        default:
            bSuccess = false;
            break;
        }
    }
    const QString sReason = FProgress.FailureSince(0);
    FProgress.AddProgress(bSuccess ? QStringLiteral("Quick send successful")
                                   : QStringLiteral("!Quick send failed"));
    // Waits out another program's lock on the database: the file went.
    const int iFiles = int(files.size());
    const int iPage = FOrder.Page;
    const QString sName = FDeliverFile;
    const QString sDestination = FOrder.Destination();
    const QString sWhy = sReason.isEmpty() ? QStringLiteral("Quick send failed") : sReason;
    FChannels.Records().Write(
        QStringLiteral("the log row of %1 to %2").arg(sName, sDestination.simplified()),
        [=] { SaveLog(bSuccess, lsQuickSend, iFiles, iPage, sName, sDestination, sWhy); });
    FChannels.Records().Finish();
    return bSuccess;
}

bool TQuickSender::RunZip()
{
    QStringList lMissing;
    oZip.OnSkipped = [&lMissing](const QString &sPath) { lMissing << sPath; };
    QString sRaised;
    try {
        oZip.Add();
    } catch (const std::exception &e) {
        sRaised = QString::fromUtf8(e.what());
        if (sRaised.isEmpty())
            sRaised = QStringLiteral("Unknown error");
    }
    oZip.OnSkipped = nullptr;
    if (!sRaised.isEmpty())
        ZipError(sRaised);
    else if (oZip.ErrorCode() != TZipEngine::ZipOk)
        ZipError(oZip.ErrorMessage());
    else if (!lMissing.isEmpty())
        // Left out silently, the recipient would miss a file.
        ZipError(QStringLiteral("Missing file: %1").arg(lMissing.first()));
    else
        return true;
    QFile::remove(oZip.ZipFileName());
    return false;
}

void TQuickSender::ZipError(const QString &sMessage)
{
    FProgress.AddProgressFmt(QStringLiteral("!Error: %s"), { sMessage });
    Diag(QStringLiteral("GenerateZip error: %s"), { sMessage }, lwError);
}

QString TQuickSender::BuildFilesZip()
{
    const QString sPath = RunTempDir() + kFilesZip;
    QFile::remove(sPath);
    oZip.Clear();
    oZip.SetZipFileName(sPath);
    oZip.SetZipComment(TArchiveBuilder::ArchiveComment());
    const QStringList names = QuickSend::EntryNames(FOrder.Files);
    for (qsizetype i = 0; i < FOrder.Files.size(); ++i) {
        const QString &sFile = FOrder.Files.at(i);
        oZip.AddItem(sFile, names.at(i));
        if (names.at(i) != QuickSend::DisplayName(sFile))
            FProgress.AddProgressFmt(QStringLiteral("%s added as %s"),
                                     { QuickSend::DisplayName(sFile), names.at(i) });
    }
    if (!RunZip())
        return {};
    FProgress.AddProgressFmt(QStringLiteral("Zipped %s"),
                             { Plural(QStringLiteral("file"), int(FOrder.Files.size())) });
    return sPath;
}

QString TQuickSender::SingleFileArchive(const QString &sFile, const QString &sEntryName)
{
    QString sPath = TempFileName(QStringLiteral(".zip"));
    while (QFileInfo::exists(sPath))
        sPath = TempFileName(QStringLiteral(".zip"));
    oZip.Clear();
    oZip.SetZipFileName(sPath);
    oZip.SetZipComment(TArchiveBuilder::ArchiveComment());
    oZip.AddItem(sFile, sEntryName, FOrder.ZipPassword, FOrder.ZipEncryption);
    return RunZip() ? sPath : QString();
}

bool TQuickSender::SendEmail()
{
    TRemoveFile copy;
    QString sTarget;
    bool bDone = false;
    const bool bLink = FTPAvailable() && FOrder.UseStaging;
    if (bLink) {
        // Every link gets a file of its own: a later quick send must never
        // replace what an earlier recipient was sent.
        const QString sStagingName = TStagingSettings::UniqueName(FDeliverFile);
        if (StagingKindSetting() == TStagingKind::S3) {
            bDone = StageOnS3(FChannels, FProgress, TS3Settings::FromSettings(), FOutputFile, sStagingName,
                              FOrder.Retention, sTarget);
            if (!bDone)
                sTarget = sStagingName;
        } else {
            bDone = SendUserFTP(sStagingName);
            sTarget = TStagingSettings::FromSettings().JoinedLink(sStagingName);
        }
        if (bDone && !FChannels.CheckLink(sTarget, FOutputFile))
            return false;
    } else {
        sTarget = JoinPath(RunTempDir(), FDeliverFile);
        bDone = TDeliveryChannels::CopyFile(FOutputFile, sTarget).isEmpty();
        if (bDone)
            copy.sPath = sTarget;
    }
    if (!bDone) {
        FProgress.AddProgressFmt(QStringLiteral("!Email failed: could not copy to %s."),
                                 { QuickSend::DisplayName(sTarget) });
        Diag(QStringLiteral("SendEmail error: could not copy %s to %s."), { FOutputFile, sTarget }, lwError);
        return false;
    }

    // "{LINK}" is the download link, or the attachment's name as in every
    // other e-mail of the program.
    QString sBody = FOrder.Message;
    ReplaceAll(sBody, QStringLiteral("{LINK}"), bLink ? sTarget : FDeliverFile);
    const bool bSent = FChannels.Mail(TSMTPSettings::FromSettings(), FOrder.Recipient, FOrder.Subject, sBody,
                                      copy.sPath, bLink ? QString() : FDeliverFile);
    const TSMTPClient &oSMTP = FChannels.oSMTP;
    if (bSent) {
        FProgress.AddProgressFmt(QStringLiteral("  Email sent to %s"), { oSMTP.To });
        return true;
    }
    FProgress.AddProgressFmt(QStringLiteral("!  Email failed: %s"), { oSMTP.ErrorText() });
    Diag(QStringLiteral("SendEmail to %s failed: %s"), { oSMTP.To, oSMTP.ErrorText() }, lwError);
    return false;
}

bool TQuickSender::SendFile()
{
    const QString &sFolder = FOrder.Folder;
    QString sError;
    if (sFolder.isEmpty())
        sError = QStringLiteral("no folder is set");
    else if (!QFileInfo(sFolder).isDir())
        sError = QStringLiteral("the folder %1 does not exist").arg(sFolder);
    else
        sError = TDeliveryChannels::CopyFile(FOutputFile, JoinPath(sFolder, FDeliverFile));
    if (sError.isEmpty()) {
        FProgress.AddTargetFmt(TProgressLine::tkFile, JoinPath(sFolder, FDeliverFile),
                               QStringLiteral("Output saved to %s"), { FDeliverFile });
        return true;
    }
    FProgress.AddProgressFmt(QStringLiteral("!Unable to save output %s: %s"), { FDeliverFile, sError });
    return false;
}

bool TQuickSender::SendFTP()
{
    TFTPSettings server;
    server.Host = FOrder.FTPHost;
    server.Directory = FOrder.FTPDirectory;
    server.Username = FOrder.FTPLogin;
    server.Password = FOrder.FTPPassword;
    server.CertificatesFile = Setting::TLSCertificates.Get();
    const TFTPClient &oFTP = FChannels.oFTP;
    if (FChannels.Upload(server, FOutputFile, FDeliverFile)) {
        FProgress.AddProgressFmt(QStringLiteral("  Sent via FTP to %s"), { oFTP.Host });
        return true;
    }
    FProgress.AddProgressFmt(QStringLiteral("!  FTP failed: %s"), { oFTP.ErrorText() });
    Diag(QStringLiteral("SendFTP to %s failed: %s"), { oFTP.Host, oFTP.ErrorText() }, lwInfo);
    return false;
}

bool TQuickSender::SendUserFTP(const QString &sRemoteName)
{
    const TFTPClient &oFTP = FChannels.oFTP;
    const bool bSuccess = FChannels.Upload(TFTPSettings::Staging(), FOutputFile, sRemoteName);
    // Recorded also after a failure: a partial upload may be left, and the
    // expiry check drops the row once it finds no file.
    if (!FChannels.Skipped()) {
        const TStagingUpload upload = TStagingUpload::Of(oFTP);
        const int iPeriod = FOrder.Retention;
        FChannels.Records().Write(QStringLiteral("the expiry of %1 on %2").arg(upload.FileName, upload.Host),
                                  [upload, iPeriod] { SaveFileExpiry(upload, iPeriod); });
    }
    if (bSuccess) {
        FProgress.AddProgressFmt(QStringLiteral("  Sent via FTP to %s"), { oFTP.Host });
        return true;
    }
    FProgress.AddProgressFmt(QStringLiteral("!  FTP failed: %s"), { oFTP.ErrorText() });
    Diag(QStringLiteral("SendUserFTP to %s failed: %s"), { oFTP.Host, oFTP.ErrorText() }, lwInfo);
    return false;
}

// --- TQuickSendJob --------------------------------------------------------

TQuickSendJob::TQuickSendJob(const TQuickSendOrder &oOrder, TProgressList &oProgress, QObject *parent)
    : TJob(parent)
    , FOrder(oOrder)
    , FProgress(oProgress)
{ }

TQuickSendJob::~TQuickSendJob()
{
    Stop();
    EndCount();
}

void TQuickSendJob::Run()
{
    if (FCounted || Running() || Ended())
        return;
    FCounted = true;
    BeginDelivery(this, [this] { Launch(); });
}

void TQuickSendJob::Launch()
{
    if (!Running() && !Ended())
        Start();
}

void TQuickSendJob::EndCount()
{
    if (FCounted) {
        FCounted = false;
        EndDelivery();
    }
}

void TQuickSendJob::Execute()
{
    // The work reports to a list of this thread, replayed on the owner's.
    TProgressList progress;
    ForwardLines(progress,
                 [this](const TProgressLine &line) { Post([this, line] { FProgress.AddLine(line); }); });
    TQuickSender sender(FOrder, progress);
    sender.SetCancelFlag(&CancelFlag());
    FThreadSuccess = sender.Run();
    FThreadHostKeys = sender.HostKeyProblems();
}

void TQuickSendJob::Completed()
{
    FSuccess = ErrorText().isEmpty() && FThreadSuccess;
    FHostKeys = FSuccess ? QList<TSshHostKey>() : FThreadHostKeys;
    if (!ErrorText().isEmpty())
        FProgress.AddProgressFmt(QStringLiteral("!Error: %s"), { ErrorText() });
    EndCount();
    Q_EMIT finished(FSuccess);
}
