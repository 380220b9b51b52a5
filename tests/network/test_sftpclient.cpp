#include "network/ftpclient.h"
#include "network/sshhostkey.h"
#include "support/servers.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QStringList listed(const QString &listing)
{
    QStringList names;
    for (const QByteArray &line : readFile(listing).split('\n')) {
        if (!line.trimmed().isEmpty())
            names << QString::fromUtf8(line.trimmed());
    }
    names.sort();
    return names;
}

// A key pair of its own, made with ssh-keygen.
QString newKey(const QString &path)
{
    EXPECT_EQ(bwtest::runProgram(QStringLiteral("/usr/bin/ssh-keygen"),
                                 { QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                   QStringLiteral("-N"), QString(), QStringLiteral("-f"), path }),
              0);
    return path;
}

class SftpClientTest : public ::testing::Test
{
protected:
    bwtest::TestSandbox sandbox;
    QString home = sandbox.path(QStringLiteral("sftphome"));
    bwtest::SshServer server { home };
    TFTPClient client;
    QByteArray agent = qgetenv("SSH_AUTH_SOCK");

    void SetUp() override
    {
        // Only the key under the sandbox's ~/.ssh logs in, never an agent of
        // whoever runs the tests.
        qunsetenv("SSH_AUTH_SOCK");
        server.setUpClient();
        QDir().mkpath(home + QStringLiteral("/up load"));
        client.Host = server.host();
    }
    void TearDown() override
    {
        if (!agent.isEmpty())
            qputenv("SSH_AUTH_SOCK", agent);
    }
    QString knownHosts() const { return QDir::homePath() + QStringLiteral("/.ssh/known_hosts"); }
    void writeKnownHosts(const QByteArray &content) const
    {
        QFile::remove(knownHosts());
        QFile file(knownHosts());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content), content.size());
    }
    // Hashes every name in known_hosts, as ssh-keygen -H does.
    void hashKnownHosts() const
    {
        ASSERT_EQ(bwtest::runProgram(
                      QStringLiteral("/usr/bin/ssh-keygen"),
                      { QStringLiteral("-q"), QStringLiteral("-H"), QStringLiteral("-f"), knownHosts() }),
                  0);
        QFile::remove(knownHosts() + QStringLiteral(".old"));
        ASSERT_FALSE(readFile(knownHosts()).contains("127.0.0.1"));
    }
    // The server's key as known_hosts lists it after the host field.
    QByteArray serverKey() const { return server.knownHostsLine().split(' ').mid(1).join(' '); }
};

// Keys that are not the server's, made once with ssh-keygen.
const QByteArray OtherKey = "AAAAC3NzaC1lZDI1NTE5AAAAIOExKNWpL6EdAY2njKmMfJqyiePc5Vqef698QfAd+JxR";
const QByteArray EcdsaKey = "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBH5oWaHnNVAiQu3O03VC9Gp3nZ/"
                            "RLdcewt4lmpDx9T8VvUD75DcZb6K2yJ0UDP3M43beMTEks2X8RF0NZZIRMZ8=";

