#include "ui/frmmain.h"

#include "archive/archivebuilder.h"
#include "core/globals.h"
#include "core/productinfo.h"
#include "core/regutils.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "core/threaddb.h"
#include "core/winutils.h"
#include "data/fdata.h"
#include "delivery/deliverylog.h"
#include "delivery/projectstatus.h"
#include "projects/project.h"
#include "projects/projectdelphi.h"
#include "ui/appicon.h"
#include "ui/busycursor.h"
#include "ui/dialogs.h"
#include "ui/formpos.h"
#include "ui/frmabout.h"
#include "ui/frmemail.h"
#include "ui/frmgenerate.h"
#include "ui/frmlog.h"
#include "ui/frmprojecteditor.h"
#include "ui/frmquick.h"
#include "ui/frmsettings.h"
#include "ui/help.h"
#include "ui/linklabel.h"
#include "ui/shellutils.h"
#include "ui/windowkit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <exception>

namespace {

const QString kTitle = QStringLiteral("Bundlewick");
const QString kHintAll = QStringLiteral("Select All|Check all the entries in your project list.");
const QString kHintNone = QStringLiteral("Select None|Uncheck all the entries in your project list.");
const QString kHintGenerate
    = QStringLiteral("Zip and deliver|Process all the checked entries in your \r\nproject list. Each one "
                     "will have a zip\r\nfile "
                     "created and sent to the destinations\r\nspecified on the Project Editor's Send tab. ");
const QString kHintQuick = QStringLiteral(
    "Quick send|Pick files and send them at once by email, to a folder or to an FTP server, without a "
    "project. You can also drop files on this window.");
const QString kConfirmDelete = QStringLiteral("Are you sure you want to delete the project \"%1\"?");

// Room for counts of this size, so that the columns line up from row to row.
const QString kWidestFiles = QStringLiteral("00000 files");
const QString kWidestChanges = QStringLiteral("00000 changes");

QString ParseErrorOf(const TProject *oProject)
{
    const auto *delphi = dynamic_cast<const TProjectDelphi *>(oProject);
    return delphi ? delphi->ParseError() : QString();
}

TProject *ProjectOf(const QModelIndex &index)
{
    return reinterpret_cast<TProject *>(index.data(TProjectDelegate::ProjectRole).value<quintptr>());
}

QIcon ThemeIcon(const char *sName, QStyle::StandardPixmap eFallback)
{
    return QIcon::fromTheme(QLatin1String(sName), QApplication::style()->standardIcon(eFallback));
}

} // namespace

// --- TProjectDelegate -------------------------------------------------------

QString TProjectDelegate::FilesText(const TProject *oProject)
{
    return Plural(QStringLiteral("file"), oProject->FileCount());
}

QString TProjectDelegate::ChangesText(const TProject *oProject)
{
    return Plural(QStringLiteral("change"), oProject->ChangedFiles());
}

TProjectDelegate::TRowLayout TProjectDelegate::Layout(const QStyleOptionViewItem &option,
                                                      const QModelIndex &index)
{
    TRowLayout layout;
    QStyleOptionViewItem opt = option;
    opt.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The same place the item view's click handling expects the box at.
    layout.check = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
    const QRect r = option.rect;
    const QFontMetrics &fm = option.fontMetrics;
    int iLeft = layout.check.right() + 1 + 4;
    if (!index.data(ErrorRole).toString().isEmpty()) {
        const int iSize = qMin(fm.height(), r.height());
        layout.mark = QRect(iLeft, r.top() + (r.height() - iSize) / 2, iSize, iSize);
        iLeft = layout.mark.right() + 1 + 4;
    }
    // Both counts right-aligned inside the row: changes at the right edge,
    // files in a column before them.
    const TProject *oProject = ProjectOf(index);
    const bool bCounted = oProject && index.data(CountedRole).toBool();
    const QString sFiles = bCounted ? FilesText(oProject) : QString();
    const QString sChanges = bCounted ? ChangesText(oProject) : QString();
    const int iChangesWidth = qMax(fm.horizontalAdvance(kWidestChanges), fm.horizontalAdvance(sChanges));
    const int iFilesWidth = qMax(fm.horizontalAdvance(kWidestFiles), fm.horizontalAdvance(sFiles));
    layout.changes = QRect(r.right() - 8 - iChangesWidth + 1, r.top(), iChangesWidth, r.height());
    layout.files = QRect(layout.changes.left() - 16 - iFilesWidth, r.top(), iFilesWidth, r.height());
    // The last delivery before the counts, when the row has room for it.
    const QString sLast = index.data(LastRole).toString();
    int iTitleRight = layout.files.left() - 16;
    if (!sLast.isEmpty()) {
        const int iLastWidth = fm.horizontalAdvance(sLast);
        // The title comes first: whole, or at least twenty characters of it.
        const int iTitleWidth = oProject ? fm.horizontalAdvance(oProject->Title()) : 0;
        if (iTitleRight - iLeft - iLastWidth - 16 >= qMin(iTitleWidth, fm.averageCharWidth() * 20)) {
            layout.last = QRect(iTitleRight - iLastWidth, r.top(), iLastWidth, r.height());
            iTitleRight = layout.last.left() - 16;
        }
    }
    layout.title = QRect(iLeft, r.top(), qMax(0, iTitleRight - iLeft), r.height());
    return layout;
}

void TProjectDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const bool bUsable = index.data(UsableRole).toBool();
    const Qt::CheckState eCheck = index.data(Qt::CheckStateRole).value<Qt::CheckState>();

    // Background, selection and focus as the style draws them.
    QStyleOptionViewItem back = opt;
    back.text.clear();
    back.icon = QIcon();
    back.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    style->drawControl(QStyle::CE_ItemViewItem, &back, painter, widget);

    const TRowLayout layout = Layout(option, index);
    // A project that cannot be delivered has no box of its own; one that
    // "All" checked shows the mark greyed, so the user sees it will go.
    if (bUsable || eCheck == Qt::Checked) {
        QStyleOptionViewItem box = opt;
        box.rect = layout.check;
        box.state = box.state & ~QStyle::State_HasFocus;
        box.state |= eCheck == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
        if (!bUsable)
            box.state &= ~QStyle::State_Enabled;
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
    }
    if (layout.mark.isValid())
        style->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, widget).paint(painter, layout.mark);

    const TProject *oProject = ProjectOf(index);
    if (!oProject)
        return;
    const bool bSelected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = bUsable && (option.state & QStyle::State_Enabled)
        ? (option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive)
        : QPalette::Disabled;
    painter->save();
    painter->setPen(option.palette.color(group, bSelected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    const QFontMetrics &fm = option.fontMetrics;
    painter->drawText(layout.title, Qt::AlignLeft | Qt::AlignVCenter,
                      fm.elidedText(oProject->Title(), Qt::ElideRight, layout.title.width()));
    if (layout.last.isValid()) {
        // A failed last delivery in red, unless the selection colours the row.
        if (index.data(LastFailedRole).toBool() && !bSelected && bUsable)
            painter->setPen(QColor(255, 0, 0));
        painter->drawText(layout.last, Qt::AlignRight | Qt::AlignVCenter, index.data(LastRole).toString());
        painter->setPen(option.palette.color(group, bSelected ? QPalette::HighlightedText : QPalette::Text));
    }
    if (index.data(CountedRole).toBool()) {
        painter->drawText(layout.files, Qt::AlignRight | Qt::AlignVCenter, FilesText(oProject));
        painter->drawText(layout.changes, Qt::AlignRight | Qt::AlignVCenter, ChangesText(oProject));
    }
    painter->restore();
}

QSize TProjectDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), option.fontMetrics.height() + 6));
    return size;
}

QString TProjectDelegate::ToolTipText(const QStyleOptionViewItem &option, const QModelIndex &index)
{
    QStringList parts;
    const TProject *oProject = ProjectOf(index);
    if (oProject) {
        const TRowLayout layout = Layout(option, index);
        const QString sTitle = oProject->Title();
        if (option.fontMetrics.horizontalAdvance(sTitle) > layout.title.width())
            parts << sTitle.toHtmlEscaped();
    }
    const QString sReason = index.data(ReasonRole).toString();
    if (!sReason.isEmpty())
        parts << sReason.toHtmlEscaped();
    const QString sError = index.data(ErrorRole).toString();
    if (!sError.isEmpty())
        parts << THints::Html(QStringLiteral("The project file could not be parsed completely|") + sError);
    return parts.join(QStringLiteral("<br>"));
}

bool TProjectDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                 const QStyleOptionViewItem &option, const QModelIndex &index)
{
    // The list shows no hints of its own; a row explains what it cannot show.
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString sText = ToolTipText(option, index);
    if (sText.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), sText, view, option.rect, 30000);
    return true;
}

// --- TfrmMain ---------------------------------------------------------------

