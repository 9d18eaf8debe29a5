#pragma once
// The audio components a HostedUnit can be built from, found by four-character
// type and subtype codes: the deck time-pitch stage ('aufc'/'nutp'), the master
// peak limiter ('aufx'/'lmtr') and the master reverb ('aufx'/'rvb2'). Tests put
// stand-ins in place of a component, or hide one, for the life of an override.
#include "platform/HostedUnitComponent.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zelvo {

using HostedUnitFactory = std::function<std::unique_ptr<HostedUnitComponent>()>;

// Packs four ASCII characters into a code, first character in the high byte.
constexpr std::uint32_t unitCode(const char (&text)[5])
{
    return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16)
        | (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

namespace units {
inline constexpr std::uint32_t kFormatConverter = unitCode("aufc");
inline constexpr std::uint32_t kEffect = unitCode("aufx");
inline constexpr std::uint32_t kTimePitch = unitCode("nutp");
inline constexpr std::uint32_t kPeakLimiter = unitCode("lmtr");
inline constexpr std::uint32_t kReverb = unitCode("rvb2");

// Parameters of the time-pitch unit.
inline constexpr std::uint32_t kTimePitchRate = 0;  // playback rate (ratio)
inline constexpr std::uint32_t kTimePitchPitch = 1; // cents
// Parameters of the peak limiter.
inline constexpr std::uint32_t kLimiterAttack = 0;  // seconds
inline constexpr std::uint32_t kLimiterDecay = 1;   // seconds
inline constexpr std::uint32_t kLimiterPreGain = 2; // dB
// Parameters of the reverb.
inline constexpr std::uint32_t kReverbDryWet = 0;        // percent wet
inline constexpr std::uint32_t kReverbDecayAt0Hz = 4;    // seconds
inline constexpr std::uint32_t kReverbDecayAtNyquist = 5; // seconds
} // namespace units

class HostedUnitRegistry {
public:
    // The factory for a type and subtype, or an empty function when there is no
    // such component. Main thread.
    static HostedUnitFactory find(std::uint32_t type, std::uint32_t subtype);

    // While alive, `find` answers `factory` for this type and subtype (an empty
    // factory hides the component). Overrides nest; the newest wins. Main thread.
    class Override {
    public:
        Override(std::uint32_t type, std::uint32_t subtype, HostedUnitFactory factory);
        ~Override();
        Override(const Override&) = delete;
        Override& operator=(const Override&) = delete;

    private:
        std::uint64_t id_;
    };
};

} // namespace zelvo
