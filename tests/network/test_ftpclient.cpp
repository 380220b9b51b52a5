#include "network/ftpclient.h"
#include "support/servers.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class FtpClientTest : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString home = sandbox.path(QStringLiteral("ftphome"));
    bwtest::FtpServer server { QStringLiteral("uploader"), QStringLiteral("pa ss:w%rd"), home };
    TFTPClient client;

    void SetUp() override
    {
        QDir().mkpath(home + QStringLiteral("/up load"));
        client.Host = server.host();
        client.Username = QStringLiteral("uploader");
        client.Password = QStringLiteral("pa ss:w%rd");
    }
};

TEST_F(FtpClientTest, UploadsIntoDirectoryInImageTypeOverPort)
{
    QByteArray bytes(300000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 256);
    const QString local = sandbox.writeFile(QStringLiteral("out/MyTool_1.2.3.zip"), bytes);
    client.Directory = QStringLiteral("up load");
    qint64 lastProgress = -1;
    QObject::connect(&client, &TNetClient::progress, [&](qint64 n) { lastProgress = n; });

    ASSERT_TRUE(client.Put(local, QStringLiteral("MyTool 1.2.3.zip"))) << client.ErrorText().toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/up load/MyTool 1.2.3.zip")), bytes);
    EXPECT_EQ(lastProgress, 300000);
    EXPECT_TRUE(client.ErrorText().isEmpty());
    EXPECT_EQ(client.RemoteFile, QStringLiteral("MyTool 1.2.3.zip"));

    const QStringList commands = server.commands();
    EXPECT_TRUE(commands.contains(QStringLiteral("USER uploader")));
    EXPECT_TRUE(commands.contains(QStringLiteral("CWD up load")))
        << commands.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(commands.contains(QStringLiteral("TYPE I")));
    // Stored under a temporary name, renamed when complete.
    const QStringList stored = commands.filter(QRegularExpression(QStringLiteral("^STOR ")));
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^STOR \\.bundlewick-[0-9a-f]{16}\\.part$"))
                    .match(stored.first())
                    .hasMatch())
        << stored.first().toStdString();
    const qsizetype rnfr = commands.indexOf(QStringLiteral("RNFR ") + stored.first().mid(5));
    EXPECT_GT(rnfr, commands.indexOf(stored.first()));
    EXPECT_EQ(commands.value(rnfr + 1), QStringLiteral("RNTO MyTool 1.2.3.zip"));
    EXPECT_EQ(QDir(home + QStringLiteral("/up load")).entryList(QDir::Files | QDir::Hidden),
              QStringList { QStringLiteral("MyTool 1.2.3.zip") });
    EXPECT_TRUE(commands.contains(QStringLiteral("QUIT")));
    EXPECT_FALSE(commands.filter(QStringLiteral("PORT 127,0,0,1,")).isEmpty());
    EXPECT_TRUE(commands.filter(QStringLiteral("EPRT")).isEmpty());
    EXPECT_TRUE(commands.filter(QStringLiteral("PASV")).isEmpty());
}

TEST_F(FtpClientTest, EmptyDirectoryUploadsIntoLoginDirectoryWithoutCwd)
{
    const QString local = sandbox.writeFile(QStringLiteral("a.txt"), "hello\r\n");
    ASSERT_TRUE(client.Put(local, QStringLiteral("a.txt"))) << client.ErrorText().toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/a.txt")), QByteArray("hello\r\n"));
    EXPECT_TRUE(server.commands().filter(QStringLiteral("CWD")).isEmpty());
}

