#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The kinds of staging server ("Staging kind").
enum class TStagingKind : int {
    Ftp = 0, // the FTP server with its HTTP download path
    S3 = 1, // S3-compatible object storage
};

// Where one request of an S3 object goes: the address curl is given, the
// Host header as it goes out and the percent-encoded path, both signed.
struct TS3Address
{
    QByteArray Url; // scheme://host[:port]/path, without a query
    QByteArray Host;
    QByteArray Path;
};

// The values an S3 exchange needs: the staging storage of the settings, the
// settings view's fields as typed, or what a retention row recorded.
struct TS3Settings
{
    QString Endpoint; // "https://s3.eu-central-1.amazonaws.com", "http://127.0.0.1:9000"
    QString Region; // "us-east-1" when empty
    QString Bucket;
    QString Prefix; // put before every object key as it is ("links/")
    QString AccessKeyId;
    QString SecretKey;
    bool PathStyle = false; // endpoint/bucket/key; otherwise bucket.endpoint/key
    QString PublicAddress; // optional: the bucket served over HTTP(S), for long-lived links
    QString CertificatesFile; // "TLS certificates file"; empty: the system's store

    // The "S3 ..." settings (and "TLS certificates file").
    static TS3Settings FromSettings();
    // Endpoint, bucket and access key id are set.
    bool Available() const;
    // Why the settings cannot be used, empty when they can: an endpoint
    // that is no http(s) address, a bucket name with a "/" in it.
    QString Problem() const;
    QString RegionOrDefault() const;

    // The object key a staging upload of sName goes up under.
    QString Key(const QString &sName) const { return Prefix + sName; }
    // The address of an object (an empty key: the bucket itself).
    TS3Address Address(const QString &sKey) const;
    // A presigned GET link to the object, valid iSeconds from dtUtc.
    QString PresignedLink(const QString &sKey, int iSeconds, const QDateTime &dtUtc) const;
    // The public address joined with the percent-encoded key.
    QString PublicLink(const QString &sKey) const;

    bool operator==(const TS3Settings &) const = default;
};

// The longest life a presigned link may have: S3 refuses anything over a
// week.
constexpr int kS3MaxPresignSeconds = 7 * 24 * 3600;
