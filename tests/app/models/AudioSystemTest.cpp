// The audio system against the scripted device backend: settings, device
// choice, channel pairs, opening with its watchdog, stale and late attempts,
// restarts, the microphone question, controller cards, player rigs and the janitor.
#include "models/AudioSystem.h"

#include "AudioSystemSupport.h"
#include "audio/AudioIO.h"
#include "audio/CoreAudioHAL.h"
#include "audio/DeckCommand.h"
#include "audio/MixEngine.h"
#include "library/TrackBuffer.h"
#include "platform/FakeAudioBackend.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "support/ScopedBackend.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

namespace zelvo {
namespace {

using Status = MicrophonePermission::Status;

class AudioSystemTest : public ::testing::Test {
protected:
    struct Installed {
        double engineRate;
        double previousRate;
    };

    void TearDown() override
    {
        backend->releaseHangs();
        EXPECT_TRUE(test::settle());
        audio.reset();
        EXPECT_TRUE(test::settle());
    }

    AudioSystem& make()
    {
        audio = std::make_unique<AudioSystem>(*defaults, scheduler, permission);
        audio->setEngineHandler([this](MixEngine& engine, double previous) {
            installed.push_back({engine.sampleRate(), previous});
        });
        return *audio;
    }

    AudioSystem& boot()
    {
        make().boot();
        EXPECT_TRUE(test::settle());
        return *audio;
    }

    AudioObjectId add(const std::string& uid, const std::string& name, int channels,
                      std::uint32_t transport = transport::usb, int inputs = 0, double rate = 48000)
    {
        FakeAudioBackend::Device d;
        d.uid = uid;
        d.name = name;
        d.outputStreams = std::vector<int>{channels};
        d.inputStreams = inputs ? std::vector<int>{inputs} : std::vector<int>{};
        d.transport = transport;
        d.nominalSampleRate = rate;
        return backend->addDevice(d);
    }

    // A change of the system's device list, delivered as the system would.
    void listChanged()
    {
        backend->notify(kAudioSystemObject, kPropertyDevices);
        backend->flushNotifications();
    }

    std::string openUID() const { return audio->io() ? audio->io()->device().uid : std::string("none"); }

    test::TempHome home;
    test::ScopedBackend<FakeAudioBackend> backend;
    std::unique_ptr<UserDefaults> defaults = std::make_unique<UserDefaults>(home.file("defaults.json"));
    ManualScheduler scheduler;
    test::FakeMicrophonePermission permission;
    std::unique_ptr<AudioSystem> audio;
    std::vector<Installed> installed;
};

TEST_F(AudioSystemTest, FirstLaunchReadsDefaultsAndOpensTheSystemDefault)
{
    const auto builtIn = add("builtin", "Built-in Output", 2, transport::builtIn);
    const auto usb = add("usb", "Interface", 4);
    backend->setDefaultOutput(usb);
    defaults->setString("audio.buffer", "512"); // another type reads as the default

    auto& a = make();
    EXPECT_EQ(a.deviceUID(), "");
    EXPECT_EQ(a.bufferFrames(), 256);
    EXPECT_EQ(a.masterPair(), 0);
    EXPECT_EQ(a.cuePair(), -1);
    EXPECT_EQ(a.io(), nullptr);
    EXPECT_FALSE(defaults->contains("audio.device")); // creation writes nothing

    a.boot();
    ASSERT_TRUE(test::settle());
    ASSERT_EQ(openUID(), "usb") << a.errorText().value_or("-").toStdString();
    EXPECT_TRUE(a.io()->running());
    EXPECT_EQ(a.io()->cuePair(), std::nullopt);
    EXPECT_EQ(a.generation(), 1);
    ASSERT_EQ(installed.size(), 1u);
    EXPECT_EQ(installed[0].previousRate, installed[0].engineRate); // first open: its own rate
    EXPECT_EQ(a.deviceUID(), ""); // the default is followed, not saved
    EXPECT_EQ(a.errorText(), std::nullopt);
    (void)builtIn;
}

TEST_F(AudioSystemTest, EverySettingAssignmentSavesAndRestartsUnlessItIsAPlayersAggregate)
{
    add("usb", "Interface", 4);
    auto& a = boot();
    ASSERT_EQ(a.generation(), 1);

    a.setBufferFrames(256); // the same value: saved and restarted all the same
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(defaults->integer("audio.buffer"), 256);
    EXPECT_EQ(a.generation(), 2);

    a.setDeviceUID("usb");
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(defaults->string("audio.device"), "usb");

    a.setDeviceUID("com.kavri.zelvo.players.1.1");
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(defaults->string("audio.device"), "usb");
    EXPECT_EQ(openUID(), "usb"); // the aggregate is not listed: the default plays

    UserDefaults reread(defaults->filePath());
    EXPECT_EQ(reread.integer("audio.buffer"), 256);
}

TEST_F(AudioSystemTest, StoredPairsAndBufferSizesAreFittedWhenOpeningButKept)
{
    const auto two = add("two", "Two", 2);
    add("three", "Three", 3);
    add("four", "Four", 4);
    defaults->setString("audio.device", "two");
    defaults->setInteger("audio.master", 4);
    defaults->setInteger("audio.cue", 2);
    defaults->setInteger("audio.buffer", -7);
    auto& a = boot();
    ASSERT_NE(a.io(), nullptr);
    EXPECT_EQ(a.io()->masterPair(), 0);
    EXPECT_EQ(a.io()->cuePair(), std::nullopt);
    EXPECT_EQ(a.io()->channelMap(), (std::vector<int>{0, 1}));
    EXPECT_EQ(a.masterPair(), 4);
    EXPECT_EQ(a.cuePair(), 2);
    EXPECT_EQ(a.bufferFrames(), -7);
    ASSERT_FALSE(backend->bufferRequests().empty());
    EXPECT_EQ(backend->bufferRequests().back(), (std::pair<AudioObjectId, std::uint32_t>{two, 32}));

    // Negative pairs stored by an older build: master counts as 0, cue as none.
    a.setMasterPair(-3);
    a.setCuePair(-9);
    a.setBufferFrames(std::int64_t(1) << 40);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.io()->masterPair(), 0);
    EXPECT_EQ(a.io()->cuePair(), std::nullopt);
    // Three attempts ran side by side; the device only ever heard sizes in range.
    const auto requests = backend->bufferRequests();
    EXPECT_TRUE(std::all_of(requests.begin(), requests.end(), [](auto r) { return r.second >= 32 && r.second <= 4096; }));
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](auto r) { return r.second == 4096; }));
    EXPECT_EQ(defaults->integer("audio.master"), -3);

    a.setDeviceUID("three");
    a.setMasterPair(2);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.io()->masterPair(), 1);
    EXPECT_EQ(a.io()->channelMap(), (std::vector<int>{-1, 0, 1}));

    a.setDeviceUID("four");
    a.setMasterPair(0);
    a.setCuePair(2);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.io()->cuePair(), 2);
    a.setCuePair(3);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.io()->cuePair(), std::nullopt);
}