TfrmMain::TfrmMain(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    setWindowIcon(AppIcon());
    setMinimumSize(400, 400);
    resize(560, 480);

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("pnlMain"));
    setCentralWidget(central);

    edFilter = new QLineEdit(central);
    edFilter->setObjectName(QStringLiteral("edFilter"));
    edFilter->setPlaceholderText(QStringLiteral("Filter projects by title"));
    edFilter->setAccessibleName(QStringLiteral("Filter projects"));
    edFilter->setClearButtonEnabled(true);

    listProjects = new QListWidget(central);
    listProjects->setObjectName(QStringLiteral("listProjects"));
    listProjects->setAccessibleName(QStringLiteral("Projects"));
    listProjects->setItemDelegate(new TProjectDelegate(listProjects));
    listProjects->setSelectionMode(QAbstractItemView::SingleSelection);
    listProjects->setUniformItemSizes(true);
    listProjects->installEventFilter(this);
    listProjects->viewport()->installEventFilter(this);

    lblSelect = new QLabel(QStringLiteral("Select"), central);
    lblSelect->setObjectName(QStringLiteral("lblSelect"));
    lblSelectAll = new TLinkLabel(QStringLiteral("All"), central);
    lblSelectAll->setObjectName(QStringLiteral("lblSelectAll"));
    THints::SetHint(lblSelectAll, kHintAll);
    lblSelectNone = new TLinkLabel(QStringLiteral("None"), central);
    lblSelectNone->setObjectName(QStringLiteral("lblSelectNone"));
    THints::SetHint(lblSelectNone, kHintNone);
    btnGenerate = new QPushButton(QStringLiteral("&Zip and deliver"), central);
    btnGenerate->setObjectName(QStringLiteral("btnGenerate"));
    THints::SetHint(btnGenerate, kHintGenerate);
    btnQuick = new QPushButton(QStringLiteral("&Quick send\u2026"), central);
    btnQuick->setObjectName(QStringLiteral("btnQuick"));
    THints::SetHint(btnQuick, kHintQuick);
    btnExit = new QPushButton(QStringLiteral("E&xit"), central);
    btnExit->setObjectName(QStringLiteral("btnExit"));

    auto *bottom = new QHBoxLayout();
    bottom->setSpacing(kFormMargin / 2);
    bottom->addWidget(lblSelect);
    bottom->addWidget(lblSelectAll);
    bottom->addWidget(lblSelectNone);
    bottom->addStretch(1);
    bottom->addSpacing(kFormMargin / 2);
    bottom->addWidget(btnQuick);
    bottom->addWidget(btnGenerate);
    bottom->addWidget(btnExit);
    auto *main = new QVBoxLayout(central);
    SetFormMargins(main);
    main->addWidget(edFilter);
    main->addWidget(listProjects, 1);
    main->addLayout(bottom);

    pnlStart = BuildStartPanel(central);
    pnlStart->setVisible(false);

    BuildMenus();

    FStatus = new TProjectStatusJob(this);
    connect(FStatus, &TProjectStatusJob::found, this, &TfrmMain::StatusFound);
    connect(FStatus, &TProjectStatusJob::finished, this, &TfrmMain::FillDone);

    tmProjects = new QTimer(this);
    tmProjects->setObjectName(QStringLiteral("tmProjects"));
    tmProjects->setSingleShot(true);
    tmProjects->setInterval(100);
    connect(tmProjects, &QTimer::timeout, this, &TfrmMain::FillList);

    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { ShowHelp(kHelpTopic); });

    connect(lblSelectAll, &TLinkLabel::clicked, this, [this] { SelectAll(true); });
    connect(lblSelectNone, &TLinkLabel::clicked, this, [this] { SelectAll(false); });
    connect(btnGenerate, &QPushButton::clicked, this, &TfrmMain::Generate);
    connect(btnQuick, &QPushButton::clicked, this, &TfrmMain::QuickSend);
    connect(btnExit, &QPushButton::clicked, this, &QWidget::close);
    connect(edFilter, &QLineEdit::textChanged, this, &TfrmMain::FilterList);
    connect(listProjects, &QListWidget::itemChanged, this, &TfrmMain::ItemChanged);
    connect(listProjects, &QListWidget::itemSelectionChanged, this, &TfrmMain::UpdateStates);

    // Files dropped on the window start a quick send, once the drop is
    // over (the file manager waits for it to end).
    TDropFilter::Install(this, false, [this](const QStringList &oPaths) { QuickSendFiles(oPaths); });
    UpdateStates();
    tmProjects->start();
}

void TfrmMain::HandedOver(const QStringList &oPaths)
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    QuickSendFiles(oPaths);
}

TfrmMain::~TfrmMain()
{
    FStatus->Cancel();
    // The items refer to the objects: drop them first.
    listProjects->clear();
}

void TfrmMain::EmailSupport(QWidget *parent, const QString &sAddress)
{
    if (sAddress.isEmpty())
        return;
    if (DB && EmailAvailable()) {
        TfrmEmail::Execute(parent, sAddress);
        return;
    }
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(sAddress);
    if (TDialogs::Confirm(
            parent, QStringLiteral("Email support"),
            QStringLiteral("The Bundlewick team's email address - ") + sAddress
                + QStringLiteral(" - has been copied to the clipboard. You can paste this "
                                 "address into an email message.\r\n\r\nBundlewick can open a "
                                 "new message in this computer's default email application (such "
                                 "as Thunderbird or Outlook): would you like that?")))
        SendMailTo(sAddress, QString(ProductSupportSubject), QString());
}

