#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

namespace bwtest {

// A Python server on 127.0.0.1 started from a script that this support
// writes itself; it binds a free port and reports it through a file. Every
// wait is bounded; the process is killed when the object goes.
class PythonServer
{
public:
    virtual ~PythonServer();
    PythonServer(const PythonServer &) = delete;
    PythonServer &operator=(const PythonServer &) = delete;

    quint16 port() const { return FPort; }
    // Everything the server wrote to stdout and stderr so far.
    QByteArray log() const;

protected:
    PythonServer() = default;
    // Writes script into the work folder, runs it with the system Python and
    // the arguments, and waits (at most 20 s) for the port it reports.
    void start(const QByteArray &script, const QStringList &arguments);
    QString workPath(const QString &name) const { return FWork.filePath(name); }

private:
    QTemporaryDir FWork;
    QProcess FProcess;
    quint16 FPort = 0;
};

// A throw-away certificate authority and a server certificate it signed
// for 127.0.0.1 and localhost, made with openssl in a temporary folder.
class TestCa
{
public:
    TestCa();
    QString caFile() const { return FWork.filePath(QStringLiteral("ca.pem")); }
    QString certFile() const { return FWork.filePath(QStringLiteral("server.pem")); }
    QString keyFile() const { return FWork.filePath(QStringLiteral("server.key")); }

private:
    QTemporaryDir FWork;
};

// pyftpdlib server with one user (full rights in home, active mode allowed).
// A readLimit above 0 throttles uploads to that many bytes per second.
class FtpServer : public PythonServer
{
public:
    struct Options
    {
        qint64 cutUploadsAfter = 0; // reset the data connection after so many bytes (0: never)
        int cutOnlyUpload
            = 0; // with cutUploadsAfter: only the STOR of this number (1: the first); 0: every one
        bool stallAfterUpload = false; // take the data, never confirm it with 226
        int readLimit = 0; // bytes per second the server reads at most (0: no limit)
        bool noRename = false; // RNFR and RNTO unknown: answered "500 not understood"
        bool refuseRnto = false; // every RNTO answered "553 ... rename refused"
        bool noOverwrite = false; // RNTO onto an existing name answered "553 ... rename refused"
        // Closes the control connection without a reply at the RNFR of this
        // number (1: the first the server gets, over all connections);
        // -1: at every RNFR; 0: never.
        int dropAtRnfr = 0;
        // With a certificate: TLS_FTPHandler, AUTH TLS and PROT P required.
        QString certFile;
        QString keyFile;
    };
    FtpServer(const QString &user, const QString &password, const QString &home, const Options &options);
    FtpServer(const QString &user, const QString &password, const QString &home)
        : FtpServer(user, password, home, Options())
    { }
    // "127.0.0.1:port", the host text the FTP client takes.
    QString host() const;
    // The commands received so far, such as "CWD upload" (passwords masked).
    QStringList commands() const;
};

// aiosmtpd server that stores each accepted message as NNN.eml (the DATA as
// received) beside NNN.env (envelope: "from", "to" lines, "auth" yes/no).
class SmtpServer : public PythonServer
{
public:
    struct Options
    {
        QString user = QStringLiteral("mailer");
        QString password = QStringLiteral("s3cret");
        bool offerAuth = true; // advertise AUTH LOGIN (without TLS, on loopback)
        QStringList refuse; // recipients answered with 550
        bool stallAfterData = false; // take the message, never answer it
        // Take every connection and never greet (counted in connections()).
        bool stallAtGreeting = false;
        enum Tls { NoTls, StartTls, ImplicitTls };
        Tls tls = NoTls; // with TLS, AUTH is offered only over TLS
        QString certFile;
        QString keyFile;
    };
    explicit SmtpServer(const Options &options);
    SmtpServer()
        : SmtpServer(Options())
    { }
    QString folder() const { return workPath(QStringLiteral("mail")); }
    // The messages stored so far, raw, in arrival order.
    QList<QByteArray> messages() const;
    // Envelope of message index (0-based) as "key: value" lines; a server
    // with TLS adds "tls: yes" or "tls: no".
    QByteArray envelope(int index) const;
    // One line per AUTH the server received, with the mechanism.
    QByteArray authAttempts() const;
    // Connections taken so far by a server that stalls at the greeting.
    int connections() const;
};

// http.server over a folder.
class HttpServer : public PythonServer
{
public:
    explicit HttpServer(const QString &folder);
    // "http://127.0.0.1:port/" followed by path.
    QString url(const QString &path) const;
};

// Hides the ssh-agent of whoever runs the tests while it lives, so that
// only the key a test set up logs in.
class NoSshAgent
{
public:
    NoSshAgent()
        : FAgent(qgetenv("SSH_AUTH_SOCK"))
    {
        qunsetenv("SSH_AUTH_SOCK");
    }
    ~NoSshAgent()
    {
        if (!FAgent.isEmpty())
            qputenv("SSH_AUTH_SOCK", FAgent);
    }
    NoSshAgent(const NoSshAgent &) = delete;
    NoSshAgent &operator=(const NoSshAgent &) = delete;

private:
    QByteArray FAgent;
};

// OpenSSH's sshd on 127.0.0.1 and a free port, from a configuration, an
// ed25519 host key and an authorized client key generated in its own
// temporary folder. Logins only by key, as the user running the tests; SFTP
// through internal-sftp, starting in home. Every wait is bounded; the server
// and every session process it forked are killed when the object goes.
class SshServer
{
public:
    explicit SshServer(const QString &home)
        : SshServer(home, {})
    { }
    // deniedRequests: SFTP requests the server refuses (sftp-server -P),
    // such as "rename".
    SshServer(const QString &home, const QStringList &deniedRequests);
    ~SshServer();
    SshServer(const SshServer &) = delete;
    SshServer &operator=(const SshServer &) = delete;

