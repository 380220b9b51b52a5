#include "network/smtpclient.h"
#include "support/servers.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

// Header value of name in the message head (the part before the first empty
// line), folded lines joined.
QByteArray header(const QByteArray &message, const QByteArray &name)
{
    QByteArray head = message.left(message.indexOf("\r\n\r\n"));
    head.replace("\r\n ", " ");
    for (const QByteArray &line : head.split('\n')) {
        if (line.startsWith(name + ": "))
            return line.mid(name.size() + 2).trimmed();
    }
    return "<none>";
}

// The MIME parts of a multipart message, each with its headers.
QList<QByteArray> parts(const QByteArray &message)
{
    const QRegularExpression re(QStringLiteral("boundary=\"?([^\";\\r\\n]+)"));
    const auto match = re.match(QString::fromLatin1(message));
    if (!match.hasMatch())
        return {};
    const QByteArray delimiter = "\r\n--" + match.captured(1).toLatin1();
    QList<QByteArray> result;
    qsizetype pos = message.indexOf(delimiter);
    while (pos >= 0) {
        const qsizetype start = message.indexOf("\r\n", pos + delimiter.size()) + 2;
        const qsizetype next = message.indexOf(delimiter, start);
        if (next < 0)
            break;
        result << message.mid(start, next - start);
        pos = next;
    }
    return result;
}

QByteArray partBody(const QByteArray &part)
{
    return part.mid(part.indexOf("\r\n\r\n") + 4);
}

QByteArray decodeQuotedPrintable(const QByteArray &text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.mid(i + 1, 2) == "\r\n") {
            i += 2; // soft line break
        } else {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        }
    }
    return out;
}

// The text of a header value made of "=?UTF-8?B?...?=" words and plain text.
QString decodeWords(const QByteArray &value)
{
    const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([^?]*)\\?=\\s*"));
    QByteArray out;
    qsizetype pos = 0;
    const QString text = QString::fromLatin1(value);
    auto it = word.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out += text.mid(pos, m.capturedStart() - pos).toLatin1();
        out += QByteArray::fromBase64(m.captured(1).toLatin1());
        pos = m.capturedEnd();
    }
    out += text.mid(pos).toLatin1();
    return QString::fromUtf8(out);
}

class SmtpClientTest : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;

    void setUp(TSMTPClient &client, quint16 port)
    {
        client.Host = QStringLiteral("127.0.0.1");
        client.Port = port;
        client.Login = true;
        client.Username = QStringLiteral("mailer");
        client.Password = QStringLiteral("s3cret");
        client.From = QStringLiteral("builds@example.com");
        client.To = QStringLiteral("ann@example.com\r\nbob@example.org\r\n");
        client.Subject = QStringLiteral("MyTool 1.2.3");
        client.Body = QStringLiteral("Hello,\nthe new version costs 5 \u20ac \u2013 caf\u00e9.\n.\nBye");
    }
};

