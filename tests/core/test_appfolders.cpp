#include "app/startup.h"
#include "core/appfolders.h"
#include "core/globals.h"
#include "core/regutils.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

QByteArray Read(const QString &sFile)
{
    QFile file(sFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

TEST(AppFolders, FollowTheXdgConvention)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(AppDataFolder(), sandbox.root() + QStringLiteral("/data/bundlewick/"));
    EXPECT_EQ(AppConfigFolder(), sandbox.root() + QStringLiteral("/config/bundlewick/"));
    EXPECT_EQ(ParamsFileName(), sandbox.root() + QStringLiteral("/config/bundlewick/params.conf"));
    EXPECT_EQ(LegacyDataFolder(), sandbox.root() + QStringLiteral("/data/orro{}/Bundlewick/"));
    EXPECT_EQ(LegacyConfigFolder(), sandbox.root() + QStringLiteral("/config/orro{}/Bundlewick/"));
}

TEST(AppFolders, FirstStartMovesTheOldFoldersWithEverythingInThem)
{
    bwtest::TestSandbox sandbox;
    sandbox.writeFile(QStringLiteral("data/orro{}/Bundlewick/bundlewick.sqlite"), "database");
    sandbox.writeFile(QStringLiteral("data/orro{}/Bundlewick/20260101.sqlite"), "day");
    sandbox.writeFile(QStringLiteral("data/orro{}/Bundlewick/sub/.hidden"), "hidden");
    sandbox.writeFile(QStringLiteral("config/orro{}/Bundlewick/params.conf"),
                      "#BundlewickParams\t1\tSOFTWARE\\\\orro{}\\\\Bundlewick\n\tShow me\t1\tyes\n");
    ProcessInit();
    EXPECT_EQ(AppDataDir, sandbox.root() + QStringLiteral("/data/bundlewick/"));
    EXPECT_EQ(Read(AppDataDir + QStringLiteral("bundlewick.sqlite")), QByteArray("database"));
    EXPECT_EQ(Read(AppDataDir + QStringLiteral("20260101.sqlite")), QByteArray("day"));
    EXPECT_EQ(Read(AppDataDir + QStringLiteral("sub/.hidden")), QByteArray("hidden"));
    // The moved parameter store is read, not taken for a foreign one.
    EXPECT_EQ(Params->GetStr(QStringLiteral("Show me")), QStringLiteral("yes"));
    ProcessFinal();
    EXPECT_FALSE(QFileInfo::exists(sandbox.root() + QStringLiteral("/data/orro{}")));
    EXPECT_FALSE(QFileInfo::exists(sandbox.root() + QStringLiteral("/config/orro{}")));
    EXPECT_TRUE(QFileInfo::exists(sandbox.root() + QStringLiteral("/config/bundlewick/params.conf")));
}

TEST(AppFolders, BothPresentKeepsTheNewAndLeavesTheOld)
{
    bwtest::TestSandbox sandbox;
    const QString sOld = sandbox.writeFile(QStringLiteral("data/orro{}/Bundlewick/bundlewick.sqlite"), "old");
    const QString sNew = sandbox.writeFile(QStringLiteral("data/bundlewick/bundlewick.sqlite"), "new");
    EXPECT_EQ(MoveLegacyFolder(LegacyDataFolder(), AppDataFolder()), TFolderMove::KeptNew);
    EXPECT_EQ(Read(sOld), QByteArray("old"));
    EXPECT_EQ(Read(sNew), QByteArray("new"));
}

TEST(AppFolders, NothingToMove)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(MoveLegacyFolder(LegacyDataFolder(), AppDataFolder()), TFolderMove::Nothing);
    EXPECT_FALSE(QFileInfo::exists(AppDataFolder()));
    // The vendor folder keeps other programs' folders.
    sandbox.writeFile(QStringLiteral("data/orro{}/Bundlewick/a"), "a");
    sandbox.writeFile(QStringLiteral("data/orro{}/Other/b"), "b");
    EXPECT_EQ(MoveLegacyFolder(LegacyDataFolder(), AppDataFolder()), TFolderMove::Moved);
    EXPECT_EQ(Read(sandbox.root() + QStringLiteral("/data/orro{}/Other/b")), QByteArray("b"));
    EXPECT_EQ(Read(AppDataFolder() + QStringLiteral("a")), QByteArray("a"));
}
