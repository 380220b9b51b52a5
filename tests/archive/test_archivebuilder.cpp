#include "../projects/projectdb.h"
#include "archive/archivebuilder.h"
#include "core/listfiles.h"
#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/winutils.h"
#include "projects/project.h"
#include "support/pebuilder.h"
#include "support/zipreader.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using bwtest::ZipReader;

namespace {

class ArchiveBuilder : public ProjectDB
{
protected:
    TProgressList progress;
    TArchiveBuilder builder { progress };
    std::unique_ptr<TProject> project;

    void SetUp() override { ProjectDB::SetUp(); }

    // A parsed Generic project holding the sandbox files named (created unless missing is set).
    TProject &generic(const QString &sTitle, const QStringList &names)
    {
        const int id = addProject(pkGeneric, sTitle);
        for (const QString &name : names)
            addEntry(id, file(name, "text of " + name.toUtf8()));
        project = CreateProject(pkGeneric, id, sTitle, QString());
        project->Parse();
        return *project;
    }
    QStringList lines() const
    {
        QStringList out;
        for (const TProgressLine &line : progress.Lines())
            out << line.sText;
        return out;
    }
    static QByteArray fileBytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

} // namespace

TEST(ArchiveNames, CommonRoot)
{
    const auto root = [](const QStringList &paths) {
        QList<TFileItem> items;
        for (const QString &path : paths)
            items.append({ path, 1, {} });
        return TArchiveBuilder::CommonRoot(items);
    };
    EXPECT_EQ(root({ u"/a/b/c.txt"_s }), u"/a/b/"_s);
    EXPECT_EQ(root({ u"/x/Proj/main.dpr"_s, u"/x/Proj/Units/a.pas"_s }), u"/x/Proj/"_s);
    EXPECT_EQ(root({ u"/x/Proj/x.pas"_s, u"/x/Project2/y.pas"_s }), u"/x/"_s);
    // Paths are compared exactly: folders that differ in case are different folders.
    EXPECT_EQ(root({ u"/X/Proj/a.pas"_s, u"/X/pROJ/b.pas"_s }), u"/X/"_s);
    EXPECT_EQ(root({ u"/x/Ärger/a"_s, u"/x/ärger/b"_s }), u"/x/"_s);
    EXPECT_EQ(root({ u"/a/f"_s, u"/b/g"_s }), u"/"_s);
    EXPECT_EQ(root({ u"/a/b/c.txt"_s, u"/a/b/c.txt"_s }), u"/a/b/"_s);
    EXPECT_EQ(root({ u"file.txt"_s }), QString());
    EXPECT_EQ(root({}), QString());
    // A folder shared by all but the first path's deeper folders.
    EXPECT_EQ(root({ u"/x/a/b/c/d.txt"_s, u"/x/a/b/e.txt"_s, u"/x/a/f.txt"_s, u"/x/a/b/c/g.txt"_s }),
              u"/x/a/"_s);
}

TEST_F(ArchiveBuilder, ArchiveNameRemovesBlanks)
{
    auto p = CreateProject(pkGeneric, 1, u"  Bob's Tool:\tX "_s, QString());
    EXPECT_EQ(TArchiveBuilder::ArchiveName(*p, u"1.0.0"_s), u"Bob'sTool:_X_1.0.0.zip"_s);
}

TEST_F(ArchiveBuilder, ProjectVersion)
{
    const QRegularExpression stamp(u"^\\d{8}-\\d{6}$"_s);
    const QString before = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    const QString version = builder.ProjectVersion(generic(u"Gen"_s, { u"g/a.txt"_s }));
    const QString after = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    EXPECT_TRUE(stamp.match(version).hasMatch()) << version.toStdString();
    EXPECT_TRUE(before <= version && version <= after) << version.toStdString();
    bwtest::PEBuilder pe;
    pe.versionMS = (2u << 16) | 0;
    pe.versionLS = (1u << 16) | 7;
    file(u"g/Gen.exe"_s, pe.build());
    const auto delphi = [&](const QString &dpr) {
        auto p = CreateProject(pkDelphi, 1, u"Title"_s, sandbox.path(dpr));
        return builder.ProjectVersion(*p);
    };
    EXPECT_EQ(delphi(u"g/Gen.dpr"_s), u"2.0.1"_s);
    // Built on Windows: the program file's case need not match the project's.
    file(u"w/TOOL.EXE"_s, pe.build());
    EXPECT_EQ(delphi(u"w/Tool.dpr"_s), u"2.0.1"_s);
    auto p = CreateProject(pkDelphi, 1, u"Title"_s, sandbox.path(u"w/Tool.dpr"_s));
    EXPECT_EQ(TArchiveBuilder::ArchiveName(*p, builder.ProjectVersion(*p)), u"Title_2.0.1.zip"_s);

    EXPECT_TRUE(stamp.match(delphi(u"n/NoExe.dpr"_s)).hasMatch());
    pe.withVersion = false;
    file(u"v/NoVer.exe"_s, pe.build());
    EXPECT_TRUE(stamp.match(delphi(u"v/NoVer.dpr"_s)).hasMatch());
}

TEST_F(ArchiveBuilder, CodeZipHoldsPathsBelowTheRoot)
{
    // A leftover from an earlier project must not survive.
    const QString codeZip = RunTempDir() + u"code.zip"_s;
    ASSERT_TRUE(QFile(sandbox.writeFile(u"old.zip"_s, "PK")).copy(codeZip));

    TProject &p = generic(
        u"Two Folders"_s,
        { u"x/Proj/main.dpr"_s, u"x/Proj/Units/a.pas"_s, u"x/Project2/y.pas"_s, u"x/Proj/Logo.JPG"_s });
    QString root;
    EXPECT_EQ(builder.BuildCodeZip(p, root), codeZip);
    EXPECT_EQ(root, sandbox.root() + u"/x/"_s);
    EXPECT_EQ(lines(), QStringList { u"  Zipped 4 files"_s });

    ZipReader zip(codeZip);
    ASSERT_TRUE(zip.isOpen());
    EXPECT_EQ(
        zip.names(),
        (QStringList { u"Proj/main.dpr"_s, u"Proj/Units/a.pas"_s, u"Project2/y.pas"_s, u"Proj/Logo.JPG"_s }));
    EXPECT_EQ(zip.entry(u"Proj/main.dpr"_s)->compression, ZIP_CM_DEFLATE);
    EXPECT_EQ(zip.entry(u"Proj/Logo.JPG"_s)->compression, ZIP_CM_STORE);
    for (const auto &e : zip.entries())
        EXPECT_EQ(e.encryption, ZIP_EM_NONE) << e.name.toStdString();
    EXPECT_EQ(zip.read(u"Proj/Units/a.pas"_s), QByteArray("text of x/Proj/Units/a.pas"));
    EXPECT_EQ(zip.comment(), u"Bundlewick version "_s + AppVersion());
}

TEST_F(ArchiveBuilder, SingleFileAndMissingFiles)
{
    TProject &one = generic(u"One"_s, { u"a/b/c.txt"_s });
    QString root;
    ZipReader(builder.BuildCodeZip(one, root));
    EXPECT_EQ(root, sandbox.root() + u"/a/b/"_s);
    EXPECT_EQ(ZipReader(RunTempDir() + u"code.zip"_s).names(), QStringList { u"c.txt"_s });
    EXPECT_EQ(lines(), QStringList { u"  Zipped 1 file"_s });

    // Removed after the list was made: left out, the rest is zipped.
    progress.Clear();
    TProject &three = generic(u"Three"_s, { u"m/a.txt"_s, u"m/gone.txt"_s, u"m/b.txt"_s });
    const QString gone = sandbox.root() + u"/m/gone.txt"_s;
    ASSERT_TRUE(QFile::remove(gone));
    builder.BuildCodeZip(three, root);
    EXPECT_EQ(lines(), (QStringList { u"!  Missing file skipped: "_s + gone, u"  Zipped 3 files"_s }));
    EXPECT_EQ(ZipReader(RunTempDir() + u"code.zip"_s).names(), (QStringList { u"a.txt"_s, u"b.txt"_s }));

    // Nothing left at all: an error, shown to the user first and raised for
    // the run to end the project with; no archive.
    progress.Clear();
    QStringList shown;
    builder.OnAttendedError = [&](const QString &s) { shown << s; };
    for (const QString &name : { u"m/a.txt"_s, u"m/b.txt"_s })
        QFile::remove(sandbox.root() + u"/"_s + name);
    QString raised;
    try {
        builder.BuildCodeZip(three, root);
    } catch (const EZipError &e) {
        raised = e.Message();
    }
    EXPECT_EQ(raised, u"Nothing to zip: none of the listed files exists."_s);
    EXPECT_EQ(lines().size(), 3);
    EXPECT_FALSE(lines().join(u'|').contains(u"Zipped"_s));
    EXPECT_EQ(shown, QStringList { raised });
    EXPECT_FALSE(QFileInfo::exists(RunTempDir() + u"code.zip"_s));
}

TEST_F(ArchiveBuilder, DeliveryArchivesPerTask)
{
    TProject &p = generic(u"My Tool"_s, { u"src/main.cpp"_s, u"src/util/u.h"_s });
    QString root;
    const QString codeZip = builder.BuildCodeZip(p, root);
    const QString manifest = builder.WriteReadMe(p, root, u"1.2.3"_s);
    EXPECT_EQ(manifest, RunTempDir() + u"readme.htm"_s);
    EXPECT_TRUE(fileBytes(manifest).contains("1.2.3"));
    progress.Clear();

    const QString alpha = builder.BuildDeliveryZip(manifest, u"alpha"_s, codeZip);
    const QString beta = builder.BuildDeliveryZip(manifest, u"beta"_s, codeZip);
    const QString open = builder.BuildDeliveryZip(manifest, QString(), codeZip);
    EXPECT_EQ(lines(), QStringList());
    EXPECT_EQ((QSet<QString> { alpha, beta, open }).size(), 3);

    const QByteArray inner = fileBytes(codeZip);
    const QByteArray page = fileBytes(manifest);
    for (const auto &[path, password] : { std::pair { alpha, u"alpha"_s }, std::pair { beta, u"beta"_s } }) {
        ZipReader zip(path);
        ASSERT_TRUE(zip.isOpen());
        EXPECT_EQ(zip.names(), (QStringList { u"code.zip"_s, u"readme.htm"_s }));
        EXPECT_EQ(zip.entry(u"code.zip"_s)->compression, ZIP_CM_STORE);
        EXPECT_EQ(zip.entry(u"code.zip"_s)->encryption, ZIP_EM_TRAD_PKWARE);
        EXPECT_EQ(zip.entry(u"readme.htm"_s)->compression, ZIP_CM_DEFLATE);
        EXPECT_EQ(zip.entry(u"readme.htm"_s)->encryption, ZIP_EM_NONE);
        EXPECT_EQ(zip.read(u"code.zip"_s, password), inner);
        EXPECT_EQ(zip.read(u"code.zip"_s, password == u"alpha"_s ? u"beta"_s : u"alpha"_s), std::nullopt);
        EXPECT_EQ(zip.read(u"code.zip"_s), std::nullopt);
        EXPECT_EQ(zip.read(u"readme.htm"_s), page);
        EXPECT_EQ(zip.comment(), u"Bundlewick version "_s + AppVersion());
    }
    ZipReader plain(open);
    EXPECT_EQ(plain.names(), (QStringList { u"code.zip"_s, u"readme.htm"_s }));
    EXPECT_EQ(plain.entry(u"code.zip"_s)->encryption, ZIP_EM_NONE);
    EXPECT_EQ(plain.read(u"code.zip"_s), inner);

    const QString unzip = u"/usr/bin/unzip"_s;
    if (!QFileInfo::exists(unzip))
        return;
    QByteArray out;
    const auto run = [&](const QStringList &args) { return bwtest::runProgram(unzip, args, &out); };
    EXPECT_EQ(run({ u"-tq"_s, u"-P"_s, u"alpha"_s, alpha }), 0) << out.constData();
    EXPECT_EQ(run({ u"-P"_s, u"alpha"_s, u"-p"_s, alpha, u"code.zip"_s }), 0);
    EXPECT_EQ(out, inner);
    EXPECT_NE(run({ u"-P"_s, u"beta"_s, u"-p"_s, alpha, u"code.zip"_s }), 0);
    EXPECT_EQ(run({ u"-p"_s, alpha, u"readme.htm"_s }), 0);
    EXPECT_EQ(out, page);
}

// The task's AES-256 choice: "code.zip" stored under WinZip AES, the manifest
// still open; bsdtar takes the code archive out whole.
TEST_F(ArchiveBuilder, DeliveryArchiveWithAes)
{
    TProject &p = generic(u"Secret Tool"_s, { u"src/main.cpp"_s, u"src/util/u.h"_s });
    QString root;
    const QString codeZip = builder.BuildCodeZip(p, root);
    const QString manifest = builder.WriteReadMe(p, root, u"2.0.0"_s);
    progress.Clear();
    const QString delivery = builder.BuildDeliveryZip(manifest, u"gamma"_s, codeZip, TZipEncryption::Aes256);
    EXPECT_EQ(lines(), QStringList());

    ZipReader zip(delivery);
    ASSERT_TRUE(zip.isOpen());
    EXPECT_EQ(zip.names(), (QStringList { u"code.zip"_s, u"readme.htm"_s }));
    EXPECT_EQ(zip.entry(u"code.zip"_s)->compression, ZIP_CM_STORE);
    EXPECT_EQ(zip.entry(u"code.zip"_s)->encryption, ZIP_EM_AES_256);
    EXPECT_EQ(zip.entry(u"readme.htm"_s)->encryption, ZIP_EM_NONE);
    EXPECT_EQ(zip.read(u"readme.htm"_s), fileBytes(manifest));

    const QString dir = sandbox.path(u"extracted"_s);
    QDir().mkpath(dir);
    QByteArray out;
    ASSERT_EQ(bwtest::runProgram(u"/usr/bin/bsdtar"_s,
                                 { u"-x"_s, u"--passphrase"_s, u"gamma"_s, u"-C"_s, dir, u"-f"_s, delivery },
                                 &out),
              0)
        << out.constData();
    EXPECT_EQ(fileBytes(dir + u"/code.zip"_s), fileBytes(codeZip));
    EXPECT_EQ(fileBytes(dir + u"/readme.htm"_s), fileBytes(manifest));
}

TEST_F(ArchiveBuilder, DeliveryArchiveWithoutItsCodeIsAnError)
{
    const QString manifest = sandbox.writeFile(u"readme.htm"_s, "<p>page</p>");
    QString raised;
    try {
        builder.BuildDeliveryZip(manifest, u"pw"_s, RunTempDir() + u"code.zip"_s);
    } catch (const EZipError &e) {
        raised = e.Message();
    }
    EXPECT_EQ(raised, u"Missing file: "_s + RunTempDir() + u"code.zip"_s);
    EXPECT_EQ(lines(), QStringList());
    EXPECT_EQ(QDir(RunTempDir()).entryList(QDir::Files), QStringList());
}

// What the recipient gets is exactly what the project lists: no neighbour of
// a deleted file, no file lost to a twin that differs in case, in "\" or "/",
// and no name read as a password.
TEST_F(ArchiveBuilder, CodeZipHoldsExactlyTheListedFiles)
{
    const QString dir = sandbox.root() + u"/leak/"_s;
    file(u"leak/secrets.c"_s, "secret");
    file(u"leak/keys.c"_s, "keys");
    const int id = addProject(pkGeneric, u"Leak"_s);
    addEntry(id, dir + u"main.c"_s); // deleted after it was added
    addEntry(id, file(u"leak/README"_s, "upper"));
    addEntry(id, file(u"leak/readme"_s, "lower"));
    addEntry(id, file(u"leak/a"_s, "plain a"));
    addEntry(id, file(u"leak/a<b.c"_s, "angle"));
    addEntry(id, file(u"leak/x\\y.txt"_s, "backslash"));
    addEntry(id, file(u"leak/x/y.txt"_s, "slash"));
    addEntry(id, dir + u"*.h"_s); // a real wildcard entry matching nothing
    project = CreateProject(pkGeneric, id, u"Leak"_s, QString());
    project->Parse();
    EXPECT_EQ(project->FilePaths(),
              (QStringList { dir + u"main.c"_s, dir + u"README"_s, dir + u"readme"_s, dir + u"a"_s,
                             dir + u"a<b.c"_s, dir + u"x\\y.txt"_s, dir + u"x/y.txt"_s }));

    QString root;
    const QString codeZip = builder.BuildCodeZip(*project, root);
    EXPECT_EQ(root, dir);
    EXPECT_EQ(lines(),
              (QStringList { u"!  Missing file skipped: "_s + dir + u"main.c"_s, u"  Zipped 7 files"_s }));
    ZipReader zip(codeZip);
    EXPECT_EQ(zip.names(),
              (QStringList { u"README"_s, u"readme"_s, u"a"_s, u"a<b.c"_s, u"x_y.txt"_s, u"x/y.txt"_s }));
    EXPECT_EQ(zip.read(u"README"_s), QByteArray("upper"));
    EXPECT_EQ(zip.read(u"readme"_s), QByteArray("lower"));
    EXPECT_EQ(zip.read(u"a"_s), QByteArray("plain a"));
    EXPECT_EQ(zip.read(u"a<b.c"_s), QByteArray("angle"));
    EXPECT_EQ(zip.read(u"x_y.txt"_s), QByteArray("backslash"));
    EXPECT_EQ(zip.read(u"x/y.txt"_s), QByteArray("slash"));
    for (const auto &e : zip.entries())
        EXPECT_EQ(e.encryption, ZIP_EM_NONE) << e.name.toStdString();

    // Folders that differ only in case have no common folder below their parent.
    progress.Clear();
    TProject &twins = generic(u"Twins"_s, { u"c/Proj/a.pas"_s, u"c/proj/b.pas"_s });
    builder.BuildCodeZip(twins, root);
    EXPECT_EQ(root, sandbox.root() + u"/c/"_s);
    EXPECT_EQ(ZipReader(RunTempDir() + u"code.zip"_s).names(),
              (QStringList { u"Proj/a.pas"_s, u"proj/b.pas"_s }));

    // A file named "a<b" next to a folder "a" is just a file.
    progress.Clear();
    QDir().mkpath(sandbox.root() + u"/f/a"_s);
    TProject &angle = generic(u"Angle"_s, { u"f/a<b"_s, u"f/c.txt"_s });
    builder.BuildCodeZip(angle, root);
    EXPECT_EQ(lines(), QStringList { u"  Zipped 2 files"_s });
    EXPECT_EQ(ZipReader(RunTempDir() + u"code.zip"_s).names(), (QStringList { u"a<b"_s, u"c.txt"_s }));
}

// Linux names are bytes: one that is not valid UTF-8 goes into the archive
// with its bytes unchanged and without the UTF-8 flag, as Info-ZIP stores it;
// a UTF-8 name keeps the flag. Folders with such names are entered too.
TEST_F(ArchiveBuilder, NamesThatAreNotUtf8KeepTheirBytes)
{
    const QString dir = sandbox.root() + u"/enc"_s;
    file(u"enc/good.txt"_s, "good");
    file(u"enc/sub/ok.txt"_s, "ok");
    file(u"enc/\u00e9t\u00e9.txt"_s, "summer");
    const QByteArray base = QFile::encodeName(dir);
    ASSERT_EQ(::mkdir((base + "/d\xe9j\xe0").constData(), 0755), 0);
    for (const QByteArray &name :
         { QByteArray("bad\xff.txt"), QByteArray("sub/caf\xe9\x01.txt"), QByteArray("d\xe9j\xe0/in.txt") }) {
        const QByteArray raw = base + '/' + name;
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, name.constData(), size_t(name.size())), name.size());
        ::close(fd);
    }
    const int id = addProject(pkGeneric, u"Enc"_s);
    addEntry(id, dir + u"/*.txt -r"_s);
    project = CreateProject(pkGeneric, id, u"Enc"_s, QString());
    project->Parse();
    ASSERT_EQ(project->FileCount(), 6);
    // Never delivered: every file counts as changed, so each one's time was read.
    EXPECT_EQ(project->ChangedFiles(), 6);

    QString root;
    const QString codeZip = builder.BuildCodeZip(*project, root);
    EXPECT_EQ(root, dir + u"/"_s);
    EXPECT_EQ(lines(), QStringList { u"  Zipped 6 files"_s });

    const std::vector<ZipReader::RawEntry> raw = ZipReader::rawEntries(codeZip);
    const std::vector<std::pair<QByteArray, bool>> expected {
        { "bad\xff.txt", false },         { "d\xe9j\xe0/in.txt", false }, { "good.txt", false },
        { "sub/caf\xe9\x01.txt", false }, { "sub/ok.txt", false },        { "\xc3\xa9t\xc3\xa9.txt", true },
    };
    ASSERT_EQ(raw.size(), expected.size());
    ZipReader zip(codeZip);
    for (size_t i = 0; i < raw.size(); ++i) {
        EXPECT_EQ(raw[i].name, expected[i].first) << i;
        EXPECT_EQ(raw[i].localName, expected[i].first) << i;
        EXPECT_EQ((raw[i].flags & 0x0800) != 0, expected[i].second) << i;
        EXPECT_EQ(raw[i].localFlags & 0x0800, raw[i].flags & 0x0800) << i;
    }
    EXPECT_EQ(zip.readAt(0), QByteArray("bad\xff.txt"));
    EXPECT_EQ(zip.readAt(1), QByteArray("d\xe9j\xe0/in.txt"));
    EXPECT_EQ(zip.readAt(3), QByteArray("sub/caf\xe9\x01.txt"));
    EXPECT_EQ(zip.read(u"\u00e9t\u00e9.txt"_s), QByteArray("summer"));

    // The names and, for those that are not UTF-8, the flags are what
    // Info-ZIP's zip stores for the same files.
    const QString zipTool = u"/usr/bin/zip"_s;
    if (!QFileInfo::exists(zipTool))
        return;
    const QString infoZip = sandbox.root() + u"/info.zip"_s;
    bwtest::ChildProcess zipRun;
    zipRun.setWorkingDirectory(dir);
    const QString zipLog = sandbox.root() + u"/zip.log"_s;
    zipRun.start(zipTool, { u"-q"_s, u"-r"_s, u"-D"_s, infoZip, u"."_s }, zipLog);
    ASSERT_TRUE(zipRun.waitForFinished(30000));
    ASSERT_EQ(zipRun.exitCode(), 0) << fileBytes(zipLog).constData();
    std::vector<std::pair<QByteArray, bool>> ours;
    std::vector<std::pair<QByteArray, bool>> theirs;
    for (const ZipReader::RawEntry &e : raw)
        ours.push_back({ e.name, !HasRawFileNameBytes(DecodeFileName(e.name)) || (e.flags & 0x0800) != 0 });
    for (const ZipReader::RawEntry &e : ZipReader::rawEntries(infoZip))
        theirs.push_back({ e.name, !HasRawFileNameBytes(DecodeFileName(e.name)) || (e.flags & 0x0800) != 0 });
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours, theirs);
}

