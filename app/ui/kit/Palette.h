#pragma once
// The two looks' named colours: `Palette` for the faceplate, `Stage` for the
// stage screen. Every colour is opaque sRGB; tints come from `withAlpha`.
// Main thread (the colours are plain values and may be read anywhere).
#include <QColor>

namespace zelvo::kit {

// `color` with its opacity multiplied by `alpha` (0…1).
QColor withAlpha(const QColor& color, double alpha);
// `from` moved `amount` (0…1) of the way towards `to` in OKLab, a perceptual space.
QColor mixOKLab(const QColor& from, const QColor& to, double amount);

namespace Palette {
const QColor& void_();
const QColor& inkDeep();
const QColor& ink();
const QColor& panel();
const QColor& raised();
const QColor& edge();
const QColor& ashDim();
const QColor& ash();
const QColor& bronze();
const QColor& bone();
const QColor& paper();
const QColor& glow();
const QColor& ember();
const QColor& red();
const QColor& cyan();
const QColor& glass();
const QColor& railDeep();
const QColor& rail();
const QColor& railLight();
} // namespace Palette

namespace Stage {
const QColor& ink();
const QColor& inkRaised();
const QColor& inkHigh();
const QColor& line();
const QColor& ash();
const QColor& ashDim();
const QColor& bone();
const QColor& paper();
const QColor& ghostRed();
const QColor& ghostCyan();
const QColor& signal();
// Colours for drawing layers below the widgets (tiles, images): same components.
const QColor& cgBone();
const QColor& cgPaper();
const QColor& cgEmber();
const QColor& nsInk();
const QColor& nsPaper();
const QColor& nsAsh();
// The live controls' signal colours.
const QColor& rbBlue();
const QColor& rbAmber();
const QColor& rbGreen();
const QColor& rbRed();
} // namespace Stage

} // namespace zelvo::kit
