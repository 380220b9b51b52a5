#include "archive/zipengine.h"
#include "core/globals.h"
#include "core/regutils.h"
#include "core/settingkeys.h"
#include "core/sqlite.h"
#include "delivery/errorreport.h"
#include "deliverydb.h"
#include "support/servers.h"
#include "support/zipreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

class ErrorReport : public DeliveryDB
{
protected:
    std::unique_ptr<TParams> params;
    QString dataDir;

    void SetUp() override
    {
        DeliveryDB::SetUp();
        dataDir = sandbox.root() + QStringLiteral("/");
        AppDataDir = dataDir;
        params = std::make_unique<TParams>(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        Params = params.get();
    }
    void TearDown() override
    {
        Params = nullptr;
        params.reset();
        AppDataDir.clear();
        DeliveryDB::TearDown();
    }
    static QByteArray entry(const QString &zip, const QString &name)
    {
        return bwtest::ZipReader(zip).read(name).value_or(QByteArray());
    }
};

TEST(ReportTexts, TimeVersionAndRemoteName)
{
    EXPECT_EQ(ReportTimeText(QDateTime(QDate(2012, 2, 15), QTime(15, 5, 7))),
              QStringLiteral("3.05pm Wednesday 15 February 2012"));
    EXPECT_EQ(ReportTimeText(QDateTime(QDate(2012, 2, 16), QTime(0, 30))),
              QStringLiteral("12.30am Thursday 16 February 2012"));
    EXPECT_EQ(BugReportRemoteName(QStringLiteral("1.2.3 build 45"),
                                  QStringLiteral("Ann O'Neil: \"a/b\\c*?<>|\""),
                                  QDateTime(QDate(2012, 2, 15), QTime(15, 5, 7))),
              QStringLiteral("Bug_1-2-3_AnnONeilabc_20120215-150507.zip"));
}

TEST(ReportTexts, DataTextLeavesOutPositionsAndStartsWithTheNotes)
{
    const QDateTime compiled(QDate(2012, 2, 15), QTime(15, 5));
    const QString params = QStringLiteral(
        "frmMain Left=10\nLog filter filename=it's\nMain Tab=2\nMain Tabs=x\nReport server=\nfrmLog Top=3\n");
    const QString version = QStringLiteral("\r\n\r\n\r\n\r\nVERSION\r\nBundlewick version 1.2.3 build 45 "
                                           "compiled 3.05pm Wednesday 15 February 2012\r\n\r\n\r\n");
    const QString registry = QStringLiteral("\r\n\r\n\r\n\r\nREGISTRY\r\nLog filter filename=it's\r\n"
                                            "Report server=\r\n");
    EXPECT_EQ(DataReportText(QStringLiteral(" \n "), QStringLiteral("1.2.3 build 45"), compiled, params),
              version + registry);
    EXPECT_EQ(DataReportText(QStringLiteral("When this error happened I was ...\nsaving"),
                             QStringLiteral("1.2.3 build 45"), compiled, params),
              QStringLiteral("USER NOTES\r\nWhen this error happened I was ...\r\nsaving\r\n") + version
                  + registry);
}

TEST_F(ErrorReport, DataZipHoldsTheDatabaseTheTextAndTheCurrentLog)
{
    Params->SetInt(QStringLiteral("frmMain Left"), 10);
    Params->SetStr(QStringLiteral("Main Tab"), QStringLiteral("1"));
    Params->SetStr(QStringLiteral("Log filter filename"), QStringLiteral("tool"));
    db->ExecSQL(QStringLiteral("INSERT INTO settings (name, value) VALUES ('FTP password', 'pa55')"));
    TZipEngine zip;
    // No "current.sqlite": two entries. An old data.txt is not packed.
    sandbox.writeFile(QStringLiteral("data.txt"), "stale");
    ASSERT_TRUE(TReportSender::SaveReport(zip, QStringLiteral("I was saving")));
    const QString dataZip = dataDir + QStringLiteral("data.zip");
    EXPECT_EQ(bwtest::ZipReader(dataZip).names(),
              QStringList({ QStringLiteral("bundlewick.sqlite"), QStringLiteral("data.txt") }));
    EXPECT_EQ(QFileInfo(dataZip).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
              QFileDevice::Permissions());
    EXPECT_FALSE(QFile::exists(dataDir + QStringLiteral("data.txt")));
    const QString text = QString::fromUtf8(entry(dataZip, QStringLiteral("data.txt")));
    EXPECT_TRUE(text.startsWith(QStringLiteral("USER NOTES\r\nI was saving\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\r\nLog filter filename=tool\r\n")));
    EXPECT_FALSE(text.contains(QStringLiteral("frmMain")));
    EXPECT_FALSE(text.contains(QStringLiteral("Main Tab")));

    sandbox.writeFile(QStringLiteral("current.sqlite"), "log copy");
    ASSERT_TRUE(TReportSender::SaveReport(zip, QString()));
    EXPECT_EQ(bwtest::ZipReader(dataZip).names(),
              QStringList({ QStringLiteral("bundlewick.sqlite"), QStringLiteral("data.txt"),
                            QStringLiteral("current.sqlite") }));
    EXPECT_EQ(entry(dataZip, QStringLiteral("current.sqlite")), QByteArray("log copy"));
    EXPECT_TRUE(QString::fromUtf8(entry(dataZip, QStringLiteral("data.txt")))
                    .startsWith(QStringLiteral("\r\n\r\n\r\n\r\nVERSION\r\n")));
}

TEST_F(ErrorReport, ReportZipClosesAndReopensTheDatabase)
{
    db->ExecSQL(QStringLiteral("INSERT INTO settings (name, value) VALUES ('Log days', '30')"));
    // ReportZip frees DB and opens a new one: hand it a database of its own.
    DB = new TSQLiteDatabase(dataDir + QStringLiteral("bundlewick.sqlite"));
    db.reset();
    ReportZip(QStringLiteral("notes"));
    ASSERT_NE(DB, nullptr);
    EXPECT_EQ(DB->GetTableValue(QStringLiteral("SELECT COUNT(*) FROM settings WHERE name = 'Log days'")), 1);
    EXPECT_EQ(bwtest::ZipReader(dataDir + QStringLiteral("data.zip")).names().size(), 2);
    // The packed database is a whole one.
    const QString unpacked = dataDir + QStringLiteral("unpacked.sqlite");
    QFile out(unpacked);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(entry(dataDir + QStringLiteral("data.zip"), QStringLiteral("bundlewick.sqlite")));
    out.close();
    {
        TSQLiteDatabase copy(unpacked);
        EXPECT_EQ(copy.GetTableValue(QStringLiteral("SELECT COUNT(*) FROM settings WHERE value = '30'")), 1);
    }
    delete DB;
    DB = nullptr;
}

TEST_F(ErrorReport, PackingFailureIsLoggedAndLeavesNoText)
{
    // A folder where the database should be: it cannot be packed.
    ASSERT_TRUE(QDir().mkpath(dataDir + QStringLiteral("sub")));
    AppDataDir = dataDir + QStringLiteral("sub/");
    ASSERT_TRUE(QDir().mkpath(AppDataDir + QStringLiteral("bundlewick.sqlite")));
    TZipEngine zip;
    EXPECT_FALSE(TReportSender::SaveReport(zip, QString()));
    EXPECT_FALSE(QFile::exists(AppDataDir + QStringLiteral("data.txt")));
    EXPECT_FALSE(QFile::exists(AppDataDir + QStringLiteral("data.zip")));
}

TEST_F(ErrorReport, BugReportHoldsOnlyTheErrorAndGoesNowhereByDefault)
{
    ASSERT_TRUE(SaveBugReport(QStringLiteral("boom"), StackTraceText()));
    const QString bug = dataDir + QStringLiteral("BugReport.zip");
    EXPECT_EQ(bwtest::ZipReader(bug).names(), QStringList({ QStringLiteral("BugReport.txt") }));
    const QString text = QString::fromUtf8(entry(bug, QStringLiteral("BugReport.txt")));
    EXPECT_TRUE(text.startsWith(QStringLiteral("ERROR\r\nboom\r\n\r\nVERSION\r\nBundlewick version ")));
    EXPECT_TRUE(text.contains(QStringLiteral("STACK\r\n")));
    EXPECT_FALSE(QFile::exists(dataDir + QStringLiteral("BugReport.txt")));
    EXPECT_EQ(QFileInfo(bug).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
              QFileDevice::Permissions());

    EXPECT_FALSE(TReportSender::UploadConfigured());
    TReportSender sender;
    EXPECT_FALSE(sender.StartUpload());
    EXPECT_FALSE(sender.WaitForUpload());
    EXPECT_TRUE(QFile::exists(bug));
}

TEST_F(ErrorReport, BugReportIsUploadedToTheConfiguredServerAndThenDeleted)
{
    const QString home = sandbox.root() + QStringLiteral("/ftphome");
    ASSERT_TRUE(QDir().mkpath(home));
    bwtest::FtpServer server(QStringLiteral("reports"), QStringLiteral("r3ports"), home);
    ASSERT_TRUE(SaveBugReport(QStringLiteral("boom"), QString()));
    Param::ReportServer.Set(server.host());
    Param::ReportLogin.Set(QStringLiteral("reports"));
    // A wrong password first: the report stays for a later attempt.
    Param::ReportPassword.Set(QStringLiteral("wrong"));
    {
        TReportSender sender;
        ASSERT_TRUE(sender.StartUpload());
        EXPECT_FALSE(sender.WaitForUpload());
    }
    EXPECT_TRUE(QFile::exists(dataDir + QStringLiteral("BugReport.zip")));
    Param::ReportPassword.Set(QStringLiteral("r3ports"));
    TReportSender sender;
    ASSERT_TRUE(sender.StartUpload());
    EXPECT_TRUE(sender.WaitForUpload());
    EXPECT_FALSE(QFile::exists(dataDir + QStringLiteral("BugReport.zip")));
    const QStringList uploaded = QDir(home).entryList(QDir::Files);
    ASSERT_EQ(uploaded.size(), 1);
    EXPECT_TRUE(uploaded.first().startsWith(QStringLiteral("Bug_")));
    EXPECT_EQ(bwtest::ZipReader(home + QLatin1Char('/') + uploaded.first()).names(),
              QStringList({ QStringLiteral("BugReport.txt") }));
}

} // namespace