TEST_F(SftpClientTest, UploadsListsAndDeletesWithTheUsersKey)
{
    QByteArray bytes(300000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 256);
    const QString local = sandbox.writeFile(QStringLiteral("out/MyTool_1.2.3.zip"), bytes);
    const QString name = QStringLiteral("My \"Tool\" 1.2.3.zip");
    client.Directory = QStringLiteral("up load");
    qint64 lastProgress = -1;
    QObject::connect(&client, &TNetClient::progress, [&](qint64 n) { lastProgress = n; });

    ASSERT_TRUE(client.Put(local, name)) << client.ErrorText().toStdString() << server.log().toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/up load/") + name), bytes);
    EXPECT_EQ(lastProgress, 300000);
    EXPECT_FALSE(client.HostKeyProblem().IsValid());
    // Renamed when complete: no temporary file stays behind.
    EXPECT_EQ(filesIn(home + QStringLiteral("/up load")), QStringList { name });

    // A second upload of the name replaces the first.
    const QString newer = sandbox.writeFile(QStringLiteral("out/newer.zip"), "newer");
    ASSERT_TRUE(client.Put(newer, name)) << client.ErrorText().toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/up load/") + name), QByteArray("newer"));
    EXPECT_EQ(filesIn(home + QStringLiteral("/up load")), QStringList { name });

    sandbox.writeFile(QStringLiteral("sftphome/up load/notes.txt"), "n");
    const QString listing = sandbox.path(QStringLiteral("list.txt"));
    ASSERT_TRUE(client.List(listing)) << client.ErrorText().toStdString();
    EXPECT_EQ(listed(listing), (QStringList { name, QStringLiteral("notes.txt") }));
    {
        QFile notes(home + QStringLiteral("/up load/notes.txt"));
        ASSERT_TRUE(notes.open(QIODevice::ReadWrite));
        ASSERT_TRUE(notes.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(10, 0, 7), Qt::UTC),
                                      QFileDevice::FileModificationTime));
    }
    QDateTime time;
    ASSERT_TRUE(client.GetFileTime(QStringLiteral("notes.txt"), time)) << client.ErrorText().toStdString();
    EXPECT_EQ(time, QDateTime(QDate(2024, 3, 5), QTime(10, 0, 7), Qt::UTC));

    ASSERT_TRUE(client.Delete(name)) << client.ErrorText().toStdString();
    EXPECT_EQ(filesIn(home + QStringLiteral("/up load")), QStringList { QStringLiteral("notes.txt") });
    EXPECT_FALSE(client.Delete(name));
    EXPECT_FALSE(client.ErrorText().isEmpty());

    // A missing directory fails the listing and leaves no file.
    client.Directory = QStringLiteral("missing");
    EXPECT_FALSE(client.List(listing));
    EXPECT_FALSE(QFile::exists(listing));
}

TEST_F(SftpClientTest, EmptyDirectoryIsTheLoginDirectoryAndAbsolutePathsWork)
{
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    ASSERT_TRUE(client.Put(local, QStringLiteral("a.zip"))) << client.ErrorText().toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/a.zip")), QByteArray("a"));

    const QString absolute = sandbox.path(QStringLiteral("elsewhere"));
    QDir().mkpath(absolute);
    client.Directory = absolute;
    ASSERT_TRUE(client.Put(local, QStringLiteral("b.zip"))) << client.ErrorText().toStdString();
    EXPECT_EQ(readFile(absolute + QStringLiteral("/b.zip")), QByteArray("a"));
    ASSERT_TRUE(client.Delete(QStringLiteral("b.zip"))) << client.ErrorText().toStdString();
    EXPECT_TRUE(filesIn(absolute).isEmpty());
}

TEST_F(SftpClientTest, AKeyTheServerDoesNotKnowIsRefused)
{
    const QString key = QDir::homePath() + QStringLiteral("/.ssh/id_ed25519");
    QFile::remove(key);
    QFile::remove(key + QStringLiteral(".pub"));
    newKey(key);
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_TRUE(client.ErrorText().contains(QStringLiteral("Authentication"), Qt::CaseInsensitive))
        << client.ErrorText().toStdString();
    EXPECT_TRUE(filesIn(home).isEmpty());

    // No key at all, and no password: nothing to log in with.
    QFile::remove(key);
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_TRUE(filesIn(home).isEmpty());
}

