#include "models/TransitionStyle.h"

namespace zelvo {

QString label(TransitionStyle style)
{
    switch (style) {
    case TransitionStyle::fade: return QStringLiteral("FADE");
    case TransitionStyle::bassSwap: return QStringLiteral("BASS SWAP");
    case TransitionStyle::filter: return QStringLiteral("FILTER");
    case TransitionStyle::echo: return QStringLiteral("ECHO OUT");
    }
    return {};
}

std::optional<TransitionStyle> transitionStyleFromRaw(std::int64_t raw) noexcept
{
    if (raw < 0 || raw >= std::int64_t(allTransitionStyles.size()))
        return std::nullopt;
    return allTransitionStyles[std::size_t(raw)];
}

} // namespace zelvo
