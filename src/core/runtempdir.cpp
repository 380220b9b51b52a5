// The private folder of one process run inside TempDir(), and private modes
// for the program's own files and folders.
//
// A run folder is "run-XXXXXX" (mkdtemp, mode 0700). The process holds an
// flock() on the folder for as long as it lives; the kernel drops that lock
// when the process ends in any way, so a folder whose lock can be taken
// belongs to a run that is gone, whatever pid has been reused since.

#include "core/runtempdir.h"

#include "core/exceptions.h"
#include "core/winutils.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kRunPrefix[] = "run-";

QMutex g_runMutex;
QByteArray g_runDir; // without a trailing "/"
int g_runFd = -1; // the open folder that carries the lock
pid_t g_runPid = 0; // the process that made it; a forked child does not own it

// A copy of the folder's name for the signal handler, which may not touch
// Qt or allocate.
char g_signalDir[4096];
std::atomic<bool> g_signalDirSet { false };
std::atomic<pid_t> g_signalPid { 0 };

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Removes the entry name of the folder dirFd and, for a folder, everything
// in it; symbolic links are removed, never followed. Uses system calls only,
// so that the signal handler can call it too.
void removeTreeAt(int dirFd, const char *name, int depth)
{
    if (::unlinkat(dirFd, name, 0) == 0 || errno == ENOENT)
        return;
    if (depth > 32)
        return;
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    alignas(8) char buf[4096];
    // Removing entries while reading the folder may skip some: read again
    // from the start until a pass finds nothing left to remove.
    for (int pass = 0; pass < 64; ++pass) {
        bool removed = false;
        ::lseek(fd, 0, SEEK_SET);
        for (;;) {
            const ssize_t n = ::getdents64(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            for (ssize_t off = 0; off < n;) {
                const auto *entry = reinterpret_cast<const struct dirent64 *>(buf + off);
                off += entry->d_reclen;
                const char *child = entry->d_name;
                if (std::strcmp(child, ".") == 0 || std::strcmp(child, "..") == 0)
                    continue;
                removeTreeAt(fd, child, depth + 1);
                removed = true;
            }
        }
        if (!removed)
            break;
    }
    ::close(fd);
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

void removeTree(const char *path)
{
    removeTreeAt(AT_FDCWD, path, 0);
}

void signalHandler(int sig)
{
    const int saved = errno;
    if (g_signalDirSet.load() && g_signalPid.load() == ::getpid())
        removeTree(g_signalDir);
    errno = saved;
    // SA_RESETHAND restored the default action: end as the signal asks.
    ::raise(sig);
}

// Forgets the current run folder, removing it first. Caller holds g_runMutex.
void dropRunDir()
{
    g_signalDirSet.store(false);
    // A forked child only lets go of its copy of the descriptor: the lock
    // and the folder stay with the parent.
    if (!g_runDir.isEmpty() && g_runPid == ::getpid())
        removeTree(g_runDir.constData());
    if (g_runFd >= 0)
        ::close(g_runFd); // drops the lock
    g_runFd = -1;
    g_runDir.clear();
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the run folder still exists as the folder we hold.
bool runDirIntact(const QByteArray &base)
{
    if (g_runFd < 0 || g_runPid != ::getpid() || !g_runDir.startsWith(base))
        return false;
    struct stat held, now;
    return ::fstat(g_runFd, &held) == 0 && ::lstat(g_runDir.constData(), &now) == 0 && sameFile(held, now);
}

} // namespace

QString RunTempDir()
{
    const QByteArray base = QFile::encodeName(TempDir()); // the per-user folder, checked; ends with "/"
    QMutexLocker lock(&g_runMutex);
    if (runDirIntact(base))
        return QFile::decodeName(g_runDir) + QLatin1Char('/');
    // TMPDIR changed, or the folder was taken away: start a new one.
    dropRunDir();
    for (int attempt = 0; attempt < 8; ++attempt) {
        QByteArray name = base + kRunPrefix + "XXXXXX";
        if (!::mkdtemp(name.data())) {
            throw EOSError(QStringLiteral("Cannot create a private folder in \"%1\": %2.")
                               .arg(QFile::decodeName(base), reason(errno)));
        }
        const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            ::rmdir(name.constData());
            throw EOSError(QStringLiteral("Cannot use the private folder \"%1\": %2.")
                               .arg(QFile::decodeName(name), reason(error)));
        }
        // Waits while another start removes this folder as a leftover (it
        // could take the lock between mkdtemp and here); then it is gone and
        // the next attempt makes a new one.
        int rc;
        do
            rc = ::flock(fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        struct stat held, now;
        if (::fstat(fd, &held) == 0 && ::lstat(name.constData(), &now) == 0 && sameFile(held, now)) {
            g_runFd = fd;
            g_runDir = name;
            g_runPid = ::getpid();
            g_signalPid.store(g_runPid);
            const size_t n = std::min(size_t(name.size()), sizeof g_signalDir - 1);
            std::memcpy(g_signalDir, name.constData(), n);
            g_signalDir[n] = '\0';
            g_signalDirSet.store(n == size_t(name.size()));
            return QFile::decodeName(name) + QLatin1Char('/');
        }
        ::close(fd);
    }
    throw EOSError(QStringLiteral("Cannot create a private folder in \"%1\": it keeps vanishing.")
                       .arg(QFile::decodeName(base)));
}

void RemoveRunTempDir()
{
    QMutexLocker lock(&g_runMutex);
    dropRunDir();
}

int RemoveStaleRunDirs()
{
    QByteArray base;
    try {
        base = QFile::encodeName(TempDir());
    } catch (const Exception &) {
        return 0; // no usable temporary folder: nothing of ours to clean either
    }
    QByteArray own;
    {
        QMutexLocker lock(&g_runMutex);
        own = g_runDir;
    }
    int iRemoved = 0;
    const QStringList names = QDir(QFile::decodeName(base))
                                  .entryList({ QLatin1String(kRunPrefix) + QLatin1Char('*') },
                                             QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QByteArray path = base + QFile::encodeName(name);
        if (path == own)
            continue;
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Only a lock nobody holds marks a finished run; a file system
        // without locks keeps every folder.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            removeTree(path.constData());
            ++iRemoved;
        }
        ::close(fd);
    }
    return iRemoved;
}

void InstallRunTempDirCleanup()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (const int sig : { SIGINT, SIGTERM, SIGHUP, SIGQUIT }) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue; // nohup and friends asked to ignore it: keep that
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = signalHandler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND;
        ::sigaction(sig, &sa, nullptr);
    }
}

