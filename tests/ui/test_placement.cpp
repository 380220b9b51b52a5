// Window placement on a real X server: the test starts its own Xvfb (no
// window manager) on a free display and runs the windows through Qt's xcb
// platform, where geometry goes through the X server and back.
#include "core/globals.h"
#include "core/regutils.h"
#include "ui/frmmain.h"
#include "ui/frmprojecteditor.h"
#include "uitest.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kEditor = QStringLiteral("frmProjectEditor");

// Opens a fresh project editor, waits for the X server to show it, and
// returns where it is.
QRect OpenEditor(const std::function<void(QWidget &)> &change = {})
{
    TfrmProjectEditor frm(nullptr);
    frm.show();
    if (!QTest::qWaitForWindowExposed(&frm))
        return QRect();
    if (change) {
        change(frm);
        QTest::qWait(0);
    }
    const QRect shown = frm.geometry();
    frm.close();
    return shown;
}

} // namespace

class TestPlacement : public QObject
{
    Q_OBJECT

private slots:
    void init() { FFx = std::make_unique<bwtest::UiFixture>(); }
    void cleanup() { FFx.reset(); }

    void theScreenIsXvfbs()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1024, 768));
    }

    void reopenedSixTimesTheEditorStaysPut()
    {
        const QRect placed(137, 91, 610, 455);
        QRect first = OpenEditor([&](QWidget &frm) {
            frm.setGeometry(placed);
            QTRY_COMPARE(frm.geometry(), placed);
        });
        QCOMPARE(first, placed);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(OpenEditor(), placed);
        QCOMPARE(Params->GetInt(kEditor + QStringLiteral(" Left"), -1), 137);
        QCOMPARE(Params->GetInt(kEditor + QStringLiteral(" Top"), -1), 91);
        QCOMPARE(Params->GetInt(kEditor + QStringLiteral(" Width"), -1), 610);
        QCOMPARE(Params->GetInt(kEditor + QStringLiteral(" Height"), -1), 455);
    }

    void reopenedSixTimesTheMainWindowStaysPut()
    {
        const QRect placed(60, 45, 700, 520);
        {
            TfrmMain frm;
            frm.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frm));
            frm.setGeometry(placed);
            QTRY_COMPARE(frm.geometry(), placed);
            frm.close();
        }
        for (int i = 0; i < 6; ++i) {
            TfrmMain frm;
            frm.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frm));
            QCOMPARE(frm.geometry(), placed);
            frm.close();
        }
    }

    void storedBoundsLargerThanTheScreenAreClamped()
    {
        // As left behind on a 1366x768 screen at scale factor 2.
        Params->SetInt(kEditor + QStringLiteral(" Left"), -342);
        Params->SetInt(kEditor + QStringLiteral(" Top"), -192);
        Params->SetInt(kEditor + QStringLiteral(" Width"), 2732);
        Params->SetInt(kEditor + QStringLiteral(" Height"), 1536);
        const QRect shown = OpenEditor();
        QCOMPARE(shown, QRect(0, 0, 1024, 768));

        // Too far right and down, of a size that fits: moved, not shrunk.
        Params->SetInt(kEditor + QStringLiteral(" Left"), 900);
        Params->SetInt(kEditor + QStringLiteral(" Top"), 700);
        Params->SetInt(kEditor + QStringLiteral(" Width"), 600);
        Params->SetInt(kEditor + QStringLiteral(" Height"), 450);
        QCOMPARE(OpenEditor(), QRect(424, 318, 600, 450));
    }

private:
    std::unique_ptr<bwtest::UiFixture> FFx;
};

int main(int argc, char **argv)
{
    // Xvfb picks a free display and writes its number to the pipe.
    int fds[2];
    if (::pipe(fds) != 0)
        return 1;
    const pid_t xvfb = ::fork();
    if (xvfb == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                 "-noreset", static_cast<char *>(nullptr));
        std::perror("Xvfb");
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string display;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        display += c;
    ::close(fds[0]);
    if (xvfb < 0 || display.empty()) {
        std::fprintf(stderr, "Xvfb did not start (Debian package xvfb)\n");
        return 1;
    }
    ::setenv("DISPLAY", (":" + display).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    int iResult = 1;
    {
        QApplication app(argc, argv);
        TestPlacement test;
        iResult = QTest::qExec(&test, argc, argv);
    }
    ::kill(xvfb, SIGTERM);
    ::waitpid(xvfb, nullptr, 0);
    return iResult;
}

#include "test_placement.moc"
