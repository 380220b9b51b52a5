#include "app/commandline.h"
#include "app/startup.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "support/servers.h"
#include "support/testenv.h"
#include "support/zipreader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using bwtest::ZipReader;

namespace {

struct TOutput
{
    int iExit = -1;
    QString sOut;
    QString sErr;
};

class CommandLine : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;

    QString dataDir() const { return sandbox.root() + u"/data/bundlewick/"_s; }

    TOutput run(const QStringList &args)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("BW_BINARY_DIR") + u"/src/app/bundlewick"_s, args);
        TOutput out;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return out;
        }
        out.iExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        out.sOut = QString::fromUtf8(process.readAllStandardOutput());
        out.sErr = QString::fromUtf8(process.readAllStandardError());
        return out;
    }
    std::unique_ptr<TSQLiteDatabase> openDB()
    {
        auto db = std::make_unique<TSQLiteDatabase>(dataDir() + u"bundlewick.sqlite"_s);
        db->SetTimeout(5000);
        return db;
    }
};

int addProject(TSQLiteDatabase &db, const QString &sTitle, const QString &sSendDate)
{
    db.ExecSQLFmt(u"INSERT INTO projects (type, title, filename, senddate, modified) "
                  "VALUES (0, '%s', '', %s, DATETIME('NOW'))"_s,
                  { sTitle, sSendDate });
    return int(db.LastInsertRowID());
}

void addEntry(TSQLiteDatabase &db, int iProject, const QString &sEntry)
{
    db.ExecSQLFmt(u"INSERT INTO files (id_projects, filename, modified) VALUES (%d, '%s', DATETIME('NOW'))"_s,
                  { iProject, sEntry });
}

int addTask(TSQLiteDatabase &db, int iProject, int iKind, const QString &sPassword,
            const QList<std::pair<QString, QString>> &params)
{
    db.ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword, modified) "
                  "VALUES (%d, %d, '%s', DATETIME('NOW'))"_s,
                  { iProject, iKind, sPassword });
    const int id = int(db.LastInsertRowID());
    for (const auto &[sName, sValue] : params)
        db.ExecSQLFmt(u"INSERT INTO sendparams (id_send, name, value, modified) "
                      "VALUES (%d, '%s', '%s', DATETIME('NOW'))"_s,
                      { id, sName, sValue });
    return id;
}

// The entry names of the code archive inside a delivery archive, sorted.
QStringList codeEntries(const ZipReader &delivery, const QString &sPassword)
{
    const auto code = delivery.read(u"code.zip"_s, sPassword);
    if (!code)
        return { u"<unreadable>"_s };
    QTemporaryFile file;
    if (!file.open())
        return {};
    file.write(*code);
    file.close();
    QStringList names = ZipReader(file.fileName()).names();
    names.sort();
    return names;
}

} // namespace

