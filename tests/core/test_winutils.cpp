#include "core/exceptions.h"
#include "core/listfiles.h"
#include "core/runtempdir.h"
#include "core/textfiles.h"
#include "core/winutils.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<qint64> Times(const QList<TFileFacts> &facts)
{
    QList<qint64> times;
    for (const TFileFacts &f : facts)
        times.append(f.iModified);
    return times;
}

} // namespace

TEST(WinUtilsText, EscapeReplaceAndFriends)
{
    EXPECT_EQ(SQLEscape(u"O'Brien"_s), u"O''Brien"_s);
    EXPECT_EQ(SQLEscape(u"''"_s), u"''''"_s);
    EXPECT_EQ(SQLEscape(u"say \"hi\""_s), u"say \"hi\""_s);

    QString s = u"aaa"_s;
    ReplaceAll(s, u"a"_s, u"aa"_s);
    EXPECT_EQ(s, u"aaaaaa"_s);
    s = u"abcabc"_s;
    ReplaceAll(s, u"b"_s, QString());
    EXPECT_EQ(s, u"acac"_s);
    s = u"Abab"_s;
    ReplaceAll(s, u"ab"_s, u"x"_s); // case-sensitive
    EXPECT_EQ(s, u"Abx"_s);
    ReplaceAll(s, QString(), u"y"_s);
    EXPECT_EQ(s, u"Abx"_s);

    EXPECT_EQ(Plural(u"file"_s, 0), u"0 files"_s);
    EXPECT_EQ(Plural(u"file"_s, 1), u"1 file"_s);
    EXPECT_EQ(Plural(u"file"_s, 2), u"2 files"_s);
    EXPECT_EQ(Plural(u"file"_s, -1), u"-1 files"_s);
}

TEST(WinUtilsText, IsValidEmail)
{
    EXPECT_TRUE(IsValidEmail(u"a@b.c"_s));
    EXPECT_TRUE(IsValidEmail(u"@.c"_s)); // no rule on the local part or the domain's start
    EXPECT_TRUE(IsValidEmail(u"first last@b.c"_s));
    EXPECT_TRUE(IsValidEmail(u"j\u00e9r\u00f4me@b.c"_s));
    EXPECT_FALSE(IsValidEmail(u"a@b."_s));
    EXPECT_FALSE(IsValidEmail(u"a@b.c@d"_s));
    EXPECT_FALSE(IsValidEmail(u"a\\b@c.d"_s));
    EXPECT_FALSE(IsValidEmail(u"\"a\"@b.c"_s));
    EXPECT_FALSE(IsValidEmail(u"a@b.c\n"_s));
    EXPECT_FALSE(IsValidEmail(u"a\u0141@b.c"_s)); // above 255
    EXPECT_FALSE(IsValidEmail(u"ab.c"_s));
    EXPECT_FALSE(IsValidEmail(QString()));
}

TEST(WinUtilsPaths, JoinPath)
{
    EXPECT_EQ(JoinPath(u"C:\\dir"_s, u"file.zip"_s), u"C:\\dir\\file.zip"_s);
    EXPECT_EQ(JoinPath(u"C:\\dir\\"_s, u"\\file.zip"_s), u"C:\\dir\\file.zip"_s);
    EXPECT_EQ(JoinPath(u"http://host/path"_s, u"sub\\file.zip"_s), u"http://host/path/sub/file.zip"_s);
    EXPECT_EQ(JoinPath(u"C:\\dir"_s, u"sub/file.zip"_s), u"C:\\dir\\sub\\file.zip"_s);
    EXPECT_EQ(JoinPath(QString(), u"file.zip"_s), QString());
    EXPECT_EQ(JoinPath(u"  "_s, u"file.zip"_s), u"  "_s);
    EXPECT_EQ(JoinPath(u"/home/u"_s, QString()), u"/home/u"_s);
    EXPECT_EQ(JoinPath(u"/home/u"_s, u"a.txt"_s), u"/home/u/a.txt"_s);
    EXPECT_EQ(JoinPath(u"/home/u/"_s, u"/a.txt"_s), u"/home/u/a.txt"_s);
    EXPECT_EQ(JoinPath(u"/home/u/"_s, u"a.txt"_s), u"/home/u/a.txt"_s);
    EXPECT_EQ(JoinPath(u"dir"_s, u"file"_s), u"dir\\file"_s); // no "/" anywhere
}

