#include "ui/instrument/BrainModule.h"

#include "state/AppModel.h"
#include "generation/Caption.h"
#include "generation/OutpaintModel.h"
#include "models/DeckModel.h"
#include "platform/Scheduler.h"
#include "ui/instrument/BrainPresenters.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Displays.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/kit/VFDField.h"

#include <QMouseEvent>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zelvo {

const std::vector<BrainModule::Preset>& BrainModule::presets()
{
    static const std::vector<Preset> table = [] {
        struct Genre {
            const char* label;
            const char* genre;
            const char* description;
        };
        static constexpr Genre genres[] = {
            {"DUBSTEP", "Dubstep",
             "Heavy modern dubstep, half-time drums, aggressive wobble bass, deep sub, metallic growls, big drop"},
            {"HOUSE", "House", "Deep hypnotic house groove, warm analog bass, crisp shuffled percussion"},
            {"TECHNO", "Techno", "Driving warehouse techno, rolling kick, metallic hats, dark synth stabs"},
            {"DISCO", "Disco", "Larkmoor disco edit, live bass guitar, strings, tambourine, warm tape"},
            {"DUB", "Dub Techno", "Heavy dub techno, deep chords drowned in delay, spacious sub bass"},
            {"BREAKS", "Breakbeat", "Chopped breakbeat, sampled drums, fat bassline, rave stabs"},
            {"AMBIENT", "Ambient", "Beatless ambient wash, evolving pads, field recordings, tape hiss"},
            {"LO-FI", "Lo-Fi Hip Hop", "Dusty lo-fi hip hop beat, swung drums, mellow Rhodes, vinyl crackle"},
            {"ACID", "Acid House", "Squelchy acid line, 303 resonance, jacking 909 drums"},
        };
        std::vector<Preset> presets{{QStringLiteral("ZELVO-0"), Caption::trained()}};
        for (const Genre& g : genres)
            presets.push_back({QString::fromUtf8(g.label),
                               Caption::make(QString::fromUtf8(g.genre), QString::fromUtf8(g.description))});
        return presets;
    }();
    return table;
}


using namespace kit;

namespace {

// A drawn piece of the module: its renderer paints at design scale; a press
// anywhere on it runs `onTap`.
class Painted final : public FaceWidget {
public:
    using Renderer = std::function<void(Canvas&, QSizeF)>;
    Painted(const UiEnv& env, QSizeF size, Renderer renderer, std::function<void()> onTap, QWidget* parent)
        : FaceWidget(env, parent), size_(size), renderer_(std::move(renderer)), onTap_(std::move(onTap))
    {
        resizeToDesign();
        if (!onTap_)
            setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QSizeF designSize() const override { return size_; }
    void paintFace(Canvas& canvas) override { renderer_(canvas, size_); }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (onTap_ && event->button() == Qt::LeftButton)
            onTap_();
    }

private:
    QSizeF size_;
    Renderer renderer_;
    std::function<void()> onTap_;
};

DotMatrix::Look dots(const QString& text, double pitch, std::optional<int> columns, const QColor& colour, bool dim,
                     bool aberration = false)
{
    DotMatrix::Look look;
    look.text = text;
    look.pitch = pitch;
    look.columns = columns;
    look.color = colour;
    look.dim = dim;
    look.aberration = aberration;
    return look;
}

// Draws a dot-matrix line with its top-left at `at`; returns its size.
QSizeF drawDots(Canvas& canvas, const DotMatrix::Look& look, QPointF at)
{
    canvas.save();
    canvas.translate(at);
    DotMatrix::draw(canvas, look);
    canvas.restore();
    return DotMatrix::size(look);
}

constexpr double kPad = 10;
constexpr double kActionWidth = 104;
// The left column at full size: status 52, takes 24, prompt 28, presets 20,
// the steppers 64, 7 between them.
constexpr double kStatus = 52;
constexpr double kGap = 7;
constexpr double kColumn = kStatus + kGap + 24 + kGap + 28 + kGap + 20 + kGap + 64;

} // namespace

// --- Stepper knob.

