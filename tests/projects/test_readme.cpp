#include "core/daycount.h"
#include "projectdb.h"
#include "projects/project.h"
#include "projects/readme.h"

#include <QLocale>

namespace {

// The head as the page starts, @TITLE@ and @VERSION@ to be filled in.
const char HeadLines[] = R"(<!DOCTYPE html>
<html>
  <head>
    <meta http-equiv="Content-Type" content="text/html; charset=UTF-8" />
    <title>@TITLE@ @VERSION@</title>
    <style>
      a:link,a:visited{color:#0066cc;text-decoration:none;}
      a:hover{text-decoration:underline;}
      body,html{margin:0px;padding:0px;text-align:center;font:100%/140% Trebuchet,Verdana,Helvetica,Arial,sans serif;}
      #logo{background-color:#b9d1ea;padding:24px 32px 32px 32px;font-size:0.75em;}
      #logo img{margin-bottom:8px;}
      #logo button{font-size:1.8em;font-weight:bold;color:#0066cc;}
      #logoouter{float:right;padding:0px 2px 2px 2px;border:1px solid #ababab;border-top:none;background-color:#ffffff;}
      #logotext{width:128px;margin-top:8px;text-width:center;}
      #logowrap{position:absolute;top:0px;right:0px;text-align:center;}
      .pgap{margin-top:32px;}
      .tlabel{font-size:0.75em;color:#ababab;white-space:nowrap;padding:4px 16px 0px 0px;}
      tr{vertical-align:top;}
      .wrapper{width:900px;margin:0px auto;position:relative;text-align:left;}
    </style>
  </head>
  <body>
    <div class="wrapper">
      <div id="logowrap">
        <div id="logoouter">
          <div id="logo">
            <div id="logotext">
              created with<br />Bundlewick @PROGRAM@
            </div>
          </div>
        </div>
      </div>
)";

const char GenericBody[] = R"(      <h1 style="float:left;width:675px;">A&lt;b&gt; &amp; 100%s</h1>
      <table style="width:675px;clear:left;">
        <tr><td class="tlabel">PROJECT</td><td>A&lt;b&gt; &amp; 100%s</td></tr>
        <tr><td class="tlabel">VERSION</td><td>1.2.3</td></tr>
        <tr><td class="tlabel">ARCHIVE CREATED</td><td>09:05 on Friday 3 February 2012</td></tr>
        <tr><td class="tlabel">TOTAL FILES</td><td>3</td></tr>
        <tr><td class="tlabel">CHANGED FILES</td><td><span title="sub/two.txt">two.txt</span><br /><span title="three.txt">three.txt</span></td></tr>
        <tr><td class="tlabel">LAST ARCHIVE</td><td>12:00 on Saturday 1 February 2020</td></tr>
      </table>
    </div>
  </body>
</html>)";

const char DelphiBody[] = R"(      <h1 style="float:left;width:675px;">Tool 20120203-090500</h1>
      <table style="width:675px;clear:left;">
        <tr><td class="tlabel">PROJECT</td><td>Tool</td></tr>
        <tr><td class="tlabel">VERSION</td><td>20120203-090500</td></tr>
        <tr><td class="tlabel">ARCHIVE CREATED</td><td>09:05 on Friday 3 February 2012</td></tr>
        <tr><td class="tlabel">TOTAL FILES</td><td>1</td></tr>
        <tr><td class="tlabel">DELPHI PROJECT FILE</td><td>src/Tool.dpr</td></tr>
      </table>
      <h2>Notes</h2>
      <p>The <i>code</i> zip contains all required files archived in their relative directories, except files included in the Embacadero Delphi installer.</p>@LF@@LF@      <p>Components required to build this project are included along with all their dependencies, but they're not marked as components and will need to be identified by trial and error. Because some ancestors may not be included, there could be component files without a Register method. These will need a simple wrapper for installation into the Delphi IDE.</p>
      <p>Although the application should build with only the files contained in this zip, to run it you may need external files distributed in the installer for this version.</p>
    </div>
  </body>
</html>)";

