#include "delivery/deliverygate.h"

#include "core/job.h"

#include <QMetaObject>
#include <QPointer>
#include <vector>

namespace {

int g_deliveries = 0;
TJob *g_expiryCheck = nullptr;

struct TWaiter
{
    QPointer<QObject> context;
    std::function<void()> fn;
};
std::vector<TWaiter> g_waiters;

} // namespace

int RunningDeliveries()
{
    return g_deliveries;
}

void BeginDelivery(TJob *context, std::function<void()> fnLaunch)
{
    ++g_deliveries;
    // The check stops at once (its transfer is cancelled); it runs again
    // after the delivery.
    if (TJob *expiry = g_expiryCheck) {
        expiry->Cancel();
        QObject::connect(expiry, &TJob::ended, context, fnLaunch, Qt::SingleShotConnection);
        QObject::connect(expiry, &QObject::destroyed, context, fnLaunch, Qt::SingleShotConnection);
        return;
    }
    fnLaunch();
}

void EndDelivery()
{
    if (--g_deliveries > 0)
        return;
    std::vector<TWaiter> waiters;
    waiters.swap(g_waiters);
    for (TWaiter &waiter : waiters) {
        if (waiter.context)
            QMetaObject::invokeMethod(waiter.context.data(), std::move(waiter.fn), Qt::QueuedConnection);
    }
}

void WhenNoDelivery(QObject *context, std::function<void()> fn)
{
    if (g_deliveries == 0)
        QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
    else
        g_waiters.push_back(TWaiter { context, std::move(fn) });
}

TJob *RunningExpiryCheck()
{
    return g_expiryCheck;
}

void SetRunningExpiryCheck(TJob *job)
{
    g_expiryCheck = job;
}
