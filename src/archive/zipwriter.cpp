#include "archive/zipwriter.h"

#include "core/listfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <libdeflate.h>
#include <memory>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr quint64 kChunk = 1 << 20; // piece of a large file
constexpr quint64 kWholeLimit = 4 << 20; // files up to this size are compressed in one piece
constexpr quint64 kSmallFile = 64 << 10; // listed files up to this size go in batches
constexpr size_t kBatchFiles = 64; // at most so many files in a batch
constexpr quint64 kBatchBytes = 256 << 10; // and about so many bytes
constexpr quint64 kDictionary = 32 << 10; // deflate window carried into the next chunk
constexpr size_t kDirectoryPiece = 64 << 10; // central directory records written at a time
constexpr int kLevel = 6; // as zip and gzip by default
// Entries from this size on get ZIP64 sizes in their local header: deflate
// and encryption may add a little, and the header is written before that is known.
constexpr quint64 kZip64Threshold = 0xFFFFFFFFull - (64ull << 20);
constexpr quint32 kMax32 = 0xFFFFFFFFu;

// Errors a worker can meet besides an errno.
constexpr int kChanged = -1; // size or identity differs from the listing
constexpr int kNoMemory = -2;
constexpr int kDeflateFailed = -3;
constexpr int kEncryptFailed = -4;

QString ErrnoText(int iErr)
{
    return QString::fromLocal8Bit(std::strerror(iErr));
}

QString ReadErrorText(int iErr)
{
    switch (iErr) {
    case kChanged:
        return QStringLiteral("the file changed while it was being zipped");
    case kNoMemory:
        return QStringLiteral("out of memory");
    case kDeflateFailed:
        return QStringLiteral("compression failed");
    case kEncryptFailed:
        return QStringLiteral("encryption failed");
    default:
        return ErrnoText(iErr);
    }
}

// The failure that ends a Write(); thrown on the writing thread only.
struct TFailure
{
    int iCode;
    QString sMessage;
};

// --- CRC-32 table and the traditional PKWARE cipher --------------------------

constexpr std::array<quint32, 256> MakeCrcTable()
{
    std::array<quint32, 256> t {};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}
constexpr std::array<quint32, 256> CrcTable = MakeCrcTable();

class TPkwareCipher
{
public:
    explicit TPkwareCipher(const QByteArray &sPassword)
    {
        for (const char c : sPassword)
            Update(static_cast<quint8>(c));
    }
    void Encrypt(quint8 *p, size_t n)
    {
        // Keys in locals so that the loop runs in registers.
        quint32 k0 = FKey0, k1 = FKey1, k2 = FKey2;
        for (size_t i = 0; i < n; ++i) {
            const quint32 t = (k2 | 2) & 0xFFFF;
            const quint8 c = p[i];
            p[i] = c ^ static_cast<quint8>((t * (t ^ 1)) >> 8);
            k0 = CrcTable[(k0 ^ c) & 0xFF] ^ (k0 >> 8);
            k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
            k2 = CrcTable[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
        }
        FKey0 = k0;
        FKey1 = k1;
        FKey2 = k2;
    }

private:
    quint32 FKey0 = 0x12345678u, FKey1 = 0x23456789u, FKey2 = 0x34567890u;
    void Update(quint8 c)
    {
        FKey0 = CrcTable[(FKey0 ^ c) & 0xFF] ^ (FKey0 >> 8);
        FKey1 = (FKey1 + (FKey0 & 0xFF)) * 134775813u + 1;
        FKey2 = CrcTable[(FKey2 ^ (FKey1 >> 24)) & 0xFF] ^ (FKey2 >> 8);
    }
};

// --- WinZip AES (AE-2) ------------------------------------------------------

constexpr size_t kAesSalt = 16; // the salt length that goes with AES-256
constexpr size_t kAesVerifier = 2;
constexpr size_t kAesHead = kAesSalt + kAesVerifier; // before the data
constexpr size_t kAesMac = 10; // after it
constexpr int kAesIterations = 1000;
constexpr quint16 kAesMethod = 99;

// The keys of one AES entry, made once from the password and a fresh salt by
// the thread that takes the entry's first piece (the derivation costs a few
// milliseconds, too much for the writing thread when there are many entries),
// then shared, read only, by the threads that encrypt its pieces.
struct TAesKeys
{
    std::array<quint8, kAesSalt> salt {};
    std::array<quint8, 32> key {};
    std::array<quint8, 32> macKey {};
    std::array<quint8, kAesVerifier> verifier {};

    TAesKeys() = default;
    TAesKeys(const TAesKeys &) = delete;
    TAesKeys &operator=(const TAesKeys &) = delete;
    ~TAesKeys()
    {
        OPENSSL_cleanse(key.data(), key.size());
        OPENSSL_cleanse(macKey.data(), macKey.size());
    }
};

TFailure CryptoFailure(const QString &sWhat)
{
    return { TZipWriter::ZipInternalError, QStringLiteral("Cannot encrypt %1: OpenSSL failed").arg(sWhat) };
}

// PBKDF2-HMAC-SHA1 over the salt gives AES key, HMAC key and password
// verifier in one run. False when OpenSSL fails.
bool DeriveAesKeys(TAesKeys &keys, const QByteArray &sPassword)
{
    std::array<quint8, 32 + 32 + kAesVerifier> derived {};
    const bool bOk
        = PKCS5_PBKDF2_HMAC(sPassword.constData(), int(sPassword.size()), keys.salt.data(), int(kAesSalt),
                            kAesIterations, EVP_sha1(), int(derived.size()), derived.data())
        == 1;
    std::memcpy(keys.key.data(), derived.data(), 32);
    std::memcpy(keys.macKey.data(), derived.data() + 32, 32);
    std::memcpy(keys.verifier.data(), derived.data() + 64, kAesVerifier);
    OPENSSL_cleanse(derived.data(), derived.size());
    return bOk;
}

// AES-256 in WinZip's counter mode: block i of an entry's data (from 0) is
// XORed with the encryption of i + 1 as a 128-bit little-endian number.
// OpenSSL's CTR mode counts big-endian, so the counter blocks are made here
// and encrypted in batches through ECB.
class TAesCtr
{
public:
    TAesCtr() = default;
    ~TAesCtr()
    {
        EVP_CIPHER_CTX_free(FCtx);
        EVP_CIPHER_free(FCipher);
    }
    TAesCtr(const TAesCtr &) = delete;
    TAesCtr &operator=(const TAesCtr &) = delete;