TEST_F(CommandLine, ListAndDeliver)
{
    // The first command creates the data folder and the database.
    TOutput out = run({ u"list"_s });
    ASSERT_EQ(out.iExit, 0) << out.sErr.toStdString();
    EXPECT_EQ(out.sOut, QString());

    const QString src = sandbox.root() + u"/src"_s;
    for (const QString &name : { u"a.pas"_s, u"b.pas"_s, u"sub/c.pas"_s, u"skip/d.pas"_s, u"notes.txt"_s })
        sandbox.writeFile(u"src/"_s + name, "unit of " + name.toUtf8());
    sandbox.writeFile(u"old/old.txt"_s, "old");
    QDir().mkpath(sandbox.root() + u"/out"_s);
    bwtest::FtpServer ftp(u"bob"_s, u"ftp-pw"_s, sandbox.root() + u"/ftp"_s);
    QDir().mkpath(sandbox.root() + u"/ftp/upload"_s);
    int iDemo = 0;
    {
        auto db = openDB();
        iDemo = addProject(*db, u"Demo Tool"_s, u"NULL"_s);
        addEntry(*db, iDemo, src + u"/*.pas -r -e \"skip\""_s);
        addEntry(*db, iDemo, src + u"/notes.txt"_s);
        addTask(*db, iDemo, 1, u"pw1"_s, { { u"FileFolder"_s, sandbox.root() + u"/out"_s } });
        addTask(*db, iDemo, 2, QString(),
                { { u"FTPHost"_s, ftp.host() },
                  { u"FTPLogin"_s, u"bob"_s },
                  { u"FTPPassword"_s, u"ftp-pw"_s },
                  { u"FTPDirectory"_s, u"upload"_s } });
        // Delivered in the year 2173: nothing has changed since.
        const int iOld = addProject(*db, u"archive only"_s, u"99999"_s);
        addEntry(*db, iOld, sandbox.root() + u"/old/old.txt"_s);
        addTask(*db, iOld, 1, QString(), { { u"FileFolder"_s, sandbox.root() + u"/out"_s } });
        const int iLonely = addProject(*db, u"Lonely"_s, u"NULL"_s);
        addEntry(*db, iLonely, sandbox.root() + u"/old/old.txt"_s);
    }

    out = run({ u"list"_s });
    EXPECT_EQ(out.iExit, 0);
    EXPECT_EQ(out.sOut,
              u"archive only\t1 file\t0 changes\t1 send task\n"
              "Demo Tool\t4 files\t4 changes\t2 send tasks\n"
              "Lonely\t1 file\t1 change\t0 send tasks\n"_s);

    // Without titles: only the project with tasks and changes.
    out = run({ u"deliver"_s });
    EXPECT_EQ(out.iExit, 0) << out.sErr.toStdString();
    const QStringList delivered = QDir(sandbox.root() + u"/out"_s).entryList(QDir::Files);
    ASSERT_EQ(delivered.size(), 1) << out.sOut.toStdString();
    const QString sName = delivered[0];
    EXPECT_TRUE(QRegularExpression(u"^DemoTool_\\d{8}-\\d{6}\\.zip$"_s).match(sName).hasMatch());
    EXPECT_EQ(out.sOut,
              u"Demo Tool\n  Zipped 4 files\n  Output saved to "_s + sName + u"\n  Sent via FTP to "_s
                  + ftp.host() + u"\n  Success\n \nGeneration complete.\n"_s);

    const ZipReader copied(sandbox.root() + u"/out/"_s + sName);
    EXPECT_EQ(copied.names(), QStringList({ u"code.zip"_s, u"readme.htm"_s }));
    EXPECT_EQ(copied.entry(u"code.zip"_s)->encryption, ZIP_EM_TRAD_PKWARE);
    EXPECT_EQ(codeEntries(copied, u"pw1"_s),
              QStringList({ u"a.pas"_s, u"b.pas"_s, u"notes.txt"_s, u"sub/c.pas"_s }));
    const ZipReader uploaded(sandbox.root() + u"/ftp/upload/"_s + sName);
    EXPECT_EQ(uploaded.entry(u"code.zip"_s)->encryption, ZIP_EM_NONE);
    EXPECT_EQ(codeEntries(uploaded, QString()), codeEntries(copied, u"pw1"_s));
    {
        auto db = openDB();
        auto rows = db->GetTable(u"SELECT success, source, files, method, filename, destination FROM log "
                                 "ORDER BY id"_s);
        QStringList log;
        for (; !rows->Eof(); rows->Next())
            log << u"%1 %2 %3 %4 %5 %6"_s.arg(rows->FieldAsString(0), rows->FieldAsString(1),
                                              rows->FieldAsString(2), rows->FieldAsString(3),
                                              rows->FieldAsString(4), rows->FieldAsString(5));
        EXPECT_EQ(log,
                  QStringList({ u"1 1 4 1 "_s + sName + u" "_s + sandbox.root() + u"/out"_s,
                                u"1 1 4 2 "_s + sName + u" "_s + ftp.host() }));
        EXPECT_GT(db->QueryDoubleFmt(u"SELECT senddate FROM projects WHERE id = %d"_s, { iDemo }), 40000.0);
    }

    // Delivered now: nothing left to deliver.
    out = run({ u"deliver"_s });
    EXPECT_EQ(out.iExit, 0);
    EXPECT_EQ(out.sOut, QString());
    EXPECT_EQ(out.sErr, u"bundlewick: nothing to deliver\n"_s);

    // A named project without tasks stops the run.
    out = run({ u"deliver"_s, u"lonely"_s });
    EXPECT_EQ(out.iExit, 1);
    EXPECT_EQ(out.sOut, u"Lonely\n!  This project has no send methods\r\n\nGeneration complete.\n"_s);
}

