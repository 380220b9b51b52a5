#include "servers.h"

#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <stdexcept>

namespace bwtest {

namespace {

// Every script takes the port file as its first argument and writes the
// bound port to it through a rename, so that a reader never sees half of it.
const char *const ftpScript = R"PY(
import os, socket, struct, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

port_file, user, password, home, command_log, cut_after, stall, read_limit = sys.argv[1:9]
cut_after = int(cut_after)
read_limit = int(read_limit)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, home, perm='elradfmwMT')

class DataHandler(DTPHandler):
    # Breaks an upload off after cut_after bytes: the connection is reset
    # and the partial file stays where it was written.
    def handle_read(self):
        super().handle_read()
        if cut_after and self.receive and self.tot_bytes_received >= cut_after and not self._closed:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            self.close()

    handle_read_event = handle_read

class Handler(FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        with open(command_log, 'a', encoding='utf-8') as log:
            log.write(('PASS ****' if cmd == 'PASS' else line) + '\n')
        return super().pre_process_command(line, cmd, arg)

    def respond(self, resp, logfun=None):
        # A stalling server takes the whole upload and never confirms it.
        if stall == '1' and resp.startswith('226'):
            return
        if logfun is None:
            return super().respond(resp)
        return super().respond(resp, logfun)

Handler.authorizer = authorizer
Handler.dtp_handler = DataHandler
if read_limit > 0:
    # A slow server: uploads take a while, for tests that act mid-transfer.
    from pyftpdlib.handlers import ThrottledDTPHandler
    class Throttled(ThrottledDTPHandler):
        pass
    Throttled.read_limit = read_limit
    Handler.dtp_handler = Throttled
Handler.timeout = 60
Handler.auth_failed_timeout = 0.1
server = FTPServer(('127.0.0.1', 0), Handler)
with open(port_file + '.tmp', 'w') as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(port_file + '.tmp', port_file)
server.serve_forever()
)PY";

const char *const smtpScript = R"PY(
import asyncio, os, sys
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

port_file, folder, user, password, offer_auth, refuse, stall = sys.argv[1:8]
refused = set(a.lower() for a in refuse.split(',') if a)
os.makedirs(folder, exist_ok=True)

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
        with open(base + '.tmp', 'wb') as f:
            f.write(envelope.original_content)
        os.rename(base + '.tmp', base + '.eml')
        return '250 Message accepted for delivery'

def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
          and auth_data.password == password.encode())
    return AuthResult(success=ok, handled=False)

async def main():
    loop = asyncio.get_running_loop()
    handler = Handler()
    if offer_auth == '1':
        factory = lambda: SMTP(handler, hostname='localhost', loop=loop, authenticator=authenticator,
                               auth_require_tls=False)
    else:
        factory = lambda: SMTP(handler, hostname='localhost', loop=loop)
    server = await loop.create_server(factory, '127.0.0.1', 0)
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
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QByteArray PythonServer::log() const
{
    return readAll(workPath(QStringLiteral("server.log")));
}

void PythonServer::start(const QByteArray &script, const QStringList &arguments)
{
    if (!m_work.isValid())
        throw std::runtime_error("cannot create the server's work folder");
    const QString scriptPath = workPath(QStringLiteral("server.py"));
    QFile file(scriptPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        throw std::runtime_error("cannot write the server script");
    file.close();
    const QString portFile = workPath(QStringLiteral("port"));

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(workPath(QStringLiteral("server.log")));
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.start(systemPython(), QStringList { QStringLiteral("-u"), scriptPath, portFile } + arguments);
    if (!m_process.waitForStarted(10000))
        throw std::runtime_error("cannot start " + systemPython().toStdString());

    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(portFile)) {
        if (m_process.state() == QProcess::NotRunning)
            throw std::runtime_error("the test server ended early:\n" + log().toStdString());
        if (clock.elapsed() > 20000)
            throw std::runtime_error("the test server did not start in time:\n" + log().toStdString());
        m_process.waitForFinished(20);
    }
    m_port = quint16(readAll(portFile).trimmed().toUInt());
    if (m_port == 0)
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
            QString::number(options.readLimit) });
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
            options.stallAfterData ? QStringLiteral("1") : QStringLiteral("0") });
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

SilentServer::SilentServer()
{
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("cannot listen on 127.0.0.1");
}

} // namespace bwtest
