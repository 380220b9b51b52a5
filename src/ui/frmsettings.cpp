#include "ui/frmsettings.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "delivery/connectiontest.h"
#include "delivery/s3staging.h"
#include "ui/dialogs.h"
#include "ui/frmftptest.h"
#include "ui/linklabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
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
const QString kHintStagingKind = QStringLiteral(
    "Links stage on|Where e-mailed links are uploaded: this FTP server, or the\r\nS3-compatible "
    "storage of the \"S3 storage\" tab.\r\n");
const QString kHintS3Endpoint
    = QStringLiteral("Endpoint|The storage's address, such as\r\nhttps://s3.eu-central-1.amazonaws.com or "
                     "http://127.0.0.1:9000.\r\n");
const QString kHintS3Region
    = QStringLiteral("Region|The region the bucket is in, such as eu-central-1.\r\nEmpty: us-east-1.\r\n");
const QString kHintS3Bucket = QStringLiteral("Bucket|The bucket uploads go into. It must already exist.\r\n");
const QString kHintS3Prefix
    = QStringLiteral("Key prefix|Put before every uploaded name, such as links/.\r\n");
const QString kHintS3AccessKeyId
    = QStringLiteral("Access key id|The key id of the account that uploads.\r\n");
const QString kHintS3SecretKey
    = QStringLiteral("Secret key|The secret that belongs to the access key id.\r\n");
const QString kHintS3PathStyle = QStringLiteral(
    "Path-style addresses|Tick this for MinIO and other servers that take the\r\nbucket in the "
    "path rather than in the host name.\r\n");
const QString kHintS3PublicAddress = QStringLiteral(
    "Public download address|Where the bucket can be read by anyone (a bucket website\r\nor a CDN). Links "
    "that last a month or longer are this address\r\nand the key.\r\n");
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
    // Last, so that the remembered tab numbers of the others stay.
    pgSettings->addTab(BuildS3Page(), QStringLiteral("S3 storage"));

    QDialogButtonBox *buttons = NewSaveCancelButtons(this, btnSave, btnCancel);
    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addWidget(pgSettings);
    main->addWidget(buttons);
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
    for (QLineEdit *edit : { edS3Endpoint, edS3Bucket, edS3AccessKeyId, edS3SecretKey, edS3PublicAddress })
        connect(edit, &QLineEdit::textChanged, this, &TfrmSettings::UpdateS3Test);
    connect(cbRetain, &QComboBox::currentIndexChanged, this, &TfrmSettings::UpdateS3Test);
    connect(cbStagingKind, &QComboBox::currentIndexChanged, this, &TfrmSettings::UpdateS3Test);
    connect(lblS3Test, &TLinkLabel::clicked, this, &TfrmSettings::lblS3TestClick);
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
    cbStagingKind = new QComboBox(tabFTP);
    cbStagingKind->setObjectName(QStringLiteral("cbStagingKind"));
    cbStagingKind->addItems({ QStringLiteral("FTP server"), QStringLiteral("S3-compatible storage") });
    THints::SetHint(cbStagingKind, kHintStagingKind);
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
    grid->addLayout(Field(tabFTP, QStringLiteral("Links stage &on"), cbStagingKind), 5, 0);
    grid->setRowStretch(6, 1);
    grid->addWidget(lblFTPTest, 7, 0, Qt::AlignLeft);
    return tabFTP;
}