TEST(WinUtilsPaths, AppDirAndSpecialFolders)
{
    bwtest::TestSandbox sandbox;
    const QString appDir = AppDir();
    EXPECT_TRUE(appDir.endsWith(u'/'));
    EXPECT_TRUE(QFileInfo::exists(appDir + u"test_winutils"_s));

    EXPECT_EQ(SpecialFolder(CSIDL_APPDATA), sandbox.root() + u"/data"_s);
    qputenv("XDG_DATA_HOME", QFile::encodeName(sandbox.root() + u"/other/"_s));
    EXPECT_EQ(SpecialFolder(CSIDL_APPDATA), sandbox.root() + u"/other"_s);
    EXPECT_FALSE(SpecialFolder(CSIDL_DESKTOP).endsWith(u'/'));
    EXPECT_TRUE(SpecialFolder(CSIDL_PERSONAL).startsWith(sandbox.root() + u"/home"_s));
    EXPECT_THROW(SpecialFolder(7), EOSError);

    EXPECT_FALSE(CurrentUserName().isEmpty());
    EXPECT_FALSE(CurrentComputerName().isEmpty());
    EXPECT_EQ(AppVersion().count(u'.'), 2);
}

TEST(WinUtilsTemp, PrivateFolderAndNames)
{
    bwtest::TestSandbox sandbox;
    const QString expected = sandbox.root() + u"/tmp/bundlewick-"_s + QString::number(getuid()) + u'/';
    EXPECT_EQ(TempDir(), expected);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(expected).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A folder others could enter is made private again.
    ::chmod(QFile::encodeName(expected).constData(), 0777);
    EXPECT_EQ(TempDir(), expected);
    ASSERT_EQ(::stat(QFile::encodeName(expected).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // TMPDIR is read on every call; a trailing "/" does not double.
    qputenv("TMPDIR", QFile::encodeName(sandbox.root() + u"/tmp2/"_s));
    QDir().mkpath(sandbox.root() + u"/tmp2"_s);
    EXPECT_EQ(TempDir(), sandbox.root() + u"/tmp2/bundlewick-"_s + QString::number(getuid()) + u'/');

    InitTempFiles();
    const QString name = TempFileName(u".zip"_s);
    EXPECT_TRUE(name.startsWith(TempDir()));
    const QString base = QFileInfo(name).fileName();
    EXPECT_EQ(base.size(), 17 + 4);
    EXPECT_TRUE(QRegularExpression(u"^\\d{6}_\\d{6}_\\d{3}\\.zip$"_s).match(base).hasMatch())
        << base.toStdString();
    const QString other = TempFileName(u".txt"_s);
    EXPECT_NE(other, name);

    SaveTextFile(u"x"_s, name); // the other one never existed
    DeleteTempFiles();
    EXPECT_FALSE(QFileInfo::exists(name));
    // The list is empty now: a file of that name made later stays.
    SaveTextFile(u"x"_s, name);
    DeleteTempFiles();
    EXPECT_TRUE(QFileInfo::exists(name));
}

TEST(WinUtilsTemp, RefusesUnsafeFolder)
{
    bwtest::TestSandbox sandbox;
    const QString dir = sandbox.root() + u"/tmp/bundlewick-"_s + QString::number(getuid());

    QDir().mkpath(sandbox.root() + u"/elsewhere"_s);
    ASSERT_TRUE(QFile::link(sandbox.root() + u"/elsewhere"_s, dir));
    try {
        TempDir();
        FAIL() << "a symlinked temporary folder was accepted";
    } catch (const EOSError &e) {
        EXPECT_TRUE(e.Message().contains(u"symbolic link"_s)) << e.what();
    }
    QFile::remove(dir);

    sandbox.writeFile(u"tmp/bundlewick-"_s + QString::number(getuid()), "plain file");
    EXPECT_THROW(TempDir(), EOSError);
    QFile::remove(dir);

    if (geteuid() == 0) {
        QDir().mkpath(dir);
        ASSERT_EQ(::chown(QFile::encodeName(dir).constData(), 65534, 65534), 0);
        ::chmod(QFile::encodeName(dir).constData(), 0777);
        EXPECT_THROW(TempDir(), EOSError);
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0777u); // a foreign folder is left alone
    }
}

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 07777;
}

