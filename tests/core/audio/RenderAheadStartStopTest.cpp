// Where a key-locked deck stops and how its runs start: a pause leaves the deck
// where it was heard on both paths, and a run started inside a device's burst
// of back-to-back renders (or soon after one) loses none of its music and
// starts without a step; a deck playing to its end stops when its last frame
// is heard, and one moved back into the music before then plays on with no
// hole.
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "audio/MixerParams.h"

#include "DeckVoiceSupport.h"
#include "MixEngineSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

constexpr double kRate = 48000.0;
constexpr double kTempo = 1.06;

TrackBufferRef music(double seconds, double phase)
{
    TrackBufferRef b(std::int64_t(seconds * kRate), kRate);
    for (std::int64_t i = 0; i < b->frames; ++i) {
        const double t = double(i) + phase;
        b->left[i] = float(0.3 * std::sin(t * 0.031) + 0.2 * std::sin(t * 0.0071));
        b->right[i] = float(0.3 * std::sin(t * 0.027) - 0.1 * std::sin(t * 0.19));
    }
    return b;
}

// A deck at the track's sample rate.
std::unique_ptr<DeckVoice> keyLockedDeck(const TrackBufferRef& track, bool ahead, double tempo, double at = 0.5)
{
    auto voice = std::make_unique<DeckVoice>(track->sampleRate, 4096);
    if (ahead) {
        EXPECT_TRUE(voice->enableRenderAhead());
    }
    loadNow(*voice, track);
    sendOk(*voice, DeckCommand::quantize(false));
    sendOk(*voice, DeckCommand::keyLock(true));
    sendOk(*voice, DeckCommand::seek(at));
    voice->tempo().store(tempo);
    return voice;
}

// The worker's rounds: each voice's next render first, until none has work.
void serve(const std::vector<std::unique_ptr<DeckVoice>>& voices)
{
    for (bool again = true; again;) {
        again = false;
        for (const auto& v : voices)
            again = v->serviceAhead(1) || again;
    }
}

// Four seconds of music at `level`, with one full-scale click at `clickAt` s.
TrackBufferRef musicWithAClick(double clickAt, float level)
{
    TrackBufferRef track = music(4.0, 0.0);
    for (std::int64_t i = 0; i < track->frames; ++i) {
        track->left[i] *= level;
        track->right[i] *= level;
    }
    const auto click = std::int64_t(clickAt * kRate);
    track->left[click] = track->right[click] = 1.0f;
    return track;
}

} // namespace

TEST(RenderAheadStartStop, APauseLeavesTheDeckWhereItWasHeard)
{
    // A click 30 ms after the sound when the deck is paused lies behind the
    // read head, which runs ahead of the sound by what the stretcher holds.
    // The position published after the pause and the point CUE then stores
    // are what was heard, and play goes on from there: the click is heard
    // after the resume, where the published position says. Played in
    // reverse, the read head runs ahead the other way.
    const double clickAt = 1.5;
    const TrackBufferRef track = musicWithAClick(clickAt, 0.05f);
    for (int block : {64, 256, 1024})
        for (bool ahead : {false, true})
            for (bool reverse : {false, true}) {
                SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead << " reverse " << reverse);
                const double way = reverse ? -1.0 : 1.0;
                std::vector<std::unique_ptr<DeckVoice>> deck;
                deck.push_back(keyLockedDeck(track, ahead, kTempo, reverse ? 2.5 : 0.5));
                DeckVoice& voice = *deck[0];
                sendOk(voice, DeckCommand::reverse(reverse));
                sendOk(voice, DeckCommand::play());
                std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                auto render = [&] {
                    voice.render(block, l.data(), r.data());
                    if (ahead)
                        serve(deck);
                };
                do
                    render();
                while (way * (clickAt - voice.state().position.load()) > 0.03);
                const double heard = voice.state().position.load();
                ASSERT_GT(way * (voice.positionSeconds() - clickAt), 0.0) << "the read head is past the click";
                sendOk(voice, DeckCommand::pause());
                for (int i = 0; i < int(0.1 * kRate) / block; ++i)
                    render();
                EXPECT_NEAR(voice.state().position.load(), heard, 1e-6) << "the position after the pause";
                sendOk(voice, DeckCommand::cue(true));
                sendOk(voice, DeckCommand::cue(false));
                render();
                EXPECT_NEAR(voice.state().cuePoint.load(), heard, 1e-6) << "the point CUE stores";

                sendOk(voice, DeckCommand::play());
                std::vector<float> out;
                std::vector<double> published;
                for (int i = 0; i < int(0.3 * kRate) / block; ++i) {
                    published.push_back(voice.state().position.load());
                    render();
                    out.insert(out.end(), l.begin(), l.end());
                }
                std::size_t peak = 0;
                for (std::size_t i = 1; i < out.size(); ++i)
                    if (std::fabs(out[i]) > std::fabs(out[peak]))
                        peak = i;
                ASSERT_GT(std::fabs(out[peak]), 0.1f) << "the click is heard after the resume";
                const double at =
                    published[peak / std::size_t(block)] + way * double(peak % std::size_t(block)) * kTempo / kRate;
                // (Within a unit run's first long slice the published position
                // stands at the run's start until the next render.)
                EXPECT_NEAR(at, clickAt, block <= 256 ? 0.004 : 0.01) << "where the published position says";
            }
}

TEST(RenderAheadStartStop, APauseInsideAShortLoopStaysInTheLoop)
{
    // A loop shorter than the read head's lead: the read head has wrapped
    // back while the sound still plays the loop's end. The published position
    // stays in the loop while it plays, the pause leaves the deck in it, and
    // play goes on in it: a click 30 ms before the loop is never heard again.
    TrackBufferRef track = music(4.0, 0.0);
    for (std::int64_t i = 0; i < track->frames; ++i) {
        track->left[i] *= 0.05f;
        track->right[i] *= 0.05f;
    }
    const auto click = std::int64_t(0.97 * kRate);
    track->left[click] = track->right[click] = 1.0f;
    const double in = 1.0, out = 1.05;
    for (int block : {256, 1024})
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead);
            std::vector<std::unique_ptr<DeckVoice>> deck;
            deck.push_back(keyLockedDeck(track, ahead, kTempo, in));
            DeckVoice& voice = *deck[0];
            sendOk(voice, DeckCommand::setLoop(in, out, true));
            sendOk(voice, DeckCommand::play());
            std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
            float loud = 0.0f;
            auto render = [&] {
                voice.render(block, l.data(), r.data());
                if (ahead)
                    serve(deck);
                for (float x : l)
                    loud = std::max(loud, std::fabs(x));
            };
            double low = in, high = out;
            for (int k = 0; k < int(0.6 * kRate) / block; ++k) {
                render();
                low = std::min(low, voice.state().position.load());
                high = std::max(high, voice.state().position.load());
            }
            EXPECT_GE(low, in - 1e-6) << "published before the loop";
            EXPECT_LE(high, out + 1e-6) << "published after the loop";
            sendOk(voice, DeckCommand::pause());
            for (int i = 0; i < 4; ++i)
                render();
            EXPECT_GE(voice.state().position.load(), in - 1e-6);
            EXPECT_LE(voice.state().position.load(), out + 1e-6);
            EXPECT_GE(voice.positionSeconds(), in - 1e-6) << "the read head after the pause";
            sendOk(voice, DeckCommand::play());
            for (int k = 0; k < int(0.5 * kRate) / block; ++k)
                render();
            EXPECT_LT(loud, 0.2f) << "music from before the loop was heard";
        }
}

