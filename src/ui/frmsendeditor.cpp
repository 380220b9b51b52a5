#include "ui/frmsendeditor.h"

#include "core/globals.h"
#include "core/regutils.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "delivery/sendtask.h"
#include "ui/dialogs.h"
#include "ui/retentionchoice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// --- Texts ----------------------------------------------------------------

const QString kTagsWithLink = QStringLiteral("Tags: {LINK} {PROJECT} {VERSION}");
const QString kTagsPlain = QStringLiteral("Tags: {PROJECT} {VERSION}");
const QString kEmailNotSet = QStringLiteral(
    "Before you can use email for delivery you must set up SMTP details from the Settings menu.");

const QString kHintRecipient
    = QStringLiteral("Recipient|The email address of the person to send the\r\ngenerated zip file to.\r\n");
const QString kHintSubject
    = QStringLiteral("Subject|The subject of the email message to be sent. You\r\ncan include the project "
                     "name and version using the \r\nvariables on the right.\r\n");
const QString kHintMessage = QStringLiteral(
    "Message|The text of the email body. Again, you can use the\r\nvariables in the grey box "
    "to insert the project name or\r\nversion.\r\n");
const QString kHintEmailFTP = QStringLiteral(
    "Use your FTP server|Upload the file to your configured FTP server and send a link in the email message. "
    "This is more efficient, especially with large files. This feature only works if you've configured an "
    "FTP server in Bundlewick's Settings.");
const QString kHintRetain = QStringLiteral(
    "Retain the file|If you upload the file to your configured FTP server and send a link, you can set how "
    "long the file remains available before Bundlewick deletes it.");
const QString kHintFileFolder
    = QStringLiteral("Folder|Select the folder to copy the generated zip file to.\r\n");
const QString kHintFTPHost = QStringLiteral(
    "FTP host|The address of the FTP server to send the zip file\r\nto. For example, ftp.example.com.\r\n");
const QString kHintFTPDirectory = QStringLiteral(
    "FTP Directory|The server directory to put the zip file into.\r\nThis directory must already exist.\r\n");
const QString kHintFTPLogin
    = QStringLiteral("FTP login|The username required to log into this FTP server.\r\n");
const QString kHintFTPPassword
    = QStringLiteral("FTP password|The password corresponding to the FTP login.\r\n");
const QString kHintZipPassword = QStringLiteral(
    "Zip file password|If you want to password protect the \r\ncontents of the zip file, enter a password "
    "here. The\r\nmanifest (readme.htm) inside the zip file will still\r\nbe accessible but the files (in a "
    "code subdirectory)\r\nwill require this password for access.\r\n");

QLineEdit *NewEdit(QWidget *parent, const char *name, const QString &sHint)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    THints::SetHint(edit, sHint);
    return edit;
}

// The label of an input, named after it ("edFTPHost" gives "lblFTPHost").
QLabel *NewLabel(QWidget *parent, const QString &sCaption, QWidget *buddy)
{
    QLabel *label = BuddyLabel(sCaption, buddy, parent);
    label->setObjectName(QStringLiteral("lbl") + buddy->objectName().mid(2));
    return label;
}

QVBoxLayout *PageLayout(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    SetFormMargins(layout);
    return layout;
}

} // namespace

TfrmSendEditor::TfrmSendEditor(int iMethodID, int iProjectID, const QString &sProjectName, QWidget *parent)
    : TBaseDialog(parent)
    , FMethodID(iMethodID)
    , FProjectID(iProjectID)
{
    setObjectName(QStringLiteral("frmSendEditor"));
    setWindowTitle(Caption(sProjectName));
    SetHelpContext(21);

    pgMethod = NewPageTabs(this);
    pgMethod->setObjectName(QStringLiteral("pgMethod"));
    pgMethod->addTab(BuildEmailPage(), QStringLiteral("Email"));
    pgMethod->addTab(BuildFilePage(), QStringLiteral("File"));
    pgMethod->addTab(BuildFTPPage(), QStringLiteral("FTP"));
    pgMethod->setCurrentIndex(skEmail);

    QDialogButtonBox *buttons = NewSaveCancelButtons(this, btnSave, btnCancel);

    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addWidget(pgMethod, 1);
    main->addWidget(buttons);

    // At least 400 by 400 at the usual font, more with a larger one, and
    // never less than the e-mail page's fields need: an explicit minimum
    // would otherwise let the layout squeeze them.
    const QFontMetrics metrics = fontMetrics();
    setMinimumSize(qMax(400, metrics.averageCharWidth() * 60),
                   std::max({ 400, metrics.height() * 24, main->minimumSize().height() }));
    resize(qMax(554, metrics.averageCharWidth() * 84),
           std::max({ 420, metrics.height() * 26, main->minimumSize().height() + metrics.height() * 3 }));

    connect(btnSave, &QPushButton::clicked, this, &TfrmSendEditor::accept);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSendEditor::reject);
    connect(cbEmailFTP, &QCheckBox::clicked, this, &TfrmSendEditor::cbEmailFTPClick);
    connect(btnFileFolder, &QPushButton::clicked, this, &TfrmSendEditor::btnFileFolderClick);

    LoadTask();
    cbEmailFTPClick();
}