// Forks a child that makes its own run folder, puts a file in it, writes the
// folder's path to *pPath and then does body (which must end the child).
pid_t childWithRunFolder(QString *pPath, const std::function<void(int)> &body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        const QByteArray dir = QFile::encodeName(RunTempDir());
        SaveTextFile(u"secret"_s, RunTempDir() + u"code.zip"_s);
        if (::write(fds[1], dir.constData(), size_t(dir.size())) < 0)
            _exit(2);
        body(fds[1]);
        _exit(0);
    }
    ::close(fds[1]);
    QByteArray path;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
        path.append(buf, n);
        if (path.endsWith('/'))
            break;
    }
    ::close(fds[0]);
    *pPath = QFile::decodeName(path);
    return pid;
}

} // namespace

TEST(WinUtilsTemp, EachRunWorksInItsOwnFolder)
{
    bwtest::TestSandbox sandbox;
    RemoveRunTempDir();
    const QString run = RunTempDir();
    EXPECT_TRUE(QRegularExpression(u"^"_s + QRegularExpression::escape(TempDir()) + u"run-[A-Za-z0-9]{6}/$"_s)
                    .match(run)
                    .hasMatch())
        << run.toStdString();
    EXPECT_EQ(modeOf(run), 0700u);
    EXPECT_EQ(RunTempDir(), run);
    InitTempFiles();
    const QString name = TempFileName(u".zip"_s);
    EXPECT_EQ(QFileInfo(name).path() + u'/', run);
    DeleteTempFiles();

    // Another process gets a folder of its own.
    QString other;
    const pid_t pid = childWithRunFolder(&other, [](int) {});
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_NE(other, run);
    EXPECT_TRUE(other.startsWith(TempDir()));

    SaveTextFile(u"x"_s, run + u"readme.htm"_s);
    QDir().mkpath(run + u"sub/deeper"_s);
    SaveTextFile(u"x"_s, run + u"sub/deeper/file"_s);
    // A link inside is removed, never what it points to.
    const QString outside = sandbox.writeFile(u"outside/keep.txt"_s, "keep");
    ASSERT_TRUE(QFile::link(sandbox.root() + u"/outside"_s, run + u"link"_s));
    RemoveRunTempDir();
    EXPECT_FALSE(QFileInfo::exists(run));
    EXPECT_TRUE(QFileInfo::exists(outside));

    // A folder removed behind our back, or a new TMPDIR, gives a new one.
    const QString again = RunTempDir();
    EXPECT_TRUE(QFileInfo(again).isDir());
    QDir(again).removeRecursively();
    const QString third = RunTempDir();
    EXPECT_NE(third, again);
    EXPECT_TRUE(QFileInfo(third).isDir());
    RemoveRunTempDir();
}

TEST(WinUtilsTemp, LeftoversOfEndedRunsAreRemoved)
{
    bwtest::TestSandbox sandbox;
    RemoveRunTempDir();

    // A run that died without cleaning up (a crash, SIGKILL).
    QString dead;
    pid_t pid = childWithRunFolder(&dead, [](int) { _exit(0); });
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(QFileInfo::exists(dead + u"code.zip"_s));

    // A run that is still going.
    int release[2];
    ASSERT_EQ(::pipe(release), 0);
    QString live;
    pid = childWithRunFolder(&live, [&release](int) {
        char c;
        ::close(release[1]);
        (void)::read(release[0], &c, 1);
        _exit(0);
    });
    ASSERT_GT(pid, 0);
    ::close(release[0]);

    // Not ours to judge: a plain file and a symlink named like run folders.
    sandbox.writeFile(u"tmp/bundlewick-"_s + QString::number(getuid()) + u"/run-file00"_s, "x");
    const QString target = sandbox.writeFile(u"victim/keep.txt"_s, "keep");
    ASSERT_TRUE(QFile::link(sandbox.root() + u"/victim"_s, TempDir() + u"run-link00"_s));

    const QString own = RunTempDir();
    EXPECT_EQ(RemoveStaleRunDirs(), 1);
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_TRUE(QFileInfo::exists(live + u"code.zip"_s));
    EXPECT_TRUE(QFileInfo::exists(own));
    EXPECT_TRUE(QFileInfo::exists(target));
    EXPECT_TRUE(QFileInfo::exists(TempDir() + u"run-file00"_s));

    ::close(release[1]); // the live run ends normally, without removing its folder
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(RemoveStaleRunDirs(), 1);
    EXPECT_FALSE(QFileInfo::exists(live));
    EXPECT_TRUE(QFileInfo::exists(own));
    RemoveRunTempDir();
}

