#pragma once
// The stage look's double image: two tinted copies of a piece of content
// drawn behind it, red moved left and cyan moved right by an offset, at an
// opacity, in screen mode. The content is painted once by its own paint
// function into a premultiplied image; the tinted copies are kept with it in
// one layer, rebuilt only when the revision, size, pixel ratio, offset or
// opacity change.
// Copies never change the content's size or take clicks.
//
// Main thread only.
#include "ui/kit/Canvas.h"

#include <QImage>
#include <QRectF>

#include <functional>

namespace zelvo::stage {

// `source` tinted: each pixel multiplied by `tint`, keeping the source's alpha,
// then scaled by `opacity`.
QImage tintedCopy(const QImage& source, const QColor& tint, double opacity);

class Ghosts {
public:
    using Paint = std::function<void(QPainter& painter, QSizeF size)>;

    // Draws the copies and then the content inside `rect` (content coordinates
    // of `rect`'s size). `revision` changes whenever the content does.
    void paint(kit::Canvas& canvas, const QRectF& rect, double offset, double opacity, quint64 revision,
               double pixelRatio, const Paint& draw);
    // Brings the cached content and copies up to date for content of `size`.
    void prepare(QSizeF size, double offset, double opacity, quint64 revision, double pixelRatio,
                 const Paint& draw);
    // Draws only the copies of the prepared content placed at `rect`.
    void paintCopies(kit::Canvas& canvas, const QRectF& rect) const;
    // How many times the content was painted into the cache (tests, benches).
    int renders() const { return renders_; }
    // Both copies in one image, screened together (the screen blend is
    // associative, so drawing it once equals drawing each copy): its frame
    // spans the content's widened by the offset on both sides.
    const QImage& layer() const { return layer_; }

private:
    struct Key {
        quint64 revision = 0;
        QSizeF size;
        double ratio = 0;
        double opacity = -1;
        double offset = 0;
        bool operator==(const Key&) const = default;
    };
    Key key_;
    QImage content_, layer_;
    int renders_ = 0;
};

} // namespace zelvo::stage
