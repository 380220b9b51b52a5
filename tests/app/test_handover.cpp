#include "app/handover.h"
#include "ui/frmmain.h"
#include "ui/uitest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// The second start runs in a thread of its own: its waits block, and the
// running instance (this thread's event loop) must answer meanwhile.
class TSecondStart
{
public:
    explicit TSecondStart(const QStringList &files)
        : FThread([this, files] { FResult = HandOverToRunningInstance(files, 5000) ? 1 : 0; })
    { }
    ~TSecondStart() { FThread.join(); }
    // -1 while it runs, then 1 (handed over) or 0.
    int Result() const { return FResult; }

private:
    std::atomic<int> FResult { -1 };
    std::thread FThread;
};

} // namespace

class TestHandOver : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        FFx = std::make_unique<bwtest::UiFixture>();
        const QString sRuntime = FFx->sandbox->path(u"run"_s);
        QDir().mkpath(sRuntime);
        QFile::setPermissions(sRuntime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", sRuntime.toUtf8());
    }
    void cleanup() { FFx.reset(); }

    void socketIsInTheRuntimeFolder()
    {
        QCOMPARE(HandOverSocketName(), FFx->sandbox->path(u"run"_s) + u"/bundlewick.socket"_s);
    }

    void withoutARunningInstanceNothingIsHandedOver()
    {
        QVERIFY(!HandOverToRunningInstance(QStringList(), 2000));
    }

    void filesReachTheRunningInstanceAsAbsolutePaths()
    {
        THandOverServer server;
        QVERIFY2(server.Listen(), qPrintable(server.ErrorText()));
        // Only the user may connect.
        QCOMPARE(QFileInfo(HandOverSocketName()).permissions()
                     & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
                 QFile::Permissions());
        QSignalSpy spy(&server, &THandOverServer::handedOver);
        const QString sCwd = QDir::currentPath();
        {
            TSecondStart second({ u"notes.txt"_s, u"/srv/drop/report final.pdf"_s });
            QTRY_COMPARE(second.Result(), 1);
        }
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toStringList(),
                 (QStringList { sCwd + u"/notes.txt"_s, u"/srv/drop/report final.pdf"_s }));
        {
            TSecondStart second({});
            QTRY_COMPARE(second.Result(), 1);
        }
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toStringList(), QStringList());
    }

    void aSocketLeftByACrashIsReplaced()
    {
        // A plain file where the socket goes, as a killed run leaves it.
        QFile stale(HandOverSocketName());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        THandOverServer server;
        QVERIFY2(server.Listen(), qPrintable(server.ErrorText()));
        QSignalSpy spy(&server, &THandOverServer::handedOver);
        TSecondStart second({});
        QTRY_COMPARE(second.Result(), 1);
        QCOMPARE(spy.count(), 1);
    }

    void strangersAreTurnedAway()
    {
        THandOverServer server;
        QVERIFY(server.Listen());
        QSignalSpy spy(&server, &THandOverServer::handedOver);
        QLocalSocket socket;
        socket.connectToServer(HandOverSocketName());
        QTRY_COMPARE(socket.state(), QLocalSocket::ConnectedState);
        socket.write("GET / HTTP/1.0\r\n\r\n");
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(spy.count(), 0);
    }

    void theMainWindowComesForwardAndOpensQuickSend()
    {
        const QString sFile = FFx->sandbox->writeFile(u"drop/a.txt"_s, "A\n");
        TfrmMain frm;
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        frm.showMinimized();
        QString sName;
        QString sTitle;
        bwtest::ModalDriver driver([&](QDialog *dialog) {
            sName = dialog->objectName();
            sTitle = dialog->windowTitle();
        });
        frm.HandedOver({ sFile });
        QVERIFY(!frm.isMinimized());
        QTRY_VERIFY(driver.ran());
        QCOMPARE(sName, u"frmQuick"_s);
        QCOMPARE(sTitle, u"Bundlewick :: Quick send"_s);
    }

private:
    std::unique_ptr<bwtest::UiFixture> FFx;
};

QTEST_MAIN(TestHandOver)
#include "test_handover.moc"
