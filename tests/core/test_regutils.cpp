#include "core/regutils.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

const QString kRoot = QStringLiteral("SOFTWARE\\orro{}\\Bundlewick");
const QByteArray kHeader = "#BundlewickParams\t1\tSOFTWARE\\\\orro{}\\\\Bundlewick\n";

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int TypeOf(const TParams &params, const QString &name)
{
    for (const auto &e : params.Entries())
        if (e.sName.compare(name, Qt::CaseInsensitive) == 0)
            return e.iType;
    return -1;
}

class ParamsTest : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString file() const { return sandbox.root() + QStringLiteral("/config/orro{}/Bundlewick/params.conf"); }
    void writeStore(const QByteArray &body) const
    {
        sandbox.writeFile(QStringLiteral("config/orro{}/Bundlewick/params.conf"), body);
    }
};

} // namespace

TEST_F(ParamsTest, TypesSurviveSaveAndLoad)
{
    {
        TParams p(kRoot);
        EXPECT_EQ(p.FileName(), file());
        p.SetStr(QStringLiteral("Project path"), QStringLiteral("/home/u/src"));
        p.SetInt(QStringLiteral("Settings tab"), -3);
        p.SetBool(QStringLiteral("Verbose debugging"), true);
        p.SetFloat(QStringLiteral("Ratio"), 0.1);
    }
    EXPECT_EQ(ReadAll(file()),
              kHeader
                  + "\tProject path\t1\t/home/u/src\n\tRatio\t1\t0.1\n\tSettings tab\t3\t-3\n"
                    "\tVerbose debugging\t3\t1\n");

    TParams p(kRoot);
    EXPECT_EQ(p.GetStr(QStringLiteral("Project path"), QStringLiteral("x")), QStringLiteral("/home/u/src"));
    EXPECT_EQ(p.GetInt(QStringLiteral("Settings tab"), 0), -3);
    EXPECT_TRUE(p.GetBool(QStringLiteral("Verbose debugging"), false));
    EXPECT_DOUBLE_EQ(p.GetFloat(QStringLiteral("Ratio"), 0), 0.1);
    EXPECT_EQ(TypeOf(p, QStringLiteral("Settings tab")), 3);
    EXPECT_EQ(TypeOf(p, QStringLiteral("Ratio")), 1);
    // Absent, empty and non-numeric values read as the default.
    p.SetStr(QStringLiteral("Text"), QStringLiteral("12x"));
    p.SetStr(QStringLiteral("Grouped"), QStringLiteral("1,234.5"));
    EXPECT_EQ(p.GetInt(QStringLiteral("Text"), 7), 7);
    EXPECT_EQ(p.GetInt(QStringLiteral("Missing"), 8), 8);
    EXPECT_TRUE(p.GetBool(QStringLiteral("Missing"), true));
    EXPECT_DOUBLE_EQ(p.GetFloat(QStringLiteral("Grouped"), 0), 1234.5);
    EXPECT_DOUBLE_EQ(p.GetFloat(QStringLiteral("Text"), 2.5), 2.5);
}

TEST_F(ParamsTest, WriteBackRulesPerType)
{
    writeStore(kHeader
               + "\tPlain\t0\ta\n\tExpand\t2\t%HOME%/x\n\tCount\t3\t7\n\tRaw\t4\tDEADbeef\n\tTab\t1\t5\n");
    {
        TParams p(kRoot);
        EXPECT_EQ(p.ListData(), QStringLiteral("Plain=a\nExpand=%HOME%/x\nCount=7\nRaw=\nTab=5\n"));
        EXPECT_EQ(TypeOf(p, QStringLiteral("Expand")), 2);
        EXPECT_EQ(TypeOf(p, QStringLiteral("Raw")), 4);
        p.SetStr(QStringLiteral("Count"), QStringLiteral("abc")); // stays an integer value: written as 0
        p.SetStr(QStringLiteral("Raw"), QStringLiteral("lost")); // raw bytes are never written back
        p.SetInt(QStringLiteral("Tab"), 5); // same number: keeps its string type
        EXPECT_EQ(TypeOf(p, QStringLiteral("Tab")), 1);
        p.SetInt(QStringLiteral("Tab"), 6);
        EXPECT_EQ(TypeOf(p, QStringLiteral("Tab")), 1);
        EXPECT_EQ(TypeOf(p, QStringLiteral("Count")), 3);
    }
    EXPECT_EQ(ReadAll(file()),
              kHeader
                  + "\tCount\t3\t0\n\tExpand\t1\t%HOME%/x\n\tPlain\t1\ta\n\tRaw\t4\tdeadbeef\n\tTab\t1\t6\n");
}