// --- Private modes --------------------------------------------------------

void MakePrivateDir(const QString &sDir)
{
    const QByteArray path = QFile::encodeName(QDir::cleanPath(sDir));
    // Create the missing components one by one, each 0700.
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path.at(i) != '/')
            continue;
        const QByteArray part = path.left(i);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            throw EOSError(QStringLiteral("Cannot create the folder \"%1\": %2.")
                               .arg(QFile::decodeName(part), reason(errno)));
        }
    }
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        throw EOSError(QStringLiteral("Cannot use the folder \"%1\": %2.").arg(sDir, reason(errno)));
    if (!S_ISDIR(st.st_mode))
        throw EOSError(QStringLiteral("\"%1\" is not a folder.").arg(sDir));
    if ((st.st_mode & 077) != 0 && st.st_uid == ::getuid()
        && ::chmod(path.constData(), st.st_mode & 0700) != 0)
        throw EOSError(QStringLiteral("Cannot make the folder \"%1\" private: %2.").arg(sDir, reason(errno)));
}

bool MakePrivateFile(const QString &sFile)
{
    const QByteArray path = QFile::encodeName(sFile);
    // Through a descriptor of the file itself: never follows a symlink.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0 && st.st_uid == ::getuid())
        ok = ::fchmod(fd, st.st_mode & 0700) == 0;
    ::close(fd);
    return ok;
}

void CreatePrivateFile(const QString &sFile)
{
    const QByteArray path = QFile::encodeName(sFile);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return; // whoever opens it next reports why
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0 && st.st_uid == ::getuid())
        ::fchmod(fd, st.st_mode & 0700);
    ::close(fd);
}
