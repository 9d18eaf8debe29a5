#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "audio/DeckVoice.h"
#include "audio/MixerParams.h"
#include "library/LibraryStore.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/kit/AudioDrop.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/stage/DeckPanel.h"
#include "ui/stage/JogDisplay.h"
#include "ui/stage/PadMirror.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <array>

namespace zelvo::stage {
namespace {

// One panel on a deck driven by a voice the test renders by hand, so what the
// panel sent is what the deck then plays.
struct PanelRig {
    explicit PanelRig(int index = 0) : index(index)
    {
        app.make();
        voice = std::make_shared<DeckVoice>(48000.0, 512);
        deck().attach(voice, false);
        deck().setOnHands([this] { ++cueCalls; });
        TrackRecord record = TrackRecord::forFile(QStringLiteral("/nowhere/tone.wav"), QDateTime::currentDateTimeUtc());
        record.duration = 10;
        record.hotCues[2] = 1.0;
        deck().install(record, TrackBufferRef(480000, 48000.0), nullptr, false);
        render();
        cueCalls = 0;
        panel = std::make_unique<DeckPanel>(*app.app, deck(), kit.env(), nullptr, &sides);
        panel->resize(760, 320);
        panel->show();
        QApplication::processEvents();
    }
    ~PanelRig() { panel.reset(); }

    DeckModel& deck() const { return app.app->deck(index); }
    AppModel& model() const { return *app.app; }
    // One slice on the audio side, then the deck's 20 Hz snapshot.
    void render()
    {
        std::array<float, 512> left{}, right{};
        voice->render(512, left.data(), right.data());
        voice->releaseRetiredBuffers();
        deck().refreshLive();
    }
    template <typename T = QWidget>
    T* find(const QString& suffix) const
    {
        return panel->findChild<T*>(QStringLiteral("deckPanel.%1.%2").arg(index).arg(suffix));
    }

    int index;
    test::AppRig app;
    kit::test::KitRig kit;
    StageSides sides;
    std::shared_ptr<DeckVoice> voice;
    int cueCalls = 0;
    std::unique_ptr<DeckPanel> panel;
};

void mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons held = Qt::LeftButton,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, modifiers);
    QApplication::sendEvent(w, &event);
}

TEST(DeckPanelWidget, CueHoldsUntilReleasedOnceWhereverThePointerIs)
{
    PanelRig rig;
    auto* cue = rig.find<CueKey>(QStringLiteral("cue"));
    ASSERT_NE(cue, nullptr);
    const QPointF centre(30, 13);

    mouse(cue, QEvent::MouseButtonPress, centre);
    EXPECT_EQ(rig.cueCalls, 1);
    // Moves repeat cue-down only until the deck reports cueing.
    mouse(cue, QEvent::MouseMove, centre + QPointF(3, 0));
    EXPECT_EQ(rig.cueCalls, 2);
    rig.render();
    ASSERT_TRUE(rig.deck().live().cueing);
    EXPECT_TRUE(rig.deck().live().playing);
    for (int i = 0; i < 5; ++i)
        mouse(cue, QEvent::MouseMove, QPointF(200 + i, 90));
    EXPECT_EQ(rig.cueCalls, 2);
    // Released far outside the key: cue-up once, the deck stops back at its cue.
    mouse(cue, QEvent::MouseButtonRelease, QPointF(300, 200), Qt::NoButton);
    mouse(cue, QEvent::MouseButtonRelease, QPointF(300, 200), Qt::NoButton);
    EXPECT_EQ(rig.cueCalls, 3);
    rig.render();
    EXPECT_FALSE(rig.deck().live().cueing);
    EXPECT_FALSE(rig.deck().live().playing);
    EXPECT_FALSE(cue->held());

    // Hidden mid-hold: released then, and the late release sends nothing more.
    mouse(cue, QEvent::MouseButtonPress, centre);
    rig.render();
    ASSERT_TRUE(rig.deck().live().cueing);
    rig.panel->hide();
    EXPECT_EQ(rig.cueCalls, 5);
    mouse(cue, QEvent::MouseButtonRelease, centre, Qt::NoButton);
    EXPECT_EQ(rig.cueCalls, 5);
    rig.render();
    EXPECT_FALSE(rig.deck().live().cueing);

    // The middle row destroyed mid-hold (the browser opened from the keyboard).
    rig.panel->show();
    cue = rig.find<CueKey>(QStringLiteral("cue"));
    mouse(cue, QEvent::MouseButtonPress, centre);
    rig.render();
    ASSERT_TRUE(rig.deck().live().cueing);
    rig.panel.reset();
    EXPECT_EQ(rig.cueCalls, 7);
    rig.render();
    EXPECT_FALSE(rig.deck().live().cueing);
    EXPECT_FALSE(rig.deck().live().playing);
}

