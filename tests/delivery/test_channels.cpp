#include "core/daycount.h"
#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/winutils.h"
#include "delivery/channels.h"
#include "delivery/retention.h"
#include "deliverydb.h"
#include "support/servers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kUser = QStringLiteral("uploader");
const QString kPass = QStringLiteral("pa'ss");

class Channels : public DeliveryDB
{
protected:
    TProgressList progress;
    QStringList shown; // every text the list showed, counter lines included
    std::unique_ptr<TDeliveryChannels> channels;
    QString archive;
    QByteArray bytes = archiveBytes(300000);

    void SetUp() override
    {
        DeliveryDB::SetUp();
        const auto record = [this](int i) { shown << progress.Lines().at(i).sText; };
        QObject::connect(&progress, &TProgressList::lineAppended, record);
        QObject::connect(&progress, &TProgressList::lineChanged, record);
        channels = std::make_unique<TDeliveryChannels>(progress);
        archive = sandbox.writeFile(QStringLiteral("tmp/build_1.zip"), bytes);
    }
    QStringList lines() const
    {
        QStringList out;
        for (const TProgressLine &line : progress.Lines())
            out << line.sText;
        return out;
    }
    void ftpTask(int iSendID, const QString &sHost, const QString &sDir, const QString &sPass = kPass)
    {
        param(iSendID, QStringLiteral("FTPHost"), sHost);
        param(iSendID, QStringLiteral("FTPDirectory"), sDir);
        param(iSendID, QStringLiteral("FTPLogin"), kUser);
        param(iSendID, QStringLiteral("FTPPassword"), sPass);
    }
    void smtpSettings(quint16 port, const QString &sLogin = QStringLiteral("1"))
    {
        setting(QStringLiteral("Email server"), QStringLiteral("127.0.0.1"));
        setting(QStringLiteral("Email port"), QString::number(port));
        setting(QStringLiteral("Email login"), sLogin);
        setting(QStringLiteral("Email username"), QStringLiteral("mailer"));
        setting(QStringLiteral("Email password"), QStringLiteral("s3cret"));
        setting(QStringLiteral("Email from"), QStringLiteral("builds@example.com"));
    }
    void emailTask(int iSendID)
    {
        param(iSendID, QStringLiteral("EmailRecipient"),
              QStringLiteral("ann@example.com\r\nbob@example.org"));
        param(iSendID, QStringLiteral("EmailSubject"), QStringLiteral("{PROJECT} {VERSION}"));
        param(iSendID, QStringLiteral("EmailMessage"), QStringLiteral("Get it: {LINK}\r\nBye"));
    }
    void stagingSettings(const QString &sHost, const QString &sPass = kPass)
    {
        setting(QStringLiteral("FTP host"), sHost);
        setting(QStringLiteral("FTP directory"), QStringLiteral("staging"));
        setting(QStringLiteral("FTP login"), kUser);
        setting(QStringLiteral("FTP password"), sPass);
        setting(QStringLiteral("FTP http path"), QStringLiteral("downloads.example.com/files"));
    }
};

// The files in a staging folder, hidden ones too.
QStringList stagedFiles(const QString &sFolder)
{
    return QDir(sFolder).entryList(QDir::Files | QDir::Hidden);
}

// "MyTool_1.2.3_" and 16 letters and digits, ".zip".
const QRegularExpression kStagedName(QStringLiteral("^MyTool_1\\.2\\.3_[A-Za-z0-9]{16}\\.zip$"));

QByteArray bodyOf(const QByteArray &message)
{
    return message.mid(message.indexOf("\r\n\r\n") + 4);
}

// The base64 content of the MIME part whose headers name sName.
QByteArray attachmentNamed(const QByteArray &message, const QByteArray &sName)
{
    const qsizetype at = message.indexOf("filename=\"" + sName + "\"");
    if (at < 0)
        return "<none>";
    const qsizetype start = message.indexOf("\r\n\r\n", at) + 4;
    const qsizetype end = message.indexOf("\r\n--", start);
    return QByteArray::fromBase64(message.mid(start, end - start));
}

} // namespace

