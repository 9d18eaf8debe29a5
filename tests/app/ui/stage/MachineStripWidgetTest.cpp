// The model's strip as widgets: the big key's click, Shift-click, hold and
// drag away; its frames only while it animates; the steppers, chips, prompt
// field and flow key writing the stored settings; the takes row's keys and
// the chain tap; the tour's two spots.
#include "state/AppModel.h"
#include "state/PerformanceLink.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "audio/DeckVoice.h"
#include "generation/OutpaintModel.h"
#include "library/TrackBuffer.h"
#include "models/DeckModel.h"
#include "ui/instrument/BrainModule.h"
#include "ui/kit/LiveClock.h"
#include "ui/stage/BigAIKey.h"
#include "ui/stage/FlowControl.h"
#include "ui/stage/MachineStrip.h"
#include "ui/stage/PromptStrip.h"
#include "ui/stage/StageField.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/TakesControl.h"
#include "ui/stage/TextLineView.h"
#include "ui/stage/TourSpots.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::stage {
namespace {

// The model key's readings, set by the test; its actions go to the journal.
class ScriptedKey final : public ModelKeyLink {
public:
    explicit ScriptedKey(QStringList& journal) : journal_(journal) {}
    BrainStatus brainStatus() const override { return status; }
    Download download() const override { return loading; }
    OutpaintPhase phase() const override { return phaseNow; }
    bool hasReadyMix() const override { return readyMix; }
    void cancel() override { journal_ << "key.cancel"; }
    void reroll() override { journal_ << "key.reroll"; }

    BrainStatus status = BrainStatus::of(BrainStatus::Kind::ready);
    Download loading;
    OutpaintPhase phaseNow = OutpaintPhase::rendering(QStringLiteral("step"), 5, 10);
    bool readyMix = false;

private:
    QStringList& journal_;
};

// The takes row's actions; resuming the chain lifts it on the real workflow.
class RecordingPerformance final : public PerformanceLink {
public:
    RecordingPerformance(QStringList& journal, OutpaintModel& workflow) : journal_(journal), workflow_(workflow) {}
    void reroll() override { journal_ << "reroll"; }
    void stepTake(int delta) override { journal_ << QStringLiteral("stepTake(%1)").arg(delta); }
    void cancel() override { journal_ << "cancel"; }
    bool rendering() const override { return false; }
    bool chainSnoozed() const override { return false; }
    void resumeChain() override
    {
        journal_ << "resumeChain";
        workflow_.resumeChain();
    }
    void keySync(int) override {}
    void enqueue(const QUuid&) override {}
    void loadNext() override {}
    void load(const QUuid&, int) override {}

private:
    QStringList& journal_;
    OutpaintModel& workflow_;
};

struct StripRig {
    StripRig()
    {
        app.make();
        auto key = std::make_unique<ScriptedKey>(app.world.journal);
        this->key = key.get();
        model().setModelKeyLink(std::move(key));
        outpaint = std::make_unique<OutpaintModel>(*app.defaults, kit.scheduler);
        model().setPerformanceLink(std::make_unique<RecordingPerformance>(app.world.journal, *outpaint));
        strip = std::make_unique<MachineStrip>(model(), kit.env(), nullptr, outpaint.get());
        strip->resize(1400, 110);
        strip->show();
        QApplication::processEvents();
        app.world.journal.clear();
    }
    ~StripRig()
    {
        strip.reset();
        for (int deck = 0; deck < 2; ++deck)
            model().deck(deck).attach(nullptr, false);
    }
    AppModel& model() const { return *app.app; }
    template <typename T>
    T* find(const char* name) const
    {
        T* found = strip->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The centre of a widget's hit shape.
    static QPoint centre(QWidget* widget) { return widget->rect().center(); }
    // Runs the state root's ticks over `seconds` of both clocks.
    void run(double seconds)
    {
        for (double t = 0; t < seconds - 1e-9; t += AppModel::kTickInterval) {
            app.scheduler.advance(AppModel::kTickInterval);
            kit.scheduler.advance(AppModel::kTickInterval);
            model().tick();
            QApplication::processEvents();
        }
    }
    void click(QWidget* widget, Qt::KeyboardModifiers modifiers = {}) const
    {
        QTest::mouseClick(widget, Qt::LeftButton, modifiers, centre(widget));
        QApplication::processEvents();
    }

    test::AppRig app;
    kit::test::KitRig kit;
    ScriptedKey* key = nullptr;
    std::unique_ptr<OutpaintModel> outpaint;
    std::unique_ptr<MachineStrip> strip;
};

TEST(MachineStripWidget, BigKeyTapShiftTapHoldAndDragAway)
{
    // Dreaming: a tap forks the live mix again, the secondary action cancels.
    const QString tap = QStringLiteral("workflow.fork(1)");
    const QString secondary = QStringLiteral("key.cancel");
    struct Case {
        const char* name;
        Qt::KeyboardModifiers modifiers;
        double hold;
        int travel; // points moved before the release
        QStringList journal;
    };
    const Case cases[] = {
        {"click", {}, 0, 0, {tap}},
        {"shift-click", Qt::ShiftModifier, 0, 0, {secondary}},
        {"held 0.5 s", {}, 0.5, 0, {tap}},
        {"held 0.6 s", {}, 0.6, 0, {secondary}},
        {"held 2 s", {}, 2.0, 0, {secondary}},
        {"moved 9 pt", {}, 0, 9, {tap}},
        {"dragged 11 pt away", {}, 0, 11, {}},
        {"dragged away, then held", {}, 0.8, 11, {}},
    };
    StripRig rig;
    BigAIKey* key = rig.find<BigAIKey>("machine.aiKey");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->size(), QSize(270, 78));
    EXPECT_TRUE(key->toolTip().startsWith(QStringLiteral("tap: dreaming")));
    const QPoint at(60, 40);
    for (const Case& c : cases) {
        rig.app.world.journal.clear();
        QTest::mousePress(key, Qt::LeftButton, c.modifiers, at);
        EXPECT_TRUE(key->pressed()) << c.name;
        if (c.travel) {
            QTest::mouseMove(key, at + QPoint(c.travel, 0));
            EXPECT_EQ(key->pressed(), c.travel <= 10) << c.name;
        }
        if (c.hold > 0)
            rig.kit.scheduler.advance(c.hold);
        QTest::mouseRelease(key, Qt::LeftButton, c.modifiers, at + QPoint(c.travel, 0));
        EXPECT_FALSE(key->pressed()) << c.name;
        EXPECT_EQ(rig.app.world.journal, c.journal) << c.name;
    }

