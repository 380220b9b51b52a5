#pragma once

#include "projects/projectlist.h"

#include <QHash>
#include <QMainWindow>
#include <QStyledItemDelegate>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QTimer;
class TProject;
class TLinkLabel;
class TProjectStatusJob;
struct TLastDelivery;
struct TProjectStatusBatch;

// Draws a project row: check box (none for a project that cannot be
// delivered), title, and the file and change counts right-aligned in the
// row; a project whose parse met errors carries a warning mark.
class TProjectDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // Item data besides the check state: the project object, whether the
    // project can be delivered, and the parse error text.
    static constexpr int ProjectRole = Qt::UserRole;
    static constexpr int UsableRole = Qt::UserRole + 1;
    static constexpr int ErrorRole = Qt::UserRole + 2;
    // The last delivery as the row shows it ("Sent 2026-12-09", "Failed
    // ...", "Never sent") and whether it failed.
    static constexpr int LastRole = Qt::UserRole + 3;
    static constexpr int LastFailedRole = Qt::UserRole + 4;
    // Why a project cannot be delivered ("No files and no send tasks"); empty when it can.
    static constexpr int ReasonRole = Qt::UserRole + 5;
    // Whether the project's counts are known (they arrive after the rows).
    static constexpr int CountedRole = Qt::UserRole + 6;

    // The tooltip of a row: the whole title when the row cuts it short, why
    // the project is greyed, and what its parse met; empty when none applies.
    static QString ToolTipText(const QStyleOptionViewItem &option, const QModelIndex &index);

    // Where the counts and the mark go, so that tests can check the layout.
    struct TRowLayout
    {
        QRect check, mark, title, last, files, changes;
    };
    // The count texts of a row: "1 file", "12 files", "0 changes".
    static QString FilesText(const TProject *oProject);
    static QString ChangesText(const TProject *oProject);
    static TRowLayout Layout(const QStyleOptionViewItem &option, const QModelIndex &index);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
};

// The main window: every project as a line of a check list with its counts;
// "Zip and deliver" delivers the checked ones. Projects are added, edited and
// deleted from the Projects menu (and by keyboard and double-click); an empty
// database shows a start panel. Closing it ends the program.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Whether the first fill of the list has run: every row there with its
    // counts.
    bool Filled() const { return FFilled; }
    // Whether the rows are there; their counts may still be on the way.
    bool Listed() const { return FListed; }
    // The list's projects, in list order.
    TProjectList &Projects() { return FProjects; }
    // The project of a row; null when there is no such row.
    TProject *ProjectAt(int iRow) const;
    int RowOf(const TProject *oProject) const;

    // The actions, also for tests.
    void FillList();
    void AddProject();
    void EditProject();
    void DeleteProject();
    void SelectAll(bool bChecked);
    void Generate();
    // Asks for files and opens quick send with them.
    void QuickSend();
    // Opens quick send with these files once the current event is over
    // (dropped files, files picked or named on the command line).
    void QuickSendFiles(const QStringList &oPaths);
    void UpdateStates();
    // Shows only the projects whose title contains the text (any case).
    void FilterList(const QString &sText);
    // The last delivery text of a project, as its row shows it.
    static QString LastDeliveryText(const TProject *oProject, bool &bFailed);
    static QString LastDeliveryText(const TLastDelivery &oLast, bool &bFailed);

    // Another start of the program handed over: comes to the front and
    // opens quick send with the files it named, if any.
    void HandedOver(const QStringList &oPaths);

    // The support message to sAddress: the dialog when e-mail is set up;
    // otherwise the address on the clipboard and, on request, the desktop's
    // mail program. Nothing for an empty address.
    static void EmailSupport(QWidget *parent, const QString &sAddress);

    // Help topics of the help menu.
    static constexpr int kHelpTopic = 16;
    static constexpr int kContentsTopic = 2;
    static constexpr int kLicenseTopic = 13;

Q_SIGNALS:
    // The first fill is complete (Filled()).
    void filled();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildMenus();
    QWidget *BuildStartPanel(QWidget *parent);
    void CheckStartPanel();
    void CentreStartPanel();
    void HideStartPanel();
    void mmProjectsPopup();
    void ParseComplete(TProject *oProject);
    QListWidgetItem *AppendItem(TProject *oProject, int iIndex);
    // The row's flags, check and texts from the project at iIndex (-1: look
    // it up); pLast: its last delivery, read here when not given.
    void ApplyRules(QListWidgetItem *item, int iIndex = -1, const TLastDelivery *pLast = nullptr);
    // Takes the projects a worker parsed into the list and their rows.
    void StatusFound(const std::shared_ptr<TProjectStatusBatch> &oBatch);
    void FillDone();
    // Parses the project at iIndex now unless the worker already delivered it.
    void EnsureParsed(int iIndex);
    QListWidgetItem *SelectedItem() const;
    void ItemChanged(QListWidgetItem *item);

    TProjectList FProjects;
    TProjectStatusJob *FStatus = nullptr;
    QHash<int, QListWidgetItem *> FRows; // by project id
    bool FListed = false;
    bool FFilled = false;
    bool FStartDone = false;
    bool FSettingChecks = false;

    QLineEdit *edFilter = nullptr;
    QListWidget *listProjects = nullptr;
    QLabel *lblSelect = nullptr;
    TLinkLabel *lblSelectAll = nullptr;
    TLinkLabel *lblSelectNone = nullptr;
    QPushButton *btnGenerate = nullptr;
    QPushButton *btnQuick = nullptr;
    QPushButton *btnExit = nullptr;
    QWidget *pnlStart = nullptr;
    QTimer *tmProjects = nullptr;
    QMenu *mmProjects = nullptr;
    QMenu *mmOptions = nullptr;
    QMenu *mmHelp = nullptr;
    QAction *mmProjectsAdd = nullptr;
    QAction *mmProjectsDelete = nullptr;
    QAction *mmProjectsEdit = nullptr;
    QAction *mmProjectsQuick = nullptr;
    QAction *mmExit = nullptr;
    QAction *mmLog = nullptr;
    QAction *mmSettings = nullptr;
    QAction *mmAbout = nullptr;
    QAction *mmContents = nullptr;
    QAction *mmHelpEmail = nullptr;
    QAction *mmHelpLicense = nullptr;
};
