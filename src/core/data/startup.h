#pragma once

#include <QLockFile>
#include <QString>
#include <functional>

// Process start and end, in a fixed order shared by every front end.

// Initialises the SQLite library and the temporary-file list, clears the
// process-wide objects, moves the folders of earlier versions (appfolders.h),
// builds AppDataDir ("$XDG_DATA_HOME/bundlewick/") and creates it with its parents (a failure shows later,
// when the database cannot be opened), and loads Params. Numbers in SQL are always written with
// "." by the formatter, so the user's locale is left alone.
void ProcessInit();
// Frees Params (which saves it) and clears AppDataDir, deletes the temporary
// files, calls destroyForms (the main window), destroys FData (closing the
// database and ending the logger) and shuts the SQLite library down last.
// Safe to call when some of these objects were never made.
void ProcessFinal(const std::function<void()> &destroyForms = {});

// Shown by a second instance before it ends.
inline constexpr char SecondInstanceMessage[]
    = "Bundlewick is already open: you should find it in the Windows taskbar at the bottom of your "
      "screen.\r\n\r\nIf you can't find Bundlewick in the taskbar at the bottom of your screen, open the "
      "Task "
      "Manager by right-clicking on the taskbar or by briefly pressing the three keys ALT, CONTROL and "
      "DELETE. "
      "In the Task Manager, highlight \"bundlewick.exe\" in the Process list and click the End Process "
      "button. "
      "After doing this you can wait a moment and then restart Bundlewick.\r\n\r\nThis duplicate instance of "
      "Bundlewick will close when you click the OK button.";

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
    void Release();

    // AppDataDir + "bundlewick.lock".
    static QString DefaultLockFile();

private:
    QLockFile FLock;
    bool FHeld = false;
};
