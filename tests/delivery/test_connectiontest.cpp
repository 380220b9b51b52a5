#include "core/textfiles.h"
#include "core/winutils.h"
#include "delivery/connectiontest.h"
#include "network/smtpclient.h"
#include "support/servers.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

bool waitEnded(TJob &job)
{
    if (job.Ended())
        return true;
    QSignalSpy ended(&job, &TJob::ended);
    return ended.wait(120000);
}

QStringList texts(const QList<TTestLine> &lines)
{
    QStringList out;
    for (const TTestLine &line : lines)
        out << line.sText;
    return out;
}

// The step lines: without progress and detail lines.
QStringList steps(const QList<TTestLine> &lines)
{
    QStringList out;
    for (const TTestLine &line : lines)
        if (!line.bProgress && !line.sText.startsWith(u' '))
            out << line.sText;
    return out;
}

// Switches the loopback exemption off for one test.
struct NoLoopbackExemption
{
    NoLoopbackExemption() { TSMTPClient::SetLoopbackExemption(false); }
    ~NoLoopbackExemption() { TSMTPClient::SetLoopbackExemption(true); }
};

TSMTPSettings loopbackSMTP(quint16 port)
{
    TSMTPSettings smtp;
    smtp.Host = u"127.0.0.1"_s;
    smtp.Port = port;
    smtp.Login = true;
    smtp.Username = u"mailer"_s;
    smtp.Password = u"s3cret"_s;
    smtp.From = u"Ann <ann@example.com>"_s;
    return smtp;
}

} // namespace

TEST(PlainLogin, OnlyTheLoopbackAddressMayTakeAnUnencryptedLogin)
{
    // Hosts other than the loopback address need encryption for a login.
    for (const QString &host : { u"smtp.example.org"_s, u"10.0.0.1"_s, u"192.168.1.20"_s, u"127.1"_s,
                                 u"127.0.0.1.example.org"_s, u"mylocalhost"_s, u"::2"_s, u""_s }) {
        SCOPED_TRACE(host.toStdString());
        EXPECT_FALSE(TSMTPClient::IsLoopbackHost(host));
        EXPECT_TRUE(TSMTPClient::LoginNeedsEncryption(host, true, false));
        // Without a login, or with the user's consent, nothing is required.
        EXPECT_FALSE(TSMTPClient::LoginNeedsEncryption(host, false, false));
        EXPECT_FALSE(TSMTPClient::LoginNeedsEncryption(host, true, true));
    }
    for (const QString &host : { u"127.0.0.1"_s, u"127.8.9.10"_s, u"localhost"_s, u"LocalHost"_s, u"::1"_s,
                                 u"[::1]"_s, u"smtp://127.0.0.1"_s, u"smtps://localhost/"_s }) {
        SCOPED_TRACE(host.toStdString());
        EXPECT_TRUE(TSMTPClient::IsLoopbackHost(host));
        EXPECT_FALSE(TSMTPClient::LoginNeedsEncryption(host, true, false));
    }
    // The exemption switched off: the loopback address is like any other.
    {
        NoLoopbackExemption off;
        EXPECT_TRUE(TSMTPClient::LoginNeedsEncryption(u"127.0.0.1"_s, true, false));
        EXPECT_FALSE(TSMTPClient::LoginNeedsEncryption(u"127.0.0.1"_s, true, true));
        EXPECT_FALSE(TSMTPClient::LoginNeedsEncryption(u"127.0.0.1"_s, false, false));
    }
    EXPECT_FALSE(TSMTPClient::LoginNeedsEncryption(u"127.0.0.1"_s, true, false));
}

TEST(PlainLogin, ServerWithoutStartTlsNeverSeesThePasswordUnlessAllowed)
{
    bwtest::TestSandbox sandbox;
    bwtest::SmtpServer server; // AUTH LOGIN offered, no TLS at all
    NoLoopbackExemption off;
    TSMTPClient client;
    loopbackSMTP(server.port()).ApplyTo(client);
    client.To = u"bob@example.org"_s;
    client.Subject = u"Hello"_s;
    client.Body = u"Hi"_s;
    EXPECT_FALSE(client.Send());
    EXPECT_EQ(client.ErrorText(), TSMTPClient::PlainLoginRefusedText());
    EXPECT_TRUE(client.ErrorText().contains(u"Allow login without encryption"_s));
    EXPECT_EQ(server.authAttempts(), QByteArray());
    EXPECT_TRUE(server.messages().isEmpty());
    EXPECT_FALSE(server.log().contains("s3cret"));

    // Allowed by the user: the login goes out, and the message with it.
    client.AllowPlainLogin = true;
    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString();
    EXPECT_EQ(server.authAttempts(), QByteArray("LOGIN tls=no\n"));
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_TRUE(server.envelope(0).contains("auth: yes"));

    // Without a login nothing needs protecting.
    client.AllowPlainLogin = false;
    client.Login = false;
    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString();
    EXPECT_EQ(server.messages().size(), 2);
}

