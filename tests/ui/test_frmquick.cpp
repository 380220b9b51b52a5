#include "core/settings.h"
#include "delivery/sendtasks.h"
#include "support/servers.h"
#include "support/zipreader.h"
#include "ui/frmmain.h"
#include "ui/frmquick.h"
#include "ui/frmquicksend.h"
#include "ui/linklabel.h"
#include "uitest.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

class TestFrmQuick : public QObject
{
    Q_OBJECT

    std::unique_ptr<bwtest::UiFixture> FFx;

    template<typename T> static T *child(QWidget &frm, const char *name)
    {
        return frm.findChild<T *>(QString::fromLatin1(name));
    }
    static QStringList texts(QListWidget *list)
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
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
    void smtpSettings(quint16 port)
    {
        SetSetting(u"Email server"_s, u"127.0.0.1"_s);
        SetSetting(u"Email port"_s, QString::number(port));
        SetSetting(u"Email login"_s, u"0"_s);
        SetSetting(u"Email username"_s, u"x"_s);
        SetSetting(u"Email password"_s, u"x"_s);
        SetSetting(u"Email from"_s, u"me@example.com"_s);
    }
    int addressCount()
    {
        return FFx->db->QueryIntegerFmt(u"SELECT COUNT(*) FROM send WHERE id_projects = 0"_s, {});
    }
    static bool hasRed(QListWidget *list, int iRow)
    {
        QStyleOptionViewItem option;
        option.initFrom(list);
        option.rect = QRect(0, 0, 300, 20);
        QImage image(300, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        list->itemDelegate()->paint(&painter, option, list->model()->index(iRow, 0));
        painter.end();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == 0xD80000) // 4.5:1 on the window colour
                    return true;
        return false;
    }

private slots:
    void init() { FFx = std::make_unique<bwtest::UiFixture>(); }
    void cleanup() { FFx.reset(); }

    void listZipBoxAndReadinessRules()
    {
        const QString a = FFx->sandbox->writeFile(u"one/notes.txt"_s, "1");
        const QString b = FFx->sandbox->writeFile(u"two/notes.txt"_s, "2");
        SetSetting(u"FTP host"_s, u"staging.example.com"_s);
        TfrmQuick frm({ a, b });
        auto *list = child<QListWidget>(frm, "listFiles");
        auto *cbZip = child<QCheckBox>(frm, "cbZip");
        auto *edFilename = child<QLineEdit>(frm, "edFilename");
        auto *btnSend = child<QPushButton>(frm, "btnSend");
        auto *pgSend = child<QTabWidget>(frm, "pgSend");
        QVERIFY(list && cbZip && edFilename && btnSend && pgSend);
        frm.show();
        QCOMPARE(frm.windowTitle(), u"Bundlewick :: Quick send"_s);
        // The second file of a name goes in numbered, and the list says so.
        QCOMPARE(texts(list), (QStringList { u"notes.txt"_s, u"notes.txt  (as notes (2).txt)"_s }));
        QCOMPARE(frm.FileCount(), 2);
        QVERIFY(!cbZip->isVisible());
        QVERIFY(edFilename->isVisible());
        QVERIFY(QRegularExpression(u"^\\d{8}-\\d{6}$"_s).match(edFilename->text()).hasMatch());

        // One ticked file: the zip box shows; unticked it hides the name,
        // and the window closes up where the name was.
        const int iTall = frm.height();
        list->item(1)->setCheckState(Qt::Unchecked);
        QTRY_VERIFY(frm.height() < iTall - edFilename->height());
        QCOMPARE(texts(list), (QStringList { u"notes.txt"_s, u"notes.txt"_s }));
        QVERIFY(cbZip->isVisible());
        QVERIFY(!cbZip->isChecked());
        QVERIFY(!edFilename->isVisible());
        QVERIFY(!child<QLineEdit>(frm, "edPassword")->isVisible());
        cbZip->click();
        QVERIFY(edFilename->isVisible());
        QTRY_COMPARE(frm.height(), iTall);
        child<TLinkLabel>(frm, "lblSelectNone")->clicked();
        QCOMPARE(frm.FileCount(), 0);
        child<TLinkLabel>(frm, "lblSelectAll")->clicked();
        QCOMPARE(frm.FileCount(), 2);

        // Every disabled Send says why beside it.
        auto *lblSendWhy = child<QLabel>(frm, "lblSendWhy");
        QVERIFY(lblSendWhy);
        // FTP: never without a host on the page, whatever the staging setting.
        pgSend->setCurrentIndex(2);
        QVERIFY(!btnSend->isEnabled());
        QCOMPARE(lblSendWhy->text(), u"Enter an FTP host"_s);
        child<QComboBox>(frm, "cbFTPHost")->setEditText(u"ftp.example.com"_s);
        QVERIFY(btnSend->isEnabled());
        QCOMPARE(lblSendWhy->text(), QString());
        // An archive needs a name.
        edFilename->clear();
        QVERIFY(!btnSend->isEnabled());
        QCOMPARE(lblSendWhy->text(), u"Enter an archive name"_s);
        edFilename->setText(u"drop"_s);
        QVERIFY(btnSend->isEnabled());

        // File: an existing folder.
        pgSend->setCurrentIndex(1);
        QVERIFY(!btnSend->isEnabled());
        QCOMPARE(lblSendWhy->text(), u"Choose a folder"_s);
        child<QLineEdit>(frm, "edFileFolder")->setText(FFx->sandbox->root() + u"/nowhere"_s);
        QCOMPARE(lblSendWhy->text(), u"The folder does not exist"_s);
        child<QLineEdit>(frm, "edFileFolder")->setText(FFx->sandbox->root());
        QVERIFY(btnSend->isEnabled());

        // E-mail without SMTP settings: not ready.
        pgSend->setCurrentIndex(0);
        child<QComboBox>(frm, "cbEmailRecipient")->setEditText(u"ann@example.com"_s);
        QVERIFY(!btnSend->isEnabled());
        QCOMPARE(lblSendWhy->text(), u"Set up SMTP in Settings"_s);
        smtpSettings(25);
        child<QComboBox>(frm, "cbEmailRecipient")->setEditText(u"ann@"_s);
        QCOMPARE(lblSendWhy->text(), u"Enter a valid email address"_s);
        child<QComboBox>(frm, "cbEmailRecipient")->setEditText(u"ann@example.com"_s);
        QVERIFY(btnSend->isEnabled());
        child<QLineEdit>(frm, "edEmailSubject")->clear();
        QCOMPARE(lblSendWhy->text(), u"Enter a subject"_s);
        // Nothing ticked.
        child<TLinkLabel>(frm, "lblSelectNone")->clicked();
        QCOMPARE(lblSendWhy->text(), u"Tick a file to send"_s);
    }