TEST_F(Channels, FileTaskCopiesOverwritesAndReportsAMissingFolder)
{
    const QString folder = sandbox.path(QStringLiteral("out"));
    QDir().mkpath(folder);
    sandbox.writeFile(QStringLiteral("out/MyTool_1.2.3.zip"), "older and longer content of the old file");
    param(3, QStringLiteral("FileFolder"), folder);

    EXPECT_TRUE(channels->SendAsFile(task(3), archive, QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(readFile(folder + QStringLiteral("/MyTool_1.2.3.zip")), bytes);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList { QStringLiteral("MyTool_1.2.3.zip") });

    // A copy that cannot be read leaves the earlier output intact.
    EXPECT_FALSE(channels->SendAsFile(task(3), sandbox.path(QStringLiteral("gone.zip")),
                                      QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(readFile(folder + QStringLiteral("/MyTool_1.2.3.zip")), bytes);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList { QStringLiteral("MyTool_1.2.3.zip") });

    param(4, QStringLiteral("FileFolder"), sandbox.root() + QStringLiteral("/missing"));
    EXPECT_FALSE(channels->SendAsFile(task(4), archive, QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_FALSE(
        channels->SendAsFile(task(5), archive, QStringLiteral("MyTool_1.2.3.zip"))); // no folder at all

    // A folder that cannot be written.
    const QString locked = sandbox.path(QStringLiteral("locked"));
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    param(6, QStringLiteral("FileFolder"), locked);
    const bool lockedWorks = QFileInfo(locked).isWritable(); // running as root
    EXPECT_EQ(channels->SendAsFile(task(6), archive, QStringLiteral("MyTool_1.2.3.zip")), lockedWorks);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const QStringList all = lines();
    ASSERT_EQ(all.size(), 5);
    EXPECT_EQ(all.mid(0, 4),
              (QStringList {
                  QStringLiteral("  Output saved to MyTool_1.2.3.zip"),
                  QStringLiteral(
                      "!  Unable to save output MyTool_1.2.3.zip: cannot read %1: No such file or directory")
                      .arg(sandbox.path(QStringLiteral("gone.zip"))),
                  QStringLiteral("!  Unable to save output MyTool_1.2.3.zip: the folder %1 does not exist")
                      .arg(sandbox.root() + QStringLiteral("/missing")),
                  QStringLiteral("!  Unable to save output MyTool_1.2.3.zip: no folder is set") }));
    if (!lockedWorks) {
        EXPECT_TRUE(all[4].startsWith(
            QStringLiteral("!  Unable to save output MyTool_1.2.3.zip: cannot write %1/").arg(locked)))
            << all[4].toStdString();
        EXPECT_TRUE(all[4].contains(QStringLiteral("Permission denied"))) << all[4].toStdString();
    }
}

TEST_F(Channels, FtpTaskUploadsIntoItsDirectoryOrTheLoginDirectory)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/up load"));
    bwtest::FtpServer server(kUser, kPass, home);
    ftpTask(5, server.host(), QStringLiteral("up load"));
    ftpTask(6, server.host(), QString());

    ASSERT_TRUE(channels->SendAsFTP(task(5), archive, QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(readFile(home + QStringLiteral("/up load/MyTool_1.2.3.zip")), bytes);
    EXPECT_TRUE(server.commands().contains(QStringLiteral("CWD up load")));
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_TRUE(shown.first().startsWith(QStringLiteral("  FTP progress: "))) << shown.first().toStdString();
    EXPECT_EQ(lines(), QStringList { QStringLiteral("  Sent via FTP to ") + server.host() });

    const int before = int(server.commands().size());
    ASSERT_TRUE(channels->SendAsFTP(task(6), archive, QStringLiteral("MyTool_1.2.4.zip")));
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool_1.2.4.zip")), bytes);
    EXPECT_TRUE(server.commands().mid(before).filter(QStringLiteral("CWD")).isEmpty());
    EXPECT_TRUE(server.commands().contains(QStringLiteral("RNTO MyTool_1.2.4.zip")));
    // Task uploads leave no retention rows; only staging uploads expire.
    EXPECT_EQ(retentionCount(), 0);
}

TEST_F(Channels, FtpFailuresShowTheReplyAndGoToTheDiagnostics)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home);
    bwtest::FtpServer server(kUser, kPass, home);
    ftpTask(5, server.host(), QString(), QStringLiteral("wrong"));
    ftpTask(6, server.host(), QStringLiteral("missing"));
    const QString dead = QStringLiteral("127.0.0.1:%1").arg(bwtest::freePort());
    ftpTask(7, dead, QString());
    startDiag();

    EXPECT_FALSE(channels->SendAsFTP(task(5), archive, QStringLiteral("a.zip")));
    EXPECT_FALSE(channels->SendAsFTP(task(6), archive, QStringLiteral("a.zip")));
    EXPECT_FALSE(channels->SendAsFTP(task(7), archive, QStringLiteral("a.zip")));
    const QStringList all = lines();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0], QStringLiteral("!  FTP failed: 530 Authentication failed."));
    EXPECT_TRUE(all[1].startsWith(QStringLiteral("!  FTP failed: 550 "))) << all[1].toStdString();
    EXPECT_TRUE(all[2].startsWith(QStringLiteral("!  FTP failed: "))
                && all[2].contains(QStringLiteral("Couldn't connect")))
        << all[2].toStdString();
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/a.zip")));

    if (!diag)
        return;
    const QStringList events = diagEvents();
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0],
              QStringLiteral("2|TfrmGenerate|SendAsFTP to %1 failed: 530 Authentication failed.")
                  .arg(server.host()));
    EXPECT_TRUE(events[2].startsWith(QStringLiteral("2|TfrmGenerate|SendAsFTP to %1 failed: ").arg(dead)));
}

