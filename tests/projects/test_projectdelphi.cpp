#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "projects/librarydelphi.h"
#include "projects/projectdelphi.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <random>

namespace {

// A Wine prefix as the Delphi IDE leaves it: the installation's key and the
// options file with its library folders.
const QByteArray Registry
    = "WINE REGISTRY Version 2\n#arch=win32\n\n[Software\\\\Embarcadero\\\\BDS\\\\8.0] 1\n"
      "\"RootDir\"=\"C:\\\\Program Files\\\\Embarcadero\\\\RAD Studio\\\\8.0\\\\\"\n";
const QByteArray Options
    = "<Project><PropertyGroup><Win32LibraryPath>$(BDS)\\lib;C:\\Components\\DCU</Win32LibraryPath>"
      "<Win32BrowsingPath>c:\\components\\source</Win32BrowsingPath></PropertyGroup></Project>";

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
    void write(const char *relative, QByteArray text = "unit x;\n")
    {
        text.replace("\r\n", "\n");
        text.replace("\n", "\r\n");
        sandbox.writeFile(QString::fromUtf8(relative), text);
    }
    // Items with "<P>", "<C>" and "<p>" standing for the project, drive C
    // and the small test folder.
    QStringList expand(std::initializer_list<const char *> items) const
    {
        QStringList out;
        for (const char *item : items) {
            QString s = QString::fromUtf8(item);
            s.replace(QLatin1String("<P>"), P).replace(QLatin1String("<C>"), C);
            out += s.replace(QLatin1String("<p>"), sandbox.root() + QLatin1String("/p"));
        }
        return out;
    }
    void makeInstallation()
    {
        write("wine/system.reg", Registry);
        write("wine/drive_c/users/tester/AppData/Roaming/Embarcadero/BDS/8.0/EnvOptions.proj", Options);
        for (const char *unit : { "SysUtils.pas", "Classes.dcu", "Windows.dcu", "Forms.pas" })
            write(qPrintable(QStringLiteral("wine/drive_c/Program Files/Embarcadero/RAD Studio/8.0/lib/")
                             + QLatin1String(unit)));
        write("wine/drive_c/Components/DCU/OnlyDcu.dcu");
        write("wine/drive_c/Components/DCU/VirtualTrees.dcu");
        write("wine/drive_c/Components/Source/VirtualTrees.pas",
              "unit VirtualTrees;\nuses Windows, VTHeader;");
        write("wine/drive_c/Components/Source/VTHeader.pas");
    }
    void makeProject()
    {
        write("proj/App/Project1.dpr", Project1);
        write("proj/App/Project1.dproj", "<Project/>");
        write("proj/App/Defs.inc", "{$DEFINE X}");
        write("proj/App/Main.pas", MainPas);
        write("proj/App/Main.dfm", "object frmMain: TfrmMain\nend\n");
        write("proj/App/Utils.pas", UtilsPas);
        write("proj/App/Hidden.pas");
        write("proj/App/sub/Extra.pas", "unit Extra;\n{$I ..\\..\\Shared\\COMMON.inc}\n");
        write("proj/Shared/X.pas", "unit Shared;\ninterface\nuses SysUtils;\nimplementation\nend.");
        write("proj/Shared/Helpers.pas", "unit Helpers;\nuses Utils in '..\\App\\Utils.pas';\nend.");
        write("proj/Shared/common.inc");
        write("proj/docs/Notes.txt", "notes");
    }
    // Stores the project with one hand-added entry.
    int storeProject()
    {
        DB->ExecSQLFmt(QStringLiteral("INSERT INTO projects (type, title) VALUES (1, 'App')"), {});
        const int iID = int(DB->GetTableValue(QStringLiteral("SELECT MAX(id) FROM projects")));
        DB->ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                       { iID, P + QStringLiteral("/docs/Notes.txt") });
        return iID;
    }
    QStringList parseFile(const char *relative);
};

// Exposes the steps that need no database.
class TestParser : public TProjectDelphi
{
public:
    TestParser()
        : TProjectDelphi(1, QStringLiteral("Test"), QString())
    { }
    using TProjectDelphi::NextList;
    using TProjectDelphi::ParseFile;
    QStringList texts() const
    {
        QStringList out;
        for (const TFileItem &item : Items())
            out += item.sText;
        return out;
    }
};

