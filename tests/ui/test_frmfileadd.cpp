#include "projects/parser.h"
#include "ui/frmfileadd.h"
#include "ui/torrolabel.h"
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

    std::unique_ptr<bwtest::UiFixture> m_fx;
    std::unique_ptr<TParser> m_parser;
    QString m_src;

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
        m_fx->db->GetTableStrings(
            u"SELECT filename FROM files WHERE id_projects = %1 ORDER BY id"_s.arg(m_parser->ProjectID()),
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
        m_fx = std::make_unique<bwtest::UiFixture>();
        for (const char *name : { "src/a.cpp", "src/b.cpp", "src/c.h", "src/.svn/x.cpp", "src/sub/d.cpp",
                                  "src/it's/q.cpp", "src/my_lib/e.cpp", "src/myXlib/f.cpp" })
            m_fx->sandbox->writeFile(QString::fromLatin1(name), "x");
        m_src = m_fx->sandbox->root() + u"/src"_s;
        m_fx->db->ExecSQL(u"INSERT INTO projects (type, title) VALUES (0, 'Tool')"_s);
        m_parser = CreateParser(pkGeneric, int(m_fx->db->LastInsertRowID()), u"Tool"_s, QString());
        m_parser->Parse();
    }
    void cleanup()
    {
        m_parser.reset();
        m_fx.reset();
    }

    void startsEmptyWithTheProjectInTheCaption()
    {
        TfrmFileAdd frm(m_parser.get());
        frm.show();
        QCOMPARE(frm.windowTitle(), u"Add files :: Tool"_s);
        QCOMPARE(frm.HelpTopic(), 20);
        QVERIFY(child<QRadioButton>(frm, "rbSingle")->isChecked());
        QCOMPARE(child<TorroLabel>(frm, "lblFolderCount")->text(), QString());
        QVERIFY(!child<QPushButton>(frm, "btnAdd")->isEnabled());
        QVERIFY(!child<QPushButton>(frm, "btnAnother")->isEnabled());
        QVERIFY(child<QPushButton>(frm, "btnAnother")->isDefault());
        QVERIFY(!child<QCheckBox>(frm, "cbRecurse")->isChecked());
        // Not resizable: the size follows the font.
        QCOMPARE(frm.minimumSize(), frm.maximumSize());
    }

    void threeChosenFilesGiveThreeEntries()
    {
        const QStringList files = { m_src + u"/a.cpp"_s, m_src + u"/b.cpp"_s, m_src + u"/it's/q.cpp"_s };
        TDialogs::PushFileNames(files);
        TfrmFileAdd frm(m_parser.get());
        frm.show();
        QTest::mouseClick(child<QPushButton>(frm, "btnFile"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"openmany"_s), QStringList({ QDir::homePath() + u"/Documents"_s }));
        QVERIFY(child<QPushButton>(frm, "btnAdd")->isEnabled());
        QCOMPARE(Params->GetStr(u"Add file folder"_s), m_src);

        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QVERIFY(!frm.isVisible());
        QCOMPARE(storedEntries(), files);
        const int first = m_fx->db->QueryIntegerFmt(u"SELECT MIN(id) FROM files WHERE id_projects = %d"_s,
                                                    { m_parser->ProjectID() });
        QCOMPARE(frm.ResultID(), first);
        m_parser->FileAdd(frm.ResultID());
        QCOMPARE(m_parser->FilePaths(), files);
    }

    void liveCountAndRecursiveEntryWithExclusions()
    {
        TfrmFileAdd frm(m_parser.get());
        frm.SetCountDelay(0);
        frm.show();
        auto *lblCount = child<TorroLabel>(frm, "lblFolderCount");
        auto *btnAdd = child<QPushButton>(frm, "btnAdd");
        setText(frm, "edFolder", m_src);
        QVERIFY(child<QRadioButton>(frm, "rbMultiple")->isChecked());
        QTest::keyClicks(child<QLineEdit>(frm, "edMask"), u"*.cpp"_s);
        QTRY_COMPARE(lblCount->text(), u"2 matching files"_s);
        QCOMPARE(frm.FolderCount(), 2);
        QVERIFY(btnAdd->isEnabled());

        // The recursion choice and the exclusions count from the next change on.
        QTest::mouseClick(child<QCheckBox>(frm, "cbRecurse"), Qt::LeftButton);
        QTest::keyClicks(child<QLineEdit>(frm, "edExclude"), u".svn;my_lib"_s);
        QCOMPARE(lblCount->text(), u"2 matching files"_s);
        setText(frm, "edMask", u"*.cpp "_s);
        QTRY_COMPARE(lblCount->text(), u"5 matching files"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_COMPARE(lblCount->text(), u"5 matching files"_s);

        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QVERIFY(frm.isVisible());
        QCOMPARE(storedEntries(), QStringList({ m_src + u"/*.cpp -r -e \".svn;my_lib\""_s }));
        QCOMPARE(m_parser->FileCount(), 5);
        // The mask is emptied and so is the count: nothing left to add.
        QCOMPARE(child<QLineEdit>(frm, "edMask")->text(), QString());
        QCOMPARE(child<QLineEdit>(frm, "edFolder")->text(), m_src);
        QCOMPARE(frm.FolderCount(), 0);
        QCOMPARE(lblCount->text(), QString());
        QVERIFY(!btnAdd->isEnabled());
        QVERIFY(!child<QPushButton>(frm, "btnAnother")->isEnabled());
        QVERIFY(child<QCheckBox>(frm, "cbRecurse")->isChecked());
    }

    void countFollowsTheCurrentText()
    {
        TfrmFileAdd frm(m_parser.get());
        frm.show();
        setText(frm, "edFolder", m_src);
        // Typed quickly: each key forgets the count of the text before.
        QTest::keyClicks(child<QLineEdit>(frm, "edMask"), u"*.h"_s);
        QCOMPARE(frm.FolderCount(), 0);
        QTRY_VERIFY(!frm.Counting());
        QCOMPARE(child<TorroLabel>(frm, "lblFolderCount")->text(), u"1 matching file"_s);
        setText(frm, "edFolder", m_src + u"/missing"_s);
        QCOMPARE(frm.FolderCount(), 0);
        QVERIFY(!frm.Counting());
        QCOMPARE(child<TorroLabel>(frm, "lblFolderCount")->text(), QString());
        QVERIFY(!child<QPushButton>(frm, "btnAdd")->isEnabled());
    }

    void duplicateFolderEntryIsRefusedAndTheDialogStays()
    {
        TfrmFileAdd frm(m_parser.get());
        frm.SetCountDelay(0);
        frm.show();
        setText(frm, "edFolder", m_src + u"/my_lib"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_VERIFY(child<QPushButton>(frm, "btnAnother")->isEnabled());
        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QCOMPARE(storedEntries().size(), 1);

        // A folder that LIKE would have taken for the same one is new.
        setText(frm, "edFolder", m_src + u"/myXlib"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_VERIFY(child<QPushButton>(frm, "btnAnother")->isEnabled());
        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QCOMPARE(storedEntries().size(), 2);
        QVERIFY(bwtest::ShownTexts(u"critical"_s).isEmpty());

        // The same folder and mask again.
        setText(frm, "edFolder", m_src + u"/my_lib"_s);
        setText(frm, "edMask", u"*.cpp"_s);
        QTRY_VERIFY(child<QPushButton>(frm, "btnAdd")->isEnabled());
        const int before = m_parser->FileCount();
        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"critical"_s),
                 QStringList({ u"These details are not valid. Please try again."_s }));
        QVERIFY(frm.isVisible());
        QCOMPARE(frm.ResultID(), 0);
        QCOMPARE(storedEntries().size(), 2);
        QCOMPARE(m_parser->FileCount(), before);
        // Everything typed is still there.
        QCOMPARE(child<QLineEdit>(frm, "edMask")->text(), u"*.cpp"_s);

        QTest::mouseClick(child<QPushButton>(frm, "btnAnother"), Qt::LeftButton);
        QCOMPARE(bwtest::ShownTexts(u"critical"_s).size(), 2);
        QCOMPARE(storedEntries().size(), 2);
        QCOMPARE(child<QLineEdit>(frm, "edMask")->text(), u"*.cpp"_s);
    }

    void quotesRoundTrip()
    {
        TfrmFileAdd frm(m_parser.get());
        frm.SetCountDelay(0);
        frm.show();
        setText(frm, "edFolder", m_src + u"/it's"_s);
        setText(frm, "edMask", u"*.cpp;*.c'"_s);
        QTRY_COMPARE(frm.FolderCount(), 1);
        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QCOMPARE(storedEntries(), QStringList({ m_src + u"/it's/*.cpp;*.c'"_s }));
        m_parser->FileAdd(frm.ResultID());
        QCOMPARE(m_parser->FilePaths(), QStringList({ m_src + u"/it's/q.cpp"_s }));
    }

    void relativeFileIsRefused()
    {
        TfrmFileAdd frm(m_parser.get());
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
        TfrmFileAdd frm(m_parser.get());
        frm.show();
        auto *edFile = child<QLineEdit>(frm, "edFile");
        auto *edFolder = child<QLineEdit>(frm, "edFolder");
        dropUrls(edFile, { m_src + u"/a.cpp"_s });
        dropUrls(edFile, { m_src + u"/b.cpp"_s, m_src + u"/it's/q.cpp"_s });
        // A folder is no file, and a file is no folder: both drops are left alone.
        dropUrls(edFile, { m_src + u"/sub"_s });
        dropUrls(edFolder, { m_src + u"/a.cpp"_s });
        QCOMPARE(edFolder->text(), QString());
        dropUrls(edFolder, { m_src + u"/sub"_s });
        QCOMPARE(edFolder->text(), m_src + u"/sub"_s);

        setText(frm, "edMask", QString());
        child<QRadioButton>(frm, "rbSingle")->click();
        QTest::mouseClick(child<QPushButton>(frm, "btnAdd"), Qt::LeftButton);
        QCOMPARE(storedEntries(),
                 QStringList({ m_src + u"/a.cpp"_s, m_src + u"/b.cpp"_s, m_src + u"/it's/q.cpp"_s }));
    }

    void executeReturnsTheIdAndRemembersRecursion()
    {
        const QString sFile = m_src + u"/c.h"_s;
        TDialogs::PushFileNames({ sFile });
        bwtest::ModalDriver driver([](QDialog *dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnFile"_s), Qt::LeftButton);
            dialog->findChild<QCheckBox *>(u"cbRecurse"_s)->setChecked(true);
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnAdd"_s), Qt::LeftButton);
        });
        const int id = TfrmFileAdd::Execute(m_parser.get());
        QVERIFY(driver.ran());
        QVERIFY(id > 0);
        QCOMPARE(storedEntries(), QStringList({ sFile }));
        QVERIFY(Params->GetBool(u"Add folders recursively"_s));

        bwtest::ModalDriver cancel([](QDialog *dialog) {
            QVERIFY(dialog->findChild<QCheckBox *>(u"cbRecurse"_s)->isChecked());
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnCancel"_s), Qt::LeftButton);
        });
        QCOMPARE(TfrmFileAdd::Execute(m_parser.get()), 0);
        QVERIFY(cancel.ran());
    }
};

QTEST_MAIN(TestFrmFileAdd)
#include "test_frmfileadd.moc"
