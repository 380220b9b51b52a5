#include "core/exceptions.h"
#include "network/knownhosts.h"
#include "support/testenv.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Keys made once with ssh-keygen, as their known_hosts text.
const QByteArray KeyA = "AAAAC3NzaC1lZDI1NTE5AAAAILDtLgDbdTfAnzmcUv7rS9GC2IxHzXEXkFi6voKbW6CF";
const QByteArray KeyB = "AAAAC3NzaC1lZDI1NTE5AAAAIAW9eY/iQP9xOYnN3dLmoTjqLS2rwDsoW5IZBYjSVD0b";
const QByteArray KeyC = "AAAAC3NzaC1lZDI1NTE5AAAAIOExKNWpL6EdAY2njKmMfJqyiePc5Vqef698QfAd+JxR";
const QByteArray KeyEcdsa = "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBH5oWaHnNVAiQu3O03VC9Gp3nZ/"
                            "RLdcewt4lmpDx9T8VvUD75DcZb6K2yJ0UDP3M43beMTEks2X8RF0NZZIRMZ8=";

// The key as the server sends it.
QByteArray blob(const QByteArray &text)
{
    return QByteArray::fromBase64(text);
}

TKnownHosts::TStatus check(const QByteArray &content, const char *host, int port, const QByteArray &key)
{
    return TKnownHosts(content).Check(QString::fromLatin1(host), port, blob(key));
}

// What ReadFile's failure says, or "" when it read the file.
QString readFailure(const QString &path)
{
    try {
        TKnownHosts::ReadFile(path);
    } catch (const EOSError &e) {
        return e.Message();
    }
    return {};
}

} // namespace

TEST(KnownHosts, UnreadableLinesAreSkippedAndTheRestStillCount)
{
    const QByteArray content = "files.example.org ssh-ed25519 AAAAC3NzaC1lZDI1NTE5%%typo\n"
                               "files.example.org ssh-ed25519\n"
                               "@unknown files.example.org ssh-ed25519 "
        + KeyB
        + "\n"
          "files.example.org ssh-rsa "
        + KeyB
        + "\n"
          "files.example.org 2048 35 2546781926183765\n"
          "|1|c2FsdA==|aGFzaA== ssh-ed25519 "
        + KeyB
        + "\n"
          "   # a comment\n"
          "\n"
          "files.example.org\tssh-ed25519 "
        + KeyA + " admin@laptop\r\n";
    EXPECT_EQ(TKnownHosts(content).Count(), 1);
    EXPECT_EQ(check(content, "files.example.org", 22, KeyA), TKnownHosts::Known);
    // The lines that could not be read name nothing: another key is a
    // changed one because of the one good line.
    QStringList types;
    EXPECT_EQ(TKnownHosts(content).Check(QStringLiteral("files.example.org"), 22, blob(KeyB), &types),
              TKnownHosts::Changed);
    EXPECT_EQ(types, QStringList { QStringLiteral("ssh-ed25519") });
    EXPECT_EQ(check(content, "other.example.org", 22, KeyB), TKnownHosts::Unknown);

    // Another key after a bad line is changed, not unknown.
    const QByteArray typoFirst = "files.example.org ssh-ed25519 not base64 at all\n"
                                 "files.example.org ssh-ed25519 "
        + KeyA + "\n";
    EXPECT_EQ(check(typoFirst, "files.example.org", 22, KeyB), TKnownHosts::Changed);
    EXPECT_EQ(check(QByteArray(), "files.example.org", 22, KeyA), TKnownHosts::Unknown);
}

