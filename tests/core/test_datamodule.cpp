#include "app/startup.h"
#include "core/appfolders.h"
#include "core/globals.h"
#include "core/regutils.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "data/fdata.h"
#include "diagnostics/diaglog.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// One run of the program's start and end around a test body.
class DataModule : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString dataDir = sandbox.root() + QStringLiteral("/data/bundlewick/");

    void Start()
    {
        ProcessInit();
        FData = new TFData();
    }
    void Stop() { ProcessFinal(); }
    void TearDown() override
    {
        if (FData || Params)
            ProcessFinal();
    }

    // A database at the current schema, made before the program starts.
    std::unique_ptr<TSQLiteDatabase> Prepare()
    {
        QDir().mkpath(dataDir);
        auto db = std::make_unique<TSQLiteDatabase>(dataDir + QStringLiteral("bundlewick.sqlite"));
        int iOld = 0, iNew = 0;
        TUpdateCheck::UpdateDatabase(*db, iOld, iNew);
        return db;
    }
    QStringList Strings(TSQLiteDatabase &db, const QString &sql)
    {
        QStringList out;
        db.GetTableStrings(sql, out);
        return out;
    }
    // The one diagnostics day file written so far.
    std::unique_ptr<TSQLiteDatabase> DayFile()
    {
        const QStringList files = QDir(dataDir).entryList({ QStringLiteral("20*.sqlite") }, QDir::Files);
        EXPECT_EQ(files.size(), 1);
        return std::make_unique<TSQLiteDatabase>(dataDir + files.value(0));
    }
};

TEST_F(DataModule, FirstStartOnCleanAccount)
{
    ASSERT_FALSE(QDir(dataDir).exists());
    Start();
    EXPECT_EQ(AppDataDir, dataDir);
    EXPECT_TRUE(QFile::exists(dataDir + QStringLiteral("bundlewick.sqlite")));
    EXPECT_EQ(DB->GetTableValue(QStringLiteral("SELECT MAX(version) FROM version")), 5);
    EXPECT_EQ(FData->GetLogFlags(), QStringLiteral("information"));
    EXPECT_EQ(FData->tmExpire->objectName(), QStringLiteral("tmExpire"));
    EXPECT_EQ(FData->tmExpire->interval(), 30000);
    EXPECT_TRUE(FData->tmExpire->isActive());
    int iExpired = 0;
    FData->OnExpire = [&iExpired] { ++iExpired; };
    FData->tmExpireTimer();
    EXPECT_EQ(iExpired, 1);
    Stop();
    EXPECT_EQ(DB, nullptr);
    EXPECT_EQ(DiagLog, nullptr);
    EXPECT_EQ(FData, nullptr);
    EXPECT_EQ(Params, nullptr);
    EXPECT_TRUE(AppDataDir.isEmpty());

    auto day = DayFile();
    EXPECT_EQ(day->GetTableValue(QStringLiteral("SELECT COUNT(*) FROM sessions")), 1);
    EXPECT_EQ(
        Strings(*day, QStringLiteral("SELECT `where` || '|' || what || '|' || why FROM events ORDER BY id")),
        QStringList({ QStringLiteral("TFData|DataModuleCreate|2"),
                      QStringLiteral("TFData|Database updated from version 0 to 5|2"),
                      QStringLiteral("TFData|DataModuleDestroy|2") }));
}

TEST_F(DataModule, StartAtCurrentVersionLogsNoUpgrade)
{
    Prepare().reset();
    Start();
    Stop();
    Start();
    Stop();
    auto day = DayFile();
    EXPECT_EQ(day->GetTableValue(QStringLiteral("SELECT COUNT(*) FROM sessions")), 2);
    EXPECT_EQ(day->GetTableValue(QStringLiteral("SELECT COUNT(*) FROM events WHERE what LIKE 'Database%'")),
              0);
    EXPECT_EQ(
        day->GetTableValue(QStringLiteral("SELECT COUNT(*) FROM events WHERE what = 'DataModuleCreate'")), 2);
}

