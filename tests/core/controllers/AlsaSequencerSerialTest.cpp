// The hub on the kernel's ALSA sequencer, against a second sequencer client of
// our own standing in for a DDJ-FLX4: the announce port's notice makes the hub
// rescan and connect, the peer's channel message arrives as a universal packet
// and a decoded event, and the keep-alive SysEx and a whole feedback slice
// reach the peer byte for byte. Machines without a sequencer skip it, saying so.
// Serial: a second run at the same time would offer the hub two controllers.
#include "controllers/DDJOut.h"
#include "controllers/MIDIHub.h"
#include "platform/AlsaMidiSystem.h"
#include "support/ControllerPrinting.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace zelvo {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(5);

// The main queue of the test: the hub posts, the test runs the tasks.
class MainQueue {
public:
    MIDIHub::MainPoster poster()
    {
        return [this](MIDIHub::Task task) {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            posted_.notify_all();
        };
    }
    // Runs posted tasks until `done` holds or the patience runs out.
    bool runUntil(const std::function<bool()>& done)
    {
        const auto deadline = Clock::now() + kPatience;
        for (;;) {
            std::vector<MIDIHub::Task> running;
            {
                std::unique_lock lock(mutex_);
                if (done())
                    return true;
                if (!posted_.wait_until(lock, deadline, [&] { return !tasks_.empty(); }))
                    return done();
                running.swap(tasks_);
            }
            for (const auto& task : running)
                (*task)();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::vector<MIDIHub::Task> tasks_;
};

// The hub's MIDI system under a client name of its own, so the peer can tell
// this hub's messages from any other program's. It also keeps the words of
// every delivery the hub receives.
class NamedSystem final : public MidiSystem {
public:
    NamedSystem(std::shared_ptr<MidiSystem> inner, std::string clientName)
        : inner_(std::move(inner)), clientName_(std::move(clientName))
    {
    }
    std::string name() const override { return inner_->name(); }
    bool createClient(const std::string&, NotifyCallback notify) override
    {
        return inner_->createClient(clientName_, std::move(notify));
    }
    bool createInputPort(const std::string& name, ReceiveCallback receive) override
    {
        return inner_->createInputPort(name, [this, receive](MidiEventList events, std::uint64_t ref) {
            {
                std::lock_guard lock(mutex_);
                for (const MidiPacket& packet : events)
                    words_.insert(words_.end(), packet.words, packet.words + packet.wordCount);
            }
            receive(events, ref);
        });
    }
    bool createOutputPort(const std::string& name) override { return inner_->createOutputPort(name); }
    void disposeClient() override { inner_->disposeClient(); }
    std::vector<Endpoint> sources() override { return inner_->sources(); }
    std::vector<Endpoint> destinations() override { return inner_->destinations(); }
    std::optional<std::string> displayName(Endpoint e) override { return inner_->displayName(e); }
    std::optional<std::uint32_t> usbLocation(Endpoint e) override { return inner_->usbLocation(e); }
    std::optional<std::uint32_t> uniqueId(Endpoint e) override { return inner_->uniqueId(e); }
    bool connectSource(Endpoint source, std::uint64_t ref) override { return inner_->connectSource(source, ref); }
    void disconnectSource(Endpoint source) override { inner_->disconnectSource(source); }
    void send(Endpoint destination, std::span<const std::uint8_t> bytes) override
    {
        inner_->send(destination, bytes);
    }

    std::vector<std::uint32_t> words() const
    {
        std::lock_guard lock(mutex_);
        return words_;
    }

private:
    std::shared_ptr<MidiSystem> inner_;
    std::string clientName_;
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> words_;
};

// A second sequencer client: one port that sends and receives, named like a
// controller.
class Peer {
public:
    ~Peer()
    {
        if (decoder_)
            snd_midi_event_free(decoder_);
        if (seq_)
            snd_seq_close(seq_);
    }

    // Opens the client; false with `error` set when the sequencer refuses.
    bool open(std::string& error)
    {
        int r = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
        if (r < 0) {
            seq_ = nullptr;
            error = snd_strerror(r);
            return false;
        }
        r = snd_midi_event_new(1024, &decoder_);
        if (r < 0) {
            decoder_ = nullptr;
            error = snd_strerror(r);
            return false;
        }
        // Every message with its own status byte, as it was sent.
        snd_midi_event_no_status(decoder_, 1);
        return true;
    }

    // Names the client and adds the port: the hub sees a new source and destination.
    bool plug(const std::string& clientName, const std::string& portName)
    {
        if (snd_seq_set_client_name(seq_, clientName.c_str()) < 0)
            return false;
        port_ = snd_seq_create_simple_port(seq_, portName.c_str(),
                                           SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                               | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);
        return port_ >= 0;
    }

    // A note on to everyone subscribed to the port.
    bool noteOn(int channel, int note, int velocity)
    {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, port_);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_ev_set_noteon(&ev, channel, note, velocity);
        return snd_seq_event_output_direct(seq_, &ev) >= 0;
    }

    // Reads what clients named `from` sent to the port, as MIDI bytes, until
    // `count` bytes have come or the patience runs out.
    std::vector<std::uint8_t> receive(const std::string& from, std::size_t count)
    {
        std::vector<std::uint8_t> bytes;
        const int n = snd_seq_poll_descriptors_count(seq_, POLLIN);
        std::vector<pollfd> fds(std::size_t(std::max(n, 0)));
        snd_seq_poll_descriptors(seq_, fds.data(), unsigned(fds.size()), POLLIN);
        const auto deadline = Clock::now() + kPatience;
        while (bytes.size() < count && Clock::now() < deadline) {
            snd_seq_event_t* ev = nullptr;
            const int r = snd_seq_event_input(seq_, &ev);
            if (r == -EAGAIN || r == -EWOULDBLOCK) {
                ::poll(fds.data(), fds.size(), 50);
                continue;
            }
            if (r < 0 || !ev || ev->dest.port != port_ || !sentBy(ev->source.client, from))
                continue;
            unsigned char buffer[1024];
            const long written = snd_midi_event_decode(decoder_, buffer, sizeof buffer, ev);
            if (written > 0)
                bytes.insert(bytes.end(), buffer, buffer + written);
        }
        return bytes;
    }

private:
    bool sentBy(int client, const std::string& name)
    {
        snd_seq_client_info_t* info;
        snd_seq_client_info_alloca(&info);
        return snd_seq_get_any_client_info(seq_, client, info) >= 0 && snd_seq_client_info_get_name(info) == name;
    }

    snd_seq_t* seq_ = nullptr;
    snd_midi_event_t* decoder_ = nullptr;
    int port_ = -1;
};

TEST(AlsaSequencer, TheHubFindsHearsAndFeedsAControllerOnTheKernelsSequencer)
{
    if (!std::filesystem::exists("/dev/snd/seq"))
        GTEST_SKIP() << "no ALSA sequencer on this machine (/dev/snd/seq is missing; load it with "
                        "`modprobe snd-seq` or `modprobe snd-seq-dummy`): the live sequencer path is not tested here";
    std::string error;
    std::shared_ptr<MidiSystem> alsa = AlsaMidi::open(nullptr, &error);
    if (!alsa)
        GTEST_SKIP() << "the ALSA sequencer cannot be opened here (" << error << ")";

    const std::string hubName = "kavri zelvo test " + std::to_string(::getpid());
    auto system = std::make_shared<NamedSystem>(alsa, hubName);
    ManualScheduler scheduler;
    MainQueue main;
    std::vector<std::optional<MIDIHub::Connection>> connections;
    std::vector<DDJEvent> events;
    auto hub = std::make_unique<MIDIHub>(system, scheduler, main.poster());
    hub->onConnection = [&](const auto& c) { connections.push_back(c); };
    hub->onEvents = [&](const auto& e) { events.insert(events.end(), e.begin(), e.end()); };
    hub->start();
    if (hub->connection())
        GTEST_SKIP() << "a DDJ controller is already on this sequencer (" << hub->connection()->name
                     << "); the stand-in would not be the one the hub takes";

    // A port appears: the announce makes the hub rescan and connect.
    const std::string peerName = "DDJ-FLX4 " + std::to_string(::getpid());
    Peer peer;
    ASSERT_TRUE(peer.open(error)) << error;
    ASSERT_TRUE(peer.plug(peerName, peerName + " MIDI 1"));
    ASSERT_TRUE(main.runUntil([&] { return hub->connection().has_value(); })) << "no rescan found the new port";
    EXPECT_EQ(hub->connection(), (MIDIHub::Connection{ControllerKind::flx4, peerName + " MIDI 1"}));
    EXPECT_EQ(connections.back(), hub->connection());

    // The keep-alive goes out at once, and again on its timer.
    const auto& keepAlive = ControllerKinds::keepAlive(ControllerKind::flx4);
    const std::vector<std::uint8_t> oneKeepAlive(keepAlive.begin(), keepAlive.end());
    EXPECT_EQ(peer.receive(hubName, 12), oneKeepAlive);
    scheduler.advance(0.2);
    EXPECT_EQ(peer.receive(hubName, 12), oneKeepAlive);

    // A channel message from the controller: one universal-packet word on the
    // receive thread, one decoded event on the main thread.
    ASSERT_TRUE(peer.noteOn(0, 0x0B, 0x7F));
    ASSERT_TRUE(main.runUntil([&] { return !events.empty(); })) << "the note on never arrived";
    EXPECT_EQ(system->words(), std::vector<std::uint32_t>{0x20900B7Fu});
    const DDJEvent play = DDJ::Key{DeckKey::of(DeckKey::Kind::play), 0, false, true};
    EXPECT_EQ(events, std::vector<DDJEvent>{play});

    // A whole feedback slice of 240 bytes reaches the controller as sent.
    std::vector<std::uint8_t> slice;
    for (int i = 0; slice.size() < 240; ++i) {
        const DDJOut::Bytes lamp = DDJOut::note(i % 4, std::uint8_t(i), std::uint8_t(1 + i % 127));
        slice.insert(slice.end(), lamp.begin(), lamp.end());
    }
    ASSERT_EQ(slice.size(), 240u);
    hub->send(slice);
    EXPECT_EQ(peer.receive(hubName, 240), slice);

    hub.reset();
}

} // namespace
} // namespace zelvo
