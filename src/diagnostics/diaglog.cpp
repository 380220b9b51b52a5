#include "diagnostics/diaglog.h"

#include "core/listfiles.h"
#include "core/runtempdir.h"
#include "core/sqlite.h"
#include "core/textfiles.h"
#include "core/winutils.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

TDiagLog *DiagLog = nullptr;

namespace {

// Set on the threads that drain: they must never wait for room themselves.
// How long a producer waits for room while the writer takes nothing.
constexpr int kStallMs = 200;

thread_local bool tlsDraining = false;

struct TDrainingScope
{
    TDrainingScope() { tlsDraining = true; }
    ~TDrainingScope() { tlsDraining = false; }
};

const QString kSelf = QStringLiteral("TDiagLog");
const QString kSavepoint = QStringLiteral("logexecute");

// The program's file name; /proc is used when there is no application object.
QString ProgramName()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName();
}

// The local time as a day count. Every Log call needs it, so the offset from
// UTC is looked up once a minute (zone changes fall on whole minutes) and
// under a lock: the C library's zone state is not safe to refresh from
// several threads at once.
double LocalNowDays()
{
    static std::atomic<std::uint64_t> cache { 0 }; // minute << 32 | offset in seconds
    static std::mutex lock;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const auto minute = std::uint32_t(ms / 60000);
    std::uint64_t c = cache.load(std::memory_order_acquire);
    if (std::uint32_t(c >> 32) != minute) {
        const std::lock_guard<std::mutex> guard(lock);
        c = cache.load(std::memory_order_relaxed);
        if (std::uint32_t(c >> 32) != minute) {
            const time_t t = time_t(ms / 1000);
            struct tm local = {};
            localtime_r(&t, &local);
            c = std::uint64_t(minute) << 32 | std::uint32_t(std::int32_t(local.tm_gmtoff));
            cache.store(c, std::memory_order_release);
        }
    }
    const qint64 offsetMs = qint64(std::int32_t(std::uint32_t(c))) * 1000;
    // 25569 is 1 January 1970 as a day count.
    return double(ms + offsetMs) / 86400000.0 + 25569.0;
}

// The calendar day of a day count, by arithmetic only.
QDate DayOf(double days)
{
    return QDate(1899, 12, 30).addDays(qint64(std::floor(days)));
}

bool IsDayFileName(const QString &sName)
{
    static const QRegularExpression re(QStringLiteral("^[0-9]{8}\\.sqlite$"));
    return re.match(sName).hasMatch();
}

// The day file's tables, for when no template ships beside the program. Also
// run on every open, so a file left empty by an interrupted creation recovers.
void EnsureTables(TSQLiteDatabase &db)
{
    db.ExecSQL(QStringLiteral("CREATE TABLE IF NOT EXISTS sessions (id INTEGER PRIMARY KEY, open DOUBLE, "
                              "close DOUBLE, user TEXT, app TEXT, path TEXT, version TEXT, notes TEXT)"));
    db.ExecSQL(QStringLiteral("CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, `when` DOUBLE, "
                              "who INTEGER, why INTEGER, `where` TEXT, what TEXT)"));
    db.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS events_who ON events (who)"));
    db.ExecSQL(QStringLiteral("CREATE INDEX IF NOT EXISTS events_why ON events (why)"));
}

} // namespace

TDiagLog::TDiagLog(const QString &sDir, const QString &sFlags, const QString &sNotes)
    : FDataDir(sDir)
    , FDataList(13, QStringLiteral("Log"))
{
    FDataDir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!FDataDir.endsWith(QLatin1Char('/')))
        FDataDir.append(QLatin1Char('/'));
    try {
        MakePrivateDir(FDataDir);
    } catch (const Exception &) {
        // Opening the day file fails then, and the program runs without a trace.
    }

    PruneDayFiles();
    FSQL = sFlags.contains(QLatin1String("sql"));
    FVerbose = sFlags.contains(QLatin1String("verbose"));

    FSessionNotes = sNotes;
    OpenDayFile(true);

    FThread = std::thread([this] {
        try {
            Execute();
        } catch (...) {
            // Nothing may leave the thread; the logger has nowhere else to report.
        }
    });
}

