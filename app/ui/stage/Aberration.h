#pragma once
// The faceplate's chromatic double image: the stage's ghost copies tinted in
// the faceplate palette's red and cyan, red moved left and cyan right by
// `amount` points, screened behind the unchanged content. At opacity 0 the
// content is drawn alone. The copies are painted, so they never take clicks.
//
// Main thread only.
#include "ui/stage/Ghosts.h"

namespace zelvo::stage {

class Aberration {
public:
    Aberration();

    // Draws the copies and then the content inside `rect`; `revision` changes
    // whenever the content does (the copies are cached until then).
    void paint(kit::Canvas& canvas, const QRectF& rect, double amount, double opacity, quint64 revision,
               double pixelRatio, const Ghosts::Paint& draw);
    const Ghosts& ghosts() const { return ghosts_; }

private:
    Ghosts ghosts_;
};

} // namespace zelvo::stage
