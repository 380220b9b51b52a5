#include "core/winutils.h"
#include "support/testenv.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>

using namespace Qt::StringLiterals;

namespace {

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

} // namespace

TEST(PEVersion, ReadsFixedVersionRecord)
{
    PEBuilder pe;
    EXPECT_EQ(PEVersionText(pe.build()), u"1.2.3 build 83"_s);

    pe.pe32Plus = true;
    pe.versionMS = (10u << 16) | 0;
    pe.versionLS = (65535u << 16) | 7;
    EXPECT_EQ(PEVersionText(pe.build()), u"10.0.65535 build 7"_s);

    pe.withVersion = false;
    EXPECT_EQ(PEVersionText(pe.build()), QString());
}

TEST(PEVersion, FromFile)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(FileVersionText(sandbox.writeFile(u"tool.exe"_s, PEBuilder().build())), u"1.2.3 build 83"_s);
    EXPECT_EQ(FileVersionText(sandbox.writeFile(u"readme.txt"_s, "MZ but nothing else")), QString());
    EXPECT_EQ(FileVersionText(sandbox.writeFile(u"empty.exe"_s, QByteArray())), QString());
    EXPECT_EQ(FileVersionText(sandbox.path(u"missing.exe"_s)), QString());
    EXPECT_EQ(FileVersionText(sandbox.root()), QString());
}

TEST(PEVersion, TruncatedImagesGiveNothing)
{
    const QByteArray image = PEBuilder().build();
    ASSERT_EQ(image.size(), 0x200 + 0x70 + 92);
    for (qsizetype n = 0; n < image.size(); ++n)
        ASSERT_EQ(PEVersionText(QByteArrayView(image).first(n)), QString()) << n;
}

// Mutated images must never crash or read out of bounds (ASan checks the
// latter in CI); the result itself does not matter.
TEST(PEVersion, SurvivesMutatedImages)
{
    const QByteArray image = PEBuilder().build();
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> anyByte(0, 255);
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray copy = image;
        const int edits = 1 + int(random() % 6);
        for (int i = 0; i < edits; ++i) {
            const int at = int(random() % copy.size());
            switch (random() % 4) {
            case 0: // a random byte
                copy[at] = char(anyByte(random));
                break;
            case 1: // a large or negative-looking 32-bit value
                for (int k = 0; k < 4 && at + k < copy.size(); ++k)
                    copy[at + k] = char(k == 3 ? 0x80 | anyByte(random) : anyByte(random));
                break;
            case 2: // a small offset, to point back into the image
                copy[at] = char(random() % 0x80);
                break;
            default: // cut short
                copy.truncate(at);
                break;
            }
            if (copy.isEmpty())
                break;
        }
        // A copy with its exact size, so reads past the end are caught.
        const std::unique_ptr<char[]> exact(new char[size_t(copy.size()) + 1]);
        memcpy(exact.get(), copy.constData(), size_t(copy.size()));
        if (!PEVersionText(QByteArrayView(exact.get(), copy.size())).isEmpty())
            ++parsed;
    }
    EXPECT_GT(parsed, 0); // some harmless edits keep the record readable
}
