// Builds "code.zip" and the outer delivery archive (code.zip stored and
// encrypted, plus a manifest) for generated source trees, and prints side by
// side: TZipWriter with one thread per core and with one thread, Info-ZIP
// (`zip -r -6` with the same stored extensions, then the outer `zip -P`), and
// today's TArchiveBuilder::BuildCodeZip. Wall times are whole processes; peak
// memory is each process's maximum resident size. Then, in this process, the
// cost of AES-256 against traditional encryption: for the outer archive (the
// stored code.zip under the password) and for code.zip with every entry
// encrypted (deflated data). A second tree of 100,000 small files shows how
// memory grows with the file count.
//
//   bench_codezip [work folder] [megabytes] [small files]

#include "archive/archivebuilder.h"
#include "archive/zipwriter.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "projects/project.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// Wall time and peak resident memory of a finished child process.
struct TChildRun
{
    qint64 iMs = 0;
    long iPeakKb = 0;
    bool bOk = false;
};

// Runs a program in a folder and waits for it, recording its resources.
TChildRun RunChild(const QString &sDir, const QStringList &lArgs)
{
    std::vector<QByteArray> args;
    for (const QString &a : lArgs)
        args.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray dir = QFile::encodeName(sDir);
    QElapsedTimer t;
    t.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.constData()) != 0)
            ::_exit(126);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    TChildRun run;
    int iStatus = 0;
    rusage usage {};
    if (pid > 0 && ::wait4(pid, &iStatus, 0, &usage) == pid) {
        run.iMs = t.elapsed();
        run.iPeakKb = usage.ru_maxrss;
        run.bOk = WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0;
    }
    return run;
}

const QString StoredSuffixes
    = QStringLiteral(".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.rar:.ace:.cab:"
                     ".gz:.gzip:.jar:.jpg:.jpeg:.7zp:.mp3:.wmv:.wma:.dvr-ms:.avi");
const QString Password = QStringLiteral("bench pass word");

// Info-ZIP: code.zip of the tree, then the outer archive with the password.
TChildRun InfoZip(const QString &sTree, const QString &sOut, const QString &sManifest)
{
    QFile::remove(sOut + QStringLiteral("/code.zip"));
    QFile::remove(sOut + QStringLiteral("/delivery.zip"));
    const TChildRun inner = RunChild(sTree,
                                     { QStringLiteral("zip"), QStringLiteral("-r"), QStringLiteral("-q"),
                                       QStringLiteral("-6"), QStringLiteral("-n"), StoredSuffixes,
                                       sOut + QStringLiteral("/code.zip"), QStringLiteral(".") });
    const TChildRun outer
        = RunChild(sOut,
                   { QStringLiteral("zip"), QStringLiteral("-q"), QStringLiteral("-j"), QStringLiteral("-n"),
                     StoredSuffixes, QStringLiteral("-P"), Password, QStringLiteral("delivery.zip"),
                     QStringLiteral("code.zip"), sManifest });
    return { inner.iMs + outer.iMs, std::max(inner.iPeakKb, outer.iPeakKb), inner.bOk && outer.bOk };
}

// This program as a child writing both archives with TZipWriter.
TChildRun Writer(const QString &sList, const QString &sRoot, const QString &sOut, const QString &sManifest,
                 int iThreads)
{
    QFile::remove(sOut + QStringLiteral("/code.zip"));
    QFile::remove(sOut + QStringLiteral("/delivery.zip"));
    return RunChild(sOut,
                    { QCoreApplication::applicationFilePath(), QStringLiteral("--writer"), sList, sRoot, sOut,
                      sManifest, QString::number(iThreads) });
}

