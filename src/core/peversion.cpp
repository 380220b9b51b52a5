#include "core/peversion.h"

#include <QFile>
#include <QFileInfo>
#include <optional>

// Reads the fixed version record (VS_FIXEDFILEINFO) from the version resource
// of a Windows PE image. Every offset comes from the file itself, so every
// read goes through the bounds-checked accessors below.

namespace {

constexpr quint32 kRtVersion = 16;
constexpr quint32 kFixedFileInfoSignature = 0xFEEF04BD;
constexpr qint64 kSectionHeaderSize = 40;

class PEImage
{
public:
    explicit PEImage(QByteArrayView data)
        : FBytes(data)
    { }

    std::optional<quint16> u16(qint64 offset) const
    {
        if (!inside(offset, 2))
            return std::nullopt;
        const auto *p = reinterpret_cast<const uchar *>(FBytes.data()) + offset;
        return quint16(p[0] | (p[1] << 8));
    }

    std::optional<quint32> u32(qint64 offset) const
    {
        if (!inside(offset, 4))
            return std::nullopt;
        const auto *p = reinterpret_cast<const uchar *>(FBytes.data()) + offset;
        return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
    }

    bool inside(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= FBytes.size() && length <= FBytes.size() - offset;
    }

    bool equals(qint64 offset, QByteArrayView bytes) const
    {
        return inside(offset, bytes.size()) && FBytes.sliced(offset, bytes.size()) == bytes;
    }

private:
    QByteArrayView FBytes;
};

class VersionReader
{
public:
    explicit VersionReader(QByteArrayView data)
        : FImage(data)
    { }

    QString read()
    {
        if (!FImage.equals(0, "MZ"))
            return QString();
        const auto peOffset = FImage.u32(0x3C);
        if (!peOffset || !FImage.equals(*peOffset, QByteArrayView("PE\0\0", 4)))
            return QString();
        const qint64 coff = qint64(*peOffset) + 4;
        const auto sectionCount = FImage.u16(coff + 2);
        const auto optionalSize = FImage.u16(coff + 16);
        if (!sectionCount || !optionalSize)
            return QString();
        const qint64 optional = coff + 20;
        const auto magic = FImage.u16(optional);
        if (!magic)
            return QString();
        qint64 rvaCountOffset;
        if (*magic == 0x10B) // PE32
            rvaCountOffset = 92;
        else if (*magic == 0x20B) // PE32+
            rvaCountOffset = 108;
        else
            return QString();
        const qint64 directories = rvaCountOffset + 4;
        const auto rvaCount = FImage.u32(optional + rvaCountOffset);
        // The resource table is data directory 2.
        if (!rvaCount || *rvaCount < 3 || directories + 3 * 8 > *optionalSize)
            return QString();
        const auto resourceRva = FImage.u32(optional + directories + 2 * 8);
        if (!resourceRva || *resourceRva == 0)
            return QString();

        FSectionTable = optional + *optionalSize;
        FSectionCount = *sectionCount;

        const auto resourceBase = offsetOfRva(*resourceRva);
        if (!resourceBase)
            return QString();
        // type (RT_VERSION) -> first name -> first language -> data entry
        const auto byType = findEntry(*resourceBase, *resourceBase, kRtVersion, true);
        if (!byType)
            return QString();
        const auto byName = findEntry(*resourceBase, *byType, std::nullopt, true);
        if (!byName)
            return QString();
        const auto dataEntry = findEntry(*resourceBase, *byName, std::nullopt, false);
        if (!dataEntry)
            return QString();

        const auto dataRva = FImage.u32(*dataEntry);
        const auto dataSize = FImage.u32(*dataEntry + 4);
        if (!dataRva || !dataSize)
            return QString();
        const auto block = offsetOfRva(*dataRva);
        if (!block)
            return QString();
        return fixedInfo(*block, *dataSize);
    }

private:
    PEImage FImage;
    qint64 FSectionTable = 0;
    quint32 FSectionCount = 0;

