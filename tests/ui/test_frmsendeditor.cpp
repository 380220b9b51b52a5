#include "core/settings.h"
#include "core/winutils.h"
#include "delivery/sendtask.h"
#include "delivery/sendtasks.h"
#include "ui/frmsendeditor.h"
#include "ui/windowkit.h"
#include "uitest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFrmSendEditor : public QObject
{
    Q_OBJECT

    std::unique_ptr<bwtest::UiFixture> FFx;
    int FProject = 0;

    template<typename T> static T *child(QWidget &frm, const char *name)
    {
        T *widget = frm.findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qWarning("no %s", name);
        return widget;
    }
    static QLineEdit *edit(QWidget &frm, const char *name) { return child<QLineEdit>(frm, name); }
    // name=value of every parameter of the task, by name.
    QStringList params(int iTask) const
    {
        QStringList rows;
        FFx->db->GetTableStrings(
            u"SELECT name || '=' || value FROM sendparams WHERE id_send = %1 ORDER BY name"_s.arg(iTask),
            rows);
        return rows;
    }
    int addTask(int iKind, const QString &sZipPassword, const QList<std::pair<QString, QString>> &values)
    {
        FFx->db->ExecSQLFmt(u"INSERT INTO send (id_projects, type, zippassword) VALUES (%d, %d, '%s')"_s,
                            { FProject, iKind, SQLEscape(sZipPassword) });
        const int id = int(FFx->db->LastInsertRowID());
        for (const auto &[name, value] : values)
            SetSendParam(id, name, value);
        return id;
    }
    static void setUpStaging() { SetSetting(u"FTP host"_s, u"127.0.0.1"_s); }
    static void setUpEmail()
    {
        for (const char *name : { "Email server", "Email username", "Email password", "Email port",
                                  "Email from", "Email login" })
            SetSetting(QString::fromLatin1(name), u"1"_s);
    }

private slots:
    void init()
    {
        FFx = std::make_unique<bwtest::UiFixture>();
        FFx->db->ExecSQL(u"INSERT INTO projects (type, title) VALUES (0, 'Tool')"_s);
        FProject = int(FFx->db->LastInsertRowID());
        setUpEmail();
    }
    void cleanup() { FFx.reset(); }

    void newTaskStartsAtTheSettingsRetentionWithTheFirstFieldFocused()
    {
        SetSetting(u"FTP retention"_s, u"3"_s);
        TfrmSendEditor frm(0, FProject, u"Tool"_s);
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        QCOMPARE(child<QComboBox>(frm, "cbEmailRetain")->currentText(), u"one year"_s);
        QTRY_COMPARE(QApplication::focusWidget(), child<QLineEdit>(frm, "edEmailRecipient"));
        // Focus given by the program does not count as asking for e-mail.
        QVERIFY(TDialogs::Shown().isEmpty());
    }

    void newTaskShowsEveryPageWithDefaults()
    {
        TfrmSendEditor frm(0, FProject, u"Tool"_s);
        frm.show();
        QCOMPARE(frm.windowTitle(), u"Send editor :: Tool"_s);
        QCOMPARE(TfrmSendEditor::Caption(u"  "_s), u"Send editor"_s);
        auto *pg = child<QTabWidget>(frm, "pgMethod");
        QCOMPARE(pg->count(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(pg->isTabVisible(i));
        QCOMPARE(pg->currentIndex(), 0);
        QCOMPARE(edit(frm, "edEmailSubject")->text(), u"Source code for {PROJECT} {VERSION}"_s);
        QCOMPARE(child<QPlainTextEdit>(frm, "memEmailMessage")->toPlainText(),
                 u"Here's the source code for version {VERSION} of {PROJECT}. There's a \n"
                 "readme.htm file inside the zip with more details."_s);
        // No staging server, yet a new task may choose it.
        QVERIFY(child<QCheckBox>(frm, "cbEmailFTP")->isEnabled());
        QVERIFY(!child<QCheckBox>(frm, "cbEmailFTP")->isChecked());
        QVERIFY(!child<QLabel>(frm, "lblEmailRetain")->isVisible());
        QVERIFY(!child<QComboBox>(frm, "cbEmailRetain")->isVisible());
        // The settings' default lifespan ("FTP retention", one week when unset).
        QCOMPARE(child<QComboBox>(frm, "cbEmailRetain")->currentIndex(), 1);
        QCOMPARE(child<QLabel>(frm, "lblEmailLink")->text(), u"Tags: {PROJECT} {VERSION}"_s);
        QVERIFY(frm.width() >= 400 && frm.height() >= 400);

        // Help follows the page.
        QCOMPARE(frm.HelpTopic(), 30);
        pg->setCurrentIndex(1);
        QCOMPARE(frm.HelpTopic(), 31);
        pg->setCurrentIndex(2);
        QCOMPARE(frm.HelpTopic(), 32);
    }

    void ftpPageStoresAKindTwoTaskWithOnlyItsValues()
    {
        TfrmSendEditor frm(0, FProject, u"Tool"_s);
        frm.show();
        edit(frm, "edEmailRecipient")->setText(u"someone@example.com"_s);
        edit(frm, "edEmailZipPassword")->setText(u"mail-secret"_s);
        edit(frm, "edFileFolder")->setText(u"/tmp/out"_s);
        edit(frm, "edFTPHost")->setText(u"127.0.0.1"_s);
        edit(frm, "edFTPLogin")->setText(u"anna"_s);
        edit(frm, "edFTPPassword")->setText(u"pw"_s);
        edit(frm, "edFTPDirectory")->setText(u"drops"_s);
        edit(frm, "edFTPZipPassword")->setText(u"zip"_s);
        child<QTabWidget>(frm, "pgMethod")->setCurrentIndex(2);
        QTest::mouseClick(child<QPushButton>(frm, "btnSave"), Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        frm.SaveTask();

        const int id = frm.MethodID();
        QVERIFY(id > 0);
        QCOMPARE(
            FFx->db->QueryStringFmt(
                u"SELECT id_projects || ' ' || type || ' ' || zippassword FROM send WHERE id = %d"_s, { id }),
            u"%1 2 zip"_s.arg(FProject));
        QCOMPARE(FFx->db->QueryIntegerFmt(u"SELECT COUNT(*) FROM send"_s, {}), 1);
        QCOMPARE(params(id),
                 QStringList({ u"FTPDirectory=drops"_s, u"FTPHost=127.0.0.1"_s, u"FTPLogin=anna"_s,
                               u"FTPPassword=pw"_s, u"Zip encryption=aes256"_s }));

        // Reopened: only its own page, and a second save updates the same row.
        TfrmSendEditor again(id, FProject, u"Tool"_s);
        auto *pg = child<QTabWidget>(again, "pgMethod");
        QCOMPARE(pg->currentIndex(), 2);
        QVERIFY(!pg->isTabVisible(0));
        QVERIFY(!pg->isTabVisible(1));
        QCOMPARE(edit(again, "edFTPLogin")->text(), u"anna"_s);
        edit(again, "edFTPZipPassword")->setText(u"zip2"_s);
        again.SaveTask();
        QCOMPARE(again.MethodID(), id);
        QCOMPARE(FFx->db->QueryStringFmt(u"SELECT zippassword FROM send WHERE id = %d"_s, { id }), u"zip2"_s);
        QCOMPARE(FFx->db->QueryIntegerFmt(u"SELECT COUNT(*) FROM sendparams"_s, {}), 5);
    }

    void encryptionChoiceDefaultsToAesAndRoundTrips()
    {
        const QString sNote
            = u"AES-256 opens in 7-Zip, WinZip, WinRAR, PeaZip, Keka and bsdtar, not in Windows "
              "Explorer or macOS Archive Utility; traditional opens everywhere but can be "
              "broken without the password."_s;
        int id = 0;
        {
            TfrmSendEditor frm(0, FProject, u"Tool"_s);
            frm.show();
            for (const char *page : { "Email", "File", "FTP" }) {
                auto *cb = frm.findChild<QComboBox *>(u"cb%1ZipEncryption"_s.arg(QLatin1String(page)));
                auto *note = frm.findChild<QLabel *>(u"lbl%1ZipEncryptionNote"_s.arg(QLatin1String(page)));
                QVERIFY2(cb && note, page);
                QCOMPARE(cb->count(), 2);
                QCOMPARE(cb->itemText(0), u"AES-256"_s);
                QCOMPARE(cb->itemText(1), u"Traditional (weak, for Windows Explorer)"_s);
                QCOMPARE(cb->currentText(), u"AES-256"_s);
                QCOMPARE(note->text(), sNote);
                // Nothing is encrypted without a password.
                QVERIFY(!cb->isEnabled());
                QVERIFY(!note->isEnabled());
            }
            auto *cb = child<QComboBox>(frm, "cbFileZipEncryption");
            edit(frm, "edFileZipPassword")->setText(u"secret"_s);
            QVERIFY(cb->isEnabled());
            QVERIFY(child<QLabel>(frm, "lblFileZipEncryptionNote")->isEnabled());
            QVERIFY(!child<QComboBox>(frm, "cbFTPZipEncryption")->isEnabled());
            cb->setCurrentIndex(1);
            edit(frm, "edFileFolder")->setText(u"/out"_s);
            child<QTabWidget>(frm, "pgMethod")->setCurrentIndex(1);
            frm.SaveTask();
            id = frm.MethodID();
        }
        QCOMPARE(params(id), QStringList({ u"FileFolder=/out"_s, u"Zip encryption=traditional"_s }));
        {
            TfrmSendEditor frm(id, FProject, u"Tool"_s);
            frm.show();
            auto *cb = child<QComboBox>(frm, "cbFileZipEncryption");
            QCOMPARE(cb->currentText(), u"Traditional (weak, for Windows Explorer)"_s);
            QVERIFY(cb->isEnabled());
            cb->setCurrentIndex(0);
            frm.SaveTask();
        }
        QCOMPARE(TSendTask::Load(id)->Param(u"Zip encryption"_s), u"aes256"_s);

        // A task stored before there was a choice keeps the traditional scheme.
        const int old = addTask(2, u"pw"_s, { { u"FTPHost"_s, u"ftp.example.org"_s } });
        TfrmSendEditor frm(old, FProject, u"Tool"_s);
        frm.show();
        QCOMPARE(child<QComboBox>(frm, "cbFTPZipEncryption")->currentText(),
                 u"Traditional (weak, for Windows Explorer)"_s);
        frm.SaveTask();
        QCOMPARE(TSendTask::Load(old)->Param(u"Zip encryption"_s), u"traditional"_s);
    }

    void linkChoiceAddsTheLinkLineOnce()
    {
        setUpStaging();
        TfrmSendEditor frm(0, FProject, u"Tool"_s);
        frm.show();
        auto *cb = child<QCheckBox>(frm, "cbEmailFTP");
        auto *mem = child<QPlainTextEdit>(frm, "memEmailMessage");
        mem->setPlainText(u"Hello"_s);
        QTest::mouseClick(cb, Qt::LeftButton);
        QCOMPARE(mem->toPlainText(), u"Hello\n\n{LINK}"_s);
        QVERIFY(child<QComboBox>(frm, "cbEmailRetain")->isVisible());
        QVERIFY(child<QLabel>(frm, "lblEmailRetain")->isVisible());
        QCOMPARE(child<QLabel>(frm, "lblEmailLink")->text(), u"Tags: {LINK} {PROJECT} {VERSION}"_s);
        QTest::mouseClick(cb, Qt::LeftButton);
        QVERIFY(!child<QComboBox>(frm, "cbEmailRetain")->isVisible());
        QCOMPARE(child<QLabel>(frm, "lblEmailLink")->text(), u"Tags: {PROJECT} {VERSION}"_s);
        QTest::mouseClick(cb, Qt::LeftButton);
        QCOMPARE(mem->toPlainText(), u"Hello\n\n{LINK}"_s);

        // The line is put back when the user took it out before saving.
        mem->setPlainText(u"Bye"_s);
        child<QComboBox>(frm, "cbEmailRetain")->setCurrentIndex(2);
        frm.SaveTask();
        QCOMPARE(params(frm.MethodID()),
                 QStringList({ u"EmailFTP=1"_s, u"EmailMessage=Bye\r\n\r\n{LINK}\r\n"_s, u"EmailRecipient="_s,
                               u"EmailRetention=2"_s, u"EmailSubject=Source code for {PROJECT} {VERSION}"_s,
                               u"Zip encryption=aes256"_s }));
    }

    // S3 links without a public address last at most a week: the longer
    // lifespans are disabled and say why; with the address they are back.
    void s3StagingDisablesTheLifespansALinkCannotLast()
    {
        SetSetting(u"Staging kind"_s, u"1"_s);
        SetSetting(u"S3 endpoint"_s, u"http://127.0.0.1:9000"_s);
        SetSetting(u"S3 bucket"_s, u"drops"_s);
        SetSetting(u"S3 access key id"_s, u"AKID"_s);
        {
            TfrmSendEditor frm(0, FProject, u"Tool"_s);
            frm.show();
            QVERIFY(child<QCheckBox>(frm, "cbEmailFTP")->isEnabled());
            auto *cb = child<QComboBox>(frm, "cbEmailRetain");
            auto *model = qobject_cast<QStandardItemModel *>(cb->model());
            QVERIFY(model);
            QVERIFY(model->item(0)->isEnabled());
            QVERIFY(model->item(1)->isEnabled());
            for (int i : { 2, 3, 4 })
                QVERIFY(!model->item(i)->isEnabled());
            QCOMPARE(cb->itemText(2), u"one month (needs the S3 public address)"_s);
            QCOMPARE(model->item(4)->toolTip(),
                     u"S3 links without a public download address last at most a week."_s);
        }
        SetSetting(u"S3 public address"_s, u"https://cdn.example.com/drops"_s);
        TfrmSendEditor frm(0, FProject, u"Tool"_s);
        auto *model = qobject_cast<QStandardItemModel *>(child<QComboBox>(frm, "cbEmailRetain")->model());
        QVERIFY(model->item(3)->isEnabled());
        QCOMPARE(model->item(3)->text(), u"one year"_s);
    }

    void retentionRoundTrips()
    {
        setUpStaging();
        const int id = addTask(0, QString(),
                               { { u"EmailFTP"_s, u"1"_s },
                                 { u"EmailRetention"_s, u"-1"_s },
                                 { u"EmailMessage"_s, u"One\r\n{LINK}\r\n"_s } });
        {
            TfrmSendEditor frm(id, FProject, u"Tool"_s);
            frm.show();
            QVERIFY(child<QCheckBox>(frm, "cbEmailFTP")->isChecked());
            QCOMPARE(child<QComboBox>(frm, "cbEmailRetain")->currentIndex(), -1);
            QCOMPARE(child<QPlainTextEdit>(frm, "memEmailMessage")->toPlainText(), u"One\n{LINK}"_s);
            frm.SaveTask();
        }
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailRetention"_s), u"-1"_s);
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailMessage"_s), u"One\r\n{LINK}\r\n"_s);

        SetSendParam(id, u"EmailRetention"_s, u"soon"_s);
        TfrmSendEditor frm(id, FProject, u"Tool"_s);
        QCOMPARE(child<QComboBox>(frm, "cbEmailRetain")->currentIndex(), 1);
        SetSendParam(id, u"EmailRetention"_s, u"3"_s);
        TfrmSendEditor year(id, FProject, u"Tool"_s);
        QCOMPARE(child<QComboBox>(year, "cbEmailRetain")->currentText(), u"one year"_s);
    }

    void withoutStagingServerTheLinkChoiceIsOff()
    {
        const int id = addTask(0, QString(), { { u"EmailFTP"_s, u"1"_s }, { u"EmailRetention"_s, u"0"_s } });
        TfrmSendEditor frm(id, FProject, u"Tool"_s);
        frm.show();
        auto *cb = child<QCheckBox>(frm, "cbEmailFTP");
        QVERIFY(!cb->isChecked());
        QVERIFY(!cb->isEnabled());
        QVERIFY(!child<QComboBox>(frm, "cbEmailRetain")->isVisible());
        frm.SaveTask();
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailFTP"_s), u"0"_s);
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailRetention"_s), u"0"_s);
    }

    void valuesWithQuotesRoundTrip()
    {
        const QString sOdd = u"it's a \"quoted\" value; 'x'"_s;
        int id = 0;
        {
            TfrmSendEditor frm(0, FProject, u"Tool"_s);
            edit(frm, "edFileFolder")->setText(sOdd);
            edit(frm, "edFileZipPassword")->setText(sOdd);
            child<QTabWidget>(frm, "pgMethod")->setCurrentIndex(1);
            frm.SaveTask();
            id = frm.MethodID();
        }
        QCOMPARE(params(id), QStringList({ u"FileFolder="_s + sOdd, u"Zip encryption=aes256"_s }));
        TfrmSendEditor frm(id, FProject, u"Tool"_s);
        QCOMPARE(edit(frm, "edFileFolder")->text(), sOdd);
        QCOMPARE(edit(frm, "edFileZipPassword")->text(), sOdd);
        QCOMPARE(child<QTabWidget>(frm, "pgMethod")->currentIndex(), 1);

        const int mail = addTask(0, sOdd, { { u"EmailRecipient"_s, sOdd }, { u"EmailSubject"_s, sOdd } });
        TfrmSendEditor email(mail, FProject, u"Tool"_s);
        QCOMPARE(edit(email, "edEmailRecipient")->text(), sOdd);
        QCOMPARE(edit(email, "edEmailZipPassword")->text(), sOdd);
        email.SaveTask();
        QCOMPARE(TSendTask::Load(mail)->Param(u"EmailSubject"_s), sOdd);
        // A missing parameter loads empty, not as the new-task default.
        QCOMPARE(TSendTask::Load(mail)->Param(u"EmailMessage"_s), QString());
    }

    void readinessWarningOncePerOpeningForUserFocus()
    {
        SetSetting(u"Email from"_s, u" "_s);
        TfrmSendEditor frm(0, FProject, u"Tool"_s);
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        // Focus the program moves is no reason to warn.
        edit(frm, "edEmailRecipient")->setFocus(Qt::OtherFocusReason);
        edit(frm, "edEmailSubject")->setFocus(Qt::ActiveWindowFocusReason);
        QCoreApplication::sendPostedEvents();
        QVERIFY(bwtest::ShownTexts(u"warning"_s).isEmpty());

        QTest::mouseClick(edit(frm, "edEmailZipPassword"), Qt::LeftButton);
        QTRY_COMPARE(
            bwtest::ShownTexts(u"warning"_s),
            QStringList({ u"Before you can use email for delivery you must set up SMTP details from the "
                          "Settings menu."_s }));
        QVERIFY(frm.EmailWarned());
        // Later focus, by Tab or click, asks no more.
        QTest::keyClick(&frm, Qt::Key_Backtab);
        QTest::mouseClick(edit(frm, "edEmailRecipient"), Qt::LeftButton);
        QTest::mouseClick(edit(frm, "edEmailSubject"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(bwtest::ShownTexts(u"warning"_s).size(), 1);

        // A new opening warns again; with e-mail set up, never.
        TDialogs::Clear();
        {
            TfrmSendEditor second(0, FProject, u"Tool"_s);
            second.show();
            QVERIFY(QTest::qWaitForWindowActive(&second));
            // The recipient has the focus from the start: Tab on to the subject.
            edit(second, "edEmailSubject")->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(bwtest::ShownTexts(u"warning"_s).size(), 1);
        }
        setUpEmail();
        TDialogs::Clear();
        TfrmSendEditor ready(0, FProject, u"Tool"_s);
        ready.show();
        QVERIFY(QTest::qWaitForWindowActive(&ready));
        QTest::mouseClick(edit(ready, "edEmailSubject"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents();
        QVERIFY(!ready.EmailWarned());
        QVERIFY(bwtest::ShownTexts(u"warning"_s).isEmpty());
    }

    void passwordsMaskUnlessShownOnPurpose()
    {
        const char *const names[]
            = { "edEmailZipPassword", "edFileZipPassword", "edFTPZipPassword", "edFTPPassword" };
        for (const QString &value : { QString(), u"1"_s, u"0"_s, u"yes"_s }) {
            if (!value.isNull())
                SetSetting(u"Hide passwords"_s, value);
            TfrmSendEditor frm(0, FProject, QString());
            frm.show();
            const auto expected = value == u"0"_s ? QLineEdit::Normal : QLineEdit::Password;
            for (const char *name : names) {
                QLineEdit *ed = edit(frm, name);
                QCOMPARE(ed->echoMode(), expected);
                QCOMPARE(ed->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, ed), 0x2022);
            }
            QCOMPARE(edit(frm, "edFTPLogin")->echoMode(), QLineEdit::Normal);
        }
    }

    void executeSavesAndReturnsTheNewId()
    {
        bwtest::ModalDriver driver([](QDialog *dialog) {
            dialog->findChild<QLineEdit *>(u"edEmailRecipient"_s)->setText(u"a@b.example"_s);
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnSave"_s), Qt::LeftButton);
        });
        int id = 0;
        QVERIFY(TfrmSendEditor::Execute(id, FProject, u"Tool"_s));
        QVERIFY(driver.ran());
        QVERIFY(id > 0);
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailRecipient"_s), u"a@b.example"_s);
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailRetention"_s), u"1"_s);
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailFTP"_s), u"0"_s);

        bwtest::ModalDriver cancel([](QDialog *dialog) {
            dialog->findChild<QLineEdit *>(u"edEmailRecipient"_s)->setText(u"other@b.example"_s);
            QTest::mouseClick(dialog->findChild<QPushButton *>(u"btnCancel"_s), Qt::LeftButton);
        });
        int same = id;
        QVERIFY(!TfrmSendEditor::Execute(same, FProject, u"Tool"_s));
        QVERIFY(cancel.ran());
        QCOMPARE(same, id);
        QCOMPARE(TSendTask::Load(id)->Param(u"EmailRecipient"_s), u"a@b.example"_s);
    }

    void folderChoiceIsRemembered()
    {
        TDialogs::PushFileName(u"/srv/drop"_s);
        TfrmSendEditor frm(0, FProject, u"Tool"_s);
        frm.show();
        QTest::mouseClick(child<QPushButton>(frm, "btnFileFolder"), Qt::LeftButton);
        QCOMPARE(edit(frm, "edFileFolder")->text(), u"/srv/drop"_s);
        QCOMPARE(Params->GetStr(u"Send file folder"_s), u"/srv/drop"_s);
        const QList<TDialogs::TShown> shown = TDialogs::Shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.front().sTitle, u"Select the destination folder"_s);
    }
};

QTEST_MAIN(TestFrmSendEditor)
#include "test_frmsendeditor.moc"