TEST(WinUtilsTemp, RunFolderGoesWithATerminatingSignal)
{
    bwtest::TestSandbox sandbox;
    RemoveRunTempDir();
    for (const int sig : { SIGTERM, SIGINT }) {
        QString dir;
        const pid_t pid = childWithRunFolder(&dir, [sig](int) {
            InstallRunTempDirCleanup();
            ::raise(sig);
            _exit(3); // not reached
        });
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_FALSE(dir.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(dir)) << dir.toStdString();
    }
}

TEST(WinUtilsFiles, PrivateFoldersAndFiles)
{
    bwtest::TestSandbox sandbox;
    const mode_t oldMask = ::umask(022);
    const QString deep = sandbox.root() + u"/a/b/c"_s;
    MakePrivateDir(deep);
    EXPECT_EQ(modeOf(sandbox.root() + u"/a"_s), 0700u);
    EXPECT_EQ(modeOf(deep), 0700u);
    ::chmod(QFile::encodeName(deep).constData(), 0755);
    MakePrivateDir(deep);
    EXPECT_EQ(modeOf(deep), 0700u);
    const QString file = sandbox.writeFile(u"f"_s, "x");
    EXPECT_THROW(MakePrivateDir(file), EOSError);

    ::chmod(QFile::encodeName(file).constData(), 0644);
    EXPECT_TRUE(MakePrivateFile(file));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_TRUE(MakePrivateFile(sandbox.root() + u"/missing"_s));
    // Through a link nothing changes: neither the link nor its target.
    const QString target = sandbox.writeFile(u"target"_s, "x");
    ::chmod(QFile::encodeName(target).constData(), 0644);
    ASSERT_TRUE(QFile::link(target, sandbox.root() + u"/link"_s));
    EXPECT_FALSE(MakePrivateFile(sandbox.root() + u"/link"_s));
    EXPECT_EQ(modeOf(target), 0644u);

    const QString created = sandbox.root() + u"/new.sqlite"_s;
    CreatePrivateFile(created);
    EXPECT_EQ(modeOf(created), 0600u);
    EXPECT_EQ(QFileInfo(created).size(), 0);
    ::umask(oldMask);
}

TEST(WinUtilsFiles, LoadTextFileEncodings)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(LoadTextFile(sandbox.path(u"missing.txt"_s)), QString());
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"crlf.txt"_s, "a\r\nb\r\n")), u"a\r\nb"_s);
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"mixed.txt"_s, "a\nb\rc\r\n\r\n")), u"a\r\nb\r\nc\r\n"_s);
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"empty.txt"_s, "")), QString());
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"bom8.txt"_s, "\xEF\xBB\xBF\xC3\xA9t\xC3\xA9\n")),
              u"\u00e9t\u00e9"_s);
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"utf8.txt"_s, "\xE2\x82\xAC 5")), u"\u20ac 5"_s);
    EXPECT_EQ(
        LoadTextFile(sandbox.writeFile(u"le.txt"_s, QByteArray("\xFF\xFE\xE9\x00\r\x00\n\x00x\x00", 10))),
        u"\u00e9\r\nx"_s);
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"be.txt"_s, QByteArray("\xFE\xFF\x20\xAC\x00\n", 6))),
              u"\u20ac"_s);
    // Not valid UTF-8: Windows-1252, including the 0x80-0x9F range.
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"ansi.txt"_s, "caf\xE9 \x80 \x93q\x94 \x81")),
              u"caf\u00e9 \u20ac \u201cq\u201d \u0081"_s);
    // A UTF-8 sequence cut short at the end is not UTF-8 either.
    EXPECT_EQ(LoadTextFile(sandbox.writeFile(u"cut.txt"_s, "ab\xC3")), u"ab\u00c3"_s);
}

