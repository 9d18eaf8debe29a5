#include "ui/kit/KitFonts.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace zelvo::kit {

double pointSizeForPixels(double px)
{
    double dpi = 96.0;
    if (auto* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchY();
    return std::max(0.5, px) * 72.0 / dpi;
}

namespace {

QFont make(const QString& family, double px, bool bold, double tracking)
{
    QFont font(family);
    font.setPointSizeF(pointSizeForPixels(px));
    font.setBold(bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

} // namespace

QFont condensedBoldFont(double px, double tracking)
{
    QFont font = make(QStringLiteral("DejaVu Sans Condensed"), px, true, tracking);
    font.setStretch(QFont::SemiCondensed);
    return font;
}

QFont sansFont(double px, bool bold, double tracking) { return make(QStringLiteral("DejaVu Sans"), px, bold, tracking); }

QFont monoFont(double px, double tracking)
{
    QFont font = make(QStringLiteral("DejaVu Sans Mono"), px, false, tracking);
    font.setStyleHint(QFont::Monospace);
    return font;
}

double textWidth(const QFont& font, const QString& text)
{
    return QFontMetricsF(font).horizontalAdvance(text);
}

QFont fittedFont(const QFont& font, const QString& text, double width, double minScale)
{
    const double natural = textWidth(font, text);
    if (natural <= width || natural <= 0)
        return font;
    const double factor = std::max(minScale, width / natural);
    QFont smaller = font;
    smaller.setPointSizeF(font.pointSizeF() * factor);
    smaller.setLetterSpacing(QFont::AbsoluteSpacing, font.letterSpacing() * factor);
    return smaller;
}

} // namespace zelvo::kit
