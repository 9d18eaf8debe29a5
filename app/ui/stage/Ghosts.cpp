#include "ui/stage/Ghosts.h"

#include "ui/kit/Palette.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace zelvo::stage {

QImage tintedCopy(const QImage& source, const QColor& tint, double opacity)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Worked on pixel for pixel, whatever the source's pixel ratio.
    image.setDevicePixelRatio(1);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        painter.fillRect(image.rect(), tint);
        // Multiply paints where the source was transparent too: keep its alpha.
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(QRectF(image.rect()), source);
        if (opacity < 1) {
            painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            painter.fillRect(image.rect(), QColor(0, 0, 0, std::clamp(int(std::lround(opacity * 255)), 0, 255)));
        }
    }
    image.setDevicePixelRatio(source.devicePixelRatio());
    return image;
}

Ghosts::Ghosts() : Ghosts(kit::Stage::ghostRed(), kit::Stage::ghostCyan()) {}

Ghosts::Ghosts(const QColor& red, const QColor& cyan) : red_(red), cyan_(cyan) {}

void Ghosts::paint(kit::Canvas& canvas, const QRectF& rect, double offset, double opacity, quint64 revision,
                   double pixelRatio, const Paint& draw)
{
    prepare(rect.size(), offset, opacity, revision, pixelRatio, draw);
    paintCopies(canvas, rect);
    canvas.drawImage(rect, content_);
}

void Ghosts::paintCopies(kit::Canvas& canvas, const QRectF& rect) const
{
    if (layer_.isNull())
        return;
    const double reach = std::fabs(key_.offset);
    canvas.save();
    canvas.setBlend(QPainter::CompositionMode_Screen);
    canvas.drawImage(rect.adjusted(-reach, 0, reach, 0), layer_);
    canvas.restore();
}

void Ghosts::prepare(QSizeF size, double offset, double opacity, quint64 revision, double pixelRatio,
                     const Paint& draw)
{
    const QRectF rect(QPointF(0, 0), size);
    const double ratio = pixelRatio > 0 && std::isfinite(pixelRatio) ? pixelRatio : 1.0;
    const double shown = std::isfinite(opacity) ? std::clamp(opacity, 0.0, 1.0) : 0.0;
    const double d = std::isfinite(offset) ? offset : 0.0;
    const Key key{revision, rect.size(), ratio, shown, d};
    if (!(key == key_) || content_.isNull()) {
        // Both images are painted in device pixels with their ratio left at 1
        // and take it only once done: a painter on an image does not scale by
        // a ratio below one, so the content would come out at its full size in
        // points, too large and off its centre, on a smaller face.
        // A size of whole device pixels takes no extra one from rounding error.
        const QSize pixels(std::max(1, int(std::ceil(rect.width() * ratio - 1e-6))),
                           std::max(1, int(std::ceil(rect.height() * ratio - 1e-6))));
        content_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        content_.fill(Qt::transparent);
        {
            QPainter painter(&content_);
            painter.scale(ratio, ratio);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            draw(painter, rect.size());
        }
        ++renders_;
        layer_ = QImage();
        if (shown > 0) {
            const double reach = std::fabs(d);
            const int wide = std::max(1, int(std::ceil((rect.width() + 2 * reach) * ratio - 1e-6)));
            layer_ = QImage(QSize(wide, pixels.height()), QImage::Format_ARGB32_Premultiplied);
            layer_.fill(Qt::transparent);
            QPainter painter(&layer_);
            painter.setCompositionMode(QPainter::CompositionMode_Screen);
            painter.drawImage(QPointF((reach - d) * ratio, 0), tintedCopy(content_, red_, shown));
            painter.drawImage(QPointF((reach + d) * ratio, 0), tintedCopy(content_, cyan_, shown));
            painter.end();
            layer_.setDevicePixelRatio(ratio);
        }
        content_.setDevicePixelRatio(ratio);
        key_ = key;
    }
}

} // namespace zelvo::stage
