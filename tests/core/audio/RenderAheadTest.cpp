// Key-locked decks rendered ahead on a worker: the same sound as rendering on
// demand, the published position still what is heard, commands heard after the
// lead, a dry ring that recovers on time, and no stale output after a new run.
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"

#include "DeckVoiceSupport.h"
#include "support/RealtimeGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

constexpr double kAheadRate = 48000.0;

TrackBufferRef music(double seconds)
{
    return busyMusic(seconds, kAheadRate);
}

struct Take {
    std::vector<float> left, right;
    std::vector<double> position;
    std::vector<bool> playing;
    std::int64_t dry = 0;
    std::int64_t late = 0; // frames a run was held past its start pad
};

// Plays `source`, at its own rate, from 0.5 s at `tempoAt(block index)` (key-locked, or a key
// shift only) for `blocks` renders of `block`; ahead: the worker's round runs after each render
// unless `skip(block index)` says the worker was late.
template <typename TempoAt, typename Skip>
Take playAt(const TrackBufferRef& source, bool ahead, int block, int blocks, TempoAt tempoAt, bool keyLock, Skip skip)
{
    DeckVoice voice(source->sampleRate, 4096);
    if (ahead) {
        EXPECT_TRUE(voice.enableRenderAhead());
    }
    loadNow(voice, source);
    sendOk(voice, DeckCommand::keyLock(keyLock));
    sendOk(voice, DeckCommand::seek(0.5));
    sendOk(voice, DeckCommand::play());
    if (!keyLock)
        voice.keyShift().store(1.0);
    Take t;
    std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
    for (int b = 0; b < blocks; ++b) {
        voice.tempo().store(tempoAt(b));
        voice.render(block, l.data(), r.data());
        t.left.insert(t.left.end(), l.begin(), l.end());
        t.right.insert(t.right.end(), r.begin(), r.end());
        t.position.push_back(voice.state().position.load());
        t.playing.push_back(voice.state().playing.load());
        if (ahead && !skip(b))
            voice.serviceAhead();
    }
    t.dry = voice.aheadDryBlocks();
    t.late = voice.aheadLateFrames();
    return t;
}

template <typename Skip>
Take play(const TrackBufferRef& source, bool ahead, int block, int blocks, double tempo, bool keyLock, Skip skip)
{
    return playAt(source, ahead, block, blocks, [tempo](int) { return tempo; }, keyLock, skip);
}

Take play(const TrackBufferRef& source, bool ahead, int block, int blocks, double tempo, bool keyLock)
{
    return play(source, ahead, block, blocks, tempo, keyLock, [](int) { return false; });
}

} // namespace

TEST(RenderAhead, SoundsAsOnDemandFromTheCueToTheTracksEnd)
{
    // From a cue the run starts with its pad of silence, which stays inside
    // the unit's own near-silent start up to 1024-frame slices (nothing of the
    // music is cut and no step follows it); a longer pad (slices of 2048 or
    // 4096 frames) cuts into the music and fades it in. After that the sound
    // and the published position are those on demand, to the track's end:
    // the last frames are heard, and the deck stops where it stops on demand.
    const TrackBufferRef source = music(4.0);
    const TrackBufferRef shortTrack = music(1.6);
    for (int block : {64, 256, 512, 1024, 2048, 4096})
        for (double tempo : {1.06, 0.94, 1.5, 0.6})
            for (bool keyLock : {true, false}) {
                if ((block != 256 && (tempo == 0.94 || tempo == 1.5)) || (block > 1024 && tempo != 1.06))
                    continue;
                SCOPED_TRACE(testing::Message() << "block " << block << " tempo " << tempo << " key lock " << keyLock);
                const bool toTheEnd = tempo == 1.06 || tempo == 0.6;
                const TrackBufferRef& track = toTheEnd ? shortTrack : source;
                const double seconds = toTheEnd ? (1.6 - 0.5) / tempo + 0.2 : 2.0;
                const int blocks = int(seconds * kAheadRate) / block + 4;
                const Take onDemand = play(track, false, block, blocks, tempo, keyLock);
                const Take ahead = play(track, true, block, blocks, tempo, keyLock);
                EXPECT_EQ(ahead.dry, 0);
                const DeckVoice probe(kAheadRate, 4096);
                const int pad = DeckVoice::aheadStartPadFrames(block, kAheadRate);
                const bool fades = pad > probe.aheadQuietFrames();
                EXPECT_EQ(fades, block >= 1024);
                for (int i = 0; i < pad; ++i)
                    ASSERT_EQ(ahead.left[std::size_t(i)], 0.0f) << "the run starts with the start pad";
                float cut = 0.0f, step = 0.0f;
                for (int i = 0; i < pad; ++i)
                    cut = std::max(cut, std::fabs(onDemand.left[std::size_t(i)]));
                for (int i = pad; i < pad + 32; ++i)
                    step = std::max(step, std::fabs(ahead.left[std::size_t(i)]));
                if (block <= 1024) {
                    EXPECT_LT(cut, 0.01f) << "the pad cut into the music";
                }
                EXPECT_LT(step, block <= 1024 ? 0.01f : 0.1f) << "a step after the pad";
                // Through the render in which the deck stops at the end (the
                // fade of its last sample after it is not compared).
                EXPECT_EQ(ahead.playing, onDemand.playing) << "the deck stops in the same render as on demand";
                const std::size_t played = std::size_t(
                    std::find(onDemand.playing.begin(), onDemand.playing.end(), false) - onDemand.playing.begin());
                EXPECT_EQ(played < onDemand.playing.size(), toTheEnd);
                std::size_t differ = 0;
                const std::size_t from = std::size_t(pad + (fades ? DeckVoice::kAheadFadeFrames : 0));
                for (std::size_t i = from; i < std::min(ahead.left.size(), (played + 1) * std::size_t(block)); ++i)
                    differ += ahead.left[i] != onDemand.left[i] || ahead.right[i] != onDemand.right[i];
                EXPECT_EQ(differ, 0u);
                // The position heard, away from the end (on demand it jumps
                // about as the stretcher takes the fade after it).
                const double duration = double(track->frames) / kAheadRate;
                double worst = 0.0;
                for (std::size_t i = std::size_t(pad / block) + 1; i < ahead.position.size(); ++i)
                    if (onDemand.position[i] < duration - 0.3 || i > played)
                        worst = std::max(worst, std::fabs(ahead.position[i] - onDemand.position[i]));
                EXPECT_LT(worst, 1e-9);
            }
}

