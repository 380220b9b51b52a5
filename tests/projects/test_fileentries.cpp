#include "projectdb.h"
#include "projects/fileentries.h"
#include "projects/project.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QThreadPool>

namespace {

class FileEntries : public ProjectDB
{
protected:
    QString dir;
    int project = 0;
    std::unique_ptr<TProject> parser;

    void SetUp() override
    {
        ProjectDB::SetUp();
        file(QStringLiteral("src/my_lib/a.cpp"));
        file(QStringLiteral("src/myXlib/b.cpp"));
        file(QStringLiteral("src/myXlib/c.cpp"));
        file(QStringLiteral("src/one.txt"));
        dir = sandbox.root() + QStringLiteral("/src");
        project = addProject(0, QStringLiteral("Tool"));
        parser = CreateProject(0, project, QStringLiteral("Tool"), QString());
    }
    QString entry(const QString &folder, const QString &mask, bool recursive = false,
                  const QString &exclude = QString()) const
    {
        return BuildWildcardEntry({ folder, mask, recursive, exclude }, *parser);
    }
};

} // namespace

TEST_F(FileEntries, WildcardEntryForms)
{
    EXPECT_EQ(entry(dir + QStringLiteral("/my_lib"), QStringLiteral("*.cpp")),
              dir + QStringLiteral("/my_lib/*.cpp"));
    // The folder is normalised; the mask stays as typed.
    EXPECT_EQ(entry(dir + QStringLiteral("/./my_lib/"), QStringLiteral("*.cpp")),
              dir + QStringLiteral("/my_lib/*.cpp"));
    EXPECT_EQ(entry(dir, QStringLiteral("*.cpp"), true), dir + QStringLiteral("/*.cpp -r"));
    EXPECT_EQ(entry(dir, QStringLiteral("*.cpp"), true, QStringLiteral(".svn;__history")),
              dir + QStringLiteral("/*.cpp -r -e \".svn;__history\""));
    // A blank exclusion text adds no option; exclusions need " -r".
    EXPECT_EQ(entry(dir, QStringLiteral("*.cpp"), true, QStringLiteral("  ")),
              dir + QStringLiteral("/*.cpp -r"));
    EXPECT_EQ(entry(dir, QStringLiteral("*.cpp"), false, QStringLiteral(".svn")),
              dir + QStringLiteral("/*.cpp"));
    // Nothing to search: blank fields or a relative folder.
    EXPECT_EQ(entry(QStringLiteral("  "), QStringLiteral("*.cpp")), QString());
    EXPECT_EQ(entry(dir, QStringLiteral(" ")), QString());
    EXPECT_EQ(entry(QStringLiteral("src"), QStringLiteral("*.cpp")), QString());
}

TEST_F(FileEntries, DuplicatesAreComparedExactly)
{
    const QString sMy = dir + QStringLiteral("/my_lib");
    // Recursive forms store the plain path part with options, so they never
    // block one another, nor the plain entry.
    StoreFileEntry(project, entry(sMy, QStringLiteral("*.cpp"), true));
    EXPECT_EQ(entry(sMy, QStringLiteral("*.cpp"), true), sMy + QStringLiteral("/*.cpp -r"));
    StoreFileEntry(project, entry(sMy, QStringLiteral("*.cpp"), true, QStringLiteral(".svn")));
    ASSERT_EQ(entry(sMy, QStringLiteral("*.cpp")), sMy + QStringLiteral("/*.cpp"));
    StoreFileEntry(project, sMy + QStringLiteral("/*.cpp"));
    // The same plain path part again: refused, in either form.
    EXPECT_EQ(entry(sMy, QStringLiteral("*.cpp")), QString());
    EXPECT_EQ(entry(sMy, QStringLiteral("*.cpp"), true), QString());
    // "_" is no wildcard and case counts: other folders and masks are new.
    EXPECT_EQ(entry(dir + QStringLiteral("/myXlib"), QStringLiteral("*.cpp")),
              dir + QStringLiteral("/myXlib/*.cpp"));
    EXPECT_EQ(entry(dir + QStringLiteral("/My_lib"), QStringLiteral("*.cpp")),
              dir + QStringLiteral("/My_lib/*.cpp"));
    EXPECT_EQ(entry(sMy, QStringLiteral("*.CPP")), sMy + QStringLiteral("/*.CPP"));
    // Another project's entry does not count.
    const int other = addProject(0, QStringLiteral("Other"));
    auto otherProject = CreateProject(0, other, QStringLiteral("Other"), QString());
    EXPECT_EQ(BuildWildcardEntry({ sMy, QStringLiteral("*.cpp"), false, QString() }, *otherProject),
              sMy + QStringLiteral("/*.cpp"));

    // A path part that names a file of the list is refused.
    const int id = StoreFileEntry(project, dir + QStringLiteral("/one.txt"));
    parser->FileAdd(id);
    EXPECT_EQ(entry(dir, QStringLiteral("one.txt")), QString());
}

