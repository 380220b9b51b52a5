#include "ui/logmodel.h"

#include <QColor>

TLogModel::TLogModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void TLogModel::Refill(const TLogFilter &oFilter)
{
    FFilter = oFilter;
    Reload();
}

void TLogModel::Reload()
{
    // Read first: a failing query leaves the model as it was.
    QList<int> ids = FSortColumn < 0 ? TLogQuery::IdsInLogOrder(FFilter)
                                     : TLogQuery::Ids(FFilter, TLogColumn(FSortColumn), FSortOrder);
    beginResetModel();
    FIds = std::move(ids);
    FPages.clear();
    endResetModel();
}

void TLogModel::sort(int column, Qt::SortOrder order)
{
    FSortColumn = column >= 0 && column < LogColumnCount ? column : -1;
    FSortOrder = order;
    Reload();
}

const TLogRow &TLogModel::Row(int iRow) const
{
    if (iRow < 0 || iRow >= FIds.size())
        return FEmpty;
    const int iPage = iRow / PageSize;
    auto it = FPages.find(iPage);
    if (it == FPages.end()) {
        if (FPages.size() >= PageLimit) {
            auto oldest = FPages.begin();
            for (auto page = FPages.begin(); page != FPages.end(); ++page) {
                if (page->iUsed < oldest->iUsed)
                    oldest = page;
            }
            FPages.erase(oldest);
        }
        TPage page;
        const QList<int> ids = FIds.mid(iPage * PageSize, PageSize);
        page.lRows = TLogQuery::Rows(ids);
        // A row deleted since the ids were read (the start-up pruning of
        // another run cannot happen, but be safe) shows empty.
        if (page.lRows.size() != ids.size()) {
            QList<TLogRow> aligned;
            aligned.reserve(ids.size());
            qsizetype iFound = 0;
            for (const int iID : ids) {
                if (iFound < page.lRows.size() && page.lRows[iFound].ID == iID)
                    aligned << page.lRows[iFound++];
                else {
                    TLogRow missing;
                    missing.ID = iID;
                    aligned << missing;
                }
            }
            page.lRows = aligned;
        }
        it = FPages.insert(iPage, page);
    }
    it->iUsed = ++FUseCount;
    return it->lRows.at(iRow - iPage * PageSize);
}

int TLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(FIds.size());
}

int TLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : LogColumnCount;
}

QVariant TLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= FIds.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return Row(index.row()).Text(TLogColumn(index.column()));
    case IdRole:
        return FIds.at(index.row());
    case Qt::ForegroundRole:
        // A failure stands out: a red "No".
        if (TLogColumn(index.column()) == TLogColumn::Success && Row(index.row()).Success != 1)
            return QColor(255, 0, 0);
        return {};
    case Qt::ToolTipRole: {
        // Why it failed, as the failure line said; older rows did not keep it.
        const TLogRow &row = Row(index.row());
        if (row.Success == 1)
            return {};
        return row.Reason.isEmpty() ? QStringLiteral("Failed (the reason was not recorded)")
                                    : QStringLiteral("Failed: ") + row.Reason;
    }
    case Qt::TextAlignmentRole:
        if (TLogColumn(index.column()) == TLogColumn::Files)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= LogColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return LogColumnCaption(TLogColumn(section));
    if (role == Qt::TextAlignmentRole && TLogColumn(section) == TLogColumn::Files)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}
