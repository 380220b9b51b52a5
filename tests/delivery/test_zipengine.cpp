#include "delivery/zipengine.h"
#include "support/testenv.h"
#include "zipreader.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using bwtest::TestSandbox;
using bwtest::ZipReader;

namespace {

const QString Comment = QStringLiteral("Bundlewick version 1.2.3 build 83");

// Compressible text, so that deflated and stored entries differ in size.
QByteArray Text(const char *seed)
{
    return QByteArray(seed).repeated(200);
}

// Bytes that do not compress, to fill an archive quickly.
QByteArray Noise(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (char &c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return b;
}

QStringList FolderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

struct Recorder
{
    QStringList skipped;
    QList<QPair<int, QString>> errors;
    void attach(TZipEngine &zip)
    {
        zip.OnSkipped = [this](const QString &p) { skipped << p; };
        zip.OnError = [this](int c, const QString &m) { errors.append({ c, m }); };
    }
};

} // namespace

TEST(ZipEngine, StoredExtensions)
{
    for (const char *name :
         { "a.gif",  "b.PNG", "c.z",   "d.Zip", "e.zoo", "f.arc",    "g.lzh",  "h.arj",      "i.taz",
           "j.tgz",  "k.lha", "l.rar", "m.ace", "n.cab", "o.gz",     "p.GZIP", "q.jar",      "r.jpg",
           "s.jpeg", "t.7zp", "u.mp3", "v.wmv", "w.wma", "x.DVR-MS", "y.avi",  "dir/pic.JPG" })
        EXPECT_TRUE(TZipEngine::IsStoredExtension(QString::fromLatin1(name))) << name;
    for (const char *name : { "a.pas", "b.tar", "c.7z", "zip", "dir.zip/readme", "a.zip.txt", "b.ms" })
        EXPECT_FALSE(TZipEngine::IsStoredExtension(QString::fromLatin1(name))) << name;
}

TEST(ZipEngine, EntriesRelativeToRootStoredOrDeflated)
{
    TestSandbox sb;
    sb.writeFile(QStringLiteral("Proj/main.dpr"), Text("program main;"));
    sb.writeFile(QStringLiteral("Proj/Units/a.pas"), Text("unit a;"));
    sb.writeFile(QStringLiteral("Proj/img/Photo.JPG"), Text("jpeg"));
    sb.writeFile(QStringLiteral("Proj/lib.ZIP"), Text("zip"));
    const QString outside = sb.writeFile(QStringLiteral("Other/o.txt"), Text("outside"));
    const QString archive = sb.path(QStringLiteral("out/code.zip"));
    QDir().mkpath(sb.path(QStringLiteral("out")));

    TZipEngine zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetZipFileName(archive);
    zip.SetRootDir(sb.path(QStringLiteral("Proj")) + QLatin1Char('/'));
    zip.SetKeepDirNames(true);
    zip.SetZipComment(Comment);
    zip.SetFSpecArgs({ QStringLiteral("main.dpr"), QStringLiteral("Units/a.pas"),
                       QStringLiteral("img/Photo.JPG"), QStringLiteral("lib.ZIP"),
                       QStringLiteral("./Units/../Units/a.pas"), outside });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_EQ(zip.ErrorCode(), 0);
    EXPECT_TRUE(zip.ErrorMessage().isEmpty());
    EXPECT_EQ(zip.SuccessCount(), 5);
    EXPECT_TRUE(rec.errors.isEmpty());
    EXPECT_TRUE(rec.skipped.isEmpty());

    ZipReader r(archive);
    ASSERT_TRUE(r.isOpen());
    // The same file listed twice gives one entry; a file outside the root
    // keeps its whole path without the leading slash.
    const QString outsideName = outside.mid(1);
    EXPECT_EQ(r.names(),
              QStringList({ QStringLiteral("main.dpr"), QStringLiteral("Units/a.pas"),
                            QStringLiteral("img/Photo.JPG"), QStringLiteral("lib.ZIP"), outsideName }));
    EXPECT_EQ(r.entry(QStringLiteral("main.dpr"))->compression, ZIP_CM_DEFLATE);
    EXPECT_EQ(r.entry(QStringLiteral("Units/a.pas"))->compression, ZIP_CM_DEFLATE);
    EXPECT_EQ(r.entry(QStringLiteral("img/Photo.JPG"))->compression, ZIP_CM_STORE);
    EXPECT_EQ(r.entry(QStringLiteral("lib.ZIP"))->compression, ZIP_CM_STORE);
    EXPECT_EQ(r.entry(QStringLiteral("lib.ZIP"))->compressedSize, 600u);
    EXPECT_LT(r.entry(QStringLiteral("Units/a.pas"))->compressedSize, 100u);
    for (const auto &e : r.entries())
        EXPECT_EQ(e.encryption, ZIP_EM_NONE) << e.name.toStdString();
    EXPECT_EQ(r.read(QStringLiteral("Units/a.pas")), Text("unit a;"));
    EXPECT_EQ(r.comment(), Comment);
}

TEST(ZipEngine, BareNamesAndSafeNames)
{
    TestSandbox sb;
    const QString a = sb.writeFile(QStringLiteral("x/deep/a.pas"), "A");
    const QString b = sb.writeFile(QStringLiteral("y/b.txt"), "B");
    const QString evil = sb.writeFile(QStringLiteral("y/..\\..\\evil.txt"), "E");
    const QString archive = sb.path(QStringLiteral("bare.zip"));

    TZipEngine zip;
    zip.SetZipFileName(archive);
    zip.SetKeepDirNames(false);
    zip.SetFSpecArgs({ a, b, evil });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    ZipReader r(archive);
    EXPECT_EQ(r.names(),
              QStringList({ QStringLiteral("a.pas"), QStringLiteral("b.txt"), QStringLiteral("evil.txt") }));
    EXPECT_TRUE(r.comment().isEmpty());

    // Kept folder names never start with "/" nor hold "..", whatever the file's name.
    zip.SetKeepDirNames(true);
    zip.SetRootDir(sb.path(QStringLiteral("y")));
    zip.SetFSpecArgs({ QStringLiteral("..\\..\\evil.txt"), QStringLiteral("../x/deep/a.pas") });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    ZipReader r2(archive);
    EXPECT_EQ(r2.names(), QStringList({ QStringLiteral("evil.txt"), a.mid(1) }));
}

TEST(ZipEngine, PerEntryPasswords)
{
    TestSandbox sb;
    const QString code = sb.writeFile(QStringLiteral("tmp/code.zip"), Text("PK-inner"));
    const QString readme = sb.writeFile(QStringLiteral("tmp/readme.htm"), Text("<html>"));
    const QString archive = sb.path(QStringLiteral("tmp/delivery.zip"));

    // The delivery layout: the default password is set but only the entry
    // that carries "<password" is encrypted.
    TZipEngine zip;
    zip.SetZipFileName(archive);
    zip.SetPassword(QStringLiteral("s3cret"));
    zip.SetKeepDirNames(false);
    zip.SetZipComment(Comment);
    zip.FSpecArgs() << TZipEngine::FileSpec(code, QStringLiteral("s3cret")) << readme;
    EXPECT_EQ(zip.FSpecArgs().first(), code + QStringLiteral("<s3cret"));
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    {
        ZipReader r(archive);
        EXPECT_EQ(r.names(), QStringList({ QStringLiteral("code.zip"), QStringLiteral("readme.htm") }));
        EXPECT_EQ(r.entry(QStringLiteral("code.zip"))->encryption, ZIP_EM_TRAD_PKWARE);
        EXPECT_EQ(r.entry(QStringLiteral("code.zip"))->compression, ZIP_CM_STORE);
        EXPECT_EQ(r.entry(QStringLiteral("readme.htm"))->encryption, ZIP_EM_NONE);
        EXPECT_EQ(r.entry(QStringLiteral("readme.htm"))->compression, ZIP_CM_DEFLATE);
        EXPECT_EQ(r.read(QStringLiteral("code.zip"), QStringLiteral("s3cret")), Text("PK-inner"));
        EXPECT_FALSE(r.read(QStringLiteral("code.zip"), QStringLiteral("s3creT")).has_value());
        EXPECT_FALSE(r.read(QStringLiteral("code.zip")).has_value());
        EXPECT_EQ(r.read(QStringLiteral("readme.htm")), Text("<html>"));
    }

    // "<" with nothing after it: no encryption.
    zip.SetFSpecArgs({ code + QStringLiteral("<"), readme });
    ASSERT_EQ(zip.Add(), 0);
    {
        ZipReader r(archive);
        EXPECT_EQ(r.entry(QStringLiteral("code.zip"))->encryption, ZIP_EM_NONE);
        EXPECT_EQ(r.read(QStringLiteral("code.zip")), Text("PK-inner"));
    }

    // Encrypt on: the default password covers entries without their own.
    zip.SetEncrypt(true);
    zip.SetFSpecArgs({ code + QStringLiteral("<other"), readme });
    ASSERT_EQ(zip.Add(), 0);
    {
        ZipReader r(archive);
        EXPECT_EQ(r.read(QStringLiteral("code.zip"), QStringLiteral("other")), Text("PK-inner"));
        EXPECT_EQ(r.read(QStringLiteral("readme.htm"), QStringLiteral("s3cret")), Text("<html>"));
        EXPECT_FALSE(r.read(QStringLiteral("readme.htm")).has_value());
    }
}

TEST(ZipEngine, FileNameHoldingLessThan)
{
    TestSandbox sb;
    sb.writeFile(QStringLiteral("a<b.txt"), "odd name");
    const QString archive = sb.path(QStringLiteral("odd.zip"));
    TZipEngine zip;
    zip.SetZipFileName(archive);
    zip.SetRootDir(sb.root());
    zip.SetFSpecArgs({ QStringLiteral("a<b.txt"), QStringLiteral("a<b.txt<pw<x") });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    ZipReader r(archive);
    EXPECT_EQ(r.names(), QStringList({ QStringLiteral("a<b.txt") }));
    // The later specification replaced the first: encrypted with "pw<x".
    EXPECT_EQ(r.read(QStringLiteral("a<b.txt"), QStringLiteral("pw<x")), QByteArray("odd name"));
}

TEST(ZipEngine, MissingFilesAreSkipped)
{
    TestSandbox sb;
    const QString a = sb.writeFile(QStringLiteral("src/a.pas"), "a");
    const QString b = sb.writeFile(QStringLiteral("src/b.pas"), "b");
    const QString gone = sb.path(QStringLiteral("src/gone.pas"));
    const QString archive = sb.path(QStringLiteral("out.zip"));

    TZipEngine zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetZipFileName(archive);
    zip.SetKeepDirNames(false);
    zip.SetFSpecArgs({ a, gone + QStringLiteral("<pw"), b });
    ASSERT_EQ(zip.Add(), 0);
    EXPECT_EQ(rec.skipped, QStringList({ gone }));
    EXPECT_TRUE(rec.errors.isEmpty());
    EXPECT_EQ(zip.SuccessCount(), 2);
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ QStringLiteral("a.pas"), QStringLiteral("b.pas") }));

    // Nothing left to add is a failure, and an existing file under the
    // archive's name stays as it was.
    sb.writeFile(QStringLiteral("out.zip"), "old");
    rec.skipped.clear();
    zip.SetFSpecArgs({ gone });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipNothingToDo);
    EXPECT_EQ(rec.skipped, QStringList({ gone }));
    ASSERT_EQ(rec.errors.size(), 1);
    EXPECT_EQ(rec.errors[0].first, TZipEngine::ZipNothingToDo);
    EXPECT_EQ(rec.errors[0].second, zip.ErrorMessage());
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("old"));
}

