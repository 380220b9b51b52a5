#include "core/winutils.h"

#include "core/exceptions.h"
#include "core/runtempdir.h"
#include "core/version.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// --- Text -----------------------------------------------------------------

QString SQLEscape(const QString &s)
{
    if (!s.contains(QLatin1Char('\'')))
        return s;
    QString result = s;
    result.replace(QLatin1Char('\''), QLatin1String("''"));
    return result;
}

void ReplaceAll(QString &s, const QString &sFind, const QString &sReplace)
{
    if (sFind.isEmpty() || sFind == sReplace)
        return;
    qsizetype pos = s.indexOf(sFind);
    if (pos < 0)
        return;
    QString result;
    result.reserve(s.size());
    qsizetype from = 0;
    while (pos >= 0) {
        result.append(QStringView(s).mid(from, pos - from));
        result.append(sReplace);
        from = pos + sFind.size();
        pos = s.indexOf(sFind, from);
    }
    result.append(QStringView(s).mid(from));
    s = result;
}

QString Plural(const QString &sNoun, int iCount)
{
    if (iCount == 1)
        return QStringLiteral("%1 %2").arg(iCount).arg(sNoun);
    return QStringLiteral("%1 %2s").arg(iCount).arg(sNoun);
}

bool IsValidEmail(const QString &s)
{
    for (QChar c : s) {
        const ushort u = c.unicode();
        if (u < 32 || u == 34 || u == 92 || u > 255)
            return false;
    }
    const qsizetype at = s.indexOf(QLatin1Char('@'));
    if (at < 0)
        return false;
    const QStringView domain = QStringView(s).mid(at + 1);
    if (domain.contains(QLatin1Char('@')))
        return false;
    // Some '.' that is not the domain's last character.
    const qsizetype dot = domain.indexOf(QLatin1Char('.'));
    return dot >= 0 && dot < domain.size() - 1;
}

// --- Paths ----------------------------------------------------------------

static bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

namespace {

void AppendPath(QString &sDest, const QString &sTail)
{
    if (sDest.trimmed().isEmpty() || sTail.trimmed().isEmpty())
        return;
    const bool destEnds = isSeparator(sDest.back());
    const bool tailStarts = isSeparator(sTail.front());
    if (!destEnds && !tailStarts) {
        const bool slash = sDest.contains(QLatin1Char('/')) || sTail.contains(QLatin1Char('/'));
        sDest.append(slash ? QLatin1Char('/') : QLatin1Char('\\'));
    } else if (destEnds && tailStarts) {
        sDest.chop(1);
    }
    sDest.append(sTail);

    const qsizetype slash = sDest.indexOf(QLatin1Char('/'));
    const qsizetype backslash = sDest.indexOf(QLatin1Char('\\'));
    if (slash >= 0 && backslash >= 0) {
        if (slash < backslash)
            sDest.replace(QLatin1Char('\\'), QLatin1Char('/'));
        else
            sDest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    }
}

} // namespace

QString JoinPath(const QString &sHead, const QString &sTail)
{
    QString result = sHead;
    AppendPath(result, sTail);
    return result;
}

QString AppDir()
{
    QString dir;
    if (QCoreApplication::instance()) {
        dir = QCoreApplication::applicationDirPath();
    } else {
        const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
        dir = exe.left(exe.lastIndexOf(QLatin1Char('/')));
    }
    if (!dir.endsWith(QLatin1Char('/')))
        dir.append(QLatin1Char('/'));
    return dir;
}

static QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString TempDir()
{
    QByteArray base = qgetenv("TMPDIR");
    if (!base.startsWith('/'))
        base = QByteArrayLiteral("/tmp");
    while (base.size() > 1 && base.endsWith('/'))
        base.chop(1);
    if (base == "/")
        base.clear();
    const QByteArray dir = base + "/bundlewick-" + QByteArray::number(uint(getuid()));
    const QString name = QFile::decodeName(dir);

    if (::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST) {
        throw EOSError(
            QStringLiteral("Cannot create the temporary folder \"%1\": %2.").arg(name, systemReason(errno)));
    }
    struct stat st;
    if (::lstat(dir.constData(), &st) != 0) {
        throw EOSError(
            QStringLiteral("Cannot use the temporary folder \"%1\": %2.").arg(name, systemReason(errno)));
    }
    if (S_ISLNK(st.st_mode))
        throw EOSError(
            QStringLiteral("The temporary folder \"%1\" is a symbolic link; refusing to use it.").arg(name));
    if (!S_ISDIR(st.st_mode))
        throw EOSError(QStringLiteral("The temporary folder \"%1\" is not a folder.").arg(name));
    if (st.st_uid != getuid())
        throw EOSError(QStringLiteral("The temporary folder \"%1\" belongs to another user.").arg(name));

    if ((st.st_mode & 077) != 0) {
        // Tighten through a descriptor of the very folder checked above, so a
        // swapped-in symlink cannot redirect the chmod.
        const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            throw EOSError(
                QStringLiteral("Cannot use the temporary folder \"%1\": %2.").arg(name, systemReason(errno)));
        }
        struct stat fst;
        const bool same = ::fstat(fd, &fst) == 0 && fst.st_dev == st.st_dev && fst.st_ino == st.st_ino
            && fst.st_uid == getuid();
        const int rc = same ? ::fchmod(fd, 0700) : -1;
        const int error = errno;
        ::close(fd);
        if (!same)
            throw EOSError(
                QStringLiteral("The temporary folder \"%1\" changed while it was checked.").arg(name));
        if (rc != 0) {
            throw EOSError(QStringLiteral("Cannot make the temporary folder \"%1\" private: %2.")
                               .arg(name, systemReason(error)));
        }
    }
    return name + QLatin1Char('/');
}

namespace {
QMutex g_tempMutex;
QStringList g_tempFiles;
} // namespace

QString TempFileName(const QString &sSuffix)
{
    const QString name
        = RunTempDir() + QDateTime::currentDateTime().toString(QStringLiteral("yyMMdd_HHmmss_zzz")) + sSuffix;
    QMutexLocker lock(&g_tempMutex);
    g_tempFiles.append(name);
    return name;
}

void InitTempFiles()
{
    QMutexLocker lock(&g_tempMutex);
    g_tempFiles.clear();
}

void DeleteTempFiles()
{
    QStringList files;
    {
        QMutexLocker lock(&g_tempMutex);
        files.swap(g_tempFiles);
    }
    for (const QString &file : std::as_const(files))
        ::unlink(QFile::encodeName(file).constData()); // failures (already gone, ...) do not matter
}

QString SpecialFolder(int iFolder)
{
    QStandardPaths::StandardLocation location;
    switch (iFolder) {
    case CSIDL_DESKTOP:
        location = QStandardPaths::DesktopLocation;
        break;
    case CSIDL_PERSONAL:
        location = QStandardPaths::DocumentsLocation;
        break;
    case CSIDL_APPDATA:
        location = QStandardPaths::GenericDataLocation;
        break;
    default:
        throw EOSError(QStringLiteral("Unknown special folder %1.").arg(iFolder));
    }
    QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty())
        throw EOSError(QStringLiteral("The special folder %1 cannot be determined.").arg(iFolder));
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// --- Versions and system names -------------------------------------------

QString AppVersion()
{
    return BuildVersionText();
}

QString CurrentUserName()
{
    static const QString name = [] {
        struct passwd pw;
        struct passwd *result = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result && result->pw_name)
            return QString::fromLocal8Bit(result->pw_name);
        return QString::fromLocal8Bit(qgetenv("USER"));
    }();
    return name;
}

QString CurrentComputerName()
{
    static const QString name = QSysInfo::machineHostName();
    return name;
}

// --- Events ---------------------------------------------------------------

QString ShellErrorText(int iCode)
{
    switch (iCode) {
    case 0:
        return QStringLiteral("The operating system is out of memory or resources.");
    case 2:
        return QStringLiteral("The specified file was not found.");
    case 3:
        return QStringLiteral("The specified path was not found.");
    case 5:
        return QStringLiteral("The operating system denied access to the specified file.");
    case 8:
        return QStringLiteral("There was not enough memory to complete the operation.");
    case 11:
        return QStringLiteral("The .EXE file is invalid (non-Win32 .EXE or error in .EXE image).");
    case 26:
        return QStringLiteral("A sharing violation occurred.");
    case 27:
        return QStringLiteral("The filename association is incomplete or invalid.");
    case 28:
        return QStringLiteral("The DDE transaction could not be completed because the request timed out.");
    case 29:
        return QStringLiteral("The DDE transaction failed.");
    case 30:
        return QStringLiteral("The DDE transaction could not be completed because other DDE transactions "
                              "were being processed.");
    case 31:
        return QStringLiteral("There is no application associated with the given filename extension.");
    case 32:
        return QStringLiteral("The specified dynamic-link library was not found.");
    default:
        return QStringLiteral("An unknown exception occurred. Code=%1").arg(iCode);
    }
}