StepperKnob::StepperKnob(const UiEnv& env, const QString& title, Binding<std::int64_t> value,
                         std::vector<int> options, const QString& unit, QWidget* parent)
    : FaceWidget(env, parent), title_(title), value_(std::move(value)), options_(std::move(options)), unit_(unit)
{
    setObjectName(QStringLiteral("brain.") + title);
    const double count = double(options_.size());
    knob_ = new Knob(env, Binding<double>{[this] { return knobValue(); }, [this](double x) { turnTo(x); }},
                     Range{0, std::max(0.0, count - 1)}, false, std::nullopt, 26,
                     double(options_.size() / 2), int(2 * options_.size() + 1), this);
    knob_->move(QPointF((designSize().width() - knob_->designSize().width()) / 2 * scale(), 0).toPoint());
    resizeToDesign();
}

double StepperKnob::knobValue() const
{
    return brainface::stepperIndex(options_, value_.get());
}

void StepperKnob::turnTo(double x)
{
    if (const std::optional<int> value = brainface::stepperValue(options_, x); value && *value != value_.get())
        value_.set(*value);
    refresh();
}

QString StepperKnob::readout() const
{
    return brainface::stepperReadout(value_.get(), unit_);
}

void StepperKnob::refresh()
{
    knob_->update();
    update();
}

void StepperKnob::paintFace(Canvas& canvas)
{
    const double w = designSize().width();
    const DotMatrix::Look look = dots(readout(), 1.2, 5, Palette::glow(), false);
    const QSizeF size = DotMatrix::size(look);
    drawDots(canvas, look, QPointF((w - size.width()) / 2, 38 + 2));
    const TextLine line = silkText(title_, 7, Palette::ash(), 1.1);
    line.draw(canvas, QPointF((w - line.size().width()) / 2, 38 + 2 + size.height() + 2));
}

// --- The module.

BrainModule::BrainModule(AppModel& model, const UiEnv& env, QSizeF designSize, QWidget* parent)
    : FaceModule(env, QStringLiteral("zelvo-0"), designSize, parent), model_(model)
{
    setObjectName(QStringLiteral("instrument.brain"));
    build();
    refresh();
}

BrainModule::~BrainModule()
{
    stopTicks();
}

void BrainModule::startTicks()
{
    LiveClock* clock = env().liveClock;
    if (!clock || env().snapshotMode || dropTick_)
        return;
    // Count-downs and the notice's expiry move without model changes.
    dropTick_ = clock->subscribe(3, [this](double) { refreshDrop(); });
    chainTick_ = clock->subscribe(1, [this](double) { chain_->update(); });
}

void BrainModule::stopTicks()
{
    if (LiveClock* clock = env().liveClock) {
        if (dropTick_)
            clock->unsubscribe(dropTick_);
        if (chainTick_)
            clock->unsubscribe(chainTick_);
    }
    dropTick_ = chainTick_ = 0;
}

void BrainModule::showEvent(QShowEvent* event)
{
    FaceModule::showEvent(event);
    refresh();
    startTicks();
}

void BrainModule::hideEvent(QHideEvent* event)
{
    FaceModule::hideEvent(event);
    stopTicks();
}

