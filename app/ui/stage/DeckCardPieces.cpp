#include "ui/stage/DeckCardPieces.h"

#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "library/WaveformData.h"
#include "models/DeckModel.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <climits>
#include <cmath>

namespace zelvo {

QString DeckCard::clock(double t)
{
    if (!std::isfinite(t) || std::fabs(t) >= double(INT_MAX))
        return {};
    const int whole = int(t);
    const int m = whole / 60;
    const int s = whole - 60 * m;
    const int d = int((t - std::floor(t)) * 10);
    return QString::asprintf("%d:%02d.%d", m, s, d);
}

namespace stage {
namespace {

QFont chipFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(8);
    font.setWeight(QFont::Medium);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.4);
    return font;
}

QPainterPath rounded(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

QSizeF chipSize(const QString& text)
{
    const QFontMetricsF metrics(chipFont());
    return {metrics.horizontalAdvance(text.toUpper()) + 12, metrics.height() + 6};
}

void paintChip(kit::Canvas& canvas, const QRectF& rect, const QString& text, bool on)
{
    canvas.fillPath(rounded(rect, 4), on ? kit::Stage::signal() : kit::Stage::inkHigh());
    canvas.drawText(rect, text.toUpper(), chipFont(), on ? kit::Stage::ink() : kit::Stage::ash(),
                    Qt::AlignCenter | Qt::TextSingleLine);
}

double touchGlow(double sinceTouch)
{
    if (!std::isfinite(sinceTouch) || sinceTouch < 0)
        return 0;
    return std::max(1.0 - sinceTouch / 0.6, 0.0);
}

void paintTouchGlow(kit::Canvas& canvas, const QRectF& rect, double glow, bool targeted)
{
    const QPainterPath shape = rounded(rect, 12);
    canvas.fillPath(shape, kit::Stage::inkRaised());
    if (glow > 0)
        canvas.fillPath(shape, kit::withAlpha(kit::Stage::bone(), glow * 0.07));
    // Stroked inside the border.
    const double width = targeted ? 1.5 : 1.0;
    const QPainterPath inner = rounded(rect.adjusted(width / 2, width / 2, -width / 2, -width / 2), 12 - width / 2);
    const QColor colour = targeted ? kit::withAlpha(kit::Stage::bone(), 0.45 + 0.45 * glow) : kit::Stage::line();
    canvas.strokePath(inner, QPen(colour, width));
}

void paintOverview(kit::Canvas& canvas, QSizeF size, const OverviewInput& in)
{
    const double w = size.width(), h = size.height();
    const QPainterPath shape = rounded(QRectF(0, 0, w, h), 5);
    canvas.fillPath(shape, kit::Stage::ink());
    const WaveformData* wave = in.waveform.get();
    if (!wave || !in.loaded || !std::isfinite(in.duration) || !std::isfinite(in.position))
        return;
    canvas.save();
    canvas.clip(shape);
    const double dur = std::max(in.duration, 0.001);
    const double pos = in.position;
    const int n = std::max(0, int(w * 0.5));
    const std::size_t count = std::min(wave->low.size(), wave->mid.size());
    std::vector<QRectF> played, unplayed, ghost;
    for (int i = 0; i < n; ++i) {
        const double t = dur * i / n;
        const double start = t * wave->pointsPerSecond;
        if (!(start < double(count)))
            break;
        const std::size_t a = std::size_t(start);
        const double end = (t + dur / n) * wave->pointsPerSecond;
        std::size_t b = end < double(count) ? std::size_t(end) : count;
        b = std::min(std::max(b, a + 1), count);
        int peak = 0;
        for (std::size_t k = a; k < b; ++k)
            peak = std::max({peak, int(wave->low[k]), int(wave->mid[k])});
        const double half = (h / 2 - 2) * peak / 255.0;
        const QRectF bar(2.0 * i, h / 2 - half, 1.4, 2 * half);
        (t < pos ? played : unplayed).push_back(bar);
        if (in.seam && t >= *in.seam)
            ghost.push_back(bar);
    }
    if (!ghost.empty()) {
        canvas.save();
        canvas.setBlend(QPainter::CompositionMode_Screen);
        std::vector<QRectF> red = ghost, cyan = ghost;
        for (QRectF& r : red)
            r.translate(-1, 0);
        for (QRectF& r : cyan)
            r.translate(1, 0);
        canvas.fillRects(red, kit::withAlpha(kit::Stage::ghostRed(), 0.45));
        canvas.fillRects(cyan, kit::withAlpha(kit::Stage::ghostCyan(), 0.4));
        canvas.restore();
    }
    if (!played.empty())
        canvas.fillRects(played, kit::withAlpha(kit::Stage::ash(), 0.45));
    if (!unplayed.empty())
        canvas.fillRects(unplayed, kit::withAlpha(kit::Stage::bone(), 0.85));
    std::vector<QRectF> cues;
    for (double cue : in.hotCues)
        if (std::isfinite(cue) && cue >= 0)
            cues.emplace_back(cue / dur * w - 1, 0, 2, 5);
    if (!cues.empty())
        canvas.fillRects(cues, kit::Stage::signal());
    canvas.fillRects({QRectF(pos / dur * w - 1, 0, 2, h)}, kit::Stage::paper());
    canvas.restore();
}

std::optional<double> overviewSeek(double x, double width, double duration)
{
    if (!(width > 0) || !std::isfinite(width) || !(duration > 0) || !std::isfinite(duration))
        return std::nullopt;
    const double fraction = x / width;
    if (!std::isfinite(fraction))
        return std::nullopt;
    return duration * std::clamp(fraction, 0.0, 1.0);
}

OverviewStrip::OverviewStrip(DeckModel& deck, kit::UiEnv env, QWidget* parent) : QWidget(parent), deck_(deck), env_(env)
{
    setObjectName(QStringLiteral("overviewStrip.%1").arg(deck.index()));
    const auto redraw = [this] { update(); };
    connect(&deck_, &DeckModel::waveformChanged, this, redraw);
    connect(&deck_, &DeckModel::trackChanged, this, redraw);
    connect(&deck_, &DeckModel::voiceChanged, this, redraw);
    connect(&deck_, &DeckModel::liveChanged, this, [this] {
        followPlaying();
        update();
    });
    followPlaying();
}

OverviewStrip::~OverviewStrip()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

void OverviewStrip::setCarried(bool carried)
{
    carried_ = carried;
    followPlaying();
}

void OverviewStrip::followPlaying()
{
    if (!env_.liveClock || env_.snapshotMode)
        return;
    const bool playing = deck_.live().playing && !carried_;
    if (playing && !tick_)
        tick_ = env_.liveClock->subscribe(10, [this](double) { update(); });
    else if (!playing && tick_) {
        env_.liveClock->unsubscribe(tick_);
        tick_ = 0;
    }
}

OverviewInput OverviewStrip::input() const
{
    OverviewInput in;
    const auto voice = deck_.voice();
    if (!voice)
        return in;
    const DeckState& state = voice->state();
    in.waveform = deck_.waveform();
    in.loaded = state.loaded.load();
    in.duration = state.duration.load();
    in.position = state.position.load();
    for (std::size_t i = 0; i < in.hotCues.size() && i < state.hotCues.size(); ++i)
        in.hotCues[i] = state.hotCues[i].load();
    if (deck_.track() && deck_.track()->outpaint)
        in.seam = deck_.track()->outpaint->seam;
    return in;
}

void OverviewStrip::paintEvent(QPaintEvent*)
{
    ++paints_;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(painter);
    paintOverview(canvas, size(), input());
}

void OverviewStrip::seekTo(double x)
{
    const auto voice = deck_.voice();
    if (!voice)
        return;
    if (const auto target = overviewSeek(x, width(), voice->state().duration.load()))
        voice->send(DeckCommand::seek(*target));
}

void OverviewStrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    seekTo(event->position().x());
    event->accept();
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        seekTo(event->position().x());
    event->accept();
}

} // namespace stage
} // namespace zelvo