// The child: argv = --writer LIST ROOT OUT MANIFEST THREADS.
int WriterChild(char **argv)
{
    const QString sRoot = QString::fromLocal8Bit(argv[3]);
    const QString sOut = QString::fromLocal8Bit(argv[4]);
    const int iThreads = atoi(argv[6]);
    QFile list(QString::fromLocal8Bit(argv[2]));
    if (!list.open(QIODevice::ReadOnly))
        return 2;
    QElapsedTimer t;
    t.start();
    TZipWriter code;
    code.SetZipFileName(sOut + QStringLiteral("/code.zip"));
    code.SetZipComment(TArchiveBuilder::ArchiveComment());
    code.SetThreadCount(iThreads);
    while (!list.atEnd()) {
        const QString sPath = QString::fromUtf8(list.readLine()).trimmed();
        if (!sPath.isEmpty())
            code.AddFile(sPath, sPath.mid(sRoot.size()));
    }
    if (code.Write() != 0) {
        std::fprintf(stderr, "code.zip: %s\n", qPrintable(code.ErrorMessage()));
        return 1;
    }
    code.Items() = {};
    const qint64 iCodeMs = t.restart();
    TZipWriter outer;
    outer.SetZipFileName(sOut + QStringLiteral("/delivery.zip"));
    outer.SetZipComment(TArchiveBuilder::ArchiveComment());
    outer.SetThreadCount(iThreads);
    outer.AddFile(sOut + QStringLiteral("/code.zip"), QStringLiteral("code.zip"), Password);
    outer.AddFile(QString::fromLocal8Bit(argv[5]), QStringLiteral("readme.htm"));
    if (outer.Write() != 0) {
        std::fprintf(stderr, "delivery.zip: %s\n", qPrintable(outer.ErrorMessage()));
        return 1;
    }
    std::fprintf(stderr, "    (TZipWriter, %d threads: code.zip %lld ms, outer archive %lld ms)\n", iThreads,
                 qlonglong(iCodeMs), qlonglong(t.elapsed()));
    return 0;
}

bool WriteList(const QString &sPath, const QStringList &lFiles)
{
    QFile f(sPath);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (const QString &s : lFiles)
        f.write(s.toUtf8() + '\n');
    return true;
}

void Line(const char *sWho, const TChildRun &run, qint64 iIn, qint64 iOut)
{
    const double dSec = double(run.iMs) / 1000.0;
    std::printf("%-34s %7.2f s  %7.1f MB/s  peak %7.1f MB  code.zip %7.1f MB (%.1f%%)%s\n", sWho, dSec,
                double(iIn) / 1e6 / dSec, double(run.iPeakKb) / 1024.0, double(iOut) / 1e6,
                100.0 * double(iOut) / double(iIn), run.bOk ? "" : "  FAILED");
}

qint64 FileSize(const QString &s)
{
    return QFileInfo(s).size();
}

// Keeps the faster of two runs.
void KeepBest(TChildRun &best, const TChildRun &run)
{
    if (best.iMs == 0 || (run.bOk && run.iMs < best.iMs))
        best = run;
}

// Best of iRounds wall times of writing the items with TZipWriter; -1 on failure.
qint64 TimeWriter(const std::vector<TZipWriterItem> &lItems, const QString &sArchive, int iThreads,
                  int iRounds)
{
    qint64 iBest = -1;
    for (int i = 0; i < iRounds; ++i) {
        TZipWriter zip;
        zip.SetZipFileName(sArchive);
        zip.SetThreadCount(iThreads);
        zip.SetItems(lItems);
        QElapsedTimer t;
        t.start();
        if (zip.Write() != 0) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(sArchive), qPrintable(zip.ErrorMessage()));
            return -1;
        }
        const qint64 iMs = t.elapsed();
        if (iBest < 0 || iMs < iBest)
            iBest = iMs;
    }
    return iBest;
}

