#include "core/sqlite.h"
#include "diagnostics/diaglog.h"
#include "support/testenv.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct LogDir
{
    bwtest::TestSandbox sandbox;
    QString dir = sandbox.path(QStringLiteral("diag")) + QLatin1Char('/');

    QString today() const
    {
        return dir + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".sqlite");
    }
    // One run: logs through f, then ends the way the data module does.
    void run(const QString &sFlags, const std::function<void(TDiagLog &)> &f)
    {
        TDiagLog log(dir, sFlags, QStringLiteral("notes"));
        f(log);
        log.Terminate();
        log.WaitFor();
    }
    QStringList sqlitesIn() const
    {
        return QDir(dir).entryList({ QStringLiteral("*.sqlite") }, QDir::Files, QDir::Name);
    }
};

QStringList strings(const QString &sFile, const QString &sql)
{
    TSQLiteDatabase db(sFile);
    QStringList out;
    db.GetTableStrings(sql, out);
    return out;
}

const QString kWhats = QStringLiteral("SELECT what FROM events ORDER BY id");

} // namespace

TEST(GQueue, RefusesWhenFullAndWrapsSlots)
{
    GQueue<int *> q(2, QStringLiteral("t"));
    int v[6] = {};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(q.Push(&v[i]));
    EXPECT_FALSE(q.Push(&v[4])); // never overwrites the oldest
    int *p = nullptr;
    ASSERT_TRUE(q.Peek(p));
    EXPECT_EQ(p, &v[0]);
    ASSERT_TRUE(q.Pop(p));
    EXPECT_EQ(p, &v[0]);
    EXPECT_TRUE(q.Push(&v[5])); // into the freed slot 0
    EXPECT_EQ(q.Count(), 5u);
    EXPECT_EQ(q.Waiting(), 4u);
    for (int want : { 1, 2, 3, 5 }) {
        ASSERT_TRUE(q.Pop(p));
        EXPECT_EQ(p, &v[want]);
    }
    EXPECT_FALSE(q.Pop(p));
}

TEST(GQueue, SeveralProducersAndConsumersTakeEachValueOnce)
{
    // A tiny ring so that it is full and wraps all the time.
    GQueue<std::uintptr_t> q(3, QStringLiteral("t"));
    constexpr int kPer = 20000;
    std::vector<std::thread> threads;
    std::vector<std::vector<std::uintptr_t>> got(2);
    std::atomic<int> producing { 3 };
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPer; ++i)
                while (!q.Push(std::uintptr_t(t) << 20 | std::uintptr_t(i)))
                    std::this_thread::yield();
            --producing;
        });
    for (int c = 0; c < 2; ++c)
        threads.emplace_back([&, c] {
            std::uintptr_t v;
            for (;;) {
                if (q.Pop(v))
                    got[c].push_back(v);
                else if (producing == 0 && q.Waiting() == 0)
                    break;
                else
                    std::this_thread::yield();
            }
        });
    for (auto &t : threads)
        t.join();
    std::vector<int> seen(3 * kPer, 0);
    for (const auto &list : got) {
        std::vector<int> last(3, -1);
        for (std::uintptr_t v : list) {
            const int t = int(v >> 20), i = int(v & 0xFFFFF);
            EXPECT_GT(i, last[t]) << "a consumer saw a producer's values out of order";
            last[t] = i;
            ++seen[t * kPer + i];
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 3 * kPer);
}

TEST(TDiagLog, RecordsOnlyTheWhyCodesTheFlagsAsk)
{
    LogDir d;
    const auto logAll = [](TDiagLog &log) {
        for (int why : { 0, 1, 2, 3, 4, 8, 16 })
            log.Log(QStringLiteral("W"), QString::number(why), why);
    };
    d.run(QStringLiteral("information"), logAll);
    EXPECT_EQ(strings(d.today(), kWhats), QStringList({ QStringLiteral("1"), QStringLiteral("2") }));
    QFile::remove(d.today());
    d.run(QStringLiteral("information,sql,verbose"), logAll);
    EXPECT_EQ(
        strings(d.today(), kWhats),
        QStringList({ QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("8") }));
    QFile::remove(d.today());
    d.run(QStringLiteral("information,SQL,Verbose"), logAll); // case-sensitive
    EXPECT_EQ(strings(d.today(), kWhats).size(), 2);
}

