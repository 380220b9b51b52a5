#include "support/childprocess.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bwtest {

namespace {

// posix_spawn's file actions, freed on every path.
struct TSpawnActions
{
    posix_spawn_file_actions_t Actions;
    TSpawnActions() { posix_spawn_file_actions_init(&Actions); }
    ~TSpawnActions() { posix_spawn_file_actions_destroy(&Actions); }
    TSpawnActions(const TSpawnActions &) = delete;
    TSpawnActions &operator=(const TSpawnActions &) = delete;
};

} // namespace

ChildProcess::~ChildProcess()
{
    kill();
}

void ChildProcess::start(const QString &program, const QStringList &args, const QString &outputFile,
                         bool bErrors)
{
    if (running())
        throw std::runtime_error("a test program is already running");
    const QByteArray output = outputFile.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(outputFile);
    TSpawnActions actions;
    posix_spawn_file_actions_addopen(&actions.Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions.Actions, STDOUT_FILENO, output.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray workDir = QFile::encodeName(FWorkingDirectory);
    if (!workDir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions.Actions, workDir.constData());
    if (bErrors)
        posix_spawn_file_actions_adddup2(&actions.Actions, STDOUT_FILENO, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions.Actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<QByteArray> words { QFile::encodeName(program) };
    for (const QString &arg : args)
        words.push_back(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int iErr = posix_spawnp(&pid, argv[0], &actions.Actions, nullptr, argv.data(), environ);
    if (iErr != 0)
        throw std::runtime_error("cannot start " + program.toStdString() + ": " + std::strerror(iErr));
    FPid = pid;
    FEnded = false;
    FExitCode = -1;
    // Linux 5.3 and later: the end of the program becomes something to poll.
    FPidFd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (FPidFd < 0) {
        const int iWatchErr = errno;
        kill();
        throw std::runtime_error("cannot watch " + program.toStdString() + ": " + std::strerror(iWatchErr));
    }
}

bool ChildProcess::Reap(bool bBlock)
{
    if (FPid <= 0 || FEnded)
        return true;
    int iStatus = 0;
    pid_t got;
    do {
        got = ::waitpid(FPid, &iStatus, bBlock ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0)
        return false;
    FEnded = true;
    FExitCode = got > 0 && WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    if (FPidFd >= 0) {
        ::close(FPidFd);
        FPidFd = -1;
    }
    return true;
}

bool ChildProcess::running()
{
    return FPid > 0 && !Reap(false);
}

bool ChildProcess::waitForFinished(int iMSecs)
{
    if (!running())
        return true;
    pollfd fd { FPidFd, POLLIN, 0 };
    int iReady;
    do {
        iReady = ::poll(&fd, 1, iMSecs);
    } while (iReady < 0 && errno == EINTR);
    return iReady > 0 ? Reap(true) : Reap(false);
}

void ChildProcess::kill()
{
    if (!running())
        return;
    ::kill(FPid, SIGKILL);
    Reap(true);
}

int runProgram(const QString &program, const QStringList &args, QByteArray *out, int iSeconds,
               bool bMergeErrors)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return -1;
    const QString outputFile = dir.filePath(QStringLiteral("output"));
    ChildProcess child;
    try {
        child.start(program, args, outputFile, bMergeErrors);
    } catch (const std::exception &) {
        return -1;
    }
    const bool bFinished = child.waitForFinished(iSeconds * 1000);
    if (!bFinished)
        child.kill();
    if (out) {
        QFile file(outputFile);
        *out = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return bFinished ? child.exitCode() : -1;
}

} // namespace bwtest
