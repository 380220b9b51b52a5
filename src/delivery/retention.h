#pragma once

#include "delivery/ftpclient.h"

#include <QDateTime>
#include <QObject>

class QTimer;
class TFData;

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

// Records the upload oFTP has just made (host, directory, remote name, login)
// in the retention table with the expiry e-mail task iSendID's
// "EmailRetention" asks for.
void SaveFileExpiry(int iSendID, const TFTPClient &oFTP);
// The same with a period index; one row per host, directory and file name.
void SaveFileExpiry(const TFTPClient &oFTP, int iPeriod);

// Deletes expired staging uploads from their servers and their rows from the
// retention table. Runs on the UI thread; each FTP exchange keeps events
// flowing, so a tick may arrive during a check: it is skipped.
class TExpiryChecker : public QObject
{
    Q_OBJECT

public:
    explicit TExpiryChecker(QObject *parent = nullptr);

    // The timer's handler: switches the first 30 s interval to hourly, then
    // checks every row whose expiry has passed.
    void tmExpireTimer(QTimer *tmExpire);
    bool Running() const { return FRunning; }

    TFTPClient FFTP;

private:
    void Check();

    bool FRunning = false;
};

// Creates the checker (owned by oData) and hooks it to the data module's
// expiry timer.
void InstallExpiryChecker(TFData &oData);
