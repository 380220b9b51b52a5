#pragma once

#include "ui/windowkit.h"

#include <QStyledItemDelegate>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TEntryCounts;
class TProject;
class TLinkLabel;

// Draws a row of the project editor's file list: its text, and in the
// "Added files" view the entry's file count right-aligned.
class TFileRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // Item data: the stored entry id, and the count text ("" while counting
    // or in the "All files" view).
    static constexpr int IDRole = Qt::UserRole;
    static constexpr int CountRole = Qt::UserRole + 1;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// The dialog that creates or edits a project: its name, kind and project file,
// its file entries and its send tasks. Entries and tasks are stored at once; a
// new project is stored as soon as the user leaves the Project page, so that
// they can refer to it. Save stores the name.
class TfrmProjectEditor : public TBaseDialog
{
    Q_OBJECT

public:
    // oProject is the project to edit, or null for a new one.
    explicit TfrmProjectEditor(TProject *oProject, QWidget *parent = nullptr);
    ~TfrmProjectEditor() override;

    // Edits a listed project; true when saved. Title and counts of the
    // object are current afterwards, also when the user cancelled.
    static bool Execute(TProject *oProject, QWidget *parent = nullptr);
    // Creates a project; true when saved. oCreated receives the project
    // whenever it was stored, also when the user cancelled afterwards (the
    // row stays in the database, so the caller must list it).
    static bool ExecuteNew(std::unique_ptr<TProject> &oCreated, QWidget *parent = nullptr);

    // The project object: the one given, or the one the store step made.
    TProject *Project() const { return FProject; }
    // Takes the object the store step made; null when there is none.
    std::unique_ptr<TProject> TakeCreated();

    // Whether the file counts of the "Added files" view are still coming.
    bool Counting() const;
    // Whether the list shows the stored entries (else the project's files).
    bool ShowingAdded() const { return FShowingAdded; }

    // The page check: whether the Files and Send pages may show.
    bool PagesAllowed() const;
    // A new project's title that another project already has.
    bool TitleTaken() const;
    // Runs the store step: a new project is inserted and parsed, an existing
    // one gets the title as typed.
    void StoreProject();
    // Adds dropped files as single-file entries and folders as recursive
    // entries of every file in them; shows the "Added files" view.
    void AddDropped(const QStringList &oPaths);

    // Help topics by page: project, files, send.
    int HelpTopic() const override;

    // Mainly for tests.
    void ShowAllFiles();
    void ShowAddedFiles();
    void LoadSendTasks();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *BuildProjectPage();
    QWidget *BuildFilesPage();
    QWidget *BuildSendPage();
    void Prepare();
    void rbTypeClick();
    void ProjectChange();
    void btnFileClick();
    void PageChanged(int iIndex);
    void btnSaveClick();
    void lblFileAddClick();
    void lblFileDeleteClick();
    void FileSelectionChanged();
    void SendSelectionChanged();
    void EditSendTask(int iMethodID);
    void lblSendDeleteClick();
    void EntryCounted(int iIndex, int iCount);
    void ShowParseError();
    void SetCaption();
    void FinishEditing();

    TProject *FProject = nullptr;
    std::unique_ptr<TProject> FCreated;
    bool FShowingAdded = false;
    bool FFinished = false;
    TEntryCounts *FCounts = nullptr;

    QTabWidget *pgProject = nullptr;
    QWidget *tabProject = nullptr;
    QWidget *tabFiles = nullptr;
    QWidget *tabSend = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *edTitle = nullptr;
    QLabel *lblTitleTaken = nullptr;
    QLabel *Label2 = nullptr;
    QRadioButton *rbDelphi = nullptr;
    QRadioButton *rbOther = nullptr;
    QLabel *lblFile = nullptr;
    QLineEdit *edFile = nullptr;
    QPushButton *btnFile = nullptr;
    QLabel *lblEditedCaption = nullptr;
    QLabel *lblEdited = nullptr;
    QLabel *Label3 = nullptr;
    TLinkLabel *lblFilesAll = nullptr;
    TLinkLabel *lblFilesAdded = nullptr;
    QLabel *lblFiles = nullptr;
    TLinkLabel *lblFileAdd = nullptr;
    TLinkLabel *lblFileDelete = nullptr;
    QLabel *lblFileCount = nullptr;
    QLabel *lblParseError = nullptr;
    QListWidget *listFiles = nullptr;
    QLabel *Label5 = nullptr;
    TLinkLabel *lblSendAdd = nullptr;
    TLinkLabel *lblSendDelete = nullptr;
    TLinkLabel *lblSendEdit = nullptr;
    QListWidget *listMethods = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;
};
