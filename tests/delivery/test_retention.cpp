#include "core/daycount.h"
#include "core/threaddb.h"
#include "delivery/retention.h"
#include "deliverydb.h"
#include "support/dblock.h"
#include "support/servers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {

const QString kUser = QStringLiteral("stager");
const QString kPass = QStringLiteral("it's secret");

class Retention : public DeliveryDB
{
protected:
    // Records an upload as the client that made it would.
    void save(int iPeriod, const QString &sHost, const QString &sDir, const QString &sName,
              const QString &sLogin = kUser, int iSendID = 0)
    {
        TFTPClient client;
        client.Host = sHost;
        client.Directory = sDir;
        client.Username = sLogin;
        client.Password = kPass;
        client.RemoteFile = sName;
        if (iSendID)
            SaveFileExpiry(task(iSendID), TStagingUpload::Of(client));
        else
            SaveFileExpiry(TStagingUpload::Of(client), iPeriod);
    }
    int addRow(double dExpiry, const QString &sHost, const QString &sDir, const QString &sName,
               const QString &sPass = kPass)
    {
        db->ExecSQLFmt(
            QStringLiteral("INSERT INTO retention (expiry, host, directory, login, password, filename, "
                           "modified) VALUES (%g, '%s', '%s', '%s', '%s', '%s', DATETIME('NOW'))"),
            { dExpiry, sHost, sDir, SQLEscape(kUser), SQLEscape(sPass), sName });
        return int(db->LastInsertRowID());
    }
    QStringList rowIDs()
    {
        QStringList ids;
        db->GetTableStrings(QStringLiteral("SELECT id FROM retention ORDER BY id"), ids);
        return ids;
    }
    double expiryOf(const QString &sName)
    {
        return db->QueryDoubleFmt(QStringLiteral("SELECT expiry FROM retention WHERE filename = '%s'"),
                                  { sName });
    }
};

QDateTime at(int y, int m, int d, int h = 10, int min = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min));
}

} // namespace

TEST(RetentionExpiry, PeriodsFollowTheCalendar)
{
    EXPECT_EQ(RetentionExpiry(at(2024, 3, 1), 0), at(2024, 3, 2));
    EXPECT_EQ(RetentionExpiry(at(2024, 3, 1), 1), at(2024, 3, 8));
    EXPECT_EQ(RetentionExpiry(at(2024, 1, 31, 23, 59), 2), at(2024, 2, 29, 23, 59));
    EXPECT_EQ(RetentionExpiry(at(2023, 1, 31), 2), at(2023, 2, 28));
    EXPECT_EQ(RetentionExpiry(at(2024, 12, 15), 2), at(2025, 1, 15));
    EXPECT_EQ(RetentionExpiry(at(2024, 2, 29), 3), at(2025, 2, 28));
    EXPECT_EQ(RetentionExpiry(at(2023, 7, 4), 3), at(2024, 7, 4));
    for (int iPeriod : { 4, -1, 5, 99 })
        EXPECT_FALSE(RetentionExpiry(at(2024, 3, 1), iPeriod).isValid()) << iPeriod;
}

TEST_F(Retention, RowsPerPeriodAndOneRowPerPlace)
{
    const double now = NowDays();
    save(0, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("day.zip"));
    save(1, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("week.zip"));
    save(2, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("month.zip"));
    save(4, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("forever.zip"));
    EXPECT_NEAR(expiryOf(QStringLiteral("day.zip")) - now, 1.0, 0.01);
    EXPECT_NEAR(expiryOf(QStringLiteral("week.zip")) - now, 7.0, 0.01);
    const double month = expiryOf(QStringLiteral("month.zip")) - now;
    EXPECT_TRUE(month >= 27.99 && month <= 31.01) << month;
    EXPECT_EQ(retentionCount(), 3);

    // The same name in the same place: one row, the later expiry and login,
    // even when the new expiry is earlier.
    save(0, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("week.zip"),
         QStringLiteral("o'brien"));
    EXPECT_EQ(retentionCount(), 3);
    EXPECT_NEAR(expiryOf(QStringLiteral("week.zip")) - now, 1.0, 0.01);
    EXPECT_EQ(
        db->QueryStringFmt(QStringLiteral("SELECT login FROM retention WHERE filename = 'week.zip'"), {}),
        QStringLiteral("o'brien"));
    // Another directory is another place.
    save(0, QStringLiteral("ftp.example.com"), QStringLiteral("pub"), QStringLiteral("day.zip"));
    EXPECT_EQ(retentionCount(), 4);
    // An upload kept for ever drops the older row of its place (the expiry
    // check would delete the new upload at the old date), and only that row.
    save(4, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("day.zip"));
    EXPECT_EQ(retentionCount(), 3);
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM retention WHERE filename = 'day.zip' "
                                                 "AND directory = 'pub'"),
                                  {}),
              1);
    for (const int iPeriod : { -1, 99 }) {
        save(0, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("again.zip"));
        save(iPeriod, QStringLiteral("ftp.example.com"), QString(), QStringLiteral("again.zip"));
        EXPECT_EQ(retentionCount(), 3) << iPeriod;
    }
}