// Names legal on Linux that Windows extractors would read as a drive, a
// server share or the root: "\" and ":" become "_" in the entry names.
TEST_F(ArchiveBuilder, EntryNamesHoldNoDriveOrBackslash)
{
    TProject &p = generic(u"Win"_s,
                          { u"w/\\evil.txt"_s, u"w/C:\\x.txt"_s, u"w/\\\\srv\\share\\y.txt"_s,
                            u"w/sub/D:/z.txt"_s, u"w/..\\..\\up.txt"_s, u"w/plain.txt"_s });
    QString root;
    const QString codeZip = builder.BuildCodeZip(p, root);
    EXPECT_EQ(root, sandbox.root() + u"/w/"_s);
    EXPECT_EQ(lines(), QStringList { u"  Zipped 6 files"_s });
    ZipReader zip(codeZip);
    EXPECT_EQ(zip.names(),
              (QStringList { u"_evil.txt"_s, u"C__x.txt"_s, u"__srv_share_y.txt"_s, u"sub/D_/z.txt"_s,
                             u".._.._up.txt"_s, u"plain.txt"_s }));
    EXPECT_EQ(zip.read(u"C__x.txt"_s), QByteArray("text of w/C:\\x.txt"));
    EXPECT_EQ(zip.read(u"__srv_share_y.txt"_s), QByteArray("text of w/\\\\srv\\share\\y.txt"));
    for (const QString &name : zip.names()) {
        EXPECT_FALSE(name.contains(u'\\')) << name.toStdString();
        EXPECT_FALSE(name.contains(u':')) << name.toStdString();
        EXPECT_FALSE(name.startsWith(u'/')) << name.toStdString();
        EXPECT_FALSE(name.split(u'/').contains(u".."_s)) << name.toStdString();
    }
}

