#include "ui/frmprojecteditor.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "core/winutils.h"
#include "delivery/sendtask.h"
#include "projects/entrycounts.h"
#include "projects/fileentries.h"
#include "projects/project.h"
#include "projects/projectdelphi.h"
#include "projects/projectstore.h"
#include "ui/busycursor.h"
#include "ui/colours.h"
#include "ui/dialogs.h"
#include "ui/frmfileadd.h"
#include "ui/frmsendeditor.h"
#include "ui/linklabel.h"
#include "ui/shellutils.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kCaption = QStringLiteral("Project editor");

const QString kHintTitle = QStringLiteral("Project name|Name the project anything you like.");
const QString kHintDelphi = QStringLiteral(
    "Delphi|Select a .dpr file as the Project file and Bundlewick\r\nwill parse all its dependencies.\r\n");
const QString kHintOther
    = QStringLiteral("Generic|There may be no parsable project file, but you can\r\nselect files - including "
                     "wildcard matches - on the \r\nFiles tab.\r\n");
const QString kHintFile = QStringLiteral(
    "Project file|The project file, or entry file, is documented\r\nin the zip file. It provides the "
    "recipient "
    "with a place to\r\nstart. For supported project types this file will be parsed\r\nto populate the file "
    "list.\r\n");
const QString kHintFilesAll = QStringLiteral("All files|All the files in this project, including "
                                             "an\r\nexpanded list of any wild-card files entered in "
                                             "the\r\nAdd File dialog.\r\n");
const QString kHintFilesAdded = QStringLiteral(
    "Added files|Files added manually to this project rather than \r\nbeing parsed from the project file "
    "itself. Wild card \r\nentries are not shown as expanded in this list.\r\n");
const QString kHintFileAdd = QStringLiteral("Add|Add a new file or files to this project.");
const QString kHintFileDelete = QStringLiteral("Delete|Delete the selected file or files from this project.");
const QString kHintSendAdd = QStringLiteral("Add|Add a new send task to this project.");
const QString kHintSendDelete = QStringLiteral("Delete|Delete the selected send task from this project.");
const QString kHintSendEdit = QStringLiteral("Edit|Edit the selected send task.");

enum { kPageProject = 0, kPageFiles = 1, kPageSend = 2 };

TLinkLabel *Link(const QString &sName, const QString &sText, const QString &sHint, QWidget *parent)
{
    auto *label = new TLinkLabel(sText, parent);
    label->setObjectName(sName);
    THints::SetHint(label, sHint, kProjectEditorHintTime);
    return label;
}

QLabel *Plain(const QString &sName, const QString &sText, QWidget *parent)
{
    auto *label = new QLabel(sText, parent);
    label->setObjectName(sName);
    return label;
}

} // namespace

// --- TFileRowDelegate -----------------------------------------------------

void TFileRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString sCount = index.data(CountRole).toString();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // Background and focus as the style draws them, the texts by hand.
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const bool bSelected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group
        = option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    painter->save();
    painter->setPen(option.palette.color(group, bSelected ? QPalette::HighlightedText : QPalette::Text));
    const QRect r = option.rect;
    int iRight = r.right() - 4;
    if (!sCount.isEmpty()) {
        const int iWidth = option.fontMetrics.horizontalAdvance(sCount);
        painter->drawText(QRect(iRight - iWidth, r.top() + 1, iWidth, r.height() - 1),
                          Qt::AlignRight | Qt::AlignVCenter, sCount);
        iRight -= iWidth + 16;
    }
    const QRect textRect(r.left() + 2, r.top(), qMax(0, iRight - r.left() - 2), r.height());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                    textRect.width()));
    painter->restore();
}

QSize TFileRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // One line of text with a little air; never less than the original 13 pixels.
    Q_UNUSED(index);
    return QSize(option.rect.width(), qMax(13, option.fontMetrics.height() + 2));
}

// --- TfrmProjectEditor ----------------------------------------------------

