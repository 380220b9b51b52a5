#pragma once

#include <QObject>
#include <functional>

class TJob;

// Which background work may run now. Deliveries and the expiry check never
// overlap: a delivery cancels a running check and starts once it ended, and
// a check waits until no delivery runs. Both sides ask here, so neither has
// to know the other. UI thread only.

// How many deliveries are running.
int RunningDeliveries();
// Counts a delivery from now until EndDelivery(), and calls fnLaunch on
// context's thread once no expiry check runs (a running one is cancelled
// first).
void BeginDelivery(TJob *context, std::function<void()> fnLaunch);
void EndDelivery();
// Calls fn on context's thread once no delivery runs: soon when none runs
// now. Dropped when context goes first.
void WhenNoDelivery(QObject *context, std::function<void()> fn);

// The running expiry check, if any; the checker registers it while it runs.
TJob *RunningExpiryCheck();
void SetRunningExpiryCheck(TJob *job);