TEST_F(FtpClientTest, FailuresCarryTheServersReplyOrTheClientsError)
{
    const QString local = sandbox.writeFile(QStringLiteral("a.txt"), "x");

    client.Password = QStringLiteral("wrong");
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.txt")));
    EXPECT_EQ(client.ErrorText(), QStringLiteral("530 Authentication failed."));

    client.Password = QStringLiteral("pa ss:w%rd");
    client.Directory = QStringLiteral("missing");
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.txt")));
    EXPECT_TRUE(client.ErrorText().startsWith(QStringLiteral("550 "))) << client.ErrorText().toStdString();

    client.Directory.clear();
    EXPECT_FALSE(client.Put(sandbox.path(QStringLiteral("nothing.zip")), QStringLiteral("a.txt")));
    EXPECT_TRUE(client.ErrorText().startsWith(QStringLiteral("Cannot open ")))
        << client.ErrorText().toStdString();

    client.Host = QStringLiteral("127.0.0.1:%1").arg(bwtest::freePort());
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.txt")));
    EXPECT_TRUE(client.ErrorText().contains(QStringLiteral("Couldn't connect")))
        << client.ErrorText().toStdString();

    // A file name with a line break would smuggle in a second command.
    client.Host = server.host();
    EXPECT_FALSE(client.Delete(QStringLiteral("a.txt\r\nRMD up load")));
    EXPECT_TRUE(QDir(home + QStringLiteral("/up load")).exists());
}

TEST_F(FtpClientTest, ControlCharactersInAnyCommandTextAreRefusedBeforeConnecting)
{
    const QString local = sandbox.writeFile(QStringLiteral("a.txt"), "x");
    sandbox.writeFile(QStringLiteral("ftphome/victim.txt"), "keep me");
    const QString password = client.Password;
    struct Case
    {
        QString TFTPClient::*field;
        QString value;
        QString name;
    };
    const QList<Case> cases {
        { &TFTPClient::Password, password + QStringLiteral("\r\nDELE victim.txt"),
          QStringLiteral("password") },
        { &TFTPClient::Username, QStringLiteral("uploader\r\nDELE victim.txt"), QStringLiteral("login") },
        { &TFTPClient::Directory, QStringLiteral("up load\nDELE victim.txt"), QStringLiteral("directory") },
        { &TFTPClient::Host, server.host() + QStringLiteral("\r\n"), QStringLiteral("host") },
        { &TFTPClient::Username, QStringLiteral("upl\x7foader"), QStringLiteral("login") },
        { &TFTPClient::Password, QStringLiteral("pa\tss"), QStringLiteral("password") },
    };
    for (const Case &c : cases) {
        TFTPClient bad;
        bad.Host = server.host();
        bad.Username = client.Username;
        bad.Password = password;
        bad.*c.field = c.value;
        EXPECT_FALSE(bad.Put(local, QStringLiteral("a.txt"))) << c.name.toStdString();
        EXPECT_EQ(
            bad.ErrorText(),
            QStringLiteral("The FTP %1 contains a line break or another control character").arg(c.name));
        EXPECT_FALSE(bad.List(sandbox.path(QStringLiteral("list.txt"))));
        EXPECT_FALSE(bad.Delete(QStringLiteral("a.txt")));
    }
    EXPECT_FALSE(client.Put(local, QStringLiteral("a\r\nDELE victim.txt")));
    EXPECT_EQ(client.ErrorText(),
              QStringLiteral("The FTP file name contains a line break or another control character"));
    // Nothing reached the server.
    EXPECT_TRUE(server.commands().isEmpty()) << server.commands().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/victim.txt")), QByteArray("keep me"));
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/a.txt")));
}

TEST(FtpClient, BrokenUploadGivesTheRealCauseAndLeavesNoFile)
{
    bwtest::TestSandbox sandbox;
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    bwtest::FtpServer::Options options;
    options.cutUploadsAfter = 100000;
    bwtest::FtpServer server(QStringLiteral("uploader"), QStringLiteral("pw"), home, options);
    sandbox.writeFile(QStringLiteral("ftphome/MyTool.zip"), "the earlier complete upload");
    const QString local = sandbox.writeFile(QStringLiteral("big.zip"), QByteArray(4000000, 'z'));
    TFTPClient client;
    client.Host = server.host();
    client.Username = QStringLiteral("uploader");
    client.Password = QStringLiteral("pw");
    client.SetTimeout(3);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(client.Put(local, QStringLiteral("MyTool.zip")));
    EXPECT_LT(clock.elapsed(), 10000);
    const QString error = client.ErrorText();
    EXPECT_FALSE(error.contains(QStringLiteral("inet_ntop"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("sending data"), Qt::CaseInsensitive)
                || error.contains(QStringLiteral("426")) || error.contains(QStringLiteral("Upload"))
                || error.contains(QStringLiteral("Timed out")))
        << error.toStdString();
    // The earlier file is untouched and the partial one is gone.
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the earlier complete upload"));
    EXPECT_EQ(QDir(home).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("MyTool.zip") })
        << server.commands().join(QLatin1Char('|')).toStdString();
}

