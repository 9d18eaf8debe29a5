#pragma once
// Combining field hashes for the library's value types. Any thread.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace zelvo {

// Folds `value` into `seed` (the boost formula, widened to 64 bits).
inline void hashMix(std::size_t& seed, std::size_t value) noexcept
{
    seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

// A double's hash that agrees with ==: 0.0 and -0.0 alike.
inline std::size_t hashDouble(double value) noexcept
{
    return std::hash<std::uint64_t>{}(std::bit_cast<std::uint64_t>(value == 0.0 ? 0.0 : value));
}

} // namespace zelvo
