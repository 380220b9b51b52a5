#include "archive/zipengine.h"
#include "support/testenv.h"
#include "support/zipreader.h"

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

// Items named by the files' own names.
QList<TZipFileItem> Bare(const QStringList &paths)
{
    QList<TZipFileItem> items;
    for (const QString &p : paths)
        items.append({ p, QString(), QString() });
    return items;
}

// An engine writing to sArchive, recording its callbacks.
struct Engine : TZipEngine
{
    QStringList skipped;
    QList<QPair<int, QString>> errors;
    Engine(const QString &sArchive, const QList<TZipFileItem> &lItems)
    {
        SetZipFileName(sArchive);
        SetItems(lItems);
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

    const QString proj = sb.path(u"Proj"_s) + u'/';
    Engine zip(archive,
               { { proj + u"main.dpr"_s, u"main.dpr"_s, {} },
                 { proj + u"Units/a.pas"_s, u"Units/a.pas"_s, {} },
                 { proj + u"img/Photo.JPG"_s, u"img/Photo.JPG"_s, {} },
                 { proj + u"lib.ZIP"_s, u"lib.ZIP"_s, {} },
                 { proj + u"./Units/../Units/a.pas"_s, u"Units/a.pas"_s, {} },
                 { outside, outside, {} } });
    zip.SetZipComment(Comment);
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_TRUE(zip.ErrorMessage().isEmpty());
    EXPECT_EQ(zip.SuccessCount(), 5);
    EXPECT_TRUE(zip.errors.isEmpty() && zip.skipped.isEmpty());

    ZipReader r(archive);
    // The same file listed twice gives one entry; an absolute entry name
    // loses its leading slash.
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

    // A backslash is no separator in the format: it becomes "_", so
    // extractors that split at it find no way up.
    Engine zip(archive, Bare({ a, evil }));
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ u"a.pas"_s, u".._.._evil.txt"_s }));
    EXPECT_TRUE(ZipReader(archive).comment().isEmpty());

    // Entry names never start with "/" nor hold ".." or a drive.
    zip.SetItems({ { evil, u"/../x/..\\.\\evil.txt"_s, {} },
                   { a, u"./../deep//a.pas"_s, {} },
                   { sb.writeFile(u"y/c.txt"_s, "C"), u"C:\\Windows/x:y/\\\\srv\\share\\c.txt"_s, {} } });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_EQ(ZipReader(archive).names(),
              QStringList({ u"x/.._._evil.txt"_s, u"deep/a.pas"_s, u"C__Windows/x_y/__srv_share_c.txt"_s }));
}

// Names are never parsed: "<" is an ordinary character, a "\" never takes
// the place of a "/", and two files never share one entry.
TEST(ZipEngine, NamesAreNotParsed)
{
    TestSandbox sb;
    const QString plain = sb.writeFile(u"d/a"_s, "plain");
    const QString angle = sb.writeFile(u"d/a<b.c"_s, "angle");
    const QString back = sb.writeFile(u"d/x\\y"_s, "back");
    const QString slash = sb.writeFile(u"d/x/y"_s, "slash");
    const QString archive = sb.path(u"out.zip"_s);
    Engine zip(archive,
               { { plain, u"a"_s, {} },
                 { angle, u"a<b.c"_s, {} },
                 { back, u"x\\y"_s, {} },
                 { slash, u"x/y"_s, {} } });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    ZipReader r(archive);
    EXPECT_EQ(r.names(), QStringList({ u"a"_s, u"a<b.c"_s, u"x_y"_s, u"x/y"_s }));
    EXPECT_EQ(r.read(u"a"_s), QByteArray("plain"));
    EXPECT_EQ(r.read(u"a<b.c"_s), QByteArray("angle"));
    EXPECT_EQ(r.read(u"x_y"_s), QByteArray("back"));
    EXPECT_EQ(r.read(u"x/y"_s), QByteArray("slash"));

    // Two different files under one name: a failure, not a silent loss.
    zip.SetItems({ { plain, u"same"_s, {} }, { angle, u"same"_s, {} } });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipDuplicateName);
    EXPECT_EQ(zip.ErrorMessage(), u"Two files would be stored as same: %1 and %2"_s.arg(plain, angle));
    EXPECT_EQ(ZipReader(archive).names().size(), 4);
}