TEST(ArchiveNames, NamesClaimedTwiceAtOneDestinationAreNumbered)
{
    TArchiveNames names;
    EXPECT_EQ(names.Claim(u"1\n/out"_s, u"AcmeTool_20261209-120000.zip"_s),
              u"AcmeTool_20261209-120000.zip"_s);
    EXPECT_EQ(names.Claim(u"1\n/out"_s, u"AcmeTool_20261209-120000.zip"_s),
              u"AcmeTool_20261209-120000-2.zip"_s);
    // Another destination has names of its own.
    EXPECT_EQ(names.Claim(u"1\n/other"_s, u"AcmeTool_20261209-120000.zip"_s),
              u"AcmeTool_20261209-120000.zip"_s);
    // Case does not tell names apart.
    EXPECT_EQ(names.Claim(u"1\n/out"_s, u"ACMETOOL_20261209-120000.ZIP"_s),
              u"ACMETOOL_20261209-120000-3.ZIP"_s);
    // A name that a numbered one already took is numbered on.
    EXPECT_EQ(names.Claim(u"1\n/out"_s, u"AcmeTool_20261209-120000-2.zip"_s),
              u"AcmeTool_20261209-120000-2-2.zip"_s);
    EXPECT_EQ(names.Claim(u"2\nhost"_s, u"odd"_s), u"odd"_s);
    EXPECT_EQ(names.Claim(u"2\nhost"_s, u"odd"_s), u"odd-2"_s);
}

