#pragma once

#include <QLabel>

// A text label that looks and acts like a hyperlink: link-coloured text, the
// hand pointer, underlined only while the pointer is over it, and a click
// signal. Disabled, it shows greyed text and ignores clicks.
class TorroLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TorroLabel(QWidget *parent = nullptr);
    explicit TorroLabel(const QString &sText, QWidget *parent = nullptr);

Q_SIGNALS:
    void clicked();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void ApplyLinkColour();

    bool FPressed = false;
    bool FUpdating = false;
};