TEST_F(Channels, DownloadLinkJoinsThePathAndAddsAScheme)
{
    setting(QStringLiteral("FTP http path"), QStringLiteral("downloads.example.com/files"));
    EXPECT_EQ(TDeliveryChannels::DownloadLink(QStringLiteral("MyTool_1.2.3.zip")),
              QStringLiteral("http://downloads.example.com/files/MyTool_1.2.3.zip"));
    db->ExecSQL(QStringLiteral(
        "UPDATE settings SET value = 'https://example.com/files/' WHERE name = 'FTP http path'"));
    EXPECT_EQ(TDeliveryChannels::DownloadLink(QStringLiteral("MyTool_1.2.3.zip")),
              QStringLiteral("https://example.com/files/MyTool_1.2.3.zip"));
    // The scheme test is case-sensitive.
    db->ExecSQL(
        QStringLiteral("UPDATE settings SET value = 'HTTP://example.com' WHERE name = 'FTP http path'"));
    EXPECT_EQ(TDeliveryChannels::DownloadLink(QStringLiteral("a.zip")),
              QStringLiteral("http://HTTP://example.com/a.zip"));
}

TEST_F(Channels, EmailCarriesTheArchiveAsAttachmentWithoutAStagingServer)
{
    bwtest::SmtpServer server;
    smtpSettings(server.port());
    emailTask(7);
    // Asked for a link, but no staging server is set up.
    param(7, QStringLiteral("EmailFTP"), QStringLiteral("1"));

    ASSERT_TRUE(channels->EmailTask(task(7), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                    QStringLiteral("MyTool_1.2.3.zip")))
        << lines().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines(), QStringList { QStringLiteral("  Email sent to ann@example.com\r\nbob@example.org") });
    EXPECT_FALSE(shown.filter(QRegularExpression(QStringLiteral("^  Email progress: \\d+$"))).isEmpty());
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_EQ(server.envelope(0),
              QByteArray("from: builds@example.com\nto: ann@example.com\nto: bob@example.org\nauth: yes\n"));
    const QByteArray message = server.messages().at(0);
    EXPECT_TRUE(message.contains("\r\nSubject: MyTool 1.2.3\r\n"));
    EXPECT_TRUE(message.contains("Get it: MyTool_1.2.3.zip\r\nBye"));
    EXPECT_EQ(attachmentNamed(message, "MyTool_1.2.3.zip"), bytes);
    EXPECT_EQ(retentionCount(), 0);
}

TEST_F(Channels, EmailWithLinkUploadsToStagingAndRecordsTheExpiry)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    bwtest::FtpServer ftp(kUser, kPass, home);
    bwtest::HttpServer http(home + QStringLiteral("/staging"));
    bwtest::SmtpServer::Options options;
    options.offerAuth = false;
    bwtest::SmtpServer smtp(options);
    smtpSettings(smtp.port(), QStringLiteral("0")); // no AUTH
    stagingSettings(ftp.host());
    setting(QStringLiteral("FTP http path"), http.url(QString()).mid(7)); // "http://" is added
    emailTask(8);
    param(8, QStringLiteral("EmailFTP"), QStringLiteral("1"));
    param(8, QStringLiteral("EmailRetention"), QStringLiteral("1"));

    const double now = NowDays();
    ASSERT_TRUE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                    QStringLiteral("MyTool_1.2.3.zip")))
        << lines().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("  Sent via FTP to ") + ftp.host(),
                             QStringLiteral("  Email sent to ann@example.com\r\nbob@example.org") }));
    QStringList staged = stagedFiles(home + QStringLiteral("/staging"));
    ASSERT_EQ(staged.size(), 1);
    const QString sName = staged.first();
    EXPECT_TRUE(kStagedName.match(sName).hasMatch()) << sName.toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/staging/") + sName), bytes);
    ASSERT_EQ(smtp.messages().size(), 1);
    EXPECT_TRUE(smtp.envelope(0).endsWith("auth: no\n"));
    const QByteArray message = smtp.messages().at(0);
    EXPECT_TRUE(bodyOf(message).contains("Get it: " + http.url(sName).toUtf8() + "\r\nBye"))
        << message.toStdString();
    EXPECT_FALSE(message.contains("filename="));

    auto row = db->GetTable(
        QStringLiteral("SELECT expiry, host, directory, login, password, filename FROM retention"));
    ASSERT_FALSE(row->Eof());
    EXPECT_NEAR(row->FieldAsDouble(0) - now, 7.0, 0.01);
    EXPECT_EQ(row->FieldAsString(1), ftp.host());
    EXPECT_EQ(row->FieldAsString(2), QStringLiteral("staging"));
    EXPECT_EQ(row->FieldAsString(3), kUser);
    EXPECT_EQ(row->FieldAsString(4), kPass);
    EXPECT_EQ(row->FieldAsString(5), sName);
    EXPECT_FALSE(row->Next());
    row.reset();

    // The same archive name again: another file, another link, the first
    // recipient's file untouched.
    ASSERT_TRUE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                    QStringLiteral("MyTool_1.2.3.zip")));
    staged = stagedFiles(home + QStringLiteral("/staging"));
    EXPECT_EQ(staged.size(), 2);
    EXPECT_TRUE(staged.contains(sName));
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(DISTINCT filename) FROM retention"), {}), 2);
}