    // A press cut short by the strip going away does nothing, then or later.
    rig.app.world.journal.clear();
    QTest::mousePress(key, Qt::LeftButton, {}, at);
    rig.strip.reset();
    rig.kit.scheduler.advance(1.0);
    EXPECT_TRUE(rig.app.world.journal.isEmpty());
}

TEST(MachineStripWidget, BigKeyFramesOnlyWhileItMoves)
{
    StripRig rig;
    BigAIKey* key = rig.find<BigAIKey>("machine.aiKey");
    ASSERT_NE(key, nullptr);
    kit::LiveClock& clock = rig.kit.runtime->liveClock();

    // Installing before the download started: "setting up" over the 4 % sliver,
    // no frames since nothing moves.
    rig.key->status = BrainStatus::of(BrainStatus::Kind::installing);
    rig.run(0.1);
    EXPECT_EQ(rig.model().aiStepTitle(), "setting up");
    ASSERT_TRUE(key->shownFill());
    EXPECT_DOUBLE_EQ(*key->shownFill(), 0.04);
    EXPECT_FALSE(key->animating());
    EXPECT_FALSE(clock.running());

    // The download moves: the fill eases to it over 0.4 s, then stops asking.
    rig.key->loading.started = true;
    rig.key->loading.fraction = 0.5;
    rig.run(0.05);
    EXPECT_TRUE(key->animating());
    rig.run(0.15);
    EXPECT_GT(*key->shownFill(), 0.04);
    EXPECT_LT(*key->shownFill(), 0.5);
    rig.run(0.4);
    EXPECT_DOUBLE_EQ(*key->shownFill(), 0.5);
    EXPECT_FALSE(key->animating());

    // Dreaming draws at 30 frames a second.
    rig.key->status = BrainStatus::of(BrainStatus::Kind::ready);
    rig.run(0.05);
    EXPECT_TRUE(key->animating());
    int before = key->paintCount();
    for (int frame = 0; frame < 30; ++frame) {
        rig.kit.scheduler.advance(1.0 / 30);
        QApplication::processEvents();
    }
    EXPECT_GE(key->paintCount() - before, 28);
    EXPECT_LE(key->paintCount() - before, 32);

    // The idle step: two simulated seconds paint no big key and run no clock.
    rig.key->phaseNow = OutpaintPhase::idle();
    rig.run(0.1);
    EXPECT_EQ(rig.model().aiStep(), AIStep::loadRecord);
    before = key->paintCount();
    rig.run(2.0);
    EXPECT_EQ(key->paintCount(), before);
    EXPECT_FALSE(clock.running());
}

TEST(MachineStripWidget, PulseGhostsReachPastTheKeyThroughTheStrip)
{
    StripRig rig;
    BigAIKey* key = rig.find<BigAIKey>("machine.aiKey");
    ASSERT_NE(key, nullptr);
    // A fork of the mix waits: "drop it" pulses twice a second without a beat.
    rig.key->phaseNow = OutpaintPhase::idle();
    rig.key->readyMix = true;
    rig.run(0.05);
    key->repaint();
    ASSERT_EQ(rig.model().aiStep(), AIStep::dropIt);
    EXPECT_TRUE(key->animating());
    ASSERT_TRUE(rig.strip->hosts(key));
    const QRect frame(key->mapTo(rig.strip.get(), QPoint(0, 0)), key->size());
    const QRegion reach = rig.strip->reach(key);
    EXPECT_FALSE(reach.isEmpty());
    EXPECT_FALSE(reach.intersects(frame));
    // The copies reach at most 4 points either side (offset 2 + 2 k).
    EXPECT_TRUE(frame.adjusted(-4, 0, 4, 0).contains(reach.boundingRect()));
    // The strip paints them: a pixel just left of the key is no longer the bare panel.
    const QImage shown = rig.strip->grab().toImage();
    const QPoint left(frame.left() - 2, frame.center().y());
    const QImage bare = [&] {
        rig.key->readyMix = false;
        rig.run(0.05);
        key->repaint();
        return rig.strip->grab().toImage();
    }();
    EXPECT_FALSE(rig.strip->hosts(key));
    EXPECT_NE(shown.pixel(left), bare.pixel(left));
}

TEST(MachineStripWidget, SteppersChipsFieldAndFlowKeyPersist)
{
    StripRig rig;
    const auto stored = [&] { return ForkSettings::restore(*rig.app.defaults); };
    auto* writes = rig.find<PromptStrip::Stepper>("prompt.stepper.writes");
    auto* steps = rig.find<PromptStrip::Stepper>("prompt.stepper.steps");
    auto* ahead = rig.find<PromptStrip::Stepper>("prompt.stepper.ahead");
    ASSERT_TRUE(writes && steps && ahead);
    EXPECT_EQ(writes->shown(), 32);

    rig.click(writes);
    EXPECT_EQ(rig.outpaint->settings().lengthBars, 64);
    EXPECT_EQ(stored().lengthBars, 64);
    rig.click(writes);
    EXPECT_EQ(stored().lengthBars, 8);
    EXPECT_EQ(writes->shown(), 8);
    ForkSettings settings = rig.outpaint->settings();
    settings.steps = 16;
    settings.aheadBars = 12; // set elsewhere, not among the options
    rig.outpaint->setSettings(settings);
    EXPECT_EQ(ahead->shown(), 12);
    rig.click(steps);
    rig.click(ahead);
    EXPECT_EQ(stored().steps, 4);
    EXPECT_EQ(stored().aheadBars, 8);

    // Chips write the preset's prompt and light from the stored value.
    auto* house = rig.find<QWidget>("prompt.chip.HOUSE");
    ASSERT_NE(house, nullptr);
    rig.click(house);
    EXPECT_EQ(stored().prompt, BrainModule::presets()[2].prompt);
    EXPECT_EQ(stored().lengthBars, 8); // a chip changes nothing else

    // Typing in the field replaces the prompt with each keystroke.
    StageField* field = rig.find<StageField>("prompt.field");
    ASSERT_NE(field, nullptr);
    QTest::mouseClick(field, Qt::LeftButton);
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("warehouse"));
    EXPECT_EQ(stored().prompt, "warehouse");

