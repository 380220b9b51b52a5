#include "network/ftpclient.h"

#include "core/exceptions.h"
#include "network/curlsession.h"
#include "network/knownhosts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <pwd.h>
#include <unistd.h>

namespace {

enum class TFtpAction { Put, List, Delete, Get, Time };

struct TFtpJob
{
    TFtpAction Action = TFtpAction::Put;
    QString Host;
    QString Directory;
    QString Username;
    QString Password;
    QString LocalFile;
    QString RemoteFile;
    int Timeout = 15;
    int TotalTimeout = 0; // seconds for the whole exchange; 0: no limit
    QString CertificatesFile;
    // SFTP: the user's key and known_hosts, looked up on the caller's thread.
    QString KeyFile;
    QString KnownHosts;
    // known_hosts as read before the exchange (RunJob): the host key check
    // in the middle of the handshake reads no file.
    std::shared_ptr<const TKnownHosts> Known;
    std::shared_ptr<TSshHostKey> HostKey; // filled when the host key is refused
    // FTP: straight to the final name, for servers without RNFR and RNTO.
    bool Direct = false;
};

// Where the parsed host points.
struct TTarget
{
    TFtpTransport Transport = TFtpTransport::Ftp;
    QString Name;
    int Port = 21;
};

struct TUploadSource
{
    QFile *File;
    bool Started = false; // the server asked for data: the remote file exists
};

size_t ReadFile(char *buffer, size_t size, size_t count, void *sourcePtr)
{
    auto *source = static_cast<TUploadSource *>(sourcePtr);
    source->Started = true;
    const qint64 n = source->File->read(buffer, qint64(size * count));
    return n < 0 ? CURL_READFUNC_ABORT : size_t(n);
}

size_t WriteFile(char *data, size_t size, size_t count, void *file)
{
    const qint64 n = static_cast<QFile *>(file)->write(data, qint64(size * count));
    return n < 0 ? 0 : size_t(n);
}

size_t RefuseData(char *, size_t, size_t, void *)
{
    return 0;
}

size_t WriteBuffer(char *data, size_t size, size_t count, void *buffer)
{
    static_cast<QByteArray *>(buffer)->append(data, qsizetype(size * count));
    return size * count;
}

// ftp://name:port/ followed by the directory (and a slash when it has none
// at its end); curl sends one CWD with the decoded directory text. SFTP has
// no CWD: a relative directory starts in the login directory ("/~/").
QByteArray DirectoryUrl(const TTarget &target, const QString &directory)
{
    const bool sftp = target.Transport == TFtpTransport::Sftp;
    QByteArray url = (sftp ? "sftp://" : "ftp://") + QUrl::toAce(target.Name) + ':'
        + QByteArray::number(target.Port) + '/';
    if (sftp && !directory.startsWith(QLatin1Char('/')))
        url += "~/";
    const QString path = sftp && directory.startsWith(QLatin1Char('/')) ? directory.mid(1) : directory;
    if (!path.isEmpty()) {
        url += QUrl::toPercentEncoding(path, "/");
        if (!path.endsWith(QLatin1Char('/')))
            url += '/';
    }
    return url;
}

// A file's path in an SFTP command, quoted for curl: relative paths start
// in the login directory, as the URL's "/~/" does.
QByteArray SftpPath(const QString &directory, const QString &file)
{
    QString path = directory;
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    path += file;
    QByteArray quoted = path.toUtf8();
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted + '"';
}

TTransferResult Failure(const QString &text)
{
    return { false, text, {} };
}

// Texts that go into a command must not carry a line break or any other
// control character: one would end the command and start another.
QString UnsafeField(const TFtpJob &job)
{
    const std::pair<const QString *, const char *> fields[] = {
        { &job.Host, "host" },           { &job.Username, "login" },       { &job.Password, "password" },
        { &job.Directory, "directory" }, { &job.RemoteFile, "file name" },
    };
    for (const auto &[text, name] : fields) {
        if (!IsSafeCommandText(*text))
            return QString::fromLatin1(name);
    }
    return {};
}

// The login name for SFTP without one: the local user's, as ssh does.
QByteArray LocalUserName()
{
    // The reentrant form: exchanges run on several threads.
    passwd entry {};
    passwd *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QByteArray(found->pw_name);
    return qgetenv("USER");
}

// Accepts only a host key that known_hosts lists for the host and port; any
// other is recorded for the error text and for the user to trust. libssh2
// is never given the file: it would pick the server's key type by the
// entries it finds and then fail without showing the key when the server
// has no key of that type.
int CheckHostKey(void *jobPtr, int, const char *blob, size_t length)
{
    const auto *job = static_cast<const TFtpJob *>(jobPtr);
    TSshHostKey offered;
    offered.Blob = QByteArray(blob, qsizetype(length));
    TFtpTransport transport;
    TFTPClient::SplitHost(job->Host, transport, offered.Host, offered.Port);
    const TKnownHosts::TStatus status = job->Known
        ? job->Known->Check(offered.Host, offered.Port, offered.Blob, &offered.KnownTypes)
        : TKnownHosts::Unknown;
    if (status == TKnownHosts::Known)
        return CURLKHMATCH_OK;
    offered.Changed = status == TKnownHosts::Changed;
    offered.Revoked = status == TKnownHosts::Revoked;
    if (job->HostKey)
        *job->HostKey = offered;
    return CURLKHMATCH_MISMATCH;
}

QString HostKeyError(const TSshHostKey &key, const QString &knownHosts)
{
    if (key.Revoked)
        return QStringLiteral("The host key of %1 is revoked: the server shows %2 key %3, which %4 lists "
                              "as @revoked. Someone may be intercepting the connection, or the server "
                              "still uses a retired key; nothing was sent")
            .arg(key.HostPattern(), key.Type(), key.Fingerprint(), knownHosts);
    if (key.Changed && !key.KnownTypes.contains(key.Type()))
        return QStringLiteral("The host key of %1 has changed: the server now shows %2 key %3, while %4 "
                              "lists only %5 keys for it. Someone may be intercepting the connection, or "
                              "the server has a new kind of key; check with the server's administrator "
                              "before trusting it")
            .arg(key.HostPattern(), key.Type(), key.Fingerprint(), knownHosts,
                 key.KnownTypes.join(QStringLiteral(", ")));
    if (key.Changed)
        return QStringLiteral("The host key of %1 has changed: the server now shows %2 key %3. "
                              "Someone may be intercepting the connection; check with the server's "
                              "administrator before trusting the new key")
            .arg(key.HostPattern(), key.Type(), key.Fingerprint());
    return QStringLiteral("Unknown host key for %1: %2 key %3 is not in %4. "
                          "Compare the fingerprint with the server's before trusting it")
        .arg(key.HostPattern(), key.Type(), key.Fingerprint(), knownHosts);
}

// Connection and login shared by every exchange of a job.
void SetUpSession(TCurlSession &session, const TFtpJob &job, const TTarget &target, const QByteArray &user,
                  const QByteArray &password)
{
    CURL *curl = session.Handle();
    if (target.Transport == TFtpTransport::Sftp) {
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "sftp");
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        long methods = CURLSSH_AUTH_AGENT;
        if (!job.Password.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
            methods |= CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
        }
        // Without a key file of its own curl would look for one in the
        // current folder.
        if (!job.KeyFile.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE, QFile::encodeName(job.KeyFile).constData());
            methods |= CURLSSH_AUTH_PUBLICKEY;
        }
        curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES, methods);
        curl_easy_setopt(curl, CURLOPT_SSH_HOSTKEYFUNCTION, &CheckHostKey);
        curl_easy_setopt(curl, CURLOPT_SSH_HOSTKEYDATA, const_cast<TFtpJob *>(&job));
    } else {
        if (!job.Username.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
        }
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
        if (target.Transport == TFtpTransport::Ftp) {
            // Active mode on the address of the control connection; PORT, not EPRT.
            curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
            curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 0L);
        } else {
            // FTPS goes passive: no router on the way can read an encrypted
            // PORT command to open the way back, and libcurl 7.87 and 7.88
            // fail the TLS handshake of active data connections.
            curl_easy_setopt(curl, CURLOPT_FTP_USE_EPSV, 1L);
            // AUTH TLS before the login, and protected data connections: never
            // anything in clear text.
            curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
            curl_easy_setopt(curl, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
            if (!job.CertificatesFile.isEmpty())
                curl_easy_setopt(curl, CURLOPT_CAINFO, QFile::encodeName(job.CertificatesFile).constData());
        }
    }
    const long timeout = job.Timeout;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, timeout * 1000);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
    session.SetIdleTimeout(job.Timeout);
}

