#include "core/globals.h"
#include "core/regutils.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "delivery/deliveryjob.h"
#include "delivery/deliveryrun.h"
#include "delivery/sendtasks.h"
#include "projects/project.h"
#include "support/servers.h"
#include "support/testenv.h"
#include "ui/dialogs.h"
#include "ui/frmgenerate.h"
#include "ui/linklabel.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSemaphore>
#include <QTest>
#include <QTimer>
#include <atomic>

using namespace Qt::StringLiterals;

class TestFrmGenerate : public QObject
{
    Q_OBJECT

    std::unique_ptr<bwtest::TestSandbox> FSandbox;
    std::unique_ptr<TSQLiteDatabase> FDb;
    std::vector<std::unique_ptr<TProject>> FProjects;

    // A parsed Generic project with one file per File task folder; a folder
    // name starting with "-" stays missing.
    TProject *project(const QString &sTitle, const QStringList &folders)
    {
        FDb->ExecSQLFmt(u"INSERT INTO projects (type, title) VALUES (0, '%s')"_s, { sTitle });
        const int id = int(FDb->LastInsertRowID());
        const QString sFile = FSandbox->writeFile(sTitle + u"/main.txt"_s, "main");
        FDb->ExecSQLFmt(u"INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"_s, { id, sFile });
        for (const QString &folder : folders) {
            FDb->ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword) VALUES (%d, 1, '')"_s,
                            { id });
            const QString sPath = FSandbox->root() + u"/"_s + folder;
            if (!folder.startsWith(u'-'))
                QDir().mkpath(sPath);
            SetSendParam(int(FDb->LastInsertRowID()), u"FileFolder"_s, sPath);
        }
        FProjects.push_back(CreateProject(pkGeneric, id, sTitle, QString()));
        FProjects.back()->Parse();
        return FProjects.back().get();
    }
    template<typename T> static T *child(QWidget &frm, const char *name)
    {
        return frm.findChild<T *>(QString::fromLatin1(name));
    }
    // Whether the image holds a pixel of exactly this colour.
    static bool hasColour(const QImage &image, QRgb rgb)
    {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF))
                    return true;
        return false;
    }
    static QImage paintRow(QListWidget *list, int iRow)
    {
        QStyleOptionViewItem option;
        option.initFrom(list);
        option.font.setPixelSize(20);
        option.rect = QRect(0, 0, 400, 30);
        QImage image(400, 30, QImage::Format_RGB32);
        QPainter painter(&image);
        list->itemDelegate()->paint(&painter, option, list->model()->index(iRow, 0));
        return image;
    }

