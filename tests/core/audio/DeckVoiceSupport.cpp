#include "DeckVoiceSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace zelvo::test {

TrackBufferRef rampBuffer(std::int64_t frames, double sampleRate, float scale)
{
    TrackBufferRef b(frames, sampleRate);
    for (std::int64_t i = 0; i < frames; ++i) {
        b->left[i] = float(i) * scale;
        b->right[i] = -float(i) * scale;
    }
    return b;
}

TrackBufferRef busyMusic(double seconds, double sampleRate)
{
    TrackBufferRef b(std::int64_t(seconds * sampleRate), sampleRate);
    for (std::int64_t i = 0; i < b->frames; ++i) {
        const double t = double(i);
        b->left[i] = float(0.3 * std::sin(t * 0.031) + 0.2 * std::sin(t * 0.0071) * ((i / 4000) % 2 ? 1.0 : 0.3));
        b->right[i] = float(0.3 * std::sin(t * 0.027) - 0.1 * std::sin(t * 0.19));
    }
    return b;
}

Rendered renderFrames(DeckVoice& voice, int frames, int block, bool randomBlocks, unsigned seed)
{
    Rendered r;
    r.left.assign(std::size_t(frames), 0.0f);
    r.right.assign(std::size_t(frames), 0.0f);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> size(1, block);
    for (int at = 0; at < frames;) {
        const int n = std::min(randomBlocks ? size(rng) : block, frames - at);
        voice.render(n, r.left.data() + at, r.right.data() + at);
        at += n;
    }
    return r;
}

void sendOk(DeckVoice& voice, const DeckCommand& command) { ASSERT_TRUE(voice.send(command)); }

void loadNow(DeckVoice& voice, const TrackBufferRef& buffer)
{
    sendOk(voice, DeckCommand::load(buffer, false));
    tick(voice, 1);
}

void tick(DeckVoice& voice, int frames)
{
    std::vector<float> l(static_cast<std::size_t>(frames)), r(static_cast<std::size_t>(frames));
    voice.render(frames, l.data(), r.data());
}

} // namespace zelvo::test
