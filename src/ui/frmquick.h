#pragma once

#include "delivery/quicksend.h"
#include "ui/windowkit.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class TLinkLabel;
class TfrmQuickSend;

// Quick send: the files dropped on the program, the archive's name, password
// and encryption, and the way to send them (e-mail, folder or FTP). Send opens the
// progress window; a successful send closes the dialog, a failed one leaves
// it open with everything as typed. Recipients and FTP hosts typed here are
// remembered and suggested again while typing.
class TfrmQuick : public TBaseDialog
{
    Q_OBJECT

public:
    explicit TfrmQuick(const QStringList &listItems, QWidget *parent = nullptr);

    // Shows the dialog modally for the dropped paths; true when they were sent.
    static bool Execute(const QStringList &listItems, QWidget *parent = nullptr);

    // The number of ticked files.
    int FileCount() const;
    // The ticked paths, in list order.
    QStringList CheckedFiles() const;
    // Files dropped on the dialog: each path not listed yet is added, ticked.
    void AcceptFiles(const QStringList &oPaths);
    // Everything the sending needs, as the dialog shows it now.
    TQuickSendOrder Order() const;
    // The progress window while it is open.
    TfrmQuickSend *SendWindow() const { return FSendWindow; }

    static constexpr int kHelpTopic = 19;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *BuildEmailPage();
    QWidget *BuildFilePage();
    QWidget *BuildFTPPage();
    void AddFile(const QString &sPath);
    void listFilesClickCheck();
    void UpdateNames();
    void SetAllChecks(bool bChecked);
    void cbZipClick();
    void cbEmailFTPClick();
    void DataChange();
    bool RecipientPicked() const;
    void Suggest(QComboBox *combo);
    void Pick(QComboBox *combo);
    void btnFileFolderClick();
    void btnSendClick();
    void SendFinished(bool bSuccess);
    void ShowPasswordSource(int iSendID, const QString &sPassword);
    void HidePasswordSource();

    bool FFilling = false;
    TfrmQuickSend *FSendWindow = nullptr;

    QLabel *Label1 = nullptr;
    QListWidget *listFiles = nullptr;
    TLinkLabel *lblSelectAll = nullptr;
    TLinkLabel *lblSelectNone = nullptr;
    QCheckBox *cbZip = nullptr;
    QLabel *lblFilename = nullptr;
    QWidget *pnlArchive = nullptr;
    QLineEdit *edFilename = nullptr;
    QLabel *lblPassword = nullptr;
    QLineEdit *edPassword = nullptr;
    QLabel *lblZipEncryption = nullptr;
    QComboBox *cbZipEncryption = nullptr;
    QLabel *lblZipEncryptionNote = nullptr;
    // Says where a password filled in from a suggestion came from.
    QLabel *lblPasswordFrom = nullptr;
    TLinkLabel *lblPasswordClear = nullptr;
    QLabel *Label4 = nullptr;
    QTabWidget *pgSend = nullptr;
    QWidget *tabEmail = nullptr;
    QWidget *tabFile = nullptr;
    QWidget *tabFTP = nullptr;
    QComboBox *cbEmailRecipient = nullptr;
    QLineEdit *edEmailSubject = nullptr;
    QPlainTextEdit *memEmailMessage = nullptr;
    QCheckBox *cbEmailFTP = nullptr;
    QLabel *lblEmailRetain = nullptr;
    QComboBox *cbEmailRetain = nullptr;
    QLabel *lblEmailLink = nullptr;
    QLineEdit *edFileFolder = nullptr;
    QPushButton *btnFileFolder = nullptr;
    QComboBox *cbFTPHost = nullptr;
    QLineEdit *edFTPDirectory = nullptr;
    QLineEdit *edFTPLogin = nullptr;
    QLineEdit *edFTPPassword = nullptr;
    QPushButton *btnSend = nullptr;
    QLabel *lblSendWhy = nullptr; // why Send is disabled
    QPushButton *btnCancel = nullptr;
};