TEST(FtpClient, ServerWithoutRenameGetsTheFileStraightUnderItsName)
{
    bwtest::TestSandbox sandbox;
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    bwtest::FtpServer::Options options;
    options.noRename = true;
    bwtest::FtpServer server(QStringLiteral("uploader"), QStringLiteral("pw"), home, options);
    sandbox.writeFile(QStringLiteral("ftphome/MyTool.zip"), "an older upload");
    QByteArray bytes(200000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 13 + i / 512);
    const QString local = sandbox.writeFile(QStringLiteral("out/MyTool.zip"), bytes);
    TFTPClient client;
    client.Host = server.host();
    client.Username = QStringLiteral("uploader");
    client.Password = QStringLiteral("pw");

    ASSERT_TRUE(client.Put(local, QStringLiteral("MyTool.zip")))
        << client.ErrorText().toStdString() << server.commands().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), bytes);
    // The temporary upload was removed: only the final name is left.
    EXPECT_EQ(QDir(home).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("MyTool.zip") })
        << server.commands().join(QLatin1Char('|')).toStdString();
    const QStringList stored = server.commands().filter(QRegularExpression(QStringLiteral("^STOR ")));
    ASSERT_EQ(stored.size(), 2);
    EXPECT_TRUE(stored.at(0).startsWith(QStringLiteral("STOR .bundlewick-"))) << stored.at(0).toStdString();
    EXPECT_EQ(stored.at(1), QStringLiteral("STOR MyTool.zip"));
}

TEST_F(FtpClientTest, ARenameTheServerRefusesForAnotherReasonStaysAFailure)
{
    // The final name is taken by a folder: RNTO fails with 550, which is no
    // reason to store under the final name.
    QDir().mkpath(home + QStringLiteral("/taken"));
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    EXPECT_FALSE(client.Put(local, QStringLiteral("taken")));
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_TRUE(QFileInfo(home + QStringLiteral("/taken")).isDir());
    EXPECT_EQ(QDir(home).entryList(QDir::Files | QDir::Hidden), QStringList())
        << server.commands().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(server.commands().filter(QRegularExpression(QStringLiteral("^STOR "))).size(), 1);
}

// A server that holds an older MyTool.zip and renames with a fault.
class RenameFault : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString home = sandbox.path(QStringLiteral("ftphome"));
    QString local = sandbox.writeFile(QStringLiteral("out/MyTool.zip"), "the newer upload");
    std::unique_ptr<bwtest::FtpServer> server;
    TFTPClient client;

    // Starts a server with the options (on a fresh home, with the older file
    // when asked) and uploads MyTool.zip to it.
    bool put(const bwtest::FtpServer::Options &options, bool older = true)
    {
        server.reset();
        QDir(home).removeRecursively();
        QDir().mkpath(home);
        if (older)
            sandbox.writeFile(QStringLiteral("ftphome/MyTool.zip"), "the older upload");
        server = std::make_unique<bwtest::FtpServer>(QStringLiteral("uploader"), QStringLiteral("pw"), home,
                                                     options);
        client.Host = server->host();
        client.Username = QStringLiteral("uploader");
        client.Password = QStringLiteral("pw");
        client.SetTimeout(5);
        return client.Put(local, QStringLiteral("MyTool.zip"));
    }
    QStringList files() const { return QDir(home).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    std::string commands() const { return server->commands().join(QLatin1Char('|')).toStdString(); }
    // Index of the first command matching the pattern at or after from; -1 if none.
    qsizetype find(const QString &pattern, qsizetype from = 0) const
    {
        return server->commands().indexOf(QRegularExpression(pattern), from);
    }
};

