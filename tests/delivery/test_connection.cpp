#include "core/settingkeys.h"
#include "delivery/connection.h"
#include "delivery/sendtask.h"
#include "deliverydb.h"
#include "network/ftpclient.h"
#include "network/smtpclient.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace {

class Connection : public DeliveryDB
{
protected:
    void fillSMTP(const QString &sLogin, const QString &sPort)
    {
        setting(QStringLiteral("Email server"), QStringLiteral("smtp.example.org"));
        setting(QStringLiteral("Email port"), sPort);
        setting(QStringLiteral("Email login"), sLogin);
        setting(QStringLiteral("Email username"), QStringLiteral("joe"));
        setting(QStringLiteral("Email password"), QStringLiteral("pa'ss"));
        setting(QStringLiteral("Email from"), QStringLiteral("Joe <joe@example.org>"));
    }
};

TEST_F(Connection, SMTPFromSettingsWithLogin)
{
    fillSMTP(QStringLiteral("1"), QStringLiteral("587"));
    const TSMTPSettings smtp = TSMTPSettings::FromSettings();
    EXPECT_EQ(smtp.Host, QStringLiteral("smtp.example.org"));
    EXPECT_EQ(smtp.Port, 587);
    EXPECT_TRUE(smtp.Login);
    EXPECT_EQ(smtp.Username, QStringLiteral("joe"));
    EXPECT_EQ(smtp.Password, QStringLiteral("pa'ss"));
    EXPECT_EQ(smtp.From, QStringLiteral("Joe <joe@example.org>"));

    TSMTPClient client;
    client.Subject = QStringLiteral("kept");
    smtp.ApplyTo(client);
    EXPECT_EQ(client.Host, QStringLiteral("smtp.example.org"));
    EXPECT_EQ(client.Port, 587);
    EXPECT_TRUE(client.Login);
    EXPECT_EQ(client.Username, QStringLiteral("joe"));
    EXPECT_EQ(client.Password, QStringLiteral("pa'ss"));
    EXPECT_EQ(client.From, QStringLiteral("Joe <joe@example.org>"));
    EXPECT_EQ(client.Subject, QStringLiteral("kept"));
}

TEST_F(Connection, SMTPWithoutLoginCarriesNoCredentials)
{
    // Anything but exactly "1" means no authentication, "01" included.
    for (const QString &sLogin : { QStringLiteral("0"), QStringLiteral("01"), QStringLiteral("yes") }) {
        SCOPED_TRACE(sLogin.toStdString());
        db->ExecSQL(QStringLiteral("DELETE FROM settings"));
        fillSMTP(sLogin, QStringLiteral("25"));
        const TSMTPSettings smtp = TSMTPSettings::FromSettings();
        EXPECT_FALSE(smtp.Login);
        EXPECT_EQ(smtp.Username, QString());
        EXPECT_EQ(smtp.Password, QString());

        TSMTPClient client;
        client.Username = QStringLiteral("stale");
        client.Password = QStringLiteral("stale");
        smtp.ApplyTo(client);
        EXPECT_FALSE(client.Login);
        EXPECT_EQ(client.Username, QString());
        EXPECT_EQ(client.Password, QString());
    }
}

TEST_F(Connection, SMTPPortFallsBackTo25)
{
    EXPECT_EQ(TSMTPSettings::FromSettings().Port, 25); // no row
    EXPECT_EQ(TSMTPSettings::PortOf(QString()), 25);
    EXPECT_EQ(TSMTPSettings::PortOf(QStringLiteral("0")), 25);
    EXPECT_EQ(TSMTPSettings::PortOf(QStringLiteral("smtp")), 25);
    EXPECT_EQ(TSMTPSettings::PortOf(QStringLiteral("-5")), 25);
    EXPECT_EQ(TSMTPSettings::PortOf(QStringLiteral("70000")), 25);
    EXPECT_EQ(TSMTPSettings::PortOf(QStringLiteral(" 465 ")), 465);
    EXPECT_EQ(TSMTPSettings::PortOf(QStringLiteral("65535")), 65535);
}

TEST_F(Connection, StagingServerFromSettings)
{
    EXPECT_FALSE(TStagingSettings::FromSettings().Available());
    setting(QStringLiteral("FTP host"), QStringLiteral("stage.example.org:2121"));
    setting(QStringLiteral("FTP directory"), QStringLiteral("in/coming"));
    setting(QStringLiteral("FTP login"), QStringLiteral("ann"));
    setting(QStringLiteral("FTP password"), QStringLiteral("s3'cret"));
    setting(QStringLiteral("FTP http path"), QStringLiteral("example.org/files"));

    const TStagingSettings staging = TStagingSettings::FromSettings();
    EXPECT_TRUE(staging.Available());
    EXPECT_EQ(staging.FTP,
              (TFTPSettings { QStringLiteral("stage.example.org:2121"), QStringLiteral("in/coming"),
                              QStringLiteral("ann"), QStringLiteral("s3'cret"), QString() }));
    EXPECT_EQ(staging.FTP, TFTPSettings::Staging());
    EXPECT_EQ(staging.DownloadLink(QStringLiteral("MyTool_1.2.3.zip")),
              QStringLiteral("http://example.org/files/MyTool_1.2.3.zip"));
    EXPECT_EQ(staging.JoinedLink(QStringLiteral("MyTool_1.2.3.zip")),
              QStringLiteral("example.org/files/MyTool_1.2.3.zip"));

    TFTPClient client;
    staging.FTP.ApplyTo(client);
    EXPECT_EQ(client.Host, QStringLiteral("stage.example.org:2121"));
    EXPECT_EQ(client.Directory, QStringLiteral("in/coming"));
    EXPECT_EQ(client.Username, QStringLiteral("ann"));
    EXPECT_EQ(client.Password, QStringLiteral("s3'cret"));
}

