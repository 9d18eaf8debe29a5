// The whole program drawing the faceplate's mixers and perform module, in
// the two-deck and the four-deck layout; the PNGs stay in the build folder.
#include "AppTestSupport.h"
#include "LaidOutRows.h"
#include "KitTestSupport.h"
#include "models/DeckModel.h"
#include "support/ProgramRun.h"
#include "ui/instrument/BrainModule.h"
#include "ui/instrument/DeckSelectTabs.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/FaceLayout.h"
#include "ui/instrument/FourChannelMixer.h"
#include "ui/instrument/Instrument.h"
#include "ui/instrument/JogWheel.h"
#include "ui/instrument/MixerView.h"
#include "ui/instrument/PerformModule.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(MixerProgram, SnapshotsDrawTheTwoAndFourChannelMixersAndThePerformModule)
{
    for (const bool four : {false, true}) {
        test::TempHome home;
        QStringList arguments{"-platform", "offscreen", "--classic"};
        if (four)
            arguments << "--surface" << "FLX10";
        const test::ProgramRun run = test::runSnapshot(
            QStringLiteral(KAVRI_ZELVO_PROGRAM), home,
            four ? QStringLiteral("faceplate-flx10.png") : QStringLiteral("faceplate-flx4.png"), arguments, 120);
        EXPECT_TRUE(run.ended()) << run.errors.toStdString();
        const QImage face(run.snapshot);
        ASSERT_FALSE(face.isNull()) << four;
        EXPECT_EQ(face.size(), QSize(3200, 2160));

        const FaceLayout::Rows rows = test::laidOutRows(four);
        // The mixer and perform panels' gradients start at (22, 23, 28), not
        // at the placeholder's panel colour.
        for (const QRectF& r : {rows.mixer, rows.perform}) {
            const QColor top = kit::test::pixelAt(face, QPointF(r.left() + 30, r.top() + 3) * 2);
            EXPECT_TRUE(kit::test::near(top, QColor(22, 23, 28), 4)) << four << " " << top.name().toStdString();
            EXPECT_FALSE(kit::test::near(top, kit::Palette::panel(), 1)) << four;
        }
        // The deck tabs' ink shows over the decks only in the four-deck layout.
        if (four) {
            ASSERT_TRUE(rows.leftTabs.has_value());
            EXPECT_TRUE(kit::test::near(kit::test::pixelAt(face, (rows.leftTabs->topLeft() + QPointF(2, 8)) * 2),
                                        kit::Palette::ink(), 3));
        }
    }
}

TEST(MixerProgram, TheFourDeckStillDrawsBothDecksAsTheLiveWindowDoes)
{
    test::TempHome home;
    const test::ProgramRun run =
        test::runSnapshot(QStringLiteral(KAVRI_ZELVO_PROGRAM), home, QStringLiteral("faceplate-flx10-decks.png"),
                          {"-platform", "offscreen", "--classic", "--surface", "FLX10"}, 120);
    ASSERT_TRUE(run.ended()) << run.errors.toStdString();
    const QImage still(run.snapshot);
    ASSERT_EQ(still.size(), QSize(3200, 2160));

    // The same window live: the four-deck faceplate shown at the design size
    // and laid out by the event loop; its pixel p is the still's 2p.
    test::LaidOutFace laidOut(true);
    Instrument& face = *laidOut.face;
    const QImage live = face.grab().toImage();

    // Solid areas of each deck (design points inside the deck's parts): the
    // header's glass, the wheel's platter, the cue and play keys' faces.
    for (DeckView* deck : {face.leftDeck(), face.rightDeck()}) {
        const int index = deck->deck().index();
        const auto at = [&face](const QWidget* w, QPointF inside) {
            return QPointF(w->mapTo(&face, QPoint(0, 0))) + inside;
        };
        auto* cue = deck->findChild<QWidget*>(QStringLiteral("deck%1.cue").arg(index));
        auto* play = deck->findChild<QWidget*>(QStringLiteral("deck%1.play").arg(index));
        ASSERT_NE(cue, nullptr);
        ASSERT_NE(play, nullptr);
        // The bare panel: beside the transport keys, over the pads.
        const QPointF panel = at(cue, QPointF(54 + 8, -20));
        const struct {
            const char* what;
            QPointF point;
        } samples[] = {
            {"header glass", at(deck->header(), QPointF(8, 56))},
            {"wheel platter", at(deck->jog(), QPointF(109, 44))},
            {"cue key", at(cue, QPointF(10, 44))},
            {"play key", at(play, QPointF(44, 44))},
        };
        const QColor plate = kit::test::pixelAt(still, panel * 2);
        for (const auto& sample : samples) {
            const QColor s = kit::test::pixelAt(still, sample.point * 2);
            const QColor l = kit::test::pixelAt(live, sample.point);
            EXPECT_TRUE(kit::test::near(s, l)) << "deck " << index + 1 << " " << sample.what << ": still "
                                               << s.name().toStdString() << ", live " << l.name().toStdString();
            EXPECT_FALSE(kit::test::near(s, plate, 3))
                << "deck " << index + 1 << " " << sample.what << " not drawn: " << s.name().toStdString();
        }
    }
}

} // namespace
} // namespace zelvo
