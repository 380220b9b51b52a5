#include "../projects/projectdb.h"
#include "core/daycount.h"
#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/winutils.h"
#include "data/fdata.h"
#include "delivery/deliveryrun.h"
#include "delivery/sendtasks.h"
#include "projects/project.h"
#include "support/servers.h"
#include "support/zipreader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

class DeliveryRun : public ProjectDB
{
protected:
    TProgressList progress;
    std::vector<std::unique_ptr<TProject>> projects;

    void SetUp() override { ProjectDB::SetUp(); }

    // A parsed Generic project with the named sandbox files.
    TProject *project(const QString &sTitle, const QStringList &names)
    {
        const int id = addProject(pkGeneric, sTitle);
        for (const QString &name : names)
            addEntry(id, file(sTitle + u"/"_s + name, "text of " + name.toUtf8()));
        projects.push_back(CreateProject(pkGeneric, id, sTitle, QString()));
        projects.back()->Parse();
        return projects.back().get();
    }
    int task(const TProject *p, int iKind, const QString &sPassword = QString())
    {
        db->ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword, modified) "
                       "VALUES (%d, %d, '%s', DATETIME('NOW'))"_s,
                       { p->ProjectID(), iKind, sPassword });
        return int(db->LastInsertRowID());
    }
    // A File task into the folder (created unless missing).
    int fileTask(const TProject *p, const QString &sFolder, bool bMissing = false)
    {
        const QString sPath = sandbox.path(sFolder);
        if (!bMissing)
            QDir().mkpath(sPath);
        const int id = task(p, skFile);
        SetSendParam(id, u"FileFolder"_s, sPath);
        return id;
    }
    QStringList lines() const
    {
        QStringList out;
        for (const TProgressLine &line : progress.Lines())
            out << line.sText;
        return out;
    }
    QString sendDate(const TProject *p)
    {
        return db->QueryStringFmt(u"SELECT IFNULL(senddate, 'NULL') FROM projects WHERE id = %d"_s,
                                  { p->ProjectID() });
    }
    bool tempArchivesGone() const
    {
        return !QFile::exists(TempDir() + u"code.zip"_s) && !QFile::exists(TempDir() + u"readme.htm"_s)
            && !QFile::exists(RunTempDir() + u"code.zip"_s) && !QFile::exists(RunTempDir() + u"readme.htm"_s);
    }
};

// Title without blanks, "_", the time-stamp version of a Generic project, ".zip".
QRegularExpression archiveName(const QString &sPrefix)
{
    return QRegularExpression(u"^"_s + QRegularExpression::escape(sPrefix) + u"\\d{8}-\\d{6}\\.zip$"_s);
}

} // namespace

TEST_F(DeliveryRun, ProjectWithoutTasksEndsTheRun)
{
    TProject *first = project(u"First One"_s, { u"a.txt"_s });
    TProject *second = project(u"Second"_s, { u"b.txt"_s });
    TProject *third = project(u"Third"_s, { u"c.txt"_s });
    fileTask(first, u"out1"_s);
    fileTask(third, u"out3"_s);
    db->ExecSQLFmt(u"UPDATE projects SET senddate = 45000.5 WHERE id = %d"_s, { third->ProjectID() });

    TDeliveryRun run(progress);
    int iStateChanges = 0;
    run.OnStateChanged = [&] { ++iStateChanges; };
    const double dBefore = NowDays();
    const TRunResult result = run.Run({ first, second, third });
    const double dAfter = NowDays();

    const QStringList l = lines();
    ASSERT_EQ(l.size(), 8) << l.join(u'|').toStdString();
    EXPECT_EQ(l[0], u"First One"_s);
    EXPECT_EQ(l[1], u"  Zipped 1 file"_s);
    EXPECT_TRUE(l[2].startsWith(u"  Output saved to FirstOne_"_s)) << l[2].toStdString();
    EXPECT_EQ(l[3], u"  Success"_s);
    EXPECT_EQ(l[4], u" "_s);
    EXPECT_EQ(l[5], u"Second"_s);
    EXPECT_EQ(l[6], u"!  This project has no send methods\r\n"_s);
    EXPECT_EQ(l[7], u"Generation complete."_s);

    EXPECT_EQ(result.iDelivered, 1);
    EXPECT_EQ(result.iFailed, 0);
    EXPECT_TRUE(result.bStopped);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_TRUE(run.CanClose());
    EXPECT_EQ(iStateChanges, 1);

    // Only the delivered project gets a new send date.
    const double dSent = sendDate(first).toDouble();
    EXPECT_GE(dSent, dBefore - 1e-6);
    EXPECT_LE(dSent, dAfter + 1e-6);
    EXPECT_EQ(sendDate(second), u"NULL"_s);
    EXPECT_EQ(sendDate(third), u"45000.5"_s);
    EXPECT_EQ(QDir(sandbox.path(u"out3"_s)).entryList(QDir::Files), QStringList());
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log"_s), 1);
    EXPECT_TRUE(tempArchivesGone());
}

