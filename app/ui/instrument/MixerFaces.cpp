#include "ui/instrument/MixerFaces.h"

#include "audio/GainLaws.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace zelvo::face {

QString stripLabel(int index) { return QStringLiteral("CH%1").arg(index + 1); }

std::optional<int> wholeSeconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= double(INT_MAX))
        return std::nullopt;
    return int(seconds);
}

QString recordSublabel(bool recording, double seconds)
{
    const std::optional<int> s = recording ? wholeSeconds(seconds) : std::nullopt;
    if (!s)
        return QStringLiteral("set");
    return QString::asprintf("%d:%02d", *s / 60, *s % 60);
}

BeatFXLines beatFXLines(BeatFXKind kind, int beatIndex, double masterBPM)
{
    const int i = std::clamp(beatIndex, 0, int(beatFractions.size()) - 1);
    // The C library's "%.0f" (halves to even); no decimal point, so no locale.
    QString tempo = QStringLiteral("---");
    if (masterBPM > 0 && masterBPM < 1e9) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f", masterBPM);
        tempo = QString::fromLatin1(text);
    }
    return {QString::fromUtf8(label(kind).data(), qsizetype(label(kind).size())),
            QString::fromStdString(beatFractionLabel(beatFractions[std::size_t(i)])) + QLatin1Char(' ') + tempo};
}

BeatFXKind cycleKind(BeatFXKind kind, int step)
{
    const int n = int(allBeatFXKinds.size());
    const int i = int(std::find(allBeatFXKinds.begin(), allBeatFXKinds.end(), kind) - allBeatFXKinds.begin());
    return allBeatFXKinds[std::size_t((((i + step) % n) + n) % n)];
}

int stepBeat(int index, int delta)
{
    return std::clamp(index + delta, 0, int(beatFractions.size()) - 1);
}

int BrowseDrag::moveTo(double y)
{
    if (!std::isfinite(y))
        return 0;
    // The movement since the previous event, summed from the drag's start so
    // that many small moves add up exactly as one large one.
    lastY = y;
    carry = -(y - startY) / kPointsPerStep - double(taken);
    int steps = 0;
    while (carry >= 1) {
        ++steps;
        carry -= 1;
    }
    while (carry <= -1) {
        --steps;
        carry += 1;
    }
    taken += steps;
    return steps;
}

std::optional<QUuid> browseStep(const std::vector<QUuid>& ids, const std::optional<QUuid>& selected, int delta)
{
    if (ids.empty())
        return std::nullopt;
    long i = 0;
    if (selected) {
        const auto it = std::find(ids.begin(), ids.end(), *selected);
        if (it != ids.end())
            i = long(it - ids.begin());
    }
    const long j = std::clamp(i + long(delta), 0L, long(ids.size()) - 1);
    return ids[std::size_t(j)];
}

std::array<int, 2> tabDecks(int side) { return side == 0 ? std::array<int, 2>{0, 2} : std::array<int, 2>{1, 3}; }

TabFace tabFace(int deck, int activeDeck, bool playing)
{
    return {QStringLiteral("Deck %1").arg(deck + 1), activeDeck == deck, playing && activeDeck != deck};
}

QString deckSublabel(int deck) { return QStringLiteral("deck %1").arg(deck + 1); }

QString pageCaption(bool mixPage)
{
    return mixPage ? QStringLiteral("auto mix \u00b7 queue") : QStringLiteral("cfx \u00b7 curve \u00b7 limiter");
}

namespace {
bool runningToward(const TransitionModel::Phase& phase, int deck)
{
    return phase.kind != TransitionModel::Phase::Kind::idle && phase.to == deck;
}
} // namespace

MixKeyFace mixKey(int deck, const TransitionModel::Phase& phase, int liveDeck, bool generated)
{
    const bool toward = runningToward(phase, deck);
    MixKeyFace key;
    if (deck == 0) {
        key.label = toward ? QStringLiteral("Cancel") : QStringLiteral("\u25c0 Mix 1");
        key.sublabel = QStringLiteral("human");
    } else {
        key.label = toward ? QStringLiteral("Cancel") : QStringLiteral("Mix 2 \u25b6");
        key.sublabel = generated ? QStringLiteral("zelvo-0") : QStringLiteral("deck 2");
    }
    key.lit = toward || liveDeck == deck;
    key.blink = toward;
    return key;
}

std::array<bool, kMixSlots> mixSlots(const TransitionModel::Phase& phase)
{
    std::array<bool, kMixSlots> lit{};
    if (phase.kind != TransitionModel::Phase::Kind::mixing)
        return lit;
    const double p = std::isfinite(phase.value) ? std::clamp(phase.value, 0.0, 1.0) : 0.0;
    const int count = int(p * kMixSlots);
    for (int j = 0; j < count; ++j)
        lit[std::size_t(phase.to == 1 ? j : kMixSlots - 1 - j)] = true;
    return lit;
}

const std::array<StyleKey, 4>& styleKeys()
{
    static const std::array<StyleKey, 4> keys{{{TransitionStyle::fade, QStringLiteral("FADE"), 50},
                                               {TransitionStyle::bassSwap, QStringLiteral("BASS SWAP"), 62},
                                               {TransitionStyle::filter, QStringLiteral("FILTER"), 50},
                                               {TransitionStyle::echo, QStringLiteral("ECHO OUT"), 50}}};
    return keys;
}

std::optional<long> fitPercent(double score)
{
    if (!std::isfinite(score) || std::abs(score * 100) > 1e9)
        return std::nullopt;
    return std::lround(score * 100);
}

UpNextFace upNext(int queued, int liveDeck, const std::optional<QString>& nextTitle, std::optional<double> score,
                  bool autoQueue)
{
    UpNextFace face;
    face.header = QStringLiteral("UP NEXT \u00b7 %1 QUEUED \u2192 DECK %2").arg(queued).arg(liveDeck == 1 ? 1 : 2);
    if (nextTitle && score) {
        if (const auto fit = fitPercent(*score)) {
            face.fit = QStringLiteral("FIT %1").arg(*fit);
            face.fitGood = *score > 0.7;
        }
    }
    face.titleFound = nextTitle.has_value();
    face.title = nextTitle ? *nextTitle
                           : (autoQueue ? QStringLiteral("AUTO IS LOOKING") : QStringLiteral("TAP + ON A TRACK"));
    return face;
}

} // namespace zelvo::face
