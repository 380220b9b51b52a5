#include "core/daycount.h"
#include "core/progress.h"
#include "delivery/channels.h"
#include "delivery/quicksend.h"
#include "delivery/retention.h"
#include "delivery/s3staging.h"
#include "deliverydb.h"
#include "support/servers.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

namespace {

// s3rver knows the key id S3RVER and does not check the signature, so any
// secret goes; this one must show up nowhere but in the row.
const QString kSecret = QStringLiteral("wJalrXUtnFEMI-staging-secret");

class S3Staging : public DeliveryDB
{
protected:
    std::unique_ptr<bwtest::S3Server> s3;
    TProgressList progress;
    std::unique_ptr<TDeliveryChannels> channels;
    QByteArray bytes;
    QString archive;

    void SetUp() override
    {
        DeliveryDB::SetUp();
        s3 = std::make_unique<bwtest::S3Server>();
        channels = std::make_unique<TDeliveryChannels>(progress);
        bytes = QByteArray("PK\x03\x04") + QByteArray(70000, 'z');
        archive = sandbox.writeFile(QStringLiteral("tmp/MyTool_1.2.3.zip"), bytes);
        setting(QStringLiteral("Staging kind"), QStringLiteral("1"));
        setting(QStringLiteral("S3 endpoint"), s3->endpoint());
        setting(QStringLiteral("S3 region"), QStringLiteral("eu-central-1"));
        setting(QStringLiteral("S3 bucket"), QStringLiteral("bundlewick"));
        setting(QStringLiteral("S3 key prefix"), QStringLiteral("links/"));
        setting(QStringLiteral("S3 access key id"), QStringLiteral("S3RVER"));
        setting(QStringLiteral("S3 secret key"), kSecret);
        setting(QStringLiteral("S3 path style"), QStringLiteral("1"));
    }
    void smtpSettings(quint16 port)
    {
        setting(QStringLiteral("Email server"), QStringLiteral("127.0.0.1"));
        setting(QStringLiteral("Email port"), QString::number(port));
        setting(QStringLiteral("Email login"), QStringLiteral("0"));
        setting(QStringLiteral("Email from"), QStringLiteral("builds@example.com"));
    }
    void emailTask(int iSendID, const QString &sRetention)
    {
        param(iSendID, QStringLiteral("EmailRecipient"), QStringLiteral("ann@example.com"));
        param(iSendID, QStringLiteral("EmailSubject"), QStringLiteral("{PROJECT} {VERSION}"));
        param(iSendID, QStringLiteral("EmailMessage"), QStringLiteral("Get it: {LINK}\r\nBye"));
        param(iSendID, QStringLiteral("EmailFTP"), QStringLiteral("1"));
        param(iSendID, QStringLiteral("EmailRetention"), sRetention);
    }
    QStringList lines() const
    {
        QStringList out;
        for (const TProgressLine &line : progress.Lines())
            out << line.sText;
        return out;
    }
    QStringList rows()
    {
        QStringList out;
        db->GetTableStrings(
            QStringLiteral("SELECT kind || '|' || host || '|' || directory || '|' || login || '|' "
                           "|| password || '|' || endpoint || '|' || region || '|' || bucket || "
                           "'|' || objectkey || '|' || pathstyle FROM retention ORDER BY id"),
            out);
        return out;
    }
};

// The message with its quoted-printable body decoded (a link holds "=").
QByteArray decoded(const QByteArray &message)
{
    QByteArray text = message;
    text.replace("=\r\n", "");
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size()) {
            bool ok = false;
            const int value = text.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += char(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

TEST(S3Links, PresignedForADayOrAWeekPublicAddressForLonger)
{
    TS3Settings s3;
    s3.Endpoint = QStringLiteral("http://127.0.0.1:9000");
    s3.Bucket = QStringLiteral("drops");
    s3.PathStyle = true;
    s3.AccessKeyId = QStringLiteral("AKID");
    s3.SecretKey = QStringLiteral("do-not-show-me");
    const QString day = S3Link(s3, QStringLiteral("a.zip"), 0);
    EXPECT_TRUE(
        day.startsWith(QStringLiteral("http://127.0.0.1:9000/drops/a.zip?X-Amz-Algorithm=AWS4-HMAC-SHA256")))
        << day.toStdString();
    EXPECT_TRUE(day.contains(QStringLiteral("&X-Amz-Expires=86400&"))) << day.toStdString();
    EXPECT_TRUE(S3Link(s3, QStringLiteral("a.zip"), 1).contains(QStringLiteral("&X-Amz-Expires=604800&")));
    EXPECT_FALSE(day.contains(QStringLiteral("do-not-show-me")));
    // A month, a year or for ever only with a public address.
    for (int period : { 2, 3, 4 }) {
        EXPECT_FALSE(S3PeriodAllowed(s3, period));
        EXPECT_TRUE(S3Link(s3, QStringLiteral("a.zip"), period).isEmpty());
    }
    s3.PublicAddress = QStringLiteral("https://cdn.example.com/drops");
    EXPECT_TRUE(S3PeriodAllowed(s3, 2));
    EXPECT_EQ(S3Link(s3, QStringLiteral("links/a b.zip"), 3),
              QStringLiteral("https://cdn.example.com/drops/links/a%20b.zip"));
}

const QRegularExpression kStagedKey(QStringLiteral("^links/MyTool_1\\.2\\.3_[A-Za-z0-9]{16}\\.zip$"));

TEST_F(S3Staging, EmailTaskUploadsMailsAPresignedLinkAndRecordsTheObject)
{
    bwtest::SmtpServer::Options options;
    options.offerAuth = false;
    bwtest::SmtpServer smtp(options);
    smtpSettings(smtp.port());
    emailTask(8, QStringLiteral("1")); // a week
    const double now = NowDays();
    ASSERT_TRUE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                    QStringLiteral("MyTool_1.2.3.zip")))
        << lines().join(QLatin1Char('|')).toStdString() << s3->log().toStdString();
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("  Sent to S3 bucket bundlewick"),
                             QStringLiteral("  Email sent to ann@example.com") }));
    const QStringList keys = s3->keys(QStringLiteral("bundlewick"));
    ASSERT_EQ(keys.size(), 1);
    EXPECT_TRUE(kStagedKey.match(keys.first()).hasMatch()) << keys.first().toStdString();

    // The mailed link is presigned for a week and serves the archive.
    ASSERT_EQ(smtp.messages().size(), 1);
    const QByteArray message = decoded(smtp.messages().at(0));
    const QByteArray prefix = "Get it: " + s3->endpoint().toUtf8() + "/bundlewick/" + keys.first().toUtf8()
        + "?X-Amz-Algorithm=AWS4-HMAC-SHA256&X-Amz-Credential=S3RVER%2F";
    EXPECT_TRUE(message.contains(prefix)) << message.toStdString();
    EXPECT_TRUE(message.contains("%2Feu-central-1%2Fs3%2Faws4_request&X-Amz-Date=")) << message.toStdString();
    EXPECT_TRUE(message.contains("&X-Amz-Expires=604800&X-Amz-SignedHeaders=host&X-Amz-Signature="));
    EXPECT_FALSE(message.contains(kSecret.toUtf8()));
    const qsizetype at = message.indexOf("Get it: ") + 8;
    const QString link = QString::fromUtf8(message.mid(at, message.indexOf("\r\n", at) - at));
    THTTPClient http;
    QByteArray body;
    ASSERT_TRUE(http.Get(link, body)) << http.ErrorText().toStdString();
    EXPECT_TRUE(body == bytes);

    // One row with everything the delete needs, kept a week.
    EXPECT_EQ(rows(),
              QStringList { QStringLiteral("1|%1|bundlewick|S3RVER|%2|%1|eu-central-1|bundlewick|%3|1")
                                .arg(s3->endpoint(), kSecret, keys.first()) });
    EXPECT_NEAR(db->QueryDoubleFmt(QStringLiteral("SELECT expiry FROM retention"), {}) - now, 7.0, 0.01);
}

