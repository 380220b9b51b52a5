#include "core/regutils.h"
#include "core/settingkeys.h"
#include "delivery/logquery.h"
#include "deliverydb.h"

#include <QDate>
#include <gtest/gtest.h>
#include <time.h>

namespace {

// Local time two hours ahead of universal time, no daylight saving.
class FixedZone
{
public:
    FixedZone()
        : FOld(qgetenv("TZ"))
        , FHad(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", "XST-2");
        tzset();
    }
    ~FixedZone()
    {
        if (FHad)
            qputenv("TZ", FOld);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray FOld;
    bool FHad;
};

class LogQuery : public DeliveryDB
{
protected:
    FixedZone zone;

    void addLog(int iSuccess, int iSource, const QString &sFile, int iFiles, int iMethod,
                const QString &sDest, const QString &sWhen)
    {
        db->ExecSQLFmt(
            QStringLiteral("INSERT INTO log (success, source, filename, files, method, destination, "
                           "modified) VALUES (%d, %d, '%s', %d, %d, '%s', '%s')"),
            { iSuccess, iSource, SQLEscape(sFile), iFiles, iMethod, SQLEscape(sDest), sWhen });
    }
    // Ids 1 to 5.
    void addFive()
    {
        addLog(1, 1, QStringLiteral("Tool_1.0.zip"), 3, 0, QStringLiteral("ann@example.org"),
               QStringLiteral("2026-03-09 21:59:59"));
        addLog(0, 2, QStringLiteral("files.zip"), 2, 1, QStringLiteral("/out"),
               QStringLiteral("2026-03-09 22:00:00"));
        addLog(1, 2, QStringLiteral("O'Brien.zip"), 1, 2, QStringLiteral("ftp.example.org"),
               QStringLiteral("2026-03-10 21:59:59"));
        addLog(1, 1, QStringLiteral("tool_2.0.zip"), 5, 2, QStringLiteral("Ftp, Inc"),
               QStringLiteral("2026-03-10 22:00:00"));
        addLog(0, 1, QStringLiteral("Tool_1.0.zip"), 3, 0, QStringLiteral("bob@example.org"),
               QStringLiteral("2026-03-11 08:00:00"));
    }
    static QList<int> ids(const TLogFilter &filter)
    {
        return TLogQuery::Ids(filter, TLogColumn::When, Qt::AscendingOrder);
    }
    static QList<int> sorted(TLogColumn column, Qt::SortOrder order)
    {
        return TLogQuery::Ids(TLogFilter(), column, order);
    }
};

TEST_F(LogQuery, EverythingByDefault)
{
    addFive();
    const TLogFilter filter;
    EXPECT_EQ(filter.Where(), QString());
    EXPECT_EQ(ids(filter), QList<int>({ 1, 2, 3, 4, 5 }));
    EXPECT_EQ(TLogQuery::IdsSQL(filter, TLogColumn::When, Qt::AscendingOrder),
              QStringLiteral("SELECT id FROM log WHERE id > 0 ORDER BY modified ASC, id ASC"));
}

TEST_F(LogQuery, ResultSourceAndMethodFilters)
{
    addFive();
    TLogFilter filter;
    filter.Success = false;
    EXPECT_EQ(filter.FilterSuccess(), QStringLiteral(" AND success != 1"));
    EXPECT_EQ(ids(filter), QList<int>({ 2, 5 }));
    filter.Success = true;
    filter.Failure = false;
    EXPECT_EQ(filter.FilterSuccess(), QStringLiteral(" AND success = 1"));
    EXPECT_EQ(ids(filter), QList<int>({ 1, 3, 4 }));
    // Neither box reads as both, as the linked boxes make it.
    filter.Success = false;
    EXPECT_EQ(filter.FilterSuccess(), QString());

    filter = TLogFilter();
    filter.QuickSend = false;
    EXPECT_EQ(filter.FilterSource(), QStringLiteral(" AND source = 1"));
    EXPECT_EQ(ids(filter), QList<int>({ 1, 4, 5 }));
    filter.QuickSend = true;
    filter.ZipAndDeliver = false;
    EXPECT_EQ(ids(filter), QList<int>({ 2, 3 }));

    filter = TLogFilter();
    filter.File = false;
    EXPECT_EQ(filter.FilterMethod(), QStringLiteral(" AND method IN (0,2)"));
    EXPECT_EQ(ids(filter), QList<int>({ 1, 3, 4, 5 }));
    filter.Email = false;
    EXPECT_EQ(ids(filter), QList<int>({ 3, 4 }));
    filter.FTP = false;
    EXPECT_EQ(filter.FilterMethod(), QString());

    filter = TLogFilter();
    filter.Failure = false;
    filter.ZipAndDeliver = false;
    filter.Email = false;
    EXPECT_EQ(
        TLogQuery::IdsSQL(filter, TLogColumn::Files, Qt::DescendingOrder),
        QStringLiteral("SELECT id FROM log WHERE id > 0 AND success = 1 AND source = 2 AND method IN (1,2) "
                       "ORDER BY files DESC, id DESC"));
    EXPECT_EQ(ids(filter), QList<int>({ 3 }));
}

TEST_F(LogQuery, FileNameFilter)
{
    addFive();
    TLogFilter filter;
    filter.FileName = QStringLiteral("o'b");
    EXPECT_EQ(filter.FilterFileName(), QStringLiteral(" AND filename LIKE '%o''b%'"));
    EXPECT_EQ(ids(filter), QList<int>({ 3 }));
    filter.FileName = QStringLiteral("tool");
    EXPECT_EQ(ids(filter), QList<int>({ 1, 4, 5 }));
    // Blanks only: no filter. Blanks around a text are looked for.
    filter.FileName = QStringLiteral("   ");
    EXPECT_EQ(filter.FilterFileName(), QString());
    EXPECT_EQ(ids(filter), QList<int>({ 1, 2, 3, 4, 5 }));
    filter.FileName = QStringLiteral(" zip");
    EXPECT_EQ(ids(filter), QList<int>());
    // "_" is a wildcard of LIKE.
    filter.FileName = QStringLiteral("_2.");
    EXPECT_EQ(ids(filter), QList<int>({ 4 }));
}

TEST_F(LogQuery, DatesAreLocalWholeDaysInUniversalTime)
{
    addFive();
    TLogFilter filter;
    filter.FromDate = QDate(2026, 3, 10);
    filter.ToDate = QDate(2026, 3, 10);
    filter.FromEnabled = true;
    EXPECT_EQ(filter.FilterDates(), QStringLiteral(" AND modified >= '2026-03-09 22:00:00'"));
    EXPECT_EQ(ids(filter), QList<int>({ 2, 3, 4, 5 }));
    filter.FromEnabled = false;
    filter.ToEnabled = true;
    EXPECT_EQ(filter.FilterDates(), QStringLiteral(" AND modified <= '2026-03-10 21:59:59'"));
    EXPECT_EQ(ids(filter), QList<int>({ 1, 2, 3 }));
    filter.FromEnabled = true;
    EXPECT_EQ(filter.FilterDates(),
              QStringLiteral(" AND modified >= '2026-03-09 22:00:00' AND modified <= '2026-03-10 21:59:59'"));
    EXPECT_EQ(ids(filter), QList<int>({ 2, 3 }));
    // The last day before the first: nothing.
    filter.ToDate = QDate(2026, 3, 9);
    EXPECT_EQ(ids(filter), QList<int>());
}

TEST_F(LogQuery, EveryColumnSorts)
{
    addFive();
    EXPECT_EQ(sorted(TLogColumn::Success, Qt::AscendingOrder), QList<int>({ 2, 5, 1, 3, 4 }));
    // Source ascending puts QuickSend first.
    EXPECT_EQ(sorted(TLogColumn::Source, Qt::AscendingOrder), QList<int>({ 2, 3, 1, 4, 5 }));
    EXPECT_EQ(sorted(TLogColumn::Source, Qt::DescendingOrder), QList<int>({ 5, 4, 1, 3, 2 }));
    // By character codes: capitals before small letters.
    EXPECT_EQ(sorted(TLogColumn::Filename, Qt::AscendingOrder), QList<int>({ 3, 1, 5, 2, 4 }));
    EXPECT_EQ(sorted(TLogColumn::Filename, Qt::DescendingOrder), QList<int>({ 4, 2, 5, 1, 3 }));
    EXPECT_EQ(sorted(TLogColumn::Files, Qt::AscendingOrder), QList<int>({ 3, 2, 1, 5, 4 }));
    EXPECT_EQ(sorted(TLogColumn::Method, Qt::AscendingOrder), QList<int>({ 1, 5, 2, 3, 4 }));
    EXPECT_EQ(sorted(TLogColumn::Destination, Qt::AscendingOrder), QList<int>({ 2, 4, 1, 5, 3 }));
    EXPECT_EQ(sorted(TLogColumn::When, Qt::DescendingOrder), QList<int>({ 5, 4, 3, 2, 1 }));
    EXPECT_EQ(TLogQuery::IdsSQL(TLogFilter(), TLogColumn::Source, Qt::AscendingOrder),
              QStringLiteral("SELECT id FROM log WHERE id > 0 ORDER BY source DESC, id ASC"));
}

TEST_F(LogQuery, RowsOfAPageInTheOrderAsked)
{
    addFive();
    const QList<TLogRow> rows = TLogQuery::Rows({ 4, 2, 99 });
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].ID, 4);
    EXPECT_EQ(rows[1].ID, 2);
    QStringList texts;
    for (const TLogRow &row : rows) {
        QStringList cells;
        for (int c = 0; c < LogColumnCount; ++c)
            cells << row.Text(TLogColumn(c));
        texts << cells.join(QLatin1Char('|'));
    }
    EXPECT_EQ(
        texts,
        QStringList({ QStringLiteral("Yes|ZipAndDeliver|tool_2.0.zip|5|FTP|Ftp, Inc|2026-03-10 22:00:00"),
                      QStringLiteral("No|QuickSend|files.zip|2|File|/out|2026-03-09 22:00:00") }));
    EXPECT_TRUE(TLogQuery::Rows({}).isEmpty());

