#pragma once

#include "network/netclient.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

struct TMailAttachment
{
    QString Path; // local file
    QString Name; // file name in the message; empty: the local file's name
};

// SMTP client for one message at a time: EHLO (HELO when the server knows no
// EHLO), AUTH LOGIN when Login is on, MAIL FROM, RCPT TO per recipient, DATA
// with a MIME message, QUIT. Port 465 (or a host given as "smtps://name")
// speaks TLS from the start; other ports
// switch to TLS with STARTTLS when the server offers it. The server's
// certificate is verified against CertificatesFile, or the system's store;
// a failed handshake ends the exchange before any login. Time-out 60
// seconds without progress by default.
//
// A login never crosses the network in clear text: with Login on and a
// server other than the loopback address, a server that offers no STARTTLS
// ends the exchange before AUTH, unless AllowPlainLogin is set.
class TSMTPClient : public TNetClient
{
    Q_OBJECT
public:
    explicit TSMTPClient(QObject *parent = nullptr);

    QString Host; // "name"; "smtps://name" for TLS from the start on any port
    int Port = 25; // 0 means 25
    bool Login = false;
    // Logs in over an unencrypted connection when the server offers no
    // STARTTLS ("Email allow plain login"); off: such a login is refused.
    bool AllowPlainLogin = false;
    QString Username;
    QString Password;
    // PEM certificate authorities for TLS; empty: the system's store.
    QString CertificatesFile;
    // Envelope sender, From and Reply-To.
    QString From;
    // The recipients: one per line, or separated by "," or ";", unless
    // Recipients is set. The To header names the envelope's recipients.
    QString To;
    QStringList Recipients;
    QString Subject;
    QString Body; // plain text, sent as UTF-8 quoted-printable
    QList<TMailAttachment> Attachments;

    // Sends the message on the calling thread; returns when done.
    // progress() reports the message bytes handed to the connection so far.
    bool Send();
    // Clears the message fields (not the server and login).
    void ClearMessage();

    // Whether the login to host (a server text as in Host) must travel
    // encrypted: with Login on, unless AllowPlainLogin is set or the host is
    // the loopback address (while that exemption is on). Implicit TLS
    // fulfils it; otherwise STARTTLS is required.
    static bool LoginNeedsEncryption(const QString &host, bool login, bool allowPlainLogin);
    // "localhost", an address of 127.0.0.0/8 or ::1 (brackets allowed).
    static bool IsLoopbackHost(const QString &host);
    // The loopback exemption, on by default; tests switch it off to see the
    // rule at work against a server on 127.0.0.1. Any thread.
    static void SetLoopbackExemption(bool exempt);
    // The failure text when the server offers no encryption for a login.
    static QString PlainLoginRefusedText();

    // Helpers, public for the tests.
    // Quoted-printable of text whose lines end in CR LF.
    static QByteArray EncodeQuotedPrintable(const QByteArray &text);
    // Header text: raw when printable ASCII and its line (used bytes are
    // taken already) fits, else RFC 2047 encoded words on folded lines.
    static QByteArray EncodeHeader(const QString &text, int used = 0);
    // "Name <addr>" or a bare address as a header value: the name quoted
    // or encoded.
    static QByteArray EncodeMailbox(const QString &text);
    // Content-Type and Content-Disposition of an attachment: the name
    // without control characters, an ASCII stand-in in filename= and the
    // UTF-8 name in filename* (RFC 2231) when it differs.
    static QList<QByteArray> AttachmentHeaders(const QString &name);
    // RFC 5322 date, such as "Tue, 05 Mar 2024 10:00:00 +0100".
    static QByteArray DateHeader(const QDateTime &when);
    // The address of "Name <addr>" or of a bare address.
    static QString AddressOf(const QString &text);
    // Envelope recipients of a To text: one per line, or separated by ","
    // or ";" outside quotes and angle brackets.
    static QStringList SplitRecipients(const QString &text);

private:
    bool Prepare();
};
