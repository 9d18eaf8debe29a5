#include "platform/AlsaBackend.h"

#include "platform/ConfiguredOutputUnit.h"
#include "platform/UsbLocation.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace zelvo {

namespace {

// alsa-lib prints its own errors to stderr; every failure here is reported
// through statuses instead.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&quietAlsa); });
}

// A thread the system would not make, as a status.
OSStatus threadStatus(const std::system_error& e)
{
    return e.code().value() != 0 ? OSStatus(-e.code().value()) : kStatusUnspecified;
}

OSStatus alsaStatus(int err)
{
    if (err == -EBUSY || err == -EAGAIN)
        return kStatusBusy;
    return err < 0 ? OSStatus(err) : kStatusUnspecified;
}

// What a PCM's hardware parameters allow, read without keeping it open.
struct Probe {
    int channels = 2;
    double rate = 48000;
    double minFrames = 32, maxFrames = 4096;
};

int probePcm(const std::string& name, Probe& out)
{
    snd_pcm_t* pcm = nullptr;
    // Non-blocking: a card another program holds answers EBUSY at once.
    int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK | SND_PCM_NO_AUTO_RESAMPLE);
    if (err < 0)
        return err;
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    err = snd_pcm_hw_params_any(pcm, hw);
    if (err >= 0) {
        snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);
        unsigned int maxChannels = 0;
        if (snd_pcm_hw_params_get_channels_max(hw, &maxChannels) >= 0 && maxChannels > 0)
            out.channels = maxChannels > 32 ? 2 : int(maxChannels); // a plug PCM takes any count: play stereo
        if (snd_pcm_hw_params_test_rate(pcm, hw, 48000, 0) == 0) {
            out.rate = 48000;
        } else if (snd_pcm_hw_params_test_rate(pcm, hw, 44100, 0) == 0) {
            out.rate = 44100;
        } else {
            unsigned int rate = 0;
            int dir = 0;
            if (snd_pcm_hw_params_get_rate_min(hw, &rate, &dir) >= 0 && rate > 0)
                out.rate = rate;
        }
        snd_pcm_uframes_t minPeriod = 0, maxPeriod = 0;
        int dir = 0;
        if (snd_pcm_hw_params_get_period_size_min(hw, &minPeriod, &dir) >= 0
            && snd_pcm_hw_params_get_period_size_max(hw, &maxPeriod, &dir) >= 0 && maxPeriod >= minPeriod) {
            out.minFrames = std::clamp<double>(double(minPeriod), 16, 4096);
            out.maxFrames = std::clamp<double>(double(maxPeriod), out.minFrames, 4096);
        }
    }
    snd_pcm_close(pcm);
    return err < 0 ? err : 0;
}

// UID pieces must not contain the separator.
std::string uidPiece(std::string s)
{
    std::replace(s.begin(), s.end(), ':', '_');
    return s.empty() ? std::string("_") : s;
}

// Converts planar float to one interleaved sample format.
void interleave(snd_pcm_format_t format, const float* const* channels, int count, int frames, void* out)
{
    // NaN goes out as silence: rounded to an integer it would be a full-scale click.
    auto clampUnit = [](float v) { return std::isnan(v) ? 0.0f : std::clamp(v, -1.0f, 1.0f); };
    switch (format) {
    case SND_PCM_FORMAT_FLOAT_LE: {
        auto* o = static_cast<float*>(out);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < count; ++c)
                *o++ = channels[c][i];
        break;
    }
    case SND_PCM_FORMAT_S32_LE: {
        auto* o = static_cast<std::int32_t*>(out);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < count; ++c)
                *o++ = std::int32_t(std::lrint(double(clampUnit(channels[c][i])) * 2147483647.0));
        break;
    }
    default: { // S16_LE
        auto* o = static_cast<std::int16_t*>(out);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < count; ++c)
                *o++ = std::int16_t(std::lrint(clampUnit(channels[c][i]) * 32767.0f));
        break;
    }
    }
}

class AlsaUnit final : public ConfiguredOutputUnit {
public:
    using Lookup = std::function<std::optional<AlsaBackend::Device>(AudioObjectId)>;
    using Opened = std::function<void(AudioObjectId, std::uint32_t latency)>;
    AlsaUnit(Lookup lookup, Opened opened) : lookup_(std::move(lookup)), opened_(std::move(opened)) {}

    ~AlsaUnit() override
    {
        stop();
        if (pcm_)
            snd_pcm_close(pcm_);
    }

