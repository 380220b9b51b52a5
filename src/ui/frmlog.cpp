#include "ui/frmlog.h"

#include "core/exceptions.h"
#include "core/settingkeys.h"
#include "core/winutils.h"
#include "delivery/logexport.h"
#include "ui/busycursor.h"
#include "ui/dialogs.h"
#include "ui/linklabel.h"
#include "ui/logmodel.h"
#include "ui/shellutils.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kCaption = QStringLiteral("Bundlewick :: Log");
constexpr int kHelpTopic = 40;
constexpr int kDefaultWidth = 120;
constexpr int kMinimumWidth = 50;

const QString kHintResult = QStringLiteral(
    "Success and Failure|Use these checkboxes to view deliveries which have succeeded or failed.\r\n");
const QString kHintSource = QStringLiteral(
    "Source|Use these controls to select the Bundlewick function which made the deliveries.\r\n");
const QString kHintFilename = QStringLiteral("Filename|Enter part of the file name you want to match.\r\n");
const QString kHintMethod = QStringLiteral("Method|Select how the delivery was made.\r\n");
const QString kHintDates = QStringLiteral("Dates|Check the appropriate boxes and enter dates to restrict the "
                                          "period for which results are shown.\r\n");
const QString kHintAll
    = QStringLiteral("Show all|Click this to remove any current filters and show all deliveries.\r\n");
const QString kHintFilter = QStringLiteral("Filter|Save and apply the current filters.\r\n");
const QString kHintCSV = QStringLiteral("Save as CSV|Save the displayed log as a spreadsheet.\r\n");
const QString kHintHTML = QStringLiteral("Save as HTML|Save the displayed log as an HTML file.\r\n");

const QString kSaveTitle = QStringLiteral("Save as a spreadsheet");
const QString kFilterCsv = QStringLiteral("Comma-separated values (*.csv)");
const QString kFilterHtml = QStringLiteral("Hypertext markup language (*.htm)");
const QString kFilterAll = QStringLiteral("All files (*)");

QCheckBox *NewCheck(QWidget *parent, const char *name, const QString &sCaption, const QString &sHint)
{
    auto *box = new QCheckBox(sCaption, parent);
    box->setObjectName(QString::fromLatin1(name));
    THints::SetHint(box, sHint);
    return box;
}

QFrame *Separator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QVBoxLayout *Column(QHBoxLayout *strip)
{
    auto *column = new QVBoxLayout();
    column->setSpacing(2);
    column->setAlignment(Qt::AlignTop);
    strip->addLayout(column);
    return column;
}

} // namespace

