#include "network/httpclient.h"
#include "support/servers.h"
#include "support/testenv.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(HttpClient, GetsFollowsRedirectsAndFailsOnErrorStatus)
{
    bwtest::TestSandbox sandbox;
    sandbox.writeFile(QStringLiteral("www/files/MyTool.txt"), "This is an FTP test file\r\n");
    sandbox.writeFile(QStringLiteral("www/sub/index.html"), "<p>sub</p>");
    const QString root = sandbox.root() + QStringLiteral("/www");
    bwtest::HttpServer server(root);
    THTTPClient client;

    QByteArray body;
    ASSERT_TRUE(client.Get(server.url(QStringLiteral("files/MyTool.txt")), body))
        << client.ErrorText().toStdString();
    EXPECT_EQ(body, QByteArray("This is an FTP test file\r\n"));
    EXPECT_EQ(client.StatusCode(), 200);

    // "/sub" answers 301 to "/sub/".
    ASSERT_TRUE(client.Get(server.url(QStringLiteral("sub")), body)) << client.ErrorText().toStdString();
    EXPECT_EQ(body, QByteArray("<p>sub</p>"));

    const QString target = sandbox.path(QStringLiteral("tmp/download.txt"));
    ASSERT_TRUE(client.GetFile(server.url(QStringLiteral("files/MyTool.txt")), target));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("This is an FTP test file\r\n"));
    file.close();

    EXPECT_FALSE(client.GetFile(server.url(QStringLiteral("files/missing.txt")), target));
    EXPECT_EQ(client.ErrorText(), QStringLiteral("404 File not found"));
    EXPECT_EQ(client.StatusCode(), 404);
    EXPECT_FALSE(QFile::exists(target));

    EXPECT_FALSE(client.Get(QStringLiteral("http://127.0.0.1:%1/").arg(bwtest::freePort()), body));
    EXPECT_TRUE(client.ErrorText().contains(QStringLiteral("Couldn't connect")))
        << client.ErrorText().toStdString();
    EXPECT_TRUE(body.isEmpty());

    EXPECT_FALSE(client.Get(QStringLiteral("file:///etc/passwd"), body));
}

} // namespace