TEST_F(Retention, TaskPeriodComesFromEmailRetention)
{
    param(3, QStringLiteral("EmailRetention"), QStringLiteral("4"));
    save(0, QStringLiteral("h"), QString(), QStringLiteral("kept.zip")); // an older upload of the name
    param(4, QStringLiteral("EmailRetention"), QStringLiteral("week"));
    const double now = NowDays();
    save(0, QStringLiteral("h"), QString(), QStringLiteral("kept.zip"), kUser, 3);
    save(0, QStringLiteral("h"), QString(), QStringLiteral("notanumber.zip"), kUser, 4);
    save(0, QStringLiteral("h"), QString(), QStringLiteral("norow.zip"), kUser, 5);
    EXPECT_EQ(retentionCount(), 2);
    EXPECT_NEAR(expiryOf(QStringLiteral("notanumber.zip")) - now, 1.0, 0.01);
    EXPECT_NEAR(expiryOf(QStringLiteral("norow.zip")) - now, 1.0, 0.01);
}

TEST(StagingPlace, SchemeHostPortAndDirectoryAreCompared)
{
    const QString place = QStringLiteral("ftp://files.example.org:21\npub\nMyTool.zip");
    const QString name = QStringLiteral("MyTool.zip");
    EXPECT_EQ(StagingPlace(QStringLiteral("files.example.org"), QStringLiteral("pub"), name), place);
    EXPECT_EQ(StagingPlace(QStringLiteral("ftp://Files.Example.org:21/"), QStringLiteral("pub/"), name),
              place);
    EXPECT_EQ(StagingPlace(QStringLiteral(" files.example.org:21 "), QStringLiteral("pub//"), name), place);
    EXPECT_EQ(StagingPlace(QStringLiteral("sftp://files.example.org"), QString(), name),
              QStringLiteral("sftp://files.example.org:22\n\nMyTool.zip"));
    EXPECT_EQ(StagingPlace(QStringLiteral("sftp://files.example.org:22"), QString(), name),
              QStringLiteral("sftp://files.example.org:22\n\nMyTool.zip"));
    EXPECT_EQ(StagingPlace(QStringLiteral("ftps://files.example.org"), QStringLiteral("/"), name),
              QStringLiteral("ftps://files.example.org:21\n/\nMyTool.zip"));
    // Other transports, ports, directories and names are other places.
    EXPECT_NE(StagingPlace(QStringLiteral("ftps://files.example.org"), QStringLiteral("pub"), name), place);
    EXPECT_NE(StagingPlace(QStringLiteral("sftp://files.example.org:21"), QStringLiteral("pub"), name),
              place);
    EXPECT_NE(StagingPlace(QStringLiteral("files.example.org:2121"), QStringLiteral("pub"), name), place);
    EXPECT_NE(StagingPlace(QStringLiteral("files.example.org"), QStringLiteral("/pub"), name), place);
    EXPECT_NE(StagingPlace(QStringLiteral("files.example.org"), QStringLiteral("pub"),
                           QStringLiteral("mytool.zip")),
              place);
    // A host the client would not take stays as written.
    EXPECT_EQ(StagingPlace(QStringLiteral("user@host"), QStringLiteral("pub/"), name),
              QStringLiteral("user@host\npub\nMyTool.zip"));
}

