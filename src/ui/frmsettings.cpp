#include "ui/frmsettings.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "delivery/connectiontest.h"
#include "ui/dialogs.h"
#include "ui/frmftptest.h"
#include "ui/linklabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int kHelpTopic = 18;

const QString kHintFTPHost = QStringLiteral(
    "FTP host|The address of the FTP server to send the zip file\r\nto. For example, ftp.example.com.\r\n");
const QString kHintFTPDirectory = QStringLiteral(
    "FTP Directory|The server directory to put the zip file into.\r\nThis directory must already exist.\r\n");
const QString kHintFTPLogin
    = QStringLiteral("FTP login|The username required to log into this FTP server.\r\n");
const QString kHintFTPPassword
    = QStringLiteral("FTP password|The password corresponding to the FTP login.\r\n");
const QString kHintRetain
    = QStringLiteral("Retain uploaded files|You can override this default value for each file you send.");
const QString kHintHttpPath
    = QStringLiteral("HTTP download path|The path to retrieve uploaded files by HTTP.\r\n");
const QString kHintEmailServer
    = QStringLiteral("Server|The address of your SMTP server. For example,\r\nsmtp.example.com.\r\n");
const QString kHintEmailUsername = QStringLiteral("User name|The user name for your SMTP account. This\r\nis "
                                                  "often (but not always) your email address.\r\n");
const QString kHintEmailPassword = QStringLiteral("Password|The password for your SMTP account.\r\n");
const QString kHintEmailPort = QStringLiteral("Port|The port for your SMTP server. For example, 465.");
const QString kHintEmailLogin
    = QStringLiteral("Log into server|Uncheck this only if you're using an \r\nSMTP "
                     "server than doesn't require authentication.\r\n");
const QString kHintEmailAllowPlainLogin = QStringLiteral(
    "Allow login without encryption|Bundlewick sends your password only over an encrypted\r\nconnection "
    "(TLS on port 465, STARTTLS elsewhere). Tick this only for\r\nan old internal server that offers no "
    "encryption: anyone on the\r\nnetwork between you and the server can then read the password.\r\n");
const QString kHintEmailFrom = QStringLiteral("From / reply to|The email address that will \"send\"\r\n"
                                              "Bundlewick's messages and receive any replies.\r\n");
const QString kHintEmailTest
    = QStringLiteral("Send a test message|You'll be prompted for a recipient\r\naddress and a test message "
                     "will be sent\r\nwith the settings you've specified.\r\n");

QLineEdit *NewEdit(QWidget *parent, const char *name, const QString &sHint)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    THints::SetHint(edit, sHint);
    return edit;
}

// The label above an input, named after it ("edFTPHost" gives "lblFTPHost").
QBoxLayout *Field(QWidget *parent, const QString &sCaption, QWidget *input, const char *labelName = nullptr)
{
    QLabel *label = BuddyLabel(sCaption, input, parent);
    label->setObjectName(labelName ? QString::fromLatin1(labelName)
                                   : QStringLiteral("lbl") + input->objectName().mid(2));
    return LabelledInput(label, input);
}

