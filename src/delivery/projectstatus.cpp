#include "delivery/projectstatus.h"

#include "archive/archivebuilder.h"
#include "core/threaddb.h"
#include "delivery/deliveryrun.h"
#include "projects/project.h"
#include "projects/projectstore.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QPromise>

namespace {

// A batch goes out after this much work, or with this many projects.
constexpr qint64 kBatchMSecs = 30;
constexpr size_t kBatchProjects = 200;

} // namespace

TProjectStatusJob::TProjectStatusJob(QObject *parent)
    : QObject(parent)
{ }

TProjectStatusJob::~TProjectStatusJob()
{
    Cancel();
    for (TWorker &worker : FWorkers)
        worker.Thread.join();
}

void TProjectStatusJob::JoinWorker(quint64 iId)
{
    std::erase_if(FWorkers, [iId](TWorker &worker) {
        if (worker.Id != iId)
            return false;
        worker.Thread.join();
        return true;
    });
}

void TProjectStatusJob::Cancel()
{
    ++FGeneration;
    FBusy = false;
    if (FStop)
        FStop->store(true);
    FStop.reset();
}

void TProjectStatusJob::Start(const QString &sDatabase, std::vector<TProjectRow> lRows)
{
    Cancel();
    const quint64 iGeneration = FGeneration;
    const quint64 iWorker = ++FLastWorker;
    FBusy = true;
    FStop = std::make_shared<std::atomic_bool>(false);
    using TBatchPtr = std::shared_ptr<TProjectStatusBatch>;
    auto promise = std::make_shared<QPromise<TBatchPtr>>();
    auto *watcher = new QFutureWatcher<TBatchPtr>(this);
    connect(watcher, &QFutureWatcher<TBatchPtr>::resultReadyAt, this, [this, watcher, iGeneration](int i) {
        if (iGeneration == FGeneration)
            Q_EMIT found(watcher->future().resultAt(i));
    });
    connect(watcher, &QFutureWatcher<TBatchPtr>::finished, this, [this, watcher, iGeneration, iWorker] {
        // The worker has reported its last result: joined, it has nothing
        // left to do, and the results it wrote may be freed with the watcher.
        JoinWorker(iWorker);
        watcher->deleteLater();
        if (iGeneration != FGeneration)
            return;
        FBusy = false;
        Q_EMIT finished();
    });
    watcher->setFuture(promise->future());
    promise->start();
    FWorkers.push_back(
        { iWorker, std::thread([promise, sDatabase, lRows = std::move(lRows), stop = FStop] {
              try {
                  const TThreadDatabase db(sDatabase);
                  auto batch = std::make_shared<TProjectStatusBatch>();
                  QElapsedTimer clock;
                  clock.start();
                  for (const TProjectRow &row : lRows) {
                      if (stop->load())
                          break;
                      try {
                          TProjectStatus status;
                          status.iProjectID = row.ID;
                          status.oProject = CreateProject(row.Kind, row.ID, row.Title, row.FileName);
                          status.oProject->Parse();
                          status.iSendTasks = TProjectStore::SendTaskCount(row.ID);
                          // The archive names of the project, up to the version.
                          QString sPrefix
                              = TArchiveBuilder::ArchiveName(*status.oProject, QStringLiteral("V"));
                          sPrefix.chop(QStringLiteral("V.zip").size());
                          status.oLast = LastDelivery(sPrefix);
                          batch->lItems.push_back(std::move(status));
                      } catch (...) {
                          // Left out: the window parses it itself when it is used.
                      }
                      if (batch->lItems.size() >= kBatchProjects || clock.elapsed() >= kBatchMSecs) {
                          promise->addResult(std::move(batch));
                          batch = std::make_shared<TProjectStatusBatch>();
                          clock.restart();
                      }
                  }
                  if (!batch->lItems.empty())
                      promise->addResult(std::move(batch));
              } catch (...) {
                  // No connection: the window parses what it uses.
              }
              promise->finish();
          }) });
}