TfrmLog::TfrmLog(QWidget *parent)
    : TBaseDialog(parent)
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(kCaption);
    setSizeGripEnabled(true);
    SetHelpContext(kHelpTopic);

    FModel = new TLogModel(this);

    auto *layout = new QVBoxLayout(this);
    SetFormMargins(layout);
    layout->addWidget(BuildFilters());

    listLog = new QTableView(this);
    listLog->setObjectName(QStringLiteral("listLog"));
    listLog->setAccessibleName(QStringLiteral("Delivery log"));
    listLog->setModel(FModel);
    listLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    listLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listLog->setShowGrid(false);
    listLog->setWordWrap(false);
    listLog->setAlternatingRowColors(true);
    listLog->verticalHeader()->hide();
    // Rows of one height: the view then never measures rows it does not show.
    listLog->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    listLog->verticalHeader()->setDefaultSectionSize(listLog->fontMetrics().height() + 6);
    QHeaderView *header = listLog->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(kMinimumWidth);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSortIndicatorShown(true);
    // Unsorted at first: the log's own order, oldest first.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    // The user's widths when stored; otherwise each column is sized to its
    // content once the first rows are in (showEvent).
    FFitColumns = !Param::LogColumnWidths.Has();
    const QList<int> widths = ParseColumnWidths(Param::LogColumnWidths.Get());
    for (int i = 0; i < LogColumnCount; ++i)
        header->resizeSection(i, widths.at(i));
    // A click on the sort column reverses the direction; a click on another
    // column sorts by it in the current direction (ascending at first). The
    // header's own flip differs between Qt versions, so it is overridden here.
    connect(header, &QHeaderView::sectionClicked, this, [this, header](int iSection) {
        Qt::SortOrder eOrder = FModel->SortOrder();
        if (iSection == FModel->SortColumn())
            eOrder = eOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        header->setSortIndicator(iSection, eOrder);
        TBusyCursor busy;
        FModel->sort(iSection, eOrder);
    });
    layout->addWidget(listLog, 1);

    auto *bottom = new QHBoxLayout();
    bottom->setSpacing(kFormMargin);
    pnlSave = new QFrame(this);
    pnlSave->setObjectName(QStringLiteral("pnlSave"));
    auto *save = new QHBoxLayout(pnlSave);
    save->setContentsMargins(0, 0, 0, 0);
    save->setSpacing(8);
    lblSaveAs = new QLabel(QStringLiteral("Save as"), pnlSave);
    lblSaveAs->setObjectName(QStringLiteral("lblSaveAs"));
    lblSaveCSV = new TLinkLabel(QStringLiteral("CSV"), pnlSave);
    lblSaveCSV->setObjectName(QStringLiteral("lblSaveCSV"));
    THints::SetHint(lblSaveCSV, kHintCSV);
    lblSaveHTML = new TLinkLabel(QStringLiteral("HTML"), pnlSave);
    lblSaveHTML->setObjectName(QStringLiteral("lblSaveHTML"));
    THints::SetHint(lblSaveHTML, kHintHTML);
    save->addWidget(lblSaveAs);
    save->addWidget(lblSaveCSV);
    save->addWidget(lblSaveHTML);
    bottom->addWidget(pnlSave, 0, Qt::AlignVCenter);
    bottom->addStretch(1);
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);
    bottom->addWidget(btnClose);
    layout->addLayout(bottom);

    // At least 720 x 360, and never less than the filter strip needs (a
    // larger font).
    setMinimumSize(layout->totalMinimumSize().expandedTo(QSize(720, 360)));
    resize(minimumSize().expandedTo(QSize(900, 520)));

    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(lblSaveCSV, &TLinkLabel::clicked, this, &TfrmLog::lblSaveCSVClick);
    connect(lblSaveHTML, &TLinkLabel::clicked, this, &TfrmLog::lblSaveHTMLClick);

    // A new opening shows up to today: yesterday's "To" would hide what was
    // delivered since.
    TLogFilter filter = TLogFilter::FromParams();
    if (filter.ToDate != QDate::currentDate()) {
        filter.ToDate = QDate::currentDate();
        Param::LogFilterToDate.Set(DateToDayCount(filter.ToDate));
    }
    LoadControls(filter);
    FilterChange();
}

TfrmLog::~TfrmLog()
{
    QStringList widths;
    for (int i = 0; i < LogColumnCount; ++i)
        widths << QString::number(listLog->horizontalHeader()->sectionSize(i));
    const QString sWidths = widths.join(QLatin1Char(','));
    if (sWidths.contains(QLatin1Char(',')))
        Param::LogColumnWidths.Set(sWidths);
}

