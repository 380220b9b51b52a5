// Lists 100,000 files in 5,000 folders with ListFiles and with find(1) and
// prints both times (best of five, warm cache).
#include "core/winutils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
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

    auto best = [](auto &&run) {
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
    };

    QStringList list;
    const qint64 all = best([&] { ListFiles(dir.path(), QStringLiteral("*"), list, QString(), true, true); });
    const qsizetype allCount = list.size();
    const qint64 masked = best([&] {
        ListFiles(dir.path(), QStringLiteral("*.pas;*.dfm"), list, QStringLiteral("bin;obj"), true, true);
    });
    const qsizetype maskedCount = list.size();
    qsizetype findLines = 0;
    const qint64 find = best([&] {
        QProcess p;
        p.start(QStringLiteral("find"), { dir.path(), QStringLiteral("-type"), QStringLiteral("f") });
        p.waitForFinished(-1);
        findLines = p.readAllStandardOutput().count('\n');
    });

    std::printf("ListFiles *            : %lld ms (%lld files)\n", (long long)all, (long long)allCount);
    std::printf("ListFiles *.pas;*.dfm  : %lld ms (%lld files)\n", (long long)masked, (long long)maskedCount);
    std::printf("find -type f           : %lld ms (%lld files)\n", (long long)find, (long long)findLines);
    std::printf("ratio ListFiles/find   : %.2f\n", find > 0 ? double(all) / double(find) : 0.0);
    return 0;
}
