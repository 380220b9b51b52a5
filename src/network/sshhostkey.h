#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A server's SSH host key as offered during a connection, kept when it was
// not found in the user's known_hosts so that the desktop can show its
// fingerprint and, once the user has compared it, trust it.
struct TSshHostKey
{
    QString Host; // the name or address connected to
    int Port = 22;
    QByteArray Blob; // the key in SSH wire format
    bool Changed = false; // known_hosts holds other keys for this host and port
    bool Revoked = false; // known_hosts lists this key as @revoked
    // The key types known_hosts lists for the host and port: when the server
    // showed another type the key may be new rather than an attack, which
    // the messages say.
    QStringList KnownTypes;

    bool IsValid() const { return !Host.isEmpty() && !Blob.isEmpty(); }
    // "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa"... as named in the key.
    QString Type() const;
    // "SHA256:" and the unpadded base64 of the key's SHA-256, as ssh prints it.
    QString Fingerprint() const;
    // The known_hosts form of the host: "name", or "[name]:port" off port 22.
    QString HostPattern() const;
    // The known_hosts line for this key, without a line break.
    QByteArray KnownHostsLine() const;
};

// ~/.ssh/known_hosts of the user running the program.
QString KnownHostsFile();

// Adds the key's line to the end of the user's known_hosts after the user
// compared its fingerprint; every line already there stays as it is. Creates
// ~/.ssh (mode 0700) and the file (0600) when missing; the file is replaced
// atomically and keeps its permissions. Returns false with *error set when
// it cannot.
bool TrustHostKey(const TSshHostKey &key, QString *error = nullptr,
                  const QString &knownHosts = KnownHostsFile());

// The user's private key for SFTP logins: the first of ~/.ssh/id_ed25519,
// id_ecdsa and id_rsa that exists; empty when there is none.
QString DefaultSshKeyFile();
