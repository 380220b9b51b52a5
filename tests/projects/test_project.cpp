#include "core/daycount.h"
#include "projectdb.h"
#include "projects/project.h"
#include "projects/wildcard.h"

namespace {

// t/ holds:  .hidden.cpp  .svn/g.cpp  __history/i.cpp  a.cpp  b.c  c.cp  d.h
//            my.svn/h.cpp  noext  sub/deep/f.cpp  sub/e.cpp  Z.CPP
class Wildcards : public ProjectDB
{
protected:
    QString t;

    void SetUp() override
    {
        ProjectDB::SetUp();
        const QStringList names = { QStringLiteral("Z.CPP"),          QStringLiteral("sub/e.cpp"),
                                    QStringLiteral("sub/deep/f.cpp"), QStringLiteral("noext"),
                                    QStringLiteral("my.svn/h.cpp"),   QStringLiteral("d.h"),
                                    QStringLiteral("c.cp"),           QStringLiteral("b.c"),
                                    QStringLiteral("a.cpp"),          QStringLiteral("__history/i.cpp"),
                                    QStringLiteral(".svn/g.cpp"),     QStringLiteral(".hidden.cpp") };
        for (const QString &name : names)
            file(QStringLiteral("t/") + name);
        t = sandbox.root() + QStringLiteral("/t");
    }
    // Paths relative to t, for readable expectations.
    QStringList rel(const QStringList &paths) const
    {
        QStringList out;
        for (const QString &p : paths)
            out.append(p.startsWith(t + QLatin1Char('/')) ? p.mid(t.size() + 1) : QStringLiteral("?") + p);
        return out;
    }
    QStringList match(const QString &tail) const { return rel(MatchWildCardList(t + tail)); }
};

} // namespace

TEST(WildcardEntry, OptionsAnywhereInAnyOrderAndCase)
{
    TWildcardEntry e = ParseWildcardEntry(QStringLiteral(" /x/*.pas "));
    EXPECT_EQ(e.sPath, QStringLiteral(" /x/*.pas ")); // no options: untouched
    EXPECT_FALSE(e.bRecursive);
    EXPECT_EQ(e.sExclude, QString());

    e = ParseWildcardEntry(QStringLiteral("/x/*.pas -R -E \".svn; __history\""));
    EXPECT_EQ(e.sPath, QStringLiteral("/x/*.pas"));
    EXPECT_TRUE(e.bRecursive);
    EXPECT_EQ(e.sExclude, QStringLiteral(".svn; __history"));

    e = ParseWildcardEntry(QStringLiteral("/x/*.pas -e \".svn;__history\" -r"));
    EXPECT_EQ(e.sPath, QStringLiteral("/x/*.pas"));
    EXPECT_TRUE(e.bRecursive);
    EXPECT_EQ(e.sExclude, QStringLiteral(".svn;__history"));

    e = ParseWildcardEntry(QStringLiteral("/x/*.pas -e old"));
    EXPECT_FALSE(e.bRecursive);
    EXPECT_EQ(e.sExclude, QStringLiteral("old"));

    // A folder name holding an option cuts the path there.
    e = ParseWildcardEntry(QStringLiteral("/my -Rx/*.pas"));
    EXPECT_EQ(e.sPath, QStringLiteral("/my"));
    EXPECT_TRUE(e.bRecursive);
}

TEST_F(Wildcards, Masks)
{
    EXPECT_EQ(match(QStringLiteral("/*.cpp")),
              QStringList({ QStringLiteral(".hidden.cpp"), QStringLiteral("a.cpp"), QStringLiteral("b.c"),
                            QStringLiteral("c.cp"), QStringLiteral("Z.CPP") }));
    EXPECT_EQ(match(QStringLiteral("/*")),
              QStringList({ QStringLiteral(".hidden.cpp"), QStringLiteral("a.cpp"), QStringLiteral("b.c"),
                            QStringLiteral("c.cp"), QStringLiteral("d.h"), QStringLiteral("noext"),
                            QStringLiteral("Z.CPP") }));
    EXPECT_EQ(match(QStringLiteral("/*.*")), QStringList());
    EXPECT_EQ(match(QStringLiteral("/*.h;*.txt")), QStringList({ QStringLiteral("d.h") }));
    EXPECT_EQ(MatchWildCardCount(t + QStringLiteral("/*.cpp")), 5);
}

