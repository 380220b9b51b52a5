#include "delivery/records.h"

#include "core/dbwait.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/sqlite.h"
#include "diagnostics/diaglog.h"

TDeliveryRecords::TDeliveryRecords(TProgressList &oProgress)
    : FProgress(oProgress)
{ }

void TDeliveryRecords::SetStopFlags(const std::atomic<bool> *pStop, const std::atomic<bool> *pCancel)
{
    FStop = pStop;
    FCancel = pCancel;
}

void TDeliveryRecords::Diag(const QString &sFormat, std::initializer_list<TFmtArg> args) const
{
    if (DiagLog)
        DiagLog->LogFmt(FWhere, sFormat, args, lwError);
}

void TDeliveryRecords::Write(const QString &sWhat, std::function<void()> fnWrite)
{
    // Behind a kept record: in order, so the log's rows keep the order of
    // the attempts.
    FPending.push_back(TRecord { sWhat, std::move(fnWrite) });
    Flush(false);
}

void TDeliveryRecords::Flush(bool bFinal)
{
    TWaitControl control;
    control.pCancel = FCancel;
    if (bFinal) {
        // The user asked to stop: one more wait, as long as any statement
        // would wait, and none after a cancel.
        const bool bCancelled = FCancel && FCancel->load(std::memory_order_acquire);
        control.iMaxWaitMs = bCancelled || !DB ? 0 : DB->Timeout();
    } else {
        control.pStop = FStop;
    }
    control.fnNotice = [this] {
        FProgress.AddProgress(
            QStringLiteral("Waiting for the database, which another program is using\u2026"));
    };
    while (!FPending.empty()) {
        const TRecord &record = FPending.front();
        try {
            if (!DB)
                throw ESQLiteException(QStringLiteral("No database is open"));
            if (!WaitAndWrite(*DB, record.fnWrite, control)) {
                if (!bFinal && !FStopShown) {
                    FStopShown = true;
                    FProgress.AddProgress(QStringLiteral(
                        "  Stopped waiting: the records wait for the database until the run ends"));
                }
                return;
            }
        } catch (...) {
            const QString sError = ExceptionText(std::current_exception()).simplified();
            FProgress.AddProgressFmt(QStringLiteral("!  Error: could not record %s: %s"),
                                     { record.sWhat, sError });
            Diag(QStringLiteral("Could not record %s: %s"), { record.sWhat, sError });
            ++FLost;
        }
        FPending.pop_front();
    }
}

int TDeliveryRecords::Finish()
{
    if (FPending.empty())
        return FLost;
    Flush(true);
    for (const TRecord &record : FPending) {
        FProgress.AddProgressFmt(QStringLiteral("!  Not recorded, the database is still in use: %s"),
                                 { record.sWhat });
        Diag(QStringLiteral("Not recorded, the database stayed locked: %s"), { record.sWhat });
        ++FLost;
    }
    FPending.clear();
    return FLost;
}
