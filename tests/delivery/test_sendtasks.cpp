#include "../projects/projectdb.h"
#include "delivery/sendtasks.h"

#include <gtest/gtest.h>

namespace {

class SendTasks : public ProjectDB
{
protected:
    QString stored(int iSendID, const QString &sName)
    {
        return db->QueryString(QStringLiteral("SELECT value FROM sendparams WHERE id_send = ? AND name = ?"),
                               { iSendID, sName });
    }
};

} // namespace

TEST_F(SendTasks, ParametersOneRowPerTaskAndName)
{
    EXPECT_EQ(stored(1, QStringLiteral("EmailFTP")), QString());

    SetSendParam(1, QStringLiteral("FTPHost"), QStringLiteral("first"));
    db->ExecSQL(QStringLiteral("UPDATE sendparams SET modified = '2000-01-01 00:00:00'"));
    SetSendParam(1, QStringLiteral("FTPHost"), QStringLiteral("it's \"second\""));
    SetSendParam(2, QStringLiteral("FTPHost"), QStringLiteral("other task"));
    SetSendParam(1, QStringLiteral("Odd 'name'"), QStringLiteral("v"));

    EXPECT_EQ(db->QueryIntegerFmt(
                  QStringLiteral("SELECT COUNT(*) FROM sendparams WHERE id_send = %d AND name = '%s'"),
                  { 1, QStringLiteral("FTPHost") }),
              1);
    EXPECT_EQ(stored(1, QStringLiteral("FTPHost")), QStringLiteral("it's \"second\""));
    EXPECT_EQ(stored(2, QStringLiteral("FTPHost")), QStringLiteral("other task"));
    EXPECT_EQ(stored(1, QStringLiteral("Odd 'name'")), QStringLiteral("v"));
    EXPECT_EQ(stored(1, QStringLiteral("ftphost")), QString()); // names are exact
    EXPECT_NE(db->QueryStringFmt(
                  QStringLiteral("SELECT modified FROM sendparams WHERE id_send = %d AND name = '%s'"),
                  { 1, QStringLiteral("FTPHost") }),
              QStringLiteral("2000-01-01 00:00:00"));
}

TEST(SendTaskTexts, PlaceholdersInOrderWithoutRescanning)
{
    EXPECT_EQ(skEmail, 0);
    EXPECT_EQ(skFile, 1);
    EXPECT_EQ(skFTP, 2);

    // A title holding "{VERSION}" keeps it; "{LINK}" stays in a subject.
    EXPECT_EQ(ReplaceSubject(QStringLiteral("{PROJECT} {VERSION} {LINK} {project}"),
                             QStringLiteral("My {VERSION}"), QStringLiteral("1.2")),
              QStringLiteral("My {VERSION} 1.2 {LINK} {project}"));
    EXPECT_EQ(ReplaceBody(QStringLiteral("{VERSION} of {PROJECT}\r\n{LINK}\r\n"), QStringLiteral("{LINK}"),
                          QStringLiteral("{PROJECT}"), QStringLiteral("http://x/a.zip")),
              QStringLiteral("{PROJECT} of {LINK}\r\nhttp://x/a.zip\r\n"));
}

TEST(SendTaskTexts, LinkLine)
{
    EXPECT_EQ(EnsureLinkLine(QStringLiteral("Hi\r\nthere\r\n")),
              QStringLiteral("Hi\r\nthere\r\n\r\n{LINK}\r\n"));
    EXPECT_EQ(EnsureLinkLine(QStringLiteral("Hi")), QStringLiteral("Hi\r\n\r\n{LINK}\r\n"));
    EXPECT_EQ(EnsureLinkLine(QString()), QStringLiteral("\r\n{LINK}\r\n"));
    EXPECT_EQ(EnsureLinkLine(QStringLiteral("see {LINK}")), QStringLiteral("see {LINK}"));
}
