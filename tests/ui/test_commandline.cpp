#include "../delivery/zipreader.h"
#include "core/data/startup.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "support/servers.h"
#include "support/testenv.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <gtest/gtest.h>

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
}