TEST_F(S3Staging, QuickSendLinksToTheObjectAndNoSecretReachesTheDiagnostics)
{
    startDiag();
    bwtest::SmtpServer::Options options;
    options.offerAuth = false;
    bwtest::SmtpServer smtp(options);
    smtpSettings(smtp.port());
    const QString file = sandbox.writeFile(QStringLiteral("src/data.bin"), bytes);
    TQuickSendOrder o;
    o.Files = { file };
    o.Page = 0; // e-mail
    o.Subject = QStringLiteral("A file for you");
    o.Recipient = QStringLiteral("ann@example.com");
    o.Message = QStringLiteral("See {LINK}\r\n");
    o.UseStaging = true;
    o.Retention = 0; // a day
    {
        TQuickSender sender(o, progress);
        ASSERT_TRUE(sender.Run()) << lines().join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("  Sent to S3 bucket bundlewick"),
                             QStringLiteral("  Email sent to ann@example.com"),
                             QStringLiteral("Quick send successful") }));
    const QStringList keys = s3->keys(QStringLiteral("bundlewick"));
    ASSERT_EQ(keys.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^links/data_[A-Za-z0-9]{16}\\.bin$"))
                    .match(keys.first())
                    .hasMatch())
        << keys.first().toStdString();
    ASSERT_EQ(smtp.messages().size(), 1);
    const QByteArray message = decoded(smtp.messages().at(0));
    EXPECT_TRUE(message.contains("&X-Amz-Expires=86400&")) << message.toStdString();
    EXPECT_FALSE(message.contains(kSecret.toUtf8()));
    EXPECT_EQ(rows().size(), 1);

    // A failure, then the diagnostics: no secret in either.
    setting(QStringLiteral("S3 bucket"), QStringLiteral("gone"));
    progress.Clear();
    {
        TQuickSender sender(o, progress);
        EXPECT_FALSE(sender.Run());
    }
    EXPECT_EQ(lines().first(),
              QStringLiteral("!  S3 upload failed: 404 NoSuchBucket: The specified bucket does not exist"));
    for (const QString &line : lines())
        EXPECT_FALSE(line.contains(kSecret));
    if (diag) {
        const QStringList events = diagEvents();
        EXPECT_FALSE(events.isEmpty());
        for (const QString &event : events)
            EXPECT_FALSE(event.contains(kSecret)) << event.toStdString();
    }
}