TEST_F(AudioSystemTest, TwoSettingsInOneTurnInstallOnlyTheSecondAttempt)
{
    add("usb", "Interface", 4);
    auto& a = boot();
    const auto before = a.generation();
    const auto unitsBefore = backend->units().size();
    a.setMasterPair(0);
    a.setCuePair(2);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.generation(), before + 1);
    EXPECT_EQ(a.io()->cuePair(), 2);
    // The two attempts ran side by side; tell their units by the cue routing.
    const auto units = backend->units();
    ASSERT_EQ(units.size(), unitsBefore + 2);
    for (std::size_t i = unitsBefore; i < units.size(); ++i) {
        const bool second = units[i]->channelMap == std::vector<int>{0, 1, 2, 3};
        EXPECT_EQ(units[i]->running, second);
        EXPECT_EQ(units[i]->destroyed, !second); // the stale one was dropped, never started
        if (!second) {
            EXPECT_EQ(units[i]->framesPlayed, 0);
        }
    }
}

TEST_F(AudioSystemTest, AHungDeviceIsReplacedByABuiltInAfterFourSecondsAndTakesOverWhenItAnswers)
{
    add("builtin", "Built-in Output", 2, transport::builtIn);
    const auto usb = add("usb", "Interface", 2);
    backend->device(usb).hangOnInitialize = true;
    defaults->setString("audio.device", "usb");
    auto& a = make();
    a.boot();
    ASSERT_TRUE(test::spinUntil([&] { return backend->hungCount() == 1; }));
    scheduler.advance(3.9);
    EXPECT_EQ(a.io(), nullptr);
    EXPECT_EQ(a.pendingUID(), std::nullopt);

    scheduler.advance(0.1);
    ASSERT_TRUE(test::spinUntil([&] { return a.generation() == 1; }));
    EXPECT_EQ(openUID(), "builtin");
    EXPECT_EQ(a.pendingUID(), "usb");
    EXPECT_EQ(a.errorText(), std::nullopt); // the stand-in plays

    backend->releaseHangs();
    ASSERT_TRUE(test::spinUntil([&] { return a.generation() == 2; }));
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "usb");
    EXPECT_EQ(a.pendingUID(), std::nullopt);
    EXPECT_TRUE(a.io()->running());
    EXPECT_EQ(a.errorText(), std::nullopt);
}

TEST_F(AudioSystemTest, ALateDeviceTheUserNoLongerWantsIsDropped)
{
    add("builtin", "Built-in Output", 2, transport::builtIn);
    add("other", "Other", 2);
    const auto usb = add("usb", "Interface", 2);
    backend->device(usb).hangOnInitialize = true;
    defaults->setString("audio.device", "usb");
    auto& a = make();
    a.boot();
    ASSERT_TRUE(test::spinUntil([&] { return backend->hungCount() == 1; }));
    scheduler.advance(4.0);
    ASSERT_TRUE(test::spinUntil([&] { return a.generation() == 1; }));
    a.setDeviceUID("other");
    ASSERT_TRUE(test::spinUntil([&] { return a.generation() == 2; }));
    backend->releaseHangs();
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "other");
    EXPECT_EQ(a.generation(), 2);
    for (const auto& unit : backend->units()) {
        if (unit->device == usb) {
            EXPECT_TRUE(unit->destroyed);
        }
    }
}

TEST_F(AudioSystemTest, AHungOnlyBuiltInIsNamedAndInstalledWhenItAnswers)
{
    const auto builtIn = add("builtin", "Built-in Output", 2, transport::builtIn);
    backend->device(builtIn).hangOnInitialize = true;
    auto& a = make();
    a.boot();
    ASSERT_TRUE(test::spinUntil([&] { return backend->hungCount() == 1; }));
    scheduler.advance(4.0);
    QCoreApplication::processEvents();
    EXPECT_EQ(a.io(), nullptr);
    const QString text = "Built-in Output isn't answering — answer the microphone prompt (nothing is recorded) or replug it";
    EXPECT_EQ(a.errorText(), text);
    backend->releaseHangs();
    ASSERT_TRUE(test::spinUntil([&] { return a.generation() == 1; }));
    EXPECT_EQ(openUID(), "builtin");
    EXPECT_EQ(a.errorText(), text); // the watchdog fired on it: the text stays
}

TEST_F(AudioSystemTest, AnAttemptThatReportsInTimeDisarmsItsWatchdog)
{
    add("builtin", "Built-in Output", 2, transport::builtIn);
    add("usb", "Interface", 2);
    defaults->setString("audio.device", "usb");
    auto& a = boot();
    scheduler.advance(10.0);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "usb");
    EXPECT_EQ(a.generation(), 1);
    EXPECT_EQ(a.pendingUID(), std::nullopt);
}

