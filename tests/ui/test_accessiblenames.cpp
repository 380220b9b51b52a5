// Every window, opened as the user first sees it: every control that takes
// the keyboard focus has a name a screen reader can announce.
#include "projects/project.h"
#include "ui/frmabout.h"
#include "ui/frmemail.h"
#include "ui/frmerror.h"
#include "ui/frmfileadd.h"
#include "ui/frmlog.h"
#include "ui/frmmain.h"
#include "ui/frmprojecteditor.h"
#include "ui/frmquick.h"
#include "ui/frmsendeditor.h"
#include "ui/frmsettings.h"
#include "ui/help.h"
#include "uitest.h"

#include <QAccessible>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The focusable controls of the window now showing that have no accessible
// name, as "objectName (class)".
QStringList Unnamed(QWidget *window)
{
    QStringList unnamed;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || widget->window() != window
            || !widget->isVisibleTo(window) || !widget->isEnabled())
            continue;
        // Those that hand their focus on, and the inner parts of compound
        // controls, are announced through another.
        if (widget->focusProxy() || widget->inherits("QTabBar"))
            continue;
        QWidget *parent = widget->parentWidget();
        if (parent && (parent->inherits("QAbstractSpinBox") || parent->inherits("QComboBox")))
            continue;
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        if (!iface || iface->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << u"%1 (%2)"_s.arg(widget->objectName(),
                                        QString::fromLatin1(widget->metaObject()->className()));
    }
    return unnamed;
}

// The same on every page of every page control.
QStringList UnnamedOnEveryPage(QWidget *window)
{
    QStringList unnamed = Unnamed(window);
    const QList<QTabWidget *> tabs = window->findChildren<QTabWidget *>();
    for (QTabWidget *pages : tabs) {
        for (int i = 0; i < pages->count(); ++i) {
            if (!pages->isTabVisible(i))
                continue;
            pages->setCurrentIndex(i);
            unnamed += Unnamed(window);
        }
    }
    unnamed.removeDuplicates();
    return unnamed;
}

} // namespace

class TestAccessibleNames : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        FFx = std::make_unique<bwtest::UiFixture>();
        FProject = CreateProject(0, 0, u"Tool"_s, QString());
    }
    void cleanup()
    {
        FProject.reset();
        FFx.reset();
    }

    void everyFocusableControlHasAName_data()
    {
        QTest::addColumn<QString>("window");
        for (const char *name : { "frmMain", "frmProjectEditor", "frmSendEditor", "frmFileAdd", "frmSettings",
                                  "frmLog", "frmQuick", "frmAbout", "frmEmail", "frmError", "frmHelp" })
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void everyFocusableControlHasAName()
    {
        QFETCH(QString, window);
        std::unique_ptr<QWidget> frm;
        if (window == u"frmMain"_s)
            frm = std::make_unique<TfrmMain>();
        else if (window == u"frmProjectEditor"_s)
            frm = std::make_unique<TfrmProjectEditor>(nullptr);
        else if (window == u"frmSendEditor"_s)
            frm = std::make_unique<TfrmSendEditor>(0, 1, u"Tool"_s);
        else if (window == u"frmFileAdd"_s)
            frm = std::make_unique<TfrmFileAdd>(FProject.get());
        else if (window == u"frmSettings"_s)
            frm = std::make_unique<TfrmSettings>();
        else if (window == u"frmLog"_s)
            frm = std::make_unique<TfrmLog>();
        else if (window == u"frmQuick"_s)
            frm = std::make_unique<TfrmQuick>(QStringList { FFx->sandbox->writeFile(u"q/a.txt"_s, "a") });
        else if (window == u"frmAbout"_s)
            frm = std::make_unique<TfrmAbout>();
        else if (window == u"frmEmail"_s)
            frm = std::make_unique<TfrmEmail>(nullptr, u"support@example.org"_s);
        else if (window == u"frmError"_s)
            frm = std::make_unique<TfrmError>();
        else if (window == u"frmHelp"_s)
            frm = std::make_unique<TfrmHelp>();
        QVERIFY(frm);
        QCOMPARE(frm->objectName(), window);
        frm->show();
        QVERIFY(QTest::qWaitForWindowExposed(frm.get()));
        const QStringList unnamed = UnnamedOnEveryPage(frm.get());
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u", "_s)));
        frm->close();
    }

private:
    std::unique_ptr<bwtest::UiFixture> FFx;
    std::unique_ptr<TProject> FProject;
};

QTEST_MAIN(TestAccessibleNames)
#include "test_accessiblenames.moc"
