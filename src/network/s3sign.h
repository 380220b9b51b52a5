#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

// AWS Signature Version 4 for S3 requests: header signing (the request
// carries Authorization, x-amz-date and x-amz-content-sha256) and query
// signing (a presigned GET link that anyone may follow until it expires).
//
// The request is given as it goes on the wire: the Host header value
// ("name" or "name:port"), the path already percent-encoded (S3 signs it as
// sent, segments encoded once, "/" kept) and the query parameters
// unencoded; the signer encodes them in the canonical way.
class TS3Signer
{
public:
    using THeader = QPair<QByteArray, QByteArray>; // name (any case), value
    using TQuery = QList<QPair<QByteArray, QByteArray>>; // unencoded name, value

    TS3Signer(const QString &sAccessKeyId, const QString &sSecretKey, const QString &sRegion,
              const QString &sService = QStringLiteral("s3"));

    // The headers to add to a request: x-amz-date, x-amz-content-sha256 and
    // Authorization. extraHeaders (such as Content-Type) are signed too and
    // must go out unchanged; Host is always signed. payloadHash is the hex
    // SHA-256 of the body, or "UNSIGNED-PAYLOAD" for a body streamed from
    // disk.
    QList<THeader> SignHeaders(const QByteArray &method, const QByteArray &host,
                               const QByteArray &encodedPath, const TQuery &query,
                               const QList<THeader> &extraHeaders, const QByteArray &payloadHash,
                               const QDateTime &dtUtc) const;

    // The query string (without "?") of a presigned request that is valid
    // for iExpires seconds from dtUtc; only Host is signed and the payload is
    // UNSIGNED-PAYLOAD.
    QByteArray PresignQuery(const QByteArray &method, const QByteArray &host, const QByteArray &encodedPath,
                            const TQuery &query, int iExpires, const QDateTime &dtUtc) const;

    // Percent-encoding as SigV4 wants it: everything but A-Z a-z 0-9 - . _ ~
    // as %XX with upper-case digits; "/" kept when bKeepSlash.
    static QByteArray UriEncode(const QByteArray &text, bool bKeepSlash);
    // Lower-case hex SHA-256 and raw HMAC-SHA256.
    static QByteArray Sha256Hex(const QByteArray &data);
    static QByteArray HmacSha256(const QByteArray &key, const QByteArray &data);
    // The derived key of a day ("yyyyMMdd"), region and service.
    static QByteArray SigningKey(const QByteArray &secret, const QByteArray &day, const QByteArray &region,
                                 const QByteArray &service);

    // The canonical request and string to sign of the last call, for tests
    // and for the diagnostics of a refused signature (neither holds the
    // secret).
    const QByteArray &LastCanonicalRequest() const { return FCanonical; }
    const QByteArray &LastStringToSign() const { return FStringToSign; }

private:
    QByteArray Scope(const QByteArray &day) const;
    QByteArray Signature(const QByteArray &canonical, const QByteArray &amzDate) const;

    QByteArray FAccessKeyId;
    QByteArray FSecretKey;
    QByteArray FRegion;
    QByteArray FService;
    mutable QByteArray FCanonical;
    mutable QByteArray FStringToSign;
};