TEST_F(RenameFault, ARefusedOrBrokenRenameNeverCostsTheOlderFile)
{
    // Every RNTO refused: the older file cannot even move aside.
    bwtest::FtpServer::Options refuse;
    refuse.refuseRnto = true;
    EXPECT_FALSE(put(refuse)) << commands();
    EXPECT_EQ(client.ErrorText(), QStringLiteral("553 Requested action not taken: rename refused."));
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the older upload"));
    EXPECT_EQ(files(), QStringList { QStringLiteral("MyTool.zip") }) << commands();
    EXPECT_EQ(find(QStringLiteral("^DELE MyTool\\.zip$")), -1) << commands();

    // The connection breaks down at every RNFR.
    bwtest::FtpServer::Options drop;
    drop.dropAtRnfr = -1;
    EXPECT_FALSE(put(drop)) << commands();
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the older upload"));
    EXPECT_EQ(files(), QStringList { QStringLiteral("MyTool.zip") }) << commands();
    EXPECT_EQ(find(QStringLiteral("^DELE MyTool\\.zip$")), -1) << commands();

    // The older file moved aside, then the connection broke down as the
    // upload was to take the name (the third RNFR): the older file gets its
    // name back.
    bwtest::FtpServer::Options putBack;
    putBack.noOverwrite = true;
    putBack.dropAtRnfr = 3;
    EXPECT_FALSE(put(putBack)) << commands();
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the older upload"));
    EXPECT_EQ(files(), QStringList { QStringLiteral("MyTool.zip") }) << commands();
    const qsizetype aside = find(QStringLiteral("^RNTO \\.bundlewick-[0-9a-f]{16}\\.old$"));
    ASSERT_GE(aside, 0) << commands();
    const QString asideName = server->commands().at(aside).mid(5);
    const qsizetype back = server->commands().indexOf(QStringLiteral("RNFR ") + asideName);
    EXPECT_GT(back, aside) << commands();
    EXPECT_EQ(server->commands().value(back + 1), QStringLiteral("RNTO MyTool.zip")) << commands();
}

TEST_F(RenameFault, ServerThatRenamesOntoNoExistingNameGetsTheUploadOnceTheOlderFileMovedAside)
{
    bwtest::FtpServer::Options options;
    options.noOverwrite = true;
    ASSERT_TRUE(put(options)) << client.ErrorText().toStdString() << commands();
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the newer upload"));
    EXPECT_EQ(files(), QStringList { QStringLiteral("MyTool.zip") }) << commands();
    // Aside first, then the new file takes the name, and only then the
    // older file goes; the final name is never deleted.
    const qsizetype aside = find(QStringLiteral("^RNTO \\.bundlewick-[0-9a-f]{16}\\.old$"));
    ASSERT_GE(aside, 0) << commands();
    const qsizetype named = find(QStringLiteral("^RNTO MyTool\\.zip$"), aside);
    ASSERT_GT(named, aside) << commands();
    EXPECT_TRUE(server->commands().value(named - 1).startsWith(QStringLiteral("RNFR .bundlewick-")));
    EXPECT_TRUE(server->commands().value(named - 1).endsWith(QStringLiteral(".part")));
    EXPECT_GT(server->commands().indexOf(QStringLiteral("DELE ") + server->commands().at(aside).mid(5)),
              named)
        << commands();
    EXPECT_EQ(find(QStringLiteral("^DELE MyTool\\.zip$")), -1) << commands();
}

TEST_F(RenameFault, AConnectionThatBrokeDownAtTheRenameGetsOneMoreTry)
{
    bwtest::FtpServer::Options options;
    options.dropAtRnfr = 1;
    ASSERT_TRUE(put(options, false)) << client.ErrorText().toStdString() << commands();
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the newer upload"));
    EXPECT_EQ(files(), QStringList { QStringLiteral("MyTool.zip") }) << commands();

    // With an older file of the name, which this server would overwrite.
    ASSERT_TRUE(put(options)) << client.ErrorText().toStdString() << commands();
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the newer upload"));
    EXPECT_EQ(files(), QStringList { QStringLiteral("MyTool.zip") }) << commands();
}