TDiagLog::~TDiagLog()
{
    if (FThread.joinable()) {
        Terminate();
        WaitFor();
    }
    FPause.store(true, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(FDBLock);
        DBLogClose();
    }
    FreeQueued();
    if (DiagLog == this)
        DiagLog = nullptr;
}

QString TDiagLog::LogFile() const
{
    std::lock_guard<std::mutex> lock(FDBLock);
    return FLogFile;
}

void TDiagLog::Log(const QString &sData)
{
    Log(QString(), sData, lwInfo);
}

bool TDiagLog::Recorded(int iWhy) const
{
    switch (iWhy) {
    case lwError:
    case lwInfo:
        return true;
    case lwSQL:
        return FSQL;
    case lwVerbose:
        return FVerbose;
    default:
        return false;
    }
}

void TDiagLog::Log(const QString &sWhere, const QString &sWhat, int iWhy)
{
    if (Terminated() || !Recorded(iWhy))
        return;
    PLogRec p = nullptr;
    try {
        p = new TLogRec { LocalNowDays(), iWhy, sWhere, sWhat };
    } catch (...) {
        FDropped.fetch_add(1, std::memory_order_relaxed);
        FDroppedTotal.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (!FDataList.Push(p) && !WaitForRoom(p)) {
        // The record is dropped, never overwritten; the next drain reports
        // how many went.
        delete p;
        FDropped.fetch_add(1, std::memory_order_relaxed);
        FDroppedTotal.fetch_add(1, std::memory_order_relaxed);
    }
    SetEvent();
}

bool TDiagLog::WaitForRoom(PLogRec p)
{
    // A burst from ordinary threads waits while the writer makes headway, so
    // nothing is lost to a mere burst. Draining threads, a paused or ending
    // logger, and a writer that took nothing for a while get no wait: the
    // caller never hangs on a stuck disk and no thread can deadlock here.
    using namespace std::chrono;
    if (tlsDraining)
        return false;
    std::uint32_t taken = FDataList.Taken();
    // Once one wait gave up, the others drop at once until the writer moves.
    if (FStalledAt.load(std::memory_order_relaxed) == std::int64_t(taken))
        return false;
    auto lastMove = steady_clock::now();
    while (!Paused() && !Terminated()) {
        SetEvent();
        std::this_thread::sleep_for(microseconds(50));
        if (FDataList.Push(p))
            return true;
        const std::uint32_t now = FDataList.Taken();
        if (now != taken) {
            taken = now;
            lastMove = steady_clock::now();
        } else if (steady_clock::now() - lastMove > milliseconds(kStallMs)) {
            FStalledAt.store(std::int64_t(taken), std::memory_order_relaxed);
            break;
        }
    }
    return false;
}

void TDiagLog::LogFmt(const QString &sFormat, std::initializer_list<TFmtArg> args)
{
    LogFmt(QString(), sFormat, args, lwInfo);
}

void TDiagLog::LogFmt(const QString &sWhere, const QString &sFormat, std::initializer_list<TFmtArg> args,
                      int iWhy)
{
    if (Terminated() || !Recorded(iWhy))
        return;
    QString sText;
    try {
        sText = SQLFormat(sFormat, args);
    } catch (const Exception &e) {
        // A faulty template must not turn a trace call into a new failure.
        sText = sFormat + QStringLiteral(" [") + e.Message() + QLatin1Char(']');
    }
    Log(sWhere, sText, iWhy);
}

void TDiagLog::SetEvent()
{
    // Only the first signal after a reset needs to wake the writer.
    if (!FSignalled.exchange(true, std::memory_order_acq_rel)) {
        {
            std::lock_guard<std::mutex> lock(FEventLock);
        }
        FEvent.notify_one();
    }
}

void TDiagLog::Pause(bool bValue)
{
    Log(kSelf, bValue ? QStringLiteral("Pause=True") : QStringLiteral("Pause=False"), lwInfo);
    FPause.store(bValue, std::memory_order_release);
    // The signal of the Log above may have been consumed while still paused.
    if (!bValue) {
        FSignalled.store(false, std::memory_order_relaxed);
        SetEvent();
    }
}

void TDiagLog::Terminate()
{
    FTerminated.store(true, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(FEventLock);
    }
    FEvent.notify_all();
}

void TDiagLog::WaitFor()
{
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

void TDiagLog::Execute()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(FEventLock);
            FEvent.wait(lock, [this] { return FSignalled.load(std::memory_order_acquire) || Terminated(); });
        }
        // Reset before draining, so a record queued during the drain signals
        // again and is never left waiting for an unrelated wake-up.
        FSignalled.store(false, std::memory_order_release);
        // Read before draining: a Terminate that comes during the drain gets
        // one more round, so nothing queued before it is left behind.
        const bool bLast = Terminated();
        bool bOk = true;
        if (!Paused()) {
            std::lock_guard<std::mutex> lock(FDBLock);
            const TDrainingScope draining;
            bOk = Drain();
        }
        if (bLast)
            break;
        if (bOk && Waiting() > 0 && !Paused())
            FSignalled.store(true, std::memory_order_release); // the rest at once
        if (!bOk) {
            // A file that keeps failing must not keep this thread spinning.
            std::unique_lock<std::mutex> lock(FEventLock);
            FEvent.wait_for(lock, std::chrono::seconds(1), [this] { return Terminated(); });
        }
    }
}

