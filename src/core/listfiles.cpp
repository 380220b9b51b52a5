#include "core/listfiles.h"

#include <QSet>
#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

struct Entry
{
    // The path to list or enter (the bare name without full paths).
    QString path;
    qsizetype nameStart;
    bool isDir;
    TFileFacts facts; // when already known

    QStringView name() const { return QStringView(path).mid(nameStart); }
};

qint64 ModifiedMSecs(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

TFileFacts FactsOf(const struct stat &st)
{
    return { ModifiedMSecs(st), qint64(st.st_size), quint32(st.st_mode) };
}

// Decodes the name into out (whose buffer is reused from name to name).
// Plain ASCII, most names, needs no check; any other name keeps its bytes
// (DecodeFileName), so that a name that is not UTF-8 still names its file.
void DecodeName(const char *raw, QString &out)
{
    const char *p = raw;
    while (*p && uchar(*p) < 0x80)
        ++p;
    out.truncate(0);
    if (!*p)
        out.append(QLatin1StringView(raw, p - raw));
    else
        out = DecodeFileName(QByteArrayView(raw, qstrlen(raw)));
}

struct DevIno
{
    dev_t dev;
    ino_t ino;
    bool operator==(const DevIno &o) const { return dev == o.dev && ino == o.ino; }
};
size_t qHash(const DevIno &k, size_t seed = 0)
{
    return qHashMulti(seed, quint64(k.dev), quint64(k.ino));
}

// What every lister of one walk shares: the rules, and the folders already
// listed. Workers listing subtrees side by side check the folders here.
struct WalkRules
{
    QString mask; // lower case
    bool all = false;
    bool recursive = false;
    bool fullPath = false;
    bool wantFacts = false;
    QStringList excludes;

    std::mutex visitedLock;
    QSet<DevIno> visited;

    // True the first time a real folder is seen.
    bool visit(const DevIno &folder)
    {
        const std::lock_guard<std::mutex> guard(visitedLock);
        if (visited.contains(folder))
            return false;
        visited.insert(folder);
        return true;
    }
};

// What one lister found, in walk order.
struct Found
{
    QStringList files;
    QList<TFileFacts> facts;
};

class FileLister
{
public:
    // parallel: the first folder of the walk with several subfolders to
    // enter has them listed on worker threads, one per core; the result is
    // the same as listing them one after the other.
    FileLister(WalkRules &rules, Found &out, bool parallel)
        : FRules(rules)
        , FOut(out)
        , FParallel(parallel)
    { }

    void list(const QString &dir)
    {
        const QByteArray encoded = EncodeFileName(dir);
        DIR *handle = ::opendir(encoded.isEmpty() ? "." : encoded.constData());
        if (!handle)
            return; // unreadable folders are skipped
        const int fd = ::dirfd(handle);

        // Each real folder once, whatever way leads to it.
        struct stat self;
        if (::fstat(fd, &self) != 0 || !FRules.visit({ self.st_dev, self.st_ino })) {
            ::closedir(handle);
            return;
        }

        const QString dirPrefix = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
        // Files carry the folder only when full paths are asked for.
        const QString prefix = FRules.fullPath ? dirPrefix : QString();
        std::vector<Entry> entries;
        while (const dirent *d = ::readdir(handle)) {
            const char *raw = d->d_name;
            if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
                continue;
            bool isDir = false;
            TFileFacts facts;
            if (d->d_type == DT_DIR) {
                isDir = true;
            } else if (d->d_type != DT_REG) {
                // Links and file systems without types: look at what it is.
                // A link to a folder is not entered (as find does not), which
                // keeps link graphs from making the walk endless.
                struct stat st;
                if (::fstatat(fd, raw, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                const bool link = S_ISLNK(st.st_mode);
                if (link && ::fstatat(fd, raw, &st, 0) != 0)
                    continue; // dangling link
                if (S_ISDIR(st.st_mode)) {
                    if (link)
                        continue;
                    isDir = true;
                } else if (!S_ISREG(st.st_mode)) {
                    continue; // devices, pipes and sockets are no source files
                }
                facts = FactsOf(st);
            }
            if (isDir && !FRules.recursive)
                continue;
            DecodeName(raw, FName);
            // Files the mask does not take are of no further interest.
            if (!isDir && !matches(FName))
                continue;
            // Each listed path is built once, here, and moved on from there.
            Entry entry { prefix + FName, prefix.size(), isDir, facts };
            // What a delivery needs of a file to be listed: one stat, by name
            // in the folder that is open anyway.
            if (FRules.wantFacts && !isDir && !entry.facts.Known()) {
                struct stat st;
                if (::fstatat(fd, raw, &st, 0) == 0 && S_ISREG(st.st_mode))
                    entry.facts = FactsOf(st);
            }
            entries.push_back(std::move(entry));
        }
        ::closedir(handle);

        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
            const int c = a.name().compare(b.name(), Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a.name().compare(b.name(), Qt::CaseSensitive) < 0;
        });

        // The folders to enter, in order; excluded ones are marked skipped.
        std::vector<QString> folders;
        for (Entry &entry : entries) {
            if (!entry.isDir)
                continue;
            QString path = FRules.fullPath ? entry.path : dirPrefix + entry.path;
            if (isExcluded(path))
                entry.path.clear();
            else
                folders.push_back(std::move(path));
        }
        std::vector<Found> subtrees;
        if (FParallel && folders.size() > 1) {
            FParallel = false; // once per walk: the workers list sequentially
            subtrees = listSideBySide(folders);
        }

        size_t folder = 0;
        for (Entry &entry : entries) {
            if (entry.isDir) {
                if (entry.path.isEmpty())
                    continue;
                if (subtrees.empty()) {
                    list(folders[folder++]);
                } else {
                    Found &sub = subtrees[folder++];
                    FOut.files.append(std::move(sub.files));
                    FOut.facts.append(std::move(sub.facts));
                }
            } else {
                FOut.files.append(std::move(entry.path));
                if (FRules.wantFacts)
                    FOut.facts.append(entry.facts);
            }
        }
    }

private:
    WalkRules &FRules;
    Found &FOut;
    bool FParallel;
    QString FName; // the name being looked at; its buffer is reused

    // Lists the folders on worker threads (the calling thread helps), each
    // into its own result, and hands the results back in folder order.
    std::vector<Found> listSideBySide(const std::vector<QString> &folders)
    {
        std::vector<Found> found(folders.size());
        std::atomic<size_t> next { 0 };
        std::exception_ptr failure;
        std::mutex failureLock;
        const auto work = [&] {
            try {
                for (size_t i; (i = next.fetch_add(1)) < folders.size();) {
                    FileLister sub(FRules, found[i], false);
                    sub.list(folders[i]);
                }
            } catch (...) {
                const std::lock_guard<std::mutex> guard(failureLock);
                if (!failure)
                    failure = std::current_exception();
                next = folders.size();
            }
        };
        const size_t cores = std::max(1u, std::thread::hardware_concurrency());
        const size_t helpers = std::min({ cores, folders.size(), size_t(16) }) - 1;
        {
            std::vector<std::jthread> threads;
            threads.reserve(helpers);
            for (size_t i = 0; i < helpers; ++i)
                threads.emplace_back(work);
            work();
        } // the helpers are joined here
        if (failure)
            std::rethrow_exception(failure);
        return found;
    }

    bool isExcluded(const QString &path) const
    {
        if (FRules.excludes.isEmpty())
            return false;
        const QString lower = path.toLower();
        for (const QString &entry : FRules.excludes) {
            if (lower.endsWith(entry))
                return true;
        }
        return false;
    }

    // The file's extension (from its last dot, lower-cased) only has to occur
    // somewhere in the mask, so "*.cpp" also collects ".c" files. Stored
    // wildcard entries rely on this loose rule, so it stays.
    bool matches(QStringView name) const
    {
        if (FRules.all)
            return true;
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0)
            return false;
        // The mask is lower case already.
        return FRules.mask.contains(name.mid(dot), Qt::CaseInsensitive);
    }
};

} // namespace

