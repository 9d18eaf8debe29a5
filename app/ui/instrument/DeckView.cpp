#include "ui/instrument/DeckView.h"

#include "state/AppModel.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "audio/MixerParams.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/instrument/DeckPresenters.h"
#include "ui/instrument/JogWheel.h"
#include "ui/kit/AudioDrop.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Displays.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/kit/waves/AppWaveScene.h"
#include "ui/kit/waves/FaceplateWaves.h"

#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace zelvo {

using kit::withAlpha;
namespace Palette = kit::Palette;

namespace {

// A drawn widget of a fixed size painted by a function; a press calls `onPress`.
class Painted final : public kit::FaceWidget {
public:
    Painted(const kit::UiEnv& env, QSizeF size, std::function<void(kit::Canvas&)> paint,
            std::function<void()> onPress = {}, QWidget* parent = nullptr)
        : FaceWidget(env, parent), size_(size), paint_(std::move(paint)), onPress_(std::move(onPress))
    {
        resizeToDesign();
        if (!onPress_)
            setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QSizeF designSize() const override { return size_; }
    void paintFace(kit::Canvas& canvas) override { paint_(canvas); }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (onPress_ && event->button() == Qt::LeftButton)
            onPress_();
    }

private:
    QSizeF size_;
    std::function<void(kit::Canvas&)> paint_;
    std::function<void()> onPress_;
};

// A pad that remembers the modifiers of the press that started it.
class GridPad final : public kit::Pad {
public:
    using kit::Pad::Pad;
    bool altAtPress() const { return alt_; }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        alt_ = event->modifiers().testFlag(Qt::AltModifier);
        kit::Pad::mousePressEvent(event);
    }

private:
    bool alt_ = false;
};

QString element(const DeckModel& deck, const QString& name)
{
    return QStringLiteral("deck%1.%2").arg(deck.index()).arg(name);
}

kit::DotMatrix::Look dots(const QString& text, double pitch, const QColor& color, bool dim, bool aberration,
                          std::optional<int> columns = std::nullopt, std::optional<double> phase = std::nullopt)
{
    kit::DotMatrix::Look l;
    l.text = text;
    l.pitch = pitch;
    l.columns = columns;
    l.color = color;
    l.dim = dim;
    l.aberration = aberration;
    l.scrollPhase = phase;
    return l;
}

void drawDots(kit::Canvas& canvas, const kit::DotMatrix::Look& look, QPointF at)
{
    canvas.save();
    canvas.translate(at);
    kit::DotMatrix::draw(canvas, look);
    canvas.restore();
}

// Seven-segment digits from the kit's image cache: the segment outlines cost
// far more to fill than the read-out costs to change.
void drawSegments(kit::Canvas& canvas, const kit::SevenSegment::Look& look, QPointF at, double deviceScale)
{
    const QImage image = kit::SevenSegment::rendered(look, deviceScale);
    if (!image.isNull())
        canvas.drawImage(QRectF(at, QSizeF(kit::SevenSegment::width(look.text, look.height), look.height)), image);
}

} // namespace

// ---------------------------------------------------------------- DeckHeader

DeckHeader::DeckHeader(AppModel& app, DeckModel& deck, const kit::UiEnv& env, double width, QWidget* parent)
    : FaceWidget(env, parent), app_(app), deck_(deck), width_(width),
      timeline_(new kit::LiveTimeline(this, env.liveClock, 0))
{
    setObjectName(element(deck, QStringLiteral("header")));
    resizeToDesign();
    for (auto signal : {&DeckModel::trackChanged, &DeckModel::loadingChanged, &DeckModel::errorChanged,
                        &DeckModel::liveChanged, &DeckModel::keyShiftChanged, &DeckModel::tempoRangeChanged,
                        &DeckModel::tempoFaderChanged, &DeckModel::voiceChanged})
        connect(&deck_, signal, this, &DeckHeader::follow);
    connect(&app_, &AppModel::engineLiveChanged, this, &DeckHeader::follow);
    if (deck_.index() < MixerModel::kChannels)
        connect(&app_.mixer().channel(deck_.index()), &ChannelModel::syncChanged, this, &DeckHeader::follow);
    follow();
}