TEST(WinUtilsFiles, SaveTextFile)
{
    bwtest::TestSandbox sandbox;
    const QString file = sandbox.path(u"out.txt"_s);
    EXPECT_TRUE(SaveTextFile(u"a\nb\rc\r\nd"_s, file));
    EXPECT_EQ(readBytes(file), QByteArray("a\r\nb\r\nc\r\nd\r\n"));
    SaveTextFile(u"\u00e9\u20ac\r\n\r\n"_s, file);
    EXPECT_EQ(readBytes(file), QByteArray("\xC3\xA9\xE2\x82\xAC\r\n\r\n")); // UTF-8, no BOM
    SaveTextFile(QString(), file);
    EXPECT_EQ(readBytes(file), QByteArray());
    SaveTextFile(u"x\ny"_s, file);
    EXPECT_EQ(LoadTextFile(file), u"x\r\ny"_s);

    const QString bad = sandbox.root() + u"/no/such/folder/out.txt"_s;
    try {
        SaveTextFile(u"x"_s, bad);
        FAIL() << "writing into a missing folder succeeded";
    } catch (const EOSError &e) {
        EXPECT_TRUE(e.Message().contains(bad)) << e.what();
        EXPECT_TRUE(e.Message().contains(u"No such file or directory"_s)) << e.what();
    }
}

class ListFilesTest : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString root;

    void SetUp() override
    {
        root = sandbox.root() + u"/src"_s;
        for (const char *name :
             { "src/b.pas", "src/A.pas", "src/c.dfm", "src/noext", "src/x.pa", "src/.hidden.pas",
               "src/Sub/d.pas", "src/sub2/e.PAS", "src/sub2/deep/f.pas", "src/bin/g.pas", "src/obj/h.pas",
               "src/cabin/i.pas", "src/trail./j.pas", "src/dot." })
            sandbox.writeFile(QString::fromLatin1(name), "x");
    }

    QStringList list(const QString &dir, const QString &mask, const QString &exclude, bool recursive,
                     bool fullPath = false)
    {
        QStringList out { u"stale"_s };
        ListFiles(dir, mask, out, exclude, recursive, fullPath);
        return out;
    }
};

TEST_F(ListFilesTest, MaskExclusionsRecursionOrder)
{
    // The extension only has to occur in the mask: ".pa" and "." are inside "*.pas".
    EXPECT_EQ(list(root, u"*.pas"_s, u"bin;obj"_s, false),
              (QStringList { u".hidden.pas"_s, u"A.pas"_s, u"b.pas"_s, u"dot."_s, u"x.pa"_s }));
    EXPECT_EQ(list(root, u"*.pas"_s, u"bin;obj"_s, true),
              (QStringList { u".hidden.pas"_s, u"A.pas"_s, u"b.pas"_s, u"dot."_s, u"d.pas"_s, u"f.pas"_s,
                             u"e.PAS"_s, u"j.pas"_s, u"x.pa"_s }));
    EXPECT_EQ(list(root, u"*.pas;*.DFM"_s, QString(), false),
              (QStringList { u".hidden.pas"_s, u"A.pas"_s, u"b.pas"_s, u"c.dfm"_s, u"dot."_s, u"x.pa"_s }));
    EXPECT_EQ(list(root, u"*"_s, u"bin; OBJ ;cabin;sub;sub2;trail."_s, true),
              (QStringList { u".hidden.pas"_s, u"A.pas"_s, u"b.pas"_s, u"c.dfm"_s, u"dot."_s, u"noext"_s,
                             u"x.pa"_s }));
    EXPECT_EQ(list(root, u"*.*"_s, QString(), false), (QStringList { u"dot."_s }));
    // A trailing ";" adds an empty entry, which excludes every subfolder.
    EXPECT_EQ(list(root + u"/sub2/"_s, u"*.pas"_s, u"bin;"_s, true, true),
              (QStringList { root + u"/sub2/e.PAS"_s }));
    EXPECT_EQ(list(root + u"/Sub"_s, u"*.pas"_s, QString(), false, true),
              (QStringList { root + u"/Sub/d.pas"_s }));
    EXPECT_EQ(list(root + u"/missing"_s, u"*"_s, QString(), true), QStringList());
}

