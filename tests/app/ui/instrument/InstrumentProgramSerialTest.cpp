// The whole program rendering its screens to PNGs, kept in the build folder
// for review: the classic faceplate and the stage, each after importing a
// folder of music.
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "support/ProgramRun.h"
#include "ui/instrument/FaceLayout.h"
#include "ui/instrument/MixerView.h"
#include "ui/kit/Palette.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(InstrumentProgram, SnapshotsOfTheFaceplateAndTheStageAfterAnImport)
{
    test::TempHome home;
    const QString music = home.file("Music/set");
    QDir().mkpath(music);
    test::writeTone(music + "/one.wav", 4.0);
    test::writeTone(music + "/two.wav", 3.0);

    const test::ProgramRun faceRun =
        test::runSnapshot(QStringLiteral(KAVRI_ZELVO_PROGRAM), home, QStringLiteral("faceplate-snapshot.png"),
                          {"-platform", "offscreen", "--import", music, "--load", "--classic"}, 120);
    EXPECT_TRUE(faceRun.ended()) << faceRun.errors.toStdString();
    const QImage face(faceRun.snapshot);
    ASSERT_FALSE(face.isNull());
    // Twice the design canvas, whatever the screen.
    EXPECT_EQ(face.size(), QSize(3200, 2160));
    // Inside deck 1, the mixer and the crate: the modules' panels; between
    // the plate's rows the plate is lighter than the panel's ink.
    for (const QPointF p : {QPointF(600, 270)})
        EXPECT_TRUE(kit::test::near(kit::test::pixelAt(face, p * 2), kit::Palette::panel()))
            << p.x() << "," << p.y();
    EXPECT_FALSE(kit::test::near(kit::test::pixelAt(face, QPointF(13, 540) * 2), kit::Palette::panel(), 6));
    // Both deck views are drawn: each wheel's pointer stands at twelve o'clock.
    const double deckWidth = (1520 - MixerView::kWidth - 20) / 2;
    const double column = deckWidth - 22 - 10 - 58;
    for (const double deckX : {40.0, 1560 - deckWidth}) {
        const QRectF jog = FaceLayout::deck(FaceLayout::DeckParts{}, deckWidth).jog;
        EXPECT_EQ(jog.left(), 11 + (column - 218) / 2);
        const QPointF pointer(deckX + jog.left() + 109.5, 248 + jog.top() + 79.5);
        bool found = false;
        for (double dx = -1; dx <= 1; dx += 0.5)
            for (double dy = -1; dy <= 1; dy += 0.5)
                found = found
                        || kit::test::near(kit::test::pixelAt(face, (pointer + QPointF(dx, dy)) * 2),
                                           kit::Palette::glow(), 6);
        EXPECT_TRUE(found) << deckX;
    }

    const test::ProgramRun stageRun = test::runSnapshot(QStringLiteral(KAVRI_ZELVO_PROGRAM), home,
                                                        QStringLiteral("stage-import-snapshot.png"),
                                                        {"-platform", "offscreen", "--import", music}, 120);
    EXPECT_TRUE(stageRun.ended()) << stageRun.errors.toStdString();
    const QImage stage(stageRun.snapshot);
    ASSERT_FALSE(stage.isNull());
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(stage, {4, 600}), kit::Stage::ink()));
}

} // namespace
} // namespace zelvo