TEST(DeckPanelWidget, PadsReleaseToWhatTheyPressedAndEraseWithAlt)
{
    PanelRig rig;
    MixerModel& mixer = rig.model().mixer();
    auto* pads = rig.find<PadGridView>(QStringLiteral("pads"));
    ASSERT_NE(pads, nullptr);
    rig.deck().setPadMode(PadMode::padFX);
    const QPointF pad3 = pads->padRect(3).center();

    // A pad effect holds while pressed, also when the mode changes meanwhile.
    mouse(pads, QEvent::MouseButtonPress, pad3);
    EXPECT_TRUE(mixer.beatFXOn());
    EXPECT_EQ(mixer.beatFXTarget(), 1);
    rig.deck().setPadMode(PadMode::beatJump);
    mouse(pads, QEvent::MouseButtonRelease, pad3, Qt::NoButton);
    EXPECT_FALSE(mixer.beatFXOn());

    // Moving more than 30 points away ends the press.
    rig.deck().setPadMode(PadMode::padFX);
    mouse(pads, QEvent::MouseButtonPress, pad3);
    mouse(pads, QEvent::MouseMove, pad3 + QPointF(0, 20));
    EXPECT_TRUE(mixer.beatFXOn());
    mouse(pads, QEvent::MouseMove, pad3 + QPointF(0, 31));
    EXPECT_FALSE(mixer.beatFXOn());

    // Destroyed mid-press: the effect is switched off, not left on.
    mouse(pads, QEvent::MouseButtonPress, pad3);
    ASSERT_TRUE(mixer.beatFXOn());
    rig.panel.reset();
    EXPECT_FALSE(mixer.beatFXOn());

    // Alt on press erases a hot cue; the release plays nothing.
    rig.panel = std::make_unique<DeckPanel>(rig.model(), rig.deck(), rig.kit.env(), nullptr, &rig.sides);
    rig.panel->resize(760, 320);
    rig.panel->show();
    QApplication::processEvents();
    pads = rig.find<PadGridView>(QStringLiteral("pads"));
    rig.deck().setPadMode(PadMode::hotCue);
    EXPECT_TRUE(rig.model().padLit(rig.deck(), PadMode::hotCue, 2));
    mouse(pads, QEvent::MouseButtonPress, pads->padRect(2).center(), Qt::LeftButton, Qt::AltModifier);
    mouse(pads, QEvent::MouseButtonRelease, pads->padRect(2).center(), Qt::NoButton);
    rig.render();
    EXPECT_FALSE(rig.model().padLit(rig.deck(), PadMode::hotCue, 2));
    EXPECT_FALSE(rig.deck().live().playing);

    // The mode chips set the deck's mode.
    auto* chips = rig.find<PadChipRow>(QStringLiteral("padModes"));
    ASSERT_NE(chips, nullptr);
    QTest::mouseClick(chips, Qt::LeftButton, {}, chips->chipRect(5).center().toPoint() + QPoint(1, 0));
    EXPECT_EQ(rig.deck().padMode(), PadMode::beatLoop);
    QTest::mouseClick(chips, Qt::LeftButton, {}, chips->chipRect(3).center().toPoint() + QPoint(1, 0));
    EXPECT_EQ(rig.deck().padMode(), PadMode::ai);
}

