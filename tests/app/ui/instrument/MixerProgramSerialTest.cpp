// The whole program drawing the faceplate's mixers and perform module, in
// the two-deck and the four-deck layout; the PNGs stay in the build folder.
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "support/ProgramRun.h"
#include "ui/instrument/BrainModule.h"
#include "ui/instrument/DeckSelectTabs.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/FaceLayout.h"
#include "ui/instrument/FourChannelMixer.h"
#include "ui/instrument/MixerView.h"
#include "ui/instrument/PerformModule.h"
#include "ui/kit/Palette.h"

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

        FaceLayout::Input in;
        in.fourDecks = four;
        in.tabs = QSizeF(DeckSelectTabs::kWidth, DeckSelectTabs::kHeight);
        in.deckHeight = DeckView::kIdealHeight;
        in.mixerWidth = four ? FourChannelMixer::kWidth : MixerView::kWidth;
        in.performWidth = PerformModule::kWidth;
        in.brainWidth = BrainModule::kWidth;
        const FaceLayout::Rows rows = FaceLayout::rows(in);
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

} // namespace
} // namespace zelvo
