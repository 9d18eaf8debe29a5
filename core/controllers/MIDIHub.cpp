#include "controllers/MIDIHub.h"

#include "controllers/CDJDecoder.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace zelvo {

namespace {

constexpr std::size_t maxWordsPerPacket = 64;
constexpr std::size_t initialQueue = 1024;

// A MIDI 1.0 channel-voice word (message type 2): status, data 1, data 2.
struct Triple {
    std::uint8_t status, data1, data2;
};

template <class F>
void forEachChannelWord(MidiEventList events, F&& f)
{
    for (const auto& packet : events) {
        const std::size_t n = std::min<std::size_t>(packet.wordCount, maxWordsPerPacket);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t w = packet.words[i];
            if ((w >> 28) != 0x2)
                continue;
            f(Triple{std::uint8_t(w >> 16), std::uint8_t((w >> 8) & 0x7F), std::uint8_t(w & 0x7F)});
        }
    }
}

bool anyChannelWord(MidiEventList events)
{
    bool any = false;
    forEachChannelWord(events, [&](Triple) { any = true; });
    return any;
}

template <class F>
MIDIHub::Task makeTask(std::weak_ptr<MIDIHub*> self, F f)
{
    return std::make_shared<const std::function<void()>>([self, f] {
        if (auto hub = self.lock())
            f(**hub);
    });
}

} // namespace

MIDIHub::MainPoster MIDIHub::qtMainPoster()
{
    return [](Task task) {
        if (!QCoreApplication::instance())
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [task] { (*task)(); }, Qt::QueuedConnection);
    };
}

MIDIHub::MIDIHub(std::shared_ptr<MidiSystem> system, Scheduler& scheduler, MainPoster post)
    : system_(std::move(system))
    , scheduler_(scheduler)
    , post_(std::move(post))
    , self_(std::make_shared<MIDIHub*>(this))
{
    drainTask_ = makeTask(self_, [](MIDIHub& hub) { hub.drain(); });
    rescanTask_ = makeTask(self_, [](MIDIHub& hub) { hub.rescan(); });
    pending_.reserve(initialQueue);
    pendingPlayer_.reserve(initialQueue);
    drainEvents_.reserve(initialQueue);
    drainPlayerEvents_.reserve(initialQueue);
}

MIDIHub::~MIDIHub()
{
    if (keepAlive_)
        scheduler_.cancel(keepAlive_);
    if (started_) {
        if (source_)
            system_->disconnectSource(source_);
        for (const auto& [endpoint, port] : playerSources_)
            system_->disconnectSource(endpoint);
        system_->disposeClient();
    }
    self_.reset();
}

void MIDIHub::start()
{
    if (started_)
        return;
    started_ = true;
    system_->createClient("kavri zelvo", [this](int id) {
        if (id == MidiSystem::setupChanged)
            post_(rescanTask_);
    });
    system_->createInputPort("kavri zelvo in",
                             [this](MidiEventList events, std::uint64_t ref) { receive(events, ref); });
    system_->createOutputPort("kavri zelvo out");
    rescan();
}

std::int64_t MIDIHub::portOf(MidiSystem& system, MidiSystem::Endpoint source)
{
    if (auto location = system.usbLocation(source); location && *location != 0)
        return std::int64_t(*location);
    return std::int64_t(system.uniqueId(source).value_or(0));
}

void MIDIHub::rescan()
{
    if (!started_)
        return;
    MidiSystem::Endpoint found = 0;
    MidiSystem::Endpoint foundDestination = 0;
    std::optional<Connection> next;
    for (auto s : system_->sources()) {
        auto name = system_->displayName(s).value_or("");
        if (auto kind = ControllerKinds::match(name)) {
            found = s;
            next = Connection{*kind, std::move(name)};
            break;
        }
    }
    if (next) {
        for (auto d : system_->destinations()) {
            if (ControllerKinds::match(system_->displayName(d).value_or("")) == next->kind) {
                foundDestination = d;
                break;
            }
        }
    }
    scanPlayers(next.has_value());

    if (next && found == source_ && connection_ == next) {
        // The same controller: nothing changes but a destination that came
        // back under a new reference, so feedback keeps reaching it.
        destination_ = foundDestination;
        return;
    }
    if (source_)
        system_->disconnectSource(source_);
    if (keepAlive_) {
        scheduler_.cancel(keepAlive_);
        keepAlive_ = 0;
    }
    source_ = found;
    destination_ = foundDestination;
    {
        std::lock_guard lock(mutex_);
        if (next)
            decoder_.emplace(next->kind);
        else
            decoder_.reset();
        pending_.clear();
    }
    connection_ = next;
    if (next) {
        system_->connectSource(source_, 0);
        sendKeepAlive();
        keepAlive_ = scheduler_.runEvery(0.2, [this] { sendKeepAlive(); });
    }
    if (onConnection)
        onConnection(connection_);
}

