#include "ui/hostkeyprompt.h"

#include "ui/dialogs.h"

THostKeyOffer::TOutcome OfferHostKey(QWidget *parent, const TSshHostKey &key)
{
    THostKeyOffer offer(key);
    return offer.Run(
        [parent](const QString &sTitle, const QString &sText) {
            return TDialogs::Confirm(parent, sTitle, sText);
        },
        [parent](const QString &sTitle, const QString &sText) { TDialogs::Warning(parent, sTitle, sText); },
        [parent](const QString &sTitle, const QString &sText) { TDialogs::Critical(parent, sTitle, sText); });
}

bool OfferHostKeys(QWidget *parent, const QList<TSshHostKey> &listKeys)
{
    bool bTrusted = false;
    for (const TSshHostKey &key : listKeys)
        bTrusted = OfferHostKey(parent, key) == THostKeyOffer::Trusted || bTrusted;
    return bTrusted;
}
