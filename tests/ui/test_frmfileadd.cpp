#include "projects/project.h"
#include "ui/frmfileadd.h"
#include "ui/linklabel.h"
#include "uitest.h"

#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

class TestFrmFileAdd : public QObject
{
    Q_OBJECT

    std::unique_ptr<bwtest::UiFixture> FFx;
    std::unique_ptr<TProject> FProject;
    QString FSrc;

    template<typename T> static T *child(QWidget &frm, const char *name)
    {
        T *widget = frm.findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qWarning("no %s", name);
        return widget;
    }
    QStringList storedEntries() const
    {
        QStringList entries;
        FFx->db->GetTableStrings(
            u"SELECT filename FROM files WHERE id_projects = %1 ORDER BY id"_s.arg(FProject->ProjectID()),
            entries);
        return entries;
    }
    static void setText(QWidget &frm, const char *name, const QString &sText)
    {
        child<QLineEdit>(frm, name)->setText(sText);
    }
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

private slots:
    void init()
    {
        FFx = std::make_unique<bwtest::UiFixture>();
        for (const char *name : { "src/a.cpp", "src/b.cpp", "src/c.h", "src/.svn/x.cpp", "src/sub/d.cpp",
                                  "src/it's/q.cpp", "src/my_lib/e.cpp", "src/myXlib/f.cpp" })
            FFx->sandbox->writeFile(QString::fromLatin1(name), "x");
        FSrc = FFx->sandbox->root() + u"/src"_s;
        FFx->db->ExecSQL(u"INSERT INTO projects (type, title) VALUES (0, 'Tool')"_s);
        FProject = CreateProject(pkGeneric, int(FFx->db->LastInsertRowID()), u"Tool"_s, QString());
        FProject->Parse();
    }
    void cleanup()
    {
        FProject.reset();
        FFx.reset();
    }

    void startsEmptyWithTheProjectInTheCaption()
    {
        TfrmFileAdd frm(FProject.get());
        frm.show();
        QCOMPARE(frm.windowTitle(), u"Add files :: Tool"_s);
        QCOMPARE(frm.HelpTopic(), 20);
        QVERIFY(child<QRadioButton>(frm, "rbSingle")->isChecked());
        QCOMPARE(child<TLinkLabel>(frm, "lblFolderCount")->text(), QString());
        QVERIFY(!child<QPushButton>(frm, "btnAdd")->isEnabled());
        QVERIFY(!child<QPushButton>(frm, "btnAnother")->isEnabled());
        QVERIFY(child<QPushButton>(frm, "btnAnother")->isDefault());
        QVERIFY(!child<QCheckBox>(frm, "cbRecurse")->isChecked());
        // Not resizable: the size follows the font.
        QCOMPARE(frm.minimumSize(), frm.maximumSize());
    }

    void threeChosenFilesGiveThreeEntries()
    {
        const QStringList files = { FSrc + u"/a.cpp"_s, FSrc + u"/b.cpp"_s, FSrc + u"/it's/q.cpp"_s };
        TDialogs::PushFileNames(files);
        TfrmFileAdd frm(FProject.get());
        frm.show();
        QTest::mouseClick(child<QPushButton>(frm, "btnFile"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"openmany"_s), QStringList({ QDir::homePath() + u"/Documents"_s }));
        QVERIFY(child<QPushButton>(frm, "btnAdd")->isEnabled());
        QCOMPARE(Params->GetStr(u"Add file folder"_s), FSrc);

        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QVERIFY(!frm.isVisible());
        QCOMPARE(storedEntries(), files);
        const int first = FFx->db->QueryIntegerFmt(u"SELECT MIN(id) FROM files WHERE id_projects = %d"_s,
                                                   { FProject->ProjectID() });
        QCOMPARE(frm.ResultID(), first);
        FProject->FileAdd(frm.ResultID());
        QCOMPARE(FProject->FilePaths(), files);
    }

