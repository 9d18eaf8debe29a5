#pragma once
// The drawing surface every kit renderer draws through, in design points. The
// painter canvas draws with QPainter; the recording canvas keeps the operations
// so tests can assert exact geometry. Main thread.
#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <QString>
#include <functional>
#include <vector>

namespace zelvo::kit {

class Canvas {
public:
    virtual ~Canvas() = default;

    // A batch of aliased rectangles in one colour (dots, segments, bars).
    virtual void fillRects(const std::vector<QRectF>& rects, const QColor& color) = 0;
    // One antialiased rectangle with any brush (gradients, texture strips).
    virtual void fillRect(const QRectF& rect, const QBrush& brush) = 0;
    virtual void fillPath(const QPainterPath& path, const QBrush& brush) = 0;
    virtual void strokePath(const QPainterPath& path, const QPen& pen) = 0;
    // A soft shadow or glow of `shape`'s fill, blurred by `radius`, moved by `offset`.
    virtual void shadow(const QPainterPath& shape, const QColor& color, double radius, QPointF offset) = 0;
    virtual void drawImage(const QRectF& target, const QImage& image) = 0;
    // One line of text in `rect`, aligned by `flags`; `font` carries the tracking.
    virtual void drawText(const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                          int flags) = 0;
    virtual void save() = 0;
    virtual void restore() = 0;
    virtual void translate(QPointF by) = 0;
    // Scales about the origin (a pressed key shrinks about its centre).
    virtual void scale(double sx, double sy) = 0;
    virtual void clip(const QPainterPath& path) = 0;
    virtual void setBlend(QPainter::CompositionMode mode) = 0;
    // Draws what `draw` paints within `rect` grown by `margin`. The painter
    // canvas keeps it as an image per key and device scale and draws the image
    // again for an equal key; the recording canvas simply runs `draw`.
    virtual void drawCached(const QString& key, const QRectF& rect, double margin,
                            const std::function<void(Canvas&)>& draw) = 0;
};

// Draws with a QPainter whose transform maps design points to device pixels.
class PainterCanvas final : public Canvas {
public:
    explicit PainterCanvas(QPainter& painter);

    void fillRects(const std::vector<QRectF>& rects, const QColor& color) override;
    void fillRect(const QRectF& rect, const QBrush& brush) override;
    void fillPath(const QPainterPath& path, const QBrush& brush) override;
    void strokePath(const QPainterPath& path, const QPen& pen) override;
    void shadow(const QPainterPath& shape, const QColor& color, double radius, QPointF offset) override;
    void drawImage(const QRectF& target, const QImage& image) override;
    void drawText(const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                  int flags) override;
    void save() override { painter_.save(); }
    void restore() override { painter_.restore(); }
    void translate(QPointF by) override { painter_.translate(by); }
    void scale(double sx, double sy) override { painter_.scale(sx, sy); }
    void clip(const QPainterPath& path) override { painter_.setClipPath(path, Qt::IntersectClip); }
    void setBlend(QPainter::CompositionMode mode) override { painter_.setCompositionMode(mode); }
    void drawCached(const QString& key, const QRectF& rect, double margin,
                    const std::function<void(Canvas&)>& draw) override;

private:
    QPainter& painter_;
};

// Keeps every operation; transforms are recorded, not applied.
class RecordingCanvas final : public Canvas {
public:
    enum class Kind { rects, rect, fill, stroke, shadow, image, text, save, restore, translate, scale, clip, blend };
    struct Op {
        Kind kind;
        std::vector<QRectF> rects; // rects
        QRectF rect;               // rect, image, text
        QPainterPath path;         // fill, stroke, shadow, clip
        QBrush brush;              // rect, fill
        QPen pen;                  // stroke
        QColor color;              // rects, shadow, text
        double radius = 0;         // shadow
        QPointF offset;            // shadow, translate, scale (as sx, sy)
        QString text;              // text
        QFont font;                // text
        int flags = 0;             // text flags, blend mode
    };

    void fillRects(const std::vector<QRectF>& rects, const QColor& color) override;
    void fillRect(const QRectF& rect, const QBrush& brush) override;
    void fillPath(const QPainterPath& path, const QBrush& brush) override;
    void strokePath(const QPainterPath& path, const QPen& pen) override;
    void shadow(const QPainterPath& shape, const QColor& color, double radius, QPointF offset) override;
    void drawImage(const QRectF& target, const QImage& image) override;
    void drawText(const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                  int flags) override;
    void save() override;
    void restore() override;
    void translate(QPointF by) override;
    void scale(double sx, double sy) override;
    void clip(const QPainterPath& path) override;
    void setBlend(QPainter::CompositionMode mode) override;
    void drawCached(const QString&, const QRectF&, double, const std::function<void(Canvas&)>& draw) override
    {
        draw(*this);
    }

    const std::vector<Op>& ops() const { return ops_; }
    // Operations of one kind, in order.
    std::vector<Op> of(Kind kind) const;
    // Texts drawn, in order.
    QStringList texts() const;

private:
    std::vector<Op> ops_;
};

// A blurred copy of a shape filled with `color`, cached by shape, colour, radius
// and device scale: returns the image and where its top-left goes in points.
QImage blurredShape(const QPainterPath& shape, const QColor& color, double radius, double deviceScale,
                    QPointF* topLeft);

} // namespace zelvo::kit
