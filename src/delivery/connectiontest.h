#pragma once

#include "core/job.h"
#include "delivery/connection.h"
#include "network/smtpclient.h"
#include "network/sshhostkey.h"

#include <QList>
#include <QString>
#include <cstdint>

// One e-mail sent over SMTP values given in advance (the settings view's
// fields as typed, or the stored settings), as a background job: the
// settings view's test message and the support message. Destroying the job
// mid-send cancels the transfer and waits for the thread.
class TSendMailJob : public TJob
{
    Q_OBJECT

public:
    TSendMailJob(const TSMTPSettings &oSMTP, const QString &sRecipient, QObject *parent = nullptr);
    ~TSendMailJob() override;

    QString Subject;
    QString Body;
    QList<TMailAttachment> Attachments;
    // With a name, a failure goes to the diagnostics log from there as
    // "oSMTPRequestDone error: %s" (why 1).
    QString DiagWhere;

    const QString &Recipient() const { return FRecipient; }
    // After ended(): whether the message went, and the client's error text.
    bool Success() const { return FSuccess; }
    const QString &SMTPError() const { return FSMTPError; }

    // The settings view's test message.
    static QString TestSubject();
    static QString TestBody();
    static QString TestSuccessText(const QString &sRecipient);
    static QString TestFailureText(const QString &sRecipient, const QString &sError);

protected:
    void Execute() override;
    void Completed() override;

private:
    TSMTPSettings FSMTP;
    QString FRecipient;
    // Written on the job's thread, read after the join.
    bool FThreadSuccess = false;
    QString FThreadError;
    bool FSuccess = false;
    QString FSMTPError;
};

// One line of the FTP test's action list.
struct TTestLine
{
    QString sText; // "!" in front: a failure
    bool bProgress = false; // "FTP progress: n", replaced by the next one
};

// The staging server test as a background job: create a test file, upload
// it by FTP (or to the S3 storage, RunS3RoundTrip, when the staging kind is
// S3), download it over HTTP, compare the two and delete the upload,
// one line per step; a failed step ends the run. The lines are kept on the
// owner's side, in order: a progress line replaces the previous line when
// that is one too, any other line goes below.
//
// Abort() stops the run after the running step; destroying the job also
// cancels the running transfer and waits for the thread.
class TFTPTestJob : public TJob
{
    Q_OBJECT

public:
    explicit TFTPTestJob(const TStagingSettings &oStaging, QObject *parent = nullptr);
    ~TFTPTestJob() override;

    const QList<TTestLine> &Lines() const { return FLines; }
    // After ended(): all five steps succeeded.
    bool Success() const { return FSuccess; }
    // The local test file (uploaded), the downloaded copy, the remote name.
    const QString &FileOne() const { return FFileOne; }
    const QString &FileTwo() const { return FFileTwo; }
    QString RemoteName() const;
    // The web address the test file is downloaded from.
    QString DownloadAddress() const;
    // After ended(): the SSH host key that stopped the upload (unknown or
    // changed), for the window to offer; invalid otherwise.
    const TSshHostKey &HostKeyProblem() const { return FHostKey; }

    // The text written into the test file (without its line break).
    static QString TestFileText();

Q_SIGNALS:
    void lineAppended(int iIndex);
    void lineChanged(int iIndex);

protected:
    void Execute() override;
    void Completed() override;

private:
    bool Steps();
    // On the job's thread: hands a line to the owner.
    void Line(const QString &sText, bool bProgress = false);
    void AddLine(const TTestLine &line);
    void FTPProgress(qint64 iBytes);

    TStagingSettings FStaging;
    QString FVersion;
    QString FFileOne;
    QString FFileTwo;
    std::uint32_t FFTPProgress = 0; // job's thread: earliest tick of the next progress line
    bool FThreadSuccess = false;
    TSshHostKey FThreadHostKey; // written on the job's thread, read after the join
    bool FSuccess = false;
    TSshHostKey FHostKey;
    QList<TTestLine> FLines;
};
