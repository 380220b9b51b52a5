#include "app/application.h"
#include "core/sqlite.h"
#include "support/testenv.h"
#include "support/urlcatcher.h"
#include "ui/dialogs.h"
#include "ui/help.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

using bwtest::UrlCatcher;

class TestApplication : public QObject
{
    Q_OBJECT

    bwtest::TestSandbox FSandbox;

    QString dataDir() const { return FSandbox.root() + u"/data/bundlewick/"_s; }

    std::unique_ptr<QProcess> launch()
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"BW_TEST_DIALOGS"_s, u"1"_s);
        process->setProcessEnvironment(env);
        process->start(qEnvironmentVariable("BW_BINARY_DIR") + u"/src/app/bundlewick"_s, {});
        return process;
    }
    // -1 while the file or table is not (yet) readable.
    qint64 query(const QString &file, const QString &sql)
    {
        if (!QFile::exists(file))
            return -1;
        try {
            TSQLiteDatabase db(file);
            // The running instance may be writing at this moment.
            db.SetTimeout(5000);
            return db.GetTableValue(sql);
        } catch (const ESQLiteException &) {
            return -1;
        }
    }
    qint64 dayFile(const QString &sql)
    {
        const QStringList days = QDir(dataDir()).entryList({ u"20*.sqlite"_s }, QDir::Files);
        return days.isEmpty() ? -1 : query(dataDir() + days.first(), sql);
    }
    QByteArray digest(const QString &file)
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    }

