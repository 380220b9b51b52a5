#include "network/sshhostkey.h"

#include "core/exceptions.h"
#include "network/knownhosts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

QString TSshHostKey::Type() const
{
    // The blob starts with the key type as an SSH string: a 32-bit
    // big-endian length and the name.
    if (Blob.size() < 4)
        return {};
    const quint32 length = (quint32(uchar(Blob[0])) << 24) | (quint32(uchar(Blob[1])) << 16)
        | (quint32(uchar(Blob[2])) << 8) | quint32(uchar(Blob[3]));
    if (length == 0 || length > 64 || qsizetype(length) > Blob.size() - 4)
        return {};
    const QByteArray name = Blob.mid(4, qsizetype(length));
    for (const char c : name) {
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return {};
    }
    return QString::fromLatin1(name);
}

QString TSshHostKey::Fingerprint() const
{
    const QByteArray hash = QCryptographicHash::hash(Blob, QCryptographicHash::Sha256);
    return QStringLiteral("SHA256:")
        + QString::fromLatin1(hash.toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals));
}

QString TSshHostKey::HostPattern() const
{
    const QString name = QString::fromLatin1(QUrl::toAce(Host));
    return Port == 22 ? name : QStringLiteral("[%1]:%2").arg(name).arg(Port);
}

QByteArray TSshHostKey::KnownHostsLine() const
{
    return HostPattern().toLatin1() + ' ' + Type().toLatin1() + ' ' + Blob.toBase64();
}

QString KnownHostsFile()
{
    return QDir::homePath() + QStringLiteral("/.ssh/known_hosts");
}

bool TrustHostKey(const TSshHostKey &key, QString *error, const QString &knownHosts)
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (!key.IsValid() || key.Type().isEmpty())
        return fail(QStringLiteral("No host key to trust"));

    const QFileInfo info(knownHosts);
    const QString folder = info.absolutePath();
    if (!QDir(folder).exists()) {
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("Cannot create %1").arg(folder));
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QByteArray content;
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    try {
        content = TKnownHosts::ReadFile(knownHosts);
    } catch (const Exception &e) {
        return fail(e.Message());
    }
    if (info.exists())
        permissions = QFile::permissions(knownHosts);

    // Only ever appended to: other lines for the host, of this key type or
    // another, are the user's to remove (ssh-keygen -R).
    if (!content.isEmpty() && !content.endsWith('\n'))
        content += '\n';
    const QByteArray result = content + key.KnownHostsLine() + '\n';

    QSaveFile file(knownHosts);
    if (!file.open(QIODevice::WriteOnly) || file.write(result) != result.size())
        return fail(QStringLiteral("Cannot write %1: %2").arg(knownHosts, file.errorString()));
    file.setPermissions(permissions);
    if (!file.commit())
        return fail(QStringLiteral("Cannot write %1: %2").arg(knownHosts, file.errorString()));
    return true;
}

QString DefaultSshKeyFile()
{
    const QString folder = QDir::homePath() + QStringLiteral("/.ssh/");
    for (const char *name : { "id_ed25519", "id_ecdsa", "id_rsa" }) {
        const QString path = folder + QLatin1String(name);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}
