#include "core/winutils.h"
#include "projects/project.h"
#include "projects/projectdelphi.h"
#include "support/urlcatcher.h"
#include "ui/frmprojecteditor.h"
#include "ui/frmsendeditor.h"
#include "ui/linklabel.h"
#include "uitest.h"

#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using bwtest::ModalDriver;

class TestFrmProjectEditor : public QObject
{
    Q_OBJECT

    std::unique_ptr<bwtest::UiFixture> FFx;

    template<typename T> static T *child(QWidget &frm, const char *name)
    {
        T *widget = frm.findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qWarning("no %s", name);
        return widget;
    }
    int addProject(const QString &sTitle)
    {
        FFx->db->ExecSQLFmt(u"INSERT INTO projects (type, title, filename, modified) VALUES (0, '%s', '', "
                            "'2026-01-02 03:04:05')"_s,
                            { SQLEscape(sTitle) });
        return int(FFx->db->LastInsertRowID());
    }
    int addTask(int iProject, const QString &sFolder)
    {
        FFx->db->ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword) VALUES (%d, 1, '')"_s,
                            { iProject });
        const int id = int(FFx->db->LastInsertRowID());
        FFx->db->ExecSQLFmt(
            u"INSERT INTO sendparams (id_send, name, value) VALUES (%d, 'FileFolder', '%s')"_s,
            { id, SQLEscape(sFolder) });
        return id;
    }
    qint64 count(const QString &sql) { return FFx->db->GetTableValue(sql); }
    static QTabWidget *pages(QWidget &frm) { return child<QTabWidget>(frm, "pgProject"); }
    static void dropUrls(QWidget *target, const QStringList &paths)
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
    }
    static QStringList rows(QListWidget *list)
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts.append(list->item(i)->text());
        return texts;
    }

