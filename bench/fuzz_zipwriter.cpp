// fuzz_zipwriter [SECONDS [SEED]]: writes random archives with TZipWriter for
// SECONDS (60 by default) and has Info-ZIP unzip, Python's zipfile and 7z
// read every one of them. Each round draws a tree (odd names, deep folders,
// sizes around the piece boundaries, text, noise and runs of zeros), a
// stored-or-deflated choice and a password per entry, an archive comment and
// a thread count, and checks:
//   - zipfile extracts every entry with the right bytes and name, and the comment;
//   - unzip -t and 7z t find no error (with the password);
//   - one thread and the drawn count give the same bytes.
// Every tenth round also writes 65,600 small entries, which need the ZIP64
// entry count. A failing round keeps its folder and prints the seed that
// repeats it. Not a test: CI does not run it.

#include "archive/zipwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <random>

namespace {

const char *const Verify = R"(
import json, sys, zipfile
archive, manifest, password, comment = sys.argv[1:5]
want = json.load(open(manifest, encoding="utf-8"))
with zipfile.ZipFile(archive) as z:
    assert z.comment.decode("utf-8") == comment, "comment %r" % z.comment
    names = z.namelist()
    assert sorted(names) == sorted(want), "names differ: %r" % sorted(set(names) ^ set(want))
    assert len(names) == len(set(names)), "duplicate names"
    for name, path in want.items():
        info = z.getinfo(name)
        data = z.read(name, pwd=password.encode() if info.flag_bits & 1 else None)
        assert data == open(path, "rb").read(), "content of %s" % name
)";

class TRound
{
public:
    TRound(quint64 iSeed, const QString &sDir)
        : FRandom(iSeed)
        , FDir(sDir)
    { }

    // Empty on success, else what failed.
    QString Run(bool bManyEntries)
    {
        QDir().mkpath(FDir + QStringLiteral("/in"));
        const QString sPassword = RandomText(1 + Pick(20), false);
        std::vector<TZipWriterItem> items;
        QString sManifest = QStringLiteral("{");
        const int iCount = bManyEntries ? 65600 : 1 + Pick(40);
        for (int i = 0; i < iCount; ++i) {
            // Unique entry names; the folder on disk is flat and numbered.
            const QString sName = bManyEntries ? QStringLiteral("many/%1.txt").arg(i) : RandomName(i);
            const QString sPath = FDir + QStringLiteral("/in/%1").arg(i);
            if (!WriteFile(sPath, bManyEntries ? QByteArray::number(i) : RandomContent()))
                return QStringLiteral("cannot write %1").arg(sPath);
            TZipWriterItem item = TZipWriterItem::ForFile(sPath, sName, Pick(3) == 0 ? sPassword : QString());
            if (Pick(4) == 0)
                item.bStore = !item.bStore;
            items.push_back(item);
            sManifest
                += (i ? QStringLiteral(", ") : QString()) + Json(sName) + QStringLiteral(": ") + Json(sPath);
        }
        sManifest += QLatin1Char('}');
        if (!WriteFile(FDir + QStringLiteral("/manifest.json"), sManifest.toUtf8()))
            return QStringLiteral("cannot write the manifest");
        const QString sComment = Pick(2) ? RandomText(Pick(60), true) : QString();

        const quint64 iCipherSeed = FRandom() | 1;
        const auto write = [&](int iThreads, const QString &sArchive) -> QString {
            TZipWriter zip;
            zip.SetZipFileName(sArchive);
            zip.SetZipComment(sComment);
            zip.SetItems(items);
            zip.SetThreadCount(iThreads);
            zip.SetEncryptionSeed(iCipherSeed);
            return zip.Write() == TZipWriter::ZipOk ? QString() : zip.ErrorMessage();
        };
        const QString sArchive = FDir + QStringLiteral("/out.zip");
        const QString sSingle = FDir + QStringLiteral("/single.zip");
        QString sError = write(1 + Pick(4), sArchive);
        if (sError.isEmpty())
            sError = write(1, sSingle);
        if (!sError.isEmpty())
            return QStringLiteral("Write failed: ") + sError;
        if (ReadAll(sArchive) != ReadAll(sSingle))
            return QStringLiteral("one thread and several give different archives");

        if (!Tool(QStringLiteral("/usr/bin/python3"),
                  { QStringLiteral("-c"), QString::fromLatin1(Verify), sArchive,
                    FDir + QStringLiteral("/manifest.json"), sPassword, sComment },
                  sError))
            return QStringLiteral("zipfile: ") + sError;
        if (!Tool(QStringLiteral("/usr/bin/unzip"),
                  { QStringLiteral("-tq"), QStringLiteral("-P"), sPassword, sArchive }, sError))
            return QStringLiteral("unzip: ") + sError;
        if (!Tool(QStringLiteral("/usr/bin/7z"),
                  { QStringLiteral("t"), QStringLiteral("-bd"), QStringLiteral("-p") + sPassword, sArchive },
                  sError))
            return QStringLiteral("7z: ") + sError;
        return {};
    }

private:
    std::mt19937_64 FRandom;
    QString FDir;

