#include "delivery/sendtask.h"
#include "deliverydb.h"

#include <gtest/gtest.h>

namespace {

class SendTask : public DeliveryDB
{
protected:
    int addSend(int iProject, int iKind, const QString &sPassword)
    {
        db->ExecSQLFmt(
            QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (%d, %d, '%s')"),
            { iProject, iKind, SQLEscape(sPassword) });
        return int(db->LastInsertRowID());
    }
    // "name=value" of every parameter row of a task, in row order.
    QStringList paramRows(int iSendID)
    {
        QStringList rows;
        auto table = db->GetTableFmt(
            QStringLiteral("SELECT name, value FROM sendparams WHERE id_send = %d ORDER BY id"), { iSendID });
        for (; !table->Eof(); table->Next())
            rows << table->FieldAsString(0) + QLatin1Char('=') + table->FieldAsString(1);
        return rows;
    }
    QString sendRow(int iSendID)
    {
        auto table = db->GetTableFmt(
            QStringLiteral(
                "SELECT id_projects, type, zippassword, modified IS NOT NULL FROM send WHERE id = %d"),
            { iSendID });
        if (table->Eof())
            return QStringLiteral("<none>");
        return QStringLiteral("%1|%2|%3|%4")
            .arg(table->FieldAsInteger(0))
            .arg(table->FieldAsInteger(1))
            .arg(table->FieldAsString(2))
            .arg(table->FieldAsInteger(3));
    }
};

TEST_F(SendTask, LoadReadsTheRowAndEveryParameter)
{
    const int iOther = addSend(4, skFile, QString());
    param(iOther, QStringLiteral("FileFolder"), QStringLiteral("/elsewhere"));
    const int iID = addSend(4, skFTP, QStringLiteral("zip'pw"));
    param(iID, QStringLiteral("FTPHost"), QStringLiteral("ftp.example.org"));
    param(iID, QStringLiteral("FTPLogin"), QStringLiteral("joe"));
    param(iID, QStringLiteral("FTPPassword"), QStringLiteral("se'cret"));

    const std::optional<TSendTask> task = TSendTask::Load(iID);
    ASSERT_TRUE(task.has_value());
    EXPECT_EQ(task->ID, iID);
    EXPECT_EQ(task->ProjectID, 4);
    EXPECT_EQ(task->Kind, skFTP);
    EXPECT_EQ(task->ZipPassword, QStringLiteral("zip'pw"));
    EXPECT_EQ(task->Param(SendParam::FTPHost), QStringLiteral("ftp.example.org"));
    EXPECT_EQ(task->Param(SendParam::FTPPassword), QStringLiteral("se'cret"));
    EXPECT_EQ(task->Param(SendParam::FTPDirectory), QString());
    EXPECT_FALSE(task->HasParam(SendParam::FTPDirectory));
    EXPECT_FALSE(task->HasParam(SendParam::FileFolder));
    EXPECT_EQ(task->Params().size(), 3);
    EXPECT_EQ(task->Destination(), QStringLiteral("ftp.example.org"));
    EXPECT_EQ(task->ListText(), QStringLiteral("FTP to ftp.example.org, traditional encryption"));

    EXPECT_FALSE(TSendTask::Load(9999).has_value());
    EXPECT_FALSE(TSendTask::Load(0).has_value());
}

TEST_F(SendTask, SaveInsertsANewTaskThenUpdatesIt)
{
    TSendTask task(7, skEmail);
    task.ZipPassword = QStringLiteral("pw");
    task.SetParam(SendParam::EmailRecipient, QStringLiteral("o'brien@example.org"));
    task.SetParam(SendParam::EmailSubject, SendParam::DefaultSubject());
    task.SetParam(SendParam::EmailFTP, QStringLiteral("0"));
    task.Save();
    ASSERT_GT(task.ID, 0);
    EXPECT_EQ(sendRow(task.ID), QStringLiteral("7|0|pw|1"));
    EXPECT_EQ(paramRows(task.ID),
              QStringList({ QStringLiteral("EmailRecipient=o'brien@example.org"),
                            QStringLiteral("EmailSubject=Source code for {PROJECT} {VERSION}"),
                            QStringLiteral("EmailFTP=0") }));

    // Editing: the password and the changed parameters, still one row each.
    const int iID = task.ID;
    task.ZipPassword = QString();
    task.SetParam(SendParam::EmailFTP, QStringLiteral("1"));
    task.SetParam(SendParam::EmailRetention, QStringLiteral("-1"));
    task.Save();
    EXPECT_EQ(task.ID, iID);
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM send"), {}), 1);
    EXPECT_EQ(sendRow(iID), QStringLiteral("7|0||1"));
    EXPECT_EQ(paramRows(iID),
              QStringList({ QStringLiteral("EmailRecipient=o'brien@example.org"),
                            QStringLiteral("EmailSubject=Source code for {PROJECT} {VERSION}"),
                            QStringLiteral("EmailFTP=1"), QStringLiteral("EmailRetention=-1") }));

    // What was saved loads back equal.
    EXPECT_EQ(TSendTask::Load(iID).value(), task);
    EXPECT_TRUE(task.UsesStagingFTP());
    EXPECT_EQ(task.RetentionIndex(1), -1);
}

TEST_F(SendTask, AddressBookEntryBelongsToNoProject)
{
    TSendTask entry(0, skFTP);
    entry.ZipPassword = QStringLiteral("q");
    entry.SetParam(SendParam::FTPHost, QStringLiteral("ftp.example.org"));
    entry.Save();
    EXPECT_EQ(sendRow(entry.ID), QStringLiteral("0|2|q|1"));
    // Listed with the address book (owner 0), never with a project.
    EXPECT_EQ(TSendTask::LoadProject(0).size(), 1u);
    EXPECT_TRUE(TSendTask::LoadProject(1).empty());
}

TEST_F(SendTask, LoadProjectKeepsCreationOrder)
{
    const int iA = addSend(3, skFile, QStringLiteral("a"));
    addSend(5, skFile, QStringLiteral("other project"));
    const int iB = addSend(3, 7, QString()); // an unknown kind still loads
    const int iC = addSend(3, skEmail, QString());
    param(iA, QStringLiteral("FileFolder"), QStringLiteral("/out"));
    param(iC, QStringLiteral("EmailRecipient"), QStringLiteral("ann@example.org"));
    param(iC, QStringLiteral("EmailRetention"), QStringLiteral("soon"));

    const std::vector<TSendTask> tasks = TSendTask::LoadProject(3);
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].ID, iA);
    EXPECT_EQ(tasks[0].ListText(), QStringLiteral("File to /out, traditional encryption"));
    EXPECT_EQ(tasks[1].ID, iB);
    EXPECT_EQ(tasks[1].Kind, 7);
    EXPECT_EQ(tasks[1].Destination(), QString());
    EXPECT_EQ(tasks[1].ListText(), QString());
    EXPECT_EQ(tasks[2].ID, iC);
    EXPECT_EQ(tasks[2].ListText(), QStringLiteral("Email to ann@example.org"));
    EXPECT_EQ(tasks[2].RetentionIndex(1), 1); // not a number
    EXPECT_FALSE(tasks[2].UsesStagingFTP()); // no EmailFTP row: attach
}

