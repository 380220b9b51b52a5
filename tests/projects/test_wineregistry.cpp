#include "projects/wineprefix.h"
#include "projects/wineregistry.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <random>

namespace {

const QByteArray Hive = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Wow6432Node\\Embarcadero\\BDS\\8.0] 1700000000
#time=1d9f0c1a2b3c4d5
@="default"
"RootDir"="C:\\Program Files (x86)\\Embarcadero\\RAD Studio\\8.0\\"
"Quoted"="say \"hi\"\n\x00e9t\xe9"
"Expand"=str(2):"%ProgramFiles%\\x"
"Count"=dword:00000010
"Wide"=hex(2):41,00,42,00,\
  43,00,00,00
"Bytes"=hex:01,02

[Software\\Classes\\a\]b] 1700000000
"v"="1"
)";

} // namespace

TEST(WineRegistry, ReadsKeysAndStringValues)
{
    TWineRegistry reg;
    ASSERT_TRUE(reg.LoadFromText(Hive));
    EXPECT_TRUE(reg.IsWin64());
    // Parents of written keys exist; names ignore case.
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("SOFTWARE\\wow6432node")));
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\Software\\Wow6432Node\\EMBARCADERO\\BDS\\8.0\\")));
    EXPECT_FALSE(reg.KeyExists(QStringLiteral("Software\\Embarcadero")));
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("Software\\Classes\\a]b")));

    const QString k = QStringLiteral("software\\wow6432node\\embarcadero\\bds\\8.0");
    QString v;
    ASSERT_TRUE(reg.ReadString(k, QStringLiteral("rootdir"), v));
    EXPECT_EQ(v, QStringLiteral("C:\\Program Files (x86)\\Embarcadero\\RAD Studio\\8.0\\"));
    ASSERT_TRUE(reg.ReadString(k, QString(), v));
    EXPECT_EQ(v, QStringLiteral("default"));
    ASSERT_TRUE(reg.ReadString(k, QStringLiteral("Quoted"), v));
    EXPECT_EQ(v, QString::fromUtf8("say \"hi\"\n\u00e9t\u00e9"));
    ASSERT_TRUE(reg.ReadString(k, QStringLiteral("Expand"), v));
    EXPECT_EQ(v, QStringLiteral("%ProgramFiles%\\x"));
    ASSERT_TRUE(reg.ReadString(k, QStringLiteral("Wide"), v));
    EXPECT_EQ(v, QStringLiteral("ABC"));
    EXPECT_FALSE(reg.ReadString(k, QStringLiteral("Count"), v));
    EXPECT_FALSE(reg.ReadString(k, QStringLiteral("Bytes"), v));
    EXPECT_FALSE(reg.ReadString(k, QStringLiteral("Missing"), v));
}

TEST(WineRegistry, RejectsFilesWithoutHeader)
{
    TWineRegistry reg;
    EXPECT_FALSE(reg.LoadFromText(QByteArray("[Software\\\\X]\n\"a\"=\"b\"\n")));
    EXPECT_FALSE(reg.KeyExists(QStringLiteral("Software\\X")));
    EXPECT_FALSE(reg.LoadFromFile(QStringLiteral("/nonexistent/system.reg")));
}

TEST(WineRegistry, JunkNeverCrashes)
{
    std::mt19937 rng(20240517);
    const char interesting[] = "\\\"[]=@:(),\n\r#xX0f7 ";
    for (int round = 0; round < 3000; ++round) {
        QByteArray text = Hive;
        const int edits = 1 + int(rng() % 12);
        for (int i = 0; i < edits && !text.isEmpty(); ++i) {
            const qsizetype at = qsizetype(rng() % quint32(text.size()));
            const char c = rng() % 2 ? interesting[rng() % (sizeof(interesting) - 1)] : char(rng());
            switch (rng() % 4) {
            case 0:
                text[at] = c;
                break;
            case 1:
                text.insert(at, c);
                break;
            case 2:
                text.remove(at, 1 + qsizetype(rng() % 8));
                break;
            default:
                text.truncate(at);
            }
        }
        TWineRegistry reg;
        reg.LoadFromText(text);
        QString v;
        reg.ReadString(QStringLiteral("Software\\Wow6432Node\\Embarcadero\\BDS\\8.0"),
                       QStringLiteral("RootDir"), v);
        reg.KeyExists(QStringLiteral("Software"));
    }
    SUCCEED();
}

