#include "delivery/zipengine.h"
#include "support/testenv.h"
#include "zipreader.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using bwtest::TestSandbox;
using bwtest::ZipReader;

namespace {

const QString Comment = u"Bundlewick version 1.2.3 build 83"_s;

// Compressible text, so that deflated and stored entries differ in size.
QByteArray Text(const char *seed)
{
    return QByteArray(seed).repeated(200);
}

QStringList FolderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// An engine writing bare names to sArchive, recording its callbacks.
struct Engine : TZipEngine
{
    QStringList skipped;
    QList<QPair<int, QString>> errors;
    Engine(const QString &sArchive, const QStringList &lSpecs)
    {
        SetZipFileName(sArchive);
        SetKeepDirNames(false);
        SetFSpecArgs(lSpecs);
        OnSkipped = [this](const QString &p) { skipped << p; };
        OnError = [this](int c, const QString &m) { errors.append({ c, m }); };
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
    sb.writeFile(u"Proj/main.dpr"_s, Text("program main;"));
    sb.writeFile(u"Proj/Units/a.pas"_s, Text("unit a;"));
    sb.writeFile(u"Proj/img/Photo.JPG"_s, Text("jpeg"));
    sb.writeFile(u"Proj/lib.ZIP"_s, Text("zip"));
    const QString outside = sb.writeFile(u"Other/o.txt"_s, Text("outside"));
    const QString archive = sb.path(u"code.zip"_s);

    Engine zip(archive,
               { u"main.dpr"_s, u"Units/a.pas"_s, u"img/Photo.JPG"_s, u"lib.ZIP"_s,
                 u"./Units/../Units/a.pas"_s, outside });
    zip.SetRootDir(sb.path(u"Proj"_s) + u'/');
    zip.SetKeepDirNames(true);
    zip.SetZipComment(Comment);
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_TRUE(zip.ErrorMessage().isEmpty());
    EXPECT_EQ(zip.SuccessCount(), 5);
    EXPECT_TRUE(zip.errors.isEmpty() && zip.skipped.isEmpty());

    ZipReader r(archive);
    // The same file listed twice gives one entry; a file outside the root
    // keeps its whole path without the leading slash.
    EXPECT_EQ(
        r.names(),
        QStringList({ u"main.dpr"_s, u"Units/a.pas"_s, u"img/Photo.JPG"_s, u"lib.ZIP"_s, outside.mid(1) }));
    EXPECT_EQ(r.entry(u"main.dpr"_s)->compression, ZIP_CM_DEFLATE);
    EXPECT_EQ(r.entry(u"Units/a.pas"_s)->compression, ZIP_CM_DEFLATE);
    EXPECT_EQ(r.entry(u"img/Photo.JPG"_s)->compression, ZIP_CM_STORE);
    EXPECT_EQ(r.entry(u"lib.ZIP"_s)->compression, ZIP_CM_STORE);
    EXPECT_EQ(r.entry(u"lib.ZIP"_s)->compressedSize, 600u);
    EXPECT_LT(r.entry(u"Units/a.pas"_s)->compressedSize, 100u);
    for (const auto &e : r.entries())
        EXPECT_EQ(e.encryption, ZIP_EM_NONE) << e.name.toStdString();
    EXPECT_EQ(r.read(u"Units/a.pas"_s), Text("unit a;"));
    EXPECT_EQ(r.comment(), Comment);
}

TEST(ZipEngine, BareNamesAndSafeNames)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"x/deep/a.pas"_s, "A");
    const QString evil = sb.writeFile(u"y/..\\..\\evil.txt"_s, "E");
    const QString archive = sb.path(u"bare.zip"_s);

    Engine zip(archive, { a, evil });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ u"a.pas"_s, u"evil.txt"_s }));
    EXPECT_TRUE(ZipReader(archive).comment().isEmpty());

    // Kept folder names never start with "/" nor hold "..", whatever the file's name.
    zip.SetKeepDirNames(true);
    zip.SetRootDir(sb.path(u"y"_s));
    zip.SetFSpecArgs({ u"..\\..\\evil.txt"_s, u"../x/deep/a.pas"_s });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ u"evil.txt"_s, a.mid(1) }));
}