TEST(RenderAheadStartStop, LeavingOrResizingALoopKeepsThePlaceHeard)
{
    // The read head wraps back into the loop while the sound still plays the
    // loop's end. Leaving the loop then, and pausing in the same render,
    // leaves the deck where it was heard, from every render of a loop's cycle.
    // A loop made longer after an odd or an even number of wraps moves the
    // published position no further than a render plays: only the wraps
    // still to be heard step it back, by the length they jumped.
    const TrackBufferRef track = music(4.0, 0.0);
    const double in = 1.0, out = 1.25;
    for (int block : {256, 1024})
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead);
            const double advance = double(block) * kTempo / kRate + 1e-6;
            std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
            auto loopingDeck = [&](std::vector<std::unique_ptr<DeckVoice>>& deck) {
                deck.push_back(keyLockedDeck(track, ahead, kTempo, in));
                sendOk(*deck[0], DeckCommand::setLoop(in, out, true));
                sendOk(*deck[0], DeckCommand::play());
            };
            auto render = [&](std::vector<std::unique_ptr<DeckVoice>>& deck) {
                deck[0]->render(block, l.data(), r.data());
                if (ahead)
                    serve(deck);
            };
            // Renders until the read head has wrapped back `wraps` times.
            auto renderUntilWrapped = [&](std::vector<std::unique_ptr<DeckVoice>>& deck, int wraps) {
                for (int seen = 0; seen < wraps;) {
                    const double before = deck[0]->positionSeconds();
                    render(deck);
                    if (deck[0]->positionSeconds() < before)
                        ++seen;
                }
            };

            const int cycle = int(std::ceil((out - in) * kRate / (double(block) * kTempo)));
            int moved = 0;
            for (int k = 0; k < cycle; ++k) {
                std::vector<std::unique_ptr<DeckVoice>> deck;
                loopingDeck(deck);
                renderUntilWrapped(deck, 1);
                for (int i = 0; i < k; ++i)
                    render(deck);
                const double heard = deck[0]->state().position.load();
                sendOk(*deck[0], DeckCommand::reloopExit());
                sendOk(*deck[0], DeckCommand::pause());
                for (int i = 0; i < int(0.1 * kRate) / block; ++i)
                    render(deck);
                const double after = deck[0]->state().position.load();
                if (after < heard - 1e-6 || after > heard + advance)
                    ++moved;
            }
            EXPECT_EQ(moved, 0) << "of " << cycle << " exits, the pause moved the deck from where it was heard";

            for (int wraps : {1, 3}) {
                SCOPED_TRACE(testing::Message() << "resized after " << wraps << " wraps");
                std::vector<std::unique_ptr<DeckVoice>> deck;
                loopingDeck(deck);
                renderUntilWrapped(deck, wraps);
                sendOk(*deck[0], DeckCommand::loopResize(2.0));
                double last = deck[0]->state().position.load();
                int steps = 0, heardWraps = 0;
                for (int i = 0; i < int(1.0 * kRate) / block; ++i) {
                    render(deck);
                    const double now = deck[0]->state().position.load();
                    const double step = now - last;
                    const bool forward = step >= -1e-6 && step <= advance;
                    // The wrap made just before the resize, which the sound
                    // reaches after it, or one of the longer loop.
                    const bool oldWrap = std::fabs(step + (out - in)) <= advance;
                    const bool newWrap = std::fabs(step + 2.0 * (out - in)) <= advance;
                    if (oldWrap)
                        ++heardWraps;
                    if (!forward && !oldWrap && !newWrap)
                        ++steps;
                    last = now;
                }
                EXPECT_EQ(steps, 0) << "steps in the published position";
                EXPECT_EQ(heardWraps, 1) << "the sound went back to the loop's start once";
                EXPECT_GE(last, in - 1e-6);
                EXPECT_LE(last, in + 2.0 * (out - in) + 1e-6);
            }
        }
}

TEST(RenderAheadStartStop, ADeckWhoseWorkerStallsKeepsTime)
{
    // The worker is gone for a second from the moment the deck is played.
    // The deck's runs, started again by the deck itself each time the output
    // it missed piles up, do not wait for it: the point heard stands on the
    // start for the stretcher's latency, as on the audio thread, then keeps
    // up with the time that passed (its sound is lost, not its place in the
    // track), and no run holds for longer than the longest hold.
    const TrackBufferRef track = music(4.0, 0.0);
    for (int block : {64, 256, 1024}) {
        SCOPED_TRACE(testing::Message() << "block " << block);
        std::vector<std::unique_ptr<DeckVoice>> deck;
        deck.push_back(keyLockedDeck(track, true, kTempo));
        DeckVoice& voice = *deck[0];
        sendOk(voice, DeckCommand::play());
        std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
        const int renders = int(kRate) / block;
        for (int k = 0; k < renders; ++k)
            voice.render(block, l.data(), r.data());
        EXPECT_LE(voice.aheadLateFrames(), std::int64_t(DeckVoice::kAheadMaxHoldSeconds * kRate) + block)
            << "runs started again held for the worker";
        const double passed = (double(renders * block) - voice.timePitchLatencyFrames()) / kRate;
        EXPECT_NEAR(voice.state().position.load(), 0.5 + passed * kTempo, block / kRate);
    }
}

TEST(RenderAheadStartStop, AStalledWorkerCostsSilenceNeverTime)
{
    // The worker is gone for 0.4 s, 1 s or 2 s while a key-locked deck plays,
    // or from just after the play, having made only the run's first render
    // (the start pad's): the deck plays silence meanwhile and starts its runs
    // again by itself, never standing still, so once the worker is back its
    // position and its sound are where the same deck's on the audio thread
    // are, within one render: a tone that sets in 0.2 s after the worker came
    // back is heard at the same time on both paths.
    for (int block : {64, 256, 1024})
        for (double stall : {0.4, 1.0, 2.0})
            for (bool atPlay : {false, true}) {
                SCOPED_TRACE(testing::Message() << "block " << block << ", stall " << stall << " s"
                                                << (atPlay ? " from the play" : ""));
                const int before = atPlay ? 1 : int(0.5 * kRate) / block;
                const int gone = int(stall * kRate) / block;
                const int after = int(0.4 * kRate) / block;
                const double onset = 0.5 + (double((before + gone) * block) / kRate + 0.2) * kTempo;
                const TrackBufferRef track = generatedBuffer(4.0, kRate, [&](std::int64_t i) {
                    const double t = double(i) / kRate;
                    return t < onset ? 0.0f : float(0.5 * std::sin(2.0 * 3.14159265358979 * 440.0 * (t - onset)));
                });
                double position[2] = {0.0, 0.0};
                std::int64_t heardAt[2] = {-1, -1};
                for (bool ahead : {false, true}) {
                    std::vector<std::unique_ptr<DeckVoice>> deck;
                    deck.push_back(keyLockedDeck(track, ahead, kTempo));
                    sendOk(*deck[0], DeckCommand::play());
                    std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                    for (int k = 0; k < before + gone + after; ++k) {
                        deck[0]->render(block, l.data(), r.data());
                        for (int f = 0; f < block && heardAt[ahead] < 0; ++f)
                            if (std::fabs(l[std::size_t(f)]) > 0.05f)
                                heardAt[ahead] = std::int64_t(k) * block + f;
                        if (ahead && atPlay && k < before)
                            deck[0]->serviceAhead(1);
                        else if (ahead && (k < before || k >= before + gone))
                            serve(deck);
                    }
                    position[ahead] = deck[0]->state().position.load();
                }
                EXPECT_NEAR(position[1], position[0], block / kRate) << "the deck came back off time";
                ASSERT_GE(heardAt[0], 0);
                EXPECT_NEAR(double(heardAt[1]), double(heardAt[0]), double(block)) << "the sound came back off time";
            }
}

TEST(RenderAheadStartStop, AStallSoonAfterADevicesBurstCostsSilenceNeverTime)
{
    // A device that opened or caught up moments ago still counts its burst of
    // four slices back to back, while it asks once a period again. A deck
    // played then, its worker making only the run's first render and then
    // gone for 0.1 s (less than that burst's horizon at 1024 frames), 0.4 s
    // or 1 s, holds only for the horizon of the device's steady calls: once
    // the worker is back the deck stands where the same deck on the audio
    // thread stands, within one render, instead of the longest hold or the
    // stall behind it.
    const TrackBufferRef track = music(4.0, 0.0);
    for (int block : {64, 256, 1024})
        for (double stall : {0.1, 0.4, 1.0}) {
            SCOPED_TRACE(testing::Message() << "block " << block << ", stall " << stall << " s");
            const int span = std::min(4 * block, 4096);
            const int gone = int(stall * kRate) / block;
            const int after = int(0.4 * kRate) / block;
            double position[2] = {0.0, 0.0};
            for (bool ahead : {false, true}) {
                std::vector<std::unique_ptr<DeckVoice>> deck;
                deck.push_back(keyLockedDeck(track, ahead, kTempo));
                sendOk(*deck[0], DeckCommand::play());
                std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                for (int k = 0; k < gone + after; ++k) {
                    deck[0]->setAheadSpan(span, block); // the burst counted, one slice a period now
                    deck[0]->render(block, l.data(), r.data());
                    if (ahead && k == 0)
                        deck[0]->serviceAhead(1);
                    else if (ahead && k >= gone)
                        serve(deck);
                }
                position[ahead] = deck[0]->state().position.load();
            }
            EXPECT_NEAR(position[1], position[0], block / kRate) << "the deck came back off time";
        }
}

TEST(RenderAheadStartStop, ATempoMovedDuringAStallMovesOnlyWhatIsStillToCome)
{
    // The tempo moves while the worker is gone, before its rings are full or after:
    // the output missed until then stands for music at the old tempo, and
    // once the worker is back the deck is where the same deck on the audio
    // thread is, within one render.
    const TrackBufferRef track = rampBuffer(std::int64_t(6.0 * kRate), kRate, 1e-5f);
    for (int block : {64, 256, 1024})
        for (double when : {0.2, 0.3, 0.7})
            for (double tempo : {0.94, 1.12}) {
                SCOPED_TRACE(testing::Message() << "block " << block << ", tempo " << tempo << " at " << when << " s");
                const int before = int(0.5 * kRate) / block;
                const int gone = int(1.0 * kRate) / block;
                const int after = int(0.3 * kRate) / block;
                double position[2] = {0.0, 0.0};
                for (bool ahead : {false, true}) {
                    std::vector<std::unique_ptr<DeckVoice>> deck;
                    deck.push_back(keyLockedDeck(track, ahead, kTempo, 2.0));
                    sendOk(*deck[0], DeckCommand::play());
                    std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                    for (int k = 0; k < before + gone + after; ++k) {
                        if (k == before + int(when * kRate) / block)
                            deck[0]->tempo().store(tempo);
                        deck[0]->render(block, l.data(), r.data());
                        if (ahead && (k < before || k >= before + gone))
                            serve(deck);
                    }
                    position[ahead] = deck[0]->state().position.load();
                }
                EXPECT_NEAR(position[1], position[0], block / kRate) << "the deck came back off time";
            }
}

