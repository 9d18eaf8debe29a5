// The model key's steps and texts, flow mode's status line and the guide.
#include "state/ModelKeySteps.h"

#include "library/BeatGrid.h"
#include "platform/TextFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvo::keysteps {
namespace {

bool holdsTake(const DeckReading& deck)
{
    return deck.track && deck.track->isOutpaint();
}

// Deck 2 holds a take made from deck 1's record; a missing identifier on
// either side is no match.
bool takeOfDeckOne(const Inputs& in)
{
    const DeckReading& one = in.decks[0];
    const DeckReading& two = in.decks[1];
    if (!one.track || !holdsTake(two))
        return false;
    const std::optional<QUuid>& source = two.track->outpaint->sourceID;
    return source && !source->isNull() && !one.track->id.isNull() && *source == one.track->id;
}

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return double(from.msecsTo(to)) / 1000.0;
}

QString renderHeadline(const OutpaintPhase& phase)
{
    switch (phase.kind) {
    case OutpaintPhase::Kind::rendering:
        if (phase.stage == QLatin1String("queued"))
            return QStringLiteral("waiting for zelvo-0");
        if (phase.stage == QLatin1String("sample"))
            return QStringLiteral("step %1 of %2").arg(phase.step).arg(phase.total);
        return QString(phase.stage).replace(QLatin1Char('_'), QLatin1Char(' '));
    case OutpaintPhase::Kind::capturing: return QStringLiteral("listening");
    case OutpaintPhase::Kind::composing: return QStringLiteral("splicing the seam");
    case OutpaintPhase::Kind::idle:
    case OutpaintPhase::Kind::failed: return {};
    }
    return {};
}

// Whole bars between the outgoing deck's playhead and the mix start; none
// when that deck's record has no usable grid.
std::optional<int> barsLeft(const Inputs& in)
{
    const int other = 1 - in.transition.to;
    if (other != 0 && other != 1)
        return std::nullopt;
    const DeckReading& outgoing = in.decks[std::size_t(other)];
    const std::optional<BeatGrid> grid = outgoing.track ? outgoing.track->grid : std::nullopt;
    if (!BeatGrid::usable(grid))
        return std::nullopt;
    if (in.wait)
        return wholeOf((in.wait->begins - in.wait->clock) / BeatGrid::barOf(grid));
    return wholeOf((in.transition.value - outgoing.position) / BeatGrid::barOf(grid));
}

} // namespace

int wholeOf(double value)
{
    if (!std::isfinite(value))
        return 0;
    constexpr double lo = double(std::numeric_limits<int>::min());
    constexpr double hi = double(std::numeric_limits<int>::max());
    if (value <= lo)
        return std::numeric_limits<int>::min();
    if (value >= hi)
        return std::numeric_limits<int>::max();
    return int(value); // toward zero
}

QString clockText(double seconds)
{
    const int whole = std::max(0, wholeOf(seconds));
    return formatText("%d:%02d", whole / 60, whole % 60);
}

AIStep step(const Inputs& in)
{
    switch (in.status.kind) {
    case BrainStatus::Kind::installing: return AIStep::installing;
    case BrainStatus::Kind::loading:
    case BrainStatus::Kind::checking:
    case BrainStatus::Kind::starting: return AIStep::waking;
    case BrainStatus::Kind::failed:
    case BrainStatus::Kind::offline: return AIStep::wake;
    case BrainStatus::Kind::notInstalled: return AIStep::install;
    case BrainStatus::Kind::ready:
    case BrainStatus::Kind::rendering: break;
    }
    if (in.phase.busy())
        return AIStep::dreaming;
    if (in.readyMix)
        return AIStep::dropIt;
    if (holdsTake(in.decks[1]) && in.decks[1].playing)
        return AIStep::steer;
    switch (in.drop.kind) {
    case DropStatus::Kind::refused: return in.decks[0].track ? AIStep::fork : AIStep::loadRecord;
    case DropStatus::Kind::ready:
    case DropStatus::Kind::waiting: return AIStep::dropIt;
    case DropStatus::Kind::armed: return AIStep::armed;
    }
    return AIStep::fork;
}

