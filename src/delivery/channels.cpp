#include "delivery/channels.h"

#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "core/winutils.h"
#include "delivery/connection.h"
#include "delivery/retention.h"
#include "delivery/s3staging.h"
#include "delivery/sendtask.h"
#include "delivery/sendtasks.h"
#include "diagnostics/diaglog.h"
#include "network/hostkeytrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <chrono>

namespace {

// Copies sSource over sTarget through a temporary file in the target's
// folder that is renamed at the end, so that a failed copy never leaves a
// truncated file under the final name. Returns the reason of a failure,
// empty text on success.
QString SafeCopy(const QString &sSource, const QString &sTarget)
{
    QFile source(sSource);
    if (!source.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(sSource, source.errorString());
    QSaveFile target(sTarget);
    target.setDirectWriteFallback(false);
    if (!target.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(sTarget, target.errorString());
    QByteArray buffer;
    while (!source.atEnd()) {
        buffer = source.read(1 << 20);
        if (buffer.isEmpty() && source.error() != QFileDevice::NoError)
            break;
        if (target.write(buffer) != buffer.size()) {
            const QString sError = target.errorString();
            target.cancelWriting();
            return QStringLiteral("cannot write %1: %2").arg(sTarget, sError);
        }
    }
    if (source.error() != QFileDevice::NoError || !source.atEnd()) {
        target.cancelWriting();
        return QStringLiteral("cannot read %1: %2").arg(sSource, source.errorString());
    }
    if (!target.commit())
        return QStringLiteral("cannot write %1: %2").arg(sTarget, target.errorString());
    return {};
}

const QString kNoAnswerBefore = QStringLiteral("the server did not answer earlier in this run");

// The mail server as FtpServerKey names FTP servers.
QString SmtpServerKey(const QString &sHost, int iPort)
{
    return QStringLiteral("smtp %1:%2").arg(sHost.trimmed().toLower()).arg(iPort > 0 ? iPort : 25);
}

} // namespace

std::uint32_t TickCount()
{
    using namespace std::chrono;
    return std::uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TDeliveryChannels::TDeliveryChannels(TProgressList &oProgress)
    : FProgress(oProgress)
    , FRecords(oProgress)
{
    QObject::connect(&oFTP, &TNetClient::progress, &oFTP, [this](qint64 n) { FTPProgress(n); });
    QObject::connect(&oSMTP, &TNetClient::progress, &oSMTP, [this](qint64 n) { SMTPProgress(n); });
    QObject::connect(&oS3, &TNetClient::progress, &oS3, [this](qint64 n) { FTPProgress(n); });
    QObject::connect(&oSMTP, &TNetClient::finished, &oSMTP, [this](bool ok) { SMTPDone(ok); });
}

TDeliveryChannels::~TDeliveryChannels() = default;

void TDeliveryChannels::Diag(const QString &sFormat, std::initializer_list<TFmtArg> args, int iWhy) const
{
    if (DiagLog)
        DiagLog->LogFmt(FStyle.Where, sFormat, args, iWhy);
}

QString TDeliveryChannels::CopyFile(const QString &sSource, const QString &sTarget)
{
    return SafeCopy(sSource, sTarget);
}

bool TDeliveryChannels::Upload(const TFTPSettings &oServer, const QString &sArchive,
                               const QString &sRemoteName)
{
    oServer.ApplyTo(oFTP);
    FFTPProgress = 0;
    const QString sServer = FtpServerKey(oServer.Host);
    FSkipped = FSilentServers.contains(sServer);
    if (FSkipped) {
        oFTP.Skip(kNoAnswerBefore);
        return false;
    }
    if (oFTP.Put(sArchive, sRemoteName))
        return true;
    if (oFTP.NoAnswer())
        FSilentServers.insert(sServer);
    const TSshHostKey key = oFTP.HostKeyProblem();
    if (key.IsValid())
        FHostKeys = DistinctHostKeys(FHostKeys + QList<TSshHostKey> { key });
    return false;
}

bool TDeliveryChannels::UploadS3(const TS3Settings &oServer, const QString &sArchive, const QString &sKey)
{
    oS3.Server = oServer;
    FFTPProgress = 0;
    const QString sServer = QStringLiteral("s3 ") + oServer.Endpoint.trimmed().toLower();
    FSkipped = FSilentServers.contains(sServer);
    if (FSkipped) {
        oS3.Skip(kNoAnswerBefore);
        return false;
    }
    if (oS3.Put(sArchive, sKey))
        return true;
    if (oS3.NoAnswer())
        FSilentServers.insert(sServer);
    return false;
}

bool TDeliveryChannels::Mail(const TSMTPSettings &oServer, const QString &sTo, const QString &sSubject,
                             const QString &sBody, const QString &sAttachment, const QString &sAttachmentName)
{
    oSMTP.ClearMessage();
    oServer.ApplyTo(oSMTP);
    oSMTP.Subject = sSubject;
    oSMTP.To = sTo;
    oSMTP.Recipients = TSMTPClient::SplitRecipients(sTo);
    oSMTP.Body = sBody;
    oSMTP.Attachments.clear();
    if (!sAttachment.isEmpty())
        oSMTP.Attachments.append(TMailAttachment { sAttachment, sAttachmentName });

    FEmailProgress = 0;
    FEmailSize = 0;
    FSMTPProgress = 0;
    FSMTPLast = 0;
    const QString sServer = SmtpServerKey(oSMTP.Host, oSMTP.Port);
    FSkipped = FSilentServers.contains(sServer);
    if (FSkipped) {
        // finished() sets FEmailProgress.
        oSMTP.Skip(kNoAnswerBefore);
        return false;
    }
    // Runs on this thread and returns when the message went or failed; the
    // client fails it after its time-out without progress, so a silent
    // server ends it as well. finished() has set FEmailProgress by then.
    if (!oSMTP.Send() && FEmailProgress == 0)
        SMTPDone(false);
    if (FEmailProgress != 1 && oSMTP.NoAnswer())
        FSilentServers.insert(sServer);
    return FEmailProgress == 1;
}

bool TDeliveryChannels::SendAsFile(const TSendTask &oTask, const QString &sArchive,
                                   const QString &sArchiveName)
{
    const QString sFolder = oTask.Param(SendParam::FileFolder);
    QString sError;
    if (sFolder.isEmpty())
        sError = QStringLiteral("no folder is set");
    else if (!QFileInfo(sFolder).isDir())
        sError = QStringLiteral("the folder %1 does not exist").arg(sFolder);
    else
        sError = SafeCopy(sArchive, JoinPath(sFolder, sArchiveName));
    if (sError.isEmpty()) {
        FProgress.AddTargetFmt(TProgressLine::tkFile, JoinPath(sFolder, sArchiveName),
                               QStringLiteral("  Output saved to %s"), { sArchiveName });
        return true;
    }
    FProgress.AddProgressFmt(QStringLiteral("!  Unable to save output %s: %s"), { sArchiveName, sError });
    return false;
}

bool TDeliveryChannels::SendAsFTP(const TSendTask &oTask, const QString &sArchive,
                                  const QString &sArchiveName)
{
    return UploadTo(TFTPSettings::FromTask(oTask), nullptr, sArchive, sArchiveName);
}

bool TDeliveryChannels::SendToStaging(const TSendTask &oEmailTask, const QString &sArchive,
                                      const QString &sArchiveName)
{
    return UploadTo(TFTPSettings::Staging(), &oEmailTask, sArchive, sArchiveName);
}

bool TDeliveryChannels::UploadTo(const TFTPSettings &oServer, const TSendTask *pStagingFor,
                                 const QString &sArchive, const QString &sArchiveName)
{
    const bool bSuccess = Upload(oServer, sArchive, sArchiveName);

    // Recorded even after a failure: a partial upload may have been left,
    // and the expiry check drops the row once it finds no file.
    if (pStagingFor && !FSkipped)
        RecordStagingUpload(*pStagingFor);

    if (bSuccess) {
        FProgress.AddProgressFmt(QStringLiteral("  Sent via FTP to %s"), { oFTP.Host });
    } else if (FSkipped) {
        FProgress.AddProgress(QStringLiteral("!  FTP skipped: ") + kNoAnswerBefore);
    } else {
        FProgress.AddProgressFmt(QStringLiteral("!  FTP failed: %s"), { oFTP.ErrorText() });
        Diag(QStringLiteral("SendAsFTP to %s failed: %s"), { oFTP.Host, oFTP.ErrorText() }, lwInfo);
    }
    return bSuccess;
}

void TDeliveryChannels::RecordStagingUpload(const TSendTask &oTask)
{
    const TStagingUpload upload = TStagingUpload::Of(oFTP);
    FRecords.Write(QStringLiteral("the expiry of %1 on %2").arg(upload.FileName, upload.Host),
                   [oTask, upload] { SaveFileExpiry(oTask, upload); });
}

void TDeliveryChannels::FTPProgress(qint64 iBytes)
{
    const std::uint32_t iTick = TickCount();
    if (iTick > FFTPProgress) {
        FFTPProgress = iTick + 1000;
        FProgress.ShowProgress(FStyle.CounterIndent + QStringLiteral("FTP"), iBytes);
    }
}

QString TDeliveryChannels::DownloadLink(const QString &sArchiveName)
{
    return TStagingSettings::FromSettings().DownloadLink(sArchiveName);
}

bool TDeliveryChannels::EmailTask(const TSendTask &oTask, const QString &sTitle, const QString &sVersion,
                                  const QString &sArchive, const QString &sArchiveName)
{
    if (!FTPAvailable() || !oTask.UsesStagingFTP())
        return SendAsEmail(oTask, sTitle, sVersion, sArchive, sArchiveName, false);
    const QString sStagingName = TStagingSettings::UniqueName(sArchiveName);
    if (StagingKindSetting() == TStagingKind::S3) {
        QString sLink;
        if (!StageOnS3(*this, FProgress, TS3Settings::FromSettings(), sArchive, sStagingName,
                       oTask.RetentionIndex(0), sLink))
            return false;
        if (!CheckLink(sLink, sArchive))
            return false;
        return SendAsEmail(oTask, sTitle, sVersion, sArchive, sLink, true);
    }
    if (!SendToStaging(oTask, sArchive, sStagingName))
        return false;
    const QString sLink = DownloadLink(sStagingName);
    if (!CheckLink(sLink, sArchive))
        return false;
    return SendAsEmail(oTask, sTitle, sVersion, sArchive, sLink, true);
}

bool TDeliveryChannels::CheckLink(const QString &sLink, const QString &sArchive)
{
    if (oHTTP.VerifyDownload(sLink, sArchive))
        return true;
    FProgress.AddProgressFmt(QStringLiteral("!  The download link does not work: %s (%s)"),
                             { oHTTP.ErrorText(), sLink });
    Diag(QStringLiteral("Download link %s does not work: %s"), { sLink, oHTTP.ErrorText() }, lwError);
    return false;
}

bool TDeliveryChannels::SendAsEmail(const TSendTask &oTask, const QString &sTitle, const QString &sVersion,
                                    const QString &sArchive, const QString &sLinkOrName, bool bLink)
{
    // The attachment's copy goes once the message is sent or has failed.
    struct TRemoveCopy
    {
        QString sPath;
        ~TRemoveCopy()
        {
            if (!sPath.isEmpty())
                QFile::remove(sPath);
        }
    } copy;
    if (!bLink) {
        const QString sTarget = JoinPath(RunTempDir(), sLinkOrName);
        if (!CopyFile(sArchive, sTarget).isEmpty()) {
            FProgress.AddProgressFmt(QStringLiteral("!  Failed to email %s: could not copy %s to %s."),
                                     { sLinkOrName, sArchive, sTarget });
            Diag(QStringLiteral("SendAsEmail error: could not copy %s to %s."), { sArchive, sTarget },
                 lwError);
            return false;
        }
        copy.sPath = sTarget;
    }

    const QString sTo = oTask.Param(SendParam::EmailRecipient);
    const QString sSubject = ReplaceSubject(oTask.Param(SendParam::EmailSubject), sTitle, sVersion);
    const QString sBody = ReplaceBody(oTask.Param(SendParam::EmailMessage), sTitle, sVersion, sLinkOrName);
    Mail(TSMTPSettings::FromSettings(), sTo, sSubject, sBody, copy.sPath, bLink ? QString() : sLinkOrName);

    if (FEmailProgress == 1) {
        if (bLink)
            FProgress.AddTargetFmt(TProgressLine::tkLink, sLinkOrName, QStringLiteral("  Email sent to %s"),
                                   { oSMTP.To });
        else
            FProgress.AddProgressFmt(QStringLiteral("  Email sent to %s"), { oSMTP.To });
        return true;
    }
    if (FSkipped)
        FProgress.AddProgress(QStringLiteral("!  Email skipped: ") + kNoAnswerBefore);
    else
        FProgress.AddProgressFmt(QStringLiteral("!  Email failed: %s"), { oSMTP.ErrorText() });
    Diag(QStringLiteral("SendAsEmail to %s failed: %s"), { oSMTP.To, oSMTP.ErrorText() }, lwError);
    return false;
}

void TDeliveryChannels::SMTPProgress(qint64 iBytes)
{
    // The client reports a running total; the field adds up the blocks.
    FEmailSize += iBytes - FSMTPLast;
    FSMTPLast = iBytes;
    const std::uint32_t iTick = TickCount();
    if (!FStyle.ThrottleEmail || iTick > FSMTPProgress) {
        FSMTPProgress = iTick + 1000;
        FProgress.ShowProgress(FStyle.CounterIndent + QStringLiteral("Email"), FEmailSize);
    }
}

void TDeliveryChannels::SMTPDone(bool bSuccess)
{
    if (bSuccess) {
        FEmailProgress = 1;
    } else {
        FEmailProgress = -1;
        Diag(FStyle.SMTPError, { oSMTP.ErrorText() }, lwError);
    }
}