QStringList ParserDelphi::parseFile(const char *relative)
{
    TestParser parser;
    parser.ParseFile(sandbox.root() + u'/' + QString::fromUtf8(relative));
    EXPECT_TRUE(parser.NextList().isEmpty());
    return parser.texts();
}

QStringList Texts(const TProject &oProject)
{
    QStringList out;
    for (const TFileItem &item : oProject.Items())
        out += item.sText;
    return out;
}

} // namespace

TEST_F(ParserDelphi, CollectsARealisticProject)
{
    makeInstallation();
    makeProject();
    const int iID = storeProject();
    int iCalls = 0;
    TProjectDelphi parser(iID, QStringLiteral("App"), P + QStringLiteral("/App/Project1.dpr"),
                          [&](TProject *) { ++iCalls; });
    parser.Parse();
    EXPECT_EQ(
        Texts(parser),
        expand({ "Project1=<P>/App/Project1.dproj", "Project1=<P>/App/Project1.dpr",
                 "include=<P>/App/Project1.res", "include=<P>/App/Defs.inc", "Main=<P>/App/Main.pas",
                 "utils=<P>/App/Utils.pas", "Shared=<P>/Shared/X.pas",
                 "VirtualTrees=<C>/Components/Source/VirtualTrees.pas",
                 "OnlyDcu=<C>/Components/DCU/OnlyDcu.dcu",
                 // Main.pas: its form, then the units of both uses clauses.
                 "include=<P>/App/Main.dfm", "Helpers=<P>/Shared/Helpers.pas", "Extra=<P>/App/sub/Extra.pas",
                 // X.pas once more under its own name.
                 "X=<P>/Shared/X.pas", "VTHeader=<C>/Components/Source/VTHeader.pas",
                 "include=<P>/Shared/common.inc", "<P>/docs/Notes.txt" }));
    EXPECT_GT(parser.Items().last().iFileID, 0);
    EXPECT_EQ(parser.ParseError(), QString());
    EXPECT_EQ(iCalls, 1);
    // Never delivered: every existing file counts (Project1.res does not exist).
    EXPECT_EQ(parser.ChangedFiles(), 15);
}

TEST_F(ParserDelphi, WithoutDelphiCollectsWhatItCanAndKeepsTheError)
{
    makeProject();
    const int iID = storeProject();
    int iCalls = 0;
    TProjectDelphi parser(iID, QStringLiteral("App"), P + QStringLiteral("/App/Project1.dpr"),
                          [&](TProject *) { ++iCalls; });
    EXPECT_NO_THROW(parser.Parse());
    const QStringList expected
        = expand({ "Project1=<P>/App/Project1.dproj", "Project1=<P>/App/Project1.dpr",
                   "include=<P>/App/Project1.res", "include=<P>/App/Defs.inc", "Main=<P>/App/Main.pas",
                   "utils=<P>/App/Utils.pas", "Shared=<P>/Shared/X.pas", "include=<P>/App/Main.dfm",
                   "Helpers=<P>/Shared/Helpers.pas", "Extra=<P>/App/sub/Extra.pas", "X=<P>/Shared/X.pas",
                   "include=<P>/Shared/common.inc", "<P>/docs/Notes.txt" });
    EXPECT_EQ(Texts(parser), expected);
    EXPECT_EQ(parser.ParseError(), QStringLiteral("Delphi is not installed on this computer"));
    EXPECT_EQ(iCalls, 1);

    makeInstallation();
    QFile::remove(C + QStringLiteral("/users/tester/AppData/Roaming/Embarcadero/BDS/8.0/EnvOptions.proj"));
    TProjectDelphi second(iID, QStringLiteral("App"), P + QStringLiteral("/App/Project1.dpr"));
    EXPECT_NO_THROW(second.Parse());
    EXPECT_EQ(Texts(second), expected);
    EXPECT_EQ(second.ParseError(),
              QStringLiteral("The required file \"%1/users/tester/AppData/Roaming/"
                             "Embarcadero/BDS/8.0/EnvOptions.proj\" doesn't exist.")
                  .arg(C));
}

