#include "core/settings.h"
#include "projects/project.h"
#include "ui/frmfileadd.h"
#include "ui/frmsendeditor.h"
#include "ui/help.h"
#include "ui/windowkit.h"
#include "uitest.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>

using namespace Qt::StringLiterals;

class TestWindowKit : public QObject
{
    Q_OBJECT

    std::unique_ptr<bwtest::UiFixture> FFx;

    static bool showHint(QWidget *widget)
    {
        // Hiding takes a moment.
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000))
            return true;
        QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(widget, &event);
        return QToolTip::isVisible();
    }

    // Every input of the window has a label that names it as its buddy and
    // carries an access key; returns the inputs without one.
    static QStringList inputsWithoutLabel(QWidget &window)
    {
        QList<QWidget *> inputs;
        for (QWidget *w : window.findChildren<QWidget *>())
            if (qobject_cast<QLineEdit *>(w) || qobject_cast<QPlainTextEdit *>(w)
                || qobject_cast<QComboBox *>(w))
                inputs.append(w);
        const QList<QLabel *> labels = window.findChildren<QLabel *>();
        QStringList missing;
        for (QWidget *input : std::as_const(inputs)) {
            if (input->objectName().isEmpty() && qobject_cast<QLineEdit *>(input)
                && qobject_cast<QComboBox *>(input->parentWidget()))
                continue; // the combo box's own edit
            const bool bLabelled = std::any_of(labels.begin(), labels.end(), [input](QLabel *label) {
                return label->buddy() == input && label->text().contains(QLatin1Char('&'));
            });
            if (!bLabelled)
                missing.append(input->objectName());
        }
        return missing;
    }

private slots:
    void init() { FFx = std::make_unique<bwtest::UiFixture>(); }
    void cleanup()
    {
        QToolTip::hideText();
        FFx.reset();
    }

    void hintsShowAsBalloonsWhileTheSettingIsOn()
    {
        QCOMPARE(THints::Html(u"Folder|Select a <folder> to\r\nsearch.\r\n"_s),
                 u"<qt><b>Folder</b><br>Select a &lt;folder&gt; to<br>search.</qt>"_s);
        QCOMPARE(THints::Html(u"no title"_s), u"<qt>no title</qt>"_s);

        QWidget window;
        window.resize(200, 100);
        auto *edit = new QLineEdit(&window);
        THints::SetHint(edit, u"Title|Body\r\n"_s);
        auto *slow = new QLineEdit(&window);
        slow->move(0, 40);
        THints::SetHint(slow, u"Slow|Stays long"_s, kProjectEditorHintTime);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(THints::Hint(edit), u"Title|Body\r\n"_s);
        QCOMPARE(edit->accessibleDescription(), u"Body"_s);

        QVERIFY(showHint(edit));
        QCOMPARE(QToolTip::text(), u"<qt><b>Title</b><br>Body</qt>"_s);
        QVERIFY(showHint(slow));
        QCOMPARE(QToolTip::text(), u"<qt><b>Slow</b><br>Stays long</qt>"_s);

        // Turned off in the settings: the open window follows at once.
        SetSetting(u"Show hints"_s, u"0"_s);
        QVERIFY(!showHint(edit));
        SetSetting(u"Show hints"_s, u"1"_s);
        QVERIFY(showHint(edit));
        SetSetting(u"Show hints"_s, u""_s);
        QVERIFY(showHint(edit));
    }

    void dialogsGiveEveryInputALabelAndEveryHintItsText()
    {
        FFx->db->ExecSQL(u"INSERT INTO projects (type, title) VALUES (0, 'Tool')"_s);
        TProjectGeneric parser(int(FFx->db->LastInsertRowID()), u"Tool"_s, QString());
        TfrmFileAdd add(&parser);
        // The exclusion field reads as the end of the check box caption
        // before it, which keeps its access key.
        QCOMPARE(inputsWithoutLabel(add), QStringList({ u"edExclude"_s }));
        QCOMPARE(add.findChild<QWidget *>(u"edExclude"_s)->accessibleName(), u"Excluded subdirectories"_s);
        QCOMPARE(THints::Hint(add.findChild<QWidget *>(u"edFolder"_s)),
                 u"Folder|Select a folder to search for files matching the\r\nentered mask property.\r\n"_s);
        QVERIFY(THints::Hint(add.findChild<QWidget *>(u"edMask"_s)).endsWith(u"files.\r\n\r\n "_s));

        TfrmSendEditor send(0, 1, u"Tool"_s);
        QCOMPARE(inputsWithoutLabel(send), QStringList());
        const QString sZipHint = THints::Hint(send.findChild<QWidget *>(u"edFTPZipPassword"_s));
        QVERIFY(sZipHint.startsWith(u"Zip file password|If you want to password protect the \r\n"_s));
        QCOMPARE(THints::Hint(send.findChild<QWidget *>(u"edEmailZipPassword"_s)), sZipHint);
        QCOMPARE(THints::Hint(send.findChild<QWidget *>(u"edFTPLogin"_s)),
                 u"FTP login|The username required to log into this FTP server.\r\n"_s);
        QCOMPARE(send.findChild<QLabel *>(u"lblFTPHost"_s)->text(), u"FTP &host"_s);
        QCOMPARE(send.findChild<QTabWidget *>(u"pgMethod"_s)->tabText(2), u"FTP"_s);
    }

    void f1OpensTheHelpTopic()
    {
        TfrmSendEditor send(0, 1, u"Tool"_s);
        send.show();
        QVERIFY(QTest::qWaitForWindowActive(&send));
        send.findChild<QTabWidget *>(u"pgMethod"_s)->setCurrentIndex(1);
        QTest::keyClick(&send, Qt::Key_F1);
        TfrmHelp *help = TfrmHelp::Current();
        QVERIFY(help);
        QCOMPARE(help->Source().fileName(), u"send-editor.html"_s);
        QCOMPARE(help->Source().fragment(), u"file"_s);
        help->close();
    }

    void positionIsRememberedByName()
    {
        {
            TfrmSendEditor send(0, 1, QString());
            send.show();
            send.move(40, 60);
            send.resize(600, 450);
            QTRY_COMPARE(send.pos(), QPoint(40, 60));
            send.hide();
        }
        // The contents' left edge: the offscreen platform's frame is 2 pixels.
        QCOMPARE(Params->GetInt(u"frmSendEditor Left"_s, -1), 42);
        QCOMPARE(Params->GetInt(u"frmSendEditor Width"_s, -1), 600);
        TfrmSendEditor send(0, 1, QString());
        send.show();
        QCOMPARE(send.size(), QSize(600, 450));
    }

    void inputBoxIsScripted()
    {
        QString sValue = u"old"_s;
        TDialogs::PushInput(u"new 'value'"_s);
        QVERIFY(TDialogs::InputQuery(nullptr, u"Settings"_s, u"Value:"_s, sValue));
        QCOMPARE(sValue, u"new 'value'"_s);
        TDialogs::PushInputCancel();
        QVERIFY(!TDialogs::InputQuery(nullptr, u"Settings"_s, u"Value:"_s, sValue));
        QVERIFY(!TDialogs::InputQuery(nullptr, u"Settings"_s, u"Again:"_s, sValue, true));
        QCOMPARE(sValue, u"new 'value'"_s);
        QCOMPARE(bwtest::ShownTexts(u"input"_s), QStringList({ u"Value:"_s, u"Value:"_s, u"Again:"_s }));
    }
};

QTEST_MAIN(TestWindowKit)
#include "test_windowkit.moc"
