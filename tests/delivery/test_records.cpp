#include "core/progress.h"
#include "core/threaddb.h"
#include "delivery/deliverylog.h"
#include "delivery/records.h"
#include "deliverydb.h"
#include "support/dblock.h"

#include <QElapsedTimer>
#include <atomic>

using namespace Qt::StringLiterals;

namespace {

const QString kWaiting = u"Waiting for the database, which another program is using\u2026"_s;

class Records : public DeliveryDB
{
protected:
    TProgressList progress;
    TDeliveryRecords records { progress };

    void SetUp() override
    {
        DeliveryDB::SetUp();
        // The program's own settings, with a busy time-out the tests can
        // outlast in a moment.
        ShareConnection(*db, 200);
    }
    QString dbFile() const { return sandbox.path(u"bundlewick.sqlite"_s); }
    QStringList lines() const
    {
        QStringList out;
        for (const TProgressLine &line : progress.Lines())
            out << line.sText;
        return out;
    }
    // A log row named sName, through the records.
    void logRow(const QString &sName)
    {
        records.Write(u"the log row of "_s + sName, [sName] { SaveLog(true, 1, 1, 1, sName, u"/out"_s); });
    }
    QStringList loggedNames()
    {
        QStringList names;
        db->GetTableStrings(u"SELECT filename FROM log ORDER BY id"_s, names);
        return names;
    }
};

} // namespace

// A lock held past the busy time-out: the write waits it out, and says so.
TEST_F(Records, WriteOutlastsTheBusyTimeOut)
{
    bwtest::DatabaseLock holder(dbFile());
    ASSERT_EQ(holder.error(), QString());
    // The holder lets go once the user was told about the wait, which is
    // when the connection's own time-out has passed.
    QObject::connect(&progress, &TProgressList::lineAppended, [&] { holder.release(); });
    QElapsedTimer clock;
    clock.start();
    logRow(u"first.zip"_s);
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(lines(), QStringList { kWaiting });
    EXPECT_EQ(loggedNames(), QStringList { u"first.zip"_s });
    EXPECT_EQ(records.Pending(), 0);
    EXPECT_EQ(records.Finish(), 0);

    // A free database: no wait, no line.
    logRow(u"second.zip"_s);
    EXPECT_EQ(lines(), QStringList { kWaiting });
    EXPECT_EQ(loggedNames(), QStringList({ u"first.zip"_s, u"second.zip"_s }));
}

// The user aborts while a write waits: it and the writes after it are kept,
// in order, and written before the run ends once the lock is free.
TEST_F(Records, AbortKeepsTheWritesForTheEndOfTheRun)
{
    std::atomic<bool> stop { false };
    records.SetStopFlags(&stop, nullptr);
    bwtest::DatabaseLock holder(dbFile());
    ASSERT_EQ(holder.error(), QString());
    QObject::connect(&progress, &TProgressList::lineAppended, [&] { stop = true; });
    logRow(u"one.zip"_s);
    logRow(u"two.zip"_s);
    EXPECT_EQ(records.Pending(), 2);
    EXPECT_EQ(lines(),
              QStringList({ kWaiting,
                            u"  Stopped waiting: the records wait for the database until the run ends"_s }));
    EXPECT_EQ(loggedNames(), QStringList());

    holder.releaseNow();
    EXPECT_EQ(records.Finish(), 0);
    EXPECT_EQ(records.Pending(), 0);
    EXPECT_EQ(loggedNames(), QStringList({ u"one.zip"_s, u"two.zip"_s }));
    EXPECT_EQ(lines().size(), 2);
}

// Still locked when the run ends: after an abort the end waits as long as
// any statement would, after a cancel not at all; then every record left is
// named in a failure line.
TEST_F(Records, StillLockedAtTheEndIsReportedRecordByRecord)
{
    std::atomic<bool> stop { true };
    std::atomic<bool> cancel { false };
    records.SetStopFlags(&stop, &cancel);
    bwtest::DatabaseLock holder(dbFile());
    ASSERT_EQ(holder.error(), QString());
    logRow(u"one.zip"_s);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(records.Finish(), 1);
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(lines().last(), u"!  Not recorded, the database is still in use: the log row of one.zip"_s);

    TProgressList progress2;
    TDeliveryRecords cancelled(progress2);
    cancel = true;
    cancelled.SetStopFlags(&stop, &cancel);
    cancelled.Write(u"the send date of Tool"_s, [] { DB->ExecSQL(u"UPDATE projects SET senddate = 1"_s); });
    cancelled.Write(u"the log row of two.zip"_s, [] { SaveLog(false, 1, 1, 2, u"two.zip"_s, u"host"_s); });
    EXPECT_EQ(cancelled.Finish(), 2);
    QStringList l;
    for (const TProgressLine &line : progress2.Lines())
        l << line.sText;
    EXPECT_EQ(l,
              QStringList({ u"  Stopped waiting: the records wait for the database until the run ends"_s,
                            u"!  Not recorded, the database is still in use: the send date of Tool"_s,
                            u"!  Not recorded, the database is still in use: the log row of two.zip"_s }));
    holder.releaseNow();
    EXPECT_EQ(loggedNames(), QStringList());
}

// A write the database refuses for another reason is reported at once and
// lost; the next one goes on.
TEST_F(Records, RefusedWriteIsReportedAndTheNextGoesOn)
{
    records.Write(u"the expiry of a.zip on host"_s, [] { DB->ExecSQL(u"INSERT INTO nowhere VALUES (1)"_s); });
    logRow(u"after.zip"_s);
    ASSERT_EQ(lines().size(), 1);
    EXPECT_TRUE(lines()[0].startsWith(u"!  Error: could not record the expiry of a.zip on host: "_s))
        << lines()[0].toStdString();
    EXPECT_TRUE(lines()[0].contains(u"no such table: nowhere"_s)) << lines()[0].toStdString();
    EXPECT_EQ(loggedNames(), QStringList { u"after.zip"_s });
    EXPECT_EQ(records.Finish(), 1);
}
