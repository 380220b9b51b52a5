#include "core/progress.h"
#include "delivery/deliveryrun.h"
#include "projects/project.h"
#include "support/zipreader.h"
#include "ui/frmfileadd.h"
#include "ui/frmsendeditor.h"
#include "uitest.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

// What the two dialogs store is what "Zip and deliver" carries out.
class TestDialogsDelivery : public QObject
{
    Q_OBJECT

private slots:
    void storedEntryAndTaskDeliver()
    {
        bwtest::UiFixture fx;
        for (const char *name : { "src/a.cpp", "src/b.h", "src/.svn/x.cpp", "src/sub/d.cpp" })
            fx.sandbox->writeFile(QString::fromLatin1(name), "int x;\n");
        const QString sOut = fx.sandbox->root() + u"/out it's"_s;
        QVERIFY(QDir().mkpath(sOut));
        fx.db->ExecSQL(u"INSERT INTO projects (type, title) VALUES (0, 'Tool')"_s);
        const int iProject = int(fx.db->LastInsertRowID());
        TProjectGeneric parser(iProject, u"Tool"_s, QString());
        parser.Parse();

        {
            TfrmFileAdd frm(&parser);
            frm.SetCountDelay(0);
            frm.show();
            frm.findChild<QLineEdit *>(u"edFolder"_s)->setText(fx.sandbox->root() + u"/src"_s);
            frm.findChild<QCheckBox *>(u"cbRecurse"_s)->setChecked(true);
            frm.findChild<QLineEdit *>(u"edExclude"_s)->setText(u".svn"_s);
            frm.findChild<QLineEdit *>(u"edMask"_s)->setText(u"*.cpp"_s);
            QTRY_COMPARE(frm.FolderCount(), 2);
            QTest::mouseClick(frm.findChild<QPushButton *>(u"btnAdd"_s), Qt::LeftButton);
            QVERIFY(frm.ResultID() > 0);
            parser.FileAdd(frm.ResultID());
        }
        QCOMPARE(parser.FileCount(), 2);

        {
            TfrmSendEditor frm(0, iProject, u"Tool"_s);
            frm.findChild<QTabWidget *>(u"pgMethod"_s)->setCurrentIndex(1);
            frm.findChild<QLineEdit *>(u"edFileFolder"_s)->setText(sOut);
            frm.findChild<QLineEdit *>(u"edFileZipPassword"_s)->setText(u"p'w\"d"_s);
            frm.SaveTask();
        }

        TProgressList progress;
        TDeliveryRun run(progress);
        QVERIFY(run.Run({ &parser }).Succeeded());
        const QStringList archives = QDir(sOut).entryList({ u"*.zip"_s }, QDir::Files);
        QCOMPARE(archives.size(), 1);
        bwtest::ZipReader outer(sOut + u"/"_s + archives.front());
        QVERIFY(outer.isOpen());
        QVERIFY(outer.names().contains(u"readme.htm"_s));
        // The sources travel in "code.zip", locked with the task's password
        // under AES-256, a new task's choice; bsdtar opens it (Debian's
        // libzip cannot read AE-2 entries).
        QVERIFY(!outer.read(u"code.zip"_s).has_value());
        QCOMPARE(outer.entry(u"code.zip"_s)->encryption, ZIP_EM_AES_256);
        const QString sDir = fx.sandbox->root() + u"/extracted"_s;
        QVERIFY(QDir().mkpath(sDir));
        QByteArray out;
        QCOMPARE(bwtest::runProgram(u"/usr/bin/bsdtar"_s,
                                    { u"-x"_s, u"--passphrase"_s, u"p'w\"d"_s, u"-C"_s, sDir, u"-f"_s,
                                      sOut + u"/"_s + archives.front() },
                                    &out),
                 0);
        const QString sCode = sDir + u"/code.zip"_s;
        bwtest::ZipReader inner(sCode);
        QCOMPARE(inner.names().size(), 2);
        for (const QString &name : inner.names()) {
            QVERIFY2(!name.contains(u".svn"_s), qPrintable(name));
            QCOMPARE(inner.read(name).value_or(QByteArray()), QByteArray("int x;\n"));
        }
    }
};

QTEST_MAIN(TestDialogsDelivery)
#include "test_dialogsdelivery.moc"
