#include "controllers/CDJDecoder.h"
#include "controllers/DDJOut.h"
#include "controllers/MIDIHub.h"
#include "controllers/MidiSystemChoice.h"
#include "platform/LogSink.h"
#include "platform/VirtualMidiSystem.h"
#include "support/ControllerPrinting.h"
#include "support/RealtimeGuard.h"
#include "support/SimulatedControllers.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

namespace zelvo {
namespace {

using test::Release;
using test::SimulatedCdj;
using test::SimulatedDdj;

// The main queue of a test: tasks wait until the test pumps them.
class PumpQueue {
public:
    PumpQueue()
    {
        tasks_.reserve(64);
        running_.reserve(64);
    }
    MIDIHub::MainPoster poster()
    {
        return [this](MIDIHub::Task task) {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            maxQueued_ = std::max(maxQueued_, tasks_.size());
            ++posts_;
        };
    }
    // Runs what is queued now, and what that queues, until empty.
    int pump()
    {
        int ran = 0;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty())
                    return ran;
                std::swap(running_, tasks_);
            }
            for (auto& t : running_)
                (*t)();
            ran += int(running_.size());
            running_.clear();
        }
    }
    std::size_t maxQueued() const
    {
        std::lock_guard lock(mutex_);
        return maxQueued_;
    }
    int posts() const
    {
        std::lock_guard lock(mutex_);
        return posts_;
    }
    void resetMax()
    {
        std::lock_guard lock(mutex_);
        maxQueued_ = tasks_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<MIDIHub::Task> tasks_;
    std::vector<MIDIHub::Task> running_;
    std::size_t maxQueued_ = 0;
    int posts_ = 0;
};

struct Rig {
    std::shared_ptr<VirtualMidiSystem> midi = std::make_shared<VirtualMidiSystem>();
    ManualScheduler scheduler;
    PumpQueue main;
    std::unique_ptr<MIDIHub> hub;
    std::vector<std::optional<MIDIHub::Connection>> connections;
    std::vector<DDJEvent> events;
    int batches = 0;
    std::vector<std::vector<MIDIHub::Player>> playerLists;
    std::vector<MIDIHub::PlayerEvent> playerEvents;
    int playerBatches = 0;

    void start()
    {
        hub = std::make_unique<MIDIHub>(midi, scheduler, main.poster());
        hub->onConnection = [this](const auto& c) { connections.push_back(c); };
        hub->onEvents = [this](const auto& e) {
            events.insert(events.end(), e.begin(), e.end());
            ++batches;
        };
        hub->onPlayers = [this](const auto& p) { playerLists.push_back(p); };
        hub->onPlayerEvents = [this](const auto& e) {
            playerEvents.insert(playerEvents.end(), e.begin(), e.end());
            ++playerBatches;
        };
        hub->start();
    }
    // Delivers everything injected and notified, then runs the main queue.
    void settle()
    {
        midi->flush();
        main.pump();
    }
};

