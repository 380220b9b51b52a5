#include "core/peversion.h"
#include "support/pebuilder.h"
#include "support/testenv.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>

using namespace Qt::StringLiterals;

using bwtest::PEBuilder;

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
