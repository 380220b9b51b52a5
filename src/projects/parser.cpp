#include "projects/parser.h"

#include "core/daycount.h"
#include "core/globals.h"
#include "core/sqlite.h"
#include "projects/parserdelphi.h"
#include "projects/wildcard.h"

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

TParser::TParser(int iKind, int iID, const QString &sTitle, const QString &sFilename,
                 TAfterParseEvent oAfterParse)
    : FAfterParse(std::move(oAfterParse))
    , FFilename(sFilename)
    , FID(iID)
    , FKind(iKind)
    , FTitle(sTitle)
{ }

TParser::~TParser() = default;

void TParser::Parse()
{
    // LoadEntries
    {
        const auto table = DB->GetTableFmt(
            QStringLiteral("SELECT id, filename FROM files WHERE id_projects = %d"), { FID });
        while (table && !table->Eof()) {
            AddEntry(table->FieldAsString(1), int(table->FieldAsInteger(0)));
            table->Next();
        }
    }
    CountChanged();
    if (FAfterParse)
        FAfterParse(this);
}

void TParser::FileAdd(int iFileID)
{
    // Only this project's rows: a newer entry of another project must not
    // slip into this list.
    const auto table = DB->GetTableFmt(
        QStringLiteral("SELECT id, filename FROM files WHERE id >= %d AND id_projects = %d"),
        { iFileID, FID });
    while (table && !table->Eof()) {
        AddEntry(table->FieldAsString(1), int(table->FieldAsInteger(0)));
        table->Next();
    }
}

void TParser::FileDelete(int iFileID)
{
    DB->ExecSQLFmt(QStringLiteral("DELETE FROM files WHERE id = %d"), { iFileID });
    for (qsizetype i = FFileList.size() - 1; i >= 0; --i) {
        if (FFileList.at(i).iFileID == iFileID)
            RemoveAt(i);
    }
    FUndecodable.removeIf([iFileID](const auto &item) { return item.first == iFileID; });
}

QList<TUndecodableName> TParser::UndecodableNames() const
{
    QList<TUndecodableName> names;
    for (const auto &item : FUndecodable)
        names.append(item.second);
    return names;
}

QString TParser::FileList() const
{
    return JoinCommaText(FilePaths());
}

QStringList TParser::FilePaths() const
{
    QStringList paths;
    paths.reserve(FFileList.size());
    for (const TFileItem &item : FFileList)
        paths.append(item.Path());
    return paths;
}

void TParser::AddEntry(const QString &sEntry, int iFileID)
{
    if (!IsWildcardEntry(sEntry)) {
        // Exactly this file, present or not; a folder is no file entry.
        if (!QDir::isAbsolutePath(sEntry))
            return;
        const QString path = QDir::cleanPath(sEntry);
        if (!QFileInfo(path).isDir())
            AddUnique(path, iFileID);
        return;
    }
    QList<TUndecodableName> undecodable;
    const QStringList paths = MatchWildCardList(sEntry, &undecodable);
    for (const QString &path : paths)
        AddUnique(path, iFileID);
    for (const TUndecodableName &name : std::as_const(undecodable)) {
        const bool known = std::any_of(FUndecodable.cbegin(), FUndecodable.cend(), [&](const auto &item) {
            return item.second.sFolder == name.sFolder && item.second.sName == name.sName;
        });
        if (!known)
            FUndecodable.append({ iFileID, name });
    }
}

void TParser::CountChanged()
{
    const double dSendDate = ProjectSendDate(FID);
    FChangedFiles = 0;
    for (const TFileItem &item : std::as_const(FFileList)) {
        double dAge = 0;
        if (FileAgeDays(item.Path(), dAge) && dAge > dSendDate)
            ++FChangedFiles;
    }
}

void TParser::AddItem(const QString &sText, int iFileID)
{
    FFileList.append({ sText, iFileID });
    ++FIndex[sText];
}

bool TParser::HasItemText(const QString &sText) const
{
    return FIndex.contains(sText);
}

void TParser::AddUnique(const QString &sText, int iFileID)
{
    if (!HasItemText(sText))
        AddItem(sText, iFileID);
}

void TParser::RemoveAt(qsizetype i)
{
    const QString &key = FFileList.at(i).sText;
    const auto it = FIndex.find(key);
    if (it != FIndex.end() && --it.value() <= 0)
        FIndex.erase(it);
    FFileList.removeAt(i);
}

TParserGeneric::TParserGeneric(int iID, const QString &sTitle, const QString &sFilename,
                               TAfterParseEvent oAfterParse)
    : TParser(pkGeneric, iID, sTitle, sFilename, std::move(oAfterParse))
{ }

std::unique_ptr<TParser> CreateParser(int iType, int iID, const QString &sTitle, const QString &sFilename,
                                      TAfterParseEvent oAfterParse)
{
    if (iType == pkDelphi)
        return std::make_unique<TParserDelphi>(iID, sTitle, sFilename, std::move(oAfterParse));
    return std::make_unique<TParserGeneric>(iID, sTitle, sFilename, std::move(oAfterParse));
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

double ProjectSendDate(int iProjectID)
{
    return DB->QueryDoubleFmt(QStringLiteral("SELECT senddate FROM projects WHERE id = %d"), { iProjectID });
}

bool FileAgeDays(const QString &sFileName, double &dDays)
{
    const QFileInfo info(sFileName);
    if (!info.exists() || info.isDir())
        return false;
    const QDateTime modified = info.lastModified();
    if (!modified.isValid())
        return false;
    dDays = DateTimeToDays(modified.toLocalTime());
    return true;
}
