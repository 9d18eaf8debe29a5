#pragma once
// The device backend: what the program's device layer (CoreAudioHAL, AudioIO)
// needs of a sound system, in the shape of a hardware abstraction layer with
// objects, properties, listeners and output units. Implementations: ALSA cards,
// the virtual real-time output, the composite of both (the program's system
// backend) and a scripted fake for tests.
//
// Property reads return std::nullopt when the property cannot be read; the device
// layer applies the defaults. Statuses are 32-bit codes, 0 for success.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zelvo {

using AudioObjectId = std::uint32_t;
using OSStatus = std::int32_t;

// A four-character code packed big-endian into 32 bits ("dev#" -> 'd','e','v','#').
constexpr std::uint32_t fourCC(const char (&s)[5])
{
    return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16)
        | (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}

// The system object: owner of the device list and the default output.
constexpr AudioObjectId kAudioSystemObject = 1;

// Property selectors that listeners can watch.
constexpr std::uint32_t kPropertyDevices = fourCC("dev#");
constexpr std::uint32_t kPropertyDefaultOutput = fourCC("dOut");
constexpr std::uint32_t kPropertyNominalSampleRate = fourCC("nsrt");

// Transport types a device reports.
namespace transport {
constexpr std::uint32_t builtIn = fourCC("bltn");
constexpr std::uint32_t usb = fourCC("usb ");
constexpr std::uint32_t thunderbolt = fourCC("thun");
constexpr std::uint32_t hdmi = fourCC("hdmi");
constexpr std::uint32_t displayPort = fourCC("dprt");
constexpr std::uint32_t airPlay = fourCC("airp");
constexpr std::uint32_t bluetooth = fourCC("blue");
constexpr std::uint32_t bluetoothLE = fourCC("blea");
constexpr std::uint32_t aggregate = fourCC("grup");
constexpr std::uint32_t virtualDevice = fourCC("virt");
} // namespace transport

// Status of a step that failed for a reason the backend cannot name better.
constexpr OSStatus kStatusUnspecified = -1;
// A device or unit that does not exist (any more).
constexpr OSStatus kStatusBadObject = fourCC("!obj");
// A request the device cannot satisfy (format, rate, channel count).
constexpr OSStatus kStatusUnsupportedFormat = fourCC("!dat");
// The device is held by another program.
constexpr OSStatus kStatusBusy = fourCC("busy");
// A call out of order (start before initialise, format after initialise).
constexpr OSStatus kStatusNotReady = fourCC("!rdy");

enum class Scope { output, input };

// Fills `channels` (the client channels, each with room for `frames` floats) for
// one slice. Audio thread only: no locks, allocation, waiting, logging or Qt.
using RenderFunction = void (*)(void* context, float* const* channels, int channelCount, int frames);

// An output unit in the order the device layer drives it: select a device, set the
// client format, the channel map, the largest slice and the render callback,
// initialise (the device is opened here), start, stop. Destroying it uninitialises
// and closes; after the destructor returns the render callback is never called
// again and the unit's threads are joined. One thread at a time drives a unit.
class OutputUnit {
public:
    virtual ~OutputUnit() = default;

    // Chooses the device this unit plays on. Before initialise.
    virtual OSStatus selectDevice(AudioObjectId device) = 0;
    // Client format: non-interleaved 32-bit float at `sampleRate` with
    // `channels` channels. Before initialise.
    virtual OSStatus setClientFormat(double sampleRate, int channels) = 0;
    // One entry per device output channel: the client channel feeding it, or -1 for
    // silence. Missing entries are silent. Before initialise.
    virtual OSStatus setChannelMap(std::span<const int> map) = 0;
    // Largest number of frames one render call may ask for. Before initialise.
    virtual OSStatus setMaxFramesPerSlice(int frames) = 0;
    // The callback and its context. Before initialise.
    virtual OSStatus setRenderCallback(RenderFunction render, void* context) = 0;
    // Opens the device with the settings above. May block on a busy device.
    virtual OSStatus initialize() = 0;
    // Starts the device's I/O thread; does nothing when running.
    virtual OSStatus start() = 0;
    // Stops output and joins the I/O thread; does nothing when stopped.
    virtual OSStatus stop() = 0;
    // Slices the device played late or not at all since initialise (recovered
    // underruns, drift-compensation starvation). Any thread.
    virtual int underruns() const = 0;
    // Whether the I/O ended by itself while started, because the device went
    // away or failed for good: the render callback is not called any more.
    // stop() clears it and returns at once; start() tries the device again.
    // Any thread; lock-free.
    virtual bool ended() const { return false; }
    // Whether the I/O of any device this unit plays through ended by itself
    // while started: ended(), or a part of it (one card of several) that went
    // quiet while the rest plays on. Any thread; lock-free.
    virtual bool partEnded() const { return ended(); }
};

