#pragma once

#include "network/s3settings.h"

#include <QString>

class TDeliveryChannels;
class TProgressList;

// Whether an S3 link can last for retention period iPeriod (the choice
// index): presigned links for a day and a week, the public address for
// longer ones.
bool S3PeriodAllowed(const TS3Settings &oServer, int iPeriod);
// Why a period is not offered, for the note beside the choice.
QString S3PeriodNote();
// The link that is mailed for the object sKey kept for iPeriod: presigned
// until the period ends, or the public address and the key; empty when the
// period needs a public address and there is none.
QString S3Link(const TS3Settings &oServer, const QString &sKey, int iPeriod);

// The kind of staging server the settings choose ("Staging kind").
TStagingKind StagingKindSetting();

// A staging upload to S3-compatible storage, for an e-mail that carries a
// link (a project's e-mail task or quick send): uploads sArchive as the
// object prefix + sStagingName, records its expiry for retention period
// iPeriod (also after a failed upload: the parts may be there) and gives
// the link to mail in sLink: presigned for a day or a week, the public
// address for longer. Reports "  Sent to S3 bucket ..." or a failure line;
// false without a link. A period that needs a public address the settings
// lack fails before anything is uploaded.
bool StageOnS3(TDeliveryChannels &oChannels, TProgressList &oProgress, const TS3Settings &oServer,
               const QString &sArchive, const QString &sStagingName, int iPeriod, QString &sLink);