private slots:
    void init() { FFx = std::make_unique<bwtest::UiFixture>(); }
    void cleanup()
    {
        TDialogs::Clear();
        FFx.reset();
    }

    void newDelphiProjectNeedsAnExistingFile()
    {
        TfrmProjectEditor frm(nullptr);
        frm.show();
        QCOMPARE(frm.windowTitle(), u"Project editor :: New project"_s);
        QVERIFY(!pages(frm)->isTabVisible(1));
        QVERIFY(!child<QLabel>(frm, "lblEditedCaption")->isVisible());
        child<QLineEdit>(frm, "edTitle")->setText(u"Delphi one"_s);
        QVERIFY(pages(frm)->isTabVisible(1));
        QVERIFY(pages(frm)->isTabVisible(2));
        QTest::mouseClick(child<QRadioButton>(frm, "rbDelphi"), Qt::LeftButton);
        QVERIFY(child<QLineEdit>(frm, "edFile")->isEnabled());
        QVERIFY(child<QPushButton>(frm, "btnFile")->isEnabled());
        child<QLineEdit>(frm, "edFile")->setText(FFx->sandbox->root() + u"/missing.dpr"_s);
        QVERIFY(!pages(frm)->isTabVisible(1));
        QVERIFY(!pages(frm)->isTabVisible(2));
        QTest::mouseClick(child<QPushButton>(frm, "btnSave"), Qt::LeftButton);
        QVERIFY(frm.isVisible());
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects"_s), 0);
        // Once the file exists, the pages come back.
        const QString sFile = FFx->sandbox->writeFile(u"p/one.dpr"_s, "program one;\nbegin\nend.\n");
        child<QLineEdit>(frm, "edFile")->setText(sFile);
        QVERIFY(pages(frm)->isTabVisible(1));
        // A typed path with "." and ".." is stored the way a chosen one is.
        FFx->sandbox->writeFile(u"p/sub/keep.txt"_s, "x");
        child<QLineEdit>(frm, "edFile")->setText(FFx->sandbox->root() + u"/p/./sub/../one.dpr"_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnSave"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QCOMPARE(DB->QueryStringFmt(u"SELECT filename FROM projects"_s, {}), sFile);
    }

    void duplicateTitleHidesThePagesButSaves()
    {
        addProject(u"O'Brien's"_s);
        TfrmProjectEditor frm(nullptr);
        frm.show();
        child<QLineEdit>(frm, "edTitle")->setText(u"O'Brien's"_s);
        QVERIFY(!pages(frm)->isTabVisible(1));
        child<QLineEdit>(frm, "edTitle")->setText(u"O'Brien's two"_s);
        QVERIFY(pages(frm)->isTabVisible(1));
        child<QLineEdit>(frm, "edTitle")->setText(u"O'Brien's"_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnSave"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects WHERE title = 'O''Brien''s'"_s), 2);
        const std::unique_ptr<TProject> created = frm.TakeCreated();
        QVERIFY(created);
        QCOMPARE(created->Title(), u"O'Brien's"_s);
    }

    void taskListNamesTheEncryptionOfTasksWithAPassword()
    {
        const int id = addProject(u"Locked"_s);
        const int aes = addTask(id, u"/srv/a"_s);
        const int old = addTask(id, u"/srv/b"_s);
        addTask(id, u"/srv/c"_s);
        FFx->db->ExecSQLFmt(u"UPDATE send SET zippassword = 'pw' WHERE id IN (%d, %d)"_s, { aes, old });
        FFx->db->ExecSQLFmt(
            u"INSERT INTO sendparams (id_send, name, value) VALUES (%d, 'Zip encryption', 'aes256')"_s,
            { aes });
        auto parser = CreateProject(0, id, u"Locked"_s, QString());
        parser->Parse();
        TfrmProjectEditor frm(parser.get());
        frm.show();
        QCOMPARE(rows(child<QListWidget>(frm, "listMethods")),
                 (QStringList { u"File to /srv/a, AES-256"_s, u"File to /srv/b, traditional encryption"_s,
                                u"File to /srv/c"_s }));
    }

    void existingProjectOpensWithItsDetails()
    {
        const int id = addProject(u"Shown"_s);
        addTask(id, u"/srv/drop"_s);
        auto parser = CreateProject(0, id, u"Shown"_s, QString());
        parser->Parse();
        TfrmProjectEditor frm(parser.get());
        frm.show();
        QCOMPARE(frm.windowTitle(), u"Project editor :: Shown"_s);
        QCOMPARE(child<QLabel>(frm, "lblEdited")->text(), u"2026-01-02 03:04:05"_s);
        QVERIFY(!child<QRadioButton>(frm, "rbDelphi")->isEnabled());
        QVERIFY(child<QLineEdit>(frm, "edFile")->isReadOnly());
        QCOMPARE(rows(child<QListWidget>(frm, "listMethods")), QStringList { u"File to /srv/drop"_s });
        QCOMPARE(frm.HelpTopic(), 27);
        pages(frm)->setCurrentIndex(1);
        QCOMPARE(frm.HelpTopic(), 28);
        pages(frm)->setCurrentIndex(2);
        QCOMPARE(frm.HelpTopic(), 29);
        QVERIFY(child<TLinkLabel>(frm, "lblSendAdd")->isEnabled());
    }

    void aTakenTitleSaysSo()
    {
        addProject(u"Taken"_s);
        TfrmProjectEditor frm(nullptr);
        frm.show();
        auto *taken = child<QLabel>(frm, "lblTitleTaken");
        QVERIFY(!taken->isVisible());
        child<QLineEdit>(frm, "edTitle")->setText(u"Taken"_s);
        QVERIFY(taken->isVisible());
        QCOMPARE(taken->text(), u"This title is taken: another project has it."_s);
        QVERIFY(!frm.PagesAllowed());
        child<QLineEdit>(frm, "edTitle")->setText(u"Taken 2"_s);
        QVERIFY(!taken->isVisible());
        QVERIFY(frm.PagesAllowed());
    }

    void sendAddAlwaysOpensAnEmptyTask()
    {
        const int id = addProject(u"Tasks"_s);
        const int task = addTask(id, u"/srv/drop"_s);
        auto parser = CreateProject(0, id, u"Tasks"_s, QString());
        parser->Parse();
        TfrmProjectEditor frm(parser.get());
        frm.show();
        pages(frm)->setCurrentIndex(2);
        auto *methods = child<QListWidget>(frm, "listMethods");
        QVERIFY(!child<TLinkLabel>(frm, "lblSendEdit")->isEnabled());
        methods->setCurrentRow(0);
        QVERIFY(child<TLinkLabel>(frm, "lblSendEdit")->isEnabled());
        QVERIFY(child<TLinkLabel>(frm, "lblSendDelete")->isEnabled());
        int iOpened = -1;
        {
            ModalDriver driver(
                [&](QDialog *dialog) { iOpened = qobject_cast<TfrmSendEditor *>(dialog)->MethodID(); });
            QTest::mouseClick(child<TLinkLabel>(frm, "lblSendAdd"), Qt::LeftButton);
            QVERIFY(driver.ran());
        }
        QCOMPARE(iOpened, 0);
        {
            ModalDriver driver(
                [&](QDialog *dialog) { iOpened = qobject_cast<TfrmSendEditor *>(dialog)->MethodID(); });
            QTest::mouseClick(child<TLinkLabel>(frm, "lblSendEdit"), Qt::LeftButton);
            QVERIFY(driver.ran());
        }
        QCOMPARE(iOpened, task);
        QCOMPARE(count(u"SELECT COUNT(*) FROM send"_s), 1);
        // Delete asks, naming the task, then takes the task and its parameters.
        TDialogs::PushAnswer(false);
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSendDelete"), Qt::LeftButton);
        QCOMPARE(methods->count(), 1);
        TDialogs::PushAnswer(true);
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSendDelete"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s),
                 QStringList(2, u"Delete the send task \"File to /srv/drop\"?"_s));
        QCOMPARE(methods->count(), 0);
        QCOMPARE(count(u"SELECT COUNT(*) FROM send"_s), 0);
        QCOMPARE(count(u"SELECT COUNT(*) FROM sendparams"_s), 0);
    }

    void listKeysOpenAndDeleteInsteadOfClosing()
    {
        const int id = addProject(u"Keys"_s);
        const int task = addTask(id, u"/srv/drop"_s);
        auto parser = CreateProject(0, id, u"Keys"_s, QString());
        parser->Parse();
        TfrmProjectEditor frm(parser.get());
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        pages(frm)->setCurrentIndex(2);
        auto *methods = child<QListWidget>(frm, "listMethods");
        methods->setFocus();
        methods->setCurrentRow(0);
        for (const Qt::Key key : { Qt::Key_Return, Qt::Key_F2 }) {
            int iOpened = -1;
            ModalDriver driver(
                [&](QDialog *dialog) { iOpened = qobject_cast<TfrmSendEditor *>(dialog)->MethodID(); });
            QTest::keyClick(methods, key);
            QTRY_VERIFY(driver.ran());
            QCOMPARE(iOpened, task);
            // The editor is still open: Return did not save and close it.
            QVERIFY(frm.isVisible());
            QCOMPARE(frm.result(), 0);
        }
        TDialogs::PushAnswer(true);
        QTest::keyClick(methods, Qt::Key_Delete);
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s),
                 QStringList { u"Delete the send task \"File to /srv/drop\"?"_s });
        QCOMPARE(methods->count(), 0);
        QVERIFY(frm.isVisible());

        // In the file list Delete asks about the entry by its name too.
        const QString sFile = FFx->sandbox->writeFile(u"k/a.txt"_s, "a");
        pages(frm)->setCurrentIndex(1);
        auto *list = child<QListWidget>(frm, "listFiles");
        dropUrls(list->viewport(), { sFile });
        list->setFocus();
        list->setCurrentRow(0);
        TDialogs::Clear();
        TDialogs::PushAnswer(false);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s),
                 QStringList { u"Remove \"%1\" from the project's files?"_s.arg(sFile) });
        QCOMPARE(list->count(), 1);
        // Return opens the file with the desktop's program, and the editor stays.
        bwtest::UrlCatcher catcher;
        QDesktopServices::setUrlHandler(u"file"_s, &catcher, "open");
        QTest::keyClick(list, Qt::Key_Return);
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QCOMPARE(catcher.urls, QStringList { QUrl::fromLocalFile(sFile).toString() });
        QVERIFY(frm.isVisible());
    }

    void filesPageViewsDropsAndDeletes()
    {
        FFx->sandbox->writeFile(u"tree/a.cpp"_s, "a");
        FFx->sandbox->writeFile(u"tree/sub/b.cpp"_s, "b");
        const QString sSingle = FFx->sandbox->writeFile(u"single.txt"_s, "s");
        const QString sTree = FFx->sandbox->root() + u"/tree"_s;
        TfrmProjectEditor frm(nullptr);
        frm.show();
        child<QLineEdit>(frm, "edTitle")->setText(u"Files"_s);
        pages(frm)->setCurrentIndex(1);
        QVERIFY(frm.Project());
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects"_s), 1);
        QCOMPARE(frm.windowTitle(), u"Project editor :: Files"_s);
        auto *list = child<QListWidget>(frm, "listFiles");
        QCOMPARE(child<QLabel>(frm, "lblFileCount")->text(), u"0 files"_s);

        dropUrls(list->viewport(), { sSingle, sTree });
        QVERIFY(frm.ShowingAdded());
        QCOMPARE(rows(list), QStringList({ sSingle, sTree + u"/* -r"_s }));
        QCOMPARE(child<QLabel>(frm, "lblFileCount")->text(), u"2 additions"_s);
        QTRY_COMPARE(list->item(1)->data(TFileRowDelegate::CountRole).toString(), u"2 files"_s);
        QCOMPARE(list->item(0)->data(TFileRowDelegate::CountRole).toString(), u"1 file"_s);
        QCOMPARE(frm.Project()->FileCount(), 3);
        // A second drop of the same things adds nothing.
        dropUrls(list->viewport(), { sSingle, sTree });
        QCOMPARE(list->count(), 2);

        QTest::mouseClick(child<TLinkLabel>(frm, "lblFilesAll"), Qt::LeftButton);
        QCOMPARE(list->count(), 3);
        QCOMPARE(child<QLabel>(frm, "lblFileCount")->text(), u"3 files"_s);
        list->setCurrentRow(0);
        QVERIFY(!child<TLinkLabel>(frm, "lblFileDelete")->isEnabled());

        QTest::mouseClick(child<TLinkLabel>(frm, "lblFilesAdded"), Qt::LeftButton);
        list->setCurrentRow(1);
        QVERIFY(child<TLinkLabel>(frm, "lblFileDelete")->isEnabled());
        TDialogs::PushAnswer(true);
        QTest::mouseClick(child<TLinkLabel>(frm, "lblFileDelete"), Qt::LeftButton);
        QCOMPARE(rows(list), QStringList { sSingle });
        QCOMPARE(frm.Project()->FileCount(), 1);
        QCOMPARE(count(u"SELECT COUNT(*) FROM files"_s), 1);

        // Closed by Cancel: the project object holds the counts of now.
        frm.reject();
        QCOMPARE(frm.Project()->ChangedFiles(), 1);
    }

    void delphiParseErrorShowsAboveTheList()
    {
        const QString sFile = FFx->sandbox->writeFile(
            u"d/app.dpr"_s,
            "program app;\nuses\n  Missing in 'missing.pas',\n  Here in 'here.pas';\nbegin\nend.\n");
        FFx->sandbox->writeFile(u"d/here.pas"_s, "unit Here;\ninterface\nimplementation\nend.\n");
        TfrmProjectEditor frm(nullptr);
        frm.show();
        child<QLineEdit>(frm, "edTitle")->setText(u"App"_s);
        QTest::mouseClick(child<QRadioButton>(frm, "rbDelphi"), Qt::LeftButton);
        child<QLineEdit>(frm, "edFile")->setText(sFile);
        pages(frm)->setCurrentIndex(1);
        auto *delphi = dynamic_cast<TProjectDelphi *>(frm.Project());
        QVERIFY(delphi);
        QVERIFY(!delphi->ParseError().isEmpty());
        auto *error = child<QLabel>(frm, "lblParseError");
        QVERIFY(error->isVisible());
        QVERIFY(error->text().contains(delphi->ParseError()));
        QVERIFY(child<QListWidget>(frm, "listFiles")->count() >= 2);
    }

    void renameUpdatesTheObject()
    {
        const int id = addProject(u"Old"_s);
        auto parser = CreateProject(0, id, u"Old"_s, QString());
        parser->Parse();
        TfrmProjectEditor frm(parser.get());
        frm.show();
        child<QLineEdit>(frm, "edTitle")->setText(u"It's new"_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnSave"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QCOMPARE(parser->Title(), u"It's new"_s);
        QCOMPARE(FFx->db->GetTableString(u"SELECT title FROM projects"_s), u"It's new"_s);
        QVERIFY(FFx->db->GetTableString(u"SELECT modified FROM projects"_s) != u"2026-01-02 03:04:05"_s);
    }
};

QTEST_MAIN(TestFrmProjectEditor)
#include "test_frmprojecteditor.moc"
