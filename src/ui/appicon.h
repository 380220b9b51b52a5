#pragma once

#include <QIcon>

// The program's icon, drawn in code in the design of the installed
// data/org.bundlewick.Bundlewick.svg, so that no image plugin is needed.
QIcon AppIcon();
