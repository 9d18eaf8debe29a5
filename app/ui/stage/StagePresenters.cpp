#include "ui/stage/StagePresenters.h"

#include "models/TempoRange.h"
#include "ui/kit/Palette.h"
#include "ui/stage/DeckCardPieces.h"

#include <algorithm>
#include <cmath>

namespace zelvo::stage {

std::vector<int> deckOrder(bool fourDecks)
{
    return fourDecks ? std::vector<int>{0, 1, 2, 3} : std::vector<int>{0, 1};
}

bool isTargeted(int deck, int leftDeck, int rightDeck)
{
    return deck == leftDeck || deck == rightDeck;
}

double laneHeight(double screenHeight, bool browsing, bool fourDecks)
{
    const double extra = fourDecks ? 96 : 0;
    const double rest = browsing ? 330 : 642;
    const double h = (screenHeight - 28 - 40 - rest - extra) * 0.5;
    return std::max(64.0, std::min(112.0, h));
}

double laneFrameHeight(double expandedHeight, bool expanded)
{
    return expanded ? expandedHeight : kFoldedLane;
}

bool laneIsTall(double expandedHeight, bool expanded)
{
    return expanded && expandedHeight >= 80;
}

StageFit fitStage(double height, double above, double leastAbove, double middle, double compactMiddle,
                  bool browsing)
{
    StageFit fit;
    if (browsing) {
        fit.browserMinimum = kBrowserMinimumBrowsing;
        fit.leastHeight = std::ceil(leastAbove + kStageSpacing + kBrowserMinimumBrowsing + kStageMargin);
        return fit;
    }
    fit.leastHeight = std::ceil(leastAbove + kStageSpacing + compactMiddle + kStageMargin);
    // What is left under the middle row for the browser, with its gap.
    const double rest = height - above - kStageSpacing - middle - kStageMargin;
    const double browser = rest - kStageSpacing;
    if (browser >= kBrowserMinimum)
        return fit;
    if (browser >= kBrowserLeast) {
        fit.browserMinimum = std::floor(browser);
        return fit;
    }
    fit.browserShown = false;
    fit.browserMinimum = 0;
    fit.compactStrip = rest < 0;
    return fit;
}

HeaderRows headerRows(double height, bool tall)
{
    HeaderRows rows;
    if (!tall) {
        rows.row1 = 6;
        rows.row1Height = 17;
        rows.row2 = rows.row1 + rows.row1Height + 2;
        rows.row2Height = 13;
        rows.bottom = rows.row2 + rows.row2Height;
        return rows;
    }
    // From the tightest form (80 points) to the roomy one (112 points).
    const double f = std::isfinite(height)
                         ? std::clamp((height - kShortestTallHeader) / (kTallHeader - kShortestTallHeader), 0.0, 1.0)
                         : 1.0;
    const auto mix = [f](double tight, double roomy) { return tight + (roomy - tight) * f; };
    const double pad = mix(4, 10);
    const double gap = mix(3, 6);
    rows.row1 = pad;
    rows.row1Height = mix(21, 22);
    rows.row2 = rows.row1 + rows.row1Height + gap;
    rows.row2Height = mix(16, 18);
    rows.strip = rows.row2 + rows.row2Height + gap;
    rows.stripHeight = mix(14, 22);
    rows.row3 = rows.strip + rows.stripHeight + gap;
    rows.row3Height = 12;
    rows.bottom = rows.row3 + rows.row3Height;
    return rows;
}

HeaderRow3 headerRow3(double width, bool phraseFrame, double letterWidth)
{
    constexpr double kPad = 12, kBoxes = 14 + 3 * 10 + 3 * 3, kSpacing = 6;
    HeaderRow3 row;
    row.partWidth = 6 + 3 + std::max(0.0, letterWidth);
    double x = kPad + kBoxes + (phraseFrame ? 3 + 70 : 0) + kSpacing;
    for (double& left : row.part) {
        left = x;
        x += row.partWidth + 4;
    }
    row.chipsLeft = row.part[2] + row.partWidth + 2 * kSpacing;
    row.chipsRight = width - kPad;
    return row;
}

int chipsThatFit(const std::vector<double>& widths, double room, double gap)
{
    int count = int(widths.size());
    while (count > 0) {
        double used = 0;
        for (int i = 0; i < count; ++i)
            used += widths[std::size_t(i)] + (i > 0 ? gap : 0);
        if (used <= room)
            break;
        --count;
    }
    return count;
}

FaceplateFit faceplateFit(double w, double h)
{
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h))
        return {};
    const double s = std::min(w / 1600, h / 1080);
    return {s, std::clamp(w / s, 1600.0, 2400.0), std::clamp(h / s, 1080.0, 1500.0)};
}

