#include "delivery/logexport.h"

#include "core/exceptions.h"

#include <QSaveFile>
#include <QStringList>

namespace {

// Rows read per query while an export walks the list.
constexpr int kExportChunk = 1000;

// An export written piece by piece; an existing file is replaced only when
// every piece was written.
class TExportFile
{
public:
    explicit TExportFile(const QString &sFileName)
        : FFile(sFileName)
    {
        if (!FFile.open(QIODevice::WriteOnly))
            Fail();
    }
    void Write(const QByteArray &data)
    {
        if (FFile.write(data) != data.size())
            Fail();
    }
    void Commit()
    {
        if (!FFile.commit())
            Fail();
    }

private:
    [[noreturn]] void Fail()
    {
        throw EOSError(QStringLiteral("Cannot write \"%1\": %2").arg(FFile.fileName(), FFile.errorString()));
    }
    QSaveFile FFile;
};

// Calls fn with every row of the ids, reading them a chunk at a time.
template<typename Fn> void ForEachRow(const QList<int> &lIDs, Fn fn)
{
    for (qsizetype i = 0; i < lIDs.size(); i += kExportChunk) {
        for (const TLogRow &row : TLogQuery::Rows(lIDs.mid(i, kExportChunk)))
            fn(row);
    }
}

QString Align(TLogColumn eColumn)
{
    return eColumn == TLogColumn::Files ? QStringLiteral("right") : QStringLiteral("left");
}

} // namespace

QString LogCsvField(const QString &sText)
{
    QString s = sText;
    if (!s.isEmpty() && QStringView(u"=+-@\t\r").contains(s.front()))
        s.prepend(QLatin1Char('\''));
    // Line breaks too: unquoted they would end the record.
    const bool bQuote = s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('"'))
        || s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n'));
    if (!bQuote)
        return s;
    s.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

void WriteLogCsv(const QString &sFileName, const QList<TLogColumn> &lColumns, const QList<int> &lIDs)
{
    TExportFile file(sFileName);
    QStringList fields;
    for (const TLogColumn eColumn : lColumns)
        fields << LogColumnCaption(eColumn);
    file.Write("\xEF\xBB\xBF" + fields.join(QLatin1Char(',')).toUtf8() + "\r\n");
    ForEachRow(lIDs, [&](const TLogRow &row) {
        fields.clear();
        for (const TLogColumn eColumn : lColumns)
            fields << LogCsvField(row.Text(eColumn));
        file.Write(fields.join(QLatin1Char(',')).toUtf8() + "\r\n");
    });
    file.Commit();
}

void WriteLogHtml(const QString &sFileName, const QList<TLogHtmlColumn> &lColumns, const QList<int> &lIDs,
                  const TLogHtmlStyle &oStyle)
{
    QString html;
    html += QStringLiteral("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
                           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
                           "<title>Bundlewick delivery log</title>\r\n<style>\r\n");
    html += QStringLiteral(
                "body { background: %1; color: %2; font-family: \"%3\", sans-serif; font-size: %4pt; }\r\n")
                .arg(oStyle.Background.toHtmlEscaped(), oStyle.Text.toHtmlEscaped(),
                     oStyle.FontFamily.toHtmlEscaped())
                .arg(oStyle.PointSize > 0 ? oStyle.PointSize : 10);
    html += QStringLiteral("table { border-collapse: collapse; table-layout: fixed; }\r\n"
                           "th { background: %1; color: %2; font-weight: normal; border: 1px solid %3; }\r\n"
                           "td, th { padding: 2px 6px; white-space: nowrap; overflow: hidden; }\r\n"
                           "tr:nth-child(even) td { background: %4; }\r\n")
                .arg(oStyle.HeaderBackground.toHtmlEscaped(), oStyle.HeaderText.toHtmlEscaped(),
                     oStyle.Grid.toHtmlEscaped(), oStyle.AlternateBackground.toHtmlEscaped());
    html += QStringLiteral("</style>\r\n</head>\r\n<body>\r\n<table>\r\n<tr>");
    for (const TLogHtmlColumn &column : lColumns) {
        html += QStringLiteral("<th style=\"width: %1px; text-align: %2\">%3</th>")
                    .arg(column.Width)
                    .arg(Align(column.Column), LogColumnCaption(column.Column).toHtmlEscaped());
    }
    html += QStringLiteral("</tr>\r\n");
    TExportFile file(sFileName);
    file.Write(html.toUtf8());
    ForEachRow(lIDs, [&](const TLogRow &row) {
        QString sLine = QStringLiteral("<tr>");
        for (const TLogHtmlColumn &column : lColumns) {
            // Escaped: a file name or recipient may hold "<" or "&".
            sLine += QStringLiteral("<td style=\"text-align: %1\">%2</td>")
                         .arg(Align(column.Column), row.Text(column.Column).toHtmlEscaped());
        }
        file.Write((sLine + QStringLiteral("</tr>\r\n")).toUtf8());
    });
    file.Write("</table>\r\n</body>\r\n</html>\r\n");
    file.Commit();
}