TEST(TDiagLog, StoresTextIntactAndFormats)
{
    LogDir d;
    d.run(QStringLiteral("information"), [](TDiagLog &log) {
        log.Log(QStringLiteral("it's"));
        log.Log(QStringLiteral("O'Brien's"), QStringLiteral("''; DROP TABLE events; --"), lwError);
        log.LogFmt(QStringLiteral("%s has %d files, %g MB"), { QStringLiteral("A'b"), 3, 1.5 });
        log.LogFmt(QStringLiteral("TFData"), QStringLiteral("bad %d"), { QStringLiteral("x") }, lwError);
    });
    const QStringList whats = strings(d.today(), kWhats);
    ASSERT_EQ(whats.size(), 4);
    EXPECT_EQ(whats[0], QStringLiteral("it's"));
    EXPECT_EQ(whats[1], QStringLiteral("''; DROP TABLE events; --"));
    EXPECT_EQ(whats[2], QStringLiteral("A'b has 3 files, 1.5 MB"));
    EXPECT_TRUE(whats[3].startsWith(QStringLiteral("bad %d ["))) << whats[3].toStdString();
    EXPECT_EQ(strings(d.today(), QStringLiteral("SELECT `where` || '/' || why FROM events ORDER BY id")),
              QStringList({ QStringLiteral("/2"), QStringLiteral("O'Brien's/1"), QStringLiteral("/2"),
                            QStringLiteral("TFData/1") }));
}

TEST(TDiagLog, OneDayFileCollectsTheSessionsOfADay)
{
    LogDir d;
    EXPECT_FALSE(QFile::exists(d.today()));
    d.run(QStringLiteral("information"), [](TDiagLog &log) { log.Log(QStringLiteral("first")); });
    ASSERT_TRUE(QFile::exists(d.today()));
    d.run(QStringLiteral("information"), [](TDiagLog &log) {
        EXPECT_EQ(log.SessionID(), 2);
        log.Log(QStringLiteral("second"));
        log.Terminate();
        log.WaitFor();
        log.Log(QStringLiteral("after terminate"));
    });
    EXPECT_EQ(strings(d.today(), QStringLiteral("SELECT who || ':' || what FROM events ORDER BY id")),
              QStringList({ QStringLiteral("1:first"), QStringLiteral("2:second") }));
    EXPECT_EQ(strings(d.today(),
                      QStringLiteral("SELECT id || ':' || notes || ':' || (close >= open) "
                                     "|| ':' || (version <> '') FROM sessions ORDER BY id")),
              QStringList({ QStringLiteral("1:notes:1:1"), QStringLiteral("2:notes:1:1") }));
}

TEST(TDiagLog, StartPrunesTheOldestDayFiles)
{
    LogDir d;
    QDir().mkpath(d.dir);
    const auto touch = [&](const QString &name) { QFile(d.dir + name).open(QIODevice::WriteOnly); };
    for (int day = 1; day <= 7; ++day)
        touch(QStringLiteral("2020010%1.sqlite").arg(day));
    touch(QStringLiteral("bundlewick.sqlite"));
    touch(QStringLiteral("current.sqlite"));
    touch(QStringLiteral("notes.sql")); // not counted
    d.run(QStringLiteral("information"), [](TDiagLog &) {});
    const QString today = QFileInfo(d.today()).fileName();
    EXPECT_EQ(d.sqlitesIn(),
              QStringList({ QStringLiteral("20200105.sqlite"), QStringLiteral("20200106.sqlite"),
                            QStringLiteral("20200107.sqlite"), today, QStringLiteral("bundlewick.sqlite"),
                            QStringLiteral("current.sqlite") }));
    EXPECT_TRUE(QFile::exists(d.dir + QStringLiteral("notes.sql")));

    // Without day files nothing goes, however many other files there are.
    for (const QString &f : d.sqlitesIn())
        QFile::remove(d.dir + f);
    const QStringList others
        = { QStringLiteral("a.sqlite"),   QStringLiteral("b.sqlite"), QStringLiteral("c.sqlite"),
            QStringLiteral("d.sqlite"),   QStringLiteral("e.sqlite"), QStringLiteral("f.sqlite"),
            QStringLiteral("2020.sqlite") };
    for (const QString &f : others)
        touch(f);
    d.run(QStringLiteral("information"), [](TDiagLog &) {});
    EXPECT_EQ(d.sqlitesIn().size(), others.size() + 1);
}

TEST(TDiagLog, FlushLeavesCurrentWithThisSessionAndOlderErrors)
{
    LogDir d;
    d.run(QStringLiteral("information"), [](TDiagLog &log) {
        log.Log(QStringLiteral("X"), QStringLiteral("old info"), lwInfo);
        log.Log(QStringLiteral("X"), QStringLiteral("old error"), lwError);
    });
    const QString current = d.dir + QStringLiteral("current.sqlite");
    d.run(QStringLiteral("information"), [&](TDiagLog &log) {
        log.Log(QStringLiteral("X"), QStringLiteral("new info"), lwInfo);
        log.Log(QStringLiteral("X"), QStringLiteral("new error"), lwError);
        log.LogFlush();
        EXPECT_EQ(strings(current, kWhats),
                  QStringList({ QStringLiteral("old error"), QStringLiteral("new info"),
                                QStringLiteral("new error") }));
        EXPECT_EQ(strings(d.today(), QStringLiteral("SELECT close IS NOT NULL FROM sessions ORDER BY id")),
                  QStringList({ QStringLiteral("1"), QStringLiteral("1") }));
        log.Log(QStringLiteral("after flush"));
    });
    EXPECT_EQ(strings(d.today(), QStringLiteral("SELECT who || ':' || what FROM events ORDER BY id")),
              QStringList({ QStringLiteral("1:old info"), QStringLiteral("1:old error"),
                            QStringLiteral("2:new info"), QStringLiteral("2:new error"),
                            QStringLiteral("2:after flush") }));
    EXPECT_EQ(strings(current, kWhats).size(), 3);
}

