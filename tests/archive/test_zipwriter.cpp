#include "archive/zipwriter.h"
#include "support/testenv.h"
#include "support/zipreader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using bwtest::TestSandbox;
using bwtest::ZipReader;

namespace {

const QString Comment = u"Bundlewick version 1.2.3 build 83"_s;

// Text that deflates well but not trivially: numbered source-like lines.
QByteArray Lines(const char *seed, int iCount)
{
    QByteArray out;
    for (int i = 0; i < iCount; ++i)
        out += QByteArray(seed) + ' ' + QByteArray::number(qint64(i) * 7919 % 10007) + " := Value;\r\n";
    return out;
}

QByteArray Noise(int iSize, quint32 iSeed)
{
    QByteArray out(iSize, Qt::Uninitialized);
    for (int i = 0; i < iSize; ++i) {
        iSeed = iSeed * 1103515245u + 12345u;
        out[i] = char(iSeed >> 23);
    }
    return out;
}

QStringList FolderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray ReadAll(const QString &sPath)
{
    QFile f(sPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs a program to its end; exit code, -1 when it crashed or timed out.
int RunTool(const QString &program, const QStringList &args, QByteArray *out = nullptr, int iSeconds = 120)
{
    return bwtest::runProgram(program, args, out, iSeconds, true);
}

// A writer recording its callbacks.
struct Writer : TZipWriter
{
    QStringList skipped;
    QList<QPair<int, QString>> errors;
    explicit Writer(const QString &sArchive)
    {
        SetZipFileName(sArchive);
        SetZipComment(Comment);
        OnSkipped = [this](const QString &p) { skipped << p; };
        OnError = [this](int c, const QString &m) { errors.append({ c, m }); };
    }
};

// A tree of every kind of entry: deflated and stored, empty, chunked,
// encrypted, in folders, with a name that is not ASCII.
struct Tree
{
    std::map<QString, QByteArray> content; // entry name -> bytes
    std::vector<TZipWriterItem> items;
    QString password = u"pass word"_s;

    explicit Tree(const TestSandbox &sb)
    {
        add(sb, u"main.dpr"_s, Lines("program Main", 50));
        add(sb, u"Units/a.pas"_s, Lines("unit A", 3000));
        add(sb, u"Units/empty.inc"_s, QByteArray());
        add(sb, u"assets/logo.png"_s, Noise(300 * 1024, 7));
        add(sb, u"assets/empty.zip"_s, QByteArray());
        // Above the whole-file limit: deflated in chunks.
        add(sb, u"data/big.txt"_s, Lines("big line", 400000));
        add(sb, u"data/big.jpg"_s, Noise(5 * 1024 * 1024 + 17, 11));
        add(sb, u"Ünits/straße.pas"_s, Lines("unit Strasse", 10));
        add(sb, u"secret/key.pas"_s, Lines("secret", 2000), password);
        add(sb, u"secret/key.png"_s, Noise(40000, 3), password);
    }
    void add(const TestSandbox &sb, const QString &name, const QByteArray &bytes,
             const QString &pw = QString())
    {
        content[name] = bytes;
        items.push_back(TZipWriterItem::ForFile(sb.writeFile(u"tree/"_s + name, bytes), name, pw));
    }
};

// Every file below dir, by its path relative to it.
std::map<QString, QByteArray> FilesBelow(const QString &dir)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(dir).relativeFilePath(path)] = ReadAll(path);
    }
    return files;
}

const char *const PythonExtract = R"(
import sys, zipfile
archive, target, password = sys.argv[1], sys.argv[2], sys.argv[3].encode()
with zipfile.ZipFile(archive) as z:
    assert z.comment.decode() == sys.argv[4], z.comment
    z.extractall(target, pwd=password or None)
)";

} // namespace