    void dropsOnTheDialogAndTheMainWindow()
    {
        const QString a = FFx->sandbox->writeFile(u"in/a.txt"_s, "a");
        const QString b = FFx->sandbox->writeFile(u"in/B.txt"_s, "b");
        const QString c = FFx->sandbox->writeFile(u"in/c.txt"_s, "c");
        {
            TfrmQuick frm({ a });
            auto *list = child<QListWidget>(frm, "listFiles");
            frm.show();
            list->item(0)->setCheckState(Qt::Unchecked);
            dropUrls(&frm, { a, b });
            QCOMPARE(texts(list), (QStringList { u"a.txt"_s, u"B.txt"_s }));
            QCOMPARE(frm.CheckedFiles(), QStringList { b });
        }

        TfrmMain main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QStringList seen;
        bwtest::ModalDriver driver([&](QDialog *dialog) {
            if (auto *quick = qobject_cast<TfrmQuick *>(dialog))
                seen = quick->CheckedFiles();
        });
        dropUrls(&main, { c, a });
        QTRY_VERIFY_WITH_TIMEOUT(driver.ran(), 10000);
        QCOMPARE(seen, (QStringList { c, a }));
    }

    void suggestionFillsPasswordAndLinkSettings()
    {
        SetSetting(u"FTP host"_s, u"staging.example.com"_s);
        FFx->db->ExecSQL(u"INSERT INTO projects (id, type, title) VALUES (3, 0, 'Acme Tool')"_s);
        FFx->db->ExecSQL(u"INSERT INTO send (id_projects, type, zippassword) VALUES (3, 0, 'zip''pw')"_s);
        const int id = int(FFx->db->LastInsertRowID());
        SetSendParam(id, u"EmailRecipient"_s, u"ann@example.com"_s);
        SetSendParam(id, u"EmailFTP"_s, u"1"_s);
        SetSendParam(id, u"EmailRetention"_s, u"3"_s);
        const QString a = FFx->sandbox->writeFile(u"in/a.txt"_s, "a");

        TfrmQuick frm({ a });
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        auto *combo = child<QComboBox>(frm, "cbEmailRecipient");
        auto *cbEmailFTP = child<QCheckBox>(frm, "cbEmailFTP");
        auto *cbZipEncryption = child<QComboBox>(frm, "cbZipEncryption");
        // AES-256 first; nothing to choose while there is no password.
        QCOMPARE(cbZipEncryption->currentText(), u"AES-256"_s);
        QVERIFY(!cbZipEncryption->isEnabled());
        QVERIFY(!child<QLabel>(frm, "lblZipEncryptionNote")->isEnabled());
        cbEmailFTP->setChecked(false);
        combo->lineEdit()->setFocus();
        QTest::keyClicks(combo->lineEdit(), u"ANN"_s);
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), u"ann@example.com"_s);
        QCOMPARE(combo->currentText(), u"ANN"_s);
        QCompleter *completer = combo->findChild<QCompleter *>();
        QVERIFY(completer);
        QTRY_VERIFY(completer->popup()->isVisible());
        completer->popup()->setCurrentIndex(completer->completionModel()->index(0, 0));
        QTest::keyClick(completer->popup(), Qt::Key_Return);

        QCOMPARE(combo->currentText(), u"ann@example.com"_s);
        auto *edPassword = child<QLineEdit>(frm, "edPassword");
        QCOMPARE(edPassword->text(), u"zip'pw"_s);
        // Never filled silently: the note names the task, and Clear takes it out.
        auto *lblPasswordFrom = child<QLabel>(frm, "lblPasswordFrom");
        auto *lblPasswordClear = child<TLinkLabel>(frm, "lblPasswordClear");
        // (One file sent as itself needs no password: the note shows with the field.)
        QVERIFY(!lblPasswordFrom->isVisible());
        child<QCheckBox>(frm, "cbZip")->click();
        QVERIFY(lblPasswordFrom->isVisible());
        QCOMPARE(lblPasswordFrom->text(), u"Password from the task of \u201cAcme Tool\u201d"_s);
        QVERIFY(lblPasswordClear->isVisible());
        // A task stored before there was a choice: the traditional scheme.
        QCOMPARE(cbZipEncryption->currentText(), u"Traditional (weak, for Windows Explorer)"_s);
        QVERIFY(cbZipEncryption->isEnabled());
        QCOMPARE(frm.Order().ZipEncryption, TZipEncryption::Traditional);
        QVERIFY(cbEmailFTP->isChecked());
        QCOMPARE(child<QComboBox>(frm, "cbEmailRetain")->currentIndex(), 3);
        QVERIFY(child<QPlainTextEdit>(frm, "memEmailMessage")->toPlainText().endsWith(u"\n\n{LINK}"_s));
        QVERIFY(child<QLabel>(frm, "lblEmailLink")->isVisible());
        // Enter takes the suggestion and moves on; it does not send.
        combo->lineEdit()->setFocus();
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QVERIFY(child<QLineEdit>(frm, "edEmailSubject")->hasFocus());
        QVERIFY(frm.isVisible());
        QVERIFY(!frm.SendWindow());

        // The password field shows what it holds on request.
        QCOMPARE(edPassword->echoMode(), QLineEdit::Password);
        auto *reveal = edPassword->findChild<QAction *>(QLatin1String(kRevealActionName));
        QVERIFY(reveal);
        QCOMPARE(reveal->text(), u"Show password"_s);
        reveal->trigger();
        QCOMPARE(edPassword->echoMode(), QLineEdit::Normal);
        QCOMPARE(reveal->text(), u"Hide password"_s);
        reveal->trigger();
        QCOMPARE(edPassword->echoMode(), QLineEdit::Password);
        QVERIFY(
            child<QLineEdit>(frm, "edFTPPassword")->findChild<QAction *>(QLatin1String(kRevealActionName)));

        Q_EMIT lblPasswordClear->clicked();
        QCOMPARE(edPassword->text(), QString());
        QVERIFY(!lblPasswordFrom->isVisible());
        QVERIFY(!lblPasswordClear->isVisible());

        // Typing over a filled password makes it the user's own: the note goes.
        combo->setCurrentIndex(0);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QVERIFY(lblPasswordFrom->isVisible());
        edPassword->setFocus();
        QTest::keyClick(edPassword, Qt::Key_X);
        QVERIFY(!lblPasswordFrom->isVisible());
    }

    void zippedFileGoesWithTheChosenEncryption()
    {
        const QString a = FFx->sandbox->writeFile(u"in/plan.txt"_s, "the plan");
        const QString out = FFx->sandbox->path(u"out"_s);
        QDir().mkpath(out);
        TfrmQuick frm({ a });
        frm.show();
        child<QCheckBox>(frm, "cbZip")->click();
        QVERIFY(child<QComboBox>(frm, "cbZipEncryption")->isVisible());
        child<QLineEdit>(frm, "edFilename")->setText(u"plan"_s);
        child<QLineEdit>(frm, "edPassword")->setText(u"pw"_s);
        QVERIFY(child<QComboBox>(frm, "cbZipEncryption")->isEnabled());
        child<QTabWidget>(frm, "pgSend")->setCurrentIndex(1);
        child<QLineEdit>(frm, "edFileFolder")->setText(out);
        QCOMPARE(frm.Order().ZipEncryption, TZipEncryption::Aes256);
        auto *btnSend = child<QPushButton>(frm, "btnSend");
        QVERIFY(btnSend->isEnabled());
        btnSend->click();
        QPointer<TfrmQuickSend> send = frm.SendWindow();
        QVERIFY(send);
        QTRY_VERIFY_WITH_TIMEOUT(send && send->Done(), 20000);
        QVERIFY(send->Success());
        bwtest::ZipReader zip(out + u"/plan.zip"_s);
        QVERIFY(zip.entry(u"plan.txt"_s).has_value());
        QCOMPARE(zip.entry(u"plan.txt"_s)->encryption, ZIP_EM_AES_256);
    }

    void emailSendClosesBothWindowsAndRemembersTheRecipientOnce()
    {
        bwtest::SmtpServer::Options options;
        options.offerAuth = false;
        bwtest::SmtpServer smtp(options);
        smtpSettings(smtp.port());
        const QString a = FFx->sandbox->writeFile(u"in/a.txt"_s, "a");
        const QString b = FFx->sandbox->writeFile(u"in/b.txt"_s, "b");
        for (int round = 0; round < 2; ++round) {
            TfrmQuick frm({ a, b });
            frm.show();
            child<QComboBox>(frm, "cbEmailRecipient")->setEditText(u"o'brien@example.com"_s);
            child<QLineEdit>(frm, "edFilename")->setText(u"drop"_s);
            auto *btnSend = child<QPushButton>(frm, "btnSend");
            QVERIFY(btnSend->isEnabled());
            btnSend->click();
            QVERIFY(frm.SendWindow());
            QPointer<TfrmQuickSend> send = frm.SendWindow();
            QTRY_VERIFY_WITH_TIMEOUT(send && send->Done(), 20000);
            QVERIFY(send->Success());
            QTRY_VERIFY_WITH_TIMEOUT(!frm.isVisible(), 5000);
            QCOMPARE(frm.result(), int(QDialog::Accepted));
            QCOMPARE(addressCount(), 1);
        }
        QCOMPARE(smtp.messages().size(), 2);
        QVERIFY(smtp.messages().at(0).contains("filename=\"drop.zip\""));
    }

    void failedEmailLeavesBothWindowsOpenWithTheRedLine()
    {
        bwtest::SmtpServer::Options options;
        options.offerAuth = false;
        options.refuse = QStringList { u"ann@example.com"_s };
        bwtest::SmtpServer smtp(options);
        smtpSettings(smtp.port());
        const QString a = FFx->sandbox->writeFile(u"in/a.txt"_s, "a");
        TfrmQuick frm({ a });
        frm.show();
        child<QComboBox>(frm, "cbEmailRecipient")->setEditText(u"ann@example.com"_s);
        child<QPlainTextEdit>(frm, "memEmailMessage")->setPlainText(u"Typed with care."_s);
        child<QPushButton>(frm, "btnSend")->click();
        QPointer<TfrmQuickSend> send = frm.SendWindow();
        QVERIFY(send);
        QTRY_VERIFY_WITH_TIMEOUT(send->Done(), 20000);
        QVERIFY(!send->Success());

        auto *list = child<QListWidget>(*send, "listActions");
        auto *btnAbort = child<QPushButton>(*send, "btnAbort");
        const QStringList lines = texts(list);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(u"!  Email failed: 550"_s), qPrintable(lines.at(0)));
        QCOMPARE(lines.at(1), u"!Quick send failed"_s);
        QVERIFY(hasRed(list, 1));
        QVERIFY(!child<QProgressBar>(*send, "pbAction")->isVisible());
        QCOMPARE(btnAbort->text(), u"&Close"_s);
        QVERIFY(send->isVisible());
        QVERIFY(frm.isVisible());

        // Closed by the user: the dialog stays with what was typed.
        btnAbort->click();
        QTRY_VERIFY(!send);
        QVERIFY(frm.isVisible());
        QCOMPARE(child<QPlainTextEdit>(frm, "memEmailMessage")->toPlainText(), u"Typed with care."_s);
        QVERIFY(child<QPushButton>(frm, "btnSend")->isEnabled());
        QCOMPARE(FFx->db->QueryIntegerFmt(u"SELECT success FROM log WHERE source = 2"_s, {}), 0);
    }

    void unknownHostKeyIsOfferedAndTheNextSendGoes()
    {
        // The user's key logs in, never an agent of whoever runs the tests.
        const bwtest::NoSshAgent noAgent;
        const QString home = FFx->sandbox->path(u"sftphome"_s);
        QDir().mkpath(home + u"/in"_s);
        bwtest::SshServer ssh(home);
        ssh.setUpClient();
        const QString knownHosts = QDir::homePath() + u"/.ssh/known_hosts"_s;
        QFile::remove(knownHosts);
        TQuickSendOrder order;
        order.Files = { FFx->sandbox->writeFile(u"out/notes.txt"_s, "quick notes") };
        order.Page = skFTP;
        order.FTPHost = ssh.host();
        order.FTPDirectory = u"in"_s;

        TDialogs::PushAnswer(true);
        {
            TfrmQuickSend send(order);
            send.show();
            QTRY_VERIFY_WITH_TIMEOUT(send.Done(), 60000);
            QVERIFY(!send.Success());
            QTRY_COMPARE(TDialogs::Shown().size(), 2);
        }
        const QList<TDialogs::TShown> shown = TDialogs::Shown();
        QCOMPARE(shown.at(0).sKind, u"confirm"_s);
        QVERIFY2(shown.at(0).sText.contains(ssh.fingerprint()), qPrintable(shown.at(0).sText));
        QCOMPARE(shown.at(1).sKind, u"information"_s);
        QCOMPARE(shown.at(1).sText, u"The server's host key is now trusted. Send again to deliver to it."_s);
        QFile file(knownHosts);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), ssh.knownHostsLine() + '\n');

        TDialogs::Clear();
        {
            TfrmQuickSend send(order);
            send.show();
            QTRY_VERIFY_WITH_TIMEOUT(send.Done(), 60000);
            QVERIFY(send.Success());
        }
        QCOMPARE(TDialogs::Shown().size(), 0);
        QFile arrived(home + u"/in/notes.txt"_s);
        QVERIFY(arrived.open(QIODevice::ReadOnly));
        QCOMPARE(arrived.readAll(), QByteArray("quick notes"));
    }

    void abortBeforeTheWorkSendsNothing()
    {
        const QString a = FFx->sandbox->writeFile(u"in/a.txt"_s, "a");
        TfrmQuick frm({ a });
        frm.show();
        child<QTabWidget>(frm, "pgSend")->setCurrentIndex(1);
        QDir().mkpath(FFx->sandbox->path(u"out"_s));
        child<QLineEdit>(frm, "edFileFolder")->setText(FFx->sandbox->path(u"out"_s));
        child<QPushButton>(frm, "btnSend")->click();
        QPointer<TfrmQuickSend> send = frm.SendWindow();
        QVERIFY(send);
        child<QPushButton>(*send, "btnAbort")->click();
        QTRY_VERIFY(!send);
        QVERIFY(frm.isVisible());
        QCOMPARE(QDir(FFx->sandbox->path(u"out"_s)).entryList(QDir::Files), QStringList());
        QCOMPARE(FFx->db->QueryIntegerFmt(u"SELECT COUNT(*) FROM log"_s, {}), 0);
    }
};

QTEST_MAIN(TestFrmQuick)
#include "test_frmquick.moc"