TEST(ArchiveNames, SafeFileNameFromTheTitle)
{
    const auto name = [](const QString &title, const QString &version = u"1.0"_s) {
        TProjectGeneric p(1, title, QString());
        return TArchiveBuilder::ArchiveName(p, version);
    };
    EXPECT_EQ(name(u"My Tool"_s, u"1.2.3"_s), u"MyTool_1.2.3.zip"_s);
    EXPECT_EQ(name(u"Bob's Tool: \"ä\""_s), u"Bob'sTool:\"ä\"_1.0.zip"_s);
    EXPECT_EQ(name(u"../../x"_s), u"_._.._x_1.0.zip"_s);
    // No hidden archives.
    EXPECT_EQ(name(u".NET Tools"_s), u"_NETTools_1.0.zip"_s);
    EXPECT_EQ(name(u" .x"_s), u"_x_1.0.zip"_s);
    EXPECT_EQ(name(u"a\u0000b\tc\r\nd\u007fe\u0085f"_s), u"a_b_c__d_e_f_1.0.zip"_s);
    EXPECT_EQ(name(QString()), u"_1.0.zip"_s);
    // At most 200 bytes, never cutting a character in half, the version kept.
    const QString longName = name(QString(100000, u'é'), u"20260101-120000"_s);
    EXPECT_LE(longName.toUtf8().size(), 200);
    EXPECT_GE(longName.toUtf8().size(), 199);
    EXPECT_TRUE(longName.endsWith(u"é_20260101-120000.zip"_s));
    EXPECT_EQ(QString::fromUtf8(longName.toUtf8()), longName);
    QString smileys;
    for (int i = 0; i < 60; ++i)
        smileys += u"\U0001F600"_s;
    const QString emoji = name(smileys, u"1"_s);
    EXPECT_LE(emoji.toUtf8().size(), 200);
    EXPECT_TRUE(emoji.endsWith(u"\U0001F600_1.zip"_s));
    for (const QString &n : { longName, emoji, name(u"../../x"_s) }) {
        EXPECT_FALSE(n.contains(u'/'));
        EXPECT_NE(n, u"."_s);
        EXPECT_NE(n, u".."_s);
    }
}