TEST(ZipWriter, SameArchiveWhateverTheThreadCount)
{
    TestSandbox sb;
    const Tree tree(sb);
    QByteArray first;
    for (const int threads : { 1, 2, 5 }) {
        const QString archive = sb.path(u"out/code%1.zip"_s.arg(threads));
        Writer zip(archive);
        zip.SetItems(tree.items);
        zip.SetThreadCount(threads);
        zip.SetEncryptionSeed(42);
        ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
        EXPECT_EQ(zip.SuccessCount(), int(tree.content.size()));
        const QByteArray bytes = ReadAll(archive);
        EXPECT_EQ(zip.ArchiveSize(), quint64(bytes.size()));
        if (first.isEmpty())
            first = bytes;
        else
            EXPECT_TRUE(bytes == first) << "threads: " << threads;
    }

    // Read back independently, entry by entry, in list order.
    ZipReader reader(sb.path(u"out/code1.zip"_s));
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.comment(), Comment);
    QStringList expectedNames;
    for (const TZipWriterItem &item : tree.items)
        expectedNames << item.sEntryName;
    EXPECT_EQ(reader.names(), expectedNames);
    for (const TZipWriterItem &item : tree.items) {
        const auto e = reader.entry(item.sEntryName);
        ASSERT_TRUE(e.has_value()) << qPrintable(item.sEntryName);
        EXPECT_EQ(e->compression, item.bStore ? ZIP_CM_STORE : ZIP_CM_DEFLATE) << qPrintable(item.sEntryName);
        EXPECT_EQ(e->encryption, item.sPassword.isEmpty() ? ZIP_EM_NONE : ZIP_EM_TRAD_PKWARE);
        EXPECT_EQ(reader.read(item.sEntryName, item.sPassword), tree.content.at(item.sEntryName))
            << qPrintable(item.sEntryName);
    }
    EXPECT_FALSE(reader.read(u"secret/key.pas"_s, u"wrong"_s).has_value());
    EXPECT_LT(reader.entry(u"data/big.txt"_s)->compressedSize,
              quint64(tree.content.at(u"data/big.txt"_s).size() / 4));

    // Encryption headers are random unless seeded: same content, other bytes.
    Writer zip(sb.path(u"out/random.zip"_s));
    zip.SetItems(tree.items);
    ASSERT_EQ(zip.Write(), 0);
    EXPECT_NE(ReadAll(sb.path(u"out/random.zip"_s)), first);
    EXPECT_EQ(ZipReader(sb.path(u"out/random.zip"_s)).read(u"secret/key.pas"_s, tree.password),
              tree.content.at(u"secret/key.pas"_s));
}

TEST(ZipWriter, InfoZipPythonAnd7zReadOurArchives)
{
    TestSandbox sb;
    const Tree tree(sb);
    const QString archive = sb.path(u"out/code.zip"_s);
    Writer zip(archive);
    zip.SetItems(tree.items);
    ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
    // One password for the whole archive in each tool: plain entries ignore it.
    const std::map<QString, QByteArray> &expected = tree.content;
    QByteArray out;

    if (QFileInfo::exists(u"/usr/bin/unzip"_s)) {
        const QString dir = sb.path(u"unzip"_s);
        EXPECT_EQ(
            RunTool(u"/usr/bin/unzip"_s, { u"-q"_s, u"-P"_s, tree.password, archive, u"-d"_s, dir }, &out), 0)
            << out.constData();
        EXPECT_EQ(FilesBelow(dir), expected);
        EXPECT_NE(RunTool(u"/usr/bin/unzip"_s, { u"-P"_s, u"wrong"_s, u"-p"_s, archive, u"secret/key.pas"_s },
                          &out),
                  0);
        EXPECT_FALSE(out.contains(Lines("secret", 2000)));
        EXPECT_EQ(RunTool(u"/usr/bin/unzip"_s, { u"-v"_s, archive }, &out), 0);
        EXPECT_TRUE(out.contains(Comment.toUtf8())) << out.constData();
    } else {
        ADD_FAILURE() << "Info-ZIP unzip is not installed";
    }

    const QString python = bwtest::systemPython();
    {
        const QString dir = sb.path(u"python"_s);
        EXPECT_EQ(
            RunTool(python,
                    { u"-c"_s, QString::fromLatin1(PythonExtract), archive, dir, tree.password, Comment },
                    &out),
            0)
            << out.constData();
        EXPECT_EQ(FilesBelow(dir), expected);
        EXPECT_NE(RunTool(python,
                          { u"-c"_s, QString::fromLatin1(PythonExtract), archive, sb.path(u"python2"_s),
                            u"wrong"_s, Comment },
                          &out),
                  0);
        EXPECT_TRUE(out.contains("Bad password")) << out.constData();
    }

    const QString sevenZip = u"/usr/bin/7z"_s;
    if (QFileInfo::exists(sevenZip)) {
        const QString dir = sb.path(u"7z"_s);
        EXPECT_EQ(RunTool(sevenZip,
                          { u"x"_s, u"-y"_s, u"-bd"_s, u"-p"_s + tree.password, u"-o"_s + dir, archive },
                          &out),
                  0)
            << out.constData();
        EXPECT_EQ(FilesBelow(dir), expected);
        EXPECT_NE(RunTool(sevenZip, { u"t"_s, u"-bd"_s, u"-pwrong"_s, archive }, &out), 0);
    } else {
        ADD_FAILURE() << "7z is not installed";
    }
}