TEST(RenderAhead, ALateWorkerCostsSilenceOnlyAndTheDeckStaysOnTime)
{
    // The worker misses rounds after renders 100…103; it works two renders
    // ahead, so renders 102…104 are short, counted, silent; then the output
    // missed is skipped, and from render 105 on the deck sounds exactly as on
    // demand. A worker gone for 300 renders
    // makes the deck start a new unit run, which plays once the worker is back.
    const TrackBufferRef source = music(12.0);
    const int block = 256;
    const Take onDemand = play(source, false, block, 400, 1.06, true);
    const Take late = play(source, true, block, 400, 1.06, true, [](int b) { return b >= 100 && b < 104; });
    EXPECT_EQ(late.dry, 3);
    const std::size_t from = 102 * block, to = 105 * block;
    for (std::size_t i = from; i < to; ++i)
        ASSERT_EQ(late.left[i], 0.0f) << i;
    // The sound fades back in after the dry renders, then is the same.
    const std::size_t faded = to + DeckVoice::kAheadFadeFrames;
    for (std::size_t i = to; i < faded; ++i)
        ASSERT_LE(std::fabs(late.left[i]), std::fabs(onDemand.left[i]) + 1e-6f) << i;
    for (std::size_t i = faded; i < late.left.size(); ++i)
        ASSERT_EQ(late.left[i], onDemand.left[i]) << i;
    for (std::size_t b = 105; b < late.position.size(); ++b)
        ASSERT_NEAR(late.position[b], onDemand.position[b], 1e-9);

    const Take gone = play(source, true, block, 800, 1.06, true, [](int b) { return b >= 100 && b < 400; });
    EXPECT_GE(gone.dry, 64);
    EXPECT_LE(gone.dry, 300);
    float after = 0.0f;
    for (std::size_t i = 420 * block; i < gone.left.size(); ++i)
        after = std::max(after, std::fabs(gone.left[i]));
    EXPECT_GT(after, 0.1f) << "the deck plays again";
    const Take again = play(source, true, block, 800, 1.06, true, [](int b) { return b >= 100 && b < 400; });
    EXPECT_EQ(again.dry, gone.dry);
    for (std::size_t b = 1; b < gone.position.size(); ++b)
        ASSERT_GE(gone.position[b], gone.position[b - 1] - 1e-9) << b;
}