    void liveCountAndRecursiveEntryWithExclusions()
    {
        TfrmFileAdd frm(FProject.get());
        frm.SetCountDelay(0);
        frm.show();
        auto *lblCount = child<TLinkLabel>(frm, "lblFolderCount");
        auto *btnAdd = child<QPushButton>(frm, "btnAdd");
        setText(frm, "edFolder", FSrc);
        QVERIFY(child<QRadioButton>(frm, "rbMultiple")->isChecked());
        QTest::keyClicks(child<QLineEdit>(frm, "edMask"), u"*.cpp"_s);
        QTRY_COMPARE(lblCount->text(), u"2 matching files"_s);
        QCOMPARE(frm.FolderCount(), 2);
        QVERIFY(btnAdd->isEnabled());

        // Ticking the recursion and typing exclusions count again at once.
        QTest::mouseClick(child<QCheckBox>(frm, "cbRecurse"), Qt::LeftButton);
        QTRY_COMPARE(lblCount->text(), u"7 matching files"_s);
        QTest::keyClicks(child<QLineEdit>(frm, "edExclude"), u".svn;my_lib"_s);
        QTRY_COMPARE(lblCount->text(), u"5 matching files"_s);
        setText(frm, "edMask", u"*.cpp "_s);
        QTRY_COMPARE(lblCount->text(), u"5 matching files"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_COMPARE(lblCount->text(), u"5 matching files"_s);

        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QVERIFY(frm.isVisible());
        QCOMPARE(storedEntries(), QStringList({ FSrc + u"/*.cpp -r -e \".svn;my_lib\""_s }));
        QCOMPARE(FProject->FileCount(), 5);
        // The mask is emptied and so is the count: nothing left to add.
        QCOMPARE(child<QLineEdit>(frm, "edMask")->text(), QString());
        QCOMPARE(child<QLineEdit>(frm, "edFolder")->text(), FSrc);
        QCOMPARE(frm.FolderCount(), 0);
        QCOMPARE(lblCount->text(), QString());
        QVERIFY(!btnAdd->isEnabled());
        QVERIFY(!child<QPushButton>(frm, "btnAnother")->isEnabled());
        QVERIFY(child<QCheckBox>(frm, "cbRecurse")->isChecked());
    }

    void countFollowsTheCurrentText()
    {
        TfrmFileAdd frm(FProject.get());
        frm.show();
        setText(frm, "edFolder", FSrc);
        // Typed quickly: each key forgets the count of the text before.
        QTest::keyClicks(child<QLineEdit>(frm, "edMask"), u"*.h"_s);
        QCOMPARE(frm.FolderCount(), 0);
        QTRY_VERIFY(!frm.Counting());
        QCOMPARE(child<TLinkLabel>(frm, "lblFolderCount")->text(), u"1 matching file"_s);
        setText(frm, "edFolder", FSrc + u"/missing"_s);
        QCOMPARE(frm.FolderCount(), 0);
        QVERIFY(!frm.Counting());
        QCOMPARE(child<TLinkLabel>(frm, "lblFolderCount")->text(), QString());
        QVERIFY(!child<QPushButton>(frm, "btnAdd")->isEnabled());
    }

    void duplicateFolderEntryIsRefusedAndTheDialogStays()
    {
        TfrmFileAdd frm(FProject.get());
        frm.SetCountDelay(0);
        frm.show();
        setText(frm, "edFolder", FSrc + u"/my_lib"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_VERIFY(child<QPushButton>(frm, "btnAnother")->isEnabled());
        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QCOMPARE(storedEntries().size(), 1);

        // A folder that LIKE would have taken for the same one is new.
        setText(frm, "edFolder", FSrc + u"/myXlib"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_VERIFY(child<QPushButton>(frm, "btnAnother")->isEnabled());
        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QCOMPARE(storedEntries().size(), 2);
        QVERIFY(bwtest::ShownTexts(u"critical"_s).isEmpty());

        // The same folder and mask again.
        setText(frm, "edFolder", FSrc + u"/my_lib"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_VERIFY(child<QPushButton>(frm, "btnAdd")->isEnabled());
        const int before = FProject->FileCount();
        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"critical"_s),
                 QStringList({ u"These details are not valid. Please try again."_s }));
        QVERIFY(frm.isVisible());
        QCOMPARE(frm.ResultID(), 0);
        QCOMPARE(storedEntries().size(), 2);
        QCOMPARE(FProject->FileCount(), before);
        // Everything typed is still there.
        QCOMPARE(child<QLineEdit>(frm, "edMask")->text(), u"*.cpp"_s);

        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"critical"_s).size(), 2);
        QCOMPARE(storedEntries().size(), 2);
        QCOMPARE(child<QLineEdit>(frm, "edMask")->text(), u"*.cpp"_s);
    }

