#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "projects/librarydelphi.h"
#include "projects/parserdelphi.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <random>

namespace {

// What the Delphi IDE leaves in a Wine prefix: the registry key of the
// installation and its options file with the library folders.
const QByteArray Registry = R"(WINE REGISTRY Version 2
#arch=win32

[Software\\Embarcadero\\BDS\\8.0] 1700000000
"RootDir"="C:\\Program Files\\Embarcadero\\RAD Studio\\8.0\\"
)";

const QByteArray Options = R"(<?xml version="1.0" encoding="utf-8"?>
<Project xmlns="http://schemas.microsoft.com/developer/msbuild/2003">
  <PropertyGroup>
    <Win32LibraryPath>$(BDS)\lib;C:\Components\DCU</Win32LibraryPath>
    <Win32BrowsingPath>c:\components\source</Win32BrowsingPath>
  </PropertyGroup>
</Project>
)";

const QByteArray Project1 = R"(program Project1;

{$R *.res}
{$IFDEF DEBUG}{$DEFINE TRACE}{$ENDIF}
{$R+}

uses
  Forms,
  Main in 'Main.pas' {frmMain},
  utils in 'UTILS.PAS', // the name differs in case from the file
  SysUtils,
  Shared in '..\shared\x.pas' (* shared code *),
  VirtualTrees,
  OnlyDcu,
  Missing;

{$i defs.inc }

begin
  Application.Initialize;
  Application.CreateForm(TfrmMain, frmMain);
  Application.Run;
end.
)";

const QByteArray MainPas = R"(unit Main;

interface

uses
  Windows, Classes, { Dialogs, Graphics, }
  Forms, Helpers in '..\Shared\helpers.pas',
  Utils;

type
  TfrmMain = class(TForm)
    procedure BeginUpdate;
  end;

implementation

{$R *.dfm}

uses
  (* Old, *) Extra in 'sub\Extra.pas';

procedure TfrmMain.BeginUpdate;
begin
end;

end.
)";

const QByteArray UtilsPas = "unit Utils;\n\ninterface\n\nuses SysUtils, // the RTL\n  Main;\n"
                            "\tuses Hidden in 'Hidden.pas';\nconst X = 1; uses Hidden in 'Hidden.pas';\n"
                            "implementation\nend.\n";

