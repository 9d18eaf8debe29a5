#include "ui/kit/waves/WaveLane.h"

#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/UiEnv.h"
#include "ui/kit/waves/WavePainter.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <map>

namespace zelvo::kit {

namespace {

constexpr double kPlayhead = 0.36;

QColor rgb(int r, int g, int b) { return QColor(r, g, b); }

// The beat flash's glow: a gradient image per lane height and strength step,
// drawn instead of filling a radial gradient each frame.
const QImage& glowImage(double height, int level)
{
    static std::map<std::pair<int, int>, QImage> cache;
    const int h = std::max(1, WaveMath::roundedInt(height));
    auto key = std::make_pair(h, level);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    if (cache.size() > 256)
        cache.clear();
    const double radius = 1.6 * h;
    const int side = std::max(2, int(radius)); // half resolution; smooth enough for a glow
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    QRadialGradient g(QPointF(side / 2.0, side / 2.0), side / 2.0);
    g.setColorAt(0, withAlpha(Stage::cgBone(), 0.18 * level / 32.0));
    g.setColorAt(1, withAlpha(Stage::cgBone(), 0));
    p.fillRect(image.rect(), g);
    p.end();
    return cache.emplace(key, std::move(image)).first->second;
}

void fillSpan(Canvas& canvas, double x0, double x1, const QRectF& r, const QColor& color)
{
    if (!std::isfinite(x0) || !std::isfinite(x1) || !(r.height() > 0))
        return;
    const double a = std::max(std::min(x0, x1), r.left() - 1);
    const double b = std::min(std::max(x0, x1), r.right() + 1);
    if (b > a)
        canvas.fillRects({QRectF(a, r.top(), b - a, r.height())}, color);
}

void seamMark(Canvas& canvas, double x, const QRectF& r, double red, double cyan, double paper)
{
    canvas.setBlend(QPainter::CompositionMode_Screen);
    canvas.fillRects({QRectF(x - 3, r.top(), 2, r.height())}, withAlpha(WavePalette::ghostRed(), red));
    canvas.fillRects({QRectF(x + 1, r.top(), 2, r.height())}, withAlpha(WavePalette::ghostCyan(), cyan));
    canvas.setBlend(QPainter::CompositionMode_SourceOver);
    canvas.fillRects({QRectF(x - 0.75, r.top(), 1.5, r.height())}, withAlpha(Stage::cgPaper(), paper));
}

} // namespace

// --- Arithmetic

double WaveLaneMath::targetZoom(double waveformZoom, bool jogTouched)
{
    return waveformZoom * (jogTouched ? 2.4 : 1.0);
}

double WaveLaneMath::eased(double zoom, double target, double dt)
{
    const double d = std::clamp(std::isfinite(dt) ? dt : 0.0, 0.0, 0.1);
    return zoom + std::min(d * 14, 1.0) * (target - zoom);
}

double WaveLaneMath::decayed(double flash, double dt)
{
    const double d = std::clamp(std::isfinite(dt) ? dt : 0.0, 0.0, 0.1);
    return flash * std::pow(0.02, d * 2.2);
}

double WaveLaneMath::flashStrength(const WaveformData& data, double position, bool audible)
{
    if (!audible)
        return 0.25;
    const std::int64_t n = WaveMath::usablePoints(data);
    if (n < 1 || !WaveMath::usableRate(data.pointsPerSecond))
        return 0.35;
    const double at = position * data.pointsPerSecond;
    std::int64_t i = 0;
    if (at >= double(n - 1))
        i = n - 1;
    else if (at > 0)
        i = std::int64_t(at);
    return 0.35 + 0.65 * data.low[std::size_t(i)] / 255.0;
}

bool WaveLaneMath::wantsFrame(const WaveDeck& deck, const LaneState& state, double target, bool forkPending)
{
    return deck.livePlaying || deck.jogTouched || deck.loading || std::abs(state.zoom - target) > 0.001 ||
           forkPending || state.flash > 0.01 || state.needsStill;
}

std::optional<ForkSpan> WaveLaneMath::forkOnLane(const std::optional<PendingFork>& pending, const WaveDeck& deck,
                                                  bool partRule)
{
    if (!pending || !deck.track)
        return std::nullopt;
    const ForkPlan& plan = pending->plan;
    if (pending->mix) {
        const auto& a = pending->anchor;
        const std::optional<BeatGrid> grid = usableGrid(deck.grid);
        if (!a || a->deck != deck.index || a->track != *deck.track || !grid || !std::isfinite(a->bpm) ||
            !(a->bpm > 0) || !std::isfinite(a->trackTime))
            return std::nullopt;
        const double f = a->bpm / grid->bpm;
        return ForkSpan{a->trackTime + plan.contextStart * f, a->trackTime + plan.seam * f};
    }
    if (!partRule || !pending->source || *pending->source != *deck.track)
        return std::nullopt;
    return ForkSpan{plan.contextStart, plan.seam};
}

QString WaveLaneMath::emptyText(const WaveDeck& deck)
{
    if (deck.loading)
        return QStringLiteral("loading");
    // A deck that holds a record is not empty, whatever became of its audio or
    // its analysis: the header names the record (or the deck's error).
    if (deck.track)
        return {};
    if (deck.isAI)
        return QStringLiteral("zelvo-0's deck · fork deck 1 to fill it");
    return QStringLiteral("empty · load a record");
}

// --- Drawing

void drawLane(Canvas& canvas, WaveTiles& tiles, LaneState& state, const WaveDeck& deck, const LaneFrame& f)
{
    const QRectF r = f.rect;
    const double W = r.width();
    const double H = r.height();
    if (!(W > 0) || !(H > 0))
        return;
    canvas.save();
    QPainterPath clip;
    clip.addRect(r);
    canvas.clip(clip);
    canvas.fillRects({r}, f.audible ? rgb(22, 18, 13) : rgb(16, 14, 11));

    // A loaded record without a waveform (its analysis failed or has not run)
    // still shows its grid, cues and loop, with no waveform between them.
    if (!deck.voice || !deck.track || !deck.voice->loaded) {
        if (const QString text = WaveLaneMath::emptyText(deck); !text.isEmpty()) {
            QFont font = monoFont(9.5, 2.2);
            font.setWeight(QFont::Medium);
            canvas.drawText(QRectF(r.left() + 14, r.center().y() - 7, std::max(0.0, W - 14), 14), text.toUpper(),
                            font, Stage::nsAsh(), Qt::AlignLeft | Qt::AlignTop);
        }
        canvas.restore();
        return;
    }
    const WaveDeck::Cells& c = *deck.voice;
    static const WaveformData none;
    const WaveformData& data = deck.waveform ? *deck.waveform : none;
    const double p = std::isfinite(c.position) ? c.position : 0.0;
    const double secs = WaveLaneMath::spanSeconds(state.zoom);
    const double start = p - kPlayhead * secs;
    const double end = start + secs;
    const double k = W / secs;
    if (!std::isfinite(k) || !(k > 0)) {
        canvas.restore();
        return;
    }
    auto x = [&](double t) { return r.left() + (t - start) * k; };
    const std::optional<BeatGrid> grid = usableGrid(deck.grid);

    // Beat flash.
    if (grid && c.playing) {
        const double b = std::floor((p - grid->firstBeat) / grid->beatLength());
        if (std::isfinite(b) && std::abs(b) < 9e15) {
            const auto beat = std::int64_t(b);
            if (beat != state.lastBeat) {
                state.lastBeat = beat;
                state.flash = WaveLaneMath::flashStrength(data, p, f.audible);
            }
        }
    }
    state.flash = WaveLaneMath::decayed(state.flash, f.dt);
    if (state.flash > 0.01) {
        const int level = std::clamp(WaveMath::roundedInt(state.flash * 32), 1, 32);
        const double radius = 1.6 * H;
        canvas.drawImage(QRectF(r.left() + kPlayhead * W - radius, r.center().y() - radius, 2 * radius, 2 * radius),
                         glowImage(H, level));
    }

    // Phrase blocks of 16 bars.
    if (grid) {
        const double L = grid->barLength() * 16;
        double n = std::floor((start - grid->firstBeat) / L);
        std::vector<QRectF> blocks;
        if (std::abs(n) < 1e15)
        for (double t = grid->firstBeat + n * L; t < end; n += 1, t = grid->firstBeat + n * L)
            if (std::fmod(n, 2.0) == 0)
                blocks.emplace_back(x(t), r.top(), L * k, H);
        if (!blocks.empty())
            canvas.fillRects(blocks, withAlpha(Stage::cgBone(), 0.025));
    }

    // Loop.
    if (c.loopStart >= 0 && c.loopStart < c.loopEnd)
        fillSpan(canvas, x(c.loopStart), x(c.loopEnd), r, withAlpha(Stage::cgEmber(), c.loopActive ? 0.16 : 0.06));

    // The pending fork's window and seam.
    if (f.fork) {
        const double pulse = (std::sin(f.now * 5) * 0.5 + 0.5) * 0.5 + 0.5;
        fillSpan(canvas, x(f.fork->contextStart), x(f.fork->seam), r, withAlpha(Stage::cgBone(), 0.05));
        const double xs = x(f.fork->seam);
        if (std::isfinite(xs))
            seamMark(canvas, xs, r, pulse * 0.6, pulse * 0.55, pulse);
    }

    // Beat and bar ticks, from both edges.
    if (grid) {
        const double d = grid->beatLength();
        double n = std::floor((start - grid->firstBeat) / d);
        std::vector<QRectF> bars, beats;
        if (std::abs(n) < 1e15)
        for (double t = grid->firstBeat + n * d; t < end; n += 1, t = grid->firstBeat + n * d) {
            const bool bar = std::fmod(n, double(grid->beatsPerBar)) == 0;
            const double len = bar ? 7 : 4;
            auto& into = bar ? bars : beats;
            into.emplace_back(x(t) - 0.5, r.top(), 1, len);
            into.emplace_back(x(t) - 0.5, r.bottom() - len, 1, len);
        }
        if (!beats.empty())
            canvas.fillRects(beats, withAlpha(Stage::cgBone(), 0.22));
        if (!bars.empty())
            canvas.fillRects(bars, withAlpha(Stage::cgBone(), 0.55));
    }

    // The waveform.
    const double inset = f.thin ? 3 : 8;
    if (deck.waveform)
        tiles.draw(data, *deck.track, canvas, r.adjusted(0, inset, 0, -inset), start, end, f.scale,
                   WavePalette::forDeck(f.audible, f.partsOff), deck.seam);

    // The model's deck waiting for its extension.
    if (deck.index == 1 && f.extensionWaiting) {
        const double xd = x(c.duration);
        if (std::isfinite(xd) && xd < r.right()) {
            canvas.save();
            QPainterPath stretch;
            stretch.addRect(QRectF(xd, r.top(), r.right() - xd, H));
            canvas.clip(stretch);
            const double o = std::fmod(f.now * 30, 12.0);
            QPainterPath lines;
            for (double x0 = std::max(xd - H, xd - H + 12 * std::floor((r.left() - H - (xd - H)) / 12));
                 x0 < r.right(); x0 += 12) {
                lines.moveTo(x0 + o, r.bottom());
                lines.lineTo(x0 + o + H, r.top());
            }
            canvas.strokePath(lines, QPen(withAlpha(Stage::cgBone(), 0.18), 1));
            canvas.restore();
        }
    }

    // A generated take's seam.
    if (deck.seam && start < *deck.seam && *deck.seam < end)
        seamMark(canvas, x(*deck.seam), r, 0.48, 0.44, 0.8);

    // Cue.
    if (std::isfinite(c.cuePoint)) {
        const double xc = x(c.cuePoint);
        canvas.fillPath(triangle({xc - 5, r.top()}, {xc + 5, r.top()}, {xc, r.top() + 7}), Stage::cgPaper());
    }

    // Hot cues, lettered.
    if (!f.thin) {
        static const QString letters = QStringLiteral("ABCDEFGH");
        QFont font = monoFont(9);
        font.setWeight(QFont::Black);
        for (std::size_t i = 0; i < c.hotCues.size(); ++i) {
            const double h = c.hotCues[i];
            if (!(h >= 0) || !(start - 1 < h) || !(h < end + 1))
                continue;
            const double xh = x(h);
            canvas.fillRects({QRectF(xh - 0.5, r.top(), 1, H)}, withAlpha(Stage::cgEmber(), 0.7));
            canvas.fillRects({QRectF(xh, r.bottom() - 13, 12, 12)}, Stage::cgEmber());
            canvas.drawText(QRectF(xh + 3, r.bottom() - 13, 9, 12), letters.mid(int(i), 1), font, Stage::nsInk(),
                            Qt::AlignLeft | Qt::AlignVCenter);
        }
    }

    // Jog touch.
    if (deck.jogTouched) {
        QPainterPath outline;
        outline.addRect(r.adjusted(1, 1, -1, -1));
        canvas.strokePath(outline, QPen(withAlpha(Stage::cgPaper(), 0.6), 2));
    }
    canvas.restore();
}

void drawPlayhead(Canvas& canvas, const QRectF& bounds, bool jogTouched)
{
    const double w = jogTouched ? 3.0 : 1.5;
    canvas.fillRects({QRectF(bounds.left() + kPlayhead * bounds.width() - w / 2, bounds.top(), w, bounds.height())},
                     withAlpha(Stage::cgPaper(), 0.95));
}

// --- Ticker

WaveTicker& WaveTicker::shared(Scheduler& scheduler)
{
    static std::map<Scheduler*, std::unique_ptr<WaveTicker>> tickers;
    auto& slot = tickers[&scheduler];
    if (!slot)
        slot.reset(new WaveTicker(scheduler));
    return *slot;
}

void WaveTicker::add(WaveLaneView* lane)
{
    lanes_.insert(lane);
    if (timer_ == 0)
        timer_ = scheduler_.runEvery(1.0 / 60.0, [this] { tick(); });
}

void WaveTicker::remove(WaveLaneView* lane)
{
    lanes_.erase(lane);
    if (lanes_.empty() && timer_ != 0) {
        scheduler_.cancel(timer_);
        timer_ = 0;
    }
}

void WaveTicker::tick()
{
    const std::set<WaveLaneView*> lanes = lanes_;
    for (WaveLaneView* lane : lanes)
        if (lanes_.count(lane))
            lane->step();
}

// --- View

WaveLaneView::WaveLaneView(WaveScene& scene, const UiEnv& env, double cornerRadius, QWidget* parent)
    : QWidget(parent), scene_(scene), scheduler_(env.scheduler), radius_(cornerRadius)
{
    setAttribute(Qt::WA_OpaquePaintEvent, cornerRadius <= 0);
    state_.lastFrame = scheduler_ ? scheduler_->uptime() : 0;
    scene_.observe(this, [this] { update(); });
}

WaveLaneView::~WaveLaneView()
{
    if (scheduler_)
        WaveTicker::shared(*scheduler_).remove(this);
}

void WaveLaneView::setDeck(int index, bool thin)
{
    if (index == deckIndex_ && thin == thin_)
        return;
    deckIndex_ = index;
    thin_ = thin;
    state_.needsStill = true;
}

bool WaveLaneView::step()
{
    const WaveDeck deck = scene_.deck(deckIndex_);
    const double target = WaveLaneMath::targetZoom(scene_.waveformZoom(), deck.jogTouched);
    if (!WaveLaneMath::wantsFrame(deck, state_, target, scene_.pending().has_value()))
        return false;
    state_.needsStill = false;
    update();
    return true;
}

void WaveLaneView::drawFrame(Canvas& canvas, QSizeF size, double scale)
{
    const double now = scheduler_ ? scheduler_->uptime() : 0;
    const double dt = std::min(now - state_.lastFrame, 0.1);
    state_.lastFrame = now;
    const WaveDeck deck = scene_.deck(deckIndex_);
    const double target = WaveLaneMath::targetZoom(scene_.waveformZoom(), deck.jogTouched);
    state_.zoom = WaveLaneMath::eased(state_.zoom, target, dt);
    LaneFrame f;
    f.rect = QRectF(QPointF(0, 0), size);
    f.thin = thin_;
    f.audible = scene_.isAudible(deckIndex_);
    f.partsOff = scene_.partsOff(deckIndex_);
    f.scale = scale;
    f.now = scheduler_ ? double(scheduler_->now().toMSecsSinceEpoch() - 978307200000LL) / 1000.0 : 0;
    f.dt = dt;
    const bool partRule = (deckIndex_ == 0 || deckIndex_ == 1);
    const std::optional<PendingFork> pending = scene_.pending();
    const bool ruleHolds = pending && ((deckIndex_ == 0 && !pending->isExtension) ||
                                       (deckIndex_ == 1 && pending->isExtension));
    f.fork = WaveLaneMath::forkOnLane(pending, deck, partRule && ruleHolds);
    f.extensionWaiting = scene_.extensionWaiting();
    if (radius_ > 0) {
        canvas.save();
        QPainterPath round;
        round.addRoundedRect(f.rect, radius_, radius_);
        canvas.clip(round);
    }
    drawLane(canvas, tiles_, state_, deck, f);
    drawPlayhead(canvas, f.rect, deck.jogTouched);
    if (radius_ > 0)
        canvas.restore();
    ++frames_;
}

void WaveLaneView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PainterCanvas canvas(painter);
    drawFrame(canvas, QSizeF(size()), devicePixelRatioF());
}

void WaveLaneView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (scheduler_)
        WaveTicker::shared(*scheduler_).add(this);
}

void WaveLaneView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (scheduler_)
        WaveTicker::shared(*scheduler_).remove(this);
}

} // namespace zelvo::kit