TEST(RenderAhead, NoOutputOfAnEarlierRunIsEverPlayed)
{
    // Music, then silence from 2 s. Drop-ins into the silence (each a new unit
    // run), made with the worker on time, late, or not between two drop-ins:
    // from the render that carries one out, nothing of the music made ahead is
    // heard.
    TrackBufferRef source = music(4.0);
    for (std::int64_t i = std::int64_t(2.0 * kAheadRate); i < source->frames; ++i)
        source->left[i] = source->right[i] = 0.0f;
    const int block = 256;
    for (int pattern = 0; pattern < 3; ++pattern) {
        SCOPED_TRACE(pattern);
        DeckVoice voice(kAheadRate, 4096);
        ASSERT_TRUE(voice.enableRenderAhead());
        loadNow(voice, source);
        sendOk(voice, DeckCommand::keyLock(true));
        sendOk(voice, DeckCommand::play());
        voice.tempo().store(1.06);
        std::vector<float> l(block), r(block);
        float music = 0.0f;
        for (int b = 0; b < 200; ++b) {
            voice.render(block, l.data(), r.data());
            voice.serviceAhead();
            for (float x : l)
                music = std::max(music, std::fabs(x));
        }
        ASSERT_GT(music, 0.2f);
        voice.rtDropIn(3.0);
        if (pattern == 2) {
            voice.render(block, l.data(), r.data());
            voice.rtDropIn(2.5);
        }
        float heard = 0.0f;
        for (int b = 0; b < 100; ++b) {
            voice.render(block, l.data(), r.data());
            if (pattern != 1 || b % 3 == 2)
                voice.serviceAhead();
            for (float x : l)
                heard = std::max(heard, std::fabs(x));
        }
        EXPECT_LT(heard, 1e-4f);
        EXPECT_NEAR(voice.state().position.load(), pattern == 2 ? 2.5 + 100.0 * block * 1.06 / kAheadRate : 3.0 + 100 * block * 1.06 / kAheadRate, 0.1);
    }
}

TEST(RenderAhead, AJumpIsHeardAfterTheLeadWhereThePositionSaysSo)
{
    // A hot cue pressed while playing (no new unit run) moves the read head at
    // the next render; the click just after the cue comes out no later than the
    // lead after it does on demand, and where the published position says.
    const double tempo = 1.06;
    TrackBufferRef source(std::int64_t(kAheadRate * 4), kAheadRate);
    const std::int64_t click = std::int64_t(kAheadRate * 3);
    source->left[click] = source->right[click] = 1.0f;
    for (int blockSize : {64, 256}) {
        std::int64_t delay[2] = {0, 0};
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << blockSize << " ahead " << ahead);
            DeckVoice voice(kAheadRate, 4096);
            if (ahead) {
                ASSERT_TRUE(voice.enableRenderAhead());
            }
            loadNow(voice, source);
            sendOk(voice, DeckCommand::quantize(false));
            sendOk(voice, DeckCommand::keyLock(true));
            sendOk(voice, DeckCommand::setHotCue(0, double(click) / kAheadRate - 0.01));
            sendOk(voice, DeckCommand::seek(0.5));
            sendOk(voice, DeckCommand::play());
            voice.tempo().store(tempo);
            std::vector<float> out, l(blockSize), r(blockSize);
            std::vector<double> published;
            const int pressAt = 60;
            for (int b = 0; b < 200; ++b) {
                if (b == pressAt)
                    sendOk(voice, DeckCommand::hotCue(0, true));
                voice.render(blockSize, l.data(), r.data());
                if (ahead)
                    voice.serviceAhead();
                out.insert(out.end(), l.begin(), l.end());
                published.push_back(voice.state().position.load());
            }
            EXPECT_EQ(voice.aheadDryBlocks(), 0);
            std::size_t peak = 0;
            for (std::size_t i = 1; i < out.size(); ++i)
                if (std::fabs(out[i]) > std::fabs(out[peak]))
                    peak = i;
            ASSERT_GT(std::fabs(out[peak]), 0.05f);
            delay[ahead] = std::int64_t(peak) - pressAt * blockSize;
            const std::size_t b = peak / std::size_t(blockSize);
            const double heard = published[b - 1] + double(peak % std::size_t(blockSize)) * tempo / kAheadRate;
            EXPECT_NEAR(heard, double(click) / kAheadRate, 0.004);
        }
        const double lead = DeckVoice(kAheadRate, 4096).aheadLeadFrames(blockSize, tempo) / tempo;
        EXPECT_GE(delay[1], delay[0]);
        EXPECT_LE(double(delay[1] - delay[0]), lead) << "block " << blockSize;
    }
}

