#include "controllers/ControllerModel.h"

#include "audio/BeatFX.h"
#include "audio/ColorFX.h"
#include "audio/DeckVoice.h"
#include "audio/GainLaws.h"
#include "controllers/ControllerHelpers.h"
#include "controllers/DDJOut.h"
#include "controllers/MidiSystemChoice.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/TextFormat.h"
#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QPointer>
#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <thread>

namespace zelvo {
namespace {

using controllerhelpers::finiteOr0;
using controllerhelpers::onOff;
using controllerhelpers::sendTo;

const QString kChoiceKey = QStringLiteral("surface.choice");
const QString kLastKey = QStringLiteral("surface.last");

// Slots of the feedback cache, one per feedback key.
constexpr int kUnsent = INT_MIN;
constexpr std::size_t kNoteSlots = 0;                     // deck × 128 + note
constexpr std::size_t kPadSlots = kNoteSlots + 4 * 128;   // (deck × 2 + shift) × 128 + note
constexpr std::size_t kMeterSlots = kPadSlots + 8 * 128;  // deck
constexpr std::size_t kBeatFXSlot = kMeterSlots + 4;
constexpr std::size_t kColorFXSlots = kBeatFXSlot + 1;    // button 0...5
constexpr std::size_t kJogSlots = kColorFXSlots + 6;      // deck × 10 + display value
constexpr std::size_t kSlotCount = kJogSlots + 4 * 10;
enum JogValue { jBPM, jSpeed, jTime, jMark, jCue, jMaster, jSync, jLock, jKey, jRing };

constexpr std::array<int, 8> kPadPalette{42, 36, 10, 22, 49, 56, 1, 16};

// The unit of a cached reading: non-finite is 0, and the value is held to a
// range every reading fits in before it becomes an integer.
int cached(double value)
{
    if (!std::isfinite(value))
        return 0;
    return int(std::lround(std::clamp(value, -1.0e6, 1.0e6)));
}

int wholePart(double value)
{
    if (!std::isfinite(value))
        return 0;
    return int(std::clamp(value, -1.0e6, 1.0e6));
}

// The hardware's centre detent: 2v − 1, exactly 0 within 0.012 of the centre.
double centred(double v)
{
    const double b = 2.0 * v - 1.0;
    return std::abs(b) < 0.012 ? 0.0 : b;
}

QString lower(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size())).toLower();
}

QString decibels(double gain)
{
    if (!(gain > 0.0005))
        return QStringLiteral("kill");
    const double db = 20.0 * std::log10(gain);
    if (std::abs(db) < 0.25)
        return QStringLiteral("0 db");
    return formatText("%+.1f db", db);
}

QString padModeLabel(PadMode mode)
{
    switch (mode) {
    case PadMode::hotCue: return QStringLiteral("Hot Cue");
    case PadMode::padFX: return QStringLiteral("Pad FX");
    case PadMode::beatJump: return QStringLiteral("Beat Jump");
    case PadMode::ai: return QStringLiteral("ZELVO-0");
    case PadMode::key: return QStringLiteral("Key");
    case PadMode::beatLoop: return QStringLiteral("Loop");
    }
    return {};
}

// Degrees of a time on the platter (one turn is 1.8 s).
int platterDegrees(double seconds)
{
    if (!std::isfinite(seconds))
        return 0;
    return wholePart(std::fmod(seconds, 1.8) / 1.8 * 360.0);
}

// The log line of the FLX10 handshake: the count, and when the device was not
// reached, whether it is missing or this user may not open it (the README's
// udev rule grants that).
QString handshakeLine(const UsbVendorOut& outcome)
{
    QString line = QStringLiteral("controller: host handshake ") + QString::number(outcome.accepted)
        + QStringLiteral("/7 accepted");
    switch (outcome.reach) {
    case UsbBackend::OpenStatus::opened:
        break;
    case UsbBackend::OpenStatus::absent:
        line += QStringLiteral(" \u00B7 no FLX10 found on USB");
        break;
    case UsbBackend::OpenStatus::denied:
        line += QStringLiteral(" \u00B7 USB access to the FLX10 denied: install the udev rule "
                               "/etc/udev/rules.d/70-kavri-zelvo-flx10.rules (see the README)");
        break;
    }
    return line;
}

} // namespace

PadMode applicationPadMode(HardwarePadMode mode)
{
    switch (mode) {
    case HardwarePadMode::hotCue: return PadMode::hotCue;
    case HardwarePadMode::padFX1: return PadMode::padFX;
    case HardwarePadMode::beatJump: return PadMode::beatJump;
    case HardwarePadMode::sampler: return PadMode::ai;
    case HardwarePadMode::keyboard: return PadMode::key;
    case HardwarePadMode::padFX2: return PadMode::padFX;
    case HardwarePadMode::beatLoop: return PadMode::beatLoop;
    case HardwarePadMode::keyShift: return PadMode::key;
    }
    return PadMode::hotCue;
}

QString ControllerModel::rawValue(SurfaceChoice choice)
{
    switch (choice) {
    case SurfaceChoice::automatic: return QStringLiteral("AUTO");
    case SurfaceChoice::flx4: return QStringLiteral("FLX4");
    case SurfaceChoice::flx10: return QStringLiteral("FLX10");
    }
    return {};
}