TEST_F(ParamsTest, EmptyStringKeepsTheNameAndOverwrites)
{
    {
        TParams p(kRoot);
        p.SetInt(QStringLiteral("Log folder"), 12);
        p.SetStr(QStringLiteral("Other"), QStringLiteral("o"));
    }
    {
        TParams p(kRoot);
        p.SetStr(QStringLiteral("log FOLDER"), QString());
        EXPECT_EQ(p.GetStr(QStringLiteral("Log folder"), QStringLiteral("default")), QString());
        EXPECT_EQ(TypeOf(p, QStringLiteral("Log folder")), 0);
        EXPECT_EQ(p.Entries().size(), 2u);
    }
    EXPECT_EQ(ReadAll(file()), kHeader + "\tlog FOLDER\t1\t\n\tOther\t1\to\n");
    TParams p(kRoot);
    EXPECT_EQ(p.GetStr(QStringLiteral("Log folder"), QStringLiteral("default")), QString());
}

TEST_F(ParamsTest, IntegerSentinelIsStillWritten)
{
    TParams p(kRoot);
    p.SetStr(QStringLiteral("N"), QStringLiteral("abc"));
    p.SetInt(QStringLiteral("n"), -999999);
    EXPECT_EQ(p.GetStr(QStringLiteral("N")), QStringLiteral("-999999"));
    p.SetFloat(QStringLiteral("F"), 2.5);
    p.SetStr(QStringLiteral("F"), QStringLiteral("x"));
    p.SetFloat(QStringLiteral("F"), -999999);
    EXPECT_EQ(p.GetStr(QStringLiteral("F")), QStringLiteral("-999999"));
}

TEST_F(ParamsTest, SubkeyNamesAndNameValueLists)
{
    {
        TParams p(kRoot);
        p.SetStr(QStringLiteral("Sub\\Name"), QStringLiteral("v"));
        p.SetStr(QStringLiteral("Sub\\Deeper\\Leaf"), QStringLiteral("w"));
    }
    EXPECT_EQ(ReadAll(file()), kHeader + "Sub\\\\Deeper\tLeaf\t1\tw\nSub\tName\t1\tv\n");

    TParams p(kRoot);
    EXPECT_EQ(p.GetStr(QStringLiteral("SUB\\name")), QStringLiteral("v"));
    EXPECT_EQ(p.GetStr(QStringLiteral("sub\\deeper\\leaf")), QStringLiteral("w"));
    QStringList list { QStringLiteral("stale=1") };
    p.GetNameValueList(QStringLiteral("Sub"), list);
    EXPECT_EQ(list, QStringList { QStringLiteral("Name=v") });
    p.GetNameValueList(QStringLiteral("sub"), list); // the key path matches exactly
    EXPECT_TRUE(list.isEmpty());
}

TEST_F(ParamsTest, RemovedEntriesStayInTheFile)
{
    writeStore(kHeader + "Filters\ta\t1\tone\nFilters\tb\t3\t2\n");
    {
        TParams p(kRoot);
        p.SetNameValueList(
            QStringLiteral("Filters"),
            { QStringLiteral("a="), QStringLiteral("b=5"), QStringLiteral("c=new"), QStringLiteral("junk") });
        EXPECT_EQ(p.ListData(), QStringLiteral("Filters\\b=5\nFilters\\c=new\n"));
        EXPECT_EQ(TypeOf(p, QStringLiteral("Filters\\b")), 3);
        EXPECT_EQ(TypeOf(p, QStringLiteral("Filters\\c")), 0);
    }
    EXPECT_EQ(ReadAll(file()), kHeader + "Filters\ta\t1\tone\nFilters\tb\t3\t5\nFilters\tc\t1\tnew\n");
}

