#include "ui/stage/StageKeys.h"

#include "ui/kit/Palette.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <climits>
#include <cmath>
#include <utility>
#include <vector>

namespace zelvo {

QString MachinePanel::clock(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) >= double(INT_MAX))
        return {};
    const int s = int(seconds);
    const int m = s / 60;
    return QString::asprintf("%d:%02d", m, s - 60 * m);
}

namespace stage {
namespace {

QPainterPath rounded(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QFont wordFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(10);
    font.setWeight(QFont::Medium);
    return font;
}

constexpr double kIcon = 11;

} // namespace

namespace {

// One symbol drawn in a square box; `at` maps unit coordinates into the box.
struct SymbolPen {
    kit::Canvas& canvas;
    QRectF box;
    QColor colour;
    double s;
    QPen pen;

    QPointF at(double x, double y) const { return {box.left() + x * s, box.top() + y * s}; }
    QRectF area(double x0, double y0, double x1, double y1) const { return {at(x0, y0), at(x1, y1)}; }
    void stroke(const QPainterPath& path) const { canvas.strokePath(path, pen); }
    void fill(const QPainterPath& path) const { canvas.fillPath(path, colour); }
    // The outline a stroke of `path` would cover, as a shape to cut out of a fill.
    QPainterPath strokeShape(const QPainterPath& path) const
    {
        QPainterPathStroker stroker(pen);
        return stroker.createStroke(path);
    }
    // A shaft from `from` to `to` with an open head at `to`.
    QPainterPath arrow(QPointF from, QPointF to) const
    {
        QPainterPath path(from);
        path.lineTo(to);
        const QPointF d = to - from;
        const double length = std::hypot(d.x(), d.y());
        if (length <= 0)
            return path;
        const QPointF u = d / length, n(-u.y(), u.x());
        const double head = s * 0.28;
        path.moveTo(to - u * head + n * head);
        path.lineTo(to);
        path.lineTo(to - u * head - n * head);
        return path;
    }
    QPainterPath circle(double inset = 0.08) const
    {
        QPainterPath path;
        path.addEllipse(area(inset, inset, 1 - inset, 1 - inset));
        return path;
    }
};

using SymbolDraw = void (*)(const SymbolPen&);

QPainterPath line(QPointF a, QPointF b)
{
    QPainterPath path(a);
    path.lineTo(b);
    return path;
}

QPainterPath tick(const SymbolPen& p, double x0, double y0, double scale)
{
    QPainterPath path(p.at(x0 + 0.0 * scale, y0 + 0.05 * scale));
    path.lineTo(p.at(x0 + 0.24 * scale, y0 + 0.3 * scale));
    path.lineTo(p.at(x0 + 0.7 * scale, y0 - 0.28 * scale));
    return path;
}

const std::vector<std::pair<QString, SymbolDraw>>& symbolTable()
{
    static const std::vector<std::pair<QString, SymbolDraw>> table{
        {QStringLiteral("play.fill"),
         [](const SymbolPen& p) {
             QPainterPath path(p.at(0.2, 0.1));
             path.lineTo(p.at(0.9, 0.5));
             path.lineTo(p.at(0.2, 0.9));
             path.closeSubpath();
             p.fill(path);
         }},
        {QStringLiteral("pause.fill"),
         [](const SymbolPen& p) {
             QPainterPath path;
             path.addRect(p.area(0.2, 0.1, 0.4, 0.9));
             path.addRect(p.area(0.6, 0.1, 0.8, 0.9));
             p.fill(path);
         }},
        {QStringLiteral("stop.fill"),
         [](const SymbolPen& p) {
             QPainterPath path;
             path.addRect(p.area(0.15, 0.15, 0.85, 0.85));
             p.fill(path);
         }},
        {QStringLiteral("xmark"),
         [](const SymbolPen& p) {
             QPainterPath path = line(p.at(0.15, 0.15), p.at(0.85, 0.85));
             path.addPath(line(p.at(0.85, 0.15), p.at(0.15, 0.85)));
             p.stroke(path);
         }},
        {QStringLiteral("plus"),
         [](const SymbolPen& p) {
             QPainterPath path = line(p.at(0.1, 0.5), p.at(0.9, 0.5));
             path.addPath(line(p.at(0.5, 0.1), p.at(0.5, 0.9)));
             p.stroke(path);
         }},
        {QStringLiteral("minus"), [](const SymbolPen& p) { p.stroke(line(p.at(0.1, 0.5), p.at(0.9, 0.5))); }},
        {QStringLiteral("checkmark"), [](const SymbolPen& p) { p.stroke(tick(p, 0.12, 0.5, 1.1)); }},
        {QStringLiteral("magnifyingglass"),
         [](const SymbolPen& p) {
             QPainterPath path;
             path.addEllipse(p.area(0.1, 0.1, 0.65, 0.65));
             path.addPath(line(p.at(0.58, 0.58), p.at(0.9, 0.9)));
             p.stroke(path);
         }},
        {QStringLiteral("arrow.clockwise"),
         [](const SymbolPen& p) {
             QPainterPath path;
             path.arcMoveTo(p.area(0.12, 0.12, 0.88, 0.88), 60);
             path.arcTo(p.area(0.12, 0.12, 0.88, 0.88), 60, -300);
             p.stroke(path);
         }},
        {QStringLiteral("chevron.left"),
         [](const SymbolPen& p) {
             QPainterPath path(p.at(0.65, 0.1));
             path.lineTo(p.at(0.3, 0.5));
             path.lineTo(p.at(0.65, 0.9));
             p.stroke(path);
         }},
        {QStringLiteral("chevron.right"),
         [](const SymbolPen& p) {
             QPainterPath path(p.at(0.35, 0.1));
             path.lineTo(p.at(0.7, 0.5));
             path.lineTo(p.at(0.35, 0.9));
             p.stroke(path);
         }},
        {QStringLiteral("link"),
         [](const SymbolPen& p) {
             QPainterPath path;
             path.addRoundedRect(p.area(0.05, 0.3, 0.6, 0.7), p.s * 0.2, p.s * 0.2);
             path.addRoundedRect(p.area(0.4, 0.3, 0.95, 0.7), p.s * 0.2, p.s * 0.2);
             p.stroke(path);
         }},
        {QStringLiteral("gearshape"),
         [](const SymbolPen& p) {
             QPainterPath path;
             path.addEllipse(p.area(0.2, 0.2, 0.8, 0.8));
             path.addEllipse(p.area(0.4, 0.4, 0.6, 0.6));
             p.stroke(path);
         }},
        {QStringLiteral("slider.horizontal.3"),
         [](const SymbolPen& p) {
             QPainterPath rails, knobs;
             const double knobX[3] = {0.32, 0.68, 0.45};
             for (int i = 0; i < 3; ++i) {
                 const double y = 0.18 + 0.32 * i;
                 rails.addPath(line(p.at(0.05, y), p.at(0.95, y)));
                 knobs.addEllipse(p.at(knobX[i], y), p.s * 0.13, p.s * 0.13);
             }
             QPen thin = p.pen;
             thin.setWidthF(p.pen.widthF() * 0.7);
             p.canvas.strokePath(rails, thin);
             p.fill(knobs);
         }},
        {QStringLiteral("dice"),
         [](const SymbolPen& p) {
             QPainterPath face;
             face.addRoundedRect(p.area(0.08, 0.08, 0.92, 0.92), p.s * 0.18, p.s * 0.18);
             p.stroke(face);
             QPainterPath pips;
             for (double at : {0.3, 0.5, 0.7})
                 pips.addEllipse(p.at(at, at), p.s * 0.08, p.s * 0.08);
             p.fill(pips);
         }},
        {QStringLiteral("circle"), [](const SymbolPen& p) { p.stroke(p.circle()); }},
        {QStringLiteral("checkmark.circle.fill"),
         [](const SymbolPen& p) { p.fill(p.circle(0.02).subtracted(p.strokeShape(tick(p, 0.27, 0.5, 0.75)))); }},
        {QStringLiteral("arrow.down.circle"),
         [](const SymbolPen& p) {
             QPainterPath path = p.circle();
             path.addPath(p.arrow(p.at(0.5, 0.25), p.at(0.5, 0.72)));
             p.stroke(path);
         }},
        {QStringLiteral("arrow.down.circle.fill"),
         [](const SymbolPen& p) {
             p.fill(p.circle(0.02).subtracted(p.strokeShape(p.arrow(p.at(0.5, 0.25), p.at(0.5, 0.72)))));
         }},
        {QStringLiteral("power"),
         [](const SymbolPen& p) {
             // A ring open at the top, the stroke standing in the gap.
             QPainterPath path;
             path.arcMoveTo(p.area(0.12, 0.16, 0.88, 0.92), 125);
             path.arcTo(p.area(0.12, 0.16, 0.88, 0.92), 125, 290);
             path.addPath(line(p.at(0.5, 0.06), p.at(0.5, 0.5)));
             p.stroke(path);
         }},
        {QStringLiteral("icloud.and.arrow.down"),
         [](const SymbolPen& p) {
             QPainterPath cloud;
             cloud.addEllipse(p.area(0.05, 0.35, 0.45, 0.75));
             QPainterPath puff;
             puff.addEllipse(p.area(0.25, 0.12, 0.75, 0.62));
             QPainterPath side;
             side.addEllipse(p.area(0.55, 0.32, 0.95, 0.72));
             QPainterPath base;
             base.addRect(p.area(0.25, 0.5, 0.75, 0.75));
             cloud = cloud.united(puff).united(side).united(base);
             QPen thin = p.pen;
             thin.setWidthF(p.pen.widthF() * 0.8);
             p.canvas.strokePath(cloud, thin);
             p.stroke(p.arrow(p.at(0.5, 0.45), p.at(0.5, 0.95)));
         }},
        {QStringLiteral("arrow.triangle.branch"),
         [](const SymbolPen& p) {
             QPainterPath path = line(p.at(0.5, 0.95), p.at(0.5, 0.55));
             path.addPath(p.arrow(p.at(0.5, 0.55), p.at(0.15, 0.1)));
             path.addPath(p.arrow(p.at(0.5, 0.55), p.at(0.85, 0.1)));
             p.stroke(path);
         }},
        {QStringLiteral("square.and.arrow.down"),
         [](const SymbolPen& p) {
             QPainterPath tray(p.at(0.3, 0.4));
             tray.lineTo(p.at(0.1, 0.4));
             tray.lineTo(p.at(0.1, 0.95));
             tray.lineTo(p.at(0.9, 0.95));
             tray.lineTo(p.at(0.9, 0.4));
             tray.lineTo(p.at(0.7, 0.4));
             tray.addPath(p.arrow(p.at(0.5, 0.05), p.at(0.5, 0.7)));
             p.stroke(tray);
         }},
        {QStringLiteral("waveform"),
         [](const SymbolPen& p) {
             QPainterPath path;
             const double heights[7] = {0.2, 0.5, 0.8, 0.45, 0.9, 0.55, 0.25};
             for (int i = 0; i < 7; ++i) {
                 const double x = 0.08 + i * 0.14, h = heights[i] / 2;
                 path.addPath(line(p.at(x, 0.5 - h), p.at(x, 0.5 + h)));
             }
             QPen thin = p.pen;
             thin.setWidthF(p.pen.widthF() * 0.75);
             p.canvas.strokePath(path, thin);
         }},
        {QStringLiteral("arrow.down.to.line"),
         [](const SymbolPen& p) {
             QPainterPath path = p.arrow(p.at(0.5, 0.05), p.at(0.5, 0.72));
             path.addPath(line(p.at(0.12, 0.92), p.at(0.88, 0.92)));
             p.stroke(path);
         }},
        {QStringLiteral("arrow.forward.to.line"),
         [](const SymbolPen& p) {
             QPainterPath path = p.arrow(p.at(0.05, 0.5), p.at(0.72, 0.5));
             path.addPath(line(p.at(0.92, 0.12), p.at(0.92, 0.88)));
             p.stroke(path);
         }},
        {QStringLiteral("scope"),
         [](const SymbolPen& p) {
             QPainterPath path = p.circle(0.15);
             path.addPath(line(p.at(0.5, 0.0), p.at(0.5, 0.3)));
             path.addPath(line(p.at(0.5, 0.7), p.at(0.5, 1.0)));
             path.addPath(line(p.at(0.0, 0.5), p.at(0.3, 0.5)));
             path.addPath(line(p.at(0.7, 0.5), p.at(1.0, 0.5)));
             p.stroke(path);
             QPainterPath centre;
             centre.addEllipse(p.at(0.5, 0.5), p.s * 0.07, p.s * 0.07);
             p.fill(centre);
         }},
    };
    return table;
}

} // namespace

const QStringList& stageSymbols()
{
    static const QStringList names = [] {
        QStringList all;
        for (const auto& [name, draw] : symbolTable())
            all.append(name);
        return all;
    }();
    return names;
}

void paintSymbol(kit::Canvas& canvas, const QString& name, const QRectF& rect, const QColor& colour)
{
    const double s = std::min(rect.width(), rect.height());
    const QRectF box(rect.center().x() - s / 2, rect.center().y() - s / 2, s, s);
    const SymbolPen pen{canvas, box, colour, s,
                        QPen(colour, std::max(1.0, s * 0.16), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)};
    for (const auto& [known, draw] : symbolTable())
        if (known == name) {
            draw(pen);
            return;
        }
    QPainterPath dot;
    dot.addEllipse(box.center(), s * 0.15, s * 0.15);
    canvas.fillPath(dot, colour);
}

void paintStagePanel(kit::Canvas& canvas, const QRectF& rect, bool highlight)
{
    canvas.fillPath(rounded(rect, 12), kit::Stage::inkRaised());
    canvas.strokePath(rounded(rect.adjusted(0.5, 0.5, -0.5, -0.5), 11.5),
                      QPen(highlight ? kit::withAlpha(kit::Stage::bone(), 0.55) : kit::Stage::line(), 1));
}

StageKey::StageKey(kit::UiEnv, const QString& symbol, std::optional<QString> label, bool lit, const QString& help,
                   std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol), label_(std::move(label)), lit_(lit)
{
    setToolTip(help);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    if (action)
        connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] { action(); });
}