// AES-256 against traditional encryption, in this process: the outer archive
// around the code.zip just written, and code.zip itself with every entry
// encrypted.
void EncryptionFigures(const QStringList &lFiles, const QString &sRoot, const QString &sOut,
                       const QString &sManifest, int iThreads, qint64 iTotal, qint64 iDeliveryMs)
{
    const QString sCode = sOut + QStringLiteral("/code.zip");
    const qint64 iCode = FileSize(sCode);
    std::printf("\nencryption, TZipWriter with %d threads, best of 3:\n", iThreads);
    qint64 iOuter[2] = {};
    const TZipEncryption eKinds[2] = { TZipEncryption::Traditional, TZipEncryption::Aes256 };
    const char *const sNames[2] = { "traditional", "AES-256" };
    for (int i = 0; i < 2; ++i) {
        std::vector<TZipWriterItem> lItems;
        lItems.push_back(TZipWriterItem::ForFile(sCode, QStringLiteral("code.zip"), Password, eKinds[i]));
        lItems.push_back(TZipWriterItem::ForFile(sManifest, QStringLiteral("readme.htm")));
        iOuter[i] = TimeWriter(lItems, sOut + QStringLiteral("/outer.zip"), iThreads, 3);
        std::printf("outer archive, %-12s %7lld ms  %7.1f MB/s (code.zip %.1f MB, stored)\n", sNames[i],
                    qlonglong(iOuter[i]), double(iCode) / 1e6 / (double(iOuter[i]) / 1000.0),
                    double(iCode) / 1e6);
    }
    std::printf("AES-256 - traditional on the outer archive: %+lld ms = %+.1f%% of a whole delivery archive "
                "(%lld ms)\n",
                qlonglong(iOuter[1] - iOuter[0]), 100.0 * double(iOuter[1] - iOuter[0]) / double(iDeliveryMs),
                qlonglong(iDeliveryMs));

    qint64 iInner[3] = {};
    const char *const sInnerNames[3] = { "none", "traditional", "AES-256" };
    for (int i = 0; i < 3; ++i) {
        std::vector<TZipWriterItem> lItems;
        for (const QString &sPath : lFiles)
            lItems.push_back(
                TZipWriterItem::ForFile(sPath, sPath.mid(sRoot.size()), i ? Password : QString(),
                                        i == 2 ? TZipEncryption::Aes256 : TZipEncryption::Traditional));
        iInner[i] = TimeWriter(lItems, sOut + QStringLiteral("/inner.zip"), iThreads, 3);
        std::printf("code.zip, every entry %-12s %7lld ms  %7.1f MB/s\n", sInnerNames[i],
                    qlonglong(iInner[i]), double(iTotal) / 1e6 / (double(iInner[i]) / 1000.0));
    }
    std::printf("AES-256 / no encryption on code.zip: %.3f   traditional / no encryption: %.3f\n",
                double(iInner[2]) / double(iInner[0]), double(iInner[1]) / double(iInner[0]));
    QFile::remove(sOut + QStringLiteral("/outer.zip"));
    QFile::remove(sOut + QStringLiteral("/inner.zip"));
}

