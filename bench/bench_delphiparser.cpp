// Parses a generated Delphi project of 3,000 units, each using about 20
// others (half through "in" paths, some spelled in another case), against a
// fake Delphi installation in a private Wine prefix. Prints the time of the
// first parse and the best of five, and units per second.
#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "projects/librarydelphi.h"
#include "projects/projectdelphi.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <random>

namespace {

constexpr int Units = 3000;
constexpr int Modules = 30;

void WriteFile(const QString &sPath, const QByteArray &text)
{
    QDir().mkpath(sPath.left(sPath.lastIndexOf(u'/')));
    QFile file(sPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(sPath));
        std::exit(1);
    }
}

QByteArray UnitName(int i)
{
    return "Unit" + QByteArray::number(i);
}

QByteArray Module(int i)
{
    return "mod" + QByteArray::number(i % Modules);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString root = dir.path();
    qputenv("WINEPREFIX", QFile::encodeName(root + QStringLiteral("/wine")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));

    // A Delphi installation with the usual RTL and VCL units, and one
    // component library outside it.
    WriteFile(root + QStringLiteral("/wine/system.reg"),
              "WINE REGISTRY Version 2\n#arch=win32\n\n[Software\\\\Embarcadero\\\\BDS\\\\8.0] 1700000000\n"
              "\"RootDir\"=\"C:\\\\Program Files\\\\Embarcadero\\\\RAD Studio\\\\8.0\\\\\"\n");
    WriteFile(
        root
            + QStringLiteral("/wine/drive_c/users/bench/AppData/Roaming/Embarcadero/BDS/8.0/EnvOptions.proj"),
        "<Project><PropertyGroup><Win32LibraryPath>$(BDS)\\lib;$(BDS)\\Imports;C:\\Components\\DCU"
        "</Win32LibraryPath><Win32BrowsingPath>C:\\Components\\Source</Win32BrowsingPath>"
        "</PropertyGroup></Project>");
    const QList<QByteArray> vcl = { "SysUtils", "Classes", "Windows", "Messages", "Variants", "Graphics",
                                    "Controls", "Forms",   "Dialogs", "StdCtrls", "ExtCtrls", "ComCtrls" };
    const QString lib = root + QStringLiteral("/wine/drive_c/Program Files/Embarcadero/RAD Studio/8.0/lib/");
    for (const QByteArray &unit : vcl)
        WriteFile(lib + QString::fromLatin1(unit) + QStringLiteral(".dcu"), "dcu");
    WriteFile(root + QStringLiteral("/wine/drive_c/Components/Source/VirtualTrees.pas"),
              "unit VirtualTrees;\r\ninterface\r\nuses Windows, Classes;\r\nimplementation\r\nend.\r\n");

    // The project: every unit listed in the project file with its path, as
    // the IDE writes it; units use others by path and by name.
    std::mt19937 rng(42);
    const QString src = root + QStringLiteral("/proj/src/");
    QByteArray dpr = "program Big;\r\n\r\n{$R *.res}\r\n\r\nuses\r\n  Forms,\r\n";
    for (int i = 0; i < Units; ++i) {
        dpr += "  " + UnitName(i) + " in '..\\src\\" + Module(i) + "\\" + UnitName(i) + ".pas'";
        if (i % 3 == 0)
            dpr += " {Form" + QByteArray::number(i) + "}";
        dpr += i + 1 < Units ? ",\r\n" : ";\r\n";

        QByteArray pas = "unit " + UnitName(i)
            + ";\r\n\r\n{$I ..\\..\\inc\\Defines.inc}\r\n\r\ninterface\r\n\r\nuses\r\n  ";
        for (int k = 0; k < 5; ++k)
            pas += vcl.at(int(rng() % vcl.size())) + ", ";
        pas += "VirtualTrees, // components\r\n  ";
        for (int k = 0; k < 10; ++k) {
            const int other = int(rng() % Units);
            QByteArray file = "..\\" + Module(other) + "\\" + UnitName(other) + ".pas";
            if (k % 4 == 0)
                file = file.toLower(); // written on Windows
            pas += UnitName(other) + " in '" + file + "' { comment }, ";
        }
        pas += "\r\n  ";
        for (int k = 0; k < 4; ++k)
            pas += "(* by name *) " + UnitName(int(rng() % Units)) + ", ";
        pas += "Missing" + QByteArray::number(i % 7)
            + ";\r\n\r\ntype\r\n  TThing = class\r\n"
              "    procedure BeginWork;\r\n  end;\r\n\r\nimplementation\r\n\r\n";
        if (i % 3 == 0)
            pas += "{$R *.dfm}\r\n\r\n";
        pas += "procedure TThing.BeginWork;\r\nbegin\r\n  // body\r\nend;\r\n\r\nend.\r\n";
        WriteFile(src + QString::fromLatin1(Module(i) + '/' + UnitName(i)) + QStringLiteral(".pas"), pas);
        if (i % 3 == 0)
            WriteFile(src + QString::fromLatin1(Module(i) + '/' + UnitName(i)) + QStringLiteral(".dfm"),
                      "object");
    }
    dpr += "\r\nbegin\r\n  Application.Initialize;\r\n  Application.Run;\r\nend.\r\n";
    const QString project = root + QStringLiteral("/proj/app/Big.dpr");
    WriteFile(project, dpr);
    WriteFile(root + QStringLiteral("/proj/app/Big.dproj"), "<Project/>");
    WriteFile(root + QStringLiteral("/proj/inc/Defines.inc"), "{$DEFINE BENCH}");

    TSQLiteDatabase db(root + QStringLiteral("/bundlewick.sqlite"));
    int iOld = 0;
    int iNew = 0;
    TUpdateCheck::UpdateDatabase(db, iOld, iNew);
    DB = &db;

    qint64 first = -1;
    qint64 fastest = -1;
    int files = 0;
    for (int run = 0; run < 5; ++run) {
        TProjectDelphi parser(1, QStringLiteral("Big"), project);
        QElapsedTimer timer;
        timer.start();
        parser.Parse();
        const qint64 ns = timer.nsecsElapsed();
        files = parser.FileCount();
        if (!parser.ParseError().isEmpty())
            std::printf("parse error: %s\n", qPrintable(parser.ParseError()));
        if (first < 0)
            first = ns;
        if (fastest < 0 || ns < fastest)
            fastest = ns;
    }
    DB = nullptr;
    TLibraryDelphi::Reset();

    std::printf("Delphi project of %d units, %d files listed\n", Units, files);
    std::printf("first parse: %.1f ms (%.0f units/s)\n", first / 1e6, Units / (first / 1e9));
    std::printf("best of 5:   %.1f ms (%.0f units/s)\n", fastest / 1e6, Units / (fastest / 1e9));
    return 0;
}
