#include "delivery/httpclient.h"

#include "delivery/curlsession.h"

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
