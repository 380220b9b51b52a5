#include "ui/torrolabel.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>

TorroLabel::TorroLabel(QWidget *parent)
    : TorroLabel(QString(), parent)
{ }

TorroLabel::TorroLabel(const QString &sText, QWidget *parent)
    : QLabel(sText, parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    ApplyLinkColour();
}

void TorroLabel::ApplyLinkColour()
{
    // Only the enabled groups: the disabled group keeps its greyed text.
    FUpdating = true;
    QPalette pal = palette();
    for (const auto group : { QPalette::Active, QPalette::Inactive })
        pal.setColor(group, QPalette::WindowText, pal.color(group, QPalette::Link));
    setPalette(pal);
    FUpdating = false;
}

void TorroLabel::enterEvent(QEnterEvent *event)
{
    QFont f = font();
    f.setUnderline(isEnabled());
    setFont(f);
    QLabel::enterEvent(event);
}

void TorroLabel::leaveEvent(QEvent *event)
{
    // Leaving removes every font style, not only the underline.
    QFont f = font();
    f.setUnderline(false);
    f.setBold(false);
    f.setItalic(false);
    f.setStrikeOut(false);
    setFont(f);
    FPressed = false;
    QLabel::leaveEvent(event);
}

void TorroLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    // Taken here, so that the click does not reach the window below.
    FPressed = true;
    event->accept();
}

void TorroLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    const bool bClick = FPressed && rect().contains(event->position().toPoint());
    FPressed = false;
    event->accept();
    if (bClick && isEnabled())
        Q_EMIT clicked();
}

void TorroLabel::keyPressEvent(QKeyEvent *event)
{
    if (isEnabled()
        && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return
            || event->key() == Qt::Key_Enter)) {
        Q_EMIT clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void TorroLabel::changeEvent(QEvent *event)
{
    // A new style or theme brings a new link colour.
    if (event->type() == QEvent::PaletteChange && !FUpdating)
        ApplyLinkColour();
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        QFont f = font();
        f.setUnderline(false);
        setFont(f);
    }
    QLabel::changeEvent(event);
}
