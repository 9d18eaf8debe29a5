#include "ui/instrument/FaceLayout.h"

#include <algorithm>

namespace zelvo::FaceLayout {

Rows rows(const Input& in)
{
    Rows r;
    const double w = in.design.width();
    const double h = in.design.height();
    r.leftCheek = QRectF(0, 0, kCheek, h);
    r.rightCheek = QRectF(w - kCheek, 0, kCheek, h);
    r.plate = QRectF(kCheek, 0, std::max(0.0, w - 2 * kCheek), h);

    const double x = r.plate.left() + kPadX;
    const double width = std::max(0.0, r.plate.width() - 2 * kPadX);
    double y = kPadTop;

    r.header = QRectF(x, y, width, 34);
    y += r.header.height() + kRowSpacing;

    // The phase column: the lettering, the meter and the zoom keys, centred.
    const double side = std::max({in.phaseLabel.width(), kPhaseWidth, in.zoomKeys.width()});
    const double sideX = x + width - side;
    r.waves = QRectF(x, y, std::max(0.0, width - side - kWaveSpacing), kWaveRow);
    const double meter =
        std::max(0.0, kWaveRow - in.phaseLabel.height() - in.zoomKeys.height() - 2 * kPhaseSpacing);
    r.phaseLabel = QRectF(sideX + (side - in.phaseLabel.width()) / 2, y, in.phaseLabel.width(), in.phaseLabel.height());
    r.phase = QRectF(sideX + (side - kPhaseWidth) / 2, r.phaseLabel.bottom() + kPhaseSpacing, kPhaseWidth, meter);
    r.zoom = QRectF(sideX + (side - in.zoomKeys.width()) / 2, r.phase.bottom() + kPhaseSpacing, in.zoomKeys.width(),
                    in.zoomKeys.height());
    y += kWaveRow + kRowSpacing;

    const double deckWidth = std::max(0.0, (width - in.mixerWidth - 2 * kRowSpacing) / 2);
    r.left = QRectF(x, y, deckWidth, in.deckHeight);
    r.mixer = QRectF(r.left.right() + kRowSpacing, y, in.mixerWidth, in.deckHeight);
    r.right = QRectF(r.mixer.right() + kRowSpacing, y, deckWidth, in.deckHeight);
    if (in.fourDecks) {
        r.leftDeck = in.leftDeck >= 0 && in.leftDeck < 4 ? in.leftDeck : 0;
        r.rightDeck = in.rightDeck >= 0 && in.rightDeck < 4 ? in.rightDeck : 1;
        // Over each deck's top trailing corner, moved 14 left and 8 up.
        const auto tabsOver = [&in](const QRectF& deck) {
            return QRectF(deck.right() - in.tabs.width() - 14, deck.top() - 8, in.tabs.width(), in.tabs.height());
        };
        r.leftTabs = tabsOver(r.left);
        r.rightTabs = tabsOver(r.right);
    }
    y += in.deckHeight + kRowSpacing;

    const double rowHeight = std::max(0.0, h - kPadBottom - y);
    const double browser = std::max(0.0, width - in.performWidth - in.brainWidth - 2 * kRowSpacing);
    r.browser = QRectF(x, y, browser, rowHeight);
    r.perform = QRectF(r.browser.right() + kRowSpacing, y, in.performWidth, rowHeight);
    r.brain = QRectF(r.perform.right() + kRowSpacing, y, in.brainWidth, rowHeight);

    const double left = r.plate.left() + kScrewInset;
    const double right = r.plate.right() - kScrewInset - kScrew;
    const double top = kScrewInset;
    const double bottom = h - kScrewInset - kScrew;
    r.screws = {QRectF(left, top, kScrew, kScrew), QRectF(right, top, kScrew, kScrew),
                QRectF(left, bottom, kScrew, kScrew), QRectF(right, bottom, kScrew, kScrew)};
    return r;
}

} // namespace zelvo::FaceLayout
