#pragma once
// The width of a deck's tempo fader as a fraction of the track's own tempo,
// and the tempo range and key texts both deck screens show.
#include "library/MusicalKey.h"

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
// The label as the deck screens' range keys show it: "±6", "±10", "±16",
// "WIDE". Any thread.
QString tempoRangeKey(TempoRange range);
// A deck's key under its key shift: the shifted key's Camelot code, then, when
// shifted, `gap` and the signed shift ("8A", "10A+2", "7A -1"). A stored pitch
// class outside 0...11 reads as its residue. Any thread.
QString shiftedKeyText(const MusicalKey& key, int shift, const QString& gap = QString());
// The range after `range`, wrapping from `wide` to `six`. Any thread.
TempoRange nextTempoRange(TempoRange range) noexcept;

} // namespace zelvo