TEST_F(SftpClientTest, UnknownHostKeyFailsWithItsFingerprintUntilTrusted)
{
    QFile::remove(knownHosts());
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    const QString fingerprint = server.fingerprint();
    ASSERT_TRUE(fingerprint.startsWith(QStringLiteral("SHA256:"))) << fingerprint.toStdString();
    EXPECT_EQ(client.ErrorText(),
              QStringLiteral("Unknown host key for [127.0.0.1]:%1: ssh-ed25519 key %2 is not in %3. "
                             "Compare the fingerprint with the server's before trusting it")
                  .arg(server.port())
                  .arg(fingerprint, knownHosts()));
    EXPECT_TRUE(filesIn(home).isEmpty());
    // Nothing was written on the user's behalf.
    EXPECT_FALSE(QFile::exists(knownHosts()));

    const TSshHostKey key = client.HostKeyProblem();
    ASSERT_TRUE(key.IsValid());
    EXPECT_EQ(key.Fingerprint(), fingerprint);
    EXPECT_EQ(key.Type(), QStringLiteral("ssh-ed25519"));
    EXPECT_FALSE(key.Changed);

    // The user compared the fingerprint and trusts the key.
    QString error;
    ASSERT_TRUE(TrustHostKey(key, &error)) << error.toStdString();
    EXPECT_EQ(readFile(knownHosts()), server.knownHostsLine() + '\n');
    EXPECT_EQ(QFile::permissions(knownHosts()) & 0x0077, 0);
    ASSERT_TRUE(client.Put(local, QStringLiteral("a.zip"))) << client.ErrorText().toStdString();
    EXPECT_FALSE(client.HostKeyProblem().IsValid());
    EXPECT_EQ(readFile(home + QStringLiteral("/a.zip")), QByteArray("a"));
}

TEST_F(SftpClientTest, ChangedHostKeyFailsAndTrustingKeepsTheOtherEntries)
{
    // known_hosts lists another key for the server, hashed as ssh-keygen -H
    // writes it, beside an entry for another host.
    const QString other = newKey(sandbox.path(QStringLiteral("other_key")));
    const QList<QByteArray> otherKey = readFile(other + QStringLiteral(".pub")).trimmed().split(' ');
    const QByteArray stale
        = QStringLiteral("[127.0.0.1]:%1 ").arg(server.port()).toLatin1() + otherKey[0] + ' ' + otherKey[1];
    const QByteArray unrelated = "files.example.org " + otherKey[0] + ' ' + otherKey[1];
    writeKnownHosts(stale + '\n' + unrelated + '\n');
    hashKnownHosts();

    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_EQ(
        client.ErrorText(),
        QStringLiteral("The host key of [127.0.0.1]:%1 has changed: the server now shows ssh-ed25519 key "
                       "%2. Someone may be intercepting the connection; check with the server's "
                       "administrator before trusting the new key")
            .arg(server.port())
            .arg(server.fingerprint()));
    EXPECT_TRUE(filesIn(home).isEmpty());
    const TSshHostKey key = client.HostKeyProblem();
    EXPECT_TRUE(key.Changed);

    // Trusting it (which the desktop never offers for a changed key) only
    // appends: the stale entry stays, and the server's key is now listed too.
    ASSERT_TRUE(TrustHostKey(key));
    const QList<QByteArray> lines = readFile(knownHosts()).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("|1|"));
    EXPECT_TRUE(lines[1].startsWith("|1|"));
    EXPECT_EQ(lines[2], server.knownHostsLine());
    ASSERT_TRUE(client.Put(local, QStringLiteral("a.zip"))) << client.ErrorText().toStdString();
}

