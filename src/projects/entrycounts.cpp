#include "projects/entrycounts.h"

#include "projects/wildcard.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

TEntryCounts::TEntryCounts(QObject *parent)
    : QObject(parent)
{ }

// A walk still running stops at its next entry; it holds only its own copies
// and the shared state, never this object.
TEntryCounts::~TEntryCounts()
{
    Cancel();
}

void TEntryCounts::Cancel()
{
    ++FGeneration;
    FPending = 0;
    if (FStop)
        FStop->store(true);
    FStop.reset();
}

void TEntryCounts::Request(const QStringList &lEntries)
{
    Cancel();
    if (lEntries.isEmpty()) {
        Q_EMIT finished();
        return;
    }
    const quint64 iGeneration = FGeneration;
    FPending = int(lEntries.size());
    FStop = std::make_shared<std::atomic_bool>(false);
    auto promise = std::make_shared<QPromise<int>>();
    auto *watcher = new QFutureWatcher<int>(this);
    connect(watcher, &QFutureWatcher<int>::resultReadyAt, this, [this, watcher, iGeneration](int iIndex) {
        if (iGeneration != FGeneration)
            return;
        const int iCount = watcher->future().resultAt(iIndex);
        --FPending;
        Q_EMIT counted(iIndex, iCount);
        if (FPending == 0)
            Q_EMIT finished();
    });
    connect(watcher, &QFutureWatcher<int>::finished, watcher, &QObject::deleteLater);
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, lEntries, stop = FStop] {
        for (const QString &sEntry : lEntries) {
            if (stop->load())
                break;
            int iCount = 0;
            try {
                iCount = MatchWildCardCount(sEntry);
            } catch (...) {
                // Nothing leaves the worker: an unreadable tree counts as empty.
            }
            promise->addResult(iCount);
        }
        promise->finish();
    });
}
