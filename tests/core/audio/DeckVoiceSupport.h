#pragma once
// Helpers for driving a deck voice in tests: ramp buffers whose sample values
// tell their frame index, and rendering in blocks.
#include "audio/DeckVoice.h"

#include <vector>

namespace zelvo::test {

// A buffer of `frames` whose left sample i is i × scale and right sample −i × scale.
TrackBufferRef rampBuffer(std::int64_t frames, double sampleRate, float scale = 1.0f);

// `seconds` of busy stereo music-like signal (sines, one of them gated), so
// that a time-pitch unit's output is never near silent for long.
TrackBufferRef busyMusic(double seconds, double sampleRate);

struct Rendered {
    std::vector<float> left, right;
};

// Renders `frames` in blocks of `block` (random lengths 1…block when `randomBlocks`).
Rendered renderFrames(DeckVoice& voice, int frames, int block, bool randomBlocks = false, unsigned seed = 1);

// Sends a command and fails the test when the ring refused it.
void sendOk(DeckVoice& voice, const DeckCommand& command);

// Loads `buffer` (a new reference) and renders one tiny block so it takes effect.
void loadNow(DeckVoice& voice, const TrackBufferRef& buffer);

// One render of `frames` (default 64) to apply queued commands.
void tick(DeckVoice& voice, int frames = 64);

} // namespace zelvo::test
