#include "delivery/retention.h"

#include "core/data/fdata.h"
#include "core/daycount.h"
#include "core/dbwait.h"
#include "core/globals.h"
#include "core/job.h"
#include "core/settingkeys.h"
#include "core/sqlite.h"
#include "core/winutils.h"
#include "delivery/connection.h"
#include "delivery/deliveryjob.h"
#include "diagnostics/orrolog.h"

#include <QFile>
#include <QList>
#include <QSet>
#include <QTimer>

QDateTime RetentionExpiry(const QDateTime &dtNow, int iPeriod)
{
    switch (iPeriod) {
    case rpDay:
        return dtNow.addDays(1);
    case rpWeek:
        return dtNow.addDays(7);
    case rpMonth:
        // Qt keeps the day, or takes the month's last day when it is shorter.
        return QDateTime(dtNow.date().addMonths(1), dtNow.time());
    case rpYear:
        return QDateTime(dtNow.date().addYears(1), dtNow.time());
    default:
        return {};
    }
}

TStagingUpload TStagingUpload::Of(const TFTPClient &oFTP)
{
    return TStagingUpload { oFTP.Host, oFTP.Directory, oFTP.RemoteFile, oFTP.Username, oFTP.Password };
}

void SaveFileExpiry(int iSendID, const TStagingUpload &oUpload)
{
    const QString sPeriod = DB->QueryStringFmt(
        QStringLiteral("SELECT value FROM sendparams WHERE id_send = %d AND name = '%s'"),
        { iSendID, SQLEscape(QStringLiteral("EmailRetention")) });
    bool ok = false;
    int iPeriod = sPeriod.trimmed().toInt(&ok);
    if (!ok)
        iPeriod = 0;
    SaveFileExpiry(oUpload, iPeriod);
}

void SaveFileExpiry(const TStagingUpload &oUpload, int iPeriod)
{
    const QDateTime dtExpiry = RetentionExpiry(QDateTime::currentDateTime(), iPeriod);
    const int iID = DB->QueryIntegerFmt(
        QStringLiteral("SELECT id FROM retention WHERE host = '%s' AND directory = '%s' AND filename = '%s'"),
        { SQLEscape(oUpload.Host), SQLEscape(oUpload.Directory), SQLEscape(oUpload.FileName) });
    if (!dtExpiry.isValid()) {
        // Kept for ever: an older row of the same place would delete the
        // new upload at its old date.
        if (iID != 0)
            DB->ExecSQLFmt(QStringLiteral("DELETE FROM retention WHERE id = %d"), { iID });
        return;
    }
    const double dExpiry = DateTimeToDays(dtExpiry);
    if (iID != 0) {
        DB->ExecSQLFmt(
            QStringLiteral("UPDATE retention SET expiry = %g, login = '%s', password = '%s' WHERE id = %d"),
            { dExpiry, SQLEscape(oUpload.Login), SQLEscape(oUpload.Password), iID });
    } else {
        DB->ExecSQLFmt(QStringLiteral("INSERT INTO retention (id, expiry, host, directory, login, password, "
                                      "filename, modified) VALUES (NULL, %g, '%s', '%s', '%s', '%s', '%s', "
                                      "DATETIME('NOW'))"),
                       { dExpiry, SQLEscape(oUpload.Host), SQLEscape(oUpload.Directory),
                         SQLEscape(oUpload.Login), SQLEscape(oUpload.Password),
                         SQLEscape(oUpload.FileName) });
    }
}

namespace {

const QString kWhere = QStringLiteral("TFData");

void Diag(const QString &sFormat, std::initializer_list<TFmtArg> args, int iWhy)
{
    if (DiagLog)
        DiagLog->LogFmt(kWhere, sFormat, args, iWhy);
}

struct TRetentionRow
{
    int ID = 0;
    QString Host;
    QString Directory;
    QString Login;
    QString Password;
    QString FileName;
};

// One check, on its own thread with its own FTP client.
class TExpiryJob : public TJob
{
public:
    TExpiryJob(int iTimeout, QObject *parent)
        : TJob(parent)
        , FTimeout(iTimeout)
    { }
    ~TExpiryJob() override { Stop(); }

protected:
    void Execute() override;

private:
    void DropDoneRows(const QString &sDone);

    const int FTimeout;
};

// The checker's running job (UI thread).
TJob *g_runningCheck = nullptr;

} // namespace

TJob *RunningExpiryCheck()
{
    return g_runningCheck;
}

TExpiryChecker::TExpiryChecker(QObject *parent)
    : QObject(parent)
{ }

TExpiryChecker::~TExpiryChecker()
{
    if (g_runningCheck == FJob)
        g_runningCheck = nullptr;
    delete FJob; // cancels and joins
}

void TExpiryChecker::tmExpireTimer(QTimer *tmExpire)
{
    if (tmExpire && tmExpire->interval() == 30000)
        tmExpire->setInterval(3600000);
    // Never two checks at once; a check already waiting for a delivery
    // covers this tick too.
    if (FJob || FDeferred)
        return;
    StartCheck();
}

