#include "ui/stage/Aberration.h"

#include "ui/kit/Palette.h"

namespace zelvo::stage {

Aberration::Aberration() : ghosts_(kit::Palette::red(), kit::Palette::cyan()) {}

void Aberration::paint(kit::Canvas& canvas, const QRectF& rect, double amount, double opacity, quint64 revision,
                       double pixelRatio, const Ghosts::Paint& draw)
{
    ghosts_.paint(canvas, rect, amount, opacity, revision, pixelRatio, draw);
}

} // namespace zelvo::stage
