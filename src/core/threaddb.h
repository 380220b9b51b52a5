#pragma once

#include <QString>
#include <memory>

class TSQLiteDatabase;

// The main database is used from more than one thread: the user interface
// reads and writes it while a background job delivers or checks expiries,
// each thread through a connection of its own (DB is per thread).

// Puts the connection into write-ahead-log mode (readers never wait for a
// writer and a writer never waits for readers) and sets a busy time-out, so
// that two writers wait for each other instead of failing with "database is
// locked". Call it on every connection to the main database.
//
// One rule remains for callers: do not write on a connection while one of
// its own tables (cursors) is still open. The open cursor holds a read
// snapshot; if another connection wrote meanwhile, the write cannot upgrade
// that snapshot and fails at once (SQLITE_BUSY_SNAPSHOT), time-out or not.
// The program's code reads its rows into a list first and then writes.
inline constexpr int kShareTimeoutMs = 10000;
// kShareTimeoutMs, or the milliseconds given in the environment variable
// BUNDLEWICK_DB_BUSY_MS (tests shorten the wait with it).
int ShareTimeoutMs();
void ShareConnection(TSQLiteDatabase &oDB, int iTimeoutMs = ShareTimeoutMs());

// The file of the connection's main database; empty for an in-memory one.
QString DatabaseFileName(const TSQLiteDatabase &oDB);

// Opens a connection to sFileName for the calling thread and makes it that
// thread's DB for the life of the object; the previous DB comes back after.
// An empty file name opens nothing and leaves DB unset.
class TThreadDatabase
{
public:
    explicit TThreadDatabase(const QString &sFileName);
    ~TThreadDatabase();
    TThreadDatabase(const TThreadDatabase &) = delete;
    TThreadDatabase &operator=(const TThreadDatabase &) = delete;

private:
    std::unique_ptr<TSQLiteDatabase> FDB;
    TSQLiteDatabase *FPrevious = nullptr;
};