TEST_F(CommandLine, UsageErrorsAndTheLock)
{
    // While another instance holds the lock, nothing is opened.
    QDir().mkpath(dataDir());
    {
        TSingleInstance other(dataDir() + u"bundlewick.lock"_s);
        ASSERT_TRUE(other.IsFirst());
        const TOutput out = run({ u"list"_s });
        EXPECT_EQ(out.iExit, 3);
        EXPECT_TRUE(out.sErr.contains(u"already running"_s));
        EXPECT_FALSE(QFile::exists(dataDir() + u"bundlewick.sqlite"_s));
    }

    TOutput out = run({ u"deliver"_s, u"No such project"_s });
    EXPECT_EQ(out.iExit, 2);
    EXPECT_TRUE(out.sErr.startsWith(u"bundlewick: no project titled 'No such project'\n"_s));
    EXPECT_EQ(run({ u"deliver"_s, u"--all"_s, u"X"_s }).iExit, 2);
    EXPECT_EQ(run({ u"deliver"_s, u"--fast"_s }).iExit, 2);
    EXPECT_EQ(run({ u"frobnicate"_s }).iExit, 2);
    EXPECT_EQ(run({ u"list"_s, u"extra"_s }).iExit, 2);

    out = run({ u"--version"_s });
    EXPECT_EQ(out.iExit, 0);
    EXPECT_TRUE(out.sOut.startsWith(u"Bundlewick "_s));
    out = run({ u"--help"_s });
    EXPECT_EQ(out.iExit, 0);
    EXPECT_TRUE(out.sOut.contains(u"Exit status"_s));
    // After "--" an option is a title.
    out = run({ u"deliver"_s, u"--"_s, u"--help"_s });
    EXPECT_EQ(out.iExit, 2);
    EXPECT_TRUE(out.sErr.startsWith(u"bundlewick: no project titled '--help'\n"_s)) << out.sErr.toStdString();
    EXPECT_EQ(run({ u"deliver"_s, u"--"_s, u"--version"_s }).iExit, 2);
}

namespace {

QString runFolderBase()
{
    return qEnvironmentVariable("TMPDIR") + u"/bundlewick-"_s + QString::number(getuid()) + u'/';
}

QStringList runFolders()
{
    return QDir(runFolderBase()).entryList({ u"run-*"_s }, QDir::Dirs | QDir::NoDotAndDotDot);
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 07777;
}

} // namespace

// A data folder where the lock file cannot be made is no second instance.
TEST_F(CommandLine, UnusableDataFolderIsNotAnotherInstance)
{
    sandbox.writeFile(u"data/bundlewick"_s, "a file where the folder should be");
    const TOutput out = run({ u"list"_s });
    EXPECT_EQ(out.iExit, 1);
    EXPECT_TRUE(out.sErr.startsWith(u"bundlewick: Cannot create the lock file \""_s))
        << out.sErr.toStdString();
    EXPECT_FALSE(out.sErr.contains(u"already running"_s));
}

// Files holding passwords are the user's alone, and a run leaves no working
// files behind, nor does it let those of killed runs linger.
TEST_F(CommandLine, PrivateFilesAndNoLeftovers)
{
    const mode_t oldMask = ::umask(022);
    // A run that was killed: its folder still holds the unencrypted code archive.
    QDir().mkpath(runFolderBase() + u"run-Killed"_s);
    ::chmod(QFile::encodeName(runFolderBase()).constData(), 0700);
    sandbox.writeFile(runFolderBase().mid(sandbox.root().size() + 1) + u"run-Killed/code.zip"_s, "PK");

    TOutput out = run({ u"list"_s });
    ASSERT_EQ(out.iExit, 0) << out.sErr.toStdString();
    EXPECT_EQ(runFolders(), QStringList());
    EXPECT_EQ(modeOf(dataDir()), 0700u);
    EXPECT_EQ(modeOf(dataDir() + u"bundlewick.sqlite"_s), 0600u);
    const QString configDir = sandbox.root() + u"/config/bundlewick/"_s;
    EXPECT_EQ(modeOf(configDir), 0700u);
    for (const QString &file : QDir(configDir).entryList(QDir::Files))
        EXPECT_EQ(modeOf(configDir + file), 0600u) << file.toStdString();
    for (const QString &file : QDir(dataDir()).entryList(QDir::Files))
        EXPECT_EQ(modeOf(dataDir() + file), 0600u) << file.toStdString();

    // Loosened by hand (or by an older version): tightened again.
    ::chmod(QFile::encodeName(dataDir()).constData(), 0755);
    ::chmod(QFile::encodeName(dataDir() + u"bundlewick.sqlite"_s).constData(), 0644);
    {
        sandbox.writeFile(u"src/a.txt"_s, "a");
        QDir().mkpath(sandbox.root() + u"/out"_s);
        auto db = openDB();
        const int id = addProject(*db, u"Tool"_s, u"NULL"_s);
        addEntry(*db, id, sandbox.root() + u"/src/a.txt"_s);
        addTask(*db, id, 1, u"pw"_s, { { u"FileFolder"_s, sandbox.root() + u"/out"_s } });
    }
    out = run({ u"deliver"_s });
    EXPECT_EQ(out.iExit, 0) << out.sOut.toStdString() << out.sErr.toStdString();
    EXPECT_EQ(modeOf(dataDir()), 0700u);
    EXPECT_EQ(modeOf(dataDir() + u"bundlewick.sqlite"_s), 0600u);
    EXPECT_EQ(runFolders(), QStringList());
    EXPECT_EQ(QDir(runFolderBase()).entryList(QDir::Files), QStringList());
    // The delivered copy is the recipient's: it keeps the usual mode.
    const QStringList delivered = QDir(sandbox.root() + u"/out"_s).entryList(QDir::Files);
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(modeOf(sandbox.root() + u"/out/"_s + delivered[0]), 0644u);
    ::umask(oldMask);
}

