#pragma once

#include "network/netclient.h"
#include "network/sshhostkey.h"

#include <QDateTime>
#include <memory>

// The transport a host text asks for.
enum class TFtpTransport {
    Ftp, // "name[:port]" or "ftp://name[:port]", port 21 by default
    Ftps, // "ftps://name[:port]": FTP with AUTH TLS on control and data, port 21
    Sftp, // "sftp://name[:port]": SFTP over SSH, port 22
};

// FTP client: every call is one complete exchange (connect, USER, PASS, CWD
// when a directory is set, the action, QUIT) in image type with active data
// connections (PORT). Time-out 15 seconds by default. The host text's scheme
// may pick FTPS or SFTP instead; the calls work the same over each.
//
// FTPS verifies the server's certificate against CertificatesFile, or the
// system's store. SFTP logs in with the password, the user's key
// (DefaultSshKeyFile) or the running ssh-agent, and accepts only a host key
// that ~/.ssh/known_hosts lists for the host and port (read by TKnownHosts
// before the exchange starts); another key fails the exchange and is kept
// in HostKeyProblem() for the user to compare and trust (TrustHostKey). A
// key known_hosts marks @revoked fails it too, and is never offered.
class TFTPClient : public TNetClient
{
    Q_OBJECT
public:
    explicit TFTPClient(QObject *parent = nullptr);

    // The server: "name", or "name:port" for a port other than 21; with
    // "sftp://" or "ftps://" in front for those transports.
    QString Host;
    // Changed into with one CWD of the whole text; empty: the login directory.
    QString Directory;
    QString Username; // empty logs in anonymously
    QString Password;
    // PEM certificate authorities for FTPS; empty: the system's store.
    QString CertificatesFile;
    // Set by the calls below: the local file and remote name last used.
    QString LocalFile;
    QString RemoteFile;

    // Uploads localFile as remoteName (STOR) on the calling thread; returns
    // when done. progress() reports the bytes sent so far.
    bool Put(const QString &localFile, const QString &remoteName);
    // Writes the directory's file names (NLST), one per line, to localFile.
    // On failure the local file does not exist.
    bool List(const QString &localFile);
    // Deletes remoteName (DELE) in the directory.
    bool Delete(const QString &remoteName);
    // The time remoteName was last changed (MDTM; SFTP: its attributes).
    bool GetFileTime(const QString &remoteName, QDateTime &dtTime);

    // A name of the temporary files uploads go up under
    // (".bundlewick-<16 hex digits>.part").
    static bool IsTemporaryName(const QString &name);

    // After an SFTP exchange that ended on the server's host key (unknown
    // or changed): that key. Invalid otherwise, also for a revoked key,
    // which there is no point in offering. Read it once the exchange has
    // ended.
    TSshHostKey HostKeyProblem() const { return FHostKey && !FHostKey->Revoked ? *FHostKey : TSshHostKey(); }

    // Splits "[scheme://]name[:port]" into transport, name and port (the
    // transport's standard port when none).
    static bool SplitHost(const QString &text, TFtpTransport &transport, QString &name, int &port);
    static bool SplitHost(const QString &text, QString &name, int &port);

private:
    std::shared_ptr<TSshHostKey> NewHostKeySlot();

    std::shared_ptr<TSshHostKey> FHostKey;
};
