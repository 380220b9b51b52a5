#include "ui/frmfileadd.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "core/winutils.h"
#include "projects/fileentries.h"
#include "projects/project.h"
#include "ui/dialogs.h"
#include "ui/linklabel.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kInvalid = QStringLiteral("These details are not valid. Please try again.");

const QString kHintFile = QStringLiteral(
    "Files|Select one or more files to add to this project. \r\nFiles added in this way will be individual "
    "entries in \r\nthe file list, and will have to be deleted and edited\r\nindividually.\r\n");
const QString kHintMask = QStringLiteral(
    "Mask|Enter the wild card mask to use when selecting files.\r\nFor example *.cpp. When you've entered a "
    "mask and selected\r\na folder, the current number of matching files will be \r\ndisplayed. This method "
    "adds a single wildcard entry to the\r\nproject, so any future files matching this mask will also\r\nbe "
    "included in subsequent zip files.\r\n\r\n ");
const QString kHintFolder
    = QStringLiteral("Folder|Select a folder to search for files matching the\r\nentered mask property.\r\n");
const QString kHintRecurse
    = QStringLiteral("Include subdirectories|Recursively add matching files from then\r\nselected folder and "
                     "all directories below it.\r\n");
const QString kHintExclude = QStringLiteral(
    "Exclude|List directories to exclude when recursively adding\r\nfiles; for example .svn or __history. "
    "Multiple \r\ndirectories should be separated by semi-colons.\r\n");

// Runs an action when the widget is clicked, leaving the click to it.
class TClickFilter : public QObject
{
public:
    TClickFilter(QWidget *widget, std::function<void()> onClick)
        : QObject(widget)
        , FOnClick(std::move(onClick))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease)
            FOnClick();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> FOnClick;
};

QPushButton *EllipsisButton(QWidget *parent, QLineEdit *edit)
{
    auto *button = new QPushButton(QStringLiteral("..."), parent);
    button->setAutoDefault(false);
    // As high as the edit beside it, a little wider than its text.
    const int iWidth = button->fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3;
    button->setFixedWidth(qMax(iWidth, edit->sizeHint().height()));
    return button;
}

} // namespace

