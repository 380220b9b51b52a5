#include "ui/colours.h"

#include <cmath>

namespace {

double Channel(float f)
{
    return f <= 0.04045f ? f / 12.92 : std::pow((f + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * Channel(rgb.redF()) + 0.7152 * Channel(rgb.greenF()) + 0.0722 * Channel(rgb.blueF());
}

} // namespace

double ContrastRatio(const QColor &a, const QColor &b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

QColor StatusColour(bool bSuccess, const QPalette &palette, QPalette::ColorRole eBackground)
{
    const QColor background = palette.color(QPalette::Active, eBackground);
    // Fully saturated hues, walked in lightness away from the background:
    // darker on a light one, lighter on a dark one. The first step that
    // reaches the contrast is the one nearest the background's lightness,
    // so the colour does not glare.
    const int iHue = bSuccess ? 120 : 0;
    const bool bDarken = ContrastRatio(Qt::black, background) >= ContrastRatio(Qt::white, background);
    const int iStart = bDarken ? 192 : 64;
    QColor best = QColor::fromHsl(iHue, 255, iStart);
    for (int l = iStart; l >= 0 && l <= 255; l += bDarken ? -4 : 4) {
        const QColor colour = QColor::fromHsl(iHue, 255, l);
        if (ContrastRatio(colour, background) > ContrastRatio(best, background))
            best = colour;
        if (ContrastRatio(colour, background) >= kStatusContrast)
            return colour.toRgb();
    }
    return best.toRgb();
}
