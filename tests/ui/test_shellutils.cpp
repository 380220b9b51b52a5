#include "support/testenv.h"
#include "support/urlcatcher.h"
#include "ui/shellutils.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QTest>
#include <QUrl>
#include <QWidget>

using namespace Qt::StringLiterals;

using bwtest::UrlCatcher;

class TestShellUtils : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        FCatcher.urls.clear();
        for (const char *scheme : { "http", "mailto", "file" })
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &FCatcher, "open");
        QGuiApplication::clipboard()->setText(u"untouched"_s);
    }

    void cleanup()
    {
        for (const char *scheme : { "http", "mailto", "file" })
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    void openUrl()
    {
        QVERIFY(!OpenURL(u"  "_s));
        QVERIFY(OpenURL(u" example.com/a "_s));
        QVERIFY(OpenURL(u"HTTP://Example.com/b"_s));
        QCOMPARE(FCatcher.urls, (QStringList { u"http://example.com/a"_s, u"http://example.com/b"_s }));
        QCOMPARE(QGuiApplication::clipboard()->text(), u"untouched"_s);

        // No handler for the scheme: the address goes to the clipboard. Only
        // the offscreen platform is sure to have no desktop to hand it to.
        if (QGuiApplication::platformName() != u"offscreen"_s)
            return;
        QVERIFY(!OpenURL(u"ftp://example.com/c"_s));
        QCOMPARE(QGuiApplication::clipboard()->text(), u"ftp://example.com/c"_s);
    }

    void sendMailTo()
    {
        QVERIFY(!SendMailTo(u" "_s, u"s"_s, u"b"_s));
        QVERIFY(SendMailTo(u"a@b.c"_s, u" "_s, QString()));
        QVERIFY(SendMailTo(u"a@b.c"_s, u"Hello"_s, u"Text"_s));
        QCOMPARE(FCatcher.urls,
                 (QStringList { u"mailto:a@b.c?subject=[no subject]"_s,
                                u"mailto:a@b.c?subject=Hello&body=Text"_s }));

        if (QGuiApplication::platformName() != u"offscreen"_s)
            return;
        QDesktopServices::unsetUrlHandler(u"mailto"_s);
        QVERIFY(!SendMailTo(u"a@b.c"_s, u"Hello"_s, QString()));
        QCOMPARE(QGuiApplication::clipboard()->text(), u"a@b.c"_s);
    }

    void openDocument()
    {
        bwtest::TestSandbox sandbox;
        const QString file = sandbox.writeFile(u"log.csv"_s, "a;b\r\n");
        QVERIFY(OpenDocument(file));
        QCOMPARE(FCatcher.urls, QStringList { QUrl::fromLocalFile(file).toString() });

        QVERIFY(!OpenDocument(sandbox.root() + u"/none.csv"_s));
        QCOMPARE(QGuiApplication::clipboard()->text(), u"The specified file was not found."_s);
        QVERIFY(!ShellOpen(sandbox.root() + u"/nodir/none.csv"_s, QString(), u"open"_s));
        QCOMPARE(QGuiApplication::clipboard()->text(), u"The specified path was not found."_s);

        if (QGuiApplication::platformName() != u"offscreen"_s)
            return;
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QVERIFY(!OpenDocument(file));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 u"There is no application associated with the given filename extension."_s);
    }

    void layoutHelpers()
    {
        QWidget parent;
        QWidget child(&parent);
        child.setGeometry(10, 20, 100, 50);
        SetRight(&child, 300);
        QCOMPARE(child.geometry(), QRect(10, 20, 290, 50));
        AlignRight(&child, 400);
        QCOMPARE(child.geometry(), QRect(110, 20, 290, 50));
        AlignBottom(&child, 200);
        QCOMPARE(child.geometry(), QRect(110, 150, 290, 50));
        SetBottom(&child, 300);
        QCOMPARE(child.geometry(), QRect(110, 150, 290, 150));
    }

private:
    UrlCatcher FCatcher;
};

QTEST_MAIN(TestShellUtils)
#include "test_shellutils.moc"
