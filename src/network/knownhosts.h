#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The user's known_hosts, read the way OpenSSH reads it, to decide about a
// server's host key ourselves: libssh2's reader stops at the first line it
// cannot parse, ignores @revoked and picks entries by the wrong port.
//
// A line that cannot be read is skipped and the rest still count. Host
// fields are comma lists of patterns with "*" and "?" and negation by "!",
// or hashed names ("|1|salt|hash", HMAC-SHA1). Off port 22 only
// "[name]:port" names a server; on port 22 "name" (or "[name]:22").
// "@cert-authority" lines never match a plain key; a key on an "@revoked"
// line for the host is refused even when another line lists it.
class TKnownHosts
{
public:
    // What the file says about a server's key.
    enum TStatus {
        Known, // listed for the host and port
        Unknown, // no key at all for the host and port
        Changed, // other keys (of any type) for the host and port, not this one
        Revoked, // on an @revoked line for the host
    };

    // More than this is no known_hosts but a mistake: it is refused rather
    // than read into memory.
    static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;

    TKnownHosts() = default;
    // Parses the text of a known_hosts file.
    explicit TKnownHosts(const QByteArray &content);

    // Reads and parses the file; a missing file lists nothing. Throws
    // EOSError when it cannot be read (see ReadFile).
    static TKnownHosts Load(const QString &sPath);
    // The file's bytes, opened without blocking: anything but a regular file
    // (a FIFO, a device, a folder) or more than MaxFileSize bytes throws
    // EOSError at once instead of hanging or filling memory. A missing file
    // is empty.
    static QByteArray ReadFile(const QString &sPath);

    // Checks the key (SSH wire format) the server offered for host and port;
    // *knownTypes gets the key types listed for them (for a changed key).
    TStatus Check(const QString &sHost, int iPort, const QByteArray &blob,
                  QStringList *knownTypes = nullptr) const;

    // The entries read (lines skipped as unreadable do not count).
    qsizetype Count() const { return FEntries.size(); }

private:
    enum TMarker { Plain, CertAuthority, Revoke };
    struct TEntry
    {
        TMarker Marker = Plain;
        QByteArray Hosts; // the host field as written
        QByteArray Salt; // hashed entries: the salt and the name's HMAC
        QByteArray Hash;
        QByteArray Type;
        QByteArray Blob;
    };

    static bool ParseLine(const QByteArray &line, TEntry &entry);
    static bool NamesHost(const TEntry &entry, const QList<QByteArray> &names);

    QList<TEntry> FEntries;
};
