#include "delivery/smtpclient.h"
#include "support/servers.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

// Header value of name in the message head (the part before the first empty line).
QByteArray header(const QByteArray &message, const QByteArray &name)
{
    const QByteArray head = message.left(message.indexOf("\r\n\r\n"));
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
    EXPECT_TRUE(mimeParts[0].contains("Content-Type: text/plain; charset=windows-1252"));
    EXPECT_EQ(partBody(mimeParts[0]),
              QByteArray("Hello,\r\nthe new version costs 5 \x80 \x96 caf\xe9.\r\n.\r\nBye\r\n"));
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

TEST(SmtpClient, Encodings)
{
    EXPECT_EQ(TSMTPClient::EncodeCP1252(QStringLiteral("a\u00e4\u00ff\u20ac\u2122\u0178\u4e2d\U0001F600")),
              QByteArray("a\xe4\xff\x80\x99\x9f??"));
    EXPECT_EQ(TSMTPClient::EncodeHeader(QStringLiteral("MyTool 1.2.3")), QByteArray("MyTool 1.2.3"));
    EXPECT_EQ(TSMTPClient::EncodeHeader(QStringLiteral("Gr\u00fc\u00dfe")),
              QByteArray("=?UTF-8?B?R3LDvMOfZQ==?="));
    const QByteArray longSubject = TSMTPClient::EncodeHeader(QString(40, QChar(0x00e9)));
    EXPECT_EQ(longSubject,
              QByteArray("=?UTF-8?B?w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6k=?= "
                         "=?UTF-8?B?w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOp?="));
    const QDateTime when(QDate(2024, 3, 5), QTime(9, 7, 3), QTimeZone(-(4 * 3600 + 30 * 60)));
    EXPECT_EQ(TSMTPClient::DateHeader(when), QByteArray("Tue, 05 Mar 2024 09:07:03 -0430"));
    EXPECT_EQ(TSMTPClient::AddressOf(QStringLiteral("Ann Example <ann@example.com>")),
              QStringLiteral("ann@example.com"));
    EXPECT_EQ(
        TSMTPClient::SplitRecipients(QStringLiteral("a@x.org\n\n b@y.org ;c@z.org\r\n")),
        (QStringList { QStringLiteral("a@x.org"), QStringLiteral("b@y.org"), QStringLiteral("c@z.org") }));
}

} // namespace
