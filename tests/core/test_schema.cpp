#include "core/schema.h"
#include "core/sqlite.h"
#include "support/testenv.h"

#include <gtest/gtest.h>
#include <ostream>

namespace {

struct Schema
{
    bwtest::TestSandbox sandbox;
    std::unique_ptr<TSQLiteDatabase> db = open();
    QStringList seen;

    std::unique_ptr<TSQLiteDatabase> open()
    {
        auto d = std::make_unique<TSQLiteDatabase>(sandbox.path(QStringLiteral("bundlewick.sqlite")));
        d->OnQuery = [this](TSQLiteDatabase *, const QString &sql) { seen.append(sql); };
        return d;
    }
    QStringList list(const QString &sql)
    {
        QStringList out;
        db->GetTableStrings(sql, out);
        return out;
    }
    QStringList versions() { return list(QStringLiteral("SELECT version FROM version ORDER BY id")); }
    QStringList objects(const QString &type)
    {
        return list(
            QStringLiteral("SELECT name FROM sqlite_master WHERE type = '%1' AND name NOT LIKE 'sqlite_%' "
                           "ORDER BY name")
                .arg(type));
    }
    bool update(int &oldV, int &newV)
    {
        seen.clear();
        return TUpdateCheck::UpdateDatabase(*db, oldV, newV);
    }
};

const QStringList allTables { QStringLiteral("files"),    QStringLiteral("log"),
                              QStringLiteral("projects"), QStringLiteral("retention"),
                              QStringLiteral("send"),     QStringLiteral("sendparams"),
                              QStringLiteral("settings"), QStringLiteral("version") };
const QStringList allIndexes { QStringLiteral("idx_filesprojects"),   QStringLiteral("idx_logdate"),
                               QStringLiteral("idx_logdestination"),  QStringLiteral("idx_logfilename"),
                               QStringLiteral("idx_logmethod"),       QStringLiteral("idx_logsuccess"),
                               QStringLiteral("idx_retentionexpiry"), QStringLiteral("idx_sendparams"),
                               QStringLiteral("idx_sendprojects"),    QStringLiteral("idx_settingsname") };
const QStringList reads { QStringLiteral("SELECT name FROM sqlite_master WHERE name='version'"),
                          QStringLiteral("SELECT MAX(version) FROM version") };

} // namespace

TEST(Schema, NewFileGoesToVersion5)
{
    Schema s;
    int oldV = -1, newV = -1;
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 0);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.objects(QStringLiteral("table")), allTables);
    EXPECT_EQ(s.objects(QStringLiteral("index")), allIndexes);
    EXPECT_EQ(s.versions(),
              QStringList({ QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                            QStringLiteral("4"), QStringLiteral("5") }));
    EXPECT_EQ(
        s.db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM version WHERE modified LIKE '____-__-__ "
                                             "__:__:__'"),
                              {}),
        5);
    EXPECT_FALSE(s.db->InTransaction());

    // A file at the current version: only the two reads run.
    EXPECT_FALSE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 5);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.seen, reads + reads);
}

// Version 4 adds the failure reason to the delivery log; the rows of older
// files stay as they were, without a reason.
TEST(Schema, Version3LogGetsTheReasonColumn)
{
    Schema s;
    int oldV = -1, newV = -1;
    s.update(oldV, newV);
    // Back to a version 3 file with a row in its log.
    s.db->ExecSQL(QStringLiteral("DROP TABLE log"));
    s.db->ExecSQL(QStringLiteral("CREATE TABLE log (id INTEGER PRIMARY KEY, success INTEGER, source INTEGER, "
                                 "filename TEXT, files INTEGER, method INTEGER, destination TEXT, "
                                 "modified DATE)"));
    s.db->ExecSQL(QStringLiteral("INSERT INTO log VALUES (7, 0, 1, 'a.zip', 3, 2, 'ftp.example.com', "
                                 "'2026-01-02 03:04:05')"));
    s.db->ExecSQL(QStringLiteral("DELETE FROM version WHERE version >= 4"));
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 3);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.list(QStringLiteral("SELECT filename || '|' || IFNULL(log, 'null') FROM log")),
              QStringList { QStringLiteral("a.zip|null") });
    s.db->ExecSQL(QStringLiteral("UPDATE log SET log = 'FTP failed: 530 Login incorrect.'"));

    // A step interrupted after the column was added runs again without harm.
    s.db->ExecSQL(QStringLiteral("DELETE FROM version WHERE version >= 4"));
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.list(QStringLiteral("SELECT log FROM log")),
              QStringList { QStringLiteral("FTP failed: 530 Login incorrect.") });
}