TEST(SendMailJob, TestMessageArrivesAndFailuresCarryTheServersReply)
{
    bwtest::TestSandbox sandbox;
    bwtest::SmtpServer::Options options;
    options.refuse = QStringList { u"nobody@example.org"_s };
    bwtest::SmtpServer server(options);
    {
        TSendMailJob job(loopbackSMTP(server.port()), u" bob@example.org "_s);
        job.Subject = TSendMailJob::TestSubject();
        job.Body = TSendMailJob::TestBody();
        ASSERT_TRUE(job.Start());
        ASSERT_TRUE(waitEnded(job));
        EXPECT_TRUE(job.Success()) << job.SMTPError().toStdString();
        EXPECT_EQ(job.SMTPError(), QString());
    }
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_EQ(server.envelope(0), QByteArray("from: ann@example.com\nto: bob@example.org\nauth: yes\n"));
    const QByteArray message = server.messages().at(0);
    EXPECT_TRUE(message.contains("Subject: Bundlewick test\r\n"));
    EXPECT_TRUE(message.contains("Reply-To: \"Ann\" <ann@example.com>\r\n")) << message.toStdString();
    EXPECT_TRUE(message.contains("This is a test email message from Bundlewick."));
    EXPECT_EQ(TSendMailJob::TestSuccessText(u"bob@example.org"_s),
              u"Your test message has been sent successfully. Please check the inbox for bob@example.org."_s);

    TSendMailJob refused(loopbackSMTP(server.port()), u"nobody@example.org"_s);
    ASSERT_TRUE(refused.Start());
    ASSERT_TRUE(waitEnded(refused));
    EXPECT_FALSE(refused.Success());
    EXPECT_TRUE(refused.SMTPError().contains(u"550"_s)) << refused.SMTPError().toStdString();
    EXPECT_EQ(TSendMailJob::TestFailureText(u"x@y.z"_s, u"550 no"_s),
              u"There was an error sending your test email message to x@y.z.\r\n\r\n550 no"_s);
    EXPECT_EQ(server.messages().size(), 1);
}

TEST(SendMailJob, DestroyedMidSendDoesNotWaitForTheServer)
{
    bwtest::TestSandbox sandbox;
    bwtest::SilentServer silent;
    QElapsedTimer timer;
    timer.start();
    {
        TSendMailJob job(loopbackSMTP(silent.port()), u"bob@example.org"_s);
        ASSERT_TRUE(job.Start());
    }
    EXPECT_LT(timer.elapsed(), 20000);
}

class FTPTest : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString home = sandbox.path(u"ftphome"_s);
    std::unique_ptr<bwtest::FtpServer> ftp;
    std::unique_ptr<bwtest::HttpServer> http;

    void SetUp() override
    {
        QDir().mkpath(home + u"/staging"_s);
        ftp = std::make_unique<bwtest::FtpServer>(u"stage"_s, u"pa55"_s, home);
        http = std::make_unique<bwtest::HttpServer>(home);
    }
    TStagingSettings staging(const QString &httpPath) const
    {
        TStagingSettings s;
        s.FTP.Host = ftp->host();
        s.FTP.Directory = u"staging"_s;
        s.FTP.Username = u"stage"_s;
        s.FTP.Password = u"pa55"_s;
        s.HttpPath = httpPath;
        return s;
    }
    QStringList uploads() const { return QDir(home + u"/staging"_s).entryList(QDir::Files); }
};

