// Renders every dialog of the window kit (and every page of the send editor)
// to PNG files, so that the windows can be looked at without a desktop.
// Run through scripts/screenshots.sh; not part of the program.
//
//   bw_screenshots OUTPUT_FOLDER [--dark] [--font-scale FACTOR]

#include "core/settings.h"
#include "delivery/sendtasks.h"
#include "network/hostkeytrust.h"
#include "projects/project.h"
#include "support/servers.h"
#include "ui/frmabout.h"
#include "ui/frmemail.h"
#include "ui/frmerror.h"
#include "ui/frmfileadd.h"
#include "ui/frmftptest.h"
#include "ui/frmgenerate.h"
#include "ui/frmlog.h"
#include "ui/frmmain.h"
#include "ui/frmprojecteditor.h"
#include "ui/frmquick.h"
#include "ui/frmquicksend.h"
#include "ui/frmsendeditor.h"
#include "ui/frmsettings.h"
#include "ui/help.h"
#include "uitest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>
#include <cstdio>

namespace {

QPalette DarkPalette()
{
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230), disabled(127, 127, 127);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(90, 170, 255));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Light, QColor(70, 70, 74));
    p.setColor(QPalette::Midlight, QColor(60, 60, 64));
    p.setColor(QPalette::Mid, QColor(35, 35, 38));
    p.setColor(QPalette::Dark, QColor(25, 25, 27));
    p.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

