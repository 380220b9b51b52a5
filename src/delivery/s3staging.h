#pragma once

#include "delivery/s3settings.h"

#include <QString>

class TDeliveryChannels;
class TProgressList;

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
