#pragma once

#include "delivery/records.h"
#include "network/ftpclient.h"
#include "network/httpclient.h"
#include "network/s3client.h"
#include "network/smtpclient.h"

struct TFTPSettings;
struct TSMTPSettings;

#include "core/sqlformat.h"

#include <QList>
#include <QSet>
#include <QString>
#include <cstdint>
#include <initializer_list>

class TProgressList;
class TSendTask;

// How the channels report besides their result lines: the diagnostics
// source, the entry of a failed SMTP command, and the counter lines. The
// delivery run keeps the defaults; quick send has texts of its own.
struct TChannelStyle
{
    QString Where = QStringLiteral("TfrmGenerate");
    QString SMTPError = QStringLiteral("oSMTPRequestDone error: %s");
    QString CounterIndent = QStringLiteral("  ");
    // At most one e-mail counter line a second; false: one per block.
    bool ThrottleEmail = true;
};

// The three ways a delivery archive leaves the machine: copy into a folder,
// upload to an FTP server, or e-mail (attached, or as a link to a copy on the
// staging FTP server). Each call reports one result line to the progress
// list and returns when its transfer has ended; the clients are reused for
// every task of a run. One thread: a delivery job's (the transfers block it).
class TDeliveryChannels
{
public:
    explicit TDeliveryChannels(TProgressList &oProgress);
    ~TDeliveryChannels();
    TDeliveryChannels(const TDeliveryChannels &) = delete;
    TDeliveryChannels &operator=(const TDeliveryChannels &) = delete;

    // Copies the archive into the task's folder as sArchiveName; a failure
    // line gives the reason.
    bool SendAsFile(const TSendTask &oTask, const QString &sArchive, const QString &sArchiveName);
    // Uploads the archive as sArchiveName to the FTP task's server.
    bool SendAsFTP(const TSendTask &oTask, const QString &sArchive, const QString &sArchiveName);
    // Uploads the archive as sArchiveName to the staging server of the
    // settings for the e-mail task and records the upload for expiry.
    bool SendToStaging(const TSendTask &oEmailTask, const QString &sArchive, const QString &sArchiveName);
    // The web address of a staging upload: "FTP http path" joined with the
    // name, "http://" put in front when it has no http(s) scheme.
    static QString DownloadLink(const QString &sArchiveName);
    // Sends the e-mail task; sLinkOrName is the download link when
    // bLink is set, otherwise the archive name under which a copy of
    // sArchive is attached (the copy is removed after sending).
    bool SendAsEmail(const TSendTask &oTask, const QString &sTitle, const QString &sVersion,
                     const QString &sArchive, const QString &sLinkOrName, bool bLink);
    // The whole e-mail task: a staging upload under a name of its own and a
    // link when the task asks for it and a staging server is set, an
    // attachment otherwise. The link is tried before it is mailed.
    bool EmailTask(const TSendTask &oTask, const QString &sTitle, const QString &sVersion,
                   const QString &sArchive, const QString &sArchiveName);

    // Whether sLink serves sArchive; a failure line says why when not, and
    // then nobody should be sent the link.
    bool CheckLink(const QString &sLink, const QString &sArchive);

    // The transfers themselves, without result lines, for callers that
    // report in their own words (quick send). They share the clients, the
    // counter lines and the progress fields with the calls above.
    //
    // Copies sSource over sTarget through a temporary file that is renamed
    // at the end; the reason of a failure, empty on success.
    static QString CopyFile(const QString &sSource, const QString &sTarget);
    // Uploads sArchive as sRemoteName to that server; oFTP then holds the
    // server, the names and the error text.
    bool Upload(const TFTPSettings &oServer, const QString &sArchive, const QString &sRemoteName);
    // Uploads sArchive as the object sKey to that S3 storage; oS3 then holds
    // the error text. Skipped() as for Upload.
    bool UploadS3(const TS3Settings &oServer, const QString &sArchive, const QString &sKey);
    // Sends one message through that server; sAttachment (when not empty)
    // goes along as sAttachmentName. Sets FEmailProgress; oSMTP holds the
    // error text.
    bool Mail(const TSMTPSettings &oServer, const QString &sTo, const QString &sSubject, const QString &sBody,
              const QString &sAttachment = QString(), const QString &sAttachmentName = QString());

    // The SSH host keys (unknown or changed) that stopped uploads since the
    // channels were made, each once, for the desktop to offer.
    const QList<TSshHostKey> &HostKeyProblems() const { return FHostKeys; }

    void SetStyle(const TChannelStyle &oStyle)
    {
        FStyle = oStyle;
        FRecords.SetWhere(oStyle.Where);
    }
    const TChannelStyle &Style() const { return FStyle; }

    // The job's cancel flag, for every client of the channels.
    void SetCancelFlag(const std::atomic<bool> *pCancel)
    {
        oFTP.SetCancelFlag(pCancel);
        oSMTP.SetCancelFlag(pCancel);
        oHTTP.SetCancelFlag(pCancel);
        oS3.SetCancelFlag(pCancel);
    }

    // Seconds an e-mail may go without progress before it counts as failed.
    void SetEmailTimeout(int iSeconds) { oSMTP.SetTimeout(iSeconds); }

    // The writes that follow a delivery (log rows, expiry rows, send dates),
    // which wait out another program's lock on the database.
    TDeliveryRecords &Records() { return FRecords; }

    // The last Upload or Mail was not tried: its server (name and port)
    // refused the connection or did not answer earlier with these channels,
    // so the further transfers to it fail at once instead of each waiting
    // for the time-out. A server that answered with an error is tried again.
    bool Skipped() const { return FSkipped; }

    TFTPClient oFTP;
    TSMTPClient oSMTP;
    THTTPClient oHTTP; // the link check
    TS3Client oS3; // staging on S3-compatible storage

    int FEmailProgress = 0; // 0 running, 1 sent, -1 failed
    qint64 FEmailSize = 0; // message bytes handed to the connection so far
    std::uint32_t FSMTPProgress = 0; // earliest tick for the next e-mail counter line
    std::uint32_t FFTPProgress = 0; // the same for FTP

private:
    void FTPProgress(qint64 iBytes);
    // The upload and its result line, for SendAsFTP and SendToStaging.
    bool UploadTo(const TFTPSettings &oServer, const TSendTask *pStagingFor, const QString &sArchive,
                  const QString &sArchiveName);
    // Records the staging upload just made for the e-mail task.
    void RecordStagingUpload(const TSendTask &oTask);
    void SMTPProgress(qint64 iBytes);
    void SMTPDone(bool bSuccess);

    void Diag(const QString &sFormat, std::initializer_list<TFmtArg> args, int iWhy) const;

    TProgressList &FProgress;
    TChannelStyle FStyle;
    qint64 FSMTPLast = 0; // the client's running count at the last block
    QList<TSshHostKey> FHostKeys;
    TDeliveryRecords FRecords;
    QSet<QString> FSilentServers; // ServerKey texts
    bool FSkipped = false;
};

// Milliseconds since an arbitrary fixed start, wrapping like a 32-bit tick count.
std::uint32_t TickCount();