TEST_F(Retention, OneRowPerPlaceHoweverItsHostAndDirectoryWereWritten)
{
    const double now = NowDays();
    addRow(now + 3, QStringLiteral("ftp://files.example.org:21"), QStringLiteral("pub/"),
           QStringLiteral("a.zip"));
    addRow(now + 5, QStringLiteral("FILES.example.org"), QStringLiteral("pub"), QStringLiteral("a.zip"));
    const int other = addRow(now + 5, QStringLiteral("files.example.org"), QStringLiteral("pub"),
                             QStringLiteral("b.zip"));
    // A renewed upload: one row left, with its expiry.
    save(0, QStringLiteral("files.example.org:21"), QStringLiteral("pub"), QStringLiteral("a.zip"));
    EXPECT_EQ(retentionCount(), 2);
    EXPECT_NEAR(expiryOf(QStringLiteral("a.zip")) - now, 1.0, 0.01);

    // Kept for ever: no row of the place is left, whatever its spelling.
    addRow(now - 1, QStringLiteral("ftp://files.example.org"), QStringLiteral("pub//"),
           QStringLiteral("a.zip"));
    save(4, QStringLiteral("files.example.org"), QStringLiteral("pub/"), QStringLiteral("a.zip"));
    EXPECT_EQ(rowIDs(), QStringList { QString::number(other) });
}

class ExpiryCheck : public Retention
{
protected:
    QString home = sandbox.path(QStringLiteral("ftphome"));
    std::unique_ptr<bwtest::FtpServer> server;
    TExpiryChecker checker;

    void SetUp() override
    {
        Retention::SetUp();
        QDir().mkpath(home + QStringLiteral("/staging"));
        server = std::make_unique<bwtest::FtpServer>(kUser, kPass, home);
        startDiag();
    }
    // One tick; returns when the check it started has ended.
    void tick(QTimer *timer)
    {
        QSignalSpy checked(&checker, &TExpiryChecker::checked);
        checker.tmExpireTimer(timer);
        ASSERT_TRUE(checked.wait(60000));
    }
};

TEST_F(ExpiryCheck, DeletesDueFilesAndDropsRowsOfFilesAlreadyGone)
{
    sandbox.writeFile(QStringLiteral("ftphome/staging/due.zip"), "1");
    sandbox.writeFile(QStringLiteral("ftphome/staging/later.zip"), "2");
    const double now = NowDays();
    const int due = addRow(now - 1, server->host(), QStringLiteral("staging"), QStringLiteral("due.zip"));
    const int gone = addRow(now - 0.5, server->host(), QStringLiteral("staging"), QStringLiteral("gone.zip"));
    const int later = addRow(now + 1, server->host(), QStringLiteral("staging"), QStringLiteral("later.zip"));

    QTimer timer;
    timer.setInterval(30000);
    tick(&timer);
    EXPECT_EQ(timer.interval(), 3600000);

    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/staging/due.zip")));
    EXPECT_TRUE(QFile::exists(home + QStringLiteral("/staging/later.zip")));
    EXPECT_EQ(rowIDs(), QStringList { QString::number(later) });
    const QStringList commands = server->commands();
    EXPECT_EQ(commands.filter(QStringLiteral("DELE")), QStringList { QStringLiteral("DELE due.zip") });
    EXPECT_EQ(commands.filter(QStringLiteral("NLST")).size(), 2);
    if (diag) {
        EXPECT_EQ(diagEvents(),
                  QStringList { QStringLiteral("2|TFData|tmExpireTimer deletion: file=due.zip") });
    }
    Q_UNUSED(due);
    Q_UNUSED(gone);

    // Later ticks keep the hourly interval.
    tick(&timer);
    EXPECT_EQ(timer.interval(), 3600000);
}

