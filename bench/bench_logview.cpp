// The delivery log viewer's list over 100,000 log rows: how long a filter
// refill and a sort by Destination take through the list's model, including
// the cells of one screenful. No window is shown.
#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "ui/logmodel.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 100000;
constexpr int kRuns = 7;
// Rows a maximised window shows at once.
constexpr int kVisibleRows = 40;

// Reads the cells of the first screenful, as painting does.
void ReadScreen(const TLogModel &model)
{
    const int iRows = std::min(model.rowCount(), kVisibleRows);
    for (int r = 0; r < iRows; ++r)
        for (int c = 0; c < LogColumnCount; ++c)
            (void)model.index(r, c).data();
}

void Measure(const char *sWhat, const std::function<void()> &fn)
{
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = Clock::now();
        fn();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-48s median %7.1f ms, min %7.1f ms, max %7.1f ms\n", sWhat, ms[ms.size() / 2], ms.front(),
                ms.back());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    TSQLiteDatabase db(dir.filePath(QStringLiteral("bundlewick.sqlite")));
    int iOld = 0, iNew = 0;
    TUpdateCheck::UpdateDatabase(db, iOld, iNew);
    DB = &db;
    // Rows like a busy year: mixed results, sources and methods, recipients
    // and folders from a few hundred destinations, one attempt every few minutes.
    db.ExecSQL(
        QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
                       "INSERT INTO log (success, source, filename, files, method, destination, modified) "
                       "SELECT (x % 7) != 0, 1 + (x % 5 = 0), 'Project' || (x % 97) || '_1.' || (x % 13) || "
                       "'.zip', x % 300, "
                       "x % 3, CASE x % 3 WHEN 0 THEN 'client' || (x * 7919 % 400) || '@example.org' "
                       "WHEN 1 THEN '/srv/drops/client' || (x * 104729 % 300) ELSE 'ftp' || (x % 50) || "
                       "'.example.com' END, "
                       "DATETIME('2025-01-01', '+' || (x * 5) || ' minutes') FROM n")
            .arg(kRows));
    std::printf("%lld log rows\n",
                static_cast<long long>(db.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM log"))));

    TLogModel model;
    TLogFilter all;
    TLogFilter narrow;
    narrow.Failure = false;
    narrow.File = false;
    narrow.FileName = QStringLiteral("Project1");

    Measure("refill, no filter (all rows, log order)", [&] {
        model.Refill(all);
        ReadScreen(model);
    });
    Measure("refill, success + method + file name filter", [&] {
        model.Refill(narrow);
        ReadScreen(model);
    });
    model.sort(-1);
    model.Refill(all);
    Qt::SortOrder order = Qt::AscendingOrder;
    Measure("sort by Destination (all rows, alternating)", [&] {
        model.sort(int(TLogColumn::Destination), order);
        ReadScreen(model);
        order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    });
    Measure("refill while sorted by Destination", [&] {
        model.Refill(all);
        ReadScreen(model);
    });
    Measure("sort by Source (all rows)", [&] {
        model.sort(int(TLogColumn::Source), Qt::AscendingOrder);
        ReadScreen(model);
    });
    // Scrolling the whole list: every page read once, few kept.
    const auto t0 = Clock::now();
    for (int r = 0; r < model.rowCount(); ++r)
        (void)model.index(r, int(TLogColumn::When)).data();
    std::printf("%-48s %7.1f ms, %d pages held of %d rows each\n", "scroll through every row once",
                std::chrono::duration<double, std::milli>(Clock::now() - t0).count(), model.CachedPages(),
                TLogModel::PageSize);
    std::printf("ids held: %lld (%lld KiB)\n", static_cast<long long>(model.Ids().size()),
                static_cast<long long>(model.Ids().size() * qsizetype(sizeof(int)) / 1024));
    DB = nullptr;
    return 0;
}