// Like find: links to folders are not entered, so a link graph cannot make
// the walk endless; links to files are collected.
TEST_F(ListFilesTest, SymlinkedFoldersAreNotEntered)
{
    ASSERT_TRUE(QFile::link(root, root + u"/sub2/deep/back"_s)); // loop to an ancestor
    ASSERT_TRUE(QFile::link(root + u"/Sub"_s, root + u"/sub2/linked"_s)); // a sibling
    ASSERT_TRUE(QFile::link(root + u"/gone"_s, root + u"/sub2/dangling"_s)); // skipped
    ASSERT_TRUE(QFile::link(root + u"/A.pas"_s, root + u"/sub2/alias.pas"_s));
    EXPECT_EQ(
        list(root + u"/sub2"_s, u"*.pas"_s, QString(), true, true),
        (QStringList { root + u"/sub2/alias.pas"_s, root + u"/sub2/deep/f.pas"_s, root + u"/sub2/e.PAS"_s }));
    // The folder asked for may itself be a link.
    ASSERT_TRUE(QFile::link(root + u"/sub2"_s, sandbox.root() + u"/via"_s));
    EXPECT_EQ(list(sandbox.root() + u"/via"_s, u"*.pas"_s, QString(), true),
              (QStringList { u"alias.pas"_s, u"f.pas"_s, u"e.PAS"_s }));

    // Thirty levels of two links each to the level above: ends at once.
    const QString graph = sandbox.root() + u"/graph"_s;
    QString level = graph;
    ASSERT_TRUE(QDir().mkpath(level));
    for (int i = 0; i < 30; ++i) {
        const QString next = level + u"/d"_s;
        ASSERT_TRUE(QDir().mkpath(next));
        ASSERT_TRUE(QFile::link(level, next + u"/l1"_s));
        ASSERT_TRUE(QFile::link(level, next + u"/l2"_s));
        sandbox.writeFile(next.mid(sandbox.root().size() + 1) + u"/f.c"_s, "x");
        level = next;
    }
    EXPECT_EQ(list(graph, u"*.c"_s, QString(), true).size(), 30);
}

