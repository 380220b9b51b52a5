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
        : m_step(std::move(step))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }
    bool ran() const { return m_ran; }

private:
    void poll()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (++m_polls > 1000)
                m_timer.stop();
            return;
        }
        m_timer.stop();
        m_ran = true;
        m_step(dialog);
        if (dialog->isVisible())
            dialog->reject();
    }

    std::function<void(QDialog *)> m_step;
    QTimer m_timer;
    bool m_ran = false;
    int m_polls = 0;
};

} // namespace bwtest
