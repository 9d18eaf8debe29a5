#include "ui/instrument/MixerParts.h"

#include "state/AppModel.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "library/TrackRecord.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/ControlMath.h"
#include "ui/kit/Displays.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/MeterTimeline.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/MixerPresenters.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zelvo {

namespace face {

void drawModulePanel(kit::Canvas& canvas, QSizeF size, double radius, double edgeAlpha)
{
    if (size.width() <= 1 || size.height() <= 1)
        return;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(0, 0), size), radius, radius);
    QLinearGradient fill(0, 0, 0, size.height());
    fill.setColorAt(0, QColor(22, 23, 28));
    fill.setColorAt(1, kit::Palette::inkDeep());
    canvas.fillPath(shape, fill);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(QPointF(0.5, 0.5), size - QSizeF(1, 1)), radius - 0.5, radius - 0.5);
    canvas.strokePath(inner, QPen(kit::withAlpha(kit::Palette::edge(), edgeAlpha), 1));
}

void followMeterRate(AppModel& model, kit::MeterTimeline* timeline)
{
    AppModel* app = &model;
    const auto follow = [app, timeline] {
        timeline->setDrawFps(meterFps(app->anyDeckPlaying()));
        timeline->follow();
    };
    for (int deck = 0; deck < AppModel::kDecks; ++deck)
        QObject::connect(&model.deck(deck), &DeckModel::liveChanged, timeline, follow);
    follow();
}

double channelLevel(const AppModel& model, int channel) { return stage::channelPeak(model.audio(), channel); }

namespace {
const MixerState* engineState(const AppModel& model)
{
    const auto& io = model.audio().io();
    return io ? io->engine().state().get() : nullptr;
}
} // namespace

double masterLevel(const AppModel& model, bool right)
{
    const MixerState* state = engineState(model);
    return state ? (right ? state->masterPeakR : state->masterPeakL).load() : 0.0;
}

bool recording(const AppModel& model)
{
    const MixerState* state = engineState(model);
    return state && state->recording.load();
}

double recordedSeconds(const AppModel& model)
{
    const MixerState* state = engineState(model);
    return state ? state->recordedSeconds.load() : 0.0;
}

double masterBPM(const AppModel& model)
{
    const MixerState* state = engineState(model);
    return state ? state->masterBPM.load() : 0.0;
}

kit::SilkLabel* silk(const kit::UiEnv& env, const QString& text, double size, const QColor& color, double tracking,
                     QWidget* parent)
{
    return new kit::SilkLabel(env, text, size, color, tracking, parent);
}

} // namespace face

namespace {

const QColor boneAt(double alpha) { return kit::withAlpha(kit::Palette::bone(), alpha); }

template <typename W>
W* named(W* w, const QString& name)
{
    w->setObjectName(name);
    return w;
}

// A ladder repainted on the meter clock, which rests once nothing plays and
// the ladder has gone dark; at rest it reads its level at the idle rate and
// lights again as soon as that shows (an echo's repeats after a stop).
kit::LEDLadder* meter(AppModel& model, const kit::UiEnv& env, std::function<double()> level, int segments,
                      double width, double height, QWidget* parent)
{
    auto* ladder = new kit::LEDLadder(env, level, segments, width, height, parent);
    AppModel* app = &model;
    auto* timeline = new kit::MeterTimeline(
        ladder, env.liveClock, face::meterFps(false), [app] { return app->anyDeckPlaying(); },
        [level = std::move(level), segments] { return kit::ladderLitCount(level ? level() : 0.0, segments) > 0; },
        face::meterFps(false));
    face::followMeterRate(model, timeline);
    return ladder;
}

kit::Knob* knob(const kit::UiEnv& env, kit::Binding<double> binding, kit::Range range, bool bipolar,
                const QString& label, double size, std::optional<double> reset, int dots, QWidget* parent)
{
    return new kit::Knob(env, std::move(binding), range, bipolar, label, size, reset, dots, parent);
}

} // namespace

