#include "servers.h"

#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace bwtest {

namespace {

// Every script takes the port file as its first argument and writes the
// bound port to it through a rename, so that a reader never sees half of it.
const char *const ftpScript = R"PY(
import os, socket, struct, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

port_file, user, password, home, command_log, cut_after, stall, read_limit, tls_cert, tls_key, no_rename, \
    refuse_rnto, no_overwrite, drop_at_rnfr, cut_only = sys.argv[1:16]
cut_after = int(cut_after)
cut_only = int(cut_only)
stor_count = [0]
cut_now = [cut_after]
drop_at_rnfr = int(drop_at_rnfr)
rnfr_count = [0]
read_limit = int(read_limit)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, home, perm='elradfmwMT')

BaseHandler, BaseData = FTPHandler, DTPHandler
if tls_cert:
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
    BaseHandler, BaseData = TLS_FTPHandler, TLS_DTPHandler

class DataHandler(BaseData):
    # Breaks an upload off after cut_after bytes: the connection is reset
    # and the partial file stays where it was written.
    def handle_read(self):
        super().handle_read()
        if cut_now[0] and self.receive and self.tot_bytes_received >= cut_now[0] and not self._closed:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            self.close()

    handle_read_event = handle_read

    # libcurl starts the TLS handshake of a passive data connection as soon
    # as it has connected, before the transfer command; pyftpdlib would drop
    # such a connection as idle.
    def readable(self):
        if getattr(self, '_ssl_accepting', False) or getattr(self, '_ssl_want_read', False):
            return True
        return super().readable()

class Handler(BaseHandler):
    def pre_process_command(self, line, cmd, arg):
        with open(command_log, 'a', encoding='utf-8') as log:
            log.write(('PASS ****' if cmd == 'PASS' else line) + '\n')
        if cmd == 'STOR' and self.authenticated:
            stor_count[0] += 1
            cut_now[0] = cut_after if not cut_only or stor_count[0] == cut_only else 0
        if cmd == 'RNFR' and drop_at_rnfr and self.authenticated:
            # The connection breaks down at a rename: no reply at all.
            rnfr_count[0] += 1
            if drop_at_rnfr < 0 or rnfr_count[0] == drop_at_rnfr:
                self.close()
                return
        if cmd == 'RNTO' and self._rnfr and arg and (
                refuse_rnto == '1' or (no_overwrite == '1' and self.fs.lexists(self.fs.ftp2fs(arg)))):
            self._rnfr = None
            self.respond('553 Requested action not taken: rename refused.')
            return
        return super().pre_process_command(line, cmd, arg)

    def respond(self, resp, logfun=None):
        # A stalling server takes the whole upload and never confirms it.
        if stall == '1' and resp.startswith('226'):
            return
        if logfun is None:
            return super().respond(resp)
        return super().respond(resp, logfun)

if no_rename == '1':
    # A server that cannot rename: pyftpdlib answers unknown commands with 500.
    Handler.proto_cmds = {k: v for k, v in BaseHandler.proto_cmds.items() if k not in ('RNFR', 'RNTO')}
Handler.authorizer = authorizer
Handler.dtp_handler = DataHandler
if read_limit > 0:
    # A slow server: uploads take a while, for tests that act mid-transfer.
    from pyftpdlib.handlers import ThrottledDTPHandler
    class Throttled(ThrottledDTPHandler):
        pass
    Throttled.read_limit = read_limit
    Handler.dtp_handler = Throttled
if tls_cert:
    Handler.certfile = tls_cert
    Handler.keyfile = tls_key
    Handler.tls_control_required = True
    Handler.tls_data_required = True
Handler.timeout = 60
Handler.auth_failed_timeout = 0.1
server = FTPServer(('127.0.0.1', 0), Handler)
with open(port_file + '.tmp', 'w') as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(port_file + '.tmp', port_file)
server.serve_forever()
)PY";

const char *const smtpScript = R"PY(
import asyncio, os, ssl, sys
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

port_file, folder, user, password, offer_auth, refuse, stall, tls, tls_cert, tls_key = sys.argv[1:11]
refused = set(a.lower() for a in refuse.split(',') if a)
os.makedirs(folder, exist_ok=True)

def over_tls(server, session):
    # STARTTLS sets session.ssl; implicit TLS shows only on the transport.
    return bool(session.ssl) or server.transport.get_extra_info('ssl_object') is not None