TfrmProjectEditor::TfrmProjectEditor(TProject *oProject, QWidget *parent)
    : TBaseDialog(parent)
    , FProject(oProject)
{
    setObjectName(QStringLiteral("frmProjectEditor"));
    setWindowTitle(kCaption);
    SetHelpContext(17);
    setMinimumSize(400, 400);
    resize(708, 600);

    FCounts = new TEntryCounts(this);
    connect(FCounts, &TEntryCounts::counted, this, &TfrmProjectEditor::EntryCounted);

    pgProject = new QTabWidget(this);
    pgProject->setObjectName(QStringLiteral("pgProject"));
    pgProject->setStyleSheet(QStringLiteral("QTabBar::tab { min-width: 100px; }"));
    tabProject = BuildProjectPage();
    tabFiles = BuildFilesPage();
    tabSend = BuildSendPage();
    pgProject->addTab(tabProject, QStringLiteral("&Project"));
    pgProject->addTab(tabFiles, QStringLiteral("&Files"));
    pgProject->addTab(tabSend, QStringLiteral("S&end"));

    QDialogButtonBox *buttons = NewSaveCancelButtons(this, btnSave, btnCancel);

    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addWidget(pgProject, 1);
    main->addWidget(buttons);

    connect(btnSave, &QPushButton::clicked, this, &TfrmProjectEditor::btnSaveClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProjectEditor::reject);
    connect(pgProject, &QTabWidget::currentChanged, this, &TfrmProjectEditor::PageChanged);
    // The dialog closes either way; the project object must be current then.
    connect(this, &QDialog::finished, this, &TfrmProjectEditor::FinishEditing);

    Prepare();
}

TfrmProjectEditor::~TfrmProjectEditor() = default;

QWidget *TfrmProjectEditor::BuildProjectPage()
{
    auto *page = new QWidget();
    page->setObjectName(QStringLiteral("tabProject"));

    edTitle = new QLineEdit(page);
    edTitle->setObjectName(QStringLiteral("edTitle"));
    THints::SetHint(edTitle, kHintTitle, kProjectEditorHintTime);
    Label1 = BuddyLabel(QStringLiteral("Project &name"), edTitle, page);
    // Says why the Files and Send pages stay hidden for a title in use.
    lblTitleTaken = new QLabel(QStringLiteral("This title is taken: another project has it."), page);
    lblTitleTaken->setObjectName(QStringLiteral("lblTitleTaken"));
    {
        QPalette warn = lblTitleTaken->palette();
        warn.setColor(QPalette::WindowText, StatusColour(false, warn, QPalette::Window));
        lblTitleTaken->setPalette(warn);
    }
    lblTitleTaken->setVisible(false);
    Label1->setObjectName(QStringLiteral("Label1"));

    Label2 = Plain(QStringLiteral("Label2"), QStringLiteral("Project type"), page);
    Label2->setVisible(false);
    rbDelphi = new QRadioButton(QStringLiteral("&Delphi"), page);
    rbDelphi->setObjectName(QStringLiteral("rbDelphi"));
    THints::SetHint(rbDelphi, kHintDelphi, kProjectEditorHintTime);
    rbOther = new QRadioButton(QStringLiteral("&Generic"), page);
    rbOther->setObjectName(QStringLiteral("rbOther"));
    THints::SetHint(rbOther, kHintOther, kProjectEditorHintTime);
    rbOther->setChecked(true);
    auto *kinds = new QButtonGroup(page);
    kinds->addButton(rbDelphi);
    kinds->addButton(rbOther);

    edFile = new QLineEdit(page);
    edFile->setObjectName(QStringLiteral("edFile"));
    edFile->setEnabled(false);
    THints::SetHint(edFile, kHintFile, kProjectEditorHintTime);
    lblFile = BuddyLabel(QStringLiteral("Project &file"), edFile, page);
    lblFile->setObjectName(QStringLiteral("lblFile"));
    lblFile->setEnabled(false);
    btnFile = new QPushButton(QStringLiteral("..."), page);
    btnFile->setObjectName(QStringLiteral("btnFile"));
    btnFile->setAccessibleName(QStringLiteral("Choose project file"));
    btnFile->setAutoDefault(false);
    btnFile->setEnabled(false);
    btnFile->setFixedWidth(qMax(btnFile->fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3,
                                edFile->sizeHint().height()));

    lblEditedCaption = Plain(QStringLiteral("lblEditedCaption"), QStringLiteral("Last edited"), page);
    lblEdited = Plain(QStringLiteral("lblEdited"), QString(), page);
    lblEdited->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *kindRow = new QHBoxLayout();
    kindRow->setSpacing(kFormMargin);
    kindRow->addWidget(rbOther);
    kindRow->addWidget(rbDelphi);
    kindRow->addStretch(1);

    auto *fileRow = new QHBoxLayout();
    fileRow->setSpacing(kFormMargin / 2);
    fileRow->addWidget(edFile, 1);
    fileRow->addWidget(btnFile);

    auto *editedRow = new QHBoxLayout();
    editedRow->setSpacing(kFormMargin / 2);
    editedRow->addWidget(lblEditedCaption);
    editedRow->addWidget(lblEdited, 1);

    auto *layout = new QVBoxLayout(page);
    SetFormMargins(layout);
    layout->addLayout(LabelledInput(Label1, edTitle));
    layout->addWidget(lblTitleTaken);
    layout->addWidget(Label2);
    layout->addLayout(kindRow);
    layout->addLayout(LabelledInput(lblFile, fileRow));
    layout->addLayout(editedRow);
    layout->addStretch(1);

    connect(rbDelphi, &QRadioButton::clicked, this, &TfrmProjectEditor::rbTypeClick);
    connect(rbOther, &QRadioButton::clicked, this, &TfrmProjectEditor::rbTypeClick);
    connect(edTitle, &QLineEdit::textChanged, this, &TfrmProjectEditor::ProjectChange);
    connect(edFile, &QLineEdit::textChanged, this, &TfrmProjectEditor::ProjectChange);
    connect(btnFile, &QPushButton::clicked, this, &TfrmProjectEditor::btnFileClick);
    return page;
}

