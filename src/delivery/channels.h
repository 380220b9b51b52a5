#pragma once

#include "delivery/ftpclient.h"
#include "delivery/smtpclient.h"

#include <QString>
#include <cstdint>

class TProgressList;

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

    // Copies the archive into the task's "FileFolder" as sArchiveName; a
    // failure line gives the reason.
    bool SendAsFile(int iSendID, const QString &sArchive, const QString &sArchiveName);
    // Uploads the archive as sArchiveName. A negative id uploads to the
    // staging server of the settings for the e-mail task -iSendID and records
    // the upload for expiry; a positive one uses FTP task iSendID's server.
    bool SendAsFTP(int iSendID, const QString &sArchive, const QString &sArchiveName);
    // The web address of a staging upload: "FTP http path" joined with the
    // name, "http://" put in front when it has no http(s) scheme.
    static QString DownloadLink(const QString &sArchiveName);
    // Sends e-mail task iSendID; sLinkOrName is the download link when
    // bLink is set, otherwise the archive name under which a copy of
    // sArchive is attached (the copy is removed after sending).
    bool SendAsEmail(int iSendID, const QString &sTitle, const QString &sVersion, const QString &sArchive,
                     const QString &sLinkOrName, bool bLink);
    // The whole e-mail task: a staging upload and a link when the task asks
    // for it and a staging server is set, an attachment otherwise.
    bool EmailTask(int iSendID, const QString &sTitle, const QString &sVersion, const QString &sArchive,
                   const QString &sArchiveName);

    // Seconds an e-mail may go without progress before it counts as failed.
    void SetEmailTimeout(int iSeconds) { oSMTP.SetTimeout(iSeconds); }

    TFTPClient oFTP;
    TSMTPClient oSMTP;

    int FEmailProgress = 0; // 0 running, 1 sent, -1 failed
    qint64 FEmailSize = 0; // message bytes handed to the connection so far
    std::uint32_t FSMTPProgress = 0; // earliest tick for the next e-mail counter line
    std::uint32_t FFTPProgress = 0; // the same for FTP

private:
    void FTPProgress(qint64 iBytes);
    void SMTPProgress(qint64 iBytes);
    void SMTPDone(bool bSuccess);

    TProgressList &FProgress;
    qint64 FSMTPLast = 0; // the client's running count at the last block
};

// Milliseconds since an arbitrary fixed start, wrapping like a 32-bit tick count.
std::uint32_t TickCount();