TEST_F(AudioSystemTest, FailuresAreShownAndNoDeviceIsReported)
{
    auto& a = boot();
    EXPECT_EQ(a.errorText(), "no output device");
    EXPECT_EQ(a.io(), nullptr);

    const auto usb = add("usb", "Interface", 2);
    listChanged();
    ASSERT_TRUE(test::spinUntil([&] { return a.devices().size() == 1; }));
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.io(), nullptr); // a device that appears is not opened by the list change alone

    backend->device(usb).failSteps["initialize"] = kStatusBusy;
    a.restart();
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.io(), nullptr);
    EXPECT_EQ(a.errorText(), "initialize AUHAL failed (busy)");

    backend->device(usb).failSteps = {{"start", kStatusBusy}};
    a.restart();
    ASSERT_TRUE(test::settle());
    ASSERT_NE(a.io(), nullptr);
    EXPECT_FALSE(a.io()->running());
    EXPECT_EQ(a.generation(), 1);
    EXPECT_EQ(a.errorText(), "start output failed (busy)");
}

TEST_F(AudioSystemTest, ARateChangeRestartsAndTheHandlerSeesTheOldRate)
{
    const auto usb = add("usb", "Interface", 2, transport::usb, 0, 44100);
    auto& a = boot();
    ASSERT_EQ(installed.size(), 1u);
    EXPECT_EQ(installed[0].engineRate, 44100);

    backend->device(usb).nominalSampleRate = 44100.5; // exactly 0.5 Hz: no restart
    backend->notify(usb, kPropertyNominalSampleRate);
    backend->flushNotifications();
    ASSERT_TRUE(test::settle());
    QCoreApplication::processEvents();
    EXPECT_EQ(a.generation(), 1);

    backend->device(usb).nominalSampleRate = 48000;
    backend->notify(usb, kPropertyNominalSampleRate);
    backend->flushNotifications();
    ASSERT_TRUE(test::spinUntil([&] { return a.generation() == 2; }));
    ASSERT_EQ(installed.size(), 2u);
    EXPECT_EQ(installed[1].engineRate, 48000);
    EXPECT_EQ(installed[1].previousRate, 44100);
}

TEST_F(AudioSystemTest, AnUndecidedMicrophoneIsAskedOnceWhileABuiltInPlays)
{
    add("builtin", "Built-in Output", 2, transport::builtIn);
    add("usb", "Interface", 2, transport::usb, 2);
    defaults->setString("audio.device", "usb");
    permission.setStatus(Status::undetermined);
    auto& a = boot();
    EXPECT_EQ(permission.requests(), 1);
    EXPECT_TRUE(a.asking());
    EXPECT_EQ(openUID(), "builtin");

    a.restart(); // before the answer: nothing new is asked
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(permission.requests(), 1);

    permission.answer(false); // either answer opens the interface
    ASSERT_TRUE(test::spinUntil([&] { return !a.asking(); }));
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "usb");
    EXPECT_EQ(a.errorText(), std::nullopt);
}

TEST_F(AudioSystemTest, WithoutABuiltInTheInterfaceOpensWhileTheQuestionIsOpen)
{
    add("usb", "Interface", 2, transport::usb, 2);
    add("virtual", "Virtual Output", 2, transport::virtualDevice);
    defaults->setString("audio.device", "usb");
    permission.setStatus(Status::undetermined);
    auto& a = boot();
    EXPECT_EQ(permission.requests(), 1);
    EXPECT_EQ(openUID(), "usb"); // the virtual output is not built-in
    permission.answer(true);
    ASSERT_TRUE(test::spinUntil([&] { return !a.asking(); }));
}

TEST_F(AudioSystemTest, AnUnpluggedDeviceFallsBackAndIsChosenAgainOnlyAtTheNextRestart)
{
    const auto builtIn = add("builtin", "Built-in Output", 2, transport::builtIn);
    backend->setDefaultOutput(builtIn);
    const auto usb = add("usb", "Interface", 2);
    defaults->setString("audio.device", "usb");
    auto& a = boot();
    ASSERT_EQ(openUID(), "usb");

    backend->removeDevice(usb);
    listChanged();
    ASSERT_TRUE(test::spinUntil([&] { return a.generation() == 2; }));
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "builtin");
    EXPECT_EQ(defaults->string("audio.device"), "usb");

    add("usb", "Interface", 2);
    listChanged();
    ASSERT_TRUE(test::spinUntil([&] { return a.devices().size() == 2; }));
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "builtin");
    a.restart();
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "usb");
}

// An output whose I/O ended by itself stops counting as running at once. The
// janitor restarts on the next choice when the device has left the list, with
// no message and the saved choice kept; on the same device after the grace
// when it stays listed.
TEST_F(AudioSystemTest, AnOutputWhoseDeviceWentAwayRestarts)
{
    const auto builtIn = add("builtin", "Built-in Output", 2, transport::builtIn);
    backend->setDefaultOutput(builtIn);
    const auto usb = add("usb", "Interface", 2);
    defaults->setString("audio.device", "usb");
    auto& a = boot();
    const auto g = a.generation();
    backend->vanishDevice(usb);
    EXPECT_FALSE(a.outputRunning());
    scheduler.advance(AudioSystem::kJanitorSeconds);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "builtin");
    EXPECT_TRUE(a.outputRunning());
    EXPECT_FALSE(a.errorText().has_value());
    EXPECT_EQ(defaults->string("audio.device"), "usb");

    backend->endIO(builtIn);
    scheduler.advance(AudioSystem::kEndedGraceSeconds - AudioSystem::kJanitorSeconds);
    EXPECT_EQ(a.generation(), g + 1);
    scheduler.advance(AudioSystem::kJanitorSeconds);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.generation(), g + 2);
    EXPECT_EQ(openUID(), "builtin");
    EXPECT_TRUE(a.outputRunning());
}