TEST(MIDIHub, AControllerConnectsAndIsKeptAwake)
{
    Rig rig;
    rig.start();
    ASSERT_EQ(rig.connections.size(), 1u);
    EXPECT_EQ(rig.connections[0], std::nullopt);

    rig.midi->addDevice({0, 1, VirtualMidiSystem::Port{"Midi Through Port-0"}, VirtualMidiSystem::Port{"Midi Through"}});
    SimulatedDdj ddj(*rig.midi, ControllerKind::flx10, "DDJ-FLX10 MIDI 1");
    rig.settle();
    // Both arrivals notified; the first rescan already saw the controller.
    ASSERT_EQ(rig.connections.size(), 2u);
    EXPECT_EQ(rig.connections.back(), (MIDIHub::Connection{ControllerKind::flx10, "DDJ-FLX10 MIDI 1"}));
    EXPECT_EQ(rig.midi->connections(), (std::map<MidiSystem::Endpoint, std::uint64_t>{{ddj.source(), 0}}));
    EXPECT_EQ(ddj.received().keepAlives.size(), 1u);
    rig.scheduler.advance(0.2);
    EXPECT_EQ(ddj.received().keepAlives.size(), 2u);
    rig.scheduler.advance(1.05);
    EXPECT_EQ(ddj.received().keepAlives.size(), 7u);

    // Unchanged setups, however often notified, change nothing and do not
    // restart the timer.
    rig.midi->setNotifyMode(VirtualMidiSystem::NotifyMode::duplicate);
    const auto other = rig.midi->addDevice({std::nullopt, 9, VirtualMidiSystem::Port{std::nullopt}, std::nullopt});
    rig.midi->setNotifyMode(VirtualMidiSystem::NotifyMode::stray);
    rig.midi->removeDevice(other);
    rig.settle();
    EXPECT_EQ(rig.connections.size(), 2u);
    EXPECT_EQ(ddj.received().keepAlives.size(), 7u);
    EXPECT_EQ(rig.scheduler.pending(), 1u);

    // A feedback pass reaches the controller whole, in order.
    std::vector<std::uint8_t> pass;
    for (const auto& m : {DDJOut::note(0, 0x0B, 0x7F), DDJOut::note(1, 0x0B, 0x00), DDJOut::meter(2, 0.5),
                          DDJOut::jogBPM(1, 128.0), DDJOut::jogKey(3, DDJOut::keyCode(9, true), -2)})
        pass.insert(pass.end(), m.begin(), m.end());
    rig.hub->send(pass);
    auto got = ddj.received();
    EXPECT_EQ(got.error, "");
    EXPECT_EQ((got.lamps.at({0x90, 0x0B})), 0x7F);
    EXPECT_EQ((got.lamps.at({0x91, 0x0B})), 0x00);
    EXPECT_EQ(got.meters.at(2), 64);
    EXPECT_EQ(got.jogValues.at(21), 1280);
    EXPECT_EQ(got.keys.at(3), (std::pair<std::uint8_t, std::uint8_t>{2, 11}));
    // Running status is not what the controller gets from us.
    const std::uint8_t running[] = {0x90, 0x0B, 0x7F, 0x0C, 0x7F};
    rig.hub->send(running);
    EXPECT_NE(ddj.received().error, "");
    EXPECT_EQ(ddj.received(false).error, "");

    // The destination vanishes between the scan and a send: the send is
    // dropped, then the rescan drops the controller.
    ddj.unplug();
    rig.hub->send(pass);
    EXPECT_EQ(rig.midi->droppedSends(), 1);
    ddj.replug();
    rig.settle();
    ddj.unplug();

    // Unplugged: none, and the keep-alive stops.
    rig.settle();
    EXPECT_EQ(rig.connections.back(), std::nullopt);
    EXPECT_EQ(rig.scheduler.pending(), 0u);
    EXPECT_TRUE(rig.midi->connections().empty());
    // Back under a new reference: connected again, keep-alive at once.
    ddj.replug();
    rig.settle();
    EXPECT_EQ(rig.connections.back(), (MIDIHub::Connection{ControllerKind::flx10, "DDJ-FLX10 MIDI 1"}));
    EXPECT_EQ(ddj.received().keepAlives.size(), 1u); // at its new destination
}

TEST(MIDIHub, WithoutAMatchingDestinationEventsArriveButNothingIsSent)
{
    for (std::optional<std::string> destination : {std::optional<std::string>{}, std::optional<std::string>{"DDJ-FLX4"}}) {
        Rig rig;
        // An FLX10 source next to an FLX4 destination: kinds differ, no feedback.
        SimulatedDdj ddj(*rig.midi, ControllerKind::flx10, "DDJ-FLX10", std::optional(destination));
        rig.start();
        ddj.press(0, 0x0B);
        rig.settle();
        rig.scheduler.advance(1.0);
        const std::uint8_t lamp[] = {0x90, 0x0B, 0x7F};
        rig.hub->send(lamp);
        EXPECT_EQ(rig.events, (std::vector<DDJEvent>{DDJ::Key{DeckKey::of(DeckKey::Kind::play), 0, false, true}}));
        if (destination) {
            EXPECT_TRUE(rig.midi->sent(rig.midi->destinations().front()).empty());
        }
        EXPECT_EQ(rig.midi->droppedSends(), 0);
    }
}