TEST_F(ExpiryCheck, FailuresLeaveTheirRows)
{
    // A folder has the row's name: listed, but DELE fails.
    QDir().mkpath(home + QStringLiteral("/staging/MyTool_1.zip"));
    const double now = NowDays();
    const int refused = addRow(now - 1, server->host(), QStringLiteral("staging"), QStringLiteral("a.zip"),
                               QStringLiteral("wrong"));
    const int partial
        = addRow(now - 1, server->host(), QStringLiteral("staging"), QStringLiteral("MyTool_1.zip"));
    const int missingDir
        = addRow(now - 1, server->host(), QStringLiteral("nowhere"), QStringLiteral("b.zip"));

    tick(nullptr);
    EXPECT_EQ(
        rowIDs(),
        (QStringList { QString::number(refused), QString::number(partial), QString::number(missingDir) }));
    EXPECT_TRUE(QFileInfo(home + QStringLiteral("/staging/MyTool_1.zip")).isDir());
    if (diag) {
        EXPECT_EQ(
            diagEvents(),
            (QStringList {
                QStringLiteral("1|TFData|tmExpireTimer failure: unable to list files for retention id=%1")
                    .arg(refused),
                QStringLiteral("1|TFData|tmExpireTimer failure: rentention id=%1").arg(partial),
                QStringLiteral("1|TFData|tmExpireTimer failure: unable to list files for retention id=%1")
                    .arg(missingDir),
            }));
    }
}

TEST_F(ExpiryCheck, TickDuringACheckIsSkipped)
{
    const double now = NowDays();
    for (int i = 0; i < 3; ++i)
        addRow(now - 1, server->host(), QStringLiteral("staging"), QStringLiteral("gone%1.zip").arg(i));

    // Ticks arrive while the check waits for the server.
    QTimer timer;
    timer.setInterval(1);
    int nested = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (checker.Running()) {
            ++nested;
            checker.tmExpireTimer(&timer);
        }
    });
    timer.start();
    tick(&timer);
    timer.stop();

    EXPECT_GT(nested, 0);
    EXPECT_FALSE(checker.Running());
    EXPECT_EQ(retentionCount(), 0);
    EXPECT_EQ(server->commands().filter(QStringLiteral("NLST")).size(), 3);
    if (diag) {
        EXPECT_TRUE(diagEvents().isEmpty());
    }
}

// Another program holds the database when the check drops the rows of the
// files it deleted: the check waits, past the busy time-out, and the rows go
// once the lock is free instead of failing until the next hourly check.
TEST_F(ExpiryCheck, RowsOfDeletedFilesGoOnceTheLockIsFree)
{
    if (!diag)
        GTEST_SKIP() << "the wait shows in the diagnostics log, which this build runs without";
    // Readers pass a writer's lock, as the program's connections have it; the
    // check's own connection waits 200 ms before a statement would fail.
    ShareConnection(*db, 200);
    struct TShortBusyWait
    {
        TShortBusyWait() { qputenv("BUNDLEWICK_DB_BUSY_MS", "200"); }
        ~TShortBusyWait() { qunsetenv("BUNDLEWICK_DB_BUSY_MS"); }
    } shortWait;
    sandbox.writeFile(QStringLiteral("ftphome/staging/due.zip"), "1");
    const int due
        = addRow(NowDays() - 1, server->host(), QStringLiteral("staging"), QStringLiteral("due.zip"));

    bwtest::DatabaseLock lock(sandbox.path(QStringLiteral("bundlewick.sqlite")));
    ASSERT_EQ(lock.error(), QString());
    QSignalSpy checked(&checker, &TExpiryChecker::checked);
    checker.tmExpireTimer(nullptr);
    const QString sWaiting
        = QStringLiteral("2|TFData|tmExpireTimer: waiting for the database, which another program is using");
    EXPECT_TRUE(QTest::qWaitFor([&] { return diagEvents().contains(sWaiting); }, 30000))
        << diagEvents().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/staging/due.zip")));
    EXPECT_EQ(rowIDs(), QStringList { QString::number(due) });
    EXPECT_EQ(checked.count(), 0);

    lock.releaseNow();
    EXPECT_TRUE(checked.wait(30000));
    EXPECT_EQ(rowIDs(), QStringList());
    EXPECT_EQ(diagEvents(),
              (QStringList { QStringLiteral("2|TFData|tmExpireTimer deletion: file=due.zip"), sWaiting }));
}