TEST_F(SmtpClientTest, SendsAuthenticatedMessageWithAttachment)
{
    bwtest::SmtpServer server;
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes += char(i % 251);
    const QString path = sandbox.writeFile(QStringLiteral("tmp/MyTool_1.2.3.zip"), bytes);
    TSMTPClient client;
    setUp(client, server.port());
    client.Attachments = { { path, {} } };
    qint64 sent = 0;
    QObject::connect(&client, &TNetClient::progress, [&](qint64 n) { sent = n; });

    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString() << server.log().toStdString();
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_EQ(server.envelope(0),
              QByteArray("from: builds@example.com\nto: ann@example.com\nto: bob@example.org\n"
                         "auth: yes\n"));
    const QByteArray message = server.messages().at(0);
    EXPECT_GT(sent, bytes.size());
    EXPECT_EQ(header(message, "From"), QByteArray("builds@example.com"));
    EXPECT_EQ(header(message, "Reply-To"), QByteArray("builds@example.com"));
    EXPECT_EQ(header(message, "To"), QByteArray("ann@example.com, bob@example.org"));
    EXPECT_EQ(header(message, "Subject"), QByteArray("MyTool 1.2.3"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^<[0-9a-f-]{36}@example\\.com>$"))
                    .match(QString::fromLatin1(header(message, "Message-ID")))
                    .hasMatch());
    const QDateTime date
        = QDateTime::fromString(QString::fromLatin1(header(message, "Date")), Qt::RFC2822Date);
    ASSERT_TRUE(date.isValid()) << header(message, "Date").toStdString();
    EXPECT_LT(std::abs(date.secsTo(QDateTime::currentDateTime())), 120);

    const QList<QByteArray> mimeParts = parts(message);
    ASSERT_EQ(mimeParts.size(), 2) << message.left(2000).toStdString();
    EXPECT_TRUE(mimeParts[0].contains("Content-Type: text/plain; charset=UTF-8"));
    EXPECT_TRUE(mimeParts[0].contains("Content-Transfer-Encoding: quoted-printable"));
    EXPECT_EQ(decodeQuotedPrintable(partBody(mimeParts[0])),
              QStringLiteral("Hello,\r\nthe new version costs 5 \u20ac \u2013 caf\u00e9.\r\n.\r\nBye\r\n")
                  .toUtf8());
    EXPECT_TRUE(mimeParts[1].contains("filename=\"MyTool_1.2.3.zip\""))
        << mimeParts[1].left(300).toStdString();
    EXPECT_TRUE(mimeParts[1].contains("Content-Transfer-Encoding: base64"));
    EXPECT_EQ(QByteArray::fromBase64(partBody(mimeParts[1])), bytes);
}

TEST_F(SmtpClientTest, LoginWithoutAuthOnServerFailsAndSendsNothing)
{
    bwtest::SmtpServer::Options options;
    options.offerAuth = false;
    bwtest::SmtpServer server(options);
    TSMTPClient client;
    setUp(client, server.port());
    EXPECT_FALSE(client.Send());
    EXPECT_EQ(client.ErrorText(),
              QStringLiteral("The server accepted no login (it offers no AUTH); the e-mail was not sent"));
    EXPECT_TRUE(server.messages().isEmpty());

    // Without the login flag the same server takes the message.
    client.Login = false;
    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString();
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_TRUE(server.envelope(0).endsWith("auth: no\n"));
}

TEST_F(SmtpClientTest, RefusalsEndTheMessageWithTheServersReply)
{
    bwtest::SmtpServer::Options options;
    options.refuse = QStringList { QStringLiteral("bob@example.org") };
    bwtest::SmtpServer server(options);
    TSMTPClient client;
    setUp(client, server.port());
    EXPECT_FALSE(client.Send());
    EXPECT_EQ(client.ErrorText(), QStringLiteral("550 5.1.1 <bob@example.org>: Recipient address rejected"));

    client.Password = QStringLiteral("wrong");
    client.To = QStringLiteral("ann@example.com");
    EXPECT_FALSE(client.Send());
    EXPECT_TRUE(client.ErrorText().startsWith(QStringLiteral("535 "))) << client.ErrorText().toStdString();
    EXPECT_TRUE(server.messages().isEmpty());

    client.Host = QStringLiteral("127.0.0.1");
    client.Port = bwtest::freePort();
    EXPECT_FALSE(client.Send());
    EXPECT_TRUE(client.ErrorText().contains(QStringLiteral("Couldn't connect")))
        << client.ErrorText().toStdString();

    client.Attachments = { { sandbox.path(QStringLiteral("gone.zip")), {} } };
    EXPECT_FALSE(client.Send());
    EXPECT_TRUE(client.ErrorText().startsWith(QStringLiteral("Cannot read the attachment")));
}

TEST_F(SmtpClientTest, SilentServerEndsAsFailure)
{
    bwtest::SilentServer silent;
    TSMTPClient client;
    setUp(client, silent.port());
    client.SetTimeout(1);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(client.Send());
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST_F(SmtpClientTest, TextLongLinesAndEveryScriptArriveUnchanged)
{
    bwtest::SmtpServer server;
    TSMTPClient client;
    setUp(client, server.port());
    QString longLine;
    for (int i = 0; i < 300; ++i)
        longLine += QStringLiteral("w\u00f6rd%1 ").arg(i);
    const QString body = QStringLiteral("\u4e2d\u6587 \U0001F600 \u0416 \u20ac\n") + longLine
        + QStringLiteral("\n.\n..dots\nFrom here\ntrailing blanks  \n= sign =3D\n\tend");
    client.Body = body;
    QString subject;
    for (int i = 0; i < 40; ++i)
        subject += QStringLiteral("Gr\u00fc\u00dfe \u4e2d ");
    subject = subject.trimmed();
    client.Subject = subject;
    // Commas and semicolons on one line separate recipients too.
    client.To = QStringLiteral("ann@example.com; bob@example.org,\"Doe; Carl\" <carl@example.net>\r\n"
                               "\u00c5sa Str\u00f6m <asa@example.se>");

    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString() << server.log().toStdString();
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_EQ(server.envelope(0),
              QByteArray("from: builds@example.com\nto: ann@example.com\nto: bob@example.org\n"
                         "to: carl@example.net\nto: asa@example.se\nauth: yes\n"));
    const QByteArray message = server.messages().at(0);
    for (const QByteArray &line : message.split('\n'))
        EXPECT_LE(line.size(), 998);
    EXPECT_EQ(decodeWords(header(message, "Subject")), subject);
    EXPECT_EQ(header(message, "To"),
              QByteArray("ann@example.com, bob@example.org, \"Doe; Carl\" <carl@example.net>, "
                         "=?UTF-8?B?w4VzYSBTdHLDtm0=?= <asa@example.se>"));
    const QList<QByteArray> mimeParts = parts(message);
    ASSERT_EQ(mimeParts.size(), 1) << message.left(2000).toStdString();
    QString expected = body;
    expected.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    EXPECT_EQ(QString::fromUtf8(decodeQuotedPrintable(partBody(mimeParts[0]))),
              expected + QLatin1String("\r\n"));
}

TEST_F(SmtpClientTest, UserTextNeverBreaksOutOfItsHeader)
{
    bwtest::SmtpServer server;
    TSMTPClient client;
    setUp(client, server.port());
    client.From = QStringLiteral("J\u00f6rg \"JB\" Bau <builds@example.com>");
    client.Subject = QStringLiteral("MyTool\r\nBcc: eve@example.org");
    const QString evil = sandbox.writeFile(QStringLiteral("tmp/evil.zip"), "PK1");
    const QString wide = sandbox.writeFile(QStringLiteral("tmp/wide.zip"), "PK2");
    client.Attachments = { { evil, QStringLiteral("x\r\nBcc: eve@example.org\r\n\"q\".zip") },
                           { wide, QStringLiteral("\u00dcbersicht \u4e2d.zip") } };

    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString();
    ASSERT_EQ(server.messages().size(), 1);
    const QByteArray message = server.messages().at(0);
    for (const QByteArray &line : message.split('\n'))
        EXPECT_FALSE(line.startsWith("Bcc:")) << message.toStdString();
    EXPECT_EQ(header(message, "Subject"), QByteArray("MyTool Bcc: eve@example.org"));
    EXPECT_EQ(header(message, "From"), QByteArray("=?UTF-8?B?SsO2cmcgIkpCIiBCYXU=?= <builds@example.com>"));
    const QList<QByteArray> mimeParts = parts(message);
    ASSERT_EQ(mimeParts.size(), 3) << message.toStdString();
    EXPECT_TRUE(mimeParts[1].contains(
        "Content-Disposition: attachment; filename=\"x__Bcc: eve@example.org___q_.zip\";\r\n"
        " filename*=UTF-8''x__Bcc%3A%20eve%40example.org__%22q%22.zip\r\n"))
        << mimeParts[1].toStdString();
    EXPECT_EQ(QByteArray::fromBase64(partBody(mimeParts[1])), QByteArray("PK1"));
    EXPECT_TRUE(mimeParts[2].contains("Content-Disposition: attachment; filename=\"_bersicht _.zip\";\r\n"
                                      " filename*=UTF-8''%C3%9Cbersicht%20%E4%B8%AD.zip\r\n"))
        << mimeParts[2].toStdString();
    EXPECT_TRUE(mimeParts[2].contains("Content-Type: application/octet-stream; name=\"_bersicht _.zip\""));
}

TEST_F(SmtpClientTest, ServerStallingAfterDataFailsWithinTheTimeout)
{
    bwtest::SmtpServer::Options options;
    options.stallAfterData = true;
    bwtest::SmtpServer server(options);
    TSMTPClient client;
    setUp(client, server.port());
    client.SetTimeout(2);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(client.Send());
    EXPECT_LT(clock.elapsed(), 3500);
    EXPECT_FALSE(client.ErrorText().isEmpty());
}

TEST(SmtpClient, Encodings)
{
    EXPECT_EQ(TSMTPClient::EncodeQuotedPrintable("caf\xc3\xa9 = 1 \r\n.\r\n\tx\t\r\nend"),
              QByteArray("caf=C3=A9 =3D 1=20\r\n=2E\r\n\tx=09\r\nend"));
    const QByteArray wrapped = TSMTPClient::EncodeQuotedPrintable(QByteArray(100, 'a') + ".\r\n");
    EXPECT_EQ(wrapped, QByteArray(75, 'a') + "=\r\n" + QByteArray(25, 'a') + ".\r\n");
    EXPECT_EQ(TSMTPClient::EncodeHeader(QStringLiteral("MyTool 1.2.3")), QByteArray("MyTool 1.2.3"));
    EXPECT_EQ(TSMTPClient::EncodeHeader(QStringLiteral("Gr\u00fc\u00dfe")),
              QByteArray("=?UTF-8?B?R3LDvMOfZQ==?="));
    const QByteArray longSubject = TSMTPClient::EncodeHeader(QString(40, QChar(0x00e9)));
    EXPECT_EQ(longSubject,
              QByteArray("=?UTF-8?B?w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6k=?=\r\n "
                         "=?UTF-8?B?w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOp?="));
    // A plain text too long for one line is encoded and folded as well.
    EXPECT_TRUE(TSMTPClient::EncodeHeader(QString(995, QLatin1Char('a')), 9).startsWith("=?UTF-8?B?"));
    EXPECT_EQ(TSMTPClient::EncodeHeader(QString(989, QLatin1Char('a')), 9), QByteArray(989, 'a'));
    const QDateTime when(QDate(2024, 3, 5), QTime(9, 7, 3), QTimeZone(-(4 * 3600 + 30 * 60)));
    EXPECT_EQ(TSMTPClient::DateHeader(when), QByteArray("Tue, 05 Mar 2024 09:07:03 -0430"));
    EXPECT_EQ(TSMTPClient::AddressOf(QStringLiteral("Ann Example <ann@example.com>")),
              QStringLiteral("ann@example.com"));
    EXPECT_EQ(
        TSMTPClient::SplitRecipients(QStringLiteral("a@x.org\n\n b@y.org ;c@z.org\r\n")),
        (QStringList { QStringLiteral("a@x.org"), QStringLiteral("b@y.org"), QStringLiteral("c@z.org") }));
    EXPECT_EQ(TSMTPClient::SplitRecipients(QStringLiteral("\"Doe, J\" <j@x.org>, <odd,name@y.org>;k@z.org")),
              (QStringList { QStringLiteral("\"Doe, J\" <j@x.org>"), QStringLiteral("<odd,name@y.org>"),
                             QStringLiteral("k@z.org") }));
    EXPECT_EQ(TSMTPClient::EncodeMailbox(QStringLiteral("Ann Example <ann@example.com>")),
              QByteArray("\"Ann Example\" <ann@example.com>"));
    EXPECT_EQ(TSMTPClient::EncodeMailbox(QStringLiteral(" ann@example.com ")), QByteArray("ann@example.com"));
}

} // namespace

namespace {

// TLS against aiosmtpd with a certificate from a throw-away authority, which
// the system's store does not know.
class SmtpTlsTest : public SmtpClientTest
{
protected:
    bwtest::TestCa ca;

    bwtest::SmtpServer::Options tlsOptions(bwtest::SmtpServer::Options::Tls tls) const
    {
        bwtest::SmtpServer::Options options;
        options.tls = tls;
        options.certFile = ca.certFile();
        options.keyFile = ca.keyFile();
        return options;
    }
};

TEST_F(SmtpTlsTest, LogsInOverStartTlsAndImplicitTlsWithTheTrustedAuthority)
{
    bwtest::SmtpServer starttls(tlsOptions(bwtest::SmtpServer::Options::StartTls));
    TSMTPClient client;
    setUp(client, starttls.port());
    client.CertificatesFile = ca.caFile();
    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString() << starttls.log().toStdString();
    ASSERT_EQ(starttls.messages().size(), 1);
    EXPECT_TRUE(starttls.envelope(0).endsWith("auth: yes\ntls: yes\n")) << starttls.envelope(0).toStdString();
    EXPECT_EQ(starttls.authAttempts(), QByteArray("LOGIN tls=yes\n"));

    bwtest::SmtpServer implicit(tlsOptions(bwtest::SmtpServer::Options::ImplicitTls));
    setUp(client, implicit.port());
    client.Host = QStringLiteral("smtps://127.0.0.1");
    client.CertificatesFile = ca.caFile();
    ASSERT_TRUE(client.Send()) << client.ErrorText().toStdString() << implicit.log().toStdString();
    ASSERT_EQ(implicit.messages().size(), 1);
    EXPECT_TRUE(implicit.envelope(0).endsWith("auth: yes\ntls: yes\n")) << implicit.envelope(0).toStdString();
    EXPECT_EQ(implicit.authAttempts(), QByteArray("LOGIN tls=yes\n"));
    EXPECT_EQ(header(implicit.messages().at(0), "Subject"), QByteArray("MyTool 1.2.3"));
}

TEST_F(SmtpTlsTest, UntrustedCertificateFailsAndNoPasswordIsSent)
{
    for (const auto tls :
         { bwtest::SmtpServer::Options::StartTls, bwtest::SmtpServer::Options::ImplicitTls }) {
        bwtest::SmtpServer server(tlsOptions(tls));
        TSMTPClient client;
        setUp(client, server.port());
        if (tls == bwtest::SmtpServer::Options::ImplicitTls)
            client.Host = QStringLiteral("smtps://127.0.0.1");
        // The system's store: the throw-away authority is unknown there.
        EXPECT_FALSE(client.Send());
        EXPECT_TRUE(client.ErrorText().contains(QStringLiteral("certificate"), Qt::CaseInsensitive))
            << client.ErrorText().toStdString();
        EXPECT_TRUE(server.messages().isEmpty());
        EXPECT_TRUE(server.authAttempts().isEmpty()) << server.authAttempts().toStdString();

        // An authority file that cannot be read stops before connecting.
        client.CertificatesFile = sandbox.path(QStringLiteral("missing.pem"));
        EXPECT_FALSE(client.Send());
        EXPECT_EQ(client.ErrorText(),
                  QStringLiteral("Cannot read the TLS certificates file ")
                      + sandbox.path(QStringLiteral("missing.pem")));
        EXPECT_TRUE(server.authAttempts().isEmpty());
    }

    // Implicit TLS against a server speaking clear text fails too.
    bwtest::SmtpServer plain;
    TSMTPClient client;
    setUp(client, plain.port());
    client.Host = QStringLiteral("smtps://127.0.0.1");
    client.CertificatesFile = ca.caFile();
    client.SetTimeout(5);
    EXPECT_FALSE(client.Send());
    EXPECT_TRUE(plain.messages().isEmpty());
    EXPECT_TRUE(plain.authAttempts().isEmpty());
}

} // namespace