TEST_F(SftpClientTest, KnownHostsIsReadPastLinesWithTypos)
{
    const QByteArray bracketed = QStringLiteral("[127.0.0.1]:%1").arg(server.port()).toLatin1();
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");

    // libssh2 stopped reading at the first line and called the key unknown.
    writeKnownHosts(bracketed + " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5%%typo\n" + server.knownHostsLine() + '\n');
    ASSERT_TRUE(client.Put(local, QStringLiteral("a.zip"))) << client.ErrorText().toStdString();

    // Another key after a bad line is a changed key, never an unknown one
    // that the desktop would offer to trust.
    writeKnownHosts("just some words\n" + bracketed + " ssh-ed25519 " + OtherKey + '\n');
    EXPECT_FALSE(client.Put(local, QStringLiteral("b.zip")));
    EXPECT_TRUE(client.ErrorText().startsWith(
        QStringLiteral("The host key of [127.0.0.1]:%1 has changed: the server now shows ssh-ed25519 key %2.")
            .arg(server.port())
            .arg(server.fingerprint())))
        << client.ErrorText().toStdString();
    EXPECT_TRUE(client.HostKeyProblem().Changed);
    EXPECT_EQ(filesIn(home), QStringList { QStringLiteral("a.zip") });
}

TEST_F(SftpClientTest, RevokedHostKeyIsRefusedWithItsFingerprint)
{
    writeKnownHosts(server.knownHostsLine() + "\n@revoked * " + serverKey() + '\n');
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_EQ(
        client.ErrorText(),
        QStringLiteral("The host key of [127.0.0.1]:%1 is revoked: the server shows ssh-ed25519 key %2, "
                       "which %3 lists as @revoked. Someone may be intercepting the connection, or the "
                       "server still uses a retired key; nothing was sent")
            .arg(server.port())
            .arg(server.fingerprint(), knownHosts()));
    // Nothing to offer for trust.
    EXPECT_FALSE(client.HostKeyProblem().IsValid());
    EXPECT_TRUE(filesIn(home).isEmpty());
}

TEST_F(SftpClientTest, OnlyEntriesForThePortAndPlainKeysMatch)
{
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    const QString unknown
        = QStringLiteral("Unknown host key for [127.0.0.1]:%1: ssh-ed25519 key %2 is not in %3. "
                         "Compare the fingerprint with the server's before trusting it")
              .arg(server.port())
              .arg(server.fingerprint(), knownHosts());
    // The server listens off port 22: a bare entry is for port 22 only.
    writeKnownHosts("127.0.0.1 " + serverKey() + '\n');
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_EQ(client.ErrorText(), unknown);
    EXPECT_FALSE(client.HostKeyProblem().Changed);

    // A certificate authority's key is no host key, even with the same bytes.
    writeKnownHosts(QStringLiteral("@cert-authority [127.0.0.1]:%1 ").arg(server.port()).toLatin1()
                    + serverKey() + '\n');
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_EQ(client.ErrorText(), unknown);
    EXPECT_TRUE(filesIn(home).isEmpty());

    // Hashed, and by a pattern with a wildcard beside a negated name.
    writeKnownHosts(server.knownHostsLine() + '\n');
    hashKnownHosts();
    ASSERT_TRUE(client.Put(local, QStringLiteral("hashed.zip"))) << client.ErrorText().toStdString();
    writeKnownHosts(QStringLiteral("!files.example.org,[127.0.0.?]:%1 ").arg(server.port()).toLatin1()
                    + serverKey() + '\n');
    ASSERT_TRUE(client.Put(local, QStringLiteral("pattern.zip"))) << client.ErrorText().toStdString();
    EXPECT_EQ(filesIn(home), (QStringList { QStringLiteral("hashed.zip"), QStringLiteral("pattern.zip") }));
}

TEST_F(SftpClientTest, OnlyAnotherKeyTypeKnownNamesTheServersKey)
{
    // libssh2 asked the server for the known type only and failed with
    // "Unable to exchange encryption keys", showing no key at all.
    writeKnownHosts(QStringLiteral("[127.0.0.1]:%1 ecdsa-sha2-nistp256 ").arg(server.port()).toLatin1()
                    + EcdsaKey + '\n');
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_EQ(
        client.ErrorText(),
        QStringLiteral("The host key of [127.0.0.1]:%1 has changed: the server now shows ssh-ed25519 key "
                       "%2, while %3 lists only ecdsa-sha2-nistp256 keys for it. Someone may be "
                       "intercepting the connection, or the server has a new kind of key; check with "
                       "the server's administrator before trusting it")
            .arg(server.port())
            .arg(server.fingerprint(), knownHosts()));
    const TSshHostKey key = client.HostKeyProblem();
    EXPECT_TRUE(key.Changed);
    EXPECT_EQ(key.KnownTypes, QStringList { QStringLiteral("ecdsa-sha2-nistp256") });
    EXPECT_EQ(key.Fingerprint(), server.fingerprint());
}