    // XORs the key stream from byte iOffset of the entry's data into p.
    bool Apply(const TAesKeys &keys, quint8 *p, size_t n, quint64 iOffset)
    {
        // Fetched once per thread: an implicit fetch on every piece costs locks.
        if (!FCipher && !(FCipher = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr)))
            return false;
        if (!FCtx && !(FCtx = EVP_CIPHER_CTX_new()))
            return false;
        if (EVP_EncryptInit_ex2(FCtx, FCipher, keys.key.data(), nullptr, nullptr) != 1
            || EVP_CIPHER_CTX_set_padding(FCtx, 0) != 1)
            return false;
        quint64 iBlock = iOffset / 16 + 1;
        size_t iSkip = size_t(iOffset % 16);
        while (n > 0) {
            const size_t iBlocks = std::min((iSkip + n + 15) / 16, kBatch / 16);
            for (size_t b = 0; b < iBlocks; ++b) {
                const quint64 c = iBlock + b;
                for (size_t i = 0; i < 8; ++i)
                    FCounters[16 * b + i] = quint8(c >> (8 * i)); // bytes 8 to 15 stay 0
            }
            int iOut = 0;
            if (EVP_EncryptUpdate(FCtx, FStream.data(), &iOut, FCounters.data(), int(iBlocks * 16)) != 1
                || iOut != int(iBlocks * 16))
                return false;
            const size_t iUse = std::min(n, iBlocks * 16 - iSkip);
            for (size_t i = 0; i < iUse; ++i)
                p[i] ^= FStream[iSkip + i];
            p += iUse;
            n -= iUse;
            iBlock += iBlocks;
            iSkip = 0;
        }
        return true;
    }

private:
    static constexpr size_t kBatch = 4096;
    EVP_CIPHER *FCipher = nullptr;
    EVP_CIPHER_CTX *FCtx = nullptr;
    std::array<quint8, kBatch> FCounters {};
    std::array<quint8, kBatch> FStream {};
};

// The authentication code: HMAC-SHA1 over the encrypted data, in order.
class TAesMac
{
public:
    TAesMac(const TAesKeys &keys, const QString &sWhat)
        : FWhat(sWhat)
    {
        FMac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        FCtx = FMac ? EVP_MAC_CTX_new(FMac) : nullptr;
        char sDigest[] = "SHA1";
        const OSSL_PARAM params[] = { OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, sDigest, 0),
                                      OSSL_PARAM_construct_end() };
        if (!FCtx || EVP_MAC_init(FCtx, keys.macKey.data(), keys.macKey.size(), params) != 1) {
            Free();
            throw CryptoFailure(FWhat);
        }
    }
    ~TAesMac() { Free(); }
    TAesMac(const TAesMac &) = delete;
    TAesMac &operator=(const TAesMac &) = delete;

    void Update(const quint8 *p, size_t n)
    {
        if (n > 0 && EVP_MAC_update(FCtx, p, n) != 1)
            throw CryptoFailure(FWhat);
    }
    std::array<quint8, kAesMac> Final()
    {
        std::array<quint8, EVP_MAX_MD_SIZE> full {};
        size_t iLen = 0;
        if (EVP_MAC_final(FCtx, full.data(), &iLen, full.size()) != 1 || iLen < kAesMac)
            throw CryptoFailure(FWhat);
        std::array<quint8, kAesMac> code {};
        std::memcpy(code.data(), full.data(), kAesMac);
        return code;
    }

private:
    QString FWhat;
    EVP_MAC *FMac = nullptr;
    EVP_MAC_CTX *FCtx = nullptr;
    void Free()
    {
        EVP_MAC_CTX_free(FCtx);
        EVP_MAC_free(FMac);
        FCtx = nullptr;
        FMac = nullptr;
    }
};

// --- little-endian record building ---------------------------------------

void Put16(std::string &s, quint32 v)
{
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}
void Put32(std::string &s, quint32 v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
void Put64(std::string &s, quint64 v)
{
    Put32(s, quint32(v & 0xFFFFFFFFu));
    Put32(s, quint32(v >> 32));
}
void Set32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
void Set64(char *p, quint64 v)
{
    Set32(p, quint32(v & 0xFFFFFFFFu));
    Set32(p + 4, quint32(v >> 32));
}

// Whole seconds of a time in milliseconds since the epoch, rounded down.
time_t SecondsOf(qint64 iMSecs)
{
    return time_t(iMSecs >= 0 ? iMSecs / 1000 : -((-iMSecs + 999) / 1000));
}

// DOS date (high half) and time (low half) of a file time, in local time.
quint32 DosDateTime(time_t t)
{
    struct tm tm
    {
    };
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    if (tm.tm_year > 207)
        tm = { 58, 59, 23, 31, 11, 207, 0, 0, 0, 0, nullptr };
    const quint32 date = quint32(tm.tm_year - 80) << 9 | quint32(tm.tm_mon + 1) << 5 | quint32(tm.tm_mday);
    const quint32 time = quint32(tm.tm_hour) << 11 | quint32(tm.tm_min) << 5 | quint32(tm.tm_sec / 2);
    return date << 16 | time;
}

bool IsAscii(const QByteArray &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The process's file creation mask, read without changing it.
mode_t CurrentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = status.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

// --- the plan --------------------------------------------------------------

// A listed file that will go into the archive, and once it is in, what its
// central directory record tells. The records are written from these at the
// end: a tree of many files holds a few numbers per entry until then, not
// its record.
struct TPlanned
{
    const TZipWriterItem *pItem = nullptr;
    quint64 iSize = 0;
    dev_t iDev = 0;
    ino_t iIno = 0;
    quint64 iHeader = 0; // offset of the local header
    quint64 iCompressed = 0; // with the encryption header and AES code
    quint32 iDosTime = 0;
    quint32 iCrc = 0;
    quint16 iMode = 0; // the st_mode bits an entry keeps
    quint16 iFlags = 0;
    bool bListed = false; // the facts came from a listing; dev and ino are not known
    bool bZip64 = false; // ZIP64 sizes in the local header
    bool bAes = false;
    bool bWritten = false; // in the archive (not skipped)
};

// One file of a batch: its results, valid with the batch's.
struct TBatchFile
{
    TPlanned *pItem = nullptr;
    size_t iOutStart = 0; // its data in the batch's output
    size_t iOutSize = 0;
    quint32 iCrc = 0;
    int iErr = 0;
    // The file had another size than listed: what it has now.
    bool bChanged = false;
    quint64 iSize = 0;
    quint32 iDosTime = 0;
    quint32 iMode = 0;
};

// One piece of work for a compressing thread: a whole file, or a chunk.
struct TJob
{
    TPlanned *pItem = nullptr;
    quint64 iOffset = 0;
    quint64 iLength = 0;
    bool bFirst = false;
    bool bLast = false;
    // AES: the entry's keys (derived with its first piece), and where this
    // piece's output starts in the entry's data: known for the first piece,
    // for every later one once the pieces before it are compressed, which
    // also means the keys are there. Guarded by the writer's mutex from the
    // hand-out on.
    std::shared_ptr<TAesKeys> aes;
    quint64 iOutOffset = 0;
    bool bHasOffset = true;
    TJob *pNext = nullptr; // the entry's next piece, once handed out
    // A batch of small whole files (pItem is the first); out holds their
    // data one after the other.
    std::vector<TBatchFile> batch;
    // Results, valid once bDone is set (under the writer's mutex).
    std::vector<quint8> out;
    quint64 iOutSize = 0; // set with bCompressed
    quint32 iCrc = 0;
    int iErr = 0;
    bool bCompressed = false; // AES: compressed, waiting for its offset or encryption
    bool bEncryptQueued = false;
    bool bDone = false;
};

// A file descriptor that closes itself.
struct TFd
{
    int fd = -1;
    explicit TFd(int f)
        : fd(f)
    { }
    ~TFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
};

// Reads exactly n bytes at iOffset; 0, an errno, or kChanged when the file ends early.
int ReadFully(int fd, quint8 *p, size_t n, quint64 iOffset)
{
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, off_t(iOffset));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (r == 0)
            return kChanged;
        p += r;
        n -= size_t(r);
        iOffset += quint64(r);
    }
    return 0;
}

