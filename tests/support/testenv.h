#pragma once

#include "support/childprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <ostream>

// Readable QString values in gtest failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

// BW_TSAN and BW_ASAN come from the build (CMakeLists.txt) in sanitizer
// builds, which scale some tests down or skip them.

namespace bwtest {

// Points XDG_DATA_HOME, XDG_CONFIG_HOME, HOME, TMPDIR (and WINEPREFIX) at a
// fresh temporary folder for the lifetime of the object, and restores the
// previous values afterwards, and removes the folder with everything in it,
// also names that are not UTF-8. Every test that touches the file system
// holds one.
class TestSandbox
{
public:
    TestSandbox();
    ~TestSandbox();
    TestSandbox(const TestSandbox &) = delete;
    TestSandbox &operator=(const TestSandbox &) = delete;

    // Root of the sandbox, without a trailing slash.
    QString root() const { return FDir.path(); }
    // root() + "/" + relative, with missing parent folders created when mkParent.
    QString path(const QString &relative) const;
    // Writes bytes to root()/relative, creating parent folders; returns the full path.
    QString writeFile(const QString &relative, const QByteArray &bytes) const;

private:
    QTemporaryDir FDir;
    std::map<QByteArray, std::pair<bool, QByteArray>> FSaved;
    void setVar(const char *name, const QString &value);
};

// /usr/bin/python3 (Debian's, which can import python3-pyftpdlib and aiosmtpd).
QString systemPython();
// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

} // namespace bwtest
