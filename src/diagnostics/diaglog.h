#pragma once

#include "core/sqlformat.h"
#include "diagnostics/gqueue.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>

class TSQLiteDatabase;

// Why codes of an event. Codes 4 and 8 are recorded only when the run's flags
// ask for them; any other code is dropped.
enum : int {
    lwError = 1,
    lwInfo = 2,
    lwSQL = 4,
    lwVerbose = 8,
};

// One queued event, as logged (bound as values when written).
struct TLogRec
{
    double When = 0.0; // local day count of the Log call
    int Why = 0;
    QString Where;
    QString What;
};
using PLogRec = TLogRec *;

// The program's own trace, written by a background thread into one SQLite file
// per day ("yyyymmdd.sqlite") in the diagnostics folder, one `sessions` row per
// run and one `events` row per record. Log and LogFmt may be called from any
// thread and never throw. They only queue the record; when the queue (8192
// records) is full they wait while the writer makes headway and drop the
// record once it took nothing for 200 ms, or at once when paused, ending or
// called from a draining thread. Dropped records are counted and the count is
// logged when room returns.
class TDiagLog
{
public:
    // sDir: the diagnostics folder (trailing separator optional, created when
    // missing). sFlags: "information" or e.g. "information,sql,verbose".
    // sNotes: the session's notes text. Prunes old day files, opens today's
    // file, writes the session row and starts the writer thread.
    TDiagLog(const QString &sDir, const QString &sFlags, const QString &sNotes);
    // Ends the writer thread when still running (Terminate, WaitFor), closes
    // the session and frees what is still queued without writing it.
    ~TDiagLog();
    TDiagLog(const TDiagLog &) = delete;
    TDiagLog &operator=(const TDiagLog &) = delete;

    // Empty where, why 2.
    void Log(const QString &sData);
    void Log(const QString &sWhere, const QString &sWhat, int iWhy);
    // SQLFormat rules ("%s", "%d", "%g"). A template that does not match its
    // arguments logs the template and the format error instead.
    void LogFmt(const QString &sFormat, std::initializer_list<TFmtArg> args);
    void LogFmt(const QString &sWhere, const QString &sFormat, std::initializer_list<TFmtArg> args, int iWhy);

    // On the calling thread: writes everything queued, closes the session,
    // refreshes the trimmed copy "current.sqlite" (this session's events and
    // the errors of earlier ones) and reopens the day file. Logging then goes
    // on with the same session id.
    void LogFlush();
    // Logs "Pause=True"/"Pause=False"; while paused the writer leaves the queue alone.
    void Pause(bool bValue);
    // The writer writes once more and ends; later Log calls are ignored.
    void Terminate();
    // Waits for the writer thread to end (after Terminate).
    void WaitFor();

    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    bool Paused() const { return FPause.load(std::memory_order_acquire); }
    QString DataDir() const { return FDataDir; }
    // The day file in use; set when it is opened.
    QString LogFile() const;
    int SessionID() const { return FSessionID; }
    // Records waiting in the queue.
    std::uint32_t Waiting() const { return FDataList.Waiting(); }
    // Records dropped for lack of room since creation.
    std::uint64_t DroppedCount() const { return FDroppedTotal.load(std::memory_order_relaxed); }

private:
    bool Recorded(int iWhy) const;
    bool WaitForRoom(PLogRec p);
    void Execute();
    void SetEvent();
    void PruneDayFiles();
    void OpenDayFile(bool bStartSession);
    // False when a statement failed (reported as an event).
    bool Drain();
    void DBLogClose();
    void TrimCurrent(const QString &sFile);
    void FreeQueued();

    QString FDataDir;
    GQueue<PLogRec> FDataList;
    std::unique_ptr<TSQLiteDatabase> FLogDB;
    QString FLogFile;
    int FSessionID = 0;
    bool FSQL = false;
    bool FVerbose = false;
    QString FSessionNotes;

    // Manual-reset event: set by Log, reset by the writer before each drain.
    std::atomic<bool> FSignalled { false };
    std::mutex FEventLock;
    std::condition_variable FEvent;

    std::atomic<bool> FPause { false };
    std::atomic<bool> FTerminated { false };
    // Held by the writer around each drain and by LogFlush from start to end,
    // so the two never use FLogDB at the same time.
    mutable std::mutex FDBLock;

    // Dropped records not yet reported / dropped since creation.
    std::atomic<std::uint64_t> FDropped { 0 };
    std::atomic<std::uint64_t> FDroppedTotal { 0 };
    // Taken() when a wait for room last gave up; -1 when none did.
    std::atomic<std::int64_t> FStalledAt { -1 };

    std::thread FThread;
};

// The process's logger: created and freed by the data module; null outside its lifetime.
extern TDiagLog *DiagLog;
