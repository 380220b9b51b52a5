#include "../projects/projectdb.h"
#include "core/daycount.h"
#include "core/winutils.h"
#include "delivery/deliveryrun.h"
#include "delivery/progress.h"
#include "delivery/sendtasks.h"
#include "projects/parser.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

class DeliveryRun : public ProjectDB
{
protected:
    TProgressList progress;
    std::vector<std::unique_ptr<TParser>> projects;

    void SetUp() override
    {
        ProjectDB::SetUp();
    }

    // A parsed Generic project with the named sandbox files.
    TParser *project(const QString &sTitle, const QStringList &names)
    {
        const int id = addProject(pkGeneric, sTitle);
        for (const QString &name : names)
            addEntry(id, file(sTitle + u"/"_s + name, "text of " + name.toUtf8()));
        projects.push_back(CreateParser(pkGeneric, id, sTitle, QString()));
        projects.back()->Parse();
        return projects.back().get();
    }
    int task(const TParser *p, int iKind, const QString &sPassword = QString())
    {
        db->ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword, modified) "
                       "VALUES (%d, %d, '%s', DATETIME('NOW'))"_s,
                       { p->ProjectID(), iKind, sPassword });
        return int(db->LastInsertRowID());
    }
    // A File task into the folder (created unless missing).
    int fileTask(const TParser *p, const QString &sFolder, bool bMissing = false)
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
    QString sendDate(const TParser *p)
    {
        return db->QueryStringFmt(u"SELECT IFNULL(senddate, 'NULL') FROM projects WHERE id = %d"_s,
                                  { p->ProjectID() });
    }
    bool tempArchivesGone() const
    {
        return !QFile::exists(TempDir() + u"code.zip"_s) && !QFile::exists(TempDir() + u"readme.htm"_s);
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
    TParser *first = project(u"First One"_s, { u"a.txt"_s });
    TParser *second = project(u"Second"_s, { u"b.txt"_s });
    TParser *third = project(u"Third"_s, { u"c.txt"_s });
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
    TParser *p = project(u"Tool"_s, { u"a.pas"_s, u"b.pas"_s, u"sub/c.pas"_s });
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
              QStringList({ u"Tool"_s, u"  Zipped 3 files"_s, u"!  Unable to save output "_s + sArchive,
                            u"!  Fail"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_EQ(result.iFailed, 1);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(sendDate(p), u"NULL"_s);
    EXPECT_TRUE(tempArchivesGone());
}

TEST_F(DeliveryRun, AbortFinishesTheRunningProject)
{
    TParser *first = project(u"A"_s, { u"a.txt"_s });
    TParser *second = project(u"B"_s, { u"b.txt"_s });
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

TEST_F(DeliveryRun, UnknownTaskKindsCountAsDelivered)
{
    TParser *p = project(u"Odd"_s, { u"a.txt"_s });
    task(p, 7);
    TDeliveryRun run(progress);
    EXPECT_TRUE(run.Run({ p }).Succeeded());
    EXPECT_EQ(
        lines(),
        QStringList({ u"Odd"_s, u"  Zipped 1 file"_s, u"  Success"_s, u" "_s, u"Generation complete."_s }));
    EXPECT_NE(sendDate(p), u"NULL"_s);
    EXPECT_EQ(db->GetTableValue(u"SELECT COUNT(*) FROM log"_s), 0);
}

TEST_F(DeliveryRun, ProjectWithoutFilesOrTasks)
{
    TParser *p = project(u"Empty"_s, {});
    TDeliveryRun run(progress);
    EXPECT_FALSE(run.CheckProject(*p));
    EXPECT_EQ(lines(),
              QStringList({ u"Empty"_s, u"!  This project has no files"_s,
                            u"!  This project has no send methods\r\n"_s }));
}

TEST_F(DeliveryRun, EscapingErrorRemovesTheTemporaryArchives)
{
    TParser *p = project(u"Broken"_s, { u"a.txt"_s });
    fileTask(p, u"out"_s);
    db->ExecSQL(u"DROP TABLE log"_s);

    TDeliveryRun run(progress);
    EXPECT_THROW(run.Run({ p }), ESQLiteException);
    EXPECT_TRUE(tempArchivesGone());
    EXPECT_EQ(sendDate(p), u"NULL"_s);
}
