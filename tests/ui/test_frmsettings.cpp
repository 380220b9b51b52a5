#include "core/productinfo.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "delivery/connectiontest.h"
#include "network/smtpclient.h"
#include "support/servers.h"
#include "ui/frmemail.h"
#include "ui/frmftptest.h"
#include "ui/frmmain.h"
#include "ui/frmsettings.h"
#include "ui/linklabel.h"
#include "ui/progressdelegate.h"
#include "ui/windowkit.h"
#include "uitest.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

// A support address as a build would name it.
const QString kSupport = u"support@example.org"_s;

class TestFrmSettings : public QObject
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
    static QLineEdit *edit(QWidget &frm, const char *name) { return child<QLineEdit>(frm, name); }
    static QCheckBox *check(QWidget &frm, const char *name) { return child<QCheckBox>(frm, name); }
    static TLinkLabel *link(QWidget &frm, const char *name) { return child<TLinkLabel>(frm, name); }
    // Every row of the settings table as name=value, in insertion order.
    QStringList rows() const
    {
        QStringList out;
        FFx->db->GetTableStrings(u"SELECT name || '=' || value FROM settings ORDER BY id"_s, out);
        return out;
    }
    static void fillSMTP(QWidget &frm, quint16 port)
    {
        edit(frm, "edEmailServer")->setText(u"127.0.0.1"_s);
        child<QSpinBox>(frm, "spinEmailPort")->setValue(port);
        check(frm, "cbEmailLogin")->setChecked(true);
        edit(frm, "edEmailUsername")->setText(u"mailer"_s);
        edit(frm, "edEmailPassword")->setText(u"s3cret"_s);
        edit(frm, "edEmailFrom")->setText(u"ann@example.com"_s);
    }
    static void fillFTP(QWidget &frm, const QString &host, const QString &httpPath)
    {
        edit(frm, "edFTPHost")->setText(host);
        edit(frm, "edFTPDirectory")->setText(u"staging"_s);
        edit(frm, "edFTPLogin")->setText(u"stage"_s);
        edit(frm, "edFTPPassword")->setText(u"pa55"_s);
        edit(frm, "edFTPHttpPath")->setText(httpPath);
    }
    static void fillS3(QWidget &frm, const QString &endpoint)
    {
        edit(frm, "edS3Endpoint")->setText(endpoint);
        edit(frm, "edS3Region")->setText(u"eu-central-1"_s);
        edit(frm, "edS3Bucket")->setText(u"bundlewick"_s);
        edit(frm, "edS3Prefix")->setText(u"links/"_s);
        edit(frm, "edS3AccessKeyId")->setText(u"S3RVER"_s);
        edit(frm, "edS3SecretKey")->setText(u"wJalr-secret"_s);
        check(frm, "cbS3PathStyle")->setChecked(true);
    }
    static QStringList actionLines(QWidget &frm)
    {
        QStringList out;
        auto *list = child<QListWidget>(frm, "listActions");
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    // The step lines of the list: without progress and detail lines.
    static QStringList stepLines(QWidget &frm)
    {
        QStringList out;
        for (const QString &line : actionLines(frm))
            if (!line.startsWith(u"FTP progress: "_s) && !line.startsWith(u"S3 progress: "_s)
                && !line.startsWith(u' '))
                out << line;
        return out;
    }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void writeAll(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            qWarning("cannot write %s", qPrintable(path));
    }
    // The staging fields for an SFTP server logged into with the user's key.
    static void fillSFTP(QWidget &frm, const bwtest::SshServer &ssh, const QString &httpPath)
    {
        fillFTP(frm, ssh.host(), httpPath);
        edit(frm, "edFTPLogin")->clear();
        edit(frm, "edFTPPassword")->clear();
    }

private slots:
    void init() { FFx = std::make_unique<bwtest::UiFixture>(); }
    void cleanup()
    {
        TSMTPClient::SetLoopbackExemption(true);
        FFx.reset();
    }

    void firstOpeningShowsTheDefaults()
    {
        TfrmSettings frm;
        QCOMPARE(frm.windowTitle(), u"Settings"_s);
        auto *pg = child<QTabWidget>(frm, "pgSettings");
        QCOMPARE(pg->currentIndex(), 0);
        QCOMPARE(pg->tabText(0), u"FTP"_s);
        QCOMPARE(pg->tabText(1), u"General"_s);
        QCOMPARE(pg->tabText(2), u"SMTP"_s);
        QCOMPARE(pg->tabText(3), u"S3 storage"_s);
        QCOMPARE(child<QComboBox>(frm, "cbStagingKind")->currentText(), u"FTP server"_s);
        QVERIFY(!link(frm, "lblS3Test")->isEnabled());
        auto *cbRetain = child<QComboBox>(frm, "cbRetain");
        QCOMPARE(cbRetain->currentIndex(), 1);
        QCOMPARE(cbRetain->currentText(), u"one week"_s);
        QCOMPARE(cbRetain->count(), 5);
        QVERIFY(check(frm, "cbShowHints")->isChecked());
        QVERIFY(check(frm, "cbHidePasswords")->isChecked());
        QCOMPARE(child<QSpinBox>(frm, "spinLogDays")->value(), 365);
        QCOMPARE(child<QSpinBox>(frm, "spinLogDays")->minimum(), 1);
        QCOMPARE(child<QSpinBox>(frm, "spinLogDays")->maximum(), 1826);
        QCOMPARE(child<QSpinBox>(frm, "spinEmailPort")->value(), 0);
        QVERIFY(!check(frm, "cbEmailLogin")->isChecked());
        QVERIFY(!check(frm, "cbEmailAllowPlainLogin")->isChecked());
        QVERIFY(!check(frm, "cbEmailAllowPlainLogin")->isEnabled());
        QVERIFY(!link(frm, "lblEmailTest")->isEnabled());
        QVERIFY(!link(frm, "lblFTPTest")->isEnabled());
        QCOMPARE(frm.HelpContext(), 18);
        QCOMPARE(THints::Hint(edit(frm, "edEmailFrom")),
                 u"From / reply to|The email address that will \"send\"\r\nBundlewick's messages and receive "
                 "any replies.\r\n"_s);
        // Every TCP port can be typed (not only up to 99).
        auto *port = child<QSpinBox>(frm, "spinEmailPort");
        port->setValue(65535);
        QCOMPARE(port->value(), 65535);
        port->clear();
        QTest::keyClicks(port, u"2525"_s);
        QCOMPARE(port->value(), 2525);
    }

    void testLinksFollowTheirRules()
    {
        TfrmSettings frm;
        TLinkLabel *email = link(frm, "lblEmailTest");
        // Without a login: server, from address and port suffice.
        edit(frm, "edEmailServer")->setText(u"smtp.example.org"_s);
        edit(frm, "edEmailFrom")->setText(u"ann@example.com"_s);
        QVERIFY(!email->isEnabled());
        child<QSpinBox>(frm, "spinEmailPort")->setValue(25);
        QVERIFY(email->isEnabled());
        // A server of blanks does not count.
        edit(frm, "edEmailServer")->setText(u"   "_s);
        QVERIFY(!email->isEnabled());
        edit(frm, "edEmailServer")->setText(u"smtp.example.org"_s);
        // With the login: user name and password too.
        check(frm, "cbEmailLogin")->setChecked(true);
        QVERIFY(!email->isEnabled());
        QVERIFY(check(frm, "cbEmailAllowPlainLogin")->isEnabled());
        edit(frm, "edEmailUsername")->setText(u"ann"_s);
        edit(frm, "edEmailPassword")->setText(u" "_s);
        QVERIFY(!email->isEnabled());
        edit(frm, "edEmailPassword")->setText(u"pw"_s);
        QVERIFY(email->isEnabled());

        TLinkLabel *ftp = link(frm, "lblFTPTest");
        edit(frm, "edFTPHost")->setText(u"  "_s); // blanks count here
        QVERIFY(!ftp->isEnabled());
        edit(frm, "edFTPHttpPath")->setText(u"http://example.org/s/"_s);
        QVERIFY(ftp->isEnabled());
        child<QComboBox>(frm, "cbRetain")->setCurrentIndex(-1);
        QVERIFY(!ftp->isEnabled());
    }

    void passwordMaskAndHintsFollowTheirBoxesAtOnce()
    {
        SetSetting(u"Hide passwords"_s, u"0"_s);
        TfrmSettings frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QLineEdit *ftp = edit(frm, "edFTPPassword");
        QLineEdit *email = edit(frm, "edEmailPassword");
        QVERIFY(!check(frm, "cbHidePasswords")->isChecked());
        QCOMPARE(ftp->echoMode(), QLineEdit::Normal);
        QCOMPARE(email->echoMode(), QLineEdit::Normal);
        check(frm, "cbHidePasswords")->click();
        QCOMPARE(ftp->echoMode(), QLineEdit::Password);
        QCOMPARE(email->echoMode(), QLineEdit::Password);
        QCOMPARE(ftp->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, ftp),
                 int(kPasswordCharacter));

        QVERIFY(THints::EnabledFor(ftp));
        check(frm, "cbShowHints")->click();
        QVERIFY(!THints::EnabledFor(ftp));
        QVERIFY(THints::Enabled()); // the stored setting is untouched until Save
        frm.reject();
        QCOMPARE(GetSetting(u"Hide passwords"_s), u"0"_s);
    }

    void saveWritesEverySettingInOrder()
    {
        SetSetting(u"FTP host"_s, u"old.example.org"_s);
        Param::SettingsTab.Set(2);
        {
            TfrmSettings frm;
            QCOMPARE(child<QTabWidget>(frm, "pgSettings")->currentIndex(), 2);
            QCOMPARE(edit(frm, "edFTPHost")->text(), u"old.example.org"_s);
            fillFTP(frm, u"ftp.example.org"_s, u"http://example.org/s/"_s);
            edit(frm, "edFTPPassword")->setText(u"it's"_s);
            child<QComboBox>(frm, "cbRetain")->setCurrentIndex(3);
            check(frm, "cbShowHints")->setChecked(false);
            child<QSpinBox>(frm, "spinLogDays")->setValue(30);
            fillSMTP(frm, 587);
            check(frm, "cbEmailAllowPlainLogin")->setChecked(true);
            child<QComboBox>(frm, "cbStagingKind")->setCurrentIndex(1);
            fillS3(frm, u"http://127.0.0.1:9000"_s);
            edit(frm, "edS3PublicAddress")->setText(u" https://cdn.example.org/drops "_s);
            TDialogs::PushFileName(u"/srv/ca/internal.pem"_s);
            QTest::mouseClick(child<QPushButton>(frm, "btnTLSCertificates"), Qt::LeftButton);
            QCOMPARE(edit(frm, "edTLSCertificates")->text(), u"/srv/ca/internal.pem"_s);
            child<QTabWidget>(frm, "pgSettings")->setCurrentIndex(1);
            QTest::mouseClick(child<QPushButton>(frm, "btnSave"), Qt::LeftButton);
            QCOMPARE(frm.result(), int(QDialog::Accepted));
        }
        QCOMPARE(rows(),
                 (QStringList { u"FTP host=ftp.example.org"_s,
                                u"FTP directory=staging"_s,
                                u"FTP login=stage"_s,
                                u"FTP password=it's"_s,
                                u"FTP retention=3"_s,
                                u"FTP http path=http://example.org/s/"_s,
                                u"Staging kind=1"_s,
                                u"S3 endpoint=http://127.0.0.1:9000"_s,
                                u"S3 region=eu-central-1"_s,
                                u"S3 bucket=bundlewick"_s,
                                u"S3 key prefix=links/"_s,
                                u"S3 access key id=S3RVER"_s,
                                u"S3 secret key=wJalr-secret"_s,
                                u"S3 path style=1"_s,
                                u"S3 public address=https://cdn.example.org/drops"_s,
                                u"Show hints=0"_s,
                                u"Hide passwords=1"_s,
                                u"Log days=30"_s,
                                u"Email server=127.0.0.1"_s,
                                u"Email username=mailer"_s,
                                u"Email password=s3cret"_s,
                                u"Email port=587"_s,
                                u"Email from=ann@example.com"_s,
                                u"Email login=1"_s,
                                u"Email allow plain login=1"_s,
                                u"TLS certificates file=/srv/ca/internal.pem"_s }));
        QCOMPARE(Param::SettingsTab.Get(), 1);
        QVERIFY(EmailAvailable());

        // Reopened: the values as saved.
        TfrmSettings again;
        QCOMPARE(child<QComboBox>(again, "cbRetain")->currentIndex(), 3);
        QCOMPARE(child<QSpinBox>(again, "spinEmailPort")->value(), 587);
        QVERIFY(check(again, "cbEmailLogin")->isChecked());
        QVERIFY(check(again, "cbEmailAllowPlainLogin")->isChecked());
        QVERIFY(!check(again, "cbShowHints")->isChecked());
        QCOMPARE(edit(again, "edTLSCertificates")->text(), u"/srv/ca/internal.pem"_s);
        QVERIFY(link(again, "lblEmailTest")->isEnabled());
        QVERIFY(link(again, "lblFTPTest")->isEnabled());
        QVERIFY(link(again, "lblS3Test")->isEnabled());
        QCOMPARE(edit(again, "edS3SecretKey")->accessibleName(), u"Secret key"_s);
        QCOMPARE(child<QComboBox>(again, "cbStagingKind")->currentIndex(), 1);
    }

    // The S3 test button: upload, the presigned link a week's e-mail would
    // carry fetched over HTTP, compared, deleted; then the failures.
    void s3TestRunsTheRoundTripThroughTheMailedLink()
    {
        bwtest::S3Server s3;
        TfrmSettings settings;
        fillS3(settings, s3.endpoint());
        child<QComboBox>(settings, "cbRetain")->setCurrentIndex(1);
        QVERIFY(link(settings, "lblS3Test")->isEnabled());
        QStringList lines;
        QString title;
        bwtest::ModalDriver driver([&](QDialog *dialog) {
            const auto close = qScopeGuard([dialog] {
                if (dialog->isVisible())
                    dialog->done(QDialog::Rejected);
            });
            auto *frm = qobject_cast<TfrmFTPTest *>(dialog);
            QVERIFY(frm);
            title = frm->windowTitle();
            QTRY_VERIFY_WITH_TIMEOUT(frm->Finished(), 60000);
            lines = stepLines(*frm);
            QTest::mouseClick(child<QPushButton>(*frm, "btnAbort"), Qt::LeftButton);
        });
        settings.show();
        QCOMPARE(edit(settings, "edS3SecretKey")->echoMode(), QLineEdit::Password);
        link(settings, "lblS3Test")->clicked();
        QVERIFY(driver.ran());
        QCOMPARE(title, u"S3 test"_s);
        QCOMPARE(
            lines,
            (QStringList { u"Test file created"_s, u"Test file uploaded successfully"_s,
                           u"Test file successfully downloaded with HTTP"_s,
                           u"Uploaded and downloaded files match"_s, u"Test file deleted from server"_s }));
        QCOMPARE(s3.keys(u"bundlewick"_s), QStringList());

        // A bucket that is not there, and a month without a public address.
        edit(settings, "edS3Bucket")->setText(u"missing"_s);
        {
            TfrmFTPTest frm(&settings, TStagingKind::S3);
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(frm.Finished(), 60000);
            QCOMPARE(actionLines(frm).filter(QRegularExpression(u"^(?!S3 progress)"_s)),
                     (QStringList { u"Test file created"_s, u"!Unable to upload test file"_s,
                                    u"    404 NoSuchBucket: The specified bucket does not exist"_s }));
            QCOMPARE(child<QLabel>(frm, "lblResult")->text(), u"Test failed"_s);
        }
        edit(settings, "edS3Bucket")->setText(u"bundlewick"_s);
        child<QComboBox>(settings, "cbRetain")->setCurrentIndex(2);
        QVERIFY(child<QLabel>(settings, "lblS3Retain")
                    ->text()
                    .startsWith(u"S3 links without a public download address last at most a week."_s));
        {
            TfrmFTPTest frm(&settings, TStagingKind::S3);
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(frm.Finished(), 60000);
            QCOMPARE(actionLines(frm).value(1), u"!No download link for the default lifespan"_s);
        }
        QCOMPARE(s3.keys(u"bundlewick"_s), QStringList());
    }

    void cancelWritesNothingButRemembersTheTab()
    {
        TfrmSettings frm;
        fillSMTP(frm, 25);
        child<QTabWidget>(frm, "pgSettings")->setCurrentIndex(2);
        QTest::mouseClick(child<QPushButton>(frm, "btnCancel"), Qt::LeftButton);
        QCOMPARE(rows(), QStringList());
        QCOMPARE(Param::SettingsTab.Get(), 2);
    }

    void testEmailReportsSuccessAndFailure()
    {
        bwtest::SmtpServer::Options options;
        options.refuse = QStringList { u"nobody@example.org"_s };
        bwtest::SmtpServer server(options);
        TfrmSettings frm;
        fillSMTP(frm, server.port());
        TLinkLabel *lbl = link(frm, "lblEmailTest");

        // Cancel in the input box: nothing happens.
        lbl->clicked();
        QVERIFY(!frm.EmailTestRunning());
        QCOMPARE(TDialogs::Shown().size(), 1);
        QCOMPARE(TDialogs::Shown().at(0).sKind, u"input"_s);
        QCOMPARE(TDialogs::Shown().at(0).sTitle, u"Test email recipient"_s);
        QCOMPARE(TDialogs::Shown().at(0).sText, u"Email address"_s);

        TDialogs::Clear();
        TDialogs::PushInput(u"bob@example.org"_s);
        lbl->clicked();
        QVERIFY(frm.EmailTestRunning());
        QVERIFY(!lbl->isEnabled()); // one test at a time
        QTRY_VERIFY_WITH_TIMEOUT(!bwtest::ShownTexts(u"information"_s).isEmpty(), 30000);
        QCOMPARE(bwtest::ShownTexts(u"information"_s),
                 QStringList { u"Your test message has been sent successfully. Please check the inbox for "
                               "bob@example.org."_s });
        QVERIFY(lbl->isEnabled());
        QCOMPARE(server.messages().size(), 1);
        QVERIFY(server.messages().at(0).contains("Subject: Bundlewick test"));
        QCOMPARE(rows(), QStringList()); // the fields as typed, nothing saved

        TDialogs::Clear();
        TDialogs::PushInput(u"nobody@example.org"_s);
        lbl->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(!bwtest::ShownTexts(u"critical"_s).isEmpty(), 30000);
        const QString sError = bwtest::ShownTexts(u"critical"_s).at(0);
        QVERIFY2(sError.startsWith(u"There was an error sending your test email message to "
                                   "nobody@example.org.\r\n\r\n"_s),
                 qPrintable(sError));
        QVERIFY2(sError.contains(u"550"_s), qPrintable(sError));
    }

    void testEmailNeverSendsALoginInClearTextUnlessAllowed()
    {
        bwtest::SmtpServer server; // AUTH offered, no STARTTLS
        TSMTPClient::SetLoopbackExemption(false);
        TfrmSettings frm;
        fillSMTP(frm, server.port());
        TDialogs::PushInput(u"bob@example.org"_s);
        link(frm, "lblEmailTest")->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(!bwtest::ShownTexts(u"critical"_s).isEmpty(), 30000);
        QVERIFY(bwtest::ShownTexts(u"critical"_s).at(0).endsWith(TSMTPClient::PlainLoginRefusedText()));
        QCOMPARE(server.authAttempts(), QByteArray());
        QVERIFY(server.messages().isEmpty());

        TDialogs::Clear();
        check(frm, "cbEmailAllowPlainLogin")->setChecked(true);
        TDialogs::PushInput(u"bob@example.org"_s);
        link(frm, "lblEmailTest")->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(!bwtest::ShownTexts(u"information"_s).isEmpty(), 30000);
        QCOMPARE(server.authAttempts(), QByteArray("LOGIN tls=no\n"));
        QCOMPARE(server.messages().size(), 1);
    }

    void closingDuringTheTestEmailNeitherHangsNorReports()
    {
        bwtest::SilentServer silent;
        QElapsedTimer timer;
        timer.start();
        {
            TfrmSettings frm;
            fillSMTP(frm, silent.port());
            TDialogs::PushInput(u"bob@example.org"_s);
            link(frm, "lblEmailTest")->clicked();
            QVERIFY(frm.EmailTestRunning());
            frm.reject();
            QVERIFY(!frm.EmailTestRunning());
        }
        QVERIFY(timer.elapsed() < 20000);
        QTest::qWait(50);
        QVERIFY(bwtest::ShownTexts(u"critical"_s).isEmpty());
        QVERIFY(bwtest::ShownTexts(u"information"_s).isEmpty());
    }

    void ftpTestSucceedsWithFiveLines()
    {
        bwtest::TestSandbox &sb = *FFx->sandbox;
        const QString home = sb.path(u"ftphome"_s);
        QDir().mkpath(home + u"/staging"_s);
        bwtest::FtpServer ftp(u"stage"_s, u"pa55"_s, home);
        bwtest::HttpServer http(home);
        TfrmSettings settings;
        fillFTP(settings, ftp.host(), http.url(u"staging/"_s));
        TfrmFTPTest frm(&settings);
        QCOMPARE(frm.windowTitle(), u"FTP test"_s);
        frm.show();
        auto *btn = child<QPushButton>(frm, "btnAbort");
        auto *result = child<QLabel>(frm, "lblResult");
        QCOMPARE(btn->text(), u"&Abort"_s);
        QVERIFY(!result->isVisible());
        QVERIFY(!frm.Started()); // one second after opening
        QTRY_VERIFY_WITH_TIMEOUT(frm.Finished(), 60000);
        QCOMPARE(
            stepLines(frm),
            (QStringList { u"Test file created"_s, u"Test file uploaded successfully"_s,
                           u"Test file successfully downloaded with HTTP"_s,
                           u"Uploaded and downloaded files match"_s, u"Test file deleted from server"_s }));
        QCOMPARE(result->text(), u"Test successful"_s);
        QVERIFY(result->isVisible());
        QCOMPARE(result->palette().color(QPalette::WindowText),
                 QColor(0x00, 0x78, 0x00)); // 4.5:1 on the window colour
        QVERIFY(!child<QProgressBar>(frm, "pbAction")->isVisible());
        QCOMPARE(btn->text(), u"&Close"_s);
        QCOMPARE(QDir(home + u"/staging"_s).entryList(QDir::Files), QStringList());
        QTest::mouseClick(btn, Qt::LeftButton);
        QCOMPARE(frm.result(), int(QDialog::Accepted));
    }

    void ftpTestFailuresEndRedAndKeepTheUpload()
    {
        bwtest::TestSandbox &sb = *FFx->sandbox;
        const QString home = sb.path(u"ftphome"_s);
        QDir().mkpath(home + u"/staging"_s);
        sb.writeFile(u"ftphome/other.txt"_s, "Something else\r\n");
        bwtest::FtpServer ftp(u"stage"_s, u"pa55"_s, home);
        bwtest::HttpServer http(home);
        TfrmSettings settings;
        {
            fillFTP(settings, ftp.host(), http.url(u"missing"_s));
            TfrmFTPTest frm(&settings);
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(frm.Finished(), 60000);
            QCOMPARE(stepLines(frm).last(), u"!Failed to download test file with HTTP"_s);
            QCOMPARE(child<QLabel>(frm, "lblResult")->text(), u"Test failed"_s);
            QCOMPARE(child<QLabel>(frm, "lblResult")->palette().color(QPalette::WindowText),
                     QColor(0xd8, 0x00, 0x00));
            auto *list = child<QListWidget>(frm, "listActions");
            const int iRow = int(actionLines(frm).indexOf(u"!Failed to download test file with HTTP"_s));
            const TLineStyle style
                = TProgressLineDelegate::LineStyle(list->model()->index(iRow, 0), list->palette(), false);
            QCOMPARE(style.sText, u"Failed to download test file with HTTP"_s);
            QCOMPARE(style.oColour, QColor(0xd8, 0x00, 0x00));
            QVERIFY(!style.bBold);
            QCOMPARE(QDir(home + u"/staging"_s).entryList(QDir::Files).size(), 1);
            // Escape after the run closes, as not successful.
            QTest::keyClick(&frm, Qt::Key_Escape);
            QCOMPARE(frm.result(), int(QDialog::Rejected));
        }
        {
            edit(settings, "edFTPHttpPath")->setText(http.url(u"other.txt#"_s));
            TfrmFTPTest frm(&settings);
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(frm.Finished(), 60000);
            QCOMPARE(stepLines(frm).last(), u"!Uploaded and downloaded files do not match"_s);
            QVERIFY(actionLines(frm).last().contains(u"stays on the server for inspection: "_s));
            QCOMPARE(child<QLabel>(frm, "lblResult")->text(), u"Test failed"_s);
            QCOMPARE(QDir(home + u"/staging"_s).entryList(QDir::Files).size(), 2);
        }
    }

    void ftpTestRefusesToCloseWhileRunningAndSurvivesDestruction()
    {
        bwtest::SilentServer silent;
        TfrmSettings settings;
        fillFTP(settings, u"127.0.0.1:%1"_s.arg(silent.port()), u"http://127.0.0.1:1/"_s);
        QElapsedTimer timer;
        timer.start();
        {
            TfrmFTPTest frm(&settings);
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(!actionLines(frm).isEmpty(), 10000);
            QCOMPARE(actionLines(frm).at(0), u"Test file created"_s);
            QTest::keyClick(&frm, Qt::Key_Escape);
            QVERIFY(frm.isVisible());
            frm.close();
            QVERIFY(frm.isVisible());
            // Abort: the upload step still runs; the window waits for it.
            QTest::mouseClick(child<QPushButton>(frm, "btnAbort"), Qt::LeftButton);
            QVERIFY(frm.isVisible());
            QVERIFY(!child<QPushButton>(frm, "btnAbort")->isEnabled());
            // The window goes before the step has ended: no hang, no crash.
        }
        QVERIFY(timer.elapsed() < 10000);
    }

    void ftpTestOffersAnUnknownHostKeyAndRunsAgainOnceTrusted()
    {
        // The user's key logs in, never an agent of whoever runs the tests.
        const bwtest::NoSshAgent noAgent;
        bwtest::TestSandbox &sb = *FFx->sandbox;
        const QString home = sb.path(u"sftphome"_s);
        QDir().mkpath(home + u"/staging"_s);
        bwtest::SshServer ssh(home);
        ssh.setUpClient();
        // known_hosts knows another server only.
        const QString knownHosts = QDir::homePath() + u"/.ssh/known_hosts"_s;
        const QByteArray otherHost = "[127.0.0.1]:1 ssh-ed25519 "
                                     "AAAAC3NzaC1lZDI1NTE5AAAAIGVKiHUfSlbrQ6bFw4yQx1cXwQTvqmbBZmE1qTjeYuDX\n";
        writeAll(knownHosts, otherHost);
        QCOMPARE(readAll(knownHosts), otherHost);
        bwtest::HttpServer http(home);
        TfrmSettings settings;
        fillSFTP(settings, ssh, http.url(u"staging/"_s));

        // No: nothing changes, the test stays failed.
        {
            TfrmFTPTest frm(&settings);
            frm.show();
            QTRY_VERIFY_WITH_TIMEOUT(frm.Finished(), 60000);
            QTRY_COMPARE(TDialogs::Shown().size(), 1);
            const TDialogs::TShown asked = TDialogs::Shown().at(0);
            QCOMPARE(asked.sKind, u"confirm"_s);
            QCOMPARE(asked.sTitle, u"SSH host key"_s);
            QVERIFY2(asked.sText.contains(u"127.0.0.1, port %1"_s.arg(ssh.port())), qPrintable(asked.sText));
            QVERIFY(asked.sText.contains(u"ssh-ed25519"_s));
            QVERIFY2(asked.sText.contains(ssh.fingerprint()), qPrintable(asked.sText));
            QVERIFY(asked.sText.contains(u"Compare this fingerprint"_s));
            QCOMPARE(stepLines(frm).last(), u"!Unable to upload test file"_s);
            QVERIFY(actionLines(frm).last().contains(ssh.fingerprint()));
            QCOMPARE(child<QLabel>(frm, "lblResult")->text(), u"Test failed"_s);
            QCOMPARE(frm.Runs(), 1);
            QCOMPARE(readAll(knownHosts), otherHost);
        }

        // Yes, from the settings dialog's link: the key is trusted, the test
        // runs again and succeeds.
        TDialogs::Clear();
        TDialogs::PushAnswer(true); // trust the key
        TDialogs::PushAnswer(true); // run again
        bool bChecked = false;
        bwtest::ModalDriver driver([&](QDialog *dialog) {
            // Closed whatever happens below: a failed check never leaves the
            // modal window open (it refuses Escape while running).
            const auto close = qScopeGuard([dialog] {
                if (dialog->isVisible())
                    dialog->done(QDialog::Rejected);
            });
            auto *frm = qobject_cast<TfrmFTPTest *>(dialog);
            QVERIFY(frm);
            QTRY_COMPARE_WITH_TIMEOUT(frm->Runs(), 2, 60000);
            QTRY_VERIFY_WITH_TIMEOUT(frm->Finished(), 60000);
            QCOMPARE(stepLines(*frm),
                     (QStringList { u"Test file created"_s, u"Test file uploaded successfully"_s,
                                    u"Test file successfully downloaded with HTTP"_s,
                                    u"Uploaded and downloaded files match"_s,
                                    u"Test file deleted from server"_s }));
            QCOMPARE(child<QLabel>(*frm, "lblResult")->text(), u"Test successful"_s);
            bChecked = true;
            QTest::mouseClick(child<QPushButton>(*frm, "btnAbort"), Qt::LeftButton);
        });
        settings.show();
        link(settings, "lblFTPTest")->clicked();
        QVERIFY(driver.ran());
        QVERIFY(bChecked);
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s).size(), 2);
        QCOMPARE(bwtest::ShownTexts(u"confirm"_s).at(1),
                 u"The server's host key is now trusted. Run the test again?"_s);
        QVERIFY(bwtest::ShownTexts(u"critical"_s).isEmpty());
        // The other entry stays; the server's key is added as ssh prints it.
        QCOMPARE(readAll(knownHosts), otherHost + ssh.knownHostsLine() + '\n');
        QCOMPARE(QDir(home + u"/staging"_s).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void ftpTestNeverTrustsAChangedHostKey()
    {
        const bwtest::NoSshAgent noAgent;
        bwtest::TestSandbox &sb = *FFx->sandbox;
        const QString home = sb.path(u"sftphome"_s);
        QDir().mkpath(home + u"/staging"_s);
        bwtest::SshServer ssh(home);
        ssh.setUpClient();
        // known_hosts holds another ed25519 key for this server.
        const QString knownHosts = QDir::homePath() + u"/.ssh/known_hosts"_s;
        const QByteArray stale = u"[127.0.0.1]:%1 "_s.arg(ssh.port()).toLatin1()
            + "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIGVKiHUfSlbrQ6bFw4yQx1cXwQTvqmbBZmE1qTjeYuDX\n";
        writeAll(knownHosts, stale);
        bwtest::HttpServer http(home);
        TfrmSettings settings;
        fillSFTP(settings, ssh, http.url(u"staging/"_s));
        TDialogs::PushAnswer(true); // never asked: a Yes must not trust it
        TfrmFTPTest frm(&settings);
        frm.show();
        QTRY_VERIFY_WITH_TIMEOUT(frm.Finished(), 60000);
        QTRY_COMPARE(TDialogs::Shown().size(), 1);
        const TDialogs::TShown warned = TDialogs::Shown().at(0);
        QCOMPARE(warned.sKind, u"warning"_s);
        QVERIFY2(warned.sText.contains(u"has changed"_s), qPrintable(warned.sText));
        QVERIFY(warned.sText.contains(ssh.fingerprint()));
        QVERIFY2(warned.sText.contains(u"ssh-keygen -R \"[127.0.0.1]:%1\""_s.arg(ssh.port())),
                 qPrintable(warned.sText));
        QCOMPARE(readAll(knownHosts), stale);
        QCOMPARE(frm.Runs(), 1);
        QCOMPARE(child<QLabel>(frm, "lblResult")->text(), u"Test failed"_s);
    }

    void heightAndLoginFieldsStaySteady()
    {
        TfrmSettings frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        auto *pages = child<QTabWidget>(frm, "pgSettings");
        QStringList tabs;
        QList<int> heights;
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            frm.layout()->activate();
            tabs << pages->tabText(i);
            heights << frm.height();
        }
        QCOMPARE(tabs, (QStringList { u"FTP"_s, u"General"_s, u"SMTP"_s, u"S3 storage"_s }));
        QCOMPARE(heights.at(1), heights.at(0));
        QCOMPARE(heights.at(2), heights.at(0));
        QCOMPARE(heights.at(3), heights.at(0));

        // The account is greyed while the server is not logged into.
        auto *login = child<QCheckBox>(frm, "cbEmailLogin");
        login->setChecked(false);
        QVERIFY(!child<QLineEdit>(frm, "edEmailUsername")->isEnabled());
        QVERIFY(!child<QLineEdit>(frm, "edEmailPassword")->isEnabled());
        login->setChecked(true);
        QVERIFY(child<QLineEdit>(frm, "edEmailUsername")->isEnabled());
        QVERIFY(child<QLineEdit>(frm, "edEmailPassword")->isEnabled());
        QCOMPARE(child<QLineEdit>(frm, "edFTPHttpPath")->accessibleName(), u"HTTP download address"_s);
    }

    void supportEmailWaitsForTheSettingsThenSends()
    {
        {
            TfrmEmail frm(nullptr, kSupport);
            QVERIFY(!child<QPushButton>(frm, "btnSend")->isEnabled());
            QVERIFY(!child<QLabel>(frm, "lblNotSet")->isHidden());
        }
        bwtest::SmtpServer server;
        SetSetting(u"Email server"_s, u"127.0.0.1"_s);
        SetSetting(u"Email port"_s, QString::number(server.port()));
        SetSetting(u"Email login"_s, u"1"_s);
        SetSetting(u"Email username"_s, u"mailer"_s);
        SetSetting(u"Email password"_s, u"s3cret"_s);
        SetSetting(u"Email from"_s, u"ann@example.com"_s);
        TfrmEmail frm(nullptr, kSupport);
        QVERIFY(child<QLabel>(frm, "lblNotSet")->isHidden());
        QVERIFY(child<QLabel>(frm, "lblTo")->text().contains(kSupport));
        child<QPlainTextEdit>(frm, "memMessage")->setPlainText(u"The build breaks.\nThanks"_s);
        QTest::mouseClick(child<QPushButton>(frm, "btnSend"), Qt::LeftButton);
        QVERIFY(frm.Sending());
        QVERIFY(!child<QPushButton>(frm, "btnSend")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!frm.Sending(), 30000);
        QCOMPARE(bwtest::ShownTexts(u"information"_s),
                 QStringList { u"Your message has been sent to %1."_s.arg(kSupport) });
        QCOMPARE(frm.result(), int(QDialog::Accepted));
        QCOMPARE(server.messages().size(), 1);
        QVERIFY(server.envelope(0).contains("to: " + kSupport.toUtf8()));
        QVERIFY(server.messages().at(0).contains("Subject: About Bundlewick"));
    }

    void supportEmailReportsTheServersError()
    {
        bwtest::SmtpServer::Options options;
        options.refuse = QStringList { kSupport };
        bwtest::SmtpServer server(options);
        SetSetting(u"Email server"_s, u"127.0.0.1"_s);
        SetSetting(u"Email port"_s, QString::number(server.port()));
        SetSetting(u"Email login"_s, u"0"_s);
        SetSetting(u"Email username"_s, u"-"_s);
        SetSetting(u"Email password"_s, u"-"_s);
        SetSetting(u"Email from"_s, u"ann@example.com"_s);
        TfrmEmail frm(nullptr, kSupport);
        QTest::mouseClick(child<QPushButton>(frm, "btnSend"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!frm.Sending(), 30000);
        const QStringList errors = bwtest::ShownTexts(u"critical"_s);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.at(0).contains(u"550"_s), qPrintable(errors.at(0)));
        QVERIFY(child<QPushButton>(frm, "btnSend")->isEnabled()); // try again
    }

    void mainWindowOpensSettingsLogAndSupport()
    {
        TfrmMain main;
        auto *mmSettings = main.findChild<QAction *>(u"mmSettings"_s);
        auto *mmHelpEmail = main.findChild<QAction *>(u"mmHelpEmail"_s);
        QVERIFY(mmSettings && mmSettings->isEnabled());
        QVERIFY(mmHelpEmail);
        // Offered only by a build that names a support address; this one does not.
        QCOMPARE(QString(ProductSupportEmail), QString());
        QVERIFY(!mmHelpEmail->isVisible());
        QString sName;
        {
            bwtest::ModalDriver driver([&](QDialog *dialog) { sName = dialog->objectName(); });
            mmSettings->trigger();
            QVERIFY(driver.ran());
        }
        QCOMPARE(sName, u"frmSettings"_s);
        auto *mmLog = main.findChild<QAction *>(u"mmLog"_s);
        QVERIFY(mmLog && mmLog->isEnabled());
        {
            bwtest::ModalDriver driver([&](QDialog *dialog) { sName = dialog->objectName(); });
            mmLog->trigger();
            QVERIFY(driver.ran());
        }
        QCOMPARE(sName, u"frmLog"_s);

        // E-mail not set up: the address goes to the clipboard and a question.
        TDialogs::PushAnswer(false);
        TfrmMain::EmailSupport(&main, kSupport);
        const QStringList asked = bwtest::ShownTexts(u"confirm"_s);
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.at(0).startsWith(
            u"The Bundlewick team's email address - %1 - has been copied"_s.arg(kSupport)));
        QCOMPARE(QGuiApplication::clipboard()->text(), kSupport);

        for (const char *name : { "Email server", "Email username", "Email password", "Email port",
                                  "Email from", "Email login" })
            SetSetting(QString::fromLatin1(name), u"1"_s);
        {
            bwtest::ModalDriver driver([&](QDialog *dialog) { sName = dialog->objectName(); });
            TfrmMain::EmailSupport(&main, kSupport);
            QVERIFY(driver.ran());
        }
        QCOMPARE(sName, u"frmEmail"_s);
    }
};

QTEST_MAIN(TestFrmSettings)
#include "test_frmsettings.moc"