// Source text with LF lines -> page text with CR LF lines; "@LF@" is a lone LF.
QString page(const char *head, const char *body, const QString &title, const QString &version)
{
    QString s = QString::fromUtf8(head) + QString::fromUtf8(body);
    s.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    s.replace(QLatin1String("@LF@"), QLatin1String("\n"));
    s.replace(QLatin1String("@TITLE@"), title);
    s.replace(QLatin1String("@VERSION@"), version);
    s.replace(QLatin1String("@PROGRAM@"),
              QStringLiteral("%1.%2.%3").arg(BW_VERSION_MAJOR).arg(BW_VERSION_MINOR).arg(BW_VERSION_RELEASE));
    return s;
}

class ReadMe : public ProjectDB
{
protected:
    QString g;

    void SetUp() override
    {
        if (QLocale::system().dayName(5) != QLatin1String("Friday"))
            GTEST_SKIP() << "needs an English or C locale";
        ProjectDB::SetUp();
        TReadMe::Clock = [] { return QDateTime(QDate(2012, 2, 3), QTime(9, 5, 30)); };
        g = sandbox.root() + QStringLiteral("/g/");
        setMTime(file(QStringLiteral("g/one.txt")), QDateTime(QDate(2020, 1, 1), QTime(8, 0)));
        setMTime(file(QStringLiteral("g/sub/two.txt")), QDateTime(QDate(2020, 3, 1), QTime(8, 0)));
        setMTime(file(QStringLiteral("g/three.txt")), QDateTime(QDate(2020, 4, 1), QTime(8, 0)));
    }
    void TearDown() override
    {
        TReadMe::Clock = nullptr;
        ProjectDB::TearDown();
    }
    std::unique_ptr<TProject> project(const QString &sTitle, double dSendDate, const QStringList &entries,
                                      const QString &sFile = QString())
    {
        const int id = addProject(0, sTitle, dSendDate);
        for (const QString &e : entries)
            addEntry(id, g + e);
        auto o = std::make_unique<TProjectGeneric>(id, sTitle, sFile);
        o->Parse();
        return o;
    }
    static double feb1() { return DateTimeToDays(QDateTime(QDate(2020, 2, 1), QTime(12, 0))); }
};

} // namespace

TEST_F(ReadMe, GenericPageWithChangedFilesAndLastArchive)
{
    // The title is escaped; a "%" stays as it is.
    const QString title = QStringLiteral("A<b> & 100%s");
    const auto o
        = project(title, feb1(),
                  { QStringLiteral("one.txt"), QStringLiteral("sub/two.txt"), QStringLiteral("three.txt") });
    ASSERT_EQ(o->ChangedFiles(), 2);
    const QString text = TReadMeGeneric::Execute(*o, g, QStringLiteral("1.2.3"));
    EXPECT_EQ(
        text,
        page(HeadLines, GenericBody, QStringLiteral("A&lt;b&gt; &amp; 100%s"), QStringLiteral("1.2.3")));

    // Saved: every line ends with CR LF, no byte-order mark.
    const QString saved = sandbox.path(QStringLiteral("out/readme.htm"));
    SaveReadMe(text, saved);
    QFile f(saved);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), (text + QStringLiteral("\r\n")).toUtf8());
}

TEST_F(ReadMe, DelphiPageFirstDelivery)
{
    const QString dpr = file(QStringLiteral("g/src/Tool.dpr"));
    const auto o = project(QStringLiteral("Tool"), -1, { QStringLiteral("src/Tool.dpr") }, dpr);
    const QString text = TReadMeDelphi::Execute(*o, g, QStringLiteral("20120203-090500"));
    EXPECT_EQ(text, page(HeadLines, DelphiBody, QStringLiteral("Tool"), QStringLiteral("20120203-090500")));

    const QString saved = sandbox.path(QStringLiteral("out/readme.htm"));
    SaveReadMe(text, saved);
    QFile f(saved);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.contains("installer.</p>\r\n\r\n      <p>Components"));
    EXPECT_TRUE(bytes.endsWith("</html>\r\n"));
}