TEST_F(Wildcards, RecursiveDepthFirstAndExclusions)
{
    const QStringList all = { QStringLiteral(".hidden.cpp"),
                              QStringLiteral(".svn/g.cpp"),
                              QStringLiteral("__history/i.cpp"),
                              QStringLiteral("a.cpp"),
                              QStringLiteral("b.c"),
                              QStringLiteral("c.cp"),
                              QStringLiteral("my.svn/h.cpp"),
                              QStringLiteral("sub/deep/f.cpp"),
                              QStringLiteral("sub/e.cpp"),
                              QStringLiteral("Z.CPP") };
    EXPECT_EQ(match(QStringLiteral("/*.cpp -r")), all);

    // ".svn" also skips "my.svn"; case does not matter; option order neither.
    const QStringList kept
        = { QStringLiteral(".hidden.cpp"), QStringLiteral("a.cpp"),          QStringLiteral("b.c"),
            QStringLiteral("c.cp"),        QStringLiteral("sub/deep/f.cpp"), QStringLiteral("sub/e.cpp"),
            QStringLiteral("Z.CPP") };
    EXPECT_EQ(match(QStringLiteral("/*.cpp -r -e \".SVN;__history\"")), kept);
    EXPECT_EQ(match(QStringLiteral("/*.cpp -e \".svn;__History\" -r")), kept);

    // A path tail excludes just that folder.
    EXPECT_EQ(match(QStringLiteral("/*.cpp -r -e \"sub/deep;.svn;__history\"")),
              QStringList({ QStringLiteral(".hidden.cpp"), QStringLiteral("a.cpp"), QStringLiteral("b.c"),
                            QStringLiteral("c.cp"), QStringLiteral("sub/e.cpp"), QStringLiteral("Z.CPP") }));

    // A trailing ";" excludes every subfolder.
    EXPECT_EQ(match(QStringLiteral("/*.cpp -r -e \"__history;\"")), match(QStringLiteral("/*.cpp")));
}

TEST_F(Wildcards, FilesFoldersAndNormalisation)
{
    // An existing file is itself, normalised.
    EXPECT_EQ(match(QStringLiteral("/sub/./deep/../e.cpp")), QStringList({ QStringLiteral("sub/e.cpp") }));
    EXPECT_EQ(match(QStringLiteral("/sub/../*.h")), QStringList({ QStringLiteral("d.h") }));
    // A missing file matches nothing: its name is never used as a mask.
    EXPECT_EQ(match(QStringLiteral("/gone.h")), QStringList());
    EXPECT_EQ(match(QStringLiteral("/gone.cpp")), QStringList());
    EXPECT_FALSE(IsWildcardEntry(t + QStringLiteral("/gone.cpp")));
    EXPECT_TRUE(IsWildcardEntry(t + QStringLiteral("/*.cpp")));
    EXPECT_TRUE(IsWildcardEntry(t + QStringLiteral("/x?.cpp")));
    EXPECT_TRUE(IsWildcardEntry(t + QStringLiteral("/.pas;.dfm")));
    EXPECT_TRUE(IsWildcardEntry(t + QStringLiteral("/.cpp -r")));
    // A folder text is no file.
    EXPECT_EQ(match(QStringLiteral("/sub")), QStringList());
    EXPECT_EQ(MatchWildCardCount(t + QStringLiteral("/missing/*.cpp -r")), 0);
    EXPECT_EQ(MatchWildCardCount(QStringLiteral("*.cpp")), 0);
    EXPECT_EQ(MatchWildCardCount(QStringLiteral("t/*.cpp")), 0); // relative: no folder to search
}

