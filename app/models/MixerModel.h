#pragma once
// The main-thread model of the four-channel mixer: crossfader, master and
// headphone section, colour and beat effects and limiter, plus its four
// channels, mirrored into the engine's `MixerParams` cells. Held weakly, so the
// engine can be rebuilt under it; `bind` pushes the whole mixer into new cells.
//
// Each property notifies when its value changes, and stores into its cell on
// every assignment (also an unchanged one) while the mixer is bound. The
// direct-out cells of `MixerParams` belong to others and are never written
// here.
//
// The one-shot requests (tempo master, the drop of deck 2, the aligned start)
// are asked of the engine by others; what an engine had not rendered when its
// output stopped is kept here (`carryUnrendered`) and asked of the next one:
// the tempo master as soon as it is bound, the drop and the aligned start once
// the decks they act on are back on it (`releaseDrop`, `releaseAlignedStart`),
// since the new engine's first render would act on decks that do not play
// yet.
//
// Main thread only.
#include "audio/BeatFX.h"
#include "audio/ColorFX.h"
#include "audio/MixerParams.h"
#include "models/ChannelModel.h"

#include <QObject>
#include <array>
#include <memory>
#include <optional>

namespace zelvo {

class MixerModel final : public QObject {
    Q_OBJECT

public:
    static constexpr int kChannels = 4;
    // Highest beat-effect length index (the table has nine lengths).
    static constexpr int kLastBeatIndex = 8;

    // Four channels on sides −1, +1, −1, +1 with the initial settings. Main thread.
    explicit MixerModel(QObject* parent = nullptr);

    // Takes the cells (weakly), binds each channel to its cells and stores every
    // mixer control. Main thread.
    void bind(const std::shared_ptr<MixerParams>& params);
    // The cells this mixer writes; null when unbound or the engine is gone. Main thread.
    std::shared_ptr<MixerParams> params() const { return params_.lock(); }
    // A drop-in of deck 2 waits for the engine: bound and `dropOffset` holds a
    // number, or a drop carried over from an engine that stopped before it
    // rendered it. Main thread.
    bool dropArmed() const;

    // Arms the drop of deck 2 (`offset`: seconds of deck 1's timeline at which
    // the take's time 0 lies); skipped while unbound. Main thread.
    void armDrop(double offset);
    // Withdraws an armed drop, also one carried over. Main thread.
    void disarmDrop();
    // Asks the engine to start deck 0 or 1 in the other's bar phase at its
    // next render; skipped while unbound. Main thread.
    void askAlignedStart(int deck);
    // Takes back an aligned start of `deck` not yet rendered, also one carried
    // over. Main thread.
    void withdrawAlignedStart(int deck);

    // Once the bound engine no longer renders (its output stopped): takes the
    // one-shot requests it has not rendered out of its cells, to ask them of
    // the next engine. Main thread.
    void carryUnrendered();
    // The drop and the aligned start carried over, waiting for their decks.
    std::optional<double> carriedDrop() const { return carried_.drop; }
    std::optional<int> carriedAlignedStart() const { return carried_.alignStart; }
    // Asks the bound engine for the carried drop or aligned start; nothing
    // while unbound or when none is carried. Main thread.
    void releaseDrop();
    void releaseAlignedStart();

    // Channel i (0…3), driving deck i. Main thread.
    ChannelModel& channel(int i) const { return *channels_[std::size_t(i)]; }
    const std::array<ChannelModel*, kChannels>& channels() const { return channels_; }

    double crossfader() const { return crossfader_; }
    double crossfaderCurve() const { return crossfaderCurve_; }
    double master() const { return master_; }
    double cueMix() const { return cueMix_; }
    double phones() const { return phones_; }
    ColorFXKind colorFXKind() const { return colorFXKind_; }
    double colorFXParameter() const { return colorFXParameter_; }
    BeatFXKind beatFXKind() const { return beatFXKind_; }
    int beatFXBeatIndex() const { return beatFXBeatIndex_; }
    double beatFXLevel() const { return beatFXLevel_; }
    bool beatFXOn() const { return beatFXOn_; }
    int beatFXTarget() const { return beatFXTarget_; }
    bool limiter() const { return limiter_; }

    // Main thread. Each stores into its cell on every assignment while bound.
    void setCrossfader(double value);
    void setCrossfaderCurve(double value);
    void setMaster(double value);
    void setCueMix(double value);
    void setPhones(double value);
    void setColorFXKind(ColorFXKind kind);
    void setColorFXParameter(double value);
    void setBeatFXKind(BeatFXKind kind);
    // Clamped to the beat-length table (0…8); the cell receives the length in beats.
    void setBeatFXBeatIndex(int index);
    void setBeatFXLevel(double value);
    void setBeatFXOn(bool on);
    // 0 the master, 1…4 a channel.
    void setBeatFXTarget(int target);
    void setLimiter(bool on);

signals:
    void crossfaderChanged();
    void crossfaderCurveChanged();
    void masterChanged();
    void cueMixChanged();
    void phonesChanged();
    void colorFXKindChanged();
    void colorFXParameterChanged();
    void beatFXKindChanged();
    void beatFXBeatIndexChanged();
    void beatFXLevelChanged();
    void beatFXOnChanged();
    void beatFXTargetChanged();
    void limiterChanged();

private:
    std::array<ChannelModel*, kChannels> channels_;
    double crossfader_ = 0.0;
    double crossfaderCurve_ = 0.0;
    double master_ = 0.8;
    double cueMix_ = -1.0;
    double phones_ = 0.7;
    ColorFXKind colorFXKind_ = ColorFXKind::filter;
    double colorFXParameter_ = 0.3;
    BeatFXKind beatFXKind_ = BeatFXKind::echo;
    int beatFXBeatIndex_ = 2;
    double beatFXLevel_ = 0.6;
    bool beatFXOn_ = false;
    int beatFXTarget_ = 0;
    bool limiter_ = true;
    std::weak_ptr<MixerParams> params_;
    struct Carried {
        std::optional<int> master;
        std::optional<double> drop;
        std::optional<int> alignStart;
    };
    Carried carried_;
};

} // namespace zelvo