class Handler:
    count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in refused:
            return '550 5.1.1 <%s>: Recipient address rejected' % address
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        if stall == '1':
            await asyncio.sleep(3600)
        Handler.count += 1
        base = os.path.join(folder, '%03d' % Handler.count)
        with open(base + '.env', 'w', encoding='utf-8') as f:
            f.write('from: %s\n' % envelope.mail_from)
            for rcpt in envelope.rcpt_tos:
                f.write('to: %s\n' % rcpt)
            f.write('auth: %s\n' % ('yes' if session.authenticated else 'no'))
            if tls != 'none':
                f.write('tls: %s\n' % ('yes' if over_tls(server, session) else 'no'))
        with open(base + '.tmp', 'wb') as f:
            f.write(envelope.original_content)
        os.rename(base + '.tmp', base + '.eml')
        return '250 Message accepted for delivery'

class Mute(asyncio.Protocol):
    # Takes the connection and never greets: a server that hangs.
    def connection_made(self, transport):
        with open(os.path.join(folder, 'connections.log'), 'a') as f:
            f.write('connected\n')
        self.transport = transport

def authenticator(server, session, envelope, mechanism, auth_data):
    with open(os.path.join(folder, 'auth.log'), 'a', encoding='utf-8') as f:
        f.write('%s tls=%s\n' % (mechanism, 'yes' if over_tls(server, session) else 'no'))
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
          and auth_data.password == password.encode())
    return AuthResult(success=ok, handled=False)

async def main():
    loop = asyncio.get_running_loop()
    handler = Handler()
    context = None
    if tls != 'none':
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(tls_cert, tls_key)
    options = dict(hostname='localhost', loop=loop)
    if offer_auth == '1':
        # With STARTTLS, AUTH only once the connection is encrypted (an
        # implicit TLS connection is encrypted from the start).
        options.update(authenticator=authenticator, auth_require_tls=tls == 'starttls')
    if tls == 'starttls':
        options.update(tls_context=context, require_starttls=offer_auth == '1')
    factory = lambda: SMTP(handler, **options)
    if stall == 'greeting':
        factory = Mute
    server = await loop.create_server(factory, '127.0.0.1', 0, ssl=context if tls == 'implicit' else None)
    with open(port_file + '.tmp', 'w') as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.rename(port_file + '.tmp', port_file)
    await server.serve_forever()

asyncio.run(main())
)PY";

const char *const httpScript = R"PY(
import functools, http.server, os, sys

port_file, folder = sys.argv[1:3]
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=folder)
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
with open(port_file + '.tmp', 'w') as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + '.tmp', port_file)
server.serve_forever()
)PY";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

PythonServer::~PythonServer()
{
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QByteArray PythonServer::log() const
{
    return readAll(workPath(QStringLiteral("server.log")));
}

void PythonServer::start(const QByteArray &script, const QStringList &arguments)
{
    if (!FWork.isValid())
        throw std::runtime_error("cannot create the server's work folder");
    const QString scriptPath = workPath(QStringLiteral("server.py"));
    QFile file(scriptPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        throw std::runtime_error("cannot write the server script");
    file.close();
    const QString portFile = workPath(QStringLiteral("port"));

    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    FProcess.setStandardOutputFile(workPath(QStringLiteral("server.log")));
    FProcess.setStandardInputFile(QProcess::nullDevice());
    FProcess.start(systemPython(), QStringList { QStringLiteral("-u"), scriptPath, portFile } + arguments);
    if (!FProcess.waitForStarted(10000))
        throw std::runtime_error("cannot start " + systemPython().toStdString());

    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(portFile)) {
        if (FProcess.state() == QProcess::NotRunning)
            throw std::runtime_error("the test server ended early:\n" + log().toStdString());
        if (clock.elapsed() > 20000)
            throw std::runtime_error("the test server did not start in time:\n" + log().toStdString());
        FProcess.waitForFinished(20);
    }
    FPort = quint16(readAll(portFile).trimmed().toUInt());
    if (FPort == 0)
        throw std::runtime_error("the test server reported no port");
}

FtpServer::FtpServer(const QString &user, const QString &password, const QString &home,
                     const Options &options)
{
    QDir().mkpath(home);
    start(ftpScript,
          { user, password, home, workPath(QStringLiteral("commands.log")),
            QString::number(options.cutUploadsAfter),
            options.stallAfterUpload ? QStringLiteral("1") : QStringLiteral("0"),
            QString::number(options.readLimit), options.certFile, options.keyFile,
            options.noRename ? QStringLiteral("1") : QStringLiteral("0"),
            options.refuseRnto ? QStringLiteral("1") : QStringLiteral("0"),
            options.noOverwrite ? QStringLiteral("1") : QStringLiteral("0"),
            QString::number(options.dropAtRnfr), QString::number(options.cutOnlyUpload) });
}

QString FtpServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

QStringList FtpServer::commands() const
{
    QStringList result;
    const QList<QByteArray> lines = readAll(workPath(QStringLiteral("commands.log"))).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.trimmed().isEmpty())
            result << QString::fromUtf8(line.trimmed());
    }
    return result;
}