    quint16 port() const { return FPort; }
    // "sftp://127.0.0.1:port", the host text the FTP client takes.
    QString host() const;
    // The authorized client key (private, OpenSSH format).
    QString clientKey() const { return FWork.filePath(QStringLiteral("client_key")); }
    // The host key's known_hosts line and fingerprint, as OpenSSH's tools
    // print them.
    QByteArray knownHostsLine() const;
    QString fingerprint() const;
    // Copies the client key to ~/.ssh/id_ed25519 and writes the host key to
    // ~/.ssh/known_hosts, as a user who has set up SFTP has them.
    void setUpClient() const;
    // Kills the server and its sessions at once (a server dying mid-transfer).
    void kill();
    QByteArray log() const;

private:
    QTemporaryDir FWork;
    QProcess FProcess;
    quint16 FPort = 0;
};

// s3rver (tests/s3/package.json, installed into BW_BINARY_DIR/s3rver by
// scripts/test.sh with npm ci) on 127.0.0.1 and a free port, storing into
// its own temporary folder, with the buckets given already made. It knows
// one key pair, S3RVER / S3RVER: it refuses another access key id
// (InvalidAccessKeyId) but does not check Signature Version 4 signatures.
// The server is killed when the object goes.
class S3Server
{
public:
    explicit S3Server(const QStringList &buckets = { QStringLiteral("bundlewick") });
    ~S3Server();
    S3Server(const S3Server &) = delete;
    S3Server &operator=(const S3Server &) = delete;

    quint16 port() const { return FPort; }
    // "http://127.0.0.1:port", the endpoint the S3 client takes.
    QString endpoint() const;
    // The stored objects of a bucket, by key (s3rver's own files left out).
    QStringList keys(const QString &bucket) const;
    QByteArray log() const;

private:
    QTemporaryDir FWork;
    QProcess FProcess;
    quint16 FPort = 0;
};

// Accepts connections and never says a word: for time-outs.
class SilentServer
{
public:
    SilentServer();
    quint16 port() const { return FServer.serverPort(); }

private:
    QTcpServer FServer;
};

} // namespace bwtest
