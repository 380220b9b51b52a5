#pragma once

#include "ui/windowkit.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The serious-error dialog: the error text, where the data report goes (and
// that it holds passwords), and a box for the user's notes. Closing it saves
// the diagnostics log, the parameters and the data report; the caller then
// ends the program.
class TfrmError : public TBaseDialog
{
    Q_OBJECT

public:
    explicit TfrmError(QWidget *parent = nullptr);

    // Logs the error, shows the dialog modally (in the tests' scripted mode
    // it is recorded as "error" and does not wait), then LogFlush, saves the
    // parameters and builds the data report with the user's notes.
    static void Execute(const QString &sError);

    void SetError(const QString &sError);
    QString Notes() const;

    static QString Caption() { return QStringLiteral("Bundlewick error"); }
    // What the dialog says about the data report and the error report.
    static QString ReportText();

private:
    QLabel *imgError = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *lblInstructions = nullptr;
    QLabel *lblDetails = nullptr;
    QLabel *lblError = nullptr;
    QLabel *lblReport = nullptr;
    QLabel *lblAdd = nullptr;
    QPlainTextEdit *memNotes = nullptr;
    QPushButton *btnClose = nullptr;
};