TEST_F(RenameFault, ServerWithoutRenamePutsTheOlderFileBackWhenTheDirectUploadBreaks)
{
    // The temporary upload is complete, the server knows no RNFR, the upload
    // straight under the name (the second STOR) breaks off.
    bwtest::FtpServer::Options options;
    options.noRename = true;
    options.cutUploadsAfter = 100000;
    options.cutOnlyUpload = 2;
    local = sandbox.writeFile(QStringLiteral("out/MyTool.zip"), QByteArray(2000000, 'n'));
    EXPECT_FALSE(put(options)) << commands();
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_EQ(readFile(home + QStringLiteral("/MyTool.zip")), QByteArray("the older upload"));
    EXPECT_EQ(files(), QStringList { QStringLiteral("MyTool.zip") }) << commands();
    // The older file was fetched before it was overwritten.
    EXPECT_LT(find(QStringLiteral("^RETR MyTool\\.zip$")), find(QStringLiteral("^STOR MyTool\\.zip$")))
        << commands();
    // No copy stays behind on this computer.
    EXPECT_TRUE(QDir(QDir::tempPath()).entryList({ QStringLiteral("bundlewick-older-*") }).isEmpty());
}

TEST(FtpClient, ServerThatNeverConfirmsTheUploadFailsWithinTheTimeout)
{
    bwtest::TestSandbox sandbox;
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    bwtest::FtpServer::Options options;
    options.stallAfterUpload = true;
    bwtest::FtpServer server(QStringLiteral("uploader"), QStringLiteral("pw"), home, options);
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), QByteArray(5000, 'a'));
    TFTPClient client;
    client.Host = server.host();
    client.Username = QStringLiteral("uploader");
    client.Password = QStringLiteral("pw");
    client.SetTimeout(2);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_LT(clock.elapsed(), 3500);
    EXPECT_FALSE(client.ErrorText().contains(QStringLiteral("inet_ntop")))
        << client.ErrorText().toStdString();
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/a.zip")));
    // The complete temporary file went over a fresh connection.
    EXPECT_EQ(QDir(home).entryList(QDir::Files | QDir::Hidden), QStringList())
        << server.commands().join(QLatin1Char('|')).toStdString();
}

TEST_F(FtpClientTest, ListsAndDeletesInTheDirectory)
{
    sandbox.writeFile(QStringLiteral("ftphome/up load/MyTool_1.zip"), "1");
    sandbox.writeFile(QStringLiteral("ftphome/up load/notes.txt"), "2");
    client.Directory = QStringLiteral("up load");
    const QString listing = sandbox.path(QStringLiteral("list.txt"));

    ASSERT_TRUE(client.List(listing)) << client.ErrorText().toStdString();
    QStringList names;
    for (const QByteArray &line : readFile(listing).split('\n')) {
        if (!line.trimmed().isEmpty())
            names << QString::fromUtf8(line.trimmed());
    }
    names.sort();
    EXPECT_EQ(names, (QStringList { QStringLiteral("MyTool_1.zip"), QStringLiteral("notes.txt") }));

    // The time a file was last changed, as the server tells it.
    {
        QFile notes(home + QStringLiteral("/up load/notes.txt"));
        ASSERT_TRUE(notes.open(QIODevice::ReadWrite));
        ASSERT_TRUE(notes.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(10, 0, 7), Qt::UTC),
                                      QFileDevice::FileModificationTime));
    }
    QDateTime time;
    ASSERT_TRUE(client.GetFileTime(QStringLiteral("notes.txt"), time)) << client.ErrorText().toStdString();
    EXPECT_EQ(time, QDateTime(QDate(2024, 3, 5), QTime(10, 0, 7), Qt::UTC));
    EXPECT_FALSE(client.GetFileTime(QStringLiteral("missing.txt"), time));
    EXPECT_FALSE(time.isValid());

    ASSERT_TRUE(client.Delete(QStringLiteral("MyTool_1.zip"))) << client.ErrorText().toStdString();
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/up load/MyTool_1.zip")));
    EXPECT_TRUE(QFile::exists(home + QStringLiteral("/up load/notes.txt")));
    const QStringList commands = server.commands();
    EXPECT_LT(commands.lastIndexOf(QStringLiteral("CWD up load")),
              commands.indexOf(QStringLiteral("DELE MyTool_1.zip")));

    EXPECT_FALSE(client.Delete(QStringLiteral("MyTool_1.zip")));

    EXPECT_TRUE(client.ErrorText().startsWith(QStringLiteral("550 "))) << client.ErrorText().toStdString();

    client.Directory = QStringLiteral("missing");
    EXPECT_FALSE(client.List(listing));
    EXPECT_FALSE(QFile::exists(listing));
}

