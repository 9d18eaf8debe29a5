#pragma once
// The waveform views' scene over the running application: the state root's
// decks, zoom and mixer and the generation workflow's pending fork. Header
// only; the screens build it. Main thread.
#include "state/AppModel.h"
#include "generation/OutpaintModel.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/kit/waves/WaveScene.h"

#include "audio/DeckVoice.h"

#include <QPointer>

namespace zelvo::kit {

class AppWaveScene final : public WaveScene {
public:
    // `outpaint` may be null (no workflow: nothing is pending). `isAudible` says
    // whether a deck is heard in the mix; `fourDecks` whether the controller
    // layout shows four decks (two when empty).
    AppWaveScene(AppModel& app, OutpaintModel* outpaint, std::function<bool(int)> isAudible,
                 std::function<bool()> fourDecks = {})
        : app_(app), outpaint_(outpaint), isAudible_(std::move(isAudible)), fourDecks_(std::move(fourDecks))
    {
    }

    WaveDeck deck(int index) const override
    {
        WaveDeck d;
        if (index < 0 || index >= AppModel::kDecks)
            return d;
        const DeckModel& m = app_.deck(index);
        d.index = index;
        d.isAI = m.isAI();
        d.loading = m.loading();
        d.livePlaying = m.live().playing;
        d.jogTouched = m.live().jogTouched;
        if (const auto& t = m.track()) {
            d.track = t->id;
            d.grid = t->grid;
            if (t->outpaint)
                d.seam = t->outpaint->seam;
        }
        d.waveform = m.waveform();
        if (const std::shared_ptr<DeckVoice> voice = m.voice()) {
            const DeckState& s = voice->state();
            WaveDeck::Cells c;
            c.loaded = s.loaded.load();
            c.playing = s.playing.load();
            c.position = s.position.load();
            c.duration = s.duration.load();
            c.cuePoint = s.cuePoint.load();
            c.loopStart = s.loopStart.load();
            c.loopEnd = s.loopEnd.load();
            c.loopActive = s.loopActive.load();
            for (std::size_t i = 0; i < c.hotCues.size(); ++i)
                c.hotCues[i] = s.hotCues[i].load();
            d.voice = c;
        }
        const DeckModel::Live& l = m.live();
        d.live = QStringLiteral("%1%2%3%4%5%6:%7").arg(int(l.loaded)).arg(int(l.playing)).arg(int(l.cueing))
                     .arg(int(l.loopActive)).arg(int(l.loopSet)).arg(int(l.jogTouched)).arg(l.parkedAt);
        for (double h : l.hotCues)
            d.live += QLatin1Char(',') + QString::number(h, 'g', 17);
        return d;
    }
    bool fourDecks() const override { return fourDecks_ && fourDecks_(); }
    double waveformZoom() const override { return app_.waveformZoom(); }
    void setWaveformZoom(double zoom) override { app_.setWaveformZoom(zoom); }
    bool anyDeckPlaying() const override { return app_.anyDeckPlaying(); }
    bool isAudible(int deck) const override { return isAudible_ && isAudible_(deck); }
    std::array<bool, 3> partsOff(int deck) const override { return app_.mixer().channel(deck).partsOff(); }
    int masterDeck() const override { return app_.engineLive().masterDeck; }
    std::optional<PendingFork> pending() const override
    {
        if (!outpaint_ || !outpaint_->pendingPlan())
            return std::nullopt;
        PendingFork p;
        p.plan = *outpaint_->pendingPlan();
        p.isExtension = outpaint_->pendingIsExtension();
        if (const auto& source = outpaint_->pendingSource()) {
            p.source = source->track;
            p.mix = source->mix;
            if (source->anchor)
                p.anchor = PendingFork::Anchor{source->anchor->deck, source->anchor->track, source->anchor->trackTime,
                                               source->anchor->bpm};
        }
        return p;
    }
    bool extensionWaiting() const override
    {
        return outpaint_ && outpaint_->busy() && outpaint_->pendingIsExtension();
    }
    bool seek(int deck, double seconds) override
    {
        const std::shared_ptr<DeckVoice> voice = app_.deck(deck).voice();
        return voice && voice->send(DeckCommand::seek(seconds));
    }
    void observe(QObject* context, std::function<void()> changed) override
    {
        QObject::connect(&app_, &AppModel::waveformZoomChanged, context, changed);
        QObject::connect(&app_, &AppModel::engineLiveChanged, context, changed);
        for (int i = 0; i < AppModel::kDecks; ++i) {
            const DeckModel* d = &app_.deck(i);
            QObject::connect(d, &DeckModel::liveChanged, context, changed);
            QObject::connect(d, &DeckModel::waveformChanged, context, changed);
            QObject::connect(d, &DeckModel::trackChanged, context, changed);
            QObject::connect(d, &DeckModel::loadingChanged, context, changed);
            QObject::connect(&app_.mixer().channel(i), &ChannelModel::partsOffChanged, context, changed);
        }
        if (outpaint_) {
            QObject::connect(outpaint_, &OutpaintModel::pendingPlanChanged, context, changed);
            QObject::connect(outpaint_, &OutpaintModel::phaseChanged, context, changed);
        }
    }

private:
    AppModel& app_;
    OutpaintModel* outpaint_;
    std::function<bool(int)> isAudible_;
    std::function<bool()> fourDecks_;
};

} // namespace zelvo::kit
