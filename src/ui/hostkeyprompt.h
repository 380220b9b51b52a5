#pragma once

#include "network/hostkeytrust.h"

class QWidget;

// THostKeyOffer through TDialogs: the question (No by default), the warning
// for a changed key and the error when known_hosts cannot be written.
THostKeyOffer::TOutcome OfferHostKey(QWidget *parent, const TSshHostKey &key);
// Offers each key in turn; true when at least one is now trusted.
bool OfferHostKeys(QWidget *parent, const QList<TSshHostKey> &listKeys);