QWidget *TfrmSendEditor::BuildEmailPage()
{
    tabEmail = new QWidget();
    tabEmail->setObjectName(QStringLiteral("tabEmail"));

    edEmailRecipient = NewEdit(tabEmail, "edEmailRecipient", kHintRecipient);
    edEmailSubject = NewEdit(tabEmail, "edEmailSubject", kHintSubject);
    edEmailSubject->setText(SendParam::DefaultSubject());
    edEmailZipPassword = NewEdit(tabEmail, "edEmailZipPassword", kHintZipPassword);
    cbEmailZipEncryption
        = NewEncryptionBox(tabEmail, QStringLiteral("cbEmailZipEncryption"), edEmailZipPassword);
    lblEmailZipEncryptionNote
        = NewEncryptionNote(tabEmail, QStringLiteral("lblEmailZipEncryptionNote"), edEmailZipPassword);

    memEmailMessage = new QPlainTextEdit(tabEmail);
    memEmailMessage->setObjectName(QStringLiteral("memEmailMessage"));
    memEmailMessage->setPlainText(MessageToMemo(SendParam::DefaultMessage()));
    memEmailMessage->setTabChangesFocus(true);
    THints::SetHint(memEmailMessage, kHintMessage);
    Label1 = BuddyLabel(QStringLiteral("&Message"), memEmailMessage, tabEmail);
    Label1->setObjectName(QStringLiteral("Label1"));

    lblEmailLink = new QLabel(kTagsWithLink, tabEmail);
    lblEmailLink->setObjectName(QStringLiteral("lblEmailLink"));
    lblEmailLink->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont italic = lblEmailLink->font();
    italic.setItalic(true);
    lblEmailLink->setFont(italic);
    lblEmailLink->setTextInteractionFlags(Qt::TextSelectableByMouse);

    cbEmailFTP = new QCheckBox(QStringLiteral("Use your &FTP server"), tabEmail);
    cbEmailFTP->setObjectName(QStringLiteral("cbEmailFTP"));
    THints::SetHint(cbEmailFTP, kHintEmailFTP);
    cbEmailRetain = new QComboBox(tabEmail);
    cbEmailRetain->setObjectName(QStringLiteral("cbEmailRetain"));
    cbEmailRetain->addItems({ QStringLiteral("one day"), QStringLiteral("one week"),
                              QStringLiteral("one month"), QStringLiteral("one year"),
                              QStringLiteral("forever") });
    LimitRetentionChoices(cbEmailRetain);
    cbEmailRetain->setCurrentIndex(-1);
    cbEmailRetain->setPlaceholderText(QStringLiteral(" "));
    THints::SetHint(cbEmailRetain, kHintRetain);
    lblEmailRetain = BuddyLabel(QStringLiteral("Re&tain the FTP file for"), cbEmailRetain, tabEmail);
    lblEmailRetain->setObjectName(QStringLiteral("lblEmailRetain"));

    // Left: the three edits; right: the staging server choice.
    auto *fields = new QVBoxLayout();
    fields->setSpacing(kFormMargin / 2);
    fields->addLayout(
        LabelledInput(NewLabel(tabEmail, QStringLiteral("&Recipient"), edEmailRecipient), edEmailRecipient));
    fields->addLayout(
        LabelledInput(NewLabel(tabEmail, QStringLiteral("S&ubject"), edEmailSubject), edEmailSubject));
    fields->addLayout(LabelledInput(
        NewLabel(tabEmail, QStringLiteral("&Zip file password"), edEmailZipPassword), edEmailZipPassword));
    fields->addLayout(LabelledInput(
        NewLabel(tabEmail, QStringLiteral("Zip &encryption"), cbEmailZipEncryption), cbEmailZipEncryption));
    auto *staging = new QVBoxLayout();
    staging->setSpacing(kFormMargin / 2);
    staging->addWidget(cbEmailFTP);
    staging->addSpacing(kFormMargin / 2);
    staging->addLayout(LabelledInput(lblEmailRetain, cbEmailRetain));
    staging->addStretch(1);
    auto *top = new QHBoxLayout();
    top->setSpacing(kFormMargin);
    top->addLayout(fields, 1);
    top->addLayout(staging);

    QVBoxLayout *page = PageLayout(tabEmail);
    page->setSpacing(kFormMargin / 2);
    page->addLayout(top);
    page->addWidget(lblEmailZipEncryptionNote);
    auto *message = LabelledInput(Label1, memEmailMessage);
    page->addLayout(message, 1);
    page->addWidget(lblEmailLink);
    return tabEmail;
}