void TfrmMain::BuildMenus()
{
    mmProjects = menuBar()->addMenu(QStringLiteral("&Projects"));
    mmProjects->setObjectName(QStringLiteral("mmProjects"));
    mmProjectsAdd
        = mmProjects->addAction(ThemeIcon("document-new", QStyle::SP_FileIcon), QStringLiteral("&Add"));
    mmProjectsAdd->setObjectName(QStringLiteral("mmProjectsAdd"));
    mmProjectsAdd->setShortcut(QKeySequence::New);
    mmProjectsDelete = mmProjects->addAction(QStringLiteral("&Delete"));
    mmProjectsDelete->setObjectName(QStringLiteral("mmProjectsDelete"));
    mmProjectsDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    mmProjectsEdit = mmProjects->addAction(QStringLiteral("&Edit"));
    mmProjectsEdit->setObjectName(QStringLiteral("mmProjectsEdit"));
    // Return edits too, but only in the list (see eventFilter); shown here.
    mmProjectsEdit->setShortcut(QKeySequence(Qt::Key_Return));
    mmProjectsEdit->setShortcutContext(Qt::WidgetShortcut);
    mmProjects->addSeparator()->setObjectName(QStringLiteral("mmProjectsBreak01"));
    mmProjectsQuick = mmProjects->addAction(ThemeIcon("mail-send", QStyle::SP_ArrowRight),
                                            QStringLiteral("&Quick send\u2026"));
    mmProjectsQuick->setObjectName(QStringLiteral("mmProjectsQuick"));
    mmProjectsQuick->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    mmProjects->addSeparator()->setObjectName(QStringLiteral("mmProjectsBreak02"));
    mmExit = mmProjects->addAction(ThemeIcon("application-exit", QStyle::SP_DialogCloseButton),
                                   QStringLiteral("E&xit"));
    mmExit->setObjectName(QStringLiteral("mmExit"));
    mmExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(mmProjects, &QMenu::aboutToShow, this, &TfrmMain::mmProjectsPopup);
    connect(mmProjectsAdd, &QAction::triggered, this, &TfrmMain::AddProject);
    connect(mmProjectsDelete, &QAction::triggered, this, &TfrmMain::DeleteProject);
    connect(mmProjectsEdit, &QAction::triggered, this, &TfrmMain::EditProject);
    connect(mmProjectsQuick, &QAction::triggered, this, &TfrmMain::QuickSend);
    connect(mmExit, &QAction::triggered, this, &QWidget::close);

    mmOptions = menuBar()->addMenu(QStringLiteral("&Options"));
    mmOptions->setObjectName(QStringLiteral("mmOptions"));
    mmLog = mmOptions->addAction(ThemeIcon("document-open-recent", QStyle::SP_FileDialogDetailedView),
                                 QStringLiteral("&Log"));
    mmLog->setObjectName(QStringLiteral("mmLog"));
    connect(mmLog, &QAction::triggered, this, [this] { TfrmLog::Execute(this); });
    mmSettings = mmOptions->addAction(ThemeIcon("preferences-system", QStyle::SP_FileDialogInfoView),
                                      QStringLiteral("&Settings"));
    mmSettings->setObjectName(QStringLiteral("mmSettings"));
    // Hints are read as they show, so the new switch applies at once.
    connect(mmSettings, &QAction::triggered, this, [this] {
        TfrmSettings::Execute(this);
        HideStartPanel();
    });

    mmHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mmHelp->setObjectName(QStringLiteral("mmHelp"));
    mmAbout = mmHelp->addAction(ThemeIcon("help-about", QStyle::SP_MessageBoxInformation),
                                QStringLiteral("&About"));
    mmAbout->setObjectName(QStringLiteral("mmAbout"));
    mmContents = mmHelp->addAction(ThemeIcon("help-contents", QStyle::SP_DialogHelpButton),
                                   QStringLiteral("&Contents"));
    mmContents->setObjectName(QStringLiteral("mmContents"));
    mmHelpEmail
        = mmHelp->addAction(ThemeIcon("mail-send", QStyle::SP_ArrowRight), QStringLiteral("&Email support"));
    mmHelpEmail->setObjectName(QStringLiteral("mmHelpEmail"));
    connect(mmHelpEmail, &QAction::triggered, this,
            [this] { EmailSupport(this, QString(ProductSupportEmail)); });
    // Only a build that names a support address offers to write to it.
    mmHelpEmail->setVisible(!ProductSupportEmail.isEmpty());
    mmHelpLicense = mmHelp->addAction(ThemeIcon("text-x-generic", QStyle::SP_FileIcon),
                                      QStringLiteral("&License agreement"));
    mmHelpLicense->setObjectName(QStringLiteral("mmHelpLicense"));
    connect(mmHelp, &QMenu::aboutToShow, this, &TfrmMain::HideStartPanel);
    connect(mmAbout, &QAction::triggered, this, [this] { TfrmAbout::Execute(this); });
    connect(mmContents, &QAction::triggered, this, [] { ShowHelp(kContentsTopic); });
    connect(mmHelpLicense, &QAction::triggered, this, [] { ShowHelp(kLicenseTopic); });
}

