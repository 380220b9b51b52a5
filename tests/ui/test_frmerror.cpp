#include "core/appfolders.h"
#include "core/globals.h"
#include "core/regutils.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "diagnostics/diaglog.h"
#include "support/testenv.h"
#include "support/zipreader.h"
#include "ui/dialogs.h"
#include "ui/frmerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFrmError : public QObject
{
    Q_OBJECT

    static QString dataDirOf(const bwtest::TestSandbox &sandbox)
    {
        return sandbox.root() + u"/data/bundlewick/"_s;
    }
    static QString zipText(const QString &zip, const QString &name)
    {
        return QString::fromUtf8(bwtest::ZipReader(zip).read(name).value_or(QByteArray()));
    }
    static bool noAccessForOthers(const QString &file)
    {
        const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
            | QFileDevice::WriteOther;
        return QFileInfo::exists(file) && (QFileInfo(file).permissions() & others) == 0;
    }

private slots:
    void init()
    {
        TDialogs::SetScripted(true);
        TDialogs::Clear();
    }

    void dialogShowsTheErrorAndWhereTheReportGoes()
    {
        bwtest::TestSandbox sandbox;
        AppDataDir = sandbox.root() + u"/"_s;
        TfrmError frm;
        frm.SetError(u"Failed to open database \"x\" : disk I/O error"_s);
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QCOMPARE(frm.windowTitle(), u"Bundlewick error"_s);
        QCOMPARE(frm.findChild<QLabel *>(u"Label1"_s)->text(), u"Oh dear ..."_s);
        QCOMPARE(frm.findChild<QLabel *>(u"lblError"_s)->text(),
                 u"Failed to open database \"x\" : disk I/O error"_s);
        QCOMPARE(frm.findChild<QPlainTextEdit *>(u"memNotes"_s)->toPlainText(),
                 u"When this error happened I was ..."_s);
        QCOMPARE(frm.findChild<QPushButton *>(u"btnClose"_s)->text(), u"&Close"_s);
        const QString report = frm.findChild<QLabel *>(u"lblReport"_s)->text();
        QVERIFY(report.contains(AppDataDir + u"data.zip"_s));
        QVERIFY(report.contains(u"passwords in plain text"_s));
        QVERIFY(!report.contains(u"is sent to"_s));
        // Fixed size, and every text fits.
        QCOMPARE(frm.minimumSize(), frm.maximumSize());
        auto *notes = frm.findChild<QPlainTextEdit *>(u"memNotes"_s);
        auto *close = frm.findChild<QPushButton *>(u"btnClose"_s);
        QVERIFY(close->geometry().top() >= notes->geometry().bottom() + 16);
        QVERIFY(close->geometry().bottom() <= frm.height() - 16);
        AppDataDir.clear();
    }

    void executeSavesTheReportWithoutWaiting()
    {
        bwtest::TestSandbox sandbox;
        AppDataDir = sandbox.root() + u"/"_s;
        {
            TSQLiteDatabase db(AppDataDir + u"bundlewick.sqlite"_s);
            int iOld = 0, iNew = 0;
            TUpdateCheck::UpdateDatabase(db, iOld, iNew);
        }
        DB = new TSQLiteDatabase(AppDataDir + u"bundlewick.sqlite"_s);
        Params = new TParams(u"SOFTWARE\\orro{}\\Bundlewick"_s, ParamsFileName());
        Params->SetInt(u"frmLog Left"_s, 4);
        DiagLog = new TDiagLog(AppDataDir, u"information"_s, u"test"_s);

        TfrmError::Execute(u"boom"_s);

        const auto shown = TDialogs::Shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].sKind, u"error"_s);
        QCOMPARE(shown[0].sText, u"boom"_s);
        const QString zip = AppDataDir + u"data.zip"_s;
        QCOMPARE(bwtest::ZipReader(zip).names(),
                 QStringList({ u"bundlewick.sqlite"_s, u"data.txt"_s, u"current.sqlite"_s }));
        QVERIFY(noAccessForOthers(zip));
        const QString text = zipText(zip, u"data.txt"_s);
        QVERIFY(text.startsWith(u"USER NOTES\r\nWhen this error happened I was ...\r\n"_s));
        QVERIFY(!text.contains(u"frmLog"_s));
        // The database is open again, and the parameters were written.
        QVERIFY(DB);
        QCOMPARE(DB->GetTableValue(u"SELECT MAX(version) FROM version"_s), 5);
        QFile stored(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/bundlewick/params.conf"_s);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll().contains("frmLog Left"));

        DiagLog->Terminate();
        DiagLog->WaitFor();
        delete DiagLog;
        DiagLog = nullptr;
        delete Params;
        Params = nullptr;
        delete DB;
        DB = nullptr;
        AppDataDir.clear();
    }

    // The whole program: an exception escaping an event handler.
    void injectedExceptionLeavesAReportAndEndsTheProgram()
    {
        bwtest::TestSandbox sandbox;
        {
            // Window positions that must stay out of the report.
            TParams params(u"SOFTWARE\\orro{}\\Bundlewick"_s);
            params.SetInt(u"frmMain Left"_s, 12);
            params.SetStr(u"Main Tab"_s, u"1"_s);
            params.SetStr(u"Log filter filename"_s, u"it's"_s);
            params.SaveData();
        }
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"BW_TEST_DIALOGS"_s, u"1"_s);
        env.insert(u"BW_TEST_CRASH"_s, u"injected failure"_s);
        run.setProcessEnvironment(env);
        run.start(qEnvironmentVariable("BW_BINARY_DIR") + u"/src/app/bundlewick"_s, {});
        QVERIFY2(run.waitForStarted(), "build the bundlewick target first");
        QVERIFY(run.waitForFinished(60000));
        const QString err = QString::fromUtf8(run.readAllStandardError());
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(err.contains(u"[error] Bundlewick error: injected failure"_s), qPrintable(err));

        const QString dir = dataDirOf(sandbox);
        const QString zip = dir + u"data.zip"_s;
        QCOMPARE(bwtest::ZipReader(zip).names(),
                 QStringList({ u"bundlewick.sqlite"_s, u"data.txt"_s, u"current.sqlite"_s }));
        QVERIFY(noAccessForOthers(zip));
        QVERIFY(!QFile::exists(dir + u"data.txt"_s));
        const QString text = zipText(zip, u"data.txt"_s);
        QVERIFY(text.contains(u"\r\nREGISTRY\r\n"_s));
        QVERIFY(text.contains(u"\r\nLog filter filename=it's\r\n"_s));
        for (const QString &line : text.split(u"\r\n"_s)) {
            QVERIFY2(!line.startsWith(u"frm"_s), qPrintable(line));
            QVERIFY2(!line.startsWith(u"Main Tab"_s), qPrintable(line));
        }
        // This run's events are in the flushed diagnostics copy.
        {
            TSQLiteDatabase current(dir + u"current.sqlite"_s);
            QCOMPARE(current.GetTableValue(
                         u"SELECT COUNT(*) FROM events WHERE what = 'Execute: Error=injected failure'"_s),
                     1);
        }
        // The error report holds the error, the version and a stack; it
        // stays, as no report server is configured.
        const QString bug = zipText(dir + u"BugReport.zip"_s, u"BugReport.txt"_s);
        QVERIFY(bug.startsWith(u"ERROR\r\ninjected failure\r\n"_s));
        QVERIFY(bug.contains(u"\r\nSTACK\r\nwhile handling event"_s));
        QVERIFY(!bug.contains(u"it's"_s));
        // The database survived, closed properly.
        TSQLiteDatabase db(dir + u"bundlewick.sqlite"_s);
        QStringList check;
        db.GetTableStrings(u"PRAGMA integrity_check"_s, check);
        QCOMPARE(check, QStringList({ u"ok"_s }));
        QCOMPARE(db.GetTableValue(u"SELECT MAX(version) FROM version"_s), 5);
        QVERIFY(!QFile::exists(dir + u"bundlewick.lock"_s));
    }
};

QTEST_MAIN(TestFrmError)
#include "test_frmerror.moc"