// A staging server that takes the connection and never answers costs the
// check one time-out, not one per row: its other rows wait for the next
// check at once. The rows of a server that answers are still handled.
TEST_F(ExpiryCheck, SilentServerCostsOneTimeOut)
{
    bwtest::SmtpServer::Options options;
    options.stallAtGreeting = true; // a mute TCP server, whatever it is asked
    bwtest::SmtpServer mute(options);
    const QString sMute = QStringLiteral("127.0.0.1:%1").arg(mute.port());
    const double now = NowDays();
    QStringList stay;
    for (const QString &sName : { QStringLiteral("a.zip"), QStringLiteral("b.zip"), QStringLiteral("c.zip") })
        stay << QString::number(addRow(now - 1, sMute, QStringLiteral("staging"), sName));
    addRow(now - 1, server->host(), QStringLiteral("staging"), QStringLiteral("gone.zip"));

    checker.SetTimeout(2);
    QElapsedTimer clock;
    clock.start();
    tick(nullptr);
    const qint64 iElapsed = clock.elapsed();
    std::printf("[ figures  ] expiry check, three rows on a silent server, 2 s time-out: %lld ms\n",
                static_cast<long long>(iElapsed));
    EXPECT_LT(iElapsed, 3900); // one time-out, not three
    EXPECT_EQ(mute.connections(), 1);
    EXPECT_EQ(rowIDs(), stay);
    if (diag) {
        QStringList expected;
        for (const QString &sID : stay)
            expected << QStringLiteral(
                            "1|TFData|tmExpireTimer failure: unable to list files for retention id=")
                    + sID;
        EXPECT_EQ(diagEvents(), expected);
    }
}

TEST_F(ExpiryCheck, FilesArePresentByTheirWholeNameOnly)
{
    sandbox.writeFile(QStringLiteral("ftphome/staging/MyTool_X.zip"), "1");
    sandbox.writeFile(QStringLiteral("ftphome/staging/Tool_X.zip.bak"), "2");
    sandbox.writeFile(QStringLiteral("ftphome/staging/Tool_Y.zip"), "3");
    const double now = NowDays();
    addRow(now - 1, server->host(), QStringLiteral("staging"), QStringLiteral("Tool_X.zip"));
    addRow(now - 1, server->host(), QStringLiteral("staging"), QStringLiteral("Tool_Y.zip"));

    tick(nullptr);
    // Tool_X.zip is gone although longer names hold it: its row goes without a DELE.
    EXPECT_EQ(retentionCount(), 0);
    EXPECT_EQ(server->commands().filter(QStringLiteral("DELE")),
              QStringList { QStringLiteral("DELE Tool_Y.zip") });
    EXPECT_EQ(QDir(home + QStringLiteral("/staging")).entryList(QDir::Files, QDir::Name),
              (QStringList { QStringLiteral("MyTool_X.zip"), QStringLiteral("Tool_X.zip.bak") }));
    if (diag) {
        EXPECT_EQ(diagEvents(),
                  QStringList { QStringLiteral("2|TFData|tmExpireTimer deletion: file=Tool_Y.zip") });
    }
}

TEST_F(ExpiryCheck, UploadKeptForEverOutlivesOlderRowsOfItsPlaceWrittenOtherwise)
{
    sandbox.writeFile(QStringLiteral("ftphome/staging/kept.zip"), "1");
    const double now = NowDays();
    addRow(now - 1, QStringLiteral("ftp://") + server->host(), QStringLiteral("staging/"),
           QStringLiteral("kept.zip"));
    addRow(now - 1, QStringLiteral("FTP://") + server->host() + QStringLiteral("/"),
           QStringLiteral("staging"), QStringLiteral("kept.zip"));
    save(4, server->host(), QStringLiteral("staging"), QStringLiteral("kept.zip"));
    EXPECT_EQ(retentionCount(), 0);

    tick(nullptr);
    EXPECT_TRUE(QFile::exists(home + QStringLiteral("/staging/kept.zip")));
    EXPECT_TRUE(server->commands().filter(QStringLiteral("DELE")).isEmpty());
}

