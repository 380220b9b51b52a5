#pragma once

#include "core/progress.h"
#include "network/sshhostkey.h"
#include "ui/progressdelegate.h"

#include <QColor>
#include <QDialog>
#include <QList>
#include <QStyledItemDelegate>
#include <memory>

class QLabel;
class QListWidget;
class QPushButton;
class QTimer;
class TDeliveryJob;
class TProject;
struct TRunResult;
class TLinkLabel;

// The "Zip and deliver" window: runs the delivery of the projects it is given
// as a background job (100 ms after it shows), shows the progress list, lets
// the user request the stop and save the list when the run is over. It
// cannot be closed while the run goes on; once the stop was requested a close
// is accepted and takes effect when the running project has ended.
class TfrmGenerate : public QDialog
{
    Q_OBJECT

public:
    // The projects stay with the caller and must outlive the window; the job
    // reads them on its thread, so they must not change while it runs.
    explicit TfrmGenerate(const QList<TProject *> &listProjects, QWidget *parent = nullptr);
    ~TfrmGenerate() override;

    // Shows the window modally until the user closes it after the run.
    static int Execute(const QList<TProject *> &listProjects, QWidget *parent = nullptr);

    bool CanClose() const;
    TLineStyle LineStyle(int iRow) const;
    TProgressList &Progress() { return FProgress; }
    TDeliveryJob &Job() { return *FJob; }

    void UpdateButtons();
    // The archive "Open folder" opens (the selected line's, else the last
    // saved one) and the link "Copy link" copies; empty when there is none.
    QString TargetFile() const;
    QString TargetLink() const;
    // The summary under the list once the run has ended.
    static QString StatusText(const TRunResult &result, int iProjects);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

public Q_SLOTS:
    void reject() override;

private:
    void tmLaunchTimer();
    void btnAbortClick();
    void lblSaveClick();
    void LineAppended(int iIndex);
    void LineChanged(int iIndex);
    void RunFinished(const TRunResult &result);
    QString Target(int iKind) const;
    void lblOpenFolderClick();
    void lblCopyLinkClick();
    void OfferHostKeys(const QList<TSshHostKey> &listKeys);
    // Closes now, or when the run has ended.
    void RequestClose();
    void SetBusy(bool bBusy);

    QList<TProject *> FProjectList;
    TProgressList FProgress;
    std::unique_ptr<TDeliveryJob> FJob;
    bool FStarted = false;
    bool FClosePending = false;
    bool FBusy = false;

    QListWidget *listProgress = nullptr;
    QPushButton *btnAbort = nullptr;
    QPushButton *btnClose = nullptr;
    TLinkLabel *lblSave = nullptr;
    TLinkLabel *lblOpenFolder = nullptr;
    TLinkLabel *lblCopyLink = nullptr;
    QLabel *lblStatus = nullptr;
    QTimer *tmLaunch = nullptr;
};
