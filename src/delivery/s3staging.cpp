#include "delivery/s3staging.h"

#include "core/progress.h"
#include "core/settingkeys.h"
#include "delivery/channels.h"
#include "delivery/retention.h"
#include "diagnostics/diaglog.h"

bool S3PeriodAllowed(const TS3Settings &oServer, int iPeriod)
{
    return iPeriod == rpDay || iPeriod == rpWeek || !oServer.PublicAddress.trimmed().isEmpty();
}

QString S3PeriodNote()
{
    return QStringLiteral("S3 links without a public download address last at most a week.");
}

QString S3Link(const TS3Settings &oServer, const QString &sKey, int iPeriod)
{
    if (iPeriod == rpDay || iPeriod == rpWeek) {
        const QDateTime dtNow = QDateTime::currentDateTimeUtc();
        // The link dies with the retention row: X-Amz-Expires is the period.
        const int iSeconds = int(dtNow.secsTo(RetentionExpiry(dtNow, iPeriod)));
        return oServer.PresignedLink(sKey, iSeconds, dtNow);
    }
    if (oServer.PublicAddress.trimmed().isEmpty())
        return {};
    return oServer.PublicLink(sKey);
}

TStagingKind StagingKindSetting()
{
    return Setting::StagingKind.Get() == int(TStagingKind::S3) ? TStagingKind::S3 : TStagingKind::Ftp;
}

bool StageOnS3(TDeliveryChannels &oChannels, TProgressList &oProgress, const TS3Settings &oServer,
               const QString &sArchive, const QString &sStagingName, int iPeriod, QString &sLink)
{
    sLink.clear();
    const QString sKey = oServer.Key(sStagingName);
    if (!S3PeriodAllowed(oServer, iPeriod)) {
        oProgress.AddProgressFmt(
            QStringLiteral("!  S3 upload not made: %s Set the public download address in "
                           "Settings or keep the file a day or a week."),
            { S3PeriodNote() });
        return false;
    }
    const bool bSuccess = oChannels.UploadS3(oServer, sArchive, sKey);
    if (!oChannels.Skipped()) {
        const TStagingUpload upload = TStagingUpload::OfS3(oServer, sKey);
        oChannels.Records().Write(QStringLiteral("the expiry of %1 in %2").arg(sKey, oServer.Bucket),
                                  [upload, iPeriod] { SaveFileExpiry(upload, iPeriod); });
    }
    if (bSuccess) {
        oProgress.AddProgressFmt(QStringLiteral("  Sent to S3 bucket %s"), { oServer.Bucket });
        sLink = S3Link(oServer, sKey, iPeriod);
        return true;
    }
    const QString sError = oChannels.oS3.ErrorText();
    if (oChannels.Skipped()) {
        oProgress.AddProgress(QStringLiteral("!  S3 skipped: ") + sError);
    } else {
        oProgress.AddProgressFmt(QStringLiteral("!  S3 upload failed: %s"), { sError });
        if (DiagLog)
            DiagLog->LogFmt(oChannels.Style().Where, QStringLiteral("S3 upload to %s failed: %s"),
                            { oServer.Endpoint + QLatin1Char(' ') + oServer.Bucket, sError }, lwInfo);
    }
    return false;
}