TEST_F(FTPTest, SuccessRunsTheFiveStepsAndLeavesNothingOnTheServer)
{
    TFTPTestJob job(staging(http->url(u"staging"_s)));
    QList<int> appended;
    QObject::connect(&job, &TFTPTestJob::lineAppended, [&](int i) { appended << i; });
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(waitEnded(job));
    EXPECT_TRUE(job.Success()) << texts(job.Lines()).join(u'\n').toStdString();
    EXPECT_EQ(steps(job.Lines()),
              (QStringList { u"Test file created"_s, u"Test file uploaded successfully"_s,
                             u"Test file successfully downloaded with HTTP"_s,
                             u"Uploaded and downloaded files match"_s, u"Test file deleted from server"_s }));
    // Progress lines stand only between the first and the second step.
    for (int i = 0; i < job.Lines().size(); ++i) {
        if (job.Lines()[i].bProgress) {
            EXPECT_EQ(i, 1);
            EXPECT_TRUE(job.Lines()[i].sText.startsWith(u"FTP progress: "_s));
        }
    }
    EXPECT_EQ(appended.size(), job.Lines().size());
    EXPECT_EQ(uploads(), QStringList());
    // Both local files hold the test text.
    EXPECT_TRUE(job.FileOne().endsWith(u".txt"_s));
    EXPECT_NE(job.FileOne(), job.FileTwo());
    EXPECT_EQ(LoadTextFile(job.FileOne()), TFTPTestJob::TestFileText());
    EXPECT_EQ(LoadTextFile(job.FileTwo()), TFTPTestJob::TestFileText());
    // Both are temporary files: the end of the run takes them away.
    DeleteTempFiles();
    EXPECT_FALSE(QFileInfo::exists(job.FileOne()));
    EXPECT_FALSE(QFileInfo::exists(job.FileTwo()));
}

TEST_F(FTPTest, WrongHttpPathFailsTheDownloadAndKeepsTheUpload)
{
    TFTPTestJob job(staging(http->url(u"nowhere"_s)));
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(waitEnded(job));
    EXPECT_FALSE(job.Success());
    EXPECT_EQ(steps(job.Lines()),
              (QStringList { u"Test file created"_s, u"Test file uploaded successfully"_s,
                             u"!Failed to download test file with HTTP"_s }));
    // The reason follows as a detail line.
    EXPECT_TRUE(job.Lines().last().sText.contains(u"404"_s)) << job.Lines().last().sText.toStdString();
    EXPECT_EQ(uploads(), QStringList { job.RemoteName() });
}

TEST_F(FTPTest, DifferentContentKeepsTheUploadAndSaysWhere)
{
    // The address ends in a fragment: every download fetches other.txt.
    sandbox.writeFile(u"ftphome/other.txt"_s, "Not the test file\r\n");
    TFTPTestJob job(staging(http->url(u"other.txt#"_s)));
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(waitEnded(job));
    EXPECT_FALSE(job.Success());
    EXPECT_EQ(steps(job.Lines()),
              (QStringList { u"Test file created"_s, u"Test file uploaded successfully"_s,
                             u"Test file successfully downloaded with HTTP"_s,
                             u"!Uploaded and downloaded files do not match"_s }));
    EXPECT_EQ(job.Lines().last().sText,
              u"    The test file stays on the server for inspection: "_s + http->url(u"other.txt#/"_s)
                  + job.RemoteName());
    EXPECT_EQ(uploads(), QStringList { job.RemoteName() });
    EXPECT_EQ(QFile(home + u"/staging/"_s + job.RemoteName()).size(), QFileInfo(job.FileOne()).size());
}

TEST_F(FTPTest, RefusedLoginEndsAtTheUpload)
{
    TStagingSettings s = staging(http->url(u"staging"_s));
    s.FTP.Password = u"wrong"_s;
    TFTPTestJob job(s);
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(waitEnded(job));
    EXPECT_FALSE(job.Success());
    EXPECT_EQ(steps(job.Lines()), (QStringList { u"Test file created"_s, u"!Unable to upload test file"_s }));
    EXPECT_FALSE(texts(job.Lines()).join(u'\n').contains(u"wrong"_s));
}

TEST(FTPTestJob, DestroyedMidUploadDoesNotWaitForTheServer)
{
    bwtest::TestSandbox sandbox;
    bwtest::SilentServer silent;
    QElapsedTimer timer;
    timer.start();
    {
        TStagingSettings s;
        s.FTP.Host = u"127.0.0.1:%1"_s.arg(silent.port());
        s.HttpPath = u"http://127.0.0.1:1/"_s;
        TFTPTestJob job(s);
        ASSERT_TRUE(job.Start());
        // Wait for the first line: the upload is under way then.
        QSignalSpy appended(&job, &TFTPTestJob::lineAppended);
        ASSERT_TRUE(appended.wait(10000));
    }
    EXPECT_LT(timer.elapsed(), 10000);
}