TEST(ZipEngine, PerEntryPasswords)
{
    TestSandbox sb;
    const QString code = sb.writeFile(u"code.zip"_s, Text("PK-inner"));
    const QString readme = sb.writeFile(u"readme.htm"_s, Text("<html>"));
    const QString archive = sb.path(u"delivery.zip"_s);

    // The delivery layout: a default password is set, but only the entry
    // that carries "<password" is encrypted.
    Engine zip(archive, { TZipEngine::FileSpec(code, u"s3cret"_s), readme });
    zip.SetPassword(u"s3cret"_s);
    EXPECT_EQ(zip.FSpecArgs().first(), code + u"<s3cret"_s);
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    {
        ZipReader r(archive);
        EXPECT_EQ(r.names(), QStringList({ u"code.zip"_s, u"readme.htm"_s }));
        EXPECT_EQ(r.entry(u"code.zip"_s)->encryption, ZIP_EM_TRAD_PKWARE);
        EXPECT_EQ(r.entry(u"code.zip"_s)->compression, ZIP_CM_STORE);
        EXPECT_EQ(r.entry(u"readme.htm"_s)->encryption, ZIP_EM_NONE);
        EXPECT_EQ(r.entry(u"readme.htm"_s)->compression, ZIP_CM_DEFLATE);
        EXPECT_EQ(r.read(u"code.zip"_s, u"s3cret"_s), Text("PK-inner"));
        EXPECT_FALSE(r.read(u"code.zip"_s, u"s3creT"_s).has_value());
        EXPECT_FALSE(r.read(u"code.zip"_s).has_value());
        EXPECT_EQ(r.read(u"readme.htm"_s), Text("<html>"));
    }

    // "<" with nothing after it: no encryption.
    zip.SetFSpecArgs({ code + u"<"_s, readme });
    ASSERT_EQ(zip.Add(), 0);
    EXPECT_EQ(ZipReader(archive).entry(u"code.zip"_s)->encryption, ZIP_EM_NONE);

    // Encrypt on: the default password covers entries without their own.
    zip.SetEncrypt(true);
    zip.SetFSpecArgs({ code + u"<other"_s, readme });
    ASSERT_EQ(zip.Add(), 0);
    {
        ZipReader r(archive);
        EXPECT_EQ(r.read(u"code.zip"_s, u"other"_s), Text("PK-inner"));
        EXPECT_EQ(r.read(u"readme.htm"_s, u"s3cret"_s), Text("<html>"));
        EXPECT_FALSE(r.read(u"readme.htm"_s).has_value());
    }

    // A Linux file name may hold "<": the password starts after the path.
    sb.writeFile(u"a<b.txt"_s, "odd name");
    zip.SetEncrypt(false);
    zip.SetRootDir(sb.root());
    zip.SetFSpecArgs({ u"a<b.txt"_s, u"a<b.txt<pw<x"_s });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    // The later file item replaced the first one's entry.
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ u"a<b.txt"_s }));
    EXPECT_EQ(ZipReader(archive).read(u"a<b.txt"_s, u"pw<x"_s), QByteArray("odd name"));
}

TEST(ZipEngine, MissingFilesSkippedExistingArchiveReplaced)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"src/a.pas"_s, "a");
    const QString b = sb.writeFile(u"src/b.pas"_s, "b");
    const QString gone = sb.path(u"src/gone.pas"_s);
    const QString archive = sb.writeFile(u"out.zip"_s, "old");

    // Nothing left to add is a failure, and the existing file stays as it was.
    Engine zip(archive, { gone });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipNothingToDo);
    EXPECT_EQ(zip.skipped, QStringList({ gone }));
    ASSERT_EQ(zip.errors.size(), 1);
    EXPECT_EQ(zip.errors[0].first, TZipEngine::ZipNothingToDo);
    EXPECT_EQ(zip.errors[0].second, u"Nothing to zip: none of the listed files exists."_s);
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("old"));

    // A successful add replaces it, built from the files that exist.
    zip.skipped.clear();
    zip.SetFSpecArgs({ a, gone + u"<pw"_s, b });
    ASSERT_EQ(zip.Add(), 0);
    EXPECT_EQ(zip.skipped, QStringList({ gone }));
    EXPECT_EQ(zip.errors.size(), 1);
    EXPECT_EQ(zip.SuccessCount(), 2);
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ u"a.pas"_s, u"b.pas"_s }));
}

