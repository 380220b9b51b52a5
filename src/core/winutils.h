#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <limits>

// Free helpers for text, paths, files, versions and system names, used all
// over the program. Positions in strings are 1-based; 0 means "not found".
// Failures are raised as EOSError (core/exceptions.h).

// --- Text -----------------------------------------------------------------

// s with every single quote doubled, for use inside a single-quoted SQL literal.
// Stateless; safe on any thread.
QString SQLEscape(const QString &s);
// Replaces every occurrence of sFind (case-sensitive, left to right) in place;
// inserted text is never searched again. Nothing happens when sFind is empty
// or equals sReplace.
void ReplaceAll(QString &s, const QString &sFind, const QString &sReplace);
// 1-based position of the last occurrence of sSub in s, 0 when none (or sSub empty).
int LastPos(const QString &sSub, const QString &s);
// "1 file", "0 files", "2 files".
QString Plural(const QString &sNoun, int iCount);
QString IfThenStr(bool bCondition, const QString &sTrue, const QString &sFalse = QString());
int IfThenInt(bool bCondition, int iTrue, int iFalse = 0);
bool IfThenBool(bool bCondition, bool bTrue, bool bFalse = false);
// Light syntax test: no control characters, '"', '\\' or characters above 255;
// one '@', followed by a domain that holds a '.' which is not its last character.
bool IsValidEmail(const QString &s);

// --- Paths ----------------------------------------------------------------

// Joins sTail onto sDest with exactly one separator. "/" is used when either
// side holds one, "\\" otherwise; a result with both kinds is unified to the
// kind that occurs first. A blank head or tail leaves sDest unchanged.
void AppendPath(QString &sDest, const QString &sTail);
// A copy of sHead after AppendPath(sHead, sTail).
QString JoinPath(const QString &sHead, const QString &sTail);
// Folder of the program file, with a trailing "/".
QString AppDir();
// The user's private temporary folder: $TMPDIR (default /tmp) +
// "/bundlewick-<uid>/", created with mode 0700 when missing, with a trailing
// "/". Raises EOSError when it is a symlink, not a folder or not owned by the
// user; a folder that others can read or write is made private first.
// The environment is read on every call.
QString TempDir();
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
// RunTempDir() + local time "yymmdd_hhnnss_zzz" + sSuffix. The name is
// remembered and the file deleted by DeleteTempFiles().
QString TempFileName(const QString &sSuffix);
// Start-up: empties the list of temporary files.
void InitTempFiles();
// Shutdown: deletes every listed file that exists (failures ignored) and
// empties the list.
void DeleteTempFiles();
// The names handed out by TempFileName since the last Init/Delete.
QStringList TempFileList();

// Shell special-folder identifiers understood by SpecialFolder().
constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PERSONAL = 5; // documents
constexpr int CSIDL_APPDATA = 26; // the user's data folder ($XDG_DATA_HOME)
// The folder's path without a trailing "/". Raises EOSError for any other
// identifier or when the folder cannot be determined.
QString SpecialFolder(int iFolder);

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

// --- Files ----------------------------------------------------------------

// Empty when the file does not exist. Otherwise its text: a byte-order mark
// selects UTF-8, UTF-16 LE or BE; without one the bytes are read as UTF-8 when
// valid, else as Windows-1252. Lines (ended by CR LF, LF or CR) are joined with
// CR LF; one final CR LF is dropped. Raises EOSError when an existing file
// cannot be read.
QString LoadTextFile(const QString &sFileName);
// Writes sText as lines (split at CR LF, CR or LF), each ended by CR LF, in
// UTF-8 without a byte-order mark. Returns true; raises EOSError naming the
// file and the system's reason when it cannot be written (an existing file is
// left intact then).
bool SaveTextFile(const QString &sText, const QString &sFileName);
// File names on Linux are bytes, not always UTF-8. These carry any name
// through a QString and back unchanged: valid UTF-8 decodes as usual, and
// every byte of an invalid sequence becomes the lone surrogate U+DC80 to
// U+DCFF (Python's "surrogateescape"), which no decoded text holds
// otherwise. Use EncodeFileName, not QFile::encodeName, to reach such a file.
QString DecodeFileName(QByteArrayView raw);
QByteArray EncodeFileName(QStringView sName);
// True when the name holds such an escaped byte: it is not UTF-8 on disk.
bool HasRawFileNameBytes(QStringView sName);
// The name for messages and logs: each escaped byte shown as "\xNN"
// (upper-case hex), everything else as it is.
QString ReadableFileName(const QString &sName);

inline constexpr qint64 kNoFileTime = std::numeric_limits<qint64>::min();

// What one stat of a regular file tells (links followed): enough to count it
// as changed and to zip it without asking the file system again.
struct TFileFacts
{
    qint64 iModified = kNoFileTime; // ms since the epoch; kNoFileTime when not read or no regular file
    qint64 iSize = -1; // bytes; -1 when not read or no regular file
    quint32 iMode = 0; // st_mode

    bool Known() const { return iSize >= 0; }
};

// Fills oList (cleared first) with the files of sDir whose extension occurs in
// sMask ("*" takes every file), entries of each folder in case-insensitive name
// order, hidden files included. With bRecursive, subfolders are listed at their
// place in that order, except those whose lower-cased path ends with one of the
// ";"-separated entries of sExclude. Full paths ("/" separated) with
// bFullPath, otherwise bare names. Unreadable folders are skipped. Links to
// folders are not entered (sDir itself may be one), links to files are
// listed, and no folder is listed twice. Names that are not valid UTF-8 are
// listed as DecodeFileName gives them. With pFacts, it gets each listed
// file's time, size and mode (FileFacts), in step with oList, read by one
// stat per file in the folder being listed.
void ListFiles(const QString &sDir, const QString &sMask, QStringList &oList, const QString &sExclude,
               bool bRecursive, bool bFullPath, QList<TFileFacts> *pFacts = nullptr);
// One stat of the file, links followed; nothing known when it is missing or
// not a regular file.
TFileFacts FileFacts(const QString &sFile);
// A file's modification time in milliseconds since the epoch, links followed;
// kNoFileTime when it is missing or not a regular file.
qint64 FileModifiedMSecs(const QString &sFile);

// --- Versions and system names -------------------------------------------

// "major.minor.release build N" from the fixed version record of a Windows PE
// file; empty when the file has none or cannot be read or is malformed.
QString FileVersionText(const QString &sFileName);
// The same for a PE image already in memory (every read is bounds-checked).
QString PEVersionText(QByteArrayView data);
// This program's own version text, "major.minor.release build N".
QString AppVersion();
// The logged-on user's name (cached).
QString CurrentUserName();
// The computer's host name (cached).
QString CurrentComputerName();

// --- Events ---------------------------------------------------------------

// Keeps handling pending events until iMilliseconds have passed; with 0 (or
// less) handles the pending events once. Waits for events, never just sleeps.
void Delay(int iMilliseconds);

// Text for a shell-execute failure code (codes at or below 32).
QString ShellErrorText(int iCode);