QWidget *TfrmSettings::BuildS3Page()
{
    tabS3 = new QWidget();
    tabS3->setObjectName(QStringLiteral("tabS3"));
    auto *lblS3
        = Note(tabS3, "lblS3",
               QStringLiteral("S3-compatible object storage (AWS S3, MinIO, Ceph, R2, B2, Wasabi) for "
                              "staging links, used when \"Links stage on\" on the FTP tab says so. "
                              "Links for a day or a week are signed and stop working by themselves; "
                              "longer ones need a public download address."));
    edS3Endpoint = NewEdit(tabS3, "edS3Endpoint", kHintS3Endpoint);
    edS3Endpoint->setPlaceholderText(QStringLiteral("https://s3.eu-central-1.amazonaws.com"));
    edS3Region = NewEdit(tabS3, "edS3Region", kHintS3Region);
    edS3Region->setPlaceholderText(QStringLiteral("us-east-1"));
    edS3Bucket = NewEdit(tabS3, "edS3Bucket", kHintS3Bucket);
    edS3Prefix = NewEdit(tabS3, "edS3Prefix", kHintS3Prefix);
    edS3AccessKeyId = NewEdit(tabS3, "edS3AccessKeyId", kHintS3AccessKeyId);
    edS3SecretKey = NewEdit(tabS3, "edS3SecretKey", kHintS3SecretKey);
    cbS3PathStyle = new QCheckBox(QStringLiteral("Pa&th-style addresses (endpoint/bucket/key)"), tabS3);
    cbS3PathStyle->setObjectName(QStringLiteral("cbS3PathStyle"));
    cbS3PathStyle->setAccessibleName(QStringLiteral("Path-style addresses"));
    THints::SetHint(cbS3PathStyle, kHintS3PathStyle);
    edS3PublicAddress = NewEdit(tabS3, "edS3PublicAddress", kHintS3PublicAddress);
    lblS3Retain = Note(tabS3, "lblS3Retain", QString());
    lblS3Test = new TLinkLabel(QStringLiteral("Test S3 settings"), tabS3);
    lblS3Test->setObjectName(QStringLiteral("lblS3Test"));
    lblS3Test->setAccessibleName(QStringLiteral("Test S3 settings"));
    lblS3Test->setEnabled(false);

    QGridLayout *grid = PageGrid(tabS3);
    grid->addWidget(lblS3, 0, 0, 1, 2);
    grid->addLayout(Field(tabS3, QStringLiteral("&Endpoint"), edS3Endpoint), 1, 0);
    grid->addLayout(Field(tabS3, QStringLiteral("&Region"), edS3Region), 1, 1);
    grid->addLayout(Field(tabS3, QStringLiteral("&Bucket"), edS3Bucket), 2, 0);
    grid->addLayout(Field(tabS3, QStringLiteral("&Key prefix"), edS3Prefix), 2, 1);
    grid->addLayout(Field(tabS3, QStringLiteral("&Access key id"), edS3AccessKeyId), 3, 0);
    grid->addLayout(Field(tabS3, QStringLiteral("&Secret key"), edS3SecretKey), 3, 1);
    grid->addWidget(cbS3PathStyle, 4, 0, 1, 2);
    grid->addLayout(Field(tabS3, QStringLiteral("&Public download address (optional)"), edS3PublicAddress), 5,
                    0, 1, 2);
    grid->addWidget(lblS3Retain, 6, 0, 1, 2);
    grid->setRowStretch(7, 1);
    grid->addWidget(lblS3Test, 8, 0, Qt::AlignLeft);
    return tabS3;
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
        cbStagingKind->setCurrentIndex(Setting::StagingKind.Get() == 1 ? 1 : 0);
        edS3Endpoint->setText(Setting::S3Endpoint.Get());
        edS3Region->setText(Setting::S3Region.Get());
        edS3Bucket->setText(Setting::S3Bucket.Get());
        edS3Prefix->setText(Setting::S3Prefix.Get());
        edS3AccessKeyId->setText(Setting::S3AccessKeyId.Get());
        edS3SecretKey->setText(Setting::S3SecretKey.Get());
        cbS3PathStyle->setChecked(Setting::S3PathStyle.Get());
        edS3PublicAddress->setText(Setting::S3PublicAddress.Get());
    } else {
        cbRetain->setCurrentIndex(Setting::FTPRetention.Default());
    }
    UpdateFTPTest();
    UpdateS3Test();

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
    Setting::StagingKind.Set(cbStagingKind->currentIndex() == 1 ? 1 : 0);
    Setting::S3Endpoint.Set(edS3Endpoint->text().trimmed());
    Setting::S3Region.Set(edS3Region->text().trimmed());
    Setting::S3Bucket.Set(edS3Bucket->text().trimmed());
    Setting::S3Prefix.Set(edS3Prefix->text());
    Setting::S3AccessKeyId.Set(edS3AccessKeyId->text().trimmed());
    Setting::S3SecretKey.Set(edS3SecretKey->text());
    Setting::S3PathStyle.Set(cbS3PathStyle->isChecked());
    Setting::S3PublicAddress.Set(edS3PublicAddress->text().trimmed());
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
    SetPasswordMasked(edS3SecretKey, bMask);
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

bool TfrmSettings::S3TestAllowed() const
{
    return StagingAsTyped().S3.Available() && cbRetain->currentIndex() >= 0;
}

void TfrmSettings::UpdateS3Test()
{
    lblS3Test->setEnabled(S3TestAllowed());
    // The default lifespan on the FTP tab decides the kind of link.
    const bool bPublic = !edS3PublicAddress->text().trimmed().isEmpty();
    lblS3Retain->setText(bPublic ? QStringLiteral("Links for a day or a week are signed; longer ones are the "
                                                  "public address and the key.")
                                 : S3PeriodNote()
                                 + QStringLiteral(" Without a public download address, one month, one year "
                                                  "and forever cannot be chosen for S3 links."));
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
    staging.Kind = cbStagingKind->currentIndex() == 1 ? TStagingKind::S3 : TStagingKind::Ftp;
    staging.S3.Endpoint = edS3Endpoint->text().trimmed();
    staging.S3.Region = edS3Region->text().trimmed();
    staging.S3.Bucket = edS3Bucket->text().trimmed();
    staging.S3.Prefix = edS3Prefix->text();
    staging.S3.AccessKeyId = edS3AccessKeyId->text().trimmed();
    staging.S3.SecretKey = edS3SecretKey->text();
    staging.S3.PathStyle = cbS3PathStyle->isChecked();
    staging.S3.PublicAddress = edS3PublicAddress->text().trimmed();
    staging.S3.CertificatesFile = edTLSCertificates->text().trimmed();
    staging.Retention = cbRetain->currentIndex();
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

void TfrmSettings::lblS3TestClick()
{
    if (!S3TestAllowed())
        return;
    TfrmFTPTest::Execute(this, TStagingKind::S3);
}