TEST_F(ParserDelphi, ResolvesWindowsSpellings)
{
    makeInstallation();
    write("proj/App/P.DPR",
          "uses\n  A in 'Sub\\Deep\\..\\a.PAS',\n  B in '.\\SUB\\b.pas',\n"
          "  D in 'C:\\COMPONENTS\\source\\vtheader.pas',\n  E in '"
              + QFile::encodeName(P)
              + "/App/Sub/a.pas',\n  F in 'nowhere\\f.pas',\n  G in 'sub';\n"
                "{$I ..\\APP\\Sub\\INC.INC}\n");
    write("proj/App/p.dproj", "<Project/>");
    write("proj/App/Sub/A.pas");
    write("proj/App/Sub/B.pas");
    write("proj/App/Sub/Inc.inc");
    TProjectDelphi parser(1, QStringLiteral("P"), P + QStringLiteral("/app/p.dpr"));
    parser.Parse();
    EXPECT_EQ(Texts(parser),
              expand({ "P=<P>/App/p.dproj", "P=<P>/App/P.DPR", "include=<P>/App/Sub/Inc.inc",
                       "A=<P>/App/Sub/A.pas", "B=<P>/App/Sub/B.pas", "D=<C>/Components/Source/VTHeader.pas",
                       "E=<P>/App/Sub/A.pas", "VTHeader=<C>/Components/Source/VTHeader.pas" }));
}

TEST_F(ParserDelphi, ScansShallowly)
{
    makeInstallation();
    for (const char *unit :
         { "p/A.pas", "p/B.pas", "p/C.pas", "p/D.pas", "p/E.pas", "p/F.pas", "p/Rsrc.res" })
        write(unit);
    // Only line-initial keywords (spaces, no tabs) in the head count; "usesX"
    // counts as "uses" and "Beginning" ends the head like "begin".
    write("p/Head.dpr",
          "program Prj;\n  USES A in 'A.pas';\nx := 1; uses B in 'B.pas';\n\tuses B in 'B.pas';\n"
          "uses\tC in 'C.pas'\n  , Forms;\n{$R Rsrc.res}{$I 'Gone.inc'}{$I}{$IFOPT R+}\n"
          "  Beginning;\nuses D in 'D.pas';\n");
    EXPECT_EQ(parseFile("p/Head.dpr"),
              expand({ "Head=<p>/Head.dpr", "include=<p>/Rsrc.res", "A=<p>/A.pas", "C=<p>/C.pas" }));

    // A line comment ends at its line; brace comments may span items; items
    // are split at every comma, also one inside a comment.
    write("p/Items.dpr",
          "uses\n  A in 'A.pas' {Form1}, // Old in 'Old.pas'\n  B in 'B.pas' (* x *),\n"
          "  {C in 'C.pas',} D (*in*) in 'D.pas' //, F in 'F.pas'\n  , E in 'E.pas' { open to the end;");
    EXPECT_EQ(parseFile("p/Items.dpr"),
              expand({ "Items=<p>/Items.dpr", "A=<p>/A.pas", "B=<p>/B.pas", "D=<p>/D.pas", "F=<p>/F.pas",
                       "E=<p>/E.pas" }));
}

TEST(ParserDelphiText, RemovesComments)
{
    const auto braces = [](const char *s) {
        return TProjectDelphi::RemoveComments(QString::fromLatin1(s), QLatin1String("{"), QLatin1String("}"));
    };
    const auto parens = [](const char *s) {
        return TProjectDelphi::RemoveComments(QString::fromLatin1(s), QLatin1String("(*"),
                                              QLatin1String("*)"));
    };
    EXPECT_EQ(braces("A {x} B {y}"), QStringLiteral("A  B "));
    EXPECT_EQ(braces("X {open"), QStringLiteral("X "));
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
    EXPECT_EQ(TProjectDelphi::FindKeyword(text, QLatin1String("begin")), 28);
    EXPECT_EQ(TProjectDelphi::FindKeyword(text, QLatin1String("begin"), 29), 36);
    // Only ASCII letters fold: the long s is no "s".
    EXPECT_EQ(TProjectDelphi::FindKeyword(QStringLiteral("u\u017Fes"), QLatin1String("uses")), -1);
}