QWidget *TfrmProjectEditor::BuildFilesPage()
{
    auto *page = new QWidget();
    page->setObjectName(QStringLiteral("tabFiles"));

    Label3 = Plain(QStringLiteral("Label3"), QStringLiteral("\u2022 Show"), page);
    lblFilesAll = Link(QStringLiteral("lblFilesAll"), QStringLiteral("All files"), kHintFilesAll, page);
    lblFilesAdded
        = Link(QStringLiteral("lblFilesAdded"), QStringLiteral("Added files"), kHintFilesAdded, page);
    lblFiles = Plain(QStringLiteral("lblFiles"), QStringLiteral("\u2022 Files"), page);
    lblFileAdd = Link(QStringLiteral("lblFileAdd"), QStringLiteral("Add"), kHintFileAdd, page);
    lblFileDelete = Link(QStringLiteral("lblFileDelete"), QStringLiteral("Delete"), kHintFileDelete, page);
    lblFileDelete->setEnabled(false);
    lblFileCount = Plain(QStringLiteral("lblFileCount"), Plural(QStringLiteral("file"), 0), page);
    lblFileCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // What the Delphi parse could not do; the list below holds what it found.
    lblParseError = Plain(QStringLiteral("lblParseError"), QString(), page);
    lblParseError->setWordWrap(true);
    lblParseError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblParseError->setVisible(false);

    listFiles = new QListWidget(page);
    listFiles->setObjectName(QStringLiteral("listFiles"));
    listFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listFiles->setUniformItemSizes(true);
    listFiles->setItemDelegate(new TFileRowDelegate(listFiles));
    listFiles->setAccessibleName(QStringLiteral("Files"));
    listFiles->installEventFilter(this);
    // A file manager's drop lands on the list's viewport.
    TDropFilter::InstallFilesAndFolders(listFiles->viewport(),
                                        [this](const QStringList &oPaths) { AddDropped(oPaths); });

    auto *links = new QHBoxLayout();
    links->setSpacing(kFormMargin / 2);
    links->addWidget(Label3);
    links->addWidget(lblFilesAll);
    links->addWidget(lblFilesAdded);
    links->addSpacing(kFormMargin);
    links->addWidget(lblFiles);
    links->addWidget(lblFileAdd);
    links->addWidget(lblFileDelete);
    links->addStretch(1);
    links->addWidget(lblFileCount);

    auto *layout = new QVBoxLayout(page);
    SetFormMargins(layout);
    layout->addLayout(links);
    layout->addWidget(lblParseError);
    layout->addWidget(listFiles, 1);

    connect(lblFilesAll, &TLinkLabel::clicked, this, &TfrmProjectEditor::ShowAllFiles);
    connect(lblFilesAdded, &TLinkLabel::clicked, this, &TfrmProjectEditor::ShowAddedFiles);
    connect(lblFileAdd, &TLinkLabel::clicked, this, &TfrmProjectEditor::lblFileAddClick);
    connect(lblFileDelete, &TLinkLabel::clicked, this, &TfrmProjectEditor::lblFileDeleteClick);
    connect(listFiles, &QListWidget::itemSelectionChanged, this, &TfrmProjectEditor::FileSelectionChanged);
    connect(listFiles, &QListWidget::currentRowChanged, this, &TfrmProjectEditor::FileSelectionChanged);
    return page;
}