class ParserDelphi : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    std::unique_ptr<TSQLiteDatabase> db;
    const QString P = sandbox.root() + QStringLiteral("/proj");
    const QString C = sandbox.root() + QStringLiteral("/wine/drive_c");
    const QString Bds = QStringLiteral("wine/drive_c/Program Files/Embarcadero/RAD Studio/8.0/");

    void SetUp() override
    {
        TLibraryDelphi::Reset();
        db = std::make_unique<TSQLiteDatabase>(sandbox.root() + QStringLiteral("/bundlewick.sqlite"));
        int iOld = 0;
        int iNew = 0;
        TUpdateCheck::UpdateDatabase(*db, iOld, iNew);
        DB = db.get();
    }
    void TearDown() override
    {
        DB = nullptr;
        TLibraryDelphi::Reset();
    }

    // Sources are written as on Windows, with CR LF.
    void write(const QString &relative, QByteArray text = "unit x;\n")
    {
        text.replace("\r\n", "\n");
        text.replace("\n", "\r\n");
        sandbox.writeFile(relative, text);
    }
    void makeInstallation()
    {
        write(QStringLiteral("wine/system.reg"), Registry);
        write(QStringLiteral("wine/drive_c/users/tester/AppData/Roaming/Embarcadero/BDS/8.0/EnvOptions.proj"),
              Options);
        for (const char *unit : { "SysUtils.pas", "Classes.dcu", "Windows.dcu", "Forms.pas", "Forms.dcu" })
            write(Bds + QStringLiteral("lib/") + QLatin1String(unit));
        write(QStringLiteral("wine/drive_c/Components/DCU/OnlyDcu.dcu"));
        write(QStringLiteral("wine/drive_c/Components/DCU/VirtualTrees.dcu"));
        write(QStringLiteral("wine/drive_c/Components/Source/VirtualTrees.pas"),
              "unit VirtualTrees;\ninterface\nuses Windows, VTHeader;\nimplementation\nend.\n");
        write(QStringLiteral("wine/drive_c/Components/Source/VTHeader.pas"));
    }
    void makeProject()
    {
        write(QStringLiteral("proj/App/Project1.dpr"), Project1);
        write(QStringLiteral("proj/App/Project1.dproj"), "<Project/>");
        write(QStringLiteral("proj/App/Defs.inc"), "{$DEFINE X}");
        write(QStringLiteral("proj/App/Main.pas"), MainPas);
        write(QStringLiteral("proj/App/Main.dfm"), "object frmMain: TfrmMain\nend\n");
        write(QStringLiteral("proj/App/Utils.pas"), UtilsPas);
        write(QStringLiteral("proj/App/Hidden.pas"));
        write(QStringLiteral("proj/App/sub/Extra.pas"), "unit Extra;\n{$I ..\\..\\Shared\\COMMON.inc}\n");
        write(QStringLiteral("proj/Shared/X.pas"),
              "unit Shared;\ninterface\nuses SysUtils;\nimplementation\nend.");
        write(QStringLiteral("proj/Shared/Helpers.pas"),
              "unit Helpers;\ninterface\nuses Utils in '..\\App\\Utils.pas';\nimplementation\nend.");
        write(QStringLiteral("proj/Shared/common.inc"));
        write(QStringLiteral("proj/docs/Notes.txt"), "notes");
    }
    int storeProject(const QString &sFile)
    {
        DB->ExecSQLFmt(QStringLiteral("INSERT INTO projects (type, title, filename) VALUES (1, 'App', '%s')"),
                       { sFile });
        return int(DB->GetTableValue(QStringLiteral("SELECT MAX(id) FROM projects")));
    }
    QStringList items(const TParser &oParser)
    {
        QStringList out;
        for (const TFileItem &item : oParser.Items())
            out += item.sText;
        return out;
    }
    // What the parser lists before the hand-added entries in every case,
    // Delphi installed or not.
    QStringList ownFiles()
    {
        return { QStringLiteral("Project1=") + P + QStringLiteral("/App/Project1.dproj"),
                 QStringLiteral("Project1=") + P + QStringLiteral("/App/Project1.dpr"),
                 QStringLiteral("include=") + P + QStringLiteral("/App/Project1.res"),
                 QStringLiteral("include=") + P + QStringLiteral("/App/Defs.inc"),
                 QStringLiteral("Main=") + P + QStringLiteral("/App/Main.pas"),
                 QStringLiteral("utils=") + P + QStringLiteral("/App/Utils.pas"),
                 QStringLiteral("Shared=") + P + QStringLiteral("/Shared/X.pas") };
    }
};

// Exposes the steps that work without a database.
class TestParser : public TParserDelphi
{
public:
    using TParserDelphi::ParseFile;
    using TParserDelphi::TParserDelphi;
    QStringList texts() const
    {
        QStringList out;
        for (const TFileItem &item : Items())
            out += item.sText;
        return out;
    }
    bool queueEmpty() const { return NextList().isEmpty(); }
};

} // namespace

