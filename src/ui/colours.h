#pragma once

#include <QColor>
#include <QPalette>

// The contrast of two colours as the WCAG 2 guidelines measure it: from 1
// (the same) to 21 (black on white).
double ContrastRatio(const QColor &a, const QColor &b);

// The least contrast a success or failure text keeps against its background.
inline constexpr double kStatusContrast = 4.5;

// The green of a success or the red of a failure, made lighter or darker
// until it reaches kStatusContrast against the palette's background role
// (Base for lists, Window for labels), on light and dark palettes alike.
QColor StatusColour(bool bSuccess, const QPalette &palette, QPalette::ColorRole eBackground = QPalette::Base);