QWidget *TfrmMain::BuildStartPanel(QWidget *parent)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QStringLiteral("pnlStart"));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Base);

    auto *lblStart = new TLinkLabel(QStringLiteral("Get started by creating your first project"), panel);
    lblStart->setObjectName(QStringLiteral("lblStart"));
    QFont big = lblStart->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    lblStart->setFont(big);
    // The panel paints the list's base colour: the link colour must follow
    // the same group.
    lblStart->setForegroundRole(QPalette::Link);
    auto *Label1
        = new QLabel(QStringLiteral("... or add and manage projects from the Projects menu."), panel);
    Label1->setObjectName(QStringLiteral("Label1"));
    auto *btnCreate = new QPushButton(QStringLiteral("&Create project"), panel);
    btnCreate->setObjectName(QStringLiteral("btnCreate"));

    const int iIcon = Label1->fontMetrics().height();
    auto line = [&](const char *sName, const QString &sText, QStyle::StandardPixmap eIcon) {
        auto *row = new QHBoxLayout();
        row->setSpacing(kFormMargin / 2);
        auto *icon = new QLabel(panel);
        icon->setPixmap(style()->standardIcon(eIcon).pixmap(iIcon, iIcon));
        auto *label = new QLabel(sText, panel);
        label->setObjectName(QLatin1String(sName));
        row->addWidget(icon);
        row->addWidget(label, 1);
        return row;
    };

    auto *layout = new QVBoxLayout(panel);
    SetFormMargins(layout);
    layout->addWidget(lblStart);
    layout->addWidget(Label1);
    layout->addWidget(btnCreate, 0, Qt::AlignLeft);
    layout->addSpacing(kFormMargin / 2);
    layout->addLayout(line("Label2",
                           QStringLiteral("Hide the popup hints in Options\u00bbSettings\u00bbGeneral."),
                           QStyle::SP_MessageBoxInformation));
    layout->addLayout(line("Label3", QStringLiteral("Press the F1 key on any screen for help."),
                           QStyle::SP_MessageBoxQuestion));

    connect(lblStart, &TLinkLabel::clicked, this, [this] {
        HideStartPanel();
        AddProject();
    });
    connect(btnCreate, &QPushButton::clicked, this, [this] {
        HideStartPanel();
        AddProject();
    });
    return panel;
}

void TfrmMain::showEvent(QShowEvent *event)
{
    if (Params && !event->spontaneous())
        LoadFormPos(*Params, this);
    QMainWindow::showEvent(event);
    CheckStartPanel();
    UpdateStates();
}

void TfrmMain::hideEvent(QHideEvent *event)
{
    if (Params && !event->spontaneous())
        SaveFormPos(*Params, this);
    QMainWindow::hideEvent(event);
}

void TfrmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    CentreStartPanel();
    listProjects->viewport()->update();
}

void TfrmMain::CheckStartPanel()
{
    if (FStartDone || !DB)
        return;
    if (TProjectStore::Count() == 0) {
        pnlStart->adjustSize();
        pnlStart->setVisible(true);
        pnlStart->raise();
        CentreStartPanel();
    }
}

void TfrmMain::CentreStartPanel()
{
    if (!pnlStart->isVisible())
        return;
    // The list's layout may not have run yet on the first show.
    centralWidget()->layout()->activate();
    const QRect list = listProjects->geometry();
    pnlStart->move(list.left() + (list.width() - pnlStart->width()) / 2,
                   list.top() + (list.height() - pnlStart->height()) / 2);
}

void TfrmMain::HideStartPanel()
{
    // Once gone, the panel stays away for the life of the window.
    FStartDone = true;
    pnlStart->setVisible(false);
}

void TfrmMain::mmProjectsPopup()
{
    const bool bSelected = SelectedItem() != nullptr;
    mmProjectsEdit->setEnabled(bSelected);
    mmProjectsDelete->setEnabled(bSelected);
    mmProjectsEdit->setIcon(bSelected ? ThemeIcon("document-edit", QStyle::SP_FileDialogContentsView)
                                      : QIcon());
    mmProjectsDelete->setIcon(bSelected ? ThemeIcon("edit-delete", QStyle::SP_TrashIcon) : QIcon());
    HideStartPanel();
}

