#include "core/schema.h"

#include "core/sqlite.h"

#include <QList>
#include <QPair>
#include <QStringList>

bool TUpdateCheck::UpdateDatabase(TSQLiteDatabase &oDB, int &iOldVersion, int &iNewVersion)
{
    TUpdateCheck check(oDB);
    iOldVersion = check.GetVersion();
    check.Upgrade(iOldVersion);
    iNewVersion = check.GetVersion();
    return iOldVersion != iNewVersion;
}

int TUpdateCheck::GetVersion()
{
    const QString name
        = FDB.QueryStringFmt(QStringLiteral("SELECT name FROM sqlite_master WHERE name='version'"), {});
    if (name != QLatin1String("version"))
        return 0;
    return FDB.QueryIntegerFmt(QStringLiteral("SELECT MAX(version) FROM version"), {});
}

void TUpdateCheck::Upgrade(int v)
{
    // Each step is recorded after its statements, so an interrupted step is
    // simply run again (every statement is "IF NOT EXISTS").
    if (v <= 0) {
        CreateVersion1();
        SetVersion(1);
        v = 1;
    }
    if (v < 2) {
        CreateVersion2();
        SetVersion(2);
        v = 2;
    }
    if (v < 3) {
        CreateVersion3();
        SetVersion(3);
        v = 3;
    }
    if (v < 4) {
        CreateVersion4();
        SetVersion(4);
        v = 4;
    }
    if (v < 5) {
        CreateVersion5();
        SetVersion(5);
    }
}

void TUpdateCheck::SetVersion(int n)
{
    FDB.ExecSQL(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS version (id INTEGER PRIMARY KEY, version INTEGER, modified DATE)"));
    FDB.Exec(QStringLiteral("INSERT INTO version (id, version, modified) VALUES (NULL, ?, DATETIME('NOW'))"),
             { n });
}

void TUpdateCheck::CreateVersion1()
{
    FDB.ExecSQL(QStringLiteral("CREATE TABLE IF NOT EXISTS projects (id INTEGER PRIMARY KEY, type INTEGER, "
                               "title TEXT, filename TEXT, senddate DOUBLE, modified DATE)"));
    FDB.ExecSQL(
        QStringLiteral("CREATE TABLE IF NOT EXISTS files (id INTEGER PRIMARY KEY, id_projects INTEGER, "
                       "filename TEXT, modified DATE)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_filesprojects ON files (id_projects ASC)"));
    FDB.ExecSQL(QStringLiteral("CREATE TABLE IF NOT EXISTS settings (id INTEGER PRIMARY KEY, name TEXT, "
                               "value TEXT, modified DATE)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_settingsname ON settings (name ASC)"));
    FDB.ExecSQL(
        QStringLiteral("CREATE TABLE IF NOT EXISTS send (id INTEGER PRIMARY KEY, id_projects INTEGER, "
                       "type INTEGER, zippassword TEXT, modified DATE)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_sendprojects ON send (id_projects ASC)"));
    FDB.ExecSQL(
        QStringLiteral("CREATE TABLE IF NOT EXISTS sendparams (id INTEGER PRIMARY KEY, id_send INTEGER, "
                       "name TEXT, value TEXT, modified DATE)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_sendparams ON sendparams (id_send ASC)"));
}

void TUpdateCheck::CreateVersion2()
{
    FDB.ExecSQL(QStringLiteral("CREATE TABLE IF NOT EXISTS retention (id INTEGER PRIMARY KEY, expiry DOUBLE, "
                               "host TEXT, directory TEXT, login TEXT, password TEXT, filename TEXT, "
                               "modified DATE)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_retentionexpiry ON retention (expiry ASC)"));
}

void TUpdateCheck::CreateVersion3()
{
    FDB.ExecSQL(QStringLiteral("CREATE TABLE IF NOT EXISTS log (id INTEGER PRIMARY KEY, success INTEGER, "
                               "source INTEGER, filename TEXT, files INTEGER, method INTEGER, "
                               "destination TEXT, modified DATE)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_logfilename ON log (filename ASC)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_logdestination ON log (destination ASC)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_logdate ON log (modified ASC)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_logmethod ON log (method ASC)"));
    FDB.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_logsuccess ON log (success ASC)"));
}

void TUpdateCheck::CreateVersion4()
{
    // The failure line of a failed attempt, so that the log viewer can say
    // why. ADD COLUMN has no IF NOT EXISTS: a step that was interrupted
    // after it must not add the column twice.
    bool bHasColumn = false;
    auto table = FDB.GetTable(QStringLiteral("PRAGMA table_info(log)"));
    for (; table && !table->Eof(); table->Next())
        if (table->FieldAsString(1) == QLatin1String("log"))
            bHasColumn = true;
    if (!bHasColumn)
        FDB.ExecSQL(QStringLiteral("ALTER TABLE log ADD COLUMN log TEXT"));
}

void TUpdateCheck::CreateVersion5()
{
    // Staging uploads to S3-compatible storage: a row says which kind of
    // server it went to (0 FTP, which every older row is; 1 S3) and, for S3,
    // the endpoint, region, bucket, object key and addressing the delete
    // needs. Each column is added only when missing, so that a step that was
    // interrupted runs again without harm.
    QStringList columns;
    auto table = FDB.GetTable(QStringLiteral("PRAGMA table_info(retention)"));
    for (; table && !table->Eof(); table->Next())
        columns.append(table->FieldAsString(1));
    table.reset();
    const QList<QPair<QString, QString>> added {
        { QStringLiteral("kind"), QStringLiteral("INTEGER NOT NULL DEFAULT 0") },
        { QStringLiteral("endpoint"), QStringLiteral("TEXT") },
        { QStringLiteral("region"), QStringLiteral("TEXT") },
        { QStringLiteral("bucket"), QStringLiteral("TEXT") },
        { QStringLiteral("objectkey"), QStringLiteral("TEXT") },
        { QStringLiteral("pathstyle"), QStringLiteral("INTEGER NOT NULL DEFAULT 0") },
    };
    for (const auto &[sName, sType] : added)
        if (!columns.contains(sName))
            FDB.ExecSQL(QStringLiteral("ALTER TABLE retention ADD COLUMN %1 %2").arg(sName, sType));
}