DeckHeader::~DeckHeader() = default;

void DeckHeader::setWidth(double width)
{
    width_ = width;
    resizeToDesign();
    update();
}

double DeckHeader::fps() const
{
    if (deck_.live().playing)
        return 10;
    const QString title = deck_.loading() ? QStringLiteral("LOADING…")
                                          : (deck_.track() ? deck_.track()->title : QStringLiteral("NO TRACK"));
    return deckface::characterCount(title) >= deckface::kMarqueeAt ? 3 : 0;
}

void DeckHeader::follow()
{
    timeline_->setFps(fps());
    update();
}

QRectF DeckHeader::clockColumn() const
{
    // The widest clock or its caption row, right-aligned inside the padding.
    const double clock = kit::SevenSegment::width(QStringLiteral("-00:00.0"), 18);
    const double captions = kit::DotMatrix::size(dots(QStringLiteral("KEY 10A +12"), 1.3, {}, false, false)).width()
                            + 5 + kit::DotMatrix::size(dots(QStringLiteral("ELAPSED"), 1.1, {}, false, false)).width();
    const double w = std::max(clock, captions);
    return QRectF(width_ - 10 - w, 7, w, 46);
}

void DeckHeader::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && clockColumn().contains(toDesign(event->position()))) {
        showRemaining_ = !showRemaining_;
        update();
    }
}

void DeckHeader::paintFace(kit::Canvas& canvas)
{
    deckface::HeaderInput in;
    in.index = deck_.index();
    in.isAI = deck_.isAI();
    in.loading = deck_.loading();
    if (const auto& t = deck_.track()) {
        in.title = t->title;
        in.artist = t->artist;
        in.bpm = t->grid ? t->grid->bpm : 0;
        in.key = t->key;
    }
    in.error = deck_.error();
    in.master = app_.engineLive().masterDeck == deck_.index();
    in.sync = deck_.index() < MixerModel::kChannels && app_.mixer().channel(deck_.index()).sync();
    in.loopActive = deck_.live().loopActive;
    in.ratio = deck_.tempoRatio();
    if (const auto& io = app_.audio().io())
        if (const auto& state = io->engine().state(); state && std::size_t(deck_.index()) < state->effectiveTempo.size())
            in.ratio = state->effectiveTempo[std::size_t(deck_.index())].load();
    in.range = deck_.tempoRange();
    if (const std::shared_ptr<DeckVoice> v = deck_.voice()) {
        in.position = v->state().position.load();
        in.duration = v->state().duration.load();
    }
    in.showRemaining = showRemaining_;
    in.keyShift = deck_.keyShift();
    const deckface::HeaderFace f = deckface::header(in);

    const QSizeF size = designSize();
    const double deviceScale = scale() * std::max(1.0, devicePixelRatioF());
    kit::drawGlassBack(canvas, size, 4);

    // Left block: badges, title, sub-line.
    double x = 10;
    const double badgeY = 7;
    {
        const auto label = dots(f.deckLabel, 1.2, Palette::bone(), true, in.isAI);
        drawDots(canvas, label, QPointF(x, badgeY));
        x += kit::DotMatrix::size(label).width() + 6;
        for (const QString& badge : f.badges) {
            const auto b = dots(badge, 1.2, Palette::glow(), false, false);
            drawDots(canvas, b, QPointF(x, badgeY));
            x += kit::DotMatrix::size(b).width() + 6;
        }
    }
    const std::optional<double> phase =
        f.titleScrolls ? std::optional<double>(timeline_->frameTime() * 3) : std::nullopt;
    const auto title = dots(f.title, 2.1, Palette::glow(), false, in.isAI, 21, phase);
    const double titleY = badgeY + 1.2 * 7 + 5;
    drawDots(canvas, title, QPointF(10, titleY));
    const auto sub = dots(f.subLine, 1.3, f.subIsError ? Palette::red() : Palette::bone(), !f.subIsError, false, 34);
    drawDots(canvas, sub, QPointF(10, titleY + kit::DotMatrix::size(title).height() + 5));

    // Right block: tempo column, then the clock column at the right edge.
    const QRectF clock = clockColumn();
    kit::SevenSegment::Look clockLook{f.clock, 18, Palette::glow(), false};
    drawSegments(canvas, clockLook, QPointF(clock.right() - kit::SevenSegment::width(f.clock, 18), clock.top()), deviceScale);
    {
        const auto key = dots(f.key, 1.3, Palette::glow(), false, false);
        const auto mode = dots(f.clockMode, 1.1, Palette::bone(), true, false);
        const double w = kit::DotMatrix::size(key).width() + 5 + kit::DotMatrix::size(mode).width();
        const double y = clock.top() + 18 + 3;
        drawDots(canvas, key, QPointF(clock.right() - w, y));
        drawDots(canvas, mode, QPointF(clock.right() - kit::DotMatrix::size(mode).width(), y + 1));
    }
    const double tempoRight = clock.left() - 12;
    kit::SevenSegment::Look bpmLook{f.bpm, 24, Palette::glow(), in.isAI};
    drawSegments(canvas, bpmLook, QPointF(tempoRight - kit::SevenSegment::width(f.bpm, 24), 7), deviceScale);
    {
        const auto pitch = dots(f.pitch, 1.2, Palette::bone(), false, false);
        const auto range = dots(f.range, 1.2, Palette::bone(), true, false);
        const double y = 7 + 24 + 3;
        drawDots(canvas, range, QPointF(tempoRight - kit::DotMatrix::size(range).width(), y));
        drawDots(canvas, pitch,
                 QPointF(tempoRight - kit::DotMatrix::size(range).width() - 6 - kit::DotMatrix::size(pitch).width(), y));
    }

    kit::drawGlassOverlay(canvas, size);
    kit::drawGlassBorder(canvas, size, 4);
}

