#include "network/s3client.h"

#include "network/curlsession.h"
#include "network/s3sign.h"

#include <QFile>
#include <QXmlStreamReader>
#include <atomic>

namespace {

constexpr qint64 kMinPartSize = 5 * 1024 * 1024;
constexpr int kMaxParts = 10000;
// What an answer may bring into memory: XML, or the small objects of Get.
constexpr qint64 kMaxBody = 16 * 1024 * 1024;

// One signed request.
struct TS3Request
{
    QByteArray Method;
    QString Key;
    TS3Signer::TQuery Query;
    QByteArray ContentType;
    QByteArray Body; // in memory, hashed and signed
    QString File; // or streamed from this file: Length bytes from Offset
    qint64 Offset = 0;
    qint64 Length = 0;
};

TS3Request Request(const QByteArray &method, const QString &sKey, const TS3Signer::TQuery &query = {},
                   const QByteArray &contentType = {}, const QByteArray &body = {})
{
    TS3Request request;
    request.Method = method;
    request.Key = sKey;
    request.Query = query;
    request.ContentType = contentType;
    request.Body = body;
    return request;
}

TS3Request FileRequest(const QString &sKey, const TS3Signer::TQuery &query, const QByteArray &contentType,
                       const QString &sFile, qint64 iOffset, qint64 iLength)
{
    TS3Request request = Request("PUT", sKey, query, contentType);
    request.File = sFile;
    request.Offset = iOffset;
    request.Length = iLength;
    return request;
}

struct TS3Reply
{
    long Status = 0;
    QByteArray Body;
    QByteArray ETag;
};

struct TReadState
{
    QFile *File = nullptr;
    qint64 Left = 0;
};

size_t ReadPart(char *buffer, size_t size, size_t count, void *statePtr)
{
    auto *state = static_cast<TReadState *>(statePtr);
    const qint64 wanted = qMin(qint64(size * count), state->Left);
    if (wanted <= 0)
        return 0;
    const qint64 got = state->File->read(buffer, wanted);
    if (got <= 0)
        return CURL_READFUNC_ABORT;
    state->Left -= got;
    return size_t(got);
}

size_t WriteBody(char *data, size_t size, size_t count, void *replyPtr)
{
    auto *reply = static_cast<TS3Reply *>(replyPtr);
    const qint64 n = qint64(size * count);
    if (reply->Body.size() + n > kMaxBody)
        return 0;
    reply->Body.append(data, n);
    return size_t(n);
}

size_t ReadHeader(char *data, size_t size, size_t count, void *replyPtr)
{
    auto *reply = static_cast<TS3Reply *>(replyPtr);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/"))
        reply->ETag.clear();
    else if (line.toLower().startsWith("etag:"))
        reply->ETag = line.mid(5).trimmed();
    return size * count;
}

// The text of an XML element of a reply ("UploadId", "Code", "Message").
QString XmlText(const QByteArray &xml, const QString &sElement)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == sElement)
            return reader.readElementText();
    }
    return {};
}

// "404 NoSuchBucket: The specified bucket does not exist" from an error
// reply; the status line when the body says nothing.
QString ReplyError(const TS3Reply &reply, const QByteArray &statusLine)
{
    const QString sCode = XmlText(reply.Body, QStringLiteral("Code"));
    const QString sMessage = XmlText(reply.Body, QStringLiteral("Message"));
    if (!sCode.isEmpty())
        return QStringLiteral("%1 %2%3")
            .arg(reply.Status)
            .arg(sCode, sMessage.isEmpty() ? QString() : QStringLiteral(": ") + sMessage);
    const qsizetype blank = statusLine.indexOf(' ');
    if (blank > 0)
        return QString::fromUtf8(statusLine.mid(blank + 1).trimmed());
    return QStringLiteral("HTTP status %1").arg(reply.Status);
}

struct TS3Exchange
{
    TS3Settings Server;
    int Timeout = 15;

