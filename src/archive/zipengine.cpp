#include "archive/zipengine.h"

#include "archive/zipwriter.h"
#include "core/listfiles.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QString ErrnoText(int iErr)
{
    return QString::fromLocal8Bit(std::strerror(iErr));
}

// Only a path that is really absent counts as missing; one that cannot be
// examined (no permission, a symlink loop) exists but will fail to read.
bool PathExists(const QString &sPath)
{
    if (sPath.isEmpty())
        return false;
    struct stat st;
    if (::stat(EncodeFileName(sPath).constData(), &st) == 0)
        return true;
    return errno != ENOENT && errno != ENOTDIR;
}

// Full, clean path of an item's file.
QString ResolvePath(const QString &sPath)
{
    if (sPath.isEmpty())
        return QString();
    return QDir::cleanPath(QDir::isAbsolutePath(sPath) ? sPath : QDir::current().absoluteFilePath(sPath));
}

// Entry name following the ZIP format: "/" between folders, no leading "/",
// no "." or ".." segments. Windows extractors split at "\" and take "C:" for
// a drive, so names such as "\evil.txt", "C:\x.txt" or "\\srv\share\y.txt"
// (legal on Linux) would land outside the folder extracted to: every "\"
// and ":" becomes "_".
QString CleanEntryName(const QString &sName)
{
    // Most names need nothing done: no "\\" or ":", no leading or doubled
    // "/", no "." or ".." segment, no trailing "/".
    bool bClean = !sName.isEmpty() && sName.front() != u'/' && sName.back() != u'/';
    for (qsizetype i = 0; bClean && i < sName.size(); ++i) {
        const QChar c = sName.at(i);
        if (c == u'\\' || c == u':')
            bClean = false;
        else if (c == u'.' && (i == 0 || sName.at(i - 1) == u'/'))
            bClean = false; // maybe "." or "..": the slow way decides
        else if (c == u'/' && sName.at(i - 1) == u'/')
            bClean = false;
    }
    if (bClean)
        return sName;

    QStringList lParts;
    const QStringList lAll = sName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (QString sPart : lAll) {
        if (sPart == QLatin1String(".") || sPart == QLatin1String(".."))
            continue;
        sPart.replace(QLatin1Char('\\'), QLatin1Char('_'));
        sPart.replace(QLatin1Char(':'), QLatin1Char('_'));
        lParts << sPart;
    }
    return lParts.join(QLatin1Char('/'));
}

