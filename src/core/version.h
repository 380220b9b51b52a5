#pragma once

#include <QString>

// This program's own version, fixed by the build: "major.minor.release build N".
QString BuildVersionText();
