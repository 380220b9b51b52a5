#include "delivery/ftpclient.h"

#include "delivery/curlsession.h"

#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

namespace {

enum class TFtpAction { Put, List, Delete };

struct TFtpJob
{
    TFtpAction Action;
    QString Host;
    QString Directory;
    QString Username;
    QString Password;
    QString LocalFile;
    QString RemoteFile;
    int Timeout;
};

size_t ReadFile(char *buffer, size_t size, size_t count, void *file)
{
    const qint64 n = static_cast<QFile *>(file)->read(buffer, qint64(size * count));
    return n < 0 ? CURL_READFUNC_ABORT : size_t(n);
}

size_t WriteFile(char *data, size_t size, size_t count, void *file)
{
    const qint64 n = static_cast<QFile *>(file)->write(data, qint64(size * count));
    return n < 0 ? 0 : size_t(n);
}

// ftp://name:port/ followed by the directory (and a slash when it has none
// at its end); curl sends one CWD with the decoded directory text.
QByteArray DirectoryUrl(const QString &name, int port, const QString &directory)
{
    QByteArray url = "ftp://" + QUrl::toAce(name) + ':' + QByteArray::number(port) + '/';
    if (!directory.isEmpty()) {
        url += QUrl::toPercentEncoding(directory, "/");
        if (!directory.endsWith(QLatin1Char('/')))
            url += '/';
    }
    return url;
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

// Connection and login shared by every exchange of a job.
void SetUpSession(TCurlSession &session, const TFtpJob &job, const QByteArray &user,
                  const QByteArray &password)
{
    CURL *curl = session.Handle();
    if (!job.Username.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
    // Active mode on the address of the control connection; PORT, not EPRT.
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 0L);
    const long timeout = job.Timeout;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, timeout * 1000);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
    session.SetIdleTimeout(job.Timeout);
}

// One exchange without a transfer: log in, CWD, then the commands. A
// command starting with "*" may fail without failing the exchange.
TTransferResult RunCommands(const TFtpJob &job, const TTransferContext &context, const QByteArray &url,
                            const QList<QByteArray> &commands)
{
    TCurlSession session(context, TCurlSession::CommandReplies);
    if (!session.IsValid())
        return Failure(QStringLiteral("Cannot start the FTP client"));
    const QByteArray user = job.Username.toUtf8();
    const QByteArray password = job.Password.toUtf8();
    SetUpSession(session, job, user, password);
    CURL *curl = session.Handle();
    curl_slist *list = nullptr;
    for (const QByteArray &command : commands)
        list = curl_slist_append(list, command.constData());
    // After the CWD: a pre-transfer QUOTE would run before it.
    curl_easy_setopt(curl, CURLOPT_POSTQUOTE, session.AddList(list));
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    const CURLcode code = session.Perform();
    if (code != CURLE_OK)
        return Failure(session.ErrorText(code));
    return { true, {}, {} };
}

// A hidden name that no archive name can take; the expiry check, which
// looks for archive names in listings, never mistakes it for one.
QString TemporaryName()
{
    return QStringLiteral(".bundlewick-%1.part")
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

TTransferResult RunFtp(const TFtpJob &job, const TTransferContext &context)
{
    const QString unsafe = UnsafeField(job);
    if (!unsafe.isEmpty())
        return Failure(
            QStringLiteral("The FTP %1 contains a line break or another control character").arg(unsafe));
    QString name;
    int port = 21;
    if (!TFTPClient::SplitHost(job.Host, name, port))
        return Failure(QStringLiteral("Invalid FTP host \"%1\"").arg(job.Host));
    if (job.RemoteFile.contains(QLatin1Char('/')))
        return Failure(QStringLiteral("Invalid file name \"%1\"").arg(job.RemoteFile));
    if (job.Action != TFtpAction::List && job.RemoteFile.isEmpty())
        return Failure(QStringLiteral("No remote file name given"));

    const QByteArray directoryUrl = DirectoryUrl(name, port, job.Directory);
    if (job.Action == TFtpAction::Delete)
        return RunCommands(job, context, directoryUrl, { "DELE " + job.RemoteFile.toUtf8() });

    TCurlSession session(context, TCurlSession::CommandReplies);
    if (!session.IsValid())
        return Failure(QStringLiteral("Cannot start the FTP client"));
    CURL *curl = session.Handle();
    const QByteArray user = job.Username.toUtf8();
    const QByteArray password = job.Password.toUtf8();
    SetUpSession(session, job, user, password);

    // What the exchange got to, for the clean-up after a failure.
    bool loggedIn = false;
    bool stored = false;
    bool renaming = false;
    session.SetLineHook([&](bool incoming, const QByteArray &line) {
        if (incoming && line.startsWith("230"))
            loggedIn = true;
        else if (!incoming && line.startsWith("STOR "))
            stored = true;
        else if (!incoming && line.startsWith("RNFR "))
            renaming = true;
    });

    QByteArray url = directoryUrl;
    QFile local(job.LocalFile);
    const QString temporary = TemporaryName();
    if (job.Action == TFtpAction::Put) {
        if (!local.open(QIODevice::ReadOnly))
            return Failure(QStringLiteral("Cannot open %1: %2").arg(job.LocalFile, local.errorString()));
        // The archive goes up under a temporary name and gets its own name
        // only when complete, so nobody ever downloads half of it.
        url += QUrl::toPercentEncoding(temporary);
        curl_slist *rename = curl_slist_append(nullptr, ("RNFR " + temporary.toUtf8()).constData());
        rename = curl_slist_append(rename, ("RNTO " + job.RemoteFile.toUtf8()).constData());
        curl_easy_setopt(curl, CURLOPT_POSTQUOTE, session.AddList(rename));
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadFile);
        curl_easy_setopt(curl, CURLOPT_READDATA, &local);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(local.size()));
        session.ReportUpload(true);
    } else {
        if (!local.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return Failure(QStringLiteral("Cannot write %1: %2").arg(job.LocalFile, local.errorString()));
        curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteFile);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &local);
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());

    const CURLcode code = session.Perform();
    if (job.Action == TFtpAction::List) {
        local.close();
        if (code != CURLE_OK || local.error() != QFileDevice::NoError)
            local.remove();
    }
    if (code == CURLE_OK)
        return { true, {}, {} };
    const TTransferResult failure = Failure(session.ErrorText(code));

    // A server that stopped answering gets no further exchange: the
    // failure must not take another time-out.
    const bool answering = loggedIn && code != CURLE_OPERATION_TIMEDOUT && code != CURLE_ABORTED_BY_CALLBACK
        && code != CURLE_FTP_ACCEPT_TIMEOUT;
    if (job.Action == TFtpAction::Put && stored && answering) {
        const QByteArray temporaryName = temporary.toUtf8();
        const QByteArray remoteName = job.RemoteFile.toUtf8();
        // Some servers rename onto no existing file: the complete upload
        // then replaces the older file of its name.
        if (renaming
            && RunCommands(job, context, directoryUrl,
                           { "*DELE " + remoteName, "RNFR " + temporaryName, "RNTO " + remoteName })
                   .Success)
            return { true, {}, {} };
        RunCommands(job, context, directoryUrl, { "DELE " + temporaryName });
    }
    return failure;
}

} // namespace