TfrmFileAdd::TfrmFileAdd(TProject *oProject, QWidget *parent)
    : TBaseDialog(parent)
    , FProject(oProject)
{
    setObjectName(QStringLiteral("frmFileAdd"));
    setWindowTitle(QStringLiteral("Add files"));
    SetHelpContext(20);
    setSizeGripEnabled(false);

    FCounter = new TWildcardCounter(this);

    // The two choices stand out as headings.
    QFont headingFont = font();
    if (headingFont.pixelSize() > 0)
        headingFont.setPixelSize(qMax(16, headingFont.pixelSize() * 4 / 3));
    else
        headingFont.setPointSizeF(headingFont.pointSizeF() * 4 / 3);

    rbSingle = new QRadioButton(QStringLiteral("Add &selected files"), this);
    rbSingle->setObjectName(QStringLiteral("rbSingle"));
    rbSingle->setFont(headingFont);
    rbSingle->setChecked(true);

    edFile = new QLineEdit(this);
    edFile->setObjectName(QStringLiteral("edFile"));
    THints::SetHint(edFile, kHintFile);
    Label3 = BuddyLabel(QStringLiteral("&Files"), edFile, this);
    Label3->setObjectName(QStringLiteral("Label3"));
    btnFile = EllipsisButton(this, edFile);
    btnFile->setObjectName(QStringLiteral("btnFile"));
    btnFile->setAccessibleName(QStringLiteral("Choose files"));

    rbMultiple = new QRadioButton(QStringLiteral("Add all &matching files in a selected folder"), this);
    rbMultiple->setObjectName(QStringLiteral("rbMultiple"));
    rbMultiple->setFont(headingFont);

    edMask = new QLineEdit(this);
    edMask->setObjectName(QStringLiteral("edMask"));
    THints::SetHint(edMask, kHintMask);
    Label1 = BuddyLabel(QStringLiteral("Mas&k"), edMask, this);
    Label1->setObjectName(QStringLiteral("Label1"));

    lblFolderCount = new TLinkLabel(QStringLiteral("0 matching files"), this);
    lblFolderCount->setObjectName(QStringLiteral("lblFolderCount"));
    lblFolderCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblFolderCount->setCursor(Qt::ArrowCursor);
    // Shows a count and does nothing on a click: no stop for the Tab key.
    lblFolderCount->setFocusPolicy(Qt::NoFocus);
    // Room for a large count, so that the layout does not jump.
    lblFolderCount->setMinimumWidth(
        lblFolderCount->fontMetrics().horizontalAdvance(QStringLiteral("000000 matching files")));
    lblFolderCount->clear();

    edFolder = new QLineEdit(this);
    edFolder->setObjectName(QStringLiteral("edFolder"));
    THints::SetHint(edFolder, kHintFolder);
    Label2 = BuddyLabel(QStringLiteral("F&older"), edFolder, this);
    Label2->setObjectName(QStringLiteral("Label2"));
    btnFolder = EllipsisButton(this, edFolder);
    btnFolder->setObjectName(QStringLiteral("btnFolder"));
    btnFolder->setAccessibleName(QStringLiteral("Choose folder"));

    cbRecurse = new QCheckBox(QStringLiteral("Include su&bdirectories, excluding"), this);
    cbRecurse->setObjectName(QStringLiteral("cbRecurse"));
    THints::SetHint(cbRecurse, kHintRecurse);
    edExclude = new QLineEdit(this);
    edExclude->setObjectName(QStringLiteral("edExclude"));
    edExclude->setAccessibleName(QStringLiteral("Excluded subdirectories"));
    THints::SetHint(edExclude, kHintExclude);

    btnAdd = new QPushButton(QStringLiteral("&Add"), this);
    btnAdd->setObjectName(QStringLiteral("btnAdd"));
    btnAdd->setEnabled(false);
    btnAdd->setAutoDefault(false);
    btnAnother = new QPushButton(QStringLiteral("Add another"), this);
    btnAnother->setObjectName(QStringLiteral("btnAnother"));
    btnAnother->setEnabled(false);
    btnAnother->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);

    // Layout: each choice with its inputs indented below it.
    const int iIndent = 2 * kFormMargin;
    const int iLabelWidth
        = std::max({ Label1->sizeHint().width(), Label2->sizeHint().width(), Label3->sizeHint().width() });
    auto *grid = new QGridLayout();
    grid->setHorizontalSpacing(kFormMargin / 2);
    grid->setVerticalSpacing(kFormMargin / 2);
    grid->setColumnMinimumWidth(0, iIndent - grid->horizontalSpacing());
    grid->setColumnMinimumWidth(1, iLabelWidth);
    grid->setColumnStretch(2, 1);
    grid->addWidget(rbSingle, 0, 0, 1, 5);
    grid->addWidget(Label3, 1, 1);
    grid->addWidget(edFile, 1, 2, 1, 2);
    grid->addWidget(btnFile, 1, 4);
    grid->setRowMinimumHeight(2, kFormMargin / 2);
    grid->addWidget(rbMultiple, 3, 0, 1, 5);
    grid->addWidget(Label1, 4, 1);
    grid->addWidget(edMask, 4, 2);
    grid->addWidget(lblFolderCount, 4, 3, 1, 2);
    grid->addWidget(Label2, 5, 1);
    grid->addWidget(edFolder, 5, 2, 1, 2);
    grid->addWidget(btnFolder, 5, 4);
    auto *recurseRow = new QHBoxLayout();
    recurseRow->setSpacing(kFormMargin / 2);
    recurseRow->addWidget(cbRecurse);
    recurseRow->addWidget(edExclude, 1);
    grid->addLayout(recurseRow, 6, 1, 1, 4);

    auto *buttons = new QHBoxLayout();
    buttons->setSpacing(kFormMargin / 2);
    buttons->addStretch(1);
    buttons->addWidget(btnAdd);
    buttons->addWidget(btnAnother);
    buttons->addWidget(btnCancel);

    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addLayout(grid);
    main->addStretch(1);
    main->addLayout(buttons);
    // The dialog is not resizable; its size follows the font.
    main->setSizeConstraint(QLayout::SetFixedSize);
    edFile->setMinimumWidth(fontMetrics().averageCharWidth() * 48);

    const QList<QWidget *> tabOrder = { rbSingle,  edFile,    btnFile,   rbMultiple, edMask,     edFolder,
                                        btnFolder, cbRecurse, edExclude, btnAdd,     btnAnother, btnCancel };
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));

    connect(edMask, &QLineEdit::textChanged, this, &TfrmFileAdd::FolderChange);
    connect(edFolder, &QLineEdit::textChanged, this, &TfrmFileAdd::FolderChange);
    // The subfolder options change what matches: count again.
    connect(cbRecurse, &QCheckBox::toggled, this, &TfrmFileAdd::FolderChange);
    connect(edExclude, &QLineEdit::textChanged, this, &TfrmFileAdd::FolderChange);
    connect(edFile, &QLineEdit::textChanged, this, &TfrmFileAdd::FileChange);
    new TClickFilter(edFile, [this] { FileChange(); });
    connect(rbSingle, &QRadioButton::clicked, this, &TfrmFileAdd::DataChange);
    connect(rbMultiple, &QRadioButton::clicked, this, &TfrmFileAdd::DataChange);
    connect(btnFile, &QPushButton::clicked, this, &TfrmFileAdd::btnFileClick);
    connect(btnFolder, &QPushButton::clicked, this, &TfrmFileAdd::btnFolderClick);
    connect(btnAdd, &QPushButton::clicked, this, &TfrmFileAdd::btnAddClick);
    connect(btnAnother, &QPushButton::clicked, this, &TfrmFileAdd::btnAnotherClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmFileAdd::reject);
    connect(FCounter, &TWildcardCounter::counted, this, &TfrmFileAdd::FolderCounted);

    TDropFilter::Install(edFile, false, [this](const QStringList &oPaths) { FilesDropped(oPaths); });
    TDropFilter::Install(edFolder, true,
                         [this](const QStringList &oPaths) { edFolder->setText(oPaths.front()); });

    cbRecurse->setChecked(Param::AddFoldersRecursively.Get());
    if (FProject)
        setWindowTitle(QStringLiteral("Add files :: ") + FProject->Title());
}

