#include "projects/librarydelphi.h"
#include "support/testenv.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

const QByteArray Registry64 = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Wow6432Node\\CodeGear\\BDS\\7.0] 1700000000
"RootDir"="C:\\Program Files (x86)\\CodeGear\\RAD Studio\\7.0\\"

[Software\\Wow6432Node\\Embarcadero\\BDS\\8.0\\Globals] 1700000000
"ForceEnvOptionsUpdate"="0"

[Software\\Wow6432Node\\Embarcadero\\BDS\\8.0] 1700000000
"RootDir"="C:\\Program Files (x86)\\Embarcadero\\RAD Studio\\8.0\\"
)";

const QByteArray Options = R"(<?xml version="1.0" encoding="utf-8"?>
<Project xmlns="http://schemas.microsoft.com/developer/msbuild/2003">
  <PropertyGroup>
    <Win32LibraryPath>C:\Components\DCU;$(BDS)\lib;c:\program files (x86)\embarcadero\rad studio\8.0\imports;C:\missing;$(Platform)\x;</Win32LibraryPath>
    <Win32BrowsingPath>c:\components\source;$(BDS)\LIB;$(BDSUSERDIR)\Imports;$(HOMEPATH)\Documents\Shared Code</Win32BrowsingPath>
  </PropertyGroup>
</Project>
)";

const QString OptionsFile
    = QStringLiteral("wine/drive_c/users/tester/AppData/Roaming/Embarcadero/BDS/8.0/EnvOptions.proj");
const QString Bds = QStringLiteral("wine/drive_c/Program Files (x86)/Embarcadero/RAD Studio/8.0/");

class LibraryDelphi : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString c = sandbox.root() + QStringLiteral("/wine/drive_c");

    void SetUp() override { TLibraryDelphi::Reset(); }
    void TearDown() override { TLibraryDelphi::Reset(); }

    void write(const QString &relative, const QByteArray &bytes = "unit x;")
    {
        sandbox.writeFile(relative, bytes);
    }
    void makeInstallation()
    {
        write(QStringLiteral("wine/system.reg"), Registry64);
        write(OptionsFile, Options);
        QDir().mkpath(sandbox.root() + QStringLiteral("/wine/drive_c/users/Public/Documents"));
        write(Bds + QStringLiteral("lib/SysUtils.pas"));
        write(Bds + QStringLiteral("lib/Classes.dcu"));
        write(Bds + QStringLiteral("lib/Shared.pas"));
        write(Bds + QStringLiteral("Imports/ImportedLib.pas"));
        write(QStringLiteral("wine/drive_c/Components/DCU/Shared.dcu"));
        write(QStringLiteral("wine/drive_c/Components/DCU/VirtualTrees.dcu"));
        write(QStringLiteral("wine/drive_c/Components/DCU/OnlyDcu.dcu"));
        write(QStringLiteral("wine/drive_c/Components/Source/VirtualTrees.pas"));
        write(QStringLiteral("wine/drive_c/users/tester/Documents/Shared Code/HomeUnit.pas"));
    }
    QString errorOf(const QString &atom)
    {
        try {
            TLibraryDelphi::Execute(atom);
        } catch (const EDelphiError &e) {
            return e.Message();
        }
        return QStringLiteral("(no error)");
    }
};

} // namespace

TEST_F(LibraryDelphi, ReadsTheNewestInstallationAndItsFolders)
{
    makeInstallation();
    TLibraryDelphi library;
    EXPECT_EQ(library.Path(), QStringLiteral("\\Embarcadero\\BDS\\8.0"));
    EXPECT_EQ(library.BDS(), QStringLiteral("C:\\Program Files (x86)\\Embarcadero\\RAD Studio\\8.0\\"));

    // Library folders first; one folder listed twice keeps its first flag.
    QStringList folders;
    for (const auto &folder : library.LibList())
        folders += QString::number(folder.iFlag) + u' ' + folder.sFolder.mid(c.size());
    EXPECT_EQ(folders,
              QStringList({ QStringLiteral("0 /Components/DCU"),
                            QStringLiteral("1 /Program Files (x86)/Embarcadero/RAD Studio/8.0/lib"),
                            QStringLiteral("0 /Program Files (x86)/Embarcadero/RAD Studio/8.0/Imports"),
                            QStringLiteral("0 /Components/Source"),
                            QStringLiteral("0 /users/tester/Documents/Shared Code") }));
}