TEST_F(ParamsTest, AnyTextRoundTrips)
{
    const QString lone = QString(QChar(0xD800)) + QStringLiteral("x");
    const QList<std::pair<QString, QString>> cases {
        { QStringLiteral("Odd = name\\with\tTab"), QStringLiteral("a\\b=c\nd\r\te\\n") },
        { QStringLiteral(" spaced "), QStringLiteral("  lead and trail  ") },
        { QStringLiteral("Ünïcödé"), QStringLiteral("größe ✓ 😀 日本") },
        { QStringLiteral("Controls"), QString(QChar(1)) + QChar(0x7f) + QChar(0) + QStringLiteral("\\x41") },
        { QStringLiteral("Lone"), lone },
    };
    {
        TParams p(kRoot);
        for (const auto &[name, value] : cases)
            p.SetStr(name, value);
    }
    const QByteArray bytes = ReadAll(file());
    EXPECT_EQ(bytes.count('\n'), cases.size() + 1);
    TParams p(kRoot);
    for (const auto &[name, value] : cases)
        EXPECT_EQ(p.GetStr(name, QStringLiteral("missing")), value) << qPrintable(name);
}

TEST_F(ParamsTest, DamagedFileLoadsWhatItCan)
{
    writeStore("garbage without tabs\n" + kHeader.left(10) + "\n\tGood\t1\tyes\n"
               + QByteArray("\x00\xff\xfe\tBin\t1\tx\n", 12) + "\tBadEscape\t1\tq\\z\n\tBadType\t9\tx\n"
               + "\tBadInt\t3\t12abc\n\tBadHex\t4\txyz\n\tFive\t1\ta\tb\n\tRawCtl\t1\ta\x01\n"
               + "\tLate\t3\t42\n\tgood\t1\tagain\r\n\tTrunc\t1");
    TParams p(kRoot);
    EXPECT_EQ(p.ListData(), QStringLiteral("good=again\nLate=42\n"));
    p.SetStr(QStringLiteral("New"), QStringLiteral("n"));
    EXPECT_TRUE(p.SaveData());
    EXPECT_EQ(ReadAll(file()), kHeader + "\tgood\t1\tagain\n\tLate\t3\t42\n\tNew\t1\tn\n");
}

TEST_F(ParamsTest, StoreOfAnotherKeyIsLeftAlone)
{
    const QByteArray foreign = "#BundlewickParams\t1\tSOFTWARE\\\\Other\n\tA\t1\tb\n";
    writeStore(foreign);
    {
        TParams p(kRoot);
        EXPECT_TRUE(p.Entries().empty());
        p.SetStr(QStringLiteral("A"), QStringLiteral("c"));
        EXPECT_FALSE(p.SaveData());
    }
    EXPECT_EQ(ReadAll(file()), foreign);
}

TEST_F(ParamsTest, FailedSaveKeepsThePreviousFile)
{
    {
        TParams p(kRoot);
        p.SetStr(QStringLiteral("Keep"), QStringLiteral("me"));
    }
    const QByteArray before = ReadAll(file());
    // Leftover of a save that died before its rename: not read.
    sandbox.writeFile(QStringLiteral("config/orro{}/Bundlewick/params.conf.Ab12Cd"), "\tKeep\t1\tnot me\n");

    TParams p(kRoot);
    EXPECT_EQ(p.GetStr(QStringLiteral("Keep")), QStringLiteral("me"));
    p.SetStr(QStringLiteral("Big"), QString(200000, QLatin1Char('x')));

    // A file size limit makes the write fail midway, as a full disk would.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = p.SaveData();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadAll(file()), before);
    EXPECT_TRUE(p.SaveData());
    EXPECT_EQ(TParams(kRoot).GetStr(QStringLiteral("Big")).size(), 200000);
}

TEST_F(ParamsTest, StoreFollowsConfigHomeAtCreation)
{
    const QString other = sandbox.root() + QStringLiteral("/elsewhere");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(other));
    TParams p(kRoot);
    EXPECT_EQ(p.FileName(), other + QStringLiteral("/orro{}/Bundlewick/params.conf"));
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(TParams(QStringLiteral("software/a\\..\\b")).FileName(),
              sandbox.root() + QStringLiteral("/home/.config/a/b/params.conf"));
}
