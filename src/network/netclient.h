#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

// Outcome of one network exchange, made on the worker thread and handed to
// the client's own thread by value.
struct TTransferResult
{
    bool Success = false;
    QString Error; // the server's failing reply line, or the client's own error
    QByteArray Data; // body of an HTTP GET into memory
    int Status = 0; // HTTP status of the last response
    // Failed without a word from the server: refused connection or time-out.
    bool NoAnswer = false;
};

// What a running exchange may ask of its client from the worker thread.
class TTransferContext
{
public:
    using TProgressFn = std::function<void(qint64)>;
    TTransferContext(const std::atomic<bool> &abort, const std::atomic<bool> *cancel, TProgressFn progress)
        : FAbort(abort)
        , FCancel(cancel)
        , FProgress(std::move(progress))
    { }
    bool Aborted() const
    {
        return FAbort.load(std::memory_order_relaxed)
            || (FCancel && FCancel->load(std::memory_order_relaxed));
    }
    // Bytes transferred so far; reaches the client's thread as progress().
    void Progress(qint64 bytes) const { FProgress(bytes); }
    // The same abort and cancel with another progress report, for an
    // exchange made of several requests (one part of a multipart upload
    // reports its bytes after those of the parts before it).
    TTransferContext WithProgress(TProgressFn progress) const
    {
        return TTransferContext(FAbort, FCancel, std::move(progress));
    }
    // Set by the exchange when its server refused the connection or did not
    // answer in time (as opposed to answering with an error).
    void SetNoAnswer(bool noAnswer) const { FNoAnswer = noAnswer; }
    bool NoAnswer() const { return FNoAnswer; }

private:
    const std::atomic<bool> &FAbort;
    const std::atomic<bool> *FCancel;
    TProgressFn FProgress;
    mutable bool FNoAnswer = false; // the exchange's own thread only
};

// Base of the FTP, SMTP and HTTP clients. One exchange runs at a time. The
// calls (Put, Send, Get, ...) run it on the calling thread, a job's thread,
// with progress() and finished() emitted there; Abort() from any thread
// stops it.
class TNetClient : public QObject
{
    Q_OBJECT
public:
    explicit TNetClient(QObject *parent = nullptr);
    ~TNetClient() override;

    // Seconds without progress (and for the connection) before the exchange fails.
    int Timeout() const { return FTimeout; }
    void SetTimeout(int seconds) { FTimeout = seconds; }

    bool Busy() const { return FBusy.load(std::memory_order_acquire); }
    bool Success() const { return FSuccess; }
    // Error text of the last finished exchange; empty after a success.
    const QString &ErrorText() const { return FError; }
    // The last exchange failed because the server refused the connection or
    // did not answer in time; false when it answered with an error.
    bool NoAnswer() const { return FNoAnswer; }
    // Ends an exchange as failed without running it (the caller knows it
    // cannot succeed); ErrorText() then tells sError. False while busy.
    bool Skip(const QString &sError);
    // Asks the running exchange to stop; it then ends as failed. Any thread.
    void Abort();
    // A flag owned by someone else (a job) that, once set, makes every
    // exchange of this client fail at once; null for none. Set it before
    // the exchanges start.
    void SetCancelFlag(const std::atomic<bool> *cancel) { FCancel = cancel; }

signals:
    // Bytes transferred so far in the running exchange.
    void progress(qint64 bytes);
    // The exchange has ended; ErrorText() tells why when it failed.
    void finished(bool success);

protected:
    using TExchange = std::function<TTransferResult(const TTransferContext &)>;
    // Runs the exchange on the calling thread and returns its success when it
    // has ended. Returns false at once, with an error text, while another
    // exchange runs.
    bool Run(TExchange job);
    // Data of the last finished exchange (HTTP body).
    const QByteArray &ResultData() const { return FResultData; }
    int ResultStatus() const { return FStatus; }

private:
    bool Begin();
    void Finish(const TTransferResult &result);

    int FTimeout = 15;
    std::atomic<bool> FBusy { false };
    bool FSuccess = false;
    QString FError;
    QByteArray FResultData;
    int FStatus = 0;
    bool FNoAnswer = false;
    std::atomic<bool> FAbort { false };
    const std::atomic<bool> *FCancel = nullptr;
};
