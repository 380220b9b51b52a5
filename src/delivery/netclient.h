#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>

// Outcome of one network exchange, made on the worker thread and handed to
// the client's own thread by value.
struct TTransferResult
{
    bool Success = false;
    QString Error; // the server's failing reply line, or the client's own error
    QByteArray Data; // body of an HTTP GET into memory
    int Status = 0; // HTTP status of the last response
};

// What a running exchange may ask of its client from the worker thread.
class TTransferContext
{
public:
    using TProgressFn = std::function<void(qint64)>;
    TTransferContext(const std::atomic<bool> &abort, const std::atomic<bool> *cancel, TProgressFn progress)
        : m_abort(abort)
        , m_cancel(cancel)
        , m_progress(std::move(progress))
    { }
    bool Aborted() const
    {
        return m_abort.load(std::memory_order_relaxed)
            || (m_cancel && m_cancel->load(std::memory_order_relaxed));
    }
    // Bytes transferred so far; reaches the client's thread as progress().
    void Progress(qint64 bytes) const { m_progress(bytes); }

private:
    const std::atomic<bool> &m_abort;
    const std::atomic<bool> *m_cancel;
    TProgressFn m_progress;
};

// Base of the FTP, SMTP and HTTP clients. One exchange runs at a time. The
// blocking calls (Put, Send, Get, ...) run it on the calling thread, a job's
// thread, with progress() and finished() emitted there. The Start... calls
// run it on a worker thread and report through queued signals to the
// client's thread, for a caller that must not block (its event loop runs).
class TNetClient : public QObject
{
    Q_OBJECT
public:
    explicit TNetClient(QObject *parent = nullptr);
    // Aborts a running exchange and waits for its thread.
    ~TNetClient() override;

    // Seconds without progress (and for the connection) before the exchange fails.
    int Timeout() const { return m_timeout; }
    void SetTimeout(int seconds) { m_timeout = seconds; }

    bool Busy() const { return m_busy.load(std::memory_order_acquire); }
    bool Success() const { return m_success; }
    // Error text of the last finished exchange; empty after a success.
    const QString &ErrorText() const { return m_error; }
    // Asks the running exchange to stop; it then ends as failed. Any thread.
    void Abort();
    // A flag owned by someone else (a job) that, once set, makes every
    // exchange of this client fail at once; null for none. Set it before
    // the exchanges start.
    void SetCancelFlag(const std::atomic<bool> *cancel) { m_cancel = cancel; }

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
    // Starts the exchange on a worker thread and returns; finished() tells
    // the end. False when busy.
    bool Start(TExchange job);
    // Data of the last finished exchange (HTTP body).
    const QByteArray &ResultData() const { return m_data; }
    int ResultStatus() const { return m_status; }

private:
    bool Begin();
    void Finish(const TTransferResult &result);

    int m_timeout = 15;
    std::atomic<bool> m_busy { false };
    bool m_success = false;
    QString m_error;
    QByteArray m_data;
    int m_status = 0;
    std::atomic<bool> m_abort { false };
    const std::atomic<bool> *m_cancel = nullptr;
    std::thread m_worker;
};