TProject *TfrmMain::ProjectAt(int iRow) const
{
    const QListWidgetItem *item = listProjects->item(iRow);
    return item ? ProjectOf(listProjects->model()->index(iRow, 0)) : nullptr;
}

int TfrmMain::RowOf(const TProject *oProject) const
{
    for (int i = 0; i < listProjects->count(); ++i)
        if (ProjectAt(i) == oProject)
            return i;
    return -1;
}

QListWidgetItem *TfrmMain::SelectedItem() const
{
    const QList<QListWidgetItem *> items = listProjects->selectedItems();
    return items.isEmpty() ? nullptr : items.front();
}

QListWidgetItem *TfrmMain::AppendItem(TProject *oProject, int iIndex)
{
    auto *item = new QListWidgetItem();
    item->setText(oProject->Title());
    item->setData(TProjectDelegate::ProjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(oProject)));
    FSettingChecks = true;
    listProjects->addItem(item);
    FSettingChecks = false;
    FRows.insert(oProject->ProjectID(), item);
    ApplyRules(item, iIndex);
    return item;
}

void TfrmMain::ApplyRules(QListWidgetItem *item, int iIndex, const TLastDelivery *pLast)
{
    TProject *oProject = ProjectAt(listProjects->row(item));
    if (iIndex < 0)
        iIndex = FProjects.IndexOf(oProject);
    if (iIndex < 0)
        return;
    // Until its counts arrive a row only names its project.
    const bool bParsed = FProjects.Parsed(iIndex);
    const bool bUsable = bParsed && FProjects.Enabled(iIndex);
    FSettingChecks = true;
    // A project that cannot be delivered stays selectable (to edit or
    // delete it); only its check box is taken away.
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (bUsable)
        flags |= Qt::ItemIsUserCheckable;
    item->setFlags(flags);
    item->setData(TProjectDelegate::UsableRole, bUsable);
    item->setData(TProjectDelegate::CountedRole, bParsed);
    // Nothing to explain until the counts are there.
    const bool bFiles = oProject->FileCount() > 0;
    const bool bTasks = FProjects.SendTasks(iIndex) > 0;
    item->setData(TProjectDelegate::ReasonRole,
                  !bParsed || (bFiles && bTasks) ? QString()
                      : bFiles                   ? QStringLiteral("Cannot be delivered: no send tasks")
                      : bTasks                   ? QStringLiteral("Cannot be delivered: no files")
                               : QStringLiteral("Cannot be delivered: no files and no send tasks"));
    item->setData(TProjectDelegate::ErrorRole, ParseErrorOf(oProject));
    bool bFailed = false;
    const QString sLast = !bParsed ? QString()
        : pLast                    ? LastDeliveryText(*pLast, bFailed)
                                   : LastDeliveryText(oProject, bFailed);
    item->setData(TProjectDelegate::LastRole, sLast);
    item->setData(TProjectDelegate::LastFailedRole, bFailed);
    item->setText(oProject->Title());
    item->setHidden(!edFilter->text().isEmpty()
                    && !oProject->Title().contains(edFilter->text().trimmed(), Qt::CaseInsensitive));
    item->setCheckState(bParsed && FProjects.InitiallyChecked(iIndex) ? Qt::Checked : Qt::Unchecked);
    FSettingChecks = false;
}

void TfrmMain::ParseComplete(TProject *oProject)
{
    const int iRow = RowOf(oProject);
    if (iRow < 0)
        return;
    QListWidgetItem *item = listProjects->item(iRow);
    FSettingChecks = true;
    item->setText(oProject->Title());
    item->setData(TProjectDelegate::ErrorRole, ParseErrorOf(oProject));
    FSettingChecks = false;
    listProjects->viewport()->update(listProjects->visualItemRect(item));
}

void TfrmMain::FillList()
{
    tmProjects->stop();
    if (!DB)
        return;
    FStatus->Cancel();
    FListed = FFilled = false;
    const QString sDatabase = DatabaseFileName(*DB);
    {
        // Rows first, from one query; the counts, the send tasks and the last
        // deliveries follow from a worker, as each project's files are
        // listed (thousands of projects over large trees would keep the
        // window from the user for seconds).
        struct TDone
        {
            TfrmMain *form;
            bool bAll = true;
            ~TDone()
            {
                form->FListed = true;
                // After a failure the list stays as far as it came.
                if (bAll && std::uncaught_exceptions() == 0) {
                    form->FillDone();
                } else {
                    form->FFilled = bAll;
                    form->UpdateStates();
                }
            }
        } done { this };
        FProjects.Load();
        FProjects.SortByTitle();
        // Without a database file (one in memory) no worker can read it.
        if (sDatabase.isEmpty()) {
            TBusyCursor busy;
            FProjects.Parse();
        }
        listProjects->setUpdatesEnabled(false);
        listProjects->clear();
        FRows.clear();
        for (int i = 0; i < FProjects.Count(); ++i) {
            FProjects.At(i)->SetOnParse([this](TProject *oProject) { ParseComplete(oProject); });
            AppendItem(FProjects.At(i), i);
        }
        listProjects->setUpdatesEnabled(true);
        done.bAll = sDatabase.isEmpty() || FProjects.IsEmpty();
    }
    if (!FFilled)
        FStatus->Start(sDatabase, FProjects.Rows());
}

