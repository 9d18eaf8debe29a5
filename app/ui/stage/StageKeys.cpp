#include "ui/stage/StageKeys.h"

#include "ui/kit/Palette.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <climits>
#include <cmath>

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

const QStringList& stageSymbols()
{
    static const QStringList names{
        QStringLiteral("play.fill"),      QStringLiteral("pause.fill"),       QStringLiteral("stop.fill"),
        QStringLiteral("xmark"),          QStringLiteral("plus"),             QStringLiteral("minus"),
        QStringLiteral("magnifyingglass"), QStringLiteral("arrow.clockwise"), QStringLiteral("chevron.left"),
        QStringLiteral("chevron.right"),  QStringLiteral("link"),             QStringLiteral("gearshape"),
    };
    return names;
}

void paintSymbol(kit::Canvas& canvas, const QString& name, const QRectF& rect, const QColor& colour)
{
    const double s = std::min(rect.width(), rect.height());
    const QRectF box(rect.center().x() - s / 2, rect.center().y() - s / 2, s, s);
    const QPen pen(colour, std::max(1.0, s * 0.16), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QPainterPath path;
    const auto at = [&](double x, double y) { return QPointF(box.left() + x * s, box.top() + y * s); };
    if (name == QLatin1String("play.fill")) {
        path.moveTo(at(0.2, 0.1));
        path.lineTo(at(0.9, 0.5));
        path.lineTo(at(0.2, 0.9));
        path.closeSubpath();
        canvas.fillPath(path, colour);
    } else if (name == QLatin1String("pause.fill")) {
        path.addRect(QRectF(at(0.2, 0.1), at(0.4, 0.9)));
        path.addRect(QRectF(at(0.6, 0.1), at(0.8, 0.9)));
        canvas.fillPath(path, colour);
    } else if (name == QLatin1String("stop.fill")) {
        path.addRect(QRectF(at(0.15, 0.15), at(0.85, 0.85)));
        canvas.fillPath(path, colour);
    } else if (name == QLatin1String("xmark")) {
        path.moveTo(at(0.15, 0.15));
        path.lineTo(at(0.85, 0.85));
        path.moveTo(at(0.85, 0.15));
        path.lineTo(at(0.15, 0.85));
        canvas.strokePath(path, pen);
    } else if (name == QLatin1String("plus") || name == QLatin1String("minus")) {
        path.moveTo(at(0.1, 0.5));
        path.lineTo(at(0.9, 0.5));
        if (name == QLatin1String("plus")) {
            path.moveTo(at(0.5, 0.1));
            path.lineTo(at(0.5, 0.9));
        }
        canvas.strokePath(path, pen);
    } else if (name == QLatin1String("magnifyingglass")) {
        path.addEllipse(QRectF(at(0.1, 0.1), at(0.65, 0.65)));
        path.moveTo(at(0.58, 0.58));
        path.lineTo(at(0.9, 0.9));
        canvas.strokePath(path, pen);
    } else if (name == QLatin1String("arrow.clockwise")) {
        path.arcMoveTo(QRectF(at(0.12, 0.12), at(0.88, 0.88)), 60);
        path.arcTo(QRectF(at(0.12, 0.12), at(0.88, 0.88)), 60, -300);
        canvas.strokePath(path, pen);
    } else if (name == QLatin1String("chevron.left") || name == QLatin1String("chevron.right")) {
        const bool left = name == QLatin1String("chevron.left");
        path.moveTo(at(left ? 0.65 : 0.35, 0.1));
        path.lineTo(at(left ? 0.3 : 0.7, 0.5));
        path.lineTo(at(left ? 0.65 : 0.35, 0.9));
        canvas.strokePath(path, pen);
    } else if (name == QLatin1String("link")) {
        path.addRoundedRect(QRectF(at(0.05, 0.3), at(0.6, 0.7)), s * 0.2, s * 0.2);
        path.addRoundedRect(QRectF(at(0.4, 0.3), at(0.95, 0.7)), s * 0.2, s * 0.2);
        canvas.strokePath(path, pen);
    } else if (name == QLatin1String("gearshape")) {
        path.addEllipse(QRectF(at(0.2, 0.2), at(0.8, 0.8)));
        path.addEllipse(QRectF(at(0.4, 0.4), at(0.6, 0.6)));
        canvas.strokePath(path, pen);
    } else {
        path.addEllipse(box.center(), s * 0.15, s * 0.15);
        canvas.fillPath(path, colour);
    }
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
