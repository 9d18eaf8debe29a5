#pragma once
// The vocabulary of deck actions the main thread sends to a deck on the audio
// thread (DeckVoice::send). A plain value copied into the deck's command ring; a
// track buffer travels as a raw pointer carrying one strong reference, which the
// voice takes over when the command goes in (and `send` releases when it does not).
#include "library/TrackBuffer.h"

#include <cstdint>

namespace zelvo {

struct DeckCommand {
    // In this order; the order is the case index.
    enum class Kind : std::uint8_t {
        load,        // buffer or none; flag = keepPosition
        swap,        // buffer; a = offset seconds
        takeOver,    // buffer; a = at seconds
        setGrid,     // a = bpm, b = firstBeat seconds
        cue,         // flag = down
        hotCue,      // index 0…7; flag = down
        setHotCue,   // index; a = seconds (negative clears)
        setCuePoint, // a = seconds
        seek,        // a = seconds
        autoLoop,    // a = beats
        loopResize,  // a = factor
        setLoop,     // a = start, b = end seconds; flag = active
        beatJump,    // a = beats (signed)
        jogTouch,    // flag = down
        jogScrub,    // a = seconds (signed)
        jogBend,     // a = amount
        slip,        // flag
        reverse,     // flag
        quantize,    // flag
        keyLock,     // flag
        vinyl,       // flag
        alignPhase,  // a = master beat phase 0…1
        play,
        pause,
        loopIn,
        loopOut,
        reloopExit,
        handOver, // the transport queued with it (DeckVoice::handOver)
    };

    Kind kind = Kind::pause;
    TrackBuffer* buffer = nullptr; // load, swap, takeOver: carries one strong reference
    double a = 0.0;
    double b = 0.0;
    int index = 0;
    bool flag = false;

    // Whether the command holds a buffer reference that someone must release.
    bool carriesBuffer() const noexcept
    {
        return buffer && (kind == Kind::load || kind == Kind::swap || kind == Kind::takeOver);
    }

    // Builders, one per case. The buffer builders take over `buffer`'s reference
    // (pass a copy to keep your own). Any thread.
    static DeckCommand load(TrackBufferRef buffer, bool keepPosition) { return withBuffer(Kind::load, buffer, 0.0, keepPosition); }
    static DeckCommand swap(TrackBufferRef buffer, double offset) { return withBuffer(Kind::swap, buffer, offset, false); }
    static DeckCommand takeOver(TrackBufferRef buffer, double at) { return withBuffer(Kind::takeOver, buffer, at, false); }
    static DeckCommand setGrid(double bpm, double firstBeat) { return {Kind::setGrid, nullptr, bpm, firstBeat, 0, false}; }
    static DeckCommand cue(bool down) { return flagged(Kind::cue, down); }
    static DeckCommand hotCue(int index, bool down) { return {Kind::hotCue, nullptr, 0.0, 0.0, index, down}; }
    static DeckCommand setHotCue(int index, double seconds) { return {Kind::setHotCue, nullptr, seconds, 0.0, index, false}; }
    static DeckCommand setCuePoint(double seconds) { return valued(Kind::setCuePoint, seconds); }
    static DeckCommand seek(double seconds) { return valued(Kind::seek, seconds); }
    static DeckCommand autoLoop(double beats) { return valued(Kind::autoLoop, beats); }
    static DeckCommand loopResize(double factor) { return valued(Kind::loopResize, factor); }
    static DeckCommand setLoop(double start, double end, bool active) { return {Kind::setLoop, nullptr, start, end, 0, active}; }
    static DeckCommand beatJump(double beats) { return valued(Kind::beatJump, beats); }
    static DeckCommand jogTouch(bool down) { return flagged(Kind::jogTouch, down); }
    static DeckCommand jogScrub(double seconds) { return valued(Kind::jogScrub, seconds); }
    static DeckCommand jogBend(double amount) { return valued(Kind::jogBend, amount); }
    static DeckCommand slip(bool on) { return flagged(Kind::slip, on); }
    static DeckCommand reverse(bool on) { return flagged(Kind::reverse, on); }
    static DeckCommand quantize(bool on) { return flagged(Kind::quantize, on); }
    static DeckCommand keyLock(bool on) { return flagged(Kind::keyLock, on); }
    static DeckCommand vinyl(bool on) { return flagged(Kind::vinyl, on); }
    static DeckCommand alignPhase(double masterBeatPhase) { return valued(Kind::alignPhase, masterBeatPhase); }
    static DeckCommand play() { return {Kind::play, nullptr, 0.0, 0.0, 0, false}; }
    static DeckCommand pause() { return {Kind::pause, nullptr, 0.0, 0.0, 0, false}; }
    static DeckCommand loopIn() { return {Kind::loopIn, nullptr, 0.0, 0.0, 0, false}; }
    static DeckCommand loopOut() { return {Kind::loopOut, nullptr, 0.0, 0.0, 0, false}; }
    static DeckCommand reloopExit() { return {Kind::reloopExit, nullptr, 0.0, 0.0, 0, false}; }
    // The transport itself travels apart (DeckVoice::handOver); the command
    // also names where it stands and whether it plays, for readings ahead.
    static DeckCommand handOver(double seconds, bool playing) { return {Kind::handOver, nullptr, seconds, 0.0, 0, playing}; }

private:
    static DeckCommand withBuffer(Kind kind, TrackBufferRef& buffer, double a, bool flag)
    {
        return {kind, buffer.detach(), a, 0.0, 0, flag};
    }
    static DeckCommand flagged(Kind kind, bool flag) { return {kind, nullptr, 0.0, 0.0, 0, flag}; }
    static DeckCommand valued(Kind kind, double a) { return {kind, nullptr, a, 0.0, 0, false}; }
};

} // namespace zelvo