// A lone card whose I/O ends after every 5 s of play while it stays listed:
// nothing plays while it waits, so it is opened again at the first grace each
// time, however often it ends, and plays in between.
TEST_F(AudioSystemTest, ALoneCardWhoseIOKeepsEndingIsOpenedAgainAtTheFirstGraceEachTime)
{
    const auto usb = add("usb", "Interface", 2);
    backend->setDefaultOutput(usb);
    auto& a = boot();
    ASSERT_EQ(openUID(), "usb");
    double now = 0.0;
    double played = 0.0;
    double endedAt = 0.0;
    double playing = 0.0;
    std::vector<double> waits;
    while (now < 100.0) {
        if (a.outputRunning() && played >= 5.0) {
            backend->endIO(usb);
            ASSERT_FALSE(a.outputRunning());
            endedAt = now;
            played = 0.0;
        }
        const auto g = a.generation();
        scheduler.advance(AudioSystem::kJanitorSeconds);
        now += AudioSystem::kJanitorSeconds;
        ASSERT_TRUE(test::settle());
        if (a.generation() != g) {
            waits.push_back(now - endedAt);
            ASSERT_TRUE(a.outputRunning()) << "at " << now;
            ASSERT_EQ(openUID(), "usb");
        }
        backend->pump(AudioSystem::kJanitorSeconds);
        if (a.outputRunning()) {
            played += AudioSystem::kJanitorSeconds;
            playing += AudioSystem::kJanitorSeconds;
        }
    }
    // 5 s of play, then the first grace: about fourteen reopens in 100 s.
    ASSERT_GE(waits.size(), 13u);
    for (std::size_t i = 0; i < waits.size(); ++i)
        EXPECT_NEAR(waits[i], AudioSystem::kEndedGraceSeconds, AudioSystem::kJanitorSeconds) << i;
    // At least the share 5 s of play and one grace leave, as before the back-off.
    EXPECT_GE(playing / now, 5.0 / (5.0 + AudioSystem::kEndedGraceSeconds)) << playing / now;
    const auto& units = backend->units();
    EXPECT_TRUE(std::any_of(units.begin(), units.end(),
                            [&](const auto& u) { return u->running && !u->ended && u->framesPlayed > 0; }));
}

// A reopen after the grace that fails shows its error; the device leaving the
// list later still moves the set to the next choice, as it would have with the
// ended output open.
TEST_F(AudioSystemTest, AFailedReopenOfAnEndedDeviceFollowsItOffTheList)
{
    const auto builtIn = add("builtin", "Built-in Output", 2, transport::builtIn);
    backend->setDefaultOutput(builtIn);
    const auto usb = add("usb", "Interface", 2);
    defaults->setString("audio.device", "usb");
    auto& a = boot();
    ASSERT_EQ(openUID(), "usb");
    backend->endIO(usb);
    backend->device(usb).failSteps["initialize"] = -50;
    scheduler.advance(AudioSystem::kEndedGraceSeconds);
    ASSERT_TRUE(test::settle());
    EXPECT_FALSE(a.outputRunning());
    EXPECT_EQ(a.errorText(), QStringLiteral("initialize AUHAL failed (-50)"));

    backend->removeDevice(usb);
    listChanged();
    ASSERT_TRUE(test::spinUntil([&] { return a.outputRunning(); })) << a.errorText().value_or("-").toStdString();
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "builtin");
    EXPECT_FALSE(a.errorText().has_value());
    EXPECT_EQ(defaults->string("audio.device"), "usb");
}

// A lone card whose I/O ended and whose reopen after the grace fails (its
// sound server still on its way back): nothing else is open, so it is tried
// again at each grace and plays within one grace of answering again, 3 s
// after the drop. It came back at another rate: the hand-over names the rate
// of the engine before the drop, so the decks decode their records anew.
TEST_F(AudioSystemTest, AFailedReopenIsTriedAgainAtEachGraceUntilTheDeviceAnswers)
{
    const auto usb = add("usb", "Interface", 2);
    backend->setDefaultOutput(usb);
    auto& a = boot();
    ASSERT_EQ(openUID(), "usb");
    backend->endIO(usb);
    backend->device(usb).failSteps["initialize"] = -50;
    double now = 0.0;
    std::optional<double> back;
    std::optional<double> playing;
    bool failureShown = false;
    while (now < 12.0 && !playing) {
        if (!back && now >= 3.0) {
            backend->device(usb).failSteps.clear();
            backend->device(usb).nominalSampleRate = 44100;
            back = now;
        }
        scheduler.advance(AudioSystem::kJanitorSeconds);
        now += AudioSystem::kJanitorSeconds;
        ASSERT_TRUE(test::settle());
        failureShown = failureShown || a.errorText() == QStringLiteral("initialize AUHAL failed (-50)");
        if (a.outputRunning())
            playing = now;
    }
    EXPECT_TRUE(failureShown);
    ASSERT_TRUE(playing.has_value()) << "silent for " << now << " s";
    EXPECT_LE(*playing - *back, AudioSystem::kEndedGraceSeconds);
    EXPECT_EQ(openUID(), "usb");
    EXPECT_FALSE(a.errorText().has_value());
    ASSERT_EQ(installed.size(), 2u);
    EXPECT_EQ(installed[1].engineRate, 44100);
    EXPECT_EQ(installed[1].previousRate, 48000);
}