// ------------------------------------------------------------ TransportKeys

TransportKeys::TransportKeys(DeckModel& deck, const kit::UiEnv& env, QWidget* parent)
    : DesignBox(env, QSizeF(54, 144), parent), deck_(deck)
{
    setObjectName(element(deck, QStringLiteral("transport")));
    // The cue release goes to the deck the press went to.
    auto target = std::make_shared<QPointer<DeckModel>>();
    DeckModel* d = &deck;
    shift_ = new kit::HardKey(env, QStringLiteral("Shift"), std::nullopt, false, false, kit::KeyStyle::key, 52, 22,
                              false, [d] { d->setShift(!d->shift()); });
    cue_ = new kit::HardKey(
        env, QStringLiteral("Cue"), std::nullopt, false, false, kit::KeyStyle::transport, 54, 54, false,
        [d, target] {
            *target = d;
            d->cue(true);
        },
        [target] {
            if (*target)
                (*target)->cue(false);
            *target = nullptr;
        });
    play_ = new kit::HardKey(env, QStringLiteral("▶ ‖"), std::nullopt, false, false, kit::KeyStyle::transport, 54, 54,
                             false, [d] { d->playPause(); });
    shift_->setObjectName(element(deck, QStringLiteral("shift")));
    cue_->setObjectName(element(deck, QStringLiteral("cue")));
    play_->setObjectName(element(deck, QStringLiteral("play")));
    place(shift_, QRectF(1, 0, 52, 22));
    place(cue_, QRectF(0, 29, 54, 54));
    place(play_, QRectF(0, 90, 54, 54));
    connect(&deck_, &DeckModel::liveChanged, this, &TransportKeys::follow);
    connect(&deck_, &DeckModel::shiftChanged, this, &TransportKeys::follow);
    follow();
}

void TransportKeys::follow()
{
    const DeckModel::Live& l = deck_.live();
    const deckface::TransportLamps lamps = deckface::transport(l.loaded, l.playing, l.cueing, l.atCue);
    shift_->setLit(deck_.shift());
    cue_->setLit(lamps.cueLit);
    cue_->setBlink(lamps.cueBlink);
    play_->setLit(lamps.playLit);
}

// ------------------------------------------------------------------ PadBlock

