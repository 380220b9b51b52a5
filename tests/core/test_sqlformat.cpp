#include "core/daycount.h"
#include "core/exceptions.h"
#include "core/sqlformat.h"
#include "support/testenv.h"

#include <QLocale>
#include <clocale>
#include <gtest/gtest.h>
#include <string>

TEST(SQLFormat, Specifiers)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(SQLFormat(QStringLiteral("id = %d AND name = '%s' AND d > %g AND p LIKE '5%%'"),
                        { qint64(-7), QStringLiteral("it''s"), 1.5 }),
              QStringLiteral("id = -7 AND name = 'it''s' AND d > 1.5 AND p LIKE '5%'"));
    EXPECT_EQ(SQLFormat(QStringLiteral("%d"), { qint64(9007199254740993LL) }),
              QStringLiteral("9007199254740993"));
    EXPECT_EQ(SQLFormat(QStringLiteral("%g"), { 3 }), QStringLiteral("3"));
    EXPECT_EQ(SQLFormat(QStringLiteral("no args"), {}), QStringLiteral("no args"));
}

TEST(SQLFormat, MismatchThrows)
{
    bwtest::TestSandbox sandbox;
    EXPECT_THROW(SQLFormat(QStringLiteral("%d"), { QStringLiteral("1") }), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("%d"), { 1.0 }), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("%s"), { 1 }), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("%g"), { QStringLiteral("1") }), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("%d %d"), { 1 }), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("%d"), { 1, 2 }), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("%x"), { 1 }), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("50%"), {}), EFormatError);
    EXPECT_THROW(SQLFormat(QStringLiteral("%g"), { qInf() }), EFormatError);
}

TEST(SQLFormat, FloatGeneralFormat)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(FormatFloatG(0.0), QStringLiteral("0"));
    EXPECT_EQ(FormatFloatG(-0.0), QStringLiteral("0"));
    EXPECT_EQ(FormatFloatG(100.0), QStringLiteral("100"));
    EXPECT_EQ(FormatFloatG(-2.5), QStringLiteral("-2.5"));
    EXPECT_EQ(FormatFloatG(45351.5), QStringLiteral("45351.5"));
    EXPECT_EQ(FormatFloatG(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(FormatFloatG(2.0 / 3.0), QStringLiteral("0.666666666666667"));
    EXPECT_EQ(FormatFloatG(45351.123456789), QStringLiteral("45351.123456789"));
    EXPECT_EQ(FormatFloatG(0.00001), QStringLiteral("0.00001"));
    EXPECT_EQ(FormatFloatG(0.000009), QStringLiteral("9E-6"));
    EXPECT_EQ(FormatFloatG(-0.0000015), QStringLiteral("-1.5E-6"));
    EXPECT_EQ(FormatFloatG(123456789012345.0), QStringLiteral("123456789012345"));
    EXPECT_EQ(FormatFloatG(1e15), QStringLiteral("1E15"));
    EXPECT_EQ(FormatFloatG(1234567890123456.0), QStringLiteral("1.23456789012346E15"));
    // Rounding to 15 digits carries into a 16th digit before the point.
    EXPECT_EQ(FormatFloatG(999999999999999.9), QStringLiteral("1E15"));
}

TEST(SQLFormat, PointWhateverTheLocale)
{
    bwtest::TestSandbox sandbox;
    const QLocale saved;
    const std::string savedC = std::setlocale(LC_ALL, nullptr);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8"); // may be missing; the Qt default is enough
    ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    EXPECT_EQ(SQLFormat(QStringLiteral("%g;%g;%d"), { 1234.5, 1.5e-7, 1234567 }),
              QStringLiteral("1234.5;1.5E-7;1234567"));
    std::setlocale(LC_ALL, savedC.c_str());
    QLocale::setDefault(saved);
}

TEST(DayCount, KnownDays)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(DateTimeToDays(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
    EXPECT_EQ(DateTimeToDays(QDateTime(QDate(1899, 12, 31), QTime(12, 0))), 1.5);
    EXPECT_EQ(DateTimeToDays(QDateTime(QDate(1900, 1, 1), QTime(0, 0))), 2.0);
    EXPECT_EQ(DateTimeToDays(QDateTime(QDate(2024, 2, 29), QTime(12, 0))), 45351.5);
    EXPECT_EQ(DateTimeToDays(QDateTime(QDate(1899, 12, 29), QTime(12, 0))), -1.5);

    EXPECT_EQ(DaysToDateTime(45351.5), QDateTime(QDate(2024, 2, 29), QTime(12, 0)));
    EXPECT_EQ(DaysToDateTime(2.0), QDateTime(QDate(1900, 1, 1), QTime(0, 0)));
    EXPECT_EQ(DaysToDateTime(-1.5), QDateTime(QDate(1899, 12, 29), QTime(12, 0)));
    // Just below midnight rounds into the next day, not to 24:00.
    EXPECT_EQ(DaysToDateTime(45351.9999999999), QDateTime(QDate(2024, 3, 1), QTime(0, 0)));
}

TEST(DayCount, RoundTrip)
{
    bwtest::TestSandbox sandbox;
    const QDateTime t(QDate(2031, 7, 14), QTime(23, 59, 58, 123));
    EXPECT_EQ(DaysToDateTime(DateTimeToDays(t)), t);
    // Through the "%g" text, as the database stores it: 15 digits keep the millisecond.
    EXPECT_EQ(DaysToDateTime(FormatFloatG(DateTimeToDays(t)).toDouble()), t);
    const QDateTime utc = t.toUTC();
    EXPECT_EQ(DateTimeToDays(utc), DateTimeToDays(t));
    const double now = NowDays();
    EXPECT_GT(now, 45351.0);
    EXPECT_LT(qAbs(DateTimeToDays(QDateTime::currentDateTime()) - now), 1.0 / 24);
}
