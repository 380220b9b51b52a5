#pragma once

// Shared by the folder-listing benchmarks: a generated source tree and a
// best-of-N timer.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// 50 folders of 100 subfolders of 20 empty files each (100,000 files in
// 5,000 folders), a quarter of them ".pas".
inline void MakeSourceTree(const QString &sRoot)
{
    const QByteArray root = QFile::encodeName(sRoot);
    ::mkdir(root.constData(), 0755);
    const char *exts[] = { ".pas", ".dfm", ".inc", ".txt" };
    for (int top = 0; top < 50; ++top) {
        const QByteArray topDir = root + "/dir" + QByteArray::number(top);
        ::mkdir(topDir.constData(), 0755);
        for (int sub = 0; sub < 100; ++sub) {
            const QByteArray subDir = topDir + "/Sub" + QByteArray::number(sub);
            ::mkdir(subDir.constData(), 0755);
            for (int f = 0; f < 20; ++f) {
                const QByteArray file = subDir + "/unit" + QByteArray::number(f) + exts[f % 4];
                ::close(::open(file.constData(), O_CREAT | O_WRONLY, 0644));
            }
        }
    }
}

// Fastest of five runs, in milliseconds (warm cache after the first).
template<typename Run> qint64 BestOfFive(Run &&run)
{
    qint64 fastest = -1;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        const qint64 ms = timer.elapsed();
        if (fastest < 0 || ms < fastest)
            fastest = ms;
    }
    return fastest;
}
