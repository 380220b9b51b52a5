#pragma once

#include <QColor>
#include <QString>
#include <QStyledItemDelegate>

// How one progress line is drawn.
struct TLineStyle
{
    QColor oColour;
    bool bBold = false;
    QString sText; // without the "!" marker and without line breaks
};

// Draws the progress lines of the delivery window, the FTP test and quick
// send: a failure line ("!" in front) red without its marker, the others in
// the list's text colour, each on one line. With titles (the delivery
// window), "  Success" is green and project titles (the first line and every
// line after a " " separator) are bold.
class TProgressLineDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TProgressLineDelegate(bool bTitles, QObject *parent = nullptr)
        : QStyledItemDelegate(parent)
        , FTitles(bTitles)
    { }

    static TLineStyle LineStyle(const QModelIndex &index, const QPalette &palette, bool bTitles);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    bool FTitles;
};