TEST(DeckPanelWidget, ModeKeysMasterAndTempoFader)
{
    PanelRig rig;
    const auto click = [&](const char* name) {
        auto* key = rig.find<kit::LiveKey>(QString::fromLatin1(name));
        EXPECT_NE(key, nullptr) << name;
        if (key)
            QTest::mouseClick(key, Qt::LeftButton, {}, QPoint(5, 5));
        return key;
    };
    const bool quantize = rig.deck().quantize(), slip = rig.deck().slip(), lock = rig.deck().keyLock();
    EXPECT_EQ(click("quantize")->lit(), !quantize);
    EXPECT_EQ(rig.deck().quantize(), !quantize);
    EXPECT_EQ(click("slip")->lit(), !slip);
    EXPECT_EQ(click("lock")->lit(), !lock);
    EXPECT_EQ(rig.deck().keyLock(), !lock);
    EXPECT_TRUE(click("sync")->lit());
    EXPECT_TRUE(rig.model().mixer().channel(0).sync());
    const TempoRange range = rig.deck().tempoRange();
    kit::LiveKey* rangeKey = click("range");
    EXPECT_EQ(rig.deck().tempoRange(), nextTempoRange(range));
    EXPECT_EQ(rangeKey->label(), tempoRangeLabel(nextTempoRange(range)));
    EXPECT_FALSE(rangeKey->lit());
    EXPECT_EQ(rig.find(QStringLiteral("badge")), nullptr); // only the model's deck has the badge

    // Master without an engine does nothing; with cells it asks, and stays dark
    // until the engine reports this deck as master.
    EXPECT_FALSE(click("master")->lit());
    auto params = std::make_shared<MixerParams>(MixerModel::kChannels);
    rig.model().mixer().bind(params);
    click("master");
    EXPECT_EQ(params->masterRequest.load(), 0);
    EXPECT_FALSE(rig.find<kit::LiveKey>(QStringLiteral("master"))->lit());

    // The tempo fader jumps to a press, follows the drag and resets on a double click.
    auto* fader = rig.find<kit::LiveFader>(QStringLiteral("tempoFader"));
    ASSERT_NE(fader, nullptr);
    const int h = fader->height(), x = fader->width() / 2;
    QTest::mousePress(fader, Qt::LeftButton, {}, QPoint(x, 2));
    const double top = rig.deck().tempoFader();
    EXPECT_NEAR(std::abs(top), 1.0, 1e-9);
    QTest::mouseMove(fader, QPoint(x, h - 2));
    QTest::mouseRelease(fader, Qt::LeftButton, {}, QPoint(x, h - 2));
    EXPECT_NEAR(rig.deck().tempoFader(), -top, 1e-9);
    QTest::mouseDClick(fader, Qt::LeftButton, {}, QPoint(x, h / 3));
    EXPECT_EQ(rig.deck().tempoFader(), 0.0);

    PanelRig model(1);
    EXPECT_NE(model.find(QStringLiteral("badge")), nullptr);
}

