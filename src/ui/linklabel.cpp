#include "ui/linklabel.h"

#include <QAccessibleWidget>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTextDocumentFragment>

namespace {

// What a screen reader sees: a button named by the label's text, pressed
// by its one action.
class TLinkLabelAccessible : public QAccessibleWidget
{
public:
    explicit TLinkLabelAccessible(TLinkLabel *label)
        : QAccessibleWidget(label, QAccessible::Button)
    { }

    QString text(QAccessible::Text t) const override
    {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.isEmpty()) {
            const auto *label = static_cast<const TLinkLabel *>(widget());
            s = Qt::mightBeRichText(label->text())
                ? QTextDocumentFragment::fromHtml(label->text()).toPlainText()
                : label->text();
            s.remove(QLatin1Char('&'));
        }
        return s;
    }
    QStringList actionNames() const override
    {
        return QStringList { pressAction() } + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &sAction) override
    {
        if (sAction == pressAction())
            static_cast<TLinkLabel *>(widget())->Click();
        else
            QAccessibleWidget::doAction(sAction);
    }
};

QAccessibleInterface *TLinkLabelFactory(const QString &sClassName, QObject *object)
{
    if (sClassName == QLatin1String("TLinkLabel") && object && object->isWidgetType())
        return new TLinkLabelAccessible(static_cast<TLinkLabel *>(object));
    return nullptr;
}

} // namespace

TLinkLabel::TLinkLabel(QWidget *parent)
    : TLinkLabel(QString(), parent)
{ }

TLinkLabel::TLinkLabel(const QString &sText, QWidget *parent)
    : QLabel(sText, parent)
{
    static const bool bFactory = [] {
        QAccessible::installFactory(TLinkLabelFactory);
        return true;
    }();
    Q_UNUSED(bFactory);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    // Room for the focus frame around the text.
    setContentsMargins(3, 1, 3, 1);
    ApplyLinkColour();
}

void TLinkLabel::Click()
{
    if (isEnabled())
        Q_EMIT clicked();
}

void TLinkLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = palette().color(backgroundRole());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void TLinkLabel::focusInEvent(QFocusEvent *event)
{
    QLabel::focusInEvent(event);
    update();
}

void TLinkLabel::focusOutEvent(QFocusEvent *event)
{
    QLabel::focusOutEvent(event);
    update();
}

void TLinkLabel::ApplyLinkColour()
{
    // Only the enabled groups: the disabled group keeps its greyed text.
    FUpdating = true;
    QPalette pal = palette();
    for (const auto group : { QPalette::Active, QPalette::Inactive })
        pal.setColor(group, QPalette::WindowText, pal.color(group, QPalette::Link));
    setPalette(pal);
    FUpdating = false;
}

void TLinkLabel::enterEvent(QEnterEvent *event)
{
    QFont f = font();
    f.setUnderline(isEnabled());
    setFont(f);
    QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent *event)
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

void TLinkLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    // Taken here, so that the click does not reach the window below.
    FPressed = true;
    event->accept();
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    const bool bClick = FPressed && rect().contains(event->position().toPoint());
    FPressed = false;
    event->accept();
    if (bClick)
        Click();
}

void TLinkLabel::keyPressEvent(QKeyEvent *event)
{
    if (isEnabled()
        && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return
            || event->key() == Qt::Key_Enter)) {
        Click();
        return;
    }
    QLabel::keyPressEvent(event);
}

void TLinkLabel::changeEvent(QEvent *event)
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