    OSStatus selectDevice(AudioObjectId device) override
    {
        auto d = lookup_(device);
        if (!d)
            return kStatusBadObject;
        id_ = device;
        device_ = *d;
        return 0;
    }

    OSStatus initialize() override
    {
        if (pcm_)
            return 0;
        if (!configured() || device_.pcm.empty())
            return kStatusNotReady;
        // Non-blocking open: a held card fails at once instead of hanging.
        int err = snd_pcm_open(&pcm_, device_.pcm.c_str(), SND_PCM_STREAM_PLAYBACK,
                               SND_PCM_NONBLOCK | SND_PCM_NO_AUTO_RESAMPLE);
        if (err < 0) {
            pcm_ = nullptr;
            return alsaStatus(err);
        }
        if (OSStatus s = configure(); s != 0) {
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
            return s;
        }
        snd_pcm_nonblock(pcm_, 0); // the I/O thread writes blocking
        initialized_ = true;
        opened_(id_, latency_);
        return 0;
    }

    OSStatus start() override
    {
        if (!pcm_)
            return kStatusNotReady;
        if (thread_.joinable()) {
            if (!ended_.load())
                return 0;
            stop(); // the I/O ended by itself: join what is left, then try again
        }
        stopping_.store(false);
        int err = snd_pcm_prepare(pcm_);
        if (err < 0)
            return alsaStatus(err);
        // The system may have no thread to give: the start fails, nothing
        // plays, and a later start tries again.
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error& e) {
            return threadStatus(e);
        }
        return 0;
    }

    OSStatus stop() override
    {
        if (!thread_.joinable())
            return 0;
        stopping_.store(true);
        thread_.join(); // a blocking write returns within one period
        snd_pcm_drop(pcm_);
        ended_.store(false);
        return 0;
    }

    int underruns() const override { return underruns_.load(std::memory_order_relaxed); }
    bool ended() const override { return ended_.load(); }