void TfrmMain::StatusFound(const std::shared_ptr<TProjectStatusBatch> &oBatch)
{
    for (TProjectStatus &status : oBatch->lItems) {
        QListWidgetItem *item = FRows.value(status.iProjectID);
        if (!item)
            continue; // deleted meanwhile
        const int iIndex = FProjects.IndexOf(ProjectAt(listProjects->row(item)));
        if (iIndex < 0 || FProjects.Parsed(iIndex))
            continue; // parsed here meanwhile, when it was needed at once
        TProject *oProject = status.oProject.get();
        oProject->SetOnParse([this](TProject *oParsed) { ParseComplete(oParsed); });
        // The row points to the new object before anything can draw it.
        FProjects.Adopt(iIndex, std::move(status.oProject), status.iSendTasks);
        FSettingChecks = true;
        item->setData(TProjectDelegate::ProjectRole,
                      QVariant::fromValue(reinterpret_cast<quintptr>(oProject)));
        FSettingChecks = false;
        ApplyRules(item, iIndex, &status.oLast);
    }
    UpdateStates();
}

void TfrmMain::FillDone()
{
    // What the worker left out (it could not read it) is parsed here.
    for (int i = 0; i < FProjects.Count(); ++i)
        EnsureParsed(i);
    FFilled = true;
    UpdateStates();
    Q_EMIT filled();
}

void TfrmMain::EnsureParsed(int iIndex)
{
    if (iIndex < 0 || FProjects.Parsed(iIndex))
        return;
    TBusyCursor busy;
    FProjects.ParseAt(iIndex);
    if (QListWidgetItem *item = FRows.value(FProjects.At(iIndex)->ProjectID()))
        ApplyRules(item, iIndex);
}

void TfrmMain::ItemChanged(QListWidgetItem *item)
{
    Q_UNUSED(item);
    if (!FSettingChecks)
        UpdateStates();
}

void TfrmMain::UpdateStates()
{
    // Rows a filter hides take no part: what is delivered is what is shown.
    int iChecked = 0;
    int iCount = 0;
    for (int i = 0; i < listProjects->count(); ++i) {
        if (listProjects->item(i)->isHidden())
            continue;
        ++iCount;
        if (listProjects->item(i)->checkState() == Qt::Checked)
            ++iChecked;
    }
    btnGenerate->setEnabled(iChecked > 0);
    lblSelectAll->setEnabled(iCount > 0 && iChecked < iCount);
    lblSelectNone->setEnabled(iChecked > 0);
    // Kept current so that the keyboard shortcuts act only on a selection.
    const bool bSelected = SelectedItem() != nullptr;
    mmProjectsEdit->setEnabled(bSelected);
    mmProjectsDelete->setEnabled(bSelected);
}

QString TfrmMain::LastDeliveryText(const TProject *oProject, bool &bFailed)
{
    bFailed = false;
    if (!DB)
        return QString();
    // The archive names of the project, up to the version.
    QString sPrefix = TArchiveBuilder::ArchiveName(*oProject, QStringLiteral("V"));
    sPrefix.chop(QStringLiteral("V.zip").size());
    return LastDeliveryText(LastDelivery(sPrefix), bFailed);
}