// ---- RoundLamp

RoundLamp::RoundLamp(const kit::UiEnv& env, const QString& label, std::optional<QString> sublabel, bool lit,
                     bool blink, bool danger, std::function<void()> action, QWidget* parent)
    : DesignBox(env, QSizeF(38, 38), parent), sublabelText_(sublabel.value_or(QString()))
{
    key_ = new kit::HardKey(env, label, std::nullopt, lit, blink, kit::KeyStyle::transport, 38, 38, danger,
                            std::move(action));
    width_ = 38;
    double height = 38;
    if (sublabel) {
        sublabel_ = new kit::SilkLabel(env, *sublabel, 6.5, kit::Palette::ash(), 1, this);
        width_ = std::max(38.0, sublabel_->designSize().width() + 16);
        height += 3 + sublabel_->designSize().height();
    }
    setDesignSize(QSizeF(width_, height));
    place(key_, QRectF((width_ - 38) / 2, 0, 38, 38));
    if (sublabel_)
        place(sublabel_, QRectF(QPointF((width_ - sublabel_->designSize().width()) / 2, 41), sublabel_->designSize()));
}

void RoundLamp::setSublabel(const QString& text)
{
    if (!sublabel_ || text == sublabelText_)
        return;
    sublabelText_ = text;
    auto* next = new kit::SilkLabel(env(), text, 6.5, kit::Palette::ash(), 1, this);
    sublabel_->hide();
    sublabel_->deleteLater();
    sublabel_ = next;
    place(next, QRectF(QPointF((width_ - next->designSize().width()) / 2, 41), next->designSize()));
    next->show();
}

void RoundLamp::paintFace(kit::Canvas& canvas)
{
    if (beforePaint_)
        beforePaint_();
    DesignBox::paintFace(canvas);
}

// ---- PhonesColumn

PhonesColumn::PhonesColumn(AppModel& model, const kit::UiEnv& env, double height, QWidget* parent)
    : DesignBox(env, QSizeF(kWidth, height), parent), model_(model)
{
    MixerModel* mixer = &model.mixer();
    face::Stack stack{this, 0, kWidth, 0, 8};
    stack.add(face::silk(env, QStringLiteral("phones"), 6.5, boneAt(0.7), 1.4, this));
    auto* cueMix = stack.add(named(knob(env, {[mixer] { return mixer->cueMix(); }, [mixer](double v) { mixer->setCueMix(v); }},
                                        {-1, 1}, true, QStringLiteral("cue \u00b7 mst"), 26, std::nullopt, 17, this),
                                   QStringLiteral("mixer.phones.cueMix")));
    cueMix->repaintOn(mixer, &MixerModel::cueMixChanged);
    auto* level = stack.add(named(knob(env, {[mixer] { return mixer->phones(); }, [mixer](double v) { mixer->setPhones(v); }},
                                       {0, 1}, false, QStringLiteral("level"), 26, 0.7, 17, this),
                                  QStringLiteral("mixer.phones.level")));
    level->repaintOn(mixer, &MixerModel::phonesChanged);

    AppModel* app = &model;
    rec_ = named(new RoundLamp(env, QStringLiteral("Rec"), QStringLiteral("set"), false, false, true,
                               [app] { app->toggleRecording(); }, this),
                 QStringLiteral("mixer.rec"));
    rec_->key()->setObjectName(QStringLiteral("mixer.rec.key"));
    const QSizeF r = rec_->designSize();
    const double recY = std::max(stack.y, height - r.height());
    place(rec_, QRectF(QPointF((kWidth - r.width()) / 2, recY), r));
    // A row too short for the column grows the column rather than cut the lamp.
    setDesignSize(QSizeF(kWidth, std::max(height, recY + r.height())));
    // The lamp's own frame at 3 fps reads the engine.
    rec_->setBeforePaint([this] { readRecording(); });
    timeline_ = new kit::LiveTimeline(rec_, env.liveClock, 3);
}

