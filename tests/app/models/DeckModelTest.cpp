// The deck model against a real engine rendered by hand: loading, the newest
// load winning, play counts and cue harvests on the library's current record,
// engine rebuilds, controls that reach the voice on every assignment, and the
// live snapshot.
#include "ModelRigSupport.h"
#include "support/AudioFixtures.h"

#include "library/AudioFileError.h"
#include "library/AudioFileIO.h"

#include <QFile>
#include <QScopeGuard>
#include <QThreadPool>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <utility>

using namespace zelvo;
using namespace zelvo::test;

namespace {

// A buffer of `seconds` with a tone for the first `musicSeconds` and silence after.
TrackBufferRef toneBuffer(double seconds, double musicSeconds, double rate)
{
    TrackBufferRef b(std::int64_t(std::llround(seconds * rate)), rate);
    const auto music = std::min<std::int64_t>(std::int64_t(std::llround(musicSeconds * rate)), b->frames);
    for (std::int64_t i = 0; i < music; ++i)
        b->left[i] = b->right[i] = 0.25f * float(std::sin(double(i) * 0.05));
    return b;
}

// Decodes into generated buffers, each path held back until its gate opens.
class GatedDecoder {
public:
    DeckModel::Decoder decoder()
    {
        return [this](const QString& path, double rate) {
            std::unique_lock lock(mutex_);
            rates_.push_back(rate);
            wake_.wait_for(lock, std::chrono::seconds(20), [&] { return all_ || open_[path]; });
            return toneBuffer(2.0, 2.0, rate);
        };
    }
    void open(const QString& path)
    {
        std::lock_guard lock(mutex_);
        open_[path] = true;
        wake_.notify_all();
    }
    // Lets every decode go, now and later, and waits until no decode thread
    // is left: none then reaches this decoder.
    void openAll()
    {
        {
            std::lock_guard lock(mutex_);
            all_ = true;
            wake_.notify_all();
        }
        spinUntil([] { return DeckModel::decodesRunning() == 0; }, 5.0);
    }
    std::vector<double> rates()
    {
        std::lock_guard lock(mutex_);
        return rates_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<QString, bool> open_;
    bool all_ = false;
    std::vector<double> rates_;
};

// A disk every decode reads from in chunks, one chunk a turn, to the decodes
// in the order they asked. A decode holds what it has read until it returns
// its record or gives up at its stop request. The state is shared, so a
// decode still running after its test reaches nothing of the test's.
class TurnDisk {
    struct State {
        std::mutex mutex;
        std::condition_variable_any wake;
        // Tickets start at 1: 0 grants nothing.
        std::uint64_t next = 1;
        std::uint64_t granted = 0;
        std::deque<std::pair<std::uint64_t, std::stop_token>> asking;
        std::vector<QString> started;
        int inside = 0;
        int stopped = 0;
        bool free = false;
        std::int64_t held = 0;
    };
    template <typename F>
    auto locked(F f) const
    {
        std::lock_guard lock(s_->mutex);
        return f(*s_);
    }

public:
    TurnDisk() : s_(std::make_shared<State>()) {}

