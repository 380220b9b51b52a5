#pragma once

#include "network/netclient.h"

#include <QByteArray>
#include <QString>
#include <curl/curl.h>
#include <functional>
#include <vector>

// One libcurl easy handle for one exchange on the worker thread: time-outs,
// progress and abort through the transfer context, and the server's reply
// lines watched through the debug callback (curl's error buffer does not hold
// them).
class TCurlSession
{
public:
    enum TReplyKind { CommandReplies, HttpStatus };

    TCurlSession(const TTransferContext &context, TReplyKind kind);
    ~TCurlSession();
    TCurlSession(const TCurlSession &) = delete;
    TCurlSession &operator=(const TCurlSession &) = delete;

    bool IsValid() const { return FCurl != nullptr; }
    CURL *Handle() const { return FCurl; }

    // Reports upload or download bytes as progress.
    void ReportUpload(bool upload) { FUpload = upload; }
    // Ends the exchange when, for so many seconds, no byte moved and no
    // reply line came in, whatever stage curl is in (its own time-outs do
    // not cover every wait, such as the QUIT after a failed message).
    void SetIdleTimeout(int seconds) { FIdleTimeout = seconds; }
    // Called for each command line sent and each reply line received.
    void SetLineHook(std::function<void(bool incoming, const QByteArray &line)> hook)
    {
        FHook = std::move(hook);
    }

    CURLcode Perform();
    // Reply to the last command sent (before QUIT), or the last status line.
    const QByteArray &LastReply() const { return FLastReply; }
    // The failing reply when it is an error reply, otherwise curl's own text.
    QString ErrorText(CURLcode code) const;

    // Keeps a string list alive for as long as the handle.
    curl_slist *AddList(curl_slist *list);

private:
    static int Debug(CURL *, curl_infotype type, char *data, size_t size, void *self);
    static int XferInfo(void *self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                        curl_off_t ulnow);
    void Line(bool incoming, const QByteArray &line);

    void Touch();
    // The server refused the connection or did not answer in time.
    bool NoAnswer(CURLcode code) const;

    const TTransferContext &FContext;
    TReplyKind FKind;
    int FIdleTimeout = 0;
    qint64 FLastActivity = 0; // steady milliseconds
    bool FIdleExpired = false;
    // The error buffer as it was at the last reply: curl keeps the first
    // message of an exchange, so a text written before later replies (such
    // as a failed address conversion while setting up PORT) is stale.
    QByteArray FStaleError;
    CURL *FCurl = nullptr;
    char FErrorBuffer[CURL_ERROR_SIZE] = {};
    bool FUpload = false;
    qint64 FReported = -1;
    bool FQuitting = false;
    QByteArray FLastReply;
    QByteArray FPartIn;
    std::function<void(bool, const QByteArray &)> FHook;
    std::vector<curl_slist *> FLists;
};

// Checks a text that goes into a protocol command: no control characters.
bool IsSafeCommandText(const QString &text);
