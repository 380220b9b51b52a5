#pragma once

#include "network/sshhostkey.h"

#include <QString>
#include <functional>

// What the desktop does when an SSH host key stopped a connection. An
// unknown key is offered for trust once the user compared its fingerprint
// with the server's; a changed key is never replaced from here: the user is
// warned and told how to remove the old entry, after which the next
// connection offers the new key like an unknown one. Widgets supply the
// question and the messages (through TDialogs); the command line never
// calls this.
class THostKeyOffer
{
public:
    explicit THostKeyOffer(const TSshHostKey &key, const QString &knownHosts = KnownHostsFile());

    // How it ended.
    enum TOutcome {
        Trusted, // the user said Yes and known_hosts now holds the key
        Declined, // the user said No: nothing changed
        Refused, // a changed key: the warning was shown, nothing changed
        Failed, // the user said Yes but known_hosts could not be written
    };

    // Yes/No question; true for Yes. The answer must default to No.
    using TAsk = std::function<bool(const QString &sTitle, const QString &sText)>;
    // A message with an OK button.
    using TTell = std::function<void(const QString &sTitle, const QString &sText)>;

    // Asks about an unknown key and trusts it on Yes; a failure to write is
    // told through error. A changed key only gets the warning.
    TOutcome Run(const TAsk &ask, const TTell &warning, const TTell &error);

    static QString Title();
    // The question for an unknown key: host, port, key type, fingerprint.
    QString Question() const;
    // The warning for a changed key, with the command that removes the old
    // entry.
    QString ChangedWarning() const;
    // The text told when known_hosts cannot be written.
    QString TrustFailure(const QString &sReason) const;

private:
    TSshHostKey FKey;
    QString FKnownHosts;
};

// The distinct keys of a list, in order (several uploads to one server
// report the same key).
QList<TSshHostKey> DistinctHostKeys(const QList<TSshHostKey> &listKeys);