private slots:
    void init()
    {
        TDialogs::SetScripted(true);
        TDialogs::Clear();
    }

    void scriptedDialogsAnswerFromTheQueues()
    {
        TDialogs::PushAnswer(true);
        QVERIFY(TDialogs::Confirm(nullptr, u"Delete"_s, u"Delete it?"_s));
        QVERIFY(!TDialogs::Confirm(nullptr, u"Delete"_s, u"Again?"_s));
        TDialogs::PushFileName(u"/tmp/a.csv"_s);
        QCOMPARE(TDialogs::SaveFileName(nullptr, u"Export"_s, u"/tmp"_s, u"*.csv"_s, u"csv"_s),
                 u"/tmp/a.csv"_s);
        QCOMPARE(TDialogs::OpenFileName(nullptr, u"Open"_s, u"/home"_s, u"*"_s), QString());
        TDialogs::PushFileNames({ u"/a"_s, u"/b"_s });
        QCOMPARE(TDialogs::OpenFileNames(nullptr, u"Add"_s, u"/"_s, u"*"_s),
                 QStringList({ u"/a"_s, u"/b"_s }));
        TDialogs::Warning(nullptr, u"T"_s, u"careful"_s);
        const auto shown = TDialogs::Shown();
        QCOMPARE(shown.size(), 6);
        QCOMPARE(shown[1].sText, u"Again?"_s);
        QCOMPARE(shown[2].sKind, u"save"_s);
        QCOMPARE(shown[5].sKind, u"warning"_s);
    }

    void helpShowsTheShippedPages()
    {
        // Nothing goes to a browser: the pages are the program's own.
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
        QVERIFY(ShowHelp(16));
        QDesktopServices::unsetUrlHandler(u"https"_s);
        QCOMPARE(catcher.urls, QStringList());
        TfrmHelp *help = TfrmHelp::Current();
        QVERIFY(help && help->isVisible());
        QCOMPARE(QFileInfo(help->Source().toLocalFile()).fileName(), u"main.html"_s);
        QCOMPARE(help->windowTitle(), u"The main window - Bundlewick help"_s);
        // One window: the next topic replaces the page.
        QVERIFY(ShowHelp(42));
        QCOMPARE(TfrmHelp::Current(), help);
        QCOMPARE(QFileInfo(help->Source().toLocalFile()).fileName(), u"index.html"_s);
        QVERIFY(ShowHelp(13));
        QCOMPARE(QFileInfo(help->Source().toLocalFile()).fileName(), u"LICENSE"_s);
        auto *text = help->findChild<QTextBrowser *>(u"txtHelp"_s);
        QVERIFY(text->toPlainText().startsWith(u"MIT License"_s));
        QVERIFY(text->toPlainText().contains(u"Copyright (c) 2026 The Bundlewick developers"_s));
        QCOMPARE(help->windowTitle(), u"Licence - Bundlewick help"_s);
        help->close();
    }

    void everyWindowsTopicHasAPageThatLinksBack()
    {
        for (const int iTopic : { 2, 16, 17, 18, 19, 20, 21, 22, 24, 27, 28, 29, 30, 31, 32, 40 }) {
            const QUrl url = HelpTopicUrl(iTopic);
            QVERIFY2(QFileInfo::exists(url.toLocalFile()), qPrintable(url.toString()));
            QFile page(url.toLocalFile());
            QVERIFY(page.open(QIODevice::ReadOnly));
            const QByteArray html = page.readAll();
            QVERIFY(html.contains("<title>"));
            if (!url.fragment().isEmpty())
                QVERIFY2(html.contains("id=\"" + url.fragment().toUtf8() + "\""), qPrintable(url.toString()));
            if (iTopic != 2)
                QVERIFY(html.contains("<a href=\"index.html\">Contents</a>"));
        }
        QCOMPARE(HelpTopicUrl(31).fileName(), u"send-editor.html"_s);
        QCOMPARE(HelpTopicUrl(31).fragment(), u"file"_s);
        QCOMPARE(HelpTopicUrl(999).fileName(), u"index.html"_s);
    }

    // Runs last in this process: the first failure ends the run for good.
    void escapedExceptionEndsTheRun()
    {
        QTimer::singleShot(
            0, [] { throw ESQLiteException(u"Failed to open database \"x\" : disk I/O error"_s); });
        QTimer::singleShot(0, [] { throw std::runtime_error("a consequence"); });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(0); });
        guard.start(10000);
        QCOMPARE(QCoreApplication::exec(), 1);
        const auto shown = TDialogs::Shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].sKind, u"error"_s);
        QCOMPARE(shown[0].sTitle, u"Bundlewick error"_s);
        QCOMPARE(shown[0].sText, u"Failed to open database \"x\" : disk I/O error"_s);
    }

    void failedStartEndsWithAMessage()
    {
        bwtest::TestSandbox local;
        QVERIFY(QDir().mkpath(local.root() + u"/data/bundlewick/bundlewick.sqlite"_s));
        auto run = launch();
        QVERIFY(run->waitForFinished(20000));
        QCOMPARE(run->exitStatus(), QProcess::NormalExit);
        QCOMPARE(run->exitCode(), 1);
        QVERIFY(QString::fromUtf8(run->readAllStandardError())
                    .contains(u"[error] Bundlewick error: Failed to open database"_s));
        QVERIFY(!QFile::exists(local.root() + u"/data/bundlewick/bundlewick.lock"_s));
    }

    void secondInstanceLeavesTheFirstAlone()
    {
        const QString database = dataDir() + u"bundlewick.sqlite"_s;
        auto first = launch();
        QVERIFY2(first->waitForStarted(), "build the bundlewick target first");
        // Only the diagnostics file is read while an instance runs: a reader
        // on the main database could make its start-up fail as busy.
        QTRY_COMPARE_WITH_TIMEOUT(
            dayFile(u"SELECT COUNT(*) FROM events WHERE what LIKE 'Database updated%'"_s), 1, 20000);
        QCOMPARE(dayFile(u"SELECT COUNT(*) FROM sessions"_s), 1);
        const QByteArray before = digest(database);
        const QDateTime modified = QFileInfo(database).lastModified();

        auto second = launch();
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        // Handed over to the first, which comes to the front: no message.
        QVERIFY(!QString::fromUtf8(second->readAllStandardError()).contains(u"Bundlewick is already open"_s));
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(digest(database), before);
        QCOMPARE(QFileInfo(database).lastModified(), modified);
        QCOMPARE(dayFile(u"SELECT COUNT(*) FROM sessions"_s), 1);

        // A crashed first instance leaves its lock behind; the next start takes it over.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        auto third = launch();
        QTRY_COMPARE_WITH_TIMEOUT(dayFile(u"SELECT COUNT(*) FROM sessions"_s), 2, 20000);
        QCOMPARE(third->state(), QProcess::Running);
        third->kill();
        QVERIFY(third->waitForFinished(10000));
        QCOMPARE(query(database, u"SELECT MAX(version) FROM version"_s), 5);
    }
};

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_application.moc"