TEST(RenderAhead, ADeckPlayingOutItsTrackEndIsStillThePlayingDeck)
{
    // The read head reaches the end a lead before the sound does. Pressed in
    // that window, a hot cue jumps and the published position stays where the
    // click after the cue is heard; CUE returns to the cue point (keeping it)
    // and PLAY pauses, in the same render as on demand.
    const double tempo = 1.06;
    TrackBufferRef track = music(1.6);
    for (std::int64_t i = 0; i < track->frames; ++i) {
        track->left[i] *= 0.05f;
        track->right[i] *= 0.05f;
    }
    const std::int64_t click = std::int64_t(kAheadRate * 0.9);
    track->left[click] = track->right[click] = 1.0f;
    enum class Press { hotCue, cue, play };
    for (int block : {256, 1024}) {
        const std::vector<bool> played = play(track, true, block, 400, tempo, true).playing;
        const int stopAt = int(std::find(played.begin(), played.end(), false) - played.begin());
        ASSERT_LT(stopAt, 400);
        for (Press press : {Press::hotCue, Press::cue, Press::play})
            for (int before : {1, 3}) {
                SCOPED_TRACE(testing::Message() << "block " << block << " press " << int(press) << " " << before
                                                << " renders before the stop");
                const int pressAt = stopAt - before;
                Take take[2];
                for (bool ahead : {false, true}) {
                    DeckVoice voice(kAheadRate, 4096);
                    if (ahead) {
                        ASSERT_TRUE(voice.enableRenderAhead());
                    }
                    loadNow(voice, track);
                    sendOk(voice, DeckCommand::quantize(false));
                    sendOk(voice, DeckCommand::keyLock(true));
                    sendOk(voice, DeckCommand::setHotCue(0, 0.85));
                    sendOk(voice, DeckCommand::seek(0.5));
                    sendOk(voice, DeckCommand::play());
                    voice.tempo().store(tempo);
                    std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                    for (int b = 0; b < pressAt + int(kAheadRate * 0.4) / block; ++b) {
                        if (b == pressAt) {
                            ASSERT_TRUE(voice.state().playing.load()) << "the deck shows it plays";
                            sendOk(voice,
                                   press == Press::hotCue ? DeckCommand::hotCue(0, true)
                                   : press == Press::cue  ? DeckCommand::cue(true)
                                                          : DeckCommand::play());
                        }
                        voice.render(block, l.data(), r.data());
                        if (ahead)
                            voice.serviceAhead();
                        take[ahead].left.insert(take[ahead].left.end(), l.begin(), l.end());
                        take[ahead].position.push_back(voice.state().position.load());
                        take[ahead].playing.push_back(voice.state().playing.load());
                    }
                    EXPECT_EQ(voice.state().cuePoint.load(), 0.0) << "the cue point is kept";
                    if (press != Press::hotCue)
                        continue;
                    std::size_t peak = std::size_t(pressAt * block);
                    for (std::size_t i = peak; i < take[ahead].left.size(); ++i)
                        if (std::fabs(take[ahead].left[i]) > std::fabs(take[ahead].left[peak]))
                            peak = i;
                    ASSERT_GT(std::fabs(take[ahead].left[peak]), 0.08f);
                    const std::size_t b = peak / std::size_t(block);
                    const double heard = take[ahead].position[b - 1] + double(peak % std::size_t(block)) * tempo / kAheadRate;
                    EXPECT_NEAR(heard, double(click) / kAheadRate, 0.004) << "ahead " << ahead;
                }
                if (press != Press::hotCue) {
                    EXPECT_EQ(take[1].playing, take[0].playing) << "the deck stops as on demand";
                }
            }
    }
}