ControllerModel::ControllerModel(UserDefaults& defaults, Scheduler& scheduler, QStringList arguments, LogSink* log,
                                 Setup setup, QObject* parent)
    : QObject(parent)
    , defaults_(defaults)
    , scheduler_(scheduler)
    , arguments_(std::move(arguments))
    , log_(log)
    , setup_(std::move(setup))
    , sent_(kSlotCount, kUnsent)
{
    pass_.reserve(4096);
    const QString choice = defaults_.string(kChoiceKey).value_or(QString());
    setSurfaceChoice(choice == QLatin1String("FLX4")    ? SurfaceChoice::flx4
                     : choice == QLatin1String("FLX10") ? SurfaceChoice::flx10
                                                        : SurfaceChoice::automatic);
    const QString last = defaults_.string(kLastKey).value_or(QString());
    setLastSeen(last == QLatin1String("flx10") ? ControllerKind::flx10 : ControllerKind::flx4);
    const qsizetype at = arguments_.indexOf(QStringLiteral("--surface"));
    if (at >= 0 && at + 1 < arguments_.size())
        forced_ = ControllerKinds::fromRawText(arguments_[at + 1].toLower().toStdString());
}

ControllerModel::~ControllerModel()
{
    scheduler_.cancel(feedback_);
    scheduler_.cancel(fold_);
    scheduler_.cancel(echoDemo_);
    scheduler_.cancel(playerTimer_);
    hub_.reset();
}

void ControllerModel::start()
{
    if (hub_)
        return;
    if (arguments_.contains(QStringLiteral("--echo-demo"))) {
        QPointer<ControllerModel> self(this);
        echoDemo_ = scheduler_.runEvery(kEchoDemoInterval, [self] {
            if (!self)
                return;
            const double now = self->scheduler_.uptime();
            self->setEcho({QStringLiteral("low0"), 0, QStringLiteral("ch1 low"), QStringLiteral("-12.4 db"), 0.31,
                           true, now});
            self->touchedAt_[0] = now;
            emit self->touchedAtChanged();
        });
    }
    std::shared_ptr<MidiSystem> system = setup_.midiSystem ? setup_.midiSystem() : openMidiSystem(log_);
    MIDIHub::MainPoster post = setup_.post ? setup_.post : MIDIHub::qtMainPoster();
    hub_ = std::make_unique<MIDIHub>(std::move(system), scheduler_, std::move(post));
    QPointer<ControllerModel> self(this);
    hub_->onConnection = [self](const std::optional<Connection>& connection) {
        if (self)
            self->connectionChanged(connection);
    };
    hub_->onEvents = [self](const std::vector<DDJEvent>& events) {
        if (self)
            self->handle(events);
    };
    hub_->onPlayers = [self](const std::vector<Player>& players) {
        if (self)
            self->updatePlayers(players);
    };
    hub_->onPlayerEvents = [self](const std::vector<MIDIHub::PlayerEvent>& events) {
        if (self)
            self->handle(events);
    };
    hub_->start();
}

// --- Observed state.

void ControllerModel::setSurfaceChoice(SurfaceChoice choice)
{
    defaults_.setString(kChoiceKey, rawValue(choice));
    if (surfaceChoice_ == choice)
        return;
    surfaceChoice_ = choice;
    emit surfaceChoiceChanged();
}

void ControllerModel::setLastSeen(ControllerKind kind)
{
    const std::string_view raw = ControllerKinds::rawText(kind);
    defaults_.setString(kLastKey, QString::fromLatin1(raw.data(), qsizetype(raw.size())));
    if (lastSeen_ == kind)
        return;
    lastSeen_ = kind;
    emit lastSeenChanged();
}

void ControllerModel::setEcho(Echo echo)
{
    if (echo_ == echo)
        return;
    echo_ = std::move(echo);
    emit echoChanged();
}

void ControllerModel::setLeftDeck(int deck)
{
    if (leftDeck_ == deck)
        return;
    leftDeck_ = deck;
    emit leftDeckChanged();
}

void ControllerModel::setRightDeck(int deck)
{
    if (rightDeck_ == deck)
        return;
    rightDeck_ = deck;
    emit rightDeckChanged();
}

void ControllerModel::setDigging(bool digging)
{
    if (digging_ == digging)
        return;
    digging_ = digging;
    emit diggingChanged();
}

void ControllerModel::setJogHeld(int deck, bool held)
{
    if (jogHeld_[std::size_t(deck)] == held)
        return;
    jogHeld_[std::size_t(deck)] = held;
    emit jogHeldChanged();
}

void ControllerModel::setBrowsedAt(double uptime)
{
    if (browsedAt_ != uptime) {
        browsedAt_ = uptime;
        emit browsedAtChanged();
    }
    // The browse fold: digging ends kFoldAfter seconds after the last step.
    scheduler_.cancel(fold_);
    fold_ = 0;
    const bool digging = browsedAt_ > 0 && scheduler_.uptime() - browsedAt_ < kFoldAfter;
    setDigging(digging);
    if (digging) {
        QPointer<ControllerModel> self(this);
        fold_ = scheduler_.runAfter(kFoldAfter, [self] {
            if (!self)
                return;
            self->fold_ = 0;
            self->setDigging(false);
        });
    }
}

ControllerKind ControllerModel::layout() const
{
    if (forced_)
        return *forced_;
    if (surfaceChoice_ == SurfaceChoice::flx4)
        return ControllerKind::flx4;
    if (surfaceChoice_ == SurfaceChoice::flx10)
        return ControllerKind::flx10;
    if (connected_)
        return connected_->kind;
    if (!players_.empty())
        return players_.size() > 2 ? ControllerKind::flx10 : ControllerKind::flx4;
    return lastSeen_;
}

void ControllerModel::selectDeck(int deck)
{
    if (deck < 0 || deck > 3)
        return;
    if (deck % 2 == 1)
        setRightDeck(deck);
    else
        setLeftDeck(deck);
}