void StageKey::setLit(bool lit)
{
    if (lit_ == lit)
        return;
    lit_ = lit;
    update();
}

QSize StageKey::sizeHint() const
{
    const double side = label_ ? 11 : 9;
    double width = 2 * side + kIcon;
    if (label_)
        width += 5 + QFontMetricsF(wordFont()).horizontalAdvance(*label_);
    return {int(std::ceil(width)), 28};
}

void StageKey::paintKey(kit::Canvas& canvas) const
{
    const QSizeF size = sizeHint();
    const QRectF rect(QPointF(0, 0), size);
    canvas.fillPath(rounded(rect, 8), lit_ ? kit::Stage::signal() : kit::Stage::inkHigh());
    canvas.strokePath(rounded(rect.adjusted(0.5, 0.5, -0.5, -0.5), 7.5), QPen(kit::Stage::line(), 1));
    const QColor ink = lit_ ? kit::Stage::ink() : kit::Stage::bone();
    const double side = label_ ? 11 : 9;
    paintSymbol(canvas, symbol_, QRectF(side, (28 - kIcon) / 2, kIcon, kIcon), ink);
    if (label_)
        canvas.drawText(QRectF(side + kIcon + 5, 0, size.width() - side - kIcon - 5 - side + 1, 28), *label_, wordFont(),
                        ink, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
}

void StageKey::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.4);
    kit::PainterCanvas canvas(painter);
    paintKey(canvas);
}

} // namespace stage
} // namespace zelvo