QWidget *TfrmProjectEditor::BuildSendPage()
{
    auto *page = new QWidget();
    page->setObjectName(QStringLiteral("tabSend"));

    Label5 = Plain(QStringLiteral("Label5"), QStringLiteral("Send method"), page);
    lblSendAdd = Link(QStringLiteral("lblSendAdd"), QStringLiteral("Add"), kHintSendAdd, page);
    lblSendAdd->setEnabled(false);
    lblSendDelete = Link(QStringLiteral("lblSendDelete"), QStringLiteral("Delete"), kHintSendDelete, page);
    lblSendDelete->setEnabled(false);
    lblSendEdit = Link(QStringLiteral("lblSendEdit"), QStringLiteral("Edit"), kHintSendEdit, page);
    lblSendEdit->setEnabled(false);
    listMethods = new QListWidget(page);
    listMethods->setObjectName(QStringLiteral("listMethods"));
    listMethods->setAccessibleName(QStringLiteral("Send methods"));
    listMethods->installEventFilter(this);

    auto *links = new QHBoxLayout();
    links->setSpacing(kFormMargin / 2);
    links->addWidget(Label5);
    links->addWidget(lblSendAdd);
    links->addWidget(lblSendEdit);
    links->addWidget(lblSendDelete);
    links->addStretch(1);

    auto *layout = new QVBoxLayout(page);
    SetFormMargins(layout);
    layout->addLayout(links);
    layout->addWidget(listMethods, 1);

    // "Add" always starts an empty task; only "Edit" and a double-click
    // open the selected one.
    connect(lblSendAdd, &TLinkLabel::clicked, this, [this] { EditSendTask(0); });
    connect(lblSendEdit, &TLinkLabel::clicked, this, [this] {
        if (QListWidgetItem *item = listMethods->currentItem(); item && item->isSelected())
            EditSendTask(item->data(Qt::UserRole).toInt());
    });
    connect(listMethods, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *item) { EditSendTask(item->data(Qt::UserRole).toInt()); });
    connect(lblSendDelete, &TLinkLabel::clicked, this, &TfrmProjectEditor::lblSendDeleteClick);
    connect(listMethods, &QListWidget::itemSelectionChanged, this, &TfrmProjectEditor::SendSelectionChanged);
    return page;
}

void TfrmProjectEditor::Prepare()
{
    if (FProject) {
        (FProject->Kind() == pkDelphi ? rbDelphi : rbOther)->setChecked(true);
        edTitle->setText(FProject->Title());
        edFile->setText(FProject->ProjectFile());
        lblEdited->setText(TProjectStore::Modified(FProject->ProjectID()));
        edFile->setReadOnly(true);
        btnFile->setEnabled(false);
        rbOther->setEnabled(false);
        rbDelphi->setEnabled(false);
        lblFile->setEnabled(FProject->Kind() == pkDelphi);
        edFile->setEnabled(FProject->Kind() == pkDelphi);
        ShowAllFiles();
        SetCaption();
        LoadSendTasks();
        ProjectChange();
    } else {
        setWindowTitle(kCaption + QStringLiteral(" :: New project"));
        lblEditedCaption->setVisible(false);
        lblEdited->setVisible(false);
        pgProject->setTabVisible(kPageFiles, false);
        pgProject->setTabVisible(kPageSend, false);
    }
}

void TfrmProjectEditor::showEvent(QShowEvent *event)
{
    TBaseDialog::showEvent(event);
    pgProject->setCurrentIndex(kPageProject);
    edTitle->setFocus(Qt::OtherFocusReason);
}

int TfrmProjectEditor::HelpTopic() const
{
    switch (pgProject->currentIndex()) {
    case kPageFiles:
        return 28;
    case kPageSend:
        return 29;
    default:
        return 27;
    }
}