QWidget *TfrmSendEditor::BuildFilePage()
{
    tabFile = new QWidget();
    tabFile->setObjectName(QStringLiteral("tabFile"));
    edFileFolder = NewEdit(tabFile, "edFileFolder", kHintFileFolder);
    btnFileFolder = new QPushButton(QStringLiteral("..."), tabFile);
    btnFileFolder->setObjectName(QStringLiteral("btnFileFolder"));
    btnFileFolder->setAccessibleName(QStringLiteral("Choose folder"));
    btnFileFolder->setAutoDefault(false);
    btnFileFolder->setFixedWidth(
        qMax(btnFileFolder->fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3,
             edFileFolder->sizeHint().height()));
    edFileZipPassword = NewEdit(tabFile, "edFileZipPassword", kHintZipPassword);
    cbFileZipEncryption = NewEncryptionBox(tabFile, QStringLiteral("cbFileZipEncryption"), edFileZipPassword);
    lblFileZipEncryptionNote
        = NewEncryptionNote(tabFile, QStringLiteral("lblFileZipEncryptionNote"), edFileZipPassword);

    auto *folderRow = new QHBoxLayout();
    folderRow->setSpacing(kFormMargin / 2);
    folderRow->addWidget(edFileFolder, 1);
    folderRow->addWidget(btnFileFolder);
    QBoxLayout *folder = LabelledInput(NewLabel(tabFile, QStringLiteral("&Folder"), edFileFolder), folderRow);

    QVBoxLayout *page = PageLayout(tabFile);
    page->setSpacing(kFormMargin / 2);
    page->addLayout(folder);
    page->addLayout(LabelledInput(NewLabel(tabFile, QStringLiteral("&Zip file password"), edFileZipPassword),
                                  edFileZipPassword));
    page->addLayout(LabelledInput(NewLabel(tabFile, QStringLiteral("Zip &encryption"), cbFileZipEncryption),
                                  cbFileZipEncryption));
    page->addWidget(lblFileZipEncryptionNote);
    page->addStretch(1);
    return tabFile;
}