// How to build an aggregate: its name and UID, the sub-devices by UID (the first
// is the clock master), and which sub-devices get drift compensation.
struct AggregateDescription {
    std::string name;
    std::string uid;
    bool isPrivate = true;
    struct SubDevice {
        std::string uid;
        bool drift = false;
    };
    std::vector<SubDevice> subDevices;
    std::string master;
};

class AudioBackend {
public:
    using ListenerId = std::uint64_t;
    virtual ~AudioBackend() = default;

    // The system's device ids, in its order. Any thread but the audio thread (as
    // every member here).
    virtual std::optional<std::vector<AudioObjectId>> deviceList() = 0;
    // The default output device's id.
    virtual std::optional<AudioObjectId> defaultOutputDevice() = 0;

    // Channel counts of the device's streams in a scope ('slay').
    virtual std::optional<std::vector<int>> streamChannels(AudioObjectId device, Scope scope) = 0;
    // Persistent UID ('uid ').
    virtual std::optional<std::string> deviceUID(AudioObjectId device) = 0;
    // Display name ('lnam').
    virtual std::optional<std::string> deviceName(AudioObjectId device) = 0;
    // Nominal sample rate ('nsrt').
    virtual std::optional<double> nominalSampleRate(AudioObjectId device) = 0;
    // Smallest and largest I/O buffer size in frames ('fsz#').
    virtual std::optional<std::pair<double, double>> bufferSizeRange(AudioObjectId device) = 0;
    // Transport type, one of the `transport` codes or another value ('tran').
    virtual std::optional<std::uint32_t> transportType(AudioObjectId device) = 0;
    // Current I/O buffer size in frames ('fsiz').
    virtual std::optional<std::uint32_t> bufferSize(AudioObjectId device) = 0;
    // Asks for an I/O buffer size ('fsiz'); the device may settle on another.
    virtual OSStatus setBufferSize(AudioObjectId device, std::uint32_t frames) = 0;
    // Output latency and safety offset in frames ('ltnc', 'saft', output scope).
    virtual std::optional<std::uint32_t> outputLatency(AudioObjectId device) = 0;
    virtual std::optional<std::uint32_t> safetyOffset(AudioObjectId device) = 0;

    // Creates an aggregate device; its id, or nullopt on failure.
    virtual std::optional<AudioObjectId> createAggregate(const AggregateDescription& description) = 0;
    // Destroys an aggregate made by createAggregate.
    virtual OSStatus destroyAggregate(AudioObjectId device) = 0;

    // Registers `changed` for changes of `selector` on `object`. The backend calls
    // it on a thread of its own, never the caller's; it must return quickly. The
    // id is 0 when the registration failed.
    virtual ListenerId addListener(AudioObjectId object, std::uint32_t selector, std::function<void()> changed) = 0;
    // Removes a registration. When it returns, `changed` is not running and will
    // not be called again.
    virtual void removeListener(ListenerId id) = 0;

    // Whether output units can be made at all (false: no output component).
    virtual bool hasOutputComponent() = 0;
    // Makes a new output unit, not yet bound to a device.
    virtual OSStatus newOutputUnit(std::unique_ptr<OutputUnit>& unit) = 0;
    // Whether its units render on a clock of their own (a sound card, the
    // virtual output). A unit that renders only when its caller says so runs
    // no faster or slower than that caller, so nothing may be rendered ahead
    // of it on a clock-paced worker thread.
    virtual bool clocked() const { return true; }
};

// Copies client channels to device channels through a channel map (see
// OutputUnit::setChannelMap), zeroing unmapped ones. Audio thread safe.
void applyChannelMap(std::span<const int> map, const float* const* client, int clientChannels,
                     float* const* device, int deviceChannels, int frames) noexcept;

} // namespace zelvo
