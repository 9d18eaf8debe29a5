#include "ui/instrument/FaceLayout.h"

#include <algorithm>
#include <tuple>

namespace zelvo::FaceLayout {

DeckPlan deck(const DeckParts& p, double width)
{
    DeckPlan plan;
    const double inner = std::max(0.0, width - 2 * kDeckPad);
    double y = kDeckPad;
    plan.header = QRectF(kDeckPad, y, inner, p.header);
    y += p.header + kDeckSpacing;
    plan.overview = QRectF(kDeckPad, y, inner, p.overview);
    y += p.overview + kDeckSpacing;
    plan.loops = QRectF(kDeckPad, y, inner, p.loopRow);
    y += p.loopRow + kDeckSpacing;

    // The performance row: the left column, then the tempo strip.
    const double top = y;
    plan.tempo = QRectF(QPointF(width - kDeckPad - p.tempo.width(), top), p.tempo);
    const double column = std::max(0.0, inner - kPerformSpacing - p.tempo.width());
    plan.jog = QRectF(kDeckPad + (column - p.jog) / 2, top, p.jog, p.jog);
    const double keyTop = top + p.jog + kPerformSpacing;
    const double keyRow = std::max(p.transport.height(), p.pads.height());
    plan.transport = QRectF(QPointF(kDeckPad, keyTop + keyRow - p.transport.height()), p.transport);
    // The flexible spacer gives way first; then the pads keep their 12 from the keys.
    const double padsX = std::max(kDeckPad + column - p.pads.width(),
                                  kDeckPad + p.transport.width() + kKeyRowSpacing);
    plan.pads = QRectF(QPointF(padsX, keyTop + keyRow - p.pads.height()), p.pads);
    const double perform = std::max(p.jog + kPerformSpacing + keyRow, p.tempo.height());
    plan.height = top + perform + kDeckPad;
    return plan;
}

double mixerHeight(double rows, double crossfader, double spacing)
{
    return kMixerPadY + rows + spacing + spacing + crossfader + kMixerPadY;
}

std::pair<int, int> shownDecks(const Input& in)
{
    if (!in.fourDecks)
        return {0, 1};
    return {in.leftDeck >= 0 && in.leftDeck < 4 ? in.leftDeck : 0,
            in.rightDeck >= 0 && in.rightDeck < 4 ? in.rightDeck : 1};
}

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

    // The deck row at its ideal height, the taller of the decks and the
    // mixer: the decks stand at theirs, top-aligned; the mixer fills the row.
    const double deckRow = std::max(in.deckHeight, in.mixerHeight);
    const double deckHeight = in.deckHeight > 0 ? in.deckHeight : deckRow;
    const double deckWidth = std::max(0.0, (width - in.mixerWidth - 2 * kRowSpacing) / 2);
    r.left = QRectF(x, y, deckWidth, deckHeight);
    r.mixer = QRectF(r.left.right() + kRowSpacing, y, in.mixerWidth, deckRow);
    r.right = QRectF(r.mixer.right() + kRowSpacing, y, deckWidth, deckHeight);
    std::tie(r.leftDeck, r.rightDeck) = shownDecks(in);
    if (in.fourDecks) {
        // Over each deck's top trailing corner, moved 14 left and 8 up.
        const auto tabsOver = [&in](const QRectF& deck) {
            return QRectF(deck.right() - in.tabs.width() - 14, deck.top() - 8, in.tabs.width(), in.tabs.height());
        };
        r.leftTabs = tabsOver(r.left);
        r.rightTabs = tabsOver(r.right);
    }
    y += deckRow + kRowSpacing;

    // The module row takes what the column has left.
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