QFrame *TfrmLog::BuildFilters()
{
    pnlFilters = new QFrame(this);
    pnlFilters->setObjectName(QStringLiteral("pnlFilters"));
    pnlFilters->setMinimumHeight(74);
    auto *strip = new QHBoxLayout(pnlFilters);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(12);

    QVBoxLayout *result = Column(strip);
    cbSuccess = NewCheck(pnlFilters, "cbSuccess", QStringLiteral("Success"), kHintResult);
    cbFailure = NewCheck(pnlFilters, "cbFailure", QStringLiteral("Failure"), kHintResult);
    result->addWidget(cbSuccess);
    result->addWidget(cbFailure);
    strip->addWidget(Separator(pnlFilters));

    QVBoxLayout *source = Column(strip);
    cbZipAndDeliver = NewCheck(pnlFilters, "cbZipAndDeliver", QStringLiteral("Zip and deliver"), kHintSource);
    cbQuickSend = NewCheck(pnlFilters, "cbQuickSend", QStringLiteral("Quick send"), kHintSource);
    source->addWidget(cbZipAndDeliver);
    source->addWidget(cbQuickSend);
    strip->addWidget(Separator(pnlFilters));

    QVBoxLayout *name = Column(strip);
    edFilename = new QLineEdit(pnlFilters);
    edFilename->setObjectName(QStringLiteral("edFilename"));
    edFilename->setMinimumWidth(edFilename->fontMetrics().averageCharWidth() * 18);
    edFilename->setClearButtonEnabled(true);
    THints::SetHint(edFilename, kHintFilename);
    lblFilename = BuddyLabel(QStringLiteral("Filename"), edFilename, pnlFilters);
    lblFilename->setObjectName(QStringLiteral("lblFilename"));
    THints::SetHint(lblFilename, kHintFilename);
    name->addWidget(lblFilename);
    name->addWidget(edFilename);
    strip->addWidget(Separator(pnlFilters));

    // Three boxes in two columns, so the strip stays low.
    auto *method = new QGridLayout();
    method->setHorizontalSpacing(12);
    method->setVerticalSpacing(2);
    method->setAlignment(Qt::AlignTop);
    cbEmail = NewCheck(pnlFilters, "cbEmail", QStringLiteral("Email"), kHintMethod);
    cbFile = NewCheck(pnlFilters, "cbFile", QStringLiteral("File"), kHintMethod);
    cbFTP = NewCheck(pnlFilters, "cbFTP", QStringLiteral("FTP"), kHintMethod);
    method->addWidget(cbEmail, 0, 0);
    method->addWidget(cbFile, 1, 0);
    method->addWidget(cbFTP, 0, 1);
    strip->addLayout(method);
    strip->addWidget(Separator(pnlFilters));

    auto *dates = new QGridLayout();
    dates->setHorizontalSpacing(6);
    dates->setVerticalSpacing(2);
    dates->setAlignment(Qt::AlignTop);
    cbDateFrom = NewCheck(pnlFilters, "cbDateFrom", QStringLiteral("From"), kHintDates);
    cbDateTo = NewCheck(pnlFilters, "cbDateTo", QStringLiteral("To"), kHintDates);
    for (QDateEdit **picker : { &dtDateFrom, &dtDateTo }) {
        *picker = new QDateEdit(pnlFilters);
        (*picker)->setCalendarPopup(true);
        (*picker)->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        THints::SetHint(*picker, kHintDates);
    }
    dtDateFrom->setObjectName(QStringLiteral("dtDateFrom"));
    dtDateTo->setObjectName(QStringLiteral("dtDateTo"));
    dtDateFrom->setAccessibleName(QStringLiteral("From date"));
    dtDateTo->setAccessibleName(QStringLiteral("To date"));
    dates->addWidget(cbDateFrom, 0, 0);
    dates->addWidget(dtDateFrom, 0, 1);
    dates->addWidget(cbDateTo, 1, 0);
    dates->addWidget(dtDateTo, 1, 1);
    strip->addLayout(dates);

    strip->addStretch(1);
    auto *actions = new QVBoxLayout();
    actions->setSpacing(4);
    actions->setAlignment(Qt::AlignTop);
    lblAll = new TLinkLabel(QStringLiteral("Show all"), pnlFilters);
    lblAll->setObjectName(QStringLiteral("lblAll"));
    lblAll->setAlignment(Qt::AlignCenter);
    THints::SetHint(lblAll, kHintAll);
    btnFilter = new QPushButton(QStringLiteral("&Filter"), pnlFilters);
    btnFilter->setObjectName(QStringLiteral("btnFilter"));
    btnFilter->setAutoDefault(false);
    THints::SetHint(btnFilter, kHintFilter);
    actions->addWidget(lblAll);
    actions->addWidget(btnFilter);
    strip->addLayout(actions);

    for (QCheckBox *box : { cbSuccess, cbFailure, cbZipAndDeliver, cbQuickSend, cbEmail, cbFile, cbFTP })
        connect(box, &QCheckBox::clicked, this, [this, box] { LinkedClick(box); });
    for (QCheckBox *box : { cbDateFrom, cbDateTo })
        connect(box, &QCheckBox::toggled, this, &TfrmLog::FilterChange);
    connect(edFilename, &QLineEdit::textChanged, this, &TfrmLog::FilterChange);
    connect(edFilename, &QLineEdit::returnPressed, this, [this] {
        if (btnFilter->isEnabled())
            btnFilterClick();
    });
    connect(dtDateFrom, &QDateEdit::dateChanged, this, [this] {
        if (!FLoading)
            cbDateFrom->setChecked(true);
        FilterChange();
    });
    connect(dtDateTo, &QDateEdit::dateChanged, this, [this] {
        if (!FLoading)
            cbDateTo->setChecked(true);
        FilterChange();
    });
    connect(btnFilter, &QPushButton::clicked, this, &TfrmLog::btnFilterClick);
    connect(lblAll, &TLinkLabel::clicked, this, &TfrmLog::lblAllClick);
    return pnlFilters;
}

