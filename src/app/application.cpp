#include "app/application.h"

#include "app/handover.h"
#include "app/startup.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "delivery/errorreport.h"
#include "delivery/retention.h"
#include "ui/appicon.h"
#include "ui/dialogs.h"
#include "ui/frmerror.h"
#include "ui/frmmain.h"

#include <cstdio>
#include <memory>

namespace {

const QString kTitle = QStringLiteral("Bundlewick");
bool gFailed = false;

} // namespace

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(kTitle);
    // Ties the windows to the installed desktop entry (name and icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.bundlewick.Bundlewick"));
    setWindowIcon(AppIcon());
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // Where it escaped: the stack is unwound by now, so name the receiver.
        const QString sContext
            = QStringLiteral("while handling event %1 for %2 \"%3\"")
                  .arg(int(event->type()))
                  .arg(QString::fromLatin1(receiver->metaObject()->className()), receiver->objectName());
        HandleException(std::current_exception(), sContext);
        return false;
    }
}

QString TApplication::ExceptionText(const std::exception_ptr &error)
{
    return ::ExceptionText(error);
}

void TApplication::HandleException(const std::exception_ptr &error, const QString &sContext)
{
    // Later failures are usually consequences of the first: report one only.
    if (gFailed)
        return;
    gFailed = true;
    const QString sText = ExceptionText(error);
    std::fprintf(stderr, "Bundlewick: %s\n", sText.toUtf8().constData());
    QString sStack = StackTraceText();
    if (!sContext.isEmpty())
        sStack = sContext + QLatin1Char('\n') + sStack;
    SaveBugReport(sText, sStack);
    // The error report goes out (when a server is configured) while the
    // user reads the dialog; it holds no data of the user's.
    TReportSender sender;
    sender.StartUpload();
    TfrmError::Execute(sText);
    sender.WaitForUpload();
    // Also when no event loop runs yet: the queued call ends the first one.
    QCoreApplication::exit(1);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
}

namespace {

class TDesktop : public TFrontEnd
{
public:
    explicit TDesktop(const QStringList &lQuickFiles)
        : FQuickFiles(lQuickFiles)
    { }
    std::unique_ptr<QCoreApplication> CreateApplication(int &argc, char **argv) override
    {
        return std::make_unique<TApplication>(argc, argv);
    }
    void InitFailed(const QString &sText) override
    {
        std::fprintf(stderr, "Bundlewick: %s\n", sText.toUtf8().constData());
    }
    void LockFailed(const QString &sText) override
    {
        std::fprintf(stderr, "Bundlewick: %s\n", sText.toUtf8().constData());
        TDialogs::Critical(nullptr, kTitle, sText);
    }
    int AlreadyRunning() override
    {
        // The running desktop program comes to the front (and opens quick
        // send with the files named here); only a command
        // running in a terminal, or a program that stopped responding,
        // leaves the user with the message.
        if (HandOverToRunningInstance(FQuickFiles))
            return 0;
        TDialogs::Warning(nullptr, kTitle, QString::fromUtf8(SecondInstanceMessage));
        return 0;
    }
    int Run() override
    {
        FMain = std::make_unique<TfrmMain>();
        FHandOver = std::make_unique<THandOverServer>();
        QObject::connect(FHandOver.get(), &THandOverServer::handedOver, FMain.get(), &TfrmMain::HandedOver);
        if (!FHandOver->Listen())
            std::fprintf(stderr, "Bundlewick: %s\n", FHandOver->ErrorText().toUtf8().constData());
        FMain->show();
        FMain->QuickSendFiles(FQuickFiles);
        const int iResult = QCoreApplication::exec();
        return gFailed ? 1 : iResult;
    }
    int Failed(const std::exception_ptr &error) override
    {
        TApplication::HandleException(error);
        return 1;
    }
    void DestroyForms() override
    {
        FHandOver.reset();
        FMain.reset();
    }

private:
    QStringList FQuickFiles;
    std::unique_ptr<TfrmMain> FMain;
    std::unique_ptr<THandOverServer> FHandOver;
};

} // namespace

int RunApplication(int argc, char **argv, const QStringList &lQuickFiles)
{
    TDesktop desktop(lQuickFiles);
    return RunProgram(desktop, argc, argv);
}
