#include "generation/BrainStatus.h"

namespace zelvo {

QString BrainStatus::label() const
{
    switch (kind) {
    case Kind::installing:
        return QStringLiteral("INSTALL \u00B7 ") + text.toUpper();
    case Kind::loading:
        return QStringLiteral("LOADING \u00B7 ") + text.toUpper();
    case Kind::failed:
        return QStringLiteral("FAULT \u00B7 ") + text.toUpper();
    case Kind::checking:
        return QStringLiteral("CHECKING");
    case Kind::notInstalled:
        return QStringLiteral("NOT INSTALLED");
    case Kind::offline:
        return QStringLiteral("OFFLINE");
    case Kind::starting:
        return QStringLiteral("WAKING");
    case Kind::ready:
        return QStringLiteral("READY");
    case Kind::rendering:
        return QStringLiteral("RENDERING");
    }
    return {};
}

} // namespace zelvo