namespace {

// One path's deck through a worker stall: where it stands at the end, the
// first frame of sound (above 0.05) after the worker came back, and whether
// there was any.
struct ThroughStall {
    double position = 0.0;
    std::int64_t heardAt = -1;
    bool soundAfter = false;
};

struct AcrossStall {
    ThroughStall path[2]; // [0] the audio thread's, [1] render-ahead's
    // How much what the audio thread's stretcher holds changed over the
    // renders watched: about one of its hops, in seconds.
    double hops = 0.0;
};

// A key-locked deck at `tempo` plays `track` from `at` s on both paths, at
// the track's sample rate: `before` renders of `block` frames, `gone` renders
// with the worker gone, `after` renders with it back. `hands(voice, k)` acts
// before render k; what the audio thread's stretcher holds is watched over
// renders [lagFrom, lagTo).
AcrossStall acrossAStall(const TrackBufferRef& track, int block, double at, int before, int gone, int after,
                         const std::function<void(DeckVoice&, int)>& hands, int lagFrom, int lagTo,
                         double tempo = kTempo)
{
    AcrossStall out;
    double leastLag = 1e9, mostLag = 0.0;
    for (bool ahead : {false, true}) {
        std::vector<std::unique_ptr<DeckVoice>> deck;
        deck.push_back(keyLockedDeck(track, ahead, tempo, at));
        DeckVoice& voice = *deck[0];
        ThroughStall& side = out.path[ahead];
        hands(voice, -1);
        sendOk(voice, DeckCommand::play());
        std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
        for (int k = 0; k < before + gone + after; ++k) {
            hands(voice, k);
            voice.render(block, l.data(), r.data());
            if (ahead && (k < before || k >= before + gone))
                serve(deck);
            if (k >= before + gone)
                for (int f = 0; f < block; ++f) {
                    const float x = l[std::size_t(f)];
                    side.soundAfter = side.soundAfter || x != 0.0f;
                    if (side.heardAt < 0 && std::fabs(x) > 0.05f)
                        side.heardAt = std::int64_t(k) * block + f;
                }
            if (!ahead && k >= lagFrom && k < lagTo) {
                const double lag = std::fabs(voice.positionFrames() - voice.heardFrames());
                leastLag = std::min(leastLag, lag);
                mostLag = std::max(lag, mostLag);
            }
        }
        side.position = voice.state().position.load();
    }
    out.hops = lagTo > lagFrom ? (mostLag - leastLag) / track->sampleRate : 0.0;
    return out;
}

} // namespace

TEST(RenderAheadStartStop, ATurnOrPauseDuringAStallLeavesTheDeckWhereTheAudioThreadsIs)
{
    // While the worker is gone the DJ reverses a deck playing forward, plays
    // a reversed one forward again, or pauses: the sound is gone, but once
    // the worker is back the deck is where the same deck on the audio thread
    // is, as if the hands had acted on that deck. Paused, within one render.
    // Turned, that deck's sound runs on the old way for what its stretcher
    // holds, then turns; what it holds changes with each hop of the
    // stretcher, so the deck is within one render and that change of it.
    const TrackBufferRef track = rampBuffer(std::int64_t(8.0 * kRate), kRate, 1e-5f);
    enum class Hand { reverse, forward, pause };
    for (int block : {64, 256, 1024})
        for (double stall : {0.4, 1.0, 2.0})
            for (Hand hand : {Hand::reverse, Hand::forward, Hand::pause}) {
                SCOPED_TRACE(testing::Message() << "block " << block << ", stall " << stall << " s, hand " << int(hand));
                const int before = int(0.5 * kRate) / block;
                const int gone = int(stall * kRate) / block;
                const int after = int(0.4 * kRate) / block;
                const AcrossStall run = acrossAStall(
                    track, block, 4.0, before, gone, after,
                    [&](DeckVoice& voice, int k) {
                        if (k < 0)
                            sendOk(voice, DeckCommand::reverse(hand == Hand::forward));
                        else if (k == before + gone / 2)
                            sendOk(voice, hand == Hand::pause ? DeckCommand::pause()
                                                              : DeckCommand::reverse(hand == Hand::reverse));
                    },
                    before / 2, before + gone / 2);
                const double hops = hand == Hand::pause ? 0.0 : run.hops;
                ASSERT_LT(hops, 0.02) << "what the stretcher holds changes by a hop at most";
                EXPECT_NEAR(run.path[1].position, run.path[0].position, block / kRate + hops)
                    << "the deck came back off time";
            }
}

TEST(RenderAheadStartStop, APlayOrAPlatterLetGoDuringAStallStartsWhereTheAudioThreadsDoes)
{
    // While the worker is gone the DJ pauses and plays again, or holds the
    // platter in vinyl mode, scratches and lets go, early in the stall (its
    // run still has room to queue work), late (its rings are full), or late
    // and letting go three renders before the worker is back (its run held
    // longer than a horizon, the worker then catching up), or one or two
    // renders before (held less than a horizon, but the worker took none of
    // the deck's work for longer). The deck the DJ
    // started does not wait for the stalled worker: once the worker is
    // back, its position and a tone set in 0.2 s later are where the same
    // deck's on the audio thread are, within one render.
    enum class Hand { pauseAndPlay, platter };
    enum class When { early, late, last, twoBefore, oneBefore };
    for (int block : {64, 256, 1024})
        for (double stall : {0.4, 1.0, 2.0})
            for (When when : {When::early, When::late, When::last, When::twoBefore, When::oneBefore})
                for (Hand hand : {Hand::pauseAndPlay, Hand::platter}) {
                    SCOPED_TRACE(testing::Message() << "block " << block << ", stall " << stall << " s, when "
                                                    << int(when) << ", hand " << int(hand));
                    const int before = int(0.5 * kRate) / block;
                    const int gone = int(stall * kRate) / block;
                    const int after = int(0.4 * kRate) / block;
                    const bool late = when != When::early;
                    const int stop = before + int(gone * (late ? 0.5 : 0.05));
                    const int go = when == When::oneBefore ? before + gone - 1
                        : when == When::twoBefore          ? before + gone - 2
                        : when == When::last               ? before + gone - 3
                                                           : before + int(gone * (late ? 0.8 : 0.25));
                    const double scratch = hand == Hand::platter ? 0.05 : 0.0;
                    const double played = double((stop + before + gone - go) * block) / kRate + 0.2;
                    const double onset = 0.5 + played * kTempo + scratch;
                    const TrackBufferRef track = generatedBuffer(5.0, kRate, [&](std::int64_t i) {
                        const double t = double(i) / kRate;
                        return t < onset ? 0.0f : float(0.5 * std::sin(2.0 * 3.14159265358979 * 440.0 * (t - onset)));
                    });
                    const AcrossStall run = acrossAStall(
                        track, block, 0.5, before, gone, after,
                        [&](DeckVoice& voice, int k) {
                            if (k == stop)
                                sendOk(voice, hand == Hand::platter ? DeckCommand::jogTouch(true) : DeckCommand::pause());
                            else if (k == (stop + go) / 2 && hand == Hand::platter)
                                sendOk(voice, DeckCommand::jogScrub(scratch));
                            else if (k == go)
                                sendOk(voice, hand == Hand::platter ? DeckCommand::jogTouch(false) : DeckCommand::play());
                        },
                        0, 0);
                    EXPECT_NEAR(run.path[1].position, run.path[0].position, block / kRate)
                        << "the deck came back off time";
                    ASSERT_GE(run.path[0].heardAt, 0);
                    EXPECT_NEAR(double(run.path[1].heardAt), double(run.path[0].heardAt), double(block))
                        << "the sound came back off time";
                }
}

TEST(RenderAheadStartStop, AQuickTurnAndBackAsAStallBeginsLeavesTheDeckWhereTheAudioThreadsIs)
{
    // The DJ flicks the reverse on and off as the worker stalls: the first
    // turn comes while output is still queued, the second once it is missing,
    // before the first is heard. Once the worker is back the deck is where the
    // same deck on the audio thread is, within one render and the change of
    // what the stretcher holds, not the lead's length the other way.
    const TrackBufferRef track = rampBuffer(std::int64_t(8.0 * kRate), kRate, 1e-5f);
    for (int block : {64, 256, 1024})
        for (int first : {1, 2, 3}) {
            const int gap = std::max(1, 512 / block);
            SCOPED_TRACE(testing::Message() << "block " << block << ", turn " << first << " renders in, back " << gap << " later");
            const int before = int(0.5 * kRate) / block;
            const int gone = int(1.0 * kRate) / block;
            const int after = int(0.4 * kRate) / block;
            const AcrossStall run = acrossAStall(
                track, block, 4.0, before, gone, after,
                [&](DeckVoice& voice, int k) {
                    if (k == before + first || k == before + first + gap)
                        sendOk(voice, DeckCommand::reverse(k == before + first));
                },
                before / 2, before);
            ASSERT_LT(run.hops, 0.02) << "what the stretcher holds changes by a hop at most";
            EXPECT_NEAR(run.path[1].position, run.path[0].position, block / kRate + run.hops)
                << "the deck came back off time";
        }
}