TEST_F(SftpClientTest, KnownHostsThatIsNoRegularFileFailsBeforeConnecting)
{
    const QString local = sandbox.writeFile(QStringLiteral("a.zip"), "a");
    const QString notRegular = QStringLiteral("Cannot read %1: it is not a regular file").arg(knownHosts());
    QElapsedTimer clock;
    clock.start();

    // A FIFO nobody writes to hung the delivery for ever.
    QFile::remove(knownHosts());
    ASSERT_EQ(::mkfifo(QFile::encodeName(knownHosts()).constData(), 0600), 0);
    EXPECT_FALSE(client.Put(local, QStringLiteral("a.zip")));
    EXPECT_EQ(client.ErrorText(), notRegular);

    // /dev/zero kept a core busy for ever.
    QFile::remove(knownHosts());
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), knownHosts()));
    EXPECT_FALSE(client.List(sandbox.path(QStringLiteral("list.txt"))));
    EXPECT_EQ(client.ErrorText(), notRegular);

    writeKnownHosts(QByteArray(5 * 1024 * 1024, '#'));
    EXPECT_FALSE(client.Delete(QStringLiteral("a.zip")));
    EXPECT_EQ(client.ErrorText(),
              QStringLiteral("Cannot read %1: it is larger than 4 MiB").arg(knownHosts()));

    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(client.HostKeyProblem().IsValid());
    // Read before any exchange: the server never saw a connection.
    EXPECT_FALSE(server.log().contains("Connection from")) << server.log().toStdString();
}

TEST_F(SftpClientTest, RefusedRenameNeverCostsTheOlderFile)
{
    const QString local = sandbox.writeFile(QStringLiteral("out/MyTool.zip"), "the newer upload");

    // The final name is a folder: it stays one, and the upload goes.
    QDir().mkpath(home + QStringLiteral("/taken"));
    EXPECT_FALSE(client.Put(local, QStringLiteral("taken")));
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_TRUE(QFileInfo(home + QStringLiteral("/taken")).isDir());
    EXPECT_TRUE(filesIn(home).isEmpty()) << filesIn(home).join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(QDir(home + QStringLiteral("/taken")).isEmpty());

    // A server that renames nothing: the older file stays as it was.
    const QString strictHome = sandbox.path(QStringLiteral("strict"));
    bwtest::SshServer strict(strictHome, { QStringLiteral("rename"), QStringLiteral("posix-rename") });
    strict.setUpClient();
    sandbox.writeFile(QStringLiteral("strict/MyTool.zip"), "the older upload");
    client.Host = strict.host();
    EXPECT_FALSE(client.Put(local, QStringLiteral("MyTool.zip")));
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_EQ(readFile(strictHome + QStringLiteral("/MyTool.zip")), QByteArray("the older upload"));
    EXPECT_EQ(filesIn(strictHome), QStringList { QStringLiteral("MyTool.zip") })
        << strict.log().toStdString();
}

