#include "delivery/netclient.h"

#include <QMetaObject>
#include <exception>

TNetClient::TNetClient(QObject *parent)
    : QObject(parent)
{ }

TNetClient::~TNetClient()
{
    m_abort = true;
    if (m_worker.joinable())
        m_worker.join();
}

void TNetClient::Abort()
{
    if (m_busy)
        m_abort = true;
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
    if (m_busy) {
        m_error = QStringLiteral("Another transfer is still running");
        return false;
    }
    m_busy = true;
    m_success = false;
    m_error.clear();
    m_data.clear();
    m_status = 0;
    m_abort = false;
    if (m_worker.joinable())
        m_worker.join();
    return true;
}

bool TNetClient::Run(TExchange job)
{
    if (!Begin())
        return false;
    const TTransferContext context(m_abort, m_cancel, [this](qint64 bytes) { emit progress(bytes); });
    Finish(RunGuarded(job, context));
    return m_success;
}

bool TNetClient::Start(TExchange job)
{
    if (!Begin())
        return false;
    m_worker = std::thread([this, job = std::move(job)] {
        const TTransferContext context(m_abort, m_cancel, [this](qint64 bytes) {
            QMetaObject::invokeMethod(
                this, [this, bytes] { emit progress(bytes); }, Qt::QueuedConnection);
        });
        const TTransferResult result = RunGuarded(job, context);
        QMetaObject::invokeMethod(
            this, [this, result] { Finish(result); }, Qt::QueuedConnection);
    });
    return true;
}

void TNetClient::Finish(const TTransferResult &result)
{
    if (m_worker.joinable())
        m_worker.join();
    m_success = result.Success;
    m_error = result.Success ? QString() : result.Error;
    m_data = result.Data;
    m_status = result.Status;
    m_busy = false;
    emit finished(m_success);
}
