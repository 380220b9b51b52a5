#pragma once

#include <QDateTime>

// Day counts: local date and time as days since 30 December 1899 00:00, the
// fraction being the time of day (1.5 is 31 December 1899 12:00). Dates before
// that day count backwards with the time of day subtracted (-1.5 is
// 29 December 1899 12:00), as the format has always done.

// A date-time in another time zone is converted to local time first.
double DateTimeToDays(const QDateTime &local);
// Local time, rounded to the millisecond.
QDateTime DaysToDateTime(double days);
double NowDays();
