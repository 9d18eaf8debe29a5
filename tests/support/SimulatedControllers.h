#pragma once
// Stand-ins for a DDJ controller and CDJ players on the virtual MIDI system:
// they plug in as devices, send what the hardware sends, and (the controller)
// read back what the program sent them.
#include "controllers/ControllerKind.h"
#include "controllers/DDJEvent.h"
#include "controllers/PlayerModel.h"
#include "platform/VirtualMidiSystem.h"

#include <map>
#include <string>
#include <vector>

namespace zelvo::test {

// The three ways hardware reports a button: note on, note on with velocity 0,
// or note off.
enum class Release { velocityZero, noteOff };

class SimulatedDdj {
public:
    // Plugs in a controller with a source and a destination named `name`
    // (`destinationName` when given; absent leaves the destination out).
    SimulatedDdj(VirtualMidiSystem& system, ControllerKind kind, std::string name,
                 std::optional<std::optional<std::string>> destinationName = std::nullopt,
                 std::optional<std::size_t> position = std::nullopt);

    ControllerKind kind() const { return kind_; }
    VirtualMidiSystem::DeviceId device() const { return device_; }
    MidiSystem::Endpoint source() const { return system_.sourceOf(device_); }
    MidiSystem::Endpoint destination() const { return system_.destinationOf(device_); }
    void unplug() { system_.removeDevice(device_); }
    void replug() { system_.readdDevice(device_, false); }

    // --- What the controller sends (delivered on the system's thread). ---
    void press(int channel, std::uint8_t note);
    void release(int channel, std::uint8_t note, Release form = Release::velocityZero);
    void pad(int deck, bool shift, HardwarePadMode mode, int page, int pad, bool down);
    // A 14-bit control: MSB on `msb`, LSB on `msb` + 32.
    enum class Halves { both, msbOnly, lsbOnly };
    void knob(int channel, std::uint8_t msb, int value14, Halves halves = Halves::both);
    void jog(int deck, JogSurface surface, int delta);
    void browse(int delta);
    void zoom(int delta);
    void beatFX(std::uint8_t note, bool down);
    void global(std::uint8_t note);
    void raw(std::vector<std::uint8_t> bytes);

    // --- What the controller received. ---
    struct Received {
        // Last value per (status, number) of note and control messages.
        std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint8_t> lamps;
        std::map<int, std::uint8_t> meters;       // deck -> level 0...127
        std::map<std::uint8_t, int> jogValues;   // MSB controller on channel 15 -> 14-bit value
        std::map<int, std::pair<std::uint8_t, std::uint8_t>> keys; // deck -> (code, shift)
        std::vector<std::chrono::steady_clock::time_point> keepAlives;
        std::size_t messages = 0;
        std::size_t sends = 0;
        // Empty when every byte parsed; else what was wrong (strict mode).
        std::string error;
    };
    // Parses every send so far. Strict mode rejects running status, partial
    // messages and SysEx other than this model's keep-alive.
    Received received(bool strict = true) const;

private:
    void send(std::vector<std::uint8_t> bytes);

    VirtualMidiSystem& system_;
    ControllerKind kind_;
    VirtualMidiSystem::DeviceId device_;
};

class SimulatedCdj {
public:
    // Plugs in a player: a source named after the model ("CDJ-3000X"), with
    // the USB location given (absent: unreadable) and a unique id.
    SimulatedCdj(VirtualMidiSystem& system, PlayerModel model, std::optional<std::uint32_t> location, int channel,
                 std::optional<std::uint32_t> uniqueId = std::nullopt, std::optional<std::string> name = std::nullopt);

    VirtualMidiSystem::DeviceId device() const { return device_; }
    MidiSystem::Endpoint source() const { return system_.sourceOf(device_); }
    void unplug() { system_.removeDevice(device_); }

    void press(std::uint8_t note);
    void release(std::uint8_t note, Release form = Release::velocityZero);
    void control(std::uint8_t cc, std::uint8_t value);
    // Sends these bytes on the player's channel as they are.
    void raw(std::vector<std::uint8_t> bytes);

private:
    VirtualMidiSystem& system_;
    int channel_;
    VirtualMidiSystem::DeviceId device_;
};

} // namespace zelvo::test