// Names that are not valid UTF-8 are listed like any other, their bytes
// kept in the path (DecodeFileName), so that the path still reaches the file.
TEST_F(ListFilesTest, NamesThatAreNotUtf8AreListed)
{
    const QByteArray dir = QFile::encodeName(root + u"/sub2"_s);
    ASSERT_EQ(::mkdir((dir + "/dir\x80").constData(), 0755), 0);
    for (const QByteArray &name : { QByteArray("/bad\xff.pas"), QByteArray("/odd\xc3(\\.pas"),
                                    QByteArray("/dir\x80/in.pas"), QByteArray("/skip\xfe.txt") }) {
        const int fd = ::open((dir + name).constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    const timespec when[2] = { { 1500000000, 0 }, { 1500000000, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "/bad\xff.pas").constData(), when, 0), 0);

    QStringList out;
    ListFiles(root + u"/sub2"_s, u"*.pas"_s, out, QString(), true, false);
    const QString bad = u"bad"_s + QChar(0xDCFF) + u".pas"_s;
    const QString odd = u"odd"_s + QChar(0xDCC3) + u"(\\.pas"_s;
    EXPECT_EQ(out, (QStringList { bad, u"f.pas"_s, u"in.pas"_s, u"e.PAS"_s, odd }));

    QList<TFileFacts> facts;
    ListFiles(root + u"/sub2"_s, u"*.pas"_s, out, u"deep"_s, true, true, &facts);
    const QString sub = root + u"/sub2/"_s;
    const QString in = sub + u"dir"_s + QChar(0xDC80) + u"/in.pas"_s;
    ASSERT_EQ(out, (QStringList { sub + bad, in, sub + u"e.PAS"_s, sub + odd }));
    EXPECT_EQ(facts.first().iModified, 1500000000000);
    EXPECT_EQ(FileModifiedMSecs(sub + bad), 1500000000000);
    EXPECT_EQ(EncodeFileName(in), dir + "/dir\x80/in.pas");
    EXPECT_EQ(ReadableFileName(in), sub + u"dir\\x80/in.pas"_s);
    EXPECT_EQ(ReadableFileName(odd), u"odd\\xC3(\\.pas"_s);
}

// Any bytes make the trip through a QString and back unchanged; valid UTF-8
// decodes as usual and is never taken for an escaped byte.
TEST(WinUtilsFileNames, DecodeAndEncodeKeepEveryByte)
{
    const QByteArray samples[] = {
        "plain.txt",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
        "latin1 caf\xe9",
        "\xff\xfe\x80\xbf",
        "\xc0\xaf overlong slash",
        "\xed\xa0\x80 encoded surrogate",
        "\xf4\x90\x80\x80 beyond U+10FFFF",
        "cut at the end \xe2\x82",
        "\xf0\x90\x82\x80\x80 pair then a stray byte",
        QByteArray("nul\0inside", 10),
        "",
    };
    for (const QByteArray &raw : samples) {
        const QString name = DecodeFileName(raw);
        EXPECT_EQ(EncodeFileName(name), raw) << raw.toHex().constData();
        EXPECT_EQ(HasRawFileNameBytes(name), QString::fromUtf8(raw).toUtf8() != raw)
            << raw.toHex().constData();
    }
    EXPECT_EQ(DecodeFileName("caf\xc3\xa9"), u"caf\u00e9"_s);
    EXPECT_EQ(DecodeFileName("caf\xe9"), u"caf"_s + QChar(0xDCE9));
    EXPECT_EQ(DecodeFileName("\xf0\x90\x82\x80\x80"), u"\U00010080"_s + QChar(0xDC80));
    EXPECT_EQ(ReadableFileName(DecodeFileName("a\xff\\b\xc3\xa9")), u"a\\xFF\\b\u00e9"_s);
    EXPECT_EQ(ReadableFileName(u"\U00010080"_s), u"\U00010080"_s);
    EXPECT_FALSE(HasRawFileNameBytes(u"\U00010080"_s));
    // Other lone surrogates are no name's bytes.
    EXPECT_FALSE(HasRawFileNameBytes(QString(QChar(0xDC10))));
}

// Change counting reads the times while listing: one per listed file, in
// step with the names, a link giving its target's time.
// A delivery zips by what the listing learned: each file's size and mode
// come with its time, a link giving its target's.
TEST_F(ListFilesTest, SizesAndModesInStepWithTheNames)
{
    const QString dir = sandbox.path(u"facts"_s);
    sandbox.writeFile(u"facts/a.pas"_s, "abc");
    sandbox.writeFile(u"facts/b.pas"_s, QByteArray(70000, 'b'));
    sandbox.writeFile(u"facts/empty.pas"_s, QByteArray());
    ASSERT_EQ(::chmod(QFile::encodeName(dir + u"/a.pas"_s).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(dir + u"/b.pas"_s, dir + u"/c.pas"_s));

    QStringList out;
    QList<TFileFacts> facts;
    ListFiles(dir, u"*.pas"_s, out, QString(), false, false, &facts);
    ASSERT_EQ(out, (QStringList { u"a.pas"_s, u"b.pas"_s, u"c.pas"_s, u"empty.pas"_s }));
    ASSERT_EQ(facts.size(), 4);
    EXPECT_EQ(facts[0].iSize, 3);
    EXPECT_EQ(facts[0].iMode, quint32(S_IFREG | 0640));
    EXPECT_EQ(facts[1].iSize, 70000);
    EXPECT_EQ(facts[2].iSize, 70000);
    EXPECT_TRUE(S_ISREG(facts[2].iMode));
    EXPECT_EQ(facts[3].iSize, 0);
    EXPECT_TRUE(facts[3].Known());

    EXPECT_EQ(FileFacts(dir + u"/a.pas"_s).iSize, 3);
    EXPECT_FALSE(FileFacts(dir + u"/gone.pas"_s).Known());
    EXPECT_FALSE(FileFacts(dir).Known());
}

TEST_F(ListFilesTest, ModificationTimesInStepWithTheNames)
{
    const auto setTime = [](const QString &path, const QDateTime &when) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    };
    setTime(root + u"/sub2/e.PAS"_s, QDateTime(QDate(2021, 5, 6), QTime(7, 8, 9, 500), Qt::UTC));
    setTime(root + u"/sub2/deep/f.pas"_s, QDateTime(QDate(2019, 12, 31), QTime(23, 59, 59), Qt::UTC));
    ASSERT_TRUE(QFile::link(root + u"/sub2/e.PAS"_s, root + u"/sub2/alias.pas"_s));
    sandbox.writeFile(u"src/sub2/skip.txt"_s, "not listed");

    QStringList out;
    QList<TFileFacts> facts { {} };
    ListFiles(root + u"/sub2"_s, u"*.pas"_s, out, QString(), true, true, &facts);
    EXPECT_EQ(
        out,
        (QStringList { root + u"/sub2/alias.pas"_s, root + u"/sub2/deep/f.pas"_s, root + u"/sub2/e.PAS"_s }));
    EXPECT_EQ(Times(facts), (QList<qint64> { 1620284889500, 1577836799000, 1620284889500 }));
    EXPECT_EQ(FileModifiedMSecs(root + u"/sub2/e.PAS"_s), 1620284889500);
    EXPECT_EQ(FileModifiedMSecs(root + u"/sub2/gone.pas"_s), kNoFileTime);
    EXPECT_EQ(FileModifiedMSecs(root + u"/sub2"_s), kNoFileTime);
}

// Subfolders are listed side by side on worker threads; the result must be
// the same list and times as one walk in order, every time.
TEST_F(ListFilesTest, SideBySideWalkKeepsTheOrder)
{
    const QString wide = sandbox.root() + u"/wide"_s;
    int second = 0;
    const auto add = [&](const QString &name) {
        sandbox.writeFile(u"wide/"_s + name, "x");
        QFile f(wide + u'/' + name);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime::fromSecsSinceEpoch(1600000000 + ++second, Qt::UTC),
                                  QFileDevice::FileModificationTime));
    };
    for (const char *name :
         { "m.pas", "A.pas", "z.pas", "Beta/one.pas", "Beta/deep/two.pas", "beta2/three.pas", "c/four.pas",
           "c/x/y/five.pas", "d/six.pas", "e/Seven.pas", "e/f/eight.pas" })
        add(QString::fromLatin1(name));
    // Names that are not UTF-8 keep their places.
    for (const auto &[name, secs] : { std::pair { QByteArray("/c/bad\xff.pas"), 1600000100 },
                                      std::pair { QByteArray("/e/f/odd\xfe.pas"), 1600000200 } }) {
        const QByteArray raw = QFile::encodeName(wide) + name;
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
        const timespec when[2] = { { secs, 0 }, { secs, 0 } };
        ASSERT_EQ(::utimensat(AT_FDCWD, raw.constData(), when, 0), 0);
    }
    const QString bad = wide + u"/c/bad"_s + QChar(0xDCFF) + u".pas"_s;
    const QString odd = wide + u"/e/f/odd"_s + QChar(0xDCFE) + u".pas"_s;
    const QStringList expected { wide + u"/A.pas"_s,
                                 wide + u"/Beta/deep/two.pas"_s,
                                 wide + u"/Beta/one.pas"_s,
                                 wide + u"/beta2/three.pas"_s,
                                 bad,
                                 wide + u"/c/four.pas"_s,
                                 wide + u"/c/x/y/five.pas"_s,
                                 wide + u"/d/six.pas"_s,
                                 wide + u"/e/f/eight.pas"_s,
                                 odd,
                                 wide + u"/e/Seven.pas"_s,
                                 wide + u"/m.pas"_s,
                                 wide + u"/z.pas"_s };
    const QList<qint64> expectedTimes { 1600000002000, 1600000005000, 1600000004000, 1600000006000,
                                        1600000100000, 1600000007000, 1600000008000, 1600000009000,
                                        1600000011000, 1600000200000, 1600000010000, 1600000001000,
                                        1600000003000 };
    for (int round = 0; round < 20; ++round) {
        QStringList out;
        QList<TFileFacts> facts;
        ListFiles(wide, u"*.pas"_s, out, u"skipped"_s, true, true, &facts);
        ASSERT_EQ(out, expected) << "round " << round;
        ASSERT_EQ(Times(facts), expectedTimes) << "round " << round;
    }
    // An excluded folder is left out of the side-by-side walk too.
    QStringList out;
    ListFiles(wide, u"*.pas"_s, out, u"c;e"_s, true, false);
    EXPECT_EQ(out,
              (QStringList { u"A.pas"_s, u"two.pas"_s, u"one.pas"_s, u"three.pas"_s, u"six.pas"_s, u"m.pas"_s,
                             u"z.pas"_s }));
}

TEST_F(ListFilesTest, UnreadableFolderIsSkipped)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    ::chmod(QFile::encodeName(root + u"/sub2"_s).constData(), 0);
    const QStringList files = list(root, u"*.pas"_s, QString(), true);
    ::chmod(QFile::encodeName(root + u"/sub2"_s).constData(), 0755);
    EXPECT_FALSE(files.contains(u"e.PAS"_s));
    EXPECT_TRUE(files.contains(u"d.pas"_s));
}

TEST(WinUtilsShell, ErrorTexts)
{
    EXPECT_EQ(ShellErrorText(2), u"The specified file was not found."_s);
    EXPECT_EQ(ShellErrorText(31), u"There is no application associated with the given filename extension."_s);
    EXPECT_EQ(ShellErrorText(1), u"An unknown exception occurred. Code=1"_s);
    EXPECT_EQ(ShellErrorText(42), u"An unknown exception occurred. Code=42"_s);
}