void ControllerModel::touch(int deck)
{
    if (deck < 0 || deck > 3)
        return;
    touchedAt_[std::size_t(deck)] = scheduler_.uptime();
    emit touchedAtChanged();
}

void ControllerModel::handsOn()
{
    if (onHands_)
        onHands_();
}

void ControllerModel::note(const QString& line)
{
    if (log_)
        log_->note(line);
}

void ControllerModel::send(std::span<const std::uint8_t> bytes)
{
    if (hub_)
        hub_->send(bytes);
}

double ControllerModel::wallSeconds() const
{
    static const qint64 reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    return double(scheduler_.now().toMSecsSinceEpoch() - reference) / 1000.0;
}

// --- Connection.

void ControllerModel::connectionChanged(const std::optional<Connection>& connection)
{
    if (!connection && !connected_)
        return;
    if (connection && connected_ && *connection == *connected_)
        return;
    connected_ = connection;
    scheduler_.cancel(feedback_);
    feedback_ = 0;
    std::fill(sent_.begin(), sent_.end(), kUnsent);
    gates_.clear();
    setLeftDeck(0);
    setRightDeck(1);
    emit connectedChanged();
    if (host_)
        host_->setPreferredController(connection ? std::optional(connection->kind) : std::nullopt);
    if (!connection) {
        note(QStringLiteral("controller: unplugged"));
        return;
    }
    const ControllerKind kind = connection->kind;
    setLastSeen(kind);
    const std::string_view model = ControllerKinds::model(kind);
    note(QStringLiteral("controller: ") + QString::fromLatin1(model.data(), qsizetype(model.size()))
         + QStringLiteral(" on ") + QString::fromStdString(connection->name));
    if (kind == ControllerKind::flx10) {
        // The handshake blocks on USB for tens of milliseconds: a detached
        // thread runs it and its count comes back through the main queue.
        std::function<UsbVendorOut(ControllerKind)> handshake
            = setup_.handshake ? setup_.handshake : [](ControllerKind k) { return ControllerKinds::hostHandshake(k); };
        MIDIHub::MainPoster post = setup_.post ? setup_.post : MIDIHub::qtMainPoster();
        QPointer<ControllerModel> self(this);
        std::thread([handshake = std::move(handshake), post = std::move(post), self, kind]() mutable {
            const UsbVendorOut outcome = handshake(kind);
            post(std::make_shared<const std::function<void()>>([self, outcome] {
                if (self)
                    self->note(handshakeLine(outcome));
            }));
        }).detach();
        const DDJOut::Bytes format = DDJOut::jogKeyFormat(true);
        send(format);
        for (int d = 0; d < 4; ++d) {
            const DDJOut::Bytes info = DDJOut::jogInfo(d, true);
            send(info);
        }
    }
    QPointer<ControllerModel> self(this);
    feedback_ = scheduler_.runEvery(kFeedbackInterval, [self] {
        if (self)
            self->tick();
    });
    tick();
}

// --- Feedback.

template <typename Build> void ControllerModel::set(std::size_t slot, int value, Build&& build)
{
    assert(slot < sent_.size());
    if (sent_[slot] == value)
        return;
    sent_[slot] = value;
    const DDJOut::Bytes bytes = build();
    pass_.insert(pass_.end(), bytes.begin(), bytes.end());
}

std::optional<std::function<int(int)>> ControllerModel::tourShow(ControllerHost::TourStep step, double elapsed,
                                                                 ControllerKind kind, int deck)
{
    const bool flx10 = kind == ControllerKind::flx10;
    elapsed = std::isfinite(elapsed) ? std::clamp(elapsed, 0.0, 1.0e9) : 0.0;
    if (step == ControllerHost::TourStep::go) {
        if (elapsed >= 1.2)
            return std::nullopt;
        const bool dark = std::int64_t(elapsed * 5) % 2 != 0;
        return [dark, flx10](int pad) { return dark ? 0 : flx10 ? kPadPalette[std::size_t(pad & 7)] : 127; };
    }
    if (step == ControllerHost::TourStep::welcome) {
        const double period = flx10 ? 22 : 14;
        return [elapsed, period, flx10, deck](int pad) {
            const int position = pad % 4 + deck * 4;
            const double p = std::fmod(elapsed * 9, period) - position;
            if (!(p >= 0 && p < 3))
                return 0;
            if (!flx10)
                return 127;
            return kPadPalette[std::size_t((position + std::int64_t(elapsed * 2)) % 8)];
        };
    }
    return std::nullopt;
}

void ControllerModel::tick()
{
    if (!host_ || !connected_)
        return;
    ControllerHost& host = *host_;
    const ControllerKind kind = connected_->kind;
    const double wall = wallSeconds();
    for (int i = 0; i < 4; ++i) {
        if (bending_[std::size_t(i)] && wall - lastBend_[std::size_t(i)] > kBendRelease) {
            bending_[std::size_t(i)] = false;
            sendTo(host.deck(i), DeckCommand::jogBend(0));
        }
    }
    pass_.clear();
    const MixerState* engine = host.engineState();
    const int blink = int(std::fmod(std::floor(wall * 2.5), 2.0));
    const int decks = ControllerKinds::deckCount(kind);
    for (int d = 0; d < decks; ++d)
        feedDeck(d, kind, engine, blink, host);
    MixerModel& mixer = host.mixer();
    const bool fxOn = mixer.beatFXOn();
    set(kBeatFXSlot, fxOn ? 1 : 0, [&] { return DDJOut::beatFX(71, fxOn ? 127 : 0); });
    if (kind == ControllerKind::flx10) {
        for (int i = 0; i < 6; ++i) {
            const bool lit = i == colorFXButton_;
            set(kColorFXSlots + std::size_t(i), lit ? 1 : 0,
                [&] { return DDJOut::global(std::uint8_t(i), lit ? 127 : 0); });
        }
    }
    // Every message is three bytes, so a cut at a multiple of three never
    // splits one.
    static_assert(kSlice % 3 == 0);
    assert(pass_.size() % 3 == 0);
    for (std::size_t at = 0; at < pass_.size(); at += kSlice)
        send(std::span<const std::uint8_t>(pass_).subspan(at, std::min(kSlice, pass_.size() - at)));
}

