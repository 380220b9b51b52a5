#pragma once

#include "projects/project.h"

#include <QHash>
#include <QQueue>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

// Delphi project (kind 1): the project file is parsed for the files it needs
// before the hand-added entries are read.
//
// The parser is shallow: it scans the text before the first line-initial
// "begin" for line-initial "uses" clauses and "{$I }"/"{$R }" directives;
// only ASCII keywords and punctuation are looked at. Items it adds are
// "name=path" with file-entry id 0: unit names, base file names or "include".
class TProjectDelphi : public TProject
{
public:
    TProjectDelphi(int iID, const QString &sTitle, const QString &sFilename,
                   TAfterParseEvent oAfterParse = nullptr);
    ~TProjectDelphi() override;

    // Collects the project's dependencies, then runs the base Parse. A missing
    // Delphi installation or IDE options file, and files that cannot be read,
    // do not stop it: what can be found without them is collected and the
    // failure is kept in ParseError. Database failures pass out.
    void Parse() override;

    // The failures met by the last Parse, one per line (each text once);
    // empty when there were none.
    QString ParseError() const { return FParseErrors.join(u'\n'); }

    // Position of the first occurrence of sWord (ASCII, any case) at or after
    // iFrom that has only spaces before it on its line; -1 when none.
    static qsizetype FindKeyword(QStringView sText, QLatin1StringView sWord, qsizetype iFrom = 0);
    // Removes comments between sOpen and sClose from one uses item. A close
    // marker before any open one ends a comment begun in an earlier item; an
    // open marker without a close drops the rest.
    static QString RemoveComments(const QString &sText, QLatin1StringView sOpen, QLatin1StringView sClose);

protected:
    // Parses the project file sFile, then every queued file in queue order.
    void ParseFile(const QString &sFile);
    // Lists sPath (resolved against the current file's folder, else looked up
    // in the Delphi library by its base name) under its base name.
    void AddFileItem(const QString &sPath, bool bCheckName = true);
    void AddUnit(QStringView sItem);
    void AddInclude(const QString &sArgument);
    // sPath ("\" or "/" separated; relative to sFolder, absolute, or a Windows
    // drive path in the Wine prefix) as an absolute, normalised path of an
    // existing file spelled as on disk; empty when there is none. Each part
    // is matched without regard to case when its exact spelling is missing.
    QString ResolveRelative(const QString &sPath, const QString &sFolder);

    const QString &CurrentFile() const { return FCurrentFile; }
    const QQueue<QString> &NextList() const { return FNextList; }

private:
    QString FCurrentFile;
    QQueue<QString> FNextList;

    // Lookups for one Parse.
    QSet<QString> FNames; // case-folded names of parsed items
    QSet<QString> FPaths; // paths of parsed items
    QSet<QString> FNotFound; // case-folded unit names the library lacks
    struct TDirListing
    {
        QSet<QString> exact;
        QHash<QString, QString> lower; // lower-case name -> name on disk
    };
    QHash<QString, TDirListing> FDirCache; // folder -> its entries
    QHash<QString, QString> FResolved; // normalised path -> answer of FindOnDisk
    bool FLibraryFailed = false;
    QStringList FParseErrors;

    void ScanFile(const QString &sFile, bool bCheckName);
    void ScanDirectives(QStringView sHead);
    void ScanUses(QStringView sHead);
    QString LibraryLookup(const QString &sName);
    bool HasName(const QString &sName) const;
    void AddParsedItem(const QString &sName, const QString &sPath);
    QString FindOnDisk(const QString &sPath);
    QString FindEntry(const QString &sFolder, const QString &sName);
    QString CurrentFolder() const;
    void NoteError(const QString &sText);
};