// The failure of a finished exchange, with the host key named when that was
// what stopped it.
TTransferResult SessionFailure(const TCurlSession &session, CURLcode code, const TFtpJob &job)
{
    if (code == CURLE_PEER_FAILED_VERIFICATION && job.HostKey && job.HostKey->IsValid())
        return Failure(HostKeyError(*job.HostKey, job.KnownHosts));
    return Failure(session.ErrorText(code));
}

// One exchange without a transfer: log in, CWD, then the commands (FTP), or
// log in and the commands (SFTP: "rm", "rename"). A command starting with
// "*" may fail without failing the exchange. *codeOut gets curl's result.
TTransferResult RunCommands(const TFtpJob &job, const TTarget &target, const TTransferContext &context,
                            const QByteArray &url, const QList<QByteArray> &commands,
                            CURLcode *codeOut = nullptr)
{
    if (codeOut)
        *codeOut = CURLE_FAILED_INIT;
    TCurlSession session(context, TCurlSession::CommandReplies);
    if (!session.IsValid())
        return Failure(QStringLiteral("Cannot start the FTP client"));
    const QByteArray user = target.Transport == TFtpTransport::Sftp && job.Username.isEmpty()
        ? LocalUserName()
        : job.Username.toUtf8();
    const QByteArray password = job.Password.toUtf8();
    SetUpSession(session, job, target, user, password);
    CURL *curl = session.Handle();
    if (job.TotalTimeout > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(job.TotalTimeout));
    curl_slist *list = nullptr;
    for (const QByteArray &command : commands)
        list = curl_slist_append(list, command.constData());
    // FTP: after the CWD, which a pre-transfer QUOTE would run before.
    curl_easy_setopt(curl, target.Transport == TFtpTransport::Sftp ? CURLOPT_QUOTE : CURLOPT_POSTQUOTE,
                     session.AddList(list));
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    const CURLcode code = session.Perform();
    if (codeOut)
        *codeOut = code;
    if (code != CURLE_OK)
        return SessionFailure(session, code, job);
    return { true, {}, {} };
}

