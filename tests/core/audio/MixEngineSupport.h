#pragma once
// Drives a whole mix engine in tests: decks loaded with generated material,
// rendering in slices into captured output.
#include "audio/MixEngine.h"

#include <functional>
#include <vector>

namespace zelvo::test {

// Captured output buses: 0/1 master, 2/3 headphones (or the direct outs).
struct EngineOutput {
    std::vector<float> ch[4];
    std::size_t frames() const { return ch[0].size(); }
};

// A stereo buffer of `seconds` whose samples are `wave(i)` on both sides.
TrackBufferRef generatedBuffer(double seconds, double sampleRate, const std::function<float(std::int64_t)>& wave);
// A sine of `freq` Hz at amplitude `amp`.
TrackBufferRef sineBuffer(double seconds, double sampleRate, double freq, float amp);

// Loads `buffer` on deck `i`, optionally with a beat grid, with key lock off so
// the deck reads its track directly, and renders nothing yet.
void loadDeck(MixEngine& engine, int i, const TrackBufferRef& buffer, double bpm = 0.0, double firstBeat = 0.0);
// Sends a command to deck `i` and fails the test when the ring refused it.
void send(MixEngine& engine, int i, const DeckCommand& command);

// Renders `frames` in calls of `block` frames, `buffers` output buffers each,
// appending what came out.
void renderInto(MixEngine& engine, EngineOutput& out, int frames, int block, int buffers = 4);
EngineOutput render(MixEngine& engine, int frames, int block = 256, int buffers = 4);

// Largest magnitude of `v` from index `from` on.
float peakOf(const std::vector<float>& v, std::size_t from = 0);

} // namespace zelvo::test