Tap tapAction(const Inputs& in)
{
    switch (step(in)) {
    case AIStep::install: return in.key.isEmpty() ? Tap::openSettings : Tap::installBrain;
    case AIStep::wake: return Tap::wake;
    case AIStep::waking:
    case AIStep::installing:
    case AIStep::loadRecord: return Tap::nothing;
    case AIStep::fork: return Tap::fork;
    case AIStep::dreaming:
        // An extension of a take that plays on its own is left to finish; a
        // live fork supersedes anything else.
        return in.pendingIsExtension && !in.deckOneLivePlaying ? Tap::nothing : Tap::fork;
    case AIStep::dropIt:
        if (in.readyMix)
            return Tap::dropMix;
        return in.directOuts ? Tap::drop : Tap::mixToDeckTwo;
    case AIStep::armed: return Tap::drop;
    case AIStep::steer: return Tap::extend;
    }
    return Tap::nothing;
}

Press pressAction(const Inputs& in)
{
    if (in.phase.busy())
        return Press::cancel;
    return holdsTake(in.decks[1]) ? Press::reroll : Press::nothing;
}

QString title(const Inputs& in)
{
    switch (step(in)) {
    case AIStep::install: return QStringLiteral("install zelvo-0");
    case AIStep::wake: return QStringLiteral("wake zelvo-0");
    case AIStep::waking: return QStringLiteral("waking");
    case AIStep::installing:
        if (in.download.started)
            return formatText("%.0f%%", in.download.fraction * 100.0);
        return QStringLiteral("setting up");
    case AIStep::fork: return QStringLiteral("fork");
    case AIStep::loadRecord: return QStringLiteral("load a record");
    case AIStep::dreaming: return QStringLiteral("dreaming");
    case AIStep::dropIt: return QStringLiteral("drop it");
    case AIStep::armed: return QStringLiteral("armed");
    case AIStep::steer: return QStringLiteral("steer");
    }
    return {};
}

QString detail(const Inputs& in)
{
    switch (step(in)) {
    case AIStep::install:
        if (in.download.shortfall)
            return *in.download.shortfall;
        if (!in.key.isEmpty())
            return brainSize(in.check) + QStringLiteral(" from the kavri cdn, once \u2014 then offline for good");
        return QStringLiteral("add your free kavri key first (top right \u2699\uFE0E) \u2014 it brings zelvo-0");
    case AIStep::wake:
    case AIStep::waking: return modelStatus(in.status);
    case AIStep::installing:
        if (in.download.started && in.download.fraction < 1.0)
            return in.download.shortText;
        return downloadDetail(in);
    case AIStep::fork: return QStringLiteral("zelvo-0 forks whatever is playing");
    case AIStep::loadRecord: return QStringLiteral("zelvo-0 grows from deck 1");
    case AIStep::dreaming: return renderHeadline(in.phase);
    case AIStep::dropIt:
        if (in.readyMix)
            return QStringLiteral("starts on deck 2 in time with the mix \u00b7 you bring it in");
        if (in.drop.kind == DropStatus::Kind::waiting)
            return formatText("mix in \u00b7 deck 1 reaches it in %.0fs", in.drop.seconds);
        return QStringLiteral("mix zelvo-0 in on the phrase");
    case AIStep::armed: return QStringLiteral("fires on the seam \u00b7 tap to disarm");
    case AIStep::steer: return QStringLiteral("write the next stretch now");
    }
    return {};
}

