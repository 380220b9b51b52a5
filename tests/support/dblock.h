#pragma once

#include <QString>
#include <future>
#include <mutex>
#include <thread>

namespace bwtest {

// Another program's hold on a database: a connection of its own, on a
// thread of its own, inside BEGIN EXCLUSIVE from construction until
// release() (or the end of the object).
class DatabaseLock
{
public:
    explicit DatabaseLock(const QString &sFile);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock &) = delete;
    DatabaseLock &operator=(const DatabaseLock &) = delete;

    // Empty when the lock is held.
    const QString &error() const { return FError; }
    // Lets go (any thread, also from inside a write that waits for it).
    void release();
    // Lets go and returns once the lock is free.
    void releaseNow();

private:
    std::promise<void> FRelease;
    std::once_flag FOnce;
    std::thread FThread;
    QString FError;
};

} // namespace bwtest