// Many small source files, for memory per file.
QStringList MakeSmallTree(const QString &sRoot, int iCount, qint64 &iTotal)
{
    std::mt19937 rng(4711);
    std::uniform_int_distribution<int> size(200, 3000);
    QStringList lFiles;
    iTotal = 0;
    for (int i = 0; i < iCount; ++i) {
        const QString sPath
            = sRoot + QStringLiteral("/dir%1/Sub%2/unit%3.pas").arg(i / 2000).arg((i / 20) % 100).arg(i);
        const QByteArray data = SourceText(rng, size(rng));
        if (!WriteFile(sPath, data))
            return {};
        lFiles << sPath;
        iTotal += data.size();
    }
    return lFiles;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 7 && qstrcmp(argv[1], "--writer") == 0) {
        QCoreApplication app(argc, argv);
        return WriterChild(argv);
    }
    // Figures appear as they come, also when the output goes to a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTemporaryDir tmp(args.size() > 1 ? args.at(1) + QStringLiteral("/bench_codezip-XXXXXX")
                                      : QDir::tempPath() + QStringLiteral("/bench_codezip-XXXXXX"));
    const qint64 iTarget = (args.size() > 2 ? args.at(2).toLongLong() : 200) * 1000 * 1000;
    const int iSmall = args.size() > 3 ? args.at(3).toInt() : 100000;
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot create the work folder\n");
        return 1;
    }
    const QString sWork = tmp.path();
    qputenv("TMPDIR", QFile::encodeName(sWork + QStringLiteral("/tmp")));
    QDir().mkpath(sWork + QStringLiteral("/tmp"));
    const QString sOut = sWork + QStringLiteral("/out");
    QDir().mkpath(sOut);
    const QString sManifest = sWork + QStringLiteral("/readme.htm");
    WriteFile(sManifest, QByteArray("<html><body><p>manifest</p></body></html>\n").repeated(50));
    const int iCores = int(std::max(1u, std::thread::hardware_concurrency()));

    qint64 iTotal = 0;
    const QString sTree = sWork + QStringLiteral("/tree");
    const QStringList lFiles = MakeTree(sTree, iTarget, iTotal);
    if (lFiles.isEmpty() || !WriteList(sWork + QStringLiteral("/list.txt"), lFiles)) {
        std::fprintf(stderr, "cannot write the tree\n");
        return 1;
    }
    std::printf("%d cores; tree: %lld files, %.1f MB; best of 2 rounds, files in the page cache\n", iCores,
                qlonglong(lFiles.size()), double(iTotal) / 1e6);

    TChildRun zip, ours, ours1;
    qint64 iZipSize = 0, iOurSize = 0;
    for (int iRound = 0; iRound < 2; ++iRound) {
        KeepBest(zip, InfoZip(sTree, sOut, sManifest));
        iZipSize = FileSize(sOut + QStringLiteral("/code.zip"));
        KeepBest(ours1,
                 Writer(sWork + QStringLiteral("/list.txt"), sTree + QLatin1Char('/'), sOut, sManifest, 1));
        KeepBest(
            ours,
            Writer(sWork + QStringLiteral("/list.txt"), sTree + QLatin1Char('/'), sOut, sManifest, iCores));
        iOurSize = FileSize(sOut + QStringLiteral("/code.zip"));
    }

    // Today's engine, in this process, code.zip only.
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
    auto oProject = CreateProject(0, iProject, QStringLiteral("Bench"), QString());
    oProject->Parse();
    TProgressList progress;
    TArchiveBuilder builder(progress);
    QElapsedTimer t;
    t.start();
    QString sRoot;
    const QString sCodeZip = builder.BuildCodeZip(*oProject, sRoot);
    TChildRun engine { t.elapsed(), 0, builder.Engine().ErrorCode() == 0 };
    const qint64 iEngineSize = FileSize(sCodeZip);
    DB = nullptr;

    std::printf("\ncode.zip + outer archive (%s threads = %d):\n", "N", iCores);
    Line("zip -r -6, then zip -P", zip, iTotal, iZipSize);
    Line(qPrintable(QStringLiteral("TZipWriter, %1 threads").arg(iCores)), ours, iTotal, iOurSize);
    Line("TZipWriter, 1 thread", ours1, iTotal, iOurSize);
    Line("TZipEngine (code.zip only, in-proc)", engine, iTotal, iEngineSize);
    std::printf("time ratio TZipWriter (N threads) / zip: %.2f   (goal: at most 0.55)\n",
                double(ours.iMs) / double(zip.iMs));
    std::printf("speed-up 1 -> %d threads: %.2f\n", iCores, double(ours1.iMs) / double(ours.iMs));
    std::printf("archive size TZipWriter / zip: %.3f\n", double(iOurSize) / double(iZipSize));
    EncryptionFigures(lFiles, sTree + QLatin1Char('/'), sOut, sManifest, iCores, iTotal, ours.iMs);

    if (iSmall > 0) {
        QDir(sTree).removeRecursively();
        const QString sSmall = sWork + QStringLiteral("/small");
        qint64 iSmallTotal = 0;
        const QStringList lSmall = MakeSmallTree(sSmall, iSmall, iSmallTotal);
        if (lSmall.isEmpty() || !WriteList(sWork + QStringLiteral("/small.txt"), lSmall)) {
            std::fprintf(stderr, "cannot write the small tree\n");
            return 1;
        }
        TChildRun zipSmall, oursSmall;
        for (int iRound = 0; iRound < 2; ++iRound) {
            KeepBest(zipSmall, InfoZip(sSmall, sOut, sManifest));
            iZipSize = FileSize(sOut + QStringLiteral("/code.zip"));
            KeepBest(oursSmall,
                     Writer(sWork + QStringLiteral("/small.txt"), sSmall + QLatin1Char('/'), sOut, sManifest,
                            iCores));
            iOurSize = FileSize(sOut + QStringLiteral("/code.zip"));
        }
        std::printf("\n%d small files, %.1f MB:\n", iSmall, double(iSmallTotal) / 1e6);
        Line("zip -r -6, then zip -P", zipSmall, iSmallTotal, iZipSize);
        Line(qPrintable(QStringLiteral("TZipWriter, %1 threads").arg(iCores)), oursSmall, iSmallTotal,
             iOurSize);
        std::printf("peak memory TZipWriter / zip: %.2f   (goal: at most 1.5)\n",
                    double(oursSmall.iPeakKb) / double(zipSmall.iPeakKb));
        std::printf("time ratio TZipWriter / zip: %.2f\n", double(oursSmall.iMs) / double(zipSmall.iMs));
    }
    return 0;
}
