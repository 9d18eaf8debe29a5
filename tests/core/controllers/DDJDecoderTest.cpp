#include "support/ControllerPrinting.h"
#include "support/RealtimeGuard.h"
#include "controllers/DDJDecoder.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <vector>

namespace zelvo {
namespace {

using K = DeckKey::Kind;
using Decoded = std::optional<DDJEvent>;
constexpr auto flx4 = ControllerKind::flx4;
constexpr auto flx10 = ControllerKind::flx10;
constexpr ControllerKind bothKinds[] = {flx4, flx10};

// The three ways a button reports: note on, note on with velocity 0, note off.
struct NoteForm {
    std::uint8_t type;
    std::uint8_t velocity;
    bool down;
};
constexpr NoteForm noteForms[] = {{0x90, 0x7F, true}, {0x90, 0x00, false}, {0x80, 0x40, false}};

Decoded decodeOnce(ControllerKind kind, std::uint8_t status, std::uint8_t d1, std::uint8_t d2)
{
    DDJDecoder decoder(kind);
    return decoder.decode(status, d1, d2);
}

// The deck-note table as the controllers send it.
struct DeckRow {
    enum Only { both, onlyFlx10, onlyFlx4 } only = both;
    enum Action { key, touch, assign, select } action = key;
    DeckKey deckKey{};
    bool shift = false;
    int side = 0;
};

std::multimap<int, DeckRow> deckRows()
{
    std::multimap<int, DeckRow> r;
    auto k = [&](int note, DeckKey key, bool shift, DeckRow::Only only = DeckRow::both) {
        r.emplace(note, DeckRow{only, DeckRow::key, key, shift, 0});
    };
    auto kk = [&](int note, K kind, bool shift, DeckRow::Only only = DeckRow::both) {
        k(note, DeckKey::of(kind), shift, only);
    };
    kk(11, K::play, false);
    kk(12, K::cue, false);
    k(13, DeckKey::partKey(0), false, DeckRow::onlyFlx10);
    k(14, DeckKey::partKey(1), false, DeckRow::onlyFlx10);
    kk(14, K::slipReverse, true, DeckRow::onlyFlx4);
    k(15, DeckKey::partKey(2), false, DeckRow::onlyFlx10);
    kk(16, K::loopIn, false);
    kk(17, K::loopOut, false);
    kk(20, K::reloop, false);
    kk(21, K::slipReverse, false);
    r.emplace(22, DeckRow{DeckRow::both, DeckRow::assign, {}, false, -1});
    kk(23, K::slip, true);
    r.emplace(24, DeckRow{DeckRow::both, DeckRow::assign, {}, false, 1});
    kk(26, K::keySyncLong, false);
    k(27, DeckKey::padModeKey(HardwarePadMode::hotCue), false);
    r.emplace(29, DeckRow{DeckRow::both, DeckRow::assign, {}, false, 0});
    k(30, DeckKey::padModeKey(HardwarePadMode::padFX1), false);
    k(32, DeckKey::padModeKey(HardwarePadMode::beatJump), false);
    k(34, DeckKey::padModeKey(HardwarePadMode::sampler), false);
    kk(53, K::quantize, false);
    r.emplace(54, DeckRow{DeckRow::both, DeckRow::touch});
    kk(56, K::slipReverse, true);
    kk(57, K::headphoneCue, true);
    r.emplace(60, DeckRow{DeckRow::onlyFlx10, DeckRow::select});
    kk(61, K::callBack, true);
    kk(62, K::callForward, true);
    kk(63, K::shift, false);
    kk(64, K::slip, false);
    kk(65, K::tempoReset, false);
    kk(66, K::mixPointForward, true, DeckRow::onlyFlx10);
    kk(67, K::mixPointLink, true, DeckRow::onlyFlx10);
    kk(71, K::play, true);
    kk(72, K::cue, true);
    kk(73, K::mixPointBack, true, DeckRow::onlyFlx10);
    kk(74, K::mixPointLink, false, DeckRow::onlyFlx10);
    kk(76, K::loopHalve, true);
    kk(77, K::loopDouble, true, DeckRow::onlyFlx10);
    kk(77, K::reloop, false, DeckRow::onlyFlx4);
    kk(78, K::loopDouble, true);
    kk(80, K::reloop, true);
    kk(81, K::callBack, false);
    kk(83, K::callForward, false);
    kk(84, K::headphoneCue, false);
    kk(88, K::sync, false);
    kk(89, K::mixPointBack, false, DeckRow::onlyFlx10);
    kk(90, K::mixPointForward, false, DeckRow::onlyFlx10);
    kk(92, K::sync, true);
    kk(94, K::beatJumpBack, false);
    kk(95, K::beatJumpForward, false);
    kk(96, K::tempoRange, true);
    kk(97, K::beatJumpBack, true);
    kk(98, K::beatJumpForward, true);
    kk(100, K::keySync, true);
    kk(101, K::keySync, false);
    r.emplace(103, DeckRow{DeckRow::both, DeckRow::touch});
    kk(104, K::quantize, true);
    k(105, DeckKey::padModeKey(HardwarePadMode::keyboard), true);
    k(107, DeckKey::padModeKey(HardwarePadMode::padFX2), true);
    k(109, DeckKey::padModeKey(HardwarePadMode::beatLoop), true);
    k(111, DeckKey::padModeKey(HardwarePadMode::keyShift), true);
    kk(112, K::beatJumpBack, true);
    kk(113, K::beatJumpForward, true);
    kk(120, K::syncLong, false);
    return r;
}

Decoded expectedDeckNote(ControllerKind kind, int channel, int note, bool down)
{
    static const auto rows = deckRows();
    if (kind == flx4 && channel > 1)
        return std::nullopt;
    auto [from, to] = rows.equal_range(note);
    for (auto it = from; it != to; ++it) {
        const DeckRow& row = it->second;
        if ((row.only == DeckRow::onlyFlx10 && kind != flx10) || (row.only == DeckRow::onlyFlx4 && kind != flx4))
            continue;
        switch (row.action) {
        case DeckRow::key: return DDJ::Key{row.deckKey, channel, row.shift, down};
        case DeckRow::touch: return DDJ::JogTouch{channel, down};
        case DeckRow::assign: return down ? Decoded(DDJ::CrossfaderAssign{channel, row.side}) : std::nullopt;
        case DeckRow::select: return down ? Decoded(DDJ::DeckSelect{channel}) : std::nullopt;
        }
    }
    return std::nullopt;
}

TEST(DDJDecoder, EveryDeckNoteOnEveryDeckChannelInEveryForm)
{
    for (auto kind : bothKinds) {
        for (int channel = 0; channel < 4; ++channel) {
            for (int note = 0; note < 128; ++note) {
                for (auto form : noteForms) {
                    SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " channel " << channel << " note "
                                                    << note << " status " << int(form.type));
                    EXPECT_EQ(decodeOnce(kind, std::uint8_t(form.type | channel), std::uint8_t(note), form.velocity),
                              expectedDeckNote(kind, channel, note, form.down));
                }
            }
        }
    }
    // The Part's own examples.
    EXPECT_EQ(decodeOnce(flx4, 0x90, 0x0B, 0x7F), Decoded(DDJ::Key{DeckKey::of(K::play), 0, false, true}));
    EXPECT_EQ(decodeOnce(flx4, 0x92, 0x0B, 0x7F), std::nullopt);
    EXPECT_EQ(decodeOnce(flx10, 0x92, 0x0B, 0x7F), Decoded(DDJ::Key{DeckKey::of(K::play), 2, false, true}));
}

TEST(DDJDecoder, BeatEffectAndGlobalNotes)
{
    struct Row {
        std::uint8_t status, note, velocity;
        Decoded flx4, flx10;
    };
    const Decoded none;
    const std::vector<Row> rows = {
        {0x94, 0x10, 0x7F, DDJ::BeatFXChannel{1}, DDJ::BeatFXChannel{1}},
        {0x94, 0x13, 0x7F, DDJ::BeatFXChannel{4}, DDJ::BeatFXChannel{4}},
        {0x94, 0x11, 0x00, DDJ::BeatFXChannel{0}, none},
        {0x84, 0x13, 0x00, DDJ::BeatFXChannel{0}, none},
        {0x94, 0x14, 0x7F, DDJ::BeatFXChannel{0}, DDJ::BeatFXChannel{0}},
        {0x94, 0x14, 0x00, none, none},
        {0x94, 0x15, 0x7F, DDJ::BeatFXChannel{}, DDJ::BeatFXChannel{}},
        {0x94, 0x16, 0x7F, DDJ::BeatFXChannel{}, DDJ::BeatFXChannel{}},
        {0x84, 0x16, 0x00, none, none},
        {0x94, 0x20, 0x7F, DDJ::BeatFXSelect{0}, DDJ::BeatFXSelect{0}},
        {0x94, 0x2D, 0x7F, DDJ::BeatFXSelect{13}, DDJ::BeatFXSelect{13}},
        {0x94, 0x2E, 0x7F, none, none},
        {0x94, 0x2D, 0x00, none, none},
        {0x94, 0x43, 0x7F, DDJ::BeatFXOn{true, true}, DDJ::BeatFXOn{true, true}},
        {0x84, 0x43, 0x00, DDJ::BeatFXOn{true, false}, DDJ::BeatFXOn{true, false}},
        {0x94, 0x47, 0x00, DDJ::BeatFXOn{false, false}, DDJ::BeatFXOn{false, false}},
        {0x94, 0x4A, 0x7F, DDJ::BeatFXBeat{-1}, DDJ::BeatFXBeat{-1}},
        {0x94, 0x4B, 0x7F, DDJ::BeatFXBeat{1}, DDJ::BeatFXBeat{1}},
        {0x94, 0x4B, 0x00, none, none},
        {0x94, 0x63, 0x7F, DDJ::BeatFXStep{1}, DDJ::BeatFXStep{1}},
        {0x94, 0x64, 0x7F, DDJ::BeatFXStep{-1}, DDJ::BeatFXStep{-1}},
        {0x94, 0x0B, 0x7F, none, none},
        // Channel 5 is a second beat-effect channel on the FLX4 only.
        {0x95, 0x47, 0x7F, DDJ::BeatFXOn{false, true}, none},
        {0x95, 0x11, 0x00, DDJ::BeatFXChannel{0}, none},
        {0x95, 0x21, 0x7F, DDJ::BeatFXSelect{1}, none},
        // Global notes: presses only.
        {0x96, 0x00, 0x7F, none, DDJ::ColorFXSelect{0}},
        {0x96, 0x05, 0x7F, none, DDJ::ColorFXSelect{5}},
        {0x96, 0x06, 0x7F, none, none},
        {0x96, 0x05, 0x00, none, none},
        {0x96, 0x41, 0x7F, DDJ::BrowsePress{false}, DDJ::BrowsePress{false}},
        {0x96, 0x42, 0x7F, DDJ::BrowsePress{true}, DDJ::BrowsePress{true}},
        {0x96, 0x7A, 0x7F, DDJ::BrowsePress{false}, DDJ::BrowsePress{false}},
        {0x86, 0x41, 0x00, none, none},
        {0x96, 0x46, 0x7F, DDJ::Load{0}, DDJ::Load{0}},
        {0x96, 0x47, 0x7F, DDJ::Load{1}, DDJ::Load{1}},
        {0x96, 0x48, 0x7F, none, DDJ::Load{2}},
        {0x96, 0x49, 0x7F, none, DDJ::Load{3}},
        {0x96, 0x47, 0x00, none, none},
        {0x96, 0x65, 0x7F, DDJ::Back{}, DDJ::Back{}},
        {0x96, 0x67, 0x7F, DDJ::View{}, DDJ::View{}},
        {0x96, 0x66, 0x7F, none, none},
        // Channel 15 and channel messages that are no notes or controls.
        {0x9F, 0x0B, 0x7F, none, none},
        {0xA0, 0x0B, 0x7F, none, none},
        {0xC0, 0x0B, 0x00, none, none},
        {0xD0, 0x40, 0x00, none, none},
        {0xE0, 0x00, 0x40, none, none},
        {0xF0, 0x00, 0x40, none, none},
        {0x0B, 0x7F, 0x00, none, none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(row.status) << " " << int(row.note) << " "
                                        << int(row.velocity));
        EXPECT_EQ(decodeOnce(flx4, row.status, row.note, row.velocity), row.flx4);
        EXPECT_EQ(decodeOnce(flx10, row.status, row.note, row.velocity), row.flx10);
    }
}

TEST(DDJDecoder, PadsOnEveryChannel)
{
    for (auto kind : bothKinds) {
        for (int channel = 7; channel <= 14; ++channel) {
            for (int note = 0; note < 128; ++note) {
                for (auto form : noteForms) {
                    const Decoded got = decodeOnce(kind, std::uint8_t(form.type | channel), std::uint8_t(note),
                                                 form.velocity);
                    if (kind == flx4 && channel > 10) {
                        EXPECT_EQ(got, std::nullopt) << channel << " " << note;
                        continue;
                    }
                    const Decoded want = DDJ::Pad{(channel - 7) / 2, HardwarePadMode(note / 16), (note / 8) % 2,
                                                note % 8, (channel - 7) % 2 == 1, form.down};
                    EXPECT_EQ(got, want) << channel << " " << note;
                }
            }
        }
    }
    EXPECT_EQ(decodeOnce(flx4, 0x97, 0x08, 0x7F), Decoded(DDJ::Pad{0, HardwarePadMode::hotCue, 1, 0, false, true}));
    EXPECT_EQ(decodeOnce(flx4, 0x98, 0x75, 0x7F), Decoded(DDJ::Pad{0, HardwarePadMode::keyShift, 0, 5, true, true}));
}

TEST(DDJDecoder, JogsBrowseAndZoomAreRelative)
{
    struct Row {
        std::uint8_t status, cc, value;
        Decoded flx4, flx10;
    };
    const Decoded none;
    const std::vector<Row> rows = {
        {0xB0, 0x1F, 0x41, DDJ::Jog{0, JogSurface::search, 1}, DDJ::Jog{0, JogSurface::search, 1}},
        {0xB1, 0x26, 0x3F, DDJ::Jog{1, JogSurface::search, -1}, DDJ::Jog{1, JogSurface::search, -1}},
        {0xB0, 0x29, 0x00, DDJ::Jog{0, JogSurface::search, -64}, DDJ::Jog{0, JogSurface::search, -64}},
        {0xB0, 0x21, 0x7F, DDJ::Jog{0, JogSurface::side, 63}, DDJ::Jog{0, JogSurface::side, 63}},
        {0xB1, 0x22, 0x40, DDJ::Jog{1, JogSurface::platter, 0}, DDJ::Jog{1, JogSurface::platter, 0}},
        {0xB0, 0x23, 0x45, DDJ::Jog{0, JogSurface::platterNudge, 5}, DDJ::Jog{0, JogSurface::platterNudge, 5}},
        {0xB3, 0x22, 0x42, none, DDJ::Jog{3, JogSurface::platter, 2}},
        {0xB2, 0x21, 0x3E, none, DDJ::Jog{2, JogSurface::side, -2}},
        {0xB4, 0x22, 0x42, none, none},
        {0xB6, 0x40, 0x7F, DDJ::Browse{-1}, DDJ::Browse{-1}},
        {0xB6, 0x40, 0x01, DDJ::Browse{1}, DDJ::Browse{1}},
        {0xB6, 0x40, 0x40, DDJ::Browse{-64}, DDJ::Browse{-64}},
        {0xB6, 0x40, 0x3F, DDJ::Browse{63}, DDJ::Browse{63}},
        {0xB6, 0x64, 0x7E, DDJ::Zoom{-2}, DDJ::Zoom{-2}},
        {0xB6, 0x64, 0x03, DDJ::Zoom{3}, DDJ::Zoom{3}},
        {0xB0, 0x40, 0x01, none, none},
        {0xB6, 0x22, 0x41, none, none},
        {0xB0, 0x7B, 0x00, none, none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(row.status) << " " << int(row.cc) << " "
                                        << int(row.value));
        EXPECT_EQ(decodeOnce(flx4, row.status, row.cc, row.value), row.flx4);
        EXPECT_EQ(decodeOnce(flx10, row.status, row.cc, row.value), row.flx10);
    }
}

TEST(DDJDecoder, FourteenBitControlsPairTheLatestMsbWithEachLsb)
{
    struct Pair {
        std::uint8_t status, msb;
        bool onFlx4;
        std::function<DDJEvent(double)> event;
    };
    std::vector<Pair> pairs;
    constexpr std::pair<std::uint8_t, MixerKnob> knobs[] = {{0x00, MixerKnob::tempo}, {0x04, MixerKnob::trim},
                                                            {0x07, MixerKnob::high},  {0x0B, MixerKnob::mid},
                                                            {0x0F, MixerKnob::low},   {0x13, MixerKnob::fader}};
    for (int deck = 0; deck < 4; ++deck) {
        for (auto [msb, knob] : knobs)
            pairs.push_back({std::uint8_t(0xB0 | deck), msb, deck < 2,
                             [knob, deck](double v) { return DDJEvent(DDJ::Knob{knob, deck, v}); }});
        pairs.push_back({0xB6, std::uint8_t(0x17 + deck), deck < 2,
                         [deck](double v) { return DDJEvent(DDJ::Knob{MixerKnob::colorFX, deck, v}); }});
    }
    pairs.push_back({0xB6, 0x0C, true, [](double v) { return DDJEvent(DDJ::HeadphonesMix{v}); }});
    pairs.push_back({0xB6, 0x1F, true, [](double v) { return DDJEvent(DDJ::Crossfader{v}); }});
    pairs.push_back({0xB4, 0x02, true, [](double v) { return DDJEvent(DDJ::BeatFXLevel{v}); }});

    for (auto kind : bothKinds) {
        for (const auto& p : pairs) {
            SCOPED_TRACE(testing::Message() << "kind " << int(kind) << std::hex << " status " << int(p.status)
                                            << " msb " << int(p.msb));
            const std::uint8_t lsb = p.msb + 32;
            const bool accepted = kind == flx10 || p.onFlx4;
            auto want = [&](int m, int l) { return accepted ? Decoded(p.event((m * 128 + l) / 16383.0)) : std::nullopt; };
            DDJDecoder d(kind);
            // An LSB before any MSB gives nothing.
            EXPECT_EQ(d.decode(p.status, lsb, 0x10), std::nullopt);
            EXPECT_EQ(d.decode(p.status, p.msb, 0x40), std::nullopt);
            EXPECT_EQ(d.decode(p.status, lsb, 0x00), want(64, 0));
            // A repeated LSB pairs with the kept MSB.
            EXPECT_EQ(d.decode(p.status, lsb, 0x7F), want(64, 127));
            EXPECT_EQ(d.decode(p.status, p.msb, 0x7F), std::nullopt);
            EXPECT_EQ(d.decode(p.status, lsb, 0x7F), want(127, 127));
            EXPECT_EQ(d.decode(p.status, p.msb, 0x00), std::nullopt);
            EXPECT_EQ(d.decode(p.status, lsb, 0x00), want(0, 0));
            // The MSB is remembered per channel and control: the same pair on
            // another channel, or another control's MSB, does not pair.
            DDJDecoder other(kind);
            EXPECT_EQ(other.decode(std::uint8_t(p.status ^ 0x01), p.msb, 0x40), std::nullopt);
            EXPECT_EQ(other.decode(p.status, lsb, 0x00), std::nullopt);
            EXPECT_EQ(other.decode(p.status, std::uint8_t(p.msb == 0x13 ? 0x0F : 0x13), 0x40), std::nullopt);
            EXPECT_EQ(other.decode(p.status, lsb, 0x00), std::nullopt);
        }
    }
    // The Part's example: the fader at half.
    DDJDecoder d(flx4);
    EXPECT_EQ(d.decode(0xB0, 0x13, 0x40), std::nullopt);
    EXPECT_EQ(d.decode(0xB0, 0x33, 0x00), Decoded(DDJ::Knob{MixerKnob::fader, 0, 8192 / 16383.0}));
}

TEST(DDJDecoder, ALongMixedStreamAllocatesNothing)
{
    std::vector<std::array<std::uint8_t, 3>> stream;
    for (int i = 0; i < 20000; ++i) {
        const auto ch = std::uint8_t(i % 4);
        stream.push_back({std::uint8_t(0xB0 | ch), 0x22, std::uint8_t(64 + (i % 7) - 3)});
        stream.push_back({std::uint8_t(0xB0 | ch), 0x13, std::uint8_t(i % 128)});
        stream.push_back({std::uint8_t(0xB0 | ch), 0x33, std::uint8_t((i * 7) % 128)});
        stream.push_back({std::uint8_t(0x90 | ch), 0x0B, std::uint8_t(i % 2 ? 0x7F : 0)});
        stream.push_back({std::uint8_t(0x97 + i % 8), std::uint8_t(i % 128), 0x7F});
        stream.push_back({0xB6, 0x40, std::uint8_t(i % 128)});
        stream.push_back({std::uint8_t(0x80 | (i % 16)), std::uint8_t(i % 128), std::uint8_t(i % 3)});
    }
    DDJDecoder decoder(flx10);
    int events = 0;
    test::RealtimeProbe probe;
    {
        test::AudioThreadScope receiveThread;
        for (const auto& m : stream)
            events += decoder.decode(m[0], m[1], m[2]).has_value();
    }
    EXPECT_TRUE(probe.clean());
    EXPECT_GT(events, 100000);
}

} // namespace
} // namespace zelvo
