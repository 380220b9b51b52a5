#pragma once

#include <QLockFile>
#include <QString>
#include <exception>
#include <functional>
#include <memory>

class QCoreApplication;

// Process start and end, in a fixed order shared by every front end.

// Initialises the SQLite library and the temporary-file list, clears the
// process-wide objects, moves the folders of earlier versions (appfolders.h),
// builds AppDataDir ("$XDG_DATA_HOME/bundlewick/") and creates it with its parents (a failure shows later,
// when the database cannot be opened), and loads Params. Numbers in SQL are always written with
// "." by the formatter, so the user's locale is left alone.
// The data folder is made private (0700) and so are the files in it (0600)
// when an earlier version or umask left them readable by others; the run
// folders of runs that ended without cleaning up are removed, and the run
// folder is set to be removed also when a signal ends the process.
void ProcessInit();
// Takes group and other access away from every file in AppDataDir.
void MakeDataFilesPrivate();
// Frees Params (which saves it) and clears AppDataDir, deletes the temporary
// files, calls destroyForms (the main window), destroys FData (closing the
// database and ending the logger), shuts the SQLite library down and removes
// the run folder (RunTempDir) last.
// Safe to call when some of these objects were never made.
void ProcessFinal(const std::function<void()> &destroyForms = {});

// What the desktop program and the command line do differently; the order
// of start-up and shutdown around them is RunProgram's alone.
class TFrontEnd
{
public:
    virtual ~TFrontEnd() = default;
    // Made after ProcessInit, before the single-instance lock is taken.
    virtual std::unique_ptr<QCoreApplication> CreateApplication(int &argc, char **argv) = 0;
    // ProcessInit failed; there is no application object yet.
    virtual void InitFailed(const QString &sText) = 0;
    // The lock file cannot be made, so it is unknown whether another
    // instance runs.
    virtual void LockFailed(const QString &sText) = 0;
    // Another instance holds the lock; returns the exit status.
    virtual int AlreadyRunning() = 0;
    // The program proper, with the data module and the expiry check up;
    // returns the exit status.
    virtual int Run() = 0;
    // An exception escaped Run (or the data module could not be made);
    // returns the exit status.
    virtual int Failed(const std::exception_ptr &error) = 0;
    // Destroys the windows while the data module still exists.
    virtual void DestroyForms() { }
};

// The whole run of the process for either front end: ProcessInit, the
// application object, the single-instance lock, the data module, Run and
// shutdown, in that order. Returns the exit status; 1 when start-up failed.
int RunProgram(TFrontEnd &frontEnd, int &argc, char **argv);

// Shown by a second instance before it ends.
inline constexpr char SecondInstanceMessage[]
    = "Bundlewick is already open: you should find its window on your desktop or in your list of open "
      "windows.\r\n\r\nIf you can't find it, Bundlewick may be running a command "
      "in a terminal (\"bundlewick deliver\") or may have stopped responding. Wait for the command to "
      "finish, or end the program with your desktop's system monitor (the process is called "
      "\"bundlewick\"), or type \"pkill bundlewick\" in a terminal. After doing this you can wait a moment "
      "and then restart Bundlewick.\r\n\r\nThis duplicate instance of Bundlewick will close when you click "
      "the OK button.";

// One instance per user: a lock file held for the life of the object. The
// lock of a process that died is taken over.
class TSingleInstance
{
public:
    // Tries once, without waiting.
    explicit TSingleInstance(const QString &sLockFile);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // True when this object holds the lock, i.e. no other instance runs.
    bool IsFirst() const { return FHeld; }
    // Not held, and not because another instance holds it: the lock file
    // could not be made (read-only or full disk, missing folder, ...).
    bool CreateFailed() const { return !FError.isEmpty(); }
    // What failed, with the system's reason; empty unless CreateFailed().
    QString ErrorText() const { return FError; }
    void Release();

    // AppDataDir + "bundlewick.lock".
    static QString DefaultLockFile();

private:
    static QString CreateFailure(const QString &sLockFile);

    QLockFile FLock;
    bool FHeld = false;
    QString FError;
};