void BrainModule::build()
{
    const UiEnv& e = env();
    WorkflowLink* workflow = &model_.outpaint();
    const auto settings = [workflow] { return workflow->settings(); };
    const auto write = [this, workflow](const std::function<void(ForkSettings&)>& change) {
        ForkSettings next = workflow->settings();
        change(next);
        workflow->setSettings(next);
        refresh();
    };

    const double left = kWidth - 2 * kPad - 10 - kActionWidth;
    status_ = new LiveCanvas(e, QSizeF(left, 52), 3,
                             [this](Canvas& canvas, QSizeF size, double t) { paintStatus(canvas, size, t); }, this);
    status_->setObjectName(QStringLiteral("brain.status"));
    takes_ = new Painted(e, QSizeF(left, 24), [this](Canvas& c, QSizeF s) { paintTakes(c, s); }, {}, this);
    takes_->setObjectName(QStringLiteral("brain.takes"));

    prompt_ = new VFDField(e, QStringLiteral("describe where zelvo-0 should take it"),
                           Binding<QString>{[settings] { return settings().prompt; },
                                            [write](QString text) { write([&](ForkSettings& s) { s.prompt = text; }); }},
                           QSizeF(left - 16 - 40, 16), this);
    prompt_->setObjectName(QStringLiteral("brain.prompt"));

    for (std::size_t i = 0; i < 8 && i < presets().size(); ++i) {
        const Preset& preset = presets()[i];
        const QString text = preset.prompt;
        auto* key = new HardKey(e, preset.label, std::nullopt, false, false, KeyStyle::key, 44, 20, false,
                                [write, text] { write([&](ForkSettings& s) { s.prompt = text; }); }, {}, this);
        key->setObjectName(QStringLiteral("brain.preset.") + preset.label);
        presetKeys_.push_back({key, text});
    }

    struct Stepper {
        const char* title;
        std::int64_t ForkSettings::*field;
        std::vector<int> options;
        const char* unit;
    };
    const Stepper steppers[] = {
        {"ahead", &ForkSettings::aheadBars, {4, 8, 16, 32}, "BAR"},
        {"context", &ForkSettings::contextBars, {4, 8, 16, 32}, "BAR"},
        {"length", &ForkSettings::lengthBars, {8, 16, 32, 64}, "BAR"},
        {"steps", &ForkSettings::steps, {4, 6, 8, 12, 16}, ""},
    };
    for (const Stepper& st : steppers) {
        const auto field = st.field;
        steppers_.push_back(new StepperKnob(
            e, QString::fromLatin1(st.title),
            Binding<std::int64_t>{[settings, field] { return settings().*field; },
                                  [write, field](std::int64_t v) { write([&](ForkSettings& s) { s.*field = v; }); }},
            st.options, QString::fromLatin1(st.unit), this));
    }

    guide_ = new Knob(e,
                      Binding<double>{[settings] { return settings().guidance; },
                                      [write](double v) {
                                          if (std::isfinite(v))
                                              write([&](ForkSettings& s) { s.guidance = std::clamp(v, 0.5, 4.0); });
                                      }},
                      Range{0.5, 4.0}, false, std::nullopt, 26, 1.0, 17, this);
    guide_->setObjectName(QStringLiteral("brain.guide"));
    guideLabel_ = new Painted(
        e, QSizeF(48, 10),
        [settings](Canvas& c, QSizeF s) {
            const TextLine line = silkText(brainface::guideText(settings().guidance), 7, Palette::ash(), 1.1);
            line.draw(c, QPointF((s.width() - line.size().width()) / 2, 0));
        },
        {}, this);

    seed_ = new HardKey(e, QStringLiteral("Seed ?"), QString(), false, false, KeyStyle::key, 58, 30, false,
                        [write] { write([](ForkSettings& s) { s.lockSeed = !s.lockSeed; }); }, {}, this);
    seed_->setObjectName(QStringLiteral("brain.seed"));
    BrainLink* brain = &model_.brain();
    modelKey_ = new HardKey(e, QStringLiteral("Model"), QStringLiteral("stock"), false, false, KeyStyle::key, 76, 30,
                            false,
                            [write, brain] {
                                const std::optional<BrainHealth>& health = brain->health();
                                if (!health)
                                    return;
                                const QList<BrainModel> models = health->models;
                                write([&](ForkSettings& s) { s.model = brainface::cycleModel(models, s.model); });
                            },
                            {}, this);
    modelKey_->setObjectName(QStringLiteral("brain.model"));

    action_ = new HardKey(e, QStringLiteral("Fork"), QString(), true, false, KeyStyle::wide, kActionWidth, 44, false,
                          [this] {
                              switch (brainface::Action(pressAction_)) {
                              case brainface::Action::wake: model_.brain().start(48); break;
                              case brainface::Action::install: model_.installBrain(); break;
                              case brainface::Action::cancel:
                                  if (outpaint_)
                                      outpaint_->cancel();
                                  break;
                              case brainface::Action::fork: model_.outpaint().fork(true); break;
                              }
                          },
                          {}, this);
    action_->setObjectName(QStringLiteral("brain.action"));
    drop_ = new HardKey(e, QStringLiteral("Drop"), QString(), false, false, KeyStyle::wide, kActionWidth, 36, false,
                        [this] { model_.outpaint().drop(); }, {}, this);
    drop_->setObjectName(QStringLiteral("brain.drop"));
    chain_ = new Painted(e, QSizeF(kActionWidth, 40), [this](Canvas& c, QSizeF s) { paintChain(c, s); },
                         [this] { resumeChain(); }, this);
    chain_->setObjectName(QStringLiteral("brain.chain"));

    for (int deck = 0; deck < 2; ++deck)
        connect(&model_.deck(deck), &DeckModel::trackChanged, this, [this] { refresh(); });
}