QString modelStatus(const BrainStatus& status)
{
    switch (status.kind) {
    case BrainStatus::Kind::installing: return QStringLiteral("downloading");
    case BrainStatus::Kind::loading:
    case BrainStatus::Kind::starting: return QStringLiteral("waking");
    case BrainStatus::Kind::failed: return QStringLiteral("fault \u00b7 ") + status.text.toLower();
    case BrainStatus::Kind::checking: return QStringLiteral("checking");
    case BrainStatus::Kind::notInstalled: return QStringLiteral("not installed");
    case BrainStatus::Kind::offline: return QStringLiteral("asleep");
    case BrainStatus::Kind::ready: return QStringLiteral("ready");
    case BrainStatus::Kind::rendering: return QStringLiteral("writing");
    }
    return {};
}

QString modelLine(const Inputs& in)
{
    const QString name = in.model.value_or(QStringLiteral("base"));
    if (name == QLatin1String("zelvo-0"))
        return modelStatus(in.status);
    return name + QStringLiteral(" \u00b7 ") + modelStatus(in.status);
}

QString brainSize(const KavriAccount::Check& check)
{
    if (check.isOk())
        return formatText("%.1f gb", check.gigabytes());
    return QStringLiteral("~10 gb");
}

QString downloadDetail(const Inputs& in)
{
    if (in.status.kind != BrainStatus::Kind::installing)
        return {};
    if (in.download.started && in.download.fraction < 1.0)
        return in.download.summary;
    const QString& stage = in.status.text;
    if (stage == QLatin1String("runtime") || stage == QLatin1String("python"))
        return QStringLiteral("setting up the runtime \u00b7 then ") + brainSize(in.check);
    if (stage == QLatin1String("local") || stage == QLatin1String("finetune"))
        return QStringLiteral("putting it in place");
    return in.download.started ? QStringLiteral("checking every file") : stage;
}

std::optional<QString> installedModel(const std::optional<BrainHealth>& health, const QString& name)
{
    if (!health)
        return name;
    for (const BrainModel& model : health->models)
        if (model.name == name && !model.isBase())
            return name;
    return std::nullopt;
}

QString flowLine(const Inputs& in)
{
    const DeckReading& one = in.decks[0];
    const DeckReading& two = in.decks[1];
    const bool rendering = in.phase.busy();

    if (in.directOuts)
        return QStringLiteral("the djm is mixing \u00b7 flow sits this one out");
    if (rendering && in.pendingIsExtension && in.bridging)
        return QStringLiteral("zelvo-0 is writing a bridge into ") + in.bridging->title.toLower();
    if (!in.autoQueue)
        return QStringLiteral("flow off \u00b7 your records and zelvo-0, back and forth, on their own");
    if (in.transition.kind != TransitionModel::Phase::Kind::idle)
        return QStringLiteral("mixing");
    if (secondsBetween(in.handsOnAt, in.now) < 45.0)
        return QStringLiteral("you're driving \u00b7 flow waits until your hands are off");

    const double sinceLive = secondsBetween(in.liveSince, in.now);
    if (in.liveDeck == 1 && holdsTake(two) && two.playing) {
        if (in.stretchesWritten - in.stretchesAtLive < 2 && sinceLive < 180.0)
            return QStringLiteral("zelvo-0 is playing \u00b7 a record back in \u2264 ") + clockText(180.0 - sinceLive);
        if (in.nextQueued)
            return QStringLiteral("next: ") + in.nextQueued->title.toLower();
        return QStringLiteral("next record when one's queued");
    }
    // The live deck's record has ended: flow brings the next one in at once.
    if (in.liveEnded && in.comingIn)
        return formatText("deck %d has stopped \u00b7 ", in.setDeck + 1) + in.comingIn->title.toLower()
            + QStringLiteral(" comes in now");
    // The record the room follows: the live deck's while it plays, else deck
    // 1's (playing with the crossfader on a deck that stands).
    const DeckReading& live = in.decks[std::size_t(in.liveDeck == 1 ? 1 : 0)];
    const DeckReading* onAir = live.track && live.playing ? &live : one.track && one.playing ? &one : nullptr;
    if (!onAir)
        return QStringLiteral("press play on deck 1 and flow takes it from there");
    if (takeOfDeckOne(in) && one.playing && !two.playing)
        return QStringLiteral("zelvo-0's take is ready \u00b7 in at ") + clockText(75.0 - sinceLive);
    if (rendering && one.track)
        return QStringLiteral("zelvo-0 is writing its take of ") + one.track->title.toLower();
    return QStringLiteral("listening to ") + onAir->track->title.toLower();
}

