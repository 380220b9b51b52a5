#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// Every message box and file dialog of the program goes through here, so
// that tests can answer them. In scripted mode nothing is shown: each call is
// recorded and answered from the queues (an empty queue answers "No" or
// "Cancel"). Setting the environment variable BW_TEST_DIALOGS=1 starts the
// process in scripted mode and echoes every dialog to stderr.
class TDialogs
{
public:
    struct TShown
    {
        QString sKind; // "warning", "critical", "information", "confirm", "input", "save", "open",
                       // "openmany", "folder"
        QString sTitle;
        QString sText; // message text; for file dialogs the folder; for input boxes the prompt
    };

    static void Warning(QWidget *parent, const QString &sTitle, const QString &sText);
    static void Critical(QWidget *parent, const QString &sTitle, const QString &sText);
    static void Information(QWidget *parent, const QString &sTitle, const QString &sText);
    // Yes and No buttons; true for Yes.
    static bool Confirm(QWidget *parent, const QString &sTitle, const QString &sText);

    // A one-line text box with OK and Cancel, starting with sValue. True for
    // OK, with sValue set to the text; sValue stays as it was on Cancel.
    // bPassword masks the text.
    static bool InputQuery(QWidget *parent, const QString &sTitle, const QString &sPrompt, QString &sValue,
                           bool bPassword = false);

    // Empty when cancelled.
    static QString SaveFileName(QWidget *parent, const QString &sTitle, const QString &sDir,
                                const QString &sFilter, const QString &sDefaultSuffix = QString());
    static QString OpenFileName(QWidget *parent, const QString &sTitle, const QString &sDir,
                                const QString &sFilter);
    static QStringList OpenFileNames(QWidget *parent, const QString &sTitle, const QString &sDir,
                                     const QString &sFilter);
    static QString FolderName(QWidget *parent, const QString &sTitle, const QString &sDir);

    // For windows of their own that answer themselves in scripted mode: adds
    // them to the record (and to stderr when echoing).
    static void RecordShown(const QString &sKind, const QString &sTitle, const QString &sText);

    // Test mode.
    static void SetScripted(bool bScripted);
    static bool Scripted();
    // Next answer of Confirm.
    static void PushAnswer(bool bYes);
    // Next answer of a file dialog; an empty name cancels.
    static void PushFileName(const QString &sFileName);
    static void PushFileNames(const QStringList &oFileNames);
    // Next answer of InputQuery: OK with this text. An empty queue cancels.
    static void PushInput(const QString &sText);
    // Next answer of InputQuery: Cancel.
    static void PushInputCancel();
    static QList<TShown> Shown();
    // Forgets the record and the queued answers.
    static void Clear();
};
