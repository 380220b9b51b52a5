// Expands the recursive wildcard entry "<tree>/*.pas -r" over 100,000 files in
// 5,000 folders and times it against find(1) with -name '*.pas' over the same
// tree (best of five, warm cache). Also times building a project's file list
// from that entry, duplicate checks included.
#include "benchtree.h"
#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "projects/project.h"
#include "projects/wildcard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString tree = dir.path() + QStringLiteral("/tree");
    MakeSourceTree(tree);

    const QString entry = tree + QStringLiteral("/*.pas -r");
    qsizetype matched = 0;
    const qint64 wildcard = BestOfFive([&] { matched = MatchWildCardList(entry).size(); });

    qsizetype findLines = 0;
    const qint64 find = BestOfFive([&] {
        QProcess p;
        p.start(QStringLiteral("find"),
                { tree, QStringLiteral("-type"), QStringLiteral("f"), QStringLiteral("-name"),
                  QStringLiteral("*.pas") });
        p.waitForFinished(-1);
        findLines = p.readAllStandardOutput().count('\n');
    });

    // The same entry through a project object.
    TSQLiteDatabase db(dir.path() + QStringLiteral("/bench.sqlite"));
    int iOld = 0, iNew = 0;
    TUpdateCheck::UpdateDatabase(db, iOld, iNew);
    DB = &db;
    db.ExecSQL(QStringLiteral("INSERT INTO projects (id, type, title) VALUES (1, 0, 'Bench')"));
    db.ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (1, '%s')"), { entry });
    int listed = 0;
    const qint64 parse = BestOfFive([&] {
        TProjectGeneric o(1, QStringLiteral("Bench"), QString());
        o.Parse();
        listed = o.FileCount();
    });
    DB = nullptr;

    std::printf("MatchWildCardList *.pas -r : %lld ms (%lld files)\n", static_cast<long long>(wildcard),
                static_cast<long long>(matched));
    std::printf("find -type f -name '*.pas' : %lld ms (%lld files)\n", static_cast<long long>(find),
                static_cast<long long>(findLines));
    std::printf("ratio wildcard/find        : %.2f\n", find > 0 ? double(wildcard) / double(find) : 0.0);
    std::printf("TProject::Parse of the entry: %lld ms (%d files, change count included)\n",
                static_cast<long long>(parse), listed);
    return 0;
}
