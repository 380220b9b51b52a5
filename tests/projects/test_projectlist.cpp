#include "projectdb.h"
#include "projects/project.h"
#include "projects/projectlist.h"

#include <gtest/gtest.h>

namespace {

class ProjectList : public ProjectDB
{
protected:
    int addSend(int iProject, int iKind = 1)
    {
        db->ExecSQLFmt(
            QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (%d, %d, '')"),
            { iProject, iKind });
        return int(db->LastInsertRowID());
    }
    static QStringList titles(const QList<TProject *> &projects)
    {
        QStringList out;
        for (const TProject *p : projects)
            out << p->Title();
        return out;
    }
    static QStringList titles(const TProjectList &list)
    {
        QStringList out;
        for (int i = 0; i < list.Count(); ++i)
            out << list.At(i)->Title();
        return out;
    }
    int count(const QString &sSQL) { return db->QueryIntegerFmt(sSQL, {}); }

    // Four projects covering the rules, stored in this order:
    //   "beta"  1 file, 1 task, never delivered  -> checked, enabled
    //   "Alpha" 2 files, no task                 -> unchecked, disabled
    //   "gamma" 1 file, 2 tasks, delivered later than its file -> unchecked, enabled
    //   "Delta" no file, 1 task                  -> unchecked, disabled
    void addFour()
    {
        iBeta = addProject(pkGeneric, QStringLiteral("beta"));
        addEntry(iBeta, file(QStringLiteral("beta/a.pas")));
        addSend(iBeta);
        iAlpha = addProject(pkGeneric, QStringLiteral("Alpha"));
        addEntry(iAlpha, file(QStringLiteral("alpha/a.pas")));
        addEntry(iAlpha, file(QStringLiteral("alpha/b.pas")));
        iGamma = addProject(pkGeneric, QStringLiteral("gamma"), 100000); // the year 2173
        addEntry(iGamma, file(QStringLiteral("gamma/a.pas")));
        addSend(iGamma, 0);
        addSend(iGamma, 2);
        iDelta = addProject(pkGeneric, QStringLiteral("Delta"));
        addSend(iDelta);
    }
    int iBeta = 0, iAlpha = 0, iGamma = 0, iDelta = 0;
};

TEST_F(ProjectList, LoadParseAndSortLikeTheMainWindow)
{
    addFour();
    TProjectList list;
    list.Load();
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(titles(list),
              QStringList({ QStringLiteral("beta"), QStringLiteral("Alpha"), QStringLiteral("gamma"),
                            QStringLiteral("Delta") }));
    EXPECT_EQ(list.At(1)->FileCount(), 0); // not parsed yet

    list.Parse();
    list.SortByTitle();
    EXPECT_EQ(titles(list),
              QStringList({ QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("Delta"),
                            QStringLiteral("gamma") }));
    struct TExpect
    {
        int files, changed, tasks;
        bool checked, enabled;
    };
    const TExpect expected[] = {
        { 2, 2, 0, false, false }, // Alpha
        { 1, 1, 1, true, true }, // beta
        { 0, 0, 1, false, false }, // Delta
        { 1, 0, 2, false, true }, // gamma
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(list.At(i)->Title().toStdString());
        EXPECT_EQ(list.At(i)->FileCount(), expected[i].files);
        EXPECT_EQ(list.At(i)->ChangedFiles(), expected[i].changed);
        EXPECT_EQ(list.SendTasks(i), expected[i].tasks);
        EXPECT_EQ(list.InitiallyChecked(i), expected[i].checked);
        EXPECT_EQ(list.Enabled(i), expected[i].enabled);
    }
    EXPECT_EQ(TProjectStore::Count(), 4);
}

TEST_F(ProjectList, DueProjects)
{
    addFour();
    TProjectList list;
    list.Load();
    list.Parse();
    list.SortByTitle();
    EXPECT_EQ(titles(list.Due(false)), QStringList({ QStringLiteral("beta") }));
    EXPECT_EQ(titles(list.Due(true)),
              QStringList({ QStringLiteral("beta"), QStringLiteral("Delta"), QStringLiteral("gamma") }));
}

TEST_F(ProjectList, TitlesMatchExactlyElseIgnoringCase)
{
    const int iTool = addProject(pkGeneric, QStringLiteral("Tool"));
    const int iTool2 = addProject(pkGeneric, QStringLiteral("tool"));
    addProject(pkGeneric, QStringLiteral("Other"));
    TProjectList list;
    list.Load();
    list.SortByTitle();

    // An exact match wins over the ones that differ in case.
    QList<TProject *> selected = list.Titled({ QStringLiteral("tool") });
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0]->ProjectID(), iTool2);
    // No exact match: every one that matches ignoring case, in list order.
    selected = list.Titled({ QStringLiteral("TOOL"), QStringLiteral("Other") });
    ASSERT_EQ(selected.size(), 3);
    EXPECT_EQ(selected[0]->ProjectID(), iTool);
    EXPECT_EQ(selected[1]->ProjectID(), iTool2);
    EXPECT_EQ(selected[2]->Title(), QStringLiteral("Other"));
    // Titles in the order given, a repeated one repeated.
    EXPECT_EQ(
        titles(list.Titled({ QStringLiteral("Other"), QStringLiteral("Tool"), QStringLiteral("Other") })),
        QStringList({ QStringLiteral("Other"), QStringLiteral("Tool"), QStringLiteral("Other") }));

    try {
        list.Titled({ QStringLiteral("Other"), QStringLiteral("Missing") });
        FAIL() << "no exception";
    } catch (const ENoSuchProject &e) {
        EXPECT_EQ(e.Title(), QStringLiteral("Missing"));
        EXPECT_EQ(e.Message(), QStringLiteral("no project titled 'Missing'"));
    }
}

