#include "projects/project.h"

#include "core/daycount.h"
#include "projects/projectdelphi.h"
#include "projects/projectstore.h"
#include "projects/wildcard.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

QString TFileItem::Path() const
{
    if (iFileID != 0)
        return sText;
    const qsizetype eq = sText.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : sText.mid(eq + 1);
}

TProject::TProject(int iKind, int iID, const QString &sTitle, const QString &sFilename,
                   TAfterParseEvent oAfterParse)
    : FAfterParse(std::move(oAfterParse))
    , FFilename(sFilename)
    , FID(iID)
    , FKind(iKind)
    , FTitle(sTitle)
{ }

TProject::~TProject() = default;

void TProject::Parse()
{
    for (const TFileRow &row : TProjectStore::Files(FID))
        AddEntry(row.FileName, row.ID);
    CountChanged();
    if (FAfterParse)
        FAfterParse(this);
}

void TProject::FileAdd(int iFileID)
{
    // Only this project's rows: a newer entry of another project must not
    // slip into this list.
    for (const TFileRow &row : TProjectStore::Files(FID, iFileID))
        AddEntry(row.FileName, row.ID);
}

void TProject::FileDelete(int iFileID)
{
    TProjectStore::DeleteFile(iFileID);
    for (qsizetype i = FFileList.size() - 1; i >= 0; --i) {
        if (FFileList.at(i).iFileID == iFileID)
            RemoveAt(i);
    }
}

QString TProject::FileList() const
{
    return JoinCommaText(FilePaths());
}

QStringList TProject::FilePaths() const
{
    QStringList paths;
    paths.reserve(FFileList.size());
    for (const TFileItem &item : FFileList)
        paths.append(item.Path());
    return paths;
}

void TProject::AddEntry(const QString &sEntry, int iFileID)
{
    if (!IsWildcardEntry(sEntry)) {
        // Exactly this file, present or not; a folder is no file entry.
        if (!QDir::isAbsolutePath(sEntry))
            return;
        const QString path = QDir::cleanPath(sEntry);
        if (!QFileInfo(path).isDir())
            AddUnique(path, iFileID, {});
        return;
    }
    QList<TFileFacts> facts;
    QStringList paths = MatchWildCardList(sEntry, &facts);
    FFileList.reserve(FFileList.size() + paths.size());
    if (FFileList.isEmpty()) {
        // A listing holds no path twice, so the first entry needs no checks;
        // the index waits until something asks for it.
        for (qsizetype i = 0; i < paths.size(); ++i)
            FFileList.append({ std::move(paths[i]), iFileID, facts.value(i) });
        FIndex.clear();
        FIndexed = FFileList.isEmpty();
    } else {
        for (qsizetype i = 0; i < paths.size(); ++i)
            AddUnique(paths.at(i), iFileID, facts.value(i));
    }
}

void TProject::CountChanged(bool bFresh)
{
    // The send date is converted once; file times are compared raw, which
    // keeps counting cheap on large trees.
    const qint64 iSince = SendDateMSecs(TProjectStore::SendDate(FID));
    FChangedFiles = 0;
    for (TFileItem &item : FFileList) {
        if (bFresh || !item.oFacts.Known())
            item.oFacts = FileFacts(item.Path());
        if (item.oFacts.iModified != kNoFileTime && item.oFacts.iModified > iSince)
            ++FChangedFiles;
    }
    FFactsTime = QDateTime::currentMSecsSinceEpoch();
}

qint64 TProject::FactsAge() const
{
    if (FFactsTime == 0)
        return std::numeric_limits<qint64>::max();
    return QDateTime::currentMSecsSinceEpoch() - FFactsTime;
}

void TProject::AddItem(const QString &sText, int iFileID, const TFileFacts &oFacts)
{
    EnsureIndex();
    FFileList.append({ sText, iFileID, oFacts });
    ++FIndex[sText];
}

bool TProject::HasItemText(const QString &sText) const
{
    EnsureIndex();
    return FIndex.contains(sText);
}

void TProject::AddUnique(const QString &sText, int iFileID, const TFileFacts &oFacts)
{
    EnsureIndex();
    // One hash lookup: a new text gets a count of 0 here.
    int &iCount = FIndex[sText];
    if (iCount > 0)
        return;
    iCount = 1;
    FFileList.append({ sText, iFileID, oFacts });
}

void TProject::EnsureIndex() const
{
    if (FIndexed)
        return;
    FIndex.reserve(FFileList.size());
    for (const TFileItem &item : FFileList)
        ++FIndex[item.sText];
    FIndexed = true;
}

void TProject::RemoveAt(qsizetype i)
{
    EnsureIndex();
    const QString &key = FFileList.at(i).sText;
    const auto it = FIndex.find(key);
    if (it != FIndex.end() && --it.value() <= 0)
        FIndex.erase(it);
    FFileList.removeAt(i);
}

TProjectGeneric::TProjectGeneric(int iID, const QString &sTitle, const QString &sFilename,
                                 TAfterParseEvent oAfterParse)
    : TProject(pkGeneric, iID, sTitle, sFilename, std::move(oAfterParse))
{ }

std::unique_ptr<TProject> CreateProject(int iType, int iID, const QString &sTitle, const QString &sFilename,
                                        TAfterParseEvent oAfterParse)
{
    if (iType == pkDelphi)
        return std::make_unique<TProjectDelphi>(iID, sTitle, sFilename, std::move(oAfterParse));
    return std::make_unique<TProjectGeneric>(iID, sTitle, sFilename, std::move(oAfterParse));
}

QStringList SplitCommaText(const QString &sText)
{
    QStringList items;
    const qsizetype n = sText.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && sText.at(i).unicode() <= ' ')
            ++i;
    };
    skipBlanks();
    while (i < n) {
        QString item;
        if (sText.at(i) == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (sText.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && sText.at(i + 1) == QLatin1Char('"')) {
                        item += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += sText.at(i++);
            }
        } else {
            while (i < n && sText.at(i).unicode() > ' ' && sText.at(i) != QLatin1Char(','))
                item += sText.at(i++);
        }
        items.append(item);
        skipBlanks();
        if (i < n && sText.at(i) == QLatin1Char(',')) {
            ++i;
            skipBlanks();
            if (i >= n)
                items.append(QString()); // trailing comma
        }
    }
    return items;
}

QString JoinCommaText(const QStringList &oItems)
{
    QString text;
    for (qsizetype i = 0; i < oItems.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        QString quoted = oItems.at(i);
        quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
        text += QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    return text;
}

qint64 SendDateMSecs(double dSendDate)
{
    const QDateTime since = DaysToDateTime(dSendDate);
    return since.isValid() ? since.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
}
