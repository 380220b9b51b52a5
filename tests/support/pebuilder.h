#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace bwtest {

// Builds a small Windows PE image whose only section holds a resource tree
// with a version record, the way a linker lays it out.
class PEBuilder
{
public:
    bool pe32Plus = false;
    bool withVersion = true;
    quint32 versionMS = (1u << 16) | 2;
    quint32 versionLS = (3u << 16) | 83;

    static constexpr int kSectionFile = 0x200;
    static constexpr quint32 kSectionRva = 0x1000;

    QByteArray build() const
    {
        QByteArray b(kSectionFile, '\0');
        put16(b, 0, 0x5A4D); // "MZ"
        put32(b, 0x3C, 0x40);
        b.replace(0x40, 4, QByteArray("PE\0\0", 4));
        const int coff = 0x44;
        const int optionalSize = pe32Plus ? 240 : 224;
        put16(b, coff, pe32Plus ? 0x8664 : 0x14C);
        put16(b, coff + 2, 1);
        put16(b, coff + 16, optionalSize);
        put16(b, coff + 18, 0x0102);
        const int opt = coff + 20;
        put16(b, opt, pe32Plus ? 0x20B : 0x10B);
        const int dirs = opt + (pe32Plus ? 112 : 96);
        put32(b, dirs - 4, 16);

        QByteArray rsrc = resources();
        put32(b, dirs + 16, kSectionRva);
        put32(b, dirs + 20, quint32(rsrc.size()));
        const int section = opt + optionalSize;
        b.replace(section, 8, QByteArray(".rsrc\0\0\0", 8));
        put32(b, section + 8, quint32(rsrc.size()));
        put32(b, section + 12, kSectionRva);
        put32(b, section + 16, quint32(rsrc.size()));
        put32(b, section + 20, kSectionFile);
        return b + rsrc;
    }

private:
    static void put16(QByteArray &b, int at, quint32 v)
    {
        if (b.size() < at + 2)
            b.resize(at + 2, '\0');
        b[at] = char(v & 0xFF);
        b[at + 1] = char((v >> 8) & 0xFF);
    }
    static void put32(QByteArray &b, int at, quint32 v)
    {
        put16(b, at, v & 0xFFFF);
        put16(b, at + 2, v >> 16);
    }

    QByteArray resources() const
    {
        // root: a named entry and an icon type first, so the lookup must skip them
        QByteArray r(0x70, '\0');
        put16(r, 12, 1); // named entries
        put16(r, 14, 2); // id entries
        put32(r, 16, 0x80000000u | 0x68);
        put32(r, 20, 0x80000000u | 0x30); // -> an empty directory
        put32(r, 24, withVersion ? 16 : 3);
        put32(r, 28, 0x80000000u | 0x30);
        // 0x30: names, 0x48: languages, 0x60: data entry
        put16(r, 0x30 + 14, 1);
        put32(r, 0x30 + 16, 1);
        put32(r, 0x30 + 20, 0x80000000u | 0x48);
        put16(r, 0x48 + 14, 1);
        put32(r, 0x48 + 16, 0x409);
        put32(r, 0x48 + 20, 0x60);
        put32(r, 0x60, kSectionRva + 0x70);
        put32(r, 0x64, 92);

        // 0x70: VS_VERSIONINFO with its fixed record
        const int v = 0x70;
        put16(r, v, 92);
        put16(r, v + 2, 52);
        const char16_t key[] = u"VS_VERSION_INFO";
        for (int i = 0; i < 16; ++i)
            put16(r, v + 6 + 2 * i, key[i]);
        const int fixed = v + 40;
        put32(r, fixed, 0xFEEF04BD);
        put32(r, fixed + 4, 0x10000);
        put32(r, fixed + 8, versionMS);
        put32(r, fixed + 12, versionLS);
        put32(r, fixed + 48, 0); // last field, sizes the record to 52 bytes
        return r;
    }
};

} // namespace bwtest
