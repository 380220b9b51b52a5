#include "core/threaddb.h"
#include "delivery/projectstatus.h"
#include "deliverydb.h"
#include "projects/project.h"
#include "projects/projectstore.h"

#include <QCoreApplication>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

namespace {

class ProjectStatus : public DeliveryDB
{
protected:
    int addProject(const QString &sTitle)
    {
        db->Exec(u"INSERT INTO projects (type, title, filename, senddate) VALUES (0, ?, '', NULL)"_s,
                 { sTitle });
        return int(db->LastInsertRowID());
    }
    void addEntry(int iProject, const QString &sText)
    {
        db->Exec(u"INSERT INTO files (id_projects, filename) VALUES (?, ?)"_s, { iProject, sText });
    }
};

} // namespace

// Every project is parsed on the worker from its row, in the rows' order, with
// its send tasks and its last delivery; the objects are the receiver's.
TEST_F(ProjectStatus, EveryRowParsedOnAWorkerInOrder)
{
    const int a = addProject(u"Alpha Tool"_s);
    for (const QString &name : { u"a.pas"_s, u"b.pas"_s, u"sub/c.pas"_s })
        sandbox.writeFile(u"alpha/"_s + name, "unit;");
    addEntry(a, sandbox.root() + u"/alpha/*.pas -r"_s);
    db->Exec(u"INSERT INTO send (id_projects, type, zippassword) VALUES (?, 1, '')"_s, { a });
    db->ExecSQL(u"INSERT INTO log (success, source, filename, files, method, destination, modified) "
                "VALUES (0, 1, 'AlphaTool_1.0.zip', 3, 1, '/out', '2026-03-01 12:00:00')"_s);
    const int b = addProject(u"Beta"_s);
    addEntry(b, sandbox.root() + u"/beta/gone.pas"_s);
    const int c = addProject(u"Gamma"_s);

    TProjectStatusJob job;
    std::vector<TProjectStatus> got;
    int iBatches = 0;
    QObject::connect(&job, &TProjectStatusJob::found, [&](const std::shared_ptr<TProjectStatusBatch> &batch) {
        ++iBatches;
        for (TProjectStatus &status : batch->lItems)
            got.push_back(std::move(status));
    });
    QSignalSpy done(&job, &TProjectStatusJob::finished);
    std::vector<TProjectRow> rows = TProjectStore::Rows();
    std::reverse(rows.begin(), rows.end());
    job.Start(DatabaseFileName(*db), rows);
    EXPECT_TRUE(job.Busy());
    ASSERT_TRUE(done.wait(10000));
    EXPECT_FALSE(job.Busy());
    EXPECT_GE(iBatches, 1);
    ASSERT_EQ(got.size(), 3u);

    EXPECT_EQ(got[0].iProjectID, c);
    EXPECT_EQ(got[0].oProject->FileCount(), 0);
    EXPECT_EQ(got[0].iSendTasks, 0);
    EXPECT_FALSE(got[0].oLast.bFound);

    // A single-file entry lists its file even when it is gone.
    EXPECT_EQ(got[1].iProjectID, b);
    EXPECT_EQ(got[1].oProject->Title(), u"Beta"_s);
    EXPECT_EQ(got[1].oProject->FileCount(), 1);
    EXPECT_EQ(got[1].oProject->ChangedFiles(), 0);

    EXPECT_EQ(got[2].iProjectID, a);
    EXPECT_EQ(got[2].oProject->FileCount(), 3);
    EXPECT_EQ(got[2].oProject->ChangedFiles(), 3);
    EXPECT_EQ(got[2].oProject->FilePaths().last(), sandbox.root() + u"/alpha/sub/c.pas"_s);
    EXPECT_EQ(got[2].iSendTasks, 1);
    EXPECT_TRUE(got[2].oLast.bFound);
    EXPECT_FALSE(got[2].oLast.bSuccess);
    EXPECT_EQ(got[2].oLast.sModified, u"2026-03-01 12:00:00"_s);

    // A cancelled job reports nothing more, not even its end: only the
    // next start's rows arrive, once.
    got.clear();
    job.Start(DatabaseFileName(*db), TProjectStore::Rows());
    job.Cancel();
    EXPECT_FALSE(job.Busy());
    job.Start(DatabaseFileName(*db), { TProjectStore::Rows().front() });
    ASSERT_TRUE(done.wait(10000));
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].iProjectID, a);
    EXPECT_EQ(done.size(), 2);
}

// A worker that cannot open the database reports no project and still ends.
TEST_F(ProjectStatus, NoDatabaseFileEndsWithoutResults)
{
    addProject(u"Alpha"_s);
    TProjectStatusJob job;
    int iFound = 0;
    QObject::connect(&job, &TProjectStatusJob::found, [&](const auto &) { ++iFound; });
    QSignalSpy done(&job, &TProjectStatusJob::finished);
    job.Start(sandbox.root() + u"/missing/folder/db.sqlite"_s, TProjectStore::Rows());
    ASSERT_TRUE(done.wait(10000));
    EXPECT_EQ(iFound, 0);
}