TEST_F(Connection, DownloadLinkKeepsAScheme)
{
    TStagingSettings staging;
    staging.HttpPath = QStringLiteral("https://example.org/files/");
    EXPECT_EQ(staging.DownloadLink(QStringLiteral("a.zip")),
              QStringLiteral("https://example.org/files/a.zip"));
    staging.HttpPath = QStringLiteral("http://example.org");
    EXPECT_EQ(staging.DownloadLink(QStringLiteral("a.zip")), QStringLiteral("http://example.org/a.zip"));
    // The scheme test is case-sensitive.
    staging.HttpPath = QStringLiteral("HTTP://example.org");
    EXPECT_EQ(staging.DownloadLink(QStringLiteral("a.zip")),
              QStringLiteral("http://HTTP://example.org/a.zip"));
}

TEST_F(Connection, StagingNamesCarryARandomPartBeforeTheExtension)
{
    const QRegularExpression zip(QStringLiteral("^AcmeTool_20261209-120000_[A-Za-z0-9]{16}\\.zip$"));
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString name = TStagingSettings::UniqueName(QStringLiteral("AcmeTool_20261209-120000.zip"));
        EXPECT_TRUE(zip.match(name).hasMatch()) << name.toStdString();
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 200);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^report\\.final_[A-Za-z0-9]{16}\\.pdf$"))
                    .match(TStagingSettings::UniqueName(QStringLiteral("report.final.pdf")))
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^README_[A-Za-z0-9]{16}$"))
                    .match(TStagingSettings::UniqueName(QStringLiteral("README")))
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\.profile_[A-Za-z0-9]{16}$"))
                    .match(TStagingSettings::UniqueName(QStringLiteral(".profile")))
                    .hasMatch());
}

TEST_F(Connection, FTPTaskFromParametersOrValue)
{
    db->ExecSQL(QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (1, 2, '')"));
    const int iID = int(db->LastInsertRowID());
    param(iID, QStringLiteral("FTPHost"), QStringLiteral("ftp.example.org"));
    param(iID, QStringLiteral("FTPLogin"), QStringLiteral("bob"));
    param(iID, QStringLiteral("FTPPassword"), QStringLiteral("pw"));
    // No FTPDirectory row: the login directory.

    const TFTPSettings expected { QStringLiteral("ftp.example.org"), QString(), QStringLiteral("bob"),
                                  QStringLiteral("pw"), QString() };
    EXPECT_EQ(TFTPSettings::FromTask(TSendTask::Load(iID).value()), expected);
    // Staging settings are not mixed in.
    setting(QStringLiteral("FTP directory"), QStringLiteral("staging"));
    EXPECT_EQ(TFTPSettings::FromTask(TSendTask::Load(iID).value()).Directory, QString());
}

} // namespace

TEST_F(Connection, TlsCertificatesFileReachesEveryClient)
{
    EXPECT_EQ(Setting::TLSCertificates.Name(), QStringLiteral("TLS certificates file"));
    EXPECT_EQ(TSMTPSettings::FromSettings().CertificatesFile, QString()); // the system's store
    setting(QStringLiteral("TLS certificates file"), QStringLiteral("/etc/company/ca.pem"));
    setting(QStringLiteral("FTP host"), QStringLiteral("ftps://stage.example.org"));

    TSMTPClient smtp;
    TSMTPSettings::FromSettings().ApplyTo(smtp);
    EXPECT_EQ(smtp.CertificatesFile, QStringLiteral("/etc/company/ca.pem"));
    TFTPClient ftp;
    TFTPSettings::Staging().ApplyTo(ftp);
    EXPECT_EQ(ftp.Host, QStringLiteral("ftps://stage.example.org"));
    EXPECT_EQ(ftp.CertificatesFile, QStringLiteral("/etc/company/ca.pem"));

    db->ExecSQL(QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (1, 2, '')"));
    const int iID = int(db->LastInsertRowID());
    param(iID, QStringLiteral("FTPHost"), QStringLiteral("sftp://files.example.org:2222"));
    EXPECT_EQ(TFTPSettings::FromTask(TSendTask::Load(iID).value()).CertificatesFile,
              QStringLiteral("/etc/company/ca.pem"));
    EXPECT_EQ(TFTPSettings::FromTask(TSendTask::Load(iID).value()).Host,
              QStringLiteral("sftp://files.example.org:2222"));
}

TEST_F(Connection, PlainLoginConsentReachesTheClientOnlyForExactlyOne)
{
    fillSMTP(QStringLiteral("1"), QStringLiteral("25"));
    EXPECT_EQ(Setting::EmailAllowPlainLogin.Name(), QStringLiteral("Email allow plain login"));
    EXPECT_FALSE(TSMTPSettings::FromSettings().AllowPlainLogin); // no row: off
    for (const QString &sValue : { QStringLiteral("0"), QStringLiteral("01"), QStringLiteral("yes") }) {
        Setting::EmailAllowPlainLogin.SetText(sValue);
        EXPECT_FALSE(TSMTPSettings::FromSettings().AllowPlainLogin) << sValue.toStdString();
    }
    Setting::EmailAllowPlainLogin.SetText(QStringLiteral("1"));
    TSMTPClient smtp;
    TSMTPSettings::FromSettings().ApplyTo(smtp);
    EXPECT_TRUE(smtp.AllowPlainLogin);
}