TEST(ZipEngine, ExistingArchiveIsReplaced)
{
    TestSandbox sb;
    const QString a = sb.writeFile(QStringLiteral("a.txt"), "new");
    const QString archive = sb.writeFile(QStringLiteral("out.zip"), "not a zip at all");
    TZipEngine zip;
    zip.SetZipFileName(archive);
    zip.SetKeepDirNames(false);
    zip.SetFSpecArgs({ a });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    ZipReader r(archive);
    EXPECT_EQ(r.names(), QStringList({ QStringLiteral("a.txt") }));
    EXPECT_EQ(r.read(QStringLiteral("a.txt")), QByteArray("new"));
}

TEST(ZipEngine, UnreadableFileFailsWithoutArchive)
{
    TestSandbox sb;
    const QString a = sb.writeFile(QStringLiteral("src/a.pas"), "a");
    // A folder where a file is expected cannot be read, even by root.
    const QString folder = sb.path(QStringLiteral("src/unit.pas"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QDir().mkpath(sb.path(QStringLiteral("out")));
    const QString archive = sb.path(QStringLiteral("out/code.zip"));

    TZipEngine zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetZipFileName(archive);
    zip.SetFSpecArgs({ a, folder });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipReadError);
    EXPECT_EQ(zip.ErrorMessage(), QStringLiteral("Cannot read the file %1: Is a directory").arg(folder));
    ASSERT_EQ(rec.errors.size(), 1);
    EXPECT_EQ(rec.errors[0].first, TZipEngine::ZipReadError);
    EXPECT_TRUE(rec.skipped.isEmpty());
    EXPECT_EQ(FolderEntries(sb.path(QStringLiteral("out"))), QStringList());
    EXPECT_EQ(zip.SuccessCount(), 0);

    if (geteuid() != 0) {
        const QString locked = sb.writeFile(QStringLiteral("src/locked.pas"), "x");
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        zip.SetFSpecArgs({ a, locked });
        EXPECT_EQ(zip.Add(), TZipEngine::ZipReadError);
        EXPECT_EQ(zip.ErrorMessage(),
                  QStringLiteral("Cannot read the file %1: Permission denied").arg(locked));
        EXPECT_EQ(FolderEntries(sb.path(QStringLiteral("out"))), QStringList());
    }
}

TEST(ZipEngine, ArchiveThatCannotBeWritten)
{
    TestSandbox sb;
    const QString a = sb.writeFile(QStringLiteral("a.pas"), "a");
    TZipEngine zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetFSpecArgs({ a });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipNoArchiveName);

    const QString archive = sb.root() + QStringLiteral("/nowhere/out.zip");
    zip.SetZipFileName(archive);
    EXPECT_EQ(zip.Add(), TZipEngine::ZipCreateError);
    EXPECT_EQ(zip.ErrorMessage(),
              QStringLiteral("Cannot create the archive %1: the folder %2 does not exist.")
                  .arg(archive, sb.root() + QStringLiteral("/nowhere")));
    EXPECT_FALSE(QFileInfo::exists(archive));
    EXPECT_EQ(rec.errors.size(), 2);
}