// What one compressing thread keeps between jobs.
class TWorkerState
{
public:
    TWorkerState() = default;
    ~TWorkerState()
    {
        if (FCompressor)
            libdeflate_free_compressor(FCompressor);
    }
    TWorkerState(const TWorkerState &) = delete;
    TWorkerState &operator=(const TWorkerState &) = delete;

    // Fills the job's results; never throws.
    void Run(TJob &job) noexcept
    {
        try {
            job.iErr = job.batch.empty() ? Process(job) : ProcessBatch(job);
        } catch (const std::bad_alloc &) {
            job.iErr = kNoMemory;
        } catch (...) {
            job.iErr = kDeflateFailed;
        }
        if (job.iErr)
            job.out = {};
    }

    // Encrypts a compressed AES piece in place; never throws.
    void Encrypt(TJob &job) noexcept
    {
        if (!FCtr.Apply(*job.aes, job.out.data(), job.out.size(), job.iOutOffset)) {
            job.iErr = kEncryptFailed;
            job.out = {};
        }
    }

private:
    libdeflate_compressor *FCompressor = nullptr;
    std::vector<quint8> FInput;
    TAesCtr FCtr;

    int Process(TJob &job)
    {
        const TPlanned &item = *job.pItem;
        if (job.aes && job.bFirst && !DeriveAesKeys(*job.aes, item.pItem->sPassword.toUtf8()))
            return kEncryptFailed;
        const int fd = ::open(EncodeFileName(item.pItem->sPath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return errno;
        const TFd file(fd);
        struct stat st;
        if (::fstat(fd, &st) != 0)
            return errno;
        if (quint64(st.st_size) != item.iSize
            || (!item.bListed && (st.st_ino != item.iIno || st.st_dev != item.iDev)))
            return kChanged;

        const bool bDeflate = !item.pItem->bStore;
        const quint64 iDict = (bDeflate && !job.bFirst) ? std::min(kDictionary, job.iOffset) : 0;
        const size_t iRead = size_t(iDict + job.iLength);
        // The last piece reads one byte more to see that the file has not grown.
        const size_t iProbe = job.bLast ? 1 : 0;
        std::vector<quint8> &in = bDeflate ? FInput : job.out;
        in.resize(iRead + iProbe);
        if (const int iErr = ReadFully(fd, in.data(), iRead, job.iOffset - iDict))
            return iErr;
        if (job.bLast) {
            quint8 extra;
            ssize_t r;
            do
                r = ::pread(fd, &extra, 1, off_t(job.iOffset + job.iLength));
            while (r < 0 && errno == EINTR);
            if (r < 0)
                return errno;
            if (r > 0)
                return kChanged;
        }
        in.resize(iRead);
        const quint8 *pData = in.data() + iDict;
        // AE-2 stores no CRC: the authentication code checks the data.
        if (!job.aes)
            job.iCrc = quint32(libdeflate_crc32(0, pData, size_t(job.iLength)));
        if (!bDeflate)
            return 0;
        if (job.bFirst && job.bLast)
            return DeflateWhole(job, pData);
        return DeflateChunk(job, in.data(), size_t(iDict));
    }

    int DeflateWhole(TJob &job, const quint8 *pData)
    {
        job.out.clear();
        return DeflateAppend(job.out, pData, size_t(job.iLength));
    }

    // Deflates n bytes in one piece and appends them to out.
    int DeflateAppend(std::vector<quint8> &out, const quint8 *pData, size_t n)
    {
        if (!FCompressor) {
            FCompressor = libdeflate_alloc_compressor(kLevel);
            if (!FCompressor)
                return kNoMemory;
        }
        const size_t iStart = out.size();
        out.resize(iStart + libdeflate_deflate_compress_bound(FCompressor, n));
        const size_t iOut
            = libdeflate_deflate_compress(FCompressor, pData, n, out.data() + iStart, out.size() - iStart);
        if (iOut == 0)
            return kDeflateFailed;
        out.resize(iStart + iOut);
        return 0;
    }

    // Every file of the batch: one open, reads to its end, compression into
    // the batch's output. A file's failure stays with the file; the writer
    // decides what it means.
    int ProcessBatch(TJob &job)
    {
        job.out.clear();
        for (TBatchFile &f : job.batch) {
            f.iErr = ReadSmall(f);
            if (f.iErr)
                continue;
            f.iCrc = quint32(libdeflate_crc32(0, FInput.data(), FInput.size()));
            f.iOutStart = job.out.size();
            if (f.pItem->pItem->bStore)
                job.out.insert(job.out.end(), FInput.begin(), FInput.end());
            else if ((f.iErr = DeflateAppend(job.out, FInput.data(), FInput.size())))
                continue;
            f.iOutSize = job.out.size() - f.iOutStart;
        }
        return 0;
    }

    // Reads the whole file into FInput as it is now. The listed size only
    // sizes the buffer: a file that changed since it was listed is read as it
    // is, and its size, time and mode are taken anew.
    int ReadSmall(TBatchFile &f)
    {
        const TPlanned &item = *f.pItem;
        // Not blocking: a pipe put in the file's place since the listing
        // must fail, not hang.
        const int fd
            = ::open(EncodeFileName(item.pItem->sPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        const TFd file(fd);
        // One byte more than listed, so that an unchanged file is read by one
        // call: a short read of a regular file is its end.
        size_t iCap = size_t(item.iSize) + 1;
        size_t n = 0;
        FInput.resize(iCap);
        for (;;) {
            const ssize_t r = ::read(fd, FInput.data() + n, iCap - n);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            n += size_t(r);
            if (r == 0 || n < iCap)
                break;
            if (iCap > kWholeLimit)
                return kChanged; // grew too far to go in one piece
            iCap *= 2;
            FInput.resize(iCap);
        }
        FInput.resize(n);
        f.iSize = n;
        if (n != item.iSize) {
            struct stat st;
            if (::fstat(fd, &st) != 0)
                return errno;
            f.bChanged = true;
            f.iDosTime = DosDateTime(st.st_mtime);
            f.iMode = quint32(st.st_mode) & 0xFFFF;
        }
        return 0;
    }

    // One chunk of a deflate stream: non-final blocks ending on a byte
    // boundary (sync flush), or the final block for the file's last chunk.
    int DeflateChunk(TJob &job, const quint8 *pIn, size_t iDict)
    {
        z_stream zs {};
        if (deflateInit2(&zs, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return kNoMemory;
        struct TEnd
        {
            z_stream *p;
            ~TEnd() { deflateEnd(p); }
        } end { &zs };
        if (iDict && deflateSetDictionary(&zs, pIn, uInt(iDict)) != Z_OK)
            return kDeflateFailed;
        const size_t n = size_t(job.iLength);
        // Room for the worst case plus the sync marker.
        job.out.resize(deflateBound(&zs, uLong(n)) + 16);
        zs.next_in = const_cast<Bytef *>(pIn + iDict);
        zs.avail_in = uInt(n);
        zs.next_out = job.out.data();
        zs.avail_out = uInt(job.out.size());
        const int iFlush = job.bLast ? Z_FINISH : Z_SYNC_FLUSH;
        const int rc = deflate(&zs, iFlush);
        if ((job.bLast && rc != Z_STREAM_END) || (!job.bLast && (rc != Z_OK || zs.avail_in != 0)))
            return kDeflateFailed;
        job.out.resize(job.out.size() - zs.avail_out);
        return 0;
    }
};

// Encryption header bytes: from the system, or a fixed sequence for tests.
class THeaderRandom
{
public:
    explicit THeaderRandom(quint64 iSeed)
        : FState(iSeed)
    { }
    void Fill(quint8 *p, size_t n)
    {
        if (FState == 0) {
            if (RAND_bytes(p, int(n)) != 1)
                throw TFailure { TZipWriter::ZipInternalError,
                                 QStringLiteral("No random numbers for the encryption") };
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            FState ^= FState << 13;
            FState ^= FState >> 7;
            FState ^= FState << 17;
            p[i] = quint8(FState >> 24);
        }
    }

private:
    quint64 FState;
};

// The archive being written: a temporary file beside the final one, written
// through a buffer; removed unless Commit() succeeds.
class TArchiveFile
{
public:
    TArchiveFile(const QString &sFinal)
        : FFinal(QFile::encodeName(sFinal))
    {
        const QFileInfo info(sFinal);
        FTemp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                  + QStringLiteral(".XXXXXX"));
        FFd = ::mkostemp(FTemp.data(), O_CLOEXEC);
        if (FFd < 0)
            throw TFailure {
                TZipWriter::ZipCreateError,
                QStringLiteral("Cannot create the archive %1: %2").arg(sFinal, ErrnoText(errno))
            };
        // Permissions as for any new file; mkostemp gives 0600.
        ::fchmod(FFd, 0666 & ~CurrentUmask());
        FDisplay = sFinal;
        FBuffer.reserve(kBuffer);
    }
    ~TArchiveFile()
    {
        if (FFd >= 0) {
            ::close(FFd);
            ::unlink(FTemp.constData());
        }
    }
    TArchiveFile(const TArchiveFile &) = delete;
    TArchiveFile &operator=(const TArchiveFile &) = delete;

    quint64 Offset() const { return FOffset; }

    void Write(const void *p, size_t n)
    {
        if (FBuffer.size() + n > kBuffer) {
            Flush();
            if (n >= kBuffer) {
                WriteRaw(p, n, FFlushed);
                FFlushed += n;
                FOffset += n;
                return;
            }
        }
        FBuffer.append(static_cast<const char *>(p), n);
        FOffset += n;
    }
    void Write(const std::string &s) { Write(s.data(), s.size()); }

    // Rewrites bytes already written at iAt (a local header's sizes).
    void Patch(quint64 iAt, const char *p, size_t n)
    {
        if (iAt >= FFlushed) {
            std::memcpy(FBuffer.data() + (iAt - FFlushed), p, n);
            return;
        }
        const size_t iBefore = size_t(std::min<quint64>(n, FFlushed - iAt));
        WriteRaw(p, iBefore, iAt);
        if (iBefore < n)
            std::memcpy(FBuffer.data(), p + iBefore, n - iBefore);
    }

    void Commit()
    {
        Flush();
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0) {
            const int iErr = errno;
            ::unlink(FTemp.constData());
            throw WriteFailure(iErr);
        }
        if (::rename(FTemp.constData(), FFinal.constData()) != 0) {
            const int iErr = errno;
            ::unlink(FTemp.constData());
            throw WriteFailure(iErr);
        }
    }

private:
    static constexpr size_t kBuffer = 1 << 20;
    QByteArray FFinal;
    QByteArray FTemp;
    QString FDisplay;
    int FFd = -1;
    std::string FBuffer;
    quint64 FFlushed = 0; // bytes in the file, before the buffer
    quint64 FOffset = 0; // bytes written in all

    TFailure WriteFailure(int iErr) const
    {
        return {
            TZipWriter::ZipWriteError,
            QStringLiteral("Cannot write the archive %1: Write error: %2").arg(FDisplay, ErrnoText(iErr))
        };
    }
    void Flush()
    {
        if (FBuffer.empty())
            return;
        WriteRaw(FBuffer.data(), FBuffer.size(), FFlushed);
        FFlushed += FBuffer.size();
        FBuffer.clear();
    }
    void WriteRaw(const void *p, size_t n, quint64 iAt)
    {
        const char *q = static_cast<const char *>(p);
        while (n > 0) {
            const ssize_t r = ::pwrite(FFd, q, n, off_t(iAt));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                throw WriteFailure(errno);
            }
            if (r == 0)
                throw WriteFailure(ENOSPC);
            q += r;
            n -= size_t(r);
            iAt += quint64(r);
        }
    }
};

} // namespace

// --- one Write() -------------------------------------------------------------

class TZipWriterRun
{
public:
    TZipWriterRun(TZipWriter &oOwner, std::vector<TPlanned> &lPlan)
        : FOwner(oOwner)
        , FPlan(lPlan)
        , FRandom(oOwner.FSeed)
    {
        int n = oOwner.FThreadCount;
        if (n <= 0)
            n = int(std::max(1u, std::thread::hardware_concurrency()));
        FThreads = n;
        // Enough work in flight to keep every thread busy (one piece at work
        // and one waiting each, and one more), little enough to keep memory
        // flat: a large stored file piles up its pieces to the budget, as
        // reading outruns the writing thread.
        FBudget = quint64(2 * n + 1) * kChunk;
        FMaxJobs = size_t(64 * n);
    }
    ~TZipWriterRun() { StopWorkers(); }

    void Run(TArchiveFile &file)
    {
        FFile = &file;
        StartWorkers();
        size_t iNext = 0; // next item to hand out
        quint64 iNextOffset = 0; // within it
        quint64 iInFlight = 0;
        for (;;) {
            while (iNext < FPlan.size()
                   && (FJobs.empty() || (iInFlight < FBudget && FJobs.size() < FMaxJobs))) {
                if (iNextOffset == 0 && IsBatchable(FPlan[iNext])) {
                    iInFlight += HandOutBatch(iNext);
                    continue;
                }
                TPlanned &item = FPlan[iNext];
                auto job = std::make_unique<TJob>();
                job->pItem = &item;
                job->iOffset = iNextOffset;
                job->bFirst = iNextOffset == 0;
                const quint64 iPiece = item.iSize <= kWholeLimit ? item.iSize : kChunk;
                job->iLength = std::min(iPiece, item.iSize - iNextOffset);
                iNextOffset += job->iLength;
                job->bLast = iNextOffset == item.iSize;
                if (job->bLast) {
                    ++iNext;
                    iNextOffset = 0;
                }
                iInFlight += job->iLength;
                TJob *p = job.get();
                if (IsAes(*item.pItem))
                    PrepareAes(*p);
                {
                    std::lock_guard lock(FOwner.FSync->Mutex);
                    if (p->aes && !p->bFirst)
                        LinkPiece(*p);
                    FQueue.push_back(p);
                }
                FJobs.push_back(std::move(job));
                FOwner.FSync->WorkReady.notify_one();
            }
            if (FJobs.empty())
                break;
            TJob &job = *FJobs.front();
            {
                std::unique_lock lock(FOwner.FSync->Mutex);
                FOwner.FSync->WorkDone.wait(lock, [&] { return job.bDone || FOwner.FAbort.load(); });
            }
            if (FOwner.FAbort.load())
                throw TFailure {
                    TZipWriter::ZipAborted,
                    QStringLiteral("Stopped: the archive %1 was not written.").arg(FOwner.FZipFileName)
                };
            if (job.iErr)
                throw TFailure { TZipWriter::ZipReadError,
                                 QStringLiteral("Cannot read the file %1: %2")
                                     .arg(job.pItem->pItem->sPath, ReadErrorText(job.iErr)) };
            if (job.batch.empty())
                WriteJob(job);
            else
                WriteBatch(job);
            iInFlight -= job.iLength;
            FJobs.pop_front();
        }
        StopWorkers();
        // Every file vanished after it was listed.
        if (FEntries == 0)
            throw TFailure { TZipWriter::ZipNothingToDo,
                             QStringLiteral("Nothing to zip: none of the listed files exists.") };
        WriteDirectory();
    }

    // Entries in the archive.
    quint64 Entries() const { return FEntries; }

private:
    TZipWriter &FOwner;
    std::vector<TPlanned> &FPlan;
    TArchiveFile *FFile = nullptr;
    THeaderRandom FRandom;
    int FThreads = 1;
    quint64 FBudget = 0;
    size_t FMaxJobs = 0;

    std::deque<std::unique_ptr<TJob>> FJobs; // handed out, in archive order
    std::shared_ptr<TAesKeys> FHandOutKeys; // of the AES entry being handed out
    std::deque<TJob *> FQueue; // waiting for a thread; guarded by the owner's mutex
    bool FStop = false; // guarded by the owner's mutex
    std::vector<std::thread> FWorkers;

    // The entry being written.
    struct TEntry
    {
        quint64 iHeader = 0;
        quint64 iCompressed = 0;
        quint32 iCrc = 0;
        quint16 iFlags = 0;
        quint16 iNeeded = 20;
        QByteArray sName; // UTF-8, or the bytes of a name that is not
        bool bStore = false;
        bool bEncrypt = false;
        bool bZip64 = false; // ZIP64 sizes in the local header
        std::unique_ptr<TPkwareCipher> cipher;
        std::unique_ptr<TAesMac> mac; // AES: the workers encrypt, this sums up
    } FEntry;
    quint64 FEntries = 0;

    void StartWorkers()
    {
        FWorkers.reserve(size_t(FThreads));
        for (int i = 0; i < FThreads; ++i)
            FWorkers.emplace_back([this] { WorkerLoop(); });
    }

    void StopWorkers()
    {
        {
            std::lock_guard lock(FOwner.FSync->Mutex);
            FStop = true;
            FQueue.clear();
        }
        FOwner.FSync->WorkReady.notify_all();
        for (std::thread &t : FWorkers)
            t.join();
        FWorkers.clear();
    }

    void WorkerLoop() noexcept
    {
        TWorkerState state;
        std::unique_lock lock(FOwner.FSync->Mutex);
        for (;;) {
            FOwner.FSync->WorkReady.wait(lock, [&] { return FStop || !FQueue.empty(); });
            if (FStop)
                return;
            TJob *job = FQueue.front();
            FQueue.pop_front();
            const bool bEncrypting = job->bCompressed;
            lock.unlock();
            if (!FOwner.FAbort.load()) {
                if (bEncrypting)
                    state.Encrypt(*job);
                else
                    state.Run(*job);
            }
            lock.lock();
            if (!job->aes || bEncrypting || job->iErr || FOwner.FAbort.load()) {
                job->bDone = true;
            } else {
                job->bCompressed = true;
                job->iOutSize = job->out.size();
                if (Settle(job))
                    FOwner.FSync->WorkReady.notify_all();
            }
            FOwner.FSync->WorkDone.notify_all();
        }
    }

    static bool IsAes(const TZipWriterItem &item)
    {
        return !item.sPassword.isEmpty() && item.eEncryption == TZipEncryption::Aes256;
    }

    // Before an AES piece is handed out: the entry's keys with a new salt
    // (drawn here, in archive order, so that seeded archives repeat), and the
    // first piece's place at the start of the entry's data.
    void PrepareAes(TJob &job)
    {
        if (job.bFirst) {
            FHandOutKeys = std::make_shared<TAesKeys>();
            FRandom.Fill(FHandOutKeys->salt.data(), kAesSalt);
        }
        job.aes = FHandOutKeys;
        if (job.bLast)
            FHandOutKeys.reset();
        job.bHasOffset = job.bFirst;
        job.iOutOffset = 0;
    }

    // Under the mutex: joins a later AES piece to the one before it, which
    // was the last one handed out; written already when FJobs is empty.
    void LinkPiece(TJob &job)
    {
        if (FJobs.empty()) {
            if (!job.bHasOffset) {
                job.iOutOffset = FEntry.iCompressed - kAesHead;
                job.bHasOffset = true;
            }
            return;
        }
        TJob &prev = *FJobs.back();
        prev.pNext = &job;
        if (!job.bHasOffset && prev.bCompressed && prev.bHasOffset) {
            job.iOutOffset = prev.iOutOffset + prev.iOutSize;
            job.bHasOffset = true;
        }
    }

    // Under the mutex: queues for encryption every compressed AES piece whose
    // place is known, and passes each place on to the piece after it. True
    // when something was queued.
    bool Settle(TJob *job)
    {
        bool bQueued = false;
        while (job && job->bCompressed && job->bHasOffset) {
            if (!job->bEncryptQueued) {
                job->bEncryptQueued = true;
                FQueue.push_front(job); // ahead of new work: the writer waits for it
                bQueued = true;
            }
            TJob *next = job->pNext;
            if (!next || next->bHasOffset)
                break;
            next->iOutOffset = job->iOutOffset + job->iOutSize;
            next->bHasOffset = true;
            job = next;
        }
        return bQueued;
    }

    static bool IsBatchable(const TPlanned &item)
    {
        return item.bListed && item.iSize <= kSmallFile && item.pItem->sPassword.isEmpty();
    }

    // Hands out the batchable items from iNext on as one job (at least one
    // item); returns the bytes in it.
    quint64 HandOutBatch(size_t &iNext)
    {
        auto job = std::make_unique<TJob>();
        job->pItem = &FPlan[iNext];
        job->bFirst = job->bLast = true;
        quint64 iBytes = 0;
        while (iNext < FPlan.size() && job->batch.size() < kBatchFiles && iBytes < kBatchBytes
               && IsBatchable(FPlan[iNext])) {
            TBatchFile f;
            f.pItem = &FPlan[iNext++];
            iBytes += f.pItem->iSize;
            job->batch.push_back(f);
        }
        job->iLength = iBytes;
        {
            std::lock_guard lock(FOwner.FSync->Mutex);
            FQueue.push_back(job.get());
        }
        FJobs.push_back(std::move(job));
        FOwner.FSync->WorkReady.notify_one();
        return iBytes;
    }

    // The files of a batch, each a whole entry. A file that is gone since it
    // was listed is skipped like any missing file.
    void WriteBatch(TJob &job)
    {
        for (const TBatchFile &f : job.batch) {
            TPlanned &item = *f.pItem;
            if (f.iErr == ENOENT || f.iErr == ENOTDIR) {
                if (FOwner.OnSkipped)
                    FOwner.OnSkipped(item.pItem->sPath);
                continue;
            }
            if (f.iErr)
                throw TFailure { TZipWriter::ZipReadError,
                                 QStringLiteral("Cannot read the file %1: %2")
                                     .arg(item.pItem->sPath, ReadErrorText(f.iErr)) };
            if (f.bChanged) {
                item.iSize = f.iSize;
                item.iDosTime = f.iDosTime;
                item.iMode = quint16(f.iMode);
            }
            BeginEntry(item, true, f.iOutSize, f.iCrc, nullptr);
            FFile->Write(job.out.data() + f.iOutStart, f.iOutSize);
            FEntry.iCompressed += f.iOutSize;
            if (FOwner.OnProgress)
                FOwner.OnProgress(item.pItem->sPath, item.iSize);
            EndEntry(item, true);
        }
        job.out = {};
    }

    void WriteJob(TJob &job)
    {
        TPlanned &item = *job.pItem;
        if (job.bFirst)
            BeginEntry(item, job.bLast, job.out.size(), job.iCrc, job.aes.get());
        else if (!FEntry.mac)
            FEntry.iCrc = quint32(crc32_combine(FEntry.iCrc, job.iCrc, z_off_t(job.iLength)));
        if (FEntry.cipher)
            FEntry.cipher->Encrypt(job.out.data(), job.out.size());
        if (FEntry.mac)
            FEntry.mac->Update(job.out.data(), job.out.size());
        FFile->Write(job.out.data(), job.out.size());
        FEntry.iCompressed += job.out.size();
        job.out = {};
        if (FOwner.OnProgress)
            FOwner.OnProgress(item.pItem->sPath, job.iOffset + job.iLength);
        if (job.bLast)
            EndEntry(item, job.bFirst);
    }

    // The entry's local header (and encryption header); bWhole: its data is
    // in one piece of iOutSize bytes with the CRC iCrc.
    void BeginEntry(const TPlanned &item, bool bWhole, size_t iOutSize, quint32 iCrc, const TAesKeys *aes)
    {
        FEntry = TEntry();
        FEntry.iHeader = FFile->Offset();
        FEntry.iCrc = iCrc;
        FEntry.bZip64 = item.iSize >= kZip64Threshold;
        FEntry.sName = EncodeFileName(item.pItem->sEntryName);
        FEntry.bStore = item.pItem->bStore;
        const bool bEncrypt = FEntry.bEncrypt = !item.pItem->sPassword.isEmpty();
        const bool bAes = bEncrypt && aes;
        if (bAes)
            FEntry.iFlags |= 0x0001; // encrypted; the sizes are patched in like plain entries'
        else if (bEncrypt)
            FEntry.iFlags |= 0x0001 | 0x0008; // encrypted, sizes in a data descriptor
        // A name that is not UTF-8 on disk keeps its bytes, unflagged, as
        // Info-ZIP stores it on Linux.
        if (!IsAscii(FEntry.sName) && !HasRawFileNameBytes(item.pItem->sEntryName))
            FEntry.iFlags |= 0x0800;
        FEntry.iNeeded = NeededVersion(bAes, FEntry.bZip64, FEntry.bStore, bEncrypt);

        // Known now only for an unencrypted or AES file in one piece; else
        // patched in later, or left to the data descriptor. AE-2 has CRC 0.
        const bool bKnown = bWhole && (!bEncrypt || bAes);
        const quint64 iComp = bKnown ? iOutSize + (bAes ? kAesHead + kAesMac : 0) : 0;
        const quint32 iHeaderCrc = bKnown ? iCrc : 0;
        const quint64 iSize = bKnown ? item.iSize : 0;

        std::string h;
        Put32(h, 0x04034b50);
        Put16(h, FEntry.iNeeded);
        Put16(h, FEntry.iFlags);
        Put16(h, bAes ? kAesMethod : FEntry.bStore ? 0 : 8);
        Put32(h, item.iDosTime);
        Put32(h, iHeaderCrc);
        Put32(h, FEntry.bZip64 ? kMax32 : quint32(iComp));
        Put32(h, FEntry.bZip64 ? kMax32 : quint32(iSize));
        Put16(h, quint32(FEntry.sName.size()));
        Put16(h, (FEntry.bZip64 ? 20 : 0) + (bAes ? 11 : 0));
        h.append(FEntry.sName.constData(), size_t(FEntry.sName.size()));
        if (FEntry.bZip64) {
            Put16(h, 0x0001);
            Put16(h, 16);
            Put64(h, iSize);
            Put64(h, iComp);
        }
        if (bAes)
            PutAesExtra(h, FEntry.bStore);
        FFile->Write(h);

        if (bAes) {
            FEntry.mac = std::make_unique<TAesMac>(*aes, item.pItem->sPath);
            FFile->Write(aes->salt.data(), kAesSalt);
            FFile->Write(aes->verifier.data(), kAesVerifier);
            FEntry.iCompressed += kAesHead;
        } else if (bEncrypt) {
            FEntry.cipher = std::make_unique<TPkwareCipher>(item.pItem->sPassword.toUtf8());
            // Ten random bytes, then the check bytes; with a data descriptor
            // the check byte is the high byte of the DOS time.
            std::array<quint8, 12> head {};
            FRandom.Fill(head.data(), 10);
            head[10] = quint8(item.iDosTime & 0xFF);
            head[11] = quint8((item.iDosTime >> 8) & 0xFF);
            FEntry.cipher->Encrypt(head.data(), head.size());
            FFile->Write(head.data(), head.size());
            FEntry.iCompressed += head.size();
        }
    }

    // The version needed to extract an entry, as its local header says.
    static quint16 NeededVersion(bool bAes, bool bZip64, bool bStore, bool bEncrypt)
    {
        return bAes ? 51 : bZip64 ? 45 : (bStore && !bEncrypt ? 10 : 20);
    }

    // The AES extra field: AE-2, vendor "AE", strength 3 (AES-256), and the
    // method the data is compressed with.
    static void PutAesExtra(std::string &s, bool bStore)
    {
        Put16(s, 0x9901);
        Put16(s, 7);
        Put16(s, 2);
        s.append("AE", 2);
        s.push_back(char(3));
        Put16(s, bStore ? 0 : 8);
    }

    void EndEntry(TPlanned &item, bool bOnePiece)
    {
        const bool bAes = FEntry.mac != nullptr;
        const bool bEncrypt = FEntry.bEncrypt && !bAes; // traditional
        if (bAes) {
            const std::array<quint8, kAesMac> code = FEntry.mac->Final();
            FFile->Write(code.data(), code.size());
            FEntry.iCompressed += kAesMac;
        }
        const quint64 iComp = FEntry.iCompressed;
        if (!FEntry.bZip64 && iComp >= kMax32)
            throw TFailure { TZipWriter::ZipInternalError,
                             QStringLiteral("Cannot add %1 to the archive %2: it grew beyond 4 GiB")
                                 .arg(item.pItem->sPath, FOwner.FZipFileName) };
        if (bEncrypt) {
            std::string d;
            Put32(d, 0x08074b50);
            Put32(d, FEntry.iCrc);
            if (FEntry.bZip64) {
                Put64(d, iComp);
                Put64(d, item.iSize);
            } else {
                Put32(d, quint32(iComp));
                Put32(d, quint32(item.iSize));
            }
            FFile->Write(d);
        } else if (!bOnePiece || FEntry.bZip64) {
            char p[12];
            Set32(p, FEntry.iCrc);
            if (FEntry.bZip64) {
                FFile->Patch(FEntry.iHeader + 14, p, 4);
                char z[16];
                Set64(z, item.iSize);
                Set64(z + 8, iComp);
                FFile->Patch(FEntry.iHeader + 30 + quint64(FEntry.sName.size()) + 4, z, 16);
            } else {
                Set32(p + 4, quint32(iComp));
                Set32(p + 8, quint32(item.iSize));
                FFile->Patch(FEntry.iHeader + 14, p, 12);
            }
        }

        // What its central directory record needs.
        item.iHeader = FEntry.iHeader;
        item.iCompressed = iComp;
        item.iCrc = FEntry.iCrc;
        item.iFlags = FEntry.iFlags;
        item.bZip64 = FEntry.bZip64;
        item.bAes = bAes;
        item.bWritten = true;
        ++FEntries;
        FEntry.cipher.reset();
        FEntry.mac.reset();
    }

    // The central directory record of an entry written.
    static void PutCentralRecord(std::string &c, const TPlanned &item)
    {
        const quint64 iComp = item.iCompressed;
        const bool bBigSize = item.bZip64 || item.iSize >= kMax32;
        const bool bBigComp = item.bZip64 || iComp >= kMax32;
        const bool bBigOffset = item.iHeader >= kMax32;
        const bool bStore = item.pItem->bStore;
        const QByteArray sName = EncodeFileName(item.pItem->sEntryName);
        std::string x;
        if (bBigSize || bBigComp || bBigOffset) {
            Put16(x, 0x0001);
            Put16(x, (bBigSize ? 8 : 0) + (bBigComp ? 8 : 0) + (bBigOffset ? 8 : 0));
            if (bBigSize)
                Put64(x, item.iSize);
            if (bBigComp)
                Put64(x, iComp);
            if (bBigOffset)
                Put64(x, item.iHeader);
        }
        const quint16 iLocal
            = NeededVersion(item.bAes, item.bZip64, bStore, !item.pItem->sPassword.isEmpty());
        const quint16 iNeeded = x.empty() ? iLocal : std::max<quint16>(iLocal, 45);
        if (item.bAes)
            PutAesExtra(x, bStore);
        Put32(c, 0x02014b50);
        Put16(c, 0x033F); // made on Unix, format 6.3
        Put16(c, iNeeded);
        Put16(c, item.iFlags);
        Put16(c, item.bAes ? kAesMethod : bStore ? 0 : 8);
        Put32(c, item.iDosTime);
        Put32(c, item.iCrc);
        Put32(c, bBigComp ? kMax32 : quint32(iComp));
        Put32(c, bBigSize ? kMax32 : quint32(item.iSize));
        Put16(c, quint32(sName.size()));
        Put16(c, quint32(x.size()));
        Put16(c, 0); // comment
        Put16(c, 0); // disk
        Put16(c, 0); // internal attributes
        Put32(c, quint32(item.iMode) << 16);
        Put32(c, bBigOffset ? kMax32 : quint32(item.iHeader));
        c.append(sName.constData(), size_t(sName.size()));
        c.append(x);
    }

    void WriteDirectory()
    {
        const quint64 iStart = FFile->Offset();
        std::string c;
        for (const TPlanned &item : FPlan) {
            if (!item.bWritten)
                continue;
            PutCentralRecord(c, item);
            if (c.size() >= kDirectoryPiece) {
                FFile->Write(c);
                c.clear();
            }
        }
        FFile->Write(c);
        const quint64 iSize = FFile->Offset() - iStart;
        const bool bZip64 = FEntries >= 0xFFFF || iStart >= kMax32 || iSize >= kMax32;
        std::string e;
        if (bZip64) {
            const quint64 iRecord = FFile->Offset();
            Put32(e, 0x06064b50);
            Put64(e, 44);
            Put16(e, 0x033F);
            Put16(e, 45);
            Put32(e, 0);
            Put32(e, 0);
            Put64(e, FEntries);
            Put64(e, FEntries);
            Put64(e, iSize);
            Put64(e, iStart);
            Put32(e, 0x07064b50);
            Put32(e, 0);
            Put64(e, iRecord);
            Put32(e, 1);
        }
        QByteArray sComment = FOwner.FZipComment.toUtf8();
        if (sComment.size() > 0xFFFF)
            sComment.truncate(0xFFFF);
        const quint32 iCount = FEntries >= 0xFFFF ? 0xFFFF : quint32(FEntries);
        Put32(e, 0x06054b50);
        Put16(e, 0);
        Put16(e, 0);
        Put16(e, iCount);
        Put16(e, iCount);
        Put32(e, iSize >= kMax32 ? kMax32 : quint32(iSize));
        Put32(e, iStart >= kMax32 ? kMax32 : quint32(iStart));
        Put16(e, quint32(sComment.size()));
        e.append(sComment.constData(), size_t(sComment.size()));
        FFile->Write(e);
    }
};

namespace {

const char *const StoredExtensions[]
    = { "gif", "png", "z",    "zip", "zoo", "arc",  "lzh", "arj", "taz", "tgz", "lha",    "rar", "ace",
        "cab", "gz",  "gzip", "jar", "jpg", "jpeg", "7zp", "mp3", "wmv", "wma", "dvr-ms", "avi" };

} // namespace

bool IsStoredExtension(const QString &sFilename)
{
    const QString sName = sFilename.mid(sFilename.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype iDot = sName.lastIndexOf(QLatin1Char('.'));
    if (iDot < 0)
        return false;
    const QString sExt = sName.mid(iDot + 1);
    for (const char *pExt : StoredExtensions) {
        if (sExt.compare(QLatin1String(pExt), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// --- TZipWriter ----------------------------------------------------------------

namespace {

// A later item replaces an earlier one of the same name in its place. Found
// by sorting positions rather than through a hash of the names: a tree of
// many files costs a few bytes per file here, not a hash node.
void MergeSameNames(std::vector<TPlanned> &lPlan)
{
    std::vector<quint32> lOrder(lPlan.size());
    for (size_t i = 0; i < lOrder.size(); ++i)
        lOrder[i] = quint32(i);
    const auto Name = [&lPlan](quint32 i) -> const QString & { return lPlan[i].pItem->sEntryName; };
    std::stable_sort(lOrder.begin(), lOrder.end(),
                     [&Name](quint32 a, quint32 b) { return QStringView(Name(a)) < QStringView(Name(b)); });
    bool bAny = false;
    std::vector<bool> lDropped;
    for (size_t i = 0; i < lOrder.size();) {
        size_t j = i + 1;
        while (j < lOrder.size() && Name(lOrder[j]) == Name(lOrder[i]))
            ++j;
        if (j - i > 1) {
            if (!bAny)
                lDropped.assign(lPlan.size(), false);
            bAny = true;
            lPlan[lOrder[i]] = lPlan[lOrder[j - 1]];
            for (size_t k = i + 1; k < j; ++k)
                lDropped[lOrder[k]] = true;
        }
        i = j;
    }
    if (!bAny)
        return;
    size_t iKept = 0;
    for (size_t i = 0; i < lPlan.size(); ++i) {
        if (!lDropped[i])
            lPlan[iKept++] = lPlan[i];
    }
    lPlan.resize(iKept);
}

} // namespace

TZipWriterItem TZipWriterItem::ForFile(const QString &sPath, const QString &sEntryName,
                                       const QString &sPassword, TZipEncryption eEncryption,
                                       const TFileFacts &oFacts)
{
    return { sPath, sEntryName, sPassword, IsStoredExtension(sEntryName), eEncryption, oFacts };
}

int TZipWriter::Fail(int iCode, const QString &sMessage)
{
    FErrorCode = iCode;
    FErrorMessage = sMessage;
    if (OnError)
        OnError(iCode, sMessage);
    return iCode;
}

void TZipWriter::Abort()
{
    {
        std::lock_guard lock(FSync->Mutex);
        FAbort.store(true);
    }
    FSync->WorkDone.notify_all();
    FSync->WorkReady.notify_all();
}

int TZipWriter::Write()
{
    FErrorCode = ZipOk;
    FErrorMessage.clear();
    FSuccessCount = 0;
    FArchiveSize = 0;
    FAbort.store(false);

    if (FZipFileName.isEmpty())
        return Fail(ZipNoArchiveName, QStringLiteral("No archive file name given."));
    const QString sArchive = QFileInfo(FZipFileName).absoluteFilePath();

    // The listing: missing files are reported and left out, a later item
    // replaces an earlier one of the same name in its place.
    std::vector<TPlanned> lPlan;
    lPlan.reserve(FItems.size());
    for (const TZipWriterItem &item : std::as_const(FItems)) {
        TPlanned p;
        p.pItem = &item;
        if (item.oFacts.Known() && !item.sPath.isEmpty()) {
            p.iSize = quint64(item.oFacts.iSize);
            p.iDosTime = DosDateTime(SecondsOf(item.oFacts.iModified));
            p.iMode = quint16(item.oFacts.iMode & 0xFFFF);
            p.bListed = true;
            lPlan.push_back(p);
            continue;
        }
        struct stat st;
        if (item.sPath.isEmpty() || ::stat(EncodeFileName(item.sPath).constData(), &st) != 0) {
            const int iErr = item.sPath.isEmpty() ? ENOENT : errno;
            if (iErr == ENOENT || iErr == ENOTDIR) {
                if (OnSkipped)
                    OnSkipped(item.sPath);
                continue;
            }
            return Fail(ZipReadError,
                        QStringLiteral("Cannot read the file %1: %2").arg(item.sPath, ErrnoText(iErr)));
        }
        if (!S_ISREG(st.st_mode))
            return Fail(ZipReadError,
                        QStringLiteral("Cannot read the file %1: %2")
                            .arg(item.sPath, ErrnoText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL)));
        p.iSize = quint64(st.st_size);
        p.iDev = st.st_dev;
        p.iIno = st.st_ino;
        p.iDosTime = DosDateTime(st.st_mtime);
        p.iMode = quint16(st.st_mode & 0xFFFF);
        lPlan.push_back(p);
    }
    MergeSameNames(lPlan);
    if (lPlan.empty())
        return Fail(ZipNothingToDo, QStringLiteral("Nothing to zip: none of the listed files exists."));

    const QFileInfo archiveInfo(sArchive);
    if (!QFileInfo(archiveInfo.absolutePath()).isDir())
        return Fail(ZipCreateError,
                    QStringLiteral("Cannot create the archive %1: the folder %2 does not exist.")
                        .arg(sArchive, archiveInfo.absolutePath()));
    if (archiveInfo.isDir())
        return Fail(ZipCreateError,
                    QStringLiteral("Cannot create the archive %1: %2").arg(sArchive, ErrnoText(EISDIR)));

    try {
        TArchiveFile file(sArchive);
        quint64 iSize = 0;
        quint64 iEntries = 0;
        {
            TZipWriterRun run(*this, lPlan);
            run.Run(file);
            iSize = file.Offset();
            iEntries = run.Entries();
        }
        file.Commit();
        FSuccessCount = int(iEntries);
        FArchiveSize = iSize;
    } catch (const TFailure &failure) {
        return Fail(failure.iCode, failure.sMessage);
    } catch (const std::system_error &e) {
        // No thread could be started.
        return Fail(ZipInternalError,
                    QStringLiteral("Cannot write the archive %1: %2")
                        .arg(sArchive, QString::fromLocal8Bit(e.what())));
    } catch (const std::bad_alloc &) {
        return Fail(ZipInternalError,
                    QStringLiteral("Cannot write the archive %1: out of memory").arg(sArchive));
    }
    return ZipOk;
}
