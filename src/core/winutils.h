#pragma once

#include <QString>
#include <QStringList>

// Free helpers for text, paths, temporary files and system names, used all
// over the program. Failures are raised as EOSError (core/exceptions.h).

// --- Text -----------------------------------------------------------------

// s with every single quote doubled, for use inside a single-quoted SQL literal.
// Stateless; safe on any thread.
QString SQLEscape(const QString &s);
// Replaces every occurrence of sFind (case-sensitive, left to right) in place;
// inserted text is never searched again. Nothing happens when sFind is empty
// or equals sReplace.
void ReplaceAll(QString &s, const QString &sFind, const QString &sReplace);
// "1 file", "0 files", "2 files".
QString Plural(const QString &sNoun, int iCount);
// Light syntax test: no control characters, '"', '\\' or characters above 255;
// one '@', followed by a domain that holds a '.' which is not its last character.
bool IsValidEmail(const QString &s);

// --- Paths ----------------------------------------------------------------

// sHead and sTail joined with exactly one separator. "/" is used when either
// side holds one, "\\" otherwise; a result with both kinds is unified to the
// kind that occurs first. A blank head or tail gives sHead unchanged.
QString JoinPath(const QString &sHead, const QString &sTail);
// Folder of the program file, with a trailing "/".
QString AppDir();
// The user's private temporary folder: $TMPDIR (default /tmp) +
// "/bundlewick-<uid>/", created with mode 0700 when missing, with a trailing
// "/". Raises EOSError when it is a symlink, not a folder or not owned by the
// user; a folder that others can read or write is made private first.
// The environment is read on every call.
QString TempDir();
// RunTempDir() + local time "yymmdd_hhnnss_zzz" + sSuffix. The name is
// remembered and the file deleted by DeleteTempFiles().
QString TempFileName(const QString &sSuffix);
// Start-up: empties the list of temporary files.
void InitTempFiles();
// Shutdown: deletes every listed file that exists (failures ignored) and
// empties the list.
void DeleteTempFiles();
// Shell special-folder identifiers understood by SpecialFolder().
constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PERSONAL = 5; // documents
constexpr int CSIDL_APPDATA = 26; // the user's data folder ($XDG_DATA_HOME)
// The folder's path without a trailing "/". Raises EOSError for any other
// identifier or when the folder cannot be determined.
QString SpecialFolder(int iFolder);

// --- Versions and system names -------------------------------------------

// This program's own version text, "major.minor.release build N".
QString AppVersion();
// The logged-on user's name (cached).
QString CurrentUserName();
// The computer's host name (cached).
QString CurrentComputerName();

// Text for a shell-execute failure code (codes at or below 32).
QString ShellErrorText(int iCode);