PadBlock::PadBlock(AppModel& app, DeckModel& deck, const kit::UiEnv& env, QWidget* parent)
    : DesignBox(env, QSizeF(4 * 58 + 15, 19 + 5 + 2 * 38 + 5), parent), app_(app), deck_(deck)
{
    setObjectName(element(deck, QStringLiteral("pads")));
    DeckModel* d = &deck;
    for (int i = 0; i < 4; ++i) {
        modes_[std::size_t(i)] = new kit::HardKey(env, QString(), std::nullopt, false, false, kit::KeyStyle::key, 58,
                                                  19, false, [d, i] {
                                                      const deckface::ModePress p =
                                                          deckface::modePress(i, d->padMode(), d->shift());
                                                      using K = deckface::ModePress::Kind;
                                                      switch (p.kind) {
                                                      case K::setMode:
                                                          d->setPadMode(p.mode);
                                                          break;
                                                      case K::slip:
                                                          d->setSlip(!d->slip());
                                                          break;
                                                      case K::quantize:
                                                          d->setQuantize(!d->quantize());
                                                          break;
                                                      case K::vinyl:
                                                          d->setVinyl(!d->vinyl());
                                                          break;
                                                      }
                                                  });
        modes_[std::size_t(i)]->setObjectName(element(deck, QStringLiteral("mode.%1").arg(i)));
        place(modes_[std::size_t(i)], QRectF(i * 63, 0, 58, 19));
    }
    AppModel* a = &app;
    for (int i = 0; i < 8; ++i) {
        // What a press was made with; its release goes there, whatever the
        // view shows by then.
        struct Held {
            QPointer<DeckModel> deck;
            PadMode mode = PadMode::hotCue;
            bool releases = false;
        };
        auto held = std::make_shared<std::optional<Held>>();
        auto self = std::make_shared<GridPad*>(nullptr);
        auto* pad = new GridPad(
            env, QString(), std::nullopt, false,
            [a, d, i, held, self] {
                const PadMode mode = d->padMode();
                // Erase (Alt, the faceplate's Option) is read from this press.
                const bool erase = *self && (*self)->altAtPress();
                const bool releases = mode == PadMode::hotCue || mode == PadMode::padFX;
                *held = Held{d, mode, releases};
                a->pressPad(*d, mode, i, true, erase);
            },
            [a, i, held] {
                const std::optional<Held> h = *held;
                held->reset();
                if (h && h->releases && h->deck)
                    a->pressPad(*h->deck, h->mode, i, false, false);
            });
        *self = pad;
        pad->setObjectName(element(deck, QStringLiteral("pad.%1").arg(i)));
        pads_[std::size_t(i)] = pad;
        place(pad, QRectF((i % 4) * 63, 24 + (i / 4) * 43, 58, 38));
    }
    for (auto signal : {&DeckModel::padModeChanged, &DeckModel::shiftChanged, &DeckModel::liveChanged,
                        &DeckModel::slipChanged, &DeckModel::quantizeChanged, &DeckModel::vinylChanged,
                        &DeckModel::keyShiftChanged, &DeckModel::keyLockChanged, &DeckModel::trackChanged})
        connect(&deck_, signal, this, &PadBlock::follow);
    // Lamps that follow other models (effects, the workflow, the partner deck)
    // are re-read with the application's readings.
    connect(&app_, &AppModel::engineLiveChanged, this, &PadBlock::follow);
    for (int i = 0; i < AppModel::kDecks; ++i)
        if (i != deck.index()) {
            connect(&app_.deck(i), &DeckModel::trackChanged, this, &PadBlock::follow);
            connect(&app_.deck(i), &DeckModel::keyShiftChanged, this, &PadBlock::follow);
        }
    for (int c = 0; c < MixerModel::kChannels; ++c)
        connect(&app_.mixer().channel(c), &ChannelModel::syncChanged, this, &PadBlock::follow);
    for (auto signal : {&MixerModel::beatFXOnChanged, &MixerModel::beatFXKindChanged,
                        &MixerModel::beatFXBeatIndexChanged, &MixerModel::beatFXTargetChanged})
        connect(&app_.mixer(), signal, this, &PadBlock::follow);
    connect(&app_, &AppModel::flowChanged, this, &PadBlock::follow);
    follow();
}

