#include "ui/frmgenerate.h"

#include "core/globals.h"
#include "core/regutils.h"
#include "core/settingkeys.h"
#include "core/winutils.h"
#include "delivery/deliveryjob.h"
#include "diagnostics/diaglog.h"
#include "ui/colours.h"
#include "ui/dialogs.h"
#include "ui/formpos.h"
#include "ui/help.h"
#include "ui/hostkeyprompt.h"
#include "ui/linklabel.h"
#include "ui/shellutils.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTimer>

// --- TfrmGenerate ---------------------------------------------------------

TfrmGenerate::TfrmGenerate(const QList<TProject *> &listProjects, QWidget *parent)
    : QDialog(parent)
    , FProjectList(listProjects)
    , FJob(std::make_unique<TDeliveryJob>(listProjects, FProgress))
{
    setObjectName(QStringLiteral("frmGenerate"));
    setWindowTitle(QStringLiteral("Bundlewick :: Zip and deliver"));
    setMinimumSize(360, 240);

    listProgress = new QListWidget(this);
    listProgress->setObjectName(QStringLiteral("listProgress"));
    listProgress->setItemDelegate(new TProgressLineDelegate(true, listProgress));
    // A line is selected to act on it; long lines scroll sideways, and each
    // shows whole as its tooltip.
    listProgress->setSelectionMode(QAbstractItemView::SingleSelection);
    listProgress->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    listProgress->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    listProgress->setTextElideMode(Qt::ElideNone);
    listProgress->setGeometry(16, 16, 448, 300);

    btnAbort = new QPushButton(QStringLiteral("&Abort"), this);
    btnAbort->setObjectName(QStringLiteral("btnAbort"));
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    for (QPushButton *button : { btnAbort, btnClose }) {
        button->setAutoDefault(false);
        button->resize(qMax(90, button->sizeHint().width()), button->sizeHint().height());
    }
    lblSave = new TLinkLabel(QStringLiteral("Save log"), this);
    lblSave->setObjectName(QStringLiteral("lblSave"));
    lblSave->adjustSize();
    lblSave->move(16, 0);
    lblOpenFolder = new TLinkLabel(QStringLiteral("Open folder"), this);
    lblOpenFolder->setObjectName(QStringLiteral("lblOpenFolder"));
    lblOpenFolder->adjustSize();
    lblCopyLink = new TLinkLabel(QStringLiteral("Copy link"), this);
    lblCopyLink->setObjectName(QStringLiteral("lblCopyLink"));
    lblCopyLink->adjustSize();
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

    tmLaunch = new QTimer(this);
    tmLaunch->setObjectName(QStringLiteral("tmLaunch"));
    tmLaunch->setInterval(100);
    tmLaunch->setSingleShot(true);

    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { ShowHelp(22); });

    connect(tmLaunch, &QTimer::timeout, this, &TfrmGenerate::tmLaunchTimer);
    connect(btnAbort, &QPushButton::clicked, this, &TfrmGenerate::btnAbortClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmGenerate::RequestClose);
    connect(lblSave, &TLinkLabel::clicked, this, &TfrmGenerate::lblSaveClick);
    connect(lblOpenFolder, &TLinkLabel::clicked, this, &TfrmGenerate::lblOpenFolderClick);
    connect(lblCopyLink, &TLinkLabel::clicked, this, &TfrmGenerate::lblCopyLinkClick);
    connect(listProgress, &QListWidget::itemSelectionChanged, this, &TfrmGenerate::UpdateButtons);
    connect(&FProgress, &TProgressList::lineAppended, this, &TfrmGenerate::LineAppended);
    connect(&FProgress, &TProgressList::lineChanged, this, &TfrmGenerate::LineChanged);
    connect(&FProgress, &TProgressList::cleared, listProgress, &QListWidget::clear);

    connect(FJob.get(), &TDeliveryJob::stateChanged, this, &TfrmGenerate::UpdateButtons);
    connect(FJob.get(), &TDeliveryJob::finished, this, &TfrmGenerate::RunFinished);
    // Shown once the job's report is over, not from inside it: the run goes
    // on meanwhile, and its further reports (its end too) must not arrive in
    // the box's event loop while the report that opened it is still running.
    connect(FJob.get(), &TDeliveryJob::attendedError, this, [this](const QString &sMessage) {
        QMetaObject::invokeMethod(
            this, [this, sMessage] { TDialogs::Critical(this, windowTitle(), sMessage); },
            Qt::QueuedConnection);
    });

    resize(480, 400);
    UpdateButtons();
}

