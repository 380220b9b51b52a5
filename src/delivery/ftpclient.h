#pragma once

#include "delivery/netclient.h"

// FTP client: every call is one complete exchange (connect, USER, PASS, CWD
// when a directory is set, the action, QUIT) in image type with active data
// connections (PORT). Time-out 15 seconds by default.
class TFTPClient : public TNetClient
{
    Q_OBJECT
public:
    explicit TFTPClient(QObject *parent = nullptr);

    // The server: "name", or "name:port" for a port other than 21.
    QString Host;
    // Changed into with one CWD of the whole text; empty: the login directory.
    QString Directory;
    QString Username; // empty logs in anonymously
    QString Password;
    // Set by the calls below: the local file and remote name last used.
    QString LocalFile;
    QString RemoteFile;

    // Uploads localFile as remoteName (STOR) on the calling thread; returns
    // when done. progress() reports the bytes sent so far.
    bool Put(const QString &localFile, const QString &remoteName);
    bool StartPut(const QString &localFile, const QString &remoteName);
    // Writes the directory's file names (NLST), one per line, to localFile.
    // On failure the local file does not exist.
    bool List(const QString &localFile);
    // Deletes remoteName (DELE) in the directory.
    bool Delete(const QString &remoteName);

    // Splits "name[:port]" into the name and the port (21 when none).
    static bool SplitHost(const QString &text, QString &name, int &port);
};
