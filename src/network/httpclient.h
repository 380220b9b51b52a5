#pragma once

#include "network/netclient.h"

// HTTP GET: HTTP/1.0, up to 5 redirects, 30-second time-out by default; a
// status of 400 or more fails with the status line as error text.
class THTTPClient : public TNetClient
{
    Q_OBJECT
public:
    explicit THTTPClient(QObject *parent = nullptr);

    // Fetches url into body on the calling thread; returns when done.
    bool Get(const QString &url, QByteArray &body);
    // Fetches url into localFile (replaced; removed again on failure).
    bool GetFile(const QString &url, const QString &localFile);
    // Checks that url serves exactly localFile before anyone is sent the
    // link: a GET for its first 64 KiB (ranged, so a large archive is not
    // fetched whole) whose total size (Content-Range, or Content-Length when
    // the server ignores the range) and first bytes must match the file.
    // False with the reason as error text.
    bool VerifyDownload(const QString &url, const QString &localFile);
    // HTTP status of the last response (0 when none came).
    int StatusCode() const { return ResultStatus(); }

private:
    bool Fetch(const QString &url, const QString &localFile, QByteArray *body);
};
