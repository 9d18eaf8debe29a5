#pragma once
// The controller model on a whole performance setup: the real decks, mixer and
// engine (rendered by hand), the virtual MIDI system with a simulated DDJ, a
// main queue the test pumps, a host that records what the model asked of the
// application, and a log that keeps its lines.
#include "ModelRigSupport.h"
#include "controllers/ControllerModel.h"
#include "support/SimulatedControllers.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zelvo::test {

// The main queue of a test: tasks wait until the test pumps them. Posting is
// safe from any thread, and a poster keeps the queue alive, so a handshake
// thread that outlives its rig posts into a queue nobody pumps.
class PumpQueue {
public:
    static MIDIHub::MainPoster poster(const std::shared_ptr<PumpQueue>& queue);
    // Runs what is queued now, and what that queues, until empty.
    int pump();

private:
    std::mutex mutex_;
    std::vector<MIDIHub::Task> tasks_;
};

class LogLines final : public LogSink {
public:
    void note(const QString& line) override { lines.push_back(line); }
    QStringList lines;
};

// The application as the controller model sees it, over a ModelRig.
class FakeHost final : public ControllerHost {
public:
    explicit FakeHost(ModelRig& rig) : rig_(rig) {}
    DeckModel& deck(int index) override { return rig_.deck(index); }
    MixerModel& mixer() override { return rig_.mixer; }
    const MixerState* engineState() override { return withEngine ? rig_.engine->state().get() : nullptr; }
    int masterDeck() override { return master; }
    void setPreferredController(std::optional<ControllerKind> kind) override { preferred.push_back(kind); }
    std::optional<QUuid> selectedTrack() override { return selected; }
    void setSelectedTrack(std::optional<QUuid> id) override { selected = id; }
    std::vector<QUuid> browserTracks() override { return tracks; }
    std::optional<TrackRecord> track(const QUuid& id) override { return rig_.library->track(id); }
    BrowserSource browserSource() override { return source; }
    void setBrowserSource(BrowserSource s) override { source = s; }
    bool browseOpen() override { return open; }
    void setBrowseOpen(bool o) override { open = o; }
    double waveformZoom() override { return zoom; }
    void setWaveformZoom(double z) override { zoom = z; }
    void enqueue(const QUuid& id) override { calls.push_back("enqueue " + id.toString().toStdString()); }
    void loadNext() override { calls.push_back("loadNext"); }
    void load(std::optional<QUuid> id, int deck) override
    {
        calls.push_back("load " + std::to_string(deck) + (id ? " track" : " none"));
    }
    void keySync(int deck) override
    {
        calls.push_back("keySync " + std::to_string(deck));
        rig_.deck(deck).setKeyShift(keySyncShift);
    }
    void pressPad(int deck, PadMode mode, int index, bool down, bool erase) override
    {
        calls.push_back("pad " + std::to_string(deck) + " " + std::to_string(int(mode)) + " " + std::to_string(index)
                        + (down ? " down" : " up") + (erase ? " erase" : ""));
    }
    bool padLit(int deck, PadMode mode, int index) override
    {
        (void)mode;
        return lit && lit(deck, index);
    }
    void aiPrimary() override { calls.push_back("aiPrimary"); }
    void aiSecondary() override { calls.push_back("aiSecondary"); }
    QString aiStepTitle() override { return QStringLiteral("fork"); }
    void reroll() override { calls.push_back("reroll"); }
    void stepTake(int direction) override { calls.push_back("stepTake " + std::to_string(direction)); }
    TourStep tourStep() override { return tour; }
    double tourElapsed() override { return tourElapsedSeconds; }
    void tourNext() override { calls.push_back("tourNext"); }
    void tourBack() override { calls.push_back("tourBack"); }
    void setPlayerRig(std::vector<AudioSystem::RigPlayer> r) override
    {
        rig = r;
        if (audio)
            audio->setPlayerRig(std::move(r));
    }
    BrowserSort browserSort() override { return sort; }
    void setBrowserSort(BrowserSort s) override { sort = s; }
    QString browserSortLabel(BrowserSort s) override
    {
        static const char* const labels[] = {"ADDED", "A\u2013Z", "BPM", "KEY", "ENERGY", "TUNE", "TEMPO", "INTENSITY",
                                             "HARMONY"};
        return QString::fromUtf8(labels[int(s)]);
    }
    bool generationBusy() override { return busy; }

    // Pops the recorded calls.
    std::vector<std::string> take() { return std::exchange(calls, {}); }

    bool withEngine = true;
    int master = -1;
    std::vector<std::optional<ControllerKind>> preferred;
    std::optional<QUuid> selected;
    std::vector<QUuid> tracks;
    BrowserSource source = BrowserSource::collection;
    bool open = false;
    double zoom = 1.0;
    int keySyncShift = 2;
    std::function<bool(int, int)> lit;
    TourStep tour = TourStep::none;
    double tourElapsedSeconds = 0;
    std::vector<std::string> calls;
    // The player rig as last handed over, and the audio system it goes on to (null: none).
    std::vector<AudioSystem::RigPlayer> rig;
    AudioSystem* audio = nullptr;
    BrowserSort sort = BrowserSort::added;
    bool busy = false;

private:
    ModelRig& rig_;
};

struct ControllerRig {
    // `post` replaces the test's pumped main queue (benchmarks run Qt's own loop).
    explicit ControllerRig(QStringList arguments = {}, std::function<UsbVendorOut(ControllerKind)> handshake = {},
                           MIDIHub::MainPoster post = {});
    ~ControllerRig();
    // Plugs in a simulated controller and lets the hub see it.
    SimulatedDdj& plug(ControllerKind kind, std::string name = {});
    // Delivers everything sent by the simulated hardware, then runs the main queue.
    void settle();
    // Plays `seconds` of engine time (the feedback timer runs along), then settles.
    void run(double seconds);
    // Pumps the main queue until a log line starting with `prefix` arrives; false after a bound.
    bool waitForLog(const QString& prefix);

    ModelRig models;
    std::shared_ptr<VirtualMidiSystem> midi = std::make_shared<VirtualMidiSystem>();
    std::shared_ptr<PumpQueue> main = std::make_shared<PumpQueue>();
    FakeHost host{models};
    LogLines log;
    std::unique_ptr<ControllerModel> model;
    std::optional<SimulatedDdj> ddj;
    int hands = 0;
};

} // namespace zelvo::test