TEST(RenderAhead, TheEngineAndItsWorkerNeverAllocateOrLockUnderCommandStorms)
{
    // Four key-locked decks at different tempos and keys, commands of every kind
    // and drop-ins between slices: with the engine's own worker thread, and with
    // a worker of the test's (marked as real time too, so what the stretchers do
    // on it counts as well).
    std::vector<TrackBufferRef> buffers;
    for (int i = 0; i < 4; ++i)
        buffers.push_back(music(3.0 + i));
    for (MixEngine::RenderAhead mode : {MixEngine::RenderAhead::thread, MixEngine::RenderAhead::manual}) {
        SCOPED_TRACE(int(mode));
        MixEngine engine(kAheadRate, 4096, mode);
        ASSERT_EQ(engine.renderAhead(), mode);
        for (int i = 0; i < MixEngine::deckCount; ++i) {
            DeckVoice& d = *engine.deck(i);
            ASSERT_TRUE(d.rendersAhead());
            sendOk(d, DeckCommand::load(buffers[std::size_t(i)], false));
            sendOk(d, DeckCommand::keyLock(true));
            sendOk(d, DeckCommand::play());
            d.tempo().store(1.0 + 0.02 * (i + 1));
        }
        std::atomic<bool> stop{false};
        std::thread worker;
        if (mode == MixEngine::RenderAhead::manual)
            worker = std::thread([&] {
                AudioThreadScope marked;
                while (!stop.load()) {
                    engine.serviceAhead();
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                }
            });
        std::vector<float> bufs[4];
        for (auto& b : bufs)
            b.assign(4096, 0.0f);
        float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
        std::mt19937 rng(5);
        std::uniform_int_distribution<int> pick(0, 26);
        std::uniform_int_distribution<int> frames(16, 1024);
        RealtimeProbe probe;
        for (int round = 0; round < 200; ++round) {
            for (int i = 0; i < (round % 20 == 0 ? 100 : 6); ++i) {
                DeckCommand c;
                c.kind = DeckCommand::Kind(pick(rng));
                if (c.kind == DeckCommand::Kind::load || c.kind == DeckCommand::Kind::swap
                    || c.kind == DeckCommand::Kind::takeOver)
                    c = DeckCommand::takeOver(buffers[std::size_t(i % 4)], 0.5);
                c.a = double(i % 5) * 0.3;
                c.b = c.a + 0.5;
                c.index = i % 8;
                c.flag = c.kind == DeckCommand::Kind::keyLock || i % 2 == 0;
                engine.deck(i % 4)->send(c);
            }
            engine.deck(round % 4)->keyShift().store(double(round % 5) - 2.0);
            if (round % 7 == 0)
                engine.params()->dropOffset.store(0.1);
            {
                AudioThreadScope audio;
                for (int k = 0; k < 3; ++k)
                    engine.render(frames(rng), ptrs, 4);
            }
            engine.releaseRetiredBuffers();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        stop.store(true);
        if (worker.joinable())
            worker.join();
        EXPECT_TRUE(probe.clean());
    }
}

TEST(RenderAhead, SlicesOfChangingLengthNeverRunDry)
{
    // Short slices, then long ones, then random lengths: the worker is asked
    // for two of the longest slices so far ahead, so only the first slice
    // longer than any before comes up short (twice here), and the position
    // heard stays with the one on demand.
    const TrackBufferRef source = music(8.0);
    std::vector<int> sizes;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> any(1, 1024);
    for (int i = 0; i < 50; ++i)
        sizes.push_back(64);
    for (int i = 0; i < 40; ++i)
        sizes.push_back(512);
    for (int i = 0; i < 30; ++i)
        sizes.push_back(1024);
    for (int i = 0; i < 300; ++i)
        sizes.push_back(any(rng));
    double heard[2] = {0.0, 0.0};
    for (bool ahead : {false, true}) {
        DeckVoice voice(kAheadRate, 4096);
        if (ahead) {
            ASSERT_TRUE(voice.enableRenderAhead());
        }
        loadNow(voice, source);
        sendOk(voice, DeckCommand::keyLock(true));
        sendOk(voice, DeckCommand::play());
        voice.tempo().store(1.06);
        std::vector<float> l(1024), r(1024);
        for (int n : sizes) {
            voice.render(n, l.data(), r.data());
            voice.serviceAhead();
        }
        EXPECT_LE(voice.aheadDryBlocks(), 2);
        heard[ahead] = voice.state().position.load();
    }
    EXPECT_NEAR(heard[1], heard[0], 0.002);
}

TEST(RenderAhead, AWorkerKeepingUpLeavesNoRenderDryAtHighSampleRates)
{
    // The stretcher's window is longer at 88.2 kHz and above, so a new run
    // must queue more input before the worker can make its first renders.
    // With the worker on time after every render, a key-locked deck at
    // 96 and 192 kHz never plays a dry render nor holds its run past the
    // pad, and past the pad sounds exactly as on demand.
    for (double rate : {96000.0, 192000.0}) {
        const TrackBufferRef source = busyMusic(1.5, rate);
        for (int block : {64, 256}) {
            SCOPED_TRACE(testing::Message() << "rate " << rate << " block " << block);
            const int blocks = int(0.5 * rate) / block;
            const Take onDemand = play(source, false, block, blocks, 1.06, true);
            const Take ahead = play(source, true, block, blocks, 1.06, true);
            EXPECT_EQ(ahead.dry, 0);
            EXPECT_EQ(ahead.late, 0);
            const auto pad = std::size_t(DeckVoice::aheadStartPadFrames(block, rate));
            std::size_t differ = 0;
            for (std::size_t i = pad; i < onDemand.left.size(); ++i)
                differ += onDemand.left[i] != ahead.left[i];
            EXPECT_EQ(differ, 0u);
        }
    }
}

TEST(RenderAhead, ADeckSlowedALongWayKeepsItsSound)
{
    // The tempo fader's wide range pulled from 1.06 down to 0.25 or 0.1 at
    // once, or swept down to 0.1 over a second: the unit then holds more
    // input than at the speed the run began, and the worker must be given it
    // in time. One render may go dry as the worker first runs short (it is
    // given more input only once it is, so that a deck merely early is not
    // given a longer lead), and the deck sounds as on the audio thread.
    const TrackBufferRef source = music(6.0);
    for (int block : {256, 1024})
        for (double slow : {0.25, 0.1})
            for (bool sweep : {false, true}) {
                if (sweep && slow != 0.1)
                    continue;
                SCOPED_TRACE(testing::Message() << "block " << block << " down to " << slow << (sweep ? " swept" : " at once"));
                const int first = int(0.3 * kAheadRate) / block;
                const int down = sweep ? int(1.0 * kAheadRate) / block : 1;
                const int blocks = first + down + int(2.0 * kAheadRate) / block;
                const auto tempoAt = [&](int b) {
                    return 1.06 + (slow - 1.06) * std::clamp(double(b - first + 1) / down, 0.0, 1.0);
                };
                const auto never = [](int) { return false; };
                const Take onDemand = playAt(source, false, block, blocks, tempoAt, true, never);
                const Take ahead = playAt(source, true, block, blocks, tempoAt, true, never);
                EXPECT_LE(ahead.dry, 1);
                // The last second, as loud as on the audio thread (the tempo
                // reaches the worker's output a horizon later, so the samples
                // are not the same ones).
                double energy[2] = {0.0, 0.0};
                for (int p = 0; p < 2; ++p) {
                    const std::vector<float>& out = p == 0 ? onDemand.left : ahead.left;
                    for (std::size_t i = out.size() - std::size_t(kAheadRate); i < out.size(); ++i)
                        energy[p] += double(out[i]) * double(out[i]);
                }
                ASSERT_GT(energy[0], 0.0);
                EXPECT_NEAR(energy[1] / energy[0], 1.0, 0.2);
            }
}

namespace {

// One slowing of a key-locked deck: from `at` seconds into the timeline, for
// `seconds`, the tempo at a fraction of it given by `shape`.
struct Dip {
    double at;
    double seconds;
    std::function<double(double)> shape;
};

// How a key-locked deck is slowed, again and again in one run, before a
// jump: the slowings in time order.
struct Slowings {
    std::string name;
    std::vector<Dip> dips;
    bool hotCue; // the jump: a hot cue pressed, else a seek
    bool newRun; // paused and played again after the last slowing
    // The worker makes no round while the deck is slowed (kept from its
    // core for a dip's few milliseconds) and catches up at the first render
    // back: it runs short on the slow renders' requests only then.
    bool lateWorker = false;
    // The render lengths the case is played at.
    std::vector<int> blocks = {256, 512, 1024};
    // The tempo the deck plays at outside the slowings.
    double base = 1.06;
};

// `count` slowings of `seconds` from 0.3 s on, each followed by half a
// second back at 1.06.
Slowings held(const char* name, int count, double seconds, double (*shape)(double), bool hotCue = false,
              bool newRun = false)
{
    Slowings s{name, {}, hotCue, newRun, false, {256, 1024}};
    for (int i = 0; i < count; ++i)
        s.dips.push_back({0.3 + i * (seconds + 0.5), seconds, shape});
    return s;
}

double stepTo01(double) { return 0.1; }
double stepTo005(double) { return 0.05; }
double stepTo03(double) { return 0.3; }
// The tempo fader pulled down to 0.3 over a quarter of the slowing, left
// there for half of it and pushed back up.
double rideTo03(double x) { return 1.06 - (1.06 - 0.3) * std::min(1.0, 2.0 - std::fabs(4.0 * x - 2.0)); }
// Held far down, wobbling between 0.05 and 0.3 every tenth of the slowing.
double wobbleWhileSlow(double x) { return int(x * 10.0) % 2 ? 0.3 : 0.05; }

// A flick of the fader at renders of `block` frames: `count` dips to 0.08
// of `ms` milliseconds, each straight back for a second. They begin on a
// render, so a flick slows the renders its length covers; the lengths
// tried end the flick as the worker first runs short, so the rounds that
// run short are seen at renders back at 1.06.
Slowings flicks(int block, int count, double ms, bool lateWorker = false)
{
    Slowings s{std::to_string(count) + " flick(s) of " + std::to_string(int(ms)) + " ms"
                   + (lateWorker ? ", the worker late" : ""),
               {}, false, false, lateWorker, {block}};
    for (int i = 0; i < count; ++i)
        s.dips.push_back({(15 + 50 * i) * 1024.0 / kAheadRate, ms / 1000.0, [](double) { return 0.08; }});
    return s;
}

// A jumpy hand on the fader, from a seed: 16 dips of 10 to 60 ms to a
// tempo between 0.03 and 0.15, 50 to 400 ms apart; with `ride`, a ride of
// two seconds instead, a new tempo between 0.05 and 1.2 every 20 to 50 ms.
Slowings randomDips(std::uint32_t seed, bool ride, std::vector<int> blocks)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Slowings s{(ride ? "a jumpy ride, seed " : "random dips, seed ") + std::to_string(seed), {}, false, false, false,
               std::move(blocks)};
    double at = 0.3;
    if (ride) {
        while (at < 2.3) {
            const double seconds = 0.02 + 0.03 * unit(rng);
            const double tempo = 0.05 + 1.15 * unit(rng);
            s.dips.push_back({at, seconds, [tempo](double) { return tempo; }});
            at += seconds;
        }
        return s;
    }
    for (int i = 0; i < 16; ++i) {
        const double seconds = 0.01 + 0.05 * unit(rng);
        const double tempo = 0.03 + 0.12 * unit(rng);
        s.dips.push_back({at, seconds, [tempo](double) { return tempo; }});
        at += seconds + 0.05 + 0.35 * unit(rng);
    }
    return s;
}

// The fader slid in a straight line from `base` down to `bottom` and back
// up in `ms` milliseconds, at renders of `block` frames, beginning `phase`
// of a render into one: the renders sample the slide at different points.
// The slowest renders drain the lead, and the worker runs short on a render
// on the way back up, at about half the deck's tempo.
Slowings vSlide(int block, double base, double bottom, double ms, double phase)
{
    std::ostringstream name;
    name << "a slide from " << base << " to " << bottom << " and back in " << ms << " ms, phase " << phase;
    Slowings s{name.str(), {}, false, false, false, {block}, base};
    const double at = (15.0 * 1024.0 + phase * block) / kAheadRate;
    s.dips.push_back({at, ms / 1000.0, [base, bottom](double x) {
                          return base - (base - bottom) * (1.0 - std::fabs(2.0 * x - 1.0));
                      }});
    return s;
}

struct AfterSlowings {
    std::int64_t heardAfter = 0; // frames from the jump's render until it is heard
    double publishedThere = 0.0; // the position published for that frame
    std::int64_t dryFirst = 0;   // dry renders by the end of the first slowing
    std::int64_t dry = 0;        // and by the jump
};

// Plays the slowings (none: a deck never slowed, on the same timeline), then
// jumps to `jumpTo` a second after the last one. The jump counts as heard
// where the sound after it first reaches 0.25.
AfterSlowings jumpAfter(const TrackBufferRef& source, const Slowings& s, bool slowed, int block, double jumpTo)
{
    DeckVoice voice(kAheadRate, 4096);
    EXPECT_TRUE(voice.enableRenderAhead());
    loadNow(voice, source);
    sendOk(voice, DeckCommand::quantize(false));
    sendOk(voice, DeckCommand::keyLock(true));
    sendOk(voice, DeckCommand::setHotCue(0, jumpTo));
    sendOk(voice, DeckCommand::seek(0.5));
    sendOk(voice, DeckCommand::play());
    const double back = s.dips.back().at + s.dips.back().seconds;
    const auto renderAt = [&](double t) { return int(std::lround(t * kAheadRate)) / block; };
    const int firstBack = renderAt(s.dips.front().at + s.dips.front().seconds);
    const int lastBack = renderAt(back);
    const int jumpAt = renderAt(back + 1.0);
    std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
    std::vector<float> after;
    std::vector<double> published;
    AfterSlowings a;
    for (int b = 0; b < jumpAt + int(0.8 * kAheadRate) / block; ++b) {
        const double t = double(b) * block / kAheadRate;
        double tempo = s.base;
        for (const Dip& d : s.dips)
            if (slowed && t >= d.at && t < d.at + d.seconds)
                tempo = d.shape((t - d.at) / d.seconds);
        voice.tempo().store(tempo);
        const bool workerLate = s.lateWorker && tempo != s.base;
        if (s.newRun && b == lastBack)
            sendOk(voice, DeckCommand::pause());
        if (s.newRun && b == lastBack + 1)
            sendOk(voice, DeckCommand::play());
        if (b == jumpAt) {
            a.dry = voice.aheadDryBlocks();
            sendOk(voice, s.hotCue ? DeckCommand::hotCue(0, true) : DeckCommand::seek(jumpTo));
        }
        const double before = voice.state().position.load();
        voice.render(block, l.data(), r.data());
        if (!workerLate)
            voice.serviceAhead();
        if (b == firstBack)
            a.dryFirst = voice.aheadDryBlocks();
        if (b >= jumpAt) {
            after.insert(after.end(), l.begin(), l.end());
            published.push_back(before);
        }
    }
    // The swell, once the music before the jump has faded out.
    std::size_t quiet = 0;
    while (quiet + 256 <= after.size()
           && !std::all_of(after.begin() + std::ptrdiff_t(quiet), after.begin() + std::ptrdiff_t(quiet + 256),
                           [](float x) { return std::fabs(x) < 1e-3f; }))
        ++quiet;
    EXPECT_LT(quiet + 256, after.size()) << "the music before the jump never stopped";
    const auto swell = std::find_if(after.begin() + std::ptrdiff_t(std::min(quiet, after.size())), after.end(),
                                    [](float x) { return std::fabs(x) > 0.25f; });
    EXPECT_TRUE(swell != after.end()) << "the swell was never heard";
    a.heardAfter = std::distance(after.begin(), swell);
    const auto at = std::size_t(a.heardAfter);
    if (at < after.size())
        a.publishedThere = published[at / std::size_t(block)] + double(at % std::size_t(block)) * s.base / kAheadRate;
    return a;
}

} // namespace

