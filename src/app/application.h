#pragma once

#include <QApplication>
#include <QStringList>
#include <exception>

// The application object: an exception that escapes an event handler ends up
// in HandleException instead of terminating the process.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // The first failure of a run: writes the error report, shows the
    // serious-error dialog (which saves the data report) and ends the event
    // loops with status 1. Later failures are ignored. sContext says where
    // the exception was caught.
    static void HandleException(const std::exception_ptr &error, const QString &sContext = QString());
    // The message text of a caught exception.
    static QString ExceptionText(const std::exception_ptr &error);
};

// The whole run of the desktop program: process initialisation, the
// single-instance check, the data module, the main window, the event loop and
// shutdown in order. Returns the process exit status: 0 for a normal end and
// for a refused second instance, non-zero when start-up or an event handler
// failed.
// With files, quick send opens on them over the main window ("bundlewick
// send FILE..."); while another instance runs, they are handed over to it.
int RunApplication(int argc, char **argv, const QStringList &lQuickFiles = {});