TEST(WinePrefix, MapsWindowsPathsCaseInsensitively)
{
    bwtest::TestSandbox sandbox;
    const QString root = sandbox.root() + QStringLiteral("/wine");
    sandbox.writeFile(QStringLiteral("wine/drive_c/Program Files/Some Lib/Unit1.pas"), "x");
    sandbox.writeFile(QStringLiteral("elsewhere/Data/readme.txt"), "x");
    TWinePrefix prefix;
    EXPECT_EQ(prefix.Root(), root);

    // Without dosdevices only C: is known.
    EXPECT_EQ(prefix.MapPath(QStringLiteral("c:\\PROGRAM FILES\\some lib\\.\\x\\..\\unit1.PAS")),
              root + QStringLiteral("/drive_c/Program Files/Some Lib/Unit1.pas"));
    EXPECT_EQ(prefix.MapPath(QStringLiteral("C:/Program Files//Nope\\Deeper")),
              root + QStringLiteral("/drive_c/Program Files/Nope/Deeper"));
    EXPECT_EQ(prefix.MapPath(QStringLiteral("\\program files")),
              root + QStringLiteral("/drive_c/Program Files"));
    EXPECT_EQ(prefix.MapPath(QStringLiteral("C:\\..\\..\\etc")), root + QStringLiteral("/drive_c/etc"));
    EXPECT_EQ(prefix.MapPath(QStringLiteral("D:\\Data")), QString());
    EXPECT_EQ(prefix.MapPath(QStringLiteral("\\\\server\\share")), QString());
    EXPECT_EQ(prefix.MapPath(QStringLiteral("relative\\x")), QString());
    EXPECT_EQ(prefix.MapPath(QString()), QString());

    // Drive links of dosdevices, relative or absolute.
    QDir().mkpath(root + QStringLiteral("/dosdevices"));
    QFile::link(QStringLiteral("../drive_c"), root + QStringLiteral("/dosdevices/c:"));
    QFile::link(sandbox.root() + QStringLiteral("/elsewhere"), root + QStringLiteral("/dosdevices/d:"));
    EXPECT_EQ(prefix.MapPath(QStringLiteral("C:\\program files")),
              root + QStringLiteral("/drive_c/Program Files"));
    EXPECT_EQ(prefix.MapPath(QStringLiteral("d:\\data\\README.TXT")),
              sandbox.root() + QStringLiteral("/elsewhere/Data/readme.txt"));
}

TEST(WinePrefix, FindsTheUserFolders)
{
    bwtest::TestSandbox sandbox;
    const QString users = sandbox.root() + QStringLiteral("/wine/drive_c/users");
    QDir().mkpath(users + QStringLiteral("/Public/Documents"));
    QDir().mkpath(users + QStringLiteral("/olduser/Application Data"));
    QDir().mkpath(users + QStringLiteral("/olduser/My Documents"));
    TWinePrefix prefix;
    EXPECT_EQ(prefix.UserName(), QStringLiteral("olduser"));
    EXPECT_EQ(prefix.RoamingDir(), users + QStringLiteral("/olduser/Application Data"));
    EXPECT_EQ(prefix.DocumentsDir(), users + QStringLiteral("/olduser/My Documents"));

    const QByteArray oldUser = qgetenv("USER");
    const bool hadUser = qEnvironmentVariableIsSet("USER");
    qputenv("USER", "bw-test-user");
    QDir().mkpath(users + QStringLiteral("/bw-test-user/AppData/Roaming"));
    EXPECT_EQ(prefix.UserName(), QStringLiteral("bw-test-user"));
    EXPECT_EQ(prefix.RoamingDir(), users + QStringLiteral("/bw-test-user/AppData/Roaming"));
    EXPECT_EQ(prefix.DocumentsDir(), users + QStringLiteral("/bw-test-user/Documents"));
    if (hadUser)
        qputenv("USER", oldUser);
    else
        qunsetenv("USER");

    qunsetenv("WINEPREFIX");
    EXPECT_EQ(TWinePrefix().Root(), sandbox.root() + QStringLiteral("/home/.wine"));
}