TFTPClient::TFTPClient(QObject *parent)
    : TNetClient(parent)
{
    SetTimeout(15);
}

bool TFTPClient::SplitHost(const QString &text, QString &name, int &port)
{
    QString host = text.trimmed();
    if (host.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive))
        host.remove(0, 6);
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    port = 21;
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

bool TFTPClient::Put(const QString &localFile, const QString &remoteName)
{
    LocalFile = localFile;
    RemoteFile = remoteName;
    const TFtpJob job {
        TFtpAction::Put, Host, Directory, Username, Password, localFile, remoteName, Timeout()
    };
    return Run([job](const TTransferContext &context) { return RunFtp(job, context); });
}

bool TFTPClient::StartPut(const QString &localFile, const QString &remoteName)
{
    LocalFile = localFile;
    RemoteFile = remoteName;
    const TFtpJob job {
        TFtpAction::Put, Host, Directory, Username, Password, localFile, remoteName, Timeout()
    };
    return Start([job](const TTransferContext &context) { return RunFtp(job, context); });
}

bool TFTPClient::List(const QString &localFile)
{
    LocalFile = localFile;
    const TFtpJob job { TFtpAction::List, Host, Directory, Username, Password, localFile, {}, Timeout() };
    return Run([job](const TTransferContext &context) { return RunFtp(job, context); });
}

bool TFTPClient::Delete(const QString &remoteName)
{
    RemoteFile = remoteName;
    const TFtpJob job { TFtpAction::Delete, Host, Directory, Username, Password, {}, remoteName, Timeout() };
    return Run([job](const TTransferContext &context) { return RunFtp(job, context); });
}