TEST(MIDIHub, PlayersByLocationOrUniqueIdSortedByPort)
{
    Rig rig;
    rig.start();
    SimulatedCdj a(*rig.midi, PlayerModel::cdj3000x, 0x21300000, 0, 0x99);
    SimulatedCdj b(*rig.midi, PlayerModel::cdj3000, std::nullopt, 3, 0x77);
    SimulatedCdj c(*rig.midi, PlayerModel::cdj3000x, 0, 9, 0x10, "cdj 3000 x #3");
    SimulatedCdj nameless(*rig.midi, PlayerModel::cdj3000, 0x11, 0, 0x12, std::nullopt);
    rig.midi->renameDevice(nameless.device(), std::nullopt, std::nullopt);
    rig.settle();
    using P = MIDIHub::Player;
    const std::vector<P> three = {{PlayerModel::cdj3000x, "cdj 3000 x #3", 0x10},
                                  {PlayerModel::cdj3000, "CDJ-3000", 0x77},
                                  {PlayerModel::cdj3000x, "CDJ-3000X", 0x21300000}};
    ASSERT_FALSE(rig.playerLists.empty());
    EXPECT_EQ(rig.playerLists.back(), three);
    EXPECT_EQ(rig.hub->players(), three);
    EXPECT_EQ(rig.midi->connections(), (std::map<MidiSystem::Endpoint, std::uint64_t>{
                                           {a.source(), 0x21300001}, {b.source(), 0x78}, {c.source(), 0x11}}));

    // The channel is ignored; each event carries its player's port and the time.
    rig.scheduler.advance(2.5);
    a.press(0);
    b.control(0x1D, 127);
    c.release(27, Release::noteOff);
    rig.settle();
    const double at = rig.scheduler.uptime();
    using E = MIDIHub::PlayerEvent;
    EXPECT_EQ(rig.playerEvents, (std::vector<E>{{0x21300000, CDJ::Button{CDJButton::of(CDJButton::Kind::play), true}, at},
                                                {0x77, CDJ::Tempo{1.0}, at},
                                                {0x10, CDJ::Button{CDJButton::of(CDJButton::Kind::hotCue, 0), false}, at}}));

    // Unplugging one drops it; a controller's arrival drops the rest.
    const auto lists = rig.playerLists.size();
    b.unplug();
    rig.settle();
    ASSERT_EQ(rig.playerLists.size(), lists + 1);
    EXPECT_EQ(rig.playerLists.back(), (std::vector<P>{three[0], three[2]}));
    SimulatedDdj ddj(*rig.midi, ControllerKind::flx4, "DDJ-FLX4");
    rig.settle();
    EXPECT_TRUE(rig.playerLists.back().empty());
    EXPECT_TRUE(rig.hub->players().empty());
    EXPECT_EQ(rig.midi->connections(), (std::map<MidiSystem::Endpoint, std::uint64_t>{{ddj.source(), 0}}));
    EXPECT_EQ(ddj.received().keepAlives.size(), 1u);
    EXPECT_EQ(rig.connections.back(), (MIDIHub::Connection{ControllerKind::flx4, "DDJ-FLX4"}));
    a.press(1);
    rig.settle();
    EXPECT_EQ(rig.playerEvents.size(), 3u);
}

// A channel-voice word.
std::uint32_t word(std::uint8_t status, std::uint8_t d1, std::uint8_t d2)
{
    return 0x20000000u | std::uint32_t(status) << 16 | std::uint32_t(d1) << 8 | d2;
}

