#include "network/s3sign.h"

#include "core/exceptions.h"

#include <QMap>
#include <algorithm>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

namespace {

const QByteArray kAlgorithm = QByteArrayLiteral("AWS4-HMAC-SHA256");

QByteArray CanonicalQuery(const TS3Signer::TQuery &query)
{
    // Sorted by encoded name, then value.
    QList<QPair<QByteArray, QByteArray>> encoded;
    for (const auto &[name, value] : query)
        encoded.append({ TS3Signer::UriEncode(name, false), TS3Signer::UriEncode(value, false) });
    std::sort(encoded.begin(), encoded.end());
    QByteArray text;
    for (const auto &[name, value] : std::as_const(encoded)) {
        if (!text.isEmpty())
            text += '&';
        text += name + '=' + value;
    }
    return text;
}

} // namespace

TS3Signer::TS3Signer(const QString &sAccessKeyId, const QString &sSecretKey, const QString &sRegion,
                     const QString &sService)
    : FAccessKeyId(sAccessKeyId.toUtf8())
    , FSecretKey(sSecretKey.toUtf8())
    , FRegion(sRegion.toUtf8())
    , FService(sService.toUtf8())
{ }

QByteArray TS3Signer::UriEncode(const QByteArray &text, bool bKeepSlash)
{
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool bUnreserved = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')
            || u == '-' || u == '.' || u == '_' || u == '~';
        if (bUnreserved || (bKeepSlash && u == '/')) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

QByteArray TS3Signer::Sha256Hex(const QByteArray &data)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()), digest);
    return QByteArray(reinterpret_cast<const char *>(digest), SHA256_DIGEST_LENGTH).toHex();
}

QByteArray TS3Signer::HmacSha256(const QByteArray &key, const QByteArray &data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int iLength = 0;
    if (!HMAC(EVP_sha256(), key.constData(), int(key.size()),
              reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()), digest,
              &iLength))
        throw Exception(QStringLiteral("HMAC-SHA256 failed"));
    return QByteArray(reinterpret_cast<const char *>(digest), int(iLength));
}

QByteArray TS3Signer::SigningKey(const QByteArray &secret, const QByteArray &day, const QByteArray &region,
                                 const QByteArray &service)
{
    const QByteArray dateKey = HmacSha256("AWS4" + secret, day);
    const QByteArray regionKey = HmacSha256(dateKey, region);
    const QByteArray serviceKey = HmacSha256(regionKey, service);
    return HmacSha256(serviceKey, "aws4_request");
}

QByteArray TS3Signer::Scope(const QByteArray &day) const
{
    return day + '/' + FRegion + '/' + FService + "/aws4_request";
}

QByteArray TS3Signer::Signature(const QByteArray &canonical, const QByteArray &amzDate) const
{
    const QByteArray day = amzDate.left(8);
    FCanonical = canonical;
    FStringToSign = kAlgorithm + '\n' + amzDate + '\n' + Scope(day) + '\n' + Sha256Hex(canonical);
    return HmacSha256(SigningKey(FSecretKey, day, FRegion, FService), FStringToSign).toHex();
}

QList<TS3Signer::THeader> TS3Signer::SignHeaders(const QByteArray &method, const QByteArray &host,
                                                 const QByteArray &encodedPath, const TQuery &query,
                                                 const QList<THeader> &extraHeaders,
                                                 const QByteArray &payloadHash, const QDateTime &dtUtc) const
{
    const QByteArray amzDate = dtUtc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    QMap<QByteArray, QByteArray> headers; // sorted by lower-case name
    headers.insert("host", host);
    headers.insert("x-amz-content-sha256", payloadHash);
    headers.insert("x-amz-date", amzDate);
    for (const auto &[name, value] : extraHeaders)
        headers.insert(name.toLower(), value.trimmed());
    QByteArray canonicalHeaders;
    QByteArray signedHeaders;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        canonicalHeaders += it.key() + ':' + it.value() + '\n';
        if (!signedHeaders.isEmpty())
            signedHeaders += ';';
        signedHeaders += it.key();
    }
    const QByteArray canonical = method + '\n' + encodedPath + '\n' + CanonicalQuery(query) + '\n'
        + canonicalHeaders + '\n' + signedHeaders + '\n' + payloadHash;
    const QByteArray signature = Signature(canonical, amzDate);
    const QByteArray authorization = kAlgorithm + " Credential=" + FAccessKeyId + '/' + Scope(amzDate.left(8))
        + ",SignedHeaders=" + signedHeaders + ",Signature=" + signature;
    return { { "x-amz-date", amzDate },
             { "x-amz-content-sha256", payloadHash },
             { "Authorization", authorization } };
}

QByteArray TS3Signer::PresignQuery(const QByteArray &method, const QByteArray &host,
                                   const QByteArray &encodedPath, const TQuery &query, int iExpires,
                                   const QDateTime &dtUtc) const
{
    const QByteArray amzDate = dtUtc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    TQuery signedQuery = query;
    signedQuery.append(qMakePair(QByteArray("X-Amz-Algorithm"), kAlgorithm));
    signedQuery.append(
        qMakePair(QByteArray("X-Amz-Credential"), FAccessKeyId + '/' + Scope(amzDate.left(8))));
    signedQuery.append(qMakePair(QByteArray("X-Amz-Date"), amzDate));
    signedQuery.append(qMakePair(QByteArray("X-Amz-Expires"), QByteArray::number(iExpires)));
    signedQuery.append(qMakePair(QByteArray("X-Amz-SignedHeaders"), QByteArray("host")));
    const QByteArray queryText = CanonicalQuery(signedQuery);
    const QByteArray canonical
        = method + '\n' + encodedPath + '\n' + queryText + "\nhost:" + host + "\n\nhost\nUNSIGNED-PAYLOAD";
    return queryText + "&X-Amz-Signature=" + Signature(canonical, amzDate);
}