// Sizes around the piece boundaries, mixed text and noise, stored and
// deflated, some encrypted, at random thread counts: Python and Info-ZIP
// must read every archive back exactly.
TEST(ZipWriter, RandomTreesAtPieceBoundaries)
{
    TestSandbox sb;
    const int mib = 1 << 20;
    const int sizes[]
        = { 0, 1, 2, 1000, mib - 1, mib, mib + 1, 4 * mib - 1, 4 * mib, 4 * mib + 1, 5 * mib, 6 * mib + 7 };
    quint32 rng = 12345;
    const auto next = [&rng](quint32 n) {
        rng = rng * 1664525u + 1013904223u;
        return (rng >> 8) % n;
    };
    for (int round = 0; round < 3; ++round) {
        std::map<QString, QByteArray> content;
        std::vector<TZipWriterItem> items;
        for (int i = 0; i < 16; ++i) {
            const int size = sizes[next(std::size(sizes))];
            QByteArray bytes = next(2) ? Lines("random", size / 30 + 1).left(size) : Noise(size, rng);
            bytes.resize(size, 'x');
            const QString name
                = u"r%1/d%2/f%3.%4"_s.arg(round).arg(next(3)).arg(i).arg(next(3) ? u"pas"_s : u"png"_s);
            const QString pw = (size <= 4096 && next(3) == 0) ? u"pw"_s : QString();
            items.push_back(TZipWriterItem::ForFile(sb.writeFile(u"in/"_s + name, bytes), name, pw));
            content[name] = bytes;
        }
        const QString archive = sb.path(u"out/r%1.zip"_s.arg(round));
        Writer zip(archive);
        zip.SetItems(items);
        zip.SetThreadCount(int(next(4)) + 1);
        ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
        QByteArray out;
        const QString dir = sb.path(u"python%1"_s.arg(round));
        EXPECT_EQ(RunTool(bwtest::systemPython(),
                          { u"-c"_s, QString::fromLatin1(PythonExtract), archive, dir, u"pw"_s, Comment },
                          &out),
                  0)
            << out.constData();
        EXPECT_EQ(FilesBelow(dir), content);
        EXPECT_EQ(RunTool(u"/usr/bin/unzip"_s, { u"-tq"_s, u"-P"_s, u"pw"_s, archive }, &out), 0)
            << out.constData();
    }
}

// A sparse file of kBigSize bytes ending in "tail\n", or empty with the
// reason when this file system cannot hold one.
constexpr quint64 kBigSize = (4ull << 30) + 12345;
QString SparseBigFile(TestSandbox &sb, QString &why)
{
    struct statvfs fs
    {
    };
    if (::statvfs(QFile::encodeName(sb.root()).constData(), &fs) != 0
        || quint64(fs.f_bavail) * fs.f_frsize < (256ull << 20)) {
        why = u"not enough free disk space"_s;
        return QString();
    }
    const QString big = sb.path(u"big.dat"_s);
    QFile f(big);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(kBigSize))) {
        why = u"cannot make a sparse file here"_s;
        return QString();
    }
    f.seek(qint64(kBigSize) - 5);
    f.write("tail\n");
    return big;
}

// An entry over 4 GiB needs ZIP64 sizes; a sparse file costs no disk space
// and deflates to a few megabytes.
TEST(ZipWriter, EntryOver4GiB)
{
#if defined(BW_TSAN) || defined(BW_ASAN)
    GTEST_SKIP() << "too slow under the sanitizers";
#endif
    TestSandbox sb;
    const quint64 size = kBigSize;
    QString why;
    const QString big = SparseBigFile(sb, why);
    if (big.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString small = sb.writeFile(u"after.txt"_s, Lines("after", 10));
    const QString archive = sb.path(u"out/big.zip"_s);
    Writer zip(archive);
    zip.AddFile(big, u"big.dat"_s);
    zip.AddFile(small, u"after.txt"_s);
    zip.AddFile(sb.writeFile(u"empty.txt"_s, QByteArray()), u"empty.txt"_s);
    ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
    EXPECT_LT(QFileInfo(archive).size(), 64ll << 20);
    ::unlink(QFile::encodeName(big).constData());

    QByteArray out;
    EXPECT_EQ(RunTool(u"/usr/bin/unzip"_s, { u"-tq"_s, archive }, &out, 600), 0) << out.constData();
    EXPECT_EQ(RunTool(u"/usr/bin/unzip"_s, { u"-p"_s, archive, u"after.txt"_s }, &out), 0);
    EXPECT_EQ(out, Lines("after", 10));
    const char *check = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    i = z.getinfo('big.dat')
    assert i.file_size == int(sys.argv[2]), i.file_size
    assert z.testzip() is None
    assert z.read('empty.txt') == b''
print('ok')
)";
    EXPECT_EQ(RunTool(bwtest::systemPython(),
                      { u"-c"_s, QString::fromLatin1(check), archive, QString::number(size) }, &out, 600),
              0)
        << out.constData();
    if (QFileInfo::exists(u"/usr/bin/7z"_s)) {
        EXPECT_EQ(RunTool(u"/usr/bin/7z"_s, { u"t"_s, u"-bd"_s, archive }, &out, 600), 0) << out.constData();
        EXPECT_TRUE(out.contains("Everything is Ok") && out.contains("Size:       4294979858"))
            << out.constData();
    }
}