void TfrmLog::Execute(QWidget *parent)
{
    TfrmLog frm(parent);
    frm.exec();
}

QList<int> TfrmLog::ParseColumnWidths(const QString &sWidths)
{
    const QStringList parts = sWidths.split(QLatin1Char(','));
    QList<int> widths;
    for (int i = 0; i < LogColumnCount; ++i) {
        bool ok = false;
        const int iWidth = i < parts.size() ? parts.at(i).trimmed().toInt(&ok) : 0;
        widths << (ok ? qMax(iWidth, kMinimumWidth) : kDefaultWidth);
    }
    return widths;
}

void TfrmLog::LoadControls(const TLogFilter &oFilter)
{
    FLoading = true;
    cbSuccess->setChecked(oFilter.Success);
    cbFailure->setChecked(oFilter.Failure);
    cbZipAndDeliver->setChecked(oFilter.ZipAndDeliver);
    cbQuickSend->setChecked(oFilter.QuickSend);
    cbEmail->setChecked(oFilter.Email);
    cbFile->setChecked(oFilter.File);
    cbFTP->setChecked(oFilter.FTP);
    edFilename->setText(oFilter.FileName);
    cbDateFrom->setChecked(oFilter.FromEnabled);
    cbDateTo->setChecked(oFilter.ToEnabled);
    dtDateFrom->setDate(oFilter.FromDate);
    dtDateTo->setDate(oFilter.ToDate);
    FLoading = false;
}

TLogFilter TfrmLog::ControlsFilter() const
{
    TLogFilter filter;
    filter.Success = cbSuccess->isChecked();
    filter.Failure = cbFailure->isChecked();
    filter.ZipAndDeliver = cbZipAndDeliver->isChecked();
    filter.QuickSend = cbQuickSend->isChecked();
    filter.Email = cbEmail->isChecked();
    filter.File = cbFile->isChecked();
    filter.FTP = cbFTP->isChecked();
    filter.FileName = edFilename->text();
    filter.FromEnabled = cbDateFrom->isChecked();
    filter.ToEnabled = cbDateTo->isChecked();
    filter.FromDate = dtDateFrom->date();
    filter.ToDate = dtDateTo->date();
    return filter;
}

void TfrmLog::LinkedClick(QCheckBox *clicked)
{
    // A group never ends up with nothing ticked: that would show nothing.
    QList<QCheckBox *> group;
    if (clicked == cbSuccess || clicked == cbFailure)
        group = { cbSuccess, cbFailure };
    else if (clicked == cbZipAndDeliver || clicked == cbQuickSend)
        group = { cbZipAndDeliver, cbQuickSend };
    else
        group = { cbEmail, cbFile, cbFTP };
    const bool bNone
        = std::none_of(group.begin(), group.end(), [](QCheckBox *box) { return box->isChecked(); });
    if (bNone) {
        for (QCheckBox *box : group)
            box->setChecked(true);
    }
    FilterChange();
}

void TfrmLog::FilterChange()
{
    if (FLoading)
        return;
    btnFilter->setEnabled(!(ControlsFilter() == TLogFilter::FromParams()));
}

void TfrmLog::btnFilterClick()
{
    const TLogFilter filter = ControlsFilter();
    filter.SaveParams();
    {
        TBusyCursor busy;
        FModel->Refill(filter);
    }
    listLog->scrollToTop();
    FilterChange();
}

void TfrmLog::lblAllClick()
{
    TLogFilter all = TLogFilter::Defaults();
    // The pickers keep their dates; only their boxes go off.
    all.FromDate = dtDateFrom->date();
    all.ToDate = dtDateTo->date();
    LoadControls(all);
    FilterChange();
    btnFilterClick();
}

void TfrmLog::showEvent(QShowEvent *event)
{
    TBaseDialog::showEvent(event);
    if (event->spontaneous())
        return;
    btnFilterClick();
    if (FFitColumns) {
        FFitColumns = false;
        FitColumns();
    }
}