void TExpiryChecker::StartCheck()
{
    FDeferred = false;
    if (FJob)
        return;
    if (RunningDeliveries() > 0) {
        FDeferred = true;
        WhenNoDelivery(this, [this] { StartCheck(); });
        return;
    }
    FJob = new TExpiryJob(FTimeout, this);
    connect(FJob, &TJob::ended, this, &TExpiryChecker::CheckEnded);
    g_runningCheck = FJob;
    FJob->Start();
}

void TExpiryChecker::CheckEnded()
{
    const bool bCancelled = FJob->Cancelled();
    if (!FJob->ErrorText().isEmpty())
        Diag(QStringLiteral("tmExpireTimer error: %s"), { FJob->ErrorText() }, lwError);
    if (g_runningCheck == FJob)
        g_runningCheck = nullptr;
    // Called from the job's own signal: it goes once that has returned.
    FJob->deleteLater();
    FJob = nullptr;
    // A delivery cut the check short: the rest after the delivery.
    if (bCancelled)
        StartCheck();
    Q_EMIT checked();
}

void TExpiryJob::Execute()
{
    // Read every due row first: no cursor stays open across the transfers
    // and the writes.
    QList<TRetentionRow> rows;
    {
        auto table = DB->GetTableFmt(QStringLiteral("SELECT id, host, directory, login, password, filename "
                                                    "FROM retention WHERE expiry <= %g"),
                                     { NowDays() });
        while (table && !table->Eof()) {
            rows.append(TRetentionRow { int(table->FieldAsInteger(0)), table->FieldAsString(1),
                                        table->FieldAsString(2), table->FieldAsString(3),
                                        table->FieldAsString(4), table->FieldAsString(5) });
            table->Next();
        }
    }

    TFTPClient oFTP;
    oFTP.SetTimeout(FTimeout);
    oFTP.SetCancelFlag(&CancelFlag());
    oFTP.CertificatesFile = Setting::TLSCertificates.Get();
    QString sDone;
    // Servers that refused the connection or did not answer in this check:
    // their other rows wait for the next check without another time-out.
    QSet<QString> silentServers;
    for (const TRetentionRow &row : rows) {
        if (Cancelled())
            break;
        const QString sServer = FtpServerKey(row.Host);
        if (silentServers.contains(sServer)) {
            Diag(QStringLiteral("tmExpireTimer failure: unable to list files for retention id=%d"),
                 { row.ID }, lwError);
            continue;
        }
        oFTP.Host = row.Host;
        oFTP.Directory = row.Directory;
        oFTP.Username = row.Login;
        oFTP.Password = row.Password;
        const QString sLocal = TempFileName(QStringLiteral(".txt"));
        if (!oFTP.List(sLocal) || !QFile::exists(sLocal)) {
            if (oFTP.NoAnswer())
                silentServers.insert(sServer);
            if (!Cancelled())
                Diag(QStringLiteral("tmExpireTimer failure: unable to list files for retention id=%d"),
                     { row.ID }, lwError);
            continue;
        }
        const QString sListing = LoadTextFile(sLocal);
        QFile::remove(sLocal);
        if (!sListing.contains(row.FileName, Qt::CaseSensitive)) {
            sDone = SQLFormat(QStringLiteral("%s%d,"), { sDone, row.ID });
            continue;
        }
        if (oFTP.Delete(row.FileName)) {
            Diag(QStringLiteral("tmExpireTimer deletion: file=%s"), { row.FileName }, lwInfo);
            sDone = SQLFormat(QStringLiteral("%s%d,"), { sDone, row.ID });
        } else if (!Cancelled()) {
            if (oFTP.NoAnswer())
                silentServers.insert(sServer);
            Diag(QStringLiteral("tmExpireTimer failure: rentention id=%d"), { row.ID }, lwError);
        }
    }
    if (!sDone.isEmpty()) {
        sDone.chop(1);
        DropDoneRows(sDone);
    }
}

void TExpiryJob::DropDoneRows(const QString &sDone)
{
    // The files are gone from their servers: their rows go as soon as
    // another program lets go of the database, not an hour later. Only a
    // cancel (a delivery starting, the program ending) ends the wait; the
    // next check then finds the files gone.
    TWaitControl control;
    control.pCancel = &CancelFlag();
    control.fnNotice = [] {
        Diag(QStringLiteral("tmExpireTimer: waiting for the database, which another program is using"), {},
             lwInfo);
    };
    const bool bWritten = WaitAndWrite(
        *DB, [&] { DB->ExecSQLFmt(QStringLiteral("DELETE FROM retention WHERE id IN (%s)"), { sDone }); },
        control);
    if (!bWritten)
        Diag(QStringLiteral("tmExpireTimer: the database stayed locked; retention ids %s stay until the next "
                            "check"),
             { sDone }, lwError);
}

void InstallExpiryChecker(TFData &oData)
{
    auto *checker = new TExpiryChecker(&oData);
    TFData *data = &oData;
    oData.OnExpire = [checker, data] { checker->tmExpireTimer(data->tmExpire); };
}