TEST_F(ParserDelphi, CollectsARealisticProject)
{
    makeInstallation();
    makeProject();
    const int iID = storeProject(P + QStringLiteral("/App/Project1.dpr"));
    DB->ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                   { iID, P + QStringLiteral("/docs/Notes.txt") });
    const int iNotes = int(DB->GetTableValue(QStringLiteral("SELECT MAX(id) FROM files")));

    int iCalls = 0;
    TParserDelphi parser(iID, QStringLiteral("App"), P + QStringLiteral("/App/Project1.dpr"),
                         [&](TParser *) { ++iCalls; });
    parser.Parse();

    QStringList expected = ownFiles();
    expected += {
        QStringLiteral("VirtualTrees=") + C + QStringLiteral("/Components/Source/VirtualTrees.pas"),
        QStringLiteral("OnlyDcu=") + C + QStringLiteral("/Components/DCU/OnlyDcu.dcu"),
        // Main.pas: its form, then the units of both uses clauses.
        QStringLiteral("include=") + P + QStringLiteral("/App/Main.dfm"),
        QStringLiteral("Helpers=") + P + QStringLiteral("/Shared/Helpers.pas"),
        QStringLiteral("Extra=") + P + QStringLiteral("/App/sub/Extra.pas"),
        // X.pas once more under its own name; VirtualTrees.pas brings its
        // own unit; Extra.pas its include.
        QStringLiteral("X=") + P + QStringLiteral("/Shared/X.pas"),
        QStringLiteral("VTHeader=") + C + QStringLiteral("/Components/Source/VTHeader.pas"),
        QStringLiteral("include=") + P + QStringLiteral("/Shared/common.inc"),
        P + QStringLiteral("/docs/Notes.txt"),
    };
    EXPECT_EQ(items(parser), expected);
    EXPECT_EQ(parser.Items().last().iFileID, iNotes);
    EXPECT_EQ(parser.Items().first().iFileID, 0);
    EXPECT_EQ(parser.ParseError(), QString());
    EXPECT_EQ(iCalls, 1);
    // Never delivered: every existing file counts (Project1.res does not exist).
    EXPECT_EQ(parser.ChangedFiles(), 15);
}

TEST_F(ParserDelphi, WithoutDelphiCollectsWhatItCanAndKeepsTheError)
{
    makeProject();
    const int iID = storeProject(P + QStringLiteral("/App/Project1.dpr"));
    DB->ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                   { iID, P + QStringLiteral("/docs/Notes.txt") });

    int iCalls = 0;
    TParserDelphi parser(iID, QStringLiteral("App"), P + QStringLiteral("/App/Project1.dpr"),
                         [&](TParser *) { ++iCalls; });
    EXPECT_NO_THROW(parser.Parse());

    QStringList expected = ownFiles();
    expected += {
        QStringLiteral("include=") + P + QStringLiteral("/App/Main.dfm"),
        QStringLiteral("Helpers=") + P + QStringLiteral("/Shared/Helpers.pas"),
        QStringLiteral("Extra=") + P + QStringLiteral("/App/sub/Extra.pas"),
        QStringLiteral("X=") + P + QStringLiteral("/Shared/X.pas"),
        QStringLiteral("include=") + P + QStringLiteral("/Shared/common.inc"),
        P + QStringLiteral("/docs/Notes.txt"),
    };
    EXPECT_EQ(items(parser), expected);
    EXPECT_EQ(parser.ParseError(), QStringLiteral("Delphi is not installed on this computer"));
    EXPECT_EQ(iCalls, 1);

    // A missing options file is kept the same way.
    makeInstallation();
    QFile::remove(C + QStringLiteral("/users/tester/AppData/Roaming/Embarcadero/BDS/8.0/EnvOptions.proj"));
    TParserDelphi second(iID, QStringLiteral("App"), P + QStringLiteral("/App/Project1.dpr"));
    EXPECT_NO_THROW(second.Parse());
    EXPECT_EQ(second.FileCount(), expected.size());
    EXPECT_EQ(second.ParseError(),
              QStringLiteral("The required file \"%1/users/tester/AppData/Roaming/Embarcadero/BDS/8.0/"
                             "EnvOptions.proj\" doesn't exist.")
                  .arg(C));
}