namespace {

void age(const QString &path, int iDays)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        file.setFileTime(QDateTime::currentDateTime().addDays(-iDays), QFileDevice::FileModificationTime));
}

} // namespace

TEST_F(ExpiryCheck, TemporaryFilesOfBrokenUploadsGoWhenADayOld)
{
    // A place that a row (not due yet) names, and the staging server's
    // directory of today.
    QDir().mkpath(home + QStringLiteral("/now"));
    addRow(NowDays() + 5, server->host(), QStringLiteral("staging"), QStringLiteral("later.zip"));
    setting(QStringLiteral("FTP host"), server->host());
    setting(QStringLiteral("FTP directory"), QStringLiteral("now"));
    setting(QStringLiteral("FTP login"), kUser);
    setting(QStringLiteral("FTP password"), kPass);
    const QStringList names {
        QStringLiteral(".bundlewick-0123456789abcdef.part"), // ours, two days old: goes
        QStringLiteral(".bundlewick-fedcba9876543210.part"), // ours, but an hour old
        QStringLiteral(".bundlewick-0123456789abcdef.old"), // an older upload made way: never ours to delete
        QStringLiteral(".bundlewick-upload.part"), // not our naming
        QStringLiteral("report.part"),
    };
    for (const QString &folder : { QStringLiteral("staging"), QStringLiteral("now") }) {
        for (const QString &name : names) {
            const QString path = sandbox.writeFile(QStringLiteral("ftphome/%1/%2").arg(folder, name), "x");
            age(path, name.startsWith(QStringLiteral(".bundlewick-fedcba")) ? 0 : 2);
        }
    }

    tick(nullptr);
    for (const QString &folder : { QStringLiteral("staging"), QStringLiteral("now") }) {
        EXPECT_EQ(QDir(home + QLatin1Char('/') + folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                  (QStringList { QStringLiteral(".bundlewick-0123456789abcdef.old"),
                                 QStringLiteral(".bundlewick-fedcba9876543210.part"),
                                 QStringLiteral(".bundlewick-upload.part"), QStringLiteral("report.part") }))
            << folder.toStdString();
    }
    EXPECT_EQ(retentionCount(), 1);
    if (diag) {
        EXPECT_EQ(
            diagEvents(),
            (QStringList {
                QStringLiteral("2|TFData|tmExpireTimer deletion: file=.bundlewick-0123456789abcdef.part"),
                QStringLiteral("2|TFData|tmExpireTimer deletion: file=.bundlewick-0123456789abcdef.part") }));
    }
}

// The user changed the staging password after an upload; the same archive
// sent again must leave its row with the new login data, or the expiry check
// logs in with the old password and the upload is never deleted.
TEST_F(ExpiryCheck, UploadAgainRefreshesTheRowsLoginAndPassword)
{
    sandbox.writeFile(QStringLiteral("ftphome/staging/MyTool_1.zip"), "1");
    const QString sHost = server->host();
    const auto upload = [&](const QString &sDirectory, const QString &sLogin, const QString &sPassword) {
        TStagingUpload oUpload;
        oUpload.Host = sHost;
        oUpload.Directory = sDirectory;
        oUpload.FileName = QStringLiteral("MyTool_1.zip");
        oUpload.Login = sLogin;
        oUpload.Password = sPassword;
        return oUpload;
    };
    SaveFileExpiry(
        upload(QStringLiteral("staging"), QStringLiteral("olduser"), QStringLiteral("old password")), 1);
    SaveFileExpiry(upload(QStringLiteral("staging/"), kUser, kPass), 1);
    ASSERT_EQ(retentionCount(), 1);
    EXPECT_EQ(db->QueryString(QStringLiteral("SELECT login || '|' || password FROM retention"), {}),
              QStringLiteral("stager|it's secret"));

    db->Exec(QStringLiteral("UPDATE retention SET expiry = ?"), { NowDays() - 1 });
    QTimer timer;
    tick(&timer);
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/staging/MyTool_1.zip")));
    EXPECT_EQ(retentionCount(), 0);
    EXPECT_EQ(server->commands().filter(QStringLiteral("DELE")),
              QStringList { QStringLiteral("DELE MyTool_1.zip") });
}
