#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>
#include <vector>
#include <zip.h>

namespace bwtest {

// Reads an archive back through libzip, independently of the code that wrote it.
class ZipReader
{
public:
    struct Entry
    {
        QString name;
        int compression = -1; // ZIP_CM_STORE, ZIP_CM_DEFLATE, ...
        int encryption = -1; // ZIP_EM_NONE, ZIP_EM_TRAD_PKWARE, ...
        quint64 size = 0;
        quint64 compressedSize = 0;
    };

    explicit ZipReader(const QString &path)
    {
        int err = 0;
        FZip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    }
    ~ZipReader()
    {
        if (FZip)
            zip_discard(FZip);
    }
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    bool isOpen() const { return FZip != nullptr; }

    std::vector<Entry> entries() const
    {
        std::vector<Entry> result;
        if (!FZip)
            return result;
        const zip_int64_t count = zip_get_num_entries(FZip, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t st;
            if (zip_stat_index(FZip, static_cast<zip_uint64_t>(i), 0, &st) != 0)
                continue;
            result.push_back(
                { QString::fromUtf8(st.name), st.comp_method, st.encryption_method, st.size, st.comp_size });
        }
        return result;
    }

    QStringList names() const
    {
        QStringList result;
        for (const Entry &e : entries())
            result << e.name;
        return result;
    }

    std::optional<Entry> entry(const QString &name) const
    {
        for (const Entry &e : entries()) {
            if (e.name == name)
                return e;
        }
        return std::nullopt;
    }

    // The entry's bytes, or nothing when it cannot be read (missing, wrong or
    // missing password, bad CRC). The whole entry is read so the CRC is checked.
    std::optional<QByteArray> read(const QString &name, const QString &password = QString()) const
    {
        if (!FZip)
            return std::nullopt;
        const QByteArray n = name.toUtf8();
        const QByteArray pw = password.toUtf8();
        zip_file_t *f = password.isEmpty() ? zip_fopen(FZip, n.constData(), 0)
                                           : zip_fopen_encrypted(FZip, n.constData(), 0, pw.constData());
        return readToEnd(f);
    }

    // The entries as the central directory records them: the name's bytes
    // and the general purpose flags, with the local header's copies.
    struct RawEntry
    {
        QByteArray name;
        quint16 flags = 0;
        QByteArray localName;
        quint16 localFlags = 0;
    };
    // Archives without ZIP64 records; empty when the file is not one.
    static std::vector<RawEntry> rawEntries(const QString &path)
    {
        std::vector<RawEntry> result;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return result;
        const QByteArray z = f.readAll();
        const auto u16 = [&z](qsizetype at) { return quint16(uchar(z[at]) | uchar(z[at + 1]) << 8); };
        const auto u32 = [&](qsizetype at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
        const qsizetype end = z.lastIndexOf(QByteArray("PK\x05\x06", 4));
        if (end < 0 || end + 22 > z.size())
            return result;
        qsizetype at = u32(end + 16);
        for (int i = 0; i < u16(end + 10); ++i) {
            if (at + 46 > z.size() || u32(at) != 0x02014b50)
                return {};
            RawEntry e;
            e.flags = u16(at + 8);
            e.name = z.mid(at + 46, u16(at + 28));
            const qsizetype local = u32(at + 42);
            if (local + 30 > z.size() || u32(local) != 0x04034b50)
                return {};
            e.localFlags = u16(local + 6);
            e.localName = z.mid(local + 30, u16(local + 26));
            result.push_back(e);
            at += 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
        }
        return result;
    }

    // The bytes of the entry at the index (names need not be UTF-8).
    std::optional<QByteArray> readAt(zip_uint64_t index) const
    {
        if (!FZip)
            return std::nullopt;
        zip_file_t *f = zip_fopen_index(FZip, index, 0);
        return readToEnd(f);
    }

    QString comment() const
    {
        if (!FZip)
            return QString();
        int len = 0;
        const char *c = zip_get_archive_comment(FZip, &len, 0);
        return c ? QString::fromUtf8(c, len) : QString();
    }

private:
    // Reads an opened entry to its end and closes it; nothing when it could
    // not be opened, read or closed cleanly.
    static std::optional<QByteArray> readToEnd(zip_file_t *f)
    {
        if (!f)
            return std::nullopt;
        QByteArray data;
        char buf[65536];
        zip_int64_t got;
        while ((got = zip_fread(f, buf, sizeof buf)) > 0)
            data.append(buf, static_cast<qsizetype>(got));
        const bool bClosed = zip_fclose(f) == 0;
        if (got != 0 || !bClosed)
            return std::nullopt;
        return data;
    }

    zip_t *FZip = nullptr;
};

} // namespace bwtest
