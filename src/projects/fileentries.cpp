#include "projects/fileentries.h"

#include "core/winutils.h"
#include "projects/project.h"
#include "projects/projectstore.h"
#include "projects/wildcard.h"

#include <QDir>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <memory>

QString WildcardPathPart(const QString &sFolder, const QString &sMask)
{
    QString sDir = sFolder.trimmed();
    if (QDir::isAbsolutePath(sDir))
        sDir = QDir::cleanPath(sDir);
    if (sDir == QLatin1String("/"))
        return sDir + sMask;
    return sDir + QLatin1Char('/') + sMask;
}

QString WildcardEntryText(const TWildcardInput &input)
{
    if (input.sFolder.trimmed().isEmpty() || input.sMask.trimmed().isEmpty())
        return {};
    if (!QDir::isAbsolutePath(input.sFolder.trimmed()))
        return {};
    const QString sPath = WildcardPathPart(input.sFolder, input.sMask);
    if (!input.bRecursive)
        return sPath;
    QString sEntry = sPath + QStringLiteral(" -r");
    if (!input.sExclude.trimmed().isEmpty())
        sEntry += QStringLiteral(" -e \"") + input.sExclude + QLatin1Char('"');
    return sEntry;
}

QString BuildWildcardEntry(const TWildcardInput &input, const TProject &project)
{
    const QString sEntry = WildcardEntryText(input);
    if (sEntry.isEmpty())
        return {};
    const QString sPath = WildcardPathPart(input.sFolder, input.sMask);
    // A path part that names a file of the list would add that file again.
    if (project.FilePaths().contains(sPath))
        return {};
    if (TProjectStore::HasFile(project.ProjectID(), sPath))
        return {};
    return sEntry;
}

QStringList SplitFileText(const QString &sText)
{
    QStringList items;
    if (sText.contains(QLatin1Char('"')))
        items = SplitCommaText(sText);
    else
        items = sText.split(QLatin1Char('\n'));
    QStringList paths;
    for (QString item : std::as_const(items)) {
        if (item.endsWith(QLatin1Char('\r')))
            item.chop(1);
        if (!item.trimmed().isEmpty())
            paths.append(item);
    }
    return paths;
}

QString JoinFileText(const QStringList &oPaths)
{
    if (oPaths.size() == 1 && !oPaths.front().contains(QLatin1Char('"'))
        && !oPaths.front().contains(QLatin1Char('\n')))
        return oPaths.front();
    return JoinCommaText(oPaths);
}

bool ValidFilePaths(const QStringList &oPaths)
{
    if (oPaths.isEmpty())
        return false;
    for (const QString &sPath : oPaths)
        if (!QDir::isAbsolutePath(sPath))
            return false;
    return true;
}

int StoreFileEntry(int iProjectID, const QString &sEntry)
{
    return TProjectStore::AddFile(iProjectID, sEntry);
}

int StoreFileEntries(int iProjectID, const QStringList &oPaths)
{
    int iFirst = 0;
    for (const QString &sPath : oPaths) {
        const int id = StoreFileEntry(iProjectID, sPath);
        if (iFirst == 0)
            iFirst = id;
    }
    return iFirst;
}

// --- TWildcardCounter -----------------------------------------------------

TWildcardCounter::TWildcardCounter(QObject *parent)
    : QObject(parent)
{
    FTimer.setSingleShot(true);
    FTimer.setInterval(150);
    connect(&FTimer, &QTimer::timeout, this, &TWildcardCounter::Start);
}

// A count still running finishes on its own: the worker holds only its own
// copy of the entry and the future's shared state, never this object.
TWildcardCounter::~TWildcardCounter() = default;

void TWildcardCounter::Request(const QString &sEntry)
{
    ++FGeneration;
    FEntry = sEntry;
    FPending = true;
    FTimer.start();
}

void TWildcardCounter::Cancel()
{
    ++FGeneration;
    FPending = false;
    FTimer.stop();
}

void TWildcardCounter::Start()
{
    const quint64 iGeneration = FGeneration;
    const QString sEntry = FEntry;
    auto promise = std::make_shared<QPromise<int>>();
    auto *watcher = new QFutureWatcher<int>(this);
    connect(watcher, &QFutureWatcher<int>::finished, this, [this, watcher, iGeneration, sEntry] {
        watcher->deleteLater();
        if (iGeneration != FGeneration || watcher->future().resultCount() == 0)
            return; // a newer request replaced this one
        FPending = false;
        Q_EMIT counted(sEntry, watcher->future().result());
    });
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, sEntry] {
        int iCount = 0;
        try {
            iCount = MatchWildCardCount(sEntry);
        } catch (...) {
            // Nothing leaves the worker: an unreadable tree counts as empty.
        }
        promise->addResult(iCount);
        promise->finish();
    });
}
