#include "core/globals.h"
#include "core/regutils.h"
#include "core/schema.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "core/sqlite.h"
#include "support/testenv.h"

#include <QDate>
#include <gtest/gtest.h>
#include <memory>

namespace {

class SettingKeys : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    std::unique_ptr<TSQLiteDatabase> db;
    std::unique_ptr<TParams> params;

    void SetUp() override
    {
        db = std::make_unique<TSQLiteDatabase>(sandbox.path(QStringLiteral("bundlewick.sqlite")));
        int iOld = 0, iNew = 0;
        TUpdateCheck::UpdateDatabase(*db, iOld, iNew);
        DB = db.get();
        params = std::make_unique<TParams>(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        Params = params.get();
    }
    void TearDown() override
    {
        Params = nullptr;
        DB = nullptr;
    }
    QString stored(const QString &sName)
    {
        return db->QueryStringFmt(QStringLiteral("SELECT value FROM settings WHERE name = '%s'"), { sName });
    }
};

TEST_F(SettingKeys, NamesAreTheStoredOnes)
{
    // The names other code and stored databases already use.
    EXPECT_EQ(Setting::FTPHost.Name(), QStringLiteral("FTP host"));
    EXPECT_EQ(Setting::FTPDirectory.Name(), QStringLiteral("FTP directory"));
    EXPECT_EQ(Setting::FTPLogin.Name(), QStringLiteral("FTP login"));
    EXPECT_EQ(Setting::FTPPassword.Name(), QStringLiteral("FTP password"));
    EXPECT_EQ(Setting::FTPRetention.Name(), QStringLiteral("FTP retention"));
    EXPECT_EQ(Setting::FTPHttpPath.Name(), QStringLiteral("FTP http path"));
    EXPECT_EQ(Setting::ShowHints.Name(), QStringLiteral("Show hints"));
    EXPECT_EQ(Setting::HidePasswords.Name(), QStringLiteral("Hide passwords"));
    EXPECT_EQ(Setting::LogDays.Name(), QStringLiteral("Log days"));
    EXPECT_EQ(Setting::EmailServer.Name(), QStringLiteral("Email server"));
    EXPECT_EQ(Setting::EmailUsername.Name(), QStringLiteral("Email username"));
    EXPECT_EQ(Setting::EmailPassword.Name(), QStringLiteral("Email password"));
    EXPECT_EQ(Setting::EmailPort.Name(), QStringLiteral("Email port"));
    EXPECT_EQ(Setting::EmailFrom.Name(), QStringLiteral("Email from"));
    EXPECT_EQ(Setting::EmailLogin.Name(), QStringLiteral("Email login"));
    EXPECT_EQ(Setting::EmailFTP.Name(), QStringLiteral("EmailFTP"));

    EXPECT_EQ(Param::SettingsTab.Name(), QStringLiteral("Settings tab"));
    EXPECT_EQ(Param::LogFilterFTP.Name(), QStringLiteral("Log filter FTP"));
    EXPECT_EQ(Param::LogFilterFromDate.Name(), QStringLiteral("Log filter from date"));
    EXPECT_EQ(Param::AddFoldersRecursively.Name(), QStringLiteral("Add folders recursively"));
}

TEST_F(SettingKeys, FreshDatabaseReadsTheDefaults)
{
    EXPECT_EQ(Setting::FTPHost.Get(), QString());
    EXPECT_EQ(Setting::FTPRetention.Get(), 1);
    EXPECT_EQ(Setting::FTPRetention.Get(0), 0); // quick send's own default
    EXPECT_TRUE(Setting::ShowHints.Get());
    EXPECT_TRUE(Setting::HidePasswords.Get());
    EXPECT_EQ(Setting::HidePasswords.AsInt(0), 0);
    EXPECT_EQ(Setting::LogDays.Get(), 365);
    EXPECT_EQ(Setting::EmailPort.Get(), 0);
    EXPECT_FALSE(Setting::EmailLogin.Get());
    EXPECT_FALSE(Setting::EmailFTP.Get());
    // Reading never writes a row.
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM settings"), {}), 0);
}

TEST_F(SettingKeys, TypedWritesStoreText)
{
    Setting::LogDays.Set(30);
    Setting::EmailLogin.Set(true);
    Setting::ShowHints.Set(false);
    Setting::FTPPassword.Set(QStringLiteral("it's"));
    EXPECT_EQ(stored(QStringLiteral("Log days")), QStringLiteral("30"));
    EXPECT_EQ(stored(QStringLiteral("Email login")), QStringLiteral("1"));
    EXPECT_EQ(stored(QStringLiteral("Show hints")), QStringLiteral("0"));
    EXPECT_EQ(stored(QStringLiteral("FTP password")), QStringLiteral("it's"));
    EXPECT_EQ(Setting::LogDays.Get(), 30);
    EXPECT_FALSE(Setting::ShowHints.Get());
    EXPECT_EQ(Setting::FTPPassword.Get(), QStringLiteral("it's"));
    // A second write updates the one row.
    Setting::LogDays.Set(31);
    EXPECT_EQ(
        db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM settings WHERE name = 'Log days'"), {}), 1);
}

TEST_F(SettingKeys, IntegersFallBackOnBadText)
{
    SetSetting(QStringLiteral("Log days"), QStringLiteral("many"));
    EXPECT_EQ(Setting::LogDays.Get(), 365);
    SetSetting(QStringLiteral("Log days"), QString());
    EXPECT_EQ(Setting::LogDays.Get(), 365);
    SetSetting(QStringLiteral("Log days"), QStringLiteral(" 12 "));
    EXPECT_EQ(Setting::LogDays.Get(), 12);
    SetSetting(QStringLiteral("FTP retention"), QStringLiteral("x"));
    EXPECT_EQ(Setting::FTPRetention.Get(), 1);
    EXPECT_EQ(Setting::FTPRetention.Get(0), 0);
}

TEST_F(SettingKeys, FlagRulesFollowTheirReaders)
{
    struct TCase
    {
        const char *text;
        bool unlessZero, exactlyOne, integerOne;
    };
    const TCase cases[] = {
        { "0", false, false, false },  { "1", true, true, true },   { "01", true, false, true },
        { " 1", true, false, true },   { "2", true, false, false }, { "", true, false, false },
        { "yes", true, false, false },
    };
    for (const TCase &c : cases) {
        const QString sText = QString::fromLatin1(c.text);
        SetSetting(QStringLiteral("Show hints"), sText);
        SetSetting(QStringLiteral("Email login"), sText);
        SetSetting(QStringLiteral("EmailFTP"), sText);
        EXPECT_EQ(Setting::ShowHints.Get(), c.unlessZero) << c.text;
        EXPECT_EQ(Setting::EmailLogin.Get(), c.exactlyOne) << c.text;
        EXPECT_EQ(Setting::EmailFTP.Get(), c.integerOne) << c.text;
    }
}

TEST_F(SettingKeys, ParametersWithFixedDefaults)
{
    EXPECT_TRUE(Param::LogFilterSuccess.Get());
    EXPECT_FALSE(Param::LogFilterFrom.Get());
    EXPECT_EQ(Param::SettingsTab.Get(), 0);
    EXPECT_EQ(Param::LogFilterFilename.Get(), QString());
    EXPECT_FALSE(Param::LogFilterSuccess.Has());

    Param::LogFilterSuccess.Set(false);
    Param::SettingsTab.Set(2);
    Param::LogFilterFilename.Set(QStringLiteral("a'b"));
    EXPECT_TRUE(Param::LogFilterSuccess.Has());
    EXPECT_FALSE(Params->GetBool(QStringLiteral("log filter success"), true));
    EXPECT_EQ(Params->GetInt(QStringLiteral("Settings tab"), -1), 2);
    EXPECT_EQ(Param::LogFilterFilename.Get(), QStringLiteral("a'b"));
    EXPECT_EQ(Param::SettingsTab.Get(), 2);
    EXPECT_FALSE(Param::LogFilterSuccess.Get());

    // Written back and read again by the next run.
    params.reset();
    Params = nullptr;
    params = std::make_unique<TParams>(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
    Params = params.get();
    EXPECT_EQ(Param::SettingsTab.Get(), 2);
    EXPECT_FALSE(Param::LogFilterSuccess.Get());
}

TEST_F(SettingKeys, ParametersWithWorkedOutDefaults)
{
    const int iToday = int(QDate(1899, 12, 30).daysTo(QDate::currentDate()));
    EXPECT_EQ(TodayDayCount(), iToday);
    EXPECT_EQ(Param::LogFilterToDate.Get(), iToday);
    EXPECT_EQ(Param::LogFilterFromDate.Get(), iToday - 365);
    EXPECT_EQ(Param::LogOutputFolder.Get(), sandbox.root() + QStringLiteral("/home/Desktop"));
    EXPECT_EQ(Param::AddFileFolder.Get(), sandbox.root() + QStringLiteral("/home/Documents"));

    Param::LogFilterFromDate.Set(45000);
    Param::LogOutputFolder.Set(QStringLiteral("/srv/out"));
    EXPECT_EQ(Param::LogFilterFromDate.Get(), 45000);
    EXPECT_EQ(Param::LogOutputFolder.Get(), QStringLiteral("/srv/out"));
    // An empty value is a value: the default no longer applies.
    Param::LogOutputFolder.Set(QString());
    EXPECT_EQ(Param::LogOutputFolder.Get(), QString());
}

TEST_F(SettingKeys, WithoutAStoreParametersAreDefaults)
{
    Params = nullptr;
    Param::SettingsTab.Set(3);
    EXPECT_EQ(Param::SettingsTab.Get(), 0);
    EXPECT_TRUE(Param::RememberPositions.Get());
    EXPECT_FALSE(Param::LogFilterTo.Has());
}

} // namespace
