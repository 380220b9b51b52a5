#include "projects/readme.h"

#include "core/daycount.h"
#include "core/listfiles.h"
#include "core/productinfo.h"
#include "core/sqlformat.h"
#include "core/textfiles.h"
#include "core/winutils.h"
#include "projects/project.h"
#include "projects/projectstore.h"

#include <QLocale>
#include <QStringList>

std::function<QDateTime()> TReadMe::Clock;

namespace {

const QLatin1String CRLF("\r\n");

// Every value put into the page: a title or file name must never add markup.
QString Html(const QString &s)
{
    return s.toHtmlEscaped();
}

QString NowLocal()
{
    return TReadMe::DateText(TReadMe::Clock ? TReadMe::Clock() : QDateTime::currentDateTime());
}

// The program's major.minor.release.
QString ShortVersion()
{
    const QString s = AppVersion();
    const qsizetype blank = s.indexOf(QLatin1Char(' '));
    return blank < 0 ? s : s.left(blank);
}

QString HeadTemplate()
{
    const QString logo = ProductWebSite + QLatin1String("images/icon128.png");
    QList<std::pair<int, QString>> lines = {
        { 0, QStringLiteral("<!DOCTYPE html>") },
        { 0, QStringLiteral("<html>") },
        { 2, QStringLiteral("<head>") },
        { 4, QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\" />") },
        { 4, QStringLiteral("<title>%s %s</title>") },
        { 4, QStringLiteral("<style>") },
        { 6, QStringLiteral("a:link,a:visited{color:#0066cc;text-decoration:none;}") },
        { 6, QStringLiteral("a:hover{text-decoration:underline;}") },
        { 6,
          QStringLiteral("body,html{margin:0px;padding:0px;text-align:center;font:100%%/140%% "
                         "Trebuchet,Verdana,Helvetica,Arial,sans serif;}") },
        { 6,
          QStringLiteral("#logo{background-color:#b9d1ea;padding:24px 32px 32px 32px;font-size:0.75em;}") },
        { 6, QStringLiteral("#logo img{margin-bottom:8px;}") },
        { 6, QStringLiteral("#logo button{font-size:1.8em;font-weight:bold;color:#0066cc;}") },
        { 6,
          QStringLiteral("#logoouter{float:right;padding:0px 2px 2px 2px;border:1px solid #ababab;"
                         "border-top:none;background-color:#ffffff;}") },
        { 6, QStringLiteral("#logotext{width:128px;margin-top:8px;text-width:center;}") },
        { 6, QStringLiteral("#logowrap{position:absolute;top:0px;right:0px;text-align:center;}") },
        { 6, QStringLiteral(".pgap{margin-top:32px;}") },
        { 6,
          QStringLiteral(
              ".tlabel{font-size:0.75em;color:#ababab;white-space:nowrap;padding:4px 16px 0px 0px;}") },
        { 6, QStringLiteral("tr{vertical-align:top;}") },
        { 6, QStringLiteral(".wrapper{width:900px;margin:0px auto;position:relative;text-align:left;}") },
        { 4, QStringLiteral("</style>") },
        { 2, QStringLiteral("</head>") },
        { 2, QStringLiteral("<body>") },
        { 4, QStringLiteral("<div class=\"wrapper\">") },
        { 6, QStringLiteral("<div id=\"logowrap\">") },
        { 8, QStringLiteral("<div id=\"logoouter\">") },
        { 10, QStringLiteral("<div id=\"logo\">") },
        { 12,
          QStringLiteral("<img src=\"") + logo
              + QStringLiteral("\" width=\"128\" height=\"128\" alt=\"Bundlewick\" />") },
        { 12, QStringLiteral("<div id=\"logotext\">") },
        { 14,
          QStringLiteral("<a href=\"") + ProductWebSite
              + QStringLiteral("\">created with<br />Bundlewick %s</a>") },
        { 12, QStringLiteral("</div>") },
        { 10, QStringLiteral("</div>") },
        { 8, QStringLiteral("</div>") },
        { 6, QStringLiteral("</div>") },
    };
    // Without a web site of the build the logo (which lives there) is left
    // out and the credit is plain text.
    if (ProductWebSite.isEmpty()) {
        lines.removeIf([](const std::pair<int, QString> &line) {
            return line.second.startsWith(QLatin1String("<img src="));
        });
        for (auto &line : lines)
            if (line.second.startsWith(QLatin1String("<a href=\"\">")))
                line.second = QStringLiteral("created with<br />Bundlewick %s");
    }
    QString text;
    for (const auto &[indent, line] : lines)
        text += QString(indent, QLatin1Char(' ')) + line + CRLF;
    return text;
}

} // namespace

QString TReadMe::DateText(const QDateTime &dtLocal)
{
    const QLocale locale = QLocale::system();
    const QDateTime local = dtLocal.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    return QStringLiteral("%1:%2 on %3 %4 %5 %6")
        .arg(time.hour(), 2, 10, QLatin1Char('0'))
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(locale.dayName(date.dayOfWeek(), QLocale::LongFormat))
        .arg(date.day())
        .arg(locale.monthName(date.month(), QLocale::LongFormat))
        .arg(date.year(), 4, 10, QLatin1Char('0'));
}

QString TReadMe::DayText(double dDays)
{
    return DateText(DaysToDateTime(dDays));
}

