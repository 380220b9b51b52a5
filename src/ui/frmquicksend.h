#pragma once

#include "core/progress.h"
#include "delivery/quicksend.h"

#include <QDialog>
#include <memory>

class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;
class TQuickSendJob;

// The small progress window of a quick send: a second after it opens it
// zips and sends as a background job and shows a few lines. Abort closes it
// before the work starts and cancels a running transfer. After a success it
// closes by itself after 1.5 s; after a failure it stays, with its red line,
// until the user closes it.
class TfrmQuickSend : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmQuickSend(const TQuickSendOrder &oOrder, QWidget *parent = nullptr);
    ~TfrmQuickSend() override;

    // The work has ended (successful or not).
    bool Done() const { return FDone; }
    bool Success() const { return FSuccess; }
    TProgressList &Progress() { return FProgress; }
    // How long the window stays after a success, in milliseconds.
    static constexpr int kCloseDelay = 1500;

Q_SIGNALS:
    // The window has closed: the file went out, or not (also after Abort).
    void sendDone(bool bSuccess);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

public Q_SLOTS:
    void done(int iResult) override;
    void reject() override;

private:
    void tmZipTimer();
    void btnAbortClick();
    void WorkFinished(bool bSuccess);
    void OfferHostKeys();
    void LineAppended(int iIndex);
    void LineChanged(int iIndex);

    TQuickSendOrder FOrder;
    TProgressList FProgress;
    std::unique_ptr<TQuickSendJob> FJob;
    bool FStarted = false;
    bool FDone = false;
    bool FSuccess = false;
    bool FReported = false;

    QListWidget *listActions = nullptr;
    QProgressBar *pbAction = nullptr;
    QPushButton *btnAbort = nullptr;
    QTimer *tmZip = nullptr;
};
