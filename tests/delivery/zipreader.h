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
        if (!f)
            return std::nullopt;
        QByteArray data;
        char buf[65536];
        zip_int64_t got;
        while ((got = zip_fread(f, buf, sizeof buf)) > 0)
            data.append(buf, static_cast<qsizetype>(got));
        const bool ok = got == 0 && zip_fclose(f) == 0;
        if (got < 0)
            zip_fclose(f);
        if (!ok)
            return std::nullopt;
        return data;
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
    zip_t *FZip = nullptr;
};

} // namespace bwtest