    std::optional<qint64> offsetOfRva(quint32 rva) const
    {
        for (quint32 i = 0; i < FSectionCount; ++i) {
            const qint64 header = FSectionTable + qint64(i) * kSectionHeaderSize;
            const auto va = FImage.u32(header + 12);
            const auto rawSize = FImage.u32(header + 16);
            const auto rawPointer = FImage.u32(header + 20);
            if (!va || !rawSize || !rawPointer)
                return std::nullopt; // the section table runs past the end
            if (rva >= *va && qint64(rva) - *va < qint64(*rawSize))
                return qint64(*rawPointer) + (qint64(rva) - *va);
        }
        return std::nullopt;
    }

    // Looks in the resource directory at dirOffset for the entry with the given
    // numeric id (or the first entry when id is empty) and returns the file
    // offset it points to, which must be a subdirectory when wantDirectory.
    std::optional<qint64> findEntry(qint64 base, qint64 dirOffset, std::optional<quint32> id,
                                    bool wantDirectory) const
    {
        const auto named = FImage.u16(dirOffset + 12);
        const auto ids = FImage.u16(dirOffset + 14);
        if (!named || !ids)
            return std::nullopt;
        const int count = int(*named) + int(*ids);
        for (int i = 0; i < count; ++i) {
            const qint64 entry = dirOffset + 16 + qint64(i) * 8;
            const auto name = FImage.u32(entry);
            const auto target = FImage.u32(entry + 4);
            if (!name || !target)
                return std::nullopt;
            if (id && ((*name & 0x80000000u) || *name != *id))
                continue;
            const bool isDirectory = (*target & 0x80000000u) != 0;
            if (isDirectory != wantDirectory)
                return std::nullopt;
            return base + qint64(*target & 0x7FFFFFFFu);
        }
        return std::nullopt;
    }

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding
    // to 32 bits, then VS_FIXEDFILEINFO.
    QString fixedInfo(qint64 block, quint32 size) const
    {
        static const char16_t key[] = u"VS_VERSION_INFO";
        constexpr qint64 keyBytes = sizeof(key); // with the terminating zero
        constexpr qint64 valueOffset = (6 + keyBytes + 3) & ~qint64(3);
        constexpr qint64 fixedSize = 52;

        const auto length = FImage.u16(block);
        const auto valueLength = FImage.u16(block + 2);
        if (!length || !valueLength || *valueLength < fixedSize)
            return QString();
        if (qint64(*length) < valueOffset + fixedSize || qint64(size) < valueOffset + fixedSize)
            return QString();
        for (qint64 i = 0; i < keyBytes / 2; ++i) {
            const auto c = FImage.u16(block + 6 + 2 * i);
            if (!c || *c != key[i])
                return QString();
        }
        const qint64 value = block + valueOffset;
        if (!FImage.inside(value, fixedSize))
            return QString(); // cut short
        const auto signature = FImage.u32(value);
        const auto versionMS = FImage.u32(value + 8);
        const auto versionLS = FImage.u32(value + 12);
        if (!signature || *signature != kFixedFileInfoSignature || !versionMS || !versionLS)
            return QString();
        return QStringLiteral("%1.%2.%3 build %4")
            .arg(*versionMS >> 16)
            .arg(*versionMS & 0xFFFF)
            .arg(*versionLS >> 16)
            .arg(*versionLS & 0xFFFF);
    }
};

} // namespace

QString PEVersionText(QByteArrayView data)
{
    return VersionReader(data).read();
}

QString FileVersionText(const QString &sFileName)
{
    QFile file(sFileName);
    // Only regular files: reading a pipe or device could block or never end.
    if (!QFileInfo(sFileName).isFile())
        return QString();
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return QString();
    if (const uchar *mapped = file.map(0, file.size())) {
        const QString text = PEVersionText(QByteArrayView(mapped, file.size()));
        file.unmap(const_cast<uchar *>(mapped));
        return text;
    }
    return PEVersionText(file.readAll());
}
