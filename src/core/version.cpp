#include "core/version.h"

QString BuildVersionText()
{
    return QStringLiteral("%1.%2.%3 build %4")
        .arg(BW_VERSION_MAJOR)
        .arg(BW_VERSION_MINOR)
        .arg(BW_VERSION_RELEASE)
        .arg(BW_VERSION_BUILD);
}