TEST(RenderAheadStartStop, ADeckPlayedAsItsWorkerStallsThenReversedTurnsWhereTheAudioThreadsDoes)
{
    // The worker stalls as the deck is first played, having made only the
    // run's first renders, so it has never seen the stretcher in steady play;
    // the DJ reverses the deck while it is gone. The deck goes on without
    // the worker as the audio thread's stretcher would, holding what that
    // one holds, so once the worker is back the deck is where the same deck
    // on the audio thread is, within one render and the change of what the
    // stretcher holds. What it holds depends on the sample rate, the tempo
    // and the render length: besides 48 kHz at kTempo, short renders at
    // 44.1 kHz, and at a tempo far from the track's own at a low and a high
    // sample rate.
    struct Play {
        double rate;
        double tempo;
        std::vector<int> blocks;
        std::vector<double> stalls;
    };
    const std::vector<Play> plays{{kRate, kTempo, {64, 256, 1024}, {0.4, 1.0}},
                                  {44100.0, kTempo, {64}, {0.4}},
                                  {22050.0, 1.4, {64}, {0.4}},
                                  {192000.0, 1.4, {64}, {1.0}}};
    for (const Play& play : plays) {
        const TrackBufferRef track = rampBuffer(std::int64_t(8.0 * play.rate), play.rate, 1e-5f);
        for (int block : play.blocks)
            for (double stall : play.stalls) {
                SCOPED_TRACE(testing::Message() << play.rate << " Hz, tempo " << play.tempo << ", block " << block
                                                << ", stall " << stall << " s");
                const int gone = int(stall * play.rate) / block;
                const int after = int(0.4 * play.rate) / block;
                const AcrossStall run = acrossAStall(
                    track, block, 4.0, 1, gone, after,
                    [&](DeckVoice& voice, int k) {
                        if (k == 1 + gone / 2)
                            sendOk(voice, DeckCommand::reverse(true));
                    },
                    gone / 4, gone / 2, play.tempo);
                // (A hop lasts longest at a low sample rate.)
                ASSERT_LT(run.hops, 0.03) << "what the stretcher holds changes by a hop at most";
                EXPECT_NEAR(run.path[1].position, run.path[0].position, block / play.rate + run.hops)
                    << "the deck came back off time";
            }
    }
}

TEST(RenderAheadStartStop, ATempoOfZeroDuringAStallCostsSilenceNeverTime)
{
    // The tempo fader's wide range brought to its bottom (tempo 0) while the
    // worker is gone, the deck reversed or not meanwhile, the tempo left
    // there or set back as the worker returns. Slower than the stretcher
    // goes, the deck stands where it was heard, on both paths alike, and
    // plays on from there once the tempo is back: it is where the same deck
    // on the audio thread is, within one render and the change of what the
    // stretcher holds. The sound comes back.
    const TrackBufferRef track = rampBuffer(std::int64_t(8.0 * kRate), kRate, 1e-5f);
    for (int block : {256, 1024})
        for (bool turn : {false, true})
            for (bool back : {false, true}) {
                SCOPED_TRACE(testing::Message() << "block " << block << (turn ? ", reversed" : "")
                                                << (back ? ", tempo set back" : ", tempo left at 0"));
                const int before = int(0.5 * kRate) / block;
                const int gone = int(1.0 * kRate) / block;
                const int after = int(1.0 * kRate) / block;
                const AcrossStall run = acrossAStall(
                    track, block, 4.0, before, gone, after,
                    [&](DeckVoice& voice, int k) {
                        if (k == before + gone / 3)
                            voice.tempo().store(0.0);
                        if (turn && k == before + 2 * gone / 3)
                            sendOk(voice, DeckCommand::reverse(true));
                        if (back && k == before + gone + 2)
                            voice.tempo().store(kTempo);
                    },
                    before / 2, before);
                ASSERT_LT(run.hops, 0.02) << "what the stretcher holds changes by a hop at most";
                ASSERT_TRUE(run.path[0].soundAfter) << "the deck on the audio thread plays on";
                EXPECT_TRUE(run.path[1].soundAfter) << "the sound stayed away after the worker came back";
                EXPECT_NEAR(run.path[1].position, run.path[0].position, block / kRate + run.hops)
                    << "the deck came back off time";
            }
}

TEST(RenderAheadStartStop, ADeckStoodAtTempoZeroIsHeardWhereItsPositionSays)
{
    // A key-locked deck brought to tempo 0 for two seconds and set going
    // again: the click ahead of it is heard when the published position
    // reaches it, on both paths. A stretcher left running at its slowest
    // rate while the position stood would put the deck tens of milliseconds
    // off what is heard, more the longer it stood.
    const double clickAt = 1.5;
    const TrackBufferRef track = musicWithAClick(clickAt, 0.03f);
    for (int block : {256, 1024})
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead);
            std::vector<std::unique_ptr<DeckVoice>> deck;
            deck.push_back(keyLockedDeck(track, ahead, kTempo));
            DeckVoice& voice = *deck[0];
            sendOk(voice, DeckCommand::play());
            std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
            const int stand = int(0.3 * kRate) / block;
            const int going = stand + int(2.0 * kRate) / block;
            double stood = -1.0;
            double published = -1.0;
            for (int k = 0; k < int(5.0 * kRate) / block && published < 0.0; ++k) {
                if (k == stand)
                    voice.tempo().store(0.0);
                if (k == going) {
                    stood = voice.state().position.load();
                    voice.tempo().store(kTempo);
                }
                const double before = voice.state().position.load();
                voice.render(block, l.data(), r.data());
                if (ahead)
                    serve(deck);
                for (int f = 0; f < block && published < 0.0; ++f)
                    if (std::fabs(l[std::size_t(f)]) > 0.2f)
                        published = before + f * kTempo / kRate;
            }
            ASSERT_GT(stood, 0.0);
            EXPECT_LT(stood, clickAt - 0.5) << "the deck stood still";
            ASSERT_GT(published, 0.0) << "the click was never heard";
            EXPECT_NEAR(published, clickAt, block / kRate) << "the deck is heard off its position";
        }
}

TEST(RenderAheadStartStop, AKeyLockedDeckSlowedFarAndBroughtBackIsHeardWhereItsPositionSays)
{
    // A key-locked deck pulled down the tempo fader's wide range for a
    // second and brought back: a second and more later, the click ahead of
    // it is heard when the published position reaches it, on both paths.
    // The stretcher's output made while the deck was slow stands for little
    // of the track; counted at the rate it is heard at, it would put the
    // position ahead of the sound for the rest of the run.
    const double clickAt = 3.0;
    const TrackBufferRef track = musicWithAClick(clickAt, 0.03f);
    for (double slow : {0.05, 0.1, 0.3})
        for (int block : {256, 1024})
            for (bool ahead : {false, true}) {
                SCOPED_TRACE(testing::Message() << "tempo " << slow << " block " << block << " ahead " << ahead);
                std::vector<std::unique_ptr<DeckVoice>> deck;
                deck.push_back(keyLockedDeck(track, ahead, kTempo));
                DeckVoice& voice = *deck[0];
                sendOk(voice, DeckCommand::play());
                std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                const int slowed = int(0.3 * kRate) / block;
                const int back = slowed + int(1.0 * kRate) / block;
                double returned = -1.0;
                double published = -1.0;
                float loudest = 0.0f;
                for (int k = 0; k < int(4.5 * kRate) / block; ++k) {
                    if (k == slowed)
                        voice.tempo().store(slow);
                    if (k == back) {
                        returned = voice.state().position.load();
                        voice.tempo().store(kTempo);
                    }
                    const double before = voice.state().position.load();
                    voice.render(block, l.data(), r.data());
                    if (ahead)
                        serve(deck);
                    for (int f = 0; k > back && f < block; ++f)
                        if (std::fabs(l[std::size_t(f)]) > loudest) {
                            loudest = std::fabs(l[std::size_t(f)]);
                            published = before + f * kTempo / kRate;
                        }
                }
                ASSERT_GT(returned, 0.0);
                ASSERT_LT(returned, clickAt - 1.5 * kTempo) << "the click comes a second after the tempo is back";
                ASSERT_GT(loudest, 0.1f) << "the click was never heard";
                EXPECT_NEAR(published, clickAt, block / kRate) << "the deck is heard off its position";
            }
}

TEST(RenderAheadStartStop, ARateWaveringAboutTheSlowestStretchNeverFallsSilent)
{
    // A key-locked deck slowed to about the stretcher's slowest rate, its
    // rate wavering a little either side of it every render or every eight
    // (a synced deck's corrections): it plays on without a silent render.
    const TrackBufferRef track = music(4.0, 0.0);
    const double slowest = 1.0 / 32.0;
    for (int block : {64, 256})
        for (int every : {1, 8})
            for (bool ahead : {false, true}) {
                SCOPED_TRACE(testing::Message() << "block " << block << " every " << every << " ahead " << ahead);
                std::vector<std::unique_ptr<DeckVoice>> deck;
                deck.push_back(keyLockedDeck(track, ahead, kTempo));
                DeckVoice& voice = *deck[0];
                sendOk(voice, DeckCommand::play());
                std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                const int first = int(0.3 * kRate) / block;
                const int settle = first + int(0.1 * kRate) / block;
                int silent = 0;
                for (int k = 0; k < first + int(1.0 * kRate) / block; ++k) {
                    if (k >= first)
                        voice.tempo().store(slowest * ((k / every) % 2 ? 1.02 : 0.98));
                    voice.render(block, l.data(), r.data());
                    if (ahead)
                        serve(deck);
                    if (k >= settle)
                        silent += std::all_of(l.begin(), l.end(), [](float x) { return x == 0.0f; });
                }
                EXPECT_EQ(silent, 0);
            }
}