TEST_F(ProjectList, LoadTitledMakesOnlyTheNamedProjects)
{
    addFour();
    addProject(pkGeneric, QStringLiteral("DELTA"));
    TProjectList list;
    const QList<TProject *> selected
        = list.LoadTitled({ QStringLiteral("gamma"), QStringLiteral("delta"), QStringLiteral("gamma") });
    // "delta" has no exact match, so both spellings; gamma is made once.
    EXPECT_EQ(titles(selected),
              QStringList({ QStringLiteral("gamma"), QStringLiteral("Delta"), QStringLiteral("DELTA"),
                            QStringLiteral("gamma") }));
    EXPECT_EQ(selected[0], selected[3]);
    EXPECT_EQ(titles(list),
              QStringList({ QStringLiteral("gamma"), QStringLiteral("Delta"), QStringLiteral("DELTA") }));

    list.Parse();
    EXPECT_EQ(selected[0]->FileCount(), 1);
    EXPECT_EQ(list.SendTasks(list.IndexOf(selected[0])), 2);
    // The same selection as from the whole list.
    EXPECT_EQ(
        titles(list.Titled({ QStringLiteral("gamma"), QStringLiteral("delta"), QStringLiteral("gamma") })),
        titles(selected));

    // A missing title stops before anything is made; the list stays as it was.
    EXPECT_THROW(list.LoadTitled({ QStringLiteral("beta"), QStringLiteral("nope") }), ENoSuchProject);
    EXPECT_EQ(list.Count(), 3);
}

TEST_F(ProjectList, AppendRemoveAndRefresh)
{
    addFour();
    TProjectList list;
    list.Load();
    list.Parse();
    const int iNew = addProject(pkGeneric, QStringLiteral("Added"));
    addEntry(iNew, file(QStringLiteral("added/x.pas")));
    auto project = CreateProject(pkGeneric, iNew, QStringLiteral("Added"), QString());
    project->Parse();
    const int iIndex = list.Append(std::move(project));
    EXPECT_EQ(iIndex, 4); // at the end, not in title order
    EXPECT_EQ(list.IndexOfID(iNew), 4);
    EXPECT_FALSE(list.Enabled(iIndex));
    addSend(iNew);
    EXPECT_EQ(list.SendTasks(iIndex), 0); // read again only on request
    list.RefreshSendTasks(iIndex);
    EXPECT_EQ(list.SendTasks(iIndex), 1);
    EXPECT_TRUE(list.Enabled(iIndex));
    EXPECT_TRUE(list.InitiallyChecked(iIndex));

    list.RemoveAt(list.IndexOfID(iAlpha));
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.IndexOfID(iAlpha), -1);
    EXPECT_EQ(list.IndexOf(list.At(0)), 0);
}

TEST_F(ProjectList, StoreDeletesAProjectWithWhatBelongsToIt)
{
    addFour();
    const int iGammaTask
        = db->QueryIntegerFmt(QStringLiteral("SELECT MIN(id) FROM send WHERE id_projects = %d"), { iGamma });
    const int iBetaTask
        = db->QueryIntegerFmt(QStringLiteral("SELECT id FROM send WHERE id_projects = %d"), { iBeta });
    db->ExecSQLFmt(
        QStringLiteral("INSERT INTO sendparams (id_send, name, value) VALUES (%d, 'FTPHost', 'h')"),
        { iGammaTask });
    db->ExecSQLFmt(
        QStringLiteral("INSERT INTO sendparams (id_send, name, value) VALUES (%d, 'FileFolder', '/b')"),
        { iBetaTask });

    TProjectStore::Delete(iGamma);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM projects")), 3);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM projects WHERE title = 'gamma'")), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM send")), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM files")), 3);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM sendparams")), 1);
    EXPECT_EQ(db->QueryStringFmt(QStringLiteral("SELECT value FROM sendparams"), {}), QStringLiteral("/b"));

    // A failure on the last step leaves the project whole, tasks and files included.
    db->ExecSQL(QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON projects BEGIN "
                               "SELECT RAISE(ABORT, 'kept'); END"));
    EXPECT_THROW(TProjectStore::Delete(iBeta), ESQLiteException);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM projects")), 3);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM send")), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM files")), 3);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM sendparams")), 1);
    EXPECT_FALSE(db->InTransaction());
}

} // namespace
