#pragma once

#include <QLabel>

// A text label that looks and acts like a hyperlink: link-coloured text, the
// hand pointer, underlined only while the pointer is over it, and a click
// signal. Disabled, it shows greyed text and ignores clicks. It takes Tab
// focus, shows the style's focus frame while it has it and clicks on Space
// and Return; screen readers see a button named by its text, with a press
// action.
class TLinkLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TLinkLabel(QWidget *parent = nullptr);
    explicit TLinkLabel(const QString &sText, QWidget *parent = nullptr);

    // Clicks it as the mouse does; nothing when disabled.
    void Click();

Q_SIGNALS:
    void clicked();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void ApplyLinkColour();

    bool FPressed = false;
    bool FUpdating = false;
};