// Version 5 adds the S3 columns to the retention table; the rows of older
// files are FTP rows.
TEST(Schema, Version4RetentionRowsBecomeFtpRows)
{
    Schema s;
    int oldV = -1, newV = -1;
    s.update(oldV, newV);
    s.db->ExecSQL(QStringLiteral("DROP TABLE retention"));
    s.db->ExecSQL(QStringLiteral("CREATE TABLE retention (id INTEGER PRIMARY KEY, expiry DOUBLE, host TEXT, "
                                 "directory TEXT, login TEXT, password TEXT, filename TEXT, modified DATE)"));
    s.db->ExecSQL(QStringLiteral("INSERT INTO retention VALUES (3, 46000.5, 'ftp.example.com', 'up', 'bob', "
                                 "'pw', 'Tool_1.zip', '2026-01-02 03:04:05')"));
    s.db->ExecSQL(QStringLiteral("DELETE FROM version WHERE version = 5"));
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 4);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.list(QStringLiteral("SELECT kind || '|' || host || '|' || filename || '|' || "
                                    "IFNULL(bucket, 'null') || '|' || pathstyle FROM retention")),
              QStringList { QStringLiteral("0|ftp.example.com|Tool_1.zip|null|0") });
    // Run again after an interruption: no column is added twice.
    s.db->ExecSQL(QStringLiteral("DELETE FROM version WHERE version = 5"));
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(s.list(QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('retention')")),
              QStringList { QStringLiteral("14") });
}

TEST(Schema, Version1FileGetsOnlyTheLaterSteps)
{
    Schema s;
    s.db->ExecSQL(QStringLiteral("CREATE TABLE projects (id INTEGER PRIMARY KEY, type INTEGER, title TEXT, "
                                 "filename TEXT, senddate DOUBLE, modified DATE)"));
    s.db->ExecSQL(
        QStringLiteral("CREATE TABLE version (id INTEGER PRIMARY KEY, version INTEGER, modified DATE)"));
    s.db->ExecSQL(QStringLiteral("INSERT INTO version VALUES (NULL, 1, '2010-01-01 00:00:00')"));
    int oldV = -1, newV = -1;
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 1);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.versions(),
              QStringList({ QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                            QStringLiteral("4"), QStringLiteral("5") }));
    // Version 1's tables were not created again.
    EXPECT_EQ(s.objects(QStringLiteral("table")),
              QStringList({ QStringLiteral("log"), QStringLiteral("projects"), QStringLiteral("retention"),
                            QStringLiteral("version") }));
    EXPECT_EQ(s.objects(QStringLiteral("index")).size(), 6);
}

TEST(Schema, EmptyVersionTableRerunsEveryStep)
{
    Schema s;
    int oldV = -1, newV = -1;
    s.update(oldV, newV);
    s.db->ExecSQL(QStringLiteral("INSERT INTO settings (name, value) VALUES ('Log days', '30')"));
    s.db->ExecSQL(QStringLiteral("DELETE FROM version"));
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 0);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.versions(),
              QStringList({ QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                            QStringLiteral("4"), QStringLiteral("5") }));
    EXPECT_EQ(s.list(QStringLiteral("SELECT value FROM settings")), QStringList { QStringLiteral("30") });
}

TEST(Schema, LaterVersionIsLeftAlone)
{
    Schema s;
    s.db->ExecSQL(
        QStringLiteral("CREATE TABLE version (id INTEGER PRIMARY KEY, version INTEGER, modified DATE)"));
    s.db->ExecSQL(QStringLiteral("INSERT INTO version VALUES (NULL, 5, '2030-01-01 00:00:00')"));
    int oldV = -1, newV = -1;
    EXPECT_FALSE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 5);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.seen, reads + reads);
    EXPECT_EQ(s.objects(QStringLiteral("table")), QStringList { QStringLiteral("version") });
}

TEST(Schema, FailedStepResumesAtNextStart)
{
    Schema s;
    // A "log" table without the indexed columns makes version 3 fail.
    s.db->ExecSQL(QStringLiteral("CREATE TABLE log (id INTEGER PRIMARY KEY)"));
    int oldV = -1, newV = -1;
    EXPECT_THROW(s.update(oldV, newV), ESQLiteException);
    EXPECT_EQ(s.versions(), QStringList({ QStringLiteral("1"), QStringLiteral("2") }));

    s.db->ExecSQL(QStringLiteral("DROP TABLE log"));
    s.db = nullptr;
    s.db = s.open();
    EXPECT_TRUE(s.update(oldV, newV));
    EXPECT_EQ(oldV, 2);
    EXPECT_EQ(newV, 5);
    EXPECT_EQ(s.versions(),
              QStringList({ QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                            QStringLiteral("4"), QStringLiteral("5") }));
    EXPECT_EQ(s.objects(QStringLiteral("index")), allIndexes);
}