TEST_F(ParserDelphi, ResolvesWindowsSpellings)
{
    makeInstallation();
    write(QStringLiteral("proj/App/P.DPR"),
          "uses\n  A in 'Sub\\Deep\\..\\a.PAS',\n  B in '.\\SUB\\b.pas',\n"
          "  D in 'C:\\COMPONENTS\\source\\vtheader.pas',\n  E in '"
              + QFile::encodeName(P)
              + "/App/Sub/a.pas',\n  F in 'nowhere\\f.pas',\n  G in 'sub';\n{$I ..\\APP\\Sub\\INC.INC}\n");
    write(QStringLiteral("proj/App/p.dproj"), "<Project/>");
    write(QStringLiteral("proj/App/Sub/A.pas"));
    write(QStringLiteral("proj/App/Sub/B.pas"));
    write(QStringLiteral("proj/App/Sub/Inc.inc"));
    TestParser parser(1, QStringLiteral("P"), P + QStringLiteral("/app/p.dpr"));
    parser.Parse();
    EXPECT_EQ(
        parser.texts(),
        QStringList({ QStringLiteral("P=") + P + QStringLiteral("/App/p.dproj"),
                      QStringLiteral("P=") + P + QStringLiteral("/App/P.DPR"),
                      QStringLiteral("include=") + P + QStringLiteral("/App/Sub/Inc.inc"),
                      QStringLiteral("A=") + P + QStringLiteral("/App/Sub/A.pas"),
                      QStringLiteral("B=") + P + QStringLiteral("/App/Sub/B.pas"),
                      QStringLiteral("D=") + C + QStringLiteral("/Components/Source/VTHeader.pas"),
                      QStringLiteral("E=") + P + QStringLiteral("/App/Sub/A.pas"),
                      QStringLiteral("VTHeader=") + C + QStringLiteral("/Components/Source/VTHeader.pas") }));
}

TEST_F(ParserDelphi, ScansOnlyTheHeadAndLineInitialKeywords)
{
    makeInstallation();
    write(QStringLiteral("p/A.pas"));
    write(QStringLiteral("p/B.pas"));
    write(QStringLiteral("p/C.pas"));
    write(QStringLiteral("p/D.pas"));
    // "usesX" counts as "uses"; "Beginning" ends the head like "begin".
    write(QStringLiteral("p/Prj.dpr"),
          "program Prj;\n  USES A in 'A.pas';\nx := 1; uses B in 'B.pas';\n\tuses B in 'B.pas';\n"
          "uses\tC in 'C.pas'\n  , Forms;\n{$R Rsrc.res}{$I 'Gone.inc'}{$I}{$IFOPT R+}\n"
          "  Beginning;\nuses D in 'D.pas';\n");
    write(QStringLiteral("p/Rsrc.res"));
    TestParser parser(1, QStringLiteral("Prj"), sandbox.root() + QStringLiteral("/p/Prj.dpr"));
    parser.ParseFile(sandbox.root() + QStringLiteral("/p/Prj.dpr"));
    const QString p = sandbox.root() + QStringLiteral("/p/");
    EXPECT_EQ(parser.texts(),
              QStringList({ QStringLiteral("Prj=") + p + QStringLiteral("Prj.dpr"),
                            QStringLiteral("include=") + p + QStringLiteral("Rsrc.res"),
                            QStringLiteral("A=") + p + QStringLiteral("A.pas"),
                            QStringLiteral("C=") + p + QStringLiteral("C.pas") }));
}

