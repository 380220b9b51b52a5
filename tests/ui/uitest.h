#pragma once

#include "core/globals.h"
#include "core/regutils.h"
#include "core/schema.h"
#include "core/sqlite.h"
#include "support/testenv.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

namespace bwtest {

// A sandbox with an upgraded main database as DB, a fresh parameter store as
// Params, and dialogs answered from the script.
class UiFixture
{
public:
    UiFixture()
        : sandbox(std::make_unique<TestSandbox>())
    {
        db = std::make_unique<TSQLiteDatabase>(sandbox->path(QStringLiteral("bundlewick.sqlite")));
        int iOld = 0, iNew = 0;
        TUpdateCheck::UpdateDatabase(*db, iOld, iNew);
        DB = db.get();
        AppDataDir = sandbox->root() + QStringLiteral("/appdata/");
        Params = new TParams(QStringLiteral("SOFTWARE\\orro{}\\Bundlewick"));
        TDialogs::SetScripted(true);
        TDialogs::Clear();
    }
    ~UiFixture()
    {
        delete Params;
        Params = nullptr;
        DB = nullptr;
        db.reset();
        sandbox.reset();
    }
    UiFixture(const UiFixture &) = delete;
    UiFixture &operator=(const UiFixture &) = delete;

    std::unique_ptr<TestSandbox> sandbox;
    std::unique_ptr<TSQLiteDatabase> db;
};

// The messages of a kind the script recorded.
inline QStringList ShownTexts(const QString &sKind)
{
    QStringList texts;
    for (const TDialogs::TShown &shown : TDialogs::Shown())
        if (shown.sKind == sKind)
            texts.append(shown.sText);
    return texts;
}

// Drives the next modal dialog: once it is up, runs the step with it, then
// closes it if the step left it open (a failed check must not hang the
// test). Returns whether the step ran.
class ModalDriver
{
public:
    explicit ModalDriver(std::function<void(QDialog *)> step)
        : FStep(std::move(step))
    {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { poll(); });
        FTimer.start();
    }
    bool ran() const { return FRan; }

private:
    void poll()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (++FPolls > 1000)
                FTimer.stop();
            return;
        }
        FTimer.stop();
        FRan = true;
        FStep(dialog);
        if (dialog->isVisible())
            dialog->reject();
    }

    std::function<void(QDialog *)> FStep;
    QTimer FTimer;
    bool FRan = false;
    int FPolls = 0;
};

} // namespace bwtest
