#include "ui/stage/LiveMixer.h"

#include "state/AppLinks.h"
#include "state/AppModel.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/ControlMath.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/MeterTimeline.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/MixerPresenters.h"
#include "ui/stage/MixerStripParts.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/StagePresenters.h"
#include "ui/stage/StageSides.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace zelvo {

using stage::MixerSizes;
using stage::mixerSizes;

namespace {

// Repaints `meter` on the live clock at 30 frames a second while `moving`
// holds and after that until it has gone dark, re-checked whenever a deck's
// live state changes. At rest the meter keeps no clock: the model's tick looks
// at its level, so an echo's repeats after the last stop light it again.
void driveMeter(AppModel& model, kit::FaceWidget* meter, const kit::UiEnv& env, std::function<bool()> moving,
                std::function<bool()> lit)
{
    auto* timeline = new kit::MeterTimeline(meter, env.liveClock, 30, std::move(moving), std::move(lit));
    for (int deck = 0; deck < AppModel::kDecks; ++deck)
        QObject::connect(&model.deck(deck), &DeckModel::liveChanged, timeline, &kit::MeterTimeline::follow);
    QObject::connect(&model, &AppModel::ticked, timeline, &kit::MeterTimeline::look);
}

} // namespace

LiveMixer::LiveMixer(AppModel& model, kit::UiEnv env, QWidget* parent, stage::StageSides* sides)
    : StageCard(QStringLiteral("mixer"), QStringLiteral("liveMixer"), parent), model_(model), env_(env), sides_(sides)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSizeConstraint(QLayout::SetFixedSize);
    if (sides_) {
        connect(sides_, &stage::StageSides::layoutChanged, this, [this] {
            if (readFourDecks() != fourDecks_)
                rebuild();
        });
    }
    rebuild();
}

bool LiveMixer::readFourDecks() const
{
    return sides_ ? sides_->fourDecks() : model_.controller().fourDecks();
}

bool LiveMixer::targeted(int deck) const
{
    if (sides_)
        return stage::isTargeted(deck, sides_->leftDeck(), sides_->rightDeck());
    return stage::isTargeted(deck, model_.controller().activeDeck(0), model_.controller().activeDeck(1));
}

void LiveMixer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(painter);
    stage::paintStagePanel(canvas, QRectF(rect()), false);
}

void LiveMixer::rebuild()
{
    fourDecks_ = readFourDecks();
    order_ = stage::mixerOrder(fourDecks_);
    const MixerSizes sizes = mixerSizes(fourDecks_);
    delete body_;
    body_ = new QWidget(this);
    body_->setObjectName(QStringLiteral("mixer.body"));
    auto* rows = new QVBoxLayout(body_);
    rows->setContentsMargins(12, 10, 12, 10);
    rows->setSpacing(8);

    auto* strips = new QHBoxLayout;
    strips->setSpacing(int(sizes.spacing));
    const std::size_t half = order_.size() / 2;
    for (std::size_t i = 0; i < half; ++i)
        strips->addWidget(buildStrip(order_[i], body_), 0, Qt::AlignTop);
    strips->addWidget(buildMasterColumn(body_), 0, Qt::AlignTop);
    for (std::size_t i = half; i < order_.size(); ++i)
        strips->addWidget(buildStrip(order_[i], body_), 0, Qt::AlignTop);
    rows->addLayout(strips);
    rows->setAlignment(strips, Qt::AlignHCenter);

    auto* fade = new QHBoxLayout;
    fade->setSpacing(10);
    MixerModel& mixer = model_.mixer();
    const QFont end = kit::monoFont(9);
    fade->addWidget(new stage::TextFace(env_, QStringLiteral("a"), end, kit::Stage::ash(), body_), 0, Qt::AlignVCenter);
    auto* crossfader = new kit::LiveFader(
        env_, {[&mixer] { return mixer.crossfader(); }, [&mixer](double v) { mixer.setCrossfader(v); }},
        kit::Range{-1, 1}, sizes.crossfaderLength, false, false, 0, body_);
    crossfader->setObjectName(QStringLiteral("mixer.crossfader"));
    crossfader->repaintOn(&mixer, &MixerModel::crossfaderChanged);
    fade->addWidget(crossfader, 0, Qt::AlignVCenter);
    fade->addWidget(new stage::TextFace(env_, QStringLiteral("b"), end, kit::Stage::ash(), body_), 0, Qt::AlignVCenter);
    rows->addLayout(fade);
    rows->setAlignment(fade, Qt::AlignHCenter);

    layout()->addWidget(body_);
    body_->show();
    updateGeometry();
    update();
}

