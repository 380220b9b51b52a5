#include "delivery/retention.h"

#include "core/daycount.h"
#include "core/dbwait.h"
#include "core/globals.h"
#include "core/job.h"
#include "core/settingkeys.h"
#include "core/sqlite.h"
#include "core/textfiles.h"
#include "core/winutils.h"
#include "data/fdata.h"
#include "delivery/connection.h"
#include "delivery/deliverygate.h"
#include "delivery/sendtask.h"
#include "delivery/sendtasks.h"
#include "diagnostics/diaglog.h"
#include "network/s3client.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>
#include <optional>

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
    TStagingUpload upload;
    upload.Host = oFTP.Host;
    upload.Directory = oFTP.Directory;
    upload.FileName = oFTP.RemoteFile;
    upload.Login = oFTP.Username;
    upload.Password = oFTP.Password;
    return upload;
}

TStagingUpload TStagingUpload::OfS3(const TS3Settings &oServer, const QString &sKey)
{
    TStagingUpload upload;
    upload.Host = oServer.Endpoint.trimmed();
    upload.Directory = oServer.Bucket.trimmed();
    upload.FileName = sKey;
    upload.Login = oServer.AccessKeyId.trimmed();
    upload.Password = oServer.SecretKey;
    upload.Kind = TStagingKind::S3;
    upload.S3 = oServer;
    return upload;
}

void SaveFileExpiry(const TSendTask &oTask, const TStagingUpload &oUpload)
{
    SaveFileExpiry(oUpload, oTask.RetentionIndex(0));
}

namespace {

// One row per object: the same endpoint, bucket and key.
void SaveS3Expiry(const TStagingUpload &oUpload, const QDateTime &dtExpiry)
{
    const TS3Settings &s3 = oUpload.S3;
    QList<int> ids;
    {
        auto table = DB->Query(QStringLiteral("SELECT id FROM retention WHERE kind = 1 AND endpoint = ? AND "
                                              "bucket = ? AND objectkey = ? ORDER BY id"),
                               { s3.Endpoint.trimmed(), s3.Bucket.trimmed(), oUpload.FileName });
        for (; table && !table->Eof(); table->Next())
            ids.append(int(table->FieldAsInteger(0)));
    }
    const int iID = dtExpiry.isValid() && !ids.isEmpty() ? ids.takeFirst() : 0;
    for (const int iOld : ids)
        DB->Exec(QStringLiteral("DELETE FROM retention WHERE id = ?"), { iOld });
    if (!dtExpiry.isValid())
        return;
    const double dExpiry = DateTimeToDays(dtExpiry);
    if (iID != 0) {
        DB->Exec(
            QStringLiteral("UPDATE retention SET expiry = ?, login = ?, password = ?, region = ?, "
                           "pathstyle = ? WHERE id = ?"),
            { dExpiry, oUpload.Login, oUpload.Password, s3.RegionOrDefault(), s3.PathStyle ? 1 : 0, iID });
        return;
    }
    DB->Exec(
        QStringLiteral("INSERT INTO retention (id, expiry, host, directory, login, password, filename, "
                       "modified, kind, endpoint, region, bucket, objectkey, pathstyle) VALUES (NULL, ?, ?, "
                       "?, ?, ?, ?, DATETIME('NOW'), 1, ?, ?, ?, ?, ?)"),
        { dExpiry, oUpload.Host, oUpload.Directory, oUpload.Login, oUpload.Password, oUpload.FileName,
          s3.Endpoint.trimmed(), s3.RegionOrDefault(), s3.Bucket.trimmed(), oUpload.FileName,
          s3.PathStyle ? 1 : 0 });
}

} // namespace

QString StagingPlace(const QString &sHost, const QString &sDirectory, const QString &sFileName)
{
    QString sServer = sHost;
    TFtpTransport transport;
    QString sName;
    int iPort = 0;
    if (TFTPClient::SplitHost(sHost, transport, sName, iPort)) {
        const QString sScheme = transport == TFtpTransport::Sftp ? QStringLiteral("sftp")
            : transport == TFtpTransport::Ftps                   ? QStringLiteral("ftps")
                                                                 : QStringLiteral("ftp");
        sServer = QStringLiteral("%1://%2:%3").arg(sScheme, sName.toLower()).arg(iPort);
    }
    QString sDir = sDirectory;
    while (sDir.size() > 1 && sDir.endsWith(QLatin1Char('/')))
        sDir.chop(1);
    // No line break gets into a host, directory or file name the client takes.
    return sServer + QLatin1Char('\n') + sDir + QLatin1Char('\n') + sFileName;
}

