#include "ui/colours.h"

#include <QTest>

namespace {

// The light palette most desktops ship and a dark one as dark themes have it.
QPalette Palette(const QColor &window, const QColor &base)
{
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::Base, base);
    return p;
}

} // namespace

class TestColours : public QObject
{
    Q_OBJECT

private slots:
    void contrastIsMeasuredAsWcagDoes()
    {
        QCOMPARE(qRound(ContrastRatio(Qt::black, Qt::white) * 100), 2100);
        QCOMPARE(qRound(ContrastRatio(Qt::white, Qt::black) * 100), 2100);
        QCOMPARE(qRound(ContrastRatio(QColor(0x77, 0x77, 0x77), Qt::white) * 100), 448);
        QCOMPARE(qRound(ContrastRatio(QColor(0x12, 0x34, 0x56), QColor(0x12, 0x34, 0x56)) * 100), 100);
        // The fixed colours used before, on a dark list: too faint.
        QCOMPARE(qRound(ContrastRatio(QColor(0, 128, 0), QColor(0x2a, 0x2a, 0x2a)) * 10), 28);
        QCOMPARE(qRound(ContrastRatio(QColor(255, 0, 0), QColor(0x2a, 0x2a, 0x2a)) * 10), 36);
    }

    void statusColoursReadOnLightAndDarkPalettes_data()
    {
        QTest::addColumn<QColor>("window");
        QTest::addColumn<QColor>("base");
        QTest::newRow("light") << QColor(0xef, 0xef, 0xef) << QColor(0xff, 0xff, 0xff);
        QTest::newRow("dark") << QColor(0x35, 0x35, 0x35) << QColor(0x2a, 0x2a, 0x2a);
        QTest::newRow("black") << QColor(0, 0, 0) << QColor(0, 0, 0);
        QTest::newRow("grey") << QColor(0x80, 0x80, 0x80) << QColor(0x99, 0x99, 0x99);
        QTest::newRow("cream") << QColor(0xf6, 0xf1, 0xdc) << QColor(0xff, 0xfb, 0xe8);
        QTest::newRow("navy") << QColor(0x1b, 0x1f, 0x3a) << QColor(0x10, 0x14, 0x30);
    }

    void statusColoursReadOnLightAndDarkPalettes()
    {
        QFETCH(QColor, window);
        QFETCH(QColor, base);
        const QPalette palette = Palette(window, base);
        for (const auto role : { QPalette::Window, QPalette::Base }) {
            const QColor background = palette.color(role);
            const QColor success = StatusColour(true, palette, role);
            const QColor failure = StatusColour(false, palette, role);
            QVERIFY2(ContrastRatio(success, background) >= 4.5, qPrintable(success.name()));
            QVERIFY2(ContrastRatio(failure, background) >= 4.5, qPrintable(failure.name()));
            // Still green and red, and told apart by more than lightness.
            QCOMPARE(success.hslHue(), 120);
            QCOMPARE(failure.hslHue(), 0);
            QVERIFY(success.green() > success.red());
            QVERIFY(failure.red() > failure.green());
        }
    }

    void shadesAreTheFirstThatRead()
    {
        const QPalette palette = Palette(QColor(0xef, 0xef, 0xef), Qt::white);
        QCOMPARE(StatusColour(true, palette).name(), QStringLiteral("#008800"));
        QCOMPARE(StatusColour(false, palette).name(), QStringLiteral("#e80000"));
        const QPalette dark = Palette(QColor(0x35, 0x35, 0x35), QColor(0x2a, 0x2a, 0x2a));
        QCOMPARE(StatusColour(true, dark).name(), QStringLiteral("#00a800"));
        QCOMPARE(StatusColour(false, dark).name(), QStringLiteral("#ff5959"));
    }
};

QTEST_MAIN(TestColours)
#include "test_colours.moc"
