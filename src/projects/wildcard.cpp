#include "projects/wildcard.h"

#include "core/listfiles.h"

#include <QDir>
#include <QFileInfo>

TWildcardEntry ParseWildcardEntry(const QString &sEntry)
{
    TWildcardEntry entry;
    // Searched case-insensitively in the text itself: lower-casing may change
    // the length of some texts and so shift positions.
    const qsizetype e = sEntry.indexOf(QLatin1String(" -e"), 0, Qt::CaseInsensitive);
    const qsizetype r = sEntry.indexOf(QLatin1String(" -r"), 0, Qt::CaseInsensitive);
    if (e < 0 && r < 0) {
        entry.sPath = sEntry;
        return entry;
    }
    const qsizetype first = (e < 0) ? r : (r < 0 ? e : qMin(e, r));
    entry.sPath = sEntry.left(first).trimmed();
    entry.bRecursive = r >= 0;
    if (e >= 0) {
        const qsizetype start = e + 3;
        const qsizetype end = (r > e) ? r : sEntry.size();
        QString exclude = sEntry.mid(start, end - start).trimmed();
        exclude.remove(QLatin1Char('"'));
        entry.sExclude = exclude;
    }
    return entry;
}

bool IsWildcardEntry(const QString &sEntry)
{
    const TWildcardEntry entry = ParseWildcardEntry(sEntry);
    if (entry.bRecursive || sEntry.contains(QLatin1String(" -e"), Qt::CaseInsensitive))
        return true;
    const QString mask = entry.sPath.mid(entry.sPath.lastIndexOf(QLatin1Char('/')) + 1);
    return mask.contains(QLatin1Char('*')) || mask.contains(QLatin1Char('?'))
        || mask.contains(QLatin1Char(';'));
}

QStringList MatchWildCardList(const QString &sWildcard, QList<TFileFacts> *pFacts)
{
    if (pFacts)
        pFacts->clear();
    const QFileInfo info(sWildcard);
    if (!sWildcard.isEmpty() && info.isFile()) {
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (pFacts)
            pFacts->append(FileFacts(path));
        return { path };
    }
    // A single file that is gone yields nothing: its name is no mask, or a
    // deleted "main.c" would collect every ".c" file beside it.
    if (!IsWildcardEntry(sWildcard))
        return {};

    const TWildcardEntry entry = ParseWildcardEntry(sWildcard);
    const qsizetype slash = entry.sPath.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {}; // no folder: nothing to search
    QString folder = entry.sPath.left(slash);
    if (folder.isEmpty())
        folder = QStringLiteral("/");
    // Entries are absolute; a relative folder would depend on the working
    // folder of the moment.
    if (!QDir::isAbsolutePath(folder))
        return {};
    folder = QDir::cleanPath(folder);
    const QString mask = entry.sPath.mid(slash + 1);

    QStringList result;
    ListFiles(folder, mask, result, entry.sExclude, entry.bRecursive, true, pFacts);
    return result;
}

int MatchWildCardCount(const QString &sWildcard)
{
    return int(MatchWildCardList(sWildcard).size());
}