TEST(KnownHosts, MarkersRevokeOrVouchForCertificatesOnly)
{
    // A revoked key is refused even though a plain line lists it.
    const QByteArray revoked
        = "files.example.org ssh-ed25519 " + KeyA + "\n@revoked * ssh-ed25519 " + KeyA + "\n";
    EXPECT_EQ(check(revoked, "files.example.org", 22, KeyA), TKnownHosts::Revoked);
    EXPECT_EQ(check(revoked, "other.example.org", 2222, KeyA), TKnownHosts::Revoked);
    EXPECT_EQ(check(revoked, "files.example.org", 22, KeyB), TKnownHosts::Changed);
    // A revocation for other hosts only leaves this one alone.
    const QByteArray elsewhere
        = "files.example.org ssh-ed25519 " + KeyA + "\n@revoked old.example.org ssh-ed25519 " + KeyA + "\n";
    EXPECT_EQ(check(elsewhere, "files.example.org", 22, KeyA), TKnownHosts::Known);
    EXPECT_EQ(check(elsewhere, "old.example.org", 22, KeyA), TKnownHosts::Revoked);

    // A certificate authority's key is no host key, even the same bytes.
    const QByteArray authority = "@cert-authority *.example.org ssh-ed25519 " + KeyA + "\n";
    EXPECT_EQ(check(authority, "files.example.org", 22, KeyA), TKnownHosts::Unknown);
    EXPECT_EQ(check(authority, "files.example.org", 22, KeyB), TKnownHosts::Unknown);
    EXPECT_EQ(
        check(authority + "files.example.org ssh-ed25519 " + KeyB + "\n", "files.example.org", 22, KeyB),
        TKnownHosts::Known);
}

TEST(KnownHosts, PortsAreMatchedAsSshDoes)
{
    const QByteArray bare = "files.example.org ssh-ed25519 " + KeyA + "\n";
    EXPECT_EQ(check(bare, "files.example.org", 22, KeyA), TKnownHosts::Known);
    EXPECT_EQ(check(bare, "files.example.org", 2222, KeyA), TKnownHosts::Unknown);
    EXPECT_EQ(check(bare, "files.example.org", 2222, KeyB), TKnownHosts::Unknown);

    const QByteArray ports = bare + "[files.example.org]:2222 ssh-ed25519 " + KeyB + "\n"
        + "[other.example.org]:22 ssh-ed25519 " + KeyC + "\n";
    EXPECT_EQ(check(ports, "files.example.org", 2222, KeyB), TKnownHosts::Known);
    EXPECT_EQ(check(ports, "files.example.org", 2222, KeyA), TKnownHosts::Changed);
    EXPECT_EQ(check(ports, "files.example.org", 22, KeyB), TKnownHosts::Changed);
    EXPECT_EQ(check(ports, "files.example.org", 2223, KeyB), TKnownHosts::Unknown);
    EXPECT_EQ(check(ports, "other.example.org", 22, KeyC), TKnownHosts::Known);
    EXPECT_EQ(check(ports, "other.example.org", 2222, KeyC), TKnownHosts::Unknown);
    // Names compare without regard to case.
    EXPECT_EQ(check(ports, "Files.EXAMPLE.org", 2222, KeyB), TKnownHosts::Known);
}

