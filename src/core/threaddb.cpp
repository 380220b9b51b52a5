#include "core/threaddb.h"

#include "core/globals.h"
#include "core/sqlite.h"

#include <QtGlobal>
#include <sqlite3.h>

int ShareTimeoutMs()
{
    bool ok = false;
    const int iMs = qEnvironmentVariableIntValue("BUNDLEWICK_DB_BUSY_MS", &ok);
    return ok && iMs >= 0 ? iMs : kShareTimeoutMs;
}

void ShareConnection(TSQLiteDatabase &oDB, int iTimeoutMs)
{
    oDB.SetTimeout(iTimeoutMs);
    // The mode is stored in the file; switching needs a moment without other
    // users, so a refusal (another connection busy) is left for the next
    // connection to retry. Pragma results are rows: not for ExecSQL.
    sqlite3_exec(oDB.Handle(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
}

QString DatabaseFileName(const TSQLiteDatabase &oDB)
{
    const char *name = sqlite3_db_filename(oDB.Handle(), "main");
    return name ? QString::fromUtf8(name) : QString();
}

TThreadDatabase::TThreadDatabase(const QString &sFileName)
    : FPrevious(DB)
{
    if (sFileName.isEmpty())
        return;
    FDB = std::make_unique<TSQLiteDatabase>(sFileName);
    ShareConnection(*FDB);
    DB = FDB.get();
}

TThreadDatabase::~TThreadDatabase()
{
    DB = FPrevious;
}
