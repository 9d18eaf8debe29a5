#include "ui/kit/waves/FaceplateWaves.h"

#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/Palette.h"
#include "ui/kit/waves/WavePainter.h"

#include <QCryptographicHash>
#include <QMouseEvent>
#include <QGesture>
#include <QNativeGestureEvent>
#include <QPainterPath>
#include <QWheelEvent>
#include <cmath>
#include <cstring>

namespace zelvo::kit {

namespace {

QPainterPath roundedRect(const QRectF& r, double radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

std::uint64_t hashText(const QString& text)
{
    const QByteArray d = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1);
    std::uint64_t v = 0;
    std::memcpy(&v, d.constData(), sizeof v);
    return v;
}

bool inWindow(double t) { return std::isfinite(t); }

} // namespace

std::vector<QRectF> FaceWaves::stackedLanes(QSizeF size, int lanes)
{
    std::vector<QRectF> out;
    if (lanes < 1)
        return out;
    const double h = (size.height() - 4.0 * (lanes - 1)) / lanes;
    for (int i = 0; i < lanes; ++i)
        out.emplace_back(0, (h + 4) * i, size.width(), h);
    return out;
}

QString FaceWaves::badgeText(const WaveDeck& deck, int masterDeck)
{
    QString text = deck.isAI ? QStringLiteral("2") : QStringLiteral("1");
    const std::optional<BeatGrid> grid = usableGrid(deck.grid);
    if (grid && deck.voice && std::isfinite(deck.voice->position)) {
        const double p = deck.voice->position;
        const double bar = std::max(std::floor(((p - grid->firstBeat) / grid->beatLength()) / double(grid->beatsPerBar)) + 1, 0.0);
        if (bar < 1e9)
            text += QString::asprintf("  %03lld.%lld", static_cast<long long>(bar),
                                      static_cast<long long>(grid->beatInBar(p)));
    }
    if (masterDeck == deck.index)
        text += QStringLiteral("  MASTER");
    return text;
}

double FaceWaves::pinchZoom(double zoom, double m)
{
    const double z = zoom * (1 + 0.08 * (m - 1));
    if (!std::isfinite(z))
        return std::clamp(std::isfinite(zoom) ? zoom : 1.0, 0.3, 6.0);
    return std::clamp(z, 0.3, 6.0);
}

std::optional<double> FaceWaves::overviewSeek(const WaveDeck& deck, double x, double width)
{
    if (!deck.voice || !(deck.voice->duration > 0) || !std::isfinite(deck.voice->duration) || !(width > 0) ||
        !std::isfinite(x))
        return std::nullopt;
    const double f = std::clamp(x / width, 0.0, 1.0);
    return deck.voice->duration * f;
}

double FaceWaves::wallSeconds(const Scheduler* scheduler)
{
    if (!scheduler)
        return 0;
    const qint64 ms = scheduler->now().toMSecsSinceEpoch() - 978307200000LL;
    return double(ms / 1000) + double(ms % 1000) / 1000.0;
}

void FaceWaves::drawForkWindow(Canvas& canvas, const ForkSpan& span, const std::function<double(double)>& x,
                               const QRectF& rect, double now)
{
    const double u = 0.5 + 0.5 * std::sin(6 * now);
    const double xc = x(span.contextStart);
    const double xs = x(span.seam);
    if (!inWindow(xc) || !inWindow(xs))
        return;
    // Far-off ends are held just outside the lane; the clip cuts them.
    const double a = std::clamp(xc, rect.left() - 10, rect.right() + 10);
    const double b = std::clamp(xs, rect.left() - 10, rect.right() + 10);
    canvas.fillRects({QRectF(a, rect.top(), b - a, rect.height())}, withAlpha(Palette::bone(), 0.045));
    QPainterPath outline;
    outline.addRect(QRectF(a, rect.top() + 1, b - a, rect.height() - 2));
    QPen pen(withAlpha(Palette::bone(), 0.35), 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    pen.setDashPattern({3, 3});
    pen.setDashOffset(0);
    canvas.strokePath(outline, pen);
    if (xs < rect.left() - 10 || xs > rect.right() + 10)
        return;
    canvas.fillRects({QRectF(xs - 1.5, rect.top(), 3, rect.height())}, withAlpha(Palette::glow(), 0.4 + 0.5 * u));
    canvas.fillRects({QRectF(xs - 3.5, rect.top(), 3, rect.height())}, withAlpha(Palette::red(), 0.25 * u));
    canvas.fillRects({QRectF(xs + 0.5, rect.top(), 3, rect.height())}, withAlpha(Palette::cyan(), 0.22 * u));
    drawDotText(canvas, QStringLiteral("FORK"), QPointF(xs + 5, rect.bottom() - 22), 1.4, 4, Palette::glow(), 1,
                true);
}

void FaceWaves::drawStackedLane(Canvas& canvas, const WaveDeck& deck, const QRectF& rect, double zoom,
                                const std::optional<ForkSpan>& fork, int masterDeck, double now)
{
    if (!(rect.height() > 0) || !(rect.width() > 0))
        return;
    if (!deck.voice || !deck.waveform || !deck.voice->loaded) {
        // A deck holding a record is not empty, whatever became of its analysis.
        if (deck.track && !deck.loading)
            return;
        const QString text = deck.loading ? QStringLiteral("LOADING")
                             : deck.isAI  ? QStringLiteral("ZELVO-0 · FORK DECK 1 TO BEGIN")
                                          : QStringLiteral("LOAD A TRACK");
        drawDotText(canvas, text, QPointF(rect.left() + 14, rect.center().y() - 5), 1.6,
                    int(DotMatrix::characters(text).size()), Palette::bone(), 0.35, deck.isAI);
        return;
    }
    const WaveDeck::Cells& c = *deck.voice;
    const double v = 8.0 / (std::isfinite(zoom) && zoom > 0 ? zoom : 1.0);
    const double p = std::isfinite(c.position) ? c.position : 0.0;
    const double t0 = p - v / 2;
    const double t1 = p + v / 2;
    const double k = rect.width() / v;
    auto x = [&](double t) { return rect.left() + (t - t0) * k; };
    canvas.save();
    QPainterPath clip;
    clip.addRect(rect);
    canvas.clip(clip);

    // Loop.
    if (c.loopStart >= 0 && std::isfinite(c.loopStart)) {
        const QColor bar = withAlpha(Palette::bone(), c.loopActive ? 0.8 : 0.35);
        if (c.loopEnd > c.loopStart && std::isfinite(c.loopEnd)) {
            const double a = std::max(x(c.loopStart), rect.left() - 2);
            const double b = std::min(x(c.loopEnd), rect.right() + 2);
            if (b > a)
                canvas.fillRects({QRectF(a, rect.top(), b - a, rect.height())},
                                 withAlpha(Palette::bone(), c.loopActive ? 0.13 : 0.05));
            canvas.fillRects({QRectF(x(c.loopEnd) - 1, rect.top(), 2, rect.height())}, bar);
        }
        canvas.fillRects({QRectF(x(c.loopStart) - 1, rect.top(), 2, rect.height())}, bar);
    }

    // The pending fork.
    if (fork)
        drawForkWindow(canvas, *fork, x, rect, now);

    // Beat grid.
    if (const std::optional<BeatGrid> grid = usableGrid(deck.grid)) {
        const double d = grid->beatLength();
        double j = std::floor((t0 - grid->firstBeat) / d);
        std::vector<QRectF> barTicks, beatTicks, hairlines;
        if (std::abs(j) < 1e15)
            for (double t = grid->firstBeat + d * j; t < t1; j += 1, t = grid->firstBeat + d * j) {
                const bool bar = std::fmod(j, double(grid->beatsPerBar)) == 0;
                const double xt = x(t);
                const double w = bar ? 1.2 : 0.8;
                const double len = bar ? 9 : 5;
                auto& into = bar ? barTicks : beatTicks;
                into.emplace_back(xt - 0.5, rect.top(), w, len);
                into.emplace_back(xt - 0.5, rect.bottom() - len, w, len);
                if (bar)
                    hairlines.emplace_back(xt - 0.25, rect.top(), 0.5, rect.height());
            }
        if (!beatTicks.empty())
            canvas.fillRects(beatTicks, withAlpha(Palette::bone(), 0.35));
        if (!barTicks.empty())
            canvas.fillRects(barTicks, withAlpha(Palette::bone(), 0.75));
        if (!hairlines.empty())
            canvas.fillRects(hairlines, withAlpha(Palette::bone(), 0.07));
    }

    // Waveform.
    WaveformPainter::draw(*deck.waveform, canvas, rect.adjusted(0, 10, 0, -10), t0, t1, int(rect.width() * 0.5),
                          std::nullopt, deck.seam);

    // A take's seam.
    if (deck.seam && std::isfinite(*deck.seam)) {
        const double xs = x(*deck.seam);
        if (xs > rect.left() - 40 && xs < rect.right() + 10) {
            canvas.fillRects({QRectF(xs - 1, rect.top(), 2, rect.height())}, withAlpha(Palette::paper(), 0.7));
            drawDotText(canvas, QStringLiteral("2▶"), QPointF(xs + 4, rect.top() + 12), 1.4, 3, Palette::glow(), 1,
                        true);
        }
    }

    // Cue.
    if (std::isfinite(c.cuePoint)) {
        const double xc = std::clamp(x(c.cuePoint), rect.left() - 10, rect.right() + 10);
        canvas.fillPath(triangle({xc - 5, rect.top()}, {xc + 5, rect.top()}, {xc, rect.top() + 7}), Palette::paper());
    }

    // Hot cues.
    static const QString letters = QStringLiteral("ABCDEFGH");
    for (std::size_t i = 0; i < c.hotCues.size(); ++i) {
        const double h = c.hotCues[i];
        if (!(h >= 0) || h <= t0 - 1 || h >= t1 + 1)
            continue;
        const double xh = x(h);
        canvas.fillRects({QRectF(xh - 0.6, rect.top(), 1.2, rect.height())}, withAlpha(Palette::glow(), 0.55));
        canvas.fillPath(roundedRect(QRectF(xh, rect.bottom() - 12, 10, 11), 1.5), Palette::bone());
        drawDotText(canvas, letters.mid(int(i), 1), QPointF(xh + 2.8, rect.bottom() - 9.5), 1.0, 1,
                    Palette::inkDeep(), 1, false);
    }

    // Badge.
    const QString badge = badgeText(deck, masterDeck);
    const int cells = int(badge.size());
    canvas.fillPath(roundedRect(QRectF(rect.left() + 6, rect.top() + 12, cells * 7.2 + 8, 14), 2),
                    withAlpha(Palette::glass(), 0.85));
    drawDotText(canvas, badge, QPointF(rect.left() + 10, rect.top() + 14.5), 1.2, cells, Palette::glow(), 0.9,
                deck.isAI);
    canvas.restore();
}

void FaceWaves::drawStacked(Canvas& canvas, const WaveScene& scene, QSizeF size, double now)
{
    const int n = scene.fourDecks() ? 4 : 2;
    const std::vector<QRectF> lanes = stackedLanes(size, n);
    const std::optional<PendingFork> pending = scene.pending();
    const int master = scene.masterDeck();
    for (int i = 0; i < n; ++i) {
        const WaveDeck deck = scene.deck(i);
        const bool rule = pending && pending->isExtension == deck.isAI;
        drawStackedLane(canvas, deck, lanes[std::size_t(i)], scene.waveformZoom(),
                        WaveLaneMath::forkOnLane(pending, deck, rule), master, now);
    }
    const double W = size.width();
    const double H = size.height();
    canvas.fillRects({QRectF(W / 2 - 3, 0, 6, H)}, withAlpha(Palette::glow(), 0.08));
    canvas.fillRects({QRectF(W / 2 - 0.75, 0, 1.5, H)}, Palette::paper());
    if (n > 1) {
        const double h = lanes[0].height();
        std::vector<QRectF> separators;
        for (int i = 1; i < n; ++i)
            separators.emplace_back(0, (h + 4) * i - 2.5, W, 1);
        canvas.fillRects(separators, Palette::edge());
    }
}

QString FaceWaves::stackedRevision(const WaveScene& scene)
{
    QString text = QString::number(scene.waveformZoom(), 'g', 17);
    if (const std::optional<PendingFork> pending = scene.pending())
        text += QLatin1Char('|') + QString::number(pending->plan.seam, 'g', 17);
    const int n = scene.fourDecks() ? 4 : 2;
    for (int i = 0; i < n; ++i)
        text += QLatin1Char('|') + scene.deck(i).live;
    return text;
}

void FaceWaves::drawOverview(Canvas& canvas, const WaveDeck& deck, QSizeF size, double now)
{
    const double W = size.width();
    const double H = size.height();
    if (!deck.voice || !deck.waveform || !deck.voice->loaded) {
        canvas.fillRects({QRectF(0, H / 2, W, 0.5)}, withAlpha(Palette::ash(), 0.3));
        return;
    }
    const WaveDeck::Cells& c = *deck.voice;
    const double D = std::max(std::isfinite(c.duration) ? c.duration : 0.0, 0.001);
    const double p = std::isfinite(c.position) ? c.position : 0.0;
    WaveformPainter::draw(*deck.waveform, canvas, QRectF(0, 2, W, H - 4), 0, D, int(W / 1.5), p, deck.seam);
    if (D > 60) {
        std::vector<QRectF> ticks;
        for (double m = 60; m < D; m += 60)
            ticks.emplace_back(m / D * W, H - 3, 0.6, 3);
        canvas.fillRects(ticks, withAlpha(Palette::ash(), 0.6));
    }
    std::vector<QRectF> marks;
    for (double h : c.hotCues)
        if (h >= 0 && std::isfinite(h))
            marks.emplace_back(h / D * W - 1, 0, 2, 4);
    if (!marks.empty())
        canvas.fillRects(marks, Palette::bone());
    if (std::isfinite(c.cuePoint)) {
        const double xc = std::clamp(c.cuePoint / D * W, -10.0, W + 10);
        canvas.fillPath(triangle({xc - 3, H}, {xc + 3, H}, {xc, H - 5}), Palette::paper());
    }
    canvas.fillRects({QRectF(std::clamp(p / D * W, -2.0, W + 2) - 0.75, 0, 1.5, H)}, Palette::paper());
    const double blink = std::floor(now * 3);
    if (D - p < 30 && c.playing && std::isfinite(blink) && std::fmod(blink, 2.0) == 0) {
        QPainterPath frame;
        frame.addRect(QRectF(0.5, 0.5, W - 1, H - 1));
        canvas.strokePath(frame, QPen(withAlpha(Palette::red(), 0.7), 1));
    }
}

void FaceWaves::drawPhaseMeter(Canvas& canvas, const WaveScene& scene, QSizeF size)
{
    const int n = scene.fourDecks() ? 4 : 2;
    const double r = size.height() / n;
    const double s = (size.width() - 6) / 4;
    for (int i = 0; i < n; ++i) {
        const WaveDeck deck = scene.deck(i);
        const std::optional<BeatGrid> grid = usableGrid(deck.grid);
        if (!deck.voice || !grid || !deck.voice->loaded)
            continue;
        const std::int64_t b = grid->beatInBar(deck.voice->position);
        for (int k = 0; k < 4; ++k) {
            const QRectF seg(k * (s + 2), i * r + 3, s, r - 6);
            canvas.fillPath(roundedRect(seg, 1),
                            k == b - 1 ? withAlpha(Palette::glow(), 0.9) : withAlpha(Palette::bone(), 0.08));
        }
    }
}

// --- Widgets

StackedWaveforms::StackedWaveforms(WaveScene& scene, const UiEnv& env, QSizeF designSize, QWidget* parent)
    : VFDGlass(env, designSize, 6, parent), scene_(scene)
{
    const Scheduler* scheduler = env.scheduler;
    canvas_ = new LiveCanvas(
        env, designSize, 0,
        [this, scheduler](Canvas& canvas, QSizeF size, double frameTime) {
            FaceWaves::drawStacked(canvas, scene_, size,
                                   frameTime > 0 ? frameTime : FaceWaves::wallSeconds(scheduler));
        },
        this);
    placeContent(canvas_, QRectF(QPointF(0, 0), designSize));
    canvas_->setAttribute(Qt::WA_AcceptTouchEvents);
    canvas_->grabGesture(Qt::PinchGesture);
    canvas_->installEventFilter(this);
    scene_.observe(this, [this] { refreshRate(); });
    refreshRate();
}

void StackedWaveforms::refreshRate()
{
    canvas_->setFps(scene_.anyDeckPlaying() ? 30 : 0);
    canvas_->setRevision(hashText(FaceWaves::stackedRevision(scene_)));
}

bool StackedWaveforms::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == canvas_) {
        if (event->type() == QEvent::NativeGesture) {
            auto* g = static_cast<QNativeGestureEvent*>(event);
            if (g->gestureType() == Qt::BeginNativeGesture) {
                pinch_ = 1.0;
            } else if (g->gestureType() == Qt::ZoomNativeGesture) {
                pinch_ *= 1.0 + g->value();
                const double z = FaceWaves::pinchZoom(scene_.waveformZoom(), pinch_);
                if (z != scene_.waveformZoom())
                    scene_.setWaveformZoom(z);
            }
            return true;
        }
        // A touchscreen pinch: the recogniser reports the magnification since
        // the fingers came down, as the touchpad's does once multiplied up.
        if (event->type() == QEvent::Gesture) {
            auto* g = static_cast<QGestureEvent*>(event);
            if (auto* pinch = static_cast<QPinchGesture*>(g->gesture(Qt::PinchGesture))) {
                g->accept(pinch);
                if (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged) {
                    const double z = FaceWaves::pinchZoom(scene_.waveformZoom(), pinch->totalScaleFactor());
                    if (z != scene_.waveformZoom())
                        scene_.setWaveformZoom(z);
                }
                return true;
            }
        }
        // The fingers' own events stay with the panel, so the recogniser sees them all.
        if (event->type() == QEvent::TouchBegin || event->type() == QEvent::TouchUpdate ||
            event->type() == QEvent::TouchEnd) {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::Wheel) {
            auto* w = static_cast<QWheelEvent*>(event);
            if (w->modifiers() & Qt::ControlModifier) {
                const double m = std::pow(2.0, w->angleDelta().y() / 120.0 / 4.0);
                const double z = FaceWaves::pinchZoom(scene_.waveformZoom(), m);
                if (z != scene_.waveformZoom())
                    scene_.setWaveformZoom(z);
                return true;
            }
        }
    }
    return VFDGlass::eventFilter(watched, event);
}