QString guide(const Inputs& in)
{
    using Kind = TransitionModel::Phase::Kind;
    if (in.hint && in.now < in.hintUntil)
        return *in.hint;
    if (in.note && in.transition.kind == Kind::idle && in.now < in.noteExpires)
        return *in.note;

    switch (in.transition.kind) {
    case Kind::starting: return QStringLiteral("STARTING THE OTHER DECK\u2026");
    case Kind::waitingDownbeat: {
        // The record ends before its phrase: the mix begins early, on a bar.
        const bool onPhrase = !in.wait || in.wait->onPhrase;
        const QString when = onPhrase ? QStringLiteral("ON THE PHRASE") : QStringLiteral("BEFORE THE RECORD ENDS");
        if (const std::optional<int> bars = barsLeft(in); bars && *bars >= 1)
            return QStringLiteral("MIX STARTS IN %1 BAR%2 \u00b7 %3")
                .arg(*bars)
                .arg(*bars == 1 ? QString() : QStringLiteral("S"))
                .arg(when);
        return QStringLiteral("MIX STARTS ") + when;
    }
    case Kind::mixing:
        return formatText("MIXING \u00b7 %d%% \u00b7 GRAB THE CROSSFADER TO TAKE OVER", wholeOf(in.transition.value * 100.0));
    case Kind::idle: break;
    }

    const DeckReading& one = in.decks[0];
    const DeckReading& two = in.decks[1];
    if (!one.track && !two.track)
        return QStringLiteral("DOUBLE-CLICK A TRACK TO LOAD DECK 1");
    if (!one.playing && !two.playing)
        return QStringLiteral("PRESS PLAY \u25B6 ON DECK 1  (OR X)");
    if (in.phase.busy())
        return QStringLiteral("ZELVO-0 IS WRITING \u00b7 KEEP DECK 1 PLAYING");
    if (in.liveDeck == 1) {
        if (one.track && !one.playing)
            return QStringLiteral("DECK 1 CUED \u00b7 PRESS \u25C0 MIX 1 TO BRING IT BACK");
        if (!in.nextQueued)
            return in.autoQueue ? QStringLiteral("AUTO \u00b7 LOOKING FOR A RECORD THAT FITS")
                                : QStringLiteral("ENDLESS ZELVO-0 \u00b7 ADD TRACKS TO THE QUEUE WITH +");
        const QString next = in.nextQueued->title.toUpper();
        return in.autoQueue ? QStringLiteral("AUTO \u00b7 ") + next + QStringLiteral(" IS NEXT")
                            : QStringLiteral("ON ZELVO-0 \u00b7 PRESS NEXT TO CUE ") + next + QStringLiteral(" ON DECK 1");
    }
    if (takeOfDeckOne(in))
        return QStringLiteral("ZELVO-0'S TAKE IS READY \u00b7 PRESS MIX 2 \u25B6  \u00b7  \u25C0 \u25B6 TAKES TO AUDITION");
    if (two.track && !holdsTake(two))
        return QStringLiteral("DECK 2 CUED \u00b7 PRESS MIX 2 \u25B6 TO BRING IT IN");
    if (in.status.kind == BrainStatus::Kind::ready)
        return QStringLiteral("PRESS FORK FOR ZELVO-0'S TAKE ON THIS TRACK");
    return QStringLiteral("WAITING FOR ZELVO-0 TO WAKE");
}

} // namespace zelvo::keysteps