TEST_F(ReadMe, ChangedFilesRowCases)
{
    const QString changedRow = QStringLiteral("CHANGED FILES");
    const QString lastRow
        = QStringLiteral("<tr><td class=\"tlabel\">LAST ARCHIVE</td><td>12:00 on Saturday 1 "
                         "February 2020</td></tr>\r\n");
    // Every file changed: no row, but the last archive.
    auto o = project(QStringLiteral("All"), feb1(), { QStringLiteral("sub/two.txt") });
    QString text = TReadMeGeneric::Execute(*o, g, QStringLiteral("1"));
    EXPECT_FALSE(text.contains(changedRow));
    EXPECT_TRUE(text.contains(lastRow));

    // Nothing changed: "none".
    o = project(QStringLiteral("None"), feb1(), { QStringLiteral("one.txt") });
    text = TReadMeGeneric::Execute(*o, g, QStringLiteral("1"));
    EXPECT_TRUE(text.contains(
        QStringLiteral("        <tr><td class=\"tlabel\">CHANGED FILES</td><td>none</td></tr>\r\n"
                       "        <tr><td")));

    // Never delivered, with an item whose time cannot be read: the counts
    // differ, yet neither row appears.
    struct TWithParsed : TProjectGeneric
    {
        using TProjectGeneric::TProjectGeneric;
        void Parse() override
        {
            AddItem(QStringLiteral("Gone=/nonexistent/Gone.pas"));
            TProjectGeneric::Parse();
        }
    };
    const int id = addProject(0, QStringLiteral("Gone"), -1);
    addEntry(id, g + QStringLiteral("one.txt"));
    TWithParsed oGone(id, QStringLiteral("Gone"), QString());
    oGone.Parse();
    ASSERT_EQ(oGone.FileCount(), 2);
    ASSERT_EQ(oGone.ChangedFiles(), 1);
    text = TReadMeGeneric::Execute(oGone, g, QStringLiteral("1"));
    EXPECT_FALSE(text.contains(changedRow));
    EXPECT_FALSE(text.contains(QStringLiteral("LAST ARCHIVE")));
}

// Every inserted value is escaped, so that no title or file name can add
// markup to the page.
TEST_F(ReadMe, InsertedValuesAreEscaped)
{
    const QString odd = QStringLiteral("d<i>r&\"q\"/x<y>&z\".txt");
    setMTime(file(QStringLiteral("g/") + odd), QDateTime(QDate(2020, 3, 1), QTime(8, 0)));
    const QString dpr = file(QStringLiteral("g/<s>&\"/T.dpr"));
    const QString title = QStringLiteral("<script>alert(\"&amp;\")</script>");
    const auto o = project(title, feb1(), { odd, QStringLiteral("one.txt") }, dpr);
    ASSERT_EQ(o->ChangedFiles(), 1);
    const QString text = TReadMeDelphi::Execute(*o, g, QStringLiteral("1<2>\"&"));
    const QString t = QStringLiteral("&lt;script&gt;alert(&quot;&amp;amp;&quot;)&lt;/script&gt;");
    const QString v = QStringLiteral("1&lt;2&gt;&quot;&amp;");
    EXPECT_TRUE(text.contains(QStringLiteral("<title>") + t + u' ' + v + QStringLiteral("</title>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<h1 style=\"float:left;width:675px;\">") + t + u' ' + v
                              + QStringLiteral("</h1>")));
    EXPECT_TRUE(text.contains(QStringLiteral("PROJECT</td><td>") + t + QStringLiteral("</td>")));
    EXPECT_TRUE(text.contains(QStringLiteral("VERSION</td><td>") + v + QStringLiteral("</td>")));
    EXPECT_TRUE(text.contains(
        QStringLiteral("<span title=\"d&lt;i&gt;r&amp;&quot;q&quot;/x&lt;y&gt;&amp;z&quot;.txt\">"
                       "x&lt;y&gt;&amp;z&quot;.txt</span>")));
    EXPECT_TRUE(text.contains(QStringLiteral("DELPHI PROJECT FILE</td><td>&lt;s&gt;&amp;&quot;/T.dpr</td>")));
    EXPECT_FALSE(text.contains(QStringLiteral("<script>")));
}