TEST_F(ParserDelphi, UsesItemsLoseTheirComments)
{
    write(QStringLiteral("p/A.pas"));
    write(QStringLiteral("p/B.pas"));
    write(QStringLiteral("p/C.pas"));
    write(QStringLiteral("p/D.pas"));
    write(QStringLiteral("p/E.pas"));
    write(QStringLiteral("p/F.pas"));
    // A line comment ends at its line; brace comments may span items; items
    // are split at every comma, also one inside a comment.
    write(QStringLiteral("p/Prj.dpr"),
          "uses\n  A in 'A.pas' {Form1}, // Old in 'Old.pas'\n  B in 'B.pas' (* x *),\n"
          "  {C in 'C.pas',} D (*in*) in 'D.pas' //, F in 'F.pas'\n  , E in 'E.pas' { open to the end;");
    TestParser parser(1, QStringLiteral("Prj"), QString());
    parser.ParseFile(sandbox.root() + QStringLiteral("/p/Prj.dpr"));
    const QString p = sandbox.root() + QStringLiteral("/p/");
    EXPECT_EQ(parser.texts(),
              QStringList({ QStringLiteral("Prj=") + p + QStringLiteral("Prj.dpr"),
                            QStringLiteral("A=") + p + QStringLiteral("A.pas"),
                            QStringLiteral("B=") + p + QStringLiteral("B.pas"),
                            QStringLiteral("D=") + p + QStringLiteral("D.pas"),
                            QStringLiteral("F=") + p + QStringLiteral("F.pas"),
                            QStringLiteral("E=") + p + QStringLiteral("E.pas") }));
}

TEST(ParserDelphiText, RemovesComments)
{
    const auto braces = [](const char *s) {
        return TParserDelphi::RemoveComments(QString::fromLatin1(s), QLatin1String("{"), QLatin1String("}"));
    };
    const auto parens = [](const char *s) {
        return TParserDelphi::RemoveComments(QString::fromLatin1(s), QLatin1String("(*"),
                                             QLatin1String("*)"));
    };
    EXPECT_EQ(braces("A {x} B {y}"), QStringLiteral("A  B "));
    EXPECT_EQ(braces("X {open"), QStringLiteral("X "));
    EXPECT_EQ(braces("end} B"), QStringLiteral(" B"));
    EXPECT_EQ(braces("a} b {c} d"), QStringLiteral(" b "));
    EXPECT_EQ(parens("A (* x *) B *) C"), QStringLiteral(" C"));
    EXPECT_EQ(parens("(*)Y"), QStringLiteral("Y"));
    // Cutting a comment out can join a new marker.
    EXPECT_EQ(parens("((**)*)Z"), QStringLiteral("Z"));
    EXPECT_EQ(parens("*(*x*)) W"), QStringLiteral(" W"));
}

TEST(ParserDelphiText, FindsLineInitialKeywords)
{
    const QString text = QStringLiteral("xbegin\r\n\tbegin\r\na begin\r\n   BeGiNx\r\nbegin");
    EXPECT_EQ(TParserDelphi::FindKeyword(text, QLatin1String("begin")), 28);
    EXPECT_EQ(TParserDelphi::FindKeyword(text, QLatin1String("begin"), 29), 36);
    EXPECT_EQ(TParserDelphi::FindKeyword(QStringLiteral("  uses"), QLatin1String("uses")), 2);
    // Only ASCII letters fold: the long s is no "s".
    EXPECT_EQ(TParserDelphi::FindKeyword(QStringLiteral("u\u017Fes"), QLatin1String("uses")), -1);
}

TEST_F(ParserDelphi, CyclesAndAliasesEnd)
{
    write(QStringLiteral("p/A.pas"), "unit A;\nuses B in 'B.pas', A2 in 'a.pas', A in 'A.pas';\n");
    write(QStringLiteral("p/B.pas"), "unit B;\nuses A in 'A.pas', B in 'B.pas', B=1 in 'B.pas';\n");
    write(QStringLiteral("p/Prj.dpr"), "uses A in 'A.pas';\n");
    TestParser parser(1, QStringLiteral("Prj"), QString());
    parser.ParseFile(sandbox.root() + QStringLiteral("/p/Prj.dpr"));
    const QString p = sandbox.root() + QStringLiteral("/p/");
    EXPECT_EQ(parser.texts(),
              QStringList({ QStringLiteral("Prj=") + p + QStringLiteral("Prj.dpr"),
                            QStringLiteral("A=") + p + QStringLiteral("A.pas"),
                            QStringLiteral("B=") + p + QStringLiteral("B.pas"),
                            QStringLiteral("A2=") + p + QStringLiteral("A.pas"),
                            // "=" cannot stand in a name: its item would lose its path.
                            QStringLiteral("B_1=") + p + QStringLiteral("B.pas") }));
    EXPECT_TRUE(parser.queueEmpty());
}