TfrmFileAdd::~TfrmFileAdd()
{
    Param::AddFoldersRecursively.Set(cbRecurse->isChecked());
}

int TfrmFileAdd::Execute(TProject *oProject, QWidget *parent)
{
    TfrmFileAdd frm(oProject, parent);
    if (frm.exec() != QDialog::Accepted)
        return 0;
    return frm.ResultID();
}

bool TfrmFileAdd::Counting() const
{
    return FCounter->Busy();
}

void TfrmFileAdd::SetCountDelay(int iMsecs)
{
    FCounter->SetDelay(iMsecs);
}

QString TfrmFileAdd::WildcardEntry() const
{
    if (!rbMultiple->isChecked() || !FProject)
        return {};
    return BuildWildcardEntry({ edFolder->text(), edMask->text(), cbRecurse->isChecked(), edExclude->text() },
                              *FProject);
}

QString TfrmFileAdd::AddFileFolder() const
{
    return Param::AddFileFolder.Get();
}

void TfrmFileAdd::FolderChange()
{
    // The count belongs to the text now in the fields: until the new count
    // arrives there is none, so "Add" cannot take an entry that matches
    // nothing (an emptied mask counts 0).
    FFolderCount = 0;
    lblFolderCount->clear();
    FCounter->Cancel();
    const QString sFolder = edFolder->text().trimmed();
    if (!(sFolder + edMask->text()).trimmed().isEmpty())
        rbMultiple->setChecked(true);
    if (!sFolder.isEmpty() && QFileInfo(sFolder).isDir() && !edMask->text().trimmed().isEmpty()) {
        // A duplicate is counted too: "Add" then says why it is refused,
        // rather than staying disabled without a word.
        const QString sEntry = WildcardEntryText(
            { edFolder->text(), edMask->text(), cbRecurse->isChecked(), edExclude->text() });
        if (!sEntry.isEmpty())
            FCounter->Request(sEntry);
    }
    DataChange();
}

