#include "ui/frmquicksend.h"

#include "ui/colours.h"
#include "ui/dialogs.h"
#include "ui/frmquick.h"
#include "ui/help.h"
#include "ui/hostkeyprompt.h"
#include "ui/progressdelegate.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

TfrmQuickSend::TfrmQuickSend(const TQuickSendOrder &oOrder, QWidget *parent)
    : QDialog(parent)
    , FOrder(oOrder)
    , FJob(std::make_unique<TQuickSendJob>(oOrder, FProgress))
{
    setObjectName(QStringLiteral("frmQuickSend"));
    setWindowTitle(QStringLiteral("Quick send"));

    listActions = new QListWidget(this);
    listActions->setObjectName(QStringLiteral("listActions"));
    listActions->setAccessibleName(QStringLiteral("Progress"));
    listActions->setItemDelegate(new TProgressLineDelegate(false, listActions));
    listActions->setFrameShape(QFrame::NoFrame);
    listActions->setSelectionMode(QAbstractItemView::NoSelection);
    listActions->setFocusPolicy(Qt::NoFocus);
    // A long line shows whole as the line's tooltip.
    listActions->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // In the button face colour, like the window around it.
    QPalette palette = listActions->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    listActions->setPalette(palette);

    pbAction = new QProgressBar(this);
    pbAction->setObjectName(QStringLiteral("pbAction"));
    pbAction->setRange(0, 0); // marquee
    pbAction->setTextVisible(false);
    pbAction->setFocusPolicy(Qt::StrongFocus);

    btnAbort = new QPushButton(QStringLiteral("&Abort"), this);
    btnAbort->setObjectName(QStringLiteral("btnAbort"));
    btnAbort->setAutoDefault(false);

    auto *bottom = new QHBoxLayout();
    bottom->setSpacing(8);
    bottom->addWidget(pbAction, 1);
    bottom->addWidget(btnAbort);
    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(8, 8, 8, 8);
    main->setSpacing(8);
    main->addWidget(listActions, 1);
    main->addLayout(bottom);
    resize(qMax(360, fontMetrics().averageCharWidth() * 60), qMax(160, fontMetrics().height() * 9));

    tmZip = new QTimer(this);
    tmZip->setObjectName(QStringLiteral("tmZip"));
    tmZip->setSingleShot(true);
    tmZip->setInterval(1000);

    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { ShowHelp(TfrmQuick::kHelpTopic); });
    connect(tmZip, &QTimer::timeout, this, &TfrmQuickSend::tmZipTimer);
    connect(btnAbort, &QPushButton::clicked, this, &TfrmQuickSend::btnAbortClick);
    connect(&FProgress, &TProgressList::lineAppended, this, &TfrmQuickSend::LineAppended);
    connect(&FProgress, &TProgressList::lineChanged, this, &TfrmQuickSend::LineChanged);
    connect(FJob.get(), &TQuickSendJob::finished, this, &TfrmQuickSend::WorkFinished);

    tmZip->start();
}

TfrmQuickSend::~TfrmQuickSend()
{
    // A window that goes mid-send cancels the transfer and waits for the job.
    FJob.reset();
}

void TfrmQuickSend::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        pbAction->setFocus();
}

void TfrmQuickSend::tmZipTimer()
{
    tmZip->stop();
    if (FStarted)
        return;
    FStarted = true;
    FJob->Run();
}

void TfrmQuickSend::OfferHostKeys()
{
    if (::OfferHostKeys(this, FJob->HostKeyProblems()))
        TDialogs::Information(this, windowTitle(),
                              QStringLiteral("The server's host key is now trusted. Send again to "
                                             "deliver to it."));
}

void TfrmQuickSend::WorkFinished(bool bSuccess)
{
    FDone = true;
    FSuccess = bSuccess;
    pbAction->hide();
    if (bSuccess) {
        btnAbort->hide();
        QTimer::singleShot(kCloseDelay, this, &QDialog::accept);
    } else {
        // The user reads the red line and closes the window.
        btnAbort->setText(QStringLiteral("&Close"));
        btnAbort->setFocus();
        // Asked once the job's report is over, not from inside it.
        if (!FJob->HostKeyProblems().isEmpty())
            QMetaObject::invokeMethod(this, &TfrmQuickSend::OfferHostKeys, Qt::QueuedConnection);
    }
}

void TfrmQuickSend::btnAbortClick()
{
    if (!FStarted) {
        tmZip->stop();
        done(QDialog::Rejected);
    } else if (!FDone) {
        // The running transfer fails at once; the window then shows why.
        FJob->Cancel();
    } else {
        done(FSuccess ? QDialog::Accepted : QDialog::Rejected);
    }
}

void TfrmQuickSend::reject()
{
    // Escape and the title bar: like Abort before the work, like Close after
    // it; while the work runs the window stays.
    if (!FStarted || FDone)
        btnAbortClick();
}

void TfrmQuickSend::closeEvent(QCloseEvent *event)
{
    if (FStarted && !FDone) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmQuickSend::done(int iResult)
{
    tmZip->stop();
    QDialog::done(iResult);
    if (!FReported) {
        FReported = true;
        Q_EMIT sendDone(FDone && FSuccess);
    }
}

void TfrmQuickSend::LineAppended(int iIndex)
{
    const QString &sLine = FProgress.Lines().at(iIndex).sText;
    listActions->insertItem(iIndex, sLine);
    listActions->item(iIndex)->setToolTip(sLine.startsWith(QLatin1Char('!')) ? sLine.mid(1) : sLine);
    listActions->scrollToBottom();
}

void TfrmQuickSend::LineChanged(int iIndex)
{
    if (QListWidgetItem *item = listActions->item(iIndex)) {
        item->setText(FProgress.Lines().at(iIndex).sText);
        item->setToolTip(item->text());
    }
}
