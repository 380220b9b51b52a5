#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace bwtest {

// A program the tests start (a server, unzip, 7z), through posix_spawn.
// QProcess starts programs with a vfork-like clone whose child runs in the
// test's own address space until it execs; under ThreadSanitizer the child's
// calls scramble the checker's record of the test's locks, which it then
// reports as races between threads that hold the same mutex.
class ChildProcess
{
public:
    ChildProcess() = default;
    // Kills the program if it still runs, and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts program (looked up on PATH unless it holds a "/") with standard
    // input from /dev/null and standard output into outputFile (discarded
    // when empty), standard error too unless bErrors is false (then it is
    // discarded); throws std::runtime_error when it cannot.
    void start(const QString &program, const QStringList &args, const QString &outputFile = {},
               bool bErrors = true);
    // For the next start(); the test's own folder when empty.
    void setWorkingDirectory(const QString &dir) { FWorkingDirectory = dir; }
    bool running();
    // Waits up to iMSecs for the program's end; true when it has ended.
    bool waitForFinished(int iMSecs);
    void kill();
    pid_t pid() const { return FPid; }
    // The exit code, -1 when a signal ended it.
    int exitCode() const { return FExitCode; }

private:
    QString FWorkingDirectory;
    pid_t FPid = -1;
    int FPidFd = -1;
    bool FEnded = false;
    int FExitCode = -1;

    bool Reap(bool bBlock);
};

// Runs program to its end (killed after iSeconds); its standard output (and
// error too when bMergeErrors) goes into *out. The exit code, or -1 when it
// crashed or ran out of time.
int runProgram(const QString &program, const QStringList &args, QByteArray *out = nullptr, int iSeconds = 30,
               bool bMergeErrors = false);

} // namespace bwtest
