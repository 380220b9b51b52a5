#include "ui/application.h"

#include "core/data/fdata.h"
#include "core/data/startup.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "core/winutils.h"
#include "delivery/retention.h"
#include "ui/appicon.h"
#include "ui/dialogs.h"
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
        HandleException(std::current_exception());
        return false;
    }
}

QString TApplication::ExceptionText(const std::exception_ptr &error)
{
    return ::ExceptionText(error);
}

void TApplication::HandleException(const std::exception_ptr &error)
{
    // Later failures are usually consequences of the first: show one only.
    if (gFailed)
        return;
    gFailed = true;
    const QString sText = ExceptionText(error);
    std::fprintf(stderr, "Bundlewick: %s\n", sText.toUtf8().constData());
    TDialogs::Critical(nullptr, kTitle, sText);
    QCoreApplication::exit(1);
}

int RunApplication(int argc, char **argv)
{
    try {
        ProcessInit();
    } catch (...) {
        const QString sText = TApplication::ExceptionText(std::current_exception());
        std::fprintf(stderr, "Bundlewick: %s\n", sText.toUtf8().constData());
        ProcessFinal();
        return 1;
    }

    TApplication app(argc, argv);
    std::unique_ptr<TfrmMain> frmMain;
    int iResult = 0;
    {
        TSingleInstance instance(TSingleInstance::DefaultLockFile());
        if (instance.CreateFailed()) {
            std::fprintf(stderr, "Bundlewick: %s\n", instance.ErrorText().toUtf8().constData());
            TDialogs::Critical(nullptr, kTitle, instance.ErrorText());
            ProcessFinal();
            return 1;
        }
        if (!instance.IsFirst()) {
            TDialogs::Warning(nullptr, kTitle, QString::fromUtf8(SecondInstanceMessage));
            ProcessFinal();
            return 0;
        }
        try {
            FData = new TFData();
            InstallExpiryChecker(*FData);
            frmMain = std::make_unique<TfrmMain>();
            frmMain->show();
            iResult = app.exec();
        } catch (...) {
            TApplication::HandleException(std::current_exception());
        }
        if (gFailed)
            iResult = 1;
        instance.Release();
        ProcessFinal([&frmMain] { frmMain.reset(); });
    }
    return iResult;
}