void TDiagLog::PruneDayFiles()
{
    QStringList files;
    try {
        ListFiles(FDataDir, QStringLiteral(".sqlite"), files, QString(), false, true);
    } catch (const Exception &) {
        return;
    }
    // The lister's mask also matches shorter extensions (".sql").
    files.removeIf(
        [](const QString &s) { return !s.endsWith(QLatin1String(".sqlite"), Qt::CaseInsensitive); });
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    while (files.size() > 5) {
        const auto it = std::find_if(files.begin(), files.end(),
                                     [](const QString &s) { return IsDayFileName(QFileInfo(s).fileName()); });
        if (it == files.end())
            break;
        QFile::remove(*it);
        files.erase(it);
    }
}

void TDiagLog::OpenDayFile(bool bStartSession)
{
    FLogFile
        = FDataDir + DayOf(LocalNowDays()).toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".sqlite");
    try {
        if (!QFile::exists(FLogFile)) {
            const QString sTemplate = AppDir() + QStringLiteral("log.sqlite");
            // An installed template is read-only, and a copy keeps its mode.
            // The trace names files and hosts: readable by the user only.
            if (QFile::exists(sTemplate) && QFile::copy(sTemplate, FLogFile))
                QFile::setPermissions(FLogFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            else
                CreatePrivateFile(FLogFile);
        }
        // Without a template the file is created here with its tables.
        FLogDB = std::make_unique<TSQLiteDatabase>(FLogFile);
        FLogDB->SetTimeout(5000);
        EnsureTables(*FLogDB);
        if (bStartSession) {
            FLogDB->Exec(QStringLiteral("INSERT INTO sessions (id, open, user, app, path, version, notes) "
                                        "VALUES (null, ?, ?, ?, ?, ?, ?)"),
                         { LocalNowDays(), CurrentUserName() + QStringLiteral(": ") + CurrentComputerName(),
                           ProgramName(), AppDir(), AppVersion(), FSessionNotes });
            FSessionID = int(FLogDB->LastInsertRowID());
        }
    } catch (const Exception &) {
        // No day file this run: the program goes on without a trace.
        FLogDB.reset();
    }
}

