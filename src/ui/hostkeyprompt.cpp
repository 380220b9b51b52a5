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