TEST(MIDIHub, ReceivePathWalksWordsQueuesOneDrainAndCoalesces)
{
    Rig rig;
    SimulatedDdj ddj(*rig.midi, ControllerKind::flx4, "DDJ-FLX4");
    rig.start();
    rig.settle();

    // Only type-2 words count; a packet is read to its 64th word at most.
    std::vector<std::uint32_t> long_(100, 0x10F80000); // system real-time words
    long_[0] = word(0xB0, 0x13, 0x40);                  // fader MSB
    long_[63] = word(0xB0, 0x33, 0x00);                 // its LSB: read
    long_[64] = word(0x90, 0x0B, 0x7F);                 // past the cap: never read
    std::vector<std::uint32_t> mixed = {0x40903C00, 0x12345678, word(0x96, 0x65, 0x7F), 0x30160102};
    rig.midi->injectPackets(ddj.source(), {long_, mixed}, {100, 4});
    // Two more bursts before the main queue runs: still one drain.
    ddj.jog(0, JogSurface::platter, 3);
    ddj.jog(0, JogSurface::platter, -1);
    ddj.knob(0, 0x13, 1000);
    ddj.jog(0, JogSurface::platter, 2);
    ddj.knob(0, 0x13, 2000);
    ddj.knob(0, 0x13, 3000);
    ddj.browse(1);
    ddj.browse(-3);
    ddj.zoom(1);
    ddj.zoom(1);
    ddj.press(1, 0x0B);
    ddj.release(1, 0x0B, Release::noteOff);
    rig.midi->flush();
    EXPECT_EQ(rig.main.maxQueued(), 1u);
    rig.main.pump();
    EXPECT_EQ(rig.batches, 1);
    const auto fader = [](int v) { return DDJEvent(DDJ::Knob{MixerKnob::fader, 0, v / 16383.0}); };
    const std::vector<DDJEvent> want = {
        fader(64 * 128),
        DDJ::Back{},
        DDJ::Jog{0, JogSurface::platter, 2},
        fader(1000),
        DDJ::Jog{0, JogSurface::platter, 2},
        fader(3000),
        DDJ::Browse{-2},
        DDJ::Zoom{1},
        DDJ::Zoom{1},
        DDJ::Key{DeckKey::of(DeckKey::Kind::play), 1, false, true},
        DDJ::Key{DeckKey::of(DeckKey::Kind::play), 1, false, false},
    };
    EXPECT_EQ(rig.events, want);

    // A message that reaches the controller path with no controller connected
    // is dropped and queues nothing.
    ddj.unplug();
    rig.settle();
    const auto stray = rig.midi->addDevice({0, 5, VirtualMidiSystem::Port{"Keys"}, std::nullopt});
    rig.settle();
    rig.midi->connectSource(rig.midi->sourceOf(stray), 0);
    const int posts = rig.main.posts();
    const std::uint8_t play[] = {0x90, 0x0B, 0x7F};
    rig.midi->injectBytes(rig.midi->sourceOf(stray), play);
    rig.midi->flush();
    EXPECT_EQ(rig.main.posts(), posts);
    EXPECT_EQ(rig.events.size(), want.size());
}