void PhonesColumn::readRecording()
{
    const bool on = face::recording(model_);
    rec_->setLit(on);
    rec_->setBlink(on);
    rec_->setSublabel(face::recordSublabel(on, on ? face::recordedSeconds(model_) : 0.0));
}


// ---- BrowseKnob

BrowseKnob::BrowseKnob(AppModel& model, const kit::UiEnv& env, QWidget* parent) : FaceWidget(env, parent), model_(model)
{
    setObjectName(QStringLiteral("browse.knob"));
    resizeToDesign();
}

QSizeF BrowseKnob::designSize() const
{
    const QSizeF l = kit::silkText(QStringLiteral("browse"), 6.5, boneAt(0.7), 1.4).size();
    return QSizeF(std::max(kFace, l.width()), kFace + 2 + l.height());
}

bool BrowseKnob::hitTest(QPointF p) const
{
    const QPointF c(designSize().width() / 2, kFace / 2);
    return std::hypot(p.x() - c.x(), p.y() - c.y()) <= kFace / 2;
}

void BrowseKnob::paintFace(kit::Canvas& canvas)
{
    const double w = designSize().width();
    const double left = (w - kFace) / 2;
    const double r = kFace / 2;
    const QPointF c(left + r, r);
    QPainterPath circle;
    circle.addEllipse(c, r, r);
    QLinearGradient fill(0, 0, 0, kFace);
    fill.setColorAt(0, QColor(48, 52, 60));
    fill.setColorAt(1, QColor(16, 17, 22));
    canvas.fillPath(circle, fill);
    std::vector<QRectF> dots;
    for (int i = 0; i < 28; ++i) {
        const double th = 2 * std::numbers::pi * i / 28;
        const QPointF d(c.x() + (r - 4) * std::cos(th), c.y() + (r - 4) * std::sin(th));
        dots.emplace_back(d.x() - 0.6, d.y() - 0.6, 1.2, 1.2);
    }
    canvas.fillRects(dots, kit::withAlpha(kit::Palette::bone(), 0.18));
    QPainterPath ring;
    ring.addEllipse(c, r - 1, r - 1);
    canvas.strokePath(ring, QPen(kit::withAlpha(kit::Palette::ember(), 0.35), 1));
    const kit::TextLine label = kit::silkText(QStringLiteral("browse"), 6.5, boneAt(0.7), 1.4);
    label.draw(canvas, QPointF((w - label.size().width()) / 2, kFace + 2));
}

void BrowseKnob::step(int delta)
{
    const std::vector<TrackRecord> tracks = model_.browserTracks();
    std::vector<QUuid> ids;
    ids.reserve(tracks.size());
    for (const TrackRecord& t : tracks)
        ids.push_back(t.id);
    if (const auto next = face::browseStep(ids, model_.selectedTrack(), delta))
        model_.setSelectedTrack(*next);
}

void BrowseKnob::mousePressEvent(QMouseEvent* event)
{
    const QPointF p = toDesign(event->position());
    if (event->button() != Qt::LeftButton || !hitTest(p)) {
        event->ignore();
        return;
    }
    pressAt_ = p;
    dragging_ = false;
    drag_.begin(p.y());
}

void BrowseKnob::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressAt_)
        return;
    const QPointF p = toDesign(event->position());
    if (!dragging_ && std::hypot(p.x() - pressAt_->x(), p.y() - pressAt_->y()) < 1)
        return;
    dragging_ = true;
    const int steps = drag_.moveTo(p.y());
    if (steps != 0)
        step(steps);
}

void BrowseKnob::mouseReleaseEvent(QMouseEvent* event)
{
    if (!pressAt_)
        return;
    if (dragging_) {
        const int steps = drag_.moveTo(toDesign(event->position()).y());
        if (steps != 0)
            step(steps);
    } else if (const auto& id = model_.selectedTrack()) {
        model_.enqueue(*id);
    }
    pressAt_.reset();
    dragging_ = false;
    drag_.carry = 0;
}