bool TfrmProjectEditor::Execute(TProject *oProject, QWidget *parent)
{
    TfrmProjectEditor frm(oProject, parent);
    return frm.exec() == QDialog::Accepted;
}

bool TfrmProjectEditor::ExecuteNew(std::unique_ptr<TProject> &oCreated, QWidget *parent)
{
    TfrmProjectEditor frm(nullptr, parent);
    const bool bSaved = frm.exec() == QDialog::Accepted;
    oCreated = frm.TakeCreated();
    return bSaved && oCreated;
}

std::unique_ptr<TProject> TfrmProjectEditor::TakeCreated()
{
    if (FCreated.get() == FProject)
        FProject = nullptr;
    return std::move(FCreated);
}

bool TfrmProjectEditor::Counting() const
{
    return FCounts->Busy();
}

void TfrmProjectEditor::SetCaption()
{
    setWindowTitle(kCaption + QStringLiteral(" :: ") + (FProject ? FProject->Title() : edTitle->text()));
}

// --- Project page -----------------------------------------------------------

void TfrmProjectEditor::rbTypeClick()
{
    const bool bDelphi = rbDelphi->isChecked();
    lblFile->setEnabled(bDelphi);
    edFile->setEnabled(bDelphi);
    btnFile->setEnabled(bDelphi && !FProject);
    ProjectChange();
}

bool TfrmProjectEditor::TitleTaken() const
{
    const QString sTitle = edTitle->text().trimmed();
    return !FProject && !sTitle.isEmpty() && TProjectStore::TitleTaken(sTitle);
}

bool TfrmProjectEditor::PagesAllowed() const
{
    const QString sTitle = edTitle->text().trimmed();
    if (sTitle.isEmpty())
        return false;
    if (TitleTaken())
        return false;
    if (rbDelphi->isChecked() && !QFileInfo(edFile->text()).isFile())
        return false;
    return true;
}

void TfrmProjectEditor::ProjectChange()
{
    const bool bAllowed = PagesAllowed();
    lblTitleTaken->setVisible(TitleTaken());
    pgProject->setTabVisible(kPageFiles, bAllowed);
    pgProject->setTabVisible(kPageSend, bAllowed);
}

void TfrmProjectEditor::btnFileClick()
{
    const QString sFile
        = TDialogs::OpenFileName(this, QStringLiteral("Project file"), Param::ProjectPath.Get(),
                                 QStringLiteral("Delphi projects (*.dpr);;All files (*)"));
    if (sFile.isEmpty())
        return;
    Param::ProjectPath.Set(QFileInfo(sFile).absolutePath());
    edFile->setText(QDir::cleanPath(QFileInfo(sFile).absoluteFilePath()));
}

void TfrmProjectEditor::PageChanged(int iIndex)
{
    // Leaving the Project page stores a new project, so that entries and
    // tasks can refer to it.
    if (iIndex != kPageProject && !FProject && !edTitle->text().trimmed().isEmpty())
        StoreProject();
    if (iIndex == kPageSend)
        lblSendAdd->setEnabled(FProject != nullptr);
}

void TfrmProjectEditor::StoreProject()
{
    const QString sTitle = edTitle->text();
    if (FProject) {
        TProjectStore::Rename(FProject->ProjectID(), sTitle);
        FProject->SetTitle(sTitle);
        SetCaption();
        return;
    }
    const int iKind = rbDelphi->isChecked() ? pkDelphi : pkGeneric;
    // A typed path is stored absolute and without "." or "..", as a chosen one is.
    QString sFile = edFile->text().trimmed();
    if (!sFile.isEmpty())
        sFile = QDir::cleanPath(QFileInfo(sFile).absoluteFilePath());
    edFile->setText(sFile);
    const int iID = TProjectStore::Create(iKind, sTitle, sFile);
    FCreated = CreateProject(iKind, iID, sTitle, iKind == pkDelphi ? sFile : QString(),
                             [this](TProject *) { ShowAllFiles(); });
    FProject = FCreated.get();
    // The kind and the project file are fixed from now on.
    edFile->setReadOnly(true);
    btnFile->setEnabled(false);
    rbOther->setEnabled(false);
    rbDelphi->setEnabled(false);
    lblEditedCaption->setVisible(true);
    lblEdited->setVisible(true);
    lblEdited->setText(TProjectStore::Modified(iID));
    SetCaption();
    {
        TBusyCursor busy;
        FProject->Parse();
    }
    ProjectChange();
}