TEST(RenderAhead, AJumpAfterASlowingIsHeardAsSoonAsWithout)
{
    // A key-locked deck slowed a long way gives its worker more input, and its
    // stretcher makes output in long stretches at the slow rate, which stand
    // for little of the track. Slowed once, four or ten times, or ridden down
    // and up six times, and brought back to 1.06 (or paused and played again
    // there, a new run), a seek or a hot cue a second later is heard as soon
    // as on a deck never slowed, within 2 ms: nothing queued for the slow
    // rate stays in the lead, whatever made it. So after quick dips: flicks of
    // the fader of 10 to 40 ms, random dips and a jumpy ride, whose worker
    // runs short at the slow rate but is mostly seen to at renders already
    // back near 1.06; and slides of the fader from around 1 down to 0.1 or
    // less and straight back, whose worker runs short in the first render on
    // the way down, still near half the deck's tempo, because the slower one
    // after it asked for little input. The position published is still what
    // is heard, and the
    // held slowings after the first run no more renders dry than the first
    // did.
    const double jumpTo = 21.0;
    TrackBufferRef source = music(22.0);
    for (std::int64_t i = std::int64_t(20.0 * kAheadRate); i < source->frames; ++i)
        source->left[i] = source->right[i] = 0.0f;
    // A tenth of a second after the point jumped to, a tone swells from
    // nothing to 0.5 over 0.2 s: its sound reaches 0.25 where the track does
    // (an abrupt onset would move with the stretcher's hops, by several
    // milliseconds either way).
    const auto swell = std::int64_t((jumpTo + 0.1) * kAheadRate);
    for (std::int64_t i = swell; i < source->frames; ++i)
        source->left[i] = source->right[i] =
            float(0.5 * std::min(double(i - swell) / (0.2 * kAheadRate), 1.0) * std::sin(double(i) * 0.06));
    const double swellHeard = jumpTo + 0.2;
    std::vector<Slowings> cases = {
        held("a step to 0.1", 1, 1.0, stepTo01),
        held("a step to 0.1, a new run after", 1, 1.0, stepTo01, false, true),
        held("four steps to 0.05", 4, 1.0, stepTo005),
        held("four wobbles while slow, a hot cue", 4, 1.0, wobbleWhileSlow, true),
        held("six rides to 0.3", 6, 1.0, rideTo03),
        held("six steps to 0.3", 6, 1.0, stepTo03),
        held("ten steps to 0.05, a hot cue", 10, 1.0, stepTo005, true),
        flicks(256, 1, 10.0, true),
        flicks(256, 1, 15.0),
        flicks(256, 3, 15.0),
        flicks(512, 1, 20.0),
        flicks(512, 3, 20.0),
        flicks(1024, 1, 30.0),
        flicks(1024, 1, 40.0),
        randomDips(8010, false, {256, 512, 1024}),
        randomDips(8014, false, {256, 512, 1024}),
        randomDips(8003, true, {512, 1024}),
    };
    // Slides down and back at 256 and 512 frames, from tempos around 1.
    for (double base : {0.94, 1.0, 1.06})
        for (double bottom : {0.02, 0.05, 0.1})
            for (double ms : {25.0, 30.0})
                for (int block : {256, 512})
                    for (double phase : {0.0, 1.0 / 9.0, 0.5}) {
                        if (phase != 0.0 && (base != 0.94 || block != 256))
                            continue;
                        if (base != 0.94 && bottom == 0.05)
                            continue;
                        cases.push_back(vSlide(block, base, bottom, ms, phase));
                    }
    const auto heldOnes = std::size_t(7);
    for (int block : {256, 512, 1024}) {
        // A deck never slowed, on each timeline.
        std::map<std::tuple<double, bool, bool, double>, AfterSlowings> plains;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const Slowings& s = cases[i];
            if (std::find(s.blocks.begin(), s.blocks.end(), block) == s.blocks.end())
                continue;
            SCOPED_TRACE(testing::Message() << "block " << block << ", " << s.name);
            const auto key = std::make_tuple(s.dips.back().at + s.dips.back().seconds, s.hotCue, s.newRun, s.base);
            if (!plains.count(key))
                plains[key] = jumpAfter(source, s, false, block, jumpTo);
            const AfterSlowings& plain = plains[key];
            const AfterSlowings slowed = jumpAfter(source, s, true, block, jumpTo);
            EXPECT_NEAR(double(slowed.heardAfter), double(plain.heardAfter), 0.002 * kAheadRate)
                << "heard " << 1000.0 * double(slowed.heardAfter - plain.heardAfter) / kAheadRate
                << " ms later than never slowed";
            EXPECT_NEAR(slowed.publishedThere, swellHeard, 0.004) << "the deck is heard off its position";
            if (i < heldOnes) {
                EXPECT_LE(slowed.dry, slowed.dryFirst) << "dry renders: " << slowed.dryFirst << " in the first slowing";
            }
        }
    }
}
