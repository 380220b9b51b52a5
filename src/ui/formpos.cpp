#include "formpos.h"

#include "core/regutils.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDialog>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>
#include <QWindow>

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

// The frame the window manager puts around a window. Known only once a
// window has been shown; a window not yet shown borrows the last one seen,
// which is as good a guess as any before the manager has drawn it.
QMargins gLastFrame;

QMargins FrameOf(const QWidget *form)
{
    if (const QWindow *window = form->windowHandle()) {
        const QMargins frame = window->frameMargins();
        if (!frame.isNull()) {
            gLastFrame = frame;
            return frame;
        }
    }
    return gLastFrame;
}

// The screen a window at these bounds opens on: the one under its centre,
// else the one under its top left corner, else the primary screen.
QScreen *ScreenFor(const QRect &bounds)
{
    if (QScreen *screen = QGuiApplication::screenAt(bounds.center()))
        return screen;
    if (QScreen *screen = QGuiApplication::screenAt(bounds.topLeft()))
        return screen;
    return QGuiApplication::primaryScreen();
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
    const bool bFixed = HasFixedSize(form) || HasSystemMenuOnly(form);

    int width = currentWidth;
    int height = currentHeight;
    if (!bFixed) {
        width = params.GetInt(name + QLatin1String(" Width"), currentWidth);
        height = params.GetInt(name + QLatin1String(" Height"), currentHeight);
    }

    QRect available(0, 0, currentWidth, currentHeight);
    if (const QScreen *primary = QGuiApplication::primaryScreen())
        available = primary->availableGeometry();
    int left = params.GetInt(name + QLatin1String(" Left"),
                             available.left() + (available.width() - currentWidth) / 2);
    int top = params.GetInt(name + QLatin1String(" Top"),
                            available.top() + (available.height() - currentHeight) / 2);
    const int state = params.GetInt(name + QLatin1String(" Window State"), 0);

    // The stored bounds are those of the window's contents (what
    // QWidget::geometry() reports and setGeometry() takes): the frame is the
    // window manager's, and placing the contents leaves it no room to drift.
    // Whole, frame included, on the available part of the screen it opens
    // on: a screen that got smaller or a larger scale factor would otherwise
    // leave menus and buttons out of reach.
    if (const QScreen *screen = ScreenFor(QRect(left, top, width, height)))
        available = screen->availableGeometry();
    const QMargins frame = FrameOf(form);
    const QRect room = available.marginsRemoved(frame);
    if (room.isValid()) {
        if (!bFixed) {
            width = qMax(qMin(width, room.width()), form->minimumWidth());
            height = qMax(qMin(height, room.height()), form->minimumHeight());
        }
        left = qMax(qMin(left, room.right() + 1 - width), room.left());
        top = qMax(qMin(top, room.bottom() + 1 - height), room.top());
    }

    // The normal bounds first, then the state: a maximized window restores
    // to its saved bounds.
    form->setWindowState(form->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    form->setGeometry(left, top, width, height);
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
    FrameOf(form);
    // A maximized or minimized window stores the bounds it restores to.
    QRect bounds = form->geometry();
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
