#include "projectdb.h"
#include "projects/project.h"
#include "projects/projectstore.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

class ProjectStore : public ProjectDB
{
protected:
    QString column(const QString &sSQL, int iID) { return db->QueryString(sSQL, { iID }); }
};

TEST_F(ProjectStore, CreateStoresKindTitleFileAndDate)
{
    const int iFirst = TProjectStore::Create(pkDelphi, QStringLiteral("O'Neil's \"tool\"; --"),
                                             QStringLiteral("/src/it's/main.dpr"));
    const int iSecond = TProjectStore::Create(pkGeneric, QStringLiteral("Plain"), QString());
    EXPECT_GT(iFirst, 0);
    EXPECT_EQ(iSecond, iFirst + 1);

    const std::vector<TProjectRow> rows = TProjectStore::Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].ID, iFirst);
    EXPECT_EQ(rows[0].Kind, 1);
    EXPECT_EQ(rows[0].Title, QStringLiteral("O'Neil's \"tool\"; --"));
    EXPECT_EQ(rows[0].FileName, QStringLiteral("/src/it's/main.dpr"));
    EXPECT_EQ(rows[1].Kind, 0);
    EXPECT_EQ(rows[1].FileName, QString());
    EXPECT_EQ(TProjectStore::Count(), 2);
    EXPECT_EQ(TProjectStore::Title(iSecond), QStringLiteral("Plain"));
    EXPECT_EQ(TProjectStore::Title(9999), QString());

    // SQLite's own UTC text, shown as it is by the editor.
    static const QRegularExpression dateTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    EXPECT_TRUE(dateTime.match(TProjectStore::Modified(iFirst)).hasMatch())
        << TProjectStore::Modified(iFirst).toStdString();
    EXPECT_EQ(TProjectStore::Modified(9999), QString());
}

TEST_F(ProjectStore, RenameChangesTitleAndModifiedOnly)
{
    const int iID = TProjectStore::Create(pkGeneric, QStringLiteral("Old"), QStringLiteral("/a/b"));
    const int iOther = TProjectStore::Create(pkGeneric, QStringLiteral("Other"), QString());
    db->Exec(QStringLiteral("UPDATE projects SET modified = '2001-02-03 04:05:06'"), {});

    TProjectStore::Rename(iID, QStringLiteral("New 'one'"));
    EXPECT_EQ(TProjectStore::Title(iID), QStringLiteral("New 'one'"));
    EXPECT_NE(TProjectStore::Modified(iID), QStringLiteral("2001-02-03 04:05:06"));
    EXPECT_EQ(column(QStringLiteral("SELECT filename FROM projects WHERE id = ?"), iID),
              QStringLiteral("/a/b"));
    EXPECT_EQ(TProjectStore::Title(iOther), QStringLiteral("Other"));
    EXPECT_EQ(TProjectStore::Modified(iOther), QStringLiteral("2001-02-03 04:05:06"));
}

TEST_F(ProjectStore, TitleTakenComparesExactly)
{
    TProjectStore::Create(pkGeneric, QStringLiteral("Tool's"), QString());
    EXPECT_TRUE(TProjectStore::TitleTaken(QStringLiteral("Tool's")));
    EXPECT_FALSE(TProjectStore::TitleTaken(QStringLiteral("tool's")));
    EXPECT_FALSE(TProjectStore::TitleTaken(QStringLiteral("Tool")));
    EXPECT_FALSE(TProjectStore::TitleTaken(QStringLiteral("Tool%")));
    EXPECT_FALSE(TProjectStore::TitleTaken(QStringLiteral("' OR 1=1 --")));
}

TEST_F(ProjectStore, SendDateReadsZeroUntilSet)
{
    const int iID = addProject(pkGeneric, QStringLiteral("Never"));
    EXPECT_EQ(TProjectStore::SendDate(iID), 0.0);
    EXPECT_EQ(TProjectStore::SendDate(9999), 0.0);
    TProjectStore::SetSendDate(iID, 46000.25);
    EXPECT_EQ(TProjectStore::SendDate(iID), 46000.25);
    EXPECT_EQ(db->QueryDouble(QStringLiteral("SELECT senddate FROM projects WHERE id = ?"), { iID }),
              46000.25);
}

TEST_F(ProjectStore, FileEntriesBelongToTheirProject)
{
    const int iA = addProject(pkGeneric, QStringLiteral("A"));
    const int iB = addProject(pkGeneric, QStringLiteral("B"));
    const int iA1 = TProjectStore::AddFile(iA, QStringLiteral("/src/a'1.c"));
    const int iB1 = TProjectStore::AddFile(iB, QStringLiteral("/src/b1.c"));
    const int iA2 = TProjectStore::AddFile(iA, QStringLiteral("/src/*.h -r -e \"old\""));
    EXPECT_EQ(iB1, iA1 + 1);
    EXPECT_EQ(iA2, iA1 + 2);
    EXPECT_FALSE(column(QStringLiteral("SELECT modified FROM files WHERE id = ?"), iA1).isEmpty());

    std::vector<TFileRow> rows = TProjectStore::Files(iA);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].ID, iA1);
    EXPECT_EQ(rows[0].FileName, QStringLiteral("/src/a'1.c"));
    EXPECT_EQ(rows[1].ID, iA2);
    EXPECT_EQ(rows[1].FileName, QStringLiteral("/src/*.h -r -e \"old\""));
    // From an id on: B's newer row must not slip in.
    rows = TProjectStore::Files(iA, iB1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ID, iA2);

    EXPECT_TRUE(TProjectStore::HasFile(iA, QStringLiteral("/src/a'1.c")));
    EXPECT_FALSE(TProjectStore::HasFile(iB, QStringLiteral("/src/a'1.c")));
    EXPECT_FALSE(TProjectStore::HasFile(iA, QStringLiteral("/src/A'1.c")));
    EXPECT_FALSE(TProjectStore::HasFile(iA, QStringLiteral("/src/*.h")));

    TProjectStore::DeleteFile(iA1);
    rows = TProjectStore::Files(iA);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ID, iA2);
    EXPECT_EQ(TProjectStore::Files(iB).size(), 1u);
}

TEST_F(ProjectStore, SendTaskCountIsPerProject)
{
    const int iA = addProject(pkGeneric, QStringLiteral("A"));
    const int iB = addProject(pkGeneric, QStringLiteral("B"));
    db->Exec(QStringLiteral("INSERT INTO send (id_projects, type) VALUES (?, 0), (?, 1), (?, 2)"),
             { iA, iA, iB });
    EXPECT_EQ(TProjectStore::SendTaskCount(iA), 2);
    EXPECT_EQ(TProjectStore::SendTaskCount(iB), 1);
    EXPECT_EQ(TProjectStore::SendTaskCount(9999), 0);
}

} // namespace
