// The middle row end to end on the virtual output: two generated records
// dropped on the two deck panels load, their play keys start them, and the stage's crossfader, dragged from the
// "a" end to the "b" end, hands what is heard from deck 1 to deck 2. The
// capture of the output says so too; a frame of the stage is kept for review.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "library/AudioFileIO.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/VirtualOutputBackend.h"
#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"
#include "support/ScopedBackend.h"
#include "ui/kit/FaceWidget.h"
#include "ui/stage/LiveMixer.h"
#include "ui/stage/RootView.h"
#include "ui/stage/StageView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <optional>

namespace zelvo::stage {
namespace {

// Zero crossings a second over a window of one channel.
double crossingRate(const float* samples, std::int64_t frames, double rate)
{
    int crossings = 0;
    for (std::int64_t i = 1; i < frames; ++i)
        crossings += (samples[i - 1] < 0.0f) != (samples[i] < 0.0f) ? 1 : 0;
    return crossings / (double(frames) / rate);
}

void writeRecord(const QString& path, int midiNote, double seconds)
{
    constexpr double rate = 44100.0;
    const std::vector<float> music = test::chord({midiNote}, seconds, rate);
    test::Audio audio;
    audio.sampleRate = rate;
    audio.channels = {music, music};
    test::writeAudioFile(path.toStdString(), test::AudioFormat::wav16, audio);
}

void sendMouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, w->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

TEST(MiddleRow, TwoRecordsLoadPlayAndTheCrossfaderHandsTheMixToDeckTwo)
{
    test::AppRig app;
    kit::test::KitRig kit;
    // What the sound card would play goes to a file.
    const QString capture = app.home.file("capture.wav");
    qputenv("KAVRI_VIRTUAL_CAPTURE", capture.toLocal8Bit());
    std::optional<test::ScopedBackend<VirtualOutputBackend>> output(std::in_place);
    app.defaults->setString(AudioSystem::kDeviceKey, VirtualOutputBackend::kUID);
    AppModel& model = app.make();
    auto root = std::make_unique<RootView>(model, kit.env());
    root->resize(1600, 1080);
    root->show();
    QApplication::processEvents();
    model.boot();
    ASSERT_TRUE(test::spinUntil([&] { return model.audio().io() != nullptr; }) && test::settle());
    // Both clocks run as the program's would, so the decks' live state and the meters follow.
    const auto run = [&](double seconds, const std::function<bool()>& until = {}) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < seconds * 1000) {
            app.scheduler.advance(0.02);
            kit.scheduler.advance(0.02);
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (until && until())
                return true;
            QThread::msleep(5);
        }
        return !until;
    };