void PadBlock::follow()
{
    const PadMode mode = deck_.padMode();
    const auto row = deckface::modeRow(mode, deck_.shift(), {deck_.slip(), deck_.quantize(), deck_.vinyl()});
    for (int i = 0; i < 4; ++i) {
        modes_[std::size_t(i)]->setLabel(row[std::size_t(i)].label);
        modes_[std::size_t(i)]->setLit(row[std::size_t(i)].lit);
    }
    deckface::GridInput in;
    in.mode = mode;
    for (int i = 0; i < 8; ++i)
        in.lit[std::size_t(i)] = app_.padLit(deck_, mode, i);
    in.hotCues = deck_.live().hotCues;
    in.keyShift = deck_.keyShift();
    if (deck_.track())
        in.ownKey = deck_.track()->key;
    const int partner = deckface::partnerDeck(deck_.index(), [this](int side) { return app_.controller().activeDeck(side); });
    if (partner >= 0 && partner < AppModel::kDecks) {
        const DeckModel& p = app_.deck(partner);
        if (p.track())
            in.partnerKey = p.track()->key;
        in.partnerShift = p.keyShift();
    }
    const auto faces = deckface::grid(in);
    for (int i = 0; i < 8; ++i) {
        kit::HardKey* pad = pads_[std::size_t(i)];
        pad->setLabel(faces[std::size_t(i)].label);
        pad->setSublabel(faces[std::size_t(i)].sublabel);
        pad->setLit(faces[std::size_t(i)].lit);
    }
}

// ------------------------------------------------------------------- LoopRow

LoopRow::LoopRow(AppModel& app, DeckModel& deck, const kit::UiEnv& env, double width, QWidget* parent)
    : DesignBox(env, QSizeF(width, kKeyHeight + 15), parent), app_(app), deck_(deck), width_(width)
{
    setObjectName(element(deck, QStringLiteral("loops")));
    DeckModel* d = &deck;
    AppModel* a = &app;
    // Each key reads the shift latch at its press.
    const auto voiceSend = [d](DeckCommand command) {
        if (const std::shared_ptr<DeckVoice> v = d->voice())
            v->send(command);
    };
    const std::array<std::function<void()>, 6> actions{
        [d, voiceSend] { d->shift() ? d->halveLoop() : voiceSend(DeckCommand::loopIn()); },
        [d, voiceSend] { d->shift() ? d->doubleLoop() : voiceSend(DeckCommand::loopOut()); },
        [d, voiceSend] { d->shift() ? voiceSend(DeckCommand::reloopExit()) : d->autoLoop(); },
        [d] { d->shift() ? d->setBeatJumpBeats(deckface::nextJumpSize(d->beatJumpBeats(), -1)) : d->beatJump(-1); },
        [d] { d->shift() ? d->setBeatJumpBeats(deckface::nextJumpSize(d->beatJumpBeats(), +1)) : d->beatJump(+1); },
        [a, d] {
            if (d->index() >= MixerModel::kChannels)
                return;
            if (!d->shift()) {
                ChannelModel& ch = a->mixer().channel(d->index());
                ch.setSync(!ch.sync());
            } else if (const std::shared_ptr<MixerParams> params = a->mixer().params()) {
                params->masterRequest.store(d->index());
            }
        },
    };
    const std::array<QString, 6> names{QStringLiteral("in"),   QStringLiteral("out"),  QStringLiteral("auto"),
                                       QStringLiteral("back"), QStringLiteral("fwd"),  QStringLiteral("sync")};
    for (std::size_t i = 0; i < 6; ++i) {
        const QString label = i == 3 ? QStringLiteral("◀") : i == 4 ? QStringLiteral("▶") : QString();
        keys_[i] = new kit::HardKey(env, label, std::nullopt, false, false, kit::KeyStyle::key, kWidths[i], kKeyHeight,
                                    false, actions[i]);
        keys_[i]->setObjectName(element(deck, QStringLiteral("loop.") + names[i]));
    }
    // The fixed legends under the single keys.
    const auto face = deckface::loopRow({});
    const std::array<const deckface::LoopKeyFace*, 4> legends{&face.in, &face.out, &face.autoLoop, &face.sync};
    for (std::size_t j = 0; j < 4; ++j) {
        legends_[j] = new kit::Legend(env, legends[j]->legend, legends[j]->shiftLegend, 6.5);
        legends_[j]->setObjectName(element(deck, QStringLiteral("loop.legend.") + names[kUnder[j]]));
    }
    arrange();
    for (auto signal : {&DeckModel::shiftChanged, &DeckModel::liveChanged, &DeckModel::autoLoopBeatsChanged,
                        &DeckModel::beatJumpBeatsChanged})
        connect(&deck_, signal, this, &LoopRow::follow);
    connect(&app_, &AppModel::engineLiveChanged, this, &LoopRow::follow);
    if (deck.index() < MixerModel::kChannels)
        connect(&app_.mixer().channel(deck.index()), &ChannelModel::syncChanged, this, &LoopRow::follow);
    follow();
}

