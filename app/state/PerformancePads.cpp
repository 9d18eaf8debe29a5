// The eight pads of a deck, by pad mode: what a press and a release do, when a
// pad lights and what it says. The screens and the controllers all go through
// these, so every surface agrees.
#include "state/AppModel.h"
#include "audio/DeckCommand.h"
#include "audio/DeckState.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/TextFormat.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace zelvo {
namespace {

constexpr int kPads = 8;

bool validPad(int index)
{
    return index >= 0 && index < kPads;
}

void sendTo(DeckModel& deck, const DeckCommand& command)
{
    if (const std::shared_ptr<DeckVoice> voice = deck.voice())
        voice->send(command);
}

double hotCueAt(const DeckModel& deck, int index)
{
    return deck.live().hotCues[std::size_t(index)];
}

// "m:ss" of a position in whole seconds (the fraction dropped); a position
// beyond the int range shows as the longest one.
QString minutesSeconds(double seconds)
{
    const double whole = std::clamp(std::trunc(seconds), 0.0, double(INT_MAX));
    const int s = int(whole);
    return formatText("%d:%02d", s / 60, s % 60);
}

// Semitone shift of a key pad other than 3 and 7.
int padShift(int index)
{
    return index - 3;
}

bool loopPlaying(const DeckModel& deck, double beats)
{
    return deck.live().loopActive && deck.autoLoopBeats() == beats;
}

} // namespace

const std::array<AppModel::AIPad, 8> AppModel::aiPads{{
    {QStringLiteral("Fork"), QStringLiteral("the mix → zelvo-0"),
     [](const AppModel& app, const DeckModel&) { return app.performance().rendering(); },
     [](AppModel& app, DeckModel&) { app.outpaint().fork(true); }},
    {QStringLiteral("Drop"), QStringLiteral("in sync"),
     [](const AppModel& app, const DeckModel&) { return !app.outpaint().dropStatus().isRefusal(); },
     [](AppModel& app, DeckModel&) { app.outpaint().drop(); }},
    {QStringLiteral("Extend"), QStringLiteral("continue"), {}, [](AppModel& app, DeckModel&) { app.outpaint().extend(false); }},
    {QStringLiteral("Re-roll"), QStringLiteral("same spot"), {}, [](AppModel& app, DeckModel&) { app.performance().reroll(); }},
    {QStringLiteral("◀ Take"), QStringLiteral("previous"), {}, [](AppModel& app, DeckModel&) { app.performance().stepTake(-1); }},
    {QStringLiteral("Take ▶"), QStringLiteral("next"), {}, [](AppModel& app, DeckModel&) { app.performance().stepTake(1); }},
    {QStringLiteral("Chain"), QStringLiteral("always on"),
     [](const AppModel& app, const DeckModel&) { return !app.performance().chainSnoozed(); },
     [](AppModel& app, DeckModel&) { app.performance().resumeChain(); }},
    {QStringLiteral("Cancel"), QStringLiteral("render"),
     [](const AppModel& app, const DeckModel&) { return app.performance().rendering(); },
     [](AppModel& app, DeckModel&) { app.performance().cancel(); }},
}};

void AppModel::pressPad(DeckModel& deck, PadMode mode, int index, bool down, bool erase)
{
    if (!validPad(index))
        return;
    const auto i = std::size_t(index);
    switch (mode) {
    case PadMode::hotCue:
        if (!erase)
            sendTo(deck, DeckCommand::hotCue(index, down));
        else if (down)
            deck.deleteHotCue(index);
        return;
    case PadMode::padFX:
        if (down) {
            mixer_->setBeatFXKind(padFX[i].kind);
            mixer_->setBeatFXBeatIndex(padFX[i].beatIndex);
            mixer_->setBeatFXTarget(deck.index() + 1);
            mixer_->setBeatFXOn(true);
        } else if (padLit(deck, mode, index)) {
            mixer_->setBeatFXOn(false);
        }
        return;
    default:
        break;
    }
    if (!down)
        return;
    switch (mode) {
    case PadMode::beatJump:
        deck.setBeatJumpBeats(padJumps[i % 4]);
        deck.beatJump(index < 4 ? -1.0 : 1.0);
        break;
    case PadMode::ai:
        aiPads[i].action(*this, deck);
        break;
    case PadMode::key:
        if (index == 7)
            deck.setKeyLock(!deck.keyLock());
        else if (index == 3)
            performance_->keySync(deck.index());
        else
            deck.setKeyShift(deck.keyShift() == padShift(index) ? 0 : padShift(index));
        break;
    case PadMode::beatLoop:
        if (loopPlaying(deck, padLoops[i])) {
            sendTo(deck, DeckCommand::reloopExit());
        } else {
            deck.setAutoLoopBeats(padLoops[i]);
            deck.autoLoop();
        }
        break;
    default:
        break;
    }
}

bool AppModel::padLit(const DeckModel& deck, PadMode mode, int index) const
{
    if (!validPad(index))
        return false;
    const auto i = std::size_t(index);
    switch (mode) {
    case PadMode::hotCue:
        return hotCueAt(deck, index) >= 0.0;
    case PadMode::padFX:
        return mixer_->beatFXOn() && mixer_->beatFXTarget() == deck.index() + 1 && mixer_->beatFXKind() == padFX[i].kind
               && mixer_->beatFXBeatIndex() == padFX[i].beatIndex;
    case PadMode::beatJump:
        return deck.beatJumpBeats() == padJumps[i % 4];
    case PadMode::ai:
        return aiPads[i].lit && aiPads[i].lit(*this, deck);
    case PadMode::key:
        if (index == 7)
            return deck.keyLock();
        if (index == 3)
            return deck.keyShift() != 0;
        return deck.keyShift() == padShift(index);
    case PadMode::beatLoop:
        return loopPlaying(deck, padLoops[i]);
    }
    return false;
}

AppModel::PadLabel AppModel::padLabel(const DeckModel& deck, PadMode mode, int index) const
{
    if (!validPad(index))
        return {};
    const auto i = std::size_t(index);
    switch (mode) {
    case PadMode::hotCue: {
        const double at = hotCueAt(deck, index);
        return {QString(QChar('A' + index)), at >= 0.0 ? minutesSeconds(at) : QStringLiteral("set")};
    }
    case PadMode::padFX:
        return {QString::fromLatin1(padFX[i].caption).toLower(), QString::fromLatin1(padFX[i].sublabel)};
    case PadMode::beatJump: {
        const QString beats = QString::number(int(padJumps[i % 4]));
        if (index < 4)
            return {QStringLiteral("◀ ") + beats, QStringLiteral("back")};
        return {QStringLiteral("▶ ") + beats, QStringLiteral("fwd")};
    }
    case PadMode::ai:
        return {aiPads[i].label.toLower(), aiPads[i].sublabel};
    case PadMode::key:
        if (index == 7)
            return {QStringLiteral("lock"), deck.keyLock() ? QStringLiteral("on") : QStringLiteral("off")};
        if (index == 3)
            return {QStringLiteral("k.sync"), deck.keyShift() != 0 ? QStringLiteral("clear") : QStringLiteral("match")};
        return {padShift(index) > 0 ? QStringLiteral("+%1").arg(padShift(index)) : QString::number(padShift(index)),
                QStringLiteral("semi")};
    case PadMode::beatLoop: {
        const double beats = padLoops[i];
        const QString caption = beats >= 1.0 ? QString::number(int(beats))
                                             : QStringLiteral("1/") + QString::number(std::lround(1.0 / beats));
        return {caption, QStringLiteral("loop")};
    }
    }
    return {};
}

} // namespace zelvo