bool usableGrid(const std::optional<BeatGrid>& grid)
{
    return grid && grid->isValid() && std::isfinite(grid->firstBeat) && grid->beatsPerBar >= 1;
}

BeatFace beatFace(double position, const std::optional<BeatGrid>& grid, bool playing)
{
    BeatFace face;
    if (!usableGrid(grid) || !std::isfinite(position))
        return face;
    const double beats = (position - grid->firstBeat) / grid->beatLength();
    const auto perBar = grid->beatsPerBar;
    const double index = std::floor(beats + 0.000001);
    const double inBar = index - std::floor(index / double(perBar)) * double(perBar);
    const int beat = int(inBar) + 1;
    if (playing && beat <= 4) {
        face.beat = beat;
        face.litFirst = beat == 1;
    }
    if (!playing)
        return face;
    face.showPhrase = true;
    const double bars = beats / double(perBar);
    const double left = 16.0 - std::trunc(std::fmod(bars, 16.0));
    if (left < 5) {
        face.phrase = QStringLiteral("phrase in %1").arg(int(left));
        face.phraseUrgent = left < 2;
    }
    return face;
}

QString keyText(const std::optional<MusicalKey>& key, int shift)
{
    if (!key)
        return QStringLiteral("\u2014");
    return shiftedKeyText(*key, shift);
}

HeaderFace headerFace(const HeaderInputs& in)
{
    HeaderFace face;
    face.badge = QString::number(in.deck + 1);
    face.badgeFill = in.targeted ? kit::Stage::paper() : kit::withAlpha(kit::Stage::ash(), 0.6);
    face.modelTag = in.isAI;
    if (in.loading)
        face.title = QStringLiteral("loading\u2026");
    else if (in.hasTrack)
        face.title = in.title;
    else
        face.title = in.isAI ? QStringLiteral("zelvo-0's deck") : QStringLiteral("empty");
    face.titleColor = in.hasTrack ? kit::Stage::paper() : kit::Stage::ashDim();
    face.titleGhost = in.isAI && in.hasTrack ? 1 : 0;

    const double duration = std::isfinite(in.duration) ? in.duration : 0;
    const double position = std::isfinite(in.position) ? in.position : 0;
    double end = in.musicEnd && std::isfinite(*in.musicEnd) ? *in.musicEnd : duration;
    end = std::min(end, duration);
    const double remaining = std::max(0.0, end - position);
    face.clock = duration > 0 ? DeckCard::clock(remaining) : QString();
    face.clockColor = duration > 0 && remaining < 30 && in.playing ? kit::Stage::signal() : kit::Stage::paper();

    if (in.error) {
        face.artist = *in.error;
        face.artistColor = kit::Stage::ghostRed();
    } else {
        face.artist = in.hasTrack ? in.artist : QStringLiteral(" ");
        face.artistColor = kit::Stage::ash();
    }
    const double ratio = std::isfinite(in.tempoRatio) ? in.tempoRatio : 1.0;
    const double bpm = in.hasTrack && std::isfinite(in.gridBpm) ? in.gridBpm * ratio : 0;
    face.tempo = bpm > 0 ? QString::asprintf("%.1f", bpm) : QStringLiteral("\u2014");
    face.key = in.hasTrack ? keyText(in.key, in.keyShift) : QStringLiteral("\u2014");
    face.offset = QString::asprintf("%+.1f%%", (ratio - 1) * 100);
    face.offsetColor = std::fabs(ratio - 1) < 0.0005 ? kit::Stage::ash() : kit::Stage::bone();

    if (in.isAI && in.aiBuffer) {
        const double ahead = std::isfinite(*in.aiBuffer) ? std::min(*in.aiBuffer, 1e9) : 0;
        face.chips.push_back({QStringLiteral("+%1s written").arg(qint64(std::trunc(ahead))), ahead > 20});
    }
    if (in.master)
        face.chips.push_back({QStringLiteral("master"), true});
    if (in.sync)
        face.chips.push_back({QStringLiteral("sync"), true});
    if (in.loop)
        face.chips.push_back({QStringLiteral("loop"), true});
    if (in.slip)
        face.chips.push_back({QStringLiteral("slip"), true});
    return face;
}

} // namespace zelvo::stage