TEST(ZipWriter, MissingFilesSkippedDuplicatesReplaced)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"a.pas"_s, "a");
    const QString b = sb.writeFile(u"b.pas"_s, "b");
    const QString b2 = sb.writeFile(u"other/b.pas"_s, "second b");
    const QString gone = sb.path(u"gone.pas"_s);
    const QString archive = sb.path(u"out/code.zip"_s);
    Writer zip(archive);
    zip.AddFile(b, u"b.pas"_s);
    zip.AddFile(gone, u"gone.pas"_s);
    zip.AddFile(a, u"a.pas"_s);
    zip.AddFile(b2, u"b.pas"_s);
    ASSERT_EQ(zip.Write(), 0);
    EXPECT_EQ(zip.skipped, QStringList({ gone }));
    EXPECT_EQ(zip.SuccessCount(), 2);
    ZipReader reader(archive);
    EXPECT_EQ(reader.names(), QStringList({ u"b.pas"_s, u"a.pas"_s }));
    EXPECT_EQ(reader.read(u"b.pas"_s), QByteArray("second b"));

    Writer none(archive);
    none.AddFile(gone, u"gone.pas"_s);
    EXPECT_EQ(none.Write(), TZipWriter::ZipNothingToDo);
    EXPECT_TRUE(QFileInfo::exists(archive)); // the earlier archive stays
}

TEST(ZipWriter, FailuresLeaveNothingBehind)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"src/a.pas"_s, "a");
    const QString folder = sb.path(u"src/unit.pas"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString archive = sb.path(u"out/code.zip"_s);
    ASSERT_TRUE(QDir().mkpath(sb.path(u"out"_s)));

    {
        Writer zip(archive);
        zip.AddFile(a, u"a.pas"_s);
        zip.AddFile(folder, u"unit.pas"_s);
        EXPECT_EQ(zip.Write(), TZipWriter::ZipReadError);
        EXPECT_EQ(zip.ErrorMessage(), u"Cannot read the file %1: Is a directory"_s.arg(folder));
        ASSERT_EQ(zip.errors.size(), 1);
        EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
    }
    if (geteuid() != 0) {
        const QString locked = sb.writeFile(u"src/locked.pas"_s, "x");
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        Writer zip(archive);
        zip.AddFile(a, u"a.pas"_s);
        zip.AddFile(locked, u"locked.pas"_s);
        EXPECT_EQ(zip.Write(), TZipWriter::ZipReadError);
        EXPECT_EQ(zip.ErrorMessage(), u"Cannot read the file %1: Permission denied"_s.arg(locked));
        EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
    }
    {
        Writer zip(sb.root() + u"/nowhere/out.zip"_s);
        zip.AddFile(a, u"a.pas"_s);
        EXPECT_EQ(zip.Write(), TZipWriter::ZipCreateError);
        EXPECT_EQ(zip.ErrorMessage(),
                  u"Cannot create the archive %1: the folder %2 does not exist."_s.arg(
                      sb.root() + u"/nowhere/out.zip"_s, sb.root() + u"/nowhere"_s));
    }

    // A full disk, made by a file size limit; the existing archive stays.
    ASSERT_TRUE(QFile(archive).open(QIODevice::WriteOnly));
    {
        Writer zip(archive);
        zip.AddFile(sb.writeFile(u"src/big.png"_s, Noise(3 << 20, 5)), u"big.png"_s);
        zip.AddFile(a, u"a.pas"_s);
        rlimit saved {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = 1 << 20;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const int code = zip.Write();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(code, TZipWriter::ZipWriteError);
        EXPECT_EQ(zip.ErrorMessage(),
                  u"Cannot write the archive %1: Write error: File too large"_s.arg(archive));
        EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList({ u"code.zip"_s }));
        EXPECT_EQ(QFileInfo(archive).size(), 0);
    }
}

// Files that change under the writer: the big file is read in chunks, well
// beyond what is read ahead, so its later chunks are read after the change.
TEST(ZipWriter, FileThatShrinksOrVanishesWhileZipped)
{
    TestSandbox sb;
    const QByteArray text = Lines("changing", 1500000); // about 45 MB
    const QString archive = sb.path(u"out/code.zip"_s);
    ASSERT_TRUE(QDir().mkpath(sb.path(u"out"_s)));
    for (const bool vanish : { false, true }) {
        const QString big = sb.writeFile(u"src/big.pas"_s, text);
        Writer zip(archive);
        zip.SetThreadCount(2);
        zip.AddFile(sb.writeFile(u"src/a.pas"_s, "a"), u"a.pas"_s);
        zip.AddFile(big, u"big.pas"_s);
        bool changed = false;
        zip.OnProgress = [&](const QString &path, quint64) {
            if (path != big || changed)
                return;
            changed = true;
            if (vanish)
                QFile::remove(big);
            else
                QFile::resize(big, 1000);
        };
        EXPECT_EQ(zip.Write(), TZipWriter::ZipReadError);
        EXPECT_TRUE(changed);
        EXPECT_EQ(
            zip.ErrorMessage(),
            u"Cannot read the file %1: %2"_s.arg(big,
                                                 vanish ? u"No such file or directory"_s
                                                        : u"the file changed while it was being zipped"_s));
        EXPECT_EQ(zip.errors.size(), 1);
        EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
    }

    // A file that grows after it was listed fails too; it is read only after
    // much of the big file before it went in.
    const QString big = sb.writeFile(u"src/big.pas"_s, text);
    const QString grows = sb.writeFile(u"src/grows.pas"_s, "short");
    Writer zip(archive);
    zip.SetThreadCount(1);
    zip.AddFile(big, u"big.pas"_s);
    zip.AddFile(grows, u"grows.pas"_s);
    bool grown = false;
    zip.OnProgress = [&](const QString &, quint64) {
        if (!grown) {
            grown = true;
            QFile f(grows);
            ASSERT_TRUE(f.open(QIODevice::Append));
            f.write("er and longer");
        }
    };
    EXPECT_EQ(zip.Write(), TZipWriter::ZipReadError);
    EXPECT_EQ(zip.ErrorMessage(),
              u"Cannot read the file %1: the file changed while it was being zipped"_s.arg(grows));
    EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
}