TEST(RenderAheadStartStop, RunsStartedInOrAfterABurstKeepTheirMusicWhole)
{
    // One deck, or four at different tempos, start playing (a) in the first
    // of four renders that come back to back, as a device opening its output
    // asks for them, the worker getting nothing done between them or one
    // render per deck, or (b) with the device's burst of four still counted
    // (a cue soon after it). Compared with the same decks on the audio
    // thread: after the start pad, the music comes whole, only later, and
    // never with a step; no render runs dry.
    const std::vector<double> tempos{kTempo, 1.03, 0.97, 1.09};
    std::vector<TrackBufferRef> tracks;
    for (int i = 0; i < 4; ++i)
        tracks.push_back(music(3.0, 1000.0 * i));
    enum class Start { openingBurst, openingBurstWorkerBusy, afterBurst };
    for (int block : {256, 512, 1024})
        for (int decks : {1, 4})
            for (Start how : {Start::openingBurst, Start::openingBurstWorkerBusy, Start::afterBurst}) {
                SCOPED_TRACE(testing::Message() << "block " << block << ", " << decks << " decks, start " << int(how));
                const int renders = int(0.6 * kRate) / block;
                std::vector<std::vector<float>> heard[2];
                for (bool ahead : {false, true}) {
                    std::vector<std::unique_ptr<DeckVoice>> voices;
                    for (int i = 0; i < decks; ++i)
                        voices.push_back(keyLockedDeck(tracks[std::size_t(i)], ahead, tempos[std::size_t(i)]));
                    for (const auto& v : voices)
                        sendOk(*v, DeckCommand::play());
                    heard[ahead].assign(std::size_t(decks), {});
                    std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                    for (int k = 0; k < renders; ++k) {
                        const bool inBurst = how != Start::afterBurst && k < 4;
                        for (int i = 0; i < decks; ++i) {
                            DeckVoice& v = *voices[std::size_t(i)];
                            // The span as the engine tells it: the burst so far, then
                            // the burst of four within its window.
                            v.setAheadSpan(inBurst ? (k + 1) * block : 4 * block);
                            v.render(block, l.data(), r.data());
                            heard[ahead][std::size_t(i)].insert(heard[ahead][std::size_t(i)].end(), l.begin(), l.end());
                        }
                        if (!ahead)
                            continue;
                        if (inBurst && k < 3) {
                            if (how == Start::openingBurstWorkerBusy)
                                for (const auto& v : voices)
                                    v->serviceAhead(1);
                        } else {
                            serve(voices);
                        }
                    }
                    for (const auto& v : voices) {
                        EXPECT_EQ(v->aheadDryBlocks(), 0);
                    }
                }
                for (int i = 0; i < decks; ++i) {
                    SCOPED_TRACE(testing::Message() << "deck " << i);
                    const std::vector<float>& onDemand = heard[0][std::size_t(i)];
                    const std::vector<float>& late = heard[1][std::size_t(i)];
                    const int pad = DeckVoice::aheadStartPadFrames(block, kRate);
                    float cut = 0.0f;
                    for (int f = 0; f < pad; ++f)
                        cut = std::max(cut, std::fabs(onDemand[std::size_t(f)]));
                    EXPECT_LT(cut, 0.01f) << "the pad cut into the music";
                    // The delay that lines the two up where the music is clear.
                    std::size_t from = std::size_t(pad);
                    while (from < onDemand.size() && std::fabs(onDemand[from]) < 0.05f)
                        ++from;
                    std::size_t delay = 0;
                    const auto most = std::size_t(0.3 * kRate);
                    auto lined = [&](std::size_t d) {
                        for (std::size_t f = from; f < from + 64; ++f)
                            if (late[f + d] != onDemand[f])
                                return false;
                        return true;
                    };
                    while (delay <= most && !lined(delay))
                        ++delay;
                    ASSERT_LE(delay, most) << "the music never comes as on the audio thread";
                    std::size_t differ = 0;
                    const std::size_t whole = std::size_t(pad) + DeckVoice::kAheadFadeFrames;
                    for (std::size_t f = whole; f + delay < late.size(); ++f)
                        differ += late[f + delay] != onDemand[f];
                    EXPECT_EQ(differ, 0u) << "music cut after the pad (delay " << delay << " frames)";
                    float silence = 0.0f, step = 0.0f;
                    for (std::size_t f = 0; f < std::size_t(pad) + delay; ++f)
                        silence = std::max(silence, std::fabs(late[f]));
                    for (std::size_t f = std::size_t(pad) + delay; f < std::size_t(pad) + delay + 32; ++f)
                        step = std::max(step, std::fabs(late[f]));
                    EXPECT_EQ(silence, 0.0f);
                    EXPECT_LT(step, 0.01f) << "a step after the silence";
                }
            }
}

TEST(RenderAheadStartStop, AfterADryRenderTheSoundFadesBackIn)
{
    // The worker misses its rounds after renders 100…103: renders 102…104 run
    // dry; the output missed is skipped, so the deck stays on time, and the
    // sound comes back faded in rather than at full level at once.
    const TrackBufferRef track = music(4.0, 0.0);
    const int block = 256;
    std::vector<float> out[2];
    for (bool ahead : {false, true}) {
        std::vector<std::unique_ptr<DeckVoice>> deck;
        deck.push_back(keyLockedDeck(track, ahead, kTempo));
        sendOk(*deck[0], DeckCommand::play());
        std::vector<float> l(block), r(block);
        for (int k = 0; k < 140; ++k) {
            deck[0]->render(block, l.data(), r.data());
            out[ahead].insert(out[ahead].end(), l.begin(), l.end());
            if (ahead && (k < 100 || k >= 104))
                serve(deck);
        }
        EXPECT_EQ(deck[0]->aheadDryBlocks(), ahead ? 3 : 0);
    }
    const std::size_t back = 105 * block;
    float step = 0.0f, music = 0.0f;
    for (std::size_t f = back; f < back + 16; ++f) {
        step = std::max(step, std::fabs(out[1][f]));
        music = std::max(music, std::fabs(out[0][f]));
    }
    EXPECT_GT(music, 0.05f);
    EXPECT_LT(step, 0.1f * music) << "the sound came back at full level";
    for (std::size_t f = back + DeckVoice::kAheadFadeFrames; f < out[0].size(); ++f)
        ASSERT_EQ(out[1][f], out[0][f]) << f;
}

TEST(RenderAheadStartStop, LeavingTheUnitWhilePlayingGoesOnFromWhatWasHeard)
{
    // A key-locked deck whose tempo comes back to 1.0 plays on without its
    // stretcher: the position heard moves on by one render, not by the lead.
    const TrackBufferRef track = music(4.0, 0.0);
    for (int block : {256, 1024})
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead);
            std::vector<std::unique_ptr<DeckVoice>> deck;
            deck.push_back(keyLockedDeck(track, ahead, kTempo));
            sendOk(*deck[0], DeckCommand::play());
            std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
            for (int k = 0; k < int(kRate) / block; ++k) {
                deck[0]->render(block, l.data(), r.data());
                serve(deck);
            }
            const double heard = deck[0]->state().position.load();
            deck[0]->tempo().store(1.0);
            deck[0]->render(block, l.data(), r.data());
            EXPECT_NEAR(deck[0]->state().position.load() - heard, block / kRate, 1e-6);
        }
}

TEST(RenderAheadStartStop, ADeckPlayingToItsEndStopsWhenItsLastFrameIsHeard)
{
    // The read head reaches the track's end a lead before the sound does (the
    // time-pitch unit's latency and what it made ahead). The deck plays on,
    // published as playing, until the render whose output carries the last
    // frame; it then stops with the published position at the end, so it
    // never reads as stopped with music left. The music up to the end is
    // heard, on both paths.
    const TrackBufferRef track = music(1.2, 0.0);
    const double end = double(track->frames - 2) / kRate;
    const double from = 0.5;
    for (int block : {64, 512, 2048})
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead);
            std::vector<std::unique_ptr<DeckVoice>> voices;
            voices.push_back(keyLockedDeck(track, ahead, kTempo, from));
            DeckVoice* voice = voices[0].get();
            sendOk(*voice, DeckCommand::play());
            std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block)), out;
            double before = from;
            int renders = 0;
            const int most = int(2.0 * kRate) / block;
            for (; renders < most; ++renders) {
                voice->render(block, l.data(), r.data());
                if (ahead)
                    serve(voices);
                out.insert(out.end(), l.begin(), l.end());
                const double at = voice->state().position.load();
                if (!voice->state().playing.load()) {
                    EXPECT_DOUBLE_EQ(at, end) << "the deck stops at the end";
                    // This render carried the last frame: the one before it
                    // had not yet played it.
                    EXPECT_LT(before, end);
                    EXPECT_GE(before + double(block) * kTempo / kRate, end - 1e-6);
                    break;
                }
                ASSERT_LE(at, end);
                before = at;
            }
            ASSERT_LT(renders, most) << "the deck stops";
            // The music is heard to the end: the unit's start pad delays
            // nothing (its output is skipped), so the sound lasts at least
            // until the end falls at the deck's speed (the fade of the last
            // sample after it rings on a little).
            std::size_t last = out.size();
            while (last > 0 && std::fabs(out[last - 1]) < 0.01f)
                --last;
            EXPECT_GE(double(last), (end - from) / kTempo * kRate - 0.01 * kRate) << "the music's end is cut";
        }
}

