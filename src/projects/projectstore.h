#pragma once

#include <QString>
#include <vector>

// A row of the projects table, before any object is made of it.
struct TProjectRow
{
    int ID = 0;
    int Kind = 0; // pkGeneric, pkDelphi
    QString Title;
    QString FileName;
};

// A row of the files table: one file entry of a project.
struct TFileRow
{
    int ID = 0;
    QString FileName;
};

// The one place that reads and writes the projects and files tables. Windows,
// project objects and the delivery go through it; every value travels as a
// bound parameter. Database failures raise ESQLiteException.
//
//   const int id = TProjectStore::Create(pkGeneric, "My Tool", QString());
//   TProjectStore::AddFile(id, "/src/main.cpp");
//   TProjectStore::Delete(id); // with its files and send tasks, all or nothing
class TProjectStore
{
public:
    // Every project, in table order.
    static std::vector<TProjectRow> Rows();
    static int Count();
    // Inserts a project (modified: now) and returns its id.
    static int Create(int iKind, const QString &sTitle, const QString &sFileName);
    // New title; the modified date becomes now.
    static void Rename(int iProjectID, const QString &sTitle);
    // Whether a project has exactly this title.
    static bool TitleTaken(const QString &sTitle);
    // The project's title; empty when there is no such project.
    static QString Title(int iProjectID);
    // The `modified` text (UTC, as SQLite's DATETIME('NOW') writes it).
    static QString Modified(int iProjectID);
    // The project's last delivery as a day count; 0 when never delivered
    // (NULL, 0 or no row).
    static double SendDate(int iProjectID);
    static void SetSendDate(int iProjectID, double dSendDate);
    // Number of send tasks of the project.
    static int SendTaskCount(int iProjectID);
    // Deletes a project with its send tasks' parameters, its send tasks and
    // its file entries in one transaction: a failure leaves every row.
    static void Delete(int iProjectID);

    // The project's file entries in table order; with iFromID only those
    // whose id is at least iFromID.
    static std::vector<TFileRow> Files(int iProjectID, int iFromID = 0);
    // Whether the project stores an entry with exactly this text.
    static bool HasFile(int iProjectID, const QString &sEntry);
    // Stores one entry (modified: now); returns its id.
    static int AddFile(int iProjectID, const QString &sEntry);
    static void DeleteFile(int iFileID);
};