TEST_F(ParserDelphi, SurvivesBadInput)
{
    const QString p = sandbox.root() + QStringLiteral("/p/");
    write(QStringLiteral("p/A.pas"));

    // Binary junk, with and without markers.
    std::mt19937 rng(7);
    QByteArray junk(1 << 18, '\0');
    for (char &c : junk)
        c = char(rng());
    junk.replace(1000, 40, "\r\nuses A in 'A.pas', {(*//\r\n;\r\n{$I \x01\xff}");
    sandbox.writeFile(QStringLiteral("p/Junk.dpr"), junk);
    TestParser junkParser(1, QStringLiteral("Junk"), QString());
    junkParser.ParseFile(p + QStringLiteral("Junk.dpr"));
    EXPECT_EQ(junkParser.texts().first(), QStringLiteral("Junk=") + p + QStringLiteral("Junk.dpr"));
    EXPECT_TRUE(junkParser.queueEmpty());

    // Unterminated comments and directives; a clause without ";".
    write(QStringLiteral("p/Open.dpr"), "uses A in 'A.pas', B (* in 'B.pas',\n C { x;\n{$I A.pas\n");
    TestParser open(1, QStringLiteral("Open"), QString());
    open.ParseFile(p + QStringLiteral("Open.dpr"));
    EXPECT_EQ(open.texts(),
              QStringList({ QStringLiteral("Open=") + p + QStringLiteral("Open.dpr"),
                            QStringLiteral("A=") + p + QStringLiteral("A.pas") }));
    write(QStringLiteral("p/NoSemi.dpr"), "uses A in 'A.pas'\nbegin\nend.");
    TestParser noSemi(1, QStringLiteral("NoSemi"), QString());
    noSemi.ParseFile(p + QStringLiteral("NoSemi.dpr"));
    EXPECT_EQ(noSemi.FileCount(), 1);

    // 50 MB: a long uses clause full of markers, then plain text.
    QByteArray big = "uses\r\n";
    while (big.size() < (1 << 20))
        big += "Foo{,} (*a,*) // x\r\n A in 'A.pas' {,(*, *), Bar in 'no\\where.pas',\r\n";
    // Single items that cutting comment by comment would take ages over.
    big += ", " + QByteArray(2 << 20, '}') + " Q in 'A.pas', " + QByteArray(1 << 20, '*').replace("*", "*)")
        + " R in 'A.pas';\r\n";
    const QByteArray line = "  Writeln('{$R+} ... (* ... { ... no keyword here ... }');\r\n";
    big.reserve(50 << 20);
    while (big.size() < (50 << 20))
        big += line;
    sandbox.writeFile(QStringLiteral("p/Big.dpr"), big);
    TestParser bigParser(1, QStringLiteral("Big"), QString());
    bigParser.ParseFile(p + QStringLiteral("Big.dpr"));
    EXPECT_EQ(bigParser.texts(),
              QStringList({ QStringLiteral("Big=") + p + QStringLiteral("Big.dpr"),
                            QStringLiteral("A=") + p + QStringLiteral("A.pas"),
                            QStringLiteral("Q=") + p + QStringLiteral("A.pas"),
                            QStringLiteral("R=") + p + QStringLiteral("A.pas") }));
}

