#include "delivery/logquery.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "core/sqlite.h"
#include "core/winutils.h"
#include "delivery/deliverylog.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

namespace {

const QDate kDayZero(1899, 12, 30);

QString UtcText(const QDate &date, const QTime &time)
{
    return QDateTime(date, time).toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

QString LogColumnCaption(TLogColumn eColumn)
{
    switch (eColumn) {
    case TLogColumn::Success:
        return QStringLiteral("Success");
    case TLogColumn::Source:
        return QStringLiteral("Source");
    case TLogColumn::Filename:
        return QStringLiteral("Filename");
    case TLogColumn::Files:
        return QStringLiteral("Files");
    case TLogColumn::Method:
        return QStringLiteral("Method");
    case TLogColumn::Destination:
        return QStringLiteral("Destination");
    case TLogColumn::When:
        return QStringLiteral("When");
    }
    return QString();
}

int DateToDayCount(const QDate &date)
{
    return int(kDayZero.daysTo(date));
}

QDate DayCountToDate(int iDays)
{
    return kDayZero.addDays(iDays);
}

TLogFilter TLogFilter::Defaults()
{
    TLogFilter filter;
    filter.FromDate = DayCountToDate(Param::YearAgoDay());
    filter.ToDate = DayCountToDate(TodayDayCount());
    return filter;
}

TLogFilter TLogFilter::FromParams()
{
    TLogFilter filter;
    filter.Success = Param::LogFilterSuccess.Get();
    filter.Failure = Param::LogFilterFailure.Get();
    filter.ZipAndDeliver = Param::LogFilterZip.Get();
    filter.QuickSend = Param::LogFilterQuick.Get();
    filter.Email = Param::LogFilterEmail.Get();
    filter.File = Param::LogFilterFile.Get();
    filter.FTP = Param::LogFilterFTP.Get();
    filter.FileName = Param::LogFilterFilename.Get();
    filter.FromEnabled = Param::LogFilterFrom.Get();
    filter.ToEnabled = Param::LogFilterTo.Get();
    filter.FromDate = DayCountToDate(Param::LogFilterFromDate.Get());
    filter.ToDate = DayCountToDate(Param::LogFilterToDate.Get());
    return filter;
}

void TLogFilter::SaveParams() const
{
    Param::LogFilterSuccess.Set(Success);
    Param::LogFilterFailure.Set(Failure);
    Param::LogFilterZip.Set(ZipAndDeliver);
    Param::LogFilterQuick.Set(QuickSend);
    Param::LogFilterEmail.Set(Email);
    Param::LogFilterFile.Set(File);
    Param::LogFilterFTP.Set(FTP);
    Param::LogFilterFilename.Set(FileName);
    Param::LogFilterFrom.Set(FromEnabled);
    Param::LogFilterTo.Set(ToEnabled);
    Param::LogFilterFromDate.Set(DateToDayCount(FromDate));
    Param::LogFilterToDate.Set(DateToDayCount(ToDate));
}

QString TLogFilter::FilterSuccess() const
{
    if (Success == Failure)
        return QString();
    return Success ? QStringLiteral(" AND success = 1") : QStringLiteral(" AND success != 1");
}

QString TLogFilter::FilterSource() const
{
    if (ZipAndDeliver == QuickSend)
        return QString();
    return ZipAndDeliver ? QStringLiteral(" AND source = 1") : QStringLiteral(" AND source = 2");
}

QString TLogFilter::FilterFileName() const
{
    if (FileName.trimmed().isEmpty())
        return QString();
    // As typed: blanks around the text are part of what is looked for, and
    // "%" and "_" act as wildcards.
    return SQLFormat(QStringLiteral(" AND filename LIKE '%%%s%%'"), { SQLEscape(FileName) });
}

QString TLogFilter::FilterMethod() const
{
    QStringList codes;
    if (Email)
        codes << QStringLiteral("0");
    if (File)
        codes << QStringLiteral("1");
    if (FTP)
        codes << QStringLiteral("2");
    if (codes.size() == 3 || codes.isEmpty())
        return QString();
    return SQLFormat(QStringLiteral(" AND method IN (%s)"), { codes.join(QLatin1Char(',')) });
}

QString TLogFilter::FilterDates() const
{
    QString sDates;
    if (FromEnabled)
        sDates = SQLFormat(QStringLiteral(" AND modified >= '%s'"), { UtcText(FromDate, QTime(0, 0, 0)) });
    if (ToEnabled)
        sDates = SQLFormat(QStringLiteral("%s AND modified <= '%s'"),
                           { sDates, UtcText(ToDate, QTime(23, 59, 59)) });
    return sDates;
}

QString TLogFilter::Where() const
{
    return FilterSuccess() + FilterSource() + FilterFileName() + FilterMethod() + FilterDates();
}

QString TLogRow::Text(TLogColumn eColumn) const
{
    switch (eColumn) {
    case TLogColumn::Success:
        return SuccessText(Success);
    case TLogColumn::Source:
        return SourceText(Source);
    case TLogColumn::Filename:
        return FileName;
    case TLogColumn::Files:
        return QString::number(Files);
    case TLogColumn::Method:
        return MethodText(Method);
    case TLogColumn::Destination:
        return Destination;
    case TLogColumn::When:
        return Modified;
    }
    return QString();
}

QString TLogQuery::IdsSQL(const TLogFilter &oFilter, TLogColumn eSort, Qt::SortOrder eOrder)
{
    const bool bAscending = eOrder == Qt::AscendingOrder;
    const QString sDirection = bAscending ? QStringLiteral("ASC") : QStringLiteral("DESC");
    QString sOrder;
    switch (eSort) {
    case TLogColumn::Success:
        sOrder = QStringLiteral("success");
        break;
    case TLogColumn::Source:
        // Reversed: ascending lists QuickSend (2) before ZipAndDeliver (1).
        sOrder = QStringLiteral("source %1").arg(bAscending ? QStringLiteral("DESC") : QStringLiteral("ASC"));
        break;
    case TLogColumn::Filename:
        sOrder = QStringLiteral("filename");
        break;
    case TLogColumn::Files:
        sOrder = QStringLiteral("files");
        break;
    case TLogColumn::Method:
        sOrder = QStringLiteral("method");
        break;
    case TLogColumn::Destination:
        sOrder = QStringLiteral("destination");
        break;
    case TLogColumn::When:
        sOrder = QStringLiteral("modified");
        break;
    }
    if (eSort != TLogColumn::Source)
        sOrder += QLatin1Char(' ') + sDirection;
    // Text columns compare with the default BINARY collation: by character
    // codes, case-sensitive.
    return SQLFormat(QStringLiteral("SELECT id FROM log WHERE id > 0%s ORDER BY %s, id %s"),
                     { oFilter.Where(), sOrder, sDirection });
}

namespace {

QList<int> ReadIds(const QString &sSQL)
{
    QList<int> ids;
    auto table = DB->GetTable(sSQL);
    for (; table && !table->Eof(); table->Next())
        ids << int(table->FieldAsInteger(0));
    return ids;
}

} // namespace

QList<int> TLogQuery::Ids(const TLogFilter &oFilter, TLogColumn eSort, Qt::SortOrder eOrder)
{
    return ReadIds(IdsSQL(oFilter, eSort, eOrder));
}

QString TLogQuery::IdsInLogOrderSQL(const TLogFilter &oFilter)
{
    // Without ORDER BY the order would be whichever index SQLite picks for
    // the filter (a method filter walks the method index).
    return SQLFormat(QStringLiteral("SELECT id FROM log WHERE id > 0%s ORDER BY id"), { oFilter.Where() });
}

QList<int> TLogQuery::IdsInLogOrder(const TLogFilter &oFilter)
{
    return ReadIds(IdsInLogOrderSQL(oFilter));
}

QList<TLogRow> TLogQuery::Rows(const QList<int> &lIDs)
{
    if (lIDs.isEmpty())
        return {};
    QStringList numbers;
    numbers.reserve(lIDs.size());
    for (const int iID : lIDs)
        numbers << QString::number(iID);
    QHash<int, TLogRow> found;
    {
        auto table = DB->GetTableFmt(QStringLiteral("SELECT id, success, source, filename, files, method, "
                                                    "destination, modified, log FROM log WHERE id IN (%s)"),
                                     { numbers.join(QLatin1Char(',')) });
        for (; table && !table->Eof(); table->Next()) {
            TLogRow row;
            row.ID = int(table->FieldAsInteger(0));
            row.Success = int(table->FieldAsInteger(1));
            row.Source = int(table->FieldAsInteger(2));
            row.FileName = table->FieldAsString(3);
            row.Files = int(table->FieldAsInteger(4));
            row.Method = int(table->FieldAsInteger(5));
            row.Destination = table->FieldAsString(6);
            row.Modified = table->FieldAsString(7);
            row.Reason = table->FieldAsString(8);
            found.insert(row.ID, row);
        }
    }
    QList<TLogRow> rows;
    rows.reserve(lIDs.size());
    for (const int iID : lIDs) {
        const auto it = found.constFind(iID);
        if (it != found.constEnd())
            rows << *it;
    }
    return rows;
}
