#include "ui/kit/Canvas.h"

#include <QCache>
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <memory>

namespace zelvo::kit {

PainterCanvas::PainterCanvas(QPainter& painter) : painter_(painter) {}

void PainterCanvas::fillRects(const std::vector<QRectF>& rects, const QColor& color)
{
    if (rects.empty() || color.alpha() == 0)
        return;
    // Aliased rectangles snap to whole device pixels: a dot narrower than one
    // pixel would vanish, so each side is widened to at least one pixel.
    const QTransform t = painter_.worldTransform();
    const double sx = std::hypot(t.m11(), t.m12()), sy = std::hypot(t.m21(), t.m22());
    const double minW = sx > 0 ? 1.0 / sx : 0, minH = sy > 0 ? 1.0 / sy : 0;
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(color);
    QVector<QRectF> batch;
    batch.reserve(qsizetype(rects.size()));
    for (QRectF r : rects) {
        if (r.width() < minW)
            r.adjust(-(minW - r.width()) / 2, 0, (minW - r.width()) / 2, 0);
        if (r.height() < minH)
            r.adjust(0, -(minH - r.height()) / 2, 0, (minH - r.height()) / 2);
        batch.push_back(r);
    }
    painter_.drawRects(batch);
    painter_.restore();
}

void PainterCanvas::fillRect(const QRectF& rect, const QBrush& brush)
{
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.fillRect(rect, brush);
    painter_.restore();
}

void PainterCanvas::fillPath(const QPainterPath& path, const QBrush& brush)
{
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.fillPath(path, brush);
    painter_.restore();
}

void PainterCanvas::strokePath(const QPainterPath& path, const QPen& pen)
{
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.strokePath(path, pen);
    painter_.restore();
}

void PainterCanvas::shadow(const QPainterPath& shape, const QColor& color, double radius, QPointF offset)
{
    if (color.alpha() == 0 || shape.isEmpty())
        return;
    const QTransform t = painter_.worldTransform();
    const double deviceScale = std::max(0.01, std::hypot(t.m11(), t.m12()));
    QPointF topLeft;
    const QImage image = blurredShape(shape, color, radius, deviceScale, &topLeft);
    if (image.isNull())
        return;
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(QRectF(topLeft + offset, QSizeF(image.width(), image.height()) / deviceScale), image);
    painter_.restore();
}

void PainterCanvas::drawImage(const QRectF& target, const QImage& image)
{
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(target, image);
    painter_.restore();
}

void PainterCanvas::drawText(const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                             int flags)
{
    painter_.save();
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    painter_.setFont(font);
    painter_.setPen(color);
    painter_.drawText(rect, flags, text);
    painter_.restore();
}

void PainterCanvas::drawCached(const QString& key, const QRectF& rect, double margin,
                               const std::function<void(Canvas&)>& draw)
{
    static QCache<QString, QImage> cache(8 * 1024); // in KiB
    const QTransform t = painter_.worldTransform();
    const double dpr = painter_.device() ? painter_.device()->devicePixelRatioF() : 1.0;
    const double ds = std::max(0.01, std::hypot(t.m11(), t.m12()) * dpr);
    // A whole number of device pixels of margin keeps the image on the pixel grid.
    const double m = std::ceil(std::max(0.0, margin) * ds) / ds;
    const QRectF area = rect.adjusted(-m, -m, m, m);
    const QSize px(int(std::ceil(area.width() * ds - 1e-6)), int(std::ceil(area.height() * ds - 1e-6)));
    if (px.isEmpty() || px.width() > 4096 || px.height() > 4096) {
        draw(*this);
        return;
    }
    const QString full = key + QString::asprintf("@%.4f", ds);
    QImage* image = cache.object(full);
    if (!image) {
        auto fresh = std::make_unique<QImage>(px, QImage::Format_ARGB32_Premultiplied);
        fresh->fill(Qt::transparent);
        {
            QPainter p(fresh.get());
            p.scale(ds, ds);
            p.translate(-area.topLeft());
            PainterCanvas inner(p);
            draw(inner);
        }
        fresh->setDevicePixelRatio(ds);
        image = fresh.get();
        const int cost = int(std::max<qsizetype>(1, fresh->sizeInBytes() / 1024));
        if (!cache.insert(full, fresh.release(), cost)) {
            draw(*this);
            return;
        }
    }
    painter_.drawImage(area.topLeft(), *image);
}

namespace {

// Three box blurs approximate a gaussian; radius is in device pixels.
void boxBlurAlpha(QImage& img, int radius)
{
    if (radius < 1)
        return;
    const int w = img.width(), h = img.height();
    std::vector<int> line(size_t(std::max(w, h)));
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[size_t(x)] = qAlpha(row[x]);
            int sum = 0;
            for (int x = -radius; x <= radius; ++x)
                sum += (x >= 0 && x < w) ? line[size_t(x)] : 0;
            for (int x = 0; x < w; ++x) {
                row[x] = qRgba(0, 0, 0, sum / (2 * radius + 1));
                const int out = x - radius, in = x + radius + 1;
                sum += (in < w ? line[size_t(in)] : 0) - (out >= 0 ? line[size_t(out)] : 0);
            }
        }
        for (int x = 0; x < w; ++x) {
            for (int y = 0; y < h; ++y)
                line[size_t(y)] = qAlpha(reinterpret_cast<const QRgb*>(img.constScanLine(y))[x]);
            int sum = 0;
            for (int y = -radius; y <= radius; ++y)
                sum += (y >= 0 && y < h) ? line[size_t(y)] : 0;
            for (int y = 0; y < h; ++y) {
                reinterpret_cast<QRgb*>(img.scanLine(y))[x] = qRgba(0, 0, 0, sum / (2 * radius + 1));
                const int out = y - radius, in = y + radius + 1;
                sum += (in < h ? line[size_t(in)] : 0) - (out >= 0 ? line[size_t(out)] : 0);
            }
        }
    }
}