QString DecodeFileName(QByteArrayView raw)
{
    const qsizetype n = raw.size();
    qsizetype i = 0;
    while (i < n && uchar(raw[i]) < 0x80)
        ++i;
    QString out = QString::fromLatin1(raw.first(i));
    if (i == n)
        return out;
    out.reserve(n);
    while (i < n) {
        const uchar c = uchar(raw[i]);
        if (c < 0x80) {
            out += QLatin1Char(char(c));
            ++i;
            continue;
        }
        // The length of the sequence this byte starts, and the least code
        // point it may encode (overlong forms are invalid).
        int len = 0;
        char32_t min = 0;
        char32_t cp = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, min = 0x10000, cp = c & 0x07;
        }
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            const uchar cc = uchar(raw[i + k]);
            ok = (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3F);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!ok) {
            out += QChar(char16_t(0xDC00 + c));
            ++i;
        } else if (cp < 0x10000) {
            out += QChar(char16_t(cp));
            i += len;
        } else {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
            i += len;
        }
    }
    return out;
}

namespace {

// An escaped byte of DecodeFileName at i (not the second half of a pair).
bool IsRawByteAt(QStringView s, qsizetype i)
{
    const char16_t u = s[i].unicode();
    return u >= 0xDC80 && u <= 0xDCFF && !(i > 0 && s[i - 1].isHighSurrogate());
}

} // namespace