void BrainModule::setOutpaint(OutpaintModel* outpaint)
{
    if (outpaint_)
        disconnect(outpaint_, nullptr, this, nullptr);
    outpaint_ = outpaint;
    if (outpaint_) {
        for (auto signal : {&OutpaintModel::settingsChanged, &OutpaintModel::phaseChanged,
                            &OutpaintModel::lastRenderSecondsChanged, &OutpaintModel::chainSnoozeChanged,
                            &OutpaintModel::noticeChanged, &OutpaintModel::noticeUntilChanged,
                            &OutpaintModel::chainHoldUntilChanged, &OutpaintModel::taskChanged})
            connect(outpaint_, signal, this, [this] { refresh(); });
    }
    refresh();
}

QString BrainModule::headlineText() const
{
    brainface::HeadlineInput in;
    const WorkflowLink& workflow = model_.outpaint();
    if (outpaint_) {
        in.phase = outpaint_->phase();
        in.notice = outpaint_->notice();
        in.noticeUntil = outpaint_->noticeUntil();
        in.drop = outpaint_->dropStatus();
    } else {
        in.notice = workflow.notice();
        in.noticeUntil = workflow.noticeUntil();
        in.drop = workflow.dropStatus();
    }
    in.now = env().scheduler ? env().scheduler->now() : QDateTime::currentDateTimeUtc();
    const DeckModel& two = model_.deck(1);
    in.deckTwoPlaying = two.voice() && two.live().playing;
    in.status = model_.brain().status();
    return brainface::headline(in);
}

bool BrainModule::headlineFailed() const
{
    return brainface::failed(outpaint_ ? outpaint_->phase() : OutpaintPhase::idle(), model_.brain().status());
}

int BrainModule::progressLit() const
{
    return brainface::litSegments(outpaint_ ? outpaint_->progress() : 0.0);
}

QString BrainModule::takesText() const
{
    if (!outpaint_)
        return brainface::takeCounter(std::nullopt, 0);
    return brainface::takeCounter(outpaint_->takeIndex(), outpaint_->takes().size());
}

QString BrainModule::seedText() const
{
    const std::optional<TrackRecord>& track = model_.deck(1).track();
    return brainface::seedLine(track && track->outpaint ? std::optional<std::int64_t>(track->outpaint->seed)
                                                        : std::nullopt)
        .text;
}

void BrainModule::refresh()
{
    const ForkSettings& settings = model_.outpaint().settings();
    for (const auto& [key, prompt] : presetKeys_)
        key->setLit(settings.prompt == prompt);
    for (StepperKnob* stepper : steppers_)
        stepper->refresh();
    guide_->update();
    guideLabel_->update();
    seed_->setLabel(settings.lockSeed ? QStringLiteral("Seed \u25A0") : QStringLiteral("Seed ?"));
    seed_->setSublabel(QString::number(settings.seed));
    seed_->setLit(settings.lockSeed);
    modelKey_->setSublabel(settings.model.value_or(QStringLiteral("stock")));
    modelKey_->setLit(settings.model.has_value());

    status_->setRevision(status_->revision() + 1);
    takes_->update();
    chain_->update();
    prompt_->refresh();
    refreshDrop();
}

void BrainModule::refreshDrop()
{
    const brainface::KeyFace face = brainface::dropKey(model_.outpaint().dropStatus());
    drop_->setSublabel(face.sublabel);
    drop_->setLit(face.lit);
    drop_->setBlink(face.blink);
    // The keys that follow the server, which reports no changes of its own.
    modelKey_->setVisible(brainface::showsModelKey(model_.brain().health()));
    const bool busy = outpaint_ ? outpaint_->busy() : model_.outpaint().rendering();
    const brainface::ActionKey action = brainface::actionKey(model_.brain().status(), busy, model_.brainSize());
    pressAction_ = int(action.action);
    action_->setLabel(action.face.label);
    action_->setSublabel(action.face.sublabel);
    action_->setLit(action.face.lit);
    action_->setBlink(action.face.blink);
    status_->setFps(busy ? 6 : 3);
}

void BrainModule::resumeChain()
{
    if (outpaint_)
        outpaint_->resumeChain();
}