TEST(DeckPanelWidget, MasterLightsOnlyWhenTheEngineReportsIt)
{
    test::AppRig app;
    app.addOutput();
    app.make();
    ASSERT_TRUE(app.bootWithOutput());
    kit::test::KitRig kit;
    DeckPanel panel(*app.app, app.app->deck(1), kit.env());
    panel.show();
    auto* master = panel.findChild<kit::LiveKey*>(QStringLiteral("deckPanel.1.master"));
    ASSERT_NE(master, nullptr);
    EXPECT_FALSE(master->lit());
    QTest::mouseClick(master, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(master->lit()); // not at the tap
    EXPECT_TRUE(test::spinUntil([&] {
        app.backend->pump(0.05); // the device plays a slice: the engine takes the request
        app.scheduler.advance(AppModel::kTickInterval);
        return app.app->engineLive().masterDeck == 1;
    }));
    EXPECT_TRUE(master->lit());
}

TEST(DeckPanelWidget, TargetingFollowsTheControllerAndStoppedDecksPaintNoJog)
{
    PanelRig rig;
    EXPECT_TRUE(rig.panel->targeted()); // no controller: every panel
    rig.sides.setConnected(true);
    EXPECT_TRUE(rig.panel->targeted());
    rig.sides.setLeftDeck(2);
    EXPECT_FALSE(rig.panel->targeted());

    JogDisplay* jog = rig.panel->jog();
    PadGridView* pads = rig.panel->pads()->pads();
    QApplication::processEvents();
    const int jogPaints = jog->paintCount(), padPaints = pads->paints();
    for (int i = 0; i < 120; ++i)
        rig.kit.scheduler.advance(1.0 / 60);
    QApplication::processEvents();
    EXPECT_EQ(jog->paintCount(), jogPaints);
    EXPECT_EQ(pads->paints(), padPaints);

    // A hardware hit on this deck's pad animates the grid until the flash has gone.
    rig.sides.setPadHit(PadHitStamp{0, 5, rig.kit.scheduler.uptime()});
    EXPECT_TRUE(pads->flashing());
    for (int i = 0; i < 60; ++i) {
        rig.kit.scheduler.advance(1.0 / 60);
        QApplication::processEvents();
    }
    EXPECT_FALSE(pads->flashing());
    const int afterFlash = pads->paints();
    EXPECT_GT(afterFlash, padPaints + 10);
    for (int i = 0; i < 60; ++i) {
        rig.kit.scheduler.advance(1.0 / 60);
        QApplication::processEvents();
    }
    EXPECT_LE(pads->paints(), afterFlash + 1);
    rig.sides.setPadHit(PadHitStamp{1, 5, rig.kit.scheduler.uptime()}); // another deck's hit
    EXPECT_FALSE(pads->flashing());

    // Playing: the jog runs at 60 frames a second.
    rig.deck().playPause();
    rig.render();
    ASSERT_TRUE(rig.deck().live().playing);
    EXPECT_TRUE(jog->animating());
    const int before = jog->paintCount();
    for (int i = 0; i < 30; ++i) {
        rig.kit.scheduler.advance(1.0 / 60);
        QApplication::processEvents();
    }
    EXPECT_GE(jog->paintCount(), before + 25);
}

TEST(DeckPanelWidget, CueAndPlayKeysLightInTheirColours)
{
    PanelRig rig;
    const auto colourOf = [&](const char* name) {
        QWidget* key = rig.find(QString::fromLatin1(name));
        const QImage image = key->grab().toImage();
        return kit::test::pixelAt(image, QPointF(5, 13));
    };
    EXPECT_TRUE(kit::test::near(colourOf("cue"), kit::Stage::rbAmber()));  // loaded and stopped
    EXPECT_TRUE(kit::test::near(colourOf("play"), kit::Stage::inkHigh()));
    QTest::mouseClick(rig.find(QStringLiteral("play")), Qt::LeftButton, {}, QPoint(30, 13));
    rig.render();
    ASSERT_TRUE(rig.deck().live().playing);
    QApplication::processEvents();
    EXPECT_TRUE(kit::test::near(colourOf("play"), kit::Stage::rbGreen()));
    EXPECT_TRUE(kit::test::near(colourOf("cue"), kit::Stage::inkHigh()));
}

TEST(DeckPanelWidget, DroppedFilesJoinTheLibraryAndTheFirstNewOneLoads)
{
    PanelRig rig;
    auto* drop = rig.panel->findChild<kit::AudioDrop*>();
    ASSERT_NE(drop, nullptr);
    const QDir dir(rig.app.home.path());
    QList<QUrl> urls;
    for (const char* name : {"one.wav", "two.wav", "three.wav"}) {
        test::writeTone(dir.filePath(QString::fromLatin1(name)), 1.0);
        urls << QUrl::fromLocalFile(dir.filePath(QString::fromLatin1(name)));
    }
    const std::size_t before = rig.model().library().tracks().size();
    EXPECT_TRUE(drop->drop(urls));
    EXPECT_EQ(rig.model().library().tracks().size(), before + 3);
    EXPECT_TRUE(test::spinUntil([&] { return rig.deck().track() && !rig.deck().loading(); }));
    ASSERT_TRUE(rig.deck().track());
    EXPECT_EQ(rig.deck().track()->path, urls.front().toLocalFile());
    // Known files and other things are refused and leave the deck alone.
    EXPECT_FALSE(drop->drop(urls));
    test::writeTone(dir.filePath(QStringLiteral("late.wav")), 1.0);
    EXPECT_FALSE(drop->drop({QUrl(QStringLiteral("https://example.invalid/x.wav"))}));
    EXPECT_EQ(rig.deck().track()->path, urls.front().toLocalFile());
}

} // namespace
} // namespace zelvo::stage