// ---- BeatFXSection

BeatFXSection::BeatFXSection(AppModel& model, const kit::UiEnv& env, Sizes sizes, double height, QWidget* parent)
    : DesignBox(env, QSizeF(sizes.width, height), parent)
{
    MixerModel* mixer = &model.mixer();
    AppModel* app = &model;
    face::Stack stack{this, 0, sizes.width, 0, 6};
    stack.add(face::silk(env, QStringLiteral("beat fx"), 6.5, boneAt(0.7), 1.4, this));

    display_ = named(new kit::LiveCanvas(env, QSizeF(sizes.width, 38), 3,
                                         [app, mixer, sizes](kit::Canvas& canvas, QSizeF size, double) {
                                             kit::drawGlassBack(canvas, size, 3);
                                             const face::BeatFXLines lines = face::beatFXLines(
                                                 mixer->beatFXKind(), mixer->beatFXBeatIndex(), face::masterBPM(*app));
                                             kit::DotMatrix::Look kind{lines.kind, sizes.kindPitch, 7,
                                                                       kit::Palette::glow(), false, false, std::nullopt};
                                             kit::DotMatrix::Look beats{lines.beats, sizes.beatPitch, 9,
                                                                        kit::Palette::bone(), false, false, std::nullopt};
                                             const QSizeF a = kit::DotMatrix::size(kind);
                                             const QSizeF b = kit::DotMatrix::size(beats);
                                             const double top = (size.height() - a.height() - 2 - b.height()) / 2;
                                             canvas.save();
                                             canvas.translate(QPointF((size.width() - a.width()) / 2, top));
                                             kit::DotMatrix::draw(canvas, kind);
                                             canvas.restore();
                                             canvas.save();
                                             canvas.translate(QPointF((size.width() - b.width()) / 2, top + a.height() + 2));
                                             kit::DotMatrix::draw(canvas, beats);
                                             canvas.restore();
                                             kit::drawGlassOverlay(canvas, size);
                                             kit::drawGlassBorder(canvas, size, 3);
                                         },
                                         this),
                      QStringLiteral("beatfx.display"));
    stack.add(display_);
    const auto redraw = [this] { display_->update(); };
    connect(mixer, &MixerModel::beatFXKindChanged, display_, redraw);
    connect(mixer, &MixerModel::beatFXBeatIndexChanged, display_, redraw);

    const auto keyRow = [&](const QString& legend, const QString& prefix, std::function<void()> left,
                            std::function<void()> right, double padBottom) {
        const double kw = sizes.keyWidth;
        auto* l = named(new kit::HardKey(env, QStringLiteral("\u25c0"), std::nullopt, false, false, kit::KeyStyle::key,
                                         kw, 19, false, std::move(left)),
                        prefix + QStringLiteral("Prev"));
        auto* r = named(new kit::HardKey(env, QStringLiteral("\u25b6"), std::nullopt, false, false, kit::KeyStyle::key,
                                         kw, 19, false, std::move(right)),
                        prefix + QStringLiteral("Next"));
        const double x = (sizes.width - (2 * kw + 3)) / 2;
        place(l, QRectF(x, stack.y, kw, 19));
        place(r, QRectF(x + kw + 3, stack.y, kw, 19));
        auto* legendView = new kit::Legend(env, legend, std::nullopt, 6.5, Qt::AlignHCenter, this);
        const QSizeF ls = legendView->designSize();
        place(legendView, QRectF(QPointF((sizes.width - ls.width()) / 2, stack.y + 19 - ls.height() + 13), ls));
        stack.y += 19 + padBottom + stack.spacing;
    };
    keyRow(QStringLiteral("fx select"), QStringLiteral("beatfx.kind"),
           [mixer] { mixer->setBeatFXKind(face::cycleKind(mixer->beatFXKind(), -1)); },
           [mixer] { mixer->setBeatFXKind(face::cycleKind(mixer->beatFXKind(), +1)); }, 9);
    keyRow(QStringLiteral("beat"), QStringLiteral("beatfx.beat"),
           [mixer] { mixer->setBeatFXBeatIndex(face::stepBeat(mixer->beatFXBeatIndex(), -1)); },
           [mixer] { mixer->setBeatFXBeatIndex(face::stepBeat(mixer->beatFXBeatIndex(), +1)); }, 9);

    const kit::Binding<int> target{[mixer] { return mixer->beatFXTarget(); },
                                   [mixer](int v) { mixer->setBeatFXTarget(v); }};
    if (!sizes.fourTargets) {
        auto* selector = named(new kit::SegmentSelector(env, {QStringLiteral("MST"), QStringLiteral("1"),
                                                              QStringLiteral("2")},
                                                        target, 22, this),
                               QStringLiteral("beatfx.target"));
        selector->repaintOn(mixer, &MixerModel::beatFXTargetChanged);
        stack.add(selector);
    } else {
        auto* selector = named(new kit::SegmentSelector(env, {QStringLiteral("MST")}, target, 64, this),
                               QStringLiteral("beatfx.target"));
        selector->repaintOn(mixer, &MixerModel::beatFXTargetChanged);
        stack.add(selector, 0, -stack.spacing + 3);
        const double x = (sizes.width - (4 * 14 + 3 * 3)) / 2;
        for (int n = 1; n <= 4; ++n) {
            auto* key = named(new kit::HardKey(env, QString::number(n), std::nullopt, mixer->beatFXTarget() == n,
                                               false, kit::KeyStyle::key, 14, 20, false,
                                               [mixer, n] { mixer->setBeatFXTarget(n); }),
                              QStringLiteral("beatfx.target%1").arg(n));
            connect(mixer, &MixerModel::beatFXTargetChanged, key,
                    [key, mixer, n] { key->setLit(mixer->beatFXTarget() == n); });
            place(key, QRectF(x + (n - 1) * 17, stack.y, 14, 20));
        }
        stack.y += 20 + stack.spacing;
    }
    auto* level = named(knob(env, {[mixer] { return mixer->beatFXLevel(); }, [mixer](double v) { mixer->setBeatFXLevel(v); }},
                             {0, 1}, false, QStringLiteral("level \u00b7 depth"), sizes.knobSize, std::nullopt, 17,
                             this),
                        QStringLiteral("beatfx.level"));
    level->fitLabel(sizes.width);
    level->repaintOn(mixer, &MixerModel::beatFXLevelChanged);
    stack.add(level);

    auto* on = named(new RoundLamp(env, QStringLiteral("On"), QStringLiteral("off"), mixer->beatFXOn(), false, false,
                                   [mixer] { mixer->setBeatFXOn(!mixer->beatFXOn()); }, this),
                     QStringLiteral("beatfx.on"));
    on->key()->setObjectName(QStringLiteral("beatfx.on.key"));
    connect(mixer, &MixerModel::beatFXOnChanged, on, [on, mixer] { on->setLit(mixer->beatFXOn()); });
    const QSizeF os = on->designSize();
    const double onY = std::max(stack.y, height - os.height());
    place(on, QRectF(QPointF((sizes.width - os.width()) / 2, onY), os));
    setDesignSize(QSizeF(sizes.width, std::max(height, onY + os.height())));
}

