#include "archive/zipengine.h"

#include "archive/zipwriter.h"
#include "core/listfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

} // namespace

bool TZipEngine::IsStoredExtension(const QString &sFilename)
{
    return ::IsStoredExtension(sFilename);
}

void TZipEngine::Clear()
{
    FZipFileName.clear();
    FZipComment.clear();
    FItems.clear();
    FErrorCode = ZipOk;
    FErrorMessage.clear();
    FSuccessCount = 0;
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

    // Straight into the writer's items: a tree of many files is listed once.
    std::vector<TZipWriterItem> lItems;
    lItems.reserve(size_t(FItems.size()));
    QHash<QString, qsizetype> lByName; // entry name -> index in lItems
    lByName.reserve(FItems.size());
    for (const TZipFileItem &fileItem : std::as_const(FItems)) {
        // A listed file is examined when it is read, not before.
        const bool bListed = fileItem.oFacts.Known() && QDir::isAbsolutePath(fileItem.sPath);
        const QString sPath = bListed ? fileItem.sPath : ResolvePath(fileItem.sPath);
        if (!bListed && (sPath.isEmpty() || !PathExists(sPath))) {
            if (OnSkipped)
                OnSkipped(sPath.isEmpty() ? fileItem.sPath : sPath);
            continue;
        }
        TZipWriterItem item = TZipWriterItem::ForFile(
            sPath,
            CleanEntryName(fileItem.sEntryName.isEmpty() ? QFileInfo(sPath).fileName() : fileItem.sEntryName),
            fileItem.sPassword, fileItem.eEncryption, bListed ? fileItem.oFacts : TFileFacts());
        if (item.sEntryName.isEmpty())
            return Fail(ZipInternalError,
                        QStringLiteral("No entry name for the file %1.").arg(ReadableFileName(sPath)));
        if (const auto it = lByName.constFind(item.sEntryName); it != lByName.cend()) {
            if (lItems[size_t(it.value())].sPath == sPath)
                continue; // the same file again
            return Fail(ZipDuplicateName,
                        QStringLiteral("Two files would be stored as %1: %2 and %3")
                            .arg(ReadableFileName(item.sEntryName),
                                 ReadableFileName(lItems[size_t(it.value())].sPath),
                                 ReadableFileName(sPath)));
        }
        if (const int iErr = bListed ? 0 : CheckReadable(sPath))
            return Fail(
                ZipReadError,
                QStringLiteral("Cannot read the file %1: %2").arg(ReadableFileName(sPath), ErrnoText(iErr)));
        lByName.insert(item.sEntryName, qsizetype(lItems.size()));
        lItems.push_back(std::move(item));
    }
    if (lItems.empty())
        return Fail(ZipNothingToDo, QStringLiteral("Nothing to zip: none of the listed files exists."));

    // The writer checks the archive's folder, compresses on every core and
    // writes under a temporary name that replaces the archive only when
    // everything succeeded.
    TZipWriter writer;
    writer.SetZipFileName(sArchive);
    writer.SetZipComment(FZipComment);
    lByName.clear();
    writer.SetItems(std::move(lItems));
    // A file that vanished after the check above is skipped like any missing file.
    writer.OnSkipped = OnSkipped;
    if (writer.Write() != TZipWriter::ZipOk)
        return Fail(writer.ErrorCode() == TZipWriter::ZipAborted ? ZipAborted : writer.ErrorCode(),
                    writer.ErrorMessage());
    FSuccessCount = writer.SuccessCount();
    return ZipOk;
}
