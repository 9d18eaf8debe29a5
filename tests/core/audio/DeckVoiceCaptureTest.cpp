// Points a playing deck captures (loop in, loop out, hot cue, beat loop) land on
// the position the DJ hears at the press, which on a key-locked or key-shifted
// deck lies behind the read head; a direct deck captures its read head as ever.
#include "audio/DeckVoice.h"

#include "DeckVoiceSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

constexpr double kCaptureRate = 48000.0;
constexpr int kCaptureBlock = 256;
// Renders before the first press, and between the loop-in and loop-out presses.
constexpr int kFirstPress = 100;
constexpr int kSecondPress = 180;

TrackBufferRef captureMusic(double seconds)
{
    TrackBufferRef b(std::int64_t(seconds * kCaptureRate), kCaptureRate);
    for (std::int64_t i = 0; i < b->frames; ++i) {
        const double t = double(i);
        b->left[i] = float(0.3 * std::sin(t * 0.031) + 0.2 * std::sin(t * 0.0071));
        b->right[i] = float(0.3 * std::sin(t * 0.027) - 0.1 * std::sin(t * 0.19));
    }
    return b;
}

struct Row {
    const char* name;
    bool ahead;     // render-ahead, the worker's round run by hand after each render
    bool keyLock;
    double tempo;
    double keyShift;
    bool timePitch; // whether the deck plays through the time-pitch unit
};

struct Grid {
    double bpm = 120.0, firstBeat = 0.1;
    double beat() const { return 60.0 / bpm; }
    double nearest(double t) const { return firstBeat + beat() * std::round((t - firstBeat) / beat()); }
    double atOrBefore(double t) const { return firstBeat + beat() * std::floor((t - firstBeat) / beat() + 1e-6); }
};

// A deck playing `source` from 0.5 s the row's way.
struct Deck {
    Deck(const Row& row, const TrackBufferRef& source, const Grid& grid, bool quantize)
        : voice(std::make_unique<DeckVoice>(kCaptureRate, 4096)), ahead(row.ahead)
    {
        if (ahead) {
            EXPECT_TRUE(voice->enableRenderAhead());
        }
        loadNow(*voice, source);
        sendOk(*voice, DeckCommand::setGrid(grid.bpm, grid.firstBeat));
        sendOk(*voice, DeckCommand::quantize(quantize));
        sendOk(*voice, DeckCommand::keyLock(row.keyLock));
        sendOk(*voice, DeckCommand::seek(0.5));
        sendOk(*voice, DeckCommand::play());
        voice->tempo().store(row.tempo);
        voice->keyShift().store(row.keyShift);
    }
    void run(int renders)
    {
        for (int i = 0; i < renders; ++i) {
            voice->render(kCaptureBlock, l.data(), r.data());
            if (ahead)
                voice->serviceAhead();
            published.push_back(heard());
        }
    }
    double heard() const { return voice->state().position.load(); }
    double readHead() const { return voice->positionSeconds(); }

    std::unique_ptr<DeckVoice> voice;
    bool ahead;
    std::vector<float> l = std::vector<float>(kCaptureBlock), r = std::vector<float>(kCaptureBlock);
    std::vector<double> published;
};

// Plays on inside the captured loop: every render the published position moves
// on by one render's worth, or by that less the loop's length where it wraps,
// and it stays within the loop.
void playsOnInTheLoop(Deck& deck, double advance)
{
    const double start = deck.voice->state().loopStart.load();
    const double end = deck.voice->state().loopEnd.load();
    ASSERT_TRUE(deck.voice->state().loopActive.load());
    const std::size_t from = deck.published.size() - 1;
    deck.run(200);
    int wraps = 0;
    for (std::size_t i = from + 1; i < deck.published.size(); ++i) {
        const double step = deck.published[i] - deck.published[i - 1];
        const bool wrapped = std::fabs(step - (advance - (end - start))) < 2.0 / kCaptureRate;
        wraps += wrapped;
        ASSERT_TRUE(wrapped || std::fabs(step - advance) < 2.0 / kCaptureRate) << "render " << i << " step " << step;
        ASSERT_LT(deck.published[i], end + double(kCaptureBlock) / kCaptureRate) << "render " << i;
    }
    EXPECT_GE(wraps, 1);
}

} // namespace

