#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <stdexcept>

namespace bwtest {

namespace {

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *)
{
    ::remove(path);
    return 0; // go on whatever one entry did
}

} // namespace

TestSandbox::TestSandbox()
{
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    for (const char *sub : { "data", "config", "home", "tmp", "wine" })
        QDir().mkpath(FDir.filePath(QString::fromLatin1(sub)));
    setVar("XDG_DATA_HOME", FDir.filePath(QStringLiteral("data")));
    setVar("XDG_CONFIG_HOME", FDir.filePath(QStringLiteral("config")));
    setVar("HOME", FDir.filePath(QStringLiteral("home")));
    setVar("TMPDIR", FDir.filePath(QStringLiteral("tmp")));
    setVar("WINEPREFIX", FDir.filePath(QStringLiteral("wine")));
}

TestSandbox::~TestSandbox()
{
    // QTemporaryDir removes by QString names and so leaves behind files whose
    // names are not UTF-8: remove the tree by its bytes first, depth first,
    // links not followed.
    ::nftw(QFile::encodeName(FDir.path()).constData(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    for (const auto &[name, value] : FSaved) {
        if (value.first)
            qputenv(name.constData(), value.second);
        else
            qunsetenv(name.constData());
    }
}

void TestSandbox::setVar(const char *name, const QString &value)
{
    const QByteArray key(name);
    if (FSaved.find(key) == FSaved.end())
        FSaved[key] = { qEnvironmentVariableIsSet(name), qgetenv(name) };
    qputenv(name, QFile::encodeName(value));
}

QString TestSandbox::path(const QString &relative) const
{
    const QString full = FDir.filePath(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    return full;
}

QString TestSandbox::writeFile(const QString &relative, const QByteArray &bytes) const
{
    const QString full = path(relative);
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
    return full;
}

QString systemPython()
{
    const QByteArray env = qgetenv("BW_PYTHON");
    return env.isEmpty() ? QStringLiteral("/usr/bin/python3") : QString::fromLocal8Bit(env);
}

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("no free port");
    return server.serverPort();
}

} // namespace bwtest
