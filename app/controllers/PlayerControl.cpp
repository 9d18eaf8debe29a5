// The CDJ player side of the controller model: which deck each player drives
// (remembered per port across launches), the players' rig of sound cards, the
// players' platter, jog, tempo, needle and browse messages, their 33 buttons,
// and the 30 Hz player timer that runs held searches and ends pitch bends.
#include "controllers/ControllerModel.h"

#include "audio/DeckVoice.h"
#include "controllers/ControllerHelpers.h"
#include "controllers/PlayerRouting.h"
#include "library/JsonFields.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/TextFormat.h"
#include "platform/UserDefaults.h"

#include <QJsonObject>
#include <QPointer>
#include <algorithm>
#include <climits>
#include <cmath>
#include <set>

namespace zelvo {
namespace {

using controllerhelpers::finiteOr0;
using controllerhelpers::onOff;
using controllerhelpers::sendTo;

const QString kPlayerDecksKey = QStringLiteral("players.decks");

// A stored port key: an optional sign, then decimal digits only, within 64 bits.
std::optional<std::int64_t> parsePort(const QString& key)
{
    qsizetype at = 0;
    bool negative = false;
    if (at < key.size() && (key[at] == u'+' || key[at] == u'-')) {
        negative = key[at] == u'-';
        ++at;
    }
    if (at == key.size())
        return std::nullopt;
    // Accumulated as a negative number so that INT64_MIN fits.
    std::int64_t value = 0;
    for (; at < key.size(); ++at) {
        const char16_t c = key[at].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = int(c - u'0');
        if (value < (INT64_MIN + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == INT64_MIN)
            return std::nullopt;
        value = -value;
    }
    return value;
}

QString hex(std::int64_t port)
{
    return port < 0 ? QStringLiteral("-") + QString::number(-(port + 1) + std::uint64_t(1), 16)
                    : QString::number(port, 16);
}

QString buttonName(const CDJButton& b)
{
    using K = CDJButton::Kind;
    switch (b.kind) {
    case K::search: return QStringLiteral("search(%1)").arg(b.step());
    case K::trackSearch: return QStringLiteral("trackSearch(%1)").arg(b.step());
    case K::beatJump: return QStringLiteral("beatJump(%1)").arg(b.step());
    case K::beatJumpBy: return formatText("beatJumpBy(%g)", b.amount);
    case K::beatLoop: return formatText("beatLoop(%g)", b.amount);
    case K::hotCue: return QStringLiteral("hotCue(%1)").arg(b.step());
    case K::keyShift: return QStringLiteral("keyShift(%1)").arg(b.step());
    case K::play: return QStringLiteral("play");
    case K::cue: return QStringLiteral("cue");
    case K::tempoReset: return QStringLiteral("tempoReset");
    case K::tempoRange: return QStringLiteral("tempoRange");
    case K::masterTempo: return QStringLiteral("masterTempo");
    case K::keySync: return QStringLiteral("keySync");
    case K::sync: return QStringLiteral("sync");
    case K::master: return QStringLiteral("master");
    case K::jogMode: return QStringLiteral("jogMode");
    case K::slipReverse: return QStringLiteral("slipReverse");
    case K::reverse: return QStringLiteral("reverse");
    case K::quantize: return QStringLiteral("quantize");
    case K::slip: return QStringLiteral("slip");
    case K::loopIn: return QStringLiteral("loopIn");
    case K::loopOut: return QStringLiteral("loopOut");
    case K::reloopExit: return QStringLiteral("reloopExit");
    case K::callNext: return QStringLiteral("callNext");
    case K::callPrevious: return QStringLiteral("callPrevious");
    case K::cueLoopDelete: return QStringLiteral("cueLoopDelete");
    case K::cueLoopMemory: return QStringLiteral("cueLoopMemory");
    case K::browsePress: return QStringLiteral("browsePress");
    case K::back: return QStringLiteral("back");
    case K::tagTrack: return QStringLiteral("tagTrack");
    case K::trackFilter: return QStringLiteral("trackFilter");
    case K::hotCueCallDelete: return QStringLiteral("hotCueCallDelete");
    case K::keyReset: return QStringLiteral("keyReset");
    }
    return QStringLiteral("button");
}

// The event for the player log: its case and its payload.
QString describe(const CDJEvent& event)
{
    if (const auto* e = std::get_if<CDJ::Button>(&event))
        return QStringLiteral("button(") + buttonName(e->button) + (e->down ? QStringLiteral(", down)")
                                                                             : QStringLiteral(", up)"));
    if (const auto* e = std::get_if<CDJ::Platter>(&event))
        return formatText("platter(speed: %g)", e->speed);
    if (const auto* e = std::get_if<CDJ::JogSide>(&event))
        return formatText("jogSide(speed: %g)", e->speed);
    if (const auto* e = std::get_if<CDJ::JogTouch>(&event))
        return e->down ? QStringLiteral("jogTouch(true)") : QStringLiteral("jogTouch(false)");
    if (const auto* e = std::get_if<CDJ::Tempo>(&event))
        return formatText("tempo(%g)", e->value);
    if (const auto* e = std::get_if<CDJ::Needle>(&event))
        return e->position ? formatText("needle(%g)", *e->position) : QStringLiteral("needle(none)");
    if (const auto* e = std::get_if<CDJ::Browse>(&event))
        return QStringLiteral("browse(%1)").arg(e->delta);
    return QStringLiteral("event");
}

} // namespace

// --- Routing.

std::map<std::int64_t, int> ControllerModel::savedPlayerDecks(const UserDefaults& defaults)
{
    const std::optional<QJsonValue> stored = defaults.json(kPlayerDecksKey);
    if (!stored || !stored->isObject())
        return {};
    const QJsonObject object = stored->toObject();
    std::map<std::int64_t, int> decks;
    std::set<std::int64_t> canonical;
    // Keys come in sorted order: the first spelling of a port wins, unless
    // its canonical decimal spelling comes later.
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::optional<std::int64_t> deck = jsonInteger(it.value());
        if (!deck)
            return {};
        const std::optional<std::int64_t> port = parsePort(it.key());
        if (!port)
            continue;
        const int value = int(std::clamp<std::int64_t>(*deck, INT_MIN, INT_MAX));
        const bool isCanonical = it.key() == QString::number(*port);
        if (canonical.contains(*port))
            continue;
        if (isCanonical) {
            canonical.insert(*port);
            decks[*port] = value;
        } else {
            decks.try_emplace(*port, value);
        }
    }
    return decks;
}

void ControllerModel::setSavedPlayerDecks(UserDefaults& defaults, const std::map<std::int64_t, int>& decks)
{
    QJsonObject object;
    for (const auto& [port, deck] : decks)
        object.insert(QString::number(port), deck);
    defaults.setJson(kPlayerDecksKey, object);
}

std::optional<int> ControllerModel::playerDeck(std::int64_t port) const
{
    const auto found = playerDecks_.find(port);
    if (found == playerDecks_.end())
        return std::nullopt;
    return found->second;
}

void ControllerModel::setPlayerDecks(std::map<std::int64_t, int> decks)
{
    if (playerDecks_ == decks)
        return;
    playerDecks_ = std::move(decks);
    emit playerDecksChanged();
}

void ControllerModel::rememberPlayerDecks()
{
    std::map<std::int64_t, int> saved = savedPlayerDecks(defaults_);
    for (const auto& [port, deck] : playerDecks_)
        saved[port] = deck;
    setSavedPlayerDecks(defaults_, saved);
}

void ControllerModel::pushRig()
{
    if (!host_)
        return;
    std::vector<AudioSystem::RigPlayer> rig;
    for (const Player& player : players_)
        if (const std::optional<int> deck = playerDeck(player.port))
            rig.push_back({player.port, *deck, player.model});
    host_->setPlayerRig(std::move(rig));
}

void ControllerModel::updatePlayers(const std::vector<Player>& players)
{
    // A player that leaves while its search key is held can no longer
    // release it: end that search as the release would.
    for (std::size_t d = 0; d < 4; ++d) {
        if (!searchingPort_[d])
            continue;
        const std::int64_t port = *searchingPort_[d];
        if (std::none_of(players.begin(), players.end(), [port](const Player& p) { return p.port == port; })) {
            searching_[d] = 0;
            searchingPort_[d].reset();
        }
    }
    // Nor can it release its delete key: it comes back calling cues.
    for (auto it = erasing_.begin(); it != erasing_.end();) {
        const std::int64_t port = it->first;
        if (std::none_of(players.begin(), players.end(), [port](const Player& p) { return p.port == port; }))
            it = erasing_.erase(it);
        else
            ++it;
    }
    if (players_ != players) {
        players_ = players;
        emit playersChanged();
    }
    std::vector<std::int64_t> ports;
    for (const Player& player : players_)
        ports.push_back(player.port);
    setPlayerDecks(PlayerRouting::assignDecks(ports, savedPlayerDecks(defaults_)));
    rememberPlayerDecks();
    pushRig();
    if (!host_)
        return;
    if (players_.empty()) {
        note(QStringLiteral("players: none"));
        scheduler_.cancel(playerTimer_);
        playerTimer_ = 0;
        return;
    }
    setLastSeen(players_.size() >= 3 ? ControllerKind::flx10 : ControllerKind::flx4);
    QStringList items;
    for (const Player& player : players_) {
        const std::string_view model = PlayerModels::model(player.model);
        const std::optional<int> deck = playerDeck(player.port);
        items << QString::fromLatin1(model.data(), qsizetype(model.size())) + QStringLiteral(" port ")
                     + hex(player.port) + QStringLiteral(" → deck ") + QString::number(deck ? *deck + 1 : 0);
    }
    note(QStringLiteral("players: ") + items.join(QStringLiteral(", ")));
    if (playerTimer_ == 0) {
        QPointer<ControllerModel> self(this);
        playerTimer_ = scheduler_.runEvery(kPlayerInterval, [self] {
            if (self)
                self->playerTick();
        });
    }
}

void ControllerModel::swapPlayers()
{
    if (players_.size() < 2)
        return;
    const std::int64_t first = players_[0].port;
    const std::int64_t second = players_[1].port;
    const std::optional<int> a = playerDeck(first);
    const std::optional<int> b = playerDeck(second);
    if (!a || !b)
        return;
    std::map<std::int64_t, int> decks = playerDecks_;
    decks[first] = *b;
    decks[second] = *a;
    setPlayerDecks(std::move(decks));
    rememberPlayerDecks();
    pushRig();
}

// --- Events.

void ControllerModel::handle(const std::vector<MIDIHub::PlayerEvent>& events)
{
    if (!host_)
        return;
    const bool logging = qEnvironmentVariableIsSet("KAVRI_PLAYER_LOG");
    for (const MIDIHub::PlayerEvent& event : events) {
        // The host can go during an action; later events are dropped.
        if (!host_)
            return;
        const std::optional<int> deck = playerDeck(event.port);
        if (!deck || *deck < 0 || *deck > 3)
            continue;
        if (logging)
            note(QStringLiteral("player ") + hex(event.port) + QStringLiteral(" deck ") + QString::number(*deck + 1)
                 + QStringLiteral(": ") + describe(event.event));
        handsOn();
        touch(*deck);
        handlePlayerEvent(event, *deck, *host_);
    }
}

void ControllerModel::handlePlayerEvent(const MIDIHub::PlayerEvent& event, int d, ControllerHost& host)
{
    DeckModel& deck = host.deck(d);
    if (const auto* e = std::get_if<CDJ::Button>(&event.event)) {
        playerButton(e->button, e->down, deck, event.port, host);
    } else if (const auto* e = std::get_if<CDJ::Platter>(&event.event)) {
        const double t = elapsed(event, JogKind::platter);
        if (!deck.live().jogTouched && deck.live().playing)
            bend(deck, e->speed);
        else
            sendTo(deck, DeckCommand::jogScrub(t * e->speed));
    } else if (const auto* e = std::get_if<CDJ::JogSide>(&event.event)) {
        if (deck.live().playing) {
            bend(deck, e->speed);
        } else {
            const double t = elapsed(event, JogKind::side);
            sendTo(deck, DeckCommand::jogScrub(t * e->speed * 0.5));
        }
    } else if (const auto* e = std::get_if<CDJ::JogTouch>(&event.event)) {
        // Outside vinyl mode a touch is not sent, so the platter keeps bending.
        if (deck.vinyl() || !e->down)
            sendTo(deck, DeckCommand::jogTouch(e->down));
        setJogHeld(d, e->down && deck.vinyl());
        // The next jog message of this player counts as its first.
        platterAt_.erase({event.port, JogKind::platter});
        platterAt_.erase({event.port, JogKind::side});
    } else if (const auto* e = std::get_if<CDJ::Tempo>(&event.event)) {
        const double v = e->value;
        deck.setTempoFader(std::abs(v) < 0.012 ? 0.0 : v);
        echoCard(QStringLiteral("tempo") + QString::number(d), d,
                 QStringLiteral("deck ") + QString::number(d + 1) + QStringLiteral(" tempo"),
                 formatText("%+.2f%%", (deck.tempoRatio() - 1.0) * 100.0), (v + 1.0) * 0.5, true);
    } else if (const auto* e = std::get_if<CDJ::Needle>(&event.event)) {
        if (!e->position || deck.live().playing)
            return;
        if (const std::shared_ptr<DeckVoice> voice = deck.voice()) {
            const double duration = voice->state().duration.load();
            if (duration > 0 && std::isfinite(duration))
                voice->send(DeckCommand::seek(duration * std::clamp(*e->position, 0.0, 1.0)));
        }
    } else if (const auto* e = std::get_if<CDJ::Browse>(&event.event)) {
        setBrowsedAt(scheduler_.uptime());
        stepSelection(e->delta, host);
    }
}

double ControllerModel::elapsed(const MIDIHub::PlayerEvent& event, JogKind kind)
{
    const auto key = std::make_pair(event.port, kind);
    const auto found = platterAt_.find(key);
    const std::optional<double> previous
        = found != platterAt_.end() ? std::optional(found->second) : std::nullopt;
    platterAt_[key] = event.at;
    if (!previous)
        return 0.01;
    const double t = event.at - *previous;
    return std::isfinite(t) ? std::clamp(t, 0.0, 0.05) : 0.0;
}

void ControllerModel::bend(DeckModel& deck, double speed)
{
    const std::size_t i = std::size_t(deck.index());
    sendTo(deck, DeckCommand::jogBend(std::clamp(finiteOr0(speed) * 0.04, -0.5, 0.5)));
    lastBend_[i] = wallSeconds();
    bending_[i] = true;
}

void ControllerModel::playerTick()
{
    if (!host_)
        return;
    for (int i = 0; i < 4; ++i) {
        if (searching_[std::size_t(i)] == 0)
            continue;
        DeckModel& deck = host_->deck(i);
        if (const std::shared_ptr<DeckVoice> voice = deck.voice()) {
            const double position = finiteOr0(voice->state().position.load());
            voice->send(DeckCommand::seek(std::max(0.0, position + searching_[std::size_t(i)] * 4.0 / 30.0)));
        }
    }
    const double now = wallSeconds();
    for (int i = 0; i < 4; ++i) {
        if (bending_[std::size_t(i)] && now - lastBend_[std::size_t(i)] > kPlayerBendRelease) {
            bending_[std::size_t(i)] = false;
            sendTo(host_->deck(i), DeckCommand::jogBend(0));
        }
    }
}

// --- Buttons.

void ControllerModel::playerButton(CDJButton button, bool down, DeckModel& deck, std::int64_t port,
                                   ControllerHost& host)
{
    using K = CDJButton::Kind;
    const int i = deck.index();
    const std::size_t di = std::size_t(i);
    const QString n = QString::number(i);
    ChannelModel& channel = host.mixer().channel(i);

    // Keys that act on both edges.
    switch (button.kind) {
    case K::search: {
        const int dir = button.amount > 0 ? 1 : button.amount < 0 ? -1 : 0;
        searching_[di] = down ? dir : 0;
        searchingPort_[di] = down && dir != 0 ? std::optional(port) : std::nullopt;
        return;
    }
    case K::hotCue: {
        const int cue = button.step();
        if (cue < 0 || cue > 7)
            return;
        if (erasing_[port]) {
            if (down) {
                deck.deleteHotCue(cue);
                echoCard(QStringLiteral("cue") + n, i, QStringLiteral("hot cue ") + QChar(u'A' + cue),
                         QStringLiteral("deleted"));
            }
            return;
        }
        sendTo(deck, DeckCommand::hotCue(cue, down));
        return;
    }
    case K::cue: deck.cue(down); return;
    case K::slipReverse: deck.setReverse(down); return;
    case K::hotCueCallDelete: erasing_[port] = down; return;
    default: break;
    }
    if (!down)
        return;

    auto keyText = [&](const QString& zero) {
        return deck.keyShift() == 0 ? zero : formatText("%+d", deck.keyShift());
    };
    switch (button.kind) {
    case K::trackSearch:
        if (button.amount >= 0 && loadNeighbour(deck, host))
            break;
        sendTo(deck, DeckCommand::seek(0));
        break;
    case K::beatJump: deck.beatJump(button.amount); break;
    case K::beatJumpBy: {
        const double beats = button.amount;
        deck.setBeatJumpBeats(std::abs(beats));
        deck.beatJump(beats < 0 ? -1 : 1);
        break;
    }
    case K::beatLoop: {
        const double beats = button.amount;
        if (deck.live().loopActive && std::abs(deck.autoLoopBeats() - beats) < 1e-9) {
            sendTo(deck, DeckCommand::reloopExit());
        } else {
            deck.setAutoLoopBeats(beats);
            deck.autoLoop();
        }
        break;
    }
    case K::keyShift:
        deck.setKeyShift(std::clamp(deck.keyShift() + button.step(), -12, 12));
        echoCard(QStringLiteral("key") + n, i, QStringLiteral("key"), keyText(QStringLiteral("0")));
        break;
    case K::play: deck.playPause(); break;
    case K::tempoReset:
        deck.setTempoFader(0);
        echoCard(QStringLiteral("tempo") + n, i, QStringLiteral("deck ") + QString::number(i + 1) + QStringLiteral(" tempo"),
                 QStringLiteral("reset"));
        break;
    case K::tempoRange:
        deck.cycleTempoRange();
        echoCard(QStringLiteral("range") + n, i, QStringLiteral("tempo range"), tempoRangeLabel(deck.tempoRange()));
        break;
    case K::masterTempo:
        deck.setKeyLock(!deck.keyLock());
        echoCard(QStringLiteral("key") + n, i, QStringLiteral("master tempo"), onOff(deck.keyLock()));
        break;
    case K::keySync:
        host.keySync(i);
        echoCard(QStringLiteral("key") + n, i, QStringLiteral("key sync"), keyText(QStringLiteral("off")));
        break;
    case K::sync:
        channel.setSync(!channel.sync());
        echoCard(QStringLiteral("sync") + n, i, QStringLiteral("sync"), onOff(channel.sync()));
        break;
    case K::master:
        if (const std::shared_ptr<MixerParams> params = host.mixer().params())
            params->masterRequest.store(i);
        echoCard(QStringLiteral("sync") + n, i, QStringLiteral("sync"), QStringLiteral("master"));
        break;
    case K::jogMode:
        deck.setVinyl(!deck.vinyl());
        echoCard(QStringLiteral("jog") + n, i, QStringLiteral("jog mode"),
                 deck.vinyl() ? QStringLiteral("vinyl") : QStringLiteral("cdj"));
        break;
    case K::reverse: deck.setReverse(!deck.reverse()); break;
    case K::quantize: deck.setQuantize(!deck.quantize()); break;
    case K::slip: deck.setSlip(!deck.slip()); break;
    case K::loopIn: sendTo(deck, DeckCommand::loopIn()); break;
    case K::loopOut: sendTo(deck, DeckCommand::loopOut()); break;
    case K::reloopExit: sendTo(deck, DeckCommand::reloopExit()); break;
    case K::callNext:
    case K::callPrevious: {
        const int step = button.kind == K::callNext ? 1 : -1;
        if (deck.isAI()) {
            host.stepTake(step);
            echoCard(QStringLiteral("take"), i, QStringLiteral("take"),
                     step > 0 ? QStringLiteral("next") : QStringLiteral("previous"));
        } else {
            callCue(deck, step);
        }
        break;
    }
    case K::cueLoopDelete:
        if (host.tourStep() != ControllerHost::TourStep::none) {
            host.tourBack();
        } else {
            host.aiSecondary();
            echoCard(QStringLiteral("ai"), i, QStringLiteral("zelvo-0"),
                     host.generationBusy() ? QStringLiteral("cancel") : QStringLiteral("re-roll"));
        }
        break;
    case K::cueLoopMemory:
        if (host.tourStep() != ControllerHost::TourStep::none) {
            host.tourNext();
        } else {
            host.aiPrimary();
            echoCard(QStringLiteral("ai"), i, QStringLiteral("zelvo-0"), host.aiStepTitle());
        }
        break;
    case K::browsePress: {
        const std::optional<QUuid> selected = host.selectedTrack();
        host.load(selected, i);
        setBrowsedAt(0);
        if (selected) {
            if (const std::optional<TrackRecord> record = host.track(*selected))
                echoCard(QStringLiteral("load") + n, i, QStringLiteral("loaded on deck ") + QString::number(i + 1),
                         record->title.toLower());
        }
        break;
    }
    case K::back:
        host.setBrowseOpen(!host.browseOpen());
        setBrowsedAt(0);
        break;
    case K::tagTrack:
        if (const std::optional<QUuid> selected = host.selectedTrack()) {
            host.enqueue(*selected);
            echoCard(QStringLiteral("queue"), std::nullopt, QStringLiteral("queue"), QStringLiteral("added"));
        }
        break;
    case K::trackFilter: {
        using S = ControllerHost::BrowserSort;
        const S next = S((int(host.browserSort()) + 1) % (int(S::harmony) + 1));
        host.setBrowserSort(next);
        echoCard(QStringLiteral("sort"), std::nullopt, QStringLiteral("order"), host.browserSortLabel(next).toLower());
        break;
    }
    case K::keyReset:
        deck.setKeyShift(0);
        echoCard(QStringLiteral("key") + n, i, QStringLiteral("key"), QStringLiteral("reset"));
        break;
    case K::search:
    case K::hotCue:
    case K::cue:
    case K::slipReverse:
    case K::hotCueCallDelete: break;
    }
}

bool ControllerModel::loadNeighbour(DeckModel& deck, ControllerHost& host)
{
    const std::vector<QUuid> list = host.browserTracks();
    if (!deck.track())
        return false;
    const auto found = std::find(list.begin(), list.end(), deck.track()->id);
    if (found == list.end() || found + 1 == list.end())
        return false;
    const QUuid next = *(found + 1);
    host.setSelectedTrack(next);
    host.load(next, deck.index());
    return true;
}

} // namespace zelvo
