#pragma once

#include <QString>

// Private folders and files: the run folder of this process and the modes
// that keep passwords away from other users. Failures raise EOSError.

// The private folder of this process run inside TempDir(): "run-XXXXXX",
// made by mkdtemp (mode 0700) on first use, with a trailing "/". Working
// files (the code archive, the manifest, delivery archives) go here, so that
// two runs never see each other's files. The process holds a lock on it for
// its whole life. A new folder is made when TMPDIR changed or the folder
// was removed. Raises EOSError when it cannot be made.
QString RunTempDir();
// Shutdown: removes the run folder with everything in it.
void RemoveRunTempDir();
// Start-up: removes the run folders of runs that have ended (their lock is
// free: the process exited, crashed or was killed). Returns how many.
int RemoveStaleRunDirs();
// Removes the run folder also when the process is ended by SIGINT, SIGTERM,
// SIGHUP or SIGQUIT (signals ignored at start stay ignored); the signal then
// takes its default effect.
void InstallRunTempDirCleanup();

// --- Private modes --------------------------------------------------------
// The data, configuration and temporary folders hold passwords: the program
// keeps its own folders 0700 and its own files 0600 whatever the umask.

// Creates sDir with its missing parents (those made here get mode 0700) and
// takes group and other access away from sDir itself. Raises EOSError naming
// the folder and the reason when that fails.
void MakePrivateDir(const QString &sDir);
// Takes group and other access away from an existing file of the user
// (never through a symlink). True when done or when there is no such file.
bool MakePrivateFile(const QString &sFile);
// Creates the file empty with mode 0600 when missing (so that SQLite and
// others find it private), or tightens it. Failures are left to whoever
// opens it next.
void CreatePrivateFile(const QString &sFile);
