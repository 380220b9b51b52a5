#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <Qt>

// The columns of the delivery log viewer, in their order.
enum class TLogColumn : int { Success, Source, Filename, Files, Method, Destination, When };
inline constexpr int LogColumnCount = 7;
// "Success", "Source", "Filename", "Files", "Method", "Destination", "When".
QString LogColumnCaption(TLogColumn eColumn);

// What the log viewer shows: the filter controls as values. A pair (or the
// three methods) with no box ticked counts as all ticked, as the viewer's
// linked check boxes never leave them so.
struct TLogFilter
{
    bool Success = true;
    bool Failure = true;
    bool ZipAndDeliver = true;
    bool QuickSend = true;
    bool Email = true;
    bool File = true;
    bool FTP = true;
    QString FileName; // part of the file name; blanks only: no filter
    bool FromEnabled = false;
    bool ToEnabled = false;
    QDate FromDate; // local dates, whole days
    QDate ToDate;

    // Everything shown; the dates a year ago and today.
    static TLogFilter Defaults();
    // The twelve "Log filter" parameters.
    static TLogFilter FromParams();
    void SaveParams() const;

    // The pieces of the query, each empty or " AND ...".
    QString FilterSuccess() const;
    QString FilterSource() const;
    QString FilterFileName() const;
    QString FilterMethod() const;
    // The From bound is local 00:00:00 of FromDate, the To bound local
    // 23:59:59 of ToDate, both in universal time as the log stores it.
    QString FilterDates() const;
    // All five in order.
    QString Where() const;

    bool operator==(const TLogFilter &) const = default;
};

// Whole days since 30 December 1899 and back: the form of the date parameters.
int DateToDayCount(const QDate &date);
QDate DayCountToDate(int iDays);

// One row of the log table.
struct TLogRow
{
    int ID = 0;
    int Success = 0; // 1 succeeded
    int Source = 0; // lsZipAndDeliver, lsQuickSend
    QString FileName;
    int Files = 0;
    int Method = 0; // TSendKind
    QString Destination;
    QString Modified; // "yyyy-mm-dd hh:mm:ss", universal time
    QString Reason; // why a failed attempt failed; empty for older rows

    // The cell text of a column: "Yes" or "No", "ZipAndDeliver",
    // "QuickSend" or empty, the file name, the count, "Email", "File", "FTP"
    // or empty, the destination, the time as stored.
    QString Text(TLogColumn eColumn) const;

    bool operator==(const TLogRow &) const = default;
};

// The log viewer's reads: one query for the ids that match a filter in the
// chosen order, and one for the rows of a page of ids.
//
//   const QList<int> ids = TLogQuery::Ids(filter, TLogColumn::When, Qt::DescendingOrder);
//   const QList<TLogRow> page = TLogQuery::Rows(ids.mid(iFirst, 100));
//
// Orders: Success, Files and Method numerically; Source numerically reversed
// (ascending puts QuickSend before ZipAndDeliver); Filename, Destination and
// When by character codes, case-sensitive. Rows that tie are ordered by id in
// the same direction, so descending is ascending reversed.
// Database failures raise ESQLiteException.
class TLogQuery
{
public:
    // The statement Ids runs.
    static QString IdsSQL(const TLogFilter &oFilter, TLogColumn eSort, Qt::SortOrder eOrder);
    static QList<int> Ids(const TLogFilter &oFilter, TLogColumn eSort = TLogColumn::When,
                          Qt::SortOrder eOrder = Qt::AscendingOrder);
    // Unsorted: the ids in ascending order, oldest attempt first.
    static QString IdsInLogOrderSQL(const TLogFilter &oFilter);
    static QList<int> IdsInLogOrder(const TLogFilter &oFilter);
    // The rows of the ids, in the order of the ids; ids without a row are left out.
    static QList<TLogRow> Rows(const QList<int> &lIDs);
};