// Whatever left nothing playing after a restart (an open that failed on a
// player rig's card while its clock master had been playing, a start that
// failed after the open, a card that left the list during the retries and came
// back under a new id at another rate), the chosen device is opened again at
// each grace while it is listed, and plays within one grace of answering.
TEST_F(AudioSystemTest, WhileNothingPlaysTheChosenDeviceIsTriedAgainAtEachGrace)
{
    const auto usb = add("usb", "Interface", 2);
    backend->setDefaultOutput(usb);
    auto& a = boot();
    ASSERT_EQ(openUID(), "usb");
    double now = 0.0;
    // Janitor firings until something plays; `fix` runs once, `fixAfter` s in.
    const auto untilPlaying = [&](double fixAfter, const std::function<void()>& fix) -> std::optional<double> {
        const double from = now;
        std::optional<double> fixed;
        while (now < from + 40.0) {
            if (!fixed && now >= from + fixAfter) {
                fix();
                fixed = now;
            }
            scheduler.advance(AudioSystem::kJanitorSeconds);
            now += AudioSystem::kJanitorSeconds;
            if (!test::settle())
                return std::nullopt;
            backend->pump(AudioSystem::kJanitorSeconds);
            if (fixed && a.outputRunning())
                return now - *fixed;
        }
        return std::nullopt;
    };

    // The reopen after the drop opens, but its start fails.
    backend->endIO(usb);
    backend->device(usb).failSteps["start"] = -50;
    auto after = untilPlaying(3.0, [&] { backend->device(usb).failSteps.clear(); });
    ASSERT_TRUE(after.has_value()) << "a failed start: " << openUID() << " "
                                   << a.errorText().value_or("-").toStdString();
    EXPECT_LE(*after, AudioSystem::kEndedGraceSeconds + AudioSystem::kJanitorSeconds);
    EXPECT_FALSE(a.errorText().has_value());

    // The reopen fails; the card leaves the list, then comes back.
    backend->endIO(usb);
    backend->device(usb).failSteps["initialize"] = -50;
    scheduler.advance(AudioSystem::kEndedGraceSeconds);
    now += AudioSystem::kEndedGraceSeconds;
    ASSERT_TRUE(test::settle());
    ASSERT_EQ(a.errorText(), QStringLiteral("initialize AUHAL failed (-50)"));
    backend->removeDevice(usb);
    listChanged();
    ASSERT_TRUE(test::settle());
    ASSERT_FALSE(a.outputRunning());
    after = untilPlaying(1.0, [&] {
        add("usb", "Interface", 2, transport::usb, 0, 44100);
        listChanged();
    });
    ASSERT_TRUE(after.has_value()) << "a card back on the list: " << openUID();
    EXPECT_LE(*after, AudioSystem::kEndedGraceSeconds + AudioSystem::kJanitorSeconds);
    EXPECT_EQ(openUID(), "usb");
    EXPECT_EQ(a.io()->engine().sampleRate(), 44100);

    // A rig's follower ends; the rig's reopen fails on it.
    const auto cardA = add("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14200000:1", "CDJ-3000X", 2);
    const auto cardB = add("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14300000:1", "CDJ-3000X #2", 2);
    a.setPlayerRig({{0x14300000, 1, PlayerModel::cdj3000x}, {0x14200000, 0, PlayerModel::cdj3000x}});
    ASSERT_TRUE(test::settle());
    ASSERT_TRUE(a.rigAggregate());
    ASSERT_TRUE(a.outputRunning());
    backend->pump(0.1);
    backend->endIO(cardB);
    backend->device(cardB).failSteps["initialize"] = -50;
    after = untilPlaying(AudioSystem::kEndedGraceSeconds + 0.5, [&] { backend->device(cardB).failSteps.clear(); });
    ASSERT_TRUE(after.has_value()) << "a rig's follower: " << openUID() << " "
                                   << a.errorText().value_or("-").toStdString();
    EXPECT_LE(*after, AudioSystem::kEndedGraceSeconds + AudioSystem::kJanitorSeconds);
    EXPECT_EQ(a.io()->device().id, *a.rigAggregate());
    backend->pump(0.5);
    const auto& units = backend->units();
    EXPECT_TRUE(std::any_of(units.begin(), units.end(), [&](const auto& u) {
        return (u->device == cardA || u->device == cardB) && u->running && !u->ended && u->framesPlayed > 0;
    }));
    EXPECT_EQ(a.deviceUID(), a.rigUID());
}

// A card whose I/O ended and that then does not answer for a minute, tried
// at each grace: while its opens fail no engine is built, and while it opens
// but will not start, the output installed once is started again as it is, with
// no new engine and no new hand-over. The failure stays in view meanwhile, and
// once the card answers it plays within a grace.
TEST_F(AudioSystemTest, ACardThatDoesNotAnswerForAMinuteCostsNoEngineAtEachGrace)
{
    struct Case {
        const char* step;
        QString failure;
        std::int64_t engines; // built while it does not answer, and installed
    };
    for (const Case& c : {Case{"initialize", QStringLiteral("initialize AUHAL failed (-50)"), 0},
                          Case{"start", QStringLiteral("start output failed (-50)"), 1}}) {
        SCOPED_TRACE(c.step);
        const auto usb = add("usb", "Interface", 2);
        backend->setDefaultOutput(usb);
        auto& a = boot();
        ASSERT_EQ(openUID(), "usb");
        backend->endIO(usb);
        backend->device(usb).failSteps[c.step] = -50;
        const auto built = AudioIO::enginesBuiltSoFar();
        const auto installs = std::int64_t(installed.size());
        const auto units = backend->units().size();
        bool shown = true;
        for (double now = 0.0; now < 60.0; now += AudioSystem::kJanitorSeconds) {
            scheduler.advance(AudioSystem::kJanitorSeconds);
            ASSERT_TRUE(test::settle());
            backend->pump(AudioSystem::kJanitorSeconds);
            ASSERT_FALSE(a.outputRunning());
            shown = shown && (now < AudioSystem::kEndedGraceSeconds || a.errorText() == c.failure);
        }
        EXPECT_TRUE(shown);
        EXPECT_EQ(AudioIO::enginesBuiltSoFar() - built, c.engines);
        EXPECT_EQ(std::int64_t(installed.size()) - installs, c.engines);
        EXPECT_EQ(a.generation(), 1 + c.engines);
        // A failed open is still tried at each grace.
        if (c.engines == 0) {
            EXPECT_GE(backend->units().size() - units, 25u);
        }

        backend->device(usb).failSteps.clear();
        double back = 0.0;
        while (back < 3.0 && !a.outputRunning()) {
            scheduler.advance(AudioSystem::kJanitorSeconds);
            back += AudioSystem::kJanitorSeconds;
            ASSERT_TRUE(test::settle());
        }
        ASSERT_TRUE(a.outputRunning()) << a.errorText().value_or("-").toStdString();
        EXPECT_LE(back, AudioSystem::kEndedGraceSeconds);
        EXPECT_FALSE(a.errorText().has_value());
        EXPECT_EQ(installed.size(), 2u);
        backend->pump(0.1);
        EXPECT_GT(backend->units().back()->framesPlayed, 0);

        TearDown();
        installed.clear();
        backend->removeDevice(usb);
    }
}