TEST_F(FtpClientTest, RunsOnTheCallingThreadAwayFromTheMainThread)
{
    const QString local = sandbox.writeFile(QStringLiteral("report.zip"), "PK");
    bool ok = false;
    QString error;
    std::thread sender([&] {
        TFTPClient own;
        own.Host = server.host();
        own.Username = QStringLiteral("uploader");
        own.Password = QStringLiteral("pa ss:w%rd");
        ok = own.Put(local, QStringLiteral("Bug_1-0-0_user_20240305-100000.zip"));
        error = own.ErrorText();
    });
    sender.join();
    EXPECT_TRUE(ok) << error.toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/Bug_1-0-0_user_20240305-100000.zip")), QByteArray("PK"));
}

TEST(FtpClient, SilentServerTimesOutAndDestructionAbortsAtOnce)
{
    bwtest::TestSandbox sandbox;
    bwtest::SilentServer silent;
    const QString local = sandbox.writeFile(QStringLiteral("a.txt"), "x");
    QElapsedTimer clock;
    clock.start();
    {
        TFTPClient client;
        client.Host = QStringLiteral("127.0.0.1:%1").arg(silent.port());
        client.SetTimeout(1);
        EXPECT_FALSE(client.Put(local, QStringLiteral("a.txt")));
        EXPECT_FALSE(client.ErrorText().isEmpty());
    }
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST(FtpClient, SplitHost)
{
    QString name;
    int port = 0;
    EXPECT_TRUE(TFTPClient::SplitHost(QStringLiteral(" ftp.example.com "), name, port));
    EXPECT_EQ(name, QStringLiteral("ftp.example.com"));
    EXPECT_EQ(port, 21);
    EXPECT_TRUE(TFTPClient::SplitHost(QStringLiteral("ftp://files.example.org:2121/"), name, port));
    EXPECT_EQ(name, QStringLiteral("files.example.org"));
    EXPECT_EQ(port, 2121);
    EXPECT_FALSE(TFTPClient::SplitHost(QStringLiteral("host:ftp"), name, port));
    EXPECT_FALSE(TFTPClient::SplitHost(QStringLiteral("host:70000"), name, port));
    EXPECT_FALSE(TFTPClient::SplitHost(QStringLiteral("   "), name, port));
    EXPECT_FALSE(TFTPClient::SplitHost(QStringLiteral("user@host"), name, port));
}

TEST(FtpClient, TemporaryNamesAreOnlyOurOwn)
{
    EXPECT_TRUE(TFTPClient::IsTemporaryName(QStringLiteral(".bundlewick-0123456789abcdef.part")));
    EXPECT_FALSE(TFTPClient::IsTemporaryName(QStringLiteral(".bundlewick-0123456789abcdef.old")));
    EXPECT_FALSE(TFTPClient::IsTemporaryName(QStringLiteral(".bundlewick-0123456789ABCDEF.part")));
    EXPECT_FALSE(TFTPClient::IsTemporaryName(QStringLiteral(".bundlewick-123.part")));
    EXPECT_FALSE(TFTPClient::IsTemporaryName(QStringLiteral("x.bundlewick-0123456789abcdef.part")));
    EXPECT_FALSE(TFTPClient::IsTemporaryName(QStringLiteral(".bundlewick-0123456789abcdef.part.zip")));
    EXPECT_FALSE(TFTPClient::IsTemporaryName(QStringLiteral("MyTool.part")));
}

} // namespace

namespace {

// FTPS against pyftpdlib's TLS handler with a certificate from a throw-away
// authority.
class FtpsClientTest : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    bwtest::TestCa ca;
    QString home = sandbox.path(QStringLiteral("ftphome"));
    std::unique_ptr<bwtest::FtpServer> server;
    TFTPClient client;