TEST_F(ParserDelphi, SkipsUnreadableFiles)
{
    // Regular by its type, yet reading it fails, even for root.
    const QString sMem = QStringLiteral("/proc/self/mem");
    write(QStringLiteral("p/Prj.dpr"), "uses Mem in '" + QFile::encodeName(sMem) + "', A in 'A.pas';");
    write(QStringLiteral("p/A.pas"));
    TestParser parser(1, QStringLiteral("Prj"), QString());
    parser.ParseFile(sandbox.root() + QStringLiteral("/p/Prj.dpr"));
    EXPECT_EQ(parser.FileCount(), 3);
    EXPECT_TRUE(parser.ParseError().startsWith(QStringLiteral("Cannot read \"/proc/self/mem\"")))
        << parser.ParseError().toStdString();
}

// Reference for the fuzz loop: the comment removal done literally, cutting
// and searching the whole text each round.
static QString RemoveCommentsLiterally(QString s, const QString &sOpen, const QString &sClose)
{
    for (;;) {
        const qsizetype o = s.indexOf(sOpen);
        const qsizetype c = s.indexOf(sClose);
        if (o < 0 && c < 0)
            return s;
        if (o >= 0 && (c < 0 || o < c))
            s = s.left(o) + (c >= 0 ? s.mid(c + sClose.size()) : QString());
        else
            s = s.mid(c + sClose.size(), o < 0 ? -1 : o - c - sClose.size());
    }
}

TEST_F(ParserDelphi, FuzzedSources)
{
    makeInstallation();
    makeProject();
    std::mt19937 rng(20240611);
    const auto pick = [&](int n) { return int(rng() % unsigned(n)); };

    // Comment removal against its literal form.
    const char alphabet[] = "(*){} a";
    for (int i = 0; i < 20000; ++i) {
        QString s;
        for (int n = pick(14); n > 0; --n)
            s += QLatin1Char(alphabet[pick(7)]);
        ASSERT_EQ(TParserDelphi::RemoveComments(s, QLatin1String("(*"), QLatin1String("*)")),
                  RemoveCommentsLiterally(s, QStringLiteral("(*"), QStringLiteral("*)")))
            << s.toStdString();
        ASSERT_EQ(TParserDelphi::RemoveComments(s, QLatin1String("{"), QLatin1String("}")),
                  RemoveCommentsLiterally(s, QStringLiteral("{"), QStringLiteral("}")))
            << s.toStdString();
    }

    // Mutated sources: whatever comes out is a named, absolute, normalised path.
    const QList<QByteArray> seeds = { Project1, MainPas, UtilsPas };
    const QList<QByteArray> tokens
        = { "{",        "}",    "(*",    "*)",   "//",    "'",         ",",
            ";",        "\r\n", "\t",    " ",    "uses ", "\r\nuses ", "\r\nbegin",
            " in '",    "{$I ", "{$R *", "..\\", "\\",    "=",         QByteArray(1, '\0'),
            "\xff\xfe", "Main", "X.pas'" };
    const QString sFile = P + QStringLiteral("/App/Fuzz.pas");
    for (int i = 0; i < 1500; ++i) {
        QByteArray text = seeds.at(pick(int(seeds.size())));
        for (int n = 1 + pick(12); n > 0; --n) {
            const int at = pick(int(text.size()) + 1);
            switch (pick(3)) {
            case 0:
                text.insert(at, tokens.at(pick(int(tokens.size()))));
                break;
            case 1:
                text.remove(at, 1 + pick(8));
                break;
            default:
                text.insert(at, char(rng()));
            }
        }
        sandbox.writeFile(QStringLiteral("proj/App/Fuzz.pas"), text);
        TestParser parser(1, QStringLiteral("Fuzz"), QString());
        parser.ParseFile(sFile);
        ASSERT_TRUE(parser.queueEmpty());
        for (const TFileItem &item : parser.Items()) {
            const qsizetype eq = item.sText.indexOf(u'=');
            ASSERT_GT(eq, 0) << item.sText.toStdString();
            const QString sPath = item.Path();
            ASSERT_TRUE(sPath.startsWith(u'/') && QDir::cleanPath(sPath) == sPath) << sPath.toStdString();
        }
    }
}