namespace {

// A key-locked deck playing a track that ends at 1.2 s, brought into its
// lead: the unit has read the end and the read head stands there, while the
// sound is still a lead before it and the deck reads playing.
struct EndingDeck {
    // `from` 0.9 s reaches the lead; from earlier the deck plays 0.3 s, mid-track.
    EndingDeck(const TrackBufferRef& track, bool ahead, int block, double from = 0.9) : ahead(ahead), block(block)
    {
        voices.push_back(keyLockedDeck(track, ahead, kTempo, from));
        sendOk(voice(), DeckCommand::play());
        l.resize(std::size_t(block));
        r.resize(std::size_t(block));
        if (from < 0.9) {
            play(0.3);
            return;
        }
        const double end = double(track->frames - 2) / kRate;
        for (int i = 0; i < int(kRate) / block && voice().positionSeconds() < end - 1e-6; ++i)
            render();
        EXPECT_GE(voice().positionSeconds(), end - 1e-6) << "the read head reached the end";
        EXPECT_TRUE(voice().state().playing.load()) << "the deck plays its lead";
        EXPECT_LT(voice().state().position.load(), end - 0.03) << "the sound is a lead behind";
        out.clear();
    }
    DeckVoice& voice() { return *voices[0]; }
    void render()
    {
        voice().render(block, l.data(), r.data());
        if (ahead)
            serve(voices);
        out.insert(out.end(), l.begin(), l.end());
    }
    void play(double seconds)
    {
        for (int i = 0; i < int(seconds * kRate) / block; ++i)
            render();
    }
    // The longest near-silent stretch of what was rendered since the lead
    // began, in seconds (a new run of the unit starts near silent).
    double longestHole() const
    {
        const std::size_t ms = 48;
        std::size_t run = 0, longest = 0;
        for (std::size_t at = 0; at + ms <= out.size(); at += ms) {
            float peak = 0.0f;
            for (std::size_t i = at; i < at + ms; ++i)
                peak = std::max(peak, std::fabs(out[i]));
            run = peak < 0.05f ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return double(longest) / 1000.0;
    }
    bool ahead;
    int block;
    std::vector<std::unique_ptr<DeckVoice>> voices;
    std::vector<float> l, r, out;
};

} // namespace

TEST(RenderAheadStartStop, MoreMusicArrivingInTheLeadPlaysOn)
{
    // A continuation spliced onto the deck, or the same track reloaded
    // longer, while the sound is in the last lead before the old end: the
    // deck plays on into the new music and never stops or reads ready at the
    // old end. The unit's new run, started from what was heard, leaves no
    // hole longer than its own start.
    const TrackBufferRef track = music(1.2, 0.0);
    const double oldEnd = double(track->frames - 2) / kRate;
    for (int block : {64, 512})
        for (bool ahead : {false, true})
            for (double offset : {-1.0, 0.0, 0.25}) // -1: a load keeping its position
                for (double into : {0.0, 0.04}) {
                SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead << " offset " << offset
                                                << " into the lead " << into);
                EndingDeck deck(track, ahead, block);
                deck.play(into);
                const double shift = std::max(offset, 0.0);
                const TrackBufferRef longer = music(2.4, shift * kRate);
                sendOk(deck.voice(), offset < 0.0 ? DeckCommand::load(longer, true) : DeckCommand::swap(longer, offset));
                deck.play(0.4);
                EXPECT_TRUE(deck.voice().state().playing.load()) << "the deck plays on";
                EXPECT_GT(deck.voice().state().position.load() + shift, oldEnd + 0.2) << "past the old end";
                EXPECT_LT(deck.longestHole(), 0.04) << "a hole in the music at the old end";
            }
}

TEST(RenderAheadStartStop, ControlsInTheLeadActOnThePlayingDeck)
{
    // In the last lead before the end the deck reads playing, and the
    // controls act on it as on any playing deck: reverse turns it back from
    // what was heard, and a loop ending before the end keeps it playing in
    // the loop.
    const TrackBufferRef track = music(1.2, 0.0);
    const double end = double(track->frames - 2) / kRate;
    for (int block : {64, 512})
        for (bool ahead : {false, true})
            for (int control : {0, 1, 2}) { // reverse, loop out, auto loop
                SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead << " control " << control);
                const TrackBufferRef copy = music(1.2, 0.0);
                EndingDeck deck(copy, ahead, block);
                DeckVoice& voice = deck.voice();
                if (control == 1) {
                    sendOk(voice, DeckCommand::quantize(false));
                    sendOk(voice, DeckCommand::setLoop(1.0, 1.0, false)); // loop in at 1.0 s
                }
                // A little into the lead.
                deck.play(0.01);
                const double heard = voice.state().position.load();
                if (control == 0)
                    sendOk(voice, DeckCommand::reverse(true));
                else if (control == 1)
                    sendOk(voice, DeckCommand::loopOut());
                else
                    sendOk(voice, DeckCommand::autoLoop(1.0 / 16.0));
                double low = end, high = 0.0;
                for (int i = 0; i < int(0.4 * kRate) / block; ++i) {
                    deck.render();
                    low = std::min(low, voice.state().position.load());
                    high = std::max(high, voice.state().position.load());
                }
                EXPECT_TRUE(voice.state().playing.load()) << "the deck plays on";
                EXPECT_LT(high, end - 0.005) << "the deck played on to the end";
                if (control == 0)
                    EXPECT_LT(voice.state().position.load(), heard - 0.3) << "reverse moves the deck back";
                else
                    EXPECT_TRUE(voice.state().loopActive.load());
                (void)low;
                EXPECT_LT(deck.longestHole(), 0.04) << "a hole in the music";
            }
}

TEST(RenderAheadStartStop, AMoveBackInTheLeadRunsStraightIntoTheMusic)
{
    // In the last lead before the end the unit has read silence past it.
    // A beat jump, a hot cue, a seek, a re-loop, a loop shrunk or a loop
    // closed there sends the deck back into the music: what it made of
    // that silence is never heard, so the music runs on into the move as it
    // does mid-track, whether the move comes early in the lead or in its
    // last render, and the deck keeps its time.
    const TrackBufferRef track = music(1.2, 0.0);
    const double end = double(track->frames - 2) / kRate;
    for (int block : {64, 512, 2048})
        for (bool ahead : {false, true})
            for (bool late : {false, true})
                for (int move : {0, 1, 2, 3, 4, 5}) { // beat jump, hot cue, seek, re-loop, loop resize, loop out
                    SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead << " late " << late
                                                    << " move " << move);
                    if (block > 512 && !ahead)
                        continue; // the audio thread's lead is about one such render
                    EndingDeck deck(track, ahead, block);
                    DeckVoice& voice = deck.voice();
                    sendOk(voice, DeckCommand::setHotCue(0, 0.3));
                    sendOk(voice, DeckCommand::setLoop(0.5, 0.7, false));
                    const double step = double(block) * kTempo / kRate;
                    if (late) {
                        // The render before the one that carries the end.
                        for (int i = 0; i < 200 && voice.state().position.load() + 1.5 * step < end; ++i)
                            deck.render();
                    } else {
                        deck.play(0.01);
                    }
                    ASSERT_TRUE(voice.state().playing.load());
                    const double heard = voice.state().position.load();
                    deck.out.clear();
                    double target = -1.0; // where the read head goes, for a plain jump
                    if (move == 0) {
                        sendOk(voice, DeckCommand::beatJump(-1.0));
                        target = end - 0.5;
                    } else if (move == 1) {
                        sendOk(voice, DeckCommand::hotCue(0, true));
                        target = 0.3;
                    } else if (move == 2) {
                        sendOk(voice, DeckCommand::seek(0.4));
                        target = 0.4;
                    } else if (move == 3) {
                        sendOk(voice, DeckCommand::reloopExit());
                    } else if (move == 4) {
                        // A long loop from the bar at 1.0 s, past the end, then
                        // shrunk to an eighth of a second behind the read head.
                        sendOk(voice, DeckCommand::setGrid(120.0, 0.0));
                        sendOk(voice, DeckCommand::quantize(true));
                        sendOk(voice, DeckCommand::autoLoop(16.0));
                        sendOk(voice, DeckCommand::quantize(false));
                        sendOk(voice, DeckCommand::loopResize(1.0 / 64.0));
                    } else {
                        sendOk(voice, DeckCommand::setLoop(0.95, 0.95, false)); // loop in at 0.95 s
                        sendOk(voice, DeckCommand::loopOut());
                    }
                    const int renders = int(0.3 * kRate) / block;
                    for (int i = 0; i < renders; ++i)
                        deck.render();
                    EXPECT_TRUE(voice.state().playing.load()) << "the deck plays on";
                    EXPECT_LT(deck.longestHole(), 0.02) << "a hole in the music";
                    if (move >= 3) {
                        EXPECT_TRUE(voice.state().loopActive.load());
                        continue;
                    }
                    // The sound played out the music left before the end, then
                    // went on from the jump's target: the position heard moved
                    // on by the time played, as mid-track.
                    const double played = double(renders * block) / kRate * kTempo;
                    EXPECT_NEAR(voice.state().position.load(), target + played - (end - heard), 0.01)
                        << "the deck lost its time";
                }
}

