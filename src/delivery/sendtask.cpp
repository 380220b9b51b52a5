#include "delivery/sendtask.h"

#include "core/globals.h"
#include "core/sqlite.h"

namespace SendParam {

QString DefaultSubject()
{
    return QStringLiteral("Source code for {PROJECT} {VERSION}");
}

QString DefaultMessage()
{
    return QStringLiteral("Here's the source code for version {VERSION} of {PROJECT}. There's a \r\n"
                          "readme.htm file inside the zip with more details.\r\n");
}

QString EncryptionValue(TZipEncryption eEncryption)
{
    return eEncryption == TZipEncryption::Aes256 ? ZipEncryptionAes256 : ZipEncryptionTraditional;
}

TZipEncryption EncryptionOf(const QString &sValue)
{
    return sValue == ZipEncryptionAes256 ? TZipEncryption::Aes256 : TZipEncryption::Traditional;
}

} // namespace SendParam

QString TSendTask::Param(const QString &sName) const
{
    for (const auto &[sKey, sValue] : FParams) {
        if (sKey == sName)
            return sValue;
    }
    return QString();
}

bool TSendTask::HasParam(const QString &sName) const
{
    for (const auto &param : FParams) {
        if (param.first == sName)
            return true;
    }
    return false;
}

void TSendTask::SetParam(const QString &sName, const QString &sValue)
{
    for (auto &param : FParams) {
        if (param.first == sName) {
            param.second = sValue;
            return;
        }
    }
    FParams.append({ sName, sValue });
}

QString TSendTask::DestinationParam(int iKind)
{
    switch (iKind) {
    case skEmail:
        return SendParam::EmailRecipient;
    case skFile:
        return SendParam::FileFolder;
    case skFTP:
        return SendParam::FTPHost;
    default:
        return QString();
    }
}

QString TSendTask::Destination() const
{
    const QString sName = DestinationParam(Kind);
    return sName.isEmpty() ? QString() : Param(sName);
}

QString TSendTask::ListText() const
{
    QString sText;
    switch (Kind) {
    case skEmail:
        sText = QStringLiteral("Email to %1").arg(Destination());
        break;
    case skFile:
        sText = QStringLiteral("File to %1").arg(Destination());
        break;
    case skFTP:
        sText = QStringLiteral("FTP to %1").arg(Destination());
        break;
    default:
        return QString();
    }
    // Without a password nothing is encrypted, so there is no choice to show.
    if (!ZipPassword.isEmpty())
        sText += Encryption() == TZipEncryption::Aes256 ? QStringLiteral(", AES-256")
                                                        : QStringLiteral(", traditional encryption");
    return sText;
}

int TSendTask::RetentionIndex(int iInvalid) const
{
    bool ok = false;
    const int iIndex = Param(SendParam::EmailRetention).trimmed().toInt(&ok);
    return ok ? iIndex : iInvalid;
}

void TSendTask::LoadParams()
{
    FParams.clear();
    auto table = DB->Query(QStringLiteral("SELECT name, value FROM sendparams WHERE id_send = ? ORDER BY id"),
                           { ID });
    for (; table && !table->Eof(); table->Next()) {
        // A name stored twice reads as its first row, as a single read does.
        const QString sName = table->FieldAsString(0);
        if (!HasParam(sName))
            FParams.append({ sName, table->FieldAsString(1) });
    }
}

std::optional<TSendTask> TSendTask::Load(int iSendID)
{
    if (iSendID <= 0)
        return std::nullopt;
    TSendTask task;
    {
        auto table = DB->Query(QStringLiteral("SELECT type, zippassword, id_projects FROM send WHERE id = ?"),
                               { iSendID });
        if (!table || table->Eof())
            return std::nullopt;
        task.ID = iSendID;
        task.Kind = int(table->FieldAsInteger(0));
        task.ZipPassword = table->FieldAsString(1);
        task.ProjectID = int(table->FieldAsInteger(2));
    }
    task.LoadParams();
    return task;
}

std::vector<TSendTask> TSendTask::LoadProject(int iProjectID, bool bParams)
{
    std::vector<TSendTask> tasks;
    {
        auto table = DB->Query(QStringLiteral("SELECT id, type, zippassword FROM send WHERE id_projects = ?"),
                               { iProjectID });
        for (; table && !table->Eof(); table->Next()) {
            TSendTask task(iProjectID, int(table->FieldAsInteger(1)));
            task.ID = int(table->FieldAsInteger(0));
            task.ZipPassword = table->FieldAsString(2);
            tasks.push_back(std::move(task));
        }
    }
    if (bParams) {
        for (TSendTask &task : tasks)
            task.LoadParams();
    }
    return tasks;
}

void TSendTask::Save()
{
    if (ID <= 0) {
        if (ProjectID == 0)
            DB->Exec(QStringLiteral("INSERT INTO send (id, id_projects, type, zippassword, modified) "
                                    "VALUES (NULL, 0, ?, ?, DATETIME('NOW'))"),
                     { Kind, ZipPassword });
        else
            DB->Exec(QStringLiteral("INSERT INTO send (id, id_projects, type, zippassword, modified) "
                                    "VALUES (NULL, ?, ?, ?, DATETIME('NOW'))"),
                     { ProjectID, Kind, ZipPassword });
        ID = int(DB->LastInsertRowID());
    } else {
        DB->Exec(QStringLiteral("UPDATE send SET zippassword = ?, modified = DATETIME('NOW') WHERE id = ?"),
                 { ZipPassword, ID });
    }
    for (const auto &[sName, sValue] : FParams)
        SetSendParam(ID, sName, sValue);
}

void TSendTask::Delete(int iSendID)
{
    TTransaction transaction(*DB);
    DB->Exec(QStringLiteral("DELETE FROM send WHERE id = ?"), { iSendID });
    DB->Exec(QStringLiteral("DELETE FROM sendparams WHERE id_send = ?"), { iSendID });
    transaction.Commit();
}

QList<std::pair<int, QString>> TSendTask::FindParam(const QString &sName, const QString &sText)
{
    QList<std::pair<int, QString>> found;
    auto table
        = DB->Query(QStringLiteral("SELECT value, id_send FROM sendparams WHERE name = ? AND value LIKE ?"),
                    { sName, QLatin1Char('%') + sText + QLatin1Char('%') });
    for (; table && !table->Eof(); table->Next())
        found.append({ int(table->FieldAsInteger(1)), table->FieldAsString(0) });
    return found;
}

bool TSendTask::ParamStored(const QString &sName, const QString &sValue)
{
    return DB->QueryInteger(QStringLiteral("SELECT id FROM sendparams WHERE name = ? AND value = ?"),
                            { sName, sValue })
        > 0;
}
