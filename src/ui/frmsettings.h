#pragma once

#include "delivery/connection.h"
#include "ui/windowkit.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QWidget;
class TSendMailJob;
class TLinkLabel;

// The settings dialog: the staging FTP server (and which kind of staging
// server links use), general preferences, the SMTP account and the staging
// S3 storage, each on a tab. The values are written only by Save; the
// active tab is remembered in every case. Both connection tests use the
// fields as typed: a test e-mail (a background job; closing the dialog
// cancels it) and the FTP test window.
class TfrmSettings : public TBaseDialog
{
    Q_OBJECT

public:
    explicit TfrmSettings(QWidget *parent = nullptr);
    ~TfrmSettings() override;

    // Shows the dialog modally; true when it was closed by Save.
    static bool Execute(QWidget *parent = nullptr);

    // The fields as typed.
    TSMTPSettings SMTPAsTyped() const;
    TStagingSettings StagingAsTyped() const;

    // Writes every setting from the fields.
    void SaveSettings();
    // The enable rules of the two test links.
    bool EmailTestAllowed() const;
    bool FTPTestAllowed() const;
    bool S3TestAllowed() const;
    // Whether a test e-mail is on its way.
    bool EmailTestRunning() const { return FMailJob != nullptr; }

    // The retention choices, by index.
    static QStringList RetentionChoices();

public Q_SLOTS:
    void done(int iResult) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *BuildFTPPage();
    QWidget *BuildS3Page();
    QWidget *BuildGeneralPage();
    QWidget *BuildSMTPPage();
    void LoadSettings();
    void UpdateEmailTest();
    void UpdateFTPTest();
    void UpdateS3Test();
    void ApplyMask();
    void lblEmailTestClick();
    void lblFTPTestClick();
    void lblS3TestClick();
    void btnTLSCertificatesClick();
    void MailTestEnded();

    std::unique_ptr<TSendMailJob> FMailJob;

    QTabWidget *pgSettings = nullptr;
    QWidget *tabFTP = nullptr;
    QWidget *tabGeneral = nullptr;
    QWidget *tabSMTP = nullptr;
    QWidget *tabS3 = nullptr;
    QComboBox *cbStagingKind = nullptr;
    QLineEdit *edS3Endpoint = nullptr;
    QLineEdit *edS3Region = nullptr;
    QLineEdit *edS3Bucket = nullptr;
    QLineEdit *edS3Prefix = nullptr;
    QLineEdit *edS3AccessKeyId = nullptr;
    QLineEdit *edS3SecretKey = nullptr;
    QCheckBox *cbS3PathStyle = nullptr;
    QLineEdit *edS3PublicAddress = nullptr;
    QLabel *lblS3Retain = nullptr;
    TLinkLabel *lblS3Test = nullptr;
    QLabel *lblFTP = nullptr;
    QLineEdit *edFTPHost = nullptr;
    QLineEdit *edFTPDirectory = nullptr;
    QLineEdit *edFTPLogin = nullptr;
    QLineEdit *edFTPPassword = nullptr;
    QComboBox *cbRetain = nullptr;
    QLineEdit *edFTPHttpPath = nullptr;
    TLinkLabel *lblFTPTest = nullptr;
    QCheckBox *cbShowHints = nullptr;
    QCheckBox *cbHidePasswords = nullptr;
    QSpinBox *spinLogDays = nullptr;
    QLineEdit *edTLSCertificates = nullptr;
    QPushButton *btnTLSCertificates = nullptr;
    QLineEdit *edEmailServer = nullptr;
    QLineEdit *edEmailUsername = nullptr;
    QLineEdit *edEmailPassword = nullptr;
    QSpinBox *spinEmailPort = nullptr;
    QCheckBox *cbEmailLogin = nullptr;
    QCheckBox *cbEmailAllowPlainLogin = nullptr;
    QLineEdit *edEmailFrom = nullptr;
    TLinkLabel *lblEmailTest = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;
};