TEST(RenderAheadStartStop, KeyLockTurnedOffWhilePlayingSkipsNothing)
{
    // The unit's run is left where the sound is: the deck goes on from what
    // was heard, mid-track and in the last lead before the end, and its
    // published position moves on by one render.
    const TrackBufferRef track = music(1.2, 0.0);
    for (int block : {64, 512})
        for (bool ahead : {false, true})
            for (bool inLead : {false, true}) {
                SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead << " in the lead " << inLead);
                EndingDeck deck(track, ahead, block, inLead ? 0.9 : 0.3);
                DeckVoice& voice = deck.voice();
                const double before = voice.state().position.load();
                sendOk(voice, DeckCommand::keyLock(false));
                deck.render();
                const double step = double(block) * kTempo / kRate;
                EXPECT_NEAR(voice.state().position.load(), before + step, 0.002) << "the position skipped";
                if (inLead)
                    continue;
                deck.play(0.1);
                EXPECT_NEAR(voice.state().position.load(), before + step * double(1 + int(0.1 * kRate) / block), 0.003);
            }
}

namespace {

enum class Burst { open, catchUp };

// Four key-locked decks at different tempos, stopped half a second in: decks
// 1 and 2 on the master, decks 3 and 4 on the headphone bus, each deck on one
// side, so every deck's first sound can be told apart.
void setUpFourDecks(MixEngine& engine)
{
    MixerParams& p = *engine.params();
    p.master.store(1.0);
    p.limiter.store(false);
    const std::array tempos{kTempo, 1.03, 0.97, 1.09};
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        DeckVoice& d = *engine.deck(i);
        TrackBufferRef track = music(3.0, 1000.0 * i);
        float* silent = i % 2 == 0 ? track->right : track->left;
        std::fill(silent, silent + track->frames, 0.0f);
        sendOk(d, DeckCommand::load(track, false));
        sendOk(d, DeckCommand::quantize(false));
        sendOk(d, DeckCommand::keyLock(true));
        sendOk(d, DeckCommand::seek(0.5));
        d.tempo().store(tempos[std::size_t(i)]);
        p.channel(i).crossfaderAssign.store(0);
        p.channel(i).fader.store(i < 2 ? 1.0 : 0.0);
        p.channel(i).cue.store(i >= 2);
    }
}

// Four key-locked decks at different tempos on a mix engine whose worker's
// rounds run here, rendered in slices of `frames`, start playing in the same
// slice: (open) before the device's first four renders, which come back to
// back, or (catchUp) 0.6 s after the device caught up with eight renders back
// to back. The span is told to the decks as the engine tells it (the burst so
// far, then the burst within its window); the worker gets nothing done inside
// a burst, and `perSlice` renders of one deck after each slice, deck by deck.
// Decks 1 and 2 are heard on the master, decks 3 and 4 on the headphone bus,
// each on one side. Each deck's first sound, in frames from the slice in which
// they started (−1: none).
std::array<std::int64_t, MixEngine::deckCount> firstSounds(Burst burst, int frames, int perSlice)
{
    MixEngine engine(kRate, 4096, MixEngine::RenderAhead::manual);
    EXPECT_EQ(engine.renderAhead(), MixEngine::RenderAhead::manual);
    setUpFourDecks(engine);
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    std::array<std::int64_t, MixEngine::deckCount> first{-1, -1, -1, -1};
    std::int64_t since = -1; // frames rendered since the decks started
    int served = 0;
    auto render = [&](int span, bool serve) {
        for (int i = 0; i < MixEngine::deckCount; ++i)
            engine.deck(i)->setAheadSpan(span);
        engine.render(frames, ptrs, 4);
        if (since >= 0) {
            for (int i = 0; i < MixEngine::deckCount; ++i) {
                const std::vector<float>& heard = bufs[std::size_t(i)]; // master L/R, headphones L/R
                for (int f = 0; f < frames && first[std::size_t(i)] < 0; ++f)
                    if (heard[std::size_t(f)] != 0.0f)
                        first[std::size_t(i)] = since + f;
            }
            since += frames;
        }
        for (int k = 0; serve && k < perSlice; ++k, ++served)
            engine.deck(served % MixEngine::deckCount)->serviceAhead(1);
    };
    auto playAll = [&] {
        for (int i = 0; i < MixEngine::deckCount; ++i)
            sendOk(*engine.deck(i), DeckCommand::play());
        since = 0;
    };
    const int burstSpan = std::min(4 * frames, 4096);
    if (burst == Burst::open) {
        playAll();
        for (int k = 1; k <= 4; ++k)
            render(std::min(k * frames, 4096), false);
    } else {
        for (int k = 0; k < 20; ++k)
            render(frames, true);
        for (int k = 1; k <= 8; ++k)
            render(std::min(k * frames, 4096), false);
        for (int k = 0; k < int(0.6 * kRate) / frames; ++k)
            render(4096, true);
        playAll();
    }
    for (int k = 0; k < int(0.6 * kRate) / frames; ++k)
        render(burst == Burst::open ? burstSpan : 4096, true);
    return first;
}

} // namespace

TEST(RenderAheadStartStop, RunsStartedTogetherAfterABurstSoundTogether)
{
    // Four decks started in the same slice wait, after a device's burst,
    // until the worker has their output for the burst's length ready; they
    // wait for each other too, so their music begins in the same sample
    // however the worker's rounds fall across the slices (here a worker
    // that gets two or three renders done per slice, deck by deck), and
    // beat-matched decks do not flam.
    for (Burst burst : {Burst::open, Burst::catchUp})
        for (int perSlice : {2, 3}) {
            SCOPED_TRACE(testing::Message() << (burst == Burst::open ? "opening burst" : "after a catch-up") << ", "
                                            << perSlice << " renders per slice");
            const auto first = firstSounds(burst, 1024, perSlice);
            for (int i = 0; i < MixEngine::deckCount; ++i) {
                EXPECT_GE(first[std::size_t(i)], 0) << "deck " << i + 1 << " was never heard";
                EXPECT_EQ(first[std::size_t(i)], first[0]) << "deck " << i + 1 << " against deck 1";
            }
        }
}

namespace {

// Where four decks started in the same slice (on a mix engine whose worker's
// rounds run here, in slices of `frames`) stand after 1.5 s, the worker gone
// for the first `gone` slices from their play, and each one's first sound
// after the worker came back, in frames from its return (−1: none).
struct Together {
    std::array<double, MixEngine::deckCount> position{};
    std::array<std::int64_t, MixEngine::deckCount> first{-1, -1, -1, -1};
};

Together startedTogetherThroughAStall(int frames, int gone)
{
    MixEngine engine(kRate, 4096, MixEngine::RenderAhead::manual);
    setUpFourDecks(engine);
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    Together out;
    for (int i = 0; i < MixEngine::deckCount; ++i)
        sendOk(*engine.deck(i), DeckCommand::play());
    for (int k = 0; k < int(1.5 * kRate) / frames; ++k) {
        engine.render(frames, ptrs, 4);
        for (int i = 0; k >= gone && i < MixEngine::deckCount; ++i)
            for (int f = 0; f < frames && out.first[std::size_t(i)] < 0; ++f)
                if (bufs[std::size_t(i)][std::size_t(f)] != 0.0f)
                    out.first[std::size_t(i)] = std::int64_t(k - gone) * frames + f;
        for (bool again = k >= gone; again;) {
            again = false;
            for (int i = 0; i < MixEngine::deckCount; ++i)
                again = engine.deck(i)->serviceAhead(1) || again;
        }
    }
    for (int i = 0; i < MixEngine::deckCount; ++i)
        out.position[std::size_t(i)] = engine.deck(i)->state().position.load();
    return out;
}

} // namespace

TEST(RenderAheadStartStop, DecksStartedTogetherAsTheWorkerStallsComeBackOnTimeAndTogether)
{
    // Four decks started in the same slice as the worker stalls for 0.4 s or
    // 1 s: the stall costs silence, not time. Once the worker is back every
    // deck stands where it stands with a worker that never stalled (the
    // group's shared start included), within one slice; after the shorter
    // stall, which the group waits out held, their music comes back in the
    // same sample.
    for (int frames : {64, 256, 1024}) {
        const Together steady = startedTogetherThroughAStall(frames, 0);
        for (double stall : {0.4, 1.0}) {
            SCOPED_TRACE(testing::Message() << frames << " frames, stall " << stall << " s");
            const Together run = startedTogetherThroughAStall(frames, int(stall * kRate) / frames);
            for (int i = 0; i < MixEngine::deckCount; ++i) {
                SCOPED_TRACE(testing::Message() << "deck " << i + 1);
                EXPECT_NEAR(run.position[std::size_t(i)], steady.position[std::size_t(i)], frames / kRate)
                    << "the stall cost time";
                EXPECT_GE(run.first[std::size_t(i)], 0) << "never heard again";
                if (stall < 0.5) {
                    EXPECT_EQ(run.first[std::size_t(i)], run.first[0]) << "against deck 1";
                }
            }
        }
    }
}