// The count's facts go along with the list: a file edited after the count
// goes in as it is on disk then, one deleted is skipped with its line.
TEST_F(ArchiveBuilder, FilesChangedAfterTheCountGoInAsTheyAreNow)
{
    const int id = addProject(pkGeneric, u"Tree"_s);
    for (int i = 0; i < 100; ++i)
        file(u"tree/d%1/f%2.pas"_s.arg(i / 10).arg(i % 10), QByteArray::number(i));
    addEntry(id, sandbox.root() + u"/tree/*.pas -r"_s);
    project = CreateProject(pkGeneric, id, u"Tree"_s, QString());
    project->Parse();
    ASSERT_EQ(project->FileCount(), 100);

    file(u"tree/d1/f2.pas"_s, "edited after the count");
    const QString gone = sandbox.root() + u"/tree/d3/f4.pas"_s;
    ASSERT_TRUE(QFile::remove(gone));
    QString root;
    const QString code = builder.BuildCodeZip(*project, root);
    EXPECT_EQ(root, sandbox.root() + u"/tree/"_s);
    EXPECT_EQ(lines(), (QStringList { u"!  Missing file skipped: "_s + gone, u"  Zipped 100 files"_s }));
    ZipReader reader(code);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.names().size(), 99);
    EXPECT_EQ(reader.names().first(), u"d0/f0.pas"_s);
    EXPECT_EQ(reader.read(u"d1/f2.pas"_s), QByteArray("edited after the count"));
    EXPECT_EQ(reader.entry(u"d1/f2.pas"_s)->size, 22u);
    EXPECT_EQ(reader.read(u"d9/f9.pas"_s), QByteArray("99"));
    EXPECT_FALSE(reader.entry(u"d3/f4.pas"_s).has_value());
}