// An error inside one project (here the delivery log refuses its row) is
// reported; the delivery that happened still counts, the next project is
// delivered, the run ends as usual and its exit status tells of the error.
TEST_F(CommandLine, ErrorInOneProjectDoesNotStopTheRun)
{
    ASSERT_EQ(run({ u"list"_s }).iExit, 0);
    sandbox.writeFile(u"src/a.txt"_s, "a");
    QDir().mkpath(sandbox.root() + u"/out"_s);
    {
        auto db = openDB();
        for (const QString &title : { u"First"_s, u"Second"_s }) {
            const int id = addProject(*db, title, u"NULL"_s);
            addEntry(*db, id, sandbox.root() + u"/src/a.txt"_s);
            addTask(*db, id, 1, QString(), { { u"FileFolder"_s, sandbox.root() + u"/out"_s } });
        }
        db->ExecSQL(u"CREATE TRIGGER refuse BEFORE INSERT ON log WHEN NEW.filename LIKE 'First%' "
                    "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"_s);
    }
    const TOutput out = run({ u"deliver"_s, u"First"_s, u"Second"_s });
    EXPECT_EQ(out.iExit, 1);
    const QStringList l = out.sOut.split(u'\n');
    ASSERT_EQ(l.size(), 13) << out.sOut.toStdString();
    EXPECT_EQ(l[0], u"First"_s);
    EXPECT_TRUE(l[3].startsWith(u"!  Error: could not record the log row of First_"_s)) << l[3].toStdString();
    EXPECT_TRUE(l[3].contains(u"database or disk is full"_s)) << l[3].toStdString();
    EXPECT_EQ(l[4], u"  Success"_s);
    EXPECT_EQ(l[6], u"Second"_s);
    EXPECT_EQ(l.mid(9), QStringList({ u"  Success"_s, u" "_s, u"Generation complete."_s, QString() }));
    EXPECT_EQ(runFolders(), QStringList());
}

// Ended by a signal in the middle of a transfer: the working files go too.
TEST_F(CommandLine, TerminatedRunRemovesItsWorkingFiles)
{
    ASSERT_EQ(run({ u"list"_s }).iExit, 0);
    // A server that accepts connections and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    sandbox.writeFile(u"src/a.txt"_s, "a");
    {
        auto db = openDB();
        const int id = addProject(*db, u"Stuck"_s, u"NULL"_s);
        addEntry(*db, id, sandbox.root() + u"/src/a.txt"_s);
        addTask(*db, id, 2, QString(),
                { { u"FTPHost"_s, u"127.0.0.1:"_s + QString::number(silent.serverPort()) },
                  { u"FTPLogin"_s, u"bob"_s },
                  { u"FTPPassword"_s, u"pw"_s } });
    }
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("BW_BINARY_DIR") + u"/src/app/bundlewick"_s, { u"deliver"_s });
    QString folder;
    QElapsedTimer waited;
    waited.start();
    while (folder.isEmpty() && waited.elapsed() < 30000 && process.state() != QProcess::NotRunning) {
        process.waitForFinished(50);
        for (const QString &name : runFolders()) {
            if (QFile::exists(runFolderBase() + name + u"/code.zip"_s))
                folder = runFolderBase() + name;
        }
    }
    ASSERT_FALSE(folder.isEmpty()) << process.readAllStandardOutput().toStdString();
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_FALSE(QFileInfo::exists(folder));
}