TEST_F(LibraryDelphi, AnswersUnitLookups)
{
    makeInstallation();
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("SysUtils")), QStringLiteral("bds"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("sysutils")), QStringLiteral("bds"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("CLASSES")), QStringLiteral("bds"));
    // A ".pas" anywhere wins over a ".dcu" earlier in the list.
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("Shared")), QStringLiteral("bds"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("virtualtrees")),
              c + QStringLiteral("/Components/Source/VirtualTrees.pas"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("OnlyDcu")),
              c + QStringLiteral("/Components/DCU/OnlyDcu.dcu"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("ImportedLib")),
              c + QStringLiteral("/Program Files (x86)/Embarcadero/RAD Studio/8.0/Imports/ImportedLib.pas"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("HomeUnit")),
              c + QStringLiteral("/users/tester/Documents/Shared Code/HomeUnit.pas"));
    // Names are never paths.
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("..\\lib\\SysUtils")), QString());
    EXPECT_EQ(TLibraryDelphi::Execute(QString()), QString());
}

TEST_F(LibraryDelphi, CachesOnlyAnswersFound)
{
    makeInstallation();
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("Later")), QString());
    write(QStringLiteral("wine/drive_c/Components/Source/Later.pas"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("Later")),
              c + QStringLiteral("/Components/Source/Later.pas"));

    QFile::remove(c + QStringLiteral("/Components/Source/Later.pas"));
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("later")),
              c + QStringLiteral("/Components/Source/Later.pas"));
}

TEST_F(LibraryDelphi, UsesThePlainViewOfA32BitPrefix)
{
    makeInstallation();
    QByteArray reg = Registry64;
    reg.replace("#arch=win64", "#arch=win32");
    reg.replace("Software\\\\Wow6432Node\\\\", "Software\\\\");
    write(QStringLiteral("wine/system.reg"), reg);
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("SysUtils")), QStringLiteral("bds"));

    // A 32-bit prefix has no redirected view.
    TLibraryDelphi::Reset();
    reg.replace("\\\\Embarcadero\\\\", "\\\\Wow6432Node\\\\Embarcadero\\\\");
    write(QStringLiteral("wine/system.reg"), reg);
    write(QStringLiteral("wine/drive_c/users/tester/AppData/Roaming/CodeGear/BDS/7.0/EnvOptions.proj"),
          Options);
    TLibraryDelphi library;
    EXPECT_EQ(library.Path(), QStringLiteral("\\CodeGear\\BDS\\7.0"));
}

TEST_F(LibraryDelphi, EmptyRootDirKnowsNoUnits)
{
    write(QStringLiteral("wine/system.reg"),
          "WINE REGISTRY Version 2\n[Software\\\\Borland\\\\Delphi\\\\7.0]\n");
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("SysUtils")), QString());
}

TEST_F(LibraryDelphi, ReportsAMissingInstallation)
{
    const QString notInstalled = QStringLiteral("Delphi is not installed on this computer");
    qputenv("WINEPREFIX", QFile::encodeName(sandbox.root() + QStringLiteral("/nowhere")));
    EXPECT_EQ(errorOf(QStringLiteral("SysUtils")), notInstalled);

    qputenv("WINEPREFIX", QFile::encodeName(sandbox.root() + QStringLiteral("/wine")));
    EXPECT_EQ(errorOf(QStringLiteral("SysUtils")), notInstalled); // no system.reg
    write(QStringLiteral("wine/system.reg"),
          "WINE REGISTRY Version 2\n[Software\\\\Borland\\\\Delphi\\\\4.0]\n");
    EXPECT_EQ(errorOf(QStringLiteral("SysUtils")), notInstalled);
    write(QStringLiteral("wine/system.reg"), QByteArray("\x00\xff junk [\\\\\"\n", 12));
    EXPECT_EQ(errorOf(QStringLiteral("SysUtils")), notInstalled);

    // A failed start leaves nothing behind: the next lookup tries again.
    makeInstallation();
    EXPECT_EQ(TLibraryDelphi::Execute(QStringLiteral("SysUtils")), QStringLiteral("bds"));
}

TEST_F(LibraryDelphi, ReportsAMissingOptionsFile)
{
    makeInstallation();
    QFile::remove(sandbox.root() + u'/' + OptionsFile);
    const QString expected
        = QStringLiteral("The required file \"%1/%2\" doesn't exist.").arg(sandbox.root(), OptionsFile);
    EXPECT_EQ(errorOf(QStringLiteral("SysUtils")), expected);
    EXPECT_EQ(errorOf(QStringLiteral("SysUtils")), expected);
}
