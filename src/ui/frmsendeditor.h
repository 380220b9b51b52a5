#pragma once

#include "ui/windowkit.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;

// The dialog that creates or edits one send task of a project: an e-mail, a
// copy to a folder or an FTP upload, each with its archive password and the
// password's encryption (AES-256 for a new task, traditional for a task
// stored before there was a choice). A new
// task takes the kind of the page active when it is saved; an existing task
// shows only the page of its kind. Nothing is validated: the fields are
// stored as they are and fail at delivery.
class TfrmSendEditor : public TBaseDialog
{
    Q_OBJECT

public:
    // iMethodID 0 (or less) for a new task of the project.
    TfrmSendEditor(int iMethodID, int iProjectID, const QString &sProjectName, QWidget *parent = nullptr);

    // Shows the dialog modally and stores the task when it was closed by
    // Save; iMethodID then receives the task's id (the new id of a new task).
    // True when saved.
    static bool Execute(int &iMethodID, int iProjectID, const QString &sProjectName,
                        QWidget *parent = nullptr);

    int MethodID() const { return FMethodID; }
    // Stores the task from the active page.
    void SaveTask();

    // Help topics by page: e-mail, file, FTP.
    int HelpTopic() const override;

    // Whether the e-mail readiness warning was shown during this opening.
    bool EmailWarned() const { return FEmailWarned; }

    // The caption for a project name.
    static QString Caption(const QString &sProjectName);

protected:
    void showEvent(QShowEvent *event) override;

public:
    void setVisible(bool bVisible) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *BuildEmailPage();
    QWidget *BuildFilePage();
    QWidget *BuildFTPPage();
    void LoadTask();
    void cbEmailFTPClick();
    void EmailSet();
    void btnFileFolderClick();
    QString MessageText() const;

    int FMethodID = 0;
    int FProjectID = 0;
    // While showing: QDialog hands the first field a focus that looks like
    // the Tab key's, which is not the user's.
    bool FOpening = false;
    bool FEmailWarned = false;

    QTabWidget *pgMethod = nullptr;
    QWidget *tabEmail = nullptr;
    QWidget *tabFile = nullptr;
    QWidget *tabFTP = nullptr;
    QLineEdit *edEmailRecipient = nullptr;
    QLineEdit *edEmailSubject = nullptr;
    QLineEdit *edEmailZipPassword = nullptr;
    QComboBox *cbEmailZipEncryption = nullptr;
    QLabel *lblEmailZipEncryptionNote = nullptr;
    QLabel *Label1 = nullptr;
    QPlainTextEdit *memEmailMessage = nullptr;
    QLabel *lblEmailLink = nullptr;
    QCheckBox *cbEmailFTP = nullptr;
    QLabel *lblEmailRetain = nullptr;
    QComboBox *cbEmailRetain = nullptr;
    QLineEdit *edFileFolder = nullptr;
    QPushButton *btnFileFolder = nullptr;
    QLineEdit *edFileZipPassword = nullptr;
    QComboBox *cbFileZipEncryption = nullptr;
    QLabel *lblFileZipEncryptionNote = nullptr;
    QLineEdit *edFTPHost = nullptr;
    QLineEdit *edFTPDirectory = nullptr;
    QLineEdit *edFTPLogin = nullptr;
    QLineEdit *edFTPPassword = nullptr;
    QLineEdit *edFTPZipPassword = nullptr;
    QComboBox *cbFTPZipEncryption = nullptr;
    QLabel *lblFTPZipEncryptionNote = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;
};
