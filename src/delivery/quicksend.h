#pragma once

#include "archive/zipengine.h"
#include "core/job.h"
#include "delivery/channels.h"
#include "delivery/sendtasks.h"

#include <QList>
#include <QString>
#include <QStringList>

class TProgressList;

// Quick send: files that were dropped on the program go out at once, by
// e-mail, into a folder or to an FTP server, without a project. Several
// files travel as "files.zip" inside an archive of the user's name; one
// file goes as itself or zipped. Recipients and FTP servers are remembered
// as address-book entries (send rows of no project) and suggested again.

// Everything the quick-send dialog asks for, as the sending reads it.
struct TQuickSendOrder
{
    QStringList Files; // the ticked paths, in list order
    bool Zip = false; // one file: zip it (more files are always zipped)
    QString ZipName; // the archive's name as typed, without ".zip"
    QString ZipPassword; // empty: no password
    // How the password protects it; the dialog offers AES-256 first.
    TZipEncryption ZipEncryption = TZipEncryption::Traditional;
    int Page = skEmail; // TSendKind of the page the dialog shows

    QString Recipient;
    QString Subject;
    QString Message; // lines ended by CR LF
    bool UseStaging = false; // "Use your FTP server" ticked
    int Retention = 0; // index of the retention choice; -1 none

    QString Folder;

    QString FTPHost;
    QString FTPDirectory;
    QString FTPLogin;
    QString FTPPassword;

    // Whether the files go into an archive of ZipName.
    bool Zipped() const { return Files.size() != 1 || Zip; }
    // What the delivery log records as the destination.
    QString Destination() const;
};

// A value offered by the recipient or FTP host box, with the address-book
// entry or send task it came from.
struct TQuickSuggestion
{
    QString Value;
    int SendID = 0;
    bool operator==(const TQuickSuggestion &) const = default;
};

// What picking a recipient suggestion fills in.
struct TQuickRecipientPick
{
    QString ZipPassword;
    TZipEncryption ZipEncryption = TZipEncryption::Traditional;
    bool UseStaging = false;
    int Retention = 1;
};

// What picking an FTP host suggestion fills in.
struct TQuickHostPick
{
    QString Directory;
    QString Login;
    QString Password;
    QString ZipPassword;
    TZipEncryption ZipEncryption = TZipEncryption::Traditional;
};

namespace QuickSend {

// Every character but ASCII letters, digits, "_", "-" and "." becomes "_".
QString CleanName(const QString &sName);
// The file-name part of a path: the text after its last "/".
QString DisplayName(const QString &sPath);
// The name each file gets inside "files.zip": its bare name, except that a
// name an earlier different file already took (compared without regard to
// case, as many extractors do) gets a number: "notes (2).txt". The same path
// listed twice keeps one name.
QStringList EntryNames(const QStringList &oFiles);

// Whether Send can go: files are ticked, an archive has a name, and the page
// has what it needs (e-mail: the SMTP settings, a valid recipient or a
// picked suggestion, a subject and a message; file: an existing folder; FTP:
// a host).
bool Ready(const TQuickSendOrder &oOrder, bool bRecipientPicked);
// Why Send cannot go, as a short instruction ("Enter an FTP host"); empty
// when it can.
QString WhyNotReady(const TQuickSendOrder &oOrder, bool bRecipientPicked);

// The distinct values (trimmed, compared without regard to case, in the
// order the database returns them) of the parameter sParam that contain
// sText, from project send tasks and address-book entries alike.
QList<TQuickSuggestion> Suggestions(const QString &sParam, const QString &sText);
TQuickRecipientPick PickRecipient(int iSendID);
TQuickHostPick PickHost(int iSendID);
// Where a picked suggestion's archive password comes from, for the note
// under the password field: "Password from the task of \"Tool\"", or of an
// earlier quick send.
QString PasswordSource(int iSendID);

// Adds an address-book entry for the recipient (e-mail page) or the FTP
// server (FTP page), with the archive's password and encryption, unless a send parameter already holds
// exactly that recipient or host. True when an entry was added.
bool Remember(const TQuickSendOrder &oOrder);

} // namespace QuickSend

// Zips and sends one quick send, on the calling thread, and writes its
// delivery log row. Reports to the progress list: "Zipped 2 files", the
// channel's result line, "Quick send successful" or "!Quick send failed".
class TQuickSender
{
public:
    TQuickSender(const TQuickSendOrder &oOrder, TProgressList &oProgress);
    TQuickSender(const TQuickSender &) = delete;
    TQuickSender &operator=(const TQuickSender &) = delete;

    // Every transfer fails at once when the flag is set.
    void SetCancelFlag(const std::atomic<bool> *pCancel);
    // Runs everything; true when the file arrived.
    bool Run();

    // The file delivered (an archive in the run folder, or the user's file)
    // and the name it is delivered under.
    const QString &OutputFile() const { return FOutputFile; }
    const QString &DeliverFile() const { return FDeliverFile; }
    // The SSH host keys that stopped the upload (unknown or changed).
    const QList<TSshHostKey> &HostKeyProblems() const { return FChannels.HostKeyProblems(); }

private:
    void Prepare();
    QString BuildFilesZip();
    QString SingleFileArchive(const QString &sFile, const QString &sEntryName);
    bool RunZip();
    void ZipError(const QString &sMessage);

    bool SendEmail();
    bool SendFile();
    bool SendFTP();
    bool SendUserFTP(const QString &sRemoteName);
    void Diag(const QString &sFormat, std::initializer_list<TFmtArg> args, int iWhy) const;

    TQuickSendOrder FOrder;
    TProgressList &FProgress;
    TDeliveryChannels FChannels;
    TZipEngine oZip;
    QString FOutputFile;
    QString FDeliverFile;
};

// A quick send as a background job: TQuickSender on the job's thread, its
// lines replayed on the owner's progress list. Like a delivery job it never
// overlaps an expiry check. Cancel() (or destroying the job) makes the
// running transfer fail at once.
class TQuickSendJob : public TJob
{
    Q_OBJECT

public:
    TQuickSendJob(const TQuickSendOrder &oOrder, TProgressList &oProgress, QObject *parent = nullptr);
    ~TQuickSendJob() override;

    // Starts the work (at once, or once a running expiry check has ended).
    void Run();
    // Valid after finished().
    bool Success() const { return FSuccess; }
    // After finished(): the SSH host keys that stopped the upload, for the
    // window to offer.
    const QList<TSshHostKey> &HostKeyProblems() const { return FHostKeys; }

Q_SIGNALS:
    // The work is over: the file arrived or not (an error that escaped the
    // work counts as a failure; ErrorText() tells it).
    void finished(bool bSuccess);

protected:
    void Execute() override;
    void Completed() override;

private:
    void Launch();
    void EndCount();

    TQuickSendOrder FOrder;
    TProgressList &FProgress;
    bool FSuccess = false;
    bool FThreadSuccess = false; // written on the job's thread, read after the join
    QList<TSshHostKey> FThreadHostKeys; // the same
    QList<TSshHostKey> FHostKeys;
    bool FCounted = false;
};