void LoopRow::follow()
{
    deckface::LoopInput in;
    in.shift = deck_.shift();
    in.loopSet = deck_.live().loopSet;
    in.loopActive = deck_.live().loopActive;
    in.autoLoopBeats = deck_.autoLoopBeats();
    in.beatJumpBeats = deck_.beatJumpBeats();
    in.sync = deck_.index() < MixerModel::kChannels && app_.mixer().channel(deck_.index()).sync();
    in.master = app_.engineLive().masterDeck == deck_.index();
    const deckface::LoopFace f = deckface::loopRow(in);
    const std::array<const deckface::LoopKeyFace*, 4> faces{&f.in, &f.out, &f.autoLoop, &f.sync};
    const std::array<std::size_t, 4> at{0, 1, 2, 5};
    for (std::size_t j = 0; j < 4; ++j) {
        keys_[at[j]]->setLabel(faces[j]->label);
        keys_[at[j]]->setLit(faces[j]->lit);
    }
    if (f.jumpLegend != jumpText_ || !jumpLegend_) {
        jumpText_ = f.jumpLegend;
        delete jumpLegend_;
        jumpLegend_ = new kit::Legend(env(), jumpText_, QStringLiteral("size"), 6.5);
        jumpLegend_->setObjectName(element(deck_, QStringLiteral("loop.jumpLegend")));
        arrange();
    }
}

double LoopRow::keyX(std::size_t i) const
{
    // The row runs in, out, auto, the jump pair (4 apart), 6 apart; sync
    // stands at the right end.
    if (i == 5)
        return width_ - kWidths[5];
    double x = 0;
    for (std::size_t k = 0; k < i; ++k)
        x += kWidths[k] + (k == 3 ? 4 : 6);
    return x;
}

void LoopRow::arrange()
{
    // Each legend's bottom edge sits 15 under its key's.
    const auto hang = [this](kit::Legend* legend, double x, double width) {
        const QSizeF ls = legend->designSize();
        place(legend, QRectF(x + (width - ls.width()) / 2, kKeyHeight - ls.height() + 15, ls.width(), ls.height()));
    };
    for (std::size_t i = 0; i < 6; ++i)
        place(keys_[i], QRectF(keyX(i), 0, kWidths[i], kKeyHeight));
    for (std::size_t j = 0; j < 4; ++j)
        hang(legends_[j], keyX(kUnder[j]), kWidths[kUnder[j]]);
    if (jumpLegend_)
        hang(jumpLegend_, keyX(3), kWidths[3] + 4 + kWidths[4]);
    setDesignSize(QSizeF(width_, std::max(kHeight, kKeyHeight + 15)));
}

void LoopRow::setWidth(double width)
{
    if (width == width_)
        return;
    width_ = width;
    arrange();
}

// ---------------------------------------------------------------- TempoStrip