TEST(ZipWriter, AbortStopsCleanly)
{
    TestSandbox sb;
    const QString archive = sb.path(u"out/code.zip"_s);
    ASSERT_TRUE(QDir().mkpath(sb.path(u"out"_s)));
    std::vector<TZipWriterItem> items;
    for (int i = 0; i < 40; ++i)
        items.push_back(TZipWriterItem::ForFile(sb.writeFile(u"src/f%1.pas"_s.arg(i), Lines("abort", 60000)),
                                                u"f%1.pas"_s.arg(i)));

    // From the writing thread itself, through a callback.
    {
        Writer zip(archive);
        zip.SetItems(items);
        zip.SetThreadCount(3);
        zip.OnProgress = [&](const QString &, quint64) { zip.Abort(); };
        EXPECT_EQ(zip.Write(), TZipWriter::ZipAborted);
        EXPECT_EQ(zip.ErrorMessage(), u"Stopped: the archive %1 was not written."_s.arg(archive));
        EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
    }
    // From another thread while the pool is busy; the writer is usable again after.
    {
        Writer zip(archive);
        zip.SetItems(items);
        zip.SetThreadCount(2);
        std::promise<void> started;
        bool once = false;
        zip.OnProgress = [&](const QString &, quint64) {
            if (!once) {
                once = true;
                started.set_value();
            }
        };
        int code = -1;
        std::thread writer([&] { code = zip.Write(); });
        started.get_future().wait();
        zip.Abort();
        writer.join();
        // It may have finished before the stop arrived.
        EXPECT_TRUE(code == TZipWriter::ZipAborted || code == 0) << code;
        if (code == TZipWriter::ZipAborted) {
            EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
        }
        zip.OnProgress = nullptr;
        EXPECT_EQ(zip.Write(), 0);
        EXPECT_EQ(ZipReader(archive).names().size(), 40);
    }
}

namespace {

// Entries for AES: deflated and stored, empty, one byte, and files in several
// pieces (a text deflated in chunks, a picture stored in chunks), beside one
// entry without a password.
struct AesTree
{
    std::map<QString, QByteArray> content; // entry name -> bytes
    std::vector<TZipWriterItem> items;
    QString password = u"correct horse"_s;

    explicit AesTree(const TestSandbox &sb)
    {
        add(sb, u"main.dpr"_s, Lines("program Main", 50));
        add(sb, u"Units/a.pas"_s, Lines("unit A", 3000));
        add(sb, u"Units/empty.inc"_s, QByteArray());
        add(sb, u"one.jpg"_s, "x");
        add(sb, u"assets/logo.png"_s, Noise(300 * 1024, 7));
        add(sb, u"assets/empty.zip"_s, QByteArray());
        add(sb, u"data/big.txt"_s, Lines("big line", 400000));
        add(sb, u"data/big.jpg"_s, Noise(5 * 1024 * 1024 + 17, 11));
        add(sb, u"readme.htm"_s, "<html>open</html>", QString());
    }
    void add(const TestSandbox &sb, const QString &name, const QByteArray &bytes)
    {
        add(sb, name, bytes, password);
    }
    void add(const TestSandbox &sb, const QString &name, const QByteArray &bytes, const QString &pw)
    {
        content[name] = bytes;
        items.push_back(
            TZipWriterItem::ForFile(sb.writeFile(u"aes/"_s + name, bytes), name, pw, TZipEncryption::Aes256));
    }
};

// Extracts with 7-Zip into dir; its exit code.
int SevenZipExtract(const QString &archive, const QString &password, const QString &dir, QByteArray *out)
{
    return RunTool(u"/usr/bin/7z"_s,
                   { u"x"_s, u"-y"_s, u"-bd"_s, u"-p"_s + password, u"-o"_s + dir, archive }, out);
}

// Extracts with libarchive's bsdtar into dir; its exit code.
int BsdtarExtract(const QString &archive, const QString &password, const QString &dir, QByteArray *out)
{
    QDir().mkpath(dir);
    return RunTool(u"/usr/bin/bsdtar"_s,
                   { u"-x"_s, u"--passphrase"_s, password, u"-C"_s, dir, u"-f"_s, archive }, out);
}

} // namespace