// ---- ChannelStripView

ChannelStripView::ChannelStripView(AppModel& model, const kit::UiEnv& env, int index, bool compact, QWidget* parent)
    : DesignBox(env, QSizeF(compact ? 62 : 80, 100), parent), index_(index)
{
    const double width = compact ? 62 : 80;
    ChannelModel* c = &model.mixer().channel(index);
    const QString prefix = QStringLiteral("mixer.ch%1.").arg(index + 1);
    face::Stack stack{this, 0, width, 0, 2};

    kit::DotMatrix::Look look{face::stripLabel(index), compact ? 1.1 : 1.2, std::nullopt, kit::Palette::glow(), true,
                              index == 1, std::nullopt};
    auto* label = named(new kit::DotMatrixText(env, look, this), prefix + QStringLiteral("label"));
    const double labelHeight = compact ? 11 : 12;
    const QSizeF ls = label->designSize();
    place(label, QRectF(QPointF((width - ls.width()) / 2, (labelHeight - ls.height()) / 2), ls));
    stack.y = labelHeight + stack.spacing;

    auto* trim = stack.add(named(knob(env, {[c] { return c->trim(); }, [c](double v) { c->setTrim(v); }}, {-1, 1}, true,
                                      QStringLiteral("trim"), compact ? 20 : 24, std::nullopt, 17, this),
                                 prefix + QStringLiteral("trim")));
    trim->repaintOn(c, &ChannelModel::trimChanged);
    // A drag or reset of a band knob brings a killed part back before it
    // writes, as the hardware knob does; the part key's own write does not.
    struct Band {
        const char* name;
        int part;
        double (ChannelModel::*get)() const;
        void (ChannelModel::*set)(double);
        void (ChannelModel::*changed)();
    };
    const Band bands[] = {
        {"hi", ChannelModel::kHigh, &ChannelModel::high, &ChannelModel::setHigh, &ChannelModel::highChanged},
        {"mid", ChannelModel::kMid, &ChannelModel::mid, &ChannelModel::setMid, &ChannelModel::midChanged},
        {"low", ChannelModel::kLow, &ChannelModel::low, &ChannelModel::setLow, &ChannelModel::lowChanged}};
    for (const Band& band : bands) {
        const auto get = band.get;
        const auto set = band.set;
        const int part = band.part;
        auto* k = stack.add(named(knob(env,
                                       {[c, get] { return (c->*get)(); },
                                        [c, set, part](double v) {
                                            c->touchedBand(part);
                                            (c->*set)(v);
                                        }},
                                       {-1, 1}, true, QString::fromLatin1(band.name), compact ? 21 : 24, std::nullopt,
                                       17, this),
                                  prefix + QString::fromLatin1(band.name)));
        k->repaintOn(c, band.changed);
    }
    auto* cfx = stack.add(named(knob(env, {[c] { return c->colorFX(); }, [c](double v) { c->setColorFX(v); }}, {-1, 1},
                                     true, QStringLiteral("cfx"), compact ? 23 : 26, std::nullopt, 17, this),
                                prefix + QStringLiteral("cfx")));
    cfx->repaintOn(c, &ChannelModel::colorFXChanged);

    if (compact) {
        static const char* const names[] = {"D", "V", "I"};
        const double x = (width - (3 * 17 + 2 * 2)) / 2;
        for (int i = 0; i < 3; ++i) {
            auto* key = named(new kit::HardKey(env, QString::fromLatin1(names[i]), std::nullopt,
                                               !c->partsOff()[std::size_t(i)], false, kit::KeyStyle::key, 17, 15, false,
                                               [c, i] { c->togglePart(i); }),
                              prefix + QStringLiteral("part%1").arg(i));
            connect(c, &ChannelModel::partsOffChanged, key, [key, c, i] { key->setLit(!c->partsOff()[std::size_t(i)]); });
            place(key, QRectF(x + i * 19, stack.y, 17, 15));
        }
        auto* legend = new kit::Legend(env, QStringLiteral("part"), std::nullopt, 6.5, Qt::AlignHCenter, this);
        const QSizeF gs = legend->designSize();
        place(legend, QRectF(QPointF((width - gs.width()) / 2, stack.y + 15 - gs.height() + 11), gs));
        stack.y += 15 + 8 + stack.spacing;
    }

    auto* cue = named(new kit::HardKey(env, QStringLiteral("Cue"), std::nullopt, c->cue(), false, kit::KeyStyle::key,
                                       44, compact ? 18 : 20, false, [c] { c->setCue(!c->cue()); }),
                      prefix + QStringLiteral("cue"));
    connect(c, &ChannelModel::cueChanged, cue, [cue, c] { cue->setLit(c->cue()); });
    cue->setParent(this);
    stack.add(cue, compact ? 0 : 2, compact ? 0 : 2);

    AppModel* app = &model;
    auto* ladder = named(meter(model, env, [app, index] { return face::channelLevel(*app, index); }, 12, 4,
                               compact ? 92 : 96, this),
                         prefix + QStringLiteral("meter"));
    auto* fader = named(new kit::Fader(env, {[c] { return c->fader(); }, [c](double v) { c->setFader(v); }}, {0, 1},
                                       true, compact ? 100 : 108, 11, false, true, 0.85, compact ? 20 : 22, this),
                        prefix + QStringLiteral("fader"));
    fader->repaintOn(c, &ChannelModel::faderChanged);
    const QSizeF fs = fader->designSize();
    const QSizeF ms = ladder->designSize();
    const double rowWidth = ms.width() + 3 + fs.width();
    const double rowHeight = std::max(ms.height(), fs.height());
    const double x = (width - rowWidth) / 2;
    place(ladder, QRectF(QPointF(x, stack.y + rowHeight - ms.height()), ms));
    place(fader, QRectF(QPointF(x + ms.width() + 3, stack.y + rowHeight - fs.height()), fs));
    stack.y += rowHeight + stack.spacing;

    if (compact) {
        static const int values[] = {-1, 0, 1};
        static const char* const labels[] = {"A", "T", "B"};
        const double ax = (width - (3 * 18 + 2)) / 2;
        for (int i = 0; i < 3; ++i) {
            const int value = values[i];
            auto* key = named(new kit::HardKey(env, QString::fromLatin1(labels[i]), std::nullopt,
                                               c->crossfaderAssign() == value, false, kit::KeyStyle::key, 18, 14,
                                               false, [c, value] { c->setCrossfaderAssign(value); }),
                              prefix + QStringLiteral("assign") + QString::fromLatin1(labels[i]));
            connect(c, &ChannelModel::crossfaderAssignChanged, key,
                    [key, c, value] { key->setLit(c->crossfaderAssign() == value); });
            place(key, QRectF(ax + i * 19, stack.y, 18, 14));
        }
        stack.y += 14 + stack.spacing;
    }
    setDesignSize(QSizeF(width, stack.y - stack.spacing));
}

