#pragma once

#include "archive/zipencryption.h"

#include <QDialog>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QTabWidget;
class QDialogButtonBox;
class QPushButton;

class QBoxLayout;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;

// What every window of the program shares: margins, balloon hints, masked
// passwords, labelled inputs, dropped files, and the dialog base with its
// position memory and help key.

// Margins and spacing of every window, in device-independent pixels.
inline constexpr int kFormMargin = 16;
// How long a balloon hint stays up.
inline constexpr int kHintTime = 5000;
inline constexpr int kProjectEditorHintTime = 50000;

// Balloon hints: a hint text "title|body" shows as a tooltip with a bold
// title over the body. Hints show only while the "Show hints" setting is on;
// the setting is read each time a hint is about to show, so a change applies
// at once to every open window.
class THints : public QObject
{
    Q_OBJECT

public:
    // Gives the widget its hint, shown for iMsecs. An empty text removes it.
    static void SetHint(QWidget *widget, const QString &sHint, int iMsecs = kHintTime);
    // The widget's hint text, empty when it has none.
    static QString Hint(const QWidget *widget);
    // The rich text a hint shows as.
    static QString Html(const QString &sHint);
    // Whether hints show now: the "Show hints" setting, on without a database.
    static bool Enabled();
    // Overrides the setting for one window and its children (the settings
    // view follows its own check box before it is saved).
    static void SetWindowEnabled(QWidget *window, bool bEnabled);
    // Whether the widget's hints show now: its window's override, else Enabled().
    static bool EnabledFor(const QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
};

// Whether password fields mask their text: unless "Hide passwords" is
// exactly "0" (also when it was never stored).
bool HidePasswords();
// Masks the edit's text with "•", or shows it plainly. The edit gets a
// show/hide button at its right end (an action named kRevealActionName).
void SetPasswordMasked(QLineEdit *edit, bool bMasked);
inline constexpr char kRevealActionName[] = "actRevealPassword";
// The character masked text shows as.
inline constexpr char16_t kPasswordCharacter = u'\u2022';

// A label for an input: its caption carries the access key ("&Folder"), the
// input is its buddy, and the input's accessible name is the caption.
QLabel *BuddyLabel(const QString &sCaption, QWidget *buddy, QWidget *parent = nullptr);
// The label above its input, as one column of the layout.
QBoxLayout *LabelledInput(QLabel *label, QWidget *input);
// The same for an input with a button beside it.
QBoxLayout *LabelledInput(QLabel *label, QLayout *input);
// kFormMargin margins and spacing.
void SetFormMargins(QLayout *layout);
// A page control whose tabs are all at least about 100 pixels wide at the
// usual font, so that short page names do not make small targets.
QTabWidget *NewPageTabs(QWidget *parent);
// The editors' button row: "&Save" (the default button, named btnSave) and
// "&Cancel" (btnCancel), in the order of the desktop's style. The caller
// connects the buttons.
QDialogButtonBox *NewSaveCancelButtons(QWidget *parent, QPushButton *&btnSave, QPushButton *&btnCancel);

// The archive encryption choice that goes with a zip password: a drop-down
// list of "AES-256" (selected) and "Traditional (weak, for Windows
// Explorer)", and a wrapped line saying who can open each. Both are enabled
// only while the password edit holds a password: without one nothing is
// encrypted.
QComboBox *NewEncryptionBox(QWidget *parent, const QString &sName, QLineEdit *password);
QLabel *NewEncryptionNote(QWidget *parent, const QString &sName, QLineEdit *password);
TZipEncryption EncryptionChoice(const QComboBox *combo);
void SetEncryptionChoice(QComboBox *combo, TZipEncryption eEncryption);
// The texts of the choice and of the line.
extern const QString kEncryptionAes256Text;
extern const QString kEncryptionTraditionalText;
extern const QString kEncryptionNote;

// Files dropped from a file manager onto a widget: the local paths of the drop
// are handed to the callback. With bFolderOnly, only a drop of one folder is
// taken. Other drops are left to the widget.
class TDropFilter : public QObject
{
    Q_OBJECT

public:
    using TCallback = std::function<void(const QStringList &oPaths)>;
    // Installs itself on the widget, which owns it.
    static TDropFilter *Install(QWidget *widget, bool bFolderOnly, TCallback onDrop);
    // The same for drops of any local files and folders.
    static TDropFilter *InstallFilesAndFolders(QWidget *widget, TCallback onDrop);
    // The local paths of a drop that this filter takes; empty when it does not.
    static QStringList DroppedPaths(const class QMimeData *mime, bool bFolderOnly);
    // The local paths of a drop of existing files and folders; empty otherwise.
    static QStringList FileAndFolderPaths(const class QMimeData *mime);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TDropFilter(QWidget *widget, bool bFolderOnly, TCallback onDrop);

    QStringList Taken(const class QMimeData *mime) const;

    bool FFolderOnly = false;
    bool FFilesAndFolders = false;
    TCallback FOnDrop;
};

// The base of every dialog: restores its position when shown and stores it
// when hidden (by objectName), and opens its help topic on F1.
class TBaseDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TBaseDialog(QWidget *parent = nullptr);

    // The help topic F1 opens; HelpContext() unless a window overrides it.
    virtual int HelpTopic() const { return FHelpContext; }
    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int iContext) { FHelpContext = iContext; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int FHelpContext = 0;
};