void ControllerModel::feedDeck(int d, ControllerKind kind, const MixerState* engine, int blink,
                               ControllerHost& host)
{
    DeckModel& deck = host.deck(d);
    const ChannelModel& ch = host.mixer().channel(d);
    const DeckModel::Live& live = deck.live();
    const bool flx10 = kind == ControllerKind::flx10;
    const bool blinkOn = blink == 0;
    auto lamp = [&](std::uint8_t note, bool lit) {
        set(kNoteSlots + std::size_t(d) * 128 + note, lit ? 127 : 0,
            [&] { return DDJOut::note(d, note, lit ? 127 : 0); });
    };
    const bool play = live.playing || (live.cueing && (live.atCue || !live.loaded));
    lamp(11, play);
    lamp(71, play);
    bool cue = false;
    if (!live.loaded || live.cueing)
        cue = live.cueing;
    else if (!live.playing)
        cue = live.atCue || blinkOn;
    lamp(12, cue);
    lamp(72, cue);
    lamp(88, ch.sync());
    lamp(84, ch.cue());
    lamp(16, live.loopActive || live.loopSet);
    lamp(17, live.loopActive);
    lamp(flx10 ? 20 : 77, live.loopActive);
    lamp(101, deck.keyShift() != 0);
    const HardwarePadMode hw = hardwarePads_[std::size_t(d)];
    static constexpr std::array<std::pair<std::uint8_t, HardwarePadMode>, 8> modeLamps{{
        {27, HardwarePadMode::hotCue},
        {30, HardwarePadMode::padFX1},
        {32, HardwarePadMode::beatJump},
        {34, HardwarePadMode::sampler},
        {105, HardwarePadMode::keyboard},
        {107, HardwarePadMode::padFX2},
        {109, HardwarePadMode::beatLoop},
        {111, HardwarePadMode::keyShift},
    }};
    for (const auto& [note, mode] : modeLamps)
        lamp(note, hw == mode);
    const ControllerHost::TourStep step = host.tourStep();
    if (flx10) {
        lamp(53, deck.quantize());
        lamp(64, deck.slip());
        lamp(21, deck.reverse());
        lamp(13, !ch.partsOff()[0]);
        lamp(14, !ch.partsOff()[1]);
        lamp(15, !ch.partsOff()[2]);
        lamp(74, step == ControllerHost::TourStep::machine && blinkOn);
    }

    // Pads.
    const PadMode mode = applicationPadMode(hw);
    std::optional<std::function<int(int)>> show;
    if (step == ControllerHost::TourStep::welcome || step == ControllerHost::TourStep::go)
        show = tourShow(step, host.tourElapsed(), kind, d);
    for (int i = 0; i < 8; ++i) {
        int velocity = 0;
        if (show) {
            velocity = (*show)(i);
        } else if (host.padLit(d, mode, i)) {
            if (!flx10) {
                velocity = 127;
            } else {
                switch (mode) {
                case PadMode::hotCue: velocity = kPadPalette[std::size_t(i)]; break;
                case PadMode::padFX: velocity = 10; break;
                case PadMode::beatJump: velocity = 49; break;
                case PadMode::ai: velocity = i % 2 == 1 ? 1 : 42; break;
                case PadMode::key: velocity = 36; break;
                case PadMode::beatLoop: velocity = 49; break;
                }
            }
        }
        const std::uint8_t note = std::uint8_t(int(hw) * 16 + i);
        for (const bool shift : {false, true}) {
            set(kPadSlots + (std::size_t(d) * 2 + (shift ? 1 : 0)) * 128 + note, velocity,
                [&] { return DDJOut::pad(d, shift, note, std::uint8_t(velocity)); });
        }
    }

    // Level meter: −42 dB and below is dark, 0 dB is full.
    double peak = engine && std::size_t(d) < engine->channelPeak.size()
                      ? engine->channelPeak[std::size_t(d)].load()
                      : 0.0;
    peak = finiteOr0(peak);
    const double h = peak > 0 ? 20.0 * std::log10(peak) + 42.0 : -54.0;
    const double position = std::clamp(h / 42.0, 0.0, 1.0);
    set(kMeterSlots + std::size_t(d), int(std::lround(position * 127)), [&] { return DDJOut::meter(d, position); });

    if (flx10)
        jogScreen(deck, d, engine, host);
}

