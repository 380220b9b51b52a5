#pragma once

#include <QIcon>

// The program's icon, drawn in code in the design of the installed
// data/bundlewick.svg, so that no image plugin is needed.
QIcon AppIcon();