private slots:
    void init()
    {
        FSandbox = std::make_unique<bwtest::TestSandbox>();
        FDb = std::make_unique<TSQLiteDatabase>(FSandbox->path(u"bundlewick.sqlite"_s));
        int iOld = 0, iNew = 0;
        TUpdateCheck::UpdateDatabase(*FDb, iOld, iNew);
        DB = FDb.get();
        AppDataDir = FSandbox->root() + u"/appdata/"_s;
        Params = new TParams(u"SOFTWARE\\orro{}\\Bundlewick"_s);
        TDialogs::SetScripted(true);
        TDialogs::Clear();
    }
    void cleanup()
    {
        FProjects.clear();
        delete Params;
        Params = nullptr;
        DB = nullptr;
        FDb.reset();
        FSandbox.reset();
    }

    // The archive engine's error box opens after the job's report has
    // returned, and the run's end, arriving while the box is open, is handled
    // there: status, buttons and the last line are those of a finished run.
    void attendedErrorBoxWaitsForTheReport()
    {
        TProject *first = project(u"Tool"_s, { u"out"_s });
        TProject *second = project(u"Lib"_s, { u"out2"_s });
        TDialogs::SetScripted(false);
        TfrmGenerate frm({ first, second });
        // The run waits before its second project until the box is open.
        QSemaphore gate;
        std::atomic<bool> bWaiting { false };
        frm.Job().OnBeforeProject = [&](int i) {
            if (i != 1)
                return;
            bWaiting = true;
            gate.acquire();
        };
        int iStep = 0, iReported = 0, iBoxOpened = 0;
        bool bEndedInBox = false;
        QString sBoxText;
        connect(&frm.Job(), &TDeliveryJob::attendedError, &frm, [&] { iReported = ++iStep; });
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, &frm, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (iBoxOpened == 0) {
                iBoxOpened = ++iStep;
                sBoxText = box->text();
                QVERIFY(!frm.CanClose());
                gate.release();
            }
            // Left open until the run has ended inside the box's loop.
            if (!frm.CanClose())
                return;
            bEndedInBox = true;
            box->done(QMessageBox::Ok);
        });
        closer.start();
        frm.show();
        QTRY_VERIFY(bWaiting);
        Q_EMIT frm.Job().attendedError(u"Cannot write the archive: disk full"_s);
        QTRY_VERIFY_WITH_TIMEOUT(bEndedInBox && !QApplication::activeModalWidget(), 60000);
        TDialogs::SetScripted(true);

        QCOMPARE(iReported, 1);
        QCOMPARE(iBoxOpened, 2);
        QCOMPARE(sBoxText, u"Cannot write the archive: disk full"_s);
        QVERIFY(frm.isVisible());
        QVERIFY(frm.CanClose());
        QVERIFY(child<QPushButton>(frm, "btnClose")->isEnabled());
        QVERIFY(!child<QPushButton>(frm, "btnAbort")->isEnabled());
        QCOMPARE(child<QLabel>(frm, "lblStatus")->text(), u"2 projects delivered, 0 failed, 0 skipped"_s);
        QCOMPARE(frm.Progress().Lines().last().sText, u"Generation complete."_s);
    }

    void runDrawsAndSaves()
    {
        TProject *bad = project(u"Tool"_s, { u"out"_s, u"-missing"_s });
        TProject *good = project(u"Good"_s, { u"out2"_s });
        TfrmGenerate frm({ bad, good });
        auto *list = child<QListWidget>(frm, "listProgress");
        auto *btnAbort = child<QPushButton>(frm, "btnAbort");
        auto *btnClose = child<QPushButton>(frm, "btnClose");
        auto *lblSave = child<TLinkLabel>(frm, "lblSave");
        QVERIFY(list && btnAbort && btnClose && lblSave);
        QCOMPARE(frm.windowTitle(), u"Bundlewick :: Zip and deliver"_s);

        // During the run: Abort only, and the window refuses to close.
        QList<bool> during;
        bool bVisibleAfterClose = false;
        connect(&frm.Progress(), &TProgressList::lineAppended, &frm, [&](int iIndex) {
            if (iIndex != 0)
                return;
            during = { btnAbort->isEnabled(), btnClose->isEnabled(), lblSave->isEnabled() };
            frm.close();
            bVisibleAfterClose = frm.isVisible();
        });
        frm.show();
        QTRY_VERIFY(frm.CanClose());
        QCOMPARE(during, QList<bool>({ true, false, false }));
        QVERIFY(bVisibleAfterClose);
        QVERIFY(!btnAbort->isEnabled());
        QVERIFY(btnClose->isEnabled());
        QVERIFY(lblSave->isEnabled());

        QTRY_COMPARE(list->count(), 12);
        const QString sLine2 = list->item(2)->text();
        QVERIFY(sLine2.startsWith(u"  Output saved to Tool_"_s));
        const QString sArchive = sLine2.mid(18);
        const QString sReason = u": the folder "_s + FSandbox->root() + u"/-missing does not exist"_s;
        QCOMPARE(list->item(3)->text(), u"!  Unable to save output "_s + sArchive + sReason);

        const QColor text = list->palette().color(QPalette::Text);
        // 4.5:1 on the list's white.
        const QColor red(0xe8, 0x00, 0x00), green(0x00, 0x88, 0x00);
        struct Expect
        {
            int row;
            QColor colour;
            bool bold;
            QString text;
        };
        const QList<Expect> expected = {
            { 0, text, true, u"Tool"_s },
            { 1, text, false, u"  Zipped 1 file"_s },
            { 3, red, false, u"  Unable to save output "_s + sArchive + sReason },
            { 4, red, false, u"  Fail"_s },
            { 5, text, false, u" "_s },
            { 6, text, true, u"Good"_s },
            { 9, green, false, u"  Success"_s },
            { 11, text, true, u"Generation complete."_s },
        };
        for (const Expect &e : expected) {
            const TLineStyle style = frm.LineStyle(e.row);
            QCOMPARE(style.oColour, e.colour);
            QCOMPARE(style.bBold, e.bold);
            QCOMPARE(style.sText, e.text);
        }

        // The drawn pixels follow the decision.
        QVERIFY(hasColour(paintRow(list, 9), qRgb(0x00, 0x88, 0x00)));
        QVERIFY(!hasColour(paintRow(list, 9), qRgb(0xe8, 0x00, 0x00)));
        QVERIFY(hasColour(paintRow(list, 4), qRgb(0xe8, 0x00, 0x00)));
        QVERIFY(!hasColour(paintRow(list, 1), qRgb(0xe8, 0x00, 0x00)));

        // The log row of the failed task keeps its failure line.
        QCOMPARE(FDb->QueryStringFmt(u"SELECT log FROM log WHERE success = 0"_s, {}),
                 u"Unable to save output "_s + sArchive + sReason);
        QCOMPARE(FDb->QueryIntegerFmt(u"SELECT COUNT(*) FROM log WHERE success = 1 AND log = ''"_s, {}), 2);

        // Under the list: what the run came to.
        QCOMPARE(child<QLabel>(frm, "lblStatus")->text(), u"1 project delivered, 1 failed, 0 skipped"_s);
        // Every line can be read whole: a tooltip, and a scroll bar once too long.
        QCOMPARE(list->item(3)->toolTip(), u"Unable to save output "_s + sArchive + sReason);
        QCOMPARE(list->item(2)->toolTip(),
                 u"Output saved to "_s + sArchive + u"\nin "_s + FSandbox->root() + u"/out"_s);
        frm.resize(360, 300);
        QTRY_VERIFY(list->horizontalScrollBar()->maximum() > 0);
        // Open folder: the last archive saved, or the selected line's.
        auto *lblOpenFolder = child<TLinkLabel>(frm, "lblOpenFolder");
        auto *lblCopyLink = child<TLinkLabel>(frm, "lblCopyLink");
        QVERIFY(lblOpenFolder->isEnabled());
        QVERIFY(!lblCopyLink->isEnabled()); // no staging link in this run
        QCOMPARE(frm.TargetFile(), FSandbox->root() + u"/out2/"_s + list->item(8)->text().mid(18));
        list->setCurrentRow(2);
        QCOMPARE(frm.TargetFile(), FSandbox->root() + u"/out/"_s + sArchive);
        list->setCurrentRow(3); // a line without a file: the last one again
        QCOMPARE(frm.TargetFile(), FSandbox->root() + u"/out2/"_s + list->item(8)->text().mid(18));

        // Save log: default folder, then the chosen one is remembered.
        const QString sLog = FSandbox->root() + u"/logs/run.txt"_s;
        QDir().mkpath(FSandbox->root() + u"/logs"_s);
        TDialogs::PushFileName(sLog);
        QTest::mouseClick(lblSave, Qt::LeftButton);
        QCOMPARE(TDialogs::Shown().size(), 1);
        QCOMPARE(TDialogs::Shown()[0].sKind, u"save"_s);
        QCOMPARE(TDialogs::Shown()[0].sTitle, u"Save log file"_s);
        QCOMPARE(TDialogs::Shown()[0].sText, AppDataDir);
        QCOMPARE(Params->GetStr(u"Log folder"_s), FSandbox->root() + u"/logs"_s);
        QFile saved(sLog);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString sGood = list->item(8)->text().mid(18);
        QCOMPARE(QString::fromUtf8(saved.readAll()),
                 u"Tool\r\n  Zipped 1 file\r\n  Output saved to "_s + sArchive
                     + u"\r\n!  Unable to save output "_s + sArchive + sReason
                     + u"\r\n!  Fail\r\n \r\nGood\r\n  Zipped 1 file\r\n  Output saved to "_s + sGood
                     + u"\r\n  Success\r\n \r\nGeneration complete.\r\n"_s);

        QTest::mouseClick(btnClose, Qt::LeftButton);
        QTRY_VERIFY(!frm.isVisible());
        QCOMPARE(frm.result(), int(QDialog::Rejected));
    }

    void copyLinkTakesTheStagingLink()
    {
        // Never shown, so nothing runs: the lines are the test's.
        TfrmGenerate frm({});
        auto *list = child<QListWidget>(frm, "listProgress");
        auto *lblCopyLink = child<TLinkLabel>(frm, "lblCopyLink");
        frm.Progress().AddProgress(u"Tool"_s);
        QVERIFY(!lblCopyLink->isEnabled());
        const QString sLink = u"https://dl.example.com/q/Tool_1.0_k3J9x2Qa7PzLm4Tc.zip"_s;
        frm.Progress().AddTargetFmt(TProgressLine::tkLink, sLink, u"  Email sent to %s"_s,
                                    { u"ann@example.com"_s });
        frm.Progress().AddProgress(u"  Success"_s);
        QCOMPARE(list->item(1)->text(), u"  Email sent to ann@example.com"_s);
        QCOMPARE(list->item(1)->toolTip(), u"Email sent to ann@example.com\nwith the link "_s + sLink);
        QVERIFY(lblCopyLink->isEnabled());
        QVERIFY(!child<TLinkLabel>(frm, "lblOpenFolder")->isEnabled());
        Q_EMIT lblCopyLink->clicked();
        QCOMPARE(QGuiApplication::clipboard()->text(), sLink);
        // The link stays out of the saved log.
        QVERIFY(!frm.Progress().SaveText().contains(sLink));
    }

    void statusSumsUpTheRun()
    {
        TRunResult result;
        result.iDelivered = 2;
        result.iFailed = 1;
        QCOMPARE(TfrmGenerate::StatusText(result, 4), u"2 projects delivered, 1 failed, 1 skipped"_s);
        result.bStopped = true;
        QCOMPARE(TfrmGenerate::StatusText(result, 4),
                 u"Stopped early: 2 projects delivered, 1 failed, 1 skipped"_s);
        result = TRunResult();
        result.bAborted = true;
        QCOMPARE(TfrmGenerate::StatusText(result, 3),
                 u"Stopped by the user: 0 projects delivered, 3 not delivered"_s);
    }

    void unknownHostKeyIsOfferedAfterTheRun()
    {
        // The user's key logs in, never an agent of whoever runs the tests.
        const bwtest::NoSshAgent noAgent;
        const QString home = FSandbox->path(u"sftphome"_s);
        QDir().mkpath(home + u"/in"_s);
        bwtest::SshServer ssh(home);
        ssh.setUpClient();
        const QString knownHosts = QDir::homePath() + u"/.ssh/known_hosts"_s;
        QFile::remove(knownHosts);
        TProject *p = project(u"Guarded"_s, {});
        FDb->ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword) VALUES (%d, 2, '')"_s,
                        { p->ProjectID() });
        const int id = int(FDb->LastInsertRowID());
        SetSendParam(id, u"FTPHost"_s, ssh.host());
        SetSendParam(id, u"FTPDirectory"_s, u"in"_s);

        TDialogs::PushAnswer(true);
        {
            TfrmGenerate frm({ p });
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(frm.CanClose(), 60000);
            QTRY_COMPARE(TDialogs::Shown().size(), 2);
        }
        const QList<TDialogs::TShown> shown = TDialogs::Shown();
        QCOMPARE(shown.at(0).sKind, u"confirm"_s);
        QCOMPARE(shown.at(0).sTitle, u"SSH host key"_s);
        QVERIFY2(shown.at(0).sText.contains(ssh.fingerprint()), qPrintable(shown.at(0).sText));
        QVERIFY(shown.at(0).sText.contains(u"127.0.0.1, port %1"_s.arg(ssh.port())));
        QCOMPARE(shown.at(1).sKind, u"information"_s);
        QCOMPARE(shown.at(1).sText, u"The server's host key is now trusted. Deliver again to send to it."_s);
        QFile file(knownHosts);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), ssh.knownHostsLine() + '\n');
        QCOMPARE(QDir(home + u"/in"_s).entryList(QDir::Files | QDir::Hidden), QStringList());

        // Delivered again: the key is known now, nothing is asked.
        TDialogs::Clear();
        {
            TfrmGenerate frm({ p });
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(frm.CanClose(), 60000);
            QTRY_VERIFY(frm.Progress().Lines().last().sText == u"Generation complete."_s);
            QStringList lines;
            for (const TProgressLine &line : frm.Progress().Lines())
                lines << line.sText;
            QVERIFY2(lines.contains(u"  Success"_s), qPrintable(lines.join(u'|')));
            QCOMPARE(QDir(home + u"/in"_s).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
        QCOMPARE(TDialogs::Shown().size(), 0);
    }

    void linkLabel()
    {
        TLinkLabel label(u"Save log"_s);
        int iClicks = 0;
        connect(&label, &TLinkLabel::clicked, [&] { ++iClicks; });
        label.resize(100, 20);
        label.show();
        QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(label.palette().color(QPalette::Active, QPalette::WindowText),
                 label.palette().color(QPalette::Active, QPalette::Link));
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(&label, &enter);
        QVERIFY(label.font().underline());
        QFont styled = label.font();
        styled.setBold(true);
        label.setFont(styled);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&label, &leave);
        QVERIFY(!label.font().underline());
        QVERIFY(!label.font().bold());
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(iClicks, 1);
        label.setEnabled(false);
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(iClicks, 1);
        QVERIFY(label.palette().color(QPalette::Disabled, QPalette::WindowText)
                != label.palette().color(QPalette::Active, QPalette::Link));
    }

    void abortStopsAfterTheRunningProject()
    {
        TProject *first = project(u"First"_s, { u"a"_s });
        TProject *second = project(u"Second"_s, { u"b"_s });
        QStringList lines;
        QString sStatus;
        // Abort as soon as the window shows its first line, close once the run is over.
        // The run runs on its own thread: it waits before the second project
        // until the click was made, as a user's click during the first would.
        QSemaphore clicked;
        bool bHooked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *frm = qobject_cast<TfrmGenerate *>(QApplication::activeModalWidget());
            if (!frm)
                return;
            if (!bHooked && !frm->Job().Running() && !frm->Job().Ended()) {
                bHooked = true;
                frm->Job().OnBeforeProject = [&clicked](int i) {
                    if (i == 1)
                        clicked.tryAcquire(1, 30000);
                };
            }
            auto *list = child<QListWidget>(*frm, "listProgress");
            if (list->count() > 0 && !frm->CanClose()) {
                QTest::mouseClick(child<QPushButton>(*frm, "btnAbort"), Qt::LeftButton);
                clicked.release();
            }
            if (frm->CanClose() && list->count() > 0
                && list->item(list->count() - 1)->text() == u"Generation complete."_s
                && !child<QLabel>(*frm, "lblStatus")->text().isEmpty()) {
                sStatus = child<QLabel>(*frm, "lblStatus")->text();
                for (int i = 0; i < list->count(); ++i)
                    lines << list->item(i)->text();
                QTest::mouseClick(child<QPushButton>(*frm, "btnClose"), Qt::LeftButton);
            }
        });
        poll.start(10);
        QCOMPARE(TfrmGenerate::Execute({ first, second }), int(QDialog::Rejected));
        QCOMPARE(sStatus, u"Stopped by the user: 1 project delivered, 1 not delivered"_s);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], u"First"_s);
        QCOMPARE(lines.mid(3), QStringList({ u"  Success"_s, u" "_s, u"Generation complete."_s }));
        QCOMPARE(QDir(FSandbox->root() + u"/b"_s).entryList(QDir::Files), QStringList());
    }
};

QTEST_MAIN(TestFrmGenerate)
#include "test_frmgenerate.moc"
