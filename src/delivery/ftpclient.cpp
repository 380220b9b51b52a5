#include "delivery/ftpclient.h"

#include "delivery/curlsession.h"

#include <QFile>
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

TTransferResult RunFtp(const TFtpJob &job, const TTransferContext &context)
{
    QString name;
    int port = 21;
    if (!TFTPClient::SplitHost(job.Host, name, port))
        return Failure(QStringLiteral("Invalid FTP host \"%1\"").arg(job.Host));
    if (!IsSafeCommandText(job.Directory) || !IsSafeCommandText(job.RemoteFile)
        || job.RemoteFile.contains(QLatin1Char('/')))
        return Failure(QStringLiteral("Invalid directory or file name"));
    if (job.Action != TFtpAction::List && job.RemoteFile.isEmpty())
        return Failure(QStringLiteral("No remote file name given"));

    TCurlSession session(context, TCurlSession::CommandReplies);
    if (!session.IsValid())
        return Failure(QStringLiteral("Cannot start the FTP client"));
    CURL *curl = session.Handle();

    const QByteArray user = job.Username.toUtf8();
    const QByteArray password = job.Password.toUtf8();
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

    QByteArray url = DirectoryUrl(name, port, job.Directory);
    QFile local(job.LocalFile);
    switch (job.Action) {
    case TFtpAction::Put: {
        if (!local.open(QIODevice::ReadOnly))
            return Failure(QStringLiteral("Cannot open %1: %2").arg(job.LocalFile, local.errorString()));
        url += QUrl::toPercentEncoding(job.RemoteFile);
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadFile);
        curl_easy_setopt(curl, CURLOPT_READDATA, &local);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(local.size()));
        session.ReportUpload(true);
        break;
    }
    case TFtpAction::List:
        if (!local.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return Failure(QStringLiteral("Cannot write %1: %2").arg(job.LocalFile, local.errorString()));
        curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteFile);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &local);
        break;
    case TFtpAction::Delete: {
        // After the CWD: a pre-transfer QUOTE would run before it.
        const QByteArray command = "DELE " + job.RemoteFile.toUtf8();
        curl_easy_setopt(curl, CURLOPT_POSTQUOTE,
                         session.AddList(curl_slist_append(nullptr, command.constData())));
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        break;
    }
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());

    const CURLcode code = session.Perform();
    if (job.Action == TFtpAction::List) {
        local.close();
        if (code != CURLE_OK || local.error() != QFileDevice::NoError)
            local.remove();
    }
    if (code != CURLE_OK)
        return Failure(session.ErrorText(code));
    return { true, {}, {} };
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
