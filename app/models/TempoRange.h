#pragma once
// The width of a deck's tempo fader as a fraction of the track's own tempo.
#include <QString>

#include <array>
#include <optional>

namespace zelvo {

enum class TempoRange { six, ten, sixteen, wide };

// Every range in cycling order. Any thread.
inline constexpr std::array<TempoRange, 4> allTempoRanges{TempoRange::six, TempoRange::ten, TempoRange::sixteen,
                                                          TempoRange::wide};

// The fader's half-width: 0.06, 0.10, 0.16 or 1.0. Any thread.
double tempoRangeWidth(TempoRange range) noexcept;
// The range of exactly this width; none for any other number. Any thread.
std::optional<TempoRange> tempoRangeFromWidth(double width) noexcept;
// Its label: "±6", "±10", "±16" or "wide" (the screens show it upper case).
// Any thread.
QString tempoRangeLabel(TempoRange range);
// The range after `range`, wrapping from `wide` to `six`. Any thread.
TempoRange nextTempoRange(TempoRange range) noexcept;

} // namespace zelvo
