#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

class QPushButton;
class QTextBrowser;

// The help shipped with the program: one HTML page per window, installed
// beside it, shown in a help window of its own, so that it works offline.

// Help topics that are not a window's own.
inline constexpr int kHelpContentsTopic = 2;
inline constexpr int kHelpLicenceTopic = 13;

// Shows topic iContext in the help window (opened, or brought to the front);
// false when the help files are not installed (the window then says where
// it looked).
bool ShowHelp(int iContext);

// The folder of the help pages: beside the program when it is installed
// (../share/bundlewick/help), else where the build installs it, else the
// source tree's (running from the build folder). Empty when none holds them.
QString HelpFolder();
// The licence text shipped with the program; empty when it is missing.
QString LicenceFile();
// The page of a topic, with the anchor of a part of a window; empty when the
// help files are missing. Unknown topics show the contents page.
QUrl HelpTopicUrl(int iContext);

// The help window: the page in a browser, a "Contents" button back to the
// list of pages, and "Close". One is open at a time; it belongs to the
// window that asked for it (a modal dialog's help must take clicks while
// that dialog is up).
class TfrmHelp : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmHelp(QWidget *parent = nullptr);

    // The open help window, or null.
    static TfrmHelp *Current();
    void ShowTopic(int iContext);
    // The page shown, a file URL (with its anchor), or the licence file's.
    QUrl Source() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void UpdateTitle();

    QTextBrowser *txtHelp = nullptr;
    QPushButton *btnContents = nullptr;
    QPushButton *btnClose = nullptr;
};