TEST(ZipEngine, FullDiskLeavesNothingBehind)
{
    // A file size limit makes writes fail as a full disk would, root or not.
    TestSandbox sb;
    const QString big = sb.writeFile(QStringLiteral("src/big.bin"), Noise(512 * 1024));
    QDir().mkpath(sb.path(QStringLiteral("out")));
    const QString archive = sb.path(QStringLiteral("out/full.zip"));
    TZipEngine zip;
    zip.SetZipFileName(archive);
    zip.SetFSpecArgs({ big });

    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int code = zip.Add();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(code, TZipEngine::ZipWriteError);
    EXPECT_TRUE(zip.ErrorMessage().startsWith(QStringLiteral("Cannot write the archive %1: ").arg(archive)))
        << zip.ErrorMessage().toStdString();
    EXPECT_EQ(FolderEntries(sb.path(QStringLiteral("out"))), QStringList());
}

TEST(ZipEngine, InfoZipReadsOurArchives)
{
    const QString unzip = QStringLiteral("/usr/bin/unzip");
    if (!QFileInfo::exists(unzip))
        GTEST_SKIP() << "Info-ZIP unzip is not installed";
    TestSandbox sb;
    const QString code = sb.writeFile(QStringLiteral("code.zip"), Text("inner archive"));
    const QString readme = sb.writeFile(QStringLiteral("readme.htm"), Text("<p>manifest</p>"));
    const QString archive = sb.path(QStringLiteral("MyTool_1.2.3.zip"));
    TZipEngine zip;
    zip.SetZipFileName(archive);
    zip.SetKeepDirNames(false);
    zip.SetZipComment(Comment);
    zip.SetFSpecArgs({ code + QStringLiteral("<pass word"), readme });
    ASSERT_EQ(zip.Add(), 0);

    const auto run = [&](const QStringList &args, QByteArray *out = nullptr) {
        QProcess p;
        p.start(unzip, args);
        EXPECT_TRUE(p.waitForFinished(30000));
        if (out)
            *out = p.readAllStandardOutput();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QByteArray out;
    EXPECT_EQ(run({ QStringLiteral("-P"), QStringLiteral("pass word"), QStringLiteral("-p"), archive,
                    QStringLiteral("code.zip") },
                  &out),
              0);
    EXPECT_EQ(out, Text("inner archive"));
    EXPECT_NE(run({ QStringLiteral("-P"), QStringLiteral("password"), QStringLiteral("-p"), archive,
                    QStringLiteral("code.zip") },
                  &out),
              0);
    EXPECT_NE(out, Text("inner archive"));
    EXPECT_EQ(run({ QStringLiteral("-p"), archive, QStringLiteral("readme.htm") }, &out), 0);
    EXPECT_EQ(out, Text("<p>manifest</p>"));
    EXPECT_EQ(run({ QStringLiteral("-v"), archive }, &out), 0);
    EXPECT_TRUE(out.contains("Stored")) << out.constData();
    EXPECT_TRUE(out.contains("Defl:")) << out.constData();
    EXPECT_TRUE(out.contains("Bundlewick version 1.2.3 build 83")) << out.constData();
}