// An SFTP directory listing in the long form ("-rw-r--r-- 1 owner group
// size month day time name"), into memory.
TTransferResult SftpLongListing(const TFtpJob &job, const TTarget &target, const TTransferContext &context,
                                const QByteArray &url, QByteArray &listing)
{
    TCurlSession session(context, TCurlSession::CommandReplies);
    if (!session.IsValid())
        return Failure(QStringLiteral("Cannot start the FTP client"));
    const QByteArray user = job.Username.isEmpty() ? LocalUserName() : job.Username.toUtf8();
    const QByteArray password = job.Password.toUtf8();
    SetUpSession(session, job, target, user, password);
    CURL *curl = session.Handle();
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBuffer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &listing);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    const CURLcode code = session.Perform();
    if (code != CURLE_OK)
        return SessionFailure(session, code, job);
    return { true, {}, {} };
}

// The long listing names a regular file (not a folder or a link) as name:
// eight fields come before the name.
bool ListsRegularFile(const QByteArray &listing, const QByteArray &name)
{
    for (const QByteArray &line : listing.split('\n')) {
        const QByteArray entry = line.endsWith('\r') ? line.chopped(1) : line;
        if (!entry.startsWith('-'))
            continue;
        qsizetype at = 0;
        for (int field = 0; field < 8 && at < entry.size(); ++field) {
            while (at < entry.size() && entry[at] != ' ')
                ++at;
            while (at < entry.size() && entry[at] == ' ')
                ++at;
        }
        if (entry.mid(at) == name)
            return true;
    }
    return false;
}

