#pragma once

#include <atomic>
#include <functional>

class TSQLiteDatabase;

// How long a write waits for another program's lock before the user is told.
inline constexpr int kWaitNoticeMs = 3000;

// What ends a patient write's wait, and how it is reported.
struct TWaitControl
{
    // Either flag set ends the wait (the write stays undone). Null: none.
    const std::atomic<bool> *pStop = nullptr;
    const std::atomic<bool> *pCancel = nullptr;
    // Milliseconds after which the wait ends anyway; negative: no limit.
    int iMaxWaitMs = -1;
    // Called once, on the waiting thread, when the wait has lasted
    // iNoticeMs (or the connection's busy time-out, when that is shorter).
    std::function<void()> fnNotice;
    int iNoticeMs = kWaitNoticeMs;
};

// Runs fnWrite, statements on oDB, waiting for as long as another
// connection holds the database's lock: the engine's busy handler does the
// waiting, on the calling thread (a job's, never the user interface's), so
// it lasts past the connection's busy time-out. True when fnWrite ran to its
// end; false when the wait was ended by oControl before the lock came free,
// in which case fnWrite may be run again later (it must be safe to repeat).
// Any other failure passes out as ESQLiteException. The connection's own
// busy time-out is back in force afterwards.
bool WaitAndWrite(TSQLiteDatabase &oDB, const std::function<void()> &fnWrite, const TWaitControl &oControl);