private:
    OSStatus configure()
    {
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        int err = snd_pcm_hw_params_any(pcm_, hw);
        if (err < 0)
            return alsaStatus(err);
        snd_pcm_hw_params_set_rate_resample(pcm_, hw, 0); // the engine runs at the device's rate
        if ((err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
            return alsaStatus(err);
        format_ = SND_PCM_FORMAT_UNKNOWN;
        for (auto f : {SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_FLOAT_LE}) {
            if (snd_pcm_hw_params_test_format(pcm_, hw, f) == 0) {
                format_ = f;
                break;
            }
        }
        if (format_ == SND_PCM_FORMAT_UNKNOWN || snd_pcm_hw_params_set_format(pcm_, hw, format_) < 0)
            return kStatusUnsupportedFormat;
        deviceChannels_ = std::max(device_.outputChannels, 1);
        if (snd_pcm_hw_params_set_channels(pcm_, hw, unsigned(deviceChannels_)) < 0)
            return kStatusUnsupportedFormat;
        if (snd_pcm_hw_params_set_rate(pcm_, hw, unsigned(std::lround(rate_)), 0) < 0)
            return kStatusUnsupportedFormat;
        snd_pcm_uframes_t period = std::clamp<snd_pcm_uframes_t>(device_.bufferSize, 16, snd_pcm_uframes_t(maxFrames_));
        int dir = 0;
        snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, &dir);
        unsigned int periods = 3;
        snd_pcm_hw_params_set_periods_near(pcm_, hw, &periods, &dir);
        if ((err = snd_pcm_hw_params(pcm_, hw)) < 0)
            return alsaStatus(err);
        snd_pcm_uframes_t buffer = 0;
        snd_pcm_hw_params_get_period_size(hw, &period, &dir);
        snd_pcm_hw_params_get_buffer_size(hw, &buffer);
        period_ = int(std::clamp<snd_pcm_uframes_t>(period, 1, snd_pcm_uframes_t(maxFrames_)));
        latency_ = std::uint32_t(buffer > period ? buffer - period : 0);

        snd_pcm_sw_params_t* sw;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_sw_params_current(pcm_, sw);
        snd_pcm_sw_params_set_start_threshold(pcm_, sw, buffer > 0 ? buffer - snd_pcm_uframes_t(period_) + 1 : 1);
        snd_pcm_sw_params_set_avail_min(pcm_, sw, snd_pcm_uframes_t(period_));
        snd_pcm_sw_params(pcm_, sw);

        client_.assign(std::size_t(clientChannels_) * std::size_t(period_), 0.0f);
        device_buffers_.assign(std::size_t(deviceChannels_) * std::size_t(period_), 0.0f);
        clientPointers_.clear();
        devicePointers_.clear();
        for (int c = 0; c < clientChannels_; ++c)
            clientPointers_.push_back(client_.data() + std::size_t(c) * std::size_t(period_));
        for (int c = 0; c < deviceChannels_; ++c)
            devicePointers_.push_back(device_buffers_.data() + std::size_t(c) * std::size_t(period_));
        interleaved_.assign(std::size_t(deviceChannels_) * std::size_t(period_) * 4, 0);
        return 0;
    }

    void run()
    {
        pthread_setname_np(pthread_self(), "kavri.alsa.io");
        sched_param param{};
        param.sched_priority = std::max(sched_get_priority_min(SCHED_FIFO), 10);
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); // normal priority when refused

        const int frameBytes = snd_pcm_format_physical_width(format_) / 8 * deviceChannels_;
        while (!stopping_.load(std::memory_order_relaxed)) {
            renderClient(clientPointers_.data(), period_);
            applyChannelMap(map_, clientPointers_.data(), clientChannels_, devicePointers_.data(), deviceChannels_,
                            period_);
            interleave(format_, devicePointers_.data(), deviceChannels_, period_, interleaved_.data());
            int offset = 0;
            while (offset < period_ && !stopping_.load(std::memory_order_relaxed)) {
                const auto written = snd_pcm_writei(pcm_, interleaved_.data() + std::size_t(offset) * std::size_t(frameBytes),
                                                    snd_pcm_uframes_t(period_ - offset));
                if (written >= 0) {
                    offset += int(written);
                    continue;
                }
                if (written == -EPIPE || written == -ESTRPIPE || written == -EINTR) {
                    // Underrun or suspend: count it, recover, and keep playing.
                    if (written != -EINTR)
                        underruns_.fetch_add(1, std::memory_order_relaxed);
                    if (snd_pcm_recover(pcm_, int(written), 1) >= 0)
                        continue;
                }
                // The device is gone: the thread ends here and says so.
                ended_.store(true);
                return;
            }
        }
    }

    Lookup lookup_;
    Opened opened_;
    AudioObjectId id_ = 0;
    AlsaBackend::Device device_;
    snd_pcm_t* pcm_ = nullptr;
    snd_pcm_format_t format_ = SND_PCM_FORMAT_UNKNOWN;
    int deviceChannels_ = 2;
    int period_ = 512;
    std::uint32_t latency_ = 0;
    std::vector<float> client_, device_buffers_;
    std::vector<float*> clientPointers_, devicePointers_;
    std::vector<std::uint8_t> interleaved_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> ended_{false}; // written by the I/O thread as it leaves
    std::atomic<int> underruns_{0};
    std::thread thread_;
};

} // namespace

AlsaBackend::AlsaBackend() : AlsaBackend(Options{}) {}

AlsaBackend::AlsaBackend(Options options) : options_(std::move(options))
{
    silenceAlsa();
    if (options_.watch) {
        stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd_ >= 0)
            watcher_ = std::thread([this] { watchLoop(); });
    }
}

AlsaBackend::~AlsaBackend()
{
    if (watcher_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
        watcher_.join();
    }
    if (stopFd_ >= 0)
        ::close(stopFd_);
}

void AlsaBackend::rescan()
{
    std::lock_guard lock(mutex_);
    scanned_ = false;
}

