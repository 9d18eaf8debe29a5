#include "ui/kit/Palette.h"

#include <algorithm>
#include <cmath>

namespace zelvo::kit {

QColor withAlpha(const QColor& color, double alpha)
{
    QColor c = color;
    c.setAlphaF(float(std::clamp(color.alphaF() * alpha, 0.0, 1.0)));
    return c;
}

namespace {

double toLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double toGamma(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055; }

struct Lab { double L, a, b; };

Lab oklab(const QColor& c)
{
    const double r = toLinear(c.redF()), g = toLinear(c.greenF()), b = toLinear(c.blueF());
    const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
    const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
    const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
    return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
            1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
            0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

QColor fromOKLab(Lab lab, double alpha)
{
    const double l = std::pow(lab.L + 0.3963377774 * lab.a + 0.2158037573 * lab.b, 3.0);
    const double m = std::pow(lab.L - 0.1055613458 * lab.a - 0.0638541728 * lab.b, 3.0);
    const double s = std::pow(lab.L - 0.0894841775 * lab.a - 1.2914855480 * lab.b, 3.0);
    const auto out = [](double v) { return float(std::clamp(toGamma(v), 0.0, 1.0)); };
    return QColor::fromRgbF(out(4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s),
                            out(-1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s),
                            out(-0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s),
                            float(alpha));
}

} // namespace

QColor mixOKLab(const QColor& from, const QColor& to, double amount)
{
    const Lab a = oklab(from), b = oklab(to);
    const double t = std::clamp(amount, 0.0, 1.0);
    return fromOKLab({a.L + (b.L - a.L) * t, a.a + (b.a - a.a) * t, a.b + (b.b - a.b) * t},
                     from.alphaF() + (to.alphaF() - from.alphaF()) * t);
}

#define KIT_COLOUR(ns, name, r, g, b)        \
    const QColor& ns::name()                 \
    {                                        \
        static const QColor c(r, g, b);      \
        return c;                            \
    }

KIT_COLOUR(Palette, void_, 3, 3, 4)
KIT_COLOUR(Palette, inkDeep, 8, 9, 11)
KIT_COLOUR(Palette, ink, 14, 15, 18)
KIT_COLOUR(Palette, panel, 20, 21, 25)
KIT_COLOUR(Palette, raised, 28, 30, 35)
KIT_COLOUR(Palette, edge, 44, 47, 55)
KIT_COLOUR(Palette, ashDim, 74, 78, 87)
KIT_COLOUR(Palette, ash, 134, 140, 151)
KIT_COLOUR(Palette, bronze, 110, 116, 127)
KIT_COLOUR(Palette, bone, 228, 231, 236)
KIT_COLOUR(Palette, paper, 245, 247, 250)
KIT_COLOUR(Palette, glow, 255, 239, 210)
KIT_COLOUR(Palette, ember, 255, 122, 24)
KIT_COLOUR(Palette, red, 255, 90, 78)
KIT_COLOUR(Palette, cyan, 95, 208, 230)
KIT_COLOUR(Palette, glass, 5, 5, 7)
KIT_COLOUR(Palette, railDeep, 5, 5, 7)
KIT_COLOUR(Palette, rail, 26, 28, 33)
KIT_COLOUR(Palette, railLight, 51, 55, 63)

KIT_COLOUR(Stage, ink, 13, 11, 8)
KIT_COLOUR(Stage, inkRaised, 23, 19, 13)
KIT_COLOUR(Stage, inkHigh, 34, 28, 20)
KIT_COLOUR(Stage, line, 46, 39, 29)
KIT_COLOUR(Stage, ash, 140, 132, 116)
KIT_COLOUR(Stage, ashDim, 90, 84, 72)
KIT_COLOUR(Stage, bone, 233, 220, 194)
KIT_COLOUR(Stage, paper, 247, 242, 230)
KIT_COLOUR(Stage, ghostRed, 217, 83, 79)
KIT_COLOUR(Stage, ghostCyan, 111, 195, 210)
KIT_COLOUR(Stage, signal, 242, 166, 90)
KIT_COLOUR(Stage, cgBone, 233, 220, 194)
KIT_COLOUR(Stage, cgPaper, 247, 242, 230)
KIT_COLOUR(Stage, cgEmber, 242, 166, 90)
KIT_COLOUR(Stage, nsInk, 13, 11, 8)
KIT_COLOUR(Stage, nsPaper, 247, 242, 230)
KIT_COLOUR(Stage, nsAsh, 140, 132, 116)
KIT_COLOUR(Stage, rbBlue, 45, 123, 255)
KIT_COLOUR(Stage, rbAmber, 255, 159, 46)
KIT_COLOUR(Stage, rbGreen, 63, 208, 122)
KIT_COLOUR(Stage, rbRed, 255, 75, 62)

#undef KIT_COLOUR

} // namespace zelvo::kit