void TfrmProjectEditor::btnSaveClick()
{
    if (edTitle->text().trimmed().isEmpty())
        return;
    if (rbDelphi->isChecked() && !QFileInfo(edFile->text()).isFile())
        return;
    StoreProject();
    accept();
}

void TfrmProjectEditor::FinishEditing()
{
    if (FFinished)
        return;
    FFinished = true;
    FCounts->Cancel();
    // The main window draws the counts of the object: entries added or
    // deleted here change them.
    if (FProject)
        FProject->Recount();
}

// --- Files page -------------------------------------------------------------

void TfrmProjectEditor::ShowParseError()
{
    const auto *delphi = dynamic_cast<const TProjectDelphi *>(FProject);
    const QString sError = delphi ? delphi->ParseError() : QString();
    lblParseError->setText(sError.isEmpty()
                               ? QString()
                               : QStringLiteral("The project file could not be parsed completely; the list "
                                                "shows what was found.\n")
                                   + sError);
    lblParseError->setVisible(!sError.isEmpty());
}

void TfrmProjectEditor::ShowAllFiles()
{
    FCounts->Cancel();
    FShowingAdded = false;
    listFiles->clear();
    if (FProject) {
        listFiles->setUpdatesEnabled(false);
        for (const QString &sPath : FProject->FilePaths()) {
            auto *item = new QListWidgetItem(sPath, listFiles);
            item->setData(TFileRowDelegate::IDRole, 0);
        }
        listFiles->setUpdatesEnabled(true);
    }
    lblFileCount->setText(Plural(QStringLiteral("file"), listFiles->count()));
    lblFilesAll->setEnabled(false);
    lblFilesAdded->setEnabled(true);
    ShowParseError();
    FileSelectionChanged();
}

void TfrmProjectEditor::ShowAddedFiles()
{
    FCounts->Cancel();
    FShowingAdded = true;
    listFiles->clear();
    QStringList entries;
    if (FProject) {
        for (const TFileRow &row : TProjectStore::Files(FProject->ProjectID())) {
            auto *item = new QListWidgetItem(row.FileName, listFiles);
            item->setData(TFileRowDelegate::IDRole, row.ID);
            item->setData(TFileRowDelegate::CountRole, QStringLiteral("\u2026"));
            entries.append(item->text());
        }
    }
    lblFileCount->setText(Plural(QStringLiteral("addition"), listFiles->count()));
    lblFilesAll->setEnabled(true);
    lblFilesAdded->setEnabled(false);
    FileSelectionChanged();
    // Each entry is counted once per fill, on a worker.
    FCounts->Request(entries);
}

void TfrmProjectEditor::EntryCounted(int iIndex, int iCount)
{
    if (!FShowingAdded)
        return;
    if (QListWidgetItem *item = listFiles->item(iIndex))
        item->setData(TFileRowDelegate::CountRole, Plural(QStringLiteral("file"), iCount));
}

void TfrmProjectEditor::FileSelectionChanged()
{
    const QListWidgetItem *item = listFiles->currentItem();
    lblFileDelete->setEnabled(item && item->data(TFileRowDelegate::IDRole).toInt() > 0);
}

void TfrmProjectEditor::lblFileAddClick()
{
    if (!FProject)
        return;
    const int id = TfrmFileAdd::Execute(FProject, this);
    if (id > 0)
        FProject->FileAdd(id);
    ShowAddedFiles();
}

void TfrmProjectEditor::AddDropped(const QStringList &oPaths)
{
    if (!FProject)
        return;
    const QStringList present = FProject->FilePaths();
    const QSet<QString> known(present.cbegin(), present.cend());
    // The same drop twice adds nothing new.
    int iFirst = 0;
    for (const QString &sDropped : oPaths) {
        const QFileInfo info(sDropped);
        const QString sPath = QDir::cleanPath(info.absoluteFilePath());
        QString sEntry;
        if (info.isDir())
            sEntry = BuildWildcardEntry({ sPath, QStringLiteral("*"), true, QString() }, *FProject);
        else if (info.isFile() && !known.contains(sPath))
            sEntry = sPath;
        if (sEntry.isEmpty() || TProjectStore::HasFile(FProject->ProjectID(), sEntry))
            continue;
        const int id = StoreFileEntry(FProject->ProjectID(), sEntry);
        if (iFirst == 0)
            iFirst = id;
    }
    if (iFirst > 0)
        FProject->FileAdd(iFirst);
    ShowAddedFiles();
}

