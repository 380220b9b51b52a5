#include "../projects/projectdb.h"
#include "core/job.h"
#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/threaddb.h"
#include "delivery/deliverygate.h"
#include "delivery/deliveryjob.h"
#include "delivery/retention.h"
#include "delivery/sendtasks.h"
#include "projects/project.h"
#include "support/dblock.h"
#include "support/servers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kUser = u"uploader"_s;
const QString kPass = u"pa55"_s;

class DeliveryJob : public ProjectDB
{
protected:
    TProgressList progress; // the owner's list, as a window holds it
    std::vector<std::unique_ptr<TProject>> projects;

    void SetUp() override
    {
        ProjectDB::SetUp();
        // As the data module does with its connection.
        ShareConnection(*db);
    }

    TProject *project(const QString &sTitle, const QList<std::pair<QString, QByteArray>> &files)
    {
        const int id = addProject(pkGeneric, sTitle);
        for (const auto &[name, bytes] : files)
            addEntry(id, file(sTitle + u"/"_s + name, bytes));
        projects.push_back(CreateProject(pkGeneric, id, sTitle, QString()));
        projects.back()->Parse();
        return projects.back().get();
    }
    TProject *project(const QString &sTitle) { return project(sTitle, { { u"a.txt"_s, "text" } }); }
    int task(const TProject *p, int iKind)
    {
        db->ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword, modified) "
                       "VALUES (%d, %d, '', DATETIME('NOW'))"_s,
                       { p->ProjectID(), iKind });
        return int(db->LastInsertRowID());
    }
    int fileTask(const TProject *p, const QString &sFolder, bool bMissing = false)
    {
        const QString sPath = sandbox.path(sFolder);
        if (!bMissing)
            QDir().mkpath(sPath);
        const int id = task(p, skFile);
        SetSendParam(id, u"FileFolder"_s, sPath);
        return id;
    }
    int ftpTask(const TProject *p, const QString &sHost)
    {
        const int id = task(p, skFTP);
        SetSendParam(id, u"FTPHost"_s, sHost);
        SetSendParam(id, u"FTPLogin"_s, kUser);
        SetSendParam(id, u"FTPPassword"_s, kPass);
        return id;
    }
    QStringList lines() const
    {
        QStringList out;
        for (const TProgressLine &line : progress.Lines())
            out << line.sText;
        return out;
    }
    QString sendDate(const TProject *p)
    {
        return db->QueryStringFmt(u"SELECT IFNULL(senddate, 'NULL') FROM projects WHERE id = %d"_s,
                                  { p->ProjectID() });
    }
    static bool waitEnded(TJob &job)
    {
        if (job.Ended())
            return true;
        QSignalSpy ended(&job, &TJob::ended);
        return ended.wait(120000);
    }
};

} // namespace

TEST_F(DeliveryJob, LinesReachTheOwnerInOrderThenTheResult)
{
    TProject *good = project(u"Good"_s);
    TProject *bad = project(u"Bad One"_s);
    fileTask(good, u"out"_s);
    fileTask(bad, u"nowhere"_s, true);

    TDeliveryJob job({ good, bad }, progress);
    QStringList events;
    bool bOwnerThread = true;
    const auto onOwner = [&] { bOwnerThread = bOwnerThread && QThread::currentThread() == qApp->thread(); };
    QObject::connect(&progress, &TProgressList::lineAppended, [&](int i) {
        onOwner();
        events << u"line "_s + progress.Lines().at(i).sText;
    });
    QObject::connect(&job, &TDeliveryJob::stateChanged, [&] {
        onOwner();
        events << u"state"_s;
    });
    QObject::connect(&job, &TDeliveryJob::finished, [&](const TRunResult &result) {
        onOwner();
        events << u"finished %1/%2"_s.arg(result.iDelivered).arg(result.iFailed);
    });
    QObject::connect(&job, &TJob::ended, [&] { events << u"ended"_s; });

    job.Run();
    EXPECT_TRUE(job.Running());
    EXPECT_FALSE(job.CanClose());
    EXPECT_EQ(RunningDeliveries(), 1);
    ASSERT_TRUE(waitEnded(job));

    ASSERT_EQ(events.size(), 14) << events.join(u'|').toStdString();
    EXPECT_EQ(events.mid(0, 2), QStringList({ u"line Good"_s, u"line   Zipped 1 file"_s }));
    EXPECT_TRUE(events[2].startsWith(u"line   Output saved to Good_"_s));
    EXPECT_EQ(
        events.mid(3, 4),
        QStringList({ u"line   Success"_s, u"line  "_s, u"line Bad One"_s, u"line   Zipped 1 file"_s }));
    EXPECT_TRUE(events[7].startsWith(u"line !  Unable to save output BadOne_"_s));
    EXPECT_EQ(events.mid(8),
              QStringList({ u"line !  Fail"_s, u"line  "_s, u"line Generation complete."_s, u"state"_s,
                            u"finished 1/1"_s, u"ended"_s }));
    EXPECT_TRUE(bOwnerThread);
    EXPECT_TRUE(job.CanClose());
    EXPECT_FALSE(job.Running());
    EXPECT_TRUE(job.ErrorText().isEmpty());
    EXPECT_EQ(RunningDeliveries(), 0);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log WHERE success = 1"_s), 1);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log WHERE success = 0"_s), 1);
    EXPECT_NE(sendDate(good), u"NULL"_s);
    EXPECT_EQ(sendDate(bad), u"NULL"_s);
}

