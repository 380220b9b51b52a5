// Zips a generated source tree of about 200 MB with TArchiveBuilder::BuildCodeZip
// and with Info-ZIP's zip over the same files, and prints both rates.
//
//   bench_codezip [work folder] [megabytes]

#include "core/globals.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "delivery/archivebuilder.h"
#include "delivery/progress.h"
#include "projects/parser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <random>

namespace {

// Text that compresses like source code: indented lines of identifiers,
// keywords, numbers and comments drawn from a fixed vocabulary.
QByteArray SourceText(std::mt19937 &rng, qsizetype iSize)
{
    static const char *const Words[]
        = { "begin",  "end;",    "if",       "then",   "else",      "procedure", "function", "var",
            "const",  "result",  ":=",       "Self",   "inherited", "FItems",    "Count",    "TList",
            "nil",    "for",     "to",       "do",     "while",     "not",       "and",      "or",
            "string", "Integer", "Boolean",  "raise",  "Exception", "try",       "finally",  "except",
            "Create", "Free",    "Assigned", "(",      ")",         ";",         "0",        "1",
            "FName",  "Value",   "Index",    "Length", "Result",    "Exit;",     "class",    "property" };
    std::uniform_int_distribution<int> word(0, int(std::size(Words)) - 1);
    std::uniform_int_distribution<int> indent(0, 4);
    std::uniform_int_distribution<int> lineWords(1, 12);
    std::uniform_int_distribution<int> number(0, 99999);
    std::uniform_int_distribution<int> pick(0, 19);
    QByteArray out;
    out.reserve(iSize + 256);
    while (out.size() < iSize) {
        out.append(QByteArray(indent(rng) * 2, ' '));
        if (pick(rng) == 0) {
            out.append("// ");
        }
        const int n = lineWords(rng);
        for (int i = 0; i < n; ++i) {
            if (pick(rng) == 1)
                out.append(QByteArray::number(number(rng)));
            else
                out.append(Words[word(rng)]);
            out.append(' ');
        }
        out.append("\r\n");
    }
    out.truncate(iSize);
    return out;
}

QByteArray RandomBytes(std::mt19937 &rng, qsizetype iSize)
{
    QByteArray out(iSize, Qt::Uninitialized);
    for (qsizetype i = 0; i + 4 <= iSize; i += 4) {
        const quint32 v = rng();
        memcpy(out.data() + i, &v, 4);
    }
    return out;
}

bool WriteFile(const QString &sPath, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(sPath).absolutePath());
    QFile f(sPath);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Writes the tree; returns the files in a stable order and their total size.
QStringList MakeTree(const QString &sRoot, qint64 iTarget, qint64 &iTotal)
{
    std::mt19937 rng(20120215);
    QStringList lFiles;
    iTotal = 0;
    // A few large already-compressed files, about a tenth of the total.
    const char *const Packed[]
        = { "assets/logo.jpg", "assets/splash.jpg", "lib/runtime.zip", "lib/docs.zip" };
    for (const char *sName : Packed) {
        const QString sPath = sRoot + QLatin1Char('/') + QLatin1String(sName);
        const QByteArray data = RandomBytes(rng, iTarget / 40);
        if (!WriteFile(sPath, data))
            return {};
        lFiles << sPath;
        iTotal += data.size();
    }
    // Source files from a few hundred bytes to half a megabyte (log-uniform).
    std::uniform_real_distribution<double> logSize(std::log(300.0), std::log(512.0 * 1024));
    const char *const Ext[] = { ".pas", ".dfm", ".inc", ".cpp", ".h", ".txt" };
    int i = 0;
    while (iTotal < iTarget) {
        const qsizetype iSize = qsizetype(std::exp(logSize(rng)));
        const QString sPath = sRoot
            + QStringLiteral("/src/mod%1/sub%2/unit%3%4")
                  .arg(i / 400)
                  .arg((i / 40) % 10)
                  .arg(i)
                  .arg(QLatin1String(Ext[i % std::size(Ext)]));
        const QByteArray data = SourceText(rng, iSize);
        if (!WriteFile(sPath, data))
            return {};
        lFiles << sPath;
        iTotal += data.size();
        ++i;
    }
    return lFiles;
}

void Report(const char *sWho, qint64 iMs, qint64 iIn, qint64 iOut)
{
    const double dSec = double(iMs) / 1000.0;
    std::printf("%-22s %8.2f s  %7.1f MB/s  archive %7.1f MB (%.1f%% of input)\n", sWho, dSec,
                double(iIn) / 1e6 / dSec, double(iOut) / 1e6, 100.0 * double(iOut) / double(iIn));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTemporaryDir tmp(args.size() > 1 ? args.at(1) + QStringLiteral("/bench_codezip-XXXXXX")
                                      : QDir::tempPath() + QStringLiteral("/bench_codezip-XXXXXX"));
    const qint64 iTarget = (args.size() > 2 ? args.at(2).toLongLong() : 200) * 1000 * 1000;
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot create the work folder\n");
        return 1;
    }
    const QString sWork = tmp.path();
    qputenv("TMPDIR", QFile::encodeName(sWork + QStringLiteral("/tmp")));
    QDir().mkpath(sWork + QStringLiteral("/tmp"));

