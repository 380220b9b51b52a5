#pragma once

#include "network/s3settings.h"

#include <QString>

class TSendTask;

// The values an SMTP exchange needs, read once from the settings (or filled
// from the settings view's fields for its test message) and handed to the
// client in one go:
//
//   const TSMTPSettings smtp = TSMTPSettings::FromSettings();
//   smtp.ApplyTo(oSMTP);
struct TSMTPSettings
{
    QString Host;
    int Port = 25;
    bool Login = false; // AUTH LOGIN with Username and Password
    // The login may go out unencrypted ("Email allow plain login").
    bool AllowPlainLogin = false;
    QString Username;
    QString Password;
    QString From; // envelope sender, From and Reply-To
    QString CertificatesFile; // "TLS certificates file"; empty: the system's store

    // "Email server", "Email port" (25 when empty, not a number, 0 or out of
    // range), "Email login" (on for exactly "1"), "Email username" and
    // "Email password" (read only with the login on), "Email from",
    // "Email allow plain login" (on for exactly "1").
    static TSMTPSettings FromSettings();
    // The port rule above, for a typed or stored port text.
    static int PortOf(const QString &sPort);

    // Sets server, port, login and sender of an SMTP client (the message
    // fields stay); without the login, user name and password are cleared.
    template<class TClient> void ApplyTo(TClient &oClient) const
    {
        oClient.Host = Host;
        oClient.Port = Port;
        oClient.Login = Login;
        oClient.AllowPlainLogin = AllowPlainLogin;
        oClient.Username = Login ? Username : QString();
        oClient.Password = Login ? Password : QString();
        oClient.From = From;
        oClient.CertificatesFile = CertificatesFile;
    }

    bool operator==(const TSMTPSettings &) const = default;
};

// The values an FTP exchange needs: an FTP send task's server, or the
// staging server of the settings.
struct TFTPSettings
{
    QString Host; // "name[:port]", "sftp://name[:port]" or "ftps://name[:port]"
    QString Directory; // empty: the login directory
    QString Username;
    QString Password;
    QString CertificatesFile; // "TLS certificates file", for FTPS

    // The staging server: "FTP host", "FTP directory", "FTP login",
    // "FTP password" (and "TLS certificates file" in all three readers).
    static TFTPSettings Staging();
    // An FTP task's "FTPHost", "FTPDirectory", "FTPLogin", "FTPPassword".
    static TFTPSettings FromTask(const TSendTask &oTask);

    // Sets server, directory and login of an FTP client.
    template<class TClient> void ApplyTo(TClient &oClient) const
    {
        oClient.Host = Host;
        oClient.Directory = Directory;
        oClient.Username = Username;
        oClient.Password = Password;
        oClient.CertificatesFile = CertificatesFile;
    }

    bool operator==(const TFTPSettings &) const = default;
};

// An FTP host text as a server: transport, lower-case name and port, the
// same whichever way the text gives them ("name" and "ftp://NAME:21" are one
// server), for telling apart servers that did not answer.
QString FtpServerKey(const QString &sHost);

// The staging server together with the web address its uploads are
// downloaded from ("FTP http path").
struct TStagingSettings
{
    TFTPSettings FTP;
    QString HttpPath;
    // Which of the two the uploads go to ("Staging kind"), and the S3
    // storage with the default lifespan ("FTP retention"), which decides the
    // kind of link the S3 test fetches.
    TStagingKind Kind = TStagingKind::Ftp;
    TS3Settings S3;
    int Retention = 1;

    static TStagingSettings FromSettings();
    // True when a staging server of the chosen kind is set: "FTP host" is
    // not empty, or the S3 endpoint, bucket and access key id are set.
    bool Available() const { return Kind == TStagingKind::S3 ? S3.Available() : !FTP.Host.isEmpty(); }
    // The link of an e-mail delivery: the path joined with the archive name
    // (JoinPath: one separator, "/" for a web address), with "http://" put in front when it begins with
    // neither "http://" nor "https://".
    QString DownloadLink(const QString &sArchiveName) const;
    // Quick send's link: the path joined with the name, used as it is.
    QString JoinedLink(const QString &sFileName) const;
    // The name a staging upload goes up under: sName with an underscore and
    // 16 random letters and digits (95 bits) before its extension, so that
    // no two links share a file and nobody can guess one from a title and a
    // date ("AcmeTool_20261209-120000.zip" becomes
    // "AcmeTool_20261209-120000_k3J9x2Qa7PzLm4Tc.zip").
    static QString UniqueName(const QString &sName);

    bool operator==(const TStagingSettings &) const = default;
};
