#include "core/exceptions.h"
#include "delivery/logexport.h"
#include "deliverydb.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class LogExport : public DeliveryDB
{
protected:
    void addLog(int iSuccess, int iSource, const QString &sFile, int iFiles, int iMethod,
                const QString &sDest, const QString &sWhen)
    {
        db->ExecSQLFmt(u"INSERT INTO log (success, source, filename, files, method, destination, "
                       "modified) VALUES (%d, %d, '%s', %d, %d, '%s', '%s')"_s,
                       { iSuccess, iSource, SQLEscape(sFile), iFiles, iMethod, SQLEscape(sDest), sWhen });
    }
    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

} // namespace

TEST(LogCsv, FieldsWithCommasQuotesOrLineBreaksAreQuoted)
{
    EXPECT_EQ(LogCsvField(u"plain"_s), u"plain"_s);
    EXPECT_EQ(LogCsvField(u"Ftp, Inc"_s), u"\"Ftp, Inc\""_s);
    EXPECT_EQ(LogCsvField(u"say \"hi\""_s), u"\"say \"\"hi\"\"\""_s);
    EXPECT_EQ(LogCsvField(QString()), QString());
    EXPECT_EQ(LogCsvField(u"two\nlines"_s), u"\"two\nlines\""_s);
    EXPECT_EQ(LogCsvField(u"old\r\nmac\r"_s), u"\"old\r\nmac\r\""_s);
}

// What a spreadsheet would run as a formula is shown as text: a leading "'",
// inside the quotes when the field needs them.
TEST(LogCsv, FormulaStartsAreMadeText)
{
    EXPECT_EQ(LogCsvField(u"=1+2"_s), u"'=1+2"_s);
    EXPECT_EQ(LogCsvField(u"+49 30 1234"_s), u"'+49 30 1234"_s);
    EXPECT_EQ(LogCsvField(u"-2"_s), u"'-2"_s);
    EXPECT_EQ(LogCsvField(u"@SUM(A1:A9)"_s), u"'@SUM(A1:A9)"_s);
    EXPECT_EQ(LogCsvField(u"\t=1"_s), u"'\t=1"_s);
    EXPECT_EQ(LogCsvField(u"\r=1"_s), u"\"'\r=1\""_s);
    EXPECT_EQ(LogCsvField(u"=HYPERLINK(\"http://x\",\"y\")"_s),
              u"\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""_s);
    // Only at the start.
    EXPECT_EQ(LogCsvField(u"a=b-c+d@e"_s), u"a=b-c+d@e"_s);
    EXPECT_EQ(LogCsvField(u" =1"_s), u" =1"_s);
    EXPECT_EQ(LogCsvField(u"'=1"_s), u"'=1"_s);
}

TEST_F(LogExport, CsvOfTheIdsInTheirOrderWithTheColumnsGiven)
{
    addLog(1, 1, u"Tool_1.0.zip"_s, 3, 0, u"ann@example.org"_s, u"2026-03-09 21:59:59"_s);
    addLog(0, 2, u"=cmd|' /C calc'!A0_1.0.zip"_s, 2, 1, u"/out, \"new\""_s, u"2026-03-09 22:00:00"_s);
    addLog(1, 1, u"-x.zip"_s, 1, 2, u"@ftp.example.org"_s, u"2026-03-10 08:00:00"_s);
    const QString path = sandbox.path(u"out/log.csv"_s);
    WriteLogCsv(path,
                { TLogColumn::When, TLogColumn::Filename, TLogColumn::Success, TLogColumn::Destination },
                { 3, 1, 2, 99 });
    EXPECT_EQ(readFile(path),
              QByteArray("\xEF\xBB\xBF"
                         "When,Filename,Success,Destination\r\n"
                         "2026-03-10 08:00:00,'-x.zip,Yes,'@ftp.example.org\r\n"
                         "2026-03-09 21:59:59,Tool_1.0.zip,Yes,ann@example.org\r\n"
                         "2026-03-09 22:00:00,'=cmd|' /C calc'!A0_1.0.zip,No,\"/out, \"\"new\"\"\"\r\n"));

    // Every column, as the viewer has them at first.
    WriteLogCsv(path,
                { TLogColumn::Success, TLogColumn::Source, TLogColumn::Filename, TLogColumn::Files,
                  TLogColumn::Method, TLogColumn::Destination, TLogColumn::When },
                { 1 });
    EXPECT_EQ(readFile(path),
              QByteArray("\xEF\xBB\xBF"
                         "Success,Source,Filename,Files,Method,Destination,When\r\n"
                         "Yes,ZipAndDeliver,Tool_1.0.zip,3,Email,ann@example.org,2026-03-09 21:59:59\r\n"));
}

TEST_F(LogExport, HtmlEscapesTextsAndKeepsTheColumnsGiven)
{
    addLog(1, 2, u"<b>&.zip"_s, 4, 2, u"ftp.example.org"_s, u"2026-03-09 21:59:59"_s);
    addLog(0, 1, u"=1+2.zip"_s, 1, 0, u"a@b.c"_s, u"2026-03-10 10:00:00"_s);
    TLogHtmlStyle style;
    style.FontFamily = u"Noto \"Sans\""_s;
    style.PointSize = 11.5;
    const QString path = sandbox.path(u"log.htm"_s);
    WriteLogHtml(path, { { TLogColumn::Files, 60 }, { TLogColumn::Filename, 200 } }, { 2, 1 }, style);
    const QString html = QString::fromUtf8(readFile(path));
    EXPECT_TRUE(html.startsWith(u"<!DOCTYPE html>\r\n"_s));
    EXPECT_TRUE(html.contains(u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"_s));
    EXPECT_TRUE(html.contains(u"font-family: \"Noto &quot;Sans&quot;\", sans-serif; font-size: 11.5pt;"_s));
    EXPECT_TRUE(html.contains(u"<tr><th style=\"width: 60px; text-align: right\">Files</th>"
                              "<th style=\"width: 200px; text-align: left\">Filename</th></tr>\r\n"
                              "<tr><td style=\"text-align: right\">1</td>"
                              "<td style=\"text-align: left\">=1+2.zip</td></tr>\r\n"
                              "<tr><td style=\"text-align: right\">4</td>"
                              "<td style=\"text-align: left\">&lt;b&gt;&amp;.zip</td></tr>\r\n"
                              "</table>\r\n</body>\r\n</html>\r\n"_s))
        << html.toStdString();
}

// A file that cannot be written is an error that names it.
TEST_F(LogExport, UnwritableFileRaisesNamingIt)
{
    addLog(1, 1, u"a.zip"_s, 1, 0, u"a@b.c"_s, u"2026-03-09 21:59:59"_s);
    const QString missing = sandbox.root() + u"/no/such/folder/log.csv"_s;
    try {
        WriteLogCsv(missing, { TLogColumn::Filename }, { 1 });
        ADD_FAILURE() << "no error";
    } catch (const EOSError &e) {
        EXPECT_TRUE(e.Message().startsWith(u"Cannot write \""_s + missing + u"\": "_s)) << e.what();
    }
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_THROW(WriteLogHtml(missing, { { TLogColumn::Filename, 100 } }, { 1 }, TLogHtmlStyle()), EOSError);
}