    int Pick(int n) { return int(FRandom() % quint64(n)); }

    QString RandomText(int iLength, bool bWide)
    {
        static const QString ascii = QStringLiteral(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !#$%&'()+,-.;=@[]^_`{}~");
        static const QString wide = QStringLiteral("äöüßÉçñøåæЖщ中文日本語한국어€✓");
        QString s;
        for (int i = 0; i < iLength; ++i)
            s += bWide && Pick(4) == 0 ? wide.at(Pick(int(wide.size()))) : ascii.at(Pick(int(ascii.size())));
        return s;
    }

    QString RandomName(int i)
    {
        QString sName;
        const int iDepth = Pick(6);
        for (int d = 0; d < iDepth; ++d) {
            QString part = RandomText(1 + Pick(12), true).trimmed();
            if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
                part = QStringLiteral("d");
            sName += part + QLatin1Char('/');
        }
        static const char *const exts[] = { ".pas", ".dfm", ".png", ".zip", ".txt", "", ".JPG" };
        return sName + QStringLiteral("f%1 ").arg(i) + RandomText(Pick(10), true).trimmed()
            + QLatin1String(exts[Pick(int(std::size(exts)))]);
    }

    QByteArray RandomContent()
    {
        const int mib = 1 << 20;
        static const int sizes[] = { 0, 1, 2, 100, 4095, 65536, mib - 1, mib, mib + 1, 4 * mib, 4 * mib + 1 };
        const int iSize = Pick(3) ? sizes[Pick(int(std::size(sizes)))] : Pick(3 * mib);
        QByteArray bytes(iSize, '\0');
        switch (Pick(3)) {
        case 0: // source-like text
            for (int i = 0; i < iSize; ++i)
                bytes[i] = "begin end; x := y + 1;\r\n"[(i * 7 + i / 97) % 24];
            break;
        case 1: // noise
            for (int i = 0; i < iSize; ++i)
                bytes[i] = char(FRandom());
            break;
        default: // zeros with the odd byte
            for (int i = 0; i < iSize; i += 1 + Pick(70000))
                bytes[i] = char(FRandom());
        }
        return bytes;
    }

    static bool WriteFile(const QString &sPath, const QByteArray &bytes)
    {
        QFile f(sPath);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    static QByteArray ReadAll(const QString &sPath)
    {
        QFile f(sPath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QString Json(const QString &s)
    {
        QString out = QStringLiteral("\"");
        for (const QChar c : s) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                out += QLatin1Char('\\') + c;
            else
                out += c;
        }
        return out + QLatin1Char('"');
    }
    static bool Tool(const QString &sProgram, const QStringList &args, QString &sError)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(sProgram, args);
        if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            sError = QString::fromUtf8(p.readAll()).right(2000);
            return false;
        }
        return true;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int iSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    quint64 iSeed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : std::random_device()();
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    int iRounds = 0;
    int iFailures = 0;
    while (clock.elapsed() < qint64(iSeconds) * 1000) {
        const QString sDir = work.path() + QStringLiteral("/round%1").arg(iRounds);
        TRound round(iSeed, sDir);
        const QString sError = round.Run(iRounds % 10 == 9);
        if (sError.isEmpty()) {
            QDir(sDir).removeRecursively();
        } else {
            ++iFailures;
            work.setAutoRemove(false);
            std::printf("FAIL round %d, seed %llu%s (kept in %s): %s\n", iRounds,
                        static_cast<unsigned long long>(iSeed), iRounds % 10 == 9 ? ", many entries" : "",
                        qPrintable(sDir), qPrintable(sError));
        }
        ++iRounds;
        iSeed = iSeed * 6364136223846793005ull + 1442695040888963407ull;
    }
    std::printf("%d rounds, %d failed, in %.1f s\n", iRounds, iFailures, clock.elapsed() / 1000.0);
    return iFailures ? 1 : 0;
}
