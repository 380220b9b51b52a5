#pragma once

#include "delivery/netclient.h"

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
    // HTTP status of the last response (0 when none came).
    int StatusCode() const { return ResultStatus(); }

private:
    bool Fetch(const QString &url, const QString &localFile, QByteArray *body);
};
