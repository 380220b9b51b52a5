#pragma once

#include "delivery/connection.h"

#include <QDialog>
#include <QStyledItemDelegate>
#include <memory>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;
class TFTPTestJob;
class TfrmSettings;

// The staging server test: one second after it opens, runs the FTP test job
// (over the S3 storage when opened for S3)
// over the settings view's fields as typed and shows its lines, then the
// result and a Close button. While the test runs the window does not close;
// Abort stops it after the running step and then closes the window.
// When an SSH host key stopped the upload, the window offers to trust it
// (an unknown key, after the user compared its fingerprint) and then to run
// the test again.
class TfrmFTPTest : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmFTPTest(TfrmSettings *oSettings, TStagingKind eKind = TStagingKind::Ftp);
    ~TfrmFTPTest() override;

    // Runs the test modally; true when the user closed the window with its
    // Close button after the run.
    static bool Execute(TfrmSettings *oSettings, TStagingKind eKind = TStagingKind::Ftp);

    TFTPTestJob &Job() { return *FJob; }
    // Whether the test has started, and ended.
    bool Started() const { return FStarted; }
    bool Finished() const;
    // How many times the test has been started (a run again after trusting
    // a host key counts).
    int Runs() const { return FRuns; }

public Q_SLOTS:
    void reject() override;

private:
    void tmStartTimer();
    void btnAbortClick();
    void LineAppended(int iIndex);
    void LineChanged(int iIndex);
    void RunEnded();
    void NewJob();
    void OfferTrust();
    void RunAgain();

    TStagingSettings FStaging;
    std::unique_ptr<TFTPTestJob> FJob;
    int FRuns = 0;
    bool FStarted = false;
    bool FClosePending = false;

    QListWidget *listActions = nullptr;
    QProgressBar *pbAction = nullptr;
    QLabel *lblResult = nullptr;
    QPushButton *btnAbort = nullptr;
    QTimer *tmStart = nullptr;
};
