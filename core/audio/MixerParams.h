#pragma once
// Every mixer control as a single-word cell: written by the main thread (the
// mixer and channel models, the audio system, the application core, the
// generation workflow, the transition model), read by the mix engine once per
// render slice. The one-shot requests (`masterRequest`, `dropOffset`,
// `alignStart`) are set by the main thread and written back to their sentinel by
// the audio thread, or by the main thread taking a request back before it is
// rendered; `lockOffset` belongs to the engine (the main thread
// only clears it, when a deck starts a new timeline).
#include "audio/AtomicCells.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace zelvo {

// The controls of one mixer channel. Shared through std::shared_ptr so a channel
// model can hold it weakly.
class ChannelParams {
public:
    // A channel on crossfader side `crossfaderAssign` (−1 A, 0 thru, +1 B). Not on
    // the audio thread.
    explicit ChannelParams(int crossfaderAssign);
    ChannelParams(const ChannelParams&) = delete;
    ChannelParams& operator=(const ChannelParams&) = delete;

    AtomicDouble trim{0.0};     // −1…1 through trimGain
    AtomicDouble high{0.0};     // −1…1 through isolatorGain
    AtomicDouble mid{0.0};
    AtomicDouble low{0.0};
    AtomicDouble colorFX{0.0};  // −1…1; below 0.02 in magnitude the effect is bypassed
    AtomicDouble fader{0.8};    // 0…1 through faderGain
    AtomicBool cue{false};      // to the headphone cue bus
    AtomicBool sync{false};     // the deck follows the tempo master
    AtomicInt crossfaderAssign; // −1 side A, 0 thru, +1 side B
};

// The whole mixer. Shared through std::shared_ptr: the engine owns it, the
// models hold it weakly.
class MixerParams {
public:
    // `channels` channels: even indices on side A, odd ones on side B. Not on the
    // audio thread.
    explicit MixerParams(int channels);
    MixerParams(const MixerParams&) = delete;
    MixerParams& operator=(const MixerParams&) = delete;

    // Channel `i` (from 0); i must be below channelCount(). Any thread.
    ChannelParams& channel(std::size_t i) const noexcept { return *channels[i]; }
    // Number of channels. Any thread.
    std::size_t channelCount() const noexcept { return channels.size(); }

    const std::vector<std::shared_ptr<ChannelParams>> channels;

    AtomicDouble crossfader{0.0};       // −1 full A … +1 full B
    AtomicDouble crossfaderCurve{0.0};  // 0 constant power … 1 sharp cut
    AtomicDouble master{0.8};           // 0…1 through faderGain
    AtomicDouble cueMix{-1.0};          // −1 cue only … +1 master only
    AtomicDouble phones{0.7};           // 0…1 through faderGain
    AtomicInt colorFXKind{0};           // ColorFXKind raw value; others play the filter
    AtomicDouble colorFXParameter{0.3}; // 0…1, filter resonance
    AtomicInt beatFXKind{0};            // BeatFXKind raw value; others play the echo
    AtomicDouble beatFXBeats{0.5};      // effect length in beats
    AtomicDouble beatFXLevel{0.6};      // 0…1
    AtomicBool beatFXOn{false};
    AtomicInt beatFXTarget{0};          // 0 master, n = channel index n − 1
    AtomicInt masterRequest{-1};        // one-shot: make this deck (0…3) the tempo master
    AtomicBool limiter{true};
    AtomicBool directOuts{false};       // decks 1 and 2 unmixed to the two output pairs
    AtomicBool directMute{false};       // silences the direct outputs
    AtomicDouble dropOffset;            // one-shot, seconds of deck 1's timeline; NaN none
    AtomicDouble lockOffset;            // drop lock between decks 1 and 2; NaN none
    AtomicInt alignStart{-1};           // one-shot: start deck 0 or 1 in the other's bar phase
};

} // namespace zelvo
