#include "delivery/s3test.h"

#include "core/textfiles.h"
#include "delivery/channels.h"
#include "delivery/s3staging.h"
#include "network/httpclient.h"
#include "network/s3client.h"

#include <QFile>
#include <QFileInfo>

bool RunS3RoundTrip(const TS3Settings &oServer, int iPeriod, const QString &sFileOne, const QString &sFileTwo,
                    const TS3TestHooks &hooks)
{
    const auto line = [&hooks](const QString &sText) { hooks.Line(sText, false); };
    const QString sProblem = oServer.Problem();
    if (!sProblem.isEmpty()) {
        line(QStringLiteral("!S3 settings cannot be used"));
        line(QStringLiteral("    ") + sProblem);
        return false;
    }
    const QString sKey = oServer.Key(QFileInfo(sFileOne).fileName());
    if (!S3PeriodAllowed(oServer, iPeriod)) {
        line(QStringLiteral("!No download link for the default lifespan"));
        line(QStringLiteral("    ") + S3PeriodNote()
             + QStringLiteral(" Set the public download address, or a lifespan of one day or one week."));
        return false;
    }

    TS3Client oS3;
    oS3.Server = oServer;
    oS3.SetTimeout(15);
    oS3.SetCancelFlag(hooks.Cancel);
    std::uint32_t iNextProgress = 0;
    QObject::connect(&oS3, &TNetClient::progress, [&](qint64 iBytes) {
        const std::uint32_t iTick = TickCount();
        if (iTick > iNextProgress) {
            iNextProgress = iTick + 1000;
            hooks.Line(QStringLiteral("S3 progress: %1").arg(iBytes), true);
        }
    });
    if (!oS3.Put(sFileOne, sKey)) {
        line(QStringLiteral("!Unable to upload test file"));
        line(QStringLiteral("    ") + oS3.ErrorText());
        return false;
    }
    line(QStringLiteral("Test file uploaded successfully"));
    if (hooks.AbortRequested())
        return false;

    // The link a recipient would get, fetched like any browser would.
    const QString sLink = S3Link(oServer, sKey, iPeriod);
    THTTPClient oHTTP;
    oHTTP.SetTimeout(30);
    oHTTP.SetCancelFlag(hooks.Cancel);
    if (!oHTTP.GetFile(sLink, sFileTwo)) {
        line(QStringLiteral("!Failed to download test file with HTTP"));
        line(QStringLiteral("    ") + oHTTP.ErrorText());
        // Nothing to look at in the bucket: the object goes again.
        oS3.Delete(sKey);
        return false;
    }
    line(QStringLiteral("Test file successfully downloaded with HTTP"));
    if (hooks.AbortRequested())
        return false;

    bool bSame = false;
    try {
        bSame = LoadTextFile(sFileOne) == LoadTextFile(sFileTwo);
    } catch (...) {
        bSame = false;
    }
    if (!bSame) {
        line(QStringLiteral("!Uploaded and downloaded files do not match"));
        line(QStringLiteral("    The test file stays in bucket %1 for inspection: %2")
                 .arg(oServer.Bucket, sKey));
        return false;
    }
    line(QStringLiteral("Uploaded and downloaded files match"));
    if (hooks.AbortRequested())
        return false;

    if (!oS3.Delete(sKey)) {
        line(QStringLiteral("!Test file couldn't be deleted from the server"));
        line(QStringLiteral("    ") + oS3.ErrorText());
        return false;
    }
    line(QStringLiteral("Test file deleted from server"));
    return true;
}