// A restart queued while the new output's start is still on its way to its
// thread (a device-list or rate notification, a second setting): whichever
// of the two comes first, once the output is dropped nothing renders it.
// The order is the threads' own, so the case runs many times.
TEST_F(AudioSystemTest, ARestartWhileTheNewOutputIsStillStartingLeavesItSilent)
{
    add("usb", "Interface", 2);
    auto& a = boot();
    bool armed = false;
    bool dropped = false;
    std::shared_ptr<FakeAudioBackend::UnitRecord> starting;
    QObject::connect(&a, &AudioSystem::generationChanged, &a, [&] {
        if (!std::exchange(armed, false))
            return;
        // Installed, its start handed to a thread of its own next.
        starting = backend->units().back();
        QMetaObject::invokeMethod(&a, [&] { a.restart(); }, Qt::QueuedConnection);
    });
    QObject::connect(&a, &AudioSystem::ioChanged, &a, [&] { dropped = dropped || (starting && !a.io()); });
    const auto threadsDone = [] {
        for (int i = 0; i < 30000 && AudioSystem::attemptsInFlight() > 0; ++i)
            usleep(1000);
        return AudioSystem::attemptsInFlight() == 0;
    };
    int rendered = 0;
    for (int i = 0; i < 30; ++i) {
        armed = true;
        dropped = false;
        starting.reset();
        a.restart();
        ASSERT_TRUE(test::spinUntil([&] { return dropped; })) << i;
        // The dropped output's start and the next open both finish; nothing
        // they post is delivered yet, so the dropped unit is still alive.
        ASSERT_TRUE(threadsDone());
        backend->pump(0.02);
        if (starting->running || starting->framesPlayed > 0)
            ++rendered;
        ASSERT_TRUE(test::settle());
        ASSERT_TRUE(a.outputRunning()) << i;
    }
    EXPECT_EQ(rendered, 0) << "of 30";
}

TEST_F(AudioSystemTest, AConnectedControllersCardBecomesTheOutputOnce)
{
    add("builtin", "Built-in Output", 2, transport::builtIn);
    add("flx4.a", "DDJ-FLX4", 4);
    add("flx4.b", "DDJ-FLX4 #2", 4);
    auto& a = boot();
    ASSERT_EQ(openUID(), "builtin");
    const auto g = a.generation();

    a.setPreferredController(ControllerKind::flx4);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "flx4.a"); // the first match in list order
    EXPECT_EQ(a.io()->masterPair(), 0);
    EXPECT_EQ(a.io()->cuePair(), 2);
    EXPECT_EQ(defaults->string("audio.device"), "flx4.a");
    EXPECT_EQ(a.generation(), g + 1); // one restart for the batch

    a.setPreferredController(ControllerKind::flx4); // announced again: nothing moves
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.generation(), g + 1);

    a.setDeviceUID("builtin");
    a.setPreferredController(std::nullopt);
    a.setPreferredController(ControllerKind::flx4);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "flx4.a");
}

TEST_F(AudioSystemTest, ATwoChannelControllerCardGetsNoCue)
{
    add("builtin", "Built-in Output", 2, transport::builtIn);
    auto& a = boot();
    a.setPreferredController(ControllerKind::flx10); // not listed yet
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "builtin");
    add("flx10", "DDJ-FLX10", 2);
    listChanged();
    ASSERT_TRUE(test::spinUntil([&] { return openUID() == "flx10"; }));
    EXPECT_EQ(a.cuePair(), -1);
    EXPECT_EQ(a.masterPair(), 0);
}

TEST_F(AudioSystemTest, TheJanitorReleasesRetiredBuffersEveryHalfSecond)
{
    add("usb", "Interface", 2);
    auto& a = boot();
    const auto baseline = TrackBuffer::liveCount();
    MixEngine& engine = a.io()->engine();
    engine.deck(0)->send(DeckCommand::load(TrackBufferRef(4800, 48000.0), false));
    backend->pump(0.02);
    engine.deck(0)->send(DeckCommand::load(TrackBufferRef(4800, 48000.0), false));
    backend->pump(0.02); // the first buffer is retired now, waiting for the main thread
    EXPECT_EQ(TrackBuffer::liveCount(), baseline + 2);
    scheduler.advance(0.49);
    EXPECT_EQ(TrackBuffer::liveCount(), baseline + 2);
    scheduler.advance(0.01);
    EXPECT_EQ(TrackBuffer::liveCount(), baseline + 1);

    // A restart releases what the old engine's deck still held.
    a.restart();
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(TrackBuffer::liveCount(), baseline);
}

TEST_F(AudioSystemTest, ShutdownStopsARecordingBeforeTheOutput)
{
    add("usb", "Interface", 2);
    auto& a = boot();
    MixEngine& engine = a.io()->engine();
    engine.startRecording(home.file("set.wav").toStdString());
    ASSERT_TRUE(engine.state()->recording.load());
    backend->pump(0.05);
    a.shutdown();
    EXPECT_FALSE(engine.state()->recording.load());
    ASSERT_NE(a.io(), nullptr); // kept, stopped
    EXPECT_FALSE(a.io()->running());
    EXPECT_TRUE(engine.waitForRecordingFiles(std::chrono::seconds(10)));
}

// A started output whose result is never delivered (the program quits first)
// is released with the event: the unit goes before its backend, which no one
// else holds by then. Under the address sanitizer a freed backend reached by
// the unit's teardown fails this.
TEST(AudioSystemStart, AnUndeliveredStartReleasesTheUnitBeforeItsBackend)
{
    test::TempHome home;
    auto backend = std::make_optional<test::ScopedBackend<FakeAudioBackend>>();
    FakeAudioBackend::Device d;
    (*backend)->setDefaultOutput((*backend)->addDevice(d));
    UserDefaults defaults(home.file("defaults.json"));
    ManualScheduler scheduler;
    test::FakeMicrophonePermission permission;
    auto audio = std::make_unique<AudioSystem>(defaults, scheduler, permission);
    const auto threadsDone = [] {
        for (int i = 0; i < 5000 && AudioSystem::attemptsInFlight() > 0; ++i)
            usleep(1000);
        return AudioSystem::attemptsInFlight() == 0;
    };
    audio->boot();
    ASSERT_TRUE(threadsDone());
    // Delivers the open, which starts the output on a thread of its own.
    QCoreApplication::sendPostedEvents();
    ASSERT_NE(audio->io(), nullptr);
    ASSERT_TRUE(threadsDone());
    std::weak_ptr<AudioIO> io = audio->io();
    audio.reset();
    backend.reset();
    // The start's result is still queued and holds the last references.
    QCoreApplication::removePostedEvents(nullptr);
    EXPECT_TRUE(io.expired());
}