TEST_F(ParserDelphi, SurvivesBadInput)
{
    write("p/cycle/A.pas", "unit A;\nuses B in 'B.pas', A2 in 'a.pas', A in 'A.pas';\n");
    write("p/cycle/B.pas", "unit B;\nuses A in 'A.pas', B in 'B.pas', B=1 in 'B.pas';\n");
    // Units using each other, under several names: each name is followed once.
    // "=" cannot stand in a name, as its item would lose its path.
    write("p/cycle/Cycle.dpr", "uses A in 'A.pas';\n");
    EXPECT_EQ(parseFile("p/cycle/Cycle.dpr"),
              expand({ "Cycle=<p>/cycle/Cycle.dpr", "A=<p>/cycle/A.pas", "B=<p>/cycle/B.pas",
                       "A2=<p>/cycle/A.pas", "B_1=<p>/cycle/B.pas" }));

    write("p/A.pas");
    // Unterminated comments and directives; a clause without ";".
    write("p/Open.dpr", "uses A in 'A.pas', B (* in 'B.pas',\n C { x;\n{$I A.pas\n");
    EXPECT_EQ(parseFile("p/Open.dpr"), expand({ "Open=<p>/Open.dpr", "A=<p>/A.pas" }));
    write("p/NoSemi.dpr", "uses A in 'A.pas'\nbegin\nend.");
    EXPECT_EQ(parseFile("p/NoSemi.dpr"), expand({ "NoSemi=<p>/NoSemi.dpr" }));

    // Binary junk.
    std::mt19937 rng(7);
    QByteArray junk(1 << 18, '\0');
    for (char &c : junk)
        c = char(rng());
    junk.replace(1000, 40, "\r\nuses A in 'A.pas', {(*//\r\n;\r\n{$I \x01\xff}");
    sandbox.writeFile(QStringLiteral("p/Junk.dpr"), junk);
    EXPECT_EQ(parseFile("p/Junk.dpr").first(), expand({ "Junk=<p>/Junk.dpr" }).first());

    // 50 MB: a long uses clause full of markers, two single items that
    // cutting comment by comment would take ages over, then plain text.
    QByteArray big = "uses\r\n";
    while (big.size() < (1 << 20))
        big += "Foo{,} (*a,*) // x\r\n A in 'A.pas' {,(*, *), Bar in 'no\\where.pas',\r\n";
    big += ", " + QByteArray(2 << 20, '}') + " Q in 'A.pas', " + QByteArray(1 << 20, '*').replace("*", "*)")
        + " R in 'A.pas';\r\n";
    big.reserve(50 << 20);
    while (big.size() < (50 << 20))
        big += "  Writeln('{$R+} ... (* ... { ... no keyword here ... }');\r\n";
    sandbox.writeFile(QStringLiteral("p/Big.dpr"), big);
    EXPECT_EQ(parseFile("p/Big.dpr"),
              expand({ "Big=<p>/Big.dpr", "A=<p>/A.pas", "Q=<p>/A.pas", "R=<p>/A.pas" }));

    // A file that exists but cannot be read (even by root) is skipped.
    write("p/Unreadable.dpr", "uses Mem in '/proc/self/mem', A in 'A.pas';");
    TestParser parser;
    parser.ParseFile(sandbox.root() + QStringLiteral("/p/Unreadable.dpr"));
    EXPECT_EQ(parser.texts(),
              expand({ "Unreadable=<p>/Unreadable.dpr", "Mem=/proc/self/mem", "A=<p>/A.pas" }));
    EXPECT_EQ(parser.ParseError(), QStringLiteral("Cannot read \"/proc/self/mem\": Input/output error."));
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
        ASSERT_EQ(TProjectDelphi::RemoveComments(s, QLatin1String("(*"), QLatin1String("*)")),
                  RemoveCommentsLiterally(s, QStringLiteral("(*"), QStringLiteral("*)")))
            << s.toStdString();
        ASSERT_EQ(TProjectDelphi::RemoveComments(s, QLatin1String("{"), QLatin1String("}")),
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
    for (int i = 0; i < 1000; ++i) {
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
        TestParser parser;
        parser.ParseFile(sFile);
        ASSERT_TRUE(parser.NextList().isEmpty());
        for (const TFileItem &item : parser.Items()) {
            const qsizetype eq = item.sText.indexOf(u'=');
            ASSERT_GT(eq, 0) << item.sText.toStdString();
            const QString sPath = item.Path();
            ASSERT_TRUE(sPath.startsWith(u'/') && QDir::cleanPath(sPath) == sPath) << sPath.toStdString();
        }
    }
}