TempoStrip::TempoStrip(DeckModel& deck, const kit::UiEnv& env, QWidget* parent)
    : DesignBox(env, QSizeF(58, 324), parent), deck_(deck)
{
    setObjectName(element(deck, QStringLiteral("tempo")));
    DeckModel* d = &deck;
    auto* caption = new kit::SilkLabel(env, QStringLiteral("tempo"), 7, withAlpha(Palette::bone(), 0.7), 1.8);
    fader_ = new kit::Fader(env, kit::Binding<double>{[d] { return d->tempoFader(); }, [d](double v) { d->setTempoFader(v); }},
                            kit::Range{-1, 1}, true, 250, 21, true, false, std::nullopt, 24);
    fader_->setObjectName(element(deck, QStringLiteral("tempoFader")));
    const auto rangeLine = [d] {
        return kit::silkText(tempoRangeLabel(d->tempoRange()).toUpper(), 8, withAlpha(Palette::ember(), 0.85), 1.2);
    };
    range_ = new Painted(
        env, QSizeF(58, 12),
        [rangeLine](kit::Canvas& canvas) {
            const kit::TextLine line = rangeLine();
            line.draw(canvas, QPointF((58 - line.size().width()) / 2, (12 - line.size().height()) / 2));
        },
        [d] { d->cycleTempoRange(); });
    range_->setObjectName(element(deck, QStringLiteral("range")));
    reset_ = new kit::HardKey(env, QStringLiteral("Reset"), std::nullopt, false, false, kit::KeyStyle::key, 48, 20,
                              false, [d] { d->setTempoFader(0); });
    reset_->setObjectName(element(deck, QStringLiteral("reset")));

    double y = 0;
    const QSizeF cs = caption->designSize();
    place(caption, QRectF((58 - cs.width()) / 2, y, cs.width(), cs.height()));
    y += cs.height() + 4;
    const QSizeF fs = fader_->designSize();
    place(fader_, QRectF((58 - fs.width()) / 2, y, fs.width(), fs.height()));
    y += fs.height() + 4;
    place(range_, QRectF(0, y, 58, 12));
    y += 12 + 4;
    place(reset_, QRectF(5, y, 48, 20));
    setDesignSize(QSizeF(58, y + 20));

    const auto follow = [this] {
        reset_->setLit(deck_.tempoFader() == 0.0);
        fader_->refresh();
        range_->update();
    };
    connect(&deck_, &DeckModel::tempoFaderChanged, this, follow);
    connect(&deck_, &DeckModel::tempoRangeChanged, this, follow);
    follow();
}

// ------------------------------------------------------------------ DeckView

DeckView::DeckView(AppModel& model, DeckModel& deck, bool mirrored, const kit::UiEnv& env, QWidget* parent)
    : DesignBox(env, QSizeF(kWidth, 100), parent), app_(model), deck_(deck), mirrored_(mirrored)
{
    setObjectName(QStringLiteral("instrument.deck%1").arg(deck.index() + 1));
    setBackground([this](kit::Canvas& canvas, QSizeF size) { paintPanel(canvas, size); });
    AppModel* app = &model;
    scene_ = std::make_unique<kit::AppWaveScene>(model, nullptr, [app](int d) { return app->isAudible(d); });

    // The parts are made once; a new width moves and widens them.
    const kit::UiEnv& e = env;
    const double inner = kWidth - 2 * FaceLayout::kDeckPad;
    header_ = new DeckHeader(app_, deck_, e, inner);
    glass_ = new kit::VFDGlass(e, QSizeF(inner, 34), 3);
    glass_->setObjectName(element(deck_, QStringLiteral("overview")));
    overview_ = new kit::OverviewWaveform(*scene_, deck_.index(), e, QSizeF(inner - 12, 28));
    glass_->placeContent(overview_, QRectF(6, 3, inner - 12, 28));
    loops_ = new LoopRow(app_, deck_, e, inner);
    jog_ = new JogWheel(deck_, 218, 1.8, e);
    transport_ = new TransportKeys(deck_, e);
    pads_ = new PadBlock(app_, deck_, e);
    tempo_ = new TempoStrip(deck_, e);

    // The caption across the panel's top edge.
    const kit::TextLine line = kit::silkText(caption(), 7, withAlpha(Palette::ash(), 0.85), 2.4);
    const QSizeF ls(line.size().width() + 16, line.size().height());
    label_ = new Painted(e, ls, [line, ls](kit::Canvas& canvas) {
        canvas.fillRect(QRectF(QPointF(0, 0), ls), Palette::ink());
        line.draw(canvas, QPointF(8, 0));
    });
    label_->setObjectName(element(deck_, QStringLiteral("caption")));

    // Taking its ideal height arranges the parts (designSizeChanged).
    setDesignSize(QSizeF(kWidth, idealHeight()));
    kit::AudioDrop::attach(
        this, env,
        [app](const QList<QUrl>& adapters) {
            QStringList paths;
            for (const QUrl& u : adapters)
                paths << u.toLocalFile();
            if (!paths.isEmpty())
                app->installAdapters(paths);
        },
        [this](const QList<QUrl>& urls) { return dropFiles(urls); });
    connect(&deck_, &DeckModel::trackChanged, this, [this] { update(); });
}