QString TfrmMain::LastDeliveryText(const TLastDelivery &last, bool &bFailed)
{
    bFailed = false;
    if (!last.bFound)
        return QStringLiteral("Never sent");
    bFailed = !last.bSuccess;
    QDateTime when = QDateTime::fromString(last.sModified, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    when.setTimeSpec(Qt::UTC);
    const QString sDate = QLocale().toString(when.toLocalTime().date(), QLocale::ShortFormat);
    return (last.bSuccess ? QStringLiteral("Sent %1") : QStringLiteral("Failed %1")).arg(sDate);
}

void TfrmMain::FilterList(const QString &sText)
{
    const QString sPart = sText.trimmed();
    for (int i = 0; i < listProjects->count(); ++i) {
        QListWidgetItem *item = listProjects->item(i);
        item->setHidden(!sPart.isEmpty() && !item->text().contains(sPart, Qt::CaseInsensitive));
    }
    UpdateStates();
}

void TfrmMain::SelectAll(bool bChecked)
{
    HideStartPanel();
    FSettingChecks = true;
    // The shown rows only: a filter narrows what All and None touch.
    for (int i = 0; i < listProjects->count(); ++i)
        if (!listProjects->item(i)->isHidden())
            listProjects->item(i)->setCheckState(bChecked ? Qt::Checked : Qt::Unchecked);
    FSettingChecks = false;
    listProjects->viewport()->update();
    UpdateStates();
}

void TfrmMain::AddProject()
{
    std::unique_ptr<TProject> oCreated;
    TfrmProjectEditor::ExecuteNew(oCreated, this);
    // A project stored before a Cancel is in the database all the same.
    if (oCreated) {
        TProject *oProject = oCreated.get();
        oProject->SetOnParse([this](TProject *oParsed) { ParseComplete(oParsed); });
        FProjects.Append(std::move(oCreated), true);
        QListWidgetItem *item = AppendItem(oProject, FProjects.Count() - 1);
        listProjects->setCurrentItem(item);
    }
    UpdateStates();
}

void TfrmMain::EditProject()
{
    QListWidgetItem *item = SelectedItem();
    if (!item)
        return;
    EnsureParsed(FProjects.IndexOf(ProjectAt(listProjects->row(item))));
    TProject *oProject = ProjectAt(listProjects->row(item));
    const bool bSaved = TfrmProjectEditor::Execute(oProject, this);
    oProject->SetOnParse([this](TProject *oParsed) { ParseComplete(oParsed); });
    const int iIndex = FProjects.IndexOf(oProject);
    // Tasks and entries are stored as the user works, also before a Cancel.
    FProjects.RefreshSendTasks(iIndex);
    const Qt::CheckState eKept = item->checkState();
    ApplyRules(item);
    if (!bSaved) {
        FSettingChecks = true;
        item->setCheckState(eKept);
        FSettingChecks = false;
    }
    listProjects->viewport()->update();
    UpdateStates();
}

void TfrmMain::DeleteProject()
{
    QListWidgetItem *item = SelectedItem();
    if (!item)
        return;
    TProject *oProject = ProjectAt(listProjects->row(item));
    if (TDialogs::Confirm(this, kTitle, kConfirmDelete.arg(oProject->Title()))) {
        TProjectStore::Delete(oProject->ProjectID());
        FRows.remove(oProject->ProjectID());
        delete listProjects->takeItem(listProjects->row(item));
        FProjects.RemoveAt(FProjects.IndexOf(oProject));
    }
    UpdateStates();
}

void TfrmMain::Generate()
{
    QList<TProject *> listChecked;
    for (int i = 0; i < listProjects->count(); ++i)
        if (!listProjects->item(i)->isHidden() && listProjects->item(i)->checkState() == Qt::Checked) {
            // A row ticked before its counts arrived is parsed now.
            EnsureParsed(FProjects.IndexOf(ProjectAt(i)));
            listChecked.append(ProjectAt(i));
        }
    if (listChecked.isEmpty())
        return;
    TfrmGenerate::Execute(listChecked, this);
    // What was just delivered is no longer a change: count again, so the
    // list does not invite a second delivery of the same files.
    {
        TBusyCursor busy;
        for (TProject *oProject : std::as_const(listChecked)) {
            const int iIndex = FProjects.IndexOf(oProject);
            const int iRow = RowOf(oProject);
            if (iIndex < 0 || iRow < 0)
                continue;
            FProjects.ParseAt(iIndex);
            ApplyRules(listProjects->item(iRow));
        }
    }
    listProjects->viewport()->update();
    UpdateStates();
}

void TfrmMain::QuickSend()
{
    HideStartPanel();
    const QStringList files = TDialogs::OpenFileNames(
        this, QStringLiteral("Quick send"), Param::QuickSendFolder.Get(), QStringLiteral("All files (*)"));
    if (files.isEmpty())
        return;
    Param::QuickSendFolder.Set(QFileInfo(files.front()).absolutePath());
    QuickSendFiles(files);
}

void TfrmMain::QuickSendFiles(const QStringList &oPaths)
{
    if (oPaths.isEmpty())
        return;
    // Later, not now: a drop's file manager waits until the drop returns.
    QTimer::singleShot(0, this, [this, oPaths] { TfrmQuick::Execute(oPaths, this); });
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == listProjects && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && key->modifiers() == Qt::NoModifier) {
            EditProject();
            return true;
        }
    }
    if (watched == listProjects->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = listProjects->indexAt(mouse->position().toPoint());
        if (index.isValid()) {
            listProjects->setCurrentRow(index.row());
            EditProject();
        } else {
            listProjects->clearSelection();
            HideStartPanel();
            AddProject();
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