QWidget* LiveMixer::buildStrip(int index, QWidget* parent)
{
    const MixerSizes sizes = mixerSizes(fourDecks_);
    ChannelModel& ch = model_.mixer().channel(index);
    DeckModel& deck = model_.deck(index);
    auto* strip = new QWidget(parent);
    strip->setObjectName(QStringLiteral("mixer.strip.%1").arg(index));
    strip->setFixedWidth(int(sizes.stripWidth));
    auto* column = new QVBoxLayout(strip);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    const auto add = [column](QWidget* w, Qt::Alignment align = Qt::AlignHCenter) { column->addWidget(w, 0, align); };
    const auto named = [index](QWidget* w, const char* name) {
        w->setObjectName(QStringLiteral("mixer.%1.%2").arg(QLatin1String(name)).arg(index));
        return w;
    };

    auto* number = new stage::ChannelNumber(env_, index, sizes.stripWidth, [this, index] { return targeted(index); },
                                            strip);
    if (sides_)
        number->repaintOn(sides_.data(), &stage::StageSides::sidesChanged);
    add(named(number, "number"));

    const auto knob = [&](const char* name, kit::Binding<double> binding, double size, bool bipolar, double reset,
                          const QColor& tint) {
        auto* k = new kit::LiveKnob(env_, std::move(binding), kit::Range{-1, 1}, bipolar, std::nullopt, size, reset,
                                    tint, strip);
        add(named(k, name));
        return k;
    };
    ChannelModel* c = &ch;
    auto* trim = knob("trim", {[c] { return c->trim(); }, [c](double v) { c->setTrim(v); }}, sizes.trimSize, true, 0,
                      kit::Stage::rbBlue());
    trim->repaintOn(c, &ChannelModel::trimChanged);
    // A drag or a reset of a band knob brings its part back on first, as the
    // hardware knob does; a change from the model never does.
    struct Band {
        const char* name;
        int part;
        double (ChannelModel::*get)() const;
        void (ChannelModel::*set)(double);
        void (ChannelModel::*changed)();
    };
    const Band bands[] = {{"hi", ChannelModel::kHigh, &ChannelModel::high, &ChannelModel::setHigh, &ChannelModel::highChanged},
                          {"mid", ChannelModel::kMid, &ChannelModel::mid, &ChannelModel::setMid, &ChannelModel::midChanged},
                          {"low", ChannelModel::kLow, &ChannelModel::low, &ChannelModel::setLow, &ChannelModel::lowChanged}};
    for (const Band& band : bands) {
        const auto get = band.get;
        const auto set = band.set;
        const int part = band.part;
        auto* k = knob(band.name,
                       {[c, get] { return (c->*get)(); },
                        [c, get, set, part](double v) {
                            c->touchedBand(part);
                            (c->*set)(v);
                        }},
                       sizes.knobSize, true, 0, stage::bandTint((c->*get)()));
        connect(c, band.changed, k, [k, c, get] {
            k->setTint(stage::bandTint((c->*get)()));
            k->refresh();
        });
    }
    auto* fx = knob("colorFX", {[c] { return c->colorFX(); }, [c](double v) { c->setColorFX(v); }}, sizes.knobSize,
                    true, 0, kit::Stage::rbAmber());
    fx->repaintOn(c, &ChannelModel::colorFXChanged);

    if (sizes.partDots) {
        auto* dots = new stage::PartDotsView(env_, ch, strip);
        add(named(dots, "dots"));
    }

    auto* cue = new kit::LiveKey(env_, QStringLiteral("cue"), ch.cue(), kit::Stage::rbAmber(), sizes.cueWidth, 16,
                                 [c] { c->setCue(!c->cue()); }, strip);
    connect(c, &ChannelModel::cueChanged, cue, [cue, c] { cue->setLit(c->cue()); });
    add(named(cue, "cue"));

    auto* levels = new QHBoxLayout;
    levels->setSpacing(3);
    AppModel& model = model_;
    auto* meter = new kit::SegmentMeter(env_, [&model, index] { return stage::channelPeak(model.audio(), index); }, 15,
                                        5, strip);
    named(meter, "meter");
    driveMeter(model_, meter, env_, [&deck] { return deck.live().playing; },
               [&model, index] { return kit::meterLitCount(stage::channelPeak(model.audio(), index), 15) > 0; });
    levels->addWidget(meter, 0, Qt::AlignBottom);
    auto* fader = new kit::LiveFader(env_, {[c] { return c->fader(); }, [c](double v) { c->setFader(v); }},
                                     kit::Range{0, 1}, 78, true, false, 0.85, strip);
    fader->repaintOn(c, &ChannelModel::faderChanged);
    levels->addWidget(named(fader, "fader"), 0, Qt::AlignBottom);
    column->addLayout(levels);
    column->setAlignment(levels, Qt::AlignHCenter);

    if (sizes.assignRow) {
        auto* assign = new stage::AssignKeysView(env_, ch, strip);
        add(named(assign, "assign"));
    }
    return strip;
}

