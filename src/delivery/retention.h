#pragma once

#include "network/ftpclient.h"
#include "network/s3settings.h"

#include <QDateTime>
#include <QObject>

class QTimer;
class TFData;
class TJob;
class TSendTask;

// Retention periods, the index of the choice lists.
enum : int {
    rpDay = 0,
    rpWeek = 1,
    rpMonth = 2,
    rpYear = 3,
    rpForever = 4,
};

// The moment a staging upload made at dtNow expires; invalid for a period
// that keeps the file for ever (4, -1 and any other value). Months and years
// end on the last day of a shorter month (31 January + 1 month = 28/29
// February).
QDateTime RetentionExpiry(const QDateTime &dtNow, int iPeriod);

// Where a staging upload went and how to log in there again: what its
// retention row keeps.
struct TStagingUpload
{
    QString Host;
    QString Directory;
    QString FileName; // the remote name; for S3 the object key
    QString Login;
    QString Password;
    TStagingKind Kind = TStagingKind::Ftp;
    TS3Settings S3; // for S3: where the object went and the key pair

    // The upload oFTP has just made.
    static TStagingUpload Of(const TFTPClient &oFTP);
    // The object sKey just uploaded to oServer.
    static TStagingUpload OfS3(const TS3Settings &oServer, const QString &sKey);
};

// The place of a staging upload as one text to compare: scheme, host name
// in lower case and port (21 for FTP and FTPS, 22 for SFTP when none is
// given), the directory without a trailing "/", and the file name. A host
// the FTP client does not take stays as it was written.
QString StagingPlace(const QString &sHost, const QString &sDirectory, const QString &sFileName);

// Records the staging upload in the retention table with the expiry the
// e-mail task's retention choice asks for (none when it is not a number).
void SaveFileExpiry(const TSendTask &oTask, const TStagingUpload &oUpload);
// The same with a period index; one row per place (StagingPlace).
void SaveFileExpiry(const TStagingUpload &oUpload, int iPeriod);

// Deletes expired staging uploads from their servers (an S3 object with a
// signed DELETE) and their rows from the retention table, and the temporary files of broken-off uploads
// (TFTPClient::IsTemporaryName) older than a day wherever staging uploads
// went and in the staging server's directory. Each check is a background job (its own FTP client and
// database connection); the checker lives on the UI thread.
//
// At most one check runs at a time: a tick during a check is skipped (the
// next tick comes an hour later). A check never overlaps a delivery: a tick
// while a delivery job runs is deferred until the last one has ended, and a
// delivery that starts during a check cancels it (the rows done so far are
// dropped, the rest waits) and the check runs again after the delivery.
class TExpiryChecker : public QObject
{
    Q_OBJECT

public:
    explicit TExpiryChecker(QObject *parent = nullptr);
    // Cancels a running check and waits for it.
    ~TExpiryChecker() override;

    // The timer's handler: switches the first 30 s interval to hourly, then
    // starts a check of every row whose expiry has passed.
    void tmExpireTimer(QTimer *tmExpire);
    // A check job runs.
    bool Running() const { return FJob != nullptr; }
    // A check waits for the end of the running deliveries.
    bool Deferred() const { return FDeferred; }
    // Seconds an FTP exchange of a check may go without progress (15).
    void SetTimeout(int iSeconds) { FTimeout = iSeconds; }

Q_SIGNALS:
    // A check has ended (also a cancelled one).
    void checked();

private:
    void StartCheck();
    void CheckEnded();

    TJob *FJob = nullptr; // a child while it runs
    bool FDeferred = false;
    int FTimeout = 15;
};

// Creates the checker (owned by oData) and hooks it to the data module's
// expiry timer.
void InstallExpiryChecker(TFData &oData);
