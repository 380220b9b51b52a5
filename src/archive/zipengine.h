#pragma once

#include "archive/zipencryption.h"
#include "archive/zipwriter.h"
#include "core/listfiles.h"

#include <QList>
#include <QString>
#include <functional>
#include <vector>

// One file to put into an archive.
struct TZipFileItem
{
    QString sPath; // the file on disk; relative paths are taken from the working folder
    QString sEntryName; // its name in the archive ("/" between folders); empty: the file's name
    QString sPassword; // encrypts this entry alone; empty: not encrypted
    TZipEncryption eEncryption = TZipEncryption::Traditional; // how, with a password
    // What a listing learned of the file (an absolute path), when it did: the
    // file is then opened only to be read (TZipWriter says how a file that
    // changed since is handled).
    TFileFacts oFacts = {};
};

// Writes ZIP archives (through TZipWriter, on every core). Set the archive
// name, list the items, call Add(). Add() hands the items on to the writing
// (none are left after it, unless no archive name was set), so that a tree
// of many files is not held twice; list them again for another archive.
//
// - Entries with an already-compressed extension (see IsStoredExtension) are
//   stored, every other entry is deflated at level 6.
// - Encryption is per item: the traditional PKWARE scheme unless the item
//   asks for WinZip AES-256. File names are never parsed: a "<" in a name is
//   just part of it.
// - Entry names follow the ZIP format: "/" is the only separator, no leading
//   "/", no "." or ".." segments. Every "\" and ":" becomes "_", so that
//   Windows extractors find neither a separator nor a drive in a name.
// - Names that are not UTF-8 on disk (DecodeFileName) reach their files and
//   keep their bytes in the entry name, without the UTF-8 flag.
// - The same file listed twice gives one entry; two different files with the
//   same entry name make Add() fail rather than one replacing the other.
// - Files are streamed from disk while the archive is written; archives and
//   entries beyond 4 GiB use ZIP64.
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
        ZipInternalError = 6, // an entry could not be named
        ZipDuplicateName = 7, // two different files with the same entry name
        ZipAborted = 8, // the write was stopped
    };

    TZipEngine() = default;

    // Archive to write; its folder must exist.
    const QString &ZipFileName() const { return FZipFileName; }
    void SetZipFileName(const QString &sFilename) { FZipFileName = sFilename; }

    const QString &ZipComment() const { return FZipComment; }
    void SetZipComment(const QString &sComment) { FZipComment = sComment; }

    // The files, in entry order. They are kept as the writer takes them, so
    // that Add() makes its items in place: a tree of many files is never
    // listed twice.
    void SetItems(const QList<TZipFileItem> &lItems);
    void ReserveItems(qsizetype iCount) { FItems.reserve(size_t(iCount)); }
    void AddItem(const QString &sPath, const QString &sEntryName = QString(),
                 const QString &sPassword = QString(),
                 TZipEncryption eEncryption = TZipEncryption::Traditional)
    {
        FItems.push_back({ sPath, sEntryName, sPassword, false, eEncryption, {} });
    }
    // A file a listing has seen, with what it learned.
    void AddListedItem(const QString &sPath, const QString &sEntryName, const TFileFacts &oFacts)
    {
        FItems.push_back({ sPath, sEntryName, QString(), false, TZipEncryption::Traditional, oFacts });
    }

    // Back to a fresh engine: every setting cleared, results reset, callbacks kept.
    void Clear();

    // Writes the archive from the current settings and empties the items.
    // Returns ErrorCode().
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
    QString FZipComment;
    std::vector<TZipWriterItem> FItems;

    int FErrorCode = ZipOk;
    QString FErrorMessage;
    int FSuccessCount = 0;

    int Fail(int iCode, const QString &sMessage);
};
