#include "ui/linklabel.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

class TestTLinkLabel : public QObject
{
    Q_OBJECT

private slots:
    void screenReadersSeeAButtonWithAPressAction()
    {
        QWidget window;
        auto *label = new TLinkLabel(QStringLiteral("Save log"), &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy clicks(label, &TLinkLabel::clicked);

        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::Button);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Save log"));
        QVERIFY(iface->state().focusable);
        QAccessibleActionInterface *actions = iface->actionInterface();
        QVERIFY(actions);
        QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(clicks.count(), 1);

        label->setEnabled(false);
        QVERIFY(iface->state().disabled);
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(clicks.count(), 1);

        // An accessible name set on purpose wins over the text.
        label->setAccessibleName(QStringLiteral("Save the log to a file"));
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Save the log to a file"));
    }

    void focusShowsAFrameAndKeysClick()
    {
        QWidget window;
        auto *edit = new QLineEdit(&window);
        auto *label = new TLinkLabel(QStringLiteral("Add"), &window);
        auto *layout = new QHBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(label);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        const QImage plain = label->grab().toImage();

        QTest::keyClick(edit, Qt::Key_Tab);
        QTRY_VERIFY(label->hasFocus());
        const QImage focused = label->grab().toImage();
        QVERIFY(plain != focused);
        // The frame is drawn at the edge, around the text.
        bool bEdgeChanged = false;
        for (int x = 0; x < plain.width(); ++x)
            if (plain.pixel(x, 0) != focused.pixel(x, 0))
                bEdgeChanged = true;
        QVERIFY(bEdgeChanged);

        QSignalSpy clicks(label, &TLinkLabel::clicked);
        QTest::keyClick(label, Qt::Key_Space);
        QTest::keyClick(label, Qt::Key_Return);
        QCOMPARE(clicks.count(), 2);

        QTest::keyClick(label, Qt::Key_Tab);
        QTRY_VERIFY(!label->hasFocus());
        QCOMPARE(label->grab().toImage(), plain);
    }
};

QTEST_MAIN(TestTLinkLabel)
#include "test_linklabel.moc"
