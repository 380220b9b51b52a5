#include "core/version.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Bundlewick"));
    // Until the main window exists: show who we are.
    QLabel label(QStringLiteral("Bundlewick %1").arg(BuildVersionText()));
    label.setObjectName(QStringLiteral("lblVersion"));
    label.setMinimumSize(320, 80);
    label.setAlignment(Qt::AlignCenter);
    label.show();
    return app.exec();
}