bool TfrmProjectEditor::eventFilter(QObject *watched, QEvent *event)
{
    // Return and F2 open the selected item, Delete deletes it; Return must
    // not reach the dialog, where it would save and close the editor.
    if ((watched == listFiles || watched == listMethods) && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool bOpen
            = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_F2;
        const bool bDelete = key->key() == Qt::Key_Delete;
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (watched == listMethods && bOpen) {
                if (QListWidgetItem *item = listMethods->currentItem(); item && item->isSelected())
                    EditSendTask(item->data(Qt::UserRole).toInt());
                return true;
            }
            if (watched == listMethods && bDelete) {
                lblSendDeleteClick();
                return true;
            }
            if (watched == listFiles && bOpen) {
                // A file entry has no editor of its own: open the file (or
                // the folder) with the desktop's program for it.
                if (QListWidgetItem *item = listFiles->currentItem(); item && item->isSelected()) {
                    const QFileInfo info(item->text());
                    if (info.isAbsolute() && info.exists())
                        OpenDocument(info.absoluteFilePath());
                }
                return true;
            }
            if (watched == listFiles && bDelete) {
                if (lblFileDelete->isEnabled())
                    lblFileDeleteClick();
                return true;
            }
        }
    }
    return TBaseDialog::eventFilter(watched, event);
}

void TfrmProjectEditor::lblFileDeleteClick()
{
    const QList<QListWidgetItem *> selected = listFiles->selectedItems();
    if (selected.isEmpty())
        return;
    const QString sQuestion = selected.size() == 1
        ? QStringLiteral("Remove \"%1\" from the project's files?").arg(selected.front()->text())
        : QStringLiteral("Remove these %1 entries from the project's files?").arg(selected.size());
    if (!TDialogs::Confirm(this, windowTitle(), sQuestion))
        return;
    for (int i = listFiles->count() - 1; i >= 0; --i) {
        QListWidgetItem *item = listFiles->item(i);
        if (!item->isSelected())
            continue;
        const int id = item->data(TFileRowDelegate::IDRole).toInt();
        if (id > 0 && FProject)
            FProject->FileDelete(id);
        delete listFiles->takeItem(i);
    }
    // The counts still coming belong to rows that may be gone.
    if (FShowingAdded)
        FCounts->Cancel();
    lblFileCount->setText(
        Plural(FShowingAdded ? QStringLiteral("addition") : QStringLiteral("file"), listFiles->count()));
    FileSelectionChanged();
}

// --- Send page --------------------------------------------------------------

void TfrmProjectEditor::LoadSendTasks()
{
    listMethods->clear();
    if (!FProject)
        return;
    for (const TSendTask &task : TSendTask::LoadProject(FProject->ProjectID())) {
        const QString sText = task.ListText();
        if (sText.isEmpty())
            continue;
        auto *item = new QListWidgetItem(sText, listMethods);
        item->setData(Qt::UserRole, task.ID);
    }
    SendSelectionChanged();
}

void TfrmProjectEditor::SendSelectionChanged()
{
    const bool bSelected = !listMethods->selectedItems().isEmpty();
    lblSendDelete->setEnabled(bSelected);
    lblSendEdit->setEnabled(bSelected);
}

void TfrmProjectEditor::EditSendTask(int iMethodID)
{
    if (!FProject)
        return;
    if (TfrmSendEditor::Execute(iMethodID, FProject->ProjectID(), edTitle->text(), this))
        LoadSendTasks();
}

void TfrmProjectEditor::lblSendDeleteClick()
{
    QListWidgetItem *item = listMethods->currentItem();
    if (!item || !item->isSelected())
        return;
    if (!TDialogs::Confirm(this, windowTitle(),
                           QStringLiteral("Delete the send task \"%1\"?").arg(item->text())))
        return;
    const int id = item->data(Qt::UserRole).toInt();
    TSendTask::Delete(id);
    delete listMethods->takeItem(listMethods->row(item));
    SendSelectionChanged();
}