    TTransferResult Send(const TS3Request &request, TS3Reply &reply, const TTransferContext &context,
                         bool bReportUpload) const
    {
        reply = TS3Reply();
        const QString sProblem = Server.Problem();
        if (!sProblem.isEmpty())
            return { false, sProblem.left(1).toUpper() + sProblem.mid(1), {} };
        TCurlSession session(context, TCurlSession::HttpStatus);
        if (!session.IsValid())
            return { false, QStringLiteral("Cannot start the HTTP client"), {} };
        CURL *curl = session.Handle();
        const TS3Address address = Server.Address(request.Key);
        QByteArray url = address.Url;
        if (!request.Query.isEmpty()) {
            QByteArray query;
            for (const auto &[name, value] : request.Query)
                query += (query.isEmpty() ? "" : "&") + TS3Signer::UriEncode(name, false) + '='
                    + TS3Signer::UriEncode(value, false);
            url += '?' + query;
        }

        QFile file(request.File);
        TReadState state;
        const bool bStream = !request.File.isEmpty();
        if (bStream) {
            if (!file.open(QIODevice::ReadOnly) || !file.seek(request.Offset))
                return { false,
                         QStringLiteral("Cannot read %1: %2").arg(request.File, file.errorString()),
                         {} };
            state.File = &file;
            state.Left = request.Length;
        }

        QList<TS3Signer::THeader> extra;
        if (!request.ContentType.isEmpty())
            extra.append({ "Content-Type", request.ContentType });
        const QByteArray payloadHash
            = bStream ? QByteArrayLiteral("UNSIGNED-PAYLOAD") : TS3Signer::Sha256Hex(request.Body);
        const TS3Signer signer(Server.AccessKeyId.trimmed(), Server.SecretKey, Server.RegionOrDefault());
        const auto signedHeaders
            = signer.SignHeaders(request.Method, address.Host, address.Path, request.Query, extra,
                                 payloadHash, QDateTime::currentDateTimeUtc());
        curl_slist *headers = nullptr;
        for (const auto &[name, value] : extra + signedHeaders)
            headers = curl_slist_append(headers, (name + ": " + value).constData());
        session.AddList(headers);

        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(Timeout));
        session.SetIdleTimeout(Timeout);
        if (!Server.CertificatesFile.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, QFile::encodeName(Server.CertificatesFile).constData());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ReadHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
        if (bStream) {
            curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadPart);
            curl_easy_setopt(curl, CURLOPT_READDATA, &state);
            curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(request.Length));
            session.ReportUpload(bReportUpload);
        } else if (request.Method == "POST") {
            curl_easy_setopt(curl, CURLOPT_POST, 1L);
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.Body.constData());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.Body.size()));
        } else if (request.Method != "GET") {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.Method.constData());
        }
        const CURLcode code = session.Perform();
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
        if (code != CURLE_OK)
            return { false, session.ErrorText(code), {}, int(reply.Status) };
        // S3 may answer 200 and still report an error in the body (a
        // multipart completion that failed late).
        if (reply.Status >= 300 || (reply.Body.contains("<Error>") && request.Method == "POST"))
            return { false, ReplyError(reply, session.LastReply()), {}, int(reply.Status) };
        return { true, {}, {}, int(reply.Status) };
    }

    TTransferResult Put(const QString &sLocal, const QString &sKey, qint64 iPartSize,
                        const TTransferContext &context) const
    {
        QFile file(sLocal);
        if (!file.open(QIODevice::ReadOnly))
            return { false, QStringLiteral("Cannot read %1: %2").arg(sLocal, file.errorString()), {} };
        const qint64 iSize = file.size();
        file.close();
        TS3Reply reply;
        if (iSize <= iPartSize) {
            return Send(FileRequest(sKey, {}, "application/zip", sLocal, 0, iSize), reply, context, true);
        }
        // At most 10,000 parts: a huge file gets larger parts.
        const qint64 iPart = qMax(iPartSize, (iSize + kMaxParts - 1) / kMaxParts);
        // The small requests around the parts count no bytes.
        const TTransferContext quiet = context.WithProgress([](qint64) {});
        TTransferResult result
            = Send(Request("POST", sKey, { { "uploads", "" } }, "application/zip"), reply, quiet, false);
        context.SetNoAnswer(quiet.NoAnswer());
        if (!result.Success)
            return result;
        const QString sUploadId = XmlText(reply.Body, QStringLiteral("UploadId"));
        if (sUploadId.isEmpty())
            return { false, QStringLiteral("The server started no multipart upload"), {} };
        const QByteArray uploadId = sUploadId.toUtf8();

        QByteArray complete = "<CompleteMultipartUpload>";
        for (qint64 iOffset = 0, iNumber = 1; iOffset < iSize; iOffset += iPart, ++iNumber) {
            const TTransferContext partContext = context.WithProgress(
                [&context, iOffset](qint64 bytes) { context.Progress(iOffset + bytes); });
            const TS3Request part = FileRequest(
                sKey, { { "partNumber", QByteArray::number(iNumber) }, { "uploadId", uploadId } }, {}, sLocal,
                iOffset, qMin(iPart, iSize - iOffset));
            result = Send(part, reply, partContext, true);
            if (!result.Success || reply.ETag.isEmpty()) {
                context.SetNoAnswer(partContext.NoAnswer());
                if (result.Success)
                    result
                        = { false, QStringLiteral("The server sent no ETag for part %1").arg(iNumber), {} };
                AbortUpload(sKey, uploadId);
                return result;
            }
            complete += "<Part><PartNumber>" + QByteArray::number(iNumber) + "</PartNumber><ETag>"
                + QString::fromLatin1(reply.ETag).toHtmlEscaped().toLatin1() + "</ETag></Part>";
        }
        complete += "</CompleteMultipartUpload>";
        result = Send(Request("POST", sKey, { { "uploadId", uploadId } }, "application/xml", complete), reply,
                      quiet, false);
        context.SetNoAnswer(quiet.NoAnswer());
        if (!result.Success)
            AbortUpload(sKey, uploadId);
        return result;
    }

    // Drops the parts of a multipart upload that failed, so that they do not
    // stay stored (and billed) on the server: a few seconds at most, also
    // after the user stopped the upload.
    void AbortUpload(const QString &sKey, const QByteArray &uploadId) const
    {
        const std::atomic<bool> never { false };
        const TTransferContext context(never, nullptr, [](qint64) {});
        TS3Exchange brief { Server, qMin(Timeout, 5) };
        TS3Reply reply;
        brief.Send(Request("DELETE", sKey, { { "uploadId", uploadId } }), reply, context, false);
    }
};

} // namespace

