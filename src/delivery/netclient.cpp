#include "delivery/netclient.h"

#include <exception>

TNetClient::TNetClient(QObject *parent)
    : QObject(parent)
{
    connect(this, &TNetClient::workerReported, this, &TNetClient::TakeReports, Qt::QueuedConnection);
}

TNetClient::~TNetClient()
{
    FAbort = true;
    if (FWorker.joinable())
        FWorker.join();
}

void TNetClient::Abort()
{
    if (FBusy)
        FAbort = true;
}

namespace {

TTransferResult RunGuarded(const std::function<TTransferResult(const TTransferContext &)> &job,
                           const TTransferContext &context)
{
    // Nothing may leave the exchange as an exception.
    try {
        return job(context);
    } catch (const std::exception &e) {
        return { false, QString::fromUtf8(e.what()), {} };
    } catch (...) {
        return { false, QStringLiteral("Unexpected error in the network client"), {} };
    }
}

} // namespace

bool TNetClient::Begin()
{
    if (FBusy) {
        FError = QStringLiteral("Another transfer is still running");
        return false;
    }
    FBusy = true;
    FSuccess = false;
    FError.clear();
    FResultData.clear();
    FStatus = 0;
    FAbort = false;
    if (FWorker.joinable())
        FWorker.join();
    return true;
}

bool TNetClient::Run(TExchange job)
{
    if (!Begin())
        return false;
    const TTransferContext context(FAbort, FCancel, [this](qint64 bytes) { emit progress(bytes); });
    Finish(RunGuarded(job, context));
    return FSuccess;
}

bool TNetClient::Start(TExchange job)
{
    if (!Begin())
        return false;
    // The worker leaves its reports under a lock and only wakes this thread
    // with a queued signal, so every hand-over is one a thread checker sees.
    // Byte counts that arrive faster than they are taken merge into the latest.
    FWorker = std::thread([this, job = std::move(job)] {
        const TTransferContext context(FAbort, FCancel, [this](qint64 bytes) {
            {
                const std::lock_guard lock(FReportMutex);
                FReportedBytes = bytes;
            }
            emit workerReported(QPrivateSignal());
        });
        TTransferResult result = RunGuarded(job, context);
        {
            const std::lock_guard lock(FReportMutex);
            FReportedResult = std::move(result);
        }
        emit workerReported(QPrivateSignal());
    });
    return true;
}

void TNetClient::TakeReports()
{
    qint64 bytes = -1;
    std::optional<TTransferResult> result;
    {
        const std::lock_guard lock(FReportMutex);
        std::swap(bytes, FReportedBytes);
        result.swap(FReportedResult);
    }
    if (bytes >= 0)
        emit progress(bytes);
    if (result)
        Finish(*result);
}

void TNetClient::Finish(const TTransferResult &result)
{
    if (FWorker.joinable())
        FWorker.join();
    FSuccess = result.Success;
    FError = result.Success ? QString() : result.Error;
    FResultData = result.Data;
    FStatus = result.Status;
    FBusy = false;
    emit finished(FSuccess);
}
