#include "controllers/DDJDecoder.h"

namespace zelvo {

namespace {

using K = DeckKey::Kind;

// What a note on a deck channel (0 to 3) means.
struct DeckNote {
    enum class Action : std::uint8_t { none, key, jogTouch, assign, deckSelect };
    Action action = Action::none;
    DeckKey key{};
    bool shift = false;
    int side = 0; // crossfader assignment
};

using DeckNoteTable = std::array<DeckNote, 128>;

constexpr DeckNote key(K k, bool shift)
{
    return {DeckNote::Action::key, DeckKey::of(k), shift, 0};
}
constexpr DeckNote key(DeckKey k, bool shift)
{
    return {DeckNote::Action::key, k, shift, 0};
}
constexpr DeckNote assign(int side)
{
    return {DeckNote::Action::assign, {}, false, side};
}

constexpr DeckNoteTable makeDeckNotes(ControllerKind kind)
{
    const bool flx10 = kind == ControllerKind::flx10;
    DeckNoteTable t{};
    t[0x0B] = key(K::play, false);
    t[0x0C] = key(K::cue, false);
    t[0x0E] = flx10 ? key(DeckKey::partKey(1), false) : key(K::slipReverse, true);
    t[0x10] = key(K::loopIn, false);
    t[0x11] = key(K::loopOut, false);
    t[0x14] = key(K::reloop, false);
    t[0x15] = key(K::slipReverse, false);
    t[0x16] = assign(-1);
    t[0x17] = key(K::slip, true);
    t[0x18] = assign(1);
    t[0x1A] = key(K::keySyncLong, false);
    t[0x1B] = key(DeckKey::padModeKey(HardwarePadMode::hotCue), false);
    t[0x1D] = assign(0);
    t[0x1E] = key(DeckKey::padModeKey(HardwarePadMode::padFX1), false);
    t[0x20] = key(DeckKey::padModeKey(HardwarePadMode::beatJump), false);
    t[0x22] = key(DeckKey::padModeKey(HardwarePadMode::sampler), false);
    t[0x35] = key(K::quantize, false);
    t[0x36] = {DeckNote::Action::jogTouch, {}, false, 0};
    t[0x38] = key(K::slipReverse, true);
    t[0x39] = key(K::headphoneCue, true);
    t[0x3D] = key(K::callBack, true);
    t[0x3E] = key(K::callForward, true);
    t[0x3F] = key(K::shift, false);
    t[0x40] = key(K::slip, false);
    t[0x41] = key(K::tempoReset, false);
    t[0x47] = key(K::play, true);
    t[0x48] = key(K::cue, true);
    t[0x4C] = key(K::loopHalve, true);
    t[0x4D] = flx10 ? key(K::loopDouble, true) : key(K::reloop, false);
    t[0x4E] = key(K::loopDouble, true);
    t[0x50] = key(K::reloop, true);
    t[0x51] = key(K::callBack, false);
    t[0x53] = key(K::callForward, false);
    t[0x54] = key(K::headphoneCue, false);
    t[0x58] = key(K::sync, false);
    t[0x5C] = key(K::sync, true);
    t[0x5E] = key(K::beatJumpBack, false);
    t[0x5F] = key(K::beatJumpForward, false);
    t[0x60] = key(K::tempoRange, true);
    t[0x61] = key(K::beatJumpBack, true);
    t[0x62] = key(K::beatJumpForward, true);
    t[0x64] = key(K::keySync, true);
    t[0x65] = key(K::keySync, false);
    t[0x67] = {DeckNote::Action::jogTouch, {}, false, 0};
    t[0x68] = key(K::quantize, true);
    t[0x69] = key(DeckKey::padModeKey(HardwarePadMode::keyboard), true);
    t[0x6B] = key(DeckKey::padModeKey(HardwarePadMode::padFX2), true);
    t[0x6D] = key(DeckKey::padModeKey(HardwarePadMode::beatLoop), true);
    t[0x6F] = key(DeckKey::padModeKey(HardwarePadMode::keyShift), true);
    t[0x70] = key(K::beatJumpBack, true);
    t[0x71] = key(K::beatJumpForward, true);
    t[0x78] = key(K::syncLong, false);
    if (flx10) {
        t[0x0D] = key(DeckKey::partKey(0), false);
        t[0x0F] = key(DeckKey::partKey(2), false);
        t[0x3C] = {DeckNote::Action::deckSelect, {}, false, 0};
        t[0x42] = key(K::mixPointForward, true);
        t[0x43] = key(K::mixPointLink, true);
        t[0x49] = key(K::mixPointBack, true);
        t[0x4A] = key(K::mixPointLink, false);
        t[0x59] = key(K::mixPointBack, false);
        t[0x5A] = key(K::mixPointForward, false);
    }
    return t;
}

constexpr DeckNoteTable flx4DeckNotes = makeDeckNotes(ControllerKind::flx4);
constexpr DeckNoteTable flx10DeckNotes = makeDeckNotes(ControllerKind::flx10);

// 14-bit deck controls by MSB controller; the LSB is 32 higher.
constexpr std::optional<MixerKnob> deckKnob(int msbController)
{
    switch (msbController) {
    case 0x00: return MixerKnob::tempo;
    case 0x04: return MixerKnob::trim;
    case 0x07: return MixerKnob::high;
    case 0x0B: return MixerKnob::mid;
    case 0x0F: return MixerKnob::low;
    case 0x13: return MixerKnob::fader;
    default: return std::nullopt;
    }
}

constexpr int signedDetents(int value)
{
    return value < 64 ? value : value - 128;
}

std::optional<DDJEvent> beatFXNote(ControllerKind kind, int note, bool down)
{
    const bool flx4 = kind == ControllerKind::flx4;
    if (note >= 0x10 && note <= 0x13) {
        if (down)
            return DDJ::BeatFXChannel{note - 15};
        if (flx4)
            return DDJ::BeatFXChannel{0};
        return std::nullopt;
    }
    if (note == 0x43)
        return DDJ::BeatFXOn{true, down};
    if (note == 0x47)
        return DDJ::BeatFXOn{false, down};
    if (!down)
        return std::nullopt;
    if (note == 0x14)
        return DDJ::BeatFXChannel{0};
    if (note == 0x15 || note == 0x16)
        return DDJ::BeatFXChannel{std::nullopt};
    if (note >= 0x20 && note <= 0x2D)
        return DDJ::BeatFXSelect{note - 0x20};
    switch (note) {
    case 0x4A: return DDJ::BeatFXBeat{-1};
    case 0x4B: return DDJ::BeatFXBeat{1};
    case 0x63: return DDJ::BeatFXStep{1};
    case 0x64: return DDJ::BeatFXStep{-1};
    default: return std::nullopt;
    }
}

std::optional<DDJEvent> globalNote(ControllerKind kind, int note, bool down)
{
    if (!down)
        return std::nullopt;
    const bool flx10 = kind == ControllerKind::flx10;
    if (note <= 5)
        return flx10 ? std::optional<DDJEvent>(DDJ::ColorFXSelect{note}) : std::nullopt;
    switch (note) {
    case 0x41: return DDJ::BrowsePress{false};
    case 0x42: return DDJ::BrowsePress{true};
    case 0x46:
    case 0x47: return DDJ::Load{note - 70};
    case 0x48:
    case 0x49: return flx10 ? std::optional<DDJEvent>(DDJ::Load{note - 70}) : std::nullopt;
    case 0x65: return DDJ::Back{};
    case 0x67: return DDJ::View{};
    case 0x7A: return DDJ::BrowsePress{false};
    default: return std::nullopt;
    }
}

} // namespace

DDJDecoder::DDJDecoder(ControllerKind kind)
    : kind_(kind)
{
}

std::optional<DDJEvent> DDJDecoder::decode(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const int type = status >> 4;
    const int channel = status & 0x0F;
    const int d1 = data1 & 0x7F;
    const int d2 = data2 & 0x7F;
    const bool flx4 = kind_ == ControllerKind::flx4;

    if (type == 0xB)
        return controlChange(channel, d1, d2);
    if (type != 0x8 && type != 0x9)
        return std::nullopt;
    // A note on with velocity 0 is a release.
    const bool down = type == 0x9 && d2 != 0;

    if (channel <= 3)
        return deckNote(channel, d1, down);
    if (channel == 4 || (channel == 5 && flx4))
        return beatFXNote(kind_, d1, down);
    if (channel == 6)
        return globalNote(kind_, d1, down);
    if (channel >= 7 && channel <= 14) {
        if (flx4 && channel > 10)
            return std::nullopt;
        const int offset = channel - 7;
        return DDJ::Pad{offset / 2, HardwarePadMode(d1 >> 4), (d1 >> 3) & 1, d1 & 7, (offset & 1) != 0, down};
    }
    return std::nullopt;
}

std::optional<DDJEvent> DDJDecoder::deckNote(int channel, int note, bool down) const
{
    if (kind_ == ControllerKind::flx4 && channel > 1)
        return std::nullopt;
    const auto& row = (kind_ == ControllerKind::flx10 ? flx10DeckNotes : flx4DeckNotes)[std::size_t(note)];
    switch (row.action) {
    case DeckNote::Action::none: return std::nullopt;
    case DeckNote::Action::key: return DDJ::Key{row.key, channel, row.shift, down};
    case DeckNote::Action::jogTouch: return DDJ::JogTouch{channel, down};
    case DeckNote::Action::assign:
        return down ? std::optional<DDJEvent>(DDJ::CrossfaderAssign{channel, row.side}) : std::nullopt;
    case DeckNote::Action::deckSelect:
        return down ? std::optional<DDJEvent>(DDJ::DeckSelect{channel}) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<double> DDJDecoder::fourteenBit(int channel, int cc, int msbController, int value)
{
    auto& slot = msb_[std::size_t(channel * 128 + msbController)];
    if (cc == msbController) {
        slot = std::uint8_t(stored | value);
        return std::nullopt;
    }
    if (!(slot & stored))
        return std::nullopt;
    return double((slot & 0x7F) * 128 + value) / 16383.0;
}

std::optional<DDJEvent> DDJDecoder::controlChange(int channel, int cc, int value)
{
    const bool flx4 = kind_ == ControllerKind::flx4;
    if (channel <= 3) {
        if (flx4 && channel > 1)
            return std::nullopt;
        switch (cc) {
        case 0x1F:
        case 0x26:
        case 0x29: return DDJ::Jog{channel, JogSurface::search, value - 64};
        case 0x21: return DDJ::Jog{channel, JogSurface::side, value - 64};
        case 0x22: return DDJ::Jog{channel, JogSurface::platter, value - 64};
        case 0x23: return DDJ::Jog{channel, JogSurface::platterNudge, value - 64};
        default: break;
        }
        const int m = cc >= 32 ? cc - 32 : cc;
        const auto knob = deckKnob(m);
        if (!knob)
            return std::nullopt;
        if (auto v = fourteenBit(channel, cc, m, value))
            return DDJ::Knob{*knob, channel, *v};
        return std::nullopt;
    }
    if (channel == 4) {
        if (cc != 0x02 && cc != 0x22)
            return std::nullopt;
        if (auto v = fourteenBit(channel, cc, 0x02, value))
            return DDJ::BeatFXLevel{*v};
        return std::nullopt;
    }
    if (channel != 6)
        return std::nullopt;
    if (cc == 0x40)
        return DDJ::Browse{signedDetents(value)};
    if (cc == 0x64)
        return DDJ::Zoom{signedDetents(value)};
    const int m = cc >= 32 ? cc - 32 : cc;
    if (m == 0x0C) {
        if (auto v = fourteenBit(channel, cc, m, value))
            return DDJ::HeadphonesMix{*v};
        return std::nullopt;
    }
    if (m == 0x1F) {
        if (auto v = fourteenBit(channel, cc, m, value))
            return DDJ::Crossfader{*v};
        return std::nullopt;
    }
    if (m >= 0x17 && m <= 0x1A) {
        const int deck = m - 0x17;
        if (flx4 && deck > 1)
            return std::nullopt;
        if (auto v = fourteenBit(channel, cc, m, value))
            return DDJ::Knob{MixerKnob::colorFX, deck, *v};
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace zelvo