class PlayerRigTest : public AudioSystemTest {
protected:
    void SetUp() override
    {
        builtIn = add("builtin", "Built-in Output", 2, transport::builtIn);
        backend->setDefaultOutput(builtIn);
        cardA = add("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14200000:1", "CDJ-3000X", 2);
        cardB = add("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14300000:1", "CDJ-3000X #2", 2);
        defaults->setString("audio.device", "builtin");
    }

    static std::vector<AudioSystem::RigPlayer> twoPlayers()
    {
        return {{0x14300000, 1, PlayerModel::cdj3000x}, {0x14200000, 0, PlayerModel::cdj3000x}};
    }

    AudioObjectId builtIn = 0, cardA = 0, cardB = 0;
};

TEST_F(PlayerRigTest, TwoPlayersAreJoinedIntoOneAggregateWithEachDeckOnItsCard)
{
    auto& a = boot();
    a.setPlayerRig(twoPlayers());
    ASSERT_TRUE(test::settle());
    const QString uid = QString("com.kavri.zelvo.players.%1.1").arg(qint64(::getpid()));
    EXPECT_EQ(a.rigUID(), uid);
    ASSERT_TRUE(a.rigAggregate());
    ASSERT_NE(a.io(), nullptr);
    EXPECT_EQ(a.io()->device().id, *a.rigAggregate());
    EXPECT_EQ(a.io()->device().name, "kavri zelvo players");
    EXPECT_EQ(a.io()->device().outputChannels, 4);
    EXPECT_EQ(a.io()->masterPair(), 0);
    EXPECT_EQ(a.io()->cuePair(), 2); // the first pair of the second card
    EXPECT_TRUE(a.directOuts());
    EXPECT_TRUE(a.io()->engine().params()->directOuts.load());
    EXPECT_EQ(a.rigRoutes(), (std::map<int, QString>{{0, "cdj-3000x"}, {1, "cdj-3000x #2"}}));
    EXPECT_EQ(defaults->string("audio.device"), "builtin");
    EXPECT_EQ(a.preRigUID(), "builtin");

    // The same players again: nothing is rebuilt.
    const auto g = a.generation();
    a.setPlayerRig(twoPlayers());
    listChanged();
    ASSERT_TRUE(test::settle());
    QCoreApplication::processEvents();
    EXPECT_EQ(a.generation(), g);
    EXPECT_EQ(a.rigCount(), 1);

    // One player leaves: its partner's card plays the normal mix.
    const auto aggregate = *a.rigAggregate();
    a.setPlayerRig({{0x14300000, 1, PlayerModel::cdj3000x}});
    ASSERT_TRUE(test::settle());
    EXPECT_FALSE(CoreAudioHAL::device(aggregate));
    EXPECT_EQ(openUID(), "AppleUSBAudioEngine:Pioneer:CDJ-3000X:14300000:1");
    EXPECT_FALSE(a.directOuts());
    EXPECT_FALSE(a.io()->engine().params()->directOuts.load());
    EXPECT_EQ(a.rigRoutes(), (std::map<int, QString>{{0, "cdj-3000x #2"}}));
    EXPECT_EQ(defaults->string("audio.device"), "AppleUSBAudioEngine:Pioneer:CDJ-3000X:14300000:1");
    EXPECT_EQ(a.cuePair(), -1);

    // Both gone: back to the device from before the rig.
    a.setPlayerRig({});
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(openUID(), "builtin");
    EXPECT_EQ(a.preRigUID(), std::nullopt);
    EXPECT_TRUE(a.rigRoutes().empty());
    EXPECT_TRUE(a.rigSubs().empty());
}

TEST_F(PlayerRigTest, OneFakeCardServesBothPlayers)
{
    setenv("KAVRI_FAKE_PLAYER_CARDS", ",builtin,", 1);
    backend->removeDevice(cardA);
    backend->removeDevice(cardB);
    auto& a = boot();
    a.setPlayerRig({{1, 0, PlayerModel::cdj3000x}, {2, 1, PlayerModel::cdj3000}});
    ASSERT_TRUE(test::settle());
    unsetenv("KAVRI_FAKE_PLAYER_CARDS");
    EXPECT_EQ(a.rigSubs(), (std::vector<QString>{"builtin", "builtin"}));
    ASSERT_TRUE(a.rigAggregate());
    EXPECT_EQ(a.io()->device().id, *a.rigAggregate());
    EXPECT_EQ(a.io()->device().outputChannels, 4);
    EXPECT_TRUE(a.io()->running());
}

TEST_F(PlayerRigTest, CommasOnlyCountAsNoFakeCards)
{
    setenv("KAVRI_FAKE_PLAYER_CARDS", ",,", 1);
    backend->removeDevice(cardA);
    backend->removeDevice(cardB);
    auto& a = boot();
    a.setPlayerRig(twoPlayers());
    ASSERT_TRUE(test::settle());
    unsetenv("KAVRI_FAKE_PLAYER_CARDS");
    EXPECT_TRUE(a.rigSubs().empty());
    EXPECT_EQ(openUID(), "builtin");
}

