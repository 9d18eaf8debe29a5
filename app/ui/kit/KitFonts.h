#pragma once
// Fonts of the drawn looks, by name: DejaVu Sans Condensed Bold for heavy
// condensed lettering, DejaVu Sans for plain text, DejaVu Sans Mono for
// monospaced read-outs. Sizes are design points (logical pixels). Main thread.
#include <QFont>
#include <QString>

namespace zelvo::kit {

// Point size that renders `px` logical pixels tall on this screen.
double pointSizeForPixels(double px);

// Heavy condensed lettering (silk screen, key legends) with `tracking` points
// of extra letter spacing.
QFont condensedBoldFont(double px, double tracking = 0);
// The plain sans serif; `bold` for the heavy and black weights.
QFont sansFont(double px, bool bold, double tracking = 0);
// The monospaced face (medium weight falls back to DejaVu's Book).
QFont monoFont(double px, double tracking = 0);

// Width of one line of `text` in `font`, in design points.
double textWidth(const QFont& font, const QString& text);
// `font` shrunk so `text` fits `width`, by at most `minScale` of its size.
QFont fittedFont(const QFont& font, const QString& text, double width, double minScale = 0.6);

} // namespace zelvo::kit