void BrainModule::paintStatus(Canvas& canvas, QSizeF size, double frameTime)
{
    drawGlassBack(canvas, size, 3);
    const ForkSettings& settings = model_.outpaint().settings();
    double x = 8, y = 6;
    const QSizeF model = drawDots(canvas, dots(QStringLiteral("MODEL"), 1.3, std::nullopt, Palette::bone(), true),
                                  QPointF(x, y));
    drawDots(canvas, dots(brainface::modelName(settings.model), 1.3, std::nullopt, Palette::bone(), true, true),
             QPointF(x + model.width() + 6, y));
    y += model.height() + 4;
    const bool red = headlineFailed();
    DotMatrix::Look headline =
        dots(headlineText(), 2, 24, red ? Palette::red() : Palette::glow(), false, !red);
    headline.scrollPhase = std::isfinite(frameTime) ? frameTime * 4 : 0.0;
    y += drawDots(canvas, headline, QPointF(x, y)).height() + 4;
    // Progress: 40 segments with 1-point gaps.
    const double w = (250 - 39) / 40.0;
    const int lit = progressLit();
    std::vector<QRectF> on, off;
    for (int i = 0; i < 40; ++i)
        (i < lit ? on : off).push_back(QRectF(x + i * (w + 1), y, w, 4));
    if (!on.empty())
        canvas.fillRects(on, withAlpha(Palette::glow(), 0.9));
    if (!off.empty())
        canvas.fillRects(off, withAlpha(Palette::glow(), 0.07));

    double ry = 6;
    if (const std::optional<BrainHealth>& health = model_.brain().health()) {
        const DotMatrix::Look look = dots(brainface::memoryText(health->activeGB), 1.3, 6, Palette::bone(), false);
        ry += drawDots(canvas, look, QPointF(size.width() - 8 - DotMatrix::size(look).width(), ry)).height() + 4;
    }
    if (outpaint_ && outpaint_->lastRenderSeconds()) {
        const DotMatrix::Look look =
            dots(brainface::lastRenderText(*outpaint_->lastRenderSeconds()), 1.3, 11, Palette::bone(), true);
        drawDots(canvas, look, QPointF(size.width() - 8 - DotMatrix::size(look).width(), ry));
    }
    drawGlassBorder(canvas, size, 3);
}

void BrainModule::paintTakes(Canvas& canvas, QSizeF size)
{
    // The legend, trailing-aligned: the keys' function over their shift function.
    const TextLine legend = silkText(QStringLiteral("takes \u00B7 re-roll"), 6.5, withAlpha(Palette::bone(), 0.7), 1.1);
    const TextLine shifted = silkText(QStringLiteral("zelvo-0 pads"), 6.5 - 0.8, withAlpha(Palette::ember(), 0.75), 1.0);
    const double legendWidth = std::max(legend.size().width(), shifted.size().width());
    const double legendHeight = legend.size().height() + 0.5 + shifted.size().height();
    const double glassWidth = size.width() - 5 - legendWidth;
    drawGlassBack(canvas, QSizeF(glassWidth, size.height()), 3);
    double x = 8;
    const auto line = [&](const DotMatrix::Look& look) {
        const QSizeF s = DotMatrix::size(look);
        drawDots(canvas, look, QPointF(x, (size.height() - s.height()) / 2));
        x += s.width() + 8;
    };
    line(dots(QStringLiteral("TAKE"), 1.2, std::nullopt, Palette::bone(), true));
    line(dots(takesText(), 2, 5, Palette::glow(), false, true));
    const std::optional<TrackRecord>& track = model_.deck(1).track();
    const brainface::SeedLine seed = brainface::seedLine(
        track && track->outpaint ? std::optional<std::int64_t>(track->outpaint->seed) : std::nullopt);
    const DotMatrix::Look seedLook = dots(seed.text, 1.2, 18, Palette::bone(), seed.dim);
    const QSizeF seedSize = DotMatrix::size(seedLook);
    drawDots(canvas, seedLook, QPointF(glassWidth - 8 - seedSize.width(), (size.height() - seedSize.height()) / 2));
    drawGlassBorder(canvas, QSizeF(glassWidth, size.height()), 3);
    const double legendY = (size.height() - legendHeight) / 2;
    legend.draw(canvas, QPointF(size.width() - legend.size().width(), legendY));
    shifted.draw(canvas, QPointF(size.width() - shifted.size().width(), legendY + legend.size().height() + 0.5));
}