QWidget *TfrmSendEditor::BuildFTPPage()
{
    tabFTP = new QWidget();
    tabFTP->setObjectName(QStringLiteral("tabFTP"));
    edFTPHost = NewEdit(tabFTP, "edFTPHost", kHintFTPHost);
    edFTPDirectory = NewEdit(tabFTP, "edFTPDirectory", kHintFTPDirectory);
    edFTPLogin = NewEdit(tabFTP, "edFTPLogin", kHintFTPLogin);
    edFTPPassword = NewEdit(tabFTP, "edFTPPassword", kHintFTPPassword);
    edFTPZipPassword = NewEdit(tabFTP, "edFTPZipPassword", kHintZipPassword);
    cbFTPZipEncryption = NewEncryptionBox(tabFTP, QStringLiteral("cbFTPZipEncryption"), edFTPZipPassword);
    lblFTPZipEncryptionNote
        = NewEncryptionNote(tabFTP, QStringLiteral("lblFTPZipEncryptionNote"), edFTPZipPassword);

    // Two equal columns: server and login on the left, directory and
    // password on the right.
    auto *grid = new QGridLayout();
    grid->setHorizontalSpacing(kFormMargin);
    grid->setVerticalSpacing(kFormMargin / 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->addLayout(LabelledInput(NewLabel(tabFTP, QStringLiteral("FTP &host"), edFTPHost), edFTPHost), 0, 0);
    grid->addLayout(
        LabelledInput(NewLabel(tabFTP, QStringLiteral("FTP &directory"), edFTPDirectory), edFTPDirectory), 0,
        1);
    grid->addLayout(LabelledInput(NewLabel(tabFTP, QStringLiteral("FTP &login"), edFTPLogin), edFTPLogin), 1,
                    0);
    grid->addLayout(
        LabelledInput(NewLabel(tabFTP, QStringLiteral("FTP &password"), edFTPPassword), edFTPPassword), 1, 1);
    grid->addLayout(LabelledInput(NewLabel(tabFTP, QStringLiteral("&Zip file password"), edFTPZipPassword),
                                  edFTPZipPassword),
                    2, 0);
    grid->addLayout(LabelledInput(NewLabel(tabFTP, QStringLiteral("Zip &encryption"), cbFTPZipEncryption),
                                  cbFTPZipEncryption),
                    2, 1);
    grid->addWidget(lblFTPZipEncryptionNote, 3, 0, 1, 2);

    QVBoxLayout *page = PageLayout(tabFTP);
    page->addLayout(grid);
    page->addStretch(1);
    return tabFTP;
}

QString TfrmSendEditor::Caption(const QString &sProjectName)
{
    if (sProjectName.trimmed().isEmpty())
        return QStringLiteral("Send editor");
    return QStringLiteral("Send editor :: ") + sProjectName;
}

bool TfrmSendEditor::Execute(int &iMethodID, int iProjectID, const QString &sProjectName, QWidget *parent)
{
    TfrmSendEditor frm(iMethodID, iProjectID, sProjectName, parent);
    if (frm.exec() != QDialog::Accepted)
        return false;
    frm.SaveTask();
    iMethodID = frm.MethodID();
    return true;
}

int TfrmSendEditor::HelpTopic() const
{
    switch (pgMethod->currentIndex()) {
    case skFile:
        return 31;
    case skFTP:
        return 32;
    default:
        return 30;
    }
}

void TfrmSendEditor::LoadTask()
{
    // The e-mail fields warn when e-mail is not set up (see eventFilter).
    for (QWidget *field :
         { static_cast<QWidget *>(edEmailRecipient), static_cast<QWidget *>(edEmailSubject),
           static_cast<QWidget *>(edEmailZipPassword), static_cast<QWidget *>(memEmailMessage) })
        field->installEventFilter(this);

    // A new task keeps its upload as long as the settings say by default.
    const int iDefault = Setting::FTPRetention.Get();
    cbEmailRetain->setCurrentIndex(
        iDefault >= 0 && iDefault < cbEmailRetain->count() ? iDefault : Setting::FTPRetention.Default());
    if (FMethodID <= 0)
        return;
    const std::optional<TSendTask> task = TSendTask::Load(FMethodID);
    if (!task || task->Kind < skEmail || task->Kind > skFTP)
        return;
    for (int i = 0; i < pgMethod->count(); ++i)
        pgMethod->setTabVisible(i, i == task->Kind);
    switch (task->Kind) {
    case skEmail: {
        edEmailZipPassword->setText(task->ZipPassword);
        SetEncryptionChoice(cbEmailZipEncryption, task->Encryption());
        edEmailRecipient->setText(task->Param(SendParam::EmailRecipient));
        edEmailSubject->setText(task->Param(SendParam::EmailSubject));
        memEmailMessage->setPlainText(MessageToMemo(task->Param(SendParam::EmailMessage)));
        const bool bStaging = FTPAvailable();
        cbEmailFTP->setChecked(bStaging && task->UsesStagingFTP());
        cbEmailFTP->setEnabled(bStaging);
        const int iRetention = task->RetentionIndex(1);
        cbEmailRetain->setCurrentIndex(iRetention >= 0 && iRetention < cbEmailRetain->count() ? iRetention
                                                                                              : -1);
        break;
    }
    case skFile:
        edFileZipPassword->setText(task->ZipPassword);
        SetEncryptionChoice(cbFileZipEncryption, task->Encryption());
        edFileFolder->setText(task->Param(SendParam::FileFolder));
        break;
    case skFTP:
        edFTPZipPassword->setText(task->ZipPassword);
        SetEncryptionChoice(cbFTPZipEncryption, task->Encryption());
        edFTPHost->setText(task->Param(SendParam::FTPHost));
        edFTPLogin->setText(task->Param(SendParam::FTPLogin));
        edFTPPassword->setText(task->Param(SendParam::FTPPassword));
        edFTPDirectory->setText(task->Param(SendParam::FTPDirectory));
        break;
    }
    pgMethod->setCurrentIndex(task->Kind);
}

QString TfrmSendEditor::MessageText() const
{
    return MemoToMessage(memEmailMessage->toPlainText());
}

void TfrmSendEditor::cbEmailFTPClick()
{
    const bool bLink = cbEmailFTP->isChecked();
    if (bLink) {
        const QString sMessage = MessageText();
        const QString sLinked = EnsureLinkLine(sMessage);
        if (sLinked != sMessage)
            memEmailMessage->setPlainText(MessageToMemo(sLinked));
    }
    lblEmailRetain->setVisible(bLink);
    cbEmailRetain->setVisible(bLink);
    lblEmailLink->setText(bLink ? kTagsWithLink : kTagsPlain);
}

void TfrmSendEditor::EmailSet()
{
    // Once per opening: the box hands the focus back to the field, which
    // would otherwise ask again for ever.
    if (FEmailWarned || EmailAvailable())
        return;
    FEmailWarned = true;
    // Shown after the focus change is complete, not inside it.
    QTimer::singleShot(0, this, [this] { TDialogs::Warning(this, windowTitle(), kEmailNotSet); });
}

void TfrmSendEditor::setVisible(bool bVisible)
{
    FOpening = bVisible;
    TBaseDialog::setVisible(bVisible);
    FOpening = false;
}

bool TfrmSendEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && !FOpening) {
        // Only focus the user gave: not the focus a closing box hands back.
        switch (static_cast<QFocusEvent *>(event)->reason()) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            EmailSet();
            break;
        default:
            break;
        }
    } else if (event->type() == QEvent::MouseButtonPress
               && (watched == edEmailSubject || watched == edEmailZipPassword)) {
        EmailSet();
    }
    return TBaseDialog::eventFilter(watched, event);
}

