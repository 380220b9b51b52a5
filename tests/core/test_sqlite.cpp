#include "core/sqlite.h"
#include "support/testenv.h"

#include <gtest/gtest.h>
#include <ostream>

namespace {

QString message(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ESQLiteException &e) {
        return e.Message();
    }
    return QStringLiteral("<no exception>");
}

struct Db
{
    bwtest::TestSandbox sandbox;
    TSQLiteDatabase db { sandbox.path(QStringLiteral("test.sqlite")) };
    QStringList seen;
    Db()
    {
        db.OnQuery = [this](TSQLiteDatabase *sender, const QString &sql) {
            EXPECT_EQ(sender, &db);
            seen.append(sql);
        };
        db.ExecSQL(
            QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, a TEXT UNIQUE, n INTEGER, d DOUBLE)"));
    }
};

} // namespace

TEST(SQLite, OpenFailureNamesFileAndReason)
{
    bwtest::TestSandbox sandbox;
    const QString name = sandbox.root() + QStringLiteral("/missing/dir/x.sqlite");
    EXPECT_EQ(message([&] { TSQLiteDatabase db(name); }),
              QStringLiteral("Failed to open database \"%1\" : unable to open database file").arg(name));
}

TEST(SQLite, ExecSQLFailures)
{
    Db t;
    EXPECT_EQ(message([&] { t.db.ExecSQL(QString()); }), QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(message([&] { t.db.ExecSQL(QStringLiteral("-- only a comment")); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(message([&] { t.db.ExecSQL(QStringLiteral("SELEC 1")); }),
              QStringLiteral("Error executing SQL.\r\nError [1]: SQL error or missing database.\r\n"
                             "SELEC: near \"SELEC\": syntax error"));
    // A row is no failure of the engine: no detail to append.
    EXPECT_EQ(message([&] { t.db.ExecSQL(QStringLiteral("SELECT 1")); }),
              QStringLiteral("Error executing SQL statement"));
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES ('x')"));
    const QString dup = QStringLiteral("INSERT INTO t (a) VALUES ('x')");
    EXPECT_EQ(
        message([&] { t.db.ExecSQL(dup); }),
        QStringLiteral("Error executing SQL statement.\r\nError [19]: Abort due to contraint violation.\r\n"
                       "INSERT INTO t: UNIQUE constraint failed: t.a"));
    // The connection stays usable, and only the first statement of a text runs.
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES ('y'); INSERT INTO t (a) VALUES ('z')"));
    EXPECT_EQ(t.db.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM t")), 2);
    EXPECT_EQ(t.db.LastChangedRows(), 1);
}

TEST(SQLite, QueryConversions)
{
    Db t;
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (id, a, n, d) VALUES (1, '465', 4294967297, 2.5)"));
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (id, a, n, d) VALUES (2, NULL, 2147483648, NULL)"));
    EXPECT_EQ(t.db.LastInsertRowID(), 2);
    EXPECT_EQ(t.db.QueryIntegerFmt(QStringLiteral("SELECT a FROM t WHERE id = %d"), { 1 }), 465);
    EXPECT_EQ(t.db.QueryIntegerFmt(QStringLiteral("SELECT a FROM t WHERE id = %d"), { 99 }), 0);
    EXPECT_EQ(t.db.QueryIntegerFmt(QStringLiteral("SELECT n FROM t WHERE id = %d"), { 1 }), 1);
    EXPECT_EQ(t.db.QueryIntegerFmt(QStringLiteral("SELECT n FROM t WHERE id = %d"), { 2 }), -2147483647 - 1);
    EXPECT_EQ(t.db.GetTableValue(QStringLiteral("SELECT n FROM t WHERE id = 1")), 4294967297LL);
    EXPECT_EQ(t.db.QueryDoubleFmt(QStringLiteral("SELECT d FROM t WHERE d > %g"), { 2.25 }), 2.5);
    EXPECT_EQ(t.db.QueryStringFmt(QStringLiteral("SELECT a FROM t WHERE id = %d"), { 2 }), QString());
    EXPECT_EQ(t.db.QueryStringFmt(QStringLiteral("SELECT a FROM t WHERE id = %d"), { 3 }), QString());
    EXPECT_EQ(t.db.GetTableString(QStringLiteral("SELECT 'äß€' || a FROM t WHERE id = 1")),
              QString::fromUtf8("äß€465"));
    QStringList list { QStringLiteral("old") };
    t.db.GetTableStrings(QStringLiteral("SELECT n FROM t ORDER BY id"), list);
    EXPECT_EQ(list, QStringList({ QStringLiteral("4294967297"), QStringLiteral("2147483648") }));
}

TEST(SQLite, TableColumnsAndFields)
{
    Db t;
    t.db.ExecSQL(
        QStringLiteral("CREATE TABLE c (i INTEGER, s TEXT, f DOUBLE, dt DATE, v VARCHAR, v20 VARCHAR(20), "
                       "b BLOB, k int, x)"));
    t.db.ExecSQL(QStringLiteral("INSERT INTO c VALUES (1, NULL, 0.5, '2024', 'v', 'w', x'00ff', 3, '')"));
    auto table = t.db.GetTable(QStringLiteral("SELECT c.*, 1 + 1 AS Expr FROM c"));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->ColCount(), 10);
    const QList<int> expected { 1, 3, 2, 5, 3, 5, 4, 1, 5, 5 };
    for (int i = 0; i < table->ColCount(); ++i)
        EXPECT_EQ(table->ColType(i), expected.at(i)) << i;
    EXPECT_EQ(table->ColName(9), QStringLiteral("EXPR"));
    EXPECT_FALSE(table->Eof());
    EXPECT_EQ(table->Row(), 1);
    EXPECT_TRUE(table->FieldIsNull(1));
    EXPECT_FALSE(table->FieldIsNull(8));
    EXPECT_EQ(table->FieldAsBlob(6), QByteArray("\x00\xff", 2));
    EXPECT_EQ(table->FieldAsBlob(8), QByteArray());
    EXPECT_EQ(table->FieldAsInteger(4), 0);
    EXPECT_EQ(table->FieldAsDouble(2), 0.5);
    EXPECT_FALSE(table->Next());
    EXPECT_TRUE(table->Eof());
    EXPECT_EQ(table->Row(), 1);
}

TEST(SQLite, PreparedTableBindsByName)
{
    Db t;
    auto ins = t.db.GetTable(QStringLiteral("INSERT INTO t (id, a, d) VALUES (:id, @a, $d)"), true);
    ASSERT_TRUE(ins);
    EXPECT_EQ(t.db.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM t")), 0); // not stepped
    ins->AddParamInt(QStringLiteral(":id"), 7);
    ins->AddParamText(QStringLiteral("@a"), QString::fromUtf8("naïve"));
    ins->AddParamFloat(QStringLiteral("$d"), 1.25);
    ins->AddParamInt(QStringLiteral(":nothere"), 99);
    EXPECT_FALSE(ins->Next());
    ins->Reset();
    ins->ParamsClear();
    ins->AddParamInt(QStringLiteral(":id"), 8);
    ins->AddParamNull(QStringLiteral("@a"));
    ins->Next();
    ins.reset();
    auto rows = t.db.GetTable(QStringLiteral("SELECT id, a, d FROM t ORDER BY id"));
    EXPECT_EQ(rows->FieldAsInteger(0), 7);
    EXPECT_EQ(rows->FieldAsString(1), QString::fromUtf8("naïve"));
    EXPECT_EQ(rows->FieldAsDouble(2), 1.25);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->FieldAsInteger(0), 8);
    EXPECT_TRUE(rows->FieldIsNull(1));
    EXPECT_TRUE(rows->FieldIsNull(2));
}

TEST(SQLite, QueuedParamsConsumedAtBinding)
{
    Db t;
    t.db.AddParamInt(QStringLiteral(":id"), 5);
    t.db.AddParamText(QStringLiteral(":a"), QStringLiteral("five"));
    // Preparation fails before binding: the queue stays.
    EXPECT_THROW(t.db.ExecSQL(QStringLiteral("INSERT INTO nosuch VALUES (:id)")), ESQLiteException);
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (id, a) VALUES (:id, :a)"));
    EXPECT_EQ(t.db.QueryStringFmt(QStringLiteral("SELECT a FROM t WHERE id = 5"), {}),
              QStringLiteral("five"));
    // Consumed: a second run binds nothing (NULL id, NULL a).
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (id, a) VALUES (:id, :a)"));
    EXPECT_EQ(t.db.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM t WHERE a IS NULL")), 1);
    // Also consumed when the step fails.
    t.db.AddParamText(QStringLiteral(":a"), QStringLiteral("five"));
    EXPECT_THROW(t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES (:a)")), ESQLiteException);
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES (:a)"));
    EXPECT_EQ(t.db.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM t WHERE a IS NULL")), 2);
    t.db.AddParamNull(QStringLiteral(":n"));
    t.db.ParamsClear();
    t.db.AddParamFloat(QStringLiteral(":d"), 0.5);
    auto table = t.db.GetTable(QStringLiteral("SELECT :d"));
    EXPECT_EQ(table->FieldAsDouble(0), 0.5);
}

TEST(SQLite, PauseMakesEverythingANoOp)
{
    Db t;
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (a, n) VALUES ('x', 3)"));
    t.seen.clear();
    t.db.Pause();
    t.db.ExecSQL(QStringLiteral("DELETE FROM t"));
    t.db.ExecSQL(QStringLiteral("not even SQL"));
    EXPECT_EQ(t.db.GetTable(QStringLiteral("SELECT * FROM t")), nullptr);
    EXPECT_EQ(t.db.QueryIntegerFmt(QStringLiteral("SELECT n FROM t"), {}), 0);
    EXPECT_EQ(t.db.QueryDoubleFmt(QStringLiteral("SELECT n FROM t"), {}), 0.0);
    EXPECT_EQ(t.db.QueryStringFmt(QStringLiteral("SELECT a FROM t"), {}), QString());
    QStringList list { QStringLiteral("old") };
    t.db.GetTableStrings(QStringLiteral("SELECT a FROM t"), list);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(t.seen.isEmpty());
    t.db.Resume();
    EXPECT_EQ(t.db.QueryIntegerFmt(QStringLiteral("SELECT n FROM t"), {}), 3);
}

TEST(SQLite, MismatchedTemplateRunsNoSQL)
{
    Db t;
    t.seen.clear();
    EXPECT_THROW(t.db.ExecSQLFmt(QStringLiteral("DELETE FROM t WHERE id = %d"), { QStringLiteral("1") }),
                 EFormatError);
    EXPECT_THROW(t.db.GetTableFmt(QStringLiteral("SELECT * FROM t WHERE a = '%s'"), { 1 }), EFormatError);
    EXPECT_THROW(t.db.QueryIntegerFmt(QStringLiteral("SELECT %d, %d"), { 1 }), EFormatError);
    EXPECT_THROW(t.db.QueryStringFmt(QStringLiteral("SELECT %s"), { 1.5 }), EFormatError);
    EXPECT_THROW(t.db.QueryDoubleFmt(QStringLiteral("SELECT %g"), {}), EFormatError);
    EXPECT_TRUE(t.seen.isEmpty());
    t.db.ExecSQLFmt(QStringLiteral("INSERT INTO t (a, d) VALUES ('%s', %g)"), { QStringLiteral("q"), 0.1 });
    EXPECT_EQ(t.seen, QStringList { QStringLiteral("INSERT INTO t (a, d) VALUES ('q', 0.1)") });
}

TEST(SQLite, SavepointsAndTransactions)
{
    Db t;
    EXPECT_FALSE(t.db.InTransaction());
    t.db.Start(QStringLiteral("logexecute"));
    EXPECT_TRUE(t.db.InTransaction());
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES ('kept')"));
    t.db.Commit(QStringLiteral("logexecute"));
    EXPECT_FALSE(t.db.InTransaction());
    t.db.Start(QString(), QStringLiteral("IMMEDIATE"));
    t.db.Start(QStringLiteral("sp"));
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES ('undone')"));
    t.db.Rollback(QStringLiteral("sp"));
    EXPECT_TRUE(t.db.InTransaction());
    t.db.Commit();
    t.db.Start();
    t.db.ExecSQL(QStringLiteral("DELETE FROM t"));
    t.db.Rollback();
    QStringList list;
    t.db.GetTableStrings(QStringLiteral("SELECT a FROM t"), list);
    EXPECT_EQ(list, QStringList { QStringLiteral("kept") });
}

TEST(SQLite, SystemCollationAndTexts)
{
    Db t;
    t.db.AddSystemCollate();
    for (const char *v : { "b", "c", "a" })
        t.db.ExecSQLFmt(QStringLiteral("INSERT INTO t (a) VALUES ('%s')"), { QString::fromUtf8(v) });
    QStringList list;
    t.db.GetTableStrings(QStringLiteral("SELECT a FROM t ORDER BY a COLLATE SYSTEM"), list);
    EXPECT_EQ(list.join(QString()), QStringLiteral("abc"));
    EXPECT_TRUE(t.db.Version().startsWith(QStringLiteral("3.")));
    t.db.SetTimeout(10);
    EXPECT_EQ(SQLiteErrorStr(27), QStringLiteral("Unknown SQLite Error Code \"27\""));
    EXPECT_EQ(SQLiteErrorStr(101), QStringLiteral("sqlite3_step() has finished executing"));
    EXPECT_EQ(DeclTypeToColType(QStringLiteral("Boolean")), 1);
}

TEST(SQLite, LockedDatabaseFailsAtOnce)
{
    Db t;
    TSQLiteDatabase other(t.sandbox.path(QStringLiteral("test.sqlite")));
    other.Start(QString(), QStringLiteral("EXCLUSIVE"));
    const QString msg = message([&] { t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES ('x')")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("Error [5]: The database file is locked.")));
    other.Rollback();
}

TEST(SQLite, BoundValuesTravelOutsideTheStatement)
{
    Db t;
    const QString tricky = QStringLiteral("it's; DROP TABLE t; --\r\n\"ä\"");
    t.db.Exec(QStringLiteral("INSERT INTO t (a, n, d) VALUES (?, ?, ?)"), { tricky, 7, 2.5 });
    t.db.Exec(QStringLiteral("INSERT INTO t (a, n) VALUES (?, ?)"), { QString(), 8 });
    EXPECT_EQ(t.db.QueryString(QStringLiteral("SELECT a FROM t WHERE n = ?"), { 7 }), tricky);
    EXPECT_EQ(t.db.QueryInteger(QStringLiteral("SELECT n FROM t WHERE a = ?"), { tricky }), 7);
    EXPECT_DOUBLE_EQ(t.db.QueryDouble(QStringLiteral("SELECT d FROM t WHERE a = ?"), { tricky }), 2.5);
    // An empty text is stored as '', never as NULL.
    EXPECT_EQ(t.db.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM t WHERE a = ''")), 1);
    auto table = t.db.Query(QStringLiteral("SELECT a, n FROM t WHERE n >= ? ORDER BY n"), { 7 });
    ASSERT_TRUE(table);
    ASSERT_FALSE(table->Eof());
    EXPECT_EQ(table->FieldAsString(0), tricky);
    table->Next();
    EXPECT_EQ(table->FieldAsInteger(1), 8);
    table.reset();
    // The statements seen hold placeholders only.
    for (const QString &sql : t.seen)
        EXPECT_FALSE(sql.contains(QStringLiteral("it's"))) << sql.toStdString();
    // Values left over from a statement never reach the next one.
    EXPECT_EQ(t.db.QueryInteger(QStringLiteral("SELECT COUNT(*) FROM t"), {}), 2);
}

// An error text names what failed and why, never a value the statement
// carried: a password must not reach a message or the diagnostics.
TEST(SQLite, ErrorTextsCarryNoValues)
{
    Db t;
    t.db.ExecSQL(QStringLiteral("CREATE TABLE retention (id INTEGER PRIMARY KEY, password TEXT)"));
    TSQLiteDatabase other(t.sandbox.path(QStringLiteral("test.sqlite")));
    other.Start(QString(), QStringLiteral("EXCLUSIVE"));
    const QString bound = message([&] {
        t.db.Exec(QStringLiteral("INSERT INTO retention (password) VALUES (?)"),
                  { QStringLiteral("s3cret") });
    });
    EXPECT_EQ(bound,
              QStringLiteral("Error executing SQL statement.\r\nError [5]: The database file is locked.\r\n"
                             "INSERT INTO retention: database is locked"));
    // Even an older spliced statement shows only its verb and table.
    const QString spliced = message(
        [&] { t.db.ExecSQL(QStringLiteral("UPDATE retention SET password = 'pa''ss' WHERE id = 1")); });
    EXPECT_FALSE(spliced.contains(QStringLiteral("pa'"))) << spliced.toStdString();
    EXPECT_TRUE(spliced.endsWith(QStringLiteral("UPDATE retention: database is locked")))
        << spliced.toStdString();
    other.Rollback();

    EXPECT_EQ(StatementSummary(QStringLiteral("  select a, 'from x' from send s where id = 1")),
              QStringLiteral("SELECT FROM send"));
    EXPECT_EQ(StatementSummary(QStringLiteral("DELETE FROM files WHERE path = 'x'")),
              QStringLiteral("DELETE FROM files"));
    EXPECT_EQ(StatementSummary(QStringLiteral("insert or replace into settings (name) values ('pw')")),
              QStringLiteral("INSERT OR REPLACE INTO settings"));
    EXPECT_EQ(StatementSummary(QStringLiteral("CREATE TABLE IF NOT EXISTS log (id)")),
              QStringLiteral("CREATE TABLE IF NOT EXISTS log"));
    EXPECT_EQ(StatementSummary(QStringLiteral("'secret")), QStringLiteral("SQL"));
    EXPECT_EQ(StatementSummary(QStringLiteral("PRAGMA user_version")), QStringLiteral("PRAGMA"));
}

TEST(SQLite, ValuesOfAFailedStatementDoNotReachTheNext)
{
    Db t;
    EXPECT_THROW(t.db.Exec(QStringLiteral("INSERT INTO missing (a) VALUES (?)"), { 1 }), ESQLiteException);
    EXPECT_THROW(t.db.Query(QStringLiteral("SELECT a FROM missing WHERE a = ?"), { 1 }), ESQLiteException);
    t.db.ExecSQL(QStringLiteral("INSERT INTO t (a) VALUES ('x')"));
    EXPECT_EQ(t.db.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM t")), 1);
}
