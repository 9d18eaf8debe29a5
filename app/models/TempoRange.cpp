#include "models/TempoRange.h"

namespace zelvo {

double tempoRangeWidth(TempoRange range) noexcept
{
    switch (range) {
    case TempoRange::six: return 0.06;
    case TempoRange::ten: return 0.10;
    case TempoRange::sixteen: return 0.16;
    case TempoRange::wide: return 1.0;
    }
    return 0.10;
}

std::optional<TempoRange> tempoRangeFromWidth(double width) noexcept
{
    for (TempoRange r : allTempoRanges)
        if (tempoRangeWidth(r) == width)
            return r;
    return std::nullopt;
}

TempoRange nextTempoRange(TempoRange range) noexcept
{
    for (std::size_t i = 0; i < allTempoRanges.size(); ++i)
        if (allTempoRanges[i] == range)
            return allTempoRanges[(i + 1) % allTempoRanges.size()];
    return TempoRange::six;
}

QString tempoRangeLabel(TempoRange range)
{
    switch (range) {
    case TempoRange::six: return QStringLiteral("±6");
    case TempoRange::ten: return QStringLiteral("±10");
    case TempoRange::sixteen: return QStringLiteral("±16");
    case TempoRange::wide: return QStringLiteral("wide");
    }
    return {};
}

QString tempoRangeKey(TempoRange range)
{
    return tempoRangeLabel(range).toUpper();
}

QString shiftedKeyText(const MusicalKey& key, int shift, const QString& gap)
{
    const QString code = key.shifted(shift).camelot();
    if (shift == 0)
        return code;
    return code + gap + (shift > 0 ? QStringLiteral("+") : QString()) + QString::number(shift);
}

} // namespace zelvo