void TfrmSendEditor::showEvent(QShowEvent *event)
{
    TBaseDialog::showEvent(event);
    if (event->spontaneous())
        return;
    // Masked unless the user asked to see passwords ("0").
    const bool bMask = HidePasswords();
    for (QLineEdit *edit : { edEmailZipPassword, edFileZipPassword, edFTPZipPassword, edFTPPassword })
        SetPasswordMasked(edit, bMask);
    // Typing starts in the page's first field (not a focus the user gave,
    // so it does not count as asking for e-mail).
    QLineEdit *first = edEmailRecipient;
    if (pgMethod->currentIndex() == skFile)
        first = edFileFolder;
    else if (pgMethod->currentIndex() == skFTP)
        first = edFTPHost;
    first->setFocus(Qt::OtherFocusReason);
}

void TfrmSendEditor::btnFileFolderClick()
{
    const QString sFolder = TDialogs::FolderName(this, QStringLiteral("Select the destination folder"),
                                                 Param::SendFileFolder.Get());
    if (sFolder.isEmpty())
        return;
    Param::SendFileFolder.Set(sFolder);
    edFileFolder->setText(sFolder);
}

void TfrmSendEditor::SaveTask()
{
    // Only the active page is stored: a new task takes its kind, an existing
    // one keeps the kind it has and gets the page's password and values.
    const int iKind = pgMethod->currentIndex();
    TSendTask task(FProjectID, iKind);
    task.ID = FMethodID;
    switch (iKind) {
    case skEmail:
        task.ZipPassword = edEmailZipPassword->text();
        task.SetParam(SendParam::EmailRecipient, edEmailRecipient->text());
        task.SetParam(SendParam::EmailSubject, edEmailSubject->text());
        if (cbEmailFTP->isChecked())
            memEmailMessage->setPlainText(MessageToMemo(EnsureLinkLine(MessageText())));
        task.SetParam(SendParam::EmailMessage, MessageText());
        task.SetParam(SendParam::EmailFTP,
                      cbEmailFTP->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        task.SetParam(SendParam::EmailRetention, QString::number(cbEmailRetain->currentIndex()));
        break;
    case skFile:
        task.ZipPassword = edFileZipPassword->text();
        task.SetParam(SendParam::FileFolder, edFileFolder->text());
        break;
    case skFTP:
        task.ZipPassword = edFTPZipPassword->text();
        task.SetParam(SendParam::FTPHost, edFTPHost->text());
        task.SetParam(SendParam::FTPLogin, edFTPLogin->text());
        task.SetParam(SendParam::FTPPassword, edFTPPassword->text());
        task.SetParam(SendParam::FTPDirectory, edFTPDirectory->text());
        break;
    }
    const QComboBox *const encryption[] = { cbEmailZipEncryption, cbFileZipEncryption, cbFTPZipEncryption };
    task.SetEncryption(EncryptionChoice(encryption[iKind]));
    task.Save();
    FMethodID = task.ID;
}