DeckView::~DeckView() = default;

QString DeckView::caption() const
{
    return deck_.isAI() ? QStringLiteral("player 2 · from zelvo-0")
                        : QStringLiteral("player %1 · from disk").arg(deck_.index() + 1);
}

FaceLayout::DeckParts DeckView::parts() const
{
    FaceLayout::DeckParts p;
    p.header = header_->designSize().height();
    p.overview = 34;
    p.loopRow = LoopRow::kHeight;
    p.jog = jog_->designSize().height();
    p.transport = transport_->designSize();
    p.pads = pads_->designSize();
    p.tempo = tempo_->designSize();
    return p;
}

double DeckView::idealHeight() const { return FaceLayout::deck(parts(), designSize().width()).height; }

void DeckView::designSizeChanged()
{
    // Before the first arrangement the parts do not exist yet.
    if (header_)
        arrange();
}

void DeckView::arrange()
{
    const double width = designSize().width();
    const FaceLayout::DeckPlan plan = FaceLayout::deck(parts(), width);
    const double inner = plan.header.width();
    header_->setWidth(inner);
    place(header_, plan.header);
    glass_->setGlassSize(plan.overview.size());
    overview_->setDesignSize(QSizeF(std::max(inner - 12, 0.0), 28));
    glass_->placeContent(overview_, QRectF(6, 3, std::max(inner - 12, 0.0), 28));
    place(glass_, plan.overview);
    loops_->setWidth(inner);
    place(loops_, QRectF(plan.loops.topLeft(), loops_->designSize()));
    place(jog_, plan.jog);
    place(transport_, plan.transport);
    place(pads_, plan.pads);
    place(tempo_, plan.tempo);
    const QSizeF ls = label_->designSize();
    place(label_, QRectF((width - ls.width()) / 2, 0, ls.width(), ls.height()));
}

void DeckView::paintPanel(kit::Canvas& canvas, QSizeF size) const
{
    // The panel starts a little below the top so the caption sits across its
    // border, and leaves room at the sides for the model deck's fringes.
    const QRectF panel(2, 5.5, size.width() - 4, size.height() - 6);
    QPainterPath shape;
    shape.addRoundedRect(panel, 10, 10);
    QLinearGradient fill(panel.topLeft(), panel.bottomLeft());
    fill.setColorAt(0, withAlpha(Palette::panel(), 0.55));
    fill.setColorAt(1, withAlpha(Palette::inkDeep(), 0.75));
    canvas.fillPath(shape, fill);
    if (deck_.isAI()) {
        canvas.strokePath(shape.translated(-1.5, 0), QPen(withAlpha(Palette::red(), 0.22), 1));
        canvas.strokePath(shape.translated(1.5, 0), QPen(withAlpha(Palette::cyan(), 0.2), 1));
    }
    canvas.strokePath(shape, QPen(withAlpha(Palette::edge(), 0.7), 1));
}

bool DeckView::dropFiles(const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& u : urls)
        if (u.isLocalFile())
            paths << u.toLocalFile();
    const std::vector<TrackRecord> records = app_.library().importItems(paths);
    if (records.empty())
        return false;
    // Only the first record loads; the rest stay in the library.
    const TrackRecord first = records.front();
    QPointer<DeckModel> deck(&deck_);
    QTimer::singleShot(0, &app_, [deck, first] {
        if (deck)
            deck->load(first);
    });
    return true;
}

} // namespace zelvo