TfrmGenerate::~TfrmGenerate()
{
    // A window that goes mid-run (its owner went) cancels the running
    // transfer and waits for the job before the projects can go.
    FJob.reset();
    SetBusy(false);
}

int TfrmGenerate::Execute(const QList<TProject *> &listProjects, QWidget *parent)
{
    TfrmGenerate frm(listProjects, parent);
    return frm.exec();
}

bool TfrmGenerate::CanClose() const
{
    return FJob->CanClose();
}

TLineStyle TfrmGenerate::LineStyle(int iRow) const
{
    return TProgressLineDelegate::LineStyle(listProgress->model()->index(iRow, 0), listProgress->palette(),
                                            true);
}

void TfrmGenerate::UpdateButtons()
{
    btnAbort->setEnabled(!CanClose());
    btnClose->setEnabled(CanClose());
    lblSave->setEnabled(CanClose());
    lblOpenFolder->setEnabled(!TargetFile().isEmpty());
    lblCopyLink->setEnabled(!TargetLink().isEmpty());
}

QString TfrmGenerate::Target(int iKind) const
{
    const QList<TProgressLine> &lines = FProgress.Lines();
    const int iSelected = listProgress->currentRow();
    if (iSelected >= 0 && listProgress->currentItem() && listProgress->currentItem()->isSelected()
        && iSelected < lines.size() && lines.at(iSelected).iTargetKind == iKind)
        return lines.at(iSelected).sTarget;
    for (qsizetype i = lines.size() - 1; i >= 0; --i)
        if (lines.at(i).iTargetKind == iKind)
            return lines.at(i).sTarget;
    return QString();
}

QString TfrmGenerate::TargetFile() const
{
    return Target(TProgressLine::tkFile);
}

QString TfrmGenerate::TargetLink() const
{
    return Target(TProgressLine::tkLink);
}

void TfrmGenerate::lblOpenFolderClick()
{
    const QString sFile = TargetFile();
    if (!sFile.isEmpty())
        OpenDocument(QFileInfo(sFile).absolutePath());
}

void TfrmGenerate::lblCopyLinkClick()
{
    const QString sLink = TargetLink();
    if (QClipboard *clipboard = QGuiApplication::clipboard(); clipboard && !sLink.isEmpty())
        clipboard->setText(sLink);
}

QString TfrmGenerate::StatusText(const TRunResult &result, int iProjects)
{
    const int iSkipped = qMax(0, iProjects - result.iDelivered - result.iFailed);
    const QString sCounts = QStringLiteral("%1 delivered, %2 failed, %3 skipped")
                                .arg(Plural(QStringLiteral("project"), result.iDelivered))
                                .arg(result.iFailed)
                                .arg(iSkipped);
    if (result.bAborted)
        return QStringLiteral("Stopped by the user: %1 delivered, %2 not delivered")
            .arg(Plural(QStringLiteral("project"), result.iDelivered))
            .arg(iProjects - result.iDelivered);
    if (result.bStopped)
        return QStringLiteral("Stopped early: ") + sCounts;
    return sCounts;
}

void TfrmGenerate::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (Params)
        LoadFormPos(*Params, this);
    if (!FStarted)
        tmLaunch->start();
}

void TfrmGenerate::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous() && Params)
        SaveFormPos(*Params, this);
    QDialog::hideEvent(event);
}

