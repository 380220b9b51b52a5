#pragma once

#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>

// Counts the files of several stored entries on a worker thread, one after
// the other, reporting each count as it is known: a list of wildcard entries
// over large trees stays responsive while it fills, and every entry is
// walked once per request instead of at every paint.
class TEntryCounts : public QObject
{
    Q_OBJECT

public:
    explicit TEntryCounts(QObject *parent = nullptr);
    ~TEntryCounts() override;

    // Counts lEntries; a request still running is stopped and forgotten.
    void Request(const QStringList &lEntries);
    void Cancel();
    // Whether counts of the latest request are still to come.
    bool Busy() const { return FPending > 0; }

Q_SIGNALS:
    // The count of lEntries[iIndex] of the latest request.
    void counted(int iIndex, int iCount);
    // Every count of the latest request was reported.
    void finished();

private:
    quint64 FGeneration = 0;
    int FPending = 0;
    std::shared_ptr<std::atomic_bool> FStop;
};
