#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Writes ZIP archives through libzip. Configure it, list the files, call Add().
//
// - Entries with an already-compressed extension (see IsStoredExtension) are
//   stored, every other entry is deflated at level 6.
// - Encryption is the traditional PKWARE scheme, decided per entry: a file
//   file item "path<password" encrypts that entry with that password;
//   "path<" (empty password) and a bare "path" leave it unencrypted, unless
//   SetEncrypt(true) applies Password() to entries without a "<" of their own.
// - Files are streamed from disk while the archive is written; archives and
//   entries beyond 4 GiB use ZIP64 as libzip decides.
// - A listed file that does not exist is skipped and reported through
//   OnSkipped; the archive is built from the rest. Any other failure (a file
//   that cannot be read, an archive that cannot be written, a full disk) makes
//   Add() fail: nothing is left under the archive's name and no temporary file
//   remains, and OnError is called with the code and message.
// - An existing file under the archive's name is replaced, but only when Add()
//   succeeds; a failed Add() leaves it as it was.
class TZipEngine
{
public:
    enum ErrorCodes {
        ZipOk = 0,
        ZipNoArchiveName = 1, // no archive file name set
        ZipNothingToDo = 2, // no file item names an existing file
        ZipReadError = 3, // a listed file exists but cannot be read
        ZipCreateError = 4, // the archive cannot be created or opened
        ZipWriteError = 5, // writing the archive failed (full disk, ...)
        ZipInternalError = 6, // libzip refused an operation
    };

    TZipEngine() = default;

    // Archive to write; its folder must exist.
    const QString &ZipFileName() const { return FZipFileName; }
    void SetZipFileName(const QString &sFilename) { FZipFileName = sFilename; }

    // Default password, used only with SetEncrypt(true), for entries whose
    // file item carries no "<" password of its own.
    const QString &Password() const { return FPassword; }
    void SetPassword(const QString &sPassword) { FPassword = sPassword; }
    bool Encrypt() const { return FEncrypt; }
    void SetEncrypt(bool bEncrypt) { FEncrypt = bEncrypt; }

    // Relative specifications are taken relative to this folder, and with
    // KeepDirNames entries are named by their path below it. Empty: none.
    const QString &RootDir() const { return FRootDir; }
    void SetRootDir(const QString &sDir) { FRootDir = sDir; }

    // True: entries keep their folders (relative to RootDir, or the whole
    // path without its leading "/" for files outside it). False: bare names.
    bool KeepDirNames() const { return FKeepDirNames; }
    void SetKeepDirNames(bool bKeep) { FKeepDirNames = bKeep; }

    const QString &ZipComment() const { return FZipComment; }
    void SetZipComment(const QString &sComment) { FZipComment = sComment; }

    // One text per file: its path, optionally followed by "<" and a password
    // for that entry alone. Entries are written in list order; a later file
    // with the same entry name replaces an earlier one.
    QStringList &FSpecArgs() { return FFSpecArgs; }
    const QStringList &FSpecArgs() const { return FFSpecArgs; }
    void SetFSpecArgs(const QStringList &lSpecs) { FFSpecArgs = lSpecs; }
    // The file item text for sPath with its own password ("" = none).
    static QString FileSpec(const QString &sPath, const QString &sPassword = QString());

    // Back to a fresh engine: every setting cleared, results reset, callbacks kept.
    void Clear();

    // Writes the archive from the current settings. Returns ErrorCode().
    int Add();

    // Results of the last Add(): 0 and an empty message on success.
    int ErrorCode() const { return FErrorCode; }
    const QString &ErrorMessage() const { return FErrorMessage; }
    // Entries written by the last successful Add().
    int SuccessCount() const { return FSuccessCount; }

    // Called when Add() fails, before it returns (the windows show the
    // message in a message box, a headless run prints it).
    std::function<void(int iCode, const QString &sMessage)> OnError;
    // Called for every listed file that does not exist and was left out.
    std::function<void(const QString &sPath)> OnSkipped;

    // True when files with this name's extension are stored, not deflated.
    static bool IsStoredExtension(const QString &sFilename);

private:
    QString FZipFileName;
    QString FPassword;
    bool FEncrypt = false;
    QString FRootDir;
    bool FKeepDirNames = true;
    QString FZipComment;
    QStringList FFSpecArgs;

    int FErrorCode = ZipOk;
    QString FErrorMessage;
    int FSuccessCount = 0;

    int Fail(int iCode, const QString &sMessage);
};