// Rows are stamped relative to the database's clock; a run that straddles a
// second boundary cannot judge the row at the limit and is repeated.
TEST_F(DataModule, PruneLogKeepsTheRowAtTheLimit)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString before = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        {
            auto db = Prepare();
            db->ExecSQL(QStringLiteral("DELETE FROM log"));
            db->ExecSQL(QStringLiteral("DELETE FROM settings"));
            db->ExecSQL(QStringLiteral("INSERT INTO settings (name, value) VALUES ('Log days', '30')"));
            const std::pair<const char *, const char *> rows[] = { { "younger", "'-29 DAYS', '-23 HOURS'" },
                                                                   { "limit", "'-30 DAYS'" },
                                                                   { "older", "'-30 DAYS', '-1 SECONDS'" },
                                                                   { "oldest", "'-31 DAYS'" } };
            for (const auto &[name, age] : rows)
                db->ExecSQL(
                    QStringLiteral("INSERT INTO log (filename, modified) VALUES ('%1', DATETIME('NOW', %2))")
                        .arg(QLatin1String(name), QLatin1String(age)));
        }
        Start();
        const QString after = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        const QStringList kept = Strings(*DB, QStringLiteral("SELECT filename FROM log ORDER BY id"));
        Stop();
        if (before != after)
            continue;
        EXPECT_EQ(kept, QStringList({ QStringLiteral("younger"), QStringLiteral("limit") }));
        return;
    }
    FAIL() << "every attempt straddled a second";
}

TEST_F(DataModule, PruneLogDefaultsTo365Days)
{
    for (const QString &days : { QString(), QStringLiteral("abc"), QStringLiteral("-5") }) {
        {
            auto db = Prepare();
            db->ExecSQL(QStringLiteral("DELETE FROM log"));
            db->ExecSQL(QStringLiteral("DELETE FROM settings"));
            if (!days.isEmpty())
                db->ExecSQL(
                    QStringLiteral("INSERT INTO settings (name, value) VALUES ('Log days', '%1')").arg(days));
            db->ExecSQL(QStringLiteral(
                "INSERT INTO log (filename, modified) VALUES ('new', DATETIME('NOW', '-364 DAYS'))"));
            db->ExecSQL(QStringLiteral(
                "INSERT INTO log (filename, modified) VALUES ('old', DATETIME('NOW', '-366 DAYS'))"));
        }
        Start();
        const QStringList kept = Strings(*DB, QStringLiteral("SELECT filename FROM log ORDER BY id"));
        Stop();
        // "-5" makes the date modifier invalid: nothing is deleted.
        const QStringList expected = days == QStringLiteral("-5")
            ? QStringList({ QStringLiteral("new"), QStringLiteral("old") })
            : QStringList({ QStringLiteral("new") });
        EXPECT_EQ(kept, expected) << days.toStdString();
    }
}