// Opens the file as the archive will, so that an unreadable file is named now
// rather than surfacing as a failure in the middle of the archive.
int CheckReadable(const QString &sPath)
{
    struct stat info;
    const int fd = ::open(EncodeFileName(sPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int iErr = 0;
    if (::fstat(fd, &info) != 0) {
        iErr = errno;
    } else if (S_ISDIR(info.st_mode)) {
        iErr = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        iErr = EINVAL;
    } else {
        char c;
        ssize_t n;
        do
            n = ::pread(fd, &c, 1, 0);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            iErr = errno;
    }
    ::close(fd);
    return iErr;
}

// What Add() found of an item before it is written.
enum TItemState : quint8 {
    isListed, // a listed file, read when it is written
    isUnlisted, // a file that exists, checked before it is written
    isMissing, // no such file: skipped
    isNoName, // no entry name is left of its name
    isSameFile, // the same file again under the same name: left out
    isSameName, // another file under a name taken before
};

// Marks every item whose entry name an earlier item took: the same file
// again, or another file. Found by sorting positions rather than through a
// hash of the names, which on a tree of many files costs a few bytes per
// file, not a hash node. Returns, for each item marked isSameName, the
// earlier item that took the name.
std::vector<quint32> MarkSameNames(const std::vector<TZipWriterItem> &lItems,
                                   std::vector<TItemState> &lStates)
{
    std::vector<quint32> lOrder;
    lOrder.reserve(lItems.size());
    for (size_t i = 0; i < lItems.size(); ++i) {
        if (lStates[i] == isListed || lStates[i] == isUnlisted)
            lOrder.push_back(quint32(i));
    }
    const auto Name = [&lItems](quint32 i) { return QStringView(lItems[i].sEntryName); };
    std::stable_sort(lOrder.begin(), lOrder.end(),
                     [&Name](quint32 a, quint32 b) { return Name(a) < Name(b); });
    std::vector<quint32> lKept;
    for (size_t i = 0; i < lOrder.size();) {
        const quint32 iFirst = lOrder[i];
        size_t j = i + 1;
        for (; j < lOrder.size() && Name(lOrder[j]) == Name(iFirst); ++j) {
            const quint32 iLater = lOrder[j];
            if (lItems[iLater].sPath == lItems[iFirst].sPath) {
                lStates[iLater] = isSameFile;
            } else {
                if (lKept.empty())
                    lKept.resize(lItems.size());
                lStates[iLater] = isSameName;
                lKept[iLater] = iFirst;
            }
        }
        i = j;
    }
    return lKept;
}

} // namespace

bool TZipEngine::IsStoredExtension(const QString &sFilename)
{
    return ::IsStoredExtension(sFilename);
}

void TZipEngine::Clear()
{
    FZipFileName.clear();
    FZipComment.clear();
    FItems = {}; // its memory too: a large tree's list would stay otherwise
    FErrorCode = ZipOk;
    FErrorMessage.clear();
    FSuccessCount = 0;
}

void TZipEngine::SetItems(const QList<TZipFileItem> &lItems)
{
    FItems.clear();
    FItems.reserve(size_t(lItems.size()));
    for (const TZipFileItem &item : lItems)
        FItems.push_back(
            { item.sPath, item.sEntryName, item.sPassword, false, item.eEncryption, item.oFacts });
}

int TZipEngine::Fail(int iCode, const QString &sMessage)
{
    FErrorCode = iCode;
    FErrorMessage = sMessage;
    if (OnError)
        OnError(iCode, sMessage);
    return iCode;
}

int TZipEngine::Add()
{
    FErrorCode = ZipOk;
    FErrorMessage.clear();
    FSuccessCount = 0;

    if (FZipFileName.isEmpty())
        return Fail(ZipNoArchiveName, QStringLiteral("No archive file name given."));
    const QString sArchive = QFileInfo(FZipFileName).absoluteFilePath();

    // The writer's items are made in place, from the list handed in.
    std::vector<TZipWriterItem> lItems = std::exchange(FItems, {});
    std::vector<TItemState> lStates;
    lStates.reserve(lItems.size());
    for (TZipWriterItem &item : lItems) {
        // A listed file is examined when it is read, not before.
        const bool bListed = item.oFacts.Known() && QDir::isAbsolutePath(item.sPath);
        if (!bListed) {
            item.oFacts = {};
            const QString sPath = ResolvePath(item.sPath);
            if (sPath.isEmpty() || !PathExists(sPath)) {
                if (!sPath.isEmpty())
                    item.sPath = sPath;
                lStates.push_back(isMissing);
                continue;
            }
            item.sPath = sPath;
        }
        item.sEntryName
            = CleanEntryName(item.sEntryName.isEmpty() ? QFileInfo(item.sPath).fileName() : item.sEntryName);
        item.bStore = IsStoredExtension(item.sEntryName);
        lStates.push_back(item.sEntryName.isEmpty() ? isNoName : bListed ? isListed : isUnlisted);
    }
    const std::vector<quint32> lKept = MarkSameNames(lItems, lStates);

    // In list order, as each item would have been found wanting on its own.
    size_t iKept = 0;
    for (size_t i = 0; i < lItems.size(); ++i) {
        const QString &sPath = lItems[i].sPath;
        switch (lStates[i]) {
        case isMissing:
            if (OnSkipped)
                OnSkipped(sPath);
            continue;
        case isNoName:
            return Fail(ZipInternalError,
                        QStringLiteral("No entry name for the file %1.").arg(ReadableFileName(sPath)));
        case isSameFile:
            continue;
        case isSameName:
            return Fail(ZipDuplicateName,
                        QStringLiteral("Two files would be stored as %1: %2 and %3")
                            .arg(ReadableFileName(lItems[i].sEntryName),
                                 ReadableFileName(lItems[lKept[i]].sPath), ReadableFileName(sPath)));
        case isUnlisted:
            if (const int iErr = CheckReadable(sPath))
                return Fail(ZipReadError,
                            QStringLiteral("Cannot read the file %1: %2")
                                .arg(ReadableFileName(sPath), ErrnoText(iErr)));
            break;
        case isListed:
            break;
        }
        if (iKept != i)
            lItems[iKept] = std::move(lItems[i]);
        ++iKept;
    }
    lItems.resize(iKept);
    if (lItems.empty())
        return Fail(ZipNothingToDo, QStringLiteral("Nothing to zip: none of the listed files exists."));

    // The writer checks the archive's folder, compresses on every core and
    // writes under a temporary name that replaces the archive only when
    // everything succeeded.
    TZipWriter writer;
    writer.SetZipFileName(sArchive);
    writer.SetZipComment(FZipComment);
    writer.SetItems(std::move(lItems));
    // A file that vanished after the check above is skipped like any missing file.
    writer.OnSkipped = OnSkipped;
    if (writer.Write() != TZipWriter::ZipOk)
        return Fail(writer.ErrorCode() == TZipWriter::ZipAborted ? ZipAborted : writer.ErrorCode(),
                    writer.ErrorMessage());
    FSuccessCount = writer.SuccessCount();
    return ZipOk;
}
