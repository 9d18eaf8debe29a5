#pragma once
// The curve families of an automatic transition between decks 1 and 2.
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace zelvo {

// Raw values are what "mix.style" stores.
enum class TransitionStyle : int { fade = 0, bassSwap = 1, filter = 2, echo = 3 };

// Every style in raw-value order. Any thread.
inline constexpr std::array<TransitionStyle, 4> allTransitionStyles{
    TransitionStyle::fade, TransitionStyle::bassSwap, TransitionStyle::filter, TransitionStyle::echo};

// "FADE", "BASS SWAP", "FILTER" or "ECHO OUT". Any thread.
QString label(TransitionStyle style);
// The style with this raw value; none outside 0…3. Any thread.
std::optional<TransitionStyle> transitionStyleFromRaw(std::int64_t raw) noexcept;

} // namespace zelvo
