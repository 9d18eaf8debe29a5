#include "ui/stage/JogDisplay.h"

#include "ui/stage/DeckLane.h"

#include "state/AppModel.h"
#include "audio/AudioIO.h"
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"

namespace zelvo::stage {

JogInput jogInput(const AppModel& model, const DeckModel& deck)
{
    JogInput in;
    const DeckModel::Live& live = deck.live();
    in.loaded = live.loaded;
    in.playing = live.playing;
    in.jogTouched = live.jogTouched;
    in.isAI = deck.isAI();
    if (const auto voice = deck.voice()) {
        in.hasVoice = true;
        in.position = voice->state().position.load();
        in.duration = voice->state().duration.load();
        in.cuePoint = voice->state().cuePoint.load();
    }
    if (const auto& track = deck.track()) {
        in.gridBpm = track->grid ? track->grid->bpm : 0;
        in.key = track->key;
        if (track->outpaint)
            in.seam = track->outpaint->seam;
    }
    in.keyShift = deck.keyShift();
    in.ratio = liveTempoRatio(model, deck);
    return in;
}

JogDisplay::JogDisplay(AppModel& model, DeckModel& deck, kit::UiEnv env, QWidget* parent)
    : FaceWidget(env, parent), model_(model), deck_(deck), timeline_(this, env.liveClock, kFps)
{
    setObjectName(QStringLiteral("deckPanel.%1.jog").arg(deck.index()));
    resizeToDesign();
    for (auto signal : {&DeckModel::trackChanged, &DeckModel::keyShiftChanged, &DeckModel::tempoFaderChanged,
                        &DeckModel::tempoRangeChanged, &DeckModel::voiceChanged})
        repaintOn(&deck_, signal);
    connect(&deck_, &DeckModel::liveChanged, this, [this] {
        follow();
        update();
    });
    follow();
}

bool JogDisplay::animating() const
{
    return !env().snapshotMode && (deck_.live().playing || deck_.live().jogTouched);
}

void JogDisplay::follow()
{
    timeline_.setActive(animating());
}

void JogDisplay::paintFace(kit::Canvas& canvas)
{
    const JogInput in = jogInput(model_, deck_);
    paintJog(canvas, designSize(), in);
    paintJogCentre(canvas, designSize(), jogCentre(in));
}

} // namespace zelvo::stage