void ControllerModel::jogScreen(DeckModel& deck, int d, const MixerState* engine, ControllerHost& host)
{
    const DeckModel::Live& live = deck.live();
    const bool loaded = live.loaded;
    const std::shared_ptr<DeckVoice> voice = deck.voice();
    const DeckState* state = voice ? &voice->state() : nullptr;
    // A reading that is not a number shows as 0 on each value it feeds.
    const double ratio = engine && std::size_t(d) < engine->effectiveTempo.size()
                             ? engine->effectiveTempo[std::size_t(d)].load()
                             : deck.tempoRatio();
    const std::size_t base = kJogSlots + std::size_t(d) * 10;

    const std::optional<BeatGrid> grid = deck.grid();
    const double gridBPM = loaded && grid && grid->isValid() ? grid->bpm : 0.0;
    const double bpm = finiteOr0(ratio * gridBPM);
    set(base + jBPM, cached(bpm * 10), [&] { return DDJOut::jogBPM(d, bpm); });

    const double percent = loaded ? finiteOr0((ratio - 1) * 100) : 0.0;
    set(base + jSpeed, cached(percent * 10), [&] { return DDJOut::jogSpeed(d, percent); });

    const double position = state ? finiteOr0(state->position.load()) : 0.0;
    double remaining = state ? finiteOr0(state->duration.load() - state->position.load()) : 0.0;
    if (remaining < 0)
        remaining = 0;
    set(base + jTime, loaded ? wholePart(remaining) : -1, [&] { return DDJOut::jogTime(d, remaining, true); });

    const int marker = loaded ? platterDegrees(position) : 0;
    set(base + jMark, marker / 2, [&] { return DDJOut::jogMarker(d, marker); });

    const int cueDegrees = state ? platterDegrees(state->cuePoint.load()) : 0;
    set(base + jCue, loaded ? cueDegrees : -1,
        [&] { return DDJOut::jogCue(d, loaded ? std::optional(cueDegrees) : std::nullopt); });

    const bool master = host.masterDeck() == d;
    set(base + jMaster, master ? 1 : 0, [&] { return DDJOut::jogMaster(d, master); });
    const bool sync = host.mixer().channel(d).sync();
    set(base + jSync, sync ? 1 : 0, [&] { return DDJOut::jogSync(d, sync); });
    const bool lock = deck.keyLock();
    set(base + jLock, lock ? 1 : 0, [&] { return DDJOut::jogKeyLock(d, lock); });

    const int shift = deck.keyShift();
    std::uint8_t code = 0;
    if (deck.track() && deck.track()->key)
        code = DDJOut::keyCode(int(deck.track()->key->pitchClass) + shift, deck.track()->key->minor);
    set(base + jKey, (shift + 64) + int(code) * 256, [&] { return DDJOut::jogKey(d, code, shift); });

    set(base + jRing, live.playing ? 1 : 0, [&] { return DDJOut::jogRing(d, live.playing); });
}

// --- Events.

void ControllerModel::handle(const std::vector<DDJEvent>& events)
{
    if (!host_ || !connected_)
        return;
    const ControllerKind kind = connected_->kind;
    for (const DDJEvent& event : events) {
        // Host or connection can go during an action; later events are dropped.
        if (!host_ || !connected_)
            return;
        if (!std::holds_alternative<DDJ::Knob>(event) && !std::holds_alternative<DDJ::Crossfader>(event)
            && !std::holds_alternative<DDJ::HeadphonesMix>(event) && !std::holds_alternative<DDJ::BeatFXLevel>(event))
            handsOn();
        handleOne(event, *host_, kind);
    }
}

bool ControllerModel::pass(const QString& id, double value)
{
    return gates_[id].pass(value, scheduler_.uptime());
}

void ControllerModel::echoCard(QString id, std::optional<int> deck, QString title, QString value,
                               std::optional<double> fraction, bool bipolar)
{
    const double stamp = scheduler_.uptime();
    setEcho({std::move(id), deck, std::move(title), std::move(value), fraction, bipolar, stamp});
    if (deck && *deck >= 0 && *deck < 4) {
        touchedAt_[std::size_t(*deck)] = stamp;
        emit touchedAtChanged();
    }
}

