#include "delivery/netclient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <exception>

TNetClient::TNetClient(QObject *parent)
    : QObject(parent)
{ }

TNetClient::~TNetClient()
{
    m_abort = true;
    if (m_worker.joinable())
        m_worker.join();
    // A Run() still waiting further down the stack must wake up; it notices
    // that its client is gone.
    if (m_loop)
        m_loop->quit();
}

void TNetClient::Abort()
{
    if (m_busy)
        m_abort = true;
}

bool TNetClient::RunsInline() const
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() != app->thread() || thread() != QThread::currentThread();
}

namespace {

TTransferResult RunGuarded(const std::function<TTransferResult(const TTransferContext &)> &job,
                           const TTransferContext &context)
{
    // Nothing may leave the worker as an exception.
    try {
        return job(context);
    } catch (const std::exception &e) {
        return { false, QString::fromUtf8(e.what()), {} };
    } catch (...) {
        return { false, QStringLiteral("Unexpected error in the network client"), {} };
    }
}

} // namespace

bool TNetClient::Start(TJob job)
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

    if (RunsInline()) {
        const TTransferContext context(m_abort, [this](qint64 bytes) { emit progress(bytes); });
        Finish(RunGuarded(job, context));
        return true;
    }

    m_worker = std::thread([this, job = std::move(job)] {
        const TTransferContext context(m_abort, [this](qint64 bytes) {
            QMetaObject::invokeMethod(
                this, [this, bytes] { emit progress(bytes); }, Qt::QueuedConnection);
        });
        const TTransferResult result = RunGuarded(job, context);
        QMetaObject::invokeMethod(
            this, [this, result] { Finish(result); }, Qt::QueuedConnection);
    });
    return true;
}

bool TNetClient::Run(TJob job)
{
    return Start(std::move(job)) && Wait();
}

bool TNetClient::Wait()
{
    QPointer<TNetClient> self(this);
    while (self && m_busy) {
        QEventLoop loop;
        m_loop = &loop;
        loop.exec();
        if (self)
            m_loop = nullptr;
    }
    return self && m_success;
}

void TNetClient::Finish(const TTransferResult &result)
{
    if (m_worker.joinable())
        m_worker.join();
    m_busy = false;
    m_success = result.Success;
    m_error = result.Success ? QString() : result.Error;
    m_data = result.Data;
    m_status = result.Status;
    if (m_loop)
        m_loop->quit();
    emit finished(m_success);
}
