#include "core/winutils.h"
#include "projects/project.h"
#include "ui/frmgenerate.h"
#include "ui/frmmain.h"
#include "ui/frmprojecteditor.h"
#include "ui/frmquick.h"
#include "ui/frmsendeditor.h"
#include "ui/linklabel.h"
#include "uitest.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;
using bwtest::ModalDriver;

class TestFrmMain : public QObject
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
    int addProject(const QString &sTitle, int iKind = 0, const QString &sFile = QString())
    {
        FFx->db->ExecSQLFmt(u"INSERT INTO projects (type, title, filename) VALUES (%d, '%s', '%s')"_s,
                            { iKind, SQLEscape(sTitle), SQLEscape(sFile) });
        return int(FFx->db->LastInsertRowID());
    }
    void addFile(int iProject, const QString &sPath)
    {
        FFx->db->ExecSQLFmt(u"INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"_s,
                            { iProject, SQLEscape(sPath) });
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
    static QListWidget *list(TfrmMain &frm) { return child<QListWidget>(frm, "listProjects"); }
    static bool showFilled(TfrmMain &frm)
    {
        frm.show();
        return QTest::qWaitForWindowExposed(&frm) && QTest::qWaitFor([&] { return frm.Filled(); }, 10000);
    }
    static QStyleOptionViewItem optionOf(QListWidget *view, int iRow)
    {
        QStyleOptionViewItem option;
        option.initFrom(view->viewport());
        option.rect = view->visualItemRect(view->item(iRow));
        option.widget = view;
        option.fontMetrics = view->fontMetrics();
        return option;
    }

private slots:
    void init() { FFx = std::make_unique<bwtest::UiFixture>(); }
    void cleanup()
    {
        TDialogs::Clear();
        FFx.reset();
    }

    void emptyTableShowsTheCentredStartPanel()
    {
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        auto *panel = child<QWidget>(frm, "pnlStart");
        QVERIFY(panel->isVisible());
        const QRect l = list(frm)->geometry();
        QCOMPARE(panel->x(), l.left() + (l.width() - panel->width()) / 2);
        QCOMPARE(panel->y(), l.top() + (l.height() - panel->height()) / 2);
        QVERIFY(!child<QPushButton>(frm, "btnGenerate")->isEnabled());
        QVERIFY(!child<TLinkLabel>(frm, "lblSelectAll")->isEnabled());
        QVERIFY(!child<TLinkLabel>(frm, "lblSelectNone")->isEnabled());
        // Still centred after a resize; gone for good once the user chose.
        frm.resize(frm.width() + 120, frm.height() + 60);
        QTRY_COMPARE(panel->x(), list(frm)->geometry().left() + (list(frm)->width() - panel->width()) / 2);
        frm.SelectAll(true);
        QVERIFY(!panel->isVisible());
    }

    void projectWithoutTasksIsSelectableButNotCheckable()
    {
        const QString sFile = FFx->sandbox->writeFile(u"a/one.pas"_s, "x");
        const int id = addProject(u"No tasks"_s);
        addFile(id, sFile);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        QCOMPARE(view->count(), 1);
        QListWidgetItem *item = view->item(0);
        QCOMPARE(item->checkState(), Qt::Unchecked);
        QVERIFY(!(item->flags() & Qt::ItemIsUserCheckable));
        QVERIFY(item->flags() & Qt::ItemIsSelectable);
        QCOMPARE(item->data(TProjectDelegate::UsableRole).toBool(), false);
        // A click where the box would be does not check it, but selects it.
        const QRect check = TProjectDelegate::Layout(optionOf(view, 0), view->model()->index(0, 0)).check;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, check.center());
        QCOMPARE(item->checkState(), Qt::Unchecked);
        QVERIFY(item->isSelected());
        QVERIFY(child<QAction>(frm, "mmProjectsEdit")->isEnabled());
        QVERIFY(child<QAction>(frm, "mmProjectsDelete")->isEnabled());
        // "All" checks it, and delivery then receives it.
        QVERIFY(child<TLinkLabel>(frm, "lblSelectAll")->isEnabled());
        QTest::mouseClick(child<TLinkLabel>(frm, "lblSelectAll"), Qt::LeftButton);
        QCOMPARE(item->checkState(), Qt::Checked);
        QVERIFY(child<QPushButton>(frm, "btnGenerate")->isEnabled());
        QVERIFY(!child<TLinkLabel>(frm, "lblSelectAll")->isEnabled());
        QVERIFY(child<TLinkLabel>(frm, "lblSelectNone")->isEnabled());
    }

    void singularCountsAndRowLayout()
    {
        const QString sFile = FFx->sandbox->writeFile(u"b/only.pas"_s, "x");
        const int id = addProject(u"Single"_s);
        addFile(id, sFile);
        addTask(id, FFx->sandbox->root() + u"/out"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        TProject *p = frm.ProjectAt(0);
        QCOMPARE(TProjectDelegate::FilesText(p), u"1 file"_s);
        QCOMPARE(TProjectDelegate::ChangesText(p), u"1 change"_s);
        QListWidgetItem *item = view->item(0);
        QCOMPARE(item->checkState(), Qt::Checked);
        QVERIFY(item->flags() & Qt::ItemIsUserCheckable);
        // Both counts inside the row, right-aligned, files before changes,
        // whatever the width of the check box.
        const QStyleOptionViewItem option = optionOf(view, 0);
        const auto layout = TProjectDelegate::Layout(option, view->model()->index(0, 0));
        QVERIFY(layout.changes.right() <= option.rect.right());
        QVERIFY(layout.files.right() < layout.changes.left());
        QVERIFY(layout.title.right() < layout.files.left());
        QVERIFY(layout.check.right() < layout.title.left());
        QVERIFY(!layout.mark.isValid());
        // Space unchecks it by hand: "Zip and deliver" and "None" follow at once.
        view->setFocus();
        view->setCurrentRow(0);
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(item->checkState(), Qt::Unchecked);
        QVERIFY(!child<QPushButton>(frm, "btnGenerate")->isEnabled());
        QVERIFY(!child<TLinkLabel>(frm, "lblSelectNone")->isEnabled());
        QVERIFY(child<TLinkLabel>(frm, "lblSelectAll")->isEnabled());
    }

    void parseErrorCarriesAMark()
    {
        const int id = addProject(u"Broken"_s, 1, FFx->sandbox->root() + u"/gone/broken.dpr"_s);
        Q_UNUSED(id);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        QVERIFY(!view->item(0)->data(TProjectDelegate::ErrorRole).toString().isEmpty());
        const auto layout = TProjectDelegate::Layout(optionOf(view, 0), view->model()->index(0, 0));
        QVERIFY(layout.mark.isValid());
        QVERIFY(layout.mark.right() < layout.title.left());
    }

    void doubleClickOnEmptySpaceOpensANewProject()
    {
        addProject(u"Existing"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        QString sTitle;
        ModalDriver driver([&](QDialog *dialog) { sTitle = dialog->windowTitle(); });
        const QPoint empty(10, view->viewport()->height() - 5);
        QVERIFY(!view->indexAt(empty).isValid());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, empty);
        QVERIFY(driver.ran());
        QCOMPARE(sTitle, u"Project editor :: New project"_s);
        QCOMPARE(view->count(), 1);
    }

    void doubleClickAndReturnEditTheProject()
    {
        addProject(u"Existing"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        QString sTitle;
        {
            ModalDriver driver([&](QDialog *dialog) { sTitle = dialog->windowTitle(); });
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {},
                               view->visualItemRect(view->item(0)).center());
            QVERIFY(driver.ran());
        }
        QCOMPARE(sTitle, u"Project editor :: Existing"_s);
        sTitle.clear();
        {
            ModalDriver driver([&](QDialog *dialog) { sTitle = dialog->windowTitle(); });
            view->setCurrentRow(0);
            QTest::keyClick(view, Qt::Key_Return);
            QVERIFY(driver.ran());
        }
        QCOMPARE(sTitle, u"Project editor :: Existing"_s);
    }

    void keyboardShortcuts()
    {
        addProject(u"Keys"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        frm.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        QListWidget *view = list(frm);
        view->setFocus();
        QString sTitle;
        {
            ModalDriver driver([&](QDialog *dialog) { sTitle = dialog->windowTitle(); });
            QTest::keyClick(view, Qt::Key_N, Qt::ControlModifier);
            QVERIFY(driver.ran());
        }
        QCOMPARE(sTitle, u"Project editor :: New project"_s);
        frm.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        view->setCurrentRow(0);
        TDialogs::PushAnswer(false);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s).size(), 1);
        QCOMPARE(view->count(), 1);
        QTest::keyClick(view, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!frm.isVisible());
    }

    void quickSendFromTheMenuTheButtonAndTheShortcut()
    {
        const QString a = FFx->sandbox->writeFile(u"pick/a.txt"_s, "a");
        const QString b = FFx->sandbox->writeFile(u"pick/b.txt"_s, "b");
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        frm.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        auto *action = child<QAction>(frm, "mmProjectsQuick");
        QVERIFY(action);
        QCOMPARE(action->text(), u"&Quick send\u2026"_s);
        QCOMPARE(action->shortcut(), QKeySequence(u"Ctrl+Shift+S"_s));
        QVERIFY(child<QMenu>(frm, "mmProjects")->actions().contains(action));

        // The button: a file picker for several files, then quick send with them.
        QStringList seen;
        {
            TDialogs::PushFileNames({ a, b });
            ModalDriver driver([&](QDialog *dialog) {
                if (auto *quick = qobject_cast<TfrmQuick *>(dialog))
                    seen = quick->CheckedFiles();
            });
            QTest::mouseClick(child<QPushButton>(frm, "btnQuick"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(driver.ran(), 10000);
        }
        QCOMPARE(seen, (QStringList { a, b }));
        QCOMPARE(TDialogs::Shown().first().sKind, u"openmany"_s);
        QCOMPARE(Params->GetStr(u"Quick send folder"_s), FFx->sandbox->root() + u"/pick"_s);

        // The shortcut, from the folder of the last pick.
        TDialogs::Clear();
        seen.clear();
        {
            TDialogs::PushFileNames({ b });
            ModalDriver driver([&](QDialog *dialog) {
                if (auto *quick = qobject_cast<TfrmQuick *>(dialog))
                    seen = quick->CheckedFiles();
            });
            frm.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&frm));
            QTest::keyClick(&frm, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
            QTRY_VERIFY_WITH_TIMEOUT(driver.ran(), 10000);
        }
        QCOMPARE(seen, QStringList { b });
        QCOMPARE(TDialogs::Shown().first().sText, FFx->sandbox->root() + u"/pick"_s);

        // Cancelling the picker opens nothing.
        TDialogs::Clear();
        action->trigger();
        QCOMPARE(TDialogs::Shown().size(), 1);
        QTest::qWait(0);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void filterBoxNarrowsTheListAndWhatIsDelivered()
    {
        const QString out = FFx->sandbox->path(u"out"_s);
        QDir().mkpath(out);
        for (const QString &sTitle : { u"Alpha Tool"_s, u"Beta"_s, u"alphabet"_s }) {
            const int id = addProject(sTitle);
            addFile(id, FFx->sandbox->writeFile(sTitle + u"/f.txt"_s, "f"));
            addTask(id, out);
        }
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        auto *filter = child<QLineEdit>(frm, "edFilter");
        QVERIFY(filter);
        auto shown = [&] {
            QStringList titles;
            for (int i = 0; i < view->count(); ++i)
                if (!view->item(i)->isHidden())
                    titles << view->item(i)->text();
            return titles;
        };
        QCOMPARE(shown(), (QStringList { u"Alpha Tool"_s, u"alphabet"_s, u"Beta"_s }));
        QTest::keyClicks(filter, u"ALPHA"_s);
        QCOMPARE(shown(), (QStringList { u"Alpha Tool"_s, u"alphabet"_s }));
        // None and All act on the shown rows; Zip and deliver sends only those.
        child<TLinkLabel>(frm, "lblSelectNone")->clicked();
        QCOMPARE(view->item(2)->checkState(), Qt::Checked); // Beta, hidden, keeps its tick
        child<TLinkLabel>(frm, "lblSelectAll")->clicked();
        view->item(1)->setCheckState(Qt::Unchecked);
        QList<QStringList> lines;
        {
            ModalDriver driver([&](QDialog *dialog) {
                auto *generate = qobject_cast<TfrmGenerate *>(dialog);
                if (!generate)
                    return;
                QTRY_VERIFY_WITH_TIMEOUT(generate->CanClose() && generate->Progress().Count() > 0
                                             && generate->Progress().Lines().last().sText
                                                 == u"Generation complete."_s,
                                         30000);
                QStringList texts;
                for (const TProgressLine &line : generate->Progress().Lines())
                    texts << line.sText;
                lines << texts;
            });
            QTest::mouseClick(child<QPushButton>(frm, "btnGenerate"), Qt::LeftButton);
            QVERIFY(driver.ran());
        }
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].first(), u"Alpha Tool"_s);
        QVERIFY(!lines[0].contains(u"Beta"_s));
        QVERIFY(!lines[0].contains(u"alphabet"_s));
        filter->clear();
        QCOMPARE(shown().size(), 3);

        // Each row tells its last delivery.
        QCOMPARE(view->item(0)->data(TProjectDelegate::LastRole).toString().left(5), u"Sent "_s);
        QCOMPARE(view->item(1)->data(TProjectDelegate::LastRole).toString(), u"Never sent"_s);
    }

    // The rows come first; every project's counts, checks and last delivery
    // follow from the worker, into the row of the project they belong to.
    void countsArriveFromTheWorkerForEveryRow()
    {
        for (const QString &name : { u"a.pas"_s, u"b.pas"_s, u"c.pas"_s })
            FFx->sandbox->writeFile(u"tree/"_s + name, "x");
        for (int i = 0; i < 40; ++i) {
            const int id = addProject(u"Project %1"_s.arg(i, 2, 10, QLatin1Char('0')));
            addFile(id, FFx->sandbox->root() + u"/tree/*.pas"_s);
            if (i % 2 == 0)
                addTask(id, FFx->sandbox->root());
        }
        FFx->db->ExecSQL(u"INSERT INTO log (success, source, filename, files, method, destination, modified) "
                         "VALUES (0, 1, 'Project07_1.0.zip', 3, 1, '/out', '2026-03-01 12:00:00')"_s);
        TfrmMain frm;
        QSignalSpy filled(&frm, &TfrmMain::filled);
        frm.show();
        QTRY_VERIFY(frm.Listed());
        QListWidget *view = list(frm);
        QCOMPARE(view->count(), 40);
        QTRY_COMPARE(filled.size(), 1);
        QVERIFY(frm.Filled());
        for (int i = 0; i < view->count(); ++i) {
            QListWidgetItem *item = view->item(i);
            TProject *p = frm.ProjectAt(i);
            QCOMPARE(frm.Projects().At(i), p);
            QCOMPARE(p->Title(), u"Project %1"_s.arg(i, 2, 10, QLatin1Char('0')));
            QVERIFY(item->data(TProjectDelegate::CountedRole).toBool());
            QCOMPARE(TProjectDelegate::FilesText(p), u"3 files"_s);
            QCOMPARE(item->checkState(), i % 2 == 0 ? Qt::Checked : Qt::Unchecked);
            QCOMPARE(item->data(TProjectDelegate::LastFailedRole).toBool(), i == 7);
            QCOMPARE(item->data(TProjectDelegate::LastRole).toString().startsWith(u"Failed "_s), i == 7);
        }
        QCOMPARE(child<QPushButton>(frm, "btnGenerate")->isEnabled(), true);
    }

    void lastDeliveryTellsTheNewestAttemptOfTheProject()
    {
        addProject(u"My Tool"_s);
        addProject(u"My Tool_X"_s);
        auto log = [&](int iSuccess, const QString &sFile, const QString &sWhen) {
            FFx->db->ExecSQLFmt(u"INSERT INTO log (success, source, filename, files, method, destination, "
                                "modified) VALUES (%d, 1, '%s', 1, 1, '/out', '%s')"_s,
                                { iSuccess, sFile, sWhen });
        };
        log(1, u"MyTool_1.0.zip"_s, u"2026-03-01 12:00:00"_s);
        log(0, u"MyTool_1.1.zip"_s, u"2026-03-02 12:00:00"_s);
        // Another project's archives (a longer title, another case) do not count.
        log(1, u"MyTool_X_1.2.zip"_s, u"2026-03-03 12:00:00"_s);
        log(1, u"mytool_1.3.zip"_s, u"2026-03-04 12:00:00"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        QCOMPARE(view->item(0)->text(), u"My Tool"_s);
        const QString sFailed = view->item(0)->data(TProjectDelegate::LastRole).toString();
        QVERIFY2(sFailed.startsWith(u"Failed "_s), qPrintable(sFailed));
        QVERIFY(view->item(0)->data(TProjectDelegate::LastFailedRole).toBool());
        QVERIFY(view->item(1)->data(TProjectDelegate::LastRole).toString().startsWith(u"Sent "_s));
        QVERIFY(!view->item(1)->data(TProjectDelegate::LastFailedRole).toBool());
        // The row has room for it between the title and the counts.
        const TProjectDelegate::TRowLayout layout
            = TProjectDelegate::Layout(optionOf(view, 0), view->model()->index(0, 0));
        QVERIFY(layout.last.isValid());
        QVERIFY(layout.title.right() < layout.last.left());
        QVERIFY(layout.last.right() < layout.files.left());
    }

    void deleteRemovesOnlyThatProject()
    {
        const int a = addProject(u"Alpha"_s);
        const int b = addProject(u"Beta"_s);
        addFile(a, u"/tmp/a.pas"_s);
        addFile(b, u"/tmp/b.pas"_s);
        const int ta = addTask(a, u"/srv/a"_s);
        const int tb = addTask(b, u"/srv/b"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        QCOMPARE(view->item(0)->text(), u"Alpha"_s);
        view->setCurrentRow(0);
        // No: nothing goes.
        TDialogs::PushAnswer(false);
        child<QAction>(frm, "mmProjectsDelete")->trigger();
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s),
                 QStringList { u"Are you sure you want to delete the project \"Alpha\"?"_s });
        QCOMPARE(view->count(), 2);
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects"_s), 2);
        TDialogs::PushAnswer(true);
        child<QAction>(frm, "mmProjectsDelete")->trigger();
        QCOMPARE(view->count(), 1);
        QCOMPARE(view->item(0)->text(), u"Beta"_s);
        QCOMPARE(frm.Projects().Count(), 1);
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects WHERE id = %1"_s.arg(a)), 0);
        QCOMPARE(count(u"SELECT COUNT(*) FROM files WHERE id_projects = %1"_s.arg(a)), 0);
        QCOMPARE(count(u"SELECT COUNT(*) FROM send WHERE id_projects = %1"_s.arg(a)), 0);
        QCOMPARE(count(u"SELECT COUNT(*) FROM sendparams WHERE id_send = %1"_s.arg(ta)), 0);
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects WHERE id = %1"_s.arg(b)), 1);
        QCOMPARE(count(u"SELECT COUNT(*) FROM files WHERE id_projects = %1"_s.arg(b)), 1);
        QCOMPARE(count(u"SELECT COUNT(*) FROM send WHERE id_projects = %1"_s.arg(b)), 1);
        QCOMPARE(count(u"SELECT COUNT(*) FROM sendparams WHERE id_send = %1"_s.arg(tb)), 1);
        // Nothing selected: the entries are off.
        view->clearSelection();
        QVERIFY(!child<QAction>(frm, "mmProjectsDelete")->isEnabled());
    }

    void laterProjectsAreAppendedAndCancelStillLists()
    {
        addProject(u"Beta"_s);
        addProject(u"Charlie"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        {
            ModalDriver driver([&](QDialog *dialog) {
                dialog->findChild<QLineEdit *>(u"edTitle"_s)->setText(u"Alpha"_s);
                QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnSave"_s), Qt::LeftButton);
            });
            child<QAction>(frm, "mmProjectsAdd")->trigger();
            QVERIFY(driver.ran());
        }
        QCOMPARE(view->count(), 3);
        QCOMPARE(view->item(2)->text(), u"Alpha"_s);
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects WHERE title = 'Alpha'"_s), 1);
        // Stored on leaving the Project page, then cancelled: listed anyway.
        {
            ModalDriver driver([&](QDialog *dialog) {
                dialog->findChild<QLineEdit *>(u"edTitle"_s)->setText(u"Delta"_s);
                dialog->findChild<QTabWidget *>(u"pgProject"_s)->setCurrentIndex(1);
                QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnCancel"_s), Qt::LeftButton);
            });
            child<QAction>(frm, "mmProjectsAdd")->trigger();
            QVERIFY(driver.ran());
        }
        QCOMPARE(view->count(), 4);
        QCOMPARE(view->item(3)->text(), u"Delta"_s);
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects WHERE title = 'Delta'"_s), 1);
        // Cancelled before anything was stored: nothing listed.
        {
            ModalDriver driver([&](QDialog *dialog) {
                dialog->findChild<QLineEdit *>(u"edTitle"_s)->setText(u"Echo"_s);
                QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnCancel"_s), Qt::LeftButton);
            });
            child<QAction>(frm, "mmProjectsAdd")->trigger();
            QVERIFY(driver.ran());
        }
        QCOMPARE(view->count(), 4);
        QCOMPARE(count(u"SELECT COUNT(*) FROM projects"_s), 4);
    }

    void renameWithAQuote()
    {
        addProject(u"Bob's tool"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        view->setCurrentRow(0);
        ModalDriver driver([&](QDialog *dialog) {
            auto *title = dialog->findChild<QLineEdit *>(u"edTitle"_s);
            QCOMPARE(title->text(), u"Bob's tool"_s);
            title->setText(u"Bob's \"new\" tool"_s);
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnSave"_s), Qt::LeftButton);
        });
        child<QAction>(frm, "mmProjectsEdit")->trigger();
        QVERIFY(driver.ran());
        QCOMPARE(FFx->db->GetTableString(u"SELECT title FROM projects"_s), u"Bob's \"new\" tool"_s);
        QCOMPARE(frm.ProjectAt(0)->Title(), u"Bob's \"new\" tool"_s);
        QCOMPARE(view->item(0)->text(), u"Bob's \"new\" tool"_s);
    }

    // The whole everyday job through the windows: a project with a wildcard
    // entry and a folder task, delivered, found in the folder, and the list
    // counted again afterwards.
    void createAndDeliverEndToEnd()
    {
        FFx->sandbox->writeFile(u"src/main.cpp"_s, "int main() {}\n");
        FFx->sandbox->writeFile(u"src/util.cpp"_s, "void f() {}\n");
        FFx->sandbox->writeFile(u"src/notes.txt"_s, "not me\n");
        const QString sOut = FFx->sandbox->root() + u"/out"_s;
        QVERIFY(QDir().mkpath(sOut));
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QListWidget *view = list(frm);
        bool bFileAdd = false, bSendEditor = false;
        ModalDriver editor([&](QDialog *dialog) {
            dialog->findChild<QLineEdit *>(u"edTitle"_s)->setText(u"Tool"_s);
            auto *pages = dialog->findChild<QTabWidget *>(u"pgProject"_s);
            pages->setCurrentIndex(1);
            {
                ModalDriver add([&](QDialog *fileAdd) {
                    bFileAdd = fileAdd->objectName() == u"frmFileAdd"_s;
                    fileAdd->findChild<QLineEdit *>(u"edMask"_s)->setText(u"*.cpp"_s);
                    fileAdd->findChild<QLineEdit *>(u"edFolder"_s)->setText(FFx->sandbox->root() + u"/src"_s);
                    auto *btnAdd = fileAdd->findChild<QPushButton *>(u"btnAdd"_s);
                    QTRY_VERIFY_WITH_TIMEOUT(btnAdd->isEnabled(), 10000);
                    QTest::mouseClick(btnAdd, Qt::LeftButton);
                });
                QTest::mouseClick(dialog->findChild<TLinkLabel *>(u"lblFileAdd"_s), Qt::LeftButton);
                QVERIFY(add.ran());
            }
            auto *files = dialog->findChild<QListWidget *>(u"listFiles"_s);
            QCOMPARE(files->count(), 1);
            QTRY_COMPARE(files->item(0)->data(TFileRowDelegate::CountRole).toString(), u"2 files"_s);
            pages->setCurrentIndex(2);
            {
                ModalDriver send([&](QDialog *sendEditor) {
                    bSendEditor = sendEditor->objectName() == u"frmSendEditor"_s;
                    sendEditor->findChild<QTabWidget *>(u"pgMethod"_s)->setCurrentIndex(1);
                    sendEditor->findChild<QLineEdit *>(u"edFileFolder"_s)->setText(sOut);
                    QTest::mouseClick(sendEditor->findChild<QPushButton *>(u"btnSave"_s), Qt::LeftButton);
                });
                QTest::mouseClick(dialog->findChild<TLinkLabel *>(u"lblSendAdd"_s), Qt::LeftButton);
                QVERIFY(send.ran());
            }
            QCOMPARE(dialog->findChild<QListWidget *>(u"listMethods"_s)->count(), 1);
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnSave"_s), Qt::LeftButton);
        });
        child<QAction>(frm, "mmProjectsAdd")->trigger();
        QVERIFY(editor.ran());
        QVERIFY(bFileAdd);
        QVERIFY(bSendEditor);
        QCOMPARE(view->count(), 1);
        TProject *p = frm.ProjectAt(0);
        QCOMPARE(p->FileCount(), 2);
        QCOMPARE(TProjectDelegate::ChangesText(p), u"2 changes"_s);
        QCOMPARE(view->item(0)->checkState(), Qt::Checked);

        bool bClosed = false;
        ModalDriver run([&](QDialog *dialog) {
            auto *generate = qobject_cast<TfrmGenerate *>(dialog);
            QVERIFY(generate);
            QTRY_VERIFY_WITH_TIMEOUT(generate->CanClose(), 30000);
            dialog->close();
            bClosed = true;
        });
        QTest::mouseClick(child<QPushButton>(frm, "btnGenerate"), Qt::LeftButton);
        QVERIFY(run.ran());
        QVERIFY(bClosed);
        const QStringList zips = QDir(sOut).entryList({ u"*.zip"_s }, QDir::Files);
        QCOMPARE(zips.size(), 1);
        // Delivered: nothing new to send, so it is no longer checked.
        QCOMPARE(TProjectDelegate::ChangesText(p), u"0 changes"_s);
        QCOMPARE(view->item(0)->checkState(), Qt::Unchecked);
        QVERIFY(!child<QPushButton>(frm, "btnGenerate")->isEnabled());
    }

    void aboutBoxNamesTheVersions()
    {
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        QStringList texts;
        bool webShown = true;
        ModalDriver driver([&](QDialog *dialog) {
            QCOMPARE(dialog->objectName(), u"frmAbout"_s);
            for (const char *name : { "lblName", "lblVersion", "lblWeb", "lblLicence" })
                texts.append(dialog->findChild<QLabel *>(QLatin1String(name))->text());
            webShown = dialog->findChild<QLabel *>(u"lblWeb"_s)->isVisible();
        });
        child<QAction>(frm, "mmAbout")->trigger();
        QVERIFY(driver.ran());
        QCOMPARE(texts.size(), 4);
        QVERIFY(texts.at(0).startsWith(u"Bundlewick "_s));
        QVERIFY(texts.at(1).contains(AppVersion()));
        // No web site in this build: its line is hidden; the licence is the shipped one.
        QCOMPARE(texts.at(2), u"<a href=\"\"></a>"_s);
        QVERIFY(!webShown);
        QCOMPARE(texts.at(3), u"Licensed to you under the <a href=\"licence\">MIT licence</a>."_s);
    }
    void rowsExplainWhatTheyCannotShow()
    {
        const QString sLong = u"A project with a title far too long for the narrow window it is listed in"_s;
        const int a = addProject(sLong);
        addFile(a, u"/tmp/a.pas"_s);
        addTask(a, u"/srv/a"_s);
        addProject(u"Bare"_s);
        const int f = addProject(u"Files only"_s);
        addFile(f, u"/tmp/f.pas"_s);
        const int t = addProject(u"Tasks only"_s);
        addTask(t, u"/srv/t"_s);
        TfrmMain frm;
        QVERIFY(showFilled(frm));
        frm.resize(400, 400);
        QListWidget *view = list(frm);
        QTRY_VERIFY(view->viewport()->width() < 380);
        const auto tip = [&](int iRow) {
            QStyleOptionViewItem option;
            option.initFrom(view->viewport());
            option.rect = view->visualItemRect(view->item(iRow));
            return TProjectDelegate::ToolTipText(option, view->model()->index(iRow, 0));
        };
        QCOMPARE(view->item(0)->text(), sLong);
        QCOMPARE(tip(0), sLong);
        QCOMPARE(tip(1), u"Cannot be delivered: no files and no send tasks"_s);
        QCOMPARE(tip(2), u"Cannot be delivered: no send tasks"_s);
        QCOMPARE(tip(3), u"Cannot be delivered: no files"_s);
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