TEST_F(DataModule, VerboseDebuggingLastsOneRun)
{
    ProcessInit();
    Params->SetBool(QStringLiteral("Verbose debugging"), true);
    FData = new TFData();
    EXPECT_EQ(FData->GetLogFlags(), QStringLiteral("information,sql,verbose"));
    EXPECT_FALSE(Params->GetBool(QStringLiteral("Verbose debugging"), true));
    Stop();
    TParams reread(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"), ParamsFileName());
    EXPECT_EQ(reread.GetStr(QStringLiteral("Verbose debugging")), QStringLiteral("0"));
}

TEST_F(DataModule, DownloadedFileIsDeletedOnce)
{
    const QString sDownloads = dataDir + QStringLiteral("download/");
    QDir().mkpath(sDownloads);
    const QString missing = sDownloads + QStringLiteral("gone.exe");
    ProcessInit();
    EXPECT_EQ(TFData::DownloadDir(), sDownloads);
    Params->SetStr(QStringLiteral("Download file"), missing);
    FData = new TFData();
    EXPECT_EQ(Params->GetStr(QStringLiteral("Download file")), missing);
    Stop();

    const QString present = sandbox.writeFile(QStringLiteral("data/bundlewick/download/setup.exe"), "MZ");
    ProcessInit();
    Params->SetStr(QStringLiteral("Download file"), present);
    FData = new TFData();
    EXPECT_FALSE(QFile::exists(present));
    EXPECT_EQ(Params->GetStr(QStringLiteral("Download file"), QStringLiteral("x")), QString());
    Stop();
}

// A stored value is only trusted to name a file of the program's own
// download folder; anything else is forgotten, never deleted.
TEST_F(DataModule, DownloadFileOutsideTheDownloadFolderIsKept)
{
    const QString sDownloads = dataDir + QStringLiteral("download/");
    QDir().mkpath(sDownloads);
    const QString precious = sandbox.writeFile(QStringLiteral("home/thesis.tex"), "work of years");
    const QString sibling = sandbox.writeFile(QStringLiteral("data/bundlewick/download-x/a.exe"), "x");
    QDir().mkpath(sandbox.root() + QStringLiteral("/home/docs"));
    const QString linked = sandbox.writeFile(QStringLiteral("home/docs/b.txt"), "x");
    ASSERT_TRUE(
        QFile::link(sandbox.root() + QStringLiteral("/home/docs"), sDownloads + QStringLiteral("docs")));
    const QStringList hostile = {
        precious,
        sDownloads + QStringLiteral("../../../../home/thesis.tex"),
        sibling,
        sDownloads + QStringLiteral("docs/b.txt"),
        dataDir + QStringLiteral("bundlewick.sqlite"),
        sDownloads, // the folder itself
        QStringLiteral("relative.exe"),
    };
    Prepare().reset();
    for (const QString &sValue : hostile) {
        ProcessInit();
        Params->SetStr(QStringLiteral("Download file"), sValue);
        FData = new TFData();
        EXPECT_EQ(Params->GetStr(QStringLiteral("Download file"), QStringLiteral("x")), QString())
            << sValue.toStdString();
        Stop();
    }
    for (const QString &sFile : { precious, sibling, linked, dataDir + QStringLiteral("bundlewick.sqlite") })
        EXPECT_TRUE(QFile::exists(sFile)) << sFile.toStdString();
    EXPECT_TRUE(QFileInfo(sDownloads).isDir());
}

namespace {
mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 07777;
}
} // namespace

TEST_F(DataModule, PasswordsStayPrivate)
{
    const mode_t oldMask = ::umask(022);
    const QString configDir = sandbox.root() + QStringLiteral("/config/bundlewick/");
    Start();
    Params->SetStr(QStringLiteral("Some value"), QStringLiteral("x"));
    Stop();
    EXPECT_EQ(modeOf(dataDir), 0700u);
    EXPECT_EQ(modeOf(dataDir + QStringLiteral("bundlewick.sqlite")), 0600u);
    const QStringList days = QDir(dataDir).entryList({ QStringLiteral("20*.sqlite") }, QDir::Files);
    ASSERT_EQ(days.size(), 1);
    EXPECT_EQ(modeOf(dataDir + days[0]), 0600u);
    EXPECT_EQ(modeOf(configDir), 0700u);
    const QStringList configFiles = QDir(configDir).entryList(QDir::Files);
    ASSERT_EQ(configFiles.size(), 1);
    EXPECT_EQ(modeOf(configDir + configFiles[0]), 0600u);

    // What an earlier version left readable is tightened at the next start.
    const QStringList loose = { dataDir + QStringLiteral("bundlewick.sqlite"), dataDir + days[0],
                                dataDir + QStringLiteral("bundlewick.sqlite-journal"),
                                dataDir + QStringLiteral("current.sqlite"), configDir + configFiles[0] };
    for (const QString &file : loose) {
        if (!QFile::exists(file))
            sandbox.writeFile(file.mid(sandbox.root().size() + 1), "");
        ::chmod(QFile::encodeName(file).constData(), 0644);
    }
    ::chmod(QFile::encodeName(dataDir).constData(), 0755);
    ::chmod(QFile::encodeName(configDir).constData(), 0755);
    ProcessInit();
    EXPECT_EQ(modeOf(dataDir), 0700u);
    EXPECT_EQ(modeOf(configDir), 0700u);
    EXPECT_EQ(modeOf(configDir + configFiles[0]), 0600u);
    EXPECT_EQ(modeOf(dataDir + days[0]), 0600u);
    EXPECT_EQ(modeOf(dataDir + QStringLiteral("current.sqlite")), 0600u);
    EXPECT_EQ(modeOf(dataDir + QStringLiteral("bundlewick.sqlite-journal")), 0600u);
    FData = new TFData();
    EXPECT_EQ(modeOf(dataDir + QStringLiteral("bundlewick.sqlite")), 0600u);
    Stop();
    ::umask(oldMask);
}

