#pragma once

#include "core/listfiles.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TProject;

// Run at the end of Parse with the project; may be unset.
using TAfterParseEvent = std::function<void(TProject *oProject)>;

// One item of the project file list. A collected item holds the absolute path
// of a file and the id (> 0) of the stored entry that yielded it; a parsed
// item (Delphi projects) holds "name=path" and id 0.
struct TFileItem
{
    QString sText;
    int iFileID = 0;
    // The file's time, size and mode as read while the entries were collected
    // (or counted); nothing known when not read or not a regular file. A
    // delivery zips the file by these without asking again.
    TFileFacts oFacts;

    // The whole text for a collected item, the text after the first "="
    // for a parsed one.
    QString Path() const;
};

// Project kinds, the `type` column of the projects table.
enum : int {
    pkGeneric = 0,
    pkDelphi = 1,
};

// The in-memory project: its ordered file list and its change count. The
// database is the global DB (core/globals.h).
class TProject
{
public:
    virtual ~TProject();
    TProject(const TProject &) = delete;
    TProject &operator=(const TProject &) = delete;

    // Adds the stored entries (items not yet present), counts the changed
    // files and calls OnParse. Database failures pass out; the items added
    // before stay.
    virtual void Parse();
    // Adds the stored entries of this project whose id is at least iFileID
    // (the entries just stored). Does not recount or call OnParse.
    void FileAdd(int iFileID);
    // Deletes the stored entry and every list item it yielded.
    void FileDelete(int iFileID);

    int ProjectID() const { return FID; }
    const QString &Title() const { return FTitle; }
    // A renamed project (the editor stores the new title).
    void SetTitle(const QString &sTitle) { FTitle = sTitle; }
    // Counts the changed files again, after entries were added or deleted,
    // with every file's time read anew.
    void Recount() { CountChanged(true); }
    const QString &ProjectFile() const { return FFilename; }
    int Kind() const { return FKind; }
    int FileCount() const { return int(FFileList.size()); }
    int ChangedFiles() const { return FChangedFiles; }
    // Every item's path in double quotes, comma separated (comma text; a
    // double quote inside a path is doubled). Empty for an empty list.
    QString FileList() const;
    // The items' paths in list order (what SplitCommaText(FileList()) gives).
    QStringList FilePaths() const;
    // The items in list order.
    const QList<TFileItem> &Items() const { return FFileList; }
    // How long ago (ms) the items' facts were last counted; a delivery reads
    // facts again that are older than a few seconds.
    qint64 FactsAge() const;

    const TAfterParseEvent &OnParse() const { return FAfterParse; }
    void SetOnParse(TAfterParseEvent oAfterParse) { FAfterParse = std::move(oAfterParse); }

protected:
    TProject(int iKind, int iID, const QString &sTitle, const QString &sFilename,
             TAfterParseEvent oAfterParse);

    // Adds the file of a single-file entry (also when it is gone, so that the
    // archive builder reports it missing), or the files of a wildcard entry,
    // skipping paths already listed. Paths are compared exactly: names that
    // differ only in case are different files here.
    void AddEntry(const QString &sEntry, int iFileID);
    // Recomputes ChangedFiles against the project's send date, from the
    // facts read while collecting unless bFresh (or none were read).
    void CountChanged(bool bFresh = false);

    // Appends an item as it is (no duplicate check); for the Delphi parser's
    // "name=path" items, with id 0.
    void AddItem(const QString &sText, int iFileID = 0, const TFileFacts &oFacts = {});
    // Whether an item's whole text equals sText.
    bool HasItemText(const QString &sText) const;

    TAfterParseEvent FAfterParse;
    int FChangedFiles = 0;
    QString FFilename;
    int FID = 0;
    int FKind = pkGeneric;
    QString FTitle;

private:
    void AddUnique(const QString &sText, int iFileID, const TFileFacts &oFacts);
    void RemoveAt(qsizetype i);

    QList<TFileItem> FFileList;
    qint64 FFactsTime = 0; // QDateTime::currentMSecsSinceEpoch() of the last count; 0: never
    void EnsureIndex() const;

    // Item texts -> how many items hold them, so that duplicate checks stay
    // cheap on lists of many thousand files. Built on first need (FIndexed).
    mutable QHash<QString, int> FIndex;
    mutable bool FIndexed = true;
};

// Generic project: files added by hand only.
class TProjectGeneric : public TProject
{
public:
    TProjectGeneric(int iID, const QString &sTitle, const QString &sFilename,
                    TAfterParseEvent oAfterParse = nullptr);
};

// A TProjectDelphi for type 1, a TProjectGeneric for any other type. Nothing is
// read until Parse.
std::unique_ptr<TProject> CreateProject(int iType, int iID, const QString &sTitle, const QString &sFilename,
                                        TAfterParseEvent oAfterParse = nullptr);

// --- Helpers --------------------------------------------------------------

// Splits comma text: items separated by commas; a double-quoted item may hold
// commas and blanks, "" inside it stands for one quote; unquoted items also
// end at blanks. A trailing comma gives a final empty item.
QStringList SplitCommaText(const QString &sText);
// The inverse for paths: every item quoted, quotes doubled, comma separated.
QString JoinCommaText(const QStringList &oItems);

// The send date (days, local time; 0 when never sent) as milliseconds since
// the epoch: a file whose FileModifiedMSecs is later has changed since.
qint64 SendDateMSecs(double dSendDate);