void ControllerModel::handleOne(const DDJEvent& event, ControllerHost& host, ControllerKind kind)
{
    auto valid = [](int d) { return d >= 0 && d < 4; };
    MixerModel& mixer = host.mixer();
    if (const auto* e = std::get_if<DDJ::Key>(&event)) {
        if (!valid(e->deck))
            return;
        if (e->down)
            touch(e->deck);
        deckKey(e->key, host.deck(e->deck), e->shift, e->down, host, kind);
    } else if (const auto* e = std::get_if<DDJ::Pad>(&event)) {
        if (!valid(e->deck) || e->pad < 0 || e->pad > 7)
            return;
        hardwarePads_[std::size_t(e->deck)] = e->mode;
        const PadMode mode = applicationPadMode(e->mode);
        DeckModel& deck = host.deck(e->deck);
        if (deck.padMode() != mode)
            deck.setPadMode(mode);
        host.pressPad(e->deck, mode, e->pad, e->down, e->shift && e->mode == HardwarePadMode::hotCue);
        if (e->down) {
            touch(e->deck);
            const PadHit hit{e->deck, e->pad, scheduler_.uptime()};
            if (padHit_ != hit) {
                padHit_ = hit;
                emit padHitChanged();
            }
        }
    } else if (const auto* e = std::get_if<DDJ::Jog>(&event)) {
        if (!valid(e->deck))
            return;
        touch(e->deck);
        jog(host.deck(e->deck), e->surface, e->delta, kind);
    } else if (const auto* e = std::get_if<DDJ::JogTouch>(&event)) {
        if (!valid(e->deck))
            return;
        DeckModel& deck = host.deck(e->deck);
        if (!(e->down && !deck.vinyl()))
            sendTo(deck, DeckCommand::jogTouch(e->down));
        setJogHeld(e->deck, e->down && deck.vinyl());
        touch(e->deck);
    } else if (const auto* e = std::get_if<DDJ::Knob>(&event)) {
        if (!valid(e->deck))
            return;
        knob(e->knob, e->deck, e->value, host);
    } else if (const auto* e = std::get_if<DDJ::Crossfader>(&event)) {
        const double v = e->value;
        if (!pass(QStringLiteral("xf"), v))
            return;
        handsOn();
        mixer.setCrossfader(centred(v));
        echoCard(QStringLiteral("xf"), std::nullopt, QStringLiteral("crossfader"),
                 v < 0.02   ? QStringLiteral("a")
                 : v > 0.98 ? QStringLiteral("b")
                            : formatText("%+.0f", (2 * v - 1) * 100),
                 v, true);
    } else if (const auto* e = std::get_if<DDJ::CrossfaderAssign>(&event)) {
        if (valid(e->deck) && e->side >= -1 && e->side <= 1)
            mixer.channel(e->deck).setCrossfaderAssign(e->side);
    } else if (const auto* e = std::get_if<DDJ::DeckSelect>(&event)) {
        selectDeck(e->deck);
    } else if (const auto* e = std::get_if<DDJ::Browse>(&event)) {
        setBrowsedAt(scheduler_.uptime());
        stepSelection(e->delta, host);
    } else if (const auto* e = std::get_if<DDJ::Zoom>(&event)) {
        const double z = host.waveformZoom() * std::pow(1.15, -double(e->delta));
        host.setWaveformZoom(std::clamp(finiteOr0(z), 0.3, 6.0));
    } else if (const auto* e = std::get_if<DDJ::BrowsePress>(&event)) {
        if (e->shift)
            host.loadNext();
        else if (const std::optional<QUuid> id = host.selectedTrack())
            host.enqueue(*id);
    } else if (const auto* e = std::get_if<DDJ::Load>(&event)) {
        if (!valid(e->deck))
            return;
        const std::optional<QUuid> id = host.selectedTrack();
        host.load(id, e->deck);
        setBrowsedAt(0);
        if (id) {
            if (const std::optional<TrackRecord> record = host.track(*id))
                echoCard(QStringLiteral("load%1").arg(e->deck), e->deck,
                         QStringLiteral("loaded on deck %1").arg(e->deck + 1), record->title.toLower());
        }
    } else if (const auto* e = std::get_if<DDJ::HeadphonesMix>(&event)) {
        const double v = e->value;
        if (!pass(QStringLiteral("phones"), v))
            return;
        mixer.setCueMix(centred(v));
        echoCard(QStringLiteral("phones"), std::nullopt, QStringLiteral("phones mix"),
                 v < 0.5 ? QStringLiteral("cue") : QStringLiteral("master"), v, true);
    } else if (const auto* e = std::get_if<DDJ::ColorFXSelect>(&event)) {
        if (e->effect < 0 || e->effect > 5)
            return;
        colorFXButton_ = e->effect;
        static constexpr std::array<ColorFXKind, 6> kinds{ColorFXKind::space,  ColorFXKind::space, ColorFXKind::crush,
                                                          ColorFXKind::filter, ColorFXKind::noise, ColorFXKind::filter};
        mixer.setColorFXKind(kinds[std::size_t(e->effect)]);
        echoCard(QStringLiteral("cfxkind"), std::nullopt, QStringLiteral("color fx"), lower(label(mixer.colorFXKind())));
    } else if (const auto* e = std::get_if<DDJ::BeatFXOn>(&event)) {
        if (!e->down)
            return;
        mixer.setBeatFXOn(e->shift ? false : !mixer.beatFXOn());
        echoCard(QStringLiteral("fxon"), std::nullopt, lower(label(mixer.beatFXKind())), onOff(mixer.beatFXOn()));
    } else if (const auto* e = std::get_if<DDJ::BeatFXBeat>(&event)) {
        mixer.setBeatFXBeatIndex(std::clamp(mixer.beatFXBeatIndex() + e->step, 0, MixerModel::kLastBeatIndex));
    } else if (const auto* e = std::get_if<DDJ::BeatFXSelect>(&event)) {
        BeatFXKind kind = BeatFXKind::echo;
        switch (e->effect) {
        case 4: kind = BeatFXKind::reverb; break;
        case 5: case 9: case 10: case 11: kind = BeatFXKind::roll; break;
        case 6: case 7: case 8: kind = BeatFXKind::flanger; break;
        default: break;
        }
        mixer.setBeatFXKind(kind);
    } else if (const auto* e = std::get_if<DDJ::BeatFXStep>(&event)) {
        const int current = int(mixer.beatFXKind());
        mixer.setBeatFXKind(allBeatFXKinds[std::size_t(((current + e->step) % 4 + 4) % 4)]);
    } else if (const auto* e = std::get_if<DDJ::BeatFXChannel>(&event)) {
        if (!e->channel || *e->channel < 0)
            return;
        if (*e->channel > (kind == ControllerKind::flx10 ? 4 : 2))
            return;
        mixer.setBeatFXTarget(*e->channel);
    } else if (const auto* e = std::get_if<DDJ::BeatFXLevel>(&event)) {
        const double v = e->value;
        if (!pass(QStringLiteral("fxlevel"), v))
            return;
        mixer.setBeatFXLevel(v);
        echoCard(QStringLiteral("fxlevel"), std::nullopt, lower(label(mixer.beatFXKind())) + QStringLiteral(" level"),
                 QString::number(std::lround(v * 100)), v, false);
    } else if (std::holds_alternative<DDJ::Back>(event)) {
        using Source = ControllerHost::BrowserSource;
        static constexpr std::array<Source, 4> order{Source::collection, Source::outpaints, Source::recent,
                                                     Source::queue};
        const auto at = std::find(order.begin(), order.end(), host.browserSource());
        host.setBrowserSource(order[std::size_t((at - order.begin() + 1) % 4)]);
    } else if (std::holds_alternative<DDJ::View>(event)) {
        host.setBrowseOpen(!host.browseOpen());
        setBrowsedAt(0);
    }
}

