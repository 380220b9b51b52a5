#include "formpos.h"

#include "core/regutils.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDialog>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

namespace {

// A window the user cannot resize keeps the size it was designed with.
bool HasFixedSize(const QWidget *form)
{
    if (form->minimumSize() == form->maximumSize())
        return true;
    if (const auto *dialog = qobject_cast<const QDialog *>(form)) {
        if (!dialog->isSizeGripEnabled() && dialog->layout()
            && dialog->layout()->sizeConstraint() == QLayout::SetFixedSize)
            return true;
    }
    return false;
}

// A window that asked for its title-bar buttons and left out both the
// minimize and the maximize button.
bool HasSystemMenuOnly(const QWidget *form)
{
    const Qt::WindowFlags flags = form->windowFlags();
    return flags.testFlag(Qt::CustomizeWindowHint) && !flags.testFlag(Qt::WindowMinimizeButtonHint)
        && !flags.testFlag(Qt::WindowMaximizeButtonHint);
}

QRect VirtualDesktop()
{
    QRect desktop;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        desktop = desktop.united(screen->geometry());
    return desktop;
}

int WindowStateCode(const QWidget *form)
{
    if (form->isMinimized())
        return 1;
    if (form->isMaximized())
        return 2;
    return 0;
}

} // namespace

void LoadFormPos(TParams &params, QWidget *form)
{
    const QString name = form->objectName();
    const int currentWidth = form->width();
    const int currentHeight = form->height();

    int width = currentWidth;
    int height = currentHeight;
    if (!HasFixedSize(form) && !HasSystemMenuOnly(form)) {
        width = params.GetInt(name + QLatin1String(" Width"), currentWidth);
        height = params.GetInt(name + QLatin1String(" Height"), currentHeight);
    }

    QSize screen(currentWidth, currentHeight);
    if (const QScreen *primary = QGuiApplication::primaryScreen())
        screen = primary->availableGeometry().size();
    int left = params.GetInt(name + QLatin1String(" Left"), (screen.width() - currentWidth) / 2);
    int top = params.GetInt(name + QLatin1String(" Top"), (screen.height() - currentHeight) / 2);
    const int state = params.GetInt(name + QLatin1String(" Window State"), 0);

    const QRect desktop = VirtualDesktop();
    if (desktop.isValid()) {
        if (left < desktop.left())
            left = 0;
        if (desktop.left() + desktop.width() < left + width)
            left = desktop.left() + desktop.width() - width;
        if (top < desktop.top())
            top = 0;
        if (desktop.top() + desktop.height() < top + height)
            top = desktop.top() + desktop.height() - height;
    }

    // The normal bounds first, then the state: a maximized window restores
    // to its saved bounds.
    form->setWindowState(form->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    form->move(left, top);
    form->resize(width, height);
    Qt::WindowStates windowState = form->windowState();
    if (state == 1)
        windowState |= Qt::WindowMinimized;
    else if (state == 2)
        windowState |= Qt::WindowMaximized;
    form->setWindowState(windowState);
    form->update();
}

void SaveFormPos(TParams &params, QWidget *form)
{
    const QString name = form->objectName();
    const int state = WindowStateCode(form);
    // A maximized or minimized window stores the bounds it restores to.
    QRect bounds(form->pos(), form->size());
    if (state != 0 && form->normalGeometry().isValid())
        bounds = form->normalGeometry();

    params.SetInt(name + QLatin1String(" Left"), bounds.left());
    params.SetInt(name + QLatin1String(" Top"), bounds.top());
    if (!HasFixedSize(form)) {
        params.SetInt(name + QLatin1String(" Width"), bounds.width());
        params.SetInt(name + QLatin1String(" Height"), bounds.height());
    }
    params.SetInt(name + QLatin1String(" Window State"), state);
}

void LoadRadioIndex(TParams &params, QButtonGroup *radio)
{
    const QList<QAbstractButton *> buttons = radio->buttons();
    const int index = params.GetInt(radio->objectName() + QLatin1String(" Index"),
                                    int(buttons.indexOf(radio->checkedButton())));
    if (index >= 0 && index < buttons.size())
        buttons.at(index)->setChecked(true);
}

void SaveRadioIndex(TParams &params, QButtonGroup *radio)
{
    params.SetInt(radio->objectName() + QLatin1String(" Index"),
                  int(radio->buttons().indexOf(radio->checkedButton())));
}
