#include "ui/frmerror.h"

#include "core/globals.h"
#include "core/regutils.h"
#include "core/settingkeys.h"
#include "data/fdata.h"
#include "delivery/errorreport.h"
#include "diagnostics/diaglog.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <stdexcept>

namespace {

constexpr int kHelpTopic = 24;
const QString kNotesPrompt = QStringLiteral("When this error happened I was ...");

QLabel *NewLabel(QWidget *parent, const char *name, const QString &sText, int iWidth)
{
    auto *label = new QLabel(sText, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setFixedWidth(iWidth);
    return label;
}

// Tests of the whole program: with BW_TEST_DIALOGS=1, BW_TEST_CRASH=<text>
// makes an event handler throw that text once the data module is up, so the
// serious-error path runs in a real process.
void ArmTestCrash(const QString &sText)
{
    QTimer::singleShot(50, QCoreApplication::instance(), [sText] {
        if (!FData) {
            ArmTestCrash(sText);
            return;
        }
        throw std::runtime_error(sText.toStdString());
    });
}

void InstallTestCrash()
{
    if (qEnvironmentVariableIntValue("BW_TEST_DIALOGS") != 1)
        return;
    const QString sText = qEnvironmentVariable("BW_TEST_CRASH");
    if (!sText.isEmpty())
        ArmTestCrash(sText);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallTestCrash)

TfrmError::TfrmError(QWidget *parent)
    : TBaseDialog(parent)
{
    setObjectName(QStringLiteral("frmError"));
    setWindowTitle(Caption());
    SetHelpContext(kHelpTopic);

    const int iWidth = fontMetrics().averageCharWidth() * 66;

    imgError = new QLabel(this);
    imgError->setObjectName(QStringLiteral("imgError"));
    imgError->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(64, 64));
    imgError->setFixedSize(64, 64);

    Label1 = NewLabel(this, "Label1", QStringLiteral("Oh dear ..."), iWidth);
    QFont large = Label1->font();
    large.setPointSizeF(large.pointSizeF() * 1.8);
    large.setBold(true);
    Label1->setFont(large);
    lblInstructions
        = NewLabel(this, "lblInstructions",
                   QStringLiteral("Bundlewick has encountered a serious problem. The application will "
                                  "prepare an error report and save your data before shutting down."),
                   iWidth);
    lblDetails = NewLabel(this, "lblDetails", QStringLiteral("Here are the error details:"), iWidth);
    lblError = NewLabel(this, "lblError", QString(), iWidth);
    lblError->setTextFormat(Qt::PlainText);
    lblError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette highlight = lblError->palette();
    highlight.setColor(QPalette::WindowText, highlight.color(QPalette::Highlight));
    lblError->setPalette(highlight);
    lblReport = NewLabel(this, "lblReport", ReportText(), iWidth);
    lblReport->setTextFormat(Qt::PlainText);
    lblReport->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblAdd
        = NewLabel(this, "lblAdd",
                   QStringLiteral("It would be very helpful if you could take a moment to tell us what you "
                                  "were doing when this error happened."),
                   iWidth);
    memNotes = new QPlainTextEdit(kNotesPrompt, this);
    memNotes->setObjectName(QStringLiteral("memNotes"));
    memNotes->setAccessibleName(QStringLiteral("What you were doing"));
    memNotes->setFixedSize(iWidth, fontMetrics().lineSpacing() * 6 + 12);
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *column = new QVBoxLayout();
    column->setSpacing(8);
    column->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget : { static_cast<QWidget *>(Label1), static_cast<QWidget *>(lblInstructions),
                             static_cast<QWidget *>(lblDetails), static_cast<QWidget *>(lblError),
                             static_cast<QWidget *>(lblReport), static_cast<QWidget *>(lblAdd),
                             static_cast<QWidget *>(memNotes) })
        column->addWidget(widget);
    column->addSpacing(8);
    column->addWidget(btnClose, 0, Qt::AlignRight);

    auto *layout = new QHBoxLayout(this);
    SetFormMargins(layout);
    layout->addWidget(imgError, 0, Qt::AlignTop);
    layout->addLayout(column);
    // A fixed-size dialog, as tall as its texts need.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString TfrmError::ReportText()
{
    QString sText = QStringLiteral(
                        "Your data will be saved to \"%1\". That file holds your projects, your settings and "
                        "your passwords in plain text: it stays on this computer, only you can read it, and "
                        "Bundlewick never sends it. Share it only with someone you trust.")
                        .arg(DataReportFile());
    if (TReportSender::UploadConfigured())
        sText += QStringLiteral(" An error report with only the error details, the program version and a "
                                "stack trace is sent to %1.")
                     .arg(Param::ReportServer.Get().trimmed());
    return sText;
}

void TfrmError::SetError(const QString &sError)
{
    lblError->setText(sError);
}

QString TfrmError::Notes() const
{
    return memNotes->toPlainText();
}

void TfrmError::Execute(const QString &sError)
{
    if (DiagLog)
        DiagLog->LogFmt(QStringLiteral("TfrmError"), QStringLiteral("Execute: Error=%s"), { sError },
                        lwError);
    QString sNotes;
    {
        // Without a stored position it opens where the system puts it, or
        // centred over the main window when positions are not remembered.
        TfrmError frm(Param::RememberPositions.Get() ? nullptr : QApplication::activeWindow());
        frm.SetError(sError);
        if (TDialogs::Scripted()) {
            // Tests never wait for a person: shown, recorded, closed.
            TDialogs::RecordShown(QStringLiteral("error"), Caption(), sError);
            frm.show();
            frm.hide();
        } else {
            frm.exec();
        }
        sNotes = frm.Notes();
    }
    if (DiagLog)
        DiagLog->LogFlush();
    if (Params)
        Params->SaveData();
    ReportZip(sNotes);
}