void ControllerModel::knob(MixerKnob knob, int d, double v, ControllerHost& host)
{
    static constexpr std::array<const char*, 7> names{"tempo", "trim", "high", "mid", "low", "fader", "colorFX"};
    if (!pass(QLatin1String(names[std::size_t(knob)]) + QString::number(d), v))
        return;
    handsOn();
    const double b = centred(v);
    DeckModel& deck = host.deck(d);
    ChannelModel& ch = host.mixer().channel(d);
    const QString n = QString::number(d);
    const QString chName = QStringLiteral("ch%1 ").arg(d + 1);
    switch (knob) {
    case MixerKnob::tempo:
        deck.setTempoFader(b);
        echoCard(QStringLiteral("tempo") + n, d, QStringLiteral("deck %1 tempo").arg(d + 1),
                 formatText("%+.2f%%", (deck.tempoRatio() - 1) * 100), v, true);
        break;
    case MixerKnob::trim:
        ch.setTrim(b);
        echoCard(QStringLiteral("trim") + n, d, chName + QStringLiteral("trim"), decibels(trimGain(b)), v, true);
        break;
    case MixerKnob::high:
        ch.touchedBand(ChannelModel::kHigh);
        ch.setHigh(b);
        echoCard(QStringLiteral("hi") + n, d, chName + QStringLiteral("hi"), decibels(isolatorGain(b)), v, true);
        break;
    case MixerKnob::mid:
        ch.touchedBand(ChannelModel::kMid);
        ch.setMid(b);
        echoCard(QStringLiteral("mid") + n, d, chName + QStringLiteral("mid"), decibels(isolatorGain(b)), v, true);
        break;
    case MixerKnob::low:
        ch.touchedBand(ChannelModel::kLow);
        ch.setLow(b);
        echoCard(QStringLiteral("low") + n, d, chName + QStringLiteral("low"), decibels(isolatorGain(b)), v, true);
        break;
    case MixerKnob::fader:
        ch.setFader(v);
        echoCard(QStringLiteral("fader") + n, d, chName + QStringLiteral("fader"), QString::number(std::lround(v * 100)),
                 v, false);
        break;
    case MixerKnob::colorFX:
        ch.setColorFX(b);
        echoCard(QStringLiteral("cfx") + n, d, chName + lower(label(host.mixer().colorFXKind())),
                 std::abs(b) < 0.02 ? QStringLiteral("off") : formatText("%+.0f", b * 100), v, true);
        break;
    }
}