TEST_F(SendTask, DuplicateRowsReadAsTheFirst)
{
    const int iID = addSend(1, skFile, QString());
    param(iID, QStringLiteral("FileFolder"), QStringLiteral("/first"));
    param(iID, QStringLiteral("FileFolder"), QStringLiteral("/second"));
    EXPECT_EQ(TSendTask::Load(iID)->Param(SendParam::FileFolder),
              TSendTask::Load(iID)->Param(QStringLiteral("FileFolder")));
    EXPECT_EQ(TSendTask::Load(iID)->Param(SendParam::FileFolder), QStringLiteral("/first"));
}

TEST_F(SendTask, DeleteTakesTheParametersAlong)
{
    const int iID = addSend(1, skFile, QString());
    const int iKeep = addSend(1, skFile, QString());
    param(iID, QStringLiteral("FileFolder"), QStringLiteral("/a"));
    param(iKeep, QStringLiteral("FileFolder"), QStringLiteral("/b"));
    TSendTask::Delete(iID);
    EXPECT_EQ(sendRow(iID), QStringLiteral("<none>"));
    EXPECT_TRUE(paramRows(iID).isEmpty());
    EXPECT_EQ(paramRows(iKeep), QStringList({ QStringLiteral("FileFolder=/b") }));
}

TEST_F(SendTask, ZipEncryptionIsTraditionalUnlessTheTaskSaysAes)
{
    // Stored before there was a choice: no row.
    const int iID = addSend(1, skFile, QStringLiteral("pw"));
    param(iID, QStringLiteral("FileFolder"), QStringLiteral("/out"));
    EXPECT_EQ(TSendTask::Load(iID)->Encryption(), TZipEncryption::Traditional);
    TSendTask task = TSendTask::Load(iID).value();
    EXPECT_EQ(task.Encryption(), TZipEncryption::Traditional);

    task.SetEncryption(TZipEncryption::Aes256);
    task.Save();
    EXPECT_EQ(paramRows(iID),
              QStringList({ QStringLiteral("FileFolder=/out"), QStringLiteral("Zip encryption=aes256") }));
    EXPECT_EQ(TSendTask::Load(iID)->Encryption(), TZipEncryption::Aes256);
    EXPECT_EQ(TSendTask::Load(iID)->ListText(), QStringLiteral("File to /out, AES-256"));

    task.SetEncryption(TZipEncryption::Traditional);
    task.Save();
    EXPECT_EQ(TSendTask::Load(iID)->Param(QStringLiteral("Zip encryption")), QStringLiteral("traditional"));
    EXPECT_EQ(TSendTask::Load(iID)->ListText(), QStringLiteral("File to /out, traditional encryption"));

    // Without a password nothing is encrypted: the line names no scheme.
    task.SetEncryption(TZipEncryption::Aes256);
    task.ZipPassword.clear();
    task.Save();
    EXPECT_EQ(TSendTask::Load(iID)->ListText(), QStringLiteral("File to /out"));

    // A value written by hand that is not exactly "aes256" is not AES.
    SetSendParam(iID, QStringLiteral("Zip encryption"), QStringLiteral("AES256"));
    EXPECT_EQ(TSendTask::Load(iID)->Encryption(), TZipEncryption::Traditional);
}