QByteArray EncodeFileName(QStringView sName)
{
    QByteArray out;
    qsizetype from = 0;
    for (qsizetype i = 0; i < sName.size(); ++i) {
        if (!IsRawByteAt(sName, i))
            continue;
        out += sName.mid(from, i - from).toUtf8();
        out += char(sName[i].unicode() - 0xDC00);
        from = i + 1;
    }
    if (from == 0)
        return sName.toUtf8();
    out += sName.mid(from).toUtf8();
    return out;
}

bool HasRawFileNameBytes(QStringView sName)
{
    for (qsizetype i = 0; i < sName.size(); ++i) {
        if (IsRawByteAt(sName, i))
            return true;
    }
    return false;
}

QString ReadableFileName(const QString &sName)
{
    if (!HasRawFileNameBytes(sName))
        return sName;
    QString out;
    for (qsizetype i = 0; i < sName.size(); ++i) {
        if (IsRawByteAt(sName, i))
            out += QLatin1String("\\x")
                + QString::number(sName[i].unicode() - 0xDC00, 16).toUpper().rightJustified(2, u'0');
        else
            out += sName[i];
    }
    return out;
}

void ListFiles(const QString &sDir, const QString &sMask, QStringList &oList, const QString &sExclude,
               bool bRecursive, bool bFullPath, QList<TFileFacts> *pFacts)
{
    WalkRules rules;
    rules.mask = sMask.toLower();
    rules.all = sMask == QLatin1String("*");
    rules.recursive = bRecursive;
    rules.fullPath = bFullPath;
    rules.wantFacts = pFacts != nullptr;
    if (!sExclude.isEmpty()) {
        // A blank entry (a doubled or trailing ";") matches every folder:
        // users write "dir;" to mean "no subfolders at all".
        for (const QString &part : sExclude.split(QLatin1Char(';')))
            rules.excludes.append(part.trimmed().toLower());
    }
    Found found;
    FileLister(rules, found, bRecursive).list(sDir);
    oList = std::move(found.files);
    if (pFacts)
        *pFacts = std::move(found.facts);
}

TFileFacts FileFacts(const QString &sFile)
{
    struct stat st;
    if (::stat(EncodeFileName(sFile).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return FactsOf(st);
}

qint64 FileModifiedMSecs(const QString &sFile)
{
    return FileFacts(sFile).iModified;
}
