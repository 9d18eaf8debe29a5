#pragma once
// Meters and live readings published by the mix engine (the only writer, on the
// audio thread) and polled by the models and views on the main thread.
#include "audio/AtomicCells.h"

#include <cstddef>
#include <vector>

namespace zelvo {

class MixerState {
public:
    // Cells for `channels` channels. Not on the audio thread.
    explicit MixerState(int channels);
    MixerState(const MixerState&) = delete;
    MixerState& operator=(const MixerState&) = delete;

    // Number of channels. Any thread.
    std::size_t channelCount() const noexcept { return channelPeak.size(); }

    // Per channel: peak of the processed signal before its fader, falling by 0.92
    // per slice (can read above 1).
    std::vector<AtomicDouble> channelPeak;
    AtomicDouble masterPeakL{0.0}, masterPeakR{0.0}; // after limiter and clipping
    AtomicDouble cuePeak{0.0};                       // left headphone channel
    AtomicDouble dspLoad{0.0};                       // smoothed render time / buffer time
    AtomicInt masterDeck{-1};                        // the tempo master, −1 none
    AtomicDouble masterBPM{0.0};                     // 0 until a master with a grid exists
    // Per channel: the deck's tempo times its sync correction.
    std::vector<AtomicDouble> effectiveTempo;
    AtomicDouble phaseError{0.0}; // beats, −0.5…0.5, last synced playing deck minus master
    AtomicBool recording{false};
    AtomicDouble recordedSeconds{0.0};
    // Frames the recorder had to drop because its writer fell behind, and
    // whether the recording in progress (or the last one) failed on disk. Written
    // by the recorder; see Recorder.
    AtomicInt recordingDroppedFrames{0};
    AtomicBool recordingFailed{false};
};

} // namespace zelvo
