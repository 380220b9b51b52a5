#pragma once

#include "archive/zipencryption.h"
#include "delivery/sendtasks.h"

#include <QList>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

// Names of the send-task parameters (the `name` column of sendparams).
namespace SendParam {
// Kind 0, e-mail.
inline const QString EmailRecipient = QStringLiteral("EmailRecipient");
inline const QString EmailSubject = QStringLiteral("EmailSubject");
inline const QString EmailMessage = QStringLiteral("EmailMessage");
inline const QString EmailFTP = QStringLiteral("EmailFTP"); // "1": staging upload and a link
inline const QString EmailRetention = QStringLiteral("EmailRetention"); // 0..4, "-1" none chosen
// Kind 1, copy into a folder.
inline const QString FileFolder = QStringLiteral("FileFolder");
// Kind 2, FTP upload.
inline const QString FTPHost = QStringLiteral("FTPHost");
inline const QString FTPLogin = QStringLiteral("FTPLogin");
inline const QString FTPPassword = QStringLiteral("FTPPassword");
inline const QString FTPDirectory = QStringLiteral("FTPDirectory");
// Every kind: how the password protects the code archive. Tasks stored before
// there was a choice have no such row and keep the traditional scheme.
inline const QString ZipEncryption = QStringLiteral("Zip encryption");
inline const QString ZipEncryptionAes256 = QStringLiteral("aes256");
inline const QString ZipEncryptionTraditional = QStringLiteral("traditional");

// The stored value of a choice, and the choice a stored value means: only
// "aes256" is AES, anything else (no row included) traditional.
QString EncryptionValue(TZipEncryption eEncryption);
TZipEncryption EncryptionOf(const QString &sValue);

// The send editor's texts for a new e-mail task (lines end with CR LF).
QString DefaultSubject();
QString DefaultMessage();
} // namespace SendParam

// One send task: its `send` row (kind, archive password, owner) and its
// parameters, as values that can be edited freely and stored in one go.
//
//   TSendTask task = TSendTask::Load(iSendID).value();
//   task.SetParam(SendParam::FileFolder, sFolder);
//   task.Save();                      // UPDATE of the password, then each parameter
//
//   TSendTask entry(0, skEmail);     // a quick-send address-book entry
//   entry.ZipPassword = sPassword;
//   entry.SetParam(SendParam::EmailRecipient, sRecipient);
//   entry.Save();                     // INSERT; entry.ID is the new id
//
// Database failures raise ESQLiteException.
class TSendTask
{
public:
    TSendTask() = default;
    TSendTask(int iProjectID, int iKind)
        : ProjectID(iProjectID)
        , Kind(iKind)
    { }

    int ID = 0; // send.id; 0 (or less) until the first Save
    int ProjectID = 0; // the owning project; 0 for a quick-send address-book entry
    int Kind = skEmail; // TSendKind; fixed once stored
    QString ZipPassword; // empty: the code archive has no password

    // The value of a parameter; empty when the task has none of that name.
    QString Param(const QString &sName) const;
    bool HasParam(const QString &sName) const;
    // Sets a parameter; a new name goes after the others (that is the order
    // Save writes them in).
    void SetParam(const QString &sName, const QString &sValue);
    // The parameters in the order they were loaded or first set.
    const QList<std::pair<QString, QString>> &Params() const { return FParams; }

    // What the delivery log records as the destination: the recipient, the
    // folder or the FTP host; empty for an unknown kind.
    QString Destination() const;
    // The parameter that holds the destination; empty for an unknown kind.
    static QString DestinationParam(int iKind);
    // The project editor's line for the task: "Email to %s", "File to %s" or
    // "FTP to %s" with the destination, followed by ", AES-256" or
    // ", traditional encryption" when the task has a password; empty for an
    // unknown kind.
    QString ListText() const;
    // How the password protects the code archive ("Zip encryption").
    TZipEncryption Encryption() const { return SendParam::EncryptionOf(Param(SendParam::ZipEncryption)); }
    void SetEncryption(TZipEncryption eEncryption)
    {
        SetParam(SendParam::ZipEncryption, SendParam::EncryptionValue(eEncryption));
    }
    // E-mail task: the archive goes to the staging server and a link into the
    // message (when a staging server is set at all).
    bool UsesStagingFTP() const { return Param(SendParam::EmailFTP) == QLatin1String("1"); }
    // "EmailRetention" as the index of the retention choice; iInvalid when
    // the text is not a number ("-1" stays -1).
    int RetentionIndex(int iInvalid) const;

    // The task with that id and all its parameters; nothing when there is no
    // such row.
    static std::optional<TSendTask> Load(int iSendID);
    // The tasks of a project, in creation order, with their parameters
    // unless bParams is false (LoadParams reads them later).
    static std::vector<TSendTask> LoadProject(int iProjectID, bool bParams = true);
    // Reads the task's parameters (again).
    void LoadParams();
    // A stored task: updates its password; a new one (ID <= 0): inserts its
    // row and sets ID. Then writes every parameter (one row per name).
    void Save();
    // Deletes the task's row and its parameters.
    static void Delete(int iSendID);

    // Quick send's address book: (task id, value) of every parameter named
    // sName whose value is LIKE "%sText%" (ASCII case ignored; "_" and "%"
    // in sText act as wildcards), in the order the database returns them.
    static QList<std::pair<int, QString>> FindParam(const QString &sName, const QString &sText);
    // Whether any task has a parameter sName with exactly this value.
    static bool ParamStored(const QString &sName, const QString &sValue);

    bool operator==(const TSendTask &) const = default;

private:
    QList<std::pair<QString, QString>> FParams;
};
