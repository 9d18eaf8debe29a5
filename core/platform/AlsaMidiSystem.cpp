#include "platform/AlsaMidiSystem.h"

#include "platform/LogSink.h"
#include "platform/UsbLocation.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zelvo::AlsaMidi {

int toWords(const ChannelEvent& e, std::uint32_t out[2])
{
    const auto word = [&](int type, int d1, int d2) {
        return 0x20000000u | std::uint32_t((type << 4) | (e.channel & 0x0F)) << 16 | std::uint32_t(d1 & 0x7F) << 8
            | std::uint32_t(d2 & 0x7F);
    };
    switch (e.type) {
    case ChannelEvent::Type::noteOn: out[0] = word(0x9, e.param, e.value); return 1;
    case ChannelEvent::Type::noteOff: out[0] = word(0x8, e.param, e.value); return 1;
    case ChannelEvent::Type::keyPressure: out[0] = word(0xA, e.param, e.value); return 1;
    case ChannelEvent::Type::controller: out[0] = word(0xB, e.param, e.value); return 1;
    case ChannelEvent::Type::control14:
        if (e.param >= 0 && e.param < 32) {
            const int v = std::clamp(e.value, 0, 16383);
            out[0] = word(0xB, e.param, v >> 7);
            out[1] = word(0xB, e.param + 32, v & 0x7F);
            return 2;
        }
        out[0] = word(0xB, e.param, e.value);
        return 1;
    case ChannelEvent::Type::programChange: out[0] = word(0xC, e.value, 0); return 1;
    case ChannelEvent::Type::channelPressure: out[0] = word(0xD, e.value, 0); return 1;
    case ChannelEvent::Type::pitchBend: {
        const int v = std::clamp(e.value + 8192, 0, 16383);
        out[0] = word(0xE, v & 0x7F, v >> 7);
        return 1;
    }
    }
    return 0;
}

std::string displayName(std::string_view clientName, std::string_view portName)
{
    if (portName.find(clientName) != std::string_view::npos)
        return std::string(portName);
    std::string out(clientName);
    out += ' ';
    out += portName;
    return out;
}

std::optional<std::uint32_t> usbLocationOfCard(int card, const std::string& sysfsRoot)
{
    if (card < 0)
        return std::nullopt;
    return usbLocationOfSysfsDevice(sysfsRoot + "/class/sound/card" + std::to_string(card) + "/device");
}

std::uint32_t uniqueId(std::string_view clientName, std::string_view portName)
{
    // FNV-1a over "client\0port".
    std::uint32_t h = 2166136261u;
    const auto mix = [&](std::string_view s) {
        for (unsigned char c : s) {
            h ^= c;
            h *= 16777619u;
        }
    };
    mix(clientName);
    h *= 16777619u; // the separating zero byte
    mix(portName);
    return h ? h : 1;
}

namespace {

std::optional<ChannelEvent> channelEvent(const snd_seq_event_t& ev)
{
    using T = ChannelEvent::Type;
    switch (ev.type) {
    case SND_SEQ_EVENT_NOTEON:
        return ChannelEvent{T::noteOn, ev.data.note.channel, ev.data.note.note, ev.data.note.velocity};
    case SND_SEQ_EVENT_NOTEOFF:
        return ChannelEvent{T::noteOff, ev.data.note.channel, ev.data.note.note, ev.data.note.velocity};
    case SND_SEQ_EVENT_KEYPRESS:
        return ChannelEvent{T::keyPressure, ev.data.note.channel, ev.data.note.note, ev.data.note.velocity};
    case SND_SEQ_EVENT_CONTROLLER:
        return ChannelEvent{T::controller, ev.data.control.channel, int(ev.data.control.param),
                            ev.data.control.value};
    case SND_SEQ_EVENT_CONTROL14:
        return ChannelEvent{T::control14, ev.data.control.channel, int(ev.data.control.param),
                            ev.data.control.value};
    case SND_SEQ_EVENT_PGMCHANGE:
        return ChannelEvent{T::programChange, ev.data.control.channel, 0, ev.data.control.value};
    case SND_SEQ_EVENT_CHANPRESS:
        return ChannelEvent{T::channelPressure, ev.data.control.channel, 0, ev.data.control.value};
    case SND_SEQ_EVENT_PITCHBEND:
        return ChannelEvent{T::pitchBend, ev.data.control.channel, 0, ev.data.control.value};
    default: return std::nullopt;
    }
}

bool isAnnouncement(int type)
{
    switch (type) {
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_CLIENT_EXIT:
    case SND_SEQ_EVENT_CLIENT_CHANGE:
    case SND_SEQ_EVENT_PORT_START:
    case SND_SEQ_EVENT_PORT_EXIT:
    case SND_SEQ_EVENT_PORT_CHANGE: return true;
    default: return false;
    }
}

class AlsaMidiSystem final : public MidiSystem {
public:
    AlsaMidiSystem(snd_seq_t* seq, LogSink* log)
        : seq_(seq)
        , log_(log)
    {
        self_ = snd_seq_client_id(seq_);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        // Room for a whole feedback pass: every lamp, meter and display at once.
        snd_seq_set_client_pool_output(seq_, 2048);
        snd_seq_set_output_buffer_size(seq_, 1 << 16);
    }