// Clean-ups after a failure take a fresh connection with a short time-out
// of their own, so that a server that stopped answering costs only seconds.
constexpr int kCleanupSeconds = 5;

TFtpJob Briefly(const TFtpJob &job)
{
    TFtpJob brief = job;
    brief.Timeout = std::min(job.Timeout, kCleanupSeconds);
    brief.TotalTimeout = brief.Timeout;
    return brief;
}

// A hidden name that no archive name can take; the expiry check, which
// looks for archive names in listings, never mistakes it for one. Uploads
// go up as ".part"; an older file makes way for a new one as ".old".
QString TemporaryName(const char *suffix = "part")
{
    return QStringLiteral(".bundlewick-%1.%2")
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
        .arg(QLatin1String(suffix));
}

// A context that no abort ends and that reports no progress, for what must
// happen after a failure even when the user stopped the exchange.
const TTransferContext &SteadyContext()
{
    static const std::atomic<bool> never { false };
    static const TTransferContext steady(never, nullptr, [](qint64) {});
    return steady;
}

// The files of the job's directory, one exchange per call, in the
// transport's commands.
class TRemoteDir
{
public:
    TRemoteDir(const TFtpJob &job, const TTarget &target, const TTransferContext &context)
        : FJob(job)
        , FTarget(target)
        , FContext(context)
        , FSftp(target.Transport == TFtpTransport::Sftp)
        , FUrl(DirectoryUrl(target, job.Directory))
    { }

    bool Rename(const QString &from, const QString &to, CURLcode *code = nullptr) const
    {
        return RunCommands(FJob, FTarget, FContext, FUrl, RenameCommands(from, to), code).Success;
    }
    // Clean-ups: they run briefly, and even after the user stopped the
    // exchange, so that neither a temporary file nor an older file under a
    // name of ours stays behind.
    bool Remove(const QString &name) const
    {
        const QByteArray command = FSftp ? "rm " + SftpPath(FJob.Directory, name) : "DELE " + name.toUtf8();
        return RunCommands(Briefly(FJob), FTarget, SteadyContext(), FUrl, { command }).Success;
    }
    bool RenameBack(const QString &from, const QString &to) const
    {
        return RunCommands(Briefly(FJob), FTarget, SteadyContext(), FUrl, RenameCommands(from, to)).Success;
    }
    // The name is a regular file: SIZE answers for files only (FTP); the
    // long listing tells files from folders (SFTP). False when unsure.
    bool IsFile(const QString &name) const
    {
        if (!FSftp)
            return RunCommands(FJob, FTarget, FContext, FUrl, { "TYPE I", "SIZE " + name.toUtf8() }).Success;
        QByteArray listing;
        return SftpLongListing(FJob, FTarget, FContext, FUrl, listing).Success
            && ListsRegularFile(listing, name.toUtf8());
    }

private:
    QList<QByteArray> RenameCommands(const QString &from, const QString &to) const
    {
        if (FSftp)
            return { "rename " + SftpPath(FJob.Directory, from) + ' ' + SftpPath(FJob.Directory, to) };
        return { "RNFR " + from.toUtf8(), "RNTO " + to.toUtf8() };
    }
    const TFtpJob &FJob;
    const TTarget &FTarget;
    const TTransferContext &FContext;
    bool FSftp;
    QByteArray FUrl;
};