TEST_F(DeliveryJob, AbortStopsBetweenProjects)
{
    TProject *first = project(u"First"_s);
    TProject *second = project(u"Second"_s);
    fileTask(first, u"one"_s);
    fileTask(first, u"two"_s);
    fileTask(second, u"three"_s);

    TDeliveryJob job({ first, second }, progress);
    // The job waits before the second project until the owner pressed Abort.
    QSemaphore pressed;
    job.OnBeforeProject = [&pressed](int i) {
        if (i == 1)
            pressed.tryAcquire(1, 30000);
    };
    int iStates = 0;
    QObject::connect(&job, &TDeliveryJob::stateChanged, [&] { ++iStates; });
    QObject::connect(&progress, &TProgressList::lineAppended, [&](int i) {
        if (progress.Lines().at(i).sText == u"  Zipped 1 file"_s && !job.CanClose()) {
            job.Abort();
            EXPECT_TRUE(job.CanClose());
            EXPECT_TRUE(job.Running());
            pressed.release();
        }
    });
    job.Run();
    ASSERT_TRUE(waitEnded(job));

    const QStringList l = lines();
    ASSERT_EQ(l.size(), 7) << l.join(u'|').toStdString();
    EXPECT_EQ(l[0], u"First"_s);
    EXPECT_TRUE(l[2].startsWith(u"  Output saved to First_"_s));
    EXPECT_TRUE(l[3].startsWith(u"  Output saved to First_"_s));
    EXPECT_EQ(l.mid(4), QStringList({ u"  Success"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_TRUE(job.Result().bAborted);
    EXPECT_EQ(job.Result().iDelivered, 1);
    EXPECT_EQ(iStates, 2); // the abort, the end
    EXPECT_EQ(sendDate(second), u"NULL"_s);
    EXPECT_EQ(QDir(sandbox.path(u"three"_s)).entryList(QDir::Files), QStringList());
}

TEST_F(DeliveryJob, DestroyingTheJobMidUploadCancelsTheTransferAndJoins)
{
    // 8 MiB that do not compress, to a server taking 256 KiB a second: the
    // upload would need half a minute.
    QByteArray bytes(8 << 20, Qt::Uninitialized);
    QRandomGenerator rng(12345);
    rng.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    bwtest::FtpServer::Options slow;
    slow.readLimit = 256 << 10;
    bwtest::FtpServer server(kUser, kPass, sandbox.path(u"ftphome"_s), slow);
    TProject *p = project(u"Big"_s, { { u"big.bin"_s, bytes } });
    ftpTask(p, server.host());

    auto job = std::make_unique<TDeliveryJob>(QList<TProject *> { p }, progress);
    job->Run();
    // Wait for the upload's counter line on the owner's list.
    const bool bUploading = QTest::qWaitFor(
        [&] {
            return progress.Count() > 0 && progress.Lines().last().iFlag == 1
                && progress.Lines().last().sText.startsWith(u"  FTP progress: "_s);
        },
        60000);
    ASSERT_TRUE(bUploading) << lines().join(u'|').toStdString();

    QElapsedTimer clock;
    clock.start();
    job.reset();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(RunningDeliveries(), 0);

    // Nothing arrives after the job has gone.
    const int iCount = progress.Count();
    QTest::qWait(100);
    EXPECT_EQ(progress.Count(), iCount);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log WHERE success = 1"_s), 0);
    EXPECT_EQ(sendDate(p), u"NULL"_s);
}

TEST_F(DeliveryJob, OwnerReadsAndWritesTheDatabaseDuringARun)
{
    TProject *p = project(u"Many"_s);
    for (int i = 0; i < 40; ++i)
        fileTask(p, u"out%1"_s.arg(i));

    TDeliveryJob job({ p }, progress);
    // A window refreshing its lists and storing a setting a hundred times a
    // second, far more often than any window does. (Writing in a loop with
    // no pause at all starves the job's writers past the busy time-out on a
    // loaded machine, which no window does either.)
    int iDuring = 0;
    QStringList errors;
    QTimer refresh;
    refresh.setInterval(10);
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        try {
            auto table = db->GetTable(u"SELECT id, success, filename FROM log ORDER BY id"_s);
            while (table && !table->Eof())
                table->Next();
            table.reset();
            db->QueryIntegerFmt(u"SELECT COUNT(*) FROM sendparams WHERE id_send > %d"_s, { 0 });
            db->ExecSQLFmt(u"INSERT OR REPLACE INTO settings (name, value) VALUES ('Refresh', '%d')"_s,
                           { iDuring });
            if (job.Running())
                ++iDuring;
        } catch (const std::exception &e) {
            errors << QString::fromUtf8(e.what());
        }
    });
    refresh.start();
    job.Run();
    ASSERT_TRUE(waitEnded(job));
    refresh.stop();

    EXPECT_EQ(errors, QStringList());
    EXPECT_GT(iDuring, 0);
    EXPECT_TRUE(job.ErrorText().isEmpty()) << job.ErrorText().toStdString();
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log WHERE success = 1"_s), 40);
    EXPECT_EQ(lines().last(), u"Generation complete."_s);
}

TEST_F(DeliveryJob, ErrorInTheRunFailsTheProjectAndTheJobEnds)
{
    TProject *p = project(u"Broken"_s);
    fileTask(p, u"out"_s);
    // The project's send tasks cannot be read.
    db->ExecSQL(u"ALTER TABLE send RENAME COLUMN zippassword TO zippassword_saved"_s);

    TDeliveryJob job({ p }, progress);
    job.Run();
    ASSERT_TRUE(waitEnded(job));
    // The project fails with the error's text; the run itself ends normally.
    EXPECT_TRUE(job.ErrorText().isEmpty()) << job.ErrorText().toStdString();
    const QStringList l = lines();
    ASSERT_GE(l.size(), 3);
    EXPECT_TRUE(l.contains(u"!  Fail"_s));
    EXPECT_TRUE(std::any_of(l.cbegin(), l.cend(), [](const QString &s) {
        return s.startsWith(u"!  Error: Error executing SQL"_s);
    })) << l.join(u'|').toStdString();
    EXPECT_EQ(l.last(), u"Generation complete."_s);
    EXPECT_FALSE(job.Result().Succeeded());
    EXPECT_TRUE(job.CanClose());
    EXPECT_FALSE(QFile::exists(RunTempDir() + u"code.zip"_s));
    EXPECT_EQ(sendDate(p), u"NULL"_s);
}

// The user aborts while a delivery's log row waits for another program's
// lock on the database: the wait ends, the running project still finishes,
// the next one is not started, and the rows kept waiting are written before
// the run ends, once the lock is free. Nothing is reported failed.
TEST_F(DeliveryJob, AbortDuringADatabaseWaitKeepsTheRecords)
{
    // The job's connection waits 2 s before a statement fails (and before
    // the wait is shown); the run's end waits as long for the kept rows.
    struct TBusyWait
    {
        TBusyWait() { qputenv("BUNDLEWICK_DB_BUSY_MS", "2000"); }
        ~TBusyWait() { qunsetenv("BUNDLEWICK_DB_BUSY_MS"); }
    } busyWait;
    TProject *p = project(u"Waiting"_s);
    fileTask(p, u"out1"_s);
    fileTask(p, u"out2"_s);
    TProject *next = project(u"Next"_s);
    fileTask(next, u"out3"_s);

    bwtest::DatabaseLock lock(sandbox.path(u"bundlewick.sqlite"_s));
    ASSERT_EQ(lock.error(), QString());
    TDeliveryJob job({ p, next }, progress);
    const QString sWaiting = u"Waiting for the database, which another program is using\u2026"_s;
    QObject::connect(&progress, &TProgressList::lineAppended, &job, [&](int iIndex) {
        const QString &sText = progress.Lines().at(iIndex).sText;
        if (sText == sWaiting)
            job.Abort();
        else if (sText.startsWith(u"  Stopped waiting: "_s))
            lock.release();
    });
    job.Run();
    ASSERT_TRUE(waitEnded(job));

    const QStringList l = lines();
    EXPECT_TRUE(l.contains(sWaiting)) << l.join(u'|').toStdString();
    EXPECT_TRUE(l.contains(u"  Stopped waiting: the records wait for the database until the run ends"_s))
        << l.join(u'|').toStdString();
    for (const QString &sLine : l)
        EXPECT_FALSE(sLine.startsWith(u'!')) << sLine.toStdString();
    EXPECT_TRUE(l.contains(u"  Success"_s));
    EXPECT_FALSE(l.contains(u"Next"_s));
    EXPECT_EQ(l.last(), u"Generation complete."_s);
    EXPECT_TRUE(job.Result().bAborted);
    EXPECT_EQ(job.Result().iUnrecorded, 0);
    QStringList rows;
    db->GetTableStrings(u"SELECT success || ' ' || destination FROM log ORDER BY id"_s, rows);
    EXPECT_EQ(rows, QStringList({ u"1 "_s + sandbox.path(u"out1"_s), u"1 "_s + sandbox.path(u"out2"_s) }));
    EXPECT_NE(sendDate(p), u"NULL"_s);
    EXPECT_EQ(sendDate(next), u"NULL"_s);
}

namespace {

// Expiry checks against deliveries: never at the same time.
class ExpiryAndDelivery : public DeliveryJob
{
protected:
    int addRetention(const QString &sHost, const QString &sName)
    {
        db->ExecSQLFmt(u"INSERT INTO retention (expiry, host, directory, login, password, filename, "
                       "modified) VALUES (1, '%s', '', '%s', '%s', '%s', DATETIME('NOW'))"_s,
                       { sHost, kUser, kPass, sName });
        return int(db->LastInsertRowID());
    }
    qint64 retentionRows() { return db->GetTableValue(u"SELECT COUNT(*) FROM retention"_s); }
};

} // namespace

TEST_F(ExpiryAndDelivery, TickDuringADeliveryWaitsForItsEnd)
{
    bwtest::FtpServer server(kUser, kPass, sandbox.path(u"ftphome"_s));
    addRetention(server.host(), u"gone.zip"_s);
    TProject *p = project(u"Tool"_s);
    fileTask(p, u"out"_s);

    TExpiryChecker checker;
    TDeliveryJob job({ p }, progress);
    QSemaphore go;
    job.OnBeforeProject = [&go](int) { go.tryAcquire(1, 30000); };
    bool bCheckDuringDelivery = true;
    QObject::connect(&job, &TJob::ended, [&] { bCheckDuringDelivery = checker.Running(); });
    job.Run();

    checker.tmExpireTimer(nullptr);
    EXPECT_FALSE(checker.Running());
    EXPECT_TRUE(checker.Deferred());
    QTest::qWait(50);
    EXPECT_FALSE(checker.Running());
    EXPECT_EQ(server.commands().filter(u"NLST"_s).size(), 0);

    QSignalSpy checked(&checker, &TExpiryChecker::checked);
    go.release();
    ASSERT_TRUE(waitEnded(job));
    EXPECT_FALSE(bCheckDuringDelivery);
    ASSERT_TRUE(checked.wait(60000));
    EXPECT_EQ(retentionRows(), 0);
    EXPECT_EQ(server.commands().filter(u"NLST"_s).size(), 1);
}

TEST_F(ExpiryAndDelivery, DeliveryCancelsARunningCheckAndStartsAfterIt)
{
    // A server that never greets: the check would wait for its time-out.
    bwtest::SilentServer silent;
    addRetention(u"127.0.0.1:%1"_s.arg(silent.port()), u"a.zip"_s);
    TProject *p = project(u"Tool"_s);
    fileTask(p, u"out"_s);

    auto checker = std::make_unique<TExpiryChecker>();
    checker->tmExpireTimer(nullptr);
    ASSERT_TRUE(checker->Running());
    ASSERT_EQ(RunningExpiryCheck() != nullptr, true);

    bool bCheckEnded = false;
    QObject::connect(checker.get(), &TExpiryChecker::checked, [&] { bCheckEnded = true; });
    bool bFirstLineAfterCheck = false;
    QObject::connect(&progress, &TProgressList::lineAppended, [&](int i) {
        if (i == 0)
            bFirstLineAfterCheck = bCheckEnded;
    });

    QElapsedTimer clock;
    clock.start();
    TDeliveryJob job({ p }, progress);
    job.Run();
    EXPECT_FALSE(job.Running()); // waits for the check
    EXPECT_FALSE(job.CanClose());
    ASSERT_TRUE(waitEnded(job));
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(bFirstLineAfterCheck);
    EXPECT_TRUE(job.Result().Succeeded());
    EXPECT_EQ(retentionRows(), 1);

    // The cut-short check runs again after the delivery; going away cancels it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return checker->Running(); }, 5000));
    clock.restart();
    checker.reset();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(RunningExpiryCheck(), nullptr);
}