void TfrmFileAdd::FolderCounted(const QString &sEntry, int iCount)
{
    Q_UNUSED(sEntry);
    FFolderCount = iCount;
    lblFolderCount->setText(Plural(QStringLiteral("matching file"), iCount));
    DataChange();
}

void TfrmFileAdd::DataChange()
{
    const bool bEnabled = (rbSingle->isChecked() && !edFile->text().trimmed().isEmpty())
        || (rbMultiple->isChecked() && FFolderCount > 0);
    btnAdd->setEnabled(bEnabled);
    btnAnother->setEnabled(bEnabled);
}

void TfrmFileAdd::FileChange()
{
    if (!edFile->text().trimmed().isEmpty())
        rbSingle->setChecked(true);
    DataChange();
}

void TfrmFileAdd::btnFileClick()
{
    const QStringList files = TDialogs::OpenFileNames(this, QStringLiteral("Add file"), AddFileFolder(),
                                                      QStringLiteral("All files (*)"));
    if (files.isEmpty())
        return;
    Param::AddFileFolder.Set(QFileInfo(files.front()).absolutePath());
    edFile->setText(JoinFileText(files));
    DataChange();
}

void TfrmFileAdd::btnFolderClick()
{
    const QString sFolder = TDialogs::FolderName(this, QStringLiteral("Select folder"), AddFileFolder());
    if (sFolder.isEmpty())
        return;
    Param::AddFileFolder.Set(sFolder);
    edFolder->setText(sFolder);
    DataChange();
}

void TfrmFileAdd::FilesDropped(const QStringList &oPaths)
{
    QStringList paths = SplitFileText(edFile->text());
    for (const QString &sPath : oPaths)
        if (!paths.contains(sPath))
            paths.append(sPath);
    edFile->setText(JoinFileText(paths));
    edFile->setFocus(Qt::OtherFocusReason);
}

int TfrmFileAdd::Store()
{
    if (!FProject)
        return 0;
    if (rbSingle->isChecked()) {
        QStringList paths = SplitFileText(edFile->text());
        for (QString &sPath : paths)
            if (QDir::isAbsolutePath(sPath))
                sPath = QDir::cleanPath(sPath);
        if (!ValidFilePaths(paths)) {
            TDialogs::Critical(this, windowTitle(), kInvalid);
            return 0;
        }
        return StoreFileEntries(FProject->ProjectID(), paths);
    }
    const QString sEntry = WildcardEntry();
    if (sEntry.isEmpty()) {
        TDialogs::Critical(this, windowTitle(), kInvalid);
        return 0;
    }
    return StoreFileEntry(FProject->ProjectID(), sEntry);
}

void TfrmFileAdd::btnAddClick()
{
    // Checked before closing: invalid details keep the dialog open with
    // everything typed.
    const int id = Store();
    if (id <= 0)
        return;
    FResultID = id;
    accept();
}

void TfrmFileAdd::btnAnotherClick()
{
    const int id = Store();
    if (id <= 0)
        return; // the details stay for the user to mend
    FProject->FileAdd(id);
    edFile->clear();
    edMask->clear();
    edMask->setFocus(Qt::OtherFocusReason);
}
