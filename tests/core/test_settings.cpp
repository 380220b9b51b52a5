#include "core/globals.h"
#include "core/schema.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "core/sqlite.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

namespace {

class Settings : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;

    void SetUp() override
    {
        DB = new TSQLiteDatabase(sandbox.path(QStringLiteral("bundlewick.sqlite")));
        int iOld = 0, iNew = 0;
        TUpdateCheck::UpdateDatabase(*DB, iOld, iNew);
    }
    void TearDown() override
    {
        delete DB;
        DB = nullptr;
    }
    int Rows(const QString &sName)
    {
        return int(
            DB->GetTableValue(QStringLiteral("SELECT COUNT(*) FROM settings WHERE name = '%1'")
                                  .arg(QString(sName).replace(QLatin1Char('\''), QStringLiteral("''")))));
    }
    void FillEmail(const QString &sLogin)
    {
        SetSetting(QStringLiteral("Email server"), QStringLiteral("smtp.example.org"));
        SetSetting(QStringLiteral("Email username"), QStringLiteral("joe"));
        SetSetting(QStringLiteral("Email password"), QStringLiteral("secret"));
        SetSetting(QStringLiteral("Email port"), QStringLiteral("25"));
        SetSetting(QStringLiteral("Email from"), QStringLiteral("joe@example.org"));
        SetSetting(QStringLiteral("Email login"), sLogin);
    }
};

TEST_F(Settings, FreshDatabase)
{
    EXPECT_FALSE(EmailAvailable());
    EXPECT_FALSE(FTPAvailable());
    EXPECT_EQ(GetSetting(QStringLiteral("Log days")), QString());
}

TEST_F(Settings, EmailNeedsServerPortFromAndAnAccountOnlyForALogin)
{
    FillEmail(QStringLiteral("0"));
    EXPECT_TRUE(EmailAvailable());
    // Without a login the account is not needed at all.
    SetSetting(QStringLiteral("Email username"), QString());
    SetSetting(QStringLiteral("Email password"), QStringLiteral("  "));
    EXPECT_TRUE(EmailAvailable());
    SetSetting(QStringLiteral("Email login"), QString());
    EXPECT_TRUE(EmailAvailable());
    // With it, both must be there.
    SetSetting(QStringLiteral("Email login"), QStringLiteral("1"));
    EXPECT_FALSE(EmailAvailable());
    SetSetting(QStringLiteral("Email username"), QStringLiteral("joe"));
    EXPECT_FALSE(EmailAvailable());
    SetSetting(QStringLiteral("Email password"), QStringLiteral("secret"));
    EXPECT_TRUE(EmailAvailable());

    SetSetting(QStringLiteral("Email from"), QStringLiteral("   "));
    EXPECT_FALSE(EmailAvailable());
    SetSetting(QStringLiteral("Email from"), QStringLiteral("joe@example.org"));
    SetSetting(QStringLiteral("Email port"), QString());
    EXPECT_FALSE(EmailAvailable());
    SetSetting(QStringLiteral("Email port"), QStringLiteral("25"));
    SetSetting(QStringLiteral("Email server"), QString());
    EXPECT_FALSE(EmailAvailable());
}

TEST_F(Settings, FtpAndHints)
{
    SetSetting(QStringLiteral("FTP host"), QString());
    EXPECT_FALSE(FTPAvailable());
    SetSetting(QStringLiteral("FTP host"), QStringLiteral(" "));
    EXPECT_TRUE(FTPAvailable());

    // Hints are off only for exactly "0".
    EXPECT_TRUE(Setting::ShowHints.Get());
    SetSetting(QStringLiteral("Show hints"), QStringLiteral("0"));
    EXPECT_FALSE(Setting::ShowHints.Get());
    SetSetting(QStringLiteral("Show hints"), QStringLiteral("00"));
    EXPECT_TRUE(Setting::ShowHints.Get());
    SetSetting(QStringLiteral("Show hints"), QString());
    EXPECT_TRUE(Setting::ShowHints.Get());
}

TEST_F(Settings, QuotesInValueAndName)
{
    SetSetting(QStringLiteral("FTP directory"), QStringLiteral("/pub/'o'/x''y"));
    EXPECT_EQ(GetSetting(QStringLiteral("FTP directory")), QStringLiteral("/pub/'o'/x''y"));

    // A quote in the name must neither break the lookup nor add a second row.
    const QString sName = QStringLiteral("Bob's ' OR '1'='1");
    SetSetting(sName, QStringLiteral("one"));
    SetSetting(sName, QStringLiteral("two"));
    EXPECT_EQ(Rows(sName), 1);
    EXPECT_EQ(GetSetting(sName), QStringLiteral("two"));
    EXPECT_EQ(GetSetting(QStringLiteral("FTP directory")), QStringLiteral("/pub/'o'/x''y"));
}

TEST_F(Settings, UpdateKeepsOneRowAndStampsIt)
{
    SetSetting(QStringLiteral("Log days"), QStringLiteral("30"));
    DB->ExecSQL(QStringLiteral("UPDATE settings SET modified = '2000-01-01 00:00:00'"));
    SetSetting(QStringLiteral("Log days"), QString());
    EXPECT_EQ(Rows(QStringLiteral("Log days")), 1);
    EXPECT_EQ(GetSetting(QStringLiteral("Log days")), QString());
    EXPECT_EQ(
        DB->GetTableValue(QStringLiteral("SELECT modified > '2020' FROM settings WHERE name = 'Log days'")),
        1);
}

} // namespace