// The command line reports an SSH host key it does not know, with its
// fingerprint, and never trusts it: known_hosts stays as it was.
TEST_F(CommandLine, UnknownHostKeyFailsAndIsNeverTrusted)
{
    ASSERT_EQ(run({ u"list"_s }).iExit, 0);
    const QByteArray agent = qgetenv("SSH_AUTH_SOCK");
    qunsetenv("SSH_AUTH_SOCK");
    const QString home = sandbox.root() + u"/sftphome"_s;
    QDir().mkpath(home + u"/in"_s);
    bwtest::SshServer ssh(home);
    ssh.setUpClient();
    const QString knownHosts = QDir::homePath() + u"/.ssh/known_hosts"_s;
    QFile::remove(knownHosts);
    sandbox.writeFile(u"src/a.pas"_s, "unit a;");
    {
        auto db = openDB();
        const int id = addProject(*db, u"Guarded"_s, u"NULL"_s);
        addEntry(*db, id, sandbox.root() + u"/src/a.pas"_s);
        addTask(*db, id, 2, QString(), { { u"FTPHost"_s, ssh.host() }, { u"FTPDirectory"_s, u"in"_s } });
    }
    const TOutput out = run({ u"deliver"_s, u"guarded"_s });
    if (!agent.isEmpty())
        qputenv("SSH_AUTH_SOCK", agent);
    EXPECT_EQ(out.iExit, 1) << out.sOut.toStdString() << out.sErr.toStdString();
    EXPECT_TRUE(out.sOut.contains(u"!  FTP failed: Unknown host key for [127.0.0.1]:%1"_s.arg(ssh.port())))
        << out.sOut.toStdString();
    EXPECT_TRUE(out.sOut.contains(ssh.fingerprint())) << out.sOut.toStdString();
    EXPECT_FALSE(QFile::exists(knownHosts));
    EXPECT_EQ(QDir(home + u"/in"_s).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Another program holds the database's write lock in the middle of a long
// run, for longer than the busy time-out: the run waits for it (and says
// so), and every delivered archive still has its success row, every task a
// row and every project its new send date.
TEST_F(CommandLine, LockedDatabaseLosesNoRecord)
{
    ASSERT_EQ(run({ u"list"_s }).iExit, 0);
    const int kProjects = 200;
    sandbox.writeFile(u"src/a.txt"_s, "a");
    const QString out1 = sandbox.root() + u"/out1"_s;
    const QString out2 = sandbox.root() + u"/out2"_s;
    QDir().mkpath(out1);
    QDir().mkpath(out2);
    {
        auto db = openDB();
        db->Start();
        for (int i = 1; i <= kProjects; ++i) {
            const int id = addProject(*db, u"P%1"_s.arg(i, 3, 10, QLatin1Char('0')), u"NULL"_s);
            addEntry(*db, id, sandbox.root() + u"/src/a.txt"_s);
            addTask(*db, id, 1, QString(), { { u"FileFolder"_s, out1 } });
            addTask(*db, id, 1, QString(), { { u"FileFolder"_s, out2 } });
        }
        db->Commit();
    }

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    // A busy wait of one second, which the lock below outlasts.
    env.insert(u"BUNDLEWICK_DB_BUSY_MS"_s, u"1000"_s);
    process.setProcessEnvironment(env);
    QElapsedTimer total;
    total.start();
    process.start(qEnvironmentVariable("BW_BINARY_DIR") + u"/src/app/bundlewick"_s,
                  { u"deliver"_s, u"--all"_s });
    QElapsedTimer waited;
    waited.start();
    while (QDir(out1).isEmpty() && waited.elapsed() < 60000 && process.state() != QProcess::NotRunning)
        process.waitForFinished(10);
    ASSERT_FALSE(QDir(out1).isEmpty()) << process.readAllStandardOutput().toStdString();
    ASSERT_NE(process.state(), QProcess::NotRunning);

    // The first archives are out: another program takes the write lock and
    // holds it until the run has said that it waits, and then past two
    // busy time-outs.
    const QString kWaiting = u"Waiting for the database, which another program is using\u2026"_s;
    QByteArray out;
    qint64 iHeld = 0;
    bool bToldWhileLocked = false;
    {
        TSQLiteDatabase other(dataDir() + u"bundlewick.sqlite"_s);
        other.SetTimeout(10000);
        other.ExecSQL(u"BEGIN EXCLUSIVE"_s);
        QElapsedTimer held;
        held.start();
        while ((!bToldWhileLocked || held.elapsed() < 2500) && held.elapsed() < 30000
               && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(50);
            out += process.readAllStandardOutput();
            bToldWhileLocked = QString::fromUtf8(out).contains(kWaiting);
        }
        iHeld = held.elapsed();
        other.ExecSQL(u"COMMIT"_s);
    }
    ASSERT_TRUE(process.waitForFinished(120000));
    out += process.readAllStandardOutput();
    const QString sOut = QString::fromUtf8(out);
    std::printf("[ figures  ] deliver --all, %d projects x 2 folder tasks, lock held %lld ms "
                "(busy wait 1000 ms): run took %lld ms\n",
                kProjects, static_cast<long long>(iHeld), static_cast<long long>(total.elapsed()));
    EXPECT_EQ(process.exitCode(), 0) << sOut.toStdString() << process.readAllStandardError().toStdString();
    EXPECT_TRUE(bToldWhileLocked) << sOut.toStdString();
    EXPECT_GE(iHeld, 2500);
    EXPECT_EQ(sOut.count(kWaiting), 1);
    for (const QString &line : sOut.split(u'\n'))
        EXPECT_FALSE(line.startsWith(u'!')) << line.toStdString();
    EXPECT_EQ(sOut.count(u"  Success\n"_s), kProjects);

    // Every archive in the folders has its success row, and nothing else is logged.
    QStringList expected;
    for (const QString &folder : { out1, out2 }) {
        const QStringList names = QDir(folder).entryList(QDir::Files);
        EXPECT_EQ(names.size(), kProjects) << folder.toStdString();
        for (const QString &name : names)
            expected << u"1 1 "_s + name + u" "_s + folder;
    }
    auto db = openDB();
    QStringList logged;
    db->GetTableStrings(
        u"SELECT success || ' ' || method || ' ' || filename || ' ' || destination FROM log"_s, logged);
    expected.sort();
    logged.sort();
    EXPECT_EQ(logged, expected);
    EXPECT_EQ(db->QueryIntegerFmt(u"SELECT COUNT(*) FROM projects WHERE senddate IS NULL"_s, {}), 0);
}

namespace {

void setting(TSQLiteDatabase &db, const QString &sName, const QString &sValue)
{
    db.ExecSQLFmt(u"DELETE FROM settings WHERE name = '%s'"_s, { sName });
    db.ExecSQLFmt(u"INSERT INTO settings (name, value) VALUES ('%s', '%s')"_s, { sName, sValue });
}

} // namespace

// "send" with a destination: the quick send of the desktop program, its
// lines on standard output, its log row, and the exit codes of "deliver".
TEST_F(CommandLine, SendToAFolderWithoutWindows)
{
    const QString a = sandbox.writeFile(u"in/a.txt"_s, "alpha");
    const QString b = sandbox.writeFile(u"in/b b.txt"_s, "beta");
    const QString out = sandbox.root() + u"/out"_s;
    QDir().mkpath(out);

    // Two files: "files.zip" inside an archive of the given name, with its password.
    TOutput res = run({ u"send"_s, u"--folder"_s, out, u"--name=My drop"_s, u"--password"_s, u"pw"_s,
                        u"--encryption=traditional"_s, a, b });
    ASSERT_EQ(res.iExit, 0) << res.sErr.toStdString();
    EXPECT_EQ(res.sOut, u"Zipped 2 files\nOutput saved to My_drop.zip\nQuick send successful\n"_s);
    const ZipReader zip(out + u"/My_drop.zip"_s);
    EXPECT_EQ(zip.names(), QStringList({ u"files.zip"_s }));
    EXPECT_EQ(zip.entry(u"files.zip"_s)->encryption, ZIP_EM_TRAD_PKWARE);
    EXPECT_FALSE(zip.read(u"files.zip"_s, u"wrong"_s).has_value());
    // Without the option a password means AES-256.
    res = run({ u"send"_s, u"--folder"_s, out, u"--name=Strong"_s, u"--password"_s, u"pw"_s, a, b });
    ASSERT_EQ(res.iExit, 0) << res.sErr.toStdString();
    EXPECT_EQ(ZipReader(out + u"/Strong.zip"_s).entry(u"files.zip"_s)->encryption, ZIP_EM_AES_256);
    EXPECT_EQ(run({ u"send"_s, u"--folder"_s, out, u"--encryption"_s, u"rot13"_s, a }).iExit, 2);
    QFile::remove(out + u"/Strong.zip"_s);

    // One file goes as itself.
    res = run({ u"send"_s, u"--folder"_s, out, a });
    EXPECT_EQ(res.iExit, 0) << res.sErr.toStdString();
    EXPECT_EQ(res.sOut, u"Output saved to a.txt\nQuick send successful\n"_s);
    QFile copied(out + u"/a.txt"_s);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), QByteArray("alpha"));

    {
        auto db = openDB();
        auto rows = db->GetTable(u"SELECT success, source, files, method, filename, destination FROM log "
                                 "ORDER BY id"_s);
        QStringList log;
        for (; !rows->Eof(); rows->Next())
            log << u"%1 %2 %3 %4 %5 %6"_s.arg(rows->FieldAsString(0), rows->FieldAsString(1),
                                              rows->FieldAsString(2), rows->FieldAsString(3),
                                              rows->FieldAsString(4), rows->FieldAsString(5));
        EXPECT_EQ(log,
                  QStringList({ u"1 2 2 1 My_drop.zip "_s + out, u"1 2 2 1 Strong.zip "_s + out,
                                u"1 2 1 1 a.txt "_s + out }));
    }

    // A folder that is gone fails before anything is zipped.
    res = run({ u"send"_s, u"--folder"_s, sandbox.root() + u"/gone"_s, a });
    EXPECT_EQ(res.iExit, 2);
    EXPECT_EQ(res.sErr,
              u"bundlewick: cannot send: The folder does not exist\n"
              "Try 'bundlewick --help' for more information.\n"_s);

    // Usage errors.
    EXPECT_EQ(run({ u"send"_s, u"--folder"_s, out }).iExit, 2); // no file
    res = run({ u"send"_s, u"--folder"_s, out, sandbox.root() + u"/missing.txt"_s });
    EXPECT_EQ(res.iExit, 2);
    EXPECT_TRUE(res.sErr.startsWith(u"bundlewick: no such file: '"_s)) << res.sErr.toStdString();
    res = run({ u"send"_s, u"--folder"_s, out, u"--ftp"_s, u"host"_s, a });
    EXPECT_EQ(res.iExit, 2);
    EXPECT_TRUE(res.sErr.contains(u"not --ftp as well"_s)) << res.sErr.toStdString();
    EXPECT_EQ(run({ u"send"_s, u"--name"_s, u"x"_s, a }).iExit, 2); // an option without a destination
    EXPECT_EQ(run({ u"send"_s, u"--folder"_s, out, u"--fast"_s, a }).iExit, 2);
    EXPECT_EQ(run({ u"send"_s, u"--folder"_s, out, u"--link"_s, a }).iExit, 2);
    EXPECT_EQ(run({ u"send"_s, u"--folder"_s, out, u"--retention"_s, u"decade"_s, a }).iExit, 2);
    EXPECT_EQ(run({ u"send"_s, u"--folder"_s, out, u"--name"_s, u" "_s, a, b }).iExit, 2);

    // While another instance runs, nothing is sent.
    {
        TSingleInstance other(dataDir() + u"bundlewick.lock"_s);
        ASSERT_TRUE(other.IsFirst());
        res = run({ u"send"_s, u"--folder"_s, out, u"--name"_s, u"locked"_s, a, b });
        EXPECT_EQ(res.iExit, 3);
        EXPECT_FALSE(QFile::exists(out + u"/locked.zip"_s));
    }
}