void MIDIHub::scanPlayers(bool controllerFound)
{
    std::map<MidiSystem::Endpoint, Player> found;
    if (!controllerFound) {
        for (auto s : system_->sources()) {
            auto name = system_->displayName(s).value_or("");
            if (auto model = PlayerModels::match(name))
                found.emplace(s, Player{*model, std::move(name), portOf(*system_, s)});
        }
    }
    for (const auto& [endpoint, port] : playerSources_) {
        if (!found.contains(endpoint))
            system_->disconnectSource(endpoint);
    }
    for (const auto& [endpoint, player] : found) {
        if (!playerSources_.contains(endpoint))
            system_->connectSource(endpoint, std::uint64_t(player.port) + 1);
    }
    playerSources_.clear();
    std::vector<Player> sorted;
    for (const auto& [endpoint, player] : found) {
        playerSources_.emplace(endpoint, player.port);
        sorted.push_back(player);
    }
    // The map orders by endpoint, the system's own order; ports sort stably on top.
    std::stable_sort(sorted.begin(), sorted.end(), [](const Player& a, const Player& b) { return a.port < b.port; });
    if (sorted != players_) {
        players_ = std::move(sorted);
        if (onPlayers)
            onPlayers(players_);
    }
}

void MIDIHub::sendKeepAlive()
{
    if (!connection_)
        return;
    const auto& bytes = ControllerKinds::keepAlive(connection_->kind);
    send(bytes);
}

void MIDIHub::send(std::span<const std::uint8_t> bytes)
{
    if (!destination_ || bytes.empty())
        return;
    system_->send(destination_, bytes);
}

void MIDIHub::receive(MidiEventList events, std::uint64_t connectionRef)
{
    if (connectionRef == 0)
        receiveController(events);
    else
        receivePlayer(events, std::int64_t(connectionRef - 1));
}

void MIDIHub::receiveController(MidiEventList events)
{
    if (!anyChannelWord(events))
        return;
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        if (!decoder_)
            return;
        forEachChannelWord(events, [&](Triple t) {
            if (auto e = decoder_->decode(t.status, t.data1, t.data2))
                pending_.push_back(*e);
        });
        if (!pending_.empty() && !drainScheduled_) {
            drainScheduled_ = true;
            schedule = true;
        }
    }
    if (schedule)
        post_(drainTask_);
}

void MIDIHub::receivePlayer(MidiEventList events, std::int64_t port)
{
    const double at = scheduler_.uptime();
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        const std::size_t before = pendingPlayer_.size();
        forEachChannelWord(events, [&](Triple t) {
            if (auto e = CDJDecoder::decode(t.status, t.data1, t.data2))
                pendingPlayer_.push_back({port, *e, at});
        });
        if (pendingPlayer_.size() > before && !drainScheduled_) {
            drainScheduled_ = true;
            schedule = true;
        }
    }
    if (schedule)
        post_(drainTask_);
}

void MIDIHub::drain()
{
    {
        std::lock_guard lock(mutex_);
        drainScheduled_ = false;
        // Swapping keeps both vectors' storage: the next burst fills the one
        // emptied by the previous drain.
        drainEvents_.clear();
        drainPlayerEvents_.clear();
        std::swap(drainEvents_, pending_);
        std::swap(drainPlayerEvents_, pendingPlayer_);
        coalesce(drainEvents_);
    }
    if (!drainEvents_.empty() && onEvents)
        onEvents(drainEvents_);
    if (!drainPlayerEvents_.empty() && onPlayerEvents)
        onPlayerEvents(drainPlayerEvents_);
}

void MIDIHub::coalesce(std::vector<DDJEvent>& events)
{
    if (events.size() < 2)
        return;
    std::size_t out = 1;
    for (std::size_t i = 1; i < events.size(); ++i) {
        DDJEvent& last = events[out - 1];
        const DDJEvent& e = events[i];
        bool merged = false;
        if (auto* b = std::get_if<DDJ::Browse>(&e)) {
            if (auto* l = std::get_if<DDJ::Browse>(&last)) {
                l->delta += b->delta;
                merged = true;
            }
        } else if (auto* j = std::get_if<DDJ::Jog>(&e)) {
            if (auto* l = std::get_if<DDJ::Jog>(&last); l && l->deck == j->deck && l->surface == j->surface) {
                l->delta += j->delta;
                merged = true;
            }
        } else if (auto* k = std::get_if<DDJ::Knob>(&e)) {
            if (auto* l = std::get_if<DDJ::Knob>(&last); l && l->knob == k->knob && l->deck == k->deck) {
                *l = *k;
                merged = true;
            }
        } else if (std::holds_alternative<DDJ::Crossfader>(e) || std::holds_alternative<DDJ::HeadphonesMix>(e)
                   || std::holds_alternative<DDJ::BeatFXLevel>(e)) {
            if (last.index() == e.index()) {
                last = e;
                merged = true;
            }
        }
        if (!merged)
            events[out++] = e;
    }
    events.resize(out);
}

} // namespace zelvo