bool TDiagLog::Drain()
{
    if (!FLogDB)
        return true;
    QString sError;
    bool bErrorOfError = false;
    try {
        FLogDB->Start(kSavepoint);
        try {
            // At most one ring's worth per transaction: under a steady stream
            // a drain still ends, and LogFlush gets its turn.
            PLogRec p = nullptr;
            std::uint32_t n = 0;
            while (n++ < FDataList.Size() && FDataList.Pop(p)) {
                const std::unique_ptr<TLogRec> rec(p);
                try {
                    FLogDB->Exec(QStringLiteral("INSERT INTO events (id, `when`, who, why, `where`, what) "
                                                "VALUES (null, ?, ?, ?, ?, ?)"),
                                 { rec->When, FSessionID, rec->Why, rec->Where, rec->What });
                } catch (...) {
                    // A failure to write our own failure report is not reported
                    // again: on a broken file that would loop forever.
                    bErrorOfError
                        = rec->Where == kSelf && rec->What.startsWith(QLatin1String("Process Exception: "));
                    throw;
                }
            }
            // Room is back: say how many records the full queue cost.
            const std::uint64_t dropped = FDropped.exchange(0, std::memory_order_relaxed);
            if (dropped > 0)
                FLogDB->Exec(QStringLiteral("INSERT INTO events (id, `when`, who, why, `where`, what) "
                                            "VALUES (null, ?, ?, ?, ?, ?)"),
                             { LocalNowDays(), FSessionID, lwError, kSelf,
                               SQLFormat(QStringLiteral("Queue full: %d records dropped"), { dropped }) });
        } catch (const Exception &e) {
            sError = e.Message();
        } catch (const std::exception &e) {
            sError = QString::fromLocal8Bit(e.what());
        }
        // Whatever failed, the rows inserted so far stay written.
        FLogDB->Commit(kSavepoint);
    } catch (const Exception &e) {
        if (sError.isEmpty())
            sError = e.Message();
    } catch (const std::exception &e) {
        if (sError.isEmpty())
            sError = QString::fromLocal8Bit(e.what());
    }
    if (sError.isEmpty())
        return true;
    if (!bErrorOfError)
        LogFmt(kSelf, QStringLiteral("Process Exception: %s"), { sError }, lwError);
    return false;
}

void TDiagLog::DBLogClose()
{
    if (!FLogDB)
        return;
    try {
        FLogDB->Exec(QStringLiteral("UPDATE sessions SET close = ? WHERE id = ?"),
                     { LocalNowDays(), FSessionID });
    } catch (const Exception &e) {
        try {
            const QString sDir = SpecialFolder(CSIDL_APPDATA) + QStringLiteral("/orro");
            MakePrivateDir(sDir);
            const double now = LocalNowDays();
            const QTime time = QTime::fromMSecsSinceStartOfDay(
                int(std::llround((now - std::floor(now)) * 86400000.0) % 86400000));
            SaveTextFile(DayOf(now).toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ')
                             + time.toString(QStringLiteral("hh:mm"))
                             + QStringLiteral("  Exception in TDiagLog.DBLogClose: ")
                             + e.Message().simplified(), // one line, as the file promises
                         sDir + QStringLiteral("/orrolog.error"));
            MakePrivateFile(sDir + QStringLiteral("/orrolog.error"));
        } catch (const Exception &) {
            // Nowhere left to report to.
        }
    }
    FLogDB.reset();
}

void TDiagLog::LogFlush()
{
    std::lock_guard<std::mutex> lock(FDBLock);
    const TDrainingScope draining;
    Drain();
    DBLogClose();
    const QString sCurrent = FDataDir + QStringLiteral("current.sqlite");
    QFile::remove(sCurrent);
    const bool bCopied = QFile::copy(FLogFile, sCurrent);
    if (bCopied)
        QFile::setPermissions(sCurrent, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The same file, or after midnight the new day's one; the session id stays.
    OpenDayFile(false);
    if (bCopied)
        TrimCurrent(sCurrent);
}

void TDiagLog::TrimCurrent(const QString &sFile)
{
    try {
        TSQLiteDatabase db(sFile);
        const int iLast = int(db.GetTableValue(QStringLiteral("SELECT MAX(id) FROM sessions")));
        db.Exec(QStringLiteral("DELETE FROM events WHERE NOT who = ? AND NOT why = ?"), { iLast, lwError });
        db.ExecSQL(QStringLiteral("VACUUM"));
    } catch (const Exception &e) {
        LogFmt(kSelf, QStringLiteral("Process Exception: %s"), { e.Message() }, lwError);
    }
}

void TDiagLog::FreeQueued()
{
    PLogRec p = nullptr;
    while (FDataList.Pop(p))
        delete p;
}
