// The main window over 5,000 projects, each with a wildcard entry over a few
// hundred files: how long until the rows are there, the longest the
// user-interface thread is kept from its events while the counts arrive
// (a 5 ms heartbeat timer measures the gaps), how long until every count is
// there, and how long the project editor takes to open. The tree and the
// database are made here, in a temporary folder; no desktop is needed
// (QT_QPA_PLATFORM=offscreen).
//
//   bench_mainwindow [PROJECTS [FILES_PER_FOLDER [RUNS]]]
#include "core/globals.h"
#include "core/regutils.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "ui/dialogs.h"
#include "ui/frmmain.h"
#include "ui/frmprojecteditor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kFolders = 25;

struct TRun
{
    double dListed = 0; // ms from construction until the rows are there
    double dFilled = 0; // until every count is there
    double dStall = 0; // longest gap between heartbeats from construction on
    double dEditor = 0; // from the edit call until the editor runs its events
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

TRun RunOnce()
{
    TRun run;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer beat;
    beat.start();
    double dListedAt = -1;
    TfrmMain frm;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        run.dStall = std::max(run.dStall, double(beat.nsecsElapsed()) / 1e6);
        beat.restart();
        if (dListedAt < 0 && frm.Listed())
            dListedAt = double(clock.nsecsElapsed()) / 1e6;
    });
    heartbeat.start();
    QEventLoop loop;
    QObject::connect(&frm, &TfrmMain::filled, &loop, &QEventLoop::quit);
    frm.show();
    beat.restart();
    if (!frm.Filled())
        loop.exec();
    run.dFilled = double(clock.nsecsElapsed()) / 1e6;
    run.dListed = dListedAt < 0 ? run.dFilled : dListedAt;
    heartbeat.stop();

    // The editor on a project in the middle of the list.
    auto *list = frm.findChild<QListWidget *>(QStringLiteral("listProjects"));
    list->setCurrentRow(list->count() / 2);
    QElapsedTimer editor;
    QTimer::singleShot(0, [&] {
        run.dEditor = double(editor.nsecsElapsed()) / 1e6;
        if (QWidget *w = QApplication::activeModalWidget())
            w->close();
    });
    editor.start();
    frm.EditProject();
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int iProjects = argc > 1 ? std::max(1, atoi(argv[1])) : 5000;
    const int iFiles = argc > 2 ? std::max(1, atoi(argv[2])) : 300;
    const int iRuns = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // kFolders folders of iFiles sources; each project takes one of them.
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = dir.filePath(QStringLiteral("tree/f%1").arg(f));
        QDir().mkpath(folder);
        for (int i = 0; i < iFiles; ++i) {
            QFile file(folder + QStringLiteral("/unit%1.pas").arg(i));
            if (!file.open(QIODevice::WriteOnly))
                return 1;
            file.write("unit;\n");
        }
    }
    TSQLiteDatabase db(dir.filePath(QStringLiteral("bundlewick.sqlite")));
    int iOld = 0, iNew = 0;
    TUpdateCheck::UpdateDatabase(db, iOld, iNew);
    DB = &db;
    AppDataDir = dir.filePath(QStringLiteral("appdata/"));
    Params = new TParams(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
    TDialogs::SetScripted(true);
    db.ExecSQL(QStringLiteral("BEGIN"));
    for (int p = 0; p < iProjects; ++p) {
        db.Exec(QStringLiteral("INSERT INTO projects (type, title, filename, senddate, modified) "
                               "VALUES (0, ?, '', NULL, DATETIME('NOW'))"),
                { QStringLiteral("Project %1").arg(p, 5, 10, QLatin1Char('0')) });
        const qint64 id = db.LastInsertRowID();
        db.Exec(QStringLiteral(
                    "INSERT INTO files (id_projects, filename, modified) VALUES (?, ?, DATETIME('NOW'))"),
                { int(id), dir.filePath(QStringLiteral("tree/f%1/*.pas").arg(p % kFolders)) });
        if (p % 2 == 0) {
            db.Exec(QStringLiteral("INSERT INTO send (id_projects, type, zippassword, modified) "
                                   "VALUES (?, 1, '', DATETIME('NOW'))"),
                    { int(id) });
        }
    }
    db.ExecSQL(QStringLiteral("COMMIT"));

    std::vector<double> listed, filled, stall, editor;
    for (int r = 0; r < iRuns; ++r) {
        const TRun run = RunOnce();
        listed.push_back(run.dListed);
        filled.push_back(run.dFilled);
        stall.push_back(run.dStall);
        editor.push_back(run.dEditor);
    }
    std::printf("main window, %d projects x %d files, %d runs (medians)\n", iProjects, iFiles, iRuns);
    std::printf("  rows shown after          %8.1f ms   (goal 300 ms: %.2fx)\n", Median(listed),
                Median(listed) / 300);
    std::printf("  longest stall             %8.1f ms   (goal  50 ms: %.2fx)\n", Median(stall),
                Median(stall) / 50);
    std::printf("  every count there after   %8.1f ms\n", Median(filled));
    std::printf("  project editor open after %8.1f ms   (goal 200 ms: %.2fx)\n", Median(editor),
                Median(editor) / 200);
    delete Params;
    Params = nullptr;
    DB = nullptr;
    return 0;
}