TEST(MIDIHub, CoalescingMergesOnlyNeighbouringRunsOfOneControl)
{
    using V = std::vector<DDJEvent>;
    const auto knob = [](MixerKnob k, int deck, double v) { return DDJEvent(DDJ::Knob{k, deck, v}); };
    const auto jog = [](int deck, JogSurface s, int d) { return DDJEvent(DDJ::Jog{deck, s, d}); };
    struct Case {
        const char* what;
        V in, out;
    };
    const std::vector<Case> cases = {
        {"empty", {}, {}},
        {"one", {DDJ::Browse{1}}, {DDJ::Browse{1}}},
        {"fader twice", {knob(MixerKnob::fader, 0, 0.1), knob(MixerKnob::fader, 0, 0.2)}, {knob(MixerKnob::fader, 0, 0.2)}},
        {"fader, jog, fader",
         {knob(MixerKnob::fader, 0, 0.1), jog(0, JogSurface::platter, 1), knob(MixerKnob::fader, 0, 0.2)},
         {knob(MixerKnob::fader, 0, 0.1), jog(0, JogSurface::platter, 1), knob(MixerKnob::fader, 0, 0.2)}},
        {"other deck or knob", {knob(MixerKnob::fader, 0, 0.1), knob(MixerKnob::fader, 1, 0.2), knob(MixerKnob::low, 1, 0.3)},
         {knob(MixerKnob::fader, 0, 0.1), knob(MixerKnob::fader, 1, 0.2), knob(MixerKnob::low, 1, 0.3)}},
        {"jogs", {jog(1, JogSurface::side, 2), jog(1, JogSurface::side, 3), jog(1, JogSurface::platter, 4), jog(2, JogSurface::platter, 1)},
         {jog(1, JogSurface::side, 5), jog(1, JogSurface::platter, 4), jog(2, JogSurface::platter, 1)}},
        {"browse", {DDJ::Browse{1}, DDJ::Browse{1}, DDJ::Browse{-5}}, {DDJ::Browse{-3}}},
        {"zoom never", {DDJ::Zoom{1}, DDJ::Zoom{1}}, {DDJ::Zoom{1}, DDJ::Zoom{1}}},
        {"mixer singles", {DDJ::Crossfader{0.1}, DDJ::Crossfader{0.3}, DDJ::HeadphonesMix{0.5}, DDJ::HeadphonesMix{0.6},
                           DDJ::BeatFXLevel{0.2}, DDJ::BeatFXLevel{0.9}, DDJ::Crossfader{0.4}},
         {DDJ::Crossfader{0.3}, DDJ::HeadphonesMix{0.6}, DDJ::BeatFXLevel{0.9}, DDJ::Crossfader{0.4}}},
        {"keys never", {DDJ::Load{0}, DDJ::Load{0}}, {DDJ::Load{0}, DDJ::Load{0}}},
    };
    for (const auto& c : cases) {
        V events = c.in;
        MIDIHub::coalesce(events);
        EXPECT_EQ(events, c.out) << c.what;
    }
}

TEST(MIDIHub, AFloodLosesNothingAndTheReceiveCallbackStaysAllocationFree)
{
    Rig rig;
    SimulatedDdj ddj(*rig.midi, ControllerKind::flx10, "DDJ-FLX10");
    SimulatedCdj p1(*rig.midi, PlayerModel::cdj3000x, 0x100, 0, 1);
    rig.start();
    rig.settle();

    // Per deck: jog deltas injected, press/release sequence, last fader value.
    std::map<int, int> jogSum;
    std::map<int, std::vector<bool>> presses;
    std::map<int, int> lastFader;
    std::mt19937 random(7);
    std::vector<std::vector<std::uint8_t>> chunks;
    std::vector<std::uint8_t> chunk;
    for (int i = 0; i < 20000; ++i) {
        const int deck = int(random() % 4);
        switch (random() % 3) {
        case 0: {
            const int delta = int(random() % 11) - 5;
            jogSum[deck] += delta;
            chunk.insert(chunk.end(), {std::uint8_t(0xB0 | deck), 0x22, std::uint8_t(64 + delta)});
            break;
        }
        case 1: {
            const int v = int(random() % 16384);
            lastFader[deck] = v;
            chunk.insert(chunk.end(), {std::uint8_t(0xB0 | deck), 0x13, std::uint8_t(v >> 7),
                                       std::uint8_t(0xB0 | deck), 0x33, std::uint8_t(v & 0x7F)});
            ++i; // two messages
            break;
        }
        default: {
            const bool down = presses[deck].empty() || !presses[deck].back();
            presses[deck].push_back(down);
            chunk.insert(chunk.end(), {std::uint8_t(0x90 | deck), 0x58, std::uint8_t(down ? 0x7F : 0x00)});
        }
        }
        if (chunk.size() >= std::size_t(3 + random() % 90)) {
            chunks.push_back(std::move(chunk));
            chunk.clear();
        }
    }
    if (!chunk.empty())
        chunks.push_back(chunk);

    // Warm-up bursts as large as the whole flood size both queues' storage
    // (the hub swaps two), so no later gap between pumps can outgrow them.
    std::vector<std::uint8_t> warmUp;
    for (int k = 0; k < 20000; ++k)
        warmUp.insert(warmUp.end(), {0xB0, 0x1F, 0x40});
    for (int round = 0; round < 2; ++round) {
        ddj.raw(warmUp);
        for (int k = 0; k < 40; ++k)
            p1.control(0x10, 64);
        rig.settle();
    }
    rig.events.clear();
    rig.playerEvents.clear();
    rig.main.resetMax();

    std::atomic<bool> measuring{true};
    std::atomic<int> measured{0};
    rig.midi->setDeliveryWrapper([&](const std::function<void()>& deliver) {
        if (!measuring) {
            deliver();
            return;
        }
        test::AudioThreadScope receiveThread;
        deliver();
        ++measured;
    });
    test::RealtimeProbe probe;
    const int postsBefore = rig.main.posts();
    std::atomic<bool> done{false};
    std::thread injector([&] {
        for (const auto& c : chunks)
            ddj.raw(c);
        rig.midi->flush();
        done = true;
    });
    // Pump irregularly while the flood runs, never letting more than a few
    // chunks' worth wait (the warm-up sized the queues for that).
    while (!done) {
        rig.main.pump();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
    }
    injector.join();
    rig.main.pump();
    measuring = false;
    const auto counts = probe.counts();
    const int posts = rig.main.posts() - postsBefore;

    EXPECT_LE(rig.main.maxQueued(), 1u);
    std::map<int, int> gotJog;
    std::map<int, std::vector<bool>> gotPresses;
    std::map<int, int> gotFader;
    for (const auto& e : rig.events) {
        if (auto* j = std::get_if<DDJ::Jog>(&e))
            gotJog[j->deck] += j->delta;
        else if (auto* k = std::get_if<DDJ::Key>(&e))
            gotPresses[k->deck].push_back(k->down);
        else if (auto* f = std::get_if<DDJ::Knob>(&e))
            gotFader[f->deck] = int(std::lround(f->value * 16383));
    }
    EXPECT_EQ(gotJog, jogSum);
    EXPECT_EQ(gotPresses, presses);
    EXPECT_EQ(gotFader, lastFader);
    // The receive thread allocated and freed nothing; it locked the hub once
    // per delivery and the test's queue once per posted drain.
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    EXPECT_EQ(counts.locks, measured.load() + posts);
    EXPECT_EQ(measured.load(), int(chunks.size()));
}

