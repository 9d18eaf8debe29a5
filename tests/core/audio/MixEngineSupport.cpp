#include "MixEngineSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace zelvo::test {

TrackBufferRef generatedBuffer(double seconds, double sampleRate, const std::function<float(std::int64_t)>& wave)
{
    const auto frames = std::int64_t(seconds * sampleRate);
    TrackBufferRef b(frames, sampleRate);
    for (std::int64_t i = 0; i < frames; ++i)
        b->left[i] = b->right[i] = wave(i);
    return b;
}

TrackBufferRef sineBuffer(double seconds, double sampleRate, double freq, float amp)
{
    return generatedBuffer(seconds, sampleRate, [=](std::int64_t i) {
        return amp * float(std::sin(2.0 * std::numbers::pi * freq * double(i) / sampleRate));
    });
}

void send(MixEngine& engine, int i, const DeckCommand& command)
{
    ASSERT_TRUE(engine.deck(i)->send(command));
}

void loadDeck(MixEngine& engine, int i, const TrackBufferRef& buffer, double bpm, double firstBeat)
{
    send(engine, i, DeckCommand::load(buffer, false));
    send(engine, i, DeckCommand::keyLock(false));
    if (bpm > 0.0)
        send(engine, i, DeckCommand::setGrid(bpm, firstBeat));
}

void renderInto(MixEngine& engine, EngineOutput& out, int frames, int block, int buffers)
{
    std::vector<float> scratch[4];
    for (auto& s : scratch)
        s.assign(std::size_t(block), 0.0f);
    for (int done = 0; done < frames;) {
        const int n = std::min(block, frames - done);
        float* ptrs[4] = {scratch[0].data(), scratch[1].data(), scratch[2].data(), scratch[3].data()};
        for (auto& s : scratch)
            std::fill(s.begin(), s.end(), 0.0f);
        engine.render(n, ptrs, buffers);
        for (int c = 0; c < 4; ++c)
            out.ch[c].insert(out.ch[c].end(), scratch[c].begin(), scratch[c].begin() + n);
        done += n;
    }
}

EngineOutput render(MixEngine& engine, int frames, int block, int buffers)
{
    EngineOutput out;
    renderInto(engine, out, frames, block, buffers);
    return out;
}

float peakOf(const std::vector<float>& v, std::size_t from)
{
    float p = 0.0f;
    for (std::size_t i = from; i < v.size(); ++i)
        p = std::max(p, std::abs(v[i]));
    return p;
}

} // namespace zelvo::test