TReadMe::TReadMe(const TProject &oProject, const QString &sRoot, const QString &sVersion)
    : FProject(oProject)
    , FRoot(sRoot)
    , FVersion(sVersion)
{ }

QString TReadMe::Head() const
{
    return SQLFormat(HeadTemplate(), { Html(FProject.Title()), Html(FVersion), Html(ShortVersion()) });
}

QString TReadMe::SummaryTable() const
{
    // Built by concatenation so that a "%" in a value stays as it is.
    return QStringLiteral("      <table style=\"width:675px;clear:left;\">\r\n"
                          "        <tr><td class=\"tlabel\">PROJECT</td><td>")
        + Html(FProject.Title())
        + QStringLiteral("</td></tr>\r\n"
                         "        <tr><td class=\"tlabel\">VERSION</td><td>")
        + Html(FVersion)
        + QStringLiteral("</td></tr>\r\n"
                         "        <tr><td class=\"tlabel\">ARCHIVE CREATED</td><td>")
        + Html(NowLocal())
        + QStringLiteral("</td></tr>\r\n"
                         "        <tr><td class=\"tlabel\">TOTAL FILES</td><td>")
        + QString::number(FProject.FileCount()) + QStringLiteral("</td></tr>\r\n") + ChangedFilesRow()
        + LastArchiveRow();
}

QString TReadMe::ChangedFilesRow() const
{
    if (FProject.FileCount() == FProject.ChangedFiles())
        return {};
    if (FProject.ChangedFiles() == 0)
        return QStringLiteral("        <tr><td class=\"tlabel\">CHANGED FILES</td><td>none</td></tr>\r\n");
    const double dSendDate = TProjectStore::SendDate(FProject.ProjectID());
    if (dSendDate == 0)
        return {};

    // The times the change count was made from, so that list and count agree.
    const qint64 iSince = SendDateMSecs(dSendDate);
    QString names;
    for (const TFileItem &item : FProject.Items()) {
        const QString path = item.Path();
        const qint64 iModified = item.oFacts.Known() ? item.oFacts.iModified : FileModifiedMSecs(path);
        if (iModified == kNoFileTime || iModified <= iSince)
            continue;
        if (!names.isEmpty())
            names += QLatin1String("<br />");
        names += QLatin1String("<span title=\"") + Html(Relative(path)) + QLatin1String("\">")
            + Html(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)) + QLatin1String("</span>");
    }
    if (names.isEmpty())
        return {};
    return QStringLiteral("        <tr><td class=\"tlabel\">CHANGED FILES</td><td>") + names
        + QStringLiteral("</td></tr>\r\n");
}

QString TReadMe::LastArchiveRow() const
{
    const double dSendDate = TProjectStore::SendDate(FProject.ProjectID());
    if (dSendDate == 0)
        return {};
    return QStringLiteral("        <tr><td class=\"tlabel\">LAST ARCHIVE</td><td>") + Html(DayText(dSendDate))
        + QStringLiteral("</td></tr>\r\n");
}

QString TReadMe::Tail()
{
    return QStringLiteral("    </div>\r\n  </body>\r\n</html>");
}

QString TReadMe::Relative(const QString &sPath) const
{
    return sPath.mid(FRoot.size());
}

QString TReadMeGeneric::Execute(const TProject &oProject, const QString &sRoot, const QString &sVersion)
{
    const TReadMeGeneric writer(oProject, sRoot, sVersion);
    return writer.Page();
}

QString TReadMeGeneric::Page() const
{
    return Head() + QStringLiteral("      <h1 style=\"float:left;width:675px;\">") + Html(FProject.Title())
        + QStringLiteral("</h1>\r\n") + SummaryTable() + QStringLiteral("      </table>\r\n") + Tail();
}

QString TReadMeDelphi::Execute(const TProject &oProject, const QString &sRoot, const QString &sVersion)
{
    const TReadMeDelphi writer(oProject, sRoot, sVersion);
    return writer.Page();
}

QString TReadMeDelphi::Page() const
{
    return Head() + QStringLiteral("      <h1 style=\"float:left;width:675px;\">") + Html(FProject.Title())
        + QLatin1Char(' ') + Html(FVersion) + QStringLiteral("</h1>\r\n") + SummaryTable()
        + QStringLiteral("        <tr><td class=\"tlabel\">DELPHI PROJECT FILE</td><td>")
        + Html(Relative(FProject.ProjectFile())) + QStringLiteral("</td></tr>\r\n      </table>\r\n")
        + QStringLiteral(
               "      <h2>Notes</h2>\r\n"
               "      <p>The <i>code</i> zip contains all required files archived in their relative "
               "directories, "
               "except files included in the Embacadero Delphi installer.</p>\n\n"
               "      <p>Components required to build this project are included along with all their "
               "dependencies, but they're not marked as components and will need to be identified by trial "
               "and "
               "error. Because some ancestors may not be included, there could be component files without a "
               "Register method. These will need a simple wrapper for installation into the Delphi "
               "IDE.</p>\r\n"
               "      <p>Although the application should build with only the files contained in this zip, to "
               "run "
               "it you may need external files distributed in the installer for this version.</p>\r\n")
        + Tail();
}

void SaveReadMe(const QString &sText, const QString &sFileName)
{
    SaveTextFile(sText, sFileName);
}
