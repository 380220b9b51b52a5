#include "network/hostkeytrust.h"
#include "support/testenv.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

// An ed25519 key in SSH wire format: the type as an SSH string, then the
// 32 key bytes as one.
TSshHostKey key(const QString &host, int port, char fill, bool changed = false)
{
    TSshHostKey k;
    k.Host = host;
    k.Port = port;
    k.Blob = QByteArray("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + QByteArray(32, fill);
    k.Changed = changed;
    return k;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Recorder
{
    QStringList asked, warned, errors;
    bool answer = false;
    THostKeyOffer::TOutcome run(THostKeyOffer &offer)
    {
        return offer.Run(
            [this](const QString &, const QString &text) {
                asked << text;
                return answer;
            },
            [this](const QString &, const QString &text) { warned << text; },
            [this](const QString &, const QString &text) { errors << text; });
    }
};

} // namespace

TEST(HostKeyOffer, UnknownKeyIsTrustedOnlyOnYes)
{
    bwtest::TestSandbox sandbox;
    const QString knownHosts = sandbox.path(QStringLiteral("ssh/known_hosts"));
    const TSshHostKey k = key(QStringLiteral("127.0.0.1"), 2222, 'a');

    Recorder no;
    THostKeyOffer offer(k, knownHosts);
    EXPECT_EQ(no.run(offer), THostKeyOffer::Declined);
    ASSERT_EQ(no.asked.size(), 1);
    EXPECT_TRUE(no.asked.at(0).contains(QStringLiteral("127.0.0.1, port 2222")));
    EXPECT_TRUE(no.asked.at(0).contains(QStringLiteral("ssh-ed25519")));
    EXPECT_TRUE(no.asked.at(0).contains(k.Fingerprint()));
    EXPECT_TRUE(no.asked.at(0).contains(knownHosts));
    EXPECT_FALSE(QFile::exists(knownHosts));

    Recorder yes;
    yes.answer = true;
    EXPECT_EQ(yes.run(offer), THostKeyOffer::Trusted);
    EXPECT_TRUE(yes.warned.isEmpty());
    EXPECT_TRUE(yes.errors.isEmpty());
    EXPECT_EQ(readFile(knownHosts), k.KnownHostsLine() + '\n');
}

TEST(HostKeyOffer, ChangedKeyIsNeverAskedAboutNorTrusted)
{
    bwtest::TestSandbox sandbox;
    const QString knownHosts = sandbox.writeFile(
        QStringLiteral("known_hosts"), key(QStringLiteral("example.org"), 22, 'o').KnownHostsLine() + '\n');
    const QByteArray before = readFile(knownHosts);
    Recorder r;
    r.answer = true;
    THostKeyOffer offer(key(QStringLiteral("example.org"), 22, 'n', true), knownHosts);
    EXPECT_EQ(r.run(offer), THostKeyOffer::Refused);
    EXPECT_TRUE(r.asked.isEmpty());
    ASSERT_EQ(r.warned.size(), 1);
    EXPECT_TRUE(r.warned.at(0).contains(QStringLiteral("has changed")));
    EXPECT_TRUE(
        r.warned.at(0).contains(QStringLiteral("ssh-keygen -R \"example.org\" -f \"%1\"").arg(knownHosts)))
        << r.warned.at(0).toStdString();
    EXPECT_EQ(readFile(knownHosts), before);
}

TEST(HostKeyOffer, AFileThatCannotBeWrittenIsReported)
{
    bwtest::TestSandbox sandbox;
    // The folder for known_hosts is a file: nothing can be created there.
    const QString blocker = sandbox.writeFile(QStringLiteral("ssh"), "not a folder");
    Recorder r;
    r.answer = true;
    THostKeyOffer offer(key(QStringLiteral("127.0.0.1"), 2222, 'a'),
                        blocker + QStringLiteral("/known_hosts"));
    EXPECT_EQ(r.run(offer), THostKeyOffer::Failed);
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(
        r.errors.at(0).startsWith(QStringLiteral("The host key of [127.0.0.1]:2222 could not be trusted.")))
        << r.errors.at(0).toStdString();
    EXPECT_EQ(readFile(blocker), QByteArray("not a folder"));
}

TEST(HostKeyOffer, DistinctKeysKeepTheFirstOfEach)
{
    const TSshHostKey a = key(QStringLiteral("a.example"), 22, 'a');
    const TSshHostKey b = key(QStringLiteral("a.example"), 2222, 'a');
    const TSshHostKey c = key(QStringLiteral("a.example"), 22, 'c');
    const QList<TSshHostKey> distinct = DistinctHostKeys({ a, b, a, c, TSshHostKey(), b });
    ASSERT_EQ(distinct.size(), 3);
    EXPECT_EQ(distinct.at(0).Port, 22);
    EXPECT_EQ(distinct.at(1).Port, 2222);
    EXPECT_EQ(distinct.at(2).Blob, c.Blob);
}

TEST(HostKeyOffer, OnlyAnotherKeyTypeKnownIsNamedInTheWarningAndRevokedKeysAreNotOffered)
{
    bwtest::TestSandbox sandbox;
    const QString knownHosts = sandbox.path(QStringLiteral("known_hosts"));
    TSshHostKey k = key(QStringLiteral("example.org"), 2222, 'n', true);
    k.KnownTypes = QStringList { QStringLiteral("ecdsa-sha2-nistp256"), QStringLiteral("ssh-rsa") };
    Recorder r;
    r.answer = true;
    THostKeyOffer offer(k, knownHosts);
    EXPECT_EQ(r.run(offer), THostKeyOffer::Refused);
    ASSERT_EQ(r.warned.size(), 1);
    EXPECT_TRUE(r.warned.at(0).contains(
        QStringLiteral("%1 lists only ecdsa-sha2-nistp256, ssh-rsa keys for this server.").arg(knownHosts)))
        << r.warned.at(0).toStdString();
    // The same type known: no such sentence.
    k.KnownTypes = QStringList { QStringLiteral("ssh-ed25519") };
    EXPECT_FALSE(THostKeyOffer(k, knownHosts).ChangedWarning().contains(QStringLiteral("lists only")));

    TSshHostKey revoked = key(QStringLiteral("example.org"), 22, 'r');
    revoked.Revoked = true;
    Recorder never;
    never.answer = true;
    THostKeyOffer refused(revoked, knownHosts);
    EXPECT_EQ(never.run(refused), THostKeyOffer::Declined);
    EXPECT_TRUE(never.asked.isEmpty());
    EXPECT_FALSE(QFile::exists(knownHosts));
}

TEST(HostKeyTrust, TrustingOnlyAppendsAndKeepsEveryOtherLine)
{
    bwtest::TestSandbox sandbox;
    // Lines for the same host and port: hashed, plain of the same type,
    // another type, a comment; the last line has no line break.
    const QByteArray before
        = "# kept as it is\n"
          "|1|16PK8ZAgSzwYgt+wtk0bWOgAtKM=|TEK+tJyiY38GOjWlRlbtCvCeDWk= ssh-ed25519 "
          "AAAAC3NzaC1lZDI1NTE5AAAAIAW9eY/iQP9xOYnN3dLmoTjqLS2rwDsoW5IZBYjSVD0b\n"
          "[files.example.org]:2222 ssh-ed25519 "
          "AAAAC3NzaC1lZDI1NTE5AAAAILDtLgDbdTfAnzmcUv7rS9GC2IxHzXEXkFi6voKbW6CF\n"
          "[files.example.org]:2222 ecdsa-sha2-nistp256 "
          "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBH5oWaHnNVAiQu3O03VC9Gp3nZ/"
          "RLdcewt4lmpDx9T8VvUD75DcZb6K2yJ0UDP3M43beMTEks2X8RF0NZZIRMZ8=";
    const QString knownHosts = sandbox.writeFile(QStringLiteral("ssh/known_hosts"), before);
    const QFileDevice::Permissions mode
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(knownHosts, mode));
    const TSshHostKey k = key(QStringLiteral("files.example.org"), 2222, 'x', true);
    QString error;
    ASSERT_TRUE(TrustHostKey(k, &error, knownHosts)) << error.toStdString();
    EXPECT_EQ(readFile(knownHosts),
              before
                  + "\n[files.example.org]:2222 ssh-ed25519 "
                    "AAAAC3NzaC1lZDI1NTE5AAAAIHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4\n");
    // Owner, group and others' bits as they were.
    EXPECT_EQ(QFile::permissions(knownHosts) & QFileDevice::Permissions(0x7077), mode);

    // A known_hosts that is no regular file is refused, not read.
    const QString link = sandbox.path(QStringLiteral("zero/known_hosts"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), link));
    EXPECT_FALSE(TrustHostKey(k, &error, link));
    EXPECT_EQ(error, QStringLiteral("Cannot read %1: it is not a regular file").arg(link));
}