// AES pieces are encrypted by whichever thread is free, each once its place
// in the entry is known: with the salts fixed, the archive is the same byte
// for byte whatever the number of threads.
TEST(ZipWriter, AesArchiveSameWhateverTheThreadCount)
{
    TestSandbox sb;
    const AesTree tree(sb);
    QByteArray first;
    for (const int threads : { 1, 2, 5 }) {
        const QString archive = sb.path(u"out/seeded%1.zip"_s.arg(threads));
        Writer zip(archive);
        zip.SetItems(tree.items);
        zip.SetThreadCount(threads);
        zip.SetEncryptionSeed(7);
        ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
        if (first.isEmpty())
            first = ReadAll(archive);
        else
            EXPECT_TRUE(ReadAll(archive) == first) << "threads: " << threads;
    }
    EXPECT_EQ(ZipReader(sb.path(u"out/seeded5.zip"_s)).names().size(), qsizetype(tree.items.size()));
}

// WinZip AES-256 entries as 7-Zip and bsdtar read them: the same bytes back
// with the password, nothing without it. (Debian 12's libzip checks a CRC
// that AE-2 leaves out, so it only lists the entries here.)
TEST(ZipWriter, AesEntriesOpenIn7zAndBsdtar)
{
    ASSERT_TRUE(QFileInfo::exists(u"/usr/bin/7z"_s)) << "7z is not installed (p7zip-full)";
    ASSERT_TRUE(QFileInfo::exists(u"/usr/bin/bsdtar"_s)) << "bsdtar is not installed (libarchive-tools)";
    TestSandbox sb;
    const AesTree tree(sb);
    const QString archive = sb.path(u"out/code.zip"_s);
    Writer zip(archive);
    zip.SetItems(tree.items);
    zip.SetThreadCount(2);
    ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
    EXPECT_EQ(zip.ArchiveSize(), quint64(QFileInfo(archive).size()));

    ZipReader reader(archive);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.comment(), Comment);
    for (const TZipWriterItem &item : tree.items) {
        const auto e = reader.entry(item.sEntryName);
        ASSERT_TRUE(e.has_value()) << qPrintable(item.sEntryName);
        EXPECT_EQ(e->encryption, item.sPassword.isEmpty() ? ZIP_EM_NONE : ZIP_EM_AES_256)
            << qPrintable(item.sEntryName);
        EXPECT_EQ(e->compression, item.bStore ? ZIP_CM_STORE : ZIP_CM_DEFLATE) << qPrintable(item.sEntryName);
        EXPECT_EQ(e->size, quint64(tree.content.at(item.sEntryName).size()));
    }
    EXPECT_EQ(reader.read(u"readme.htm"_s), tree.content.at(u"readme.htm"_s));
    // Salt, verifier and authentication code: 28 bytes around the data.
    EXPECT_EQ(reader.entry(u"one.jpg"_s)->compressedSize, 1u + 28u);
    EXPECT_EQ(reader.entry(u"assets/empty.zip"_s)->compressedSize, 28u);
    EXPECT_LT(reader.entry(u"data/big.txt"_s)->compressedSize,
              quint64(tree.content.at(u"data/big.txt"_s).size() / 4));

    QByteArray out;
    EXPECT_EQ(SevenZipExtract(archive, tree.password, sb.path(u"7z"_s), &out), 0) << out.constData();
    EXPECT_EQ(FilesBelow(sb.path(u"7z"_s)), tree.content);
    EXPECT_EQ(RunTool(u"/usr/bin/7z"_s, { u"l"_s, u"-slt"_s, archive }, &out), 0);
    EXPECT_TRUE(out.contains("Method = AES-256 Deflate") && out.contains("Method = AES-256 Store"))
        << out.constData();
    EXPECT_NE(SevenZipExtract(archive, u"wrong"_s, sb.path(u"7z-wrong"_s), &out), 0);
    EXPECT_FALSE(QFileInfo::exists(sb.path(u"7z-wrong/main.dpr"_s))
                 && ReadAll(sb.path(u"7z-wrong/main.dpr"_s)) == tree.content.at(u"main.dpr"_s));

    EXPECT_EQ(BsdtarExtract(archive, tree.password, sb.path(u"bsdtar"_s), &out), 0) << out.constData();
    EXPECT_EQ(FilesBelow(sb.path(u"bsdtar"_s)), tree.content);
    EXPECT_NE(BsdtarExtract(archive, u"wrong"_s, sb.path(u"bsdtar-wrong"_s), &out), 0);
    EXPECT_TRUE(out.contains("Incorrect passphrase")) << out.constData();
}