void TfrmLog::FitColumns()
{
    // To the header and the rows in view; a whole time fits in "When"
    // whatever the font, and a file name gets room to be read.
    QHeaderView *header = listLog->horizontalHeader();
    listLog->resizeColumnsToContents();
    const QFontMetrics metrics = listLog->fontMetrics();
    const int iWhen = metrics.horizontalAdvance(QStringLiteral("2026-12-31 23:59:59")) + 16;
    header->resizeSection(int(TLogColumn::When), qMax(header->sectionSize(int(TLogColumn::When)), iWhen));
    const int iName = metrics.horizontalAdvance(QStringLiteral("MyProject_20261231-235959.zip")) + 16;
    header->resizeSection(int(TLogColumn::Filename),
                          qMax(header->sectionSize(int(TLogColumn::Filename)), iName));
    for (int i = 0; i < LogColumnCount; ++i)
        header->resizeSection(i, qMax(header->sectionSize(i), kMinimumWidth));
}

QList<int> TfrmLog::ShownColumns() const
{
    const QHeaderView *header = listLog->horizontalHeader();
    QList<int> columns;
    for (int iVisual = 0; iVisual < header->count(); ++iVisual) {
        const int iLogical = header->logicalIndex(iVisual);
        if (!header->isSectionHidden(iLogical))
            columns << iLogical;
    }
    return columns;
}

void TfrmLog::WriteCsv(const QString &sFileName) const
{
    QList<TLogColumn> columns;
    for (const int iColumn : ShownColumns())
        columns << TLogColumn(iColumn);
    WriteLogCsv(sFileName, columns, FModel->Ids());
}

void TfrmLog::WriteHtml(const QString &sFileName) const
{
    const QHeaderView *header = listLog->horizontalHeader();
    QList<TLogHtmlColumn> columns;
    for (const int iColumn : ShownColumns())
        columns << TLogHtmlColumn { TLogColumn(iColumn), header->sectionSize(iColumn) };
    const QPalette palette = listLog->palette();
    const QFont font = listLog->font();
    TLogHtmlStyle style;
    style.Background = palette.color(QPalette::Base).name();
    style.Text = palette.color(QPalette::Text).name();
    style.HeaderBackground = palette.color(QPalette::Button).name();
    style.HeaderText = palette.color(QPalette::ButtonText).name();
    style.Grid = palette.color(QPalette::Mid).name();
    style.AlternateBackground = palette.color(QPalette::AlternateBase).name();
    style.FontFamily = font.family();
    style.PointSize = font.pointSizeF();
    WriteLogHtml(sFileName, columns, FModel->Ids(), style);
}

void TfrmLog::lblSaveCSVClick()
{
    Save(false);
}

void TfrmLog::lblSaveHTMLClick()
{
    Save(true);
}

QString TfrmLog::ProposedExportName(bool bHtml)
{
    // The last folder used, else the documents folder, else home: a folder
    // that is not there would become the proposed file name itself.
    QString sFolder = Param::LogOutputFolder.Get();
    if (sFolder.isEmpty() || !QFileInfo(sFolder).isDir())
        sFolder = Param::DocumentsFolder();
    if (sFolder.isEmpty() || !QFileInfo(sFolder).isDir())
        sFolder = QDir::homePath();
    return JoinPath(sFolder,
                    bHtml ? QStringLiteral("Bundlewick log.htm") : QStringLiteral("Bundlewick log.csv"));
}

void TfrmLog::Save(bool bHtml)
{
    // The chosen kind's file type comes first, so the dialog starts with it.
    const QString sFilter = bHtml
        ? QStringList { kFilterHtml, kFilterCsv, kFilterAll }.join(QStringLiteral(";;"))
        : QStringList { kFilterCsv, kFilterHtml, kFilterAll }.join(QStringLiteral(";;"));
    const QString sFileName = TDialogs::SaveFileName(this, kSaveTitle, ProposedExportName(bHtml), sFilter,
                                                     bHtml ? QStringLiteral("htm") : QStringLiteral("csv"));
    if (sFileName.isEmpty())
        return;
    Param::LogOutputFolder.Set(QFileInfo(sFileName).absolutePath());
    try {
        TBusyCursor busy;
        if (bHtml)
            WriteHtml(sFileName);
        else
            WriteCsv(sFileName);
    } catch (const EOSError &e) {
        TDialogs::Critical(this, kCaption, e.Message());
        return;
    }
    const QString sQuestion = bHtml
        ? QStringLiteral("This log has been saved as a web page. Do you want to view it now?")
        : QStringLiteral("This log has been saved as a spreadsheet. Do you want to view it now?");
    if (TDialogs::Confirm(this, kCaption, sQuestion))
        OpenDocument(sFileName);
}
