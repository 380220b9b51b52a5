#include "ui/progressdelegate.h"

#include "ui/colours.h"

#include <QPainter>

namespace {

const QString kSuccess = QStringLiteral("  Success");
const QString kSeparator = QStringLiteral(" ");

} // namespace

TLineStyle TProgressLineDelegate::LineStyle(const QModelIndex &index, const QPalette &palette, bool bTitles)
{
    TLineStyle style;
    const QString sLine = index.data(Qt::DisplayRole).toString();
    const bool bFailure = sLine.startsWith(QLatin1Char('!'));
    if (bFailure)
        style.oColour = StatusColour(false, palette);
    else if (bTitles && sLine == kSuccess)
        style.oColour = StatusColour(true, palette);
    else
        style.oColour = palette.color(QPalette::Text);
    style.bBold = bTitles
        && (index.row() == 0
            || index.sibling(index.row() - 1, 0).data(Qt::DisplayRole).toString() == kSeparator);
    style.sText = bFailure ? sLine.mid(1) : sLine;
    // A line is drawn as one line; a trailing line break stays in the saved log only.
    while (style.sText.endsWith(QLatin1Char('\n')) || style.sText.endsWith(QLatin1Char('\r')))
        style.sText.chop(1);
    return style;
}

void TProgressLineDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const
{
    const TLineStyle style = LineStyle(index, option.palette, FTitles);
    painter->save();
    const bool bSelected = option.state & QStyle::State_Selected;
    painter->fillRect(option.rect, bSelected ? option.palette.highlight() : option.palette.base());
    QFont font = option.font;
    font.setBold(style.bBold);
    painter->setFont(font);
    // Red and green keep their colour; plain lines follow the selection.
    painter->setPen(bSelected && style.oColour == option.palette.color(QPalette::Text)
                        ? option.palette.color(QPalette::HighlightedText)
                        : style.oColour);
    const QRect rText = option.rect.adjusted(4, 1, 0, 0);
    painter->drawText(rText, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, style.sText);
    painter->restore();
}

QSize TProgressLineDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QFont font = option.font;
    font.setBold(FTitles);
    const QFontMetrics metrics(font);
    // At least the 13-pixel lines of the usual font, taller with a larger one.
    return QSize(metrics.horizontalAdvance(LineStyle(index, option.palette, FTitles).sText) + 8,
                 qMax(13, metrics.height() + 2));
}