TEST(ZipEngine, UnreadableFileFailsWithoutArchive)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"src/a.pas"_s, "a");
    // A folder where a file is expected cannot be read, even by root.
    const QString folder = sb.path(u"src/unit.pas"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString archive = sb.path(u"out/code.zip"_s);

    Engine zip(archive, { a, folder });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipReadError);
    EXPECT_EQ(zip.ErrorMessage(), u"Cannot read the file %1: Is a directory"_s.arg(folder));
    ASSERT_EQ(zip.errors.size(), 1);
    EXPECT_EQ(zip.errors[0].first, TZipEngine::ZipReadError);
    EXPECT_TRUE(zip.skipped.isEmpty());
    EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());

    if (geteuid() != 0) {
        const QString locked = sb.writeFile(u"src/locked.pas"_s, "x");
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        zip.SetFSpecArgs({ a, locked });
        EXPECT_EQ(zip.Add(), TZipEngine::ZipReadError);
        EXPECT_EQ(zip.ErrorMessage(), u"Cannot read the file %1: Permission denied"_s.arg(locked));
        EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
    }
}

TEST(ZipEngine, ArchiveThatCannotBeWritten)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"a.pas"_s, "a");
    Engine zip(QString(), { a });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipNoArchiveName);

    const QString archive = sb.root() + u"/nowhere/out.zip"_s;
    zip.SetZipFileName(archive);
    EXPECT_EQ(zip.Add(), TZipEngine::ZipCreateError);
    EXPECT_EQ(zip.ErrorMessage(),
              u"Cannot create the archive %1: the folder %2 does not exist."_s.arg(
                  archive, sb.root() + u"/nowhere"_s));
    EXPECT_EQ(zip.errors.size(), 2);

    // A file size limit makes the writes at close fail as a full disk would,
    // root or not; the temporary file must go too. A ".png" is stored as is.
    zip.SetFSpecArgs({ sb.writeFile(u"src/big.png"_s, QByteArray(512 * 1024, 'x')) });
    zip.SetZipFileName(sb.path(u"out/full.zip"_s));
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
    EXPECT_EQ(zip.ErrorMessage(),
              u"Cannot write the archive %1: Write error: File too large"_s.arg(zip.ZipFileName()));
    EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
}

TEST(ZipEngine, InfoZipReadsOurArchives)
{
    const QString unzip = u"/usr/bin/unzip"_s;
    if (!QFileInfo::exists(unzip))
        GTEST_SKIP() << "Info-ZIP unzip is not installed";
    TestSandbox sb;
    const QString code = sb.writeFile(u"code.zip"_s, Text("inner archive"));
    const QString readme = sb.writeFile(u"readme.htm"_s, Text("<p>manifest</p>"));
    const QString archive = sb.path(u"MyTool_1.2.3.zip"_s);
    Engine zip(archive, { code + u"<pass word"_s, readme });
    zip.SetZipComment(Comment);
    ASSERT_EQ(zip.Add(), 0);

    QByteArray out;
    const auto run = [&](const QStringList &args) { return bwtest::runProgram(unzip, args, &out); };
    EXPECT_EQ(run({ u"-P"_s, u"pass word"_s, u"-p"_s, archive, u"code.zip"_s }), 0);
    EXPECT_EQ(out, Text("inner archive"));
    EXPECT_NE(run({ u"-P"_s, u"password"_s, u"-p"_s, archive, u"code.zip"_s }), 0);
    EXPECT_NE(out, Text("inner archive"));
    EXPECT_EQ(run({ u"-p"_s, archive, u"readme.htm"_s }), 0);
    EXPECT_EQ(out, Text("<p>manifest</p>"));
    EXPECT_EQ(run({ u"-v"_s, archive }), 0);
    EXPECT_TRUE(out.contains("Stored") && out.contains("Defl:")) << out.constData();
    EXPECT_TRUE(out.contains("Bundlewick version 1.2.3 build 83")) << out.constData();
}