// A complete upload under the temporary name did not get its name. When an
// older file holds the name, that file moves aside, the upload takes the
// name, and only then the older file goes; should the upload not get the
// name, the older file gets it back. Nothing is deleted before the new file
// has its name. Other servers refused for another reason (the name is a
// folder, or the connection broke down): the rename gets one more try.
TTransferResult PutInPlace(const TRemoteDir &dir, const QString &temporary, const QString &name,
                           const TTransferResult &failure)
{
    if (!dir.IsFile(name))
        return dir.Rename(temporary, name) ? TTransferResult { true, {}, {} } : failure;
    const QString aside = TemporaryName("old");
    CURLcode code = CURLE_OK;
    if (!dir.Rename(name, aside, &code)) {
        // Without the server's answer the older file may have moved after all.
        if (code != CURLE_QUOTE_ERROR)
            dir.RenameBack(aside, name);
        return failure;
    }
    if (dir.Rename(temporary, name)) {
        dir.Remove(aside);
        return { true, {}, {} };
    }
    if (!dir.RenameBack(aside, name))
        return Failure(QStringLiteral("%1; the older %2 is kept as %3").arg(failure.Error, name, aside));
    return failure;
}

// An SFTP listing names "." and ".." too; the listing holds file names only.
bool WriteListing(QFile &local, const QByteArray &listing)
{
    for (const QByteArray &line : listing.split('\n')) {
        const QByteArray name = line.endsWith('\r') ? line.chopped(1) : line;
        if (name.isEmpty() || name == "." || name == "..")
            continue;
        if (local.write(name + "\r\n") < 0)
            return false;
    }
    return true;
}

TFtpJob MakeJob(const TFTPClient &client, TFtpAction action, const QString &localFile,
                const QString &remoteFile, std::shared_ptr<TSshHostKey> hostKey)
{
    TFtpJob job;
    job.Action = action;
    job.Host = client.Host;
    job.Directory = client.Directory;
    job.Username = client.Username;
    job.Password = client.Password;
    job.LocalFile = localFile;
    job.RemoteFile = remoteFile;
    job.Timeout = client.Timeout();
    job.CertificatesFile = client.CertificatesFile;
    if (job.Host.trimmed().startsWith(QLatin1String("sftp://"), Qt::CaseInsensitive)) {
        job.KeyFile = DefaultSshKeyFile();
        job.KnownHosts = KnownHostsFile();
    }
    job.HostKey = std::move(hostKey);
    return job;
}

TTransferResult RunFtp(const TFtpJob &job, const TTransferContext &context);

// A server without RNFR and RNTO: the archive goes again, straight under
// its name. An older file of that name, which that upload overwrites, is
// fetched first and put back when the upload fails; when it cannot be
// fetched, the upload does not go.
TTransferResult PutDirect(const TFtpJob &job, const TTransferContext &context, const TRemoteDir &dir)
{
    TFtpJob direct = job;
    direct.Direct = true;
    if (!dir.IsFile(job.RemoteFile))
        return RunFtp(direct, context);
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/bundlewick-older-XXXXXX"));
    if (!copy.open())
        return Failure(
            QStringLiteral("Cannot keep a copy of the older %1: %2").arg(job.RemoteFile, copy.errorString()));
    copy.close();
    TFtpJob fetch = job;
    fetch.Action = TFtpAction::Get;
    fetch.LocalFile = copy.fileName();
    const TTransferResult fetched = RunFtp(fetch, context);
    if (!fetched.Success)
        return Failure(
            QStringLiteral("Cannot keep a copy of the older %1: %2").arg(job.RemoteFile, fetched.Error));
    const TTransferResult result = RunFtp(direct, context);
    if (result.Success)
        return result;
    // Also when the user stopped the upload: the older file was overwritten.
    TFtpJob restore = direct;
    restore.LocalFile = copy.fileName();
    if (RunFtp(restore, SteadyContext()).Success)
        return result;
    copy.setAutoRemove(false);
    return Failure(QStringLiteral("%1; the older %2 could not be put back, a copy is in %3")
                       .arg(result.Error, job.RemoteFile, copy.fileName()));
}