bool Save(QWidget &window, const QString &sFolder, const QString &sName)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    // Fields shown or hidden since the last picture: lay out first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QString sFile = sFolder + QLatin1Char('/') + sName + QStringLiteral(".png");
    const bool bSaved = window.grab().save(sFile);
    std::printf("%s %s\n", bSaved ? "wrote" : "FAILED", qPrintable(sFile));
    return bSaved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bw_screenshots OUTPUT_FOLDER [--dark] [--font-scale FACTOR]\n");
        return 2;
    }
    const QString sOut = QDir(args.at(1)).absolutePath();
    QDir().mkpath(sOut);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (args.contains(QStringLiteral("--dark")))
        QApplication::setPalette(DarkPalette());
    const qsizetype scaleAt = args.indexOf(QStringLiteral("--font-scale"));
    if (scaleAt > 0 && scaleAt + 1 < args.size()) {
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * args.at(scaleAt + 1).toDouble());
        QApplication::setFont(font);
    }

    bwtest::UiFixture fx;
    SetSetting(QStringLiteral("FTP host"), QStringLiteral("ftp.example.com"));
    for (const char *name : { "src/main.cpp", "src/util.cpp", "src/util.h", "src/sub/deep.cpp" })
        fx.sandbox->writeFile(QString::fromLatin1(name), "x");
    bool bOk = true;
    {
        // Before any project: the start panel.
        TfrmMain frm;
        frm.resize(620, 420);
        frm.show();
        bOk &= QTest::qWaitFor([&] { return frm.Filled(); }, 10000);
        bOk &= Save(frm, sOut, QStringLiteral("main-window-empty"));
    }
    fx.db->ExecSQL(QStringLiteral("INSERT INTO projects (type, title) VALUES (0, 'Sample project')"));
    const int iProject = int(fx.db->LastInsertRowID());

    {
        TfrmSendEditor frm(0, iProject, QStringLiteral("Sample project"));
        auto *pg = frm.findChild<QTabWidget *>(QStringLiteral("pgMethod"));
        frm.findChild<QLineEdit *>(QStringLiteral("edEmailRecipient"))
            ->setText(QStringLiteral("client@example.com"));
        frm.findChild<QLineEdit *>(QStringLiteral("edEmailZipPassword"))->setText(QStringLiteral("secret"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFileFolder"))
            ->setText(QStringLiteral("/srv/drops/client"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPHost"))->setText(QStringLiteral("ftp.example.com"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPLogin"))->setText(QStringLiteral("anna"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPPassword"))->setText(QStringLiteral("password"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPDirectory"))->setText(QStringLiteral("/incoming"));
        bOk &= Save(frm, sOut, QStringLiteral("send-editor-email"));
        frm.findChild<QCheckBox *>(QStringLiteral("cbEmailFTP"))->click();
        frm.findChild<QComboBox *>(QStringLiteral("cbEmailRetain"))->setCurrentIndex(1);
        bOk &= Save(frm, sOut, QStringLiteral("send-editor-email-link"));
        pg->setCurrentIndex(1);
        bOk &= Save(frm, sOut, QStringLiteral("send-editor-file"));
        pg->setCurrentIndex(2);
        bOk &= Save(frm, sOut, QStringLiteral("send-editor-ftp"));
    }
    {
        const int iTask = [&] {
            fx.db->ExecSQLFmt(
                QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (%d, 1, '')"),
                { iProject });
            return int(fx.db->LastInsertRowID());
        }();
        SetSendParam(iTask, QStringLiteral("FileFolder"), QStringLiteral("/srv/drops/client"));
        TfrmSendEditor frm(iTask, iProject, QStringLiteral("Sample project"));
        bOk &= Save(frm, sOut, QStringLiteral("send-editor-existing-file"));
    }
    {
        TProjectGeneric parser(iProject, QStringLiteral("Sample project"), QString());
        TfrmFileAdd frm(&parser);
        bOk &= Save(frm, sOut, QStringLiteral("file-add-empty"));
        frm.SetCountDelay(0);
        frm.findChild<QLineEdit *>(QStringLiteral("edFolder"))
            ->setText(fx.sandbox->root() + QStringLiteral("/src"));
        frm.findChild<QLineEdit *>(QStringLiteral("edMask"))->setText(QStringLiteral("*.cpp;*.h"));
        frm.findChild<QCheckBox *>(QStringLiteral("cbRecurse"))->setChecked(true);
        frm.findChild<QLineEdit *>(QStringLiteral("edExclude"))->setText(QStringLiteral(".git;__history"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFolder"))
            ->setText(fx.sandbox->root() + QStringLiteral("/src/"));
        if (!QTest::qWaitFor([&] { return frm.FolderCount() > 0; }, 5000))
            bOk = false;
        bOk &= Save(frm, sOut, QStringLiteral("file-add-folder"));
    }
    {
        // The main window with a few projects: one to deliver, one already
        // delivered, one without send tasks, a Delphi project whose file is
        // gone (it carries the warning mark).
        fx.db->ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                          { iProject, fx.sandbox->root() + QStringLiteral("/src/*.cpp;*.h -r") });
        const auto addProject = [&](int iKind, const QString &sTitle, const QString &sFile) {
            fx.db->ExecSQLFmt(
                QStringLiteral("INSERT INTO projects (type, title, filename) VALUES (%d, '%s', '%s')"),
                { iKind, sTitle, sFile });
            return int(fx.db->LastInsertRowID());
        };
        const int iTools = addProject(0, QStringLiteral("Build tools"), QString());
        fx.db->ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                          { iTools, fx.sandbox->root() + QStringLiteral("/src/util.h") });
        addProject(1, QStringLiteral("Invoice client"),
                   fx.sandbox->root() + QStringLiteral("/gone/invoice.dpr"));
        const int iDone = addProject(0, QStringLiteral("Archive viewer"), QString());
        fx.db->ExecSQLFmt(QStringLiteral("INSERT INTO files (id_projects, filename) VALUES (%d, '%s')"),
                          { iDone, fx.sandbox->root() + QStringLiteral("/src/main.cpp") });
        fx.db->ExecSQLFmt(
            QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (%d, 1, '')"),
            { iDone });
        fx.db->ExecSQLFmt(QStringLiteral("UPDATE projects SET senddate = 99999 WHERE id = %d"), { iDone });
        // Last deliveries: one that went, one that failed.
        fx.db->ExecSQL(QStringLiteral(
            "INSERT INTO log (success, source, filename, files, method, destination, modified, log) VALUES "
            "(1, 1, 'Archiveviewer_1.0.0.zip', 1, 1, '/srv/drops', '2026-03-11 10:00:00', ''), "
            "(0, 1, 'Invoiceclient_2.1.0.zip', 3, 2, 'ftp.example.com', '2026-03-12 10:00:00', "
            "'FTP failed: 530 Login incorrect.')"));
        TfrmMain frm;
        frm.resize(620, 420);
        frm.show();
        if (!QTest::qWaitFor([&] { return frm.Filled(); }, 10000))
            bOk = false;
        frm.findChild<QListWidget *>(QStringLiteral("listProjects"))->setCurrentRow(1);
        bOk &= Save(frm, sOut, QStringLiteral("main-window"));
    }
    {
        const QString sOutFolder = fx.sandbox->root() + QStringLiteral("/out");
        QDir().mkpath(sOutFolder);
        auto parser = CreateProject(0, iProject, QStringLiteral("Sample project"), QString());
        parser->Parse();
        TfrmProjectEditor frm(parser.get());
        auto *pg = frm.findChild<QTabWidget *>(QStringLiteral("pgProject"));
        bOk &= Save(frm, sOut, QStringLiteral("project-editor-project"));
        pg->setCurrentIndex(1);
        bOk &= Save(frm, sOut, QStringLiteral("project-editor-files-all"));
        frm.ShowAddedFiles();
        bOk &= QTest::qWaitFor([&] { return !frm.Counting(); }, 10000);
        bOk &= Save(frm, sOut, QStringLiteral("project-editor-files-added"));
        pg->setCurrentIndex(2);
        bOk &= Save(frm, sOut, QStringLiteral("project-editor-send"));
    }
    {
        TfrmProjectEditor frm(nullptr);
        bOk &= Save(frm, sOut, QStringLiteral("project-editor-new"));
    }
    {
        TfrmAbout frm;
        bOk &= Save(frm, sOut, QStringLiteral("about"));
    }
    {
        // The delivery window after a run into a folder.
        const QString sOutFolder = fx.sandbox->root() + QStringLiteral("/delivered");
        QDir().mkpath(sOutFolder);
        // Only this task, so that the picture shows a clean run.
        fx.db->ExecSQL(QStringLiteral("DELETE FROM sendparams"));
        fx.db->ExecSQL(QStringLiteral("DELETE FROM send"));
        fx.db->ExecSQLFmt(
            QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (%d, 1, '')"),
            { iProject });
        SetSendParam(int(fx.db->LastInsertRowID()), QStringLiteral("FileFolder"), sOutFolder);
        auto parser = CreateProject(0, iProject, QStringLiteral("Sample project"), QString());
        parser->Parse();
        TfrmGenerate frm({ parser.get() });
        frm.resize(560, 360);
        frm.show();
        if (!QTest::qWaitFor([&] { return frm.CanClose(); }, 30000))
            bOk = false;
        bOk &= Save(frm, sOut, QStringLiteral("delivery-window"));
    }
    {
        fx.db->ExecSQL(QStringLiteral(
            "INSERT INTO log (success, source, filename, files, method, destination, modified) VALUES "
            "(1, 1, 'Sample project_1.2.3.zip', 42, 0, 'client@example.com', '2026-03-09 14:30:05'), "
            "(0, 1, 'Sample project_1.2.3.zip', 42, 2, 'ftp.example.com', '2026-03-09 14:31:10'), "
            "(1, 2, 'notes.txt', 1, 1, '/srv/drops/client', '2026-03-10 09:02:44'), "
            "(1, 1, 'Bob''s Tool_2.0.0.zip', 7, 1, '/srv/drops/bob, archive', '2026-03-11 17:45:00'), "
            "(1, 2, 'screens.zip', 12, 0, 'team@example.org', '2026-03-12 08:15:31')"));
        TfrmLog frm;
        bOk &= Save(frm, sOut, QStringLiteral("log"));
    }
    {
        AppDataDir = fx.sandbox->root() + QStringLiteral("/data/bundlewick/");
        TfrmError frm;
        frm.SetError(QStringLiteral("Failed to open database \"/home/ann/.local/share/bundlewick/"
                                    "bundlewick.sqlite\" : database disk image is malformed"));
        bOk &= Save(frm, sOut, QStringLiteral("error"));
    }
    {
        TfrmHelp frm;
        frm.ShowTopic(28);
        bOk &= Save(frm, sOut, QStringLiteral("help"));
    }
    {
        // The settings dialog, each tab, and a run of the FTP test against
        // local servers.
        const QString sHome = fx.sandbox->path(QStringLiteral("ftphome"));
        QDir().mkpath(sHome);
        bwtest::FtpServer ftp(QStringLiteral("stage"), QStringLiteral("pa55"), sHome);
        bwtest::HttpServer http(sHome);
        TfrmSettings frm;
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPHost"))->setText(ftp.host());
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPLogin"))->setText(QStringLiteral("stage"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPPassword"))->setText(QStringLiteral("pa55"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPHttpPath"))->setText(http.url(QString()));
        frm.findChild<QLineEdit *>(QStringLiteral("edEmailServer"))
            ->setText(QStringLiteral("smtp.example.com"));
        frm.findChild<QSpinBox *>(QStringLiteral("spinEmailPort"))->setValue(587);
        frm.findChild<QCheckBox *>(QStringLiteral("cbEmailLogin"))->setChecked(true);
        frm.findChild<QLineEdit *>(QStringLiteral("edEmailUsername"))->setText(QStringLiteral("ann"));
        frm.findChild<QLineEdit *>(QStringLiteral("edEmailPassword"))->setText(QStringLiteral("secret"));
        frm.findChild<QLineEdit *>(QStringLiteral("edEmailFrom"))->setText(QStringLiteral("ann@example.com"));
        auto *pg = frm.findChild<QTabWidget *>(QStringLiteral("pgSettings"));
        pg->setCurrentIndex(0);
        bOk &= Save(frm, sOut, QStringLiteral("settings-ftp"));
        pg->setCurrentIndex(1);
        bOk &= Save(frm, sOut, QStringLiteral("settings-general"));
        pg->setCurrentIndex(2);
        bOk &= Save(frm, sOut, QStringLiteral("settings-smtp"));
        frm.findChild<QLineEdit *>(QStringLiteral("edS3Endpoint"))
            ->setText(QStringLiteral("https://s3.eu-central-1.amazonaws.com"));
        frm.findChild<QLineEdit *>(QStringLiteral("edS3Region"))->setText(QStringLiteral("eu-central-1"));
        frm.findChild<QLineEdit *>(QStringLiteral("edS3Bucket"))->setText(QStringLiteral("drops"));
        frm.findChild<QLineEdit *>(QStringLiteral("edS3Prefix"))->setText(QStringLiteral("links/"));
        frm.findChild<QLineEdit *>(QStringLiteral("edS3AccessKeyId"))->setText(QStringLiteral("AKIAEXAMPLE"));
        frm.findChild<QLineEdit *>(QStringLiteral("edS3SecretKey"))->setText(QStringLiteral("secret"));
        pg->setCurrentIndex(3);
        bOk &= Save(frm, sOut, QStringLiteral("settings-s3"));
        TfrmFTPTest test(&frm);
        test.show();
        bOk &= QTest::qWaitFor([&] { return test.Finished(); }, 60000);
        bOk &= Save(test, sOut, QStringLiteral("ftp-test"));
        frm.reject();
    }
    {
        // The host key offer as TDialogs shows it, and the changed-key warning.
        TSshHostKey key;
        key.Host = QStringLiteral("files.example.com");
        key.Port = 2222;
        const QByteArray type("ssh-ed25519");
        const auto put = [&key](const QByteArray &field) {
            const quint32 n = quint32(field.size());
            key.Blob += char(n >> 24), key.Blob += char(n >> 16), key.Blob += char(n >> 8),
                key.Blob += char(n);
            key.Blob += field;
        };
        put(type);
        put(QByteArray(32, '\x5a'));
        const THostKeyOffer offer(key, fx.sandbox->root() + QStringLiteral("/home/.ssh/known_hosts"));
        QMessageBox question(QMessageBox::Question, THostKeyOffer::Title(), offer.Question(),
                             QMessageBox::Yes | QMessageBox::No);
        question.setDefaultButton(QMessageBox::No);
        bOk &= Save(question, sOut, QStringLiteral("host-key-question"));
        key.Changed = true;
        QMessageBox warning(QMessageBox::Warning, THostKeyOffer::Title(),
                            THostKeyOffer(key, fx.sandbox->root() + QStringLiteral("/home/.ssh/known_hosts"))
                                .ChangedWarning());
        bOk &= Save(warning, sOut, QStringLiteral("host-key-changed"));
    }
    {
        TfrmEmail frm(nullptr, QStringLiteral("support@example.org"));
        bOk &= Save(frm, sOut, QStringLiteral("support-email-not-set"));
    }
    {
        // Quick send: two files of the same name, each page, and the
        // progress window after a success and after a failure.
        const QStringList files { fx.sandbox->writeFile(QStringLiteral("drop/notes.txt"), "1"),
                                  fx.sandbox->writeFile(QStringLiteral("drop/old/notes.txt"), "2"),
                                  fx.sandbox->writeFile(QStringLiteral("drop/screen shot.png"), "3") };
        const QString sFolder = fx.sandbox->root() + QStringLiteral("/quick");
        QDir().mkpath(sFolder);
        TfrmQuick frm(files);
        frm.findChild<QComboBox *>(QStringLiteral("cbEmailRecipient"))
            ->setEditText(QStringLiteral("client@example.com"));
        frm.findChild<QLineEdit *>(QStringLiteral("edPassword"))->setText(QStringLiteral("secret"));
        bOk &= Save(frm, sOut, QStringLiteral("quick-send-email"));
        frm.findChild<QCheckBox *>(QStringLiteral("cbEmailFTP"))->click();
        bOk &= Save(frm, sOut, QStringLiteral("quick-send-email-link"));
        auto *pg = frm.findChild<QTabWidget *>(QStringLiteral("pgSend"));
        pg->setCurrentIndex(1);
        frm.findChild<QLineEdit *>(QStringLiteral("edFileFolder"))->setText(sFolder);
        bOk &= Save(frm, sOut, QStringLiteral("quick-send-file"));
        pg->setCurrentIndex(2);
        frm.findChild<QComboBox *>(QStringLiteral("cbFTPHost"))
            ->setEditText(QStringLiteral("ftp.example.com"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPLogin"))->setText(QStringLiteral("anna"));
        frm.findChild<QLineEdit *>(QStringLiteral("edFTPPassword"))->setText(QStringLiteral("password"));
        bOk &= Save(frm, sOut, QStringLiteral("quick-send-ftp"));
        frm.findChild<QListWidget *>(QStringLiteral("listFiles"))->item(1)->setCheckState(Qt::Unchecked);
        frm.findChild<QListWidget *>(QStringLiteral("listFiles"))->item(2)->setCheckState(Qt::Unchecked);
        bOk &= Save(frm, sOut, QStringLiteral("quick-send-one-file"));

        {
            // A remembered recipient's suggestion that brings a password.
            fx.db->ExecSQLFmt(
                QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (%d, 0, 'secret')"),
                { iProject });
            SetSendParam(int(fx.db->LastInsertRowID()), QStringLiteral("EmailRecipient"),
                         QStringLiteral("client@example.com"));
            TfrmQuick picked(files);
            picked.show();
            auto *combo = picked.findChild<QComboBox *>(QStringLiteral("cbEmailRecipient"));
            QTest::keyClicks(combo->lineEdit(), QStringLiteral("client"));
            combo->setCurrentIndex(0);
            QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
            bOk &= Save(picked, sOut, QStringLiteral("quick-send-password-from-task"));
        }

        TQuickSendOrder order = frm.Order();
        order.Files = files;
        order.Page = 1;
        order.Folder = sFolder;
        {
            TfrmQuickSend send(order);
            send.show();
            bOk &= QTest::qWaitFor([&] { return send.Done(); }, 30000);
            bOk &= Save(send, sOut, QStringLiteral("quick-send-progress-done"));
        }
        order.Folder = fx.sandbox->root() + QStringLiteral("/no such folder");
        {
            TfrmQuickSend send(order);
            send.show();
            bOk &= QTest::qWaitFor([&] { return send.Done(); }, 30000);
            bOk &= Save(send, sOut, QStringLiteral("quick-send-progress-failed"));
        }
    }
    return bOk ? 0 : 1;
}
