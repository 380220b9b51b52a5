#include "core/regutils.h"
#include "support/testenv.h"
#include "ui/formpos.h"

#include <QButtonGroup>
#include <QDialog>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

class TestFormPos : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The offscreen platform's one screen.
        QCOMPARE(QGuiApplication::primaryScreen()->virtualGeometry(), QRect(0, 0, 800, 800));
    }

    void maximizedWindowReopensMaximized()
    {
        bwtest::TestSandbox sandbox;
        {
            TParams params(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
            QWidget form;
            form.setObjectName(QStringLiteral("frmMain"));
            form.resize(300, 200);
            form.move(40, 50);
            form.show();
            form.setWindowState(Qt::WindowMaximized);
            QTRY_VERIFY(form.isMaximized());
            SaveFormPos(params, &form);
            QCOMPARE(params.GetInt(QStringLiteral("frmMain Window State"), -1), 2);
            QCOMPARE(params.GetInt(QStringLiteral("frmMain Width"), -1), 300);
        }
        TParams params(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        QWidget form;
        form.setObjectName(QStringLiteral("frmMain"));
        LoadFormPos(params, &form);
        form.show();
        QTRY_VERIFY(form.isMaximized());
        form.setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(form.size(), QSize(300, 200));
    }

    void windowIsKeptWholeOnTheScreen()
    {
        bwtest::TestSandbox sandbox;
        TParams params(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        params.SetInt(QStringLiteral("frmLog Left"), -500);
        params.SetInt(QStringLiteral("frmLog Top"), 780);
        params.SetInt(QStringLiteral("frmLog Width"), 200);
        params.SetInt(QStringLiteral("frmLog Height"), 100);
        QWidget form;
        form.setObjectName(QStringLiteral("frmLog"));
        // Made as show() makes it before the window restores its place: the
        // offscreen platform then gives it a 2-pixel frame.
        form.winId();
        QCOMPARE(form.windowHandle()->frameMargins(), QMargins(2, 2, 2, 2));
        LoadFormPos(params, &form);
        QCOMPARE(form.geometry(), QRect(2, 698, 200, 100));

        params.SetInt(QStringLiteral("frmLog Left"), 700);
        LoadFormPos(params, &form);
        QCOMPARE(form.geometry().x(), 598);
        QCOMPARE(params.GetInt(QStringLiteral("frmLog Window State"), -1), -1);

        // Larger than the screen: shrunk to fit, frame and all.
        params.SetInt(QStringLiteral("frmLog Width"), 3000);
        params.SetInt(QStringLiteral("frmLog Height"), 900);
        LoadFormPos(params, &form);
        QCOMPARE(form.geometry(), QRect(2, 2, 796, 796));
    }

    void absentValuesCentreTheWindow()
    {
        bwtest::TestSandbox sandbox;
        TParams params(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        QWidget form;
        form.setObjectName(QStringLiteral("frmAbout"));
        form.resize(201, 101);
        LoadFormPos(params, &form);
        const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
        QCOMPARE(form.pos(), QPoint((available.width() - 201) / 2, (available.height() - 101) / 2));
        QCOMPARE(form.size(), QSize(201, 101));
    }

    void fixedSizeWindowKeepsItsSize()
    {
        bwtest::TestSandbox sandbox;
        TParams params(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        params.SetInt(QStringLiteral("frmSettings Width"), 700);
        params.SetInt(QStringLiteral("frmSettings Height"), 500);
        params.SetInt(QStringLiteral("frmSettings Left"), 10);
        QDialog form;
        form.setObjectName(QStringLiteral("frmSettings"));
        form.setFixedSize(320, 240);
        LoadFormPos(params, &form);
        QCOMPARE(form.size(), QSize(320, 240));
        QCOMPARE(form.x(), 10);

        form.move(30, 20);
        SaveFormPos(params, &form);
        QCOMPARE(params.GetInt(QStringLiteral("frmSettings Left"), -1), 30);
        QCOMPARE(params.GetInt(QStringLiteral("frmSettings Width"), -1), 700);

        // A dialog whose layout fixes its size counts as fixed too.
        QDialog sized;
        sized.setObjectName(QStringLiteral("frmSettings"));
        auto *layout = new QVBoxLayout(&sized);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        layout->addWidget(new QRadioButton(QStringLiteral("x")));
        sized.resize(150, 90);
        LoadFormPos(params, &sized);
        QVERIFY(sized.width() != 700);
    }

    void radioIndexRoundTrips()
    {
        bwtest::TestSandbox sandbox;
        TParams params(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        QWidget host;
        QButtonGroup group;
        group.setObjectName(QStringLiteral("rgRetention"));
        QList<QRadioButton *> buttons;
        for (int i = 0; i < 3; ++i) {
            buttons << new QRadioButton(&host);
            group.addButton(buttons.last());
        }
        buttons[1]->setChecked(true);
        LoadRadioIndex(params, &group); // absent: stays as it is
        QVERIFY(buttons[1]->isChecked());
        buttons[2]->setChecked(true);
        SaveRadioIndex(params, &group);
        QCOMPARE(params.GetInt(QStringLiteral("rgRetention Index"), -1), 2);
        buttons[0]->setChecked(true);
        LoadRadioIndex(params, &group);
        QVERIFY(buttons[2]->isChecked());
        params.SetInt(QStringLiteral("rgRetention Index"), 9);
        LoadRadioIndex(params, &group);
        QVERIFY(buttons[2]->isChecked());
    }
};

QTEST_MAIN(TestFormPos)
#include "test_formpos.moc"