SmtpServer::SmtpServer(const Options &options)
{
    start(smtpScript,
          { folder(), options.user, options.password,
            options.offerAuth ? QStringLiteral("1") : QStringLiteral("0"),
            options.refuse.join(QLatin1Char(',')),
            options.stallAtGreeting      ? QStringLiteral("greeting")
                : options.stallAfterData ? QStringLiteral("1")
                                         : QStringLiteral("0"),
            options.tls == Options::StartTls          ? QStringLiteral("starttls")
                : options.tls == Options::ImplicitTls ? QStringLiteral("implicit")
                                                      : QStringLiteral("none"),
            options.certFile, options.keyFile });
}

int SmtpServer::connections() const
{
    return int(readAll(folder() + QStringLiteral("/connections.log")).count('\n'));
}

QByteArray SmtpServer::authAttempts() const
{
    return readAll(folder() + QStringLiteral("/auth.log"));
}

QList<QByteArray> SmtpServer::messages() const
{
    QList<QByteArray> result;
    const QStringList names = QDir(folder()).entryList({ QStringLiteral("*.eml") }, QDir::Files, QDir::Name);
    for (const QString &name : names)
        result << readAll(folder() + QLatin1Char('/') + name);
    return result;
}

QByteArray SmtpServer::envelope(int index) const
{
    return readAll(folder() + QStringLiteral("/%1.env").arg(index + 1, 3, 10, QLatin1Char('0')));
}

HttpServer::HttpServer(const QString &folder)
{
    start(httpScript, { folder });
}

QString HttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port()) + path;
}

namespace {

void runOrThrow(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    if (runProgram(program, args, out) != 0)
        throw std::runtime_error((program + QLatin1Char(' ') + args.join(QLatin1Char(' '))).toStdString()
                                 + " failed");
}

void writeOrThrow(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// The ids of every process below pid, read from /proc.
QList<qint64> descendants(qint64 pid)
{
    QMultiMap<qint64, qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 id = entry.toLongLong(&ok);
        if (!ok)
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(id));
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1)
            children.insert(fields[1].toLongLong(), id);
    }
    QList<qint64> result;
    QList<qint64> pending { pid };
    while (!pending.isEmpty()) {
        for (qint64 child : children.values(pending.takeFirst())) {
            result << child;
            pending << child;
        }
    }
    return result;
}

} // namespace

