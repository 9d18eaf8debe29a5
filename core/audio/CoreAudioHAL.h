#pragma once
// Device operations over the installed sound backend: the output-device list,
// single devices and their properties, the default output, buffer sizes,
// latency, aggregates, the USB location inside a USB device's UID, and property
// listeners that run on a serial queue of their own.
//
// Every read falls back to a default and never throws. Everything here is
// synchronous; any thread may call it except the real-time audio thread
// (destroyAggregate waits up to a second).
#include "audio/AudioDevice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

class AudioBackend;
class SerialQueue;

namespace CoreAudioHAL {

// The backend every operation below uses; the system backend (sound cards and
// the virtual output) unless one was installed. Any thread.
std::shared_ptr<AudioBackend> backend();
// Replaces the backend (tests install a fake) and returns the previous one;
// nullptr goes back to the system backend. Any thread, but not while a caller
// is between two operations that must see the same backend.
std::shared_ptr<AudioBackend> installBackend(std::shared_ptr<AudioBackend> backend);

// Every device with at least 2 output channels, in the system's order; [] when
// the list cannot be read.
std::vector<AudioDevice> outputDevices();
// One device's record; none when it has no output channel.
std::optional<AudioDevice> device(std::uint32_t id);
// The system default output; 0 on failure.
std::uint32_t defaultOutputDevice();
// Channels summed over the streams of a scope; 0 on failure.
int outputChannelCount(std::uint32_t id);
int inputChannelCount(std::uint32_t id);
// Asks the device for an I/O buffer size; the answer is not reported. Frames
// outside 0 ... 4294967295 are clamped into it.
void setBufferSize(std::uint32_t id, std::int64_t frames);
// The device's I/O buffer size in frames; 512 on failure.
int bufferSize(std::uint32_t id);
// (latency + safety offset + buffer size) / nominal rate, in seconds, each read
// falling back to 0, 0, 512 and 48000.
double outputLatency(std::uint32_t id);
// A new private aggregate of the devices with these UIDs, the first as clock
// master and every other with drift compensation; none on failure.
std::optional<std::uint32_t> createAggregate(const std::string& name, const std::string& uid,
                                             const std::vector<std::string>& subDevices);
// Destroys an aggregate and waits (up to about a second) until it is gone; true
// when it is.
bool destroyAggregate(std::uint32_t id);
// The USB location number inside a USB audio device UID
// ("AppleUSBAudioEngine:<vendor>:<model>:<location hex>:<...>"), or none.
std::optional<std::int64_t> usbLocation(const std::string& uid);
// Short label of a transport type code ("USB", "BUILT-IN", ..., "EXT").
std::string transportLabel(std::optional<std::uint32_t> transportType);

// Property listeners. Handlers run on the listener's own serial queue
// ("kavri.hal.listener"), never on the main thread and never two at once; a
// handler that touches models posts the work to the main thread itself.
class Listener {
public:
    // An empty listener with its queue. Any thread.
    Listener();
    // Removes every registration and waits for a running handler. Not from a handler.
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Calls `handler` on the queue whenever `selector` of `object` changes. A
    // registration the backend refuses is forgotten silently. Any thread.
    void watch(std::uint32_t object, std::uint32_t selector, std::function<void()> handler);
    // Removes every registration; handlers already queued do not run. Any thread.
    void removeAll();
    // Registrations alive. Any thread.
    std::size_t count() const;
    // The queue's label.
    static constexpr const char* kQueueLabel = "kavri.hal.listener";

private:
    struct Block {
        std::shared_ptr<AudioBackend> backend;
        std::uint64_t id;
        std::uint32_t object;
        std::uint32_t selector;
        std::shared_ptr<std::atomic<bool>> alive;
    };
    std::unique_ptr<SerialQueue> queue_;
    mutable std::mutex mutex_;
    std::vector<Block> blocks_;
};

} // namespace CoreAudioHAL
} // namespace zelvo