    // Deck 1 gets a low note, deck 2 a high one, so the capture tells them apart.
    for (int deck : {0, 1}) {
        const QString path = app.home.file(QStringLiteral("Music/record%1.wav").arg(deck + 1));
        QDir().mkpath(QFileInfo(path).path());
        writeRecord(path, deck == 0 ? 45 : 93, 30.0);
        // Dropped from a file manager onto the deck's panel.
        QWidget* panel = root->findChild<QWidget*>(QStringLiteral("deckPanel.%1").arg(deck));
        ASSERT_NE(panel, nullptr) << deck;
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(path)});
        const QPointF at = QRectF(panel->rect()).center();
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel, &enter);
        EXPECT_TRUE(enter.isAccepted()) << deck;
        QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel, &drop);
        EXPECT_TRUE(drop.isAccepted()) << deck;
        ASSERT_TRUE(run(10, [&] { return model.deck(deck).track() && !model.deck(deck).loading(); })) << deck;
        EXPECT_TRUE(model.deck(deck).track()->path.endsWith(QStringLiteral("record%1.wav").arg(deck + 1)));
    }

    auto* crossfader = root->findChild<kit::FaceWidget*>(QStringLiteral("mixer.crossfader"));
    ASSERT_NE(crossfader, nullptr);
    const double y = crossfader->height() / 2.0;
    sendMouse(crossfader, QEvent::MouseButtonPress, QPointF(1, y), Qt::LeftButton);
    sendMouse(crossfader, QEvent::MouseButtonRelease, QPointF(1, y), Qt::NoButton);
    EXPECT_DOUBLE_EQ(model.mixer().crossfader(), -1.0);

    for (int deck : {0, 1}) {
        QWidget* play = root->findChild<QWidget*>(QStringLiteral("deckPanel.%1.play").arg(deck));
        ASSERT_NE(play, nullptr) << deck;
        QTest::mouseClick(play, Qt::LeftButton, {}, play->rect().center());
        ASSERT_TRUE(run(10, [&] { return model.deck(deck).live().playing; })) << deck;
    }
    EXPECT_TRUE(model.deck(0).live().playing);
    run(0.8);
    EXPECT_TRUE(model.isAudible(0));
    EXPECT_FALSE(model.isAudible(1));

    // Deck 2's meter runs on the live clock while it plays.
    auto* meter = root->findChild<kit::FaceWidget*>(QStringLiteral("mixer.meter.1"));
    ASSERT_NE(meter, nullptr);
    const int paintsBefore = meter->paintCount();
    kit.scheduler.advance(1.0 / 30);
    QApplication::processEvents();
    EXPECT_GT(meter->paintCount(), paintsBefore);

    // Drag from the "a" end to the "b" end.
    sendMouse(crossfader, QEvent::MouseButtonPress, QPointF(1, y), Qt::LeftButton);
    for (int step = 1; step <= 10; ++step)
        sendMouse(crossfader, QEvent::MouseMove, QPointF(1 + (crossfader->width() - 2) * step / 10.0, y), Qt::LeftButton);
    sendMouse(crossfader, QEvent::MouseButtonRelease, QPointF(crossfader->width() - 1, y), Qt::NoButton);
    EXPECT_DOUBLE_EQ(model.mixer().crossfader(), 1.0);
    EXPECT_FALSE(model.isAudible(0));
    EXPECT_TRUE(model.isAudible(1));
    run(0.8);
    root->grab().save(QStringLiteral(ZELVO_BINARY_DIR "/stage-middle-row.png"));

    // The capture closes with the output.
    root.reset();
    model.audio().shutdown();
    test::settle();
    app.app.reset();
    output.reset();
    qunsetenv("KAVRI_VIRTUAL_CAPTURE");
    const TrackBufferRef heard = AudioFileIO::decode(capture.toStdString(), VirtualOutputBackend::kSampleRate);
    ASSERT_TRUE(heard);
    // Every loud 50 ms window is deck 1's low note or deck 2's high one; the low
    // ones all come before the high ones, and the mix ends on deck 2.
    const std::int64_t window = 2400;
    int low = 0, high = 0, lastLow = -1, firstHigh = -1, lastLoud = -1, lastLoudKind = 0;
    for (std::int64_t at = 0, i = 0; at + window <= heard->frames; at += window, ++i) {
        if (test::rms(heard->left + at, window) < 0.02)
            continue;
        const double crossings = crossingRate(heard->left + at, window, VirtualOutputBackend::kSampleRate);
        const int kind = crossings < 800 ? 1 : crossings > 2500 ? 2 : 0;
        low += kind == 1;
        high += kind == 2;
        if (kind == 1)
            lastLow = int(i);
        if (kind == 2 && firstHigh < 0)
            firstHigh = int(i);
        lastLoud = int(i);
        lastLoudKind = kind;
    }
    EXPECT_GE(low, 8) << "deck 1 was heard for less than 0.4 s";
    EXPECT_GE(high, 8) << "deck 2 was heard for less than 0.4 s";
    EXPECT_LT(lastLow, firstHigh);
    EXPECT_GE(lastLoud, 0);
    EXPECT_EQ(lastLoudKind, 2);
}

} // namespace
} // namespace zelvo::stage