TEST(RenderAheadStartStop, TheJogHeldInVinylModeScratchesFromWhereTheDeckWasHeard)
{
    // The read head runs ahead of the sound by what the stretcher holds; a
    // hand on the platter takes the record where the DJ hears it. On a ramp
    // whose samples tell their frame, the first scratched sample is the
    // frame published last, and the position does not jump. Held with the
    // jog in bend mode and vinyl mode turned on after, the same.
    const float scale = 1e-5f;
    const TrackBufferRef track = rampBuffer(std::int64_t(4.0 * kRate), kRate, scale);
    for (int block : {64, 256, 1024})
        for (bool ahead : {false, true})
            for (bool vinylAfter : {false, true}) {
                SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead << " vinyl after "
                                                << vinylAfter);
                std::vector<std::unique_ptr<DeckVoice>> deck;
                deck.push_back(keyLockedDeck(track, ahead, kTempo, 1.0));
                DeckVoice& voice = *deck[0];
                sendOk(voice, DeckCommand::play());
                std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                auto render = [&] {
                    voice.render(block, l.data(), r.data());
                    if (ahead)
                        serve(deck);
                };
                for (int k = 0; k < int(0.5 * kRate) / block; ++k)
                    render();
                if (vinylAfter) {
                    sendOk(voice, DeckCommand::vinyl(false));
                    sendOk(voice, DeckCommand::jogTouch(true));
                    render();
                    sendOk(voice, DeckCommand::vinyl(true));
                } else {
                    sendOk(voice, DeckCommand::jogTouch(true));
                }
                const double heard = voice.state().position.load();
                ASSERT_GT(voice.positionSeconds() - heard, 0.01) << "the read head runs ahead of the sound";
                render();
                EXPECT_NEAR(double(l[0]) / double(scale), heard * kRate, 2.0) << "the first scratched frame";
                EXPECT_NEAR(voice.state().position.load(), heard, 0.001) << "the position after the touch";
                // Held still, the record stays there.
                for (int k = 0; k < int(0.1 * kRate) / block; ++k)
                    render();
                EXPECT_NEAR(voice.state().position.load(), heard, 0.001) << "the position while held";
            }
}

TEST(RenderAheadStartStop, ADeckPlayedBackToItsStartStandsThere)
{
    // Played in reverse into the track's start, the read head stands at 0
    // while the stretcher goes on taking its input: once the sound gets there
    // the published position is 0, a pause leaves the deck there, and played
    // forwards again the position moves on from 0 and never back.
    const TrackBufferRef track = music(2.0, 0.0);
    for (int block : {64, 256, 1024})
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << block << " ahead " << ahead);
            std::vector<std::unique_ptr<DeckVoice>> deck;
            deck.push_back(keyLockedDeck(track, ahead, kTempo, 0.2));
            DeckVoice& voice = *deck[0];
            sendOk(voice, DeckCommand::reverse(true));
            sendOk(voice, DeckCommand::play());
            std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
            auto render = [&] {
                voice.render(block, l.data(), r.data());
                if (ahead)
                    serve(deck);
            };
            for (int k = 0; k < int(0.5 * kRate) / block; ++k)
                render();
            EXPECT_TRUE(voice.isPlaying());
            EXPECT_EQ(voice.state().position.load(), 0.0) << "standing at the start";
            sendOk(voice, DeckCommand::reverse(false));
            double last = 0.0;
            for (int k = 0; k < int(0.3 * kRate) / block; ++k) {
                render();
                const double now = voice.state().position.load();
                EXPECT_GE(now, last - 1e-9) << "forwards again, slice " << k;
                last = now;
            }
            EXPECT_GT(last, 0.1);
            // Back to the start again, then paused there.
            sendOk(voice, DeckCommand::reverse(true));
            for (int k = 0; k < int(0.6 * kRate) / block; ++k)
                render();
            EXPECT_EQ(voice.state().position.load(), 0.0) << "standing at the start again";
            sendOk(voice, DeckCommand::pause());
            for (int k = 0; k < 4; ++k)
                render();
            EXPECT_EQ(voice.state().position.load(), 0.0) << "after the pause";
            EXPECT_EQ(voice.positionSeconds(), 0.0) << "the read head after the pause";
        }
}

TEST(RenderAheadStartStop, AHotCueSoonAfterABurstIsHeardAsOnTheAudioThread)
{
    // Within a device's burst window the worker is asked for output two
    // bursts ahead, so a jump on the running stretcher would be heard that
    // much later. A hot cue pressed then is heard no later than on the audio
    // thread plus one slice (a click at the cue point tells when), and with
    // quantize on it keeps the deck's place in the beat as the audio thread
    // does: the published positions of both paths agree in phase after it.
    TrackBufferRef track = music(4.0, 0.0);
    for (std::int64_t i = 0; i < track->frames; ++i) {
        track->left[i] *= 0.05f;
        track->right[i] *= 0.05f;
    }
    const double cueAt = 2.0;
    const auto click = std::int64_t(cueAt * kRate);
    track->left[click] = track->right[click] = 1.0f;
    const double beat = 0.5;
    for (int block : {256, 512, 1024})
        for (bool quantize : {false, true}) {
            SCOPED_TRACE(testing::Message() << "block " << block << " quantize " << quantize);
            double clickMs[2] = {0.0, 0.0};
            double phase[2] = {0.0, 0.0};
            for (bool ahead : {false, true}) {
                std::vector<std::unique_ptr<DeckVoice>> deck;
                deck.push_back(keyLockedDeck(track, ahead, kTempo));
                DeckVoice& voice = *deck[0];
                sendOk(voice, DeckCommand::setGrid(60.0 / beat, 0.0));
                sendOk(voice, DeckCommand::quantize(quantize));
                sendOk(voice, DeckCommand::setHotCue(0, cueAt));
                sendOk(voice, DeckCommand::play());
                std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
                auto render = [&] {
                    voice.setAheadSpan(4 * block);
                    voice.render(block, l.data(), r.data());
                    if (ahead)
                        serve(deck);
                };
                for (int k = 0; k < int(0.5 * kRate) / block; ++k)
                    render();
                sendOk(voice, DeckCommand::hotCue(0, true));
                sendOk(voice, DeckCommand::hotCue(0, false));
                std::vector<float> out;
                const int after = int(0.3 * kRate) / block;
                for (int k = 0; k < after; ++k) {
                    render();
                    out.insert(out.end(), l.begin(), l.end());
                }
                std::size_t peak = 0;
                for (std::size_t i = 1; i < out.size(); ++i)
                    if (std::fabs(out[i]) > std::fabs(out[peak]))
                        peak = i;
                clickMs[ahead] = 1000.0 * double(peak) / kRate;
                phase[ahead] = std::fmod(voice.state().position.load(), beat);
                EXPECT_EQ(voice.aheadDryBlocks(), 0);
            }
            if (!quantize) {
                EXPECT_GT(clickMs[0], 0.0);
                EXPECT_LE(clickMs[1], clickMs[0] + 1000.0 * block / kRate) << "the cue heard late";
            } else {
                double d = std::fabs(phase[1] - phase[0]);
                d = std::min(d, beat - d);
                EXPECT_LT(d, 0.002) << "out of phase with the audio thread";
            }
        }
}

namespace {
// Four key-locked decks on a mix engine whose worker's rounds run here
// (`perSlice` renders after each slice, deck by deck, none inside the device's
// opening burst of `openBurst` renders): the decks in `firstGroup` play in
// slice `at0`, the others in slice `at1` (never if negative). Each deck's
// first sound, in frames from the first slice (−1: none).
std::array<std::int64_t, MixEngine::deckCount> startsInTwoGroups(int frames, unsigned firstGroup, int at0, int at1, int perSlice, int openBurst)
{
    MixEngine engine(kRate, 4096, MixEngine::RenderAhead::manual);
    setUpFourDecks(engine);
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    std::array<std::int64_t, MixEngine::deckCount> first{-1, -1, -1, -1};
    int served = 0;
    std::int64_t since = 0;
    for (int k = 0; k < int(0.35 * kRate) / frames; ++k) {
        for (int i = 0; i < MixEngine::deckCount; ++i) {
            bool inFirst = (firstGroup >> i) & 1u;
            if ((inFirst && k == at0) || (!inFirst && k == at1))
                sendOk(*engine.deck(i), DeckCommand::play());
        }
        const int span = k < openBurst ? std::min((k + 1) * frames, 4096) : (openBurst > 0 ? std::min(openBurst * frames, 4096) : frames);
        for (int i = 0; i < MixEngine::deckCount; ++i)
            engine.deck(i)->setAheadSpan(span);
        engine.render(frames, ptrs, 4);
        for (int i = 0; i < MixEngine::deckCount; ++i)
            for (int f = 0; f < frames && first[std::size_t(i)] < 0; ++f)
                if (bufs[std::size_t(i)][std::size_t(f)] != 0.0f)
                    first[std::size_t(i)] = since + f;
        since += frames;
        if (k >= openBurst)
            for (int j = 0; j < perSlice; ++j, ++served)
                engine.deck(served % MixEngine::deckCount)->serviceAhead(1);
    }
    return first;
}
} // namespace

TEST(RenderAheadStartStop, AGroupStartedASliceAfterAnotherHoldsNeitherBack)
{
    // Two decks start together and wait for each other; a slice later two
    // more start together. The first pair comes in when its own output is
    // ready, as it does with nobody starting after it, not at the longest
    // hold the engine allows.
    for (int frames : {256, 1024})
        for (int open : {0, 4}) {
            SCOPED_TRACE(testing::Message() << "block " << frames << ", opening burst " << open);
            const auto alone = startsInTwoGroups(frames, 0b0011u, 0, -1, 4, open);
            const auto both = startsInTwoGroups(frames, 0b0011u, 0, 1, 4, open);
            ASSERT_GE(alone[0], 0);
            EXPECT_EQ(both[0], alone[0]) << "the first pair was held back";
            EXPECT_EQ(both[1], alone[1]);
            EXPECT_GE(both[2], 0);
            EXPECT_EQ(both[2], both[3]) << "the second pair did not sound together";
        }
}
