#pragma once

#include "network/netclient.h"
#include "network/s3settings.h"

// S3 client on libcurl: every request signed with Signature Version 4 by
// TS3Signer (the secret never leaves this process and never appears in an
// error text). Each call is one exchange, on the calling thread, with the
// FTP client's time-outs (15 seconds without a byte or a reply) and cancel.
//
// Put uploads a file as application/zip: in one PUT up to the part size,
// and as a multipart upload of parts of PartSize() bytes (16 MiB by
// default) above it, streamed from disk part by part so that memory stays
// flat whatever the size. A multipart upload that fails is aborted on the
// server (briefly, also after the user stopped it).
class TS3Client : public TNetClient
{
    Q_OBJECT
public:
    explicit TS3Client(QObject *parent = nullptr);

    TS3Settings Server;
    // Set by the calls below: the object key last used.
    QString RemoteKey;

    // Bytes per part of a multipart upload, and the size from which an
    // upload is one; at least 5 MiB (S3's smallest part) unless lowered for
    // tests with bAnySize.
    qint64 PartSize() const { return FPartSize; }
    void SetPartSize(qint64 iBytes, bool bAnySize = false);

    // Uploads localFile as the object sKey; progress() reports the bytes
    // sent so far over all parts.
    bool Put(const QString &localFile, const QString &sKey);
    // Deletes the object sKey (S3 answers 204 for a key that is not there).
    bool Delete(const QString &sKey);
    // Fetches the object sKey into body with a signed GET.
    bool Get(const QString &sKey, QByteArray &body);
    // HTTP status of the last response (0 when none came).
    int StatusCode() const { return ResultStatus(); }

private:
    qint64 FPartSize = 16 * 1024 * 1024;
};
