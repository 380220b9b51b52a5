#include "network/httpclient.h"

#include "network/curlsession.h"

#include <QFile>
#include <QPointer>
#include <QUrl>

namespace {

struct TSink
{
    QFile *File = nullptr;
    QByteArray Data;
};

size_t Write(char *data, size_t size, size_t count, void *sinkPtr)
{
    auto *sink = static_cast<TSink *>(sinkPtr);
    const qint64 n = qint64(size * count);
    if (sink->File)
        return sink->File->write(data, n) == n ? size_t(n) : 0;
    sink->Data.append(data, n);
    return size_t(n);
}

TTransferResult RunGet(const QByteArray &url, const QString &localFile, bool toFile, long timeout,
                       const TTransferContext &context)
{
    TCurlSession session(context, TCurlSession::HttpStatus);
    if (!session.IsValid())
        return { false, QStringLiteral("Cannot start the HTTP client"), {} };
    CURL *curl = session.Handle();
    QFile file(localFile);
    TSink sink;
    if (toFile) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return { false, QStringLiteral("Cannot write %1: %2").arg(localFile, file.errorString()), {} };
        sink.File = &file;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = session.Perform();
    long httpStatus = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &httpStatus);
    if (toFile) {
        file.close();
        if (code != CURLE_OK)
            file.remove();
    }
    if (code != CURLE_OK)
        return { false, session.ErrorText(code), {}, int(httpStatus) };
    return { true, {}, sink.Data, int(httpStatus) };
}

// What the link check reads of a response.
struct TProbe
{
    qint64 Wanted = 0; // bytes of the body to keep
    QByteArray Head;
    qint64 RangeTotal = -1; // from "Content-Range: bytes a-b/total"
    bool Enough = false; // the transfer was ended once Head was full
};

size_t ProbeWrite(char *data, size_t size, size_t count, void *probePtr)
{
    auto *probe = static_cast<TProbe *>(probePtr);
    const qint64 n = qint64(size * count);
    probe->Head.append(data, qMin(n, probe->Wanted - probe->Head.size()));
    if (probe->Head.size() >= probe->Wanted && n > 0) {
        // Enough to compare; returning less than given ends the transfer.
        probe->Enough = true;
        return 0;
    }
    return size_t(n);
}

size_t ProbeHeader(char *data, size_t size, size_t count, void *probePtr)
{
    auto *probe = static_cast<TProbe *>(probePtr);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    // A new response (after a redirect) starts with its status line.
    if (line.startsWith("HTTP/"))
        probe->RangeTotal = -1;
    if (line.toLower().startsWith("content-range:")) {
        const qsizetype slash = line.lastIndexOf('/');
        bool ok = false;
        const qint64 total = line.mid(slash + 1).trimmed().toLongLong(&ok);
        if (slash > 0 && ok)
            probe->RangeTotal = total;
    }
    return size * count;
}

TTransferResult RunProbe(const QByteArray &url, const QByteArray &expectedHead, qint64 expectedSize,
                         long timeout, const TTransferContext &context)
{
    TCurlSession session(context, TCurlSession::HttpStatus);
    if (!session.IsValid())
        return { false, QStringLiteral("Cannot start the HTTP client"), {} };
    CURL *curl = session.Handle();
    TProbe probe;
    probe.Wanted = expectedHead.size();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    // An empty range is not satisfiable; an empty file is fetched whole.
    const QByteArray range = "0-" + QByteArray::number(qMax<qint64>(probe.Wanted, 1) - 1);
    if (expectedSize > 0)
        curl_easy_setopt(curl, CURLOPT_RANGE, range.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &ProbeWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &probe);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ProbeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &probe);
    const CURLcode code = session.Perform();
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && probe.Enough))
        return { false, session.ErrorText(code), {}, int(status) };

    qint64 total = -1;
    if (status == 206) {
        total = probe.RangeTotal;
    } else {
        curl_off_t length = -1;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        total = length >= 0 ? qint64(length) : (probe.Enough ? -1 : probe.Head.size());
    }
    if (total >= 0 && total != expectedSize)
        return {
            false,
            QStringLiteral("the server sends %1 bytes where the archive has %2").arg(total).arg(expectedSize),
            {},
            int(status)
        };
    if (probe.Head != expectedHead)
        return { false, QStringLiteral("the server sends another file"), {}, int(status) };
    return { true, {}, {}, int(status) };
}

} // namespace

THTTPClient::THTTPClient(QObject *parent)
    : TNetClient(parent)
{
    SetTimeout(30);
}

bool THTTPClient::Fetch(const QString &url, const QString &localFile, QByteArray *body)
{
    const QByteArray encoded = QUrl::fromUserInput(url).toEncoded();
    const bool toFile = body == nullptr;
    const long timeout = Timeout();
    QPointer<THTTPClient> self(this);
    const bool ok = Run([=](const TTransferContext &context) {
        return RunGet(encoded, localFile, toFile, timeout, context);
    });
    if (body)
        *body = ok && self ? ResultData() : QByteArray();
    return ok;
}

bool THTTPClient::Get(const QString &url, QByteArray &body)
{
    return Fetch(url, {}, &body);
}

bool THTTPClient::GetFile(const QString &url, const QString &localFile)
{
    return Fetch(url, localFile, nullptr);
}

bool THTTPClient::VerifyDownload(const QString &url, const QString &localFile)
{
    constexpr qint64 kProbeBytes = 64 * 1024;
    QFile file(localFile);
    QByteArray head;
    qint64 size = -1;
    if (file.open(QIODevice::ReadOnly)) {
        size = file.size();
        head = file.read(kProbeBytes);
    }
    const QByteArray encoded = QUrl::fromUserInput(url).toEncoded();
    const long timeout = Timeout();
    if (size < 0 || head.size() != qMin(size, kProbeBytes)) {
        // Nothing sensible to compare with: fail the check, not the program.
        return Run([localFile, error = file.errorString()](const TTransferContext &) {
            return TTransferResult { false, QStringLiteral("cannot read %1: %2").arg(localFile, error), {} };
        });
    }
    return Run(
        [=](const TTransferContext &context) { return RunProbe(encoded, head, size, timeout, context); });
}
