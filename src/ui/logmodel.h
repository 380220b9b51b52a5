#pragma once

#include "delivery/logquery.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

// The delivery log as a table: the ids of the rows that match a filter, in
// the order shown, and the rows themselves read a page at a time when a cell
// is asked for. Only the ids and the few most recently read pages are held,
// so a long log costs little memory; sorting is one query (TLogQuery).
class TLogModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Rows read by one query.
    static constexpr int PageSize = 128;
    // Pages kept; the least recently used one goes first.
    static constexpr int PageLimit = 8;
    // The role that gives a row's log id.
    static constexpr int IdRole = Qt::UserRole;

    explicit TLogModel(QObject *parent = nullptr);

    // Reads the ids that match the filter, in the current sort order (id
    // order while unsorted). Database failures raise ESQLiteException.
    void Refill(const TLogFilter &oFilter);
    const TLogFilter &Filter() const { return FFilter; }
    const QList<int> &Ids() const { return FIds; }

    // -1 while unsorted.
    int SortColumn() const { return FSortColumn; }
    Qt::SortOrder SortOrder() const { return FSortOrder; }

    // The cell texts of a row, from the page that holds it.
    const TLogRow &Row(int iRow) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // One query; column -1 goes back to id order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // How many pages are held now (for tests and the benchmark).
    int CachedPages() const { return int(FPages.size()); }

private:
    void Reload();

    TLogFilter FFilter;
    QList<int> FIds;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;

    struct TPage
    {
        QList<TLogRow> lRows;
        quint64 iUsed = 0;
    };
    mutable QHash<int, TPage> FPages;
    mutable quint64 FUseCount = 0;
    TLogRow FEmpty;
};