// A changed byte in the encrypted data of a stored entry: there is no CRC in
// AE-2, only the authentication code can notice, and every reader must.
TEST(ZipWriter, AesAuthenticationCodeCatchesAFlippedByte)
{
    TestSandbox sb;
    const QByteArray picture = Noise(200000, 5);
    const QString archive = sb.path(u"out/one.zip"_s);
    Writer zip(archive);
    zip.AddFile(sb.writeFile(u"in/picture.png"_s, picture), u"picture.png"_s, u"pw"_s,
                TZipEncryption::Aes256);
    ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
    QByteArray bytes = ReadAll(archive);
    ASSERT_GT(bytes.size(), 30);
    const int iName = quint8(bytes[26]) | quint8(bytes[27]) << 8;
    const int iExtra = quint8(bytes[28]) | quint8(bytes[29]) << 8;
    EXPECT_EQ(iExtra, 11); // the AES field alone
    EXPECT_EQ(bytes.mid(8, 2), QByteArray("\x63\x00", 2)); // method 99
    const int iData = 30 + iName + iExtra + 18;
    QByteArray out;
    ASSERT_EQ(SevenZipExtract(archive, u"pw"_s, sb.path(u"good"_s), &out), 0) << out.constData();
    ASSERT_EQ(ReadAll(sb.path(u"good/picture.png"_s)), picture);

    bytes[iData + 100000] = char(bytes[iData + 100000] ^ 0x10);
    const QString flipped = sb.path(u"out/flipped.zip"_s);
    {
        QFile f(flipped);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    EXPECT_NE(SevenZipExtract(flipped, u"pw"_s, sb.path(u"7z"_s), &out), 0) << out.constData();
    EXPECT_NE(BsdtarExtract(flipped, u"pw"_s, sb.path(u"bsdtar"_s), &out), 0) << out.constData();
    EXPECT_TRUE(out.contains("Authentication")) << out.constData();
}

// Each archive gets new salts: the same files under the same password give
// other bytes every time, and each opens.
TEST(ZipWriter, AesSaltsDifferBetweenArchives)
{
    TestSandbox sb;
    const QByteArray text = Lines("salted", 500);
    const QString file = sb.writeFile(u"in/a.pas"_s, text);
    QList<QByteArray> archives;
    for (int i = 0; i < 2; ++i) {
        const QString archive = sb.path(u"out/a%1.zip"_s.arg(i));
        Writer zip(archive);
        zip.AddFile(file, u"a.pas"_s, u"pw"_s, TZipEncryption::Aes256);
        ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
        archives << ReadAll(archive);
        QByteArray out;
        EXPECT_EQ(SevenZipExtract(archive, u"pw"_s, sb.path(u"7z%1"_s.arg(i)), &out), 0) << out.constData();
        EXPECT_EQ(ReadAll(sb.path(u"7z%1/a.pas"_s.arg(i))), text);
        EXPECT_EQ(BsdtarExtract(archive, u"pw"_s, sb.path(u"bsdtar%1"_s.arg(i)), &out), 0) << out.constData();
        EXPECT_EQ(ReadAll(sb.path(u"bsdtar%1/a.pas"_s.arg(i))), text);
    }
    ASSERT_EQ(archives[0].size(), archives[1].size());
    EXPECT_NE(archives[0], archives[1]);
}

// ZIP64 with AES: the sizes in the ZIP64 field count salt, verifier and
// authentication code, and the AES field follows the ZIP64 one.
TEST(ZipWriter, AesEntryOver4GiB)
{
#if defined(BW_TSAN) || defined(BW_ASAN)
    GTEST_SKIP() << "too slow under the sanitizers";
#endif
    TestSandbox sb;
    const quint64 size = kBigSize;
    QString why;
    const QString big = SparseBigFile(sb, why);
    if (big.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString archive = sb.path(u"out/big.zip"_s);
    Writer zip(archive);
    zip.AddFile(big, u"big.dat"_s, u"pw"_s, TZipEncryption::Aes256);
    zip.AddFile(sb.writeFile(u"after.png"_s, Noise(1000, 9)), u"after.png"_s, u"pw"_s,
                TZipEncryption::Aes256);
    ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
    ::unlink(QFile::encodeName(big).constData());

    const ZipReader reader(archive);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.entry(u"big.dat"_s)->size, size);
    EXPECT_EQ(reader.entry(u"big.dat"_s)->encryption, ZIP_EM_AES_256);
    EXPECT_EQ(reader.entry(u"after.png"_s)->compressedSize, 1000u + 28u);
    QByteArray out;
    EXPECT_EQ(RunTool(u"/usr/bin/7z"_s, { u"t"_s, u"-bd"_s, u"-ppw"_s, archive }, &out, 600), 0)
        << out.constData();
    // big.dat and after.png together.
    EXPECT_TRUE(out.contains("Everything is Ok") && out.contains("Size:       4294980641"))
        << out.constData();
    const QString dir = sb.path(u"x"_s);
    EXPECT_EQ(RunTool(u"/usr/bin/7z"_s,
                      { u"x"_s, u"-y"_s, u"-bd"_s, u"-ppw"_s, u"-o"_s + dir, archive, u"after.png"_s }, &out),
              0)
        << out.constData();
    EXPECT_EQ(ReadAll(dir + u"/after.png"_s), Noise(1000, 9));
}

// Files a listing has seen go in by what it learned, many to a batch; the
// archive is the same byte for byte as when the writer looks at each file.
TEST(ZipWriter, ListedFactsGiveTheSameArchive)
{
    TestSandbox sb;
    Tree tree(sb);
    for (int i = 0; i < 150; ++i)
        tree.add(sb, u"small/f%1.pas"_s.arg(i, 3, 10, QLatin1Char('0')), QByteArray::number(i * 7));
    std::vector<TZipWriterItem> listed = tree.items;
    for (TZipWriterItem &item : listed)
        item.oFacts = FileFacts(item.sPath);
    QByteArray bytes[2];
    for (const bool bListed : { false, true }) {
        const QString archive = sb.path(bListed ? u"out/listed.zip"_s : u"out/plain.zip"_s);
        Writer zip(archive);
        zip.SetItems(bListed ? listed : tree.items);
        zip.SetThreadCount(2);
        zip.SetEncryptionSeed(42);
        ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
        EXPECT_EQ(zip.SuccessCount(), 160);
        bytes[bListed] = ReadAll(archive);
    }
    EXPECT_TRUE(bytes[0] == bytes[1]);
    ZipReader reader(sb.path(u"out/listed.zip"_s));
    EXPECT_EQ(reader.read(u"small/f000.pas"_s), QByteArray("0"));
    EXPECT_EQ(reader.read(u"small/f149.pas"_s), QByteArray("1043"));
    EXPECT_EQ(reader.read(u"Units/empty.inc"_s), QByteArray(""));
    EXPECT_EQ(reader.names().size(), 160);
}

// A listed file that changed before it was read goes in as it is then, with
// its size and CRC; one that is gone is skipped; a larger one that changed
// fails the archive rather than going in cut or padded.
TEST(ZipWriter, ListedFilesThatChangedSinceTheListing)
{
    TestSandbox sb;
    const QString archive = sb.path(u"out/code.zip"_s);
    ASSERT_TRUE(QDir().mkpath(sb.path(u"out"_s)));
    std::vector<TZipWriterItem> items;
    for (int i = 0; i < 200; ++i) {
        const QString name = u"f%1.pas"_s.arg(i, 3, 10, QLatin1Char('0'));
        const QString path = sb.writeFile(u"src/"_s + name, QByteArray::number(i));
        items.push_back(
            TZipWriterItem::ForFile(path, name, {}, TZipEncryption::Traditional, FileFacts(path)));
    }
    sb.writeFile(u"src/f010.pas"_s, "grown since the listing");
    sb.writeFile(u"src/f020.pas"_s, "");
    sb.writeFile(u"src/f040.pas"_s, "xy"); // the same size, other bytes
    const QString gone = sb.path(u"src/f030.pas"_s);
    ASSERT_TRUE(QFile::remove(gone));

    Writer zip(archive);
    zip.SetThreadCount(2);
    zip.SetItems(items);
    ASSERT_EQ(zip.Write(), 0) << qPrintable(zip.ErrorMessage());
    EXPECT_EQ(zip.skipped, QStringList { gone });
    EXPECT_EQ(zip.SuccessCount(), 199);
    ZipReader reader(archive);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.names().size(), 199);
    EXPECT_FALSE(reader.entry(u"f030.pas"_s).has_value());
    EXPECT_EQ(reader.entry(u"f010.pas"_s)->size, 23u);
    EXPECT_EQ(reader.read(u"f010.pas"_s), QByteArray("grown since the listing"));
    EXPECT_EQ(reader.entry(u"f020.pas"_s)->size, 0u);
    EXPECT_EQ(reader.read(u"f020.pas"_s), QByteArray(""));
    EXPECT_EQ(reader.read(u"f040.pas"_s), QByteArray("xy"));
    EXPECT_EQ(reader.read(u"f199.pas"_s), QByteArray("199"));
    // Kept for Info-ZIP at the end: under the thread checker no program may
    // be started before the last Write().
    const QString checked = sb.path(u"checked.zip"_s);
    ASSERT_TRUE(QFile::rename(archive, checked));

    // Every listed file gone: nothing to zip, nothing left behind.
    for (const TZipWriterItem &item : items)
        QFile::remove(item.sPath);
    Writer none(archive);
    none.SetItems(items);
    EXPECT_EQ(none.Write(), TZipWriter::ZipNothingToDo);
    EXPECT_EQ(none.ErrorMessage(), u"Nothing to zip: none of the listed files exists."_s);
    EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());

    // Beyond the batch size: read in one piece against the listed size.
    const QString big = sb.writeFile(u"src/big.pas"_s, Lines("big", 10000));
    const TFileFacts facts = FileFacts(big);
    sb.writeFile(u"src/big.pas"_s, Lines("big", 9000));
    Writer changed(archive);
    changed.SetItems({ TZipWriterItem::ForFile(big, u"big.pas"_s, {}, TZipEncryption::Traditional, facts) });
    EXPECT_EQ(changed.Write(), TZipWriter::ZipReadError);
    EXPECT_EQ(changed.ErrorMessage(),
              u"Cannot read the file %1: the file changed while it was being zipped"_s.arg(big));
    EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());

    // Info-ZIP checks every CRC and size against the data.
    if (QFileInfo::exists(u"/usr/bin/unzip"_s)) {
        QByteArray out;
        EXPECT_EQ(RunTool(u"/usr/bin/unzip"_s, { u"-tq"_s, checked }, &out), 0) << out.constData();
    }
}