    // A record of `chunks` chunks of `frames` frames each.
    DeckModel::StoppableDecoder decoder(int chunks, std::int64_t frames) const
    {
        return [s = s_, chunks, frames](const QString& path, double rate, std::stop_token stop) {
            std::unique_lock lock(s->mutex);
            ++s->inside;
            s->started.push_back(path);
            std::vector<std::vector<float>> read;
            std::int64_t held = 0;
            for (int i = 0; i < chunks; ++i) {
                const std::uint64_t ticket = s->next++;
                s->asking.emplace_back(ticket, stop);
                s->wake.notify_all();
                const bool granted = s->wake.wait(lock, stop, [&] { return s->granted == ticket || s->free; });
                std::erase_if(s->asking, [ticket](const auto& a) { return a.first == ticket; });
                if (!granted) {
                    ++s->stopped;
                    s->held -= held;
                    --s->inside;
                    s->wake.notify_all();
                    throw std::runtime_error("stopped");
                }
                read.emplace_back(std::size_t(2 * frames), 0.1f);
                held += 2 * frames * std::int64_t(sizeof(float));
                s->held += 2 * frames * std::int64_t(sizeof(float));
                s->granted = 0;
                s->wake.notify_all();
            }
            // What was read becomes the record.
            read.clear();
            s->held -= held;
            --s->inside;
            s->wake.notify_all();
            lock.unlock();
            return TrackBufferRef(chunks * frames, rate);
        };
    }
    // Once every decode on the disk asks for its next chunk, gives one to the
    // first to ask that has not been called off, and waits until it has it.
    // False when no decode is left.
    bool turn()
    {
        std::unique_lock lock(s_->mutex);
        const auto live = [this] {
            for (const auto& [ticket, stop] : s_->asking)
                if (!stop.stop_requested())
                    return ticket;
            return std::uint64_t(0);
        };
        if (!s_->wake.wait_for(lock, std::chrono::seconds(10), [&] {
                return s_->inside == 0 || (int(s_->asking.size()) == s_->inside && live() != 0);
            }))
            return false;
        if (s_->inside == 0)
            return false;
        s_->granted = live();
        s_->wake.notify_all();
        return s_->wake.wait_for(lock, std::chrono::seconds(10), [&] { return s_->granted == 0; });
    }
    // Lets every decode read on freely and waits until no decode thread is
    // left.
    void free()
    {
        {
            std::lock_guard lock(s_->mutex);
            s_->free = true;
            s_->wake.notify_all();
        }
        spinUntil([] { return DeckModel::decodesRunning() == 0; }, 10.0);
    }
    std::int64_t held() const { return locked([](State& s) { return s.held; }); }
    int stopped() const { return locked([](State& s) { return s.stopped; }); }
    int started() const { return locked([](State& s) { return int(s.started.size()); }); }

private:
    std::shared_ptr<State> s_;
};

TrackRecord withHotCue(TrackRecord r, std::size_t slot, double seconds)
{
    if (r.hotCues.size() <= slot)
        r.hotCues.resize(slot + 1);
    r.hotCues[slot] = seconds;
    return r;
}

std::int64_t plays(ModelRig& rig, const TrackRecord& r)
{
    return rig.library->track(r.id).value_or(TrackRecord{}).plays;
}

} // namespace

TEST(DeckModelTest, GeneratedTrackPlaysAndItsHotCueReachesTheCollection)
{
    ModelRig rig(48000.0, &LibraryStore::analyzeFile);
    const QString path = rig.home.file(QStringLiteral("music/drums.wav"));
    writeDrumTrack(path, 120.0, 12.0, 44100.0);
    const TrackRecord record = rig.import(path);
    ASSERT_TRUE(record.analyzed);
    ASSERT_TRUE(record.grid.has_value());

    rig.load(0, record);
    ASSERT_TRUE(rig.deck(0).buffer());
    EXPECT_DOUBLE_EQ(rig.deck(0).buffer()->sampleRate, 48000.0);
    rig.deck(0).playPause();
    rig.run(1.0);
    EXPECT_TRUE(rig.deck(0).live().playing);

    rig.engine->deck(0)->send(DeckCommand::hotCue(0, true));
    rig.render(64);
    rig.engine->deck(0)->send(DeckCommand::hotCue(0, false));
    rig.run(0.1);

    const double stored = rig.state(0).hotCues[0].load();
    ASSERT_GT(stored, 0.5);
    const TrackRecord inLibrary = *rig.library->track(record.id);
    ASSERT_TRUE(inLibrary.hotCues.at(0).has_value());
    EXPECT_DOUBLE_EQ(*inLibrary.hotCues[0], stored);
    EXPECT_EQ(inLibrary.plays, 1);
    EXPECT_EQ(inLibrary.grid, record.grid);
    EXPECT_EQ(rig.deck(0).track()->hotCues.at(0), inLibrary.hotCues[0]);

    ASSERT_TRUE(rig.library->flush());
    QFile file(rig.library->collectionPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(QByteArray::number(stored, 'g', 17).left(6)));
}

TEST(DeckModelTest, LoadWithoutAnEngineChangesNothing)
{
    DeckModel deck(0, false);
    int decoded = 0;
    deck.setDecoder([&decoded](const QString&, double rate) {
        ++decoded;
        return TrackBufferRef(10, rate);
    });
    int loading = 0;
    QObject::connect(&deck, &DeckModel::loadingChanged, [&loading] { ++loading; });
    bool done = false;
    deck.load(TrackRecord::forFile(QStringLiteral("/nowhere.wav"), {}), [&done] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_FALSE(deck.loading());
    EXPECT_EQ(loading, 0);
    EXPECT_FALSE(deck.track());
    EXPECT_EQ(decoded, 0);
}

TEST(DeckModelTest, LoadParksOnTheCuePointAndCountsThePlayOnTheLibrarysRecord)
{
    ModelRig rig;
    TrackRecord record = rig.drumTrack(QStringLiteral("a"), 6.0);
    record.cuePoint = 1.0;
    record = withHotCue(record, 2, 2.5);
    rig.library->update(record);

    DeckModel& deck = rig.deck(0);
    deck.setTempoFader(0.5);
    deck.setKeyShift(3);
    int loaded = 0;
    deck.setOnLoaded([&loaded](const TrackRecord&, const TrackBufferRef&) { ++loaded; });
    bool done = false;
    deck.load(record, [&done] { done = true; });
    EXPECT_TRUE(deck.loading());
    // While the file decodes, the library learns something new about the track.
    TrackRecord renamed = *rig.library->track(record.id);
    renamed.title = QStringLiteral("Renamed");
    renamed.key = MusicalKey(4, false);
    rig.library->update(renamed);
    ASSERT_TRUE(spinUntil([&done] { return done; }));
    rig.render(64);

    EXPECT_FALSE(deck.loading());
    EXPECT_EQ(loaded, 1);
    const TrackRecord now = *rig.library->track(record.id);
    EXPECT_EQ(now.plays, record.plays + 1);
    EXPECT_EQ(now.title, QStringLiteral("Renamed"));
    EXPECT_EQ(now.key, renamed.key);
    EXPECT_TRUE(now.analyzed);
    EXPECT_EQ(deck.track()->plays, record.plays);

    EXPECT_EQ(deck.tempoFader(), 0.0);
    EXPECT_EQ(deck.keyShift(), 0);
    EXPECT_DOUBLE_EQ(rig.engine->deck(0)->tempo().load(), 1.0);
    EXPECT_DOUBLE_EQ(rig.engine->deck(0)->keyShift().load(), 0.0);
    EXPECT_TRUE(rig.state(0).loaded.load());
    EXPECT_NEAR(rig.state(0).position.load(), 1.0, 1e-6);
    EXPECT_NEAR(rig.state(0).hotCues[2].load(), 2.5, 1e-6);
    EXPECT_TRUE(rig.engine->deck(0)->hasGrid());

    // The install's own cue commands are never harvested back.
    rig.run(0.2);
    EXPECT_EQ(rig.library->track(record.id)->plays, record.plays + 1);
}

TEST(DeckModelTest, TrailingSilenceOverTenSecondsWarnsOfACutOffFile)
{
    const double rate = 11025.0;
    ModelRig rig(rate);
    DeckModel& deck = rig.deck(0);
    const TrackRecord record = rig.drumTrack(QStringLiteral("a"), 1.0);

    double total = 20.0, music = 10.0;
    deck.setDecoder([&](const QString&, double r) { return toneBuffer(total, music, r); });
    rig.load(0, record);
    EXPECT_FALSE(deck.error());
    EXPECT_FALSE(deck.musicEnd());

    total = 198.4;
    music = 187.9;
    rig.load(0, record);
    ASSERT_TRUE(deck.error());
    EXPECT_EQ(*deck.error(), QStringLiteral("SILENT AFTER 3:07 · CUT-OFF FILE? RE-DOWNLOAD IT"));
    ASSERT_TRUE(deck.musicEnd());
    EXPECT_NEAR(*deck.musicEnd(), 187.9, 1e-3);
    EXPECT_TRUE(deck.buffer()); // still installed and playable

    total = 5.0;
    music = 5.0;
    rig.load(0, record);
    EXPECT_FALSE(deck.error());
    EXPECT_FALSE(deck.musicEnd());
}

TEST(DeckModelTest, FailedLoadsKeepTheTrackAndCountNothing)
{
    ModelRig rig;
    const TrackRecord a = rig.drumTrack(QStringLiteral("a"), 2.0);
    const TrackRecord gone = rig.drumTrack(QStringLiteral("gone"), 2.0);
    ASSERT_TRUE(QFile::remove(gone.path));
    std::string missing;
    try {
        AudioFileIO::decode(gone.path.toStdString(), 48000.0);
    } catch (const AudioFileError& e) {
        missing = e.description();
    }
    ASSERT_FALSE(missing.empty());
    // Files whose decode would have taken gigabytes at the deck's rate.
    const auto hostile = [&](const char* name, const std::string& bytes) {
        const QString path = rig.home.file(QStringLiteral("music/") + QString::fromUtf8(name));
        writeTextFile(path.toStdString(), bytes);
        return rig.import(path);
    };
    const std::pair<TrackRecord, std::string> cases[] = {
        {gone, missing},
        {hostile("hum.wav", wavBytes(1, 1, 12000)), "check sample rate (1 Hz) failed (-34)"},
        {hostile("crowd.caf", cafBytes(44100, 1'000'000, 12000)), "check channels (1000000) failed (-34)"},
    };

    rig.load(0, a);
    for (const auto& [record, expected] : cases) {
        rig.load(0, record);
        ASSERT_TRUE(rig.deck(0).error()) << expected;
        EXPECT_EQ(rig.deck(0).error()->toStdString(), expected);
        EXPECT_EQ(rig.deck(0).track()->id, a.id);
        EXPECT_FALSE(rig.deck(0).loading());
        EXPECT_EQ(plays(rig, record), 0);
    }
    EXPECT_EQ(plays(rig, a), 1);
}

TEST(DeckModelTest, ATrackTheVoiceCannotTakeIsNotShownAsLoaded)
{
    ModelRig rig;
    const TrackRecord a = rig.drumTrack(QStringLiteral("a"), 2.0);
    const TrackRecord b = rig.drumTrack(QStringLiteral("b"), 2.0);
    rig.load(0, a);
    const auto buffers = TrackBuffer::liveCount();

    // Nothing drains the voice, so its command ring fills up.
    DeckVoice& voice = *rig.engine->deck(0);
    while (voice.send(DeckCommand::play())) {
    }
    rig.load(0, b);
    ASSERT_TRUE(rig.deck(0).error());
    EXPECT_EQ(*rig.deck(0).error(), QStringLiteral("deck busy — track not loaded"));
    EXPECT_EQ(rig.deck(0).track()->id, a.id);
    EXPECT_EQ(plays(rig, b), 0);
    EXPECT_EQ(TrackBuffer::liveCount(), buffers); // b's buffer went back, nothing leaked

    rig.render(256); // the ring drains
    rig.load(0, b);
    EXPECT_FALSE(rig.deck(0).error());
    EXPECT_EQ(rig.deck(0).track()->id, b.id);
    EXPECT_EQ(plays(rig, b), 1);
}

TEST(DeckModelTest, TheNewestLoadWinsWhateverOrderTheDecodesFinishIn)
{
    ModelRig rig;
    DeckModel& deck = rig.deck(0);
    GatedDecoder gates;
    deck.setDecoder(gates.decoder());
    // Every held decode is let go, and has ended, however the test ends; the
    // completions reach only what outlives it.
    const auto letGo = qScopeGuard([&gates] { gates.openAll(); });
    const TrackRecord a = rig.drumTrack(QStringLiteral("a"), 1.0);
    const TrackRecord b = rig.drumTrack(QStringLiteral("b"), 1.0);
    const TrackRecord c = rig.drumTrack(QStringLiteral("c"), 1.0);
    const TrackRecord d = rig.drumTrack(QStringLiteral("d"), 1.0);
    auto loaded = std::make_shared<std::vector<QUuid>>();
    deck.setOnLoaded([loaded](const TrackRecord& r, const TrackBufferRef&) { loaded->push_back(r.id); });

    auto aDone = std::make_shared<bool>(false), bDone = std::make_shared<bool>(false);
    deck.load(a, [aDone] { *aDone = true; });
    deck.load(b, [bDone] { *bDone = true; });
    gates.open(a.path);
    ASSERT_TRUE(spinUntil([&] { return *aDone; }));
    EXPECT_TRUE(deck.loading()) << "b is still decoding";
    EXPECT_FALSE(deck.track());
    gates.open(b.path);
    ASSERT_TRUE(spinUntil([&] { return *bDone; }));
    EXPECT_FALSE(deck.loading());
    EXPECT_EQ(deck.track()->id, b.id);
    EXPECT_EQ(*loaded, std::vector<QUuid>{b.id});
    EXPECT_EQ(plays(rig, a), 0);
    EXPECT_EQ(plays(rig, b), 1);

    // An install in the meantime supersedes a pending load too.
    auto cDone = std::make_shared<bool>(false);
    deck.load(c, [cDone] { *cDone = true; });
    deck.install(d, toneBuffer(1.0, 1.0, 48000.0), nullptr, false);
    EXPECT_FALSE(deck.loading());
    gates.open(c.path);
    ASSERT_TRUE(spinUntil([&] { return *cDone; }));
    EXPECT_EQ(deck.track()->id, d.id);
    EXPECT_EQ(plays(rig, c), 0);
    EXPECT_EQ(loaded->size(), 1u);
}

TEST(DeckModelTest, ABufferDecodedBeforeARateChangeIsDecodedAgain)
{
    ModelRig rig;
    DeckModel& deck = rig.deck(0);
    GatedDecoder gates;
    deck.setDecoder(gates.decoder());
    const auto letGo = qScopeGuard([&gates] { gates.openAll(); });
    const TrackRecord a = rig.drumTrack(QStringLiteral("a"), 1.0);
    auto done = std::make_shared<bool>(false);
    deck.load(a, [done] { *done = true; });
    rig.rebuildEngine(44100.0);
    gates.open(a.path);
    ASSERT_TRUE(spinUntil([&done] { return *done; }));
    EXPECT_EQ(gates.rates(), (std::vector<double>{48000.0, 44100.0}));
    ASSERT_TRUE(deck.buffer());
    EXPECT_DOUBLE_EQ(deck.buffer()->sampleRate, 44100.0);
    EXPECT_EQ(plays(rig, a), 1);
}

TEST(DeckModelTest, AnEngineRebuildNeverHarvestsTheNewVoicesEmptyCues)
{
    ModelRig rig;
    TrackRecord record = withHotCue(rig.drumTrack(QStringLiteral("a"), 8.0), 0, 3.0);
    record.cuePoint = 1.0;
    rig.library->update(record);
    rig.load(0, record);
    // A pad on an empty slot raises the old voice's cue revision.
    rig.engine->deck(0)->send(DeckCommand::hotCue(1, true));
    rig.engine->deck(0)->send(DeckCommand::hotCue(1, false));
    rig.run(0.1);
    const TrackRecord before = *rig.library->track(record.id);
    ASSERT_TRUE(before.hotCues.at(1).has_value());

    // Same rate: buffer and cues are sent again; the harvest runs before the
    // new voice has rendered.
    rig.rebuildEngine(48000.0);
    rig.binder->tick();
    EXPECT_EQ(rig.library->track(record.id)->hotCues, before.hotCues);
    rig.run(0.1);
    EXPECT_EQ(rig.library->track(record.id)->hotCues, before.hotCues);
    EXPECT_NEAR(rig.state(0).hotCues[0].load(), 3.0, 1e-6);
    EXPECT_NEAR(rig.state(0).position.load(), 1.0, 1e-6);

    // Another rate: the track is decoded again after attach returns.
    rig.rebuildEngine(44100.0);
    rig.binder->tick();
    EXPECT_EQ(rig.library->track(record.id)->hotCues, before.hotCues);
    ASSERT_TRUE(spinUntil([&] { return rig.deck(0).buffer()->sampleRate == 44100.0 && !rig.deck(0).loading(); }));
    rig.run(0.1);
    const TrackRecord after = *rig.library->track(record.id);
    EXPECT_EQ(after.hotCues, before.hotCues);
    EXPECT_EQ(after.plays, before.plays + 1);
    EXPECT_NEAR(rig.state(0).hotCues[0].load(), 3.0, 1e-6);
}

TEST(DeckModelTest, CueChangesLandOnTheLibrarysCurrentRecord)
{
    ModelRig rig;
    const TrackRecord record = rig.drumTrack(QStringLiteral("a"), 8.0);
    rig.load(0, record);
    ASSERT_EQ(plays(rig, record), 1);
    // Analysis finishes after the load: the deck's copy is now stale.
    TrackRecord analysed = *rig.library->track(record.id);
    analysed.grid = BeatGrid(124.0, 0.1, 4);
    analysed.loudnessDB = -7.0;
    rig.library->update(analysed);

    rig.engine->deck(0)->send(DeckCommand::seek(2.0));
    rig.engine->deck(0)->send(DeckCommand::hotCue(4, true));
    rig.engine->deck(0)->send(DeckCommand::hotCue(4, false));
    rig.run(0.1);
    TrackRecord now = *rig.library->track(record.id);
    ASSERT_TRUE(now.hotCues.at(4).has_value());
    EXPECT_NEAR(*now.hotCues[4], 2.0, 1e-6);
    EXPECT_EQ(now.plays, 1);
    EXPECT_EQ(now.grid, analysed.grid);
    EXPECT_EQ(now.loudnessDB, analysed.loudnessDB);
    EXPECT_EQ(rig.deck(0).track()->hotCues.at(4), now.hotCues[4]);

    int changes = 0;
    QObject::connect(rig.library.get(), &LibraryStore::tracksChanged, [&changes] { ++changes; });
    rig.deck(0).deleteHotCue(4);
    rig.run(0.1);
    now = *rig.library->track(record.id);
    EXPECT_FALSE(now.hotCues.at(4).has_value());
    EXPECT_EQ(now.plays, 1);
    EXPECT_EQ(now.grid, analysed.grid);
    EXPECT_LT(rig.state(0).hotCues[4].load(), 0.0);
    EXPECT_EQ(changes, 1) << "the clear by command is not harvested back";
}

TEST(DeckModelTest, DeleteHotCueTouchesOnlyPadSlots)
{
    ModelRig rig;
    TrackRecord record = rig.drumTrack(QStringLiteral("a"), 8.0);
    record.hotCues = {1.0, 2.0, 3.0}; // an older record with three slots
    rig.library->update(record);
    rig.load(0, record);

    for (int slot : {-1, 8, 99})
        rig.deck(0).deleteHotCue(slot);
    rig.render(64);
    EXPECT_EQ(rig.library->track(record.id)->hotCues, record.hotCues);
    EXPECT_NEAR(rig.state(0).hotCues[2].load(), 3.0, 1e-6);

    rig.deck(0).deleteHotCue(5);
    const std::vector<std::optional<double>> expected{1.0, 2.0, 3.0, std::nullopt, std::nullopt,
                                                      std::nullopt, std::nullopt, std::nullopt};
    EXPECT_EQ(rig.library->track(record.id)->hotCues, expected);
    EXPECT_EQ(rig.deck(0).track()->hotCues, expected);
}

TEST(DeckModelTest, ControlsReachTheVoiceOnEveryAssignment)
{
    ModelRig rig;
    rig.load(0, rig.drumTrack(QStringLiteral("a"), 4.0));
    DeckModel& deck = rig.deck(0);
    DeckVoice& voice = *rig.engine->deck(0);

    int fader = 0;
    QObject::connect(&deck, &DeckModel::tempoFaderChanged, [&fader] { ++fader; });
    deck.setTempoFader(0.5);
    EXPECT_DOUBLE_EQ(voice.tempo().load(), 1.05);
    voice.tempo().store(0.7);
    deck.setTempoFader(0.5);
    EXPECT_DOUBLE_EQ(voice.tempo().load(), 1.05);
    EXPECT_EQ(fader, 1);
    deck.cycleTempoRange();
    EXPECT_EQ(deck.tempoRange(), TempoRange::sixteen);
    EXPECT_DOUBLE_EQ(voice.tempo().load(), 1.08);
    for (int i = 0; i < 3; ++i)
        deck.cycleTempoRange();
    EXPECT_EQ(deck.tempoRange(), TempoRange::ten);
    deck.setTempoRange(TempoRange::wide);
    deck.setTempoFader(-1.0);
    EXPECT_DOUBLE_EQ(deck.tempoRatio(), 0.0);
    EXPECT_DOUBLE_EQ(voice.tempo().load(), 0.0);

    voice.keyShift().store(5.0);
    deck.setKeyShift(0);
    EXPECT_DOUBLE_EQ(voice.keyShift().load(), 0.0);

    struct Flag {
        void (DeckModel::*set)(bool);
        AtomicBool DeckState::*cell;
        DeckCommand (*direct)(bool);
    };
    const Flag flags[] = {{&DeckModel::setKeyLock, &DeckState::keyLockOn, &DeckCommand::keyLock},
                          {&DeckModel::setQuantize, &DeckState::quantizeOn, &DeckCommand::quantize},
                          {&DeckModel::setSlip, &DeckState::slipOn, &DeckCommand::slip},
                          {&DeckModel::setReverse, &DeckState::reverseOn, &DeckCommand::reverse},
                          {&DeckModel::setVinyl, &DeckState::vinylOn, &DeckCommand::vinyl}};
    for (const Flag& f : flags) {
        for (bool value : {false, true}) {
            (deck.*f.set)(value);
            rig.render(64);
            EXPECT_EQ((voice.state().*f.cell).load(), value);
            // The voice was changed behind the model's back: assigning the
            // model's own value again sends it again.
            voice.send(f.direct(!value));
            rig.render(64);
            (deck.*f.set)(value);
            rig.render(64);
            EXPECT_EQ((voice.state().*f.cell).load(), value);
        }
    }
}

TEST(DeckModelTest, LoopsJumpsAndTheirBounds)
{
    ModelRig rig;
    rig.load(0, rig.drumTrack(QStringLiteral("a"), 20.0));
    DeckModel& deck = rig.deck(0);
    const DeckState& s = rig.state(0);

    std::vector<double> halves;
    for (int i = 0; i < 9; ++i) {
        deck.halveLoop();
        halves.push_back(deck.autoLoopBeats());
    }
    EXPECT_EQ(halves.back(), 1.0 / 32.0);
    EXPECT_EQ(halves[6], 1.0 / 32.0);
    for (int i = 0; i < 20; ++i)
        deck.doubleLoop();
    EXPECT_EQ(deck.autoLoopBeats(), 64.0);

    rig.engine->deck(0)->send(DeckCommand::seek(10.0));
    deck.beatJump(-1.0);
    rig.render(64);
    EXPECT_NEAR(s.position.load(), 8.0, 1e-6);

    deck.setAutoLoopBeats(4.0);
    deck.playPause();
    rig.render(64);
    deck.autoLoop();
    rig.render(64);
    ASSERT_TRUE(s.loopActive.load());
    EXPECT_NEAR(s.loopEnd.load() - s.loopStart.load(), 2.0, 1e-3);
    deck.halveLoop();
    rig.render(64);
    EXPECT_EQ(deck.autoLoopBeats(), 2.0);
    EXPECT_NEAR(s.loopEnd.load() - s.loopStart.load(), 1.0, 1e-3);

    rig.engine->deck(0)->send(DeckCommand::reloopExit());
    rig.render(64);
    ASSERT_FALSE(s.loopActive.load());
    deck.doubleLoop();
    rig.render(64);
    EXPECT_EQ(deck.autoLoopBeats(), 4.0);
    EXPECT_NEAR(s.loopEnd.load() - s.loopStart.load(), 1.0, 1e-3) << "no resize without an active loop";
}

TEST(DeckModelTest, TheLiveSnapshotWakesObserversOnlyOnVisibleChanges)
{
    ModelRig rig;
    TrackRecord record = rig.drumTrack(QStringLiteral("a"), 20.0);
    record.cuePoint = 5.0;
    rig.library->update(record);
    rig.load(0, record);
    DeckModel& deck = rig.deck(0);
    DeckVoice& voice = *rig.engine->deck(0);
    rig.run(0.1);
    EXPECT_TRUE(deck.live().loaded);
    EXPECT_TRUE(deck.live().atCue);
    EXPECT_EQ(deck.live().parkedAt, 500);
    EXPECT_FALSE(deck.live().loopSet);

    voice.send(DeckCommand::seek(5.004));
    rig.run(0.05);
    EXPECT_TRUE(deck.live().atCue);
    voice.send(DeckCommand::seek(5.02));
    rig.run(0.05);
    EXPECT_FALSE(deck.live().atCue);
    voice.send(DeckCommand::seek(12.345));
    rig.run(0.05);
    EXPECT_EQ(deck.live().parkedAt, 1235);
    voice.send(DeckCommand::loopIn());
    rig.run(0.05);
    EXPECT_TRUE(deck.live().loopSet);
    EXPECT_FALSE(deck.live().loopActive);

    deck.playPause();
    rig.run(0.1);
    ASSERT_TRUE(deck.live().playing);
    EXPECT_EQ(deck.live().parkedAt, 0);
    int live = 0;
    QObject::connect(&deck, &DeckModel::liveChanged, [&live] { ++live; });
    rig.run(1.0);
    EXPECT_EQ(live, 0);

    rig.engine.reset();
    rig.binder->tick();
    EXPECT_EQ(deck.live(), DeckModel::Live{});
    EXPECT_TRUE(deck.track());
}

TEST(DeckModelTest, ATrackLoadedBeforeItsAnalysisTakesTheResultWhenItLands)
{
    ModelRig rig;
    TrackRecord record = rig.drumTrack(QStringLiteral("fresh"), 8.0);
    record.analyzed = false;
    record.grid.reset();
    record.key.reset();
    rig.library->update(record);
    rig.load(0, record);
    rig.run(0.05);
    ASSERT_FALSE(rig.deck(0).grid());
    ASSERT_FALSE(rig.engine->deck(0)->hasGrid());

    // A cue set on the deck meanwhile stays the deck's.
    rig.engine->deck(0)->send(DeckCommand::seek(2.0));
    rig.engine->deck(0)->send(DeckCommand::hotCue(1, true));
    rig.engine->deck(0)->send(DeckCommand::hotCue(1, false));
    rig.run(0.1);

    // An unrelated change (the play count, a rename) before the analysis ends
    // adopts nothing.
    TrackRecord renamed = *rig.library->track(record.id);
    renamed.title = QStringLiteral("Renamed");
    rig.library->update(renamed);
    EXPECT_FALSE(rig.deck(0).track()->analyzed);

    TrackRecord analysed = *rig.library->track(record.id);
    analysed.analyzed = true;
    analysed.grid = BeatGrid(124.0, 0.1, 4);
    analysed.key = MusicalKey(4, false);
    rig.library->update(analysed);
    rig.run(0.05);

    const TrackRecord& mine = *rig.deck(0).track();
    EXPECT_TRUE(mine.analyzed);
    EXPECT_EQ(rig.deck(0).grid(), analysed.grid);
    EXPECT_EQ(mine.key, analysed.key);
    EXPECT_TRUE(rig.engine->deck(0)->hasGrid());
    ASSERT_TRUE(mine.hotCues.size() > 1 && mine.hotCues[1].has_value());
    EXPECT_NEAR(*mine.hotCues[1], 2.0, 1e-6);
    EXPECT_NEAR(rig.state(0).hotCues[1].load(), 2.0, 1e-6);

    // A failed analysis (analysed, no grid) leaves the deck without a grid.
    TrackRecord other = rig.drumTrack(QStringLiteral("broken"), 4.0);
    other.analyzed = false;
    other.grid.reset();
    rig.library->update(other);
    rig.load(1, other);
    other.analyzed = true;
    rig.library->update(other);
    EXPECT_TRUE(rig.deck(1).track()->analyzed);
    EXPECT_FALSE(rig.deck(1).grid());
}

namespace {

using State = DeckModel::Reading::State;

} // namespace

// The reading follows the voice, not the deck's record: a record put on a
// playing deck is loading until a render has carried the load out and the
// render after it has published what it did, and then it stands ready; the old
// record is the one heard meanwhile. A voice attached and not yet rendered
// reads as the deck last stood; a queued reload reads as loading, never ready.
TEST(DeckModelTest, TheReadingIsWhatTheVoiceHasTaken)
{
    ModelRig rig;
    const TrackRecord first = rig.drumTrack(QStringLiteral("first"));
    const TrackRecord second = rig.drumTrack(QStringLiteral("second"));
    DeckModel& deck = rig.deck(0);
    EXPECT_EQ(deck.reading().state, State::empty);
    rig.load(0, first);
    rig.render(64);
    rig.render(64);
    rig.render(64);
    EXPECT_EQ(deck.reading().state, State::ready);
    EXPECT_EQ(deck.reading().record, first.id);
    deck.voice()->send(DeckCommand::play());
    rig.render(64);
    rig.render(64);
    ASSERT_EQ(deck.reading().state, State::playing);

    // The second record lands with no render since: the room still hears the first.
    deck.install(second, TrackBufferRef(48000 * 5, 48000.0), nullptr, false);
    DeckModel::Reading r = deck.reading();
    EXPECT_EQ(r.state, State::loading);
    EXPECT_EQ(r.record, first.id);
    EXPECT_FALSE(r.stopped());
    rig.render(64); // carries the load out; its other cells may still read the first record
    EXPECT_EQ(deck.reading().state, State::loading);
    rig.render(64);
    rig.render(64);
    r = deck.reading();
    EXPECT_EQ(r.state, State::ready);
    EXPECT_EQ(r.record, second.id);
    EXPECT_DOUBLE_EQ(r.duration, 5.0);

    // A new engine: until its voice renders, the deck reads as it stood, and
    // at another rate the queued reload reads as loading, never ready.
    deck.voice()->send(DeckCommand::seek(2.0));
    deck.voice()->send(DeckCommand::play());
    rig.render(64);
    rig.render(64);
    ASSERT_EQ(deck.reading().state, State::playing);
    const double at = deck.reading().position;
    rig.rebuildEngine(44100.0);
    r = deck.reading();
    EXPECT_TRUE(r.stood);
    EXPECT_EQ(r.state, State::playing);
    EXPECT_DOUBLE_EQ(r.position, at);
    rig.render(64);
    rig.render(64);
    r = deck.reading();
    EXPECT_FALSE(r.stood);
    EXPECT_EQ(r.state, State::loading);
    EXPECT_FALSE(r.record);
}

// A load still decoding when the output comes back at another rate begins its
// decode again at once at the new rate: the deck lands after one decode, not
// after the old rate's decode and another, and the load completes once. The
// old rate's decode, landing late, installs nothing. Superseded in turn, the
// load still completes once.
TEST(DeckModelTest, ALoadPendingAtANewRateDecodesAgainAtOnce)
{
    ModelRig rig;
    const TrackRecord record = rig.drumTrack(QStringLiteral("pending"), 4.0);
    const TrackRecord other = rig.drumTrack(QStringLiteral("other"), 4.0);
    struct Disk {
        std::atomic<bool> release{false};
        std::atomic<bool> holdEvery{false};
        std::atomic<int> oldRate{0};
        std::atomic<int> newRate{0};
    };
    // Held decoders and completions reach only what outlives the test.
    auto disks = std::make_shared<std::array<Disk, 3>>();
    auto dones = std::make_shared<std::array<int, 3>>();
    auto inside = std::make_shared<std::atomic<int>>(0);
    for (int i : {0, 1, 2})
        rig.deck(i).setDecoder([disks, inside, i, path = record.path](const QString& at, double rate) {
            Disk& disk = (*disks)[std::size_t(i)];
            ++*inside;
            if (rate > 46000.0)
                ++disk.oldRate;
            else
                ++disk.newRate;
            while ((rate > 46000.0 || (disk.holdEvery.load() && at == path)) && !disk.release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            --*inside;
            return TrackBufferRef(int(rate * 4.0), rate);
        });
    // As on a machine with two cores: the shared pool has two threads. Every
    // held decode is let go, and has returned, however the test ends.
    QThreadPool& shared = *QThreadPool::globalInstance();
    const int sharedThreads = shared.maxThreadCount();
    shared.setMaxThreadCount(2);
    const auto letGo = qScopeGuard([&] {
        for (Disk& disk : *disks)
            disk.release = true;
        spinUntil([&] { return inside->load() == 0; }, 5.0);
        shared.setMaxThreadCount(sharedThreads);
    });

    // Deck 1 lands its record; deck 2's is superseded by an install; deck 3's
    // is called off while it decodes again, the deck holding a record at the
    // old rate: that record is decoded again for the new rate.
    enum class Then { lands, superseded, cancelled };
    for (const Then then : {Then::lands, Then::superseded, Then::cancelled}) {
        SCOPED_TRACE(int(then));
        const int index = int(then);
        DeckModel& deck = rig.deck(index);
        Disk& disk = (*disks)[std::size_t(index)];
        int& done = (*dones)[std::size_t(index)];
        if (then != Then::lands)
            rig.rebuildEngine(48000.0);
        if (then == Then::cancelled) {
            deck.install(other, TrackBufferRef(48000 * 4, 48000.0), nullptr, false);
            disk.holdEvery = true;
        }
        deck.load(record, [dones, index] { ++(*dones)[std::size_t(index)]; });
        ASSERT_TRUE(spinUntil([&] { return disk.oldRate.load() == 1; }));
        rig.rebuildEngine(44100.0);
        if (then == Then::superseded)
            deck.install(other, TrackBufferRef(44100 * 4, 44100.0), nullptr, false);
        if (then == Then::cancelled) {
            ASSERT_TRUE(spinUntil([&] { return disk.newRate.load() == 1; }));
            deck.cancelLoad();
        }
        // A load called off completes once its decode has landed.
        ASSERT_TRUE(spinUntil([&] { return (done == 1 || then == Then::cancelled) && !deck.loading(); }))
            << "the load waited on the old rate's decode";
        if (then == Then::lands) {
            EXPECT_EQ(disk.newRate.load(), 1);
        }
        ASSERT_TRUE(deck.track());
        EXPECT_EQ(deck.track()->id, then == Then::lands ? record.id : other.id);
        ASSERT_TRUE(deck.buffer());
        EXPECT_DOUBLE_EQ(deck.buffer()->sampleRate, 44100.0);
        disk.release = true;
        spinUntil([&] { return done == 1; }, 0.3);
        spinUntil([] { return false; }, 0.1);
        EXPECT_EQ(done, 1);
        EXPECT_EQ(disk.oldRate.load(), 1);
        EXPECT_FALSE(deck.loading());
        ASSERT_TRUE(deck.track());
        EXPECT_EQ(deck.track()->id, then == Then::lands ? record.id : other.id);
        EXPECT_DOUBLE_EQ(deck.buffer()->sampleRate, 44100.0);
        rig.render(64);
        rig.render(64);
        EXPECT_TRUE(rig.state(index).loaded.load()) << "the voice holds the deck's record";
    }
}

// A load that fails while the deck decodes its record again for an output at
// another rate leaves that record on the deck, decoded for the new rate, with
// the failed load's message shown: the deck still plays.
TEST(DeckModelTest, AFailedLoadOverAReloadForANewRateKeepsTheRecordPlayable)
{
    ModelRig rig;
    const TrackRecord kept = rig.drumTrack(QStringLiteral("kept"), 4.0);
    TrackRecord gone = rig.drumTrack(QStringLiteral("gone"), 4.0);
    ASSERT_TRUE(QFile::remove(gone.path));
    DeckModel& deck = rig.deck(0);
    rig.load(0, kept);

    rig.rebuildEngine(44100.0);
    ASSERT_TRUE(spinUntil([&] { return deck.loading(); })) << "no reload began";
    auto done = std::make_shared<bool>(false);
    deck.load(gone, [done] { *done = true; });
    ASSERT_TRUE(spinUntil([&] { return *done && !deck.loading(); })) << "the deck never settled";
    rig.render(64);
    rig.render(64);

    ASSERT_TRUE(deck.track());
    EXPECT_EQ(deck.track()->id, kept.id);
    EXPECT_TRUE(deck.error());
    ASSERT_TRUE(deck.buffer());
    EXPECT_DOUBLE_EQ(deck.buffer()->sampleRate, 44100.0);
    EXPECT_TRUE(rig.state(0).loaded.load());
    EXPECT_NEAR(rig.state(0).duration.load(), 4.0, 0.01);

    // The record's own file gone before the next change of rate: that reload
    // fails once, with its message, and is not tried again and again.
    std::atomic<int> decodes{0};
    deck.setDecoder([&decodes](const QString&, double) {
        ++decodes;
        return TrackBufferRef();
    });
    rig.rebuildEngine(48000.0);
    ASSERT_TRUE(deck.reloading()) << "no reload due";
    // The failing decode is quick: its loading may come and go between looks.
    ASSERT_TRUE(spinUntil([&] { return decodes.load() >= 1 && !deck.reloading() && !deck.loading(); }))
        << "the reload never ended";
    spinUntil([] { return false; }, 0.2);
    EXPECT_EQ(decodes.load(), 1);
    EXPECT_FALSE(deck.loading());
    EXPECT_TRUE(deck.error());
}

// Four long records loaded one after another on a deck: each load calls off
// the decode before it, which stops at its next chunk and frees what it read.
// The decodes held no more than about one record at any time, and the last
// lands in as many turns of the disk as it would alone.
TEST(DeckModelTest, ALoadCallsOffTheDecodeItReplaces)
{
    ModelRig rig;
    DeckModel& deck = rig.deck(0);
    TurnDisk disk;
    constexpr int kChunks = 40;
    constexpr std::int64_t kFrames = 4800;
    constexpr std::int64_t kRecordBytes = kChunks * kFrames * 2 * std::int64_t(sizeof(float));
    deck.setDecoder(disk.decoder(kChunks, kFrames));
    const auto letGo = qScopeGuard([&disk] { disk.free(); });
    std::vector<TrackRecord> records;
    for (const char* name : {"a", "b", "c", "d"})
        records.push_back(rig.drumTrack(QString::fromLatin1(name), 1.0));
    const std::int64_t before = TrackBuffer::liveBytes();
    std::int64_t peak = 0;
    const auto measure = [&] { peak = std::max(peak, disk.held() + TrackBuffer::liveBytes() - before); };

    auto dones = std::make_shared<std::array<int, 4>>();
    for (std::size_t i = 0; i < records.size(); ++i) {
        deck.load(records[i], [dones, i] { ++(*dones)[i]; });
        ASSERT_TRUE(spinUntil([&] { return disk.started() == int(i) + 1; }, 5.0)) << "load " << i << " waited";
        if (i + 1 == records.size())
            break;
        for (int turn = 0; turn < 10; ++turn) {
            ASSERT_TRUE(disk.turn());
            measure();
        }
    }
    int turns = 0;
    while (turns < 8 * kChunks && disk.turn()) {
        ++turns;
        measure();
    }
    ASSERT_TRUE(spinUntil([&] { return (*dones)[3] == 1; }, 5.0));
    measure();
    EXPECT_LE(turns, kChunks) << "the last record shared the disk with the loads it replaced";
    EXPECT_LE(double(peak), 1.5 * double(kRecordBytes)) << "records held at once: " << double(peak) / kRecordBytes;
    EXPECT_EQ(disk.stopped(), 3);
    EXPECT_EQ(*dones, (std::array<int, 4>{1, 1, 1, 1}));
    EXPECT_EQ(deck.track()->id, records[3].id);
    EXPECT_EQ(disk.held(), 0);
}

// Decodes stuck in reads that never return, sixteen of them, called off or
// not: a seventeenth load, and a deck's reload for an output at a new rate,
// still begin at once.
TEST(DeckModelTest, ALoadBeginsAtOnceBesideDecodesThatNeverReturn)
{
    ModelRig rig;
    const TrackRecord kept = rig.drumTrack(QStringLiteral("kept"), 1.0);
    rig.load(3, kept);
    struct Stuck {
        std::mutex mutex;
        std::condition_variable wake;
        bool free = false;
        std::vector<std::pair<QString, double>> entered;
    };
    auto stuck = std::make_shared<Stuck>();
    const auto entered = [stuck] {
        std::lock_guard lock(stuck->mutex);
        return stuck->entered;
    };
    for (int i = 0; i < 4; ++i)
        rig.deck(i).setDecoder([stuck](const QString& path, double rate) {
            std::unique_lock lock(stuck->mutex);
            stuck->entered.emplace_back(path, rate);
            stuck->wake.wait(lock, [&] { return stuck->free; });
            return TrackBufferRef(int(rate), rate);
        });
    const auto letGo = qScopeGuard([stuck] {
        {
            std::lock_guard lock(stuck->mutex);
            stuck->free = true;
        }
        stuck->wake.notify_all();
        spinUntil([] { return DeckModel::decodesRunning() == 0; }, 10.0);
    });

    std::vector<TrackRecord> records;
    for (int i = 0; i < 17; ++i)
        records.push_back(rig.drumTrack(QStringLiteral("r%1").arg(i), 0.5));
    // Each reads before the next is pressed: a load replaced before its
    // decode began would read nothing.
    for (std::size_t i = 0; i < 16; ++i) {
        rig.deck(int(i % 3)).load(records[i]);
        ASSERT_TRUE(spinUntil([&] { return entered().size() == i + 1; }, 10.0)) << "load " << i + 1 << " queued";
    }
    rig.deck(0).load(records[16]);
    ASSERT_TRUE(spinUntil([&] { return entered().size() == 17; }, 10.0)) << "the 17th load queued";
    EXPECT_EQ(entered().back().first, records[16].path);

    // The loads pending on decks 1 to 3 begin again at the new rate, and
    // deck 4 decodes its record again.
    rig.rebuildEngine(44100.0);
    const auto reloaded = [&] {
        for (const auto& [path, rate] : entered())
            if (path == kept.path && rate == 44100.0)
                return true;
        return false;
    };
    ASSERT_TRUE(spinUntil(reloaded, 10.0)) << "the reload at the new rate queued";
    EXPECT_TRUE(spinUntil([&] { return entered().size() == 21; }, 10.0)) << "a pending load's new decode queued";
}

// A deck going away calls off its decodes: one that looks at its stop ends
// there; one stuck in a read that never returns is left behind, and the deck
// goes without waiting for it. What either read is freed; no completion runs.
TEST(DeckModelTest, ADeckGoesWithoutWaitingForAStuckRead)
{
    ModelRig rig;
    const TrackRecord a = rig.drumTrack(QStringLiteral("a"), 1.0);
    const TrackRecord b = rig.drumTrack(QStringLiteral("b"), 1.0);
    struct Reads {
        std::mutex mutex;
        std::condition_variable_any wake;
        bool free = false;
        int inside = 0;
        bool sawStop = false;
    };
    auto reads = std::make_shared<Reads>();
    const auto count = [reads](auto f) {
        std::lock_guard lock(reads->mutex);
        return f(*reads);
    };
    const auto letGo = qScopeGuard([reads] {
        {
            std::lock_guard lock(reads->mutex);
            reads->free = true;
        }
        reads->wake.notify_all();
        spinUntil([] { return DeckModel::decodesRunning() == 0; }, 10.0);
    });
    const std::int64_t buffers = TrackBuffer::liveCount();
    auto dones = std::make_shared<int>(0);

    auto deck = std::make_unique<DeckModel>(3, false);
    deck->attach(rig.engine->deck(3), false);
    // The first read never comes back unless the test lets it.
    deck->setDecoder([reads](const QString&, double rate) {
        std::unique_lock lock(reads->mutex);
        ++reads->inside;
        reads->wake.wait(lock, [&] { return reads->free; });
        --reads->inside;
        return TrackBufferRef(int(rate), rate);
    });
    deck->load(a, [dones] { ++*dones; });
    ASSERT_TRUE(spinUntil([&] { return count([](Reads& r) { return r.inside; }) == 1; }, 5.0));
    // The second stops when asked.
    deck->setDecoder([reads](const QString&, double rate, std::stop_token stop) {
        std::unique_lock lock(reads->mutex);
        ++reads->inside;
        const bool free = reads->wake.wait(lock, stop, [&] { return reads->free; });
        --reads->inside;
        if (!free) {
            reads->sawStop = true;
            throw std::runtime_error("stopped");
        }
        return TrackBufferRef(int(rate), rate);
    });
    deck->load(b, [dones] { ++*dones; });
    ASSERT_TRUE(spinUntil([&] { return count([](Reads& r) { return r.inside; }) == 2; }, 5.0));

    deck.reset();
    // Gone while the stuck read is still held.
    EXPECT_TRUE(spinUntil([&] { return count([](Reads& r) { return r.sawStop && r.inside == 1; }); }, 5.0))
        << "the decode was not called off";

    // The stuck read comes back at last: it reaches nothing of the deck.
    {
        std::lock_guard lock(reads->mutex);
        reads->free = true;
    }
    reads->wake.notify_all();
    ASSERT_TRUE(spinUntil([] { return DeckModel::decodesRunning() == 0; }, 10.0));
    spinUntil([] { return false; }, 0.05);
    EXPECT_EQ(*dones, 0);
    EXPECT_EQ(TrackBuffer::liveCount(), buffers);
}