TEST_F(Channels, LinkThatDoesNotServeTheArchiveSendsNoEmail)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    QDir().mkpath(home + QStringLiteral("/web"));
    bwtest::FtpServer ftp(kUser, kPass, home);
    // A web server over another folder: the download address is wrong.
    bwtest::HttpServer http(home + QStringLiteral("/web"));
    bwtest::SmtpServer smtp;
    smtpSettings(smtp.port());
    stagingSettings(ftp.host());
    setting(QStringLiteral("FTP http path"), http.url(QString()));
    emailTask(8);
    param(8, QStringLiteral("EmailFTP"), QStringLiteral("1"));
    startDiag();

    EXPECT_FALSE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    QStringList l = lines();
    ASSERT_EQ(l.size(), 2) << l.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(l[0], QStringLiteral("  Sent via FTP to ") + ftp.host());
    EXPECT_TRUE(l[1].startsWith(QStringLiteral("!  The download link does not work: 404 File not found (")))
        << l[1].toStdString();
    EXPECT_TRUE(smtp.messages().isEmpty());
    // The upload is still recorded, so it expires.
    EXPECT_EQ(retentionCount(), 1);

    // A file of the same name but other content behind the link: no e-mail either.
    const QString sName = stagedFiles(home + QStringLiteral("/staging")).value(0);
    QFile other(home + QStringLiteral("/web/") + sName);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(QByteArray(bytes.size(), 'x'));
    other.close();
    THTTPClient client;
    EXPECT_FALSE(client.VerifyDownload(http.url(sName), home + QStringLiteral("/staging/") + sName));
    EXPECT_EQ(client.ErrorText(), QStringLiteral("the server sends another file"));
    other.resize(100);
    EXPECT_FALSE(client.VerifyDownload(http.url(sName), home + QStringLiteral("/staging/") + sName));
    EXPECT_EQ(client.ErrorText(), QStringLiteral("the server sends 100 bytes where the archive has 300000"));
    // The right file passes, large or empty.
    ASSERT_TRUE(
        QFile::copy(home + QStringLiteral("/staging/") + sName, home + QStringLiteral("/web/copy.zip")));
    EXPECT_TRUE(client.VerifyDownload(http.url(QStringLiteral("copy.zip")),
                                      home + QStringLiteral("/staging/") + sName))
        << client.ErrorText().toStdString();
    const QString empty = sandbox.writeFile(QStringLiteral("web/empty.zip"), QByteArray());
    QFile::copy(empty, home + QStringLiteral("/web/empty.zip"));
    EXPECT_TRUE(client.VerifyDownload(http.url(QStringLiteral("empty.zip")), empty))
        << client.ErrorText().toStdString();
}

TEST_F(Channels, RefusedRecipientFailsAfterTheStagingUploadWasRecorded)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    bwtest::FtpServer ftp(kUser, kPass, home);
    bwtest::SmtpServer::Options options;
    options.refuse = QStringList { QStringLiteral("bob@example.org") };
    bwtest::SmtpServer smtp(options);
    bwtest::HttpServer http(home + QStringLiteral("/staging"));
    smtpSettings(smtp.port());
    stagingSettings(ftp.host());
    setting(QStringLiteral("FTP http path"), http.url(QString()));
    emailTask(9);
    param(9, QStringLiteral("EmailFTP"), QStringLiteral("1"));
    startDiag();

    EXPECT_FALSE(channels->EmailTask(task(9), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    const QString reply = QStringLiteral("550 5.1.1 <bob@example.org>: Recipient address rejected");
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("  Sent via FTP to ") + ftp.host(),
                             QStringLiteral("!  Email failed: ") + reply }));
    EXPECT_TRUE(smtp.messages().isEmpty());
    EXPECT_EQ(retentionCount(), 1); // "EmailRetention" missing: one day
    if (diag) {
        EXPECT_EQ(
            diagEvents(),
            (QStringList {
                QStringLiteral("1|TfrmGenerate|oSMTPRequestDone error: ") + reply,
                QStringLiteral("1|TfrmGenerate|SendAsEmail to ann@example.com\r\nbob@example.org failed: ")
                    + reply }));
    }
}

