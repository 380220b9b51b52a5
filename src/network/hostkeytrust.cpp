#include "network/hostkeytrust.h"

#include <QList>
#include <algorithm>

THostKeyOffer::THostKeyOffer(const TSshHostKey &key, const QString &knownHosts)
    : FKey(key)
    , FKnownHosts(knownHosts)
{ }

QString THostKeyOffer::Title()
{
    return QStringLiteral("SSH host key");
}

QString THostKeyOffer::Question() const
{
    return QStringLiteral(
               "The server %1, port %2, is not known yet. It identifies itself with this %3 key:\n\n"
               "%4\n\n"
               "Compare this fingerprint with the one the server's administrator gives you "
               "(ssh-keygen -l -f on the server's host key file). Trust the key only when "
               "they match.\n\n"
               "Add the key to %5 and trust this server?")
        .arg(FKey.Host)
        .arg(FKey.Port)
        .arg(FKey.Type(), FKey.Fingerprint(), FKnownHosts);
}

QString THostKeyOffer::ChangedWarning() const
{
    // Keys of another type only: ssh would have asked the server for one of
    // those, which libcurl cannot; the key may be new rather than forged.
    const QString sOtherTypes = FKey.KnownTypes.isEmpty() || FKey.KnownTypes.contains(FKey.Type())
        ? QString()
        : QStringLiteral("%1 lists only %2 keys for this server.\n\n")
              .arg(FKnownHosts, FKey.KnownTypes.join(QStringLiteral(", ")));
    return QStringLiteral("WARNING: the host key of %1, port %2, has changed!\n\n"
                          "The server now identifies itself with this %3 key:\n\n"
                          "%4\n\n"
                          "%5"
                          "Someone may be intercepting the connection (a man-in-the-middle attack), or "
                          "the server's key was replaced. Nothing was sent and the key is not trusted.\n\n"
                          "Ask the server's administrator whether the key changed. If it did, remove the "
                          "old entry with\n\n"
                          "ssh-keygen -R \"%6\" -f \"%7\"\n\n"
                          "and try again: you will then be asked to compare and trust the new key.")
        .arg(FKey.Host)
        .arg(FKey.Port)
        .arg(FKey.Type(), FKey.Fingerprint(), sOtherTypes, FKey.HostPattern(), FKnownHosts);
}

QString THostKeyOffer::TrustFailure(const QString &sReason) const
{
    return QStringLiteral("The host key of %1 could not be trusted.\n\n%2").arg(FKey.HostPattern(), sReason);
}

THostKeyOffer::TOutcome THostKeyOffer::Run(const TAsk &ask, const TTell &warning, const TTell &error)
{
    // A revoked key is never offered; the failure line says why.
    if (!FKey.IsValid() || FKey.Revoked)
        return Declined;
    if (FKey.Changed) {
        // Replacing a key that changed is left to the user outside the
        // program, after checking with the server's administrator.
        warning(Title(), ChangedWarning());
        return Refused;
    }
    if (!ask(Title(), Question()))
        return Declined;
    QString sReason;
    if (!TrustHostKey(FKey, &sReason, FKnownHosts)) {
        error(Title(), TrustFailure(sReason));
        return Failed;
    }
    return Trusted;
}

QList<TSshHostKey> DistinctHostKeys(const QList<TSshHostKey> &listKeys)
{
    QList<TSshHostKey> result;
    for (const TSshHostKey &key : listKeys) {
        const bool bSeen = std::any_of(result.cbegin(), result.cend(), [&key](const TSshHostKey &other) {
            return other.HostPattern() == key.HostPattern() && other.Blob == key.Blob;
        });
        if (key.IsValid() && !bSeen)
            result.append(key);
    }
    return result;
}
