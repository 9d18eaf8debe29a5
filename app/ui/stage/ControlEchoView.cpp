#include "ui/stage/ControlEchoView.h"

#include "state/AppModel.h"
#include "models/DeckModel.h"
#include "platform/Scheduler.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zelvo::stage {
namespace {

QFont font(double size, QFont::Weight weight, bool mono, double tracking = 0)
{
    QFont f(mono ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
    f.setPixelSize(std::max(1, int(std::lround(size))));
    f.setWeight(weight);
    if (tracking != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return f;
}

QPainterPath rounded(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath capsule(const QRectF& rect)
{
    return rounded(rect, rect.height() / 2);
}

const QFont& badgeFont()
{
    static const QFont f = font(13, QFont::Black, false);
    return f;
}
const QFont& titleFont()
{
    static const QFont f = font(10, QFont::Medium, true, 2.6);
    return f;
}
const QFont& valueFont()
{
    static const QFont f = font(34, QFont::ExtraBold, false);
    return f;
}

constexpr double kPadX = 18, kPadY = 14, kGap = 6;

} // namespace

EchoLook echoLook(double age)
{
    EchoLook look;
    if (!std::isfinite(age))
        return look;
    look.opacity = age < 0.9 ? 1.0 : 1.0 - (age - 0.9) / 0.35;
    look.scale = age < 0.08 ? 0.97 + std::max(age, 0.0) * 0.375 : 1.0;
    return look;
}

Travel travel(double fraction, bool bipolar, double width, double height)
{
    Travel t;
    const double f = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    if (!bipolar) {
        t.fill = QRectF(0, 0, std::max(3.0, f * width), height);
        return t;
    }
    const double lo = std::min(f, 0.5), hi = std::max(f, 0.5);
    t.fill = QRectF(lo * width, 0, std::max(3.0, (hi - lo) * width), height);
    t.tick = QRectF(width * 0.5 - 0.75, 0, 1.5, height);
    return t;
}

ControlEchoView::ControlEchoView(AppModel& model, StageSides& sides, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), model_(model), sides_(sides), env_(env)
{
    setObjectName(QStringLiteral("controlEcho"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    connect(&sides_, &StageSides::echoChanged, this, &ControlEchoView::follow);
    follow();
}

ControlEchoView::~ControlEchoView()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

double ControlEchoView::age() const
{
    if (!sides_.echo() || !env_.scheduler)
        return INFINITY;
    return env_.scheduler->uptime() - sides_.echo()->stamp;
}

void ControlEchoView::follow()
{
    update();
    if (!env_.liveClock || env_.snapshotMode || tick_ || !echoLook(age()).visible())
        return;
    // The model keeps the last card: stop once it has faded, not only when it goes.
    tick_ = env_.liveClock->subscribe(30, [this](double) {
        update();
        if (!echoLook(age()).visible()) {
            env_.liveClock->unsubscribe(tick_);
            tick_ = 0;
        }
    });
}

QSizeF ControlEchoView::cardSize(const Echo& echo) const
{
    double h = kPadY * 2 + 18 + kGap + QFontMetricsF(valueFont()).height();
    if (echo.fraction)
        h += kGap + 5;
    return {kEchoWidth, h};
}

void ControlEchoView::paintCard(kit::Canvas& canvas, const Echo& echo)
{
    const QSizeF size = cardSize(echo);
    const QRectF card(QPointF(0, 0), size);
    const QPainterPath shape = rounded(card, 12);
    canvas.drawCached(QStringLiteral("echo.shadow.%1x%2").arg(size.width()).arg(size.height()), card, 40,
                      [&](kit::Canvas& c) { c.shadow(shape, QColor(0, 0, 0, 153), 24, QPointF(0, 10)); });
    canvas.fillPath(shape, kit::withAlpha(kit::Stage::inkRaised(), 0.92));
    canvas.strokePath(rounded(card.adjusted(0.5, 0.5, -0.5, -0.5), 11.5), QPen(kit::Stage::line(), 1));

    double x = kPadX;
    double y = kPadY;
    if (echo.deck) {
        const int deck = *echo.deck;
        const bool isAI = deck >= 0 && deck < AppModel::kDecks && model_.deck(deck).isAI();
        const QString text = isAI ? QStringLiteral("%1 \u00b7 zelvo-0").arg(deck + 1) : QString::number(deck + 1);
        const double w = QFontMetricsF(badgeFont()).horizontalAdvance(text) + 12;
        const QRectF badge(x, y, w, 18);
        canvas.fillPath(rounded(badge, 3), kit::Stage::bone());
        canvas.drawText(badge, text, badgeFont(), kit::Stage::ink(), Qt::AlignCenter | Qt::TextSingleLine);
        x += w + 8;
    }
    canvas.drawText(QRectF(x, y, kEchoWidth - kPadX - x, 18), echo.title.toUpper(), titleFont(),
                    kit::withAlpha(kit::Stage::bone(), 0.75), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
    y += 18 + kGap;
    const double valueHeight = QFontMetricsF(valueFont()).height();
    const QRectF value(kPadX, y, kEchoWidth - 2 * kPadX, valueHeight);
    if (echo.deck == 1) {
        const QString text = echo.value;
        valueGhosts_.paint(canvas, value, 1.2, 0.6, qHash(text), devicePixelRatioF(), [text](QPainter& p, QSizeF s) {
            p.setFont(valueFont());
            p.setPen(kit::Stage::paper());
            p.drawText(QRectF(QPointF(0, 0), s), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        });
    } else {
        canvas.drawText(value, echo.value, valueFont(), kit::Stage::paper(),
                        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
    }
    y += valueHeight;
    if (echo.fraction) {
        y += kGap;
        const double w = kEchoWidth - 2 * kPadX;
        canvas.fillPath(capsule(QRectF(kPadX, y, w, 5)), kit::Stage::line());
        const Travel bar = travel(*echo.fraction, echo.bipolar, w);
        canvas.fillPath(capsule(bar.fill.translated(kPadX, y)), kit::Stage::signal());
        if (bar.tick)
            canvas.fillRect(bar.tick->translated(kPadX, y), kit::withAlpha(kit::Stage::bone(), 0.6));
    }
}

void ControlEchoView::paintEvent(QPaintEvent*)
{
    if (!sides_.echo())
        return;
    const EchoLook look = echoLook(age());
    if (!look.visible())
        return;
    ++paints_;
    const Echo echo = *sides_.echo();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(std::clamp(look.opacity, 0.0, 1.0));
    const QSizeF size = cardSize(echo);
    // Centred at the top, 18 points down; scaled about the card's centre.
    const QPointF centre(width() / 2.0, 18 + size.height() / 2);
    painter.translate(centre);
    painter.scale(look.scale, look.scale);
    painter.translate(-size.width() / 2, -size.height() / 2);
    kit::PainterCanvas canvas(painter);
    paintCard(canvas, echo);
}

} // namespace zelvo::stage