TEST_F(CommandLine, SendByEmailAndFtp)
{
    const QString a = sandbox.writeFile(u"in/report.txt"_s, "the report");
    ASSERT_EQ(run({ u"list"_s }).iExit, 0); // makes the database

    // Without SMTP settings the e-mail cannot go.
    TOutput res = run({ u"send"_s, u"--email"_s, u"ann@example.com"_s, a });
    EXPECT_EQ(res.iExit, 2);
    EXPECT_EQ(res.sErr,
              u"bundlewick: cannot send: Set up SMTP in Settings\n"
              "Try 'bundlewick --help' for more information.\n"_s);

    bwtest::SmtpServer smtp;
    {
        auto db = openDB();
        setting(*db, u"Email server"_s, u"127.0.0.1"_s);
        setting(*db, u"Email port"_s, QString::number(smtp.port()));
        setting(*db, u"Email login"_s, u"1"_s);
        setting(*db, u"Email username"_s, u"mailer"_s);
        setting(*db, u"Email password"_s, u"s3cret"_s);
        setting(*db, u"Email from"_s, u"me@example.com"_s);
    }
    res = run({ u"send"_s, u"--email"_s, u"ann@example.com"_s, u"--subject"_s, u"Your report"_s,
                u"--message"_s, u"Hello Ann,\nhere it is."_s, u"--zip"_s, u"--name"_s, u"report"_s, a });
    ASSERT_EQ(res.iExit, 0) << res.sErr.toStdString() << res.sOut.toStdString();
    EXPECT_EQ(res.sOut, u"  Email sent to ann@example.com\nQuick send successful\n"_s);
    ASSERT_EQ(smtp.messages().size(), 1);
    const QByteArray mail = smtp.messages().at(0);
    EXPECT_TRUE(mail.contains("\r\nSubject: Your report\r\n"));
    EXPECT_TRUE(mail.contains("Hello Ann,\r\nhere it is.\r\n"));
    EXPECT_TRUE(mail.contains("report.zip"));

    // A refused recipient fails the send with a "!" line and status 1.
    {
        bwtest::SmtpServer::Options options;
        options.refuse = QStringList { u"bob@example.com"_s };
        bwtest::SmtpServer refusing(options);
        auto db = openDB();
        setting(*db, u"Email port"_s, QString::number(refusing.port()));
        db.reset();
        res = run({ u"send"_s, u"--email"_s, u"bob@example.com"_s, a });
        EXPECT_EQ(res.iExit, 1);
        const QStringList lines = res.sOut.split(u'\n');
        ASSERT_GE(lines.size(), 2) << res.sOut.toStdString();
        EXPECT_TRUE(lines.at(0).startsWith(u"!  Email failed: "_s)) << res.sOut.toStdString();
        EXPECT_EQ(lines.at(1), u"!Quick send failed"_s);
        EXPECT_FALSE(res.sOut.contains(u"s3cret"_s));
    }

    // FTP with the account on the command line, the password from the environment.
    bwtest::FtpServer ftp(u"bob"_s, u"ftp-pw"_s, sandbox.root() + u"/ftp"_s);
    QDir().mkpath(sandbox.root() + u"/ftp/upload"_s);
    qputenv("BW_TEST_FTP_PASSWORD", "ftp-pw");
    res = run({ u"send"_s, u"--ftp"_s, ftp.host(), u"--ftp-directory=upload"_s, u"--ftp-login"_s, u"bob"_s,
                u"--ftp-password-env"_s, u"BW_TEST_FTP_PASSWORD"_s, a });
    qunsetenv("BW_TEST_FTP_PASSWORD");
    ASSERT_EQ(res.iExit, 0) << res.sErr.toStdString() << res.sOut.toStdString();
    EXPECT_EQ(res.sOut, u"  Sent via FTP to "_s + ftp.host() + u"\nQuick send successful\n"_s);
    QFile uploaded(sandbox.root() + u"/ftp/upload/report.txt"_s);
    ASSERT_TRUE(uploaded.open(QIODevice::ReadOnly));
    EXPECT_EQ(uploaded.readAll(), QByteArray("the report"));

    // A wrong password fails without showing it.
    res = run({ u"send"_s, u"--ftp"_s, ftp.host(), u"--ftp-directory=upload"_s, u"--ftp-login"_s, u"bob"_s,
                u"--ftp-password"_s, u"wrong-pw"_s, a });
    EXPECT_EQ(res.iExit, 1);
    EXPECT_TRUE(res.sOut.startsWith(u"!  FTP failed: "_s)) << res.sOut.toStdString();
    EXPECT_TRUE(res.sOut.endsWith(u"!Quick send failed\n"_s)) << res.sOut.toStdString();
    EXPECT_FALSE(res.sOut.contains(u"wrong-pw"_s));

    // Recipients and servers are remembered for the window's suggestions.
    auto db = openDB();
    EXPECT_EQ(db->QueryIntegerFmt(u"SELECT COUNT(*) FROM sendparams WHERE name = 'EmailRecipient'"_s, {}), 2);
    EXPECT_EQ(db->QueryIntegerFmt(u"SELECT COUNT(*) FROM sendparams WHERE name = 'FTPHost'"_s, {}), 1);
    EXPECT_EQ(db->QueryIntegerFmt(u"SELECT COUNT(*) FROM log WHERE source = 2"_s, {}), 4);
    // A failed attempt keeps its failure line for the log viewer.
    const QString sReason = db->QueryStringFmt(u"SELECT log FROM log ORDER BY id DESC LIMIT 1"_s, {});
    EXPECT_TRUE(sReason.startsWith(u"FTP failed: "_s)) << sReason.toStdString();
    EXPECT_FALSE(sReason.contains(u"wrong-pw"_s));
}