QLabel *Note(QWidget *parent, const char *name, const QString &sText)
{
    auto *label = new QLabel(sText, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

QGridLayout *PageGrid(QWidget *page)
{
    auto *grid = new QGridLayout(page);
    SetFormMargins(grid);
    grid->setVerticalSpacing(kFormMargin / 2 + 4);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return grid;
}

} // namespace

TfrmSettings::TfrmSettings(QWidget *parent)
    : TBaseDialog(parent)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    SetHelpContext(kHelpTopic);

    pgSettings = NewPageTabs(this);
    pgSettings->setObjectName(QStringLiteral("pgSettings"));
    pgSettings->addTab(BuildFTPPage(), QStringLiteral("FTP"));
    pgSettings->addTab(BuildGeneralPage(), QStringLiteral("General"));
    pgSettings->addTab(BuildSMTPPage(), QStringLiteral("SMTP"));

    btnSave = new QPushButton(QStringLiteral("&Save"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    auto *buttons = new QHBoxLayout();
    buttons->setSpacing(kFormMargin);
    buttons->addStretch(1);
    buttons->addWidget(btnSave);
    buttons->addWidget(btnCancel);
    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addWidget(pgSettings);
    main->addLayout(buttons);
    // A fixed-size dialog, wide enough for two columns of fields.
    pgSettings->setMinimumWidth(qMax(520, fontMetrics().averageCharWidth() * 80));
    // Wrapped texts make a page's height depend on its width, and the page
    // control then asks the current page alone: every page as tall as the
    // tallest keeps the dialog from changing height between tabs.
    int iPageHeight = 0;
    for (int i = 0; i < pgSettings->count(); ++i) {
        const QWidget *page = pgSettings->widget(i);
        const int iWidth = pgSettings->minimumWidth() - 2 * kFormMargin;
        iPageHeight
            = qMax(iPageHeight,
                   page->hasHeightForWidth() ? page->heightForWidth(iWidth) : page->sizeHint().height());
        iPageHeight = qMax(iPageHeight, page->minimumSizeHint().height());
    }
    for (int i = 0; i < pgSettings->count(); ++i)
        pgSettings->widget(i)->setMinimumHeight(iPageHeight);
    main->setSizeConstraint(QLayout::SetFixedSize);

    connect(btnSave, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // 1. Hints as the setting says; 2. the remembered tab; 3. the values.
    cbShowHints->setChecked(!DB || Setting::ShowHints.Get());
    THints::SetWindowEnabled(this, cbShowHints->isChecked());
    const int iTab = Param::SettingsTab.Get();
    pgSettings->setCurrentIndex(iTab >= 0 && iTab < pgSettings->count() ? iTab : 0);
    LoadSettings();

    for (QLineEdit *edit : { edFTPHost, edFTPHttpPath })
        connect(edit, &QLineEdit::textChanged, this, &TfrmSettings::UpdateFTPTest);
    connect(cbRetain, &QComboBox::currentIndexChanged, this, &TfrmSettings::UpdateFTPTest);
    for (QLineEdit *edit : { edEmailServer, edEmailUsername, edEmailPassword, edEmailFrom })
        connect(edit, &QLineEdit::textChanged, this, &TfrmSettings::UpdateEmailTest);
    connect(spinEmailPort, &QSpinBox::valueChanged, this, &TfrmSettings::UpdateEmailTest);
    connect(cbEmailLogin, &QCheckBox::toggled, this, &TfrmSettings::UpdateEmailTest);
    connect(cbHidePasswords, &QCheckBox::toggled, this, &TfrmSettings::ApplyMask);
    connect(cbShowHints, &QCheckBox::toggled, this,
            [this](bool bChecked) { THints::SetWindowEnabled(this, bChecked); });
    connect(lblEmailTest, &TLinkLabel::clicked, this, &TfrmSettings::lblEmailTestClick);
    connect(lblFTPTest, &TLinkLabel::clicked, this, &TfrmSettings::lblFTPTestClick);
}

TfrmSettings::~TfrmSettings()
{
    // A test e-mail still on its way is cancelled and its thread joined
    // before the fields go.
    FMailJob.reset();
}

bool TfrmSettings::Execute(QWidget *parent)
{
    TfrmSettings frm(parent);
    return frm.exec() == QDialog::Accepted;
}

QStringList TfrmSettings::RetentionChoices()
{
    return { QStringLiteral("one day"), QStringLiteral("one week"), QStringLiteral("one month"),
             QStringLiteral("one year"), QStringLiteral("forever") };
}

QWidget *TfrmSettings::BuildFTPPage()
{
    tabFTP = new QWidget();
    tabFTP->setObjectName(QStringLiteral("tabFTP"));
    lblFTP
        = Note(tabFTP, "lblFTP",
               QStringLiteral("This is the FTP server you'll use for staging a delivery. When you make a "
                              "delivery by email you can choose to upload the zip here and include a link in "
                              "the email body rather than attaching it to the email message."));
    edFTPHost = NewEdit(tabFTP, "edFTPHost", kHintFTPHost);
    edFTPDirectory = NewEdit(tabFTP, "edFTPDirectory", kHintFTPDirectory);
    edFTPLogin = NewEdit(tabFTP, "edFTPLogin", kHintFTPLogin);
    edFTPPassword = NewEdit(tabFTP, "edFTPPassword", kHintFTPPassword);
    cbRetain = new QComboBox(tabFTP);
    cbRetain->setObjectName(QStringLiteral("cbRetain"));
    cbRetain->addItems(RetentionChoices());
    cbRetain->setPlaceholderText(QStringLiteral(" "));
    THints::SetHint(cbRetain, kHintRetain);
    edFTPHttpPath = NewEdit(tabFTP, "edFTPHttpPath", kHintHttpPath);
    lblFTPTest = new TLinkLabel(QStringLiteral("Test FTP settings"), tabFTP);
    lblFTPTest->setObjectName(QStringLiteral("lblFTPTest"));
    lblFTPTest->setEnabled(false);

    QGridLayout *grid = PageGrid(tabFTP);
    grid->addWidget(lblFTP, 0, 0, 1, 2);
    grid->addItem(new QSpacerItem(0, kFormMargin), 1, 0);
    grid->addLayout(Field(tabFTP, QStringLiteral("FTP &host"), edFTPHost), 2, 0);
    grid->addLayout(Field(tabFTP, QStringLiteral("FTP &directory"), edFTPDirectory), 2, 1);
    grid->addLayout(Field(tabFTP, QStringLiteral("FTP &login"), edFTPLogin), 3, 0);
    grid->addLayout(Field(tabFTP, QStringLiteral("FTP &password"), edFTPPassword), 3, 1);
    grid->addLayout(Field(tabFTP, QStringLiteral("Default lifespan for server &files"), cbRetain, "Label3"),
                    4, 0);
    grid->addLayout(Field(tabFTP, QStringLiteral("HTTP do&wnload address"), edFTPHttpPath), 4, 1);
    grid->setRowStretch(5, 1);
    grid->addWidget(lblFTPTest, 6, 0, Qt::AlignLeft);
    return tabFTP;
}

QWidget *TfrmSettings::BuildGeneralPage()
{
    tabGeneral = new QWidget();
    tabGeneral->setObjectName(QStringLiteral("tabGeneral"));
    auto *lblHints
        = Note(tabGeneral, "lblHints",
               QStringLiteral("Bundlewick shows hints by default. They're useful when you're getting "
                              "started, but after awhile you may wish to turn them off."));
    cbShowHints = new QCheckBox(QStringLiteral("Show &hints on mouse-over"), tabGeneral);
    cbShowHints->setObjectName(QStringLiteral("cbShowHints"));
    auto *label2
        = Note(tabGeneral, "Label2", QStringLiteral("Uncheck this box to show passwords in clear text."));
    cbHidePasswords = new QCheckBox(QStringLiteral("Hide &passwords"), tabGeneral);
    cbHidePasswords->setObjectName(QStringLiteral("cbHidePasswords"));
    auto *label4 = Note(tabGeneral, "Label4",
                        QStringLiteral("The number of days for which you want to retain log records."));
    spinLogDays = new QSpinBox(tabGeneral);
    spinLogDays->setObjectName(QStringLiteral("spinLogDays"));
    spinLogDays->setRange(1, 1826);
    auto *label5 = BuddyLabel(QStringLiteral("&Retain log records for"), spinLogDays, tabGeneral);
    label5->setObjectName(QStringLiteral("Label5"));
    auto *label6 = new QLabel(QStringLiteral("days"), tabGeneral);
    label6->setObjectName(QStringLiteral("Label6"));

    auto *label7 = Note(tabGeneral, "Label7",
                        QStringLiteral("Certificate authorities to trust for e-mail and FTPS servers, in "
                                       "one PEM file. Leave it empty to trust those of this computer."));
    edTLSCertificates = new QLineEdit(tabGeneral);
    edTLSCertificates->setObjectName(QStringLiteral("edTLSCertificates"));
    auto *label8 = BuddyLabel(QStringLiteral("&TLS certificates file"), edTLSCertificates, tabGeneral);
    label8->setObjectName(QStringLiteral("Label8"));
    btnTLSCertificates = new QPushButton(QStringLiteral("..."), tabGeneral);
    btnTLSCertificates->setObjectName(QStringLiteral("btnTLSCertificates"));
    btnTLSCertificates->setFixedWidth(
        btnTLSCertificates->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 2 * kFormMargin);
    connect(btnTLSCertificates, &QPushButton::clicked, this, &TfrmSettings::btnTLSCertificatesClick);

    auto *days = new QHBoxLayout();
    days->setSpacing(kFormMargin / 2);
    days->addWidget(label5);
    days->addWidget(spinLogDays);
    days->addWidget(label6);
    days->addStretch(1);
    auto *page = new QVBoxLayout(tabGeneral);
    SetFormMargins(page);
    page->setSpacing(kFormMargin / 2);
    page->addWidget(lblHints);
    page->addWidget(cbShowHints);
    page->addSpacing(kFormMargin);
    page->addWidget(label2);
    page->addWidget(cbHidePasswords);
    page->addSpacing(kFormMargin);
    page->addWidget(label4);
    page->addLayout(days);
    page->addSpacing(kFormMargin);
    page->addWidget(label7);
    auto *certificates = new QHBoxLayout();
    certificates->setSpacing(kFormMargin / 2);
    certificates->addWidget(label8);
    certificates->addWidget(edTLSCertificates, 1);
    certificates->addWidget(btnTLSCertificates);
    page->addLayout(certificates);
    page->addStretch(1);
    return tabGeneral;
}

QWidget *TfrmSettings::BuildSMTPPage()
{
    tabSMTP = new QWidget();
    tabSMTP->setObjectName(QStringLiteral("tabSMTP"));
    edEmailServer = NewEdit(tabSMTP, "edEmailServer", kHintEmailServer);
    edEmailUsername = NewEdit(tabSMTP, "edEmailUsername", kHintEmailUsername);
    edEmailPassword = NewEdit(tabSMTP, "edEmailPassword", kHintEmailPassword);
    spinEmailPort = new QSpinBox(tabSMTP);
    spinEmailPort->setObjectName(QStringLiteral("spinEmailPort"));
    // 0 stands for "not set yet"; every TCP port can be typed.
    spinEmailPort->setRange(0, 65535);
    spinEmailPort->setSingleStep(1);
    THints::SetHint(spinEmailPort, kHintEmailPort);
    cbEmailLogin = new QCheckBox(QStringLiteral("Log &into server"), tabSMTP);
    cbEmailLogin->setObjectName(QStringLiteral("cbEmailLogin"));
    THints::SetHint(cbEmailLogin, kHintEmailLogin);
    cbEmailAllowPlainLogin = new QCheckBox(QStringLiteral("&Allow login without encryption"), tabSMTP);
    cbEmailAllowPlainLogin->setObjectName(QStringLiteral("cbEmailAllowPlainLogin"));
    THints::SetHint(cbEmailAllowPlainLogin, kHintEmailAllowPlainLogin);
    edEmailFrom = NewEdit(tabSMTP, "edEmailFrom", kHintEmailFrom);
    lblEmailTest = new TLinkLabel(QStringLiteral("Send a test message"), tabSMTP);
    lblEmailTest->setObjectName(QStringLiteral("lblEmailTest"));
    lblEmailTest->setEnabled(false);
    THints::SetHint(lblEmailTest, kHintEmailTest);

    auto *checks = new QVBoxLayout();
    checks->setSpacing(kFormMargin / 2);
    checks->addWidget(cbEmailLogin);
    checks->addWidget(cbEmailAllowPlainLogin);
    QGridLayout *grid = PageGrid(tabSMTP);
    grid->addLayout(Field(tabSMTP, QStringLiteral("S&erver"), edEmailServer), 0, 0);
    grid->addLayout(Field(tabSMTP, QStringLiteral("P&ort"), spinEmailPort, "Label1"), 0, 1);
    grid->addLayout(Field(tabSMTP, QStringLiteral("&User name"), edEmailUsername), 1, 0);
    grid->addLayout(Field(tabSMTP, QStringLiteral("Pass&word"), edEmailPassword), 1, 1);
    grid->addLayout(checks, 2, 0, 1, 2);
    grid->addLayout(Field(tabSMTP, QStringLiteral("&From / reply to"), edEmailFrom), 3, 0);
    grid->setRowStretch(4, 1);
    grid->addWidget(lblEmailTest, 5, 0, Qt::AlignLeft);
    return tabSMTP;
}

void TfrmSettings::LoadSettings()
{
    if (DB) {
        edFTPHost->setText(Setting::FTPHost.Get());
        edFTPDirectory->setText(Setting::FTPDirectory.Get());
        edFTPLogin->setText(Setting::FTPLogin.Get());
        edFTPPassword->setText(Setting::FTPPassword.Get());
        // An index out of the list selects nothing, as typed into the table.
        cbRetain->setCurrentIndex(Setting::FTPRetention.Get());
        edFTPHttpPath->setText(Setting::FTPHttpPath.Get());
    } else {
        cbRetain->setCurrentIndex(Setting::FTPRetention.Default());
    }
    UpdateFTPTest();

    cbHidePasswords->setChecked(HidePasswords());
    spinLogDays->setValue(DB ? Setting::LogDays.Get() : Setting::LogDays.Default());
    edTLSCertificates->setText(DB ? Setting::TLSCertificates.Get() : QString());

    if (DB) {
        edEmailServer->setText(Setting::EmailServer.Get());
        edEmailUsername->setText(Setting::EmailUsername.Get());
        edEmailPassword->setText(Setting::EmailPassword.Get());
        spinEmailPort->setValue(Setting::EmailPort.AsInt(0));
        edEmailFrom->setText(Setting::EmailFrom.Get());
        cbEmailLogin->setChecked(Setting::EmailLogin.AsInt(0) == 1);
        cbEmailAllowPlainLogin->setChecked(Setting::EmailAllowPlainLogin.Get());
    }
    UpdateEmailTest();
}

void TfrmSettings::SaveSettings()
{
    // Every setting, in a fixed order.
    Setting::FTPHost.Set(edFTPHost->text());
    Setting::FTPDirectory.Set(edFTPDirectory->text());
    Setting::FTPLogin.Set(edFTPLogin->text());
    Setting::FTPPassword.Set(edFTPPassword->text());
    Setting::FTPRetention.Set(cbRetain->currentIndex());
    Setting::FTPHttpPath.Set(edFTPHttpPath->text());
    Setting::ShowHints.Set(cbShowHints->isChecked());
    Setting::HidePasswords.Set(cbHidePasswords->isChecked());
    Setting::LogDays.Set(spinLogDays->value());
    Setting::EmailServer.Set(edEmailServer->text());
    Setting::EmailUsername.Set(edEmailUsername->text());
    Setting::EmailPassword.Set(edEmailPassword->text());
    Setting::EmailPort.Set(spinEmailPort->value());
    Setting::EmailFrom.Set(edEmailFrom->text());
    Setting::EmailLogin.Set(cbEmailLogin->isChecked());
    Setting::EmailAllowPlainLogin.Set(cbEmailAllowPlainLogin->isChecked());
    Setting::TLSCertificates.Set(edTLSCertificates->text().trimmed());
}

void TfrmSettings::btnTLSCertificatesClick()
{
    const QString sFile = TDialogs::OpenFileName(this, QStringLiteral("TLS certificates file"),
                                                 QFileInfo(edTLSCertificates->text()).absolutePath(),
                                                 QStringLiteral("Certificates (*.pem *.crt);;All files (*)"));
    if (!sFile.isEmpty())
        edTLSCertificates->setText(sFile);
}

void TfrmSettings::done(int iResult)
{
    // A test e-mail still running is cancelled: no message about it may
    // come after the dialog has gone.
    FMailJob.reset();
    UpdateEmailTest();
    if (iResult == QDialog::Accepted && DB)
        SaveSettings();
    Param::SettingsTab.Set(pgSettings->currentIndex());
    TBaseDialog::done(iResult);
}

void TfrmSettings::showEvent(QShowEvent *event)
{
    TBaseDialog::showEvent(event);
    if (!event->spontaneous())
        ApplyMask();
}

void TfrmSettings::ApplyMask()
{
    const bool bMask = cbHidePasswords->isChecked();
    SetPasswordMasked(edEmailPassword, bMask);
    SetPasswordMasked(edFTPPassword, bMask);
}

bool TfrmSettings::EmailTestAllowed() const
{
    return !edEmailServer->text().trimmed().isEmpty() && !edEmailFrom->text().trimmed().isEmpty()
        && spinEmailPort->value() != 0
        && (!cbEmailLogin->isChecked()
            || (!edEmailUsername->text().trimmed().isEmpty()
                && !edEmailPassword->text().trimmed().isEmpty()));
}

bool TfrmSettings::FTPTestAllowed() const
{
    return !edFTPHost->text().isEmpty() && !edFTPHttpPath->text().isEmpty() && cbRetain->currentIndex() >= 0;
}

void TfrmSettings::UpdateEmailTest()
{
    // One test e-mail at a time: the link waits for the running one.
    lblEmailTest->setEnabled(EmailTestAllowed() && !FMailJob);
    // The account matters only when the server is logged into.
    for (QWidget *login :
         { static_cast<QWidget *>(cbEmailAllowPlainLogin), static_cast<QWidget *>(edEmailUsername),
           static_cast<QWidget *>(edEmailPassword) })
        login->setEnabled(cbEmailLogin->isChecked());
}

void TfrmSettings::UpdateFTPTest()
{
    lblFTPTest->setEnabled(FTPTestAllowed());
}

TSMTPSettings TfrmSettings::SMTPAsTyped() const
{
    TSMTPSettings smtp;
    smtp.Host = edEmailServer->text();
    smtp.Port = spinEmailPort->value();
    smtp.Login = cbEmailLogin->isChecked();
    if (smtp.Login) {
        smtp.Username = edEmailUsername->text();
        smtp.Password = edEmailPassword->text();
    }
    smtp.AllowPlainLogin = cbEmailAllowPlainLogin->isChecked();
    smtp.From = edEmailFrom->text();
    smtp.CertificatesFile = edTLSCertificates->text().trimmed();
    return smtp;
}

TStagingSettings TfrmSettings::StagingAsTyped() const
{
    TStagingSettings staging;
    staging.FTP.Host = edFTPHost->text();
    staging.FTP.Directory = edFTPDirectory->text();
    staging.FTP.Username = edFTPLogin->text();
    staging.FTP.Password = edFTPPassword->text();
    staging.FTP.CertificatesFile = edTLSCertificates->text().trimmed();
    staging.HttpPath = edFTPHttpPath->text();
    return staging;
}

void TfrmSettings::lblEmailTestClick()
{
    if (FMailJob || !EmailTestAllowed())
        return;
    QString sRecipient;
    if (!TDialogs::InputQuery(this, QStringLiteral("Test email recipient"), QStringLiteral("Email address"),
                              sRecipient))
        return;
    FMailJob = std::make_unique<TSendMailJob>(SMTPAsTyped(), sRecipient);
    FMailJob->Subject = TSendMailJob::TestSubject();
    FMailJob->Body = TSendMailJob::TestBody();
    FMailJob->DiagWhere = QStringLiteral("TfrmSettings");
    connect(FMailJob.get(), &TJob::ended, this, &TfrmSettings::MailTestEnded);
    FMailJob->Start();
    UpdateEmailTest();
}

void TfrmSettings::MailTestEnded()
{
    const bool bSuccess = FMailJob->Success();
    const QString sRecipient = FMailJob->Recipient();
    const QString sError = FMailJob->SMTPError();
    // The job is still emitting; it goes once that is over, and the link is
    // free again while the message shows.
    TSendMailJob *job = FMailJob.release();
    job->setParent(this);
    job->deleteLater();
    UpdateEmailTest();
    if (bSuccess)
        TDialogs::Information(this, windowTitle(), TSendMailJob::TestSuccessText(sRecipient));
    else
        TDialogs::Critical(this, windowTitle(), TSendMailJob::TestFailureText(sRecipient, sError));
}

void TfrmSettings::lblFTPTestClick()
{
    if (!FTPTestAllowed())
        return;
    TfrmFTPTest::Execute(this);
}