// Items are checked as they come: the first one found wanting names the
// failure, whatever its kind, and the same file again under its name is
// left out wherever it comes.
TEST(ZipEngine, SameNamesAndFaultsInListOrder)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"d/a.pas"_s, "a");
    const QString b = sb.writeFile(u"e/a.pas"_s, "b");
    const QString c = sb.writeFile(u"d/c.pas"_s, "c");
    const QString folder = sb.path(u"d/unit.pas"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString archive = sb.path(u"out.zip"_s);

    Engine zip(archive, { { a, u"x"_s, {} }, { c, u"c"_s, {} }, { a, u"x"_s, {} }, { b, u"b"_s, {} } });
    ASSERT_EQ(zip.Add(), 0) << zip.ErrorMessage().toStdString();
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ u"x"_s, u"c"_s, u"b"_s }));
    // The items went into that archive: another Add() has none.
    EXPECT_EQ(zip.Add(), TZipEngine::ZipNothingToDo);

    // The name's first file is the one named, after the same file again.
    zip.SetItems({ { a, u"x"_s, {} }, { a, u"x"_s, {} }, { b, u"x"_s, {} } });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipDuplicateName);
    EXPECT_EQ(zip.ErrorMessage(), u"Two files would be stored as x: %1 and %2"_s.arg(a, b));

    // A taken name before an unreadable file, and the other way round.
    zip.SetItems({ { c, u"c"_s, {} }, { b, u"c"_s, {} }, { folder, {}, {} } });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipDuplicateName);
    EXPECT_EQ(zip.ErrorMessage(), u"Two files would be stored as c: %1 and %2"_s.arg(c, b));
    zip.SetItems({ { folder, {}, {} }, { c, u"c"_s, {} }, { b, u"c"_s, {} } });
    EXPECT_EQ(zip.Add(), TZipEngine::ZipReadError);
    EXPECT_EQ(zip.ErrorMessage(), u"Cannot read the file %1: Is a directory"_s.arg(folder));
    EXPECT_TRUE(zip.skipped.isEmpty());
    EXPECT_EQ(ZipReader(archive).names(), QStringList({ u"x"_s, u"c"_s, u"b"_s }));
}

TEST(ZipEngine, PerEntryPasswords)
{
    TestSandbox sb;
    const QString code = sb.writeFile(u"code.zip"_s, Text("PK-inner"));
    const QString readme = sb.writeFile(u"readme.htm"_s, Text("<html>"));
    const QString archive = sb.path(u"delivery.zip"_s);

    // The delivery layout: only the entry that carries a password is encrypted.
    Engine zip(archive, { { code, u"code.zip"_s, u"s3cret"_s }, { readme, u"readme.htm"_s, {} } });
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

    // An empty password: no encryption. A password may hold "<".
    zip.SetItems({ { code, {}, {} }, { readme, {}, u"pw<x"_s } });
    ASSERT_EQ(zip.Add(), 0);
    ZipReader r(archive);
    EXPECT_EQ(r.entry(u"code.zip"_s)->encryption, ZIP_EM_NONE);
    EXPECT_EQ(r.read(u"readme.htm"_s, u"pw<x"_s), Text("<html>"));
    EXPECT_FALSE(r.read(u"readme.htm"_s).has_value());
}

TEST(ZipEngine, MissingFilesSkippedExistingArchiveReplaced)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"src/a.pas"_s, "a");
    const QString b = sb.writeFile(u"src/b.pas"_s, "b");
    const QString gone = sb.path(u"src/gone.pas"_s);
    const QString archive = sb.writeFile(u"out.zip"_s, "old");

    // Nothing left to add is a failure, and the existing file stays as it was.
    Engine zip(archive, Bare({ gone }));
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
    zip.SetItems({ { a, {}, {} }, { gone, {}, u"pw"_s }, { b, {}, {} } });
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

    Engine zip(archive, Bare({ a, folder }));
    EXPECT_EQ(zip.Add(), TZipEngine::ZipReadError);
    EXPECT_EQ(zip.ErrorMessage(), u"Cannot read the file %1: Is a directory"_s.arg(folder));
    ASSERT_EQ(zip.errors.size(), 1);
    EXPECT_EQ(zip.errors[0].first, TZipEngine::ZipReadError);
    EXPECT_TRUE(zip.skipped.isEmpty());
    EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());

    if (geteuid() != 0) {
        const QString locked = sb.writeFile(u"src/locked.pas"_s, "x");
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        zip.SetItems(Bare({ a, locked }));
        EXPECT_EQ(zip.Add(), TZipEngine::ZipReadError);
        EXPECT_EQ(zip.ErrorMessage(), u"Cannot read the file %1: Permission denied"_s.arg(locked));
        EXPECT_EQ(FolderEntries(sb.path(u"out"_s)), QStringList());
    }
}

TEST(ZipEngine, ArchiveThatCannotBeWritten)
{
    TestSandbox sb;
    const QString a = sb.writeFile(u"a.pas"_s, "a");
    Engine zip(QString(), Bare({ a }));
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
    zip.SetItems(Bare({ sb.writeFile(u"src/big.png"_s, QByteArray(512 * 1024, 'x')) }));
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
    Engine zip(archive, { { code, {}, u"pass word"_s }, { readme, {}, {} } });
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
