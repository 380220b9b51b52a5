#include "core/progress.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

TEST(ProgressList, CounterLinesAreReplacedByTheNextLine)
{
    TProgressList list;
    int appended = 0, changed = 0;
    QObject::connect(&list, &TProgressList::lineAppended, [&appended](int) { ++appended; });
    QObject::connect(&list, &TProgressList::lineChanged, [&changed](int) { ++changed; });

    list.AddProgress(QStringLiteral("Title"));
    list.ShowProgress(QStringLiteral("  FTP"), 1048576);
    list.ShowProgress(QStringLiteral("  FTP"), 5000000000LL);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Lines().at(1).sText, QStringLiteral("  FTP progress: 5000000000"));
    EXPECT_EQ(list.Lines().at(1).iFlag, 1);

    list.AddProgressFmt(QStringLiteral("!  FTP failed: %s"), { QStringLiteral("530 Login incorrect.") });
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Lines().at(1).sText, QStringLiteral("!  FTP failed: 530 Login incorrect."));
    EXPECT_EQ(list.Lines().at(1).iFlag, 0);
    list.AddProgress(QStringLiteral(" "));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(appended, 3);
    EXPECT_EQ(changed, 2);

    EXPECT_EQ(list.SaveText(), QStringLiteral("Title\r\n!  FTP failed: 530 Login incorrect.\r\n \r\n"));
}