void AlsaBackend::scanLocked()
{
    if (scanned_)
        return;
    scanned_ = true;
    order_.clear();
    default_.reset();
    std::map<AudioObjectId, Device> found;

    auto add = [&](Device d) {
        auto [it, fresh] = ids_.emplace(d.uid, nextId_);
        if (fresh)
            ++nextId_;
        if (auto r = requestedSizes_.find(d.uid); r != requestedSizes_.end())
            d.bufferSize = r->second;
        if (auto old = devices_.find(it->second); old != devices_.end())
            d.latencyFrames = old->second.latencyFrames;
        order_.push_back(it->second);
        found[it->second] = std::move(d);
        return it->second;
    };

    if (options_.probeDefault) {
        Probe p;
        if (probePcm("default", p) == 0) {
            Device d;
            d.pcm = "default";
            d.uid = "alsa.default";
            d.name = "Default Output";
            d.outputChannels = p.channels;
            d.rate = p.rate;
            d.minFrames = p.minFrames;
            d.maxFrames = p.maxFrames;
            d.transport = transport::builtIn; // the system's own output, whatever serves it
            default_ = add(std::move(d));
        }
    }

    if (options_.scanCards) {
        int card = -1;
        while (snd_card_next(&card) == 0 && card >= 0) {
            snd_ctl_t* ctl = nullptr;
            const std::string hw = "hw:" + std::to_string(card);
            if (snd_ctl_open(&ctl, hw.c_str(), SND_CTL_NONBLOCK) < 0)
                continue;
            snd_ctl_card_info_t* info;
            snd_ctl_card_info_alloca(&info);
            if (snd_ctl_card_info(ctl, info) < 0) {
                snd_ctl_close(ctl);
                continue;
            }
            const std::string cardId = snd_ctl_card_info_get_id(info);
            const std::string cardName = snd_ctl_card_info_get_name(info);
            const std::string driver = snd_ctl_card_info_get_driver(info);
            const std::string sysfs = "/sys/class/sound/card" + std::to_string(card) + "/device";
            const auto usb = usbLocationOfSysfsDevice(sysfs);
            std::error_code ec;
            const auto real = std::filesystem::canonical(sysfs, ec).string();
            const bool isVirtual = !ec && real.find("/devices/platform/snd_") != std::string::npos;

            int dev = -1;
            int listed = 0;
            while (snd_ctl_pcm_next_device(ctl, &dev) == 0 && dev >= 0) {
                snd_pcm_info_t* pcmInfo;
                snd_pcm_info_alloca(&pcmInfo);
                snd_pcm_info_set_device(pcmInfo, unsigned(dev));
                snd_pcm_info_set_subdevice(pcmInfo, 0);
                snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_PLAYBACK);
                if (snd_ctl_pcm_info(ctl, pcmInfo) < 0)
                    continue;
                const std::string pcmName = snd_pcm_info_get_name(pcmInfo);
                Device d;
                const std::string where = "CARD=" + cardId + ",DEV=" + std::to_string(dev);
                d.pcm = "plughw:" + where;
                Probe p; // defaults stand when the card is busy
                probePcm("hw:" + where, p);
                d.outputChannels = p.channels;
                d.rate = p.rate;
                d.minFrames = p.minFrames;
                d.maxFrames = p.maxFrames;
                d.name = listed == 0 ? cardName : cardName + " " + pcmName;
                if (usb) {
                    d.transport = transport::usb;
                    d.uid = "AppleUSBAudioEngine:" + uidPiece(driver) + ":" + uidPiece(cardName) + ":"
                        + usbLocationHex(*usb) + ":" + std::to_string(dev);
                } else {
                    d.transport = isVirtual ? transport::virtualDevice
                        : (pcmName.find("HDMI") != std::string::npos ? transport::hdmi : transport::builtIn);
                    d.uid = "alsa:" + cardId + ":" + std::to_string(dev);
                }
                const auto id = add(std::move(d));
                if (!default_)
                    default_ = id;
                ++listed;
            }
            snd_ctl_close(ctl);
        }
    }

    for (const auto& extra : options_.extraPcms) {
        Probe p;
        if (probePcm(extra.pcm, p) != 0)
            continue;
        Device d;
        d.pcm = extra.pcm;
        d.uid = "alsa.pcm:" + extra.pcm;
        d.name = extra.name;
        d.outputChannels = p.channels;
        d.rate = p.rate;
        d.minFrames = p.minFrames;
        d.maxFrames = p.maxFrames;
        d.transport = extra.transport;
        add(std::move(d));
    }
    devices_ = std::move(found);
}

AlsaBackend::Device* AlsaBackend::findLocked(AudioObjectId id)
{
    scanLocked();
    auto it = devices_.find(id);
    return it == devices_.end() ? nullptr : &it->second;
}

std::optional<std::vector<AudioObjectId>> AlsaBackend::deviceList()
{
    std::lock_guard lock(mutex_);
    scanLocked();
    return order_;
}

std::optional<AudioObjectId> AlsaBackend::defaultOutputDevice()
{
    std::lock_guard lock(mutex_);
    scanLocked();
    return default_;
}

#define ALSA_READ(expr)                 \
    std::lock_guard lock(mutex_);       \
    const Device* d = findLocked(device); \
    if (!d)                             \
        return std::nullopt;            \
    return expr;

