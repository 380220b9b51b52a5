#include "core/settingkeys.h"
#include "core/winutils.h"
#include "ui/frmlog.h"
#include "ui/linklabel.h"
#include "ui/logmodel.h"
#include "uitest.h"

#include <QCheckBox>
#include <QColor>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <time.h>

using namespace Qt::StringLiterals;

namespace {

// Local time two hours ahead of universal time, no daylight saving.
class FixedZone
{
public:
    FixedZone()
        : FOld(qgetenv("TZ"))
        , FHad(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", "XST-2");
        tzset();
    }
    ~FixedZone()
    {
        if (FHad)
            qputenv("TZ", FOld);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray FOld;
    bool FHad;
};

} // namespace

class TestFrmLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<bwtest::UiFixture> FFx;
    std::unique_ptr<FixedZone> FZone;

    template<typename T> static T *child(QWidget &frm, const char *name)
    {
        T *widget = frm.findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qWarning("no %s", name);
        return widget;
    }
    static QCheckBox *box(QWidget &frm, const char *name) { return child<QCheckBox>(frm, name); }

    void addLog(int iSuccess, int iSource, const QString &sFile, int iFiles, int iMethod,
                const QString &sDest, const QString &sWhen)
    {
        FFx->db->ExecSQLFmt(
            u"INSERT INTO log (success, source, filename, files, method, destination, "
            "modified) VALUES (%d, %d, '%s', %d, %d, '%s', '%s')"_s,
            { iSuccess, iSource, SQLEscape(sFile), iFiles, iMethod, SQLEscape(sDest), sWhen });
    }
    // Ids 1 to 5; local time is two hours ahead of the stored times.
    void addFive()
    {
        addLog(1, 1, u"Tool_1.0.zip"_s, 3, 0, u"ann@example.org"_s, u"2026-03-09 21:59:59"_s);
        addLog(0, 2, u"files.zip"_s, 2, 1, u"/out"_s, u"2026-03-09 22:00:00"_s);
        addLog(1, 2, u"O'Brien.zip"_s, 1, 2, u"ftp.example.org"_s, u"2026-03-10 21:59:59"_s);
        addLog(1, 1, u"tool_2.0.zip"_s, 5, 2, u"Ftp, Inc"_s, u"2026-03-10 22:00:00"_s);
        addLog(0, 1, u"Tool_1.0.zip"_s, 3, 0, u"bob@example.org\nand \"Carl\""_s, u"2026-03-11 08:00:00"_s);
    }
    static QList<int> shownIds(TfrmLog &frm) { return frm.Model()->Ids(); }
    static QStringList column(TfrmLog &frm, TLogColumn eColumn)
    {
        QStringList texts;
        for (int i = 0; i < frm.Model()->rowCount(); ++i)
            texts << frm.Model()->index(i, int(eColumn)).data().toString();
        return texts;
    }
    static void clickHeader(TfrmLog &frm, TLogColumn eColumn)
    {
        QHeaderView *header = child<QTableView>(frm, "listLog")->horizontalHeader();
        const int x = header->sectionViewportPosition(int(eColumn)) + header->sectionSize(int(eColumn)) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
    static QByteArray readFile(const QString &sFile)
    {
        QFile file(sFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        FZone = std::make_unique<FixedZone>();
        FFx = std::make_unique<bwtest::UiFixture>();
        addFive();
    }
    void cleanup()
    {
        FFx.reset();
        FZone.reset();
    }

    void opensWithDefaults()
    {
        TfrmLog frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QCOMPARE(frm.windowTitle(), u"Bundlewick :: Log"_s);
        QVERIFY(frm.minimumWidth() >= 720 && frm.minimumHeight() >= 360);
        // Every filter control gets the room it asks for.
        for (QWidget *widget : frm.findChild<QWidget *>(u"pnlFilters"_s)
                                   ->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(widget->width() >= widget->minimumSizeHint().width(), qPrintable(widget->objectName()));
        for (const char *name :
             { "cbSuccess", "cbFailure", "cbZipAndDeliver", "cbQuickSend", "cbEmail", "cbFile", "cbFTP" })
            QVERIFY2(box(frm, name)->isChecked(), name);
        QVERIFY(!box(frm, "cbDateFrom")->isChecked());
        QVERIFY(!box(frm, "cbDateTo")->isChecked());
        QCOMPARE(child<QLineEdit>(frm, "edFilename")->text(), QString());
        QCOMPARE(child<QDateEdit>(frm, "dtDateTo")->date(), QDate::currentDate());
        QCOMPARE(child<QDateEdit>(frm, "dtDateFrom")->date(), QDate::currentDate().addDays(-365));
        QVERIFY(!child<QPushButton>(frm, "btnFilter")->isEnabled());
        QCOMPARE(shownIds(frm), QList<int>({ 1, 2, 3, 4, 5 }));
        QCOMPARE(column(frm, TLogColumn::Success),
                 QStringList({ u"Yes"_s, u"No"_s, u"Yes"_s, u"Yes"_s, u"No"_s }));
        QCOMPARE(column(frm, TLogColumn::Method),
                 QStringList({ u"Email"_s, u"File"_s, u"FTP"_s, u"FTP"_s, u"Email"_s }));
        QCOMPARE(column(frm, TLogColumn::When).first(), u"2026-03-09 21:59:59"_s);
        // Showing pressed Filter: the defaults are stored.
        QVERIFY(Params->GetBool(u"Log filter success"_s, false));
        QCOMPARE(Params->GetInt(u"Log filter to date"_s, 0), TodayDayCount());
        QHeaderView *header = child<QTableView>(frm, "listLog")->horizontalHeader();
        QVERIFY(header->sectionsMovable());
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorSection(), -1);
        QCOMPARE(THints::Hint(child<QPushButton>(frm, "btnFilter")),
                 u"Filter|Save and apply the current filters.\r\n"_s);
    }

    void linkedBoxesNeverLeaveAGroupEmpty()
    {
        TfrmLog frm;
        frm.show();
        QCheckBox *success = box(frm, "cbSuccess");
        QCheckBox *failure = box(frm, "cbFailure");
        success->click();
        QVERIFY(!success->isChecked());
        QVERIFY(child<QPushButton>(frm, "btnFilter")->isEnabled());
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>({ 2, 5 }));
        QVERIFY(!child<QPushButton>(frm, "btnFilter")->isEnabled());
        QVERIFY(!Params->GetBool(u"Log filter success"_s, true));
        // The second box of the pair: both come back.
        failure->click();
        QVERIFY(success->isChecked());
        QVERIFY(failure->isChecked());

        box(frm, "cbQuickSend")->click();
        box(frm, "cbZipAndDeliver")->click();
        QVERIFY(box(frm, "cbQuickSend")->isChecked());
        QVERIFY(box(frm, "cbZipAndDeliver")->isChecked());

        box(frm, "cbEmail")->click();
        box(frm, "cbFile")->click();
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>({ 3, 4 }));
        box(frm, "cbFTP")->click();
        for (const char *name : { "cbEmail", "cbFile", "cbFTP" })
            QVERIFY2(box(frm, name)->isChecked(), name);

        // Show all: every box, no name, no dates, applied at once.
        child<QLineEdit>(frm, "edFilename")->setText(u"zip"_s);
        box(frm, "cbDateTo")->setChecked(true);
        QTest::mouseClick(child<TLinkLabel>(frm, "lblAll"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(frm, "edFilename")->text(), QString());
        QVERIFY(!box(frm, "cbDateTo")->isChecked());
        QVERIFY(!child<QPushButton>(frm, "btnFilter")->isEnabled());
        QCOMPARE(shownIds(frm), QList<int>({ 1, 2, 3, 4, 5 }));
        QCOMPARE(Params->GetInt(u"Log filter FTP"_s, 0), 1);
    }

    void fileNameFilterTakesQuotesAndIgnoresBlanks()
    {
        TfrmLog frm;
        frm.show();
        auto *name = child<QLineEdit>(frm, "edFilename");
        QTest::keyClicks(name, u"O'Br"_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>({ 3 }));
        QCOMPARE(Params->GetStr(u"Log filter filename"_s), u"O'Br"_s);
        name->setText(u"   "_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>({ 1, 2, 3, 4, 5 }));
        // LIKE is case-blind for ASCII: "tool" finds both spellings.
        name->setText(u"tool_"_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>({ 1, 4, 5 }));
    }

    void dateBoundsCoverWholeLocalDays()
    {
        TfrmLog frm;
        frm.show();
        auto *from = child<QDateEdit>(frm, "dtDateFrom");
        auto *to = child<QDateEdit>(frm, "dtDateTo");
        // Changing a picker ticks its box and enables Filter.
        from->setDate(QDate(2026, 3, 10));
        QVERIFY(box(frm, "cbDateFrom")->isChecked());
        QVERIFY(child<QPushButton>(frm, "btnFilter")->isEnabled());
        to->setDate(QDate(2026, 3, 10));
        QVERIFY(box(frm, "cbDateTo")->isChecked());
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        // Local 10 March is 09 22:00:00 to 10 21:59:59 in universal time.
        QCOMPARE(shownIds(frm), QList<int>({ 2, 3 }));
        QCOMPARE(Params->GetInt(u"Log filter from date"_s, 0), 46091);
        QCOMPARE(Params->GetInt(u"Log filter to date"_s, 0), 46091);

        to->setDate(QDate(2026, 3, 9));
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>());
        box(frm, "cbDateFrom")->setChecked(false);
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>({ 1 }));
    }

    void filterButtonFollowsTheDifference()
    {
        Params->SetStr(u"Log filter filename"_s, u"zip"_s);
        TfrmLog frm;
        frm.show();
        auto *filter = child<QPushButton>(frm, "btnFilter");
        auto *name = child<QLineEdit>(frm, "edFilename");
        QCOMPARE(name->text(), u"zip"_s);
        QVERIFY(!filter->isEnabled());
        QTest::keyClick(name, Qt::Key_Backspace);
        QVERIFY(filter->isEnabled());
        QTest::keyClick(name, Qt::Key_P);
        QVERIFY(!filter->isEnabled());
        // Compared exactly: a blank at the end is a change.
        QTest::keyClick(name, Qt::Key_Space);
        QVERIFY(filter->isEnabled());
        QTest::keyClick(name, Qt::Key_Backspace);
        QVERIFY(!filter->isEnabled());
        // Only a date, with its box left as it was.
        auto *to = child<QDateEdit>(frm, "dtDateTo");
        box(frm, "cbDateTo")->setChecked(true);
        box(frm, "cbDateTo")->setChecked(false);
        QVERIFY(!filter->isEnabled());
        to->setDate(to->date().addDays(-1));
        QVERIFY(filter->isEnabled());
        box(frm, "cbDateTo")->setChecked(false);
        QVERIFY(filter->isEnabled());
        QTest::mouseClick(filter, Qt::LeftButton);
        QVERIFY(!filter->isEnabled());
        QCOMPARE(Params->GetInt(u"Log filter to date"_s, 0), TodayDayCount() - 1);
    }

    void headerClicksSortInOneDirectionThenTheOther()
    {
        TfrmLog frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        clickHeader(frm, TLogColumn::Source);
        QCOMPARE(column(frm, TLogColumn::Source),
                 QStringList({ u"QuickSend"_s, u"QuickSend"_s, u"ZipAndDeliver"_s, u"ZipAndDeliver"_s,
                               u"ZipAndDeliver"_s }));
        QCOMPARE(shownIds(frm), QList<int>({ 2, 3, 1, 4, 5 }));
        clickHeader(frm, TLogColumn::Source);
        QCOMPARE(shownIds(frm), QList<int>({ 5, 4, 1, 3, 2 }));
        QCOMPARE(child<QTableView>(frm, "listLog")->horizontalHeader()->sortIndicatorOrder(),
                 Qt::DescendingOrder);
        // Another column keeps the direction.
        clickHeader(frm, TLogColumn::Destination);
        QCOMPARE(column(frm, TLogColumn::Destination).first(), u"ftp.example.org"_s);
        clickHeader(frm, TLogColumn::Destination);
        // By character codes: "/" < "F" < "a" < "b" < "f".
        QCOMPARE(shownIds(frm), QList<int>({ 2, 4, 1, 5, 3 }));
        // A refill keeps the sort.
        box(frm, "cbFailure")->click();
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        QCOMPARE(shownIds(frm), QList<int>({ 4, 1, 3 }));
    }

    void csvFollowsTheDisplayOrderAndQuotes()
    {
        TfrmLog frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QHeaderView *header = child<QTableView>(frm, "listLog")->horizontalHeader();
        header->moveSection(header->visualIndex(int(TLogColumn::When)), 0);
        const QString sFile = FFx->sandbox->path(u"out/log.csv"_s);
        TDialogs::PushFileName(sFile);
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSaveCSV"), Qt::LeftButton);
        const QByteArray csv = readFile(sFile);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QString text = QString::fromUtf8(csv.mid(3));
        const QStringList expected = {
            u"When,Success,Source,Filename,Files,Method,Destination"_s,
            u"2026-03-09 21:59:59,Yes,ZipAndDeliver,Tool_1.0.zip,3,Email,ann@example.org"_s,
            u"2026-03-09 22:00:00,No,QuickSend,files.zip,2,File,/out"_s,
            u"2026-03-10 21:59:59,Yes,QuickSend,O'Brien.zip,1,FTP,ftp.example.org"_s,
            u"2026-03-10 22:00:00,Yes,ZipAndDeliver,tool_2.0.zip,5,FTP,\"Ftp, Inc\""_s,
            u"2026-03-11 08:00:00,No,ZipAndDeliver,Tool_1.0.zip,3,Email,\"bob@example.org\nand \"\"Carl\"\"\""_s,
        };
        QCOMPARE(text, expected.join(u"\r\n"_s) + u"\r\n"_s);
        QCOMPARE(Params->GetStr(u"Log output folder"_s), FFx->sandbox->path(u"out"_s));
        const auto shown = TDialogs::Shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].sTitle, u"Save as a spreadsheet"_s);
        QCOMPARE(shown[1].sText, u"This log has been saved as a spreadsheet. Do you want to view it now?"_s);

        // The web page: same order, escaped texts, the page's character set.
        FFx->db->ExecSQL(u"UPDATE log SET filename = '<b>&.zip' WHERE id = 2"_s);
        box(frm, "cbSuccess")->click();
        QTest::mouseClick(child<QPushButton>(frm, "btnFilter"), Qt::LeftButton);
        const QString sHtml = FFx->sandbox->path(u"out/log.htm"_s);
        TDialogs::PushFileName(sHtml);
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSaveHTML"), Qt::LeftButton);
        const QString html = QString::fromUtf8(readFile(sHtml));
        QVERIFY(html.contains(u"charset=utf-8"_s));
        QVERIFY(html.contains(u"&lt;b&gt;&amp;.zip"_s));
        QVERIFY(!html.contains(u"ann@example.org"_s));
        QVERIFY(html.indexOf(u">When</th>"_s) < html.indexOf(u">Success</th>"_s));
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s).last(),
                 u"This log has been saved as a web page. Do you want to view it now?"_s);
    }

    void columnWidthsComeBack()
    {
        Params->SetStr(u"Log column widths"_s, u"80,abc,30"_s);
        {
            TfrmLog frm;
            QHeaderView *header = child<QTableView>(frm, "listLog")->horizontalHeader();
            QCOMPARE(header->sectionSize(0), 80);
            QCOMPARE(header->sectionSize(1), 120);
            QCOMPARE(header->sectionSize(2), 50);
            QCOMPARE(header->sectionSize(6), 120);
            header->resizeSection(3, 210);
        }
        QCOMPARE(Params->GetStr(u"Log column widths"_s), u"80,120,50,210,120,120,120"_s);
        TfrmLog frm;
        QCOMPARE(child<QTableView>(frm, "listLog")->horizontalHeader()->sectionSize(3), 210);
    }

    void failedRowsSayNoInRedWithTheirReason()
    {
        FFx->db->ExecSQL(u"UPDATE log SET log = 'Unable to save output files.zip: the folder /out does not "
                         "exist' WHERE id = 2"_s);
        TfrmLog frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        const QAbstractItemModel *model = frm.Model();
        QCOMPARE(model->index(1, int(TLogColumn::Success)).data().toString(), u"No"_s);
        QCOMPARE(model->index(1, int(TLogColumn::Success)).data(Qt::ForegroundRole).value<QColor>(),
                 QColor(255, 0, 0));
        QCOMPARE(model->index(1, int(TLogColumn::Destination)).data(Qt::ToolTipRole).toString(),
                 u"Failed: Unable to save output files.zip: the folder /out does not exist"_s);
        // A row from before the reason was kept says so.
        QCOMPARE(model->index(4, int(TLogColumn::Filename)).data(Qt::ToolTipRole).toString(),
                 u"Failed (the reason was not recorded)"_s);
        // Successes: no colour, no tooltip.
        QVERIFY(!model->index(0, int(TLogColumn::Success)).data(Qt::ForegroundRole).isValid());
        QVERIFY(!model->index(0, int(TLogColumn::Filename)).data(Qt::ToolTipRole).isValid());
    }

    void enterInTheFileNameAppliesTheFilter()
    {
        TfrmLog frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        auto *name = child<QLineEdit>(frm, "edFilename");
        name->setFocus();
        QTest::keyClicks(name, u"tool"_s);
        QCOMPARE(shownIds(frm), QList<int>({ 1, 2, 3, 4, 5 }));
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(shownIds(frm), QList<int>({ 1, 4, 5 }));
        QVERIFY(frm.isVisible());
        QVERIFY(!child<QPushButton>(frm, "btnFilter")->isEnabled());
        QCOMPARE(Params->GetStr(u"Log filter filename"_s), u"tool"_s);
    }

    void aStoredToDateIsNotRestored()
    {
        Params->SetBool(u"Log filter to"_s, true);
        Params->SetInt(u"Log filter to date"_s, TodayDayCount() - 3);
        const QString sNow = QDateTime::currentDateTimeUtc().toString(u"yyyy-MM-dd HH:mm:ss"_s);
        addLog(1, 2, u"today.zip"_s, 1, 1, u"/out"_s, sNow);
        TfrmLog frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QVERIFY(box(frm, "cbDateTo")->isChecked());
        QCOMPARE(child<QDateEdit>(frm, "dtDateTo")->date(), QDate::currentDate());
        QVERIFY(!child<QPushButton>(frm, "btnFilter")->isEnabled());
        QCOMPARE(shownIds(frm).last(), 6);
        QCOMPARE(Params->GetInt(u"Log filter to date"_s, 0), TodayDayCount());
    }

    void exportProposesANameInAFolderThatExists()
    {
        // The sandbox's home has neither a desktop nor a documents folder.
        const QString home = FFx->sandbox->root() + u"/home"_s;
        QDir(home).removeRecursively();
        QDir().mkpath(home);
        TfrmLog frm;
        frm.show();
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSaveCSV"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"save"_s), QStringList { home + u"/Bundlewick log.csv"_s });
        // The documents folder once it exists; an export folder that went away is passed over.
        QDir().mkpath(home + u"/Documents"_s);
        Params->SetStr(u"Log output folder"_s, FFx->sandbox->root() + u"/gone"_s);
        TDialogs::Clear();
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSaveHTML"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"save"_s), QStringList { home + u"/Documents/Bundlewick log.htm"_s });
        // The folder of the last export, which exists.
        Params->SetStr(u"Log output folder"_s, FFx->sandbox->root());
        TDialogs::Clear();
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSaveCSV"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"save"_s),
                 QStringList { FFx->sandbox->root() + u"/Bundlewick log.csv"_s });
    }

    void columnsStartSizedToTheirContent()
    {
        const QString sLong = u"A_rather_long_project_title_20261209-120000.zip"_s;
        addLog(1, 1, sLong, 1, 1, u"/out"_s, u"2026-03-12 08:00:00"_s);
        TfrmLog frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QHeaderView *header = child<QTableView>(frm, "listLog")->horizontalHeader();
        const QFontMetrics metrics = child<QTableView>(frm, "listLog")->fontMetrics();
        QVERIFY(header->sectionSize(int(TLogColumn::Filename)) > metrics.horizontalAdvance(sLong));
        QVERIFY(header->sectionSize(int(TLogColumn::When))
                > metrics.horizontalAdvance(u"2026-12-31 23:59:59"_s));
        QVERIFY(header->sectionSize(int(TLogColumn::Success))
                < header->sectionSize(int(TLogColumn::Filename)) / 2);
    }

    void modelHoldsOnlyAFewPages()
    {
        FFx->db->ExecSQL(u"WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 3000) "
                         "INSERT INTO log (success, source, filename, files, method, destination, modified) "
                         "SELECT 1, 1, 'bulk.zip', 1, 1, '/out', '2026-04-01 10:00:00' FROM n"_s);
        TLogModel model;
        model.Refill(TLogFilter());
        QCOMPARE(model.rowCount(), 3005);
        for (int i = 0; i < model.rowCount(); i += 7)
            QVERIFY(!model.index(i, int(TLogColumn::When)).data().toString().isEmpty());
        QVERIFY(model.CachedPages() <= TLogModel::PageLimit);
        QCOMPARE(model.index(3004, int(TLogColumn::Filename)).data().toString(), u"bulk.zip"_s);
        QCOMPARE(model.index(0, 0).data(TLogModel::IdRole).toInt(), 1);
    }
};

QTEST_MAIN(TestFrmLog)
#include "test_frmlog.moc"