QWidget* LiveMixer::buildMasterColumn(QWidget* parent)
{
    const MixerSizes sizes = mixerSizes(fourDecks_);
    MixerModel& mixer = model_.mixer();
    auto* master = new QWidget(parent);
    master->setObjectName(QStringLiteral("mixer.masterColumn"));
    master->setFixedWidth(70);
    auto* column = new QVBoxLayout(master);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);

    auto* title = new stage::TextFace(env_, kit::stageText(QStringLiteral("mst"), 7.5, kit::Stage::ash()), master);
    title->setFrameHeight(14);
    column->addWidget(title, 0, Qt::AlignHCenter);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(6);
    auto* labels = new stage::RowLabels(env_, mixer, sizes.labelBase, master);
    labels->setObjectName(QStringLiteral("mixer.rowLabels"));
    middle->addWidget(labels, 0, Qt::AlignTop);
    AppModel& model = model_;
    auto* meters = new stage::MasterMeters(env_, [&model] { return stage::masterPeaks(model.audio()); }, master);
    meters->setObjectName(QStringLiteral("mixer.masterMeters"));
    driveMeter(model_, meters, env_, [&model] { return model.anyDeckPlaying(); },
               [&model] {
                   const auto [left, right] = stage::masterPeaks(model.audio());
                   return kit::meterLitCount(std::max(left, right), 26) > 0;
               });
    middle->addWidget(meters, 0, Qt::AlignTop);
    column->addLayout(middle);
    column->setAlignment(middle, Qt::AlignHCenter);

    auto* knobs = new QHBoxLayout;
    knobs->setSpacing(4);
    auto* level = new kit::LiveKnob(env_, {[&mixer] { return mixer.master(); }, [&mixer](double v) { mixer.setMaster(v); }},
                                    kit::Range{0, 1}, false, std::nullopt, 20, 0.8, kit::Stage::rbBlue(), master);
    level->setObjectName(QStringLiteral("mixer.master"));
    level->repaintOn(&mixer, &MixerModel::masterChanged);
    auto* cueMix = new kit::LiveKnob(env_, {[&mixer] { return mixer.cueMix(); }, [&mixer](double v) { mixer.setCueMix(v); }},
                                     kit::Range{-1, 1}, true, std::nullopt, 20, -1, kit::Stage::rbBlue(), master);
    cueMix->setObjectName(QStringLiteral("mixer.cueMix"));
    cueMix->repaintOn(&mixer, &MixerModel::cueMixChanged);
    knobs->addWidget(level);
    knobs->addWidget(cueMix);
    column->addLayout(knobs);
    column->setAlignment(knobs, Qt::AlignHCenter);

    auto* readout = new stage::FXReadout(env_, mixer, master);
    readout->setObjectName(QStringLiteral("mixer.fx"));
    column->addWidget(readout, 0, Qt::AlignHCenter);
    return master;
}

} // namespace zelvo
