#include "ui/kit/Displays.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"

#include <QLinearGradient>
#include <QRegion>

namespace zelvo::kit {

DotMatrixText::DotMatrixText(const UiEnv& env, DotMatrix::Look look, QWidget* parent)
    : FaceWidget(env, parent), look_(std::move(look))
{
    resizeToDesign();
}

void DotMatrixText::setText(const QString& text)
{
    if (text == look_.text)
        return;
    look_.text = text;
    resizeToDesign();
    update();
}

void DotMatrixText::setScrollPhase(std::optional<double> phase)
{
    if (phase == look_.scrollPhase)
        return;
    look_.scrollPhase = phase;
    update();
}

void DotMatrixText::setDim(bool dim)
{
    if (dim == look_.dim)
        return;
    look_.dim = dim;
    update();
}

SevenSegmentText::SevenSegmentText(const UiEnv& env, SevenSegment::Look look, QWidget* parent)
    : FaceWidget(env, parent), look_(std::move(look))
{
    resizeToDesign();
}

QSizeF SevenSegmentText::designSize() const
{
    return QSizeF(SevenSegment::width(look_.text, look_.height), look_.height);
}

void SevenSegmentText::paintFace(Canvas& canvas)
{
    const double deviceScale = scale() * std::max(1.0, devicePixelRatioF());
    canvas.drawImage(QRectF(QPointF(0, 0), designSize()), SevenSegment::rendered(look_, deviceScale));
}

void SevenSegmentText::setText(const QString& text)
{
    if (text == look_.text)
        return;
    look_.text = text;
    resizeToDesign();
    update();
}

void drawGlassOverlay(Canvas& canvas, QSizeF size)
{
    std::vector<QRectF> lines;
    for (double y = 0; y < size.height(); y += 2)
        lines.push_back(QRectF(0, y, size.width(), 0.5));
    canvas.fillRects(lines, withAlpha(Qt::black, 0.22));
    QLinearGradient sheen(QPointF(0, 0), QPointF(0.3 * size.width(), size.height()));
    sheen.setColorAt(0, withAlpha(Qt::white, 0.045));
    sheen.setColorAt(0.5, Qt::transparent);
    sheen.setColorAt(1, Qt::transparent);
    canvas.fillRect(QRectF(QPointF(0, 0), size), sheen);
}

namespace {

QPainterPath roundedPath(const QRectF& r, double radius)
{
    QPainterPath p;
    const double rr = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    p.addRoundedRect(r, rr, rr);
    return p;
}

} // namespace

void drawGlassBack(Canvas& canvas, QSizeF size, double cornerRadius)
{
    canvas.fillPath(roundedPath(QRectF(QPointF(0, 0), size), cornerRadius), Palette::glass());
}

void drawGlassBorder(Canvas& canvas, QSizeF size, double cornerRadius)
{
    QLinearGradient g(QPointF(0, 0), QPointF(0, size.height()));
    g.setColorAt(0, Qt::black);
    g.setColorAt(1, withAlpha(Palette::edge(), 0.8));
    canvas.strokePath(roundedPath(QRectF(0.75, 0.75, size.width() - 1.5, size.height() - 1.5), cornerRadius - 0.75),
                      QPen(QBrush(g), 1.5));
}

namespace {

class GlassOverlay final : public FaceWidget {
public:
    GlassOverlay(const UiEnv& env, QSizeF size, double radius, QWidget* parent)
        : FaceWidget(env, parent), size_(size), radius_(radius)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        resizeToDesign();
    }
    QSizeF designSize() const override { return size_; }
    void setSize(QSizeF size)
    {
        size_ = size;
        resizeToDesign();
        update();
    }
    void paintFace(Canvas& canvas) override
    {
        QPainterPath clip;
        clip.addRoundedRect(QRectF(QPointF(0, 0), size_), radius_, radius_);
        canvas.save();
        canvas.clip(clip);
        drawGlassOverlay(canvas, size_);
        canvas.restore();
        drawGlassBorder(canvas, size_, radius_);
    }

private:
    QSizeF size_;
    double radius_;
};

} // namespace

VFDGlass::VFDGlass(const UiEnv& env, QSizeF designSize, double cornerRadius, QWidget* parent)
    : DesignBox(env, designSize, parent), radius_(cornerRadius)
{
    setBackground([this](Canvas& canvas, QSizeF size) { drawGlassBack(canvas, size, radius_); });
    overlay_ = new GlassOverlay(env, designSize, cornerRadius, this);
    overlay_->setObjectName(QStringLiteral("vfdGlass.overlay"));
    place(overlay_, QRectF(QPointF(0, 0), designSize));
}

void VFDGlass::placeContent(QWidget* content, QRectF rect)
{
    place(content, rect);
    overlay_->raise();
}

void VFDGlass::setGlassSize(QSizeF size)
{
    setDesignSize(size);
    static_cast<GlassOverlay*>(overlay_)->setSize(size);
}

void VFDGlass::resizeEvent(QResizeEvent* event)
{
    DesignBox::resizeEvent(event);
    // The glass and everything on it end at the rounded corners: the mask
    // clips the content widgets as well as the glass's own painting.
    const double r = radius_ * scale();
    setMask(QRegion(roundedPath(QRectF(rect()), r).toFillPolygon().toPolygon()));
    overlay_->raise();
}

} // namespace zelvo::kit
