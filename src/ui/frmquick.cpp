#include "ui/frmquick.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "delivery/sendtask.h"
#include "ui/dialogs.h"
#include "ui/frmquicksend.h"
#include "ui/linklabel.h"
#include "ui/retentionchoice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kHintAll = QStringLiteral("Select All|Select all the listed files.");
const QString kHintNone = QStringLiteral("Select none|Unselect all the listed files.");
const QString kHintZip
    = QStringLiteral("Zip this file|When sending a single file you can choose whether to send "
                     "the file directly or put it in a zip file.");
const QString kHintFilename = QStringLiteral("Zip filename|The name of the output zip file.");
const QString kHintPassword
    = QStringLiteral("Zip password|If you don't want to password protect this zip file, leave this blank.");
const QString kHintRecipient
    = QStringLiteral("Recipient|Enter or select an email address to send this message to.");
const QString kHintSubject = QStringLiteral("Subject|The subject of the email message to be sent.");
const QString kHintMessage = QStringLiteral("Message|The text of the email body. Again, you can use the\r\n"
                                            "variables in the grey box to insert the project name or\r\n"
                                            "version.");
const QString kHintEmailFTP = QStringLiteral(
    "Use your FTP server|Upload the file to your configured FTP server and send a link in the email message. "
    "This is more efficient, especially with large files. This feature only works if you've configured an "
    "FTP server in Bundlewick's Settings.");
const QString kHintRetain = QStringLiteral(
    "Retain the file|If you upload the file to your configured FTP server and send a link, you can set how "
    "long the file remains available before Bundlewick deletes it.");
const QString kHintFolder = QStringLiteral("Folder|Select the folder to copy the generated zip file to.");
const QString kHintFTPHost
    = QStringLiteral("FTP Host|Enter or select the hostname of the FTP server for this delivery.");
const QString kHintFTPDirectory = QStringLiteral(
    "FTP Directory|The server directory to put the zip file into.\r\nThis directory must already exist.");
const QString kHintFTPLogin = QStringLiteral("FTP login|The username required to log into this FTP server.");
const QString kHintFTPPassword = QStringLiteral("FTP password|The password corresponding to the FTP login.");

// The item data of a line of the file list: the full path.
constexpr int kPathRole = Qt::UserRole;

QLineEdit *NewEdit(QWidget *parent, const char *name, const QString &sHint)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    THints::SetHint(edit, sHint);
    return edit;
}

// A combo box that takes free text and offers suggestions in a popup below
// it while the user types.
QComboBox *NewSuggestBox(QWidget *parent, const char *name, const QString &sHint)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr); // the suggestions come from the database
    THints::SetHint(combo, sHint);
    auto *completer = new QCompleter(combo->model(), combo);
    completer->setObjectName(combo->objectName() + QStringLiteral("Suggestions"));
    completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setWidget(combo->lineEdit());
    return combo;
}