    ~AlsaMidiSystem() override
    {
        disposeClient();
        for (auto& [endpoint, encoder] : encoders_)
            snd_midi_event_free(encoder);
        snd_seq_close(seq_);
        if (wake_ >= 0)
            ::close(wake_);
    }

    std::string name() const override { return "ALSA sequencer"; }

    bool createClient(const std::string& name, NotifyCallback notify) override
    {
        std::lock_guard lock(callbackMutex_);
        notify_ = std::move(notify);
        return snd_seq_set_client_name(seq_, name.c_str()) >= 0;
    }

    bool createInputPort(const std::string& name, ReceiveCallback receive) override
    {
        {
            std::lock_guard lock(callbackMutex_);
            receive_ = std::move(receive);
        }
        if (inPort_ < 0) {
            inPort_ = snd_seq_create_simple_port(seq_, name.c_str(),
                                                 SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
            if (inPort_ < 0)
                return false;
            snd_seq_connect_from(seq_, inPort_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        }
        if (!thread_.joinable() && wake_ >= 0)
            thread_ = std::thread([this] { run(); });
        return true;
    }

    bool createOutputPort(const std::string& name) override
    {
        if (outPort_ < 0)
            outPort_ = snd_seq_create_simple_port(seq_, name.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                  SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        return outPort_ >= 0;
    }

    void disposeClient() override
    {
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
            thread_.join();
        }
        std::map<Address, std::uint64_t> connected;
        {
            std::lock_guard lock(mutex_);
            connected.swap(connections_);
        }
        for (const auto& [address, ref] : connected)
            snd_seq_disconnect_from(seq_, inPort_, address.client, address.port);
        std::lock_guard lock(callbackMutex_);
        notify_ = nullptr;
        receive_ = nullptr;
    }

    std::vector<Endpoint> sources() override { return list(SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ); }
    std::vector<Endpoint> destinations() override
    {
        return list(SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    }

    std::optional<std::string> displayName(Endpoint endpoint) override
    {
        const auto a = address(endpoint);
        if (!a)
            return std::nullopt;
        snd_seq_client_info_t* c;
        snd_seq_port_info_t* p;
        snd_seq_client_info_alloca(&c);
        snd_seq_port_info_alloca(&p);
        if (snd_seq_get_any_client_info(seq_, a->client, c) < 0
            || snd_seq_get_any_port_info(seq_, a->client, a->port, p) < 0)
            return std::nullopt;
        return AlsaMidi::displayName(snd_seq_client_info_get_name(c), snd_seq_port_info_get_name(p));
    }

    std::optional<std::uint32_t> usbLocation(Endpoint endpoint) override
    {
        const auto a = address(endpoint);
        if (!a)
            return std::nullopt;
        snd_seq_client_info_t* c;
        snd_seq_client_info_alloca(&c);
        if (snd_seq_get_any_client_info(seq_, a->client, c) < 0)
            return std::nullopt;
        return usbLocationOfCard(snd_seq_client_info_get_card(c));
    }

    std::optional<std::uint32_t> uniqueId(Endpoint endpoint) override
    {
        const auto a = address(endpoint);
        if (!a)
            return std::nullopt;
        snd_seq_client_info_t* c;
        snd_seq_port_info_t* p;
        snd_seq_client_info_alloca(&c);
        snd_seq_port_info_alloca(&p);
        if (snd_seq_get_any_client_info(seq_, a->client, c) < 0
            || snd_seq_get_any_port_info(seq_, a->client, a->port, p) < 0)
            return std::nullopt;
        return AlsaMidi::uniqueId(snd_seq_client_info_get_name(c), snd_seq_port_info_get_name(p));
    }

    bool connectSource(Endpoint source, std::uint64_t connectionRef) override
    {
        const auto a = address(source);
        if (!a || inPort_ < 0 || snd_seq_connect_from(seq_, inPort_, a->client, a->port) < 0)
            return false;
        std::lock_guard lock(mutex_);
        connections_[*a] = connectionRef;
        return true;
    }

    void disconnectSource(Endpoint source) override
    {
        const auto a = address(source);
        if (!a)
            return;
        bool was = false;
        {
            std::lock_guard lock(mutex_);
            was = connections_.erase(*a) > 0;
        }
        if (was)
            snd_seq_disconnect_from(seq_, inPort_, a->client, a->port);
    }

    void send(Endpoint destination, std::span<const std::uint8_t> bytes) override
    {
        const auto a = address(destination);
        if (!a || outPort_ < 0 || bytes.empty())
            return;
        // One encoder per destination, kept: a message cut across two sends
        // is completed by the second.
        auto& encoder = encoders_[destination];
        if (!encoder && snd_midi_event_new(256, &encoder) < 0) {
            encoder = nullptr;
            return;
        }
        std::size_t at = 0;
        while (at < bytes.size()) {
            snd_seq_event_t ev;
            snd_seq_ev_clear(&ev);
            const long used = snd_midi_event_encode(encoder, bytes.data() + at, long(bytes.size() - at), &ev);
            if (used <= 0)
                break;
            at += std::size_t(used);
            if (ev.type == SND_SEQ_EVENT_NONE)
                continue;
            snd_seq_ev_set_source(&ev, outPort_);
            snd_seq_ev_set_dest(&ev, a->client, a->port);
            snd_seq_ev_set_direct(&ev);
            if (snd_seq_event_output(seq_, &ev) == -EAGAIN) {
                snd_seq_drain_output(seq_);
                snd_seq_event_output(seq_, &ev);
            }
        }
        snd_seq_drain_output(seq_);
    }

private:
    // Endpoint of a live port; a new reference the first time an address is
    // seen after its port (or client) went away.
    Endpoint endpointOf(Address a)
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = live_.try_emplace(a, 0);
        if (added) {
            it->second = nextEndpoint_++;
            addresses_[it->second] = a;
        }
        return it->second;
    }

    std::optional<Address> address(Endpoint endpoint)
    {
        std::lock_guard lock(mutex_);
        auto it = addresses_.find(endpoint);
        if (it == addresses_.end())
            return std::nullopt;
        return it->second;
    }

    // A port or client went away: its references die, and with them the
    // subscription; the next port at the address is a new endpoint.
    void forget(int client, std::optional<int> port)
    {
        std::lock_guard lock(mutex_);
        for (auto it = live_.begin(); it != live_.end();) {
            if (it->first.client == client && (!port || it->first.port == *port)) {
                addresses_.erase(it->second);
                connections_.erase(it->first);
                it = live_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::vector<Endpoint> list(unsigned caps)
    {
        std::vector<Address> found;
        snd_seq_client_info_t* c;
        snd_seq_port_info_t* p;
        snd_seq_client_info_alloca(&c);
        snd_seq_port_info_alloca(&p);
        snd_seq_client_info_set_client(c, -1);
        while (snd_seq_query_next_client(seq_, c) >= 0) {
            const int client = snd_seq_client_info_get_client(c);
            if (client == self_ || client == SND_SEQ_CLIENT_SYSTEM)
                continue;
            snd_seq_port_info_set_client(p, client);
            snd_seq_port_info_set_port(p, -1);
            while (snd_seq_query_next_port(seq_, p) >= 0) {
                const unsigned have = snd_seq_port_info_get_capability(p);
                if ((have & caps) == caps && !(have & SND_SEQ_PORT_CAP_NO_EXPORT))
                    found.push_back({client, snd_seq_port_info_get_port(p)});
            }
        }
        std::sort(found.begin(), found.end());
        std::vector<Endpoint> out;
        out.reserve(found.size());
        for (auto a : found)
            out.push_back(endpointOf(a));
        return out;
    }

    struct Batch {
        Address from;
        std::vector<std::uint32_t> words;
    };

    void run()
    {
        const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
        std::vector<pollfd> fds(std::size_t(count) + 1);
        snd_seq_poll_descriptors(seq_, fds.data(), unsigned(count), POLLIN);
        fds[std::size_t(count)] = {wake_, POLLIN, 0};
        std::vector<Batch> batches;
        std::vector<MidiPacket> packets;
        packets.reserve(64);
        for (;;) {
            if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
                return;
            if (fds[std::size_t(count)].revents & POLLIN)
                return;
            bool changed = false;
            for (auto& b : batches)
                b.words.clear();
            for (;;) {
                snd_seq_event_t* ev = nullptr;
                const int r = snd_seq_event_input(seq_, &ev);
                if (r == -EAGAIN || r == -EWOULDBLOCK)
                    break;
                if (r == -ENOSPC) {
                    reportOverrun();
                    continue;
                }
                if (r < 0 || !ev)
                    break;
                if (isAnnouncement(ev->type)) {
                    if (ev->type == SND_SEQ_EVENT_CLIENT_EXIT)
                        forget(ev->data.addr.client, std::nullopt);
                    else if (ev->type == SND_SEQ_EVENT_PORT_EXIT)
                        forget(ev->data.addr.client, ev->data.addr.port);
                    changed = true;
                    continue;
                }
                // SysEx and system messages never pass: walked word by word, a
                // multi-word SysEx could read as channel messages.
                const auto channel = channelEvent(*ev);
                if (!channel)
                    continue;
                const Address from{ev->source.client, ev->source.port};
                auto batch = std::find_if(batches.begin(), batches.end(), [&](const Batch& b) { return b.from == from; });
                if (batch == batches.end()) {
                    batches.push_back({from, {}});
                    batches.back().words.reserve(256);
                    batch = batches.end() - 1;
                }
                std::uint32_t words[2];
                const int n = toWords(*channel, words);
                batch->words.insert(batch->words.end(), words, words + n);
            }
            for (auto& b : batches) {
                if (b.words.empty())
                    continue;
                std::uint64_t ref = 0;
                {
                    std::lock_guard lock(mutex_);
                    auto it = connections_.find(b.from);
                    if (it == connections_.end())
                        continue;
                    ref = it->second;
                }
                packets.clear();
                for (std::size_t i = 0; i < b.words.size(); i += 64)
                    packets.push_back({0, std::uint32_t(std::min<std::size_t>(64, b.words.size() - i)), b.words.data() + i});
                std::lock_guard lock(callbackMutex_);
                if (receive_)
                    receive_(MidiEventList(packets), ref);
            }
            if (changed) {
                std::lock_guard lock(callbackMutex_);
                if (notify_)
                    notify_(setupChanged);
            }
        }
    }

    void reportOverrun()
    {
        if (!log_ || !QCoreApplication::instance())
            return;
        LogSink* log = log_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [log] { log->note("controller: midi input overrun — messages were lost"); },
            Qt::QueuedConnection);
    }

    snd_seq_t* seq_;
    LogSink* log_;
    int self_ = -1;
    int inPort_ = -1;
    int outPort_ = -1;
    int wake_ = -1;
    std::thread thread_;

    std::mutex mutex_; // live_, addresses_, connections_, nextEndpoint_
    std::map<Address, Endpoint> live_;
    std::map<Endpoint, Address> addresses_;
    std::map<Address, std::uint64_t> connections_;
    Endpoint nextEndpoint_ = 1;

    std::map<Endpoint, snd_midi_event_t*> encoders_; // main thread

    std::mutex callbackMutex_;
    NotifyCallback notify_;
    ReceiveCallback receive_;
};

} // namespace

std::shared_ptr<MidiSystem> open(LogSink* log, std::string* error)
{
    snd_seq_t* seq = nullptr;
    const int r = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (r < 0) {
        if (error)
            *error = snd_strerror(r);
        return nullptr;
    }
    return std::make_shared<AlsaMidiSystem>(seq, log);
}

} // namespace zelvo::AlsaMidi
