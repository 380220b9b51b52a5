#include "core/dbwait.h"

#include "core/sqlite.h"

#include <algorithm>
#include <chrono>
#include <sqlite3.h>

namespace {

using TClock = std::chrono::steady_clock;

struct TWaitState
{
    const TWaitControl *pControl = nullptr;
    TClock::time_point start;
    int iNoticeMs = 0;
    bool bNoticed = false;
    bool bGaveUp = false;
};

bool IsSet(const std::atomic<bool> *pFlag)
{
    return pFlag && pFlag->load(std::memory_order_acquire);
}

// The engine calls this while the lock is taken; non-zero means "try again".
int BusyHandler(void *pData, int iCount)
{
    auto &state = *static_cast<TWaitState *>(pData);
    const TWaitControl &control = *state.pControl;
    if (IsSet(control.pStop) || IsSet(control.pCancel)) {
        state.bGaveUp = true;
        return 0;
    }
    const auto iWaited
        = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - state.start).count();
    if (control.iMaxWaitMs >= 0 && iWaited >= control.iMaxWaitMs) {
        state.bGaveUp = true;
        return 0;
    }
    if (!state.bNoticed && iWaited >= state.iNoticeMs) {
        state.bNoticed = true;
        if (control.fnNotice)
            control.fnNotice();
    }
    // Short naps at first, as the engine's own time-out takes them, so a
    // lock held for a moment costs a moment; an abort is seen within 50 ms.
    static constexpr int kNaps[] = { 1, 2, 5, 10, 20, 50 };
    sqlite3_sleep(kNaps[std::min<int>(iCount, int(std::size(kNaps)) - 1)]);
    return 1;
}

// Puts the connection's own busy time-out back, also when the write throws.
class TBusyHandlerScope
{
public:
    TBusyHandlerScope(TSQLiteDatabase &oDB, TWaitState &state)
        : FDB(oDB)
    {
        sqlite3_busy_handler(oDB.Handle(), &BusyHandler, &state);
    }
    ~TBusyHandlerScope() { sqlite3_busy_timeout(FDB.Handle(), FDB.Timeout()); }
    TBusyHandlerScope(const TBusyHandlerScope &) = delete;
    TBusyHandlerScope &operator=(const TBusyHandlerScope &) = delete;

private:
    TSQLiteDatabase &FDB;
};

} // namespace

bool WaitAndWrite(TSQLiteDatabase &oDB, const std::function<void()> &fnWrite, const TWaitControl &oControl)
{
    TWaitState state;
    state.pControl = &oControl;
    state.start = TClock::now();
    state.iNoticeMs = oDB.Timeout() > 0 ? std::min(oControl.iNoticeMs, oDB.Timeout()) : oControl.iNoticeMs;
    TBusyHandlerScope scope(oDB, state);
    try {
        fnWrite();
    } catch (const ESQLiteException &) {
        // Given up while the lock was held: the write waits for later. Any
        // other failure is the caller's.
        if (state.bGaveUp)
            return false;
        throw;
    }
    return true;
}
