// Caller's cost of TDiagLog::Log and the writer's sustained rate into the day file.
#include "diagnostics/diaglog.h"

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void waitEmpty(const TDiagLog &log)
{
    while (log.Waiting() > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void callerCost(const QString &dir)
{
    TDiagLog log(dir, QStringLiteral("information"), QStringLiteral("bench"));
    constexpr int kBatches = 50;
    constexpr int kBatch = 4000; // below the ring's size: no call waits for room
    const QString where = QStringLiteral("TFData");
    std::vector<std::int64_t> ns;
    ns.reserve(kBatches * kBatch);
    for (int b = 0; b < kBatches; ++b) {
        for (int i = 0; i < kBatch; ++i) {
            const QString what
                = QStringLiteral("Delivered project 'Demo' to ftp://example.org, item %1").arg(i);
            const auto t0 = Clock::now();
            log.Log(where, what, lwInfo);
            const auto t1 = Clock::now();
            ns.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
        }
        waitEmpty(log);
    }
    log.Terminate();
    log.WaitFor();
    std::sort(ns.begin(), ns.end());
    const auto at = [&](double q) { return ns[std::size_t(q * double(ns.size() - 1))]; };
    std::printf("Log() caller cost over %zu calls: median %lld ns, p99 %lld ns, p99.9 %lld ns, max %lld ns\n",
                ns.size(), static_cast<long long>(at(0.5)), static_cast<long long>(at(0.99)),
                static_cast<long long>(at(0.999)), static_cast<long long>(ns.back()));
}

void sustained(const QString &dir, int threads)
{
    constexpr int kTotal = 400000;
    TDiagLog log(dir, QStringLiteral("information"), QStringLiteral("bench"));
    const auto t0 = Clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int i = 0; i < kTotal / threads; ++i)
                log.LogFmt(QStringLiteral("Bench"), QStringLiteral("thread %d record %d"), { t, i }, lwInfo);
        });
    for (auto &t : pool)
        t.join();
    log.Terminate();
    log.WaitFor(); // the last transaction is committed
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf(
        "Sustained, %d producer(s): %d records in %.2f s = %.0f records/s into the day file, %llu dropped\n",
        threads, kTotal, s, kTotal / s, static_cast<unsigned long long>(log.DroppedCount()));
}

} // namespace

int main()
{
    QTemporaryDir tmp;
    if (!tmp.isValid())
        return 1;
    callerCost(tmp.filePath(QStringLiteral("cost")));
    sustained(tmp.filePath(QStringLiteral("one")), 1);
    sustained(tmp.filePath(QStringLiteral("four")), 4);
    return 0;
}