TEST_F(SftpClientTest, ServerKilledMidUploadLeavesNothingUnderTheFinalName)
{
    const QString local = sandbox.writeFile(QStringLiteral("big.zip"), QByteArray(48 * 1024 * 1024, 'z'));
    sandbox.writeFile(QStringLiteral("sftphome/big.zip"), "the earlier complete upload");
    client.SetTimeout(3);
    bool killed = false;
    QObject::connect(&client, &TNetClient::progress, [&](qint64 bytes) {
        if (!killed && bytes > 1024 * 1024) {
            killed = true;
            server.kill();
        }
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(client.Put(local, QStringLiteral("big.zip")));
    EXPECT_TRUE(killed);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_EQ(readFile(home + QStringLiteral("/big.zip")), QByteArray("the earlier complete upload"));
    // Only the partial temporary file may remain; the server could not be
    // asked to remove it.
    for (const QString &name : filesIn(home)) {
        if (name != QStringLiteral("big.zip")) {
            EXPECT_TRUE(name.startsWith(QStringLiteral(".bundlewick-"))) << name.toStdString();
        }
    }
}

TEST(SftpClient, SplitHostKnowsTheSchemes)
{
    TFtpTransport transport;
    QString name;
    int port = 0;
    ASSERT_TRUE(TFTPClient::SplitHost(QStringLiteral("sftp://files.example.org"), transport, name, port));
    EXPECT_EQ(transport, TFtpTransport::Sftp);
    EXPECT_EQ(name, QStringLiteral("files.example.org"));
    EXPECT_EQ(port, 22);
    ASSERT_TRUE(
        TFTPClient::SplitHost(QStringLiteral(" SFTP://files.example.org:2222/ "), transport, name, port));
    EXPECT_EQ(transport, TFtpTransport::Sftp);
    EXPECT_EQ(port, 2222);
    ASSERT_TRUE(TFTPClient::SplitHost(QStringLiteral("ftps://ftp.example.com"), transport, name, port));
    EXPECT_EQ(transport, TFtpTransport::Ftps);
    EXPECT_EQ(port, 21);
    ASSERT_TRUE(TFTPClient::SplitHost(QStringLiteral("ftps://ftp.example.com:990"), transport, name, port));
    EXPECT_EQ(port, 990);
    ASSERT_TRUE(TFTPClient::SplitHost(QStringLiteral("ftp.example.com:2121"), transport, name, port));
    EXPECT_EQ(transport, TFtpTransport::Ftp);
    EXPECT_EQ(port, 2121);
    EXPECT_FALSE(TFTPClient::SplitHost(QStringLiteral("scp://host"), transport, name, port));
    EXPECT_FALSE(TFTPClient::SplitHost(QStringLiteral("sftp://"), transport, name, port));
    EXPECT_FALSE(TFTPClient::SplitHost(QStringLiteral("sftp://user@host"), transport, name, port));
}

TEST(SshHostKey, FingerprintAndKnownHostsLineMatchOpenSsh)
{
    bwtest::TestSandbox sandbox;
    const QString path = newKey(sandbox.path(QStringLiteral("key")));
    const QList<QByteArray> pub = readFile(path + QStringLiteral(".pub")).trimmed().split(' ');
    QByteArray out;
    ASSERT_EQ(bwtest::runProgram(QStringLiteral("/usr/bin/ssh-keygen"),
                                 { QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"),
                                   QStringLiteral("-f"), path + QStringLiteral(".pub") },
                                 &out),
              0);
    TSshHostKey key;
    key.Host = QStringLiteral("files.example.org");
    key.Blob = QByteArray::fromBase64(pub[1]);
    EXPECT_EQ(key.Fingerprint(), QString::fromLatin1(out.split(' ').value(1)));
    EXPECT_EQ(key.KnownHostsLine(), "files.example.org ssh-ed25519 " + pub[1]);
    key.Port = 2222;
    EXPECT_EQ(key.HostPattern(), QStringLiteral("[files.example.org]:2222"));

    // A blob that names no type is not written anywhere.
    TSshHostKey junk;
    junk.Host = QStringLiteral("h");
    junk.Blob = QByteArray("\xff\xff\xff\xff", 4);
    QString error;
    EXPECT_FALSE(TrustHostKey(junk, &error, sandbox.path(QStringLiteral("kh"))));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(sandbox.path(QStringLiteral("kh"))));
}

} // namespace
