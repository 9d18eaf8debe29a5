#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "audio/MixerState.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/ControlMath.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/MeterTimeline.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/stage/DJMCard.h"
#include "ui/stage/LiveMixer.h"
#include "ui/stage/Meter.h"
#include "ui/stage/MixerPresenters.h"
#include "ui/stage/MixerStripParts.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace zelvo::stage {
namespace {

struct MixerRig {
    explicit MixerRig(bool four = false)
    {
        app.make();
        sides.setFourDecks(four);
        mixer = std::make_unique<LiveMixer>(*app.app, kit.env(), nullptr, &sides);
        mixer->show();
        QApplication::processEvents();
    }
    AppModel& model() const { return *app.app; }
    ChannelModel& channel(int i) const { return model().mixer().channel(i); }
    template <typename T = kit::FaceWidget>
    T* find(const QString& name) const
    {
        return mixer->findChild<T*>(name);
    }

    test::AppRig app;
    kit::test::KitRig kit;
    StageSides sides;
    std::unique_ptr<LiveMixer> mixer;
};

void send(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, w->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}
void drag(QWidget* w, QPointF from, QPointF to)
{
    send(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        send(w, QEvent::MouseMove, from + (to - from) * step / 4.0, Qt::LeftButton);
    send(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}
void doubleClick(QWidget* w, QPointF at)
{
    send(w, QEvent::MouseButtonPress, at, Qt::LeftButton);
    send(w, QEvent::MouseButtonRelease, at, Qt::NoButton);
    send(w, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    send(w, QEvent::MouseButtonRelease, at, Qt::NoButton);
}
QPointF centre(QWidget* w) { return QRectF(w->rect()).center(); }

TEST(StageMixerWidget, FadersAndKnobsWriteTheirPropertyAndDoubleClicksReset)
{
    MixerRig rig;
    MixerModel& mixer = rig.model().mixer();
    struct Row {
        QString name;
        std::function<void(double)> set;
        std::function<double()> get;
        double reset;
    };
    const Row rows[] = {
        {"mixer.fader.0", [&](double v) { rig.channel(0).setFader(v); }, [&] { return rig.channel(0).fader(); }, 0.85},
        {"mixer.crossfader", [&](double v) { mixer.setCrossfader(v); }, [&] { return mixer.crossfader(); }, 0},
        {"mixer.cueMix", [&](double v) { mixer.setCueMix(v); }, [&] { return mixer.cueMix(); }, -1},
        {"mixer.master", [&](double v) { mixer.setMaster(v); }, [&] { return mixer.master(); }, 0.8},
        {"mixer.trim.1", [&](double v) { rig.channel(1).setTrim(v); }, [&] { return rig.channel(1).trim(); }, 0},
        {"mixer.colorFX.1", [&](double v) { rig.channel(1).setColorFX(v); }, [&] { return rig.channel(1).colorFX(); }, 0},
    };
    for (const Row& row : rows) {
        QWidget* w = rig.find(row.name);
        ASSERT_NE(w, nullptr) << row.name.toStdString();
        row.set(0.3);
        doubleClick(w, centre(w));
        EXPECT_DOUBLE_EQ(row.get(), row.reset) << row.name.toStdString();
    }

    // The crossfader's "a" end is −1 and its "b" end 1; a channel fader is at 1 at its top.
    auto* crossfader = rig.find("mixer.crossfader");
    drag(crossfader, QPointF(2, 15), QPointF(crossfader->width() - 2, 15));
    EXPECT_DOUBLE_EQ(mixer.crossfader(), 1.0);
    drag(crossfader, QPointF(crossfader->width() - 2, 15), QPointF(1, 15));
    EXPECT_DOUBLE_EQ(mixer.crossfader(), -1.0);
    auto* fader = rig.find("mixer.fader.1");
    drag(fader, QPointF(15, fader->height() - 1), QPointF(15, 1));
    EXPECT_DOUBLE_EQ(rig.channel(1).fader(), 1.0);

    // A knob dragged up turns up, by its travel.
    auto* trim = rig.find("mixer.trim.0");
    drag(trim, centre(trim), centre(trim) - QPointF(0, 35));
    EXPECT_NEAR(rig.channel(0).trim(), 0.5, 1e-9);
}

TEST(StageMixerWidget, MovingAKilledBandBringsItsPartBackButAModelChangeDoesNot)
{
    MixerRig rig;
    ChannelModel& ch = rig.channel(0);
    struct Band {
        const char* name;
        int part;
        std::function<double()> get;
        std::function<void(double)> set;
    };
    const Band bands[] = {
        {"mixer.hi.0", ChannelModel::kHigh, [&] { return ch.high(); }, [&](double v) { ch.setHigh(v); }},
        {"mixer.mid.0", ChannelModel::kMid, [&] { return ch.mid(); }, [&](double v) { ch.setMid(v); }},
        {"mixer.low.0", ChannelModel::kLow, [&] { return ch.low(); }, [&](double v) { ch.setLow(v); }},
    };
    for (const Band& band : bands) {
        SCOPED_TRACE(band.name);
        auto* knob = rig.find<kit::LiveKnob>(band.name);
        ASSERT_NE(knob, nullptr);
        const auto part = std::size_t(band.part);
        band.set(0.4);
        ch.togglePart(band.part);
        EXPECT_EQ(band.get(), -1.0);
        EXPECT_EQ(knob->tint(), kit::Stage::rbRed());

        // A drag: the part is on again and plays the dragged value.
        drag(knob, centre(knob), centre(knob) - QPointF(0, 14));
        EXPECT_FALSE(ch.partsOff()[part]);
        EXPECT_NEAR(band.get(), -0.8, 1e-9);
        EXPECT_EQ(knob->tint(), kit::Stage::rbBlue());
        // The next kill saves the dragged value, and bringing the part back restores it.
        ch.togglePart(band.part);
        EXPECT_NEAR(ch.partsSaved()[part], -0.8, 1e-9);
        // A double-click reset on the killed band also brings the part back.
        doubleClick(knob, centre(knob));
        EXPECT_FALSE(ch.partsOff()[part]);
        EXPECT_EQ(band.get(), 0.0);

        // A change from the model leaves the part as it is.
        ch.togglePart(band.part);
        band.set(0.2);
        EXPECT_TRUE(ch.partsOff()[part]);
        ch.togglePart(band.part);
    }
}

TEST(StageMixerWidget, KeysToggleCueTheBeatEffectPartsAndCrossfaderSides)
{
    MixerRig rig(true);
    MixerModel& mixer = rig.model().mixer();
    auto* cue = rig.find<kit::LiveKey>("mixer.cue.2");
    ASSERT_NE(cue, nullptr);
    QTest::mouseClick(cue, Qt::LeftButton, {}, centre(cue).toPoint());
    EXPECT_TRUE(rig.channel(2).cue());
    EXPECT_TRUE(cue->lit());
    // A press released outside the key is no click.
    send(cue, QEvent::MouseButtonPress, centre(cue), Qt::LeftButton);
    send(cue, QEvent::MouseButtonRelease, QPointF(-20, -20), Qt::NoButton);
    EXPECT_TRUE(rig.channel(2).cue());
    rig.channel(2).setCue(false);
    EXPECT_FALSE(cue->lit());

    auto* fx = rig.find("mixer.fx");
    QTest::mouseClick(fx, Qt::LeftButton, {}, centre(fx).toPoint());
    EXPECT_TRUE(mixer.beatFXOn());
    QTest::mouseClick(fx, Qt::LeftButton, {}, centre(fx).toPoint());
    EXPECT_FALSE(mixer.beatFXOn());

    // The mixer's first assignments: channels 1 and 3 on "a", 2 and 4 on "b".
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rig.channel(i).crossfaderAssign(), i % 2 == 0 ? -1 : 1);
    auto* assign = rig.find("mixer.assign.3");
    ASSERT_NE(assign, nullptr);
    QTest::mouseClick(assign, Qt::LeftButton, {}, QPoint(20, 6)); // the middle key, "t"
    EXPECT_EQ(rig.channel(3).crossfaderAssign(), 0);
    QTest::mouseClick(assign, Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(rig.channel(3).crossfaderAssign(), -1);

    auto* dots = rig.find("mixer.dots.1");
    ASSERT_NE(dots, nullptr);
    rig.channel(1).setMid(0.25);
    const int widthOfGroup = dots->width() / 3;
    QTest::mouseClick(dots, Qt::LeftButton, {}, QPoint(widthOfGroup * 3 / 2, dots->height() / 2));
    EXPECT_TRUE(rig.channel(1).partsOff()[ChannelModel::kMid]);
    EXPECT_EQ(rig.channel(1).mid(), -1.0);
    QTest::mouseClick(dots, Qt::LeftButton, {}, QPoint(widthOfGroup * 3 / 2, dots->height() / 2));
    EXPECT_EQ(rig.channel(1).mid(), 0.25);
}

TEST(StageMixerWidget, ALayoutChangeReflowsTheCardAtOnce)
{
    MixerRig rig;
    const auto xOf = [&](const QString& name) {
        QWidget* w = rig.find<QWidget>(name);
        return w ? w->mapTo(rig.mixer.get(), QPoint(0, 0)).x() : -1;
    };
    struct Row {
        bool four;
        std::vector<QString> leftToRight;
        int stripWidth;
        int crossfader;
    };
    const Row rows[] = {
        {false, {"mixer.strip.0", "mixer.masterColumn", "mixer.strip.1"}, 62, 170},
        {true, {"mixer.strip.2", "mixer.strip.0", "mixer.masterColumn", "mixer.strip.1", "mixer.strip.3"}, 50, 210},
        {false, {"mixer.strip.0", "mixer.masterColumn", "mixer.strip.1"}, 62, 170},
    };
    for (const Row& row : rows) {
        rig.sides.setFourDecks(row.four);
        QApplication::processEvents();
        EXPECT_EQ(rig.mixer->fourDecks(), row.four);
        EXPECT_EQ(rig.mixer->findChildren<kit::LiveFader*>().size(), std::size_t(row.leftToRight.size()));
        int x = -1;
        for (const QString& name : row.leftToRight) {
            EXPECT_GT(xOf(name), x) << name.toStdString();
            x = xOf(name);
        }
        EXPECT_EQ(rig.find<QWidget>("mixer.strip.0")->width(), row.stripWidth);
        EXPECT_EQ(rig.find<QWidget>("mixer.crossfader")->width(), row.crossfader);
        EXPECT_EQ(rig.find<QWidget>("mixer.dots.0") != nullptr, row.four);
        EXPECT_EQ(rig.find<QWidget>("mixer.assign.0") != nullptr, row.four);
        EXPECT_EQ(rig.find<kit::LiveKnob>("mixer.hi.0")->width(), row.four ? 21 : 24);
        EXPECT_EQ(rig.mixer->size(), rig.mixer->sizeHint());
        // Only deck 2's channel number carries the red and cyan copies (drawn as images).
        for (int index : mixerOrder(row.four)) {
            kit::RecordingCanvas canvas;
            rig.find(QStringLiteral("mixer.number.%1").arg(index))->paintFace(canvas);
            EXPECT_EQ(canvas.of(kit::RecordingCanvas::Kind::image).empty(), index != 1) << index;
            EXPECT_EQ(canvas.texts().contains(QString::number(index + 1)), index != 1) << index;
        }
    }
}

TEST(StageMixerWidget, MetersShowTheEnginePeaksAndARedTopSegment)
{
    MixerRig rig(true);
    // Without an engine every meter is empty.
    kit::RecordingCanvas none;
    rig.find("mixer.meter.0")->paintFace(none);
    for (const auto& op : none.of(kit::RecordingCanvas::Kind::rects))
        EXPECT_EQ(op.color, kit::withAlpha(kit::Stage::line(), 0.7));

    rig.app.addOutput();
    ASSERT_TRUE(rig.app.bootWithOutput());
    MixerState& state = *rig.model().audio().io()->engine().state();
    state.channelPeak[1].store(1.0);
    state.channelPeak[3].store(0.1);
    state.masterPeakL.store(1.0);
    const auto litColours = [&](const QString& name) {
        kit::RecordingCanvas canvas;
        rig.find(name)->paintFace(canvas);
        int lit = 0;
        bool red = false;
        for (const auto& op : canvas.of(kit::RecordingCanvas::Kind::rects)) {
            if (op.color != kit::withAlpha(kit::Stage::line(), 0.7))
                lit += int(op.rects.size());
            red = red || op.color == kit::Stage::rbRed();
        }
        return std::make_pair(lit, red);
    };
    EXPECT_EQ(litColours("mixer.meter.1"), std::make_pair(15, true));
    EXPECT_EQ(litColours("mixer.meter.0"), std::make_pair(0, false));
    const auto quiet = litColours("mixer.meter.3"); // −20 dB: the green part only
    EXPECT_GT(quiet.first, 0);
    EXPECT_LT(quiet.first, 15);
    EXPECT_FALSE(quiet.second);
    EXPECT_EQ(litColours("mixer.masterMeters"), std::make_pair(26, true));

    // On screen the top segment of a full channel is red.
    QWidget* meter = rig.find("mixer.meter.1");
    meter->update();
    const QImage image = meter->grab().toImage();
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, QPointF(2.5, 1.5)), kit::Stage::rbRed(), 3));

    // The DJM card's meter for deck 2 is full and red; deck 1's is empty.
    DJMCard card(rig.model(), rig.kit.env());
    kit::RecordingCanvas djm;
    card.findChild<kit::FaceWidget*>("djm.routes")->paintFace(djm);
    int redBars = 0;
    for (const auto& op : djm.of(kit::RecordingCanvas::Kind::fill))
        redBars += op.brush.color() == kit::Stage::ghostRed() ? 1 : 0;
    EXPECT_EQ(redBars, 1);
    EXPECT_EQ(djm.of(kit::RecordingCanvas::Kind::image).size(), 2u); // deck 2's ghosted badge: copies and content
    EXPECT_TRUE(djm.texts().contains("1") && !djm.texts().contains("2"));
    EXPECT_EQ(djm.texts().count(QStringLiteral("\u2014")), 2);
    EXPECT_TRUE(djm.texts().contains("RECORDS") && djm.texts().contains("ZELVO-0"));
}

TEST(StageMixerWidget, MetersFallDarkAfterAStopAndThenRest)
{
    MixerRig rig(true);
    AppModel& app = rig.model();
    rig.app.addOutput();
    ASSERT_TRUE(rig.app.bootWithOutput());
    ASSERT_TRUE(rig.app.loadTone(0, 30.0));
    // The engine renders, the models tick and the live clock runs as time passes.
    const auto step = [&](double seconds) { rig.app.run(seconds, &rig.kit.scheduler); };
    auto* channel = rig.find<kit::SegmentMeter>("mixer.meter.0");
    auto* master = rig.find<MasterMeters>("mixer.masterMeters");
    ASSERT_TRUE(channel && master);
    auto* channelTimeline = channel->findChild<kit::MeterTimeline*>();
    auto* masterTimeline = master->findChild<kit::MeterTimeline*>();
    ASSERT_TRUE(channelTimeline && masterTimeline);
    // The DJM card's meters, beside the mixer, on their own timeline.
    DJMCard card(rig.model(), rig.kit.env());
    card.show();
    QApplication::processEvents();
    auto* routes = card.findChild<kit::FaceWidget*>("djm.routes");
    ASSERT_TRUE(routes);
    auto* routesTimeline = routes->findChild<kit::MeterTimeline*>();
    ASSERT_TRUE(routesTimeline);
    const auto masterLit = [&] {
        const auto [l, r] = master->shownLevels();
        return kit::meterLitCount(std::max(l, r), 26);
    };
    EXPECT_FALSE(channelTimeline->active()) << "a dark meter over a stopped deck rests";

    for (int round = 0; round < 2; ++round) {
        app.deck(0).playPause();
        ASSERT_TRUE(test::spinUntil([&] {
            step(0.05);
            return app.deck(0).live().playing;
        }));
        step(0.5);
        EXPECT_GT(kit::meterLitCount(channel->shownLevel(), 15), 0) << round;
        EXPECT_GT(masterLit(), 0) << round;
        EXPECT_TRUE(channelTimeline->active() && masterTimeline->active()) << round;
        EXPECT_TRUE(routesTimeline->active() && !routesTimeline->resting()) << round;

        // Stopped: they keep drawing while the level falls, then rest dark.
        app.deck(0).playPause();
        ASSERT_TRUE(test::spinUntil([&] {
            step(0.05);
            return !app.deck(0).live().playing;
        }));
        const int routesAtStop = routes->paintCount();
        // Dark, the channel meter stands awake for the linger, then rests.
        ASSERT_TRUE(test::spinUntil([&] {
            step(0.05);
            return kit::meterLitCount(channel->shownLevel(), 15) == 0;
        }));
        EXPECT_TRUE(channelTimeline->active()) << round;
        step(kit::MeterTimeline::kLinger - 0.15);
        EXPECT_TRUE(channelTimeline->active()) << round;
        step(2.0);
        EXPECT_EQ(kit::meterLitCount(channel->shownLevel(), 15), 0) << round;
        EXPECT_EQ(masterLit(), 0) << round;
        EXPECT_FALSE(channelTimeline->active()) << round;
        EXPECT_FALSE(masterTimeline->active()) << round;
        EXPECT_TRUE(routesTimeline->resting() && !routesTimeline->active()) << round;
        EXPECT_GT(routes->paintCount(), routesAtStop) << "the card draws its fall: " << round;
        EXPECT_EQ(meterFace(channelPeak(app.audio(), 0)).fill, 0) << round;
        const int channelPaints = channel->paintCount(), masterPaints = master->paintCount();
        const int routesPaints = routes->paintCount();
        step(1.0);
        EXPECT_EQ(channel->paintCount(), channelPaints) << round;
        EXPECT_EQ(master->paintCount(), masterPaints) << round;
        EXPECT_EQ(routes->paintCount(), routesPaints) << round;
    }
}

TEST(StageMixerWidget, ARestedMasterMeterLightsOnAnEchoRepeatAfterAStopWithNoClockOfItsOwn)
{
    MixerRig rig;
    AppModel& app = rig.model();
    rig.app.addOutput();
    ASSERT_TRUE(rig.app.bootWithOutput() && rig.app.loadTone(0, 30.0));
    const auto until = [&](const std::function<bool()>& done, double seconds) {
        for (double t = 0; t < seconds && !done(); t += 0.05)
            rig.app.run(0.05, &rig.kit.scheduler);
        return done();
    };
    // An 8-beat echo on the master brings a burst back seconds after the stop.
    app.mixer().setBeatFXBeatIndex(7);
    app.mixer().setBeatFXTarget(0);
    app.mixer().setBeatFXOn(true);
    auto* master = rig.find<MasterMeters>("mixer.masterMeters");
    auto* timeline = master->findChild<kit::MeterTimeline*>();
    const auto lit = [&] {
        const auto [l, r] = master->shownLevels();
        return kit::meterLitCount(std::max(l, r), 26);
    };
    app.deck(0).playPause();
    ASSERT_TRUE(until([&] { return app.deck(0).live().playing; }, 2.0));
    rig.app.run(0.3, &rig.kit.scheduler);
    app.deck(0).playPause();
    ASSERT_TRUE(until([&] { return timeline->resting(); }, 5.0));
    // Dark between the repeats: no drawing and no clock.
    const int rested = master->paintCount();
    rig.app.run(0.5, &rig.kit.scheduler);
    ASSERT_TRUE(timeline->resting()) << "the repeat came too soon to test";
    EXPECT_EQ(lit(), 0);
    EXPECT_EQ(master->paintCount(), rested);
    EXPECT_FALSE(rig.kit.runtime->liveClock().running());
    // The repeat comes with no deck change; the meters light and draw.
    ASSERT_TRUE(until([&] { return lit() > 0; }, 8.0));
    EXPECT_FALSE(timeline->resting());
}

TEST(StageMixerWidget, StoppedDecksPaintNoMeterOrDjmCard)
{
    MixerRig rig(true);
    DJMCard card(rig.model(), rig.kit.env());
    card.show();
    QApplication::processEvents();
    std::vector<kit::FaceWidget*> live{rig.find("mixer.masterMeters"), card.findChild<kit::FaceWidget*>("djm.routes")};
    for (int i = 0; i < 4; ++i)
        live.push_back(rig.find(QStringLiteral("mixer.meter.%1").arg(i)));
    std::vector<int> before;
    for (kit::FaceWidget* w : live) {
        ASSERT_NE(w, nullptr);
        before.push_back(w->paintCount());
    }
    const int cardBefore = card.paints();
    rig.kit.scheduler.advance(2.0);
    rig.app.scheduler.advance(2.0);
    QApplication::processEvents();
    for (std::size_t i = 0; i < live.size(); ++i)
        EXPECT_EQ(live[i]->paintCount(), before[i]) << live[i]->objectName().toStdString();
    EXPECT_EQ(card.paints(), cardBefore);
    EXPECT_FALSE(rig.kit.runtime->liveClock().running());
}

} // namespace
} // namespace zelvo::stage