QString shapeKey(const QPainterPath& shape, const QColor& color, double radius, double deviceScale)
{
    QString key = QString::asprintf("%08x/%.3f/%.3f:", color.rgba(), radius, deviceScale);
    for (int i = 0; i < shape.elementCount(); ++i) {
        const auto e = shape.elementAt(i);
        key += QString::asprintf("%d,%.2f,%.2f;", int(e.type), e.x, e.y);
    }
    return key;
}

} // namespace

QImage blurredShape(const QPainterPath& shape, const QColor& color, double radius, double deviceScale,
                    QPointF* topLeft)
{
    struct Entry {
        QImage image;
        QPointF topLeft;
    };
    static QCache<QString, Entry> cache(512);
    const QString key = shapeKey(shape, color, radius, deviceScale);
    if (const Entry* hit = cache.object(key)) {
        *topLeft = hit->topLeft;
        return hit->image;
    }
    const double margin = std::max(0.0, radius) * 1.5 + 1.0;
    const QRectF box = shape.boundingRect().adjusted(-margin, -margin, margin, margin);
    const QSize px(std::max(1, int(std::ceil(box.width() * deviceScale))),
                   std::max(1, int(std::ceil(box.height() * deviceScale))));
    if (px.width() > 4096 || px.height() > 4096)
        return {};
    QImage mask(px, QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.scale(deviceScale, deviceScale);
        p.translate(-box.topLeft());
        p.fillPath(shape, Qt::black);
    }
    // A box of width 2k+1 applied three times has a spread close to a gaussian
    // whose sigma is half the blur radius.
    boxBlurAlpha(mask, int(std::lround(radius * deviceScale / 2.0)));
    QImage out(px, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    for (int y = 0; y < px.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < px.width(); ++x) {
            const int a = qAlpha(in[x]) * color.alpha() / 255;
            o[x] = qPremultiply(qRgba(color.red(), color.green(), color.blue(), a));
        }
    }
    *topLeft = box.topLeft();
    cache.insert(key, new Entry{out, box.topLeft()}, 1);
    return out;
}

void RecordingCanvas::fillRects(const std::vector<QRectF>& rects, const QColor& color)
{
    Op op{Kind::rects, {}, {}, {}, {}, {}, color, 0, {}, {}, {}, 0};
    op.rects = rects;
    ops_.push_back(std::move(op));
}

void RecordingCanvas::fillRect(const QRectF& rect, const QBrush& brush)
{
    ops_.push_back(Op{Kind::rect, {}, rect, {}, brush, {}, {}, 0, {}, {}, {}, 0});
}

void RecordingCanvas::fillPath(const QPainterPath& path, const QBrush& brush)
{
    ops_.push_back(Op{Kind::fill, {}, {}, path, brush, {}, {}, 0, {}, {}, {}, 0});
}

void RecordingCanvas::strokePath(const QPainterPath& path, const QPen& pen)
{
    ops_.push_back(Op{Kind::stroke, {}, {}, path, {}, pen, {}, 0, {}, {}, {}, 0});
}

void RecordingCanvas::shadow(const QPainterPath& shape, const QColor& color, double radius, QPointF offset)
{
    ops_.push_back(Op{Kind::shadow, {}, {}, shape, {}, {}, color, radius, offset, {}, {}, 0});
}

void RecordingCanvas::drawImage(const QRectF& target, const QImage&)
{
    ops_.push_back(Op{Kind::image, {}, target, {}, {}, {}, {}, 0, {}, {}, {}, 0});
}

void RecordingCanvas::drawText(const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                               int flags)
{
    ops_.push_back(Op{Kind::text, {}, rect, {}, {}, {}, color, 0, {}, text, font, flags});
}

void RecordingCanvas::save() { ops_.push_back(Op{Kind::save, {}, {}, {}, {}, {}, {}, 0, {}, {}, {}, 0}); }
void RecordingCanvas::restore() { ops_.push_back(Op{Kind::restore, {}, {}, {}, {}, {}, {}, 0, {}, {}, {}, 0}); }

void RecordingCanvas::translate(QPointF by)
{
    ops_.push_back(Op{Kind::translate, {}, {}, {}, {}, {}, {}, 0, by, {}, {}, 0});
}

void RecordingCanvas::scale(double sx, double sy)
{
    ops_.push_back(Op{Kind::scale, {}, {}, {}, {}, {}, {}, 0, QPointF(sx, sy), {}, {}, 0});
}

void RecordingCanvas::clip(const QPainterPath& path)
{
    ops_.push_back(Op{Kind::clip, {}, {}, path, {}, {}, {}, 0, {}, {}, {}, 0});
}

void RecordingCanvas::setBlend(QPainter::CompositionMode mode)
{
    ops_.push_back(Op{Kind::blend, {}, {}, {}, {}, {}, {}, 0, {}, {}, {}, int(mode)});
}

std::vector<RecordingCanvas::Op> RecordingCanvas::of(Kind kind) const
{
    std::vector<Op> out;
    for (const Op& op : ops_)
        if (op.kind == kind)
            out.push_back(op);
    return out;
}

QStringList RecordingCanvas::texts() const
{
    QStringList out;
    for (const Op& op : ops_)
        if (op.kind == Kind::text)
            out << op.text;
    return out;
}

} // namespace zelvo::kit