void ControllerModel::deckKey(DeckKey key, DeckModel& deck, bool shift, bool down, ControllerHost& host,
                              ControllerKind kind)
{
    using K = DeckKey::Kind;
    const int d = deck.index();
    ChannelModel& ch = host.mixer().channel(d);
    const QString n = QString::number(d);
    // Keys that act on press and on release.
    switch (key.kind) {
    case K::shift:
        deck.setShift(down);
        return;
    case K::cue:
        if (!shift)
            deck.cue(down);
        else if (down)
            sendTo(deck, DeckCommand::seek(0));
        return;
    case K::slipReverse:
        if (!shift) {
            deck.setReverse(down);
            return;
        }
        break;
    default: break;
    }
    if (!down)
        return;
    auto requestMaster = [&] {
        if (const std::shared_ptr<MixerParams> params = host.mixer().params())
            params->masterRequest.store(d);
    };
    switch (key.kind) {
    case K::padMode: {
        const HardwarePadMode hw = key.padMode();
        if (key.payload < 0 || key.payload > 7)
            return;
        hardwarePads_[std::size_t(d)] = hw;
        deck.setPadMode(applicationPadMode(hw));
        echoCard(QStringLiteral("padmode") + n, d, QStringLiteral("pads"), padModeLabel(deck.padMode()).toLower());
        break;
    }
    case K::part: {
        const int i = key.payload;
        if (i < 0 || i > 2)
            return;
        ch.togglePart(i);
        static constexpr std::array<const char*, 3> parts{"drums", "vocal", "inst"};
        echoCard(QStringLiteral("part") + n, d, QLatin1String(parts[std::size_t(i)]),
                 ch.partsOff()[std::size_t(i)] ? QStringLiteral("out") : QStringLiteral("in"));
        break;
    }
    case K::play: deck.playPause(); break;
    case K::sync:
        if (shift)
            requestMaster();
        else
            ch.setSync(!ch.sync());
        echoCard(QStringLiteral("sync") + n, d, QStringLiteral("sync"),
                 shift ? QStringLiteral("master") : onOff(ch.sync()));
        break;
    case K::syncLong: requestMaster(); break;
    case K::tempoReset: deck.setTempoFader(0); break;
    case K::tempoRange:
        deck.cycleTempoRange();
        echoCard(QStringLiteral("range") + n, d, QStringLiteral("tempo range"), tempoRangeLabel(deck.tempoRange()));
        break;
    case K::keySync:
        if (shift) {
            deck.setKeyLock(!deck.keyLock());
            echoCard(QStringLiteral("key") + n, d, QStringLiteral("key lock"), onOff(deck.keyLock()));
        } else {
            host.keySync(d);
            echoCard(QStringLiteral("key") + n, d, QStringLiteral("key sync"),
                     deck.keyShift() == 0 ? QStringLiteral("off") : formatText("%+d", deck.keyShift()));
        }
        break;
    case K::keySyncLong: deck.setKeyShift(0); break;
    case K::loopIn: sendTo(deck, DeckCommand::loopIn()); break;
    case K::loopOut: sendTo(deck, DeckCommand::loopOut()); break;
    case K::reloop:
        if (kind == ControllerKind::flx10 && !shift && !deck.live().loopActive) {
            deck.setAutoLoopBeats(4);
            deck.autoLoop();
        } else {
            sendTo(deck, DeckCommand::reloopExit());
        }
        break;
    case K::loopHalve: deck.halveLoop(); break;
    case K::loopDouble: deck.doubleLoop(); break;
    case K::callBack:
    case K::callForward: {
        const bool forward = key.kind == K::callForward;
        if (shift)
            deck.setBeatJumpBeats(forward ? std::min(deck.beatJumpBeats() * 2, 32.0)
                                          : std::max(deck.beatJumpBeats() * 0.5, 1.0));
        else if (deck.live().loopActive)
            forward ? deck.doubleLoop() : deck.halveLoop();
        else
            callCue(deck, forward ? 1 : -1);
        break;
    }
    case K::beatJumpBack:
    case K::beatJumpForward: {
        const bool forward = key.kind == K::beatJumpForward;
        if (shift)
            deck.setBeatJumpBeats(forward ? std::min(deck.beatJumpBeats() * 2, 32.0)
                                          : std::max(deck.beatJumpBeats() * 0.5, 1.0));
        else
            deck.beatJump(forward ? 1 : -1);
        break;
    }
    case K::slipReverse: deck.setReverse(!deck.reverse()); break; // with shift
    case K::quantize: deck.setQuantize(!deck.quantize()); break;
    case K::slip: deck.setSlip(!deck.slip()); break;
    case K::headphoneCue: ch.setCue(!ch.cue()); break;
    case K::mixPointLink:
        if (host.tourStep() != ControllerHost::TourStep::none) {
            shift ? host.tourBack() : host.tourNext();
        } else {
            shift ? host.aiSecondary() : host.aiPrimary();
            echoCard(QStringLiteral("ai"), d, QStringLiteral("zelvo-0"), host.aiStepTitle());
        }
        break;
    case K::mixPointBack:
    case K::mixPointForward: {
        const bool forward = key.kind == K::mixPointForward;
        if (shift)
            host.reroll();
        else
            host.stepTake(forward ? 1 : -1);
        echoCard(QStringLiteral("take"), d, QStringLiteral("take"),
                 shift     ? QStringLiteral("re-roll")
                 : forward ? QStringLiteral("next")
                           : QStringLiteral("previous"));
        break;
    }
    case K::shift:
    case K::cue: break;
    }
}

void ControllerModel::jog(DeckModel& deck, JogSurface surface, int delta, ControllerKind kind)
{
    const double turn = ControllerKinds::jogTicksPerTurn(kind);
    const std::size_t i = std::size_t(deck.index());
    auto scrub = [&] { sendTo(deck, DeckCommand::jogScrub(delta * 1.8 / turn)); };
    auto bendOrScrub = [&] {
        if (!deck.live().playing) {
            scrub();
            return;
        }
        sendTo(deck, DeckCommand::jogBend(std::clamp(delta * 0.02 * 720.0 / turn, -0.5, 0.5)));
        lastBend_[i] = wallSeconds();
        bending_[i] = true;
    };
    switch (surface) {
    case JogSurface::platter:
        if (!deck.vinyl())
            deck.setVinyl(true);
        if (deck.live().jogTouched)
            scrub();
        else
            bendOrScrub();
        break;
    case JogSurface::platterNudge:
        if (deck.vinyl())
            deck.setVinyl(false);
        bendOrScrub();
        break;
    case JogSurface::side: bendOrScrub(); break;
    case JogSurface::search:
        if (const std::shared_ptr<DeckVoice> voice = deck.voice()) {
            const double position = finiteOr0(voice->state().position.load());
            voice->send(DeckCommand::seek(std::max(0.0, position + delta * 21.6 / turn)));
        }
        break;
    }
}

void ControllerModel::callCue(DeckModel& deck, int direction)
{
    const std::shared_ptr<DeckVoice> voice = deck.voice();
    if (!voice)
        return;
    const double position = voice->state().position.load();
    std::vector<double> cues;
    for (const double cue : deck.live().hotCues)
        if (cue >= 0)
            cues.push_back(cue);
    std::sort(cues.begin(), cues.end());
    std::optional<double> target;
    if (direction < 0) {
        for (const double cue : cues)
            if (cue < position - 0.5)
                target = cue;
    } else {
        for (const double cue : cues) {
            if (cue > position + 0.05) {
                target = cue;
                break;
            }
        }
    }
    if (target)
        voice->send(DeckCommand::seek(*target));
}

void ControllerModel::stepSelection(int delta, ControllerHost& host)
{
    const std::vector<QUuid> tracks = host.browserTracks();
    if (tracks.empty() || delta == 0)
        return;
    const std::optional<QUuid> selected = host.selectedTrack();
    const auto found = selected ? std::find(tracks.begin(), tracks.end(), *selected) : tracks.end();
    const std::int64_t count = std::int64_t(tracks.size());
    const std::int64_t i = found != tracks.end() ? found - tracks.begin() : delta < 0 ? count : -1;
    host.setSelectedTrack(tracks[std::size_t(std::clamp<std::int64_t>(i + delta, 0, count - 1))]);
}

} // namespace zelvo