TEST_F(SendTask, EditorDefaults)
{
    EXPECT_EQ(SendParam::DefaultMessage(),
              QStringLiteral("Here's the source code for version {VERSION} of {PROJECT}. There's a \r\n"
                             "readme.htm file inside the zip with more details.\r\n"));
    EXPECT_EQ(TSendTask::DestinationParam(skEmail), QStringLiteral("EmailRecipient"));
    EXPECT_EQ(TSendTask::DestinationParam(skFile), QStringLiteral("FileFolder"));
    EXPECT_EQ(TSendTask::DestinationParam(skFTP), QStringLiteral("FTPHost"));
}

} // namespace

TEST_F(SendTask, FindParamAndParamStoredSearchEveryTask)
{
    const int iA = addSend(4, skEmail, QString());
    param(iA, QStringLiteral("EmailRecipient"), QStringLiteral("Ann@Example.com"));
    const int iB = addSend(0, skEmail, QString());
    param(iB, QStringLiteral("EmailRecipient"), QStringLiteral("o'brien@example.org"));
    param(iB, QStringLiteral("EmailSubject"), QStringLiteral("ann@example.com"));

    const QList<std::pair<int, QString>> found
        = TSendTask::FindParam(QStringLiteral("EmailRecipient"), QStringLiteral("EXAMPLE"));
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0], std::make_pair(iA, QStringLiteral("Ann@Example.com")));
    EXPECT_EQ(found[1], std::make_pair(iB, QStringLiteral("o'brien@example.org")));
    // The text is bound: a quote is part of it, not of the statement.
    EXPECT_EQ(TSendTask::FindParam(QStringLiteral("EmailRecipient"), QStringLiteral("o'b")).size(), 1);
    EXPECT_TRUE(
        TSendTask::FindParam(QStringLiteral("EmailRecipient"), QStringLiteral("' OR '1'='1")).isEmpty());

    EXPECT_TRUE(
        TSendTask::ParamStored(QStringLiteral("EmailRecipient"), QStringLiteral("o'brien@example.org")));
    EXPECT_FALSE(TSendTask::ParamStored(QStringLiteral("EmailRecipient"), QStringLiteral("ann@example.com")));
    EXPECT_TRUE(TSendTask::ParamStored(QStringLiteral("EmailSubject"), QStringLiteral("ann@example.com")));
}