    qint64 iTotal = 0;
    const QStringList lFiles = MakeTree(sWork + QStringLiteral("/tree"), iTarget, iTotal);
    if (lFiles.isEmpty()) {
        std::fprintf(stderr, "cannot write the tree\n");
        return 1;
    }
    std::printf("tree: %lld files, %.1f MB\n", qlonglong(lFiles.size()), double(iTotal) / 1e6);

    TSQLiteDatabase db(sWork + QStringLiteral("/bundlewick.sqlite"));
    int iOld = 0, iNew = 0;
    TUpdateCheck::UpdateDatabase(db, iOld, iNew);
    DB = &db;
    db.ExecSQL(QStringLiteral("INSERT INTO projects (type, title) VALUES (0, 'Bench')"));
    const int iProject = int(db.LastInsertRowID());
    db.Start();
    for (const QString &sPath : lFiles)
        db.ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                      { iProject, sPath });
    db.Commit();
    auto oProject = CreateParser(0, iProject, QStringLiteral("Bench"), QString());
    oProject->Parse();

    TProgressList progress;
    progress.SetProcessEvents(false);
    TArchiveBuilder builder(progress);

    const QString sZipOut = sWork + QStringLiteral("/infozip.zip");
    const QString sStored
        = QStringLiteral(".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.rar:.ace:.cab:"
                         ".gz:.gzip:.jar:.jpg:.jpeg:.7zp:.mp3:.wmv:.wma:.dvr-ms:.avi");
    qint64 iBest[2] = { -1, -1 };
    qint64 iSize[2] = { 0, 0 };
    for (int iRound = 0; iRound < 2; ++iRound) {
        QFile::remove(sZipOut);
        QElapsedTimer t;
        t.start();
        QProcess zip;
        zip.setWorkingDirectory(sWork + QStringLiteral("/tree"));
        zip.start(QStringLiteral("zip"),
                  { QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-6"), QStringLiteral("-n"),
                    sStored, sZipOut, QStringLiteral(".") });
        if (!zip.waitForFinished(-1) || zip.exitCode() != 0) {
            std::fprintf(stderr, "zip failed: %s\n", zip.readAllStandardError().constData());
            return 1;
        }
        const qint64 iZipMs = t.elapsed();

        t.restart();
        QString sRoot;
        const QString sCodeZip = builder.BuildCodeZip(*oProject, sRoot);
        const qint64 iOurMs = t.elapsed();
        if (builder.Engine().ErrorCode() != 0) {
            std::fprintf(stderr, "BuildCodeZip failed: %s\n", qPrintable(builder.Engine().ErrorMessage()));
            return 1;
        }
        iSize[0] = QFileInfo(sCodeZip).size();
        iSize[1] = QFileInfo(sZipOut).size();
        if (iBest[0] < 0 || iOurMs < iBest[0])
            iBest[0] = iOurMs;
        if (iBest[1] < 0 || iZipMs < iBest[1])
            iBest[1] = iZipMs;
    }
    std::printf("best of 2 rounds, files in the page cache:\n");
    Report("BuildCodeZip", iBest[0], iTotal, iSize[0]);
    Report("zip -r -q -6", iBest[1], iTotal, iSize[1]);
    std::printf("time ratio BuildCodeZip / zip: %.2f\n", double(iBest[0]) / double(iBest[1]));
    DB = nullptr;
    return 0;
}