TEST_F(Channels, FailedStagingUploadSendsNoEmailButLeavesARow)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    bwtest::FtpServer ftp(kUser, kPass, home);
    bwtest::SmtpServer smtp;
    smtpSettings(smtp.port());
    stagingSettings(ftp.host(), QStringLiteral("wrong"));
    emailTask(9);
    param(9, QStringLiteral("EmailFTP"), QStringLiteral("1"));
    param(9, QStringLiteral("EmailRetention"), QStringLiteral("0"));

    EXPECT_FALSE(channels->EmailTask(task(9), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(lines(), QStringList { QStringLiteral("!  FTP failed: 530 Authentication failed.") });
    EXPECT_TRUE(smtp.messages().isEmpty());
    EXPECT_EQ(retentionCount(), 1);
}

TEST_F(Channels, StagingUploadWhoseRenameIsRefusedKeepsTheOlderFileAndSendsNoEmail)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    sandbox.writeFile(QStringLiteral("ftphome/staging/MyTool_1.2.3.zip"), "the older upload");
    bwtest::FtpServer::Options options;
    options.refuseRnto = true;
    bwtest::FtpServer ftp(kUser, kPass, home, options);
    bwtest::SmtpServer smtp;
    smtpSettings(smtp.port());
    stagingSettings(ftp.host());
    emailTask(9);
    param(9, QStringLiteral("EmailFTP"), QStringLiteral("1"));
    param(9, QStringLiteral("EmailRetention"), QStringLiteral("0"));

    EXPECT_FALSE(channels->EmailTask(task(9), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(
        lines(),
        QStringList { QStringLiteral("!  FTP failed: 553 Requested action not taken: rename refused.") });
    EXPECT_TRUE(smtp.messages().isEmpty());
    EXPECT_EQ(readFile(home + QStringLiteral("/staging/MyTool_1.2.3.zip")), QByteArray("the older upload"));
    EXPECT_EQ(QDir(home + QStringLiteral("/staging")).entryList(QDir::Files | QDir::Hidden),
              QStringList { QStringLiteral("MyTool_1.2.3.zip") })
        << ftp.commands().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(retentionCount(), 1);
}

TEST_F(Channels, NameBeginningWithHttpIsStillAttachedAndTheCopyIsRemoved)
{
    bwtest::SmtpServer server;
    smtpSettings(server.port());
    emailTask(7);
    // Both addresses on one line: two recipients.
    param(7, QStringLiteral("EmailRecipient"), QStringLiteral("ann@example.com, bob@example.org"));
    ASSERT_TRUE(channels->EmailTask(task(7), QStringLiteral("HttpTools"), QStringLiteral("1.0"), archive,
                                    QStringLiteral("HttpTools_1.0.zip")))
        << lines().join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_EQ(server.envelope(0),
              QByteArray("from: builds@example.com\nto: ann@example.com\nto: bob@example.org\nauth: yes\n"));
    EXPECT_TRUE(server.messages().at(0).contains("Get it: HttpTools_1.0.zip\r\n"));
    EXPECT_EQ(attachmentNamed(server.messages().at(0), "HttpTools_1.0.zip"), bytes);
    EXPECT_FALSE(QFile::exists(TempDir() + QStringLiteral("HttpTools_1.0.zip")));

    // The copy goes after a failed message as well.
    db->ExecSQL(QStringLiteral("UPDATE sendparams SET value = '' WHERE name = 'EmailRecipient'"));
    EXPECT_FALSE(channels->SendAsEmail(task(7), QStringLiteral("HttpTools"), QStringLiteral("1.0"), archive,
                                       QStringLiteral("HttpTools_1.0.zip"), false));
    EXPECT_FALSE(QFile::exists(TempDir() + QStringLiteral("HttpTools_1.0.zip")));
    EXPECT_EQ(QDir(TempDir()).entryList(QDir::Files | QDir::Hidden), QStringList {});
}

TEST_F(Channels, LineBreaksInATitleReachNoHeader)
{
    bwtest::SmtpServer server;
    smtpSettings(server.port());
    emailTask(7);
    const QString title = QStringLiteral("Tool\r\nBcc: eve@example.org");
    ASSERT_TRUE(channels->SendAsEmail(task(7), title, QStringLiteral("1.0"), archive,
                                      title + QStringLiteral(".zip"), false))
        << lines().join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(server.messages().size(), 1);
    const QByteArray message = server.messages().at(0);
    // Message and part headers; the body may hold the name as it is.
    QByteArray heads = message.left(message.indexOf("\r\n\r\n"));
    for (qsizetype at = message.indexOf("\r\n--"); at >= 0; at = message.indexOf("\r\n--", at + 4))
        heads += message.mid(at, message.indexOf("\r\n\r\n", at) - at);
    for (const QByteArray &line : heads.split('\n'))
        EXPECT_FALSE(line.startsWith("Bcc:")) << message.toStdString();
    EXPECT_TRUE(message.contains("\r\nSubject: Tool Bcc: eve@example.org 1.0\r\n"));
    EXPECT_EQ(attachmentNamed(message, "Tool__Bcc: eve@example.org.zip"), bytes);
}

TEST_F(Channels, ControlCharactersInFtpValuesFailBeforeConnecting)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    sandbox.writeFile(QStringLiteral("ftphome/victim.zip"), "keep");
    bwtest::FtpServer ftp(kUser, kPass, home);
    ftpTask(5, ftp.host(), QString(), kPass + QStringLiteral("\r\nDELE victim.zip"));
    bwtest::SmtpServer smtp;
    smtpSettings(smtp.port());
    stagingSettings(ftp.host());
    db->ExecSQL(
        QStringLiteral("UPDATE settings SET value = 'uploader\nDELE victim.zip' WHERE name = 'FTP login'"));
    emailTask(9);
    param(9, QStringLiteral("EmailFTP"), QStringLiteral("1"));

    EXPECT_FALSE(channels->SendAsFTP(task(5), archive, QStringLiteral("a.zip")));
    EXPECT_FALSE(channels->EmailTask(task(9), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    EXPECT_EQ(lines(),
              (QStringList {
                  QStringLiteral(
                      "!  FTP failed: The FTP password contains a line break or another control character"),
                  QStringLiteral(
                      "!  FTP failed: The FTP login contains a line break or another control character") }));
    EXPECT_TRUE(ftp.commands().isEmpty());
    EXPECT_EQ(readFile(home + QStringLiteral("/victim.zip")), QByteArray("keep"));
    EXPECT_TRUE(smtp.messages().isEmpty());
}

TEST_F(Channels, AttachmentCopyFailureContactsNoServer)
{
    bwtest::SmtpServer server;
    smtpSettings(server.port());
    emailTask(7);
    const QString target = RunTempDir() + QStringLiteral("MyTool_1.2.3.zip");
    QDir().mkpath(target); // a folder in the way of the copy
    startDiag();

    EXPECT_FALSE(channels->SendAsEmail(task(7), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                       QStringLiteral("MyTool_1.2.3.zip"), false));
    EXPECT_TRUE(QFileInfo(target).isDir());
    EXPECT_EQ(lines(),
              QStringList { QStringLiteral("!  Failed to email MyTool_1.2.3.zip: could not copy %1 to %2.")
                                .arg(archive, target) });
    if (diag) {
        EXPECT_EQ(diagEvents(),
                  QStringList { QStringLiteral("1|TfrmGenerate|SendAsEmail error: could not copy %1 to %2.")
                                    .arg(archive, target) });
    }
    EXPECT_TRUE(server.messages().isEmpty());
}

TEST_F(Channels, SilentMailServerEndsAsFailure)
{
    bwtest::SilentServer silent;
    smtpSettings(silent.port());
    emailTask(7);
    channels->SetEmailTimeout(1);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(channels->SendAsEmail(task(7), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                       QStringLiteral("MyTool_1.2.3.zip"), false));
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(QFile::exists(TempDir() + QStringLiteral("MyTool_1.2.3.zip")));
    ASSERT_EQ(lines().size(), 1);
    EXPECT_TRUE(lines().first().startsWith(QStringLiteral("!  Email failed: ")))
        << lines().first().toStdString();
    EXPECT_EQ(channels->FEmailProgress, -1);
}

TEST_F(Channels, SftpStagingWithTheUsersKeyDeliversAndExpiresOverSftp)
{
    const bwtest::NoSshAgent noAgent;
    const QString home = sandbox.path(QStringLiteral("sftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    bwtest::SshServer ssh(home);
    ssh.setUpClient();
    bwtest::SmtpServer::Options options;
    options.offerAuth = false;
    bwtest::SmtpServer smtp(options);
    smtpSettings(smtp.port(), QStringLiteral("0"));
    // Key authentication as the local user: no login name, no password.
    setting(QStringLiteral("FTP host"), ssh.host());
    setting(QStringLiteral("FTP directory"), QStringLiteral("staging"));
    bwtest::HttpServer http(home + QStringLiteral("/staging"));
    setting(QStringLiteral("FTP http path"), http.url(QString()));
    emailTask(8);
    param(8, QStringLiteral("EmailFTP"), QStringLiteral("1"));
    param(8, QStringLiteral("EmailRetention"), QStringLiteral("0"));

    const double now = NowDays();
    ASSERT_TRUE(channels->EmailTask(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                    QStringLiteral("MyTool_1.2.3.zip")))
        << lines().join(QLatin1Char('|')).toStdString() << ssh.log().toStdString();
    EXPECT_EQ(lines().value(0), QStringLiteral("  Sent via FTP to ") + ssh.host());
    const QStringList staged = stagedFiles(home + QStringLiteral("/staging"));
    ASSERT_EQ(staged.size(), 1);
    const QString sName = staged.first();
    EXPECT_TRUE(kStagedName.match(sName).hasMatch()) << sName.toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/staging/") + sName), bytes);
    ASSERT_EQ(smtp.messages().size(), 1);
    EXPECT_TRUE(smtp.messages().at(0).contains(http.url(sName).toUtf8()));

    // The row keeps the scheme, so the expiry check goes back over SFTP.
    auto row = db->GetTable(QStringLiteral("SELECT expiry, host, directory FROM retention"));
    ASSERT_FALSE(row->Eof());
    EXPECT_NEAR(row->FieldAsDouble(0) - now, 1.0, 0.01);
    EXPECT_EQ(row->FieldAsString(1), ssh.host());
    EXPECT_EQ(row->FieldAsString(2), QStringLiteral("staging"));
    row.reset();

    TExpiryChecker checker;
    // A check may run as a job of its own: wait for its end.
    const auto check = [&checker] {
        checker.tmExpireTimer(nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&checker] { return !checker.Running(); }, 30000));
    };
    check(); // not due yet
    EXPECT_TRUE(QFile::exists(home + QStringLiteral("/staging/") + sName));
    db->ExecSQLFmt(QStringLiteral("UPDATE retention SET expiry = %g"), { now - 0.001 });
    check();
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/staging/") + sName));
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM retention"), {}), 0);
}

TEST_F(Channels, FtpsStagingUploadExpiresOverFtps)
{
    bwtest::TestCa ca;
    const QString home = sandbox.path(QStringLiteral("ftpshome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    bwtest::FtpServer::Options options;
    options.certFile = ca.certFile();
    options.keyFile = ca.keyFile();
    bwtest::FtpServer ftps(kUser, kPass, home, options);
    const QString host = QStringLiteral("ftps://127.0.0.1:%1").arg(ftps.port());
    stagingSettings(host);
    setting(QStringLiteral("TLS certificates file"), ca.caFile());
    param(8, QStringLiteral("EmailRetention"), QStringLiteral("0"));

    const double now = NowDays();
    ASSERT_TRUE(channels->SendToStaging(task(8), archive, QStringLiteral("MyTool_1.2.3.zip")))
        << lines().join(QLatin1Char('|')).toStdString() << ftps.log().toStdString();
    EXPECT_EQ(lines().value(0), QStringLiteral("  Sent via FTP to ") + host);
    EXPECT_EQ(readFile(home + QStringLiteral("/staging/MyTool_1.2.3.zip")), bytes);
    EXPECT_EQ(QDir(home + QStringLiteral("/staging")).entryList(QDir::Files | QDir::Hidden),
              QStringList { QStringLiteral("MyTool_1.2.3.zip") });
    // Encrypted from the start: the login never went in clear text.
    const QStringList commands = ftps.commands();
    EXPECT_EQ(commands.value(0), QStringLiteral("AUTH TLS")) << commands.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(commands.contains(QStringLiteral("PROT P")));

    auto row = db->GetTable(QStringLiteral("SELECT expiry, host, directory FROM retention"));
    ASSERT_FALSE(row->Eof());
    EXPECT_NEAR(row->FieldAsDouble(0) - now, 1.0, 0.01);
    EXPECT_EQ(row->FieldAsString(1), host);
    EXPECT_EQ(row->FieldAsString(2), QStringLiteral("staging"));
    row.reset();

    TExpiryChecker checker;
    const auto check = [&checker] {
        checker.tmExpireTimer(nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&checker] { return !checker.Running(); }, 30000));
    };
    check(); // not due yet
    EXPECT_TRUE(QFile::exists(home + QStringLiteral("/staging/MyTool_1.2.3.zip")));
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM retention"), {}), 1);
    db->ExecSQLFmt(QStringLiteral("UPDATE retention SET expiry = %g"), { now - 0.001 });
    const qsizetype before = ftps.commands().size();
    check();
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/staging/MyTool_1.2.3.zip")))
        << ftps.commands().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(db->QueryIntegerFmt(QStringLiteral("SELECT COUNT(*) FROM retention"), {}), 0);
    // The check went over TLS too.
    const QStringList later = ftps.commands().mid(before);
    EXPECT_TRUE(later.contains(QStringLiteral("AUTH TLS"))) << later.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(later.contains(QStringLiteral("DELE MyTool_1.2.3.zip")));
}

// A server that refused the connection is not tried again by the same
// channels (a run): the FTP tasks and the staging upload to it fail at once.
// One that answered with an error (a refused login, a rejected recipient)
// is tried again by the next task.
TEST_F(Channels, ServerThatDidNotAnswerIsSkippedOneThatAnsweredIsTriedAgain)
{
    const QString sClosed = QStringLiteral("127.0.0.1:%1").arg(bwtest::freePort());
    ftpTask(3, sClosed, QStringLiteral("in"));
    ftpTask(4, sClosed, QStringLiteral("other"));
    EXPECT_FALSE(channels->SendAsFTP(task(3), archive, QStringLiteral("a.zip")));
    EXPECT_FALSE(channels->Skipped());
    EXPECT_FALSE(channels->SendAsFTP(task(4), archive, QStringLiteral("a.zip")));
    EXPECT_TRUE(channels->Skipped());
    stagingSettings(sClosed);
    emailTask(5);
    param(5, QStringLiteral("EmailFTP"), QStringLiteral("1"));
    EXPECT_FALSE(channels->EmailTask(task(5), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                     QStringLiteral("MyTool_1.2.3.zip")));
    QStringList l = lines();
    ASSERT_EQ(l.size(), 3) << l.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(l[0].startsWith(QStringLiteral("!  FTP failed: "))) << l[0].toStdString();
    EXPECT_EQ(l[1], QStringLiteral("!  FTP skipped: the server did not answer earlier in this run"));
    EXPECT_EQ(l[2], QStringLiteral("!  FTP skipped: the server did not answer earlier in this run"));
    // Nothing reached the server: no upload to expire.
    EXPECT_EQ(retentionCount(), 0);

    // A refused login is an answer: each task tries again.
    const QString home = sandbox.path(QStringLiteral("ftp"));
    bwtest::FtpServer ftp(kUser, kPass, home);
    ftpTask(6, ftp.host(), QString(), QStringLiteral("wrong"));
    ftpTask(7, ftp.host(), QString(), QStringLiteral("wrong"));
    EXPECT_FALSE(channels->SendAsFTP(task(6), archive, QStringLiteral("b.zip")));
    EXPECT_FALSE(channels->SendAsFTP(task(7), archive, QStringLiteral("b.zip")));
    EXPECT_FALSE(channels->Skipped());
    EXPECT_EQ(ftp.commands().filter(QRegularExpression(QStringLiteral("^USER "))).size(), 2)
        << ftp.commands().join(QLatin1Char('|')).toStdString();
    l = lines();
    ASSERT_EQ(l.size(), 5);
    EXPECT_TRUE(l[3].startsWith(QStringLiteral("!  FTP failed: 530"))) << l[3].toStdString();
    EXPECT_TRUE(l[4].startsWith(QStringLiteral("!  FTP failed: 530"))) << l[4].toStdString();

    // So is a rejected recipient: the next e-mail goes.
    bwtest::SmtpServer::Options options;
    options.refuse = QStringList { QStringLiteral("ann@example.com") };
    bwtest::SmtpServer smtp(options);
    smtpSettings(smtp.port(), QStringLiteral("0"));
    param(8, QStringLiteral("EmailRecipient"), QStringLiteral("ann@example.com"));
    param(9, QStringLiteral("EmailRecipient"), QStringLiteral("bob@example.org"));
    EXPECT_FALSE(channels->SendAsEmail(task(8), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                       QStringLiteral("MyTool_1.2.3.zip"), false));
    EXPECT_TRUE(channels->SendAsEmail(task(9), QStringLiteral("MyTool"), QStringLiteral("1.2.3"), archive,
                                      QStringLiteral("MyTool_1.2.3.zip"), false));
    l = lines();
    ASSERT_EQ(l.size(), 7);
    EXPECT_TRUE(l[5].startsWith(QStringLiteral("!  Email failed: 550"))) << l[5].toStdString();
    EXPECT_EQ(l[6], QStringLiteral("  Email sent to bob@example.org"));
    EXPECT_EQ(smtp.messages().size(), 1);
}
