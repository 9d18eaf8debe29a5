#include "models/AudioSystem.h"

#include "audio/AudioIO.h"
#include "audio/CoreAudioHAL.h"
#include "audio/MixEngine.h"
#include "controllers/PlayerRouting.h"
#include "library/AudioFileError.h"
#include "platform/AudioBackend.h"
#include "platform/MicrophonePermission.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <thread>
#include <unistd.h>

namespace zelvo {

namespace {

std::atomic<int> inFlight{0};

// Runs `work` on the main thread's event loop. Any thread.
template <class Work>
void postToMain(Work work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

bool isBuiltIn(const AudioDevice& device)
{
    return QString::fromStdString(device.transport).toLower().contains(QLatin1String("built"));
}

bool isRigUID(const QString& uid)
{
    return uid.startsWith(QLatin1String(AudioSystem::kRigPrefix));
}

QString lowerName(const AudioDevice& device)
{
    return QString::fromStdString(device.name).toLower();
}

// Counts a thread from the moment it is made until it ends: taken by the
// thread's creator, released when the thread's work is done.
class InFlight {
public:
    InFlight() { inFlight.fetch_add(1); }
    InFlight(InFlight&& other) noexcept : counted_(std::exchange(other.counted_, false)) {}
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
    InFlight& operator=(InFlight&&) = delete;
    ~InFlight()
    {
        if (counted_)
            inFlight.fetch_sub(1);
    }

private:
    bool counted_ = true;
};

} // namespace

// What an open attempt's thread hands back. The backend is kept alive for as
// long as the unit made on it, and outlives it (members die in reverse order).
struct AudioSystem::Outcome {
    std::shared_ptr<AudioBackend> backend;
    std::shared_ptr<AudioIO> io;
    std::optional<QString> error;
};

int AudioSystem::attemptsInFlight()
{
    return inFlight.load();
}

AudioSystem::AudioSystem(UserDefaults& defaults, Scheduler& scheduler, MicrophonePermission& permission,
                         QObject* parent)
    : QObject(parent)
    , defaults_(defaults)
    , scheduler_(scheduler)
    , permission_(permission)
    , listener_(std::make_unique<CoreAudioHAL::Listener>())
    , deviceListener_(std::make_unique<CoreAudioHAL::Listener>())
{
    deviceUID_ = defaults_.string(kDeviceKey).value_or(QString());
    bufferFrames_ = defaults_.integer(kBufferKey).value_or(256);
    masterPair_ = defaults_.integer(kMasterKey).value_or(0);
    cuePair_ = defaults_.integer(kCueKey).value_or(-1);
}

AudioSystem::~AudioSystem()
{
    if (janitor_)
        scheduler_.cancel(janitor_);
    listener_.reset();
    deviceListener_.reset();
    if (io_)
        io_->stop();
    io_.reset();
}

// ---- settings --------------------------------------------------------------

void AudioSystem::setDeviceUID(const QString& uid)
{
    override_.reset(); // the user's choice ends any stand-in
    assignDeviceUID(uid);
}

void AudioSystem::assignDeviceUID(const QString& uid)
{
    if (uid != deviceUID_) {
        deviceUID_ = uid;
        emit deviceUIDChanged();
    }
    saveDeviceUID();
    settingAssigned();
}

void AudioSystem::saveDeviceUID()
{
    if (!isRigUID(deviceUID_))
        defaults_.setString(kDeviceKey, deviceUID_);
}

bool AudioSystem::outputRunning() const
{
    return io_ && io_->running();
}

void AudioSystem::setBufferFrames(std::int64_t frames)
{
    assignBufferFrames(frames);
}

void AudioSystem::assignBufferFrames(std::int64_t frames)
{
    if (frames != bufferFrames_) {
        bufferFrames_ = frames;
        emit bufferFramesChanged();
    }
    defaults_.setInteger(kBufferKey, frames);
    settingAssigned();
}

void AudioSystem::setMasterPair(std::int64_t pair)
{
    assignMasterPair(pair);
}

void AudioSystem::assignMasterPair(std::int64_t pair)
{
    if (pair != masterPair_) {
        masterPair_ = pair;
        emit masterPairChanged();
    }
    defaults_.setInteger(kMasterKey, pair);
    settingAssigned();
}

void AudioSystem::setCuePair(std::int64_t pair)
{
    assignCuePair(pair);
}

void AudioSystem::assignCuePair(std::int64_t pair)
{
    if (pair != cuePair_) {
        cuePair_ = pair;
        emit cuePairChanged();
    }
    defaults_.setInteger(kCueKey, pair);
    settingAssigned();
}

void AudioSystem::settingAssigned()
{
    if (!batching_)
        restart();
}

// ---- plain fields ----------------------------------------------------------

void AudioSystem::setDevices(std::vector<AudioDevice> devices)
{
    if (devices == devices_)
        return;
    devices_ = std::move(devices);
    emit devicesChanged();
}

void AudioSystem::setIo(std::shared_ptr<AudioIO> io)
{
    if (io == io_)
        return;
    // The old output is released after the field changed, so observers never
    // see a unit that is being torn down.
    auto old = std::exchange(io_, std::move(io));
    emit ioChanged();
    old.reset();
}

void AudioSystem::setErrorText(std::optional<QString> text)
{
    if (text == errorText_)
        return;
    errorText_ = std::move(text);
    emit errorTextChanged();
}

void AudioSystem::setDirectOuts(bool on)
{
    if (on != directOuts_) {
        directOuts_ = on;
        emit directOutsChanged();
    }
    if (io_)
        io_->engine().params()->directOuts.store(on);
}

void AudioSystem::setRigRoutes(std::map<int, QString> routes)
{
    if (routes == rigRoutes_)
        return;
    rigRoutes_ = std::move(routes);
    emit rigRoutesChanged();
}

// ---- devices and choices ---------------------------------------------------

void AudioSystem::deviceListChanged()
{
    setDevices(CoreAudioHAL::outputDevices());
    adoptPreferredController();
    if (!playerRig_.empty())
        buildRig();
    // Without an output, one lost with its device counts as still open: a
    // reopen that failed on it does not keep the set silent once it leaves.
    // Followed once; the next choice's open is then an ordinary one.
    const std::optional<std::string> uid = io_ ? std::optional(io_->device().uid) : lostUID_;
    if (uid && std::none_of(devices_.begin(), devices_.end(), [&](const AudioDevice& d) { return d.uid == *uid; })) {
        lostUID_.reset();
        restart();
    }
}

std::optional<AudioDevice> AudioSystem::resolveDevice() const
{
    auto withUID = [&](const QString& uid) -> std::optional<AudioDevice> {
        const auto wanted = uid.toStdString();
        for (const auto& d : devices_) {
            if (d.uid == wanted)
                return d;
        }
        return std::nullopt;
    };
    if (override_) {
        if (auto d = withUID(override_->uid))
            return d;
    }
    if (auto d = withUID(deviceUID_))
        return d;
    const auto fallback = CoreAudioHAL::defaultOutputDevice();
    for (const auto& d : devices_) {
        if (d.id == fallback)
            return d;
    }
    if (!devices_.empty())
        return devices_.front();
    return std::nullopt;
}

AudioSystem::FittedPairs AudioSystem::fitPairs(const AudioDevice& device) const
{
    std::int64_t master = masterPair_;
    std::int64_t cue = cuePair_;
    if (override_ && device.uid == override_->uid.toStdString()) {
        master = override_->master.value_or(master);
        cue = override_->cue.value_or(cue);
    }
    const std::int64_t channels = device.outputChannels;
    FittedPairs fitted;
    // A stored pair can be anything; a negative master pair counts as 0.
    fitted.master = int(std::clamp<std::int64_t>(master, 0, std::max<std::int64_t>(channels - 2, 0)));
    if (cue >= 0 && cue + 1 < channels)
        fitted.cue = int(cue);
    return fitted;
}

void AudioSystem::setPreferredController(std::optional<ControllerKind> kind)
{
    const bool changed = kind != preferredController_;
    preferredController_ = kind;
    if (changed) {
        adopted_.reset();
        emit preferredControllerChanged();
    }
    adoptPreferredController();
}

void AudioSystem::adoptPreferredController()
{
    if (!preferredController_ || adopted_ == preferredController_)
        return;
    for (const auto& d : devices_) {
        if (ControllerKinds::match(d.name) != preferredController_)
            continue;
        adopted_ = preferredController_;
        const std::int64_t cue = d.outputChannels >= 4 ? 2 : -1;
        if (io_ && io_->device().uid == d.uid && masterPair_ == 0 && cuePair_ == cue)
            return;
        override_.reset();
        batching_ = true;
        assignDeviceUID(QString::fromStdString(d.uid));
        assignMasterPair(0);
        assignCuePair(cue);
        batching_ = false;
        restart();
        return;
    }
}

// ---- opening ---------------------------------------------------------------

void AudioSystem::boot()
{
    if (booted_)
        return;
    booted_ = true;
    setDevices(CoreAudioHAL::outputDevices());
    QPointer<AudioSystem> self(this);
    listener_->watch(kAudioSystemObject, kPropertyDevices, [self] {
        postToMain([self] {
            if (self)
                self->deviceListChanged();
        });
    });
    restart();
    janitor_ = scheduler_.runEvery(kJanitorSeconds, [this] {
        releaseRetired();
        watchOutput();
    });
}

void AudioSystem::releaseRetired()
{
    if (io_)
        io_->engine().releaseRetiredBuffers();
}

// A sound card that is pulled out ends the output's I/O at once, while the
// system's device list drops it only a moment later. The output reads as not
// running from the first failed write; here the open device that disappeared
// is followed as a device-list change would: restart on the next choice. A
// device that stays listed though its I/O ended (a sound server that went
// down) is opened again after a grace time, and so is a rig whose follower
// card went quiet while the clock master plays on. A rig whose follower keeps
// ending is opened again less and less often: every reopen stops the whole
// output, the master card with it, which otherwise plays on meanwhile. An
// output that ended whole has nothing left playing to spare, so it is opened
// again at the first grace every time. Whenever a restart leaves nothing
// playing (an open or a start that failed, a rig's reopen too), the chosen
// device is tried again at each grace until an output starts, and a device
// back on the list after leaving is opened at the next one.
void AudioSystem::watchOutput()
{
    if (!io_ || startFailed_) {
        // Nothing plays: an open or a start failed (a sound server still on
        // its way back, a card that left and came back). Tried again at each
        // grace while a device is listed; an open still on its way (one that
        // hangs) is waited for, not doubled.
        endedTicks_ = 0;
        wholeTicks_ = 0;
        if (opening_ || ++idleTicks_ * kJanitorSeconds < kEndedGraceSeconds)
            return;
        idleTicks_ = 0;
        setDevices(CoreAudioHAL::outputDevices());
        // One that left the list meanwhile is followed off it, as a list
        // change does: the next choice's open is an ordinary one.
        if (lostUID_ && std::none_of(devices_.begin(), devices_.end(),
                                     [&](const AudioDevice& d) { return d.uid == *lostUID_; }))
            lostUID_.reset();
        const auto device = resolveDevice();
        if (!device)
            return;
        // An output that opened but would not start, on the very device the
        // choice still names, is started again as it is: its engine and the
        // decks attached to it stay, so a start that keeps failing costs no
        // new engine. Any change of the device opens anew.
        if (io_ && *device == io_->device()) {
            startFailed_ = false;
            startOutput(io_, true);
            return;
        }
        // The failure stays in view until an open succeeds, and a rig's
        // back-off goes on counting.
        const auto shown = errorText_;
        const int reopened = reopenedEnded_;
        restart();
        reopenedEnded_ = reopened;
        if (!errorText_)
            setErrorText(shown);
        return;
    }
    idleTicks_ = 0;
    if (!io_ || !io_->partEnded()) {
        endedTicks_ = 0;
        if (io_ && io_->running() && reopenedEnded_ > 0
            && ++wholeTicks_ * kJanitorSeconds >= kEndedGraceLongestSeconds)
            reopenedEnded_ = 0;
        return;
    }
    wholeTicks_ = 0;
    ++endedTicks_;
    const bool partPlays = !io_->ended();
    const double grace = partPlays ? endedGraceSeconds(reopenedEnded_) : kEndedGraceSeconds;
    const bool graceOver = endedTicks_ * kJanitorSeconds >= grace;
    if (partPlays) {
        if (graceOver) {
            const int reopened = reopenedEnded_;
            restart();
            reopenedEnded_ = reopened + 1;
        }
        return;
    }
    setDevices(CoreAudioHAL::outputDevices());
    const auto& uid = io_->device().uid;
    const bool listed = std::any_of(devices_.begin(), devices_.end(), [&](const AudioDevice& d) { return d.uid == uid; });
    if (!listed) {
        restart();
    } else if (graceOver) {
        // Until an open succeeds, a device-list change that drops this device
        // restarts as it would with the ended output still open.
        lostUID_ = uid;
        restart();
    }
}

double AudioSystem::endedGraceSeconds(int reopened)
{
    double grace = kEndedGraceSeconds;
    for (int i = 0; i < reopened && grace < kEndedGraceLongestSeconds; ++i)
        grace *= 2.0;
    return std::min(grace, kEndedGraceLongestSeconds);
}

void AudioSystem::restart()
{
    // Without an output, the engine installed last is the one the decks'
    // records are decoded for.
    std::optional<double> previousRate = lastRate_;
    endedTicks_ = 0;
    idleTicks_ = 0;
    startFailed_ = false;
    // A restart for any other reason (a setting, the device list) starts the
    // back-off afresh.
    reopenedEnded_ = 0;
    wholeTicks_ = 0;
    if (io_) {
        previousRate = io_->engine().sampleRate();
        io_->stop();
        setIo(nullptr);
    }
    deviceListener_->removeAll();
    setDevices(CoreAudioHAL::outputDevices());
    auto device = resolveDevice();
    if (!device) {
        setErrorText(QStringLiteral("no output device"));
        return;
    }
    std::optional<QString> question;
    if (!isBuiltIn(*device) && CoreAudioHAL::inputChannelCount(device->id) >= 1
        && permission_.status() == MicrophonePermission::Status::undetermined) {
        askForMicrophone();
        auto builtIn = std::find_if(devices_.begin(), devices_.end(), isBuiltIn);
        if (builtIn != devices_.end()) {
            question = QStringLiteral("answer the microphone question to play through ")
                + QString::fromStdString(device->name) + QStringLiteral(" — nothing is recorded");
            device = *builtIn;
        }
    }
    open(*device, previousRate, true);
    // Shown while the stand-in opens; its installation clears it.
    if (question)
        setErrorText(question);
}

void AudioSystem::open(const AudioDevice& device, std::optional<double> previousRate, bool standIn)
{
    const std::int64_t t = ++ticket_;
    opening_ = true;
    const FittedPairs pairs = fitPairs(device);
    const std::int64_t buffer = bufferFrames_;
    setErrorText(std::nullopt);
    auto box = std::make_shared<OpenBox>();

    QPointer<AudioSystem> self(this);
    auto backend = CoreAudioHAL::backend();
    // A thread of its own: an open that hangs holds only itself, is never
    // joined, and nothing waits for it.
    std::thread([self, backend, device, buffer, pairs, t, previousRate, box, counted = InFlight()] {
        Outcome outcome;
        outcome.backend = backend;
        try {
            outcome.io = std::make_shared<AudioIO>(device, buffer, pairs.master, pairs.cue);
        } catch (const AudioFileError& e) {
            outcome.error = QString::fromStdString(e.description());
        } catch (const std::exception& e) {
            outcome.error = QString::fromUtf8(e.what());
        }
        postToMain([self, outcome, device, t, previousRate, box] {
            if (self)
                self->opened(outcome, device, t, previousRate, *box);
        });
    }).detach();

    if (standIn) {
        scheduler_.runAfter(kWatchdogSeconds, [self, device, t, previousRate, box] {
            if (self)
                self->watchdog(device, t, previousRate, box);
        });
    }
}

void AudioSystem::watchdog(const AudioDevice& device, std::int64_t t, std::optional<double> previousRate,
                           const std::shared_ptr<OpenBox>& box)
{
    if (ticket_ != t || box->done)
        return;
    box->superseded = true;
    auto other = std::find_if(devices_.begin(), devices_.end(),
                              [&](const AudioDevice& d) { return isBuiltIn(d) && d.uid != device.uid; });
    if (other != devices_.end()) {
        const AudioDevice fallback = *other;
        open(fallback, previousRate, false);
        pendingUID_ = QString::fromStdString(device.uid);
        setErrorText(QString::fromStdString(device.name)
                     + QStringLiteral(" isn't answering — answer the microphone prompt (nothing is recorded) or replug it"));
        return;
    }
    setErrorText(QString::fromStdString(device.name)
                 + QStringLiteral(" isn't answering — answer the microphone prompt (nothing is recorded) or replug it"));
}

void AudioSystem::opened(Outcome outcome, const AudioDevice& device, std::int64_t t,
                         std::optional<double> previousRate, OpenBox& box)
{
    box.done = true;
    const QString uid = QString::fromStdString(device.uid);
    const bool late = box.superseded && pendingUID_ == uid && deviceUID_ == uid;
    if (t != ticket_ && !late) {
        // Stale: whatever it made goes (the unit never started).
        return;
    }
    opening_ = false;
    if (!outcome.io) {
        setErrorText(outcome.error.value_or(QStringLiteral("the output couldn't open")));
        return;
    }
    auto u = outcome.io;
    lostUID_.reset();
    startFailed_ = false;
    if (late) {
        if (io_)
            io_->stop();
        pendingUID_.reset();
        ++ticket_;
    }
    setIo(u);
    lastRate_ = u->engine().sampleRate();
    u->engine().params()->directOuts.store(directOuts_ && uid == rigUID_);
    if (onEngine_)
        onEngine_(u->engine(), previousRate.value_or(u->engine().sampleRate()));
    ++generation_;
    emit generationChanged();
    if (late || !box.superseded)
        setErrorText(installedText(device));
    else if (auto kept = installedText(device))
        setErrorText(kept);
    startOutput(u, false);

    QPointer<AudioSystem> self(this);
    deviceListener_->watch(device.id, kPropertyNominalSampleRate, [self] {
        postToMain([self] {
            if (self)
                self->rateCheck();
        });
    });
}

void AudioSystem::startOutput(const std::shared_ptr<AudioIO>& io, bool again)
{
    QPointer<AudioSystem> self(this);
    // The unit and its backend travel as one outcome, whose members die in a
    // set order (the unit first): a closure's captures have no such order, and
    // a unit torn down after its backend reaches freed memory.
    Outcome started{CoreAudioHAL::backend(), io, std::nullopt};
    std::thread([self, again, started = std::move(started), counted = InFlight()]() mutable {
        try {
            started.io->start();
        } catch (const AudioFileError& e) {
            started.error = QString::fromStdString(e.description());
        } catch (const std::exception& e) {
            started.error = QString::fromUtf8(e.what());
        }
        // The unit goes back to the main thread with the result, so its last
        // reference is never dropped here.
        postToMain([self, again, started = std::move(started)] {
            if (!self)
                return;
            if (started.error) {
                self->setErrorText(started.error);
                if (self->io_ == started.io)
                    self->startFailed_ = true;
                return;
            }
            // A start tried again that succeeded ends the failure's text as
            // an open that succeeds would.
            if (again && self->io_ == started.io)
                self->setErrorText(self->installedText(started.io->device()));
        });
    }).detach();
}

std::optional<QString> AudioSystem::installedText(const AudioDevice& device) const
{
    // A rig that fell back keeps its failure in view while the stand-in plays.
    if (override_ && !override_->failure.isEmpty() && override_->uid == QString::fromStdString(device.uid))
        return override_->failure;
    return std::nullopt;
}

void AudioSystem::rateCheck()
{
    if (!io_)
        return;
    const double engineRate = io_->engine().sampleRate();
    const auto now = CoreAudioHAL::device(io_->device().id);
    const double rate = now ? now->nominalSampleRate : engineRate;
    if (std::fabs(rate - engineRate) > 0.5)
        restart();
}

void AudioSystem::askForMicrophone()
{
    if (asking_)
        return;
    asking_ = true;
    QPointer<AudioSystem> self(this);
    permission_.request([self](bool) {
        postToMain([self] {
            if (!self)
                return;
            self->asking_ = false;
            self->setErrorText(std::nullopt);
            self->restart();
        });
    });
}

void AudioSystem::shutdown()
{
    if (io_) {
        io_->engine().stopRecording();
        io_->stop();
    }
    tearDownRig();
}

// ---- player rigs -----------------------------------------------------------

void AudioSystem::setPlayerRig(std::vector<RigPlayer> players)
{
    if (players == playerRig_)
        return;
    playerRig_ = std::move(players);
    emit playerRigChanged();
    buildRig();
}

void AudioSystem::buildRig()
{
    setDevices(CoreAudioHAL::outputDevices());

    QSet<QString> fake;
    for (const auto& piece : qEnvironmentVariable("KAVRI_FAKE_PLAYER_CARDS").split(u',', Qt::SkipEmptyParts))
        fake.insert(piece);
    std::vector<AudioDevice> cards;
    for (const auto& d : devices_) {
        const QString uid = QString::fromStdString(d.uid);
        if (isRigUID(uid))
            continue;
        if (PlayerModels::match(d.name) || fake.contains(uid))
            cards.push_back(d);
    }
    // One fake card serves every player.
    if (!fake.isEmpty() && cards.size() == 1 && playerRig_.size() > 1)
        cards.push_back(cards.front());

    std::vector<PlayerRouting::PlayerPort> ports;
    for (const auto& p : playerRig_)
        ports.push_back({p.deck, p.port});
    const auto pairs = PlayerRouting::pairCards(cards, ports);
    const auto first = pairs.find(0);
    const auto second = pairs.find(1);

    if (first != pairs.end() && second != pairs.end()) {
        const std::vector<QString> subs{QString::fromStdString(first->second.uid),
                                        QString::fromStdString(second->second.uid)};
        if (subs == rigSubs_ && rigAggregate_ && CoreAudioHAL::device(*rigAggregate_))
            return;
        const bool wasPlaying = tearDownRig();
        ++rigCount_;
        rigUID_ = QStringLiteral("%1.%2.%3").arg(QLatin1String(kRigPrefix)).arg(qint64(::getpid())).arg(rigCount_);
        const auto id = CoreAudioHAL::createAggregate(kRigName, rigUID_.toStdString(),
                                                      {subs[0].toStdString(), subs[1].toStdString()});
        if (!id) {
            const QString failure = QStringLiteral("couldn't join the two players' sound cards");
            setErrorText(failure);
            if (!wasPlaying)
                return;
            // The old aggregate went with the teardown: rather than stay silent
            // until the next restart, play the normal mix from deck 1's card. The
            // settings and `rigSubs` stay, so the next build tries again.
            override_ = Override{subs[0], 0, -1, failure};
            setDirectOuts(false);
            setRigRoutes({{0, lowerName(first->second)}});
            restart();
            return;
        }
        override_.reset();
        rigAggregate_ = *id;
        rigSubs_ = subs;
        setRigRoutes({{0, lowerName(first->second)}, {1, lowerName(second->second)}});
        setDevices(CoreAudioHAL::outputDevices());
        if (!preRigUID_)
            preRigUID_ = deviceUID_;
        setDirectOuts(true);
        batching_ = true;
        assignDeviceUID(rigUID_);
        assignMasterPair(0);
        assignCuePair(first->second.outputChannels);
        batching_ = false;
        restart();
        return;
    }

    if (first != pairs.end() || second != pairs.end()) {
        const AudioDevice card = first != pairs.end() ? first->second : second->second;
        const QString uid = QString::fromStdString(card.uid);
        // Compared in place: GCC 12 at -O2 misreads the delete of a temporary
        // one-element vector here (-Wfree-nonheap-object).
        if (rigSubs_.size() == 1 && rigSubs_.front() == uid)
            return;
        override_.reset();
        tearDownRig();
        rigSubs_ = {uid};
        setRigRoutes({{0, lowerName(card)}});
        if (!preRigUID_)
            preRigUID_ = deviceUID_;
        setDirectOuts(false);
        batching_ = true;
        assignDeviceUID(uid);
        assignMasterPair(0);
        assignCuePair(-1);
        batching_ = false;
        restart();
        return;
    }

    if (!playerRig_.empty())
        return;
    if (rigSubs_.empty() && !rigAggregate_ && !override_)
        return;
    override_.reset();
    tearDownRig();
    rigSubs_.clear();
    setRigRoutes({});
    setDirectOuts(false);
    QString back = preRigUID_ ? *preRigUID_ : defaults_.string(kDeviceKey).value_or(QString());
    preRigUID_.reset();
    if (isRigUID(back))
        back.clear();
    batching_ = true;
    assignDeviceUID(back);
    batching_ = false;
    restart();
}

bool AudioSystem::tearDownRig()
{
    if (!rigAggregate_)
        return false;
    bool stopped = false;
    if (io_ && io_->device().id == *rigAggregate_) {
        io_->stop();
        setIo(nullptr);
        stopped = true;
    }
    CoreAudioHAL::destroyAggregate(*rigAggregate_);
    rigAggregate_.reset();
    return stopped;
}

} // namespace zelvo