TEST_F(PlayerRigTest, AFailedAggregateFallsBackToDeckOnesCardAndRetriesLater)
{
    auto& a = boot();
    a.setPlayerRig(twoPlayers());
    ASSERT_TRUE(test::settle());
    ASSERT_TRUE(a.rigAggregate());
    const auto subs = a.rigSubs();

    // The aggregate vanishes and can't be made again.
    backend->setAggregatesFail(true);
    backend->destroyAggregate(*a.rigAggregate());
    listChanged();
    ASSERT_TRUE(test::spinUntil([&] { return !a.rigAggregate(); }));
    ASSERT_TRUE(test::settle());
    const QString failure = "couldn't join the two players' sound cards";
    ASSERT_NE(a.io(), nullptr); // not silent: deck 1's card plays the normal mix
    EXPECT_EQ(openUID(), "AppleUSBAudioEngine:Pioneer:CDJ-3000X:14200000:1");
    EXPECT_TRUE(a.io()->running());
    EXPECT_EQ(a.io()->cuePair(), std::nullopt);
    EXPECT_FALSE(a.directOuts());
    EXPECT_FALSE(a.io()->engine().params()->directOuts.load());
    EXPECT_EQ(a.errorText(), failure); // still in view once the stand-in plays
    EXPECT_EQ(defaults->string("audio.device"), "builtin");
    EXPECT_EQ(a.rigSubs(), subs);

    backend->setAggregatesFail(false);
    listChanged();
    ASSERT_TRUE(test::spinUntil([&] { return a.rigAggregate().has_value(); }));
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.io()->device().id, *a.rigAggregate());
    EXPECT_TRUE(a.directOuts());
    EXPECT_EQ(a.errorText(), std::nullopt);
    EXPECT_EQ(a.rigCount(), 3);
}

// A follower card whose I/O ended while it stays listed: the master plays on
// and the output keeps counting as running; after the grace the rig is opened
// again and the follower's card plays.
TEST_F(PlayerRigTest, AFollowerWhoseIOEndedIsOpenedAgainAfterTheGrace)
{
    auto& a = boot();
    a.setPlayerRig(twoPlayers());
    ASSERT_TRUE(test::settle());
    ASSERT_TRUE(a.rigAggregate());
    const auto g = a.generation();
    backend->pump(0.1);
    backend->endIO(cardB);
    scheduler.advance(AudioSystem::kEndedGraceSeconds - AudioSystem::kJanitorSeconds);
    ASSERT_TRUE(test::settle());
    EXPECT_TRUE(a.outputRunning());
    EXPECT_EQ(a.generation(), g);
    scheduler.advance(AudioSystem::kJanitorSeconds);
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(a.generation(), g + 1);
    EXPECT_TRUE(a.outputRunning());
    backend->pump(0.5);
    const auto& units = backend->units();
    EXPECT_TRUE(std::any_of(units.begin(), units.end(), [&](const auto& u) {
        return u->device == cardB && u->running && !u->ended && u->framesPlayed > 0;
    }));
}

// A follower card whose I/O ends again each time it is opened, while it stays
// listed: every reopen stops the master card too, so the wait before each one
// doubles up to the longest grace, and the master plays on in between. Once
// the card has played whole for that long, a new loss waits the first grace.
TEST_F(PlayerRigTest, AFollowerWhoseIOKeepsEndingIsOpenedAgainLessAndLessOften)
{
    auto& a = boot();
    a.setPlayerRig(twoPlayers());
    ASSERT_TRUE(test::settle());
    ASSERT_TRUE(a.rigAggregate());
    const auto followerPlays = [&] {
        const auto& units = backend->units();
        return std::any_of(units.begin(), units.end(),
                           [&](const auto& u) { return u->device == cardB && u->running && !u->ended; });
    };
    std::vector<double> reopenedAt;
    double now = 0.0;
    const auto janitor = [&](bool ending) {
        if (ending && followerPlays())
            backend->endIO(cardB);
        const auto g = a.generation();
        scheduler.advance(AudioSystem::kJanitorSeconds);
        now += AudioSystem::kJanitorSeconds;
        ASSERT_TRUE(test::settle());
        if (a.generation() != g)
            reopenedAt.push_back(now);
        EXPECT_TRUE(a.outputRunning()) << "at " << now;
        backend->pump(AudioSystem::kJanitorSeconds);
    };
    while (now < 150.0)
        ASSERT_NO_FATAL_FAILURE(janitor(true));
    // 2, 4, 8, 16, 32, 32, 32 seconds: seven reopens, not seventy.
    ASSERT_EQ(reopenedAt.size(), 7u);
    double gap = 0.0;
    for (std::size_t i = 0; i < reopenedAt.size(); ++i) {
        const double next = reopenedAt[i] - (i ? reopenedAt[i - 1] : 0.0);
        EXPECT_NEAR(next, AudioSystem::endedGraceSeconds(int(i)), AudioSystem::kJanitorSeconds) << i;
        EXPECT_GE(next, gap) << i;
        gap = next;
    }
    EXPECT_EQ(AudioSystem::endedGraceSeconds(20), AudioSystem::kEndedGraceLongestSeconds);

    // The card comes back for good after its last reopen.
    while (now < reopenedAt.back() + 1.0 + AudioSystem::kEndedGraceLongestSeconds)
        ASSERT_NO_FATAL_FAILURE(janitor(false));
    EXPECT_TRUE(followerPlays());
    reopenedAt.clear();
    const double lost = now;
    while (reopenedAt.empty() && now < lost + 10.0)
        ASSERT_NO_FATAL_FAILURE(janitor(true));
    ASSERT_EQ(reopenedAt.size(), 1u);
    EXPECT_NEAR(reopenedAt[0] - lost, AudioSystem::kEndedGraceSeconds, AudioSystem::kJanitorSeconds);
}

TEST_F(PlayerRigTest, ShutdownStopsTheOutputAndDestroysTheAggregate)
{
    auto& a = boot();
    a.setPlayerRig(twoPlayers());
    ASSERT_TRUE(test::settle());
    const auto aggregate = *a.rigAggregate();
    a.shutdown();
    EXPECT_FALSE(CoreAudioHAL::device(aggregate));
    EXPECT_EQ(a.rigAggregate(), std::nullopt);
    EXPECT_EQ(a.io(), nullptr); // it ran on the aggregate
    EXPECT_EQ(a.rigSubs().size(), 2u);
}

} // namespace
} // namespace zelvo
