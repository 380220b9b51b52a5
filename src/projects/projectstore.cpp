#include "projects/projectstore.h"

#include "core/globals.h"
#include "core/sqlite.h"

std::vector<TProjectRow> TProjectStore::Rows()
{
    std::vector<TProjectRow> rows;
    auto table = DB->Query(QStringLiteral("SELECT id, type, title, filename FROM projects"), {});
    for (; table && !table->Eof(); table->Next())
        rows.push_back({ int(table->FieldAsInteger(0)), int(table->FieldAsInteger(1)),
                         table->FieldAsString(2), table->FieldAsString(3) });
    return rows;
}

int TProjectStore::Count()
{
    return int(DB->QueryInteger(QStringLiteral("SELECT COUNT(id) FROM projects"), {}));
}

int TProjectStore::Create(int iKind, const QString &sTitle, const QString &sFileName)
{
    DB->Exec(QStringLiteral("INSERT INTO projects (id, type, title, filename, modified) "
                            "VALUES (NULL, ?, ?, ?, DATETIME('NOW'))"),
             { iKind, sTitle, sFileName });
    return int(DB->LastInsertRowID());
}

void TProjectStore::Rename(int iProjectID, const QString &sTitle)
{
    DB->Exec(QStringLiteral("UPDATE projects SET title = ?, modified = DATETIME('NOW') WHERE id = ?"),
             { sTitle, iProjectID });
}

bool TProjectStore::TitleTaken(const QString &sTitle)
{
    return DB->QueryInteger(QStringLiteral("SELECT COUNT(id) FROM projects WHERE title = ?"), { sTitle })
        != 0;
}

QString TProjectStore::Title(int iProjectID)
{
    return DB->QueryString(QStringLiteral("SELECT title FROM projects WHERE id = ?"), { iProjectID });
}

QString TProjectStore::Modified(int iProjectID)
{
    return DB->QueryString(QStringLiteral("SELECT modified FROM projects WHERE id = ?"), { iProjectID });
}

double TProjectStore::SendDate(int iProjectID)
{
    return DB->QueryDouble(QStringLiteral("SELECT senddate FROM projects WHERE id = ?"), { iProjectID });
}

void TProjectStore::SetSendDate(int iProjectID, double dSendDate)
{
    DB->Exec(QStringLiteral("UPDATE projects SET senddate = ? WHERE id = ?"), { dSendDate, iProjectID });
}

int TProjectStore::SendTaskCount(int iProjectID)
{
    return int(
        DB->QueryInteger(QStringLiteral("SELECT COUNT(id) FROM send WHERE id_projects = ?"), { iProjectID }));
}

void TProjectStore::Delete(int iProjectID)
{
    // All or nothing: a failure half-way must not leave orphaned rows.
    TTransaction transaction(*DB);
    DB->Exec(
        QStringLiteral("DELETE FROM sendparams WHERE id_send IN (SELECT id FROM send WHERE id_projects = ?)"),
        { iProjectID });
    DB->Exec(QStringLiteral("DELETE FROM send WHERE id_projects = ?"), { iProjectID });
    DB->Exec(QStringLiteral("DELETE FROM files WHERE id_projects = ?"), { iProjectID });
    DB->Exec(QStringLiteral("DELETE FROM projects WHERE id = ?"), { iProjectID });
    transaction.Commit();
}

std::vector<TFileRow> TProjectStore::Files(int iProjectID, int iFromID)
{
    std::vector<TFileRow> rows;
    auto table = DB->Query(QStringLiteral("SELECT id, filename FROM files WHERE id >= ? AND id_projects = ?"),
                           { iFromID, iProjectID });
    for (; table && !table->Eof(); table->Next())
        rows.push_back({ int(table->FieldAsInteger(0)), table->FieldAsString(1) });
    return rows;
}

bool TProjectStore::HasFile(int iProjectID, const QString &sEntry)
{
    return DB->QueryInteger(
               QStringLiteral("SELECT COUNT(id) FROM files WHERE id_projects = ? AND filename = ?"),
               { iProjectID, sEntry })
        > 0;
}

int TProjectStore::AddFile(int iProjectID, const QString &sEntry)
{
    DB->Exec(QStringLiteral("INSERT INTO files (id, id_projects, filename, modified) "
                            "VALUES (NULL, ?, ?, DATETIME('NOW'))"),
             { iProjectID, sEntry });
    return int(DB->LastInsertRowID());
}

void TProjectStore::DeleteFile(int iFileID)
{
    DB->Exec(QStringLiteral("DELETE FROM files WHERE id = ?"), { iFileID });
}
