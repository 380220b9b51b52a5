#pragma once

#include "archive/zipencryption.h"
#include "core/listfiles.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// One file to put into an archive.
// True when files with this name's extension (gif, zip, jpg, mp3, ...) are
// stored as they are: deflating them again gains nothing.
bool IsStoredExtension(const QString &sFilename);

struct TZipWriterItem
{
    QString sPath; // file to read
    QString sEntryName; // name in the archive: "/" between folders, no leading "/", no ".."
    QString sPassword; // encrypted with this password; empty: not encrypted
    bool bStore = false; // stored as is instead of deflated
    TZipEncryption eEncryption = TZipEncryption::Traditional; // with a password: how
    // What a listing already learned of the file; when known, the file is not
    // examined again before it is read (see TZipWriter).
    TFileFacts oFacts = {};

    // An item whose compression follows the stored-extension rule of the
    // entry name (IsStoredExtension).
    static TZipWriterItem ForFile(const QString &sPath, const QString &sEntryName,
                                  const QString &sPassword = QString(),
                                  TZipEncryption eEncryption = TZipEncryption::Traditional,
                                  const TFileFacts &oFacts = {});
};

// Writes a ZIP archive from an ordered list of files, compressing on a pool
// of worker threads while one thread writes the entries in list order, so
// that the archive is the same byte for byte whatever the number of threads.
//
// - Deflate at level 6: files up to 4 MiB are compressed whole with
//   libdeflate; larger files in 1 MiB chunks, each chunk a run of zlib
//   blocks ended by a sync flush and primed with the 32 KiB before it, so
//   that the chunks join into one deflate stream. No file is ever read whole
//   and the work in flight is bounded, so memory does not grow with file
//   sizes.
// - Encryption per entry, either traditional PKWARE (table driven, on the
//   writing thread), with a data descriptor after the encrypted data as
//   Info-ZIP writes it; or WinZip AES-256 (AE-2: method 99 with the 0x9901
//   extra field, a random 16-byte salt, PBKDF2-HMAC-SHA1 keys, AES in CTR
//   mode with WinZip's little-endian counter, a 10-byte HMAC-SHA1 of the
//   encrypted data after it, CRC 0). Key derivation and AES run on the
//   compressing threads: an entry's keys with its first piece, and each piece
//   is encrypted once the pieces before it are compressed, as its place in
//   the entry is known then. Only the HMAC, a running sum, is taken on the
//   writing thread.
// - ZIP64 records where sizes, offsets or the entry count need them.
// - Entries carry the file's modification time (local DOS time) and its Unix
//   permissions; names are flagged UTF-8 when they are not plain ASCII.
// - Small files without a password are read and compressed in batches, many
//   files to one piece of work, so that a tree of many tiny files does not
//   cost a hand-over between threads per file.
// - An item with known facts (size, time, mode from a listing) is opened
//   once, when it is read, and not examined before. A small one that turns
//   out to have another size than listed goes in as it is on disk then, with
//   its time and mode read again; a larger one fails Write() as a changed
//   file. One that is gone by then is skipped like a missing file.
// - A listed file that does not exist is skipped and reported through
//   OnSkipped. Any other failure (a file that cannot be read, changes size or
//   vanishes while it is zipped, an archive that cannot be written, a full
//   disk) fails Write(): the archive is written under a temporary name in its
//   folder and renamed only on success, so nothing is left behind and an
//   existing archive stays as it was.
// - Abort() from any thread stops the workers and fails Write() with ZipAborted.
// - A later item with the same entry name replaces an earlier one, keeping the
//   earlier one's place.
class TZipWriter
{
public:
    // The same codes as TZipEngine, plus ZipAborted.
    enum ErrorCodes {
        ZipOk = 0,
        ZipNoArchiveName = 1,
        ZipNothingToDo = 2,
        ZipReadError = 3,
        ZipCreateError = 4,
        ZipWriteError = 5,
        ZipInternalError = 6,
        ZipAborted = 7,
    };

    TZipWriter() = default;
    TZipWriter(const TZipWriter &) = delete;
    TZipWriter &operator=(const TZipWriter &) = delete;

    const QString &ZipFileName() const { return FZipFileName; }
    void SetZipFileName(const QString &sFilename) { FZipFileName = sFilename; }
    const QString &ZipComment() const { return FZipComment; }
    void SetZipComment(const QString &sComment) { FZipComment = sComment; }

    std::vector<TZipWriterItem> &Items() { return FItems; }
    void SetItems(std::vector<TZipWriterItem> lItems) { FItems = std::move(lItems); }
    void AddFile(const QString &sPath, const QString &sEntryName, const QString &sPassword = QString(),
                 TZipEncryption eEncryption = TZipEncryption::Traditional)
    {
        FItems.push_back(TZipWriterItem::ForFile(sPath, sEntryName, sPassword, eEncryption));
    }

    // Compressing threads; 0 (the default) is one per core.
    int ThreadCount() const { return FThreadCount; }
    void SetThreadCount(int iCount) { FThreadCount = iCount; }

    // Makes the encryption headers and AES salts reproducible (tests only); 0: random.
    void SetEncryptionSeed(quint64 iSeed) { FSeed = iSeed; }

    // Writes the archive. Returns ErrorCode(). Not reentrant.
    int Write();

    // Stops a running Write() from any thread; it returns ZipAborted. Reset
    // by the next Write().
    void Abort();

    int ErrorCode() const { return FErrorCode; }
    const QString &ErrorMessage() const { return FErrorMessage; }
    // Entries in the archive written by the last successful Write().
    int SuccessCount() const { return FSuccessCount; }
    // Size of the archive written by the last successful Write().
    quint64 ArchiveSize() const { return FArchiveSize; }

    // Called on the writing thread when Write() fails, before it returns.
    std::function<void(int iCode, const QString &sMessage)> OnError;
    // Called on the writing thread for every listed file that does not exist.
    std::function<void(const QString &sPath)> OnSkipped;
    // Called on the writing thread after each piece of a file went into the
    // archive: the file and how many of its bytes are in so far.
    std::function<void(const QString &sPath, quint64 iDone)> OnProgress;

private:
    friend class TZipWriterRun;

    QString FZipFileName;
    QString FZipComment;
    std::vector<TZipWriterItem> FItems;
    int FThreadCount = 0;
    quint64 FSeed = 0;

    int FErrorCode = ZipOk;
    QString FErrorMessage;
    int FSuccessCount = 0;
    quint64 FArchiveSize = 0;

    // Shared with the workers of a running Write() and with Abort().
    std::atomic<bool> FAbort { false };
    // On the heap, so that every writer gets locks of its own even where
    // writers follow one another at the same address.
    struct TSync
    {
        std::mutex Mutex;
        std::condition_variable WorkReady;
        std::condition_variable WorkDone;
    };
    std::unique_ptr<TSync> FSync = std::make_unique<TSync>();

    int Fail(int iCode, const QString &sMessage);
};
