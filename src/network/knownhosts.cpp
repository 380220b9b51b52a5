#include "network/knownhosts.h"

#include "core/exceptions.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor on every way out.
class TFileHandle
{
public:
    explicit TFileHandle(int fd)
        : FFd(fd)
    { }
    ~TFileHandle()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle &) = delete;
    TFileHandle &operator=(const TFileHandle &) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// The line's fields separated by blanks; the last one takes whatever is left
// beyond count - 1 (a key's comment may hold blanks).
QList<QByteArray> Fields(const QByteArray &line, int count)
{
    QList<QByteArray> fields;
    qsizetype i = 0;
    while (fields.size() < count) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        qsizetype end = i;
        while (end < line.size() && !IsBlank(line[end]))
            ++end;
        fields.append(line.mid(i, end - i));
        i = end;
    }
    return fields;
}

// Strict base64: a key with a typo in it is an unreadable line, not another key.
bool DecodeBase64(const QByteArray &text, QByteArray &out)
{
    const auto result = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.isEmpty())
        return false;
    out = result.decoded;
    return true;
}

// The key type named at the start of a key in SSH wire format.
QByteArray BlobType(const QByteArray &blob)
{
    if (blob.size() < 4)
        return {};
    const quint32 length = (quint32(uchar(blob[0])) << 24) | (quint32(uchar(blob[1])) << 16)
        | (quint32(uchar(blob[2])) << 8) | quint32(uchar(blob[3]));
    if (length == 0 || qsizetype(length) > blob.size() - 4)
        return {};
    return blob.mid(4, qsizetype(length));
}

// "*" any run of characters, "?" any one character, as ssh's patterns.
bool Glob(const QByteArray &text, const QByteArray &pattern)
{
    qsizetype t = 0, p = 0;
    qsizetype starP = -1, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP >= 0) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// 1 when a pattern of the comma list names the host, -1 when a negated one
// does (which rules the line out whatever else matches), 0 otherwise.
int MatchList(const QByteArray &name, const QByteArray &list)
{
    int result = 0;
    for (QByteArray pattern : list.toLower().split(',')) {
        const bool negated = pattern.startsWith('!');
        if (negated)
            pattern.remove(0, 1);
        if (Glob(name, pattern)) {
            if (negated)
                return -1;
            result = 1;
        }
    }
    return result;
}

// The names known_hosts may list the server under: off port 22 only
// "[name]:port", as ssh looks it up.
QList<QByteArray> LookupNames(const QString &sHost, int iPort)
{
    QByteArray name = QUrl::toAce(sHost);
    if (name.isEmpty())
        name = sHost.toUtf8();
    name = name.toLower();
    const QByteArray bracketed = '[' + name + "]:" + QByteArray::number(iPort);
    if (iPort == 22)
        return { name, bracketed };
    return { bracketed };
}

} // namespace

TKnownHosts::TKnownHosts(const QByteArray &content)
{
    for (const QByteArray &line : content.split('\n')) {
        TEntry entry;
        if (ParseLine(line, entry))
            FEntries.append(entry);
    }
}

bool TKnownHosts::ParseLine(const QByteArray &line, TEntry &entry)
{
    const QList<QByteArray> first = Fields(line, 1);
    if (first.isEmpty() || first[0].startsWith('#'))
        return false;
    QList<QByteArray> fields;
    if (first[0].startsWith('@')) {
        if (first[0] == "@revoked")
            entry.Marker = Revoke;
        else if (first[0] == "@cert-authority")
            entry.Marker = CertAuthority;
        else
            return false;
        fields = Fields(line, 4).mid(1);
    } else {
        fields = Fields(line, 3);
    }
    if (fields.size() < 3)
        return false;
    entry.Hosts = fields[0];
    entry.Type = fields[1];
    if (!DecodeBase64(fields[2], entry.Blob) || BlobType(entry.Blob) != entry.Type)
        return false;
    if (entry.Hosts.startsWith('|')) {
        // "|1|salt|hash": the name's HMAC-SHA1 keyed with the salt, both as
        // long as a SHA-1.
        const QList<QByteArray> parts = entry.Hosts.split('|');
        if (parts.size() != 4 || !parts[0].isEmpty() || parts[1] != "1" || !DecodeBase64(parts[2], entry.Salt)
            || !DecodeBase64(parts[3], entry.Hash) || entry.Salt.size() != 20 || entry.Hash.size() != 20)
            return false;
    }
    return true;
}

bool TKnownHosts::NamesHost(const TEntry &entry, const QList<QByteArray> &names)
{
    if (!entry.Salt.isEmpty()) {
        for (const QByteArray &name : names) {
            if (QMessageAuthenticationCode::hash(name, entry.Salt, QCryptographicHash::Sha1) == entry.Hash)
                return true;
        }
        return false;
    }
    bool named = false;
    for (const QByteArray &name : names) {
        const int match = MatchList(name, entry.Hosts);
        if (match < 0)
            return false;
        named = named || match > 0;
    }
    return named;
}

TKnownHosts::TStatus TKnownHosts::Check(const QString &sHost, int iPort, const QByteArray &blob,
                                        QStringList *knownTypes) const
{
    const QList<QByteArray> names = LookupNames(sHost, iPort);
    bool known = false;
    bool others = false;
    QStringList types;
    for (const TEntry &entry : FEntries) {
        // A certificate authority vouches only for certificates, which the
        // server's plain key is not.
        if (entry.Marker == CertAuthority || !NamesHost(entry, names))
            continue;
        if (entry.Marker == Revoke) {
            if (entry.Blob == blob)
                return Revoked;
            continue;
        }
        if (entry.Blob == blob) {
            known = true;
        } else {
            others = true;
            const QString type = QString::fromLatin1(entry.Type);
            if (!types.contains(type))
                types.append(type);
        }
    }
    if (knownTypes)
        *knownTypes = types;
    if (known)
        return Known;
    return others ? Changed : Unknown;
}

TKnownHosts TKnownHosts::Load(const QString &sPath)
{
    return TKnownHosts(ReadFile(sPath));
}

QByteArray TKnownHosts::ReadFile(const QString &sPath)
{
    const auto fail = [&sPath](const QString &reason) {
        return EOSError(QStringLiteral("Cannot read %1: %2").arg(sPath, reason));
    };
    // Non-blocking: opening a FIFO must not wait for a writer.
    const TFileHandle file(
        ::open(QFile::encodeName(sPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Fd() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        throw fail(qt_error_string(errno));
    }
    struct stat info
    {
    };
    if (::fstat(file.Fd(), &info) != 0)
        throw fail(qt_error_string(errno));
    if (!S_ISREG(info.st_mode))
        throw fail(QStringLiteral("it is not a regular file"));
    if (info.st_size > MaxFileSize)
        throw fail(QStringLiteral("it is larger than %1 MiB").arg(MaxFileSize / (1024 * 1024)));

    // Read to the end, not to the size fstat saw: one byte more than
    // allowed tells a file that grew meanwhile.
    QByteArray content;
    content.reserve(qsizetype(info.st_size) + 1);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.Fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw fail(qt_error_string(errno));
        if (n == 0)
            break;
        content.append(buffer, qsizetype(n));
        if (content.size() > MaxFileSize)
            throw fail(QStringLiteral("it is larger than %1 MiB").arg(MaxFileSize / (1024 * 1024)));
    }
    return content;
}
