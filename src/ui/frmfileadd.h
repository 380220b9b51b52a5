#pragma once

#include "ui/windowkit.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TProject;
class TLinkLabel;
class TWildcardCounter;

// The "Add files" dialog of the project editor: adds chosen files as
// single-file entries, or a folder and a mask as one wildcard entry, whose
// match count shows while the user types. "Add" stores and closes; "Add
// another" stores, puts the new files into the project at once and stays.
class TfrmFileAdd : public TBaseDialog
{
    Q_OBJECT

public:
    // The project must outlive the dialog.
    explicit TfrmFileAdd(TProject *oProject, QWidget *parent = nullptr);
    ~TfrmFileAdd() override;

    // Shows the dialog modally; the id of the first entry stored by the
    // closing "Add", 0 when it was cancelled. The caller passes a positive id
    // to the project's FileAdd.
    static int Execute(TProject *oProject, QWidget *parent = nullptr);

    // The id of the first entry stored by "Add"; 0 until then.
    int ResultID() const { return FResultID; }
    // The last match count of the wildcard entry in the fields.
    int FolderCount() const { return FFolderCount; }
    // Whether the count of the text now in the fields is still being taken.
    bool Counting() const;
    // The pause after typing before the count starts (tests use 0).
    void SetCountDelay(int iMsecs);

    // Stores the entry the fields describe; the id of its first row, or 0
    // (with the error box) when the details are not valid.
    int Store();
    // The wildcard entry of the fields, empty when there is none or it is
    // not valid.
    QString WildcardEntry() const;

private:
    void FolderChange();
    void FolderCounted(const QString &sEntry, int iCount);
    void DataChange();
    void FileChange();
    void btnFileClick();
    void btnFolderClick();
    void btnAddClick();
    void btnAnotherClick();
    void FilesDropped(const QStringList &oPaths);
    QString AddFileFolder() const;

    TProject *FProject = nullptr;
    int FFolderCount = 0;
    int FResultID = 0;
    TWildcardCounter *FCounter = nullptr;

    QRadioButton *rbSingle = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *edFile = nullptr;
    QPushButton *btnFile = nullptr;
    QRadioButton *rbMultiple = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *edMask = nullptr;
    TLinkLabel *lblFolderCount = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *edFolder = nullptr;
    QPushButton *btnFolder = nullptr;
    QCheckBox *cbRecurse = nullptr;
    QLineEdit *edExclude = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnAnother = nullptr;
    QPushButton *btnCancel = nullptr;
};