    void SetUp() override
    {
        bwtest::FtpServer::Options options;
        options.certFile = ca.certFile();
        options.keyFile = ca.keyFile();
        server = std::make_unique<bwtest::FtpServer>(QStringLiteral("uploader"), QStringLiteral("pw"), home,
                                                     options);
        QDir().mkpath(home + QStringLiteral("/in"));
        client.Host = QStringLiteral("ftps://127.0.0.1:%1").arg(server->port());
        client.Username = QStringLiteral("uploader");
        client.Password = QStringLiteral("pw");
        client.CertificatesFile = ca.caFile();
    }
};

TEST_F(FtpsClientTest, UploadsListsAndDeletesOverTlsWithTheTrustedAuthority)
{
    const QString local = sandbox.writeFile(QStringLiteral("MyTool.zip"), QByteArray(200000, 'm'));
    client.Directory = QStringLiteral("in");
    ASSERT_TRUE(client.Put(local, QStringLiteral("MyTool.zip")))
        << client.ErrorText().toStdString() << server->log().toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/in/MyTool.zip")), QByteArray(200000, 'm'));
    EXPECT_EQ(QDir(home + QStringLiteral("/in")).entryList(QDir::Files | QDir::Hidden),
              QStringList { QStringLiteral("MyTool.zip") });

    // TLS before the login, and protected data connections.
    const QStringList commands = server->commands();
    ASSERT_FALSE(commands.isEmpty());
    EXPECT_EQ(commands.first(), QStringLiteral("AUTH TLS")) << commands.join(QLatin1Char('|')).toStdString();
    const qsizetype prot = commands.indexOf(QStringLiteral("PROT P"));
    EXPECT_GE(prot, 0);
    EXPECT_LT(prot, commands.indexOf(commands.filter(QRegularExpression(QStringLiteral("^STOR "))).value(0)));
    EXPECT_EQ(commands.filter(QRegularExpression(QStringLiteral("^RNTO "))),
              QStringList { QStringLiteral("RNTO MyTool.zip") });
    // Passive data connections, which the server secures as it requires.
    EXPECT_FALSE(commands.filter(QRegularExpression(QStringLiteral("^(EPSV|PASV)"))).isEmpty());
    EXPECT_TRUE(commands.filter(QRegularExpression(QStringLiteral("^(PORT|EPRT)"))).isEmpty());

    const QString listing = sandbox.path(QStringLiteral("list.txt"));
    ASSERT_TRUE(client.List(listing)) << client.ErrorText().toStdString();
    EXPECT_EQ(readFile(listing).trimmed(), QByteArray("MyTool.zip"));
    ASSERT_TRUE(client.Delete(QStringLiteral("MyTool.zip"))) << client.ErrorText().toStdString();
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/in/MyTool.zip")));
}

TEST_F(FtpsClientTest, UntrustedCertificateOrPlainServerFailsBeforeTheLogin)
{
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    // The system's store does not know the throw-away authority.
    client.CertificatesFile.clear();
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_TRUE(client.ErrorText().contains(QStringLiteral("certificate"), Qt::CaseInsensitive))
        << client.ErrorText().toStdString();
    EXPECT_TRUE(server->commands().filter(QStringLiteral("USER")).isEmpty());
    EXPECT_TRUE(server->commands().filter(QStringLiteral("PASS")).isEmpty());

    client.CertificatesFile = sandbox.path(QStringLiteral("missing.pem"));
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_EQ(client.ErrorText(),
              QStringLiteral("Cannot read the TLS certificates file ")
                  + sandbox.path(QStringLiteral("missing.pem")));

    // A server without TLS never sees the login either.
    bwtest::FtpServer plain(QStringLiteral("uploader"), QStringLiteral("pw"),
                            sandbox.path(QStringLiteral("plain")));
    client.Host = QStringLiteral("ftps://") + plain.host();
    client.CertificatesFile = ca.caFile();
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_TRUE(plain.commands().filter(QStringLiteral("USER")).isEmpty())
        << plain.commands().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(plain.commands().filter(QStringLiteral("PASS")).isEmpty());
    EXPECT_FALSE(QFile::exists(home + QStringLiteral("/a.zip")));
}

} // namespace