    db->ExecSQL(QStringLiteral("INSERT INTO log (success, source, method) VALUES (2, 5, 9)"));
    const TLogRow odd = TLogQuery::Rows({ 6 }).value(0);
    EXPECT_EQ(odd.Text(TLogColumn::Success), QStringLiteral("No"));
    EXPECT_EQ(odd.Reason, QString());
    db->ExecSQL(QStringLiteral("UPDATE log SET log = 'FTP failed: 550 No such directory' WHERE id = 6"));
    EXPECT_EQ(TLogQuery::Rows({ 6 }).value(0).Reason, QStringLiteral("FTP failed: 550 No such directory"));
    EXPECT_EQ(odd.Text(TLogColumn::Source), QString());
    EXPECT_EQ(odd.Text(TLogColumn::Method), QString());
}

TEST_F(LogQuery, FilterParameters)
{
    // Without a store: the defaults.
    const TLogFilter defaults = TLogFilter::Defaults();
    EXPECT_EQ(TLogFilter::FromParams(), defaults);
    EXPECT_EQ(DateToDayCount(defaults.ToDate), TodayDayCount());
    EXPECT_EQ(DateToDayCount(defaults.FromDate), TodayDayCount() - 365);
    EXPECT_EQ(DayCountToDate(46091), QDate(2026, 3, 10));

    TParams params(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
    Params = &params;
    TLogFilter filter = defaults;
    filter.Failure = false;
    filter.FTP = false;
    filter.FileName = QStringLiteral("it's");
    filter.ToEnabled = true;
    filter.ToDate = QDate(2026, 3, 10);
    filter.SaveParams();
    EXPECT_FALSE(params.GetBool(QStringLiteral("Log filter failure"), true));
    EXPECT_EQ(params.GetInt(QStringLiteral("Log filter to date"), 0), 46091);
    EXPECT_EQ(params.GetStr(QStringLiteral("Log filter filename")), QStringLiteral("it's"));
    EXPECT_EQ(TLogFilter::FromParams(), filter);
    Params = nullptr;
}

TEST_F(LogQuery, UnsortedListIsInIdOrderWhateverIndexTheFilterUses)
{
    addFive();
    TLogFilter filter;
    filter.File = false; // a method filter: SQLite may walk the method index
    EXPECT_EQ(TLogQuery::IdsInLogOrderSQL(filter),
              QStringLiteral("SELECT id FROM log WHERE id > 0 AND method IN (0,2) ORDER BY id"));
    EXPECT_EQ(TLogQuery::IdsInLogOrder(filter), QList<int>({ 1, 3, 4, 5 }));
    EXPECT_EQ(TLogQuery::IdsInLogOrder(TLogFilter()), QList<int>({ 1, 2, 3, 4, 5 }));
}

} // namespace