TEST_F(DataModule, FailedOpenLeavesNothingRunning)
{
    QDir().mkpath(dataDir + QStringLiteral("bundlewick.sqlite"));
    ProcessInit();
    EXPECT_THROW(FData = new TFData(), ESQLiteException);
    EXPECT_EQ(FData, nullptr);
    EXPECT_EQ(DB, nullptr);
    EXPECT_EQ(DiagLog, nullptr);
    Stop();
}

TEST(DataModuleHelpers, IssetAndVersions)
{
    EXPECT_FALSE(TFData::Isset(999999999));
    EXPECT_TRUE(TFData::Isset(0));
    EXPECT_TRUE(TFData::Isset(-1));
    EXPECT_EQ(TFData::ShortAppVersion(QStringLiteral("1.0.5 build 7")), QStringLiteral("1 BETA"));
    EXPECT_EQ(TFData::ShortAppVersion(QStringLiteral("1.2.3 build 83")), QStringLiteral("1.2"));
    EXPECT_EQ(TFData::ShortAppVersion(QStringLiteral("2.3.10 build 1")), QStringLiteral("2.3"));
}

TEST(SingleInstance, SecondLockFailsUntilReleased)
{
    bwtest::TestSandbox sandbox;
    const QString lock = sandbox.path(QStringLiteral("bundlewick.lock"));
    TSingleInstance first(lock);
    EXPECT_TRUE(first.IsFirst());
    {
        TSingleInstance second(lock);
        EXPECT_FALSE(second.IsFirst());
    }
    EXPECT_TRUE(QFile::exists(lock));
    first.Release();
    TSingleInstance third(lock);
    EXPECT_TRUE(third.IsFirst());
}

TEST(SingleInstance, LockThatCannotBeMadeIsNotAnotherInstance)
{
    bwtest::TestSandbox sandbox;
    // A data folder that is a file (as good as read-only, even for root).
    const QString notADir = sandbox.writeFile(QStringLiteral("blocker"), "x");
    TSingleInstance blocked(notADir + QStringLiteral("/bundlewick.lock"));
    EXPECT_FALSE(blocked.IsFirst());
    EXPECT_TRUE(blocked.CreateFailed());
    EXPECT_TRUE(blocked.ErrorText().startsWith(QStringLiteral("Cannot create the lock file \"") + notADir))
        << blocked.ErrorText().toStdString();

    // A folder in the way of the lock file.
    QDir().mkpath(sandbox.root() + QStringLiteral("/d/bundlewick.lock"));
    TSingleInstance inTheWay(sandbox.root() + QStringLiteral("/d/bundlewick.lock"));
    EXPECT_FALSE(inTheWay.IsFirst());

    // Held by another instance: no creation failure.
    const QString lock = sandbox.path(QStringLiteral("ok/bundlewick.lock"));
    TSingleInstance first(lock);
    TSingleInstance second(lock);
    EXPECT_TRUE(first.IsFirst());
    EXPECT_FALSE(first.CreateFailed());
    EXPECT_FALSE(second.IsFirst());
    EXPECT_FALSE(second.CreateFailed());
    EXPECT_TRUE(second.ErrorText().isEmpty());
}

TEST(SingleInstance, LockOfADeadProcessIsTakenOver)
{
    bwtest::TestSandbox sandbox;
    const QString lock = sandbox.path(QStringLiteral("bundlewick.lock"));
    // A child takes the lock and dies without releasing it.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        auto *held = new QLockFile(lock);
        _exit(held->tryLock(0) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFile::exists(lock));
    TSingleInstance instance(lock);
    EXPECT_TRUE(instance.IsFirst());
}

} // namespace