TS3Client::TS3Client(QObject *parent)
    : TNetClient(parent)
{ }

void TS3Client::SetPartSize(qint64 iBytes, bool bAnySize)
{
    FPartSize = bAnySize ? qMax<qint64>(iBytes, 1) : qMax(iBytes, kMinPartSize);
}

bool TS3Client::Put(const QString &localFile, const QString &sKey)
{
    RemoteKey = sKey;
    const TS3Exchange exchange { Server, Timeout() };
    const qint64 iPartSize = FPartSize;
    return Run(
        [=](const TTransferContext &context) { return exchange.Put(localFile, sKey, iPartSize, context); });
}

bool TS3Client::Delete(const QString &sKey)
{
    RemoteKey = sKey;
    const TS3Exchange exchange { Server, Timeout() };
    return Run([=](const TTransferContext &context) {
        TS3Reply reply;
        return exchange.Send(Request("DELETE", sKey), reply, context, false);
    });
}

bool TS3Client::Get(const QString &sKey, QByteArray &body)
{
    RemoteKey = sKey;
    const TS3Exchange exchange { Server, Timeout() };
    const bool ok = Run([=](const TTransferContext &context) {
        TS3Reply reply;
        TTransferResult result = exchange.Send(Request("GET", sKey), reply, context, false);
        if (result.Success)
            result.Data = reply.Body;
        return result;
    });
    body = ok ? ResultData() : QByteArray();
    return ok;
}
