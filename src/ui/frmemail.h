#pragma once

#include "core/productinfo.h"
#include "ui/windowkit.h"

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TSendMailJob;

// The support e-mail: a message to the support address (the build's unless
// another is given), sent
// through the user's SMTP settings as a background job, optionally with the
// current diagnostics file attached. While e-mail is not set up the dialog
// says so and cannot send. Closing it mid-send cancels the message.
class TfrmEmail : public TBaseDialog
{
    Q_OBJECT

public:
    explicit TfrmEmail(QWidget *parent = nullptr, const QString &sTo = QString(ProductSupportEmail));
    ~TfrmEmail() override;

    static void Execute(QWidget *parent = nullptr, const QString &sTo = QString(ProductSupportEmail));

    bool Sending() const { return FJob != nullptr; }
    // The diagnostics file attached when the box is ticked (flushed first).
    static QString DiagnosticsFile();

public Q_SLOTS:
    void done(int iResult) override;

private:
    void btnSendClick();
    void SendEnded();
    void UpdateControls();

    QString FTo;
    std::unique_ptr<TSendMailJob> FJob;
    bool FEmailSet = false;

    QLabel *lblTo = nullptr;
    QLineEdit *edSubject = nullptr;
    QPlainTextEdit *memMessage = nullptr;
    QCheckBox *cbAttachLog = nullptr;
    QLabel *lblNotSet = nullptr;
    QLabel *lblStatus = nullptr;
    QPushButton *btnSend = nullptr;
    QPushButton *btnCancel = nullptr;
};
