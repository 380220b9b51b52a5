#include "network/s3settings.h"

#include "core/settingkeys.h"
#include "network/s3sign.h"

#include <QUrl>

TS3Settings TS3Settings::FromSettings()
{
    TS3Settings s3;
    s3.Endpoint = Setting::S3Endpoint.Get().trimmed();
    s3.Region = Setting::S3Region.Get().trimmed();
    s3.Bucket = Setting::S3Bucket.Get().trimmed();
    s3.Prefix = Setting::S3Prefix.Get();
    s3.AccessKeyId = Setting::S3AccessKeyId.Get().trimmed();
    s3.SecretKey = Setting::S3SecretKey.Get();
    s3.PathStyle = Setting::S3PathStyle.Get();
    s3.PublicAddress = Setting::S3PublicAddress.Get().trimmed();
    s3.CertificatesFile = Setting::TLSCertificates.Get();
    return s3;
}

bool TS3Settings::Available() const
{
    return !Endpoint.trimmed().isEmpty() && !Bucket.trimmed().isEmpty() && !AccessKeyId.trimmed().isEmpty();
}

QString TS3Settings::Problem() const
{
    const QUrl url(Endpoint.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return QStringLiteral("the endpoint %1 is no http:// or https:// address").arg(Endpoint);
    if (Bucket.trimmed().isEmpty() || Bucket.contains(QLatin1Char('/')))
        return QStringLiteral("the bucket name \"%1\" cannot be used").arg(Bucket);
    return {};
}

QString TS3Settings::RegionOrDefault() const
{
    return Region.trimmed().isEmpty() ? QStringLiteral("us-east-1") : Region.trimmed();
}

TS3Address TS3Settings::Address(const QString &sKey) const
{
    const QUrl url(Endpoint.trimmed());
    const QString sScheme = url.scheme().toLower();
    const int iDefaultPort = sScheme == QLatin1String("https") ? 443 : 80;
    const int iPort = url.port(-1);
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    const QByteArray bucket = Bucket.trimmed().toUtf8();
    QByteArray base = url.path(QUrl::FullyEncoded).toLatin1();
    while (base.endsWith('/'))
        base.chop(1);
    QByteArray path;
    if (PathStyle) {
        path = base + '/' + TS3Signer::UriEncode(bucket, false);
    } else {
        host = bucket + '.' + host;
        path = base;
    }
    path += '/' + TS3Signer::UriEncode(sKey.toUtf8(), true);
    // curl leaves the standard port out of the Host header; the signed
    // header must be the one that goes out.
    if (iPort > 0 && iPort != iDefaultPort)
        host += ':' + QByteArray::number(iPort);
    return TS3Address { sScheme.toLatin1() + "://" + host + path, host, path };
}

QString TS3Settings::PresignedLink(const QString &sKey, int iSeconds, const QDateTime &dtUtc) const
{
    const TS3Address address = Address(sKey);
    const TS3Signer signer(AccessKeyId.trimmed(), SecretKey, RegionOrDefault());
    const QByteArray query = signer.PresignQuery("GET", address.Host, address.Path, {},
                                                 qBound(1, iSeconds, kS3MaxPresignSeconds), dtUtc);
    return QString::fromLatin1(address.Url + '?' + query);
}

QString TS3Settings::PublicLink(const QString &sKey) const
{
    QString sBase = PublicAddress.trimmed();
    if (!sBase.endsWith(QLatin1Char('/')))
        sBase += QLatin1Char('/');
    return sBase + QString::fromLatin1(TS3Signer::UriEncode(sKey.toUtf8(), true));
}
