#pragma once

#include "delivery/logquery.h"
#include "ui/windowkit.h"

class QCheckBox;
class QDateEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class TLogModel;
class TLinkLabel;

// The delivery log viewer: every delivery attempt, narrowed by the filter
// strip (result, source, part of the file name, method, dates), sorted by a
// click on a column header, and saved as CSV or HTML as shown.
//
// The filter exists twice: in the controls (being edited) and in the
// parameters (what the list shows). Filter is enabled exactly while the two
// differ; pressing it saves the controls and refills the list.
class TfrmLog : public TBaseDialog
{
    Q_OBJECT

public:
    explicit TfrmLog(QWidget *parent = nullptr);
    // Stores the column widths.
    ~TfrmLog() override;

    // Opens the viewer modally (from the main window's Options menu).
    static void Execute(QWidget *parent = nullptr);

    // The filter as the controls show it now.
    TLogFilter ControlsFilter() const;
    TLogModel *Model() const { return FModel; }

    // The export files as the list shows them now: the visible columns in
    // display order, every row in the shown order (WriteLogCsv and
    // WriteLogHtml of delivery/logexport.h). Raise EOSError when the
    // file cannot be written (an existing file is then left as it was).
    void WriteCsv(const QString &sFileName) const;
    void WriteHtml(const QString &sFileName) const;

    // Widths in column order from the "Log column widths" text: 120 for a
    // missing or malformed number, at least 50.
    static QList<int> ParseColumnWidths(const QString &sWidths);
    // The file the save dialog proposes: "Bundlewick log.csv" (or ".htm") in
    // the last export folder when it exists, else in the documents folder.
    static QString ProposedExportName(bool bHtml);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QFrame *BuildFilters();
    void LoadControls(const TLogFilter &oFilter);
    void LinkedClick(QCheckBox *clicked);
    void FilterChange();
    void btnFilterClick();
    void lblAllClick();
    void lblSaveCSVClick();
    void lblSaveHTMLClick();
    void Save(bool bHtml);
    // Logical column indexes of the visible columns, in display order.
    QList<int> ShownColumns() const;
    void FitColumns();

    TLogModel *FModel = nullptr;
    bool FLoading = false;
    bool FFitColumns = false; // no stored widths: fit them to the first rows

    QFrame *pnlFilters = nullptr;
    QCheckBox *cbSuccess = nullptr;
    QCheckBox *cbFailure = nullptr;
    QCheckBox *cbZipAndDeliver = nullptr;
    QCheckBox *cbQuickSend = nullptr;
    QLabel *lblFilename = nullptr;
    QLineEdit *edFilename = nullptr;
    QCheckBox *cbEmail = nullptr;
    QCheckBox *cbFile = nullptr;
    QCheckBox *cbFTP = nullptr;
    QCheckBox *cbDateFrom = nullptr;
    QDateEdit *dtDateFrom = nullptr;
    QCheckBox *cbDateTo = nullptr;
    QDateEdit *dtDateTo = nullptr;
    TLinkLabel *lblAll = nullptr;
    QPushButton *btnFilter = nullptr;
    QTableView *listLog = nullptr;
    QFrame *pnlSave = nullptr;
    QLabel *lblSaveAs = nullptr;
    TLinkLabel *lblSaveCSV = nullptr;
    TLinkLabel *lblSaveHTML = nullptr;
    QPushButton *btnClose = nullptr;
};