TEST(TDiagLog, PausedQueueHolds8192RecordsAndCountsTheRest)
{
    LogDir d;
    d.run(QStringLiteral("information"), [](TDiagLog &log) {
        log.Pause(true);
        log.LogFlush(); // empties the queue, "Pause=True" included
        for (int i = 0; i < 8192; ++i)
            log.Log(QString::number(i));
        EXPECT_EQ(log.Waiting(), 8192u);
        EXPECT_EQ(log.DroppedCount(), 0u);
        log.Log(QStringLiteral("no room"));
        EXPECT_EQ(log.DroppedCount(), 1u);
        log.Pause(false); // its own record finds no room either
        EXPECT_EQ(log.DroppedCount(), 2u);
    });
    const QStringList whats = strings(d.today(), kWhats);
    ASSERT_EQ(whats.size(), 1 + 8192 + 1);
    EXPECT_EQ(whats.first(), QStringLiteral("Pause=True"));
    EXPECT_EQ(whats[1], QStringLiteral("0"));
    EXPECT_EQ(whats[8192], QStringLiteral("8191"));
    EXPECT_EQ(whats.last(), QStringLiteral("Queue full: 2 records dropped"));
}

TEST(TDiagLog, FailedSessionCloseWritesTheErrorFile)
{
    LogDir d;
    {
        TDiagLog log(d.dir, QStringLiteral("information"), QString());
        log.Terminate();
        log.WaitFor();
        TSQLiteDatabase(d.today()).ExecSQL(QStringLiteral("DROP TABLE sessions"));
    }
    const QString err = d.sandbox.root() + QStringLiteral("/data/orro/orrolog.error");
    ASSERT_TRUE(QFile::exists(err));
    QFile f(err);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    static const QRegularExpression re(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d  Exception in TDiagLog\\.DBLogClose: .*sessions.*\r\n$"));
    EXPECT_TRUE(re.match(text).hasMatch()) << text.toStdString();
}

TEST(TDiagLog, StressEveryRecordOnceInOrderWhileFlushing)
{
#ifdef BW_TSAN
    constexpr int kPer = 10000;
#else
    constexpr int kPer = 50000;
#endif
    constexpr int kThreads = 4;
    LogDir d;
    std::uint64_t dropped = 0;
    int flushes = 0;
    d.run(QStringLiteral("information"), [&](TDiagLog &log) {
        std::atomic<int> producing { kThreads };
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kPer; ++i)
                    log.LogFmt(QStringLiteral("S"), QStringLiteral("%d %d"), { t, i }, lwInfo);
                --producing;
            });
        threads.emplace_back([&] {
            while (producing > 0) {
                log.LogFlush();
                ++flushes;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        for (auto &t : threads)
            t.join();
        dropped = log.DroppedCount();
    });
    std::vector<std::vector<int>> seqs(kThreads);
    std::uint64_t reported = 0;
    static const QRegularExpression note(QStringLiteral("^Queue full: (\\d+) records dropped$"));
    for (const QString &f : d.sqlitesIn()) {
        if (!QRegularExpression(QStringLiteral("^\\d{8}\\.sqlite$")).match(f).hasMatch())
            continue;
        TSQLiteDatabase db(d.dir + f);
        auto tab = db.GetTable(QStringLiteral("SELECT `where`, what FROM events ORDER BY id"));
        for (; !tab->Eof(); tab->Next()) {
            const QString what = tab->FieldAsString(1);
            if (tab->FieldAsString(0) == QStringLiteral("TDiagLog")) {
                const auto m = note.match(what);
                ASSERT_TRUE(m.hasMatch()) << what.toStdString();
                reported += m.captured(1).toULongLong();
                continue;
            }
            const QStringList parts = what.split(QLatin1Char(' '));
            ASSERT_EQ(parts.size(), 2);
            seqs[parts[0].toInt()].push_back(parts[1].toInt());
        }
    }
    EXPECT_GT(flushes, 0);
    EXPECT_EQ(reported, dropped);
    std::uint64_t landed = 0;
    for (const auto &s : seqs) {
        for (size_t i = 1; i < s.size(); ++i)
            ASSERT_LT(s[i - 1], s[i]) << "out of order or twice";
        landed += s.size();
    }
    EXPECT_EQ(landed + dropped, std::uint64_t(kThreads) * kPer);
    std::cout << "landed " << landed << ", dropped " << dropped << ", flushes " << flushes << std::endl;
}