TEST_F(Wildcards, ListFromEntriesDuplicatesAndDeletion)
{
    const int p = addProject(0, QStringLiteral("P"));
    const int other = addProject(0, QStringLiteral("Other"));
    const int single = addEntry(p, t + QStringLiteral("/d.h"));
    const int wild = addEntry(p, t + QStringLiteral("/*.cpp"));
    const int again = addEntry(p, t + QStringLiteral("/A.CPP")); // missing: itself, never a mask
    addEntry(other, t + QStringLiteral("/sub/e.cpp"));

    int calls = 0;
    auto oProject = CreateProject(0, p, QStringLiteral("P"), QString(), [&](TProject *o) {
        ++calls;
        EXPECT_EQ(o->ProjectID(), p);
    });
    EXPECT_EQ(oProject->FileCount(), 0);
    EXPECT_EQ(oProject->FileList(), QString());
    oProject->Parse();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(oProject->Kind(), 0);
    ASSERT_EQ(oProject->FileCount(), 7);
    EXPECT_EQ(oProject->Items().at(0).sText, t + QStringLiteral("/d.h"));
    EXPECT_EQ(oProject->Items().at(0).iFileID, single);
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(oProject->Items().at(i).iFileID, wild);
    // The missing single file stays in the list, so that the archive builder
    // reports it as missing.
    EXPECT_EQ(oProject->Items().at(6).iFileID, again);
    EXPECT_EQ(oProject->FileList(),
              QStringLiteral("\"%1/d.h\",\"%1/.hidden.cpp\",\"%1/a.cpp\",\"%1/b.c\","
                             "\"%1/c.cp\",\"%1/Z.CPP\",\"%1/A.CPP\"")
                  .arg(t));
    // Every existing project file is changed for a project never delivered.
    EXPECT_EQ(oProject->ChangedFiles(), 6);

    // A second Parse adds nothing.
    oProject->Parse();
    EXPECT_EQ(oProject->FileCount(), 7);
    oProject->FileDelete(again);

    // Deleting the wildcard entry takes its files although the third entry
    // still matches them; the single-file item stays.
    oProject->FileDelete(wild);
    EXPECT_EQ(oProject->FilePaths(), QStringList({ t + QStringLiteral("/d.h") }));
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM files WHERE id = %d"), { wild }), 0);

    // FileAdd reads this project's new entries only.
    const int added = addEntry(p, t + QStringLiteral("/sub/*.cpp -r"));
    addEntry(other, t + QStringLiteral("/c.cp"));
    oProject->FileAdd(added);
    EXPECT_EQ(oProject->FilePaths(),
              QStringList({ t + QStringLiteral("/d.h"), t + QStringLiteral("/sub/deep/f.cpp"),
                            t + QStringLiteral("/sub/e.cpp") }));
    EXPECT_EQ(calls, 2);
}

TEST_F(ProjectDB, NamesThatDifferOnlyInCaseAreDifferentFiles)
{
    const QString upper = file(QStringLiteral("c/README"));
    const QString lower = file(QStringLiteral("c/readme"));
    const QString pas = file(QStringLiteral("c/Unit.pas"));
    const int p = addProject(0, QStringLiteral("Case"));
    addEntry(p, upper);
    addEntry(p, lower);
    addEntry(p, sandbox.root() + QStringLiteral("/c/*"));
    addEntry(p, sandbox.root() + QStringLiteral("/c/unit.pas")); // no such file on this disk
    TProjectGeneric o(p, QString(), QString());
    o.Parse();
    EXPECT_EQ(o.FilePaths(),
              QStringList({ upper, lower, pas, sandbox.root() + QStringLiteral("/c/unit.pas") }));
}

