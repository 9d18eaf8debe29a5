#pragma once
// An output device as the program sees it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvo {

struct AudioDevice {
    // Inclusive range of I/O buffer sizes in frames.
    struct BufferRange {
        int lower = 32;
        int upper = 4096;
        bool operator==(const BufferRange&) const = default;
    };

    std::uint32_t id = 0;             // the backend's object id
    std::string uid;                  // persistent UID; "" when unreadable
    std::string name;                 // display name; "" when unreadable
    int outputChannels = 0;           // summed over every output stream
    double nominalSampleRate = 48000; // 48000 when unreadable
    BufferRange bufferSizeRange;      // 32 ... 4096 when unreadable
    std::string transport;            // short label: "USB", "BUILT-IN", "VIRT", "EXT", ...

    // First channels of the stereo pairs: 0, 2, 4, ... while below
    // max(outputChannels - 1, 1). Any thread.
    std::vector<int> channelPairs() const;

    bool operator==(const AudioDevice&) const = default;
};

} // namespace zelvo

template <>
struct std::hash<zelvo::AudioDevice> {
    std::size_t operator()(const zelvo::AudioDevice& d) const noexcept;
};