TTransferResult RunFtp(const TFtpJob &job, const TTransferContext &context)
{
    const QString unsafe = UnsafeField(job);
    if (!unsafe.isEmpty())
        return Failure(
            QStringLiteral("The FTP %1 contains a line break or another control character").arg(unsafe));
    TTarget target;
    if (!TFTPClient::SplitHost(job.Host, target.Transport, target.Name, target.Port))
        return Failure(QStringLiteral("Invalid FTP host \"%1\"").arg(job.Host));
    if (job.RemoteFile.contains(QLatin1Char('/')))
        return Failure(QStringLiteral("Invalid file name \"%1\"").arg(job.RemoteFile));
    if (job.Action != TFtpAction::List && job.RemoteFile.isEmpty())
        return Failure(QStringLiteral("No remote file name given"));
    if (target.Transport == TFtpTransport::Ftps && !job.CertificatesFile.isEmpty()
        && !QFileInfo(job.CertificatesFile).isReadable())
        return Failure(QStringLiteral("Cannot read the TLS certificates file %1").arg(job.CertificatesFile));
    const bool sftp = target.Transport == TFtpTransport::Sftp;

    const QByteArray directoryUrl = DirectoryUrl(target, job.Directory);
    if (job.Action == TFtpAction::Delete) {
        const QByteArray command
            = sftp ? "rm " + SftpPath(job.Directory, job.RemoteFile) : "DELE " + job.RemoteFile.toUtf8();
        return RunCommands(job, target, context, directoryUrl, { command });
    }

    TCurlSession session(context, TCurlSession::CommandReplies);
    if (!session.IsValid())
        return Failure(QStringLiteral("Cannot start the FTP client"));
    CURL *curl = session.Handle();
    const QByteArray user = sftp && job.Username.isEmpty() ? LocalUserName() : job.Username.toUtf8();
    const QByteArray password = job.Password.toUtf8();
    SetUpSession(session, job, target, user, password);

    // What the exchange got to, for the clean-up after a failure.
    bool loggedIn = false;
    bool stored = false;
    bool renaming = false;
    bool renameUnknown = false; // RNFR or RNTO answered "not implemented"
    session.SetLineHook([&](bool incoming, const QByteArray &line) {
        if (incoming && line.startsWith("230"))
            loggedIn = true;
        else if (incoming && renaming
                 && (line.startsWith("500") || line.startsWith("502") || line.startsWith("504")))
            renameUnknown = true;
        else if (!incoming && line.startsWith("STOR "))
            stored = true;
        else if (!incoming && line.startsWith("RNFR "))
            renaming = true;
    });

    QByteArray url = directoryUrl;
    QFile local(job.LocalFile);
    TUploadSource source { &local };
    QByteArray listing;
    const QString temporary = TemporaryName();
    const QByteArray temporaryPath = SftpPath(job.Directory, temporary);
    const QByteArray remotePath = SftpPath(job.Directory, job.RemoteFile);
    if (job.Action == TFtpAction::Put) {
        if (!local.open(QIODevice::ReadOnly))
            return Failure(QStringLiteral("Cannot open %1: %2").arg(job.LocalFile, local.errorString()));
        // The archive goes up under a temporary name and gets its own name
        // only when complete, so nobody ever downloads half of it.
        url += QUrl::toPercentEncoding(job.Direct ? job.RemoteFile : temporary);
        curl_slist *rename = nullptr;
        if (job.Direct) {
            // A server that cannot rename: no temporary name.
        } else if (sftp) {
            rename = curl_slist_append(rename, ("rename " + temporaryPath + ' ' + remotePath).constData());
        } else {
            rename = curl_slist_append(rename, ("RNFR " + temporary.toUtf8()).constData());
            rename = curl_slist_append(rename, ("RNTO " + job.RemoteFile.toUtf8()).constData());
        }
        curl_easy_setopt(curl, CURLOPT_POSTQUOTE, session.AddList(rename));
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadFile);
        curl_easy_setopt(curl, CURLOPT_READDATA, &source);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(local.size()));
        session.ReportUpload(true);
    } else if (job.Action == TFtpAction::Time) {
        url += QUrl::toPercentEncoding(job.RemoteFile);
        curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
        // FTP asks MDTM without a transfer. SFTP reads the file's
        // attributes only on the way to a download: the first piece of
        // data ends that.
        if (sftp)
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &RefuseData);
        else
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else {
        if (!local.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return Failure(QStringLiteral("Cannot write %1: %2").arg(job.LocalFile, local.errorString()));
        if (job.Action == TFtpAction::Get) {
            url += QUrl::toPercentEncoding(job.RemoteFile);
            curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteFile);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &local);
        } else {
            curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
            if (sftp) {
                curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBuffer);
                curl_easy_setopt(curl, CURLOPT_WRITEDATA, &listing);
            } else {
                curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteFile);
                curl_easy_setopt(curl, CURLOPT_WRITEDATA, &local);
            }
        }
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());

    const CURLcode code = session.Perform();
    if (job.Action == TFtpAction::Time) {
        const bool ended = code == CURLE_OK || (sftp && code == CURLE_WRITE_ERROR && !context.Aborted());
        curl_off_t time = -1;
        if (ended && curl_easy_getinfo(curl, CURLINFO_FILETIME_T, &time) == CURLE_OK && time >= 0)
            return { true, {}, QByteArray::number(qint64(time)) };
        if (ended)
            return Failure(QStringLiteral("The server does not tell the time of %1").arg(job.RemoteFile));
        return SessionFailure(session, code, job);
    }
    if (job.Action == TFtpAction::List || job.Action == TFtpAction::Get) {
        const bool written
            = code != CURLE_OK || !sftp || job.Action == TFtpAction::Get || WriteListing(local, listing);
        local.close();
        if (code != CURLE_OK || !written || local.error() != QFileDevice::NoError)
            local.remove();
        if (code == CURLE_OK && (!written || local.error() != QFileDevice::NoError))
            return Failure(QStringLiteral("Cannot write %1: %2").arg(job.LocalFile, local.errorString()));
    }
    if (code == CURLE_OK)
        return { true, {}, {} };
    TTransferResult failure = SessionFailure(session, code, job);
    if (job.Action != TFtpAction::Put)
        return failure;

    // A server that stopped answering gets no further exchange but the
    // brief clean-up: the failure must not take another full time-out.
    const bool answering = code != CURLE_OPERATION_TIMEDOUT && code != CURLE_ABORTED_BY_CALLBACK
        && code != CURLE_FTP_ACCEPT_TIMEOUT;
    const TRemoteDir dir(job, target, context);
    if (sftp) {
        // The rename runs only after a complete upload; OpenSSH renames onto
        // no existing file, so an older upload of the name makes way.
        if (code == CURLE_QUOTE_ERROR) {
            failure = PutInPlace(dir, temporary, job.RemoteFile, failure);
            if (failure.Success)
                return failure;
        }
        if (source.Started)
            dir.Remove(temporary);
        return failure;
    }
    if (job.Direct) {
        // Half a file must not stay under the final name.
        if (stored && loggedIn)
            dir.Remove(job.RemoteFile);
        return failure;
    }
    if (stored && loggedIn && answering && renaming) {
        // The upload is complete (RNFR follows only a confirmed STOR).
        if (code == CURLE_QUOTE_ERROR && renameUnknown) {
            // The server has no RNFR or RNTO: the complete upload cannot get
            // its name, so it goes again straight under the final name, and
            // the temporary file goes (as far as the server lets it).
            dir.Remove(temporary);
            return PutDirect(job, context, dir);
        }
        failure = PutInPlace(dir, temporary, job.RemoteFile, failure);
        if (failure.Success)
            return failure;
    }
    if (stored && loggedIn)
        dir.Remove(temporary);
    return failure;
}

