#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>

class QEventLoop;

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
    TTransferContext(const std::atomic<bool> &abort, TProgressFn progress)
        : m_abort(abort)
        , m_progress(std::move(progress))
    { }
    bool Aborted() const { return m_abort.load(std::memory_order_relaxed); }
    // Bytes transferred so far; reaches the client's thread as progress().
    void Progress(qint64 bytes) const { m_progress(bytes); }

private:
    const std::atomic<bool> &m_abort;
    TProgressFn m_progress;
};

// Base of the FTP, SMTP and HTTP clients. One exchange runs at a time, on a
// worker thread, while the thread that owns the client keeps processing its
// events; progress and the result come back as queued signals. Called from a
// thread other than the application's main thread, the exchange simply runs
// on the calling thread (no events to keep alive there).
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

    bool Busy() const { return m_busy; }
    bool Success() const { return m_success; }
    // Error text of the last finished exchange; empty after a success.
    const QString &ErrorText() const { return m_error; }
    // Asks the running exchange to stop; it then ends as failed.
    void Abort();
    // Waits for the running exchange (started with a Start... call) to end,
    // processing events meanwhile; returns its success.
    bool Wait();

signals:
    // Bytes transferred so far in the running exchange.
    void progress(qint64 bytes);
    // The exchange has ended; ErrorText() tells why when it failed.
    void finished(bool success);

protected:
    using TJob = std::function<TTransferResult(const TTransferContext &)>;
    // Runs the job and returns when it has ended, processing events meanwhile.
    // Returns false at once, with an error text, while another exchange runs.
    bool Run(TJob job);
    // Starts the job and returns; finished() tells the end. False when busy.
    bool Start(TJob job);
    // Data of the last finished exchange (HTTP body).
    const QByteArray &ResultData() const { return m_data; }
    int ResultStatus() const { return m_status; }

private:
    void Finish(const TTransferResult &result);
    bool RunsInline() const;

    int m_timeout = 15;
    bool m_busy = false;
    bool m_success = false;
    QString m_error;
    QByteArray m_data;
    int m_status = 0;
    std::atomic<bool> m_abort { false };
    std::thread m_worker;
    QEventLoop *m_loop = nullptr;
};