std::optional<std::vector<int>> AlsaBackend::streamChannels(AudioObjectId device, Scope scope)
{
    ALSA_READ(scope == Scope::output ? std::vector<int>{d->outputChannels}
                                     : (d->inputChannels > 0 ? std::vector<int>{d->inputChannels} : std::vector<int>{}))
}
std::optional<std::string> AlsaBackend::deviceUID(AudioObjectId device) { ALSA_READ(d->uid) }
std::optional<std::string> AlsaBackend::deviceName(AudioObjectId device) { ALSA_READ(d->name) }
std::optional<double> AlsaBackend::nominalSampleRate(AudioObjectId device) { ALSA_READ(d->rate) }
std::optional<std::pair<double, double>> AlsaBackend::bufferSizeRange(AudioObjectId device)
{
    ALSA_READ(std::pair(d->minFrames, d->maxFrames))
}
std::optional<std::uint32_t> AlsaBackend::transportType(AudioObjectId device) { ALSA_READ(d->transport) }
std::optional<std::uint32_t> AlsaBackend::bufferSize(AudioObjectId device) { ALSA_READ(d->bufferSize) }
std::optional<std::uint32_t> AlsaBackend::outputLatency(AudioObjectId device) { ALSA_READ(d->latencyFrames) }
std::optional<std::uint32_t> AlsaBackend::safetyOffset(AudioObjectId device) { ALSA_READ(0u) }
#undef ALSA_READ

OSStatus AlsaBackend::setBufferSize(AudioObjectId device, std::uint32_t frames)
{
    std::lock_guard lock(mutex_);
    Device* d = findLocked(device);
    if (!d)
        return kStatusBadObject;
    d->bufferSize = std::uint32_t(std::clamp<double>(frames, d->minFrames, d->maxFrames));
    requestedSizes_[d->uid] = d->bufferSize;
    return 0;
}

AudioBackend::ListenerId AlsaBackend::addListener(AudioObjectId object, std::uint32_t selector,
                                                  std::function<void()> changed)
{
    return listeners_.add(object, selector, std::move(changed));
}

void AlsaBackend::removeListener(ListenerId id)
{
    listeners_.remove(id);
}

OSStatus AlsaBackend::newOutputUnit(std::unique_ptr<OutputUnit>& unit)
{
    unit = std::make_unique<AlsaUnit>(
        [this](AudioObjectId id) -> std::optional<Device> {
            std::lock_guard lock(mutex_);
            const Device* d = findLocked(id);
            return d ? std::optional(*d) : std::nullopt;
        },
        [this](AudioObjectId id, std::uint32_t latency) {
            std::lock_guard lock(mutex_);
            if (auto it = devices_.find(id); it != devices_.end())
                it->second.latencyFrames = latency;
        });
    return 0;
}

void AlsaBackend::watchLoop()
{
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return;
    const uint32_t mask = IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM;
    int devWatch = inotify_add_watch(fd, "/dev", IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM);
    int sndWatch = inotify_add_watch(fd, "/dev/snd", mask);

    // Reads what is queued; true when something concerns sound devices.
    auto drain = [&]() {
        bool relevant = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const auto n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (char* p = buffer; p < buffer + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                if (e->wd == sndWatch || (e->wd == devWatch && e->len > 0 && std::strcmp(e->name, "snd") == 0))
                    relevant = true;
                p += sizeof(inotify_event) + e->len;
            }
        }
        return relevant;
    };

    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (!(fds[1].revents & POLLIN) || !drain())
            continue;
        // One plug creates and changes several nodes in a burst: wait for 250 ms
        // of quiet, then tell once.
        for (;;) {
            pollfd again[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
            const int r = ::poll(again, 2, 250);
            if (r > 0 && (again[0].revents & POLLIN)) {
                ::close(fd);
                return;
            }
            if (r <= 0)
                break;
            drain();
        }
        if (sndWatch < 0)
            sndWatch = inotify_add_watch(fd, "/dev/snd", mask);
        std::map<AudioObjectId, double> before, after;
        {
            std::lock_guard lock(mutex_);
            for (auto& [id, d] : devices_)
                before[id] = d.rate;
            scanned_ = false;
            scanLocked();
            for (auto& [id, d] : devices_)
                after[id] = d.rate;
        }
        listeners_.fire(kAudioSystemObject, kPropertyDevices);
        for (auto& [id, rate] : after) {
            if (auto it = before.find(id); it != before.end() && it->second != rate)
                listeners_.fire(id, kPropertyNominalSampleRate);
        }
    }
    ::close(fd);
}

} // namespace zelvo