// SFTP reads known_hosts whole before it connects: a file that cannot be
// read (a FIFO, a device, far too large) fails the job at once with its
// reason, before any exchange starts.
TTransferResult RunJob(const TFtpJob &job, const TTransferContext &context)
{
    if (job.KnownHosts.isEmpty())
        return RunFtp(job, context);
    TFtpJob loaded = job;
    try {
        loaded.Known = std::make_shared<const TKnownHosts>(TKnownHosts::Load(job.KnownHosts));
    } catch (const Exception &e) {
        return Failure(e.Message());
    }
    return RunFtp(loaded, context);
}

} // namespace

TFTPClient::TFTPClient(QObject *parent)
    : TNetClient(parent)
{
    SetTimeout(15);
}

bool TFTPClient::SplitHost(const QString &text, QString &name, int &port)
{
    TFtpTransport transport;
    return SplitHost(text, transport, name, port);
}

bool TFTPClient::SplitHost(const QString &text, TFtpTransport &transport, QString &name, int &port)
{
    QString host = text.trimmed();
    transport = TFtpTransport::Ftp;
    port = 21;
    static const struct
    {
        const char *scheme;
        TFtpTransport transport;
        int port;
    } schemes[] = {
        { "ftp://", TFtpTransport::Ftp, 21 },
        { "ftps://", TFtpTransport::Ftps, 21 },
        { "sftp://", TFtpTransport::Sftp, 22 },
    };
    for (const auto &scheme : schemes) {
        if (host.startsWith(QLatin1String(scheme.scheme), Qt::CaseInsensitive)) {
            host.remove(0, qsizetype(qstrlen(scheme.scheme)));
            transport = scheme.transport;
            port = scheme.port;
            break;
        }
    }
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0 && host.indexOf(QLatin1Char(':')) == colon) {
        bool ok = false;
        port = host.mid(colon + 1).toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return false;
        host.truncate(colon);
    }
    name = host;
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-')
              || c == QLatin1Char('_')))
            return false;
    }
    return true;
}

