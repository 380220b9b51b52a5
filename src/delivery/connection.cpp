#include "delivery/connection.h"

#include "core/settingkeys.h"
#include "core/winutils.h"
#include "delivery/sendtask.h"
#include "network/ftpclient.h"

#include <QRandomGenerator>

TSMTPSettings TSMTPSettings::FromSettings()
{
    TSMTPSettings smtp;
    smtp.Host = Setting::EmailServer.Get();
    smtp.Port = PortOf(Setting::EmailPort.Text());
    smtp.Login = Setting::EmailLogin.Get();
    smtp.AllowPlainLogin = Setting::EmailAllowPlainLogin.Get();
    // The password is not even read when it is not going to be used.
    if (smtp.Login) {
        smtp.Username = Setting::EmailUsername.Get();
        smtp.Password = Setting::EmailPassword.Get();
    }
    smtp.From = Setting::EmailFrom.Get();
    smtp.CertificatesFile = Setting::TLSCertificates.Get();
    return smtp;
}

int TSMTPSettings::PortOf(const QString &sPort)
{
    bool ok = false;
    const int iPort = sPort.trimmed().toInt(&ok);
    return ok && iPort > 0 && iPort <= 65535 ? iPort : 25;
}

QString FtpServerKey(const QString &sHost)
{
    TFtpTransport transport = TFtpTransport::Ftp;
    QString sName;
    int iPort = 0;
    if (!TFTPClient::SplitHost(sHost, transport, sName, iPort))
        return QStringLiteral("ftp ") + sHost.trimmed();
    return QStringLiteral("ftp%1 %2:%3").arg(int(transport)).arg(sName.toLower()).arg(iPort);
}

TFTPSettings TFTPSettings::Staging()
{
    TFTPSettings ftp;
    ftp.Host = Setting::FTPHost.Get();
    ftp.Directory = Setting::FTPDirectory.Get();
    ftp.Username = Setting::FTPLogin.Get();
    ftp.Password = Setting::FTPPassword.Get();
    ftp.CertificatesFile = Setting::TLSCertificates.Get();
    return ftp;
}

TFTPSettings TFTPSettings::FromTask(const TSendTask &oTask)
{
    TFTPSettings ftp;
    ftp.Host = oTask.Param(SendParam::FTPHost);
    ftp.Directory = oTask.Param(SendParam::FTPDirectory);
    ftp.Username = oTask.Param(SendParam::FTPLogin);
    ftp.Password = oTask.Param(SendParam::FTPPassword);
    ftp.CertificatesFile = Setting::TLSCertificates.Get();
    return ftp;
}

TStagingSettings TStagingSettings::FromSettings()
{
    TStagingSettings staging;
    staging.FTP = TFTPSettings::Staging();
    staging.HttpPath = Setting::FTPHttpPath.Get();
    staging.Kind = Setting::StagingKind.Get() == int(TStagingKind::S3) ? TStagingKind::S3 : TStagingKind::Ftp;
    staging.S3 = TS3Settings::FromSettings();
    staging.Retention = Setting::FTPRetention.Get();
    return staging;
}

QString TStagingSettings::DownloadLink(const QString &sArchiveName) const
{
    QString sLink = JoinPath(HttpPath, sArchiveName);
    if (!sLink.startsWith(QLatin1String("http://")) && !sLink.startsWith(QLatin1String("https://")))
        sLink.prepend(QLatin1String("http://"));
    return sLink;
}

QString TStagingSettings::JoinedLink(const QString &sFileName) const
{
    return JoinPath(HttpPath, sFileName);
}

QString TStagingSettings::UniqueName(const QString &sName)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr int kLength = 16;
    QString sRandom;
    sRandom.reserve(kLength);
    QRandomGenerator *random = QRandomGenerator::system();
    for (int i = 0; i < kLength; ++i)
        sRandom += QLatin1Char(kAlphabet[random->bounded(int(sizeof kAlphabet - 1))]);
    // Before the extension, so that the link still ends in ".zip"; a
    // leading dot is no extension.
    const qsizetype iDot = sName.lastIndexOf(QLatin1Char('.'));
    if (iDot <= 0)
        return sName + QLatin1Char('_') + sRandom;
    return sName.left(iDot) + QLatin1Char('_') + sRandom + sName.mid(iDot);
}