TEST(MIDIHub, PlayerFloodKeepsEveryMessageInOrder)
{
    Rig rig;
    SimulatedCdj p1(*rig.midi, PlayerModel::cdj3000x, 0x100, 0);
    SimulatedCdj p2(*rig.midi, PlayerModel::cdj3000, 0x200, 7);
    rig.start();
    rig.settle();
    rig.main.resetMax();
    std::thread second([&] {
        for (int i = 0; i < 3000; ++i)
            p2.control(0x10, std::uint8_t(i % 128));
    });
    for (int i = 0; i < 3000; ++i) {
        p1.control(0x30, std::uint8_t(i % 128));
        if (i % 97 == 0)
            rig.main.pump();
    }
    second.join();
    rig.settle();
    EXPECT_LE(rig.main.maxQueued(), 1u);
    std::vector<double> side, platter;
    for (const auto& e : rig.playerEvents) {
        if (e.port == 0x100)
            side.push_back(std::get<CDJ::JogSide>(e.event).speed);
        else if (e.port == 0x200)
            platter.push_back(std::get<CDJ::Platter>(e.event).speed);
    }
    ASSERT_EQ(side.size(), 3000u);
    ASSERT_EQ(platter.size(), 3000u);
    for (int i = 0; i < 3000; ++i) {
        EXPECT_EQ(side[std::size_t(i)], CDJDecoder::sideSpeed(std::uint8_t(i % 128))) << i;
        EXPECT_EQ(platter[std::size_t(i)], CDJDecoder::platterSpeed(std::uint8_t(i % 128))) << i;
    }
}