// "send FILE..." without a destination belongs to the desktop program, which
// opens quick send on the files (absolute, as the caller's folder names them).
TEST(CommandLineSend, WithoutADestinationTheDesktopProgramSends)
{
    QByteArray program("bundlewick"), send("send"), rel("notes.txt"), abs("/srv/drop/b c.txt"),
        folder("--folder"), name("--name"), x("x");
    {
        char *argv[] = { program.data(), send.data(), rel.data(), abs.data() };
        QStringList files;
        EXPECT_TRUE(IsDesktopSend(4, argv, files));
        EXPECT_EQ(files, QStringList({ QDir::currentPath() + u"/notes.txt"_s, u"/srv/drop/b c.txt"_s }));
        EXPECT_FALSE(IsCommandLine(4, argv));
    }
    {
        // From a launcher with no file: just the desktop program.
        char *argv[] = { program.data(), send.data() };
        QStringList files { u"left over"_s };
        EXPECT_TRUE(IsDesktopSend(2, argv, files));
        EXPECT_EQ(files, QStringList());
    }
    {
        char *argv[] = { program.data(), send.data(), folder.data(), x.data(), rel.data() };
        QStringList files;
        EXPECT_FALSE(IsDesktopSend(5, argv, files));
        EXPECT_TRUE(IsCommandLine(5, argv));
    }
    {
        // A send option without a destination is a usage error of the command line.
        char *argv[] = { program.data(), send.data(), name.data(), x.data(), rel.data() };
        QStringList files;
        EXPECT_FALSE(IsDesktopSend(5, argv, files));
        EXPECT_TRUE(IsCommandLine(5, argv));
    }
}