void SaveFileExpiry(const TStagingUpload &oUpload, int iPeriod)
{
    const QDateTime dtExpiry = RetentionExpiry(QDateTime::currentDateTime(), iPeriod);
    if (oUpload.Kind == TStagingKind::S3) {
        SaveS3Expiry(oUpload, dtExpiry);
        return;
    }
    // The rows of this place, however their host and directory were written
    // ("ftp://host:21/" or "host", "dir/" or "dir").
    const QString sPlace = StagingPlace(oUpload.Host, oUpload.Directory, oUpload.FileName);
    QList<int> ids;
    {
        auto table = DB->Query(
            QStringLiteral(
                "SELECT id, host, directory FROM retention WHERE filename = ? AND kind = 0 ORDER BY id"),
            { oUpload.FileName });
        while (table && !table->Eof()) {
            if (StagingPlace(table->FieldAsString(1), table->FieldAsString(2), oUpload.FileName) == sPlace)
                ids.append(int(table->FieldAsInteger(0)));
            table->Next();
        }
    }
    // One row per place: with the new upload's expiry, or none at all when
    // it is kept for ever (an older row would delete it at the old date).
    const int iID = dtExpiry.isValid() && !ids.isEmpty() ? ids.takeFirst() : 0;
    for (const int iOld : ids)
        DB->Exec(QStringLiteral("DELETE FROM retention WHERE id = ?"), { iOld });
    if (!dtExpiry.isValid())
        return;
    const double dExpiry = DateTimeToDays(dtExpiry);
    if (iID != 0) {
        DB->Exec(QStringLiteral("UPDATE retention SET expiry = ?, login = ?, password = ? WHERE id = ?"),
                 { dExpiry, oUpload.Login, oUpload.Password, iID });
    } else {
        DB->Exec(
            QStringLiteral("INSERT INTO retention (id, expiry, host, directory, login, password, "
                           "filename, modified) VALUES (NULL, ?, ?, ?, ?, ?, ?, DATETIME('NOW'))"),
            { dExpiry, oUpload.Host, oUpload.Directory, oUpload.Login, oUpload.Password, oUpload.FileName });
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

// A row of an S3 upload: the object and how to reach it.
struct TS3Row
{
    int ID = 0;
    TS3Settings Server;
    QString Key;
};

// The place of a row with the login that reaches it.
QString PlaceAndLogin(const TRetentionRow &row)
{
    return StagingPlace(row.Host, row.Directory, {}) + QLatin1Char('\n') + row.Login + QLatin1Char('\n')
        + row.Password;
}

// The names of a listing, one a line; a server that names each file with
// its folder ("dir/name") gives the same names.
QStringList ListedNames(const QString &sListing)
{
    QStringList names;
    for (QString sLine : sListing.split(QLatin1Char('\n'))) {
        if (sLine.endsWith(QLatin1Char('\r')))
            sLine.chop(1);
        const qsizetype iSlash = sLine.lastIndexOf(QLatin1Char('/'));
        if (iSlash >= 0)
            sLine.remove(0, iSlash + 1);
        if (!sLine.isEmpty())
            names.append(sLine);
    }
    return names;
}

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
    // Deletes the due S3 objects; their ids go to sDone.
    void DeleteS3Objects(const QList<TS3Row> &rows, QString &sDone);

    const int FTimeout;
};

} // namespace

TExpiryChecker::TExpiryChecker(QObject *parent)
    : QObject(parent)
{ }

TExpiryChecker::~TExpiryChecker()
{
    if (RunningExpiryCheck() == FJob)
        SetRunningExpiryCheck(nullptr);
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
    SetRunningExpiryCheck(FJob);
    FJob->Start();
}

