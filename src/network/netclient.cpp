#include "network/netclient.h"

#include <QMetaObject>
#include <exception>

TNetClient::TNetClient(QObject *parent)
    : QObject(parent)
{ }

TNetClient::~TNetClient() = default;

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
        TTransferResult result = job(context);
        result.NoAnswer = !result.Success && context.NoAnswer();
        return result;
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
    FNoAnswer = false;
    FAbort = false;
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

bool TNetClient::Skip(const QString &sError)
{
    if (!Begin())
        return false;
    TTransferResult result;
    result.Error = sError;
    Finish(result);
    return true;
}

void TNetClient::Finish(const TTransferResult &result)
{
    FSuccess = result.Success;
    FError = result.Success ? QString() : result.Error;
    FResultData = result.Data;
    FStatus = result.Status;
    FNoAnswer = result.NoAnswer;
    FBusy = false;
    emit finished(FSuccess);
}