void TfrmGenerate::closeEvent(QCloseEvent *event)
{
    if (!CanClose()) {
        event->ignore();
        return;
    }
    if (FStarted && !FJob->Ended()) {
        // Stop requested, project still running: close when it has ended.
        FClosePending = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmGenerate::reject()
{
    // Escape and the title bar close only after the run, or once the stop was requested.
    if (CanClose())
        RequestClose();
}

void TfrmGenerate::RequestClose()
{
    if (!CanClose())
        return;
    if (FStarted && !FJob->Ended()) {
        FClosePending = true;
        return;
    }
    done(QDialog::Rejected);
}

void TfrmGenerate::SetBusy(bool bBusy)
{
    // The hourglass for the length of the run.
    if (bBusy == FBusy)
        return;
    FBusy = bBusy;
    if (bBusy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void TfrmGenerate::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    btnClose->move(width() - 16 - btnClose->width(), height() - 16 - btnClose->height());
    btnAbort->move(btnClose->x() - 16 - btnAbort->width(), btnClose->y());
    lblSave->move(lblSave->x(), btnClose->y() + 5);
    lblOpenFolder->move(lblSave->x() + lblSave->width() + 12, lblSave->y());
    lblCopyLink->move(lblOpenFolder->x() + lblOpenFolder->width() + 12, lblSave->y());
    const int iStatus = lblStatus->sizeHint().height();
    lblStatus->setGeometry(listProgress->x(), btnClose->y() - 12 - iStatus, width() - 16 - listProgress->x(),
                           iStatus);
    listProgress->resize(width() - 16 - listProgress->x(), lblStatus->y() - 4 - listProgress->y());
}

void TfrmGenerate::tmLaunchTimer()
{
    tmLaunch->stop();
    if (FStarted)
        return;
    FStarted = true;
    SetBusy(true);
    FJob->Run();
}

void TfrmGenerate::RunFinished(const TRunResult &result)
{
    SetBusy(false);
    lblStatus->setText(StatusText(result, int(FProjectList.size())));
    UpdateButtons();
    if (!FJob->ErrorText().isEmpty()) {
        // The run could not go on (a database failure): tell and keep the trace.
        if (DiagLog)
            DiagLog->LogFmt(QStringLiteral("TfrmGenerate"), QStringLiteral("Delivery run failed: %s"),
                            { FJob->ErrorText() }, lwError);
        TDialogs::Critical(this, windowTitle(), FJob->ErrorText());
    }
    if (FClosePending) {
        FClosePending = false;
        done(QDialog::Rejected);
        return;
    }
    // Asked once the job's report is over, not from inside it.
    if (!result.listHostKeys.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, keys = result.listHostKeys] { OfferHostKeys(keys); }, Qt::QueuedConnection);
}

void TfrmGenerate::OfferHostKeys(const QList<TSshHostKey> &listKeys)
{
    if (::OfferHostKeys(this, listKeys))
        TDialogs::Information(this, windowTitle(),
                              QStringLiteral("The server's host key is now trusted. Deliver again to "
                                             "send to it."));
}

void TfrmGenerate::btnAbortClick()
{
    FJob->Abort();
}

void TfrmGenerate::lblSaveClick()
{
    const QString sFolder = Param::LogFolder.Get();
    const QString sFileName
        = TDialogs::SaveFileName(this, QStringLiteral("Save log file"), sFolder,
                                 QStringLiteral("Text files (*.txt);;All files (*)"), QStringLiteral("txt"));
    if (sFileName.isEmpty())
        return;
    Param::LogFolder.Set(QFileInfo(sFileName).absolutePath());
    QSaveFile file(sFileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(FProgress.SaveText().toUtf8()) < 0 || !file.commit())
        TDialogs::Critical(
            this, QStringLiteral("Save log file"),
            QStringLiteral("Unable to save the log to %1: %2").arg(sFileName, file.errorString()));
}

namespace {

// The whole line (without its marker); a saved archive adds its folder.
QString LineToolTip(const TProgressLine &line)
{
    QString sTip = line.sText.startsWith(QLatin1Char('!')) ? line.sText.mid(1) : line.sText;
    sTip = sTip.trimmed();
    if (line.iTargetKind == TProgressLine::tkFile)
        sTip += QStringLiteral("\nin ") + QDir::toNativeSeparators(QFileInfo(line.sTarget).absolutePath());
    else if (line.iTargetKind == TProgressLine::tkLink)
        sTip += QStringLiteral("\nwith the link ") + line.sTarget;
    return sTip;
}

} // namespace

void TfrmGenerate::LineAppended(int iIndex)
{
    const TProgressLine &line = FProgress.Lines().at(iIndex);
    auto *item = new QListWidgetItem(line.sText);
    item->setToolTip(LineToolTip(line));
    listProgress->insertItem(iIndex, item);
    listProgress->scrollToBottom();
    UpdateButtons();
}

void TfrmGenerate::LineChanged(int iIndex)
{
    if (QListWidgetItem *item = listProgress->item(iIndex)) {
        const TProgressLine &line = FProgress.Lines().at(iIndex);
        item->setText(line.sText);
        item->setToolTip(LineToolTip(line));
    }
}