TEST_F(FileEntries, FileTextSplitsAndJoins)
{
    EXPECT_EQ(SplitFileText(QStringLiteral("/a/b.txt")), QStringList({ QStringLiteral("/a/b.txt") }));
    EXPECT_EQ(SplitFileText(QStringLiteral("/a/x, y.txt\r\n\n/b/z.txt\n")),
              QStringList({ QStringLiteral("/a/x, y.txt"), QStringLiteral("/b/z.txt") }));
    EXPECT_EQ(SplitFileText(QStringLiteral("\"/a/x, y.txt\",\"/b/z.txt\"")),
              QStringList({ QStringLiteral("/a/x, y.txt"), QStringLiteral("/b/z.txt") }));
    const QStringList tricky = { QStringLiteral("/a/it's \"q\".txt"), QStringLiteral("/b/c,d e.txt") };
    EXPECT_EQ(SplitFileText(JoinFileText(tricky)), tricky);
    EXPECT_EQ(SplitFileText(JoinFileText({ tricky.front() })), QStringList({ tricky.front() }));
    EXPECT_EQ(JoinFileText({ QStringLiteral("/one/path.txt") }), QStringLiteral("/one/path.txt"));
    EXPECT_TRUE(SplitFileText(QStringLiteral(" \n ")).isEmpty());

    EXPECT_TRUE(ValidFilePaths({ QStringLiteral("/a"), QStringLiteral("/b") }));
    EXPECT_FALSE(ValidFilePaths({ QStringLiteral("/a"), QStringLiteral("b") }));
    EXPECT_FALSE(ValidFilePaths({}));
}

TEST_F(FileEntries, StoresEntriesInOrderWithTheFirstId)
{
    EXPECT_EQ(StoreFileEntries(project, {}), 0);
    const QStringList paths = { dir + QStringLiteral("/one.txt"), dir + QStringLiteral("/it's.txt") };
    const int first = StoreFileEntries(project, paths);
    ASSERT_GT(first, 0);
    QStringList stored;
    db->GetTableStrings(QStringLiteral("SELECT filename FROM files ORDER BY id"), stored);
    EXPECT_EQ(stored, paths);
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT MIN(id) FROM files"), {}), first);
}

TEST_F(FileEntries, CounterReportsOnlyTheLatestRequest)
{
    TWildcardCounter counter;
    counter.SetDelay(0);
    QSignalSpy spy(&counter, &TWildcardCounter::counted);
    counter.Request(dir + QStringLiteral("/*.cpp -r"));
    counter.Request(dir + QStringLiteral("/myXlib/*.cpp"));
    EXPECT_TRUE(counter.Busy());
    EXPECT_TRUE(spy.wait(5000));
    // Whatever else was started has finished and been delivered by now.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), dir + QStringLiteral("/myXlib/*.cpp"));
    EXPECT_EQ(spy.at(0).at(1).toInt(), 2);
    EXPECT_FALSE(counter.Busy());

    counter.Request(dir + QStringLiteral("/*.cpp -r"));
    counter.Cancel();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(spy.size(), 1);
    EXPECT_FALSE(counter.Busy());
}