// ---- MasterColumn

MasterColumn::MasterColumn(AppModel& model, const kit::UiEnv& env, double width, double knobSize, QWidget* parent)
    : DesignBox(env, QSizeF(width, 100), parent)
{
    MixerModel* mixer = &model.mixer();
    AppModel* app = &model;
    face::Stack stack{this, 0, width, 0, 5};
    stack.add(face::silk(env, QStringLiteral("master"), 6.5, boneAt(0.7), 1.4, this));
    auto* left = named(meter(model, env, [app] { return face::masterLevel(*app, false); }, 16, 5, 150, this),
                       QStringLiteral("mixer.master.meterL"));
    auto* right = named(meter(model, env, [app] { return face::masterLevel(*app, true); }, 16, 5, 150, this),
                        QStringLiteral("mixer.master.meterR"));
    const double x = (width - 13) / 2;
    place(left, QRectF(x, stack.y, 5, 150));
    place(right, QRectF(x + 8, stack.y, 5, 150));
    stack.y += 150 + stack.spacing;
    auto* level = stack.add(named(knob(env, {[mixer] { return mixer->master(); }, [mixer](double v) { mixer->setMaster(v); }},
                                       {0, 1}, false, QStringLiteral("level"), knobSize, 0.8, 17, this),
                                  QStringLiteral("mixer.master.level")));
    level->repaintOn(mixer, &MixerModel::masterChanged);
    setDesignSize(QSizeF(width, stack.y - stack.spacing));
}

} // namespace zelvo