QLabel *NewLabel(QWidget *parent, const char *name, const QString &sCaption, QWidget *buddy)
{
    QLabel *label = BuddyLabel(sCaption, buddy, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QCompleter *SuggestionsOf(QComboBox *combo)
{
    return combo->findChild<QCompleter *>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace

TfrmQuick::TfrmQuick(const QStringList &listItems, QWidget *parent)
    : TBaseDialog(parent)
{
    setObjectName(QStringLiteral("frmQuick"));
    setWindowTitle(QStringLiteral("Bundlewick :: Quick send"));
    SetHelpContext(kHelpTopic);

    listFiles = new QListWidget(this);
    listFiles->setObjectName(QStringLiteral("listFiles"));
    listFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    Label1 = NewLabel(this, "Label1", QStringLiteral("Files to send"), listFiles);
    lblSelectAll = new TLinkLabel(QStringLiteral("All"), this);
    lblSelectAll->setObjectName(QStringLiteral("lblSelectAll"));
    THints::SetHint(lblSelectAll, kHintAll);
    lblSelectNone = new TLinkLabel(QStringLiteral("None"), this);
    lblSelectNone->setObjectName(QStringLiteral("lblSelectNone"));
    THints::SetHint(lblSelectNone, kHintNone);
    cbZip = new QCheckBox(QStringLiteral("Zip this file"), this);
    cbZip->setObjectName(QStringLiteral("cbZip"));
    cbZip->setLayoutDirection(Qt::RightToLeft); // the text left of the box
    cbZip->setVisible(false);
    THints::SetHint(cbZip, kHintZip);

    edFilename = NewEdit(this, "edFilename", kHintFilename);
    lblFilename = NewLabel(this, "lblFilename", QStringLiteral("Zip filename"), edFilename);
    THints::SetHint(lblFilename, kHintFilename);
    edPassword = NewEdit(this, "edPassword", kHintPassword);
    lblPassword = NewLabel(this, "lblPassword", QStringLiteral("Zip password"), edPassword);
    THints::SetHint(lblPassword, kHintPassword);
    cbZipEncryption = NewEncryptionBox(this, QStringLiteral("cbZipEncryption"), edPassword);
    lblZipEncryption = NewLabel(this, "lblZipEncryption", QStringLiteral("Zip encryption"), cbZipEncryption);
    lblZipEncryptionNote = NewEncryptionNote(this, QStringLiteral("lblZipEncryptionNote"), edPassword);
    lblPasswordFrom = new QLabel(this);
    lblPasswordFrom->setObjectName(QStringLiteral("lblPasswordFrom"));
    QFont small = lblPasswordFrom->font();
    small.setItalic(true);
    lblPasswordFrom->setFont(small);
    lblPasswordFrom->setVisible(false);
    lblPasswordClear = new TLinkLabel(QStringLiteral("Clear"), this);
    lblPasswordClear->setObjectName(QStringLiteral("lblPasswordClear"));
    lblPasswordClear->setAccessibleName(QStringLiteral("Clear the password"));
    lblPasswordClear->setVisible(false);

    pgSend = NewPageTabs(this);
    pgSend->setObjectName(QStringLiteral("pgSend"));
    pgSend->addTab(BuildEmailPage(), QStringLiteral("Email"));
    pgSend->addTab(BuildFilePage(), QStringLiteral("File"));
    pgSend->addTab(BuildFTPPage(), QStringLiteral("FTP"));
    pgSend->setCurrentIndex(skEmail);
    Label4 = NewLabel(this, "Label4", QStringLiteral("Send method"), pgSend);

    btnSend = new QPushButton(QStringLiteral("Send"), this);
    btnSend->setObjectName(QStringLiteral("btnSend"));
    btnSend->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    lblSendWhy = new QLabel(this);
    lblSendWhy->setObjectName(QStringLiteral("lblSendWhy"));
    lblSendWhy->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // The list, its links and the zip box; the archive's name and password
    // side by side; the pages; the buttons.
    auto *links = new QHBoxLayout();
    links->setSpacing(kFormMargin / 2);
    links->addWidget(lblSelectAll);
    links->addWidget(lblSelectNone);
    links->addStretch(1);
    links->addWidget(cbZip);
    // In a panel of its own, so that hiding the fields leaves no gap.
    pnlArchive = new QWidget(this);
    pnlArchive->setObjectName(QStringLiteral("pnlArchive"));
    auto *archive = new QGridLayout(pnlArchive);
    archive->setContentsMargins(0, 0, 0, 0);
    archive->setHorizontalSpacing(kFormMargin);
    archive->setVerticalSpacing(2);
    archive->addWidget(lblFilename, 0, 0);
    archive->addWidget(edFilename, 1, 0);
    archive->addWidget(lblPassword, 0, 1);
    archive->addWidget(edPassword, 1, 1);
    auto *source = new QHBoxLayout();
    source->setSpacing(kFormMargin / 2);
    source->addWidget(lblPasswordFrom);
    source->addWidget(lblPasswordClear);
    source->addStretch(1);
    archive->addLayout(source, 2, 1);
    archive->addWidget(lblZipEncryption, 3, 0, Qt::AlignRight | Qt::AlignVCenter);
    archive->addWidget(cbZipEncryption, 3, 1);
    archive->addWidget(lblZipEncryptionNote, 4, 0, 1, 2);
    auto *buttons = new QHBoxLayout();
    buttons->setSpacing(kFormMargin / 2);
    buttons->addWidget(lblSendWhy, 1);
    buttons->addWidget(btnSend);
    buttons->addWidget(btnCancel);
    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->setSpacing(kFormMargin / 2);
    main->addLayout(LabelledInput(Label1, listFiles), 1);
    main->addLayout(links);
    main->addWidget(pnlArchive);
    main->addLayout(LabelledInput(Label4, pgSend));
    main->addLayout(buttons);

    // 498 by 479 at the usual font; more where a larger font needs it.
    main->setSizeConstraint(QLayout::SetFixedSize);
    listFiles->setFixedHeight(qMax(96, fontMetrics().height() * 6));
    setMinimumWidth(498);
    const QFontMetrics metrics = fontMetrics();
    listFiles->setMinimumWidth(qMax(498 - 2 * kFormMargin, metrics.averageCharWidth() * 70));

    // Widgets that come and go keep their room, so that nothing jumps.
    for (QWidget *widget : std::initializer_list<QWidget *> {
             cbZip, lblFilename, edFilename, lblPassword, edPassword, lblZipEncryption, cbZipEncryption,
             lblZipEncryptionNote, lblEmailRetain, cbEmailRetain, lblEmailLink, lblPasswordFrom,
             lblPasswordClear }) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }

    // Dropped files join the list.
    TDropFilter::Install(this, false, [this](const QStringList &oPaths) { AcceptFiles(oPaths); });

    connect(listFiles, &QListWidget::itemChanged, this, [this] {
        if (!FFilling)
            listFilesClickCheck();
    });
    connect(lblSelectAll, &TLinkLabel::clicked, this, [this] { SetAllChecks(true); });
    connect(lblSelectNone, &TLinkLabel::clicked, this, [this] { SetAllChecks(false); });
    connect(cbZip, &QCheckBox::toggled, this, [this] {
        cbZipClick();
        DataChange();
    });
    connect(edFilename, &QLineEdit::textChanged, this, &TfrmQuick::DataChange);
    // A password the user types or clears is the user's own.
    connect(edPassword, &QLineEdit::textEdited, this, &TfrmQuick::HidePasswordSource);
    connect(lblPasswordClear, &TLinkLabel::clicked, this, [this] {
        edPassword->clear();
        HidePasswordSource();
        edPassword->setFocus(Qt::OtherFocusReason);
    });
    connect(cbEmailFTP, &QCheckBox::clicked, this, &TfrmQuick::cbEmailFTPClick);
    connect(pgSend, &QTabWidget::currentChanged, this, &TfrmQuick::DataChange);
    connect(edEmailSubject, &QLineEdit::textChanged, this, &TfrmQuick::DataChange);
    connect(memEmailMessage, &QPlainTextEdit::textChanged, this, &TfrmQuick::DataChange);
    connect(cbEmailRetain, &QComboBox::currentIndexChanged, this, &TfrmQuick::DataChange);
    connect(edFileFolder, &QLineEdit::textChanged, this, &TfrmQuick::DataChange);
    for (QLineEdit *edit : { edFTPDirectory, edFTPLogin, edFTPPassword })
        connect(edit, &QLineEdit::textChanged, this, &TfrmQuick::DataChange);
    for (QComboBox *combo : { cbEmailRecipient, cbFTPHost }) {
        connect(combo, &QComboBox::editTextChanged, this, &TfrmQuick::DataChange);
        connect(combo, &QComboBox::currentIndexChanged, this, &TfrmQuick::DataChange);
        // Typing asks for suggestions; taking one fills in what it remembers.
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, combo] { Suggest(combo); });
        connect(combo, &QComboBox::activated, this, [this, combo] { Pick(combo); });
        connect(SuggestionsOf(combo), qOverload<const QString &>(&QCompleter::activated), this,
                [this, combo](const QString &sText) {
                    combo->setCurrentIndex(combo->findText(sText, Qt::MatchExactly));
                    Pick(combo);
                });
        combo->lineEdit()->installEventFilter(this);
    }
    connect(btnFileFolder, &QPushButton::clicked, this, &TfrmQuick::btnFileFolderClick);
    connect(btnSend, &QPushButton::clicked, this, &TfrmQuick::btnSendClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmQuick::reject);

    // Filling.
    FFilling = true;
    for (const QString &sPath : listItems)
        AddFile(sPath);
    FFilling = false;
    listFilesClickCheck();
    edFilename->setText(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    cbEmailRetain->setCurrentIndex(Setting::FTPRetention.Get(0));
    LimitRetentionChoices(cbEmailRetain);
    const bool bStaging = FTPAvailable();
    cbEmailFTP->setChecked(bStaging && Setting::EmailFTP.Get());
    cbEmailFTP->setEnabled(bStaging);
    cbEmailFTPClick();
    DataChange();
}

QWidget *TfrmQuick::BuildEmailPage()
{
    tabEmail = new QWidget();
    tabEmail->setObjectName(QStringLiteral("tabEmail"));
    cbEmailRecipient = NewSuggestBox(tabEmail, "cbEmailRecipient", kHintRecipient);
    edEmailSubject = NewEdit(tabEmail, "edEmailSubject", kHintSubject);
    edEmailSubject->setText(QStringLiteral("A file for you"));
    memEmailMessage = new QPlainTextEdit(tabEmail);
    memEmailMessage->setObjectName(QStringLiteral("memEmailMessage"));
    memEmailMessage->setPlainText(QStringLiteral("Here's a file for you."));
    memEmailMessage->setTabChangesFocus(true);
    memEmailMessage->setFixedHeight(qMax(72, fontMetrics().height() * 9 / 2));
    THints::SetHint(memEmailMessage, kHintMessage);
    cbEmailFTP = new QCheckBox(QStringLiteral("Use your FTP server"), tabEmail);
    cbEmailFTP->setObjectName(QStringLiteral("cbEmailFTP"));
    THints::SetHint(cbEmailFTP, kHintEmailFTP);
    cbEmailRetain = new QComboBox(tabEmail);
    cbEmailRetain->setObjectName(QStringLiteral("cbEmailRetain"));
    cbEmailRetain->addItems({ QStringLiteral("one day"), QStringLiteral("one week"),
                              QStringLiteral("one month"), QStringLiteral("one year"),
                              QStringLiteral("forever") });
    THints::SetHint(cbEmailRetain, kHintRetain);
    lblEmailRetain
        = NewLabel(tabEmail, "lblEmailRetain", QStringLiteral("Retain the FTP file for"), cbEmailRetain);
    lblEmailLink = new QLabel(QStringLiteral("Insert {LINK} for the file"), tabEmail);
    lblEmailLink->setObjectName(QStringLiteral("lblEmailLink"));
    lblEmailLink->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont italic = lblEmailLink->font();
    italic.setItalic(true);
    lblEmailLink->setFont(italic);

    auto *grid = new QGridLayout(tabEmail);
    grid->setContentsMargins(kFormMargin / 2, kFormMargin / 2, kFormMargin / 2, kFormMargin / 2);
    grid->setHorizontalSpacing(kFormMargin / 2);
    grid->setVerticalSpacing(kFormMargin / 2);
    grid->addWidget(NewLabel(tabEmail, "lblEmailRecipient", QStringLiteral("Recipient"), cbEmailRecipient), 0,
                    0);
    grid->addWidget(cbEmailRecipient, 0, 1);
    grid->addWidget(NewLabel(tabEmail, "lblEmailSubject", QStringLiteral("Subject"), edEmailSubject), 1, 0);
    grid->addWidget(edEmailSubject, 1, 1);
    QLabel *lblMessage = NewLabel(tabEmail, "lblEmailMessage", QStringLiteral("Message"), memEmailMessage);
    grid->addWidget(lblMessage, 2, 0, Qt::AlignTop);
    grid->addWidget(memEmailMessage, 2, 1);
    auto *staging = new QHBoxLayout();
    staging->setSpacing(kFormMargin / 2);
    staging->addWidget(cbEmailFTP);
    staging->addStretch(1);
    staging->addWidget(lblEmailRetain);
    staging->addWidget(cbEmailRetain);
    grid->addLayout(staging, 3, 1);
    grid->addWidget(lblEmailLink, 4, 1);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(1, 1);
    return tabEmail;
}

QWidget *TfrmQuick::BuildFilePage()
{
    tabFile = new QWidget();
    tabFile->setObjectName(QStringLiteral("tabFile"));
    edFileFolder = NewEdit(tabFile, "edFileFolder", kHintFolder);
    btnFileFolder = new QPushButton(QStringLiteral("..."), tabFile);
    btnFileFolder->setObjectName(QStringLiteral("btnFileFolder"));
    btnFileFolder->setAccessibleName(QStringLiteral("Choose folder"));
    btnFileFolder->setAutoDefault(false);
    btnFileFolder->setFixedWidth(
        qMax(btnFileFolder->fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3,
             edFileFolder->sizeHint().height()));
    auto *grid = new QGridLayout(tabFile);
    grid->setContentsMargins(kFormMargin / 2, kFormMargin / 2, kFormMargin / 2, kFormMargin / 2);
    grid->setHorizontalSpacing(kFormMargin / 2);
    grid->addWidget(NewLabel(tabFile, "lblFileFolder", QStringLiteral("Folder"), edFileFolder), 0, 0);
    grid->addWidget(edFileFolder, 0, 1);
    grid->addWidget(btnFileFolder, 0, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    return tabFile;
}

QWidget *TfrmQuick::BuildFTPPage()
{
    tabFTP = new QWidget();
    tabFTP->setObjectName(QStringLiteral("tabFTP"));
    cbFTPHost = NewSuggestBox(tabFTP, "cbFTPHost", kHintFTPHost);
    edFTPDirectory = NewEdit(tabFTP, "edFTPDirectory", kHintFTPDirectory);
    edFTPLogin = NewEdit(tabFTP, "edFTPLogin", kHintFTPLogin);
    edFTPPassword = NewEdit(tabFTP, "edFTPPassword", kHintFTPPassword);
    auto *grid = new QGridLayout(tabFTP);
    grid->setContentsMargins(kFormMargin / 2, kFormMargin / 2, kFormMargin / 2, kFormMargin / 2);
    grid->setHorizontalSpacing(kFormMargin / 2);
    grid->setVerticalSpacing(kFormMargin / 2);
    grid->addWidget(NewLabel(tabFTP, "lblFTPHost", QStringLiteral("FTP host"), cbFTPHost), 0, 0);
    grid->addWidget(cbFTPHost, 0, 1);
    grid->addWidget(NewLabel(tabFTP, "lblFTPDirectory", QStringLiteral("FTP directory"), edFTPDirectory), 1,
                    0);
    grid->addWidget(edFTPDirectory, 1, 1);
    grid->addWidget(NewLabel(tabFTP, "lblFTPLogin", QStringLiteral("FTP login"), edFTPLogin), 2, 0);
    grid->addWidget(edFTPLogin, 2, 1);
    grid->addWidget(NewLabel(tabFTP, "lblFTPPassword", QStringLiteral("FTP password"), edFTPPassword), 3, 0);
    grid->addWidget(edFTPPassword, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(4, 1);
    return tabFTP;
}

bool TfrmQuick::Execute(const QStringList &listItems, QWidget *parent)
{
    TfrmQuick frm(listItems, parent);
    return frm.exec() == QDialog::Accepted;
}

void TfrmQuick::showEvent(QShowEvent *event)
{
    TBaseDialog::showEvent(event);
    if (event->spontaneous())
        return;
    cbEmailFTP->setEnabled(FTPAvailable());
    const bool bMask = HidePasswords();
    SetPasswordMasked(edPassword, bMask);
    SetPasswordMasked(edFTPPassword, bMask);
}

// --- The file list --------------------------------------------------------

void TfrmQuick::AddFile(const QString &sPath)
{
    auto *item = new QListWidgetItem(QuickSend::DisplayName(sPath));
    item->setData(kPathRole, sPath);
    item->setToolTip(sPath);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    listFiles->addItem(item);
}

void TfrmQuick::AcceptFiles(const QStringList &oPaths)
{
    QStringList listed;
    for (int i = 0; i < listFiles->count(); ++i)
        listed.append(listFiles->item(i)->data(kPathRole).toString());
    FFilling = true;
    for (const QString &sPath : oPaths) {
        // Paths differing in case are different files here.
        if (!listed.contains(sPath)) {
            listed.append(sPath);
            AddFile(sPath);
        }
    }
    FFilling = false;
    listFilesClickCheck();
}

int TfrmQuick::FileCount() const
{
    return int(CheckedFiles().size());
}

QStringList TfrmQuick::CheckedFiles() const
{
    QStringList files;
    for (int i = 0; i < listFiles->count(); ++i) {
        const QListWidgetItem *item = listFiles->item(i);
        if (item->checkState() == Qt::Checked)
            files.append(item->data(kPathRole).toString());
    }
    return files;
}

void TfrmQuick::listFilesClickCheck()
{
    UpdateNames();
    cbZip->setVisible(FileCount() == 1);
    cbZipClick();
    DataChange();
}

void TfrmQuick::UpdateNames()
{
    // A file whose name an earlier ticked file has goes into "files.zip"
    // under a numbered name: the line says so.
    const QStringList files = CheckedFiles();
    const QStringList names = QuickSend::EntryNames(files);
    FFilling = true;
    for (int i = 0; i < listFiles->count(); ++i) {
        QListWidgetItem *item = listFiles->item(i);
        const QString sPath = item->data(kPathRole).toString();
        QString sText = QuickSend::DisplayName(sPath);
        const qsizetype at = item->checkState() == Qt::Checked ? files.indexOf(sPath) : -1;
        if (files.size() > 1 && at >= 0 && names.at(at) != sText)
            sText += QStringLiteral("  (as %1)").arg(names.at(at));
        if (item->text() != sText)
            item->setText(sText);
    }
    FFilling = false;
}

void TfrmQuick::SetAllChecks(bool bChecked)
{
    FFilling = true;
    for (int i = 0; i < listFiles->count(); ++i)
        listFiles->item(i)->setCheckState(bChecked ? Qt::Checked : Qt::Unchecked);
    FFilling = false;
    listFilesClickCheck();
}

void TfrmQuick::cbZipClick()
{
    const bool bName = cbZip->isHidden() || cbZip->isChecked();
    pnlArchive->setVisible(bName);
    const bool bSource = bName && !lblPasswordFrom->text().isEmpty();
    lblPasswordFrom->setVisible(bSource);
    lblPasswordClear->setVisible(bSource);
}

void TfrmQuick::ShowPasswordSource(int iSendID, const QString &sPassword)
{
    edPassword->setText(sPassword);
    // Never filled silently: the note says so, and Clear takes it out.
    lblPasswordFrom->setText(sPassword.isEmpty() ? QString() : QuickSend::PasswordSource(iSendID));
    cbZipClick();
}

void TfrmQuick::HidePasswordSource()
{
    lblPasswordFrom->clear();
    cbZipClick();
}

// --- Pages ----------------------------------------------------------------

void TfrmQuick::cbEmailFTPClick()
{
    const bool bLink = cbEmailFTP->isChecked();
    if (bLink) {
        const QString sMessage = MemoToMessage(memEmailMessage->toPlainText());
        const QString sLinked = EnsureLinkLine(sMessage);
        if (sLinked != sMessage)
            memEmailMessage->setPlainText(MessageToMemo(sLinked));
    }
    lblEmailRetain->setVisible(bLink);
    cbEmailRetain->setVisible(bLink);
    lblEmailLink->setVisible(bLink);
}

void TfrmQuick::DataChange()
{
    if (!btnSend)
        return;
    const QString sWhy = QuickSend::WhyNotReady(Order(), RecipientPicked());
    btnSend->setEnabled(sWhy.isEmpty());
    btnSend->setAccessibleDescription(sWhy);
    lblSendWhy->setText(sWhy);
}

TQuickSendOrder TfrmQuick::Order() const
{
    TQuickSendOrder order;
    order.Files = CheckedFiles();
    order.Zip = !cbZip->isHidden() && cbZip->isChecked();
    order.ZipName = edFilename->text();
    order.ZipPassword = edPassword->text();
    order.ZipEncryption = EncryptionChoice(cbZipEncryption);
    order.Page = pgSend->currentIndex();
    order.Recipient = cbEmailRecipient->currentText();
    order.Subject = edEmailSubject->text();
    order.Message = MemoToMessage(memEmailMessage->toPlainText());
    order.UseStaging = cbEmailFTP->isEnabled() && cbEmailFTP->isChecked();
    order.Retention = cbEmailRetain->currentIndex();
    order.Folder = edFileFolder->text();
    order.FTPHost = cbFTPHost->currentText();
    order.FTPDirectory = edFTPDirectory->text();
    order.FTPLogin = edFTPLogin->text();
    order.FTPPassword = edFTPPassword->text();
    return order;
}

void TfrmQuick::btnFileFolderClick()
{
    const QString sTyped = edFileFolder->text();
    const QString sStart = QFileInfo(sTyped).isDir() ? sTyped : Param::SendFileFolder.Get();
    const QString sFolder
        = TDialogs::FolderName(this, QStringLiteral("Select the destination folder"), sStart);
    if (!sFolder.isEmpty())
        edFileFolder->setText(sFolder);
}

// --- Suggestions ----------------------------------------------------------

bool TfrmQuick::RecipientPicked() const
{
    // A suggestion counts while the box shows its text unchanged.
    const int iIndex = cbEmailRecipient->currentIndex();
    return iIndex >= 0 && cbEmailRecipient->itemText(iIndex) == cbEmailRecipient->currentText();
}

void TfrmQuick::Suggest(QComboBox *combo)
{
    const QString sParam = combo == cbEmailRecipient ? SendParam::EmailRecipient : SendParam::FTPHost;
    QLineEdit *edit = combo->lineEdit();
    const QString sKept = edit->text();
    const QList<TQuickSuggestion> suggestions = QuickSend::Suggestions(sParam, sKept);
    {
        const QSignalBlocker blocker(combo);
        combo->clear();
        for (const TQuickSuggestion &suggestion : suggestions)
            combo->addItem(suggestion.Value, suggestion.SendID);
        combo->setCurrentIndex(-1);
        edit->setText(sKept);
        edit->setCursorPosition(int(sKept.size()));
    }
    QCompleter *completer = SuggestionsOf(combo);
    if (suggestions.isEmpty())
        completer->popup()->hide();
    else
        completer->complete();
    DataChange();
}

void TfrmQuick::Pick(QComboBox *combo)
{
    const int iIndex = combo->currentIndex();
    if (iIndex < 0 || combo->itemText(iIndex) != combo->currentText())
        return;
    const int iSendID = combo->itemData(iIndex).toInt();
    if (combo == cbEmailRecipient) {
        const TQuickRecipientPick pick = QuickSend::PickRecipient(iSendID);
        ShowPasswordSource(iSendID, pick.ZipPassword);
        SetEncryptionChoice(cbZipEncryption, pick.ZipEncryption);
        if (cbEmailFTP->isEnabled()) {
            cbEmailFTP->setChecked(pick.UseStaging);
            cbEmailFTPClick();
        }
        cbEmailRetain->setCurrentIndex(
            pick.Retention >= 0 && pick.Retention < cbEmailRetain->count() ? pick.Retention : -1);
    } else {
        const TQuickHostPick pick = QuickSend::PickHost(iSendID);
        edFTPDirectory->setText(pick.Directory);
        edFTPLogin->setText(pick.Login);
        edFTPPassword->setText(pick.Password);
        ShowPasswordSource(iSendID, pick.ZipPassword);
        SetEncryptionChoice(cbZipEncryption, pick.ZipEncryption);
    }
    DataChange();
}

bool TfrmQuick::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && (watched == cbEmailRecipient->lineEdit() || watched == cbFTPHost->lineEdit())) {
        const int iKey = static_cast<QKeyEvent *>(event)->key();
        if (iKey == Qt::Key_Tab || iKey == Qt::Key_Return || iKey == Qt::Key_Enter) {
            // Takes the suggestion and moves on; Enter does not send from here.
            QComboBox *combo = watched == cbEmailRecipient->lineEdit() ? cbEmailRecipient : cbFTPHost;
            Pick(combo);
            (combo == cbEmailRecipient ? static_cast<QWidget *>(edEmailSubject) : edFTPDirectory)
                ->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return TBaseDialog::eventFilter(watched, event);
}

// --- Sending --------------------------------------------------------------

void TfrmQuick::btnSendClick()
{
    if (!btnSend->isEnabled() || FSendWindow)
        return;
    if (pgSend->currentIndex() == skEmail && cbEmailFTP->isChecked())
        cbEmailFTPClick(); // the link line, in case it was taken out
    const TQuickSendOrder order = Order();
    QuickSend::Remember(order);
    FSendWindow = new TfrmQuickSend(order, this);
    connect(FSendWindow, &TfrmQuickSend::sendDone, this, &TfrmQuick::SendFinished);
    FSendWindow->open();
}

void TfrmQuick::SendFinished(bool bSuccess)
{
    FSendWindow->deleteLater();
    FSendWindow = nullptr;
    if (bSuccess)
        accept();
}