void TExpiryChecker::CheckEnded()
{
    const bool bCancelled = FJob->Cancelled();
    if (!FJob->ErrorText().isEmpty())
        Diag(QStringLiteral("tmExpireTimer error: %s"), { FJob->ErrorText() }, lwError);
    if (RunningExpiryCheck() == FJob)
        SetRunningExpiryCheck(nullptr);
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
    // Read every row first: no cursor stays open across the transfers and
    // the writes. Due rows are deleted; every row's place is swept.
    QList<TRetentionRow> rows;
    QList<TRetentionRow> places;
    QList<TS3Row> s3Rows;
    const double dNow = NowDays();
    const QString sCertificates = Setting::TLSCertificates.Get();
    {
        auto table = DB->GetTable(
            QStringLiteral("SELECT id, host, directory, login, password, filename, expiry, kind, endpoint, "
                           "region, bucket, objectkey, pathstyle FROM retention"));
        while (table && !table->Eof()) {
            const bool bDue = table->FieldAsDouble(6) <= dNow;
            if (table->FieldAsInteger(7) == int(TStagingKind::S3)) {
                // S3 objects are deleted by key; there are no leftovers to sweep.
                TS3Row row;
                row.ID = int(table->FieldAsInteger(0));
                row.Server.AccessKeyId = table->FieldAsString(3);
                row.Server.SecretKey = table->FieldAsString(4);
                row.Server.Endpoint = table->FieldAsString(8);
                row.Server.Region = table->FieldAsString(9);
                row.Server.Bucket = table->FieldAsString(10);
                row.Key = table->FieldAsString(11);
                row.Server.PathStyle = table->FieldAsInteger(12) != 0;
                row.Server.CertificatesFile = sCertificates;
                if (bDue)
                    s3Rows.append(row);
                table->Next();
                continue;
            }
            const TRetentionRow row { int(table->FieldAsInteger(0)), table->FieldAsString(1),
                                      table->FieldAsString(2),       table->FieldAsString(3),
                                      table->FieldAsString(4),       table->FieldAsString(5) };
            if (bDue)
                rows.append(row);
            places.append(row);
            table->Next();
        }
    }
    const TFTPSettings staging = TFTPSettings::Staging();
    if (!staging.Host.isEmpty())
        places.append(
            TRetentionRow { 0, staging.Host, staging.Directory, staging.Username, staging.Password, {} });

    TFTPClient oFTP;
    oFTP.SetTimeout(FTimeout);
    oFTP.SetCancelFlag(&CancelFlag());
    oFTP.CertificatesFile = Setting::TLSCertificates.Get();
    // The latest listing of this check by place and login; empty for one
    // that failed. Each due row lists afresh (its file may have gone
    // meanwhile); the sweep takes what the rows listed.
    QHash<QString, std::optional<QStringList>> listings;
    // Servers that refused the connection or did not answer in this check:
    // their other rows wait for the next check without another time-out.
    QSet<QString> silentServers;
    const auto listingOf = [&](const TRetentionRow &row, bool bFresh) -> std::optional<QStringList> {
        const QString sKey = PlaceAndLogin(row);
        const auto known = listings.constFind(sKey);
        if (!bFresh && known != listings.cend())
            return *known;
        if (silentServers.contains(FtpServerKey(row.Host)))
            return std::nullopt;
        oFTP.Host = row.Host;
        oFTP.Directory = row.Directory;
        oFTP.Username = row.Login;
        oFTP.Password = row.Password;
        const QString sLocal = TempFileName(QStringLiteral(".txt"));
        std::optional<QStringList> names;
        if (oFTP.List(sLocal) && QFile::exists(sLocal))
            names = ListedNames(LoadTextFile(sLocal));
        else if (oFTP.NoAnswer())
            silentServers.insert(FtpServerKey(row.Host));
        QFile::remove(sLocal);
        if (!Cancelled())
            listings.insert(sKey, names);
        return names;
    };

    QString sDone;
    for (const TRetentionRow &row : rows) {
        if (Cancelled())
            break;
        const std::optional<QStringList> names = listingOf(row, true);
        if (!names) {
            if (!Cancelled())
                Diag(QStringLiteral("tmExpireTimer failure: unable to list files for retention id=%d"),
                     { row.ID }, lwError);
            continue;
        }
        // The whole name: "Tool_1.zip" is gone even while "MyTool_1.zip" is there.
        if (!names->contains(row.FileName)) {
            sDone = SQLFormat(QStringLiteral("%s%d,"), { sDone, row.ID });
            continue;
        }
        if (oFTP.Delete(row.FileName)) {
            Diag(QStringLiteral("tmExpireTimer deletion: file=%s"), { row.FileName }, lwInfo);
            sDone = SQLFormat(QStringLiteral("%s%d,"), { sDone, row.ID });
        } else if (!Cancelled()) {
            if (oFTP.NoAnswer())
                silentServers.insert(FtpServerKey(row.Host));
            Diag(QStringLiteral("tmExpireTimer failure: rentention id=%d"), { row.ID }, lwError);
        }
    }
    DeleteS3Objects(s3Rows, sDone);
    if (!sDone.isEmpty()) {
        sDone.chop(1);
        DropDoneRows(sDone);
    }

    // Uploads that broke off leave their temporary file when the server
    // could not be asked to delete it; a day later no upload still runs.
    const QDateTime dtOld = QDateTime::currentDateTimeUtc().addDays(-1);
    QSet<QString> swept;
    for (const TRetentionRow &place : std::as_const(places)) {
        if (Cancelled())
            break;
        const QString sKey = PlaceAndLogin(place);
        if (swept.contains(sKey))
            continue;
        swept.insert(sKey);
        const bool bListed = listings.contains(sKey);
        const std::optional<QStringList> names = listingOf(place, false);
        if (!names) {
            // A failure of the rows above is in the diagnostics already.
            if (!bListed && !Cancelled())
                Diag(QStringLiteral("tmExpireTimer failure: unable to list files of %s for leftover uploads"),
                     { place.Host + QLatin1Char(' ') + place.Directory }, lwError);
            continue;
        }
        oFTP.Host = place.Host;
        oFTP.Directory = place.Directory;
        oFTP.Username = place.Login;
        oFTP.Password = place.Password;
        for (const QString &sName : *names) {
            if (Cancelled())
                break;
            if (!TFTPClient::IsTemporaryName(sName))
                continue;
            QDateTime dtTime;
            if (!oFTP.GetFileTime(sName, dtTime) || dtTime >= dtOld)
                continue;
            if (oFTP.Delete(sName))
                Diag(QStringLiteral("tmExpireTimer deletion: file=%s"), { sName }, lwInfo);
            else if (!Cancelled())
                Diag(QStringLiteral("tmExpireTimer failure: leftover file=%s"), { sName }, lwError);
        }
    }
}

