#pragma once

#include "delivery/logquery.h"

#include <QList>
#include <QString>

// The delivery log viewer's exports: the rows of a list of log ids, in that
// order, with the columns shown, in display order. Both raise EOSError when
// the file cannot be written; an existing file is replaced only when the
// whole export was written.

// A field of a CSV export. A text that begins with "=", "+", "-", "@", a tab
// or a carriage return gets a leading "'", so that a spreadsheet shows it
// rather than running it as a formula (a file name or a recipient is typed
// by someone). Then it is enclosed in double quotes, inner ones doubled, when
// it holds a ",", a double quote, a carriage return or a line feed.
QString LogCsvField(const QString &sText);

// UTF-8 with a byte-order mark (so that spreadsheet programs take it as
// UTF-8): the captions, never quoted, then one line per row; fields separated
// by ",", lines ended by CR LF.
void WriteLogCsv(const QString &sFileName, const QList<TLogColumn> &lColumns, const QList<int> &lIDs);

// What the HTML page looks like: the list's colours ("#rrggbb") and font.
struct TLogHtmlStyle
{
    QString Background = QStringLiteral("#ffffff");
    QString Text = QStringLiteral("#000000");
    QString HeaderBackground = QStringLiteral("#f0f0f0");
    QString HeaderText = QStringLiteral("#000000");
    QString Grid = QStringLiteral("#a0a0a0");
    QString AlternateBackground = QStringLiteral("#f7f7f7");
    QString FontFamily = QStringLiteral("sans-serif");
    double PointSize = 10;
};

// A column of the HTML page and its width in pixels.
struct TLogHtmlColumn
{
    TLogColumn Column = TLogColumn::Success;
    int Width = 120;
};

// One UTF-8 page with a table: a header row of the captions, with the
// columns' widths, then one row per log row; every text HTML-escaped.
void WriteLogHtml(const QString &sFileName, const QList<TLogHtmlColumn> &lColumns, const QList<int> &lIDs,
                  const TLogHtmlStyle &oStyle);
