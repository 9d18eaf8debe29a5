#include "ui/stage/MixerPresenters.h"

#include "audio/AudioIO.h"
#include "audio/GainLaws.h"
#include "audio/MixEngine.h"
#include "audio/MixerState.h"
#include "models/AudioSystem.h"
#include "ui/kit/Palette.h"

#include <algorithm>

namespace zelvo::stage {

std::vector<int> mixerOrder(bool fourDecks)
{
    return fourDecks ? std::vector<int>{2, 0, 1, 3} : std::vector<int>{0, 1};
}

MixerSizes mixerSizes(bool fourDecks)
{
    MixerSizes s;
    s.spacing = fourDecks ? 6 : 12;
    s.crossfaderLength = fourDecks ? 210 : 170;
    s.stripWidth = fourDecks ? 50 : 62;
    s.knobSize = fourDecks ? 21 : 24;
    s.trimSize = s.knobSize - 3;
    s.cueWidth = fourDecks ? 36 : 44;
    s.labelBase = fourDecks ? 24 : 27;
    s.partDots = fourDecks;
    s.assignRow = fourDecks;
    return s;
}

QColor bandTint(double value)
{
    return value <= -0.98 ? kit::Stage::rbRed() : kit::Stage::rbBlue();
}

QString colorFXName(ColorFXKind kind)
{
    switch (kind) {
    case ColorFXKind::filter: return QStringLiteral("filter");
    case ColorFXKind::crush: return QStringLiteral("crush");
    case ColorFXKind::noise: return QStringLiteral("noise");
    case ColorFXKind::space: return QStringLiteral("space");
    }
    return QStringLiteral("filter");
}

QString beatFXName(BeatFXKind kind)
{
    switch (kind) {
    case BeatFXKind::echo: return QStringLiteral("echo");
    case BeatFXKind::roll: return QStringLiteral("roll");
    case BeatFXKind::flanger: return QStringLiteral("flanger");
    case BeatFXKind::reverb: return QStringLiteral("reverb");
    }
    return QStringLiteral("echo");
}

FXReadoutFace fxReadoutFace(BeatFXKind kind, int beatIndex, int target, bool on)
{
    FXReadoutFace face;
    face.kind = beatFXName(kind);
    const int index = std::clamp(beatIndex, 0, int(beatFractions.size()) - 1);
    const QString length = QString::fromStdString(beatFractionLabel(beatFractions[std::size_t(index)]));
    const QString where = target == 0 ? QStringLiteral("mst") : QStringLiteral("ch%1").arg(target);
    face.detail = length + QStringLiteral(" \u00b7 ") + where;
    face.on = on;
    face.fill = on ? kit::Stage::rbAmber() : kit::Stage::ink();
    face.kindColour = on ? kit::Stage::ink() : kit::Stage::bone();
    face.detailColour = on ? kit::withAlpha(kit::Stage::ink(), 0.8) : kit::Stage::ash();
    return face;
}

std::vector<std::pair<QString, double>> rowLabels(ColorFXKind kind, double labelBase)
{
    return {{QStringLiteral("trim"), labelBase - 6},
            {QStringLiteral("hi"), labelBase - 3},
            {QStringLiteral("mid"), labelBase - 3},
            {QStringLiteral("low"), labelBase - 3},
            {colorFXName(kind), labelBase - 3}};
}

double deckGhostOffset(int index)
{
    return index == 1 ? 0.8 : 0.0;
}

std::vector<AssignKey> assignKeys(int assign)
{
    return {{-1, QStringLiteral("a"), assign == -1}, {0, QStringLiteral("t"), assign == 0},
            {1, QStringLiteral("b"), assign == 1}};
}

QString djmSource(int deck)
{
    return deck == 1 ? QStringLiteral("zelvo-0") : QStringLiteral("records");
}

QString djmRoute(const std::map<int, QString>& routes, int deck)
{
    const auto it = routes.find(deck);
    return it == routes.end() ? QStringLiteral("\u2014") : it->second;
}

double channelPeak(const AudioSystem& audio, int channel)
{
    const auto& io = audio.io();
    if (!io || channel < 0)
        return 0;
    const MixerState& state = *io->engine().state();
    return std::size_t(channel) < state.channelCount() ? state.channelPeak[std::size_t(channel)].load() : 0.0;
}

std::pair<double, double> masterPeaks(const AudioSystem& audio)
{
    const auto& io = audio.io();
    if (!io)
        return {0, 0};
    const MixerState& state = *io->engine().state();
    return {state.masterPeakL.load(), state.masterPeakR.load()};
}

} // namespace zelvo::stage