TEST_F(S3Staging, LongPeriodsNeedThePublicAddress)
{
    bwtest::SmtpServer::Options options;
    options.offerAuth = false;
    bwtest::SmtpServer smtp(options);
    smtpSettings(smtp.port());
    emailTask(8, QStringLiteral("2")); // a month
    EXPECT_FALSE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(lines(),
              QStringList { QStringLiteral(
                  "!  S3 upload not made: S3 links without a public download address last at most a "
                  "week. Set the public download address in Settings or keep the file a day or a week.") });
    EXPECT_TRUE(s3->keys(QStringLiteral("bundlewick")).isEmpty());
    EXPECT_TRUE(smtp.messages().isEmpty());
    EXPECT_TRUE(rows().isEmpty());

    // With one, the link is that address and the key; a public address that
    // serves something else fails the link check and no e-mail goes.
    setting(QStringLiteral("S3 public address"),
            QStringLiteral("http://127.0.0.1:%1/nothing-here").arg(s3->port()));
    progress.Clear();
    EXPECT_FALSE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    ASSERT_EQ(lines().size(), 2) << lines().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(lines().at(1).startsWith(QStringLiteral("!  The download link does not work: 404 ")))
        << lines().at(1).toStdString();
    EXPECT_TRUE(lines().at(1).contains(
        QStringLiteral("(http://127.0.0.1:%1/nothing-here/links/MyTool_1.2.3_").arg(s3->port())));
    EXPECT_TRUE(smtp.messages().isEmpty());
    EXPECT_EQ(rows().size(), 1);
}

TEST_F(S3Staging, MissingBucketFailsTheTaskAndTheExpiryCheckDeletesDueObjects)
{
    setting(QStringLiteral("S3 bucket"), QStringLiteral("gone"));
    emailTask(8, QStringLiteral("0"));
    EXPECT_FALSE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(lines(),
              QStringList { QStringLiteral(
                  "!  S3 upload failed: 404 NoSuchBucket: The specified bucket does not exist") });

    // Two objects: one due, one not; the due one goes with its row.
    TS3Settings server = TS3Settings::FromSettings();
    server.Bucket = QStringLiteral("bundlewick");
    QString sLink;
    progress.Clear();
    ASSERT_TRUE(StageOnS3(*channels, progress, server, archive, QStringLiteral("due.zip"), 0, sLink));
    ASSERT_TRUE(StageOnS3(*channels, progress, server, archive, QStringLiteral("later.zip"), 1, sLink));
    ASSERT_EQ(s3->keys(QStringLiteral("bundlewick")),
              (QStringList { QStringLiteral("links/due.zip"), QStringLiteral("links/later.zip") }));
    db->ExecSQL(QStringLiteral("UPDATE retention SET expiry = expiry - 2 WHERE objectkey = 'links/due.zip'"));
    const int iRows = int(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM retention"), {}));
    EXPECT_EQ(iRows, 3); // the failed upload's row too

    TExpiryChecker checker;
    QSignalSpy checked(&checker, &TExpiryChecker::checked);
    checker.tmExpireTimer(nullptr);
    ASSERT_TRUE(checked.wait(60000));
    EXPECT_EQ(s3->keys(QStringLiteral("bundlewick")), QStringList { QStringLiteral("links/later.zip") });
    QStringList left;
    db->GetTableStrings(QStringLiteral("SELECT bucket || '/' || objectkey FROM retention ORDER BY id"), left);
    // The failed upload's row is not due yet (a day).
    ASSERT_EQ(left.size(), 2);
    EXPECT_TRUE(left.at(0).startsWith(QStringLiteral("gone/links/MyTool_1.2.3_")));
    EXPECT_EQ(left.at(1), QStringLiteral("bundlewick/links/later.zip"));
}

TEST_F(S3Staging, ServerThatStallsIsAskedOnceARun)
{
    bwtest::SilentServer silent;
    setting(QStringLiteral("S3 endpoint"), QStringLiteral("http://127.0.0.1:%1").arg(silent.port()));
    channels->oS3.SetTimeout(1);
    emailTask(8, QStringLiteral("0"));
    EXPECT_FALSE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_FALSE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("!  S3 upload failed: Timed out: nothing from the server for 1 "
                                            "seconds"),
                             QStringLiteral("!  S3 skipped: the server did not answer earlier in this "
                                            "run") }));
    // The one that was tried may have left parts: it has a row.
    EXPECT_EQ(rows().size(), 1);
}

} // namespace