TEST_F(DeliveryRun, FileTaskToMissingFolderFails)
{
    TProject *p = project(u"Tool"_s, { u"a.pas"_s, u"b.pas"_s, u"sub/c.pas"_s });
    fileTask(p, u"nowhere"_s, true);

    TDeliveryRun run(progress);
    const TRunResult result = run.Run({ p });

    const auto row = db->GetTable(u"SELECT success, source, files, method, filename, destination FROM log"_s);
    ASSERT_FALSE(row->Eof());
    const QString sArchive = row->FieldAsString(4);
    EXPECT_TRUE(archiveName(u"Tool_"_s).match(sArchive).hasMatch()) << sArchive.toStdString();
    EXPECT_EQ(row->FieldAsInteger(0), 0);
    EXPECT_EQ(row->FieldAsInteger(1), 1);
    EXPECT_EQ(row->FieldAsInteger(2), 3);
    EXPECT_EQ(row->FieldAsInteger(3), 1);
    EXPECT_EQ(row->FieldAsString(5), sandbox.path(u"nowhere"_s));
    EXPECT_FALSE(row->Next());

    EXPECT_EQ(lines(),
              QStringList({ u"Tool"_s, u"  Zipped 3 files"_s,
                            u"!  Unable to save output "_s + sArchive + u": the folder "_s
                                + sandbox.path(u"nowhere"_s) + u" does not exist"_s,
                            u"!  Fail"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(result.iFailed, 1);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(sendDate(p), u"NULL"_s);
    EXPECT_TRUE(tempArchivesGone());
}

TEST_F(DeliveryRun, AbortFinishesTheRunningProject)
{
    TProject *first = project(u"A"_s, { u"a.txt"_s });
    TProject *second = project(u"B"_s, { u"b.txt"_s });
    fileTask(first, u"one"_s);
    fileTask(first, u"two"_s);
    fileTask(second, u"three"_s);

    TDeliveryRun run(progress);
    QObject::connect(&progress, &TProgressList::lineAppended, &progress, [&](int iIndex) {
        if (progress.Lines().at(iIndex).sText.startsWith(u"  Zipped"_s))
            run.Abort();
    });
    const TRunResult result = run.Run({ first, second });

    const QStringList l = lines();
    ASSERT_EQ(l.size(), 7) << l.join(u'|').toStdString();
    EXPECT_EQ(l[0], u"A"_s);
    EXPECT_TRUE(l[2].startsWith(u"  Output saved to A_"_s));
    EXPECT_TRUE(l[3].startsWith(u"  Output saved to A_"_s));
    EXPECT_EQ(l.mid(4), QStringList({ u"  Success"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_TRUE(result.bAborted);
    EXPECT_EQ(result.iDelivered, 1);
    EXPECT_EQ(sendDate(second), u"NULL"_s);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log WHERE success = 1"_s), 2);
}

// Nothing is sent for a kind the program does not know: that is no delivery.
TEST_F(DeliveryRun, UnknownTaskKindsFail)
{
    TProject *p = project(u"Odd"_s, { u"a.txt"_s });
    task(p, 7);
    fileTask(p, u"out"_s);
    TDeliveryRun run(progress);
    const TRunResult result = run.Run({ p });
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(result.iFailed, 1);
    EXPECT_EQ(result.iDelivered, 0);
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 7) << l.join(u'|').toStdString();
    EXPECT_EQ(l.mid(0, 3),
              QStringList({ u"Odd"_s, u"  Zipped 1 file"_s, u"!  Unknown send method 7: nothing sent"_s }));
    EXPECT_TRUE(l[3].startsWith(u"  Output saved to Odd_"_s)) << l[3].toStdString();
    EXPECT_EQ(l.mid(4), QStringList({ u"!  Fail"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(sendDate(p), u"NULL"_s);
    // The File task's row only: the log knows no such method.
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log"_s), 1);
}

// The project's result is every task's, not the last one's.
// Each task's own encryption: a task stored before there was a choice keeps
// the traditional scheme that unzip opens, one that chose AES gets AES; the
// progress lines read the same and never show the password.
TEST_F(DeliveryRun, TasksKeepTheirOwnZipEncryption)
{
    TProject *p = project(u"Crypt"_s, { u"a.txt"_s });
    QStringList folders;
    for (const char *name : { "old", "aes" }) {
        folders << sandbox.path(QString::fromLatin1(name));
        QDir().mkpath(folders.last());
        const int id = task(p, skFile, u"s3cret"_s);
        SetSendParam(id, u"FileFolder"_s, folders.last());
        if (folders.size() == 2)
            SetSendParam(id, u"Zip encryption"_s, u"aes256"_s);
    }
    TDeliveryRun run(progress);
    EXPECT_TRUE(run.Run({ p }).Succeeded()) << lines().join(u'|').toStdString();
    EXPECT_FALSE(lines().join(u'|').contains(u"s3cret"_s));
    const QStringList l = lines();
    ASSERT_GE(l.size(), 4);
    EXPECT_EQ(l[1], u"  Zipped 1 file"_s);
    EXPECT_TRUE(l[2].startsWith(u"  Output saved to Crypt_"_s)) << l[2].toStdString();
    EXPECT_TRUE(l[3].startsWith(u"  Output saved to Crypt_"_s)) << l[3].toStdString();

    const int expected[] = { ZIP_EM_TRAD_PKWARE, ZIP_EM_AES_256 };
    for (int i = 0; i < 2; ++i) {
        const QStringList zips = QDir(folders[i]).entryList({ u"*.zip"_s }, QDir::Files);
        ASSERT_EQ(zips.size(), 1);
        const QString archive = folders[i] + u"/"_s + zips.first();
        bwtest::ZipReader zip(archive);
        ASSERT_TRUE(zip.entry(u"code.zip"_s).has_value());
        EXPECT_EQ(zip.entry(u"code.zip"_s)->encryption, expected[i]);
        if (i == 0) {
            QByteArray out;
            EXPECT_EQ(
                bwtest::runProgram(u"/usr/bin/unzip"_s, { u"-tq"_s, u"-P"_s, u"s3cret"_s, archive }, &out), 0)
                << out.constData();
        }
    }
}

TEST_F(DeliveryRun, FirstTaskFailsLastSucceeds)
{
    TProject *p = project(u"Mixed"_s, { u"a.txt"_s, u"b.txt"_s });
    fileTask(p, u"missing"_s, true);
    fileTask(p, u"there"_s);
    TDeliveryRun run(progress);
    const TRunResult result = run.Run({ p });
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 7) << l.join(u'|').toStdString();
    EXPECT_TRUE(l[2].startsWith(u"!  Unable to save output Mixed_"_s)) << l[2].toStdString();
    EXPECT_TRUE(l[3].startsWith(u"  Output saved to Mixed_"_s)) << l[3].toStdString();
    EXPECT_EQ(l[4], u"!  Fail"_s);
    EXPECT_FALSE(l.contains(u"  Success"_s));
    EXPECT_EQ(result.iFailed, 1);
    EXPECT_EQ(result.iDelivered, 0);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(sendDate(p), u"NULL"_s);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log WHERE success = 0"_s), 1);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log WHERE success = 1"_s), 1);
}

// Titles that differ only in blanks share an archive name: within a run no
// archive may replace another one at the same place.
TEST_F(DeliveryRun, SameArchiveNamesAtOneDestinationAreNumbered)
{
    const QStringList titles { u"Acme Tool"_s, u"AcmeTool"_s, u"Acme  Tool "_s };
    QList<TProject *> list;
    for (const QString &title : titles) {
        TProject *p = project(title, { u"a.txt"_s });
        fileTask(p, u"out"_s);
        fileTask(p, u"out2"_s);
        list << p;
    }
    TDeliveryRun run(progress);
    ASSERT_TRUE(run.Run(list).Succeeded()) << lines().join(u'|').toStdString();

    // Each archive holds its own project's manifest, in both folders.
    for (const QString &folder : { u"out"_s, u"out2"_s }) {
        const QStringList archives = QDir(sandbox.path(folder)).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(archives.size(), 3) << archives.join(u'|').toStdString();
        QStringList manifestTitles;
        for (const QString &name : archives) {
            EXPECT_TRUE(
                QRegularExpression(u"^AcmeTool_\\d{8}-\\d{6}(-[23])?\\.zip$"_s).match(name).hasMatch())
                << name.toStdString();
            const bwtest::ZipReader zip(sandbox.path(folder + u"/"_s + name));
            const QByteArray manifest = zip.read(u"readme.htm"_s).value_or(QByteArray());
            for (const QString &title : titles) {
                if (manifest.contains(">" + title.toUtf8() + "</h1>"))
                    manifestTitles << title;
            }
            // The log names the file as it was saved.
            EXPECT_EQ(db->QueryIntegerFmt(u"SELECT COUNT(*) FROM log WHERE filename = '%s'"_s, { name }), 2)
                << name.toStdString();
        }
        manifestTitles.sort();
        EXPECT_EQ(manifestTitles, (QStringList { u"Acme  Tool "_s, u"Acme Tool"_s, u"AcmeTool"_s }));
    }
}

// The working files of a run are its own: never in the shared per-user folder.
TEST_F(DeliveryRun, WorkingFilesStayInTheRunFolder)
{
    TProject *p = project(u"Own"_s, { u"a.txt"_s });
    fileTask(p, u"out"_s);
    TDeliveryRun run(progress);
    bool bSeen = false;
    QObject::connect(&progress, &TProgressList::lineAppended, &progress, [&](int iIndex) {
        if (progress.Lines().at(iIndex).sText.startsWith(u"  Output saved"_s)) {
            bSeen = QFile::exists(RunTempDir() + u"code.zip"_s)
                && QFile::exists(RunTempDir() + u"readme.htm"_s);
        }
    });
    EXPECT_TRUE(run.Run({ p }).Succeeded());
    EXPECT_TRUE(bSeen);
    EXPECT_NE(RunTempDir(), TempDir());
    EXPECT_TRUE(RunTempDir().startsWith(TempDir()));
    EXPECT_TRUE(tempArchivesGone());
    EXPECT_EQ(QDir(TempDir()).entryList(QDir::Files), QStringList());
}

TEST_F(DeliveryRun, ProjectWithoutFilesOrTasks)
{
    TProject *p = project(u"Empty"_s, {});
    TDeliveryRun run(progress);
    EXPECT_FALSE(run.CheckProject(*p));
    EXPECT_EQ(lines(),
              QStringList({ u"Empty"_s, u"!  This project has no files"_s,
                            u"!  This project has no send methods\r\n"_s }));
}

// An error that escapes a project fails that project only: the run goes on
// and ends as usual.
TEST_F(DeliveryRun, EscapingErrorFailsTheProjectAndTheRunGoesOn)
{
    TProject *broken = project(u"Broken"_s, { u"a.txt"_s });
    TProject *next = project(u"Next"_s, { u"b.txt"_s });
    fileTask(broken, u"out"_s);
    fileTask(next, u"out2"_s);
    // The send tasks cannot be read while the first project runs, and can
    // again for the second.
    db->ExecSQL(u"ALTER TABLE send RENAME COLUMN zippassword TO zippassword_saved"_s);

    TDeliveryRun run(progress);
    QObject::connect(&progress, &TProgressList::lineAppended, &progress, [&](int iIndex) {
        if (progress.Lines().at(iIndex).sText == u"Next"_s)
            db->ExecSQL(u"ALTER TABLE send RENAME COLUMN zippassword_saved TO zippassword"_s);
    });
    TRunResult result;
    EXPECT_NO_THROW(result = run.Run({ broken, next }));
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 11) << l.join(u'|').toStdString();
    EXPECT_EQ(l[0], u"Broken"_s);
    EXPECT_EQ(l[1], u"  Zipped 1 file"_s);
    EXPECT_TRUE(l[2].startsWith(u"!  Error: "_s)) << l[2].toStdString();
    EXPECT_TRUE(l[2].contains(u"no such column: zippassword"_s)) << l[2].toStdString();
    EXPECT_EQ(l[3], u"!  Fail"_s);
    EXPECT_EQ(l[4], u" "_s);
    EXPECT_EQ(l[5], u"Next"_s);
    EXPECT_EQ(l.mid(8), QStringList({ u"  Success"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(result.iFailed, 1);
    EXPECT_EQ(result.iDelivered, 1);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_TRUE(run.CanClose());
    EXPECT_TRUE(tempArchivesGone());
    EXPECT_EQ(sendDate(broken), u"NULL"_s);
    EXPECT_NE(sendDate(next), u"NULL"_s);
}

// A database failure before a task's transfer (nothing delivered yet) fails
// that task with a line and a log row; the project's other tasks are still
// carried out and logged.
TEST_F(DeliveryRun, DatabaseErrorBeforeATaskFailsOnlyThatTask)
{
    TProject *p = project(u"Half"_s, { u"a.txt"_s });
    fileTask(p, u"out1"_s);
    fileTask(p, u"out2"_s);
    TDeliveryRun run(progress);
    // The send parameters are gone while the first task starts.
    QObject::connect(&progress, &TProgressList::lineAppended, &progress, [&](int iIndex) {
        const QString &sText = progress.Lines().at(iIndex).sText;
        if (sText == u"  Zipped 1 file"_s)
            db->ExecSQL(u"ALTER TABLE sendparams RENAME TO sendparams_saved"_s);
        else if (sText.startsWith(u"!  Error: "_s))
            db->ExecSQL(u"ALTER TABLE sendparams_saved RENAME TO sendparams"_s);
    });
    const TRunResult result = run.Run({ p });
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 7) << l.join(u'|').toStdString();
    EXPECT_TRUE(l[2].startsWith(u"!  Error: "_s)) << l[2].toStdString();
    EXPECT_TRUE(l[2].contains(u"no such table: sendparams"_s)) << l[2].toStdString();
    EXPECT_TRUE(l[3].startsWith(u"  Output saved to Half_"_s)) << l[3].toStdString();
    EXPECT_EQ(l[4], u"!  Fail"_s);
    EXPECT_EQ(result.iFailed, 1);
    QStringList rows;
    db->GetTableStrings(u"SELECT success || ' ' || method || ' ' || destination FROM log ORDER BY id"_s,
                        rows);
    EXPECT_EQ(rows, QStringList({ u"0 1 "_s, u"1 1 "_s + sandbox.path(u"out2"_s) }));
    EXPECT_EQ(QDir(sandbox.path(u"out1"_s)).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(sandbox.path(u"out2"_s)).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(sendDate(p), u"NULL"_s);
}

// An error before the title is out (checking the project) still names it.
TEST_F(DeliveryRun, ErrorWhileCheckingNamesTheProject)
{
    TProject *p = project(u"Unchecked"_s, { u"a.txt"_s });
    fileTask(p, u"out"_s);
    db->ExecSQL(u"ALTER TABLE send RENAME TO send_saved"_s);
    TDeliveryRun run(progress);
    const TRunResult result = run.Run({ p });
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 5) << l.join(u'|').toStdString();
    EXPECT_EQ(l[0], u"Unchecked"_s);
    EXPECT_TRUE(l[1].startsWith(u"!  Error: "_s)) << l[1].toStdString();
    EXPECT_EQ(l.mid(2), QStringList({ u"!  Fail"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(result.iFailed, 1);
    db->ExecSQL(u"ALTER TABLE send_saved RENAME TO send"_s);
}

// A temporary folder that is full stops the project at its first error: one
// error line and "!  Fail", nothing sent, no log row; the next project is
// still tried (and here fits).
TEST_F(DeliveryRun, FullTemporaryFolderStopsTheProjectAtItsFirstError)
{
    TProject *big = project(u"Big"_s, { u"huge.png"_s });
    QFile::resize(sandbox.root() + u"/Big/huge.png"_s, 2 * 1024 * 1024); // stored as is: too big
    TProject *small = project(u"Small"_s, { u"a.txt"_s });
    fileTask(big, u"out"_s);
    fileTask(small, u"out2"_s);
    // A file size limit fails writes beyond it as a full disk would, root or
    // not; the database stays well below it.
    ASSERT_LT(QFileInfo(sandbox.path(u"bundlewick.sqlite"_s)).size(), 512 * 1024);
    const QString codeZip = RunTempDir() + u"code.zip"_s;

    TDeliveryRun run(progress);
    QStringList shown;
    run.Builder().OnAttendedError = [&](const QString &s) { shown << s; };
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const TRunResult result = run.Run({ big, small });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    const QString sError = u"Cannot write the archive "_s + codeZip + u": Write error: File too large"_s;
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 10) << l.join(u'|').toStdString();
    EXPECT_EQ(l.mid(0, 5),
              QStringList({ u"Big"_s, u"!  Error: "_s + sError, u"!  Fail"_s, u" "_s, u"Small"_s }));
    EXPECT_EQ(l[5], u"  Zipped 1 file"_s);
    EXPECT_TRUE(l[6].startsWith(u"  Output saved to Small_"_s)) << l[6].toStdString();
    EXPECT_EQ(l.mid(7), QStringList({ u"  Success"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(shown, QStringList { sError });
    EXPECT_EQ(result.iFailed, 1);
    EXPECT_EQ(result.iDelivered, 1);
    EXPECT_EQ(sendDate(big), u"NULL"_s);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log"_s), 1);
    EXPECT_EQ(QDir(sandbox.path(u"out"_s)).entryList(QDir::Files), QStringList());
    EXPECT_TRUE(tempArchivesGone());
}

// A temporary folder that cannot be made at all: the same single error.
TEST_F(DeliveryRun, UnusableTemporaryFolderStopsTheProject)
{
    TProject *p = project(u"Tool"_s, { u"a.txt"_s });
    fileTask(p, u"out"_s);
    const QString notAFolder = sandbox.writeFile(u"tmpfile"_s, "a file, not a folder");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(notAFolder));
    TDeliveryRun run(progress);
    const TRunResult result = run.Run({ p });
    qputenv("TMPDIR", oldTmp);

    const QStringList l = lines();
    ASSERT_EQ(l.size(), 5) << l.join(u'|').toStdString();
    EXPECT_EQ(l[0], u"Tool"_s);
    EXPECT_EQ(l[1],
              u"!  Error: Cannot create the temporary folder \""_s + notAFolder + u"/bundlewick-"_s
                  + QString::number(getuid()) + u"\": Not a directory."_s);
    EXPECT_EQ(l.mid(2), QStringList({ u"!  Fail"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(result.iFailed, 1);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log"_s), 0);
}

// An FTP task whose host is an SFTP server, logged into with the user's key:
// the run's own path delivers it under its final name and logs the success;
// a host key the user has not trusted fails the task and reaches the result
// for the window to offer.
TEST_F(DeliveryRun, FtpTaskToAnSftpServerWithTheUsersKey)
{
    // The user's key logs in, never an agent of whoever runs the tests.
    const bwtest::NoSshAgent noAgent;
    const QString home = sandbox.path(u"sftphome"_s);
    QDir().mkpath(home + u"/incoming"_s);
    bwtest::SshServer ssh(home);
    ssh.setUpClient();

    TProject *p = project(u"Secure Tool"_s, { u"a.pas"_s, u"b.pas"_s });
    const int id = task(p, skFTP);
    SetSendParam(id, u"FTPHost"_s, ssh.host());
    SetSendParam(id, u"FTPDirectory"_s, u"incoming"_s);

    TDeliveryRun run(progress);
    const TRunResult result = run.Run({ p });
    ASSERT_TRUE(result.Succeeded()) << lines().join(u'|').toStdString() << ssh.log().toStdString();
    EXPECT_TRUE(result.listHostKeys.isEmpty());

    const auto row = db->GetTable(u"SELECT success, method, filename, destination FROM log"_s);
    ASSERT_FALSE(row->Eof());
    EXPECT_EQ(row->FieldAsInteger(0), 1);
    EXPECT_EQ(row->FieldAsInteger(1), 2);
    const QString sArchive = row->FieldAsString(2);
    EXPECT_TRUE(archiveName(u"SecureTool_"_s).match(sArchive).hasMatch()) << sArchive.toStdString();
    EXPECT_EQ(row->FieldAsString(3), ssh.host());
    EXPECT_FALSE(row->Next());
    EXPECT_TRUE(lines().contains(u"  Sent via FTP to "_s + ssh.host())) << lines().join(u'|').toStdString();
    EXPECT_TRUE(lines().contains(u"  Success"_s));

    // Only the archive, under its final name: no temporary name is left.
    EXPECT_EQ(QDir(home + u"/incoming"_s).entryList(QDir::Files | QDir::Hidden), QStringList { sArchive });
    QFile delivered(home + u"/incoming/"_s + sArchive);
    ASSERT_TRUE(delivered.open(QIODevice::ReadOnly));
    EXPECT_TRUE(delivered.read(4).startsWith("PK\x03\x04"));
    EXPECT_NE(sendDate(p), u"NULL"_s);

    // The same task to a server not in known_hosts: nothing is sent, and the
    // key is in the result once.
    QFile::remove(QDir::homePath() + u"/.ssh/known_hosts"_s);
    const int second = task(p, skFTP);
    SetSendParam(second, u"FTPHost"_s, ssh.host());
    SetSendParam(second, u"FTPDirectory"_s, u"incoming"_s);
    TProgressList progress2;
    TDeliveryRun again(progress2);
    const TRunResult failed = again.Run({ p });
    EXPECT_EQ(failed.iFailed, 1);
    ASSERT_EQ(failed.listHostKeys.size(), 1);
    EXPECT_EQ(failed.listHostKeys.at(0).Fingerprint(), ssh.fingerprint());
    EXPECT_EQ(failed.listHostKeys.at(0).Port, ssh.port());
    EXPECT_FALSE(failed.listHostKeys.at(0).Changed);
    EXPECT_EQ(QDir(home + u"/incoming"_s).entryList(QDir::Files | QDir::Hidden), QStringList { sArchive });
}

// One mail server for every e-mail task, and it takes the connection but
// never answers: the first task waits for the time-out, the others fail at
// once with a line that says why, and every task is logged as a failure.
TEST_F(DeliveryRun, SilentMailServerCostsOneTimeOut)
{
    bwtest::SmtpServer::Options options;
    options.stallAtGreeting = true;
    bwtest::SmtpServer smtp(options);
    for (const auto &[sName, sValue] : { std::pair { u"Email server"_s, u"127.0.0.1"_s },
                                         std::pair { u"Email port"_s, QString::number(smtp.port()) },
                                         std::pair { u"Email from"_s, u"builds@example.com"_s } })
        db->ExecSQLFmt(u"INSERT INTO settings (name, value) VALUES ('%s', '%s')"_s, { sName, sValue });
    TProject *p = project(u"Mail Tool"_s, { u"a.txt"_s });
    for (const QString &sTo : { u"ann@example.com"_s, u"bob@example.com"_s, u"cy@example.com"_s }) {
        const int id = task(p, skEmail);
        SetSendParam(id, u"EmailRecipient"_s, sTo);
        SetSendParam(id, u"EmailSubject"_s, u"{PROJECT}"_s);
        SetSendParam(id, u"EmailMessage"_s, u"{LINK}"_s);
    }

    TDeliveryRun run(progress);
    run.Channels().SetEmailTimeout(2);
    QElapsedTimer clock;
    clock.start();
    const TRunResult result = run.Run({ p });
    const qint64 iElapsed = clock.elapsed();
    std::printf("[ figures  ] three e-mail tasks to a silent server, 2 s time-out: %lld ms\n",
                static_cast<long long>(iElapsed));
    EXPECT_GE(iElapsed, 1900);
    EXPECT_LT(iElapsed, 3900); // one time-out, not three

    const QStringList l = lines();
    ASSERT_EQ(l.size(), 8) << l.join(u'|').toStdString();
    EXPECT_EQ(l[0], u"Mail Tool"_s);
    EXPECT_TRUE(l[2].startsWith(u"!  Email failed: "_s)) << l[2].toStdString();
    EXPECT_EQ(l[3], u"!  Email skipped: the server did not answer earlier in this run"_s);
    EXPECT_EQ(l[4], u"!  Email skipped: the server did not answer earlier in this run"_s);
    EXPECT_EQ(l.mid(5), QStringList({ u"!  Fail"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(smtp.connections(), 1);
    EXPECT_EQ(result.iFailed, 1);

    QStringList rows;
    db->GetTableStrings(u"SELECT success || ' ' || method || ' ' || destination FROM log ORDER BY id"_s,
                        rows);
    EXPECT_EQ(rows,
              QStringList({ u"0 0 ann@example.com"_s, u"0 0 bob@example.com"_s, u"0 0 cy@example.com"_s }));
    EXPECT_EQ(sendDate(p), u"NULL"_s);
}