TestCa::TestCa()
{
    if (!FWork.isValid())
        throw std::runtime_error("cannot create the authority's folder");
    const QString openssl = QStringLiteral("/usr/bin/openssl");
    const QString dir = FWork.path() + QLatin1Char('/');
    const QStringList ecKey { QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                              QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes") };
    runOrThrow(
        openssl,
        QStringList { QStringLiteral("req"), QStringLiteral("-x509") } + ecKey
            + QStringList { QStringLiteral("-keyout"), dir + QStringLiteral("ca.key"), QStringLiteral("-out"),
                            caFile(), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                            QStringLiteral("/CN=Bundlewick Test Authority"), QStringLiteral("-addext"),
                            QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-addext"),
                            QStringLiteral("keyUsage=critical,keyCertSign,cRLSign") });
    runOrThrow(openssl,
               QStringList { QStringLiteral("req") } + ecKey
                   + QStringList { QStringLiteral("-keyout"), keyFile(), QStringLiteral("-out"),
                                   dir + QStringLiteral("server.csr"), QStringLiteral("-subj"),
                                   QStringLiteral("/CN=127.0.0.1") });
    writeOrThrow(dir + QStringLiteral("server.ext"),
                 "basicConstraints=CA:FALSE\n"
                 "keyUsage=critical,digitalSignature,keyEncipherment\n"
                 "extendedKeyUsage=serverAuth\n"
                 "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    runOrThrow(openssl,
               { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                 dir + QStringLiteral("server.csr"), QStringLiteral("-CA"), caFile(),
                 QStringLiteral("-CAkey"), dir + QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                 QStringLiteral("-out"), certFile(), QStringLiteral("-days"), QStringLiteral("2"),
                 QStringLiteral("-extfile"), dir + QStringLiteral("server.ext") });
}

SshServer::SshServer(const QString &home, const QStringList &deniedRequests)
{
    if (!FWork.isValid())
        throw std::runtime_error("cannot create the SSH server's folder");
    QDir().mkpath(home);
    const QString dir = FWork.path() + QLatin1Char('/');
    const QString keygen = QStringLiteral("/usr/bin/ssh-keygen");
    for (const QString &name : { QStringLiteral("host_key"), QStringLiteral("client_key") }) {
        runOrThrow(keygen,
                   { QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                     QStringLiteral("-N"), QString(), QStringLiteral("-C"), name, QStringLiteral("-f"),
                     dir + name });
    }
    // Run as root, sshd wants its privilege separation folder, which only
    // the system's own service start creates.
    if (geteuid() == 0 && !QFileInfo::exists(QStringLiteral("/run/sshd")))
        ::mkdir("/run/sshd", 0755);
    if (dir.contains(QLatin1Char(' ')) || home.contains(QLatin1Char(' ')))
        throw std::runtime_error("sshd's paths must not hold blanks");

    const QByteArray config = "ListenAddress 127.0.0.1\n"
                              "HostKey "
        + QFile::encodeName(dir + QStringLiteral("host_key"))
        + "\n"
          "PidFile none\n"
          "UsePAM no\n"
          "StrictModes no\n"
          "PermitRootLogin prohibit-password\n"
          "PubkeyAuthentication yes\n"
          "PasswordAuthentication no\n"
          "KbdInteractiveAuthentication no\n"
          "AuthorizedKeysFile "
        + QFile::encodeName(dir + QStringLiteral("client_key.pub"))
        + "\n"
          "X11Forwarding no\n"
          "AllowTcpForwarding no\n"
          "Subsystem sftp internal-sftp -d "
        + QFile::encodeName(home)
        + (deniedRequests.isEmpty() ? QByteArray()
                                    : " -P " + deniedRequests.join(QLatin1Char(',')).toLatin1())
        + "\n"
          "LogLevel VERBOSE\n";
    writeOrThrow(dir + QStringLiteral("sshd_config"), config);

    // The port was free a moment ago; another process may take it first.
    for (int attempt = 0; attempt < 5 && FPort == 0; ++attempt) {
        const quint16 port = freePort();
        QFile::remove(dir + QStringLiteral("sshd.log"));
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        FProcess.setStandardOutputFile(dir + QStringLiteral("sshd.log"));
        FProcess.setStandardInputFile(QProcess::nullDevice());
        FProcess.start(QStringLiteral("/usr/sbin/sshd"),
                       { QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"),
                         dir + QStringLiteral("sshd_config"), QStringLiteral("-p"), QString::number(port) });
        if (!FProcess.waitForStarted(10000))
            throw std::runtime_error("cannot start /usr/sbin/sshd");
        QElapsedTimer clock;
        clock.start();
        while (FProcess.state() != QProcess::NotRunning && !log().contains("Server listening on")
               && clock.elapsed() < 20000)
            FProcess.waitForFinished(20);
        if (log().contains("Server listening on"))
            FPort = port;
        else if (FProcess.state() != QProcess::NotRunning)
            throw std::runtime_error("sshd did not start in time:\n" + log().toStdString());
        else if (!log().contains("Address already in use"))
            throw std::runtime_error("sshd ended early:\n" + log().toStdString());
    }
    if (FPort == 0)
        throw std::runtime_error("sshd found no free port:\n" + log().toStdString());
}

SshServer::~SshServer()
{
    kill();
}

void SshServer::kill()
{
    const qint64 pid = FProcess.processId();
    if (pid <= 0)
        return;
    // The listener first, so that it forks no new session meanwhile.
    const QList<qint64> sessions = descendants(pid);
    ::kill(pid_t(pid), SIGKILL);
    for (qint64 session : sessions)
        ::kill(pid_t(session), SIGKILL);
    FProcess.waitForFinished(5000);
}

QByteArray SshServer::log() const
{
    return readAll(FWork.filePath(QStringLiteral("sshd.log")));
}

QString SshServer::host() const
{
    return QStringLiteral("sftp://127.0.0.1:%1").arg(FPort);
}

QByteArray SshServer::knownHostsLine() const
{
    const QList<QByteArray> fields
        = readAll(FWork.filePath(QStringLiteral("host_key.pub"))).trimmed().split(' ');
    return QStringLiteral("[127.0.0.1]:%1 ").arg(FPort).toLatin1() + fields.value(0) + ' ' + fields.value(1);
}

QString SshServer::fingerprint() const
{
    QByteArray out;
    runOrThrow(QStringLiteral("/usr/bin/ssh-keygen"),
               { QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"), QStringLiteral("-f"),
                 FWork.filePath(QStringLiteral("host_key.pub")) },
               &out);
    // "256 SHA256:... host_key (ED25519)"
    return QString::fromLatin1(out.split(' ').value(1));
}

void SshServer::setUpClient() const
{
    const QString ssh = QDir::homePath() + QStringLiteral("/.ssh");
    QDir().mkpath(ssh);
    QFile::setPermissions(ssh, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::remove(ssh + QStringLiteral("/id_ed25519"));
    if (!QFile::copy(clientKey(), ssh + QStringLiteral("/id_ed25519")))
        throw std::runtime_error("cannot copy the client key");
    QFile::setPermissions(ssh + QStringLiteral("/id_ed25519"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeOrThrow(ssh + QStringLiteral("/known_hosts"), knownHostsLine() + '\n');
}

S3Server::S3Server(const QStringList &buckets)
{
    if (!FWork.isValid())
        throw std::runtime_error("cannot create the S3 server's folder");
    const QString program
        = qEnvironmentVariable("BW_BINARY_DIR") + QStringLiteral("/s3rver/node_modules/.bin/s3rver");
    if (!QFile::exists(program))
        throw std::runtime_error(program.toStdString()
                                 + " is missing: scripts/test.sh installs it (npm ci of tests/s3)");
    const QString data = FWork.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    QStringList args { QStringLiteral("-d"),
                       data,
                       QStringLiteral("-a"),
                       QStringLiteral("127.0.0.1"),
                       QStringLiteral("-p"),
                       QStringLiteral("0"),
                       QStringLiteral("--no-vhost-buckets") };
    for (const QString &bucket : buckets)
        args << QStringLiteral("--configure-bucket") << bucket;
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    FProcess.setStandardOutputFile(FWork.filePath(QStringLiteral("server.log")));
    FProcess.setStandardInputFile(QProcess::nullDevice());
    FProcess.start(program, args);
    if (!FProcess.waitForStarted(10000))
        throw std::runtime_error("cannot start " + program.toStdString());
    // It says "S3rver listening on 127.0.0.1:PORT" once it serves.
    QElapsedTimer clock;
    clock.start();
    while (FPort == 0) {
        const QByteArray text = log();
        const qsizetype at = text.indexOf("listening on 127.0.0.1:");
        if (at >= 0 && text.indexOf('\n', at) > at) {
            FPort = quint16(text.mid(at + 23, text.indexOf('\n', at) - at - 23).trimmed().toUInt());
            if (FPort == 0)
                throw std::runtime_error("the S3 server reported no port:\n" + text.toStdString());
            break;
        }
        if (FProcess.state() == QProcess::NotRunning)
            throw std::runtime_error("the S3 server ended early:\n" + text.toStdString());
        if (clock.elapsed() > 30000)
            throw std::runtime_error("the S3 server did not start in time:\n" + text.toStdString());
        FProcess.waitForFinished(20);
    }
}

S3Server::~S3Server()
{
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QString S3Server::endpoint() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(FPort);
}

QStringList S3Server::keys(const QString &bucket) const
{
    // s3rver keeps an object "key" as "key._S3rver_object" beside its metadata.
    const QString root = FWork.filePath(QStringLiteral("data/") + bucket);
    QStringList result;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String("._S3rver_object")))
            result << path.mid(root.size() + 1).chopped(int(qstrlen("._S3rver_object")));
    }
    result.sort();
    return result;
}

QByteArray S3Server::log() const
{
    return readAll(FWork.filePath(QStringLiteral("server.log")));
}

SilentServer::SilentServer()
{
    if (!FServer.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("cannot listen on 127.0.0.1");
}

} // namespace bwtest