TEST(DeckVoiceCapture, PointsLandWhereTheDeckIsHeardAtThePress)
{
    const TrackBufferRef source = captureMusic(6.0);
    const Row rows[] = {
        {"render-ahead, key lock at 1.06", true, true, 1.06, 0.0, true},
        {"render-ahead, key shift", true, false, 1.0, 1.0, true},
        {"audio thread, key lock at 1.06", false, true, 1.06, 0.0, true},
        {"audio thread, key shift", false, false, 1.0, 1.0, true},
        {"direct", false, true, 1.0, 0.0, false},
        {"direct, render-ahead on", true, true, 1.0, 0.0, false},
    };
    for (const Row& row : rows)
        for (bool quantize : {true, false}) {
            SCOPED_TRACE(testing::Message() << row.name << (quantize ? ", quantized" : ", free"));
            const double advance = double(kCaptureBlock) / kCaptureRate * (row.keyLock ? row.tempo : 1.0);

            // Where the deck is heard and read at each press (the renders are
            // deterministic, so a second deck plays the same).
            double heard1, read1, heard2, read2;
            {
                Deck probe(row, source, Grid{}, quantize);
                probe.run(kFirstPress);
                heard1 = probe.heard();
                read1 = probe.readHead();
                probe.run(kSecondPress);
                heard2 = probe.heard();
                read2 = probe.readHead();
            }
            if (row.timePitch) {
                ASSERT_GT(read1 - heard1, 0.03) << "the read head runs ahead of the sound";
                ASSERT_GT(read2 - heard2, 0.03);
            } else {
                ASSERT_EQ(read1, heard1);
                ASSERT_EQ(read2, heard2);
            }

            // A grid of four beats from the first press to the second, placed so
            // that rounding (or, for the beat loop, the beat at or before) tells
            // the heard position from the read head; a direct deck's presses
            // fall a quarter beat off a rounding point.
            const double beat = ((heard2 + read2) - (heard1 + read1)) / 2.0 / 4.0;
            const double split = row.timePitch ? (heard1 + read1) / 2.0 : heard1 + beat / 4.0;
            const Grid rounding{60.0 / beat, std::fmod(split + beat / 2.0, beat)};
            const Grid flooring{60.0 / beat, std::fmod(split, beat)};
            const double tolerance = row.timePitch ? 1.0 / kCaptureRate : 1e-9;

            {
                // Loop in and a hot cue set at the first press, loop out at the second.
                Deck deck(row, source, rounding, quantize);
                deck.run(kFirstPress);
                ASSERT_DOUBLE_EQ(deck.heard(), heard1);
                sendOk(*deck.voice, DeckCommand::loopIn());
                sendOk(*deck.voice, DeckCommand::hotCue(0, true));
                sendOk(*deck.voice, DeckCommand::hotCue(0, false));
                deck.run(1);
                const double start = quantize ? rounding.nearest(heard1) : heard1;
                EXPECT_NEAR(deck.voice->state().loopStart.load(), start, tolerance);
                EXPECT_NEAR(deck.voice->state().hotCues[0].load(), start, tolerance);
                EXPECT_TRUE(deck.voice->state().playing.load());

                deck.run(kSecondPress - 1);
                ASSERT_DOUBLE_EQ(deck.heard(), heard2);
                sendOk(*deck.voice, DeckCommand::loopOut());
                deck.run(1);
                const double loopStart = deck.voice->state().loopStart.load();
                const double end = quantize
                    ? loopStart + beat * std::max(std::round((heard2 - loopStart) / beat), 1.0)
                    : heard2;
                EXPECT_NEAR(deck.voice->state().loopEnd.load(), end, tolerance);
                playsOnInTheLoop(deck, advance);
            }
            {
                // A beat loop starts from the beat heard, not one still to come.
                Deck deck(row, source, flooring, quantize);
                deck.run(kFirstPress);
                sendOk(*deck.voice, DeckCommand::autoLoop(2.0));
                deck.run(1);
                const double start = quantize ? flooring.atOrBefore(heard1) : heard1;
                EXPECT_NEAR(deck.voice->state().loopStart.load(), start, tolerance);
                EXPECT_NEAR(deck.voice->state().loopEnd.load(), start + 2.0 * beat, tolerance);
                playsOnInTheLoop(deck, advance);
            }
        }
}

TEST(DeckVoiceCapture, ALoopShorterThanTheReadHeadsLeadWrapsAtOnce)
{
    // A free loop out 26 ms after loop in on a key-locked deck: the end lies
    // behind the read head by more than a loop length, and the read head comes
    // back inside the loop in place of running past it.
    const Row row{"audio thread, key lock at 1.06", false, true, 1.06, 0.0, true};
    Deck deck(row, captureMusic(4.0), Grid{}, false);
    deck.run(kFirstPress);
    sendOk(*deck.voice, DeckCommand::loopIn());
    deck.run(1);
    // One render and 20 ms later, by the sound.
    tick(*deck.voice, int(0.02 * kCaptureRate / 1.06));
    const double lead = deck.readHead() - deck.heard();
    sendOk(*deck.voice, DeckCommand::loopOut());
    deck.voice->render(0, deck.l.data(), deck.r.data()); // carries out the command only
    const double atPress = deck.readHead();
    deck.run(1);
    const double start = deck.voice->state().loopStart.load();
    const double end = deck.voice->state().loopEnd.load();
    ASSERT_TRUE(deck.voice->state().loopActive.load());
    ASSERT_LT(end - start, 0.03);
    ASSERT_GT(lead, end - start);
    EXPECT_GE(atPress, start);
    EXPECT_LT(atPress, end);
    for (int i = 0; i < 20; ++i) {
        deck.run(1);
        ASSERT_GE(deck.readHead(), start - 1.0 / kCaptureRate) << i;
        ASSERT_LT(deck.readHead(), end) << i;
    }
}
