#include "ui/frmemail.h"

#include "core/globals.h"
#include "core/productinfo.h"
#include "core/settings.h"
#include "core/winutils.h"
#include "delivery/connectiontest.h"
#include "diagnostics/diaglog.h"
#include "ui/colours.h"
#include "ui/dialogs.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kNotSet = QStringLiteral(
    "Email is not set up yet. Enter your SMTP server and account under Options \u00bb Settings, then "
    "send your message from here.");

} // namespace

TfrmEmail::TfrmEmail(QWidget *parent, const QString &sTo)
    : TBaseDialog(parent)
    , FTo(sTo)
    , FEmailSet(DB && EmailAvailable())
{
    setObjectName(QStringLiteral("frmEmail"));
    setWindowTitle(QStringLiteral("Email support"));

    lblTo = new QLabel(QStringLiteral("To: %1").arg(FTo), this);
    lblTo->setObjectName(QStringLiteral("lblTo"));
    lblTo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    edSubject = new QLineEdit(QString(ProductSupportSubject), this);
    edSubject->setObjectName(QStringLiteral("edSubject"));
    memMessage = new QPlainTextEdit(this);
    memMessage->setObjectName(QStringLiteral("memMessage"));
    memMessage->setTabChangesFocus(true);
    cbAttachLog = new QCheckBox(QStringLiteral("&Attach the current diagnostics file"), this);
    cbAttachLog->setObjectName(QStringLiteral("cbAttachLog"));
    THints::SetHint(cbAttachLog,
                    QStringLiteral("Diagnostics file|Bundlewick's own trace of this session and the errors "
                                   "of earlier ones.\r\nIt helps the support team see what went wrong. It "
                                   "holds no passwords.\r\n"));
    lblNotSet = new QLabel(kNotSet, this);
    lblNotSet->setObjectName(QStringLiteral("lblNotSet"));
    lblNotSet->setWordWrap(true);
    QPalette warn = lblNotSet->palette();
    warn.setColor(QPalette::WindowText, StatusColour(false, warn, QPalette::Window));
    lblNotSet->setPalette(warn);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    btnSend = new QPushButton(QStringLiteral("&Send"), this);
    btnSend->setObjectName(QStringLiteral("btnSend"));
    btnSend->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);

    auto *buttons = new QHBoxLayout();
    buttons->setSpacing(kFormMargin);
    buttons->addWidget(lblStatus, 1);
    buttons->addWidget(btnSend);
    buttons->addWidget(btnCancel);
    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->setSpacing(kFormMargin / 2);
    main->addWidget(lblNotSet);
    main->addWidget(lblTo);
    main->addLayout(LabelledInput(BuddyLabel(QStringLiteral("S&ubject"), edSubject, this), edSubject));
    main->addLayout(LabelledInput(BuddyLabel(QStringLiteral("&Message"), memMessage, this), memMessage), 1);
    main->addWidget(cbAttachLog);
    main->addSpacing(kFormMargin / 2);
    main->addLayout(buttons);
    const QFontMetrics metrics = fontMetrics();
    resize(qMax(480, metrics.averageCharWidth() * 70), qMax(360, metrics.height() * 22));

    connect(btnSend, &QPushButton::clicked, this, &TfrmEmail::btnSendClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    UpdateControls();
}

TfrmEmail::~TfrmEmail()
{
    FJob.reset();
}

void TfrmEmail::Execute(QWidget *parent, const QString &sTo)
{
    TfrmEmail frm(parent, sTo);
    frm.exec();
}

QString TfrmEmail::DiagnosticsFile()
{
    if (!DiagLog)
        return {};
    // The trimmed copy of the trace is refreshed on the way.
    DiagLog->LogFlush();
    const QString sFile = JoinPath(DiagLog->DataDir(), QStringLiteral("current.sqlite"));
    return QFileInfo(sFile).isFile() ? sFile : QString();
}

void TfrmEmail::UpdateControls()
{
    const bool bIdle = !FJob;
    lblNotSet->setVisible(!FEmailSet);
    btnSend->setEnabled(FEmailSet && bIdle);
    edSubject->setReadOnly(!bIdle);
    memMessage->setReadOnly(!bIdle);
    cbAttachLog->setEnabled(bIdle && DiagLog != nullptr);
    lblStatus->setText(bIdle ? QString() : QStringLiteral("Sending\u2026"));
}

void TfrmEmail::btnSendClick()
{
    if (FJob || !FEmailSet)
        return;
    FJob = std::make_unique<TSendMailJob>(TSMTPSettings::FromSettings(), FTo);
    FJob->Subject = edSubject->text();
    FJob->Body = memMessage->toPlainText();
    FJob->DiagWhere = QStringLiteral("TfrmEmail");
    if (cbAttachLog->isChecked()) {
        const QString sFile = DiagnosticsFile();
        if (!sFile.isEmpty())
            FJob->Attachments.append(
                TMailAttachment { sFile, QStringLiteral("bundlewick-diagnostics.sqlite") });
    }
    connect(FJob.get(), &TJob::ended, this, &TfrmEmail::SendEnded);
    FJob->Start();
    UpdateControls();
}

void TfrmEmail::SendEnded()
{
    const bool bSuccess = FJob->Success();
    const QString sError = FJob->SMTPError();
    TSendMailJob *job = FJob.release();
    job->setParent(this);
    job->deleteLater();
    UpdateControls();
    if (bSuccess) {
        TDialogs::Information(this, windowTitle(),
                              QStringLiteral("Your message has been sent to %1.").arg(FTo));
        accept();
        return;
    }
    TDialogs::Critical(this, windowTitle(),
                       QStringLiteral("Your message could not be sent to %1.\r\n\r\n%2").arg(FTo, sError));
}

void TfrmEmail::done(int iResult)
{
    // A message still on its way is cancelled; nothing reports it afterwards.
    FJob.reset();
    TBaseDialog::done(iResult);
}
