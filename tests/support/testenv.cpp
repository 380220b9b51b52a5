#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <cstdlib>
#include <stdexcept>

namespace bwtest {

TestSandbox::TestSandbox()
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    for (const char *sub : { "data", "config", "home", "tmp", "wine" })
        QDir().mkpath(m_dir.filePath(QString::fromLatin1(sub)));
    setVar("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")));
    setVar("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")));
    setVar("HOME", m_dir.filePath(QStringLiteral("home")));
    setVar("TMPDIR", m_dir.filePath(QStringLiteral("tmp")));
    setVar("WINEPREFIX", m_dir.filePath(QStringLiteral("wine")));
}

TestSandbox::~TestSandbox()
{
    for (const auto &[name, value] : m_saved) {
        if (value.first)
            qputenv(name.constData(), value.second);
        else
            qunsetenv(name.constData());
    }
}

void TestSandbox::setVar(const char *name, const QString &value)
{
    const QByteArray key(name);
    if (m_saved.find(key) == m_saved.end())
        m_saved[key] = { qEnvironmentVariableIsSet(name), qgetenv(name) };
    qputenv(name, QFile::encodeName(value));
}

QString TestSandbox::path(const QString &relative) const
{
    const QString full = m_dir.filePath(relative);
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

int runProgram(const QString &program, const QStringList &args, QByteArray *stdOut)
{
    QProcess proc;
    proc.start(program, args);
    const bool finished = proc.waitForFinished(30000);
    if (stdOut)
        *stdOut = proc.readAllStandardOutput();
    if (!finished || proc.exitStatus() != QProcess::NormalExit)
        return -1;
    return proc.exitCode();
}

} // namespace bwtest
