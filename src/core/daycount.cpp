#include "core/daycount.h"

#include <cmath>

namespace {

constexpr qint64 msPerDay = 86400000;

QDate epoch()
{
    return QDate(1899, 12, 30);
}

} // namespace

double DateTimeToDays(const QDateTime &local)
{
    const QDateTime dt = local.timeSpec() == Qt::LocalTime ? local : local.toLocalTime();
    const qint64 day = epoch().daysTo(dt.date());
    const double time = double(dt.time().msecsSinceStartOfDay()) / msPerDay;
    // Before the epoch the day counts down while the time still counts up.
    return day < 0 ? double(day) - time : double(day) + time;
}

QDateTime DaysToDateTime(double days)
{
    if (!std::isfinite(days))
        return QDateTime();
    double dayPart = std::trunc(days);
    qint64 ms = std::llround(std::fabs(days - dayPart) * msPerDay);
    if (ms >= msPerDay) {
        ms -= msPerDay;
        dayPart += days < 0 ? -1 : 1;
    }
    const QDate date = epoch().addDays(qint64(dayPart));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

double NowDays()
{
    return DateTimeToDays(QDateTime::currentDateTime());
}