TEST_F(ProjectDB, ChangedFilesAgainstTheSendDate)
{
    const QString oldFile = file(QStringLiteral("p/old.txt"));
    const QString newFile = file(QStringLiteral("p/new.txt"));
    setMTime(oldFile, QDateTime(QDate(2020, 1, 1), QTime(8, 0)));
    setMTime(newFile, QDateTime(QDate(2020, 3, 1), QTime(12, 0)));
    const QString entry = sandbox.root() + QStringLiteral("/p/*.txt");

    const double sent = DateTimeToDays(QDateTime(QDate(2020, 2, 1), QTime(12, 0)));
    const int delivered = addProject(0, QStringLiteral("Sent"), sent);
    const int exact
        = addProject(0, QStringLiteral("Exact"), DateTimeToDays(QDateTime(QDate(2020, 3, 1), QTime(12, 0))));
    const int never = addProject(0, QStringLiteral("Never"));
    const int zero = addProject(0, QStringLiteral("Zero"), 0);
    for (int id : { delivered, exact, never, zero })
        addEntry(id, entry);

    auto changed = [](int id) {
        TProjectGeneric o(id, QString(), QString());
        o.Parse();
        EXPECT_EQ(o.FileCount(), 2);
        return o.ChangedFiles();
    };
    EXPECT_EQ(changed(delivered), 1);
    EXPECT_EQ(changed(exact), 0); // strictly later only
    EXPECT_EQ(changed(never), 2);
    EXPECT_EQ(changed(zero), 2);
}

// The count after collecting uses the times read while listing; Recount
// reads them anew, so an edit after the listing counts only then.
TEST_F(ProjectDB, RecountReadsTheTimesAnew)
{
    const QString a = file(QStringLiteral("r/a.txt"));
    const QString b = file(QStringLiteral("r/b.txt"));
    const QString single = file(QStringLiteral("s/single.txt"));
    for (const QString &path : { a, b, single })
        setMTime(path, QDateTime(QDate(2020, 1, 1), QTime(8, 0)));
    const int p
        = addProject(0, QStringLiteral("R"), DateTimeToDays(QDateTime(QDate(2020, 2, 1), QTime(12, 0))));
    addEntry(p, sandbox.root() + QStringLiteral("/r/*.txt"));
    addEntry(p, single);
    TProjectGeneric o(p, QString(), QString());
    o.Parse();
    EXPECT_EQ(o.ChangedFiles(), 0);
    setMTime(b, QDateTime(QDate(2020, 3, 1), QTime(12, 0)));
    setMTime(single, QDateTime(QDate(2020, 3, 1), QTime(12, 0)));
    EXPECT_EQ(o.ChangedFiles(), 0);
    o.Recount();
    EXPECT_EQ(o.ChangedFiles(), 2);
    QFile::remove(b);
    o.Recount();
    EXPECT_EQ(o.ChangedFiles(), 1);
}

TEST_F(ProjectDB, CommaTextRoundTrip)
{
    const QString odd = file(QStringLiteral("q/say \"hi\", there.txt"));
    const QString plain = file(QStringLiteral("q/plain.txt"));
    const int p = addProject(0, QStringLiteral("Q"));
    addEntry(p, odd);
    addEntry(p, plain);
    TProjectGeneric o(p, QString(), QString());
    o.Parse();
    EXPECT_EQ(SplitCommaText(o.FileList()), QStringList({ odd, plain }));

    EXPECT_EQ(SplitCommaText(QString()), QStringList());
    EXPECT_EQ(SplitCommaText(QStringLiteral("\"a b\",\"c,d\", e f,")),
              QStringList({ QStringLiteral("a b"), QStringLiteral("c,d"), QStringLiteral("e"),
                            QStringLiteral("f"), QString() }));
    EXPECT_EQ(JoinCommaText({ QStringLiteral("x\"y"), QString() }), QStringLiteral("\"x\"\"y\",\"\""));
}

TEST_F(ProjectDB, FactoryPicksTheKind)
{
    EXPECT_EQ(CreateProject(1, 1, QStringLiteral("D"), QStringLiteral("/x/p.dpr"))->Kind(), 1);
    EXPECT_EQ(CreateProject(7, 3, QStringLiteral("T"), QStringLiteral("f"))->Kind(), 0);
}
