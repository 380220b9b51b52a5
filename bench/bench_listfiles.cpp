// Lists 100,000 files in 5,000 folders with ListFiles and with find(1) and
// prints both times (best of five, warm cache).
#include "benchtree.h"
#include "core/listfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    MakeSourceTree(dir.path());

    QStringList list;
    const qint64 all
        = BestOfFive([&] { ListFiles(dir.path(), QStringLiteral("*"), list, QString(), true, true); });
    const qsizetype allCount = list.size();
    const qint64 masked = BestOfFive([&] {
        ListFiles(dir.path(), QStringLiteral("*.pas;*.dfm"), list, QStringLiteral("bin;obj"), true, true);
    });
    const qsizetype maskedCount = list.size();
    qsizetype findLines = 0;
    const qint64 find = BestOfFive([&] {
        QProcess p;
        p.start(QStringLiteral("find"), { dir.path(), QStringLiteral("-type"), QStringLiteral("f") });
        p.waitForFinished(-1);
        findLines = p.readAllStandardOutput().count('\n');
    });

    std::printf("ListFiles *            : %lld ms (%lld files)\n", static_cast<long long>(all),
                static_cast<long long>(allCount));
    std::printf("ListFiles *.pas;*.dfm  : %lld ms (%lld files)\n", static_cast<long long>(masked),
                static_cast<long long>(maskedCount));
    std::printf("find -type f           : %lld ms (%lld files)\n", static_cast<long long>(find),
                static_cast<long long>(findLines));
    std::printf("ratio ListFiles/find   : %.2f\n", find > 0 ? double(all) / double(find) : 0.0);
    return 0;
}
