#include "ui/frmftptest.h"

#include "delivery/connectiontest.h"
#include "ui/colours.h"
#include "ui/dialogs.h"
#include "ui/frmsettings.h"
#include "ui/hostkeyprompt.h"
#include "ui/progressdelegate.h"
#include "ui/windowkit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

// --- TfrmFTPTest ----------------------------------------------------------

TfrmFTPTest::TfrmFTPTest(TfrmSettings *oSettings, TStagingKind eKind)
    : QDialog(oSettings)
    , FStaging(oSettings->StagingAsTyped())
{
    // Each test link tests its own server, whichever kind links use.
    FStaging.Kind = eKind;
    setObjectName(QStringLiteral("frmFTPTest"));
    setWindowTitle(eKind == TStagingKind::S3 ? QStringLiteral("S3 test") : QStringLiteral("FTP test"));

    listActions = new QListWidget(this);
    listActions->setObjectName(QStringLiteral("listActions"));
    listActions->setItemDelegate(new TProgressLineDelegate(false, listActions));
    listActions->setFrameShape(QFrame::NoFrame);
    listActions->setSelectionMode(QAbstractItemView::NoSelection);
    listActions->setFocusPolicy(Qt::NoFocus);
    QPalette palette = listActions->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    listActions->setPalette(palette);
    const QFontMetrics metrics = fontMetrics();
    listActions->setMinimumSize(qMax(360, metrics.averageCharWidth() * 60),
                                qMax(13, metrics.height() + 1) * 9);

    pbAction = new QProgressBar(this);
    pbAction->setObjectName(QStringLiteral("pbAction"));
    pbAction->setRange(0, 0); // marquee
    pbAction->setTextVisible(false);

    lblResult = new QLabel(this);
    lblResult->setObjectName(QStringLiteral("lblResult"));
    QFont big = lblResult->font();
    big.setPixelSize(21);
    lblResult->setFont(big);
    lblResult->setMinimumHeight(QFontMetrics(big).height());
    lblResult->hide();

    btnAbort = new QPushButton(QStringLiteral("&Abort"), this);
    btnAbort->setObjectName(QStringLiteral("btnAbort"));
    btnAbort->setDefault(true);

    tmStart = new QTimer(this);
    tmStart->setObjectName(QStringLiteral("tmStart"));
    tmStart->setSingleShot(true);
    tmStart->setInterval(1000);

    auto *bottom = new QHBoxLayout();
    bottom->setSpacing(kFormMargin);
    bottom->addWidget(pbAction, 1);
    bottom->addWidget(lblResult, 1);
    bottom->addWidget(btnAbort);
    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addWidget(listActions, 1);
    main->addLayout(bottom);
    main->setSizeConstraint(QLayout::SetFixedSize);

    connect(tmStart, &QTimer::timeout, this, &TfrmFTPTest::tmStartTimer);
    connect(btnAbort, &QPushButton::clicked, this, &TfrmFTPTest::btnAbortClick);
    NewJob();
    tmStart->start();
}

void TfrmFTPTest::NewJob()
{
    FJob = std::make_unique<TFTPTestJob>(FStaging);
    connect(FJob.get(), &TFTPTestJob::lineAppended, this, &TfrmFTPTest::LineAppended);
    connect(FJob.get(), &TFTPTestJob::lineChanged, this, &TfrmFTPTest::LineChanged);
    connect(FJob.get(), &TJob::ended, this, &TfrmFTPTest::RunEnded);
}

TfrmFTPTest::~TfrmFTPTest()
{
    // Gone mid-test: the running transfer is cancelled and the thread joined
    // before the window's parts go.
    FJob.reset();
}

bool TfrmFTPTest::Execute(TfrmSettings *oSettings, TStagingKind eKind)
{
    TfrmFTPTest frm(oSettings, eKind);
    return frm.exec() == QDialog::Accepted;
}

bool TfrmFTPTest::Finished() const
{
    return FJob->Ended();
}

void TfrmFTPTest::tmStartTimer()
{
    tmStart->stop();
    if (FStarted)
        return;
    FStarted = true;
    ++FRuns;
    FJob->Start();
}

void TfrmFTPTest::btnAbortClick()
{
    if (Finished()) {
        done(QDialog::Accepted);
        return;
    }
    if (!FStarted) {
        tmStart->stop();
        done(QDialog::Rejected);
        return;
    }
    // The running step completes; the window closes when the job has ended.
    FJob->Abort();
    FClosePending = true;
    btnAbort->setEnabled(false);
}

void TfrmFTPTest::reject()
{
    // Escape and the close box: refused while the test runs.
    if (FStarted && !Finished())
        return;
    tmStart->stop();
    QDialog::reject();
}

void TfrmFTPTest::LineAppended(int iIndex)
{
    listActions->insertItem(iIndex, FJob->Lines().at(iIndex).sText);
    listActions->scrollToBottom();
}

void TfrmFTPTest::LineChanged(int iIndex)
{
    if (QListWidgetItem *item = listActions->item(iIndex))
        item->setText(FJob->Lines().at(iIndex).sText);
}

void TfrmFTPTest::RunEnded()
{
    if (FClosePending) {
        done(QDialog::Rejected);
        return;
    }
    pbAction->hide();
    const bool bSuccess = FJob->Success();
    lblResult->setText(bSuccess ? QStringLiteral("Test successful") : QStringLiteral("Test failed"));
    QPalette palette = lblResult->palette();
    palette.setColor(QPalette::WindowText, StatusColour(bSuccess, palette, QPalette::Window));
    lblResult->setPalette(palette);
    lblResult->show();
    btnAbort->setText(QStringLiteral("&Close"));
    btnAbort->setEnabled(true);
    // Asked once the job's report is over, not from inside it.
    if (!bSuccess && FJob->HostKeyProblem().IsValid())
        QMetaObject::invokeMethod(this, &TfrmFTPTest::OfferTrust, Qt::QueuedConnection);
}

void TfrmFTPTest::OfferTrust()
{
    // Closed before the question came up: nothing to ask.
    if (!isVisible() || !FJob->Ended() || FClosePending)
        return;
    if (::OfferHostKey(this, FJob->HostKeyProblem()) != THostKeyOffer::Trusted)
        return;
    if (TDialogs::Confirm(this, windowTitle(),
                          QStringLiteral("The server's host key is now trusted. Run the test again?")))
        RunAgain();
}

void TfrmFTPTest::RunAgain()
{
    // The ended job goes; a new one runs over the same values.
    NewJob();
    listActions->clear();
    lblResult->hide();
    pbAction->show();
    btnAbort->setText(QStringLiteral("&Abort"));
    ++FRuns;
    FJob->Start();
}