TEST(MIDIHub, ADestroyedHubDisconnectsAndIgnoresItsQueuedDrain)
{
    Rig rig;
    SimulatedDdj ddj(*rig.midi, ControllerKind::flx4, "DDJ-FLX4");
    SimulatedCdj cdj(*rig.midi, PlayerModel::cdj3000x, 0x100, 0);
    rig.start();
    rig.settle();
    ddj.press(0, 0x0B);
    rig.midi->flush();
    rig.hub.reset();
    EXPECT_TRUE(rig.midi->connections().empty());
    rig.main.pump();
    EXPECT_TRUE(rig.events.empty());
    // Nothing reaches a destroyed hub, and its keep-alive has stopped.
    ddj.press(0, 0x0B);
    rig.settle();
    EXPECT_EQ(rig.scheduler.pending(), 0u);
}

TEST(MIDIHub, TheQtPosterRunsTasksOnTheMainThreadLater)
{
    const auto post = MIDIHub::qtMainPoster();
    std::vector<std::thread::id> ran;
    const auto task = std::make_shared<const std::function<void()>>([&] { ran.push_back(std::this_thread::get_id()); });
    std::thread receiveThread([&] { post(task); });
    receiveThread.join();
    post(task);
    EXPECT_TRUE(ran.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, (std::vector<std::thread::id>{std::this_thread::get_id(), std::this_thread::get_id()}));
}

struct Lines : LogSink {
    QStringList lines;
    void note(const QString& line) override { lines << line; }
};

TEST(MIDIHub, HeadlessRunsOnVirtualDevicesNamedInTheEnvironment)
{
    const char* saved = std::getenv("KAVRI_VIRTUAL_MIDI");
    const std::string restore = saved ? saved : "";
    ::setenv("KAVRI_VIRTUAL_MIDI", " CDJ-3000X@21300000, DDJ-FLX4 ,,CDJ-3000@zz, CDJ-3000@0", 1);
    Lines log;
    auto system = openMidiSystem(&log);
    if (saved)
        ::setenv("KAVRI_VIRTUAL_MIDI", restore.c_str(), 1);
    else
        ::unsetenv("KAVRI_VIRTUAL_MIDI");
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines[0].startsWith("controller: midi on virtual ports")) << log.lines[0].toStdString();
    ASSERT_EQ(system->name(), "virtual MIDI");

    // Four devices: the player with its location, the controller with both
    // ports, a name whose location does not parse, and one at location 0.
    const auto sources = system->sources();
    ASSERT_EQ(sources.size(), 4u);
    ASSERT_EQ(system->destinations().size(), 1u);
    EXPECT_EQ(system->displayName(sources[0]), "CDJ-3000X");
    EXPECT_EQ(system->usbLocation(sources[0]), 0x21300000u);
    EXPECT_EQ(system->displayName(sources[1]), "DDJ-FLX4");
    EXPECT_EQ(system->displayName(system->destinations()[0]), "DDJ-FLX4");
    EXPECT_EQ(system->displayName(sources[2]), "CDJ-3000@zz");
    EXPECT_EQ(system->usbLocation(sources[3]), 0u);
    EXPECT_NE(system->uniqueId(sources[2]), system->uniqueId(sources[3]));

    ManualScheduler scheduler;
    PumpQueue main;
    MIDIHub hub(system, scheduler, main.poster());
    hub.start();
    ASSERT_TRUE(hub.connection());
    EXPECT_EQ(hub.connection()->kind, ControllerKind::flx4);
    EXPECT_TRUE(hub.players().empty());

    // Without the variable the sequencer is tried; a machine without one
    // falls back to virtual ports with no devices.
    ::unsetenv("KAVRI_VIRTUAL_MIDI");
    Lines second;
    auto fallback = openMidiSystem(&second);
    if (saved)
        ::setenv("KAVRI_VIRTUAL_MIDI", restore.c_str(), 1);
    ASSERT_EQ(second.lines.size(), 1);
    if (fallback->name() == "virtual MIDI") {
        EXPECT_TRUE(second.lines[0].contains("no sequencer")) << second.lines[0].toStdString();
        EXPECT_TRUE(fallback->sources().empty());
    } else {
        EXPECT_EQ(second.lines[0], "controller: midi through the ALSA sequencer");
    }
}

} // namespace
} // namespace zelvo