TEST(KnownHosts, HashedNamesListsNegationAndWildcards)
{
    // ssh-keygen -H of "files.example.org" with KeyA and of
    // "[files.example.org]:2222" with KeyB.
    const QByteArray hashed = "|1|AvU7+26iapkcwblReL2sAQeHZA8=|QYYFooopRY7FZEwVWzpovxFUnH8= ssh-ed25519 "
        + KeyA + "\n|1|16PK8ZAgSzwYgt+wtk0bWOgAtKM=|TEK+tJyiY38GOjWlRlbtCvCeDWk= ssh-ed25519 " + KeyB + "\n";
    EXPECT_EQ(check(hashed, "files.example.org", 22, KeyA), TKnownHosts::Known);
    EXPECT_EQ(check(hashed, "files.example.org", 2222, KeyB), TKnownHosts::Known);
    EXPECT_EQ(check(hashed, "files.example.org", 2222, KeyA), TKnownHosts::Changed);
    EXPECT_EQ(check(hashed, "files.example.org", 22, KeyC), TKnownHosts::Changed);
    EXPECT_EQ(check(hashed, "other.example.org", 22, KeyA), TKnownHosts::Unknown);

    const QByteArray patterns = "*.example.org,!secret.example.org ssh-ed25519 " + KeyC + "\n"
        + "build??.lan,10.0.0.5 ssh-ed25519 " + KeyA + "\n" + "!files.lan,*.lan ssh-ed25519 " + KeyB + "\n"
        + "[*.example.org]:2222 ssh-ed25519 " + KeyB + "\n";
    EXPECT_EQ(check(patterns, "www.example.org", 22, KeyC), TKnownHosts::Known);
    EXPECT_EQ(check(patterns, "secret.example.org", 22, KeyC), TKnownHosts::Unknown);
    EXPECT_EQ(check(patterns, "example.org", 22, KeyC), TKnownHosts::Unknown);
    EXPECT_EQ(check(patterns, "build01.lan", 22, KeyA), TKnownHosts::Known);
    EXPECT_EQ(check(patterns, "build1.lan", 22, KeyB), TKnownHosts::Known);
    EXPECT_EQ(check(patterns, "build1.lan", 22, KeyA), TKnownHosts::Changed);
    EXPECT_EQ(check(patterns, "10.0.0.5", 22, KeyA), TKnownHosts::Known);
    // A negated name rules its line out, wherever it stands in the list.
    EXPECT_EQ(check(patterns, "files.lan", 22, KeyB), TKnownHosts::Unknown);
    // A plain pattern names port 22 only.
    EXPECT_EQ(check(patterns, "www.example.org", 2222, KeyC), TKnownHosts::Changed);
    EXPECT_EQ(check(patterns, "www.example.org", 2222, KeyB), TKnownHosts::Known);
}

TEST(KnownHosts, AnyKeyForTheHostMakesAnotherOneChanged)
{
    // Only another key type is known: ssh would have asked the server for
    // that type; a key of another type is reported as changed.
    const QByteArray content = "[files.example.org]:2222 ecdsa-sha2-nistp256 " + KeyEcdsa + "\n"
        + "files.example.org ssh-ed25519 " + KeyA + "\n";
    QStringList types;
    EXPECT_EQ(TKnownHosts(content).Check(QStringLiteral("files.example.org"), 2222, blob(KeyB), &types),
              TKnownHosts::Changed);
    EXPECT_EQ(types, QStringList { QStringLiteral("ecdsa-sha2-nistp256") });
    EXPECT_EQ(check(content, "files.example.org", 2222, KeyEcdsa), TKnownHosts::Known);
}

TEST(KnownHosts, OnlyARegularFileOfSaneSizeIsRead)
{
    bwtest::TestSandbox sandbox;
    EXPECT_EQ(TKnownHosts::ReadFile(sandbox.path(QStringLiteral("missing"))), QByteArray());
    EXPECT_EQ(TKnownHosts::ReadFile(sandbox.path(QStringLiteral("no/folder/known_hosts"))), QByteArray());
    const QString plain = sandbox.writeFile(QStringLiteral("plain"), "a b c\n");
    EXPECT_EQ(TKnownHosts::ReadFile(plain), QByteArray("a b c\n"));

    // Neither waits for a writer nor reads for ever.
    const QString fifo = sandbox.path(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(readFailure(fifo), QStringLiteral("Cannot read %1: it is not a regular file").arg(fifo));
    const QString zero = sandbox.path(QStringLiteral("zero"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    EXPECT_EQ(readFailure(zero), QStringLiteral("Cannot read %1: it is not a regular file").arg(zero));
    EXPECT_EQ(readFailure(sandbox.root()),
              QStringLiteral("Cannot read %1: it is not a regular file").arg(sandbox.root()));

    const QString full = sandbox.writeFile(QStringLiteral("full"), QByteArray(4 * 1024 * 1024, '#'));
    EXPECT_EQ(TKnownHosts::ReadFile(full).size(), 4 * 1024 * 1024);
    const QString large = sandbox.writeFile(QStringLiteral("large"), QByteArray(4 * 1024 * 1024 + 1, '#'));
    EXPECT_EQ(readFailure(large), QStringLiteral("Cannot read %1: it is larger than 4 MiB").arg(large));
    EXPECT_THROW(TKnownHosts::Load(large), EOSError);
}
