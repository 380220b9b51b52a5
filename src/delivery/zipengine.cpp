#include "zipengine.h"

#include <QDir>
#include <QFile>
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
#include <zip.h>

namespace {

QString ErrnoText(int iErr)
{
    return QString::fromLocal8Bit(std::strerror(iErr));
}

// The first file that failed while libzip streamed the entries at close.
struct TReadFailure
{
    QString sPath;
    int iErrno = 0;
};

// One file as a libzip source, read from disk in the chunks libzip asks for.
struct TFileSource
{
    QByteArray sPath; // encoded for the file system
    QString sDisplayPath;
    zip_uint64_t iSize = 0;
    time_t iMTime = 0;
    int fd = -1;
    zip_error_t error;
    TReadFailure *pFailure = nullptr;

    zip_int64_t Fail(int iErr)
    {
        zip_error_set(&error, ZIP_ER_READ, iErr);
        if (pFailure && pFailure->sPath.isEmpty()) {
            pFailure->sPath = sDisplayPath;
            pFailure->iErrno = iErr;
        }
        return -1;
    }
    void CloseFile()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

zip_int64_t FileSourceCallback(void *pUser, void *pData, zip_uint64_t iLen, zip_source_cmd_t cmd)
{
    auto *src = static_cast<TFileSource *>(pUser);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        src->CloseFile();
        src->fd = ::open(src->sPath.constData(), O_RDONLY | O_CLOEXEC);
        return src->fd < 0 ? src->Fail(errno) : 0;
    case ZIP_SOURCE_READ: {
        const size_t iWant = static_cast<size_t>(std::min<zip_uint64_t>(iLen, SSIZE_MAX));
        ssize_t n;
        do
            n = ::read(src->fd, pData, iWant);
        while (n < 0 && errno == EINTR);
        return n < 0 ? src->Fail(errno) : n;
    }
    case ZIP_SOURCE_CLOSE:
        src->CloseFile();
        return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, pData, iLen, &src->error);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->size = src->iSize;
        st->mtime = src->iMTime;
        st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&src->error, pData, iLen);
    case ZIP_SOURCE_FREE:
        src->CloseFile();
        zip_error_fini(&src->error);
        delete src;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&src->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// A file ready to go into the archive.
struct TZipItem
{
    QString sPath;
    QString sEntryName;
    QString sPassword; // empty: not encrypted
    struct stat info;
};

// Only a path that is really absent counts as missing; one that cannot be
// examined (no permission, a symlink loop) exists but will fail to read.
bool PathExists(const QString &sPath)
{
    if (sPath.isEmpty())
        return false;
    struct stat st;
    if (::stat(QFile::encodeName(sPath).constData(), &st) == 0)
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
// no "." or ".." segments. A backslash is kept as part of a name, so that
// "a\\b" never takes the place of "a/b"; but as Windows extractors split
// at it, a backslash-separated "." or ".." piece becomes "_".
QString CleanEntryName(const QString &sName)
{
    QStringList lParts;
    const QStringList lAll = sName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &sPart : lAll) {
        if (sPart == QLatin1String(".") || sPart == QLatin1String(".."))
            continue;
        QStringList lPieces = sPart.split(QLatin1Char('\\'));
        for (QString &sPiece : lPieces) {
            if (sPiece == QLatin1String(".") || sPiece == QLatin1String(".."))
                sPiece = QStringLiteral("_");
        }
        lParts << lPieces.join(QLatin1Char('\\'));
    }
    return lParts.join(QLatin1Char('/'));
}

// Opens the file as the archive will, so that an unreadable file is named now
// rather than surfacing as an anonymous libzip error at close.
int CheckReadable(const QString &sPath, struct stat &info)
{
    const int fd = ::open(QFile::encodeName(sPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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

const char *const StoredExtensions[]
    = { "gif", "png", "z",    "zip", "zoo", "arc",  "lzh", "arj", "taz", "tgz", "lha",    "rar", "ace",
        "cab", "gz",  "gzip", "jar", "jpg", "jpeg", "7zp", "mp3", "wmv", "wma", "dvr-ms", "avi" };

} // namespace

bool TZipEngine::IsStoredExtension(const QString &sFilename)
{
    const QString sName = sFilename.mid(sFilename.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype iDot = sName.lastIndexOf(QLatin1Char('.'));
    if (iDot < 0)
        return false;
    const QString sExt = sName.mid(iDot + 1);
    for (const char *pExt : StoredExtensions) {
        if (sExt.compare(QLatin1String(pExt), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
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

    std::vector<TZipItem> lItems;
    QHash<QString, qsizetype> lByName; // entry name -> index in lItems
    for (const TZipFileItem &spec : std::as_const(FItems)) {
        const QString sPath = ResolvePath(spec.sPath);
        if (sPath.isEmpty() || !PathExists(sPath)) {
            if (OnSkipped)
                OnSkipped(sPath.isEmpty() ? spec.sPath : sPath);
            continue;
        }
        TZipItem item;
        item.sPath = sPath;
        item.sPassword = spec.sPassword;
        item.sEntryName
            = CleanEntryName(spec.sEntryName.isEmpty() ? QFileInfo(sPath).fileName() : spec.sEntryName);
        if (item.sEntryName.isEmpty())
            return Fail(ZipInternalError, QStringLiteral("No entry name for the file %1.").arg(sPath));
        if (const auto it = lByName.constFind(item.sEntryName); it != lByName.cend()) {
            if (lItems[size_t(it.value())].sPath == sPath)
                continue; // the same file again
            return Fail(ZipDuplicateName,
                        QStringLiteral("Two files would be stored as %1: %2 and %3")
                            .arg(item.sEntryName, lItems[size_t(it.value())].sPath, sPath));
        }
        if (const int iErr = CheckReadable(sPath, item.info))
            return Fail(ZipReadError,
                        QStringLiteral("Cannot read the file %1: %2").arg(sPath, ErrnoText(iErr)));
        lByName.insert(item.sEntryName, qsizetype(lItems.size()));
        lItems.push_back(std::move(item));
    }
    if (lItems.empty())
        return Fail(ZipNothingToDo, QStringLiteral("Nothing to zip: none of the listed files exists."));

    const QFileInfo archiveInfo(sArchive);
    if (!QFileInfo(archiveInfo.absolutePath()).isDir())
        return Fail(ZipCreateError,
                    QStringLiteral("Cannot create the archive %1: the folder %2 does not exist.")
                        .arg(sArchive, archiveInfo.absolutePath()));
    if (archiveInfo.isDir())
        return Fail(ZipCreateError,
                    QStringLiteral("Cannot create the archive %1: %2").arg(sArchive, ErrnoText(EISDIR)));

    // Truncate: an existing file is not read, only replaced when close succeeds.
    int iZipErr = 0;
    zip_t *za = zip_open(QFile::encodeName(sArchive).constData(), ZIP_CREATE | ZIP_TRUNCATE, &iZipErr);
    if (!za) {
        zip_error_t error;
        zip_error_init_with_code(&error, iZipErr);
        const QString sWhy = QString::fromLocal8Bit(zip_error_strerror(&error));
        zip_error_fini(&error);
        return Fail(ZipCreateError, QStringLiteral("Cannot create the archive %1: %2").arg(sArchive, sWhy));
    }
    const auto LibFailure = [&](const QString &sWhat) {
        const QString sWhy = QString::fromLocal8Bit(zip_strerror(za));
        zip_discard(za);
        return Fail(ZipInternalError,
                    QStringLiteral("Cannot add %1 to the archive %2: %3").arg(sWhat, sArchive, sWhy));
    };

    TReadFailure readFailure;
    for (const TZipItem &item : lItems) {
        auto *src = new TFileSource;
        src->sPath = QFile::encodeName(item.sPath);
        src->sDisplayPath = item.sPath;
        src->iSize = static_cast<zip_uint64_t>(item.info.st_size);
        src->iMTime = item.info.st_mtime;
        src->pFailure = &readFailure;
        zip_error_init(&src->error);
        zip_source_t *zs = zip_source_function(za, FileSourceCallback, src);
        if (!zs) {
            zip_error_fini(&src->error);
            delete src;
            return LibFailure(item.sPath);
        }
        const QByteArray sName = item.sEntryName.toUtf8();
        const zip_int64_t idx = zip_file_add(za, sName.constData(), zs, ZIP_FL_ENC_UTF_8);
        if (idx < 0) {
            zip_source_free(zs);
            return LibFailure(item.sPath);
        }
        const zip_uint64_t i = static_cast<zip_uint64_t>(idx);
        const zip_int32_t iMethod = IsStoredExtension(item.sEntryName) ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
        // Level 6 as zip and gzip use by default; libzip's own default (9)
        // costs about 70% more time for an archive a few percent smaller.
        if (zip_set_file_compression(za, i, iMethod, iMethod == ZIP_CM_DEFLATE ? 6 : 0) != 0)
            return LibFailure(item.sPath);
        // Regular file with its permissions, so that extractors restore them.
        const zip_uint32_t iAttr = (static_cast<zip_uint32_t>(item.info.st_mode) & 0xFFFF) << 16;
        if (zip_file_set_external_attributes(za, i, 0, ZIP_OPSYS_UNIX, iAttr) != 0)
            return LibFailure(item.sPath);
        if (!item.sPassword.isEmpty()) {
            const QByteArray sPassword = item.sPassword.toUtf8();
            if (zip_file_set_encryption(za, i, ZIP_EM_TRAD_PKWARE, sPassword.constData()) != 0)
                return LibFailure(item.sPath);
        }
    }
    const QByteArray sComment = FZipComment.toUtf8();
    if (zip_set_archive_comment(za, sComment.constData(),
                                static_cast<zip_uint16_t>(std::min<qsizetype>(sComment.size(), 0xFFFF)))
        != 0)
        return LibFailure(QStringLiteral("the comment"));
    const int iEntries = static_cast<int>(zip_get_num_entries(za, 0));

    // libzip writes a temporary file beside the archive and renames it only
    // when everything succeeded; on failure it removes the temporary file.
    if (zip_close(za) != 0) {
        const QString sWhy = QString::fromLocal8Bit(zip_strerror(za));
        zip_discard(za);
        if (!readFailure.sPath.isEmpty())
            return Fail(ZipReadError,
                        QStringLiteral("Cannot read the file %1: %2")
                            .arg(readFailure.sPath, ErrnoText(readFailure.iErrno)));
        return Fail(ZipWriteError, QStringLiteral("Cannot write the archive %1: %2").arg(sArchive, sWhy));
    }
    FSuccessCount = iEntries;
    return ZipOk;
}
