#pragma once

#include "core/exceptions.h"
#include "projects/projectstore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TProject;

// A title that names no project.
class ENoSuchProject : public Exception
{
public:
    explicit ENoSuchProject(const QString &sTitle)
        : Exception(QStringLiteral("no project titled '%1'").arg(sTitle))
        , FTitle(sTitle)
    { }
    const QString &Title() const { return FTitle; }

private:
    QString FTitle;
};

// The projects the program shows or delivers, with the rules that pick them:
// the main window lists every project (checked when it has send tasks and
// changed files, enabled when it has send tasks and files); the command line
// delivers the due ones, all with send tasks, or the ones named by title.
//
//   TProjectList list;
//   list.Load();          // every project, not yet parsed
//   list.Parse();         // file lists and change counts
//   list.SortByTitle();
//   for (TProject *p : list.Due(false)) ...
//
//   TProjectList named;
//   const QList<TProject *> selected = named.LoadTitled({ "MyTool" }); // reads and makes only MyTool
//   named.Parse();
//
// The list owns its project objects; the rows are read through TProjectStore.
// Database failures raise ESQLiteException.
class TProjectList
{
public:
    TProjectList();
    ~TProjectList();
    TProjectList(const TProjectList &) = delete;
    TProjectList &operator=(const TProjectList &) = delete;

    // A title matches exactly; when no project matches a title exactly, the
    // ones that match it ignoring case do. Rows in their order.
    static QList<int> MatchTitle(const std::vector<TProjectRow> &rows, const QString &sTitle);

    // Replaces the list by one unparsed object per project, in table order.
    void Load();
    // Replaces the list by objects of only the projects the titles name (each
    // project once) and returns the selection: per title, in the order given,
    // its matches (MatchTitle). Throws ENoSuchProject for the first title
    // without a match, before any object is made.
    QList<TProject *> LoadTitled(const QStringList &lTitles);
    // Parses every project not parsed yet, in list order, and reads the send
    // task counts.
    void Parse();
    // Parses one project (again, if it was) and re-reads its send task count.
    void ParseAt(int iIndex);
    // Whether the project at iIndex was parsed (or adopted).
    bool Parsed(int iIndex) const;
    // Replaces the unparsed object at iIndex by one of the same project parsed
    // elsewhere (a worker thread), with its send task count; the old object
    // is freed.
    void Adopt(int iIndex, std::unique_ptr<TProject> oProject, int iSendTasks);
    // The listed projects as rows, in list order.
    std::vector<TProjectRow> Rows() const;
    // Stable sort by title, ignoring case: the main window's order.
    void SortByTitle();

    int Count() const { return int(FItems.size()); }
    bool IsEmpty() const { return FItems.empty(); }
    TProject *At(int iIndex) const;
    // The index of the object or of the project id; -1 when not listed.
    int IndexOf(const TProject *oProject) const;
    int IndexOfID(int iProjectID) const;

    // Takes ownership of a project made elsewhere (a new one from the
    // project editor, already parsed) and appends it; returns its index.
    int Append(std::unique_ptr<TProject> oProject, bool bParsed = true);
    // Frees the object and drops it from the list (the rows stay: see
    // TProjectStore::Delete).
    void RemoveAt(int iIndex);

    // Number of send tasks of the project at iIndex, as read when it was last
    // parsed; RefreshSendTasks reads it again after its tasks were edited.
    int SendTasks(int iIndex) const;
    void RefreshSendTasks(int iIndex);

    // The rules, valid once the project is parsed.
    bool InitiallyChecked(int iIndex) const; // send tasks and changed files
    bool Enabled(int iIndex) const; // send tasks and files

    // Projects with send tasks and changed files, or, with bAll, every
    // project with send tasks; in list order.
    QList<TProject *> Due(bool bAll) const;
    // Per title in the order given, the listed projects it matches
    // (MatchTitle); throws ENoSuchProject.
    QList<TProject *> Titled(const QStringList &lTitles) const;

private:
    struct TItem
    {
        std::unique_ptr<TProject> oProject;
        int iSendTasks = 0;
        bool bParsed = false;
    };

    void Clear();
    static std::unique_ptr<TProject> Create(const TProjectRow &row);

    std::vector<TItem> FItems;
};
