#pragma once

#include "core/sqlformat.h"

#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <initializer_list>

class TProgressList;

// The database writes that follow a delivery: its log row, the expiry row
// of a staging upload, the project's new send date. The delivery happened,
// so these must not be lost to another program holding the database's lock:
// each write waits for the lock as long as it takes (after the first seconds
// a progress line says so), on the delivery's own thread.
//
// The user's Abort (either flag) ends such a wait: that write and every one
// after it are kept, in order, and tried again by Finish() before the run
// ends; what still cannot be written is reported there, line by line. A
// write that fails for another reason (a full disk) is reported at once
// with a "!" line and counts as lost. Nothing here throws.
class TDeliveryRecords
{
public:
    explicit TDeliveryRecords(TProgressList &oProgress);
    TDeliveryRecords(const TDeliveryRecords &) = delete;
    TDeliveryRecords &operator=(const TDeliveryRecords &) = delete;

    // Flags of the job (or null): pStop is the user's Abort, pCancel also
    // ends the final attempt's wait.
    void SetStopFlags(const std::atomic<bool> *pStop, const std::atomic<bool> *pCancel);
    // The diagnostics source of the reports.
    void SetWhere(const QString &sWhere) { FWhere = sWhere; }

    // Writes one record with fnWrite (statements on the thread's DB; it may
    // run again after an abort, so it must be safe to repeat), or keeps it
    // for Finish(). sWhat names the record in reports: never a password.
    void Write(const QString &sWhat, std::function<void()> fnWrite);
    // Tries the kept writes once more, waiting at most the connection's busy
    // time-out (not at all after a cancel), and reports each one that still
    // could not be written. Returns how many records were lost in all.
    int Finish();

    // Records kept for Finish().
    int Pending() const { return int(FPending.size()); }
    // Records that could not be written (a failure, or still locked at Finish).
    int Lost() const { return FLost; }

private:
    struct TRecord
    {
        QString sWhat;
        std::function<void()> fnWrite;
    };

    // Writes the kept records in order until one has to wait longer than
    // the stop flags allow; iMaxWaitMs as in TWaitControl.
    void Flush(bool bFinal);
    void Diag(const QString &sFormat, std::initializer_list<TFmtArg> args) const;

    TProgressList &FProgress;
    QString FWhere = QStringLiteral("TfrmGenerate");
    const std::atomic<bool> *FStop = nullptr;
    const std::atomic<bool> *FCancel = nullptr;
    std::deque<TRecord> FPending;
    int FLost = 0;
    bool FStopShown = false; // the line about a wait ended by the user is out
};