void BrainModule::paintChain(Canvas& canvas, QSizeF size)
{
    drawGlassBack(canvas, size, 3);
    const bool snoozed = outpaint_ && outpaint_->chainSnooze().has_value();
    const DotMatrix::Look title = dots(QStringLiteral("CHAIN"), 1.3, std::nullopt, Palette::glow(), false);
    const QSizeF titleSize = DotMatrix::size(title);
    const double rowWidth = 5 + 5 + titleSize.width();
    double x = (size.width() - rowWidth) / 2;
    QPainterPath lamp;
    lamp.addEllipse(QRectF(x, 6 + (titleSize.height() - 5) / 2, 5, 5));
    if (!snoozed)
        canvas.shadow(lamp, withAlpha(Palette::ember(), 0.8), 4, QPointF());
    canvas.fillPath(lamp, snoozed ? Palette::ashDim() : Palette::ember());
    drawDots(canvas, title, QPointF(x + 10, 6));
    const QString status = outpaint_ ? outpaint_->chainStatus().toUpper() : QStringLiteral("ALWAYS ON");
    const DotMatrix::Look look = dots(status, 1.1, 13, Palette::bone(), true);
    const QSizeF s = DotMatrix::size(look);
    drawDots(canvas, look, QPointF((size.width() - s.width()) / 2, 6 + titleSize.height() + 2));
    drawGlassBorder(canvas, size, 3);
}

void BrainModule::resizeEvent(QResizeEvent* event)
{
    FaceModule::resizeEvent(event);
    const double s = scale();
    const auto put = [s](QWidget* w, double x, double y) { w->move(QPointF(x * s, y * s).toPoint()); };
    const Fit fit = fitted();
    status_->setDesignSize(QSizeF(status_->designSize().width(), fit.status));
    double y = kPad;
    put(status_, kPad, y);
    y += fit.status + fit.gap;
    put(takes_, kPad, y);
    y += 24 + fit.gap;
    put(prompt_, kPad + 8 + 40, y + 6);
    y += 28 + fit.gap;
    double x = kPad;
    for (const auto& [key, prompt] : presetKeys_) {
        (void)prompt;
        put(key, x, y);
        x += 44 + 4;
    }
    y += 20 + fit.gap;
    x = kPad;
    for (StepperKnob* stepper : steppers_) {
        put(stepper, x, y);
        x += 48 + 12;
    }
    put(guide_, x + (48 - guide_->designSize().width()) / 2, y);
    put(guideLabel_, x, y + 38 + 2);
    x += 48 + 12;
    put(seed_, x, y + 4);
    x += 58 + 12;
    put(modelKey_, x, y + 4);
    const double ax = designSize().width() - kPad - kActionWidth;
    put(action_, ax, kPad);
    put(drop_, ax, kPad + 44 + 6);
    put(chain_, ax, kPad + 44 + 6 + 36 + 6);
}

double BrainModule::idealHeight() { return kPad + kColumn + kPad; }

BrainModule::Fit BrainModule::fitted() const
{
    // A row shorter than the column needs takes it from the status glass
    // (down to 43, which still holds its lines), then from the four gaps
    // (down to 3).
    const double give = std::max(0.0, idealHeight() - designSize().height());
    const double fromStatus = std::min(give, kStatus - 43);
    return {kStatus - fromStatus, kGap - std::clamp((give - fromStatus) / 4, 0.0, kGap - 3)};
}

void BrainModule::paintFace(Canvas& canvas)
{
    const QRectF box(QPointF(), designSize());
    QPainterPath plate;
    plate.addRoundedRect(box, 9, 9);
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, QColor(22, 23, 28));
    fill.setColorAt(1, Palette::inkDeep());
    canvas.fillPath(plate, fill);
    QPainterPath inner;
    inner.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 8.5, 8.5);
    canvas.strokePath(inner, QPen(withAlpha(Palette::edge(), 0.6), 1));
    // The prompt line's glass and caption.
    const double left = kWidth - 2 * kPad - 10 - kActionWidth;
    const Fit fit = fitted();
    const QRectF glass(kPad, kPad + fit.status + fit.gap + 24 + fit.gap, left, 28);
    canvas.save();
    canvas.translate(glass.topLeft());
    drawGlassBack(canvas, glass.size(), 3);
    const TextLine caption = silkText(QStringLiteral("prompt"), 7, Palette::ash(), 1.1);
    caption.draw(canvas, QPointF(8, (28 - caption.size().height()) / 2));
    drawGlassBorder(canvas, glass.size(), 3);
    canvas.restore();
}

} // namespace zelvo