std::shared_ptr<TSshHostKey> TFTPClient::NewHostKeySlot()
{
    // Each exchange gets a slot of its own: an earlier one still winding
    // down never writes into the next one's.
    FHostKey = std::make_shared<TSshHostKey>();
    return FHostKey;
}

bool TFTPClient::Put(const QString &localFile, const QString &remoteName)
{
    LocalFile = localFile;
    RemoteFile = remoteName;
    return Run([job = MakeJob(*this, TFtpAction::Put, localFile, remoteName, NewHostKeySlot())](
                   const TTransferContext &context) { return RunJob(job, context); });
}

bool TFTPClient::List(const QString &localFile)
{
    LocalFile = localFile;
    return Run([job = MakeJob(*this, TFtpAction::List, localFile, {}, NewHostKeySlot())](
                   const TTransferContext &context) { return RunJob(job, context); });
}

bool TFTPClient::GetFileTime(const QString &remoteName, QDateTime &dtTime)
{
    RemoteFile = remoteName;
    dtTime = {};
    if (!Run([job = MakeJob(*this, TFtpAction::Time, {}, remoteName, NewHostKeySlot())](
                 const TTransferContext &context) { return RunJob(job, context); }))
        return false;
    dtTime = QDateTime::fromSecsSinceEpoch(ResultData().toLongLong(), Qt::UTC);
    return true;
}

bool TFTPClient::IsTemporaryName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.bundlewick-[0-9a-f]{16}\\.part$"));
    return pattern.match(name).hasMatch();
}

bool TFTPClient::Delete(const QString &remoteName)
{
    RemoteFile = remoteName;
    return Run([job = MakeJob(*this, TFtpAction::Delete, {}, remoteName, NewHostKeySlot())](
                   const TTransferContext &context) { return RunJob(job, context); });
}
