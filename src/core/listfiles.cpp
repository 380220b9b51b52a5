#include "core/winutils.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

struct Entry
{
    QString name;
    bool isDir;
};

class FileLister
{
public:
    FileLister(const QString &mask, const QString &exclude, bool recursive, bool fullPath, QStringList &out)
        : m_mask(mask.toLower())
        , m_all(mask == QLatin1String("*"))
        , m_recursive(recursive)
        , m_fullPath(fullPath)
        , m_out(out)
    {
        if (!exclude.isEmpty()) {
            const QStringList parts = exclude.split(QLatin1Char(';'));
            for (const QString &part : parts) {
                // A blank entry (trailing ";") would match every folder.
                const QString entry = part.trimmed().toLower();
                if (!entry.isEmpty())
                    m_excludes.append(entry);
            }
        }
    }

    void list(const QString &dir)
    {
        const QByteArray encoded = QFile::encodeName(dir);
        DIR *handle = ::opendir(encoded.isEmpty() ? "." : encoded.constData());
        if (!handle)
            return; // unreadable folders are skipped
        const int fd = ::dirfd(handle);

        struct stat self;
        if (::fstat(fd, &self) != 0 || isBeingListed(self)) {
            ::closedir(handle);
            return;
        }
        m_stack.emplace_back(self.st_dev, self.st_ino);

        std::vector<Entry> entries;
        while (const dirent *d = ::readdir(handle)) {
            const char *raw = d->d_name;
            if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
                continue;
            bool isDir = false;
            if (d->d_type == DT_DIR) {
                isDir = true;
            } else if (d->d_type != DT_REG) {
                // Links and file systems without types: look at what it is.
                struct stat st;
                if (::fstatat(fd, raw, &st, 0) != 0)
                    continue; // dangling link
                if (S_ISDIR(st.st_mode))
                    isDir = true;
                else if (!S_ISREG(st.st_mode))
                    continue; // devices, pipes and sockets are no source files
            }
            if (isDir && !m_recursive)
                continue;
            entries.push_back({ QFile::decodeName(raw), isDir });
        }
        ::closedir(handle);

        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
            const int c = QString::compare(a.name, b.name, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : QString::compare(a.name, b.name, Qt::CaseSensitive) < 0;
        });

        const QString prefix = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
        for (const Entry &entry : entries) {
            if (entry.isDir) {
                const QString path = prefix + entry.name;
                if (!isExcluded(path))
                    list(path);
            } else if (matches(entry.name)) {
                m_out.append(m_fullPath ? prefix + entry.name : entry.name);
            }
        }
        m_stack.pop_back();
    }

private:
    QString m_mask;
    bool m_all;
    bool m_recursive;
    bool m_fullPath;
    QStringList &m_out;
    QStringList m_excludes;
    std::vector<std::pair<dev_t, ino_t>> m_stack; // folders being listed, outermost first

    bool isBeingListed(const struct stat &st) const
    {
        return std::find(m_stack.begin(), m_stack.end(), std::make_pair(st.st_dev, st.st_ino))
            != m_stack.end();
    }

    bool isExcluded(const QString &path) const
    {
        if (m_excludes.isEmpty())
            return false;
        const QString lower = path.toLower();
        for (const QString &entry : m_excludes) {
            if (lower.endsWith(entry))
                return true;
        }
        return false;
    }

    // The file's extension (from its last dot, lower-cased) must occur in the
    // mask as a whole: ".pa" does not match "*.pas".
    bool matches(const QString &name) const
    {
        if (m_all)
            return true;
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0)
            return false;
        const QString ext = name.mid(dot).toLower();
        for (qsizetype pos = m_mask.indexOf(ext); pos >= 0; pos = m_mask.indexOf(ext, pos + 1)) {
            const qsizetype end = pos + ext.size();
            if (end == m_mask.size() || !m_mask.at(end).isLetterOrNumber())
                return true;
        }
        return false;
    }
};

} // namespace

void ListFiles(const QString &sDir, const QString &sMask, QStringList &oList, const QString &sExclude,
               bool bRecursive, bool bFullPath)
{
    oList.clear();
    FileLister lister(sMask, sExclude, bRecursive, bFullPath, oList);
    lister.list(sDir);
}