void TExpiryJob::DeleteS3Objects(const QList<TS3Row> &rows, QString &sDone)
{
    TS3Client oS3;
    oS3.SetTimeout(FTimeout);
    oS3.SetCancelFlag(&CancelFlag());
    // An endpoint that did not answer is not asked again in this check.
    QSet<QString> silentEndpoints;
    for (const TS3Row &row : rows) {
        if (Cancelled())
            break;
        const QString sEndpoint = row.Server.Endpoint.trimmed().toLower();
        if (silentEndpoints.contains(sEndpoint))
            continue;
        oS3.Server = row.Server;
        // S3 answers a delete of a key that is gone with success as well.
        if (oS3.Delete(row.Key)) {
            Diag(QStringLiteral("tmExpireTimer deletion: object=%s"), { row.Key }, lwInfo);
            sDone = SQLFormat(QStringLiteral("%s%d,"), { sDone, row.ID });
        } else if (!Cancelled()) {
            if (oS3.NoAnswer())
                silentEndpoints.insert(sEndpoint);
            Diag(QStringLiteral("tmExpireTimer failure: retention id=%d: %s"), { row.ID, oS3.ErrorText() },
                 lwError);
        }
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
        *DB,
        [&] {
            TTransaction transaction(*DB);
            for (const QString &sID : sDone.split(QLatin1Char(',')))
                DB->Exec(QStringLiteral("DELETE FROM retention WHERE id = ?"), { sID.toInt() });
            transaction.Commit();
        },
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