    // The presets scroll without bars.
    auto* chips = rig.find<QScrollArea>("prompt.chips");
    ASSERT_NE(chips, nullptr);
    EXPECT_EQ(chips->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(chips->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // The flow key toggles flow mode and stores it.
    FlowKey* flow = rig.find<FlowKey>("flow.key");
    auto* queue = rig.find<TextLineView>("flow.queue");
    ASSERT_TRUE(flow && queue);
    TrackRecord queued;
    queued.id = QUuid::createUuid();
    queued.title = QStringLiteral("Night Drive");
    rig.model().library().addOutpaint(queued, WaveformData{});
    rig.model().setQueue({QUuid::createUuid(), queued.id});
    EXPECT_FALSE(queue->isVisible());
    rig.click(flow);
    EXPECT_TRUE(rig.model().autoQueue());
    EXPECT_TRUE(flow->on());
    EXPECT_EQ(rig.app.defaults->boolean(QStringLiteral("set.auto")), true);
    EXPECT_TRUE(queue->isVisible());
    EXPECT_EQ(queue->text(), QString::fromUtf8("queue \u00b7 night drive"));
    rig.click(flow);
    EXPECT_EQ(rig.app.defaults->boolean(QStringLiteral("set.auto")), false);
    EXPECT_FALSE(queue->isVisible());
}

TEST(MachineStripWidget, TakesRowStepsRerollsAndLiftsTheChain)
{
    StripRig rig;
    auto* previous = rig.find<StageKey>("takes.previous");
    auto* next = rig.find<StageKey>("takes.next");
    auto* reroll = rig.find<StageKey>("takes.reroll");
    auto* counter = rig.find<TextLineView>("takes.counter");
    QWidget* chain = rig.find<QWidget>("takes.chain");
    ASSERT_TRUE(previous && next && reroll && counter && chain);
    EXPECT_EQ(counter->text(), "no takes");

    rig.click(previous);
    rig.click(next);
    EXPECT_EQ(rig.app.world.journal, QStringList({"stepTake(-1)", "stepTake(1)"}));

    // No take on deck 2: re-roll is disabled and a click does nothing.
    EXPECT_FALSE(reroll->isEnabled());
    rig.app.world.journal.clear();
    rig.click(reroll);
    EXPECT_TRUE(rig.app.world.journal.isEmpty());
    // A generated take on deck 2 enables it while nothing renders.
    auto voice = std::make_shared<DeckVoice>(48000.0, 512);
    rig.model().deck(1).attach(voice, false);
    TrackRecord take;
    take.id = QUuid::createUuid();
    take.title = QStringLiteral("take");
    take.outpaint = OutpaintInfo{};
    rig.model().deck(1).install(take, TrackBufferRef(4800, 48000.0), nullptr, false);
    QApplication::processEvents();
    EXPECT_TRUE(reroll->isEnabled());
    rig.click(reroll);
    EXPECT_EQ(rig.app.world.journal, QStringList({"reroll"}));
    rig.app.world.phase = WorkflowLink::Phase::rendering;
    rig.run(1.1);
    EXPECT_FALSE(reroll->isEnabled());
    rig.app.world.phase = WorkflowLink::Phase::idle;

    // The chain text's tap lifts the back-off to a past that compares and
    // subtracts safely.
    rig.outpaint->setChainHoldUntil(rig.kit.scheduler.now().addSecs(60));
    EXPECT_EQ(rig.outpaint->chainStatus(), "retry 60s");
    rig.app.world.journal.clear();
    QTest::mouseClick(chain, Qt::LeftButton, {}, QPoint(chain->width() - 4, chain->height() / 2));
    EXPECT_EQ(rig.app.world.journal, QStringList({"resumeChain"}));
    EXPECT_EQ(rig.outpaint->chainHoldUntil(), OutpaintModel::distantPast());
    EXPECT_LT(rig.kit.scheduler.now().msecsTo(rig.outpaint->chainHoldUntil()), 0);
    EXPECT_EQ(rig.outpaint->chainStatus(), "always on");
    // The dot is not part of the text: a click there does nothing.
    rig.app.world.journal.clear();
    QTest::mouseClick(chain, Qt::LeftButton, {}, QPoint(3, chain->height() / 2));
    EXPECT_TRUE(rig.app.world.journal.isEmpty());
}

TEST(MachineStripWidget, StripMarksTheKeyAndTheFlowRowForTheTour)
{
    StripRig rig;
    BigAIKey* key = rig.find<BigAIKey>("machine.aiKey");
    auto* flow = rig.find<FlowControl>("flow");
    auto* line = rig.find<TextLineView>("machine.modelLine");
    ASSERT_TRUE(key && flow && line);
    const std::map<TourSpot, QRect> spots = tourSpots(rig.strip.get());
    ASSERT_EQ(spots.size(), 2u);
    EXPECT_EQ(spots.at(TourSpot::aiKey), QRect(key->mapTo(rig.strip.get(), QPoint(0, 0)), key->size()));
    EXPECT_EQ(spots.at(TourSpot::flow), QRect(flow->mapTo(rig.strip.get(), QPoint(0, 0)), flow->size()));
    // The model line is shown in upper case and follows the model.
    EXPECT_EQ(line->text(), rig.model().modelLine().toUpper());
    rig.key->status = BrainStatus::of(BrainStatus::Kind::offline);
    rig.run(0.05);
    EXPECT_EQ(line->text(), rig.model().modelLine().toUpper());
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("ASLEEP"))) << line->text().toStdString();
}

} // namespace
} // namespace zelvo::stage