    void quotesRoundTrip()
    {
        TfrmFileAdd frm(FProject.get());
        frm.SetCountDelay(0);
        frm.show();
        setText(frm, "edFolder", FSrc + u"/it's"_s);
        setText(frm, "edMask", u"*.cpp;*.c'"_s);
        QTRY_COMPARE(frm.FolderCount(), 1);
        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QCOMPARE(storedEntries(), QStringList({ FSrc + u"/it's/*.cpp;*.c'"_s }));
        FProject->FileAdd(frm.ResultID());
        QCOMPARE(FProject->FilePaths(), QStringList({ FSrc + u"/it's/q.cpp"_s }));
    }

    void relativeFileIsRefused()
    {
        TfrmFileAdd frm(FProject.get());
        frm.show();
        setText(frm, "edFile", u"src/a.cpp"_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"critical"_s),
                 QStringList({ u"These details are not valid. Please try again."_s }));
        QVERIFY(frm.isVisible());
        QVERIFY(storedEntries().isEmpty());
    }

    void dropsFromAFileManager()
    {
        TfrmFileAdd frm(FProject.get());
        frm.show();
        auto *edFile = child<QLineEdit>(frm, "edFile");
        auto *edFolder = child<QLineEdit>(frm, "edFolder");
        dropUrls(edFile, { FSrc + u"/a.cpp"_s });
        dropUrls(edFile, { FSrc + u"/b.cpp"_s, FSrc + u"/it's/q.cpp"_s });
        // A folder is no file, and a file is no folder: both drops are left alone.
        dropUrls(edFile, { FSrc + u"/sub"_s });
        dropUrls(edFolder, { FSrc + u"/a.cpp"_s });
        QCOMPARE(edFolder->text(), QString());
        dropUrls(edFolder, { FSrc + u"/sub"_s });
        QCOMPARE(edFolder->text(), FSrc + u"/sub"_s);

        setText(frm, "edMask", QString());
        child<QRadioButton>(frm, "rbSingle")->click();
        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(storedEntries(),
                 QStringList({ FSrc + u"/a.cpp"_s, FSrc + u"/b.cpp"_s, FSrc + u"/it's/q.cpp"_s }));
    }

    void executeReturnsTheIdAndRemembersRecursion()
    {
        const QString sFile = FSrc + u"/c.h"_s;
        TDialogs::PushFileNames({ sFile });
        bwtest::ModalDriver driver([](QDialog *dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnFile"_s), Qt::LeftButton);
            dialog->findChild<QCheckBox *>(u"cbRecurse"_s)->setChecked(true);
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnAdd"_s), Qt::LeftButton);
        });
        const int id = TfrmFileAdd::Execute(FProject.get());
        QVERIFY(driver.ran());
        QVERIFY(id > 0);
        QCOMPARE(storedEntries(), QStringList({ sFile }));
        QVERIFY(Params->GetBool(u"Add folders recursively"_s));

        bwtest::ModalDriver cancel([](QDialog *dialog) {
            QVERIFY(dialog->findChild<QCheckBox *>(u"cbRecurse"_s)->isChecked());
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnCancel"_s), Qt::LeftButton);
        });
        QCOMPARE(TfrmFileAdd::Execute(FProject.get()), 0);
        QVERIFY(cancel.ran());
    }
};

QTEST_MAIN(TestFrmFileAdd)
#include "test_frmfileadd.moc"