OverviewWaveform::OverviewWaveform(WaveScene& scene, int deck, const UiEnv& env, QSizeF designSize, QWidget* parent)
    : LiveCanvas(
          env, designSize, 0,
          [this, scheduler = env.scheduler](Canvas& canvas, QSizeF size, double frameTime) {
              FaceWaves::drawOverview(canvas, scene_.deck(deck_), size,
                                      frameTime > 0 ? frameTime : FaceWaves::wallSeconds(scheduler));
          },
          parent),
      scene_(scene), deck_(deck)
{
    auto follow = [this] {
        const WaveDeck d = scene_.deck(deck_);
        setFps(d.livePlaying ? 15 : 0);
        setRevision(hashText(d.live));
    };
    scene_.observe(this, follow);
    follow();
}

void OverviewWaveform::seekAt(QPointF widgetPoint)
{
    const QPointF at = toDesign(widgetPoint);
    if (const std::optional<double> t = FaceWaves::overviewSeek(scene_.deck(deck_), at.x(), designSize().width()))
        scene_.seek(deck_, *t);
}

void OverviewWaveform::mousePressEvent(QMouseEvent* event)
{
    seekAt(event->position());
}

void OverviewWaveform::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        seekAt(event->position());
}

PhaseMeter::PhaseMeter(WaveScene& scene, const UiEnv& env, QSizeF designSize, QWidget* parent)
    : LiveCanvas(
          env, designSize, 0,
          [this](Canvas& canvas, QSizeF size, double) { FaceWaves::drawPhaseMeter(canvas, scene_, size); }, parent),
      scene_(scene)
{
    auto follow = [this] {
        setFps(scene_.anyDeckPlaying() ? 30 : 0);
        QString text;
        for (int i = 0; i < (scene_.fourDecks() ? 4 : 2); ++i)
            text += scene_.deck(i).live + QLatin1Char('|');
        setRevision(hashText(text));
    };
    scene_.observe(this, follow);
    follow();
}

} // namespace zelvo::kit
